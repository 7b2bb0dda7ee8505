#include "data/rosterstore.h"

#include "app/constants.h"
#include "app/logging.h"
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

namespace {
// A roster line kept for a second run, with its phone number's digits
// beside the field.
const char CreateRosterLine[] =
    "CREATE TABLE roster_line (f0, f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, "
    "f17, f18, phone)";
const char InsertRosterLine[] =
    "INSERT INTO roster_line VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
const char RosterLines[] = "SELECT f0, f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, "
                           "f18, phone FROM roster_line ORDER BY rowid";

// A roster line's fields as the merge reads them: from the file, or kept.
struct FileFields {
    const CsvBytes &fields;
    const QByteArray &phone;
    bool empty(int k) const { return fields.at(k).isEmpty(); }
    QByteArrayView utf8(int k) const { return k == PhoneField ? QByteArrayView(phone) : fields.at(k); }
    void bind(Direct::Statement &statement, int index, int k) const
    {
        if (k == PhoneField)
            statement.bindUtf8Static(index, phone);
        else
            bindField(statement, index, fields, k);
    }
};
struct KeptFields {
    const Direct::Statement &row;
    bool empty(int k) const { return row.isNull(k) || row.utf8(k).isEmpty(); }
    QByteArrayView utf8(int k) const { return row.utf8(k == PhoneField ? Schema::ContactFields : k); }
    void bind(Direct::Statement &statement, int index, int k) const
    {
        statement.bindColumnText(index, row, k == PhoneField ? Schema::ContactFields : k);
    }
};

// The statements that merge a roster line's contact data into the contacts.
struct RosterMerge {
    explicit RosterMerge(const QSqlDatabase &db)
        : find(db, Sql::ContactByCall), update(db, Sql::UpdateContactById), insert(db, Schema::InsertContact)
    {
    }
    // Whether the line would change the contact found: a roster loaded again
    // mostly holds what is stored, and a row left alone is a page of a big
    // file not written.
    template <typename Fields>
    bool changes(const Fields &line) const
    {
        for (int k = 1; k < Schema::ContactFields; ++k) {
            if (!line.empty(k) && (find.isNull(k + 1) || line.utf8(k) != find.utf8(k + 1)))
                return true;
        }
        return false;
    }
    // Updates the contact of the line's call, where an empty field never
    // erases a stored one, or adds it.
    template <typename Fields>
    bool merge(const Fields &line, QString *failure)
    {
        line.bind(find, 1, 0);
        Direct::Statement *done = &insert;
        if (find.next()) {
            if (!changes(line)) {
                find.reset();
                return true;
            }
            for (int k = 1; k < Schema::ContactFields; ++k) {
                if (line.empty(k))
                    update.bindColumnText(k, find, k + 1);
                else
                    line.bind(update, k, k);
            }
            update.bindInt(Schema::ContactFields, find.integer(0));
            done = &update;
        } else {
            for (int k = 0; k < Schema::ContactFields; ++k)
                line.bind(insert, k + 1, k);
        }
        find.reset();
        if (done->run())
            return true;
        *failure = done->error();
        return false;
    }
    Direct::Statement find;
    Direct::Statement update;
    Direct::Statement insert;
};
} // namespace

