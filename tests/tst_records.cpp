#include "testsupport.h"

#include "app/settings.h"
#include "app/trelvin.h"
#include "checkin/idreminder.h"
#include "records/adif.h"
#include "records/ics309.h"
#include "records/netdetails.h"
#include "records/netrecordscontroller.h"
#include "records/utc.h"
#include "ui_trelvin.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QtTest>

#include <sys/stat.h>

#include <ctime>

namespace {

// The evening nets of the Americas: Denver is UTC-7 in winter, UTC-6 in summer.
const char Zone[] = "America/Denver";

// An ADI file read back field by field: lengths are taken as byte counts.
struct AdiFile {
    QByteArray headerText;
    QMap<QByteArray, QByteArray> header;
    QList<QMap<QByteArray, QByteArray>> records;
    QString error;
};

AdiFile readAdi(const QByteArray &bytes)
{
    AdiFile file;
    QMap<QByteArray, QByteArray> current;
    bool inHeader = !bytes.startsWith('<');
    qsizetype at = 0;
    if (inHeader) {
        const qsizetype open = bytes.indexOf('<');
        file.headerText = bytes.left(open);
        at = open;
    }
    while (at >= 0 && at < bytes.size()) {
        const qsizetype open = bytes.indexOf('<', at);
        if (open < 0)
            break;
        const qsizetype close = bytes.indexOf('>', open);
        if (close < 0) {
            file.error = QStringLiteral("unclosed tag");
            break;
        }
        const QList<QByteArray> parts = bytes.mid(open + 1, close - open - 1).split(':');
        const QByteArray name = parts[0].toUpper();
        if (name == "EOH") {
            file.header = current;
            current.clear();
            inHeader = false;
        } else if (name == "EOR") {
            file.records << current;
            current.clear();
        } else {
            bool ok = false;
            const int length = parts.size() > 1 ? parts[1].toInt(&ok) : 0;
            if (!ok || close + 1 + length > bytes.size()) {
                file.error = QStringLiteral("bad length in ") + QString::fromLatin1(name);
                break;
            }
            current[name] = bytes.mid(close + 1, length);
            at = close + 1 + length;
            continue;
        }
        at = close + 1;
    }
    return file;
}

void addLog(Trelvin *w, const QString &date, const QString &time, const QString &status, const QString &call,
            const QString &name, const QString &city = QString(), const QString &state = QString(),
            const QString &comment = QString())
{
    QSqlQuery query(fileDb(w));
    query.prepare("INSERT INTO log (id, date, time, status, call, name, relay, city, state, comment) "
                  "VALUES (NULL, ?, ?, ?, ?, ?, '', ?, ?, ?)");
    for (const QString &value : {date, time, status, call, name, city, state, comment})
        query.addBindValue(value);
    QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
}

void exec(Trelvin *w, const QString &sql)
{
    QSqlQuery query(fileDb(w));
    QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
}

void selectNet(Trelvin *w, int month, int day, int year, const QString &begin, const QString &end)
{
    FORM(w, month)->setValue(month);
    FORM(w, day)->setValue(day);
    FORM(w, year)->setValue(year);
    FORM(w, beginTime)->setText(begin);
    FORM(w, endTime)->setText(end);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void storedTimeToUtc_data();
    void storedTimeToUtc();
    void otherZone();

    void asciiOnly_data();
    void asciiOnly();
    void adifRecordsReadBack();

    void idClock();

    void emptyNetWritesNothing();
    void adifExportOfTheSelectedNet();
    void ics309OfSixtyStations();
    void idReminderInTheWindow();
    void netDetailsAndSettings();
};

void TestRecords::initTestCase()
{
    qputenv("TZ", Zone);
    tzset();
}

void TestRecords::storedTimeToUtc_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("utc"); // empty: refused
    QTest::newRow("winter evening: next UTC day") << "240105"
                                                  << "20:30:00"
                                                  << "2024-01-06T03:30:00Z";
    QTest::newRow("summer evening: an hour less") << "240705"
                                                  << "20:30:00"
                                                  << "2024-07-06T02:30:00Z";
    QTest::newRow("last day of the year") << "241231"
                                          << "19:15:00"
                                          << "2025-01-01T02:15:00Z";
    QTest::newRow("short stored time") << "240105"
                                       << "20:30"
                                       << "2024-01-06T03:30:00Z";
    QTest::newRow("before the spring change") << "240310"
                                              << "01:30:00"
                                              << "2024-03-10T08:30:00Z";
    QTest::newRow("after the spring change") << "240310"
                                             << "03:30:00"
                                             << "2024-03-10T09:30:00Z";
    QTest::newRow("before the autumn change") << "241102"
                                              << "23:30:00"
                                              << "2024-11-03T05:30:00Z";
    QTest::newRow("after the autumn change") << "241103"
                                             << "03:00:00"
                                             << "2024-11-03T10:00:00Z";
    QTest::newRow("no such day") << "240230"
                                 << "20:00:00"
                                 << "";
    QTest::newRow("no such hour") << "240105"
                                  << "24:10:00"
                                  << "";
    QTest::newRow("long date") << "20240105"
                               << "20:00:00"
                               << "";
}

