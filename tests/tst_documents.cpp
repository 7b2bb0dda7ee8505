#include "testsupport.h"

#include "app/errorlog.h"
#include "app/trelvin.h"
#include "ui_seefile.h"
#include "ui_trelvin.h"
#include "viewer/documentscontroller.h"
#include "viewer/seefile.h"

#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

// The main window's side of the document viewer: which document opens, what a
// missing one reports, and that an open document comes back at the next start.
class TestDocuments : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void documentsOpen_data();
    void documentsOpen();
    void missingDocumentReachesErrorLog();
    void missingErrorLogIsNotLogged();
    void errorLogViewFollowsNewLines();
    void documentReopensAtNextStart();
    void preambleOfTheClub();
    void guidesNameThisVersion();

private:
    std::unique_ptr<Runtime> rt;
    Trelvin *w = nullptr;
};

void TestDocuments::init()
{
    rt = std::make_unique<Runtime>();
    for (const char *name :
         {"State_Info.csv", "COPYING", "README.txt", "SHORTCUTS.txt", "CHANGELOG.txt", "ENVIRONMENT_WINDOWS.txt"})
        QVERIFY(rt->installInfo(name));
    rt->addEmptyRoster();
    w = rt->start();
    rt->prompter.clear();
}

void TestDocuments::cleanup()
{
    rt.reset();
}

void TestDocuments::documentsOpen_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("licence") << "actionLicense"
                             << "License to Use"
                             << "UseLicense"
                             << "GNU GENERAL PUBLIC LICENSE";
    QTest::newRow("read-me") << "actionGettingStartedTrelvin"
                             << "Display README File"
                             << "GetStarted"
                             << "";
    QTest::newRow("shortcuts") << "actionShortcut_Keys"
                               << "Keyboard Shortcut Keys"
                               << "Shortcuts"
                               << "";
    QTest::newRow("change log") << "actionChange_Log"
                                << "Program Change Log"
                                << "ChangeLog"
                                << "";
    QTest::newRow("environment") << "actionEnvironment"
                                 << "Hardware and Software Versions"
                                 << "Environment"
                                 << "Program and Development Software Versions";
    QTest::newRow("error log") << "actionShow_Error_Log"
                               << "Program Errors and Comments"
                               << "ErrorLog"
                               << "";
}

void TestDocuments::documentsOpen()
{
    QFETCH(QString, action);
    QFETCH(QString, title);
    QFETCH(QString, content);
    QFETCH(QString, firstLine);
    w->findChild<ErrorLog *>()->write("something to show");
    formPart<QAction *>(w, action.toLatin1().constData())->trigger();
    QVERIFY(rt->prompter.calls.isEmpty());
    QVERIFY(documentsOf(w)->documentWindow()->isVisible());
    QCOMPARE(documentsOf(w)->documentWindow()->windowTitle(), title);
    QCOMPARE(documentsOf(w)->documentWindow()->content, content);
    const QString text = documentsOf(w)->documentWindow()->textView()->toPlainText();
    QVERIFY(!text.isEmpty());
    if (!firstLine.isEmpty())
        QVERIFY2(text.trimmed().startsWith(firstLine), qPrintable(text.left(80)));
}

void TestDocuments::missingDocumentReachesErrorLog()
{
    QFile::remove(rt->infoPath() + "/COPYING");
    FORM(w, actionLicense)->trigger();
    QCOMPARE(rt->prompter.titles(), QStringList{"File not Found"});
    QCOMPARE(rt->prompter.calls.first().kind, Prompter::Critical);
    QCOMPARE(rt->prompter.calls.first().text,
             "File 'COPYING' not Found.\nThis file should be in your " + rt->infoPath() + " directory.");
    QVERIFY(!documentsOf(w)->documentWindow()->isVisible());
    QVERIFY(rt->readData("errorLog.txt").endsWith(" File '" + rt->infoPath() + "/COPYING' Could not be Opened.\n"));

    // The preamble's failure goes to the error log through its own window.
    rt->prompter.clear();
    FORM(w, actionPreamble)->trigger();
    QCOMPARE(rt->prompter.titles(), QStringList{"File not Found"});
    QVERIFY(!documentsOf(w)->scriptWindow()->isVisible());
    QVERIFY(rt->readData("errorLog.txt")
                .endsWith(" File '" + rt->dataPath() + "/PREAMBLE-ARC.txt' Could not be Opened.\n"));
}

