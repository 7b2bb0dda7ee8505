#include "web/webservice.h"

#include "app/logging.h"
#include "data/serverschema.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrlQuery>
#include <QUuid>

namespace {

QByteArray resource(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

HttpServer::Response html(int status, const QByteArray &body)
{
    HttpServer::Response response;
    response.status = status;
    response.type = "text/html; charset=utf-8";
    response.body = body.toStdString();
    return response;
}

bool isNetId(const QString &text)
{
    static const QRegularExpression id(QStringLiteral("^[0-9a-f]{32}$"));
    return id.match(text).hasMatch();
}

} // namespace

WebService::WebService(const WebConfig &settings, QObject *parent)
    : QObject(parent), config(settings), connection(QStringLiteral("trelvin-web-") + QUuid::createUuid().toString())
{
    setObjectName(QStringLiteral("webService"));
    HttpServer::Limits limits;
    limits.viewers = std::size_t(config.viewers);
    limits.connections = limits.viewers + 100;
    server = std::make_unique<HttpServer>(
        limits, [this](const HttpServer::Request &request, const HttpServer::Reply &reply) { handle(request, reply); });
    retry.setSingleShot(true);
    retry.setInterval(RetryMs);
    connect(&retry, &QTimer::timeout, this, &WebService::connectClub);
    health.setInterval(HealthMs);
    connect(&health, &QTimer::timeout, this, &WebService::checkHealth);
    status.state = WebPages::ServerState::Down;
    status.since = QDateTime::currentDateTimeUtc();
}

WebService::~WebService()
{
    server->stop();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection);
}

bool WebService::start(QString *problem)
{
    places.load(resource(QStringLiteral(":/web/info/ZIP_Info.csv")),
                resource(QStringLiteral(":/web/info/State_Info.csv")));
    QString mapProblem;
    const QList<UsMap::Outline> outlines = UsMap::loadOutlines(QStringLiteral(":/web/info/US_States.txt"), &mapProblem);
    auto table = std::make_shared<QHash<QString, File>>();
    table->insert(
        QStringLiteral("/static/app.js"),
        {"text/javascript; charset=utf-8", resource(QStringLiteral(":/web/web/static/app.js")).toStdString()});
    table->insert(QStringLiteral("/static/style.css"),
                  {"text/css; charset=utf-8", resource(QStringLiteral(":/web/web/static/style.css")).toStdString()});
    // The program's icon: browsers ask for it by this name whatever the page says.
    table->insert(QStringLiteral("/favicon.ico"),
                  {"image/png", resource(QStringLiteral(":/web/packaging/icons/trelvin-32.png")).toStdString()});
    table->insert(QStringLiteral("/static/states.svg"), {"image/svg+xml", WebPages::statesSvg(outlines).toStdString()});
    for (const File &file : std::as_const(*table)) {
        if (file.body.empty() || outlines.isEmpty()) {
            *problem = QStringLiteral("The page's own files are missing from trelvin-web: ") + mapProblem;
            return false;
        }
    }
    files = table;
    std::string error;
    if (!server->listen(config.address.toStdString(), config.port, &error)) {
        *problem = QStringLiteral("Cannot listen on %1:%2: %3")
                       .arg(config.address)
                       .arg(config.port)
                       .arg(QString::fromStdString(error));
        return false;
    }
    connectClub();
    return true;
}

quint16 WebService::port() const
{
    return server->port();
}

void WebService::handle(const HttpServer::Request &request, const HttpServer::Reply &reply)
{
    // The page's files straight from the HTTP thread: they never change.
    const QString target = QString::fromStdString(request.target);
    const auto file = files->constFind(target.section(QLatin1Char('?'), 0, 0));
    if (file != files->cend() && (request.method == "GET" || request.method == "HEAD")) {
        HttpServer::Response response;
        response.type = file->type;
        response.body = file->body;
        response.cache = "public, max-age=300";
        reply(std::move(response));
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, request, reply] { reply(answer(request)); }, Qt::QueuedConnection);
}

