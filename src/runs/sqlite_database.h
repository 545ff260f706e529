#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

// A failure of the database, with SQLite's result code: the one way every failure of the
// layer below leaves it.
class HistoryError : public std::runtime_error {
  public:
    explicit HistoryError(const QString& message, int code = 0)
        : std::runtime_error(message.toStdString()), message_(message), code(code) {}
    const QString& message() const { return message_; }

  private:
    QString message_;

  public:
    int code = 0;
};

// One prepared statement, finalized with its object. Every failure throws HistoryError.
class SqliteStatement {
  public:
    SqliteStatement() = default;
    // `persistent`: kept and run many times.
    SqliteStatement(sqlite3* db, const char* sql, bool persistent = false);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool prepared() const { return statement_ != nullptr; }
    void bind(int column, qint64 value);
    // UTF-8 text, copied by SQLite unless `stays`: it outlives the statement's next step.
    void bindText(int column, QByteArrayView utf8, bool stays = false);
    void bindBlob(int column, QByteArrayView bytes);
    // A moment as milliseconds since the epoch; NULL when it is not valid.
    void bindMoment(int column, const QDateTime& moment);
    void bindNull(int column);
    // True with a row to read, false when the statement is done.
    bool step();
    // Runs a statement that returns no rows.
    void run() { step(); }
    // Ready for the next values; the bindings are cleared.
    void reset();

    qint64 int64(int column) const;
    int integer(int column) const;
    bool isNull(int column) const;
    QByteArrayView bytes(int column) const;
    QString text(int column) const { return QString::fromUtf8(bytes(column)); }
    QDateTime moment(int column) const;
    // The same in UTC: made without a look at the time zone, which for a million rows is
    // most of their reading. Shown, it is turned into local time.
    QDateTime momentUtc(int column) const;

  private:
    [[noreturn]] void fail() const;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
};

// A persistent statement used for one run: reset and unbound afterwards, whatever happens.
class StatementUse {
  public:
    explicit StatementUse(SqliteStatement& statement) : statement_(statement) {}
    ~StatementUse() { statement_.reset(); }
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;
    SqliteStatement* operator->() const { return &statement_; }

  private:
    SqliteStatement& statement_;
};

// One connection, closed with its object (after the statements still open are finalized).
class SqliteDatabase {
  public:
    SqliteDatabase() = default;
    ~SqliteDatabase() { close(); }
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    // `uri`: a file: URI or ":memory:"; `flags`: SQLITE_OPEN_*.
    void open(const QByteArray& uri, int flags);
    void close();
    bool isOpen() const { return db_ != nullptr; }
    sqlite3* handle() const { return db_; }

    // Runs one or more statements that return no rows.
    void exec(const char* sql);
    // The first column of the first row of `sql`.
    int intOf(const char* sql);
    SqliteStatement prepare(const char* sql, bool persistent = false) {
        return SqliteStatement(db_, sql, persistent);
    }
    qint64 lastInsertId() const;
    qint64 totalChanges() const;
    void setBusyTimeout(int milliseconds);
    [[noreturn]] void fail() const;

  private:
    sqlite3* db_ = nullptr;
};
