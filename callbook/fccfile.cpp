#include "callbook/fccfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>

#include <zip.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#ifdef TRELVIN_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#include <zlib.h> // the codes libzip words its errors with
#endif

#if defined(Q_OS_LINUX)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <limits>
#include <mutex>

namespace Fcc {

namespace {

// Members are read a megabyte at a time: a 200 MB file never sits in memory
// whole, and a line costs no call of its own.
constexpr qint64 ChunkBytes = 1 << 20;
// How often a long read looks at the cancel flag and reports progress.
constexpr qint64 CheckEveryLines = 4096;

// Cuts a stream of chunks into lines; a line may span chunks. A line past
// MaxLineBytes is reported by its number and skipped up to its end as the
// chunks pass: at most that much of a line is ever held.
class LineCutter {
public:
    LineCutter(const Source::LineHandler &onLine, const Source::LongLineHandler &onTooLong)
        : handler(onLine), tooLong(onTooLong)
    {
    }
    // False when a handler asked to stop.
    bool feed(const char *data, qint64 size)
    {
        qint64 start = 0;
        if (skipping) {
            const void *found = std::memchr(data, '\n', size_t(size));
            if (!found)
                return true;
            skipping = false;
            start = static_cast<const char *>(found) - data + 1;
        }
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
        // The line goes on in the next chunk; room for its CR.
        if (pending.size() + (size - start) > MaxLineBytes + 1) {
            pending.clear();
            skipping = true;
            return tooLong(++number);
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
        if (line.size() > MaxLineBytes)
            return tooLong(++number);
        return handler(line, ++number);
    }

    const Source::LineHandler handler;
    const Source::LongLineHandler tooLong;
    QByteArray pending;
    qint64 number = 0;
    bool skipping = false; // inside a long line, up to its end
};

QString byteCount(qint64 bytes)
{
    return QLocale(QLocale::English).toString(bytes);
}

// Why a member of `size` bytes, `packed` in the archive (-1 for a folder's
// file), is no FCC file; empty when it may be one.
QString implausibleSize(const QString &file, qint64 size, qint64 packed)
{
    const bool tooLarge = size > MaxMemberBytes;
    if (packed < 0)
        return tooLarge ? file + " is " + byteCount(size)
                              + " bytes, more than any FCC file (at most 2 GiB); it was not read."
                        : QString();
    if (!tooLarge && (size <= RatioCheckedFrom || size / MaxPackRatio <= packed))
        return QString();
    return file + " would unpack to " + byteCount(size) + " bytes from " + byteCount(packed)
           + ", which no FCC file does (at most 2 GiB, and at most 100 times its packed size); it was not read.";
}

class ZipSource : public Source {
public:
    ZipSource(zip_t *opened, const QString &file) : handle(opened), zipPath(file) {}
    ~ZipSource() override { zip_discard(handle); }

    QString name() const override { return QFileInfo(zipPath).fileName(); }

    qint64 size(const char *member) const override
    {
        const zip_int64_t index = zip_name_locate(handle, member, ZIP_FL_NOCASE | ZIP_FL_NODIR);
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (index < 0 || zip_stat_index(handle, zip_uint64_t(index), 0, &stat) != 0)
            return -1;
        return (stat.valid & ZIP_STAT_SIZE) ? qint64(stat.size) : 0;
    }

    QString implausible(const char *member) const override
    {
        const zip_int64_t index = zip_name_locate(handle, member, ZIP_FL_NOCASE | ZIP_FL_NODIR);
        zip_stat_t stat;
        zip_stat_init(&stat);
        constexpr zip_uint64_t Sizes = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE;
        if (index < 0 || zip_stat_index(handle, zip_uint64_t(index), 0, &stat) != 0 || (stat.valid & Sizes) != Sizes)
            return QString();
        // Sizes past what a qint64 holds are past the bound all the same.
        constexpr zip_uint64_t Most = zip_uint64_t(std::numeric_limits<qint64>::max());
        const qint64 size = qint64(std::min(stat.size, Most));
        const qint64 packed = qint64(std::min(stat.comp_size, Most));
        return implausibleSize(QLatin1String(member) + " in " + name(), size, packed);
    }

