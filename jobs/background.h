#pragma once

#include "jobs/jobrunner.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>

// One piece of bulk work, on a thread of its own or, when it is small
// enough to end within a frame, at once on the calling thread: the same code
// either way. The work reads `cancelled` between slices and tells how far it
// is with `progress` (0..1000); what it produces it keeps itself, to be
// read once finished() came.
class BackgroundWork : public QObject {
    Q_OBJECT

public:
    using Body = std::function<void(const std::atomic<bool> &cancelled, const std::function<void(int)> &progress)>;

    // The thread comes from `runner`.
    explicit BackgroundWork(JobRunner *runner, QObject *parent = nullptr);
    // Cancels running work and waits for its thread.
    ~BackgroundWork() override;

    // False while work runs. Inline work has ended, and finished() has come,
    // when this returns. `name` is for the developers' log.
    bool start(const Body &body, bool onThread, const QString &name = QStringLiteral("background work"));
    void cancel();
    // Cancels and waits until the thread has ended; finished() still comes.
    void stop();
    bool running() const { return busy; }

signals:
    void progress(int permille);
    void finished();

private:
    QPointer<JobRunner> runner;
    JobRunner::Id job = 0;
    std::atomic<bool> stopAsked{false}; // inline work's
    std::atomic<int> reported{-1};
    bool busy = false;
};

// A name for a worker's own database connections, unique in this run.
QString workerConnectionName();
