#include "app/trelvin.h"
#include "app/settings.h"
#include "reports/seelogs.h"
#include "ui_trelvin.h"

void Trelvin::enableMemberStatus()
{
    const QString call = ui->call->text().toUpper();
    if (call.isEmpty())
        return;
    // Shown as a member only once the roster holds the call.
    if (!storage.roster().isMember(call) && stored(storage.roster().addMember(call), "Adding " + call + " to the club roster")) {
        ui->member->setPalette(palettes->good());
        ui->member->setText(QStringLiteral("YES"));
        saveClubRoster();
    }
    if (rosterWindow->isVisible())
        showRoster();
}

void Trelvin::disableMemberStatus()
{
    const QString call = ui->call->text().toUpper();
    if (call.isEmpty())
        return;
    if (storage.roster().isMember(call) && stored(storage.roster().removeMember(call), "Removing " + call + " from the club roster")) {
        ui->member->setPalette(palettes->alert());
        ui->member->setText(QStringLiteral("NO"));
        saveClubRoster();
    }
    if (rosterWindow->isVisible())
        showRoster();
}

void Trelvin::saveClubRoster()
{
    // Written at once (and whole, through a new file renamed into place), so
    // that a crash does not lose a member added or removed during the net.
    saveRoster(dataDir().path() + "/Roster-" + club() + ".csv");
}

void Trelvin::on_club_returnPressed()
{
    saveRoster(dataDir().path() + "/Roster-" + club() + ".csv");
    appSettings->setClub(ui->club->text().toUpper());
    ui->club->setText(club());
    loadMember(dataDir().path() + "/Roster-" + club() + ".csv");
    on_actionPreamble_triggered();
}