    bool readBlocks(const char *member, const BlockHandler &block, QString *error) override
    {
        // An archive handle serves one thread: each read has its own.
        int code = 0;
        zip_t *own = zip_open(QFile::encodeName(zipPath).constData(), ZIP_RDONLY, &code);
        if (!own) {
            zip_error_t reason;
            zip_error_init_with_code(&reason, code);
            *error = QStringLiteral("%1 in %2 cannot be read: %3")
                         .arg(QLatin1String(member), name(), QString::fromLocal8Bit(zip_error_strerror(&reason)));
            zip_error_fini(&reason);
            return false;
        }
        const bool ok = readBlocks(own, member, block, error);
        zip_discard(own);
        return ok;
    }

private:
    bool readBlocks(zip_t *archive, const char *member, const BlockHandler &block, QString *error) const
    {
        const zip_int64_t index = zip_name_locate(archive, member, ZIP_FL_NOCASE | ZIP_FL_NODIR);
        if (index < 0) {
            *error = name() + " holds no " + member + ".";
            return false;
        }
        zip_stat_t stat;
        zip_stat_init(&stat);
        const bool statted = zip_stat_index(archive, zip_uint64_t(index), 0, &stat) == 0;
#ifdef TRELVIN_HAVE_ISAL
        constexpr zip_uint64_t Needed =
            ZIP_STAT_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
        if (statted && (stat.valid & Needed) == Needed && stat.comp_method == ZIP_CM_DEFLATE
            && stat.encryption_method == ZIP_EM_NONE)
            return readDeflated(archive, zip_uint64_t(index), stat, member, block, error);
#endif
        // No more than the directory said: a member that goes on is damaged,
        // not read to whatever end it has.
        const qint64 declared = statted && (stat.valid & ZIP_STAT_SIZE)
                                    ? qint64(std::min(stat.size, zip_uint64_t(MaxMemberBytes)))
                                    : MaxMemberBytes;
        qint64 unpacked = 0;
        zip_file_t *file = zip_fopen_index(archive, zip_uint64_t(index), 0);
        if (!file) {
            *error = QStringLiteral("%1 in %2 cannot be read: %3")
                         .arg(QLatin1String(member), name(), QString::fromLocal8Bit(zip_strerror(archive)));
            return false;
        }
        QByteArray buffer(ChunkBytes, Qt::Uninitialized);
        bool ok = true;
        for (;;) {
            const zip_int64_t got = zip_fread(file, buffer.data(), zip_uint64_t(buffer.size()));
            if (got < 0) {
                *error = QStringLiteral("%1 in %2 is damaged: %3")
                             .arg(QLatin1String(member), name(), QString::fromLocal8Bit(zip_file_strerror(file)));
                ok = false;
                break;
            }
            if (got == 0)
                break;
            unpacked += got;
            if (unpacked > declared) {
                *error = overrun(member, declared);
                ok = false;
                break;
            }
            if (!block(buffer.constData(), got)) {
                ok = false;
                break;
            }
        }
        zip_fclose(file);
        return ok;
    }

    QString overrun(const char *member, qint64 declared) const
    {
        return QStringLiteral("%1 in %2 is damaged: it unpacks to more than the %3 bytes the archive gives.")
            .arg(QLatin1String(member), name(), byteCount(declared));
    }

#ifdef TRELVIN_HAVE_ISAL
    // The member's deflated bytes as they are in the archive, unpacked here
    // and checked against its CRC as libzip would.
    bool readDeflated(zip_t *archive, zip_uint64_t index, const zip_stat_t &stat, const char *member,
                      const BlockHandler &block, QString *error) const
    {
        zip_file_t *file = zip_fopen_index(archive, index, ZIP_FL_COMPRESSED);
        if (!file) {
            *error = QStringLiteral("%1 in %2 cannot be read: %3")
                         .arg(QLatin1String(member), name(), QString::fromLocal8Bit(zip_strerror(archive)));
            return false;
        }
        const auto damaged = [&](const QString &why) {
            *error = QStringLiteral("%1 in %2 is damaged: %3").arg(QLatin1String(member), name(), why);
        };
        const auto damagedBy = [&](int code, int detail) {
            zip_error_t reason;
            zip_error_init(&reason);
            zip_error_set(&reason, code, detail);
            damaged(QString::fromLocal8Bit(zip_error_strerror(&reason)));
            zip_error_fini(&reason);
        };
        QByteArray in(ChunkBytes, Qt::Uninitialized);
        QByteArray out(ChunkBytes, Qt::Uninitialized);
        const auto state = std::make_unique<inflate_state>();
        isal_inflate_init(state.get());
        state->crc_flag = ISAL_GZIP_NO_HDR; // the CRC of the unpacked bytes, as a ZIP archive holds it
        bool ended = false;
        bool ok = true;
        qint64 unpacked = 0;
        while (state->block_state != ISAL_BLOCK_FINISH) {
            if (state->avail_in == 0 && !ended) {
                const zip_int64_t got = zip_fread(file, in.data(), zip_uint64_t(in.size()));
                if (got < 0) {
                    damaged(QString::fromLocal8Bit(zip_file_strerror(file)));
                    ok = false;
                    break;
                }
                ended = got == 0;
                state->next_in = reinterpret_cast<uint8_t *>(in.data());
                state->avail_in = uint32_t(got);
            }
            const uint32_t before = state->avail_in;
            state->next_out = reinterpret_cast<uint8_t *>(out.data());
            state->avail_out = uint32_t(out.size());
            const int result = isal_inflate(state.get());
            const qint64 made = out.size() - qint64(state->avail_out);
            if (result < 0) {
                damagedBy(ZIP_ER_ZLIB, Z_DATA_ERROR);
                ok = false;
                break;
            }
            unpacked += made;
            if (unpacked > qint64(stat.size)) {
                *error = overrun(member, qint64(stat.size));
                ok = false;
                break;
            }
            if (made > 0 && !block(out.constData(), made)) {
                ok = false;
                break;
            }
            // The archive ends before the deflated data does.
            if (made == 0 && state->avail_in == before && ended && state->block_state != ISAL_BLOCK_FINISH) {
                damagedBy(ZIP_ER_EOF, 0);
                ok = false;
                break;
            }
        }
        if (ok && (state->crc != stat.crc || state->total_out != uint32_t(stat.size))) {
            damagedBy(ZIP_ER_CRC, 0);
            ok = false;
        }
        zip_fclose(file);
        return ok;
    }
#endif

    zip_t *handle;
    QString zipPath;
};

class FolderSource : public Source {
public:
    explicit FolderSource(const QString &where) : folder(QDir(where).path()) {}

    QString name() const override { return folder; }

    qint64 size(const char *member) const override
    {
        const QString path = find(member);
        return path.isEmpty() ? -1 : QFileInfo(path).size();
    }

    QString implausible(const char *member) const override
    {
        const QString path = find(member);
        return path.isEmpty() ? QString() : implausibleSize(path, QFileInfo(path).size(), -1);
    }

