#pragma once

#include <QString>
#include <QtGlobal>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

namespace Net {
// A QRZ, call-book or version reply is a few kB; anything past this is not
// the answer that was asked for.
inline constexpr qint64 ReplyLimitBytes = 1024 * 1024;
// An installer is large, but not without bound; on a slow line it may take
// far longer than a look-up.
inline constexpr qint64 DownloadLimitBytes = 200 * 1024 * 1024;
inline constexpr int DownloadDeadlineMs = 30 * 60 * 1000;

struct Limits {
    int idleMs;      // no byte for this long ends the request
    int totalMs;     // a request may not run longer than this in all
    qint64 maxBytes; // a larger reply is aborted unread
};

// A look-up or a version file: a server that makes no progress for 20 s, or
// takes a minute in all, is not going to answer.
inline constexpr Limits ReplyLimits{20000, 60000, ReplyLimitBytes};
inline constexpr Limits DownloadLimits{ReplyLimits.idleMs, DownloadDeadlineMs, DownloadLimitBytes};

// `base` (a server's address, with or without a trailing slash) + `path`.
QUrl address(QString base, const QString &path);

// A GET with the limits set; a redirect is followed only on the same host and
// never from HTTPS to HTTP. A request stopped by a limit or a refused redirect
// finishes with an error and replyFailure() gives the reason.
QNetworkReply *limitedGet(QNetworkAccessManager *manager, const QUrl &url, const Limits &limits);

// Whether a redirect from `from` to `to` stays on the same host without
// giving up HTTPS.
bool redirectAllowed(const QUrl &from, const QUrl &to);
} // namespace Net

// A finished reply counts only with no network error and a 2xx status: an
// error page is not the answer that was asked for.
bool replySucceeded(const QNetworkReply *reply);

// Why a finished reply did not succeed, in words for a message box or the
// error log. Copy it before the reply is released.
QString replyFailure(const QNetworkReply *reply);