HttpServer::Response WebService::answer(const HttpServer::Request &request)
{
    if (request.method != "GET" && request.method != "HEAD") {
        HttpServer::Response refused;
        refused.status = 405;
        refused.body = "Only GET\n";
        return refused;
    }
    const QString target = QString::fromStdString(request.target);
    const QString path = target.section(QLatin1Char('?'), 0, 0);
    const QUrlQuery query(target.section(QLatin1Char('?'), 1));
    if (path == QLatin1String("/"))
        return html(200, WebPages::todayPage(club, today, status));
    if (path == QLatin1String("/nets"))
        return pastNets();
    if (path == QLatin1String("/events")) {
        const QString net = query.queryItemValue(QStringLiteral("net"));
        return events(isNetId(net) ? net : QString(), QString::fromStdString(request.lastEventId));
    }
    if (path.startsWith(QLatin1String("/net/")) && isNetId(path.mid(5)))
        return netAnswer(path.mid(5), false);
    if (path.startsWith(QLatin1String("/api/net/")) && isNetId(path.mid(9)))
        return netAnswer(path.mid(9), true);
    return html(404, WebPages::notFoundPage(club));
}

HttpServer::Response WebService::events(const QString &net, const QString &lastEventId)
{
    HttpServer::Response response;
    response.type = "text/event-stream; charset=utf-8";
    response.stream = true;
    response.key = net.toStdString();
    QByteArray first = "retry: 2000\n\n" + statusEvent();
    // A page that reconnects gets what it missed: the nets as they are now,
    // unless it has seen the latest change already.
    bool known = false;
    const qint64 seen = lastEventId.toLongLong(&known);
    if (!known || seen != seq) {
        bool sent = false;
        for (const NetView &view : std::as_const(today)) {
            if (net.isEmpty() || view.net.id == net) {
                first += netEvent(view);
                sent = true;
            }
        }
        QString failure;
        std::optional<NetView> view;
        if (!net.isEmpty() && !sent && online() && (view = readNet(net, &failure)))
            first += netEvent(*view);
    }
    response.body = first.toStdString();
    return response;
}

HttpServer::Response WebService::netAnswer(const QString &id, bool json)
{
    std::optional<NetView> view;
    for (const NetView &known : std::as_const(today)) {
        if (known.net.id == id)
            view = known;
    }
    QString failure;
    if (!view && online())
        view = readNet(id, &failure);
    if (!view && !failure.isEmpty())
        lose(failure);
    if (!view) {
        if (!online())
            return html(503, WebPages::notFoundPage(club));
        HttpServer::Response missing = html(404, WebPages::notFoundPage(club));
        if (json) {
            missing.type = "application/json";
            missing.body = "{\"error\":\"no such net\"}";
        }
        return missing;
    }
    if (!json)
        return html(200, WebPages::netPage(club, *view, status));
    HttpServer::Response response;
    response.type = "application/json";
    response.body = WebPages::netJson(*view, club).toStdString();
    return response;
}

HttpServer::Response WebService::pastNets()
{
    QList<ServerWeb::Net> nets;
    QString failure;
    if (!online() || !ServerWeb::nets(db, QDateTime::currentDateTimeUtc().addDays(-PastDays), 2000, nets, &failure)) {
        if (!failure.isEmpty())
            lose(failure);
        return html(503, WebPages::netsPage(club, {}, status));
    }
    std::sort(nets.begin(), nets.end(),
              [](const ServerWeb::Net &a, const ServerWeb::Net &b) { return a.started > b.started; });
    return html(200, WebPages::netsPage(club, nets, status));
}

void WebService::connectClub()
{
    if (!QSqlDatabase::contains(connection)) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        // A server that does not answer is given up on soon: this thread
        // answers the page's requests too.
        db.setConnectOptions(config.club
                             + QStringLiteral(" connect_timeout=3 keepalives_idle=10 "
                                              "keepalives_interval=5 keepalives_count=2"));
    }
    db.close();
    if (!db.open()) {
        qCWarning(lcWeb) << "Club server not reached:" << db.lastError().text().trimmed();
        retry.start();
        return;
    }
    QString failure;
    if (!db.driver()->subscribeToNotification(QString::fromLatin1(ServerSchema::Channel))
        || !ServerWeb::club(db, &club, &failure)) {
        lose(failure.isEmpty() ? db.driver()->lastError().text() : failure);
        return;
    }
    connect(db.driver(), &QSqlDriver::notification, this, &WebService::notified, Qt::UniqueConnection);
    status.state = WebPages::ServerState::Up;
    qCInfo(lcWeb) << "Club server reached; listening for its changes";
    if (!refresh(true))
        return;
    health.start();
    server->broadcast(statusEvent().toStdString());
}

