#include "data/storage.h"

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

int windowWalWritten(void *, sqlite3 *db, const char *name, int frames)
{
    // SQLite's own rule otherwise: a passive checkpoint from 1,000 pages on.
    if (frames >= 1000 && loadsRunning.load() == 0)
        sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return SQLITE_OK;
}

// The window's busy handler: tries again every half millisecond (SQLite's
// own handler backs off to 100 ms between tries) for `BusyTimeoutMs`.
int windowBusy(void *, int count)
{
    // One wait at a time per thread.
    thread_local qint64 started = 0;
    const qint64 now = steadyNs();
    if (count == 0)
        started = now;
    // While a load runs, a change waits for the lock rather than being
    // refused: the load gives way at its next row or slice, and a check-in
    // stored late is better than one the operator must give again.
    const qint64 limitMs = loadsRunning.load() > 0 ? 60'000 : Schema::BusyTimeoutMs;
    if (now - started >= limitMs * 1'000'000)
        return 0;
    windowTriedAt.store(now);
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    return 1;
}

// Names what the three stored tables lack, one line per table; the text is
// SQLite's when the file cannot even be read.
QString missingColumns(const QSqlDatabase &db, QStringList &missing)
{
    for (const Schema::TableColumns &expected : Schema::StoredColumns) {
        QSqlQuery info(db);
        if (!info.exec(QStringLiteral("PRAGMA table_info(%1)").arg(QLatin1String(expected.table))))
            return info.lastError().text();
        QStringList present;
        while (info.next())
            present.append(info.value(1).toString().toLower());
        // A table that is not there yet is created; only a table made
        // without some columns would fail every statement that names them.
        if (present.isEmpty())
            continue;
        QStringList lacking;
        for (const QString &column : QString::fromLatin1(expected.columns).split(QLatin1Char(' '))) {
            if (!present.contains(column))
                lacking.append(column);
        }
        if (!lacking.isEmpty())
            missing.append(QStringLiteral("Table '%1' lacks the columns: %2.")
                               .arg(QLatin1String(expected.table), lacking.join(QStringLiteral(", "))));
    }
    return QString();
}

// Journal and sync of Contacts.db. `warning` says why the file could not be
// put in WAL mode, which is not fatal.
QString prepareContactsFile(const QSqlDatabase &db, QString &warning)
{
    QSqlQuery query(db);
    // In WAL mode a search or a contact display reads on while another
    // program holds the write lock, and a commit costs one sync; a full
    // sync keeps every commit whole on a power cut.
    QString mode;
    if (query.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && query.next())
        mode = query.value(0).toString();
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        // Another program holding the file, or a file system without shared
        // memory: the rollback journal still works, only reads may wait.
        warning = "Contacts database '" + db.databaseName() + "' could not be switched to WAL mode ("
                  + (mode.isEmpty() ? query.lastError().text() : "journal mode " + mode)
                  + "); searches may wait while another program writes to it.";
    }
    if (!query.exec(QStringLiteral("PRAGMA synchronous = FULL")))
        return query.lastError().text();
    // The log grows to the size of a whole contacts load; without a limit
    // it would keep that size on disk until the program ends.
    if (!query.exec(QStringLiteral("PRAGMA journal_size_limit = %1").arg(Schema::WalSizeLimit)))
        return query.lastError().text();
    return QString();
}

// The connections' names; a second Storage in one process (two programs in
// one test) gets names of its own.
QString freeName(const char *name)
{
    QString free = QString::fromLatin1(name);
    for (int n = 2; QSqlDatabase::contains(free); ++n)
        free = QString::fromLatin1(name) + '-' + QString::number(n);
    return free;
}

int readStopped(void *flag)
{
    return static_cast<const std::atomic<bool> *>(flag)->load(std::memory_order_relaxed) ? 1 : 0;
}

bool hasIndex(const QSqlDatabase &db, const QString &name)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT 1 FROM sqlite_schema WHERE type = 'index' AND name = ?"));
    query.addBindValue(name);
    return query.exec() && query.next();
}

