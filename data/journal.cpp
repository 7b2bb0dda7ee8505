// Storage's share of the club server: the journal of the net list's changes
// in Contacts.db, and the other programs' changes applied to the list.
#include "data/storage.h"

#include "checkin/netrules.h"
#include "data/schema.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

using Result = Storage::Result;

// Made in Contacts.db when the club server is first used; the file is left
// as it is while it is not.
const char *const JournalTables[] = {
    "CREATE TABLE IF NOT EXISTS journal (seq INTEGER PRIMARY KEY NOT NULL, id TEXT NOT NULL UNIQUE, "
    "net TEXT NOT NULL, origin TEXT NOT NULL, oseq INTEGER NOT NULL, kind TEXT NOT NULL, call TEXT NOT NULL, "
    "status INT, name TEXT, city TEXT, state TEXT, comment TEXT, relay TEXT, entered TEXT, logged INT, "
    "logdate TEXT, logtime TEXT, logstatus TEXT, made TEXT NOT NULL, sent INT NOT NULL, data TEXT)",
    "CREATE INDEX IF NOT EXISTS journal_entry ON journal (net, call, made)",
    "CREATE INDEX IF NOT EXISTS journal_unsent ON journal (seq) WHERE sent = 0",
    "CREATE TABLE IF NOT EXISTS syncnet (id TEXT NOT NULL, started TEXT NOT NULL, ncs TEXT, origin TEXT)",
    "CREATE TABLE IF NOT EXISTS syncstate (key TEXT PRIMARY KEY NOT NULL, value TEXT)",
    "INSERT OR IGNORE INTO syncstate (key, value) VALUES ('client', lower(hex(randomblob(16))))",
    "INSERT OR IGNORE INTO syncstate (key, value) VALUES ('watermark', '0')",
};
// The server's place (seq) of each change it holds, in a table of its own
// so that older programs still read the journal. A change of this program
// without a place has not come back from the server yet.
const char PlaceTable[] = "CREATE TABLE IF NOT EXISTS syncplace (id TEXT PRIMARY KEY NOT NULL, seq INTEGER NOT NULL)";
// Changes journalled before places were kept are older than any to come.
const char PlacesBefore[] = "INSERT OR IGNORE INTO syncplace (id, seq) SELECT id, 0 FROM journal WHERE sent = 1 "
                            "OR origin <> (SELECT value FROM syncstate WHERE key = 'client')";
// The latest place among the changes that match the WHERE clause that follows;
// the first value bound is this program's id.
const char LatestPlace[] = "SELECT max(CASE WHEN p.seq IS NOT NULL THEN p.seq WHEN j.origin = ? "
                           "THEN 9223372036854775807 ELSE 0 END) FROM journal j LEFT JOIN syncplace p ON p.id = j.id "
                           "WHERE ";

// The triggers live on this connection only (TEMP): another program on the
// same file, or this one without a club server, writes no journal. The
// flag in syncquiet keeps the other programs' changes, applied here, and
// the end of a run out of it.
// Its shift moves the journal's clock for the tests.
const char QuietTable[] =
    "CREATE TEMP TABLE IF NOT EXISTS syncquiet (quiet INT NOT NULL, shift TEXT NOT NULL DEFAULT '+0 seconds')";
const char Now[] = "strftime('%Y-%m-%dT%H:%M:%fZ', 'now', (SELECT shift FROM syncquiet))";
const char Uuid[] = "lower(hex(randomblob(16)))";
const char Client[] = "(SELECT value FROM syncstate WHERE key = 'client')";
// A row of this program is placed by its seq; oseq is the origin's place of another program's row.
const char NextPlace[] = "0";
const char Columns[] = "(id, net, origin, oseq, kind, call, status, name, city, state, comment, relay, entered, "
                       "logged, logdate, logtime, logstatus, made, sent)";
// The stored fields of a contact, as a contact change carries them.
const char ContactFields[] = "call, name, last, class, expire, address, city, state, zip, country, email, phone, "
                             "lat, lon, grid, source, utc, dst, born";
// A journal row outside any net: everything a net entry has stays empty.
const char OutsideNet[] = "INSERT INTO journal (id, net, origin, oseq, kind, call, status, name, city, state, comment, "
                          "relay, entered, logged, logdate, logtime, logstatus, made, sent, data) ";

