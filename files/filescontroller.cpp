#include "files/filescontroller.h"

#include "app/constants.h"
#include "app/logging.h"
#include "app/prompter.h"
#include "data/csv.h"
#include "data/schema.h"
#include "data/storagesql.h"
#include "data/tablereading.h"
#include "files/csvinput.h"
#include "files/filewriting.h"
#include "jobs/background.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStatusBar>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace {
const char ContactsHeader[] = "\"Call\",\"Name\",\"Last\",\"Class\",\"Expire\",\"Address\",\"City\",\"St\",\"ZIP\","
                              "\"Country\",\"Email\",\"Phone\",\"Lat\",\"Lon\",\"Grid\",\"Source\",\"UTC\",\"DST\","
                              "\"Born\"\n";
const char LogHeader[] = "\"Date\",\"Time\",\"S\",\"Station\",\"Operator\",\"Relay\",\"City\",\"St\",\"Comments\"\n";
const char ContactsFilter[] = "Contacts Files (Contacts*.csv);;All Files (*.*)";
const char LogFilter[] = "Trelvin Files (Trelvin*.csv);;All Files (*.*)";

struct TableFile {
    const char *header;
    int fields;
    int callField; // a line without a call there means nothing and is skipped
    const char *what;
    // For the box when a file gives nothing: what this file is, what a file
    // of the other kind is and how many fields its lines have, what was kept.
    const char *kind;
    const char *otherKind;
    int otherFields;
    const char *kept;
};

const TableFile ContactsFile{ContactsHeader,
                             Schema::ContactFields,
                             0,
                             "Loading contacts",
                             "contacts file",
                             "net-log file",
                             Schema::LogFields,
                             "The contacts were left as they were."};
const TableFile LogFile{LogHeader,
                        Schema::LogFields,
                        3,
                        "Loading the net log",
                        "net-log file",
                        "contacts or roster file",
                        Schema::ContactFields,
                        "The net log was left as it was."};

const TableFile &fileOf(Storage::Table table)
{
    return table == Storage::Table::Contacts ? ContactsFile : LogFile;
}

bool isBlank(QByteArrayView field)
{
    return std::all_of(field.begin(), field.end(), [](char ch) { return ch == ' ' || ch == '\t'; });
}

// As long as the window's other status-bar notes.
} // namespace

FilesController::FilesController(const Widgets &widgets, Storage &store, Host hooks, QObject *parent)
    : QObject(parent), w(widgets), storage(store), host(std::move(hooks))
{
}

bool FilesController::saveRows(const QString &fileName, const QString &header,
                               const std::function<Storage::Result(CsvWriter &)> &rows)
{
    // A file written from a database that is not open, or that could not be
    // read to its end, would hold less than the one it replaces.
    if (!storage.contactsOpen()) {
        reportUnwritableFile(fileName,
                             QStringLiteral("the contacts database is not open; the file was left as it was"));
        return false;
    }
    const QString refused = unsaveableTarget(fileName);
    if (!refused.isEmpty()) {
        reportUnwritableFile(fileName, refused);
        return false;
    }
    CsvWriter out(fileName);
    out.append(header);
    const Storage::Result read = rows(out);
    if (!read.ok()) {
        reportUnwritableFile(fileName, "the contacts database could not be read (" + read.error
                                           + "); the file was left as it was");
        return false;
    }
    if (!out.commit()) {
        reportUnwritableFile(fileName, out.errorString());
        return false;
    }
    return true;
}

namespace {
// What a save on the worker came to.
struct TableSave {
    Storage::Result read;
    bool written = false;
    bool cancelled = false;
    qint64 rows = 0;
    QString writeError;
};

// A big table is read by two threads at once, each on its own connection,
// from one state of the file: alternate stretches of ids each, every
// stretch written once the one before it is out. The file holds the rows
// in stored order, as one reader would have written them, in about half
// the time on two cores.
constexpr qint64 StretchIds = 16384;

struct Stretches {
    Stretches(Storage::Table which, CsvWriter &writer, const std::atomic<bool> &cancel)
        : table(which), out(writer), cancelled(cancel)
    {
    }
    const Storage::Table table;
    CsvWriter &out;
    const std::atomic<bool> &cancelled;
    qint64 firstId = 1;
    qint64 count = 0;
    std::atomic<qint64> rows{0};
    std::mutex mutex;
    std::condition_variable turn;
    qint64 next = 0;   // the stretch to be written next
    bool stop = false; // a read failed or Cancel: the other thread stops too
    Storage::Result failure;

