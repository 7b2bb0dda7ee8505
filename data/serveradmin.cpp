#include "data/serveradmin.h"

#include "app/logging.h"
#include "data/serverschema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace ServerAdmin {
namespace {

QString driverText(const QSqlQuery &query)
{
    return query.lastError().databaseText().trimmed().isEmpty() ? query.lastError().text().trimmed()
                                                                : query.lastError().databaseText().trimmed();
}

// The statement `pattern` with its %I and %L filled in by the server, which
// quotes them; DDL takes no bound values.
std::optional<QString> formatted(QSqlDatabase &db, const QString &pattern, const QVariantList &values, QString *problem)
{
    QString placeholders;
    for (int i = 0; i < values.size(); ++i)
        placeholders += QStringLiteral(", ?::text");
    // Typed, since format() takes "any" and the server must know them.
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT format(?::text") + placeholders + QLatin1Char(')'));
    query.addBindValue(pattern);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec() || !query.next()) {
        *problem = driverText(query);
        return std::nullopt;
    }
    return query.value(0).toString();
}

bool run(QSqlDatabase &db, const QString &pattern, const QVariantList &values, QString *problem)
{
    const std::optional<QString> statement = formatted(db, pattern, values, problem);
    if (!statement)
        return false;
    QSqlQuery query(db);
    if (!query.exec(*statement)) {
        *problem = driverText(query);
        return false;
    }
    return true;
}

std::optional<QVariant> value(QSqlDatabase &db, const QString &sql, const QVariantList &values, QString *problem)
{
    QSqlQuery query(db);
    query.prepare(sql);
    for (const QVariant &v : values)
        query.addBindValue(v);
    if (!query.exec()) {
        *problem = driverText(query);
        return std::nullopt;
    }
    return query.next() ? query.value(0) : QVariant();
}

Result failed(const QString &problem, const QStringList &done = {})
{
    Result result;
    result.problem = problem;
    result.done = done;
    return result;
}

// Only what the server answers with the right to do it explains a refusal;
// the next step names the right.
QString rightsHint(const QString &problem)
{
    if (problem.contains(QLatin1String("permission denied"), Qt::CaseInsensitive)
        || problem.contains(QLatin1String("must be superuser"), Qt::CaseInsensitive)
        || problem.contains(QLatin1String("must have"), Qt::CaseInsensitive))
        return QStringLiteral("\nRun trelvin-club as the server's administrator (a superuser, or a role with "
                              "CREATEDB and CREATEROLE).");
    return QString();
}

bool roleExists(QSqlDatabase &db, const QString &role, QString *problem, bool *exists)
{
    const std::optional<QVariant> found =
        value(db, QStringLiteral("SELECT 1 FROM pg_roles WHERE rolname = ?"), {role}, problem);
    if (!found)
        return false;
    *exists = found->isValid();
    return true;
}

bool ensureRole(QSqlDatabase &db, const QString &role, const QString &what, QStringList *done, QString *problem)
{
    bool exists = false;
    if (!roleExists(db, role, problem, &exists))
        return false;
    if (exists)
        return true;
    if (!run(db, QStringLiteral("CREATE ROLE %I NOLOGIN"), {role}, problem))
        return false;
    done->append(QStringLiteral("made the role %1, %2").arg(role, what));
    return true;
}

// Sessions of `role` that are open now end, so that a removed operator or
// an old password is refused at once, not at the next log-in.
bool endSessions(QSqlDatabase &db, const QString &role, QString *problem)
{
    return value(db,
                 QStringLiteral("SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE usename = ? "
                                "AND pid <> pg_backend_pid()"),
                 {role}, problem)
        .has_value();
}

bool scram(QSqlDatabase &db, QString *problem)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SET password_encryption = 'scram-sha-256'"))) {
        *problem = driverText(query);
        return false;
    }
    return true;
}

// The page's role reads the page's views and nothing else; granted here
// too for a schema made before the role was.
bool grantWebViews(QSqlDatabase &club, QString *problem)
{
    const std::optional<QVariant> schema = value(club, QStringLiteral("SELECT current_schema()"), {}, problem);
    return schema
           && run(club,
                  QStringLiteral("GRANT SELECT ON trelvin_web_entry, trelvin_web_net, trelvin_web_place, "
                                 "trelvin_web_club TO %I"),
                  {QString::fromLatin1(WebRole)}, problem)
           && run(club, QStringLiteral("GRANT USAGE ON SCHEMA %I TO %I"),
                  {schema->toString(), QString::fromLatin1(WebRole)}, problem);
}

} // namespace

