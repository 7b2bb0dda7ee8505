#include "jobs/background.h"

#include <QThread>

#include <atomic>

BackgroundWork::BackgroundWork(QObject *parent)
    : QObject(parent)
{
}

BackgroundWork::~BackgroundWork()
{
    if (thread) {
        stopAsked = true;
        thread->wait();
        delete thread;
    }
}

bool BackgroundWork::start(const Body &body, bool onThread)
{
    if (busy)
        return false;
    busy = true;
    stopAsked = false;
    reported = -1;
    // Only a change of the bar is sent: the window gets a thousand signals
    // at most, however long the work.
    const auto report = [this](int permille) {
        if (reported.exchange(permille) != permille)
            emit progress(permille);
    };
    if (!onThread) {
        body(stopAsked, report);
        busy = false;
        emit finished();
        return true;
    }
    thread = QThread::create([this, body, report] { body(stopAsked, report); });
    connect(thread, &QThread::finished, this, [this] {
        thread->deleteLater();
        thread = nullptr;
        busy = false;
        emit finished();
    });
    thread->start(QThread::LowPriority);
    return true;
}

void BackgroundWork::stop()
{
    stopAsked = true;
    if (thread)
        thread->wait();
}

QString workerConnectionName()
{
    static std::atomic<int> serial{0};
    return QStringLiteral("trelvin-worker-%1").arg(++serial);
}
