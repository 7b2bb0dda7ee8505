#pragma once

#include <QByteArrayView>
#include <QSqlDatabase>
#include <QString>
#include <QStringView>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_mutex;

// Statements run straight on the SQLite handle under a Qt connection, for
// the loops over whole tables and files (CSV loads and saves, reports),
// where QSqlQuery's per-row and per-value copies cost several times the
// work itself. Values keep the meaning QSqlQuery gives them: a null QString
// binds NULL, an empty one binds ''.
namespace Direct {

// The connection's SQLite handle, or nullptr when it is closed or not SQLite.
sqlite3 *handle(const QSqlDatabase &db);

class Statement {
public:
    Statement(sqlite3 *db, const char *sql);
    Statement(const QSqlDatabase &db, const char *sql)
        : Statement(handle(db), sql)
    {
    }
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return stmt != nullptr; }
    // The last error of the connection, as SQLite words it.
    QString error() const;

    // Parameters count from 1, as in SQLite. Text bound as UTF-8 is copied.
    void bindNull(int index);
    void bindUtf8(int index, QByteArrayView text);
    // The same without a copy: `text` must stay as it is until the next step.
    void bindUtf8Static(int index, QByteArrayView text);
    void bindString(int index, const QString &value);
    void bindInt(int index, qint64 value);
    // Binds column `column` of the current row of `row`: NULL stays NULL,
    // anything else becomes its text.
    void bindColumnText(int index, const Statement &row, int column);

    // One step: true while a row is ready.
    bool next();
    // Runs a statement that returns no rows; the statement is reset after.
    bool run();
    void reset();

    int columnCount() const;
    int columnIndex(const char *name) const; // -1 when absent
    bool isNull(int column) const;
    qint64 integer(int column) const;
    // Valid until the next step or reset; empty for NULL.
    QByteArrayView utf8(int column) const;
    QStringView text(int column) const;
    QString string(int column) const { return text(column).toString(); }

private:
    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt = nullptr;
};

// Holds the connection's mutex across a loop of many calls, which then each
// take it again at the cost of a counter instead of an atomic operation.
class Lock {
public:
    explicit Lock(sqlite3 *db);
    ~Lock();
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    sqlite3_mutex *mutex;
};

// Many look-ups under one read transaction: SQLite then takes and checks its
// file lock once instead of at every statement, which costs system calls.
// Inside a transaction already open it does nothing.
class ReadTransaction {
public:
    explicit ReadTransaction(sqlite3 *db);
    explicit ReadTransaction(const QSqlDatabase &db)
        : ReadTransaction(handle(db))
    {
    }
    ~ReadTransaction();
    ReadTransaction(const ReadTransaction &) = delete;
    ReadTransaction &operator=(const ReadTransaction &) = delete;

private:
    sqlite3 *db;
    bool began;
};

// Runs one statement without parameters or rows.
bool exec(sqlite3 *db, const char *sql, QString *failure = nullptr);

} // namespace Direct