// A journal row with the state of the entry `row` (NEW, OLD or a table's alias).
QString entryRow(const QString &row, const QString &kind)
{
    return QStringLiteral("INSERT INTO journal %1 SELECT %2, s.id, %3, %4, '%5', %6.call, %6.status, %6.name, %6.city, "
                          "%6.state, %6.comment, %6.relay, %6.time, l.id IS NOT NULL, l.date, l.time, l.status, %7, 0 "
                          "FROM syncnet s LEFT JOIN log l ON l.id = %6.logId AND %6.logId <> 0;")
        .arg(QLatin1String(Columns), QLatin1String(Uuid), QLatin1String(Client), QLatin1String(NextPlace), kind,
             row, QLatin1String(Now));
}

QStringList triggers()
{
    const QString loud = QStringLiteral("(SELECT quiet FROM syncquiet) = 0");
    // The first entry stored outside a shared net starts one. An entry of
    // a list begun before the club server was set up is sent once it changes.
    const QString insert =
        QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS journal_insert AFTER INSERT ON net WHEN %1 BEGIN "
                       "INSERT INTO syncnet (id, started, ncs, origin) SELECT %2, %3, "
                       "COALESCE((SELECT call FROM station LIMIT 1), ''), %4 WHERE NOT EXISTS (SELECT 1 FROM syncnet); "
                       "INSERT INTO journal %5 SELECT %2, s.id, %4, %6, 'net', s.ncs, 0, '', '', '', '', '', '', 0, "
                       "'', '', '', s.started, 0 FROM syncnet s WHERE NOT EXISTS (SELECT 1 FROM journal j "
                       "WHERE j.net = s.id); ")
            .arg(loud, QLatin1String(Uuid), QLatin1String(Now), QLatin1String(Client), QLatin1String(Columns),
                 QLatin1String(NextPlace))
        + entryRow(QStringLiteral("NEW"), QStringLiteral("entry")) + QStringLiteral(" END");
    const QString changed = QStringLiteral("(OLD.call IS NOT NEW.call OR OLD.status IS NOT NEW.status OR OLD.name IS NOT "
                                           "NEW.name OR OLD.city IS NOT NEW.city OR OLD.state IS NOT NEW.state OR "
                                           "OLD.comment IS NOT NEW.comment OR OLD.relay IS NOT NEW.relay OR OLD.logId "
                                           "IS NOT NEW.logId OR OLD.time IS NOT NEW.time)");
    // A call changed on an entry: the old call leaves the net.
    const QString update =
        QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS journal_update AFTER UPDATE ON net WHEN %1 AND %2 BEGIN ")
            .arg(loud, changed)
        + entryRow(QStringLiteral("OLD"), QStringLiteral("remove"))
              .replace(QLatin1String(" AND OLD.logId <> 0;"), QLatin1String(" AND OLD.logId <> 0 WHERE OLD.call IS NOT NEW.call;"))
        + entryRow(QStringLiteral("NEW"), QStringLiteral("entry")) + QStringLiteral(" END");
    const QString remove = QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS journal_delete AFTER DELETE ON net WHEN %1 "
                                          "BEGIN %2 END")
                               .arg(loud, entryRow(QStringLiteral("OLD"), QStringLiteral("remove")));
    // Contacts: their whole stored state travels, so the latest change of a
    // call is all another program needs.
    const auto contactRow = [](const QString &row, const QString &kind, const QString &condition) {
        QStringList values;
        for (const QString &field : QString::fromLatin1(ContactFields).split(QStringLiteral(", ")))
            values.append(row + '.' + field);
        const QString data = kind == QLatin1String("contact") ? "json_array(" + values.join(", ") + ')'
                                                              : QStringLiteral("NULL");
        return QStringLiteral("%1 SELECT %2, '', %3, %4, '%5', %6.call, 0, '', '', '', '', '', '', 0, '', '', '', "
                              "%7, 0, %8 WHERE %9;")
            .arg(QLatin1String(OutsideNet), QLatin1String(Uuid), QLatin1String(Client), QLatin1String(NextPlace),
                 kind, row, QLatin1String(Now), data, condition);
    };
    QStringList differs;
    for (const QString &field : QString::fromLatin1(ContactFields).split(QStringLiteral(", ")))
        differs.append(QStringLiteral("OLD.%1 IS NOT NEW.%1").arg(field));
    const QString named = QStringLiteral("COALESCE(%1.call, '') <> ''");
    const QString contactInsert =
        QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS journal_contact_insert AFTER INSERT ON contact WHEN %1 "
                       "BEGIN %2 END")
            .arg(loud, contactRow(QStringLiteral("NEW"), QStringLiteral("contact"), named.arg(QLatin1String("NEW"))));
    // A call changed on a contact: the old call's contact is gone.
    const QString contactUpdate =
        QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS journal_contact_update AFTER UPDATE ON contact WHEN %1 "
                       "AND (%2) BEGIN %3 %4 END")
            .arg(loud, differs.join(QLatin1String(" OR ")),
                 contactRow(QStringLiteral("OLD"), QStringLiteral("uncontact"),
                            named.arg(QLatin1String("OLD")) + QStringLiteral(" AND OLD.call IS NOT NEW.call")),
                 contactRow(QStringLiteral("NEW"), QStringLiteral("contact"), named.arg(QLatin1String("NEW"))));
    const QString contactDelete =
        QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS journal_contact_delete AFTER DELETE ON contact WHEN %1 "
                       "BEGIN %2 END")
            .arg(loud, contactRow(QStringLiteral("OLD"), QStringLiteral("uncontact"), named.arg(QLatin1String("OLD"))));
    return {insert, update, remove, contactInsert, contactUpdate, contactDelete};
}

