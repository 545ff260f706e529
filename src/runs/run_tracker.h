#pragma once

#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>

#include "runs/launch_results.h"
#include "runs/results_history.h"
#include "runs/run_list.h"
#include "runs/run_watch.h"

// Takes the changes of `runs` since the last call, notes the outcome of the runs that
// ended (their last line and output digest, read once) and queues them for `history`: the
// step the tracker takes after each look. Returns the changes.
QList<RunList::Change> recordChanges(RunList& runs, ResultsHistory& history);

// The one owner of the runs: every batch file this program run started or is to start,
// their ends, and the history of every launch. It alone decides a run's state: from the
// end of the process the program started (and, for a terminal that hands its command
// over, from the temp folder), read once from the run's files; it then notes the run's
// outcome, queues it for the history and emits runChanged, once per change. The Results
// window, `corvane run` and `corvane results` read launches, runs and outputs here, this
// program run's and earlier ones' alike.
class RunTracker : public QObject {
    Q_OBJECT

  public:
    // `tempFolder` is where the recorder leaves its files; a ReadOnly tracker only reads
    // the history.
    RunTracker(const QString& tempFolder, const QString& historyFile,
               ResultsHistory::Access access = ResultsHistory::Access::ReadWrite,
               QString tag = RunList::newTag());
    ~RunTracker() override;

    // --- What the launch reports -------------------------------------------------------
    int beginLaunch(const QDateTime& at);
    // A run whose turn has not come: waiting until started() or notStarted().
    qsizetype plan(Run run);
    // Launch `launch`, planned, goes into the history with its runs as they stand.
    void addLaunch(int launch, int keepLaunches);
    // The run's batch file started as `pid`; ended at `timeoutSeconds` (0: never).
    void started(qsizetype index, const QString& batchPath, qint64 pid, const QDateTime& at,
                 int timeoutSeconds);
    void notStarted(qsizetype index);
    // The temp folder is about to be emptied: what the runs left there is read first.
    void beforeCleanUp();
    // Told that run `index` (-1: any of them) may have ended; the watch tells this too.
    void mayHaveEnded(qsizetype index);
    // Looks at every run still running now.
    void lookNow();

    // --- What the user asks ------------------------------------------------------------
    // Ends those of `indices` still running; ended runs of which a process is left for
    // the SIGKILL to come.
    void end(const QList<qsizetype>& indices);
    qsizetype endingsPending();
    // Removes every launch from the history; false, reported, when the file is busy.
    bool clearHistory();
    // Writes what the history still keeps, waiting at most `waitMs` for a busy file.
    bool finishHistory(int waitMs);
    // Launches or states kept for the history and not written yet.
    bool historyPending() const { return history_.pending(); }

    // --- The one read interface --------------------------------------------------------
    const QString& tag() const { return runs_.tag(); }
    int launchCount() const { return runs_.launches(); }
    const QList<Run>& runList() const { return runs_.runs(); }
    RunState state(qsizetype index) const { return runs_.state(index); }
    RunList::Range launchRuns(int launch) const { return runs_.launchRuns(launch); }
    // This program run's launches, newest first, then those the history keeps of earlier
    // program runs. Those counted as ended, unless setEarlierRunning said otherwise.
    QList<LaunchResult> launches();
    // Launch `launch` of this program run as it stands, counted again only after a change.
    LaunchResult counted(int launch);
    // The batch files of `launch` in launch order (BatchResult::index: their place in the
    // run list for this program run's, in the launch for an earlier one).
    QList<BatchResult> results(const LaunchResult& launch);
    // Whether `result` has its recording in the temp folder (this program run's, not
    // cleaned up); its output is then read from there, else from the history.
    bool hasOutputFile(const LaunchResult& launch, const BatchResult& result) const;
    QString output(const LaunchResult& launch, const BatchResult& result);
    // The failed servers of `launch`, and how many of its runs are still going; the runs
    // are looked at first, as for running(). Only of the batch files at `places` in
    // results(launch), when there are any.
    RunList::Retry retry(const LaunchResult& launch, const QList<qsizetype>& places = {});
    // This program run's runs of `launch` that are running.
    QList<qsizetype> running(const LaunchResult& launch);
    // The history's id of launch `launch` of this program run; 0 when it holds none.
    qint64 historyIdOf(int launch) { return history_.idOf(launch); }
    // `corvane results` beside a program that holds the workspace: what the history says
    // is going may still be going.
    void setEarlierRunning(bool running) { earlierRunning_ = running; }

    // Told of a history that cannot be used, once; and without an answer to wait for,
    // when the history is busy and free again.
    std::function<void(const QString& message)> report;
    std::function<void(const QString& message)> notice;

  signals:
    // Run `index` changed its state (started, ended, ...): once for each change.
    void runChanged(qsizetype index);
    // A run ended by the user or at its time limit has no process left.
    void endingsDone();

  private:
    // What became known since the last time: outcomes noted, queued for the history,
    // told.
    void settle();

    RunList runs_;
    RunWatch watch_;
    ResultsHistory history_;
    // A look at every run still running, after the temp folder changed: at most one a
    // second, however many files a launch writes, and rarer the longer a look takes.
    QTimer look_;
    static constexpr int kLookMs = 1000;
    // Earlier program runs' launches change only when a launch of this one removes the
    // oldest: read once, and after each launch since.
    QList<LaunchResult> earlier_;
    QList<LaunchResult> counted_;  // this program run's launches, as last counted
    QSet<int> recount_;            // and those whose runs changed since
    int earlierReadAt_ = -1;
    bool earlierRunning_ = false;
};
