#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// One net as the exports see it: its check-ins in the order they came, each
// with its moment in UTC beside the stored local date and time.
struct NetCheckIn {
    QString date, time; // as stored: "yyMMdd", "HH:mm:ss", local
    QString role;       // the log's role letter: R T M S N or -
    QString call, name, city, state, comment, grid;
    QDateTime utc; // invalid when the stored date or time is unreadable
};

struct NetRecord {
    QString club;
    QString stationCall; // this station, the net control's call by default
    QString band, mode, frequency;
    QList<NetCheckIn> checkIns;

    // The call logged with the net-control role, else this station.
    QString netControl() const;
};

namespace NetRecords {

// "Net control", "Relay", ... for a role letter; "Check-in" for none.
QString roleWord(const QString &letter);

// "Net-ARC-20240105.adi": the proposed name of a net's file.
QString fileBaseName(const QString &club, int year, int month, int day);

} // namespace NetRecords
