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
#include <numeric>
#include <thread>

using namespace StorageSql;

// The contact data of a roster's lines, kept in memory while the transaction
// that merges them may have to run again: one buffer, each line's 19 fields
// and its phone number's digits at offsets into it.
class KeptRosterLines {
public:
    static constexpr int Fields = Schema::ContactFields + 1; // the phone's digits last
    void add(const CsvBytes &fields, QByteArrayView phone)
    {
        // Room for a few thousand lines at once: memory grown a little at a
        // time is copied, and touched first, over and over.
        if (spans.empty()) {
            bytes.reserve(1 << 20);
            spans.reserve(size_t(Fields) * 8192);
        }
        for (int k = 0; k < Schema::ContactFields; ++k) {
            if (k >= fields.size() || fields.isNull(k))
                spans.push_back({qsizetype(bytes.size()), -1});
            else
                append(fields.at(k));
        }
        append(phone);
    }
    qsizetype count() const { return qsizetype(spans.size()) / Fields; }
    bool isNull(qsizetype line, int k) const { return span(line, k).size < 0; }
    QByteArrayView utf8(qsizetype line, int k) const
    {
        const Span &field = span(line, k);
        return field.size <= 0 ? QByteArrayView() : QByteArrayView(bytes.data() + field.begin, field.size);
    }

private:
    struct Span {
        qsizetype begin;
        qsizetype size; // -1: null
    };
    void append(QByteArrayView field)
    {
        spans.push_back({qsizetype(bytes.size()), field.size()});
        bytes.insert(bytes.end(), field.begin(), field.end());
    }
    const Span &span(qsizetype line, int k) const { return spans[size_t(line * Fields + k)]; }
    std::vector<char> bytes;
    std::vector<Span> spans;
};

