#pragma once

#include "maps/usmap.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

// The net map's view in numbers: which part of the canvas is shown at a
// zoom step, how it fits the window, which dot a click meets, and the
// distance rings. Values in, values out.
namespace MapGeometry {

inline QRectF canvas()
{
    return {0, 0, UsMap::Width, UsMap::Height};
}

// Each + or - key shows this much less or more.
inline constexpr double ZoomFactor = 1.5;
inline constexpr int MostZoomedIn = 8;

// The part of the canvas that holds every point with `margin` around it,
// never smaller than `least` across; the whole canvas without points.
QRectF extent(const QList<QPointF> &points, double margin = 30, double least = 120);

// `base` shown `steps` times closer (negative: farther), around its centre
// and kept on the canvas; never more than the whole canvas.
QRectF zoomed(const QRectF &base, int steps);

// Canvas to window: `shown` as large as `area` holds it, centred, the
// canvas's proportions kept.
QTransform fit(const QRectF &shown, const QRectF &area);

// The point nearest to `at` within `radius`, or -1.
int nearest(const QList<QPointF> &points, QPointF at, double radius);

struct Position {
    double lat = 0;
    double lon = 0;
};
// Where a great circle from `from` on `bearing` (degrees) ends after
// `miles` statute miles.
Position destination(Position from, double bearing, double miles);

// A ring of `miles` around `centre`, projected as `area` draws it.
QList<QPointF> ring(Position centre, double miles, UsMap::Area area, int steps = 90);

} // namespace MapGeometry