void TestRecords::storedTimeToUtc()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, utc);
    const QDateTime converted = Utc::fromStored(date, time);
    if (utc.isEmpty()) {
        QVERIFY(!converted.isValid());
        return;
    }
    QCOMPARE(converted.toString(Qt::ISODate), utc);
    QCOMPARE(Utc::fromStored(date, time, QTimeZone(Zone)).toString(Qt::ISODate), utc);
}

void TestRecords::otherZone()
{
    // East of Greenwich a morning net falls on the previous UTC day.
    QCOMPARE(Utc::fromStored("240105", "08:00:00", QTimeZone("Asia/Tokyo")).toString(Qt::ISODate),
             QStringLiteral("2024-01-04T23:00:00Z"));
    QCOMPARE(Utc::offsetText(-7 * 3600), QStringLiteral("UTC-07:00"));
    QCOMPARE(Utc::offsetText(5 * 3600 + 1800), QStringLiteral("UTC+05:30"));
    QCOMPARE(Utc::offsetText(0), QStringLiteral("UTC"));
    QCOMPARE(Utc::localZoneLabel(Utc::fromStored("240105", "20:30:00")), QStringLiteral("America/Denver (UTC-07:00)"));
}

void TestRecords::asciiOnly_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("ascii");
    QTest::addColumn<bool>("transliterated");
    QTest::addColumn<bool>("dropped");
    QTest::newRow("plain") << "Bob K7ABC" << QByteArray("Bob K7ABC") << false << false;
    QTest::newRow("accents") << QString::fromUtf8("Zoë Ångström") << QByteArray("Zoe Angstrom") << true << false;
    QTest::newRow("spelled out") << QString::fromUtf8("Straße Øvre") << QByteArray("Strasse Ovre") << true << false;
    QTest::newRow("ligature") << QString::fromUtf8("ﬁsh") << QByteArray("fish") << true << false;
    QTest::newRow("no Latin letter") << QString::fromUtf8("Jo 日本") << QByteArray("Jo ") << false << true;
    QTest::newRow("control character") << QString::fromUtf8("a\tb") << QByteArray("ab") << false << true;
}

void TestRecords::asciiOnly()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, ascii);
    QFETCH(bool, transliterated);
    QFETCH(bool, dropped);
    const Adif::Ascii out = Adif::toAscii(value);
    QCOMPARE(out.text, ascii);
    QCOMPARE(out.transliterated, transliterated);
    QCOMPARE(out.dropped, dropped);
}

