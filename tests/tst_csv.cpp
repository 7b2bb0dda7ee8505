#include "data/csv.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QtTest>

class TestCsv : public QObject {
    Q_OBJECT

private slots:
    void splitsLines_data();
    void splitsLines();
    void byteSplitMatchesTextSplit();
    void linesAreCutLikeReadLine();
    void asciiIsToldApart();
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

namespace {

// The byte split must give what the text split gives, null-ness included:
// a null field is stored as NULL, an empty one as ''.
void compareSplits(const QByteArray &line)
{
    const QStringList expected = splitCsvLine(QString::fromUtf8(line));
    CsvBytes bytes;
    bytes.split(line);
    QCOMPARE(bytes.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(QString::fromUtf8(bytes.at(i)), expected.at(i));
        QCOMPARE(bytes.isNull(i), expected.at(i).isNull());
    }
}

} // namespace

void TestCsv::byteSplitMatchesTextSplit()
{
    for (const QByteArray &line : {QByteArray("a,b,c\n"), QByteArray("a,,\"\",\"\n"), QByteArray("\""),
                                  QByteArray("\"\"\"\"\"\n"), QByteArray("\r\n"), QByteArray("\r"),
                                  QByteArray("x,\"y,z\""), QByteArray("Zo\xc3\xab,\"O'Brien, Jr\"\r\n")})
        compareSplits(line);

    // Random lines over the characters that steer the split.
    const char alphabet[][3] = {"a", ",", "\"", "\r", "\n", " ", "\xc3\xab"};
    QRandomGenerator random(4711);
    for (int n = 0; n < 20000; ++n) {
        QByteArray line;
        const int length = random.bounded(12);
        for (int i = 0; i < length; ++i)
            line += alphabet[random.bounded(int(std::size(alphabet)))];
        if (random.bounded(2))
            line += '\n';
        compareSplits(line);
        if (QTest::currentTestFailed()) {
            qWarning() << "line" << line;
            return;
        }
    }
}

void TestCsv::linesAreCutLikeReadLine()
{
    for (const QByteArray &text : {QByteArray(), QByteArray("\n"), QByteArray("a\nb"), QByteArray("a\nb\n"),
                                  QByteArray("\n\nx\r\n"), QByteArray("one line")}) {
        QBuffer buffer;
        buffer.setData(text);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QList<QByteArray> expected;
        while (!buffer.atEnd())
            expected.append(buffer.readLine());
        QList<QByteArray> cut;
        LineCutter lines(text);
        while (!lines.atEnd())
            cut.append(lines.next().toByteArray());
        QCOMPARE(cut, expected);
    }
}

void TestCsv::asciiIsToldApart()
{
    QVERIFY(isAscii(QByteArrayView()));
    QVERIFY(isAscii("plain text, longer than one word"));
    // A byte of 0x80 or more in a whole word and in the tail.
    for (qsizetype at : {0, 5, 8, 17, 30}) {
        QByteArray text(31, 'a');
        text[at] = char(0xc3);
        QVERIFY2(!isAscii(text), qPrintable(QString::number(at)));
    }
}

QTEST_APPLESS_MAIN(TestCsv)
#include "tst_csv.moc"