    bool readBlocks(const char *member, const BlockHandler &block, QString *error) override
    {
        const QString path = find(member);
        QFile file(path);
        if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
            *error =
                path.isEmpty() ? name() + " holds no " + member + "." : path + " cannot be read: " + file.errorString();
            return false;
        }
        QByteArray buffer(ChunkBytes, Qt::Uninitialized);
        for (;;) {
            const qint64 got = file.read(buffer.data(), buffer.size());
            if (got < 0) {
                *error = path + " cannot be read: " + file.errorString();
                return false;
            }
            if (got == 0)
                return true;
            if (!block(buffer.constData(), got))
                return false;
        }
    }

private:
    // The FCC spells the names in capitals; an unpacking tool may not. A
    // QDir of its own each time: members are read on two threads.
    QString find(const char *member) const
    {
        const QDir dir(folder);
        const QStringList found =
            dir.entryList({QLatin1String(member)}, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
        return found.isEmpty() ? QString() : dir.filePath(found.first());
    }

    QString folder;
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

bool Source::readLines(const char *member, const LineHandler &line, const LongLineHandler &tooLong, QString *error)
{
    LineCutter cutter(line, tooLong);
    return readBlocks(
               member, [&cutter](const char *data, qint64 size) { return cutter.feed(data, size); }, error)
           && cutter.finish();
}

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
        *error =
            info.fileName() + " is not a readable ZIP archive: " + QString::fromLocal8Bit(zip_error_strerror(&reason));
        zip_error_fini(&reason);
        return nullptr;
    }
    return std::make_unique<ZipSource>(archive, path);
}

namespace {

// The pipe-separated fields of one line into `fields`, at most `limit` of
// them (the rest of a longer line is not needed); how many there are.
int splitFields(QByteArrayView line, QByteArrayView *fields, int limit)
{
    const char *start = line.data();
    const char *at = start;
    const char *const end = start + line.size();
    int count = 0;
#ifdef __SSE2__
    // Sixteen bytes at a time: the bars among them come as bits.
    const __m128i bar = _mm_set1_epi8('|');
    for (; end - at >= 16; at += 16) {
        unsigned bars =
            unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(at)), bar)));
        while (bars) {
            const char *found = at + qCountTrailingZeroBits(bars);
            fields[count++] = QByteArrayView(start, found - start);
            if (count == limit)
                return count;
            start = found + 1;
            bars &= bars - 1;
        }
    }
#endif
    // Fields are a few bytes long: a plain loop beats a call per field.
    for (;;) {
        while (at != end && *at != '|')
            ++at;
        fields[count++] = QByteArrayView(start, at - start);
        if (at == end || count == limit)
            break;
        start = ++at;
    }
    return count;
}

// The line ends in `bytes`, eight bytes at a time: this runs over every byte
// of the largest file on the thread that unpacks it.
qint64 countLines(QByteArrayView bytes)
{
    constexpr quint64 Low = 0x7f7f7f7f7f7f7f7fULL;
    constexpr quint64 Newlines = 0x0a0a0a0a0a0a0a0aULL;
    const char *at = bytes.data();
    const char *const end = at + bytes.size();
    qint64 count = 0;
    for (; end - at >= 8; at += 8) {
        quint64 word;
        std::memcpy(&word, at, 8);
        const quint64 x = word ^ Newlines; // a zero byte where a newline was
        // The top bit of each byte set where the byte is not zero.
        const quint64 nonZero = (((x & Low) + Low) | x) & ~Low;
        count += 8 - qint64(qPopulationCount(nonZero));
    }
    for (; at != end; ++at)
        count += *at == '\n' ? 1 : 0;
    return count;
}

// Memory filled once in a long run: asks the system for large pages there,
// which spares a page fault every 4 kB (a quarter of the time of a read).
void adviseLargePages(const void *start, size_t size)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t Large = uintptr_t(1) << 21;
    const uintptr_t from = (uintptr_t(start) + Large - 1) & ~(Large - 1);
    const uintptr_t to = (uintptr_t(start) + size) & ~(Large - 1);
    if (to > from)
        madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
#else
    Q_UNUSED(start);
    Q_UNUSED(size);
#endif
}

bool isSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Plain digits are read here; anything else as Qt reads a number, which
// decides what is one.
bool systemIdOf(QByteArrayView field, qint64 &id)
{
    if (field.size() > 0 && field.size() <= 18) {
        qint64 value = 0;
        bool digits = true;
        for (char c : field) {
            if (!isDigit(c)) {
                digits = false;
                break;
            }
            value = value * 10 + (c - '0');
        }
        if (digits) {
            id = value;
            return true;
        }
    }
    bool numeric = false;
    id = field.toLongLong(&numeric);
    return numeric;
}

// A part is kept as stretches of its line, each from one kept field to a
// later one, with its length before it: a copy per stretch, split again when
// the row is made. Fields far apart go to stretches of their own, so that
// what lies between (EN's telephone and e-mail) is not kept.
struct Stretches {
    int first[8];
    int last[8];
    int count = 0;
    Stretches(const int *positions, int kept)
    {
        for (int i = 0; i < kept; ++i) {
            if (count > 0 && positions[i] - last[count - 1] <= 3) {
                last[count - 1] = positions[i];
            } else {
                first[count] = last[count] = positions[i];
                ++count;
            }
        }
    }
};

