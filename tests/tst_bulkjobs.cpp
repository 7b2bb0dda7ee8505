#include "testsupport.h"

#include "app/settings.h"
#include "app/trelvin.h"
#include "data/csv.h"
#include "data/tablereading.h"
#include "files/filescontroller.h"
#include "jobs/bulkjob.h"
#include "reports/reportfill.h"
#include "reports/reportscontroller.h"
#include "reports/seelogs.h"
#include "ui_seelogs.h"
#include "ui_trelvin.h"

#include "data/storage.h"

#include <QFile>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStatusBar>
#include <QtTest>

// Long work behind the status bar's one bar and Cancel: refused while
// another job runs, cancelled with the old data whole, check-ins during a
// load kept, and long reports filled in chunks to the same text.
class TestBulkJobs : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void secondJobRefused();
    void cancelledLoadKeepsTable();
    void writesDuringLoadAreKept();
    void reloadKeepsOneIndexPerColumn();
    void cancelledSaveKeepsFile();
    void savedOnTwoThreadsAsStored();
    void readersShareOneStateOfTheFile();
    void cancelledRosterLoadKeepsRoster();
    void chunkedReportsMatchWholeOnes();
    void reportWaitsForJob();
    void netFollowsItsRowsThroughLoads();
    void checkInsDuringLoadsAreStored();
    void leftoverStagingTablesDropped();
    void bigReplacedTableDroppedBesideTheWindow();
    void replacedTableDroppedAfterTheLoad();
    void searchKeepsItsIndexBesideOtherWork();

private:
    // A contacts file of `count` lines, calls CHK0..; bigger than the
    // window does at once, so that it goes to a thread.
    QString writeContacts(int count, const QString &name = QStringLiteral("Contacts-big.csv"));
    // A net-log file: its header, then `rows`.
    QString writeLog(const QByteArray &rows, const QString &name);
    QString writeData(const QString &name, const QByteArray &bytes);
    void addContact(const QString &call, const QString &name = QString());

    std::unique_ptr<Runtime> rt;
    Trelvin *w = nullptr;
};

void TestBulkJobs::init()
{
    rt = std::make_unique<Runtime>();
    rt->installInfo("State_Info.csv");
    w = rt->start();
    QVERIFY(w);
    rt->prompter.clear();
    // Everything goes to a thread, however small.
    FilesController::inlineFileBytes = 0;
    FilesController::inlineRows = 0;
}

void TestBulkJobs::cleanup()
{
    if (w)
        QVERIFY(waitForJobs(w));
    FilesController::inlineFileBytes = 1'000'000;
    FilesController::inlineRows = 10'000;
    ReportsController::inlineReportRows = 5'000;
    rt.reset();
    w = nullptr;
}

namespace {
const char ContactsHeader[] = "\"Call\",\"Name\",\"Last\",\"Class\",\"Expire\",\"Address\",\"City\",\"St\",\"ZIP\","
                              "\"Country\",\"Email\",\"Phone\",\"Lat\",\"Lon\",\"Grid\",\"Source\",\"UTC\",\"DST\","
                              "\"Born\"\n";
} // namespace