// The columns of the journal's tables as made above: tables of another shape
// (a newer program's) would make every change of the list fail.
const char *const JournalColumns[][2] = {
    {"journal", "seq id net origin oseq kind call status name city state comment relay entered logged logdate "
                "logtime logstatus made sent data"},
    {"syncnet", "id started ncs origin"},
    {"syncstate", "key value"},
};

QString shapeProblem(const QSqlDatabase &db)
{
    for (const auto &table : JournalColumns) {
        QSqlQuery info(db);
        if (!info.exec(QStringLiteral("PRAGMA table_info(%1)").arg(QLatin1String(table[0]))))
            return info.lastError().text();
        QStringList columns;
        while (info.next())
            columns.append(info.value(1).toString());
        // The journal of the first club-server release lacks data: it gets it.
        if (columns.join(' ') + QLatin1String(" data") == QLatin1String(table[1])) {
            if (!info.exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN data TEXT").arg(QLatin1String(table[0]))))
                return info.lastError().text();
            continue;
        }
        if (!columns.isEmpty() && columns.join(' ') != QLatin1String(table[1]))
            return QStringLiteral("Table %1 of Contacts.db is not as this program makes it").arg(QLatin1String(table[0]));
    }
    return QString();
}

const char *const TriggerNames[] = {"journal_insert",         "journal_update",         "journal_delete",
                                     "journal_contact_insert", "journal_contact_update", "journal_contact_delete"};

bool exec(QSqlQuery &query, Result &result)
{
    if (query.exec())
        return true;
    result = Result::failed(Result::WriteFailed, query.lastError());
    return false;
}

bool exec(QSqlQuery &query, const QString &sql, Result &result)
{
    if (query.exec(sql))
        return true;
    result = Result::failed(Result::WriteFailed, query.lastError());
    return false;
}

// The journal's own seq is the change's place in this program's journal.
SyncChange changeFrom(const QSqlQuery &query)
{
    SyncChange change = syncChangeFrom(query, 1);
    change.oseq = query.value(0).toLongLong();
    return change;
}

} // namespace

