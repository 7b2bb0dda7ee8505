#pragma once

#include "lookup/qrzrecord.h"
#include "net/netreply.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

// The session with the QRZ XML service: log-in, call and station look-ups and
// the batch run over a roster's calls. It sends, parses and keeps the session
// key; what an answer means for the windows and the tables is its owner's,
// through the signals. Every failure comes as a text for the error log.
class QrzClient : public QObject {
    Q_OBJECT

public:
    explicit QrzClient(QNetworkAccessManager *network, QObject *parent = nullptr);

    // Base address of the service, without the path of its requests.
    QString server() const { return serverBase; }
    void setServer(const QString &base) { serverBase = base; }
    // Base address + path and query of a request.
    QUrl url(const QString &query) const;

    // The time limits and the size cap of every request.
    Net::Limits limits() const { return requestLimits; }
    void setLimits(const Net::Limits &limits) { requestLimits = limits; }

    bool isConnected() const { return connected; }
    QString sessionKey() const { return key; }
    // The call sign of the latest log-in.
    QString user() const { return userCall; }

    // Sends a log-in, answered by loginFinished(). Without a call or a
    // password nothing is sent, the session ends and the result is false.
    bool login(const QString &call, const QString &password);

    // Asks for `call`'s record with the session key; `tag` comes back with the
    // answer, so that the owner knows which of its look-ups it was. The owner
    // checks isConnected() first.
    void lookUp(const QString &call, int tag = 0);
    void lookUpStation(const QString &call);

    // Looks up each call in turn, one request at a time; a call without a
    // usable record is reported by failure() and skipped. False, and nothing
    // sent, while a run is going.
    bool runBatch(const QStringList &calls);
    bool batchRunning() const { return batchActive; }
    // Stops the run: the answer on its way is dropped and no more requests
    // go out; batchCancelled() follows.
    void cancelBatch();

signals:
    // A log-in request has ended; a failed request leaves the state as it was.
    void loginFinished(bool connected);
    // The service refused the log-in, in its own words.
    void loginRefused(const QString &serviceError);
    // The subscription's expiry as the service gave it, or "non-subscriber".
    void subscription(const QString &subExp);

    // An answer to lookUp(); a call the service does not know comes back with
    // `error` set.
    void callRecord(const Qrz::CallRecord &record, int tag);
    // lookUp() brought no answer; `text` is the line for the error log.
    // `unreadable`: a reply came, but not the service's (a portal's page).
    void lookUpFailed(const QString &text, int tag, bool unreadable = false);
    void stationRecord(const Qrz::StationRecord &record);

    // `done` of `total` calls of the run are answered; sent before each request.
    void batchProgress(int done, int total);
    // A record of the run, holding a call sign.
    void batchRecord(const Qrz::CallRecord &record);
    void batchFinished(int total);
    // The run stopped when asked to, after `done` calls.
    void batchCancelled(int done);

    // A line for the error log: a log-in, station look-up or call of the run
    // that failed.
    void failure(const QString &text);

private:
    QNetworkReply *get(const QString &query);
    QString callQuery(const QString &call) const;
    // Parses a call record and takes the session key it may renew.
    Qrz::CallRecord takeCallRecord(const QByteArray &body);
    void readLogin(const QByteArray &body);
    void nextBatchCall();
    void takeBatchRecord(const QString &requested, const Qrz::CallRecord &record);

    QNetworkAccessManager *manager;
    QString serverBase;
    Net::Limits requestLimits = Net::ReplyLimits;

    QString userCall;
    QString userPassword; // held with the call, as given
    QString key;
    bool connected = false;

    QStringList batch;
    int batchIndex = 0;
    bool batchActive = false;
    bool batchStopping = false;
    QPointer<QNetworkReply> batchReply;
};
