#include "data/storage.h"

#include "app/constants.h"
#include "checkin/netrules.h"
#include "checkin/textrules.h"
#include "data/callindex.h"
#include "data/csv.h"
#include "data/direct.h"
#include "data/schema.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QSet>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>


// Table definitions: Storage creates the tables and re-creates them on loads.
namespace Schema {


inline constexpr char CreateContact[] =
    "CREATE TABLE IF NOT EXISTS contact (id INTEGER PRIMARY KEY NOT NULL, call TEXT, name TEXT, last TEXT, "
    "class TEXT, expire TEXT, address TEXT, city TEXT, state TEXT, zip TEXT, country TEXT, email TEXT, "
    "phone TEXT, lat TEXT, lon TEXT, grid TEXT, source TEXT, utc TEXT, dst TEXT, born TEXT)";
inline constexpr char CreateLog[] =
    "CREATE TABLE IF NOT EXISTS log (id INTEGER PRIMARY KEY NOT NULL, date TEXT, time TEXT, status TEXT, "
    "call TEXT, name TEXT, relay TEXT, city TEXT, state TEXT, comment TEXT)";
inline constexpr char CreateStation[] =
    "CREATE TABLE IF NOT EXISTS station (call TEXT, passwd TEXT, state TEXT, lat TEXT, lon TEXT, grid TEXT, "
    "utc TEXT, dst TEXT)";

// Look-ups by call sign must not scan whole tables.
inline constexpr char IndexContactCall[] = "CREATE INDEX IF NOT EXISTS contact_call ON contact(call)";
inline constexpr char IndexLogCall[] = "CREATE INDEX IF NOT EXISTS log_call ON log(call)";
// The contacts report lists by suffix: read through this index, its first
// screen comes without sorting the whole table first.
inline constexpr char IndexContactSuffix[] = "CREATE INDEX IF NOT EXISTS contact_suffix ON "
                                             "contact(substr(ltrim(call,'ABCDEFGHIJKLMNOPQRSTUVWXYZ'),2))";
// The net-log report picks one day out of years of check-ins.
inline constexpr char IndexLogDate[] = "CREATE INDEX IF NOT EXISTS log_date ON log(date)";

inline constexpr char InsertContact[] =
    "INSERT INTO contact (id, call, name, last, class, expire, address, city, state, zip, country, email, phone, "
    "lat, lon, grid, source, utc, dst, born) VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
inline constexpr char UpdateContactByCall[] =
    "UPDATE contact SET call=?, name=?, last=?, class=?, expire=?, address=?, city=?, state=?, zip=?, country=?, "
    "email=?, phone=?, lat=?, lon=?, grid=?, source=?, utc=?, dst=?, born=? WHERE call=?";
inline constexpr char InsertLog[] =
    "INSERT INTO log (id, date, time, status, call, name, relay, city, state, comment) "
    "VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// The columns the program reads and writes, checked at start in a file made
// elsewhere; extra columns are left alone.
struct TableColumns {
    const char *table;
    const char *columns;
};
inline constexpr TableColumns StoredColumns[] = {
    {"contact", "id call name last class expire address city state zip country email phone lat lon grid source utc "
                "dst born"},
    {"log", "id date time status call name relay city state comment"},
    {"station", "call passwd state lat lon grid utc dst"},
};

// Tonight's net list lives in Contacts.db, so that a crash or a power cut
// loses none of it: its entries in the order they joined, and the entry the
// list marks. `made` is when the entry joined, date and time.
inline constexpr char NetColumns[] =
    "(id INTEGER PRIMARY KEY NOT NULL, time TEXT, call TEXT, name TEXT, city TEXT, state TEXT, comment TEXT, "
    "conId INT, logId INT, status INT, relay TEXT, made TEXT)";
inline constexpr char NetMarkColumns[] = "(id INTEGER PRIMARY KEY NOT NULL, active INT)";
// The net tables exactly as this program makes them: a table with other
// columns or types comes from a newer program or a damaged file, and is
// neither read nor written.
struct TypedColumns {
    const char *table;
    QList<QPair<const char *, const char *>> columns;
    // Columns whose every value must be an integer.
    const char *integers;
};
inline const TypedColumns NetTables[] = {
    {"net",
     {{"id", "INTEGER"},
      {"time", "TEXT"},
      {"call", "TEXT"},
      {"name", "TEXT"},
      {"city", "TEXT"},
      {"state", "TEXT"},
      {"comment", "TEXT"},
      {"conId", "INT"},
      {"logId", "INT"},
      {"status", "INT"},
      {"relay", "TEXT"},
      {"made", "TEXT"}},
     "id conId logId status"},
    {"netmark", {{"id", "INTEGER"}, {"active", "INT"}}, "id active"},
};

// How long a statement waits for another program's lock on Contacts.db
// before it fails: a write may wait a little, a keystroke never seconds.
inline constexpr int BusyTimeoutMs = 250;
// Bytes of the write-ahead log kept on disk between writes: twice what it
// holds before SQLite copies it into the database.
inline constexpr int WalSizeLimit = 8 * 1024 * 1024;

inline constexpr char CreateMbr[] = "CREATE TABLE mbr (id INTEGER PRIMARY KEY NOT NULL, call TEXT)";
inline constexpr char CreateCandidate[] = "CREATE TABLE candidate (id INTEGER PRIMARY KEY NOT NULL, call TEXT)";
inline constexpr char CreateLatlon[] = "CREATE TABLE latlon (id INTEGER PRIMARY KEY NOT NULL, st TEXT, lat REAL, lon REAL)";

} // namespace Schema

