#include "testsupport.h"

#include "app/trelvin.h"
#include "checkin/netrules.h"
#include "data/csv.h"
#include "dialogs/contact.h"
#include "files/filescontroller.h"
#include "ui_contact.h"
#include "ui_trelvin.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QStatusBar>
#include <QtTest>

namespace {

const QString writeFailed = QStringLiteral("Database Write Failed");

// A statement that fails as on a full disk or in low memory.
bool failing(const QSqlDatabase &db, const QString &when, const QString &reason)
{
    return run(db, "CREATE TRIGGER failing " + when + " BEGIN SELECT RAISE(ABORT, '" + reason + "'); END");
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Another program on Contacts.db: its own connection, holding the write lock
// while it lives.
class OtherWriter {
public:
    explicit OtherWriter(const QString &path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        locked = db.open() && run(db, QStringLiteral("BEGIN EXCLUSIVE"))
                 && run(db, QStringLiteral("INSERT INTO station (call) VALUES ('OTHER')"));
    }
    ~OtherWriter()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name);
            run(db, QStringLiteral("ROLLBACK"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    bool locked = false;

private:
    const QString name = QStringLiteral("other-program");
};

} // namespace

class TestStorage : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readsGoOnWhileAnotherProgramWrites();
    void failedReadsAreReportedNotTakenForNoMatch();
    void checkInIsAllOrNothing();
    void checkInAfterRestartTakesOverTheLoggedRow();
    void tablesLackingColumnsAreNamedAndKept();
    void storedTextIsCutOnWholeCharacters();
    void failuresComeBackAsValues();
    void lookedUpMemberKeepsWhatWasStored();
    void stationIsOneRowRewrittenWhole();
    void memoryWritesAreCheckedLikeFileWrites();

private:
    void enter(const QString &call, const QString &name, const QString &qso = QString());
    QStringList net() const;
    QString contactsPath() const { return rt->dataPath() + "/Contacts.db"; }
    QString status() const { return w->statusBar()->currentMessage(); }

    std::unique_ptr<Runtime> rt;
    Trelvin *w = nullptr;
};

void TestStorage::init()
{
    rt = std::make_unique<Runtime>();
    QVERIFY(rt->installInfo("State_Info.csv"));
    w = rt->start();
    QVERIFY(w->started());
    QVERIFY(fileDb(w).isOpen());
    rt->prompter.clear();
}

void TestStorage::cleanup()
{
    rt.reset();
    w = nullptr;
}

void TestStorage::enter(const QString &call, const QString &name, const QString &qso)
{
    deskOf(w)->setEntry(0);
    FORM(w, call)->setText(call);
    FORM(w, name)->setText(name);
    FORM(w, city)->clear();
    FORM(w, state)->clear();
    FORM(w, qso)->setText(qso);
    FORM(w, relay)->clear();
}

// Each entry of the net list with everything the check-in keeps about it.
QStringList TestStorage::net() const
{
    return column(fileDb(w), "SELECT id || ' ' || call || ' ' || name || ' ' || comment || ' ' || status || ' ' "
                             "|| logId || ' ' || conId FROM net ORDER BY id");
}

void TestStorage::readsGoOnWhileAnotherProgramWrites()
{
    QCOMPARE(column(fileDb(w), "PRAGMA journal_mode"), QStringList{"wal"});
    QCOMPARE(column(fileDb(w), "PRAGMA synchronous"), QStringList{"2"});
    // A write may wait a moment for another program, a keystroke never seconds.
    QVERIFY(column(fileDb(w), "PRAGMA busy_timeout").value(0).toInt() <= 250);
    QVERIFY(column(memoryDb(w), "PRAGMA busy_timeout").value(0).toInt() <= 250);

    QVERIFY(run(fileDb(w), "INSERT INTO contact (call, name) VALUES ('W1AW', 'Hiram')"));
    enter("K7ABC", "Alice", "first");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    const QStringList before = net();
    const QStringList logBefore = column(fileDb(w), "SELECT id || call || comment FROM log");
    rt->prompter.clear();

    OtherWriter other(contactsPath());
    QVERIFY(other.locked);

    // Both ways of searching read on.
    for (bool attached : {true, false}) {
        if (!attached)
            QVERIFY(storeOf(w).detachContacts());
        FORM(w, search)->setText("W1A");
        callSearchOf(w)->searchEdited("W1A");
        QCOMPARE(FORM(w, lb_candidate)->text(), QString("1 Match"));
        QCOMPARE(FORM(w, name)->text(), QString("Hiram"));
    }

    // A new station and a change to one in the net: refused whole, once each.
    enter("N0XYZ", "Zed");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(rt->prompter.titles(), QStringList{writeFailed});
    QCOMPARE(FORM(w, call)->text(), QString("N0XYZ"));
    rt->prompter.clear();
    enter("K7ABC", "Alice", "second");
    deskOf(w)->setEntry(1);
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(rt->prompter.titles(), QStringList{writeFailed});
    QVERIFY2(rt->readData("errorLog.txt").contains("database is locked"), qPrintable(rt->readData("errorLog.txt")));
    QCOMPARE(net(), before);
    QCOMPARE(column(fileDb(w), "SELECT id || call || comment FROM log"), logBefore);
}

void TestStorage::failedReadsAreReportedNotTakenForNoMatch()
{
    QVERIFY(run(fileDb(w), "INSERT INTO contact (call, name) VALUES ('W1AW', 'Hiram')"));
    // The file as it stays when it could not be switched to WAL mode: there
    // another program's write lock keeps every reader out.
    QVERIFY(storeOf(w).detachContacts());
    // Out of WAL mode only once the search's reader has let go of the file.
    waitForCallIndex(storeOf(w));
    QCOMPARE(column(fileDb(w), "PRAGMA journal_mode = DELETE"), QStringList{"delete"});
    storeOf(w).attachContacts();
    QVERIFY(storeOf(w).contactsAttached());

    OtherWriter other(contactsPath());
    QVERIFY(other.locked);

    for (bool attached : {true, false}) {
        if (!attached)
            QVERIFY(storeOf(w).detachContacts());
        w->statusBar()->clearMessage();
        FORM(w, search)->setText("W1AW");
        callSearchOf(w)->searchEdited("W1AW");
        QCOMPARE(FORM(w, lb_candidate)->text(), QString("Failed"));
        QVERIFY2(status().startsWith("Search for 'W1AW': the contacts database could not be read"),
                 qPrintable(status()));
        QVERIFY2(status().contains("database is locked"), qPrintable(status()));
    }
    QVERIFY(rt->readData("errorLog.txt").contains("Database read failed (Search for 'W1AW'): database is locked"));

    w->statusBar()->clearMessage();
    callSearchOf(w)->showContact("W1AW", 2);
    QVERIFY2(status().startsWith("Display of W1AW: "), qPrintable(status()));
    QVERIFY(rt->readData("errorLog.txt").contains("Database read failed (Display of W1AW)"));

    // A check-in cannot tell a new station from a known one: nothing is written.
    rt->prompter.clear();
    enter("W1AW", "Hiram");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(rt->prompter.titles(), QStringList{writeFailed});
    QCOMPARE(net(), QStringList());
    QCOMPARE(FORM(w, call)->text(), QString("W1AW"));
}

void TestStorage::checkInIsAllOrNothing()
{
    enter("K7ABC", "Alice", "first");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    const QStringList before = net();
    const auto logRows = [this] { return column(fileDb(w), "SELECT id || call || name || comment FROM log"); };
    const auto contacts = [this] { return column(fileDb(w), "SELECT id || call || name FROM contact"); };
    const QStringList logBefore = logRows();

    // The disk fills after the log took the check-in: its row must not stay
    // behind, even where deleting it would fail as well.
    QVERIFY(failing(fileDb(w), "BEFORE INSERT ON contact", "disk is full"));
    QVERIFY(run(fileDb(w), "CREATE TRIGGER stuck BEFORE DELETE ON log BEGIN SELECT RAISE(ABORT, 'disk is full'); END"));
    rt->prompter.clear();
    enter("W1AW", "Hiram");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(rt->prompter.titles(), QStringList{writeFailed});
    QVERIFY(rt->prompter.calls.first().text.contains("New contact W1AW"));
    QCOMPARE(logRows(), logBefore);
    QCOMPARE(net(), before);
    QCOMPARE(deskOf(w)->entry(), 0);
    QVERIFY(run(fileDb(w), "DROP TRIGGER failing"));
    QVERIFY(run(fileDb(w), "DROP TRIGGER stuck"));

    // A known station whose name changes: the name goes with the check-in.
    QVERIFY(failing(fileDb(w), "BEFORE INSERT ON log", "disk is full"));
    QVERIFY(run(fileDb(w), "INSERT INTO contact (call, name) VALUES ('N0XYZ', 'Zed')"));
    const QStringList contactsKnown = contacts();
    rt->prompter.clear();
    enter("N0XYZ", "Zedediah");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(rt->prompter.titles(), QStringList{writeFailed});
    QCOMPARE(contacts(), contactsKnown);
    QCOMPARE(net(), before);
    QVERIFY(run(fileDb(w), "DROP TRIGGER failing"));

    // The net list refuses its part: the file keeps nothing of the key either.
    QVERIFY(failing(fileDb(w), "BEFORE INSERT ON net", "disk is full"));
    rt->prompter.clear();
    enter("W1AW", "Hiram");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(rt->prompter.titles(), QStringList{writeFailed});
    QVERIFY(rt->prompter.calls.first().text.contains("\nCheck-in of W1AW\n"));
    QVERIFY(rt->readData("errorLog.txt").contains("Database write failed (Check-in of W1AW): disk is full"));
    QCOMPARE(logRows(), logBefore);
    QCOMPARE(contacts(), contactsKnown);
    QCOMPARE(net(), before);
    QVERIFY(run(fileDb(w), "DROP TRIGGER failing"));

    // A comment that the list cannot show is not logged either.
    QVERIFY(failing(fileDb(w), "BEFORE UPDATE ON net", "disk is full"));
    rt->prompter.clear();
    enter("K7ABC", "Alice", "second");
    deskOf(w)->setEntry(1);
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(rt->prompter.titles(), QStringList{writeFailed});
    QCOMPARE(logRows(), logBefore);
    QCOMPARE(net(), before);
}

void TestStorage::checkInAfterRestartTakesOverTheLoggedRow()
{
    enter("W1AW", "Hiram", "early");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    enter("K7ABC", "Alice");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    const QStringList logged = column(fileDb(w), "SELECT id FROM log WHERE call = 'W1AW'");
    QCOMPARE(logged.size(), 1);
    const QString at = column(fileDb(w), "SELECT substr(time, 1, 5) FROM log WHERE call = 'W1AW'").value(0);
    // A check-in from last week stays history.
    const QString lastWeek = QDateTime::currentDateTime().addDays(-7).toString("yyMMdd");
    QVERIFY(run(fileDb(w),
                "INSERT INTO log (date, time, status, call) VALUES ('" + lastWeek + "', '20:00:00', '-', 'N0XYZ')"));

    // The program restarts mid-net and the operator starts a new list: the
    // list is empty, the log is not.
    rt->prompter.answers = {QMessageBox::No};
    w = rt->start();
    rt->prompter.clear();
    enter("W1AW", "Hiram", "again");
    FORM(w, relay)->setText("K1RL");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(rt->prompter.calls.size(), 0);
    QCOMPARE(column(fileDb(w), "SELECT id || ' ' || comment || ' ' || relay FROM log WHERE call = 'W1AW'"),
             QStringList{logged.first() + " again K1RL"});
    QCOMPARE(column(fileDb(w), "SELECT logId || ' ' || (status & 32) || ' ' || time FROM net WHERE call = 'W1AW'"),
             QStringList{logged.first() + " 32 " + at});
    QCOMPARE(status(), "W1AW was already checked in at " + at + "; no second check-in was logged.");
    QCOMPARE(FORM(w, checks)->text(), QString("1"));

    // Older than tonight: a check-in of its own.
    enter("N0XYZ", "Zed");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(column(fileDb(w), "SELECT date FROM log WHERE call = 'N0XYZ' ORDER BY id").size(), 2);

    // Within the new list the keys act as before: F8 withdraws the row taken over.
    enter("W1AW", "Hiram", "again");
    deskOf(w)->setEntry(column(fileDb(w), "SELECT id FROM net WHERE call = 'W1AW'").value(0).toInt());
    FORM(w, logContactButton)->click();
    QCOMPARE(column(fileDb(w), "SELECT id FROM log WHERE call = 'W1AW'"), QStringList());
    // Put into the list first and checked in after: the same rule.
    enter("K7ABC", "Alice");
    deskOf(w)->storeEntry(128);
    deskOf(w)->setEntry(column(fileDb(w), "SELECT id FROM net WHERE call = 'K7ABC'").value(0).toInt());
    FORM(w, logContactButton)->click();
    QCOMPARE(column(fileDb(w), "SELECT COUNT(*) FROM log WHERE call = 'K7ABC'"), QStringList{"1"});
    QCOMPARE(column(fileDb(w), "SELECT logId FROM net WHERE call = 'K7ABC'"),
             column(fileDb(w), "SELECT id FROM log WHERE call = 'K7ABC'"));
}

void TestStorage::tablesLackingColumnsAreNamedAndKept()
{
    rt->stop();
    QVERIFY(QFile::remove(contactsPath()));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("made-elsewhere"));
        db.setDatabaseName(contactsPath());
        QVERIFY(db.open());
        QVERIFY(run(db, "CREATE TABLE contact (id INTEGER PRIMARY KEY, call TEXT, name TEXT, last TEXT, class TEXT, "
                        "expire TEXT, address TEXT, city TEXT, state TEXT, zip TEXT, country TEXT, email TEXT, "
                        "phone TEXT, lat TEXT, lon TEXT, grid TEXT, source TEXT, utc TEXT)"));
        // Extra columns do no harm.
        QVERIFY(run(db, "CREATE TABLE log (id INTEGER PRIMARY KEY, date TEXT, time TEXT, status TEXT, call TEXT, "
                        "name TEXT, relay TEXT, city TEXT, state TEXT, comment TEXT, band TEXT)"));
        QVERIFY(run(db, "CREATE TABLE station (call TEXT, state TEXT, lat TEXT, lon TEXT, grid TEXT, utc TEXT, "
                        "dst TEXT)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("made-elsewhere"));
    const QByteArray before = fileBytes(contactsPath());

    rt->addEmptyRoster();
    w = rt->start();
    const auto &box = rt->prompter.calls.first();
    QCOMPARE(box.title, QString("Cannot open Trelvin database"));
    QCOMPARE(box.kind, Prompter::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Cancel));
    QCOMPARE(box.text, QString("Unable to establish a File database connection.\nThis program needs SQLite support.\n\n"
                               "Table 'contact' lacks the columns: dst, born.\n"
                               "Table 'station' lacks the columns: passwd."));
    const QString log = rt->readData("errorLog.txt");
    QVERIFY2(log.contains("Table 'contact' lacks the columns: dst, born. Table 'station' lacks the columns: passwd."),
             qPrintable(log));
    QVERIFY(!fileDb(w).isOpen());
    rt->stop();
    QCOMPARE(fileBytes(contactsPath()), before);
    QVERIFY(!QFile::exists(contactsPath() + "-wal"));
}

void TestStorage::storedTextIsCutOnWholeCharacters()
{
    // The name field takes 15 UTF-16 units: 14 letters and an emoji of two.
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString name = "Maximilianusss" + smile;
    QVERIFY(run(fileDb(w), "INSERT INTO contact (call, name) VALUES ('W1AW', '" + name + "')"));
    callSearchOf(w)->showContact("W1AW", 2);
    QCOMPARE(FORM(w, name)->text(), QString("Maximilianusss"));
    QVERIFY(CONTACT(w, fname)->text().isValidUtf16());
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(column(fileDb(w), "SELECT name FROM log"), QStringList{"Maximilianusss"});

    // The net list shows ten units of a name.
    enter("K7ABC", "Ann-Marie" + smile);
    deskOf(w)->storeEntry(128);
    const QStringList lines = FORM(w, checkins)->toPlainText().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines.last().isValidUtf16());
    QVERIFY2(lines.last().contains(" Ann-Marie  "), qPrintable(lines.last()));
}