Result ensureClub(QSqlDatabase &admin, const QString &database)
{
    QStringList done;
    QString problem;
    const QString owner = QString::fromLatin1(OwnerRole);
    if (!ensureRole(admin, owner, QStringLiteral("owner of the club's database and tables"), &done, &problem)
        || !ensureRole(admin, QString::fromLatin1(MemberRole),
                       QStringLiteral("the operators' group: they add to and read the journal"), &done, &problem)
        || !ensureRole(admin, QString::fromLatin1(WebRole), QStringLiteral("the live net page's, which only reads"),
                       &done, &problem))
        return failed("The club's roles could not be made: " + problem + rightsHint(problem), done);

    // An administrator that is no superuser acts as the owner by being in
    // its role.
    const std::optional<QVariant> member =
        value(admin, QStringLiteral("SELECT pg_has_role(current_user, ?, 'MEMBER')"), {owner}, &problem);
    if (!member)
        return failed("The club's roles could not be read: " + problem, done);
    if (!member->toBool()) {
        if (!run(admin, QStringLiteral("GRANT %I TO CURRENT_USER"), {owner}, &problem))
            return failed("The administrator could not join the owner's role: " + problem + rightsHint(problem), done);
        done.append(QStringLiteral("made the administrator a member of %1").arg(owner));
    }

    const std::optional<QVariant> dbOwner =
        value(admin, QStringLiteral("SELECT pg_get_userbyid(datdba) FROM pg_database WHERE datname = ?"), {database},
              &problem);
    if (!dbOwner)
        return failed("The server's databases could not be read: " + problem, done);
    if (dbOwner->isValid()) {
        if (dbOwner->toString() != owner)
            return failed(QStringLiteral("The database %1 exists and belongs to %2, not %3. Give the club another "
                                         "database with --database, or, if this one is the club's, run: "
                                         "ALTER DATABASE %1 OWNER TO %3")
                              .arg(database, dbOwner->toString(), owner),
                          done);
        return Result{true, QString(), done};
    }
    if (!run(admin, QStringLiteral("CREATE DATABASE %I OWNER %I ENCODING 'UTF8' TEMPLATE template0"), {database, owner},
             &problem))
        return failed("The club's database could not be made: " + problem + rightsHint(problem), done);
    done.append(QStringLiteral("made the database %1, owned by %2").arg(database, owner));
    // Only the club's roles reach it.
    if (!run(admin, QStringLiteral("REVOKE ALL ON DATABASE %I FROM PUBLIC"), {database}, &problem)
        || !run(admin, QStringLiteral("GRANT CONNECT ON DATABASE %I TO %I, %I"),
                {database, QString::fromLatin1(MemberRole), QString::fromLatin1(WebRole)}, &problem))
        return failed("The club's database's rights could not be set: " + problem, done);
    return Result{true, QString(), done};
}

Result ensureSchema(QSqlDatabase &club)
{
    const ServerSchema::Outcome outcome = ServerSchema::prepare(club);
    if (!outcome.ok)
        return failed(outcome.problem);
    QString problem;
    if (!grantWebViews(club, &problem))
        return failed("The live net page's role could not be given its views: " + problem + rightsHint(problem));
    Result result{true, QString(), {}};
    if (outcome.version < ServerSchema::Version)
        result.done.append(QStringLiteral("brought the club's tables from version %1 to %2")
                               .arg(outcome.version)
                               .arg(ServerSchema::Version));
    return result;
}

Result addOperator(QSqlDatabase &admin, const QString &role, const QString &password)
{
    QString problem;
    bool exists = false;
    if (!roleExists(admin, role, &problem, &exists))
        return failed("The server's roles could not be read: " + problem);
    if (exists)
        return failed(QStringLiteral("%1 already has a log-in on this server. For a new link, run: "
                                     "trelvin-club rotate %1")
                          .arg(role));
    if (!scram(admin, &problem)
        || !run(admin, QStringLiteral("CREATE ROLE %I LOGIN PASSWORD %L IN ROLE %I"),
                {role, password, QString::fromLatin1(MemberRole)}, &problem))
        return failed("The operator's log-in could not be made: " + problem + rightsHint(problem));
    qCInfo(lcSync) << "Club server: operator" << role << "added";
    return Result{true, QString(), {QStringLiteral("made the log-in %1 in %2").arg(role, QLatin1String(MemberRole))}};
}

Result setFacts(QSqlDatabase &club, const QList<QPair<QString, QString>> &facts)
{
    QStringList done;
    for (const auto &[key, text] : facts) {
        QSqlQuery query(club);
        query.prepare(QStringLiteral("INSERT INTO trelvin_meta (key, value) VALUES (?, ?) ON CONFLICT (key) DO UPDATE "
                                     "SET value = EXCLUDED.value WHERE trelvin_meta.value <> EXCLUDED.value"));
        query.addBindValue(QStringLiteral("club_") + key);
        query.addBindValue(text);
        if (!query.exec())
            return failed("The club's settings could not be kept on the server: " + driverText(query), done);
        if (query.numRowsAffected() > 0)
            done.append(
                QStringLiteral("noted the club's %1: %2").arg(key, text.isEmpty() ? QStringLiteral("none") : text));
    }
    return Result{true, QString(), done};
}

