#pragma once

#include "data/records.h"
#include "sync/syncrecords.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class CsvBytes;
class QSqlError;

namespace Direct {
class ReadTransaction;
}

// Contacts.db (with tonight's net list) and the in-memory database (the club
// roster, the search's candidates, the state centres), and every statement
// the program runs on them. Methods take and give plain values; a failure
// comes back as a value with the driver's text, and nothing here shows a
// box or writes the error log.
class Storage {
public:
    // How a change or a read ended.
    struct Result {
        enum Failure { None, ReadFailed, WriteFailed };
        Failure failure = None;
        QString error;      // the driver's whole text
        QString shortError; // SQLite's own words where it gave some, else `error`
        // Contacts.db had taken the change, the in-memory roster not.
        bool fileStored = false;

        bool ok() const { return failure == None; }
        static Result failed(Failure failure, const QSqlError &error);
        static Result failed(Failure failure, const QString &error);
    };

    // What the bulk loads took: rows stored, or the failure that left the
    // previous rows in place.
    struct Loaded {
        Result result;
        qint64 rows = 0;
        // The load stopped when asked to; nothing of it was kept.
        bool cancelled = false;
    };

    enum class Table { Contacts, Log };
    enum class Seek { First, Previous, Next, Last };

    Storage();
    ~Storage();
    Storage(const Storage &) = delete;
    Storage &operator=(const Storage &) = delete;

    // The two connections, for the hub's handles and the tests.
    QSqlDatabase memory() const { return memoryDb; }
    QSqlDatabase contacts() const { return fileDb; }
    bool contactsOpen() const { return fileDb.isOpen(); }

    // ---- Opening and closing.

    // Why Contacts.db cannot serve (`failure`: the driver's text; `missing`:
    // one line per table that lacks columns) and a warning that is not fatal.
    struct Opening {
        QString failure;
        QStringList missing;
        QString warning;
        // Why the file's net tables cannot be used; the net is then kept for
        // this run only, and the file's tables stay untouched.
        QString netProblem;
        // Tables a load killed part-way had left, dropped now.
        QStringList dropped;
        bool ok() const { return failure.isEmpty() && missing.isEmpty(); }
    };
    // (Re)opens Contacts.db at `path`, creates what it lacks and attaches it
    // to the in-memory database; a file that cannot serve is left closed and
    // unchanged.
    Opening openContacts(const QString &path);
    // False when the in-memory database cannot be opened at all.
    bool openMemory();
    Result createMemoryTables();
    // A line of the state-centre file, as the file gives it.
    struct StateCentre {
        QString state, lat, lon;
    };
    Result addStateCentres(const QList<StateCentre> &centres);
    // Contacts.db stays attached to the in-memory database as "contacts", so
    // that a keystroke copies its matches inside SQLite.
    void attachContacts();
    bool detachContacts();
    bool contactsAttached() const { return attached; }
    void close();

    // Many reads under one read lock on Contacts.db: SQLite then takes and
    // checks its file lock once instead of at every statement.
    class Snapshot {
    public:
        explicit Snapshot(const Storage &storage);
        ~Snapshot();
        Snapshot(const Snapshot &) = delete;
        Snapshot &operator=(const Snapshot &) = delete;

    private:
        std::unique_ptr<Direct::ReadTransaction> transaction;
    };

    // ---- Contacts.

    std::optional<ContactRecord> contactByCall(const QString &call, Result *failure = nullptr) const;
    // Writes the record over the row with its call when `known`, else adds it.
    Result writeContact(bool known, const ContactRecord &record);
    // One row per call sign: a known call is rewritten in place.
    Result saveContact(const ContactRecord &record);
    // The first row with this call, if there is one.
    Result deleteContact(const QString &call);
    // The roster run's share of a looked-up call sign: it joins the roster,
    // and its record is stored; what the operator stored wins field by
    // field, except the licence data.
    Result storeLookedUpMember(ContactRecord record);

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
    std::optional<Coordinates> stateCentre(const QString &state) const;

    // ---- The club roster.

    bool isMember(const QString &call) const;
    bool hasMembers() const;
    Result addMember(const QString &call);
    Result removeMember(const QString &call);
    Result clearMembers();
    // Gives the next line of a file, or nullptr at its end.
    using LineSource = std::function<const CsvBytes *()>;
    // Adds the members named by the lines' first fields in one transaction:
    // none is kept when none came or one could not be stored.
    Loaded addMembers(const LineSource &next);
    // One member line of a roster file: its contact data when the line holds
    // a whole record, with the phone as stored (digits only).
    struct RosterLine {
        const CsvBytes *fields = nullptr;
        bool withContact = false;
        QString phone;
    };
    using RosterSource = std::function<const RosterLine *()>;
    // Replaces the roster by the lines' members and merges their contact
    // data into the contacts, where an empty field never erases a stored
    // one. All or nothing: a failure or a file without members leaves the
    // roster and the contacts as they were.
    // A set `cancel` ends the load with both as they were.
    Loaded loadRoster(const RosterSource &next, const std::atomic<bool> *cancel = nullptr);
    // The members' contact rows in roster order (by suffix); the row's
    // columns after the first are the 19 of a roster file.
    Result eachMemberContact(const std::function<void(const StoredRow &)> &row) const;