    // The stretches `first`, `first` + 2, ...: each read, then written in
    // its turn.
    void run(const QSqlDatabase &db, qint64 first, const std::function<void()> &written)
    {
        CsvText text;
        for (qint64 k = first; k < count; k += 2) {
            text.clear();
            qint64 read = 0;
            const qint64 from = firstId + k * StretchIds;
            const Storage::Result result =
                TableReading::eachRowBetween(db, table, from, from + StretchIds - 1, [&](const StoredRow &row) {
                    if (!cancelled.load(std::memory_order_relaxed)) {
                        text.appendRecord(row, 1);
                        ++read;
                    }
                });
            std::unique_lock<std::mutex> lock(mutex);
            if (!result.ok() || cancelled.load()) {
                if (!result.ok() && failure.ok())
                    failure = result;
                stop = true;
                turn.notify_all();
                return;
            }
            turn.wait(lock, [&] { return stop || next == k; });
            if (stop)
                return;
            lock.unlock();
            // Only the stretch whose turn it is goes out: one writer at a time.
            out.appendText(text);
            rows += read;
            lock.lock();
            ++next;
            turn.notify_all();
            lock.unlock();
            if (written)
                written();
        }
    }
};

// Saves `table` through `out` on this thread (on `worker`'s connection) and
// one more; the rows or the failure go into `outcome`.
void saveOnTwoThreads(Storage &worker, const QString &path, Storage::Table table, CsvWriter &out,
                      const std::atomic<bool> &cancelled, const std::function<void(qint64)> &progress,
                      TableSave &outcome)
{
    Stretches shared(table, out, cancelled);
    std::promise<Storage::Result> opened;
    std::promise<void> holding;
    std::promise<Storage::Result> began;
    std::promise<bool> ready;
    std::thread second([&] {
        Storage reader(workerConnectionName());
        Storage::Result result = reader.openWorker(path, true);
        opened.set_value(result);
        if (!result.ok())
            return;
        holding.get_future().wait();
        result = TableReading::beginReading(reader.contactsDb());
        began.set_value(result);
        if (!result.ok())
            return;
        if (ready.get_future().get())
            shared.run(reader.contactsDb(), 1, {});
        TableReading::endReading(reader.contactsDb());
    });
    Storage::Result result = opened.get_future().get();
    if (result.ok()) {
        // Both readers begin while no write can come between them.
        const TableReading::WritesHeld held(path);
        result = held.result();
        if (result.ok())
            result = TableReading::beginReading(worker.contactsDb());
        holding.set_value();
        const Storage::Result other = began.get_future().get();
        if (result.ok())
            result = other;
    }
    if (result.ok())
        result = TableReading::idRange(worker.contactsDb(), table, &shared.firstId, &shared.count);
    // idRange gave the last id: the count of stretches follows from it.
    shared.count = shared.count < shared.firstId ? 0 : (shared.count - shared.firstId) / StretchIds + 1;
    ready.set_value(result.ok());
    if (result.ok())
        shared.run(worker.contactsDb(), 0, [&] { progress(shared.rows.load()); });
    second.join();
    TableReading::endReading(worker.contactsDb());
    outcome.read = result.ok() ? shared.failure : result;
    outcome.rows = shared.rows.load();
}
} // namespace