void TestStorage::failuresComeBackAsValues()
{
    Storage &storage = storeOf(w);
    QVERIFY(run(fileDb(w), "INSERT INTO contact (call, name) VALUES ('W1AW', 'Hiram')"));
    const QString logBefore = rt->readData("errorLog.txt");
    NetLogStore::EntryChange change;
    change.call = "K7ABC";
    change.name = "Alice";
    change.now = QDateTime::currentDateTime();
    change.key = NetRules::CheckIn | NetRules::CheckedIn;
    change.contact.call = "K7ABC";

    // Another program holds the file, which keeps a rollback journal: a
    // read that fails says so instead of "not found", and the changes that
    // rest on it store nothing.
    QVERIFY(storage.detachContacts());
    waitForCallIndex(storage);
    QCOMPARE(column(fileDb(w), "PRAGMA journal_mode = DELETE"), QStringList{"delete"});
    {
        OtherWriter other(contactsPath());
        QVERIFY(other.locked);
        Storage::Result read;
        QVERIFY(!storage.contacts().contactByCall("W1AW", &read));
        QCOMPARE(read.failure, Storage::Result::ReadFailed);
        QCOMPARE(read.shortError, QString("database is locked"));
        QVERIFY2(read.error.startsWith("database is locked"), qPrintable(read.error));
        const ContactRecord renamed = ContactRecord::fromValues({"W1AW", "Hiram Percy"});
        QCOMPARE(storage.contacts().saveContact(renamed).failure, Storage::Result::ReadFailed);
        // A check-in takes the write lock first, and fails there.
        const NetLogStore::EntryOutcome locked = storage.netLog().storeEntry(change);
        QCOMPARE(locked.result.failure, Storage::Result::WriteFailed);
        QCOMPARE(locked.result.shortError, QString("database is locked"));
    }
    QCOMPARE(storage.contacts().contactByCall("W1AW")->name, QString("Hiram"));

    // A write names the step that failed, with the driver's text; neither
    // database keeps any of the change.
    QVERIFY(failing(fileDb(w), "BEFORE INSERT ON log", "disk is full"));
    const NetLogStore::EntryOutcome outcome = storage.netLog().storeEntry(change);
    QCOMPARE(outcome.result.failure, Storage::Result::WriteFailed);
    QCOMPARE(outcome.failedStep, NetLogStore::EntryOutcome::CheckIn);
    QVERIFY2(outcome.result.error.contains("disk is full"), qPrintable(outcome.result.error));
    QCOMPARE(net(), QStringList());
    QVERIFY(!storage.contacts().contactByCall("K7ABC"));

    // None of it reached the operator: that is the hub's part.
    QCOMPARE(rt->prompter.calls.size(), 0);
    QCOMPARE(rt->readData("errorLog.txt"), logBefore);
}

