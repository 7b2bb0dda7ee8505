#include "fakehttp.h"
#include "testsupport.h"

#include "app/trelvin.h"
#include "data/callbookstore.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "lookup/hamqthclient.h"
#include "lookup/lookupcontroller.h"
#include "ui_contact.h"
#include "ui_station.h"
#include "ui_trelvin.h"

#include <QNetworkAccessManager>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

namespace {

LookupController *lookups(Trelvin *w)
{
    return w->findChild<LookupController *>();
}

const QByteArray Login = "/xml.php?u=";

QByteArray session(const QByteArray &id)
{
    return "<?xml version=\"1.0\"?>\n<HamQTH version=\"2.8\" xmlns=\"https://www.hamqth.com\"><session><session_id>"
           + id + "</session_id></session></HamQTH>";
}

QByteArray sessionError(const QByteArray &error)
{
    return "<?xml version=\"1.0\"?>\n<HamQTH version=\"2.8\" xmlns=\"https://www.hamqth.com\"><session><error>" + error
           + "</error></session></HamQTH>";
}

QByteArray search(const QByteArray &call, const QByteArray &nick, const QByteArray &city)
{
    return "<?xml version=\"1.0\"?>\n<HamQTH version=\"2.8\" xmlns=\"https://www.hamqth.com\"><search><callsign>"
           + call.toLower() + "</callsign><nick>" + nick + "</nick><qth>" + city
           + "</qth><country>United States</country><adr_name>" + nick + " Q. Example</adr_name>"
           + "<adr_street1>1 ELM ST</adr_street1><adr_city>" + city + "</adr_city><adr_zip>84101</adr_zip>"
           + "<us_state>ut</us_state><latitude>40.77</latitude><longitude>-111.88</longitude><grid>dn40bs</grid>"
           + "<utc_offset>-7</utc_offset></search></HamQTH>";
}

QByteArray searchTarget(const QByteArray &id)
{
    return "/xml.php?id=" + id + "&callsign=";
}

// A client of the fake service with an account.
struct Rig {
    FakeHttp http;
    QNetworkAccessManager manager;
    HamQthClient client{&manager};

    Rig()
    {
        QVERIFY(http.listen());
        client.setServer(http.base());
        client.setCredentials("k7abc", "p&ss word");
    }
};

// The one call book record the window tests use.
bool writeCallBook(const QString &path)
{
    bool given = false;
    return CallBookStore::write(path, "test",
                                [&](CallBookRow &row) {
                                    if (given)
                                        return false;
                                    given = true;
                                    row = CallBookRow();
                                    row.call = "W7FCC";
                                    row.first = "DORIS";
                                    row.last = "FIELD";
                                    row.street = "9 CANYON RD";
                                    row.city = "SALT LAKE CITY";
                                    row.state = "UT";
                                    row.zip = "84101";
                                    row.licenceClass = "G";
                                    row.expires = "2031-03-15";
                                    row.hasPosition = true;
                                    row.lat = 40.756;
                                    row.lon = -111.9;
                                    return true;
                                })
        .ok();
}

} // namespace

class TestHamQth : public QObject {
    Q_OBJECT

private slots:
    void lookUpReusesSession();
    void expiredSessionLogsInAgain();
    void refusedAnswers_data();
    void refusedAnswers();
    void callBookFillsSearchAndHamQthRefines();
    void lookUpKeyFallsBackToHamQth();
    void pageInsteadOfAnswerLeavesEntry();
};

