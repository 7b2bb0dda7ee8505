// The map's projection and the states' outlines: places land in their own
// state, the insets hold Alaska, Hawaii and the territories.

#include "maps/usmap.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTemporaryDir>
#include <QtTest>

class TestUsMap : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void placesLandInTheirState_data();
    void placesLandInTheirState();
    void areasByCoordinates_data();
    void areasByCoordinates();
    void insetsStayInTheirFramesAndOnTheCanvas();
    void stateCentresLandInTheirState();
    void badOutlineFilesAreRefused_data();
    void badOutlineFilesAreRefused();

private:
    QList<UsMap::Outline> outlines;
};

void TestUsMap::initTestCase()
{
    QString problem;
    outlines = UsMap::loadOutlines(QStringLiteral(TRELVIN_SOURCE_DIR "/info/US_States.txt"), &problem);
    QVERIFY2(!outlines.isEmpty(), qPrintable(problem));
    QCOMPARE(outlines.size(), 56);
}

void TestUsMap::placesLandInTheirState_data()
{
    QTest::addColumn<double>("lat");
    QTest::addColumn<double>("lon");
    QTest::addColumn<QString>("state");
    QTest::newRow("Salt Lake City") << 40.7608 << -111.8910 << "UT";
    QTest::newRow("Seattle") << 47.6062 << -122.3321 << "WA";
    QTest::newRow("Key West") << 24.5551 << -81.7800 << "FL";
    QTest::newRow("Bangor") << 44.8016 << -68.7712 << "ME";
    QTest::newRow("Brownsville") << 25.9017 << -97.4975 << "TX";
    QTest::newRow("Washington") << 38.9072 << -77.0369 << "DC";
    QTest::newRow("Providence") << 41.8240 << -71.4128 << "RI";
    QTest::newRow("Dover") << 39.1582 << -75.5244 << "DE";
    QTest::newRow("Anchorage") << 61.2181 << -149.9003 << "AK";
    QTest::newRow("Juneau") << 58.3019 << -134.4197 << "AK";
    QTest::newRow("Honolulu") << 21.3069 << -157.8583 << "HI";
    QTest::newRow("Hilo") << 19.7074 << -155.0885 << "HI";
    QTest::newRow("San Juan") << 18.4655 << -66.1057 << "PR";
    QTest::newRow("Charlotte Amalie") << 18.3419 << -64.9307 << "VI";
    QTest::newRow("Hagatna") << 13.4757 << 144.7489 << "GU";
    QTest::newRow("Saipan") << 15.1850 << 145.7467 << "MP";
    QTest::newRow("Pago Pago") << -14.2756 << -170.7020 << "AS";
}

void TestUsMap::placesLandInTheirState()
{
    QFETCH(double, lat);
    QFETCH(double, lon);
    QFETCH(QString, state);
    const std::optional<UsMap::Point> point = UsMap::place(lat, lon);
    QVERIFY(point);
    QVERIFY2(point->x >= 0 && point->x <= UsMap::Width && point->y >= 0 && point->y <= UsMap::Height,
             qPrintable(QStringLiteral("%1, %2").arg(point->x).arg(point->y)));
    QCOMPARE(UsMap::stateAt(outlines, *point), state);
}

void TestUsMap::areasByCoordinates_data()
{
    QTest::addColumn<double>("lat");
    QTest::addColumn<double>("lon");
    QTest::addColumn<int>("area");
    const int none = -1;
    QTest::newRow("Utah") << 40.0 << -111.0 << int(UsMap::Area::Lower48);
    QTest::newRow("Attu, beyond 180 degrees") << 52.9 << 172.9 << int(UsMap::Area::Alaska);
    QTest::newRow("Adak") << 51.88 << -176.66 << int(UsMap::Area::Alaska);
    QTest::newRow("Maui") << 20.8 << -156.3 << int(UsMap::Area::Hawaii);
    QTest::newRow("Saint Croix") << 17.73 << -64.75 << int(UsMap::Area::PuertoRico);
    QTest::newRow("Rota") << 14.15 << 145.2 << int(UsMap::Area::Guam);
    QTest::newRow("Tutuila") << -14.3 << -170.7 << int(UsMap::Area::Samoa);
    QTest::newRow("London") << 51.5 << -0.12 << none;
    QTest::newRow("Sydney") << -33.9 << 151.2 << none;
    QTest::newRow("no latitude") << qQNaN() << -100.0 << none;
    QTest::newRow("beyond the pole") << 95.0 << -100.0 << none;
    QTest::newRow("null island") << 0.0 << 0.0 << none;
}

void TestUsMap::areasByCoordinates()
{
    QFETCH(double, lat);
    QFETCH(double, lon);
    QFETCH(int, area);
    const std::optional<UsMap::Area> found = UsMap::areaOf(lat, lon);
    QCOMPARE(found ? int(*found) : -1, area);
    QCOMPARE(UsMap::place(lat, lon).has_value(), area >= 0);
}