RosterStore::RosterStore(Storage &storage) : StorageFamily(storage)
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
        QString ContactRecord::*const kept[] = {&ContactRecord::name,  &ContactRecord::address, &ContactRecord::city,
                                                &ContactRecord::state, &ContactRecord::zip,     &ContactRecord::country,
                                                &ContactRecord::email, &ContactRecord::phone,   &ContactRecord::lat,
                                                &ContactRecord::lon,   &ContactRecord::grid,    &ContactRecord::source,
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
    // The roster and the contacts take the whole file or nothing of it: the
    // contacts in one transaction, the members after it. That transaction
    // gives way to the window: stopped when the window tries for the write
    // lock, it is rolled back and run again from the lines kept meanwhile.
    const LoadRunning running;
    Loaded loaded;
    QString failure;
    if (!memoryDb.transaction()) {
        loaded.result = Result::failed(Result::WriteFailed, memoryDb.lastError());
        return loaded;
    }
    if (!Direct::exec(memoryDb, CreateRosterLine, &failure)) {
        memoryDb.rollback();
        loaded.result = Result::failed(Result::WriteFailed, failure);
        return loaded;
    }
    bool stopped = false;
    QElapsedTimer phase;
    phase.start();
    loaded = readRoster(next, cancel, &stopped);
    const qint64 readMs = phase.restart();
    if (loaded.result.ok() && stopped && !loaded.cancelled && loaded.rows > 0)
        loaded.result = mergeRosterContacts(cancel, &loaded.cancelled);
    qCDebug(lcStorage) << "Roster load:" << loaded.rows << "members read in" << readMs << "ms,"
                       << (stopped ? "merged again in" : "then") << phase.elapsed() << "ms"
                       << (loaded.cancelled ? "(cancelled)" : "") << loaded.result.error;
    if (loaded.result.ok() && (loaded.rows == 0 || loaded.cancelled)) {
        memoryDb.rollback();
        loaded.rows = 0;
        return loaded;
    }
    Direct::exec(memoryDb, "DROP TABLE IF EXISTS roster_line");
    if (loaded.result.ok() && !memoryDb.commit()) {
        // The contacts are stored; the members in memory are not.
        loaded.result = Result::failed(Result::WriteFailed, memoryDb.lastError());
        loaded.result.fileStored = true;
    }
    if (!loaded.result.ok())
        memoryDb.rollback();
    return loaded;
}

Storage::Loaded RosterStore::readRoster(const RosterSource &next, const std::atomic<bool> *cancel, bool *stopped)
{
    // The first run merges each line as it is read, inside the write
    // transaction: as fast as a load can be when the window leaves it alone.
    Loaded loaded;
    QString failure;
    loaded.result = clearMembers();
    if (!loaded.result.ok())
        return loaded;
    letWindowWrite();
    bool merging = Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure);
    const qint64 since = steadyNs();
    {
        Direct::Statement member(memoryDb, Sql::InsertMember);
        Direct::Statement keep(memoryDb, InsertRosterLine);
        RosterMerge merge(fileDb);
        while (failure.isEmpty()) {
            const RosterLine *line = next();
            if (!line)
                break;
            ++loaded.rows;
            const CsvBytes &fields = *line->fields;
            bindField(member, 1, fields, 0);
            if (!member.run()) {
                failure = member.error();
                break;
            }
            if (!line->withContact)
                continue;
            for (int k = 0; k < Schema::ContactFields; ++k)
                bindField(keep, k + 1, fields, k);
            keep.bindString(Schema::ContactFields + 1, line->phone);
            if (!keep.run()) {
                failure = keep.error();
                break;
            }
            // The window wants the lock: the rest is read without it.
            if (merging && windowTriedAt.load() > since) {
                merging = false;
                *stopped = true;
                Direct::exec(fileDb, "ROLLBACK");
            }
            if (merging)
                merge.merge(FileFields{fields, line->phone.toUtf8()}, &failure);
        }
    }
    loaded.cancelled = failure.isEmpty() && cancel && cancel->load();
    if (merging && failure.isEmpty() && !loaded.cancelled && loaded.rows > 0
        && !Direct::exec(fileDb, "COMMIT", &failure))
        failure += QStringLiteral(" (committing the roster's contacts)");
    if (merging && !(failure.isEmpty() && !loaded.cancelled && loaded.rows > 0))
        Direct::exec(fileDb, "ROLLBACK");
    if (!failure.isEmpty()) {
        loaded.result = Result::failed(Result::WriteFailed, failure);
        loaded.rows = 0;
    }
    return loaded;
}

Result RosterStore::mergeRosterContacts(const std::atomic<bool> *cancel, bool *cancelled)
{
    QString failure;
    for (;;) {
        letWindowWrite();
        if (!Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure))
            return Result::failed(Result::WriteFailed, failure);
        const qint64 since = steadyNs();
        bool stopped = false;
        {
            Direct::Statement lines(memoryDb, RosterLines);
            RosterMerge merge(fileDb);
            while (failure.isEmpty() && lines.next()) {
                // The window wants the lock, or the operator stopped the load.
                if (windowTriedAt.load() > since || (cancel && cancel->load())) {
                    stopped = true;
                    break;
                }
                merge.merge(KeptFields{lines}, &failure);
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
