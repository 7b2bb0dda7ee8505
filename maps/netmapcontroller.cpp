#include "maps/netmapcontroller.h"

#include "app/constants.h"
#include "app/prompter.h"
#include "app/themes.h"
#include "app/windowsettings.h"
#include "callbook/callbookimport.h"
#include "checkin/textrules.h"
#include "data/storage.h"
#include "files/filewriting.h"

#include <QBuffer>
#include <QDate>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QStatusBar>
#include <QSvgGenerator>
#include <QVBoxLayout>

namespace {

const char MapFilter[] = "PNG Images (*.png);;SVG Drawings (*.svg);;All Files (*.*)";
constexpr int RingMiles[] = {100, 250, 500};

std::optional<NetPlacement::Position> toPosition(const std::optional<Coordinates> &c)
{
    if (!c)
        return std::nullopt;
    return NetPlacement::Position{c->lat, c->lon};
}

QPointF onCanvas(const NetPlacement::Position &p)
{
    const std::optional<UsMap::Point> at = UsMap::place(p.lat, p.lon);
    return at ? QPointF(at->x, at->y) : QPointF();
}

} // namespace

NetMapController::NetMapController(const Widgets &widgets, Storage &store, const ThemeState *themeState, Host hooks,
                                   QObject *parent)
    : QObject(parent), w(widgets), storage(store), theme(themeState), host(std::move(hooks))
{
    // A window of its own, without a parent, as the other windows.
    mapWindow = new QWidget();
    mapWindow->setObjectName(QStringLiteral("netMapWindow"));
    mapWindow->setWindowTitle(QStringLiteral("Net Map"));
    mapWindow->resize(975, 660);
    auto *layout = new QVBoxLayout(mapWindow);
    layout->setContentsMargins(0, 0, 0, 0);
    mapView = new NetMapView(mapWindow);
    mapView->setObjectName(QStringLiteral("netMapView"));
    layout->addWidget(mapView);
    mapView->installEventFilter(this);
    mapWindow->installEventFilter(this);
    connect(mapView, &NetMapView::dotClicked, this, [this](const QString &call) {
        host.selectCall(call);
        host.activateMain();
    });
    WindowSettings::restore(*mapWindow, QString::fromLatin1(Trel::Group::NetMap));
    connect(theme, &ThemeState::changed, this, &NetMapController::refresh);
}

NetMapController::~NetMapController()
{
    delete mapWindow;
}

void NetMapController::reopenWindow()
{
    // Another data directory: an open map shows its net.
    if (mapWindow->isVisible()) {
        refresh();
        return;
    }
    if (WindowSettings::restore(*mapWindow, QString::fromLatin1(Trel::Group::NetMap)).visible
        == QLatin1String(Trel::Yes))
        showMap();
}

void NetMapController::writeWindowSettings()
{
    WindowSettings::save(*mapWindow, QString::fromLatin1(Trel::Group::NetMap), mapWindow->isVisible());
}

void NetMapController::showMap()
{
    if (!outlinesLoaded) {
        QString problem;
        const QList<UsMap::Outline> outlines =
            UsMap::loadOutlines(host.infoDir().filePath(QString::fromLatin1(Trel::StateOutlines)), &problem);
        // Without the states the stations still stand where they are.
        if (outlines.isEmpty())
            emit errorLine(QStringLiteral("Net Map: ") + problem);
        mapView->setOutlines(outlines);
        outlinesLoaded = true;
    }
    // Opened at the net's stations; the zoom of an earlier look is not kept.
    wholeMap = false;
    zoomSteps = 0;
    mapWindow->show();
    mapWindow->raise();
    refresh();
    mapView->setFocus(Qt::OtherFocusReason);
}

void NetMapController::refresh()
{
    // A hidden map is brought up to date when it is shown.
    if (!mapWindow->isVisible())
        return;
    gather();
    applyZoom();
    scene.colours = colours();
    mapView->setScene(scene);
}

