// Where the program looks for its directories: beside the working directory,
// beside the executable, then a system-wide install with the data in the
// user's own folder, created on first start.
#include "app/folders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}
} // namespace

class TestFolders : public QObject {
    Q_OBJECT

private slots:
    void init();
    void layoutBesideWorkingDirectoryComesFirst();
    void layoutBesideExecutable();
    void systemWideInstall();
    void systemWideNeedsBinAndSharedInfo_data();
    void systemWideNeedsBinAndSharedInfo();
    void perUserDirectoryMadeOnceWithSample();
    void perUserDirectoryOnlyWhenChosen();

private:
    std::unique_ptr<QTemporaryDir> root;
    QString path(const QString &relative) const { return root->path() + "/" + relative; }
    void make(const QString &relative) const { QVERIFY(QDir().mkpath(path(relative))); }
};

void TestFolders::init()
{
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    // Staged runtime folder (a), system-wide prefix (usr), the user's data
    // location (home) and a folder with nothing in it (elsewhere).
    make("a/bin");
    make("a/Programs/Trelvin/Data");
    make("a/Programs/Trelvin/Info");
    make("b/bin");
    make("b/Programs/Trelvin/Data");
    make("usr/bin");
    make("usr/share/trelvin/Info");
    make("elsewhere/sub");
}

void TestFolders::layoutBesideWorkingDirectoryComesFirst()
{
    // As scripts/run.sh starts it, even when another layout is beside the executable.
    const Folders::Found found = Folders::find(path("a/bin"), path("b/bin"), path("home"));
    QCOMPARE(found.dataDir, path("a/Programs/Trelvin/Data"));
    QCOMPARE(found.infoDir, path("a/Programs/Trelvin/Info"));
    QVERIFY(!found.perUser);

    // A layout beside the working directory wins over a system-wide install too.
    QCOMPARE(Folders::find(path("a/bin"), path("usr/bin"), path("home")).dataDir, path("a/Programs/Trelvin/Data"));
}

void TestFolders::layoutBesideExecutable()
{
    // Started from a menu or another folder: the working directory says nothing.
    const Folders::Found found = Folders::find(path("elsewhere/sub"), path("a/bin"), path("home"));
    QCOMPARE(found.dataDir, path("a/Programs/Trelvin/Data"));
    QCOMPARE(found.infoDir, path("a/Programs/Trelvin/Info"));
    QVERIFY(!found.perUser);
}

void TestFolders::systemWideInstall()
{
    const Folders::Found found = Folders::find(path("elsewhere/sub"), path("usr/bin"), path("home/Quenlor/Trelvin"));
    QCOMPARE(found.infoDir, path("usr/share/trelvin/Info"));
    QCOMPARE(found.dataDir, path("home/Quenlor/Trelvin"));
    QVERIFY(found.perUser);
    // Finding changes nothing on disk.
    QVERIFY(!QFileInfo::exists(path("home")));
}

void TestFolders::systemWideNeedsBinAndSharedInfo_data()
{
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<QString>("userData");
    QTest::newRow("bin without share/trelvin/Info") << "b/bin"
                                                    << "home";
    QTest::newRow("shared Info but not in a bin folder") << "usr/libexec"
                                                         << "home";
    QTest::newRow("no user data location") << "usr/bin"
                                           << "";
}

void TestFolders::systemWideNeedsBinAndSharedInfo()
{
    QFETCH(QString, programDir);
    QFETCH(QString, userData);
    QVERIFY(QDir(path("b/Programs")).removeRecursively());
    make("usr/libexec");
    // Nothing fits: the layout beside the working directory, which start-up
    // then reports as missing, as it always did.
    const Folders::Found found =
        Folders::find(path("elsewhere/sub"), path(programDir), userData.isEmpty() ? QString() : path(userData));
    QCOMPARE(found.dataDir, path("elsewhere/Programs/Trelvin/Data"));
    QCOMPARE(found.infoDir, path("elsewhere/Programs/Trelvin/Info"));
    QVERIFY(!found.perUser);
}

void TestFolders::perUserDirectoryMadeOnceWithSample()
{
    QVERIFY(writeFile(path("usr/share/trelvin/Info/PREAMBLE-ARC.txt"), "sample net script\n"));
    const Folders::Found found = Folders::find(path("elsewhere"), path("usr/bin"), path("home/Quenlor/Trelvin"));

    QVERIFY(Folders::preparePerUser(found, found.dataDir));
    QCOMPARE(readFile(found.dataDir + "/PREAMBLE-ARC.txt"), QByteArray("sample net script\n"));
    QCOMPARE(QDir(found.dataDir).entryList(QDir::Files), QStringList{"PREAMBLE-ARC.txt"});

    // The operator's edits and removals survive every later start.
    QVERIFY(writeFile(found.dataDir + "/PREAMBLE-ARC.txt", "our own script\n"));
    QVERIFY(Folders::preparePerUser(found, found.dataDir));
    QCOMPARE(readFile(found.dataDir + "/PREAMBLE-ARC.txt"), QByteArray("our own script\n"));
    QVERIFY(QFile::remove(found.dataDir + "/PREAMBLE-ARC.txt"));
    QVERIFY(Folders::preparePerUser(found, found.dataDir));
    QVERIFY(!QFileInfo::exists(found.dataDir + "/PREAMBLE-ARC.txt"));

    // Without a sample to copy the directory is still made.
    QVERIFY(QFile::remove(path("usr/share/trelvin/Info/PREAMBLE-ARC.txt")));
    const Folders::Found other = Folders::find(path("elsewhere"), path("usr/bin"), path("home2/Trelvin"));
    QVERIFY(Folders::preparePerUser(other, other.dataDir));
    QVERIFY(QFileInfo(other.dataDir).isDir());
}

void TestFolders::perUserDirectoryOnlyWhenChosen()
{
    QVERIFY(writeFile(path("usr/share/trelvin/Info/PREAMBLE-ARC.txt"), "sample\n"));
    const Folders::Found perUser = Folders::find(path("elsewhere"), path("usr/bin"), path("home/Trelvin"));

    // A "DataDirectory" setting wins: neither the per-user folder nor the
    // chosen one is made, so a removed choice is still reported as missing.
    QVERIFY(Folders::preparePerUser(perUser, path("gone")));
    QVERIFY(!QFileInfo::exists(path("home")));
    QVERIFY(!QFileInfo::exists(path("gone")));

    // The staged layouts are the operator's to make.
    QVERIFY(QDir(path("a/Programs/Trelvin/Data")).removeRecursively());
    const Folders::Found staged = Folders::find(path("a/bin"), path("a/bin"), path("home/Trelvin"));
    QVERIFY(!staged.perUser);
    QVERIFY(Folders::preparePerUser(staged, staged.dataDir));
    QVERIFY(!QFileInfo::exists(staged.dataDir));

    // A place that cannot be made is reported.
    QVERIFY(writeFile(path("file"), "x"));
    Folders::Found blocked = perUser;
    blocked.dataDir = path("file/Trelvin");
    QVERIFY(!Folders::preparePerUser(blocked, blocked.dataDir));
}

QTEST_GUILESS_MAIN(TestFolders)
#include "tst_folders.moc"
