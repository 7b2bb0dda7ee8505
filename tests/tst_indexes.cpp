#include "testsupport.h"

#include "app/trelvin.h"
#include "jobs/bulkjob.h"
#include "ui_trelvin.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QtTest>

// A Contacts.db from an older program lacks the look-up indexes: a big one
// gets them beside the window once it is up, a small one at the opening.
class TestIndexes : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void smallFileIsIndexedAtOpening();
    void bigFileIsIndexedBesideTheWindow();
    void cancelAndExitLeaveIndexesToNextStart();
    void failedIndexGoesToErrorLog();

private:
    // Contacts.db as an older program left it: the three tables, no index,
    // `rows` contacts and as many log rows. `sql` runs on it last.
    void writeOldFile(int rows, const QString &sql = QString());
    // The window's own look-up indexes of Contacts.db, by name.
    QStringList indexes() const;
    // Waits until the indexing job runs.
    bool indexingStarted();

    std::unique_ptr<Runtime> rt;
    Trelvin *w = nullptr;
};

namespace {
const QStringList AllIndexes{"contact_call", "contact_suffix", "log_call", "log_date"};
} // namespace

void TestIndexes::init()
{
    rt = std::make_unique<Runtime>();
    rt->installInfo("State_Info.csv");
    rt->addEmptyRoster();
}

void TestIndexes::cleanup()
{
    if (w)
        QVERIFY(waitForJobs(w));
    rt.reset();
    w = nullptr;
}

void TestIndexes::writeOldFile(int rows, const QString &sql)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
        db.setDatabaseName(rt->dataPath() + "/Contacts.db");
        QVERIFY(db.open());
        QVERIFY(run(db, "CREATE TABLE contact (id INTEGER PRIMARY KEY NOT NULL, call TEXT, name TEXT, last TEXT, "
                        "class TEXT, expire TEXT, address TEXT, city TEXT, state TEXT, zip TEXT, country TEXT, "
                        "email TEXT, phone TEXT, lat TEXT, lon TEXT, grid TEXT, source TEXT, utc TEXT, dst TEXT, "
                        "born TEXT)"));
        QVERIFY(run(db, "CREATE TABLE log (id INTEGER PRIMARY KEY NOT NULL, date TEXT, time TEXT, status TEXT, "
                        "call TEXT, name TEXT, relay TEXT, city TEXT, state TEXT, comment TEXT)"));
        QVERIFY(run(db, "CREATE TABLE station (call TEXT, passwd TEXT, state TEXT, lat TEXT, lon TEXT, grid TEXT, "
                        "utc TEXT, dst TEXT)"));
        const QString numbers =
            QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) ").arg(rows);
        QVERIFY(run(db, numbers
                            + "INSERT INTO contact (call, name, city) SELECT 'K' || i || 'AB', 'Op ' || i, "
                              "'Ogden' FROM n"));
        QVERIFY(run(db, numbers
                            + "INSERT INTO log (date, time, status, call) SELECT '2401' || (10 + i % 20), "
                              "'19:00:00', ' ', 'K' || i || 'AB' FROM n"));
        if (!sql.isEmpty())
            QVERIFY(run(db, sql));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));
}

QStringList TestIndexes::indexes() const
{
    QStringList names = column(fileDb(w), "SELECT name FROM sqlite_schema WHERE type = 'index' AND sql IS NOT NULL");
    names.sort();
    return names;
}

