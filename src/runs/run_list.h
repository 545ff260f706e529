#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>

#include "model/launch_mode.h"

// The servers of a run as its server text holds them: `count` of them.
QStringList serverNamesOf(const QByteArray& serverText, qsizetype count);

// What tells two outputs apart: equal for byte-for-byte equal text, and only then.
QByteArray outputDigest(const QString& output);
// The same of the whole cleaned text of a recording, read as a stream (a run that has
// ended): equal to outputDigest of that text.
QByteArray wholeOutputDigest(const QString& recording);

// One batch file a launch started, and where its recorder leaves what it did.
struct Run {
    int launch = 0;  // the launch that started it, counted from 1 in each program run
    QDateTime started{};
    LaunchMode mode = LaunchMode::Normal;
    QString batchPath{};  // temp<N>.bat, what its recorder leaves beside it; empty until started
    // The program run's own mark in the names of the recorder's files: the batch file's
    // number comes round again in a later program run, and a recorder of an earlier one
    // that is still going must not write where this run's state is read.
    QString tag{};
    qint64 startedPid = 0;  // the process the program started, until the recorder says
    // The run's servers as the collection text holds them, kept compact for launches of
    // a million servers.
    QByteArray serverText{};
    qsizetype serverCount = 0;
    // Known once the run has ended: when, the last line it showed, and a digest of all it
    // showed (cleaned, however long), which tells identical outputs apart.
    QDateTime ended{};
    QString lastLine{};
    QByteArray outputDigest{};

    QStringList servers() const { return serverNamesOf(serverText, serverCount); }
    // temp<N>.<tag>.out, .status and .pid: derived from the batch file's path, so that a
    // launch of many thousand runs costs one string each (the tag is shared).
    QString outputPath() const { return besideBatch(QStringLiteral(".out")); }
    QString statusPath() const { return besideBatch(QStringLiteral(".status")); }
    QString pidPath() const { return besideBatch(QStringLiteral(".pid")); }

  private:
    QString besideBatch(const QString& suffix) const {
        return batchPath.isEmpty() ? QString() : batchPath.chopped(4) + u'.' + tag + suffix;
    }
};

// What became of a run, as far as its files tell.
struct RunState {
    enum Kind {
        Running,
        Exited,
        Unknown,
        CleanedUp,
        NotRun,
        Waiting,      // a Spawn Mode server whose turn has not come
        NotStarted,   // its launch was stopped before its turn
        TimedOut,     // ended at its time limit, `exitStatus` seconds after its start
        EndedByUser,  // ended by End running, or by Ctrl-C of corvane run
    };
    Kind kind = Unknown;
    int exitStatus = 0;

    bool going() const { return kind == Running || kind == Waiting; }
    bool failed() const { return !going() && !(kind == Exited && exitStatus == 0); }
    // What the run ended as, for good: read once, never again.
    bool final() const {
        return kind == Exited || kind == Unknown || kind == NotStarted || kind == TimedOut ||
               kind == EndedByUser;
    }
    // "running", "exit 0", "exit 255", "ended, status unknown", "output cleaned up",
    // "not run: its terminal ended without running it", "waiting", "not started",
    // "timed out after 30 s", "ended by the user".
    QString text() const;
};

// Every batch file this run of the program started, oldest first. Nothing here changes
// a collection, a template or the run log; it only reads what the recorder leaves in the
// temp folder.
class RunList {
  public:
    // `tag` marks the recorder's files of this program run; by default one drawn at
    // random, different in every program run.
    explicit RunList(QString tag = newTag());

