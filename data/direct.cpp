#include "data/direct.h"

#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

namespace Direct {

bool exec(sqlite3 *db, const char *sql, QString *failure);

sqlite3 *handle(const QSqlDatabase &db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant value = db.driver()->handle();
    if (!value.isValid() || qstrcmp(value.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(value.data());
}

Statement::Statement(sqlite3 *connection, const char *sql)
    : db(connection)
{
    if (db && sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }
}

Statement::~Statement()
{
    sqlite3_finalize(stmt);
}

QString Statement::error() const
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("no database connection");
}

void Statement::bindNull(int index)
{
    sqlite3_bind_null(stmt, index);
}

void Statement::bindUtf8(int index, QByteArrayView text)
{
    // A non-null pointer even for '' so that SQLite stores text, not NULL.
    sqlite3_bind_text(stmt, index, text.data() ? text.data() : "", int(text.size()), SQLITE_TRANSIENT);
}

void Statement::bindUtf8Static(int index, QByteArrayView text)
{
    sqlite3_bind_text(stmt, index, text.data() ? text.data() : "", int(text.size()), SQLITE_STATIC);
}

void Statement::bindString(int index, const QString &value)
{
    if (value.isNull())
        sqlite3_bind_null(stmt, index);
    else
        sqlite3_bind_text16(stmt, index, value.isEmpty() ? static_cast<const void *>(u"") : static_cast<const void *>(value.utf16()), int(value.size() * sizeof(QChar)),
                            SQLITE_TRANSIENT);
}

void Statement::bindInt(int index, qint64 value)
{
    sqlite3_bind_int64(stmt, index, value);
}

void Statement::bindColumnText(int index, const Statement &row, int column)
{
    if (row.isNull(column))
        bindNull(index);
    else
        bindUtf8(index, row.utf8(column));
}

bool Statement::next()
{
    return stmt && sqlite3_step(stmt) == SQLITE_ROW;
}

bool Statement::run()
{
    if (!stmt)
        return false;
    const int result = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    return result == SQLITE_DONE || result == SQLITE_ROW;
}

void Statement::reset()
{
    if (stmt)
        sqlite3_reset(stmt);
}

int Statement::columnCount() const
{
    return stmt ? sqlite3_column_count(stmt) : 0;
}

int Statement::columnIndex(const char *name) const
{
    for (int c = 0; c < columnCount(); ++c) {
        if (sqlite3_stricmp(sqlite3_column_name(stmt, c), name) == 0)
            return c;
    }
    return -1;
}

bool Statement::isNull(int column) const
{
    return column < 0 || sqlite3_column_type(stmt, column) == SQLITE_NULL;
}

qint64 Statement::integer(int column) const
{
    return column < 0 ? 0 : sqlite3_column_int64(stmt, column);
}

QByteArrayView Statement::utf8(int column) const
{
    if (column < 0)
        return {};
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    return QByteArrayView(data, data ? sqlite3_column_bytes(stmt, column) : 0);
}

QStringView Statement::text(int column) const
{
    if (column < 0)
        return {};
    const auto *data = static_cast<const char16_t *>(sqlite3_column_text16(stmt, column));
    return QStringView(data, data ? sqlite3_column_bytes16(stmt, column) / 2 : 0);
}

Lock::Lock(sqlite3 *db)
    : mutex(db ? sqlite3_db_mutex(db) : nullptr)
{
    sqlite3_mutex_enter(mutex);
}

Lock::~Lock()
{
    sqlite3_mutex_leave(mutex);
}

ReadTransaction::ReadTransaction(sqlite3 *connection)
    : db(connection)
    , began(db && sqlite3_get_autocommit(db) && exec(db, "BEGIN"))
{
}

ReadTransaction::~ReadTransaction()
{
    if (began)
        exec(db, "COMMIT");
}

bool exec(sqlite3 *db, const char *sql, QString *failure)
{
    if (db && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    if (failure)
        *failure = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("no database connection");
    return false;
}

} // namespace Direct