std::optional<QHash<QString, QString>> facts(QSqlDatabase &club, QString *problem)
{
    QSqlQuery query(club);
    if (!query.exec(QStringLiteral("SELECT key, value FROM trelvin_meta WHERE key LIKE 'club\\_%'"))) {
        *problem = driverText(query);
        return std::nullopt;
    }
    QHash<QString, QString> found;
    while (query.next())
        found.insert(query.value(0).toString().mid(5), query.value(1).toString());
    return found;
}

std::optional<QHash<QString, QString>> serverSettings(QSqlDatabase &admin, const QStringList &names, QString *problem)
{
    QHash<QString, QString> found;
    for (const QString &name : names) {
        const std::optional<QVariant> setting =
            value(admin, QStringLiteral("SELECT current_setting(?)"), {name}, problem);
        if (!setting)
            return std::nullopt;
        found.insert(name, setting->toString());
    }
    return found;
}

Result alterSystem(QSqlDatabase &admin, const QList<QPair<QString, QString>> &settings, QStringList *restartNeeded)
{
    QStringList done;
    QString problem;
    for (const auto &[name, wanted] : settings) {
        QSqlQuery query(admin);
        // What the server will use after a reload or restart, not only now.
        query.prepare(QStringLiteral("SELECT coalesce((SELECT setting FROM pg_file_settings WHERE name = ? "
                                     "ORDER BY seqno DESC LIMIT 1), current_setting(?)), "
                                     "(SELECT context FROM pg_settings WHERE name = ?)"));
        query.addBindValue(name);
        query.addBindValue(name);
        query.addBindValue(name);
        if (!query.exec() || !query.next())
            return failed("The server's settings could not be read: " + driverText(query), done);
        if (query.value(0).toString() == wanted)
            continue;
        const bool restart = query.value(1).toString() == QLatin1String("postmaster");
        if (!run(admin, QStringLiteral("ALTER SYSTEM SET %I = %L"), {name, wanted}, &problem))
            return failed("The server's setting " + name + " could not be changed: " + problem + rightsHint(problem),
                          done);
        done.append(QStringLiteral("set %1 = '%2'").arg(name, wanted));
        if (restart && restartNeeded)
            restartNeeded->append(name);
    }
    if (!done.isEmpty() && !value(admin, QStringLiteral("SELECT pg_reload_conf()"), {}, &problem))
        return failed("The server did not reload its settings: " + problem, done);
    return Result{true, QString(), done};
}

std::optional<QStringList> pendingRestart(QSqlDatabase &admin, QString *problem)
{
    QSqlQuery query(admin);
    if (!query.exec(QStringLiteral("SELECT name FROM pg_settings WHERE pending_restart ORDER BY name"))) {
        *problem = driverText(query);
        return std::nullopt;
    }
    QStringList names;
    while (query.next())
        names.append(query.value(0).toString());
    return names;
}

Result reload(QSqlDatabase &admin)
{
    QString problem;
    if (!value(admin, QStringLiteral("SELECT pg_reload_conf()"), {}, &problem))
        return failed("The server did not reload its settings: " + problem + rightsHint(problem));
    return Result{true, QString(), {}};
}

std::optional<bool> isOperator(QSqlDatabase &admin, const QString &role, QString *problem)
{
    const std::optional<QVariant> found =
        value(admin,
              QStringLiteral("SELECT 1 FROM pg_auth_members m JOIN pg_roles r ON r.oid = m.member "
                             "WHERE r.rolname = ? AND m.roleid = (SELECT oid FROM pg_roles WHERE rolname = ?)"),
              {role, QString::fromLatin1(MemberRole)}, problem);
    if (!found)
        return std::nullopt;
    return found->isValid();
}

Result removeOperator(QSqlDatabase &admin, const QString &role)
{
    QString problem;
    const std::optional<bool> known = isOperator(admin, role, &problem);
    if (!known)
        return failed("The server's roles could not be read: " + problem);
    if (!*known)
        return failed(QStringLiteral("%1 is not an operator of this club (trelvin-club list shows them).").arg(role));
    if (!run(admin, QStringLiteral("ALTER ROLE %I NOLOGIN"), {role}, &problem) || !endSessions(admin, role, &problem))
        return failed("The operator's log-in could not be closed: " + problem + rightsHint(problem));
    return Result{true, QString(), {QStringLiteral("closed the log-in %1; its changes stay on the server").arg(role)}};
}

