#include "fakehttp.h"
#include "testsupport.h"

#include "app/settings.h"
#include "app/trelvin.h"
#include "checkin/textrules.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "jobs/bulkjob.h"
#include "lookup/lookupcontroller.h"
#include "lookup/qrzclient.h"
#include "lookup/qrzrecord.h"
#include "net/netreply.h"
#include "ui_contact.h"
#include "ui_station.h"
#include "ui_trelvin.h"
#include "updates/updatecheck.h"

#include <QAction>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QSettings>
#include <QSqlQuery>
#include <QStatusBar>
#include <QtTest>

namespace {

using Fields = QList<QPair<QByteArray, QByteArray>>;

const QByteArray Login = "/xml/current/?username=";
const QByteArray Lookup = "/xml/current/?s=";

// A complete record in the service's element order, upper case as it comes.
Fields fullRecord()
{
    return {{"call", "w1aw"},
            {"fname", "MARY ANN"},
            {"name", "VAN DYKE"},
            {"addr1", "123 MAIN ST"},
            {"addr2", "SALT LAKE CITY"},
            {"state", "ut"},
            {"zip", "84101"},
            {"country", "UNITED STATES"},
            {"lat", "40.7608"},
            {"lon", "-111.8910"},
            {"grid", "DN40bs"},
            {"class", "t"},
            {"expdate", "2030-01-01"},
            {"email", "mary@example.org"},
            {"GMTOffset", "-5"},
            {"DST", "Y"},
            {"geoloc", "user"},
            {"born", "1960"}};
}

Fields without(Fields fields, const QByteArray &name)
{
    fields.erase(std::remove_if(fields.begin(), fields.end(), [&](const auto &f) { return f.first == name; }),
                 fields.end());
    return fields;
}

Fields with(Fields fields, const QByteArray &name, const QByteArray &text)
{
    for (auto &field : fields) {
        if (field.first == name)
            field.second = text;
    }
    return fields;
}

// The value of `key` in a recorded request target, decoded. Pairs are split
// at & and at the service's ; separator.
QString queryValue(const QByteArray &target, const QByteArray &key)
{
    const QByteArray query = target.mid(target.indexOf('?') + 1);
    for (QByteArray pair : query.split('&')) {
        for (const QByteArray &part : pair.split(';')) {
            if (part.startsWith(key + "="))
                return QString::fromUtf8(QByteArray::fromPercentEncoding(part.mid(key.size() + 1)));
        }
    }
    return QStringLiteral("<missing>");
}

// Shortens the client's time limits; the reply cap stays.
void setTimeLimits(QrzClient *client, int idleMs, int totalMs)
{
    Net::Limits limits = client->limits();
    limits.idleMs = idleMs;
    limits.totalMs = totalMs;
    client->setLimits(limits);
}

// This station's stored row: call, passwd, state, lat, lon, grid, utc, dst.
void seedStation(const Runtime &rt, const QStringList &row)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
        db.setDatabaseName(rt.dataPath() + "/Contacts.db");
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(
            QStringLiteral("CREATE TABLE IF NOT EXISTS station (call TEXT, passwd TEXT, state TEXT, lat TEXT, "
                           "lon TEXT, grid TEXT, utc TEXT, dst TEXT)")));
        query.prepare(
            "INSERT INTO station (call, passwd, state, lat, lon, grid, utc, dst) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        for (const QString &value : row)
            query.addBindValue(value);
        QVERIFY(query.exec());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));
}

// A runtime whose QRZ service is the fake, with the update check off.
struct Rig {
    Runtime rt;
    FakeHttp http;
    Trelvin *w = nullptr;
    int logMark = 0;

    Rig()
    {
        rt.installInfo("State_Info.csv");
        rt.addEmptyRoster();
        QVERIFY(http.listen());
        writeMain("QrzServer", http.base());
        writeMain("AutoUpdate", false);
        http.on(Login, FakeHttp::answer(QrzXml::session("KEY1")));
    }

    LookupController *lookups() const { return w->findChild<LookupController *>(); }
    QrzClient *qrz() const { return lookups()->qrzClient(); }

    QStringList logLines() const
    {
        QStringList lines;
        for (const QString &line : rt.readData("errorLog.txt").split('\n', Qt::SkipEmptyParts)) {
            // Without a keyring a stored password is noted once (tst_secrets).
            if (!line.contains(QLatin1String("stored unencrypted")))
                lines.append(line.mid(20)); // "MM/dd/yyyy hh:mm:ss "
        }
        return lines;
    }
    QStringList newLogLines() const { return logLines().mid(logMark); }

    // From here on, boxes, log lines and requests count afresh.
    void mark()
    {
        rt.prompter.clear();
        http.requests.clear();
        logMark = int(logLines().size());
    }

    // Start-up with this station stored, so it logs in at once.
    Trelvin *startLoggedIn(const QStringList &row = {"K7ABC", "secret", "CO", "40.0", "-105.0", "DN70ma", "-7", "Y"})
    {
        seedStation(rt, row);
        w = rt.start();
        if (!QTest::qWaitFor([this] { return STATION(w, connectStatus)->text() == "Connected"; }))
            return nullptr;
        mark();
        return w;
    }
};

} // namespace

class TestQrz : public QObject {
    Q_OBJECT

private slots:
    void loginOutcomes_data();
    void loginOutcomes();
    void loginSendsCredentialsEncoded();
    void missingCredentials();
    void noNetworkAtStartup();
    void silentServerEndsAsFailure();
    void tricklingLoginEnds();
    void redirects_data();
    void redirects();
    void redirectRule_data();
    void redirectRule();
    void oversizedReplies_data();
    void oversizedReplies();
    void serverSettings();

    void recordCleanUp_data();
    void recordCleanUp();
    void lookUpFillsMainWindowAndDialog();
    void lookUpRejectedCall();
    void lookUpFallsBackToHamQth_data();
    void lookUpFallsBackToHamQth();
    void lookUpAnsweredByAnotherPage_data();
    void lookUpAnsweredByAnotherPage();
    void contactLookUp_data();
    void contactLookUp();
    void notConnectedSendsNothing();
    void replyInPiecesGivesSameRecord();
    void repliesInFlightDoNotCross();

    void stationFetch();
    void stationSave();

    void rosterRun();
    void rosterRunAsksOncePerCall();
    void rosterRunRefusals();
    void rosterRunSurvivesSilentAndTricklingServers();
};

void TestQrz::loginOutcomes_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("connectStatus");
    QTest::addColumn<QString>("expire");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QStringList>("log");

    const QString disconnected = "QRZ Login Error or No Internet Connection.";
    QTest::newRow("subscriber") << 200 << QrzXml::session("KEY1", "Thu Dec 31 00:00:00 2026") << "Connected"
                                << "Dec 31, 2026"
                                << "KEY1" << QStringList() << QStringList();
    QTest::newRow("one-digit day") << 200 << QrzXml::session("KEY1", "Wed Jan 1 12:34:03 2013") << "Connected"
                                   << "Jan 1, 2013"
                                   << "KEY1" << QStringList() << QStringList();
    QTest::newRow("non-subscriber") << 200 << QrzXml::session("KEY2", "non-subscriber") << "Connected"
                                    << "Unsubscribed"
                                    << "KEY2" << QStringList{"Non QRZ XML Data Subscriber"} << QStringList();
    QTest::newRow("refused") << 200 << QrzXml::session("", "", "Username/password incorrect") << "Disconnected"
                             << ""
                             << "OLDKEY" << QStringList{"QRZ Login Error"}
                             << QStringList{"Station Call or QRZ Passwd error connecting to QRZ database.",
                                            disconnected};
    // An error page is no answer from the service.
    QTest::newRow("HTTP error") << 500 << QByteArray("<html><body>Internal error</body></html>") << "Disconnected"
                                << ""
                                << "OLDKEY" << QStringList()
                                << QStringList{"QRZ login failed: The server answered HTTP 500 Error", disconnected};
    // A 200 that is not the service logging us in is no log-in either.
    const QString notXml = "QRZ login failed: The reply is not QRZ XML data.";
    QTest::newRow("portal page") << 200
                                 << QByteArray("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head>"
                                               "<body>Sign in to the hotel network</body></html>")
                                 << "Disconnected"
                                 << ""
                                 << "OLDKEY" << QStringList() << QStringList{notXml, disconnected};
    const QByteArray whole = QrzXml::session("CUTKEY");
    QTest::newRow("cut after the key") << 200 << whole.left(whole.indexOf("</Key>") + 6) << "Disconnected"
                                       << ""
                                       << "OLDKEY" << QStringList() << QStringList{notXml, disconnected};
    QTest::newRow("garbage") << 200 << QByteArray("\x01\x02 garbage \xff") << "Disconnected"
                             << ""
                             << "OLDKEY" << QStringList() << QStringList{notXml, disconnected};
    QTest::newRow("no key") << 200 << QrzXml::session("", "") << "Disconnected"
                            << ""
                            << "OLDKEY" << QStringList()
                            << QStringList{"QRZ login failed: The reply holds no session key.", disconnected};
}

