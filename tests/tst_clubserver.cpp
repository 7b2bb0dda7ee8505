#include "pgserver.h"
#include "testsupport.h"

#include "app/trelvin.h"
#include "checkin/netrules.h"
#include "dialogs/clubserver.h"
#include "sync/clubsync.h"
#include "sync/serverschema.h"
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
        w->entryId = 0;
        Ui::Trelvin *ui = w->ui;
        ui->call->setText(call);
        ui->name->setText(name);
        ui->city->setText(QStringLiteral("Ogden"));
        ui->state->setText(QStringLiteral("UT"));
        ui->relay->clear();
        ui->qso->setText(comment);
        w->on_qso_returnPressed();
    }
    QStringList net() const
    {
        QStringList lines = column(w->storage.contacts(),
                                   QStringLiteral("SELECT call || '|' || name || '|' || status || '|' || comment || '|' "
                                                  "|| (logId <> 0) FROM net"));
        lines.sort();
        return lines;
    }
    QStringList log() const
    {
        QStringList lines = column(w->storage.contacts(),
                                   QStringLiteral("SELECT date || '|' || time || '|' || status || '|' || call || '|' "
                                                  "|| name || '|' || comment FROM log"));
        lines.sort();
        return lines;
    }
    QString status() const { return w->clubStatus->isHidden() ? QString() : w->clubStatus->text(); }
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
    file.write(QStringLiteral("127.0.0.1:%1:*:op1:first-secret\n127.0.0.1:%1:*:op2:second-secret\n")
                   .arg(server.port())
                   .toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    qputenv("PGPASSFILE", passFile.toLocal8Bit());
    QVERIFY(server.resetDatabase().isEmpty());
    for (const auto &[user, password] : {std::pair{"op1", "first-secret"}, std::pair{"op2", "second-secret"},
                                         std::pair{"op3", "third-secret"}})
        QCOMPARE(server.addOperator(QLatin1String(user), QLatin1String(password)), QString());
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
        program.w->storage.saveStation(record);
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
}

void TestClubServer::foreignOrNewerSchemaIsRefused_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("message");
    QTest::newRow("newer") << "UPDATE trelvin_meta SET value = '99' WHERE key = 'schema'"
                           << "The club server's schema is version 99, newer than this Trelvin knows (version 1). "
                              "Update Trelvin on this computer to use it.";
    QTest::newRow("garbage version") << "UPDATE trelvin_meta SET value = '1; DROP TABLE x' WHERE key = 'schema'"
                                     << "The club server's schema version is not one Trelvin made; its tables are "
                                        "not used.";
    QTest::newRow("tables without version") << "DROP TABLE trelvin_meta"
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
    QCOMPARE(a.status(), QStringLiteral("Club server: offline, 2 changes waiting"));
    if (QTest::currentDataTag() == QLatin1String("newer"))
        QCOMPARE(server.admin(QStringLiteral("DO $$ BEGIN IF (SELECT value FROM trelvin_meta) <> '99' THEN "
                                             "RAISE 'changed'; END IF; END $$")),
                 QString());
}

