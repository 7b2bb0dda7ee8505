#include "testsupport.h"

#include "app/themecontroller.h"
#include "app/trelvin.h"
#include "attendance/attendancecontroller.h"
#include "attendance/attendancefigures.h"
#include "attendance/attendancewindow.h"
#include "data/csv.h"
#include "ui_attendancewindow.h"
#include "ui_trelvin.h"

#include <QChart>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <algorithm>

using namespace Attendance;

namespace {

const QDate Today(2026, 12, 9);

// "yyMMdd HH:mm:ss CALL Name" rows separated by ";".
QList<CheckInRow> rowsOf(const QString &text)
{
    QList<CheckInRow> rows;
    for (const QString &part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList f = part.split(QLatin1Char('|'));
        rows.append({f.value(0), f.value(1), f.value(2), f.value(3)});
    }
    return rows;
}

// "date HH:mm count" per net, joined by ";".
QString netsText(const Figures &figures)
{
    QStringList nets;
    for (const NetFigure &net : figures.nets)
        nets << net.date.toString(Qt::ISODate) + QLatin1Char(' ') + net.time.toString(QStringLiteral("HH:mm"))
                    + QLatin1Char(' ') + QString::number(net.checkIns);
    return nets.join(QLatin1Char(';'));
}

QString regularsText(const Figures &figures)
{
    QStringList regulars;
    for (const RegularFigure &regular : figures.regulars)
        regulars << regular.call + QLatin1Char(':') + regular.name + QLatin1Char(':') + QString::number(regular.nets);
    return regulars.join(QLatin1Char(';'));
}

QString absentText(const Figures &figures)
{
    QStringList absent;
    for (const AbsentFigure &member : figures.absent)
        absent << member.call + QLatin1Char(':') + member.name + QLatin1Char(':') + QString::number(member.days);
    return absent.join(QLatin1Char(';'));
}

// ---- A generated log that knows its own nets.

struct TrueCheckIn {
    QDateTime at;
    QString call;   // as the club knows it
    QString name;   // as logged this time
    QString logged; // the call as typed into this row
};

struct TrueNet {
    QDateTime start;
    QList<TrueCheckIn> checkIns;
};

struct Generated {
    QList<TrueNet> nets;
    QList<CheckInRow> rows;
    QList<Member> roster;
};

// Weekly evening nets over four years, some past midnight, some Saturdays
// with a morning and an evening net; stations that come and go, change
// their names, are typed in small letters, or are logged twice in a net.
Generated generate(quint32 seed)
{
    QRandomGenerator random(seed);
    Generated g;
    QStringList calls;
    for (int i = 0; i < 45; ++i)
        calls << QStringLiteral("K%1%2%3").arg(i % 10).arg(QChar(u'A' + i / 10)).arg(QChar(u'A' + (i * 7) % 26));
    // Each station's habit: how likely it comes, and the weeks it is around.
    QList<int> chance, firstWeek, lastWeek, renameWeek;
    const int weeks = 4 * 52;
    for (int i = 0; i < calls.size(); ++i) {
        chance << 1 + random.bounded(10);
        firstWeek << (i < 25 ? 0 : random.bounded(weeks));
        lastWeek << (i % 7 == 3 ? random.bounded(weeks) : weeks);
        renameWeek << random.bounded(weeks);
    }
    const QDate firstDay = Today.addDays(-7 * weeks);
    for (int week = 0; week < weeks; ++week) {
        QList<QTime> starts{QTime(19, 0)};
        if (week % 3 == 0)
            starts = {QTime(23, 20)}; // runs past midnight
        if (week % 10 == 5)
            starts = {QTime(8, 0), QTime(19, 30)}; // two nets a day
        for (const QTime &start : starts) {
            TrueNet net;
            net.start = QDateTime(firstDay.addDays(7 * week), start, Qt::UTC);
            for (int i = 0; i < calls.size(); ++i) {
                if (week < firstWeek[i] || week > lastWeek[i] || int(random.bounded(10)) >= chance[i])
                    continue;
                const QDateTime at = net.start.addSecs(60 * random.bounded(80));
                const QString name =
                    (week < renameWeek[i] ? QStringLiteral("Name") : QStringLiteral("Renamed")) + calls[i];
                QString logged = calls[i];
                if (random.bounded(20) == 0)
                    logged = QStringLiteral(" ") + calls[i].toLower();
                net.checkIns.append({at, calls[i], name, logged});
                if (random.bounded(30) == 0)
                    net.checkIns.append({at.addSecs(300), calls[i], name, calls[i]});
            }
            if (net.checkIns.isEmpty())
                net.checkIns.append({net.start, calls[0], QStringLiteral("Renamed") + calls[0], calls[0]});
            g.nets.append(net);
        }
    }
    for (const TrueNet &net : std::as_const(g.nets))
        for (const TrueCheckIn &c : net.checkIns)
            g.rows.append(
                {c.at.toString(QStringLiteral("yyMMdd")), c.at.toString(QStringLiteral("HH:mm:ss")), c.logged, c.name});
    // The log keeps rows in no useful order (a loaded file, a synced club).
    for (qsizetype i = g.rows.size() - 1; i > 0; --i)
        g.rows.swapItemsAt(i, random.bounded(i + 1));
    for (int i = 0; i < calls.size(); i += 3)
        g.roster.append({calls[i], QStringLiteral("Contact") + calls[i]});
    g.roster.append({QStringLiteral("W9NEVER"), QStringLiteral("Never Seen")});
    g.roster.append({QStringLiteral("k0aa"), QString()});
    return g;
}

// The figures counted from the generator's own nets, not from the rows.
Figures expectedFrom(const Generated &g, int months)
{
    // A net is dated by its first check-in, which may come after the hour set.
    const auto startOf = [](const TrueNet &net) {
        QDateTime first = net.checkIns.first().at;
        for (const TrueCheckIn &c : net.checkIns)
            first = std::min(first, c.at);
        return first;
    };
    Figures f;
    f.to = Today;
    const QDate thisMonth(Today.year(), Today.month(), 1);
    f.from = months > 0 ? thisMonth.addMonths(-(months - 1))
                        : QDate(startOf(g.nets.first()).date().year(), startOf(g.nets.first()).date().month(), 1);
    for (QDate m = f.from; m <= Today; m = m.addMonths(1))
        f.months.append({m, 0, 0, 0});
    QMap<QString, QDate> firstNetDay, lastDay;
    QMap<QString, QDateTime> nameAt;
    QMap<QString, QString> names;
    for (const TrueNet &net : g.nets)
        for (const TrueCheckIn &c : net.checkIns) {
            if (!firstNetDay.contains(c.call))
                firstNetDay[c.call] = startOf(net).date();
            lastDay[c.call] = std::max(lastDay.value(c.call), c.at.date());
            if (!nameAt.contains(c.call) || c.at >= nameAt[c.call]) {
                nameAt[c.call] = c.at;
                names[c.call] = c.name;
            }
        }
    QMap<QString, int> attended;
    for (const TrueNet &net : g.nets) {
        const QDateTime start = startOf(net);
        const QDate day = start.date();
        if (day < f.from || day > Today)
            continue;
        QSet<QString> there;
        for (const TrueCheckIn &c : net.checkIns)
            there.insert(c.call);
        f.nets.append({day, start.time(), int(there.size())});
        f.checkIns += int(there.size());
        MonthFigure &month = f.months[(day.year() - f.from.year()) * 12 + day.month() - f.from.month()];
        ++month.nets;
        month.checkIns += int(there.size());
        for (const QString &call : there)
            ++attended[call];
    }
    for (auto it = firstNetDay.cbegin(); it != firstNetDay.cend(); ++it)
        if (it.value() >= f.from && it.value() <= Today)
            ++f.months[(it.value().year() - f.from.year()) * 12 + it.value().month() - f.from.month()].newStations;
    f.stations = int(attended.size());
    QList<QString> order = attended.keys();
    std::sort(order.begin(), order.end(), [&](const QString &a, const QString &b) {
        return attended[a] != attended[b] ? attended[a] > attended[b] : a < b;
    });
    for (const QString &call : order.mid(0, 20))
        f.regulars.append({call, names[call], attended[call], double(attended[call]) / f.nets.size(), lastDay[call]});
    QSet<QString> listed;
    for (const Member &member : g.roster) {
        const QString call = member.call.toUpper();
        if (listed.contains(call))
            continue;
        listed.insert(call);
        if (!lastDay.contains(call)) {
            f.absent.append({call, member.name, QDate(), -1});
        } else if (lastDay[call].daysTo(Today) >= 90) {
            f.absent.append({call, names[call], lastDay[call], int(lastDay[call].daysTo(Today))});
        }
    }
    std::sort(f.absent.begin(), f.absent.end(), [](const AbsentFigure &a, const AbsentFigure &b) {
        if (a.last.isValid() != b.last.isValid())
            return !a.last.isValid();
        return a.last != b.last ? a.last < b.last : a.call < b.call;
    });
    return f;
}

void addLog(QSqlQuery &query, const CheckInRow &row)
{
    for (const QString &value : {row.date, row.time, QStringLiteral("-"), row.call, row.name})
        query.addBindValue(value);
    QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
}

void fillLog(Trelvin *w, const QList<CheckInRow> &rows)
{
    QSqlQuery query(fileDb(w));
    QVERIFY(query.exec("BEGIN"));
    QVERIFY(query.prepare("INSERT INTO log (id, date, time, status, call, name) VALUES (NULL, ?, ?, ?, ?, ?)"));
    for (const CheckInRow &row : rows)
        addLog(query, row);
    QVERIFY(query.exec("COMMIT"));
}

AttendanceController *attendanceOf(Trelvin *w)
{
    return w->findChild<AttendanceController *>(QStringLiteral("attendance"));
}

} // namespace

