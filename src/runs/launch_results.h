#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

#include "model/launch_mode.h"
#include "runs/run_list.h"

// One batch file of a launch as Results shows it, from the run list or from the history.
struct BatchResult {
    qsizetype index = -1;  // in the run list, or the batch file's place in an earlier launch
    QString batchName;     // temp<N>.bat; empty while waiting
    QByteArray serverText;
    qsizetype serverCount = 0;
    RunState state;
    QDateTime started;
    QDateTime ended;
    QString lastLine;
    QByteArray digest;  // of its output, once it has ended

    QStringList servers() const { return serverNamesOf(serverText, serverCount); }
};

// A launch as the list of launches shows it.
struct LaunchResult {
    qint64 historyId = 0;  // 0 when the history does not hold it
    int number = 0;        // this program run's launch number; 0 for an earlier launch
    QDateTime started;
    LaunchMode mode = LaunchMode::Normal;
    qsizetype servers = 0;
    // Servers in each state, in the order the summary names them.
    enum Count { Ok, Failed, TimedOut, EndedByUser, NotStarted, Running, Waiting, Counts };
    qsizetype counts[Counts] = {};
    // A normal launch's one batch file: its state is the launch's, since a combined batch
    // file has one exit status, its last command's, and says nothing of each server.
    RunState batchState{RunState::Waiting, 0};

    // Spawn Mode: "297 ok · 2 failed · 1 timed out", a state no server is in left out.
    // Normal: "1 batch file of 3 servers: exit 0".
    QString summary() const;
    // While it runs, `elapsedMs` after its start: "312 of 1,000 started · 20 running ·
    // 3 failed · about 4 min left", the estimate from the ends so far once 5% have ended.
    QString progress(qint64 elapsedMs, const QLocale& locale) const;
    // The servers whose batch files have ended (or will never start).
    qsizetype ended() const { return servers - counts[Running] - counts[Waiting]; }
    void count(const RunState& state, qsizetype servers);
    // The program run that launched it has ended: what was running then ended unknown
    // (failed), and what was waiting never started.
    void asEnded();
};

// Launch `launch` of this program run as the run list holds it: its start, mode, servers
// and their states; `going` tells whether a run of it may still change.
LaunchResult launchOf(const RunList& runs, int launch, bool* going = nullptr);

// What a state counts as in a summary.
LaunchResult::Count countOf(const RunState& state);

// What a state of a program run that has ended stands for: what was still going then
// ended unknown, and what was waiting never started.
RunState asEndedState(RunState state);

// Batch files alike: the same state, exit status and output, byte for byte.
struct ResultGroup {
    QList<qsizetype> members;  // places in the list grouped, in its order
    qsizetype servers = 0;
};
// Largest group (by batch files) first, groups of equal size in the order they first
// appear. A batch file still running is alone in its group: its output still changes.
QList<ResultGroup> groupResults(const QList<BatchResult>& results);

// The rows the filter of Results lets through.
enum class ResultFilter { All, Failed, Running, Ok };
bool passes(ResultFilter filter, const RunState& state);