void TestHamQth::lookUpReusesSession()
{
    Rig rig;
    rig.http.on(Login, FakeHttp::answer(session("SID1")));
    rig.http.on(searchTarget("SID1"), FakeHttp::answer(search("W7FCC", "Doris", "SALT LAKE CITY")));
    QSignalSpy records(&rig.client, &HamQthClient::callRecord);
    rig.client.lookUp("W7FCC", 1);
    QVERIFY(records.wait());
    const auto record = records.at(0).at(0).value<Qrz::CallRecord>();
    QCOMPARE(records.at(0).at(1).toInt(), 1);
    QCOMPARE(QStringList({record.call, record.fname, record.last, record.address, record.city, record.state, record.zip,
                          record.lat, record.lon, record.grid, record.utc, record.source}),
             QStringList({"W7FCC", "Doris", "Example", "1 Elm St", "Salt Lake City", "UT", "84101", "40.77", "-111.88",
                          "DN40bs", "-7", "HamQTH"}));
    // Credentials are percent-encoded.
    QCOMPARE(rig.http.requestsTo(Login), QList<QByteArray>({"/xml.php?u=k7abc&p=p%26ss%20word"}));

    rig.client.lookUp("W7FCC", 2);
    QVERIFY(records.wait());
    QCOMPARE(rig.http.requestsTo(Login).size(), 1);
    QCOMPARE(rig.http.requestsTo(searchTarget("SID1")).size(), 2);
    QCOMPARE(rig.client.sessionId(), "SID1");
}

void TestHamQth::expiredSessionLogsInAgain()
{
    Rig rig;
    rig.http.on(Login, FakeHttp::answer(session("SID1")));
    rig.http.on(searchTarget("SID1"), FakeHttp::answer(search("W7FCC", "Doris", "OGDEN")));
    QSignalSpy records(&rig.client, &HamQthClient::callRecord);
    rig.client.lookUp("W7FCC");
    QVERIFY(records.wait());

    // An hour later the service has forgotten the session.
    rig.http.on(searchTarget("SID1"), FakeHttp::answer(sessionError("Session does not exist or expired")));
    rig.http.on(Login, FakeHttp::answer(session("SID2")));
    rig.http.on(searchTarget("SID2"), FakeHttp::answer(search("W7FCC", "Doris", "PROVO")));
    rig.client.lookUp("W7FCC");
    QVERIFY(records.wait());
    QCOMPARE(records.size(), 2);
    QCOMPARE(records.at(1).at(0).value<Qrz::CallRecord>().city, "Provo");
    QCOMPARE(rig.http.requestsTo(Login).size(), 2);
    QCOMPARE(rig.client.sessionId(), "SID2");

    // A session refused again right after a fresh log-in is not chased for ever.
    rig.http.on(searchTarget("SID2"), FakeHttp::answer(sessionError("Session does not exist or expired")));
    rig.http.on(Login, FakeHttp::answer(session("SID2")));
    QSignalSpy failed(&rig.client, &HamQthClient::lookUpFailed);
    rig.client.lookUp("W7FCC");
    QVERIFY(failed.wait());
    QCOMPARE(failed.at(0).at(0).toString(), "HamQTH look-up of W7FCC failed: Session does not exist or expired");
    QCOMPARE(rig.http.requestsTo(Login).size(), 3);
}

void TestHamQth::refusedAnswers_data()
{
    QTest::addColumn<QByteArray>("login");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("error");   // of a record that came
    QTest::addColumn<QString>("failure"); // of a look-up that failed

    QTest::newRow("unknown call") << session("SID1") << sessionError("Callsign not found") << "Callsign not found"
                                  << QString();
    QTest::newRow("malformed search") << session("SID1") << QByteArray("<HamQTH><search><callsign>w7fcc</search>")
                                      << QString()
                                      << "HamQTH look-up of W7FCC failed: The reply is not HamQTH XML data.";
    QTest::newRow("portal page instead") << session("SID1") << QByteArray("<html><body>Sign in</body></html>")
                                         << QString()
                                         << "HamQTH look-up of W7FCC failed: The reply is not HamQTH XML data.";
    QTest::newRow("page that names the service")
        << session("SID1") << QByteArray("<html><!-- <HamQTH> --><body><callsign>w7fcc</callsign></body></html>")
        << QString() << "HamQTH look-up of W7FCC failed: The reply is not HamQTH XML data.";
    QTest::newRow("wrong password") << sessionError("Wrong user name or password") << QByteArray() << QString()
                                    << "HamQTH login failed: Wrong user name or password (look-up of W7FCC)";
    QTest::newRow("malformed login") << QByteArray("<HamQTH><session><session_id>") << QByteArray() << QString()
                                     << "HamQTH login failed: The reply is not HamQTH XML data. (look-up of W7FCC)";
}

