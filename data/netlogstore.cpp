#include "data/netlogstore.h"

#include "app/constants.h"
#include "checkin/netrules.h"
#include "checkin/textrules.h"
#include "data/callindex.h"
#include "data/storagesql.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>

using namespace StorageSql;

NetLogStore::NetLogStore(Storage &storage) : StorageFamily(storage)
{
}

NetLogStore::~NetLogStore() = default;

QList<NetLogStore::ListedEntry> NetLogStore::listedEntries() const
{
    QList<ListedEntry> entries;
    const Reused query = reused(fileDb, "SELECT id, status, call, name, relay FROM net ORDER BY id");
    if (query->exec()) {
        while (query->next())
            entries.append(
                {query->value(0).toInt(), query->value(1).toInt(), text(*query, 2), text(*query, 3), text(*query, 4)});
    }
    return entries;
}

QList<NetLogStore::MappedEntry> NetLogStore::mappedEntries(Result *failure) const
{
    QList<MappedEntry> entries;
    // One contact row per entry even where a load left a call twice.
    const Reused query = reused(fileDb, "SELECT net.id, net.status, net.call, net.state, contact.state, contact.lat, "
                                        "contact.lon, contact.zip FROM net LEFT JOIN contact ON contact.id = "
                                        "(SELECT MIN(id) FROM contact WHERE contact.call = net.call) ORDER BY net.id");
    if (!query->exec()) {
        if (failure)
            *failure = Result::failed(Result::ReadFailed, query->lastError());
        return entries;
    }
    while (query->next())
        entries.append({query->value(0).toInt(), query->value(1).toInt(), text(*query, 2), text(*query, 3),
                        text(*query, 4), text(*query, 5), text(*query, 6), text(*query, 7)});
    return entries;
}

std::optional<NetEntry> NetLogStore::netEntryByCall(const QString &call) const
{
    const Reused query = reused(fileDb, "SELECT id, time, call, name, city, state, comment, conId, logId, status, "
                                        "relay FROM net WHERE call = ?");
    query->addBindValue(call);
    if (!query->exec() || !query->next())
        return std::nullopt;
    return netEntryFrom(*query);
}

std::optional<QString> NetLogStore::netCall(int id) const
{
    QSqlQuery query(fileDb);
    query.prepare(QStringLiteral("SELECT call FROM net WHERE id=?"));
    query.addBindValue(id);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return text(query, 0);
}

std::optional<int> NetLogStore::netId(Seek seek, int from) const
{
    QSqlQuery query(fileDb);
    switch (seek) {
    case Seek::First:
        query.prepare(QStringLiteral("SELECT id FROM net ORDER BY id LIMIT 1"));
        break;
    case Seek::Previous:
        query.prepare(QStringLiteral("SELECT id FROM net WHERE id < ? ORDER BY id DESC LIMIT 1"));
        query.addBindValue(from);
        break;
    case Seek::Next:
        query.prepare(QStringLiteral("SELECT id FROM net WHERE id > ? ORDER BY id LIMIT 1"));
        query.addBindValue(from);
        break;
    case Seek::Last:
        query.prepare(QStringLiteral("SELECT id FROM net ORDER BY id DESC LIMIT 1"));
        break;
    }
    if (!query.exec() || !query.next())
        return std::nullopt;
    return query.value(0).toInt();
}

std::optional<int> NetLogStore::netStatus(const QString &call) const
{
    const Reused query = reused(fileDb, "SELECT status FROM net WHERE call = ?");
    query->addBindValue(call);
    if (!query->exec() || !query->next())
        return std::nullopt;
    return query->value(0).toInt();
}

// One key's change being stored, inside its transaction. Each step returns
// false once it failed, with the failure and the step in the outcome, so
// that the first failure ends the change.
struct NetLogStore::Storing {
    using Step = EntryOutcome::Step;

