#include "fakehttp.h"

#include "lookup/qrzclient.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QByteArray Login = "/xml/current/?username=";
const QByteArray Lookup = "/xml/current/?s=";

// Not even well-formed: the meta element is never closed.
const QByteArray PortalPage = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head>"
                              "<body>Sign in to the hotel network</body></html>";

// The texts of every signal argument of one kind, in the order they came.
QStringList texts(const QSignalSpy &spy, int argument = 0)
{
    QStringList found;
    for (const QList<QVariant> &arguments : spy)
        found.append(arguments.at(argument).toString());
    return found;
}

// A client of the fake service, logged in with KEY1 unless told otherwise.
struct Rig {
    FakeHttp http;
    QNetworkAccessManager manager;
    QrzClient client{&manager};

    Rig()
    {
        QVERIFY(http.listen());
        client.setServer(http.base() + "/");
        http.on(Login, FakeHttp::answer(QrzXml::session("KEY1")));
    }

    bool logIn()
    {
        QSignalSpy finished(&client, &QrzClient::loginFinished);
        return client.login("K7ABC", "secret") && finished.wait() && client.isConnected();
    }
};

} // namespace

class TestQrzClient : public QObject {
    Q_OBJECT

private slots:
    void login_data();
    void login();
    void loginWithoutCredentials();
    void lookUp_data();
    void lookUp();
    void stationLookUp();
    void batchRun();
    void limitsHoldForEveryRequest_data();
    void limitsHoldForEveryRequest();
};

void TestQrzClient::login_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("subscription");
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<QStringList>("failures");

    QTest::newRow("subscriber") << 200 << QrzXml::session("KEY2", "Thu Dec 31 00:00:00 2026") << true << "KEY2"
                                << QStringList{"Thu Dec 31 00:00:00 2026"} << QStringList() << QStringList();
    QTest::newRow("non-subscriber") << 200 << QrzXml::session("KEY2", "non-subscriber") << true << "KEY2"
                                    << QStringList{"non-subscriber"} << QStringList() << QStringList();
    QTest::newRow("no expiry given") << 200 << QrzXml::session("KEY2", "") << true << "KEY2" << QStringList()
                                     << QStringList() << QStringList();
    // A failure keeps the earlier session's key; only a reply of the service
    // ends the session.
    QTest::newRow("refused") << 200 << QrzXml::session("", "", "Username/password incorrect") << false << "KEY1"
                             << QStringList() << QStringList{"Username/password incorrect"} << QStringList();
    QTest::newRow("HTTP error") << 500 << QByteArray("<html>Internal error</html>") << true << "KEY1" << QStringList()
                                << QStringList() << QStringList{"QRZ login failed: The server answered HTTP 500 Error"};
    QTest::newRow("portal page") << 200 << PortalPage << false << "KEY1" << QStringList() << QStringList()
                                 << QStringList{"QRZ login failed: The reply is not QRZ XML data."};
    QTest::newRow("no key") << 200 << QrzXml::session("", "") << false << "KEY1" << QStringList() << QStringList()
                            << QStringList{"QRZ login failed: The reply holds no session key."};
    QTest::newRow("key of blanks") << 200 << QrzXml::session("  \n ", "") << false << "KEY1" << QStringList()
                                   << QStringList() << QStringList{"QRZ login failed: The reply holds no session key."};
    QTest::newRow("XHTML page") << 200 << QByteArray("<html><body><p>Key</p><Key>PORTAL</Key></body></html>") << false
                                << "KEY1" << QStringList() << QStringList()
                                << QStringList{"QRZ login failed: The reply is not QRZ XML data."};
}

void TestQrzClient::login()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, connected);
    QFETCH(QString, key);
    QFETCH(QStringList, subscription);
    QFETCH(QStringList, refused);
    QFETCH(QStringList, failures);

    Rig rig;
    QVERIFY(rig.logIn());
    rig.http.on(Login, FakeHttp::answer(body, status));
    rig.http.requests.clear();
    QSignalSpy finished(&rig.client, &QrzClient::loginFinished);
    QSignalSpy subscriptions(&rig.client, &QrzClient::subscription);
    QSignalSpy refusals(&rig.client, &QrzClient::loginRefused);
    QSignalSpy failed(&rig.client, &QrzClient::failure);

    QVERIFY(rig.client.login("k7xyz", "a&b c"));
    QVERIFY(finished.wait());
    QCOMPARE(rig.http.requests, QList<QByteArray>{"/xml/current/?username=k7xyz&password=a%26b%20c"});
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toBool(), connected);
    QCOMPARE(rig.client.isConnected(), connected);
    QCOMPARE(rig.client.sessionKey(), key);
    QCOMPARE(rig.client.user(), QStringLiteral("k7xyz"));
    QCOMPARE(texts(subscriptions), subscription);
    QCOMPARE(texts(refusals), refused);
    QCOMPARE(texts(failed), failures);
}

