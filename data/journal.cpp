// The club server's share of Contacts.db: the journal of the net list's changes
// in Contacts.db, and the other programs' changes applied to the list.
#include "data/journalstore.h"

#include "checkin/netrules.h"
#include "data/schema.h"
#include "sync/syncrecords.h"

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
// Its `at`, while a net logged on paper is entered, is the time the net's
// changes are made at instead of the clock's.
const char QuietTable[] = "CREATE TEMP TABLE IF NOT EXISTS syncquiet (quiet INT NOT NULL, shift TEXT NOT NULL "
                          "DEFAULT '+0 seconds', at TEXT)";
const char Now[] = "strftime('%Y-%m-%dT%H:%M:%fZ', 'now', (SELECT shift FROM syncquiet))";
const char NetNow[] =
    "COALESCE((SELECT at FROM syncquiet), strftime('%Y-%m-%dT%H:%M:%fZ', 'now', (SELECT shift FROM syncquiet)))";
// A net entered afterwards says so in its net change's comment, which
// programs that do not know the mark keep and ignore.
const char NetComment[] = "CASE WHEN (SELECT at FROM syncquiet) IS NULL THEN '' ELSE '%1' END";
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
        .arg(QLatin1String(Columns), QLatin1String(Uuid), QLatin1String(Client), QLatin1String(NextPlace), kind, row,
             QLatin1String(NetNow));
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
                       "INSERT INTO journal %5 SELECT %2, s.id, %4, %6, 'net', s.ncs, 0, '', '', '', %7, '', '', 0, "
                       "'', '', '', s.started, 0 FROM syncnet s WHERE NOT EXISTS (SELECT 1 FROM journal j "
                       "WHERE j.net = s.id); ")
            .arg(loud, QLatin1String(Uuid), QLatin1String(NetNow), QLatin1String(Client), QLatin1String(Columns),
                 QLatin1String(NextPlace), QString::fromLatin1(NetComment).arg(QLatin1String(SyncAfterwards)))
        + entryRow(QStringLiteral("NEW"), QStringLiteral("entry")) + QStringLiteral(" END");
    const QString changed =
        QStringLiteral("(OLD.call IS NOT NEW.call OR OLD.status IS NOT NEW.status OR OLD.name IS NOT "
                       "NEW.name OR OLD.city IS NOT NEW.city OR OLD.state IS NOT NEW.state OR "
                       "OLD.comment IS NOT NEW.comment OR OLD.relay IS NOT NEW.relay OR OLD.logId "
                       "IS NOT NEW.logId OR OLD.time IS NOT NEW.time)");
    // A call changed on an entry: the old call leaves the net.
    const QString update =
        QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS journal_update AFTER UPDATE ON net WHEN %1 AND %2 BEGIN ")
            .arg(loud, changed)
        + entryRow(QStringLiteral("OLD"), QStringLiteral("remove"))
              .replace(QLatin1String(" AND OLD.logId <> 0;"),
                       QLatin1String(" AND OLD.logId <> 0 WHERE OLD.call IS NOT NEW.call;"))
        + entryRow(QStringLiteral("NEW"), QStringLiteral("entry")) + QStringLiteral(" END");
    const QString remove =
        QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS journal_delete AFTER DELETE ON net WHEN %1 "
                       "BEGIN %2 END")
            .arg(loud, entryRow(QStringLiteral("OLD"), QStringLiteral("remove")));
    // Contacts: their whole stored state travels, so the latest change of a
    // call is all another program needs.
    const auto contactRow = [](const QString &row, const QString &kind, const QString &condition) {
        QStringList values;
        for (const QString &field : QString::fromLatin1(ContactFields).split(QStringLiteral(", ")))
            values.append(row + '.' + field);
        const QString data =
            kind == QLatin1String("contact") ? "json_array(" + values.join(", ") + ')' : QStringLiteral("NULL");
        return QStringLiteral("%1 SELECT %2, '', %3, %4, '%5', %6.call, 0, '', '', '', '', '', '', 0, '', '', '', "
                              "%7, 0, %8 WHERE %9;")
            .arg(QLatin1String(OutsideNet), QLatin1String(Uuid), QLatin1String(Client), QLatin1String(NextPlace), kind,
                 row, QLatin1String(Now), data, condition);
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
            return QStringLiteral("Table %1 of Contacts.db is not as this program makes it")
                .arg(QLatin1String(table[0]));
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

JournalStore::JournalStore(Storage &storage) : StorageFamily(storage)
{
}

JournalStore::~JournalStore() = default;

Result JournalStore::setJournal(bool on)
{
    Result result;
    if (on == owner.journalling || !fileDb.isOpen())
        return result;
    QSqlQuery query(fileDb);
    if (!on) {
        for (const char *name : TriggerNames)
            query.exec(QStringLiteral("DROP TRIGGER IF EXISTS temp.") + QLatin1String(name));
        owner.journalling = false;
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
        query.prepare(QStringLiteral("UPDATE syncquiet SET at = ?"));
        query.addBindValue(pastAt.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(pastAt));
        if (!exec(query, result))
            return false;
        for (const QString &trigger : triggers()) {
            if (!exec(query, trigger, result))
                return false;
        }
        return true;
    });
    owner.journalling = result.ok();
    return result;
}

