#include "maps/usmap.h"

#include <QFile>
#include <QHash>

#include <cmath>

namespace UsMap {
namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double Radians = Pi / 180;
// The scale of the lower 48: pixels per radian on the canvas.
constexpr double Scale = 1300;

// A conic equal-area projection (Albers) on the sphere, turned so that
// `rotate` degrees east becomes its central meridian, with `center` (in the
// turned coordinates) drawn at `at` on the canvas.
struct Conic {
    double rotate;
    double centerLon;
    double centerLat;
    double parallel0;
    double parallel1;
    double scale;
    Point at;

    Point raw(double lambda, double phi) const
    {
        const double sy0 = std::sin(parallel0 * Radians);
        const double n = (sy0 + std::sin(parallel1 * Radians)) / 2;
        const double c = 1 + sy0 * (2 * n - sy0);
        const double r0 = std::sqrt(c) / n;
        const double r = std::sqrt(std::max(0.0, c - 2 * n * std::sin(phi))) / n;
        return {r * std::sin(lambda * n), r0 - r * std::cos(lambda * n)};
    }

    Point project(double lat, double lon) const
    {
        double lambda = lon + rotate;
        // Back into -180..180, so that the Aleutians beyond 180 degrees
        // stay beside the rest of Alaska.
        lambda = std::remainder(lambda, 360.0);
        const Point p = raw(lambda * Radians, lat * Radians);
        const Point c = raw(centerLon * Radians, centerLat * Radians);
        return {at.x + scale * (p.x - c.x), at.y - scale * (p.y - c.y)};
    }
};

// The canvas's middle, where the lower 48's centre lands.
constexpr Point Middle{487.5, 305};

const Conic &conic(Area area)
{
    static const Conic lower48{96, -0.6, 38.7, 29.5, 45.5, Scale, Middle};
    // Smaller than common maps draw it, so that the Aleutians fit beside.
    static const Conic alaska{
        154, -2, 58.5, 55, 65, Scale * 0.27, {Middle.x - 0.307 * Scale + 26, Middle.y + 0.201 * Scale}};
    static const Conic hawaii{157, -3, 19.9, 8, 18, Scale, {Middle.x - 0.205 * Scale, Middle.y + 0.212 * Scale}};
    static const Conic puertoRico{66, 0.5, 18.2, 8, 18, Scale, {890, 586}};
    static const Conic guam{-145.3, 0, 16.8, 10, 20, Scale * 0.35, {597, 575}};
    static const Conic samoa{170.0, 0, -14.2, -16, -10, Scale * 0.45, {670, 585}};
    switch (area) {
    case Area::Lower48:
        return lower48;
    case Area::Alaska:
        return alaska;
    case Area::Hawaii:
        return hawaii;
    case Area::PuertoRico:
        return puertoRico;
    case Area::Guam:
        return guam;
    case Area::Samoa:
        return samoa;
    }
    return lower48;
}

bool within(double value, double low, double high)
{
    return value >= low && value <= high;
}

} // namespace

std::optional<Area> areaOf(double lat, double lon)
{
    if (!std::isfinite(lat) || !std::isfinite(lon) || !within(lat, -90, 90) || !within(lon, -180, 180))
        return std::nullopt;
    if (lat > 50 && (lon < -129 || lon > 170))
        return Area::Alaska;
    if (within(lat, 18, 23.5) && within(lon, -161, -154))
        return Area::Hawaii;
    if (within(lat, 17, 19) && within(lon, -68.2, -64.3))
        return Area::PuertoRico;
    if (within(lat, 13, 21) && within(lon, 144, 147))
        return Area::Guam;
    if (within(lat, -15, -10.5) && within(lon, -172, -168))
        return Area::Samoa;
    if (within(lat, 23, 50) && within(lon, -126, -65))
        return Area::Lower48;
    return std::nullopt;
}

Area areaOfState(const QString &abbreviation)
{
    static const QHash<QString, Area> insets{
        {QStringLiteral("AK"), Area::Alaska},     {QStringLiteral("HI"), Area::Hawaii},
        {QStringLiteral("PR"), Area::PuertoRico}, {QStringLiteral("VI"), Area::PuertoRico},
        {QStringLiteral("GU"), Area::Guam},       {QStringLiteral("MP"), Area::Guam},
        {QStringLiteral("AS"), Area::Samoa}};
    return insets.value(abbreviation.toUpper(), Area::Lower48);
}

Point project(Area area, double lat, double lon)
{
    return conic(area).project(lat, lon);
}

