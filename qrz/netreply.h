#pragma once

#include <QString>

class QNetworkReply;

// A finished reply counts only with no network error and a 2xx status: an
// error page is not the answer that was asked for.
bool replySucceeded(const QNetworkReply *reply);

// Why a finished reply did not succeed, in words for a message box or the
// error log. Copy it before the reply is released.
QString replyFailure(const QNetworkReply *reply);
