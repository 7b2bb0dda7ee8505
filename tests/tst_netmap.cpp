// The Net Map: where a station is placed, the view's zoom and hits, and the
// window over a live net: dots in their states, check-ins and removals
// followed, clicks selecting, keys, saved pictures, reopening at start.

#include "testsupport.h"

#include "app/constants.h"
#include "app/themes.h"
#include "app/trelvin.h"
#include "checkin/netrules.h"
#include "checkin/textrules.h"
#include "maps/mapgeometry.h"
#include "maps/netmapcontroller.h"
#include "maps/netmapview.h"
#include "maps/netplacement.h"
#include "ui_trelvin.h"

#include <QHash>
#include <QImage>
#include <QPainter>
#include <QSettings>
#include <QSvgRenderer>
#include <QtTest>

#include <cmath>

namespace {

using NetPlacement::Source;

struct Place {
    const char *call;
    const char *state;
    double lat;
    double lon;
};

// Stations with their own positions, across the states and the insets.
const Place Positioned[] = {
    {"W7NET", "UT", 40.7608, -111.8910},  {"K7SEA", "WA", 47.6062, -122.3321},  {"K7PDX", "OR", 45.5152, -122.6784},
    {"K7BOI", "ID", 43.6150, -116.2023},  {"K0DEN", "CO", 39.7392, -104.9903},  {"K7PHX", "AZ", 33.4484, -112.0740},
    {"K5ABQ", "NM", 35.0844, -106.6504},  {"K7LAS", "NV", 36.1699, -115.1398},  {"K6SAC", "CA", 38.5816, -121.4944},
    {"K7HLN", "MT", 46.5891, -112.0391},  {"K7CYS", "WY", 41.1400, -104.8202},  {"K0BIS", "ND", 46.8083, -100.7837},
    {"K0PIR", "SD", 44.3683, -100.3510},  {"K0LNK", "NE", 40.8136, -96.7026},   {"K0TOP", "KS", 39.0473, -95.6752},
    {"K5OKC", "OK", 35.4676, -97.5164},   {"K5AUS", "TX", 30.2672, -97.7431},   {"K0DSM", "IA", 41.5868, -93.6250},
    {"K0MSP", "MN", 44.9778, -93.2650},   {"K9CHI", "IL", 41.8781, -87.6298},   {"K9MAD", "WI", 43.0731, -89.4012},
    {"K9IND", "IN", 39.7684, -86.1581},   {"K8CMH", "OH", 39.9612, -82.9988},   {"K8LAN", "MI", 42.7325, -84.5555},
    {"K4BNA", "TN", 36.1627, -86.7816},   {"K4ATL", "GA", 33.7490, -84.3880},   {"K4ORL", "FL", 28.5383, -81.3792},
    {"K4RAL", "NC", 35.7796, -78.6382},   {"K4RIC", "VA", 37.5407, -77.4360},   {"K3HBG", "PA", 40.2732, -76.8867},
    {"K2ALB", "NY", 42.6526, -73.7562},   {"K1BOS", "MA", 42.3601, -71.0589},   {"K1BTV", "VT", 44.4759, -73.2121},
    {"K1AUG", "ME", 44.3106, -69.7795},   {"K5JAN", "MS", 32.2988, -90.1848},   {"K5LIT", "AR", 34.7465, -92.2896},
    {"K5BTR", "LA", 30.4515, -91.1871},   {"K4MGM", "AL", 32.3792, -86.3077},   {"K4CAE", "SC", 34.0007, -81.0348},
    {"K8CRW", "WV", 38.3498, -81.6326},   {"K4FFT", "KY", 38.2009, -84.8733},   {"K0JEF", "MO", 38.5767, -92.1735},
    {"KL7FAI", "AK", 64.8378, -147.7164}, {"KL7ANC", "AK", 61.2181, -149.9003}, {"KH6HNL", "HI", 21.3069, -157.8583},
    {"KP4SJU", "PR", 18.4655, -66.1057},  {"K1HFD", "CT", 41.7658, -72.6734},   {"K1CON", "NH", 43.2081, -71.5376},
};

// Stations known by their ZIP code alone, and by their state alone.
const Place ByZip[] = {{"N7ZIP", "UT", 0, 0},  {"N2ZIP", "NY", 0, 0},  {"N9ZIP", "IL", 0, 0},
                       {"NL7ZIP", "AK", 0, 0}, {"NH6ZIP", "HI", 0, 0}, {"N0ZIP", "CO", 0, 0}};
const char *const Zips[] = {"84101", "10001", "60601-1234", "99501", "96813", "80202"};
const Place ByState[] = {
    {"N7WYO", "WY", 0, 0}, {"N0NEB", "NE", 0, 0}, {"N0KAN", "KS", 0, 0}, {"N5OKL", "OK", 0, 0}, {"N7NEV", "NV", 0, 0}};

bool sameColour(QRgb a, const QColor &b, int tolerance = 24)
{
    return std::abs(qRed(a) - b.red()) <= tolerance && std::abs(qGreen(a) - b.green()) <= tolerance
           && std::abs(qBlue(a) - b.blue()) <= tolerance;
}

QImage rendered(const NetMapView *view)
{
    QImage image(view->size(), QImage::Format_RGB32);
    QPainter painter(&image);
    view->paintScene(painter, view->size(), false);
    return image;
}

const NetMapScene::Dot *dotOf(const NetMapScene &scene, const QString &call)
{
    for (const NetMapScene::Dot &dot : scene.dots)
        if (dot.call == call)
            return &dot;
    return nullptr;
}

// Every dot's centre wears a dot's fill: its own, or that of a dot drawn
// over it close by.
QString misdrawnDot(const NetMapView *view, const QImage &image)
{
    const QTransform transform = view->canvasToView();
    const QList<NetMapScene::Dot> &dots = view->scene().dots;
    for (const NetMapScene::Dot &dot : dots) {
        const QPoint at = transform.map(dot.at).toPoint();
        const QRgb pixel = image.pixel(at);
        const bool filled = std::any_of(dots.cbegin(), dots.cend(), [&](const NetMapScene::Dot &other) {
            return other.look.filled && QLineF(transform.map(other.at), at).length() < 6
                   && sameColour(pixel, other.look.fill);
        });
        if (!filled)
            return dot.call + QStringLiteral(" at %1,%2 is %3").arg(at.x()).arg(at.y()).arg(QColor(pixel).name());
    }
    return QString();
}

} // namespace

