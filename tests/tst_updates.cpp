#include "fakehttp.h"
#include "testsupport.h"

#include "app/trelvin.h"
#include "dialogs/station.h"
#include "ui_station.h"
#include "ui_trelvin.h"
#include "updates/updatecheck.h"

#include <QSettings>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

const QByteArray Login = "/xml/current/?username=";
const QByteArray VersionPath = "/projects/Trelvin/Trelvin-Version.txt";
#if defined(Q_OS_WIN)
const QByteArray InstallerDir = "/projects/Trelvin/Windows/";
const QString Suffix = "-Qt6.exe";
#elif defined(Q_OS_MACOS)
const QByteArray InstallerDir = "/projects/Trelvin/macOS/";
const QString Suffix = "-Qt6.dmg";
#else
const QByteArray InstallerDir = "/projects/Trelvin/Linux/";
const QString Suffix = "-Qt6.AppImage";
#endif

FakeHttp::Response answer(const QByteArray &body, int status = 200)
{
    FakeHttp::Response response;
    response.status = status;
    response.body = body;
    response.contentType = "application/octet-stream";
    return response;
}

QString downloads()
{
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Update server and QRZ service are both the fake; this station has
// credentials, so every path of the check can end with a new login.
struct Rig {
    Runtime rt;
    FakeHttp http;
    Trelvin *w = nullptr;

    explicit Rig(bool autoUpdate, bool withServer = true)
    {
        rt.installInfo("State_Info.csv");
        rt.addEmptyRoster();
        QVERIFY(http.listen());
        writeMain("QrzServer", http.base());
        writeMain("UpdateServer", withServer ? http.base() : QString());
        writeMain("AutoUpdate", autoUpdate);
        http.on(Login, answer(QrzXml::session("KEY1")));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
            db.setDatabaseName(rt.dataPath() + "/Contacts.db");
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(query.exec(
                QStringLiteral("CREATE TABLE IF NOT EXISTS station (call TEXT, passwd TEXT, state TEXT, lat TEXT, "
                               "lon TEXT, grid TEXT, utc TEXT, dst TEXT)")));
            QVERIFY(query.exec("INSERT INTO station (call, passwd, state, lat, lon, grid, utc, dst) "
                               "VALUES ('K7ABC', 'secret', 'UT', '40.7', '-111.9', 'DN40bs', '-7', 'Y')"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("seed"));
    }

    int logins() const { return int(http.requestsTo(Login).size()); }

    QStringList logLines() const
    {
        QStringList lines;
        for (const QString &line : rt.readData("errorLog.txt").split('\n', Qt::SkipEmptyParts))
            lines.append(line.mid(20));
        return lines;
    }

    // Start-up, settled: logged in, nothing asked yet.
    bool startQuiet()
    {
        w = rt.start();
        return QTest::qWaitFor([this] { return STATION(w, connectStatus)->text() == "Connected"; });
    }
};

} // namespace

class TestUpdates : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void versionOutcomes_data();
    void versionOutcomes();
    void versionRequestFails_data();
    void versionRequestFails();
    void downloadSaved();
    void failedDownload_data();
    void failedDownload();
    void downloadOnFullDisk();
    void noServerConfigured();

private:
    QTemporaryDir home;
};

