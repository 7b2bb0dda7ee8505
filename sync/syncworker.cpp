#include "sync/syncworker.h"

#include "sync/clublink.h"
#include "data/serverschema.h"

#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

namespace {

// How soon a lost link is tried again, and how often a quiet link is checked.
const int RetryMs = 500;
const int AliveMs = 1000;
// A net whose last change is older than this is over: it is not offered.
const int OpenNetHours = 3;

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

QString lastError(const QSqlQuery &query)
{
    return query.lastError().text().trimmed();
}

struct Opened {
    QString problem; // empty: open and usable
    int trouble = SyncWorker::Unreachable;
    bool encrypted = false;
};

// Opens `db` under the link's rules; a link that must be encrypted and is
// not is closed before anything is sent on it.
Opened openLink(QSqlDatabase &db, const QString &conninfo, const QString &password)
{
    const ClubLink::Plan plan = ClubLink::plan(conninfo);
    if (!plan.error.isEmpty())
        return {plan.error, SyncWorker::Unreadable};
    db.setConnectOptions(plan.options);
    db.setPassword(password);
    if (!db.open()) {
        const QString error = db.lastError().text().trimmed();
        if (ClubLink::isTlsRefusal(error))
            return {SyncWorker::unencryptedText(), SyncWorker::Unencrypted};
        return {error, SyncWorker::isPasswordFailure(error) ? SyncWorker::Password : SyncWorker::Unreachable};
    }
    Opened opened;
    QSqlQuery query(db);
    opened.encrypted = query.exec(QStringLiteral("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()"))
                       && query.next() && query.value(0).toBool();
    query.finish();
    if (plan.mustEncrypt && !opened.encrypted) {
        db.close();
        return {SyncWorker::unencryptedText(), SyncWorker::Unencrypted};
    }
    return opened;
}

} // namespace

SyncWorker::SyncWorker(const QString &connectionName)
    : name(connectionName)
{
}

SyncWorker::~SyncWorker()
{
    stop();
}

QString SyncWorker::connectionOptions(const QString &conninfo)
{
    return ClubLink::plan(conninfo).options;
}

QString SyncWorker::unencryptedText()
{
    return QStringLiteral("The club server offers no encrypted link (TLS), and Trelvin sends the net to another "
                          "computer only encrypted. Turn TLS on at the server, or set TLS to \"Off\" in Setup > "
                          "Club Server... on a network you trust.");
}

bool SyncWorker::isPasswordFailure(const QString &error)
{
    return error.contains(QLatin1String("password authentication failed"))
           || error.contains(QLatin1String("no password supplied"))
           || error.contains(QLatin1String("password is required"));
}

