#include "testsupport.h"

#include "app/datalock.h"
#include "app/errorlog.h"
#include "app/settings.h"
#include "app/themecontroller.h"
#include "app/trelvin.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "ui_trelvin.h"
#include "updates/updatecheck.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlQuery>
#include <QStatusTipEvent>
#include <QSysInfo>
#include <QTimer>
#include <QtTest>

#include <cstdio>

namespace {
const QString stamp = QStringLiteral("\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d ");
// Without a station record the start-up login asks for the credentials.
const QString qrzBox = QStringLiteral("QRZ XML Database Connection ");

int rowCount(const QSqlDatabase &db, const QString &table)
{
    QSqlQuery query(db);
    if (!query.exec("SELECT COUNT(*) FROM " + table) || !query.next())
        return -1;
    return query.value(0).toInt();
}

QStringList tableNames(const QString &path)
{
    QStringList names;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("inspect"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"), db);
            while (query.next())
                names.append(query.value(0).toString());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("inspect"));
    return names;
}

const char HoldArgument[] = "--hold-data-directory";

// Run as a child of the test: another copy of the program as far as the data
// directory goes. Takes its lock, says how that went, and holds it until its
// standard input closes or it is killed.
int holdDataDirectory(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    DataLock lock;
    const DataLock::Outcome outcome = lock.take(QString::fromLocal8Bit(argv[2]));
    std::fputs(outcome == DataLock::Held ? "held\n" : outcome == DataLock::InUse ? "in use\n" : "failed\n", stdout);
    std::fflush(stdout);
    char buffer[64];
    while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
    }
    return 0;
}

// Another copy of the program, in a process of its own, on `dir`.
class OtherCopy {
public:
    explicit OtherCopy(const QString &dir)
    {
        process.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(HoldArgument), dir});
    }
    ~OtherCopy() { quit(); }

    // "held", "in use" or "failed".
    QString outcome()
    {
        while (!process.canReadLine() && process.waitForReadyRead(30000)) {
        }
        return QString::fromLatin1(process.readLine()).trimmed();
    }
    void quit()
    {
        process.closeWriteChannel();
        process.waitForFinished();
    }
    // SIGKILL: no chance to remove its lock file.
    void kill()
    {
        process.kill();
        process.waitForFinished();
    }

    QProcess process;
};

// Every file below `dir` with its bytes.
QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            files.insert(file.fileName(), file.readAll());
    }
    return files;
}

// The text of the "Trelvin Already Running" box, `what` in the middle.
QString inUse(const QString &dir, qint64 pid, const QString &what)
{
    return "Another copy of Trelvin (process " + QString::number(pid) + " on '" + QSysInfo::machineHostName()
           + "')\nis using the data directory\n'" + dir + "'.\n\n" + what + "\n\nIf no other copy is running, delete\n'"
           + dir + "/Trelvin.lock'\nand try again.";
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void firstStartCreatesDatabaseAndUsesDefaults();
    void secondStartKeepsDatabaseQuiet();
    void settingsRoundTrip();
    void windowGroupReopensVisibleWindow();
    void missingDataDirectoryEndsStartup_data();
    void missingDataDirectoryEndsStartup();
    void unusableDatabaseIsReportedAndKept();
    void stateCentresLoaderSkipsShortLines();
    void missingStateCentresFileIsReported();
    void errorLogLines();
    void changingDataDirectory();
    void dataDirectoryWithoutErrorLogIsUsedWhole();
    void secondCopyChangesNothing();
    void dataDirectoryInUseIsRefused();
    void unreadableLockFile_data();
    void unreadableLockFile();
    void liveLockIsKeptWhateverItHolds();
    void lockPathThatIsADirectory();
    void closeRunsExitSequence();
    void fileExitRunsExitSequenceOnce();
    void statusTipsFilter();
    void clockShowsLocalTime();
};

