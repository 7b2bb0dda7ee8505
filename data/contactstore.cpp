#include "data/contactstore.h"

#include "app/constants.h"
#include "app/logging.h"
#include "checkin/netrules.h"
#include "checkin/textrules.h"
#include "data/callindex.h"
#include "data/storagesql.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>

using namespace StorageSql;

// ---- The search's index of call signs.

// What the search keeps between keystrokes: the index, the rows written
// since it was last brought up to date, and the candidates found. The index
// is read whole on a thread of its own with its own connection, so that
// neither start-up nor a keystroke waits for a million rows; until it is
// there the search runs its LIKE.
struct ContactStore::CallSearch {
    CallIndex index;
    bool ready = false;
    // The index no longer stands for the table and is read again whole.
    bool stale = true;
    QSet<qint64> changed;
    CallIndex::Matches found;
    // The table's drop is being prepared.
    bool dropping = false;
    // PRAGMA data_version when the read began, or when this program's
    // workers last explained a change of it.
    qint64 dataVersion = -1;
    // The workers' commits counted when the window last looked.
    quint64 seenCommits = 0;
    quint64 seenContactCommits = 0;
    // The workers explained a change that another program may have made
    // in the same moment: the table is read again once they are done.
    bool unverified = false;

    // On a worker's connection: its transaction changed contacts.
    bool workerTouched = false;
    bool countedWorker = false;

    // The read in progress.
    std::thread reader;
    std::atomic<bool> readDone{false};
    std::atomic<bool> readCancelled{false};
    CallIndex readIndex;
    bool readFailed = false;

    ~CallSearch();

    void markStale()
    {
        stale = true;
        changed.clear();
    }

    void stopReading()
    {
        if (!reader.joinable())
            return;
        readCancelled = true;
        reader.join();
    }

    void startReading(const QString &path)
    {
        stopReading();
        // Changes from here on are read again once the whole read is in.
        stale = false;
        changed.clear();
        readDone = false;
        readCancelled = false;
        readFailed = false;
        reader = std::thread([this, file = path.toUtf8()] {
            readFailed = !readAll(file);
            readDone = true;
        });
    }

    // On the reader's thread.
    bool readAll(const QByteArray &file)
    {
        readIndex.clear();
        sqlite3 *db = nullptr;
        bool ok =
            sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK;
        sqlite3_stmt *rows = nullptr;
        if (ok) {
            sqlite3_busy_timeout(db, Schema::BusyTimeoutMs);
            // SQLite's order for the index on contact(call); NULL matches nothing.
            ok = sqlite3_prepare_v2(db, "SELECT id, call FROM contact WHERE call IS NOT NULL ORDER BY call, id", -1,
                                    &rows, nullptr)
                 == SQLITE_OK;
        }
        int step = SQLITE_DONE;
        while (ok && !readCancelled && (step = sqlite3_step(rows)) == SQLITE_ROW) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(rows, 1));
            readIndex.add(QByteArrayView(text, sqlite3_column_bytes(rows, 1)), sqlite3_column_int64(rows, 0));
        }
        ok = ok && !readCancelled && step == SQLITE_DONE;
        sqlite3_finalize(rows);
        sqlite3_close(db);
        if (ok)
            readIndex.finish();
        return ok;
    }

    // Takes over a finished read; false while there is none.
    bool takeRead()
    {
        if (!reader.joinable() || !readDone)
            return false;
        reader.join();
        if (readFailed || stale) {
            readIndex.clear();
            stale = true;
            return false;
        }
        std::swap(index, readIndex);
        readIndex.clear();
        ready = true;
        return true;
    }
};