// max(rowid) reads one page; a table not made yet counts as empty.
qint64 tableRows(const QSqlDatabase &db, const QString &table)
{
    QSqlQuery query(db);
    return query.exec("SELECT max(rowid) FROM " + table) && query.next() ? query.value(0).toLongLong() : 0;
}

// The tables and indexes the opening creates at once. The missing indexes
// of a big table go to `later` instead.
QStringList creatableNow(const QSqlDatabase &db, QList<QByteArray> &later)
{
    QStringList creates;
    for (const char *statement :
         {Schema::CreateContact, Schema::CreateLog, Schema::CreateStation, Schema::IndexContactCall,
          Schema::IndexContactSuffix, Schema::IndexLogCall, Schema::IndexLogDate}) {
        const QString sql = QString::fromLatin1(statement);
        if (sql.startsWith(QLatin1String("CREATE INDEX"))) {
            // "CREATE INDEX IF NOT EXISTS <name> ON <table>(<columns>)". A
            // table loaded beside the old one keeps its index under the
            // second name (see replaceTableInSlices).
            const QString name = sql.section(QLatin1Char(' '), 5, 5);
            if (hasIndex(db, name + QLatin1String("_2")))
                continue;
            const QString table = sql.section(QLatin1Char(' '), 7, 7).section(QLatin1Char('('), 0, 0);
            if (!hasIndex(db, name) && tableRows(db, table) > Storage::InlineIndexRows) {
                later.append(QByteArray(statement));
                continue;
            }
        }
        creates.append(sql);
    }
    return creates;
}

} // namespace

namespace StorageSql {

QString netTableProblem(const QSqlDatabase &db)
{
    QStringList problems;
    for (const Schema::TypedColumns &expected : Schema::NetTables) {
        const QString table = QLatin1String(expected.table);
        QSqlQuery info(db);
        if (!info.exec(QStringLiteral("PRAGMA main.table_info(%1)").arg(table)))
            return info.lastError().text();
        QList<QPair<QString, QString>> present;
        while (info.next())
            present.append({info.value(1).toString(), info.value(2).toString().toUpper()});
        if (present.isEmpty())
            continue;
        QStringList lacking, wrongType, unknown;
        for (const auto &column : expected.columns) {
            const QString name = QLatin1String(column.first);
            const auto found = std::find_if(present.cbegin(), present.cend(), [&](const auto &p) {
                return p.first.compare(name, Qt::CaseInsensitive) == 0;
            });
            if (found == present.cend())
                lacking.append(name);
            else if (found->second != QLatin1String(column.second))
                wrongType.append(QStringLiteral("%1 is %2, not %3")
                                     .arg(name, found->second.isEmpty() ? QStringLiteral("untyped") : found->second,
                                          QLatin1String(column.second)));
        }
        for (const auto &column : present) {
            const bool known = std::any_of(expected.columns.cbegin(), expected.columns.cend(), [&](const auto &c) {
                return column.first.compare(QLatin1String(c.first), Qt::CaseInsensitive) == 0;
            });
            if (!known)
                unknown.append(column.first);
        }
        if (!lacking.isEmpty())
            problems.append(QStringLiteral("Table '%1' lacks the columns: %2.").arg(table, lacking.join(", ")));
        if (!wrongType.isEmpty())
            problems.append(QStringLiteral("Table '%1' has other column types: %2.").arg(table, wrongType.join(", ")));
        if (!unknown.isEmpty())
            problems.append(QStringLiteral("Table '%1' has columns this program does not know: %2.")
                                .arg(table, unknown.join(", ")));
        if (!lacking.isEmpty() || !wrongType.isEmpty())
            continue;
        // Declared right yet holding values of another kind: written by
        // something else, and not to be trusted either.
        QStringList checks;
        for (const QString &column : QString::fromLatin1(expected.integers).split(QLatin1Char(' ')))
            checks.append(QStringLiteral("typeof(%1) NOT IN ('integer', 'null')").arg(column));
        QSqlQuery values(db);
        if (!values.exec(QStringLiteral("SELECT COUNT(*) FROM main.%1 WHERE %2").arg(table, checks.join(" OR "))))
            return values.lastError().text();
        if (values.next() && values.value(0).toLongLong() > 0)
            problems.append(QStringLiteral("Table '%1' holds %2 rows with text where numbers belong.")
                                .arg(table)
                                .arg(values.value(0).toLongLong()));
    }
    return problems.join(QLatin1Char(' '));
}

} // namespace StorageSql

