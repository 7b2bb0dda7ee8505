#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringView>
#include <QVariant>

#include <memory>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_mutex;

// Storage's tool for statements run straight on the SQLite handle under a
// Qt connection, for the loops over whole tables and files (CSV loads and
// saves, reports), where QSqlQuery's per-row and per-value copies cost
// several times the work itself. Values keep the meaning QSqlQuery gives
// them: a null QString binds NULL, an empty one binds ''.
//
// The handle may only be used when Qt's SQLite driver runs on the very
// library this program links, as on systems whose Qt uses the system
// SQLite. Otherwise (e.g. a Qt that carries its own copy), and for
// connections that are not SQLite, every statement runs through QSqlQuery
// instead: slower, with the same results.
namespace Direct {

// The connection's SQLite handle, or nullptr when it is closed, not SQLite,
// or served by another copy of the library.
sqlite3 *handle(const QSqlDatabase &db);

// For tests: false makes every statement take the QSqlQuery way.
void setHandlesEnabled(bool enabled);

class Statement {
public:
    Statement(const QSqlDatabase &db, const char *sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const;
    // The last error, as SQLite (or the driver) words it.
    QString error() const;

    // Parameters count from 1, as in SQLite. Text bound as UTF-8 is copied.
    void bindNull(int index);
    void bindUtf8(int index, QByteArrayView text);
    // The same without a copy: `text` must stay as it is until the next step.
    void bindUtf8Static(int index, QByteArrayView text);
    void bindString(int index, const QString &value);
    void bindInt(int index, qint64 value);
    void bindDouble(int index, double value);
    // Binds column `column` of the current row of `row`: NULL stays NULL,
    // anything else becomes its text.
    void bindColumnText(int index, const Statement &row, int column);

    // One step: true while a row is ready.
    bool next();
    // Whether the last step ended on an error rather than after the last row.
    bool failed() const { return stepFailed; }
    // Runs a statement that returns no rows; the statement is reset after.
    bool run();
    void reset();

    // On the QSqlQuery way these run the statement, so its parameters must
    // be bound first.
    int columnCount() const;
    int columnIndex(const char *name) const; // -1 when absent
    bool isNull(int column) const;
    qint64 integer(int column) const;
    double real(int column) const;
    // Valid until the next step or reset; empty for NULL.
    QByteArrayView utf8(int column) const;
    QStringView text(int column) const;
    QString string(int column) const { return text(column).toString(); }

private:
    bool execute() const;

    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt = nullptr;
    bool stepFailed = false;

    // The QSqlQuery way.
    std::unique_ptr<QSqlQuery> query;
    bool prepared = false;
    mutable bool executed = false;
    mutable QList<QVariant> values;
    mutable QList<QString> texts;
    mutable QList<QByteArray> bytes;
};

// Holds the connection's mutex across a loop of many calls, which then each
// take it again at the cost of a counter instead of an atomic operation.
class Lock {
public:
    explicit Lock(const QSqlDatabase &db);
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
    explicit ReadTransaction(const QSqlDatabase &db);
    ~ReadTransaction();
    ReadTransaction(const ReadTransaction &) = delete;
    ReadTransaction &operator=(const ReadTransaction &) = delete;

private:
    sqlite3 *db;
    bool began;
};

// Runs one statement without parameters or rows.
bool exec(const QSqlDatabase &db, const char *sql, QString *failure = nullptr);

} // namespace Direct