namespace {

// Beyond so many changed rows (a roster run's worth) the table is read
// again whole on the reader's thread rather than row by row at a keystroke.
constexpr int ChangedRowsLimit = 10000;

bool isContactTable(const char *table)
{
    return table && std::strcmp(table, "contact") == 0;
}

void contactRowChanged(void *context, int, const char *, const char *table, sqlite3_int64 rowid)
{
    if (!isContactTable(table))
        return;
    auto *search = static_cast<ContactStore::CallSearch *>(context);
    if (search->stale)
        return;
    search->changed.insert(rowid);
    if (search->changed.size() > ChangedRowsLimit)
        search->markStale();
}

// An authorizer's part for the contact table, on the window's connections
// and the workers' alike: SQLite's answer, and in `replaced` whether the
// statement drops the table or renames it (away, or a loaded one into
// place).
int contactTableAction(ContactStore::CallSearch &search, int action, const char *first, const char *second,
                       bool &replaced)
{
    replaced = false;
    switch (action) {
    case SQLITE_DELETE:
        // Emptying a whole table skips the update hook unless told to go
        // row by row; the drop of the table itself asks the same, and
        // would not drop it then.
        if (!isContactTable(first))
            return SQLITE_OK;
        if (search.dropping) {
            search.dropping = false;
            return SQLITE_OK;
        }
        return SQLITE_IGNORE;
    case SQLITE_DROP_TABLE:
        search.dropping = isContactTable(first);
        replaced = search.dropping;
        return SQLITE_OK;
    case SQLITE_ALTER_TABLE:
        replaced = second && std::strncmp(second, "contact", 7) == 0;
        return SQLITE_OK;
    default:
        return SQLITE_OK;
    }
}

int authorizeContactChange(void *context, int action, const char *first, const char *second, const char *, const char *)
{
    auto *search = static_cast<ContactStore::CallSearch *>(context);
    bool replaced = false;
    const int answer = contactTableAction(*search, action, first, second, replaced);
    // A table dropped or renamed: read whole.
    if (replaced)
        search->markStale();
    return answer;
}

void contactsRolledBack(void *context)
{
    // A search inside the transaction may have read rows that are gone now.
    static_cast<ContactStore::CallSearch *>(context)->markStale();
}

// This program's own workers' commits (a log loaded, an old table dropped,
// an index built, a roster merged), counted before each shows, so that the
// window tells a change of PRAGMA data_version that leaves the contacts as
// they were from one that changes them or comes from another program.
std::atomic<quint64> workerCommits{0};
std::atomic<quint64> workerContactCommits{0};
std::atomic<int> workersOpen{0};

void workerRowChanged(void *context, int, const char *, const char *table, sqlite3_int64)
{
    if (isContactTable(table))
        static_cast<ContactStore::CallSearch *>(context)->workerTouched = true;
}

int authorizeWorkerChange(void *context, int action, const char *first, const char *second, const char *, const char *)
{
    auto *search = static_cast<ContactStore::CallSearch *>(context);
    bool replaced = false;
    const int answer = contactTableAction(*search, action, first, second, replaced);
    search->workerTouched = search->workerTouched || replaced;
    return answer;
}

int workerCommitting(void *context)
{
    auto *search = static_cast<ContactStore::CallSearch *>(context);
    if (search->workerTouched)
        ++workerContactCommits;
    ++workerCommits;
    search->workerTouched = false;
    return 0;
}

void workerRolledBack(void *context)
{
    static_cast<ContactStore::CallSearch *>(context)->workerTouched = false;
}

} // namespace

ContactStore::CallSearch::~CallSearch()
{
    stopReading();
    if (countedWorker)
        --workersOpen;
}