void TestRecords::adifRecordsReadBack()
{
    const QDateTime created(QDate(2024, 1, 6), QTime(4, 0, 5), Qt::UTC);
    Adif::Qso first{"K7ABC",
                    Utc::fromStored("240105", "20:30:00"),
                    "W0NCS",
                    QString::fromUtf8("Zoë"),
                    QString::fromUtf8("Señora Springs"),
                    "CO",
                    "DM79",
                    "good signal <loud>",
                    "Net control",
                    "2m",
                    "FM",
                    "146.520"};
    Adif::Qso second{"N0ZZ",     Utc::fromStored("240105", "20:31:10"),
                     "W0NCS",    QString::fromUtf8("王"),
                     "",         "",
                     "",         "",
                     "Check-in", "",
                     "",         ""};
    const Adif::Written written =
        Adif::write({"2.7.3", created, QString::fromUtf8("Times are UTC (Zoë's zone)")}, {first, second});

    // Every byte is ASCII and no value starts the header with a tag.
    for (const char c : written.text)
        QVERIFY(uchar(c) < 0x80);
    QVERIFY(!written.text.startsWith('<'));

    const AdiFile file = readAdi(written.text);
    QVERIFY2(file.error.isEmpty(), qPrintable(file.error));
    QCOMPARE(file.header.value("ADIF_VER"), QByteArray("3.1.4"));
    QCOMPARE(file.header.value("PROGRAMID"), QByteArray("Trelvin"));
    QCOMPARE(file.header.value("PROGRAMVERSION"), QByteArray("2.7.3"));
    QCOMPARE(file.header.value("CREATED_TIMESTAMP"), QByteArray("20240106 040005"));
    QVERIFY(file.headerText.contains("Times are UTC (Zoe's zone)"));
    QCOMPARE(file.records.size(), 2);

    const auto &a = file.records[0];
    QCOMPARE(a.value("CALL"), QByteArray("K7ABC"));
    QCOMPARE(a.value("QSO_DATE"), QByteArray("20240106"));
    QCOMPARE(a.value("TIME_ON"), QByteArray("033000"));
    QCOMPARE(a.value("STATION_CALLSIGN"), QByteArray("W0NCS"));
    QCOMPARE(a.value("NAME"), QByteArray("Zoe"));
    QCOMPARE(a.value("QTH"), QByteArray("Senora Springs"));
    QCOMPARE(a.value("GRIDSQUARE"), QByteArray("DM79"));
    // A '<' in a value is data: the length says where it ends.
    QCOMPARE(a.value("COMMENT"), QByteArray("good signal <loud>"));
    QCOMPARE(a.value("APP_TRELVIN_ROLE"), QByteArray("Net control"));
    QCOMPARE(a.value("BAND"), QByteArray("2m"));
    QCOMPARE(a.value("MODE"), QByteArray("FM"));
    QCOMPARE(a.value("FREQ"), QByteArray("146.520"));
    QVERIFY(written.text.contains("<NAME:3>Zoe "));

    // Fields without a value are left out, a name with no Latin letter too.
    const auto &b = file.records[1];
    QCOMPARE(b.value("TIME_ON"), QByteArray("033110"));
    for (const char *absent : {"NAME", "QTH", "GRIDSQUARE", "BAND", "MODE", "FREQ", "COMMENT"})
        QVERIFY2(!b.contains(absent), absent);

    QCOMPARE(written.notes.size(), 3);
    QVERIFY(written.notes.contains(QString::fromUtf8("K7ABC NAME 'Zoë' was written as 'Zoe'")));
    QVERIFY(written.notes.contains(QString::fromUtf8("N0ZZ NAME '王' was written as ''")));
}

void TestRecords::idClock()
{
    const QDateTime start(QDate(2024, 1, 5), QTime(20, 0), Qt::UTC);
    IdReminder clock;
    QVERIFY(!clock.running());
    QCOMPARE(clock.text(start), QString());

    clock.netChanged(true, start);
    clock.netChanged(true, start.addSecs(120)); // a second entry does not restart it
    QCOMPARE(clock.minutes(start.addSecs(599)), 9);
    QVERIFY(!clock.due(start.addSecs(599)));
    QCOMPARE(clock.text(start.addSecs(599)), QStringLiteral("Last ID: 9 min ago"));
    QVERIFY(clock.due(start.addSecs(600)));
    QCOMPARE(clock.text(start.addSecs(600)), QStringLiteral("Identify: 10 minutes since your last ID"));
    QCOMPARE(clock.text(start.addSecs(13 * 60)), QStringLiteral("Identify: 13 minutes since your last ID"));

    clock.identified(start.addSecs(13 * 60));
    QVERIFY(!clock.due(start.addSecs(22 * 60 + 59)));
    QVERIFY(clock.due(start.addSecs(23 * 60)));
    // A clock set back never shows negative minutes.
    QCOMPARE(clock.minutes(start), 0);

    clock.netChanged(false, start.addSecs(30 * 60));
    QVERIFY(!clock.running());
    QVERIFY(!clock.due(start.addSecs(60 * 60)));
}

