#include "maps/netmapview.h"

#include <QFontMetricsF>
#include <QHash>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

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

void drawDot(QPainter &painter, QPointF at, const NetPlacement::Look &look, double radius)
{
    if (look.filled) {
        painter.setPen(QPen(look.edge, 1.2));
        painter.setBrush(look.fill);
        painter.drawEllipse(at, radius, radius);
        return;
    }
    // Not checked in: a ring of the dot's colour around the line's other
    // colour, so that it reads apart from a check-in and no line shows through.
    painter.setPen(QPen(look.fill, 2.5));
    painter.setBrush(look.edge);
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

namespace {

// Rectangles already taken by dots and calls, by cells of the view, so that
// a call finds its room among hundreds without trying every one.
class LabelSpace {
public:
    bool isFree(const QRectF &rect) const
    {
        bool free = true;
        visit(rect, [&](quint64 cell) {
            const auto found = cells.constFind(cell);
            if (found != cells.cend())
                free = free && std::none_of(found->cbegin(), found->cend(), [&](const QRectF &t) {
                           return t.intersects(rect);
                       });
        });
        return free;
    }
    void take(const QRectF &rect)
    {
        visit(rect, [&](quint64 cell) { cells[cell].append(rect); });
    }

private:
    static constexpr double Cell = 64;
    template <typename F>
    static void visit(const QRectF &rect, F f)
    {
        for (int x = int(std::floor(rect.left() / Cell)); x <= int(std::floor(rect.right() / Cell)); ++x)
            for (int y = int(std::floor(rect.top() / Cell)); y <= int(std::floor(rect.bottom() / Cell)); ++y)
                f((quint64(quint32(x)) << 32) | quint32(y));
    }
    QHash<quint64, QList<QRectF>> cells;
};

} // namespace

QList<NetMapView::Label> NetMapView::placeLabels(const QTransform &transform, const QRectF &area) const
{
    const QFontMetricsF metrics(font());
    LabelSpace space;
    for (const NetMapScene::Dot &dot : current.dots)
        space.take(QRectF(transform.map(dot.at) - QPointF(DotRadius, DotRadius), QSizeF(2 * DotRadius, 2 * DotRadius)));
    QList<Label> labels;
    labels.reserve(current.dots.size());
    const double gap = DotRadius + 3;
    const auto placeOne = [&](const NetMapScene::Dot &dot) {
        const QPointF at = transform.map(dot.at);
        Label label{text(dot), {}, dot.call == current.selected};
        const QSizeF box(metrics.horizontalAdvance(label.text), metrics.height());
        // Right of the dot, left, above, below: the first place that is free.
        for (const QPointF corner :
             {at + QPointF(gap, -box.height() / 2), at - QPointF(gap + box.width(), box.height() / 2),
              at + QPointF(-box.width() / 2, -gap - box.height()), at + QPointF(-box.width() / 2, gap)}) {
            const QRectF rect(corner, box);
            if (area.contains(rect) && space.isFree(rect)) {
                space.take(rect);
                label.rect = rect;
                labels.append(label);
                return;
            }
        }
    };
    // The selected station first, so that its call always finds room.
    for (const NetMapScene::Dot &dot : current.dots)
        if (dot.call == current.selected)
            placeOne(dot);
    for (const NetMapScene::Dot &dot : current.dots)
        if (dot.call != current.selected)
            placeOne(dot);
    return labels;
}

QString NetMapView::text(const NetMapScene::Dot &dot) const
{
    QString text = dot.call;
    // A role's code, as the net list shows it; a plain check-in is told by its filled dot.
    if (!dot.look.code.startsWith(QLatin1Char('-')))
        text += QLatin1Char(' ') + dot.look.code;
    if (current.bearings && dot.bearing >= 0)
        text += QStringLiteral(" %1\u00B0").arg(dot.bearing);
    return text;
}

const QPixmap &NetMapView::sprite(const NetPlacement::Look &look) const
{
    const QString key = look.fill.name(QColor::HexArgb) + look.edge.name(QColor::HexArgb) + (look.filled ? 'F' : 'O');
    auto found = sprites.find(key);
    if (found != sprites.end())
        return *found;
    // A few looks per theme; a bound all the same.
    if (sprites.size() > 64)
        sprites.clear();
    const qreal ratio = devicePixelRatioF();
    const double side = 2 * (DotRadius + 4);
    QPixmap pixmap(QSize(int(side * ratio), int(side * ratio)));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    drawDot(painter, QPointF(side / 2, side / 2), look, DotRadius);
    return *sprites.insert(key, pixmap);
}

void NetMapView::paintDots(QPainter &painter, const QTransform &transform, const QRectF &area, bool vector) const
{
    const QList<Label> labels = placeLabels(transform, area);
    if (current.home)
        drawHome(painter, transform.map(*current.home), current.colours);
    const NetMapScene::Dot *selected = nullptr;
    const double half = DotRadius + 4;
    for (const NetMapScene::Dot &dot : current.dots) {
        if (!current.selected.isEmpty() && dot.call == current.selected)
            selected = &dot;
        else if (vector)
            drawDot(painter, transform.map(dot.at), dot.look, DotRadius);
        // Hundreds of dots of a few looks: each look drawn once.
        else
            painter.drawPixmap(transform.map(dot.at) - QPointF(half, half), sprite(dot.look));
    }
    // On top of the others, ringed.
    if (selected) {
        const QPointF at = transform.map(selected->at);
        painter.setPen(QPen(current.colours.highlight, 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(at, DotRadius + 5, DotRadius + 5);
        drawDot(painter, at, selected->look, DotRadius);
    }

    const QFontMetricsF metrics(font());
    QColor paper = current.colours.water;
    paper.setAlpha(170);
    painter.setPen(current.colours.text);
    for (const Label &label : labels) {
        // Lines under a call would cross it out.
        if (current.bearings)
            painter.fillRect(label.rect, paper);
        if (label.selected) {
            QFont bold = font();
            bold.setBold(true);
            painter.setFont(bold);
            painter.setPen(current.colours.highlight);
        }
        painter.drawText(QPointF(label.rect.left(), label.rect.top() + metrics.ascent()), label.text);
        if (label.selected) {
            painter.setFont(font());
            painter.setPen(current.colours.text);
        }
    }
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
    paintDots(painter, transform, area, vector);
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
