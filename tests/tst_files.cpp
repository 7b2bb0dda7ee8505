#include "testsupport.h"

#include "app/settings.h"
#include "app/trelvin.h"
#include "data/csv.h"
#include "data/direct.h"
#include "files/filescontroller.h"
#include "files/filewriting.h"
#include "jobs/bulkjob.h"
#include "ui_trelvin.h"
#include "viewer/documentscontroller.h"
#include "viewer/seefile.h"

#include <QProgressBar>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringEncoder>
#include <QtTest>

#include <sys/stat.h>

namespace {
const QString rosterHeader =
    "\"Call\",\"First\",\"Last\",\"Class\",\"Expire\",\"Address\",\"City\",\"St\",\"Zip\",\"Country\","
    "\"Email\",\"Phone\",\"Lat\",\"Lon\",\"Grid\",\"Source\",\"UTC\",\"DST\",\"Born\"\n";

void addContact(Trelvin *w, const QStringList &values)
{
    QSqlQuery q(fileDb(w));
    q.prepare("INSERT INTO contact (id, call, name, last, class, expire, address, city, state, zip, country, email, "
              "phone, lat, lon, grid, source, utc, dst, born) VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
              "?, ?, ?, ?, ?)");
    for (int i = 0; i < 19; ++i)
        q.addBindValue(i < values.size() ? values.at(i) : QString());
    QVERIFY(q.exec());
}

void addMember(Trelvin *w, const QString &call)
{
    QSqlQuery q(memoryDb(w));
    q.prepare("INSERT INTO mbr (id, call) VALUES (NULL, ?)");
    q.addBindValue(call);
    QVERIFY(q.exec());
}

QStringList contactRow(Trelvin *w, const QString &call)
{
    QSqlQuery q(fileDb(w));
    q.prepare("SELECT * FROM contact WHERE call = ?");
    q.addBindValue(call);
    QStringList values;
    if (q.exec() && q.next()) {
        for (int i = 1; i < 20; ++i)
            values.append(q.value(i).toString());
    }
    return values;
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every row of a table, columns joined, in id order.
QStringList tableRows(const QSqlDatabase &db, const QString &table)
{
    QStringList rows;
    QSqlQuery q("SELECT * FROM " + table + " ORDER BY id", db);
    while (q.next()) {
        QStringList values;
        for (int c = 0; c < q.record().count(); ++c)
            values.append(q.value(c).isNull() ? QStringLiteral("<null>") : q.value(c).toString());
        rows.append(values.join('|'));
    }
    return rows;
}

QByteArray utf16(const QByteArray &utf8, QStringConverter::Encoding encoding, bool bom)
{
    QStringEncoder encoder(encoding, bom ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
    return encoder.encode(QString::fromUtf8(utf8));
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

const QByteArray logLine = "\"261207\",\"19:06:00\",\"-\",\"K7ABC\",\"Ann\",\"\",\"Provo\",\"UT\",\"\"\n";

const QStringList obrien{
    "W1AW", "Pat \"Bud\"",     "O'Brien, Jr", "Extra", "2030-01-01", "1 Main St", "Zoë Springs", "CT", "06111",
    "USA",  "pat@example.org", "8605551234",  "41.71", "-72.72",     "FN31pr",    "user",        "-5", "Y",
    "1950"};
} // namespace

class TestFiles : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void csvRecordQuotesEverything();
    void rosterRoundTrip();
    void rosterLoadMergesFieldByField();
    void missingRosterIsReported();
    void failedWriteKeepsOldFile();
    void contactsRoundTrip();
    void netLogRoundTripAndShortLine();
    void failedLoadKeepsRows();
    void loadKeepsNullEmptyAndBadBytes();
    void bulkWayFollowsTheLibrary();
    void writerMatchesCsvRecord();
    void cancelledDialogsDoNothing();
    void membershipKeys();
    void clubSwitch();
    void nothingLoadedKeepsTable_data();
    void nothingLoadedKeepsTable();
    void linesWithoutCallAreSkipped();
    void repeatedCallsMakeOneMember();
    void lineLogIsCapped();
    void latin1LinesAreConverted();
    void failedRosterLoadKeepsMembers_data();
    void failedRosterLoadKeepsMembers();
    void unreadableRosterAtStartIsKept_data();
    void unreadableRosterAtStartIsKept();
    void closedDatabaseKeepsFiles();
    void specialFileIsNotReplaced();
    void fullFileSystemKeepsOldFile();

private:
    std::unique_ptr<Runtime> rt;
    Trelvin *w = nullptr;
};

void TestFiles::init()
{
    rt = std::make_unique<Runtime>();
    rt->installInfo("State_Info.csv");
    w = rt->start();
    rt->prompter.clear();
}

void TestFiles::cleanup()
{
    rt.reset();
}

void TestFiles::csvRecordQuotesEverything()
{
    QCOMPARE(csvRecord({"a", "", "say \"hi\"", "one,two", "two\nlines", "crlf\r\nend"}),
             QStringLiteral("\"a\",\"\",\"say \"\"hi\"\"\",\"one,two\",\"two lines\",\"crlf end\"\n"));
    // What the writer writes, the reader reads back.
    QCOMPARE(splitCsvLine(csvRecord(obrien)), obrien);
}

void TestFiles::rosterRoundTrip()
{
    addContact(w, obrien);
    addContact(w, {"K7ABC", "Ann", "", "", "", "", "Provo", "UT"});
    addMember(w, "W1AW");
    addMember(w, "KD7XYZ"); // no contact record: not written
    addMember(w, "K7ABC");

    const QString path = rt->dataPath() + "/Roster-TEST.csv";
    filesOf(w)->saveRoster(path);
    QVERIFY(rt->prompter.calls.isEmpty());
    const QString text = readFile(path);
    QVERIFY(text.startsWith(rosterHeader));
    QCOMPARE(text.mid(rosterHeader.size()), "\"K7ABC\",\"Ann\",\"\",\"\",\"\",\"\",\"Provo\",\"UT\",\"\",\"\",\"\","
                                            "\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\n"
                                                + csvRecord(obrien));

    QSqlQuery(fileDb(w)).exec("DELETE FROM contact");
    filesOf(w)->loadRoster(path);
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr ORDER BY id"), (QStringList{"K7ABC", "W1AW"}));
    QCOMPARE(contactRow(w, "W1AW"), obrien);
    QCOMPARE(contactRow(w, "K7ABC").at(6), QStringLiteral("Provo"));
    QVERIFY(rt->prompter.calls.isEmpty());
    QVERIFY(!bulkJobOf(w)->bar()->isVisible());
    QCOMPARE(w->findChild<Settings *>()->statusTipsShown(), w->findChild<Settings *>()->statusTipsOn());
}

void TestFiles::rosterLoadMergesFieldByField()
{
    addContact(w, {"W1AW", "Hiram", "Maxim", "Extra", "", "", "Newington", "CT", "06111"});
    const QString path = rt->dataPath() + "/Roster-MIX.csv";
    writeFile(path, rosterHeader.toUtf8()
                        + "\"W1AW\",\"Hi\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"(860) "
                          "594-0200\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\n"
                          "\"K7NEW\",\"Newt\",\"\",\"\",\"\",\"\",\"\",\"UT\",\"\",\"\",\"\",\"801.555.0000\",\"\","
                          "\"\",\"\",\"\",\"\",\"\",\"\"\n"
                          "\"N0SHORT\",\"Only\",\"three\"\n"
                          "\"K7END\",\"End\",\"\",\"\",\"\",\"\",\"Moab\",\"UT\",\"\",\"\",\"\",\"\",\"\",\"\",\"\","
                          "\"\",\"\",\"\",\"\"");
    filesOf(w)->loadRoster(path);

    const QStringList w1aw = contactRow(w, "W1AW");
    QCOMPARE(w1aw.at(1), QStringLiteral("Hi"));    // given: replaces
    QCOMPARE(w1aw.at(2), QStringLiteral("Maxim")); // empty: keeps the stored value
    QCOMPARE(w1aw.at(6), QStringLiteral("Newington"));
    QCOMPARE(w1aw.at(11), QStringLiteral("8605940200")); // digits only
    const QStringList fresh = contactRow(w, "K7NEW");
    QCOMPARE(fresh.at(6), QString());
    QCOMPARE(fresh.at(11), QStringLiteral("8015550000"));
    QCOMPARE(contactRow(w, "K7END").at(6), QStringLiteral("Moab")); // last line without line feed
    QVERIFY(contactRow(w, "N0SHORT").isEmpty());
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr ORDER BY id"),
             (QStringList{"W1AW", "K7NEW", "N0SHORT", "K7END"}));
    // The look-ups go in call order; new contacts still join in the file's.
    QCOMPARE(column(fileDb(w), "SELECT call FROM contact ORDER BY id"), (QStringList{"W1AW", "K7NEW", "K7END"}));
    QVERIFY2(rt->readData("errorLog.txt").contains("line 4 has 3 fields"), qPrintable(rt->readData("errorLog.txt")));

    // Loaded again, the same file writes no contact (its phone number's
    // digits are what is stored); a line that changes a field writes its one.
    QSqlQuery count(fileDb(w));
    QVERIFY(count.exec("CREATE TABLE written (id)"));
    QVERIFY(count.exec("CREATE TRIGGER contact_written AFTER UPDATE ON contact BEGIN INSERT INTO written VALUES "
                       "(new.id); END"));
    const QList<QStringList> before{contactRow(w, "W1AW"), contactRow(w, "K7NEW"), contactRow(w, "K7END")};
    filesOf(w)->loadRoster(path);
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM written"), QStringList{"0"});
    QCOMPARE((QList<QStringList>{contactRow(w, "W1AW"), contactRow(w, "K7NEW"), contactRow(w, "K7END")}), before);
    QString text = readFile(path);
    writeFile(path, text.replace("\"Moab\"", "\"Green River\"").toUtf8());
    filesOf(w)->loadRoster(path);
    QCOMPARE(column(fileDb(w), "SELECT count(*) FROM written"), QStringList{"1"});
    QCOMPARE(contactRow(w, "K7END").at(6), QStringLiteral("Green River"));
    QVERIFY(count.exec("DROP TRIGGER contact_written"));

    // A header alone loads nothing: the roster and the contacts stay.
    writeFile(path, rosterHeader.toUtf8());
    filesOf(w)->loadRoster(path);
    QCOMPARE(rt->prompter.titles(), QStringList{"Nothing Loaded"});
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr ORDER BY id"),
             (QStringList{"W1AW", "K7NEW", "N0SHORT", "K7END"}));
    QCOMPARE(contactRow(w, "W1AW").at(1), QStringLiteral("Hi"));
}