void TestQrz::loginOutcomes()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, connectStatus);
    QFETCH(QString, expire);
    QFETCH(QString, key);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, log);

    Rig rig;
    rig.w = rig.rt.start();
    // The key of an earlier session, ended for want of a password.
    rig.http.on(Login, FakeHttp::answer(QrzXml::session("OLDKEY")));
    QVERIFY(rig.qrz()->login("K7ABC", "secret"));
    QTRY_COMPARE(rig.qrz()->sessionKey(), QStringLiteral("OLDKEY"));
    QVERIFY(!rig.qrz()->login("K7ABC", ""));
    STATION(rig.w, expire)->clear();
    rig.mark();
    rig.http.on(Login, FakeHttp::answer(body, status));
    STATION(rig.w, call)->setText("K7ABC");
    STATION(rig.w, pwd)->setText("secret");

    STATION(rig.w, connectQRZ)->click();
    // Every outcome but success leaves a log line; success leaves the key.
    QTRY_VERIFY(!rig.newLogLines().isEmpty() || rig.qrz()->sessionKey() != "OLDKEY");
    QCOMPARE(rig.http.requests.size(), 1);
    QCOMPARE(STATION(rig.w, connectStatus)->text(), connectStatus);
    QCOMPARE(rig.newLogLines(), log);

    QCOMPARE(rig.qrz()->isConnected(), connectStatus == "Connected");
    QCOMPARE(STATION(rig.w, connectStatus)->palette().color(QPalette::Text),
             (connectStatus == "Connected" ? themeOf(rig.w)->good() : themeOf(rig.w)->alert()).color(QPalette::Text));
    QCOMPARE(STATION(rig.w, expire)->text(), expire);
    QCOMPARE(rig.qrz()->sessionKey(), key);
    QCOMPARE(rig.rt.prompter.titles(), boxes);
    for (const auto &box : rig.rt.prompter.calls) {
        QCOMPARE(box.kind, Prompter::Warning);
        if (box.title == "QRZ Login Error")
            QCOMPARE(box.text, QStringLiteral("Error: Username/password incorrect.\nWhere:\n   Username is the "
                                              "'Station' Call.\n   Password is your QRZ Passwd\nData entered with "
                                              "the 'Station Details' menu item.\nPlease correct entries and try "
                                              "again."));
        else
            QCOMPARE(box.text, QStringLiteral("Warning: You are a Non-Subscriber to the QRZ XML Data.\nA "
                                              "subscription is required to access a complete record.\nYou can only "
                                              "retrieve Call, First Name, City, & State data\nand are limited to "
                                              "100 Call Record retrievals a day.\n"));
    }
}

void TestQrz::loginSendsCredentialsEncoded()
{
    Rig rig;
    rig.w = rig.rt.start();
    rig.mark();
    STATION(rig.w, call)->setText("k7abc");
    STATION(rig.w, pwd)->setText("a&b;c#d+e f");
    STATION(rig.w, connectQRZ)->click();
    QTRY_COMPARE(STATION(rig.w, connectStatus)->text(), QStringLiteral("Connected"));

    QCOMPARE(rig.http.requests.size(), 1);
    const QByteArray target = rig.http.requests.first();
    QVERIFY2(target.startsWith("/xml/current/?username="), target);
    QCOMPARE(queryValue(target, "username"), QStringLiteral("K7ABC"));
    QCOMPARE(queryValue(target, "password"), QStringLiteral("a&b;c#d+e f"));
    // Nothing of the password shows unescaped.
    QVERIFY2(!target.contains(' ') && !target.contains('#') && !target.contains('+'), target);
}

void TestQrz::missingCredentials()
{
    Rig rig;
    rig.w = rig.rt.start();

    // A fresh start has no station record yet.
    QCOMPARE(rig.rt.prompter.titles().count("QRZ XML Database Connection "), 1);
    for (const auto &box : rig.rt.prompter.calls) {
        if (box.title != "QRZ XML Database Connection ")
            continue;
        QCOMPARE(box.kind, Prompter::Information);
        QCOMPARE(box.text, QStringLiteral("Connection to the QRZ XML Database\nrequires your Station Call and QRZ "
                                          "Passwd.\nPlease enter Call and/or QRZ Passwd in\n'Setup->Station "
                                          "Details'\nand then Click on 'Connect QRZ'."));
    }
    QCOMPARE(rig.logLines().last(), QStringLiteral("Station Call or QRZ Passwd is missing."));
    QCOMPARE(STATION(rig.w, connectStatus)->text(), QStringLiteral("Disconnected"));

    // After a good login, an emptied password ends the session without asking.
    STATION(rig.w, call)->setText("K7ABC");
    STATION(rig.w, pwd)->setText("secret");
    STATION(rig.w, connectQRZ)->click();
    QTRY_VERIFY(rig.qrz()->isConnected());
    QTRY_COMPARE(STATION(rig.w, connectStatus)->text(), QStringLiteral("Connected"));
    rig.mark();
    STATION(rig.w, pwd)->clear();
    STATION(rig.w, connectQRZ)->click();
    QVERIFY(!rig.qrz()->isConnected());
    QCOMPARE(rig.rt.prompter.titles(), QStringList{"QRZ XML Database Connection "});
    QCOMPARE(rig.newLogLines(), QStringList{"Station Call or QRZ Passwd is missing."});
    QTest::qWait(50);
    QVERIFY(rig.http.requests.isEmpty());
    // The status field is left as it was.
    QCOMPARE(STATION(rig.w, connectStatus)->text(), QStringLiteral("Connected"));
}

void TestQrz::noNetworkAtStartup()
{
    Rig rig;
    writeMain("QrzServer", QStringLiteral("http://127.0.0.1:%1").arg(FakeHttp::closedPort()));
    seedStation(rig.rt, {"K7ABC", "secret", "CO", "40.0", "-105.0", "DN70ma", "-7", "Y"});
    rig.w = rig.rt.start();
    QTRY_COMPARE(rig.logLines(),
                 (QStringList{"QRZ login failed: Connection refused", "QRZ Login Error or No Internet Connection."}));
    QCOMPARE(STATION(rig.w, connectStatus)->text(), QStringLiteral("Disconnected"));
    QVERIFY(rig.rt.prompter.calls.isEmpty());
    QVERIFY(!rig.qrz()->isConnected());
}

