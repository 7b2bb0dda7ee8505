#pragma once

#include "lookup/qrzrecord.h"
#include "net/netreply.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

// Pure readers of HamQTH's XML replies.
namespace HamQth {

struct Session {
    QString id;
    QString error;
    // Why the reply is no answer of the service (not XML, cut short).
    QString failure;
};
Session parseSession(const QByteArray &body);

// A search reply as a call record, the fields cleaned up as QRZ's are; a
// call the service does not know comes back with `error` set, and a reply
// that is no HamQTH document with `failure` in `*failure`.
Qrz::CallRecord parseSearch(const QByteArray &body, QString *failure);

// The service's words for a session that has to be opened again.
bool sessionExpired(const QString &error);

} // namespace HamQth

// The session with HamQTH's free XML call-sign service: log-in with the
// operator's HamQTH account, then look-ups with the session id, which is
// kept until the service says it has expired; then the client logs in once
// more and asks again. Answers come as signals, failures as texts.
class HamQthClient : public QObject {
    Q_OBJECT

public:
    explicit HamQthClient(QNetworkAccessManager *network, QObject *parent = nullptr);

    QString server() const { return serverBase; }
    void setServer(const QString &base) { serverBase = base; }
    void setLimits(const Net::Limits &limits) { requestLimits = limits; }

    QString user() const { return userName; }
    QString password() const { return userPassword; }
    // New credentials end the session.
    void setCredentials(const QString &user, const QString &password);
    bool isConfigured() const { return !userName.isEmpty() && !userPassword.isEmpty(); }
    QString sessionId() const { return session; }

    // Asks for `call`; answered by callRecord() or lookUpFailed() with the
    // same `tag`. Logs in first when there is no session.
    void lookUp(const QString &call, int tag = 0);

signals:
    void callRecord(const Qrz::CallRecord &record, int tag);
    // `unreadable`: a reply came, but not the service's (a portal's page).
    void lookUpFailed(const QString &text, int tag, bool unreadable = false);

private:
    struct Pending {
        QString call;
        int tag = 0;
        bool retried = false;
    };
    QUrl url(const QString &query) const;
    void login();
    void search(const Pending &pending);
    void failAll(const QString &text, bool unreadable = false);

    QNetworkAccessManager *manager;
    QString serverBase;
    Net::Limits requestLimits = Net::ReplyLimits;
    QString userName;
    QString userPassword;
    QString session;
    bool loggingIn = false;
    // Look-ups waiting for the session.
    QList<Pending> waiting;
    // Bumped when the credentials change, so that an older log-in's answer is ignored.
    int generation = 0;
};
