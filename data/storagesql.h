#pragma once

// What the families of tables (data/storage.h) share inside the storage
// folder: table definitions, statements and the helpers of the bulk loads.
// Not for the rest of the program.

#include "data/csv.h"
#include "data/direct.h"
#include "data/schema.h"
#include "data/storage.h"

#include <QSqlQuery>
#include <QVariant>

#include <atomic>
#include <chrono>
#include <thread>

// Table definitions: the families create the tables and re-create them on loads.
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
inline constexpr char InsertLog[] = "INSERT INTO log (id, date, time, status, call, name, relay, city, state, comment) "
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
inline constexpr char CreateLatlon[] =
    "CREATE TABLE latlon (id INTEGER PRIMARY KEY NOT NULL, st TEXT, lat REAL, lon REAL)";

} // namespace Schema

namespace StorageSql {

using Result = Storage::Result;

// The statements that more than one part of the program runs.
namespace Sql {
// The columns by name: a table re-created by a load, or made elsewhere, may
// order them differently.
inline constexpr char ContactByCall[] =
    "SELECT id, call, name, last, class, expire, address, city, state, zip, country, email, "
    "phone, lat, lon, grid, source, utc, dst, born FROM contact WHERE call = ?";
// The same row by its id (the roster load reads its members' rows in the
// table's order).
inline constexpr char ContactById[] =
    "SELECT id, call, name, last, class, expire, address, city, state, zip, country, email, "
    "phone, lat, lon, grid, source, utc, dst, born FROM contact WHERE id = ?";
// A roster line's contact data; call and id stay.
inline constexpr char UpdateContactById[] =
    "UPDATE contact SET name=?, last=?, class=?, expire=?, address=?, city=?, state=?, "
    "zip=?, country=?, email=?, phone=?, lat=?, lon=?, grid=?, source=?, utc=?, dst=?, "
    "born=? WHERE id=?";
inline constexpr char InsertMember[] = "INSERT INTO mbr (id, call) VALUES (NULL, ?)";
inline constexpr char DeleteLogRow[] = "DELETE FROM log WHERE id = ?";
inline constexpr char UpdateLogEntry[] =
    "UPDATE log SET status = ?, call = ?, name = ?, relay = ?, city = ?, state = ?, "
    "comment = ? WHERE id = ?";
inline constexpr char LogColumns[] = "SELECT id, date, time, status, call, name, relay, city, state, comment FROM log";
inline constexpr char StationRow[] = "SELECT call, passwd, state, lat, lon, grid, utc, dst FROM station";
// Contacts and members listed by suffix: leading letters and region digit skipped.
inline constexpr char BySuffix[] = "ORDER BY substr(ltrim(call,'ABCDEFGHIJKLMNOPQRSTUVWXYZ'),2)";
} // namespace Sql

// The window's writes go before a load's next slice. While the window waits
// for the write lock on Contacts.db, its busy handler marks the time of each
// try; a load that has just committed a slice holds back until the window
// has stopped trying (it has the lock, or gave up), instead of taking the
// lock again at once and leaving the window to its next try a slice later.
inline std::atomic<qint64> windowTriedAt{0}; // steady clock, ns; 0 before any try

inline qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// While a load runs, the window's commits leave copying the write-ahead log
// into the database to the load's commits: a checkpoint of what a slice
// wrote costs the window's thread tens of milliseconds and a sync.
inline std::atomic<int> loadsRunning{0};
// Counts the work that makes it in loadsRunning for as long as it lives.
struct LoadRunning {
    LoadRunning() { ++loadsRunning; }
    ~LoadRunning() { --loadsRunning; }
    LoadRunning(const LoadRunning &) = delete;
    LoadRunning &operator=(const LoadRunning &) = delete;
};

bool schemaHas(const QSqlDatabase &db, const QByteArray &name);
// Drops a table a slice at a time (see its definition).
// Drops a table a slice at a time (see its definition); false, with no
// failure, when `stop` said so between two slices.
bool dropInParts(const QSqlDatabase &db, const QByteArray &table, QString *failure, int sliceMs = 50,
                 const std::function<bool()> &stop = {});
// A load about to drop left-overs itself: any drop of a finished load's
// old table beside the window stops at its next slice, and this returns
// once it has.
void stopDroppingReplaced();
// Held by a load from its first statement to its last: the work after an
// earlier load stops at its next slice and waits.
class LoadsAlone {
public:
    LoadsAlone();
    ~LoadsAlone();
    LoadsAlone(const LoadsAlone &) = delete;
    LoadsAlone &operator=(const LoadsAlone &) = delete;
};

// A load's pause after a slice: while the window has tried for the lock in
// the last `QuietMs`, it has not had its turn yet, or may come back for the
// next transaction of the same key (a check-in is a few). A second at most,
// whatever the window does.
inline void letWindowWrite()
{
    constexpr qint64 QuietNs = 20'000'000;
    const qint64 giveUp = steadyNs() + 1'000'000'000;
    for (qint64 now = steadyNs(); now - windowTriedAt.load() < QuietNs && now < giveUp; now = steadyNs())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The cache of a worker's connection, in KiB. A worker reads most pages
// once (a save's scan, a roster's look-ups, a load's appended rows), so a
// big cache only adds memory to be allocated and touched first: at a
// million contacts a 64 MB cache made a save's scan half as slow again.
// While a load builds an index, SQLite sorts the keys in runs as large as
// the cache, each in one step that nothing interrupts: at 64 MB a step of
// 700 ms at a million calls, at 2 MB 20 ms.
inline constexpr int WorkerCacheKiB = 2000;

inline QByteArray cacheSizePragma(int kib)
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

inline const TableSpec &spec(Storage::Table table)
{
    static const TableSpec contacts{"contact",
                                    Schema::CreateContact,
                                    {Schema::IndexContactCall, Schema::IndexContactSuffix},
                                    Schema::InsertContact,
                                    Schema::ContactFields};
    static const TableSpec log{
        "log", Schema::CreateLog, {Schema::IndexLogCall, Schema::IndexLogDate}, Schema::InsertLog, Schema::LogFields};
    return table == Storage::Table::Contacts ? contacts : log;
}

inline constexpr int PhoneField = 11;

// Binds field k of a file's line as QSqlQuery would bind its text: a field
// with nothing at all binds NULL. The line must stay until the statement ran.
inline void bindField(Direct::Statement &statement, int index, const CsvBytes &line, qsizetype k)
{
    if (k >= line.size() || line.isNull(k))
        statement.bindNull(index);
    else
        statement.bindUtf8Static(index, line.at(k));
}

inline QString text(const QSqlQuery &query, int column)
{
    return query.value(column).toString();
}

inline ContactRecord contactFrom(const QSqlQuery &query)
{
    QStringList values;
    for (int c = 1; c <= Schema::ContactFields; ++c)
        values.append(text(query, c));
    ContactRecord record = ContactRecord::fromValues(values);
    record.id = query.value(0).toLongLong();
    return record;
}

inline NetEntry netEntryFrom(const QSqlQuery &query)
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

// Reads a log row by column name, so a table re-created by the CSV loader
// with another column order still reads right.
class LogColumns {
public:
    explicit LogColumns(const Direct::Statement &query)
        : id(query.columnIndex("id")),
          date(query.columnIndex("date")),
          time(query.columnIndex("time")),
          status(query.columnIndex("status")),
          call(query.columnIndex("call")),
          name(query.columnIndex("name")),
          relay(query.columnIndex("relay")),
          city(query.columnIndex("city")),
          state(query.columnIndex("state")),
          comment(query.columnIndex("comment"))
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
inline Result walked(const Direct::Statement &query)
{
    if (query.ok() && !query.failed())
        return Result();
    return Result::failed(Result::ReadFailed, query.error());
}

// Why the net tables of a file cannot be used, or nothing when they are as
// this program makes them or not there yet.
QString netTableProblem(const QSqlDatabase &db);

// Runs `sql` as a transaction of its own that gives way to the window (see
// its definition).
bool runGivingWay(const QSqlDatabase &db, const QByteArray &sql, const std::atomic<bool> *cancel, QString *failure);

} // namespace StorageSql