void FilesController::saveTable(Storage::Table table, const QString &fileName)
{
    if (!storage.contactsOpen()) {
        reportUnwritableFile(fileName,
                             QStringLiteral("the contacts database is not open; the file was left as it was"));
        return;
    }
    const QString refused = unsaveableTarget(fileName);
    if (!refused.isEmpty()) {
        reportUnwritableFile(fileName, refused);
        return;
    }
    if (host.refuseBulkJob())
        return;
    // The rows go out as UTF-8 straight from SQLite, in slices, so a table
    // of a million rows never sits in memory as one text. A big table is
    // read on a connection of its own, from a snapshot of its own, while the
    // window goes on; a cancelled save leaves the old file as it was.
    const qint64 total = storage.contacts().rowCount(table);
    const QString path = storage.contactsDb().databaseName();
    const QString header = QString::fromLatin1(fileOf(table).header);
    auto outcome = std::make_shared<TableSave>();
    const QString what = table == Storage::Table::Contacts ? QStringLiteral("Saving the contacts")
                                                           : QStringLiteral("Saving the net log");
    const bool onThread = total > inlineRows;
    host.runFileWork(
        what, what + QStringLiteral("..."), QStringLiteral("Stop saving; the file is left as it was"), onThread,
        [outcome, path, onThread, fileName, header, table, total](const std::atomic<bool> &cancelled,
                                                                  const std::function<void(int)> &progress) {
            QElapsedTimer phase;
            phase.start();
            Storage worker(workerConnectionName());
            outcome->read = worker.openWorker(path, onThread);
            if (!outcome->read.ok())
                return;
            const qint64 openMs = phase.restart();
            CsvWriter out(fileName);
            out.append(header);
            const auto permille = [&](qint64 done) {
                if (total > 0)
                    progress(int(qMin<qint64>(1000, done * 1000 / total)));
            };
            if (onThread) {
                saveOnTwoThreads(worker, path, table, out, cancelled, permille, *outcome);
            } else {
                qint64 done = 0;
                outcome->read = worker.contacts().eachRow(table, [&](const StoredRow &row) {
                    if (cancelled.load(std::memory_order_relaxed))
                        return;
                    out.appendRecord(row, 1);
                    if ((++done & 1023) == 0)
                        permille(done);
                });
                outcome->rows = done;
            }
            outcome->cancelled = cancelled.load();
            const qint64 rowsMs = phase.restart();
            if (outcome->read.ok() && !outcome->cancelled) {
                outcome->written = out.commit();
                outcome->writeError = out.errorString();
            }
            qCDebug(lcFiles) << "Save:" << outcome->rows << "rows; opened in" << openMs << "ms, rows written in"
                             << rowsMs << "ms, file committed in" << phase.elapsed() << "ms";
        },
        [this, outcome, fileName, what] {
            qCDebug(lcFiles).noquote().nospace()
                << what << " to " << fileName << ": " << outcome->rows << " rows, written " << outcome->written
                << (outcome->cancelled ? " (cancelled)" : "");
            if (outcome->cancelled) {
                w.statusBar->showMessage(what + QStringLiteral(" cancelled; the file was left as it was."),
                                         Trel::StatusMessageMs);
            } else if (!outcome->read.ok()) {
                reportUnwritableFile(fileName, "the contacts database could not be read (" + outcome->read.error
                                                   + "); the file was left as it was");
            } else if (!outcome->written) {
                reportUnwritableFile(fileName, outcome->writeError);
            }
        });
}

void FilesController::reportUnwritableFile(const QString &fileName, const QString &reason)
{
    emit errorLine(::reportUnwritableFile(fileName, reason));
}

void FilesController::reportNothingLoaded(const QString &fileName, const QString &reason, const QString &kept)
{
    Prompter::instance()->message(Prompter::Warning, QStringLiteral("Nothing Loaded"),
                                  nothingLoadedText(fileName, reason, kept));
    emit errorLine("Nothing was loaded from '" + fileName + "': " + reason);
}

struct TableFileLoad {
    bool opened = false;
    FileText content = FileText::Text;
    LineTally tally;
    qint64 withoutCall = 0; // lines of the right length skipped for an empty call
    QStringList log;
    Storage::Loaded loaded;
};