void TestRecords::emptyNetWritesNothing()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    addLog(w, "240104", "20:30:00", "-", "K7ABC", "Bob"); // the evening before
    selectNet(w, 1, 5, 24, "19:00", "22:00");
    rt.prompter.clear();
    rt.prompter.paths << rt.dataPath() + "/never.adi" << rt.dataPath() + "/never.pdf";

    FORM(w, actionSaveNetAdif)->trigger();
    FORM(w, actionSaveIcs309)->trigger();

    QCOMPARE(rt.prompter.titles(), QStringList({"Empty Net", "Empty Net"}));
    QCOMPARE(rt.prompter.calls[0].text,
             QStringLiteral("No check-ins were logged on 1/5/24 between 19:00 and 22:00.\nNo ADIF file was written."));
    QCOMPARE(rt.prompter.calls[1].text,
             QStringLiteral("No check-ins were logged on 1/5/24 between 19:00 and 22:00.\nNo ICS-309 was written."));
    // No file dialog came up, and nothing was written.
    QCOMPARE(rt.prompter.paths.size(), 2);
    QVERIFY(QDir(rt.dataPath()).entryList({"*.adi", "*.pdf", "Net-*"}, QDir::Files).isEmpty());

    // A time the selection refuses says so too.
    rt.prompter.clear();
    FORM(w, endTime)->setText("25:00");
    FORM(w, actionSaveNetAdif)->trigger();
    QCOMPARE(rt.prompter.titles(), QStringList({"Net Not Selected"}));
}

