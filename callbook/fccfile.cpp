#include "callbook/fccfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <zip.h>

#include <algorithm>
#include <cstring>

namespace Fcc {

namespace {

// Members are read a megabyte at a time: a 200 MB file never sits in memory
// whole, and a line costs no call of its own.
constexpr qint64 ChunkBytes = 1 << 20;
// How often a long read looks at the cancel flag and reports progress.
constexpr qint64 CheckEveryLines = 4096;

// Cuts a stream of chunks into lines; a line may span chunks.
class LineCutter {
public:
    explicit LineCutter(const Source::LineHandler &handler)
        : handler(handler)
    {
    }
    // False when the handler asked to stop.
    bool feed(const char *data, qint64 size)
    {
        qint64 start = 0;
        for (;;) {
            const void *found = std::memchr(data + start, '\n', size_t(size - start));
            if (!found)
                break;
            const qint64 end = static_cast<const char *>(found) - data;
            bool go;
            if (pending.isEmpty()) {
                go = emitLine(QByteArrayView(data + start, end - start));
            } else {
                pending.append(data + start, end - start);
                go = emitLine(pending);
                pending.clear();
            }
            if (!go)
                return false;
            start = end + 1;
        }
        pending.append(data + start, size - start);
        return true;
    }
    bool finish()
    {
        if (pending.isEmpty())
            return true;
        const bool go = emitLine(pending);
        pending.clear();
        return go;
    }

private:
    bool emitLine(QByteArrayView line)
    {
        if (line.endsWith('\r'))
            line.chop(1);
        return handler(line, ++number);
    }

    const Source::LineHandler &handler;
    QByteArray pending;
    qint64 number = 0;
};

class ZipSource : public Source {
public:
    ZipSource(zip_t *archive, const QString &path)
        : archive(archive), path(path)
    {
    }
    ~ZipSource() override { zip_discard(archive); }

    QString name() const override { return QFileInfo(path).fileName(); }

    qint64 size(const char *member) const override
    {
        const zip_int64_t index = zip_name_locate(archive, member, ZIP_FL_NOCASE | ZIP_FL_NODIR);
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (index < 0 || zip_stat_index(archive, zip_uint64_t(index), 0, &stat) != 0)
            return -1;
        return (stat.valid & ZIP_STAT_SIZE) ? qint64(stat.size) : 0;
    }

    bool readLines(const char *member, const LineHandler &line, QString *error) override
    {
        const zip_int64_t index = zip_name_locate(archive, member, ZIP_FL_NOCASE | ZIP_FL_NODIR);
        if (index < 0) {
            *error = name() + " holds no " + member + ".";
            return false;
        }
        zip_file_t *file = zip_fopen_index(archive, zip_uint64_t(index), 0);
        if (!file) {
            *error = QStringLiteral("%1 in %2 cannot be read: %3")
                         .arg(QLatin1String(member), name(), QString::fromLocal8Bit(zip_strerror(archive)));
            return false;
        }
        QByteArray buffer(ChunkBytes, Qt::Uninitialized);
        LineCutter cutter(line);
        bool ok = true;
        for (;;) {
            const zip_int64_t got = zip_fread(file, buffer.data(), zip_uint64_t(buffer.size()));
            if (got < 0) {
                *error = QStringLiteral("%1 in %2 is damaged: %3")
                             .arg(QLatin1String(member), name(), QString::fromLocal8Bit(zip_file_strerror(file)));
                ok = false;
                break;
            }
            if (got == 0) {
                ok = cutter.finish();
                break;
            }
            if (!cutter.feed(buffer.constData(), got)) {
                ok = false;
                break;
            }
        }
        zip_fclose(file);
        return ok;
    }

private:
    zip_t *archive;
    QString path;
};

class FolderSource : public Source {
public:
    explicit FolderSource(const QString &path)
        : dir(path)
    {
    }

    QString name() const override { return dir.path(); }

