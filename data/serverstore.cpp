#include "data/serverstore.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace ServerStore {
namespace {

// Texts are read one character beyond what a program ever writes, and the
// data one byte-sized character beyond its limit, so that a row written by
// anything else is seen to be too long without being read whole.
const char ChangeColumns[] =
    "SELECT seq, oseq, left(id, 33), left(net, 33), left(origin, 33), left(kind, 16), left(call, 257), status, "
    "left(name, 257), left(city, 257), left(state, 257), left(comment, 257), left(relay, 257), left(entered, 257), "
    "logged, left(logdate, 257), left(logtime, 257), left(logstatus, 257), "
    "to_char(made AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), left(data, 8193) "
    "FROM trelvin_change ";
const char MadeUtc[] = "to_char(%1 AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";

SyncChange changeFrom(const QSqlQuery &query)
{
    SyncChange change = syncChangeFrom(query, 2);
    change.seq = query.value(0).toLongLong();
    change.oseq = query.value(1).toLongLong();
    return change;
}

bool failed(const QSqlQuery &query, QString *failure)
{
    *failure = query.lastError().text().trimmed();
    return false;
}

// A server restored from a backup may lack a net it once took: its changes
// would never be stored. Such a net comes back bare.
bool keepNets(const QSqlDatabase &db, const QList<SyncChange> &changes, QString *failure)
{
    QSqlQuery bare(db);
    bare.prepare(QStringLiteral("SELECT trelvin_net_keep(?, ?::timestamptz, ?)"));
    QSet<QString> nets;
    for (const SyncChange &change : changes) {
        if (change.kind == QLatin1String("net"))
            nets.insert(change.net);
    }
    for (const SyncChange &change : changes) {
        // A contact or roster change belongs to no net.
        if (change.net.isEmpty() || nets.contains(change.net))
            continue;
        nets.insert(change.net);
        bare.addBindValue(change.net);
        bare.addBindValue(change.made);
        bare.addBindValue(change.origin);
        if (!bare.exec())
            return failed(bare, failure);
    }
    return true;
}

// The changes themselves, each net opened as its change comes.
bool insertChanges(const QSqlDatabase &db, const QList<SyncChange> &changes, QString *failure)
{
    QSqlQuery net(db);
    net.prepare(QStringLiteral("SELECT trelvin_net_open(?, ?::timestamptz, ?, ?)"));
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral(
        "INSERT INTO trelvin_change (id, net, origin, oseq, kind, call, status, name, city, state, comment, relay, "
        "entered, logged, logdate, logtime, logstatus, made, data) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "?, ?, ?, ?::timestamptz, ?) ON CONFLICT (id) DO NOTHING"));
    for (const SyncChange &change : changes) {
        if (change.kind == QLatin1String("net")) {
            for (const QVariant &value :
                 {QVariant(change.net), QVariant(change.made), QVariant(change.call), QVariant(change.origin)})
                net.addBindValue(value);
            if (!net.exec())
                return failed(net, failure);
        }
        const QVariant none(QMetaType(QMetaType::QString));
        for (const QVariant &value :
             {QVariant(change.id), change.net.isEmpty() ? none : QVariant(change.net), QVariant(change.origin),
              QVariant(change.oseq), QVariant(change.kind), QVariant(change.call), QVariant(change.status),
              QVariant(change.name), QVariant(change.city), QVariant(change.state), QVariant(change.comment),
              QVariant(change.relay), QVariant(change.time), QVariant(change.logged), QVariant(change.logDate),
              QVariant(change.logTime), QVariant(change.logStatus), QVariant(change.made),
              change.data.isEmpty() ? none : QVariant(change.data)})
            insert.addBindValue(value);
        if (!insert.exec())
            return failed(insert, failure);
    }
    return true;
}

} // namespace

bool encrypted(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()")) && query.next()
           && query.value(0).toBool();
}

bool ping(const QSqlDatabase &db, QString *failure)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("SELECT 1")) || failed(query, failure);
}

bool send(QSqlDatabase &db, const QList<SyncChange> &changes, QString *failure)
{
    if (!db.transaction()) {
        *failure = db.lastError().text().trimmed();
        db.rollback();
        return false;
    }
    // The server's trigger lets one writer at a time number its changes: the
    // order of the numbers is the order in which they become visible, so that
    // a reader never skips one. Nets are written by the server's functions,
    // as the table's owner.
    if (keepNets(db, changes, failure) && insertChanges(db, changes, failure)) {
        if (db.commit())
            return true;
        *failure = db.lastError().text().trimmed();
    }
    db.rollback();
    return false;
}

bool changesAfter(const QSqlDatabase &db, qint64 after, int limit, QList<SyncChange> &changes, QString *failure)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QString::fromLatin1(ChangeColumns) + QStringLiteral("WHERE seq > ? ORDER BY seq LIMIT ")
                  + QString::number(limit));
    query.addBindValue(after);
    if (!query.exec())
        return failed(query, failure);
    while (query.next())
        changes.append(changeFrom(query));
    return true;
}

bool netChanges(const QSqlDatabase &db, const QString &net, QList<SyncChange> &changes, QString *failure)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QString::fromLatin1(ChangeColumns) + QStringLiteral("WHERE net = ? ORDER BY seq"));
    query.addBindValue(net);
    if (!query.exec())
        return failed(query, failure);
    while (query.next())
        changes.append(changeFrom(query));
    return true;
}

bool openNets(const QSqlDatabase &db, int hours, QList<SyncNet> &nets, QString *failure)
{
    // Stations: the calls whose latest change, in the server's order, keeps
    // them in the net. Open: a net the server heard of lately by its own
    // clock; a client's clock may be anything.
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT left(n.id, 33), %1, left(n.ncs, 17), left(n.origin, 33), (SELECT count(*) "
                                 "FROM (SELECT DISTINCT ON (call) "
                                 "kind FROM trelvin_change c WHERE c.net = n.id AND c.kind IN ('entry', 'remove') "
                                 "ORDER BY call, seq DESC) latest WHERE kind = 'entry') "
                                 "FROM trelvin_net n WHERE n.closed IS NULL AND (SELECT max(received) "
                                 "FROM trelvin_change c WHERE c.net = n.id) > now() - make_interval(hours => ?) "
                                 "ORDER BY n.started DESC")
                      .arg(QString::fromLatin1(MadeUtc).arg(QStringLiteral("n.started"))));
    query.addBindValue(hours);
    if (!query.exec())
        return failed(query, failure);
    while (query.next())
        nets.append({query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
                     query.value(3).toString(), query.value(4).toInt()});
    return true;
}

} // namespace ServerStore