QString TestBulkJobs::writeData(const QString &name, const QByteArray &bytes)
{
    const QString path = rt->dataPath() + "/" + name;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

QString TestBulkJobs::writeContacts(int count, const QString &name)
{
    QByteArray text = ContactsHeader;
    for (int i = 0; i < count; ++i) {
        QStringList fields{QStringLiteral("CHK%1").arg(i), QStringLiteral("Name %1").arg(i)};
        while (fields.size() < 19)
            fields.append(QStringLiteral("x"));
        text += csvRecord(fields).toUtf8();
    }
    return writeData(name, text);
}

QString TestBulkJobs::writeLog(const QByteArray &rows, const QString &name)
{
    return writeData(name, "\"Date\",\"Time\",\"S\",\"Station\",\"Operator\",\"Relay\",\"City\",\"St\",\"Comments\"\n"
                               + rows);
}

void TestBulkJobs::addContact(const QString &call, const QString &name)
{
    QSqlQuery query(fileDb(w));
    query.prepare("INSERT INTO contact (id, call, name) VALUES (NULL, ?, ?)");
    query.addBindValue(call);
    query.addBindValue(name);
    QVERIFY(query.exec());
}

void TestBulkJobs::secondJobRefused()
{
    const QString path = writeContacts(20000);
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(bulkJobOf(w)->running());
    QVERIFY(bulkJobOf(w)->bar()->isVisibleTo(FORM(w, statusbar)));
    QVERIFY(bulkJobOf(w)->cancelButton()->isVisibleTo(FORM(w, statusbar)));

    // Saving, loading the net log or a roster: each refused with the same box,
    // before any file is asked for.
    const QString refusal = QStringLiteral("Loading contacts is still running.\nWait until it has ended, or stop it "
                                           "with Cancel in the status bar.");
    FORM(w, actionSaveContacts)->trigger();
    FORM(w, actionLoadTrelvin)->trigger();
    filesOf(w)->loadRoster(path);
    QCOMPARE(rt->prompter.titles(), QStringList(3, QStringLiteral("Another Job Is Running")));
    for (const auto &call : rt->prompter.calls)
        QCOMPARE(call.text, refusal);
    QCOMPARE(rt->prompter.pathCaptions.size(), 1);

    QVERIFY(waitForJobs(w));
    QVERIFY(!bulkJobOf(w)->bar()->isVisibleTo(FORM(w, statusbar)));
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM contact"), QStringList{"20000"});
    QCOMPARE(w->findChild<Settings *>()->statusTipsShown(), w->findChild<Settings *>()->statusTipsOn());
}

void TestBulkJobs::cancelledLoadKeepsTable()
{
    addContact("W1AW", "Hiram");
    addContact("K7ABC", "Ann");
    const QStringList before = column(fileDb(w), "SELECT id || call || name FROM contact ORDER BY id");
    const QStringList schema = column(fileDb(w), "SELECT name FROM sqlite_master ORDER BY name");

    rt->prompter.paths = QStringList{writeContacts(50000)};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(bulkJobOf(w)->running());
    bulkJobOf(w)->cancelButton()->click();
    QVERIFY(!bulkJobOf(w)->cancelButton()->isEnabled());
    QVERIFY(waitForJobs(w));

    QCOMPARE(column(fileDb(w), "SELECT id || call || name FROM contact ORDER BY id"), before);
    QCOMPARE(column(fileDb(w), "SELECT name FROM sqlite_master ORDER BY name"), schema);
    QCOMPARE(FORM(w, statusbar)->currentMessage(),
             QStringLiteral("Loading contacts cancelled. The contacts were left as they were."));
    QVERIFY(rt->prompter.calls.isEmpty());
}

void TestBulkJobs::writesDuringLoadAreKept()
{
    addContact("OLD1");
    QVERIFY(run(fileDb(w), "INSERT INTO log (id, date, time, call) VALUES (NULL, '240105', '19:00:00', 'OLD1')"));
    // The file also names a call the window stores meanwhile: the file's
    // record wins, as it would after the load.
    rt->prompter.paths = QStringList{writeContacts(30000)};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(bulkJobOf(w)->running());
    // The window's writes go through while the worker loads: each waits
    // for one slice at most.
    addContact("NEW1", "during");
    addContact("CHK5", "during");
    QVERIFY(waitForJobs(w));

    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM contact"), QStringList{"30001"});
    QCOMPARE(column(fileDb(w), "SELECT name FROM contact WHERE call = 'NEW1'"), QStringList{"during"});
    QCOMPARE(column(fileDb(w), "SELECT name FROM contact WHERE call = 'CHK5'"), QStringList{"Name 5"});
    QCOMPARE(column(fileDb(w), "SELECT call FROM contact WHERE call = 'OLD1'"), QStringList());

    // The same for the net log: a check-in logged during its load stays.
    QByteArray log;
    for (int i = 0; i < 30000; ++i)
        log += csvRecord({"230101", "19:00:00", "-", QStringLiteral("LOG%1").arg(i), "", "", "", "", ""}).toUtf8();
    rt->prompter.paths = QStringList{writeLog(log, QStringLiteral("Trelvin-big.csv"))};
    FORM(w, actionLoadTrelvin)->trigger();
    QVERIFY(bulkJobOf(w)->running());
    QVERIFY(run(fileDb(w), "INSERT INTO log (id, date, time, call) VALUES (NULL, '261208', '19:30:00', 'NEW1')"));
    QVERIFY(waitForJobs(w));
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM log"), QStringList{"30001"});
    QCOMPARE(column(fileDb(w), "SELECT call FROM log WHERE date = '261208'"), QStringList{"NEW1"});
    QVERIFY(rt->prompter.calls.isEmpty());
}

void TestBulkJobs::reloadKeepsOneIndexPerColumn()
{
    // Loads alternate the index names; a start-up after either finds its
    // indexes and builds no second copy.
    const QString path = writeContacts(100);
    const QString indexes =
        "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'contact' ORDER BY name";
    for (const QStringList &expected :
         {QStringList{"contact_call_2", "contact_suffix_2"}, QStringList{"contact_call", "contact_suffix"}}) {
        rt->prompter.paths = QStringList{path};
        FORM(w, actionLoadContacts)->trigger();
        QVERIFY(waitForJobs(w));
        QCOMPARE(column(fileDb(w), indexes), expected);
    }
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(waitForJobs(w));
    w = rt->start();
    QVERIFY(w);
    QCOMPARE(column(fileDb(w), indexes), (QStringList{"contact_call_2", "contact_suffix_2"}));
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM contact"), QStringList{"100"});
}

void TestBulkJobs::cancelledSaveKeepsFile()
{
    QVERIFY(run(fileDb(w), "BEGIN"));
    for (int i = 0; i < 20000; ++i)
        addContact(QStringLiteral("SAV%1").arg(i));
    QVERIFY(run(fileDb(w), "COMMIT"));
    const QString path = rt->dataPath() + "/Contacts-kept.csv";
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("the file as it was\n");
    old.close();

    rt->prompter.paths = QStringList{path};
    FORM(w, actionSaveContacts)->trigger();
    QVERIFY(bulkJobOf(w)->running());
    bulkJobOf(w)->cancelButton()->click();
    QVERIFY(waitForJobs(w));
    QCOMPARE(rt->readData("Contacts-kept.csv"), QStringLiteral("the file as it was\n"));
    QCOMPARE(FORM(w, statusbar)->currentMessage(),
             QStringLiteral("Saving the contacts cancelled; the file was left as it was."));

    // Not cancelled, the same save writes every row.
    rt->prompter.paths = QStringList{path};
    FORM(w, actionSaveContacts)->trigger();
    QVERIFY(waitForJobs(w));
    QCOMPARE(rt->readData("Contacts-kept.csv").count('\n'), 20001);
    QVERIFY(rt->prompter.calls.isEmpty());
}

void TestBulkJobs::savedOnTwoThreadsAsStored()
{
    // Two threads read alternate stretches of ids: a gap inside one, whole
    // stretches without rows, and fields that need quoting still come out
    // in stored order, as csvRecord writes them.
    QVERIFY(run(fileDb(w), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40000) "
                           "INSERT INTO contact (call, name, city) SELECT 'TWO' || i, 'Name \"' || i || '\"', "
                           "CASE WHEN i % 97 = 0 THEN 'two' || char(10) || 'lines' ELSE 'City' END FROM n"));
    QVERIFY(run(fileDb(w), "DELETE FROM contact WHERE id BETWEEN 16000 AND 17500"));
    QVERIFY(run(fileDb(w), "INSERT INTO contact (id, call, name) VALUES (250000, 'LAST', 'Far')"));
    QByteArray expected = ContactsHeader;
    QSqlQuery rows(fileDb(w));
    QVERIFY(rows.exec("SELECT * FROM contact ORDER BY id"));
    while (rows.next()) {
        QStringList fields;
        for (int c = 1; c < 20; ++c)
            fields.append(rows.value(c).toString());
        expected += csvRecord(fields).toUtf8();
    }
    const QString path = rt->dataPath() + "/Contacts-two.csv";
    rt->prompter.paths = QStringList{path};
    FORM(w, actionSaveContacts)->trigger();
    QVERIFY(waitForJobs(w));
    QVERIFY(rt->prompter.calls.isEmpty());
    const QByteArray saved = rt->readData("Contacts-two.csv").toUtf8();
    QCOMPARE(saved.count('\n'), expected.count('\n'));
    QVERIFY(saved == expected);

    // A write that fails on either thread leaves the old file as it was.
    writeData("Contacts-two.csv", "old contacts\n");
    {
        const FileSizeLimit limit(1 << 20);
        QVERIFY(limit.active);
        rt->prompter.paths = QStringList{path};
        FORM(w, actionSaveContacts)->trigger();
        QVERIFY(waitForJobs(w));
    }
    QCOMPARE(rt->prompter.titles(), QStringList{"Can't Open File"});
    QCOMPARE(rt->readData("Contacts-two.csv"), QStringLiteral("old contacts\n"));
}