    qint64 size(const char *member) const override
    {
        const QString path = find(member);
        return path.isEmpty() ? -1 : QFileInfo(path).size();
    }

    bool readLines(const char *member, const LineHandler &line, QString *error) override
    {
        const QString path = find(member);
        QFile file(path);
        if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
            *error = path.isEmpty() ? name() + " holds no " + member + "."
                                    : path + " cannot be read: " + file.errorString();
            return false;
        }
        QByteArray buffer(ChunkBytes, Qt::Uninitialized);
        LineCutter cutter(line);
        for (;;) {
            const qint64 got = file.read(buffer.data(), buffer.size());
            if (got < 0) {
                *error = path + " cannot be read: " + file.errorString();
                return false;
            }
            if (got == 0)
                return cutter.finish();
            if (!cutter.feed(buffer.constData(), got))
                return false;
        }
    }

private:
    // The FCC spells the names in capitals; an unpacking tool may not.
    QString find(const char *member) const
    {
        const QStringList found = dir.entryList({QLatin1String(member)}, QDir::Files | QDir::Readable,
                                                QDir::Name | QDir::IgnoreCase);
        return found.isEmpty() ? QString() : dir.filePath(found.first());
    }

    QDir dir;
};

bool isUtf8(QByteArrayView bytes)
{
    for (char c : bytes) {
        if (uchar(c) >= 0x80) {
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString decoded = decoder(bytes);
            return !decoder.hasError();
        }
    }
    return true;
}

inline void prefetch(const void *address)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#else
    Q_UNUSED(address);
#endif
}

int compareBytes(QByteArrayView a, QByteArrayView b)
{
    const int common = std::memcmp(a.data(), b.data(), size_t(std::min(a.size(), b.size())));
    if (common != 0)
        return common;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::unique_ptr<Source> Source::open(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (info.isDir())
        return std::make_unique<FolderSource>(path);
    int code = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!archive) {
        zip_error_t reason;
        zip_error_init_with_code(&reason, code);
        *error = info.fileName() + " is not a readable ZIP archive: " + QString::fromLocal8Bit(zip_error_strerror(&reason));
        zip_error_fini(&reason);
        return nullptr;
    }
    return std::make_unique<ZipSource>(archive, path);
}

void splitFields(QByteArrayView line, std::vector<QByteArrayView> &fields, int limit)
{
    fields.clear();
    qsizetype start = 0;
    while (int(fields.size()) < limit) {
        const qsizetype bar = line.indexOf('|', start);
        if (bar < 0) {
            fields.push_back(line.sliced(start));
            return;
        }
        fields.push_back(line.sliced(start, bar - start));
        start = bar + 1;
    }
}

int zip5(QByteArrayView zip)
{
    if (zip.size() < 5)
        return -1;
    int value = 0;
    for (int i = 0; i < 5; ++i) {
        if (!isDigit(zip.at(i)))
            return -1;
        value = value * 10 + (zip.at(i) - '0');
    }
    return value;
}

QString text(QByteArrayView bytes)
{
    return isUtf8(bytes) ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

bool ZipCentres::load(const QString &path, QString *error)
{
    centres.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path + ": " + file.errorString();
        return false;
    }
    std::vector<QByteArrayView> fields;
    const QByteArray all = file.readAll();
    for (QByteArrayView line : all.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        fields.clear();
        qsizetype start = 0;
        for (qsizetype comma; (comma = line.indexOf(',', start)) >= 0; start = comma + 1)
            fields.push_back(line.sliced(start, comma - start));
        fields.push_back(line.sliced(start));
        if (fields.size() < 3)
            continue;
        const int zip = zip5(fields[0]);
        bool latOk = false, lonOk = false;
        const double lat = fields[1].toDouble(&latOk);
        const double lon = fields[2].toDouble(&lonOk);
        if (zip >= 0 && latOk && lonOk)
            centres.insert(zip, {lat, lon});
    }
    return true;
}

