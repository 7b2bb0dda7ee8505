#pragma once

#include "data/rows.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// The FCC's public amateur licence files: the weekly l_amat.zip (or the
// folder it was unpacked into) and the daily l_am_<day>.zip, each holding
// HD.dat (licence header), EN.dat (licensee) and AM.dat (amateur data),
// pipe-separated, one record per line. Fields are found by position; the
// FCC has appended fields over the years, so extra trailing fields are
// taken as they come.
namespace Fcc {

// Field positions, counted from 0 (the record type).
namespace Hd {
inline constexpr int SystemId = 1, Call = 4, Status = 5, Granted = 7, Expires = 8;
inline constexpr int Fields = 9;
} // namespace Hd
namespace En {
inline constexpr int SystemId = 1, EntityType = 5, First = 8, Middle = 9, Last = 10, Street = 15, City = 16, State = 17,
                     Zip = 18;
inline constexpr int Fields = 19;
} // namespace En
namespace Am {
inline constexpr int SystemId = 1, Class = 5, Trustee = 8, Previous = 15;
inline constexpr int Fields = 16;
} // namespace Am

// The three files the call book needs, in the order they are read.
inline const char *const Members[] = {"HD.dat", "EN.dat", "AM.dat"};

// A record of the FCC's files is a few hundred bytes: a longer line is no
// record, and is skipped as it streams past rather than held whole.
inline constexpr qint64 MaxLineBytes = 4096;

// What a member of a real FCC file can be, checked from the archive's
// directory before a byte is unpacked. The largest, EN.dat, unpacks to some
// hundreds of megabytes, and the FCC's text packs by well under 20 to 1: a
// member said to unpack to more than 2 GiB, or (past 16 MiB) to more than
// 100 times its packed size, is a bomb, not a licence file. A member that
// unpacks to more than its directory said is damaged.
inline constexpr qint64 MaxMemberBytes = qint64(2) << 30;
inline constexpr qint64 MaxPackRatio = 100;
inline constexpr qint64 RatioCheckedFrom = qint64(16) << 20;

// What the licences read may hold in memory (the parts kept, the entries
// and their sort keys): twice what a weekly file of 1.5 million licences
// needs (some 360 MB).
// A file that needs more is refused as too large, so that no archive, however
// many short records it packs, takes the machine's memory.
inline constexpr qint64 MemoryBudgetBytes = qint64(768) << 20;

// One archive or folder, read member by member, line by line.
class Source {
public:
    virtual ~Source() = default;
    // A ZIP archive, or a folder with the .dat files; nullptr and `error`
    // when it cannot be read.
    static std::unique_ptr<Source> open(const QString &path, QString *error);

    virtual QString name() const = 0;
    // The member's unpacked size, -1 when it is missing.
    virtual qint64 size(const char *member) const = 0;
    // Why the member cannot be an FCC file by its size alone (or its packed
    // size), before it is unpacked; empty when it can.
    virtual QString implausible(const char *member) const = 0;
    // Hands the member's bytes to `block` as they come, which returns false
    // to stop. False and `error` when the member cannot be read to its end.
    // Different members may be read on different threads at the same time.
    using BlockHandler = std::function<bool(const char *data, qint64 size)>;
    virtual bool readBlocks(const char *member, const BlockHandler &block, QString *error) = 0;
    // The same line by line: each line (without its line end, a trailing CR
    // dropped) and its number (from 1). A line longer than MaxLineBytes goes
    // to `tooLong` with its number instead, never held whole; it too returns
    // false to stop.
    using LineHandler = std::function<bool(QByteArrayView line, qint64 number)>;
    using LongLineHandler = std::function<bool(qint64 number)>;
    bool readLines(const char *member, const LineHandler &line, const LongLineHandler &tooLong, QString *error);
};

// The first five digits of a ZIP code ("123456789", "12345-6789"), or -1.
int zip5(QByteArrayView zip);

// Bytes as UTF-8 text: valid UTF-8 as it is, anything else read as Latin-1.
QString text(QByteArrayView bytes);

// Where a ZIP code area lies, from the table shipped in the information
// directory ("zip,lat,lon" lines).
class ZipCentres {
public:
    bool load(const QString &path, QString *error = nullptr);
    bool isEmpty() const { return known == 0; }
    qsizetype size() const { return known; }
    // False when the code is unknown (or -1).
    bool find(int zip, double &lat, double &lon) const
    {
        if (zip < 0 || size_t(zip) >= centres.size() || !centres[size_t(zip)].known)
            return false;
        lat = centres[size_t(zip)].lat;
        lon = centres[size_t(zip)].lon;
        return true;
    }

private:
    // By the five digits: a look-up per row of an import is one read.
    struct Centre {
        double lat = 0, lon = 0;
        bool known = false;
    };
    std::vector<Centre> centres;
    qsizetype known = 0;
};

using Row = CallBookRow;

// What a read came to: the lines skipped, each with its file and number, at
// most MaxLogged of them, and how many there were in all.
struct Report {
    static constexpr int MaxLogged = 100;
    QStringList skipped;
    qint64 skippedCount = 0;
    void skip(const QString &line);
    // The lines `later` skipped, as if they had been skipped here after
    // these.
    void append(const Report &later);
};

// Bytes kept for as long as the store lives, at addresses that never move:
// what is kept stays where it is while more is added.
class Arena {
public:
    // The tag (0 or 1) is the top bit of every offset, which tells two
    // stores apart.
    explicit Arena(int tag = 0);
    ~Arena();
    Arena(const Arena &) = delete;
    Arena &operator=(const Arena &) = delete;