void WebService::lose(const QString &why)
{
    if (status.state == WebPages::ServerState::Up) {
        qCWarning(lcWeb) << "Club server lost:" << why;
        status.state = WebPages::ServerState::Down;
        status.since = QDateTime::currentDateTimeUtc();
        server->broadcast(statusEvent().toStdString());
    }
    health.stop();
    if (db.driver())
        db.driver()->unsubscribeFromNotification(QString::fromLatin1(ServerSchema::Channel));
    db.close();
    retry.start();
}

void WebService::notified(const QString &channel)
{
    if (channel == QLatin1String(ServerSchema::Channel) && online())
        refresh(false);
}

void WebService::checkHealth()
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT 1")))
        lose(query.lastError().text().trimmed());
}

std::optional<NetView> WebService::readNet(const QString &id, QString *failure)
{
    std::optional<ServerWeb::Net> net;
    NetView view;
    int skipped = 0;
    QHash<QString, ServerWeb::Place> contacts;
    if (!ServerWeb::net(db, id, net, failure) || !net)
        return std::nullopt;
    view.net = *net;
    if (!ServerWeb::entries(db, id, view.entries, &skipped, failure) || !ServerWeb::places(db, id, contacts, failure))
        return std::nullopt;
    if (skipped > 0)
        qCWarning(lcWeb) << "Net" << id << ":" << skipped << "entries fail the checks and are not shown";
    for (const ServerWeb::Entry &entry : std::as_const(view.entries)) {
        const auto contact = contacts.constFind(entry.call);
        view.dots.append(places.dot(entry, contact == contacts.cend() ? nullptr : &*contact));
    }
    return view;
}

bool WebService::refresh(bool everything)
{
    QString failure;
    QList<ServerWeb::Net> nets, changed;
    qint64 latest = 0;
    if (!ServerWeb::latestSeq(db, &latest, &failure)
        || !ServerWeb::nets(db, QDateTime::currentDateTimeUtc().addSecs(-DayHours * 3600), 50, nets, &failure)
        || !ServerWeb::netsChangedAfter(db, everything ? 0 : seq, changed, &failure)) {
        lose(failure);
        return false;
    }
    QList<NetView> views;
    for (const ServerWeb::Net &net : std::as_const(nets)) {
        std::optional<NetView> view;
        bool stale = everything;
        for (const ServerWeb::Net &c : std::as_const(changed))
            stale = stale || c.id == net.id;
        for (const NetView &known : std::as_const(today)) {
            if (known.net.id == net.id && !stale)
                view = known;
        }
        if (!view && !(view = readNet(net.id, &failure))) {
            if (!failure.isEmpty()) {
                lose(failure);
                return false;
            }
            continue;
        }
        views.append(*view);
    }
    today = views;
    seq = latest;
    // Changed nets outside the day's go to their own pages' viewers only.
    for (const ServerWeb::Net &c : std::as_const(changed)) {
        const auto shown =
            std::find_if(today.cbegin(), today.cend(), [&](const NetView &view) { return view.net.id == c.id; });
        if (shown != today.cend()) {
            broadcastNet(*shown);
        } else if (!everything) {
            if (std::optional<NetView> view = readNet(c.id, &failure))
                server->broadcast(netEvent(*view).toStdString(), c.id.toStdString());
        }
    }
    return true;
}

void WebService::broadcastNet(const NetView &view)
{
    server->broadcast(netEvent(view).toStdString(), view.net.id.toStdString());
}

QByteArray WebService::netEvent(const NetView &view) const
{
    return "id: " + QByteArray::number(seq) + "\nevent: net\ndata: " + WebPages::netJson(view, club) + "\n\n";
}

QByteArray WebService::statusEvent() const
{
    return "event: status\ndata: " + WebPages::statusJson(status) + "\n\n";
}
