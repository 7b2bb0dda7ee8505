// trelvin-web measured on loopback: 1,000 pages with the event stream open,
// a check-in written to a throwaway club server, and how soon each page has
// it; and the memory each open page costs trelvin-web. JSON lines, as the
// other benchmarks print them.
#include "tests/clubjournal.h"

#include "bench/benchwait.h"
#include "checkin/netrules.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const int Viewers = 1000;
const int Rounds = 20;

long residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double percentile(std::vector<double> ms, double p)
{
    std::sort(ms.begin(), ms.end());
    return ms.empty() ? -1 : ms[std::min(ms.size() - 1, size_t(std::ceil(p * double(ms.size()))) - 1)];
}

// Each round a check-in; for every page, the milliseconds until it has it.
std::vector<double> measure(ClubJournal &club, const QString &net, std::vector<std::unique_ptr<QTcpSocket>> &pages,
                            int &missed)
{
    std::vector<double> delays;
    for (int round = 0; round < Rounds; ++round) {
        const QByteArray call = "K7B" + QByteArray::number(round + 100);
        std::vector<double> arrived(pages.size(), -1);
        QElapsedTimer clock;
        clock.start();
        club.send({club.entry(net, QString::fromLatin1(call), NetRules::CheckedIn)});
        std::vector<QByteArray> seen(pages.size());
        size_t done = 0;
        // Each page is read as its bytes come, not polled in turn.
        std::vector<QMetaObject::Connection> reads;
        for (size_t i = 0; i < pages.size(); ++i) {
            const auto take = [&, i] {
                if (arrived[i] >= 0)
                    return;
                seen[i] += pages[i]->readAll();
                if (seen[i].contains(call)) {
                    arrived[i] = double(clock.nsecsElapsed()) / 1e6;
                    ++done;
                }
            };
            reads.push_back(QObject::connect(pages[i].get(), &QTcpSocket::readyRead, take));
            take();
        }
        BenchWait::runUntil([&] { return done == pages.size(); }, 5000);
        for (const QMetaObject::Connection &read : reads)
            QObject::disconnect(read);
        for (const double ms : arrived) {
            if (ms < 0)
                ++missed;
            else
                delays.push_back(ms);
        }
    }
    return delays;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    ClubJournal club;
    const QString failure = club.start();
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "bench_web: %s\n", qPrintable(failure));
        return 1;
    }
    const QString net = club.openNet(QStringLiteral("W7NCS"));
    const quint16 port = quint16(PgServer::closedPort());
    QProcess web;
    web.start(QStringLiteral(TRELVIN_WEB),
              {QStringLiteral("--config"), QStringLiteral("/dev/null"), QStringLiteral("--club"), club.webConninfo(),
               QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--viewers"),
               QString::number(Viewers + 10)});
    web.waitForStarted();
    QThread::sleep(1);
    const long before = residentKiB(web.processId());

    std::vector<std::unique_ptr<QTcpSocket>> pages;
    for (int i = 0; i < Viewers; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!socket->waitForConnected(5000)) {
            std::fprintf(stderr, "bench_web: page %d could not connect\n", i);
            return 1;
        }
        socket->write("GET /events HTTP/1.1\r\nHost: localhost\r\n\r\n");
        pages.push_back(std::move(socket));
    }
    BenchWait::runFor(3000);
    for (auto &page : pages)
        page->readAll();
    const long after = residentKiB(web.processId());

    int missed = 0;
    const std::vector<double> delays = measure(club, net, pages, missed);
    std::printf("{\"measure\":\"check-in reaches %d open pages\",\"size\":\"club server\",\"median_ms\":%.3f,"
                "\"p99_ms\":%.3f,\"max_ms\":%.3f,\"runs\":%d,\"missed\":%d}\n",
                Viewers, percentile(delays, 0.5), percentile(delays, 0.99), percentile(delays, 1.0), Rounds, missed);
    std::printf("{\"measure\":\"memory per open page\",\"size\":\"%d pages\",\"kib_per_page\":%.1f,"
                "\"rss_before_kib\":%ld,\"rss_after_kib\":%ld}\n",
                Viewers, double(after - before) / Viewers, before, after);
    std::fflush(stdout);
    pages.clear();
    web.terminate();
    web.waitForFinished(5000);
    return missed == 0 ? 0 : 1;
}
