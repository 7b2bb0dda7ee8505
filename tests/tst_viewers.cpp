#include "testsupport.h"

#include "app/errorlog.h"
#include "app/trelvin.h"
#include "reports/seelogs.h"
#include "ui_trelvin.h"
#include "viewer/documentscontroller.h"
#include "viewer/seefile.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
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

// Pads the last line of `log` until the byte where its last `tail` bytes
// begin lies inside a multi-byte character, so that a cut by byte count
// alone would split one. Returns the padding.
QByteArray alignCutInsideCharacter(QByteArray &log, qint64 tail)
{
    QByteArray padding;
    while ((uchar(log.at(log.size() - tail)) & 0xC0) != 0x80) {
        log.insert(log.size() - 1, '#');
        padding += '#';
    }
    return padding;
}

QString tailNotice(const QString &path, qint64 size)
{
    return QStringLiteral("[Older lines are not shown: this is the end of a %1 MB log. The whole log is '%2'.]")
        .arg(QString::number(double(size) / (1024 * 1024), 'f', 1), path);
}

} // namespace

class TestViewers : public QObject {
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
        // A Runtime of an earlier test points both elsewhere when it ends.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        Prompter::setInstance(&prompter);
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
        QVERIFY(!first.openAtExit);
        QCOMPARE(first.size(), QSize(1240, 627));

        first.resize(800, 400);
        first.move(30, 40);
        first.writeSettings("ConLog", "Normal", true);
        QVERIFY(first.openAtExit);
        QCOMPARE(store().value("ConLog/Content").toString(), QStringLiteral("Normal"));

        SeeLogs second;
        second.readSettings("ConLog");
        QVERIFY(second.openAtExit);
        QCOMPARE(second.size(), QSize(800, 400));
        QCOMPARE(second.pos(), QPoint(30, 40));
        QVERIFY(!second.isVisible());

        first.writeSettings("ConLog", "Normal", false);
        second.readSettings("ConLog");
        QVERIFY(!second.openAtExit);
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
        QVERIFY(again.openAtExit);
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
                                  << "File '%1/PREAMBLE-ARC.txt' not Found.\nYou need to create this file and put it "
                                     "in the\n'%1' subdirectory."
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
            QCOMPARE(error.first().first().toString(), errorText.arg(dir.path()));
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

    void errorLogViewFollowsWrites()
    {
        Runtime rt;
        QVERIFY(rt.installInfo("State_Info.csv"));
        rt.addEmptyRoster();
        Trelvin *w = rt.start();
        {
            // A last line without its end, as an abnormal end of the program leaves it.
            QFile log(rt.dataPath() + "/errorLog.txt");
            QVERIFY(log.open(QIODevice::Append));
            log.write("cut short ");
        }
        FORM(w, actionShow_Error_Log)->trigger();
        QVERIFY(documentsOf(w)->documentWindow()->isVisible());
        QTextEdit *text = textOf(*documentsOf(w)->documentWindow());
        int removed = 0;
        connect(text->document(), &QTextDocument::contentsChange, this,
                [&removed](int, int charsRemoved, int) { removed += charsRemoved; });

        // A load that skips many lines.
        for (int i = 1; i <= 2000; ++i)
            w->findChild<ErrorLog *>()->write(QStringLiteral("Line %1 of 'net.csv' skipped: <b>Zoë</b> & more").arg(i));
        // The view grew at its end; it was never read again.
        QCOMPARE(removed, 0);
        const QTextCursor last(text->document()->lastBlock());
        QVERIFY(last.block().text().endsWith("Line 2000 of 'net.csv' skipped: <b>Zoë</b> & more"));
        QVERIFY(text->viewport()->rect().contains(text->cursorRect(last)));

        // An operator reading older lines is left there.
        QScrollBar *bar = text->verticalScrollBar();
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        QCOMPARE(bar->value(), 0);
        w->findChild<ErrorLog *>()->write("one more");
        QCOMPARE(bar->value(), 0);

        // Exactly what opening the log again shows.
        const QString followed = text->toPlainText();
        QVERIFY(followed.endsWith(" one more"));
        FORM(w, actionShow_Error_Log)->trigger();
        QCOMPARE(text->toPlainText(), followed);
    }

    void errorLogShownAfterLoadingEndsAtLastLine()
    {
        // Long lines wrap more in the narrower window the viewer gets on show.
        QByteArray log;
        for (int i = 1; i <= 300; ++i)
            log += "01/02/2024 10:00:00 error number " + QByteArray::number(i) + " "
                   + QByteArray(200, 'x').replace("xxxx", "xxx ") + "\n";
        QVERIFY(writeFile(files.path() + "/errorLog.txt", log));

        SeeFile viewer;
        QCOMPARE(viewer.showErrorLog(QDir(files.path())), 1);
        viewer.resize(260, 300);
        viewer.show();
        QTextEdit *text = textOf(viewer);
        const QTextCursor cursor = text->textCursor();
        QVERIFY(cursor.block().text().startsWith(QStringLiteral("01/02/2024 10:00:00 error number 300 ")));
        // Once the layout has settled.
        QTRY_VERIFY(text->viewport()->rect().contains(text->cursorRect(cursor))
                    && text->verticalScrollBar()->value() == text->verticalScrollBar()->maximum());
    }

