#include "app/constants.h"
#include "app/trelvin.h"
#include "dialogs/station.h"
#include "fakehttp.h"
#include "lookup/hamqthclient.h"
#include "lookup/lookupcontroller.h"
#include "secrets/secretstore.h"
#include "testsupport.h"
#include "ui_station.h"
#include "ui_trelvin.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

// The QRZ and HamQTH passwords: in the keyring where one answers (this suite
// once more inside tests/keyring-session.sh, as tst_secrets_keyring), in the
// files as before, closed to others, where none does.

namespace {

HamQthClient *hamQth(Trelvin *w)
{
    return w->findChild<LookupController *>()->hamQthClient();
}

const QByteArray Login = "/xml/current/?username=";
const QString QrzPassword = QStringLiteral("qrz-Secret-1");
const QString HamQthPassword = QStringLiteral("hamqth-Secret-2");
const QStringList StationColumns{"call", "passwd", "state", "lat", "lon", "grid", "utc", "dst"};

bool inKeyringSession()
{
    return qEnvironmentVariableIsSet("TRELVIN_TEST_KEYRING");
}

// A Contacts.db as an older copy leaves it: the password in the station row.
void seedStation(const Runtime &rt, const QString &passwd)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
        db.setDatabaseName(rt.dataPath() + "/Contacts.db");
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec("CREATE TABLE station (call TEXT, passwd TEXT, state TEXT, lat TEXT, lon TEXT, "
                           "grid TEXT, utc TEXT, dst TEXT)"));
        query.prepare("INSERT INTO station VALUES ('K7ABC', ?, 'UT', '40.7', '-111.9', 'DN40', '-7', 'Y')");
        query.addBindValue(passwd);
        QVERIFY(query.exec());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));
}

// What the keyring holds under `key`, read the program's way.
QString keyring(const QString &key, SecretStore::Outcome *outcome = nullptr)
{
    SecretStore store;
    QSignalSpy answer(&store, &SecretStore::readFinished);
    store.read(key);
    if (!answer.wait(10000))
        return QStringLiteral("<no answer>");
    if (outcome)
        *outcome = answer.first().at(2).value<SecretStore::Outcome>();
    return answer.first().at(1).toString();
}

QString iniPassword(const Runtime &rt)
{
    QSettings settings(rt.settingsFile(), QSettings::IniFormat);
    return settings.value("Main/HamQthPassword").toString();
}

// The password the fake QRZ service was sent at each log-in.
QStringList loginPasswords(const FakeHttp &http)
{
    QStringList passwords;
    for (const QByteArray &target : http.requestsTo(Login)) {
        for (const QByteArray &pair : target.mid(target.indexOf('?') + 1).split('&')) {
            if (pair.startsWith("password="))
                passwords.append(QString::fromUtf8(QByteArray::fromPercentEncoding(pair.mid(9))));
        }
    }
    return passwords;
}

QStringList unencryptedLines(const Runtime &rt)
{
    return rt.readData(Trel::ErrorLogFile).split('\n').filter("stored unencrypted");
}

QFile::Permissions ownerOnly(bool dir)
{
    const QFile::Permissions file = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    return dir ? file | QFile::ExeOwner | QFile::ExeUser : file;
}

// A runtime with a fake QRZ service and the update check off.
struct Rig {
    Runtime rt;
    FakeHttp http;

    Rig()
    {
        rt.installInfo("State_Info.csv");
        rt.addEmptyRoster();
        if (!http.listen())
            qFatal("no port for the fake QRZ service");
        writeMain("QrzServer", http.base());
        writeMain("AutoUpdate", false);
        http.on(Login, FakeHttp::answer(QrzXml::session("KEY1")));
    }
    // The files of an older copy, readable by anyone.
    void seedOlderFiles()
    {
        seedStation(rt, QrzPassword);
        writeMain("HamQthUser", "K7abc");
        writeMain("HamQthPassword", HamQthPassword);
        const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser
                                        | QFile::ReadGroup | QFile::ReadOther;
        QVERIFY(QFile::setPermissions(rt.dataPath(),
                                      open | QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther));
        QVERIFY(QFile::setPermissions(rt.dataPath() + "/Contacts.db", open));
        QVERIFY(QFile::setPermissions(rt.settingsFile(), open));
    }
};

} // namespace

class TestSecrets : public QObject {
    Q_OBJECT

private slots:
    void olderFilesMoveIntoKeyring();
    void savedPasswordsGoToKeyring();
    void withoutKeyringFilesKeepThem();
};