void TestUsMap::insetsStayInTheirFramesAndOnTheCanvas()
{
    // Every point of every outline on the canvas, the insets' inside their
    // frames, and no lower-48 outline inside an inset's frame.
    for (const UsMap::Outline &outline : std::as_const(outlines)) {
        const UsMap::Area area = UsMap::areaOfState(outline.abbreviation);
        const std::optional<UsMap::Frame> frame = UsMap::insetFrame(area);
        for (const QList<UsMap::Point> &ring : outline.polygons) {
            for (const UsMap::Point &p : ring) {
                QVERIFY2(p.x >= 0 && p.x <= UsMap::Width && p.y >= 0 && p.y <= UsMap::Height,
                         qPrintable(outline.name + QStringLiteral(" leaves the canvas at %1, %2").arg(p.x).arg(p.y)));
                if (frame)
                    QVERIFY2(
                        p.x >= frame->left && p.x <= frame->right && p.y >= frame->top && p.y <= frame->bottom,
                        qPrintable(outline.name + QStringLiteral(" leaves its inset at %1, %2").arg(p.x).arg(p.y)));
            }
        }
        if (frame)
            continue;
        for (const UsMap::Area inset : {UsMap::Area::Alaska, UsMap::Area::Hawaii, UsMap::Area::PuertoRico,
                                        UsMap::Area::Guam, UsMap::Area::Samoa}) {
            const UsMap::Frame f = *UsMap::insetFrame(inset);
            for (const QList<UsMap::Point> &ring : outline.polygons)
                for (const UsMap::Point &p : ring)
                    QVERIFY2(!(p.x > f.left && p.x < f.right && p.y > f.top && p.y < f.bottom),
                             qPrintable(outline.name
                                        + QStringLiteral(" reaches into an inset at %1, %2").arg(p.x).arg(p.y)));
        }
    }
}

void TestUsMap::stateCentresLandInTheirState()
{
    // A station known by its state alone is drawn at the state's centre:
    // every centre of the shipped table must fall inside its own outline.
    QFile file(QStringLiteral(TRELVIN_SOURCE_DIR "/info/State_Info.csv"));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    file.readLine();
    int centres = 0;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(',');
        if (fields.size() != 3)
            continue;
        const QString state = QString::fromLatin1(fields.at(0));
        const std::optional<UsMap::Point> point = UsMap::place(fields.at(1).toDouble(), fields.at(2).toDouble());
        QVERIFY2(point, qPrintable(state));
        QVERIFY2(UsMap::stateAt(outlines, *point) == state,
                 qPrintable(state + " lands in '" + UsMap::stateAt(outlines, *point) + "'"));
        ++centres;
    }
    QVERIFY(centres >= 50);
}

void TestUsMap::badOutlineFilesAreRefused_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("problem");
    QTest::newRow("empty") << QByteArray("# nothing\n") << "holds no outlines.";
    QTest::newRow("ring first") << QByteArray("R 1 2 3 4 5 6\n") << "line 1: a ring outside a polygon.";
    QTest::newRow("short ring") << QByteArray("S 49 UT Utah\nP\nR 1 2 3 4\n") << "line 3: a ring without three points.";
    QTest::newRow("odd numbers") << QByteArray("S 49 UT Utah\nP\nR 1 2 3 4 5 6 7\n")
                                 << "line 3: a ring without three points.";
    QTest::newRow("not a number") << QByteArray("S 49 UT Utah\nP\nR 1 2 3 x 5 6\n")
                                  << "line 3: a point that is no longitude and latitude.";
    QTest::newRow("latitude out of range")
        << QByteArray("S 49 UT Utah\nP\nR 1 2 3 91 5 6\n") << "line 3: a point that is no longitude and latitude.";
    QTest::newRow("state without name") << QByteArray("S 49 UT\n")
                                        << "line 1: a state line without its code, abbreviation and name.";
    QTest::newRow("unknown line") << QByteArray("S 49 UT Utah\nX\n")
                                  << "line 2: a line that is not a state, polygon or ring.";
}

void TestUsMap::badOutlineFilesAreRefused()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("US_States.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QString said;
    QVERIFY(UsMap::loadOutlines(file.fileName(), &said).isEmpty());
    QVERIFY2(said.endsWith(problem), qPrintable(said));
    QVERIFY(UsMap::loadOutlines(dir.filePath(QStringLiteral("missing.txt")), &said).isEmpty());
    QVERIFY(said.contains(QStringLiteral("cannot be read")));
}

QTEST_GUILESS_MAIN(TestUsMap)
#include "tst_usmap.moc"
