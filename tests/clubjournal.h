#pragma once

#include "pgserver.h"
#include "sync/syncrecords.h"

#include <QSqlDatabase>
#include <QString>

// A club server of the tests with its schema and the live page's role, and
// a program's side of the journal: changes written as one operator writes
// them, without a program's window.
class ClubJournal {
public:
    ClubJournal();
    ~ClubJournal();

    // Starts the server (once), makes the club's database afresh with the
    // schema, the operator op1 and the page's role trelvin_web. Empty when
    // done, else why not.
    QString start();
    PgServer &server() { return pg; }
    // The page's read-only log-in, password included.
    QString webConninfo() const;
    QString operatorConninfo() const;

    // A new net of `ncs`; its id.
    QString openNet(const QString &ncs);
    // The entry of `call` in `net` after a change: its whole state.
    SyncChange entry(const QString &net, const QString &call, int status, const QString &name = QString(),
                     const QString &city = QString(), const QString &state = QString());
    SyncChange removal(const QString &net, const QString &call);
    SyncChange closing(const QString &net);
    // A contact's change with its 19 fields; lat, lon and zip set, the rest
    // as given in `more` (field index -> text).
    SyncChange contact(const QString &call, const QString &lat, const QString &lon, const QString &zip,
                       const QHash<int, QString> &more = {});
    // Sends the changes in one transaction as op1; empty when stored.
    QString send(const QList<SyncChange> &changes);

private:
    SyncChange change(const QString &kind, const QString &net, const QString &call);
    QSqlDatabase &db();

    PgServer pg;
    QString origin;
    qint64 oseq = 0;
    QString connection;
    QSqlDatabase link;
};
