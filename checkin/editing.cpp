#include "app/prompter.h"
#include "app/trelvin.h"
#include "checkin/textrules.h"
#include "reports/reportscontroller.h"
#include "ui_trelvin.h"

namespace {

// Rewrites what the operator typed without moving the cursor, and marks the
// field as edited: setting the text clears that mark, yet the check-in logic
// needs it to know the entry has to be stored.
void retype(QLineEdit *field, const QString &text)
{
    const int position = field->cursorPosition();
    field->setText(text);
    field->setCursorPosition(position);
    field->setModified(true);
}

bool confirmed(const QString &title, const QString &text)
{
    return Prompter::instance()->message(Prompter::Warning, title, text, QMessageBox::Yes | QMessageBox::No,
                                         QMessageBox::Yes)
        == QMessageBox::Yes;
}

} // namespace

void Trelvin::on_call_returnPressed()
{
    ui->name->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_name_returnPressed()
{
    ui->city->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_city_returnPressed()
{
    ui->state->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_state_returnPressed()
{
    ui->qso->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_call_textEdited(QString arg1)
{
    retype(ui->call, arg1.toUpper());
}

void Trelvin::on_state_textEdited(QString arg1)
{
    retype(ui->state, arg1.toUpper());
}

void Trelvin::on_relay_textEdited(QString arg1)
{
    retype(ui->relay, arg1.toUpper());
}

void Trelvin::on_name_textEdited(QString arg1)
{
    retype(ui->name, titleCase(arg1));
}

void Trelvin::on_city_textEdited(QString arg1)
{
    retype(ui->city, titleCase(arg1));
}

void Trelvin::delNet()
{
    const QString call = ui->delCon->text().toUpper();
    if (const std::optional<NetEntry> entry = storage.netLog().netEntryByCall(call)) {
        if (confirmed(QStringLiteral("Deleting Contact from Net Log"),
                      "Are you sure you want to delete '" + call + "' from the Net Log?")
            && stored(storage.netLog().removeFromNet(*entry), "Removal of the check-in of " + call + " from the log")) {
            // The entry must not keep pointing at a row that is gone.
            if (entryId == entry->id)
                entryId = 0;
            if (ui->call->text().toUpper() == call) {
                ui->call->clear();
                ui->name->clear();
                ui->city->clear();
                ui->state->clear();
            }
        }
    } else {
        Prompter::instance()->message(Prompter::Warning, QStringLiteral("Contact not in Net List"),
                                      "Contact " + call + " was not found in Net List.\nPlease check your data entry.");
        writeError("Contact " + call + " was not found in Net List.");
    }

    displayNet(activeID);
    reports->netLogChanged();
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::delCon()
{
    const QString call = ui->delCon->text().toUpper();
    if (confirmed(QStringLiteral("Deleting Contact from Contacts Database"),
                  "Are you sure you want to delete '" + call + "' from the Contacts Database?"))
        stored(storage.contacts().deleteContact(call), "Deletion of contact " + call);

    reports->contactsChanged();
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_delRecBut_clicked()
{
    if (confirmed(QStringLiteral("Deleting Record from Log"),
                  "Are you sure you want to permanently delete Record '" + ui->delRec->text() + "' from the Log?")) {
        // Not a number (or too large for one) means record 0, which no row has.
        const int record = ui->delRec->text().toInt(nullptr, 10);
        stored(storage.netLog().deleteLogRow(record), "Deletion of log record " + QString::number(record));
    }

    reports->netLogChanged();
}
