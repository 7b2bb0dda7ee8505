#pragma once

#include "sync/syncrecords.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>

class QTimer;

// The club server's side of the sync, on a thread of its own with its own
// PostgreSQL connection: sends the journal's changes, receives the other
// programs' when the server notifies, and reconnects after the link drops.
// Nothing here touches Contacts.db or a widget.
class SyncWorker : public QObject {
    Q_OBJECT

public:
    // Unencrypted: a link off this computer that could not be encrypted;
    // Unreadable: a connection string libpq's rules cannot read;
    // LoginClosed: the role may no longer log in (its operator was removed).
    enum Trouble { Unreachable, Password, Schema, Unencrypted, Unreadable, LoginClosed };

    explicit SyncWorker(const QString &connectionName);
    ~SyncWorker() override;

    // The libpq connection string as opened (ClubLink::plan).
    static QString connectionOptions(const QString &conninfo);
    // One blocking attempt on a connection made and dropped here; empty
    // when the server answered and its schema is usable.
    static QString probe(const QString &conninfo, const QString &password, int *version = nullptr,
                         bool *encrypted = nullptr);
    // The words for a link off this computer that the server would not encrypt.
    static QString unencryptedText();
    static bool isPasswordFailure(const QString &error);
    static bool isLoginClosed(const QString &error);

public slots:
    // `after`: the server's last change already received.
    void start(const QString &conninfo, const QString &password, qint64 after);
    void send(const QList<SyncChange> &changes);
    // Every change of one net, for a program that joins it.
    void fetchNet(const QString &net);
    // Changes after `after` are received again (after a failed apply).
    void rewind(qint64 after);
    void stop();

signals:
    void online(int version, bool encrypted);
    void offline(int trouble, const QString &reason);
    // The changes up to this journal place are on the server.
    void sent(qint64 upTo);
    void received(const QList<SyncChange> &changes, qint64 last);
    void netsOpen(const QList<SyncNet> &nets);
    void netFetched(const QString &net, const QList<SyncChange> &changes);

private:
    void connectNow();
    void fetch();
    void listNets();
    void checkAlive();
    // The link is gone: try again shortly.
    void lose(const QString &reason);

    QString name;
    QString conninfo;
    QString password;
    qint64 after = 0;
    bool connected = false;
    bool stopped = true;
    bool reported = false;
    QTimer *retryTimer = nullptr;
    QTimer *aliveTimer = nullptr;
};