Result Storage::setJournal(bool on)
{
    Result result;
    if (on == journalling || !fileDb.isOpen())
        return result;
    QSqlQuery query(fileDb);
    if (!on) {
        for (const char *name : TriggerNames)
            query.exec(QStringLiteral("DROP TRIGGER IF EXISTS temp.") + QLatin1String(name));
        journalling = false;
        return result;
    }
    const QString shape = shapeProblem(fileDb);
    if (!shape.isEmpty())
        return Result::failed(Result::WriteFailed, shape);
    inFile(result, [&]() -> bool {
        if (!exec(query, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'syncplace'"),
                  result))
            return false;
        const bool placed = query.next();
        query.finish();
        for (const char *sql : JournalTables) {
            if (!exec(query, QString::fromLatin1(sql), result))
                return false;
        }
        if (!exec(query, QString::fromLatin1(PlaceTable), result)
            || (!placed && !exec(query, QString::fromLatin1(PlacesBefore), result)))
            return false;
        if (!exec(query, QString::fromLatin1(QuietTable), result)
            || !exec(query, QStringLiteral("DELETE FROM syncquiet"), result)
            || !exec(query, QStringLiteral("INSERT INTO syncquiet (quiet) VALUES (0)"), result))
            return false;
        for (const QString &trigger : triggers()) {
            if (!exec(query, trigger, result))
                return false;
        }
        return true;
    });
    journalling = result.ok();
    return result;
}

QString Storage::syncClient() const
{
    QSqlQuery query(fileDb);
    if (!query.exec(QStringLiteral("SELECT value FROM syncstate WHERE key = 'client'")) || !query.next())
        return QString();
    return query.value(0).toString();
}

std::optional<SyncNet> Storage::sharedNet() const
{
    QSqlQuery query(fileDb);
    if (!journalling || !query.exec(QStringLiteral("SELECT id, started, ncs, origin FROM syncnet LIMIT 1"))
        || !query.next())
        return std::nullopt;
    SyncNet net;
    net.id = query.value(0).toString();
    net.started = query.value(1).toString();
    net.ncs = query.value(2).toString();
    net.origin = query.value(3).toString();
    return net;
}

Result Storage::joinNet(const SyncNet &net)
{
    Result result;
    inFile(result, [&]() -> bool {
        QSqlQuery query(fileDb);
        if (!exec(query, QStringLiteral("DELETE FROM syncnet"), result))
            return false;
        query.prepare(QStringLiteral("INSERT INTO syncnet (id, started, ncs, origin) VALUES (?, ?, ?, ?)"));
        for (const QString &value : {net.id, net.started, net.ncs, net.origin})
            query.addBindValue(value);
        return exec(query, result);
    });
    return result;
}

Result Storage::leaveNet()
{
    if (!journalling)
        return clearNet();
    Result result;
    inFile(result, [&]() -> bool {
        QSqlQuery query(fileDb);
        for (const char *sql : {"UPDATE syncquiet SET quiet = 1", "DELETE FROM net", "DELETE FROM netmark",
                                "DELETE FROM syncnet", "UPDATE syncquiet SET quiet = 0"}) {
            if (!exec(query, QString::fromLatin1(sql), result))
                return false;
        }
        return true;
    });
    return result;
}

QList<SyncChange> Storage::unsentChanges(int limit) const
{
    QList<SyncChange> changes;
    QSqlQuery query(fileDb);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT seq, id, net, origin, kind, call, status, name, city, state, comment, relay, "
                                 "entered, logged, logdate, logtime, logstatus, made, data FROM journal WHERE sent = 0 "
                                 "ORDER BY seq LIMIT ?"));
    query.addBindValue(limit);
    if (!journalling || !query.exec())
        return changes;
    while (query.next())
        changes.append(changeFrom(query));
    return changes;
}

int Storage::unsentCount() const
{
    QSqlQuery query(fileDb);
    if (!journalling || !query.exec(QStringLiteral("SELECT COUNT(*) FROM journal WHERE sent = 0")) || !query.next())
        return 0;
    return query.value(0).toInt();
}

Result Storage::markSent(qint64 upTo)
{
    Result result;
    QSqlQuery query(fileDb);
    query.prepare(QStringLiteral("UPDATE journal SET sent = 1 WHERE sent = 0 AND seq <= ?"));
    query.addBindValue(upTo);
    exec(query, result);
    return result;
}

Result Storage::markUnsendable(const QStringList &ids)
{
    Result result;
    if (ids.isEmpty())
        return result;
    inFile(result, [&]() -> bool {
        QSqlQuery query(fileDb);
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO syncplace (id, seq) VALUES (?, 0)"));
        for (const QString &id : ids) {
            query.addBindValue(id);
            if (!exec(query, result))
                return false;
        }
        return true;
    });
    return result;
}