// ---- Values.

QStringList ContactRecord::values() const
{
    return {call,  name,  last, licenceClass, expire, address, city, state, zip, country,
            email, phone, lat,  lon,          grid,   source,  utc,  dst,   born};
}

ContactRecord ContactRecord::fromValues(const QStringList &values)
{
    ContactRecord record;
    QString *const fields[] = {&record.call,    &record.name,  &record.last,  &record.licenceClass, &record.expire,
                               &record.address, &record.city,  &record.state, &record.zip,          &record.country,
                               &record.email,   &record.phone, &record.lat,   &record.lon,          &record.grid,
                               &record.source,  &record.utc,   &record.dst,   &record.born};
    for (int k = 0; k < int(std::size(fields)); ++k)
        *fields[k] = values.value(k);
    return record;
}

int StoredRow::columns() const
{
    return statement.columnCount();
}

QByteArrayView StoredRow::utf8(int column) const
{
    return statement.utf8(column);
}

Result Result::failed(Failure failure, const QSqlError &error)
{
    Result result = failed(failure, error.text());
    if (!error.databaseText().isEmpty())
        result.shortError = error.databaseText();
    return result;
}

Result Result::failed(Failure failure, const QString &error)
{
    Result result;
    result.failure = failure;
    result.error = error;
    result.shortError = error;
    return result;
}

// ---- Opening and closing.

Storage::Storage()
    : memoryDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), freeName(Trel::MemoryConnection))),
      fileDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), freeName(Trel::FileConnection))),
      contactStore(std::make_unique<ContactStore>(*this)),
      netLogStore(std::make_unique<NetLogStore>(*this)),
      rosterStore(std::make_unique<RosterStore>(*this)),
      journalStore(std::make_unique<JournalStore>(*this))
{
}

Storage::~Storage()
{
    // The connections may outlive this object: their hooks must not.
    for (const QSqlDatabase &db : {memoryDb, fileDb}) {
        if (sqlite3 *handle = Direct::handle(db)) {
            sqlite3_update_hook(handle, nullptr, nullptr);
            sqlite3_set_authorizer(handle, nullptr, nullptr);
            sqlite3_rollback_hook(handle, nullptr, nullptr);
            sqlite3_commit_hook(handle, nullptr, nullptr);
        }
    }
    if (workerName.isEmpty())
        return;
    forgetStatements(memoryDb);
    forgetStatements(fileDb);
    memoryDb.close();
    fileDb.close();
    // Qt removes a connection only when no handle to it is left.
    memoryDb = QSqlDatabase();
    fileDb = QSqlDatabase();
    QSqlDatabase::removeDatabase(workerName + QStringLiteral("-memory"));
    QSqlDatabase::removeDatabase(workerName + QStringLiteral("-file"));
}

Storage::Opening Storage::openContacts(const QString &path)
{
    Opening opening;
    netDurable = false;
    forgetStatements(fileDb);
    // The journal's triggers belong to the connection that is closed here.
    journalling = false;
    // Setting a new name on an open connection only takes effect after a reopen.
    if (fileDb.isOpen())
        fileDb.close();
    fileDb.setDatabaseName(path);

    if (fileDb.open()) {
        QSqlQuery query(fileDb);
        checkFile(opening, query);
        createTables(opening, query);
        readyForWindow(opening, query);
        if (!opening.ok()) {
            fileDb.close();
            opening.unbuiltIndexes.clear();
        }
    } else {
        opening.failure = fileDb.lastError().text();
    }

    contactStore->fileOpened();
    attachContacts();
    if (!opening.ok())
        qCInfo(lcStorage) << "Contacts.db cannot serve:" << opening.failure << opening.missing;
    else if (!opening.dropped.isEmpty())
        qCInfo(lcStorage) << "Dropped what killed loads left:" << opening.dropped;
    return opening;
}

