#include "maps/netmapview.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>

namespace {

constexpr double DotRadius = 5;
// A click this near a dot's centre selects it.
constexpr double HitRadius = 9;
constexpr double FooterPad = 6;

QString key(const QSize &size, const NetMapScene &scene, qreal ratio)
{
    const NetMapScene::Colours &c = scene.colours;
    return QStringLiteral("%1x%2@%3 %4,%5,%6,%7 %8 %9 %10")
        .arg(size.width())
        .arg(size.height())
        .arg(ratio)
        .arg(scene.shown.x())
        .arg(scene.shown.y())
        .arg(scene.shown.width())
        .arg(scene.shown.height())
        .arg(c.water.name(), c.land.name(), c.border.name());
}

QString footerText(const NetMapScene &scene)
{
    return QStringLiteral("Not placed: ") + scene.notPlaced.join(QStringLiteral(", "));
}

QString label(const NetMapScene::Dot &dot, bool bearings)
{
    QString text = dot.call;
    // A role's code, as the net list shows it; a plain check-in is told by its filled dot.
    if (!dot.look.code.startsWith(QLatin1Char('-')))
        text += QLatin1Char(' ') + dot.look.code;
    if (bearings && dot.bearing >= 0)
        text += QStringLiteral(" %1\u00B0").arg(dot.bearing);
    return text;
}

void drawDot(QPainter &painter, QPointF at, const NetPlacement::Look &look, double radius)
{
    if (look.filled) {
        painter.setPen(QPen(look.edge, 1.2));
        painter.setBrush(look.fill);
        painter.drawEllipse(at, radius, radius);
        return;
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(look.edge, 1));
    painter.drawEllipse(at, radius + 1.5, radius + 1.5);
    painter.setPen(QPen(look.fill, 2.5));
    painter.drawEllipse(at, radius, radius);
}

void drawHome(QPainter &painter, QPointF at, const NetMapScene::Colours &c)
{
    const double r = 7;
    const QPolygonF diamond{{at.x(), at.y() - r}, {at.x() + r, at.y()}, {at.x(), at.y() + r}, {at.x() - r, at.y()}};
    painter.setPen(QPen(c.water, 1.5));
    painter.setBrush(c.text);
    painter.drawPolygon(diamond);
}

} // namespace

NetMapView::NetMapView(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 220);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void NetMapView::setOutlines(const QList<UsMap::Outline> &outlines)
{
    states.clear();
    for (const UsMap::Outline &outline : outlines) {
        QPainterPath path;
        path.setFillRule(Qt::OddEvenFill);
        for (const QList<UsMap::Point> &ring : outline.polygons) {
            QPolygonF polygon;
            polygon.reserve(ring.size());
            for (const UsMap::Point &p : ring)
                polygon.append({p.x, p.y});
            path.addPolygon(polygon);
            path.closeSubpath();
        }
        states.append(path);
    }
    insetFrames.clear();
    for (const UsMap::Area area :
         {UsMap::Area::Alaska, UsMap::Area::Hawaii, UsMap::Area::PuertoRico, UsMap::Area::Guam, UsMap::Area::Samoa}) {
        const UsMap::Frame f = *UsMap::insetFrame(area);
        insetFrames.append(QRectF(QPointF(f.left, f.top), QPointF(f.right, f.bottom)));
    }
    cachedFor.clear();
    update();
}

void NetMapView::setScene(const NetMapScene &scene)
{
    current = scene;
    update();
}

QRectF NetMapView::mapArea(const QSize &size) const
{
    // Beneath the map: the legend's line, then the stations not placed.
    const QFontMetricsF metrics(font());
    double footer = metrics.height() + 2 * FooterPad;
    if (!current.notPlaced.isEmpty()) {
        const QRectF text = metrics.boundingRect(QRectF(0, 0, std::max(1, size.width()) - 2 * FooterPad, 10000),
                                                 Qt::TextWordWrap, footerText(current));
        footer += text.height() + 2;
    }
    footer = std::min(footer, size.height() / 3.0);
    return {0, 0, double(size.width()), std::max(1.0, size.height() - footer)};
}

