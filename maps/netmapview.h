#pragma once

#include "maps/mapgeometry.h"
#include "maps/netplacement.h"
#include "maps/usmap.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QPainterPath>
#include <QPixmap>
#include <QRectF>
#include <QStringList>
#include <QWidget>

#include <optional>

// What the net map shows, as plain values: the controller fills it, the
// view paints it, on screen or into an image or a drawing.
struct NetMapScene {
    struct Dot {
        QString call;
        QPointF at; // on the canvas
        NetPlacement::Look look;
        // From this station, when it is placed; negative: none.
        int bearing = -1;
        // Drawn as a line: the station is on the same part of the map
        // (a line into an inset would point nowhere).
        bool bearingLine = false;
    };
    struct Ring {
        QList<QPointF> points; // on the canvas
        QString label;
    };
    struct Colours {
        QColor water, land, border, text, rings, bearings, highlight;
    };
    QList<Dot> dots;
    QStringList notPlaced;
    std::optional<QPointF> home;
    QList<Ring> rings;
    QString selected;
    QRectF shown = MapGeometry::canvas();
    bool bearings = false;
    Colours colours;
};

// Paints the states, the insets' frames, the distance rings, the bearing
// lines, this station and the net's stations with their calls, and the
// stations that could not be placed beneath. A click on a dot names its
// station.
class NetMapView : public QWidget {
    Q_OBJECT

public:
    explicit NetMapView(QWidget *parent = nullptr);

    // Once: the states' outlines on the canvas.
    void setOutlines(const QList<UsMap::Outline> &outlines);
    void setScene(const NetMapScene &scene);
    const NetMapScene &scene() const { return current; }

    // Where the canvas lands in a view of `size`.
    QTransform canvasToView(const QSize &size) const;
    QTransform canvasToView() const { return canvasToView(size()); }
    // The station whose dot is under `at`, or empty.
    QString callAt(QPointF at) const;

    // The whole view as it would paint at `size`; `vector` leaves out the
    // cached bitmap of the states (for a drawing that scales).
    void paintScene(QPainter &painter, const QSize &size, bool vector) const;

    QSize sizeHint() const override { return {975, 660}; }

signals:
    void dotClicked(const QString &call);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QRectF mapArea(const QSize &size) const;
    void paintStates(QPainter &painter, const QTransform &transform) const;
    void paintRingsAndBearings(QPainter &painter, const QTransform &transform) const;
    void paintDots(QPainter &painter, const QTransform &transform, const QRectF &area, bool vector) const;
    const QPixmap &sprite(const NetPlacement::Look &look) const;
    // A station's call where it finds room beside its dot, none where it finds none.
    struct Label {
        QString text;
        QRectF rect;
        bool selected = false;
    };
    QList<Label> placeLabels(const QTransform &transform, const QRectF &area) const;
    QString text(const NetMapScene::Dot &dot) const;
    // The legend and the stations not placed.
    void paintFooter(QPainter &painter, const QSize &size) const;
    // The states drawn once per size, zoom and theme: a key on the net
    // redraws only the dots over it.
    const QPixmap &background() const;

    QList<QPainterPath> states;
    QList<QRectF> insetFrames;
    NetMapScene current;
    mutable QPixmap cached;
    mutable QString cachedFor;
    mutable QHash<QString, QPixmap> sprites;
};
