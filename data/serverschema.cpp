#include "data/serverschema.h"

#include "app/logging.h"

#include <QList>
#include <QPair>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace ServerSchema {
namespace {

// Version 3's second half: the server's own numbering, the owner's rights,
// and what the members may do.
QStringList migrationTo3Rights()
{
    return {
        // The server numbers the changes in the order they arrive, one
        // writer at a time so that the numbers become visible in order,
        // and records who wrote each and when; nothing a client sends
        // for these counts.
        QStringLiteral("CREATE FUNCTION trelvin_change_stamp() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                       "PERFORM pg_advisory_xact_lock(8388065562924318834); "
                       "NEW.seq := nextval(pg_get_serial_sequence('trelvin_change', 'seq')); "
                       "NEW.writer := current_user; NEW.received := statement_timestamp(); RETURN NEW; END $$"),
        QStringLiteral("CREATE TRIGGER trelvin_change_stamp BEFORE INSERT ON trelvin_change "
                       "FOR EACH ROW EXECUTE FUNCTION trelvin_change_stamp()"),
        // Only the owner rewrites: a member's rights may be granted wrongly.
        QStringLiteral("CREATE FUNCTION trelvin_owner_only() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                       "IF NOT pg_has_role(current_user, (SELECT relowner FROM pg_class WHERE oid = TG_RELID), "
                       "'MEMBER') THEN RAISE EXCEPTION '% on % is the owner''s only, not %''s', TG_OP, "
                       "TG_TABLE_NAME, current_user USING ERRCODE = 'insufficient_privilege'; END IF; "
                       "RETURN NULL; END $$"),
        QStringLiteral("CREATE TRIGGER trelvin_change_kept BEFORE UPDATE OR DELETE OR TRUNCATE ON trelvin_change "
                       "FOR EACH STATEMENT EXECUTE FUNCTION trelvin_owner_only()"),
        QStringLiteral("CREATE TRIGGER trelvin_net_kept BEFORE INSERT OR UPDATE OR DELETE OR TRUNCATE ON "
                       "trelvin_net FOR EACH STATEMENT EXECUTE FUNCTION trelvin_owner_only()"),
        // The net table changes through these, as its owner.
        QStringLiteral("CREATE FUNCTION trelvin_net_open(net text, started timestamptz, ncs text, origin text) "
                       "RETURNS void LANGUAGE sql SECURITY DEFINER AS $$ INSERT INTO trelvin_net "
                       "(id, started, ncs, origin) VALUES (net, started, ncs, origin) ON CONFLICT (id) DO UPDATE "
                       "SET started = EXCLUDED.started, ncs = EXCLUDED.ncs, origin = EXCLUDED.origin "
                       "WHERE trelvin_net.ncs = '' $$"),
        QStringLiteral("CREATE FUNCTION trelvin_net_keep(net text, started timestamptz, origin text) "
                       "RETURNS void LANGUAGE sql SECURITY DEFINER AS $$ INSERT INTO trelvin_net "
                       "(id, started, ncs, origin) VALUES (net, started, '', origin) ON CONFLICT (id) DO NOTHING $$"),
        QStringLiteral("REVOKE ALL ON trelvin_meta, trelvin_net, trelvin_change FROM PUBLIC"),
        QStringLiteral("REVOKE ALL ON FUNCTION trelvin_net_open(text, timestamptz, text, text), "
                       "trelvin_net_keep(text, timestamptz, text) FROM PUBLIC"),
        QStringLiteral("GRANT SELECT ON trelvin_meta, trelvin_net TO trelvin_member"),
        QStringLiteral("GRANT SELECT, INSERT ON trelvin_change TO trelvin_member"),
        QStringLiteral("GRANT EXECUTE ON FUNCTION trelvin_net_open(text, timestamptz, text, text), "
                       "trelvin_net_keep(text, timestamptz, text) TO trelvin_member"),
        // Names that depend on the schema the tables are in; a function
        // run as the owner looks nowhere else.
        QStringLiteral("DO $$ BEGIN "
                       "EXECUTE format('GRANT USAGE ON SCHEMA %I TO trelvin_member', current_schema()); "
                       "EXECUTE format('GRANT USAGE ON SEQUENCE %s TO trelvin_member', "
                       "pg_get_serial_sequence('trelvin_change', 'seq')); "
                       "EXECUTE format('ALTER FUNCTION trelvin_net_open(text, timestamptz, text, text) "
                       "SET search_path = %I, pg_temp', current_schema()); "
                       "EXECUTE format('ALTER FUNCTION trelvin_net_keep(text, timestamptz, text) "
                       "SET search_path = %I, pg_temp', current_schema()); END $$"),
    };
}

// The first tables: nets and their changes, with a notification per
// statement.
QStringList migrationTo1()
{
    return {
        QStringLiteral("CREATE TABLE trelvin_meta (key text PRIMARY KEY, value text NOT NULL)"),
        QStringLiteral("CREATE TABLE trelvin_net (id text PRIMARY KEY CHECK (id ~ '^[0-9a-f]{32}$'), "
                       "started timestamptz NOT NULL, ncs text NOT NULL, origin text NOT NULL, "
                       "closed timestamptz)"),
        QStringLiteral("CREATE TABLE trelvin_change (seq bigserial PRIMARY KEY, "
                       "id text NOT NULL UNIQUE CHECK (id ~ '^[0-9a-f]{32}$'), "
                       "net text NOT NULL REFERENCES trelvin_net (id), origin text NOT NULL, "
                       "oseq bigint NOT NULL, kind text NOT NULL, call text NOT NULL, "
                       "status integer NOT NULL, name text, city text, state text, comment text, relay text, "
                       "entered text, logged boolean NOT NULL, logdate text, logtime text, logstatus text, "
                       "made timestamptz NOT NULL, received timestamptz NOT NULL DEFAULT now())"),
        QStringLiteral("CREATE INDEX trelvin_change_entry ON trelvin_change (net, call)"),
        // One notification per statement: a backlog of a thousand changes
        // wakes the other programs once.
        QStringLiteral("CREATE FUNCTION trelvin_changed() RETURNS trigger LANGUAGE plpgsql AS $$ "
                       "BEGIN PERFORM pg_notify('trelvin', TG_TABLE_NAME); RETURN NULL; END $$"),
        QStringLiteral("CREATE TRIGGER trelvin_change_notify AFTER INSERT ON trelvin_change "
                       "FOR EACH STATEMENT EXECUTE FUNCTION trelvin_changed()"),
        QStringLiteral("CREATE TRIGGER trelvin_net_notify AFTER INSERT OR UPDATE ON trelvin_net "
                       "FOR EACH STATEMENT EXECUTE FUNCTION trelvin_changed()"),
    };
}

// Contacts and the roster travel too: their changes belong to no net
// and carry their values in data.
QStringList migrationTo2()
{
    return {
        QStringLiteral("ALTER TABLE trelvin_change ALTER COLUMN net DROP NOT NULL"),
        QStringLiteral("ALTER TABLE trelvin_change ADD COLUMN data text"),
        QStringLiteral("ALTER TABLE trelvin_change ADD CONSTRAINT trelvin_change_place CHECK "
                       "((net IS NULL) = (kind IN ('contact', 'uncontact', 'member', 'nonmember')))"),
    };
}

// The server keeps the club's rules: the limits every program checks,
// an order of its own, and a journal that members may add to and read
// but never rewrite. Rows of older programs stay as they are
// (NOT VALID); the programs check every row they read.
QStringList migrationTo3()
{
    return QStringList{
               QStringLiteral(
                   "DO $$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'trelvin_member') THEN "
                   "BEGIN CREATE ROLE trelvin_member NOLOGIN; EXCEPTION WHEN insufficient_privilege THEN "
                   "RAISE EXCEPTION 'the club members'' role trelvin_member does not exist and % may not make "
                   "it; the server''s administrator makes it with: CREATE ROLE trelvin_member NOLOGIN', "
                   "current_user; END; END IF; END $$"),
               QStringLiteral("ALTER TABLE trelvin_change ADD COLUMN writer text"),
               QStringLiteral("ALTER TABLE trelvin_change ALTER COLUMN writer SET DEFAULT current_user"),
               QStringLiteral(
                   "ALTER TABLE trelvin_change ADD CONSTRAINT trelvin_change_values CHECK ("
                   "kind IN ('net', 'entry', 'remove', 'close', 'contact', 'uncontact', 'member', 'nonmember') "
                   "AND origin ~ '^[0-9a-f]{32}$' AND oseq >= 0 "
                   "AND char_length(call) <= 16 AND call ~ '^[A-Za-z0-9/]*$' AND (call <> '' OR kind IN ('net', "
                   "'close')) "
                   "AND status BETWEEN 0 AND 1023 "
                   "AND char_length(coalesce(name, '')) <= 15 AND char_length(coalesce(city, '')) <= 20 "
                   "AND char_length(coalesce(state, '')) <= 2 AND char_length(coalesce(comment, '')) <= 128 "
                   "AND coalesce(name, '') || coalesce(city, '') || coalesce(state, '') || coalesce(comment, '') "
                   "!~ '[\x01-\x1f\x7f]' "
                   "AND coalesce(relay, '') ~ '^[A-Za-z0-9/]{0,16}$' "
                   "AND coalesce(entered, '') ~ '^(([01][0-9]|2[0-3]):[0-5][0-9])?$' "
                   "AND coalesce(logdate, '') ~ '^([0-9]{2}(0[1-9]|1[0-2])(0[1-9]|[12][0-9]|3[01]))?$' "
                   "AND coalesce(logtime, '') ~ '^(([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9])?$' "
                   "AND coalesce(logstatus, '') ~ '^[RTMSN-]?$' AND isfinite(made) "
                   "AND octet_length(coalesce(data, '')) <= 8192 "
                   "AND (data IS NULL OR kind IN ('contact', 'member', 'nonmember'))) NOT VALID"),
               QStringLiteral("ALTER TABLE trelvin_net ADD CONSTRAINT trelvin_net_values CHECK ("
                              "char_length(ncs) <= 16 AND ncs ~ '^[A-Za-z0-9/]*$' AND origin ~ '^[0-9a-f]{32}$' "
                              "AND isfinite(started)) NOT VALID"),
           }
           + migrationTo3Rights();
}

// The live net page's views: what the net list shows of each net, folded
// from the journal as the programs fold it (the latest entry or remove of a
// call wins), and nothing else: no comment, no contact's address, e-mail
// or telephone. The page's read-only role may select these and no table.
// Self-contained: another migration may be numbered before it.
QStringList migrationTo4()
{
    return {
        // One field of a contact's data; NULL for data that is no JSON array,
        // so that one bad row cannot fail the page's every read.
        QStringLiteral("CREATE FUNCTION trelvin_web_field(data text, k integer) RETURNS text LANGUAGE plpgsql "
                       "IMMUTABLE AS $$ BEGIN IF data IS NULL OR left(data, 1) <> '[' THEN RETURN NULL; END IF; "
                       "RETURN left((data::jsonb) ->> k, 64); EXCEPTION WHEN others THEN RETURN NULL; END $$"),
        QStringLiteral("CREATE INDEX trelvin_change_contact ON trelvin_change (call, seq) "
                       "WHERE kind IN ('contact', 'uncontact')"),
        // The list's order is the order in which the stations came in, since
        // they last left it; withdrawn: checked in once since then, not now.
        QStringLiteral(
            "CREATE VIEW trelvin_web_entry AS SELECT l.net, l.seq, l.id, l.origin, l.call, l.status, l.name, "
            "l.city, l.state, l.relay, l.entered, l.made, l.received, p.place, "
            "(p.ever AND l.status & 32 = 0) AS withdrawn FROM (SELECT DISTINCT ON (net, call) seq, id, net, "
            "origin, kind, call, status, name, city, state, relay, entered, made, received FROM trelvin_change "
            "WHERE kind IN ('entry', 'remove') ORDER BY net, call, seq DESC) l CROSS JOIN LATERAL (SELECT "
            "min(c.seq) AS place, coalesce(bool_or(c.status & 32 <> 0), false) AS ever FROM trelvin_change c "
            "WHERE c.net = l.net AND c.call = l.call AND c.kind = 'entry' AND c.seq > coalesce((SELECT "
            "max(r.seq) FROM trelvin_change r WHERE r.net = l.net AND r.call = l.call AND r.kind = 'remove'), "
            "0)) p WHERE l.kind = 'entry'"),
        QStringLiteral(
            "CREATE VIEW trelvin_web_net AS SELECT n.id, n.started, n.ncs, n.origin, (n.closed IS NOT NULL OR EXISTS "
            "(SELECT 1 FROM trelvin_change c WHERE c.net = n.id AND c.kind = 'close')) AS closed, "
            "coalesce(s.seq, 0) AS seq, s.received, coalesce(e.stations, 0) AS stations, coalesce(e.checkins, 0) "
            "AS checkins FROM trelvin_net n LEFT JOIN LATERAL (SELECT max(c.seq) AS seq, max(c.received) AS "
            "received FROM trelvin_change c WHERE c.net = n.id) s ON true LEFT JOIN LATERAL (SELECT count(*) AS "
            "stations, count(*) FILTER (WHERE w.status & 32 <> 0) AS checkins FROM trelvin_web_entry w "
            "WHERE w.net = n.id) e ON true"),
        // Where a station of some net is, as its contact has it: only the
        // coordinates and the ZIP code, which give the map its dot.
        QStringLiteral(
            "CREATE VIEW trelvin_web_place AS SELECT c.call, c.seq, trelvin_web_field(c.data, 12) AS lat, "
            "trelvin_web_field(c.data, 13) AS lon, left(trelvin_web_field(c.data, 8), 5) AS zip FROM (SELECT "
            "DISTINCT ON (call) call, kind, data, seq FROM trelvin_change WHERE kind IN ('contact', 'uncontact') "
            "ORDER BY call, seq DESC) c WHERE c.kind = 'contact' AND EXISTS (SELECT 1 FROM trelvin_change e "
            "WHERE e.call = c.call AND e.kind = 'entry')"),
        QStringLiteral("CREATE VIEW trelvin_web_club AS SELECT value AS club FROM trelvin_meta "
                       "WHERE key = 'club_club'"),
        // The role is trelvin-club's to make; a server set up by hand may
        // have none, and then the page is not served.
        QStringLiteral("DO $$ BEGIN IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'trelvin_web') THEN "
                       "GRANT SELECT ON trelvin_web_entry, trelvin_web_net, trelvin_web_place, trelvin_web_club "
                       "TO trelvin_web; "
                       "EXECUTE format('GRANT USAGE ON SCHEMA %I TO trelvin_web', current_schema()); END IF; END $$"),
    };
}

// Migration n brings the schema from version n-1 to n. Times are timestamptz,
// written and read in UTC.
const QList<QStringList> &migrations()
{
    static const QList<QStringList> all = {migrationTo1(), migrationTo2(), migrationTo3(), migrationTo4()};
    return all;
}

// The columns and types of the current version, as information_schema names them.
struct Table {
    const char *name;
    QList<QPair<const char *, const char *>> columns;
};
const QList<Table> &expectedTables()
{
    static const QList<Table> tables = {
        {"trelvin_meta", {{"key", "text"}, {"value", "text"}}},
        {"trelvin_net",
         {{"id", "text"},
          {"started", "timestamp with time zone"},
          {"ncs", "text"},
          {"origin", "text"},
          {"closed", "timestamp with time zone"}}},
        {"trelvin_change",
         {{"seq", "bigint"},
          {"id", "text"},
          {"net", "text"},
          {"origin", "text"},
          {"oseq", "bigint"},
          {"kind", "text"},
          {"call", "text"},
          {"status", "integer"},
          {"name", "text"},
          {"city", "text"},
          {"state", "text"},
          {"comment", "text"},
          {"relay", "text"},
          {"entered", "text"},
          {"logged", "boolean"},
          {"logdate", "text"},
          {"logtime", "text"},
          {"logstatus", "text"},
          {"made", "timestamp with time zone"},
          {"received", "timestamp with time zone"},
          {"data", "text"},
          {"writer", "text"}}},
    };
    return tables;
}

// Any number, the same in every program: migrations wait for each other.
const qint64 MigrationLock = 0x7472656c76696e;

Outcome failed(const QString &problem, int version = 0, bool refused = false)
{
    Outcome outcome;
    outcome.problem = problem;
    outcome.version = version;
    outcome.refused = refused;
    return outcome;
}

QString driverText(const QSqlQuery &query)
{
    return query.lastError().text().trimmed();
}

// The version recorded, 0 for an empty database, -1 with `problem` set for
// one this program cannot take.
int recordedVersion(QSqlDatabase &db, QString &problem, bool &refused)
{
    QSqlQuery query(db);
    if (!query.exec(
            QStringLiteral("SELECT to_regclass('trelvin_meta') IS NOT NULL, "
                           "to_regclass('trelvin_net') IS NOT NULL OR to_regclass('trelvin_change') IS NOT NULL"))
        || !query.next()) {
        problem = "The club server's schema could not be read: " + driverText(query);
        return -1;
    }
    const bool meta = query.value(0).toBool();
    const bool tables = query.value(1).toBool();
    if (!meta) {
        if (tables) {
            refused = true;
            problem = QStringLiteral("The club server's database holds Trelvin's tables without their version: "
                                     "they were not made by Trelvin and are not used.");
            return -1;
        }
        return 0;
    }
    if (!query.exec(QStringLiteral("SELECT value FROM trelvin_meta WHERE key = 'schema'"))) {
        problem = "The club server's schema version could not be read: " + driverText(query);
        return -1;
    }
    bool number = false;
    const int version = query.next() ? query.value(0).toString().toInt(&number) : 0;
    if (!number || version < 1) {
        refused = true;
        problem = QStringLiteral("The club server's schema version is not one Trelvin made; "
                                 "its tables are not used.");
        return -1;
    }
    return version;
}

// The tables as they stand, against those this version makes.
QString tableProblem(QSqlDatabase &db, bool &refused)
{
    refused = true;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT column_name, data_type FROM information_schema.columns "
                                 "WHERE table_schema = current_schema() AND table_name = ? ORDER BY ordinal_position"));
    for (const Table &table : expectedTables()) {
        query.addBindValue(QString::fromLatin1(table.name));
        if (!query.exec()) {
            refused = false;
            return "The club server's tables could not be read: " + driverText(query);
        }
        QStringList found, expected;
        while (query.next())
            found.append(query.value(0).toString() + ' ' + query.value(1).toString());
        for (const auto &column : table.columns)
            expected.append(QString::fromLatin1(column.first) + ' ' + QString::fromLatin1(column.second));
        if (found != expected)
            return QStringLiteral("The club server's table %1 is not as Trelvin makes it (found: %2); "
                                  "it is not used.")
                .arg(QString::fromLatin1(table.name), found.isEmpty() ? QStringLiteral("nothing") : found.join(", "));
    }
    // Without the notifying triggers nobody would see another's change.
    if (!query.exec(QStringLiteral("SELECT count(*) FROM pg_trigger t JOIN pg_class c ON c.oid = t.tgrelid "
                                   "WHERE NOT t.tgisinternal AND c.relnamespace = to_regnamespace(current_schema()) "
                                   "AND t.tgname IN ('trelvin_change_notify', 'trelvin_net_notify', "
                                   "'trelvin_change_stamp', 'trelvin_change_kept', 'trelvin_net_kept')"))
        || !query.next()) {
        refused = false;
        return "The club server's triggers could not be read: " + driverText(query);
    }
    if (query.value(0).toInt() != 5)
        return QStringLiteral("The club server's tables lack the triggers that tell the other programs of a "
                              "change; they are not used.");
    refused = false;
    return QString();
}

} // namespace