void TestSecrets::olderFilesMoveIntoKeyring()
{
    if (!inKeyringSession())
        QSKIP("Runs inside the keyring session (tst_secrets_keyring).");
    Rig rig;
    rig.seedOlderFiles();
    Trelvin *w = rig.rt.start();
    QVERIFY(w->started());

    // The start-up logs in with the file's password while the keyring takes
    // both; the files keep blanks, in the columns older copies read.
    QTRY_COMPARE(loginPasswords(rig.http), QStringList{QrzPassword});
    QTRY_COMPARE(column(fileDb(w), "SELECT passwd FROM station"), QStringList{""});
    QTRY_COMPARE(iniPassword(rig.rt), QString());
    QCOMPARE(keyring("qrz:K7ABC"), QrzPassword);
    QCOMPARE(keyring("hamqth:k7abc"), HamQthPassword);
    QCOMPARE(column(fileDb(w), "SELECT name FROM pragma_table_info('station')"), StationColumns);
    QCOMPARE(column(fileDb(w), "SELECT call || state FROM station"), QStringList{"K7ABCUT"});
    // Nothing of it is left in the database file or its log.
    for (const QString name : {"Contacts.db", "Contacts.db-wal"}) {
        QFile file(rig.rt.dataPath() + "/" + name);
        if (file.open(QIODevice::ReadOnly))
            QVERIFY2(!file.readAll().contains(QrzPassword.toUtf8()), qPrintable(name));
    }
    FORM(w, actionExit)->trigger();
    QCOMPARE(iniPassword(rig.rt), QString());

    // The next start finds them in the keyring.
    rig.rt.stop();
    rig.http.requests.clear();
    rig.rt.prompter.clear();
    w = rig.rt.start();
    QTRY_COMPARE(loginPasswords(rig.http), QStringList{QrzPassword});
    QCOMPARE(STATION(w, pwd)->text(), QrzPassword);
    QTRY_VERIFY(hamQth(w)->isConfigured());
    QCOMPARE(hamQth(w)->password(), HamQthPassword);
    QCOMPARE(STATION(w, hamqthPwd)->text(), HamQthPassword);
    QVERIFY(rig.rt.prompter.calls.isEmpty());
    QVERIFY(unencryptedLines(rig.rt).isEmpty());
}

void TestSecrets::savedPasswordsGoToKeyring()
{
    if (!inKeyringSession())
        QSKIP("Runs inside the keyring session (tst_secrets_keyring).");
    Rig rig;
    Trelvin *w = rig.rt.start();
    STATION(w, call)->setText("w7new");
    STATION(w, pwd)->setText("typed-qrz");
    STATION(w, hamqthUser)->setText("w7new");
    STATION(w, hamqthPwd)->setText("typed-hamqth");
    STATION(w, saveStation)->click();
    QCOMPARE(column(fileDb(w), "SELECT call || '|' || passwd FROM station"), QStringList{"W7NEW|"});
    QCOMPARE(iniPassword(rig.rt), QString());
    QTRY_COMPARE(keyring("qrz:W7NEW"), QStringLiteral("typed-qrz"));
    QTRY_COMPARE(keyring("hamqth:w7new"), QStringLiteral("typed-hamqth"));
    QVERIFY(hamQth(w)->isConfigured());

    // An emptied password leaves the keyring too.
    STATION(w, pwd)->clear();
    STATION(w, saveStation)->click();
    SecretStore::Outcome outcome = SecretStore::Done;
    QTRY_COMPARE((keyring("qrz:W7NEW", &outcome), outcome), SecretStore::NotFound);
    QCOMPARE(keyring("hamqth:w7new"), QStringLiteral("typed-hamqth"));
    QCOMPARE(column(fileDb(w), "SELECT passwd FROM station"), QStringList{""});
    FORM(w, actionExit)->trigger();
    QCOMPARE(iniPassword(rig.rt), QString());
    QVERIFY(unencryptedLines(rig.rt).isEmpty());
}

void TestSecrets::withoutKeyringFilesKeepThem()
{
    if (inKeyringSession())
        QSKIP("Runs without a keyring (tst_secrets).");
    Rig rig;
    rig.seedOlderFiles();
    Trelvin *w = rig.rt.start();
    QVERIFY(w->started());
    QTRY_COMPARE(loginPasswords(rig.http), QStringList{QrzPassword});

    // Where they were, closed to everyone else, and said once.
    QTRY_COMPARE(unencryptedLines(rig.rt).size(), 1);
    QCOMPARE(column(fileDb(w), "SELECT passwd FROM station"), QStringList{QrzPassword});
    QCOMPARE(iniPassword(rig.rt), HamQthPassword);
    QVERIFY(hamQth(w)->isConfigured());
    QCOMPARE(QFileInfo(rig.rt.dataPath()).permissions(), ownerOnly(true));
    for (const QString &file :
         {rig.rt.dataPath() + "/Contacts.db", rig.rt.dataPath() + "/errorLog.txt", rig.rt.settingsFile()})
        QVERIFY2(QFileInfo(file).permissions() == ownerOnly(false), qPrintable(file));

    // A new password is kept the same way; the note is not repeated.
    STATION(w, pwd)->setText("qrz-Secret-3");
    STATION(w, hamqthPwd)->setText("hamqth-Secret-4");
    STATION(w, saveStation)->click();
    QTRY_COMPARE(column(fileDb(w), "SELECT passwd FROM station"), QStringList{"qrz-Secret-3"});
    QTRY_COMPARE(iniPassword(rig.rt), QStringLiteral("hamqth-Secret-4"));
    FORM(w, actionExit)->trigger();
    QCOMPARE(iniPassword(rig.rt), QStringLiteral("hamqth-Secret-4"));
    QCOMPARE(unencryptedLines(rig.rt).size(), 1);

    // The next start reads them there and logs in at once.
    rig.rt.stop();
    rig.http.requests.clear();
    w = rig.rt.start();
    QCOMPARE(STATION(w, pwd)->text(), QStringLiteral("qrz-Secret-3"));
    QTRY_COMPARE(loginPasswords(rig.http), QStringList{"qrz-Secret-3"});
    QCOMPARE(hamQth(w)->password(), QStringLiteral("hamqth-Secret-4"));
    QVERIFY(unencryptedLines(rig.rt).first().contains(rig.rt.dataPath() + "/Contacts.db"));

    // A window closed before the keyring answered leaves nothing that the
    // answer could call into.
    STATION(w, saveStation)->click();
    // The job is under way once the event loop ran.
    QCoreApplication::processEvents();
    rig.rt.stop();
    QTest::qWait(300);
}

QTEST_MAIN(TestSecrets)
#include "tst_secrets.moc"
