#include "data/rosterstore.h"

#include "app/constants.h"
#include "app/logging.h"
#include "checkin/netrules.h"
#include "checkin/textrules.h"
#include "data/callindex.h"
#include "data/storagesql.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QSet>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>

using namespace StorageSql;

namespace {
// A roster line as read, with its phone number's digits beside the field.
const char CreateRosterLine[] =
    "CREATE TEMP TABLE roster_line (f0, f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, "
    "f17, f18, phone)";
const char InsertRosterLine[] =
    "INSERT INTO temp.roster_line VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
const char RosterLines[] = "SELECT f0, f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, "
                           "f18, phone FROM temp.roster_line ORDER BY rowid";
} // namespace

RosterStore::RosterStore(Storage &storage)
    : StorageFamily(storage)
{
}

RosterStore::~RosterStore() = default;

Result RosterStore::storeLookedUpMember(ContactRecord record)
{
    // The roster a batch run rebuilds is journalled whole at its end. Two
    // calls of the list may come back from QRZ as one: one member still.
    Result result = isMember(record.call) ? Result() : insertMember(record.call);
    if (!result.ok())
        return result;
    const std::optional<ContactRecord> stored = owner.contacts().contactByCall(record.call, &result);
    if (!result.ok())
        return result;
    if (stored) {
        QString ContactRecord::*const kept[] = {
            &ContactRecord::name,  &ContactRecord::address, &ContactRecord::city, &ContactRecord::state,
            &ContactRecord::zip,   &ContactRecord::country, &ContactRecord::email, &ContactRecord::phone,
            &ContactRecord::lat,   &ContactRecord::lon,     &ContactRecord::grid, &ContactRecord::source,
            &ContactRecord::utc,   &ContactRecord::dst,     &ContactRecord::born};
        for (const auto field : kept) {
            if (!((*stored).*field).isEmpty())
                record.*field = (*stored).*field;
        }
    }
    result = owner.contacts().writeContact(stored.has_value(), record);
    if (result.ok())
        journalChanged();
    return result;
}

bool RosterStore::isMember(const QString &call) const
{
    // One member per call, whatever its case.
    const Reused query = reused(memoryDb, "SELECT id FROM mbr WHERE call = ? COLLATE NOCASE");
    query->addBindValue(call);
    return query->exec() && query->next();
}

bool RosterStore::hasMembers() const
{
    QSqlQuery query(memoryDb);
    return query.exec(QStringLiteral("SELECT id FROM mbr LIMIT 1")) && query.next();
}

Result RosterStore::addMember(const QString &call)
{
    Result result = insertMember(call);
    if (result.ok() && !(result = owner.journal().journalMembers({call}, {})).ok())
        deleteMember(call);
    return result;
}

Result RosterStore::removeMember(const QString &call)
{
    Result result = deleteMember(call);
    if (result.ok() && !(result = owner.journal().journalMembers({}, {call})).ok())
        insertMember(call);
    return result;
}

Result RosterStore::insertMember(const QString &call)
{
    QSqlQuery insert(memoryDb);
    insert.prepare(QString::fromLatin1(Sql::InsertMember));
    insert.addBindValue(call);
    if (!insert.exec())
        return Result::failed(Result::WriteFailed, insert.lastError());
    return Result();
}

Result RosterStore::deleteMember(const QString &call)
{
    QSqlQuery remove(memoryDb);
    remove.prepare(QStringLiteral("DELETE FROM mbr WHERE call = ? COLLATE NOCASE"));
    remove.addBindValue(call);
    if (!remove.exec())
        return Result::failed(Result::WriteFailed, remove.lastError());
    return Result();
}

Result RosterStore::clearMembers()
{
    QString failure;
    if (Direct::exec(memoryDb, "DROP TABLE IF EXISTS mbr", &failure)
        && Direct::exec(memoryDb, Schema::CreateMbr, &failure))
        return Result();
    return Result::failed(Result::WriteFailed, failure);
}