class TestNetMap : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void placement_data();
    void placement();
    void dotsLookLikeTheirNetLines_data();
    void dotsLookLikeTheirNetLines();
    void zoomAndHits();
    void ringsLieAtTheirDistance();

    void init();
    void cleanup();
    void netOfSixtyLandsInItsStates();
    void mapFollowsTheNet();
    void clickSelectsAndKeysChangeTheView();
    void savedPicturesShowTheDots();
    void reopensAtStartWithItsGeometry();

private:
    void checkIn(const QString &call, const QString &state, QPushButton *role = nullptr);
    void seedNet();
    NetMapController *map() const { return w->findChild<NetMapController *>(QStringLiteral("netMap")); }

    QList<UsMap::Outline> outlines;
    std::unique_ptr<Runtime> rt;
    Trelvin *w = nullptr;
};

void TestNetMap::initTestCase()
{
    QString problem;
    outlines = UsMap::loadOutlines(QStringLiteral(TRELVIN_SOURCE_DIR "/info/US_States.txt"), &problem);
    QVERIFY2(!outlines.isEmpty(), qPrintable(problem));
}

void TestNetMap::placement_data()
{
    QTest::addColumn<QString>("entryState");
    QTest::addColumn<QString>("contactState");
    QTest::addColumn<QString>("lat");
    QTest::addColumn<QString>("lon");
    QTest::addColumn<QString>("zip");
    QTest::addColumn<int>("source");
    QTest::addColumn<double>("expectedLat");

    const int contact = int(Source::Contact);
    const int zip = int(Source::Zip);
    const int state = int(Source::State);
    const int none = int(Source::None);
    QTest::newRow("own position") << "UT"
                                  << "UT"
                                  << "40.5"
                                  << "-111.9"
                                  << "84101" << contact << 40.5;
    QTest::newRow("own position, no state tonight") << ""
                                                    << "UT"
                                                    << "40.5"
                                                    << "-111.9" << QString() << contact << 40.5;
    QTest::newRow("position of blanks and zeros") << "UT"
                                                  << "UT"
                                                  << "0.0"
                                                  << " 0 "
                                                  << "84101" << zip << 40.77;
    QTest::newRow("position that is no number") << "UT"
                                                << "UT"
                                                << "N40"
                                                << "W111"
                                                << "84101" << zip << 40.77;
    QTest::newRow("position abroad") << "UT"
                                     << "UT"
                                     << "51.5"
                                     << "-0.12"
                                     << "84101" << zip << 40.77;
    QTest::newRow("unknown ZIP code") << "UT"
                                      << "UT" << QString() << QString() << "00000" << state << 39.3;
    QTest::newRow("state in other case") << "ut"
                                         << "Ut" << QString() << QString() << QString() << state << 39.3;
    QTest::newRow("away from home: tonight's state") << "CO"
                                                     << "UT"
                                                     << "40.5"
                                                     << "-111.9"
                                                     << "84101" << state << 39.0;
    QTest::newRow("no state tonight: the contact's") << ""
                                                     << "CO" << QString() << QString() << QString() << state << 39.0;
    QTest::newRow("unknown state") << "ZZ"
                                   << "ZZ" << QString() << QString() << QString() << none << 0.0;
    QTest::newRow("nothing at all") << ""
                                    << "" << QString() << QString() << QString() << none << 0.0;
}