namespace StorageSql {

bool schemaHas(const QSqlDatabase &db, const QByteArray &name)
{
    Direct::Statement query(db, "SELECT 1 FROM sqlite_schema WHERE name = ?");
    query.bindUtf8(1, name);
    return query.next();
}

// Runs `sql` as a transaction of its own, which gives way to the window:
// when the window tries for the write lock meanwhile, the statement is
// stopped and rolled back, the window writes, and it runs again, as often
// as that happens. A check-in never waits behind it for more than the
// stretch between two looks at the window (see WorkerCacheKiB); the load
// ends once the window leaves it the time the statement takes (an index of
// a million calls: under a second). Without SQLite's own handle it simply
// runs.
bool runGivingWay(const QSqlDatabase &db, const QByteArray &sql, const std::atomic<bool> *cancel, QString *failure)
{
    sqlite3 *handle = Direct::handle(db);
    struct Watch {
        qint64 since = 0;
        const std::atomic<bool> *cancel = nullptr;
    } watch{0, cancel};
    const auto stop = [](void *context) -> int {
        const auto *w = static_cast<const Watch *>(context);
        return windowTriedAt.load() > w->since || (w->cancel && w->cancel->load()) ? 1 : 0;
    };
    for (;;) {
        letWindowWrite();
        if (!Direct::exec(db, "BEGIN IMMEDIATE", failure))
            return false;
        watch.since = steadyNs();
        if (handle)
            sqlite3_progress_handler(handle, 1000, stop, &watch);
        bool done = Direct::exec(db, sql.constData(), failure);
        const bool stopped = !done && handle && sqlite3_errcode(handle) == SQLITE_INTERRUPT;
        if (handle)
            sqlite3_progress_handler(handle, 0, nullptr, nullptr);
        done = done && Direct::exec(db, "COMMIT", failure);
        if (done)
            return true;
        Direct::exec(db, "ROLLBACK");
        if (!stopped)
            return false;
        failure->clear();
        // Stopped for Cancel: the caller sees the flag.
        if (cancel && cancel->load())
            return false;
    }
}

// Drops a table whose rows are no longer in use: its indexes first, each
// in a transaction of its own, then its rows in slices of `sliceMs`, then
// the empty table. Dropping a million rows at once would hold the write
// lock for most of a second.
bool dropInParts(const QSqlDatabase &db, const QByteArray &table, QString *failure, int sliceMs,
                 const std::function<bool()> &stop)
{
    if (!schemaHas(db, table))
        return true;
    QList<QByteArray> indexes;
    {
        Direct::Statement query(db, "SELECT name FROM sqlite_schema WHERE type = 'index' AND tbl_name = ? "
                                    "AND sql IS NOT NULL");
        query.bindUtf8(1, table);
        while (query.next())
            indexes.append(query.utf8(0).toByteArray());
    }
    for (const QByteArray &index : std::as_const(indexes)) {
        letWindowWrite();
        if (!Direct::exec(db, ("DROP INDEX IF EXISTS " + index).constData(), failure))
            return false;
    }
    qint64 last = 0;
    {
        Direct::Statement top(db, ("SELECT max(rowid) FROM " + table).constData());
        if (top.next())
            last = top.integer(0);
    }
    // Rows by rowid ranges, a few thousand at a time, as many as fit a
    // slice; from the end, where a page emptied is simply let go, which
    // takes a third of the time of emptying pages from the front.
    const QByteArray remove = "DELETE FROM " + table + " WHERE rowid > ?";
    constexpr qint64 Step = 4000;
    qint64 left = last; // rows above it are gone
    QElapsedTimer slice;
    while (left > 0) {
        letWindowWrite();
        if (stop && stop())
            return false;
        if (!Direct::exec(db, "BEGIN IMMEDIATE", failure))
            return false;
        slice.start();
        bool ok = true;
        {
            Direct::Statement rows(db, remove.constData());
            while (ok && left > 0 && slice.elapsed() < sliceMs) {
                left = std::max<qint64>(0, left - Step);
                rows.bindInt(1, left);
                ok = rows.run();
                if (!ok)
                    *failure = rows.error();
            }
        }
        if (!ok || !Direct::exec(db, "COMMIT", failure)) {
            Direct::exec(db, "ROLLBACK");
            return false;
        }
    }
    letWindowWrite();
    return Direct::exec(db, ("DROP TABLE IF EXISTS " + table).constData(), failure);
}

namespace {
// One piece of work after a load at a time; a load that starts meanwhile
// asks it to stop and waits for its slice to end.
std::mutex replacedDrop;
std::atomic<int> dropWaiters{0};
std::atomic<bool> dropStop{false};
} // namespace

LoadsAlone::LoadsAlone()
{
    ++dropWaiters;
    dropStop = true;
    replacedDrop.lock();
}

LoadsAlone::~LoadsAlone()
{
    replacedDrop.unlock();
    if (--dropWaiters == 0)
        dropStop = false;
}

void stopDroppingReplaced()
{
    const LoadsAlone wait;
}

} // namespace StorageSql

Result ContactStore::finishAfterLoad(const std::atomic<bool> &cancel, QStringList *killedLoads)
{
    // Held throughout: a load that starts meanwhile waits until this has
    // stopped, so that the index is never built on its new table, and no
    // load's own new table is in use while this drops a killed one's.
    const std::lock_guard<std::mutex> running(replacedDrop);
    const auto stop = [&cancel] { return cancel.load() || dropStop.load(); };
    QString failure;
    for (const char *table : {"contact_loading", "contact_replaced", "log_loading", "log_replaced"}) {
        if (stop())
            return Result();
        const bool killed = QByteArray(table).endsWith("_loading") && schemaHas(fileDb, table);
        if (!dropInParts(fileDb, table, &failure, 50, stop))
            return failure.isEmpty() ? Result() : Result::failed(Result::WriteFailed, failure);
        if (killed && killedLoads)
            killedLoads->append(QString::fromLatin1(table));
    }
    // The suffix index a big table's load left out; its name is free now.
    Direct::Statement has(fileDb, "SELECT 1 FROM sqlite_schema WHERE type = 'index' AND tbl_name = 'contact' AND "
                                  "name IN ('contact_suffix', 'contact_suffix_2')");
    if (has.next() || stop() || lastRowId(Table::Contacts) <= Storage::InlineIndexRows)
        return has.ok() && !has.failed() ? Result() : Result::failed(Result::ReadFailed, has.error());
    return buildIndexes({QByteArray(Schema::IndexContactSuffix)}, &dropStop).result;
}

ContactStore::ContactStore(Storage &storage) : StorageFamily(storage), callSearch(std::make_unique<CallSearch>())
{
}

ContactStore::~ContactStore() = default;

std::optional<ContactRecord> ContactStore::contactByCall(const QString &call, Result *failure) const
{
    const Reused query = reused(fileDb, Sql::ContactByCall);
    query->addBindValue(call);
    if (!query->exec()) {
        if (failure)
            *failure = Result::failed(Result::ReadFailed, query->lastError());
        return std::nullopt;
    }
    if (!query->next())
        return std::nullopt;
    return contactFrom(*query);
}