void TestStorage::lookedUpMemberKeepsWhatWasStored()
{
    Storage &storage = storeOf(w);
    QVERIFY(run(fileDb(w), "INSERT INTO contact (call, name, last, class, city, phone) "
                           "VALUES ('W1AW', 'Hiram', 'Old', 'N', 'Newington', '')"));
    const QStringList looked{"W1AW",
                             "Percy",
                             "Maxim",
                             "E",
                             "2030-01-01",
                             "225 Main St",
                             "Hartford",
                             "CT",
                             "06111",
                             "USA",
                             "w1aw@example.org",
                             "8605940200",
                             "41.71",
                             "-72.72",
                             "FN31pr",
                             "user",
                             "-5",
                             "Y",
                             "1866"};
    QVERIFY(storage.roster().storeLookedUpMember(ContactRecord::fromValues(looked)).ok());

    // The operator's name and city stay; the licence data and what was
    // empty come from the look-up. One row, and the call joins the roster.
    QStringList expected = looked;
    expected[1] = "Hiram";
    expected[6] = "Newington";
    QCOMPARE(storage.contacts().contactByCall("W1AW")->values(), expected);
    QCOMPARE(column(fileDb(w), "SELECT COUNT(*) FROM contact"), QStringList{"1"});
    QVERIFY(storage.roster().isMember("W1AW"));

    QStringList fresh = looked;
    fresh[0] = "K7ABC";
    QVERIFY(storage.roster().storeLookedUpMember(ContactRecord::fromValues(fresh)).ok());
    QCOMPARE(storage.contacts().contactByCall("K7ABC")->values(), fresh);
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr ORDER BY id"), (QStringList{"W1AW", "K7ABC"}));
}