namespace {

// The next line of `input` that goes into the table, counted into the
// outcome's tally, or null at the end or on Cancel. Every line of the right
// length is stored; a line of another length is skipped and logged.
const CsvBytes *nextTableLine(CsvInput &input, const TableFile &spec, TableFileLoad &outcome, LineLog &log,
                              qint64 &lineNumber, const QString &fileName, const std::atomic<bool> &cancelled)
{
    LineTally &tally = outcome.tally;
    while (input.next()) {
        // A long run of skipped lines stops on Cancel too.
        if (cancelled.load(std::memory_order_relaxed))
            return nullptr;
        ++lineNumber;
        if (!input.isBlank()) {
            ++tally.filled;
            if (input.size() == spec.otherFields)
                ++tally.otherKind;
        }
        if (input.size() != spec.fields) {
            log.skipped(QStringLiteral("File '%1' line %2 has %3 fields instead of %4; the line was skipped.")
                            .arg(fileName)
                            .arg(lineNumber)
                            .arg(input.size())
                            .arg(spec.fields));
            continue;
        }
        if (isBlank(input.utf8(spec.callField))) {
            ++outcome.withoutCall;
            log.skipped(QStringLiteral("File '%1' line %2 has no call sign; the line was skipped.")
                            .arg(fileName)
                            .arg(lineNumber));
            continue;
        }
        ++tally.taken;
        if (input.converted())
            log.converted(lineNumber);
        return &input.fields();
    }
    return nullptr;
}

// The worker's part of a load: the file read and stored on a connection of
// its own, in slices of a few milliseconds.
void readTableFile(TableFileLoad &outcome, const QString &fileName, const QString &path, bool onThread,
                   Storage::Table table, qint64 lastOldId, const TableFile &spec, const std::atomic<bool> &cancelled,
                   const std::function<void(int)> &progress)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    outcome.opened = true;
    // A file that is no text is refused before anything is written.
    CsvInput input(file);
    outcome.content = input.content();
    if (outcome.content != FileText::Text)
        return;
    Storage worker(workerConnectionName());
    outcome.loaded.result = worker.openWorker(path, onThread);
    if (!outcome.loaded.result.ok())
        return;

    LineLog log([&outcome](const QString &text) { outcome.log.append(text); }, fileName,
                QStringLiteral("... and %1 more lines of '%2' were skipped"));
    const qint64 size = qMax<qint64>(1, file.size());
    qint64 lineNumber = 1;
    input.skipLine();
    outcome.loaded = worker.contacts().replaceTableInSlices(
        table, lastOldId, [&]() { return nextTableLine(input, spec, outcome, log, lineNumber, fileName, cancelled); },
        &cancelled, [&] { progress(int(input.position() * 1000 / size)); });
    if (!outcome.loaded.cancelled)
        log.finish();
}
} // namespace

void FilesController::loadTable(Storage::Table table, const QString &fileName)
{
    if (host.refuseBulkJob())
        return;
    const TableFile &spec = fileOf(table);
    const QString path = storage.contactsDb().databaseName();
    const bool onThread = QFileInfo(fileName).size() > inlineFileBytes;
    // Rows stored from here on, by check-ins during the load, are kept.
    const qint64 lastOldId = storage.contacts().lastRowId(table);
    auto outcome = std::make_shared<TableFileLoad>();
    const QString what = QString::fromLatin1(spec.what);
    // A check-in during the load waits for one slice at most and is kept,
    // and Cancel leaves the old table whole.
    host.runFileWork(
        what, what + QStringLiteral("..."), "Stop loading; " + QString::fromLatin1(spec.kept).toLower(), onThread,
        // `spec` is one of the static table descriptions.
        [outcome, fileName, path, onThread, table, lastOldId, &spec](const std::atomic<bool> &cancelled,
                                                                     const std::function<void(int)> &progress) {
            readTableFile(*outcome, fileName, path, onThread, table, lastOldId, spec, cancelled, progress);
        },
        [this, outcome, fileName, table] { finishTableLoad(*outcome, fileName, table); });
}

void FilesController::finishTableLoad(const TableFileLoad &outcome, const QString &fileName, Storage::Table table)
{
    const TableFile &spec = fileOf(table);
    for (const QString &line : std::as_const(outcome.log))
        emit errorLine(line);
    const Storage::Loaded &loaded = outcome.loaded;
    if (loaded.replacedLeft)
        dropReplaced();
    qCDebug(lcFiles).noquote().nospace() << spec.what << " from " << fileName << ": " << loaded.rows << " rows of "
                                         << outcome.tally.filled << " lines, " << outcome.withoutCall
                                         << " without a call" << (loaded.cancelled ? " (cancelled)" : "");
    if (!outcome.opened) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                                      QStringLiteral("The File you selected could not be Opened."));
        emit errorLine("File '" + fileName + "' Could not be Opened.");
        return;
    }
    if (outcome.content != FileText::Text) {
        reportNothingLoaded(fileName, refusalReason(outcome.content), QString::fromLatin1(spec.kept));
        return;
    }
    if (loaded.cancelled) {
        w.statusBar->showMessage(QString::fromLatin1(spec.what) + QStringLiteral(" cancelled. ")
                                     + QString::fromLatin1(spec.kept),
                                 Trel::StatusMessageMs);
        return;
    }
    if (loaded.result.ok() && loaded.rows > 0) {
        if (table == Storage::Table::Contacts)
            emit contactsChanged();
        return;
    }
    if (loaded.result.ok()) {
        const QString reason = outcome.tally.reason(
            QStringLiteral("This is a %1 (%2 fields a line); a %3 has %4.")
                .arg(QLatin1String(spec.otherKind))
                .arg(spec.otherFields)
                .arg(QLatin1String(spec.kind))
                .arg(spec.fields),
            outcome.withoutCall > 0
                ? QStringLiteral("No line of %1 fields has a call sign.").arg(spec.fields)
                : QStringLiteral("No line has the %1 fields of a %2.").arg(spec.fields).arg(QLatin1String(spec.kind)));
        reportNothingLoaded(fileName, reason, QString::fromLatin1(spec.kept));
        return;
    }
    Prompter::instance()->message(Prompter::Critical, QStringLiteral("Database Write Failed"),
                                  QString::fromLatin1("The contacts database could not store this change:\n")
                                      + spec.what + " from " + fileName + "\n\nThe previous rows were kept.");
    emit errorLine(QString::fromLatin1("Database write failed (") + spec.what + " from " + fileName
                   + "): " + loaded.result.error);
}

