#include "web/netview.h"

#include "checkin/netrules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// A coordinate as a program or a file writes it: a finite number in range.
std::optional<double> degrees(const QString &text, double limit)
{
    bool number = false;
    const double value = text.trimmed().toDouble(&number);
    if (!number || !std::isfinite(value) || std::fabs(value) > limit)
        return std::nullopt;
    return value;
}

void readCentres(const QByteArray &csv, QHash<QString, std::pair<double, double>> &into, int keyLength)
{
    for (const QByteArray &line : csv.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        if (fields.size() != 3 || fields.at(0).size() != keyLength)
            continue;
        const auto lat = degrees(QString::fromLatin1(fields.at(1)), 90);
        const auto lon = degrees(QString::fromLatin1(fields.at(2)), 180);
        if (lat && lon)
            into.insert(QString::fromLatin1(fields.at(0)).toUpper(), {*lat, *lon});
    }
}

} // namespace

void StationPlaces::load(const QByteArray &zipCsv, const QByteArray &stateCsv)
{
    QHash<QString, std::pair<double, double>> read;
    readCentres(zipCsv, read, 5);
    for (auto it = read.cbegin(); it != read.cend(); ++it)
        zips.insert(it.key(), {it.value().first, it.value().second});
    read.clear();
    readCentres(stateCsv, read, 2);
    for (auto it = read.cbegin(); it != read.cend(); ++it)
        states.insert(it.key(), {it.value().first, it.value().second});
}

std::optional<UsMap::Point> StationPlaces::dot(const ServerWeb::Entry &entry, const ServerWeb::Place *contact) const
{
    if (contact) {
        const auto lat = degrees(contact->lat, 90);
        const auto lon = degrees(contact->lon, 180);
        // 0,0 is what an empty form stores, not a place.
        if (lat && lon && (*lat != 0 || *lon != 0)) {
            if (const auto point = UsMap::place(*lat, *lon))
                return point;
        }
        const auto zip = zips.constFind(contact->zip);
        if (zip != zips.cend())
            return UsMap::place(zip->lat, zip->lon);
    }
    const auto state = states.constFind(entry.state);
    if (state != states.cend())
        return UsMap::place(state->lat, state->lon);
    return std::nullopt;
}

