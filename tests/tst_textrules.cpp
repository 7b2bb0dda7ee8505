#include "checkin/textrules.h"

#include <QtTest>

class TestTextRules : public QObject {
    Q_OBJECT

private slots:
    void titleCaseWords_data();
    void titleCaseWords();
    void justifyDigitAligns_data();
    void justifyDigitAligns();
    void removeNulsRemovesEvery();
    void greatCircleFigures_data();
    void greatCircleFigures();
};

void TestTextRules::titleCaseWords_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("two words") << "mc donald" << "Mc Donald";
    QTest::newRow("hyphen does not start a word") << "ANN-MARIE" << "Ann-marie";
    QTest::newRow("mixed") << "new YORK" << "New York";
    QTest::newRow("double blank") << "a  b" << "A  B";
    QTest::newRow("leading blank") << " salt lake" << " Salt Lake";
    QTest::newRow("apostrophe") << "o'BRIEN" << "O'brien";
    QTest::newRow("non-ASCII") << "ÉMILE zoë" << "Émile Zoë";
    QTest::newRow("empty") << "" << "";
}

void TestTextRules::titleCaseWords()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QCOMPARE(titleCase(in), out);
}

void TestTextRules::justifyDigitAligns_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("one-letter prefix") << "W1AW" << " W1AW";
    QTest::newRow("two-letter prefix") << "KD7ABC" << "KD7ABC";
    QTest::newRow("Arabic-Indic digit") << QString("K") + QChar(0x0663) + "X" << QString(" K") + QChar(0x0663) + "X";
    QTest::newRow("one character") << "K" << "K";
    QTest::newRow("empty") << "" << "";
}

void TestTextRules::justifyDigitAligns()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QCOMPARE(justifyDigit(in), out);
}

void TestTextRules::removeNulsRemovesEvery()
{
    QCOMPARE(removeNuls(QString("A") + QChar(0) + QChar(0) + "B" + QChar(0)), QStringLiteral("AB"));
    QCOMPARE(removeNuls(QStringLiteral("Zoë")), QStringLiteral("Zoë"));
}

void TestTextRules::greatCircleFigures_data()
{
    QTest::addColumn<double>("lat1");
    QTest::addColumn<double>("lon1");
    QTest::addColumn<double>("lat2");
    QTest::addColumn<double>("lon2");
    QTest::addColumn<int>("bearing");
    QTest::addColumn<int>("distance");
    QTest::newRow("one degree north") << 40.0 << -111.0 << 41.0 << -111.0 << 0 << 69;
    QTest::newRow("one degree south") << 41.0 << -111.0 << 40.0 << -111.0 << 180 << 69;
    QTest::newRow("ten degrees west on the equator") << 0.0 << 0.0 << 0.0 << -10.0 << 270 << 691;
    QTest::newRow("ten degrees east on the equator") << 0.0 << 0.0 << 0.0 << 10.0 << 90 << 691;
    QTest::newRow("identical points") << 40.7608 << -111.891 << 40.7608 << -111.891 << 0 << 0;
    QTest::newRow("Salt Lake City to Denver") << 40.7608 << -111.891 << 39.7392 << -104.9903 << 99 << 371;
}

void TestTextRules::greatCircleFigures()
{
    QFETCH(double, lat1);
    QFETCH(double, lon1);
    QFETCH(double, lat2);
    QFETCH(double, lon2);
    QFETCH(int, bearing);
    QFETCH(int, distance);
    const BearingDistance result = greatCircle(lat1, lon1, lat2, lon2);
    QCOMPARE(result.bearing, bearing);
    QCOMPARE(result.distance, distance);
}

QTEST_APPLESS_MAIN(TestTextRules)
#include "tst_textrules.moc"
