#include "fakehttp.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

FakeHttp::FakeHttp(QObject *parent) : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, &FakeHttp::accept);
}

bool FakeHttp::listen()
{
    return server.listen(QHostAddress::LocalHost, 0);
}

QString FakeHttp::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void FakeHttp::on(const QByteArray &prefix, const Response &response)
{
    responses.insert(prefix, response);
}

FakeHttp::Response FakeHttp::trickling(const QByteArray &body, int delayMs)
{
    Response response;
    response.body = body;
    for (int cut = 1; cut < body.size(); ++cut)
        response.cuts.append(cut);
    response.pieceDelayMs = delayMs;
    return response;
}

FakeHttp::Response FakeHttp::answer(const QByteArray &body, int status)
{
    Response response;
    response.status = status;
    response.body = body;
    return response;
}

FakeHttp::Response FakeHttp::silence()
{
    Response response;
    response.silent = true;
    return response;
}

quint16 FakeHttp::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QList<QByteArray> FakeHttp::requestsTo(const QByteArray &prefix) const
{
    QList<QByteArray> found;
    for (const QByteArray &target : requests) {
        if (target.startsWith(prefix))
            found.append(target);
    }
    return found;
}

void FakeHttp::accept()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        socket->setProperty("request", QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void FakeHttp::readRequest(QTcpSocket *socket)
{
    QByteArray head = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", head);
    if (!head.contains("\r\n\r\n") || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);

    // "GET <target> HTTP/1.1"
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QByteArray target = requestLine.value(1);
    requests.append(target);

    Response response;
    response.status = 404;
    response.contentType = "text/plain";
    response.body = "no canned response";
    int matched = -1;
    for (auto it = responses.cbegin(); it != responses.cend(); ++it) {
        if (target.startsWith(it.key()) && it.key().size() > matched) {
            matched = int(it.key().size());
            response = it.value();
        }
    }
    emit requestSeen(target);
    answer(socket, response);
}

void FakeHttp::answer(QTcpSocket *socket, const Response &response)
{
    if (response.silent)
        return;

    QByteArray reason = response.status == 200   ? "OK"
                        : response.status == 302 ? "Found"
                        : response.status == 404 ? "Not Found"
                                                 : "Error";
    QByteArray header = "HTTP/1.1 " + QByteArray::number(response.status) + " " + reason + "\r\n"
                        + "Content-Type: " + response.contentType + "\r\n";
    if (!response.noLength) {
        const qint64 length = response.announcedLength >= 0 ? response.announcedLength : response.body.size();
        header += "Content-Length: " + QByteArray::number(length) + "\r\n";
    }
    if (!response.location.isEmpty())
        header += "Location: " + response.location + "\r\n";
    header += "Connection: close\r\n\r\n";

    if (response.truncated) {
        socket->write(header + response.body.left(response.body.size() / 2));
        socket->flush();
        socket->disconnectFromHost();
        return;
    }

    QList<QByteArray> pieces;
    int from = 0;
    for (int cut : response.cuts) {
        pieces.append(response.body.mid(from, cut - from));
        from = cut;
    }
    pieces.append(response.body.mid(from));
    pieces.first().prepend(header);

    QPointer<QTcpSocket> guard(socket);
    for (int i = 0; i < pieces.size(); ++i) {
        const bool last = i == pieces.size() - 1;
        const QByteArray piece = pieces.at(i);
        QTimer::singleShot(i * response.pieceDelayMs, this, [guard, piece, last] {
            if (!guard)
                return;
            guard->write(piece);
            guard->flush();
            if (last)
                guard->disconnectFromHost();
        });
    }
}

namespace QrzXml {

namespace {
const QByteArray head = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
                        "<QRZDatabase version=\"1.34\" xmlns=\"http://xmldata.qrz.com\">\n";
const QByteArray tail = "</QRZDatabase>\n";

QByteArray element(const QByteArray &name, const QByteArray &text)
{
    return "<" + name + ">" + text + "</" + name + ">\n";
}

QByteArray sessionBlock(const QByteArray &key, const QByteArray &subExp, const QByteArray &error)
{
    QByteArray block = "<Session>\n";
    if (!key.isEmpty())
        block += element("Key", key);
    block += element("Count", "1234");
    if (!subExp.isEmpty())
        block += element("SubExp", subExp);
    if (!error.isEmpty())
        block += element("Error", error);
    block += element("GMTime", "Sun Nov 16 04:13:46 2025");
    block += "</Session>\n";
    return block;
}
} // namespace

QByteArray session(const QByteArray &key, const QByteArray &subExp, const QByteArray &error)
{
    return head + sessionBlock(key, subExp, error) + tail;
}

QByteArray callsign(const QList<QPair<QByteArray, QByteArray>> &fields, const QByteArray &key)
{
    QByteArray record = "<Callsign>\n";
    for (const auto &field : fields)
        record += element(field.first, field.second);
    record += "</Callsign>\n";
    return head + record + sessionBlock(key, "Thu Dec 31 00:00:00 2026", QByteArray()) + tail;
}

QByteArray notFound(const QByteArray &call, const QByteArray &key)
{
    return head + sessionBlock(key, "Thu Dec 31 00:00:00 2026", "Not found: " + call) + tail;
}

} // namespace QrzXml