void TestQrzClient::loginWithoutCredentials()
{
    Rig rig;
    QVERIFY(rig.logIn());
    rig.http.requests.clear();
    QSignalSpy finished(&rig.client, &QrzClient::loginFinished);

    QVERIFY(!rig.client.login("K7ABC", ""));
    QVERIFY(!rig.client.isConnected());
    QVERIFY(!rig.client.login("", "secret"));
    QTest::qWait(50);
    QVERIFY(rig.http.requests.isEmpty());
    QCOMPARE(finished.size(), 0);
    QCOMPARE(rig.client.sessionKey(), QStringLiteral("KEY1"));
}

void TestQrzClient::lookUp_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("call"); // of the record; empty: no record came
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("failure");

    QTest::newRow("found") << 200 << QrzXml::callsign({{"call", "w9xyz"}, {"addr2", "OGDEN"}}, "KEY2") << "W9XYZ"
                           << ""
                           << "KEY2"
                           << "";
    QTest::newRow("not found") << 200 << QrzXml::notFound("W9XYZ", "KEY2") << ""
                               << "Not found: W9XYZ"
                               << "KEY2"
                               << "";
    // The service's word for a session that ran out; the key stays for the
    // next log-in to replace.
    QTest::newRow("session expired") << 200 << QrzXml::session("", "", "Session Timeout") << ""
                                     << "Session Timeout"
                                     << "KEY1"
                                     << "";
    QTest::newRow("no answer") << 503 << QByteArray("gone") << ""
                               << ""
                               << "KEY1"
                               << "QRZ look-up of W9XYZ failed: The server answered HTTP 503 Error";
    // A 200 that is not the service's XML brings no record, not a blank one.
    QTest::newRow("portal page") << 200 << PortalPage << ""
                                 << ""
                                 << "KEY1"
                                 << "QRZ look-up of W9XYZ failed: The reply is not QRZ XML data.";
    QTest::newRow("XHTML page") << 200 << QByteArray("<html><head><title>Proxy</title></head><body/></html>") << ""
                                << ""
                                << "KEY1"
                                << "QRZ look-up of W9XYZ failed: The reply is not QRZ XML data.";
    QTest::newRow("empty reply") << 200 << QByteArray() << ""
                                 << ""
                                 << "KEY1"
                                 << "QRZ look-up of W9XYZ failed: The reply was empty.";
    // A key of blanks renews nothing.
    QTest::newRow("blank key") << 200 << QrzXml::callsign({{"call", "w9xyz"}, {"addr2", "OGDEN"}}, " \t ") << "W9XYZ"
                               << ""
                               << "KEY1"
                               << "";
}

void TestQrzClient::lookUp()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, call);
    QFETCH(QString, error);
    QFETCH(QString, key);
    QFETCH(QString, failure);

    Rig rig;
    QVERIFY(rig.logIn());
    rig.http.on(Lookup, FakeHttp::answer(body, status));
    rig.http.requests.clear();
    QSignalSpy records(&rig.client, &QrzClient::callRecord);
    QSignalSpy failures(&rig.client, &QrzClient::lookUpFailed);
    QSignalSpy logLines(&rig.client, &QrzClient::failure);

    rig.client.lookUp("W9XYZ", 7);
    QTRY_COMPARE(records.size() + failures.size(), 1);
    QCOMPARE(rig.http.requests, QList<QByteArray>{"/xml/current/?s=KEY1;callsign=W9XYZ"});
    QCOMPARE(rig.client.sessionKey(), key);
    // A look-up's failure is its owner's to log.
    QVERIFY(logLines.isEmpty());
    if (failure.isEmpty()) {
        const auto record = records.first().at(0).value<Qrz::CallRecord>();
        QCOMPARE(records.first().at(1).toInt(), 7);
        QCOMPARE(record.call, call);
        QCOMPARE(record.error, error);
        QCOMPARE(record.city, call.isEmpty() ? QString() : QStringLiteral("Ogden"));
    } else {
        QCOMPARE(failures.first().at(0).toString(), failure);
        QCOMPARE(failures.first().at(1).toInt(), 7);
        // A reply that came is told from one that did not.
        QCOMPARE(failures.first().at(2).toBool(), status == 200);
    }
}

