#include "data/callbookstore.h"

#include "data/direct.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <unistd.h>
#endif

using Result = Storage::Result;

namespace {

inline constexpr char CreateLicence[] =
    "CREATE TABLE licence (call TEXT PRIMARY KEY NOT NULL, first TEXT, middle TEXT, last TEXT, street TEXT, "
    "city TEXT, state TEXT, zip TEXT, class TEXT, granted TEXT, expires TEXT, previous TEXT, trustee TEXT, "
    "lat REAL, lon REAL) WITHOUT ROWID";
inline constexpr char CreateNotes[] = "CREATE TABLE notes (name TEXT PRIMARY KEY NOT NULL, value TEXT)";
inline constexpr char InsertLicence[] =
    "INSERT OR REPLACE INTO licence (call, first, middle, last, street, city, state, zip, class, granted, expires, "
    "previous, trustee, lat, lon) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
inline constexpr char SelectLicence[] =
    "SELECT call, first, middle, last, street, city, state, zip, class, granted, expires, previous, trustee, lat, "
    "lon FROM licence WHERE call = ?";

// Rows between two looks at the cancel flag and two progress reports.
constexpr qint64 RowsPerCheck = 8192;

// Asks the system to start writing what SQLite has handed it of a file
// being filled, while SQLite goes on: the sync at the end then waits for
// the last part only, not for the whole file. Closing this second
// descriptor drops the process's POSIX locks on the file; that is harmless
// only because the file is the import's own new one, which nothing else
// opens until it is renamed into place.
class EarlyWriteBack {
public:
    explicit EarlyWriteBack(const QString &path)
    {
#ifdef Q_OS_LINUX
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
#else
        Q_UNUSED(path);
#endif
    }
    ~EarlyWriteBack()
    {
#ifdef Q_OS_LINUX
        if (fd >= 0)
            ::close(fd);
#endif
    }
    EarlyWriteBack(const EarlyWriteBack &) = delete;
    EarlyWriteBack &operator=(const EarlyWriteBack &) = delete;

    void start()
    {
#ifdef Q_OS_LINUX
        if (fd >= 0)
            sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    }

private:
    int fd = -1;
};

// Rows between two requests to start writing the file out.
constexpr qint64 RowsPerWriteBack = 65536;

QString uniqueName(const char *kind)
{
    return QLatin1String(kind) + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// The licences and the notes into the open, empty file, in the transaction
// begun; `cancelled` when `cancel` was set on the way.
Result writeRows(const QSqlDatabase &db, const QString &path, const QString &source,
                 const CallBookStore::RowSource &next, const std::atomic<bool> *cancel,
                 const CallBookStore::Progress &progress, bool &cancelled)
{
    Result result;
    Direct::Lock lock(db);
    EarlyWriteBack writeBack(path);
    Direct::Statement insert(db, InsertLicence);
    if (!insert.ok())
        result = Result::failed(Result::WriteFailed, insert.error());
    CallBookRow row;
    qint64 written = 0;
    while (result.ok() && next(row)) {
        const QByteArrayView texts[13] = {row.call,    row.first,    row.middle, row.last,         row.street,
                                          row.city,    row.state,    row.zip,    row.licenceClass, row.granted,
                                          row.expires, row.previous, row.trustee};
        for (int i = 0; i < 13; ++i)
            insert.bindUtf8Static(i + 1, texts[i]);
        if (row.hasPosition) {
            insert.bindDouble(14, row.lat);
            insert.bindDouble(15, row.lon);
        } else {
            insert.bindNull(14);
            insert.bindNull(15);
        }
        if (!insert.run()) {
            result = Result::failed(Result::WriteFailed, insert.error());
            break;
        }
        if (++written % RowsPerWriteBack == 0)
            writeBack.start();
        if (written % RowsPerCheck == 0) {
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                cancelled = true;
                break;
            }
            if (progress)
                progress(written);
        }
    }
    if (result.ok() && !cancelled) {
        Direct::Statement note(db, "INSERT INTO notes (name, value) VALUES (?, ?)");
        const QString notes[][2] = {{QStringLiteral("source"), source},
                                    {QStringLiteral("written"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                                    {QStringLiteral("licences"), QString::number(written)}};
        for (const auto &pair : notes) {
            note.bindString(1, pair[0]);
            note.bindString(2, pair[1]);
            if (!note.run())
                result = Result::failed(Result::WriteFailed, note.error());
        }
        if (progress)
            progress(written);
    }
    return result;
}

} // namespace

CallBookStore::CallBookStore() : connectionName(uniqueName("callbook-"))
{
}

CallBookStore::~CallBookStore()
{
    close();
}

bool CallBookStore::open(const QString &path, QString *error)
{
    close();
    if (!QFileInfo::exists(path))
        return false;
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(path);
    // Only ever read here: an import writes a new file beside it.
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open()) {
        if (error)
            *error = db.lastError().text();
        close();
        return false;
    }
    lookUp = std::make_unique<Direct::Statement>(db, SelectLicence);
    if (!lookUp->ok()) {
        if (error)
            *error = path + " holds no call book: " + lookUp->error();
        close();
        return false;
    }
    filePath = path;
    return true;
}

void CallBookStore::close()
{
    lookUp.reset();
    if (db.isValid()) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
    }
    filePath.clear();
}