namespace {

using Result = Storage::Result;

// The statements that more than one part of the program runs.
namespace Sql {
// The columns by name: a table re-created by a load, or made elsewhere, may
// order them differently.
const char ContactByCall[] = "SELECT id, call, name, last, class, expire, address, city, state, zip, country, email, "
                             "phone, lat, lon, grid, source, utc, dst, born FROM contact WHERE call = ?";
// A roster line's contact data; call and id stay.
const char UpdateContactById[] = "UPDATE contact SET name=?, last=?, class=?, expire=?, address=?, city=?, state=?, "
                                 "zip=?, country=?, email=?, phone=?, lat=?, lon=?, grid=?, source=?, utc=?, dst=?, "
                                 "born=? WHERE id=?";
const char InsertMember[] = "INSERT INTO mbr (id, call) VALUES (NULL, ?)";
const char DeleteLogRow[] = "DELETE FROM log WHERE id = ?";
const char UpdateLogEntry[] = "UPDATE log SET status = ?, call = ?, name = ?, relay = ?, city = ?, state = ?, "
                              "comment = ? WHERE id = ?";
const char LogColumns[] = "SELECT id, date, time, status, call, name, relay, city, state, comment FROM log";
const char StationRow[] = "SELECT call, passwd, state, lat, lon, grid, utc, dst FROM station";
// Contacts and members listed by suffix: leading letters and region digit skipped.
const char BySuffix[] = "ORDER BY substr(ltrim(call,'ABCDEFGHIJKLMNOPQRSTUVWXYZ'),2)";
} // namespace Sql

// The window's writes go before a load's next slice. While the window waits
// for the write lock on Contacts.db, its busy handler marks the time of each
// try; a load that has just committed a slice holds back until the window
// has stopped trying (it has the lock, or gave up), instead of taking the
// lock again at once and leaving the window to its next try a slice later.
std::atomic<qint64> windowTriedAt{0}; // steady clock, ns; 0 before any try

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// While a load runs, the window's commits leave copying the write-ahead log
// into the database to the load's commits: a checkpoint of what a slice
// wrote costs the window's thread tens of milliseconds and a sync.
std::atomic<int> loadsRunning{0};

int windowWalWritten(void *, sqlite3 *db, const char *name, int frames)
{
    // SQLite's own rule otherwise: a passive checkpoint from 1,000 pages on.
    if (frames >= 1000 && loadsRunning.load() == 0)
        sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return SQLITE_OK;
}

bool schemaHas(const QSqlDatabase &db, const QByteArray &name);
// Drops a table a slice at a time (see its definition).
bool dropInParts(const QSqlDatabase &db, const QByteArray &table, QString *failure, int sliceMs = 50);

// The window's busy handler: tries again every half millisecond (SQLite's
// own handler backs off to 100 ms between tries) for `BusyTimeoutMs`.
int windowBusy(void *, int count)
{
    // One wait at a time per thread.
    thread_local qint64 started = 0;
    const qint64 now = steadyNs();
    if (count == 0)
        started = now;
    // While a load runs, a change waits for the lock rather than being
    // refused: the load gives way at its next row or slice, and a check-in
    // stored late is better than one the operator must give again.
    const qint64 limitMs = loadsRunning.load() > 0 ? 60'000 : Schema::BusyTimeoutMs;
    if (now - started >= limitMs * 1'000'000)
        return 0;
    windowTriedAt.store(now);
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    return 1;
}

// A load's pause after a slice: while the window has tried for the lock in
// the last `QuietMs`, it has not had its turn yet, or may come back for the
// next transaction of the same key (a check-in is a few). A second at most,
// whatever the window does.
void letWindowWrite()
{
    constexpr qint64 QuietNs = 20'000'000;
    const qint64 giveUp = steadyNs() + 1'000'000'000;
    for (qint64 now = steadyNs(); now - windowTriedAt.load() < QuietNs && now < giveUp; now = steadyNs())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The cache of a load's connection while it builds an index, in KiB.
// SQLite sorts the keys in runs as large as the cache, each run in one step
// that nothing interrupts: at 64 MB a step of 700 ms at a million calls, at
// 2 MB 20 ms; the many small runs are merged faster, too.
constexpr int IndexCacheKiB = 2000;
// Its cache otherwise: the roster load keeps the indexes up row by row.
constexpr int WorkerCacheKiB = 65536;

QByteArray cacheSizePragma(int kib)
{
    return "PRAGMA cache_size = -" + QByteArray::number(kib);
}

// How each stored table is replaced by a file's lines.
struct TableSpec {
    const char *table;
    const char *create;
    QList<const char *> indexes;
    const char *insert;
    int fields;
};

const TableSpec &spec(Storage::Table table)
{
    static const TableSpec contacts{"contact", Schema::CreateContact, {Schema::IndexContactCall, Schema::IndexContactSuffix},
                                    Schema::InsertContact, Schema::ContactFields};
    static const TableSpec log{"log", Schema::CreateLog, {Schema::IndexLogCall, Schema::IndexLogDate},
                               Schema::InsertLog, Schema::LogFields};
    return table == Storage::Table::Contacts ? contacts : log;
}

const int PhoneField = 11;

// Binds field k of a file's line as QSqlQuery would bind its text: a field
// with nothing at all binds NULL. The line must stay until the statement ran.
void bindField(Direct::Statement &statement, int index, const CsvBytes &line, qsizetype k)
{
    if (k >= line.size() || line.isNull(k))
        statement.bindNull(index);
    else
        statement.bindUtf8Static(index, line.at(k));
}

QString text(const QSqlQuery &query, int column)
{
    return query.value(column).toString();
}

ContactRecord contactFrom(const QSqlQuery &query)
{
    QStringList values;
    for (int c = 1; c <= Schema::ContactFields; ++c)
        values.append(text(query, c));
    ContactRecord record = ContactRecord::fromValues(values);
    record.id = query.value(0).toLongLong();
    return record;
}

NetEntry netEntryFrom(const QSqlQuery &query)
{
    NetEntry entry;
    entry.id = query.value(0).toInt();
    entry.time = text(query, 1);
    entry.call = text(query, 2);
    entry.name = text(query, 3);
    entry.city = text(query, 4);
    entry.state = text(query, 5);
    entry.comment = text(query, 6);
    entry.conId = query.value(7).toInt();
    entry.logId = query.value(8).toInt();
    entry.status = query.value(9).toInt();
    entry.relay = text(query, 10);
    return entry;
}

// Names what the three stored tables lack, one line per table; the text is
// SQLite's when the file cannot even be read.
QString missingColumns(const QSqlDatabase &db, QStringList &missing)
{
    for (const Schema::TableColumns &expected : Schema::StoredColumns) {
        QSqlQuery info(db);
        if (!info.exec(QStringLiteral("PRAGMA table_info(%1)").arg(QLatin1String(expected.table))))
            return info.lastError().text();
        QStringList present;
        while (info.next())
            present.append(info.value(1).toString().toLower());
        // A table that is not there yet is created; only a table made
        // without some columns would fail every statement that names them.
        if (present.isEmpty())
            continue;
        QStringList lacking;
        for (const QString &column : QString::fromLatin1(expected.columns).split(QLatin1Char(' '))) {
            if (!present.contains(column))
                lacking.append(column);
        }
        if (!lacking.isEmpty())
            missing.append(QStringLiteral("Table '%1' lacks the columns: %2.")
                               .arg(QLatin1String(expected.table), lacking.join(QStringLiteral(", "))));
    }
    return QString();
}

// Why the net tables of a file cannot be used, or nothing when they are as
// this program makes them or not there yet.
QString netTableProblem(const QSqlDatabase &db)
{
    QStringList problems;
    for (const Schema::TypedColumns &expected : Schema::NetTables) {
        const QString table = QLatin1String(expected.table);
        QSqlQuery info(db);
        if (!info.exec(QStringLiteral("PRAGMA main.table_info(%1)").arg(table)))
            return info.lastError().text();
        QList<QPair<QString, QString>> present;
        while (info.next())
            present.append({info.value(1).toString(), info.value(2).toString().toUpper()});
        if (present.isEmpty())
            continue;
        QStringList lacking, wrongType, unknown;
        for (const auto &column : expected.columns) {
            const QString name = QLatin1String(column.first);
            const auto found = std::find_if(present.cbegin(), present.cend(), [&](const auto &p) {
                return p.first.compare(name, Qt::CaseInsensitive) == 0;
            });
            if (found == present.cend())
                lacking.append(name);
            else if (found->second != QLatin1String(column.second))
                wrongType.append(QStringLiteral("%1 is %2, not %3")
                                     .arg(name, found->second.isEmpty() ? QStringLiteral("untyped") : found->second,
                                          QLatin1String(column.second)));
        }
        for (const auto &column : present) {
            const bool known = std::any_of(expected.columns.cbegin(), expected.columns.cend(), [&](const auto &c) {
                return column.first.compare(QLatin1String(c.first), Qt::CaseInsensitive) == 0;
            });
            if (!known)
                unknown.append(column.first);
        }
        if (!lacking.isEmpty())
            problems.append(QStringLiteral("Table '%1' lacks the columns: %2.").arg(table, lacking.join(", ")));
        if (!wrongType.isEmpty())
            problems.append(QStringLiteral("Table '%1' has other column types: %2.").arg(table, wrongType.join(", ")));
        if (!unknown.isEmpty())
            problems.append(
                QStringLiteral("Table '%1' has columns this program does not know: %2.").arg(table, unknown.join(", ")));
        if (!lacking.isEmpty() || !wrongType.isEmpty())
            continue;
        // Declared right yet holding values of another kind: written by
        // something else, and not to be trusted either.
        QStringList checks;
        for (const QString &column : QString::fromLatin1(expected.integers).split(QLatin1Char(' ')))
            checks.append(QStringLiteral("typeof(%1) NOT IN ('integer', 'null')").arg(column));
        QSqlQuery values(db);
        if (!values.exec(QStringLiteral("SELECT COUNT(*) FROM main.%1 WHERE %2").arg(table, checks.join(" OR "))))
            return values.lastError().text();
        if (values.next() && values.value(0).toLongLong() > 0)
            problems.append(QStringLiteral("Table '%1' holds %2 rows with text where numbers belong.")
                                .arg(table)
                                .arg(values.value(0).toLongLong()));
    }
    return problems.join(QLatin1Char(' '));
}

// Journal and sync of Contacts.db. `warning` says why the file could not be
// put in WAL mode, which is not fatal.
QString prepareContactsFile(const QSqlDatabase &db, QString &warning)
{
    QSqlQuery query(db);
    // In WAL mode a search or a contact display reads on while another
    // program holds the write lock, and a commit costs one sync; a full
    // sync keeps every commit whole on a power cut.
    QString mode;
    if (query.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && query.next())
        mode = query.value(0).toString();
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        // Another program holding the file, or a file system without shared
        // memory: the rollback journal still works, only reads may wait.
        warning = "Contacts database '" + db.databaseName() + "' could not be switched to WAL mode ("
                  + (mode.isEmpty() ? query.lastError().text() : "journal mode " + mode)
                  + "); searches may wait while another program writes to it.";
    }
    if (!query.exec(QStringLiteral("PRAGMA synchronous = FULL")))
        return query.lastError().text();
    // The log grows to the size of a whole contacts load; without a limit
    // it would keep that size on disk until the program ends.
    if (!query.exec(QStringLiteral("PRAGMA journal_size_limit = %1").arg(Schema::WalSizeLimit)))
        return query.lastError().text();
    return QString();
}

// Reads a log row by column name, so a table re-created by the CSV loader
// with another column order still reads right.
class LogColumns {
public:
    explicit LogColumns(const Direct::Statement &query)
        : id(query.columnIndex("id"))
        , date(query.columnIndex("date"))
        , time(query.columnIndex("time"))
        , status(query.columnIndex("status"))
        , call(query.columnIndex("call"))
        , name(query.columnIndex("name"))
        , relay(query.columnIndex("relay"))
        , city(query.columnIndex("city"))
        , state(query.columnIndex("state"))
        , comment(query.columnIndex("comment"))
    {
    }

    // The views hold until the query steps on.
    LogRowView read(const Direct::Statement &query) const
    {
        LogRowView row;
        row.id = query.integer(id);
        row.date = query.utf8(date);
        row.time = query.utf8(time);
        row.status = query.utf8(status);
        row.call = query.utf8(call);
        row.name = query.utf8(name);
        row.relay = query.utf8(relay);
        row.city = query.utf8(city);
        row.state = query.utf8(state);
        row.comment = query.utf8(comment);
        return row;
    }

private:
    int id, date, time, status, call, name, relay, city, state, comment;
};

// A walk over a statement's rows: failed when it could not start or stopped
// on an error rather than at its end.
Result walked(const Direct::Statement &query)
{
    if (query.ok() && !query.failed())
        return Result();
    return Result::failed(Result::ReadFailed, query.error());
}

} // namespace

// ---- Values.

QStringList ContactRecord::values() const
{
    return {call, name, last, licenceClass, expire, address, city, state, zip, country,
            email, phone, lat, lon, grid, source, utc, dst, born};
}

ContactRecord ContactRecord::fromValues(const QStringList &values)
{
    ContactRecord record;
    QString *const fields[] = {&record.call,    &record.name,  &record.last,    &record.licenceClass, &record.expire,
                               &record.address, &record.city,  &record.state,   &record.zip,          &record.country,
                               &record.email,   &record.phone, &record.lat,     &record.lon,          &record.grid,
                               &record.source,  &record.utc,   &record.dst,     &record.born};
    for (int k = 0; k < int(std::size(fields)); ++k)
        *fields[k] = values.value(k);
    return record;
}

int StoredRow::columns() const
{
    return statement.columnCount();
}

QByteArrayView StoredRow::utf8(int column) const
{
    return statement.utf8(column);
}

Result Result::failed(Failure failure, const QSqlError &error)
{
    Result result = failed(failure, error.text());
    if (!error.databaseText().isEmpty())
        result.shortError = error.databaseText();
    return result;
}

Result Result::failed(Failure failure, const QString &error)
{
    Result result;
    result.failure = failure;
    result.error = error;
    result.shortError = error;
    return result;
}

// ---- Opening and closing.

// What the search keeps between keystrokes: the index, the rows written
// since it was last brought up to date, and the candidates found. The index
// is read whole on a thread of its own with its own connection, so that
// neither start-up nor a keystroke waits for a million rows; until it is
// there the search runs its LIKE.
struct Storage::CallSearch {
    CallIndex index;
    bool ready = false;
    // The index no longer stands for the table and is read again whole.
    bool stale = true;
    QSet<qint64> changed;
    CallIndex::Matches found;
    // The table's drop is being prepared.
    bool dropping = false;
    // PRAGMA data_version when the read began.
    qint64 dataVersion = -1;

