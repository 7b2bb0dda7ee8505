#include "app/trelvin.h"
#include "checkin/textrules.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "lookup/lookupcontroller.h"
#include "reports/reportscontroller.h"
#include "ui_contact.h"
#include "ui_trelvin.h"

#include <QDate>
#include <QLineEdit>
#include <QSignalBlocker>

#include <cmath>
#include <initializer_list>

namespace {

// The continental United States: a station position outside this box is
// taken for a placeholder.
constexpr double ContinentSouth = 24.5;
constexpr double ContinentNorth = 49;
constexpr double ContinentEast = -67;
constexpr double ContinentWest = -125;
// A contact's stored coordinate this close to zero is taken for none.
constexpr double NoContactCoordinate = 0.1;
// Bearing and distance need both positions, each coordinate off zero.
constexpr double NoCoordinate = 0.001;

bool inContinent(double lat, double lon)
{
    return lat >= ContinentSouth && lat <= ContinentNorth && lon <= ContinentEast && lon >= ContinentWest;
}

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
// Setting a palette costs a walk over the widget even when nothing changes.
void setPaletteOf(QWidget *widget, const QPalette &palette)
{
    if (widget->palette() != palette || widget->palette().resolveMask() != palette.resolveMask())
        widget->setPalette(palette);
}

void useStateCentre(const Storage &storage, const QString &state, double &lat, double &lon)
{
    if (state.isEmpty())
        return;
    if (const std::optional<Coordinates> centre = storage.stateCentre(state)) {
        lat = centre->lat;
        lon = centre->lon;
    }
}

} // namespace

void Trelvin::displayContact(QString call, int type)
{
    const QString today = QDate::currentDate().toString(QStringLiteral("yyMMdd"));
    Ui::Contact *dialog = contactDialog->ui;
    setPaletteOf(ui->name, palettes->good());
    setPaletteOf(dialog->fname, palettes->good());

    if (type != 0) {
        // The look-ups below share one read lock on Contacts.db instead of
        // taking it statement by statement.
        const Storage::Snapshot snapshot(storage);
        Storage::Result read;
        const std::optional<ContactRecord> contact = storage.contacts().contactByCall(call, &read);
        // After one failed read the others would wait on the same lock.
        bool readable = read.ok();
        if (!readable && storage.contactsOpen())
            reportReadFailure("Display of " + call, read);
        if (contact) {
            setClipped(dialog->call, contact->call);
            setClipped(dialog->fname, contact->name);
            setClipped(dialog->name, contact->last);
            setClipped(dialog->classlic, contact->licenceClass);
            setClipped(dialog->expire, contact->expire);
            setClipped(dialog->addr, contact->address);
            setClipped(dialog->city, contact->city);
            setClipped(dialog->state, contact->state);
            setClipped(dialog->zip, contact->zip);
            setClipped(dialog->country, contact->country);
            setClipped(dialog->email, contact->email);
            setClipped(dialog->phone, formatPhone(contact->phone));
            setClipped(dialog->lat, contact->lat);
            setClipped(dialog->lon, contact->lon);
            setClipped(dialog->grid, contact->grid);
            setClipped(dialog->geoloc, contact->source);
            setClipped(dialog->utc, contact->utc);
            setClipped(dialog->dst, contact->dst);
            setClipped(dialog->born, contact->born);

            const int contactOffset = dialog->utc->text().toInt();
            dialog->tzOffset->setText(QString::number(contactOffset - lookups->stationUtcOffset()));

            setClipped(ui->call, contact->call);
            setClipped(ui->name, contact->name);
            setClipped(ui->city, contact->city);
            // Computed once below, after the dialog's coordinates are in place,
            // rather than for an intermediate state.
            {
                const QSignalBlocker blocker(ui->state);
                setClipped(ui->state, contact->state);
            }
            on_state_textChanged(contact->state);
            ui->attend->clear();
            ui->last->clear();
            ui->qso->clear();
        }

        if (storage.roster().isMember(call)) {
            setPaletteOf(ui->member, palettes->good());
            ui->member->setText(QStringLiteral("YES"));
        } else {
            setPaletteOf(ui->member, palettes->alert());
            ui->member->setText(QStringLiteral("NO"));
        }

        if (readable) {
            const NetLogStore::History history = storage.netLog().history(call, today, &read);
            readable = read.ok();
            if (!readable)
                reportReadFailure("Check-in history of " + call, read);
            // What was logged last is fresher than the contact record; "last"
            // is the last check-in before tonight.
            if (readable && history.latest) {
                setClipped(ui->call, history.latest->call);
                setClipped(ui->name, history.latest->name);
                setClipped(ui->city, history.latest->city);
                setClipped(ui->state, history.latest->state);
                ui->attend->setText(QString::number(history.checkIns));
                ui->last->setText(history.lastDate ? shownDate(*history.lastDate) : QString());
                ui->qso->clear();
            }
        }

        if (const std::optional<NetEntry> entry = storage.netLog().netEntryByCall(call)) {
            setClipped(ui->name, entry->name);
            setClipped(ui->city, entry->city);
            setClipped(ui->state, entry->state);
            setClipped(ui->qso, entry->comment);
            setClipped(ui->relay, entry->relay);
        }
    } else {
        const QString searched = ui->search->text().toUpper();
        dialog->call->setText(searched);
        for (QLineEdit *field :
             {dialog->fname, dialog->name, dialog->classlic, dialog->expire, dialog->addr, dialog->city, dialog->state,
              dialog->zip, dialog->country, dialog->email, dialog->phone, dialog->lat, dialog->lon, dialog->grid,
              dialog->geoloc, dialog->utc, dialog->tzOffset, dialog->dst, dialog->born}) {
            // Clearing an empty field still costs its signals.
            if (!field->text().isEmpty())
                field->clear();
        }

        ui->call->setText(searched);
        ui->name->clear();
        setPaletteOf(ui->city, palettes->good());
        ui->city->clear();
        // The relay stays: it belongs to the net entry, not to the station shown.
        for (QLineEdit *field : {ui->state, ui->member, ui->attend, ui->last, ui->qso, ui->bear, ui->revBear, ui->dist}) {
            if (!field->text().isEmpty())
                field->clear();
        }
    }

    reports->entryShown(call, type);
}