    Storing(NetLogStore &netLog, const EntryChange &entryChange, EntryOutcome &outcome)
        : store(netLog),
          change(entryChange),
          call(entryChange.call),
          out(outcome),
          date(entryChange.now.toString(QStringLiteral("yyMMdd"))),
          time(entryChange.now.toString(QStringLiteral("HH:mm:ss")))
    {
    }

    bool fail(Result::Failure failure, const QSqlError &error, Step step)
    {
        out.result = Result::failed(failure, error);
        out.failedStep = step;
        return false;
    }
    // A read that fails ends the change, which would rest on it.
    bool readFailed(const QSqlQuery &query) { return fail(Result::ReadFailed, query.lastError(), Step::Entry); }
    bool write(QSqlQuery &query, Step step)
    {
        return query.exec() || fail(Result::WriteFailed, query.lastError(), step);
    }
    // The list's own rows go with the check-in's, in the same transaction.
    bool writeNet(QSqlQuery &query) { return write(query, Step::Entry); }
    // The log's letter is that of the call's entry as it stands in the list.
    QString letter() const { return NetRules::logLetter(store.netStatus(call).value_or(0)); }

    bool run();
    bool renameKnownContact();
    void findEntry();
    bool insertLog();
    bool addEntry();
    bool updateEntry();
    bool updateStatus(bool &withdrawn);

    NetLogStore &store;
    const EntryChange &change;
    const QString &call;
    EntryOutcome &out;
    const QString date;
    const QString time;
    // The contact row of the call, when known.
    std::optional<int> knownId;
};

NetLogStore::EntryOutcome NetLogStore::storeEntry(const EntryChange &change)
{
    EntryOutcome out;
    out.entryId = change.entryId;
    Storing storing(*this, change, out);
    inFile(out.result, [&storing] { return storing.run(); });
    return out;
}

bool NetLogStore::Storing::run()
{
    if (!renameKnownContact())
        return false;
    findEntry();
    if (call.isEmpty())
        return true;
    if (out.entryId == 0)
        return addEntry();
    return updateEntry();
}

// A name typed for a known call replaces the stored one at once.
bool NetLogStore::Storing::renameKnownContact()
{
    const Reused contact = store.reused(store.fileDb, "SELECT id, name FROM contact WHERE call = ?");
    contact->addBindValue(call);
    if (!contact->exec())
        return readFailed(*contact);
    if (!contact->next())
        return true;
    knownId = contact->value(0).toInt();
    if (text(*contact, 1) == change.name)
        return true;
    const Reused update = store.reused(store.fileDb, "UPDATE contact SET name = ? WHERE call = ?");
    update->addBindValue(change.name);
    update->addBindValue(call);
    return write(*update, Step::NameChange);
}

// The entry shown, or else the last entry with the call.
void NetLogStore::Storing::findEntry()
{
    out.logId = 0;
    out.contactId = 0;
    if (out.entryId != 0) {
        const Reused net = store.reused(store.fileDb, "SELECT logId, conId FROM net WHERE id = ?");
        net->addBindValue(out.entryId);
        if (net->exec() && net->next()) {
            out.logId = net->value(0).toInt();
            out.contactId = net->value(1).toInt();
        } else {
            // The entry's row was taken out of the net meanwhile: start over
            // from the call, as for a station not yet selected.
            out.entryId = 0;
        }
    }
    if (out.entryId == 0) {
        const Reused net = store.reused(store.fileDb, "SELECT id, logId, conId FROM net WHERE call = ?");
        net->addBindValue(call);
        if (net->exec()) {
            while (net->next()) {
                out.entryId = net->value(0).toInt();
                out.logId = net->value(1).toInt();
                out.contactId = net->value(2).toInt();
            }
        }
    }
}

