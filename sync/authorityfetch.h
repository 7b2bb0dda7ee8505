#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSslSocket;
class QTimer;

// The club server's certificate authority, fetched on the first connection
// of a club link and checked against the link's fingerprint before anything
// trusts it: a TLS handshake as PostgreSQL's clients begin it, in which the
// server shows its certificate with the authority after it. Nothing is
// verified here but the fingerprint; the connection itself then checks the
// server's certificate and name against the authority (verify-full).
class AuthorityFetch : public QObject {
    Q_OBJECT

public:
    explicit AuthorityFetch(QObject *parent = nullptr);

    // The whole exchange, reply included, within this.
    static constexpr int TimeoutMs = 10000;

    // Starts a fetch; one at a time, a new one ends the last.
    void fetch(const QString &host, int port, const QString &sha256);

signals:
    // The authority whose SHA-256 is the link's, as PEM.
    void fetched(const QByteArray &pem);
    // For the operator: why there is none.
    void failed(const QString &reason);

private:
    void finish(const QString &reason, const QByteArray &pem = QByteArray());
    void askForTls();
    void readAnswer();
    void checkChain();

    QSslSocket *socket = nullptr;
    QTimer *timer = nullptr;
    QString wanted;
    QString host;
    bool answered = false;
};
