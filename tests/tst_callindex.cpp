#include "data/callindex.h"

#include <QMap>
#include <QtTest>

#include <random>

namespace {

QList<QByteArray> listed(const CallIndex &index)
{
    QList<QByteArray> calls;
    for (qsizetype i = 0; i < index.size(); ++i)
        calls.append(index.call(i).toByteArray() + '#' + QByteArray::number(index.id(i)));
    return calls;
}

QList<QByteArray> found(const CallIndex &index, const QByteArray &fragment, bool whole)
{
    CallIndex::Matches matches;
    index.find(fragment, whole, matches);
    QList<QByteArray> calls;
    for (qsizetype i = 0; i < matches.size(); ++i)
        calls.append(matches.call(i).toByteArray());
    return calls;
}

std::vector<CallIndex::Row> rowsOf(const QMap<qint64, QByteArray> &table)
{
    std::vector<CallIndex::Row> rows;
    for (auto it = table.begin(); it != table.end(); ++it)
        rows.push_back({it.key(), it.value()});
    return rows;
}

} // namespace

class TestCallIndex : public QObject {
    Q_OBJECT

private slots:
    void findsAsLikeDoes();
    void updatesMatchAWholeRead_data();
    void updatesMatchAWholeRead();
};

void TestCallIndex::findsAsLikeDoes()
{
    CallIndex index;
    index.assign({{5, "W1AW"},
                  {2, "k7abc"},
                  {3, "K7ABC"},
                  {9, "W1AW"},
                  {4, "KW1AWX"},
                  {6, ""},
                  {7, "N\xc3\xa4"
                      "1"},
                  {8, QByteArray("A\0B", 3)}});
    // Bytes, the shorter first, then the id; lower case after upper.
    QCOMPARE(listed(index), (QList<QByteArray>{"#6", QByteArray("A\0B", 3) + "#8", "K7ABC#3", "KW1AWX#4",
                                               "N\xc3\xa4"
                                               "1#7",
                                               "W1AW#5", "W1AW#9", "k7abc#2"}));

    QCOMPARE(found(index, "W1AW", false), (QList<QByteArray>{"KW1AWX", "W1AW", "W1AW"}));
    QCOMPARE(found(index, "W1AW", true), (QList<QByteArray>{"W1AW", "W1AW"}));
    // ASCII letters in either case; others only as they are.
    QCOMPARE(found(index, "7AB", false), (QList<QByteArray>{"K7ABC", "k7abc"}));
    QCOMPARE(found(index, "k7ABC", true), (QList<QByteArray>{"K7ABC", "k7abc"}));
    QCOMPARE(found(index, "N\xc3\x84", false), QList<QByteArray>{});
    QCOMPARE(found(index,
                   "\xc3\xa4"
                   "1",
                   false),
             QList<QByteArray>{"N\xc3\xa4"
                               "1"});
    // Nothing reaches across two calls, nor past the last.
    QCOMPARE(found(index, "WXN", false), QList<QByteArray>{});
    QCOMPARE(found(index, "C", false), (QList<QByteArray>{"K7ABC", "k7abc"}));
    // Empty: every call; alone: the empty call.
    QCOMPARE(found(index, "", false).size(), 8);
    QCOMPARE(found(index, "", true), QList<QByteArray>{""});
    QCOMPARE(found(index, QByteArray("\0B", 2), false), QList<QByteArray>{QByteArray("A\0B", 3)});
}

void TestCallIndex::updatesMatchAWholeRead_data()
{
    // Lower case in a call gives the index a second, folded text; without
    // any, both texts are one.
    QTest::addColumn<QByteArray>("letters");
    QTest::addColumn<int>("lowerFrom"); // the round from which lower case comes
    QTest::newRow("mixed case") << QByteArray("AKNWakw17") << 0;
    QTest::newRow("upper case, then lower") << QByteArray("AKNWakw17") << 150;
    QTest::newRow("upper case only") << QByteArray("AKNWakw17") << -1;
}

void TestCallIndex::updatesMatchAWholeRead()
{
    // Random batches of changes, merged in (a few in place, many as a new
    // layout), give what reading the table whole gives.
    QFETCH(QByteArray, letters);
    QFETCH(int, lowerFrom);
    std::mt19937 rng(16);
    int round = 0;
    const auto call = [&] {
        const bool lower = lowerFrom >= 0 && round >= lowerFrom;
        const quint32 choices = lower ? quint32(letters.size()) : 4;
        QByteArray text;
        for (int i = int(rng() % 5); i >= 0; --i) {
            const char letter = letters.at(qsizetype(rng() % choices));
            text += letter;
        }
        if (!lower || rng() % 2)
            text += letters.right(2);
        return text;
    };
    QMap<qint64, QByteArray> table;
    for (qint64 id = 1; id <= 300; ++id)
        table.insert(id, call());
    CallIndex index;
    index.assign(rowsOf(table));
    qint64 nextId = 301;
    for (round = 0; round < 200; ++round) {
        QList<qint64> changed;
        const int changes = round % 10 == 0 ? 40 : 1 + int(rng() % 3);
        for (int k = 0; k < changes; ++k) {
            const int what = int(rng() % 3);
            if (what == 0 || table.isEmpty()) {
                table.insert(nextId, call());
                changed.append(nextId++);
            } else {
                const qint64 id = std::next(table.begin(), qsizetype(rng() % quint32(table.size()))).key();
                if (what == 1)
                    table.remove(id);
                else
                    table[id] = call();
                changed.append(id);
            }
        }
        std::vector<CallIndex::Row> rows;
        for (const qint64 id : changed) {
            if (table.contains(id)
                && std::none_of(rows.begin(), rows.end(), [id](const auto &r) { return r.id == id; }))
                rows.push_back({id, table.value(id)});
        }
        index.update(changed, rows);
        CallIndex whole;
        whole.assign(rowsOf(table));
        QCOMPARE(listed(index), listed(whole));
        QCOMPARE(found(index, "W1", false), found(whole, "W1", false));
        QCOMPARE(found(index, "KA", true), found(whole, "KA", true));
    }
}

QTEST_MAIN(TestCallIndex)
#include "tst_callindex.moc"
