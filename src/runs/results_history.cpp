#include "runs/results_history.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QSet>
#include <QUrl>

namespace {

// A launch's columns. Its id is AUTOINCREMENT: a number that a ticket or a script names
// is never given to another launch, not after a clear either. From `ok` to `waiting`: the
// servers in each state, as the summary counts them.
#define LAUNCH_COLUMNS                                                                 \
    " id INTEGER PRIMARY KEY AUTOINCREMENT, program_run TEXT NOT NULL,"                \
    " started_ms INTEGER NOT NULL, mode TEXT NOT NULL, servers INTEGER NOT NULL,"      \
    " ok INTEGER NOT NULL DEFAULT 0, failed INTEGER NOT NULL DEFAULT 0,"               \
    " timed_out INTEGER NOT NULL DEFAULT 0, ended_by_user INTEGER NOT NULL DEFAULT 0," \
    " not_started INTEGER NOT NULL DEFAULT 0, running INTEGER NOT NULL DEFAULT 0,"     \
    " waiting INTEGER NOT NULL DEFAULT 0"
#define LAUNCH_COLUMN_NAMES                                                             \
    "id, program_run, started_ms, mode, servers, ok, failed, timed_out, ended_by_user," \
    " not_started, running, waiting"

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS launches(" LAUNCH_COLUMNS
    ");"
    "CREATE TABLE IF NOT EXISTS runs("
    " id INTEGER PRIMARY KEY, launch INTEGER NOT NULL, place INTEGER NOT NULL,"
    " batch TEXT NOT NULL DEFAULT '', server_count INTEGER NOT NULL, state TEXT NOT NULL,"
    " exit_status INTEGER NOT NULL DEFAULT 0, started_ms INTEGER, ended_ms INTEGER,"
    " last_line TEXT NOT NULL DEFAULT '', digest BLOB);"
    "CREATE UNIQUE INDEX IF NOT EXISTS runs_of_launch ON runs(launch, place);"
    // The large texts apart, each written once: a change of a run's state does not write
    // a normal launch's whole collection again.
    "CREATE TABLE IF NOT EXISTS servers(run INTEGER PRIMARY KEY, text TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS outputs(run INTEGER PRIMARY KEY, text TEXT NOT NULL);";

// Version 1 numbered launches without AUTOINCREMENT, so a clear gave their numbers again.
const char* const kLaunchIdsNeverReused =
    "CREATE TABLE launches_v2(" LAUNCH_COLUMNS
    ");"
    "INSERT INTO launches_v2(" LAUNCH_COLUMN_NAMES ") SELECT " LAUNCH_COLUMN_NAMES
    " FROM launches;"
    "DROP TABLE launches;"
    "ALTER TABLE launches_v2 RENAME TO launches;";

// The layouts before version 1 were not numbered: their runs held the collection text and
// the output themselves, and the first had no counts per launch.
#define SERVERS_IN(condition) \
    "(SELECT coalesce(sum(server_count), 0) FROM runs WHERE launch = launches.id AND " condition ")"
const char* const kCountsOfEachLaunch =
    "ALTER TABLE launches ADD COLUMN ok INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE launches ADD COLUMN failed INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE launches ADD COLUMN timed_out INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE launches ADD COLUMN ended_by_user INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE launches ADD COLUMN not_started INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE launches ADD COLUMN running INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE launches ADD COLUMN waiting INTEGER NOT NULL DEFAULT 0;"
    "UPDATE launches SET"
    " ok = " SERVERS_IN("state = 'exited' AND exit_status = 0") ","
    " failed = " SERVERS_IN("((state = 'exited' AND exit_status <> 0) OR state IN ('unknown', "
                            "'not run'))") ","
    " timed_out = " SERVERS_IN("state = 'timed out'") ","
    " ended_by_user = " SERVERS_IN("state = 'ended by the user'") ","
    " not_started = " SERVERS_IN("state = 'not started'") ","
    " running = " SERVERS_IN("state = 'running'") ","
    " waiting = " SERVERS_IN("state = 'waiting'") ";";
const char* const kTextsApart =
    "CREATE TABLE servers(run INTEGER PRIMARY KEY, text TEXT NOT NULL);"
    "CREATE TABLE outputs(run INTEGER PRIMARY KEY, text TEXT NOT NULL);"
    "INSERT INTO servers(run, text) SELECT id, servers FROM runs;"
    "INSERT INTO outputs(run, text) SELECT id, output FROM runs WHERE output IS NOT NULL;"
    "ALTER TABLE runs DROP COLUMN servers;"
    "ALTER TABLE runs DROP COLUMN output;";

// The layout of the tables above; a file of a later one is not this program's to change.
constexpr int kSchemaVersion = 2;

// The states as the database names them, for a reader with sqlite3 at hand.
const char* stateName(RunState::Kind kind) {
    switch (kind) {
        case RunState::Running:
            return "running";
        case RunState::Exited:
            return "exited";
        case RunState::CleanedUp:
        case RunState::Unknown:
            return "unknown";
        case RunState::NotRun:
            return "not run";
        case RunState::Waiting:
            return "waiting";
        case RunState::NotStarted:
            return "not started";
        case RunState::TimedOut:
            return "timed out";
        case RunState::EndedByUser:
            break;
    }
    return "ended by the user";
}

RunState::Kind stateKind(QByteArrayView name) {
    for (RunState::Kind kind :
         {RunState::Running, RunState::Exited, RunState::NotRun, RunState::Waiting,
          RunState::NotStarted, RunState::TimedOut, RunState::EndedByUser}) {
        if (name == stateName(kind))
            return kind;
    }
    return RunState::Unknown;
}

LaunchMode modeOf(QByteArrayView name) {
    for (LaunchMode mode : {LaunchMode::Spawn, LaunchMode::RunLater}) {
        if (name == launchModeKey(mode))
            return mode;
    }
    return LaunchMode::Normal;
}

QByteArray fileNameOf(const QString& path) {
    return QStringView(path).mid(path.lastIndexOf(u'/') + 1).toUtf8();
}

QDateTime momentOf(sqlite3_stmt* statement, int column) {
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(sqlite3_column_int64(statement, column));
}

QByteArrayView bytesOf(sqlite3_stmt* statement, int column) {
    const void* data = sqlite3_column_blob(statement, column);
    return QByteArrayView(static_cast<const char*>(data), sqlite3_column_bytes(statement, column));
}

QString textOf(sqlite3_stmt* statement, int column) {
    return QString::fromUtf8(bytesOf(statement, column));
}

void bindText(sqlite3_stmt* statement, int column, const QByteArray& utf8) {
    sqlite3_bind_text64(statement, column, utf8.constData(),
                        static_cast<sqlite3_uint64>(utf8.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void bindMoment(sqlite3_stmt* statement, int column, const QDateTime& moment) {
    if (moment.isValid())
        sqlite3_bind_int64(statement, column, moment.toMSecsSinceEpoch());
    else
        sqlite3_bind_null(statement, column);
}

// A statement, reset and unbound for its next use whatever happens to this one.
class Use {
  public:
    explicit Use(sqlite3_stmt* statement) : statement_(statement) {}
    ~Use() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    sqlite3_stmt* operator*() const { return statement_; }

  private:
    sqlite3_stmt* statement_;
};

}  // namespace

ResultsHistory::ResultsHistory(QString path, int keepLaunches, Access access)
    : path_(std::move(path)), keep_(keepLaunches), readOnly_(access == Access::ReadOnly) {
    retry_.setSingleShot(true);
    retry_.callOnTimeout([this] { flush(); });
    group_.setSingleShot(true);
    group_.setInterval(kGroupMs);
    group_.callOnTimeout([this] { flush(); });
}

ResultsHistory::~ResultsHistory() {
    // The last group, without waiting and without telling anyone: its owner is going.
    report = nullptr;
    notice = nullptr;
    writeNow();
    closeDatabase();
}

void ResultsHistory::closeDatabase() {
    for (sqlite3_stmt** statement : {&insertLaunch_, &insertRun_, &insertServers_, &insertOutput_,
                                     &started_, &ended_, &counted_}) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
    // A statement of a reader still open keeps it until that is finalized.
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool ResultsHistory::onDisk() {
    open();
    return onDisk_;
}

void ResultsHistory::exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throwError();
}

void ResultsHistory::throwError() const {
    HistoryError error(QString::fromUtf8(sqlite3_errmsg(db_)));
    error.code = sqlite3_errcode(db_);
    throw error;
}

void ResultsHistory::done(sqlite3_stmt* statement) {
    if (sqlite3_step(statement) != SQLITE_DONE)
        throwError();
}

sqlite3_stmt* ResultsHistory::prepare(sqlite3_stmt*& statement, const char* sql) {
    if (!statement && sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement,
                                         nullptr) != SQLITE_OK) {
        throwError();
    }
    return statement;
}

int ResultsHistory::intPragma(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    const auto finalize = qScopeGuard([&] { sqlite3_finalize(statement); });
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK ||
        sqlite3_step(statement) != SQLITE_ROW)
        throwError();
    return sqlite3_column_int(statement, 0);
}

void ResultsHistory::openFile(int flags) {
    QByteArray uri = "file:" + QUrl::fromLocalFile(QFileInfo(path_).absoluteFilePath())
                                   .toEncoded(QUrl::FullyEncoded)
                                   .mid(QByteArrayLiteral("file://").size());
    // A folder nobody may write is a copy or a backup: no program writes the file, so it is
    // read as it stands, without the shared-memory file a reader would otherwise create.
    // A write-ahead log left beside it holds launches too; SQLite reads it (and its index,
    // read-only) only when the file is not taken as immutable.
    if (!(flags & SQLITE_OPEN_READWRITE) && !QFileInfo(QFileInfo(path_).path()).isWritable() &&
        !QFileInfo::exists(path_ + QStringLiteral("-wal")))
        uri += "?immutable=1";
    const int code = sqlite3_open_v2(uri.constData(), &db_, flags | SQLITE_OPEN_URI, nullptr);
    if (code != SQLITE_OK && db_)
        throwError();
    if (code != SQLITE_OK)
        throw HistoryError(QString::fromUtf8(sqlite3_errstr(code)));
}

void ResultsHistory::migrate(int version) {
    if (version == kSchemaVersion)
        return;
    inTransaction([&] {
        const bool fresh = version == 0 && intPragma("SELECT count(*) FROM sqlite_master") == 0;
        if (!fresh && version < 1) {
            if (intPragma("SELECT count(*) FROM pragma_table_info('launches') WHERE name = 'ok'") ==
                0)
                exec(kCountsOfEachLaunch);
            if (intPragma("SELECT count(*) FROM pragma_table_info('runs') WHERE name = 'output'") >
                0)
                exec(kTextsApart);
        }
        exec(kSchema);
        if (!fresh && version < 2)
            exec(kLaunchIdsNeverReused);
        exec(("PRAGMA user_version = " + QByteArray::number(kSchemaVersion)).constData());
    });
    // Space freed by a prune or a clear goes back to the file system from now on.
    if (intPragma("PRAGMA auto_vacuum") != 2)
        exec("PRAGMA auto_vacuum = INCREMENTAL; VACUUM;");
}

bool ResultsHistory::open() {
    if (tried_)
        return db_ != nullptr;
    tried_ = true;
    busy_ = false;
    try {
        // The version is read before anything is written: a file of a later version is
        // left byte for byte, its journal mode and tables included.
        if (QFileInfo::exists(path_) || readOnly_) {
            openFile(SQLITE_OPEN_READONLY);
            const int version = intPragma("PRAGMA user_version");
            if (version > kSchemaVersion) {
                throw HistoryError(
                    QStringLiteral("it was written by a later version of Corvane, "
                                   "and is left as it is"));
            }
            if (readOnly_) {
                onDisk_ = true;
                return true;
            }
            closeDatabase();
        }
        openFile(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        sqlite3_busy_timeout(db_, waitMs_);
        // Set before the first table is made, it holds for a new file. With a write-ahead
        // log a commit is one write and no sync, and a crash loses only what was not
        // committed.
        exec(
            "PRAGMA auto_vacuum = INCREMENTAL; PRAGMA journal_mode=WAL; "
            "PRAGMA synchronous=NORMAL;");
        migrate(intPragma("PRAGMA user_version"));
        onDisk_ = true;
        return true;
    } catch (const HistoryError& error) {
        if (!readOnly_ && isPassing(error.code)) {
            // Held by another program as it was opened: opened again with the next write.
            closeDatabase();
            tried_ = false;
            busy_ = true;
            lastProblem_ = error.message();
            return false;
        }
        const bool broken = error.code == SQLITE_NOTADB || error.code == SQLITE_CORRUPT;
        failed(QStringLiteral("The results history %1 cannot be %2: %3.")
                   .arg(path_, broken ? QStringLiteral("read") : QStringLiteral("opened"),
                        error.message()),
               error.code);
        return db_ != nullptr;
    }
}

void ResultsHistory::failed(const QString& what, int code) {
    closeDatabase();
    QString message = what;
    if ((code == SQLITE_NOTADB || code == SQLITE_CORRUPT) && !readOnly_) {
        // Kept for whoever wants to look into it; the next program run begins anew.
        const QString aside =
            path_ + QStringLiteral(".broken-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (QFile::rename(path_, aside)) {
            for (const char* part : {"-wal", "-shm"})
                QFile::rename(path_ + QLatin1String(part), aside + QLatin1String(part));
            message += QStringLiteral(" It was renamed to %1.").arg(aside);
        }
    }
    useMemory();
    if (!reported_ && report) {
        reported_ = true;
        report(message + QStringLiteral(" Results keeps the results of this run of Corvane "
                                        "only; the launches themselves are not affected."));
    }
}

void ResultsHistory::useMemory() {
    onDisk_ = false;
    ids_.clear();
    if (sqlite3_open(":memory:", &db_) == SQLITE_OK &&
        sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) == SQLITE_OK)
        return;
    sqlite3_close(db_);
    db_ = nullptr;
}

void ResultsHistory::inTransaction(const std::function<void()>& body) {
    exec("BEGIN IMMEDIATE");
    try {
        body();
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

ResultsHistory::Outcome ResultsHistory::transaction(const std::function<void()>& body) {
    if (!open())
        return busy_ ? Outcome::Busy : Outcome::Failed;
    try {
        inTransaction(body);
        return Outcome::Written;
    } catch (const HistoryError& error) {
        // Held by another program for a moment, or out of room: written later.
        if (onDisk_ && isPassing(error.code)) {
            lastProblem_ = error.message();
            return Outcome::Busy;
        }
        if (onDisk_) {
            failed(QStringLiteral("The results history %1 cannot be written: %2.")
                       .arg(path_, error.message()),
                   error.code);
        }
        return Outcome::Failed;
    }
}

bool ResultsHistory::isPassing(int code) {
    return code == SQLITE_BUSY || code == SQLITE_LOCKED || code == SQLITE_FULL;
}

ResultsHistory::Stored ResultsHistory::insertLaunch(RunList& runs, int launch) {
    const RunList::Range range = runs.launchRuns(launch);
    const LaunchResult counted = launchOf(runs, launch);
    {
        const Use insert(prepare(insertLaunch_,
                                 "INSERT INTO launches(program_run, started_ms, mode, servers, "
                                 "ok, failed, timed_out, ended_by_user, not_started, running, "
                                 "waiting) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        bindText(*insert, 1, runs.tag().toUtf8());
        bindMoment(*insert, 2,
                   counted.started.isValid() ? counted.started : QDateTime::currentDateTime());
        sqlite3_bind_text(*insert, 3, launchModeKey(counted.mode), -1, SQLITE_STATIC);
        sqlite3_bind_int64(*insert, 4, counted.servers);
        for (int count = 0; count < LaunchResult::Counts; ++count)
            sqlite3_bind_int64(*insert, 5 + count, counted.counts[count]);
        done(*insert);
    }
    const qint64 id = sqlite3_last_insert_rowid(db_);
    const Use insert(prepare(insertRun_,
                             "INSERT INTO runs(launch, place, batch, server_count, state, "
                             "started_ms) VALUES(?, ?, ?, ?, ?, ?)"));
    const Use text(prepare(insertServers_, "INSERT INTO servers(run, text) VALUES(?, ?)"));
    qint64 firstRun = 0;
    for (qsizetype place = 0; place < range.count; ++place) {
        const Run& run = runs.runs()[range.first + place];
        sqlite3_bind_int64(*insert, 1, id);
        sqlite3_bind_int64(*insert, 2, place);
        bindText(*insert, 3, fileNameOf(run.batchPath));
        sqlite3_bind_int64(*insert, 4, run.serverCount);
        sqlite3_bind_text(*insert, 5, stateName(runs.finalState(range.first + place).kind), -1,
                          SQLITE_STATIC);
        bindMoment(*insert, 6, run.started);
        done(*insert);
        sqlite3_reset(*insert);
        const qint64 runId = sqlite3_last_insert_rowid(db_);
        // Appended in one transaction, a launch's runs are numbered one after another.
        if (place == 0)
            firstRun = runId;
        else if (runId != firstRun + place)
            throw HistoryError(QStringLiteral("the runs of a launch are not numbered in order"));
        sqlite3_bind_int64(*text, 1, runId);
        sqlite3_bind_text64(*text, 2, run.serverText.constData(),
                            static_cast<sqlite3_uint64>(run.serverText.size()), SQLITE_STATIC,
                            SQLITE_UTF8);
        done(*text);
        sqlite3_reset(*text);
    }
    // The oldest launches beyond those kept go with this one.
    const QByteArray keep = QByteArray::number(keep_);
    const QByteArray old =
        "(SELECT id FROM launches ORDER BY id DESC LIMIT -1 OFFSET " + keep + ")";
    const QByteArray oldRuns = "(SELECT id FROM runs WHERE launch IN " + old + ")";
    const QByteArray prune = "DELETE FROM servers WHERE run IN " + oldRuns +
                             ";DELETE FROM outputs WHERE run IN " + oldRuns +
                             ";DELETE FROM runs WHERE launch IN " + old +
                             ";DELETE FROM launches WHERE id IN " + old + ";";
    const qint64 before = sqlite3_total_changes64(db_);
    exec(prune.constData());
    // What the pruned launches took goes back to the file system.
    if (sqlite3_total_changes64(db_) != before)
        exec("PRAGMA incremental_vacuum");
    return Stored{id, firstRun, counted};
}

void ResultsHistory::writeRun(RunList& runs, qsizetype index, const Stored& stored,
                              const QString& output) {
    const Run& run = runs.runs()[index];
    const qint64 runId = stored.firstRun + index - runs.launchRuns(run.launch).first;
    const RunState state = runs.finalState(index);
    if (!state.final()) {
        const Use update(prepare(started_,
                                 "UPDATE runs SET batch = ?, state = ?, started_ms = ? "
                                 "WHERE id = ?"));
        bindText(*update, 1, fileNameOf(run.batchPath));
        sqlite3_bind_text(*update, 2, stateName(state.kind), -1, SQLITE_STATIC);
        bindMoment(*update, 3, run.started);
        sqlite3_bind_int64(*update, 4, runId);
        done(*update);
        return;
    }
    const Use update(prepare(ended_,
                             "UPDATE runs SET batch = ?, state = ?, exit_status = ?, "
                             "started_ms = ?, ended_ms = ?, last_line = ?, digest = ? "
                             "WHERE id = ?"));
    bindText(*update, 1, fileNameOf(run.batchPath));
    sqlite3_bind_text(*update, 2, stateName(state.kind), -1, SQLITE_STATIC);
    sqlite3_bind_int(*update, 3, state.exitStatus);
    bindMoment(*update, 4, run.started);
    bindMoment(*update, 5, run.ended);
    bindText(*update, 6, run.lastLine.toUtf8());
    sqlite3_bind_blob(*update, 7, run.outputDigest.constData(),
                      static_cast<int>(run.outputDigest.size()), SQLITE_STATIC);
    sqlite3_bind_int64(*update, 8, runId);
    done(*update);
    const Use written(
        prepare(insertOutput_, "INSERT OR REPLACE INTO outputs(run, text) VALUES(?, ?)"));
    sqlite3_bind_int64(*written, 1, runId);
    bindText(*written, 2, output.toUtf8());
    done(*written);
}

void ResultsHistory::addLaunch(RunList& runs, int launch) {
    if (runs.launchRuns(launch).count == 0)
        return;
    pendingLaunches_.append(launch);
    grouped_ += runs.launchRuns(launch).count;  // a large launch is written as it begins
    recordChanges(runs);
}

void ResultsHistory::recordChanges(RunList& runs) {
    runs_ = &runs;
    const QList<RunList::Change> changes = runs.takeChanged();
    // Each run once, as it stands now; what ended is read first, whatever becomes of the
    // history. The summaries of the launches written move with each change; a launch not
    // written yet is counted as it stands when it is.
    QHash<qsizetype, RunState> nextWas;  // of the runs seen, walking back from the last change
    for (qsizetype i = changes.size() - 1; i >= 0; --i) {
        const qsizetype index = changes[i].index;
        const Run& run = runs.runs()[index];
        const auto stored = ids_.find(run.launch);
        if (stored == ids_.end() && !pendingLaunches_.contains(run.launch))
            continue;
        // What the run became: the state before its next change, or its state now.
        const auto next = nextWas.constFind(index);
        const bool last = next == nextWas.constEnd();
        const RunState became = last ? runs.finalState(index) : *next;
        nextWas.insert(index, changes[i].was);
        if (stored != ids_.end()) {
            stored->counted.counts[countOf(changes[i].was)] -= run.serverCount;
            stored->counted.counts[countOf(became)] += run.serverCount;
            pendingCounts_.insert(run.launch);
        }
        if (!last)
            continue;
        QString& output = pendingRuns_[index];
        if (runs.finalState(index).final()) {
            bool whole = false;
            output = runs.output(index, RunList::kShownOutputBytes, &whole);
            runs.noteOutcome(index, output, whole);
        }
    }
    // Written in groups: a commit costs as much as many rows, and nothing waits for it.
    grouped_ += changes.size();
    if (grouped_ >= kGroupChanges)
        flush();
    else if ((pending() || !pendingCounts_.isEmpty()) && !group_.isActive() && !retry_.isActive())
        group_.start();
}

void ResultsHistory::writeNow() {
    if (!retry_.isActive())
        flush();
}

void ResultsHistory::flush() {
    if (!runs_ ||
        (pendingLaunches_.isEmpty() && pendingRuns_.isEmpty() && pendingCounts_.isEmpty()))
        return;
    RunList& runs = *runs_;
    group_.stop();
    grouped_ = 0;
    QHash<int, Stored> added;
    const Outcome outcome = transaction([&] {
        for (int launch : std::as_const(pendingLaunches_))
            added.insert(launch, insertLaunch(runs, launch));
        for (auto run = pendingRuns_.cbegin(); run != pendingRuns_.cend(); ++run) {
            const int launch = runs.runs()[run.key()].launch;
            const auto stored = added.constFind(launch);
            if (stored != added.constEnd())
                writeRun(runs, run.key(), *stored, run.value());
            else if (ids_.contains(launch))
                writeRun(runs, run.key(), ids_[launch], run.value());
        }
        for (int launch : std::as_const(pendingCounts_)) {
            const auto stored = ids_.constFind(launch);
            if (stored == ids_.constEnd())
                continue;
            const Use update(prepare(counted_,
                                     "UPDATE launches SET ok = ?, failed = ?, timed_out = ?, "
                                     "ended_by_user = ?, not_started = ?, running = ?, "
                                     "waiting = ? WHERE id = ?"));
            for (int count = 0; count < LaunchResult::Counts; ++count)
                sqlite3_bind_int64(*update, 1 + count, stored->counted.counts[count]);
            sqlite3_bind_int64(*update, 8, stored->id);
            done(*update);
        }
    });
    if (outcome == Outcome::Busy) {
        // Kept, and tried again in a while: starts and states go on meanwhile.
        if (!busyNoted_ && notice) {
            notice(QStringLiteral("The results history %1 is busy (%2); the results are kept "
                                  "and written once it is free.")
                       .arg(path_, lastProblem_));
        }
        busyNoted_ = true;
        if (!retry_.isActive())
            retry_.start(kRetryMs);
        return;
    }
    retry_.stop();
    if (outcome == Outcome::Failed) {
        // Gone over to memory: what was pending goes there instead, once.
        if (!onDisk_ && db_ && !std::exchange(retryingInMemory_, true)) {
            flush();
            retryingInMemory_ = false;
        }
        return;
    }
    ids_.insert(added);
    pendingLaunches_.clear();
    pendingRuns_.clear();
    pendingCounts_.clear();
    if (std::exchange(busyNoted_, false) && notice)
        notice(QStringLiteral("The results history %1 is free again; every result is written.")
                   .arg(path_));
}

bool ResultsHistory::finish(int waitMs) {
    if (db_)
        sqlite3_busy_timeout(db_, waitMs);
    waitMs_ = waitMs;
    flush();
    waitMs_ = kBusyWaitMs;
    if (db_)
        sqlite3_busy_timeout(db_, kBusyWaitMs);
    const bool written = pendingLaunches_.isEmpty() && pendingRuns_.isEmpty();
    if (!written && report) {
        report(QStringLiteral("%1 launch(es) and the states of %2 batch file(s) could not be "
                              "written to the results history %3: %4.")
                   .arg(pendingLaunches_.size())
                   .arg(pendingRuns_.size())
                   .arg(path_, lastProblem_));
    }
    return written;
}

bool ResultsHistory::query(const char* sql, const std::function<void(sqlite3_stmt*)>& bind,
                           const std::function<void(sqlite3_stmt*)>& row) {
    if (!open())
        return false;
    sqlite3_stmt* statement = nullptr;
    const auto finalize = qScopeGuard([&] { sqlite3_finalize(statement); });
    try {
        prepare(statement, sql);
        bind(statement);
        int step;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW)
            row(statement);
        if (step != SQLITE_DONE)
            throwError();
        return true;
    } catch (const HistoryError& error) {
        failed(QStringLiteral("The results history %1 cannot be read: %2.")
                   .arg(path_, error.message()),
               error.code);
        return false;
    }
}

QList<ResultsHistory::StoredLaunch> ResultsHistory::launches() {
    writeNow();  // what this program run queued is read back as written
    QList<StoredLaunch> launches;
    // A normal launch's summary is its one batch file's state.
    const bool read = query(
        "SELECT l.id, l.program_run, l.started_ms, l.mode, l.servers, l.ok, l.failed, "
        "l.timed_out, l.ended_by_user, l.not_started, l.running, l.waiting, r.state, "
        "r.exit_status FROM launches l LEFT JOIN runs r ON r.launch = l.id AND r.place = 0 "
        "ORDER BY l.id DESC",
        [](sqlite3_stmt*) {},
        [&launches](sqlite3_stmt* statement) {
            StoredLaunch stored;
            stored.launch.historyId = sqlite3_column_int64(statement, 0);
            stored.programRun = textOf(statement, 1);
            stored.launch.started = momentOf(statement, 2);
            stored.launch.mode = modeOf(bytesOf(statement, 3));
            stored.launch.servers = sqlite3_column_int64(statement, 4);
            for (int count = 0; count < LaunchResult::Counts; ++count)
                stored.launch.counts[count] = sqlite3_column_int64(statement, 5 + count);
            stored.launch.batchState =
                RunState{stateKind(bytesOf(statement, 12)), sqlite3_column_int(statement, 13)};
            launches.append(stored);
        });
    return read ? launches : QList<StoredLaunch>();
}

QList<BatchResult> ResultsHistory::results(qint64 launchId, bool asEnded) {
    writeNow();
    QList<BatchResult> results;
    const bool read = query(
        "SELECT r.place, r.batch, s.text, r.server_count, r.state, r.exit_status, r.started_ms, "
        "r.ended_ms, r.last_line, r.digest FROM runs r JOIN servers s ON s.run = r.id "
        "WHERE r.launch = ? ORDER BY r.place",
        [launchId](sqlite3_stmt* statement) { sqlite3_bind_int64(statement, 1, launchId); },
        [&results, asEnded](sqlite3_stmt* statement) {
            BatchResult result;
            result.index = sqlite3_column_int64(statement, 0);
            result.batchName = textOf(statement, 1);
            result.serverText = bytesOf(statement, 2).toByteArray();
            result.serverCount = sqlite3_column_int64(statement, 3);
            result.state =
                RunState{stateKind(bytesOf(statement, 4)), sqlite3_column_int(statement, 5)};
            if (asEnded)
                result.state = asEndedState(result.state);
            result.started = momentOf(statement, 6);
            result.ended = momentOf(statement, 7);
            result.lastLine = textOf(statement, 8);
            result.digest = bytesOf(statement, 9).toByteArray();
            results.append(std::move(result));
        });
    return read ? results : QList<BatchResult>();
}

QString ResultsHistory::output(qint64 launchId, qsizetype place) {
    writeNow();
    QString text;
    query(
        "SELECT o.text FROM runs r JOIN outputs o ON o.run = r.id WHERE r.launch = ? AND "
        "r.place = ?",
        [=](sqlite3_stmt* statement) {
            sqlite3_bind_int64(statement, 1, launchId);
            sqlite3_bind_int64(statement, 2, place);
        },
        [&text](sqlite3_stmt* statement) { text = textOf(statement, 0); });
    return text;
}

bool ResultsHistory::clear() {
    writeNow();  // a queued launch is cleared with the others, not written after them
    const Outcome outcome = transaction([&] {
        exec(
            "DELETE FROM servers; DELETE FROM outputs; DELETE FROM runs; DELETE FROM launches;"
            "PRAGMA incremental_vacuum;");
    });
    if (outcome == Outcome::Busy) {
        if (report)
            report(QStringLiteral("The results history %1 is busy (%2), and was not cleared. "
                                  "Try again in a moment.")
                       .arg(path_, lastProblem_));
        return false;
    }
    ids_.clear();
    pendingCounts_.clear();
    return true;
}
