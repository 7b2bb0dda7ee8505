#pragma once

// The benchmarks' wait for work they time. processEvents() with a time limit
// does not wait for events: a loop of it spun, and took one of two cores
// from the threads and the server processes it waited for.

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace BenchWait {

// Runs the event loop, asleep between events as a window's loop is, until
// `done()` or `limitMs` (none when negative); whether `done()` came true.
// `done()` is asked each time the loop has run what was waiting, so an
// answer that arrives as an event is seen at once, and every millisecond
// for work on other threads.
inline bool runUntil(const std::function<bool()> &done, int limitMs = -1)
{
    if (done())
        return true;
    QEventLoop loop;
    bool met = false;
    const auto check = [&] {
        if (!met && done()) {
            met = true;
            loop.quit();
        }
    };
    const QMetaObject::Connection afterEvents =
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop, check);
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    poll.start(1);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (limitMs >= 0)
        limit.start(limitMs);
    loop.exec();
    QObject::disconnect(afterEvents);
    return met;
}

// The same for a fixed time: the events of `ms` milliseconds.
inline void runFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    runUntil([&] { return clock.elapsed() >= ms; }, ms);
}

} // namespace BenchWait
