#include "app/trelvin.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "ui_contact.h"
#include "ui_station.h"

namespace {
void present(QDialog *dialog, const QString &title)
{
    dialog->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    dialog->setWindowTitle(title);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}
} // namespace

void Trelvin::on_actionStationDetails_triggered()
{
    present(stationDialog, QStringLiteral("Alt+S: Station Details"));
    stationDialog->ui->call->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_actionEditContact_triggered()
{
    present(contactDialog, QStringLiteral("Alt+C: Contact Details"));
    contactDialog->ui->call->setFocus(Qt::OtherFocusReason);
}

// Storing the dialog's record is not built yet.
void Trelvin::saveContact() {}
