#pragma once

#include "data/storage.h"

// Tonight's net list (tables net and netmark) and the log of check-ins,
// with the reads of the reports and the net's records.
class NetLogStore : public StorageFamily {
public:
    explicit NetLogStore(Storage &owner);
    ~NetLogStore();

    // ---- Tonight's net list.

    // What the net list shows of an entry; drawn on every key, so without
    // the rest of the entry.
    struct ListedEntry {
        int id = 0;
        int status = 0;
        QString call, name, relay;
    };
    // Every entry, in the order they joined.
    QList<ListedEntry> listedEntries() const;
    // What the net map places an entry by: the state typed for tonight and
    // the position, ZIP code and state of the station's contact row (the
    // first with its call), as stored.
    struct MappedEntry {
        int id = 0;
        int status = 0;
        QString call, state, contactState, lat, lon, zip;
    };
    QList<MappedEntry> mappedEntries(Result *failure = nullptr) const;
    std::optional<NetEntry> netEntryByCall(const QString &call) const;
    std::optional<QString> netCall(int id) const;
    // The entry at the start or end of the list, or next to `from`.
    std::optional<int> netId(Seek seek, int from = 0) const;

    // One key on the entry: what the operator typed, which key, and the
    // contact record to store for a call not yet known.
    struct EntryChange {
        QString call, relay, name, city, state, comment;
        QDateTime now;
        int key = 0;
        int entryId = 0; // the entry shown; 0 for none
        ContactRecord contact;
    };
    struct EntryOutcome {
        Result result;
        // The part of the change that failed.
        enum Step { Entry, CheckIn, NameChange, NewContact, Withdrawal, LogUpdate };
        Step failedStep = Entry;
        int entryId = 0;
        int logId = 0;
        int contactId = 0;
        // Set when the check-in took over a row logged before a restart:
        // the "hh:mm" of that row.
        QString adoptedAt;
        // The call was changed to one that another entry or another contact has.
        bool netDuplicate = false;
        bool contactDuplicate = false;
    };
    // Stores the key's change, the net list's part with the log's and the
    // contact's, as one transaction: a failure part-way leaves all as it was.
    EntryOutcome storeEntry(const EntryChange &change);
    // Takes the entry out of the net with tonight's log row, all or nothing.
    Result removeFromNet(const NetEntry &entry);
    // The status of the first entry with this call.
    std::optional<int> netStatus(const QString &call) const;

    // A net list left in the file by a run that ended without emptying it.
    struct InterruptedNet {
        int stations = 0;
        QDateTime firstEntry;
        // The latest time an entry was stored at.
        QDateTime lastEntry;
    };
    std::optional<InterruptedNet> interruptedNet(Result *failure = nullptr) const;
    // Empties the net list and its mark, as at the end of a net.
    Result clearNet();
    // The entry the list marks, as last stored.
    std::optional<int> netMark() const;
    Result setNetMark(int active);

    // ---- The log.

    Result deleteLogRow(qint64 id);
    // A station's check-ins: how many, the stored date of the last before
    // `today`, and the row logged last.
    struct History {
        int checkIns = 0;
        std::optional<QString> lastDate;
        std::optional<LogRecord> latest;
    };
    History history(const QString &call, const QString &today, Result *failure = nullptr) const;
    struct QsoLine {
        QString date, comment;
    };
    // A station's last comments, newest first.
    QList<QsoLine> qsoHistory(const QString &call) const;
    // The whole log, newest first.
    Result eachLogRow(const std::function<void(const LogRowView &)> &row) const;
    // Date, time, call and name of every check-in, in stored order; the
    // other views stay empty.
    Result eachCheckIn(const std::function<void(const LogRowView &)> &row) const;
    // One day's rows ("yyMMdd") between two times, latest first.
    Result eachLogRowOfDay(const QString &date, const QString &after, const QString &before,
                           const std::function<void(const LogRowView &)> &row) const;

    // ---- Records of one net (ADIF and ICS-309 exports).

    // A check-in with the grid of its station's contact row, when known.
    struct LoggedCheckIn {
        LogRecord log;
        QString grid;
    };
    // One day's check-ins ("yyMMdd") between two times, the same rows as
    // eachLogRowOfDay, in the order they were logged.
    QList<LoggedCheckIn> netCheckIns(const QString &date, const QString &after, const QString &before,
                                     Result *failure = nullptr) const;

private:
    friend class Storage;
    friend class ContactStore;
    friend class RosterStore;
    friend class JournalStore;
    // In a load's swap: tonight's entries follow their rows into the new table.
    void repointNet(Table table, qint64 lastOldId, QString *failure);
    // The steps of storeEntry.
    struct Storing;
};
