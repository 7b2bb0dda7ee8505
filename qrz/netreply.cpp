#include "qrz/netreply.h"

#include <QNetworkReply>

bool replySucceeded(const QNetworkReply *reply)
{
    if (reply->error() != QNetworkReply::NoError)
        return false;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() && status.toInt() >= 200 && status.toInt() < 300;
}

QString replyFailure(const QNetworkReply *reply)
{
    // Nothing here aborts a request itself, so a cancelled one ran into its
    // transfer time-out.
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