void TestQrz::silentServerEndsAsFailure()
{
    Rig rig;
    rig.w = rig.rt.start();
    rig.mark();
    Trelvin *w = rig.w;
    setTimeLimits(rig.qrz(), 300, Net::ReplyLimits.totalMs);
    rig.http.on(Login, FakeHttp::silence());
    rig.http.on(Lookup, FakeHttp::silence());

    QElapsedTimer clock;
    clock.start();
    STATION(rig.w, call)->setText("K7ABC");
    STATION(rig.w, pwd)->setText("secret");
    STATION(rig.w, connectQRZ)->click();
    QTRY_COMPARE_WITH_TIMEOUT(rig.newLogLines(),
                              (QStringList{"QRZ login failed: The server did not answer in time.",
                                           "QRZ Login Error or No Internet Connection."}),
                              3000);
    QVERIFY2(clock.elapsed() >= 250, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rig.http.requests.size(), 1);
    QCOMPARE(STATION(rig.w, connectStatus)->text(), QStringLiteral("Disconnected"));
    QVERIFY(rig.rt.prompter.calls.isEmpty());

    // A silent look-up ends in the window, not with the previous station.
    rig.http.on(Login, FakeHttp::answer(QrzXml::session("KEY1")));
    STATION(rig.w, connectQRZ)->click();
    QTRY_COMPARE(STATION(rig.w, connectStatus)->text(), QStringLiteral("Connected"));
    rig.http.on(Lookup, FakeHttp::answer(QrzXml::callsign({{"call", "K0OLD"}, {"addr2", "ELSEWHERE"}}, "KEY1")));
    FORM(w, call)->setText("k0old");
    FORM(w, lookUpButton)->click();
    QTRY_COMPARE(FORM(w, city)->text(), QStringLiteral("Elsewhere"));
    rig.http.on(Lookup, FakeHttp::silence());
    FORM(w, search)->setText("w9x");
    FORM(w, call)->setText("w9xyz");
    FORM(w, name)->setText("Somebody");
    FORM(w, lookUpButton)->click();
    QTRY_COMPARE_WITH_TIMEOUT(FORM(w, city)->text(), QStringLiteral("No answer from QRZ"), 3000);
    QCOMPARE(rig.newLogLines().last(),
             QStringLiteral("QRZ look-up of W9XYZ failed: The server did not answer in time."));
    QCOMPARE(FORM(w, call)->text(), QStringLiteral("W9X"));
    QCOMPARE(FORM(w, name)->text(), QString());
    QCOMPARE(FORM(w, city)->palette().color(QPalette::Text), themeOf(w)->alert().color(QPalette::Text));
    QTRY_VERIFY(
        w->findChild<QNetworkAccessManager *>(QStringLiteral("network"))->findChildren<QNetworkReply *>().isEmpty());

    // Closing down with a request still in flight is quiet.
    setTimeLimits(rig.qrz(), Net::ReplyLimits.idleMs, Net::ReplyLimits.totalMs);
    rig.mark();
    FORM(w, lookUpButton)->click();
    QTRY_COMPARE(rig.http.requests.size(), 1);
    rig.rt.stop();
    QTest::qWait(50);
    QVERIFY(rig.rt.prompter.calls.isEmpty());
}

void TestQrz::tricklingLoginEnds()
{
    Rig rig;
    rig.w = rig.rt.start();
    rig.mark();
    setTimeLimits(rig.qrz(), Net::ReplyLimits.idleMs, 400);
    // Each byte comes well within the idle time-out; the whole would take 30 s.
    rig.http.on(Login, FakeHttp::trickling(QrzXml::session("SLOWKEY"), 100));
    STATION(rig.w, call)->setText("K7ABC");
    STATION(rig.w, pwd)->setText("secret");
    STATION(rig.w, connectQRZ)->click();

    QTRY_COMPARE(rig.newLogLines(), (QStringList{"QRZ login failed: The server did not finish its answer in time.",
                                                 "QRZ Login Error or No Internet Connection."}));
    QCOMPARE(STATION(rig.w, connectStatus)->text(), QStringLiteral("Disconnected"));
    QVERIFY(rig.qrz()->sessionKey().isEmpty());
    QTRY_VERIFY(rig.w->findChild<QNetworkAccessManager *>(QStringLiteral("network"))
                    ->findChildren<QNetworkReply *>()
                    .isEmpty());
}

void TestQrz::redirects_data()
{
    QTest::addColumn<QByteArray>("location"); // OTHER: the port of a second server
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("another host") << QByteArray("http://localhost:OTHER/xml/current/?username=K7ABC") << ""
                                  << QStringList{"QRZ login failed: The server sent the request on to "
                                                 "http://localhost:OTHER/xml/current/; that address was not "
                                                 "followed.",
                                                 "QRZ Login Error or No Internet Connection."};
    // A move on the configured host is the service's own business.
    QTest::newRow("same host") << QByteArray("/moved/login") << "MOVEDKEY" << QStringList();
}

void TestQrz::redirects()
{
    QFETCH(QByteArray, location);
    QFETCH(QString, key);
    QFETCH(QStringList, log);

    Rig rig;
    FakeHttp other;
    QVERIFY(other.listen());
    const QByteArray port = QByteArray::number(other.port());
    other.on("/", FakeHttp::answer(QrzXml::session("FOREIGNKEY")));
    rig.w = rig.rt.start();
    rig.mark();
    FakeHttp::Response moved = FakeHttp::answer("");
    moved.status = 302;
    moved.location = location.replace("OTHER", port);
    rig.http.on(Login, moved);
    rig.http.on("/moved/", FakeHttp::answer(QrzXml::session("MOVEDKEY")));
    STATION(rig.w, call)->setText("K7ABC");
    STATION(rig.w, pwd)->setText("secret");
    STATION(rig.w, connectQRZ)->click();

    QTRY_VERIFY(!rig.newLogLines().isEmpty() || !rig.qrz()->sessionKey().isEmpty());
    QCOMPARE(rig.qrz()->sessionKey(), key);
    QCOMPARE(rig.qrz()->isConnected(), !key.isEmpty());
    for (QString &line : log)
        line.replace("OTHER", port);
    QCOMPARE(rig.newLogLines(), log);
    QVERIFY(other.requests.isEmpty());
}

void TestQrz::redirectRule_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("host in capitals") << "https://xmldata.qrz.com/a"
                                      << "https://XMLDATA.QRZ.COM/b" << true;
    QTest::newRow("up to https") << "http://xmldata.qrz.com/a"
                                 << "https://xmldata.qrz.com/a" << true;
    QTest::newRow("down to http") << "https://xmldata.qrz.com/a"
                                  << "http://xmldata.qrz.com/a" << false;
    QTest::newRow("other host") << "https://xmldata.qrz.com/a"
                                << "https://xmldata.qrz.com.example.net/a" << false;
}

void TestQrz::redirectRule()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, allowed);
    QCOMPARE(Net::redirectAllowed(QUrl(from), QUrl(to)), allowed);
}

void TestQrz::oversizedReplies_data()
{
    QTest::addColumn<bool>("announced");
    QTest::newRow("length announced") << true;
    QTest::newRow("no length, counted") << false;
}

void TestQrz::oversizedReplies()
{
    QFETCH(bool, announced);

    Rig rig;
    QVERIFY(rig.startLoggedIn());
    Trelvin *w = rig.w;
    // A well-formed record that would show, but for its size.
    Fields padded = fullRecord();
    padded.append({"bio", QByteArray(int(Net::ReplyLimitBytes) + 1000, 'x')});
    FakeHttp::Response huge = FakeHttp::answer(QrzXml::callsign(padded, "KEY2"));
    huge.noLength = !announced;
    rig.http.on(Lookup, huge);

    FORM(w, search)->setText("w1a");
    FORM(w, call)->setText("w1aw");
    FORM(w, lookUpButton)->click();
    QTRY_COMPARE(FORM(w, city)->text(), QStringLiteral("No answer from QRZ"));
    QCOMPARE(rig.newLogLines(),
             QStringList{"QRZ look-up of W1AW failed: The server's reply is larger than 1 MB; it was not read."});
    QCOMPARE(rig.qrz()->sessionKey(), QStringLiteral("KEY1"));
    QCOMPARE(CONTACT(rig.w, fname)->text(), QString());
    QTRY_VERIFY(
        w->findChild<QNetworkAccessManager *>(QStringLiteral("network"))->findChildren<QNetworkReply *>().isEmpty());

    // A reply just under the limit is an answer.
    rig.mark();
    padded.last().second.resize(int(Net::ReplyLimitBytes) - 2000);
    FakeHttp::Response large = FakeHttp::answer(QrzXml::callsign(padded, "KEY3"));
    large.noLength = !announced;
    rig.http.on(Lookup, large);
    FORM(w, lookUpButton)->click();
    QTRY_COMPARE(FORM(w, city)->text(), QStringLiteral("Salt Lake City"));
    QCOMPARE(rig.qrz()->sessionKey(), QStringLiteral("KEY3"));
    QVERIFY(rig.newLogLines().isEmpty());
}