QString SyncWorker::probe(const QString &conninfo, const QString &password, int *version, bool *encrypted)
{
    static QAtomicInt count;
    const QString connection = QStringLiteral("club-probe-%1").arg(count.fetchAndAddRelaxed(1));
    QString problem;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        const Opened opened = openLink(db, conninfo, password);
        if (!opened.problem.isEmpty()) {
            problem = opened.problem;
        } else {
            const ServerSchema::Outcome schema = ServerSchema::prepare(db);
            if (!schema.ok)
                problem = schema.problem;
            else if (version)
                *version = ServerSchema::Version;
            if (encrypted)
                *encrypted = opened.encrypted;
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return problem;
}

void SyncWorker::start(const QString &info, const QString &pass, qint64 from)
{
    stop();
    conninfo = info;
    password = pass;
    after = from;
    stopped = false;
    reported = false;
    if (!retryTimer) {
        retryTimer = new QTimer(this);
        retryTimer->setSingleShot(true);
        connect(retryTimer, &QTimer::timeout, this, &SyncWorker::connectNow);
        aliveTimer = new QTimer(this);
        aliveTimer->setInterval(AliveMs);
        connect(aliveTimer, &QTimer::timeout, this, &SyncWorker::checkAlive);
    }
    connectNow();
}

void SyncWorker::stop()
{
    stopped = true;
    connected = false;
    if (retryTimer) {
        retryTimer->stop();
        aliveTimer->stop();
    }
    if (QSqlDatabase::contains(name)) {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isOpen() && db.driver())
                db.driver()->unsubscribeFromNotification(QString::fromLatin1(ServerSchema::Channel));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
}

void SyncWorker::connectNow()
{
    if (stopped)
        return;
    if (QSqlDatabase::contains(name))
        QSqlDatabase::removeDatabase(name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    const Opened opened = openLink(db, conninfo, password);
    if (!opened.problem.isEmpty()) {
        const QString &error = opened.problem;
        if (opened.trouble != Unreachable) {
            // Trying again with the same password or settings changes nothing.
            stopped = true;
            emit offline(opened.trouble, error);
            return;
        }
        if (!reported)
            emit offline(Unreachable, error);
        reported = true;
        retryTimer->start(RetryMs);
        return;
    }
    const ServerSchema::Outcome schema = ServerSchema::prepare(db);
    if (!schema.ok) {
        db.close();
        // A transient failure reads differently from a refused schema, but
        // both leave the net here alone; only a refusal ends the attempts.
        if (schema.refused) {
            stopped = true;
            emit offline(Schema, schema.problem);
            return;
        }
        emit offline(Unreachable, schema.problem);
        reported = true;
        retryTimer->start(RetryMs);
        return;
    }
    db.driver()->subscribeToNotification(QString::fromLatin1(ServerSchema::Channel));
    connect(db.driver(), &QSqlDriver::notification, this, [this](const QString &channel) {
        if (channel == QLatin1String(ServerSchema::Channel)) {
            fetch();
            listNets();
        }
    });
    connected = true;
    reported = false;
    aliveTimer->start();
    emit online(ServerSchema::Version, opened.encrypted);
    fetch();
    listNets();
}

void SyncWorker::lose(const QString &reason)
{
    if (!connected)
        return;
    connected = false;
    aliveTimer->stop();
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    emit offline(Unreachable, reason);
    reported = true;
    retryTimer->start(RetryMs);
}

void SyncWorker::checkAlive()
{
    if (!connected)
        return;
    QSqlQuery query(QSqlDatabase::database(name, false));
    if (!query.exec(QStringLiteral("SELECT 1")))
        lose(lastError(query));
}

void SyncWorker::send(const QList<SyncChange> &changes)
{
    if (!connected || changes.isEmpty())
        return;
    QSqlDatabase db = QSqlDatabase::database(name, false);
    const auto fail = [&](const QString &reason) {
        db.rollback();
        lose(reason);
    };
    if (!db.transaction())
        return fail(db.lastError().text().trimmed());
    // The server's trigger lets one writer at a time number its changes: the
    // order of the numbers is the order in which they become visible, so that
    // a reader never skips one. Nets are written by the server's functions,
    // as the table's owner.
    QSqlQuery net(db);
    net.prepare(QStringLiteral("SELECT trelvin_net_open(?, ?::timestamptz, ?, ?)"));
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral(
        "INSERT INTO trelvin_change (id, net, origin, oseq, kind, call, status, name, city, state, comment, relay, "
        "entered, logged, logdate, logtime, logstatus, made, data) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "?, ?, ?, ?::timestamptz, ?) ON CONFLICT (id) DO NOTHING"));
    // A server restored from a backup may lack a net it once took: its
    // changes would never be stored. Such a net comes back bare.
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
            return fail(lastError(bare));
    }
    for (const SyncChange &change : changes) {
        if (change.kind == QLatin1String("net")) {
            for (const QVariant &value : {QVariant(change.net), QVariant(change.made), QVariant(change.call),
                                          QVariant(change.origin)})
                net.addBindValue(value);
            if (!net.exec())
                return fail(lastError(net));
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
            return fail(lastError(insert));
    }
    if (!db.commit())
        return fail(db.lastError().text().trimmed());
    emit sent(changes.last().oseq);
}

void SyncWorker::fetch()
{
    if (!connected)
        return;
    QSqlQuery query(QSqlDatabase::database(name, false));
    query.setForwardOnly(true);
    query.prepare(QString::fromLatin1(ChangeColumns) + QStringLiteral("WHERE seq > ? ORDER BY seq LIMIT 5000"));
    for (;;) {
        query.addBindValue(after);
        if (!query.exec())
            return lose(lastError(query));
        QList<SyncChange> changes;
        qint64 last = after;
        while (query.next()) {
            changes.append(changeFrom(query));
            last = query.value(0).toLongLong();
        }
        if (changes.isEmpty())
            return;
        after = last;
        emit received(changes, last);
        if (changes.size() < 5000)
            return;
    }
}

void SyncWorker::rewind(qint64 from)
{
    after = from;
    fetch();
}

void SyncWorker::fetchNet(const QString &net)
{
    if (!connected)
        return;
    QSqlQuery query(QSqlDatabase::database(name, false));
    query.setForwardOnly(true);
    query.prepare(QString::fromLatin1(ChangeColumns) + QStringLiteral("WHERE net = ? ORDER BY seq"));
    query.addBindValue(net);
    if (!query.exec())
        return lose(lastError(query));
    QList<SyncChange> changes;
    while (query.next())
        changes.append(changeFrom(query));
    emit netFetched(net, changes);
}

void SyncWorker::listNets()
{
    if (!connected)
        return;
    // Stations: the calls whose latest change, in the server's order, keeps
    // them in the net. Open: a net the server heard of lately by its own
    // clock; a client's clock may be anything.
    QSqlQuery query(QSqlDatabase::database(name, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT left(n.id, 33), %1, left(n.ncs, 17), left(n.origin, 33), (SELECT count(*) FROM (SELECT DISTINCT ON (call) "
                                 "kind FROM trelvin_change c WHERE c.net = n.id AND c.kind IN ('entry', 'remove') "
                                 "ORDER BY call, seq DESC) latest WHERE kind = 'entry') "
                                 "FROM trelvin_net n WHERE n.closed IS NULL AND (SELECT max(received) "
                                 "FROM trelvin_change c WHERE c.net = n.id) > now() - make_interval(hours => ?) "
                                 "ORDER BY n.started DESC")
                      .arg(QString::fromLatin1(MadeUtc).arg(QStringLiteral("n.started"))));
    query.addBindValue(OpenNetHours);
    if (!query.exec())
        return lose(lastError(query));
    QList<SyncNet> nets;
    while (query.next())
        nets.append({query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
                     query.value(3).toString(), query.value(4).toInt()});
    emit netsOpen(nets);
}