void TestStartup::firstStartCreatesDatabaseAndUsesDefaults()
{
    Runtime rt;
    QVERIFY(rt.installInfo("State_Info.csv"));
    Trelvin *w = rt.start();
    QVERIFY(w->started());

    // The club has no roster file yet either.
    QCOMPARE(rt.prompter.titles(), (QStringList{"New Contacts Database", "Can't Open File", qrzBox}));
    const auto &box = rt.prompter.calls.first();
    QCOMPARE(box.kind, Prompter::Information);
    QCOMPARE(box.title, QStringLiteral("New Contacts Database"));
    QCOMPARE(box.text, "Contacts database file 'Contacts.db' was not found.\nA new database file 'Contacts.db' will be "
                       "created\nin the '"
                           + rt.dataPath() + "' subdirectory.");

    const QRegularExpression line(
        "^" + stamp
        + QRegularExpression::escape("Contacts database file '" + rt.dataPath() + "/Contacts.db' was not found.")
        + "\n$");
    const QString firstLine = rt.readData("errorLog.txt").section('\n', 0, 0) + "\n";
    QVERIFY2(line.match(firstLine).hasMatch(), qPrintable(rt.readData("errorLog.txt")));

    QCOMPARE(tableNames(rt.dataPath() + "/Contacts.db"), (QStringList{"contact", "log", "net", "netmark", "station"}));
    QCOMPARE(rowCount(fileDb(w), "contact"), 0);

    QCOMPARE(w->windowTitle(), QStringLiteral("Net Logging for Amateur Radio Clubs: Trelvin V2.8.0"));
    QCOMPARE(w->size(), QSize(632, 360));
    QCOMPARE(w->findChild<ThemeController *>()->name(), QStringLiteral("dark"));
    QCOMPARE(w->findChild<Settings *>()->club(), QStringLiteral("ARC"));
    QCOMPARE(FORM(w, club)->text(), QStringLiteral("ARC"));
    QVERIFY(w->findChild<Settings *>()->statusTipsOn());
    QVERIFY(FORM(w, actionStatusTips)->isChecked());
    QVERIFY(w->findChild<UpdateCheck *>()->autoCheck());
    QVERIFY(FORM(w, actionAuto_Update_Check)->isChecked());
    QCOMPARE(w->palette(), w->findChild<ThemeController *>()->darkPalette());
    QCOMPARE(w->findChild<Settings *>()->dataDir().path(), rt.dataPath());
    QCOMPARE(w->findChild<Settings *>()->infoDir().path(), rt.infoPath());

    // The net-log selection starts at today, from now to the end of the day.
    const QDate today = QDate::currentDate();
    QCOMPARE(FORM(w, year)->value(), today.year() % 100);
    QCOMPARE(FORM(w, month)->value(), today.month());
    QCOMPARE(FORM(w, day)->value(), today.day());
    QCOMPARE(FORM(w, endTime)->text(), QStringLiteral("23:59"));
    QVERIFY(QRegularExpression("^\\d\\d:\\d\\d$").match(FORM(w, beginTime)->text()).hasMatch());

    // Every data line of the shipped state-centre file is loaded.
    QFile states(rt.infoPath() + "/State_Info.csv");
    QVERIFY(states.open(QIODevice::ReadOnly));
    const int dataLines = QString::fromUtf8(states.readAll()).trimmed().split('\n').size() - 1;
    QCOMPARE(dataLines, 56);
    QCOMPARE(rowCount(memoryDb(w), "latlon"), dataLines);
    QSqlQuery query(memoryDb(w));
    for (const char *state : {"UT", "DC", "PR", "VI", "GU", "AS", "MP", "AK", "HI"}) {
        query.prepare("SELECT lat, lon FROM latlon WHERE st = ?");
        query.addBindValue(QString::fromLatin1(state));
        QVERIFY(query.exec());
        QVERIFY2(query.next(), state);
        QVERIFY(query.value(0).toDouble() != 0.0);
    }
    QCOMPARE(rowCount(memoryDb(w), "net"), 0);
    QCOMPARE(rowCount(memoryDb(w), "mbr"), 0);
    QCOMPARE(rowCount(memoryDb(w), "candidate"), 0);
}

void TestStartup::secondStartKeepsDatabaseQuiet()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    QSqlQuery insert(fileDb(w));
    QVERIFY(insert.exec("INSERT INTO contact (id, call, name) VALUES (NULL, 'W1AW', 'Hiram')"));
    FORM(w, actionExit)->trigger(); // leaves the club's roster file behind
    rt.stop();
    rt.prompter.clear();
    const QString logBefore = rt.readData("errorLog.txt");

    w = rt.start();
    QCOMPARE(rt.prompter.titles(), QStringList{qrzBox});
    QCOMPARE(rt.readData("errorLog.txt").mid(logBefore.size()).section(' ', 2),
             QStringLiteral("Station Call or QRZ Passwd is missing.\n"));
    QSqlQuery query("SELECT call, name FROM contact", fileDb(w));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("W1AW"));
    QCOMPARE(query.value(1).toString(), QStringLiteral("Hiram"));
    QVERIFY(!query.next());
}

