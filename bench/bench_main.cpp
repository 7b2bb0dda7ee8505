// Times the program's real slots on a generated runtime folder at several
// sizes and prints, beside each figure, a bare baseline that bounds it from
// below. `--quick` stops at 10,000 contacts.
#include "app/constants.h"
#include "app/errorlog.h"
#include "app/prompter.h"
#include "app/trelvin.h"
#include "attendance/attendancecontroller.h"
#include "attendance/attendancewindow.h"
#include "callbook/callbookimport.h"
#include "data/callbookstore.h"
#include "data/csv.h"
#include "data/direct.h"
#include "files/csvinput.h"
#include "files/filescontroller.h"
#include "formaccess.h"
#include "jobs/bulkjob.h"
#include "maps/netmapcontroller.h"
#include "reports/reportfill.h"
#include "reports/reportscontroller.h"
#include "reports/seelogs.h"
#include "ui_attendancewindow.h"
#include "ui_seelogs.h"
#include "ui_trelvin.h"
#include "viewer/documentscontroller.h"
#include "viewer/seefile.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSet>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

#include "bench/benchstats.h"
#include "bench/benchwait.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include <sqlite3.h>
#include <unistd.h>
#include <zip.h>

namespace {

// Waits until the search's index of call signs has been read (the tests
// have the same in tests/testsupport.cpp).
bool waitForCallIndex(Storage &storage)
{
    for (int tries = 0; tries < 3; ++tries) {
        while (storage.contacts().callIndexReading())
            QThread::msleep(1);
        if (storage.contacts().callIndexReady())
            return true;
    }
    return false;
}

// ---------------------------------------------------------------- timing

using BenchStats::Stats;
using BenchStats::summarise;
using BenchWait::runUntil;

// Repeats `work` until it ran at least `minRuns` times and the time budget is
// spent (or `maxRuns` is reached); `between` runs untimed after each run.
Stats repeat(const std::function<void()> &work, int minRuns, int maxRuns, double budgetMs,
             const std::function<void()> &between = {})
{
    std::vector<double> ms;
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < maxRuns; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        if (between)
            between();
        if (i + 1 >= minRuns && double(total.elapsed()) > budgetMs)
            break;
    }
    return summarise(ms);
}

struct Result {
    QString measure;
    QString size;
    Stats value;
    Stats baseline;
    bool hasBaseline = false;
};

std::vector<Result> results;

QString number(double v, int decimals = 3)
{
    return QString::number(v, 'f', decimals);
}

void record(const QString &measure, const QString &size, const Stats &value, const Stats *baseline = nullptr)
{
    Result r{measure, size, value, baseline ? *baseline : Stats{}, baseline != nullptr};
    results.push_back(r);
    QString json =
        QStringLiteral("{\"measure\":\"%1\",\"size\":\"%2\",\"median_ms\":%3,\"p95_ms\":%4,"
                       "\"runs\":%5,\"baseline_ms\":%6,\"ratio\":%7}")
            .arg(measure, size, number(value.median), value.p95 < 0 ? QStringLiteral("null") : number(value.p95))
            .arg(value.runs)
            .arg(r.hasBaseline ? number(r.baseline.median) : QStringLiteral("null"),
                 r.hasBaseline && r.baseline.median > 0 ? number(value.median / r.baseline.median, 2)
                                                        : QStringLiteral("null"));
    std::printf("%s\n", qPrintable(json));
    std::fflush(stdout);
}

void printTable()
{
    std::printf("\n| measure | size | median ms | p95 ms | runs | baseline ms | ratio |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|\n");
    for (const Result &r : results) {
        if (r.value.runs == 0) {
            std::printf("| %s | %s | | | | none | |\n", qPrintable(r.measure), qPrintable(r.size));
            continue;
        }
        std::printf("| %s | %s | %s | %s | %d | %s | %s |\n", qPrintable(r.measure), qPrintable(r.size),
                    qPrintable(number(r.value.median)), r.value.p95 < 0 ? "" : qPrintable(number(r.value.p95)),
                    r.value.runs, r.hasBaseline ? qPrintable(number(r.baseline.median)) : "none",
                    r.hasBaseline && r.baseline.median > 0 ? qPrintable(number(r.value.median / r.baseline.median, 2))
                                                           : "");
    }
    std::fflush(stdout);
}

QString sizeLabel(int n)
{
    if (n >= 1000000 && n % 1000000 == 0)
        return QString::number(n / 1000000) + "M";
    if (n >= 1000 && n % 1000 == 0)
        return QString::number(n / 1000) + "k";
    return QString::number(n);
}

QString peakResident()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return QStringLiteral("n/a");
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return QString::fromLatin1(line.mid(6).simplified());
    }
    return QStringLiteral("n/a");
}

// The longest time the window went without an event-loop turn while `work`
// ran, started from the loop as a menu action is; `finished` tells when
// work that goes on in slices or on another thread is done.
double longestGap(const std::function<void()> &work, const std::function<bool()> &finished = {})
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    const auto turn = [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    };
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, turn);
    ticker.start();
    bool started = false;
    QTimer::singleShot(0, [&] {
        work();
        started = true;
    });
    while (!started || (finished && !finished()))
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
    turn();
    return double(longest) / 1e6;
}

void recordGap(const QString &measure, const QString &size, double gapMs)
{
    record(measure + QStringLiteral(": longest event-loop gap"), size, summarise({gapMs}));
}

// No bulk job runs and no report waits: work handed to a thread or to
// slices is done.
bool jobsDone(const Trelvin &w)
{
    return !bulkJobOf(&w)->running() && reportFillOf(&w)->idle();
}

// Runs the event loop until jobsDone(): a timed run includes the whole job.
void finishJobs(const Trelvin &w)
{
    runUntil([&] { return jobsDone(w); });
    QCoreApplication::processEvents();
}

// Runs the event loop until the table a load replaced is dropped, beside
// the window after the load; how long that took, in ms.
double finishAfterLoad(const Trelvin &w)
{
    QElapsedTimer t;
    t.start();
    runUntil([&] { return !filesOf(&w)->finishingLoad(); });
    return double(t.nsecsElapsed()) / 1e6;
}

// ---------------------------------------------------------------- modal seam

// Answers every box with its default so nothing blocks; choosers return `path`.
class SilentPrompter : public Prompter {
public:
    QString path;
    // The "Database Write Failed" boxes answered: changes the window refused.
    int writeFailures = 0;