void TestFiles::missingRosterIsReported()
{
    const QString path = rt->dataPath() + "/Roster-NONE.csv";
    addMember(w, "W1AW");
    filesOf(w)->loadMembers(path);
    QCOMPARE(rt->prompter.titles(), QStringList{"Can't Open File"});
    QCOMPARE(rt->prompter.calls.first().kind, Prompter::Critical);
    QCOMPARE(
        rt->prompter.calls.first().text,
        "File '" + path
            + "'\nCould not be Opened.\n\nYou can create 'Roster-{club}.csv' in 3 ways:\n 1. 'Ctrl +' during Net to "
              "add contacts to Roster,\n 2. Manually edit 'Roster-{club}.csv' file\n    (file created when "
              "program terminates),\n 3. Use Menu Item: 'Setup->Roster QRZ Data'\n    to read "
              "'Callsigns-{club}.csv' file and\n    retrieve data from the QRZ database.");
    QVERIFY(rt->readData("errorLog.txt").endsWith(" File '" + path + "' Could not be Opened.\n"));
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList());
}

void TestFiles::failedWriteKeepsOldFile()
{
    // The replacement is written beside the target first; a name this long
    // leaves no room for that temporary name, so the write fails.
    const QString path = rt->dataPath() + "/" + QString(250, QLatin1Char('r')) + ".csv";
    writeFile(path, "old roster\n");
    addContact(w, obrien);
    addMember(w, "W1AW");
    filesOf(w)->saveRoster(path);
    QCOMPARE(rt->prompter.titles(), QStringList{"Can't Open File"});
    QCOMPARE(rt->prompter.calls.first().text, QStringLiteral("The File to write could not be Opened."));
    QCOMPARE(readFile(path), QStringLiteral("old roster\n"));
    QVERIFY(rt->readData("errorLog.txt").contains("File '" + path + "' Could not be Opened. ("));

    rt->prompter.clear();
    rt->prompter.paths = QStringList{path};
    FORM(w, actionSaveContacts)->trigger();
    QCOMPARE(rt->prompter.titles(), QStringList{"Can't Open File"});
    QCOMPARE(readFile(path), QStringLiteral("old roster\n"));
}

