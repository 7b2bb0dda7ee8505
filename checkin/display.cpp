#include "app/trelvin.h"
#include "data/direct.h"
#include "checkin/textrules.h"
#include "dialogs/contact.h"
#include "reports/seelogs.h"
#include "ui_contact.h"
#include "ui_trelvin.h"

#include <QDate>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>
#include <initializer_list>

namespace {

// Stored as bare digits; shown the way the operator reads a US number.
QString formatPhone(const QString &digits)
{
    if (digits.isEmpty())
        return digits;
    return QLatin1Char('(') + digits.mid(0, 3) + QStringLiteral(") ") + digits.mid(3, 3) + QLatin1Char('-')
           + digits.mid(6, 4);
}

// "yyMMdd" as "MM/dd/yy", by position: a calendar round trip would guess the
// century and could reject dates that were stored as typed.
QString shownDate(const QString &stored)
{
    return stored.mid(2, 2) + QLatin1Char('/') + stored.mid(4, 2) + QLatin1Char('/') + stored.mid(0, 2);
}

// Centre of a state, when the state-centre table knows it.
bool stateCentre(const QSqlDatabase &memoryDb, const QString &state, double &lat, double &lon)
{
    QSqlQuery query(memoryDb);
    query.prepare(QStringLiteral("SELECT lat, lon FROM latlon WHERE st=?"));
    query.addBindValue(state);
    if (!query.exec() || !query.next())
        return false;
    lat = query.value(0).toDouble();
    lon = query.value(1).toDouble();
    return true;
}

} // namespace

void Trelvin::displayContact(QString call, int type)
{
    const QString today = QDate::currentDate().toString(QStringLiteral("yyMMdd"));
    QString lastDate;
    Ui::Contact *dialog = contactDialog->ui;
    ui->name->setPalette(goodPalette);
    dialog->fname->setPalette(goodPalette);

    if (type != 0) {
        // The look-ups below share one read lock on Contacts.db instead of
        // taking it statement by statement.
        const Direct::ReadTransaction snapshot(fileDb);
        QSqlQuery contact(fileDb);
        contact.prepare(QStringLiteral("SELECT * FROM contact WHERE call = ?"));
        contact.addBindValue(call);
        // After one failed read the others would wait on the same lock.
        bool readable = contact.exec();
        if (!readable && fileDb.isOpen())
            reportReadFailure("Display of " + call, contact.lastError());
        if (readable && contact.next()) {
            const auto column = [&contact](const char *name) {
                return contact.value(QLatin1String(name)).toString();
            };
            setClipped(dialog->call, column("call"));
            setClipped(dialog->fname, column("name"));
            setClipped(dialog->name, column("last"));
            setClipped(dialog->classlic, column("class"));
            setClipped(dialog->expire, column("expire"));
            setClipped(dialog->addr, column("address"));
            setClipped(dialog->city, column("city"));
            setClipped(dialog->state, column("state"));
            setClipped(dialog->zip, column("zip"));
            setClipped(dialog->country, column("country"));
            setClipped(dialog->email, column("email"));
            setClipped(dialog->phone, formatPhone(column("phone")));
            setClipped(dialog->lat, column("lat"));
            setClipped(dialog->lon, column("lon"));
            setClipped(dialog->grid, column("grid"));
            setClipped(dialog->geoloc, column("source"));
            setClipped(dialog->utc, column("utc"));
            setClipped(dialog->dst, column("dst"));
            setClipped(dialog->born, column("born"));

            contactUtcOffset = dialog->utc->text().toInt();
            dialog->tzOffset->setText(QString::number(contactUtcOffset - stationUtcOffset));

            setClipped(ui->call, column("call"));
            setClipped(ui->name, column("name"));
            setClipped(ui->city, column("city"));
            // Computed once below, after the dialog's coordinates are in place,
            // rather than for an intermediate state.
            {
                const QSignalBlocker blocker(ui->state);
                setClipped(ui->state, column("state"));
            }
            on_state_textChanged(column("state"));
            ui->attend->clear();
            ui->last->clear();
            ui->qso->clear();
        }

        QSqlQuery member(memoryDb);
        member.prepare(QStringLiteral("SELECT * FROM mbr WHERE call = ?"));
        member.addBindValue(call);
        if (member.exec() && member.next()) {
            ui->member->setPalette(goodPalette);
            ui->member->setText(QStringLiteral("YES"));
        } else {
            ui->member->setPalette(alertPalette);
            ui->member->setText(QStringLiteral("NO"));
        }

        // Tonight's check-in counts, but "last" means before tonight.
        int checkIns = 0;
        bool haveLog = false;
        QVariant lastLogId;
        QSqlQuery log(fileDb);
        log.setForwardOnly(true);
        log.prepare(QStringLiteral("SELECT * FROM log WHERE call = ?"));
        log.addBindValue(call);
        if (readable && !log.exec()) {
            readable = false;
            reportReadFailure("Check-in history of " + call, log.lastError());
        }
        if (readable) {
            while (log.next()) {
                ++checkIns;
                haveLog = true;
                lastLogId = log.value(QStringLiteral("id"));
                const QString date = log.value(QStringLiteral("date")).toString();
                if (date != today)
                    lastDate = shownDate(date);
            }
        }

        if (readable && haveLog) {
            QSqlQuery latest(fileDb);
            latest.prepare(QStringLiteral("SELECT * FROM log WHERE id = ?"));
            latest.addBindValue(lastLogId);
            if (latest.exec() && latest.next()) {
                // What was logged last is fresher than the contact record.
                setClipped(ui->call, latest.value(QStringLiteral("call")).toString());
                setClipped(ui->name, latest.value(QStringLiteral("name")).toString());
                setClipped(ui->city, latest.value(QStringLiteral("city")).toString());
                setClipped(ui->state, latest.value(QStringLiteral("state")).toString());
                ui->attend->setText(QString::number(checkIns));
                ui->last->setText(lastDate);
                ui->qso->clear();
            }
        }

        QSqlQuery net(memoryDb);
        net.prepare(QStringLiteral("SELECT * FROM net WHERE call = ?"));
        net.addBindValue(call);
        if (net.exec() && net.next()) {
            setClipped(ui->name, net.value(QStringLiteral("name")).toString());
            setClipped(ui->city, net.value(QStringLiteral("city")).toString());
            setClipped(ui->state, net.value(QStringLiteral("state")).toString());
            setClipped(ui->qso, net.value(QStringLiteral("comment")).toString());
            setClipped(ui->relay, net.value(QStringLiteral("relay")).toString());
        }
    } else {
        const QString searched = ui->search->text().toUpper();
        dialog->call->setText(searched);
        for (QLineEdit *field :
             {dialog->fname, dialog->name, dialog->classlic, dialog->expire, dialog->addr, dialog->city, dialog->state,
              dialog->zip, dialog->country, dialog->email, dialog->phone, dialog->lat, dialog->lon, dialog->grid,
              dialog->geoloc, dialog->utc, dialog->tzOffset, dialog->dst, dialog->born})
            field->clear();

        ui->call->setText(searched);
        ui->name->clear();
        ui->city->setPalette(goodPalette);
        ui->city->clear();
        // The relay stays: it belongs to the net entry, not to the station shown.
        for (QLineEdit *field : {ui->state, ui->member, ui->attend, ui->last, ui->qso, ui->bear, ui->revBear, ui->dist})
            field->clear();
    }

    if (qsoWindow->isVisible())
        showQsoHistory(call, type);
}