class TestAttendance : public QObject {
    Q_OBJECT

private slots:
    void nets_data();
    void nets();
    void regularsTieByCallAtTheCut();
    void absentMembers_data();
    void absentMembers();
    void rangeCoversCalendarMonths();
    void generatedLogMatchesItsOwnNets_data();
    void generatedLogMatchesItsOwnNets();

    void windowFromHelpMenu();
    void unwritableCsvKeepsTarget();
    void chartsFollowTheTheme();
    void openAtExitReopens();
};

void TestAttendance::nets_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QString>("nets");
    QTest::addColumn<QString>("regulars");
    QTest::addColumn<int>("unreadable");

    QTest::newRow("across midnight is one net, dated by its start")
        << "260131|23:50:00|K7AB|Al;260201|00:10:00|W1AW|Hi;260201|00:40|N0ZZ|Zed"
        << "2026-01-31 23:50 3"
        << "K7AB:Al:1;N0ZZ:Zed:1;W1AW:Hi:1" << 0;
    QTest::newRow("three silent hours keep a net, a second more splits it")
        << "260310|08:00:00|K7AB|Al;260310|11:00:00|W1AW|Hi;260310|14:00:01|N0ZZ|Zed"
        << "2026-03-10 08:00 2;2026-03-10 14:00 1"
        << "K7AB:Al:1;N0ZZ:Zed:1;W1AW:Hi:1" << 0;
    QTest::newRow("a renamed station counts once, with its latest name")
        << "260405|19:00:00|K7AB|Bob;260412|19:00:00| k7ab|Robert;260412|19:01:00|K7AB|;260419|19:00:00|W1AW|Hi"
        << "2026-04-05 19:00 1;2026-04-12 19:00 1;2026-04-19 19:00 1"
        << "K7AB:Robert:2;W1AW:Hi:1" << 0;
    QTest::newRow("rows in any order; logged twice in a net counts once")
        << "260505|19:30:00|K7AB|Al;260505|19:00:00|W1AW|Hi;260505|19:10:00|K7AB|Al"
        << "2026-05-05 19:00 2"
        << "K7AB:Al:1;W1AW:Hi:1" << 0;
    QTest::newRow("unreadable rows are left out and counted")
        << "260505|19:00:00|K7AB|Al;2605|19:00:00|W1AW|Hi;260532|19:00:00|W1AW|Hi;260505|25:00:00|W1AW|Hi;"
           "260505|19:0x:00|W1AW|Hi;260505|19:05:00|  |Nobody"
        << "2026-05-05 19:00 1"
        << "K7AB:Al:1" << 5;
}