// Whether the opened file can serve, and its journal mode and sync.
void Storage::checkFile(Opening &opening, QSqlQuery &query)
{
    // An existing file that is not a database opens fine and only fails
    // at its first read; without this check the program would go on
    // storing nothing.
    // Some SQLite builds zero every freed page, which makes replacing a
    // table of a million contacts write it all twice; freed pages are
    // only zeroed where that costs no extra writes.
    query.exec(QStringLiteral("PRAGMA secure_delete = FAST"));
    // Checked before anything is written: a file made elsewhere must stay
    // as it was when it cannot serve.
    opening.failure = missingColumns(fileDb, opening.missing);
    if (opening.ok()) {
        opening.netProblem = netTableProblem(fileDb);
        netDurable = opening.netProblem.isEmpty();
    }
    if (opening.ok())
        opening.failure = prepareContactsFile(fileDb, opening.warning);
}

// The tables and indexes the file lacks, and tonight's net beside a net
// table this program cannot use.
void Storage::createTables(Opening &opening, QSqlQuery &query)
{
    // The look-ups by call run on every station shown and every check-in;
    // the indexes keep them fast on a database of many years (a big table
    // scans meanwhile: slow, but the window is up). One transaction: one
    // sync instead of one per statement.
    if (opening.ok() && !fileDb.transaction())
        opening.failure = fileDb.lastError().text();
    QStringList creates = creatableNow(fileDb, opening.unbuiltIndexes);
    if (netDurable) {
        creates.append(QLatin1String("CREATE TABLE IF NOT EXISTS net ") + QLatin1String(Schema::NetColumns));
        creates.append(QLatin1String("CREATE TABLE IF NOT EXISTS netmark ") + QLatin1String(Schema::NetMarkColumns));
    }
    for (const QString &statement : creates) {
        if (!opening.ok())
            break;
        if (!query.exec(statement))
            opening.failure = query.lastError().text();
    }
    if (opening.ok() && !fileDb.commit())
        opening.failure = fileDb.lastError().text();
    // A net table this program cannot use stays as it is; tonight's net
    // is kept beside it for this run only, and the names resolve to it
    // first.
    if (opening.ok() && !netDurable) {
        for (const char *columns : {Schema::NetColumns, Schema::NetMarkColumns}) {
            const QString name = columns == Schema::NetColumns ? QStringLiteral("net") : QStringLiteral("netmark");
            if (opening.ok() && !query.exec("CREATE TEMP TABLE " + name + " " + QLatin1String(columns)))
                opening.failure = query.lastError().text();
        }
    }
}

// What killed loads left, dropped; then the window's short waits for locks.
void Storage::readyForWindow(Opening &opening, QSqlQuery &query)
{
    // A load that was killed part-way left its new table (or the old one
    // it replaced) behind: nothing reads it, and it would keep its space
    // in the file for good. A big one goes beside the window: its drop
    // takes a second at a million rows.
    for (const char *table : {"contact_loading", "contact_replaced", "log_loading", "log_replaced"}) {
        if (!opening.ok() || !schemaHas(fileDb, table))
            continue;
        if (tableRows(fileDb, QString::fromLatin1(table)) > InlineIndexRows) {
            opening.leftOverBeside = true;
            continue;
        }
        QString failure;
        if (dropInParts(fileDb, table, &failure, 1000))
            opening.dropped.append(QString::fromLatin1(table));
        else
            opening.failure = failure;
    }
    // Start-up waited as long as Qt's default for a lock; from here on a
    // statement fails fast instead of freezing the window.
    if (opening.ok() && !query.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(Schema::BusyTimeoutMs)))
        opening.failure = query.lastError().text();
    if (opening.ok()) {
        if (sqlite3 *handle = Direct::handle(fileDb)) {
            sqlite3_busy_handler(handle, windowBusy, nullptr);
            sqlite3_wal_hook(handle, windowWalWritten, nullptr);
        }
    }
}