void TestFiles::contactsRoundTrip()
{
    addContact(w, {"K7ABC", "Ann"});
    QSqlQuery(fileDb(w)).exec("DELETE FROM contact");
    addContact(w, obrien);
    addContact(w, {"JA1XYZ", "Hiro", "山田", "", "", "", "東京"});
    addContact(w, {"K7ABC", "Ann", "", "", "", "", "Provo", "UT", "", "", "", "(801) 555-1234"});

    const QString path = rt->dataPath() + "/Contacts-test.csv";
    rt->prompter.paths = QStringList{path};
    FORM(w, actionSaveContacts)->trigger();
    QCOMPARE(rt->prompter.pathCaptions, QStringList{"Save Contacts Database File"});
    const QString text = readFile(path);
    QVERIFY(text.startsWith("\"Call\",\"Name\",\"Last\",\"Class\",\"Expire\",\"Address\",\"City\",\"St\",\"ZIP\","
                            "\"Country\",\"Email\",\"Phone\",\"Lat\",\"Lon\",\"Grid\",\"Source\",\"UTC\",\"DST\","
                            "\"Born\"\n"));
    QCOMPARE(text.count('\n'), 4);

    QSqlQuery(fileDb(w)).exec("DELETE FROM contact");
    addContact(w, {"GONE"});
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(column(fileDb(w), "SELECT id || call FROM contact ORDER BY id"),
             (QStringList{"1W1AW", "2JA1XYZ", "3K7ABC"}));
    QCOMPARE(contactRow(w, "W1AW"), obrien);
    QCOMPARE(contactRow(w, "JA1XYZ").at(2), QStringLiteral("山田"));
    // Stored as it stands in the file: no reduction to digits here.
    QCOMPARE(contactRow(w, "K7ABC").at(11), QStringLiteral("(801) 555-1234"));
    // The re-created table keeps its look-up index; nothing of the loading is left.
    // Built with the rows beside the old table, the indexes take their second names.
    QCOMPARE(
        column(fileDb(w), "SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='contact' ORDER BY name"),
        (QStringList{"contact_call_2", "contact_suffix_2"}));
    QCOMPARE(column(fileDb(w), "SELECT name FROM sqlite_master WHERE name LIKE '%loading%'"), QStringList{});
}

void TestFiles::netLogRoundTripAndShortLine()
{
    QSqlQuery q(fileDb(w));
    QVERIFY(q.exec("INSERT INTO log VALUES (NULL, '261207', '19:01:02', 'T', 'W1AW', 'Pat', '', 'Newington', 'CT', "
                   "'Has \"traffic\", two items')"));
    const QString path = rt->dataPath() + "/Trelvin-test.csv";
    rt->prompter.paths = QStringList{path};
    FORM(w, actionSaveTrelvin)->trigger();
    QCOMPARE(readFile(path),
             QStringLiteral("\"Date\",\"Time\",\"S\",\"Station\",\"Operator\",\"Relay\",\"City\",\"St\","
                            "\"Comments\"\n\"261207\",\"19:01:02\",\"T\",\"W1AW\",\"Pat\",\"\","
                            "\"Newington\",\"CT\",\"Has \"\"traffic\"\", two items\"\n"));

    // Add a short line in the middle: it is skipped and reported, the rest loads.
    QString text = readFile(path);
    text += "\"261207\",\"19:05\"\n\"261207\",\"19:06:00\",\"-\",\"K7ABC\",\"Ann\",\"\",\"Provo\",\"UT\",\"\"\n";
    writeFile(path, text.toUtf8());
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadTrelvin)->trigger();
    QCOMPARE(column(fileDb(w), "SELECT call FROM log ORDER BY id"), (QStringList{"W1AW", "K7ABC"}));
    QCOMPARE(column(fileDb(w), "SELECT comment FROM log WHERE id = 1"), QStringList{"Has \"traffic\", two items"});
    QVERIFY2(rt->readData("errorLog.txt").contains("line 3 has 2 fields"), qPrintable(rt->readData("errorLog.txt")));
    QCOMPARE(column(fileDb(w), "SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='log' ORDER BY name"),
             (QStringList{"log_call_2", "log_date_2"}));

    // A header alone loads nothing and keeps the log.
    writeFile(path, "\"Date\"\n");
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadTrelvin)->trigger();
    QCOMPARE(column(fileDb(w), "SELECT COUNT(*) FROM log"), QStringList{"2"});
}

