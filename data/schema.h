#pragma once

// The stored field counts, which are the CSV files' too (a contacts line has
// 19 fields, a net-log line 9).
namespace Schema {

inline constexpr int ContactFields = 19; // columns after id
inline constexpr int LogFields = 9;

} // namespace Schema