void TestRecords::adifExportOfTheSelectedNet()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    exec(w, "INSERT INTO station (call, state, grid) VALUES ('w0ncs', 'CO', 'DM79')");
    exec(w, "INSERT INTO contact (id, call, name, grid) VALUES (NULL, 'K7ABC', 'Zoe', 'DN40')");
    addLog(w, "240105", "20:30:00", "N", "W0NCS", "Ned", "Denver", "CO", "opening");
    addLog(w, "240105", "20:31:15", "T", "K7ABC", QString::fromUtf8("Zoë"), "Provo", "UT", "one for Salt Lake");
    addLog(w, "240105", "22:30:00", "-", "N0LATE", "Lou", "Pueblo", "CO", ""); // after the window
    FORM(w, actionNetDetails)->trigger();
    NetDetails *details = w->findChild<NetDetails *>();
    details->bandBox->setCurrentText("2m");
    details->modeBox->setCurrentText("FM");
    details->accept();
    selectNet(w, 1, 5, 24, "19:00", "22:00");
    rt.prompter.clear();
    const QString target = rt.dataPath() + "/net.adi";
    rt.prompter.paths << target;

    FORM(w, actionSaveNetAdif)->trigger();

    QVERIFY2(rt.prompter.calls.isEmpty(), qPrintable(rt.prompter.titles().join(", ")));
    QCOMPARE(rt.prompter.pathCaptions, QStringList({"Save Net ADIF File"}));
    const AdiFile file = readAdi(readFile(target));
    QVERIFY2(file.error.isEmpty(), qPrintable(file.error));
    QVERIFY(file.headerText.contains("Times are UTC, converted from the local time of the log "
                                     "(America/Denver (UTC-07:00))."));
    QCOMPARE(file.records.size(), 2);
    const auto &ncs = file.records[0];
    QCOMPARE(ncs.value("CALL"), QByteArray("W0NCS"));
    QCOMPARE(ncs.value("QSO_DATE"), QByteArray("20240106"));
    QCOMPARE(ncs.value("TIME_ON"), QByteArray("033000"));
    QCOMPARE(ncs.value("APP_TRELVIN_ROLE"), QByteArray("Net control"));
    QVERIFY(!ncs.contains("GRIDSQUARE"));
    const auto &k7 = file.records[1];
    QCOMPARE(k7.value("STATION_CALLSIGN"), QByteArray("W0NCS"));
    QCOMPARE(k7.value("NAME"), QByteArray("Zoe"));
    QCOMPARE(k7.value("QTH"), QByteArray("Provo"));
    QCOMPARE(k7.value("STATE"), QByteArray("UT"));
    QCOMPARE(k7.value("GRIDSQUARE"), QByteArray("DN40"));
    QCOMPARE(k7.value("COMMENT"), QByteArray("one for Salt Lake"));
    QCOMPARE(k7.value("APP_TRELVIN_ROLE"), QByteArray("Traffic"));
    QCOMPARE(k7.value("BAND"), QByteArray("2m"));
    QCOMPARE(k7.value("MODE"), QByteArray("FM"));
    QVERIFY(!k7.contains("FREQ"));
    QVERIFY(rt.readData("errorLog.txt").contains(QString::fromUtf8("K7ABC NAME 'Zoë' was written as 'Zoe'")));

    // A file that cannot be written is reported, not taken for done.
    rt.prompter.clear();
    rt.prompter.paths << rt.path() + "/no/such/dir/net.adi";
    FORM(w, actionSaveNetAdif)->trigger();
    QCOMPARE(rt.prompter.titles(), QStringList({"Can't Open File"}));
    QVERIFY(rt.readData("errorLog.txt").contains("File '" + rt.path() + "/no/such/dir/net.adi' Could not be Opened."));

    // Nor is a device or a FIFO replaced by a file, nor a failed write taken for done.
    const QString fifo = rt.dataPath() + "/pipe.adi";
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QByteArray old = readFile(target);
    rt.prompter.clear();
    rt.prompter.paths << fifo << target;
    FORM(w, actionSaveNetAdif)->trigger();
    QVERIFY(rt.readData("errorLog.txt").contains("File '" + fifo + "' Could not be Opened. (it is not a regular file"));
    // The error log must stay below the limit to take the report.
    QVERIFY(QFile::resize(rt.dataPath() + "/errorLog.txt", 0));
    {
        const FileSizeLimit limit(old.size() / 2);
        QVERIFY(limit.active);
        FORM(w, actionSaveNetAdif)->trigger();
    }
    QCOMPARE(rt.prompter.titles(), QStringList({"Can't Open File", "Can't Open File"}));
    QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    QCOMPARE(readFile(target), old);
    QVERIFY2(rt.readData("errorLog.txt").contains("File '" + target + "' Could not be Opened. (File too large)"),
             qPrintable(rt.readData("errorLog.txt")));
    QCOMPARE(QDir(rt.dataPath()).entryList({"*.adi"}, QDir::AllEntries | QDir::System),
             QStringList({"net.adi", "pipe.adi"}));

    // The proposed name: club and date of the selection.
    QCOMPARE(NetRecords::fileBaseName("ARC", 24, 1, 5), QStringLiteral("Net-ARC-20240105"));
}