void TestFiles::failedLoadKeepsRows()
{
    addContact(w, obrien);
    const QString path = rt->dataPath() + "/Contacts-new.csv";
    writeFile(
        path,
        "header\n"
            + csvRecord({"K7ABC", "Ann", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", ""}).toUtf8());

    // Unreadable file: box, log line, table untouched.
    rt->prompter.paths = QStringList{rt->dataPath() + "/missing.csv"};
    FORM(w, actionLoadContacts)->trigger();
    QCOMPARE(rt->prompter.titles(), QStringList{"Can't Open File"});
    QCOMPARE(rt->prompter.calls.first().text, QStringLiteral("The File you selected could not be Opened."));
    QVERIFY(rt->readData("errorLog.txt").endsWith("File '" + rt->dataPath() + "/missing.csv' Could not be Opened.\n"));

    // A database that refuses the replacement (another program holds its
    // write lock) keeps the previous rows.
    rt->prompter.clear();
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other-program");
        other.setDatabaseName(fileDb(w).databaseName());
        QVERIFY(other.open());
        QVERIFY(run(other, "BEGIN IMMEDIATE"));
        rt->prompter.paths = QStringList{path};
        FORM(w, actionLoadContacts)->trigger();
        QVERIFY(waitForJobs(w));
        run(other, "ROLLBACK");
        other.close();
    }
    QSqlDatabase::removeDatabase("other-program");
    QCOMPARE(rt->prompter.titles(), QStringList{"Database Write Failed"});
    QCOMPARE(column(fileDb(w), "SELECT call FROM contact"), QStringList{"W1AW"});
    QVERIFY(rt->readData("errorLog.txt").contains("Database write failed (Loading contacts from " + path + ")"));
}

void TestFiles::loadKeepsNullEmptyAndBadBytes()
{
    // An unquoted empty field is stored as NULL, a quoted one as ''; a line
    // that is not UTF-8 is read as Windows-1252, carriage returns dropped.
    const QByteArray bad("\"K7BAD\",\"Ma\xffx\",\"\xe2\x82\r\xac\"" + QByteArray(",\"\"").repeated(16) + "\n");
    const QString path = rt->dataPath() + "/Contacts-null.csv";
    writeFile(path, "header\n\"K7ABC\",,\"\",\"E\"" + QByteArray(",").repeated(15) + "\n" + bad);
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(column(fileDb(w), "SELECT typeof(name) || typeof(last) || class || typeof(born) FROM contact "
                               "WHERE call = 'K7ABC'"),
             QStringList{"nulltextEnull"});
    QCOMPARE(contactRow(w, "K7BAD").mid(0, 3), (QStringList{"K7BAD", "Ma\u00ffx", "\u00e2\u201a\u00ac"}));
}

void TestFiles::bulkWayFollowsTheLibrary()
{
    // Here Qt's driver runs on the SQLite this program links, so the bulk
    // statements use its handle, unless a test run asks for the Qt way.
    const bool qtOnly = qEnvironmentVariableIsSet("TRELVIN_TEST_QT_SQL_ONLY");
    QCOMPARE(Direct::handle(fileDb(w)) != nullptr, !qtOnly);
    QCOMPARE(Direct::handle(memoryDb(w)) != nullptr, !qtOnly);
    QVERIFY(!Direct::handle(QSqlDatabase()));
}

void TestFiles::writerMatchesCsvRecord()
{
    // Random values over quotes and line breaks, written record by record,
    // come out as csvRecord writes them: the breaks anywhere in runs of
    // plain bytes longer than the eight looked at in one step, and a file
    // long enough to go to the disk in stretches before its commit.
    const QStringList pieces{"a", "\"", "\r", "\n", "\r\n", ",", "ë", " ", "abcdefg", "0123456789ABCDEFGHIJ"};
    QRandomGenerator random(99);
    QByteArray expected = "head\n";
    const QString path = rt->dataPath() + "/writer.csv";
    {
        CsvWriter writer(path);
        writer.append("head\n");
        for (int record = 0; record < 150000; ++record) {
            QStringList values;
            for (int v = random.bounded(1, 5); v > 0; --v) {
                QString value;
                for (int i = random.bounded(12); i > 0; --i)
                    value += pieces.at(random.bounded(int(pieces.size())));
                values.append(value);
            }
            for (int v = 0; v < values.size(); ++v)
                writer.appendField(values.at(v).toUtf8(), v == 0);
            writer.endRecord();
            expected += csvRecord(values).toUtf8();
        }
        QVERIFY(writer.commit());
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

void TestFiles::cancelledDialogsDoNothing()
{
    addContact(w, obrien);
    FORM(w, actionLoadContacts)->trigger();
    FORM(w, actionLoadTrelvin)->trigger();
    FORM(w, actionSaveContacts)->trigger();
    FORM(w, actionSaveTrelvin)->trigger();
    FORM(w, actionLoadRoster)->trigger();
    FORM(w, actionSaveRoster)->trigger();
    QCOMPARE(rt->prompter.pathCaptions,
             (QStringList{"Open Contact Database File", "Open Net Log File", "Save Contacts Database File",
                          "Save Net Log File", "Open ARC Roster File", "Save Current ARC Roster File"}));
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(column(fileDb(w), "SELECT call FROM contact"), QStringList{"W1AW"});
    QCOMPARE(QDir(rt->dataPath()).entryList(QStringList{"*.csv"}), QStringList());
}

void TestFiles::membershipKeys()
{
    // No call: nothing at all.
    deskOf(w)->makeMember();
    deskOf(w)->dropMember();
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList());

    FORM(w, call)->setText("o'br");
    deskOf(w)->makeMember();
    deskOf(w)->makeMember();
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList{"O'BR"});
    QCOMPARE(FORM(w, member)->text(), QStringLiteral("YES"));
    QCOMPARE(FORM(w, member)->palette().color(QPalette::Text), themeOf(w)->good().color(QPalette::Text));

    FORM(w, call)->setText("K7ABC");
    FORM(w, member)->setText("?");
    deskOf(w)->dropMember(); // not a member: no change
    QCOMPARE(FORM(w, member)->text(), QStringLiteral("?"));

    FORM(w, call)->setText("O'BR");
    deskOf(w)->dropMember();
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList());
    QCOMPARE(FORM(w, member)->text(), QStringLiteral("NO"));
    QCOMPARE(FORM(w, member)->palette().color(QPalette::Text), QColor(255, 0, 0));
}

void TestFiles::clubSwitch()
{
    addContact(w, obrien);
    addMember(w, "W1AW");
    writeFile(rt->dataPath() + "/PREAMBLE-QRP.txt", "QRP net opens.\n");
    QVERIFY(
        QFile::copy(QStringLiteral(TRELVIN_SOURCE_DIR "/info/PREAMBLE-ARC.txt"), rt->dataPath() + "/PREAMBLE-ARC.txt"));

    FORM(w, club)->setText("qrp");
    QTest::keyClick(FORM(w, club), Qt::Key_Return);
    QCOMPARE(w->findChild<Settings *>()->club(), QStringLiteral("QRP"));
    QCOMPARE(FORM(w, club)->text(), QStringLiteral("QRP"));
    QCOMPARE(readFile(rt->dataPath() + "/Roster-ARC.csv"), rosterHeader + csvRecord(obrien));
    // The new club has no roster yet.
    QCOMPARE(rt->prompter.titles(), QStringList{"Can't Open File"});
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList());
    QVERIFY(documentsOf(w)->scriptWindow()->isVisible());
    QCOMPARE(documentsOf(w)->scriptWindow()->windowTitle(), QStringLiteral("QRP Net Control Station's Script"));

    // Back to ARC: its roster comes back.
    rt->prompter.clear();
    FORM(w, club)->setText("arc");
    QTest::keyClick(FORM(w, club), Qt::Key_Return);
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList{"W1AW"});
    QCOMPARE(readFile(rt->dataPath() + "/Roster-QRP.csv"), rosterHeader);
}

