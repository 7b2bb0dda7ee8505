#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 that answers canned responses chosen
// by the longest prefix of the request target (path and query), and records
// every request target it got. Each connection carries one request.
class FakeHttp : public QObject {
    Q_OBJECT

public:
    struct Response {
        int status = 200;
        QByteArray contentType = "text/xml; charset=utf-8";
        QByteArray body;
        // Body offsets at which the answer is cut; the pieces go out one by
        // one, `pieceDelayMs` apart.
        QList<int> cuts;
        int pieceDelayMs = 30;
        // Accept the request and never answer.
        bool silent = false;
        // Announce the whole body but close after the first half.
        bool truncated = false;
        // Sent as the Location header (with a 3xx status).
        QByteArray location;
        // Content-Length to announce instead of the body's; with `noLength`
        // none is sent and the body ends where the connection does.
        qint64 announcedLength = -1;
        bool noLength = false;
    };

    // The body one byte at a time, `delayMs` apart.
    static Response trickling(const QByteArray &body, int delayMs);
    // The body at once, with `status`.
    static Response answer(const QByteArray &body, int status = 200);
    // Accepts the request and never answers.
    static Response silence();

    explicit FakeHttp(QObject *parent = nullptr);

    bool listen();
    quint16 port() const { return server.serverPort(); }
    QString base() const;

    // Answer targets starting with `prefix` (the longest prefix wins).
    void on(const QByteArray &prefix, const Response &response);
    // A port on 127.0.0.1 where nothing listens.
    static quint16 closedPort();

    QList<QByteArray> requests;
    // Requests whose target starts with `prefix`.
    QList<QByteArray> requestsTo(const QByteArray &prefix) const;

signals:
    void requestSeen(const QByteArray &target);

private:
    void accept();
    void readRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Response &response);

    QTcpServer server;
    QMap<QByteArray, Response> responses;
};

// Bodies in the shape of the QRZ XML service.
namespace QrzXml {
// <Session> with the elements given (empty ones left out).
QByteArray session(const QByteArray &key, const QByteArray &subExp = "Thu Dec 31 00:00:00 2026",
                   const QByteArray &error = QByteArray());
// A call record (pairs of element name and text in the service's order)
// followed by a session holding `key`.
QByteArray callsign(const QList<QPair<QByteArray, QByteArray>> &fields, const QByteArray &key);
// A rejected call: a session with only an error.
QByteArray notFound(const QByteArray &call, const QByteArray &key);
} // namespace QrzXml
