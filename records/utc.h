#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>

// The log keeps local dates and times, as the operator read them off the
// clock; exchanges with other services want UTC. The conversion uses the
// zone's rules in force on the stored date, so a January evening net in
// Denver lands on the next UTC day and a summer one an hour earlier.
namespace Utc {

// A stored log date "yyMMdd" (years 2000 to 2099) and time "HH:mm:ss" or
// "HH:mm" as a moment in UTC. Without a zone, the system's local time is
// used. Invalid when either text is not a date or a time.
QDateTime fromStored(const QString &date, const QString &time);
QDateTime fromStored(const QString &date, const QString &time, const QTimeZone &zone);

// "America/Denver (UTC-07:00)": the local zone as the exports name it, with
// its offset at `when`.
QString localZoneLabel(const QDateTime &when);

// "UTC-07:00", "UTC+05:30", "UTC": an offset in seconds.
QString offsetText(int seconds);

} // namespace Utc
