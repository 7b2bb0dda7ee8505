#include "data/tablereading.h"

#include "data/storagesql.h"

#include <QAtomicInteger>
#include <QSqlError>

namespace TableReading {

namespace {
QAtomicInteger<quint64> lockers;
} // namespace

WritesHeld::WritesHeld(const QString &path)
    : name(QStringLiteral("trelvin-writes-held-%1").arg(lockers.fetchAndAddRelaxed(1)))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    // As long as a worker waits for the window's write lock.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    db.setDatabaseName(path);
    QString failure;
    if (!db.open())
        held = Storage::Result::failed(Storage::Result::ReadFailed, db.lastError());
    else if (!Direct::exec(db, "BEGIN IMMEDIATE", &failure))
        held = Storage::Result::failed(Storage::Result::ReadFailed, failure);
}

WritesHeld::~WritesHeld()
{
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (held.ok())
            Direct::exec(db, "ROLLBACK");
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

Storage::Result beginReading(const QSqlDatabase &db)
{
    // A deferred transaction takes its state of the file at its first read.
    QString failure;
    if (Direct::exec(db, "BEGIN", &failure) && Direct::exec(db, "SELECT count(*) FROM sqlite_schema", &failure))
        return Storage::Result();
    Direct::exec(db, "ROLLBACK");
    return Storage::Result::failed(Storage::Result::ReadFailed, failure);
}

void endReading(const QSqlDatabase &db)
{
    Direct::exec(db, "COMMIT");
}

Storage::Result idRange(const QSqlDatabase &db, Storage::Table table, qint64 *first, qint64 *last)
{
    const QByteArray sql = QByteArray("SELECT min(id), max(id) FROM ") + StorageSql::spec(table).table;
    Direct::Statement query(db, sql.constData());
    *first = 1;
    *last = 0;
    if (query.next() && !query.isNull(0)) {
        *first = query.integer(0);
        *last = query.integer(1);
    }
    return StorageSql::walked(query);
}

Storage::Result eachRowBetween(const QSqlDatabase &db, Storage::Table table, qint64 from, qint64 to,
                               const std::function<void(const StoredRow &)> &row)
{
    const QByteArray sql = QByteArray("SELECT * FROM ") + StorageSql::spec(table).table + " WHERE id BETWEEN ? AND ?";
    Direct::Statement query(db, sql.constData());
    query.bindInt(1, from);
    query.bindInt(2, to);
    {
        const Direct::Lock lock(db);
        const StoredRow stored(query);
        while (query.next())
            row(stored);
    }
    return StorageSql::walked(query);
}

} // namespace TableReading
