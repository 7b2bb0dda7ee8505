#include "viewer/seefile.h"
#include "ui_seefile.h"

#include "app/constants.h"
#include "app/prompter.h"
#include "app/windowsettings.h"
#include "checkin/textrules.h"

#include <QFile>
#include <QKeySequence>
#include <QScrollBar>
#include <QShortcut>
#include <QTextCursor>
#include <QTextStream>

#ifndef TRELVIN_VERSION
#error "TRELVIN_VERSION must be defined by the build"
#endif

namespace {

const QString NotFoundTitle = QStringLiteral("File not Found");
const QString MaintainerAddress = QStringLiteral("trelvin-maintainer@example.org");

QString compilerVersion()
{
#if defined(__clang__)
    return QStringLiteral("Clang " __clang_version__);
#elif defined(__GNUC__)
    return QStringLiteral("GCC " __VERSION__);
#elif defined(_MSC_FULL_VER)
    return QStringLiteral("MSVC ") + QString::number(_MSC_FULL_VER);
#else
    return QStringLiteral("unknown compiler");
#endif
}

QString notOpened(const QString &fileName)
{
    return QStringLiteral("File '") + fileName + QStringLiteral("' Could not be Opened.");
}

QString notFound(const QString &fileName)
{
    return QStringLiteral("File '") + fileName + QStringLiteral("' not Found.\n");
}

} // namespace

SeeFile::SeeFile(QWidget *parent) : QDialog(parent), ui(new Ui::SeeFile)
{
    ui->setupUi(this);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &SeeFile::toMainWindow);
    // Only the operator's own scrolling decides whether the error log view
    // follows new lines. The layout settles later than the load (window size,
    // font), and every change of it moves the end along.
    QScrollBar *bar = ui->text->verticalScrollBar();
    connect(bar, &QAbstractSlider::actionTriggered, this,
            [this, bar] { logAtEnd = bar->sliderPosition() >= bar->maximum(); });
    connect(bar, &QAbstractSlider::rangeChanged, this, [this, bar] {
        if (logAtEnd && !logName.isEmpty())
            bar->setValue(bar->maximum());
    });
}

SeeFile::~SeeFile()
{
    delete ui;
}

void SeeFile::writeSettings(QString group, QString contentId, bool visible)
{
    openAtExit = WindowSettings::save(*this, group, visible, contentId) == QLatin1String(Trel::Yes);
}

void SeeFile::readSettings(QString group)
{
    const WindowSettings::Stored stored = WindowSettings::restore(*this, group, QLatin1String(Trel::Normal));
    openAtExit = stored.visible == QLatin1String(Trel::Yes);
    content = stored.content;
}

void SeeFile::toMainWindow()
{
    emit escapeSig();
}

QString SeeFile::justifyDigit(QString call)
{
    return ::justifyDigit(call);
}

// Documents are plain text: a line that happens to look like markup must be
// shown as written, so the text goes in as a new paragraph, never as HTML.
void SeeFile::appendParagraph(const QString &line)
{
    const QTextCursor view = ui->text->textCursor();
    QTextCursor tail(ui->text->document());
    tail.movePosition(QTextCursor::End);
    if (ui->text->document()->isEmpty())
        tail.setCharFormat(view.charFormat());
    else
        tail.insertBlock(view.blockFormat(), view.charFormat());
    tail.insertText(line);
}

void SeeFile::appendFile(QFile &file)
{
    logName.clear();
    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line))
        appendParagraph(line);
    file.close();
}

void SeeFile::cursorToStart()
{
    QTextCursor cursor = ui->text->textCursor();
    cursor.movePosition(QTextCursor::Start);
    ui->text->setTextCursor(cursor);
}

void SeeFile::reportMissing(bool critical, const QString &text)
{
    Prompter::instance()->message(critical ? Prompter::Critical : Prompter::Warning, NotFoundTitle, text,
                                  QMessageBox::Ok);
}

int SeeFile::loadDocument(const Document &document)
{
    if (document.wrap)
        ui->text->setLineWrapMode(QTextEdit::WidgetWidth);
    if (document.plainFormat)
        ui->text->setCurrentCharFormat(format);
    if (document.clearFirst)
        ui->text->clear();
    QFile file(document.fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        reportMissing(document.critical, document.missingText);
        emit errorSig(notOpened(document.fileName));
        return 0;
    }
    ui->text->clear();
    for (const QString &line : document.header)
        appendParagraph(line);
    appendFile(file);
    if (!document.footer.isEmpty())
        appendParagraph(document.footer);
    cursorToStart();
    return 1;
}

int SeeFile::showLicense(QDir pDir)
{
    Document licence;
    licence.fileName = pDir.path() + QStringLiteral("/COPYING");
    licence.missingText = QStringLiteral("File 'COPYING' not Found.\nThis file should be in your ") + pDir.path()
                          + QStringLiteral(" directory.");
    return loadDocument(licence);
}