bool TestIndexes::indexingStarted()
{
    QElapsedTimer waited;
    waited.start();
    while (!bulkJobOf(w)->running() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return bulkJobOf(w)->name() == QLatin1String("Indexing the contacts");
}

void TestIndexes::smallFileIsIndexedAtOpening()
{
    writeOldFile(100);
    w = rt->start();
    QCOMPARE(indexes(), AllIndexes);
    QCoreApplication::processEvents();
    QVERIFY(!bulkJobOf(w)->running());
}

void TestIndexes::bigFileIsIndexedBesideTheWindow()
{
    writeOldFile(30000);
    w = rt->start();
    // The window did not wait for them; the look-ups scan meanwhile.
    QCOMPARE(indexes(), QStringList());
    rt->prompter.clear();
    const QString logBefore = rt->readData("errorLog.txt");
    QVERIFY(indexingStarted());
    QCOMPARE(FORM(w, statusbar)->currentMessage(), QStringLiteral("Indexing the contacts..."));

    // Another bulk job waits its turn.
    FORM(w, actionLoadContacts)->trigger();
    QCOMPARE(rt->prompter.titles(), QStringList{"Another Job Is Running"});
    QCOMPARE(rt->prompter.calls.first().text,
             QStringLiteral("Indexing the contacts is still running.\nWait until it has ended, or stop it with "
                            "Cancel in the status bar."));

    // A check-in is stored at once, and a known call is found by its scan.
    fillEntry(w, QStringLiteral("K777AB"), QStringLiteral("Seven"), QStringLiteral("Provo"), QString());
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(column(fileDb(w), "SELECT name FROM log WHERE call = 'K777AB' AND date NOT LIKE '2401%'"),
             QStringList{"Seven"});
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM contact WHERE call = 'K777AB'"), QStringList{"1"});

    QVERIFY(waitForJobs(w));
    QCOMPARE(indexes(), AllIndexes);
    QCOMPARE(column(fileDb(w), "SELECT name FROM pragma_index_list('contact') ORDER BY name"),
             (QStringList{"contact_call", "contact_suffix"}));
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM log INDEXED BY log_call WHERE call = 'K777AB'"), QStringList{"2"});
    QCOMPARE(rt->readData("errorLog.txt"), logBefore);
    QCOMPARE(rt->prompter.titles(), QStringList{"Another Job Is Running"});

    // The next start finds them all and starts no job.
    rt->stop();
    w = rt->start();
    QCoreApplication::processEvents();
    QVERIFY(!bulkJobOf(w)->running());
}

void TestIndexes::cancelAndExitLeaveIndexesToNextStart()
{
    writeOldFile(30000);
    w = rt->start();
    QVERIFY(indexingStarted());
    bulkJobOf(w)->cancelButton()->click();
    QVERIFY(waitForJobs(w));
    QCOMPARE(FORM(w, statusbar)->currentMessage(),
             QStringLiteral("Indexing the contacts cancelled; the indexes are built at the next start."));
    // Each index stands whole or not at all.
    QVERIFY(indexes().size() < AllIndexes.size());
    QCOMPARE(column(fileDb(w), "PRAGMA integrity_check"), QStringList{"ok"});

    // Exit while they are built: the job stops (or has just ended), the
    // exit ends cleanly.
    rt->stop();
    w = rt->start();
    rt->prompter.clear();
    const QString logBefore = rt->readData("errorLog.txt");
    QVERIFY(indexingStarted());
    FORM(w, actionExit)->trigger();
    QVERIFY(waitForJobs(w, 5000));
    QVERIFY(!rt->readData("errorLog.txt").mid(logBefore.size()).contains("indexes"));
    QCOMPARE(rt->prompter.titles(), QStringList());
    rt->stop();

    w = rt->start();
    QCoreApplication::processEvents();
    QVERIFY(waitForJobs(w));
    QCOMPARE(indexes(), AllIndexes);
    QCOMPARE(column(fileDb(w), "PRAGMA integrity_check"), QStringList{"ok"});
}

void TestIndexes::failedIndexGoesToErrorLog()
{
    // A name the index cannot take: the file still serves, the log says why
    // the look-ups stay slow, and no box interrupts the net.
    writeOldFile(30000, QStringLiteral("CREATE VIEW log_date AS SELECT 1"));
    w = rt->start();
    QVERIFY(fileDb(w).isOpen());
    rt->prompter.clear();
    QVERIFY(indexingStarted());
    QVERIFY(waitForJobs(w));
    QCOMPARE(rt->prompter.titles(), QStringList());
    const QString log = rt->readData("errorLog.txt");
    QVERIFY2(log.contains("Contacts database '" + rt->dataPath()
                          + "/Contacts.db': its indexes could not be built (there is already a table named "
                            "log_date"),
             qPrintable(log));
    QVERIFY2(log.contains("); look-ups stay slow until the next start.\n"), qPrintable(log));
    QCOMPARE(indexes(), (QStringList{"contact_call", "contact_suffix", "log_call"}));
}

QTEST_MAIN(TestIndexes)
#include "tst_indexes.moc"
