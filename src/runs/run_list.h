#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include "batch_engine/launch_mode.h"

// One batch file a launch started, and where its recorder leaves what it did.
struct Run {
    int launch = 0;  // the launch that started it, counted from 1 in each program run
    QDateTime started;
    LaunchMode mode = LaunchMode::Normal;
    QString batchPath;      // temp<N>.bat; what its recorder leaves lies beside it
    qint64 startedPid = 0;  // the process the program started, until the recorder says
    // The run's servers as the collection text holds them, kept compact for launches of
    // a million servers.
    QByteArray serverText;
    qsizetype serverCount = 0;

    QStringList servers() const;
    // temp<N>.out, temp<N>.status and temp<N>.pid: kept as one path, so that a launch of
    // many thousand runs costs one string each.
    QString outputPath() const { return besideBatch(QStringLiteral(".out")); }
    QString statusPath() const { return besideBatch(QStringLiteral(".status")); }
    QString pidPath() const { return besideBatch(QStringLiteral(".pid")); }

  private:
    QString besideBatch(const QString& suffix) const { return batchPath.chopped(4) + suffix; }
};

// What became of a run, as far as its files tell.
struct RunState {
    enum Kind { Running, Exited, Unknown, CleanedUp };
    Kind kind = Unknown;
    int exitStatus = 0;

    bool failed() const { return kind != Running && !(kind == Exited && exitStatus == 0); }
    // "running", "exit 0", "exit 255", "ended, status unknown", "output cleaned up".
    QString text() const;
};

// Every batch file this run of the program started, oldest first. Nothing here changes
// a collection, a template or the run log; it only reads what the recorder leaves in the
// temp folder.
class RunList {
  public:
    // Numbers the next launch's runs.
    int beginLaunch() { return ++launches_; }
    void add(Run run);
    const QList<Run>& runs() const { return runs_; }

    // Read anew from the run's files at every call; the last state read before the
    // temp folder was emptied stays what the run ended as.
    RunState state(qsizetype index);
    // Reads every run's state, so that what they ended as outlives their files: called
    // before the temp folder is emptied.
    void noteStates();
    // What the run showed on its terminal, cleaned of terminal control, at most its last
    // `maxBytes` bytes with a line saying how much was left out.
    QString output(qsizetype index, qint64 maxBytes = kShownOutputBytes) const;
    // The servers of launch `launch` whose runs ended with a status other than 0, or
    // with none known, in collection order.
    QStringList retryServers(int launch);

    static constexpr qint64 kShownOutputBytes = 1024 * 1024;

  private:
    QList<Run> runs_;
    QList<RunState> lastKnown_;  // what each run ended as, once it had ended
    int launches_ = 0;
};

// A terminal's output as it stood on the screen: the recorder's own first and last lines
// dropped, escape sequences removed, a carriage return going back to the line's start and
// a backspace one character back.
QString terminalText(const QByteArray& recorded);