void Trelvin::on_state_textChanged(QString state)
{
    // This station; a position outside the continental box is taken for a
    // placeholder and replaced by the centre of the station's state.
    double stationLat = 0;
    double stationLon = 0;
    QSqlQuery station(fileDb);
    const bool read = station.exec(QStringLiteral("SELECT lat, lon, state FROM station"));
    if (!read && fileDb.isOpen())
        reportReadFailure(QStringLiteral("Distance and bearing"), station.lastError());
    if (read && station.next()) {
        stationLat = station.value(0).toDouble();
        stationLon = station.value(1).toDouble();
        if (stationLat < 24.5 || stationLat > 49 || stationLon > -67 || stationLon < -125)
            stateCentre(memoryDb, station.value(2).toString(), stationLat, stationLon);
    }

    // The contact; its stored coordinates only count while the state typed
    // is still the one they belong to.
    const Ui::Contact *dialog = contactDialog->ui;
    double contactLat = dialog->lat->text().toDouble();
    double contactLon = dialog->lon->text().toDouble();
    const QString typed = state.toUpper();
    if (dialog->state->text().toUpper() != typed || std::fabs(contactLat) < 0.1 || std::fabs(contactLon) < 0.1)
        stateCentre(memoryDb, typed, contactLat, contactLon);

    if (std::fabs(stationLat) > 0.001 && std::fabs(stationLon) > 0.001 && std::fabs(contactLat) > 0.001
        && std::fabs(contactLon) > 0.001) {
        int bear = 0;
        int dist = 0;
        bearDist(stationLat, stationLon, contactLat, contactLon, bear, dist);
        ui->dist->setText(QStringLiteral("%1").arg(dist, 6));
        ui->bear->setText(QStringLiteral("%1").arg(bear, 3));
        bearDist(contactLat, contactLon, stationLat, stationLon, bear, dist);
        ui->revBear->setText(QStringLiteral("%1").arg(bear, 3));
    } else {
        ui->dist->clear();
        ui->bear->clear();
        ui->revBear->clear();
    }
}

void Trelvin::bearDist(double lat1, double lon1, double lat2, double lon2, int &bear, int &dist)
{
    const BearingDistance result = greatCircle(lat1, lon1, lat2, lon2);
    bear = result.bearing;
    dist = result.distance;
}
