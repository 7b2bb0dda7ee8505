// The club server measured on a throwaway PostgreSQL on 127.0.0.1: two
// programs in one process share a net; how soon a check-in on one shows on
// the other, and how soon a backlog made while the server was down is sent
// once it is back. Each beside a bare baseline of the same run: the same
// round trip, or the same rows, straight through Qt's PostgreSQL driver.
#include "tests/pgserver.h"
#include "tests/testsupport.h"

#include "app/trelvin.h"
#include "sync/clubhub.h"
#include "sync/clubsync.h"
#include "ui_trelvin.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>

#include "bench/benchstats.h"
#include "bench/benchwait.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using BenchStats::Stats;
using BenchStats::summarise;

struct Line {
    QString measure;
    Stats value, baseline;
};
std::vector<Line> lines;

void record(const QString &measure, const Stats &value, const Stats &baseline)
{
    lines.push_back({measure, value, baseline});
    const QByteArray p95 = value.p95 < 0 ? QByteArray("null") : QByteArray::number(value.p95, 'f', 3);
    std::printf("{\"measure\":\"%s\",\"size\":\"club server\",\"median_ms\":%.3f,\"p95_ms\":%s,\"runs\":%d,"
                "\"baseline_ms\":%.3f,\"ratio\":%.2f}\n",
                qPrintable(measure), value.median, p95.constData(), value.runs, baseline.median,
                baseline.median > 0 ? value.median / baseline.median : 0.0);
    std::fflush(stdout);
}

