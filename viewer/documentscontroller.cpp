#include "viewer/documentscontroller.h"

#include "app/constants.h"
#include "viewer/seefile.h"

#include <QLineEdit>

namespace {
void present(SeeFile *viewer, const QString &title)
{
    viewer->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    viewer->setWindowTitle(title);
    viewer->show();
    viewer->raise();
}
} // namespace

DocumentsController::DocumentsController(const Widgets &widgets, Host hooks, QObject *parent)
    : QObject(parent), w(widgets), host(std::move(hooks))
{
    // Windows of their own, without a parent.
    about = new SeeFile();
    about->readSettings(Trel::Group::About);
    preamble = new SeeFile();
    preamble->readSettings(Trel::Group::Preamble);
    for (SeeFile *viewer : {about, preamble}) {
        connect(viewer, &SeeFile::errorSig, this, &DocumentsController::errorLine);
        connect(viewer, &SeeFile::escapeSig, this, &DocumentsController::escaped);
    }
}

DocumentsController::~DocumentsController()
{
    delete about;
    delete preamble;
}

QList<QWidget *> DocumentsController::windows() const
{
    return {about, preamble};
}

void DocumentsController::showLicense()
{
    if (!about->showLicense(host.infoDir()))
        return;
    about->content = Trel::Content::License;
    present(about, QStringLiteral("License to Use"));
    host.activateMain();
    w.search->setFocus(Qt::OtherFocusReason);
}

void DocumentsController::showGettingStarted()
{
    if (!about->displayReadme(host.infoDir()))
        return;
    about->content = Trel::Content::GetStarted;
    present(about, QStringLiteral("Display README File"));
    host.activateMain();
}

void DocumentsController::showShortcutKeys()
{
    if (!about->showShortcuts(host.infoDir()))
        return;
    about->content = Trel::Content::Shortcuts;
    present(about, QStringLiteral("Keyboard Shortcut Keys"));
    host.activateMain();
}

void DocumentsController::showChangeLog()
{
    if (!about->showChangeLog(host.infoDir()))
        return;
    about->content = Trel::Content::ChangeLog;
    present(about, QStringLiteral("Program Change Log"));
    host.activateMain();
    w.call->setFocus(Qt::OtherFocusReason);
}

void DocumentsController::showEnvironment()
{
    // Shown whatever the load gives: the header alone is still worth seeing.
    about->content = Trel::Content::Environment;
    about->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    about->setWindowTitle(QStringLiteral("Hardware and Software Versions"));
    about->showEnvironment(host.infoDir());
    about->show();
    about->raise();
    host.activateMain();
    w.search->setFocus(Qt::OtherFocusReason);
}

void DocumentsController::showErrorLog()
{
    if (!about->showErrorLog(host.dataDir()))
        return;
    about->content = Trel::Content::ErrorLog;
    present(about, QStringLiteral("Program Errors and Comments"));
    host.activateMain();
    w.search->setFocus(Qt::OtherFocusReason);
}

void DocumentsController::showPreamble()
{
    if (!preamble->showPreamble(host.dataDir(), host.club()))
        return;
    present(preamble, host.club() + " Net Control Station's Script");
    host.activateMain();
}

void DocumentsController::reopenWindows()
{
    if (about->openAtExit) {
        const QString &content = about->content;
        if (content == QLatin1String(Trel::Content::License))
            showLicense();
        if (content == QLatin1String(Trel::Content::GetStarted))
            showGettingStarted();
        if (content == QLatin1String(Trel::Content::Shortcuts))
            showShortcutKeys();
        if (content == QLatin1String(Trel::Content::ChangeLog))
            showChangeLog();
        if (content == QLatin1String(Trel::Content::Environment))
            showEnvironment();
        if (content == QLatin1String(Trel::Content::ErrorLog))
            showErrorLog();
    }
    if (preamble->openAtExit)
        showPreamble();
}

void DocumentsController::writeWindowSettings()
{
    about->writeSettings(Trel::Group::About, about->content, about->isVisible());
    preamble->writeSettings(Trel::Group::Preamble, Trel::Normal, preamble->isVisible());
}

void DocumentsController::setPalette(const QPalette &palette)
{
    for (QWidget *window : windows())
        window->setPalette(palette);
}

void DocumentsController::errorLogged(const QByteArray &line, bool written, const QString &logFile, bool logOpen)
{
    if (!about->isVisible() || about->content != QLatin1String(Trel::Content::ErrorLog))
        return;
    // An open view follows the file. Reading it all again for each line froze
    // the window once a few thousand lines came in a row.
    if (written && about->shownLog() == logFile)
        about->appendErrorLog(line);
    else if (logOpen)
        about->showErrorLog(host.dataDir());
}
