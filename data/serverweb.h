#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <optional>

// What the live net page reads on the club server, through the views made
// for its read-only role (data/serverschema.cpp). Every row is bounded in
// the statement and checked as the programs check the journal's rows; a
// row that fails is left out. Each call returns false with the driver's
// text in `failure` when the read failed.
namespace ServerWeb {

// A station of a net's list, as the net list shows it.
struct Entry {
    QString call;
    int status = 0; // the net list's bits: roles and checked in
    QString name, city, state, relay;
    QString time; // "hh:mm" it joined, as the program wrote it
    bool withdrawn = false;
    qint64 place = 0; // the list's order
    qint64 seq = 0;   // the latest change of the entry
};

struct Net {
    QString id;
    QDateTime started; // UTC
    QString ncs;
    bool closed = false;
    qint64 seq = 0;    // the net's latest change on the server
    QDateTime changed; // when the server received it, UTC; invalid without changes
    int stations = 0;
    int checkins = 0;
};

// Where a station's contact says it is; texts as stored, for the caller
// to check.
struct Place {
    QString lat, lon, zip;
};

// The club's name as trelvin-club noted it; empty when none.
bool club(const QSqlDatabase &db, QString *name, QString *failure);
// The server's latest change of any net, 0 without any.
bool latestSeq(const QSqlDatabase &db, qint64 *seq, QString *failure);
// Nets started after `since`, or still open and changed after it: open
// ones first, then the newest first; at most `limit`.
bool nets(const QSqlDatabase &db, const QDateTime &since, int limit, QList<Net> &found, QString *failure);
// The nets with a change after `seq`.
bool netsChangedAfter(const QSqlDatabase &db, qint64 seq, QList<Net> &found, QString *failure);
// One net; nullopt in `found` when there is none of that id.
bool net(const QSqlDatabase &db, const QString &id, std::optional<Net> &found, QString *failure);
// A net's list in its order; `skipped` counts rows that failed the checks.
bool entries(const QSqlDatabase &db, const QString &net, QList<Entry> &found, int *skipped, QString *failure);
// The places of a net's stations whose contacts are known, by call.
bool places(const QSqlDatabase &db, const QString &net, QHash<QString, Place> &found, QString *failure);

} // namespace ServerWeb
