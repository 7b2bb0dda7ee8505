#include "jobs/background.h"

#include "app/logging.h"

#include <QElapsedTimer>

#include <atomic>

BackgroundWork::BackgroundWork(JobRunner *jobRunner, QObject *parent) : QObject(parent), runner(jobRunner)
{
}

BackgroundWork::~BackgroundWork()
{
    // A runner that went first has joined the thread already.
    if (runner)
        runner->stopOwnedBy(this);
}

bool BackgroundWork::start(const Body &body, bool onThread, const QString &name)
{
    if (busy)
        return false;
    busy = true;
    stopAsked = false;
    reported = -1;
    // Only a change of the bar is sent: the window gets a thousand signals
    // at most, however long the work. `this` may go to the thread: the
    // destructor joins it, and so does the runner should it go first.
    const auto report = [this](int permille) {
        if (reported.exchange(permille) != permille)
            emit progress(permille);
    };
    if (!onThread || !runner) {
        QElapsedTimer clock;
        clock.start();
        body(stopAsked, report);
        qCDebug(lcJobs).noquote().nospace() << "ended inline: " << name << " after " << clock.elapsed() << " ms"
                                            << (stopAsked.load() ? " (cancelled)" : "");
        busy = false;
        emit finished();
        return true;
    }
    job = runner->start(
        name, this, [body, report](const std::atomic<bool> &cancelled) { body(cancelled, report); },
        [this] {
            job = 0;
            busy = false;
            emit finished();
        });
    return true;
}

void BackgroundWork::cancel()
{
    stopAsked = true;
    if (job && runner)
        runner->cancel(job);
}

void BackgroundWork::stop()
{
    cancel();
    if (job && runner)
        runner->stop(job);
}

QString workerConnectionName()
{
    static std::atomic<int> serial{0};
    return QStringLiteral("trelvin-worker-%1").arg(++serial);
}
