#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

class QSqlQuery;

// What travels between Contacts.db's journal and the club server: plain
// values, so that the sync worker's thread and the window's share nothing.

// One change of the shared net. An entry change carries the whole state of
// the entry after the change, so that the latest change of an entry is all
// a program needs to show it, in whatever order the changes arrive.
struct SyncChange {
    // Made by the program that made the change: a change sent twice is
    // stored once.
    QString id;
    QString net;
    QString origin; // the program that made it
    // "net" (a net was started; call: its net control station), "entry",
    // "remove" (the entry left the net) or "close" (the net has ended); and,
    // outside any net (net empty): "contact" (the contact of `call` as
    // stored, in data), "uncontact" (it was deleted), "member" and
    // "nonmember" (`call` joined or left the roster of the club in data).
    QString kind;
    QString call;
    int status = 0;
    QString name, city, state, comment, relay;
    QString time; // "hh:mm" the entry joined
    // The entry's check-in as logged: "yyMMdd", "HH:mm:ss" and the letter.
    bool logged = false;
    QString logDate, logTime, logStatus;
    // UTC, "yyyy-MM-ddTHH:mm:ss.zzzZ"; with origin and oseq it orders the
    // changes of one entry: the later change wins.
    QString made;
    // A JSON array: the contact's 19 stored fields, or the club's mnemonic.
    QString data;
    qint64 oseq = 0; // the change's place in its origin's journal
    qint64 seq = 0;  // its place on the server, once there
};

// Reads a change's values from `row`, id to made and then data in
// SyncChange's order (oseq left out), starting at column `first`; seq and
// oseq are the caller's.
SyncChange syncChangeFrom(const QSqlQuery &row, int first);

// The data of a roster change: the same bytes for the same club on every
// program, so that changes of one club's roster are found by it.
QString syncRosterData(const QString &club);
// The texts of a change's data array; false when it is no array of texts
// (or nulls, read as empty) of that length.
bool syncDataFields(const QString &data, int count, QStringList &fields);

// A net on the club server.
struct SyncNet {
    QString id;
    QString started; // UTC, as SyncChange::made
    QString ncs;
    QString origin;
    int stations = 0;
};

Q_DECLARE_METATYPE(SyncChange)
Q_DECLARE_METATYPE(SyncNet)
