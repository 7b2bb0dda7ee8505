#include "checkin/checkindesk.h"

#include "app/prompter.h"
#include "checkin/textrules.h"

#include <QLineEdit>

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

void CheckInDesk::callEdited(const QString &arg1)
{
    retype(w.call, arg1.toUpper());
}

void CheckInDesk::stateEdited(const QString &arg1)
{
    retype(w.state, arg1.toUpper());
}

void CheckInDesk::relayEdited(const QString &arg1)
{
    retype(w.relay, arg1.toUpper());
}

void CheckInDesk::nameEdited(const QString &arg1)
{
    retype(w.name, titleCase(arg1));
}

void CheckInDesk::cityEdited(const QString &arg1)
{
    retype(w.city, titleCase(arg1));
}

void CheckInDesk::removeFromNet()
{
    const QString call = w.delCon->text().toUpper();
    if (const std::optional<NetEntry> entry = storage.netLog().netEntryByCall(call)) {
        // The removal is a change of the net at its time, as a check-in is.
        if (host.entryTime() && confirmed(QStringLiteral("Deleting Contact from Net Log"),
                      "Are you sure you want to delete '" + call + "' from the Net Log?")
            && host.stored(storage.netLog().removeFromNet(*entry),
                           "Removal of the check-in of " + call + " from the log")) {
            // The entry must not keep pointing at a row that is gone.
            if (entryId == entry->id)
                entryId = 0;
            if (w.call->text().toUpper() == call) {
                w.call->clear();
                w.name->clear();
                w.city->clear();
                w.state->clear();
            }
        }
    } else {
        Prompter::instance()->message(Prompter::Warning, QStringLiteral("Contact not in Net List"),
                                      "Contact " + call + " was not found in Net List.\nPlease check your data entry.");
        emit errorLine("Contact " + call + " was not found in Net List.");
    }

    showNet();
    emit netChanged();
    w.search->setFocus(Qt::OtherFocusReason);
}

void CheckInDesk::deleteContact()
{
    const QString call = w.delCon->text().toUpper();
    if (confirmed(QStringLiteral("Deleting Contact from Contacts Database"),
                  "Are you sure you want to delete '" + call + "' from the Contacts Database?"))
        host.stored(storage.contacts().deleteContact(call), "Deletion of contact " + call);

    emit contactsChanged();
    w.search->setFocus(Qt::OtherFocusReason);
}

void CheckInDesk::deleteLogRecord()
{
    if (confirmed(QStringLiteral("Deleting Record from Log"),
                  "Are you sure you want to permanently delete Record '" + w.delRec->text() + "' from the Log?")) {
        // Not a number (or too large for one) means record 0, which no row has.
        const int record = w.delRec->text().toInt(nullptr, 10);
        host.stored(storage.netLog().deleteLogRow(record), "Deletion of log record " + QString::number(record));
    }

    emit logChanged();
}
