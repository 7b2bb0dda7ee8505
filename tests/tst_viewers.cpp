#include "testsupport.h"

#include "reports/seelogs.h"
#include "viewer/seefile.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>

#include <functional>

namespace {

// The seven documents by name: the operation and the file it reads.
struct Document {
    std::function<int(SeeFile &, const QDir &)> open;
    QString file;
};

QMap<QString, Document> documents()
{
    return {
        {"licence", {[](SeeFile &v, const QDir &d) { return v.showLicense(d); }, "COPYING"}},
        {"error log", {[](SeeFile &v, const QDir &d) { return v.showErrorLog(d); }, "errorLog.txt"}},
        {"change log", {[](SeeFile &v, const QDir &d) { return v.showChangeLog(d); }, "CHANGELOG.txt"}},
        {"preamble", {[](SeeFile &v, const QDir &d) { return v.showPreamble(d, "ARC"); }, "PREAMBLE-ARC.txt"}},
        {"environment", {[](SeeFile &v, const QDir &d) { return v.showEnvironment(d); }, "ENVIRONMENT_WINDOWS.txt"}},
        {"read-me", {[](SeeFile &v, const QDir &d) { return v.displayReadme(d); }, "README.txt"}},
        {"shortcuts", {[](SeeFile &v, const QDir &d) { return v.showShortcuts(d); }, "SHORTCUTS.txt"}},
    };
}

const QString ReadmeClosing = QStringLiteral(
    "For source code, please email trelvin-maintainer@example.org with your name and contact information. "
    "Also, include the program name and platform operating system you intend to use for your development "
    "so that I can send the appropriate code.\n");

QTextEdit *textOf(SeeFile &viewer)
{
    return viewer.findChild<QTextEdit *>("text");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QSettings store()
{
    return {QSettings::IniFormat, QSettings::UserScope, "Quenlor", "Trelvin"};
}

} // namespace

class TestViewers : public QObject
{
    Q_OBJECT

    QTemporaryDir settingsDir;
    QTemporaryDir files;
    ScriptedPrompter prompter;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(settingsDir.isValid() && files.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        Prompter::setInstance(&prompter);
    }

    void cleanupTestCase() { Prompter::setInstance(nullptr); }

    void init()
    {
        store().clear();
        prompter.clear();
        QDir dir(files.path());
        for (const QString &name : dir.entryList(QDir::Files))
            dir.remove(name);
    }

    void reportSettingsRoundTrip()
    {
        SeeLogs first;
        first.readSettings("ConLog");
        QCOMPARE(first.visibleFlag, QStringLiteral("No"));
        QCOMPARE(first.size(), QSize(1240, 627));

        first.resize(800, 400);
        first.move(30, 40);
        first.writeSettings("ConLog", "Normal", true);
        QCOMPARE(first.visibleFlag, QStringLiteral("Yes"));
        QCOMPARE(store().value("ConLog/Content").toString(), QStringLiteral("Normal"));

        SeeLogs second;
        second.readSettings("ConLog");
        QCOMPARE(second.visibleFlag, QStringLiteral("Yes"));
        QCOMPARE(second.size(), QSize(800, 400));
        QCOMPARE(second.pos(), QPoint(30, 40));
        QVERIFY(!second.isVisible());

        first.writeSettings("ConLog", "Normal", false);
        second.readSettings("ConLog");
        QCOMPARE(second.visibleFlag, QStringLiteral("No"));
    }

    void headerFollowsLog()
    {
        SeeLogs window;
        auto *header = window.findChild<QPlainTextEdit *>("header");
        auto *log = window.findChild<QPlainTextEdit *>("log");
        const QString wide(400, QLatin1Char('x'));
        header->setPlainText(wide);
        log->setPlainText(wide + "\n" + wide);
        window.resize(400, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QScrollBar *logBar = log->horizontalScrollBar();
        QScrollBar *headerBar = header->horizontalScrollBar();
        QVERIFY(logBar->maximum() > 100 && headerBar->maximum() > 100);
        QVERIFY(!headerBar->isVisible());

        // A drag of the report's scroll bar.
        logBar->setSliderDown(true);
        logBar->setSliderPosition(100);
        logBar->setSliderPosition(120);
        logBar->setSliderDown(false);
        QCOMPARE(logBar->value(), 120);
        QCOMPARE(headerBar->value(), 120);
    }

    void escapeLeavesWindowsOpen()
    {
        SeeLogs report;
        SeeFile viewer;
        for (QDialog *window : {static_cast<QDialog *>(&report), static_cast<QDialog *>(&viewer)}) {
            QSignalSpy escape(window, SIGNAL(escapeSig()));
            window->show();
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window));
            QTest::keyClick(window, Qt::Key_Escape);
            QCOMPARE(escape.count(), 1);
            QVERIFY(window->isVisible());
            window->hide();
        }
    }

