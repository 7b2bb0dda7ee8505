#include "data/csv.h"

#include <QtTest>

class TestCsv : public QObject {
    Q_OBJECT

private slots:
    void splitsLines_data();
    void splitsLines();
};

void TestCsv::splitsLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("plain") << "a,b,c\n" << QStringList{"a", "b", "c"};
    QTest::newRow("last line without line feed keeps its last field") << "a,b,c" << QStringList{"a", "b", "c"};
    QTest::newRow("quoted comma") << "\"Smith, John\",42\n" << QStringList{"Smith, John", "42"};
    QTest::newRow("doubled quotes inside a quoted field")
        << "\"say \"\"hi\"\" now\",x\n" << QStringList{"say \"hi\" now", "x"};
    QTest::newRow("two quotes only") << "\"\"\n" << QStringList{""};
    QTest::newRow("line feed only") << "\n" << QStringList{""};
    QTest::newRow("empty text at the end of a file") << "" << QStringList{};
    QTest::newRow("windows line end") << "a,b,c\r\n" << QStringList{"a", "b", "c"};
    QTest::newRow("carriage return inside a field") << "a\rb,c\n" << QStringList{"ab", "c"};
    QTest::newRow("fields are not trimmed") << " a , b\n" << QStringList{" a ", " b"};
    QTest::newRow("adjacent commas") << "a,,b\n" << QStringList{"a", "", "b"};
    QTest::newRow("trailing comma") << "a,b,\n" << QStringList{"a", "b", ""};
    QTest::newRow("trailing comma without line feed") << "a,b," << QStringList{"a", "b", ""};
    QTest::newRow("odd quote swallows the rest of the line") << "ab\"c,d\n" << QStringList{};
    QTest::newRow("odd quote without line feed") << "ab\"c,d" << QStringList{};
    QTest::newRow("doubled quotes collapse in unquoted fields too") << "a\"\"b,c\n" << QStringList{"a\"b", "c"};
    QTest::newRow("non-ASCII") << "Zoë,Jürgen\n" << QStringList{"Zoë", "Jürgen"};
    QTest::newRow("quoted field with trailing text keeps its quotes")
        << "\"ab\"c,d\n" << QStringList{"\"ab\"c", "d"};
}

void TestCsv::splitsLines()
{
    QFETCH(QString, line);
    QFETCH(QStringList, fields);
    QCOMPARE(splitCsvLine(line), fields);
}

QTEST_APPLESS_MAIN(TestCsv)
#include "tst_csv.moc"
