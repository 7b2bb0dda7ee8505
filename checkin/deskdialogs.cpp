#include "checkin/checkindesk.h"

#include "app/constants.h"
#include "checkin/textrules.h"
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

void CheckInDesk::showStationDetails()
{
    present(station, QStringLiteral("Alt+S: Station Details"));
    station->ui->call->setFocus(Qt::OtherFocusReason);
}

void CheckInDesk::editContact()
{
    present(contact, QStringLiteral("Alt+C: Contact Details"));
    contact->ui->call->setFocus(Qt::OtherFocusReason);
}

void CheckInDesk::saveContact()
{
    const Ui::Contact *dlg = contact->ui;
    const QString call = dlg->call->text().toUpper();
    // One row per call sign: a known call is rewritten in place. The phone
    // is shown formatted but kept as its digits alone.
    host.stored(storage.contacts().saveContact(ContactRecord::fromValues(
                    {call, dlg->fname->text(), dlg->name->text(), dlg->classlic->text(), dlg->expire->text(),
                     dlg->addr->text(), dlg->city->text(), dlg->state->text(), dlg->zip->text(), dlg->country->text(),
                     dlg->email->text(), digitsOnly(dlg->phone->text()), dlg->lat->text(), dlg->lon->text(),
                     dlg->grid->text(), dlg->geoloc->text(), dlg->utc->text(), dlg->dst->text(), dlg->born->text()})),
                "Saving contact " + call);
}

void CheckInDesk::writeWindowSettings()
{
    station->writeSettings();
    contact->writeSettings();
}

void CheckInDesk::reopenDialogs()
{
    if (station->openAtExit)
        showStationDetails();
    if (contact->openAtExit)
        editContact();
}