void TestStartup::settingsRoundTrip()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    w->resize(700, 420);
    w->move(30, 40);
    FORM(w, actionLightTheme)->trigger();
    w->findChild<Settings *>()->setClub("QRP");
    FORM(w, actionStatusTips)->setChecked(false);
    // As a click does: the check goes off and the action is triggered.
    FORM(w, actionAuto_Update_Check)->setChecked(true);
    FORM(w, actionAuto_Update_Check)->trigger();
    QVERIFY(!w->findChild<Settings *>()->statusTipsOn());
    FORM(w, actionExit)->trigger();

    {
        QSettings settings(rt.settingsFile(), QSettings::IniFormat);
        settings.beginGroup("Main");
        QCOMPARE(settings.value("Exist").toString(), QStringLiteral("Yes"));
        QCOMPARE(settings.value("Size").toSize(), QSize(700, 420));
        QCOMPARE(settings.value("DataDirectory").toString(), rt.dataPath());
        QCOMPARE(settings.value("StatusTips").toInt(), 0);
        QCOMPARE(settings.value("AutoUpdate").toBool(), false);
        QCOMPARE(settings.value("Theme").toString(), QStringLiteral("light"));
        QCOMPARE(settings.value("Club").toString(), QStringLiteral("QRP"));
        QCOMPARE(settings.childKeys(),
                 (QStringList{"AutoUpdate", "Club", "DataDirectory", "Exist", "HamQthPassword", "HamQthServer",
                              "HamQthUser", "IdReminder", "NetBand", "NetFrequency", "NetMode", "Position", "QrzServer",
                              "Size", "StatusTips", "Theme", "UpdateServer"}));
    }

    w = rt.start();
    QCOMPARE(w->size(), QSize(700, 420));
    QCOMPARE(w->findChild<ThemeController *>()->name(), QStringLiteral("light"));
    QCOMPARE(w->findChild<Settings *>()->club(), QStringLiteral("QRP"));
    QCOMPARE(FORM(w, club)->text(), QStringLiteral("QRP"));
    QVERIFY(!w->findChild<Settings *>()->statusTipsOn());
    QVERIFY(!w->findChild<Settings *>()->statusTipsShown());
    QVERIFY(!FORM(w, actionStatusTips)->isChecked());
    QVERIFY(!w->findChild<UpdateCheck *>()->autoCheck());
    QVERIFY(!FORM(w, actionAuto_Update_Check)->isChecked());
    QCOMPARE(w->palette(), w->findChild<ThemeController *>()->lightPalette());
}

void TestStartup::windowGroupReopensVisibleWindow()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    FORM(w, actionStationDetails)->trigger();
    QVERIFY(stationOf(w)->isVisible());
    // Above the layout's minimum with any font, so the size is kept as set.
    const QSize size = stationOf(w)->minimumSizeHint() + QSize(60, 40);
    stationOf(w)->resize(size);
    FORM(w, actionExit)->trigger();

    {
        QSettings settings(rt.settingsFile(), QSettings::IniFormat);
        settings.beginGroup("Station");
        QCOMPARE(settings.value("Exist").toString(), QStringLiteral("Yes"));
        QCOMPARE(settings.value("Visible").toString(), QStringLiteral("Yes"));
        QCOMPARE(settings.value("Size").toSize(), size);
        settings.endGroup();
        settings.beginGroup("Contact");
        QCOMPARE(settings.value("Visible").toString(), QStringLiteral("No"));
        settings.endGroup();
        for (const char *group : {"About", "Preamble", "Trelvin", "AllLog", "ArcLog", "ConLog", "QsoLog"}) {
            settings.beginGroup(group);
            QCOMPARE(settings.value("Visible").toString(), QStringLiteral("No"));
            QCOMPARE(settings.value("Exist").toString(), QStringLiteral("Yes"));
            settings.endGroup();
        }
    }

    w = rt.start();
    QVERIFY(stationOf(w)->isVisible());
    QCOMPARE(stationOf(w)->windowTitle(), QStringLiteral("Alt+S: Station Details"));
    QCOMPARE(stationOf(w)->size(), size);
    QVERIFY(!contactOf(w)->isVisible());
}

