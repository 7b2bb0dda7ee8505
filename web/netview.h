#pragma once

#include "data/serverweb.h"
#include "maps/usmap.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// One net as the page shows it: the net, its list in order, each station's
// dot on the map when its place is known.
struct NetView {
    ServerWeb::Net net;
    QList<ServerWeb::Entry> entries;
    QList<std::optional<UsMap::Point>> dots; // one per entry
};

// Where stations land on the map: the contact's own coordinates, else its
// ZIP code's centre, else the centre of the state the list gives.
class StationPlaces {
public:
    // The files of info/: "zip,lat,lon" and "State,Latitude,Longitude" lines.
    void load(const QByteArray &zipCsv, const QByteArray &stateCsv);
    std::optional<UsMap::Point> dot(const ServerWeb::Entry &entry, const ServerWeb::Place *contact) const;

private:
    struct Centre {
        double lat = 0;
        double lon = 0;
    };
    QHash<QString, Centre> zips;
    QHash<QString, Centre> states;
};

// The page's texts, rendered on the server: every value escaped.
namespace WebPages {

enum class ServerState { Up, Down };
struct Status {
    ServerState state = ServerState::Up;
    QDateTime since; // UTC: when the club server was last lost
};

QString escaped(const QString &text);
// The net as JSON for the API and the event stream.
QByteArray netJson(const NetView &view, const QString &club);
QByteArray statusJson(const Status &status);
// `/`: the nets of the day, open first; `/net/<id>`: one net.
QByteArray todayPage(const QString &club, const QList<NetView> &nets, const Status &status);
QByteArray netPage(const QString &club, const NetView &net, const Status &status);
// `/nets`: the nets of the last days, newest first.
QByteArray netsPage(const QString &club, const QList<ServerWeb::Net> &nets, const Status &status);
QByteArray notFoundPage(const QString &club);
// The states' outlines as an SVG of UsMap's canvas, light and dark.
QByteArray statesSvg(const QList<UsMap::Outline> &outlines);

} // namespace WebPages