void TestNetMap::placement()
{
    QFETCH(QString, entryState);
    QFETCH(QString, contactState);
    QFETCH(QString, lat);
    QFETCH(QString, lon);
    QFETCH(QString, zip);
    QFETCH(int, source);
    QFETCH(double, expectedLat);
    const QHash<QString, NetPlacement::Position> zips{{"84101", {40.77, -111.9}}};
    const QHash<QString, NetPlacement::Position> states{{"UT", {39.3, -111.7}}, {"CO", {39.0, -105.5}}};
    const auto lookup = [](const QHash<QString, NetPlacement::Position> &table) {
        return [table](const QString &key) -> std::optional<NetPlacement::Position> {
            if (!table.contains(key))
                return std::nullopt;
            return table.value(key);
        };
    };
    const NetPlacement::Placed placed =
        NetPlacement::place({entryState, contactState, lat, lon, zip}, lookup(zips), lookup(states));
    QCOMPARE(int(placed.source), source);
    QCOMPARE(placed.at.lat, expectedLat);
}

void TestNetMap::dotsLookLikeTheirNetLines_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("filled");
    QTest::addColumn<QColor>("fill");
    const ThemeColours c = lightThemeColours();
    using namespace NetRules;
    QTest::newRow("checked in") << CheckedIn << "-C" << true << c.checkedText;
    QTest::newRow("traffic, checked in") << (Traffic | CheckedIn) << "TC" << true << c.checkedText;
    QTest::newRow("withdrawn") << Traffic << "T-" << false << c.normalText;
    QTest::newRow("net control") << (Ncs | CheckedIn) << "NC" << true << c.ncsBack;
    QTest::newRow("relay") << Relay << "R-" << false << c.relayBack;
    QTest::newRow("relay, checked in") << (Relay | CheckedIn) << "RC" << true << c.relayCheckedText;
}

void TestNetMap::dotsLookLikeTheirNetLines()
{
    QFETCH(int, status);
    QFETCH(QString, code);
    QFETCH(bool, filled);
    QFETCH(QColor, fill);
    const NetPlacement::Look look = NetPlacement::look(status, lightThemeColours(), {});
    QCOMPARE(look.code, code);
    QCOMPARE(look.filled, filled);
    QCOMPARE(look.fill, fill);
    // Dark: the same kinds in the dark theme's colours.
    const NetPlacement::Look dark = NetPlacement::look(status, darkThemeColours(), {});
    QVERIFY(dark.fill != look.fill || dark.edge != look.edge);
}