void TestStartup::missingDataDirectoryEndsStartup_data()
{
    QTest::addColumn<bool>("fromSettings");
    QTest::newRow("no Programs directory beside the working directory") << false;
    QTest::newRow("saved data directory removed") << true;
}

void TestStartup::missingDataDirectoryEndsStartup()
{
    QFETCH(bool, fromSettings);
    Runtime rt;
    QString missing = rt.dataPath();
    if (fromSettings) {
        missing = rt.path() + "/gone";
        writeMain("DataDirectory", missing);
    } else {
        QVERIFY(QDir(rt.dataPath()).removeRecursively());
    }

    Trelvin *w = rt.start();
    QVERIFY(!w->started());
    QCOMPARE(rt.prompter.calls.size(), 1);
    QCOMPARE(rt.prompter.calls.first().kind, Prompter::Critical);
    QCOMPARE(rt.prompter.calls.first().title, QStringLiteral("Error: Cannot Find Data Directory"));
    QCOMPARE(rt.prompter.calls.first().text, "Directory '" + missing + "' is missing.");
    QCOMPARE(rt.prompter.exits, QList<int>{0});
    // Nothing is saved on this way out.
    rt.stop();
    QSettings settings(rt.settingsFile(), QSettings::IniFormat);
    QVERIFY(!settings.contains("Main/Exist"));
}

void TestStartup::unusableDatabaseIsReportedAndKept()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    const QByteArray junk = "These are operator notes, not a database.\n";
    {
        QFile file(rt.dataPath() + "/Contacts.db");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(junk);
    }
    rt.addEmptyRoster();
    Trelvin *w = rt.start();
    QCOMPARE(rt.prompter.titles(), (QStringList{"Cannot open Trelvin database", qrzBox}));
    const auto &box = rt.prompter.calls.first();
    QCOMPARE(box.kind, Prompter::Critical);
    QCOMPARE(box.text,
             QStringLiteral("Unable to establish a File database connection.\nThis program needs SQLite support."));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Cancel));
    const QString log = rt.readData("errorLog.txt");
    QVERIFY2(log.contains("Unable to establish a File database connection."), qPrintable(log));
    QVERIFY2(log.contains("not a database"), qPrintable(log));
    QVERIFY(!fileDb(w).isOpen());

    // The roster cannot be written without the database; the operator was
    // told at start, so exit says it in the log alone and does not wait.
    rt.prompter.clear();
    FORM(w, actionExit)->trigger();
    QCOMPARE(rt.prompter.titles(), QStringList());
    QVERIFY2(rt.readData("errorLog.txt")
                 .contains("Roster file '" + rt.dataPath()
                           + "/Roster-ARC.csv' was not written at exit: the contacts database is not open; the file "
                             "was left as it was.\n"),
             qPrintable(rt.readData("errorLog.txt")));

    rt.stop();
    QFile file(rt.dataPath() + "/Contacts.db");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), junk);
}

void TestStartup::stateCentresLoaderSkipsShortLines()
{
    Runtime rt;
    {
        QFile file(rt.infoPath() + "/State_Info.csv");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("State,Latitude,Longitude\r\nUT,39.3210,-111.0937\r\nXX,12\r\n\r\nNV,38.8026,-116.4194");
    }
    Trelvin *w = rt.start();
    QSqlQuery query("SELECT st, lat, lon FROM latlon ORDER BY id", memoryDb(w));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("UT"));
    QCOMPARE(query.value(1).toDouble(), double(39.3210f));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("NV"));
    QCOMPARE(query.value(2).toDouble(), double(-116.4194f));
    QVERIFY(!query.next());

    // A header alone loads nothing and says nothing.
    {
        QFile file(rt.infoPath() + "/State_Info.csv");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("State,Latitude,Longitude\n");
    }
    rt.prompter.clear();
    rt.addEmptyRoster();
    w = rt.start();
    QCOMPARE(rowCount(memoryDb(w), "latlon"), 0);
    QCOMPARE(rt.prompter.titles(), QStringList{qrzBox});
}