    // Call, name, city and state of a contact, as the reports list them.
    struct ContactLine {
        QByteArrayView call, name, city, state;
    };
    // Every contact, by suffix.
    Result eachContactLine(const std::function<void(const ContactLine &)> &line) const;
    // The roster's members that have a contact row, by suffix.
    Result eachMemberLine(const std::function<void(const ContactLine &)> &line) const;

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

    // The net list is kept in Contacts.db, unless its tables there could not
    // be used (see Opening::netProblem).
    bool netKept() const { return netDurable; }
    // A net list left in the file by a run that ended without emptying it.
    struct InterruptedNet {
        int stations = 0;
        QDateTime firstEntry;
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
    qint64 rowCount(Table table) const;
    // The whole log, newest first.
    Result eachLogRow(const std::function<void(const LogRowView &)> &row) const;
    // One day's rows ("yyMMdd") between two times, latest first.
    Result eachLogRowOfDay(const QString &date, const QString &after, const QString &before,
                           const std::function<void(const LogRowView &)> &row) const;

    // ---- Whole tables as files.

    // Every row of a table, in stored order; the columns after the id are
    // those of its CSV file.
    Result eachRow(Table table, const std::function<void(const StoredRow &)> &row) const;

    // ---- The search's candidates.

    struct Candidate {
        int id = 0;
        QString call;
    };
    struct Found {
        int count = 0;
        Result result;
    };
    void clearCandidates();
    // The contacts whose call contains `fragment`, or is `fragment` when
    // `whole`, as LIKE matches them: ASCII letters in either case, every
    // character literally. In the order of the index on contact(call).
    Found findCandidates(const QString &fragment, bool whole);
    int candidateCount() const;
    // Up to `limit` candidates after `afterId`, in order.
    QList<Candidate> candidates(int afterId, int limit) const;
    std::optional<Candidate> candidate(Seek seek, int from = 0) const;

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

    // ---- The club server's journal (data/journal.cpp).

    // While on, every change of the net list is written to the journal in
    // Contacts.db by triggers of this connection, in the change's own
    // transaction; the first entry of a net starts a shared net. Off, the
    // file is not touched. Reopening Contacts.db turns it off.
    Result setJournal(bool on);
    bool journalOn() const { return journalling; }
    // Called after each transaction that may have journalled a change.
    std::function<void()> journalWritten;
    // This program's id on the club server, made once per Contacts.db.
    QString syncClient() const;
    // The shared net this list belongs to, if any.
    std::optional<SyncNet> sharedNet() const;
    Result joinNet(const SyncNet &net);
    // Empties the list and leaves the shared net, without telling the other
    // programs: the net goes on there.
    Result leaveNet();
    QList<SyncChange> unsentChanges(int limit) const;
    int unsentCount() const;
    Result markSent(qint64 upTo);
    // This program's changes that the server would refuse: never sent, and
    // older than any change the server holds.
    Result markUnsendable(const QStringList &ids);
    // Shifts the clock that dates journalled changes (the tests' fake clock).
    Result setJournalClock(qint64 shiftSeconds);
    // The server's last change received.
    qint64 syncWatermark() const;
    // Stores other programs' changes in the journal and applies those of the
    // shared net to the list and the log, one entry per call: an entry takes
    // a change only when it is the latest of that entry in the server's order
    // (its seq; a change of this program not yet back from the server is
    // later than all). One transaction.
    // Contact and roster changes are applied whatever the net; a roster
    // change only to the roster of the club set here.
    Result applyChanges(const QList<SyncChange> &changes, qint64 watermark, bool *listChanged = nullptr,
                        bool *rosterChanged = nullptr);
    void setRosterClub(const QString &club) { rosterClub = club; }
    // Journals how the roster differs from `before` (a roster loaded or
    // rebuilt by the operator): one change per call that joined or left.
    Result journalRoster(const QStringList &before);

    // ---- Bulk work on a thread of its own.