void FilesController::dropReplaced()
{
    // A load that ended while the last one's table was still being dropped
    // stopped that drop and left its own: one more round once it is over.
    if (dropping) {
        dropAgain = true;
        return;
    }
    if (!host.runBeside || closing)
        return;
    dropping = true;
    dropAgain = false;
    const QString path = storage.contactsDb().databaseName();
    auto killedLoads = std::make_shared<QStringList>();
    host.runBeside(
        QStringLiteral("After a load: the replaced table dropped, the last index built"),
        [path, killedLoads](const std::atomic<bool> &cancelled) {
            Storage worker(workerConnectionName());
            Storage::Result result = worker.openWorker(path, true);
            if (result.ok())
                result = worker.contacts().finishAfterLoad(cancelled, killedLoads.get());
            // Left as they are, the next load or start does the rest.
            if (!result.ok())
                qCInfo(lcFiles) << "After a load:" << result.error;
        },
        [this, path, killedLoads] {
            dropping = false;
            for (const QString &table : std::as_const(*killedLoads))
                emit errorLine("Contacts database '" + path + "': table '" + table
                               + "', left by a load that did not end, was dropped.");
            if (dropAgain)
                dropReplaced();
        });
}

void FilesController::close()
{
    closing = true;
    // The work after a load stops at its next slice or look at the clock.
    if (dropping)
        StorageSql::stopDroppingReplaced();
}

void FilesController::saveContacts()
{
    if (host.refuseBulkJob())
        return;
    const QString proposed =
        host.dataDir() + "/Contacts-" + QDate::currentDate().toString(QStringLiteral("yyMMdd")) + ".csv";
    const QString name = Prompter::instance()->saveFileName(QStringLiteral("Save Contacts Database File"), proposed,
                                                            QString::fromLatin1(ContactsFilter));
    if (!name.isEmpty())
        saveTable(Storage::Table::Contacts, name);
}

void FilesController::saveNetLog()
{
    if (host.refuseBulkJob())
        return;
    const QString proposed =
        host.dataDir() + "/Trelvin-" + QDate::currentDate().toString(QStringLiteral("yyMMdd")) + ".csv";
    const QString name = Prompter::instance()->saveFileName(QStringLiteral("Save Net Log File"), proposed,
                                                            QString::fromLatin1(LogFilter));
    if (!name.isEmpty())
        saveTable(Storage::Table::Log, name);
}

void FilesController::loadContacts()
{
    if (host.refuseBulkJob())
        return;
    const QString name = Prompter::instance()->openFileName(QStringLiteral("Open Contact Database File"),
                                                            host.dataDir(), QString::fromLatin1(ContactsFilter));
    if (name.isEmpty())
        return;
    loadTable(Storage::Table::Contacts, name);
}

void FilesController::loadNetLog()
{
    if (host.refuseBulkJob())
        return;
    const QString name = Prompter::instance()->openFileName(QStringLiteral("Open Net Log File"), host.dataDir(),
                                                            QString::fromLatin1(LogFilter));
    if (!name.isEmpty())
        loadTable(Storage::Table::Log, name);
}
