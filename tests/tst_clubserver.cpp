#include "pgserver.h"
#include "testsupport.h"

#include "app/trelvin.h"
#include "checkin/netrules.h"
#include "data/serverschema.h"
#include "dialogs/clubserver.h"
#include "sync/clubhub.h"
#include "sync/clublink.h"
#include "sync/clubsync.h"
#include "ui_trelvin.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

namespace {

// A program of the test: its own runtime folder, data and settings.
struct Program {
    Runtime *rt = nullptr;
    Trelvin *w = nullptr;

    void checkIn(const QString &call, const QString &name, const QString &comment = QString())
    {
        fillEntry(w, call, name, QStringLiteral("Ogden"), comment);
        QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    }
    QStringList net() const
    {
        QStringList lines =
            column(storeOf(w).contactsDb(),
                   QStringLiteral("SELECT call || '|' || name || '|' || status || '|' || comment || '|' "
                                  "|| (logId <> 0) FROM net"));
        lines.sort();
        return lines;
    }
    QStringList log() const
    {
        QStringList lines = column(storeOf(w).contactsDb(),
                                   QStringLiteral("SELECT date || '|' || time || '|' || status || '|' || call || '|' "
                                                  "|| name || '|' || comment FROM log"));
        lines.sort();
        return lines;
    }
    QString status() const
    {
        const QLabel *label = w->findChild<QLabel *>(QStringLiteral("clubStatus"));
        return label->isHidden() ? QString() : label->text();
    }
};

} // namespace

class TestClubServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void schemaIsMadeOnceAndUpgradedInOrder();
    void foreignOrNewerSchemaIsRefused_data();
    void foreignOrNewerSchemaIsRefused();
    void twoProgramsShareOneNet();
    void serverDownMidNetLosesAndDoublesNothing();
    void wrongPasswordShowsOneBoxAndTheNetGoesOn();
    void unreachableServerShowsOneBoxAndTheNetGoesOn();
    void passwordNeverReachesTheSettings();
    void netLostByTheServerComesBack();
    void offByDefault();
    void dialogTestsTheConnection();
    void contactsAndRosterTravel();
    void contactAndMemberChangedOnBothSidesWhileApart();
    void journalOfAnOlderProgramIsUpgraded();
    void badRowsAreRefusedByTheServerAndSkippedByThePrograms();
    void theServersOrderDecidesNotTheClocks();
    void membersMayOnlyAddToTheJournal();
    void aChangeTheServerWouldRefuseHoldsNothingBack();

private:
    Program start(const QString &conninfo, const QString &station = QString());
    QSqlDatabase connectAs(const QString &user, const QString &name);
    // The prompter in place: the last program's, which every program asks.
    ScriptedPrompter &prompter() { return runtimes.back()->prompter; }

    PgServer server;
    QTemporaryDir home;
    std::vector<std::unique_ptr<Runtime>> runtimes;
};

void TestClubServer::initTestCase()
{
    const QString failure = server.start();
    // scripts/test.sh installs the server: a missing one is a failure, never a skip.
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(home.isValid());
    // libpq's password file, as an operator keeps it; never the user's own.
    const QString passFile = home.path() + "/pgpass";
    QFile file(passFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("127.0.0.1:%1:*:op1:first-secret\n127.0.0.1:%1:*:op2:second-secret\n"
                              "127.0.0.1:%1:*:mem1:member-secret\n")
                   .arg(server.port())
                   .toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    qputenv("PGPASSFILE", passFile.toLocal8Bit());
    QVERIFY(server.resetDatabase().isEmpty());
    for (const auto &[user, password] :
         {std::pair{"op1", "first-secret"}, std::pair{"op2", "second-secret"}, std::pair{"op3", "third-secret"}})
        QCOMPARE(server.addOperator(QLatin1String(user), QLatin1String(password)), QString());
    // A club member as the set-up makes one: not the tables' owner.
    QCOMPARE(server.addMember(QStringLiteral("mem1"), QStringLiteral("member-secret")), QString());
}

void TestClubServer::cleanupTestCase()
{
    server.stop();
}

void TestClubServer::init()
{
    if (!server.running())
        QVERIFY(server.restart().isEmpty());
    QCOMPARE(server.resetDatabase(), QString());
}

void TestClubServer::cleanup()
{
    // The first program's runtime outlives the others: it restores the
    // working directory the test started in.
    while (!runtimes.empty())
        runtimes.pop_back();
}

Program TestClubServer::start(const QString &conninfo, const QString &station)
{
    runtimes.push_back(std::make_unique<Runtime>());
    Program program;
    program.rt = runtimes.back().get();
    program.rt->installInfo(QStringLiteral("State_Info.csv"));
    program.rt->addEmptyRoster();
    if (!conninfo.isEmpty())
        writeMain(QStringLiteral("ClubServer"), conninfo);
    program.w = program.rt->start();
    if (!station.isEmpty()) {
        StationRecord record;
        record.call = station;
        storeOf(program.w).contacts().saveStation(record);
    }
    return program;
}

QSqlDatabase TestClubServer::connectAs(const QString &user, const QString &name)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setConnectOptions(server.conninfo(user));
    db.open();
    return db;
}