void TestFiles::nothingLoadedKeepsTable_data()
{
    QTest::addColumn<bool>("contacts"); // loaded as contacts, else as the net log
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

    const QString empty = "The file is empty.";
    const QString headerOnly = "The file holds no line after its header.";
    const QString notText = "The file is not text.";
    const QString utf16Text = "The file is UTF-16 text; save it as UTF-8 and load it again.";
    const QString returns = "Its lines end in carriage returns alone; save it with line feeds and load it again.";
    for (const bool contacts : {true, false}) {
        const QByteArray good = contacts ? csvRecord(obrien).toUtf8() : logLine;
        const QByteArray file = "header\n" + good + good;
        const char *load = contacts ? "contacts: " : "net log: ";
        const auto row = [load](const char *name) -> QTestData & {
            return QTest::newRow(qPrintable(load + QString(name)));
        };
        row("0 bytes") << contacts << QByteArray() << empty;
        row("header only") << contacts << QByteArray("header\n") << headerOnly;
        row("UTF-16 with byte-order mark") << contacts << utf16(file, QStringConverter::Utf16LE, true) << utf16Text;
        row("lines of another length") << contacts << QByteArray("header\n\"a\",\"b\"\n\"c\"\n")
                                       << (contacts ? "No line has the 19 fields of a contacts file."
                                                    : "No line has the 9 fields of a net-log file.");
        // Lines of the right length, but the call empty or blank.
        QByteArray noCall = "header\n";
        for (const char *call : std::initializer_list<const char *>{"", "  ", nullptr}) {
            QStringList values = contacts ? obrien : splitCsvLine(QString::fromUtf8(logLine).trimmed());
            values[contacts ? 0 : 3] = QString::fromLatin1(call);
            QByteArray line = csvRecord(values).toUtf8();
            if (!call) // no quotes at all: a null field
                line.replace(contacts ? QByteArray("\"\",") : QByteArray(",\"\",\"Ann\""),
                             contacts ? QByteArray(",") : QByteArray(",,\"Ann\""));
            noCall += line;
        }
        row("lines without a call sign") << contacts << noCall
                                         << (contacts ? "No line of 19 fields has a call sign."
                                                      : "No line of 9 fields has a call sign.");
        // Both loads go through the same checks; the rest once (the
        // classification itself is tested in tst_csv).
        if (!contacts)
            continue;
        row("blank lines only") << contacts << QByteArray("header\n\n\r\n\n") << headerOnly;
        row("one line longer than a slice") << contacts << QByteArray(3 << 20, 'x') << headerOnly;
        row("carriage returns only") << contacts << QByteArray(file).replace('\n', '\r') << returns;
        row("random bytes") << contacts << randomBytes(4096, 7) << notText;
    }
    QTest::newRow("net-log file as contacts") << true << "header\n" + logLine.repeated(3)
                                              << "This is a net-log file (9 fields a line); a contacts file has 19.";
    QTest::newRow("contacts file as net log")
        << false << "header\n" + csvRecord(obrien).toUtf8().repeated(3)
        << "This is a contacts or roster file (19 fields a line); a net-log file has 9.";
}

void TestFiles::nothingLoadedKeepsTable()
{
    QFETCH(bool, contacts);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);

    addContact(w, obrien);
    addContact(w, {"K7ABC", "Ann", "", "", "", "", "Provo", "UT"});
    addContact(w, {"N0ONE"});
    QSqlQuery q(fileDb(w));
    QVERIFY(q.exec("INSERT INTO log VALUES (NULL, '261207', '19:01:02', 'T', 'W1AW', 'Pat', '', 'Newington', 'CT', "
                   "'')"));
    QVERIFY(q.exec("INSERT INTO log VALUES (NULL, '261207', '19:02:00', '-', 'K7ABC', 'Ann', '', 'Provo', 'UT', "
                   "NULL)"));
    const QStringList contactRows = tableRows(fileDb(w), "contact");
    const QStringList logRows = tableRows(fileDb(w), "log");
    const QString schema = "SELECT type || name || tbl_name FROM sqlite_master ORDER BY name";
    const QStringList tables = column(fileDb(w), schema);

    const QString path = rt->dataPath() + "/Load-this.csv";
    writeFile(path, bytes);
    rt->prompter.paths = QStringList{path};
    if (contacts)
        FORM(w, actionLoadContacts)->trigger();
    else
        FORM(w, actionLoadTrelvin)->trigger();
    QVERIFY(waitForJobs(w));

    QCOMPARE(rt->prompter.titles(), QStringList{"Nothing Loaded"});
    QCOMPARE(rt->prompter.calls.first().kind, Prompter::Warning);
    QCOMPARE(rt->prompter.calls.first().text,
             "Nothing was loaded from\n" + path + "\n\n" + reason + "\n\n"
                 + (contacts ? "The contacts were left as they were." : "The net log was left as it was."));
    QCOMPARE(tableRows(fileDb(w), "contact"), contactRows);
    QCOMPARE(tableRows(fileDb(w), "log"), logRows);
    QCOMPARE(column(fileDb(w), schema), tables);
    const QString log = rt->readData("errorLog.txt");
    QVERIFY2(log.contains("Nothing was loaded from '" + path + "': " + reason + "\n"), qPrintable(log));
}

