#pragma once

#include <QList>
#include <QString>

#include <optional>

// The United States as common maps draw them, on a canvas of 975 x 610:
// the lower 48 states in an Albers equal-area projection, Alaska (at a
// third of the scale), Hawaii, Puerto Rico with the Virgin Islands, Guam
// with the Northern Marianas, and American Samoa in insets along the
// bottom. Both the outlines (info/US_States.txt) and the stations go
// through project(), so that a station always lands in its state.
namespace UsMap {

inline constexpr double Width = 975;
inline constexpr double Height = 610;

enum class Area { Lower48, Alaska, Hawaii, PuertoRico, Guam, Samoa };

struct Point {
    double x = 0;
    double y = 0;
};

// The area a place belongs to by its coordinates (degrees, west and
// south negative), or none: far from every part of the country.
std::optional<Area> areaOf(double lat, double lon);
// The area a state's or territory's outline is drawn in, by its
// abbreviation ("AK", "PR", ...).
Area areaOfState(const QString &abbreviation);

// Where the place lands on the canvas in `area`'s projection.
Point project(Area area, double lat, double lon);
// Both in one: none when the place is in no area.
std::optional<Point> place(double lat, double lon);

// The frame of an inset (none for the lower 48), for drawing its border.
struct Frame {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
};
std::optional<Frame> insetFrame(Area area);

// One state or territory, its outlines projected.
struct Outline {
    QString fips;
    QString abbreviation;
    QString name;
    // Rings: each polygon's outer ring first, then its holes, in order.
    QList<QList<Point>> polygons;
    // How many rings each polygon has (the first of them is its outline).
    QList<int> ringsPerPolygon;
};

// The outlines of info/US_States.txt, projected; empty with `problem` set
// when the file is missing, too large or not in its format.
QList<Outline> loadOutlines(const QString &path, QString *problem = nullptr);

// The state whose outline holds the canvas point, or empty.
QString stateAt(const QList<Outline> &outlines, Point point);

} // namespace UsMap