void TestStorage::stationIsOneRowRewrittenWhole()
{
    Storage &storage = storeOf(w);
    QVERIFY(!storage.contacts().station());
    QVERIFY(storage.contacts().saveStation({"W7NCS", "secret", "WA", "47.6", "-122.3", "CN87", "-8", "Y"}).ok());
    QVERIFY(storage.contacts().saveStation({"K7NEW", "", "UT", "", "", "", "-7", "N"}).ok());
    QCOMPARE(column(fileDb(w), "SELECT call || passwd || state || lat || utc || dst FROM station"),
             QStringList{"K7NEWUT-7N"});
    const std::optional<StationRecord> station = storage.contacts().station();
    QVERIFY(station);
    QCOMPARE((QStringList{station->call, station->passwd, station->state, station->utc}),
             (QStringList{"K7NEW", "", "UT", "-7"}));
    // The centre of a state stands in for a position not given.
    const std::optional<Coordinates> utah = storage.stateCentre("UT");
    QVERIFY(utah && utah->lat > 37 && utah->lat < 42 && utah->lon > -114 && utah->lon < -109);
    QVERIFY(!storage.stateCentre("XX"));
}

void TestStorage::memoryWritesAreCheckedLikeFileWrites()
{
    // Ctrl+: the roster refuses the call, which is then not shown as a member.
    QVERIFY(failing(memoryDb(w), "BEFORE INSERT ON mbr", "out of memory"));
    FORM(w, call)->setText("W1AW");
    FORM(w, member)->setText("NO");
    deskOf(w)->makeMember();
    QCOMPARE(rt->prompter.titles(), QStringList{writeFailed});
    QVERIFY(rt->prompter.calls.first().text.contains("\nAdding W1AW to the club roster\n"));
    QVERIFY(
        rt->readData("errorLog.txt").contains("Database write failed (Adding W1AW to the club roster): out of memory"));
    QCOMPARE(FORM(w, member)->text(), QString("NO"));
    QVERIFY(run(memoryDb(w), "DROP TRIGGER failing"));

    // F11: the list refuses the removal, and tonight's log row stays with it.
    enter("K7ABC", "Alice");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    const QStringList before = net();
    const QStringList logBefore = column(fileDb(w), "SELECT id || call FROM log");
    QVERIFY(failing(fileDb(w), "BEFORE DELETE ON net", "disk is full"));
    rt->prompter.clear();
    FORM(w, delCon)->setText("K7ABC");
    deskOf(w)->removeFromNet();
    QCOMPARE(rt->prompter.titles(), (QStringList{"Deleting Contact from Net Log", writeFailed}));
    QCOMPARE(net(), before);
    QCOMPARE(column(fileDb(w), "SELECT id || call FROM log"), logBefore);
    QVERIFY(run(fileDb(w), "DROP TRIGGER failing"));

    // A roster file whose contacts cannot be stored leaves the roster as it
    // was too, rather than the members read before the failure.
    QVERIFY(run(memoryDb(w), "INSERT INTO mbr (call) VALUES ('W1AW')"));
    const QString path = rt->dataPath() + "/Roster-NEW.csv";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\"Call\"\n");
    for (const char *call : {"N0XYZ", "K1ABC"}) {
        QStringList line(19);
        line[0] = QString::fromLatin1(call);
        file.write(csvRecord(line).toUtf8());
    }
    file.close();
    QVERIFY(failing(fileDb(w), "BEFORE INSERT ON contact", "disk is full"));
    rt->prompter.clear();
    filesOf(w)->loadRoster(path);
    QCOMPARE(rt->prompter.titles(), QStringList{writeFailed});
    QVERIFY(rt->prompter.calls.first().text.contains("Loading roster " + path));
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList{"W1AW"});
}

QTEST_MAIN(TestStorage)
#include "tst_storage.moc"