bool ZipCentres::find(int zip, double &lat, double &lon) const
{
    const auto it = centres.constFind(zip);
    if (it == centres.constEnd())
        return false;
    lat = it->first;
    lon = it->second;
    return true;
}

void Report::skip(const QString &line)
{
    if (skipped.size() < MaxLogged)
        skipped.append(line);
    ++skippedCount;
}

// One licence's parts, each an offset into the arena (0: none yet).
struct Licences::Entry {
    qint64 systemId = 0;
    quint32 hd = 0;
    quint32 en = 0;
    quint32 am = 0;
    qint64 hdLine = 0;
    bool active = false;
    bool licensee = false; // the EN part is the licensee's own (type L)
};

namespace {
// The fields each part keeps, in the order the row gives them.
constexpr int HdKept[] = {Hd::Call, Hd::Granted, Hd::Expires};
constexpr int EnKept[] = {En::First, En::Middle, En::Last, En::Street, En::City, En::State, En::Zip};
constexpr int AmKept[] = {Am::Class, Am::Trustee, Am::Previous};
} // namespace

Licences::Licences()
{
    // Offset 0 means "none".
    arena.append('\0');
}

Licences::~Licences() = default;

int Licences::find(qint64 systemId)
{
    const int size = int(entries.size());
    if (size == 0)
        return -1;
    if (cursor + 1 < size && entries[size_t(cursor + 1)].systemId == systemId)
        return ++cursor;
    if (cursor < size && entries[size_t(cursor)].systemId == systemId)
        return cursor;
    if (!ascending) {
        const auto it = bySystemId.constFind(systemId);
        return it == bySystemId.constEnd() ? -1 : (cursor = *it);
    }
    if (systemId > entries.back().systemId)
        return -1;
    const auto it = std::lower_bound(entries.cbegin(), entries.cend(), systemId,
                                     [](const Entry &entry, qint64 id) { return entry.systemId < id; });
    if (it == entries.cend() || it->systemId != systemId)
        return -1;
    cursor = int(it - entries.cbegin());
    return cursor;
}

int Licences::create(qint64 systemId)
{
    const int index = int(entries.size());
    if (ascending && index > 0 && systemId <= entries.back().systemId) {
        ascending = false;
        bySystemId.reserve(qsizetype(entries.size()) * 2);
        for (int i = 0; i < index; ++i)
            bySystemId.insert(entries[size_t(i)].systemId, i);
    }
    entries.push_back(Entry());
    entries.back().systemId = systemId;
    if (!ascending)
        bySystemId.insert(systemId, index);
    cursor = index;
    return index;
}

// A part is stored as its field lengths (two bytes each) and then the bytes.
quint32 Licences::keep(const std::vector<QByteArrayView> &fields, const int *positions, int count)
{
    const quint32 offset = quint32(arena.size());
    char lengths[2 * 8];
    qsizetype total = 0;
    for (int i = 0; i < count; ++i) {
        const qsizetype length = std::min<qsizetype>(fields[size_t(positions[i])].size(), 0xffff);
        lengths[2 * i] = char(length & 0xff);
        lengths[2 * i + 1] = char(length >> 8);
        total += length;
    }
    if (arena.capacity() < arena.size() + 2 * count + total)
        arena.reserve(std::max<qsizetype>(arena.capacity() * 2, 1 << 20));
    arena.append(lengths, 2 * count);
    for (int i = 0; i < count; ++i)
        arena.append(fields[size_t(positions[i])].data(), std::min<qsizetype>(fields[size_t(positions[i])].size(), 0xffff));
    return offset;
}

void Licences::unpack(quint32 offset, int count, QByteArrayView *fields) const
{
    const char *base = arena.constData() + offset;
    const char *bytes = base + 2 * count;
    for (int i = 0; i < count; ++i) {
        const int length = int(uchar(base[2 * i])) | (int(uchar(base[2 * i + 1])) << 8);
        fields[i] = QByteArrayView(bytes, length);
        bytes += length;
    }
}

