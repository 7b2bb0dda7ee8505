#include "sync/authorityfetch.h"

#include "app/logging.h"

#include <QCryptographicHash>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QtEndian>

AuthorityFetch::AuthorityFetch(QObject *parent) : QObject(parent)
{
    timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this] {
        finish(QStringLiteral("The club server %1 did not answer within %2 seconds.").arg(host).arg(TimeoutMs / 1000));
    });
}

void AuthorityFetch::fetch(const QString &serverHost, int port, const QString &sha256)
{
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    wanted = sha256.toLower();
    host = serverHost;
    answered = false;
    socket = new QSslSocket(this);
    // Only the fingerprint decides here; the connection verifies the rest.
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    connect(socket, &QSslSocket::connected, this, &AuthorityFetch::askForTls);
    connect(socket, &QSslSocket::readyRead, this, &AuthorityFetch::readAnswer);
    connect(socket, &QSslSocket::encrypted, this, &AuthorityFetch::checkChain);
    connect(socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        finish(QStringLiteral("The club server %1 could not be reached: %2").arg(host, socket->errorString()));
    });
    timer->start(TimeoutMs);
    socket->connectToHost(host, quint16(port));
}

void AuthorityFetch::askForTls()
{
    // PostgreSQL's SSLRequest: the length 8 and the code 1234/5679.
    QByteArray request(8, '\0');
    qToBigEndian<quint32>(8, request.data());
    qToBigEndian<quint32>(80877103, request.data() + 4);
    socket->write(request);
}

void AuthorityFetch::readAnswer()
{
    if (answered || !socket)
        return;
    char answer = 0;
    if (socket->read(&answer, 1) != 1)
        return;
    answered = true;
    if (answer == 'N') {
        finish(QStringLiteral("The club server %1 does not offer encryption, which a club link needs.").arg(host));
        return;
    }
    // Anything more than the one byte before the handshake is not a server
    // of ours speaking.
    if (answer != 'S' || socket->bytesAvailable() > 0) {
        finish(QStringLiteral("%1 did not answer as a club server does.").arg(host));
        return;
    }
    socket->startClientEncryption();
}

void AuthorityFetch::checkChain()
{
    const QList<QSslCertificate> chain = socket->peerCertificateChain();
    QStringList shown;
    for (const QSslCertificate &certificate : chain) {
        const QString digest = QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex());
        if (digest == wanted
            && certificate.subjectInfo(QSslCertificate::CommonName)
                   == certificate.issuerInfo(QSslCertificate::CommonName)) {
            finish(QString(), certificate.toPem());
            return;
        }
        shown.append(digest);
    }
    qCInfo(lcSync) << "Club server authority: none of" << shown << "is" << wanted;
    finish(QStringLiteral("The club server %1 does not show the certificate authority the club link names.\n"
                          "The link names:   sha256 %2\nThe server shows: %3")
               .arg(host, wanted,
                    shown.isEmpty() ? QStringLiteral("no certificate")
                                    : QStringLiteral("sha256 ") + shown.join(QStringLiteral(", sha256 "))));
}

void AuthorityFetch::finish(const QString &reason, const QByteArray &pem)
{
    timer->stop();
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        socket = nullptr;
    }
    if (reason.isEmpty())
        emit fetched(pem);
    else
        emit failed(reason);
}