Storage::Loaded RosterStore::addMembers(const LineSource &next)
{
    Loaded loaded;
    if (!memoryDb.transaction()) {
        loaded.result = Result::failed(Result::WriteFailed, memoryDb.lastError());
        return loaded;
    }
    {
        Direct::Statement insert(memoryDb, Sql::InsertMember);
        while (const CsvBytes *line = next()) {
            bindField(insert, 1, *line, 0);
            if (!insert.run()) {
                loaded.result = Result::failed(Result::WriteFailed, insert.error());
                break;
            }
            ++loaded.rows;
        }
    }
    if (loaded.result.ok() && loaded.rows > 0 && memoryDb.commit())
        return loaded;
    if (loaded.result.ok() && loaded.rows > 0)
        loaded.result = Result::failed(Result::WriteFailed, memoryDb.lastError());
    memoryDb.rollback();
    if (!loaded.result.ok())
        loaded.rows = 0;
    return loaded;
}

Storage::Loaded RosterStore::loadRoster(const RosterSource &next, const std::atomic<bool> *cancel)
{
    // The file is read without holding the contacts' write lock; its
    // contact data then goes in in one transaction that gives way to the
    // window. The roster and the contacts take the whole file or nothing of
    // it, and a check-in never waits behind the load.
    struct Running {
        Running() { ++loadsRunning; }
        ~Running() { --loadsRunning; }
    } running;
    Loaded loaded;
    if (!memoryDb.transaction()) {
        loaded.result = Result::failed(Result::WriteFailed, memoryDb.lastError());
        return loaded;
    }
    QElapsedTimer phase;
    phase.start();
    loaded = readRoster(next, cancel);
    const qint64 readMs = phase.restart();
    if (loaded.result.ok() && loaded.rows > 0 && !loaded.cancelled)
        loaded.result = mergeRosterContacts(cancel, &loaded.cancelled);
    qCDebug(lcStorage) << "Roster load:" << loaded.rows << "members read in" << readMs << "ms, contacts merged in"
                       << phase.elapsed() << "ms" << (loaded.cancelled ? "(cancelled)" : "") << loaded.result.error;
    Direct::exec(fileDb, "DROP TABLE IF EXISTS temp.roster_line");
    if (loaded.result.ok() && (loaded.rows == 0 || loaded.cancelled)) {
        memoryDb.rollback();
        loaded.rows = 0;
        return loaded;
    }
    if (loaded.result.ok() && !memoryDb.commit()) {
        // The contacts are stored; the members in memory are not.
        loaded.result = Result::failed(Result::WriteFailed, memoryDb.lastError());
        loaded.result.fileStored = true;
    }
    if (!loaded.result.ok())
        memoryDb.rollback();
    return loaded;
}

Storage::Loaded RosterStore::readRoster(const RosterSource &next, const std::atomic<bool> *cancel)
{
    Loaded loaded;
    QString failure;
    if (!Direct::exec(fileDb, "DROP TABLE IF EXISTS temp.roster_line", &failure)
        || !Direct::exec(fileDb, CreateRosterLine, &failure)) {
        loaded.result = Result::failed(Result::WriteFailed, failure);
        return loaded;
    }
    loaded.result = clearMembers();
    if (!loaded.result.ok())
        return loaded;
    Direct::Statement member(memoryDb, Sql::InsertMember);
    Direct::Statement keep(fileDb, InsertRosterLine);
    while (const RosterLine *line = next()) {
        ++loaded.rows;
        const CsvBytes &fields = *line->fields;
        bindField(member, 1, fields, 0);
        Direct::Statement *failed = member.run() ? nullptr : &member;
        if (!failed && line->withContact) {
            for (int k = 0; k < Schema::ContactFields; ++k)
                bindField(keep, k + 1, fields, k);
            keep.bindString(Schema::ContactFields + 1, line->phone);
            if (!keep.run())
                failed = &keep;
        }
        if (failed) {
            loaded.result = Result::failed(Result::WriteFailed, failed->error());
            loaded.rows = 0;
            return loaded;
        }
    }
    loaded.cancelled = cancel && cancel->load();
    return loaded;
}