void TestUpdates::initTestCase()
{
    // The download folder lives under the home directory: keep it in here.
    QVERIFY(home.isValid());
    qputenv("HOME", home.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY2(downloads().startsWith(home.path()), qPrintable(downloads()));
}

void TestUpdates::versionOutcomes_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<QString>("latest");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("retried");

    const QString upToDate = "Trelvin is Up to Date";
    const QString prerelease = "Trelvin is Prerelease";
    const QString newer = "New Trelvin Version Available!";
    // The program's own version is the one the build was made with.
    const QByteArray same = QByteArrayLiteral("Trelvin-" TRELVIN_VERSION);
    QTest::newRow("same, by hand") << same + "\n" << false << QString::fromLatin1(same) << upToDate << true;
    QTest::newRow("same, at start-up") << same + "\n" << true << QString::fromLatin1(same) << "" << true;
    QTest::newRow("older minor, higher patch")
        << QByteArray("Trelvin-2.7.10") << false << "Trelvin-2.7.10" << prerelease << true;
    QTest::newRow("older major") << QByteArray("Trelvin-1.9.9") << false << "Trelvin-1.9.9" << prerelease << true;
    QTest::newRow("two numbers") << QByteArray("Trelvin-2.7") << false << "Trelvin-2.7" << prerelease << true;
    QTest::newRow("older at start-up") << QByteArray("Trelvin-1.0.0") << true << "Trelvin-1.0.0"
                                       << "" << true;
    QTest::newRow("newer minor, at start-up")
        << QByteArray("Trelvin-2.9.0") << true << "Trelvin-2.9.0" << newer << true;
    QTest::newRow("newer major") << QByteArray("Trelvin-3.0.0") << false << "Trelvin-3.0.0" << newer << true;
    QTest::newRow("newer patch, two digits")
        << QByteArray("Trelvin-2.8.10") << false << "Trelvin-2.8.10" << newer << true;
    QTest::newRow("newer minor, two digits")
        << QByteArray("Trelvin-2.10.0") << false << "Trelvin-2.10.0" << newer << true;
    QTest::newRow("first line, trimmed") << "  " + same + " \r\nTrelvin-9.9.9\n"
                                         << false << QString::fromLatin1(same) << upToDate << true;
    QTest::newRow("other product") << QByteArray("Othername-9.9.9") << false << "Othername-9.9.9"
                                   << "" << false;
    QTest::newRow("product word in lower case") << QByteArray("trelvin-9.0.0") << true << "trelvin-9.0.0"
                                                << "" << false;
}

void TestUpdates::versionOutcomes()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, automatic);
    QFETCH(QString, latest);
    QFETCH(QString, box);
    QFETCH(bool, retried);

    Rig rig(automatic);
    rig.http.on(VersionPath, answer(file));
    rig.rt.prompter.answers = {QMessageBox::No}; // only the download question takes it
    if (automatic) {
        rig.w = rig.rt.start();
    } else {
        QVERIFY(rig.startQuiet());
        QVERIFY(rig.http.requestsTo(VersionPath).isEmpty());
        FORM(rig.w, actionCheck_for_Updates)->trigger();
    }
    Trelvin *w = rig.w;
    QTRY_COMPARE(w->findChild<UpdateCheck *>()->latestVersion(), latest);

    QCOMPARE(rig.rt.prompter.titles(), box.isEmpty() ? QStringList() : QStringList{box});
    if (box == "Trelvin is Up to Date") {
        QCOMPARE(rig.rt.prompter.calls.first().kind, Prompter::Information);
        QCOMPARE(rig.rt.prompter.calls.first().text,
                 "You are using the latest version:  " + latest + "\nThank you for keeping up to date!");
    } else if (box == "Trelvin is Prerelease") {
        QCOMPARE(rig.rt.prompter.calls.first().kind, Prompter::Information);
        QCOMPARE(rig.rt.prompter.calls.first().text,
                 QStringLiteral("You are using a prerelease version: Trelvin V" TRELVIN_VERSION
                                "\nPlease report any problems or "
                                "comments to trelvin-maintainer@example.org"));
    } else if (!box.isEmpty()) {
        const auto &question = rig.rt.prompter.calls.first();
        QCOMPARE(question.kind, Prompter::Question);
        QCOMPARE(question.text, "A new program version is available for download and installation.\nYou can "
                                "manually install the program after it is downloaded.\n\nDo you want to download "
                                "this new version?\n"
                                    + latest);
        QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question.defaultButton, QMessageBox::Yes);
    }
    // A notice ends the manual check; the question leaves it as it was.
    QCOMPARE(w->findChild<UpdateCheck *>()->manualCheckPending(),
             !automatic && (box.isEmpty() || box == "New Trelvin Version Available!"));

    // Start-up logs in once by itself; the check adds one more unless it
    // ignored the file.
    const int before = 1;
    if (retried) {
        QTRY_COMPARE(rig.logins(), before + 1);
    } else {
        QTest::qWait(150);
        QCOMPARE(rig.logins(), before);
    }
    QCOMPARE(rig.http.requestsTo(VersionPath).size(), 1);
    // Refused: nothing is fetched.
    QVERIFY(rig.http.requestsTo(InstallerDir).isEmpty());
    QTRY_VERIFY(
        w->findChild<QNetworkAccessManager *>(QStringLiteral("network"))->findChildren<QNetworkReply *>().isEmpty());
}