QByteArrayView Licences::callOf(const Entry &entry) const
{
    // The call is the header's first field.
    const char *base = arena.constData() + entry.hd;
    const int length = int(uchar(base[0])) | (int(uchar(base[1])) << 8);
    return QByteArrayView(base + 6, length);
}

bool Licences::read(Source &source, Report &report, QString *error, const std::atomic<bool> *cancel,
                    const Progress &progress)
{
    error->clear();
    qint64 total = 0;
    for (const char *member : Members) {
        const qint64 size = source.size(member);
        if (size < 0) {
            *error = source.name() + " holds no " + member
                     + ": the FCC amateur licence file (l_amat.zip) holds HD.dat, EN.dat and AM.dat.";
            return false;
        }
        total += size;
    }

    qint64 doneBefore = 0;
    qint64 done = 0;
    std::vector<QByteArrayView> fields;
    fields.reserve(64);
    for (int kind = 0; kind < 3; ++kind) {
        const char *member = Members[kind];
        const QByteArray type = QByteArray(member, 2);
        const int minimum = kind == 0 ? Hd::Fields : kind == 1 ? En::Fields : Am::Fields;
        const QString file = source.name() + " " + member;
        bool stopped = false;
        const auto handler = [&](QByteArrayView line, qint64 number) {
            done += line.size() + 1;
            if (number % CheckEveryLines == 0) {
                if (cancel && cancel->load(std::memory_order_relaxed)) {
                    stopped = true;
                    return false;
                }
                if (progress)
                    progress(doneBefore + done, total);
            }
            if (line.isEmpty() || line.trimmed().isEmpty())
                return true;
            splitFields(line, fields, minimum);
            if (fields.front() != type) {
                report.skip(QStringLiteral("%1 line %2: not a %3 record; skipped.")
                                .arg(file)
                                .arg(number)
                                .arg(QLatin1String(type)));
                return true;
            }
            if (int(fields.size()) < minimum) {
                report.skip(QStringLiteral("%1 line %2: %3 fields where a %4 record has at least %5; skipped.")
                                .arg(file)
                                .arg(number)
                                .arg(fields.size())
                                .arg(QLatin1String(type))
                                .arg(minimum));
                return true;
            }
            bool numeric = false;
            const qint64 systemId = fields[1].toLongLong(&numeric);
            if (!numeric) {
                report.skip(QStringLiteral("%1 line %2: the unique system identifier '%3' is no number; skipped.")
                                .arg(file)
                                .arg(number)
                                .arg(text(fields[1])));
                return true;
            }
            if (kind == 0) {
                int index = find(systemId);
                if (index < 0)
                    index = create(systemId);
                Entry &entry = entries[size_t(index)];
                // A daily file's header replaces the licence: its other
                // parts follow in the same file.
                entry.hd = keep(fields, HdKept, 3);
                entry.hdLine = number;
                entry.active = fields[Hd::Status] == "A";
                entry.en = 0;
                entry.am = 0;
                entry.licensee = false;
                return true;
            }
            const int index = find(systemId);
            // A part of a licence that is not in the header file: nothing to join.
            if (index < 0)
                return true;
            Entry &entry = entries[size_t(index)];
            if (kind == 1) {
                // The licensee's own record wins over a contact's.
                const bool licensee = fields[En::EntityType] == "L";
                if (entry.en == 0 || licensee || !entry.licensee) {
                    entry.en = keep(fields, EnKept, 7);
                    entry.licensee = licensee;
                }
            } else {
                entry.am = keep(fields, AmKept, 3);
            }
            return true;
        };
        QString readError;
        if (!source.readLines(member, handler, &readError)) {
            if (!stopped)
                *error = readError;
            return false;
        }
        doneBefore += done;
        done = 0;
    }
    if (progress)
        progress(total, total);
    return true;
}

