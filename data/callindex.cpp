#include "data/callindex.h"

#include <algorithm>
#include <cstring>

namespace {

using Row = CallIndex::Row;

// The order of SQLite's BINARY collation (bytes, the shorter first), then the id.
bool before(QByteArrayView a, qint64 aId, QByteArrayView b, qint64 bId)
{
    const int order = std::memcmp(a.data(), b.data(), size_t(std::min(a.size(), b.size())));
    if (order != 0)
        return order < 0;
    if (a.size() != b.size())
        return a.size() < b.size();
    return aId < bId;
}

bool hasLower(QByteArrayView text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

void sortRows(std::vector<Row> &rows)
{
    std::sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return before(a.call, a.id, b.call, b.id); });
}

// The index's arrays, edited where they lie: one call taken out or put in,
// the offsets after it shifted.
struct Layout {
    QByteArray &stored;
    QByteArray *upper; // null while it shares the stored text
    std::vector<quint32> &starts;
    std::vector<qint64> &ids;

    void eraseAt(size_t at)
    {
        const quint32 from = starts[at];
        const quint32 length = starts[at + 1] - from;
        stored.remove(from, length);
        if (upper)
            upper->remove(from, length);
        starts.erase(starts.begin() + qsizetype(at) + 1);
        for (size_t i = at + 1; i < starts.size(); ++i)
            starts[i] -= length;
        ids.erase(ids.begin() + qsizetype(at));
    }
    void insertAt(size_t at, const QByteArray &call, const QByteArray &folded, qint64 id)
    {
        const quint32 from = starts[at];
        const quint32 length = quint32(call.size() + 1);
        stored.insert(from, call + '\0');
        if (upper)
            upper->insert(from, folded + '\0');
        for (size_t i = at + 1; i < starts.size(); ++i)
            starts[i] += length;
        starts.insert(starts.begin() + qsizetype(at) + 1, from + length);
        ids.insert(ids.begin() + qsizetype(at), id);
    }
};

} // namespace

void CallIndex::Matches::clear()
{
    calls.clear();
    starts.assign(1, 0);
}

void CallIndex::Matches::append(QByteArrayView call)
{
    calls.append(call);
    calls.append('\0');
    starts.push_back(quint32(calls.size()));
}

QByteArray CallIndex::folded(QByteArrayView call)
{
    QByteArray out = call.toByteArray();
    for (char &c : out) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    return out;
}

void CallIndex::clear()
{
    assign({});
}

void CallIndex::append(QByteArrayView call, qint64 id)
{
    stored.append(call);
    stored.append('\0');
    starts.push_back(quint32(stored.size()));
    ids.push_back(id);
}

void CallIndex::assign(std::vector<Row> rows)
{
    sortRows(rows);
    stored = QByteArray(1, '\0');
    starts.assign(1, 1);
    ids.clear();
    inOrder = true;
    ids.reserve(rows.size());
    starts.reserve(rows.size() + 1);
    qsizetype total = 1;
    for (const Row &row : rows)
        total += row.call.size() + 1;
    stored.reserve(total);
    for (const Row &row : rows)
        append(row.call, row.id);
    // Only the few calls typed in lower case need a second buffer.
    upper = hasLower(stored) ? folded(stored) : stored;
}

// Where the old versions lie: one pass over the ids, most of them outside
// the range of those changed (a new contact has the highest).
std::vector<size_t> CallIndex::positionsOf(const std::vector<qint64> &gone) const
{
    const qint64 low = gone.front();
    const qint64 high = gone.back();
    std::vector<size_t> removed;
    const size_t count = ids.size();
    for (size_t i = 0; i < count; ++i) {
        const qint64 id = ids[i];
        if (id >= low && id <= high && std::binary_search(gone.begin(), gone.end(), id))
            removed.push_back(i);
    }
    return removed;
}

// Where the new versions go, among the old.
std::vector<size_t> CallIndex::placesFor(const std::vector<Row> &rows) const
{
    const size_t count = ids.size();
    std::vector<size_t> inserted;
    inserted.reserve(rows.size());
    for (const Row &row : rows) {
        size_t lo = 0, hi = count;
        while (lo < hi) {
            const size_t mid = (lo + hi) / 2;
            if (before(call(qsizetype(mid)), ids[mid], row.call, row.id))
                lo = mid + 1;
            else
                hi = mid;
        }
        inserted.push_back(lo);
    }
    return inserted;
}

void CallIndex::update(const QList<qint64> &changed, std::vector<Row> rows)
{
    if (changed.isEmpty())
        return;
    sortRows(rows);
    std::vector<qint64> gone(changed.begin(), changed.end());
    std::sort(gone.begin(), gone.end());
    const std::vector<size_t> removed = positionsOf(gone);
    // A few changes (a contact stored from the window) are made in place: a
    // new layout is some 20 MB at a million contacts, memory allocated and
    // touched anew, tens of milliseconds on the keystroke that follows.
    if (removed.size() + rows.size() <= 8)
        editInPlace(removed, rows);
    else
        relayOut(removed, rows);
}

void CallIndex::editInPlace(const std::vector<size_t> &removed, const std::vector<Row> &rows)
{
    const bool bothShared = upper.isSharedWith(stored);
    const bool lower = std::any_of(rows.begin(), rows.end(), [](const Row &row) { return hasLower(row.call); });
    // Alone, the text is edited where it lies rather than copied first.
    if (bothShared)
        upper = QByteArray();
    Layout layout{stored, bothShared ? nullptr : &upper, starts, ids};
    for (auto it = removed.rbegin(); it != removed.rend(); ++it)
        layout.eraseAt(*it);
    const std::vector<size_t> places = placesFor(rows);
    for (size_t k = rows.size(); k-- > 0;)
        layout.insertAt(places[k], rows[k].call, folded(rows[k].call), rows[k].id);
    if (bothShared)
        upper = lower ? folded(stored) : stored;
}