void TestQrz::serverSettings()
{
    Rig rig;
    {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Quenlor", "Trelvin");
        settings.remove("Main/QrzServer");
    }
    rig.w = rig.rt.start();
    QCOMPARE(rig.qrz()->server(), QStringLiteral("https://xmldata.qrz.com"));
    QCOMPARE(rig.w->findChild<UpdateCheck *>()->server(), QString());
    QCOMPARE(rig.qrz()->url("s=K;callsign=W1AW").toString(),
             QStringLiteral("https://xmldata.qrz.com/xml/current/?s=K;callsign=W1AW"));

    rig.qrz()->setServer("http://127.0.0.1:9/");
    rig.w->findChild<UpdateCheck *>()->setServer("https://updates.example.org");
    FORM(rig.w, actionExit)->trigger();
    QSettings settings(rig.rt.settingsFile(), QSettings::IniFormat);
    QCOMPARE(settings.value("Main/QrzServer").toString(), QStringLiteral("http://127.0.0.1:9/"));
    QCOMPARE(settings.value("Main/UpdateServer").toString(), QStringLiteral("https://updates.example.org"));
    rig.rt.stop();
    rig.w = rig.rt.start();
    // A trailing slash does not double the one of the path.
    QCOMPARE(rig.qrz()->url("s=K").toString(), QStringLiteral("http://127.0.0.1:9/xml/current/?s=K"));
    QCOMPARE(rig.w->findChild<UpdateCheck *>()->server(), QStringLiteral("https://updates.example.org"));
}

void TestQrz::recordCleanUp_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("class t") << QByteArray("class") << QByteArray("t") << "Technician";
    QTest::newRow("class P") << QByteArray("class") << QByteArray("P") << "Technician Plus";
    QTest::newRow("class X stays") << QByteArray("class") << QByteArray("X") << "X";
    QTest::newRow("empty class") << QByteArray("class") << QByteArray("") << "";
    QTest::newRow("first name only") << QByteArray("fname") << QByteArray("MARY ANN") << "Mary";
    QTest::newRow("leading blank") << QByteArray("fname") << QByteArray(" MARY") << "";
    QTest::newRow("surname") << QByteArray("name") << QByteArray("VAN DYKE") << "Van Dyke";
    QTest::newRow("city") << QByteArray("addr2") << QByteArray("SALT LAKE CITY") << "Salt Lake City";
    QTest::newRow("state") << QByteArray("state") << QByteArray("ut") << "UT";
    QTest::newRow("call") << QByteArray("call") << QByteArray("w1aw/m") << "W1AW/M";
    QTest::newRow("entity in text") << QByteArray("addr1") << QByteArray("1 A &amp; B ST") << "1 A & B St";
}

void TestQrz::recordCleanUp()
{
    QFETCH(QByteArray, element);
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);

    const Qrz::CallRecord record = Qrz::parseCallRecord(QrzXml::callsign({{element, text}}, "K"));
    const QMap<QByteArray, QString> fields{
        {"class", record.licenceClass}, {"fname", record.fname}, {"name", record.last}, {"addr1", record.address},
        {"addr2", record.city},         {"state", record.state}, {"call", record.call}};
    QCOMPARE(fields.value(element), expected);
    QCOMPARE(record.key, QStringLiteral("K"));
    QVERIFY(record.error.isEmpty());
}

void TestQrz::lookUpFillsMainWindowAndDialog()
{
    Rig rig;
    QVERIFY(rig.startLoggedIn());
    Trelvin *w = rig.w;
    rig.http.on(Lookup, FakeHttp::answer(QrzXml::callsign(fullRecord(), "KEY2")));
    CONTACT(rig.w, phone)->setText("(801) 555-1234");
    CONTACT(rig.w, call)->setText("N0NE");

    FORM(w, search)->setText("w1a");
    FORM(w, call)->setText("w1aw");
    FORM(w, lookUpButton)->click();
    QTRY_COMPARE(FORM(w, city)->text(), QStringLiteral("Salt Lake City"));

    QCOMPARE(rig.http.requests.size(), 1);
    QCOMPARE(rig.http.requests.first(), QByteArray("/xml/current/?s=KEY1;callsign=W1AW"));
    QCOMPARE(rig.qrz()->sessionKey(), QStringLiteral("KEY2"));
    QCOMPARE(FORM(w, call)->text(), QStringLiteral("W1AW"));
    QCOMPARE(FORM(w, name)->text(), QStringLiteral("Mary"));
    QCOMPARE(FORM(w, state)->text(), QStringLiteral("UT"));
    QCOMPARE(FORM(w, city)->palette().color(QPalette::Text), themeOf(w)->good().color(QPalette::Text));
    // The bearing uses the coordinates just fetched.
    const BearingDistance expected = greatCircle(40.0, -105.0, 40.7608, -111.891);
    QCOMPARE(FORM(w, dist)->text(), QStringLiteral("%1").arg(expected.distance, 6));
    QCOMPARE(FORM(w, bear)->text(), QStringLiteral("%1").arg(expected.bearing, 3));

    // The dialog gets the whole record but keeps its call and phone.
    QCOMPARE(CONTACT(rig.w, call)->text(), QStringLiteral("N0NE"));
    QCOMPARE(CONTACT(rig.w, phone)->text(), QStringLiteral("(801) 555-1234"));
    QCOMPARE(CONTACT(rig.w, fname)->text(), QStringLiteral("Mary"));
    QCOMPARE(CONTACT(rig.w, name)->text(), QStringLiteral("Van Dyke"));
    QCOMPARE(CONTACT(rig.w, classlic)->text(), QStringLiteral("Technician"));
    QCOMPARE(CONTACT(rig.w, expire)->text(), QStringLiteral("2030-01-01"));
    QCOMPARE(CONTACT(rig.w, addr)->text(), QStringLiteral("123 Main St"));
    QCOMPARE(CONTACT(rig.w, city)->text(), QStringLiteral("Salt Lake City"));
    QCOMPARE(CONTACT(rig.w, state)->text(), QStringLiteral("UT"));
    QCOMPARE(CONTACT(rig.w, zip)->text(), QStringLiteral("84101"));
    QCOMPARE(CONTACT(rig.w, country)->text(), QStringLiteral("United States"));
    QCOMPARE(CONTACT(rig.w, email)->text(), QStringLiteral("mary@example.org"));
    QCOMPARE(CONTACT(rig.w, lat)->text(), QStringLiteral("40.7608"));
    QCOMPARE(CONTACT(rig.w, lon)->text(), QStringLiteral("-111.8910"));
    QCOMPARE(CONTACT(rig.w, grid)->text(), QStringLiteral("DN40bs"));
    QCOMPARE(CONTACT(rig.w, geoloc)->text(), QStringLiteral("User"));
    QCOMPARE(CONTACT(rig.w, utc)->text(), QStringLiteral("-5"));
    QCOMPARE(CONTACT(rig.w, tzOffset)->text(), QStringLiteral(" 2"));
    QCOMPARE(CONTACT(rig.w, dst)->text(), QStringLiteral("Y"));
    QCOMPARE(CONTACT(rig.w, born)->text(), QStringLiteral("1960"));
    // The contact's own offset, as the time difference was reckoned from it.
    QCOMPARE(CONTACT(rig.w, tzOffset)->text().toInt() + rig.lookups()->stationUtcOffset(), -5);
    QVERIFY(rig.rt.prompter.calls.isEmpty());

    // Nothing is stored by a look-up.
    QCOMPARE(column(fileDb(w), "SELECT call FROM contact"), QStringList());
}

// QRZ first; a call it does not give, or a look-up it does not answer,
// goes to HamQTH when the operator has an account there.
void TestQrz::lookUpFallsBackToHamQth_data()
{
    QTest::addColumn<QByteArray>("qrzBody");
    QTest::addColumn<int>("qrzStatus");
    QTest::addColumn<QString>("logStart");

    QTest::newRow("not found") << QrzXml::notFound("W9XYZ", "KEY1") << 200
                               << "QRZ look-up of W9XYZ: Not found: W9XYZ; asking HamQTH.";
    QTest::newRow("no answer") << QByteArray("busy") << 503
                               << "QRZ look-up of W9XYZ failed: The server answered HTTP 503";
}