void TestClubServer::schemaIsMadeOnceAndUpgradedInOrder()
{
    {
        QSqlDatabase db = connectAs(QStringLiteral("op1"), QStringLiteral("schema"));
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        ServerSchema::Outcome first = ServerSchema::prepare(db);
        QVERIFY2(first.ok, qPrintable(first.problem));
        QCOMPARE(first.version, 0);
        const ServerSchema::Outcome again = ServerSchema::prepare(db);
        QVERIFY(again.ok);
        QCOMPARE(again.version, ServerSchema::Version);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema"));
    // Made as the club's database owner: another operator may use all of it.
    {
        QSqlDatabase db = connectAs(QStringLiteral("op2"), QStringLiteral("schema2"));
        QVERIFY(ServerSchema::prepare(db).ok);
        QSqlQuery query(db);
        QVERIFY2(query.exec(QStringLiteral("INSERT INTO trelvin_net (id, started, ncs, origin) VALUES "
                                           "(repeat('a', 32), now(), 'K2X', repeat('b', 32))")),
                 qPrintable(query.lastError().text()));
        QVERIFY(query.exec(QStringLiteral("SELECT tableowner FROM pg_tables WHERE tablename = 'trelvin_change'")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("club"));
        QVERIFY(query.exec(QStringLiteral("SELECT data_type FROM information_schema.columns "
                                          "WHERE table_name = 'trelvin_change' AND column_name = 'made'")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("timestamp with time zone"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema2"));

    // A server left at the first version by an older program: brought up to
    // date in order, its changes kept, even those the later checks refuse.
    QCOMPARE(
        server.admin(QStringLiteral(
            "DROP VIEW trelvin_web_net, trelvin_web_entry, trelvin_web_place, trelvin_web_club; DROP FUNCTION "
            "trelvin_web_field(text, integer); DROP INDEX trelvin_change_contact; "
            "DROP TRIGGER trelvin_change_stamp ON trelvin_change; DROP TRIGGER trelvin_change_kept ON "
            "trelvin_change; DROP TRIGGER trelvin_net_kept ON trelvin_net; DROP FUNCTION trelvin_change_stamp(), "
            "trelvin_owner_only(), trelvin_net_open(text, timestamptz, text, text), trelvin_net_keep(text, "
            "timestamptz, text); ALTER TABLE trelvin_change DROP CONSTRAINT trelvin_change_values, DROP COLUMN "
            "writer; ALTER TABLE trelvin_net DROP CONSTRAINT trelvin_net_values; "
            "ALTER TABLE trelvin_change DROP CONSTRAINT trelvin_change_place; "
            "ALTER TABLE trelvin_change DROP COLUMN data; ALTER TABLE trelvin_change ALTER COLUMN net SET NOT NULL; "
            "INSERT INTO trelvin_change (id, net, origin, oseq, kind, call, status, logged, made) VALUES "
            "(repeat('c', 32), repeat('a', 32), repeat('b', 32), 1, 'entry', 'W7OLD', 0, false, now()), "
            "(repeat('f', 32), repeat('a', 32), repeat('b', 32), 2, 'entry', repeat('W', 300), 0, false, now()); "
            "UPDATE trelvin_meta SET value = '1' WHERE key = 'schema'")),
        QString());
    {
        QSqlDatabase db = connectAs(QStringLiteral("op1"), QStringLiteral("schema3"));
        const ServerSchema::Outcome upgraded = ServerSchema::prepare(db);
        QVERIFY2(upgraded.ok, qPrintable(upgraded.problem));
        QCOMPARE(upgraded.version, 1);
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("SELECT value FROM trelvin_meta WHERE key = 'schema'")) && query.next());
        QCOMPARE(query.value(0).toString(), QString::number(ServerSchema::Version));
        QVERIFY(query.exec(QStringLiteral("SELECT call FROM trelvin_change ORDER BY seq")) && query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("W7OLD"));
        // A change outside a net carries no net; one of a net must.
        QVERIFY(!query.exec(QStringLiteral("INSERT INTO trelvin_change (id, origin, oseq, kind, call, status, logged, "
                                           "made) VALUES (repeat('d', 32), repeat('b', 32), 2, 'entry', 'K1X', 0, "
                                           "false, now())")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema3"));
}

void TestClubServer::foreignOrNewerSchemaIsRefused_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("message");
    QTest::newRow("newer") << "UPDATE trelvin_meta SET value = '99' WHERE key = 'schema'"
                           << "The club server's schema is version 99, newer than this Trelvin knows (version "
                                  + QString::number(ServerSchema::Version)
                                  + "). Update Trelvin on this computer to use it.";
    QTest::newRow("garbage version") << "UPDATE trelvin_meta SET value = '1; DROP TABLE x' WHERE key = 'schema'"
                                     << "The club server's schema version is not one Trelvin made; its tables are "
                                        "not used.";
    QTest::newRow("tables without version") << "DROP TABLE trelvin_meta CASCADE"
                                            << "The club server's database holds Trelvin's tables without their "
                                               "version: they were not made by Trelvin and are not used.";
    QTest::newRow("changed columns") << "ALTER TABLE trelvin_change ADD COLUMN payload text"
                                     << "The club server's table trelvin_change is not as Trelvin makes it";
    QTest::newRow("no notifications") << "DROP TRIGGER trelvin_change_notify ON trelvin_change"
                                      << "The club server's tables lack the triggers that tell the other programs "
                                         "of a change; they are not used.";
}

void TestClubServer::foreignOrNewerSchemaIsRefused()
{
    QFETCH(QString, setup);
    QFETCH(QString, message);
    {
        QSqlDatabase db = connectAs(QStringLiteral("op1"), QStringLiteral("hostile"));
        QVERIFY(ServerSchema::prepare(db).ok);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("hostile"));
    QCOMPARE(server.admin(setup), QString());
    QCOMPARE(server.admin(QStringLiteral("SELECT 1")), QString());

    // The program: one box with the reason, the net goes on here, and the
    // server's tables are left as they were.
    Program a = start(server.conninfo(QStringLiteral("op1")));
    QTRY_VERIFY_WITH_TIMEOUT(a.status().startsWith(QLatin1String("Club server: offline")), 10000);
    QStringList boxes;
    for (const ScriptedPrompter::Call &call : prompter().calls) {
        if (call.title == QLatin1String("Club Server"))
            boxes.append(call.text);
    }
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes.first().startsWith(message), qPrintable(boxes.first()));
    QVERIFY(boxes.first().endsWith(QLatin1String("The net goes on on this computer without the club server.")));
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    QCOMPARE(a.net().size(), 1);
    QCOMPARE(a.status(), QStringLiteral("Club server: offline, 3 changes waiting"));
    if (QTest::currentDataTag() == QLatin1String("newer"))
        QCOMPARE(server.admin(QStringLiteral("DO $$ BEGIN IF (SELECT value FROM trelvin_meta) <> '99' THEN "
                                             "RAISE 'changed'; END IF; END $$")),
                 QString());
}

void TestClubServer::twoProgramsShareOneNet()
{
    Program a = start(server.conninfo(QStringLiteral("op1")), QStringLiteral("N7NCS"));
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as OP1 (not encrypted)"), 10000);
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    a.checkIn(QStringLiteral("K7BBB"), QStringLiteral("Bob"), QStringLiteral("mobile"));
    QTRY_COMPARE_WITH_TIMEOUT(storeOf(a.w).journal().unsentCount(), 0, 5000);

    // The second program is offered the net in progress and joins it.
    Program b = start(server.conninfo(QStringLiteral("op2")));
    QTRY_VERIFY_WITH_TIMEOUT(prompter().titles().contains(QStringLiteral("Join Club Net")), 10000);
    const std::optional<SyncNet> shared = storeOf(a.w).journal().sharedNet();
    QVERIFY(shared);
    const QString started =
        QDateTime::fromString(shared->started, Qt::ISODateWithMs).toUTC().toString("yyyy-MM-dd HH:mm");
    for (const ScriptedPrompter::Call &call : prompter().calls) {
        if (call.title == QLatin1String("Join Club Net"))
            QCOMPARE(call.text, "N7NCS is net control of a net on the club server, started " + started
                                    + " UTC, with 2 stations.\n\nJoin that net?");
    }
    QTRY_COMPARE_WITH_TIMEOUT(b.net(), a.net(), 5000);
    QCOMPARE(b.log(), a.log());
    QCOMPARE(storeOf(b.w).journal().sharedNet()->id, shared->id);
    QVERIFY(FORM(b.w, checkins)->toPlainText().contains(QLatin1String("K7BBB")));

    // Each sees the other's check-in, pushed by the server.
    b.checkIn(QStringLiteral("AC7CCC"), QStringLiteral("Cy"));
    QTRY_VERIFY_WITH_TIMEOUT(a.net().join(' ').contains(QLatin1String("AC7CCC|Cy")), 3000);
    QVERIFY(FORM(a.w, checkins)->toPlainText().contains(QLatin1String("AC7CCC")));
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"), QStringLiteral("has traffic"));
    QTRY_VERIFY_WITH_TIMEOUT(b.net().join(' ').contains(QLatin1String("W7AAA|Ann|"))
                                 && b.net().join(' ').contains(QLatin1String("has traffic")),
                             3000);
    // A removal on one is a removal on both.
    const std::optional<NetEntry> bob = storeOf(b.w).netLog().netEntryByCall(QStringLiteral("K7BBB"));
    QVERIFY(bob);
    QVERIFY(storeOf(b.w).netLog().removeFromNet(*bob).ok());
    QTRY_COMPARE_WITH_TIMEOUT(a.net().size(), 2, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(a.net(), b.net(), 3000);
    QCOMPARE(a.log(), b.log());
    // Every change of both is kept on the server, each once.
    QCOMPARE(server.admin(QStringLiteral("DO $$ BEGIN IF (SELECT count(*) FROM trelvin_change) <> "
                                         "(SELECT count(DISTINCT id) FROM trelvin_change) THEN RAISE 'doubled'; "
                                         "END IF; END $$")),
             QString());
}

void TestClubServer::serverDownMidNetLosesAndDoublesNothing()
{
    Program a = start(server.conninfo(QStringLiteral("op1")), QStringLiteral("N7NCS"));
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as OP1 (not encrypted)"), 10000);
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    Program b = start(server.conninfo(QStringLiteral("op2")));
    QTRY_COMPARE_WITH_TIMEOUT(b.net(), a.net(), 10000);
    prompter().clear();

    server.stop();
    for (int i = 0; i < 100; ++i) {
        a.checkIn(QStringLiteral("KA%1A").arg(i, 3, 10, QLatin1Char('0')), QStringLiteral("Alpha %1").arg(i));
        b.checkIn(QStringLiteral("KB%1B").arg(i, 3, 10, QLatin1Char('0')), QStringLiteral("Bravo %1").arg(i));
    }
    // The same station on both sides while apart: one entry in the end.
    a.checkIn(QStringLiteral("N7SAME"), QStringLiteral("Sam"), QStringLiteral("first"));
    QTest::qWait(5);
    b.checkIn(QStringLiteral("N7SAME"), QStringLiteral("Sam"), QStringLiteral("second"));
    QCOMPARE(a.net().size(), 102);
    QCOMPARE(b.net().size(), 102);
    QTRY_VERIFY_WITH_TIMEOUT(a.status().startsWith(QLatin1String("Club server: offline, ")), 5000);
    QCOMPARE(a.status(),
             QStringLiteral("Club server: offline, %1 changes waiting").arg(storeOf(a.w).journal().unsentCount()));
    QVERIFY(storeOf(a.w).journal().unsentCount() >= 101);
    // No box for a link that drops mid-net: the status bar says it.
    QVERIFY(!prompter().titles().contains(QStringLiteral("Club Server")));

    // B's backlog reaches the server after A's: its changes are the later.
    b.w->findChild<ClubHub *>()->stop();
    QCOMPARE(server.restart(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(storeOf(a.w).journal().unsentCount(), 0, 20000);
    b.w->findChild<ClubHub *>()->start();
    QTRY_VERIFY2_WITH_TIMEOUT(
        storeOf(a.w).journal().unsentCount() == 0 && storeOf(b.w).journal().unsentCount() == 0,
        qPrintable(a.status() + " / " + b.status() + "\n" + a.rt->readData(QStringLiteral("errorLog.txt")).right(1500)),
        20000);
    QTRY_COMPARE_WITH_TIMEOUT(a.net().size(), 202, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(a.net(), b.net(), 10000);
    QCOMPARE(a.log(), b.log());
    QCOMPARE(a.log().size(), 202);
    // The change that reached the server later won on both.
    const QStringList same = a.net().filter(QStringLiteral("N7SAME"));
    QCOMPARE(same.size(), 1);
    QVERIFY2(same.first().endsWith(QLatin1String("|second|1")), qPrintable(same.first()));
    QCOMPARE(a.status(), QStringLiteral("Club server: connected as OP1 (not encrypted)"));
}

void TestClubServer::wrongPasswordShowsOneBoxAndTheNetGoesOn()
{
    Program a = start(server.conninfo(QStringLiteral("op3")));
    Runtime *rt = a.rt;
    // Not in the password file: asked once; the wrong answer gets one box.
    rt->prompter.passwords = QStringList{QStringLiteral("not-the-secret")};
    QTRY_VERIFY_WITH_TIMEOUT(rt->prompter.titles().contains(QStringLiteral("Club Server")), 10000);
    QTest::qWait(1500);
    QStringList titles = rt->prompter.titles();
    titles.removeIf([](const QString &title) { return !title.startsWith(QLatin1String("Club Server")); });
    QCOMPARE(titles, (QStringList{QStringLiteral("Club Server Password"), QStringLiteral("Club Server")}));
    QVERIFY(rt->prompter.calls.last().text.startsWith(QLatin1String("The club server refused the log-in:\n")));
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    QCOMPARE(a.net().size(), 1);
    QCOMPARE(a.log().size(), 1);
    QCOMPARE(a.status(), QStringLiteral("Club server: offline, 3 changes waiting"));
    // The password is in neither the settings nor the error log.
    QVERIFY(!QString::fromUtf8(QFile(rt->settingsFile()).exists() ? [&] {
                QFile f(rt->settingsFile());
                f.open(QIODevice::ReadOnly);
                return f.readAll();
            }() : QByteArray()).contains(QLatin1String("not-the-secret")));
    QVERIFY(!rt->readData(QStringLiteral("errorLog.txt")).contains(QLatin1String("not-the-secret")));
    QVERIFY(rt->readData(QStringLiteral("errorLog.txt")).contains(QLatin1String("Club server: ")));

    // The right password, given once more: the backlog goes out.
    rt->prompter.passwords = QStringList{QStringLiteral("third-secret")};
    a.w->findChild<ClubHub *>()->forgetPassword();
    a.w->findChild<ClubHub *>()->start();
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as OP3 (not encrypted)"), 10000);
    QCOMPARE(storeOf(a.w).journal().unsentCount(), 0);
}

void TestClubServer::unreachableServerShowsOneBoxAndTheNetGoesOn()
{
    const int closed = PgServer::closedPort();
    Program a = start(QStringLiteral("host=127.0.0.1 port=%1 dbname=trelvin user=op1").arg(closed));
    QTRY_VERIFY_WITH_TIMEOUT(prompter().titles().contains(QStringLiteral("Club Server")), 10000);
    for (int i = 0; i < 3; ++i)
        a.checkIn(QStringLiteral("W7A%1").arg(i), QStringLiteral("Ann"));
    QTest::qWait(1500); // retried meanwhile, without a second box
    QCOMPARE(prompter().titles().count(QStringLiteral("Club Server")), 1);
    for (const ScriptedPrompter::Call &call : prompter().calls) {
        if (call.title == QLatin1String("Club Server"))
            QVERIFY2(call.text.startsWith(QLatin1String("The club server cannot be reached:\n")),
                     qPrintable(call.text));
    }
    QCOMPARE(a.net().size(), 3);
    QCOMPARE(a.status(), QStringLiteral("Club server: offline, 7 changes waiting"));
}

void TestClubServer::passwordNeverReachesTheSettings()
{
    QString password;
    QCOMPARE(ClubLink::withoutPassword(QStringLiteral("host=h password='s p\\'x' user=u"), &password),
             QStringLiteral("host=h user=u"));
    QCOMPARE(password, QStringLiteral("s p'x"));
    QCOMPARE(ClubLink::withoutPassword(QStringLiteral("password=abc dbname=d"), &password), QStringLiteral("dbname=d"));
    QCOMPARE(password, QStringLiteral("abc"));
    QCOMPARE(ClubLink::withoutPassword(QStringLiteral("host=h passwordx=1")), QStringLiteral("host=h passwordx=1"));

    // Saved from the dialog: the string without it, the password for this run.
    Program a = start(QString());
    a.w->findChild<QAction *>(QStringLiteral("actionClubServer"))->trigger();
    ClubServerDialog *dialog = a.w->findChild<ClubHub *>()->dialog();
    dialog->findChild<QLineEdit *>(QStringLiteral("clubConnection"))
        ->setText(server.conninfo(QStringLiteral("op3")) + QStringLiteral(" password=third-secret"));
    dialog->findChild<QPushButton *>(QStringLiteral("clubSave"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as OP3 (not encrypted)"), 10000);
    QFile ini(a.rt->settingsFile());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QByteArray settings = ini.readAll();
    QVERIFY(!settings.contains("third-secret"));
    QVERIFY2(settings.contains(server.conninfo(QStringLiteral("op3")).toUtf8()), settings.constData());

    // One written into the file by hand is used, and gone after the run.
    runtimes.clear();
    Program b = start(server.conninfo(QStringLiteral("op3")) + QStringLiteral(" password=third-secret"));
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), QStringLiteral("Club server: connected as OP3 (not encrypted)"), 10000);
    FORM(b.w, actionExit)->trigger();
    QFile again(b.rt->settingsFile());
    QVERIFY(again.open(QIODevice::ReadOnly));
    QVERIFY(!again.readAll().contains("third-secret"));
}

void TestClubServer::netLostByTheServerComesBack()
{
    Program a = start(server.conninfo(QStringLiteral("op1")), QStringLiteral("N7NCS"));
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as OP1 (not encrypted)"), 10000);
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    QTRY_COMPARE_WITH_TIMEOUT(storeOf(a.w).journal().unsentCount(), 0, 5000);
    // As a server restored from a backup older than the net.
    QCOMPARE(server.admin(QStringLiteral("TRUNCATE trelvin_change, trelvin_net")), QString());
    a.checkIn(QStringLiteral("K7BBB"), QStringLiteral("Bob"));
    QTRY_COMPARE_WITH_TIMEOUT(storeOf(a.w).journal().unsentCount(), 0, 5000);
    QCOMPARE(server.admin(
                 "DO $$ BEGIN IF (SELECT count(*) FROM trelvin_change WHERE call = 'K7BBB' AND kind = 'entry') <> 1 OR "
                 "(SELECT id FROM trelvin_net) <> '"
                 + storeOf(a.w).journal().sharedNet()->id + "' THEN RAISE 'lost'; END IF; END $$"),
             QString());
}

void TestClubServer::offByDefault()
{
    Program a = start(QString());
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    QCOMPARE(a.status(), QString());
    QVERIFY(!storeOf(a.w).journal().journalOn());
    // Contacts.db gets no table of the club server's.
    QCOMPARE(column(storeOf(a.w).contactsDb(),
                    QStringLiteral("SELECT name FROM sqlite_master WHERE name IN ('journal', 'syncnet', 'syncstate')")),
             QStringList());
    // A journal table of another shape is left alone, and the net goes on
    // without the club server.
    QVERIFY(run(storeOf(a.w).contactsDb(), QStringLiteral("CREATE TABLE journal (id TEXT, payload BLOB)")));
    QVERIFY(!storeOf(a.w).journal().setJournal(true).ok());
    QVERIFY(!storeOf(a.w).journal().journalOn());
    a.checkIn(QStringLiteral("K7BBB"), QStringLiteral("Bob"));
    QCOMPARE(a.net().size(), 2);
    // The action sits at the end of the Setup menu, before the past net's added later.
    const QList<QAction *> setup = FORM(a.w, menuSetup)->actions();
    QCOMPARE(setup.at(setup.size() - 2)->text(), QStringLiteral("Club Server..."));
}

void TestClubServer::dialogTestsTheConnection()
{
    Program a = start(QString());
    a.w->findChild<QAction *>(QStringLiteral("actionClubServer"))->trigger();
    ClubServerDialog *dialog = a.w->findChild<ClubHub *>()->dialog();
    auto *connection = dialog->findChild<QLineEdit *>(QStringLiteral("clubConnection"));
    auto *testButton = dialog->findChild<QPushButton *>(QStringLiteral("clubTest"));
    auto *result = dialog->findChild<QLabel *>(QStringLiteral("clubResult"));
    QVERIFY(dialog->isVisible());
    connection->setText(server.conninfo(QStringLiteral("op1")));
    testButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(result->text(),
                              QStringLiteral("Connected: the club server's schema is version %1.\n"
                                             "The link is not encrypted.")
                                  .arg(ServerSchema::Version),
                              10000);
    connection->setText(QStringLiteral("host=127.0.0.1 port=%1 dbname=trelvin user=op1").arg(PgServer::closedPort()));
    testButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(result->text().startsWith(QLatin1String("Not connected: ")), 10000);
    QVERIFY(testButton->isEnabled());
    // Testing changed nothing: still no club server.
    QCOMPARE(a.status(), QString());
    connection->setText(server.conninfo(QStringLiteral("op1")));
    dialog->findChild<QPushButton *>(QStringLiteral("clubSave"))->click();
    QVERIFY(!dialog->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as OP1 (not encrypted)"), 10000);
}

namespace {

ContactRecord contact(const QString &call, const QString &name, const QString &city)
{
    ContactRecord record;
    record.call = call;
    record.name = name;
    record.city = city;
    record.state = QStringLiteral("UT");
    record.email = QStringLiteral("%1@example.org").arg(call.toLower());
    record.grid = QStringLiteral("DN41");
    return record;
}

QString cityOf(const Program &p, const QString &call)
{
    const std::optional<ContactRecord> found = storeOf(p.w).contacts().contactByCall(call);
    return found ? found->city : QStringLiteral("(none)");
}

} // namespace

void TestClubServer::contactsAndRosterTravel()
{
    Program a = start(server.conninfo(QStringLiteral("op1")), QStringLiteral("N7NCS"));
    Program b = start(server.conninfo(QStringLiteral("op2")));
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as OP1 (not encrypted)"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), QStringLiteral("Club server: connected as OP2 (not encrypted)"), 10000);

    // A contact edited on one, outside any net, is the same on the other:
    // every field, added, changed and deleted.
    QVERIFY(storeOf(a.w)
                .contacts()
                .saveContact(contact(QStringLiteral("W7EDIT"), QStringLiteral("Eda"), QStringLiteral("Ogden")))
                .ok());
    QTRY_COMPARE_WITH_TIMEOUT(cityOf(b, QStringLiteral("W7EDIT")), QStringLiteral("Ogden"), 3000);
    QCOMPARE(storeOf(b.w).contacts().contactByCall(QStringLiteral("W7EDIT"))->values(),
             storeOf(a.w).contacts().contactByCall(QStringLiteral("W7EDIT"))->values());
    QVERIFY(storeOf(a.w)
                .contacts()
                .saveContact(contact(QStringLiteral("W7EDIT"), QStringLiteral("Eda"), QStringLiteral("Provo")))
                .ok());
    QTRY_COMPARE_WITH_TIMEOUT(cityOf(b, QStringLiteral("W7EDIT")), QStringLiteral("Provo"), 3000);
    QCOMPARE(column(storeOf(b.w).contactsDb(), QStringLiteral("SELECT count(*) FROM contact WHERE call = 'W7EDIT'")),
             QStringList{QStringLiteral("1")});
    QVERIFY(storeOf(b.w).contacts().deleteContact(QStringLiteral("W7EDIT")).ok());
    QTRY_COMPARE_WITH_TIMEOUT(cityOf(a, QStringLiteral("W7EDIT")), QStringLiteral("(none)"), 3000);
    // A station new to the net is a new contact on the other too, as it was
    // stored here.
    a.checkIn(QStringLiteral("K7NEW"), QStringLiteral("Nell"));
    QTRY_VERIFY_WITH_TIMEOUT(storeOf(b.w).contacts().contactByCall(QStringLiteral("K7NEW")).has_value(), 3000);
    QCOMPARE(storeOf(b.w).contacts().contactByCall(QStringLiteral("K7NEW"))->values(),
             storeOf(a.w).contacts().contactByCall(QStringLiteral("K7NEW"))->values());
    QCOMPARE(storeOf(b.w).contacts().contactByCall(QStringLiteral("K7NEW"))->name, QStringLiteral("Nell"));

    // A member added or removed with the keys: on the other's roster and in
    // its roster file at once, and the other's entry shows it.
    FORM(b.w, call)->setText(QStringLiteral("K7NEW"));
    FORM(b.w, member)->setText(QStringLiteral("NO"));
    FORM(a.w, call)->setText(QStringLiteral("K7NEW"));
    deskOf(a.w)->makeMember();
    QTRY_VERIFY_WITH_TIMEOUT(storeOf(b.w).roster().isMember(QStringLiteral("K7NEW")), 3000);
    QCOMPARE(FORM(b.w, member)->text(), QStringLiteral("YES"));
    QVERIFY(b.rt->readData(QStringLiteral("Roster-ARC.csv")).contains(QLatin1String("K7NEW")));
    deskOf(a.w)->dropMember();
    QTRY_VERIFY_WITH_TIMEOUT(!storeOf(b.w).roster().isMember(QStringLiteral("K7NEW")), 3000);
    QCOMPARE(FORM(b.w, member)->text(), QStringLiteral("NO"));
    QTRY_VERIFY_WITH_TIMEOUT(!b.rt->readData(QStringLiteral("Roster-ARC.csv")).contains(QLatin1String("K7NEW")), 3000);

    // A roster loaded whole: the members gained and lost travel, nothing else.
    QVERIFY(storeOf(a.w).roster().setMembers({QStringLiteral("W7ONE"), QStringLiteral("W7TWO")}).ok());
    QVERIFY(storeOf(a.w).journal().journalRoster({}).ok());
    QTRY_VERIFY_WITH_TIMEOUT(storeOf(b.w).roster().isMember(QStringLiteral("W7TWO")), 3000);
    const QStringList before = storeOf(a.w).roster().memberCalls();
    QVERIFY(storeOf(a.w).roster().setMembers({QStringLiteral("W7TWO"), QStringLiteral("W7SIX")}).ok());
    QVERIFY(storeOf(a.w).journal().journalRoster(before).ok());
    QTRY_VERIFY_WITH_TIMEOUT(storeOf(b.w).roster().isMember(QStringLiteral("W7SIX")), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(storeOf(b.w).roster().memberCalls(),
                              (QStringList{QStringLiteral("W7TWO"), QStringLiteral("W7SIX")}), 3000);
    QCOMPARE(server.admin(QStringLiteral("DO $$ BEGIN IF (SELECT count(*) FROM trelvin_change WHERE kind IN "
                                         "('member', 'nonmember') AND call = 'W7TWO') <> 1 THEN RAISE 'resent'; "
                                         "END IF; END $$")),
             QString());

    // Another club's roster is not this one's.
    storeOf(b.w).journal().setRosterClub(QStringLiteral("QCWA"));
    FORM(a.w, call)->setText(QStringLiteral("W7ARC"));
    deskOf(a.w)->makeMember();
    FORM(a.w, call)->setText(QStringLiteral("W7LAST"));
    deskOf(a.w)->makeMember();
    QTRY_VERIFY_WITH_TIMEOUT(column(storeOf(b.w).contactsDb(), QStringLiteral("SELECT call FROM journal WHERE call = "
                                                                              "'W7LAST'"))
                                     .size()
                                 == 1,
                             3000);
    QVERIFY(!storeOf(b.w).roster().isMember(QStringLiteral("W7ARC")));
}

void TestClubServer::contactAndMemberChangedOnBothSidesWhileApart()
{
    Program a = start(server.conninfo(QStringLiteral("op1")), QStringLiteral("N7NCS"));
    Program b = start(server.conninfo(QStringLiteral("op2")));
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), QStringLiteral("Club server: connected as OP2 (not encrypted)"), 10000);
    QVERIFY(storeOf(a.w)
                .contacts()
                .saveContact(contact(QStringLiteral("W7BOTH"), QStringLiteral("Bo"), QStringLiteral("Ogden")))
                .ok());
    QTRY_COMPARE_WITH_TIMEOUT(cityOf(b, QStringLiteral("W7BOTH")), QStringLiteral("Ogden"), 3000);

    server.stop();
    QTRY_VERIFY_WITH_TIMEOUT(a.status().startsWith(QLatin1String("Club server: offline")), 5000);
    QVERIFY(storeOf(a.w)
                .contacts()
                .saveContact(contact(QStringLiteral("W7BOTH"), QStringLiteral("Bo"), QStringLiteral("Provo")))
                .ok());
    FORM(a.w, call)->setText(QStringLiteral("W7BOTH"));
    deskOf(a.w)->makeMember();
    QTest::qWait(5);
    QVERIFY(storeOf(b.w)
                .contacts()
                .saveContact(contact(QStringLiteral("W7BOTH"), QStringLiteral("Bo"), QStringLiteral("Logan")))
                .ok());
    // Added on one, then removed on the other: the later change wins.
    storeOf(b.w).roster().addMember(QStringLiteral("W7BOTH"));
    QVERIFY(storeOf(b.w).roster().removeMember(QStringLiteral("W7BOTH")).ok());
    // A contact deleted on one while the other edits another.
    QVERIFY(storeOf(a.w)
                .contacts()
                .saveContact(contact(QStringLiteral("K7GONE"), QStringLiteral("Gus"), QStringLiteral("Moab")))
                .ok());

    // B's changes reach the server after A's: they are the later.
    b.w->findChild<ClubHub *>()->stop();
    QCOMPARE(server.restart(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(storeOf(a.w).journal().unsentCount(), 0, 20000);
    b.w->findChild<ClubHub *>()->start();
    QTRY_VERIFY_WITH_TIMEOUT(storeOf(a.w).journal().unsentCount() == 0 && storeOf(b.w).journal().unsentCount() == 0,
                             20000);
    QTRY_COMPARE_WITH_TIMEOUT(cityOf(a, QStringLiteral("W7BOTH")), QStringLiteral("Logan"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(cityOf(b, QStringLiteral("K7GONE")), QStringLiteral("Moab"), 5000);
    QCOMPARE(cityOf(b, QStringLiteral("W7BOTH")), QStringLiteral("Logan"));
    QTRY_VERIFY_WITH_TIMEOUT(!storeOf(a.w).roster().isMember(QStringLiteral("W7BOTH")), 5000);
    QVERIFY(!storeOf(b.w).roster().isMember(QStringLiteral("W7BOTH")));
    // Both changes of the contact stay in each journal.
    QCOMPARE(column(storeOf(a.w).contactsDb(), QStringLiteral("SELECT count(*) FROM journal WHERE call = 'W7BOTH' "
                                                              "AND kind = 'contact'")),
             QStringList{QStringLiteral("3")});
}

void TestClubServer::journalOfAnOlderProgramIsUpgraded()
{
    Program a = start(QString());
    // The journal as the first release with a club server made it.
    const QSqlDatabase db = storeOf(a.w).contactsDb();
    QSqlQuery query(db);
    QVERIFY(query.exec(QStringLiteral(
        "CREATE TABLE journal (seq INTEGER PRIMARY KEY NOT NULL, id TEXT NOT NULL UNIQUE, net TEXT NOT NULL, "
        "origin TEXT NOT NULL, oseq INTEGER NOT NULL, kind TEXT NOT NULL, call TEXT NOT NULL, status INT, name TEXT, "
        "city TEXT, state TEXT, comment TEXT, relay TEXT, entered TEXT, logged INT, logdate TEXT, logtime TEXT, "
        "logstatus TEXT, made TEXT NOT NULL, sent INT NOT NULL)")));
    QVERIFY(query.exec(QStringLiteral("INSERT INTO journal (id, net, origin, oseq, kind, call, made, sent) VALUES "
                                      "('x', 'n', 'o', 0, 'entry', 'W7OLD', '2026-01-01T00:00:00.000Z', 1)")));
    QVERIFY(storeOf(a.w).journal().setJournal(true).ok());
    QVERIFY(storeOf(a.w)
                .contacts()
                .saveContact(contact(QStringLiteral("W7NEW"), QStringLiteral("Nia"), QStringLiteral("Ogden")))
                .ok());
    const QList<SyncChange> unsent = storeOf(a.w).journal().unsentChanges(10);
    QCOMPARE(unsent.size(), 1);
    QCOMPARE(unsent.first().kind, QStringLiteral("contact"));
    QCOMPARE(unsent.first().net, QString());
    QStringList fields;
    QVERIFY(syncDataFields(unsent.first().data, 19, fields));
    QCOMPARE(fields, contact(QStringLiteral("W7NEW"), QStringLiteral("Nia"), QStringLiteral("Ogden")).values());
    QCOMPARE(column(db, QStringLiteral("SELECT call FROM journal ORDER BY seq")),
             (QStringList{QStringLiteral("W7OLD"), QStringLiteral("W7NEW")}));
    // Unchanged values journal nothing.
    QVERIFY(storeOf(a.w)
                .contacts()
                .saveContact(contact(QStringLiteral("W7NEW"), QStringLiteral("Nia"), QStringLiteral("Ogden")))
                .ok());
    QCOMPARE(storeOf(a.w).journal().unsentCount(), 1);
}

namespace {

// A change written into the server's table by another client than a program.
bool insertChange(QSqlDatabase &db, const QString &net, const QString &call, const QString &name, int status = 32,
                  const QString &logDate = QStringLiteral("261209"), const QString &kind = QStringLiteral("entry"),
                  const QString &data = QString(), const QString &made = QStringLiteral("2026-12-09T02:00:00Z"))
{
    static int count = 0;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO trelvin_change (id, net, origin, oseq, kind, call, status, name, city, "
                                 "state, comment, relay, entered, logged, logdate, logtime, logstatus, made, data) "
                                 "VALUES (md5(?), ?, repeat('e', 32), ?, ?, ?, ?, ?, 'Moab', 'UT', '', '', '19:00', "
                                 "true, ?, '19:00:00', '-', ?::timestamptz, ?)"));
    const QVariant none(QMetaType(QMetaType::QString));
    for (const QVariant &value :
         {QVariant(QStringLiteral("third %1 %2").arg(++count).arg(call.left(20))), net.isEmpty() ? none : QVariant(net),
          QVariant(count), QVariant(kind), QVariant(call), QVariant(status), QVariant(name), QVariant(logDate),
          QVariant(made), data.isEmpty() ? none : QVariant(data)})
        query.addBindValue(value);
    const bool ok = query.exec();
    if (!ok)
        qInfo() << "refused:" << query.lastError().text().left(200);
    return ok;
}

} // namespace

void TestClubServer::badRowsAreRefusedByTheServerAndSkippedByThePrograms()
{
    Program a = start(server.conninfo(QStringLiteral("op1")), QStringLiteral("N7NCS"));
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as OP1 (not encrypted)"), 10000);
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    Program b = start(server.conninfo(QStringLiteral("mem1")));
    QTRY_COMPARE_WITH_TIMEOUT(b.net(), a.net(), 10000);
    const QString net = storeOf(a.w).journal().sharedNet()->id;

    // What a third client logged in as a member tried: each refused by the server.
    struct Bad {
        QString call, name;
        int status;
        QString logDate, kind, data;
    };
    const QString big = contactData(QStringLiteral("W7BIG"), QString(1024 * 1024, QLatin1Char('z')));
    const QList<Bad> bad = {
        {QStringLiteral("W7NAME"), QString(1024 * 1024, QLatin1Char('n')), 32, QStringLiteral("261209"),
         QStringLiteral("entry"), QString()},
        {QString(300, QLatin1Char('W')), QStringLiteral("Long"), 32, QStringLiteral("261209"), QStringLiteral("entry"),
         QString()},
        {QStringLiteral("W7\nLF"), QStringLiteral("Feed"), 32, QStringLiteral("261209"), QStringLiteral("entry"),
         QString()},
        {QStringLiteral("W7STAT"), QStringLiteral("Stat"), 2147483647, QStringLiteral("261209"),
         QStringLiteral("entry"), QString()},
        {QStringLiteral("W7DATE"), QStringLiteral("Date"), 32, QStringLiteral("not-a-date"), QStringLiteral("entry"),
         QString()},
        {QStringLiteral("W7BIG"), QString(), 0, QString(), QStringLiteral("contact"), big},
    };
    {
        QSqlDatabase third = connectAs(QStringLiteral("mem1"), QStringLiteral("third"));
        QVERIFY2(third.isOpen(), qPrintable(third.lastError().text()));
        for (const Bad &row : bad)
            QVERIFY(!insertChange(third, row.kind == QLatin1String("entry") ? net : QString(), row.call, row.name,
                                  row.status, row.logDate, row.kind, row.data));
        third.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("third"));

    // Rows an older server took: every program skips them, each once.
    QCOMPARE(server.admin(QStringLiteral("ALTER TABLE trelvin_change DROP CONSTRAINT trelvin_change_values")),
             QString());
    {
        QSqlDatabase third = connectAs(QStringLiteral("admin"), QStringLiteral("third"));
        for (const Bad &row : bad)
            QVERIFY(insertChange(third, row.kind == QLatin1String("entry") ? net : QString(), row.call, row.name,
                                 row.status, row.logDate, row.kind, row.data));
        QVERIFY(insertChange(third, net, QStringLiteral("W7GOOD"), QStringLiteral("Gil")));
        third.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("third"));
    for (const Program *p : {&a, &b}) {
        QTRY_VERIFY_WITH_TIMEOUT(p->net().join(' ').contains(QLatin1String("W7GOOD|Gil|")), 10000);
        QCOMPARE(p->net().size(), 2);
        QCOMPARE(p->log().size(), 2);
        QVERIFY(!storeOf(p->w).contacts().contactByCall(QStringLiteral("W7BIG")).has_value());
        QCOMPARE(column(storeOf(p->w).contactsDb(), QStringLiteral("SELECT count(*) FROM journal WHERE call IN "
                                                                   "('W7NAME', 'W7STAT', 'W7DATE', 'W7BIG')")),
                 QStringList{QStringLiteral("0")});
        QCOMPARE(FORM(p->w, checkins)->toPlainText().split(QLatin1Char('\n')).filter(QStringLiteral("W7")).size(), 2);
        QCOMPARE(p->rt->readData(QStringLiteral("errorLog.txt")).count(QLatin1String("Club server: change ")),
                 bad.size());
    }
    // Read again (after a failed apply): not logged again.
    emit a.w->findChild<ClubHub *>()->sync()->rewindWorker(0);
    QTest::qWait(500);
    QCOMPARE(a.rt->readData(QStringLiteral("errorLog.txt")).count(QLatin1String("Club server: change ")), bad.size());
    QCOMPARE(a.net(), b.net());
}

void TestClubServer::theServersOrderDecidesNotTheClocks()
{
    Program a = start(server.conninfo(QStringLiteral("op1")), QStringLiteral("N7NCS"));
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as OP1 (not encrypted)"), 10000);
    // A's clock an hour ahead of B's.
    QVERIFY(storeOf(a.w).journal().setJournalClock(3600).ok());
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    Program b = start(server.conninfo(QStringLiteral("mem1")));
    QTRY_COMPARE_WITH_TIMEOUT(b.net(), a.net(), 10000);

    // B's later change, dated an hour before A's.
    b.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Bea"));
    QTRY_VERIFY_WITH_TIMEOUT(a.net().join(' ').contains(QLatin1String("W7AAA|Bea|")), 5000);
    QCOMPARE(a.net(), b.net());
    QCOMPARE(a.log(), b.log());

    // A change dated 9999-12-31 is one change among others, in its place.
    {
        QSqlDatabase third = connectAs(QStringLiteral("mem1"), QStringLiteral("third"));
        QVERIFY(insertChange(third, storeOf(a.w).journal().sharedNet()->id, QStringLiteral("W7AAA"),
                             QStringLiteral("Pin"), 32, QStringLiteral("261209"), QStringLiteral("entry"), QString(),
                             QStringLiteral("9999-12-31T23:59:59Z")));
        third.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("third"));
    QTRY_VERIFY_WITH_TIMEOUT(a.net().join(' ').contains(QLatin1String("W7AAA|Pin|")), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(b.net().join(' ').contains(QLatin1String("W7AAA|Pin|")), 5000);
    b.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Cal"));
    QTRY_VERIFY_WITH_TIMEOUT(a.net().join(' ').contains(QLatin1String("W7AAA|Cal|")), 5000);
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Dee"));
    QTRY_VERIFY_WITH_TIMEOUT(b.net().join(' ').contains(QLatin1String("W7AAA|Dee|")), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(a.net(), b.net(), 3000);
    QCOMPARE(a.log(), b.log());
    // The client's time is kept for the log's own times and for display.
    const QStringList made = column(storeOf(a.w).contactsDb(),
                                    QStringLiteral("SELECT made FROM journal WHERE call = 'W7AAA' ORDER BY made DESC"));
    QCOMPARE(made.first(), QStringLiteral("9999-12-31T23:59:59.000Z"));
}

void TestClubServer::membersMayOnlyAddToTheJournal()
{
    {
        QSqlDatabase owner = connectAs(QStringLiteral("op1"), QStringLiteral("owner"));
        QVERIFY(ServerSchema::prepare(owner).ok);
        owner.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("owner"));
    const QString net(32, QLatin1Char('a'));
    {
        QSqlDatabase member = connectAs(QStringLiteral("mem1"), QStringLiteral("member"));
        const ServerSchema::Outcome schema = ServerSchema::prepare(member);
        QVERIFY2(schema.ok, qPrintable(schema.problem));
        QSqlQuery query(member);
        // Nets through the program's functions only.
        QVERIFY2(query.exec(QStringLiteral("SELECT trelvin_net_open('%1', now(), 'N7NCS', repeat('b', 32))").arg(net)),
                 qPrintable(query.lastError().text()));
        for (const QString &sql :
             {QStringLiteral("INSERT INTO trelvin_net (id, started, ncs, origin) VALUES (repeat('c', 32), now(), '', "
                             "repeat('b', 32))"),
              QStringLiteral("UPDATE trelvin_net SET ncs = 'K7X'"), QStringLiteral("DELETE FROM trelvin_net")})
            QVERIFY2(!query.exec(sql), qPrintable(sql));
        // The server numbers, dates and signs a change, whatever was sent.
        QVERIFY2(
            query.exec(QStringLiteral(
                           "INSERT INTO trelvin_change (seq, id, net, origin, oseq, kind, call, status, logged, made, "
                           "received, writer) VALUES (4000000000, repeat('d', 32), '%1', repeat('b', 32), 1, 'entry', "
                           "'W7AAA', 0, false, '9999-12-31', '2000-01-01', 'op1')")
                           .arg(net)),
            qPrintable(query.lastError().text()));
        QVERIFY(query.exec(QStringLiteral("SELECT seq, writer, received > now() - interval '1 minute' FROM "
                                          "trelvin_change")));
        QVERIFY(query.next());
        QVERIFY(query.value(0).toLongLong() < 1000);
        QCOMPARE(query.value(1).toString(), QStringLiteral("mem1"));
        QVERIFY(query.value(2).toBool());
        // Never rewritten by a member: not by rights, and not when rights were
        // granted by mistake.
        const QStringList rewrites = {QStringLiteral("UPDATE trelvin_change SET name = 'gone'"),
                                      QStringLiteral("DELETE FROM trelvin_change"),
                                      QStringLiteral("TRUNCATE trelvin_change")};
        for (const QString &sql : rewrites)
            QVERIFY2(!query.exec(sql), qPrintable(sql));
        QCOMPARE(server.admin(QStringLiteral("GRANT UPDATE, DELETE, TRUNCATE ON trelvin_change TO mem1")), QString());
        for (const QString &sql : rewrites) {
            QVERIFY2(!query.exec(sql), qPrintable(sql));
            QVERIFY2(query.lastError().text().contains(QLatin1String("owner")), qPrintable(query.lastError().text()));
        }
        QVERIFY(!query.exec(QStringLiteral("DROP TRIGGER trelvin_change_kept ON trelvin_change")));
        member.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("member"));
    QCOMPARE(server.admin(QStringLiteral("DO $$ BEGIN IF (SELECT count(*) FROM trelvin_change WHERE name IS NULL) <> 1 "
                                         "OR (SELECT ncs FROM trelvin_net) <> 'N7NCS' THEN RAISE 'changed'; END IF; "
                                         "END $$")),
             QString());
    // The owner may.
    {
        QSqlDatabase owner = connectAs(QStringLiteral("op1"), QStringLiteral("owner"));
        QSqlQuery query(owner);
        QVERIFY2(query.exec(QStringLiteral("UPDATE trelvin_net SET closed = now()")),
                 qPrintable(query.lastError().text()));
        owner.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("owner"));
}

void TestClubServer::aChangeTheServerWouldRefuseHoldsNothingBack()
{
    Program a = start(server.conninfo(QStringLiteral("op1")), QStringLiteral("N7NCS"));
    Program b = start(server.conninfo(QStringLiteral("mem1")));
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as OP1 (not encrypted)"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), QStringLiteral("Club server: connected as MEM1 (not encrypted)"), 10000);
    // A contact as a file may have stored it: a tab in the name, a long city.
    ContactRecord tabbed = contact(QStringLiteral("W7TAB"), QStringLiteral("Tab\tby"), QStringLiteral("Ogden"));
    QVERIFY(storeOf(a.w).contacts().saveContact(tabbed).ok());
    QVERIFY(storeOf(a.w)
                .contacts()
                .saveContact(contact(QStringLiteral("W7LONG"), QStringLiteral("Lu"),
                                     QStringLiteral("Llanfairpwllgwyngyllgogerychwyrndrobwll")))
                .ok());
    QVERIFY(storeOf(a.w)
                .contacts()
                .saveContact(contact(QStringLiteral("W7NEXT"), QStringLiteral("Ned"), QStringLiteral("Provo")))
                .ok());
    QTRY_COMPARE_WITH_TIMEOUT(cityOf(b, QStringLiteral("W7NEXT")), QStringLiteral("Provo"), 5000);
    QCOMPARE(cityOf(b, QStringLiteral("W7LONG")), QStringLiteral("Llanfairpwllgwyngyllgogerychwy"));
    QCOMPARE(cityOf(b, QStringLiteral("W7TAB")), QStringLiteral("(none)"));
    QTRY_COMPARE_WITH_TIMEOUT(storeOf(a.w).journal().unsentCount(), 0, 3000);
    QCOMPARE(a.rt->readData(QStringLiteral("errorLog.txt"))
                 .count(QLatin1String("Club server: a change made here was not sent: ")),
             1);
    // It is older than any change from the server: the next one from B applies here.
    QVERIFY(storeOf(b.w)
                .contacts()
                .saveContact(contact(QStringLiteral("W7TAB"), QStringLiteral("Tabby"), QStringLiteral("Moab")))
                .ok());
    QTRY_COMPARE_WITH_TIMEOUT(cityOf(a, QStringLiteral("W7TAB")), QStringLiteral("Moab"), 5000);
}

QTEST_MAIN(TestClubServer)
#include "tst_clubserver.moc"