void TestBulkJobs::readersShareOneStateOfTheFile()
{
    const QString path = fileDb(w).databaseName();
    addContact("W1AW");
    {
        QSqlDatabase first = QSqlDatabase::addDatabase("QSQLITE", "reader-1");
        QSqlDatabase second = QSqlDatabase::addDatabase("QSQLITE", "reader-2");
        QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "writer");
        writer.setConnectOptions("QSQLITE_BUSY_TIMEOUT=0");
        for (QSqlDatabase *db : {&first, &second, &writer}) {
            db->setDatabaseName(path);
            QVERIFY(db->open());
        }
        {
            const TableReading::WritesHeld held(path);
            QVERIFY(held.result().ok());
            QVERIFY(TableReading::beginReading(first).ok());
            // No write comes in meanwhile.
            QVERIFY(!run(writer, "BEGIN IMMEDIATE"));
            QVERIFY(TableReading::beginReading(second).ok());
        }
        QVERIFY(run(writer, "INSERT INTO contact (call) VALUES ('K7NEW')"));
        for (QSqlDatabase *db : {&first, &second}) {
            QCOMPARE(column(*db, "SELECT call FROM contact ORDER BY id"), QStringList{"W1AW"});
            qint64 from = 0, to = 0;
            QVERIFY(TableReading::idRange(*db, Storage::Table::Contacts, &from, &to).ok());
            QCOMPARE(to, from);
            TableReading::endReading(*db);
            QCOMPARE(column(*db, "SELECT call FROM contact ORDER BY id"), (QStringList{"W1AW", "K7NEW"}));
        }
    }
    for (const char *name : {"reader-1", "reader-2", "writer"})
        QSqlDatabase::removeDatabase(name);
}