void TestNetMap::zoomAndHits()
{
    const QRectF whole = MapGeometry::canvas();
    // Without points, and far out: the whole canvas, never more.
    QCOMPARE(MapGeometry::extent({}), whole);
    QCOMPARE(MapGeometry::zoomed(QRectF(400, 200, 200, 125), -10), whole);

    const QList<QPointF> utah{{300, 250}, {320, 270}};
    const QRectF net = MapGeometry::extent(utah, 30, 120);
    for (const QPointF &p : utah)
        QVERIFY(net.contains(p));
    QVERIFY(net.width() >= 120 && net.width() < 200);
    // One step in: two thirds across, about the same middle.
    const QRectF closer = MapGeometry::zoomed(net, 1);
    QCOMPARE(closer.width(), net.width() / MapGeometry::ZoomFactor);
    QCOMPARE(closer.center(), net.center());
    // Near the edge the view slides back onto the canvas.
    const QRectF corner = MapGeometry::zoomed(QRectF(-50, -50, 200, 125), 0);
    QCOMPARE(corner.topLeft(), QPointF(0, 0));
    QCOMPARE(corner.size(), QSizeF(200, 125));

    // The fit keeps proportions and centres the shown part.
    const QTransform fit = MapGeometry::fit(whole, QRectF(0, 0, 975 * 2, 610 * 3));
    QCOMPARE(fit.map(QPointF(0, 0)), QPointF(0, (610 * 3 - 610 * 2) / 2.0));
    QCOMPARE(fit.map(QPointF(975, 610)).x(), 975.0 * 2);

    // A click meets the nearest dot within reach, else none.
    const QList<QPointF> dots{{10, 10}, {18, 10}, {100, 100}};
    QCOMPARE(MapGeometry::nearest(dots, {15, 10}, 9), 1);
    QCOMPARE(MapGeometry::nearest(dots, {11, 11}, 9), 0);
    QCOMPARE(MapGeometry::nearest(dots, {60, 60}, 9), -1);
    QCOMPARE(MapGeometry::nearest({}, {60, 60}, 9), -1);
}

void TestNetMap::ringsLieAtTheirDistance()
{
    const MapGeometry::Position home{40.7608, -111.8910};
    for (const double miles : {100.0, 250.0, 500.0}) {
        for (const double bearing : {0.0, 90.0, 200.0, 315.0}) {
            const MapGeometry::Position there = MapGeometry::destination(home, bearing, miles);
            const BearingDistance back = greatCircle(home.lat, home.lon, there.lat, there.lon);
            QVERIFY2(std::abs(back.distance - miles) <= 1, qPrintable(QString::number(back.distance)));
            QVERIFY2(std::abs(std::remainder(back.bearing - bearing, 360.0)) <= 1,
                     qPrintable(QString::number(back.bearing)));
        }
    }
    // A ring of 100 miles around Salt Lake City stays in Utah's neighbourhood,
    // closed, on the lower 48's projection.
    const QList<QPointF> ring = MapGeometry::ring(home, 100, UsMap::Area::Lower48);
    QCOMPARE(ring.first(), ring.last());
    const std::optional<UsMap::Point> centre = UsMap::place(home.lat, home.lon);
    for (const QPointF &p : ring) {
        const double r = QLineF(p, QPointF(centre->x, centre->y)).length();
        QVERIFY2(r > 25 && r < 40, qPrintable(QString::number(r)));
    }
}

void TestNetMap::init()
{
    if (QString(QTest::currentTestFunction()) == QLatin1String("initTestCase"))
        return;
    rt = std::make_unique<Runtime>();
    for (const char *file : {"State_Info.csv", "US_States.txt", "ZIP_Info.csv"})
        QVERIFY(rt->installInfo(QString::fromLatin1(file)));
    w = rt->start();
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    StationRecord station;
    station.call = QStringLiteral("W7NET");
    station.state = QStringLiteral("UT");
    station.lat = QStringLiteral("40.7608");
    station.lon = QStringLiteral("-111.8910");
    QVERIFY(storeOf(w).contacts().saveStation(station).ok());
    rt->prompter.clear();
}

void TestNetMap::cleanup()
{
    rt.reset();
    w = nullptr;
}