void NetMapController::contactShown(const QString &call, int type)
{
    const QString selected = type == 0 ? QString() : call.trimmed().toUpper();
    if (selected == scene.selected)
        return;
    scene.selected = selected;
    if (mapWindow->isVisible())
        mapView->setScene(scene);
}

std::optional<NetPlacement::Position> NetMapController::zipCentre(const QString &zip)
{
    if (!zipsLoaded) {
        zipsLoaded = true;
        // Without the table, stations fall back on their states' centres.
        const QString path = host.infoDir().filePath(QString::fromLatin1(CallBook::ZipCentresFile));
        if (QFileInfo::exists(path))
            zips.load(path);
    }
    double lat = 0;
    double lon = 0;
    if (!zips.find(Fcc::zip5(zip.toLatin1()), lat, lon))
        return std::nullopt;
    return NetPlacement::Position{lat, lon};
}

void NetMapController::gather()
{
    Storage::Result read;
    const QList<NetLogStore::MappedEntry> entries = storage.netLog().mappedEntries(&read);
    if (!read.ok() && storage.contactsOpen())
        emit errorLine(QStringLiteral("Net Map: the net could not be read: ") + read.error);

    QHash<QString, std::optional<NetPlacement::Position>> states;
    const NetPlacement::Lookup stateCentre = [&](const QString &state) {
        auto found = states.find(state);
        if (found == states.end())
            found = states.insert(state, toPosition(storage.stateCentre(state)));
        return *found;
    };
    const NetPlacement::Lookup zipLookup = [this](const QString &zip) { return zipCentre(zip); };

    placeHome();
    const QPalette &palette = mapView->palette();
    const NetLineFallback fallback{palette.color(QPalette::Text), palette.color(QPalette::Base),
                                   palette.color(QPalette::Link), palette.color(QPalette::Mid),
                                   palette.color(QPalette::Midlight)};
    scene.dots.clear();
    scene.notPlaced.clear();
    extentPoints.clear();
    for (const NetLogStore::MappedEntry &entry : entries) {
        const NetPlacement::Placed placed = NetPlacement::place(
            {entry.state, entry.contactState, entry.lat, entry.lon, entry.zip}, zipLookup, stateCentre);
        if (placed.source == NetPlacement::Source::None) {
            scene.notPlaced.append(entry.call);
            continue;
        }
        NetMapScene::Dot dot;
        dot.call = entry.call;
        dot.at = onCanvas(placed.at);
        dot.look = NetPlacement::look(entry.status, theme->colours(), fallback);
        if (scene.home) {
            const BearingDistance there = greatCircle(homePosition.lat, homePosition.lon, placed.at.lat, placed.at.lon);
            // This station's own dot has no bearing.
            if (there.distance > 0) {
                dot.bearing = there.bearing;
                dot.bearingLine = UsMap::areaOf(placed.at.lat, placed.at.lon) == homeArea;
            }
        }
        scene.dots.append(dot);
        extentPoints.append(dot.at);
    }
    if (scene.home)
        extentPoints.append(*scene.home);
}

void NetMapController::placeHome()
{
    scene.home.reset();
    scene.rings.clear();
    Storage::Result read;
    const std::optional<ContactStore::StationPlace> station = storage.contacts().stationPlace(&read);
    if (!station)
        return;
    // A position off the map is a placeholder: the state's centre stands in.
    const NetPlacement::Placed placed =
        NetPlacement::place({station->state, station->state, QString::number(station->lat, 'f', 6),
                             QString::number(station->lon, 'f', 6), QString()},
                            {}, [this](const QString &state) { return toPosition(storage.stateCentre(state)); });
    if (placed.source == NetPlacement::Source::None)
        return;
    homePosition = placed.at;
    scene.home = onCanvas(placed.at);
    homeArea = *UsMap::areaOf(placed.at.lat, placed.at.lon);
    for (const int miles : RingMiles)
        scene.rings.append({MapGeometry::ring(placed.at, miles, homeArea), QStringLiteral("%1 mi").arg(miles)});
}

