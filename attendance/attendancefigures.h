#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>

#include <vector>

// How a club's nets were attended, from the log's plain rows.
//
// The log keeps no net number: a net is a run of check-ins in which no two
// following ones lie more than NetGapSeconds apart, so a net that runs past
// midnight (local or UTC) stays one net, dated by its first check-in.
// Stations are counted by call sign, trimmed and in capitals: a station
// whose name changed between check-ins is one station, shown with the name
// of its latest check-in; a station logged twice in one net counts once.
namespace Attendance {

// A new net starts after this much silence.
inline constexpr qint64 NetGapSeconds = 3 * 3600;
// The top list's length and the days that make a member absent.
inline constexpr int RegularCount = 20;
inline constexpr int AbsentDays = 90;

// One check-in as the log keeps it: date "yyMMdd" and time "HH:mm:ss"
// (or "HH:mm"), local.
struct CheckInRow {
    QString date, time, call, name;
};

// A roster member; `name` (from the contacts) serves when the log has none.
struct Member {
    QString call, name;
};

// The check-ins grouped into nets, once for every range.
struct Log {
    struct Net {
        QDate date; // of its first check-in
        QTime time;
        std::vector<int> stations; // indexes into `calls`, each once, ascending
    };
    std::vector<Net> nets; // in time order
    QStringList calls;
    QStringList names;          // each call's name at its latest check-in
    std::vector<QDate> lastDay; // each call's latest check-in day
    std::vector<int> firstNet;  // the index of each call's first net
    int unreadable = 0;         // rows without a date, time or call
};

Log groupNets(const QList<CheckInRow> &rows);

struct NetFigure {
    QDate date;
    QTime time;
    int checkIns = 0;
};
struct MonthFigure {
    QDate month; // its first day
    int nets = 0;
    int checkIns = 0;
    int newStations = 0; // stations whose first net ever was in this month
};
struct RegularFigure {
    QString call, name;
    int nets = 0;
    double share = 0; // of the range's nets, 0..1
    QDate last;
};
struct AbsentFigure {
    QString call, name;
    QDate last; // invalid: never checked in
    int days = -1;
};

struct Figures {
    QDate from, to;     // the range, both days included
    int spanMonths = 0; // as asked; 0 for all
    QList<NetFigure> nets;
    QList<MonthFigure> months;
    QList<RegularFigure> regulars;
    QList<AbsentFigure> absent;
    int stations = 0; // distinct stations in the range
    int checkIns = 0;
    int unreadable = 0;
};

// The figures of the `months` calendar months up to `today` (0: since the
// first net). Nets count when their first check-in falls in the range.
// Regulars: most nets first, then by call. Absent: roster members without a
// check-in on the last AbsentDays days (never-seen ones included), longest
// absent first, then by call; the whole log counts, whatever the range.
Figures figures(const Log &log, const QList<Member> &roster, const QDate &today, int months);

// Figures as CSV records: a header, then one line per figure.
QList<QStringList> csvLines(const Figures &figures);

} // namespace Attendance