Result ContactStore::writeContact(bool known, const ContactRecord &record)
{
    QSqlQuery write(fileDb);
    write.prepare(QString::fromLatin1(known ? Schema::UpdateContactByCall : Schema::InsertContact));
    for (const QString &value : record.values())
        write.addBindValue(value);
    if (known)
        write.addBindValue(record.call);
    if (!write.exec())
        return Result::failed(Result::WriteFailed, write.lastError());
    return Result();
}

Result ContactStore::saveContact(const ContactRecord &record)
{
    Result read;
    const bool known = contactByCall(record.call, &read).has_value();
    // Unknown is not proven by a read that failed: a second row would follow.
    if (!read.ok())
        return read;
    const Result result = writeContact(known, record);
    if (result.ok())
        journalChanged();
    return result;
}

Result ContactStore::deleteContact(const QString &call)
{
    const Result result = removeContact(call);
    if (result.ok())
        journalChanged();
    return result;
}

Result ContactStore::removeContact(const QString &call)
{
    QSqlQuery remove(fileDb);
    remove.prepare(QStringLiteral("DELETE FROM contact WHERE id = (SELECT id FROM contact WHERE call = ?)"));
    remove.addBindValue(call);
    if (!remove.exec())
        return Result::failed(Result::WriteFailed, remove.lastError());
    return Result();
}

std::optional<StationRecord> ContactStore::station(Result *failure) const
{
    QSqlQuery query(fileDb);
    if (!query.exec(QString::fromLatin1(Sql::StationRow))) {
        if (failure)
            *failure = Result::failed(Result::ReadFailed, query.lastError());
        return std::nullopt;
    }
    if (!query.next())
        return std::nullopt;
    return StationRecord{text(query, 0), text(query, 1), text(query, 2), text(query, 3),
                         text(query, 4), text(query, 5), text(query, 6), text(query, 7)};
}

std::optional<ContactStore::StationPlace> ContactStore::stationPlace(Result *failure) const
{
    const Reused query = reused(fileDb, "SELECT lat, lon, state FROM station");
    if (!query->exec()) {
        if (failure)
            *failure = Result::failed(Result::ReadFailed, query->lastError());
        return std::nullopt;
    }
    if (!query->next())
        return std::nullopt;
    return StationPlace{text(*query, 2), query->value(0).toDouble(), query->value(1).toDouble()};
}

Result ContactStore::saveStation(const StationRecord &station)
{
    Result read;
    const bool known = this->station(&read).has_value();
    if (!read.ok())
        return read;
    QSqlQuery write(fileDb);
    if (known)
        write.prepare(
            QStringLiteral("UPDATE station SET call=?, passwd=?, state=?, lat=?, lon=?, grid=?, utc=?, dst=?"));
    else
        write.prepare(QStringLiteral("INSERT INTO station (call, passwd, state, lat, lon, grid, utc, dst) "
                                     "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QString &value : {station.call, station.passwd, station.state, station.lat, station.lon, station.grid,
                                 station.utc, station.dst})
        write.addBindValue(value);
    if (!write.exec())
        return Result::failed(Result::WriteFailed, write.lastError());
    return Result();
}

Result ContactStore::setStationPassword(const QString &passwd)
{
    QSqlQuery write(fileDb);
    write.prepare(QStringLiteral("UPDATE station SET passwd=?"));
    // Blank, as the form always stored an empty field, never NULL.
    write.addBindValue(passwd.isEmpty() ? QStringLiteral("") : passwd);
    if (!write.exec())
        return Result::failed(Result::WriteFailed, write.lastError());
    if (passwd.isEmpty()) {
        // secure_delete zeroed the old value in its page; the log still
        // holds the page as it was until it is checkpointed and cut. A
        // reader in the way leaves that for SQLite's next checkpoint.
        QSqlQuery checkpoint(fileDb);
        checkpoint.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    }
    return Result();
}

Result ContactStore::eachContactLine(const std::function<void(const ContactLine &)> &line) const
{
    const QByteArray sql = QByteArray("SELECT id, call, name, city, state FROM contact ") + Sql::BySuffix;
    Direct::Statement query(fileDb, sql.constData());
    while (!stopped() && query.next())
        line({query.utf8(1), query.utf8(2), query.utf8(3), query.utf8(4)});
    return walked(query);
}

qint64 ContactStore::rowCount(Table table) const
{
    Direct::Statement count(fileDb,
                            table == Table::Contacts ? "SELECT COUNT(*) FROM contact" : "SELECT COUNT(*) FROM log");
    return count.next() ? count.integer(0) : 0;
}

Result ContactStore::eachRow(Table table, const std::function<void(const StoredRow &)> &row) const
{
    // The rows go out as UTF-8 straight from SQLite, in stored order.
    Direct::Statement query(fileDb, table == Table::Contacts ? "SELECT * FROM contact" : "SELECT * FROM log");
    {
        const Direct::Lock lock(fileDb);
        const StoredRow stored(query);
        while (query.next())
            row(stored);
    }
    return walked(query);
}