// Runs the event loop until `done` or `limitMs`; the milliseconds it took, or -1.
double waitFor(const std::function<bool()> &done, int limitMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    if (!BenchWait::runUntil(done, limitMs))
        return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

void checkIn(Trelvin *w, const QString &call)
{
    deskOf(w)->setEntry(0);
    FORM(w, call)->setText(call);
    FORM(w, name)->setText(QStringLiteral("Bench"));
    FORM(w, city)->setText(QStringLiteral("Ogden"));
    FORM(w, state)->setText(QStringLiteral("UT"));
    FORM(w, relay)->clear();
    FORM(w, qso)->clear();
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
}

bool listed(Trelvin *w, const QString &call)
{
    return storeOf(w).netLog().netEntryByCall(call).has_value();
}

// The bare round trip: an insert on one connection, its notification read
// on another, both through Qt's driver.
Stats bareNotify(PgServer &server, int runs)
{
    std::vector<double> ms;
    {
        QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bare-writer"));
        QSqlDatabase reader = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bare-reader"));
        for (QSqlDatabase *db : {&writer, &reader}) {
            db->setConnectOptions(server.conninfo(QStringLiteral("op1")));
            db->open();
        }
        QSqlQuery query(writer);
        query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS bare (id serial, call text)"));
        bool arrived = false;
        reader.driver()->subscribeToNotification(QStringLiteral("bare"));
        QObject::connect(reader.driver(), &QSqlDriver::notification, [&arrived] { arrived = true; });
        QSqlQuery fetch(reader);
        for (int i = 0; i < runs; ++i) {
            arrived = false;
            QElapsedTimer timer;
            timer.start();
            query.exec(QStringLiteral("INSERT INTO bare (call) VALUES ('W1AW'); NOTIFY bare"));
            waitFor([&] { return arrived; });
            fetch.exec(QStringLiteral("SELECT call FROM bare ORDER BY id DESC LIMIT 1"));
            fetch.next();
            ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        writer.close();
        reader.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bare-writer"));
    QSqlDatabase::removeDatabase(QStringLiteral("bare-reader"));
    return summarise(ms);
}

// The bare backlog: the same number of rows inserted in one transaction.
Stats bareBacklog(PgServer &server, int rows)
{
    Stats stats;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bare-backlog"));
        db.setConnectOptions(server.conninfo(QStringLiteral("op1")));
        db.open();
        QSqlQuery query(db);
        query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS bare_rows (id text, call text, made timestamptz)"));
        QElapsedTimer timer;
        timer.start();
        db.transaction();
        query.prepare(QStringLiteral("INSERT INTO bare_rows (id, call, made) VALUES (?, ?, now())"));
        for (int i = 0; i < rows; ++i) {
            query.addBindValue(QString::number(i));
            query.addBindValue(QStringLiteral("KB%1").arg(i));
            query.exec();
        }
        db.commit();
        stats = summarise({double(timer.nsecsElapsed()) / 1e6});
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bare-backlog"));
    return stats;
}

// Ten programs joined to one club server, each checking a station in at
// the same moment, round after round: for every check-in and every other
// program, the time until that program's list holds it. All ten run in
// this process on one thread, so each program's redraws wait on the
// others': an upper bound of what ten computers see.
std::vector<double> tenPrograms(PgServer &server, int rounds)
{
    constexpr int Programs = 10;
    std::vector<std::unique_ptr<Runtime>> runtimes;
    std::vector<Trelvin *> programs;
    for (int p = 0; p < Programs; ++p) {
        runtimes.push_back(std::make_unique<Runtime>());
        Runtime &rt = *runtimes.back();
        rt.installInfo(QStringLiteral("State_Info.csv"));
        rt.addEmptyRoster();
        writeMain(QStringLiteral("ClubServer"), server.conninfo(QStringLiteral("op%1").arg(p + 1)));
        writeMain(QStringLiteral("AutoUpdate"), false);
        programs.push_back(rt.start());
        if (p == 0) {
            waitFor([&] { return programs[0]->findChild<ClubHub *>()->sync()->state() == ClubSync::State::Online; });
            checkIn(programs[0], QStringLiteral("N7TEN"));
        } else if (waitFor([&] { return listed(programs.back(), QStringLiteral("N7TEN")); }) < 0) {
            std::fprintf(stderr, "program %d did not join the net\n", p + 1);
            return {};
        }
    }
    std::vector<double> ms;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        std::vector<QString> calls;
        std::vector<double> made;
        for (int p = 0; p < Programs; ++p) {
            calls.push_back(QStringLiteral("K%1T%2").arg(round, 2, 10, QLatin1Char('0')).arg(QChar('A' + p)));
            checkIn(programs[size_t(p)], calls.back());
            made.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        // [call][program]: still to arrive.
        std::vector<std::vector<bool>> waiting(Programs, std::vector<bool>(Programs, true));
        int left = Programs * (Programs - 1);
        for (int c = 0; c < Programs; ++c)
            waiting[size_t(c)][size_t(c)] = false;
        const double ended = waitFor(
            [&] {
                for (int c = 0; c < Programs; ++c) {
                    for (int p = 0; p < Programs; ++p) {
                        if (waiting[size_t(c)][size_t(p)] && listed(programs[size_t(p)], calls[size_t(c)])) {
                            waiting[size_t(c)][size_t(p)] = false;
                            --left;
                            ms.push_back(double(clock.nsecsElapsed()) / 1e6 - made[size_t(c)]);
                        }
                    }
                }
                return left == 0;
            },
            10000);
        if (ended < 0) {
            std::fprintf(stderr, "round %d: %d check-ins never arrived\n", round, left);
            return {};
        }
    }
    while (!runtimes.empty())
        runtimes.pop_back();
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const int visibilityRuns = quick ? 30 : 100;
    const int backlog = 1000;

    PgServer server;
    const QString failure = server.start();
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "no PostgreSQL server: %s\n", qPrintable(failure));
        return 1;
    }
    QTemporaryDir home;
    const QString passFile = home.path() + "/pgpass";
    {
        QFile file(passFile);
        file.open(QIODevice::WriteOnly);
        file.write(QStringLiteral("127.0.0.1:%1:*:op1:one\n127.0.0.1:%1:*:op2:two\n").arg(server.port()).toUtf8());
        for (int p = 3; p <= 10; ++p)
            file.write(QStringLiteral("127.0.0.1:%1:*:op%2:op%2-secret\n").arg(server.port()).arg(p).toUtf8());
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    qputenv("PGPASSFILE", passFile.toLocal8Bit());
    server.resetDatabase();
    server.addOperator(QStringLiteral("op1"), QStringLiteral("one"));
    server.addOperator(QStringLiteral("op2"), QStringLiteral("two"));
    for (int p = 3; p <= 10; ++p)
        server.addOperator(QStringLiteral("op%1").arg(p), QStringLiteral("op%1-secret").arg(p));

    {
        Runtime rtA;
        rtA.installInfo(QStringLiteral("State_Info.csv"));
        rtA.addEmptyRoster();
        writeMain(QStringLiteral("ClubServer"), server.conninfo(QStringLiteral("op1")));
        writeMain(QStringLiteral("AutoUpdate"), false);
        Trelvin *a = rtA.start();
        waitFor([&] { return a->findChild<ClubHub *>()->sync()->state() == ClubSync::State::Online; });
        checkIn(a, QStringLiteral("N7NCS"));
        Runtime rtB;
        rtB.installInfo(QStringLiteral("State_Info.csv"));
        rtB.addEmptyRoster();
        writeMain(QStringLiteral("ClubServer"), server.conninfo(QStringLiteral("op2")));
        writeMain(QStringLiteral("AutoUpdate"), false);
        Trelvin *b = rtB.start();
        if (waitFor([&] { return listed(b, QStringLiteral("N7NCS")); }) < 0) {
            std::fprintf(stderr, "the second program did not join the net\n");
            return 1;
        }

        // A check-in on one, until the other's list holds it.
        std::vector<double> visible;
        for (int i = 0; i < visibilityRuns; ++i) {
            const QString call = QStringLiteral("KV%1V").arg(i, 3, 10, QLatin1Char('0'));
            QElapsedTimer timer;
            timer.start();
            checkIn(i % 2 ? b : a, call);
            if (waitFor([&] { return listed(i % 2 ? a : b, call); }, 5000) < 0) {
                std::fprintf(stderr, "%s never arrived\n", qPrintable(call));
                return 1;
            }
            visible.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        const Stats bare = bareNotify(server, visibilityRuns);
        record(QStringLiteral("club: check-in visible on the other program"), summarise(visible), bare);

        // A backlog made while the server is down, sent after it is back.
        server.stop();
        waitFor([&] { return a->findChild<ClubHub *>()->sync()->state() == ClubSync::State::Offline; });
        // Check-ins of new stations until that many changes wait: each is an
        // entry and a contact.
        QString last;
        for (int i = 0; storeOf(a).journal().unsentCount() < backlog; ++i) {
            last = QStringLiteral("KB%1").arg(i, 4, 10, QLatin1Char('0'));
            checkIn(a, last);
        }
        const int waiting = storeOf(a).journal().unsentCount();
        const QString restarted = server.restart();
        if (!restarted.isEmpty()) {
            std::fprintf(stderr, "the server did not start again: %s\n", qPrintable(restarted));
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        const double sent = waitFor([&] { return storeOf(a).journal().unsentCount() == 0; }, 30000);
        const double sentMs = double(timer.nsecsElapsed()) / 1e6;
        const double arrived = waitFor([&] { return listed(b, last); }, 30000);
        const double arrivedMs = double(timer.nsecsElapsed()) / 1e6;
        if (sent < 0 || arrived < 0) {
            std::fprintf(stderr, "the backlog was not sent (%.0f, %.0f ms): %s, %d waiting; the other: %s, %d listed\n",
                         sent, arrived, qPrintable(a->findChild<ClubHub *>()->sync()->statusText()),
                         storeOf(a).journal().unsentCount(),
                         qPrintable(b->findChild<ClubHub *>()->sync()->statusText()),
                         int(storeOf(b).netLog().listedEntries().size()));
            return 1;
        }
        const Stats bareRows = bareBacklog(server, waiting);
        record(QStringLiteral("club: backlog of %1 changes sent after reconnect").arg(waiting), summarise({sentMs}),
               bareRows);
        record(QStringLiteral("club: that backlog in the other program's list"), summarise({arrivedMs}), bareRows);
        rtB.stop();
        rtA.stop();
    }
    {
        // A net of its own for the ten.
        server.resetDatabase();
        std::vector<double> ten = tenPrograms(server, quick ? 5 : 20);
        if (ten.empty())
            return 1;
        const QString measure = QStringLiteral("club: ten programs checking in at once, check-in in the others' lists");
        record(measure, summarise(ten), bareNotify(server, visibilityRuns));
        std::sort(ten.begin(), ten.end());
        const double p99 = ten[std::min(ten.size() - 1, size_t(std::ceil(0.99 * double(ten.size()))) - 1)];
        std::printf("{\"measure\":\"%s\",\"size\":\"club server\",\"p99_ms\":%.3f,\"max_ms\":%.3f,\"runs\":%d}\n",
                    qPrintable(measure), p99, ten.back(), int(ten.size()));
        std::printf("%s: 99th percentile %.1f ms, most %.1f ms\n", qPrintable(measure), p99, ten.back());
    }
    server.stop();

    std::printf("\n| measure | median ms | p95 ms | runs | baseline ms | ratio |\n|---|---:|---:|---:|---:|---:|\n");
    for (const Line &line : lines)
        std::printf("| %s | %.1f | %s | %d | %.1f | %.1f |\n", qPrintable(line.measure), line.value.median,
                    line.value.p95 < 0 ? "" : qPrintable(QString::number(line.value.p95, 'f', 1)), line.value.runs,
                    line.baseline.median, line.baseline.median > 0 ? line.value.median / line.baseline.median : 0.0);
    return 0;
}