// 0 when the store is full.
quint32 keep(Arena &arena, const QByteArrayView *fields, const int *positions, int kept)
{
    const Stretches stretches(positions, kept);
    quint32 lengths[8];
    qsizetype total = 0;
    for (int r = 0; r < stretches.count; ++r) {
        const QByteArrayView last = fields[stretches.last[r]];
        lengths[r] = quint32(last.data() + last.size() - fields[stretches.first[r]].data());
        total += qsizetype(sizeof(quint32)) + lengths[r];
    }
    quint32 offset = 0;
    char *out = arena.room(total, offset);
    if (!out)
        return 0;
    for (int r = 0; r < stretches.count; ++r) {
        std::memcpy(out, &lengths[r], sizeof(quint32));
        std::memcpy(out + sizeof(quint32), fields[stretches.first[r]].data(), lengths[r]);
        out += sizeof(quint32) + lengths[r];
    }
    return offset;
}

QByteArrayView stretch(const char *base)
{
    quint32 length = 0;
    std::memcpy(&length, base, sizeof length);
    return QByteArrayView(base + sizeof length, qsizetype(length));
}

// The `kept` fields at `positions` of the part at `base`, each cut to the
// 65,535 bytes a field may have.
void unpack(const char *base, const int *positions, int kept, QByteArrayView *values)
{
    const Stretches stretches(positions, kept);
    QByteArrayView fields[En::Fields];
    for (int r = 0; r < stretches.count; ++r) {
        const QByteArrayView part = stretch(base);
        splitFields(part, fields + stretches.first[r], stretches.last[r] - stretches.first[r] + 1);
        base = part.data() + part.size();
    }
    for (int i = 0; i < kept; ++i) {
        const QByteArrayView field = fields[positions[i]];
        values[i] = field.first(std::min<qsizetype>(field.size(), 0xffff));
    }
}

} // namespace

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
    known = 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path + ": " + file.errorString();
        return false;
    }
    centres.resize(100000);
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
        if (zip >= 0 && latOk && lonOk) {
            Centre &centre = centres[size_t(zip)];
            known += centre.known ? 0 : 1;
            centre = {lat, lon, true};
        }
    }
    return true;
}

void Report::skip(const QString &line)
{
    if (skipped.size() < MaxLogged)
        skipped.append(line);
    ++skippedCount;
}

void Report::append(const Report &later)
{
    for (const QString &line : later.skipped) {
        if (skipped.size() >= MaxLogged)
            break;
        skipped.append(line);
    }
    skippedCount += later.skippedCount;
}

Arena::Arena(int mark) : tag(quint32(mark) << 31)
{
}

Arena::~Arena() = default;

void Arena::Free::operator()(char *block) const
{
    std::free(block);
}

char *Arena::room(qsizetype size, quint32 &offset)
{
    if (size > BlockSize)
        return nullptr;
    if (used + size > BlockSize) {
        // Offsets are 31 bits and the store's tag.
        if (blocks.size() >= (size_t(1) << (31 - Shift)))
            return nullptr;
        if (charged && charged->fetch_sub(BlockSize, std::memory_order_relaxed) < BlockSize) {
            charged->fetch_add(BlockSize, std::memory_order_relaxed);
            return nullptr;
        }
        char *block = static_cast<char *>(std::aligned_alloc(size_t(1) << 21, size_t(BlockSize)));
        if (!block)
            return nullptr;
        adviseLargePages(block, size_t(BlockSize));
        blocks.emplace_back(block);
        // Offset 0 means "none".
        used = blocks.size() == 1 ? 1 : 0;
    }
    offset = tag | quint32((blocks.size() - 1) << Shift) | quint32(used);
    char *at = blocks.back().get() + used;
    used += size;
    return at;
}

void Arena::clear()
{
    if (blocks.size() > 1) {
        if (charged)
            charged->fetch_add(BlockSize * qint64(blocks.size() - 1), std::memory_order_relaxed);
        blocks.resize(1);
    }
    used = blocks.empty() ? BlockSize : 1;
}

// One licence's parts: HD and AM in the arena, EN in the names.
struct Licences::Entry {
    qint64 systemId = 0;
    qint64 hdLine = 0;
    // The call's first eight bytes as one number, for the sort.
    quint64 prefix = 0;
    quint16 callLength = 0;
    quint32 hd = 0;
    quint32 en = 0;
    quint32 am = 0;
    bool active = false;
    bool licensee = false; // the EN part is the licensee's own (type L)
};

// An EN record as read, to be joined once the header file is in.
struct Licences::Part {
    qint64 systemId;
    quint32 offset;
    bool licensee;
};

// One member being read, and what came of it.
struct Licences::Member {
    QString file;
    const std::atomic<bool> *cancel = nullptr;
    // Set when another member failed: this one need not go on.
    const std::atomic<bool> *halt = nullptr;
    // Called every few thousand lines on the reading thread.
    std::function<void()> tick;
    std::atomic<qint64> done{0};
    Report report;
    QString error;
    std::atomic<bool> stopped{false};
    std::atomic<bool> full{false};
};

namespace {
// The fields each part keeps, in the order the row gives them.
constexpr int HdKept[] = {Hd::Call, Hd::Granted, Hd::Expires};
constexpr int EnKept[] = {En::First, En::Middle, En::Last, En::Street, En::City, En::State, En::Zip};
constexpr int AmKept[] = {Am::Class, Am::Trustee, Am::Previous};
} // namespace

namespace {
// An entry's share of the budget: itself and, later, its two sort keys;
// and what its place in the hash takes when a file is out of order.
constexpr qint64 EntryCharge = 80;
constexpr qint64 HashCharge = 32;
// Entries are charged this many at a time.
constexpr int EntriesCharged = 1 << 16;
} // namespace