void TestStartup::missingStateCentresFileIsReported()
{
    Runtime rt;
    Trelvin *w = rt.start();
    QVERIFY(w->started());
    const QStringList titles = rt.prompter.titles();
    QVERIFY2(titles.contains("Cannot open State_Info.csv file"), qPrintable(titles.join('|')));
    for (const auto &call : rt.prompter.calls) {
        if (call.title == "Cannot open State_Info.csv file") {
            QCOMPARE(call.kind, Prompter::Critical);
            QCOMPARE(call.text, "Unable to open State_Info.csv file.\nThis file needs to be in your '" + rt.infoPath()
                                    + "' directory.");
        }
    }
    QVERIFY(rt.readData("errorLog.txt").contains("Unable to open '" + rt.infoPath() + "/State_Info.csv' file.\n"));
    QCOMPARE(rowCount(memoryDb(w), "latlon"), 0);
}

void TestStartup::errorLogLines()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    {
        QFile db(rt.dataPath() + "/Contacts.db");
        QVERIFY(db.open(QIODevice::WriteOnly));
    }
    rt.addEmptyRoster();
    Trelvin *w = rt.start();
    const QString before = rt.readData("errorLog.txt");

    w->findChild<ErrorLog *>()->write("first Zoë");
    w->findChild<ErrorLog *>()->write("second");
    w->findChild<ErrorLog *>()->write(QString());
    const QStringList lines = rt.readData("errorLog.txt").mid(before.size()).split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(QRegularExpression("^" + stamp + "first Zoë$").match(lines[0]).hasMatch());
    QVERIFY(QRegularExpression("^" + stamp + "second$").match(lines[1]).hasMatch());
    QVERIFY2(QRegularExpression("^" + stamp + "$").match(lines[2]).hasMatch(), qPrintable(lines[2]));
    QCOMPARE(lines[3], QString());
    QVERIFY(lines[2].startsWith(w->findChild<ErrorLog *>()->lastTime().toString("MM/dd/yyyy hh:mm:ss ")));
}

void TestStartup::changingDataDirectory()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    const QString oldLog = rt.readData("errorLog.txt");
    const QString other = rt.path() + "/elsewhere";
    QVERIFY(QDir().mkpath(other));
    rt.addEmptyRoster("ARC", other);

    // Cancelling changes nothing.
    rt.prompter.clear();
    FORM(w, actionSet_Data_Directory)->trigger();
    QCOMPARE(rt.prompter.pathCaptions, QStringList{"Select Trelvin Data Directory"});
    QVERIFY(rt.prompter.calls.isEmpty());
    QCOMPARE(w->findChild<Settings *>()->dataDir().path(), rt.dataPath());

    // No asks again; Yes switches.
    rt.prompter.clear();
    rt.prompter.paths = QStringList{other, other};
    rt.prompter.answers = {QMessageBox::No, QMessageBox::Yes};
    FORM(w, actionSet_Data_Directory)->trigger();
    QCOMPARE(rt.prompter.pathCaptions.size(), 2);
    QCOMPARE(rt.prompter.calls.size(), 3);
    const auto &question = rt.prompter.calls.first();
    QCOMPARE(question.kind, Prompter::Question);
    QCOMPARE(question.title, QStringLiteral("New Trelvin Data Directory!"));
    QCOMPARE(question.text, "You have selected:\n\n\"" + other
                                + "\"\n\n as the new Trelvin Data Directory.\n\nIs this what you really want?\n");
    QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(question.defaultButton, QMessageBox::No);
    QCOMPARE(rt.prompter.calls.at(2).title, QStringLiteral("New Contacts Database"));
    QCOMPARE(w->findChild<Settings *>()->dataDir().path(), other);
    QVERIFY(QFile::exists(other + "/Contacts.db"));
    QCOMPARE(fileDb(w).databaseName(), other + "/Contacts.db");
    QVERIFY(fileDb(w).isOpen());

    w->findChild<ErrorLog *>()->write("after the move");
    QFile newLog(other + "/errorLog.txt");
    QVERIFY(newLog.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(newLog.readAll()).endsWith(" after the move\n"));
    QCOMPARE(rt.readData("errorLog.txt"), oldLog);

    // Choosing the directory in use says so and still reopens.
    rt.prompter.clear();
    rt.prompter.paths = QStringList{other};
    FORM(w, actionSet_Data_Directory)->trigger();
    QCOMPARE(rt.prompter.titles(), QStringList{"Same Trelvin Data Directory"});
    QCOMPARE(rt.prompter.calls.first().text, QStringLiteral("You have not changed the Trelvin Data Directory."));
    QCOMPARE(rt.prompter.calls.first().kind, Prompter::Information);
    QVERIFY(fileDb(w).isOpen());

    // The new path reaches the settings at exit.
    FORM(w, actionExit)->trigger();
    QSettings settings(rt.settingsFile(), QSettings::IniFormat);
    QCOMPARE(settings.value("Main/DataDirectory").toString(), other);
}