void TestHamQth::refusedAnswers()
{
    QFETCH(QByteArray, login);
    QFETCH(QByteArray, reply);
    QFETCH(QString, error);
    QFETCH(QString, failure);
    Rig rig;
    rig.http.on(Login, FakeHttp::answer(login));
    rig.http.on(searchTarget("SID1"), FakeHttp::answer(reply));
    QSignalSpy records(&rig.client, &HamQthClient::callRecord);
    QSignalSpy failed(&rig.client, &HamQthClient::lookUpFailed);
    rig.client.lookUp("W7FCC", 1);
    QTRY_COMPARE(records.size() + failed.size(), 1);
    if (failure.isEmpty()) {
        QCOMPARE(records.at(0).at(0).value<Qrz::CallRecord>().error, error);
    } else {
        QCOMPARE(failed.at(0).at(0).toString(), failure);
        QCOMPARE(failed.at(0).at(1).toInt(), 1);
    }
}

void TestHamQth::callBookFillsSearchAndHamQthRefines()
{
    FakeHttp http;
    QVERIFY(http.listen());
    http.on(Login, FakeHttp::answer(session("SID1")));
    http.on(searchTarget("SID1"), FakeHttp::answer(search("W7FCC", "Dot", "OGDEN")));
    Runtime rt;
    QVERIFY(rt.installInfo("State_Info.csv"));
    QVERIFY(writeCallBook(rt.dataPath() + "/CallBook.db"));
    writeMain("HamQthServer", http.base());
    writeMain("HamQthUser", "k7abc");
    writeMain("HamQthPassword", "secret");
    Trelvin *w = rt.start();
    QVERIFY(w->started());

    // A call without a contact: the call book answers at once.
    FORM(w, search)->setText("W7FCC");
    callSearchOf(w)->searchEdited("W7FCC");
    QCOMPARE(FORM(w, lb_candidate)->text(), "No Match");
    QCOMPARE(QStringList({FORM(w, call)->text(), FORM(w, name)->text(), FORM(w, city)->text(), FORM(w, state)->text()}),
             QStringList({"W7FCC", "Doris", "Salt Lake City", "UT"}));
    QCOMPARE(QStringList({CONTACT(w, name)->text(), CONTACT(w, classlic)->text(), CONTACT(w, expire)->text(),
                          CONTACT(w, addr)->text(), CONTACT(w, zip)->text(), CONTACT(w, lat)->text(),
                          CONTACT(w, lon)->text(), CONTACT(w, geoloc)->text()}),
             QStringList({"Field", "General", "2031-03-15", "9 Canyon Rd", "84101", "40.7560", "-111.9000", "FCC"}));
    QVERIFY(lookups(w)->refinementPending());
    QVERIFY(http.requests.isEmpty());

    // A fragment typed on drops the pending look-up.
    FORM(w, search)->setText("W7FC");
    callSearchOf(w)->searchEdited("W7FC");
    QVERIFY(!lookups(w)->refinementPending());
    QCOMPARE(FORM(w, name)->text(), QString());

    // The operator corrects the name before HamQTH answers; the answer
    // refines the rest but leaves what was typed.
    FORM(w, search)->setText("W7FCC");
    callSearchOf(w)->searchEdited("W7FCC");
    QTest::keyClicks(FORM(w, name), " mae");
    QCOMPARE(FORM(w, name)->text(), "Doris Mae");
    QSignalSpy records(lookups(w)->hamQthClient(), &HamQthClient::callRecord);
    QVERIFY(records.wait(3000));
    QCOMPARE(http.requestsTo(searchTarget("SID1")).size(), 1);
    QCOMPARE(QStringList({FORM(w, name)->text(), FORM(w, city)->text(), CONTACT(w, city)->text(),
                          CONTACT(w, geoloc)->text(), CONTACT(w, lat)->text()}),
             QStringList({"Doris Mae", "Ogden", "Ogden", "HamQTH", "40.77"}));

    // Stored with Enter: the new contact keeps the call book's data.
    QTest::keyClick(FORM(w, search), Qt::Key_Return);
    QSqlQuery query(storeOf(w).contactsDb());
    QVERIFY(query.exec("SELECT name, last, source FROM contact WHERE call = 'W7FCC'") && query.next());
    QCOMPARE(query.value(0).toString(), "Doris Mae");
    QCOMPARE(query.value(1).toString(), "Example");
    QCOMPARE(query.value(2).toString(), "HamQTH");
}