void ContactStore::fileOpened()
{
    callSearch->stopReading();
    callSearch->ready = false;
    callSearch->markStale();
    if (fileDb.isOpen() && Direct::handle(fileDb)) {
        watchContacts(fileDb, true);
        callSearch->unverified = false;
        Direct::Statement version(fileDb, "PRAGMA data_version");
        if (version.next())
            callSearch->dataVersion = version.integer(0);
        callSearch->seenCommits = workerCommits.load();
        callSearch->seenContactCommits = workerContactCommits.load();
        callSearch->startReading(fileDb.databaseName());
    }
}

void ContactStore::fileClosing()
{
    callSearch->stopReading();
    callSearch->ready = false;
}

void ContactStore::watchAsWorker()
{
    sqlite3 *handle = Direct::handle(fileDb);
    if (!handle || callSearch->countedWorker)
        return;
    sqlite3_update_hook(handle, workerRowChanged, callSearch.get());
    sqlite3_set_authorizer(handle, authorizeWorkerChange, callSearch.get());
    sqlite3_commit_hook(handle, workerCommitting, callSearch.get());
    sqlite3_rollback_hook(handle, workerRolledBack, callSearch.get());
    callSearch->countedWorker = true;
    ++workersOpen;
}

void ContactStore::watchContacts(const QSqlDatabase &db, bool withRollback)
{
    sqlite3 *handle = Direct::handle(db);
    if (!handle)
        return;
    sqlite3_update_hook(handle, contactRowChanged, callSearch.get());
    sqlite3_set_authorizer(handle, authorizeContactChange, callSearch.get());
    if (withRollback)
        sqlite3_rollback_hook(handle, contactsRolledBack, callSearch.get());
}

bool ContactStore::callIndexReady()
{
    // The hooks that keep it current need the file's own SQLite handle.
    if (!fileDb.isOpen() || !Direct::handle(fileDb))
        return false;
    CallSearch &search = *callSearch;
    // Another program's commit passes the hooks by; SQLite counts it. Not
    // knowing whether there was one, the search reads the table. Commits of
    // this program's workers that left the contacts alone explain it, and
    // keep the index.
    Direct::Statement version(fileDb, "PRAGMA data_version");
    if (!version.next())
        return false;
    if (version.integer(0) != search.dataVersion) {
        // Read after the version: a worker counts a commit before it shows,
        // so every commit that this change holds is counted.
        const quint64 commits = workerCommits.load();
        const quint64 contactCommits = workerContactCommits.load();
        if (commits != search.seenCommits && contactCommits == search.seenContactCommits)
            search.unverified = true;
        else
            search.markStale();
        search.dataVersion = version.integer(0);
        search.seenCommits = commits;
        search.seenContactCommits = contactCommits;
    }
    // Another program may have written beside them: once they are all done,
    // the table is read again.
    if (search.unverified && workersOpen.load() == 0) {
        search.unverified = false;
        search.markStale();
    }
    search.takeRead();
    if (search.stale) {
        search.ready = false;
        search.unverified = false;
        search.dataVersion = version.integer(0);
        search.startReading(fileDb.databaseName());
        return false;
    }
    return search.ready && refreshCallIndex().ok();
}

bool ContactStore::callIndexReading() const
{
    return callSearch->reader.joinable() && !callSearch->readDone;
}

qsizetype ContactStore::callIndexBytes() const
{
    return callSearch->index.bytes();
}

void ContactStore::contactsReplaced()
{
    callSearch->markStale();
}

Result ContactStore::refreshCallIndex()
{
    CallSearch &search = *callSearch;
    if (search.changed.isEmpty())
        return Result();
    const QList<qint64> ids(search.changed.begin(), search.changed.end());
    std::vector<CallIndex::Row> rows;
    Direct::Statement one(fileDb, "SELECT call FROM contact WHERE id = ? AND call IS NOT NULL");
    for (const qint64 id : ids) {
        one.bindInt(1, id);
        if (one.next())
            rows.push_back({id, one.utf8(0).toByteArray()});
        if (!one.ok() || one.failed())
            return Result::failed(Result::ReadFailed, one.error());
        one.reset();
    }
    search.index.update(ids, std::move(rows));
    search.changed.clear();
    return Result();
}

namespace {

// A table's replacement by a file's lines, step by step: its new table,
// the rows in slices, the indexes, the swap, and what is left to drop.
// Each step does nothing once one has failed or the load was cancelled.
class TableLoad {
public:
    TableLoad(const QSqlDatabase &db, Storage::Table table, const std::atomic<bool> *stop, int slice)
        : fileDb(db),
          wanted(spec(table)),
          name(wanted.table),
          loading(name + "_loading"),
          replaced(name + "_replaced"),
          cancel(stop),
          sliceMs(slice)
    {
    }