void TestClubServer::twoProgramsShareOneNet()
{
    Program a = start(server.conninfo(QStringLiteral("op1")), QStringLiteral("N7NCS"));
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: online"), 10000);
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    a.checkIn(QStringLiteral("K7BBB"), QStringLiteral("Bob"), QStringLiteral("mobile"));
    QTRY_COMPARE_WITH_TIMEOUT(a.w->storage.unsentCount(), 0, 5000);

    // The second program is offered the net in progress and joins it.
    Program b = start(server.conninfo(QStringLiteral("op2")));
    QTRY_VERIFY_WITH_TIMEOUT(prompter().titles().contains(QStringLiteral("Join Club Net")), 10000);
    const std::optional<SyncNet> shared = a.w->storage.sharedNet();
    QVERIFY(shared);
    const QString started = QDateTime::fromString(shared->started, Qt::ISODateWithMs).toUTC().toString("yyyy-MM-dd HH:mm");
    for (const ScriptedPrompter::Call &call : prompter().calls) {
        if (call.title == QLatin1String("Join Club Net"))
            QCOMPARE(call.text, "N7NCS is net control of a net on the club server, started " + started
                                    + " UTC, with 2 stations.\n\nJoin that net?");
    }
    QTRY_COMPARE_WITH_TIMEOUT(b.net(), a.net(), 5000);
    QCOMPARE(b.log(), a.log());
    QCOMPARE(b.w->storage.sharedNet()->id, shared->id);
    QVERIFY(b.w->ui->checkins->toPlainText().contains(QLatin1String("K7BBB")));

    // Each sees the other's check-in, pushed by the server.
    b.checkIn(QStringLiteral("AC7CCC"), QStringLiteral("Cy"));
    QTRY_VERIFY_WITH_TIMEOUT(a.net().join(' ').contains(QLatin1String("AC7CCC|Cy")), 3000);
    QVERIFY(a.w->ui->checkins->toPlainText().contains(QLatin1String("AC7CCC")));
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"), QStringLiteral("has traffic"));
    QTRY_VERIFY_WITH_TIMEOUT(b.net().join(' ').contains(QLatin1String("W7AAA|Ann|")) &&
                                 b.net().join(' ').contains(QLatin1String("has traffic")), 3000);
    // A removal on one is a removal on both.
    const std::optional<NetEntry> bob = b.w->storage.netEntryByCall(QStringLiteral("K7BBB"));
    QVERIFY(bob);
    QVERIFY(b.w->storage.removeFromNet(*bob).ok());
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
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: online"), 10000);
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
    QCOMPARE(a.status(), QStringLiteral("Club server: offline, %1 changes waiting").arg(a.w->storage.unsentCount()));
    QVERIFY(a.w->storage.unsentCount() >= 101);
    // No box for a link that drops mid-net: the status bar says it.
    QVERIFY(!prompter().titles().contains(QStringLiteral("Club Server")));

    QCOMPARE(server.restart(), QString());
    QTRY_VERIFY2_WITH_TIMEOUT(a.w->storage.unsentCount() == 0 && b.w->storage.unsentCount() == 0,
                              qPrintable(a.status() + " / " + b.status() + "\n"
                                         + a.rt->readData(QStringLiteral("errorLog.txt")).right(1500)),
                              20000);
    QTRY_COMPARE_WITH_TIMEOUT(a.net().size(), 202, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(a.net(), b.net(), 10000);
    QCOMPARE(a.log(), b.log());
    QCOMPARE(a.log().size(), 202);
    // The later change of the doubly checked-in station won on both.
    const QStringList same = a.net().filter(QStringLiteral("N7SAME"));
    QCOMPARE(same.size(), 1);
    QVERIFY2(same.first().endsWith(QLatin1String("|second|1")), qPrintable(same.first()));
    QCOMPARE(a.status(), QStringLiteral("Club server: online"));
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
    QCOMPARE(a.status(), QStringLiteral("Club server: offline, 2 changes waiting"));
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
    a.w->clubPassword.clear();
    a.w->clubPasswordAsked = false;
    a.w->startClubServer();
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: online"), 10000);
    QCOMPARE(a.w->storage.unsentCount(), 0);
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
            QVERIFY2(call.text.startsWith(QLatin1String("The club server cannot be reached:\n")), qPrintable(call.text));
    }
    QCOMPARE(a.net().size(), 3);
    QCOMPARE(a.status(), QStringLiteral("Club server: offline, 4 changes waiting"));
}

