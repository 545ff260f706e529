#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QTimer>
#include <functional>

#include "runs/launch_results.h"
#include "runs/run_list.h"
#include "runs/sqlite_database.h"

// The results of every launch, kept in an SQLite database (logs/results.sqlite) across
// runs of the program: each launch, its batch files, their states, exit statuses, start
// and end times and outputs (the last MiB, cleaned, as Results shows it). States are
// queued as they become known and committed in groups (every 100 ms, or at once for each
// 1,000 changes), so that a crash loses at most the last tenth of a second and a launch of
// many ends is not held up by a commit for each. A file held by another program for a moment, or on
// a full disk, only delays the writing: what could not be written is kept and tried again every few
// hundred milliseconds, never waiting long on the caller. A file that cannot be opened or read is
// reported once, a corrupt one renamed aside, and the history then lasts for this program run only:
// a launch never fails because of it.
class ResultsHistory {
  public:
    static constexpr int kDefaultKeepLaunches = 100;
    static constexpr int kKeepLaunchesLimit = 100000;

    // ReadOnly: a reader beside a running program, or of a folder it may not write; it
    // writes nothing, not even the shared-memory file where the folder is read-only, and
    // renames nothing aside.
    enum class Access { ReadWrite, ReadOnly };
    // Opened when first used, not before.
    explicit ResultsHistory(QString path, int keepLaunches = kDefaultKeepLaunches,
                            Access access = Access::ReadWrite);
    ~ResultsHistory();
    ResultsHistory(const ResultsHistory&) = delete;
    ResultsHistory& operator=(const ResultsHistory&) = delete;

    // Told of a history that cannot be used, once.
    std::function<void(const QString& message)> report;
    // Told, without waiting for an answer, when the file is busy and when it is free again.
    std::function<void(const QString& message)> notice;
    // Launches beyond the newest `count` are removed as the next launch is written.
    void setKeepLaunches(int count) { keep_ = count; }
    // False once the file could not be used, and the history lasts for this run only.
    bool onDisk();

    // Launch `launch` of the run list, with all its runs as they stand.
    void addLaunch(const RunList& runs, int launch);
    // The `changes` of the list's runs; a run that has ended with its output as `outputs`
    // has it. What a busy file does not take is written later from `runs`, which outlives
    // this history.
    void recordChanges(const RunList& runs, const QList<RunList::Change>& changes,
                       const QHash<qsizetype, QString>& outputs);
    // Writes what is queued now, unless a busy file is being waited for.
    void writeNow();
    // The history's id of launch `launch` of this program run; 0 when it holds none.
    // Written first when it is still queued.
    qint64 idOf(int launch) {
        writeNow();
        return ids_.value(launch).id;
    }

    struct StoredLaunch {
        LaunchResult launch;
        QString programRun;  // the run list's tag of the program run that launched it
    };
    // Newest first, with their summaries as last written: a launch of a program run that
    // has ended counts what was still going then as it stood.
    QList<StoredLaunch> launches();
    // A launch's batch files in launch order. `asEnded`: the program run that launched it
    // has ended, so a batch file still running then ended unknown, and one still waiting
    // did not start.
    QList<BatchResult> results(qint64 launchId, bool asEnded);
    // What a batch file showed, as far as it was kept.
    QString output(qint64 launchId, qsizetype place);
    // Removes every launch; false, reported, when the file is busy.
    bool clear();
    // Writes what is still kept, waiting at most `waitMs` for a busy file; what could not
    // be written is reported. False then.
    bool finish(int waitMs);
    // Launches or states kept for writing.
    bool pending() const { return !pendingLaunches_.isEmpty() || !pendingRuns_.isEmpty(); }

  private:
    bool open();
    enum class Outcome { Written, Busy, Failed };
    struct Stored;
    Stored insertLaunch(const RunList& runs, int launch);
    void writeRun(const RunList& runs, qsizetype index, const Stored& stored,
                  const QString& output);
    // Commits now when enough is queued, else in a while.
    void schedule(qsizetype changes);
    // Writes what is kept, in one transaction.
    void flush();
    static bool isPassing(int code);
    void openFile(int flags);
    // Brings a file of an earlier layout, `version`, to this one, step by step.
    void migrate(int version);
    void useMemory();
    // `statement`, prepared with `sql` when it is first used, and kept.
    SqliteStatement& prepared(SqliteStatement& statement, const char* sql);
    // Runs the query `sql`, `bind` giving its values, and `row` for each row it returns;
    // false, reported once, when it fails.
    bool query(const char* sql, const std::function<void(SqliteStatement&)>& bind,
               const std::function<void(const SqliteStatement&)>& row);
    // Runs `body` in a transaction; a failure rolls it back. A busy or full file is Busy;
    // any other failure is reported, and the history goes on in memory.
    Outcome transaction(const std::function<void()>& body);
    // Runs `body` between BEGIN IMMEDIATE and COMMIT, rolled back when it throws.
    void inTransaction(const std::function<void()>& body);
    // Goes on in memory after a failure, reported once; a file that is not a database or is
    // corrupt (`code`) is renamed aside.
    void failed(const QString& what, int code);
    void closeDatabase();

    QString path_;
    int keep_;
    bool readOnly_;
    SqliteDatabase db_;
    bool tried_ = false;
    bool onDisk_ = false;
    bool reported_ = false;
    // This program run's launches the history holds, and their summaries as written.
    struct Stored {
        qint64 id = 0;
        qint64 firstRun = 0;  // the history's id of its first run; the others follow it
        LaunchResult counted;
    };
    QHash<int, Stored> ids_;
    // Kept until written: launches of the run list, its runs (with the output of those
    // that ended), and the launches whose counts changed.
    static constexpr int kBusyWaitMs = 0;
    static constexpr int kRetryMs = 250;
    static constexpr int kCloseCheckpointMs = 200;
    // Changes are committed together: after 100 ms, or at once when 1,000 are queued.
    static constexpr int kGroupMs = 100;
    static constexpr qsizetype kGroupChanges = 1000;
    QTimer group_;
    qsizetype grouped_ = 0;
    const RunList* runs_ = nullptr;
    QList<int> pendingLaunches_;
    QHash<qsizetype, QString> pendingRuns_;
    QSet<int> pendingCounts_;
    QTimer retry_;
    QString lastProblem_;
    int waitMs_ = kBusyWaitMs;
    bool busy_ = false;  // the last open found the file busy
    bool busyNoted_ = false;
    bool retryingInMemory_ = false;
    SqliteStatement insertLaunch_;
    SqliteStatement insertRun_;
    SqliteStatement insertServers_;
    SqliteStatement insertOutput_;
    SqliteStatement started_;
    SqliteStatement ended_;
    SqliteStatement counted_;
};