    bool cancelled() const { return cancel && cancel->load(); }
    bool failed() const { return !failure.isEmpty(); }

    // What a crashed or cancelled load left behind goes first, and the old
    // table of the last load if it is still being dropped.
    bool dropLeftOvers()
    {
        return dropInParts(fileDb, loading, &failure, sliceMs) && dropInParts(fileDb, replaced, &failure, sliceMs);
    }

    // The new table, without indexes while its rows go in: kept up row by
    // row, an index of random keys would be written out again with every
    // slice.
    void create()
    {
        const QByteArray sql = QByteArray(wanted.create).replace("IF NOT EXISTS " + name + " ", loading + " ");
        if (!Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure))
            return;
        Direct::exec(fileDb, sql.constData(), &failure);
        if (failure.isEmpty())
            Direct::exec(fileDb, "COMMIT", &failure);
        if (!failure.isEmpty())
            Direct::exec(fileDb, "ROLLBACK");
    }

    // The rows, a slice per transaction. Until the swap nothing of the load
    // is in use, so its commits need not wait for the disk: a power cut
    // loses at most the last slices of a table that the next load drops.
    // After each slice the window has its turn first, if it waits for one.
    void fill(const Storage::LineSource &next, const std::function<void()> &between)
    {
        Direct::exec(fileDb, "PRAGMA synchronous = NORMAL");
        // A checkpoint every 1,000 pages would copy and sync every slice or
        // two; every 16 MB the load spends a third less on its rows. Far
        // larger ones would leave a check-in's sync waiting for tens of
        // megabytes of the load's pages to reach the disk.
        Direct::exec(fileDb, "PRAGMA wal_autocheckpoint = 4096");
        bool more = failure.isEmpty();
        while (more && failure.isEmpty() && !cancelled()) {
            letWindowWrite();
            if (!Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure))
                break;
            more = fillSlice(next);
            if (failure.isEmpty())
                Direct::exec(fileDb, "COMMIT", &failure);
            if (!failure.isEmpty())
                Direct::exec(fileDb, "ROLLBACK");
            if (between)
                between();
        }
        loaded.cancelled = failure.isEmpty() && more && cancelled();
    }

    // The indexes, each in a transaction of its own that gives way to the
    // window (a few seconds each at a million rows), under names the old
    // table's do not use (they stay after the swap; opening the file
    // accepts either).
    void buildIndexes()
    {
        keep = failure.isEmpty() && !loaded.cancelled && loaded.rows > 0;
        for (const char *index : wanted.indexes) {
            if (!keep || !failure.isEmpty() || cancelled())
                break;
            // Only the contacts report in suffix order reads it: for a big
            // table it is built after the load, beside the window
            // (buildIndexesAfterLoad).
            if (index == Schema::IndexContactSuffix && loaded.rows > Storage::InlineIndexRows)
                continue;
            // "CREATE INDEX IF NOT EXISTS <name> ON <table>(<column>)"
            const QList<QByteArray> words = QByteArray(index).split(' ');
            const QByteArray indexName = words.at(5);
            const QByteArray on = words.at(7).mid(name.size());
            const QByteArray free = schemaHas(fileDb, indexName) ? indexName + "_2" : indexName;
            runGivingWay(fileDb, "CREATE INDEX " + free + " ON " + loading + on, cancel, &failure);
        }
        loaded.cancelled = loaded.cancelled || (failure.isEmpty() && cancelled());
        if (!Direct::exec(fileDb, "PRAGMA synchronous = FULL", &failure))
            loaded.rows = 0;
    }

    // The swap, short now that the indexes stand: the rows the window
    // stored since the load began are carried over (for contacts, those
    // whose call the file does not hold), then the new table takes the
    // name. `repoint` moves tonight's net to the new rows.
    void swap(Storage::Table table, qint64 lastOldId, const std::function<void(QString *)> &repoint)
    {
        letWindowWrite();
        if (!keep || !failure.isEmpty() || loaded.cancelled || !Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure))
            return;
        carryOver(table, lastOldId);
        // The new table numbers its rows anew: tonight's net must point at
        // its stations' rows there, or editing an entry would rewrite (or
        // delete) another station's row.
        if (failure.isEmpty() && schemaHas(fileDb, "net") && netTableProblem(fileDb).isEmpty())
            repoint(&failure);
        if (failure.isEmpty()
            && Direct::exec(fileDb, ("ALTER TABLE " + name + " RENAME TO " + replaced).constData(), &failure))
            Direct::exec(fileDb, ("ALTER TABLE " + loading + " RENAME TO " + name).constData(), &failure);
        if (failure.isEmpty())
            swapped = Direct::exec(fileDb, "COMMIT", &failure);
        if (!swapped)
            Direct::exec(fileDb, "ROLLBACK");
    }

    // Whatever is not in use any more goes, a slice at a time; a failure
    // here leaves only a table that the next load, or the next start, drops.
    Storage::Loaded finish()
    {
        // The old table, once replaced, is in nobody's way: it goes beside
        // the window after the load has ended (a second at a million rows).
        QString leftOver;
        if (swapped)
            loaded.replacedLeft = true;
        else
            dropInParts(fileDb, loading, &leftOver, sliceMs);
        if (!failure.isEmpty()) {
            loaded.rows = 0;
            loaded.cancelled = false;
            loaded.result = Result::failed(Result::WriteFailed, failure);
        } else if (!swapped) {
            loaded.rows = 0;
        }
        return loaded;
    }

    Storage::Loaded loaded;
    QString failure;