Licences::Licences()
{
    arena.chargeTo(&budget);
    names[0].chargeTo(&budget);
    names[1].chargeTo(&budget);
}

bool Licences::charge(qint64 bytes)
{
    if (budget.fetch_sub(bytes, std::memory_order_relaxed) < bytes) {
        budget.fetch_add(bytes, std::memory_order_relaxed);
        return false;
    }
    return true;
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
    if (index % EntriesCharged == 0 && !charge(EntriesCharged * (EntryCharge + (ascending ? 0 : HashCharge))))
        return -1;
    if (ascending && index > 0 && systemId <= entries.back().systemId) {
        // The entries charged so far, and those up to the next charge.
        if (!charge((index / EntriesCharged + 1) * EntriesCharged * HashCharge))
            return -1;
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

QByteArrayView Licences::callOf(const Entry &entry) const
{
    // The call is the header's first field.
    return stretch(arena.at(entry.hd)).first(entry.callLength);
}

namespace {

QString longLine(const QString &file, qint64 number)
{
    return QStringLiteral("%1 line %2: longer than %3 bytes; skipped.").arg(file).arg(number).arg(MaxLineBytes);
}

// Whether `line` is a record of member `kind` with its system identifier;
// a line that is not is reported (unless it is blank) and left out.
bool record(int kind, QByteArrayView line, qint64 number, const QString &file, QByteArrayView *fields, Report &report,
            qint64 &systemId)
{
    if (line.isEmpty() || (isSpace(line.front()) && line.trimmed().isEmpty()))
        return false;
    const char *type = Members[kind];
    const int minimum = kind == 0 ? Hd::Fields : kind == 1 ? En::Fields : Am::Fields;
    const int count = splitFields(line, fields, minimum);
    if (fields[0].size() != 2 || fields[0][0] != type[0] || fields[0][1] != type[1]) {
        report.skip(
            QStringLiteral("%1 line %2: not a %3 record; skipped.").arg(file).arg(number).arg(QLatin1String(type, 2)));
        return false;
    }
    if (count < minimum) {
        report.skip(QStringLiteral("%1 line %2: %3 fields where a %4 record has at least %5; skipped.")
                        .arg(file)
                        .arg(number)
                        .arg(count)
                        .arg(QLatin1String(type, 2))
                        .arg(minimum));
        return false;
    }
    if (!systemIdOf(fields[1], systemId)) {
        report.skip(QStringLiteral("%1 line %2: the unique system identifier '%3' is no number; skipped.")
                        .arg(file)
                        .arg(number)
                        .arg(text(fields[1])));
        return false;
    }
    return true;
}

} // namespace

bool Licences::shouldStop(Member &member) const
{
    if ((member.cancel && member.cancel->load(std::memory_order_relaxed))
        || member.halt->load(std::memory_order_relaxed)) {
        member.stopped = true;
        return true;
    }
    return false;
}

bool Licences::readMember(Source &source, int kind, Member &member)
{
    QByteArrayView fields[En::Fields];
    const auto handler = [&](QByteArrayView line, qint64 number) {
        qint64 systemId = 0;
        if (!record(kind, line, number, member.file, fields, member.report, systemId))
            return true;
        if (kind == 0) {
            const quint32 offset = keep(arena, fields, HdKept, 3);
            if (offset == 0) {
                member.full = true;
                return false;
            }
            int index = find(systemId);
            if (index < 0)
                index = create(systemId);
            if (index < 0) {
                member.full = true;
                return false;
            }
            Entry &entry = entries[size_t(index)];
            // A daily file's header replaces the licence: its other
            // parts follow in the same file.
            entry.hd = offset;
            entry.hdLine = number;
            const QByteArrayView call = fields[Hd::Call];
            entry.callLength = quint16(std::min<qsizetype>(call.size(), 0xffff));
            entry.prefix = 0;
            for (int k = 0; k < 8; ++k)
                entry.prefix = (entry.prefix << 8) | (k < call.size() ? uchar(call[k]) : 0);
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
        const quint32 offset = keep(arena, fields, AmKept, 3);
        if (offset == 0) {
            member.full = true;
            return false;
        }
        entries[size_t(index)].am = offset;
        return true;
    };
    const auto tooLong = [&](qint64 number) {
        member.report.skip(longLine(member.file, number));
        return true;
    };
    // The cancel and the progress are looked at a chunk at a time, which a
    // long line skipped does not hold up.
    LineCutter cutter(handler, tooLong);
    qint64 done = 0;
    QString error;
    const bool read = source.readBlocks(
                          Members[kind],
                          [&](const char *data, qint64 size) {
                              done += size;
                              member.done.store(done, std::memory_order_relaxed);
                              if (shouldStop(member))
                                  return false;
                              if (member.tick)
                                  member.tick();
                              return cutter.feed(data, size);
                          },
                          &error)
                      && cutter.finish();
    if (member.full)
        member.error = member.file + " is too large to be read.";
    else if (!read && !member.stopped)
        member.error = error;
    return read;
}

// EN is cut into chunks of whole lines on the thread that unpacks it; each
// chunk is split into fields by whichever thread is free, into the names
// store of that thread, and the parts are joined in the order of the file.
struct Licences::NameChunk {
    QByteArray bytes;
    qint64 firstLine = 0;
    std::vector<Part> parts;
    Report report;
};

struct Licences::NameChunks {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<NameChunk> chunks; // a deque: a chunk stays where it is as more come
    size_t next = 0;              // the first chunk no thread has taken
    bool cut = false;             // every chunk is in
    bool failed = false;          // the unpacking stopped early

    void push(NameChunk chunk)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            chunks.push_back(std::move(chunk));
        }
        changed.notify_all();
    }
    size_t waiting()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return chunks.size() - next;
    }
    // Every chunk is in; `read` false when the unpacking stopped early.
    void close(bool read)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            cut = true;
            failed = failed || !read;
        }
        changed.notify_all();
    }
};

