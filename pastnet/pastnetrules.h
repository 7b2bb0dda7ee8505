#pragma once

#include <QDateTime>
#include <QString>

// The times of a net logged on paper and entered afterwards: its start, and
// each time the operator types from the paper log. Values in, values out;
// every moment is handed in.
namespace PastNetRules {

// Why a net cannot start at `start` (local time) when the clock says `now`;
// empty when it can.
QString startProblem(const QDateTime &start, const QDateTime &now);

struct Typed {
    QDateTime at;    // valid when the time is taken
    QString problem; // else why not, for the box
};
// A time typed as "HH:MM", "HHMM" or "HH:MM:SS" on the net's date: never
// before the net's start or the time taken last, never past midnight of
// that date, never later than `now`.
Typed typedTime(const QString &text, const QDateTime &start, const QDateTime &last, const QDateTime &now);

// How a stored time is shown in the time field.
QString fieldText(const QDateTime &at);

} // namespace PastNetRules