void TestAttendance::nets()
{
    QFETCH(QString, rows);
    const Figures f = figures(groupNets(rowsOf(rows)), {}, Today, 12);
    QTEST(netsText(f), "nets");
    QTEST(regularsText(f), "regulars");
    QTEST(f.unreadable, "unreadable");
}

void TestAttendance::regularsTieByCallAtTheCut()
{
    // 25 stations at every one of two nets, one more at a third: the
    // regular first, then 19 of the tied by call, the same on every run.
    QList<CheckInRow> rows;
    for (int i = 24; i >= 0; --i)
        for (const char *day : {"261101", "261108"})
            rows.append({day, "19:00:00", QStringLiteral("W%1X").arg(i, 2, 10, QLatin1Char('0')), "Tie"});
    rows.append({"261115", "19:00:00", "W24X", "Tie"});
    const Figures f = figures(groupNets(rows), {}, Today, 3);
    QCOMPARE(f.regulars.size(), 20);
    QCOMPARE(f.regulars.first().call, QStringLiteral("W24X"));
    QCOMPARE(f.regulars.first().nets, 3);
    QCOMPARE(f.regulars.first().share, 1.0);
    QCOMPARE(f.regulars.at(1).call, QStringLiteral("W00X"));
    QCOMPARE(f.regulars.last().call, QStringLiteral("W18X"));
    QCOMPARE(f.regulars.last().share, 2.0 / 3);
}

