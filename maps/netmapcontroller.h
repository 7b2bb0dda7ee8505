#pragma once

#include "callbook/fccfile.h"
#include "maps/netmapview.h"

#include <QDir>
#include <QObject>
#include <QString>

#include <functional>

class QStatusBar;
class QWidget;
class Storage;
class ThemeState;

// The Net Map window: tonight's stations on the map of the US, redrawn at
// every change of the net, the station shown in the main window marked, a
// click selecting a station there; zoom, bearing lines and the map saved as
// PNG or SVG. It owns the window.
class NetMapController : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        QStatusBar *statusBar = nullptr;
    };

    struct Host {
        std::function<QDir()> infoDir;
        std::function<QString()> dataDir;
        // Shows `call` in the main window as if it had been typed into Call Search.
        std::function<void(const QString &)> selectCall;
        std::function<void()> activateMain;
    };

    NetMapController(const Widgets &widgets, Storage &storage, const ThemeState *theme, Host host,
                     QObject *parent = nullptr);
    ~NetMapController() override;

    QWidget *window() const { return mapWindow; }
    NetMapView *view() const { return mapView; }
    bool bearingsShown() const { return scene.bearings; }

    // Start-up: the window opens again when it was open at the last exit.
    void reopenWindow();
    void writeWindowSettings();

public slots:
    void showMap();
    // The net changed: the map follows while it is open.
    void refresh();
    // The station shown in the main window; `type` 0 shows none.
    void contactShown(const QString &call, int type);
    void saveMap();

    void zoomIn();
    void zoomOut();
    // The whole map; pressed again, the net's stations.
    void showAll();
    void toggleBearings();

signals:
    void errorLine(const QString &line);
    // Escape in the map: back to the main window.
    void escaped();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void gather();
    void placeHome();
    void applyZoom();
    NetMapScene::Colours colours() const;
    std::optional<NetPlacement::Position> zipCentre(const QString &zip);
    bool writeMap(const QString &fileName, QString &error);

    Widgets w;
    Storage &storage;
    const ThemeState *theme;
    Host host;
    QWidget *mapWindow = nullptr;
    NetMapView *mapView = nullptr;

    NetMapScene scene;
    NetPlacement::Position homePosition;
    UsMap::Area homeArea = UsMap::Area::Lower48;
    // The net's stations and this station on the canvas: what "the net's
    // extent" holds.
    QList<QPointF> extentPoints;
    bool wholeMap = false;
    int zoomSteps = 0;
    bool outlinesLoaded = false;
    bool zipsLoaded = false;
    Fcc::ZipCentres zips;
};