void TestBulkJobs::cancelledRosterLoadKeepsRoster()
{
    addContact("W1AW", "Hiram");
    QVERIFY(run(memoryDb(w), "INSERT INTO mbr (id, call) VALUES (NULL, 'W1AW')"));
    const QStringList contacts = column(fileDb(w), "SELECT id || call || name FROM contact ORDER BY id");
    const QString path = writeContacts(30000, QStringLiteral("Roster-big.csv"));
    filesOf(w)->loadRoster(path);
    QVERIFY(bulkJobOf(w)->running());
    bulkJobOf(w)->cancelButton()->click();
    QVERIFY(waitForJobs(w));
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList{"W1AW"});
    QCOMPARE(column(fileDb(w), "SELECT id || call || name FROM contact ORDER BY id"), contacts);

    filesOf(w)->loadRoster(path);
    QVERIFY(waitForJobs(w));
    QCOMPARE(column(memoryDb(w), "SELECT count(*) FROM mbr"), QStringList{"30000"});
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr ORDER BY id LIMIT 2"), (QStringList{"CHK0", "CHK1"}));
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM contact"), QStringList{"30001"});
}

void TestBulkJobs::chunkedReportsMatchWholeOnes()
{
    // Calls whose suffixes tie, names with a quote and a per cent, and
    // non-ASCII text, over many chunks.
    QVERIFY(run(fileDb(w), "BEGIN"));
    for (int i = 0; i < 700; ++i) {
        const QString n = QString::number(i % 50);
        addContact(QStringLiteral("K%1AB").arg(i % 10) + n,
                   i % 3 ? QStringLiteral("O'Brien %") : QStringLiteral("山田"));
        QVERIFY(run(fileDb(w), QStringLiteral("INSERT INTO log (id, date, time, status, call, comment) VALUES "
                                              "(NULL, '24%1', '19:%2:00', '-', 'W%3X', 'note %3')")
                                   .arg(1000 + i % 13)
                                   .arg(i % 60, 2, 10, QLatin1Char('0'))
                                   .arg(i)));
        if (i % 2)
            QVERIFY(run(memoryDb(w),
                        QStringLiteral("INSERT INTO mbr (id, call) VALUES (NULL, 'K%1AB%2')").arg(i % 10).arg(n)));
    }
    QVERIFY(run(fileDb(w), "COMMIT"));
    struct Report {
        void (ReportsController::*show)();
        SeeLogs *window;
    };
    ReportsController *reports = reportsOf(w);
    for (const Report &report : {Report{&ReportsController::showContacts, reports->contactsWindow()},
                                 Report{&ReportsController::showWholeLog, reports->wholeLogWindow()},
                                 Report{&ReportsController::showRoster, reports->rosterWindow()}}) {
        ReportsController::inlineReportRows = 1'000'000;
        (reports->*report.show)();
        const QString whole = report.window->logView()->toPlainText();
        const QString title = report.window->windowTitle();
        QVERIFY(whole.count('\n') > 300);

        report.window->logView()->setPlainText(QStringLiteral("old"));
        report.window->setWindowTitle(QString());
        ReportsController::inlineReportRows = 0;
        ReportFill::firstLines = 7;
        ReportFill::chunkLines = 50;
        QSignalSpy first(reportFillOf(w), &ReportFill::firstScreen);
        (reports->*report.show)();
        QVERIFY(bulkJobOf(w)->running());
        QVERIFY(waitForJobs(w));
        QCOMPARE(first.size(), 1);
        QCOMPARE(report.window->logView()->toPlainText(), whole);
        QCOMPARE(report.window->windowTitle(), title);
    }
    ReportFill::firstLines = 120;
    ReportFill::chunkLines = 1000;
}

