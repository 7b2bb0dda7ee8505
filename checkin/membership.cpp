#include "checkin/checkindesk.h"

#include "app/themes.h"

#include <QLineEdit>

void CheckInDesk::makeMember()
{
    const QString call = w.call->text().toUpper();
    if (call.isEmpty())
        return;
    // Shown as a member only once the roster holds the call.
    if (!storage.roster().isMember(call)
        && host.stored(storage.roster().addMember(call), "Adding " + call + " to the club roster")) {
        w.member->setPalette(theme->good());
        w.member->setText(QStringLiteral("YES"));
        host.saveClubRoster();
    }
    emit rosterChanged();
}

void CheckInDesk::dropMember()
{
    const QString call = w.call->text().toUpper();
    if (call.isEmpty())
        return;
    if (storage.roster().isMember(call)
        && host.stored(storage.roster().removeMember(call), "Removing " + call + " from the club roster")) {
        w.member->setPalette(theme->alert());
        w.member->setText(QStringLiteral("NO"));
        host.saveClubRoster();
    }
    emit rosterChanged();
}
