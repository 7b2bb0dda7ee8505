// trelvin-web as viewers meet it: started as a process against a throwaway
// club server, spoken to over loopback with plain sockets.

#include "clubjournal.h"

#include "checkin/netrules.h"
#include "web/httpserver.h"
#include "web/netview.h"
#include "web/webconfig.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

namespace {

struct Answer {
    int status = 0;
    QByteArray head;
    QByteArray body;
};

// One request on its own connection; the whole answer, read until closed.
Answer get(quint16 port, const QByteArray &target, const QByteArray &extra = QByteArray())
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    Answer answer;
    if (!socket.waitForConnected(5000))
        return answer;
    socket.write("GET " + target + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" + extra + "\r\n");
    QByteArray all;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 10000) {
        socket.waitForReadyRead(200);
        all += socket.readAll();
    }
    all += socket.readAll();
    const int split = int(all.indexOf("\r\n\r\n"));
    answer.head = all.left(split);
    answer.body = all.mid(split + 4);
    answer.status = all.mid(9, 3).toInt();
    return answer;
}

// A viewer's event stream, read as it comes.
class Stream {
public:
    bool open(quint16 port, const QByteArray &target = "/events", const QByteArray &resumeFrom = QByteArray())
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!socket.waitForConnected(5000))
            return false;
        socket.write("GET " + target + " HTTP/1.1\r\nHost: localhost\r\nAccept: text/event-stream\r\n"
                     + (resumeFrom.isEmpty() ? QByteArray() : "Last-Event-ID: " + resumeFrom + "\r\n") + "\r\n");
        QElapsedTimer clock;
        clock.start();
        while (!buffer.contains("\r\n\r\n") && clock.elapsed() < 5000) {
            socket.waitForReadyRead(100);
            buffer += socket.readAll();
        }
        const int split = int(buffer.indexOf("\r\n\r\n"));
        head = buffer.left(split);
        buffer = buffer.mid(split + 4);
        return split > 0;
    }
    // The next event of `kind` whose data satisfies `wanted`, within `ms`.
    std::optional<QJsonObject> next(const QByteArray &kind, int ms,
                                    const std::function<bool(const QJsonObject &)> &wanted = nullptr)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            int end;
            while ((end = int(buffer.indexOf("\n\n"))) >= 0) {
                const QByteArray event = buffer.left(end);
                buffer = buffer.mid(end + 2);
                QByteArray type, data;
                for (const QByteArray &line : event.split('\n')) {
                    if (line.startsWith("event: "))
                        type = line.mid(7);
                    else if (line.startsWith("data: "))
                        data = line.mid(6);
                    else if (line.startsWith("id: "))
                        lastId = line.mid(4);
                }
                const QJsonObject object = QJsonDocument::fromJson(data).object();
                if (type == kind && (!wanted || wanted(object)))
                    return object;
            }
            if (clock.elapsed() > ms || socket.state() != QAbstractSocket::ConnectedState)
                return std::nullopt;
            socket.waitForReadyRead(50);
            buffer += socket.readAll();
        }
    }
    QTcpSocket socket;
    QByteArray head;
    QByteArray buffer;
    QByteArray lastId;
};

QJsonObject entryOf(const QJsonObject &net, const QString &call)
{
    for (const QJsonValue &entry : net.value(QStringLiteral("entries")).toArray()) {
        if (entry.toObject().value(QStringLiteral("call")).toString() == call)
            return entry.toObject();
    }
    return QJsonObject();
}

} // namespace

class TestWebServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void settingsFromFileAndOptions();
    void pagesAreServedEscapedAndSealed();
    void onlyTheShippedFilesAreServed();
    void slowRequestsAndTooManyViewersAreTurnedAway();
    void changesReachOpenStreams();
    void restartedServiceLetsPagesCatchUp();
    void lostClubServerIsShownAndFoundAgain();
    void stalledViewerIsCutOffAlone();

private:
    // Starts trelvin-web on a free port; empty when it answers.
    QString startWeb(QProcess &process, quint16 &port, const QStringList &more = {});

    ClubJournal club;
    QProcess web;
    quint16 port = 0;
    QString net;
};

QString TestWebServer::startWeb(QProcess &process, quint16 &chosen, const QStringList &more)
{
    chosen = chosen ? chosen : quint16(PgServer::closedPort());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(TRELVIN_WEB),
                  QStringList{QStringLiteral("--config"), QStringLiteral("/dev/null"), QStringLiteral("--club"),
                              club.webConninfo(), QStringLiteral("--listen"),
                              QStringLiteral("127.0.0.1:%1").arg(chosen)}
                      + more);
    if (!process.waitForStarted(5000))
        return QStringLiteral("trelvin-web did not start");
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        if (get(chosen, "/").status == 200)
            return QString();
        if (process.state() != QProcess::Running)
            return QStringLiteral("trelvin-web ended: ") + QString::fromLocal8Bit(process.readAll());
        QTest::qWait(100);
    }
    return QStringLiteral("trelvin-web does not answer");
}

