#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include "data/storage.h"

class ClubJoin;
class ClubServerDialog;
class ClubSync;
class JobRunner;
class QLabel;
class QLineEdit;
class QMenu;
class QSettings;
class QStatusBar;
class QWidget;
class SecretStore;
class ThemeState;
struct SyncNet;

// The program's side of the club server: the setting (a libpq connection
// string without its password), the password (a club link's, or one asked
// for, kept in the keyring once the server took it), Setup > Club
// Server... with its dialog and pasted club links, the status-bar fields,
// the boxes, and the journal turned on and off with it. The work is ClubSync's and Storage's; what arrives is
// announced by signals for the window to redraw.
class ClubHub : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        // Over which the dialog opens.
        QWidget *window = nullptr;
        QStatusBar *statusBar = nullptr;
        // Gets the "Club Server..." action.
        QMenu *setupMenu = nullptr;
        // The entry's call and its roster field, which follow roster changes.
        QLineEdit *call = nullptr;
        QLineEdit *member = nullptr;
    };
    struct Host {
        // The "Database Write Failed" box and its log line.
        std::function<void(const QString &operation, const QString &reason)> reportWriteFailure;
        // Where a club link's certificate authority is kept.
        std::function<QString()> dataDir;
        // A net logged on paper is being entered: it joins no running net.
        std::function<bool()> pastNet;
    };

    ClubHub(const Widgets &widgets, Storage &storage, JobRunner *runner, const ThemeState *palettes, Host host,
            QObject *parent = nullptr);
    ~ClubHub() override;

    // The "Main" group's ClubServer; writeSettings() writes into the group
    // the caller opened, and only once there is a server.
    void readSettings();
    void writeSettings(QSettings &settings) const;

    // The setting without its password.
    QString server() const { return clubServer; }
    // (Re)starts the link with the setting; stops it when there is none.
    void start();
    // Whatever is not sent yet stays in the journal for the next run.
    void stop();
    // Forgets the password of this run: the server's next refusal asks again.
    void forgetPassword();
    // The keyring's name for the password of a setting.
    static QString secretKey(const QString &conninfo);

    // The link itself, for its state.
    ClubSync *sync() const { return link; }
    ClubServerDialog *dialog() const { return serverDialog; }

public slots:
    // Setup > Club Server...
    void openDialog();

signals:
    // A line for the operator's error log.
    void errorLine(const QString &text);
    // Entries of the net arrived from the server: the net list and the
    // reports of it are drawn again.
    void netChanged();
    // Members arrived: the roster file and report follow.
    void rosterChanged();

private:
    void createStatusFields();
    void connectSync();
    void createMenuAndDialog();
    void showStatus(const QString &text);
    void test(const QString &conninfo);
    void save(const QString &conninfo);
    void use(const QString &conninfo, const QString &password);
    void join(const QString &text);
    void joined(const QString &conninfo, const QString &role, const QString &password);
    void joinFailed(const QString &reason);
    void passwordRead(const QString &key, const QString &secret, int outcome, const QString &reason);
    void passwordWritten(const QString &key, const QString &secret, int outcome, const QString &reason);
    void keepPasswordOnceOnline();
    void showTrouble(int kind, const QString &reason);
    bool askPassword(int kind);
    void offerNet(const SyncNet &net);
    void showRosterChanges();

    Widgets widgets;
    Storage &storage;
    const ThemeState *palettes;
    Host host;
    ClubSync *link = nullptr;
    QLabel *status = nullptr;
    ClubServerDialog *serverDialog = nullptr;
    QString clubServer;
    // Never written to the settings; in the keyring once the server took it.
    QString runPassword;
    bool passwordAsked = false;
    // Where runPassword came from: a password given in this run is not
    // asked for again when the server refuses it.
    enum class From { Nowhere, Keyring, ThisRun };
    From passwordFrom = From::Nowhere;
    // Written to the keyring when the link comes up with it.
    bool keepPassword = false;
    // The keyring's answer the link waits for; empty when none.
    QString pendingKey;
    ClubJoin *joiner = nullptr;
    SecretStore *secrets = nullptr;
};
