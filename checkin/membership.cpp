#include "app/trelvin.h"
#include "reports/seelogs.h"
#include "ui_trelvin.h"

#include <QSqlQuery>

namespace {
bool isMember(const QSqlDatabase &db, const QString &call)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT * FROM mbr WHERE call = ?"));
    query.addBindValue(call);
    return query.exec() && query.next();
}
} // namespace

void Trelvin::enableMemberStatus()
{
    const QString call = ui->call->text().toUpper();
    if (call.isEmpty())
        return;
    if (!isMember(memoryDb, call)) {
        ui->member->setPalette(goodPalette);
        ui->member->setText(QStringLiteral("YES"));
        QSqlQuery insert(memoryDb);
        insert.prepare(QStringLiteral("INSERT INTO mbr (id, call) VALUES (NULL, ?)"));
        insert.addBindValue(call);
        insert.exec();
    }
    if (rosterWindow->isVisible())
        showRoster();
}

void Trelvin::disableMemberStatus()
{
    const QString call = ui->call->text().toUpper();
    if (call.isEmpty())
        return;
    if (isMember(memoryDb, call)) {
        ui->member->setPalette(alertPalette);
        ui->member->setText(QStringLiteral("NO"));
        QSqlQuery remove(memoryDb);
        remove.prepare(QStringLiteral("DELETE FROM mbr WHERE call = ?"));
        remove.addBindValue(call);
        remove.exec();
    }
    if (rosterWindow->isVisible())
        showRoster();
}

void Trelvin::on_club_returnPressed()
{
    saveRoster(dataDir.path() + "/Roster-" + club + ".csv");
    club = ui->club->text().toUpper();
    ui->club->setText(club);
    loadMember(dataDir.path() + "/Roster-" + club + ".csv");
    on_actionPreamble_triggered();
}