void TestQrz::lookUpFallsBackToHamQth()
{
    QFETCH(QByteArray, qrzBody);
    QFETCH(int, qrzStatus);
    QFETCH(QString, logStart);

    Rig rig;
    writeMain("HamQthServer", rig.http.base());
    writeMain("HamQthUser", "k7abc");
    writeMain("HamQthPassword", "secret");
    QVERIFY(rig.startLoggedIn());
    Trelvin *w = rig.w;
    rig.http.on(Lookup, FakeHttp::answer(qrzBody, qrzStatus));
    rig.http.on("/xml.php?u=", FakeHttp::answer("<?xml version=\"1.0\"?>\n<HamQTH version=\"2.8\" "
                                                "xmlns=\"https://www.hamqth.com\"><session><session_id>SID1"
                                                "</session_id></session></HamQTH>"));
    rig.http.on("/xml.php?id=SID1&callsign=",
                FakeHttp::answer("<?xml version=\"1.0\"?>\n<HamQTH version=\"2.8\" xmlns=\"https://www.hamqth.com\">"
                                 "<search><callsign>w9xyz</callsign><nick>Ed</nick><adr_city>OGDEN</adr_city>"
                                 "<us_state>ut</us_state></search></HamQTH>"));
    FORM(w, call)->setText("w9xyz");
    FORM(w, lookUpButton)->click();

    QTRY_COMPARE(FORM(w, city)->text(), QStringLiteral("Ogden"));
    QCOMPARE(QStringList({FORM(w, call)->text(), FORM(w, name)->text(), FORM(w, state)->text()}),
             QStringList({"W9XYZ", "Ed", "UT"}));
    QCOMPARE(rig.http.requestsTo(Lookup).size(), 1);
    QCOMPARE(rig.http.requestsTo("/xml.php?id=SID1&callsign=W9XYZ").size(), 1);
    const QStringList lines = rig.newLogLines();
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().startsWith(logStart) && lines.first().endsWith("; asking HamQTH."),
             qPrintable(lines.first()));
    QVERIFY(rig.rt.prompter.calls.isEmpty());
}

void TestQrz::lookUpRejectedCall()
{
    Rig rig;
    QVERIFY(rig.startLoggedIn());
    Trelvin *w = rig.w;
    rig.http.on(Lookup, FakeHttp::answer(QrzXml::notFound("W9XYZ", "KEY1")));
    FORM(w, search)->setText("w9xy");
    FORM(w, call)->setText("w9xyz");
    FORM(w, name)->setText("Old Name");
    FORM(w, state)->setText("UT");
    FORM(w, lookUpButton)->click();
    QTRY_COMPARE(FORM(w, city)->text(), QStringLiteral("Not found: W9XYZ"));
    QCOMPARE(FORM(w, city)->palette().color(QPalette::Text), themeOf(w)->alert().color(QPalette::Text));
    QCOMPARE(FORM(w, call)->text(), QStringLiteral("W9XY"));
    QCOMPARE(FORM(w, name)->text(), QString());
    QCOMPARE(FORM(w, state)->text(), QString());
    QVERIFY(rig.rt.prompter.calls.isEmpty());

    // An empty call sends nothing at all.
    rig.mark();
    FORM(w, call)->clear();
    FORM(w, lookUpButton)->click();
    QTest::qWait(50);
    QVERIFY(rig.http.requests.isEmpty());
    QVERIFY(rig.rt.prompter.calls.isEmpty());
}

void TestQrz::lookUpAnsweredByAnotherPage_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("why");
    const QString notXml = "The reply is not QRZ XML data.";
    QTest::newRow("portal page") << QByteArray("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head>"
                                               "<body>Sign in to the hotel network</body></html>")
                                 << notXml;
    QTest::newRow("well-formed XHTML") << QByteArray(
        "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>Proxy error</p></body></html>")
                                       << notXml;
    QTest::newRow("empty body") << QByteArray("") << "The reply was empty.";
}

void TestQrz::lookUpAnsweredByAnotherPage()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, why);

    Rig rig;
    QVERIFY(rig.startLoggedIn());
    Trelvin *w = rig.w;
    rig.http.on(Lookup, FakeHttp::answer(body));
    // The entry as the search left it, and a dialog with a record in it.
    FORM(w, search)->setText("w9x");
    FORM(w, call)->setText("W9XYZ");
    FORM(w, name)->setText("Somebody");
    FORM(w, city)->setText("Ogden");
    FORM(w, state)->setText("UT");
    CONTACT(rig.w, call)->setText("W9XYZ");
    CONTACT(rig.w, fname)->setText("Mary");
    CONTACT(rig.w, city)->setText("Ogden");

    const QString text = "QRZ look-up of W9XYZ failed: " + why;
    FORM(w, lookUpButton)->click();
    QTRY_COMPARE(FORM(w, statusbar)->currentMessage(), text);
    QCOMPARE(rig.newLogLines(), QStringList{text});
    QCOMPARE(QStringList({FORM(w, call)->text(), FORM(w, name)->text(), FORM(w, city)->text(), FORM(w, state)->text()}),
             QStringList({"W9XYZ", "Somebody", "Ogden", "UT"}));
    QCOMPARE(FORM(w, city)->palette().color(QPalette::Text), themeOf(w)->good().color(QPalette::Text));
    QCOMPARE(QStringList({CONTACT(rig.w, fname)->text(), CONTACT(rig.w, city)->text()}),
             QStringList({"Mary", "Ogden"}));
    QCOMPARE(rig.qrz()->sessionKey(), QStringLiteral("KEY1"));

    // Get Contact in the dialog: the dialog keeps its record, and says why.
    rig.mark();
    FORM(w, statusbar)->clearMessage();
    CONTACT(rig.w, getContact)->click();
    QTRY_COMPARE(FORM(w, statusbar)->currentMessage(), text);
    QCOMPARE(rig.newLogLines(), QStringList{text});
    QCOMPARE(QStringList({CONTACT(rig.w, call)->text(), CONTACT(rig.w, fname)->text(), CONTACT(rig.w, city)->text()}),
             QStringList({"W9XYZ", "Mary", "Ogden"}));
    QVERIFY(rig.rt.prompter.calls.isEmpty());
}

void TestQrz::contactLookUp_data()
{
    QTest::addColumn<QByteArray>("gmtOffset");
    QTest::addColumn<int>("stationOffset");
    QTest::addColumn<QString>("tzOffset");
    QTest::addColumn<bool>("withEmail");

    QTest::newRow("-5 here -7") << QByteArray("-5") << -7 << " 2" << true;
    QTest::newRow("empty here 3") << QByteArray("") << 3 << "-3" << true;
    QTest::newRow("-10 here 0") << QByteArray("-10") << 0 << "-10" << true;
    QTest::newRow("no e-mail") << QByteArray("3") << 0 << " 3" << false;
}

void TestQrz::contactLookUp()
{
    QFETCH(QByteArray, gmtOffset);
    QFETCH(int, stationOffset);
    QFETCH(QString, tzOffset);
    QFETCH(bool, withEmail);

    Rig rig;
    // The station's offset comes from its stored row.
    QVERIFY(
        rig.startLoggedIn({"K7ABC", "secret", "CO", "40.0", "-105.0", "DN70ma", QString::number(stationOffset), "Y"}));
    QCOMPARE(rig.lookups()->stationUtcOffset(), stationOffset);
    Trelvin *w = rig.w;
    Fields fields = with(fullRecord(), "GMTOffset", gmtOffset);
    if (!withEmail)
        fields = without(fields, "email");
    rig.http.on(Lookup, FakeHttp::answer(QrzXml::callsign(fields, "KEY1")));
    CONTACT(rig.w, email)->setText("typed@example.org");
    CONTACT(rig.w, call)->setText("w1aw");

    CONTACT(rig.w, getContact)->click();
    QTRY_COMPARE(CONTACT(rig.w, fname)->text(), QStringLiteral("Mary"));
    QCOMPARE(rig.http.requests, QList<QByteArray>{"/xml/current/?s=KEY1;callsign=W1AW"});
    QCOMPARE(CONTACT(rig.w, tzOffset)->text(), tzOffset);
    QCOMPARE(CONTACT(rig.w, email)->text(), withEmail ? QStringLiteral("mary@example.org") : "typed@example.org");
    // The main window is not touched by a dialog look-up.
    QCOMPARE(FORM(w, city)->text(), QString());
}