int SeeFile::showErrorLog(QDir dDir)
{
    ui->text->setLineWrapMode(QTextEdit::WidgetWidth);
    QFile file(dDir.path() + QStringLiteral("/errorLog.txt"));
    if (!file.open(QIODevice::ReadOnly)) {
        // Not passed on to the error log: that would write into the very file
        // that is missing.
        reportMissing(true, notFound(file.fileName()));
        return 0;
    }
    // A log can grow to hundreds of MB; the newest lines are what is looked for.
    const qint64 size = file.size();
    QByteArray bytes;
    QString notice;
    if (size > ErrorLogTail) {
        // One byte more, to see whether the tail begins a line.
        file.seek(size - ErrorLogTail - 1);
        bytes = file.read(ErrorLogTail + 1);
        qsizetype start = bytes.indexOf('\n') + 1;
        if (start == 0 || start == bytes.size()) {
            // The last line alone outgrows the tail: start at a character.
            start = 1;
            while (start < bytes.size() && (uchar(bytes.at(start)) & 0xC0) == 0x80)
                ++start;
        }
        bytes.remove(0, start);
        notice = QStringLiteral("[Older lines are not shown: this is the end of a %1 MB log. The whole log is '%2'.]")
                     .arg(QString::number(double(size) / (1024 * 1024), 'f', 1), file.fileName());
    } else {
        bytes = file.readAll();
    }
    file.close();

    logDir = dDir;
    logName = file.fileName();
    logBytesShown = 0;
    logShowsLine = !notice.isEmpty();
    logLineOpen = false;
    logLineLength = 0;
    // In one piece: a paragraph at a time took minutes for a large log.
    ui->text->setPlainText(notice + logText(bytes));
    showLogEnd();
    return 1;
}

void SeeFile::appendErrorLog(const QByteArray &written)
{
    // A view that has grown far past the tail is read again from the end of
    // the file, so that a long run with the log open stays light.
    if (logBytesShown + written.size() > 2 * ErrorLogTail) {
        showErrorLog(logDir);
        return;
    }
    const QTextCursor view = ui->text->textCursor();
    QTextCursor tail(ui->text->document());
    tail.movePosition(QTextCursor::End);
    tail.setCharFormat(view.charFormat());
    tail.insertText(logText(written));
}

// The bytes of the log as the view shows them, to go after what it shows
// already: lines split as a line reader splits them, a line without its end
// continued by the next bytes, and each line cut at the limit.
QString SeeFile::logText(const QByteArray &bytes)
{
    logBytesShown += bytes.size();
    QString text = QString::fromUtf8(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    // A lone CR would start a paragraph in the view; count it as a line end.
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    QString shown;
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), from);
        const bool finished = end >= 0;
        if (!finished)
            end = text.size();
        if (!logLineOpen) {
            if (logShowsLine)
                shown += QLatin1Char('\n');
            logLineLength = 0;
        }
        const qsizetype length = end - from;
        const qsizetype room = ErrorLogLineLimit - logLineLength;
        if (room > 0)
            shown += QStringView(text).mid(from, qMin(room, length));
        if (room >= 0 && length > room)
            shown += QStringLiteral(" [... cut: the line is longer than %1 characters]").arg(ErrorLogLineLimit);
        logLineLength += length;
        logShowsLine = true;
        logLineOpen = !finished;
        from = end + 1;
    }
    return shown;
}

// Newest entries are at the bottom; keep them in view, down to the end of a
// last line that wraps.
void SeeFile::showLogEnd()
{
    QTextCursor cursor = ui->text->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::StartOfBlock);
    ui->text->setTextCursor(cursor);
    ui->text->ensureCursorVisible();
    QScrollBar *bar = ui->text->verticalScrollBar();
    bar->setValue(bar->maximum());
    logAtEnd = true;
}

int SeeFile::showChangeLog(QDir pDir)
{
    Document changeLog;
    changeLog.fileName = pDir.path() + QStringLiteral("/CHANGELOG.txt");
    changeLog.missingText = notFound(changeLog.fileName);
    changeLog.clearFirst = true;
    return loadDocument(changeLog);
}

int SeeFile::showPreamble(QDir dDir, QString clubName)
{
    Document preamble;
    preamble.fileName = dDir.path() + QStringLiteral("/PREAMBLE-") + clubName + QStringLiteral(".txt");
    preamble.missingText = QStringLiteral("File '") + preamble.fileName
                           + QStringLiteral("' not Found.\nYou need to create this file and put it in the\n'")
                           + dDir.path() + QStringLiteral("' subdirectory.");
    preamble.wrap = false;
    return loadDocument(preamble);
}

int SeeFile::showEnvironment(QDir pDir)
{
    Document environment;
    environment.fileName = pDir.path() + QStringLiteral("/ENVIRONMENT_WINDOWS.txt");
    environment.critical = false;
    environment.missingText = notFound(environment.fileName);
    environment.plainFormat = true;
    environment.header = {
        QStringLiteral("Program and Development Software Versions"),
        QStringLiteral("  Trelvin Version:   " TRELVIN_VERSION),
        QStringLiteral("  Qt Build Version: " QT_VERSION_STR),
        QStringLiteral("  Compiler Version: ") + compilerVersion() + QLatin1Char(' ')
            + QString::number(QT_POINTER_SIZE * 8) + QStringLiteral("-bit\n"),
    };
    return loadDocument(environment);
}

int SeeFile::displayReadme(QDir pDir)
{
    Document readme;
    readme.fileName = pDir.path() + QStringLiteral("/README.txt");
    readme.critical = false;
    readme.missingText = notFound(readme.fileName);
    readme.plainFormat = true;
    readme.footer = QStringLiteral("For source code, please email ") + MaintainerAddress
                    + QStringLiteral(" with your name and contact information. Also, include the program name and "
                                     "platform operating system you intend to use for your development so that I "
                                     "can send the appropriate code.\n");
    return loadDocument(readme);
}

int SeeFile::showShortcuts(QDir pDir)
{
    Document shortcuts;
    shortcuts.fileName = pDir.path() + QStringLiteral("/SHORTCUTS.txt");
    shortcuts.critical = false;
    shortcuts.missingText = notFound(shortcuts.fileName);
    shortcuts.plainFormat = true;
    shortcuts.clearFirst = true;
    return loadDocument(shortcuts);
}

QTextEdit *SeeFile::textView() const
{
    return ui->text;
}
