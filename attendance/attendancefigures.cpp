#include "attendance/attendancefigures.h"

#include <QHash>

#include <algorithm>
#include <optional>

namespace Attendance {

namespace {

int digits(const QString &text, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// By hand: QDate::fromString costs more than the rest of a row's work.
QDate storedDate(const QString &date)
{
    if (date.size() != 6)
        return QDate();
    const int year = digits(date, 0, 2);
    const int month = digits(date, 2, 2);
    const int day = digits(date, 4, 2);
    if (year < 0 || month < 0 || day < 0)
        return QDate();
    return QDate(2000 + year, month, day); // invalid when it is no day
}

QTime storedTime(const QString &time)
{
    if ((time.size() != 8 && time.size() != 5) || time.at(2) != QLatin1Char(':'))
        return QTime();
    const int hour = digits(time, 0, 2);
    const int minute = digits(time, 3, 2);
    int second = 0;
    if (time.size() == 8) {
        if (time.at(5) != QLatin1Char(':'))
            return QTime();
        second = digits(time, 6, 2);
    }
    if (hour < 0 || minute < 0 || second < 0)
        return QTime();
    return QTime(hour, minute, second);
}

struct Parsed {
    qint64 at = 0; // seconds on the local clock; zone changes are no concern here
    QDate day;
    QTime time;
    int call = 0;
};

QDate monthOf(const QDate &day)
{
    return QDate(day.year(), day.month(), 1);
}

} // namespace

Log groupNets(const QList<CheckInRow> &rows)
{
    Log log;
    QHash<QString, int> callIndex;
    std::vector<Parsed> parsed;
    parsed.reserve(size_t(rows.size()));
    std::vector<qint64> nameAt; // when each call's name was logged
    for (const CheckInRow &row : rows) {
        const QDate day = storedDate(row.date);
        const QTime time = storedTime(row.time);
        const QString call = row.call.trimmed().toUpper();
        if (!day.isValid() || !time.isValid() || call.isEmpty()) {
            ++log.unreadable;
            continue;
        }
        Parsed p{day.toJulianDay() * 86400 + time.msecsSinceStartOfDay() / 1000, day, time, 0};
        const auto found = callIndex.constFind(call);
        if (found == callIndex.cend()) {
            p.call = int(log.calls.size());
            callIndex.insert(call, p.call);
            log.calls << call;
            log.names << QString();
            log.lastDay.push_back(day);
            nameAt.push_back(p.at - 1);
        } else {
            p.call = *found;
        }
        const QString name = row.name.trimmed();
        if (!name.isEmpty() && p.at >= nameAt[size_t(p.call)]) {
            log.names[p.call] = name;
            nameAt[size_t(p.call)] = p.at;
        }
        log.lastDay[size_t(p.call)] = std::max(log.lastDay[size_t(p.call)], day);
        parsed.push_back(p);
    }

    std::stable_sort(parsed.begin(), parsed.end(), [](const Parsed &a, const Parsed &b) { return a.at < b.at; });
    log.firstNet.assign(size_t(log.calls.size()), -1);
    qint64 previous = 0;
    for (const Parsed &p : parsed) {
        if (log.nets.empty() || p.at - previous > NetGapSeconds)
            log.nets.push_back({p.day, p.time, {}});
        previous = p.at;
        log.nets.back().stations.push_back(p.call);
    }
    for (size_t n = 0; n < log.nets.size(); ++n) {
        std::vector<int> &stations = log.nets[n].stations;
        std::sort(stations.begin(), stations.end());
        stations.erase(std::unique(stations.begin(), stations.end()), stations.end());
        for (int call : stations)
            if (log.firstNet[size_t(call)] < 0)
                log.firstNet[size_t(call)] = int(n);
    }
    return log;
}

namespace {

QList<RegularFigure> regularsOf(const Log &log, const std::vector<int> &netsOf, int netCount)
{
    std::vector<int> attending;
    for (size_t call = 0; call < netsOf.size(); ++call)
        if (netsOf[call] > 0)
            attending.push_back(int(call));
    // Most nets first; a tie goes by call, so the cut at the end is stable.
    const auto before = [&](int a, int b) {
        if (netsOf[size_t(a)] != netsOf[size_t(b)])
            return netsOf[size_t(a)] > netsOf[size_t(b)];
        return log.calls.at(a) < log.calls.at(b);
    };
    const size_t kept = std::min<size_t>(attending.size(), RegularCount);
    std::partial_sort(attending.begin(), attending.begin() + qsizetype(kept), attending.end(), before);
    QList<RegularFigure> regulars;
    for (size_t i = 0; i < kept; ++i) {
        const int call = attending[i];
        regulars.append({log.calls.at(call), log.names.at(call), netsOf[size_t(call)],
                         double(netsOf[size_t(call)]) / netCount, log.lastDay[size_t(call)]});
    }
    return regulars;
}

QList<AbsentFigure> absentOf(const Log &log, const QList<Member> &roster, const QDate &today)
{
    QHash<QString, int> callIndex;
    for (int i = 0; i < log.calls.size(); ++i)
        callIndex.insert(log.calls.at(i), i);
    QList<AbsentFigure> absent;
    QHash<QString, bool> seen;
    for (const Member &member : roster) {
        const QString call = member.call.trimmed().toUpper();
        if (call.isEmpty() || seen.contains(call))
            continue;
        seen.insert(call, true);
        AbsentFigure figure{call, member.name.trimmed(), QDate(), -1};
        const auto found = callIndex.constFind(call);
        if (found != callIndex.cend()) {
            figure.last = log.lastDay[size_t(*found)];
            figure.days = int(figure.last.daysTo(today));
            if (figure.days < AbsentDays)
                continue;
            if (!log.names.at(*found).isEmpty())
                figure.name = log.names.at(*found);
        }
        absent.append(figure);
    }
    std::sort(absent.begin(), absent.end(), [](const AbsentFigure &a, const AbsentFigure &b) {
        if (a.last.isValid() != b.last.isValid())
            return !a.last.isValid();
        if (a.last != b.last)
            return a.last < b.last;
        return a.call < b.call;
    });
    return absent;
}

} // namespace

Figures figures(const Log &log, const QList<Member> &roster, const QDate &today, int months)
{
    Figures f;
    f.spanMonths = months;
    f.to = today;
    if (months > 0)
        f.from = monthOf(today).addMonths(-(months - 1));
    else
        f.from = log.nets.empty() ? monthOf(today) : monthOf(log.nets.front().date);
    f.unreadable = log.unreadable;

    for (QDate month = f.from; month <= f.to; month = month.addMonths(1))
        f.months.append({month, 0, 0, 0});
    const auto monthIndex = [&](const QDate &day) {
        return (day.year() - f.from.year()) * 12 + day.month() - f.from.month();
    };

    std::vector<int> netsOf(size_t(log.calls.size()), 0);
    for (size_t n = 0; n < log.nets.size(); ++n) {
        const Log::Net &net = log.nets[n];
        if (net.date < f.from || net.date > f.to)
            continue;
        const int checkIns = int(net.stations.size());
        f.nets.append({net.date, net.time, checkIns});
        f.checkIns += checkIns;
        MonthFigure &month = f.months[monthIndex(net.date)];
        ++month.nets;
        month.checkIns += checkIns;
        for (int call : net.stations) {
            if (netsOf[size_t(call)]++ == 0)
                ++f.stations;
            if (log.firstNet[size_t(call)] == int(n))
                ++month.newStations;
        }
    }
    if (!f.nets.isEmpty())
        f.regulars = regularsOf(log, netsOf, int(f.nets.size()));
    f.absent = absentOf(log, roster, today);
    return f;
}

QList<QStringList> csvLines(const Figures &figures)
{
    const QString iso = QStringLiteral("yyyy-MM-dd");
    QList<QStringList> lines;
    lines.append({"Figure", "Date", "Time", "Call", "Name", "Nets", "Check-ins", "New stations", "Share %",
                  "Last check-in", "Days absent"});
    for (const NetFigure &net : figures.nets)
        lines.append({"Net", net.date.toString(iso), net.time.toString(QStringLiteral("HH:mm")), "", "", "",
                      QString::number(net.checkIns), "", "", "", ""});
    for (const MonthFigure &month : figures.months)
        lines.append({"Month", month.month.toString(QStringLiteral("yyyy-MM")), "", "", "", QString::number(month.nets),
                      QString::number(month.checkIns), QString::number(month.newStations), "", "", ""});
    for (const RegularFigure &regular : figures.regulars)
        lines.append({"Regular", "", "", regular.call, regular.name, QString::number(regular.nets), "", "",
                      QString::number(regular.share * 100, 'f', 1), regular.last.toString(iso), ""});
    for (const AbsentFigure &member : figures.absent)
        lines.append({"Absent member", "", "", member.call, member.name, "", "", "", "",
                      member.last.isValid() ? member.last.toString(iso) : QStringLiteral("never"),
                      member.days < 0 ? QString() : QString::number(member.days)});
    return lines;
}

} // namespace Attendance