void TestFiles::linesWithoutCallAreSkipped()
{
    QStringList anon = obrien;
    anon[0] = "";
    const QString path = rt->dataPath() + "/Contacts-anon.csv";
    writeFile(path, "header\n" + csvRecord(obrien).toUtf8() + csvRecord(anon).toUtf8()
                        + csvRecord({"K7ABC", "Ann", "", "", "", "", "Provo", "UT", "", "", "", "", "", "", "", "", "",
                                     "", ""})
                              .toUtf8());
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(waitForJobs(w));
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(column(fileDb(w), "SELECT call FROM contact ORDER BY id"), (QStringList{"W1AW", "K7ABC"}));
    QString log = rt->readData("errorLog.txt");
    QVERIFY2(log.contains("File '" + path + "' line 3 has no call sign; the line was skipped.\n"), qPrintable(log));

    // The net log's call is its fourth field.
    const QString logPath = rt->dataPath() + "/Trelvin-anon.csv";
    writeFile(logPath, "header\n" + QByteArray(logLine).replace("\"K7ABC\"", "\"\"") + logLine);
    rt->prompter.paths = QStringList{logPath};
    FORM(w, actionLoadTrelvin)->trigger();
    QVERIFY(waitForJobs(w));
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(column(fileDb(w), "SELECT call FROM log ORDER BY id"), QStringList{"K7ABC"});
    log = rt->readData("errorLog.txt");
    QVERIFY2(log.contains("File '" + logPath + "' line 2 has no call sign; the line was skipped.\n"), qPrintable(log));
}

void TestFiles::repeatedCallsMakeOneMember()
{
    addContact(w, obrien);
    QStringList lower = obrien;
    lower[0] = "w1aw";
    lower[1] = "Lower";
    const QByteArray k7abc =
        csvRecord({"K7ABC", "Ann", "", "", "", "", "Provo", "UT", "", "", "", "", "", "", "", "", "", "", ""}).toUtf8();
    const QByteArray roster = rosterHeader.toUtf8() + csvRecord(obrien).toUtf8().repeated(5) + csvRecord(lower).toUtf8()
                              + k7abc + "\"n0low\"\n\"K7ABC\"\n";
    const QString path = rt->dataPath() + "/Roster-TWICE.csv";
    writeFile(path, roster);
    filesOf(w)->loadRoster(path);
    QVERIFY(waitForJobs(w));
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr ORDER BY id"), (QStringList{"W1AW", "K7ABC", "n0low"}));
    // A repeat is skipped whole: its data does not overwrite the first line's.
    QCOMPARE(contactRow(w, "W1AW"), obrien);
    const QString repeats = "Roster file '" + path + "' names a call sign again on 6 lines; they were skipped.\n";
    QVERIFY2(rt->readData("errorLog.txt").contains(repeats), qPrintable(rt->readData("errorLog.txt")));

    // The roster read at start and on a change of club the same way.
    QVERIFY(QFile::resize(rt->dataPath() + "/errorLog.txt", 0));
    filesOf(w)->loadMembers(path);
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr ORDER BY id"), (QStringList{"W1AW", "K7ABC", "n0low"}));
    QVERIFY2(rt->readData("errorLog.txt").contains(repeats), qPrintable(rt->readData("errorLog.txt")));

    // Nor does the membership key add a member again in other case.
    FORM(w, call)->setText("N0LOW");
    deskOf(w)->makeMember();
    QCOMPARE(column(memoryDb(w), "SELECT COUNT(*) FROM mbr"), QStringList{"3"});
    deskOf(w)->dropMember();
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr ORDER BY id"), (QStringList{"W1AW", "K7ABC"}));

    // Hundreds of thousands of lines of one call make one member.
    writeFile(path, rosterHeader.toUtf8() + QByteArray("\"K7ONE\"\n").repeated(300000));
    filesOf(w)->loadRoster(path);
    QVERIFY(waitForJobs(w));
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList{"K7ONE"});
    QVERIFY(rt->readData("errorLog.txt")
                .contains("Roster file '" + path + "' names a call sign again on 299999 lines; they were skipped.\n"));
}

void TestFiles::lineLogIsCapped()
{
    // A contacts export loaded as the net log: every line is skipped, but
    // the log names only the first hundred and counts the rest.
    const QString path = rt->dataPath() + "/Contacts-export.csv";
    writeFile(path, "header\n" + csvRecord(obrien).toUtf8().repeated(250));
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadTrelvin)->trigger();
    QStringList lines = rt->readData("errorLog.txt").split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.filter(" has 19 fields instead of 9; the line was skipped.").size(), 100);
    QVERIFY(lines.filter("line 101 has").size() == 1 && lines.filter("line 102 has").isEmpty());
    QVERIFY(lines.at(lines.size() - 2).endsWith("... and 150 more lines of '" + path + "' were skipped"));

    // Lines read as Windows-1252 are named the same way, a hundred at most.
    QByteArray latin = "header\n";
    for (int i = 0; i < 130; ++i)
        latin += csvRecord({"K" + QString::number(i) + "X", "Zoë", "", "", "", "", "", "", "", "", "", "", "", "", "",
                            "", "", "", ""})
                     .toLatin1();
    writeFile(path, latin);
    rt->prompter.clear();
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(column(fileDb(w), "SELECT COUNT(*) FROM contact WHERE name = 'Zoë'"), QStringList{"130"});
    lines = rt->readData("errorLog.txt").split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.filter(" is not UTF-8; it was read as Windows-1252 (Latin-1).").size(), 100);
    QVERIFY(lines.last().endsWith("... and 30 more lines of '" + path + "' were read as Windows-1252"));
}

