#include "sync/syncworker.h"

#include "data/serverschema.h"
#include "data/serverstore.h"
#include "sync/clublink.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QTimer>

namespace {

// How soon a lost link is tried again, and how often a quiet link is checked.
const int RetryMs = 500;
const int AliveMs = 1000;
// A net whose last change is older than this is over: it is not offered.
const int OpenNetHours = 3;

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
        if (SyncWorker::isLoginClosed(error))
            return {error, SyncWorker::LoginClosed};
        return {error, SyncWorker::isPasswordFailure(error) ? SyncWorker::Password : SyncWorker::Unreachable};
    }
    Opened opened;
    opened.encrypted = ServerStore::encrypted(db);
    if (plan.mustEncrypt && !opened.encrypted) {
        db.close();
        return {SyncWorker::unencryptedText(), SyncWorker::Unencrypted};
    }
    return opened;
}

} // namespace

SyncWorker::SyncWorker(const QString &connectionName) : name(connectionName)
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

bool SyncWorker::isLoginClosed(const QString &error)
{
    return error.contains(QLatin1String("is not permitted to log in"));
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
    QString failure;
    if (!ServerStore::ping(QSqlDatabase::database(name, false), &failure))
        lose(failure);
}

void SyncWorker::send(const QList<SyncChange> &changes)
{
    if (!connected || changes.isEmpty())
        return;
    QSqlDatabase db = QSqlDatabase::database(name, false);
    QString failure;
    if (!ServerStore::send(db, changes, &failure))
        return lose(failure);
    emit sent(changes.last().oseq);
}

void SyncWorker::fetch()
{
    if (!connected)
        return;
    const QSqlDatabase db = QSqlDatabase::database(name, false);
    constexpr int Batch = 5000;
    for (;;) {
        QList<SyncChange> changes;
        QString failure;
        if (!ServerStore::changesAfter(db, after, Batch, changes, &failure))
            return lose(failure);
        if (changes.isEmpty())
            return;
        after = changes.last().seq;
        emit received(changes, after);
        if (changes.size() < Batch)
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
    QList<SyncChange> changes;
    QString failure;
    if (!ServerStore::netChanges(QSqlDatabase::database(name, false), net, changes, &failure))
        return lose(failure);
    emit netFetched(net, changes);
}

void SyncWorker::listNets()
{
    if (!connected)
        return;
    QList<SyncNet> nets;
    QString failure;
    if (!ServerStore::openNets(QSqlDatabase::database(name, false), OpenNetHours, nets, &failure))
        return lose(failure);
    emit netsOpen(nets);
}