bool Licences::parseNames(NameChunk &chunk, int store, Member &member)
{
    Arena &into = names[store];
    QByteArrayView fields[En::Fields];
    const char *at = chunk.bytes.constData();
    const char *const end = at + chunk.bytes.size();
    chunk.parts.reserve(size_t(chunk.bytes.size() / 64 + 1));
    qint64 number = chunk.firstLine;
    for (; at < end; ++number) {
        const auto *newline = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)));
        QByteArrayView line(at, (newline ? newline : end) - at);
        at = newline ? newline + 1 : end;
        if (line.endsWith('\r'))
            line.chop(1);
        if (number % CheckEveryLines == 0 && shouldStop(member))
            return false;
        if (line.size() > MaxLineBytes) {
            chunk.report.skip(longLine(member.file, number));
            continue;
        }
        qint64 systemId = 0;
        if (!record(1, line, number, member.file, fields, chunk.report, systemId))
            continue;
        const quint32 offset = keep(into, fields, EnKept, 7);
        if (offset == 0) {
            member.full = true;
            return false;
        }
        chunk.parts.push_back({systemId, offset, fields[En::EntityType] == "L"});
    }
    chunk.bytes = QByteArray();
    if (!charge(qint64(chunk.parts.size() * sizeof(Part)))) {
        member.full = true;
        return false;
    }
    return true;
}

Licences::Split Licences::parseNextNames(NameChunks &chunks, int store, Member &member,
                                         const std::function<void()> &waiting)
{
    NameChunk *chunk = nullptr;
    {
        std::unique_lock<std::mutex> lock(chunks.mutex);
        while (chunks.next == chunks.chunks.size() && !chunks.cut && !chunks.failed) {
            if (!waiting)
                return Split::NoneYet;
            lock.unlock();
            waiting();
            lock.lock();
            if (chunks.next == chunks.chunks.size() && !chunks.cut && !chunks.failed)
                chunks.changed.wait_for(lock, std::chrono::milliseconds(50));
        }
        if (chunks.failed)
            return Split::Failed;
        if (chunks.next == chunks.chunks.size())
            return Split::AllDone;
        chunk = &chunks.chunks[chunks.next++];
    }
    if (!parseNames(*chunk, store, member)) {
        const std::lock_guard<std::mutex> lock(chunks.mutex);
        chunks.failed = true;
        chunks.changed.notify_all();
        return Split::Failed;
    }
    return Split::Done;
}

bool Licences::splitWaiting(NameChunks &chunks, Member &member, size_t most)
{
    while (chunks.waiting() > most) {
        const Split split = parseNextNames(chunks, 0, member, {});
        if (split == Split::Failed)
            return false;
        if (split != Split::Done)
            break;
    }
    return true;
}

bool Licences::readNames(Source &source, Member &member, NameChunks &chunks)
{
    // A few chunks may wait; beyond that this thread splits them itself.
    constexpr size_t MostWaiting = 32;
    QByteArray carry;
    qint64 lines = 0;
    const auto deliver = [&](QByteArray bytes) {
        NameChunk chunk;
        chunk.firstLine = lines + 1;
        lines += countLines(bytes);
        chunk.bytes = std::move(bytes);
        chunks.push(std::move(chunk));
    };
    // A line too long to be a record is skipped up to its end as the
    // chunks pass; a chunk of its own, without bytes, reports it in order.
    bool skipping = false;
    const auto skipLong = [&] {
        NameChunk chunk;
        chunk.firstLine = ++lines;
        chunk.report.skip(longLine(member.file, lines));
        chunks.push(std::move(chunk));
        carry.clear();
        skipping = true;
    };
    qint64 done = 0;
    QString error;
    const bool read = source.readBlocks(
        Members[1],
        [&](const char *data, qint64 size) {
            done += size;
            member.done.store(done, std::memory_order_relaxed);
            if (shouldStop(member))
                return false;
            const char *const end = data + size;
            if (skipping) {
                const auto *newline = static_cast<const char *>(std::memchr(data, '\n', size_t(size)));
                if (!newline)
                    return true;
                skipping = false;
                data = newline + 1;
            }
            const char *last = end - 1;
            while (last >= data && *last != '\n')
                --last;
            // What follows the last line end, and room for a CR.
            const qint64 rest = end - (last + 1);
            if (last < data) {
                if (carry.size() + rest > MaxLineBytes + 1)
                    skipLong();
                else
                    carry.append(data, rest);
                return true;
            }
            QByteArray bytes;
            bytes.reserve(carry.size() + (last + 1 - data));
            bytes.append(carry).append(data, last + 1 - data);
            if (rest > MaxLineBytes + 1)
                carry.clear();
            else
                carry = QByteArray(last + 1, rest);
            deliver(std::move(bytes));
            if (rest > MaxLineBytes + 1)
                skipLong();
            return splitWaiting(chunks, member, MostWaiting);
        },
        &error);
    if (read && !carry.isEmpty())
        deliver(std::move(carry));
    chunks.close(read);
    if (!read && !member.stopped && !member.full)
        member.error = error;
    // Then it splits what is left, as the other thread does.
    while (parseNextNames(chunks, 0, member, {}) == Split::Done) {
    }
    return read;
}

