#include "runs/sqlite_database.h"

#include <sqlite3.h>

#include <utility>

namespace {

[[noreturn]] void failOf(sqlite3* db) {
    throw HistoryError(QString::fromUtf8(sqlite3_errmsg(db)), sqlite3_errcode(db));
}

}  // namespace

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql, bool persistent) : db_(db) {
    if (sqlite3_prepare_v3(db, sql, -1, persistent ? SQLITE_PREPARE_PERSISTENT : 0, &statement_,
                           nullptr) != SQLITE_OK)
        failOf(db);
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(statement_);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : db_(other.db_), statement_(std::exchange(other.statement_, nullptr)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(statement_);
        db_ = other.db_;
        statement_ = std::exchange(other.statement_, nullptr);
    }
    return *this;
}

void SqliteStatement::fail() const {
    failOf(db_);
}

void SqliteStatement::bind(int column, qint64 value) {
    if (sqlite3_bind_int64(statement_, column, value) != SQLITE_OK)
        fail();
}

void SqliteStatement::bindText(int column, QByteArrayView utf8, bool stays) {
    if (sqlite3_bind_text64(statement_, column, utf8.data() ? utf8.data() : "",
                            static_cast<sqlite3_uint64>(utf8.size()),
                            stays ? SQLITE_STATIC : SQLITE_TRANSIENT, SQLITE_UTF8) != SQLITE_OK)
        fail();
}

void SqliteStatement::bindBlob(int column, QByteArrayView bytes) {
    if (sqlite3_bind_blob64(statement_, column, bytes.data(),
                            static_cast<sqlite3_uint64>(bytes.size()),
                            SQLITE_TRANSIENT) != SQLITE_OK)
        fail();
}

void SqliteStatement::bindMoment(int column, const QDateTime& moment) {
    if (moment.isValid())
        bind(column, moment.toMSecsSinceEpoch());
    else
        bindNull(column);
}

void SqliteStatement::bindNull(int column) {
    if (sqlite3_bind_null(statement_, column) != SQLITE_OK)
        fail();
}

bool SqliteStatement::step() {
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW)
        return true;
    if (code != SQLITE_DONE)
        fail();
    return false;
}

void SqliteStatement::reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

qint64 SqliteStatement::int64(int column) const {
    return sqlite3_column_int64(statement_, column);
}

int SqliteStatement::integer(int column) const {
    return sqlite3_column_int(statement_, column);
}

bool SqliteStatement::isNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

QByteArrayView SqliteStatement::bytes(int column) const {
    const void* data = sqlite3_column_blob(statement_, column);
    return QByteArrayView(static_cast<const char*>(data), sqlite3_column_bytes(statement_, column));
}

QDateTime SqliteStatement::moment(int column) const {
    return isNull(column) ? QDateTime() : QDateTime::fromMSecsSinceEpoch(int64(column));
}

QDateTime SqliteStatement::momentUtc(int column) const {
    return isNull(column) ? QDateTime() : QDateTime::fromMSecsSinceEpoch(int64(column), Qt::UTC);
}

void SqliteDatabase::open(const QByteArray& uri, int flags) {
    close();
    const int code = sqlite3_open_v2(uri.constData(), &db_, flags | SQLITE_OPEN_URI, nullptr);
    if (code == SQLITE_OK)
        return;
    if (db_)
        fail();
    throw HistoryError(QString::fromUtf8(sqlite3_errstr(code)), code);
}

void SqliteDatabase::close() {
    // A statement of a reader still open keeps the connection until it is finalized.
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

void SqliteDatabase::fail() const {
    failOf(db_);
}

void SqliteDatabase::exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail();
}

int SqliteDatabase::intOf(const char* sql) {
    SqliteStatement statement(db_, sql);
    if (!statement.step())
        throw HistoryError(QStringLiteral("no answer to %1").arg(QLatin1StringView(sql)),
                           SQLITE_ERROR);
    return statement.integer(0);
}

qint64 SqliteDatabase::lastInsertId() const {
    return sqlite3_last_insert_rowid(db_);
}

qint64 SqliteDatabase::totalChanges() const {
    return sqlite3_total_changes64(db_);
}

void SqliteDatabase::setBusyTimeout(int milliseconds) {
    sqlite3_busy_timeout(db_, milliseconds);
}