    // The read in progress.
    std::thread reader;
    std::atomic<bool> readDone{false};
    std::atomic<bool> readCancelled{false};
    CallIndex readIndex;
    bool readFailed = false;

    ~CallSearch() { stopReading(); }

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
        bool ok = sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr)
                  == SQLITE_OK;
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
    auto *search = static_cast<Storage::CallSearch *>(context);
    if (search->stale)
        return;
    search->changed.insert(rowid);
    if (search->changed.size() > ChangedRowsLimit)
        search->markStale();
}

int authorizeContactChange(void *context, int action, const char *first, const char *second, const char *,
                           const char *)
{
    auto *search = static_cast<Storage::CallSearch *>(context);
    switch (action) {
    case SQLITE_DELETE:
        // Emptying a whole table skips the update hook unless told to go
        // row by row; the drop of the table itself asks the same, and
        // would not drop it then.
        if (!isContactTable(first))
            return SQLITE_OK;
        if (search->dropping) {
            search->dropping = false;
            return SQLITE_OK;
        }
        return SQLITE_IGNORE;
    case SQLITE_DROP_TABLE:
        // A dropped table: read whole.
        search->dropping = isContactTable(first);
        if (search->dropping)
            search->markStale();
        return SQLITE_OK;
    case SQLITE_ALTER_TABLE:
        // A loaded table renamed into place, or the table renamed away.
        if (second && std::strncmp(second, "contact", 7) == 0)
            search->markStale();
        return SQLITE_OK;
    default:
        return SQLITE_OK;
    }
}

void contactsRolledBack(void *context)
{
    // A search inside the transaction may have read rows that are gone now.
    static_cast<Storage::CallSearch *>(context)->markStale();
}

} // namespace

namespace {
// The connections' names; a second Storage in one process (two programs in
// one test) gets names of its own.
QString freeName(const char *name)
{
    QString free = QString::fromLatin1(name);
    for (int n = 2; QSqlDatabase::contains(free); ++n)
        free = QString::fromLatin1(name) + '-' + QString::number(n);
    return free;
}
} // namespace

Storage::Storage()
    : memoryDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), freeName(Trel::MemoryConnection)))
    , fileDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), freeName(Trel::FileConnection)))
    , callSearch(std::make_unique<CallSearch>())
{
}

Storage::~Storage()
{
    // The connections may outlive this object: their hooks must not.
    for (const QSqlDatabase &db : {memoryDb, fileDb}) {
        if (sqlite3 *handle = Direct::handle(db)) {
            sqlite3_update_hook(handle, nullptr, nullptr);
            sqlite3_set_authorizer(handle, nullptr, nullptr);
            sqlite3_rollback_hook(handle, nullptr, nullptr);
        }
    }
    if (workerName.isEmpty())
        return;
    forgetStatements(memoryDb);
    forgetStatements(fileDb);
    memoryDb.close();
    fileDb.close();
    // Qt removes a connection only when no handle to it is left.
    memoryDb = QSqlDatabase();
    fileDb = QSqlDatabase();
    QSqlDatabase::removeDatabase(workerName + QStringLiteral("-memory"));
    QSqlDatabase::removeDatabase(workerName + QStringLiteral("-file"));
}

Storage::Opening Storage::openContacts(const QString &path)
{
    Opening opening;
    netDurable = false;
    forgetStatements(fileDb);
    // The journal's triggers belong to the connection that is closed here.
    journalling = false;
    // Setting a new name on an open connection only takes effect after a reopen.
    if (fileDb.isOpen())
        fileDb.close();
    fileDb.setDatabaseName(path);

    if (fileDb.open()) {
        // An existing file that is not a database opens fine and only fails
        // at its first read; without this check the program would go on
        // storing nothing.
        QSqlQuery query(fileDb);
        // Some SQLite builds zero every freed page, which makes replacing a
        // table of a million contacts write it all twice; freed pages are
        // only zeroed where that costs no extra writes.
        query.exec(QStringLiteral("PRAGMA secure_delete = FAST"));
        // Checked before anything is written: a file made elsewhere must stay
        // as it was when it cannot serve.
        opening.failure = missingColumns(fileDb, opening.missing);
        if (opening.ok()) {
            opening.netProblem = netTableProblem(fileDb);
            netDurable = opening.netProblem.isEmpty();
        }
        if (opening.ok())
            opening.failure = prepareContactsFile(fileDb, opening.warning);
        // The look-ups by call run on every station shown and every check-in;
        // the indexes keep them fast on a database of many years. One
        // transaction: one sync instead of one per statement.
        if (opening.ok() && !fileDb.transaction())
            opening.failure = fileDb.lastError().text();
        QStringList statements;
        for (const char *statement : {Schema::CreateContact, Schema::CreateLog, Schema::CreateStation,
                                      Schema::IndexContactCall, Schema::IndexContactSuffix, Schema::IndexLogCall,
                                      Schema::IndexLogDate}) {
            // A table loaded beside the old one keeps its index under the
            // second name (see replaceTableInSlices).
            const QString sql = QString::fromLatin1(statement);
            if (sql.startsWith(QLatin1String("CREATE INDEX"))) {
                QSqlQuery second(fileDb);
                second.prepare(QStringLiteral("SELECT 1 FROM sqlite_schema WHERE type = 'index' AND name = ?"));
                second.addBindValue(sql.section(QLatin1Char(' '), 5, 5) + QLatin1String("_2"));
                if (second.exec() && second.next())
                    continue;
            }
            statements.append(sql);
        }
        if (netDurable) {
            statements.append(QLatin1String("CREATE TABLE IF NOT EXISTS net ") + QLatin1String(Schema::NetColumns));
            statements.append(QLatin1String("CREATE TABLE IF NOT EXISTS netmark ")
                              + QLatin1String(Schema::NetMarkColumns));
        }
        for (const QString &statement : statements) {
            if (!opening.ok())
                break;
            if (!query.exec(statement))
                opening.failure = query.lastError().text();
        }
        if (opening.ok() && !fileDb.commit())
            opening.failure = fileDb.lastError().text();
        // A net table this program cannot use stays as it is; tonight's net
        // is kept beside it for this run only, and the names resolve to it
        // first.
        if (opening.ok() && !netDurable) {
            for (const char *columns : {Schema::NetColumns, Schema::NetMarkColumns}) {
                const QString name = columns == Schema::NetColumns ? QStringLiteral("net") : QStringLiteral("netmark");
                if (opening.ok() && !query.exec("CREATE TEMP TABLE " + name + " " + QLatin1String(columns)))
                    opening.failure = query.lastError().text();
            }
        }
        // A load that was killed part-way left its new table (or the old one
        // it replaced) behind: nothing reads it, and it would keep its space
        // in the file for good.
        for (const char *table : {"contact_loading", "contact_replaced", "log_loading", "log_replaced"}) {
            if (!opening.ok() || !schemaHas(fileDb, table))
                continue;
            QString failure;
            if (dropInParts(fileDb, table, &failure, 1000))
                opening.dropped.append(QString::fromLatin1(table));
            else
                opening.failure = failure;
        }
        // Start-up waited as long as Qt's default for a lock; from here on a
        // statement fails fast instead of freezing the window.
        if (opening.ok() && !query.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(Schema::BusyTimeoutMs)))
            opening.failure = query.lastError().text();
        if (opening.ok()) {
            if (sqlite3 *handle = Direct::handle(fileDb)) {
                sqlite3_busy_handler(handle, windowBusy, nullptr);
                sqlite3_wal_hook(handle, windowWalWritten, nullptr);
            }
        }
        if (!opening.ok())
            fileDb.close();
    } else {
        opening.failure = fileDb.lastError().text();
    }

    callSearch->stopReading();
    callSearch->ready = false;
    callSearch->markStale();
    if (fileDb.isOpen() && Direct::handle(fileDb)) {
        watchContacts(fileDb, true);
        Direct::Statement version(fileDb, "PRAGMA data_version");
        if (version.next())
            callSearch->dataVersion = version.integer(0);
        callSearch->startReading(fileDb.databaseName());
    }
    attachContacts();
    return opening;
}

bool Storage::openMemory()
{
    forgetStatements(memoryDb);
    memoryDb.setDatabaseName(QStringLiteral(":memory:"));
    if (!memoryDb.open())
        return false;
    QSqlQuery query(memoryDb);
    query.exec(QStringLiteral("PRAGMA secure_delete = FAST"));
    // Contacts.db is attached to this connection too: the search reads it
    // here and must not wait long on another program's lock.
    query.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(Schema::BusyTimeoutMs));
    return true;
}

Result Storage::createMemoryTables()
{
    Result result;
    QSqlQuery query(memoryDb);
    for (const char *statement : {Schema::CreateMbr, Schema::CreateCandidate, Schema::CreateLatlon}) {
        if (!query.exec(QString::fromLatin1(statement)) && result.ok())
            result = Result::failed(Result::WriteFailed, query.lastError());
    }
    return result;
}

Result Storage::addStateCentres(const QList<StateCentre> &centres)
{
    if (!memoryDb.transaction())
        return Result::failed(Result::WriteFailed, memoryDb.lastError());
    Result result;
    QSqlQuery query(memoryDb);
    query.prepare(QStringLiteral("INSERT INTO latlon (id, st, lat, lon) VALUES (NULL, ?, ?, ?)"));
    for (const StateCentre &centre : centres) {
        query.addBindValue(centre.state);
        // Stored as the file's text read into a float, as ever: the
        // station's position shown in its dialog is this value's text.
        query.addBindValue(centre.lat.toFloat());
        query.addBindValue(centre.lon.toFloat());
        if (!query.exec()) {
            result = Result::failed(Result::WriteFailed, query.lastError());
            break;
        }
    }
    if (result.ok() && memoryDb.commit())
        return result;
    if (result.ok())
        result = Result::failed(Result::WriteFailed, memoryDb.lastError());
    memoryDb.rollback();
    return result;
}

