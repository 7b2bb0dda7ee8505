#include "data/direct.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>

#include <sqlite3.h>

#include <optional>

namespace Direct {

namespace {

bool handlesEnabled = true;

bool runRaw(sqlite3 *db, const char *sql)
{
    return db && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Whether the driver's library is the one linked here: the same source
// build, asked through the driver and of the library itself.
bool sameLibrary(const QSqlDatabase &db)
{
    static std::optional<bool> same;
    if (!same) {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT sqlite_source_id()")) || !query.next())
            return false;
        same = query.value(0).toString() == QLatin1String(sqlite3_sourceid());
    }
    return *same;
}

} // namespace

void setHandlesEnabled(bool enabled)
{
    handlesEnabled = enabled;
}

sqlite3 *handle(const QSqlDatabase &db)
{
    if (!handlesEnabled || !db.isOpen() || !db.driver())
        return nullptr;
    const QVariant value = db.driver()->handle();
    if (!value.isValid() || qstrcmp(value.typeName(), "sqlite3*") != 0 || !sameLibrary(db))
        return nullptr;
    return *static_cast<sqlite3 *const *>(value.data());
}

Statement::Statement(const QSqlDatabase &connection, const char *sql) : db(handle(connection))
{
    if (db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
            sqlite3_finalize(stmt);
            stmt = nullptr;
        }
        return;
    }
    query = std::make_unique<QSqlQuery>(connection);
    query->setForwardOnly(true);
    prepared = query->prepare(QString::fromUtf8(sql));
}

Statement::~Statement()
{
    sqlite3_finalize(stmt);
}

bool Statement::ok() const
{
    return stmt != nullptr || (query && prepared);
}

QString Statement::error() const
{
    if (query)
        return query->lastError().text();
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("no database connection");
}

void Statement::bindNull(int index)
{
    if (query)
        bindString(index, QString());
    else
        sqlite3_bind_null(stmt, index);
}

void Statement::bindUtf8(int index, QByteArrayView text)
{
    if (query) {
        // Empty but not null, so that it binds '' and not NULL.
        bindString(index, text.isEmpty() ? QStringLiteral("") : QString::fromUtf8(text));
        return;
    }
    sqlite3_bind_text(stmt, index, text.data() ? text.data() : "", int(text.size()), SQLITE_TRANSIENT);
}

void Statement::bindUtf8Static(int index, QByteArrayView text)
{
    if (query)
        bindUtf8(index, text);
    else
        sqlite3_bind_text(stmt, index, text.data() ? text.data() : "", int(text.size()), SQLITE_STATIC);
}

void Statement::bindString(int index, const QString &value)
{
    if (query) {
        query->bindValue(index - 1, value);
        executed = false;
    } else if (value.isNull()) {
        sqlite3_bind_null(stmt, index);
    } else {
        sqlite3_bind_text16(stmt, index,
                            value.isEmpty() ? static_cast<const void *>(u"") : static_cast<const void *>(value.utf16()),
                            int(value.size() * sizeof(QChar)), SQLITE_TRANSIENT);
    }
}

void Statement::bindInt(int index, qint64 value)
{
    if (query) {
        query->bindValue(index - 1, value);
        executed = false;
    } else {
        sqlite3_bind_int64(stmt, index, value);
    }
}

void Statement::bindDouble(int index, double value)
{
    if (query) {
        query->bindValue(index - 1, value);
        executed = false;
    } else {
        sqlite3_bind_double(stmt, index, value);
    }
}

void Statement::bindColumnText(int index, const Statement &row, int column)
{
    if (row.isNull(column))
        bindNull(index);
    else if (query)
        bindString(index, row.string(column));
    else
        bindUtf8(index, row.utf8(column));
}

bool Statement::execute() const
{
    values.clear();
    executed = prepared && query->exec();
    return executed;
}

bool Statement::next()
{
    if (!query) {
        const int result = stmt ? sqlite3_step(stmt) : SQLITE_MISUSE;
        stepFailed = result != SQLITE_ROW && result != SQLITE_DONE;
        return result == SQLITE_ROW;
    }
    if (!executed && !execute()) {
        stepFailed = true;
        return false;
    }
    if (!query->next()) {
        stepFailed = query->lastError().isValid();
        return false;
    }
    const int count = query->record().count();
    values.resize(count);
    for (int c = 0; c < count; ++c)
        values[c] = query->value(c);
    texts = QList<QString>(count);
    bytes = QList<QByteArray>(count);
    return true;
}

bool Statement::run()
{
    if (query) {
        const bool done = execute();
        reset();
        return done;
    }
    if (!stmt)
        return false;
    const int result = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    return result == SQLITE_DONE || result == SQLITE_ROW;
}

void Statement::reset()
{
    stepFailed = false;
    if (query) {
        query->finish();
        executed = false;
        values.clear();
    } else if (stmt) {
        sqlite3_reset(stmt);
    }
}

int Statement::columnCount() const
{
    if (query) {
        if (!executed)
            execute();
        return query->record().count();
    }
    return stmt ? sqlite3_column_count(stmt) : 0;
}

int Statement::columnIndex(const char *name) const
{
    if (query) {
        if (!executed)
            execute();
        return query->record().indexOf(QLatin1String(name));
    }
    for (int c = 0; c < columnCount(); ++c) {
        if (sqlite3_stricmp(sqlite3_column_name(stmt, c), name) == 0)
            return c;
    }
    return -1;
}

bool Statement::isNull(int column) const
{
    if (query)
        return column < 0 || column >= values.size() || values.at(column).isNull();
    return column < 0 || sqlite3_column_type(stmt, column) == SQLITE_NULL;
}

qint64 Statement::integer(int column) const
{
    if (query)
        return column < 0 || column >= values.size() ? 0 : values.at(column).toLongLong();
    return column < 0 ? 0 : sqlite3_column_int64(stmt, column);
}

double Statement::real(int column) const
{
    if (query)
        return column < 0 || column >= values.size() ? 0 : values.at(column).toDouble();
    return column < 0 ? 0 : sqlite3_column_double(stmt, column);
}

QByteArrayView Statement::utf8(int column) const
{
    if (column < 0)
        return {};
    if (query) {
        if (column >= values.size())
            return {};
        bytes[column] = values.at(column).toString().toUtf8();
        return bytes.at(column);
    }
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    return QByteArrayView(data, data ? sqlite3_column_bytes(stmt, column) : 0);
}

QStringView Statement::text(int column) const
{
    if (column < 0)
        return {};
    if (query) {
        if (column >= values.size())
            return {};
        texts[column] = values.at(column).toString();
        return texts.at(column);
    }
    const auto *data = static_cast<const char16_t *>(sqlite3_column_text16(stmt, column));
    return QStringView(data, data ? sqlite3_column_bytes16(stmt, column) / 2 : 0);
}

Lock::Lock(const QSqlDatabase &db) : mutex(nullptr)
{
    if (sqlite3 *raw = handle(db))
        mutex = sqlite3_db_mutex(raw);
    sqlite3_mutex_enter(mutex);
}

Lock::~Lock()
{
    sqlite3_mutex_leave(mutex);
}

ReadTransaction::ReadTransaction(const QSqlDatabase &connection)
    : db(handle(connection)), began(db && sqlite3_get_autocommit(db) && runRaw(db, "BEGIN"))
{
}

ReadTransaction::~ReadTransaction()
{
    if (began)
        runRaw(db, "COMMIT");
}

bool exec(const QSqlDatabase &db, const char *sql, QString *failure)
{
    if (sqlite3 *raw = handle(db)) {
        if (runRaw(raw, sql))
            return true;
        if (failure)
            *failure = QString::fromUtf8(sqlite3_errmsg(raw));
        return false;
    }
    QSqlQuery query(db);
    if (query.exec(QString::fromUtf8(sql)))
        return true;
    if (failure)
        *failure = query.lastError().text();
    return false;
}

} // namespace Direct
