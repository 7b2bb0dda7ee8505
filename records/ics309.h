#pragma once

#include "records/netrecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

class QIODevice;

// The ICS-309 communications log of one net: the form's blocks filled from
// the net, then one log row per check-in. Times are UTC, as exchanges with
// served agencies are, and the form says so.
namespace Ics309 {

struct Row {
    QString time; // "HH:mm" UTC
    QString from; // the station that checked in
    QString to;   // net control
    QString subject;
};

struct Form {
    QString incident;   // "<club> net"
    QString periodFrom; // "2024-01-06 03:30 UTC": first check-in
    QString periodTo;   // last check-in
    QString radioOperator;
    QString prepared; // when the form was made, UTC
    QString zoneNote; // which zone the times are in, and the log's own
    QList<Row> rows;
};

// `prepared` is the moment of the export; `localZone` names the zone the
// log's local times were read in (see Utc::localZoneLabel).
Form fromNet(const NetRecord &net, const QDateTime &prepared, const QString &localZone);

// The rows as CSV, with a header line.
QByteArray csv(const Form &form);

// Lays the form out on US letter pages into `device`, continued on as many
// pages as the rows need, each numbered "Page n of m". Returns the number
// of pages, 0 when the device could not take the PDF.
int writePdf(const Form &form, QIODevice *device);

} // namespace Ics309