    void viewerSettingsRoundTrip()
    {
        SeeFile fresh;
        fresh.readSettings("About");
        QCOMPARE(fresh.content, QStringLiteral("Normal"));
        QCOMPARE(fresh.size(), QSize(519, 618));

        fresh.resize(600, 500);
        fresh.writeSettings("About", "ErrorLog", true);
        SeeFile again;
        again.readSettings("About");
        QCOMPARE(again.visibleFlag, QStringLiteral("Yes"));
        QCOMPARE(again.content, QStringLiteral("ErrorLog"));
        QCOMPARE(again.size(), QSize(600, 500));
    }

    void missingDocument_data()
    {
        QTest::addColumn<QString>("document");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");      // %1 is the directory
        QTest::addColumn<QString>("errorText"); // empty: nothing for the error log
        QTest::addColumn<bool>("keepsOldText");

        const int critical = Prompter::Critical;
        const int warning = Prompter::Warning;
        QTest::newRow("preamble") << "preamble" << critical
            << "File '%1/PREAMBLE-ARC.txt' not Found.\nYou need to create this file and put it in the\n'%1' subdirectory."
            << "File '%1/PREAMBLE-ARC.txt' Could not be Opened." << true;
        QTest::newRow("licence") << "licence" << critical
            << "File 'COPYING' not Found.\nThis file should be in your %1 directory."
            << "File '%1/COPYING' Could not be Opened." << true;
        QTest::newRow("change log") << "change log" << critical << "File '%1/CHANGELOG.txt' not Found.\n"
            << "File '%1/CHANGELOG.txt' Could not be Opened." << false;
        QTest::newRow("environment") << "environment" << warning << "File '%1/ENVIRONMENT_WINDOWS.txt' not Found.\n"
            << "File '%1/ENVIRONMENT_WINDOWS.txt' Could not be Opened." << true;
        QTest::newRow("read-me") << "read-me" << warning << "File '%1/README.txt' not Found.\n"
            << "File '%1/README.txt' Could not be Opened." << true;
        QTest::newRow("shortcuts") << "shortcuts" << warning << "File '%1/SHORTCUTS.txt' not Found.\n"
            << "File '%1/SHORTCUTS.txt' Could not be Opened." << false;
        QTest::newRow("error log") << "error log" << critical << "File '%1/errorLog.txt' not Found.\n"
            << "" << true;
    }

    void missingDocument()
    {
        QFETCH(QString, document);
        QFETCH(int, kind);
        QFETCH(QString, text);
        QFETCH(QString, errorText);
        QFETCH(bool, keepsOldText);

        const QDir dir(files.path() + "/nowhere");
        SeeFile viewer;
        textOf(viewer)->setPlainText("shown before");
        QSignalSpy error(&viewer, &SeeFile::errorSig);

        QCOMPARE(documents().value(document).open(viewer, dir), 0);

        QCOMPARE(prompter.calls.size(), 1);
        const ScriptedPrompter::Call &box = prompter.calls.first();
        QCOMPARE(int(box.kind), kind);
        QCOMPARE(box.title, QStringLiteral("File not Found"));
        QCOMPARE(box.text, text.arg(dir.path()));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

        QCOMPARE(error.count(), errorText.isEmpty() ? 0 : 1);
        if (!errorText.isEmpty())
            QCOMPARE(viewer.errorText, errorText.arg(dir.path()));
        QCOMPARE(textOf(viewer)->toPlainText(), keepsOldText ? QStringLiteral("shown before") : QString());
        QVERIFY(!viewer.isVisible());
    }

    void loadsDocument_data()
    {
        QTest::addColumn<QString>("document");
        for (const QString &name : documents().keys())
            QTest::newRow(qPrintable(name)) << name;
    }

