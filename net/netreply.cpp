#include "net/netreply.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

namespace {

// Where a request stopped by this file keeps its reason for replyFailure().
const char FailureProperty[] = "trelvinFailure";

void stop(QNetworkReply *reply, const QString &reason)
{
    if (reply->isFinished())
        return;
    reply->setProperty(FailureProperty, reason);
    reply->abort();
}

QString tooLarge(qint64 maxBytes)
{
    return QStringLiteral("The server's reply is larger than %1 MB; it was not read.").arg(maxBytes / (1024 * 1024));
}

} // namespace

namespace Net {

QUrl address(QString base, const QString &path)
{
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return QUrl(base + path);
}

bool redirectAllowed(const QUrl &from, const QUrl &to)
{
    const bool downgrade = from.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0
                           && to.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0;
    return !downgrade && from.host().compare(to.host(), Qt::CaseInsensitive) == 0;
}

QNetworkReply *limitedGet(QNetworkAccessManager *manager, const QUrl &url, const Limits &limits)
{
    QNetworkRequest request(url);
    // A server that accepts and then stays silent must not hang a login or a
    // roster run.
    request.setTransferTimeout(limits.idleMs);
    // Each redirect is judged below: a key or an installer from another host
    // is not to be trusted.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkReply *reply = manager->get(request);

    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, url](const QUrl &target) {
        if (redirectAllowed(url, target))
            emit reply->redirectAllowed();
        else
            stop(reply, QStringLiteral("The server sent the request on to %1; that address was not followed.")
                            .arg(target.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery)));
    });

    // The idle time-out cannot end a reply that trickles a byte at a time.
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply,
                     [reply] { stop(reply, QStringLiteral("The server did not finish its answer in time.")); });
    QObject::connect(reply, &QNetworkReply::finished, deadline, &QTimer::stop);
    deadline->start(limits.totalMs);

    // The announced length refuses an oversized reply before its body; the
    // running count catches one that announces nothing or lies.
    const qint64 maxBytes = limits.maxBytes;
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, maxBytes] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxBytes)
            stop(reply, tooLarge(maxBytes));
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, maxBytes] {
        if (reply->bytesAvailable() > maxBytes)
            stop(reply, tooLarge(maxBytes));
    });
    return reply;
}

} // namespace Net

bool replySucceeded(const QNetworkReply *reply)
{
    if (reply->error() != QNetworkReply::NoError)
        return false;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() && status.toInt() >= 200 && status.toInt() < 300;
}

QString replyFailure(const QNetworkReply *reply)
{
    const QString stoppedBecause = reply->property(FailureProperty).toString();
    if (!stoppedBecause.isEmpty())
        return stoppedBecause;
    // Every other abort here leaves a reason, so a cancelled request without
    // one ran into its idle time-out.
    if (reply->error() == QNetworkReply::OperationCanceledError)
        return QStringLiteral("The server did not answer in time.");
    // Qt's text for an HTTP error quotes the whole address, and a login's
    // holds the password: the status says enough.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() >= 300))
        return QStringLiteral("The server answered HTTP %1 %2")
            .arg(status.toInt())
            .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
            .trimmed();
    if (reply->error() != QNetworkReply::NoError)
        return reply->errorString();
    if (!status.isValid())
        return QStringLiteral("The server sent no HTTP status.");
    return QString();
}