bool Storage::openMemory()
{
    forgetStatements(memoryDb);
    memoryDb.setDatabaseName(QStringLiteral(":memory:"));
    if (!memoryDb.open())
        return false;
    QSqlQuery query(memoryDb);
    query.exec(QStringLiteral("PRAGMA secure_delete = FAST"));
    // Contacts.db is attached to this connection too: the search reads it
    // here and must not wait long on another program's lock.
    query.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(Schema::BusyTimeoutMs));
    return true;
}

Result Storage::createMemoryTables()
{
    Result result;
    QSqlQuery query(memoryDb);
    for (const char *statement : {Schema::CreateMbr, Schema::CreateCandidate, Schema::CreateLatlon}) {
        if (!query.exec(QString::fromLatin1(statement)) && result.ok())
            result = Result::failed(Result::WriteFailed, query.lastError());
    }
    return result;
}

Result Storage::addStateCentres(const QList<StateCentre> &centres)
{
    if (!memoryDb.transaction())
        return Result::failed(Result::WriteFailed, memoryDb.lastError());
    Result result;
    QSqlQuery query(memoryDb);
    query.prepare(QStringLiteral("INSERT INTO latlon (id, st, lat, lon) VALUES (NULL, ?, ?, ?)"));
    for (const StateCentre &centre : centres) {
        query.addBindValue(centre.state);
        // Stored as the file's text read into a float, as ever: the
        // station's position shown in its dialog is this value's text.
        query.addBindValue(centre.lat.toFloat());
        query.addBindValue(centre.lon.toFloat());
        if (!query.exec()) {
            result = Result::failed(Result::WriteFailed, query.lastError());
            break;
        }
    }
    if (result.ok() && memoryDb.commit())
        return result;
    if (result.ok())
        result = Result::failed(Result::WriteFailed, memoryDb.lastError());
    memoryDb.rollback();
    return result;
}

void Storage::attachContacts()
{
    if (!detachContacts() || !fileDb.isOpen() || !memoryDb.isOpen())
        return;
    QSqlQuery attach(memoryDb);
    attach.prepare(QStringLiteral("ATTACH DATABASE ? AS contacts"));
    attach.addBindValue(fileDb.databaseName());
    attached = attach.exec();
    if (attached)
        contactStore->watchContacts(memoryDb, false);
}

bool Storage::detachContacts()
{
    if (attached)
        attached = !QSqlQuery(memoryDb).exec(QStringLiteral("DETACH DATABASE contacts"));
    return !attached;
}

void Storage::close()
{
    contactStore->fileClosing();
    forgetStatements(memoryDb);
    forgetStatements(fileDb);
    memoryDb.close();
    fileDb.close();
    attached = false;
}

void Storage::journalChanged()
{
    if (journalling && journalWritten)
        journalWritten();
}

std::optional<Coordinates> Storage::stateCentre(const QString &state) const
{
    const Reused query = reused(memoryDb, "SELECT lat, lon FROM latlon WHERE st=?");
    query->addBindValue(state);
    if (!query->exec() || !query->next())
        return std::nullopt;
    return Coordinates{query->value(0).toDouble(), query->value(1).toDouble()};
}

Storage::Snapshot::Snapshot(const Storage &storage)
    : transaction(std::make_unique<Direct::ReadTransaction>(storage.fileDb))
{
}

Storage::Snapshot::~Snapshot() = default;