private:
    // One slice's rows, in the transaction begun; false after the last line.
    bool fillSlice(const Storage::LineSource &next)
    {
        const QByteArray insertSql = QByteArray(wanted.insert).replace("INTO " + name + " ", "INTO " + loading + " ");
        QElapsedTimer slice;
        slice.start();
        // The window trying for the lock ends the slice at the next row.
        const qint64 sliceStarted = steadyNs();
        Direct::Statement insert(fileDb, insertSql.constData());
        if (!insert.ok())
            failure = insert.error();
        while (failure.isEmpty() && slice.elapsed() < sliceMs && windowTriedAt.load() < sliceStarted) {
            const CsvBytes *line = next();
            if (!line)
                return false;
            for (int k = 0; k < wanted.fields; ++k)
                bindField(insert, k + 1, *line, k);
            if (!insert.run())
                failure = insert.error();
            else
                ++loaded.rows;
        }
        return true;
    }

    void carryOver(Storage::Table table, qint64 lastOldId)
    {
        // The columns after the id, as the insert names them.
        const QByteArray insertText(wanted.insert);
        const qsizetype open = insertText.indexOf("(id, ") + 5;
        const QByteArray columns = insertText.mid(open, insertText.indexOf(')', open) - open);
        QByteArray carry =
            "INSERT INTO " + loading + " (" + columns + ") SELECT " + columns + " FROM " + name + " WHERE id > ?";
        if (table == Storage::Table::Contacts)
            carry += " AND NOT EXISTS (SELECT 1 FROM " + loading + " AS loaded WHERE loaded.call = " + name + ".call)";
        Direct::Statement carried(fileDb, carry.constData());
        carried.bindInt(1, lastOldId);
        if (!carried.run())
            failure = carried.error();
    }

    const QSqlDatabase &fileDb;
    const TableSpec &wanted;
    const QByteArray name;
    const QByteArray loading;
    const QByteArray replaced;
    const std::atomic<bool> *cancel;
    const int sliceMs;
    bool keep = false;
    bool swapped = false;
};

} // namespace

Storage::Loaded ContactStore::replaceTableInSlices(Table table, qint64 lastOldId, const LineSource &next,
                                                   const std::atomic<bool> *cancel,
                                                   const std::function<void()> &between, int sliceMs)
{
    // The window's commits leave the checkpoints to this load meanwhile.
    const LoadRunning running;

    // The work after an earlier load stops, and waits until this one has
    // ended: its drop must never see this load's tables half renamed.
    const LoadsAlone alone;
    TableLoad load(fileDb, table, cancel, sliceMs);
    if (!load.dropLeftOvers()) {
        load.loaded.result = Result::failed(Result::WriteFailed, load.failure);
        return load.loaded;
    }
    QElapsedTimer phase;
    phase.start();
    load.create();
    load.fill(next, between);
    const qint64 rowsMs = phase.restart();
    load.buildIndexes();
    const qint64 indexesMs = phase.restart();
    load.swap(table, lastOldId,
              [this, table, lastOldId](QString *failure) { owner.netLog().repointNet(table, lastOldId, failure); });
    const qint64 swapMs = phase.restart();
    const Loaded loaded = load.finish();
    // What the load left in the write-ahead log is copied here, not by the
    // window's next commit.
    Direct::exec(fileDb, "PRAGMA wal_autocheckpoint = 1000");
    Direct::exec(fileDb, "PRAGMA wal_checkpoint(PASSIVE)");
    qCDebug(lcStorage) << "Load of" << spec(table).table << ":" << loaded.rows << "rows in" << rowsMs << "ms, indexes"
                       << indexesMs << "ms, swap" << swapMs << "ms, drop" << phase.elapsed() << "ms"
                       << (loaded.cancelled ? "(cancelled)" : "") << load.failure;
    return loaded;
}