void Storage::attachContacts()
{
    if (!detachContacts() || !fileDb.isOpen() || !memoryDb.isOpen())
        return;
    QSqlQuery attach(memoryDb);
    attach.prepare(QStringLiteral("ATTACH DATABASE ? AS contacts"));
    attach.addBindValue(fileDb.databaseName());
    attached = attach.exec();
    if (attached)
        watchContacts(memoryDb, false);
}

bool Storage::detachContacts()
{
    if (attached)
        attached = !QSqlQuery(memoryDb).exec(QStringLiteral("DETACH DATABASE contacts"));
    return !attached;
}

void Storage::close()
{
    callSearch->stopReading();
    callSearch->ready = false;
    forgetStatements(memoryDb);
    forgetStatements(fileDb);
    memoryDb.close();
    fileDb.close();
    attached = false;
}

Storage::Snapshot::Snapshot(const Storage &storage)
    : transaction(std::make_unique<Direct::ReadTransaction>(storage.fileDb))
{
}

Storage::Snapshot::~Snapshot() = default;

// ---- Contacts.

std::optional<ContactRecord> Storage::contactByCall(const QString &call, Result *failure) const
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

Result Storage::writeContact(bool known, const ContactRecord &record)
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

Result Storage::saveContact(const ContactRecord &record)
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

Result Storage::deleteContact(const QString &call)
{
    const Result result = removeContact(call);
    if (result.ok())
        journalChanged();
    return result;
}

Result Storage::removeContact(const QString &call)
{
    QSqlQuery remove(fileDb);
    remove.prepare(QStringLiteral("DELETE FROM contact WHERE id = (SELECT id FROM contact WHERE call = ?)"));
    remove.addBindValue(call);
    if (!remove.exec())
        return Result::failed(Result::WriteFailed, remove.lastError());
    return Result();
}

void Storage::journalChanged()
{
    if (journalling && journalWritten)
        journalWritten();
}

Result Storage::storeLookedUpMember(ContactRecord record)
{
    // The roster a batch run rebuilds is journalled whole at its end. Two
    // calls of the list may come back from QRZ as one: one member still.
    Result result = isMember(record.call) ? Result() : insertMember(record.call);
    if (!result.ok())
        return result;
    const std::optional<ContactRecord> stored = contactByCall(record.call, &result);
    if (!result.ok())
        return result;
    if (stored) {
        QString ContactRecord::*const kept[] = {
            &ContactRecord::name,  &ContactRecord::address, &ContactRecord::city, &ContactRecord::state,
            &ContactRecord::zip,   &ContactRecord::country, &ContactRecord::email, &ContactRecord::phone,
            &ContactRecord::lat,   &ContactRecord::lon,     &ContactRecord::grid, &ContactRecord::source,
            &ContactRecord::utc,   &ContactRecord::dst,     &ContactRecord::born};
        for (const auto field : kept) {
            if (!((*stored).*field).isEmpty())
                record.*field = (*stored).*field;
        }
    }
    result = writeContact(stored.has_value(), record);
    if (result.ok())
        journalChanged();
    return result;
}

// ---- This station.

std::optional<StationRecord> Storage::station(Result *failure) const
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

std::optional<Storage::StationPlace> Storage::stationPlace(Result *failure) const
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

Result Storage::saveStation(const StationRecord &station)
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

Result Storage::setStationPassword(const QString &passwd)
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

std::optional<Coordinates> Storage::stateCentre(const QString &state) const
{
    const Reused query = reused(memoryDb, "SELECT lat, lon FROM latlon WHERE st=?");
    query->addBindValue(state);
    if (!query->exec() || !query->next())
        return std::nullopt;
    return Coordinates{query->value(0).toDouble(), query->value(1).toDouble()};
}

// ---- The club roster.

bool Storage::isMember(const QString &call) const
{
    // One member per call, whatever its case.
    const Reused query = reused(memoryDb, "SELECT id FROM mbr WHERE call = ? COLLATE NOCASE");
    query->addBindValue(call);
    return query->exec() && query->next();
}

bool Storage::hasMembers() const
{
    QSqlQuery query(memoryDb);
    return query.exec(QStringLiteral("SELECT id FROM mbr LIMIT 1")) && query.next();
}

Result Storage::addMember(const QString &call)
{
    Result result = insertMember(call);
    if (result.ok() && !(result = journalMembers({call}, {})).ok())
        deleteMember(call);
    return result;
}

Result Storage::removeMember(const QString &call)
{
    Result result = deleteMember(call);
    if (result.ok() && !(result = journalMembers({}, {call})).ok())
        insertMember(call);
    return result;
}

Result Storage::insertMember(const QString &call)
{
    QSqlQuery insert(memoryDb);
    insert.prepare(QString::fromLatin1(Sql::InsertMember));
    insert.addBindValue(call);
    if (!insert.exec())
        return Result::failed(Result::WriteFailed, insert.lastError());
    return Result();
}

Result Storage::deleteMember(const QString &call)
{
    QSqlQuery remove(memoryDb);
    remove.prepare(QStringLiteral("DELETE FROM mbr WHERE call = ? COLLATE NOCASE"));
    remove.addBindValue(call);
    if (!remove.exec())
        return Result::failed(Result::WriteFailed, remove.lastError());
    return Result();
}

Result Storage::clearMembers()
{
    QString failure;
    if (Direct::exec(memoryDb, "DROP TABLE IF EXISTS mbr", &failure)
        && Direct::exec(memoryDb, Schema::CreateMbr, &failure))
        return Result();
    return Result::failed(Result::WriteFailed, failure);
}

Storage::Loaded Storage::addMembers(const LineSource &next)
{
    Loaded loaded;
    if (!memoryDb.transaction()) {
        loaded.result = Result::failed(Result::WriteFailed, memoryDb.lastError());
        return loaded;
    }
    {
        Direct::Statement insert(memoryDb, Sql::InsertMember);
        while (const CsvBytes *line = next()) {
            bindField(insert, 1, *line, 0);
            if (!insert.run()) {
                loaded.result = Result::failed(Result::WriteFailed, insert.error());
                break;
            }
            ++loaded.rows;
        }
    }
    if (loaded.result.ok() && loaded.rows > 0 && memoryDb.commit())
        return loaded;
    if (loaded.result.ok() && loaded.rows > 0)
        loaded.result = Result::failed(Result::WriteFailed, memoryDb.lastError());
    memoryDb.rollback();
    if (!loaded.result.ok())
        loaded.rows = 0;
    return loaded;
}

namespace {
// A roster line kept for a second run, with its phone number's digits
// beside the field.
const char CreateRosterLine[] =
    "CREATE TABLE roster_line (f0, f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, "
    "f17, f18, phone)";
const char InsertRosterLine[] =
    "INSERT INTO roster_line VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
const char RosterLines[] = "SELECT f0, f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, "
                           "f18, phone FROM roster_line ORDER BY rowid";

// A roster line's fields as the merge reads them: from the file, or kept.
struct FileFields {
    const CsvBytes &fields;
    const QString &phone;
    bool empty(int k) const { return fields.at(k).isEmpty(); }
    void bind(Direct::Statement &statement, int index, int k) const
    {
        if (k == PhoneField)
            statement.bindString(index, phone);
        else
            bindField(statement, index, fields, k);
    }
};
struct KeptFields {
    const Direct::Statement &row;
    bool empty(int k) const { return row.isNull(k) || row.utf8(k).isEmpty(); }
    void bind(Direct::Statement &statement, int index, int k) const
    {
        statement.bindColumnText(index, row, k == PhoneField ? Schema::ContactFields : k);
    }
};

// The statements that merge a roster line's contact data into the contacts.
struct RosterMerge {
    explicit RosterMerge(const QSqlDatabase &db)
        : find(db, Sql::ContactByCall)
        , update(db, Sql::UpdateContactById)
        , insert(db, Schema::InsertContact)
    {
    }
    // Updates the contact of the line's call, where an empty field never
    // erases a stored one, or adds it.
    template <typename Fields>
    bool merge(const Fields &line, QString *failure)
    {
        line.bind(find, 1, 0);
        Direct::Statement *done = &insert;
        if (find.next()) {
            for (int k = 1; k < Schema::ContactFields; ++k) {
                if (line.empty(k))
                    update.bindColumnText(k, find, k + 1);
                else
                    line.bind(update, k, k);
            }
            update.bindInt(Schema::ContactFields, find.integer(0));
            done = &update;
        } else {
            for (int k = 0; k < Schema::ContactFields; ++k)
                line.bind(insert, k + 1, k);
        }
        find.reset();
        if (done->run())
            return true;
        *failure = done->error();
        return false;
    }
    Direct::Statement find;
    Direct::Statement update;
    Direct::Statement insert;
};
} // namespace

Storage::Loaded Storage::loadRoster(const RosterSource &next, const std::atomic<bool> *cancel)
{
    // The roster and the contacts take the whole file or nothing of it: the
    // contacts in one transaction, the members after it. That transaction
    // gives way to the window: stopped when the window tries for the write
    // lock, it is rolled back and run again from the lines kept meanwhile.
    struct Running {
        Running() { ++loadsRunning; }
        ~Running() { --loadsRunning; }
    } running;
    Loaded loaded;
    QString failure;
    if (!memoryDb.transaction()) {
        loaded.result = Result::failed(Result::WriteFailed, memoryDb.lastError());
        return loaded;
    }
    if (!Direct::exec(memoryDb, CreateRosterLine, &failure)) {
        memoryDb.rollback();
        loaded.result = Result::failed(Result::WriteFailed, failure);
        return loaded;
    }
    bool stopped = false;
    loaded = readRoster(next, cancel, &stopped);
    if (loaded.result.ok() && stopped && !loaded.cancelled && loaded.rows > 0)
        loaded.result = mergeRosterContacts(cancel, &loaded.cancelled);
    if (loaded.result.ok() && (loaded.rows == 0 || loaded.cancelled)) {
        memoryDb.rollback();
        loaded.rows = 0;
        return loaded;
    }
    Direct::exec(memoryDb, "DROP TABLE IF EXISTS roster_line");
    if (loaded.result.ok() && !memoryDb.commit()) {
        // The contacts are stored; the members in memory are not.
        loaded.result = Result::failed(Result::WriteFailed, memoryDb.lastError());
        loaded.result.fileStored = true;
    }
    if (!loaded.result.ok())
        memoryDb.rollback();
    return loaded;
}