bool NetLogStore::Storing::insertLog()
{
    // A row for this call logged within the last hours and shown by no
    // entry of the net list is tonight's check-in from before a restart.
    const Reused earlier = store.reused(store.fileDb, "SELECT id, date, time FROM log WHERE call = ? AND date >= ? "
                                                      "ORDER BY date DESC, time DESC");
    earlier->addBindValue(call);
    earlier->addBindValue(change.now.addSecs(-NetRules::SameNetSeconds).toString(QStringLiteral("yyMMdd")));
    if (!earlier->exec())
        return readFailed(*earlier);
    while (earlier->next()) {
        if (!loggedWithin(text(*earlier, 1), text(*earlier, 2), change.now, NetRules::SameNetSeconds))
            continue;
        const Reused linked = store.reused(store.fileDb, "SELECT id FROM net WHERE logId = ?");
        linked->addBindValue(earlier->value(0).toInt());
        if (!linked->exec())
            return readFailed(*linked);
        if (linked->next())
            continue;
        const Reused update = store.reused(store.fileDb, Sql::UpdateLogEntry);
        for (const QString &value :
             {letter(), call, change.name, change.relay, change.city, change.state, change.comment})
            update->addBindValue(value);
        update->addBindValue(earlier->value(0).toInt());
        if (!write(*update, Step::CheckIn))
            return false;
        out.logId = earlier->value(0).toInt();
        out.adoptedAt = text(*earlier, 2).left(5);
        return true;
    }

    const Reused insert = store.reused(store.fileDb, Schema::InsertLog);
    for (const QString &value :
         {date, time, letter(), call, change.name, change.relay, change.city, change.state, change.comment})
        insert->addBindValue(value);
    if (!write(*insert, Step::CheckIn))
        return false;
    out.logId = insert->lastInsertId().toInt();
    return true;
}

// A station new to tonight's net.
bool NetLogStore::Storing::addEntry()
{
    if (NetRules::checksIn(change.key) && !insertLog())
        return false;
    if (knownId)
        out.contactId = *knownId;
    if (out.contactId == 0) {
        const Reused insert = store.reused(store.fileDb, Schema::InsertContact);
        for (const QString &value : change.contact.values())
            insert->addBindValue(value);
        if (!write(*insert, Step::NewContact))
            return false;
        out.contactId = insert->lastInsertId().toInt();
    }

    const Reused insert = store.reused(store.fileDb, "INSERT INTO net (id, time, call, name, city, state, comment, "
                                                     "conId, logId, status, relay, made) VALUES (NULL, ?, ?, ?, ?, "
                                                     "?, ?, ?, ?, ?, ?, ?)");
    insert->addBindValue(out.adoptedAt.isEmpty() ? time.left(5) : out.adoptedAt);
    insert->addBindValue(call);
    insert->addBindValue(change.name);
    insert->addBindValue(change.city);
    insert->addBindValue(change.state);
    insert->addBindValue(change.comment);
    insert->addBindValue(out.contactId);
    insert->addBindValue(out.logId);
    insert->addBindValue(NetRules::initialStatus(change.key));
    insert->addBindValue(change.relay);
    insert->addBindValue(change.now.toString(Qt::ISODate));
    if (!writeNet(*insert))
        return false;
    out.entryId = insert->lastInsertId().toInt();
    return true;
}

