#include "checkin/idreminder.h"

void IdReminder::netChanged(bool hasEntries, const QDateTime &now)
{
    if (!hasEntries)
        since = QDateTime();
    else if (!since.isValid())
        since = now;
}

void IdReminder::identified(const QDateTime &now)
{
    since = now;
}

int IdReminder::minutes(const QDateTime &now) const
{
    if (!since.isValid())
        return 0;
    const qint64 seconds = since.secsTo(now);
    return seconds > 0 ? int(seconds / 60) : 0;
}

QString IdReminder::text(const QDateTime &now) const
{
    if (!running())
        return QString();
    const int count = minutes(now);
    if (count >= DueMinutes)
        return QStringLiteral("Identify: %1 minutes since your last ID").arg(count);
    return QStringLiteral("Last ID: %1 min ago").arg(count);
}