Storage::Loaded Storage::readRoster(const RosterSource &next, const std::atomic<bool> *cancel, bool *stopped)
{
    // The first run merges each line as it is read, inside the write
    // transaction: as fast as a load can be when the window leaves it alone.
    Loaded loaded;
    QString failure;
    loaded.result = clearMembers();
    if (!loaded.result.ok())
        return loaded;
    letWindowWrite();
    bool merging = Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure);
    const qint64 since = steadyNs();
    {
        Direct::Statement member(memoryDb, Sql::InsertMember);
        Direct::Statement keep(memoryDb, InsertRosterLine);
        RosterMerge merge(fileDb);
        while (failure.isEmpty()) {
            const RosterLine *line = next();
            if (!line)
                break;
            ++loaded.rows;
            const CsvBytes &fields = *line->fields;
            bindField(member, 1, fields, 0);
            if (!member.run()) {
                failure = member.error();
                break;
            }
            if (!line->withContact)
                continue;
            for (int k = 0; k < Schema::ContactFields; ++k)
                bindField(keep, k + 1, fields, k);
            keep.bindString(Schema::ContactFields + 1, line->phone);
            if (!keep.run()) {
                failure = keep.error();
                break;
            }
            // The window wants the lock: the rest is read without it.
            if (merging && windowTriedAt.load() > since) {
                merging = false;
                *stopped = true;
                Direct::exec(fileDb, "ROLLBACK");
            }
            if (merging)
                merge.merge(FileFields{fields, line->phone}, &failure);
        }
    }
    loaded.cancelled = failure.isEmpty() && cancel && cancel->load();
    if (merging && failure.isEmpty() && !loaded.cancelled && loaded.rows > 0
        && !Direct::exec(fileDb, "COMMIT", &failure))
        failure += QStringLiteral(" (committing the roster's contacts)");
    if (merging && !(failure.isEmpty() && !loaded.cancelled && loaded.rows > 0))
        Direct::exec(fileDb, "ROLLBACK");
    if (!failure.isEmpty()) {
        loaded.result = Result::failed(Result::WriteFailed, failure);
        loaded.rows = 0;
    }
    return loaded;
}

Result Storage::mergeRosterContacts(const std::atomic<bool> *cancel, bool *cancelled)
{
    QString failure;
    for (;;) {
        letWindowWrite();
        if (!Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure))
            return Result::failed(Result::WriteFailed, failure);
        const qint64 since = steadyNs();
        bool stopped = false;
        {
            Direct::Statement lines(memoryDb, RosterLines);
            RosterMerge merge(fileDb);
            while (failure.isEmpty() && lines.next()) {
                // The window wants the lock, or the operator stopped the load.
                if (windowTriedAt.load() > since || (cancel && cancel->load())) {
                    stopped = true;
                    break;
                }
                merge.merge(KeptFields{lines}, &failure);
            }
            if (failure.isEmpty() && lines.failed())
                failure = lines.error();
        }
        if (failure.isEmpty() && !stopped && Direct::exec(fileDb, "COMMIT", &failure))
            return Result();
        Direct::exec(fileDb, "ROLLBACK");
        if (!failure.isEmpty())
            return Result::failed(Result::WriteFailed, failure);
        if (cancel && cancel->load()) {
            *cancelled = true;
            return Result();
        }
    }
}

Result Storage::eachMemberContact(const std::function<void(const StoredRow &)> &row) const
{
    Direct::Statement members(memoryDb, (QByteArray("SELECT call FROM mbr ") + Sql::BySuffix).constData());
    Direct::Statement contact(fileDb, Sql::ContactByCall);
    if (!fileDb.isOpen() || !members.ok() || !contact.ok())
        return Result::failed(Result::ReadFailed, fileDb.isOpen() ? contact.error() : members.error());
    const Direct::ReadTransaction snapshot(fileDb);
    const StoredRow stored(contact);
    while (members.next()) {
        contact.bindColumnText(1, members, 0);
        if (contact.next())
            row(stored);
        contact.reset();
    }
    return walked(members);
}

Result Storage::eachContactLine(const std::function<void(const ContactLine &)> &line) const
{
    const QByteArray sql = QByteArray("SELECT id, call, name, city, state FROM contact ") + Sql::BySuffix;
    Direct::Statement query(fileDb, sql.constData());
    while (!stopped() && query.next())
        line({query.utf8(1), query.utf8(2), query.utf8(3), query.utf8(4)});
    return walked(query);
}

Result Storage::eachMemberLine(const std::function<void(const ContactLine &)> &line) const
{
    // One read lock for all the look-ups, not one per member.
    const Direct::ReadTransaction snapshot(fileDb);
    Direct::Statement members(memoryDb, (QByteArray("SELECT call FROM mbr ") + Sql::BySuffix).constData());
    Direct::Statement contact(fileDb, "SELECT call, name, city, state FROM contact WHERE call=?");
    while (!stopped() && members.next()) {
        contact.bindColumnText(1, members, 0);
        // A member without a contact record is left out.
        if (contact.next())
            line({contact.utf8(0), contact.utf8(1), contact.utf8(2), contact.utf8(3)});
        contact.reset();
    }
    return walked(members);
}

// ---- Tonight's net list.

QList<Storage::ListedEntry> Storage::listedEntries() const
{
    QList<ListedEntry> entries;
    const Reused query = reused(fileDb, "SELECT id, status, call, name, relay FROM net ORDER BY id");
    if (query->exec()) {
        while (query->next())
            entries.append({query->value(0).toInt(), query->value(1).toInt(), text(*query, 2), text(*query, 3),
                            text(*query, 4)});
    }
    return entries;
}

std::optional<NetEntry> Storage::netEntryByCall(const QString &call) const
{
    const Reused query = reused(fileDb, "SELECT id, time, call, name, city, state, comment, conId, logId, status, "
                                        "relay FROM net WHERE call = ?");
    query->addBindValue(call);
    if (!query->exec() || !query->next())
        return std::nullopt;
    return netEntryFrom(*query);
}

std::optional<QString> Storage::netCall(int id) const
{
    QSqlQuery query(fileDb);
    query.prepare(QStringLiteral("SELECT call FROM net WHERE id=?"));
    query.addBindValue(id);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return text(query, 0);
}

std::optional<int> Storage::netId(Seek seek, int from) const
{
    QSqlQuery query(fileDb);
    switch (seek) {
    case Seek::First:
        query.prepare(QStringLiteral("SELECT id FROM net ORDER BY id LIMIT 1"));
        break;
    case Seek::Previous:
        query.prepare(QStringLiteral("SELECT id FROM net WHERE id < ? ORDER BY id DESC LIMIT 1"));
        query.addBindValue(from);
        break;
    case Seek::Next:
        query.prepare(QStringLiteral("SELECT id FROM net WHERE id > ? ORDER BY id LIMIT 1"));
        query.addBindValue(from);
        break;
    case Seek::Last:
        query.prepare(QStringLiteral("SELECT id FROM net ORDER BY id DESC LIMIT 1"));
        break;
    }
    if (!query.exec() || !query.next())
        return std::nullopt;
    return query.value(0).toInt();
}

std::optional<int> Storage::netStatus(const QString &call) const
{
    const Reused query = reused(fileDb, "SELECT status FROM net WHERE call = ?");
    query->addBindValue(call);
    if (!query->exec() || !query->next())
        return std::nullopt;
    return query->value(0).toInt();
}

