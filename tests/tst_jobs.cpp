#include "jobs/background.h"
#include "jobs/jobrunner.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <memory>

// The runner that starts, stops and joins every worker thread, and the
// background work of the status bar's jobs that runs on it.
class TestJobs : public QObject {
    Q_OBJECT

private slots:
    void jobRunsAndEndsOnTheRunnersThread();
    void cancelReachesTheWorkAndStopJoins();
    void destructionJoinsAWorkerStillRunning();
    void ownerGoingEndsItsJobsOnly();
    void stuckJobIsLeftAtTheDeadline();
    void loopThreadQuitsOnCancel();
    void backgroundWorkReportsAndRefusesASecondStart();
};

namespace {
// Work that runs until it is cancelled, then marks that it got there.
JobRunner::Work untilCancelled(const std::shared_ptr<std::atomic<bool>> &ended)
{
    return [ended](const std::atomic<bool> &cancelled) {
        while (!cancelled.load())
            QThread::msleep(2);
        QThread::msleep(50); // a last piece of work after the request
        *ended = true;
    };
}
} // namespace

void TestJobs::jobRunsAndEndsOnTheRunnersThread()
{
    JobRunner runner;
    QObject owner;
    auto ranOn = std::make_shared<QThread *>(nullptr);
    QThread *endedOn = nullptr;
    int endings = 0;
    const JobRunner::Id id = runner.start(
        QStringLiteral("a job"), &owner, [ranOn](const std::atomic<bool> &) { *ranOn = QThread::currentThread(); },
        [&] {
            endedOn = QThread::currentThread();
            ++endings;
        });
    QVERIFY(id != 0);
    QTRY_COMPARE(endings, 1);
    QVERIFY(*ranOn && *ranOn != QThread::currentThread());
    QCOMPARE(endedOn, QThread::currentThread());
    QVERIFY(!runner.running(id));
    QCOMPARE(runner.count(), 0);
    // Each job has an id of its own.
    const JobRunner::Id next = runner.start(QStringLiteral("another"), &owner, [](const std::atomic<bool> &) {});
    QVERIFY(next != id);
    QTRY_COMPARE(runner.count(), 0);
}

void TestJobs::cancelReachesTheWorkAndStopJoins()
{
    JobRunner runner;
    QObject owner;
    auto first = std::make_shared<std::atomic<bool>>(false);
    bool firstEnded = false;
    const JobRunner::Id a =
        runner.start(QStringLiteral("first"), &owner, untilCancelled(first), [&] { firstEnded = true; });
    QTest::qWait(20);
    QVERIFY(runner.running(a));
    runner.cancel(a);
    QTRY_VERIFY(firstEnded);
    QVERIFY(*first);

    // stop() returns once the thread has ended; the ending still comes.
    auto second = std::make_shared<std::atomic<bool>>(false);
    bool secondEnded = false;
    const JobRunner::Id b =
        runner.start(QStringLiteral("second"), &owner, untilCancelled(second), [&] { secondEnded = true; });
    runner.stop(b);
    QVERIFY(*second);
    QVERIFY(!secondEnded);
    QTRY_VERIFY(secondEnded);
    QCOMPARE(runner.count(), 0);
}

void TestJobs::destructionJoinsAWorkerStillRunning()
{
    auto ended = std::make_shared<std::atomic<bool>>(false);
    bool endingCame = false;
    QObject owner;
    {
        auto runner = std::make_unique<JobRunner>();
        runner->start(QStringLiteral("long"), &owner, untilCancelled(ended), [&] { endingCame = true; });
        QTest::qWait(20);
        QVERIFY(!*ended);
    }
    // Asked to stop and joined before the runner went; nothing comes after.
    QVERIFY(*ended);
    QCoreApplication::processEvents();
    QVERIFY(!endingCame);
}

void TestJobs::ownerGoingEndsItsJobsOnly()
{
    JobRunner runner;
    QObject keeps;
    auto kept = std::make_shared<std::atomic<bool>>(false);
    auto gone = std::make_shared<std::atomic<bool>>(false);
    bool goneEnding = false;
    const JobRunner::Id keptId = runner.start(QStringLiteral("kept"), &keeps, untilCancelled(kept));
    {
        QObject goes;
        runner.start(QStringLiteral("gone"), &goes, untilCancelled(gone), [&] { goneEnding = true; });
        runner.stopOwnedBy(&goes);
        QVERIFY(*gone);
    }
    QCoreApplication::processEvents();
    QVERIFY(!goneEnding);
    QVERIFY(runner.running(keptId));
    QVERIFY(!*kept);
    QCOMPARE(runner.count(), 1);

    // BackgroundWork ends its thread when it goes, the runner still there.
    auto work = std::make_unique<BackgroundWork>(&runner);
    auto body = std::make_shared<std::atomic<bool>>(false);
    QVERIFY(work->start(
        [body](const std::atomic<bool> &cancelled, const std::function<void(int)> &) {
            while (!cancelled.load())
                QThread::msleep(2);
            QThread::msleep(50);
            *body = true;
        },
        true));
    QCOMPARE(runner.count(), 2);
    work.reset();
    QVERIFY(*body);
    QCOMPARE(runner.count(), 1);
    runner.stopAll();
    QVERIFY(*kept);
}

