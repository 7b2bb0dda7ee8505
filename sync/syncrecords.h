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

// The comment of the "net" change of a net logged on paper and entered
// afterwards: its changes are made at the times of the paper log.
inline constexpr char SyncAfterwards[] = "entered afterwards";

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

// The limits a change must keep on every program and on the server, whose
// CHECK constraints hold the same numbers.
namespace SyncLimits {
inline constexpr int Call = 16; // a call sign: letters, digits and '/'
inline constexpr int Name = 15; // the entry's fields, as the main form's
inline constexpr int City = 20;
inline constexpr int State = 2;
inline constexpr int Comment = 128;
inline constexpr int Club = 8;
inline constexpr int Status = 1023; // every bit a key word may leave
// A text longer than this (in characters) is no program's: the row is refused.
inline constexpr int Text = 256;
// The bytes of a contact's data on the server.
inline constexpr int Data = 8192;
} // namespace SyncLimits

// Checks a change as a file's line is checked: ids, kind, call sign and
// dates of the right shape, numbers in range; texts beyond a field's length
// are cut on whole characters. Empty when the change may be used; else why
// not, without the offending value (it may be huge or hold line feeds).
QString syncCheck(SyncChange &change);

// A net on the club server.
struct SyncNet {
    QString id;
    QString started; // UTC, as SyncChange::made
    QString ncs;
    QString origin;
    int stations = 0;
};

// Whether a net another program offers has a net's id, a program's and a
// call sign (or none) for its net control station.
bool syncNetUsable(const SyncNet &net);

Q_DECLARE_METATYPE(SyncChange)
Q_DECLARE_METATYPE(SyncNet)