Storage::EntryOutcome Storage::storeEntry(const EntryChange &change)
{
    using Step = EntryOutcome::Step;
    EntryOutcome out;
    out.entryId = change.entryId;
    const QString &call = change.call;
    const QString date = change.now.toString(QStringLiteral("yyMMdd"));
    const QString time = change.now.toString(QStringLiteral("HH:mm:ss"));

    // Each returns false, so that the step that failed ends the change.
    const auto fail = [&out](Result::Failure failure, const QSqlError &error, Step step) {
        out.result = Result::failed(failure, error);
        out.failedStep = step;
        return false;
    };
    // A read that fails ends the change, which would rest on it.
    const auto readFailed = [&](const QSqlQuery &query) {
        return fail(Result::ReadFailed, query.lastError(), Step::Entry);
    };
    const auto write = [&](QSqlQuery &query, Step step) {
        return query.exec() || fail(Result::WriteFailed, query.lastError(), step);
    };
    // The list's own rows go with the check-in's, in the same transaction.
    const auto writeNet = [&](QSqlQuery &query) {
        return query.exec() || fail(Result::WriteFailed, query.lastError(), Step::Entry);
    };
    // The log's letter is that of the call's entry as it stands in the list.
    const auto letter = [&] { return NetRules::logLetter(netStatus(call).value_or(0)); };

    const auto insertLog = [&]() -> bool {
        // A row for this call logged within the last hours and shown by no
        // entry of the net list is tonight's check-in from before a restart.
        const Reused earlier = reused(fileDb, "SELECT id, date, time FROM log WHERE call = ? AND date >= ? "
                                              "ORDER BY date DESC, time DESC");
        earlier->addBindValue(call);
        earlier->addBindValue(change.now.addSecs(-NetRules::SameNetSeconds).toString(QStringLiteral("yyMMdd")));
        if (!earlier->exec())
            return readFailed(*earlier);
        while (earlier->next()) {
            if (!loggedWithin(text(*earlier, 1), text(*earlier, 2), change.now, NetRules::SameNetSeconds))
                continue;
            const Reused linked = reused(fileDb, "SELECT id FROM net WHERE logId = ?");
            linked->addBindValue(earlier->value(0).toInt());
            if (!linked->exec())
                return readFailed(*linked);
            if (linked->next())
                continue;
            const Reused update = reused(fileDb, Sql::UpdateLogEntry);
            for (const QString &value : {letter(), call, change.name, change.relay, change.city, change.state,
                                         change.comment})
                update->addBindValue(value);
            update->addBindValue(earlier->value(0).toInt());
            if (!write(*update, Step::CheckIn))
                return false;
            out.logId = earlier->value(0).toInt();
            out.adoptedAt = text(*earlier, 2).left(5);
            return true;
        }

        const Reused insert = reused(fileDb, Schema::InsertLog);
        for (const QString &value : {date, time, letter(), call, change.name, change.relay, change.city, change.state,
                                     change.comment})
            insert->addBindValue(value);
        if (!write(*insert, Step::CheckIn))
            return false;
        out.logId = insert->lastInsertId().toInt();
        return true;
    };

    const auto store = [&]() -> bool {
        // A name typed for a known call replaces the stored one at once.
        std::optional<int> knownId;
        {
            const Reused contact = reused(fileDb, "SELECT id, name FROM contact WHERE call = ?");
            contact->addBindValue(call);
            if (!contact->exec())
                return readFailed(*contact);
            if (contact->next()) {
                knownId = contact->value(0).toInt();
                if (text(*contact, 1) != change.name) {
                    const Reused update = reused(fileDb, "UPDATE contact SET name = ? WHERE call = ?");
                    update->addBindValue(change.name);
                    update->addBindValue(call);
                    if (!write(*update, Step::NameChange))
                        return false;
                }
            }
        }

        out.logId = 0;
        out.contactId = 0;
        if (out.entryId != 0) {
            const Reused net = reused(fileDb, "SELECT logId, conId FROM net WHERE id = ?");
            net->addBindValue(out.entryId);
            if (net->exec() && net->next()) {
                out.logId = net->value(0).toInt();
                out.contactId = net->value(1).toInt();
            } else {
                // The entry's row was taken out of the net meanwhile: start over
                // from the call, as for a station not yet selected.
                out.entryId = 0;
            }
        }
        if (out.entryId == 0) {
            const Reused net = reused(fileDb, "SELECT id, logId, conId FROM net WHERE call = ?");
            net->addBindValue(call);
            if (net->exec()) {
                while (net->next()) {
                    out.entryId = net->value(0).toInt();
                    out.logId = net->value(1).toInt();
                    out.contactId = net->value(2).toInt();
                }
            }
        }

        if (call.isEmpty())
            return true;

        if (out.entryId == 0) {
            // A station new to tonight's net.
            if (NetRules::checksIn(change.key) && !insertLog())
                return false;
            if (knownId)
                out.contactId = *knownId;
            if (out.contactId == 0) {
                const Reused insert = reused(fileDb, Schema::InsertContact);
                for (const QString &value : change.contact.values())
                    insert->addBindValue(value);
                if (!write(*insert, Step::NewContact))
                    return false;
                out.contactId = insert->lastInsertId().toInt();
            }

            const Reused insert = reused(fileDb, "INSERT INTO net (id, time, call, name, city, state, comment, conId, "
                                                 "logId, status, relay, made) VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                                 "?, ?)");
            insert->addBindValue(out.adoptedAt.isEmpty() ? time.left(5) : out.adoptedAt);
            insert->addBindValue(call);
            insert->addBindValue(change.name);
            insert->addBindValue(change.city);
            insert->addBindValue(change.state);
            insert->addBindValue(change.comment);
            insert->addBindValue(out.contactId);
            insert->addBindValue(out.logId);
            insert->addBindValue(NetRules::initialStatus(change.key));
            insert->addBindValue(change.relay);
            insert->addBindValue(change.now.toString(Qt::ISODate));
            if (!writeNet(*insert))
                return false;
            out.entryId = insert->lastInsertId().toInt();
            return true;
        }

        // A station already in the net: its call may have been changed to
        // one that another entry or another contact already has.
        QSqlQuery net(fileDb);
        net.prepare(QStringLiteral("SELECT id FROM net WHERE call = ?"));
        net.addBindValue(call);
        out.netDuplicate = net.exec() && net.next() && net.value(0).toInt() != out.entryId;
        if (knownId && *knownId != out.contactId) {
            out.contactDuplicate = true;
            return true;
        }
        if (out.netDuplicate)
            return true;

        bool withdrawn = false;
        net.prepare(QStringLiteral("SELECT logId, status FROM net WHERE id = ?"));
        net.addBindValue(out.entryId);
        if (net.exec() && net.next()) {
            out.logId = net.value(0).toInt();
            const NetRules::Transition next = NetRules::afterKey(net.value(1).toInt(), change.key);
            if (next.withdraws) {
                QSqlQuery remove(fileDb);
                remove.prepare(QString::fromLatin1(Sql::DeleteLogRow));
                remove.addBindValue(out.logId);
                if (!write(remove, Step::Withdrawal))
                    return false;
                withdrawn = true;
            }
            // Set before the log is written: the log's letter is read from it.
            QSqlQuery update(fileDb);
            update.prepare(QStringLiteral("UPDATE net SET status = ? WHERE id = ?"));
            update.addBindValue(next.status);
            update.addBindValue(out.entryId);
            if (!writeNet(update))
                return false;
        }

        if (!withdrawn) {
            if (NetRules::checksIn(change.key) && out.logId == 0) {
                if (!insertLog())
                    return false;
            } else if (out.logId != 0) {
                QSqlQuery update(fileDb);
                update.prepare(QString::fromLatin1(Sql::UpdateLogEntry));
                for (const QString &value : {letter(), call, change.name, change.relay, change.city, change.state,
                                             change.comment})
                    update.addBindValue(value);
                update.addBindValue(out.logId);
                if (!write(update, Step::LogUpdate))
                    return false;
            }
        }

        QSqlQuery update(fileDb);
        update.prepare(QStringLiteral("UPDATE net SET call = ?, name = ?, relay = ?, city = ?, state = ?, "
                                      "comment = ?, logId = ? WHERE id = ?"));
        for (const QString &value : {call, change.name, change.relay, change.city, change.state, change.comment})
            update.addBindValue(value);
        update.addBindValue(withdrawn ? 0 : out.logId);
        update.addBindValue(out.entryId);
        if (!writeNet(update))
            return false;
        if (withdrawn)
            out.logId = 0;

        QSqlQuery rename(fileDb);
        rename.prepare(QStringLiteral("UPDATE contact SET name = ? WHERE id = ?"));
        rename.addBindValue(change.name);
        rename.addBindValue(out.contactId);
        return write(rename, Step::NameChange);
    };

    inFile(out.result, store);
    return out;
}

Result Storage::removeFromNet(const NetEntry &entry)
{
    Result result;
    inFile(result, [&]() -> bool {
        if (entry.logId != 0) {
            QSqlQuery log(fileDb);
            log.prepare(QString::fromLatin1(Sql::DeleteLogRow));
            log.addBindValue(entry.logId);
            if (!log.exec()) {
                result = Result::failed(Result::WriteFailed, log.lastError());
                return false;
            }
        }
        QSqlQuery net(fileDb);
        net.prepare(QStringLiteral("DELETE FROM net WHERE id = ?"));
        net.addBindValue(entry.id);
        if (!net.exec()) {
            result = Result::failed(Result::WriteFailed, net.lastError());
            return false;
        }
        return true;
    });
    return result;
}

std::optional<Storage::InterruptedNet> Storage::interruptedNet(Result *failure) const
{
    if (!netDurable || !fileDb.isOpen())
        return std::nullopt;
    QSqlQuery query(fileDb);
    if (!query.exec(QStringLiteral("SELECT COUNT(*), (SELECT made FROM net ORDER BY id LIMIT 1) FROM net"))
        || !query.next()) {
        if (failure)
            *failure = Result::failed(Result::ReadFailed, query.lastError());
        return std::nullopt;
    }
    if (query.value(0).toInt() == 0)
        return std::nullopt;
    return InterruptedNet{query.value(0).toInt(), QDateTime::fromString(text(query, 1), Qt::ISODate)};
}

Result Storage::clearNet()
{
    Result result;
    inFile(result, [&]() -> bool {
        for (const char *sql : {"DELETE FROM net", "DELETE FROM netmark"}) {
            QSqlQuery clear(fileDb);
            if (!clear.exec(QString::fromLatin1(sql))) {
                result = Result::failed(Result::WriteFailed, clear.lastError());
                return false;
            }
        }
        return true;
    });
    return result;
}

std::optional<int> Storage::netMark() const
{
    QSqlQuery query(fileDb);
    if (!query.exec(QStringLiteral("SELECT active FROM netmark WHERE id = 1")) || !query.next())
        return std::nullopt;
    return query.value(0).toInt();
}

Result Storage::setNetMark(int active)
{
    QSqlQuery mark(fileDb);
    mark.prepare(QStringLiteral("INSERT OR REPLACE INTO netmark (id, active) VALUES (1, ?)"));
    mark.addBindValue(active);
    if (!mark.exec())
        return Result::failed(Result::WriteFailed, mark.lastError());
    return Result();
}

void Storage::inFile(Result &result, const std::function<bool()> &change)
{
    // The write lock is taken at once, where the busy handler waits for a
    // load's slice: a transaction that read first and then wrote would fail
    // at once when a slice held the lock, or had committed since the read.
    QString failure;
    if (!Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure)) {
        result = Result::failed(Result::WriteFailed, failure);
        return;
    }
    // `change` has said what failed.
    if (!change()) {
        fileDb.rollback();
        return;
    }
    if (!fileDb.commit()) {
        result = Result::failed(Result::WriteFailed, fileDb.lastError());
        fileDb.rollback();
        return;
    }
    if (journalling && journalWritten)
        journalWritten();
}

Storage::Reused::Reused(QSqlQuery *kept, bool *inUse, std::unique_ptr<QSqlQuery> fresh)
    : query(kept ? kept : fresh.get())
    , inUse(inUse)
    , owned(std::move(fresh))
{
    if (inUse)
        *inUse = true;
}

Storage::Reused::~Reused()
{
    query->finish();
    if (inUse)
        *inUse = false;
}