void Licences::joinNames(const NameChunks &chunks)
{
    for (const NameChunk &chunk : chunks.chunks) {
        for (const Part &part : chunk.parts) {
            const int index = find(part.systemId);
            // A part of a licence that is not in the header file: nothing to join.
            if (index < 0)
                continue;
            Entry &entry = entries[size_t(index)];
            // The licensee's own record wins over a contact's.
            if (entry.en == 0 || part.licensee || !entry.licensee) {
                entry.en = part.offset;
                entry.licensee = part.licensee;
            }
        }
    }
}

qint64 Licences::checkMembers(Source &source, QString *error)
{
    qint64 total = 0;
    for (const char *member : Members) {
        const qint64 size = source.size(member);
        if (size < 0) {
            *error = source.name() + " holds no " + member
                     + ": the FCC amateur licence file (l_amat.zip) holds HD.dat, EN.dat and AM.dat.";
            return -1;
        }
        total += size;
    }
    for (const char *member : Members) {
        const QString refused = source.implausible(member);
        if (!refused.isEmpty()) {
            *error = refused;
            return -1;
        }
    }
    return total;
}

bool Licences::read(Source &source, Report &report, QString *error, const std::atomic<bool> *cancel,
                    const Progress &progress, bool sortNow)
{
    error->clear();
    sortedNow = false;
    const qint64 total = checkMembers(source, error);
    if (total < 0)
        return false;
    // A header line has 58 bars at least: room for the entries at once
    // spares copying them all as they grow (untouched room costs nothing).
    // (No more than the budget allows, whatever the header file's size.)
    entries.reserve(entries.size()
                    + size_t(std::min(source.size(Members[0]) / 58 + 1, MemoryBudgetBytes / EntryCharge)));
    adviseLargePages(entries.data(), entries.capacity() * sizeof(Entry));

    std::atomic<bool> halt{false};
    Member members[3];
    for (int kind = 0; kind < 3; ++kind) {
        members[kind].file = source.name() + " " + Members[kind];
        members[kind].cancel = cancel;
        members[kind].halt = &halt;
    }
    const auto tick = [&] {
        if (progress)
            progress(members[0].done.load(std::memory_order_relaxed) + members[1].done.load(std::memory_order_relaxed)
                         + members[2].done.load(std::memory_order_relaxed),
                     total);
    };
    members[0].tick = tick;
    members[2].tick = tick;

    // EN, the largest file, is unpacked on a thread of its own while this
    // one reads HD and then AM, and then helps to split EN; its parts are
    // joined when all is read, in the order they came, as if read after HD.
    NameChunks chunks;
    auto unpacked = std::async(std::launch::async, [&] { return readNames(source, members[1], chunks); });
    const bool ok = readMember(source, 0, members[0]) && readMember(source, 2, members[2]);
    if (!ok) {
        halt = true;
    } else {
        // The headers are all in: the sort needs nothing more, and EN takes
        // longer to unpack than HD and AM together.
        if (sortNow)
            sortCalls();
        while (parseNextNames(chunks, 1, members[1], tick) == Split::Done)
            tick();
    }
    while (unpacked.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
        tick();
    const bool namesRead = unpacked.get() && !chunks.failed;
    if (members[1].full && members[1].error.isEmpty())
        members[1].error = members[1].file + " is too large to be read.";
    for (const NameChunk &chunk : chunks.chunks)
        members[1].report.append(chunk.report);

    for (const Member &member : members)
        report.append(member.report);
    // The first member that failed, in the order of the files, tells why;
    // one stopped by a cancel says nothing.
    for (const Member &member : members) {
        if (!member.error.isEmpty()) {
            *error = member.error;
            return false;
        }
    }
    if (!ok || !namesRead)
        return false;
    joinNames(chunks);
    if (progress)
        progress(total, total);
    return true;
}

int Licences::compareCalls(const Key &a, const Key &b) const
{
    if (a.prefix != b.prefix)
        return a.prefix < b.prefix ? -1 : 1;
    // Calls of eight bytes or fewer with the same prefix differ only in
    // trailing zero bytes, if at all: the shorter comes first.
    const Entry &x = entries[size_t(a.index)];
    const Entry &y = entries[size_t(b.index)];
    if (x.callLength <= 8 && y.callLength <= 8)
        return int(x.callLength) - int(y.callLength);
    return compareBytes(callOf(x), callOf(y));
}

void Licences::sortCalls()
{
    // Sorted by the call's first eight bytes as one number, then by the
    // whole call and the system identifier: calls are short, and most are
    // told apart by the number alone.
    std::vector<Key> &keys = sorted;
    keys.clear();
    keys.reserve(entries.size());
    adviseLargePages(keys.data(), keys.capacity() * sizeof(Key));
    for (int i = 0; i < int(entries.size()); ++i) {
        const Entry &entry = entries[size_t(i)];
        if (entry.active && entry.hd != 0 && entry.callLength != 0)
            keys.push_back({entry.prefix, i});
    }
    // By the prefix a byte at a time from the last (each pass keeps the
    // order of the one before), then each run with the same prefix, short
    // as runs are, by the whole call and the identifier.
    std::vector<Key> pass(keys.size());
    adviseLargePages(pass.data(), pass.size() * sizeof(Key));
    // The counts of all eight bytes in one look at the keys.
    std::vector<std::array<size_t, 257>> counts(8);
    for (auto &byte : counts)
        byte.fill(0);
    for (const Key &key : keys) {
        for (int b = 0; b < 8; ++b)
            ++counts[size_t(b)][((key.prefix >> (8 * b)) & 0xff) + 1];
    }
    for (int b = 0; b < 8; ++b) {
        std::array<size_t, 257> &count = counts[size_t(b)];
        // A byte all keys share (the padding of short calls) orders nothing.
        if (std::any_of(count.begin() + 1, count.end(), [&](size_t n) { return n == keys.size(); }))
            continue;
        for (int v = 0; v < 256; ++v)
            count[size_t(v) + 1] += count[size_t(v)];
        const int shift = 8 * b;
        for (const Key &key : keys)
            pass[count[(key.prefix >> shift) & 0xff]++] = key;
        keys.swap(pass);
    }
    const auto before = [this](const Key &a, const Key &b) {
        const int call = compareCalls(a, b);
        return call != 0 ? call < 0 : entries[size_t(a.index)].systemId < entries[size_t(b.index)].systemId;
    };
    for (size_t from = 0; from < keys.size();) {
        size_t to = from + 1;
        while (to < keys.size() && keys[to].prefix == keys[from].prefix)
            ++to;
        if (to - from > 1)
            std::sort(keys.begin() + qsizetype(from), keys.begin() + qsizetype(to), before);
        from = to;
    }
    sortedNow = true;
}

qint64 Licences::prepare(Report &report)
{
    for (const Entry &entry : entries) {
        if (entry.active && entry.hd != 0 && entry.en == 0)
            report.skip(QStringLiteral("HD.dat line %1: licence %2 (%3) has no EN record; skipped.")
                            .arg(entry.hdLine)
                            .arg(entry.systemId)
                            .arg(text(callOf(entry))));
    }
    if (!sortedNow)
        sortCalls();
    // Only licences with a licensee's part, and of those that share a call
    // sign the last, the newest.
    std::vector<Key> &keys = sorted;
    keys.erase(
        std::remove_if(keys.begin(), keys.end(), [this](const Key &key) { return entries[size_t(key.index)].en == 0; }),
        keys.end());
    order.clear();
    order.reserve(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i + 1 < keys.size() && compareCalls(keys[i], keys[i + 1]) == 0)
            continue;
        order.push_back(int(keys[i].index));
    }
    sorted = std::vector<Key>();
    sortedNow = false;
    return qint64(order.size());
}