Result rotate(QSqlDatabase &admin, const QString &role, const QString &password)
{
    QString problem;
    const std::optional<bool> known = isOperator(admin, role, &problem);
    if (!known)
        return failed("The server's roles could not be read: " + problem);
    if (!*known)
        return failed(QStringLiteral("%1 is not an operator of this club. To add it, run: trelvin-club add-operator %1")
                          .arg(role));
    if (!scram(admin, &problem)
        || !run(admin, QStringLiteral("ALTER ROLE %I LOGIN PASSWORD %L"), {role, password}, &problem)
        || !endSessions(admin, role, &problem))
        return failed("The operator's password could not be changed: " + problem + rightsHint(problem));
    return Result{true, QString(), {QStringLiteral("gave %1 a new password; the old link no longer works").arg(role)}};
}

Result webLogin(QSqlDatabase &admin, const QString &password)
{
    QString problem;
    const QString role = QString::fromLatin1(WebRole);
    bool exists = false;
    if (!roleExists(admin, role, &problem, &exists))
        return failed("The server's roles could not be read: " + problem);
    if (!exists)
        return failed(QStringLiteral("This server has no club yet. Run first: trelvin-club init --club <name>"));
    if (!grantWebViews(admin, &problem))
        return failed("The live net page's role could not be given its views: " + problem + rightsHint(problem));
    if (!scram(admin, &problem)
        || !run(admin, QStringLiteral("ALTER ROLE %I LOGIN PASSWORD %L"), {role, password}, &problem)
        || !endSessions(admin, role, &problem))
        return failed("The web page's log-in could not be set: " + problem + rightsHint(problem));
    return Result{true, QString(), {QStringLiteral("gave %1 a new password").arg(role)}};
}

std::optional<QList<Operator>> operators(QSqlDatabase &club, QString *problem)
{
    QSqlQuery query(club);
    query.prepare(QStringLiteral(
        "SELECT r.rolname, r.rolcanlogin, (SELECT max(c.received) FROM trelvin_change c WHERE c.writer = r.rolname) "
        "FROM pg_auth_members m JOIN pg_roles r ON r.oid = m.member "
        "WHERE m.roleid = (SELECT oid FROM pg_roles WHERE rolname = ?) ORDER BY r.rolname"));
    query.addBindValue(QString::fromLatin1(MemberRole));
    if (!query.exec()) {
        *problem = driverText(query);
        return std::nullopt;
    }
    QList<Operator> found;
    while (query.next()) {
        Operator op;
        op.role = query.value(0).toString();
        op.canLogIn = query.value(1).toBool();
        if (!query.value(2).isNull())
            op.lastChange = query.value(2).toDateTime().toUTC();
        found.append(op);
    }
    return found;
}

std::optional<Status> status(QSqlDatabase &club, QString *problem)
{
    Status s;
    const std::optional<QVariant> version =
        value(club, QStringLiteral("SELECT value FROM trelvin_meta WHERE key = 'schema'"), {}, problem);
    if (!version)
        return std::nullopt;
    s.schemaVersion = version->toInt();
    const std::optional<QList<Operator>> ops = operators(club, problem);
    if (!ops)
        return std::nullopt;
    s.operators = int(ops->size());
    for (const Operator &op : *ops)
        s.operatorsLoggingIn += op.canLogIn ? 1 : 0;
    QSqlQuery query(club);
    if (!query.exec(QStringLiteral("SELECT count(*) FILTER (WHERE received > now() - interval '1 hour'), count(*) "
                                   "FROM trelvin_change"))
        || !query.next()) {
        *problem = driverText(query);
        return std::nullopt;
    }
    s.changesLastHour = query.value(0).toLongLong();
    s.changesTotal = query.value(1).toLongLong();
    // Each program numbers its changes one after another.
    if (!query.exec(
            QStringLiteral("SELECT origin, oseq, next, writer, received FROM (SELECT origin, oseq, writer, received, "
                           "lead(oseq) OVER (PARTITION BY origin ORDER BY oseq) AS next FROM trelvin_change) g "
                           "WHERE next > oseq + 1 ORDER BY received LIMIT 1"))) {
        *problem = driverText(query);
        return std::nullopt;
    }
    if (query.next())
        s.oldestGap = QStringLiteral("%1's program %2 skipped changes %3 to %4 after %5 UTC")
                          .arg(query.value(3).toString(), query.value(0).toString().left(8))
                          .arg(query.value(1).toLongLong() + 1)
                          .arg(query.value(2).toLongLong() - 1)
                          .arg(query.value(4).toDateTime().toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm")));
    return s;
}

} // namespace ServerAdmin