    void loadsDocument()
    {
        QFETCH(QString, document);
        const Document doc = documents().value(document);
        // A line that looks like markup must be shown as written.
        const QString lines = QStringLiteral("first line\n<b>second</b> & more\n\nlast line");
        QVERIFY(writeFile(files.path() + "/" + doc.file, lines.toUtf8() + "\n"));

        SeeFile viewer;
        textOf(viewer)->setPlainText("shown before");
        QSignalSpy error(&viewer, &SeeFile::errorSig);
        QCOMPARE(doc.open(viewer, QDir(files.path())), 1);
        QVERIFY(prompter.calls.isEmpty());
        QCOMPARE(error.count(), 0);
        QVERIFY(!viewer.isVisible());

        const QString shown = textOf(viewer)->toPlainText();
        if (document == QLatin1String("environment"))
            QVERIFY2(shown.startsWith("Program and Development Software Versions\n") && shown.endsWith(lines),
                     qPrintable(shown));
        else if (document == QLatin1String("read-me"))
            QCOMPARE(shown, lines + "\n" + ReadmeClosing);
        else
            QCOMPARE(shown, lines);
        if (document != QLatin1String("error log"))
            QCOMPARE(textOf(viewer)->textCursor().position(), 0);
    }

    void environmentHeaderOnEmptyFile()
    {
        QVERIFY(writeFile(files.path() + "/ENVIRONMENT_WINDOWS.txt", ""));
        SeeFile viewer;
        QCOMPARE(viewer.showEnvironment(QDir(files.path())), 1);

        const QStringList lines = textOf(viewer)->toPlainText().split('\n');
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QStringLiteral("Program and Development Software Versions"));
        QCOMPARE(lines[1], QStringLiteral("  Trelvin Version:   " TRELVIN_VERSION));
        QCOMPARE(lines[2], QStringLiteral("  Qt Build Version: " QT_VERSION_STR));
        const QString bits = QStringLiteral(" %1-bit").arg(QT_POINTER_SIZE * 8);
        QVERIFY2(lines[3].startsWith("  Compiler Version: ") && lines[3].endsWith(bits), qPrintable(lines[3]));
        QVERIFY(lines[3].size() > QStringLiteral("  Compiler Version: ").size() + bits.size());
        QCOMPARE(lines[4], QString());
    }

    void readmeEndsWithSourceParagraphWhenEmpty()
    {
        QVERIFY(writeFile(files.path() + "/README.txt", ""));
        SeeFile viewer;
        QCOMPARE(viewer.displayReadme(QDir(files.path())), 1);
        QCOMPARE(textOf(viewer)->toPlainText(), ReadmeClosing);
    }

    void errorLogOpensAtLastLine()
    {
        // Far more lines than any font fits in the window, so the view must scroll.
        QByteArray log;
        for (int i = 1; i <= 400; ++i)
            log += "01/02/2024 10:00:00 error number " + QByteArray::number(i) + "\n";
        QVERIFY(writeFile(files.path() + "/errorLog.txt", log));

        SeeFile viewer;
        viewer.show();
        QCOMPARE(viewer.showErrorLog(QDir(files.path())), 1);
        QTextEdit *text = textOf(viewer);
        const QTextCursor cursor = text->textCursor();
        QCOMPARE(cursor.block().text(), QStringLiteral("01/02/2024 10:00:00 error number 400"));
        QCOMPARE(cursor.positionInBlock(), 0);
        // What the operator sees: the last line is inside the view.
        QVERIFY(text->verticalScrollBar()->maximum() > 0);
        QVERIFY(text->viewport()->rect().contains(text->cursorRect(cursor)));
    }

    void justifyDigit_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("justified");

        QTest::newRow("one-letter prefix") << "W1AW" << " W1AW";
        QTest::newRow("two-letter prefix") << "KD7ABC" << "KD7ABC";
        QTest::newRow("digit first") << "2E0ABC" << "2E0ABC";
        QTest::newRow("non-ASCII digit") << QString("K") + QChar(0x0663) + "X" << QString(" K") + QChar(0x0663) + "X";
        QTest::newRow("one character") << "K" << "K";
        QTest::newRow("empty") << "" << "";
    }

    void justifyDigit()
    {
        QFETCH(QString, call);
        QFETCH(QString, justified);
        SeeFile viewer;
        QCOMPARE(viewer.justifyDigit(call), justified);
    }
};

QTEST_MAIN(TestViewers)
#include "tst_viewers.moc"