void CallIndex::relayOut(const std::vector<size_t> &removed, const std::vector<Row> &rows)
{
    const size_t count = ids.size();
    const std::vector<size_t> inserted = placesFor(rows);
    const bool needUpper = !upper.isSharedWith(stored)
                           || std::any_of(rows.begin(), rows.end(), [](const Row &row) { return hasLower(row.call); });
    QByteArray newStored(1, '\0');
    QByteArray newUpper(1, '\0');
    newStored.reserve(stored.size() + 64 * qsizetype(rows.size()));
    if (needUpper)
        newUpper.reserve(newStored.capacity());
    std::vector<quint32> newStarts{1};
    newStarts.reserve(count + rows.size() + 1);
    std::vector<qint64> newIds;
    newIds.reserve(count + rows.size());

    const auto copy = [&](size_t from, size_t to) {
        if (from >= to)
            return;
        const qint64 shift = qint64(newStored.size()) - qint64(starts[from]);
        newStored.append(stored.constData() + starts[from], starts[to] - starts[from]);
        if (needUpper)
            newUpper.append(upper.constData() + starts[from], starts[to] - starts[from]);
        for (size_t i = from + 1; i <= to; ++i)
            newStarts.push_back(quint32(qint64(starts[i]) + shift));
        newIds.insert(newIds.end(), ids.begin() + qsizetype(from), ids.begin() + qsizetype(to));
    };

    size_t at = 0, r = 0, n = 0;
    while (true) {
        const size_t nextRemoved = r < removed.size() ? removed[r] : count;
        const size_t nextInserted = n < inserted.size() ? inserted[n] : count;
        const size_t stop = std::min(nextRemoved, nextInserted);
        copy(at, stop);
        at = stop;
        if (n < inserted.size() && inserted[n] == at) {
            const QByteArray &text = rows[n].call;
            newStored.append(text);
            newStored.append('\0');
            if (needUpper) {
                newUpper.append(folded(text));
                newUpper.append('\0');
            }
            newStarts.push_back(quint32(newStored.size()));
            newIds.push_back(rows[n].id);
            ++n;
        } else if (r < removed.size() && removed[r] == at) {
            ++at;
            ++r;
        } else {
            break;
        }
    }
    stored = std::move(newStored);
    ids = std::move(newIds);
    starts = std::move(newStarts);
    upper = needUpper ? std::move(newUpper) : stored;
}

void CallIndex::add(QByteArrayView call, qint64 id)
{
    if (!ids.empty() && inOrder)
        inOrder = before(this->call(size() - 1), ids.back(), call, id);
    append(call, id);
}

void CallIndex::finish()
{
    if (!inOrder) {
        std::vector<Row> rows;
        rows.reserve(ids.size());
        for (qsizetype i = 0; i < size(); ++i)
            rows.push_back({ids[size_t(i)], call(i).toByteArray()});
        assign(std::move(rows));
    } else {
        // Grown by doubling while read: the slack would cost a third more.
        stored.squeeze();
        starts.shrink_to_fit();
        ids.shrink_to_fit();
        upper = hasLower(stored) ? folded(stored) : stored;
    }
    inOrder = true;
}

qsizetype CallIndex::bytes() const
{
    qsizetype total =
        stored.capacity() + qsizetype(starts.capacity() * sizeof(quint32)) + qsizetype(ids.capacity() * sizeof(qint64));
    if (!upper.isSharedWith(stored))
        total += upper.capacity();
    return total;
}

QByteArrayView CallIndex::call(qsizetype i) const
{
    const size_t at = size_t(i);
    return QByteArrayView(stored.constData() + starts[at], starts[at + 1] - starts[at] - 1);
}

void CallIndex::find(QByteArrayView typed, bool whole, Matches &out) const
{
    out.clear();
    const QByteArray fragment = folded(typed);
    const qsizetype count = size();
    const char *data = upper.constData();

    // A NUL typed would meet the separators: compared call by call instead.
    if (fragment.contains('\0')) {
        for (qsizetype i = 0; i < count; ++i) {
            const QByteArrayView text(data + starts[size_t(i)], call(i).size());
            if (whole ? text == QByteArrayView(fragment) : text.indexOf(fragment) >= 0)
                out.append(call(i));
        }
        return;
    }
    if (!whole && fragment.isEmpty()) {
        for (qsizetype i = 0; i < count; ++i)
            out.append(call(i));
        return;
    }

    // A whole call is the fragment between two separators.
    const QByteArray needle = whole ? '\0' + fragment + '\0' : fragment;
    const size_t end = size_t(upper.size());
    size_t from = 0;
    while (from < end) {
        const void *hit = memmem(data + from, end - from, needle.constData(), size_t(needle.size()));
        if (!hit)
            break;
        const size_t at = size_t(static_cast<const char *>(hit) - data) + (whole ? 1 : 0);
        // The entry that holds the hit, and on to the next entry.
        const size_t entry = size_t(std::upper_bound(starts.begin(), starts.end(), quint32(at)) - starts.begin()) - 1;
        out.append(call(qsizetype(entry)));
        from = starts[entry + 1] - (whole ? 1 : 0);
    }
}
