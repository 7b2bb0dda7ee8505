#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

// Every thread the program starts besides the window's own goes through one
// runner: file loads and saves, report fills, the call-book import, the
// club server's link and its connection test. It starts them, asks them to
// stop, and joins them, so that nothing still runs when the data it works
// on is closed. It is used from the thread it lives on (the window's).
class JobRunner : public QObject {
    Q_OBJECT

public:
    using Id = quint64;
    // Reads `cancelled` between pieces of its work and returns soon after it
    // turned true.
    using Work = std::function<void(const std::atomic<bool> &cancelled)>;

    // How the end treats a job: joined, or, for one that may sit in a
    // network call that nothing can interrupt, waited for at most
    // `endWaitMs` and then left to the end of the process. Such a job must
    // not touch local data nor anything of its owner.
    enum class Ending { Join, MayBeLeft };

    explicit JobRunner(QObject *parent = nullptr);
    // Stops and joins every job (stopAll()).
    ~JobRunner() override;

    // Runs `work` on a thread of its own. `ended` comes on the runner's
    // thread once the thread has finished, as long as `owner` still exists;
    // the jobs of an owner are ended with stopOwnedBy(owner).
    Id start(const QString &name, QObject *owner, const Work &work, const std::function<void()> &ended = {},
             QThread::Priority priority = QThread::LowPriority, Ending ending = Ending::Join);
    // A thread that runs an event loop, for a worker object moved onto it;
    // cancel() quits the loop. The thread is the runner's: it is deleted
    // once it has finished.
    QThread *startLoop(const QString &name, QObject *owner, Id *id, Ending ending = Ending::Join);

    // Asks the job to stop; it ends on its own.
    void cancel(Id id);
    // Asks the job to stop and waits until its thread has ended; `ended`
    // still comes, from the event loop.
    void stop(Id id);
    // Stops and ends the jobs of `owner` (all of them for nullptr); a job
    // that MayBeLeft is waited for until `endWaitMs` has passed.
    void stopOwnedBy(const QObject *owner);
    void stopAll() { stopOwnedBy(nullptr); }

    bool running(Id id) const;
    int count() const { return int(jobs.size()); }

    // Threads the end had to leave running, in this process.
    static int threadsLeft();
    static inline int endWaitMs = 1000;

private:
    struct Job {
        QString name;
        QThread *thread = nullptr;
        QPointer<QObject> owner;
        bool owned = false; // an owner was given: `owner` going null means it is gone
        std::shared_ptr<std::atomic<bool>> cancelled;
        std::function<void()> ended;
        Ending ending = Ending::Join;
        QElapsedTimer clock;
    };
    Id add(Job job);
    void reap(Id id);

    QHash<Id, Job> jobs;
    Id lastId = 0;
};