void TestUpdates::versionRequestFails_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("reason"); // empty: any
    QTest::newRow("not on the server") << "404"
                                       << "";
    QTest::newRow("larger than 1 MB") << "huge"
                                      << "The server's reply is larger than 1 MB; it was not read.";
    QTest::newRow("sent to another host") << "elsewhere"
                                          << "The server sent the request on to "
                                             "http://localhost:OTHER/projects/Trelvin/Trelvin-Version.txt; that "
                                             "address was not followed.";
}

void TestUpdates::versionRequestFails()
{
    QFETCH(QString, how);
    QFETCH(QString, reason);

    Rig rig(false);
    FakeHttp other;
    QVERIFY(other.listen());
    other.on("/", answer("Trelvin-9.9.9\n"));
    reason.replace("OTHER", QString::number(other.port()));
    QVERIFY(rig.startQuiet());
    FakeHttp::Response response = answer("missing", 404);
    if (how == "huge") {
        response = answer("Trelvin-9.9.9\n" + QByteArray(1024 * 1024, '#'));
    } else if (how == "elsewhere") {
        response.status = 302;
        response.location = QStringLiteral("http://localhost:%1%2").arg(other.port()).arg(VersionPath).toUtf8();
    }
    rig.http.on(VersionPath, response);
    FORM(rig.w, actionCheck_for_Updates)->trigger();
    QTRY_COMPARE(rig.rt.prompter.titles(), QStringList{"Download Failed"});
    const auto &box = rig.rt.prompter.calls.first();
    QCOMPARE(box.kind, Prompter::Critical);
    QVERIFY2(box.text.startsWith("Download of Trelvin current version number failed.\n"), qPrintable(box.text));
    QVERIFY2(box.text.size() > int(strlen("Download of Trelvin current version number failed.\n")),
             "the reason is missing");
    QVERIFY2(rig.logLines().last().startsWith("Download Version Failed: "), qPrintable(rig.logLines().last()));
    if (!reason.isEmpty()) {
        QCOMPARE(box.text, "Download of Trelvin current version number failed.\n" + reason);
        QCOMPARE(rig.logLines().last(), "Download Version Failed: " + reason);
    }
    QVERIFY(other.requests.isEmpty());
    QVERIFY(rig.w->findChild<UpdateCheck *>()->latestVersion().isEmpty());
    QTRY_COMPARE(rig.logins(), 2);
}

