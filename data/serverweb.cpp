#include "data/serverweb.h"

#include "sync/syncrecords.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace ServerWeb {
namespace {

// Texts one character beyond what a program writes, as the programs read
// the journal: a longer one is seen to be too long without being read whole.
const char NetColumns[] =
    "SELECT left(id, 33), to_char(started AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), left(ncs, 17), "
    "left(origin, 33), closed, seq, to_char(received AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), "
    "stations, checkins FROM trelvin_web_net ";
const char EntryColumns[] =
    "SELECT left(id, 33), left(net, 33), left(origin, 33), left(call, 257), status, left(name, 257), "
    "left(city, 257), left(state, 257), left(relay, 257), left(entered, 257), "
    "to_char(made AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), seq, place, withdrawn "
    "FROM trelvin_web_entry ";

bool failed(const QSqlQuery &query, QString *failure)
{
    *failure = query.lastError().text().trimmed();
    return false;
}

QDateTime utc(const QVariant &text)
{
    QDateTime time = QDateTime::fromString(text.toString(), Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

// A net row as the programs check one they are offered; nullopt when unusable.
std::optional<Net> netFrom(const QSqlQuery &query)
{
    SyncNet offered{query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
                    query.value(3).toString(), int(query.value(7).toLongLong())};
    if (!syncNetUsable(offered))
        return std::nullopt;
    Net net;
    net.id = offered.id;
    net.started = utc(offered.started);
    net.ncs = offered.ncs.toUpper();
    net.closed = query.value(4).toBool();
    net.seq = query.value(5).toLongLong();
    net.changed = utc(query.value(6));
    net.stations = offered.stations;
    net.checkins = int(qBound(0LL, query.value(8).toLongLong(), qint64(offered.stations)));
    return net;
}

bool readNets(QSqlQuery &query, QList<Net> &found, QString *failure)
{
    if (!query.exec())
        return failed(query, failure);
    while (query.next()) {
        if (const std::optional<Net> net = netFrom(query))
            found.append(*net);
    }
    return true;
}

} // namespace

bool club(const QSqlDatabase &db, QString *name, QString *failure)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT left(club, 65) FROM trelvin_web_club LIMIT 1")))
        return failed(query, failure);
    name->clear();
    if (query.next()) {
        const QString text = query.value(0).toString();
        // As trelvin-club takes a club's name: short, one line.
        if (text.size() <= 64 && !text.contains(QRegularExpression(QStringLiteral("[\\x00-\\x1f\\x7f]"))))
            *name = text;
    }
    return true;
}

bool latestSeq(const QSqlDatabase &db, qint64 *seq, QString *failure)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT coalesce(max(seq), 0) FROM trelvin_web_net")) || !query.next())
        return failed(query, failure);
    *seq = query.value(0).toLongLong();
    return true;
}

bool nets(const QSqlDatabase &db, const QDateTime &since, int limit, QList<Net> &found, QString *failure)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QString::fromLatin1(NetColumns)
                  + QStringLiteral("WHERE started >= ?::timestamptz OR (NOT closed AND received >= ?::timestamptz) "
                                   "ORDER BY closed, started DESC, id LIMIT ")
                  + QString::number(limit));
    const QString from = since.toUTC().toString(Qt::ISODateWithMs);
    query.addBindValue(from);
    query.addBindValue(from);
    return readNets(query, found, failure);
}

bool netsChangedAfter(const QSqlDatabase &db, qint64 seq, QList<Net> &found, QString *failure)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QString::fromLatin1(NetColumns) + QStringLiteral("WHERE seq > ? ORDER BY seq"));
    query.addBindValue(seq);
    return readNets(query, found, failure);
}

bool net(const QSqlDatabase &db, const QString &id, std::optional<Net> &found, QString *failure)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QString::fromLatin1(NetColumns) + QStringLiteral("WHERE id = ?"));
    query.addBindValue(id);
    found.reset();
    if (!query.exec())
        return failed(query, failure);
    if (query.next())
        found = netFrom(query);
    return true;
}

bool entries(const QSqlDatabase &db, const QString &net, QList<Entry> &found, int *skipped, QString *failure)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QString::fromLatin1(EntryColumns) + QStringLiteral("WHERE net = ? ORDER BY place, call"));
    query.addBindValue(net);
    if (!query.exec())
        return failed(query, failure);
    *skipped = 0;
    while (query.next()) {
        // The row as a change of the journal, checked as the programs check one.
        SyncChange change;
        change.id = query.value(0).toString();
        change.net = query.value(1).toString();
        change.origin = query.value(2).toString();
        change.kind = QStringLiteral("entry");
        change.call = query.value(3).toString();
        change.status = query.value(4).toInt();
        change.name = query.value(5).toString();
        change.city = query.value(6).toString();
        change.state = query.value(7).toString();
        change.relay = query.value(8).toString();
        change.time = query.value(9).toString();
        change.made = query.value(10).toString();
        change.seq = query.value(11).toLongLong();
        if (!syncCheck(change).isEmpty()) {
            ++*skipped;
            continue;
        }
        Entry entry;
        entry.call = change.call.toUpper();
        entry.status = change.status;
        entry.name = change.name;
        entry.city = change.city;
        entry.state = change.state.toUpper();
        entry.relay = change.relay.toUpper();
        entry.time = change.time;
        entry.seq = change.seq;
        entry.place = query.value(12).toLongLong();
        entry.withdrawn = query.value(13).toBool();
        found.append(entry);
    }
    return true;
}

bool places(const QSqlDatabase &db, const QString &net, QHash<QString, Place> &found, QString *failure)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT left(p.call, 17), left(p.lat, 33), left(p.lon, 33), left(p.zip, 5) "
                                 "FROM trelvin_web_place p WHERE p.call IN (SELECT e.call FROM trelvin_web_entry e "
                                 "WHERE e.net = ?)"));
    query.addBindValue(net);
    if (!query.exec())
        return failed(query, failure);
    while (query.next())
        found.insert(query.value(0).toString().toUpper(),
                     Place{query.value(1).toString(), query.value(2).toString(), query.value(3).toString()});
    return true;
}

} // namespace ServerWeb
