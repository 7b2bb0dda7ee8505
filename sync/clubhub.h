#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include "data/storage.h"

class ClubServerDialog;
class ClubSync;
class JobRunner;
class QLabel;
class QLineEdit;
class QMenu;
class QSettings;
class QStatusBar;
class QWidget;
class ThemeState;
struct SyncNet;

// The program's side of the club server: the setting (a libpq connection
// string whose password is kept for this run only), Setup > Club Server...
// and its dialog, the status-bar fields, the boxes, and the journal turned
// on and off with it. The work is ClubSync's and Storage's; what arrives is
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
    // "encrypted" or "not encrypted" beside it while online.
    QLabel *linkKind = nullptr;
    ClubServerDialog *serverDialog = nullptr;
    QString clubServer;
    // Kept for this run only, never written to the settings.
    QString runPassword;
    bool passwordAsked = false;
};
