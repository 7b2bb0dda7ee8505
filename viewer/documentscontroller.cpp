#include "app/constants.h"
#include "app/trelvin.h"
#include "ui_trelvin.h"
#include "viewer/seefile.h"

namespace {
void present(SeeFile *viewer, const QString &title)
{
    viewer->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    viewer->setWindowTitle(title);
    viewer->show();
    viewer->raise();
}
} // namespace

void Trelvin::on_actionLicense_triggered()
{
    if (!aboutWindow->showLicense(infoDir))
        return;
    aboutWindow->content = Trel::Content::License;
    present(aboutWindow, QStringLiteral("License to Use"));
    activateWindow();
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_actionGettingStartedTrelvin_triggered()
{
    if (!aboutWindow->displayReadme(infoDir))
        return;
    aboutWindow->content = Trel::Content::GetStarted;
    present(aboutWindow, QStringLiteral("Display README File"));
    activateWindow();
}

void Trelvin::on_actionShortcut_Keys_triggered()
{
    if (!aboutWindow->showShortcuts(infoDir))
        return;
    aboutWindow->content = Trel::Content::Shortcuts;
    present(aboutWindow, QStringLiteral("Keyboard Shortcut Keys"));
    activateWindow();
}

void Trelvin::on_actionChange_Log_triggered()
{
    if (!aboutWindow->showChangeLog(infoDir))
        return;
    aboutWindow->content = Trel::Content::ChangeLog;
    present(aboutWindow, QStringLiteral("Program Change Log"));
    activateWindow();
    ui->call->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_actionEnvironment_triggered()
{
    // Shown whatever the load gives: the header alone is still worth seeing.
    aboutWindow->content = Trel::Content::Environment;
    aboutWindow->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    aboutWindow->setWindowTitle(QStringLiteral("Hardware and Software Versions"));
    aboutWindow->showEnvironment(infoDir);
    aboutWindow->show();
    aboutWindow->raise();
    activateWindow();
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_actionShow_Error_Log_triggered()
{
    if (!aboutWindow->showErrorLog(dataDir))
        return;
    aboutWindow->content = Trel::Content::ErrorLog;
    present(aboutWindow, QStringLiteral("Program Errors and Comments"));
    activateWindow();
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_actionPreamble_triggered()
{
    if (!preambleWindow->showPreamble(dataDir, club))
        return;
    present(preambleWindow, club + " Net Control Station's Script");
    activateWindow();
}