void TestWebServer::initTestCase()
{
    QString failure = club.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(club.server().admin(QStringLiteral("INSERT INTO trelvin_meta VALUES ('club_club', 'ARC<i>')")), QString());
    net = club.openNet(QStringLiteral("W7NCS"));
    QCOMPARE(club.send({club.entry(net, QStringLiteral("W7NCS"), NetRules::Ncs | NetRules::CheckedIn,
                                   QStringLiteral("Nora"), QStringLiteral("Ogden"), QStringLiteral("UT")),
                        club.entry(net, QStringLiteral("K7XSS"), NetRules::CheckedIn, QStringLiteral("<b>x</b>&'\""),
                                   QStringLiteral("<script>a</script>"), QStringLiteral("ID"))}),
             QString());
    failure = startWeb(web, port);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestWebServer::cleanupTestCase()
{
    web.terminate();
    web.waitForFinished(5000);
}

void TestWebServer::settingsFromFileAndOptions()
{
    WebConfig config;
    WebSettings::readFile("# comment\nclub = host=db user=trelvin_web password=a=b\nlisten = [::1]:9000\n"
                          "viewers = 30\n",
                          QStringLiteral("web.conf"), config);
    QCOMPARE(config.problem, QString());
    QCOMPARE(config.club, QStringLiteral("host=db user=trelvin_web password=a=b"));
    QCOMPARE(config.address, QStringLiteral("::1"));
    QCOMPARE(config.port, quint16(9000));
    QCOMPARE(config.viewers, 30);
    for (const char *bad : {"listen = 127.0.0.1", "listen = nowhere:80", "viewers = 0", "colour = red", "club"}) {
        WebConfig refused;
        WebSettings::readFile(bad, QStringLiteral("web.conf"), refused);
        QVERIFY2(refused.problem.startsWith(QStringLiteral("web.conf, line 1: not a setting")), bad);
    }
    const WebConfig options = WebSettings::fromArguments(
        {QStringLiteral("trelvin-web"), QStringLiteral("--config"), QStringLiteral("/dev/null"),
         QStringLiteral("--club"), QStringLiteral("dbname=x"), QStringLiteral("--listen"), QStringLiteral(":8081")});
    QCOMPARE(options.problem, QString());
    QCOMPARE(options.port, quint16(8081));
    QVERIFY(!WebSettings::fromArguments(
                 {QStringLiteral("trelvin-web"), QStringLiteral("--config"), QStringLiteral("/dev/null")})
                 .problem.isEmpty());
}

void TestWebServer::pagesAreServedEscapedAndSealed()
{
    const Answer today = get(port, "/");
    QCOMPARE(today.status, 200);
    QVERIFY(today.body.contains("&lt;b&gt;x&lt;/b&gt;&amp;&#39;&quot;"));
    QVERIFY(today.body.contains("&lt;script&gt;a&lt;/script&gt;"));
    QVERIFY(today.body.contains("ARC&lt;i&gt; net of W7NCS"));
    QVERIFY(!today.body.contains("<b>x") && !today.body.contains("<script>a") && !today.body.contains("<i>"));
    // The page's own script only, never one inline; no cookie.
    QVERIFY(today.head.contains("Content-Security-Policy: default-src 'none'; script-src 'self';"));
    QVERIFY(!today.head.toLower().contains("set-cookie"));
    QVERIFY(!today.body.contains("<script>") && today.body.contains("<script src=\"/static/app.js\" defer>"));
    QVERIFY(today.body.contains("<noscript><meta http-equiv=\"refresh\" content=\"30\"></noscript>"));
    QVERIFY(today.body.contains("<tr class=\"ink-ncs paper-ncs\"><td class=\"no\">1</td><td class=\"sc\">NC</td>"));
    QVERIFY(today.body.contains("<td class=\"sc\">-C</td><td class=\"call\">K7XSS</td>"));
    // Dots of both stations, net control marked; from their states' centres.
    QCOMPARE(today.body.count("<circle class=\"dot"), 2);
    QCOMPARE(today.body.count("<circle class=\"dot ncs\""), 1);

    const Answer json = get(port, "/api/net/" + net.toLatin1());
    QCOMPARE(json.status, 200);
    QVERIFY(json.head.contains("Content-Type: application/json"));
    const QJsonObject object = QJsonDocument::fromJson(json.body).object();
    QCOMPARE(object.value(QStringLiteral("stations")).toInt(), 2);
    QCOMPARE(entryOf(object, QStringLiteral("K7XSS")).value(QStringLiteral("name")).toString(),
             QStringLiteral("<b>x</b>&'\""));
    QCOMPARE(entryOf(object, QStringLiteral("K7XSS")).value(QStringLiteral("code")).toString(), QStringLiteral("-C"));

    QCOMPARE(get(port, "/net/" + net.toLatin1()).status, 200);
    const Answer nets = get(port, "/nets");
    QCOMPARE(nets.status, 200);
    QVERIFY(nets.body.contains("<a href=\"/net/" + net.toLatin1() + "\">"));
    QCOMPARE(get(port, "/net/" + QByteArray(32, '0')).status, 404);
    QCOMPARE(get(port, "/api/net/" + QByteArray(32, '0')).status, 404);
}

void TestWebServer::onlyTheShippedFilesAreServed()
{
    const Answer script = get(port, "/static/app.js");
    QCOMPARE(script.status, 200);
    QVERIFY(script.head.contains("Content-Type: text/javascript"));
    QVERIFY(get(port, "/static/states.svg").body.startsWith("<svg"));
    for (const char *target :
         {"/static/../CMakeLists.txt", "/static/%2e%2e/%2e%2e/etc/passwd", "/../../etc/passwd", "/static/",
          "/static/app.js/..", "//etc/passwd", "/net/../static/app.js", "/info/ZIP_Info.csv", "/web/static/app.js"}) {
        const Answer answer = get(port, target);
        QVERIFY2(answer.status == 404 || answer.status == 400, target);
        QVERIFY2(!answer.body.contains("root:") && !answer.body.contains("use strict"), target);
    }
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    QVERIFY(socket.waitForConnected(5000));
    socket.write("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
    QVERIFY(socket.waitForReadyRead(5000));
    QVERIFY(socket.readAll().startsWith("HTTP/1.1 405"));
}

void TestWebServer::slowRequestsAndTooManyViewersAreTurnedAway()
{
    // Headers that never end are given up on after 10 s.
    QTcpSocket slow;
    slow.connectToHost(QStringLiteral("127.0.0.1"), port);
    QVERIFY(slow.waitForConnected(5000));
    slow.write("GET / HTTP/1.1\r\nHost: x\r\n");
    QElapsedTimer clock;
    clock.start();
    while (slow.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 20000) {
        slow.write("X-Slow: 1\r\n");
        slow.waitForDisconnected(1000);
    }
    QCOMPARE(slow.state(), QAbstractSocket::UnconnectedState);
    QVERIFY2(clock.elapsed() >= 9000 && clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(get(port, "/", "X-Big: " + QByteArray(20000, 'x') + "\r\n").status == 431);

    QProcess small;
    quint16 smallPort = 0;
    const QString failure = startWeb(small, smallPort, {QStringLiteral("--viewers"), QStringLiteral("2")});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    Stream one, two, three;
    QVERIFY(one.open(smallPort) && two.open(smallPort) && three.open(smallPort));
    QVERIFY(one.head.startsWith("HTTP/1.1 200") && two.head.startsWith("HTTP/1.1 200"));
    QVERIFY2(three.head.startsWith("HTTP/1.1 503"), three.head.constData());
    QVERIFY(one.head.contains("Content-Type: text/event-stream"));
    // A place frees when a viewer leaves.
    one.socket.abort();
    QByteArray fourth;
    QTRY_VERIFY2_WITH_TIMEOUT(
        [&] {
            Stream four;
            four.open(smallPort);
            fourth = four.head;
            return four.head.startsWith("HTTP/1.1 200");
        }(),
        fourth.constData(), 5000);
    small.terminate();
    small.waitForFinished(5000);
}

void TestWebServer::changesReachOpenStreams()
{
    Stream viewer, single;
    QVERIFY(viewer.open(port));
    QVERIFY(single.open(port, "/events?net=" + net.toLatin1()));
    QVERIFY(viewer.next("status", 2000, [](const QJsonObject &s) { return s.value("server") == "up"; }));
    QVERIFY(viewer.next("net", 2000));
    QVERIFY(single.next("net", 2000));

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(club.send({club.entry(net, QStringLiteral("K7NEW"), NetRules::CheckedIn | NetRules::Mobile,
                                   QStringLiteral("Ned"))}),
             QString());
    const auto hasNew = [](const QJsonObject &n) { return !entryOf(n, QStringLiteral("K7NEW")).isEmpty(); };
    QVERIFY(viewer.next("net", 5000, hasNew));
    qInfo() << "check-in reached a viewer after" << clock.elapsed() << "ms";
    QVERIFY(single.next("net", 5000, hasNew));

    // A withdrawal and a role change.
    QCOMPARE(club.send({club.entry(net, QStringLiteral("K7NEW"), NetRules::Mobile, QStringLiteral("Ned")),
                        club.entry(net, QStringLiteral("K7XSS"), NetRules::CheckedIn | NetRules::Relay)}),
             QString());
    const auto changed = viewer.next("net", 5000, [](const QJsonObject &n) {
        return entryOf(n, QStringLiteral("K7NEW")).value("withdrawn").toBool()
               && entryOf(n, QStringLiteral("K7XSS")).value("code").toString() == QLatin1String("RC");
    });
    QVERIFY(changed);
    QCOMPARE(entryOf(*changed, QStringLiteral("K7NEW")).value("code").toString(), QStringLiteral("M-"));
    QCOMPARE(changed->value("checkins").toInt(), 2);
    QVERIFY(!viewer.lastId.isEmpty());
}

void TestWebServer::restartedServiceLetsPagesCatchUp()
{
    Stream before;
    QVERIFY(before.open(port));
    QVERIFY(before.next("net", 2000));
    const QByteArray seen = before.lastId;
    web.terminate();
    QVERIFY(web.waitForFinished(5000));
    QCOMPARE(club.send({club.entry(net, QStringLiteral("K7GAP"), NetRules::CheckedIn)}), QString());
    const QString failure = startWeb(web, port);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    // The page comes back with the id of the last event it saw.
    Stream after;
    QVERIFY(after.open(port, "/events", seen));
    QVERIFY(
        after.next("net", 3000, [](const QJsonObject &n) { return !entryOf(n, QStringLiteral("K7GAP")).isEmpty(); }));
    QVERIFY(after.lastId.toLongLong() > seen.toLongLong());
    // Up to date: nothing to catch up on.
    Stream current;
    QVERIFY(current.open(port, "/events", after.lastId));
    QVERIFY(current.next("status", 2000));
    QVERIFY(!current.next("net", 500));
}

void TestWebServer::lostClubServerIsShownAndFoundAgain()
{
    Stream viewer;
    QVERIFY(viewer.open(port));
    QVERIFY(viewer.next("status", 2000));
    club.server().stop();
    const auto down = viewer.next("status", 15000, [](const QJsonObject &s) { return s.value("server") == "down"; });
    QVERIFY(down);
    QVERIFY(!down->value("since").toString().isEmpty());
    // The page still shows the nets it had, and says the server is gone.
    const Answer page = get(port, "/");
    QCOMPARE(page.status, 200);
    QVERIFY(page.body.contains("offline since"));
    QVERIFY(page.body.contains("K7GAP"));
    QCOMPARE(get(port, "/nets").status, 503);

    QVERIFY(club.server().restart().isEmpty());
    QVERIFY(viewer.next("status", 15000, [](const QJsonObject &s) { return s.value("server") == "up"; }));
    QCOMPARE(club.send({club.entry(net, QStringLiteral("K7BACK"), NetRules::CheckedIn)}), QString());
    QVERIFY(
        viewer.next("net", 5000, [](const QJsonObject &n) { return !entryOf(n, QStringLiteral("K7BACK")).isEmpty(); }));
}

// The HTTP side alone: a viewer that reads nothing is cut off once its
// share of memory is full, and the others get every byte meanwhile.
void TestWebServer::stalledViewerIsCutOffAlone()
{
    HttpServer::Limits limits;
    limits.viewerBytes = 64 * 1024;
    limits.writeTime = std::chrono::milliseconds(2000);
    HttpServer server(limits, [](const HttpServer::Request &, const HttpServer::Reply &reply) {
        HttpServer::Response response;
        response.stream = true;
        response.type = "text/event-stream";
        reply(response);
    });
    std::string error;
    QVERIFY(server.listen("127.0.0.1", 0, &error));
    Stream reader;
    QTcpSocket stalled;
    stalled.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    // Qt reads no more once its own buffer holds this much.
    stalled.setReadBufferSize(1024);
    stalled.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    QVERIFY(stalled.waitForConnected(5000));
    stalled.write("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
    stalled.waitForBytesWritten(1000);
    QVERIFY(reader.open(server.port()));
    QTRY_COMPARE_WITH_TIMEOUT(server.viewers(), std::size_t(2), 5000);
    const std::string event = "event: net\ndata: " + std::string(8000, 'x') + "\n\n";
    int received = 0;
    for (int i = 0; i < 400; ++i) {
        server.broadcast(event);
        while (reader.next("net", 0))
            ++received;
        QTest::qWait(2);
    }
    while (received < 400 && reader.next("net", 3000))
        ++received;
    QCOMPARE(received, 400);
    QTRY_COMPARE_WITH_TIMEOUT(server.viewers(), std::size_t(1), 5000);
    server.stop();
}

QTEST_GUILESS_MAIN(TestWebServer)
#include "tst_webserver.moc"
