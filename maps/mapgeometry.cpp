#include "maps/mapgeometry.h"

#include <QLineF>

#include <algorithm>
#include <cmath>

namespace MapGeometry {

namespace {
constexpr double Pi = 3.14159265358979323846;
constexpr double Radians = Pi / 180;
// Statute miles, as every bearing and distance of the program.
constexpr double EarthRadius = 3959;
} // namespace

QRectF extent(const QList<QPointF> &points, double margin, double least)
{
    if (points.isEmpty())
        return canvas();
    double left = points.first().x();
    double right = left;
    double top = points.first().y();
    double bottom = top;
    for (const QPointF &p : points) {
        left = std::min(left, p.x());
        right = std::max(right, p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    QRectF box(QPointF(left - margin, top - margin), QPointF(right + margin, bottom + margin));
    const QPointF centre = box.center();
    box.setWidth(std::max(box.width(), least));
    box.setHeight(std::max(box.height(), least * UsMap::Height / UsMap::Width));
    box.moveCenter(centre);
    return zoomed(box, 0);
}

QRectF zoomed(const QRectF &base, int steps)
{
    const double scale = std::pow(ZoomFactor, -steps);
    const QRectF whole = canvas();
    QRectF shown(0, 0, base.width() * scale, base.height() * scale);
    if (shown.width() >= whole.width() && shown.height() >= whole.height())
        return whole;
    shown.setWidth(std::min(shown.width(), whole.width()));
    shown.setHeight(std::min(shown.height(), whole.height()));
    shown.moveCenter(base.center());
    // Slid back onto the canvas rather than showing the paper beside it.
    if (shown.left() < whole.left())
        shown.moveLeft(whole.left());
    if (shown.right() > whole.right())
        shown.moveRight(whole.right());
    if (shown.top() < whole.top())
        shown.moveTop(whole.top());
    if (shown.bottom() > whole.bottom())
        shown.moveBottom(whole.bottom());
    return shown;
}

QTransform fit(const QRectF &shown, const QRectF &area)
{
    if (shown.isEmpty() || area.isEmpty())
        return {};
    const double scale = std::min(area.width() / shown.width(), area.height() / shown.height());
    QTransform transform;
    transform.translate(area.center().x(), area.center().y());
    transform.scale(scale, scale);
    transform.translate(-shown.center().x(), -shown.center().y());
    return transform;
}

int nearest(const QList<QPointF> &points, QPointF at, double radius)
{
    int found = -1;
    double best = radius;
    for (int i = 0; i < points.size(); ++i) {
        const double d = QLineF(points.at(i), at).length();
        if (d <= best) {
            best = d;
            found = i;
        }
    }
    return found;
}

Position destination(Position from, double bearing, double miles)
{
    const double phi1 = from.lat * Radians;
    const double lambda1 = from.lon * Radians;
    const double theta = bearing * Radians;
    const double delta = miles / EarthRadius;
    const double phi2 =
        std::asin(std::sin(phi1) * std::cos(delta) + std::cos(phi1) * std::sin(delta) * std::cos(theta));
    const double lambda2 = lambda1
                           + std::atan2(std::sin(theta) * std::sin(delta) * std::cos(phi1),
                                        std::cos(delta) - std::sin(phi1) * std::sin(phi2));
    return {phi2 / Radians, std::remainder(lambda2 / Radians, 360.0)};
}

QList<QPointF> ring(Position centre, double miles, UsMap::Area area, int steps)
{
    QList<QPointF> points;
    points.reserve(steps + 1);
    for (int i = 0; i <= steps; ++i) {
        const Position p = destination(centre, 360.0 * i / steps, miles);
        const UsMap::Point at = UsMap::project(area, p.lat, p.lon);
        points.append({at.x, at.y});
    }
    return points;
}

} // namespace MapGeometry
