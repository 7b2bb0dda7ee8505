#include "reports/reportfill.h"

#include "app/logging.h"
#include "data/storage.h"
#include "jobs/background.h"
#include "jobs/bulkjob.h"
#include "jobs/jobrunner.h"
#include "reports/seelogs.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextCursor>
#include <QTimer>

namespace {
// Appending to the window costs about this much a turn at most, so that
// keys and paints come between the chunks.
constexpr int AppendSliceMs = 12;
} // namespace

// Chunks handed from the worker to the window.
struct ReportFill::Inbox {
    QMutex mutex;
    QStringList chunks;
    qint64 count = 0;
    bool ended = false;
};

struct ReportFill::Running {
    Request request;
    std::shared_ptr<Inbox> inbox = std::make_shared<Inbox>();
    BackgroundWork *work = nullptr;
    qint64 chunksShown = 0;
    qint64 linesShown = 0;
    QElapsedTimer clock; // for the developers' log
};

ReportFill::ReportFill(BulkJob *bulkJob, JobRunner *jobRunner, QObject *parent)
    : QObject(parent), job(bulkJob), runner(jobRunner), appendTimer(new QTimer(this))
{
    // The chunks go in from a timer, not from the worker's posted events:
    // Qt delivers every posted event in one pass, which would append all
    // waiting chunks without a turn of the event loop between them.
    appendTimer->setSingleShot(true);
    appendTimer->setInterval(0);
    connect(appendTimer, &QTimer::timeout, this, &ReportFill::takeChunks);
}

void ReportFill::wake()
{
    if (!appendTimer->isActive())
        appendTimer->start();
}

ReportFill::~ReportFill()
{
    // The bulk job may be gone already: only the threads are ended here.
    waiting.clear();
    current.reset();
    for (BackgroundWork *work : findChildren<BackgroundWork *>())
        work->stop();
}

void ReportFill::request(const Request &request)
{
    drop(request.window);
    waiting.append(request);
    startNext();
}

void ReportFill::drop(SeeLogs *window)
{
    waiting.erase(
        std::remove_if(waiting.begin(), waiting.end(), [window](const Request &r) { return r.window == window; }),
        waiting.end());
    if (current && current->request.window == window)
        finish(true);
}

bool ReportFill::filling() const
{
    return current != nullptr;
}

void ReportFill::yield()
{
    if (!current)
        return;
    Request again = current->request;
    finish(true);
    waiting.prepend(again);
}

void ReportFill::resume()
{
    startNext();
}

void ReportFill::stopAll()
{
    waiting.clear();
    finish(true);
    // Threads of fills cancelled earlier end too.
    for (BackgroundWork *work : findChildren<BackgroundWork *>())
        work->stop();
}

void ReportFill::startNext()
{
    if (current || waiting.isEmpty() || job->running())
        return;
    current = std::make_unique<Running>();
    current->request = waiting.takeFirst();
    current->clock.start();
    const Request &request = current->request;
    job->begin(request.name, "Filling " + request.name + "...", QStringLiteral("Stop filling the report"),
               [this] { finish(true); });

    SeeLogs *window = request.window;
    window->logView()->setLineWrapMode(QPlainTextEdit::NoWrap);
    if (window->headerView()->toPlainText() != request.header)
        window->headerView()->setPlainText(request.header);

    // The worker owns copies of what it needs: the window may start another
    // fill before this one's thread has ended.
    const std::shared_ptr<Inbox> inbox = current->inbox;
    const QString path = request.contactsPath;
    const std::optional<QStringList> members = request.members;
    const Body body = request.body;
    const QPointer<ReportFill> self(this);
    current->work = new BackgroundWork(runner, this);
    BackgroundWork *work = current->work;
    connect(work, &BackgroundWork::progress, job, qOverload<int>(&BulkJob::setProgress));
    connect(work, &BackgroundWork::finished, this, [this, work] {
        work->deleteLater();
        if (current && current->work == work) {
            current->work = nullptr;
            wake();
        }
    });
    const qint64 expected = qMax<qint64>(1, request.expectedLines);
    const int first = firstLines;
    const int later = chunkLines;
    qCDebug(lcReports).noquote() << "filling" << request.name << "of about" << request.expectedLines << "lines";
    work->start(
        [inbox, path, members, body, self, expected, first, later](const std::atomic<bool> &cancelled,
                                                                   const std::function<void(int)> &progress) {
            readChunks(*inbox, self, path, members, body, expected, first, later, cancelled, progress);
        },
        true, request.name);
}