namespace WebPages {
namespace {

const char *inkName(NetRules::Ink ink)
{
    switch (ink) {
    case NetRules::Ink::Ncs:
        return "ncs";
    case NetRules::Ink::Relay:
        return "relay";
    case NetRules::Ink::RelayChecked:
        return "relaychecked";
    case NetRules::Ink::Checked:
        return "checked";
    case NetRules::Ink::Normal:
        break;
    }
    return "normal";
}

const char *paperName(NetRules::Paper paper)
{
    switch (paper) {
    case NetRules::Paper::Ncs:
        return "ncs";
    case NetRules::Paper::Relay:
        return "relay";
    case NetRules::Paper::Normal:
    case NetRules::Paper::Active:
        break;
    }
    return "normal";
}

// One line of the list as the net list draws it: code, colours and weight
// (which, as there, carries over to the lines that follow).
struct Line {
    QString code;
    QString ink, paper;
    bool bold = false;
};

QList<Line> lines(const QList<ServerWeb::Entry> &entries)
{
    QList<Line> out;
    bool bold = false;
    for (const ServerWeb::Entry &entry : entries) {
        const NetRules::Line line = NetRules::netLine(entry.status & 63, false);
        if (line.weight != NetRules::Weight::Unchanged)
            bold = line.weight == NetRules::Weight::Bold;
        out.append({line.code, QLatin1String(inkName(line.ink)), QLatin1String(paperName(line.paper)), bold});
    }
    return out;
}

QString utcText(const QDateTime &time, const QString &format)
{
    return time.isValid() ? time.toUTC().toString(format) + QStringLiteral(" UTC") : QString();
}

QString isoText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QString netTitle(const QString &club, const ServerWeb::Net &net)
{
    const QString ncs = net.ncs.isEmpty() ? QStringLiteral("an unnamed station") : net.ncs;
    return (club.isEmpty() ? QStringLiteral("Net") : club + QStringLiteral(" net")) + QStringLiteral(" of ") + ncs;
}

QString listRows(const NetView &view)
{
    QString rows;
    const QList<Line> drawn = lines(view.entries);
    for (int i = 0; i < view.entries.size(); ++i) {
        const ServerWeb::Entry &e = view.entries.at(i);
        const Line &line = drawn.at(i);
        const QString state = e.status & NetRules::CheckedIn ? QStringLiteral("checked in")
                              : e.withdrawn                  ? QStringLiteral("withdrawn")
                                                             : QString();
        rows += QStringLiteral("<tr class=\"ink-%1 paper-%2%3%4\"><td class=\"no\">%5</td><td class=\"sc\">%6</td>"
                               "<td class=\"call\">%7</td><td>%8</td><td>%9</td><td>%10</td><td>%11</td>"
                               "<td class=\"in\">%12</td></tr>\n")
                    .arg(line.ink, line.paper, line.bold ? QStringLiteral(" bold") : QString(),
                         e.withdrawn ? QStringLiteral(" withdrawn") : QString())
                    .arg(i + 1)
                    .arg(escaped(line.code), escaped(e.call), escaped(e.name), escaped(e.city), escaped(e.state),
                         escaped(e.relay), state);
    }
    return rows;
}

QString dots(const NetView &view)
{
    QString out;
    for (int i = 0; i < view.entries.size(); ++i) {
        const std::optional<UsMap::Point> &dot = view.dots.value(i);
        if (!dot)
            continue;
        const bool ncs = view.entries.at(i).status & NetRules::Ncs;
        out += QStringLiteral("<circle class=\"dot%1\" cx=\"%2\" cy=\"%3\" r=\"%4\"><title>%5</title></circle>")
                   .arg(ncs ? QStringLiteral(" ncs") : QString())
                   .arg(dot->x, 0, 'f', 1)
                   .arg(dot->y, 0, 'f', 1)
                   .arg(ncs ? 7 : 4)
                   .arg(escaped(view.entries.at(i).call));
    }
    return out;
}

QString netSection(const QString &club, const NetView &view)
{
    const ServerWeb::Net &n = view.net;
    return QStringLiteral("<section class=\"net\" id=\"net-%1\" data-net=\"%1\">\n<h2><span class=\"title\">%2</span> "
                          "<span class=\"open\">%3</span></h2>\n<p class=\"facts\">Started <time class=\"started\" "
                          "datetime=\"%4\">%5</time><span class=\"local\"></span> &middot; <span class=\"stations\">"
                          "%6</span> stations &middot; <span class=\"checkins\">%7</span> check-ins &middot; last "
                          "change <time class=\"changed\" datetime=\"%8\">%9</time></p>\n<div class=\"layout\">\n"
                          "<table class=\"list\"><thead><tr><th>No</th><th>SC</th><th>Call</th><th>Name</th>"
                          "<th>City</th><th>State</th><th>Relay</th><th>Check-in</th></tr></thead>\n<tbody>\n%10"
                          "</tbody></table>\n<svg class=\"map\" viewBox=\"0 0 975 610\" role=\"img\" aria-label=\"Map "
                          "of the stations\"><image href=\"/static/states.svg\" width=\"975\" height=\"610\"/>"
                          "<g class=\"dots\">%11</g></svg>\n</div>\n</section>\n")
        .arg(n.id, escaped(netTitle(club, n)), n.closed ? QStringLiteral("closed") : QStringLiteral("running"),
             isoText(n.started), utcText(n.started, QStringLiteral("yyyy-MM-dd hh:mm")))
        .arg(n.stations)
        .arg(n.checkins)
        .arg(isoText(n.changed),
             n.changed.isValid() ? utcText(n.changed, QStringLiteral("hh:mm:ss")) : QStringLiteral("none"),
             listRows(view), dots(view));
}

QString banner(const Status &status)
{
    if (status.state == ServerState::Down)
        return QStringLiteral("<div id=\"banner\" class=\"banner offline\" data-since=\"%1\">offline since %2</div>")
            .arg(isoText(status.since), utcText(status.since, QStringLiteral("hh:mm")));
    return QStringLiteral("<div id=\"banner\" class=\"banner live\">live</div>");
}

QByteArray page(const QString &club, const QString &title, const QString &view, const QString &body,
                const Status &status)
{
    const QString heading = club.isEmpty() ? QStringLiteral("Nets") : club + QStringLiteral(" nets");
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<meta name=\"viewport\" "
               "content=\"width=device-width, initial-scale=1\">\n<meta name=\"color-scheme\" "
               "content=\"light dark\">\n<title>%1</title>\n<link rel=\"stylesheet\" "
               "href=\"/static/style.css\">\n<noscript><meta http-equiv=\"refresh\" content=\"30\">"
               "</noscript>\n<script src=\"/static/app.js\" defer></script>\n</head>\n<body data-view=\"%2\">"
               "\n<header><h1>%3</h1><nav><a href=\"/\">Today</a> <a href=\"/nets\">Past nets</a></nav>%4"
               "</header>\n<main id=\"nets\">\n%5</main>\n</body></html>\n")
        .arg(escaped(title), view, escaped(heading), banner(status), body)
        .toUtf8();
}

} // namespace

QString escaped(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;"));
}