void TestQrz::notConnectedSendsNothing()
{
    Rig rig;
    rig.w = rig.rt.start();
    rig.mark();
    Trelvin *w = rig.w;
    const QString text = "Please Enter QRZ Username and Password.\nWhere:\n   Username is the 'Station' Callsign.\n   "
                         "Password is your QRZ Password\nData is entered in the 'Station Details' menu item.\n";

    FORM(w, call)->setText("W1AW");
    FORM(w, lookUpButton)->click();
    CONTACT(rig.w, call)->setText("W1AW");
    CONTACT(rig.w, getContact)->click();
    STATION(rig.w, getStation)->click();
    FORM(w, actionQRZClubData)->trigger();

    QCOMPARE(rig.rt.prompter.titles(), QStringList(4, "Not Connected to QRZ Database"));
    for (const auto &box : rig.rt.prompter.calls) {
        QCOMPARE(box.kind, Prompter::Warning);
        QCOMPARE(box.text, text);
    }
    // Only the dialog's look-up leaves a log line.
    QCOMPARE(rig.newLogLines(), QStringList{"Not connected to QRZ Database."});
    QVERIFY(rig.rt.prompter.pathCaptions.isEmpty());
    QTest::qWait(50);
    QVERIFY(rig.http.requests.isEmpty());
}

void TestQrz::replyInPiecesGivesSameRecord()
{
    Rig rig;
    QVERIFY(rig.startLoggedIn());
    const QByteArray body = QrzXml::callsign(fullRecord(), "KEY1");
    QSignalSpy records(rig.qrz(), &QrzClient::callRecord);

    rig.http.on(Lookup, FakeHttp::answer(body));
    CONTACT(rig.w, call)->setText("W1AW");
    CONTACT(rig.w, getContact)->click();
    QTRY_COMPARE(CONTACT(rig.w, fname)->text(), QStringLiteral("Mary"));
    QCOMPARE(records.size(), 1);
    const auto whole = records.takeFirst().first().value<Qrz::CallRecord>();

    CONTACT(rig.w, fname)->clear();

    // Cut inside a tag, inside a text and between elements.
    FakeHttp::Response pieces = FakeHttp::answer(body);
    pieces.cuts = {int(body.indexOf("<Call")) + 3, int(body.indexOf("SALT LAKE")) + 4, int(body.indexOf("<Session"))};
    pieces.pieceDelayMs = 40;
    rig.http.on(Lookup, pieces);
    CONTACT(rig.w, getContact)->click();
    QTRY_COMPARE(CONTACT(rig.w, fname)->text(), QStringLiteral("Mary"));
    QCOMPARE(records.size(), 1);
    const auto split = records.takeFirst().first().value<Qrz::CallRecord>();

    const auto all = [](const Qrz::CallRecord &r) {
        return QStringList{r.call,   r.fname, r.last,    r.licenceClass, r.expire, r.address, r.city,
                           r.state,  r.zip,   r.country, r.email,        r.lat,    r.lon,     r.grid,
                           r.source, r.utc,   r.dst,     r.born,         r.error,  r.key};
    };
    QCOMPARE(all(split), all(whole));
    QCOMPARE(whole.city, QStringLiteral("Salt Lake City"));
}

void TestQrz::repliesInFlightDoNotCross()
{
    Rig rig;
    QVERIFY(rig.startLoggedIn());
    Trelvin *w = rig.w;

    // The login answers slowly, the look-up at once.
    const QByteArray loginBody = QrzXml::session("LOGINKEY", "Fri Mar 5 00:00:00 2027");
    FakeHttp::Response slow = FakeHttp::answer(loginBody);
    slow.cuts = {int(loginBody.size()) / 2};
    slow.pieceDelayMs = 300;
    rig.http.on(Login, slow);
    rig.http.on(Lookup, FakeHttp::answer(QrzXml::callsign(fullRecord(), "LOOKKEY")));

    STATION(rig.w, connectQRZ)->click();
    QTRY_COMPARE(rig.http.requests.size(), 1);
    CONTACT(rig.w, call)->setText("W1AW");
    CONTACT(rig.w, getContact)->click();

    QTRY_COMPARE(CONTACT(rig.w, fname)->text(), QStringLiteral("Mary"));
    QTRY_COMPARE(STATION(rig.w, expire)->text(), QStringLiteral("Mar 5, 2027"));
    QCOMPARE(rig.qrz()->sessionKey(), QStringLiteral("LOGINKEY"));
    QCOMPARE(STATION(rig.w, connectStatus)->text(), QStringLiteral("Connected"));
    QCOMPARE(CONTACT(rig.w, city)->text(), QStringLiteral("Salt Lake City"));
    QVERIFY(rig.newLogLines().isEmpty());
    // Handled replies are released.
    QTRY_VERIFY(
        w->findChild<QNetworkAccessManager *>(QStringLiteral("network"))->findChildren<QNetworkReply *>().isEmpty());
}

void TestQrz::stationFetch()
{
    Rig rig;
    QVERIFY(rig.startLoggedIn());
    Trelvin *w = rig.w;
    QCOMPARE(rig.lookups()->stationUtcOffset(), -7);

    rig.http.on(Lookup, FakeHttp::answer(QrzXml::callsign({{"call", "k7abc"},
                                                           {"fname", "JOE"},
                                                           {"state", "ut"},
                                                           {"lat", "40.7608"},
                                                           {"lon", "-111.8910"},
                                                           {"grid", "DN40bs"},
                                                           {"GMTOffset", "-6"},
                                                           {"DST", "Y"}},
                                                          "KEY3")));
    STATION(rig.w, call)->setText("k7abc");
    STATION(rig.w, pwd)->setText("unchanged");
    STATION(rig.w, utc)->setText("");
    STATION(rig.w, getStation)->click();
    QTRY_COMPARE(STATION(rig.w, state)->text(), QStringLiteral("UT"));
    QCOMPARE(rig.http.requests, QList<QByteArray>{"/xml/current/?s=KEY1;callsign=K7ABC"});
    QCOMPARE(STATION(rig.w, call)->text(), QStringLiteral("K7ABC"));
    QCOMPARE(STATION(rig.w, lat)->text(), QStringLiteral("40.7608"));
    QCOMPARE(STATION(rig.w, lon)->text(), QStringLiteral("-111.8910"));
    QCOMPARE(STATION(rig.w, grid)->text(), QStringLiteral("DN40bs"));
    QCOMPARE(STATION(rig.w, utc)->text(), QStringLiteral("-6"));
    QCOMPARE(STATION(rig.w, dst)->text(), QStringLiteral("Y"));
    QCOMPARE(STATION(rig.w, pwd)->text(), QStringLiteral("unchanged"));
    QCOMPARE(rig.lookups()->stationUtcOffset(), -6);
    QCOMPARE(rig.qrz()->sessionKey(), QStringLiteral("KEY3"));
    // Fetched data reaches the table only when saved.
    QCOMPARE(column(fileDb(w), "SELECT utc FROM station"), QStringList{"-7"});

    // A call the service does not know.
    rig.http.on(Lookup, FakeHttp::answer(QrzXml::notFound("K7ABC", "KEY3")));
    STATION(rig.w, getStation)->click();
    QTRY_COMPARE(STATION(rig.w, call)->text(), QStringLiteral("None"));
    for (QLineEdit *field : {STATION(rig.w, state), STATION(rig.w, lat), STATION(rig.w, lon), STATION(rig.w, grid),
                             STATION(rig.w, utc), STATION(rig.w, dst)})
        QCOMPARE(field->text(), QString());
    QCOMPARE(rig.lookups()->stationUtcOffset(), 0);

    // No answer: the dialog keeps what it shows.
    STATION(rig.w, call)->setText("K7ABC");
    STATION(rig.w, utc)->setText("-7");
    rig.http.on(Lookup, FakeHttp::answer("gone", 503));
    rig.http.requests.clear();
    STATION(rig.w, getStation)->click();
    QTRY_COMPARE(rig.http.requests.size(), 1);
    QTRY_VERIFY(
        w->findChild<QNetworkAccessManager *>(QStringLiteral("network"))->findChildren<QNetworkReply *>().isEmpty());
    QCOMPARE(STATION(rig.w, call)->text(), QStringLiteral("K7ABC"));
    QCOMPARE(STATION(rig.w, utc)->text(), QStringLiteral("-7"));
    QCOMPARE(rig.newLogLines(),
             QStringList{"QRZ look-up of this station K7ABC failed: The server answered HTTP 503 Error"});
}

