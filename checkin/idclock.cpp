#include "checkin/checkindesk.h"

#include "app/themes.h"
#include "checkin/netrules.h"

#include <QLabel>

// The ten-minute identification: the status-bar clock since net control
// last gave its call, and what counts as giving it.

void CheckInDesk::updateIdReminder()
{
    if (!idStatus)
        return;
    const QDateTime now = host.clockNow();
    reminder.netChanged(storage.netLog().netId(Storage::Seek::First).has_value(), now);
    const bool showing = reminderOn && !reminderPaused && reminder.running();
    const bool due = showing && reminder.due(now);
    if (showing) {
        const QString text = reminder.text(now);
        if (idStatus->text() != text)
            idStatus->setText(text);
        idStatus->show();
    } else {
        idStatus->hide();
        idStatus->clear();
    }
    // The clock field carries the alert: nothing takes the keyboard away.
    const QPalette wanted = due ? theme->alert() : theme->info();
    for (QWidget *field : {w.time, static_cast<QWidget *>(idStatus)}) {
        if (field->palette().color(QPalette::Text) != wanted.color(QPalette::Text)
            || field->palette().color(QPalette::WindowText) != wanted.color(QPalette::Text)) {
            QPalette palette = field->palette();
            palette.setColor(QPalette::Text, wanted.color(QPalette::Text));
            palette.setColor(QPalette::WindowText, wanted.color(QPalette::Text));
            field->setPalette(palette);
        }
    }
}

void CheckInDesk::identify()
{
    reminder.identified(host.clockNow());
    updateIdReminder();
}

void CheckInDesk::noteNetKey(int type, const QString &call)
{
    using namespace NetRules;
    if (!(type & (Ncs | CheckedIn)) || call.isEmpty())
        return;
    const std::optional<int> status = storage.netLog().netStatus(call);
    // Net control giving its call: F7 marks it, or it checks in again.
    if (status && (*status & Ncs) && ((type & Ncs) || (*status & CheckedIn)))
        identify();
}

void CheckInDesk::pauseIdReminder(bool paused)
{
    reminderPaused = paused;
    updateIdReminder();
}

void CheckInDesk::setIdReminderOn(bool on)
{
    reminderOn = on;
    updateIdReminder();
}
