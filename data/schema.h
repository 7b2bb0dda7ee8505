#pragma once

// Table definitions, for Storage, which creates the tables and re-creates
// them on loads; the column counts are those of the CSV files too.
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
inline constexpr int ContactFields = 19;  // columns after id
inline constexpr int LogFields = 9;

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

// How long a statement waits for another program's lock on Contacts.db
// before it fails: a write may wait a little, a keystroke never seconds.
inline constexpr int BusyTimeoutMs = 250;
// Bytes of the write-ahead log kept on disk between writes: twice what it
// holds before SQLite copies it into the database.
inline constexpr int WalSizeLimit = 8 * 1024 * 1024;

inline constexpr char CreateNet[] =
    "CREATE TABLE net (id INTEGER PRIMARY KEY NOT NULL, time TEXT, call TEXT, name TEXT, city TEXT, "
    "state TEXT, comment TEXT, conId INT, logId INT, status INT, relay TEXT)";
inline constexpr char CreateMbr[] = "CREATE TABLE mbr (id INTEGER PRIMARY KEY NOT NULL, call TEXT)";
inline constexpr char CreateCandidate[] = "CREATE TABLE candidate (id INTEGER PRIMARY KEY NOT NULL, call TEXT)";
inline constexpr char CreateLatlon[] = "CREATE TABLE latlon (id INTEGER PRIMARY KEY NOT NULL, st TEXT, lat REAL, lon REAL)";

} // namespace Schema