bool CallBookStore::isOpen() const
{
    return lookUp != nullptr;
}

qint64 CallBookStore::count() const
{
    if (!isOpen())
        return -1;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT count(*) FROM licence")) || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

std::optional<CallBookRecord> CallBookStore::byCall(const QString &call, Result *failure) const
{
    if (!isOpen() || call.isEmpty())
        return std::nullopt;
    Direct::Statement &statement = *lookUp;
    statement.bindString(1, call);
    std::optional<CallBookRecord> found;
    if (statement.next()) {
        CallBookRecord record;
        QString *fields[13] = {&record.call,    &record.first,    &record.middle, &record.last,         &record.street,
                               &record.city,    &record.state,    &record.zip,    &record.licenceClass, &record.granted,
                               &record.expires, &record.previous, &record.trustee};
        for (int i = 0; i < 13; ++i)
            *fields[i] = statement.string(i);
        record.hasPosition = !statement.isNull(13) && !statement.isNull(14);
        if (record.hasPosition) {
            record.lat = statement.real(13);
            record.lon = statement.real(14);
        }
        found = record;
    } else if (statement.failed() && failure) {
        *failure = Result::failed(Result::ReadFailed, statement.error());
    }
    statement.reset();
    return found;
}

Result CallBookStore::write(const QString &path, const QString &source, const RowSource &next,
                            const std::atomic<bool> *cancel, const Progress &progress)
{
    QFile::remove(path);
    const QString name = uniqueName("callbook-writer-");
    Result result;
    bool cancelled = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            result = Result::failed(Result::WriteFailed, db.lastError());
        } else {
            // The file is not in use until it is complete and renamed: no
            // journal is needed, and the one sync at the end is enough.
            QString failure;
            const bool ready = Direct::exec(db, "PRAGMA journal_mode=OFF", &failure)
                               && Direct::exec(db, "PRAGMA synchronous=FULL", &failure)
                               && Direct::exec(db, "PRAGMA locking_mode=EXCLUSIVE", &failure)
                               && Direct::exec(db, "PRAGMA cache_size=-65536", &failure)
                               && Direct::exec(db, CreateLicence, &failure) && Direct::exec(db, CreateNotes, &failure)
                               && Direct::exec(db, "BEGIN", &failure);
            if (!ready)
                result = Result::failed(Result::WriteFailed, failure);
            if (ready)
                result = writeRows(db, path, source, next, cancel, progress, cancelled);
            if (ready && result.ok() && !cancelled) {
                if (!Direct::exec(db, "COMMIT", &failure))
                    result = Result::failed(Result::WriteFailed, failure);
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!result.ok() || cancelled)
        QFile::remove(path);
    return result;
}

Result CallBookStore::replace(const QString &fresh, const QString &target)
{
#ifdef Q_OS_WIN
    const bool moved =
        MoveFileExW(reinterpret_cast<const wchar_t *>(fresh.utf16()), reinterpret_cast<const wchar_t *>(target.utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!moved)
        return Result::failed(Result::WriteFailed,
                              QStringLiteral("cannot replace %1 (error %2)").arg(target).arg(GetLastError()));
#else
    // rename() replaces the target in one step.
    if (std::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(target).constData()) != 0)
        return Result::failed(
            Result::WriteFailed,
            QStringLiteral("cannot replace %1: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno))));
#endif
    return Result();
}