void TestBulkJobs::reportWaitsForJob()
{
    for (int i = 0; i < 50; ++i)
        addContact(QStringLiteral("REP%1").arg(i));
    ReportsController::inlineReportRows = 0;
    rt->prompter.paths = QStringList{writeContacts(20000)};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(bulkJobOf(w)->running());
    // Asked for during the load, the report is filled once the load ended,
    // from the loaded table; no box.
    FORM(w, actionShowContacts)->trigger();
    QVERIFY(waitForJobs(w));
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(reportsOf(w)->contactsWindow()->windowTitle(), QStringLiteral("Contacts Database with 20000 Contacts"));

    // A load asked for while a report fills takes over; the report is
    // filled again after it.
    FORM(w, actionShowContacts)->trigger();
    QVERIFY(reportFillOf(w)->filling());
    rt->prompter.paths = QStringList{writeContacts(300, QStringLiteral("Contacts-small.csv"))};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(waitForJobs(w));
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(reportsOf(w)->contactsWindow()->windowTitle(), QStringLiteral("Contacts Database with 300 Contacts"));
    QCOMPARE(reportsOf(w)->contactsWindow()->logView()->toPlainText().count('\n'), 299);
}

void TestBulkJobs::netFollowsItsRowsThroughLoads()
{
    const auto checkIn = [this](const QString &call, const QString &comment) {
        fillEntry(w, call, QStringLiteral("Op ") + call, QStringLiteral("Ogden"), comment);
        QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    };
    for (int i = 0; i < 5; ++i)
        QVERIFY(run(fileDb(w), QStringLiteral("INSERT INTO log (id, date, time, call) VALUES (NULL, '240105', "
                                              "'19:00:0%1', 'OLD%1')")
                                   .arg(i)));
    checkIn(QStringLiteral("W7AAA"), QString());
    checkIn(QStringLiteral("K7BBB"), QString());
    QCOMPARE(storeOf(w).netLog().listedEntries().size(), 2);

    // A net log saved elsewhere: other rows first, then W7AAA's check-in as
    // logged here; K7BBB's is not in it.
    QByteArray log;
    for (int i = 0; i < 50; ++i)
        log += csvRecord({"230101", "19:00:00", "-", QStringLiteral("LOG%1").arg(i), "", "", "", "", ""}).toUtf8();
    const QStringList aaa =
        column(fileDb(w), "SELECT date || '|' || time || '|' || status FROM log WHERE call = 'W7AAA'")
            .first()
            .split('|');
    log += csvRecord({aaa.at(0), aaa.at(1), aaa.at(2), "W7AAA", "Op W7AAA", "", "Ogden", "UT", ""}).toUtf8();
    rt->prompter.paths = QStringList{writeLog(log, QStringLiteral("Trelvin-other.csv"))};
    FORM(w, actionLoadTrelvin)->trigger();
    QVERIFY(waitForJobs(w));
    QVERIFY(rt->prompter.calls.isEmpty());

    // Each entry points at its own station's row, one row each; tonight's
    // check-ins are kept though the file lacks one.
    const QString linked =
        "SELECT net.call || '=' || log.call FROM net JOIN log ON log.id = net.logId ORDER BY net.call";
    QCOMPARE(column(fileDb(w), linked), (QStringList{"K7BBB=K7BBB", "W7AAA=W7AAA"}));
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM log"), QStringList{"52"});
    // Editing and removing entries touch only their own rows.
    checkIn(QStringLiteral("K7BBB"), QStringLiteral("has traffic"));
    QCOMPARE(column(fileDb(w), "SELECT call FROM log WHERE comment = 'has traffic'"), QStringList{"K7BBB"});
    const std::optional<NetEntry> aaaEntry = storeOf(w).netLog().netEntryByCall(QStringLiteral("W7AAA"));
    QVERIFY(aaaEntry);
    QVERIFY(storeOf(w).netLog().removeFromNet(*aaaEntry).ok());
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM log WHERE call LIKE 'LOG%'"), QStringList{"50"});
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM log WHERE call = 'W7AAA'"), QStringList{"0"});

    // Contacts: the entry of a station the file holds points at its new row;
    // one the file lacks points nowhere, so that no other contact is renamed.
    checkIn(QStringLiteral("W7CCC"), QString());
    QByteArray text = ContactsHeader;
    for (const QString &call :
         {QStringLiteral("N0ONE"), QStringLiteral("N0TWO"), QStringLiteral("N0SIX"), QStringLiteral("W7CCC")}) {
        QStringList fields{call, QStringLiteral("File ") + call};
        while (fields.size() < 19)
            fields.append(QString());
        text += csvRecord(fields).toUtf8();
    }
    rt->prompter.paths = QStringList{writeData(QStringLiteral("Contacts-other.csv"), text)};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(waitForJobs(w));
    QCOMPARE(column(fileDb(w), "SELECT net.call || '=' || COALESCE(contact.call, '-') FROM net LEFT JOIN contact ON "
                               "contact.id = net.conId ORDER BY net.call"),
             (QStringList{"K7BBB=-", "W7CCC=W7CCC"}));
    checkIn(QStringLiteral("K7BBB"), QStringLiteral("again"));
    QCOMPARE(column(fileDb(w), "SELECT name FROM contact ORDER BY call"),
             (QStringList{"File N0ONE", "File N0SIX", "File N0TWO", "File W7CCC"}));
}