QString JournalStore::syncClient() const
{
    QSqlQuery query(fileDb);
    if (!query.exec(QStringLiteral("SELECT value FROM syncstate WHERE key = 'client'")) || !query.next())
        return QString();
    return query.value(0).toString();
}

std::optional<SyncNet> JournalStore::sharedNet() const
{
    QSqlQuery query(fileDb);
    if (!owner.journalling || !query.exec(QStringLiteral("SELECT id, started, ncs, origin FROM syncnet LIMIT 1"))
        || !query.next())
        return std::nullopt;
    SyncNet net;
    net.id = query.value(0).toString();
    net.started = query.value(1).toString();
    net.ncs = query.value(2).toString();
    net.origin = query.value(3).toString();
    return net;
}

Result JournalStore::joinNet(const SyncNet &net)
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

Result JournalStore::leaveNet()
{
    if (!owner.journalling)
        return owner.netLog().clearNet();
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

QList<SyncChange> JournalStore::unsentChanges(int limit) const
{
    QList<SyncChange> changes;
    QSqlQuery query(fileDb);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT seq, id, net, origin, kind, call, status, name, city, state, comment, relay, "
                                 "entered, logged, logdate, logtime, logstatus, made, data FROM journal WHERE sent = 0 "
                                 "ORDER BY seq LIMIT ?"));
    query.addBindValue(limit);
    if (!owner.journalling || !query.exec())
        return changes;
    while (query.next())
        changes.append(changeFrom(query));
    return changes;
}

int JournalStore::unsentCount() const
{
    QSqlQuery query(fileDb);
    if (!owner.journalling || !query.exec(QStringLiteral("SELECT COUNT(*) FROM journal WHERE sent = 0"))
        || !query.next())
        return 0;
    return query.value(0).toInt();
}

Result JournalStore::markSent(qint64 upTo)
{
    Result result;
    QSqlQuery query(fileDb);
    query.prepare(QStringLiteral("UPDATE journal SET sent = 1 WHERE sent = 0 AND seq <= ?"));
    query.addBindValue(upTo);
    exec(query, result);
    return result;
}

Result JournalStore::markUnsendable(const QStringList &ids)
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

Result JournalStore::setJournalClock(qint64 shiftSeconds)
{
    Result result;
    QSqlQuery query(fileDb);
    query.prepare(QStringLiteral("UPDATE syncquiet SET shift = ?"));
    query.addBindValue(QStringLiteral("%1%2 seconds").arg(shiftSeconds < 0 ? "" : "+").arg(shiftSeconds));
    exec(query, result);
    return result;
}

Result JournalStore::setPastTime(const QDateTime &at)
{
    pastAt = at.isValid() ? at.toUTC().toString(Qt::ISODateWithMs) : QString();
    Result result;
    if (!owner.journalling)
        return result;
    QSqlQuery query(fileDb);
    query.prepare(QStringLiteral("UPDATE syncquiet SET at = ?"));
    query.addBindValue(pastAt.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(pastAt));
    exec(query, result);
    return result;
}