std::optional<Point> place(double lat, double lon)
{
    const std::optional<Area> area = areaOf(lat, lon);
    if (!area)
        return std::nullopt;
    return project(*area, lat, lon);
}

std::optional<Frame> insetFrame(Area area)
{
    switch (area) {
    case Area::Lower48:
        return std::nullopt;
    case Area::Alaska:
        return Frame{0, 462, 210, 610};
    case Area::Hawaii:
        return Frame{210, 522, 338, 610};
    // Guam and Samoa in the Gulf of Mexico, south of the coast.
    case Area::Guam:
        return Frame{560, 540, 630, 610};
    case Area::Samoa:
        return Frame{640, 560, 700, 610};
    case Area::PuertoRico:
        return Frame{835, 556, 975, 610};
    }
    return std::nullopt;
}

QList<Outline> loadOutlines(const QString &path, QString *problem)
{
    const auto fail = [problem](const QString &why) {
        if (problem)
            *problem = why;
        return QList<Outline>();
    };
    QFile file(path);
    // The shipped file is about 230 kB; nothing near this is an outline file.
    constexpr qint64 MaxBytes = 4'000'000;
    constexpr int MaxPoints = 200'000;
    if (!file.open(QIODevice::ReadOnly))
        return fail(path + QStringLiteral(" cannot be read: ") + file.errorString());
    if (file.size() > MaxBytes)
        return fail(path + QStringLiteral(" is larger than an outline file can be."));
    QList<Outline> outlines;
    int points = 0;
    int lineNumber = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(MaxBytes).trimmed();
        ++lineNumber;
        const auto bad = [&](const char *what) {
            return fail(QStringLiteral("%1, line %2: %3.").arg(path).arg(lineNumber).arg(QLatin1String(what)));
        };
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith("S ")) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() < 4 || parts.at(1).size() != 2 || parts.at(2).size() != 2)
                return bad("a state line without its code, abbreviation and name");
            Outline outline;
            outline.fips = QString::fromLatin1(parts.at(1));
            outline.abbreviation = QString::fromLatin1(parts.at(2));
            outline.name =
                QString::fromUtf8(line.mid(parts.at(0).size() + parts.at(1).size() + parts.at(2).size() + 3));
            outlines.append(outline);
        } else if (line == "P") {
            if (outlines.isEmpty())
                return bad("a polygon before its state");
            outlines.last().ringsPerPolygon.append(0);
        } else if (line.startsWith("R ")) {
            if (outlines.isEmpty() || outlines.last().ringsPerPolygon.isEmpty())
                return bad("a ring outside a polygon");
            const QList<QByteArray> numbers = line.mid(2).split(' ');
            if (numbers.size() < 6 || numbers.size() % 2 != 0)
                return bad("a ring without three points");
            Outline &outline = outlines.last();
            const Area area = areaOfState(outline.abbreviation);
            QList<Point> ring;
            ring.reserve(numbers.size() / 2);
            for (int i = 0; i < numbers.size(); i += 2) {
                bool lonOk = false;
                bool latOk = false;
                const double lon = numbers.at(i).toDouble(&lonOk);
                const double lat = numbers.at(i + 1).toDouble(&latOk);
                if (!lonOk || !latOk || !within(lon, -180, 180) || !within(lat, -90, 90))
                    return bad("a point that is no longitude and latitude");
                ring.append(project(area, lat, lon));
            }
            points += int(ring.size());
            if (points > MaxPoints)
                return fail(path + QStringLiteral(" holds more points than an outline file can."));
            outline.polygons.append(ring);
            ++outline.ringsPerPolygon.last();
        } else {
            return bad("a line that is not a state, polygon or ring");
        }
    }
    if (outlines.isEmpty())
        return fail(path + QStringLiteral(" holds no outlines."));
    return outlines;
}

namespace {

bool inside(const QList<Point> &ring, Point p)
{
    bool in = false;
    for (qsizetype i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        const Point &a = ring.at(i);
        const Point &b = ring.at(j);
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
            in = !in;
    }
    return in;
}

} // namespace

QString stateAt(const QList<Outline> &outlines, Point point)
{
    for (const Outline &outline : outlines) {
        int ring = 0;
        for (const int rings : outline.ringsPerPolygon) {
            // In the outline and in none of its holes.
            bool in = rings > 0 && inside(outline.polygons.at(ring), point);
            for (int hole = 1; in && hole < rings; ++hole)
                in = !inside(outline.polygons.at(ring + hole), point);
            if (in)
                return outline.abbreviation;
            ring += rings;
        }
    }
    return QString();
}

} // namespace UsMap