void TestQrzClient::stationLookUp()
{
    Rig rig;
    QVERIFY(rig.logIn());
    QSignalSpy records(&rig.client, &QrzClient::stationRecord);
    QSignalSpy failures(&rig.client, &QrzClient::failure);

    rig.http.on(Lookup,
                FakeHttp::answer(QrzXml::callsign({{"call", "k7abc"}, {"state", "ut"}, {"GMTOffset", "-7"}}, "KEY2")));
    rig.client.lookUpStation("K7ABC");
    QVERIFY(records.wait());
    auto record = records.takeFirst().first().value<Qrz::StationRecord>();
    QCOMPARE(record.call, QStringLiteral("K7ABC"));
    QCOMPARE(record.state, QStringLiteral("UT"));
    QCOMPARE(record.utc, QStringLiteral("-7"));
    QCOMPARE(rig.client.sessionKey(), QStringLiteral("KEY2"));

    rig.http.on(Lookup, FakeHttp::answer(QrzXml::notFound("K7ABC", "KEY3")));
    rig.client.lookUpStation("K7ABC");
    QVERIFY(records.wait());
    record = records.takeFirst().first().value<Qrz::StationRecord>();
    QCOMPARE(record.call, QStringLiteral("None"));
    QCOMPARE(rig.client.sessionKey(), QStringLiteral("KEY3"));

    rig.http.on(Lookup, FakeHttp::answer("gone", 503));
    rig.client.lookUpStation("K7ABC");
    QVERIFY(failures.wait());
    QCOMPARE(texts(failures),
             QStringList{"QRZ look-up of this station K7ABC failed: The server answered HTTP 503 Error"});
    QVERIFY(records.isEmpty());

    // A portal's page does not blank the station's details.
    rig.http.on(Lookup, FakeHttp::answer(PortalPage));
    rig.client.lookUpStation("K7ABC");
    QVERIFY(failures.wait());
    QCOMPARE(texts(failures).last(), "QRZ look-up of this station K7ABC failed: The reply is not QRZ XML data.");
    QVERIFY(records.isEmpty());
    QCOMPARE(rig.client.sessionKey(), QStringLiteral("KEY3"));
}