void TestAttendance::absentMembers_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QStringList>("roster");
    QTest::addColumn<QString>("absent");

    // Today is 9 December 2026: 90 days before is 10 September.
    const QString log = "260910|19:00:00|K7AB|Al;260911|19:00:00|W1AW|Hi;251201|19:00:00|N0ZZ|Zed;"
                        "260911|23:50:00|N0ZZ|Zed Z;260912|00:05:00|KD7Q|Que";
    QTest::newRow("90 days absent is listed, 89 not; the latest row's day counts")
        << log << QStringList{"K7AB", "W1AW", "N0ZZ", "KD7Q"} << "K7AB:Al:90";
    QTest::newRow("never seen first, named from the contacts; a member once")
        << log << QStringList{"W1AW", "w9new=New Guy", "K7AB", "W9NEW", "AA1A"}
        << "AA1A::-1;W9NEW:New Guy:-1;K7AB:Al:90";
    QTest::newRow("an empty roster lists nobody") << log << QStringList{} << "";
}

void TestAttendance::absentMembers()
{
    QFETCH(QString, rows);
    QFETCH(QStringList, roster);
    QList<Member> members;
    for (const QString &entry : roster)
        members.append({entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1)});
    // The range does not matter: a member absent for 90 days is absent in any.
    for (int months : {3, 0})
        QTEST(absentText(figures(groupNets(rowsOf(rows)), members, Today, months)), "absent");
}

void TestAttendance::rangeCoversCalendarMonths()
{
    const Log log = groupNets(rowsOf("260831|19:00:00|K7AB|Al;260901|19:00:00|K7AB|Al;261209|19:00:00|W1AW|Hi;"
                                     "261210|19:00:00|N0ZZ|Zed;240315|19:00:00|K7AB|Al"));
    const Figures three = figures(log, {}, Today, 3);
    QCOMPARE(three.from, QDate(2026, 10, 1));
    QCOMPARE(three.months.size(), 3);
    QCOMPARE(netsText(three), QStringLiteral("2026-12-09 19:00 1")); // tomorrow's net is not yet
    QCOMPARE(three.months.last().newStations, 1);

    const Figures four = figures(log, {}, Today, 4);
    QCOMPARE(netsText(four), QStringLiteral("2026-09-01 19:00 1;2026-12-09 19:00 1"));
    // K7AB was new in 2024, not in the range.
    QCOMPARE(four.months.first().newStations, 0);

    const Figures all = figures(log, {}, Today, 0);
    QCOMPARE(all.from, QDate(2024, 3, 1));
    QCOMPARE(all.months.size(), 34);
    QCOMPARE(all.months.first().newStations, 1);
    QCOMPARE(all.nets.size(), 4);
}

void TestAttendance::generatedLogMatchesItsOwnNets_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("months");
    for (quint32 seed : {7u, 1234u})
        for (int months : {3, 12, 36, 0})
            QTest::addRow("seed %u, %d months", seed, months) << seed << months;
}

