#pragma once

#include "data/storage.h"

// The contact table with the search over its call signs (the index and the
// candidates found), the station row, and whole tables as CSV files
// (contacts and log).
class ContactStore : public StorageFamily {
public:
    explicit ContactStore(Storage &owner);
    ~ContactStore();

    // ---- Contacts.

    std::optional<ContactRecord> contactByCall(const QString &call, Result *failure = nullptr) const;
    // Writes the record over the row with its call when `known`, else adds it.
    Result writeContact(bool known, const ContactRecord &record);
    // One row per call sign: a known call is rewritten in place.
    Result saveContact(const ContactRecord &record);
    // The first row with this call, if there is one.
    Result deleteContact(const QString &call);

    // ---- This station.

    std::optional<StationRecord> station(Result *failure = nullptr) const;
    // Where this station is, as stored; read on every station shown, so
    // without the rest of the record.
    struct StationPlace {
        QString state;
        double lat = 0;
        double lon = 0;
    };
    std::optional<StationPlace> stationPlace(Result *failure = nullptr) const;
    // The table holds one row: it is rewritten whole.
    Result saveStation(const StationRecord &station);
    // The stored QRZ password alone. An emptied one leaves no copy in the
    // file's free space or its write-ahead log, where a reader of the file
    // would still find it.
    Result setStationPassword(const QString &passwd);

    // Every contact, by suffix.
    Result eachContactLine(const std::function<void(const ContactLine &)> &line) const;

    qint64 rowCount(Table table) const;

    // ---- Whole tables as files.

    // Every row of a table, in stored order; the columns after the id are
    // those of its CSV file.
    Result eachRow(Table table, const std::function<void(const StoredRow &)> &row) const;

    // Replaces a table by the lines `next` hands over (a failure, or no
    // line at all, leaves the previous rows in place) in slices of about
    // `sliceMs`, each its own transaction, so that a write of the window
    // waits for one slice at most. The rows go into a new table that takes
    // the old one's place in one transaction at the end, which builds its
    // indexes (a few seconds at a million rows); the rows
    // stored meanwhile by the window (check-ins, new contacts) are carried
    // over: those with an id above `lastOldId`, read by lastRowId() before
    // the load began. `between` runs after each slice; a set `cancel` ends
    // the load with the old table as it was. The old table is left to
    // dropReplacedTables() (`replacedLeft`).
    Loaded replaceTableInSlices(Table table, qint64 lastOldId, const LineSource &next, const std::atomic<bool> *cancel,
                                const std::function<void()> &between, int sliceMs = 50);
    // After a load, on a worker's connection beside the window: drops what
    // it replaced, a slice at a time, then builds the index it left out
    // (the contacts' suffix index, which only one report reads). Stops on
    // `cancel` or when a load starts (stopDroppingReplaced(), which drops
    // the rest); left, the next load or start does it. A killed load's new
    // table goes too; `killedLoads` lists those dropped.
    Result finishAfterLoad(const std::atomic<bool> &cancel, QStringList *killedLoads = nullptr);
    // The highest id in the table, 0 when it is empty.
    qint64 lastRowId(Table table) const;

    // Runs the CREATE INDEX statements `creates` (Storage::Opening's
    // unbuiltIndexes) in turn, each in a transaction of its own that gives
    // way to the window's writes. A set `cancel` stops at once and keeps
    // no part of the index under way. `rows` counts the indexes built;
    // `built` is told after each.
    Loaded buildIndexes(const QList<QByteArray> &creates, const std::atomic<bool> *cancel,
                        const std::function<void(int)> &built = {});

    // ---- The search's index of call signs (data/callindex.h), kept
    // current from SQLite's own hooks on both connections: whatever writes
    // to `contact` marks the rows it changed, and the next search reads
    // them again.

    // Every call sign the search needs is in memory; false while the index
    // is being read or cannot be used, and the search runs its LIKE instead.
    bool callIndexReady();
    // A read of the index is under way.
    bool callIndexReading() const;
    // Bytes the index holds.
    qsizetype callIndexBytes() const;
    // Drops the index so that the next search reads the table whole: for
    // writes made on another connection.
    void contactsReplaced();
    struct CallSearch;

    // ---- The search's candidates.

    struct Candidate {
        int id = 0;
        QString call;
    };
    struct Found {
        int count = 0;
        Result result;
        // Only the first candidates: the index of calls is still being
        // read, and the table's scan stopped to keep the keystroke short.
        bool partial = false;
    };
    void clearCandidates();
    // The contacts whose call contains `fragment`, or is `fragment` when
    // `whole`, as LIKE matches them: ASCII letters in either case, every
    // character literally. In the order of the index on contact(call).
    // While the index of calls is being read, the table is scanned for at
    // most `scanMs`: what it found by then is a partial answer.
    Found findCandidates(const QString &fragment, bool whole, int scanMs = -1);
    int candidateCount() const;
    // Up to `limit` candidates after `afterId`, in order.
    QList<Candidate> candidates(int afterId, int limit) const;
    std::optional<Candidate> candidate(Seek seek, int from = 0) const;

private:
    friend class Storage;
    friend class NetLogStore;
    friend class RosterStore;
    friend class JournalStore;
    Result removeContact(const QString &call);
    // Called by Storage as Contacts.db opens and closes.
    void fileOpened();
    void fileClosing();
    void watchContacts(const QSqlDatabase &db, bool withRollback);
    // On a worker's connection: its commits are counted, and those that
    // change the contacts apart, for the window's index of calls.
    void watchAsWorker();
    Result refreshCallIndex();
    std::unique_ptr<CallSearch> callSearch;
};