Result RosterStore::mergeRosterContacts(const std::atomic<bool> *cancel, bool *cancelled)
{
    QString failure;
    for (;;) {
        letWindowWrite();
        // The write lock at once: a transaction that read first would fail
        // when the window wrote meanwhile.
        if (!Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure))
            return Result::failed(Result::WriteFailed, failure);
        const qint64 since = steadyNs();
        bool stopped = false;
        {
            Direct::Statement lines(fileDb, RosterLines);
            Direct::Statement find(fileDb, Sql::ContactByCall);
            Direct::Statement update(fileDb, Sql::UpdateContactById);
            Direct::Statement insert(fileDb, Schema::InsertContact);
            const int phone = Schema::ContactFields;
            while (failure.isEmpty() && lines.next()) {
                // The window wants the lock, or the operator stopped the load.
                if (windowTriedAt.load() > since || (cancel && cancel->load())) {
                    stopped = true;
                    break;
                }
                find.bindColumnText(1, lines, 0);
                Direct::Statement *done = nullptr;
                if (find.next()) {
                    // An empty field never erases what is stored.
                    for (int k = 1; k < Schema::ContactFields; ++k) {
                        if (lines.isNull(k) || lines.utf8(k).isEmpty())
                            update.bindColumnText(k, find, k + 1);
                        else
                            update.bindColumnText(k, lines, k == PhoneField ? phone : k);
                    }
                    update.bindInt(Schema::ContactFields, find.integer(0));
                    find.reset();
                    done = &update;
                } else {
                    find.reset();
                    for (int k = 0; k < Schema::ContactFields; ++k)
                        insert.bindColumnText(k + 1, lines, k == PhoneField ? phone : k);
                    done = &insert;
                }
                if (!done->run())
                    failure = done->error();
            }
            if (failure.isEmpty() && lines.failed())
                failure = lines.error();
        }
            if (failure.isEmpty() && !stopped && Direct::exec(fileDb, "COMMIT", &failure))
            return Result();
        Direct::exec(fileDb, "ROLLBACK");
        if (!failure.isEmpty())
            return Result::failed(Result::WriteFailed, failure);
        if (cancel && cancel->load()) {
            *cancelled = true;
            return Result();
        }
    }
}

Result RosterStore::eachMemberContact(const std::function<void(const StoredRow &)> &row) const
{
    Direct::Statement members(memoryDb, (QByteArray("SELECT call FROM mbr ") + Sql::BySuffix).constData());
    Direct::Statement contact(fileDb, Sql::ContactByCall);
    if (!fileDb.isOpen() || !members.ok() || !contact.ok())
        return Result::failed(Result::ReadFailed, fileDb.isOpen() ? contact.error() : members.error());
    const Direct::ReadTransaction snapshot(fileDb);
    const StoredRow stored(contact);
    while (members.next()) {
        contact.bindColumnText(1, members, 0);
        if (contact.next())
            row(stored);
        contact.reset();
    }
    return walked(members);
}

Result RosterStore::eachMemberLine(const std::function<void(const ContactLine &)> &line) const
{
    // One read lock for all the look-ups, not one per member.
    const Direct::ReadTransaction snapshot(fileDb);
    Direct::Statement members(memoryDb, (QByteArray("SELECT call FROM mbr ") + Sql::BySuffix).constData());
    Direct::Statement contact(fileDb, "SELECT call, name, city, state FROM contact WHERE call=?");
    while (!stopped() && members.next()) {
        contact.bindColumnText(1, members, 0);
        // A member without a contact record is left out.
        if (contact.next())
            line({contact.utf8(0), contact.utf8(1), contact.utf8(2), contact.utf8(3)});
        contact.reset();
    }
    return walked(members);
}

Result RosterStore::setMembers(const QStringList &calls)
{
    QString failure;
    if (!Direct::exec(memoryDb, "DROP TABLE IF EXISTS mbr", &failure)
        || !Direct::exec(memoryDb, Schema::CreateMbr, &failure) || !Direct::exec(memoryDb, "BEGIN", &failure))
        return Result::failed(Result::WriteFailed, failure);
    {
        Direct::Statement insert(memoryDb, Sql::InsertMember);
        for (const QString &call : calls) {
            insert.bindString(1, call);
            if (!insert.run()) {
                failure = insert.error();
                break;
            }
        }
    }
    if (failure.isEmpty() && Direct::exec(memoryDb, "COMMIT", &failure))
        return Result();
    Direct::exec(memoryDb, "ROLLBACK");
    return Result::failed(Result::WriteFailed, failure);
}

QStringList RosterStore::memberCalls() const
{
    QStringList calls;
    Direct::Statement query(memoryDb, "SELECT call FROM mbr ORDER BY id");
    while (query.next())
        calls.append(query.string(0));
    return calls;
}

qint64 RosterStore::memberCount() const
{
    Direct::Statement query(memoryDb, "SELECT count(*) FROM mbr");
    return query.next() ? query.integer(0) : 0;
}