    // Room for `size` bytes (at most BlockSize), and its offset (never 0,
    // which means "none").
    char *room(qsizetype size, quint32 &offset);
    // Each block taken from here on is charged to `budget` (bytes left);
    // room() fails when it would go below zero.
    void chargeTo(std::atomic<qint64> *budget) { charged = budget; }
    const char *at(quint32 offset) const
    {
        return blocks[(offset & 0x7fffffff) >> Shift].get() + (offset & (BlockSize - 1));
    }
    void clear();

    static constexpr int Shift = 24;
    static constexpr qsizetype BlockSize = qsizetype(1) << Shift;

private:
    struct Free {
        void operator()(char *block) const;
    };
    std::vector<std::unique_ptr<char[], Free>> blocks;
    qsizetype used = BlockSize;
    quint32 tag;
    std::atomic<qint64> *charged = nullptr;
};

// The licences of a weekly file with the daily files on top, joined on the
// unique system identifier: an old cancelled licence with the same call sign
// never shadows the current one. Only active licences come out.
class Licences {
public:
    Licences();
    ~Licences();

    using Progress = std::function<void(qint64 done, qint64 total)>;
    // Reads the three files of `source`; a daily file replaces the parts of
    // the licences it names. False and `error` when the source lacks a file
    // or cannot be read; `cancel` stops the read (false, empty error). For
    // the last source, `sortNow` sorts the calls while EN is still being
    // unpacked, which spares prepare() the time.
    bool read(Source &source, Report &report, QString *error, const std::atomic<bool> *cancel = nullptr,
              const Progress &progress = Progress(), bool sortNow = false);

    // The active licences with a licensee, by call sign; a licence in HD
    // without EN is reported and left out. When two active licences share
    // a call sign, the later one (the higher system identifier) wins.
    qint64 prepare(Report &report);
    qint64 count() const { return qint64(order.size()); }
    // Row `i` of the prepared order, with its position from `zips` when the
    // ZIP code is known there. The row's text (dates turned round, Latin-1
    // made UTF-8) goes to `scratch`, field after field: the row points there
    // until it is cleared. Rows may be made on another thread than the one
    // that read, once read() and prepare() are done.
    void row(qint64 i, const ZipCentres &zips, Row &row, Arena &scratch) const;

private:
    struct Entry;
    struct Part;
    struct Member;
    struct NameChunk;
    struct NameChunks;
    // The entry of a system identifier, or -1.
    int find(qint64 systemId);
    // -1 when the memory budget is spent.
    int create(qint64 systemId);
    // Takes `bytes` from the budget; false (and nothing taken) when it is spent.
    bool charge(qint64 bytes);
    // True when the read is cancelled, or halted by the other thread.
    bool shouldStop(Member &member) const;
    // Reads HD or AM on the calling thread, joined at once.
    bool readMember(Source &source, int kind, Member &member);
    // Unpacks EN into chunks of lines, and helps to split them.
    bool readNames(Source &source, Member &member, NameChunks &chunks);
    // While more than `most` chunks wait, splits them on this thread; false
    // when a split failed.
    bool splitWaiting(NameChunks &chunks, Member &member, size_t most);
    // The three files' total size, or -1 with `error` when one is missing
    // or implausible.
    qint64 checkMembers(Source &source, QString *error);
    // Splits the next chunk waiting into names store `store`. Without
    // `waiting` it does not wait for one to come; with it, it calls it now
    // and then while it waits.
    enum class Split { Done, NoneYet, AllDone, Failed };
    Split parseNextNames(NameChunks &chunks, int store, Member &member, const std::function<void()> &waiting);
    bool parseNames(NameChunk &chunk, int store, Member &member);
    // The EN parts of one file, in the order they came.
    void joinNames(const NameChunks &chunks);
    const char *nameAt(quint32 offset) const { return names[offset >> 31].at(offset); }
    QByteArrayView callOf(const Entry &entry) const;
    // The active licences with a call, by call and system identifier, into
    // `sorted`: only the header is needed.
    void sortCalls();
    // Whether c1 < c2 (-1), c1 = c2 (0) or c1 > c2 (1) for the calls of two
    // sorted keys.
    struct Key {
        quint64 prefix;
        qint64 index;
    };
    int compareCalls(const Key &a, const Key &b) const;

    std::vector<Entry> entries;
    // The FCC writes each file in the order of the system identifiers: while
    // the entries come in that order they are found by the next one in line
    // or by bisection; a file in another order falls back on a hash.
    bool ascending = true;
    int cursor = 0;
    QHash<qint64, int> bySystemId;
    // HD and AM parts, and EN parts apart, one store per thread that
    // splits them: the files are read at once.
    Arena arena;
    Arena names[2] = {Arena(0), Arena(1)};
    std::vector<Key> sorted;
    // What the licences may still take: the parts' stores, the entries and
    // their sort keys, the EN parts waiting to be joined.
    std::atomic<qint64> budget{MemoryBudgetBytes};
    bool sortedNow = false; // `sorted` holds all entries as they are
    std::vector<int> order;
};

} // namespace Fcc