void TestJobs::stuckJobIsLeftAtTheDeadline()
{
    // A call nothing can interrupt: it ends only when released.
    auto release = std::make_shared<QSemaphore>();
    auto done = std::make_shared<std::atomic<bool>>(false);
    const int before = JobRunner::threadsLeft();
    const int wait = JobRunner::endWaitMs;
    JobRunner::endWaitMs = 200;
    QElapsedTimer clock;
    {
        JobRunner runner;
        QObject owner;
        runner.start(
            QStringLiteral("stuck"), &owner,
            [release, done](const std::atomic<bool> &) {
                release->acquire();
                *done = true;
            },
            {}, QThread::InheritPriority, JobRunner::Ending::MayBeLeft);
        // A joined job beside it is still joined.
        auto joined = std::make_shared<std::atomic<bool>>(false);
        runner.start(QStringLiteral("joined"), &owner, untilCancelled(joined));
        clock.start();
        runner.stopAll();
        QVERIFY(*joined);
        QCOMPARE(runner.count(), 0);
    }
    JobRunner::endWaitMs = wait;
    QVERIFY2(clock.elapsed() < 5000, "the end waited on a stuck job");
    QCOMPARE(JobRunner::threadsLeft(), before + 1);
    QVERIFY(!*done);
    // The thread holds its own share of what it uses.
    release->release();
    QTRY_VERIFY(*done);
}

void TestJobs::loopThreadQuitsOnCancel()
{
    JobRunner runner;
    QObject owner;
    JobRunner::Id id = 0;
    QThread *thread = runner.startLoop(QStringLiteral("loop"), &owner, &id);
    QVERIFY(id != 0);
    auto *worker = new QObject;
    worker->moveToThread(thread);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    QSignalSpy gone(worker, &QObject::destroyed);
    // The loop answers.
    std::atomic<bool> ran{false};
    QMetaObject::invokeMethod(
        worker, [&ran] { ran = true; }, Qt::QueuedConnection);
    QTRY_VERIFY(ran);
    QVERIFY(runner.running(id));
    runner.cancel(id);
    QTRY_VERIFY(!runner.running(id));
    QTRY_COMPARE(gone.count(), 1);
}

void TestJobs::backgroundWorkReportsAndRefusesASecondStart()
{
    JobRunner runner;
    BackgroundWork work(&runner);
    QSignalSpy progress(&work, &BackgroundWork::progress);
    QSignalSpy finished(&work, &BackgroundWork::finished);
    auto go = std::make_shared<QSemaphore>();
    QVERIFY(work.start(
        [go](const std::atomic<bool> &cancelled, const std::function<void(int)> &report) {
            report(10);
            report(10); // the same place again: no signal
            report(500);
            while (!go->tryAcquire(1, 2))
                if (cancelled.load())
                    return;
            report(1000);
        },
        true));
    QVERIFY(work.running());
    // One job at a time: a second is refused while the first runs.
    bool secondRan = false;
    QVERIFY(!work.start([&](const std::atomic<bool> &, const std::function<void(int)> &) { secondRan = true; }, false));
    QVERIFY(!secondRan);
    go->release();
    QVERIFY(finished.wait(5000));
    QVERIFY(!work.running());
    QList<int> values;
    for (const QList<QVariant> &signal : std::as_const(progress))
        values.append(signal.at(0).toInt());
    QCOMPARE(values, (QList<int>{10, 500, 1000}));

    // Inline work has ended, and finished() come, when start() returns.
    QVERIFY(work.start([&](const std::atomic<bool> &, const std::function<void(int)> &) { secondRan = true; }, false));
    QVERIFY(secondRan);
    QCOMPARE(finished.count(), 2);

    // Cancel reaches work on a thread; finished() still comes.
    QVERIFY(work.start(
        [](const std::atomic<bool> &cancelled, const std::function<void(int)> &) {
            while (!cancelled.load())
                QThread::msleep(2);
        },
        true));
    work.cancel();
    QVERIFY(finished.wait(5000));
    QCOMPARE(runner.count(), 0);
}

QTEST_GUILESS_MAIN(TestJobs)
#include "tst_jobs.moc"