void TestNetMap::checkIn(const QString &call, const QString &state, QPushButton *role)
{
    FORM(w, qso)->setFocus();
    deskOf(w)->setEntry(0);
    FORM(w, call)->setText(call);
    FORM(w, name)->setText(QStringLiteral("Op"));
    FORM(w, city)->setText(QStringLiteral("Town"));
    FORM(w, state)->setText(state);
    FORM(w, relay)->clear();
    FORM(w, qso)->setText(QString());
    if (role)
        role->click();
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
}

// Sixty stations: 48 with their own positions (net control, a relay and
// traffic among them), 6 by ZIP code, 5 by state, one nowhere.
void TestNetMap::seedNet()
{
    const auto contact = [this](const Place &place, const QString &zip) {
        ContactRecord record;
        record.call = QString::fromLatin1(place.call);
        record.state = QString::fromLatin1(place.state);
        record.zip = zip;
        if (place.lat != 0) {
            record.lat = QString::number(place.lat, 'f', 4);
            record.lon = QString::number(place.lon, 'f', 4);
        }
        QVERIFY(storeOf(w).contacts().saveContact(record).ok());
    };
    for (const Place &place : Positioned)
        contact(place, QString());
    for (int i = 0; i < int(std::size(ByZip)); ++i)
        contact(ByZip[i], QString::fromLatin1(Zips[i]));
    for (const Place &place : ByState)
        contact(place, QString());

    for (const Place &place : Positioned) {
        const QString call = QString::fromLatin1(place.call);
        QPushButton *role = call == QLatin1String("W7NET")   ? FORM(w, NCSButton)
                            : call == QLatin1String("K0DEN") ? FORM(w, relayButton)
                            : call == QLatin1String("K4ATL") ? FORM(w, trafficButton)
                                                             : nullptr;
        checkIn(call, QString::fromLatin1(place.state), role);
    }
    for (const Place &place : ByZip)
        checkIn(QString::fromLatin1(place.call), QString::fromLatin1(place.state));
    for (const Place &place : ByState)
        checkIn(QString::fromLatin1(place.call), QString::fromLatin1(place.state));
    checkIn(QStringLiteral("DL1ABC"), QString());
    QCOMPARE(storeOf(w).netLog().listedEntries().size(), 60);
}

void TestNetMap::netOfSixtyLandsInItsStates()
{
    seedNet();
    FORM(w, actionShowNetMap)->trigger();
    QVERIFY(map()->window()->isVisible());
    QVERIFY(rt->prompter.calls.isEmpty());
    NetMapView *view = map()->view();
    const NetMapScene &scene = view->scene();
    QCOMPARE(scene.dots.size(), 59);
    QCOMPARE(scene.notPlaced, QStringList{"DL1ABC"});

    QHash<QString, QString> stateOf;
    for (const Place &place : Positioned)
        stateOf.insert(place.call, place.state);
    for (const Place &place : ByZip)
        stateOf.insert(place.call, place.state);
    for (const Place &place : ByState)
        stateOf.insert(place.call, place.state);
    for (const NetMapScene::Dot &dot : scene.dots)
        QVERIFY2(UsMap::stateAt(outlines, {dot.at.x(), dot.at.y()}) == stateOf.value(dot.call),
                 qPrintable(dot.call + " lands in " + UsMap::stateAt(outlines, {dot.at.x(), dot.at.y()})));
    // ZIP centres rather than the state's: Salt Lake City's, not Utah's middle.
    const NetMapScene::Dot *zipped = dotOf(scene, "N7ZIP");
    const std::optional<UsMap::Point> slc = UsMap::place(40.7608, -111.8910);
    QVERIFY(QLineF(zipped->at, QPointF(slc->x, slc->y)).length() < 3);

    // The roles wear the net list's colours.
    const ThemeColours &c = themeOf(w)->colours();
    QCOMPARE(dotOf(scene, "W7NET")->look.code, QStringLiteral("NC"));
    QCOMPARE(dotOf(scene, "W7NET")->look.fill, c.ncsBack);
    QCOMPARE(dotOf(scene, "K0DEN")->look.fill, c.relayCheckedText);
    QCOMPARE(dotOf(scene, "K4ATL")->look.code, QStringLiteral("TC"));

    // At the whole map and at the net's extent, every dot sits on its pixels.
    QTest::keyClick(view, Qt::Key_0);
    QCOMPARE(view->scene().shown, MapGeometry::canvas());
    const QImage whole = rendered(view);
    const QString wrong = misdrawnDot(view, whole);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    // The land under a dot is land: Utah's middle, away from dots, is not the sea.
    const QPointF utah =
        view->canvasToView().map(QPointF(UsMap::place(38.0, -111.0)->x, UsMap::place(38.0, -111.0)->y));
    QVERIFY(sameColour(whole.pixel(utah.toPoint()), c.mapLand, 2));
}