QByteArray netJson(const NetView &view, const QString &club)
{
    const ServerWeb::Net &n = view.net;
    QJsonArray entries;
    const QList<Line> drawn = lines(view.entries);
    for (int i = 0; i < view.entries.size(); ++i) {
        const ServerWeb::Entry &e = view.entries.at(i);
        QJsonObject entry{{"call", e.call},
                          {"code", drawn.at(i).code},
                          {"ink", drawn.at(i).ink},
                          {"paper", drawn.at(i).paper},
                          {"bold", drawn.at(i).bold},
                          {"name", e.name},
                          {"city", e.city},
                          {"state", e.state},
                          {"relay", e.relay},
                          {"time", e.time},
                          {"ncs", bool(e.status & NetRules::Ncs)},
                          {"checkedIn", bool(e.status & NetRules::CheckedIn)},
                          {"withdrawn", e.withdrawn}};
        if (const std::optional<UsMap::Point> &dot = view.dots.value(i)) {
            entry.insert(QStringLiteral("x"), std::round(dot->x * 10) / 10);
            entry.insert(QStringLiteral("y"), std::round(dot->y * 10) / 10);
        }
        entries.append(entry);
    }
    const QJsonObject net{{"id", n.id},
                          {"title", netTitle(club, n)},
                          {"ncs", n.ncs},
                          {"started", isoText(n.started)},
                          {"closed", n.closed},
                          {"seq", QString::number(n.seq)},
                          {"changed", isoText(n.changed)},
                          {"stations", n.stations},
                          {"checkins", n.checkins},
                          {"entries", entries}};
    return QJsonDocument(net).toJson(QJsonDocument::Compact);
}

QByteArray statusJson(const Status &status)
{
    return QJsonDocument(QJsonObject{{"server", status.state == ServerState::Up ? "up" : "down"},
                                     {"since", isoText(status.since)}})
        .toJson(QJsonDocument::Compact);
}

QByteArray todayPage(const QString &club, const QList<NetView> &nets, const Status &status)
{
    QString body;
    for (const NetView &net : nets)
        body += netSection(club, net);
    if (nets.isEmpty())
        body = QStringLiteral("<p class=\"none\" id=\"none\">No net today yet.</p>\n");
    return page(club, club.isEmpty() ? QStringLiteral("Nets today") : club + QStringLiteral(" nets today"),
                QStringLiteral("today"), body, status);
}

QByteArray netPage(const QString &club, const NetView &net, const Status &status)
{
    return page(club, netTitle(club, net.net), QStringLiteral("net"), netSection(club, net), status);
}

QByteArray netsPage(const QString &club, const QList<ServerWeb::Net> &nets, const Status &status)
{
    QString rows;
    for (const ServerWeb::Net &n : nets)
        rows += QStringLiteral("<tr><td><a href=\"/net/%1\">%2</a></td><td>%3</td><td>%4</td><td>%5</td>"
                               "<td>%6</td></tr>\n")
                    .arg(n.id, utcText(n.started, QStringLiteral("yyyy-MM-dd hh:mm")), escaped(n.ncs))
                    .arg(n.stations)
                    .arg(n.checkins)
                    .arg(n.closed ? QStringLiteral("closed") : QStringLiteral("running"));
    const QString body = QStringLiteral("<table class=\"nets\"><thead><tr><th>Started</th><th>Net control</th>"
                                        "<th>Stations</th><th>Check-ins</th><th></th></tr></thead>\n<tbody>\n%1"
                                        "</tbody></table>\n")
                             .arg(rows);
    return page(club, QStringLiteral("Nets of the last 90 days"), QStringLiteral("nets"), body, status);
}

QByteArray notFoundPage(const QString &club)
{
    return page(club, QStringLiteral("Not found"), QStringLiteral("none"),
                QStringLiteral("<p>There is no such page or net here.</p>\n"), Status());
}

QByteArray statesSvg(const QList<UsMap::Outline> &outlines)
{
    QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 975 610\" width=\"975\" height=\"610\">"
                     "<style>path{fill:#e8e8e8;stroke:#888;stroke-width:.5}@media (prefers-color-scheme: dark)"
                     "{path{fill:#303030;stroke:#777}}</style>\n";
    for (const UsMap::Outline &outline : outlines) {
        QByteArray d;
        for (const QList<UsMap::Point> &ring : outline.polygons) {
            for (int i = 0; i < ring.size(); ++i)
                d += (i == 0 ? "M" : "L") + QByteArray::number(ring.at(i).x, 'f', 1) + ','
                     + QByteArray::number(ring.at(i).y, 'f', 1);
            d += 'Z';
        }
        svg += "<path fill-rule=\"evenodd\" d=\"" + d + "\"><title>" + escaped(outline.name).toUtf8()
               + "</title></path>\n";
    }
    return svg + "</svg>\n";
}

} // namespace WebPages