    QMessageBox::StandardButton message(Kind, const QString &title, const QString &,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override
    {
        if (title == QLatin1String("Database Write Failed"))
            ++writeFailures;
        if (defaultButton != QMessageBox::NoButton)
            return defaultButton;
        for (int bit = QMessageBox::FirstButton; bit <= QMessageBox::LastButton; bit <<= 1) {
            if (buttons.testFlag(QMessageBox::StandardButton(bit)))
                return QMessageBox::StandardButton(bit);
        }
        return QMessageBox::NoButton;
    }
    QString existingDirectory(const QString &, const QString &) override { return path; }
    QString openFileName(const QString &, const QString &, const QString &) override { return path; }
    QString saveFileName(const QString &, const QString &, const QString &) override { return path; }
    void exitProgram(int) override {}
};

// ---------------------------------------------------------------- data

struct Place {
    const char *city;
    const char *state;
    double lat;
    double lon;
};

const Place Places[] = {
    {"Seattle", "WA", 47.61, -122.33},    {"Spokane", "WA", 47.66, -117.43},        {"Portland", "OR", 45.52, -122.68},
    {"Boise", "ID", 43.62, -116.20},      {"Phoenix", "AZ", 33.45, -112.07},        {"Tucson", "AZ", 32.22, -110.97},
    {"Denver", "CO", 39.74, -104.99},     {"Salt Lake City", "UT", 40.76, -111.89}, {"Reno", "NV", 39.53, -119.81},
    {"Sacramento", "CA", 38.58, -121.49}, {"Fresno", "CA", 36.74, -119.79},         {"Austin", "TX", 30.27, -97.74},
    {"Dallas", "TX", 32.78, -96.80},      {"Omaha", "NE", 41.26, -95.93},           {"Chicago", "IL", 41.88, -87.63},
    {"Detroit", "MI", 42.33, -83.05},     {"Atlanta", "GA", 33.75, -84.39},         {"Orlando", "FL", 28.54, -81.38},
    {"Richmond", "VA", 37.54, -77.44},    {"Hartford", "CT", 41.76, -72.68},        {"Boston", "MA", 42.36, -71.06},
    {"Albany", "NY", 42.65, -73.75},      {"Billings", "MT", 45.78, -108.50},       {"Fargo", "ND", 46.88, -96.79},
    {"Anchorage", "AK", 61.22, -149.90},  {"Honolulu", "HI", 21.31, -157.86},
};
const char *const FirstNames[] = {"John",    "Mary",   "Robert", "Linda",   "James", "Susan",  "Michael",
                                  "Karen",   "David",  "Nancy",  "Richard", "Betty", "Thomas", "Helen",
                                  "Charles", "Sandra", "Gary",   "Donna",   "Larry", "Carol",  "Dennis",
                                  "Ruth",    "Steven", "Sharon", "Paul",    "Diane"};
const char *const LastNames[] = {"Smith",    "Johnson",  "Williams", "Brown",  "Jones", "Miller", "Davis",
                                 "Wilson",   "Anderson", "Taylor",   "Thomas", "Moore", "Martin", "Jackson",
                                 "Thompson", "White",    "Harris",   "Clark",  "Lewis", "Walker", "Hall",
                                 "Young",    "Allen",    "King",     "Wright"};
const char *const Classes[] = {"T", "G", "E", "A"};

template <typename T, size_t N>
const T &pick(std::mt19937 &rng, const T (&array)[N])
{
    return array[std::uniform_int_distribution<size_t>(0, N - 1)(rng)];
}

QChar letter(std::mt19937 &rng)
{
    return QChar('A' + std::uniform_int_distribution<int>(0, 25)(rng));
}

// A US call sign: 1x2 (K7AB), 1x3 (W1AWX), 2x1 (KA7B), 2x2 (AA7BQ), 2x3 (KD7ABC).
QString callSign(std::mt19937 &rng)
{
    const int form = std::uniform_int_distribution<int>(0, 99)(rng);
    static const char OneLetter[] = "KNW";
    static const char TwoFirst[] = "KNWA";
    QString call;
    int suffix = 3;
    if (form < 10 || (form >= 10 && form < 25)) {
        call += QChar(OneLetter[std::uniform_int_distribution<int>(0, 2)(rng)]);
        suffix = form < 10 ? 2 : 3;
    } else {
        const QChar first = QChar(TwoFirst[std::uniform_int_distribution<int>(0, 3)(rng)]);
        call += first;
        // A-prefixes run from AA to AL only.
        call += first == QLatin1Char('A') ? QChar('A' + std::uniform_int_distribution<int>(0, 11)(rng)) : letter(rng);
        suffix = form < 30 ? 1 : (form < 45 ? 2 : 3);
    }
    call += QChar('0' + std::uniform_int_distribution<int>(0, 9)(rng));
    for (int i = 0; i < suffix; ++i)
        call += letter(rng);
    return call;
}

QStringList contactRow(std::mt19937 &rng, const QString &call)
{
    const Place &place = pick(rng, Places);
    std::uniform_real_distribution<double> jitter(-0.4, 0.4);
    const QString first = QString::fromLatin1(pick(rng, FirstNames));
    const QString last = QString::fromLatin1(pick(rng, LastNames));
    return {
        call,
        first,
        last,
        QString::fromLatin1(pick(rng, Classes)),
        QStringLiteral("20%1-0%2-15").arg(27 + std::uniform_int_distribution<int>(0, 9)(rng)).arg(1 + int(rng() % 9)),
        QStringLiteral("%1 Main St").arg(100 + rng() % 9000),
        QString::fromLatin1(place.city),
        QString::fromLatin1(place.state),
        QStringLiteral("%1").arg(10000 + rng() % 89999),
        QStringLiteral("United States"),
        call.toLower() + QStringLiteral("@example.org"),
        QStringLiteral("555%1").arg(1000000 + rng() % 8999999),
        number(place.lat + jitter(rng), 4),
        number(place.lon + jitter(rng), 4),
        QStringLiteral("CN87"),
        QStringLiteral("user"),
        QStringLiteral("-8"),
        QStringLiteral("Y"),
        QStringLiteral("19%1").arg(40 + rng() % 60)};
}

// ---------------------------------------------------------------- runtime folder

// A runtime folder in a temporary directory laid out as the program expects,
// with Contacts.db generated from a fixed seed.
class Runtime {
public:
    Runtime(int contacts, int logRows, int members)
    {
        QDir dir(root.path());
        dir.mkpath(QStringLiteral("bin"));
        dir.mkpath(QStringLiteral("Programs/Trelvin/Data"));
        dir.mkpath(QStringLiteral("Programs/Trelvin/Info"));
        dir.mkpath(QStringLiteral("settings"));
        dir.mkpath(QStringLiteral("scratch"));
        for (const QString &name : {QStringLiteral("State_Info.csv"), QStringLiteral("US_States.txt")})
            QFile::copy(QStringLiteral(TRELVIN_SOURCE_DIR "/info/") + name, infoPath() + QLatin1Char('/') + name);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, root.path() + "/settings");
        {
            // Never the network: a local port where nothing listens, no update check.
            QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
            settings.setValue(QStringLiteral("Main/QrzServer"), QStringLiteral("http://127.0.0.1:9"));
            settings.setValue(QStringLiteral("Main/AutoUpdate"), false);
        }
        QDir::setCurrent(root.path() + "/bin");
        generate(contacts, logRows, members);
    }

    ~Runtime()
    {
        stop();
        QDir::setCurrent(QDir::tempPath());
    }

    QString dataPath() const { return root.path() + "/Programs/Trelvin/Data"; }
    QString infoPath() const { return root.path() + "/Programs/Trelvin/Info"; }
    QString scratch(const QString &name) const { return root.path() + "/scratch/" + name; }

    Trelvin *start()
    {
        stop();
        window = std::make_unique<Trelvin>();
        window->show();
        QCoreApplication::processEvents();
        return window.get();
    }

    void stop()
    {
        if (!window)
            return;
        window.reset();
        QSqlDatabase::removeDatabase(Trel::MemoryConnection);
        QSqlDatabase::removeDatabase(Trel::FileConnection);
    }

    // Writes a roster file of `count` members with full contact fields; a
    // tenth of them are stations not yet in the contacts.
    void writeRoster(const QString &path, int count)
    {
        std::mt19937 rng(7);
        QString text = QStringLiteral("\"Call\",\"First\",\"Last\",\"Class\",\"Expire\",\"Address\",\"City\",\"St\","
                                      "\"Zip\",\"Country\",\"Email\",\"Phone\",\"Lat\",\"Lon\",\"Grid\",\"Source\","
                                      "\"UTC\",\"DST\",\"Born\"\n");
        for (int i = 0; i < count; ++i) {
            QString call;
            if (i % 10 == 9) {
                do
                    call = callSign(rng);
                while (known.contains(call));
            } else {
                call = calls.at(int(rng() % quint32(calls.size())));
            }
            text += csvRecord(contactRow(rng, call));
        }
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(text.toUtf8());
    }