qint64 Licences::prepare(Report &report)
{
    order.clear();
    order.reserve(entries.size());
    for (int i = 0; i < int(entries.size()); ++i) {
        const Entry &entry = entries[size_t(i)];
        if (!entry.active || entry.hd == 0)
            continue;
        if (entry.en == 0) {
            report.skip(QStringLiteral("HD.dat line %1: licence %2 (%3) has no EN record; skipped.")
                            .arg(entry.hdLine)
                            .arg(entry.systemId)
                            .arg(text(callOf(entry))));
            continue;
        }
        if (callOf(entry).isEmpty())
            continue;
        order.push_back(i);
    }
    // Sorted by the call's first eight bytes as one number, then by the
    // whole call and the system identifier: calls are short.
    struct Key {
        quint64 prefix;
        int index;
    };
    std::vector<Key> keys;
    keys.reserve(order.size());
    for (int index : order) {
        const QByteArrayView call = callOf(entries[size_t(index)]);
        quint64 prefix = 0;
        for (int i = 0; i < 8; ++i)
            prefix = (prefix << 8) | (i < call.size() ? uchar(call.at(i)) : 0);
        keys.push_back({prefix, index});
    }
    std::sort(keys.begin(), keys.end(), [this](const Key &a, const Key &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        const Entry &x = entries[size_t(a.index)];
        const Entry &y = entries[size_t(b.index)];
        const int byCall = compareBytes(callOf(x), callOf(y));
        if (byCall != 0)
            return byCall < 0;
        return x.systemId < y.systemId;
    });
    for (size_t i = 0; i < keys.size(); ++i)
        order[i] = keys[i].index;
    // Of licences that share a call sign the last, the newest, stays.
    std::vector<int> unique;
    unique.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        if (i + 1 < order.size() && callOf(entries[size_t(order[i])]) == callOf(entries[size_t(order[i + 1])]))
            continue;
        unique.push_back(order[i]);
    }
    order.swap(unique);
    return qint64(order.size());
}

void Licences::row(qint64 i, const ZipCentres &zips, Row &row)
{
    // Rows go out in call order, which is not the order of the arena: ask
    // for the parts of the rows ahead while this one is written.
    const qint64 count = qint64(order.size());
    if (i + 32 < count)
        prefetch(&entries[size_t(order[size_t(i + 32)])]);
    if (i + 16 < count) {
        const Entry &ahead = entries[size_t(order[size_t(i + 16)])];
        const char *base = arena.constData();
        for (quint32 offset : {ahead.hd, ahead.en, ahead.am}) {
            if (offset != 0) {
                prefetch(base + offset);
                prefetch(base + offset + 64);
            }
        }
    }
    const Entry &entry = entries[size_t(order[size_t(i)])];
    QByteArrayView values[13];
    unpack(entry.hd, 3, values);
    unpack(entry.en, 7, values + 3);
    if (entry.am != 0)
        unpack(entry.am, 3, values + 10);
    QByteArrayView *targets[13] = {&row.call,   &row.granted, &row.expires,      &row.first,   &row.middle,
                                   &row.last,   &row.street,  &row.city,         &row.state,   &row.zip,
                                   &row.licenceClass, &row.trustee, &row.previous};
    for (int k = 0; k < 13; ++k) {
        QByteArrayView value = values[k];
        if ((k == 1 || k == 2) && value.size() == 10 && value.at(2) == '/' && value.at(5) == '/') {
            // mm/dd/yyyy as yyyy-mm-dd, the form the other look-ups give.
            char *date = dates[k - 1];
            std::memcpy(date, value.data() + 6, 4);
            date[4] = '-';
            std::memcpy(date + 5, value.data(), 2);
            date[7] = '-';
            std::memcpy(date + 8, value.data() + 3, 2);
            value = QByteArrayView(date, 10);
        } else if (!isUtf8(value)) {
            converted[k] = QString::fromLatin1(value).toUtf8();
            value = converted[k];
        }
        *targets[k] = value;
    }
    row.hasPosition = zips.find(zip5(row.zip), row.lat, row.lon);
}

} // namespace Fcc