qint64 JournalStore::syncWatermark() const
{
    QSqlQuery query(fileDb);
    if (!owner.journalling || !query.exec(QStringLiteral("SELECT value FROM syncstate WHERE key = 'watermark'"))
        || !query.next())
        return 0;
    return query.value(0).toLongLong();
}

// One run of applyChanges: its statements, prepared once for all the
// changes, and what the changes touched.
struct JournalStore::Applying {
    Applying(const QSqlDatabase &db, Result &failure)
        : result(failure), keep(db), place(db), latestContact(db), latestMember(db), latestEntry(db)
    {
    }

    // False with `result` set when the read failed; `newer` when this
    // program holds a later change than `change`.
    bool readLatest(QSqlQuery &latest, const SyncChange &change, bool &newer)
    {
        if (!latest.exec()) {
            result = Result::failed(Result::ReadFailed, latest.lastError());
            return false;
        }
        newer = latest.next() && !latest.value(0).isNull() && latest.value(0).toLongLong() > change.seq;
        latest.finish();
        return true;
    }

    Result &result;
    QString client;
    std::optional<SyncNet> net;
    QString rosterData;
    QSqlQuery keep, place, latestContact, latestMember, latestEntry;
    bool listChanged = false;
    bool rosterChanged = false;
};

Result JournalStore::applyChanges(const QList<SyncChange> &changes, qint64 watermark, bool *listChanged,
                                  bool *rosterChanged)
{
    Result result;
    if (listChanged)
        *listChanged = false;
    if (rosterChanged)
        *rosterChanged = false;
    if (!owner.journalling)
        return result;
    Applying applying(fileDb, result);
    applying.client = syncClient();
    applying.net = sharedNet();
    inFile(result, [&]() -> bool { return applyAll(applying, changes, watermark); });
    if (listChanged)
        *listChanged = applying.listChanged;
    if (rosterChanged)
        *rosterChanged = applying.rosterChanged;
    return result;
}

bool JournalStore::applyAll(Applying &a, const QList<SyncChange> &changes, qint64 watermark)
{
    QSqlQuery query(fileDb);
    if (!exec(query, QStringLiteral("UPDATE syncquiet SET quiet = 1"), a.result))
        return false;
    a.keep.prepare(QStringLiteral("INSERT OR IGNORE INTO journal (id, net, origin, oseq, kind, call, status, name, "
                                  "city, state, comment, relay, entered, logged, logdate, logtime, logstatus, made, "
                                  "data, sent) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1)"));
    // The server's place of each change, this program's included: its
    // own changes become comparable as they come back.
    a.place.prepare(QStringLiteral("INSERT OR REPLACE INTO syncplace (id, seq) VALUES (?, ?)"));
    // The latest change of a contact, or of a call's place on one club's roster.
    a.latestContact.prepare(QLatin1String(LatestPlace)
                            + QStringLiteral("j.net = '' AND j.call = ? AND j.kind IN ('contact', 'uncontact') "
                                             "AND j.id <> ?"));
    a.latestMember.prepare(QLatin1String(LatestPlace)
                           + QStringLiteral("j.net = '' AND j.call = ? AND j.kind IN ('member', 'nonmember') "
                                            "AND j.data = ? AND j.id <> ?"));
    a.rosterData = syncRosterData(rosterClub);
    a.latestEntry.prepare(QLatin1String(LatestPlace)
                          + QStringLiteral("j.net = ? AND j.call = ? AND j.kind IN ('entry', 'remove') AND j.id <> ?"));
    for (const SyncChange &change : changes) {
        if (!applyChange(a, change))
            return false;
    }
    query.prepare(
        QStringLiteral("UPDATE syncstate SET value = ? WHERE key = 'watermark' AND CAST(value AS INTEGER) < ?"));
    query.addBindValue(QString::number(watermark));
    query.addBindValue(watermark);
    return exec(query, a.result) && exec(query, QStringLiteral("UPDATE syncquiet SET quiet = 0"), a.result);
}