void TestQrz::stationSave()
{
    Rig rig;
    rig.w = rig.rt.start();
    Trelvin *w = rig.w;

    // First start: nothing stored, nothing shown.
    for (QLineEdit *field : {STATION(rig.w, call), STATION(rig.w, pwd), STATION(rig.w, state), STATION(rig.w, lat),
                             STATION(rig.w, lon), STATION(rig.w, grid), STATION(rig.w, utc), STATION(rig.w, dst)})
        QCOMPARE(field->text(), QString());

    QSqlQuery centre("SELECT lat, lon FROM latlon WHERE st = 'UT'", memoryDb(w));
    QVERIFY(centre.next());
    const double utLat = centre.value(0).toDouble();
    const double utLon = centre.value(1).toDouble();

    STATION(rig.w, call)->setText("k7abc");
    STATION(rig.w, pwd)->setText("Pa ss");
    STATION(rig.w, state)->setText("ut");
    STATION(rig.w, lat)->clear();
    STATION(rig.w, lon)->setText("-111.9");
    STATION(rig.w, grid)->setText("DN40");
    STATION(rig.w, utc)->setText("abc");
    STATION(rig.w, dst)->setText("N");
    STATION(rig.w, saveStation)->click();
    // Without a keyring the row keeps the password, once the keyring failed to answer.
    QTRY_COMPARE(column(fileDb(w), "SELECT passwd FROM station"), QStringList{"Pa ss"});

    // Both coordinates come from the centre of the state, as numbers close
    // to the table's.
    QVERIFY(qAbs(STATION(rig.w, lat)->text().toDouble() - utLat) < 1e-4);
    QVERIFY(qAbs(STATION(rig.w, lon)->text().toDouble() - utLon) < 1e-4);
    QCOMPARE(STATION(rig.w, grid)->text(), QStringLiteral("DN40"));
    QSqlQuery rows("SELECT call, passwd, state, lat, lon, grid, utc, dst FROM station", fileDb(w));
    QVERIFY(rows.next());
    QCOMPARE(rows.value(0).toString(), QStringLiteral("K7ABC"));
    QCOMPARE(rows.value(1).toString(), QStringLiteral("Pa ss"));
    QCOMPARE(rows.value(2).toString(), QStringLiteral("UT"));
    QCOMPARE(rows.value(3).toString(), STATION(rig.w, lat)->text());
    QCOMPARE(rows.value(4).toString(), STATION(rig.w, lon)->text());
    QVERIFY(!rows.next());
    // Saving does not move the offset in use.
    QCOMPARE(rig.lookups()->stationUtcOffset(), 0);

    // The second save rewrites the one row; full coordinates are kept whatever the state.
    STATION(rig.w, state)->setText("ZZ");
    STATION(rig.w, lat)->setText("61.2");
    STATION(rig.w, lon)->setText("-149.9");
    STATION(rig.w, utc)->setText("-9");
    STATION(rig.w, saveStation)->click();
    QCOMPARE(column(fileDb(w), "SELECT lat || ',' || lon || ',' || state || ',' || utc FROM station"),
             QStringList{"61.2,-149.9,ZZ,-9"});

    // A state the table does not know leaves empty coordinates empty.
    STATION(rig.w, state)->setText("QQ");
    STATION(rig.w, lat)->clear();
    STATION(rig.w, saveStation)->click();
    QCOMPARE(column(fileDb(w), "SELECT lat || ',' || lon FROM station"), QStringList{",-149.9"});

    // The next start shows the saved row and takes its offset.
    STATION(rig.w, utc)->setText("-9");
    STATION(rig.w, saveStation)->click();
    FORM(w, actionExit)->trigger();
    rig.rt.stop();
    rig.rt.prompter.clear();
    rig.w = rig.rt.start();
    QCOMPARE(STATION(rig.w, call)->text(), QStringLiteral("K7ABC"));
    QCOMPARE(STATION(rig.w, pwd)->text(), QStringLiteral("Pa ss"));
    QCOMPARE(STATION(rig.w, state)->text(), QStringLiteral("QQ"));
    QCOMPARE(STATION(rig.w, lon)->text(), QStringLiteral("-149.9"));
    QCOMPARE(rig.lookups()->stationUtcOffset(), -9);
    // With call and password stored the start-up logs in instead of asking.
    QTRY_COMPARE(STATION(rig.w, connectStatus)->text(), QStringLiteral("Connected"));
    QVERIFY(!rig.rt.prompter.titles().contains("QRZ XML Database Connection "));
}

void TestQrz::rosterRun()
{
    Rig rig;
    QVERIFY(rig.startLoggedIn());
    Trelvin *w = rig.w;

    // Known already: what is stored wins, field by field.
    QSqlQuery seed(fileDb(w));
    QVERIFY(seed.exec("INSERT INTO contact (id, call, name, last, class, city, email, phone) "
                      "VALUES (NULL, 'W3CCC', 'Stored', 'Oldlast', 'Novice', NULL, '', '8015551234')"));

    const QString list = rig.rt.dataPath() + "/Callsigns-ARC.csv";
    {
        QFile file(list);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\"Call\",\"First\"\n\"k1aaa\",\"Al\"\nW2BAD,Bo\n\"W3CCC\",\"Cy\"\n");
    }
    rig.http.on(Lookup + "KEY1;callsign=k1aaa",
                FakeHttp::answer(QrzXml::callsign({{"call", "K1AAA"}, {"fname", "AL"}, {"name", "ALPHA"}}, "KEY1")));
    rig.http.on(Lookup + "KEY1;callsign=W2BAD", FakeHttp::answer(QrzXml::notFound("W2BAD", "KEY1")));
    rig.http.on(Lookup + "KEY1;callsign=W3CCC", FakeHttp::answer(QrzXml::callsign({{"call", "W3CCC"},
                                                                                   {"fname", "CY"},
                                                                                   {"name", "CHARLIE"},
                                                                                   {"addr2", "OGDEN"},
                                                                                   {"class", "G"},
                                                                                   {"expdate", "2031-02-03"},
                                                                                   {"email", "cy@example.org"}},
                                                                                  "KEY1")));

    QSqlQuery member(memoryDb(w));
    QVERIFY(member.exec("INSERT INTO mbr (id, call) VALUES (NULL, 'OLD1')"));
    rig.rt.prompter.paths = QStringList{list};
    int largestProgress = -1;
    QObject::connect(bulkJobOf(w)->bar(), &QProgressBar::valueChanged, w,
                     [&](int value) { largestProgress = qMax(largestProgress, value); });
    FORM(w, actionQRZClubData)->trigger();

    const auto &warning = rig.rt.prompter.calls.first();
    QCOMPARE(warning.kind, Prompter::Warning);
    QCOMPARE(warning.title, QStringLiteral("Warning: Long Process Ahead"));
    QCOMPARE(warning.text, QStringLiteral("This Process can take a while.  Only do this as neccessary.\nDepending on "
                                          "computer, this can take from 20 to 200+ Seconds per 100 callsigns."));
    QCOMPARE(warning.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(rig.rt.prompter.pathCaptions, QStringList{"Open Member Callsign List File"});
    QVERIFY(!w->findChild<Settings *>()->statusTipsShown());
    QVERIFY(!FORM(w, actionQRZClubData)->isEnabled());

    QTRY_COMPARE(FORM(w, callsigns)->toPlainText(), QStringLiteral("3"));
    QCOMPARE(rig.http.requests,
             (QList<QByteArray>{"/xml/current/?s=KEY1;callsign=k1aaa", "/xml/current/?s=KEY1;callsign=W2BAD",
                                "/xml/current/?s=KEY1;callsign=W3CCC"}));
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr ORDER BY id"), (QStringList{"K1AAA", "W3CCC"}));
    QCOMPARE(rig.newLogLines(), QStringList{"Callsign List Error, Not found: W2BAD"});
    QCOMPARE(largestProgress, 2);
    QVERIFY(!bulkJobOf(w)->bar()->isVisible());
    QCOMPARE(FORM(w, statusbar)->currentMessage(), QString());
    QCOMPARE(w->findChild<Settings *>()->statusTipsShown(), w->findChild<Settings *>()->statusTipsOn());
    QVERIFY(FORM(w, actionQRZClubData)->isEnabled());
    QCOMPARE(rig.rt.prompter.calls.size(), 1);

    QSqlQuery row("SELECT name, last, class, expire, city, email, phone FROM contact WHERE call = 'W3CCC'", fileDb(w));
    QVERIFY(row.next());
    QCOMPARE(row.value(0).toString(), QStringLiteral("Stored"));
    QCOMPARE(row.value(1).toString(), QStringLiteral("Charlie"));
    QCOMPARE(row.value(2).toString(), QStringLiteral("General"));
    QCOMPARE(row.value(3).toString(), QStringLiteral("2031-02-03"));
    QCOMPARE(row.value(4).toString(), QStringLiteral("Ogden"));
    QCOMPARE(row.value(5).toString(), QStringLiteral("cy@example.org"));
    QCOMPARE(row.value(6).toString(), QStringLiteral("8015551234"));
    QVERIFY(!row.next());
    QCOMPARE(column(fileDb(w), "SELECT call || ':' || name || ':' || last FROM contact WHERE call <> 'W3CCC'"),
             QStringList{"K1AAA:Al:Alpha"});
    QCOMPARE(column(fileDb(w), "SELECT call FROM contact WHERE call = 'W2BAD'"), QStringList());
    QTRY_VERIFY(
        w->findChild<QNetworkAccessManager *>(QStringLiteral("network"))->findChildren<QNetworkReply *>().isEmpty());

    // A quote in a call sign is data, not SQL: stored once, then updated in place.
    rig.mark();
    {
        QFile file(list);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("Call\nO'NEIL\n");
    }
    rig.http.on(Lookup + "KEY1;callsign=O'NEIL",
                FakeHttp::answer(QrzXml::callsign({{"call", "O'NEIL"}, {"name", "ONE"}}, "KEY1")));
    rig.http.on(Lookup + "KEY1;callsign=O%27NEIL",
                FakeHttp::answer(QrzXml::callsign({{"call", "O'NEIL"}, {"name", "ONE"}}, "KEY1")));
    for (int run = 0; run < 2; ++run) {
        rig.rt.prompter.paths = QStringList{list};
        FORM(w, callsigns)->clear();
        FORM(w, actionQRZClubData)->trigger();
        QTRY_COMPARE(FORM(w, callsigns)->toPlainText(), QStringLiteral("1"));
    }
    QCOMPARE(rig.newLogLines(), QStringList());
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList{"O'NEIL"});
    QCOMPARE(column(fileDb(w), "SELECT last FROM contact WHERE call = 'O''NEIL'"), QStringList{"One"});
    QCOMPARE(column(fileDb(w), "SELECT COUNT(*) FROM contact"), QStringList{"3"});
}

