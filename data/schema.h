#pragma once

// Table definitions, kept in one place because the loaders re-create tables.
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

inline constexpr char CreateNet[] =
    "CREATE TABLE net (id INTEGER PRIMARY KEY NOT NULL, time TEXT, call TEXT, name TEXT, city TEXT, "
    "state TEXT, comment TEXT, conId INT, logId INT, status INT, relay TEXT)";
inline constexpr char CreateMbr[] = "CREATE TABLE mbr (id INTEGER PRIMARY KEY NOT NULL, call TEXT)";
inline constexpr char CreateCandidate[] = "CREATE TABLE candidate (id INTEGER PRIMARY KEY NOT NULL, call TEXT)";
inline constexpr char CreateLatlon[] = "CREATE TABLE latlon (id INTEGER PRIMARY KEY NOT NULL, st TEXT, lat REAL, lon REAL)";

} // namespace Schema
