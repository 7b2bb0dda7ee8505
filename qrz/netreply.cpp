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
    if (reply->error() != QNetworkReply::NoError)
        return reply->errorString();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return QStringLiteral("The server sent no HTTP status.");
    return QStringLiteral("The server answered HTTP %1 %2")
        .arg(status.toInt())
        .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
        .trimmed();
}