bool JournalStore::applyChange(Applying &a, const SyncChange &change)
{
    a.place.addBindValue(change.id);
    a.place.addBindValue(change.seq);
    if (!exec(a.place, a.result))
        return false;
    // This program's own changes are in the journal and the list already.
    if (change.origin == a.client)
        return true;
    for (const QVariant &value :
         {QVariant(change.id), QVariant(change.net.isNull() ? QStringLiteral("") : change.net), QVariant(change.origin),
          QVariant(change.oseq), QVariant(change.kind), QVariant(change.call), QVariant(change.status),
          QVariant(change.name), QVariant(change.city), QVariant(change.state), QVariant(change.comment),
          QVariant(change.relay), QVariant(change.time), QVariant(int(change.logged)), QVariant(change.logDate),
          QVariant(change.logTime), QVariant(change.logStatus), QVariant(change.made),
          change.data.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(change.data)})
        a.keep.addBindValue(value);
    if (!exec(a.keep, a.result))
        return false;
    if (change.kind == QLatin1String("contact") || change.kind == QLatin1String("uncontact"))
        return applyContact(a, change);
    if (change.kind == QLatin1String("member") || change.kind == QLatin1String("nonmember"))
        return applyMember(a, change);
    if (!a.net || change.net != a.net->id
        || (change.kind != QLatin1String("entry") && change.kind != QLatin1String("remove")))
        return true;
    return applyEntry(a, change);
}

bool JournalStore::applyContact(Applying &a, const SyncChange &change)
{
    for (const QString &value : {a.client, change.call, change.id})
        a.latestContact.addBindValue(value);
    bool newer = false;
    if (!a.readLatest(a.latestContact, change, newer))
        return false;
    if (newer)
        return true;
    if (change.kind == QLatin1String("uncontact"))
        return (a.result = owner.contacts().removeContact(change.call)).ok();
    QStringList fields;
    // A contact this program cannot read stays as it is here.
    if (!syncDataFields(change.data, Schema::ContactFields, fields) || fields.first() != change.call)
        return true;
    Result read;
    const bool known = owner.contacts().contactByCall(change.call, &read).has_value();
    if (!read.ok()) {
        a.result = read;
        return false;
    }
    return (a.result = owner.contacts().writeContact(known, ContactRecord::fromValues(fields))).ok();
}

bool JournalStore::applyMember(Applying &a, const SyncChange &change)
{
    // Another club's roster is not this one's.
    if (rosterClub.isEmpty() || change.data != a.rosterData)
        return true;
    for (const QString &value : {a.client, change.call, a.rosterData, change.id})
        a.latestMember.addBindValue(value);
    bool newer = false;
    if (!a.readLatest(a.latestMember, change, newer))
        return false;
    const bool joins = change.kind == QLatin1String("member");
    if (newer || owner.roster().isMember(change.call) == joins)
        return true;
    RosterStore &roster = owner.roster();
    if (!(a.result = joins ? roster.insertMember(change.call) : roster.deleteMember(change.call)).ok())
        return false;
    a.rosterChanged = true;
    return true;
}

bool JournalStore::applyEntry(Applying &a, const SyncChange &change)
{
    a.latestEntry.addBindValue(a.client);
    a.latestEntry.addBindValue(change.net);
    a.latestEntry.addBindValue(change.call);
    a.latestEntry.addBindValue(change.id);
    bool newer = false;
    if (!a.readLatest(a.latestEntry, change, newer))
        return false;
    if (newer)
        return true;
    a.listChanged = true;

    // The entry as this list holds it: one per call.
    QSqlQuery entry(fileDb);
    entry.prepare(QStringLiteral("SELECT id, logId FROM net WHERE call = ? ORDER BY id LIMIT 1"));
    entry.addBindValue(change.call);
    if (!entry.exec()) {
        a.result = Result::failed(Result::ReadFailed, entry.lastError());
        return false;
    }
    const bool listed = entry.next();
    const int entryId = listed ? entry.value(0).toInt() : 0;
    int logId = listed ? entry.value(1).toInt() : 0;

    QSqlQuery write(fileDb);
    if (change.kind == QLatin1String("remove")) {
        if (!listed)
            return true;
        if (logId != 0) {
            write.prepare(QStringLiteral("DELETE FROM log WHERE id = ?"));
            write.addBindValue(logId);
            if (!exec(write, a.result))
                return false;
        }
        write.prepare(QStringLiteral("DELETE FROM net WHERE id = ?"));
        write.addBindValue(entryId);
        return exec(write, a.result);
    }
    if (!applyEntryLog(a, change, logId))
        return false;
    if (!listed)
        return addEntry(a, change, logId);
    write.prepare(QStringLiteral("UPDATE net SET time = ?, name = ?, city = ?, state = ?, comment = ?, "
                                 "status = ?, relay = ?, logId = ? WHERE id = ?"));
    for (const QVariant &value : {QVariant(change.time), QVariant(change.name), QVariant(change.city),
                                  QVariant(change.state), QVariant(change.comment), QVariant(change.status),
                                  QVariant(change.relay), QVariant(logId), QVariant(entryId)})
        write.addBindValue(value);
    return exec(write, a.result);
}