void Storage::inFile(Result &result, const std::function<bool()> &change)
{
    // The write lock is taken at once, where the busy handler waits for a
    // load's slice: a transaction that read first and then wrote would fail
    // at once when a slice held the lock, or had committed since the read.
    QString failure;
    if (!Direct::exec(fileDb, "BEGIN IMMEDIATE", &failure)) {
        result = Result::failed(Result::WriteFailed, failure);
        return;
    }
    // `change` has said what failed.
    if (!change()) {
        qCDebug(lcStorage) << "Change rolled back:" << result.error;
        fileDb.rollback();
        return;
    }
    if (!fileDb.commit()) {
        result = Result::failed(Result::WriteFailed, fileDb.lastError());
        fileDb.rollback();
        return;
    }
    if (journalling && journalWritten)
        journalWritten();
}

Storage::Reused::Reused(QSqlQuery *kept, bool *keptInUse, std::unique_ptr<QSqlQuery> fresh)
    : query(kept ? kept : fresh.get()), inUse(keptInUse), owned(std::move(fresh))
{
    if (inUse)
        *inUse = true;
}

Storage::Reused::~Reused()
{
    query->finish();
    if (inUse)
        *inUse = false;
}

Storage::Reused Storage::reused(const QSqlDatabase &db, const char *sql) const
{
    Kept &kept = statements[{&db, sql}];
    if (!kept.query) {
        auto query = std::make_unique<QSqlQuery>(db);
        query->setForwardOnly(true);
        if (query->prepare(QString::fromUtf8(sql)))
            kept.query = std::move(query);
    }
    if (kept.query && !kept.inUse)
        return Reused(kept.query.get(), &kept.inUse, nullptr);
    auto fresh = std::make_unique<QSqlQuery>(db);
    fresh->setForwardOnly(true);
    fresh->prepare(QString::fromUtf8(sql));
    return Reused(nullptr, nullptr, std::move(fresh));
}

void Storage::forgetStatements(const QSqlDatabase &db)
{
    for (auto it = statements.begin(); it != statements.end();) {
        if (it->first.first == &db && !it->second.inUse)
            it = statements.erase(it);
        else
            ++it;
    }
}

// ---- Bulk work on a thread of its own.

Storage::Storage(const QString &name)
    : memoryDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name + QStringLiteral("-memory"))),
      fileDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name + QStringLiteral("-file"))),
      workerName(name),
      contactStore(std::make_unique<ContactStore>(*this)),
      netLogStore(std::make_unique<NetLogStore>(*this)),
      rosterStore(std::make_unique<RosterStore>(*this)),
      journalStore(std::make_unique<JournalStore>(*this))
{
}

Result Storage::openWorker(const QString &path, bool onThread)
{
    // The window holds the write lock for one check-in at a time; a worker
    // may wait for it far longer than the window ever waits.
    fileDb.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(onThread ? 30000 : Schema::BusyTimeoutMs));
    fileDb.setDatabaseName(path);
    if (!fileDb.open())
        return Result::failed(Result::ReadFailed, fileDb.lastError());
    QString failure;
    // A small cache: see WorkerCacheKiB.
    if (!Direct::exec(fileDb, "PRAGMA secure_delete = FAST", &failure)
        || !Direct::exec(fileDb, "PRAGMA synchronous = FULL", &failure)
        || !Direct::exec(fileDb, cacheSizePragma(WorkerCacheKiB).constData(), &failure))
        return Result::failed(Result::ReadFailed, failure);
    contactStore->watchAsWorker();
    memoryDb.setDatabaseName(QStringLiteral(":memory:"));
    if (!memoryDb.open())
        return Result::failed(Result::ReadFailed, memoryDb.lastError());
    return Result();
}

void Storage::stopReadingWhen(const std::atomic<bool> *flag)
{
    readStop = flag;
    // Without the handle (Qt's own SQLite) the loops still stop between rows.
    for (const QSqlDatabase &db : {fileDb, memoryDb}) {
        if (sqlite3 *handle = Direct::handle(db))
            sqlite3_progress_handler(handle, 1000, flag ? readStopped : nullptr, const_cast<std::atomic<bool> *>(flag));
    }
}
