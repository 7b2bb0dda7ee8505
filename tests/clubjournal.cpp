#include "clubjournal.h"

#include "data/schema.h"
#include "data/serverschema.h"
#include "data/serverstore.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QUuid>

namespace {

QString newId()
{
    return QUuid::createUuid().toString(QUuid::Id128);
}

} // namespace

ClubJournal::ClubJournal() : origin(newId()), connection(QStringLiteral("clubjournal-") + newId())
{
}

ClubJournal::~ClubJournal()
{
    link.close();
    link = QSqlDatabase();
    if (QSqlDatabase::contains(connection))
        QSqlDatabase::removeDatabase(connection);
}

QString ClubJournal::start()
{
    QString failure = pg.running() ? QString() : pg.start();
    link.close();
    if (failure.isEmpty())
        failure = pg.resetDatabase();
    if (failure.isEmpty())
        failure = pg.addOperator(QStringLiteral("op1"), QStringLiteral("op-secret"));
    if (failure.isEmpty())
        failure = pg.admin(QStringLiteral("DO $$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = "
                                          "'trelvin_web') THEN CREATE ROLE trelvin_web LOGIN PASSWORD 'web-secret'; "
                                          "END IF; END $$"),
                           QStringLiteral("postgres"));
    if (!failure.isEmpty())
        return failure;
    if (!db().isOpen())
        return db().lastError().text();
    const ServerSchema::Outcome schema = ServerSchema::prepare(db());
    return schema.ok ? QString() : schema.problem;
}

QString ClubJournal::webConninfo() const
{
    return pg.conninfo(QStringLiteral("trelvin_web")) + QStringLiteral(" password=web-secret");
}

QString ClubJournal::operatorConninfo() const
{
    return pg.conninfo(QStringLiteral("op1")) + QStringLiteral(" password=op-secret");
}

QSqlDatabase &ClubJournal::db()
{
    if (!QSqlDatabase::contains(connection)) {
        link = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        link.setConnectOptions(operatorConninfo());
    }
    if (!link.isOpen())
        link.open();
    return link;
}

SyncChange ClubJournal::change(const QString &kind, const QString &net, const QString &call)
{
    SyncChange c;
    c.id = newId();
    c.net = net;
    c.origin = origin;
    c.oseq = ++oseq;
    c.kind = kind;
    c.call = call;
    c.made = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    return c;
}

QString ClubJournal::openNet(const QString &ncs)
{
    const QString net = newId();
    const QString failure = send({change(QStringLiteral("net"), net, ncs)});
    return failure.isEmpty() ? net : QString();
}

SyncChange ClubJournal::entry(const QString &net, const QString &call, int status, const QString &name,
                              const QString &city, const QString &state)
{
    SyncChange c = change(QStringLiteral("entry"), net, call);
    c.status = status;
    c.name = name;
    c.city = city;
    c.state = state;
    c.time = QDateTime::currentDateTimeUtc().toString(QStringLiteral("HH:mm"));
    return c;
}

SyncChange ClubJournal::removal(const QString &net, const QString &call)
{
    return change(QStringLiteral("remove"), net, call);
}

SyncChange ClubJournal::closing(const QString &net)
{
    return change(QStringLiteral("close"), net, QStringLiteral(""));
}

SyncChange ClubJournal::contact(const QString &call, const QString &lat, const QString &lon, const QString &zip,
                                const QHash<int, QString> &more)
{
    SyncChange c = change(QStringLiteral("contact"), QString(), call);
    QJsonArray fields;
    for (int k = 0; k < Schema::ContactFields; ++k)
        fields.append(k == 0 ? call : k == 8 ? zip : k == 12 ? lat : k == 13 ? lon : more.value(k));
    c.data = QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact));
    return c;
}

QString ClubJournal::send(const QList<SyncChange> &changes)
{
    QString failure;
    if (ServerStore::send(db(), changes, &failure))
        return QString();
    // Once more on a new connection: the server may have been restarted.
    link.close();
    if (ServerStore::send(db(), changes, &failure))
        return QString();
    return failure.isEmpty() ? QStringLiteral("not stored") : failure;
}
