#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>

#include <optional>

// The club server's administration, as trelvin-club does it: the club's
// database and roles, its operators' log-ins, and what the server holds.
// Every statement runs on a connection of a PostgreSQL administrator (a
// superuser, or a role that may create databases and roles). Names and
// passwords go through format() with %I and %L on the server: role
// statements take no bound values.
namespace ServerAdmin {

// The roles every club server has: the owner of the database and its
// tables, the members' group (add to and read the journal), and the
// read-only log-in of the live net page.
inline constexpr char OwnerRole[] = "trelvin_club";
inline constexpr char MemberRole[] = "trelvin_member";
inline constexpr char WebRole[] = "trelvin_web";

struct Result {
    bool ok = false;
    // For the administrator: what failed and what to do next.
    QString problem;
    // What was made or changed, one line each; empty when nothing was.
    QStringList done;
};

// The owner and members' roles, the web page's role (NOLOGIN until
// webLogin()), the database owned by the owner, each made only when
// missing. `admin` is connected to any database of the cluster.
Result ensureClub(QSqlDatabase &admin, const QString &database);

// Brings the club's schema to the newest version, made as its owner, and
// grants the web page's role what it reads. `club` is connected to the
// club's database as the administrator.
Result ensureSchema(QSqlDatabase &club);

// A log-in role for an operator in the members' group, with `password`;
// refused when the role exists (rotate() then).
Result addOperator(QSqlDatabase &admin, const QString &role, const QString &password);
// The operator can no longer log in; sessions open now are ended. Its
// changes stay on the server with its name.
Result removeOperator(QSqlDatabase &admin, const QString &role);
// A new password; sessions with the old one are ended.
Result rotate(QSqlDatabase &admin, const QString &role, const QString &password);
// The web page's role may log in with `password` (a new one each time)
// and may read the page's views; `admin` is on the club's database.
Result webLogin(QSqlDatabase &admin, const QString &password);

struct Operator {
    QString role;
    bool canLogIn = false;
    // The server's time of the last change it received from this role.
    std::optional<QDateTime> lastChange;
};
// The members' group's roles, by name; `club` on the club's database.
std::optional<QList<Operator>> operators(QSqlDatabase &club, QString *problem);

struct Status {
    int schemaVersion = 0;
    int operators = 0;
    int operatorsLoggingIn = 0;
    qint64 changesLastHour = 0;
    qint64 changesTotal = 0;
    // The oldest place where a program's numbering skips: changes that
    // program has not sent (yet), or lost.
    QString oldestGap;
};
std::optional<Status> status(QSqlDatabase &club, QString *problem);

// What trelvin-club keeps about the club on its server, for the links it
// makes later: "club", "host", "port", "ca_sha256" (readable by members).
Result setFacts(QSqlDatabase &club, const QList<QPair<QString, QString>> &facts);
std::optional<QHash<QString, QString>> facts(QSqlDatabase &club, QString *problem);

// The running server's settings by name (SHOW), for the local cluster's
// set-up: data_directory, hba_file, ssl, ssl_cert_file, ssl_key_file,
// listen_addresses, port.
std::optional<QHash<QString, QString>> serverSettings(QSqlDatabase &admin, const QStringList &names, QString *problem);
// ALTER SYSTEM SET name = value for each that differs from what the server
// has; a reload after. `restartNeeded` names those that wait for a restart.
Result alterSystem(QSqlDatabase &admin, const QList<QPair<QString, QString>> &settings, QStringList *restartNeeded);

// Settings changed in the files that wait for a restart of the server.
std::optional<QStringList> pendingRestart(QSqlDatabase &admin, QString *problem);

// The server reads its settings and pg_hba.conf again.
Result reload(QSqlDatabase &admin);

// Whether `role` exists in the cluster, and is in the members' group.
std::optional<bool> isOperator(QSqlDatabase &admin, const QString &role, QString *problem);

} // namespace ServerAdmin