void TestBulkJobs::checkInsDuringLoadsAreStored()
{
    // Twenty check-ins of new stations spread over each load: most while the
    // rows go in, the last ones once the bar is full (the indexes are built
    // and the tables swapped). The window never refuses one, and each is in
    // the log, the net and the contacts after the load.
    QStringList calls;
    const auto checkInsDuring = [&](char series) {
        QVERIFY(bulkJobOf(w)->running());
        int made = 0;
        while (made < 20 && bulkJobOf(w)->running()) {
            const int value = bulkJobOf(w)->bar()->value();
            if (made < 14 ? value >= (made + 1) * 60 : value >= 990) {
                const QString call = QStringLiteral("W7%1%2%3")
                                         .arg(QChar(series))
                                         .arg(QChar('A' + made / 26))
                                         .arg(QChar('A' + made % 26));
                fillEntry(w, call, QStringLiteral("Op ") + call, QStringLiteral("Ogden"), QString());
                QTest::keyClick(FORM(w, qso), Qt::Key_Return);
                calls.append(call);
                ++made;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(made < 14 ? 1 : 15);
        }
        // Fewer only when the load ended first: not a failure of the load.
        QVERIFY2(made >= 14, qPrintable(QStringLiteral("%1 check-ins during the load").arg(made)));
        QVERIFY(waitForJobs(w, 110000));
        QCOMPARE(rt->prompter.titles(), QStringList());
    };
    // Every call, once, in the table.
    const auto allIn = [&](const QString &table) {
        QStringList found;
        for (const QString &call : std::as_const(calls))
            found += column(fileDb(w), QStringLiteral("SELECT call FROM %1 WHERE call = '%2'").arg(table, call));
        QCOMPARE(found, calls);
    };

    rt->prompter.paths = QStringList{writeContacts(1000000)};
    FORM(w, actionLoadContacts)->trigger();
    checkInsDuring('C');
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM contact WHERE call LIKE 'CHK%'"), QStringList{"1000000"});
    allIn(QStringLiteral("contact"));
    allIn(QStringLiteral("log"));
    allIn(QStringLiteral("net"));

    QByteArray log;
    for (int i = 0; i < 300000; ++i)
        log += csvRecord({"230101", "19:00:00", "-", QStringLiteral("LOG%1").arg(i), "", "", "", "", ""}).toUtf8();
    rt->prompter.paths = QStringList{writeLog(log, QStringLiteral("Trelvin-big.csv"))};
    FORM(w, actionLoadTrelvin)->trigger();
    checkInsDuring('L');
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM log WHERE call LIKE 'LOG%'"), QStringList{"300000"});
    allIn(QStringLiteral("contact"));
    allIn(QStringLiteral("log"));
    allIn(QStringLiteral("net"));
    // Each entry points at its own station's rows.
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM net JOIN log ON log.id = net.logId AND log.call = net.call "
                               "JOIN contact ON contact.id = net.conId AND contact.call = net.call"),
             QStringList{QString::number(calls.size())});

    // A roster whose contact data rewrites 20,000 stored contacts: its
    // transaction gives way to each check-in and runs again, and ends with
    // the whole file stored beside them.
    QByteArray roster = ContactsHeader;
    for (int i = 0; i < 20000; ++i) {
        QStringList fields{QStringLiteral("CHK%1").arg(i * 48), QStringLiteral("Member %1").arg(i)};
        while (fields.size() < 19)
            fields.append(QString());
        roster += csvRecord(fields).toUtf8();
    }
    filesOf(w)->loadRoster(writeData(QStringLiteral("Roster-big.csv"), roster));
    checkInsDuring('R');
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(column(memoryDb(w), "SELECT count(*) FROM mbr"), QStringList{"20000"});
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM contact WHERE name LIKE 'Member %' AND city = 'x'"),
             QStringList{"20000"});
    QCOMPARE(column(fileDb(w), "SELECT name FROM contact WHERE call = 'CHK959952'"), QStringList{"Member 19999"});
    allIn(QStringLiteral("contact"));
    allIn(QStringLiteral("log"));
    allIn(QStringLiteral("net"));
}