void TestQrz::rosterRunAsksOncePerCall()
{
    Rig rig;
    QVERIFY(rig.startLoggedIn());
    Trelvin *w = rig.w;
    const QString list = rig.rt.dataPath() + "/Callsigns-ARC.csv";
    {
        QFile file(list);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Call\nK1AAA\nk1aaa\nW3CCC\nK1AAA\nW3CCC/P\n");
    }
    rig.http.on(Lookup + "KEY1;callsign=K1AAA",
                FakeHttp::answer(QrzXml::callsign({{"call", "K1AAA"}, {"name", "ALPHA"}}, "KEY1")));
    // QRZ answers for the portable call with the home call.
    for (const QByteArray asked : {"W3CCC", "W3CCC/P", "W3CCC%2FP"})
        rig.http.on(Lookup + "KEY1;callsign=" + asked,
                    FakeHttp::answer(QrzXml::callsign({{"call", "W3CCC"}, {"name", "CHARLIE"}}, "KEY1")));
    rig.mark();
    rig.rt.prompter.paths = QStringList{list};
    FORM(w, actionQRZClubData)->trigger();
    QTRY_COMPARE(FORM(w, callsigns)->toPlainText(), QStringLiteral("3"));
    QCOMPARE(rig.http.requests.size(), 3);
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr ORDER BY id"), (QStringList{"K1AAA", "W3CCC"}));
    QCOMPARE(rig.newLogLines(),
             QStringList{"Callsign list '" + list + "' names a call sign again on 2 lines; they were skipped."});
}

void TestQrz::rosterRunRefusals()
{
    Rig rig;
    QVERIFY(rig.startLoggedIn());
    Trelvin *w = rig.w;
    QSqlQuery member(memoryDb(w));
    QVERIFY(member.exec("INSERT INTO mbr (id, call) VALUES (NULL, 'KEEP1')"));

    // Cancel at the warning changes nothing.
    rig.rt.prompter.answers = {QMessageBox::Cancel};
    FORM(w, actionQRZClubData)->trigger();
    QCOMPARE(rig.rt.prompter.pathCaptions, QStringList());
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList{"KEEP1"});

    // A list with its header alone: the roster is gone and nothing is asked.
    const QString list = rig.rt.dataPath() + "/Callsigns-ARC.csv";
    {
        QFile file(list);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\"Call\"\n");
    }
    rig.mark();
    rig.rt.prompter.paths = QStringList{list};
    FORM(w, actionQRZClubData)->trigger();
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList());
    QVERIFY(!bulkJobOf(w)->bar()->isVisible());
    QCOMPARE(w->findChild<Settings *>()->statusTipsShown(), w->findChild<Settings *>()->statusTipsOn());
    QTest::qWait(50);
    QVERIFY(rig.http.requests.isEmpty());

    // A file that cannot be read.
    rig.mark();
    const QString missing = rig.rt.dataPath() + "/Callsigns-NONE.csv";
    rig.rt.prompter.paths = QStringList{missing};
    FORM(w, actionQRZClubData)->trigger();
    QCOMPARE(rig.rt.prompter.titles(), (QStringList{"Warning: Long Process Ahead", "Can't Open File"}));
    QCOMPARE(rig.rt.prompter.calls.last().kind, Prompter::Critical);
    QCOMPARE(rig.rt.prompter.calls.last().text, QStringLiteral("The File you selected could not be Opened."));
    QCOMPARE(rig.newLogLines(), QStringList{"File '" + missing + "' Could not be Opened."});
    QVERIFY(rig.http.requests.isEmpty());
}

void TestQrz::rosterRunSurvivesSilentAndTricklingServers()
{
    Rig rig;
    QVERIFY(rig.startLoggedIn());
    Trelvin *w = rig.w;
    setTimeLimits(rig.qrz(), 300, 600);
    const QString list = rig.rt.dataPath() + "/Callsigns-ARC.csv";
    {
        QFile file(list);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Call\nK1AAA\nW2MUTE\nW3SLOW\nW4DDD\n");
    }
    rig.http.on(Lookup + "KEY1;callsign=K1AAA", FakeHttp::answer(QrzXml::callsign({{"call", "K1AAA"}}, "KEY1")));
    rig.http.on(Lookup + "KEY1;callsign=W2MUTE", FakeHttp::silence());
    // A byte every 100 ms never trips the idle time-out.
    rig.http.on(Lookup + "KEY1;callsign=W3SLOW",
                FakeHttp::trickling(QrzXml::callsign({{"call", "W3SLOW"}}, "KEY1"), 100));
    rig.http.on(Lookup + "KEY1;callsign=W4DDD", FakeHttp::answer(QrzXml::callsign({{"call", "W4DDD"}}, "KEY1")));
    rig.rt.prompter.paths = QStringList{list};
    FORM(w, actionQRZClubData)->trigger();

    QTRY_COMPARE_WITH_TIMEOUT(FORM(w, callsigns)->toPlainText(), QStringLiteral("4"), 4000);
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr ORDER BY id"), (QStringList{"K1AAA", "W4DDD"}));
    QCOMPARE(rig.newLogLines(), (QStringList{"Callsign List Error, W2MUTE: The server did not answer in time.",
                                             "Callsign List Error, W3SLOW: The server did not finish its answer in "
                                             "time."}));
    QVERIFY(FORM(w, actionQRZClubData)->isEnabled());
}

QTEST_MAIN(TestQrz)
#include "tst_qrz.moc"
