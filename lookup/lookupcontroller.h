#pragma once

#include <QHash>
#include <QObject>
#include <QPalette>
#include <QString>
#include <QStringList>

#include <functional>

#include "data/storage.h"
#include "lookup/qrzrecord.h"

class BulkJob;
class Contact;
class HamQthClient;
class QAction;
class QLineEdit;
class QNetworkAccessManager;
class QrzClient;
class QSettings;
class QStatusBar;
class QTextBrowser;
class QTimer;
class SecretStore;
class Station;

// The look-ups of the window: the QRZ log-in and its status, call look-ups
// (QRZ first, HamQTH behind it) for the entry and the Contact dialog, the
// refinement of a call book record, the station record with its passwords
// in the keyring, and the roster's QRZ run. It fills the forms it is handed
// and asks the rest of the window only through Host and its signals.
class LookupController : public QObject {
    Q_OBJECT

public:
    // The widgets it reads and fills.
    struct Widgets {
        QLineEdit *search = nullptr;
        QLineEdit *call = nullptr;
        QLineEdit *name = nullptr;
        QLineEdit *city = nullptr;
        QLineEdit *state = nullptr;
        // Shows the roster's size after the QRZ run.
        QTextBrowser *callsigns = nullptr;
        // Off while the roster's QRZ run goes.
        QAction *rosterRun = nullptr;
        QStatusBar *statusBar = nullptr;
        Station *station = nullptr;
        Contact *contact = nullptr;
    };

    // What it needs answered by the rest of the window.
    struct Host {
        // The one answer to a change Storage could not store (box and log
        // line); whether it was stored.
        std::function<bool(const Storage::Result &, const QString &)> stored;
        // True, with the box naming it, while another bulk job runs.
        std::function<bool()> refuseBulkJob;
        std::function<bool(const QString &name, const QString &message, const QString &cancelTip,
                           const std::function<void()> &cancel, int maximum)>
            beginBulkJob;
        // Empties the roster before the QRZ run fills it.
        std::function<void()> recreateMembers;
        // The theme's palettes, which change with it.
        std::function<QPalette()> goodPalette;
        std::function<QPalette()> alertPalette;
        std::function<QString()> dataDir;
    };

    LookupController(const Widgets &widgets, Storage &storage, BulkJob *bulkJob, QNetworkAccessManager *network,
                     SecretStore *secrets, Host host, QObject *parent = nullptr);

    // The servers and the HamQTH account from the settings' "Main" group;
    // writeSettings() writes into the group the caller opened.
    void readSettings();
    void writeSettings(QSettings &settings) const;

    // The station's offset from UTC, as the Station dialog last showed it;
    // the check-in desk reckons a contact's time difference from it.
    int stationUtcOffset() const { return stationOffset; }

    // The search waits this long on a call book record before asking the
    // network, so that a call typed on does not cost a look-up per key.
    static constexpr int RefineDelayMs = 600;
    // The search has shown the call book's record of `call`: a network
    // look-up refines it once the search stays on it.
    void refineSoon(const QString &call);
    void cancelRefinement();
    bool refinementPending() const;

    // Asks the keyring for the HamQTH password of the account in the settings.
    void fetchHamQthPassword();
    // The start-up's log-in: at once, or when the keyring has answered.
    void loginAtStart();
    // After the exit sequence: answers that still come find the files closed.
    void stop() { stopped = true; }

    // The clients, for their servers and limits.
    QrzClient *qrzClient() const { return qrz; }
    HamQthClient *hamQthClient() const { return hamqth; }

public slots:
    // Connect QRZ: logs in with the Station dialog's call and password.
    void connectQrz();
    // Logs in again when the Station dialog holds call and password.
    void retryLogin();
    // The entry's Look Up button.
    void lookUpEntry();
    // The Contact dialog's Get Contact.
    void getContact();
    void getStation();
    void saveStation();
    // Fills the Station dialog from the stored station row.
    void showStationDetails();
    // The roster's QRZ run over a list of calls the operator picks.
    void runRoster();

signals:
    // A line for the operator's error log.
    void errorLine(const QString &line);
    // The roster, or the contacts, changed: open reports show them again.
    void rosterChanged();
    void contactsChanged();
    // A looked-up state went into the entry, its signals blocked.
    void entryStateShown(const QString &state);

private:
    void showLoginRefused(const QString &serviceError);
    void showSubscription(const QString &subExp);
    void displayConnectStatus();
    // A look-up by QRZ, or by HamQTH when QRZ is not connected; false when
    // neither is set up. `use` as for showCallRecord().
    bool startLookUp(const QString &call, int use);
    void refineLookUp();
    // QRZ's answers, handed on to HamQTH when QRZ has none and HamQTH is set up.
    void qrzRecordArrived(const Qrz::CallRecord &record, int use);
    void qrzLookUpFailed(const QString &text, int use, bool unreadable);
    // `use` tells whether the main window's entry takes the record too.
    void showCallRecord(const Qrz::CallRecord &record, int use);
    // `unreadable`: a reply came that is not the service's (a portal's page).
    void showLookUpFailure(const QString &text, int use, bool unreadable = false);
    // A look-up for the entry that brought no record: the notice in the city field.
    void showRejectedLookUp(const QString &notice);
    void showStationRecord(const Qrz::StationRecord &record);

    // The calls of a list file the operator picks; empty when none is read.
    QStringList readCallsignList();
    void showBatchProgress(int done);
    void finishBatch(int total);
    // Cancel: the roster goes back to what it was before the run.
    void cancelledBatch(int done);
    // A record of the roster run into mbr and contact.
    void storeRosterRecord(const Qrz::CallRecord &record);

    // The passwords (lookup/passwords.cpp): in the keyring; where none
    // answers, in Contacts.db and the settings as before, the files readable
    // by their owner only.
    static QString qrzSecretKey(const QString &call);
    static QString hamQthSecretKey(const QString &user);
    // Asks the keyring for the password of this station's call, or hands it
    // the one the file still holds.
    void fetchQrzPassword(const StationRecord &station);
    // `outcome` is a SecretStore::Outcome.
    void passwordRead(const QString &key, const QString &secret, int outcome, const QString &reason);
    void passwordWritten(const QString &key, const QString &secret, int outcome, const QString &reason);
    void keepPasswordsInFiles(const QString &reason);

    Widgets w;
    Storage &storage;
    BulkJob *bulkJob;
    SecretStore *secrets;
    Host host;

    // The client holds the key, the credentials, the server's address and
    // the limits of its requests.
    QrzClient *qrz = nullptr;
    // HamQTH, behind QRZ.
    HamQthClient *hamqth = nullptr;
    int stationOffset = 0;
    // The call each kind of look-up asked for last.
    QHash<int, QString> lookUpCalls;
    QTimer *refineTimer = nullptr;
    QString refineCall;
    // The roster before the QRZ run, for its Cancel.
    QStringList batchPreviousMembers;

    // The keys asked for last, and whether their answer is still to come.
    QString qrzPasswordKey;
    QString hamQthPasswordKey;
    bool qrzPasswordPending = false;
    bool hamQthPasswordPending = false;
    // The start-up's QRZ log-in waits for the keyring's answer.
    bool qrzLoginOnPassword = false;
    // The HamQTH password is written to the settings at exit only when no
    // keyring took it.
    bool hamQthPasswordInFile = false;
    bool passwordsInFilesNoted = false;
    bool stopped = false;
};
