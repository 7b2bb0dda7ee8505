#pragma once

#include <QSqlDatabase>
#include <QString>

// The club server's tables, made and upgraded by the program: numbered
// migrations, each in a transaction of its own, under a lock so that two
// programs starting at once do not both run one.
namespace ServerSchema {

// The version this program makes and reads.
inline constexpr int Version = 4;
// The channel the server's triggers notify on every new change or net.
inline constexpr char Channel[] = "trelvin";

struct Outcome {
    bool ok = false;
    // For the operator: why the server's schema is not used.
    QString problem;
    int version = 0; // as found before any migration
    // The schema is newer or not this program's: trying again changes nothing.
    bool refused = false;
};

// Brings the schema on `db` (an open PostgreSQL connection) to Version and
// checks that its tables are exactly this program's; refuses a schema that
// is newer or made by something else, and then changes nothing.
Outcome prepare(QSqlDatabase &db);

} // namespace ServerSchema