void TestBulkJobs::bigReplacedTableDroppedBesideTheWindow()
{
    // An exit just after a big load left the table it replaced: the next
    // start leaves it to the work after a load, beside the window.
    addContact("W1AW", "Hiram");
    QVERIFY(run(fileDb(w), "CREATE TABLE contact_replaced AS SELECT * FROM contact"));
    QVERIFY(run(fileDb(w), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 30000) "
                           "INSERT INTO contact_replaced (call) SELECT 'OLD' || i FROM n"));
    rt->stop();
    w = nullptr;
    QFile::remove(rt->dataPath() + "/errorLog.txt");
    w = rt->start();
    QVERIFY(w);
    QTRY_VERIFY_WITH_TIMEOUT(!filesOf(w)->finishingLoad(), 20000);
    QCOMPARE(column(fileDb(w), "SELECT name FROM sqlite_schema WHERE name LIKE '%replaced%'"), QStringList());
    QCOMPARE(column(fileDb(w), "SELECT name FROM contact"), QStringList{"Hiram"});
    QVERIFY(!rt->readData(QStringLiteral("errorLog.txt")).contains("contact_replaced"));
}

void TestBulkJobs::leftoverStagingTablesDropped()
{
    // A load killed part-way: its new table, with rows and an index, stays
    // in the file beside the old one's leftover.
    const QString path = rt->dataPath() + "/Contacts.db";
    addContact("W1AW", "Hiram");
    QVERIFY(run(fileDb(w), "CREATE TABLE contact_loading AS SELECT * FROM contact"));
    QVERIFY(run(fileDb(w), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
                           "INSERT INTO contact_loading (call) SELECT 'K' || i FROM n"));
    QVERIFY(run(fileDb(w), "CREATE INDEX contact_call_2 ON contact_loading(call)"));
    QVERIFY(run(fileDb(w), "CREATE TABLE log_replaced AS SELECT * FROM log"));
    rt->stop();
    w = nullptr;

    QFile::remove(rt->dataPath() + "/errorLog.txt");
    w = rt->start();
    QVERIFY(w);
    // The small one went before the window showed; the big one (past
    // 20,000 rows) goes beside it, and its line follows its drop.
    const QString leftOvers = "SELECT name FROM sqlite_schema WHERE name LIKE '%loading%' OR name LIKE "
                              "'%replaced%' OR name = 'contact_call_2'";
    const QString lineOfBig =
        "Contacts database '" + path + "': table 'contact_loading', left by a load that did not end, was dropped.";
    QVERIFY(filesOf(w)->finishingLoad());
    QVERIFY(!column(fileDb(w), leftOvers).contains("log_replaced"));
    QVERIFY(rt->readData(QStringLiteral("errorLog.txt"))
                .contains("table 'log_replaced', left by a load that did not end, was dropped."));
    QVERIFY(!rt->readData(QStringLiteral("errorLog.txt")).contains(lineOfBig));
    QTRY_VERIFY_WITH_TIMEOUT(!filesOf(w)->finishingLoad(), 20000);
    QCOMPARE(column(fileDb(w), leftOvers), QStringList());
    QCOMPARE(column(fileDb(w), "SELECT name FROM contact"), QStringList{"Hiram"});
    const QString errors = rt->readData(QStringLiteral("errorLog.txt"));
    QVERIFY2(errors.contains(lineOfBig), qPrintable(errors));
    // The index the dropped table had leaves the name free for the next load.
    rt->prompter.paths = QStringList{writeContacts(100)};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(waitForJobs(w));
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM contact"), QStringList{"100"});
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM sqlite_schema WHERE type = 'index' AND tbl_name = 'contact' "
                               "AND sql IS NOT NULL"),
             QStringList{"2"});
}