// A station already in the net: its call may have been changed to one that
// another entry or another contact already has.
bool NetLogStore::Storing::updateEntry()
{
    QSqlQuery net(store.fileDb);
    net.prepare(QStringLiteral("SELECT id FROM net WHERE call = ?"));
    net.addBindValue(call);
    out.netDuplicate = net.exec() && net.next() && net.value(0).toInt() != out.entryId;
    if (knownId && *knownId != out.contactId) {
        out.contactDuplicate = true;
        return true;
    }
    if (out.netDuplicate)
        return true;

    bool withdrawn = false;
    if (!updateStatus(withdrawn))
        return false;
    if (!withdrawn) {
        if (NetRules::checksIn(change.key) && out.logId == 0) {
            if (!insertLog())
                return false;
        } else if (out.logId != 0) {
            QSqlQuery update(store.fileDb);
            update.prepare(QString::fromLatin1(Sql::UpdateLogEntry));
            for (const QString &value :
                 {letter(), call, change.name, change.relay, change.city, change.state, change.comment})
                update.addBindValue(value);
            update.addBindValue(out.logId);
            if (!write(update, Step::LogUpdate))
                return false;
        }
    }

    QSqlQuery update(store.fileDb);
    update.prepare(QStringLiteral("UPDATE net SET call = ?, name = ?, relay = ?, city = ?, state = ?, "
                                  "comment = ?, logId = ? WHERE id = ?"));
    for (const QString &value : {call, change.name, change.relay, change.city, change.state, change.comment})
        update.addBindValue(value);
    update.addBindValue(withdrawn ? 0 : out.logId);
    update.addBindValue(out.entryId);
    if (!writeNet(update))
        return false;
    if (withdrawn)
        out.logId = 0;

    QSqlQuery rename(store.fileDb);
    rename.prepare(QStringLiteral("UPDATE contact SET name = ? WHERE id = ?"));
    rename.addBindValue(change.name);
    rename.addBindValue(out.contactId);
    return write(rename, Step::NameChange);
}

// The entry's status after the key; a withdrawal takes its log row away.
bool NetLogStore::Storing::updateStatus(bool &withdrawn)
{
    QSqlQuery net(store.fileDb);
    net.prepare(QStringLiteral("SELECT logId, status FROM net WHERE id = ?"));
    net.addBindValue(out.entryId);
    if (!net.exec() || !net.next())
        return true;
    out.logId = net.value(0).toInt();
    const NetRules::Transition next = NetRules::afterKey(net.value(1).toInt(), change.key);
    if (next.withdraws) {
        QSqlQuery remove(store.fileDb);
        remove.prepare(QString::fromLatin1(Sql::DeleteLogRow));
        remove.addBindValue(out.logId);
        if (!write(remove, Step::Withdrawal))
            return false;
        withdrawn = true;
    }
    // Set before the log is written: the log's letter is read from it.
    QSqlQuery update(store.fileDb);
    update.prepare(QStringLiteral("UPDATE net SET status = ? WHERE id = ?"));
    update.addBindValue(next.status);
    update.addBindValue(out.entryId);
    return writeNet(update);
}

Result NetLogStore::removeFromNet(const NetEntry &entry)
{
    Result result;
    inFile(result, [&]() -> bool {
        if (entry.logId != 0) {
            QSqlQuery log(fileDb);
            log.prepare(QString::fromLatin1(Sql::DeleteLogRow));
            log.addBindValue(entry.logId);
            if (!log.exec()) {
                result = Result::failed(Result::WriteFailed, log.lastError());
                return false;
            }
        }
        QSqlQuery net(fileDb);
        net.prepare(QStringLiteral("DELETE FROM net WHERE id = ?"));
        net.addBindValue(entry.id);
        if (!net.exec()) {
            result = Result::failed(Result::WriteFailed, net.lastError());
            return false;
        }
        return true;
    });
    return result;
}

std::optional<NetLogStore::InterruptedNet> NetLogStore::interruptedNet(Result *failure) const
{
    if (!owner.netDurable || !fileDb.isOpen())
        return std::nullopt;
    QSqlQuery query(fileDb);
    if (!query.exec(QStringLiteral(
            "SELECT COUNT(*), (SELECT made FROM net ORDER BY id LIMIT 1), (SELECT max(made) FROM net) FROM net"))
        || !query.next()) {
        if (failure)
            *failure = Result::failed(Result::ReadFailed, query.lastError());
        return std::nullopt;
    }
    if (query.value(0).toInt() == 0)
        return std::nullopt;
    return InterruptedNet{query.value(0).toInt(), QDateTime::fromString(text(query, 1), Qt::ISODate),
                          QDateTime::fromString(text(query, 2), Qt::ISODate)};
}

