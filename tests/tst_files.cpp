#include "testsupport.h"

#include "app/trelvin.h"
#include "data/csv.h"
#include "data/direct.h"
#include "files/filewriting.h"
#include "ui_trelvin.h"
#include "viewer/seefile.h"

#include <QProgressBar>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QtTest>

namespace {
const QString rosterHeader = "\"Call\",\"First\",\"Last\",\"Class\",\"Expire\",\"Address\",\"City\",\"St\",\"Zip\",\"Country\","
                             "\"Email\",\"Phone\",\"Lat\",\"Lon\",\"Grid\",\"Source\",\"UTC\",\"DST\",\"Born\"\n";

void addContact(Trelvin *w, const QStringList &values)
{
    QSqlQuery q(w->fileDb);
    q.prepare("INSERT INTO contact (id, call, name, last, class, expire, address, city, state, zip, country, email, "
              "phone, lat, lon, grid, source, utc, dst, born) VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
              "?, ?, ?, ?, ?)");
    for (int i = 0; i < 19; ++i)
        q.addBindValue(i < values.size() ? values.at(i) : QString());
    QVERIFY(q.exec());
}

void addMember(Trelvin *w, const QString &call)
{
    QSqlQuery q(w->memoryDb);
    q.prepare("INSERT INTO mbr (id, call) VALUES (NULL, ?)");
    q.addBindValue(call);
    QVERIFY(q.exec());
}

QStringList column(const QSqlDatabase &db, const QString &sql)
{
    QStringList values;
    QSqlQuery q(sql, db);
    while (q.next())
        values.append(q.value(0).toString());
    return values;
}

QStringList contactRow(Trelvin *w, const QString &call)
{
    QSqlQuery q(w->fileDb);
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

const QStringList obrien{"W1AW", "Pat \"Bud\"", "O'Brien, Jr", "Extra", "2030-01-01", "1 Main St", "Zoë Springs",
                         "CT", "06111", "USA", "pat@example.org", "8605551234", "41.71", "-72.72", "FN31pr", "user",
                         "-5", "Y", "1950"};
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
    addMember(w, "KD7XYZ");  // no contact record: not written
    addMember(w, "K7ABC");

    const QString path = rt->dataPath() + "/Roster-TEST.csv";
    w->saveRoster(path);
    QVERIFY(rt->prompter.calls.isEmpty());
    const QString text = readFile(path);
    QVERIFY(text.startsWith(rosterHeader));
    QCOMPARE(text.mid(rosterHeader.size()),
             "\"K7ABC\",\"Ann\",\"\",\"\",\"\",\"\",\"Provo\",\"UT\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\n"
                 + csvRecord(obrien));

    QSqlQuery(w->fileDb).exec("DELETE FROM contact");
    w->loadRoster(path);
    QCOMPARE(column(w->memoryDb, "SELECT call FROM mbr ORDER BY id"), (QStringList{"K7ABC", "W1AW"}));
    QCOMPARE(contactRow(w, "W1AW"), obrien);
    QCOMPARE(contactRow(w, "K7ABC").at(6), QStringLiteral("Provo"));
    QVERIFY(rt->prompter.calls.isEmpty());
    QVERIFY(!w->progressBar->isVisible());
    QCOMPARE(w->statusTipsFilter, w->statusTips);
}

void TestFiles::rosterLoadMergesFieldByField()
{
    addContact(w, {"W1AW", "Hiram", "Maxim", "Extra", "", "", "Newington", "CT", "06111"});
    const QString path = rt->dataPath() + "/Roster-MIX.csv";
    writeFile(path, rosterHeader.toUtf8()
                        + "\"W1AW\",\"Hi\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"(860) 594-0200\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\n"
                          "\"K7NEW\",\"Newt\",\"\",\"\",\"\",\"\",\"\",\"UT\",\"\",\"\",\"\",\"801.555.0000\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\n"
                          "\"N0SHORT\",\"Only\",\"three\"\n"
                          "\"K7END\",\"End\",\"\",\"\",\"\",\"\",\"Moab\",\"UT\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"");
    w->loadRoster(path);

    const QStringList w1aw = contactRow(w, "W1AW");
    QCOMPARE(w1aw.at(1), QStringLiteral("Hi"));          // given: replaces
    QCOMPARE(w1aw.at(2), QStringLiteral("Maxim"));       // empty: keeps the stored value
    QCOMPARE(w1aw.at(6), QStringLiteral("Newington"));
    QCOMPARE(w1aw.at(11), QStringLiteral("8605940200")); // digits only
    const QStringList fresh = contactRow(w, "K7NEW");
    QCOMPARE(fresh.at(6), QString());
    QCOMPARE(fresh.at(11), QStringLiteral("8015550000"));
    QCOMPARE(contactRow(w, "K7END").at(6), QStringLiteral("Moab"));  // last line without line feed
    QVERIFY(contactRow(w, "N0SHORT").isEmpty());
    QCOMPARE(column(w->memoryDb, "SELECT call FROM mbr ORDER BY id"),
             (QStringList{"W1AW", "K7NEW", "N0SHORT", "K7END"}));
    QVERIFY2(rt->readData("errorLog.txt").contains("line 4 has 3 fields"), qPrintable(rt->readData("errorLog.txt")));

    // A header alone gives an empty roster and changes no contact.
    writeFile(path, rosterHeader.toUtf8());
    w->loadRoster(path);
    QCOMPARE(column(w->memoryDb, "SELECT call FROM mbr"), QStringList());
    QCOMPARE(contactRow(w, "W1AW").at(1), QStringLiteral("Hi"));
}

void TestFiles::missingRosterIsReported()
{
    const QString path = rt->dataPath() + "/Roster-NONE.csv";
    addMember(w, "W1AW");
    w->loadMember(path);
    QCOMPARE(rt->prompter.titles(), QStringList{"Can't Open File"});
    QCOMPARE(rt->prompter.calls.first().kind, Prompter::Critical);
    QCOMPARE(rt->prompter.calls.first().text,
             "File '" + path
                 + "'\nCould not be Opened.\n\nYou can create 'Roster-{club}.csv' in 3 ways:\n 1. 'Ctrl +' during Net to "
                   "add contacts to Roster,\n 2. Manually edit 'Roster-{club}.csv' file\n    (file created when "
                   "program terminates),\n 3. Use Menu Item: 'Setup->Roster QRZ Data'\n    to read "
                   "'Callsigns-{club}.csv' file and\n    retrieve data from the QRZ database.");
    QVERIFY(rt->readData("errorLog.txt").endsWith(" File '" + path + "' Could not be Opened.\n"));
    QCOMPARE(column(w->memoryDb, "SELECT call FROM mbr"), QStringList());
}

void TestFiles::failedWriteKeepsOldFile()
{
    // The replacement is written beside the target first; a name this long
    // leaves no room for that temporary name, so the write fails.
    const QString path = rt->dataPath() + "/" + QString(250, QLatin1Char('r')) + ".csv";
    writeFile(path, "old roster\n");
    addContact(w, obrien);
    addMember(w, "W1AW");
    w->saveRoster(path);
    QCOMPARE(rt->prompter.titles(), QStringList{"Can't Open File"});
    QCOMPARE(rt->prompter.calls.first().text, QStringLiteral("The File to write could not be Opened."));
    QCOMPARE(readFile(path), QStringLiteral("old roster\n"));
    QVERIFY(rt->readData("errorLog.txt").endsWith("File '" + path + "' Could not be Opened.\n"));

    rt->prompter.clear();
    rt->prompter.paths = QStringList{path};
    w->on_actionSaveContacts_triggered();
    QCOMPARE(rt->prompter.titles(), QStringList{"Can't Open File"});
    QCOMPARE(readFile(path), QStringLiteral("old roster\n"));
}

void TestFiles::contactsRoundTrip()
{
    addContact(w, {"K7ABC", "Ann"});
    QSqlQuery(w->fileDb).exec("DELETE FROM contact");
    addContact(w, obrien);
    addContact(w, {"JA1XYZ", "Hiro", "山田", "", "", "", "東京"});
    addContact(w, {"K7ABC", "Ann", "", "", "", "", "Provo", "UT", "", "", "", "(801) 555-1234"});

    const QString path = rt->dataPath() + "/Contacts-test.csv";
    rt->prompter.paths = QStringList{path};
    w->on_actionSaveContacts_triggered();
    QCOMPARE(rt->prompter.pathCaptions, QStringList{"Save Contacts Database File"});
    const QString text = readFile(path);
    QVERIFY(text.startsWith("\"Call\",\"Name\",\"Last\",\"Class\",\"Expire\",\"Address\",\"City\",\"St\",\"ZIP\","
                            "\"Country\",\"Email\",\"Phone\",\"Lat\",\"Lon\",\"Grid\",\"Source\",\"UTC\",\"DST\","
                            "\"Born\"\n"));
    QCOMPARE(text.count('\n'), 4);

    QSqlQuery(w->fileDb).exec("DELETE FROM contact");
    addContact(w, {"GONE"});
    rt->prompter.paths = QStringList{path};
    w->on_actionLoadContacts_triggered();
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(column(w->fileDb, "SELECT id || call FROM contact ORDER BY id"),
             (QStringList{"1W1AW", "2JA1XYZ", "3K7ABC"}));
    QCOMPARE(contactRow(w, "W1AW"), obrien);
    QCOMPARE(contactRow(w, "JA1XYZ").at(2), QStringLiteral("山田"));
    // Stored as it stands in the file: no reduction to digits here.
    QCOMPARE(contactRow(w, "K7ABC").at(11), QStringLiteral("(801) 555-1234"));
    // The re-created table keeps its look-up index; nothing of the loading is left.
    QCOMPARE(column(w->fileDb, "SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='contact'"),
             QStringList{"contact_call"});
    QCOMPARE(column(w->fileDb, "SELECT name FROM sqlite_master WHERE name LIKE '%loading%'"), QStringList{});
}

void TestFiles::netLogRoundTripAndShortLine()
{
    QSqlQuery q(w->fileDb);
    QVERIFY(q.exec("INSERT INTO log VALUES (NULL, '261207', '19:01:02', 'T', 'W1AW', 'Pat', '', 'Newington', 'CT', "
                   "'Has \"traffic\", two items')"));
    const QString path = rt->dataPath() + "/Trelvin-test.csv";
    rt->prompter.paths = QStringList{path};
    w->on_actionSaveTrelvin_triggered();
    QCOMPARE(readFile(path), QStringLiteral("\"Date\",\"Time\",\"S\",\"Station\",\"Operator\",\"Relay\",\"City\",\"St\","
                                            "\"Comments\"\n\"261207\",\"19:01:02\",\"T\",\"W1AW\",\"Pat\",\"\","
                                            "\"Newington\",\"CT\",\"Has \"\"traffic\"\", two items\"\n"));

    // Add a short line in the middle: it is skipped and reported, the rest loads.
    QString text = readFile(path);
    text += "\"261207\",\"19:05\"\n\"261207\",\"19:06:00\",\"-\",\"K7ABC\",\"Ann\",\"\",\"Provo\",\"UT\",\"\"\n";
    writeFile(path, text.toUtf8());
    rt->prompter.paths = QStringList{path};
    w->on_actionLoadTrelvin_triggered();
    QCOMPARE(column(w->fileDb, "SELECT call FROM log ORDER BY id"), (QStringList{"W1AW", "K7ABC"}));
    QCOMPARE(column(w->fileDb, "SELECT comment FROM log WHERE id = 1"),
             QStringList{"Has \"traffic\", two items"});
    QVERIFY2(rt->readData("errorLog.txt").contains("line 3 has 2 fields"), qPrintable(rt->readData("errorLog.txt")));
    QCOMPARE(column(w->fileDb, "SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='log' ORDER BY name"),
             (QStringList{"log_call", "log_date"}));

    // A header alone leaves the log empty.
    writeFile(path, "\"Date\"\n");
    rt->prompter.paths = QStringList{path};
    w->on_actionLoadTrelvin_triggered();
    QCOMPARE(column(w->fileDb, "SELECT COUNT(*) FROM log"), QStringList{"0"});
}

void TestFiles::failedLoadKeepsRows()
{
    addContact(w, obrien);
    const QString path = rt->dataPath() + "/Contacts-new.csv";
    writeFile(path, "header\n" + csvRecord({"K7ABC", "Ann", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
                                            "", "", ""})
                                     .toUtf8());

    // Unreadable file: box, log line, table untouched.
    rt->prompter.paths = QStringList{rt->dataPath() + "/missing.csv"};
    w->on_actionLoadContacts_triggered();
    QCOMPARE(rt->prompter.titles(), QStringList{"Can't Open File"});
    QCOMPARE(rt->prompter.calls.first().text, QStringLiteral("The File you selected could not be Opened."));
    QVERIFY(rt->readData("errorLog.txt").endsWith("File '" + rt->dataPath() + "/missing.csv' Could not be Opened.\n"));

    // A database that refuses the replacement keeps the previous rows.
    rt->prompter.clear();
    QSqlQuery(w->fileDb).exec("PRAGMA query_only = ON");
    rt->prompter.paths = QStringList{path};
    w->on_actionLoadContacts_triggered();
    QSqlQuery(w->fileDb).exec("PRAGMA query_only = OFF");
    QCOMPARE(rt->prompter.titles(), QStringList{"Database Write Failed"});
    QCOMPARE(column(w->fileDb, "SELECT call FROM contact"), QStringList{"W1AW"});
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
    w->on_actionLoadContacts_triggered();
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(column(w->fileDb, "SELECT typeof(name) || typeof(last) || class || typeof(born) FROM contact "
                               "WHERE call = 'K7ABC'"),
             QStringList{"nulltextEnull"});
    QCOMPARE(contactRow(w, "K7BAD").mid(0, 3), (QStringList{"K7BAD", "Ma\u00ffx", "\u00e2\u201a\u00ac"}));
}

void TestFiles::bulkWayFollowsTheLibrary()
{
    // Here Qt's driver runs on the SQLite this program links, so the bulk
    // statements use its handle, unless a test run asks for the Qt way.
    const bool qtOnly = qEnvironmentVariableIsSet("TRELVIN_TEST_QT_SQL_ONLY");
    QCOMPARE(Direct::handle(w->fileDb) != nullptr, !qtOnly);
    QCOMPARE(Direct::handle(w->memoryDb) != nullptr, !qtOnly);
    QVERIFY(!Direct::handle(QSqlDatabase()));
}

void TestFiles::writerMatchesCsvRecord()
{
    // Random values over quotes and line breaks, written record by record,
    // come out as csvRecord writes them.
    const QStringList pieces{"a", "\"", "\r", "\n", "\r\n", ",", "ë", " "};
    QRandomGenerator random(99);
    QByteArray expected = "head\n";
    const QString path = rt->dataPath() + "/writer.csv";
    {
        CsvWriter writer(path);
        writer.append("head\n");
        for (int record = 0; record < 3000; ++record) {
            QStringList values;
            for (int v = random.bounded(1, 5); v > 0; --v) {
                QString value;
                for (int i = random.bounded(6); i > 0; --i)
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
    w->on_actionLoadContacts_triggered();
    w->on_actionLoadTrelvin_triggered();
    w->on_actionSaveContacts_triggered();
    w->on_actionSaveTrelvin_triggered();
    w->on_actionLoadRoster_triggered();
    w->on_actionSaveRoster_triggered();
    QCOMPARE(rt->prompter.pathCaptions,
             (QStringList{"Open Contact Database File", "Open Net Log File", "Save Contacts Database File",
                          "Save Net Log File", "Open ARC Roster File", "Save Current ARC Roster File"}));
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(column(w->fileDb, "SELECT call FROM contact"), QStringList{"W1AW"});
    QCOMPARE(QDir(rt->dataPath()).entryList(QStringList{"*.csv"}), QStringList());
}

void TestFiles::membershipKeys()
{
    // No call: nothing at all.
    w->enableMemberStatus();
    w->disableMemberStatus();
    QCOMPARE(column(w->memoryDb, "SELECT call FROM mbr"), QStringList());

    w->ui->call->setText("o'br");
    w->enableMemberStatus();
    w->enableMemberStatus();
    QCOMPARE(column(w->memoryDb, "SELECT call FROM mbr"), QStringList{"O'BR"});
    QCOMPARE(w->ui->member->text(), QStringLiteral("YES"));
    QCOMPARE(w->ui->member->palette().color(QPalette::Text), w->goodPalette.color(QPalette::Text));

    w->ui->call->setText("K7ABC");
    w->ui->member->setText("?");
    w->disableMemberStatus();  // not a member: no change
    QCOMPARE(w->ui->member->text(), QStringLiteral("?"));

    w->ui->call->setText("O'BR");
    w->disableMemberStatus();
    QCOMPARE(column(w->memoryDb, "SELECT call FROM mbr"), QStringList());
    QCOMPARE(w->ui->member->text(), QStringLiteral("NO"));
    QCOMPARE(w->ui->member->palette().color(QPalette::Text), QColor(255, 0, 0));
}

void TestFiles::clubSwitch()
{
    addContact(w, obrien);
    addMember(w, "W1AW");
    writeFile(rt->dataPath() + "/PREAMBLE-QRP.txt", "QRP net opens.\n");
    QVERIFY(QFile::copy(QStringLiteral(TRELVIN_SOURCE_DIR "/info/PREAMBLE-ARC.txt"),
                        rt->dataPath() + "/PREAMBLE-ARC.txt"));

    w->ui->club->setText("qrp");
    w->on_club_returnPressed();
    QCOMPARE(w->club, QStringLiteral("QRP"));
    QCOMPARE(w->ui->club->text(), QStringLiteral("QRP"));
    QCOMPARE(readFile(rt->dataPath() + "/Roster-ARC.csv"), rosterHeader + csvRecord(obrien));
    // The new club has no roster yet.
    QCOMPARE(rt->prompter.titles(), QStringList{"Can't Open File"});
    QCOMPARE(column(w->memoryDb, "SELECT call FROM mbr"), QStringList());
    QVERIFY(w->preambleWindow->isVisible());
    QCOMPARE(w->preambleWindow->windowTitle(), QStringLiteral("QRP Net Control Station's Script"));

    // Back to ARC: its roster comes back.
    rt->prompter.clear();
    w->ui->club->setText("arc");
    w->on_club_returnPressed();
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(column(w->memoryDb, "SELECT call FROM mbr"), QStringList{"W1AW"});
    QCOMPARE(readFile(rt->dataPath() + "/Roster-QRP.csv"), rosterHeader);
}

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