void TestRecords::ics309OfSixtyStations()
{
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    QVERIFY2(!pdftotext.isEmpty(), "pdftotext (poppler-utils) is needed; scripts/test.sh installs it");
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    w->findChild<Settings *>()->setClub("ARC");
    exec(w, "INSERT INTO station (call) VALUES ('W0NCS')");
    addLog(w, "240105", "20:00:10", "N", "W0NCS", "Ned", "Denver", "CO", "net opens");
    for (int i = 1; i < 60; ++i)
        addLog(w, "240105", QTime(20, 0, 30).addSecs(i * 30).toString("HH:mm:ss"), i % 7 == 0 ? "T" : "-",
               QStringLiteral("K%1AB%2").arg(i % 10).arg(QChar('A' + i % 26)), "Op", "Town", "CO",
               i == 59 ? QStringLiteral("last one in") : QString());
    selectNet(w, 1, 5, 24, "19:00", "22:00");
    rt.prompter.clear();
    const QString target = rt.dataPath() + "/net309.pdf";
    rt.prompter.paths << target;

    FORM(w, actionSaveIcs309)->trigger();
    QVERIFY2(rt.prompter.calls.isEmpty(), qPrintable(rt.prompter.titles().join(", ")));
    QVERIFY(QFile::exists(target));

    QProcess run;
    run.start(pdftotext, {"-layout", target, "-"});
    QVERIFY(run.waitForFinished(30000));
    QCOMPARE(run.exitCode(), 0);
    const QString text = QString::fromUtf8(run.readAllStandardOutput());
    const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    QCOMPARE(pages.size(), 2);
    for (int page = 0; page < 2; ++page) {
        const QString &p = pages[page];
        QVERIFY(p.contains("COMMUNICATIONS LOG"));
        QVERIFY(p.contains("ICS 309"));
        QVERIFY(p.contains("1. Incident Name:"));
        QVERIFY(p.contains("ARC net"));
        QVERIFY(p.contains("From: 2024-01-06 03:00 UTC"));
        QVERIFY(p.contains("To: 2024-01-06 03:30 UTC"));
        QVERIFY(p.contains("3. Radio Operator (Name, Call Sign):"));
        QVERIFY(p.contains("W0NCS"));
        QVERIFY(p.contains("America/Denver (UTC-07:00)"));
        QVERIFY2(p.contains(QStringLiteral("Page %1 of 2").arg(page + 1)), qPrintable(p));
    }
    QVERIFY(pages[0].contains("Net control: net opens"));
    QVERIFY(pages[1].contains("Check-in: last one in"));
    // Every check-in is on one of the pages: 60 rows in all.
    static const QRegularExpression row(QStringLiteral("\\b\\d\\d:\\d\\d\\s+[A-Z0-9]+\\s+W0NCS\\b"));
    QCOMPARE(int(text.count(row)), 60);

    const QList<QByteArray> csv = readFile(rt.dataPath() + "/net309.csv").split('\n');
    QCOMPARE(csv.size(), 62); // header, 60 rows, the final line break
    QCOMPARE(csv[0], QByteArray("\"Time (UTC)\",\"From\",\"To\",\"Subject\""));
    QCOMPARE(csv[1], QByteArray("\"03:00\",\"W0NCS\",\"W0NCS\",\"Net control: net opens\""));
    QCOMPARE(csv[60], QByteArray("\"03:30\",\"K9ABH\",\"W0NCS\",\"Check-in: last one in\""));

    // The PDF and the rows beside it: neither replaces a FIFO, nor is either
    // written when the other cannot be.
    const QString fifo = rt.dataPath() + "/pipe.csv";
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    rt.prompter.clear();
    rt.prompter.paths << rt.dataPath() + "/pipe.pdf";
    FORM(w, actionSaveIcs309)->trigger();
    QCOMPARE(rt.prompter.titles(), QStringList({"Can't Open File"}));
    QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    QVERIFY(!QFileInfo::exists(rt.dataPath() + "/pipe.pdf"));
    const QByteArray pdf = readFile(target);
    rt.prompter.clear();
    rt.prompter.paths << target;
    {
        const FileSizeLimit limit(1000);
        QVERIFY(limit.active);
        FORM(w, actionSaveIcs309)->trigger();
    }
    QCOMPARE(rt.prompter.titles(), QStringList({"Can't Open File"}));
    QCOMPARE(readFile(target), pdf);
}

