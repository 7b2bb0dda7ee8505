#include "app/trelvin.h"
#include "files/filescontroller.h"
#include "reports/reportscontroller.h"
#include "viewer/documentscontroller.h"
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
        files->saveClubRoster();
    }
    reports->rosterChanged();
}

void Trelvin::disableMemberStatus()
{
    const QString call = ui->call->text().toUpper();
    if (call.isEmpty())
        return;
    if (storage.roster().isMember(call) && stored(storage.roster().removeMember(call), "Removing " + call + " from the club roster")) {
        ui->member->setPalette(palettes->alert());
        ui->member->setText(QStringLiteral("NO"));
        files->saveClubRoster();
    }
    reports->rosterChanged();
}

void Trelvin::on_club_returnPressed()
{
    files->saveClubRoster();
    club = ui->club->text().toUpper();
    ui->club->setText(club);
    files->loadClubMembers();
    documents->showPreamble();
}
