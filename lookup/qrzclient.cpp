#include "lookup/qrzclient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

namespace {

// Every byte but the unreserved ones is escaped, so a password holding &, ;,
// #, + or a blank reaches the service as typed.
QString encoded(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

// What a finished request brought, copied out so that the reply can go.
struct Answer {
    bool ok = false;
    QByteArray body;
    QString failure;
};

Answer take(QNetworkReply *reply)
{
    Answer answer;
    answer.ok = replySucceeded(reply);
    if (answer.ok)
        answer.body = reply->readAll();
    else
        answer.failure = replyFailure(reply);
    reply->deleteLater();
    return answer;
}

} // namespace

QrzClient::QrzClient(QNetworkAccessManager *network, QObject *parent) : QObject(parent), manager(network)
{
}

QUrl QrzClient::url(const QString &query) const
{
    QUrl url = Net::address(serverBase, QStringLiteral("/xml/current/"));
    url.setQuery(query, QUrl::StrictMode);
    return url;
}

QNetworkReply *QrzClient::get(const QString &query)
{
    return Net::limitedGet(manager, url(query), requestLimits);
}

// The service separates key and call sign by a semicolon.
QString QrzClient::callQuery(const QString &call) const
{
    return "s=" + encoded(key) + ";callsign=" + encoded(call);
}

bool QrzClient::login(const QString &call, const QString &password)
{
    userCall = call;
    userPassword = password;
    if (call.isEmpty() || password.isEmpty()) {
        connected = false;
        return false;
    }

    QNetworkReply *reply = get("username=" + encoded(call) + "&password=" + encoded(password));
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        const Answer answer = take(reply);
        // A request that brought no answer leaves the session as it was.
        if (answer.ok)
            readLogin(answer.body);
        else
            emit failure("QRZ login failed: " + answer.failure);
        emit loginFinished(connected);
    });
    return true;
}

void QrzClient::readLogin(const QByteArray &body)
{
    const Qrz::LoginReply login = Qrz::parseLogin(body);
    if (login.hasError) {
        connected = false;
        emit loginRefused(login.error);
        return;
    }
    // Whatever answered, it was not the service logging us in.
    if (!login.failure.isEmpty()) {
        connected = false;
        emit failure("QRZ login failed: " + login.failure);
        return;
    }

    connected = true;
    key = login.key;
    if (login.hasSubExp)
        emit subscription(login.subExp);
}

Qrz::CallRecord QrzClient::takeCallRecord(const QByteArray &body)
{
    const Qrz::CallRecord record = Qrz::parseCallRecord(body);
    if (record.hasKey)
        key = record.key;
    return record;
}

void QrzClient::lookUp(const QString &call, int tag)
{
    QNetworkReply *reply = get(callQuery(call));
    connect(reply, &QNetworkReply::finished, this, [this, reply, call, tag] {
        const Answer answer = take(reply);
        if (!answer.ok) {
            emit lookUpFailed("QRZ look-up of " + call + " failed: " + answer.failure, tag);
            return;
        }
        const Qrz::CallRecord record = takeCallRecord(answer.body);
        // Not the service's answer: no record, blank or not, comes of it.
        if (!record.failure.isEmpty())
            emit lookUpFailed("QRZ look-up of " + call + " failed: " + record.failure, tag, true);
        else
            emit callRecord(record, tag);
    });
}

void QrzClient::lookUpStation(const QString &call)
{
    QNetworkReply *reply = get(callQuery(call));
    connect(reply, &QNetworkReply::finished, this, [this, reply, call] {
        const Answer answer = take(reply);
        if (!answer.ok) {
            emit failure("QRZ look-up of this station " + call + " failed: " + answer.failure);
            return;
        }
        const Qrz::StationRecord record = Qrz::parseStationRecord(answer.body);
        if (!record.failure.isEmpty()) {
            emit failure("QRZ look-up of this station " + call + " failed: " + record.failure);
            return;
        }
        if (record.hasKey)
            key = record.key;
        emit stationRecord(record);
    });
}

bool QrzClient::runBatch(const QStringList &calls)
{
    // Two runs at once would share the list and the place in it.
    if (batchActive)
        return false;
    batch = calls;
    batchIndex = 0;
    batchActive = true;
    batchStopping = false;
    nextBatchCall();
    return true;
}

void QrzClient::cancelBatch()
{
    if (!batchActive || batchStopping)
        return;
    batchStopping = true;
    // The reply ends at once as aborted; its handler ends the run.
    if (batchReply)
        batchReply->abort();
}

void QrzClient::nextBatchCall()
{
    const int total = int(batch.size());
    if (batchIndex >= total) {
        batchActive = false;
        batch.clear();
        emit batchFinished(total);
        return;
    }

    emit batchProgress(batchIndex, total);
    const QString call = batch.at(batchIndex);
    ++batchIndex;
    // One request at a time: the next goes out when this one has ended,
    // answered or not.
    QNetworkReply *reply = get(callQuery(call));
    batchReply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, call] {
        const Answer answer = take(reply);
        if (batchStopping) {
            const int done = batchIndex - 1;
            batchActive = false;
            batchStopping = false;
            batch.clear();
            emit batchCancelled(done);
            return;
        }
        if (answer.ok)
            takeBatchRecord(call, takeCallRecord(answer.body));
        else
            emit failure("Callsign List Error, " + call + ": " + answer.failure);
        nextBatchCall();
    });
}

void QrzClient::takeBatchRecord(const QString &requested, const Qrz::CallRecord &record)
{
    if (!record.error.isEmpty()) {
        emit failure("Callsign List Error, " + record.error);
        return;
    }
    // Something that is no call record (a portal page, say) must not become
    // an empty contact.
    if (record.call.isEmpty()) {
        emit failure("Callsign List Error, " + requested + ": the reply holds no call record.");
        return;
    }
    emit batchRecord(record);
}
