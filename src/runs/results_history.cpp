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
    // What was written goes into the file itself before it closes, waiting a moment for a
    // reader (corvane results) to let go: a copy of the folder taken afterwards holds every
    // launch, whatever becomes of the write-ahead log.
    if (db_.isOpen() && onDisk_ && !readOnly_) {
        try {
            db_.setBusyTimeout(kCloseCheckpointMs);
            db_.exec("PRAGMA wal_checkpoint(TRUNCATE)");
        } catch (const HistoryError&) {
            // Left in the log, where the next program run finds it.
        }
    }
    closeDatabase();
}

void ResultsHistory::closeDatabase() {
    for (SqliteStatement* statement : {&insertLaunch_, &insertRun_, &insertServers_, &insertOutput_,
                                       &started_, &ended_, &counted_})
        *statement = SqliteStatement();
    db_.close();
}

bool ResultsHistory::onDisk() {
    open();
    return onDisk_;
}

SqliteStatement& ResultsHistory::prepared(SqliteStatement& statement, const char* sql) {
    if (!statement.prepared())
        statement = db_.prepare(sql, /*persistent=*/true);
    return statement;
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
    db_.open(uri, flags);
}

void ResultsHistory::migrate(int version) {
    const auto stamp = [this](int reached) {
        db_.exec(("PRAGMA user_version = " + QByteArray::number(reached)).constData());
    };
    if (version == 0 && db_.intOf("SELECT count(*) FROM sqlite_master") == 0) {
        inTransaction([&] {
            db_.exec(kSchema);
            stamp(kSchemaVersion);
        });
        version = kSchemaVersion;
    }
    // Each step brings the file from one version to the next, in a transaction of its own:
    // a file left half-way is of a version the next program run goes on from.
    for (int from = version; from < kSchemaVersion; ++from) {
        inTransaction([&] {
            switch (from) {
                case 0:
                    // The unnumbered layouts: counts per launch, the texts in tables apart.
                    if (db_.intOf("SELECT count(*) FROM pragma_table_info('launches') WHERE "
                                  "name = 'ok'") == 0)
                        db_.exec(kCountsOfEachLaunch);
                    if (db_.intOf("SELECT count(*) FROM pragma_table_info('runs') WHERE "
                                  "name = 'output'") > 0)
                        db_.exec(kTextsApart);
                    db_.exec(kSchema);  // what version 1 has besides: the index of the runs
                    break;
                case 1:
                    db_.exec(kLaunchIdsNeverReused);
                    break;
            }
            stamp(from + 1);
        });
    }
    // Space freed by a prune or a clear goes back to the file system from now on.
    if (db_.intOf("PRAGMA auto_vacuum") != 2)
        db_.exec("PRAGMA auto_vacuum = INCREMENTAL; VACUUM;");
}