void TestAttendance::generatedLogMatchesItsOwnNets()
{
    QFETCH(quint32, seed);
    QFETCH(int, months);
    const Generated g = generate(seed);
    const Figures got = figures(groupNets(g.rows), g.roster, Today, months);
    const Figures want = expectedFrom(g, months);

    QCOMPARE(got.from, want.from);
    QCOMPARE(got.unreadable, 0);
    QCOMPARE(netsText(got), netsText(want));
    QCOMPARE(got.checkIns, want.checkIns);
    QCOMPARE(got.stations, want.stations);
    QCOMPARE(got.months.size(), want.months.size());
    for (int i = 0; i < want.months.size(); ++i) {
        const MonthFigure &a = got.months.at(i), &b = want.months.at(i);
        QVERIFY2(a.month == b.month && a.nets == b.nets && a.checkIns == b.checkIns && a.newStations == b.newStations,
                 qPrintable(b.month.toString(Qt::ISODate)));
    }
    QCOMPARE(regularsText(got), regularsText(want));
    for (int i = 0; i < want.regulars.size(); ++i) {
        QCOMPARE(got.regulars.at(i).share, want.regulars.at(i).share);
        QCOMPARE(got.regulars.at(i).last, want.regulars.at(i).last);
    }
    QCOMPARE(absentText(got), absentText(want));
    for (int i = 0; i < want.absent.size(); ++i)
        QCOMPARE(got.absent.at(i).last, want.absent.at(i).last);
}

void TestAttendance::windowFromHelpMenu()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    rt.prompter.clear();
    clockOf(w)->setSource([] { return QDateTime(Today, QTime(20, 0)); });
    const Generated g = generate(99);
    fillLog(w, g.rows);
    QSqlQuery member(memoryDb(w));
    for (const Member &m : g.roster)
        QVERIFY(member.exec("INSERT INTO mbr (id, call) VALUES (NULL, '" + m.call.toUpper() + "')"));

    // The last entry of Help.
    // New entries at the end of Help, the others in their places.
    QCOMPARE(FORM(w, menuHelp)->actions().indexOf(FORM(w, actionShowNetMap)), 6);
    QCOMPARE(FORM(w, menuHelp)->actions().indexOf(FORM(w, actionShowAttendance)), 7);
    QCOMPARE(FORM(w, menuHelp)->actions().last(), FORM(w, actionShowAttendance));
    AttendanceController *attendance = attendanceOf(w);
    QVERIFY(attendance);
    QSignalSpy shown(attendance, &AttendanceController::figuresShown);
    FORM(w, actionShowAttendance)->trigger();
    AttendanceWindow *window = attendance->window();
    QVERIFY(window->isVisible());
    // The read runs behind the window; its result comes by signal.
    QVERIFY(attendance->reading());
    Ui::AttendanceWindow *ui = window->form();
    QCOMPARE(ui->summary->text(), QStringLiteral("Reading the log..."));
    QVERIFY(shown.wait(20000));
    QCOMPARE(ui->range->currentText(), QStringLiteral("12 months"));
    QList<Member> named = g.roster;
    for (Member &m : named)
        m.name.clear(); // no contact rows: the log's names only
    const Figures twelve = figures(groupNets(g.rows), named, Today, 12);
    QCOMPARE(netsText(attendance->shownFigures()), netsText(twelve));
    QCOMPARE(absentText(attendance->shownFigures()), absentText(twelve));
    QCOMPARE(ui->netTable->rowCount(), twelve.nets.size());
    QCOMPARE(ui->netTable->item(0, 0)->text(), twelve.nets.first().date.toString("MM/dd/yy"));
    QCOMPARE(ui->regularTable->rowCount(), 20);

    // A new range needs no new read.
    ui->range->setCurrentIndex(3);
    QCOMPARE(shown.size(), 2);
    const Figures all = figures(groupNets(g.rows), named, Today, 0);
    QCOMPARE(ui->netTable->rowCount(), all.nets.size());
    QCOMPARE(ui->monthTable->rowCount(), all.months.size());

    // Save Attendance CSV, read back line by line.
    const QString path = rt.dataPath() + "/attendance.csv";
    rt.prompter.paths << path;
    QTest::mouseClick(ui->saveCsv, Qt::LeftButton);
    QCOMPARE(rt.prompter.pathCaptions, QStringList{"Save Attendance CSV"});
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QStringList> lines = csvLines(all);
    const QStringList written = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(written.size(), lines.size());
    QCOMPARE(lines.size(), 1 + all.nets.size() + all.months.size() + all.regulars.size() + all.absent.size());
    QCOMPARE(written.first(), QStringLiteral("\"Figure\",\"Date\",\"Time\",\"Call\",\"Name\",\"Nets\",\"Check-ins\","
                                             "\"New stations\",\"Share %\",\"Last check-in\",\"Days absent\""));
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(splitCsvLine(written.at(i)), lines.at(i));
    QVERIFY(rt.prompter.calls.isEmpty());

    // A check-in while the window is open is counted once the log is read again.
    QSqlQuery query(fileDb(w));
    QVERIFY(query.prepare("INSERT INTO log (id, date, time, status, call, name) VALUES (NULL, ?, ?, ?, ?, ?)"));
    addLog(query, {"261209", "20:00:00", "W1NEW", "Newcomer"});
    attendance->logChanged();
    QVERIFY(shown.wait(20000));
    QCOMPARE(attendance->shownFigures().nets.last().date, Today);
    QCOMPARE(attendance->shownFigures().months.last().newStations, all.months.last().newStations + 1);
}

