#include "maps/netplacement.h"

#include "app/themes.h"
#include "checkin/netrules.h"
#include "maps/usmap.h"

#include <cmath>

namespace NetPlacement {

namespace {

// A stored coordinate this close to zero is an empty field, as the contact
// display takes it.
constexpr double NoCoordinate = 0.1;

std::optional<Position> storedPosition(const QString &lat, const QString &lon)
{
    bool latOk = false;
    bool lonOk = false;
    const double la = lat.trimmed().toDouble(&latOk);
    const double lo = lon.trimmed().toDouble(&lonOk);
    if (!latOk || !lonOk || std::fabs(la) < NoCoordinate || std::fabs(lo) < NoCoordinate)
        return std::nullopt;
    return Position{la, lo};
}

bool onMap(const Position &p)
{
    return UsMap::areaOf(p.lat, p.lon).has_value();
}

} // namespace

Placed place(const Station &station, const Lookup &zipCentre, const Lookup &stateCentre)
{
    const QString tonight = station.entryState.trimmed().toUpper();
    const QString home = station.contactState.trimmed().toUpper();
    const bool atHome = tonight.isEmpty() || home.isEmpty() || tonight == home;
    if (atHome) {
        if (const std::optional<Position> own = storedPosition(station.lat, station.lon); own && onMap(*own))
            return {Source::Contact, *own};
        const QString zip = station.zip.trimmed();
        if (!zip.isEmpty() && zipCentre) {
            if (const std::optional<Position> centre = zipCentre(zip); centre && onMap(*centre))
                return {Source::Zip, *centre};
        }
    }
    const QString state = tonight.isEmpty() ? home : tonight;
    if (!state.isEmpty() && stateCentre) {
        if (const std::optional<Position> centre = stateCentre(state); centre && onMap(*centre))
            return {Source::State, *centre};
    }
    return {};
}

Look look(int status, const ThemeColours &c, const NetLineFallback &f)
{
    using NetRules::Paper;
    const NetRules::Line line = NetRules::netLine(status, false);
    const QColor ink = netInk(c, line.ink, f);
    Look look;
    look.code = line.code;
    look.filled = status & NetRules::CheckedIn;
    // A line with paper of its own (net control, a relay) is known by its
    // paper; the dot wears it, edged with the line's ink.
    switch (line.paper) {
    case Paper::Ncs:
    case Paper::Relay:
        look.fill = netPaper(c, line.paper, f);
        look.edge = ink;
        break;
    case Paper::Normal:
    case Paper::Active:
        look.fill = ink;
        look.edge = netPaper(c, Paper::Normal, f);
        break;
    }
    return look;
}

} // namespace NetPlacement