Outcome prepare(QSqlDatabase &db)
{
    int found = -1;
    for (int step = 0;; ++step) {
        if (!db.transaction())
            return failed("The club server refused a transaction: " + db.lastError().text().trimmed());
        QSqlQuery query(db);
        const auto abandon = [&](const QString &problem, int version) {
            db.rollback();
            return failed(problem, version);
        };
        query.prepare(QStringLiteral("SELECT pg_advisory_xact_lock(?)"));
        query.addBindValue(MigrationLock);
        if (!query.exec())
            return abandon("The club server's schema could not be locked: " + driverText(query), 0);
        QString problem;
        bool refused = false;
        const int version = recordedVersion(db, problem, refused);
        if (step == 0)
            found = version;
        if (version < 0) {
            db.rollback();
            return failed(problem, 0, refused);
        }
        if (version > Version) {
            db.rollback();
            return failed(QStringLiteral("The club server's schema is version %1, newer than this Trelvin "
                                         "knows (version %2). Update Trelvin on this computer to use it.")
                              .arg(version)
                              .arg(Version),
                          version, true);
        }
        if (version == Version) {
            db.rollback();
            break;
        }
        // Made as the database's owner when this operator may act as it, so
        // that every operator of the club may use what the first one made.
        if (!query.exec(QStringLiteral("SELECT quote_ident(pg_get_userbyid(datdba)), "
                                       "pg_has_role(current_user, datdba, 'MEMBER') AND current_user <> "
                                       "pg_get_userbyid(datdba) FROM pg_database WHERE datname = current_database()"))
            || !query.next())
            return abandon("The club server's database owner could not be read: " + driverText(query), version);
        if (query.value(1).toBool() && !query.exec("SET LOCAL ROLE " + query.value(0).toString()))
            return abandon("The club server refused to act as the database's owner: " + driverText(query), version);
        qCInfo(lcSync) << "Club server schema: migrating from version" << version << "to" << version + 1;
        for (const QString &statement : migrations().at(version)) {
            if (!query.exec(statement))
                return abandon(QStringLiteral("The club server's schema could not be brought to version %1: %2")
                                   .arg(version + 1)
                                   .arg(driverText(query)),
                               version);
        }
        query.prepare(QStringLiteral("INSERT INTO trelvin_meta (key, value) VALUES ('schema', ?) "
                                     "ON CONFLICT (key) DO UPDATE SET value = EXCLUDED.value"));
        query.addBindValue(QString::number(version + 1));
        if (!query.exec())
            return abandon("The club server's schema version could not be written: " + driverText(query), version);
        if (!db.commit())
            return failed("The club server's schema could not be committed: " + db.lastError().text().trimmed(),
                          version);
    }
    bool refused = false;
    const QString problem = tableProblem(db, refused);
    if (!problem.isEmpty())
        return failed(problem, found, refused);
    Outcome outcome;
    outcome.ok = true;
    outcome.version = found;
    return outcome;
}

} // namespace ServerSchema