void TestStartup::secondCopyChangesNothing()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    QSqlQuery insert(fileDb(w));
    QVERIFY(insert.exec("INSERT INTO contact (id, call, name) VALUES (NULL, 'W1AW', 'Hiram')"));
    FORM(w, actionExit)->trigger();
    rt.stop();

    // An older copy's HamQTH password, which a start moves to the keyring.
    writeMain("HamQthUser", "k7abc");
    writeMain("HamQthPassword", "secret");

    OtherCopy other(rt.dataPath());
    QCOMPARE(other.outcome(), QStringLiteral("held"));
    const QMap<QString, QByteArray> before = snapshot(rt.path());
    const QFile::Permissions dirPermissions = QFileInfo(rt.dataPath()).permissions();
    QVERIFY(before.contains(rt.settingsFile()) && before.contains(rt.dataPath() + "/Roster-ARC.csv"));

    rt.prompter.clear();
    w = rt.start();
    QVERIFY(!w->started());
    QCOMPARE(rt.prompter.titles(), QStringList{"Trelvin Already Running"});
    QCOMPARE(rt.prompter.calls.first().kind, Prompter::Critical);
    QCOMPARE(rt.prompter.calls.first().text,
             inUse(rt.dataPath(), other.process.processId(), "This copy closes without changing anything."));
    QCOMPARE(rt.prompter.exits, QList<int>{0});
    // Nor does the keyring's answer, were one asked.
    QTest::qWait(300);
    rt.stop();
    // Not a byte of the settings, roster, database or error log.
    QCOMPARE(snapshot(rt.path()), before);
    QCOMPARE(QFileInfo(rt.dataPath()).permissions(), dirPermissions);

    // A copy that was killed leaves its lock file behind; it does not count.
    other.kill();
    QVERIFY(QFile::exists(DataLock::lockFileName(rt.dataPath())));
    rt.prompter.clear();
    w = rt.start();
    QVERIFY(w->started());
    QVERIFY(!rt.prompter.titles().contains("Trelvin Already Running"));

    // Now this copy holds the directory, against other processes too...
    {
        OtherCopy late(rt.dataPath());
        QCOMPARE(late.outcome(), QStringLiteral("in use"));
    }
    // ...until its exit.
    FORM(w, actionExit)->trigger();
    {
        OtherCopy next(rt.dataPath());
        QCOMPARE(next.outcome(), QStringLiteral("held"));
    }
}

void TestStartup::dataDirectoryInUseIsRefused()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    const QString other = rt.path() + "/elsewhere";
    QVERIFY(QDir().mkpath(other));
    rt.addEmptyRoster("ARC", other);
    DataLock otherCopy;
    QCOMPARE(otherCopy.take(other), DataLock::Held);

    rt.prompter.clear();
    rt.prompter.paths = QStringList{other};
    rt.prompter.answers = {QMessageBox::Yes};
    FORM(w, actionSet_Data_Directory)->trigger();
    QCOMPARE(rt.prompter.titles(), (QStringList{"New Trelvin Data Directory!", "Trelvin Already Running"}));
    QCOMPARE(rt.prompter.calls.at(1).kind, Prompter::Warning);
    QCOMPARE(rt.prompter.calls.at(1).text,
             inUse(other, QCoreApplication::applicationPid(), "The data directory stays\n'" + rt.dataPath() + "'."));
    QCOMPARE(w->findChild<Settings *>()->dataDir().path(), rt.dataPath());
    QCOMPARE(fileDb(w).databaseName(), rt.dataPath() + "/Contacts.db");
    QVERIFY(fileDb(w).isOpen());
    QCOMPARE(w->findChild<ErrorLog *>()->fileName(), rt.dataPath() + "/errorLog.txt");
    QVERIFY(!QFile::exists(other + "/Contacts.db"));
    // The directory in use is still this copy's.
    DataLock probe;
    QCOMPARE(probe.take(rt.dataPath()), DataLock::InUse);

    // Once free, the change goes through and the lock moves with it.
    otherCopy.release();
    rt.prompter.clear();
    rt.prompter.paths = QStringList{other};
    rt.prompter.answers = {QMessageBox::Yes};
    FORM(w, actionSet_Data_Directory)->trigger();
    QVERIFY(!rt.prompter.titles().contains("Trelvin Already Running"));
    QCOMPARE(w->findChild<Settings *>()->dataDir().path(), other);
    QCOMPARE(probe.take(other), DataLock::InUse);
    QCOMPARE(probe.take(rt.dataPath()), DataLock::Held);
}