QTransform NetMapView::canvasToView(const QSize &size) const
{
    return MapGeometry::fit(current.shown, mapArea(size));
}

QString NetMapView::callAt(QPointF at) const
{
    const QTransform transform = canvasToView();
    QList<QPointF> points;
    points.reserve(current.dots.size());
    for (const NetMapScene::Dot &dot : current.dots)
        points.append(transform.map(dot.at));
    const int found = MapGeometry::nearest(points, at, HitRadius);
    return found < 0 ? QString() : current.dots.at(found).call;
}

void NetMapView::paintStates(QPainter &painter, const QTransform &transform) const
{
    painter.save();
    painter.setTransform(transform, true);
    QPen border(current.colours.border, 0.8);
    border.setCosmetic(true);
    painter.setPen(border);
    painter.setBrush(current.colours.land);
    for (const QPainterPath &state : states)
        painter.drawPath(state);
    painter.setBrush(Qt::NoBrush);
    for (const QRectF &frame : insetFrames)
        painter.drawRect(frame);
    painter.restore();
}

const QPixmap &NetMapView::background() const
{
    const qreal ratio = devicePixelRatioF();
    const QString wanted = key(size(), current, ratio);
    if (wanted != cachedFor) {
        cached = QPixmap(size() * ratio);
        cached.setDevicePixelRatio(ratio);
        cached.fill(current.colours.water);
        QPainter painter(&cached);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setClipRect(mapArea(size()));
        paintStates(painter, canvasToView());
        cachedFor = wanted;
    }
    return cached;
}

void NetMapView::paintRingsAndBearings(QPainter &painter, const QTransform &transform) const
{
    if (!current.home)
        return;
    const QPointF home = transform.map(*current.home);
    QPen ringPen(current.colours.rings, 1, Qt::DashLine);
    painter.setBrush(Qt::NoBrush);
    for (const NetMapScene::Ring &ring : current.rings) {
        painter.setPen(ringPen);
        QPolygonF line;
        line.reserve(ring.points.size());
        for (const QPointF &p : ring.points)
            line.append(transform.map(p));
        painter.drawPolyline(line);
        // The label at the ring's top, where the first point lies (bearing 0).
        if (!line.isEmpty()) {
            painter.setPen(current.colours.rings);
            painter.drawText(line.first() + QPointF(3, -3), ring.label);
        }
    }
    if (!current.bearings)
        return;
    painter.setPen(QPen(current.colours.bearings, 1.2));
    for (const NetMapScene::Dot &dot : current.dots) {
        if (dot.bearingLine)
            painter.drawLine(home, transform.map(dot.at));
    }
}

void NetMapView::paintDots(QPainter &painter, const QTransform &transform, const QRectF &area) const
{
    const QFontMetricsF metrics(font());
    QList<QRectF> taken;
    const auto place = [&](const QPointF &at, const QString &text) -> std::optional<QRectF> {
        const QSizeF box = metrics.size(Qt::TextSingleLine, text);
        const double gap = DotRadius + 3;
        for (const QPointF corner :
             {at + QPointF(gap, -box.height() / 2), at - QPointF(gap + box.width(), box.height() / 2),
              at + QPointF(-box.width() / 2, -gap - box.height()), at + QPointF(-box.width() / 2, gap)}) {
            const QRectF rect(corner, box);
            if (!area.contains(rect))
                continue;
            if (std::none_of(taken.cbegin(), taken.cend(), [&](const QRectF &t) { return t.intersects(rect); }))
                return rect;
        }
        return std::nullopt;
    };

    // The selected station first, so that its call always finds room.
    QList<int> order;
    order.reserve(current.dots.size());
    for (int i = 0; i < current.dots.size(); ++i)
        (current.dots.at(i).call == current.selected ? order.prepend(i) : order.append(i));

    for (int i : std::as_const(order)) {
        const NetMapScene::Dot &dot = current.dots.at(i);
        const QPointF at = transform.map(dot.at);
        taken.append(QRectF(at - QPointF(DotRadius, DotRadius), QSizeF(2 * DotRadius, 2 * DotRadius)));
    }
    if (current.home)
        drawHome(painter, transform.map(*current.home), current.colours);

    QFont bold = font();
    bold.setBold(true);
    for (int i : std::as_const(order)) {
        const NetMapScene::Dot &dot = current.dots.at(i);
        const QPointF at = transform.map(dot.at);
        const bool selected = !current.selected.isEmpty() && dot.call == current.selected;
        if (selected) {
            painter.setPen(QPen(current.colours.highlight, 3));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(at, DotRadius + 5, DotRadius + 5);
        }
        drawDot(painter, at, dot.look, DotRadius);
        const QString text = label(dot, current.bearings);
        if (const std::optional<QRectF> rect = place(at, text)) {
            taken.append(*rect);
            painter.setFont(selected ? bold : font());
            // Lines under a call would cross it out.
            if (current.bearings) {
                QColor paper = current.colours.water;
                paper.setAlpha(170);
                painter.fillRect(*rect, paper);
            }
            painter.setPen(selected ? current.colours.highlight : current.colours.text);
            painter.drawText(*rect, Qt::AlignLeft | Qt::AlignVCenter, text);
        }
    }
    painter.setFont(font());
}

