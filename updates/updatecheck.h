#pragma once

#include <QList>
#include <QObject>
#include <QSslError>
#include <QString>

class QAction;
class QNetworkAccessManager;
class QNetworkReply;
class QSettings;

// Help > Check for Updates and the check at start-up: the published version
// number read from the update server, compared with this program's, and the
// new installer downloaded into the download folder when the operator wants it.
class UpdateCheck : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        // Setup's "Auto Update Check".
        QAction *autoCheck = nullptr;
    };

    UpdateCheck(const Widgets &widgets, QNetworkAccessManager *network, QObject *parent = nullptr);

    // The "Main" group's AutoUpdate and UpdateServer; writeSettings() writes
    // into the group the caller opened.
    void readSettings();
    void writeSettings(QSettings &settings) const;

    // The base address; empty: no update server configured.
    QString server() const { return updateServer; }
    void setServer(const QString &address) { updateServer = address; }
    bool autoCheck() const { return autoUpdate; }
    // The version line the server last published.
    QString latestVersion() const { return latest; }
    // Asked from the menu: the answer is shown even when there is nothing new.
    bool manualCheckPending() const { return manualCheck; }

    // The check at start-up, when the operator keeps it on.
    void checkAtStart();

public slots:
    // Help > Check for Updates.
    void checkNow();
    void setAutoCheck(bool on);

signals:
    // A line for the operator's error log.
    void errorLine(const QString &text);
    // The check (and the download) is over: the network is free for the look-ups' log-in.
    void done();

private:
    void check();
    void versionArrived(QNetworkReply *reply);
    void downloadArrived(QNetworkReply *reply);
    void sslErrors(const QList<QSslError> &errors);

    Widgets widgets;
    QNetworkAccessManager *network;
    QString updateServer;
    QString latest;
    bool manualCheck = false;
    bool autoUpdate = false;
};