void ReportFill::readChunks(Inbox &inbox, const QPointer<ReportFill> &self, const QString &path,
                            const std::optional<QStringList> &members, const Body &body, qint64 expected, int first,
                            int later, const std::atomic<bool> &cancelled, const std::function<void(int)> &progress)
{
    const auto post = [&](QString &text, bool last, qint64 count) {
        {
            QMutexLocker lock(&inbox.mutex);
            if (!text.isEmpty())
                inbox.chunks.append(text);
            if (last) {
                inbox.ended = true;
                inbox.count = count;
            }
        }
        text = QString();
        if (self)
            QMetaObject::invokeMethod(self.data(), &ReportFill::wake, Qt::QueuedConnection);
    };
    Storage reader(workerConnectionName());
    Storage::Result opened = reader.openWorker(path, true);
    // A cancelled fill stops reading at once: the exit waits for it.
    reader.stopReadingWhen(&cancelled);
    if (opened.ok() && members)
        opened = reader.roster().setMembers(*members);
    // A file that cannot be read gives an empty report, as a failed read in
    // one go does.
    if (!opened.ok()) {
        QString none;
        post(none, true, 0);
        return;
    }
    QString text;
    qint64 lines = 0;
    qint64 inChunk = 0;
    qint64 limit = first;
    const qint64 count = body(reader, text, [&] {
        ++lines;
        if (++inChunk < limit)
            return;
        inChunk = 0;
        limit = later;
        if (cancelled.load(std::memory_order_relaxed)) {
            text.resize(0);
            return;
        }
        post(text, false, 0);
        progress(int(qMin<qint64>(1000, lines * 1000 / expected)));
    });
    // Cut short: nothing more is handed over.
    if (cancelled.load(std::memory_order_relaxed))
        return;
    post(text, true, count);
}

void ReportFill::takeChunks()
{
    if (!current)
        return;
    QElapsedTimer slice;
    slice.start();
    QPlainTextEdit *log = current->request.window->logView();
    for (;;) {
        QString chunk;
        bool ended = false;
        {
            QMutexLocker lock(&current->inbox->mutex);
            if (!current->inbox->chunks.isEmpty())
                chunk = current->inbox->chunks.takeFirst();
            ended = current->inbox->ended && current->inbox->chunks.isEmpty();
        }
        if (!chunk.isNull()) {
            if (current->chunksShown++ == 0) {
                // The whole text goes in with setPlainText, as a report built
                // in one go does; the undo history would only keep a copy.
                log->setUndoRedoEnabled(false);
                log->setPlainText(chunk);
                log->moveCursor(QTextCursor::Start);
                qCDebug(lcReports).noquote().nospace()
                    << current->request.name << ": first screen after " << current->clock.elapsed() << " ms";
                emit firstScreen(current->request.window);
            } else {
                QTextCursor end(log->document());
                end.movePosition(QTextCursor::End);
                end.insertText(QLatin1Char('\n') + chunk);
            }
        }
        if (ended && current->work && current->work->running())
            return; // the thread's end brings us back
        if (ended) {
            finish(false);
            return;
        }
        if (chunk.isNull())
            return; // the worker posts again with the next chunk
        if (slice.elapsed() >= AppendSliceMs) {
            wake();
            return;
        }
    }
}

void ReportFill::finish(bool cancelled)
{
    if (!current)
        return;

    std::unique_ptr<Running> ended = std::move(current);
    if (ended->work && ended->work->running())
        ended->work->cancel();
    SeeLogs *window = ended->request.window;
    qCDebug(lcReports).noquote().nospace() << ended->request.name << ": " << ended->chunksShown << " chunks shown in "
                                           << ended->clock.elapsed() << " ms" << (cancelled ? " (stopped)" : "");
    if (!cancelled) {
        if (ended->chunksShown == 0) {
            // No line at all: the window is emptied as a report of nothing is.
            window->logView()->setPlainText(QString());
        }
        qint64 count = 0;
        {
            QMutexLocker lock(&ended->inbox->mutex);
            count = ended->inbox->count;
        }
        if (ended->request.done)
            ended->request.done(count);
    }
    job->end();
    emit filled(window, cancelled);
    // The next fill starts from the event loop, after whatever ended this one.
    QTimer::singleShot(0, this, &ReportFill::startNext);
}