    void largeErrorLogOpensAtItsEnd()
    {
        const qint64 tail = SeeFile::ErrorLogTail;
        QList<QByteArray> lines;
        QByteArray log;
        for (int i = 0; log.size() < 20 * 1024 * 1024; ++i) {
            lines.append("01/02/2024 10:00:00 Line " + QByteArray::number(i)
                         + " of 'São Paulo.csv' skipped: " + QByteArray(i % 7, '-') + " \xe2\x9c\x93 Zoë");
            log += lines.last() + '\n';
        }
        lines.last() += alignCutInsideCharacter(log, tail);
        const QString path = files.path() + "/errorLog.txt";
        QVERIFY(writeFile(path, log));

        SeeFile viewer;
        viewer.show();
        QCOMPARE(viewer.showErrorLog(QDir(files.path())), 1);
        QTextEdit *text = textOf(viewer);
        const QString shown = text->toPlainText();
        const qsizetype noticeEnd = shown.indexOf('\n');
        QCOMPARE(shown.left(noticeEnd), tailNotice(path, log.size()));

        // The newest whole lines, as many as the tail holds.
        QByteArray expected;
        qsizetype first = lines.size();
        while (first > 0 && expected.size() + lines.at(first - 1).size() + 1 <= tail)
            expected.prepend(lines.at(--first) + '\n');
        QVERIFY(first > 0);
        expected.chop(1);
        QCOMPARE(shown.mid(noticeEnd + 1), QString::fromUtf8(expected));
        QCOMPARE(text->textCursor().block().text(), QString::fromUtf8(lines.last()));
    }

    void errorLogOfOneHugeLine()
    {
        // A last line longer than the whole tail: shown from a character
        // start, and only as far as the view can lay it out at once.
        const qint64 tail = SeeFile::ErrorLogTail;
        QByteArray huge = "01/02/2024 10:00:00 ";
        for (qint64 i = 0; i < tail; ++i)
            huge += "é";
        QByteArray log = "first line\n" + huge + '\n';
        huge += alignCutInsideCharacter(log, tail);
        const QString path = files.path() + "/errorLog.txt";
        QVERIFY(writeFile(path, log));

        SeeFile viewer;
        QCOMPARE(viewer.showErrorLog(QDir(files.path())), 1);
        const QStringList shown = textOf(viewer)->toPlainText().split('\n');
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(0), tailNotice(path, log.size()));
        QCOMPARE(shown.at(1), QString(SeeFile::ErrorLogLineLimit, QChar(0xe9))
                                  + " [... cut: the line is longer than 10000 characters]");
    }

    void errorLogViewStaysBounded()
    {
        // The file and the view take the same lines, as writeError hands them on.
        const qint64 tail = SeeFile::ErrorLogTail;
        const QString path = files.path() + "/errorLog.txt";
        QFile log(path);
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("01/02/2024 10:00:00 first\n");
        log.flush();
        SeeFile viewer;
        QCOMPARE(viewer.showErrorLog(QDir(files.path())), 1);

        QByteArray chunk;
        for (int i = 0; i < 1000; ++i)
            chunk += "01/02/2024 10:00:00 Line " + QByteArray::number(i) + " of 'São Paulo.csv' skipped ...\n";
        for (qint64 taken = 0; taken < 3 * tail; taken += chunk.size()) {
            log.write(chunk);
            log.flush();
            viewer.appendErrorLog(chunk);
        }
        log.close();

        // Started again from the file's end on the way, and never much more than twice the tail.
        const QString shown = textOf(viewer)->toPlainText();
        const qsizetype noticeEnd = shown.indexOf('\n');
        QVERIFY2(shown.left(noticeEnd).startsWith("[Older lines are not shown: "), qPrintable(shown.left(noticeEnd)));
        const QByteArray lines = shown.mid(noticeEnd + 1).toUtf8() + '\n';
        QVERIFY(lines.size() <= 2 * tail);
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray all = written.readAll();
        QVERIFY(all.endsWith(lines));
        QCOMPARE(all.at(all.size() - lines.size() - 1), '\n');
    }

    void justifyDigit_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("justified");

        QTest::newRow("one-letter prefix") << "W1AW"
                                           << " W1AW";
        QTest::newRow("two-letter prefix") << "KD7ABC"
                                           << "KD7ABC";
        QTest::newRow("digit first") << "2E0ABC"
                                     << "2E0ABC";
        QTest::newRow("non-ASCII digit") << QString("K") + QChar(0x0663) + "X" << QString(" K") + QChar(0x0663) + "X";
        QTest::newRow("one character") << "K"
                                       << "K";
        QTest::newRow("empty") << ""
                               << "";
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