void TestStartup::dataDirectoryWithoutErrorLogIsUsedWhole()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    const QString other = rt.path() + "/elsewhere";
    // Its error log cannot be opened: a folder has the name.
    QVERIFY(QDir().mkpath(other + "/errorLog.txt"));
    rt.addEmptyRoster("ARC", other);

    rt.prompter.clear();
    rt.prompter.paths = QStringList{other};
    rt.prompter.answers = {QMessageBox::Yes};
    FORM(w, actionSet_Data_Directory)->trigger();
    QCOMPARE(rt.prompter.titles().mid(0, 2), (QStringList{"New Trelvin Data Directory!", "Can't Open File"}));
    // The box said so; the rest of the change is made as at start-up: the
    // directory, its lock and its databases go together.
    QCOMPARE(w->findChild<Settings *>()->dataDir().path(), other);
    QCOMPARE(fileDb(w).databaseName(), other + "/Contacts.db");
    QVERIFY(fileDb(w).isOpen());
    DataLock probe;
    QCOMPARE(probe.take(rt.dataPath()), DataLock::Held);
    probe.release();
    QCOMPARE(probe.take(other), DataLock::InUse);
}

void TestStartup::unreadableLockFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("ageSecs");
    // Left empty by a power loss right after it was made.
    QTest::newRow("empty, an hour old") << QByteArray() << 3600;
    QTest::newRow("garbage, an hour old") << QByteArray("\x01\x02 not a lock\n") << 3600;
    // A copy that is making its lock holds it before it writes its name, so
    // a fresh file nobody holds is no start in progress.
    QTest::newRow("empty, just made") << QByteArray() << 0;
    QTest::newRow("garbage, just made") << QByteArray("garbage") << 0;
    // Nobody on this host can tell whether a copy there still runs.
    QTest::newRow("another host, just made") << QByteArray("4242\nTrelvin\nsome-other-shack-pc\n") << 0;
    // A live process that is not Trelvin.
    QTest::newRow("a live process of another program")
        << QByteArray(QByteArray::number(QCoreApplication::applicationPid()) + "\nnot-trelvin\n"
                      + QSysInfo::machineHostName().toUtf8() + "\n")
        << 0;
}

void TestStartup::unreadableLockFile()
{
    QFETCH(QByteArray, content);
    QFETCH(int, ageSecs);
    QTemporaryDir dir;
    QFile file(DataLock::lockFileName(dir.path()));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    QVERIFY(file.flush());
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSecs), QFileDevice::FileModificationTime));
    file.close();

    DataLock lock;
    QCOMPARE(lock.take(dir.path()), DataLock::Held);
    OtherCopy other(dir.path());
    QCOMPARE(other.outcome(), QStringLiteral("in use"));
}

void TestStartup::liveLockIsKeptWhateverItHolds()
{
    // A running copy whose lock file was garbled afterwards still holds it.
    QTemporaryDir dir;
    OtherCopy other(dir.path());
    QCOMPARE(other.outcome(), QStringLiteral("held"));
    QFile file(DataLock::lockFileName(dir.path()));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("garbage");
    file.close();
    DataLock lock;
    QCOMPARE(lock.take(dir.path()), DataLock::InUse);
    QVERIFY(QFile::exists(DataLock::lockFileName(dir.path())));
}