Result Storage::setJournalClock(qint64 shiftSeconds)
{
    Result result;
    QSqlQuery query(fileDb);
    query.prepare(QStringLiteral("UPDATE syncquiet SET shift = ?"));
    query.addBindValue(QStringLiteral("%1%2 seconds").arg(shiftSeconds < 0 ? "" : "+").arg(shiftSeconds));
    exec(query, result);
    return result;
}

qint64 Storage::syncWatermark() const
{
    QSqlQuery query(fileDb);
    if (!journalling || !query.exec(QStringLiteral("SELECT value FROM syncstate WHERE key = 'watermark'"))
        || !query.next())
        return 0;
    return query.value(0).toLongLong();
}

Result Storage::applyChanges(const QList<SyncChange> &changes, qint64 watermark, bool *listChanged,
                             bool *rosterChanged)
{
    Result result;
    if (listChanged)
        *listChanged = false;
    if (rosterChanged)
        *rosterChanged = false;
    if (!journalling)
        return result;
    const QString client = syncClient();
    const std::optional<SyncNet> net = sharedNet();
    inFile(result, [&]() -> bool {
        QSqlQuery query(fileDb);
        if (!exec(query, QStringLiteral("UPDATE syncquiet SET quiet = 1"), result))
            return false;
        QSqlQuery keep(fileDb);
        keep.prepare(QStringLiteral("INSERT OR IGNORE INTO journal (id, net, origin, oseq, kind, call, status, name, "
                                    "city, state, comment, relay, entered, logged, logdate, logtime, logstatus, made, "
                                    "data, sent) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1)"));
        // The server's place of each change, this program's included: its
        // own changes become comparable as they come back.
        QSqlQuery place(fileDb);
        place.prepare(QStringLiteral("INSERT OR REPLACE INTO syncplace (id, seq) VALUES (?, ?)"));
        // The latest change of a contact, or of a call's place on one club's roster.
        QSqlQuery latestContact(fileDb);
        latestContact.prepare(QLatin1String(LatestPlace)
                              + QStringLiteral("j.net = '' AND j.call = ? AND j.kind IN ('contact', 'uncontact') "
                                               "AND j.id <> ?"));
        QSqlQuery latestMember(fileDb);
        latestMember.prepare(QLatin1String(LatestPlace)
                             + QStringLiteral("j.net = '' AND j.call = ? AND j.kind IN ('member', 'nonmember') "
                                              "AND j.data = ? AND j.id <> ?"));
        const QString rosterData = syncRosterData(rosterClub);
        // False with `result` set when the read failed; `newer` when this
        // program holds a later change than `change`.
        const auto readLatest = [&](QSqlQuery &latest, const SyncChange &change, bool &newer) {
            if (!latest.exec()) {
                result = Result::failed(Result::ReadFailed, latest.lastError());
                return false;
            }
            newer = latest.next() && !latest.value(0).isNull() && latest.value(0).toLongLong() > change.seq;
            latest.finish();
            return true;
        };
        QSqlQuery latest(fileDb);
        latest.prepare(QLatin1String(LatestPlace)
                       + QStringLiteral("j.net = ? AND j.call = ? AND j.kind IN ('entry', 'remove') AND j.id <> ?"));
        for (const SyncChange &change : changes) {
            place.addBindValue(change.id);
            place.addBindValue(change.seq);
            if (!exec(place, result))
                return false;
            // This program's own changes are in the journal and the list already.
            if (change.origin == client)
                continue;
            for (const QVariant &value :
                 {QVariant(change.id), QVariant(change.net.isNull() ? QStringLiteral("") : change.net),
                  QVariant(change.origin), QVariant(change.oseq),
                  QVariant(change.kind), QVariant(change.call), QVariant(change.status), QVariant(change.name),
                  QVariant(change.city), QVariant(change.state), QVariant(change.comment), QVariant(change.relay),
                  QVariant(change.time), QVariant(int(change.logged)), QVariant(change.logDate),
                  QVariant(change.logTime), QVariant(change.logStatus), QVariant(change.made),
                  change.data.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(change.data)})
                keep.addBindValue(value);
            if (!exec(keep, result))
                return false;
            if (change.kind == QLatin1String("contact") || change.kind == QLatin1String("uncontact")) {
                for (const QString &value : {client, change.call, change.id})
                    latestContact.addBindValue(value);
                bool newer = false;
                if (!readLatest(latestContact, change, newer))
                    return false;
                if (newer)
                    continue;
                if (change.kind == QLatin1String("uncontact")) {
                    if (!(result = removeContact(change.call)).ok())
                        return false;
                    continue;
                }
                QStringList fields;
                // A contact this program cannot read stays as it is here.
                if (!syncDataFields(change.data, Schema::ContactFields, fields) || fields.first() != change.call)
                    continue;
                Result read;
                const bool known = contactByCall(change.call, &read).has_value();
                if (!read.ok()) {
                    result = read;
                    return false;
                }
                if (!(result = writeContact(known, ContactRecord::fromValues(fields))).ok())
                    return false;
                continue;
            }
            if (change.kind == QLatin1String("member") || change.kind == QLatin1String("nonmember")) {
                // Another club's roster is not this one's.
                if (rosterClub.isEmpty() || change.data != rosterData)
                    continue;
                for (const QString &value : {client, change.call, rosterData, change.id})
                    latestMember.addBindValue(value);
                bool newer = false;
                if (!readLatest(latestMember, change, newer))
                    return false;
                const bool joins = change.kind == QLatin1String("member");
                if (newer || isMember(change.call) == joins)
                    continue;
                if (!(result = joins ? insertMember(change.call) : deleteMember(change.call)).ok())
                    return false;
                if (rosterChanged)
                    *rosterChanged = true;
                continue;
            }
            if (!net || change.net != net->id
                || (change.kind != QLatin1String("entry") && change.kind != QLatin1String("remove")))
                continue;
            latest.addBindValue(client);
            latest.addBindValue(change.net);
            latest.addBindValue(change.call);
            latest.addBindValue(change.id);
            bool newer = false;
            if (!readLatest(latest, change, newer))
                return false;
            if (newer)
                continue;
            if (listChanged)
                *listChanged = true;

            // The entry as this list holds it: one per call.
            QSqlQuery entry(fileDb);
            entry.prepare(QStringLiteral("SELECT id, logId FROM net WHERE call = ? ORDER BY id LIMIT 1"));
            entry.addBindValue(change.call);
            if (!entry.exec()) {
                result = Result::failed(Result::ReadFailed, entry.lastError());
                return false;
            }
            const bool listed = entry.next();
            const int entryId = listed ? entry.value(0).toInt() : 0;
            int logId = listed ? entry.value(1).toInt() : 0;

            QSqlQuery write(fileDb);
            if (change.kind == QLatin1String("remove")) {
                if (!listed)
                    continue;
                if (logId != 0) {
                    write.prepare(QStringLiteral("DELETE FROM log WHERE id = ?"));
                    write.addBindValue(logId);
                    if (!exec(write, result))
                        return false;
                }
                write.prepare(QStringLiteral("DELETE FROM net WHERE id = ?"));
                write.addBindValue(entryId);
                if (!exec(write, result))
                    return false;
                continue;
            }

            // The check-in as the other program logged it.
            const QString letter = change.logStatus.isEmpty() ? NetRules::logLetter(change.status) : change.logStatus;
            if (change.logged && logId != 0) {
                write.prepare(QStringLiteral("UPDATE log SET date = ?, time = ?, status = ?, call = ?, name = ?, "
                                             "relay = ?, city = ?, state = ?, comment = ? WHERE id = ?"));
            } else if (change.logged) {
                write.prepare(QStringLiteral("INSERT INTO log (date, time, status, call, name, relay, city, state, "
                                             "comment) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
            }
            if (change.logged) {
                for (const QString &value : {change.logDate, change.logTime, letter, change.call, change.name,
                                             change.relay, change.city, change.state, change.comment})
                    write.addBindValue(value);
                if (logId != 0)
                    write.addBindValue(logId);
                if (!exec(write, result))
                    return false;
                if (logId == 0)
                    logId = write.lastInsertId().toInt();
            } else if (logId != 0) {
                write.prepare(QStringLiteral("DELETE FROM log WHERE id = ?"));
                write.addBindValue(logId);
                if (!exec(write, result))
                    return false;
                logId = 0;
            }

            if (listed) {
                write.prepare(QStringLiteral("UPDATE net SET time = ?, name = ?, city = ?, state = ?, comment = ?, "
                                             "status = ?, relay = ?, logId = ? WHERE id = ?"));
                for (const QVariant &value : {QVariant(change.time), QVariant(change.name), QVariant(change.city),
                                              QVariant(change.state), QVariant(change.comment),
                                              QVariant(change.status), QVariant(change.relay), QVariant(logId),
                                              QVariant(entryId)})
                    write.addBindValue(value);
                if (!exec(write, result))
                    return false;
                continue;
            }
            // A station new to this list: its contact row as a check-in here
            // would make it, when the call is not known yet.
            QSqlQuery contact(fileDb);
            contact.prepare(QStringLiteral("SELECT id FROM contact WHERE call = ? LIMIT 1"));
            contact.addBindValue(change.call);
            if (!contact.exec()) {
                result = Result::failed(Result::ReadFailed, contact.lastError());
                return false;
            }
            qint64 conId = 0;
            if (contact.next()) {
                conId = contact.value(0).toLongLong();
            } else {
                ContactRecord record;
                record.call = change.call;
                record.name = change.name;
                record.city = change.city;
                record.state = change.state;
                if (!(result = writeContact(false, record)).ok())
                    return false;
                QSqlQuery id(fileDb);
                if (!id.exec(QStringLiteral("SELECT last_insert_rowid()")) || !id.next()) {
                    result = Result::failed(Result::ReadFailed, id.lastError());
                    return false;
                }
                conId = id.value(0).toLongLong();
            }
            write.prepare(QStringLiteral("INSERT INTO net (time, call, name, city, state, comment, conId, logId, "
                                         "status, relay, made) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
            for (const QVariant &value :
                 {QVariant(change.time), QVariant(change.call), QVariant(change.name), QVariant(change.city),
                  QVariant(change.state), QVariant(change.comment), QVariant(conId), QVariant(logId),
                  QVariant(change.status), QVariant(change.relay),
                  QVariant(QDateTime::fromString(change.made, Qt::ISODateWithMs).toLocalTime().toString(Qt::ISODate))})
                write.addBindValue(value);
            if (!exec(write, result))
                return false;
        }
        query.prepare(QStringLiteral("UPDATE syncstate SET value = ? WHERE key = 'watermark' AND CAST(value AS INTEGER) < ?"));
        query.addBindValue(QString::number(watermark));
        query.addBindValue(watermark);
        return exec(query, result) && exec(query, QStringLiteral("UPDATE syncquiet SET quiet = 0"), result);
    });
    return result;
}

Result Storage::journalRoster(const QStringList &before)
{
    if (!journalling)
        return Result();
    const QStringList now = memberCalls();
    const QSet<QString> was(before.cbegin(), before.cend());
    const QSet<QString> is(now.cbegin(), now.cend());
    QStringList joined, left;
    for (const QString &call : now) {
        if (!was.contains(call))
            joined.append(call);
    }
    for (const QString &call : before) {
        if (!is.contains(call))
            left.append(call);
    }
    return journalMembers(joined, left);
}

Result Storage::journalMembers(const QStringList &joined, const QStringList &left)
{
    Result result;
    if (!journalling || (joined.isEmpty() && left.isEmpty()))
        return result;
    inFile(result, [&]() -> bool {
        QSqlQuery insert(fileDb);
        insert.prepare(QLatin1String(OutsideNet)
                       + QStringLiteral("VALUES (%1, '', %2, %3, ?, ?, 0, '', '', '', '', '', '', 0, '', '', '', %4, 0, ?)")
                             .arg(QLatin1String(Uuid), QLatin1String(Client), QLatin1String(NextPlace),
                                  QLatin1String(Now)));
        const QString data = syncRosterData(rosterClub);
        for (const auto &[kind, calls] : {std::pair{"member", &joined}, std::pair{"nonmember", &left}}) {
            for (const QString &call : *calls) {
                insert.addBindValue(QString::fromLatin1(kind));
                insert.addBindValue(call);
                insert.addBindValue(data);
                if (!exec(insert, result))
                    return false;
            }
        }
        return true;
    });
    return result;
}