bool ResultsHistory::open() {
    if (tried_)
        return db_.isOpen();
    tried_ = true;
    busy_ = false;
    try {
        // The version is read before anything is written: a file of a later version is
        // left byte for byte, its journal mode and tables included.
        if (QFileInfo::exists(path_) || readOnly_) {
            openFile(SQLITE_OPEN_READONLY);
            const int version = db_.intOf("PRAGMA user_version");
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
        db_.setBusyTimeout(waitMs_);
        // Set before the first table is made, it holds for a new file. With a write-ahead
        // log a commit is one write and no sync, and a crash loses only what was not
        // committed.
        db_.exec(
            "PRAGMA auto_vacuum = INCREMENTAL; PRAGMA journal_mode=WAL; "
            "PRAGMA synchronous=NORMAL;");
        migrate(db_.intOf("PRAGMA user_version"));
        // The log is folded into the file once it holds a MiB, in the commit that fills
        // it: a large launch's collection is copied while its batch file runs, not as the
        // program exits.
        db_.exec("PRAGMA wal_autocheckpoint = 256");
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
        return db_.isOpen();
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
    try {
        db_.open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db_.exec(kSchema);
    } catch (const HistoryError&) {
        db_.close();
    }
}

void ResultsHistory::inTransaction(const std::function<void()>& body) {
    db_.exec("BEGIN IMMEDIATE");
    try {
        body();
        db_.exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
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

ResultsHistory::Stored ResultsHistory::insertLaunch(const RunList& runs, int launch) {
    const RunList::Range range = runs.launchRuns(launch);
    const LaunchResult counted = launchOf(runs, launch);
    {
        const StatementUse insert(
            prepared(insertLaunch_,
                     "INSERT INTO launches(program_run, started_ms, mode, servers, ok, failed, "
                     "timed_out, ended_by_user, not_started, running, waiting) "
                     "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        insert->bindText(1, runs.tag().toUtf8());
        insert->bindMoment(
            2, counted.started.isValid() ? counted.started : QDateTime::currentDateTime());
        insert->bindText(3, launchModeKey(counted.mode), /*stays=*/true);
        insert->bind(4, counted.servers);
        for (int count = 0; count < LaunchResult::Counts; ++count)
            insert->bind(5 + count, counted.counts[count]);
        insert->run();
    }
    const qint64 id = db_.lastInsertId();
    SqliteStatement& insert = prepared(insertRun_,
                                       "INSERT INTO runs(launch, place, batch, server_count, "
                                       "state, started_ms) VALUES(?, ?, ?, ?, ?, ?)");
    SqliteStatement& text = prepared(insertServers_, "INSERT INTO servers(run, text) VALUES(?, ?)");
    const StatementUse insertUse(insert);
    const StatementUse textUse(text);
    qint64 firstRun = 0;
    for (qsizetype place = 0; place < range.count; ++place) {
        const Run& run = runs.runs()[range.first + place];
        insert.bind(1, id);
        insert.bind(2, place);
        insert.bindText(3, fileNameOf(run.batchPath));
        insert.bind(4, run.serverCount);
        insert.bindText(5, stateName(runs.finalState(range.first + place).kind), true);
        insert.bindMoment(6, run.started);
        insert.run();
        insert.reset();
        const qint64 runId = db_.lastInsertId();
        // Appended in one transaction, a launch's runs are numbered one after another.
        if (place == 0)
            firstRun = runId;
        else if (runId != firstRun + place)
            throw HistoryError(QStringLiteral("the runs of a launch are not numbered in order"));
        text.bind(1, runId);
        text.bindText(2, run.serverText, true);
        text.run();
        text.reset();
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
    const qint64 before = db_.totalChanges();
    db_.exec(prune.constData());
    // What the pruned launches took goes back to the file system.
    if (db_.totalChanges() != before)
        db_.exec("PRAGMA incremental_vacuum");
    return Stored{id, firstRun, counted};
}

void ResultsHistory::writeRun(const RunList& runs, qsizetype index, const Stored& stored,
                              const QString& output) {
    const Run& run = runs.runs()[index];
    const qint64 runId = stored.firstRun + index - runs.launchRuns(run.launch).first;
    const RunState state = runs.finalState(index);
    if (!state.final()) {
        const StatementUse update(prepared(
            started_, "UPDATE runs SET batch = ?, state = ?, started_ms = ? WHERE id = ?"));
        update->bindText(1, fileNameOf(run.batchPath));
        update->bindText(2, stateName(state.kind), true);
        update->bindMoment(3, run.started);
        update->bind(4, runId);
        update->run();
        return;
    }
    const StatementUse update(prepared(ended_,
                                       "UPDATE runs SET batch = ?, state = ?, exit_status = ?, "
                                       "started_ms = ?, ended_ms = ?, last_line = ?, digest = ? "
                                       "WHERE id = ?"));
    update->bindText(1, fileNameOf(run.batchPath));
    update->bindText(2, stateName(state.kind), true);
    update->bind(3, state.exitStatus);
    update->bindMoment(4, run.started);
    update->bindMoment(5, run.ended);
    update->bindText(6, run.lastLine.toUtf8());
    update->bindBlob(7, run.outputDigest);
    update->bind(8, runId);
    update->run();
    const StatementUse written(
        prepared(insertOutput_, "INSERT OR REPLACE INTO outputs(run, text) VALUES(?, ?)"));
    written->bind(1, runId);
    written->bindText(2, output.toUtf8());
    written->run();
}

void ResultsHistory::addLaunch(const RunList& runs, int launch) {
    if (runs.launchRuns(launch).count == 0)
        return;
    runs_ = &runs;
    pendingLaunches_.append(launch);
    // A large launch is written as it begins.
    const RunList::Range range = runs.launchRuns(launch);
    qsizetype servers = 0;
    for (qsizetype i = range.first; i < range.first + range.count; ++i)
        servers += runs.runs()[i].serverCount;
    schedule(servers);
}

void ResultsHistory::recordChanges(const RunList& runs, const QList<RunList::Change>& changes,
                                   const QHash<qsizetype, QString>& outputs) {
    runs_ = &runs;
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
        pendingRuns_[index] = outputs.value(index);
    }
    schedule(changes.size());
}

void ResultsHistory::schedule(qsizetype changes) {
    // Written in groups: a commit costs as much as many rows, and nothing waits for it.
    grouped_ += changes;
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
    const RunList& runs = *runs_;
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
            const StatementUse update(prepared(counted_,
                                               "UPDATE launches SET ok = ?, failed = ?, "
                                               "timed_out = ?, ended_by_user = ?, "
                                               "not_started = ?, running = ?, waiting = ? "
                                               "WHERE id = ?"));
            for (int count = 0; count < LaunchResult::Counts; ++count)
                update->bind(1 + count, stored->counted.counts[count]);
            update->bind(8, stored->id);
            update->run();
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
        if (!onDisk_ && db_.isOpen() && !std::exchange(retryingInMemory_, true)) {
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
    if (db_.isOpen())
        db_.setBusyTimeout(waitMs);
    waitMs_ = waitMs;
    flush();
    waitMs_ = kBusyWaitMs;
    if (db_.isOpen())
        db_.setBusyTimeout(kBusyWaitMs);
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

bool ResultsHistory::query(const char* sql, const std::function<void(SqliteStatement&)>& bind,
                           const std::function<void(const SqliteStatement&)>& row) {
    if (!open())
        return false;
    try {
        SqliteStatement statement = db_.prepare(sql);
        bind(statement);
        while (statement.step())
            row(statement);
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
        [](SqliteStatement&) {},
        [&launches](const SqliteStatement& row) {
            StoredLaunch stored;
            stored.launch.historyId = row.int64(0);
            stored.programRun = row.text(1);
            stored.launch.started = row.moment(2);
            stored.launch.mode = modeOf(row.bytes(3));
            stored.launch.servers = row.int64(4);
            for (int count = 0; count < LaunchResult::Counts; ++count)
                stored.launch.counts[count] = row.int64(5 + count);
            stored.launch.batchState = RunState{stateKind(row.bytes(12)), row.integer(13)};
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
        [launchId](SqliteStatement& statement) { statement.bind(1, launchId); },
        [&results, asEnded](const SqliteStatement& row) {
            BatchResult result;
            result.index = row.int64(0);
            result.batchName = row.text(1);
            result.serverText = row.bytes(2).toByteArray();
            result.serverCount = row.int64(3);
            result.state = RunState{stateKind(row.bytes(4)), row.integer(5)};
            if (asEnded)
                result.state = asEndedState(result.state);
            result.started = row.momentUtc(6);
            result.ended = row.momentUtc(7);
            result.lastLine = row.text(8);
            result.digest = row.bytes(9).toByteArray();
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
        [=](SqliteStatement& statement) {
            statement.bind(1, launchId);
            statement.bind(2, place);
        },
        [&text](const SqliteStatement& row) { text = row.text(0); });
    return text;
}

bool ResultsHistory::clear() {
    writeNow();  // a queued launch is cleared with the others, not written after them
    const Outcome outcome = transaction([&] {
        db_.exec(
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