void TestUpdates::downloadSaved()
{
    Rig rig(false);
    QVERIFY(rig.startQuiet());
    // Larger than any QRZ or version reply may be.
    QByteArray installer;
    for (int i = 0; i < 1500000; ++i)
        installer.append(char(i * 7 % 256));
    const QString target = downloads() + "/Trelvin-2.9.0" + Suffix;
    QVERIFY(QDir().mkpath(downloads()));
    {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older download");
    }

    rig.http.on(VersionPath, answer("Trelvin-2.9.0\n"));
    FakeHttp::Response slow = answer(installer);
    slow.cuts = {1000, 100000, 1200000};
    rig.http.on(InstallerDir, slow);
    FORM(rig.w, actionCheck_for_Updates)->trigger(); // the question defaults to Yes

    QTRY_COMPARE(rig.rt.prompter.titles(),
                 (QStringList{"New Trelvin Version Available!", "Trelvin Program Downloaded"}));
    QCOMPARE(rig.http.requestsTo(InstallerDir), QList<QByteArray>{InstallerDir + "Trelvin-2.9.0" + Suffix.toUtf8()});
    const auto &done = rig.rt.prompter.calls.last();
    QCOMPARE(done.kind, Prompter::Information);
    QCOMPARE(done.text, QStringLiteral("The latest program version: Trelvin-2.9.0\n has been downloaded to your "
                                       "download folder.\nPlease install the program from your download folder."));
    QCOMPARE(readFile(target), installer);
    QCOMPARE(QDir(downloads()).entryList(QDir::Files), QStringList{"Trelvin-2.9.0" + Suffix});
    // The login is retried once the download is done, not before.
    QTRY_COMPARE(rig.logins(), 2);
    QVERIFY(rig.http.requests.lastIndexOf(rig.http.requestsTo(Login).last())
            > rig.http.requests.indexOf(rig.http.requestsTo(InstallerDir).first()));
    QVERIFY(QFile::remove(target));
}

void TestUpdates::failedDownload_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("reason"); // empty: any
    QTest::newRow("connection lost half-way") << "truncated"
                                              << "Download Failed"
                                              << "";
    QTest::newRow("not on the server") << "404"
                                       << "Download Failed"
                                       << "";
    QTest::newRow("download folder unusable") << "blocked"
                                              << "Can't Open File for Writing"
                                              << "";
    QTest::newRow("larger than 200 MB") << "huge"
                                        << "Download Failed"
                                        << "The server's reply is larger than 200 MB; it was not read.";
    QTest::newRow("sent to another host") << "elsewhere"
                                          << "Download Failed"
                                          << "The server sent the request on to http://localhost:OTHER/"
                                             "Trelvin-2.9.0; that address was not followed.";
}

void TestUpdates::failedDownload()
{
    QFETCH(QString, how);
    QFETCH(QString, title);
    QFETCH(QString, reason);

    Rig rig(false);
    FakeHttp other;
    QVERIFY(other.listen());
    other.on("/", answer(QByteArray(50000, 'y')));
    reason.replace("OTHER", QString::number(other.port()));
    QVERIFY(rig.startQuiet());
    const QString folder = downloads();
    const QString target = folder + "/Trelvin-2.9.0" + Suffix;
    QDir(folder).removeRecursively();
    QFile::remove(folder);
    if (how == "blocked") {
        // A plain file where the folder should be.
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(QDir().mkpath(folder));
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older download");
    }

    rig.http.on(VersionPath, answer("Trelvin-2.9.0"));
    FakeHttp::Response installer = answer(QByteArray(50000, 'x'), how == "404" ? 404 : 200);
    installer.truncated = how == "truncated";
    if (how == "huge") {
        // Refused on its announced length, before any of the body is kept.
        installer.announcedLength = 250LL * 1024 * 1024;
    } else if (how == "elsewhere") {
        installer.status = 302;
        installer.location = QStringLiteral("http://localhost:%1/Trelvin-2.9.0").arg(other.port()).toUtf8();
    }
    rig.http.on(InstallerDir, installer);
    FORM(rig.w, actionCheck_for_Updates)->trigger();

    QTRY_COMPARE(rig.rt.prompter.titles(), (QStringList{"New Trelvin Version Available!", title}));
    const auto &box = rig.rt.prompter.calls.last();
    QCOMPARE(box.kind, Prompter::Critical);
    if (how == "blocked") {
        QCOMPARE(box.text, "File " + target + "\nCould not be Opened for writing.\n");
        QVERIFY(QFileInfo(folder).isFile());
        QFile::remove(folder);
    } else {
        QVERIFY2(box.text.startsWith("Download of current version Trelvin failed.\n"), qPrintable(box.text));
        QVERIFY2(rig.logLines().last().startsWith("Download Trelvin Failed: "), qPrintable(rig.logLines().last()));
        if (!reason.isEmpty()) {
            QCOMPARE(box.text, "Download of current version Trelvin failed.\n" + reason);
            QCOMPARE(rig.logLines().last(), "Download Trelvin Failed: " + reason);
        }
        QVERIFY(other.requests.isEmpty());
        // Neither a partial file nor a leftover beside the earlier download.
        QCOMPARE(readFile(target), QByteArray("an older download"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"Trelvin-2.9.0" + Suffix});
        QDir(folder).removeRecursively();
    }
    QTRY_COMPARE(rig.logins(), 2);
}