void TestNetMap::mapFollowsTheNet()
{
    checkIn(QStringLiteral("K7SEA"), QStringLiteral("WA"));
    FORM(w, actionShowNetMap)->trigger();
    NetMapView *view = map()->view();
    QCOMPARE(view->scene().dots.size(), 1);

    // A check-in after the map opened is on it at once, in its state.
    checkIn(QStringLiteral("K5AUS"), QStringLiteral("TX"));
    const NetMapScene::Dot *austin = dotOf(view->scene(), "K5AUS");
    QVERIFY(austin);
    QCOMPARE(UsMap::stateAt(outlines, {austin->at.x(), austin->at.y()}), QStringLiteral("TX"));
    QVERIFY(austin->look.filled);

    // Withdrawn: a ring.
    FORM(w, qso)->setFocus();
    FORM(w, call)->setText(QStringLiteral("K5AUS"));
    deskOf(w)->setEntry(storeOf(w).netLog().netEntryByCall("K5AUS")->id);
    deskOf(w)->logContact();
    QVERIFY(!dotOf(view->scene(), "K5AUS")->look.filled);

    // Removed (F11, confirmed): gone.
    FORM(w, delCon)->setText(QStringLiteral("K5AUS"));
    rt->prompter.answers = {QMessageBox::Yes};
    deskOf(w)->removeFromNet();
    QVERIFY(!dotOf(view->scene(), "K5AUS"));
    QCOMPARE(view->scene().dots.size(), 1);

    // The theme switched: the dots take the dark colours.
    FORM(w, actionDarkTheme)->trigger();
    QCOMPARE(dotOf(view->scene(), "K7SEA")->look.fill, darkThemeColours().checkedText);
    QCOMPARE(view->scene().colours.land, darkThemeColours().mapLand);
    FORM(w, actionLightTheme)->trigger();
    QCOMPARE(view->scene().colours.land, lightThemeColours().mapLand);
}

void TestNetMap::clickSelectsAndKeysChangeTheView()
{
    for (const Place &place : Positioned)
        if (QByteArray(place.state) == "WA" || QByteArray(place.state) == "TX" || QByteArray(place.state) == "FL")
            checkIn(QString::fromLatin1(place.call), QString::fromLatin1(place.state));
    // K7SEAT contains K7SEA: a click must still show K7SEA itself.
    ContactRecord longer;
    longer.call = QStringLiteral("K7SEAT");
    QVERIFY(storeOf(w).contacts().saveContact(longer).ok());
    FORM(w, actionShowNetMap)->trigger();
    NetMapView *view = map()->view();
    map()->window()->resize(900, 600);
    QVERIFY(QTest::qWaitForWindowExposed(map()->window()));

    const QPointF seattle = view->canvasToView().map(dotOf(view->scene(), "K7SEA")->at);
    QTest::mouseClick(view, Qt::LeftButton, {}, (seattle + QPointF(3, 2)).toPoint());
    QCOMPARE(FORM(w, call)->text(), QStringLiteral("K7SEA"));
    QCOMPARE(FORM(w, search)->text().trimmed(), QStringLiteral("K7SEA"));
    QCOMPARE(view->scene().selected, QStringLiteral("K7SEA"));
    // A click beside every dot selects nothing.
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(2, view->height() - 3));
    QCOMPARE(FORM(w, call)->text(), QStringLiteral("K7SEA"));

    // + and - scale the view around the net; 0 shows the whole map, and
    // again the net.
    const QRectF net = view->scene().shown;
    const double scale = view->canvasToView().m11();
    QTest::keyClick(view, Qt::Key_Plus);
    QCOMPARE(view->canvasToView().m11(), scale * MapGeometry::ZoomFactor);
    QTest::keyClick(view, Qt::Key_Minus);
    QVERIFY(qFuzzyCompare(view->canvasToView().m11(), scale));
    QTest::keyClick(view, Qt::Key_Minus);
    QVERIFY(view->canvasToView().m11() < scale);
    // Farther out than the whole map it does not go.
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(view, Qt::Key_Minus);
    QCOMPARE(view->scene().shown, MapGeometry::canvas());
    QTest::keyClick(view, Qt::Key_0);
    QCOMPARE(view->scene().shown, MapGeometry::canvas());
    QTest::keyClick(view, Qt::Key_0);
    QCOMPARE(view->scene().shown, net);

    // B draws the bearing lines from this station, and takes them away.
    const QPointF home = view->canvasToView().map(*view->scene().home);
    const QPointF orlando = view->canvasToView().map(dotOf(view->scene(), "K4ORL")->at);
    const QPoint middle = ((home + orlando) / 2).toPoint();
    const QRgb before = rendered(view).pixel(middle);
    QTest::keyClick(view, Qt::Key_B);
    QVERIFY(map()->bearingsShown());
    QVERIFY(rendered(view).pixel(middle) != before);
    // Orlando lies south-east of Salt Lake City.
    const int bearing = dotOf(view->scene(), "K4ORL")->bearing;
    QVERIFY2(bearing > 100 && bearing < 120, qPrintable(QString::number(bearing)));
    QTest::keyClick(view, Qt::Key_B);
    QCOMPARE(rendered(view).pixel(middle), before);
}