Storage::Loaded ContactStore::buildIndexes(const QList<QByteArray> &creates, const std::atomic<bool> *cancel,
                                           const std::function<void(int)> &built)
{
    // As during a load: the window's commits leave the checkpoints of what
    // the indexes wrote to this connection.
    const LoadRunning running;

    Loaded loaded;
    QString failure;
    // Small sort runs: the steps that cannot be stopped stay short.
    Direct::exec(fileDb, cacheSizePragma(WorkerCacheKiB).constData());
    for (const QByteArray &create : creates) {
        if ((cancel && cancel->load()) || !runGivingWay(fileDb, create, cancel, &failure))
            break;
        ++loaded.rows;
        if (built)
            built(int(loaded.rows));
    }
    if (!failure.isEmpty())
        loaded.result = Result::failed(Result::WriteFailed, failure);
    else
        loaded.cancelled = loaded.rows < creates.size();
    return loaded;
}

qint64 ContactStore::lastRowId(Table table) const
{
    Direct::Statement query(fileDb,
                            table == Table::Contacts ? "SELECT max(id) FROM contact" : "SELECT max(id) FROM log");
    return query.next() ? query.integer(0) : 0;
}

// ---- The search's candidates.

void ContactStore::clearCandidates()
{
    callSearch->found.clear();
}

ContactStore::Found ContactStore::findCandidates(const QString &fragment, bool whole, int scanMs)
{
    Found found;
    CallIndex::Matches &matches = callSearch->found;
    matches.clear();
    // Without a database the start-up box has said so already.
    if (!fileDb.isOpen())
        return found;

    if (callIndexReady()) {
        callSearch->index.find(fragment.toUtf8(), whole, matches);
        found.count = int(matches.size());
        return found;
    }
    // Without SQLite's hooks nothing would keep the index current: the
    // table is scanned as ever. An escape character costs every row about
    // a tenth more, so only a text with a wildcard character is escaped.
    const bool escaped = fragment.contains(QLatin1Char('%')) || fragment.contains(QLatin1Char('_'));
    const QString literal = escaped ? likeLiteral(fragment) : fragment;
    const QString pattern = whole ? literal : QLatin1Char('%') + literal + QLatin1Char('%');
    Direct::Statement hits(fileDb, escaped ? "SELECT call FROM contact WHERE call LIKE ? ESCAPE '\\' ORDER BY call, id"
                                           : "SELECT call FROM contact WHERE call LIKE ? ORDER BY call, id");
    hits.bindString(1, pattern);
    // The scan walks the index on contact(call): stopped early, the calls
    // found are the first ones of the whole answer, in its order.
    struct Limit {
        QElapsedTimer clock;
        qint64 ms = -1;
        bool reached = false;
    } limit;
    sqlite3 *handle = callIndexReading() && scanMs >= 0 ? Direct::handle(fileDb) : nullptr;
    if (handle) {
        limit.clock.start();
        limit.ms = scanMs;
        sqlite3_progress_handler(
            handle, 2000,
            [](void *context) -> int {
                auto *l = static_cast<Limit *>(context);
                l->reached = l->reached || l->clock.elapsed() >= l->ms;
                return l->reached ? 1 : 0;
            },
            &limit);
    }
    while (hits.next())
        matches.append(hits.utf8(0));
    if (handle)
        sqlite3_progress_handler(handle, 0, nullptr, nullptr);
    found.partial = limit.reached;
    if (!found.partial && (!hits.ok() || hits.failed())) {
        found.result = Result::failed(Result::ReadFailed, hits.error());
        matches.clear();
    }
    found.count = int(matches.size());
    return found;
}

int ContactStore::candidateCount() const
{
    return int(callSearch->found.size());
}

QList<ContactStore::Candidate> ContactStore::candidates(int afterId, int limit) const
{
    // A candidate's id is its place in the list, from 1.
    const CallIndex::Matches &matches = callSearch->found;
    QList<Candidate> list;
    const qsizetype from = std::max(afterId, 0);
    const qsizetype to = std::min(matches.size(), from + std::max(limit, 0));
    list.reserve(std::max<qsizetype>(to - from, 0));
    for (qsizetype i = from; i < to; ++i)
        list.append({int(i + 1), QString::fromUtf8(matches.call(i))});
    return list;
}

std::optional<ContactStore::Candidate> ContactStore::candidate(Seek seek, int from) const
{
    const CallIndex::Matches &matches = callSearch->found;
    const qsizetype count = matches.size();
    qsizetype id = 0;
    switch (seek) {
    case Seek::First:
        id = 1;
        break;
    case Seek::Previous:
        id = std::min<qsizetype>(qsizetype(from) - 1, count);
        break;
    case Seek::Next:
        id = std::max<qsizetype>(qsizetype(from) + 1, 1);
        break;
    case Seek::Last:
        id = count;
        break;
    }
    if (id < 1 || id > count)
        return std::nullopt;
    return Candidate{int(id), QString::fromUtf8(matches.call(id - 1))};
}
