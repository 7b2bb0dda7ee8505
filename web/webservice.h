#pragma once

#include "web/httpserver.h"
#include "web/netview.h"
#include "web/webconfig.h"

#include <QHash>
#include <QObject>
#include <QSqlDatabase>
#include <QTimer>

#include <memory>

// trelvin-web's Qt side: the club server's connection, LISTENing for the
// journal's changes, the nets of the day kept rendered, and the answers to
// the HTTP thread's requests. The connection is this thread's only; the
// HTTP thread gets bytes, never a database handle.
class WebService : public QObject {
    Q_OBJECT

public:
    explicit WebService(const WebConfig &config, QObject *parent = nullptr);
    ~WebService() override;

    // Loads the page's files and listens; false with `problem` set when it
    // cannot. The club server is reached afterwards, and again whenever lost.
    bool start(QString *problem);
    quint16 port() const;
    HttpServer &http() { return *server; }
    bool online() const { return status.state == WebPages::ServerState::Up; }

    // How long a lost club server waits before the next attempt.
    static constexpr int RetryMs = 2000;
    // A statement that does nothing, to find a lost server the notifications
    // cannot report; not a read of the nets.
    static constexpr int HealthMs = 5000;
    // The nets of the day: started in the last hours, or open and changed in them.
    static constexpr int DayHours = 24;
    static constexpr int PastDays = 90;

private:
    void handle(const HttpServer::Request &request, const HttpServer::Reply &reply);
    HttpServer::Response answer(const HttpServer::Request &request);
    HttpServer::Response events(const QString &net, const QString &lastEventId);
    HttpServer::Response netAnswer(const QString &id, bool json);
    HttpServer::Response pastNets();
    void connectClub();
    void lose(const QString &why);
    void notified(const QString &channel);
    void checkHealth();
    // The nets of the day read again, and those with changes after `seq`
    // sent to the viewers; false when the server failed.
    bool refresh(bool everything);
    std::optional<NetView> readNet(const QString &id, QString *failure);
    void broadcastNet(const NetView &view);
    QByteArray netEvent(const NetView &view) const;
    QByteArray statusEvent() const;

    const WebConfig config;
    std::unique_ptr<HttpServer> server;
    QString connection;
    QSqlDatabase db;
    QTimer retry;
    QTimer health;
    WebPages::Status status;
    QString club;
    qint64 seq = 0;
    QList<NetView> today;
    StationPlaces places;
    // The files the page needs, by path: fixed at start, read by the HTTP
    // thread without a lock.
    struct File {
        std::string type;
        std::string body;
    };
    std::shared_ptr<const QHash<QString, File>> files;
};
