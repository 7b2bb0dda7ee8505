#include "data/csv.h"
#include "files/csvinput.h"

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
    void fileTextIsSniffed_data();
    void fileTextIsSniffed();
    void windows1252IsDecoded();
    void inputReadsAcrossSlices();
};

void TestCsv::splitsLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("plain") << "a,b,c\n" << QStringList{"a", "b", "c"};
    QTest::newRow("last line without line feed keeps its last field") << "a,b,c" << QStringList{"a", "b", "c"};
    QTest::newRow("quoted comma") << "\"Smith, John\",42\n" << QStringList{"Smith, John", "42"};
    QTest::newRow("doubled quotes inside a quoted field") << "\"say \"\"hi\"\" now\",x\n"
                                                          << QStringList{"say \"hi\" now", "x"};
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
    QTest::newRow("quoted field with trailing text keeps its quotes") << "\"ab\"c,d\n" << QStringList{"\"ab\"c", "d"};
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
    for (const QByteArray &line :
         {QByteArray("a,b,c\n"), QByteArray("a,,\"\",\"\n"), QByteArray("\""), QByteArray("\"\"\"\"\"\n"),
          QByteArray("\r\n"), QByteArray("\r"), QByteArray("x,\"y,z\""), QByteArray("Zo\xc3\xab,\"O'Brien, Jr\"\r\n")})
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

void TestCsv::fileTextIsSniffed_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<FileText>("kind");

    const QString csv = "\"Call\",\"Name\"\n\"JA1XYZ\",\"山田\"\n\"W1AW\",\"Zoë\"\n";
    QByteArray utf16le(reinterpret_cast<const char *>(csv.utf16()), csv.size() * 2);
    QByteArray utf16be = utf16le;
    for (qsizetype i = 0; i + 1 < utf16be.size(); i += 2)
        std::swap(utf16be[i], utf16be[i + 1]);
    QByteArray random(4096, Qt::Uninitialized);
    QRandomGenerator generator(1);
    for (char &byte : random)
        byte = char(generator.bounded(256));

    QTest::newRow("nothing") << QByteArray() << FileText::Empty;
    QTest::newRow("UTF-8") << csv.toUtf8() << FileText::Text;
    QTest::newRow("UTF-8 with byte-order mark") << "\xef\xbb\xbf" + csv.toUtf8() << FileText::Text;
    QTest::newRow("Windows-1252") << QByteArray("\"Zo\xeb\",\"\x93S\xe3o Paulo\x94\"\r\n") << FileText::Text;
    QTest::newRow("tab, form feed, Ctrl-Z") << QByteArray("a\tb\n\f\n\x1a") << FileText::Text;
    QTest::newRow("one line, no line end") << QByteArray("\"Call\",\"Name\"") << FileText::Text;
    QTest::newRow("carriage returns alone") << QByteArray("\"Call\"\r\"W1AW\"\r") << FileText::CarriageReturns;
    QTest::newRow("UTF-16LE with mark") << "\xff\xfe" + utf16le << FileText::Utf16;
    QTest::newRow("UTF-16BE with mark") << "\xfe\xff" + utf16be << FileText::Utf16;
    QTest::newRow("UTF-16LE without mark") << utf16le << FileText::Utf16;
    QTest::newRow("UTF-16BE without mark") << utf16be << FileText::Utf16;
    QTest::newRow("random bytes") << random << FileText::Binary;
    QTest::newRow("a NUL in text") << QByteArray("\"Call\"\n\"W1AW\"\0\n\"K7ABC\"\n", 22) << FileText::Binary;
    QTest::newRow("an escape in text") << QByteArray("\"Call\"\n\x1b[1m\n") << FileText::Binary;
    QTest::newRow("DEL in text") << QByteArray("\"Call\"\n\x7f\n") << FileText::Binary;
}

void TestCsv::fileTextIsSniffed()
{
    QFETCH(QByteArray, head);
    QFETCH(FileText, kind);
    QCOMPARE(sniffText(head), kind);
}

void TestCsv::windows1252IsDecoded()
{
    QCOMPARE(fromWindows1252("Zo\xeb, S\xe3o Paulo"), QStringLiteral("Zoë, São Paulo"));
    // The block where it differs from Latin-1, undefined codes kept as they are.
    QCOMPARE(fromWindows1252("\x80\x81\x8a\x93\x94\x96\x99\x9f\xa0\xff"),
             QString::fromUtf16(u"\u20ac\u0081\u0160\u201c\u201d\u2013\u2122\u0178\u00a0\u00ff"));
}

void TestCsv::inputReadsAcrossSlices()
{
    // Lines around the slice borders, a line longer than a slice, and one
    // Windows-1252 line: every line comes back whole, in order, once.
    QList<QByteArray> lines;
    QRandomGenerator random(8);
    for (int i = 0; i < 40000; ++i)
        lines.append("\"K" + QByteArray::number(i) + "\",\"" + QByteArray(random.bounded(80), 'x') + "\"\n");
    lines.insert(20000, "\"LONG\",\"" + QByteArray(1 << 21, 'y') + "\"\n");
    lines.insert(30000, "\"PY2ABC\",\"S\xe3o Paulo\"\n");
    lines.last().chop(1);
    QBuffer buffer;
    buffer.setData(lines.join());
    QVERIFY(buffer.open(QIODevice::ReadOnly));

    CsvInput input(buffer);
    QCOMPARE(input.content(), FileText::Text);
    int count = 0;
    while (input.next()) {
        const QByteArray &line = lines.at(count);
        QCOMPARE(input.size(), 2);
        const QByteArray call = line.mid(1, line.indexOf('"', 1) - 1);
        QCOMPARE(input.utf8(0), call);
        QCOMPARE(input.converted(), call == "PY2ABC");
        if (call == "PY2ABC")
            QCOMPARE(input.string(1), QStringLiteral("São Paulo"));
        else
            QCOMPARE(input.utf8(1).size(), line.size() - call.size() - 5 - (line.endsWith('\n') ? 1 : 0));
        ++count;
    }
    QCOMPARE(count, lines.size());
    QCOMPARE(input.position(), buffer.size());
}

QTEST_APPLESS_MAIN(TestCsv)
#include "tst_csv.moc"