void TestUpdates::downloadOnFullDisk()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a file size limit");
#else
    Rig rig(false);
    QVERIFY(rig.startQuiet());
    const QString target = downloads() + "/Trelvin-2.9.0" + Suffix;
    QVERIFY(QDir().mkpath(downloads()));
    {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older download");
    }
    rig.http.on(VersionPath, answer("Trelvin-2.9.0"));
    // Small enough to sit in the write buffer until the file is committed.
    rig.http.on(InstallerDir, answer(QByteArray(5000, 'z')));

    // No file of this process may grow past 2 kB: the disk is full for the
    // installer, while the small error log still takes its line.
    rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit full = saved;
    full.rlim_cur = 2048;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &full), 0);
    FORM(rig.w, actionCheck_for_Updates)->trigger();
    const bool answered = QTest::qWaitFor([&rig] { return rig.rt.prompter.calls.size() >= 2; });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    QVERIFY(answered);

    QCOMPARE(rig.rt.prompter.titles(), (QStringList{"New Trelvin Version Available!", "Can't Write File"}));
    QCOMPARE(rig.rt.prompter.calls.last().kind, Prompter::Critical);
    QCOMPARE(rig.rt.prompter.calls.last().text,
             QStringLiteral("File Trelvin-2.9.0\nCould not be wrtten to download folder.\n"));
    const QString line = rig.logLines().last();
    QVERIFY2(line.startsWith("Download Trelvin Failed: " + target + " could not be written: ")
                 && line.size() > int(("Download Trelvin Failed: " + target + " could not be written: ").size()),
             qPrintable(line));
    QCOMPARE(readFile(target), QByteArray("an older download"));
    QCOMPARE(QDir(downloads()).entryList(QDir::Files | QDir::Hidden), QStringList{"Trelvin-2.9.0" + Suffix});
    QDir(downloads()).removeRecursively();
    QTRY_COMPARE(rig.logins(), 2);
#endif
}

void TestUpdates::noServerConfigured()
{
    Rig rig(true, false);
    QVERIFY(rig.startQuiet());
    QTest::qWait(100);
    // Start-up asked nobody about updates, and so logged in only once.
    QCOMPARE(rig.http.requests, QList<QByteArray>{rig.http.requestsTo(Login)});
    QCOMPARE(rig.logins(), 1);
    QVERIFY(rig.rt.prompter.calls.isEmpty());

    FORM(rig.w, actionCheck_for_Updates)->trigger();
    QCOMPARE(rig.rt.prompter.titles(), QStringList{"Check for Updates"});
    QCOMPARE(rig.rt.prompter.calls.first().kind, Prompter::Information);
    QCOMPARE(rig.rt.prompter.calls.first().text, QStringLiteral("No update server is configured."));
    QVERIFY(!rig.w->findChild<UpdateCheck *>()->manualCheckPending());
    QTest::qWait(100);
    QCOMPARE(rig.logins(), 1);
    QCOMPARE(rig.http.requests.size(), 1);
}

QTEST_MAIN(TestUpdates)
#include "tst_updates.moc"