void TestBulkJobs::replacedTableDroppedAfterTheLoad()
{
    // The load ends once the new table is in place; the big old one is
    // dropped after it, beside the window.
    const auto bigOldTable = [this] {
        QVERIFY(run(fileDb(w), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
                               "INSERT INTO contact (call, name) SELECT 'K' || i, 'Old' FROM n"));
    };
    const QString leftOvers = "SELECT name FROM sqlite_schema WHERE name LIKE '%loading%' OR name LIKE '%replaced%'";
    bigOldTable();
    rt->prompter.paths = QStringList{writeContacts(100)};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(waitForJobs(w));
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM contact"), QStringList{"100"});
    QVERIFY(filesOf(w)->finishingLoad());
    QCOMPARE(column(fileDb(w), leftOvers), QStringList{"contact_replaced"});

    // A load started meanwhile stops that drop and drops the rest itself.
    rt->prompter.paths = QStringList{writeContacts(50, QStringLiteral("Contacts-second.csv"))};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(waitForJobs(w));
    QTRY_VERIFY(!filesOf(w)->finishingLoad());
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM contact"), QStringList{"50"});
    QCOMPARE(column(fileDb(w), leftOvers), QStringList());
    QVERIFY(rt->prompter.calls.isEmpty());

    // An exit during the drop leaves the table to the next start, which
    // drops it beside the window too.
    bigOldTable();
    rt->prompter.paths = QStringList{writeContacts(100)};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(waitForJobs(w));
    QVERIFY(filesOf(w)->finishingLoad());
    rt->stop();
    w = rt->start();
    QVERIFY(w);
    QTRY_VERIFY_WITH_TIMEOUT(!filesOf(w)->finishingLoad(), 20000);
    QCOMPARE(column(fileDb(w), leftOvers), QStringList());
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM contact"), QStringList{"100"});
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM sqlite_schema WHERE type = 'index' AND tbl_name = 'contact'"),
             QStringList{"2"});

    // A big table gets its index for the report in suffix order after the
    // load, beside the window.
    rt->prompter.paths = QStringList{writeContacts(30000, QStringLiteral("Contacts-third.csv"))};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(waitForJobs(w));
    QTRY_VERIFY(!filesOf(w)->finishingLoad());
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM contact"), QStringList{"30000"});
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM sqlite_schema WHERE type = 'index' AND tbl_name = 'contact' "
                               "AND sql LIKE '%ltrim(call%'"),
             QStringList{"1"});
    QCOMPARE(column(fileDb(w), leftOvers), QStringList());
}

void TestBulkJobs::searchKeepsItsIndexBesideOtherWork()
{
    if (qEnvironmentVariableIsSet("TRELVIN_TEST_QT_SQL_ONLY"))
        QSKIP("the index of calls needs SQLite's own handle");
    // A net log loading commits slice after slice and leaves the contacts
    // alone: a keystroke meanwhile answers whole from the index instead of
    // having it read again at every slice.
    addContact("W1AW");
    addContact("K7ABC");
    // Enough calls that a read of them all is still going on when the
    // keystroke that started it returns.
    QVERIFY(run(fileDb(w), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
                           "INSERT INTO contact (call) SELECT 'K' || i FROM n"));
    ContactStore &contacts = storeOf(w).contacts();
    QVERIFY(waitForCallIndex(storeOf(w)));
    // Long enough a load for the steps below to run beside it.
    QByteArray log;
    for (int i = 0; i < 1000000; ++i)
        log += "\"230101\",\"19:00:00\",\"-\",\"LOG" + QByteArray::number(i) + "\",,,,,\n";
    rt->prompter.paths = QStringList{writeLog(log, QStringLiteral("Trelvin-big.csv"))};
    FORM(w, actionLoadTrelvin)->trigger();
    const auto loadedRows = [this] { return column(fileDb(w), "SELECT count(*) FROM log_loading").value(0).toInt(); };
    const auto answer = [&contacts] {
        const ContactStore::Found found = contacts.findCandidates(QStringLiteral("W1"), false);
        return found.partial ? -1 : found.count;
    };
    QTRY_VERIFY_WITH_TIMEOUT(loadedRows() > 0, 20000);
    int before = loadedRows();
    QTRY_VERIFY_WITH_TIMEOUT(loadedRows() > before, 20000);
    QCOMPARE(answer(), 1);
    QVERIFY(!contacts.callIndexReading());
    // The window's own new station joins it through its hooks.
    addContact("W1XYZ");
    QCOMPARE(answer(), 2);

    // Another program writes in the same moment as the load: the index is
    // kept while the load runs, and read again once this program's work is
    // done.
    QVERIFY(runAsAnotherProgram(fileDb(w).databaseName(), "INSERT INTO contact (call) VALUES ('W1OTHER')"));
    before = loadedRows();
    QTRY_VERIFY_WITH_TIMEOUT(loadedRows() > before, 20000);
    QVERIFY(answer() >= 2);
    QVERIFY(!contacts.callIndexReading());
    QVERIFY2(bulkJobOf(w)->running(), "the load ended before the keystrokes it was to run beside");

    QVERIFY(waitForJobs(w, 60000));
    QTRY_VERIFY_WITH_TIMEOUT(!filesOf(w)->finishingLoad(), 20000);
    answer();
    QVERIFY(waitForCallIndex(storeOf(w)));
    QCOMPARE(answer(), 3);
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM log WHERE call LIKE 'LOG%'"), QStringList{"1000000"});
}

QTEST_MAIN(TestBulkJobs)
#include "tst_bulkjobs.moc"