void TestFiles::latin1LinesAreConverted()
{
    // Line 2 is UTF-8, line 3 Windows-1252 with its curly quotes and euro sign.
    QStringList sao = obrien;
    sao[0] = "PY2ABC";
    sao[1] = "Zoë";
    sao[5] = "R. Boa Vista €5";
    sao[6] = "São Paulo";
    QByteArray latin = csvRecord(sao).toLatin1();
    latin.replace("Boa Vista ?", "\x93"
                                 "Boa Vista\x94 \x80");
    sao[5] = "R. “Boa Vista” €5";
    const QString path = rt->dataPath() + "/Contacts-latin.csv";
    writeFile(path, "header\n" + csvRecord(obrien).toUtf8() + latin);
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadContacts)->trigger();
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(contactRow(w, "W1AW"), obrien);
    QCOMPARE(contactRow(w, "PY2ABC"), sao);
    QString log = rt->readData("errorLog.txt");
    QVERIFY2(log.contains("File '" + path + "' line 3 is not UTF-8; it was read as Windows-1252 (Latin-1).\n"),
             qPrintable(log));
    QVERIFY(!log.contains("line 2 is not UTF-8"));

    // The net log and the roster read such lines the same way.
    const QString logPath = rt->dataPath() + "/Trelvin-latin.csv";
    writeFile(logPath,
              "header\n\"261207\",\"19:06:00\",\"-\",\"PY2ABC\",\"Zo\xeb\",\"\",\"S\xe3o Paulo\",\"SP\",\"\"\n");
    rt->prompter.paths = QStringList{logPath};
    FORM(w, actionLoadTrelvin)->trigger();
    QCOMPARE(column(fileDb(w), "SELECT name || '/' || city FROM log"), QStringList{"Zoë/São Paulo"});

    QSqlQuery(fileDb(w)).exec("DELETE FROM contact");
    const QString rosterPath = rt->dataPath() + "/Roster-LATIN.csv";
    writeFile(rosterPath,
              rosterHeader.toUtf8() + csvRecord(sao).toUtf8().replace("São", "S\xe3o").replace("“", "\x93"));
    filesOf(w)->loadRoster(rosterPath);
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr"), QStringList{"PY2ABC"});
    QCOMPARE(contactRow(w, "PY2ABC").at(6), QStringLiteral("São Paulo"));
    log = rt->readData("errorLog.txt");
    QVERIFY(log.contains("File '" + rosterPath + "' line 2 is not UTF-8; it was read as Windows-1252 (Latin-1).\n"));
}

void TestFiles::failedRosterLoadKeepsMembers_data()
{
    QTest::addColumn<QByteArray>("bytes"); // null: no file there
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("reason");

    const QByteArray roster = rosterHeader.toUtf8() + csvRecord(obrien).toUtf8();
    QTest::newRow("no such file") << QByteArray() << "Can't Open File" << QString();
    QTest::newRow("0 bytes") << QByteArray("") << "Nothing Loaded"
                             << "The file is empty.";
    QTest::newRow("header only") << rosterHeader.toUtf8() << "Nothing Loaded"
                                 << "The file holds no line after its header.";
    QTest::newRow("random bytes") << randomBytes(4096, 3) << "Nothing Loaded"
                                  << "The file is not text.";
    QTest::newRow("UTF-16") << utf16(roster, QStringConverter::Utf16LE, true) << "Nothing Loaded"
                            << "The file is UTF-16 text; save it as UTF-8 and load it again.";
    QTest::newRow("net-log file") << "header\n" + logLine.repeated(2) << "Nothing Loaded"
                                  << "This is a net-log file (9 fields a line); a roster file has 19, the first a "
                                     "call sign.";
    QTest::newRow("no call signs") << QByteArray("header\n\"\",\"Ann\"\n\"1234\"\n") << "Nothing Loaded"
                                   << "No line starts with a call sign.";
}

void TestFiles::failedRosterLoadKeepsMembers()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, title);
    QFETCH(QString, reason);

    addContact(w, obrien);
    addContact(w, {"K7ABC", "Ann", "", "", "", "", "Provo", "UT"});
    addMember(w, "W1AW");
    addMember(w, "K7ABC");
    const QStringList contacts = tableRows(fileDb(w), "contact");
    const QString path = rt->dataPath() + "/Roster-OTHER.csv";
    if (!bytes.isNull())
        writeFile(path, bytes);
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadRoster)->trigger();

    QCOMPARE(rt->prompter.titles(), QStringList{title});
    if (!reason.isEmpty())
        QCOMPARE(rt->prompter.calls.first().text,
                 "Nothing was loaded from\n" + path + "\n\n" + reason + "\n\nThe club roster was left as it was.");
    QCOMPARE(column(memoryDb(w), "SELECT call FROM mbr ORDER BY id"), (QStringList{"W1AW", "K7ABC"}));
    QCOMPARE(tableRows(fileDb(w), "contact"), contacts);
    QVERIFY(!bulkJobOf(w)->bar()->isVisible());

    // The members are still there to be written at exit.
    FORM(w, actionExit)->trigger();
    const QString saved = readFile(rt->dataPath() + "/Roster-ARC.csv");
    QCOMPARE(saved.count('\n'), 3);
    QVERIFY(saved.endsWith(csvRecord(obrien)));
}

void TestFiles::unreadableRosterAtStartIsKept_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

    const QByteArray roster = rosterHeader.toUtf8() + csvRecord(obrien).toUtf8();
    QTest::newRow("random bytes") << randomBytes(40000, 5) << "The file is not text.";
    QTest::newRow("UTF-16") << utf16(roster, QStringConverter::Utf16LE, false)
                            << "The file is UTF-16 text; save it as UTF-8 and load it again.";
    QTest::newRow("net-log file") << "header\n" + logLine.repeated(2)
                                  << "This is a net-log file (9 fields a line); a roster file has 19, the first a "
                                     "call sign.";
}

void TestFiles::unreadableRosterAtStartIsKept()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);

    const QString path = rt->dataPath() + "/Roster-ARC.csv";
    writeFile(path, bytes);
    w = rt->start();
    QVERIFY(!rt->prompter.titles().contains("Nothing Loaded"));
    QVERIFY(!rt->prompter.titles().contains("Can't Open File"));
    QCOMPARE(column(memoryDb(w), "SELECT COUNT(*) FROM mbr"), QStringList{"0"});
    QVERIFY(rt->readData("errorLog.txt")
                .contains("Roster file '" + path + "' gave no member: " + reason
                          + " The roster is empty; the file is left as it is.\n"));

    // An empty roster does not overwrite the file at exit...
    FORM(w, actionExit)->trigger();
    QCOMPARE(fileBytes(path), bytes);
    QVERIFY(rt->readData("errorLog.txt")
                .contains("Roster file '" + path
                          + "' was left as it was: it could not be read and the roster is "
                            "empty.\n"));

    // ...but members added during the net are written.
    w = rt->start();
    addContact(w, obrien);
    FORM(w, call)->setText("W1AW");
    deskOf(w)->makeMember();
    FORM(w, actionExit)->trigger();
    QCOMPARE(readFile(path), rosterHeader + csvRecord(obrien));
}

