#include "callbook/callbookimport.h"

#include "app/logging.h"
#include "data/callbookstore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace CallBook {

namespace {

// Shares of the bar: reading the files, then writing the call book.
constexpr int ReadShare = 600;

QDateTime modified(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        // An unpacked weekly file is as old as its header file.
        const QFileInfo header(QDir(path).filePath(QStringLiteral("HD.dat")));
        return header.exists() ? header.lastModified() : info.lastModified();
    }
    return info.lastModified();
}

// The rows of the call book made on a thread of their own, a few batches
// ahead of the thread that writes them: SQLite then has one core to itself.
class RowFeed {
public:
    RowFeed(const Fcc::Licences &from, const Fcc::ZipCentres &centres) : licences(from), zips(centres)
    {
        for (Batch &batch : batches)
            empty.push_back(&batch);
        // A helper of the import's own thread, not a job: it works only on
        // this feed, and the destructor stops and joins it, so `this`
        // outlives it.
        maker = std::thread([this] { make(); });
    }
    ~RowFeed()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        maker.join();
    }
    RowFeed(const RowFeed &) = delete;
    RowFeed &operator=(const RowFeed &) = delete;

    // The next row, or false after the last.
    bool next(CallBookRow &row)
    {
        if (current && taken < current->rows.size()) {
            row = current->rows[taken++];
            return true;
        }
        std::unique_lock<std::mutex> lock(mutex);
        if (current) {
            empty.push_back(current);
            current = nullptr;
            changed.notify_all();
        }
        changed.wait(lock, [this] { return !ready.empty() || made; });
        if (ready.empty())
            return false;
        current = ready.front();
        ready.pop_front();
        lock.unlock();
        taken = 0;
        row = current->rows[taken++];
        return true;
    }

private:
    struct Batch {
        std::vector<CallBookRow> rows;
        Fcc::Arena scratch; // the rows' text, one field after the other
    };
    static constexpr qint64 BatchRows = 4096;

    void make()
    {
        const qint64 count = licences.count();
        for (qint64 first = 0; first < count; first += BatchRows) {
            Batch *batch = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [this] { return !empty.empty() || stopping; });
                if (stopping)
                    return;
                batch = empty.front();
                empty.pop_front();
            }
            const qint64 size = std::min(BatchRows, count - first);
            batch->rows.resize(size_t(size));
            batch->scratch.clear();
            for (qint64 i = 0; i < size; ++i)
                licences.row(first + i, zips, batch->rows[size_t(i)], batch->scratch);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                ready.push_back(batch);
            }
            changed.notify_all();
        }
        {
            const std::lock_guard<std::mutex> lock(mutex);
            made = true;
        }
        changed.notify_all();
    }

    const Fcc::Licences &licences;
    const Fcc::ZipCentres &zips;
    Batch batches[4];
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Batch *> empty;
    std::deque<Batch *> ready;
    bool made = false;
    bool stopping = false;
    Batch *current = nullptr; // the batch being written, of the writing thread alone
    size_t taken = 0;
    std::thread maker;
};

} // namespace

QStringList dailyFiles(const QString &weekly)
{
    const QFileInfo info(weekly);
    const QDir dir = info.isDir() ? QDir(weekly) : info.dir();
    const QDateTime since = modified(weekly);
    QList<QFileInfo> found;
    for (const QFileInfo &daily :
         dir.entryInfoList({QStringLiteral("l_am_*.zip")}, QDir::Files | QDir::Readable | QDir::CaseSensitive)) {
        if (daily.absoluteFilePath() != info.absoluteFilePath() && daily.lastModified() >= since)
            found.append(daily);
    }
    // Lower case is the FCC's spelling; a copy may have been renamed.
    for (const QFileInfo &daily : dir.entryInfoList({QStringLiteral("L_AM_*.ZIP")}, QDir::Files | QDir::Readable)) {
        if (daily.lastModified() >= since
            && std::none_of(found.cbegin(), found.cend(),
                            [&](const QFileInfo &f) { return f.absoluteFilePath() == daily.absoluteFilePath(); })
            && daily.absoluteFilePath() != info.absoluteFilePath())
            found.append(daily);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const QFileInfo &a, const QFileInfo &b) { return a.lastModified() < b.lastModified(); });
    QStringList paths;
    for (const QFileInfo &daily : found)
        paths.append(daily.absoluteFilePath());
    return paths;
}