bool Trelvin::showCallBookRecord(const QString &call)
{
    Storage::Result read;
    const std::optional<CallBookRecord> record = callBook.byCall(call, &read);
    if (!read.ok())
        reportReadFailure("Call book look-up of " + call, read);
    if (!record)
        return false;

    // Shown as a look-up would show it, with the FCC as the source; the
    // position is the ZIP code's centre, or none, and then the state's
    // centre stands in.
    Ui::Contact *dialog = contactDialog->ui;
    const QString first = titleCase(record->first);
    const QString city = titleCase(record->city);
    setClipped(dialog->call, record->call);
    setClipped(dialog->fname, first);
    setClipped(dialog->name, titleCase(record->last));
    setClipped(dialog->classlic, Qrz::licenceClassWord(record->licenceClass));
    setClipped(dialog->expire, record->expires);
    setClipped(dialog->addr, titleCase(record->street));
    setClipped(dialog->city, city);
    setClipped(dialog->state, record->state);
    setClipped(dialog->zip, record->zip);
    setClipped(dialog->country, QStringLiteral("United States"));
    if (record->hasPosition) {
        setClipped(dialog->lat, QString::number(record->lat, 'f', 4));
        setClipped(dialog->lon, QString::number(record->lon, 'f', 4));
        setClipped(dialog->grid, maidenheadGrid(record->lat, record->lon).trimmed());
    }
    setClipped(dialog->geoloc, QStringLiteral("FCC"));

    setClipped(ui->call, record->call);
    setClipped(ui->name, first);
    setClipped(ui->city, city);
    {
        const QSignalBlocker blocker(ui->state);
        setClipped(ui->state, record->state);
    }
    on_state_textChanged(record->state);
    return true;
}

void Trelvin::on_state_textChanged(QString state)
{
    // The contact; its stored coordinates only count while the state typed
    // is still the one they belong to.
    const Ui::Contact *dialog = contactDialog->ui;
    double contactLat = dialog->lat->text().toDouble();
    double contactLon = dialog->lon->text().toDouble();
    const QString typed = state.toUpper();
    if (dialog->state->text().toUpper() != typed || std::fabs(contactLat) < NoContactCoordinate
        || std::fabs(contactLon) < NoContactCoordinate)
        useStateCentre(storage, typed, contactLat, contactLon);

    // This station; a position outside the continental box is taken for a
    // placeholder and replaced by the centre of the station's state. Not
    // read when there is no contact to measure to, as after every check-in.
    double stationLat = 0;
    double stationLon = 0;
    if (std::fabs(contactLat) > NoCoordinate && std::fabs(contactLon) > NoCoordinate) {
        Storage::Result read;
        const std::optional<ContactStore::StationPlace> station = storage.contacts().stationPlace(&read);
        if (!read.ok() && storage.contactsOpen())
            reportReadFailure(QStringLiteral("Distance and bearing"), read);
        if (station) {
            stationLat = station->lat;
            stationLon = station->lon;
            if (!inContinent(stationLat, stationLon))
                useStateCentre(storage, station->state, stationLat, stationLon);
        }
    }

    if (std::fabs(stationLat) > NoCoordinate && std::fabs(stationLon) > NoCoordinate
        && std::fabs(contactLat) > NoCoordinate && std::fabs(contactLon) > NoCoordinate) {
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