Result NetLogStore::clearNet()
{
    Result result;
    inFile(result, [&]() -> bool {
        for (const char *sql : {"DELETE FROM net", "DELETE FROM netmark"}) {
            QSqlQuery clear(fileDb);
            if (!clear.exec(QString::fromLatin1(sql))) {
                result = Result::failed(Result::WriteFailed, clear.lastError());
                return false;
            }
        }
        return true;
    });
    return result;
}

std::optional<int> NetLogStore::netMark() const
{
    QSqlQuery query(fileDb);
    if (!query.exec(QStringLiteral("SELECT active FROM netmark WHERE id = 1")) || !query.next())
        return std::nullopt;
    return query.value(0).toInt();
}

Result NetLogStore::setNetMark(int active)
{
    QSqlQuery mark(fileDb);
    mark.prepare(QStringLiteral("INSERT OR REPLACE INTO netmark (id, active) VALUES (1, ?)"));
    mark.addBindValue(active);
    if (!mark.exec())
        return Result::failed(Result::WriteFailed, mark.lastError());
    return Result();
}

Result NetLogStore::deleteLogRow(qint64 id)
{
    QSqlQuery remove(fileDb);
    remove.prepare(QString::fromLatin1(Sql::DeleteLogRow));
    remove.addBindValue(id);
    if (!remove.exec())
        return Result::failed(Result::WriteFailed, remove.lastError());
    return Result();
}

NetLogStore::History NetLogStore::history(const QString &call, const QString &today, Result *failure) const
{
    History found;
    const Reused log = reused(fileDb, "SELECT id, date FROM log WHERE call = ?");
    log->addBindValue(call);
    if (!log->exec()) {
        if (failure)
            *failure = Result::failed(Result::ReadFailed, log->lastError());
        return found;
    }
    QVariant lastId;
    while (log->next()) {
        ++found.checkIns;
        lastId = log->value(0);
        // Tonight's check-in counts, but "last" means before tonight.
        const QString date = text(*log, 1);
        if (date != today)
            found.lastDate = date;
    }
    if (found.checkIns == 0)
        return found;
    static const QByteArray byId = QByteArray(Sql::LogColumns) + " WHERE id = ?";
    const Reused latest = reused(fileDb, byId.constData());
    latest->addBindValue(lastId);
    if (latest->exec() && latest->next()) {
        const QSqlQuery &row = *latest;
        found.latest = LogRecord{row.value(0).toLongLong(),
                                 text(row, 1),
                                 text(row, 2),
                                 text(row, 3),
                                 text(row, 4),
                                 text(row, 5),
                                 text(row, 6),
                                 text(row, 7),
                                 text(row, 8),
                                 text(row, 9)};
    }
    return found;
}

QList<NetLogStore::QsoLine> NetLogStore::qsoHistory(const QString &call) const
{
    QList<QsoLine> lines;
    QSqlQuery query(fileDb);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT date, comment FROM log WHERE call = ? ORDER BY date DESC LIMIT 10"));
    query.addBindValue(call);
    if (query.exec()) {
        while (query.next())
            lines.append({text(query, 0), text(query, 1)});
    }
    return lines;
}

Result NetLogStore::eachLogRow(const std::function<void(const LogRowView &)> &row) const
{
    Direct::Statement query(fileDb, "SELECT * FROM log ORDER BY date desc, time desc");
    const LogColumns columns(query);
    while (!stopped() && query.next())
        row(columns.read(query));
    return walked(query);
}

Result NetLogStore::eachCheckIn(const std::function<void(const LogRowView &)> &row) const
{
    // Four columns only: the attendance reads the whole log each time.
    Direct::Statement query(fileDb, "SELECT date, time, call, name FROM log");
    LogRowView view;
    while (!stopped() && query.next()) {
        view.date = query.utf8(0);
        view.time = query.utf8(1);
        view.call = query.utf8(2);
        view.name = query.utf8(3);
        row(view);
    }
    return walked(query);
}