void TestRecords::idReminderInTheWindow()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    QDateTime now(QDate(2024, 1, 5), QTime(20, 0), Qt::LocalTime);
    clockOf(w)->setSource([&now] { return now; });
    rt.prompter.clear();
    const QColor alert = themeOf(w)->alert().color(QPalette::Text);

    // An empty net shows no clock.
    w->tick();
    QVERIFY(w->findChild<QLabel *>("idStatus")->isHidden());
    QCOMPARE(FORM(w, time)->text(), QStringLiteral("20:00:00"));
    QCOMPARE(FORM(w, utcTime)->text(), QStringLiteral("03:00:00 UTC"));
    QVERIFY(FORM(w, time)->statusTip().contains("03:00:00 UTC (2024-01-06)"));

    FORM(w, call)->setText("K7ABC");
    FORM(w, logContactButton)->click();
    w->tick();
    QVERIFY(!w->findChild<QLabel *>("idStatus")->isHidden());
    QCOMPARE(w->findChild<QLabel *>("idStatus")->text(), QStringLiteral("Last ID: 0 min ago"));

    now = now.addSecs(9 * 60 + 59);
    w->tick();
    QCOMPARE(w->findChild<QLabel *>("idStatus")->text(), QStringLiteral("Last ID: 9 min ago"));
    QVERIFY(FORM(w, time)->palette().color(QPalette::Text) != alert);

    now = now.addSecs(1);
    w->tick();
    QCOMPARE(w->findChild<QLabel *>("idStatus")->text(), QStringLiteral("Identify: 10 minutes since your last ID"));
    QCOMPARE(FORM(w, time)->palette().color(QPalette::Text), alert);

    // Ctrl+I: identified, and the clock field is back to its colour.
    deskOf(w)->identify();
    QCOMPARE(w->findChild<QLabel *>("idStatus")->text(), QStringLiteral("Last ID: 0 min ago"));
    QVERIFY(FORM(w, time)->palette().color(QPalette::Text) != alert);

    // Net control marked with F7 identifies too.
    now = now.addSecs(11 * 60);
    w->tick();
    QCOMPARE(FORM(w, time)->palette().color(QPalette::Text), alert);
    FORM(w, call)->setText("W0NCS");
    FORM(w, search)->setFocus();
    FORM(w, NCSButton)->click();
    QCOMPARE(w->findChild<QLabel *>("idStatus")->text(), QStringLiteral("Last ID: 0 min ago"));
    // ... and so does its check-in later on.
    now = now.addSecs(12 * 60);
    w->tick();
    QVERIFY(w->findChild<QLabel *>("idStatus")->text().startsWith("Identify: 12"));
    FORM(w, call)->setText("W0NCS");
    FORM(w, logContactButton)->click();
    QCOMPARE(w->findChild<QLabel *>("idStatus")->text(), QStringLiteral("Last ID: 0 min ago"));

    // Switched off: no clock, no alert.
    now = now.addSecs(15 * 60);
    FORM(w, actionIdReminder)->setChecked(false);
    w->tick();
    QVERIFY(w->findChild<QLabel *>("idStatus")->isHidden());
    QVERIFY(FORM(w, time)->palette().color(QPalette::Text) != alert);
    // Nothing of it ever asked the operator anything.
    QVERIFY2(rt.prompter.calls.isEmpty(), qPrintable(rt.prompter.titles().join(", ")));
}

void TestRecords::netDetailsAndSettings()
{
    QCOMPARE(NetDetailsRules::frequencyText(" 146,52 "), QStringLiteral("146.52"));
    QCOMPARE(NetDetailsRules::frequencyText("abc"), QString());
    QCOMPARE(NetDetailsRules::frequencyText("-3"), QString());

    Runtime rt;
    rt.installInfo("State_Info.csv");
    writeMain("IdReminder", false);
    writeMain("NetBand", "40m");
    Trelvin *w = rt.start();
    QVERIFY(!deskOf(w)->idReminderOn());
    QVERIFY(!FORM(w, actionIdReminder)->isChecked());
    QCOMPARE(netRecordsOf(w)->band(), QStringLiteral("40m"));

    FORM(w, actionNetDetails)->trigger();
    NetDetails *details = w->findChild<NetDetails *>();
    QCOMPARE(details->bandBox->currentText(), QStringLiteral("40m"));
    details->modeBox->setCurrentText("ssb");
    details->frequencyEdit->setText("7.245");
    details->accept();
    QCOMPARE(netRecordsOf(w)->mode(), QStringLiteral("SSB"));
    QCOMPARE(netRecordsOf(w)->frequency(), QStringLiteral("7.245"));
    FORM(w, actionIdReminder)->setChecked(true);
    FORM(w, actionExit)->trigger();

    QSettings settings(rt.settingsFile(), QSettings::IniFormat);
    settings.beginGroup("Main");
    QCOMPARE(settings.value("IdReminder").toBool(), true);
    QCOMPARE(settings.value("NetBand").toString(), QStringLiteral("40m"));
    QCOMPARE(settings.value("NetMode").toString(), QStringLiteral("SSB"));
    QCOMPARE(settings.value("NetFrequency").toString(), QStringLiteral("7.245"));
}

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
