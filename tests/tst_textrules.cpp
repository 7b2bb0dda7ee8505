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
    void likeLiteralEscapesWildcards();
    void digitsOnlyKeepsAsciiDigits();
    void clippedKeepsWholeCharacters_data();
    void clippedKeepsWholeCharacters();
    void loggedWithinLooksBack_data();
    void loggedWithinLooksBack();
    void greatCircleFigures_data();
    void greatCircleFigures();
};

void TestTextRules::titleCaseWords_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("two words") << "mc donald"
                               << "Mc Donald";
    QTest::newRow("hyphen does not start a word") << "ANN-MARIE"
                                                  << "Ann-marie";
    QTest::newRow("mixed") << "new YORK"
                           << "New York";
    QTest::newRow("double blank") << "a  b"
                                  << "A  B";
    QTest::newRow("leading blank") << " salt lake"
                                   << " Salt Lake";
    QTest::newRow("apostrophe") << "o'BRIEN"
                                << "O'brien";
    QTest::newRow("non-ASCII") << "ÉMILE zoë"
                               << "Émile Zoë";
    QTest::newRow("empty") << ""
                           << "";
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
    QTest::newRow("one-letter prefix") << "W1AW"
                                       << " W1AW";
    QTest::newRow("two-letter prefix") << "KD7ABC"
                                       << "KD7ABC";
    QTest::newRow("Arabic-Indic digit") << QString("K") + QChar(0x0663) + "X" << QString(" K") + QChar(0x0663) + "X";
    QTest::newRow("one character") << "K"
                                   << "K";
    QTest::newRow("empty") << ""
                           << "";
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

void TestTextRules::likeLiteralEscapesWildcards()
{
    QCOMPARE(likeLiteral("W1AW"), QString("W1AW"));
    QCOMPARE(likeLiteral("K%_\\"), QString("K\\%\\_\\\\"));
}

void TestTextRules::digitsOnlyKeepsAsciiDigits()
{
    QCOMPARE(digitsOnly("(860) 594-0200"), QString("8605940200"));
    QCOMPARE(digitsOnly("+1 801.555.0000 x12"), QString("1801555000012"));
    // Other scripts' digits, full-width ones and emoji are not phone digits.
    QCOMPARE(digitsOnly(QString::fromUtf8("\u0663\uFF11 7\xF0\x9F\x98\x80")), QString("7"));
    QCOMPARE(digitsOnly(QString()), QString());
}

void TestTextRules::clippedKeepsWholeCharacters_data()
{
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString eAcute = QString("e") + QChar(0x0301);
    QTest::addColumn<QString>("in");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("out");
    QTest::newRow("short enough") << "Zoë" << 15 << "Zoë";
    QTest::newRow("plain cut") << "Maximilian" << 4 << "Maxi";
    QTest::newRow("emoji fits") << "Ann" + smile << 5 << "Ann" + smile;
    QTest::newRow("emoji split") << "Anna" + smile << 5 << "Anna";
    QTest::newRow("combining mark split") << "Jos" + eAcute + "!" << 4 << "Jos";
    QTest::newRow("combining mark fits") << "Jos" + eAcute + "!" << 5 << "Jos" + eAcute;
    QTest::newRow("nothing fits") << smile << 1 << "";
}

void TestTextRules::clippedKeepsWholeCharacters()
{
    QFETCH(QString, in);
    QFETCH(int, length);
    QFETCH(QString, out);
    QCOMPARE(clipped(in, length), out);
}

void TestTextRules::loggedWithinLooksBack_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<bool>("within");
    const QDateTime evening(QDate(2025, 3, 4), QTime(21, 30, 0));
    const QDateTime pastMidnight(QDate(2025, 3, 5), QTime(0, 45, 0));
    QTest::newRow("an hour ago") << "250304"
                                 << "20:30:00" << evening << true;
    QTest::newRow("three hours to the second") << "250304"
                                               << "18:30:00" << evening << true;
    QTest::newRow("a second more") << "250304"
                                   << "18:29:59" << evening << false;
    QTest::newRow("later than now") << "250304"
                                    << "21:30:01" << evening << false;
    QTest::newRow("yesterday at this time") << "250303"
                                            << "21:00:00" << evening << false;
    QTest::newRow("before midnight") << "250304"
                                     << "22:15:00" << pastMidnight << true;
    QTest::newRow("too long before midnight") << "250304"
                                              << "21:30:00" << pastMidnight << false;
    QTest::newRow("no time") << "250304"
                             << "" << evening << false;
}

void TestTextRules::loggedWithinLooksBack()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QDateTime, now);
    QFETCH(bool, within);
    QCOMPARE(loggedWithin(date, time, now, 3 * 60 * 60), within);
}

QTEST_APPLESS_MAIN(TestTextRules)
#include "tst_textrules.moc"