void TestStartup::lockPathThatIsADirectory()
{
    Runtime rt;
    rt.addEmptyRoster();
    const QString path = DataLock::lockFileName(rt.dataPath());
    QVERIFY(QDir().mkpath(path));
    Trelvin *w = rt.start();
    QVERIFY(w);
    const QString text = "'" + path
                         + "'\nis not a file, so Trelvin cannot mark the data directory as in use, "
                           "and a second copy of Trelvin would not be stopped.\n\nRemove '"
                         + path
                         + "' (after checking that nothing in it is needed); Trelvin makes its lock file at the "
                           "next start.\n\nThis copy goes on without the lock.";
    bool shown = false;
    for (const ScriptedPrompter::Call &call : rt.prompter.calls) {
        if (call.title == QLatin1String("Trelvin Lock File Blocked")) {
            QCOMPARE(call.text, text);
            shown = true;
        }
    }
    QVERIFY2(shown, qPrintable(rt.prompter.titles().join(", ")));
    QVERIFY(!rt.prompter.titles().contains("Trelvin Already Running"));
    QVERIFY(rt.prompter.exits.isEmpty());
    QVERIFY(rt.readData("errorLog.txt").contains("is not a file: the data directory is not locked"));
    // Once it is gone the next start locks as usual.
    rt.stop();
    QVERIFY(QDir(path).removeRecursively());
    rt.prompter.clear();
    rt.start();
    QVERIFY(!rt.prompter.titles().contains("Trelvin Lock File Blocked"));
    QVERIFY(QFileInfo(path).isFile());
}

void TestStartup::closeRunsExitSequence()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    w->show();
    QVERIFY(w->close());
    QVERIFY(!fileDb(w).isOpen());
    QVERIFY(!memoryDb(w).isOpen());
    QSettings settings(rt.settingsFile(), QSettings::IniFormat);
    QCOMPARE(settings.value("Main/Exist").toString(), QStringLiteral("Yes"));
    QCOMPARE(settings.value("Station/Exist").toString(), QStringLiteral("Yes"));
}

void TestStartup::fileExitRunsExitSequenceOnce()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    rt.addEmptyRoster();
    Trelvin *w = rt.start();
    w->show();
    rt.prompter.clear();
    // File > Exit ends the event loop, which closes the window once more.
    QTimer::singleShot(0, FORM(w, actionExit), &QAction::trigger);
    QCoreApplication::exec();
    QCOMPARE(rt.prompter.titles(), QStringList());
    QVERIFY2(!rt.readData("errorLog.txt").contains("Could not be Opened"), qPrintable(rt.readData("errorLog.txt")));
    QCOMPARE(rt.readData("Roster-ARC.csv").count('\n'), 1);
}

void TestStartup::statusTipsFilter()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    w->show();

    QStatusTipEvent tip(QStringLiteral("a tip"));
    QApplication::sendEvent(FORM(w, search), &tip);
    QCOMPARE(FORM(w, statusbar)->currentMessage(), QStringLiteral("a tip"));

    FORM(w, statusbar)->clearMessage();
    FORM(w, actionStatusTips)->setChecked(false);
    QVERIFY(!w->findChild<Settings *>()->statusTipsShown());
    QStatusTipEvent hidden(QStringLiteral("hidden tip"));
    QApplication::sendEvent(FORM(w, search), &hidden);
    QCOMPARE(FORM(w, statusbar)->currentMessage(), QString());

    FORM(w, actionStatusTips)->setChecked(true);
    QStatusTipEvent again(QStringLiteral("back again"));
    QApplication::sendEvent(FORM(w, call), &again);
    QCOMPARE(FORM(w, statusbar)->currentMessage(), QStringLiteral("back again"));
}

void TestStartup::clockShowsLocalTime()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    QCOMPARE(w->findChild<QTimer *>(QStringLiteral("clockTimer"))->interval(), 1000);
    QVERIFY(w->findChild<QTimer *>(QStringLiteral("clockTimer"))->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(FORM(w, time)->text() != QStringLiteral("23:59:59")
                                 || QTime::currentTime().toString("hh:mm:ss") == "23:59:59",
                             3000);
    const QTime shown = QTime::fromString(FORM(w, time)->text(), "hh:mm:ss");
    QVERIFY(shown.isValid());
    QVERIFY(qAbs(shown.secsTo(QTime::currentTime())) <= 2);
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], HoldArgument) == 0)
        return holdDataDirectory(argc, argv);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestStartup test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