namespace {
// One kept line's fields as the merge reads them: emptiness from the field
// as the file gave it, the phone's value as stored (digits only).
struct LineFields {
    const KeptRosterLines &lines;
    qsizetype line;
    bool empty(int k) const { return lines.isNull(line, k) || lines.utf8(line, k).isEmpty(); }
    QByteArrayView utf8(int k) const { return lines.utf8(line, k == PhoneField ? Schema::ContactFields : k); }
    void bind(Direct::Statement &statement, int index, int k) const
    {
        const int at = k == PhoneField ? Schema::ContactFields : k;
        if (lines.isNull(line, at))
            statement.bindNull(index);
        else
            statement.bindUtf8Static(index, lines.utf8(line, at));
    }
};

// The statements that merge the roster's contact data into the contacts.
struct RosterMerge {
    explicit RosterMerge(const QSqlDatabase &db)
        : findId(db, "SELECT id FROM contact WHERE call = ?"),
          row(db, Sql::ContactById),
          update(db, Sql::UpdateContactById),
          insert(db, Schema::InsertContact)
    {
    }
    // Whether the line would change the contact read into `row`: a roster
    // loaded again mostly holds what is stored, and a row left alone is a
    // page of a big file not written.
    bool changes(const LineFields &line) const
    {
        for (int k = 1; k < Schema::ContactFields; ++k) {
            if (!line.empty(k) && (row.isNull(k + 1) || line.utf8(k) != row.utf8(k + 1)))
                return true;
        }
        return false;
    }
    // Updates the contact read into `row`, where an empty field never erases
    // a stored one.
    bool updateRow(const LineFields &line)
    {
        for (int k = 1; k < Schema::ContactFields; ++k) {
            if (line.empty(k))
                update.bindColumnText(k, row, k + 1);
            else
                line.bind(update, k, k);
        }
        update.bindInt(Schema::ContactFields, row.integer(0));
        return update.run();
    }
    bool insertRow(const LineFields &line)
    {
        for (int k = 0; k < Schema::ContactFields; ++k)
            line.bind(insert, k + 1, k);
        return insert.run();
    }
    Direct::Statement findId;
    Direct::Statement row;
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
    // contacts in one transaction, the members after it.
    const LoadRunning running;
    Loaded loaded;
    if (!memoryDb.transaction()) {
        loaded.result = Result::failed(Result::WriteFailed, memoryDb.lastError());
        return loaded;
    }
    QElapsedTimer phase;
    phase.start();
    KeptRosterLines kept;
    loaded = readRoster(next, cancel, kept);
    const qint64 readMs = phase.restart();
    int runs = 0;
    if (loaded.result.ok() && !loaded.cancelled && loaded.rows > 0)
        loaded.result = mergeRosterContacts(kept, cancel, &loaded.cancelled, &runs);
    qCDebug(lcStorage) << "Roster load:" << loaded.rows << "members read in" << readMs << "ms, merged in"
                       << phase.elapsed() << "ms in" << runs << "runs" << (loaded.cancelled ? "(cancelled)" : "")
                       << loaded.result.error;
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

Storage::Loaded RosterStore::readRoster(const RosterSource &next, const std::atomic<bool> *cancel,
                                        KeptRosterLines &kept)
{
    Loaded loaded;
    QString failure;
    loaded.result = clearMembers();
    if (!loaded.result.ok())
        return loaded;
    {
        Direct::Statement member(memoryDb, Sql::InsertMember);
        while (const RosterLine *line = next()) {
            ++loaded.rows;
            bindField(member, 1, *line->fields, 0);
            if (!member.run()) {
                failure = member.error();
                break;
            }
            if (line->withContact)
                kept.add(*line->fields, line->phone.toUtf8());
        }
    }
    loaded.cancelled = failure.isEmpty() && cancel && cancel->load();
    if (!failure.isEmpty()) {
        loaded.result = Result::failed(Result::WriteFailed, failure);
        loaded.rows = 0;
    }
    return loaded;
}

Result RosterStore::mergeRosterContacts(const KeptRosterLines &kept, const std::atomic<bool> *cancel, bool *cancelled,
                                        int *runs)
{
    // The look-ups of a big file's contacts read pages from the disk, one at
    // a time: by call first, which walks the index of calls in its order,
    // then the rows in the table's order. New contacts are added in the
    // file's order.
    std::vector<qsizetype> byCall(size_t(kept.count()));
    std::iota(byCall.begin(), byCall.end(), 0);
    std::sort(byCall.begin(), byCall.end(),
              [&kept](qsizetype a, qsizetype b) { return kept.utf8(a, 0) < kept.utf8(b, 0); });
    QString failure;
    for (;;) {
        ++*runs;
        letWindowWrite();
        if (!Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure))
            return Result::failed(Result::WriteFailed, failure);
        const qint64 since = steadyNs();
        // The window wants the lock, or the operator stopped the load.
        const auto stopped = [&] { return windowTriedAt.load() > since || (cancel && cancel->load()); };
        bool stop = false;
        {
            RosterMerge merge(fileDb);
            std::vector<std::pair<qint64, qsizetype>> found; // contact id, line
            std::vector<qsizetype> missing;
            for (const qsizetype line : byCall) {
                if ((stop = stopped()))
                    break;
                merge.findId.bindUtf8Static(1, kept.utf8(line, 0));
                if (merge.findId.next())
                    found.emplace_back(merge.findId.integer(0), line);
                else if (merge.findId.failed())
                    failure = merge.findId.error();
                else
                    missing.push_back(line);
                merge.findId.reset();
                if (!failure.isEmpty())
                    break;
            }
            std::sort(found.begin(), found.end());
            for (size_t i = 0; !stop && failure.isEmpty() && i < found.size(); ++i) {
                if ((stop = stopped()))
                    break;
                const LineFields line{kept, found[i].second};
                merge.row.bindInt(1, found[i].first);
                if (merge.row.next()) {
                    if (merge.changes(line) && !merge.updateRow(line))
                        failure = merge.update.error();
                } else if (merge.row.failed()) {
                    failure = merge.row.error();
                }
                merge.row.reset();
            }
            std::sort(missing.begin(), missing.end());
            for (size_t i = 0; !stop && failure.isEmpty() && i < missing.size(); ++i) {
                if ((stop = stopped()))
                    break;
                if (!merge.insertRow(LineFields{kept, missing[i]}))
                    failure = merge.insert.error();
            }
        }
        if (failure.isEmpty() && !stop && Direct::exec(fileDb, "COMMIT", &failure))
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