namespace {

using StageReport = std::function<void(int permille, const QString &stage)>;

// Reads the weekly file, then the daily ones after it, into `licences`;
// false when `outcome` says why not (an error, or a cancel).
bool readLicences(const QStringList &files, Fcc::Licences &licences, ImportOutcome &outcome,
                  const std::atomic<bool> *cancel, const StageReport &report)
{
    // The weekly file is most of the work; the daily ones share the rest.
    const int weeklyShare = files.size() > 1 ? ReadShare * 9 / 10 : ReadShare;
    for (int i = 0; i < files.size(); ++i) {
        const QString &path = files.at(i);
        const QString name = QFileInfo(path).fileName();
        const int from = i == 0 ? 0 : weeklyShare + (ReadShare - weeklyShare) * (i - 1) / int(files.size() - 1);
        const int to = i == 0 ? weeklyShare : weeklyShare + (ReadShare - weeklyShare) * i / int(files.size() - 1);
        const QString stage = "Reading " + name;
        report(from, stage);
        QString error;
        std::unique_ptr<Fcc::Source> source = Fcc::Source::open(path, &error);
        if (!source) {
            outcome.error = error;
            return false;
        }
        const bool read = licences.read(
            *source, outcome.report, &error, cancel,
            [&](qint64 done, qint64 total) { report(from + int(total > 0 ? (to - from) * done / total : 0), stage); },
            i + 1 == files.size());
        if (!read) {
            if ((cancel && cancel->load()) || error.isEmpty())
                outcome.status = ImportOutcome::Cancelled;
            else
                outcome.error = error;
            return false;
        }
        outcome.files.append(path);
    }
    return true;
}

} // namespace

ImportOutcome runImport(const ImportRequest &request, const std::atomic<bool> *cancel, const ImportProgress &progress)
{
    ImportOutcome outcome;
    outcome.target = request.target;
    const auto isCancelled = [cancel] { return cancel && cancel->load(); };
    int lastPermille = -1;
    QString lastStage;
    const auto report = [&](int permille, const QString &stage) {
        if (progress && (permille != lastPermille || stage != lastStage)) {
            lastPermille = permille;
            lastStage = stage;
            progress(permille, stage);
        }
    };

    Fcc::Licences licences;
    if (!readLicences(QStringList{request.source} + dailyFiles(request.source), licences, outcome, cancel, report))
        return outcome;
    if (isCancelled()) {
        outcome.status = ImportOutcome::Cancelled;
        return outcome;
    }

    const qint64 rows = licences.prepare(outcome.report);
    if (rows == 0) {
        outcome.error = QFileInfo(request.source).fileName() + " holds no active licence.";
        return outcome;
    }
    Fcc::ZipCentres zips;
    outcome.withoutPositions = request.zipCentres.isEmpty() || !zips.load(request.zipCentres) || zips.isEmpty();

    const QString stage = "Writing " + QFileInfo(request.target).fileName();
    report(ReadShare, stage);
    outcome.fresh = request.target + ".new";
    Storage::Result written;
    {
        RowFeed feed(licences, zips);
        written = CallBookStore::write(
            outcome.fresh, outcome.files.join(QStringLiteral(", ")),
            [&feed](CallBookRow &row) { return feed.next(row); }, cancel,
            [&](qint64 done) { report(ReadShare + int((1000 - ReadShare) * done / rows), stage); });
    }
    if (isCancelled()) {
        // Cancelled after the last row was written: the file goes all the same.
        QFile::remove(outcome.fresh);
        outcome.status = ImportOutcome::Cancelled;
        outcome.fresh.clear();
        return outcome;
    }
    if (!written.ok()) {
        outcome.error = "The new call book could not be written: " + written.shortError;
        outcome.fresh.clear();
        return outcome;
    }
    outcome.licences = rows;
    outcome.status = ImportOutcome::Done;
    return outcome;
}

} // namespace CallBook

CallBookImport::CallBookImport(JobRunner *jobRunner, QObject *parent) : QObject(parent), runner(jobRunner)
{
}

CallBookImport::~CallBookImport()
{
    if (!job)
        return;
    // Joined here, or by the runner should it have gone first.
    if (runner)
        runner->stopOwnedBy(this);
    // The file it may have finished is not going to be used.
    if (pending && !pending->fresh.isEmpty())
        QFile::remove(pending->fresh);
}

bool CallBookImport::start(const CallBook::ImportRequest &request)
{
    if (job || !runner)
        return false;
    result = CallBook::ImportOutcome();
    pending = std::make_shared<CallBook::ImportOutcome>();
    const std::shared_ptr<CallBook::ImportOutcome> outcome = pending;
    qCDebug(lcCallbook) << "import from" << request.source << "into" << request.target;
    // `this` goes to the thread for the progress signal: the destructor
    // joins the thread before the object goes.
    job = runner->start(
        QStringLiteral("the call-book import"), this,
        [this, request, outcome](const std::atomic<bool> &cancelled) {
            *outcome = CallBook::runImport(
                request, &cancelled, [this](int permille, const QString &stage) { emit progress(permille, stage); });
        },
        [this, outcome] {
            job = 0;
            result = *outcome;
            pending.reset();
            qCDebug(lcCallbook).noquote().nospace()
                << "import ended: status " << int(result.status) << ", " << result.licences << " licences, "
                << result.report.skippedCount << " lines skipped " << result.error;
            emit finished();
        });
    return true;
}

void CallBookImport::cancel()
{
    if (job && runner)
        runner->cancel(job);
}

void CallBookImport::stop()
{
    if (job && runner)
        runner->stop(job);
}