    QStringList calls;    // every contact's call, in row order
    QStringList netCalls; // the regulars that fill the log
    QSet<QString> known;
    QString logDate; // a net night with rows, yyMMdd
    SilentPrompter prompter;
    std::unique_ptr<Trelvin> window;

private:
    void generate(int contacts, int logRows, int members)
    {
        std::mt19937 rng(20240607);
        calls.reserve(contacts);
        known.reserve(contacts);
        while (calls.size() < contacts) {
            const QString call = callSign(rng);
            if (known.contains(call))
                continue;
            known.insert(call);
            calls.append(call);
        }

        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-generate"));
            db.setDatabaseName(dataPath() + "/" + Trel::ContactsDb);
            db.open();
            QSqlQuery q(db);
            q.exec(QStringLiteral("PRAGMA journal_mode=OFF"));
            q.exec(QStringLiteral("PRAGMA synchronous=OFF"));
            db.transaction();
            q.exec(QStringLiteral(
                "CREATE TABLE contact (id INTEGER PRIMARY KEY NOT NULL, call TEXT, name TEXT, last TEXT, class TEXT, "
                "expire TEXT, address TEXT, city TEXT, state TEXT, zip TEXT, country TEXT, email TEXT, phone TEXT, "
                "lat TEXT, lon TEXT, grid TEXT, source TEXT, utc TEXT, dst TEXT, born TEXT)"));
            q.exec(
                QStringLiteral("CREATE TABLE log (id INTEGER PRIMARY KEY NOT NULL, date TEXT, time TEXT, "
                               "status TEXT, call TEXT, name TEXT, relay TEXT, city TEXT, state TEXT, comment TEXT)"));
            q.exec(QStringLiteral("CREATE TABLE station (call TEXT, passwd TEXT, state TEXT, lat TEXT, lon TEXT, "
                                  "grid TEXT, utc TEXT, dst TEXT)"));
            q.exec(QStringLiteral("INSERT INTO station VALUES ('W7NCS', '', 'WA', '47.6062', '-122.3321', 'CN87', "
                                  "'-8', 'Y')"));

            QSqlQuery insert(db);
            insert.prepare(QStringLiteral("INSERT INTO contact VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                          "?, ?, ?, ?, ?)"));
            for (const QString &call : std::as_const(calls)) {
                for (const QString &value : contactRow(rng, call))
                    insert.addBindValue(value);
                insert.exec();
            }

            // A weekly net over the years, attended by a few hundred regulars.
            const int regulars = std::min(contacts, 400);
            for (int i = 0; i < regulars; ++i)
                netCalls.append(calls.at(int(qint64(i) * contacts / regulars)));
            insert.prepare(QStringLiteral("INSERT INTO log VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
            const int perNet = 60;
            const int nets = std::max(1, logRows / perNet);
            const QDate first(2019, 1, 6);
            int written = 0;
            for (int net = 0; written < logRows; ++net) {
                const QDate date = first.addDays(7 * qint64(net % std::max(nets, 1)));
                const QString day = date.toString(QStringLiteral("yyMMdd"));
                if (logDate.isEmpty())
                    logDate = day;
                for (int k = 0; k < perNet && written < logRows; ++k, ++written) {
                    const QString &call = netCalls.at(int(rng() % quint32(netCalls.size())));
                    const Place &place = pick(rng, Places);
                    insert.addBindValue(day);
                    insert.addBindValue(QStringLiteral("19:%1:%2")
                                            .arg(k % 60, 2, 10, QLatin1Char('0'))
                                            .arg(int(rng() % 60), 2, 10, QLatin1Char('0')));
                    insert.addBindValue(k == 0 ? QStringLiteral("N") : QStringLiteral(" "));
                    insert.addBindValue(call);
                    insert.addBindValue(QString::fromLatin1(pick(rng, FirstNames)));
                    insert.addBindValue(QString());
                    insert.addBindValue(QString::fromLatin1(place.city));
                    insert.addBindValue(QString::fromLatin1(place.state));
                    insert.addBindValue(k % 7 == 0 ? QStringLiteral("traffic for the net") : QString());
                    insert.exec();
                }
            }
            q.exec(QStringLiteral("CREATE INDEX contact_call ON contact(call)"));
            q.exec(QStringLiteral("CREATE INDEX log_call ON log(call)"));
            db.commit();
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bench-generate"));
        // Written without syncs, the file would sit in the system's cache
        // unwritten, and the first start's first sync would write all of it
        // (170 ms at 300k contacts): an old file is on disk.
        QFile written(dataPath() + "/" + Trel::ContactsDb);
        if (written.open(QIODevice::ReadOnly))
            ::fsync(written.handle());

        writeRoster(dataPath() + "/Roster-ARC.csv", members);
    }

    QTemporaryDir root;
};

// ---------------------------------------------------------------- measures

double budget = 3000; // ms per measure

// A call no contact and no earlier check-in of the run has.
QString unknownCall(Runtime &rt, std::mt19937 &rng)
{
    QString call;
    do
        call = callSign(rng);
    while (rt.known.contains(call));
    rt.known.insert(call);
    return call;
}

// A station never heard before, typed into the entry.
void typeNewStation(Runtime &rt, Trelvin &w, std::mt19937 &rng)
{
    callSearchOf(&w)->showContact(QString(), 0);
    deskOf(&w)->setEntry(0);
    FORM(&w, call)->setText(unknownCall(rt, rng));
    FORM(&w, name)->setText(QStringLiteral("Pat"));
    FORM(&w, city)->setText(QStringLiteral("Tacoma"));
    FORM(&w, state)->setText(QStringLiteral("WA"));
}

void benchKeystroke(Runtime &rt, const QString &size)
{
    Trelvin &w = *rt.window;
    // Fragments of a regular's call as an operator types them: 1 to 6 characters.
    QString model = rt.netCalls.value(rt.netCalls.size() / 2);
    for (const QString &call : std::as_const(rt.netCalls)) {
        if (call.size() == 6) {
            model = call;
            break;
        }
    }
    const QList<QString> fragments{model.mid(2, 1), model.mid(2, 2), model.mid(2, 3),
                                   model.mid(1, 4), model.mid(1, 5), model.left(6)};

    // The calls are read into memory on a thread of their own from start-up
    // on; until then a keystroke runs the LIKE.
    QElapsedTimer first;
    first.start();
    callSearchOf(&w)->searchEdited(fragments.first());
    record(QStringLiteral("keystroke while the call index is read"), size,
           summarise({double(first.nsecsElapsed()) / 1e6}));
    callSearchOf(&w)->searchEdited(QString());
    QElapsedTimer wait;
    wait.start();
    waitForCallIndex(storeOf(&w));
    record(QStringLiteral("call index read: rest of it after the first keystroke"), size,
           summarise({double(wait.nsecsElapsed()) / 1e6}));
    const qint64 indexBytes = storeOf(&w).contacts().callIndexBytes();
    std::printf("{\"measure\":\"call index\",\"size\":\"%s\",\"bytes\":%lld,\"bytes_per_contact\":%.1f}\n",
                qPrintable(size), indexBytes, double(indexBytes) / std::max<qsizetype>(rt.calls.size(), 1));
    results.push_back({QStringLiteral("call index: %1 bytes per contact")
                           .arg(double(indexBytes) / std::max<qsizetype>(rt.calls.size(), 1), 0, 'f', 1),
                       size, Stats{}, Stats{}, false});

    QTextEdit plain;
    plain.resize(FORM(&w, callsigns)->size());
    plain.show();

    // The limit: every call in one buffer, one memmem pass for the fragment.
    QByteArray all;
    for (const QString &call : std::as_const(rt.calls)) {
        all += call.toLatin1();
        all += '\n';
    }

    for (const QString &fragment : fragments) {
        const auto clear = [&w] {
            callSearchOf(&w)->searchEdited(QString());
            QCoreApplication::processEvents();
        };
        CallSearch *const callSearch = callSearchOf(&w);
        const Stats value = repeat([&] { callSearch->searchEdited(fragment); }, 5, 101, budget, clear);
        callSearchOf(&w)->searchEdited(fragment);
        const int lines = FORM(&w, callsigns)->document()->blockCount();
        const QString label = FORM(&w, lb_candidate)->text();
        clear();

        // The bare scan: the matches counted, the lines shown collected, one setPlainText.
        const QByteArray needle = fragment.toLatin1();
        const Stats bare = repeat(
            [&] {
                int count = 0;
                QString text;
                const char *data = all.constData();
                const char *end = data + all.size();
                const char *from = data;
                while (const char *hit = static_cast<const char *>(
                           memmem(from, size_t(end - from), needle.constData(), size_t(needle.size())))) {
                    const char *start = hit;
                    while (start > data && start[-1] != '\n')
                        --start;
                    const char *stop = static_cast<const char *>(std::memchr(hit, '\n', size_t(end - hit)));
                    if (count < lines) {
                        if (!text.isEmpty())
                            text += QLatin1Char('\n');
                        text += QLatin1String(start, stop - start);
                    }
                    ++count;
                    from = stop + 1;
                }
                plain.setPlainText(text);
            },
            5, 101, budget);

        // The same LIKE over the same table, bare: the full scan that counts the
        // matches, the lines shown, one setPlainText.
        const QString pattern = QLatin1Char('%') + fragment + QLatin1Char('%');
        const Stats sql = repeat(
            [&] {
                QSqlQuery count(fileDb(&w));
                count.prepare(QStringLiteral("SELECT COUNT(*) FROM contact WHERE call LIKE ?"));
                count.addBindValue(pattern);
                count.exec();
                count.next();
                QSqlQuery shown(fileDb(&w));
                shown.setForwardOnly(true);
                shown.prepare(QStringLiteral("SELECT call FROM contact WHERE call LIKE ? LIMIT ?"));
                shown.addBindValue(pattern);
                shown.addBindValue(lines);
                shown.exec();
                QString text;
                while (shown.next()) {
                    if (!text.isEmpty())
                        text += QLatin1Char('\n');
                    text += shown.value(0).toString();
                }
                plain.setPlainText(text);
            },
            5, 101, budget);
        const QString measure = QStringLiteral("keystroke %1 chars (%2)").arg(fragment.size()).arg(label);
        record(measure, size, value, &bare);
        record(measure + QStringLiteral(" against its SQL LIKE"), size, value, &sql);
    }

    // The first keystroke after a new contact was stored takes it into the index.
    int serial = 0;
    const QString fragment = fragments.at(2);
    CallSearch *const callSearch = callSearchOf(&w);
    const Stats afterWrite = repeat([&] { callSearch->searchEdited(fragment); }, 5, 51, budget,
                                    [&] {
                                        callSearchOf(&w)->searchEdited(QString());
                                        ContactRecord record;
                                        record.call = QStringLiteral("ZZ%1").arg(serial++);
                                        storeOf(&w).contacts().saveContact(record);
                                    });
    QSqlQuery(fileDb(&w)).exec(QStringLiteral("DELETE FROM contact WHERE call LIKE 'ZZ%'"));
    callSearchOf(&w)->searchEdited(QString());
    record(QStringLiteral("keystroke %1 chars, first after a contact was stored").arg(fragment.size()), size,
           afterWrite);
}

void benchDisplay(Runtime &rt, const QString &size)
{
    Trelvin &w = *rt.window;
    // Two regulars in turn, so that every field shown changes, as when the
    // operator moves from one station to the next.
    const QString calls[] = {rt.netCalls.value(rt.netCalls.size() / 3), rt.netCalls.value(rt.netCalls.size() / 2)};
    int turn = 0;
    CallSearch *const callSearch = callSearchOf(&w);
    const Stats value = repeat([&] { callSearch->showContact(calls[turn++ % 2], 2); }, 10, 201, budget);
    const Stats base = repeat(
        [&] {
            const QString &call = calls[turn++ % 2];
            QSqlQuery q(fileDb(&w));
            q.setForwardOnly(true);
            q.prepare(QStringLiteral("SELECT * FROM contact WHERE call = ?"));
            q.addBindValue(call);
            q.exec();
            q.next();
            QSqlQuery m(memoryDb(&w));
            m.prepare(QStringLiteral("SELECT * FROM mbr WHERE call = ?"));
            m.addBindValue(call);
            m.exec();
            m.next();
            QSqlQuery log(fileDb(&w));
            log.setForwardOnly(true);
            log.prepare(QStringLiteral("SELECT * FROM log WHERE call = ?"));
            log.addBindValue(call);
            log.exec();
            QVariant last;
            while (log.next())
                last = log.value(0);
            QSqlQuery latest(fileDb(&w));
            latest.prepare(QStringLiteral("SELECT * FROM log WHERE id = ?"));
            latest.addBindValue(last);
            latest.exec();
            latest.next();
            QSqlQuery net(fileDb(&w));
            net.prepare(QStringLiteral("SELECT * FROM net WHERE call = ?"));
            net.addBindValue(call);
            net.exec();
            net.next();
            QSqlQuery station(fileDb(&w));
            station.exec(QStringLiteral("SELECT lat, lon, state FROM station"));
            station.next();
        },
        10, 201, budget);
    record(QStringLiteral("displayContact (unique match)"), size, value, &base);
}

void benchCheckIn(Runtime &rt, const QString &size)
{
    Trelvin &w = *rt.window;
    std::mt19937 rng(99);
    const auto emptyNet = [&w] { QSqlQuery(fileDb(&w)).exec(QStringLiteral("DELETE FROM net")); };
    emptyNet();

    const auto prepareNew = [&] { typeNewStation(rt, w, rng); };
    prepareNew();
    CheckInDesk *const desk = deskOf(&w);
    const Stats newValue = repeat([&] { desk->storeEntry(608); }, 10, 201, budget,
                                  [&] {
                                      emptyNet();
                                      prepareNew();
                                  });

    // The same check-in's storage alone: what Storage does for the key,
    // without the window's work around it (the list redrawn, the entry and
    // the search cleared).
    NetLogStore::EntryChange change;
    const auto prepareStore = [&] {
        const QString fresh = unknownCall(rt, rng);
        change.call = fresh;
        change.name = QStringLiteral("Pat");
        change.city = QStringLiteral("Tacoma");
        change.state = QStringLiteral("WA");
        change.now = QDateTime::currentDateTime();
        change.key = 608;
        change.entryId = 0;
        change.contact = ContactRecord::fromValues({fresh, QStringLiteral("Pat"), QString(), QString(), QString(),
                                                    QString(), QStringLiteral("Tacoma"), QStringLiteral("WA")});
    };
    emptyNet();
    prepareStore();
    const Stats storeValue = repeat([&] { storeOf(&w).netLog().storeEntry(change); }, 10, 201, budget,
                                    [&] {
                                        emptyNet();
                                        prepareStore();
                                    });

    // A known station shown first, as after a search.
    int next = 0;
    const auto prepareKnown = [&] {
        const QString call = rt.calls.at(int((qint64(next++) * 7919) % rt.calls.size()));
        callSearchOf(&w)->showContact(call, 2);
        deskOf(&w)->setEntry(0);
    };
    emptyNet();
    prepareKnown();
    const Stats knownValue = repeat([&] { desk->storeEntry(608); }, 10, 201, budget,
                                    [&] {
                                        emptyNet();
                                        prepareKnown();
                                    });
    emptyNet();

    // The rows a check-in stores, inserted bare, each statement on its own
    // or all in one transaction, as the check-in stores them.
    // Calls drawn as the check-in's are: each row lands where the check-in's
    // would in the indexes on call, not always on the same page.
    QStringList bareCalls;
    const auto rows = [&](bool withContact) {
        QString call;
        do
            call = callSign(rng);
        while (rt.known.contains(call));
        rt.known.insert(call);
        bareCalls.append(call);
        QSqlQuery log(fileDb(&w));
        log.prepare(QStringLiteral("INSERT INTO log (id, date, time, status, call, name, relay, city, state, comment) "
                                   "VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const QString &v :
             {QStringLiteral("261207"), QStringLiteral("19:00:00"), QStringLiteral(" "), call, QStringLiteral("Pat"),
              QString(""), QStringLiteral("Tacoma"), QStringLiteral("WA"), QString("")})
            log.addBindValue(v);
        log.exec();
        if (withContact) {
            QSqlQuery contact(fileDb(&w));
            contact.prepare(QStringLiteral("INSERT INTO contact (id, call, name, state) VALUES (NULL, ?, ?, ?)"));
            contact.addBindValue(call);
            contact.addBindValue(QStringLiteral("Pat"));
            contact.addBindValue(QStringLiteral("WA"));
            contact.exec();
        }
        QSqlQuery net(fileDb(&w));
        net.prepare(QStringLiteral("INSERT INTO net (id, time, call, name, city, state, comment, conId, logId, status, "
                                   "relay, made) VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const QVariant &v :
             {QVariant(QStringLiteral("19:00")), QVariant(call), QVariant(QStringLiteral("Pat")),
              QVariant(QStringLiteral("Tacoma")), QVariant(QStringLiteral("WA")), QVariant(QString()), QVariant(1),
              QVariant(1), QVariant(32), QVariant(QString()), QVariant(QStringLiteral("2026-12-07T19:00:00"))})
            net.addBindValue(v);
        net.exec();
    };
    const auto inserts = [&](bool withContact, bool together = false) {
        if (!together) {
            rows(withContact);
            return;
        }
        // The statements are gone before the commit, as in the check-in.
        fileDb(&w).transaction();
        rows(withContact);
        if (!fileDb(&w).commit()) {
            std::fprintf(stderr, "commit failed: %s\n", qPrintable(fileDb(&w).lastError().text()));
            fileDb(&w).rollback();
        }
    };
    const Stats newBase = repeat([&] { inserts(true); }, 10, 201, budget, emptyNet);
    const Stats oneCommitBase = repeat([&] { inserts(true, true); }, 10, 201, budget, emptyNet);
    const Stats knownBase = repeat([&] { inserts(false); }, 10, 201, budget, emptyNet);
    fileDb(&w).transaction();
    for (const char *table : {"log", "contact"}) {
        QSqlQuery remove(fileDb(&w));
        remove.prepare(QStringLiteral("DELETE FROM %1 WHERE call = ?").arg(QLatin1String(table)));
        for (const QString &call : bareCalls) {
            remove.addBindValue(call);
            remove.exec();
        }
    }
    fileDb(&w).commit();
    record(QStringLiteral("check-in addContact(608) new station"), size, newValue, &newBase);
    record(QStringLiteral("check-in new station vs its rows in one transaction"), size, newValue, &oneCommitBase);
    record(QStringLiteral("check-in new station, its storage alone, vs its rows in one transaction"), size, storeValue,
           &oneCommitBase);
    record(QStringLiteral("check-in addContact(608) known station"), size, knownValue, &knownBase);
}

// Tonight's net of `stations`, checked in, with the roles spread over the list.
void fillNet(Runtime &rt, Trelvin &w, int stations)
{
    QSqlQuery(fileDb(&w)).exec(QStringLiteral("DELETE FROM net"));
    fileDb(&w).transaction();
    QSqlQuery insert(fileDb(&w));
    insert.prepare(QStringLiteral("INSERT INTO net (id, time, call, name, city, state, comment, conId, logId, "
                                  "status, relay, made) VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (int i = 0; i < stations; ++i) {
        const Place &place = Places[i % int(std::size(Places))];
        insert.addBindValue(QStringLiteral("19:%1").arg(i % 60, 2, 10, QLatin1Char('0')));
        insert.addBindValue(rt.calls.at(i % rt.calls.size()));
        insert.addBindValue(QString::fromLatin1(FirstNames[i % int(std::size(FirstNames))]));
        insert.addBindValue(QString::fromLatin1(place.city));
        insert.addBindValue(QString::fromLatin1(place.state));
        insert.addBindValue(i % 5 == 0 ? QStringLiteral("traffic") : QString());
        insert.addBindValue(i + 1);
        insert.addBindValue(i + 1);
        insert.addBindValue(i == 0 ? 48 : 32 | (i % 4 == 1 ? 1 << (i % 4) : 0));
        insert.addBindValue(i % 9 == 0 ? QStringLiteral("W7NCS") : QString());
        insert.addBindValue(QStringLiteral("2026-12-07T19:00:00"));
        insert.exec();
    }
    fileDb(&w).commit();
}

void benchNet(Runtime &rt)
{
    Trelvin &w = *rt.window;
    for (int stations : {100, 300}) {
        fillNet(rt, w, stations);
        const int active = stations / 2;
        CheckInDesk *const desk = deskOf(&w);
        const Stats value = repeat([&] { desk->showNet(active); }, 10, 201, budget);
        const QString html = FORM(&w, checkins)->toHtml();
        QTextEdit other;
        other.resize(FORM(&w, checkins)->size());
        other.show();
        const Stats base = repeat([&] { other.setHtml(html); }, 10, 201, budget);
        record(QStringLiteral("displayNet"), QString::number(stations) + " stations", value, &base);
    }
    QSqlQuery(fileDb(&w)).exec(QStringLiteral("DELETE FROM net"));
}

// The net map after a key on a net of 300: the net read and placed, the
// window painted (the states from its cache). Target: one frame, 16 ms.
// Baseline: the same dots and calls painted on a blank image, nothing read
// or placed.
void benchNetMap(Runtime &rt)
{
    Trelvin &w = *rt.window;
    fillNet(rt, w, 300);
    auto *map = w.findChild<NetMapController *>(QStringLiteral("netMap"));
    FORM(&w, actionShowNetMap)->trigger();
    map->window()->resize(975, 660);
    QCoreApplication::processEvents();
    NetMapView *view = map->view();
    const Stats value = repeat(
        [&] {
            map->refresh();
            view->repaint();
        },
        10, 201, budget);

    const NetMapScene scene = view->scene();
    const QTransform transform = view->canvasToView();
    QImage image(view->size(), QImage::Format_RGB32);
    const Stats base = repeat(
        [&] {
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            for (const NetMapScene::Dot &dot : scene.dots) {
                const QPointF at = transform.map(dot.at);
                painter.setPen(dot.look.edge);
                painter.setBrush(dot.look.fill);
                painter.drawEllipse(at, 5, 5);
                painter.drawText(at + QPointF(8, 4), dot.call);
            }
        },
        10, 201, budget);
    record(QStringLiteral("map redraw"), QString::number(scene.dots.size()) + " stations", value, &base);
    map->window()->hide();
    QSqlQuery(fileDb(&w)).exec(QStringLiteral("DELETE FROM net"));
}

void benchReports(Runtime &rt, const QString &size)
{
    Trelvin &w = *rt.window;
    const int logYear = rt.logDate.left(2).toInt();
    const int logMonth = rt.logDate.mid(2, 2).toInt();
    const int logDay = rt.logDate.mid(4, 2).toInt();
    const QString logBeginTime = QStringLiteral("00:00:00");
    const QString logEndTime = QStringLiteral("23:59:59");
    const QByteArray day = rt.logDate.toUtf8();
    // Each report's statements run bare, every value read: what the report
    // costs before a single line is formatted or shown.
    const auto touch = [](const Direct::Statement &q, qint64 &chars) {
        for (int c = 0; c < q.columnCount(); ++c)
            chars += q.utf8(c).size();
    };
    const std::function<void()> wholeLog = [&] {
        qint64 chars = 0;
        Direct::Statement q(fileDb(&w), "SELECT * FROM log ORDER BY date desc, time desc");
        while (q.next())
            touch(q, chars);
    };
    const std::function<void()> contacts = [&] {
        qint64 chars = 0;
        Direct::Statement q(fileDb(&w), "SELECT id, call, name, city, state FROM contact "
                                        "ORDER BY substr(ltrim(call,'ABCDEFGHIJKLMNOPQRSTUVWXYZ'),2)");
        while (q.next())
            touch(q, chars);
    };
    const std::function<void()> roster = [&] {
        qint64 chars = 0;
        const Direct::ReadTransaction snapshot(fileDb(&w));
        Direct::Statement members(memoryDb(&w),
                                  "SELECT call FROM mbr ORDER BY substr(ltrim(call,'ABCDEFGHIJKLMNOPQRSTUVWXYZ'),2)");
        Direct::Statement contact(fileDb(&w), "SELECT call, name, city, state FROM contact WHERE call=?");
        while (members.next()) {
            contact.bindColumnText(1, members, 0);
            if (contact.next())
                touch(contact, chars);
            contact.reset();
        }
    };
    const std::function<void()> oneNight = [&] {
        qint64 chars = 0;
        Direct::Statement q(fileDb(&w),
                            "SELECT * FROM log WHERE date = ? AND time > ? AND time < ? ORDER BY time desc");
        q.bindUtf8(1, day);
        q.bindString(2, logBeginTime);
        q.bindString(3, logEndTime);
        while (q.next())
            touch(q, chars);
    };
    ReportsController *made = reportsOf(&w);
    struct Report {
        const char *name;
        std::function<void()> show;
        SeeLogs *window;
        const std::function<void()> &statements;
    };
    const Report reports[] = {
        {"report showDatabase (whole log)", [made] { made->showWholeLog(); }, made->wholeLogWindow(), wholeLog},
        {"report showContacts", [made] { made->showContacts(); }, made->contactsWindow(), contacts},
        {"report showRoster", [made] { made->showRoster(); }, made->rosterWindow(), roster},
        {"report showTrelvin (one net)",
         [=] { made->showNetLogOf(logYear, logMonth, logDay, logBeginTime, logEndTime); }, made->dateLogWindow(),
         oneNight}};
    for (const Report &report : reports) {
        const QString name = QString::fromLatin1(report.name);
        recordGap(name, size, longestGap([&] { report.show(); }, [&] { return jobsDone(w); }));
        // Until the first lines are on screen: at once for a report built
        // whole, the first chunk for one filled behind it.
        std::vector<double> firstMs;
        for (int run = 0; run < 5; ++run) {
            bool shown = false;
            const QMetaObject::Connection first =
                QObject::connect(reportFillOf(&w), &ReportFill::firstScreen, [&] { shown = true; });
            QElapsedTimer t;
            t.start();
            report.show();
            if (reportFillOf(&w)->idle())
                shown = true;
            runUntil([&] { return shown; });
            firstMs.push_back(double(t.nsecsElapsed()) / 1e6);
            QObject::disconnect(first);
            finishJobs(w);
        }
        record(name + QStringLiteral(": first screen"), size, summarise(firstMs));
        const Stats value = repeat(
            [&] {
                report.show();
                finishJobs(w);
            },
            3, 51, budget);
        // The same text set into the same widget: its font and settings
        // decide how long the layout takes.
        QPlainTextEdit *log = report.window->logView();
        const QString text = log->toPlainText();
        const Stats base = repeat([&] { log->setPlainText(text); }, 3, 51, budget);
        record(QString::fromLatin1(report.name), size, value, &base);
        const Stats sql = repeat(report.statements, 3, 51, budget);
        record(QString::fromLatin1(report.name) + QStringLiteral(": its SQL alone"), size, sql);
    }
}

// Starts a job and runs `step` up to twenty times while it runs, spread
// over `spreadMs`; returns once the job is done.
void twentyDuring(Trelvin &w, double spreadMs, const std::function<void()> &start, const std::function<void()> &step)
{
    const qint64 every = qMax<qint64>(1, qint64(spreadMs / 20));
    int steps = 0;
    start();
    QElapsedTimer since;
    since.start();
    while (!jobsDone(w)) {
        if (steps < 20 && since.elapsed() >= every) {
            since.restart();
            step();
            ++steps;
        }
        runUntil([&] { return jobsDone(w) || (steps < 20 && since.elapsed() >= every); });
    }
    finishJobs(w);
}

// An operator on the air during a job: twenty new stations checked in from
// the event loop, spread over `spreadMs` (the job's own time, measured
// before), so that each of its steps sees some, the index builds and the
// swap included. Each figure is one check-in, the key to the entry stored;
// the longest is the line to watch.
void recordCheckInsDuring(Runtime &rt, Trelvin &w, const QString &job, const QString &size, double spreadMs,
                          const std::function<void()> &start)
{
    finishJobs(w);
    QSqlQuery(fileDb(&w)).exec(QStringLiteral("DELETE FROM net"));
    std::mt19937 rng(300);
    std::vector<double> waits;
    rt.prompter.writeFailures = 0;
    finishAfterLoad(w);
    twentyDuring(w, spreadMs, start, [&] {
        typeNewStation(rt, w, rng);
        QElapsedTimer t;
        t.start();
        deskOf(&w)->storeEntry(608);
        waits.push_back(double(t.nsecsElapsed()) / 1e6);
    });
    record(QStringLiteral("check-in during a %1").arg(job), size, summarise(waits));
    const double longest = waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
    record(QStringLiteral("check-in during a %1: longest").arg(job), size, summarise({longest}));
    const QString refused = QStringLiteral("%1 of %2").arg(rt.prompter.writeFailures).arg(waits.size());
    results.push_back(
        {QStringLiteral("check-ins refused during a %1: ").arg(job) + refused, size, Stats{}, Stats{}, false});
    std::printf("{\"measure\":\"check-ins refused during a %s\",\"size\":\"%s\",\"value\":\"%s\"}\n", qPrintable(job),
                qPrintable(size), qPrintable(refused));
    std::fflush(stdout);
    QSqlQuery(fileDb(&w)).exec(QStringLiteral("DELETE FROM net"));
}

// Twenty keystrokes spread over the job, each a regular's call fragment
// typed into the search: how long each took, and how many answered only in
// part (the index of calls being read again).
void recordKeystrokesDuring(Runtime &rt, Trelvin &w, const QString &job, const QString &size, double spreadMs,
                            const std::function<void()> &start)
{
    finishJobs(w);
    finishAfterLoad(w);
    waitForCallIndex(storeOf(&w));
    const QString fragment = rt.netCalls.value(0).mid(1, 3);
    CallSearch *const search = callSearchOf(&w);
    std::vector<double> waits;
    int partial = 0;
    twentyDuring(w, spreadMs, start, [&] {
        QElapsedTimer t;
        t.start();
        search->searchEdited(fragment);
        waits.push_back(double(t.nsecsElapsed()) / 1e6);
        const QString label = FORM(&w, lb_candidate)->text();
        partial += label.endsWith(QLatin1String("so far")) || label == QLatin1String("Searching...");
        search->searchEdited(QString());
    });
    record(QStringLiteral("keystroke during a %1").arg(job), size, summarise(waits));
    const QString count = QStringLiteral("%1 of %2").arg(partial).arg(waits.size());
    results.push_back(
        {QStringLiteral("keystrokes answered in part during a %1: ").arg(job) + count, size, Stats{}, Stats{}, false});
    std::printf("{\"measure\":\"keystrokes answered in part during a %s\",\"size\":\"%s\",\"value\":\"%s\"}\n",
                qPrintable(job), qPrintable(size), qPrintable(count));
    std::fflush(stdout);
}

void benchContactsCsv(Runtime &rt, const QString &size)
{
    Trelvin &w = *rt.window;
    const QString file = rt.scratch(QStringLiteral("Contacts-bench.csv"));
    rt.prompter.path = file;
    const Stats save = repeat(
        [&] {
            FORM(&w, actionSaveContacts)->trigger();
            finishJobs(w);
        },
        3, 21, budget);
    // The old table is dropped after the load has ended, beside the window;
    // the next load waits for that, untimed, as an operator's would.
    std::vector<double> drops;
    const Stats load = repeat(
        [&] {
            FORM(&w, actionLoadContacts)->trigger();
            finishJobs(w);
        },
        3, 21, budget, [&] { drops.push_back(finishAfterLoad(w)); });
    record(QStringLiteral("contacts CSV load: old table dropped after it"), size, summarise(drops));
    recordGap(QStringLiteral("contacts CSV save"), size,
              longestGap([&] { FORM(&w, actionSaveContacts)->trigger(); }, [&] { return jobsDone(w); }));
    recordGap(QStringLiteral("contacts CSV load"), size,
              longestGap([&] { FORM(&w, actionLoadContacts)->trigger(); }, [&] { return jobsDone(w); }));
    rt.prompter.path.clear();
    finishAfterLoad(w);

    // The physical floor: SQLite itself, no Qt layer, no file.
    const QSqlDatabase &db = fileDb(&w);
    const Stats saveBase = repeat(
        [&] {
            Direct::exec(db, "BEGIN");
            Direct::Statement q(db, "SELECT * FROM contact");
            qint64 bytes = 0;
            while (q.next()) {
                for (int c = 1; c < 20; ++c)
                    bytes += q.utf8(c).size();
            }
            Direct::exec(db, "COMMIT");
        },
        3, 21, budget);
    // The file's rows, split beforehand and kept in memory: the inserts
    // alone, with nothing read or parsed while they run.
    QByteArray fieldBytes;
    std::vector<qsizetype> fieldStarts; // 19 per row, then the end
    {
        QFile saved(file);
        saved.open(QIODevice::ReadOnly);
        CsvInput input(saved);
        input.skipLine();
        while (input.next()) {
            for (int k = 0; k < 19; ++k) {
                fieldStarts.push_back(fieldBytes.size());
                fieldBytes += input.string(k).toUtf8();
            }
        }
        fieldStarts.push_back(fieldBytes.size());
    }
    const qsizetype rowCount = qsizetype(fieldStarts.size() - 1) / 19;
    const Stats loadBase = repeat(
        [&] {
            Direct::exec(db, "BEGIN");
            Direct::exec(db, "CREATE TABLE contact_copy AS SELECT * FROM contact WHERE 0");
            {
                Direct::Statement insert(db, "INSERT INTO contact_copy VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                             "?, ?, ?, ?, ?, ?, ?, ?, ?)");
                for (qsizetype row = 0; row < rowCount; ++row) {
                    for (int k = 0; k < 19; ++k) {
                        const size_t at = size_t(row * 19 + k);
                        insert.bindUtf8Static(k + 1, QByteArrayView(fieldBytes.constData() + fieldStarts[at],
                                                                    fieldStarts[at + 1] - fieldStarts[at]));
                    }
                    insert.run();
                }
            }
            Direct::exec(db, "CREATE INDEX contact_copy_call ON contact_copy(call)");
            Direct::exec(db, "COMMIT");
        },
        // Dropped between the runs, so that each run writes into free pages
        // as the loader does.
        3, 21, budget, [&] { Direct::exec(db, "DROP TABLE IF EXISTS contact_copy"); });
    QSqlQuery(fileDb(&w)).exec(QStringLiteral("DROP TABLE IF EXISTS contact_copy"));
    record(QStringLiteral("contacts CSV save"), size, save, &saveBase);
    record(QStringLiteral("contacts CSV load"), size, load, &loadBase);
    rt.prompter.path = file;
    recordGap(QStringLiteral("contacts CSV save"), size, longestGap([&] { FORM(&w, actionSaveContacts)->trigger(); }));
    recordGap(QStringLiteral("contacts CSV load"), size, longestGap([&] { FORM(&w, actionLoadContacts)->trigger(); }));

    recordCheckInsDuring(rt, w, QStringLiteral("contacts CSV load"), size, load.median,
                         [&] { FORM(&w, actionLoadContacts)->trigger(); });
    recordKeystrokesDuring(rt, w, QStringLiteral("contacts CSV load"), size, load.median,
                           [&] { FORM(&w, actionLoadContacts)->trigger(); });
    rt.prompter.path.clear();
}

void benchRoster(Runtime &rt, const QString &size, int members)
{
    Trelvin &w = *rt.window;
    finishAfterLoad(w);
    const QString in = rt.scratch(QStringLiteral("Roster-big.csv"));
    const QString out = rt.scratch(QStringLiteral("Roster-saved.csv"));
    rt.writeRoster(in, members);
    recordGap(QStringLiteral("roster load %1 members").arg(sizeLabel(members)), size,
              longestGap([&] { filesOf(&w)->loadRoster(in); }, [&] { return jobsDone(w); }));
    const Stats load = repeat(
        [&] {
            filesOf(&w)->loadRoster(in);
            finishJobs(w);
        },
        3, 21, budget);
    const Stats save = repeat([&] { filesOf(&w)->saveRoster(out); }, 3, 21, budget);

    // The same members: their rows inserted in one transaction, and selected
    // by call in one transaction.
    QList<QStringList> rows;
    {
        QFile file(in);
        file.open(QIODevice::ReadOnly);
        file.readLine();
        while (!file.atEnd())
            rows.append(splitCsvLine(QString::fromUtf8(file.readLine())));
    }
    const QSqlDatabase &db = fileDb(&w);
    // The members' lines inserted into a new table of the contacts' shape.
    const auto insertLines = [&] {
        Direct::exec(db, "DROP TABLE IF EXISTS roster_copy");
        Direct::exec(db, "CREATE TABLE roster_copy AS SELECT * FROM contact WHERE 0");
        Direct::Statement insert(db, "INSERT INTO roster_copy VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                     "?, ?, ?, ?, ?)");
        for (const QStringList &row : std::as_const(rows)) {
            for (int k = 0; k < row.size(); ++k)
                insert.bindString(k + 1, row.at(k));
            insert.run();
        }
    };
    const Stats loadBase = repeat(
        [&] {
            Direct::exec(db, "BEGIN");
            insertLines();
            Direct::exec(db, "COMMIT");
        },
        3, 21, budget);
    Direct::exec(db, "DROP TABLE IF EXISTS roster_copy");
    const Stats saveBase = repeat(
        [&] {
            Direct::exec(db, "BEGIN");
            {
                Direct::Statement find(db, "SELECT * FROM contact WHERE call = ?");
                for (const QStringList &row : std::as_const(rows)) {
                    find.bindString(1, row.value(0));
                    if (find.next()) {
                        qint64 bytes = 0;
                        for (int c = 1; c < 20; ++c)
                            bytes += find.utf8(c).size();
                    }
                    find.reset();
                }
            }
            Direct::exec(db, "COMMIT");
        },
        3, 21, budget);
    // The load's own floor: the same members looked up as it looks them up
    // (in call order, then their rows in id order, every column read) and
    // their lines inserted, in one transaction, straight through SQLite. The
    // line above leaves the look-ups out.
    QList<QByteArray> sortedCalls;
    for (const QStringList &row : std::as_const(rows))
        sortedCalls.append(row.value(0).toUtf8());
    std::sort(sortedCalls.begin(), sortedCalls.end());
    const Stats floorBase = repeat(
        [&] {
            Direct::exec(db, "BEGIN");
            {
                std::vector<qint64> ids;
                Direct::Statement findId(db, "SELECT id FROM contact WHERE call = ?");
                for (const QByteArray &call : std::as_const(sortedCalls)) {
                    findId.bindUtf8Static(1, call);
                    if (findId.next())
                        ids.push_back(findId.integer(0));
                    findId.reset();
                }
                std::sort(ids.begin(), ids.end());
                Direct::Statement byId(db, "SELECT * FROM contact WHERE id = ?");
                qint64 bytes = 0;
                for (const qint64 id : ids) {
                    byId.bindInt(1, id);
                    if (byId.next()) {
                        for (int c = 1; c < 20; ++c)
                            bytes += byId.utf8(c).size();
                    }
                    byId.reset();
                }
            }
            insertLines();
            Direct::exec(db, "COMMIT");
        },
        3, 21, budget);
    Direct::exec(db, "DROP TABLE IF EXISTS roster_copy");
    record(QStringLiteral("roster load %1 members").arg(sizeLabel(members)), size, load, &loadBase);
    record(QStringLiteral("roster load %1 members against its look-ups bare").arg(sizeLabel(members)), size, load,
           &floorBase);
    record(QStringLiteral("roster save %1 members").arg(sizeLabel(members)), size, save, &saveBase);
    recordCheckInsDuring(rt, w, QStringLiteral("roster load %1 members").arg(sizeLabel(members)), size, load.median,
                         [&] { filesOf(&w)->loadRoster(in); });
}

// New error-log lines with the Error Log window open, against the same lines
// with it closed; then opening the window on a log of 100 MB, against a bare
// text view of its size given the part of the file that the window shows.
void benchErrorLog(Runtime &rt, const QString &size)
{
    Trelvin &w = *rt.window;
    const QString logPath = rt.dataPath() + QStringLiteral("/errorLog.txt");
    ErrorLog *errorLog = w.findChild<ErrorLog *>();
    const auto lines = [errorLog] {
        for (int i = 1; i <= 2000; ++i)
            errorLog->write(QStringLiteral("Line %1 of 'net.csv' skipped: wrong number of fields").arg(i));
    };
    const Stats closed = repeat(lines, 3, 11, budget);
    FORM(&w, actionShow_Error_Log)->trigger();
    const Stats open = repeat(lines, 3, 11, budget);
    documentsOf(&w)->documentWindow()->hide();
    record(QStringLiteral("error log: 2,000 lines, window open"), size, open, &closed);

    {
        QFile log(logPath);
        log.open(QIODevice::WriteOnly | QIODevice::Truncate);
        QByteArray block;
        for (int i = 0; block.size() < 1024 * 1024; ++i)
            block +=
                "12/07/2026 20:15:00 Line " + QByteArray::number(i) + " of 'net.csv' skipped: wrong number of fields\n";
        while (log.size() < 100LL * 1024 * 1024)
            log.write(block);
    }
    QTextEdit bare;
    bare.resize(documentsOf(&w)->documentWindow()->size());
    bare.show();
    const Stats read = repeat(
        [&logPath, &bare] {
            QFile log(logPath);
            log.open(QIODevice::ReadOnly);
            log.seek(log.size() - SeeFile::ErrorLogTail);
            bare.setPlainText(QString::fromUtf8(log.read(SeeFile::ErrorLogTail)));
            bare.moveCursor(QTextCursor::End);
            bare.ensureCursorVisible();
            QCoreApplication::processEvents();
        },
        3, 11, budget);
    bare.hide();
    const Stats show = repeat(
        [&w] {
            FORM(&w, actionShow_Error_Log)->trigger();
            QCoreApplication::processEvents();
        },
        3, 11, budget, [&w] { documentsOf(&w)->documentWindow()->hide(); });
    record(QStringLiteral("error log: open a 100 MB log"), size, show, &read);
    QFile::resize(logPath, 0);
}

// ---------------------------------------------------------------- call book

// A weekly FCC amateur file of `licences` active licences in the FCC's
// layout, plus one expired licence in ten and a cancelled earlier licence of
// one call in fifty; ZIP codes from the shipped centre table.
struct FccFile {
    QString path;
    QStringList calls;
};

FccFile generateFcc(const QString &path, int licences, const QList<QByteArray> &zipCodes)
{
    std::mt19937 rng(15);
    QSet<QString> used;
    FccFile file;
    file.path = path;
    QByteArray hd, en, am;
    const qint64 expected = qint64(licences) * 11 / 10;
    hd.reserve(expected * 130);
    en.reserve(expected * 170);
    am.reserve(expected * 50);
    const QByteArray hdTail(50, '|');
    const QByteArray enTail(11, '|');
    int id = 1000;
    const auto add = [&](const QByteArray &call, const char *status, const char *granted, const char *expires) {
        const QByteArray sid = QByteArray::number(++id);
        const Place &place = pick(rng, Places);
        hd += "HD|" + sid + "|||" + call + "|" + status + "|HA|" + granted + "|" + expires + hdTail + "\n";
        en += "EN|" + sid + "|||" + call + "|L|L00" + sid + "|" + pick(rng, FirstNames) + " " + pick(rng, LastNames)
              + "|" + QByteArray(pick(rng, FirstNames)).toUpper() + "|A|" + QByteArray(pick(rng, LastNames)).toUpper()
              + "|||||" + QByteArray::number(100 + rng() % 9000) + " MAIN ST|" + QByteArray(place.city).toUpper() + "|"
              + place.state + "|" + zipCodes.at(int(rng() % quint32(zipCodes.size()))) + "1234||||" + "0001" + sid
              + "|I" + enTail + "\n";
        am += "AM|" + sid + "|||" + call + "|" + pick(rng, Classes) + "|D|7||||||||||\n";
    };
    while (file.calls.size() < licences) {
        const QString call = callSign(rng);
        if (used.contains(call))
            continue;
        used.insert(call);
        const QByteArray bytes = call.toLatin1();
        if (file.calls.size() % 50 == 0)
            add(bytes, "C", "01/05/2001", "01/05/2011");
        add(bytes, "A", "04/12/2022", "04/12/2032");
        file.calls.append(call);
        if (file.calls.size() % 10 == 0) {
            QString gone;
            do
                gone = callSign(rng);
            while (used.contains(gone));
            used.insert(gone);
            add(gone.toLatin1(), "E", "02/02/2010", "02/02/2020");
        }
    }
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    const std::pair<const char *, QByteArray *> members[] = {{"HD.dat", &hd}, {"EN.dat", &en}, {"AM.dat", &am}};
    for (const auto &member : members) {
        zip_source_t *source =
            zip_source_buffer(archive, member.second->constData(), zip_uint64_t(member.second->size()), 0);
        const zip_int64_t index = zip_file_add(archive, member.first, source, ZIP_FL_OVERWRITE);
        zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_DEFLATE, 1);
    }
    zip_close(archive);
    return file;
}

// The rows of a call book, in call order, held in memory for the bare insert.
struct MemoryRows {
    QByteArray bytes;
    std::vector<std::array<int, 14>> offsets; // 13 texts, then the end
    std::vector<std::pair<double, double>> positions;
    std::vector<bool> placed;
};

MemoryRows readRows(const QString &path)
{
    MemoryRows rows;
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *select = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT call, first, middle, last, street, city, state, zip, class, granted, expires, previous, "
                       "trustee, lat, lon FROM licence ORDER BY call",
                       -1, &select, nullptr);
    while (sqlite3_step(select) == SQLITE_ROW) {
        std::array<int, 14> offsets;
        for (int c = 0; c < 13; ++c) {
            offsets[size_t(c)] = int(rows.bytes.size());
            rows.bytes.append(reinterpret_cast<const char *>(sqlite3_column_text(select, c)),
                              sqlite3_column_bytes(select, c));
        }
        offsets[13] = int(rows.bytes.size());
        rows.offsets.push_back(offsets);
        rows.placed.push_back(sqlite3_column_type(select, 13) != SQLITE_NULL);
        rows.positions.emplace_back(sqlite3_column_double(select, 13), sqlite3_column_double(select, 14));
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return rows;
}

// The same rows inserted from memory straight through SQLite, into the same
// table with the same settings, in one transaction.
void bareInsert(const QString &path, const MemoryRows &rows)
{
    QFile::remove(path);
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=OFF; PRAGMA synchronous=FULL; PRAGMA locking_mode=EXCLUSIVE; "
                 "PRAGMA cache_size=-65536; CREATE TABLE licence (call TEXT PRIMARY KEY NOT NULL, first TEXT, "
                 "middle TEXT, last TEXT, street TEXT, city TEXT, state TEXT, zip TEXT, class TEXT, granted TEXT, "
                 "expires TEXT, previous TEXT, trustee TEXT, lat REAL, lon REAL) WITHOUT ROWID; BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO licence VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", -1,
                       &insert, nullptr);
    for (size_t r = 0; r < rows.offsets.size(); ++r) {
        const std::array<int, 14> &o = rows.offsets[r];
        for (int c = 0; c < 13; ++c)
            sqlite3_bind_text(insert, c + 1, rows.bytes.constData() + o[size_t(c)], o[size_t(c) + 1] - o[size_t(c)],
                              SQLITE_STATIC);
        if (rows.placed[r]) {
            sqlite3_bind_double(insert, 14, rows.positions[r].first);
            sqlite3_bind_double(insert, 15, rows.positions[r].second);
        } else {
            sqlite3_bind_null(insert, 14);
            sqlite3_bind_null(insert, 15);
        }
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// Import of a generated weekly file and look-ups in the call book it gives;
// then the keystroke measures once more with that call book in the data
// directory, beside the same measures without it.
void benchCallBook(Runtime &rt, const QString &contactsSize, int licences)
{
    const QString size = sizeLabel(licences) + " licences";
    QList<QByteArray> zipCodes;
    {
        QFile table(QStringLiteral(TRELVIN_SOURCE_DIR "/info/ZIP_Info.csv"));
        table.open(QIODevice::ReadOnly);
        table.readLine();
        while (!table.atEnd())
            zipCodes.append(table.readLine().left(5));
    }
    std::fprintf(stderr, "generating the FCC file of %s...\n", qPrintable(size));
    QElapsedTimer gen;
    gen.start();
    const FccFile fcc = generateFcc(rt.scratch(QStringLiteral("l_amat.zip")), licences, zipCodes);
    std::fprintf(stderr, "  generated in %.1f s (%lld bytes)\n", double(gen.elapsed()) / 1000,
                 QFileInfo(fcc.path).size());

    const QString target = rt.dataPath() + "/CallBook.db";
    CallBook::ImportOutcome outcome;
    const Stats import = repeat(
        [&] {
            outcome = CallBook::runImport({fcc.path, target, QStringLiteral(TRELVIN_SOURCE_DIR "/info/ZIP_Info.csv")});
        },
        1, 1, 0);
    CallBookStore::replace(outcome.fresh, target);
    const MemoryRows rows = readRows(target);
    const QString bare = rt.scratch(QStringLiteral("bare.db"));
    const Stats insert = repeat([&] { bareInsert(bare, rows); }, 1, 1, 0);
    QFile::remove(bare);
    record(QStringLiteral("FCC call book import (%1 rows written)").arg(outcome.licences), size, import, &insert);

    // Look-ups of calls spread over the book, through the store and bare.
    CallBookStore store;
    store.open(target);
    std::mt19937 rng(7);
    const auto someCall = [&] { return fcc.calls.at(int(rng() % quint32(fcc.calls.size()))); };
    QString call = someCall();
    const Stats lookUp = repeat([&] { store.byCall(call); }, 200, 5001, budget, [&] { call = someCall(); });
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(target).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *select = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM licence WHERE call = ?", -1, &select, nullptr);
    QByteArray bareCall = someCall().toLatin1();
    const Stats bareLookUp = repeat(
        [&] {
            sqlite3_bind_text(select, 1, bareCall.constData(), int(bareCall.size()), SQLITE_STATIC);
            sqlite3_step(select);
            sqlite3_reset(select);
        },
        200, 5001, budget, [&] { bareCall = someCall().toLatin1(); });
    sqlite3_finalize(select);
    sqlite3_close(db);
    record(QStringLiteral("call book look-up by call"), size, lookUp, &bareLookUp);
    store.close();

    // The keystrokes with the call book beside Contacts.db: the same
    // fragments, and a whole call that only the call book knows.
    rt.start();
    benchKeystroke(rt, contactsSize + " + " + size + " call book");
    Trelvin &w = *rt.window;
    QString known = someCall();
    const Stats hit = repeat([&] { callSearchOf(&w)->searchEdited(known); }, 5, 201, budget,
                             [&] {
                                 callSearchOf(&w)->searchEdited(QString());
                                 known = someCall();
                             });
    const Stats miss = repeat([&] { callSearchOf(&w)->searchEdited(QStringLiteral("KZ0ZZZ")); }, 5, 201, budget,
                              [&] { callSearchOf(&w)->searchEdited(QString()); });
    record(QStringLiteral("keystroke whole call, call book fills the entry"), contactsSize + " + " + size, hit, &miss);
    QFile::remove(target);
}

// Help > Show Attendance over the whole log: the window's first paint, the
// figures on screen after the worker's read, the longest gap of the window's
// event loop meanwhile, and a new range from the log as read.
void benchAttendance(Runtime &rt, const QString &size)
{
    Trelvin &w = *rt.window;
    auto *attendance = w.findChild<AttendanceController *>(QStringLiteral("attendance"));
    QAction *show = FORM(&w, actionShowAttendance);
    struct PaintWatch : QObject {
        bool painted = false;
        bool eventFilter(QObject *, QEvent *event) override
        {
            painted = painted || event->type() == QEvent::Paint;
            return false;
        }
    } watch;
    attendance->window()->installEventFilter(&watch);
    bool shown = false;
    QObject::connect(attendance, &AttendanceController::figuresShown, [&shown] { shown = true; });
    const auto closed = [&] {
        attendance->window()->hide();
        attendance->logChanged(); // the next open reads the log again
        watch.painted = false;
        shown = false;
    };
    const auto until = [](const bool &flag) { runUntil([&] { return flag; }); };
    std::vector<double> paintMs, figuresMs;
    for (int run = 0; run < 7; ++run) {
        closed();
        QElapsedTimer t;
        t.start();
        show->trigger();
        until(watch.painted);
        paintMs.push_back(double(t.nsecsElapsed()) / 1e6);
        until(shown);
        figuresMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    record(QStringLiteral("attendance window: first paint"), size, summarise(paintMs));
    record(QStringLiteral("attendance window: figures shown"), size, summarise(figuresMs));
    closed();
    recordGap(QStringLiteral("attendance window"), size, longestGap([&] { show->trigger(); }, [&] { return shown; }));
    QComboBox *range = attendance->window()->form()->range;
    int next = 0;
    const Stats value = repeat([&] { range->setCurrentIndex(next++ % 4); }, 4, 21, budget);
    record(QStringLiteral("attendance window: another range"), size, value);
    attendance->window()->hide();
    attendance->window()->removeEventFilter(&watch);
}

void benchStartup(Runtime &rt, const QString &size)
{
    // The generated file lacks indexes, as an older program's: every start
    // here is a first one, whose indexing job the stop cancels.
    const Stats value = repeat([&] { rt.start(); }, 3, 11, budget, [&] { rt.stop(); });
    record(QStringLiteral("start-up to shown window (1k members)"), size, value);
    // One window builds them to the end, beside the window.
    Trelvin *w = rt.start();
    QElapsedTimer t;
    t.start();
    finishJobs(*w);
    record(QStringLiteral("start-up: missing indexes built beside the window"), size,
           summarise({double(t.nsecsElapsed()) / 1e6}));
    // A load killed part-way left its new table, as big as the contacts: the
    // next start, and the drop beside its window.
    Direct::exec(fileDb(w), "CREATE TABLE contact_loading AS SELECT * FROM contact");
    rt.stop();
    t.restart();
    w = rt.start();
    record(QStringLiteral("start-up to shown window, a killed load's table left"), size,
           summarise({double(t.nsecsElapsed()) / 1e6}));
    record(QStringLiteral("start-up: a killed load's table dropped beside the window"), size,
           summarise({finishAfterLoad(*w)}));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const QStringList arguments = app.arguments();
    const bool quick = arguments.contains(QStringLiteral("--quick"));
    // For profiling: `--only csv,roster` runs those groups, `--size 1000000` one size.
    const int onlyAt = int(arguments.indexOf(QStringLiteral("--only")));
    const QStringList only = onlyAt > 0 ? arguments.value(onlyAt + 1).split(QLatin1Char(',')) : QStringList();
    const auto wanted = [&only](const char *group) { return only.isEmpty() || only.contains(QLatin1String(group)); };
    const int sizeAt = int(arguments.indexOf(QStringLiteral("--size")));
    // The call book's size: 1.5 million licences, as the FCC's file has.
    const int licencesAt = int(arguments.indexOf(QStringLiteral("--licences")));
    const int licences = licencesAt > 0 ? arguments.value(licencesAt + 1).toInt() : (quick ? 100000 : 1500000);

    QList<int> sizes = quick ? QList<int>{1000, 10000} : QList<int>{1000, 10000, 100000, 1000000};
    if (sizeAt > 0)
        sizes = {arguments.value(sizeAt + 1).toInt()};
    // The call book is measured once, beside the first contacts table of
    // 100k or more (or the largest of the run).
    int callBookAt = sizes.last();
    for (int contacts : sizes) {
        if (contacts >= 100000) {
            callBookAt = contacts;
            break;
        }
    }
    for (int contacts : sizes) {
        const QString size = sizeLabel(contacts) + " contacts";
        std::fprintf(stderr, "generating %s...\n", qPrintable(size));
        QElapsedTimer gen;
        gen.start();
        Runtime rt(contacts, std::min(contacts, 100000), std::min(contacts, 1000));
        std::fprintf(stderr, "  generated in %.1f s\n", double(gen.elapsed()) / 1000);
        Prompter::setInstance(&rt.prompter);

        if (contacts >= 10000 && wanted("startup"))
            benchStartup(rt, size);
        // The groups below run on an indexed file, as every start after the
        // first does.
        finishJobs(*rt.start());
        if (wanted("keystroke"))
            benchKeystroke(rt, size);
        if (wanted("display"))
            benchDisplay(rt, size);
        if (wanted("checkin"))
            benchCheckIn(rt, size);
        if (contacts == 10000 && wanted("net"))
            benchNet(rt);
        if (contacts == 10000 && wanted("netmap"))
            benchNetMap(rt);
        if ((contacts == 10000 || contacts == 100000) && wanted("reports"))
            benchReports(rt, size + ", " + sizeLabel(std::min(contacts, 100000)) + " log rows");
        if (contacts == 100000 && wanted("attendance"))
            benchAttendance(rt, size + ", 100k log rows");
        if (contacts == 10000 && wanted("errorlog"))
            benchErrorLog(rt, size);
        if (contacts >= 10000) {
            if (wanted("csv"))
                benchContactsCsv(rt, size);
            if (wanted("roster"))
                benchRoster(rt, size, 10000);
        }
        if (contacts == callBookAt && wanted("callbook"))
            benchCallBook(rt, size, licences);
        rt.stop();
        Prompter::setInstance(nullptr);
    }

    Stats rss;
    results.push_back({QStringLiteral("peak resident memory: ") + peakResident(), sizeLabel(sizes.last()) + " contacts",
                       rss, rss, false});
    std::printf("{\"measure\":\"peak resident memory\",\"size\":\"%s contacts\",\"value\":\"%s\"}\n",
                qPrintable(sizeLabel(sizes.last())), qPrintable(peakResident()));
    printTable();
    return 0;
}