bool JournalStore::applyEntryLog(Applying &a, const SyncChange &change, int &logId)
{
    // The check-in as the other program logged it.
    QSqlQuery write(fileDb);
    const QString letter = change.logStatus.isEmpty() ? NetRules::logLetter(change.status) : change.logStatus;
    if (change.logged && logId != 0) {
        write.prepare(QStringLiteral("UPDATE log SET date = ?, time = ?, status = ?, call = ?, name = ?, "
                                     "relay = ?, city = ?, state = ?, comment = ? WHERE id = ?"));
    } else if (change.logged) {
        write.prepare(QStringLiteral("INSERT INTO log (date, time, status, call, name, relay, city, state, "
                                     "comment) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    }
    if (change.logged) {
        for (const QString &value : {change.logDate, change.logTime, letter, change.call, change.name, change.relay,
                                     change.city, change.state, change.comment})
            write.addBindValue(value);
        if (logId != 0)
            write.addBindValue(logId);
        if (!exec(write, a.result))
            return false;
        if (logId == 0)
            logId = write.lastInsertId().toInt();
    } else if (logId != 0) {
        write.prepare(QStringLiteral("DELETE FROM log WHERE id = ?"));
        write.addBindValue(logId);
        if (!exec(write, a.result))
            return false;
        logId = 0;
    }
    return true;
}

bool JournalStore::addEntry(Applying &a, const SyncChange &change, int logId)
{
    // A station new to this list: its contact row as a check-in here
    // would make it, when the call is not known yet.
    QSqlQuery contact(fileDb);
    contact.prepare(QStringLiteral("SELECT id FROM contact WHERE call = ? LIMIT 1"));
    contact.addBindValue(change.call);
    if (!contact.exec()) {
        a.result = Result::failed(Result::ReadFailed, contact.lastError());
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
        if (!(a.result = owner.contacts().writeContact(false, record)).ok())
            return false;
        QSqlQuery id(fileDb);
        if (!id.exec(QStringLiteral("SELECT last_insert_rowid()")) || !id.next()) {
            a.result = Result::failed(Result::ReadFailed, id.lastError());
            return false;
        }
        conId = id.value(0).toLongLong();
    }
    QSqlQuery write(fileDb);
    write.prepare(QStringLiteral("INSERT INTO net (time, call, name, city, state, comment, conId, logId, "
                                 "status, relay, made) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant &value :
         {QVariant(change.time), QVariant(change.call), QVariant(change.name), QVariant(change.city),
          QVariant(change.state), QVariant(change.comment), QVariant(conId), QVariant(logId), QVariant(change.status),
          QVariant(change.relay),
          QVariant(QDateTime::fromString(change.made, Qt::ISODateWithMs).toLocalTime().toString(Qt::ISODate))})
        write.addBindValue(value);
    return exec(write, a.result);
}

Result JournalStore::journalRoster(const QStringList &before)
{
    if (!owner.journalling)
        return Result();
    const QStringList now = owner.roster().memberCalls();
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

Result JournalStore::journalMembers(const QStringList &joined, const QStringList &left)
{
    Result result;
    if (!owner.journalling || (joined.isEmpty() && left.isEmpty()))
        return result;
    inFile(result, [&]() -> bool {
        QSqlQuery insert(fileDb);
        insert.prepare(
            QLatin1String(OutsideNet)
            + QStringLiteral("VALUES (%1, '', %2, %3, ?, ?, 0, '', '', '', '', '', '', 0, '', '', '', %4, 0, ?)")
                  .arg(QLatin1String(Uuid), QLatin1String(Client), QLatin1String(NextPlace), QLatin1String(Now)));
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