void TestClubServer::passwordNeverReachesTheSettings()
{
    QString password;
    QCOMPARE(Trelvin::withoutPassword(QStringLiteral("host=h password='s p\\'x' user=u"), &password),
             QStringLiteral("host=h user=u"));
    QCOMPARE(password, QStringLiteral("s p'x"));
    QCOMPARE(Trelvin::withoutPassword(QStringLiteral("password=abc dbname=d"), &password), QStringLiteral("dbname=d"));
    QCOMPARE(password, QStringLiteral("abc"));
    QCOMPARE(Trelvin::withoutPassword(QStringLiteral("host=h passwordx=1")), QStringLiteral("host=h passwordx=1"));

    // Saved from the dialog: the string without it, the password for this run.
    Program a = start(QString());
    a.w->saveClubServer(server.conninfo(QStringLiteral("op3")) + QStringLiteral(" password=third-secret"));
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: online"), 10000);
    QFile ini(a.rt->settingsFile());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QByteArray settings = ini.readAll();
    QVERIFY(!settings.contains("third-secret"));
    QVERIFY2(settings.contains(server.conninfo(QStringLiteral("op3")).toUtf8()), settings.constData());

    // One written into the file by hand is used, and gone after the run.
    runtimes.clear();
    Program b = start(server.conninfo(QStringLiteral("op3")) + QStringLiteral(" password=third-secret"));
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), QStringLiteral("Club server: online"), 10000);
    b.w->on_actionExit_triggered();
    QFile again(b.rt->settingsFile());
    QVERIFY(again.open(QIODevice::ReadOnly));
    QVERIFY(!again.readAll().contains("third-secret"));
}

void TestClubServer::netLostByTheServerComesBack()
{
    Program a = start(server.conninfo(QStringLiteral("op1")), QStringLiteral("N7NCS"));
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: online"), 10000);
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    QTRY_COMPARE_WITH_TIMEOUT(a.w->storage.unsentCount(), 0, 5000);
    // As a server restored from a backup older than the net.
    QCOMPARE(server.admin(QStringLiteral("TRUNCATE trelvin_change, trelvin_net")), QString());
    a.checkIn(QStringLiteral("K7BBB"), QStringLiteral("Bob"));
    QTRY_COMPARE_WITH_TIMEOUT(a.w->storage.unsentCount(), 0, 5000);
    QCOMPARE(server.admin("DO $$ BEGIN IF (SELECT count(*) FROM trelvin_change WHERE call = 'K7BBB') <> 1 OR "
                          "(SELECT id FROM trelvin_net) <> '" + a.w->storage.sharedNet()->id
                          + "' THEN RAISE 'lost'; END IF; END $$"),
             QString());
}

void TestClubServer::offByDefault()
{
    Program a = start(QString());
    a.checkIn(QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    QCOMPARE(a.status(), QString());
    QVERIFY(!a.w->storage.journalOn());
    // Contacts.db gets no table of the club server's.
    QCOMPARE(column(a.w->storage.contacts(),
                    QStringLiteral("SELECT name FROM sqlite_master WHERE name IN ('journal', 'syncnet', 'syncstate')")),
             QStringList());
    // A journal table of another shape is left alone, and the net goes on
    // without the club server.
    QVERIFY(run(a.w->storage.contacts(), QStringLiteral("CREATE TABLE journal (id TEXT, payload BLOB)")));
    QVERIFY(!a.w->storage.setJournal(true).ok());
    QVERIFY(!a.w->storage.journalOn());
    a.checkIn(QStringLiteral("K7BBB"), QStringLiteral("Bob"));
    QCOMPARE(a.net().size(), 2);
    // The action sits at the end of the Setup menu.
    QCOMPARE(a.w->ui->menuSetup->actions().last()->text(), QStringLiteral("Club Server..."));
}

void TestClubServer::dialogTestsTheConnection()
{
    Program a = start(QString());
    a.w->openClubServer();
    ClubServerDialog *dialog = a.w->clubServerDialog;
    QVERIFY(dialog->isVisible());
    dialog->connection->setText(server.conninfo(QStringLiteral("op1")));
    dialog->testButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(dialog->result->text(),
                              QStringLiteral("Connected: the club server's schema is version 1."), 10000);
    dialog->connection->setText(QStringLiteral("host=127.0.0.1 port=%1 dbname=trelvin user=op1")
                                    .arg(PgServer::closedPort()));
    dialog->testButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->result->text().startsWith(QLatin1String("Not connected: ")), 10000);
    QVERIFY(dialog->testButton->isEnabled());
    // Testing changed nothing: still no club server.
    QCOMPARE(a.status(), QString());
    dialog->connection->setText(server.conninfo(QStringLiteral("op1")));
    dialog->saveButton->click();
    QVERIFY(!dialog->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: online"), 10000);
}

QTEST_MAIN(TestClubServer)
#include "tst_clubserver.moc"