void TestHamQth::lookUpKeyFallsBackToHamQth()
{
    FakeHttp http;
    QVERIFY(http.listen());
    http.on(Login, FakeHttp::answer(session("SID1")));
    http.on(searchTarget("SID1"), FakeHttp::answer(search("K2NEW", "Ed", "BUFFALO")));
    Runtime rt;
    QVERIFY(rt.installInfo("State_Info.csv"));
    Trelvin *w = rt.start();
    QVERIFY(w->started());
    rt.prompter.clear();

    // Neither service: the QRZ notice as before.
    FORM(w, call)->setText("K2NEW");
    FORM(w, lookUpButton)->click();
    QCOMPARE(rt.prompter.titles(), QStringList({"Not Connected to QRZ Database"}));

    // With a HamQTH account from the Station dialog, F5 asks HamQTH.
    lookups(w)->hamQthClient()->setServer(http.base());
    STATION(w, hamqthUser)->setText("k7abc");
    STATION(w, hamqthPwd)->setText("secret");
    STATION(w, saveStation)->click();
    QCOMPARE(lookups(w)->hamQthClient()->user(), "k7abc");
    QSettings settings(rt.settingsFile(), QSettings::IniFormat);
    QCOMPARE(settings.value("Main/HamQthUser").toString(), "k7abc");
    rt.prompter.clear();
    QSignalSpy records(lookups(w)->hamQthClient(), &HamQthClient::callRecord);
    FORM(w, lookUpButton)->click();
    QVERIFY(records.wait());
    QVERIFY(rt.prompter.calls.isEmpty());
    QCOMPARE(QStringList({FORM(w, call)->text(), FORM(w, name)->text(), FORM(w, city)->text(), FORM(w, state)->text()}),
             QStringList({"K2NEW", "Ed", "Buffalo", "UT"}));
}

void TestHamQth::pageInsteadOfAnswerLeavesEntry()
{
    FakeHttp http;
    QVERIFY(http.listen());
    http.on(Login, FakeHttp::answer(session("SID1")));
    http.on(searchTarget("SID1"), FakeHttp::answer("<html><body>Sign in to the hotel network</body></html>"));
    Runtime rt;
    QVERIFY(rt.installInfo("State_Info.csv"));
    Trelvin *w = rt.start();
    QVERIFY(w->started());
    rt.prompter.clear();
    lookups(w)->hamQthClient()->setServer(http.base());
    lookups(w)->hamQthClient()->setCredentials("k7abc", "secret");
    FORM(w, call)->setText("W7FCC");
    FORM(w, name)->setText("Doris");
    FORM(w, city)->setText("Salt Lake City");
    FORM(w, state)->setText("UT");

    FORM(w, lookUpButton)->click();
    const QString text = "HamQTH look-up of W7FCC failed: The reply is not HamQTH XML data.";
    QTRY_COMPARE(FORM(w, statusbar)->currentMessage(), text);
    QVERIFY(rt.readData("errorLog.txt").contains(text));
    QCOMPARE(QStringList({FORM(w, call)->text(), FORM(w, name)->text(), FORM(w, city)->text(), FORM(w, state)->text()}),
             QStringList({"W7FCC", "Doris", "Salt Lake City", "UT"}));
    QVERIFY(rt.prompter.calls.isEmpty());
}

QTEST_MAIN(TestHamQth)
#include "tst_hamqth.moc"