void TestQrzClient::batchRun()
{
    Rig rig;
    QVERIFY(rig.logIn());
    // The first answer renews the key; the later requests carry the new one.
    rig.http.on(Lookup + "KEY1;callsign=K1AAA", FakeHttp::answer(QrzXml::callsign({{"call", "k1aaa"}}, "KEY2")));
    rig.http.on(Lookup + "KEY2;callsign=W2BAD", FakeHttp::answer(QrzXml::notFound("W2BAD", "KEY2")));
    rig.http.on(Lookup + "KEY2;callsign=W3ERR", FakeHttp::answer("<html>Internal error</html>", 500));
    rig.http.on(Lookup + "KEY2;callsign=W4PAGE", FakeHttp::answer(PortalPage));
    rig.http.on(Lookup + "KEY2;callsign=W5EEE", FakeHttp::answer(QrzXml::callsign({{"call", "W5EEE"}}, "KEY2")));
    rig.http.requests.clear();

    QSignalSpy records(&rig.client, &QrzClient::batchRecord);
    QSignalSpy failures(&rig.client, &QrzClient::failure);
    QSignalSpy finished(&rig.client, &QrzClient::batchFinished);
    QList<QPair<int, int>> progress;
    QList<int> requestsSeen;
    connect(&rig.client, &QrzClient::batchProgress, this, [&](int done, int total) {
        progress.append({done, total});
        requestsSeen.append(int(rig.http.requests.size()));
    });

    QVERIFY(rig.client.runBatch({"K1AAA", "W2BAD", "W3ERR", "W4PAGE", "W5EEE"}));
    QVERIFY(rig.client.batchRunning());
    // A second run cannot start while this one goes.
    QVERIFY(!rig.client.runBatch({"K9ZZZ"}));

    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toInt(), 5);
    QVERIFY(!rig.client.batchRunning());
    QCOMPARE(progress, (QList<QPair<int, int>>{{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}}));
    // One request at a time: each goes out once the one before has ended.
    QCOMPARE(requestsSeen, (QList<int>{0, 1, 2, 3, 4}));
    QCOMPARE(rig.http.requests,
             (QList<QByteArray>{"/xml/current/?s=KEY1;callsign=K1AAA", "/xml/current/?s=KEY2;callsign=W2BAD",
                                "/xml/current/?s=KEY2;callsign=W3ERR", "/xml/current/?s=KEY2;callsign=W4PAGE",
                                "/xml/current/?s=KEY2;callsign=W5EEE"}));
    QStringList stored;
    for (const QList<QVariant> &arguments : records)
        stored.append(arguments.first().value<Qrz::CallRecord>().call);
    QCOMPARE(stored, (QStringList{"K1AAA", "W5EEE"}));
    QCOMPARE(texts(failures), (QStringList{"Callsign List Error, Not found: W2BAD",
                                           "Callsign List Error, W3ERR: The server answered HTTP 500 Error",
                                           "Callsign List Error, W4PAGE: the reply holds no call record."}));

    // The next run starts afresh.
    QVERIFY(rig.client.runBatch({"W5EEE"}));
    QTRY_COMPARE(finished.size(), 2);
    QCOMPARE(finished.last().first().toInt(), 1);
    QCOMPARE(records.size(), 3);
}

void TestQrzClient::limitsHoldForEveryRequest_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("trickling");
    QTest::addColumn<QString>("failure");

    const QString silent = "The server did not answer in time.";
    const QString slow = "The server did not finish its answer in time.";
    QTest::newRow("log-in, silent") << "login" << false << "QRZ login failed: " + silent;
    QTest::newRow("log-in, trickling") << "login" << true << "QRZ login failed: " + slow;
    QTest::newRow("look-up, silent") << "lookUp" << false << "QRZ look-up of W1AW failed: " + silent;
    QTest::newRow("look-up, trickling") << "lookUp" << true << "QRZ look-up of W1AW failed: " + slow;
    QTest::newRow("station, trickling") << "station" << true << "QRZ look-up of this station W1AW failed: " + slow;
    QTest::newRow("batch, silent") << "batch" << false << "Callsign List Error, W1AW: " + silent;
}

void TestQrzClient::limitsHoldForEveryRequest()
{
    QFETCH(QString, request);
    QFETCH(bool, trickling);
    QFETCH(QString, failure);

    Rig rig;
    QVERIFY(rig.logIn());
    rig.client.setLimits({200, 500, Net::ReplyLimitBytes});
    // A byte every 50 ms never trips the idle limit; the whole would take seconds.
    const FakeHttp::Response response =
        trickling ? FakeHttp::trickling(QrzXml::callsign({{"call", "W1AW"}}, "KEY2"), 50) : FakeHttp::silence();
    rig.http.on(Login, response);
    rig.http.on(Lookup, response);

    QSignalSpy failures(&rig.client, &QrzClient::failure);
    QSignalSpy lookUpFailures(&rig.client, &QrzClient::lookUpFailed);
    QSignalSpy finished(&rig.client, &QrzClient::batchFinished);
    if (request == "login")
        rig.client.login("K7ABC", "secret");
    else if (request == "lookUp")
        rig.client.lookUp("W1AW");
    else if (request == "station")
        rig.client.lookUpStation("W1AW");
    else
        rig.client.runBatch({"W1AW"});

    QTRY_COMPARE_WITH_TIMEOUT(failures.size() + lookUpFailures.size(), 1, 3000);
    QCOMPARE(request == "lookUp" ? texts(lookUpFailures) : texts(failures), QStringList{failure});
    QCOMPARE(rig.client.sessionKey(), QStringLiteral("KEY1"));
    if (request == "batch")
        QTRY_COMPARE(finished.size(), 1);
    QTRY_VERIFY(rig.manager.findChildren<QNetworkReply *>().isEmpty());
}

QTEST_GUILESS_MAIN(TestQrzClient)
#include "tst_qrzclient.moc"