void TestFiles::closedDatabaseKeepsFiles()
{
    const QString path = rt->dataPath() + "/Roster-ARC.csv";
    const QByteArray roster = rosterHeader.toUtf8() + csvRecord(obrien).toUtf8() + "\"K7ABC\"\n";
    writeFile(path, roster);
    rt->stop();
    writeFile(rt->dataPath() + "/Contacts.db", "operator notes, not a database\n");
    w = rt->start();
    QVERIFY(!fileDb(w).isOpen());
    QCOMPARE(column(memoryDb(w), "SELECT COUNT(*) FROM mbr"), QStringList{"2"});
    rt->prompter.clear();

    // Nor do a contacts file and a net-log file lose their rows to it.
    const QString contacts = rt->dataPath() + "/Contacts-old.csv";
    const QString log = rt->dataPath() + "/Trelvin-old.csv";
    writeFile(contacts, "contacts kept\n");
    writeFile(log, "log kept\n");
    rt->prompter.paths = QStringList{contacts, log};
    FORM(w, actionSaveContacts)->trigger();
    FORM(w, actionSaveTrelvin)->trigger();
    QCOMPARE(fileBytes(contacts), QByteArray("contacts kept\n"));
    QCOMPARE(fileBytes(log), QByteArray("log kept\n"));
    QCOMPARE(rt->prompter.titles(), (QStringList{"Can't Open File", "Can't Open File"}));
    QVERIFY(rt->readData("errorLog.txt")
                .contains("File '" + log
                          + "' Could not be Opened. (the contacts database is not open; the file "
                            "was left as it was)\n"));

    // At exit the operator knows already: a line in the log, no box.
    rt->prompter.clear();
    FORM(w, actionExit)->trigger();
    QCOMPARE(fileBytes(path), roster);
    QCOMPARE(rt->prompter.titles(), QStringList{});
    QVERIFY(rt->readData("errorLog.txt")
                .contains("Roster file '" + path
                          + "' was not written at exit: the contacts database is not open; "
                            "the file was left as it was.\n"));
}

void TestFiles::specialFileIsNotReplaced()
{
    addContact(w, obrien);
    addMember(w, "W1AW");
    QVERIFY(QSqlQuery(fileDb(w)).exec("INSERT INTO log VALUES (NULL, '261207', '19:01:02', 'T', 'W1AW', 'Pat', '', "
                                      "'Newington', 'CT', '')"));
    const QString fifo = rt->dataPath() + "/Roster-PIPE.csv";
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QDir data(rt->dataPath());
    const auto entries = [&data] { return data.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot); };
    const QStringList before = entries();

    filesOf(w)->saveRoster(fifo);
    rt->prompter.paths = QStringList{fifo, fifo, fifo};
    FORM(w, actionSaveRoster)->trigger();
    FORM(w, actionSaveContacts)->trigger();
    QVERIFY(waitForJobs(w));
    FORM(w, actionSaveTrelvin)->trigger();
    QVERIFY(waitForJobs(w));

    QCOMPARE(rt->prompter.titles(), QStringList(4, "Can't Open File"));
    for (const auto &call : std::as_const(rt->prompter.calls))
        QCOMPARE(call.text, QStringLiteral("The File to write could not be Opened."));
    struct stat status {};
    QCOMPARE(::lstat(QFile::encodeName(fifo).constData(), &status), 0);
    QVERIFY(S_ISFIFO(status.st_mode));
    QCOMPARE(entries(), before);
    const QString log = rt->readData("errorLog.txt");
    QCOMPARE(log.count("File '" + fifo
                       + "' Could not be Opened. (it is not a regular file; it was left as it "
                         "is)\n"),
             4);
}

void TestFiles::fullFileSystemKeepsOldFile()
{
    // A few kilobytes stay in QFileDevice's buffer until the file is closed;
    // a failure there must still count.
    fileDb(w).transaction();
    for (int i = 0; i < 60; ++i) {
        QStringList values = obrien;
        values[0] = "K" + QString::number(i) + "ABC";
        addContact(w, values);
        addMember(w, values[0]);
    }
    fileDb(w).commit();
    const QString roster = rt->dataPath() + "/Roster-FULL.csv";
    const QString contacts = rt->dataPath() + "/Contacts-FULL.csv";
    writeFile(roster, "old roster\n");
    writeFile(contacts, "old contacts\n");
    // The error log must stay below the limit to take the report.
    QVERIFY(QFile::resize(rt->dataPath() + "/errorLog.txt", 0));
    {
        const FileSizeLimit limit(4096);
        QVERIFY(limit.active);
        filesOf(w)->saveRoster(roster);
        rt->prompter.paths = QStringList{contacts};
        FORM(w, actionSaveContacts)->trigger();
    }
    QCOMPARE(rt->prompter.titles(), (QStringList{"Can't Open File", "Can't Open File"}));
    QCOMPARE(fileBytes(roster), QByteArray("old roster\n"));
    QCOMPARE(fileBytes(contacts), QByteArray("old contacts\n"));
    const QString log = rt->readData("errorLog.txt");
    QVERIFY2(log.contains("File '" + roster + "' Could not be Opened. (File too large)\n"), qPrintable(log));
    QVERIFY2(log.contains("File '" + contacts + "' Could not be Opened. (File too large)\n"), qPrintable(log));
    QCOMPARE(QDir(rt->dataPath()).entryList(QStringList{"*FULL*"}),
             (QStringList{"Contacts-FULL.csv", "Roster-FULL.csv"}));

    // Without the limit the same saves go through.
    rt->prompter.clear();
    filesOf(w)->saveRoster(roster);
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(readFile(roster).count('\n'), 61);
}

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