Result NetLogStore::eachLogRowOfDay(const QString &date, const QString &after, const QString &before,
                                    const std::function<void(const LogRowView &)> &row) const
{
    // The date is six digits and never a wildcard, so equality selects the
    // same rows as LIKE and can use the index on the date.
    Direct::Statement query(fileDb, "SELECT * FROM log WHERE date = ? AND time > ? AND time < ? ORDER BY time desc");
    query.bindUtf8(1, date.toUtf8());
    query.bindString(2, after);
    query.bindString(3, before);
    const LogColumns columns(query);
    while (!stopped() && query.next())
        row(columns.read(query));
    return walked(query);
}

QList<NetLogStore::LoggedCheckIn> NetLogStore::netCheckIns(const QString &date, const QString &after,
                                                           const QString &before, Result *failure) const
{
    QList<LoggedCheckIn> rows;
    QSqlQuery query(fileDb);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT log.id, log.date, log.time, log.status, log.call, log.name, log.relay, "
                                 "log.city, log.state, log.comment, "
                                 "(SELECT grid FROM contact WHERE contact.call = log.call LIMIT 1) "
                                 "FROM log WHERE date = ? AND time > ? AND time < ? ORDER BY time, id"));
    query.addBindValue(date);
    query.addBindValue(after);
    query.addBindValue(before);
    if (!query.exec()) {
        if (failure)
            *failure = Result::failed(Result::ReadFailed, query.lastError());
        return {};
    }
    while (query.next()) {
        LoggedCheckIn row;
        row.log.id = query.value(0).toLongLong();
        row.log.date = text(query, 1);
        row.log.time = text(query, 2);
        row.log.status = text(query, 3);
        row.log.call = text(query, 4);
        row.log.name = text(query, 5);
        row.log.relay = text(query, 6);
        row.log.city = text(query, 7);
        row.log.state = text(query, 8);
        row.log.comment = text(query, 9);
        row.grid = text(query, 10);
        rows << row;
    }
    if (query.lastError().isValid() && failure)
        *failure = Result::failed(Result::ReadFailed, query.lastError());
    return rows;
}

void NetLogStore::repointNet(Table table, qint64 lastOldId, QString *failure)
{
    if (table == Table::Contacts) {
        // A contact the file does not hold is gone: its entry points nowhere.
        Direct::exec(fileDb,
                     "UPDATE net SET conId = COALESCE((SELECT min(n.id) FROM contact_loading AS n, contact AS o "
                     "WHERE o.id = net.conId AND n.call = o.call), 0) WHERE conId <> 0",
                     failure);
        return;
    }
    // The check-ins of tonight's net stay whether or not the file holds them
    // (those logged during the load are carried already).
    Direct::Statement carry(fileDb, "INSERT INTO log_loading (date, time, status, call, name, relay, city, state, "
                                    "comment) SELECT date, time, status, call, name, relay, city, state, comment "
                                    "FROM log AS o WHERE o.id <= ? AND o.id IN (SELECT logId FROM net) AND NOT "
                                    "EXISTS (SELECT 1 FROM log_loading AS n WHERE n.call IS o.call AND n.date IS "
                                    "o.date AND n.time IS o.time)");
    carry.bindInt(1, lastOldId);
    if (!carry.run()) {
        *failure = carry.error();
        return;
    }
    Direct::exec(fileDb,
                 "UPDATE net SET logId = COALESCE((SELECT max(n.id) FROM log_loading AS n, log AS o "
                 "WHERE o.id = net.logId AND n.call IS o.call AND n.date IS o.date AND n.time IS o.time), 0) "
                 "WHERE logId <> 0",
                 failure);
}