    const QString& tag() const { return tag_; }
    // Numbers the next launch's runs.
    int beginLaunch(const QDateTime& at = QDateTime()) {
        launchStarts_.append(runs_.size());
        launchTimes_.append(at);
        return ++launches_;
    }
    // When launch `launch` began, as its front end's clock told.
    QDateTime launchStarted(int launch) const { return launchTimes_.value(launch - 1); }
    int launches() const { return launches_; }
    // The runs of launch `launch`: `count` from `first`.
    struct Range {
        qsizetype first = 0;
        qsizetype count = 0;
    };
    Range launchRuns(int launch) const;
    void add(Run run);
    // A row for a run whose turn has not come: waiting until start() or stopped().
    qsizetype plan(Run run);
    void start(qsizetype index, const QString& batchPath, qint64 startedPid, const QDateTime& at);
    void notStarted(qsizetype index);
    // What a run that was ended from outside ended as (TimedOut, EndedByUser).
    void ended(qsizetype index, RunState as);
    const QList<Run>& runs() const { return runs_; }

    // Reads the run's files until it has ended and decides its state from them; what it
    // ended as is read once and outlives its files. The run tracker's alone.
    RunState look(qsizetype index);
    // The state as last decided, read from nothing.
    RunState state(qsizetype index) const;
    // What the run ended as, also when its files have been cleaned up since.
    RunState finalState(qsizetype index) const { return lastKnown_[index]; }
    // Looks at every run still running: those that ended since become known.
    void lookAtRunning();
    // The runs started and not known to have ended at the last look.
    qsizetype runningCount() const { return running_.size(); }
    // Each change of a run's state since the last call, in order: started, ended for good.
    struct Change {
        qsizetype index;
        RunState was;
    };
    QList<Change> takeChanged() { return std::exchange(changed_, {}); }
    // Drops the changes of launch `launch`'s runs: they were written as they stand now.
    void changesWritten(int launch);
    // Notes when and as what a run that has ended ended, from its files; `output` is its
    // output as output() gives it, `whole` whether that left nothing out.
    void noteOutcome(qsizetype index, const QString& output, bool whole);
    // The process id the run's recorder noted, 0 while there is none.
    qint64 recorderPid(qsizetype index) const;
    // The temp folder is about to be emptied: what the runs that have ended left there
    // is read first, once; the runs started so far then count as cleaned up.
    void noteStatesBeforeCleanUp();
    // What the run showed on its terminal, cleaned of terminal control, at most its last
    // `maxBytes` bytes with a line saying how much was left out.
    // `whole`, where given, tells whether nothing was left out.
    QString output(qsizetype index, qint64 maxBytes = kShownOutputBytes,
                   bool* whole = nullptr) const;
    // Writes the whole of what the run showed to `path`, piece by piece, replacing a file
    // there only once the copy is complete. Throws OperationError when it fails (the old
    // file then stays as it was) or when the run's output is gone.
    void saveOutput(qsizetype index, const QString& path) const;
    // The same from the files alone, on any thread: the recording at `outputPath` of the
    // batch file `batchPath`, which has `ended` or may still add to it.
    static void saveRecording(const QString& outputPath, const QString& batchPath, bool ended,
                              const QString& path);

    // The servers of launch `launch` whose runs ended other than with exit 0 (or with
    // no status known, or never ran), in collection order, and how many of its runs are
    // still going; of the runs at `places` in the launch only, when there are any.
    struct Retry {
        QStringList servers;
        qsizetype running = 0;
    };
    Retry retry(int launch, const QList<qsizetype>& places = {}) const;

    static QString newTag();
    static constexpr qint64 kShownOutputBytes = 1024 * 1024;

  private:
    void becomes(qsizetype index, RunState state);

    QString tag_;
    QList<Run> runs_;
    QList<RunState> lastKnown_;
    QList<qsizetype> launchStarts_;  // the first run of each launch
    QList<QDateTime> launchTimes_;
    QList<qsizetype> running_;  // runs started and not known to have ended
    QList<Change> changed_;
    QList<bool> cleanedUp_;         // the run's files were removed by a clean-up
    qsizetype notCleanedFrom_ = 0;  // no run before this one has files a clean-up would remove
    int launches_ = 0;
};
