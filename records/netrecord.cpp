#include "records/netrecord.h"

QString NetRecord::netControl() const
{
    for (const NetCheckIn &checkIn : checkIns)
        if (checkIn.role == QLatin1String("N"))
            return checkIn.call;
    return stationCall;
}

namespace NetRecords {

QString roleWord(const QString &letter)
{
    if (letter == QLatin1String("N"))
        return QStringLiteral("Net control");
    if (letter == QLatin1String("R"))
        return QStringLiteral("Relay");
    if (letter == QLatin1String("T"))
        return QStringLiteral("Traffic");
    if (letter == QLatin1String("M"))
        return QStringLiteral("Mobile");
    if (letter == QLatin1String("S"))
        return QStringLiteral("Short time");
    return QStringLiteral("Check-in");
}

QString fileBaseName(const QString &club, int year, int month, int day)
{
    return QStringLiteral("Net-%1-%2%3%4")
        .arg(club)
        .arg(year < 100 ? 2000 + year : year, 4, 10, QLatin1Char('0'))
        .arg(month, 2, 10, QLatin1Char('0'))
        .arg(day, 2, 10, QLatin1Char('0'));
}

} // namespace NetRecords