void TestNetMap::savedPicturesShowTheDots()
{
    for (const Place &place : Positioned)
        checkIn(QString::fromLatin1(place.call), QString::fromLatin1(place.state));
    FORM(w, actionShowNetMap)->trigger();
    NetMapView *view = map()->view();
    const QTransform transform = view->canvasToView();

    // The file dialog through the prompter; a name without a suffix is a PNG.
    rt->prompter.paths = QStringList{rt->dataPath() + "/tonight"};
    FORM(w, actionSaveNetMap)->trigger();
    QCOMPARE(rt->prompter.pathCaptions, QStringList{"Save Net Map"});
    const QImage png(rt->dataPath() + "/tonight.png");
    QCOMPARE(png.size(), view->size());
    const QString wrong = misdrawnDot(view, png);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    rt->prompter.paths = QStringList{rt->dataPath() + "/tonight.svg"};
    FORM(w, actionSaveNetMap)->trigger();
    QSvgRenderer svg(rt->dataPath() + "/tonight.svg");
    QVERIFY(svg.isValid());
    QImage drawn(view->size(), QImage::Format_RGB32);
    drawn.fill(Qt::white);
    {
        QPainter painter(&drawn);
        svg.render(&painter);
    }
    const QString wrongSvg = misdrawnDot(view, drawn);
    QVERIFY2(wrongSvg.isEmpty(), qPrintable(wrongSvg));
    QVERIFY(transform == view->canvasToView());

    // A place that cannot be written: the box, the old file untouched.
    rt->prompter.clear();
    rt->prompter.paths = QStringList{rt->dataPath() + "/no such folder/map.png"};
    FORM(w, actionSaveNetMap)->trigger();
    QCOMPARE(rt->prompter.titles(), QStringList{"Can't Open File"});
}

void TestNetMap::reopensAtStartWithItsGeometry()
{
    FORM(w, actionShowNetMap)->trigger();
    map()->window()->resize(640, 420);
    map()->window()->move(40, 50);
    FORM(w, actionExit)->trigger();
    {
        QSettings settings(rt->settingsFile(), QSettings::IniFormat);
        QCOMPARE(settings.value("NetMap/Visible").toString(), QStringLiteral("Yes"));
    }
    w = rt->start();
    QVERIFY(map()->window()->isVisible());
    QCOMPARE(map()->window()->size(), QSize(640, 420));

    // Closed at exit: stays closed.
    map()->window()->close();
    FORM(w, actionExit)->trigger();
    w = rt->start();
    QVERIFY(!map()->window()->isVisible());
}

QTEST_MAIN(TestNetMap)
#include "tst_netmap.moc"