    // A Storage for a worker thread: connections of its own, named after
    // `name` and removed with it. Create, open and use it on that thread.
    explicit Storage(const QString &name);
    // Opens Contacts.db at `path` beside the window's connection. A worker
    // on a thread of its own waits for the window's writes, which are short,
    // instead of failing; work run on the window's thread (`onThread` false)
    // waits no longer than the window does.
    Result openWorker(const QString &path, bool onThread);
    // A worker's reads over whole tables stop as soon as `*flag` is set
    // (a sort inside SQLite included), as if the table ended there.
    void stopReadingWhen(const std::atomic<bool> *flag);
    // Fills the worker's roster with `calls`, for the roster report.
    Result setMembers(const QStringList &calls);
    // Replaces a table by the lines `next` hands over (a failure, or no
    // line at all, leaves the previous rows in place) in slices of about
    // `sliceMs`, each its own transaction, so that a write of the window
    // waits for one slice at most. The rows go into a new table that takes
    // the old one's place in one transaction at the end, which builds its
    // indexes (a few seconds at a million rows); the rows
    // stored meanwhile by the window (check-ins, new contacts) are carried
    // over: those with an id above `lastOldId`, read by lastRowId() before
    // the load began. `between` runs after each slice; a set `cancel` ends
    // the load with the old table as it was.
    Loaded replaceTableInSlices(Table table, qint64 lastOldId, const LineSource &next,
                                const std::atomic<bool> *cancel, const std::function<void()> &between,
                                int sliceMs = 50);
    // The highest id in the table, 0 when it is empty.
    qint64 lastRowId(Table table) const;
    // The roster's calls in the order they joined, and how many there are.
    QStringList memberCalls() const;
    qint64 memberCount() const;

private:
    // Runs `change` as one transaction on Contacts.db: after a failure none
    // of it is kept. `change` fills `result` when it fails.
    void inFile(Result &result, const std::function<bool()> &change);

    // A statement run at every key, prepared once per connection and kept:
    // SQLite's parser costs more than such a statement's own work. It is
    // reset when the holder goes, so that no read stays open into a commit.
    // A statement already held (a nested use) or one that does not prepare
    // is made afresh each time, as any other statement.
    class Reused {
    public:
        Reused(QSqlQuery *kept, bool *inUse, std::unique_ptr<QSqlQuery> fresh);
        ~Reused();
        Reused(const Reused &) = delete;
        Reused &operator=(const Reused &) = delete;
        QSqlQuery *operator->() const { return query; }
        QSqlQuery &operator*() const { return *query; }

    private:
        QSqlQuery *query;
        bool *inUse;
        std::unique_ptr<QSqlQuery> owned;
    };
    struct Kept {
        std::unique_ptr<QSqlQuery> query;
        bool inUse = false;
    };
    // `sql` is a literal: its address names the statement.
    Reused reused(const QSqlDatabase &db, const char *sql) const;
    // Before a connection closes or opens another file.
    void forgetStatements(const QSqlDatabase &db);

    QSqlDatabase memoryDb;
    QSqlDatabase fileDb;
    const std::atomic<bool> *readStop = nullptr;
    bool stopped() const { return readStop && readStop->load(std::memory_order_relaxed); }
    bool attached = false;
    bool netDurable = false;
    bool journalling = false;
    QString rosterClub;
    Result journalMembers(const QStringList &joined, const QStringList &left);
    // In a load's swap: tonight's entries follow their rows into the new table.
    void repointNet(Table table, qint64 lastOldId, QString *failure);
    // A roster load's two steps: the file into the members (its contact
    // data merged at once unless the window wants the lock: `stopped`), and
    // when stopped, the lines kept meanwhile merged again.
    Loaded readRoster(const RosterSource &next, const std::atomic<bool> *cancel, bool *stopped);
    Result mergeRosterContacts(const std::atomic<bool> *cancel, bool *cancelled);
    // The roster and contact rows alone, journalled by the caller if at all.
    Result insertMember(const QString &call);
    Result deleteMember(const QString &call);
    Result removeContact(const QString &call);
    // After a change made outside a transaction of inFile.
    void journalChanged();
    mutable std::map<std::pair<const void *, const char *>, Kept> statements;

    // ---- The search's index of call signs (data/callindex.h), kept
    // current from SQLite's own hooks on both connections: whatever writes
    // to `contact` marks the rows it changed, and the next search reads
    // them again.
public:
    // Every call sign the search needs is in memory; false while the index
    // is being read or cannot be used, and the search runs its LIKE instead.
    bool callIndexReady();
    // Waits for the index being read, for the benchmark and the tests.
    bool waitForCallIndex();
    // Bytes the index holds.
    qsizetype callIndexBytes() const;
    // Drops the index so that the next search reads the table whole: for
    // writes made on another connection.
    void contactsReplaced();
    struct CallSearch;

private:
    void watchContacts(const QSqlDatabase &db, bool withRollback);
    Result refreshCallIndex();
    std::unique_ptr<CallSearch> callSearch;
    // A worker's connection names, removed with it.
    QString workerName;
};
