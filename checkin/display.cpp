#include "checkin/callsearch.h"

#include "app/themes.h"
#include "checkin/textrules.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "lookup/qrzrecord.h"
#include "ui_contact.h"

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

void CallSearch::showContact(const QString &call, int type)
{
    setPaletteOf(w.name, theme->good());
    setPaletteOf(w.contact->ui->fname, theme->good());
    if (type != 0)
        showStoredContact(call);
    else
        clearContact();
    emit contactShown(call, type);
}

// The contact record, the roster, the log's history and the net entry of
// `call`, each fresher one over the one before.
void CallSearch::showStoredContact(const QString &call)
{
    const QString today = host.netDate().toString(QStringLiteral("yyMMdd"));
    Ui::Contact *dialog = w.contact->ui;
    // The look-ups below share one read lock on Contacts.db instead of
    // taking it statement by statement.
    const Storage::Snapshot snapshot(storage);
    Storage::Result read;
    const std::optional<ContactRecord> contact = storage.contacts().contactByCall(call, &read);
    // After one failed read the others would wait on the same lock.
    bool readable = read.ok();
    if (!readable && storage.contactsOpen())
        host.reportReadFailure("Display of " + call, read);
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
        dialog->tzOffset->setText(QString::number(contactOffset - host.stationUtcOffset()));

        setClipped(w.call, contact->call);
        setClipped(w.name, contact->name);
        setClipped(w.city, contact->city);
        // Computed once below, after the dialog's coordinates are in place,
        // rather than for an intermediate state.
        {
            const QSignalBlocker blocker(w.state);
            setClipped(w.state, contact->state);
        }
        stateChanged(contact->state);
        w.attend->clear();
        w.last->clear();
        w.qso->clear();
    }

    showMembership(call);

    if (readable) {
        const NetLogStore::History history = storage.netLog().history(call, today, &read);
        readable = read.ok();
        if (!readable)
            host.reportReadFailure("Check-in history of " + call, read);
        // What was logged last is fresher than the contact record; "last"
        // is the last check-in before tonight.
        if (readable && history.latest) {
            setClipped(w.call, history.latest->call);
            setClipped(w.name, history.latest->name);
            setClipped(w.city, history.latest->city);
            setClipped(w.state, history.latest->state);
            w.attend->setText(QString::number(history.checkIns));
            w.last->setText(history.lastDate ? shownDate(*history.lastDate) : QString());
            w.qso->clear();
        }
    }

    if (const std::optional<NetEntry> entry = storage.netLog().netEntryByCall(call)) {
        setClipped(w.name, entry->name);
        setClipped(w.city, entry->city);
        setClipped(w.state, entry->state);
        setClipped(w.qso, entry->comment);
        setClipped(w.relay, entry->relay);
    }
}

void CallSearch::showMembership(const QString &call)
{
    if (storage.roster().isMember(call)) {
        setPaletteOf(w.member, theme->good());
        w.member->setText(QStringLiteral("YES"));
    } else {
        setPaletteOf(w.member, theme->alert());
        w.member->setText(QStringLiteral("NO"));
    }
}

// No station: the entry and the dialog hold only what the search holds.
void CallSearch::clearContact()
{
    Ui::Contact *dialog = w.contact->ui;
    const QString searched = w.search->text().toUpper();
    dialog->call->setText(searched);
    for (QLineEdit *field :
         {dialog->fname, dialog->name, dialog->classlic, dialog->expire, dialog->addr, dialog->city, dialog->state,
          dialog->zip, dialog->country, dialog->email, dialog->phone, dialog->lat, dialog->lon, dialog->grid,
          dialog->geoloc, dialog->utc, dialog->tzOffset, dialog->dst, dialog->born}) {
        // Clearing an empty field still costs its signals.
        if (!field->text().isEmpty())
            field->clear();
    }

    w.call->setText(searched);
    w.name->clear();
    setPaletteOf(w.city, theme->good());
    w.city->clear();
    // The relay stays: it belongs to the net entry, not to the station shown.
    for (QLineEdit *field : {w.state, w.member, w.attend, w.last, w.qso, w.bear, w.revBear, w.dist}) {
        if (!field->text().isEmpty())
            field->clear();
    }
}

bool CallSearch::showCallBookRecord(const QString &call)
{
    Storage::Result read;
    const std::optional<CallBookRecord> record = host.callBookRecord(call, &read);
    if (!read.ok())
        host.reportReadFailure("Call book look-up of " + call, read);
    if (!record)
        return false;

    // Shown as a look-up would show it, with the FCC as the source; the
    // position is the ZIP code's centre, or none, and then the state's
    // centre stands in.
    Ui::Contact *dialog = w.contact->ui;
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

    setClipped(w.call, record->call);
    setClipped(w.name, first);
    setClipped(w.city, city);
    {
        const QSignalBlocker blocker(w.state);
        setClipped(w.state, record->state);
    }
    stateChanged(record->state);
    return true;
}

void CallSearch::stateChanged(const QString &state)
{
    // The contact; its stored coordinates only count while the state typed
    // is still the one they belong to.
    const Ui::Contact *dialog = w.contact->ui;
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
            host.reportReadFailure(QStringLiteral("Distance and bearing"), read);
        if (station) {
            stationLat = station->lat;
            stationLon = station->lon;
            if (!inContinent(stationLat, stationLon))
                useStateCentre(storage, station->state, stationLat, stationLon);
        }
    }

    if (std::fabs(stationLat) > NoCoordinate && std::fabs(stationLon) > NoCoordinate
        && std::fabs(contactLat) > NoCoordinate && std::fabs(contactLon) > NoCoordinate) {
        const BearingDistance there = greatCircle(stationLat, stationLon, contactLat, contactLon);
        w.dist->setText(QStringLiteral("%1").arg(there.distance, 6));
        w.bear->setText(QStringLiteral("%1").arg(there.bearing, 3));
        const BearingDistance back = greatCircle(contactLat, contactLon, stationLat, stationLon);
        w.revBear->setText(QStringLiteral("%1").arg(back.bearing, 3));
    } else {
        w.dist->clear();
        w.bear->clear();
        w.revBear->clear();
    }
}