void TestAttendance::unwritableCsvKeepsTarget()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    rt.prompter.clear();
    AttendanceController *attendance = attendanceOf(w);
    // Before the figures are read there is nothing to save.
    attendance->saveCsv();
    QCOMPARE(rt.prompter.titles(), QStringList{"Attendance Not Ready"});
    rt.prompter.clear();

    QSignalSpy shown(attendance, &AttendanceController::figuresShown);
    FORM(w, actionShowAttendance)->trigger();
    QVERIFY(shown.wait(20000));
    const QString target = rt.dataPath() + "/a-folder.csv";
    QVERIFY(QDir().mkpath(target));
    rt.prompter.paths << target;
    attendance->saveCsv();
    QCOMPARE(rt.prompter.titles(), QStringList{"Can't Open File"});
    QVERIFY(QFileInfo(target).isDir());
}

void TestAttendance::chartsFollowTheTheme()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    rt.prompter.clear();
    AttendanceController *attendance = attendanceOf(w);
    QSignalSpy shown(attendance, &AttendanceController::figuresShown);
    FORM(w, actionShowAttendance)->trigger();
    QVERIFY(shown.wait(20000));
    Ui::AttendanceWindow *ui = attendance->window()->form();
    FORM(w, actionLightTheme)->trigger();
    QCOMPARE(ui->netChart->chart()->theme(), QChart::ChartThemeLight);
    QCOMPARE(ui->monthChart->chart()->backgroundBrush().color(), attendance->window()->palette().color(QPalette::Base));
    FORM(w, actionDarkTheme)->trigger();
    QCOMPARE(ui->netChart->chart()->theme(), QChart::ChartThemeDark);
    QCOMPARE(ui->monthChart->chart()->theme(), QChart::ChartThemeDark);
    QCOMPARE(ui->netChart->chart()->backgroundBrush().color(), attendance->window()->palette().color(QPalette::Base));
}

void TestAttendance::openAtExitReopens()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    rt.prompter.clear();
    FORM(w, actionShowAttendance)->trigger();
    attendanceOf(w)->window()->form()->range->setCurrentIndex(2);
    FORM(w, actionExit)->trigger();
    {
        QSettings settings(rt.settingsFile(), QSettings::IniFormat);
        settings.beginGroup("Attendance");
        QCOMPARE(settings.value("Visible").toString(), QStringLiteral("Yes"));
        QCOMPARE(settings.value("Content").toString(), QStringLiteral("36"));
    }

    w = rt.start();
    AttendanceController *attendance = attendanceOf(w);
    QVERIFY(attendance->window()->isVisible());
    QCOMPARE(attendance->window()->form()->range->currentText(), QStringLiteral("36 months"));
    QSignalSpy shown(attendance, &AttendanceController::figuresShown);
    QVERIFY(shown.wait(20000));
    attendance->window()->close();
    FORM(w, actionExit)->trigger();
    {
        QSettings settings(rt.settingsFile(), QSettings::IniFormat);
        QCOMPARE(settings.value("Attendance/Visible").toString(), QStringLiteral("No"));
        // A range the window never offers is not taken for "All".
        settings.setValue("Attendance/Content", "junk");
    }
    w = rt.start();
    QVERIFY(!attendanceOf(w)->window()->isVisible());
    QCOMPARE(attendanceOf(w)->window()->form()->range->currentText(), QStringLiteral("12 months"));
}

QTEST_MAIN(TestAttendance)
#include "tst_attendance.moc"