Storage::Reused Storage::reused(const QSqlDatabase &db, const char *sql) const
{
    Kept &kept = statements[{&db, sql}];
    if (!kept.query) {
        auto query = std::make_unique<QSqlQuery>(db);
        query->setForwardOnly(true);
        if (query->prepare(QString::fromUtf8(sql)))
            kept.query = std::move(query);
    }
    if (kept.query && !kept.inUse)
        return Reused(kept.query.get(), &kept.inUse, nullptr);
    auto fresh = std::make_unique<QSqlQuery>(db);
    fresh->setForwardOnly(true);
    fresh->prepare(QString::fromUtf8(sql));
    return Reused(nullptr, nullptr, std::move(fresh));
}

void Storage::forgetStatements(const QSqlDatabase &db)
{
    for (auto it = statements.begin(); it != statements.end();) {
        if (it->first.first == &db && !it->second.inUse)
            it = statements.erase(it);
        else
            ++it;
    }
}

// ---- The log.

Result Storage::deleteLogRow(qint64 id)
{
    QSqlQuery remove(fileDb);
    remove.prepare(QString::fromLatin1(Sql::DeleteLogRow));
    remove.addBindValue(id);
    if (!remove.exec())
        return Result::failed(Result::WriteFailed, remove.lastError());
    return Result();
}

Storage::History Storage::history(const QString &call, const QString &today, Result *failure) const
{
    History found;
    const Reused log = reused(fileDb, "SELECT id, date FROM log WHERE call = ?");
    log->addBindValue(call);
    if (!log->exec()) {
        if (failure)
            *failure = Result::failed(Result::ReadFailed, log->lastError());
        return found;
    }
    QVariant lastId;
    while (log->next()) {
        ++found.checkIns;
        lastId = log->value(0);
        // Tonight's check-in counts, but "last" means before tonight.
        const QString date = text(*log, 1);
        if (date != today)
            found.lastDate = date;
    }
    if (found.checkIns == 0)
        return found;
    static const QByteArray byId = QByteArray(Sql::LogColumns) + " WHERE id = ?";
    const Reused latest = reused(fileDb, byId.constData());
    latest->addBindValue(lastId);
    if (latest->exec() && latest->next()) {
        const QSqlQuery &row = *latest;
        found.latest = LogRecord{row.value(0).toLongLong(), text(row, 1), text(row, 2), text(row, 3), text(row, 4),
                                 text(row, 5), text(row, 6), text(row, 7), text(row, 8), text(row, 9)};
    }
    return found;
}

QList<Storage::QsoLine> Storage::qsoHistory(const QString &call) const
{
    QList<QsoLine> lines;
    QSqlQuery query(fileDb);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT date, comment FROM log WHERE call = ? ORDER BY date DESC LIMIT 10"));
    query.addBindValue(call);
    if (query.exec()) {
        while (query.next())
            lines.append({text(query, 0), text(query, 1)});
    }
    return lines;
}

qint64 Storage::rowCount(Table table) const
{
    Direct::Statement count(fileDb, table == Table::Contacts ? "SELECT COUNT(*) FROM contact"
                                                              : "SELECT COUNT(*) FROM log");
    return count.next() ? count.integer(0) : 0;
}

Result Storage::eachLogRow(const std::function<void(const LogRowView &)> &row) const
{
    Direct::Statement query(fileDb, "SELECT * FROM log ORDER BY date desc, time desc");
    const LogColumns columns(query);
    while (!stopped() && query.next())
        row(columns.read(query));
    return walked(query);
}

Result Storage::eachLogRowOfDay(const QString &date, const QString &after, const QString &before,
                                const std::function<void(const LogRowView &)> &row) const
{
    // The date is six digits and never a wildcard, so equality selects the
    // same rows as LIKE and can use the index on the date.
    Direct::Statement query(fileDb, "SELECT * FROM log WHERE date = ? AND time > ? AND time < ? ORDER BY time desc");
    query.bindUtf8(1, date.toUtf8());
    query.bindString(2, after);
    query.bindString(3, before);
    const LogColumns columns(query);
    while (!stopped() && query.next())
        row(columns.read(query));
    return walked(query);
}

// ---- Whole tables as files.

Result Storage::eachRow(Table table, const std::function<void(const StoredRow &)> &row) const
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

// ---- The search's candidates.

void Storage::clearCandidates()
{
    callSearch->found.clear();
}

Storage::Found Storage::findCandidates(const QString &fragment, bool whole)
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
    while (hits.next())
        matches.append(hits.utf8(0));
    if (!hits.ok() || hits.failed()) {
        found.result = Result::failed(Result::ReadFailed, hits.error());
        matches.clear();
    }
    found.count = int(matches.size());
    return found;
}

int Storage::candidateCount() const
{
    return int(callSearch->found.size());
}

QList<Storage::Candidate> Storage::candidates(int afterId, int limit) const
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

std::optional<Storage::Candidate> Storage::candidate(Seek seek, int from) const
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

// ---- Records of one net.

QList<Storage::LoggedCheckIn> Storage::netCheckIns(const QString &date, const QString &after, const QString &before,
                                                   Result *failure) const
{
    QList<LoggedCheckIn> rows;
    QSqlQuery query(fileDb);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT log.id, log.date, log.time, log.status, log.call, log.name, log.relay, "
                                 "log.city, log.state, log.comment, "
                                 "(SELECT grid FROM contact WHERE contact.call = log.call LIMIT 1) "
                                 "FROM log WHERE date = ? AND time > ? AND time < ? ORDER BY time, id"));
    query.addBindValue(date);
    query.addBindValue(after);
    query.addBindValue(before);
    if (!query.exec()) {
        if (failure)
            *failure = Result::failed(Result::ReadFailed, query.lastError());
        return {};
    }
    while (query.next()) {
        LoggedCheckIn row;
        row.log.id = query.value(0).toLongLong();
        row.log.date = text(query, 1);
        row.log.time = text(query, 2);
        row.log.status = text(query, 3);
        row.log.call = text(query, 4);
        row.log.name = text(query, 5);
        row.log.relay = text(query, 6);
        row.log.city = text(query, 7);
        row.log.state = text(query, 8);
        row.log.comment = text(query, 9);
        row.grid = text(query, 10);
        rows << row;
    }
    if (query.lastError().isValid() && failure)
        *failure = Result::failed(Result::ReadFailed, query.lastError());
    return rows;
}

// ---- The search's index of call signs.

void Storage::watchContacts(const QSqlDatabase &db, bool withRollback)
{
    sqlite3 *handle = Direct::handle(db);
    if (!handle)
        return;
    sqlite3_update_hook(handle, contactRowChanged, callSearch.get());
    sqlite3_set_authorizer(handle, authorizeContactChange, callSearch.get());
    if (withRollback)
        sqlite3_rollback_hook(handle, contactsRolledBack, callSearch.get());
}

bool Storage::callIndexReady()
{
    // The hooks that keep it current need the file's own SQLite handle.
    if (!fileDb.isOpen() || !Direct::handle(fileDb))
        return false;
    CallSearch &search = *callSearch;
    // Another program's commit passes the hooks by; SQLite counts it. Not
    // knowing whether there was one, the search reads the table.
    Direct::Statement version(fileDb, "PRAGMA data_version");
    if (!version.next())
        return false;
    if (version.integer(0) != search.dataVersion)
        search.markStale();
    search.takeRead();
    if (search.stale) {
        search.ready = false;
        search.dataVersion = version.integer(0);
        search.startReading(fileDb.databaseName());
        return false;
    }
    return search.ready && refreshCallIndex().ok();
}

bool Storage::waitForCallIndex()
{
    CallSearch &search = *callSearch;
    for (int tries = 0; tries < 3; ++tries) {
        while (search.reader.joinable() && !search.readDone)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (callIndexReady())
            return true;
    }
    return false;
}

qsizetype Storage::callIndexBytes() const
{
    return callSearch->index.bytes();
}

void Storage::contactsReplaced()
{
    callSearch->markStale();
}

Result Storage::refreshCallIndex()
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

// ---- Bulk work on a thread of its own.

Storage::Storage(const QString &name)
    : memoryDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name + QStringLiteral("-memory")))
    , fileDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name + QStringLiteral("-file")))
    , callSearch(std::make_unique<CallSearch>())
    , workerName(name)
{
}

Result Storage::openWorker(const QString &path, bool onThread)
{
    // The window holds the write lock for one check-in at a time; a worker
    // may wait for it far longer than the window ever waits.
    fileDb.setConnectOptions(
        QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(onThread ? 30000 : Schema::BusyTimeoutMs));
    fileDb.setDatabaseName(path);
    if (!fileDb.open())
        return Result::failed(Result::ReadFailed, fileDb.lastError());
    QString failure;
    // A load keeps its indexes up row by row: with their pages in memory
    // (64 MB at most, for this connection only) that costs no reads.
    if (!Direct::exec(fileDb, "PRAGMA secure_delete = FAST", &failure)
        || !Direct::exec(fileDb, "PRAGMA synchronous = FULL", &failure)
        || !Direct::exec(fileDb, cacheSizePragma(WorkerCacheKiB).constData(), &failure))
        return Result::failed(Result::ReadFailed, failure);
    memoryDb.setDatabaseName(QStringLiteral(":memory:"));
    if (!memoryDb.open())
        return Result::failed(Result::ReadFailed, memoryDb.lastError());
    return Result();
}

namespace {
int readStopped(void *flag)
{
    return static_cast<const std::atomic<bool> *>(flag)->load(std::memory_order_relaxed) ? 1 : 0;
}
} // namespace

void Storage::stopReadingWhen(const std::atomic<bool> *flag)
{
    readStop = flag;
    // Without the handle (Qt's own SQLite) the loops still stop between rows.
    for (const QSqlDatabase &db : {fileDb, memoryDb}) {
        if (sqlite3 *handle = Direct::handle(db))
            sqlite3_progress_handler(handle, 1000, flag ? readStopped : nullptr, const_cast<std::atomic<bool> *>(flag));
    }
}

