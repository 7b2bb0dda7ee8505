#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QtGlobal>

#include <vector>

// Every contact's call sign held in memory, so that a keystroke finds its
// fragment with one pass of memmem over a few megabytes instead of a LIKE
// over the whole contact table. The calls lie in the order SQLite's index on
// contact(call) walks them (their bytes, then the row id), which is the
// order the search has always listed its candidates in. Matching follows
// LIKE: an ASCII letter matches either case, every other character only
// itself, and nothing is a wildcard.
class CallIndex {
public:
    struct Row {
        qint64 id = 0;
        QByteArray call; // UTF-8, as stored
    };

    // The calls found, as stored, in the index's order.
    class Matches {
    public:
        qsizetype size() const { return qsizetype(starts.size()) - 1; }
        QByteArrayView call(qsizetype i) const
        {
            return QByteArrayView(calls.constData() + starts[size_t(i)], starts[size_t(i) + 1] - starts[size_t(i)] - 1);
        }
        void clear();
        void append(QByteArrayView call);

    private:
        QByteArray calls;               // each call followed by '\0'
        std::vector<quint32> starts{0}; // where each call starts, then the end
    };

    void clear();
    // Takes every row of the table, in any order.
    void assign(std::vector<Row> rows);
    // The same one row at a time, without holding the rows twice: best in
    // the index's order, which finish() restores otherwise.
    void add(QByteArrayView call, qint64 id);
    void finish();
    // The rows with these ids changed: `rows` holds those still present, as
    // they are now; the others were deleted.
    void update(const QList<qint64> &ids, std::vector<Row> rows);

    qsizetype size() const { return qsizetype(ids.size()); }
    // Bytes held, for the benchmark.
    qsizetype bytes() const;

    // The calls that contain `fragment`, or equal it when `whole`; the
    // fragment is upper case where it is ASCII.
    void find(QByteArrayView fragment, bool whole, Matches &out) const;

    // The call as stored and its id, by position.
    QByteArrayView call(qsizetype i) const;
    qint64 id(qsizetype i) const { return ids[size_t(i)]; }

    static QByteArray folded(QByteArrayView call);

private:
    void append(QByteArrayView call, qint64 id);
    // update's two searches: the positions of the ids that changed, and
    // where each new row goes among the present ones.
    std::vector<size_t> positionsOf(const std::vector<qint64> &gone) const;
    std::vector<size_t> placesFor(const std::vector<Row> &rows) const;
    // update's two ways: a few changes edited where they lie, or many
    // copied into a new layout in blocks between them.
    void editInPlace(const std::vector<size_t> &removed, const std::vector<Row> &rows);
    void relayOut(const std::vector<size_t> &removed, const std::vector<Row> &rows);

    // Calls as stored and with ASCII letters upper case, each buffer laid
    // out as "\0" call "\0" call ... "\0"; the two share their data when no
    // call has a lower-case letter.
    QByteArray stored{1, '\0'};
    QByteArray upper{1, '\0'};
    std::vector<quint32> starts; // where each call starts, then the end + 1
    std::vector<qint64> ids;
    bool inOrder = true;
};
