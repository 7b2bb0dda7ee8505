#pragma once

#include "data/rows.h"
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
class ContactStore;
class NetLogStore;
class RosterStore;
class JournalStore;

namespace Direct {
class ReadTransaction;
}

// Contacts.db (with tonight's net list) and the in-memory database (the club
// roster, the search's candidates, the state centres). Storage opens the
// connections and holds the families of tables that run the statements on
// them: contacts(), netLog(), roster(), journal(). Methods take and give
// plain values; a failure comes back as a value with the driver's text, and
// nothing here shows a box or writes the error log.
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
        // The table it replaced is still in the file, to be dropped beside
        // the window (ContactStore::dropReplacedTables).
        bool replacedLeft = false;
    };

    enum class Table { Contacts, Log };
    enum class Seek { First, Previous, Next, Last };
    // Call, name, city and state of a contact, as the reports list them.
    struct ContactLine {
        QByteArrayView call, name, city, state;
    };
    // Gives the next line of a file, or nullptr at its end.
    using LineSource = std::function<const CsvBytes *()>;

    Storage();
    ~Storage();
    Storage(const Storage &) = delete;
    Storage &operator=(const Storage &) = delete;

    // The families of tables.
    ContactStore &contacts() { return *contactStore; }
    const ContactStore &contacts() const { return *contactStore; }
    NetLogStore &netLog() { return *netLogStore; }
    const NetLogStore &netLog() const { return *netLogStore; }
    RosterStore &roster() { return *rosterStore; }
    const RosterStore &roster() const { return *rosterStore; }
    JournalStore &journal() { return *journalStore; }
    const JournalStore &journal() const { return *journalStore; }

    // The two connections, for the hub's handles and the tests.
    QSqlDatabase memory() const { return memoryDb; }
    QSqlDatabase contactsDb() const { return fileDb; }
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
        // A big table that a killed load left, or that an ended load
        // replaced and an exit left undropped: dropped beside the window
        // (FilesController::dropReplacedTables), as after a load, not
        // before the window shows (a second at 1M rows).
        bool leftOverBeside = false;
        // The CREATE INDEX statements of a big table's missing indexes, left
        // for ContactStore::buildIndexes beside the window: built here they
        // would hold the window for seconds.
        QList<QByteArray> unbuiltIndexes;
        bool ok() const { return failure.isEmpty() && missing.isEmpty(); }
    };
    // (Re)opens Contacts.db at `path`, creates what it lacks and attaches it
    // to the in-memory database; a file that cannot serve is left closed and
    // unchanged.
    Opening openContacts(const QString &path);
    // A table of more rows has its missing indexes built after the opening.
    static constexpr qint64 InlineIndexRows = 20'000;
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

    // Where a state's centre is, from the state-centre file.
    std::optional<Coordinates> stateCentre(const QString &state) const;

    // The net list is kept in Contacts.db, unless its tables there could not
    // be used (see Opening::netProblem).
    bool netKept() const { return netDurable; }

    // Called after each transaction that may have journalled a change.
    std::function<void()> journalWritten;

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

private:
    friend class StorageFamily;
    friend class ContactStore;
    friend class NetLogStore;
    friend class RosterStore;
    friend class JournalStore;

    // The steps of openContacts on the opened file; each leaves its failure
    // in `opening` and does nothing after one.
    void checkFile(Opening &opening, QSqlQuery &query);
    void createTables(Opening &opening, QSqlQuery &query);
    void readyForWindow(Opening &opening, QSqlQuery &query);

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
        Reused(QSqlQuery *kept, bool *keptInUse, std::unique_ptr<QSqlQuery> fresh);
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
    // The journal's triggers are on (JournalStore::setJournal).
    bool journalling = false;
    // After a change made outside a transaction of inFile.
    void journalChanged();
    mutable std::map<std::pair<const void *, const char *>, Kept> statements;
    // A worker's connection names, removed with it.
    QString workerName;

    std::unique_ptr<ContactStore> contactStore;
    std::unique_ptr<NetLogStore> netLogStore;
    std::unique_ptr<RosterStore> rosterStore;
    std::unique_ptr<JournalStore> journalStore;
};

// What every family of tables works on: the connections, the kept
// statements and the transactions of the Storage that holds it.
class StorageFamily {
public:
    using Result = Storage::Result;
    using Loaded = Storage::Loaded;
    using Table = Storage::Table;
    using Seek = Storage::Seek;
    using LineSource = Storage::LineSource;
    using ContactLine = Storage::ContactLine;

protected:
    explicit StorageFamily(Storage &storage) : owner(storage), memoryDb(storage.memoryDb), fileDb(storage.fileDb) {}
    using Reused = Storage::Reused;
    Reused reused(const QSqlDatabase &db, const char *sql) const { return owner.reused(db, sql); }
    void inFile(Result &result, const std::function<bool()> &change) { owner.inFile(result, change); }
    bool stopped() const { return owner.stopped(); }
    void journalChanged() { owner.journalChanged(); }

    Storage &owner;
    QSqlDatabase &memoryDb;
    QSqlDatabase &fileDb;
};

#include "data/contactstore.h"
#include "data/journalstore.h"
#include "data/netlogstore.h"
#include "data/rosterstore.h"
