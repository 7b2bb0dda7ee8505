#pragma once

#include "maps/mapgeometry.h"

#include <QColor>
#include <QString>

#include <functional>
#include <optional>

struct ThemeColours;
struct NetLineFallback;

// Where the net map puts a station, and how it marks it. Values in, values
// out: the look-ups of ZIP and state centres are handed in.
namespace NetPlacement {

using Position = MapGeometry::Position;

enum class Source { Contact, Zip, State, None };

struct Station {
    // The state typed for tonight's entry; the contact row's state, its
    // position and ZIP code, as stored (text).
    QString entryState, contactState, lat, lon, zip;
};

struct Placed {
    Source source = Source::None;
    Position at;
};

using Lookup = std::function<std::optional<Position>(const QString &)>;

// The contact's own position, else its ZIP code's centre, else the state's
// centre, else none. The contact's position and ZIP code count only while
// tonight's state is theirs (a station away from home is placed in the
// state it gave), and only where they lie on the map.
Placed place(const Station &station, const Lookup &zipCentre, const Lookup &stateCentre);

// How a station's dot looks, after its line in the net list: its two
// letters ("NC", "R-", "TC" ...), the ink and the paper of the line.
// Checked-in stations are filled dots, the others (withdrawn, or not yet
// checked in) rings.
struct Look {
    QString code;
    QColor fill;
    QColor edge;
    bool filled = false;
};
// `fallback`: the colours of an unthemed window.
Look look(int status, const ThemeColours &colours, const NetLineFallback &fallback);

} // namespace NetPlacement