void TestDocuments::missingErrorLogIsNotLogged()
{
    // With the log closed and gone, the failure must not write a new one.
    w->findChild<ErrorLog *>()->close();
    QFile::remove(rt->dataPath() + "/errorLog.txt");
    FORM(w, actionShow_Error_Log)->trigger();
    QCOMPARE(rt->prompter.titles(), QStringList{"File not Found"});
    QCOMPARE(rt->prompter.calls.first().text, "File '" + rt->dataPath() + "/errorLog.txt' not Found.\n");
    QVERIFY(!QFile::exists(rt->dataPath() + "/errorLog.txt"));
}

void TestDocuments::errorLogViewFollowsNewLines()
{
    FORM(w, actionShow_Error_Log)->trigger();
    QVERIFY(documentsOf(w)->documentWindow()->isVisible());
    w->findChild<ErrorLog *>()->write("a brand new problem");
    QVERIFY(documentsOf(w)->documentWindow()->textView()->toPlainText().contains("a brand new problem"));
}

void TestDocuments::documentReopensAtNextStart()
{
    FORM(w, actionShortcut_Keys)->trigger();
    FORM(w, actionExit)->trigger();
    {
        QSettings settings(rt->settingsFile(), QSettings::IniFormat);
        QCOMPARE(settings.value("About/Content").toString(), QStringLiteral("Shortcuts"));
        QCOMPARE(settings.value("About/Visible").toString(), QStringLiteral("Yes"));
    }
    w = rt->start();
    QVERIFY(documentsOf(w)->documentWindow()->isVisible());
    QCOMPARE(documentsOf(w)->documentWindow()->windowTitle(), QStringLiteral("Keyboard Shortcut Keys"));
    QCOMPARE(documentsOf(w)->documentWindow()->content, QStringLiteral("Shortcuts"));

    // Closed at exit: stays closed.
    documentsOf(w)->documentWindow()->close();
    FORM(w, actionExit)->trigger();
    w = rt->start();
    QVERIFY(!documentsOf(w)->documentWindow()->isVisible());
}

void TestDocuments::preambleOfTheClub()
{
    QVERIFY(
        QFile::copy(QStringLiteral(TRELVIN_SOURCE_DIR "/info/PREAMBLE-ARC.txt"), rt->dataPath() + "/PREAMBLE-ARC.txt"));
    FORM(w, actionPreamble)->trigger();
    QVERIFY(rt->prompter.calls.isEmpty());
    QVERIFY(documentsOf(w)->scriptWindow()->isVisible());
    QCOMPARE(documentsOf(w)->scriptWindow()->windowTitle(), QStringLiteral("ARC Net Control Station's Script"));
    QVERIFY(!documentsOf(w)->scriptWindow()->textView()->toPlainText().isEmpty());
}

// The guide, the key list and the change log the About menu shows are
// shipped with the program: a release that changes its version without them
// shows the operator another release's documents.
void TestDocuments::guidesNameThisVersion()
{
    const auto firstLine = [](const QString &name) {
        QFile file(QStringLiteral(TRELVIN_SOURCE_DIR "/info/") + name);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed() : QString();
    };
    QCOMPARE(firstLine("README.txt"),
             QStringLiteral("TRELVIN " TRELVIN_VERSION " - NET LOGGING FOR AMATEUR RADIO CLUBS"));
    QCOMPARE(firstLine("SHORTCUTS.txt"), QStringLiteral("TRELVIN " TRELVIN_VERSION " - KEYBOARD SHORTCUT KEYS"));

    // The newest entry of the change log comes first.
    QFile log(QStringLiteral(TRELVIN_SOURCE_DIR "/info/CHANGELOG.txt"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList entries = QString::fromUtf8(log.readAll())
                                    .split(QLatin1Char('\n'))
                                    .filter(QRegularExpression(QStringLiteral("^Trelvin \\d")));
    QVERIFY(!entries.isEmpty());
    QVERIFY2(entries.first().startsWith(QStringLiteral("Trelvin " TRELVIN_VERSION " - ")), qPrintable(entries.first()));
}

QTEST_MAIN(TestDocuments)
#include "tst_documents.moc"
