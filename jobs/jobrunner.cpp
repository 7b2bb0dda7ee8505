#include "jobs/jobrunner.h"

#include "app/logging.h"

#include <QAtomicInt>
#include <QDeadlineTimer>
#include <QList>

namespace {
QAtomicInt leftRunning;
} // namespace

JobRunner::JobRunner(QObject *parent) : QObject(parent)
{
}

JobRunner::~JobRunner()
{
    stopAll();
}

int JobRunner::threadsLeft()
{
    return leftRunning.loadRelaxed();
}

JobRunner::Id JobRunner::start(const QString &name, QObject *owner, const Work &work,
                               const std::function<void()> &ended, QThread::Priority priority, Ending ending)
{
    Job job;
    job.name = name;
    job.owner = owner;
    job.owned = owner != nullptr;
    job.ended = ended;
    job.ending = ending;
    job.cancelled = std::make_shared<std::atomic<bool>>(false);
    // The thread holds a share of its flag: one left running at the end
    // never reads freed memory.
    const std::shared_ptr<std::atomic<bool>> cancelled = job.cancelled;
    job.thread = QThread::create([work, cancelled] { work(*cancelled); });
    QThread *thread = job.thread;
    add(std::move(job));
    thread->start(priority);
    return lastId;
}

QThread *JobRunner::startLoop(const QString &name, QObject *owner, Id *id, Ending ending)
{
    Job job;
    job.name = name;
    job.owner = owner;
    job.owned = owner != nullptr;
    job.ending = ending;
    job.cancelled = std::make_shared<std::atomic<bool>>(false);
    job.thread = new QThread();
    QThread *thread = job.thread;
    *id = add(std::move(job));
    thread->start();
    return thread;
}

JobRunner::Id JobRunner::add(Job job)
{
    const Id id = ++lastId;
    job.thread->setObjectName(job.name);
    // Queued: finished() comes from the ending thread itself.
    connect(
        job.thread, &QThread::finished, this, [this, id] { reap(id); }, Qt::QueuedConnection);
    job.clock.start();
    qCDebug(lcJobs).noquote() << "started:" << job.name;
    jobs.insert(id, std::move(job));
    return id;
}

void JobRunner::reap(Id id)
{
    const auto found = jobs.find(id);
    if (found == jobs.end())
        return; // ended by stopOwnedBy() already
    Job job = std::move(found.value());
    jobs.erase(found);
    job.thread->wait();
    delete job.thread;
    qCDebug(lcJobs).noquote().nospace() << "ended: " << job.name << " after " << job.clock.elapsed() << " ms"
                                        << (job.cancelled->load() ? " (cancelled)" : "");
    if (job.ended && (!job.owned || job.owner))
        job.ended();
}

void JobRunner::cancel(Id id)
{
    const auto found = jobs.find(id);
    if (found == jobs.end())
        return;
    if (!found->cancelled->exchange(true))
        qCDebug(lcJobs).noquote().nospace()
            << "cancelling: " << found->name << " after " << found->clock.elapsed() << " ms";
    found->thread->quit();
}

void JobRunner::stop(Id id)
{
    cancel(id);
    const auto found = jobs.find(id);
    if (found != jobs.end())
        found->thread->wait();
}

void JobRunner::stopOwnedBy(const QObject *owner)
{
    QList<Id> ending;
    for (auto it = jobs.cbegin(); it != jobs.cend(); ++it) {
        if (!owner || it->owner.data() == owner)
            ending.append(it.key());
    }
    for (const Id id : std::as_const(ending))
        cancel(id);
    const QDeadlineTimer deadline(endWaitMs);
    for (const Id id : std::as_const(ending)) {
        Job job = jobs.take(id);
        const bool joined = job.ending == Ending::Join ? job.thread->wait() : job.thread->wait(deadline);
        if (joined) {
            delete job.thread;
            qCDebug(lcJobs).noquote().nospace()
                << "ended: " << job.name << " after " << job.clock.elapsed() << " ms (stopped)";
            continue;
        }
        // Stuck in a call on a link that went silent: the job touches
        // nothing of ours, so the process may end around it.
        disconnect(job.thread, nullptr, this, nullptr);
        leftRunning.ref();
        qCWarning(lcJobs).noquote().nospace()
            << "left running: " << job.name << " after " << job.clock.elapsed() << " ms";
    }
}

bool JobRunner::running(Id id) const
{
    return jobs.contains(id);
}