Result Storage::setMembers(const QStringList &calls)
{
    QString failure;
    if (!Direct::exec(memoryDb, "DROP TABLE IF EXISTS mbr", &failure)
        || !Direct::exec(memoryDb, Schema::CreateMbr, &failure) || !Direct::exec(memoryDb, "BEGIN", &failure))
        return Result::failed(Result::WriteFailed, failure);
    {
        Direct::Statement insert(memoryDb, Sql::InsertMember);
        for (const QString &call : calls) {
            insert.bindString(1, call);
            if (!insert.run()) {
                failure = insert.error();
                break;
            }
        }
    }
    if (failure.isEmpty() && Direct::exec(memoryDb, "COMMIT", &failure))
        return Result();
    Direct::exec(memoryDb, "ROLLBACK");
    return Result::failed(Result::WriteFailed, failure);
}

namespace {

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
// stretch between two looks at the window (see IndexCacheKiB); the load
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
bool dropInParts(const QSqlDatabase &db, const QByteArray &table, QString *failure, int sliceMs)
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
    // Rows by rowid ranges, a few thousand at a time, as many as fit a slice.
    const QByteArray remove = "DELETE FROM " + table + " WHERE rowid <= ?";
    constexpr qint64 Step = 4000;
    qint64 done = 0;
    QElapsedTimer slice;
    while (done < last) {
        letWindowWrite();
        if (!Direct::exec(db, "BEGIN IMMEDIATE", failure))
            return false;
        slice.start();
        bool ok = true;
        {
            Direct::Statement rows(db, remove.constData());
            while (ok && done < last && slice.elapsed() < sliceMs) {
                done = std::min(last, done + Step);
                rows.bindInt(1, done);
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

} // namespace

Storage::Loaded Storage::replaceTableInSlices(Table table, qint64 lastOldId, const LineSource &next,
                                              const std::atomic<bool> *cancel, const std::function<void()> &between,
                                              int sliceMs)
{
    const TableSpec &wanted = spec(table);
    const QByteArray name(wanted.table);
    const QByteArray loading = name + "_loading";
    const QByteArray replaced = name + "_replaced";
    const QByteArray create = QByteArray(wanted.create).replace("IF NOT EXISTS " + name + " ", loading + " ");
    const QByteArray insertSql = QByteArray(wanted.insert).replace("INTO " + name + " ", "INTO " + loading + " ");
    // The columns after the id, as the insert names them.
    const QByteArray insertText(wanted.insert);
    const qsizetype open = insertText.indexOf("(id, ") + 5;
    const QByteArray columns = insertText.mid(open, insertText.indexOf(')', open) - open);
    const auto cancelled = [cancel] { return cancel && cancel->load(); };
    // The window's commits leave the checkpoints to this load meanwhile.
    struct Running {
        Running() { ++loadsRunning; }
        ~Running() { --loadsRunning; }
    } running;

    Loaded loaded;
    QString failure;
    // What a crashed or cancelled load left behind goes first.
    if (!dropInParts(fileDb, loading, &failure, sliceMs) || !dropInParts(fileDb, replaced, &failure, sliceMs)) {
        loaded.result = Result::failed(Result::WriteFailed, failure);
        return loaded;
    }

    // The new table, without indexes while its rows go in: kept up row by
    // row, an index of random keys would be written out again with every
    // slice.
    if (Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure)) {
        Direct::exec(fileDb, create.constData(), &failure);
        if (failure.isEmpty())
            Direct::exec(fileDb, "COMMIT", &failure);
        if (!failure.isEmpty())
            Direct::exec(fileDb, "ROLLBACK");
    }

    // The rows, a slice per transaction. Until the swap nothing of the load
    // is in use, so its commits need not wait for the disk: a power cut
    // loses at most the last slices of a table that the next load drops.
    // After each slice the window has its turn first, if it waits for one.
    Direct::exec(fileDb, "PRAGMA synchronous = NORMAL");
    bool more = failure.isEmpty();
    QElapsedTimer slice;
    while (more && failure.isEmpty() && !cancelled()) {
        letWindowWrite();
        if (!Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure))
            break;
        slice.start();
        // The window trying for the lock ends the slice at the next row.
        const qint64 sliceStarted = steadyNs();
        {
            Direct::Statement insert(fileDb, insertSql.constData());
            if (!insert.ok())
                failure = insert.error();
            while (failure.isEmpty() && slice.elapsed() < sliceMs && windowTriedAt.load() < sliceStarted) {
                const CsvBytes *line = next();
                if (!line) {
                    more = false;
                    break;
                }
                for (int k = 0; k < wanted.fields; ++k)
                    bindField(insert, k + 1, *line, k);
                if (!insert.run())
                    failure = insert.error();
                else
                    ++loaded.rows;
            }
        }
        if (failure.isEmpty())
            Direct::exec(fileDb, "COMMIT", &failure);
        if (!failure.isEmpty())
            Direct::exec(fileDb, "ROLLBACK");
        if (between)
            between();
    }
    loaded.cancelled = failure.isEmpty() && more && cancelled();

    // The indexes, each in a transaction of its own that gives way to the
    // window (a few seconds each at a million rows), under names the old
    // table's do not use (they stay after the swap; opening the file
    // accepts either).
    const bool keep = failure.isEmpty() && !loaded.cancelled && loaded.rows > 0;
    Direct::exec(fileDb, cacheSizePragma(IndexCacheKiB).constData());
    for (const char *index : wanted.indexes) {
        if (!keep || !failure.isEmpty() || cancelled())
            break;
        // "CREATE INDEX IF NOT EXISTS <name> ON <table>(<column>)"
        const QList<QByteArray> words = QByteArray(index).split(' ');
        const QByteArray indexName = words.at(5);
        const QByteArray on = words.at(7).mid(name.size());
        const QByteArray free = schemaHas(fileDb, indexName) ? indexName + "_2" : indexName;
        runGivingWay(fileDb, "CREATE INDEX " + free + " ON " + loading + on, cancel, &failure);
    }
    loaded.cancelled = loaded.cancelled || (failure.isEmpty() && cancelled());
    Direct::exec(fileDb, cacheSizePragma(WorkerCacheKiB).constData());
    if (!Direct::exec(fileDb, "PRAGMA synchronous = FULL", &failure))
        loaded.rows = 0;

    // The swap, short now that the indexes stand: the rows the window
    // stored since the load began are carried over (for contacts, those
    // whose call the file does not hold), then the new table takes the name.
    bool swapped = false;
    letWindowWrite();
    if (keep && failure.isEmpty() && !loaded.cancelled && Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure)) {
        QByteArray carry = "INSERT INTO " + loading + " (" + columns + ") SELECT " + columns + " FROM " + name
                           + " WHERE id > ?";
        if (table == Table::Contacts)
            carry += " AND NOT EXISTS (SELECT 1 FROM " + loading + " AS loaded WHERE loaded.call = " + name + ".call)";
        {
            Direct::Statement carried(fileDb, carry.constData());
            carried.bindInt(1, lastOldId);
            if (!carried.run())
                failure = carried.error();
        }
        // The new table numbers its rows anew: tonight's net must point at
        // its stations' rows there, or editing an entry would rewrite (or
        // delete) another station's row.
        if (failure.isEmpty() && schemaHas(fileDb, "net") && netTableProblem(fileDb).isEmpty())
            repointNet(table, lastOldId, &failure);
        if (failure.isEmpty() && Direct::exec(fileDb, ("ALTER TABLE " + name + " RENAME TO " + replaced).constData(),
                                               &failure))
            Direct::exec(fileDb, ("ALTER TABLE " + loading + " RENAME TO " + name).constData(), &failure);
        if (failure.isEmpty())
            swapped = Direct::exec(fileDb, "COMMIT", &failure);
        if (!swapped)
            Direct::exec(fileDb, "ROLLBACK");
    }

    // Whatever is not in use any more goes, a slice at a time; a failure
    // here leaves only a table that the next load, or the next start, drops.
    QString leftOver;
    dropInParts(fileDb, swapped ? replaced : loading, &leftOver, sliceMs);
    if (!failure.isEmpty()) {
        loaded.rows = 0;
        loaded.cancelled = false;
        loaded.result = Result::failed(Result::WriteFailed, failure);
    } else if (!swapped) {
        loaded.rows = 0;
    }
    return loaded;
}

void Storage::repointNet(Table table, qint64 lastOldId, QString *failure)
{
    if (table == Table::Contacts) {
        // A contact the file does not hold is gone: its entry points nowhere.
        Direct::exec(fileDb,
                     "UPDATE net SET conId = COALESCE((SELECT min(n.id) FROM contact_loading AS n, contact AS o "
                     "WHERE o.id = net.conId AND n.call = o.call), 0) WHERE conId <> 0",
                     failure);
        return;
    }
    // The check-ins of tonight's net stay whether or not the file holds them
    // (those logged during the load are carried already).
    Direct::Statement carry(fileDb, "INSERT INTO log_loading (date, time, status, call, name, relay, city, state, "
                                    "comment) SELECT date, time, status, call, name, relay, city, state, comment "
                                    "FROM log AS o WHERE o.id <= ? AND o.id IN (SELECT logId FROM net) AND NOT "
                                    "EXISTS (SELECT 1 FROM log_loading AS n WHERE n.call IS o.call AND n.date IS "
                                    "o.date AND n.time IS o.time)");
    carry.bindInt(1, lastOldId);
    if (!carry.run()) {
        *failure = carry.error();
        return;
    }
    Direct::exec(fileDb,
                 "UPDATE net SET logId = COALESCE((SELECT max(n.id) FROM log_loading AS n, log AS o "
                 "WHERE o.id = net.logId AND n.call IS o.call AND n.date IS o.date AND n.time IS o.time), 0) "
                 "WHERE logId <> 0",
                 failure);
}

QStringList Storage::memberCalls() const
{
    QStringList calls;
    Direct::Statement query(memoryDb, "SELECT call FROM mbr ORDER BY id");
    while (query.next())
        calls.append(query.string(0));
    return calls;
}

qint64 Storage::memberCount() const
{
    Direct::Statement query(memoryDb, "SELECT count(*) FROM mbr");
    return query.next() ? query.integer(0) : 0;
}

qint64 Storage::lastRowId(Table table) const
{
    Direct::Statement query(fileDb, table == Table::Contacts ? "SELECT max(id) FROM contact" : "SELECT max(id) FROM log");
    return query.next() ? query.integer(0) : 0;
}