void NetMapView::paintFooter(QPainter &painter, const QSize &size) const
{
    const QRectF area = mapArea(size);
    painter.setPen(QPen(current.colours.border, 1));
    painter.drawLine(QPointF(0, area.bottom()), QPointF(size.width(), area.bottom()));

    // The legend: each kind of dot with the look the net gives it, the
    // theme's plain colours where the net has none of that kind.
    const NetMapScene::Colours &c = current.colours;
    QList<NetPlacement::Look> looks(4, NetPlacement::Look{QString(), c.text, c.water, true});
    looks[1].filled = false;
    for (const NetMapScene::Dot &dot : current.dots) {
        const QString &code = dot.look.code;
        const int kind = code.startsWith(QLatin1Char('N'))   ? 2
                         : code.startsWith(QLatin1Char('R')) ? 3
                         : dot.look.filled                   ? 0
                                                             : 1;
        looks[kind] = dot.look;
        looks[kind].filled = kind != 1;
    }
    const QStringList texts{QStringLiteral("checked in"), QStringLiteral("not checked in"),
                            QStringLiteral("net control"), QStringLiteral("relay"), QStringLiteral("this station")};
    const QFontMetricsF metrics(font());
    const double line = metrics.height();
    double x = FooterPad + DotRadius + 2;
    const double y = area.bottom() + FooterPad + line / 2;
    for (int i = 0; i < texts.size(); ++i) {
        if (i < looks.size())
            drawDot(painter, QPointF(x, y), looks.at(i), DotRadius);
        else
            drawHome(painter, QPointF(x, y), c);
        painter.setPen(c.text);
        painter.drawText(QPointF(x + DotRadius + 5, y + metrics.ascent() / 2 - 1), texts.at(i));
        x += DotRadius + 5 + metrics.horizontalAdvance(texts.at(i)) + 18;
    }
    if (current.notPlaced.isEmpty())
        return;
    const QRectF rest(FooterPad, area.bottom() + FooterPad + line + 2, size.width() - 2 * FooterPad,
                      size.height() - area.bottom() - 2 * FooterPad - line - 2);
    painter.drawText(rest, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, footerText(current));
}

void NetMapView::paintScene(QPainter &painter, const QSize &size, bool vector) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font());
    const QRectF area = mapArea(size);
    const QTransform transform = canvasToView(size);
    if (vector || size != this->size()) {
        painter.fillRect(QRectF(QPointF(0, 0), QSizeF(size)), current.colours.water);
        painter.save();
        painter.setClipRect(area);
        paintStates(painter, transform);
        painter.restore();
    } else {
        painter.drawPixmap(0, 0, background());
    }
    painter.save();
    painter.setClipRect(area);
    paintRingsAndBearings(painter, transform);
    paintDots(painter, transform, area);
    painter.restore();
    paintFooter(painter, size);
}

void NetMapView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintScene(painter, size(), false);
}

void NetMapView::mousePressEvent(QMouseEvent *event)
{
    const QString call = callAt(event->position());
    if (!call.isEmpty() && event->button() == Qt::LeftButton)
        emit dotClicked(call);
    QWidget::mousePressEvent(event);
}
