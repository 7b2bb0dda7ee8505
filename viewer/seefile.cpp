#include "viewer/seefile.h"
#include "ui_seefile.h"

#include "app/constants.h"
#include "app/prompter.h"

#include <QFile>
#include <QKeySequence>
#include <QSettings>
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

SeeFile::SeeFile(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::SeeFile)
{
    ui->setupUi(this);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated,
            this, &SeeFile::toMainWindow);
}

SeeFile::~SeeFile()
{
    delete ui;
}

void SeeFile::writeSettings(QString group, QString contentId, bool visible)
{
    visibleFlag = QLatin1String(visible ? Trel::Yes : Trel::No);
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(group);
    settings.setValue(Trel::Key::Exist, QLatin1String(Trel::Yes));
    settings.setValue(Trel::Key::Visible, visibleFlag);
    settings.setValue(Trel::Key::Content, contentId);
    settings.setValue(Trel::Key::Size, size());
    settings.setValue(Trel::Key::Position, pos());
    settings.endGroup();
}

void SeeFile::readSettings(QString group)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(group);
    visibleFlag = settings.value(Trel::Key::Visible, QLatin1String(Trel::No)).toString();
    content = settings.value(Trel::Key::Content, QLatin1String(Trel::Normal)).toString();
    if (settings.value(Trel::Key::Exist).toString() == QLatin1String(Trel::Yes)) {
        resize(settings.value(Trel::Key::Size).toSize());
        move(settings.value(Trel::Key::Position, QPoint(0, 0)).toPoint());
    }
    settings.endGroup();
}

void SeeFile::toMainWindow()
{
    emit escapeSig();
}

// A blank in front of one-letter prefixes lines up the region digits of all
// calls in a fixed-pitch column.
QString SeeFile::justifyDigit(QString call)
{
    if (call.size() > 1 && call.at(1).isDigit())
        return QLatin1Char(' ') + call;
    return call;
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
    Prompter::instance()->message(critical ? Prompter::Critical : Prompter::Warning,
                                  NotFoundTitle, text, QMessageBox::Ok);
}

void SeeFile::reportError(const QString &text)
{
    errorText = text;
    emit errorSig();
}

int SeeFile::showLicense(QDir pDir)
{
    ui->text->setLineWrapMode(QTextEdit::WidgetWidth);
    QFile file(pDir.path() + QStringLiteral("/COPYING"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        reportMissing(true, QStringLiteral("File 'COPYING' not Found.\nThis file should be in your ")
                                + pDir.path() + QStringLiteral(" directory."));
        reportError(notOpened(pDir.path() + QStringLiteral("/COPYING")));
        return 0;
    }
    ui->text->clear();
    appendFile(file);
    cursorToStart();
    return 1;
}

int SeeFile::showErrorLog(QDir dDir)
{
    ui->text->setLineWrapMode(QTextEdit::WidgetWidth);
    QFile file(dDir.path() + QStringLiteral("/errorLog.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        // Not passed on to the error log: that would write into the very file
        // that is missing.
        reportMissing(true, notFound(file.fileName()));
        return 0;
    }
    ui->text->clear();
    appendFile(file);
    // Newest entries are at the bottom; keep them in view.
    QTextCursor cursor = ui->text->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::StartOfBlock);
    ui->text->setTextCursor(cursor);
    ui->text->ensureCursorVisible();
    return 1;
}

int SeeFile::showChangeLog(QDir pDir)
{
    ui->text->setLineWrapMode(QTextEdit::WidgetWidth);
    ui->text->clear();
    QFile file(pDir.path() + QStringLiteral("/CHANGELOG.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        reportMissing(true, notFound(file.fileName()));
        reportError(notOpened(file.fileName()));
        return 0;
    }
    ui->text->clear();
    appendFile(file);
    cursorToStart();
    return 1;
}

int SeeFile::showPreamble(QDir dDir, QString clubName)
{
    QFile file(dDir.path() + QStringLiteral("/PREAMBLE-") + clubName + QStringLiteral(".txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        reportMissing(true, QStringLiteral("File '") + file.fileName()
                                + QStringLiteral("' not Found.\nYou need to create this file and put it in the\n'")
                                + dDir.path() + QStringLiteral("' subdirectory."));
        reportError(notOpened(file.fileName()));
        return 0;
    }
    ui->text->clear();
    appendFile(file);
    cursorToStart();
    return 1;
}

int SeeFile::showEnvironment(QDir pDir)
{
    ui->text->setLineWrapMode(QTextEdit::WidgetWidth);
    ui->text->setCurrentCharFormat(format);
    QFile file(pDir.path() + QStringLiteral("/ENVIRONMENT_WINDOWS.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        reportMissing(false, notFound(file.fileName()));
        reportError(notOpened(file.fileName()));
        return 0;
    }
    ui->text->clear();
    appendParagraph(QStringLiteral("Program and Development Software Versions"));
    appendParagraph(QStringLiteral("  Trelvin Version:   " TRELVIN_VERSION));
    appendParagraph(QStringLiteral("  Qt Build Version: " QT_VERSION_STR));
    appendParagraph(QStringLiteral("  Compiler Version: ") + compilerVersion() + QLatin1Char(' ')
                    + QString::number(QT_POINTER_SIZE * 8) + QStringLiteral("-bit\n"));
    appendFile(file);
    cursorToStart();
    return 1;
}

int SeeFile::displayReadme(QDir pDir)
{
    ui->text->setLineWrapMode(QTextEdit::WidgetWidth);
    ui->text->setCurrentCharFormat(format);
    QFile file(pDir.path() + QStringLiteral("/README.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        reportMissing(false, notFound(file.fileName()));
        reportError(notOpened(file.fileName()));
        return 0;
    }
    ui->text->clear();
    appendFile(file);
    appendParagraph(QStringLiteral("For source code, please email ") + MaintainerAddress
                    + QStringLiteral(" with your name and contact information. Also, include the program name and "
                                     "platform operating system you intend to use for your development so that I "
                                     "can send the appropriate code.\n"));
    cursorToStart();
    return 1;
}

int SeeFile::showShortcuts(QDir pDir)
{
    ui->text->setLineWrapMode(QTextEdit::WidgetWidth);
    ui->text->setCurrentCharFormat(format);
    ui->text->clear();
    // A cursor kept across the load would be carried along by the insertions,
    // so keep its place instead.
    const int before = ui->text->textCursor().position();
    QFile file(pDir.path() + QStringLiteral("/SHORTCUTS.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        reportMissing(false, notFound(file.fileName()));
        reportError(notOpened(file.fileName()));
        return 0;
    }
    ui->text->clear();
    appendFile(file);
    QTextCursor cursor = ui->text->textCursor();
    cursor.setPosition(before);
    ui->text->setTextCursor(cursor);
    return 1;
}