void NetMapController::applyZoom()
{
    const QRectF base = wholeMap ? MapGeometry::canvas() : MapGeometry::extent(extentPoints);
    scene.shown = MapGeometry::zoomed(base, zoomSteps);
}

NetMapScene::Colours NetMapController::colours() const
{
    const QPalette palette = mapView->palette();
    if (!theme->themed())
        return {palette.color(QPalette::Base),     palette.color(QPalette::Window), palette.color(QPalette::Mid),
                palette.color(QPalette::Text),     palette.color(QPalette::Mid),    palette.color(QPalette::Dark),
                palette.color(QPalette::Highlight)};
    const ThemeColours &c = theme->colours();
    return {c.mapWater, c.mapLand, c.mapBorder, c.mapText, c.mapBorder, c.mapBearing, c.mapHighlight};
}

void NetMapController::zoomIn()
{
    if (zoomSteps >= MapGeometry::MostZoomedIn)
        return;
    ++zoomSteps;
    refresh();
}

void NetMapController::zoomOut()
{
    // Once the whole map shows, farther out shows nothing more.
    const QRectF base = wholeMap ? MapGeometry::canvas() : MapGeometry::extent(extentPoints);
    if (MapGeometry::zoomed(base, zoomSteps) == MapGeometry::canvas())
        return;
    --zoomSteps;
    refresh();
}

void NetMapController::showAll()
{
    wholeMap = !(wholeMap && zoomSteps == 0);
    zoomSteps = 0;
    refresh();
}

void NetMapController::toggleBearings()
{
    scene.bearings = !scene.bearings;
    refresh();
}

bool NetMapController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || (watched != mapView && watched != mapWindow))
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    switch (key->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomIn();
        return true;
    case Qt::Key_Minus:
        zoomOut();
        return true;
    case Qt::Key_0:
        showAll();
        return true;
    case Qt::Key_B:
        toggleBearings();
        return true;
    case Qt::Key_Escape:
        emit escaped();
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

void NetMapController::saveMap()
{
    const QString proposed = host.dataDir() + QStringLiteral("/NetMap-")
                             + QDate::currentDate().toString(QStringLiteral("yyMMdd")) + QStringLiteral(".png");
    QString name =
        Prompter::instance()->saveFileName(QStringLiteral("Save Net Map"), proposed, QString::fromLatin1(MapFilter));
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".png");
    QString error;
    if (!writeMap(name, error)) {
        emit errorLine(reportUnwritableFile(name, error));
        return;
    }
    if (w.statusBar)
        w.statusBar->showMessage(QStringLiteral("Net map written to ") + name, Trel::StatusMessageMs);
}

bool NetMapController::writeMap(const QString &fileName, QString &error)
{
    // What the window shows, at its size; a map never opened is drawn as it
    // would open.
    if (!mapWindow->isVisible()) {
        gather();
        applyZoom();
        scene.colours = colours();
        mapView->setScene(scene);
    }
    const QSize size = mapWindow->isVisible() ? mapView->size() : mapWindow->size();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (QFileInfo(fileName).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator drawing;
        drawing.setOutputDevice(&buffer);
        drawing.setSize(size);
        drawing.setViewBox(QRect(QPoint(0, 0), size));
        drawing.setTitle(QStringLiteral("Net Map"));
        QPainter painter(&drawing);
        mapView->paintScene(painter, size, true);
    } else {
        QImage image(size, QImage::Format_RGB32);
        {
            QPainter painter(&image);
            mapView->paintScene(painter, size, false);
        }
        if (!image.save(&buffer, "PNG")) {
            error = QStringLiteral("the image could not be encoded");
            return false;
        }
    }
    buffer.close();
    return writeWholeFile(fileName, bytes, error);
}
