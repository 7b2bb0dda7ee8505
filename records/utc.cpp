#include "records/utc.h"

#include <QDate>
#include <QTime>

namespace Utc {

namespace {

bool readStored(const QString &date, const QString &time, QDate &day, QTime &clock)
{
    if (date.size() != 6)
        return false;
    day = QDate::fromString(QStringLiteral("20") + date, QStringLiteral("yyyyMMdd"));
    clock = QTime::fromString(time, time.size() == 5 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss"));
    return day.isValid() && clock.isValid();
}

} // namespace

QDateTime fromStored(const QString &date, const QString &time)
{
    QDate day;
    QTime clock;
    if (!readStored(date, time, day, clock))
        return QDateTime();
    // Local time through the C library, which follows TZ as it is now.
    return QDateTime(day, clock, Qt::LocalTime).toUTC();
}

QDateTime fromStored(const QString &date, const QString &time, const QTimeZone &zone)
{
    QDate day;
    QTime clock;
    if (!readStored(date, time, day, clock) || !zone.isValid())
        return QDateTime();
    return QDateTime(day, clock, zone).toUTC();
}

QString offsetText(int seconds)
{
    if (seconds == 0)
        return QStringLiteral("UTC");
    const int minutes = (seconds < 0 ? -seconds : seconds) / 60;
    return QStringLiteral("UTC%1%2:%3")
        .arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString localZoneLabel(const QDateTime &when)
{
    const QDateTime local = when.toLocalTime();
    QString name = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    const QByteArray tz = qgetenv("TZ");
    // TZ names the zone the program runs in when it is set.
    if (!tz.isEmpty() && QTimeZone::isTimeZoneIdAvailable(tz.startsWith(':') ? tz.mid(1) : tz))
        name = QString::fromUtf8(tz.startsWith(':') ? tz.mid(1) : tz);
    if (name.isEmpty())
        name = local.timeZoneAbbreviation();
    return name + QStringLiteral(" (") + offsetText(local.offsetFromUtc()) + QLatin1Char(')');
}

} // namespace Utc