void Licences::row(qint64 i, const ZipCentres &zips, Row &row, Arena &scratch) const
{
    // Rows go out in call order, which is not the order of the parts: ask
    // for the parts of the rows ahead while this one is made.
    const qint64 count = qint64(order.size());
    if (i + 32 < count)
        prefetch(&entries[size_t(order[size_t(i + 32)])]);
    if (i + 16 < count) {
        const Entry &ahead = entries[size_t(order[size_t(i + 16)])];
        const char *parts[] = {arena.at(ahead.hd), nameAt(ahead.en), ahead.am ? arena.at(ahead.am) : nullptr};
        for (const char *part : parts) {
            if (part) {
                prefetch(part);
                prefetch(part + 64);
            }
        }
    }
    const Entry &entry = entries[size_t(order[size_t(i)])];
    QByteArrayView values[13];
    unpack(arena.at(entry.hd), HdKept, 3, values);
    unpack(nameAt(entry.en), EnKept, 7, values + 3);
    if (entry.am != 0)
        unpack(arena.at(entry.am), AmKept, 3, values + 10);
    QByteArrayView *targets[13] = {&row.call,         &row.granted, &row.expires, &row.first, &row.middle,
                                   &row.last,         &row.street,  &row.city,    &row.state, &row.zip,
                                   &row.licenceClass, &row.trustee, &row.previous};
    // All the row's text goes to the scratch, one field after the other:
    // the thread that writes the rows then reads them in one stream rather
    // than from all over the parts, which it would wait for.
    enum Form { AsIs, Date, Latin1 };
    Form forms[13];
    qsizetype total = 0;
    for (int k = 0; k < 13; ++k) {
        const QByteArrayView value = values[k];
        if ((k == 1 || k == 2) && value.size() == 10 && value.at(2) == '/' && value.at(5) == '/') {
            forms[k] = Date;
            total += 10;
        } else if (!isUtf8(value)) {
            // Latin-1: each byte above 0x7f is two bytes in UTF-8.
            forms[k] = Latin1;
            total += value.size();
            for (char c : value)
                total += uchar(c) >= 0x80 ? 1 : 0;
        } else {
            forms[k] = AsIs;
            total += value.size();
        }
    }
    quint32 unused = 0;
    char *out = scratch.room(total, unused);
    for (int k = 0; k < 13; ++k) {
        const QByteArrayView value = values[k];
        const char *start = out;
        if (forms[k] == Date) {
            // mm/dd/yyyy as yyyy-mm-dd, the form the other look-ups give.
            std::memcpy(out, value.data() + 6, 4);
            out[4] = '-';
            std::memcpy(out + 5, value.data(), 2);
            out[7] = '-';
            std::memcpy(out + 8, value.data() + 3, 2);
            out += 10;
        } else if (forms[k] == Latin1) {
            for (char c : value) {
                const uchar byte = uchar(c);
                if (byte < 0x80) {
                    *out++ = char(byte);
                } else {
                    *out++ = char(0xc0 | (byte >> 6));
                    *out++ = char(0x80 | (byte & 0x3f));
                }
            }
        } else if (!value.isEmpty()) {
            std::memcpy(out, value.data(), size_t(value.size()));
            out += value.size();
        }
        // A part the licence lacks stays a null view.
        *targets[k] = value.isNull() ? QByteArrayView() : QByteArrayView(start, out - start);
    }
    row.hasPosition = zips.find(zip5(row.zip), row.lat, row.lon);
}

} // namespace Fcc
