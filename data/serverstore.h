#pragma once

#include "sync/syncrecords.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

// The statements the sync worker runs on the club server's tables (made by
// data/serverschema.h), on its own open PostgreSQL connection. Each returns
// false when it failed, with the driver's text (which may be empty) in
// `failure`.
namespace ServerStore {

// Whether the link to the server is encrypted.
bool encrypted(const QSqlDatabase &db);
// A statement that does nothing, to see the link still answers.
bool ping(const QSqlDatabase &db, QString *failure);
// Stores the changes, with the nets they open or belong to, in one
// transaction; a change the server holds already is skipped.
bool send(QSqlDatabase &db, const QList<SyncChange> &changes, QString *failure);
// Up to `limit` changes after the server's `after`, in its order.
bool changesAfter(const QSqlDatabase &db, qint64 after, int limit, QList<SyncChange> &changes, QString *failure);
// Every change of one net, in the server's order.
bool netChanges(const QSqlDatabase &db, const QString &net, QList<SyncChange> &changes, QString *failure);
// The nets not closed that the server heard of in the last `hours`, newest
// first, with how many stations each holds.
bool openNets(const QSqlDatabase &db, int hours, QList<SyncNet> &nets, QString *failure);

} // namespace ServerStore
