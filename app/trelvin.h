#pragma once

#include <QColor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QNetworkReply>
#include <QPalette>
#include <QSqlDatabase>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QTextCharFormat>

#include <atomic>
#include <functional>
#include <optional>

#include "app/datalock.h"
#include "app/themes.h"
#include "data/callbookstore.h"
#include "data/storage.h"
#include "records/idreminder.h"

class QCloseEvent;
class QLabel;
class QSettings;
class QEvent;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;
class CallBookImport;
class BackgroundWork;
class JobRunner;
class BulkJob;
class LookupController;
class FilesController;
class ReportsController;
class NetRecordsController;
class DocumentsController;
class QTimer;
class Station;
class Contact;
class ClubSync;
class ClubServerDialog;
struct SyncNet;

namespace Ui {
class Trelvin;
}

// The main window and hub of the program. Its slots are split by area into
// app/, data/, checkin/, lookup/, dialogs/, files/, reports/ and viewer/.
class Trelvin : public QMainWindow {
    Q_OBJECT

public:
    explicit Trelvin(QWidget *parent = nullptr);
    ~Trelvin() override;

    // False when start-up stopped at a missing data directory.
    bool started() const { return !startupAborted; }

    bool eventFilter(QObject *watched, QEvent *event) override;

    // Both databases and every statement on them.
    Storage &store() { return storage; }

private:
    Ui::Trelvin *ui = nullptr;
    Storage storage;

public:
    // Handles to Storage's two connections.
    QSqlDatabase memoryDb = storage.memory();
    QSqlDatabase fileDb = storage.contactsDb();

    // Themes.
    QPalette lightPalette;
    QPalette darkPalette;
    // The theme's colours, shared with every area that paints.
    ThemeState *palettes = nullptr;
    QString theme;

    // Directories and settings.
    QDir programDir;
    QDir infoDir;
    QDir dataDir;
    QString club;
    int statusTips = 0;
    int statusTipsFilter = 0;
    bool autoUpdate = false;

    // This copy's claim on dataDir, held from start-up to exit (app/settings.cpp).
    DataLock dataLock;

    // Error log.
    QFile errorLogFile;
    QDateTime lastErrorTime;

    QTimer *clockTimer = nullptr;
    int clockInterval = 1000;
    QNetworkAccessManager *networkManager = nullptr;

    // Current entry and net.
    int activeID = 1;
    int entryId = 0;
    int candidateCursor = 0;
    int candidateCount = 0;
    QString currentCall;
    // The net list as last drawn, so that a key rewrites only the lines it
    // changed; the character count tells whether the view still holds it.
    struct DrawnLine {
        QString text;
        QTextCharFormat format;
        bool operator==(const DrawnLine &other) const { return text == other.text && format == other.format; }
    };
    QList<DrawnLine> drawnNet;
    int drawnNetChars = 0;

    // Update check.
    QString updateServer;  // base address; empty: no update server configured
    QString latestVersion;
    bool manualCheck = false;

    // Secondary windows, created once and kept for the whole run.
    Station *stationDialog = nullptr;
    Contact *contactDialog = nullptr;

    // The identification clock (records/recordfiles.cpp).
    IdReminder idReminder;
    bool idReminderOn = true;
    // What the clock fields and the identification clock read; the tests put
    // a fake clock here.
    std::function<QDateTime()> clockNow;
    QLabel *idStatus = nullptr;
    // After a key on the net list: net control's F7 or check-in counts as
    // identifying.
    void noteNetKey(int type, const QString &call);

public slots:
    // Lifecycle (app/trelvin.cpp).
    void initWindows();
    void sysclkTimeout();
    void backHome();
    void on_actionExit_triggered();

    // Settings and data directory (app/settings.cpp).
    void readSettings();
    void writeSettings();
    bool setDatabaseDirectory(QDir dDir);
    void on_actionSet_Data_Directory_triggered();
    void on_actionStatusTips_toggled();
    void on_actionAuto_Update_Check_triggered();

    // Error log (app/errorlog.cpp).
    void writeError(QString message);

    // Themes (app/themes.cpp).
    void switchPalette(QPalette palette);
    void on_actionLightTheme_triggered();
    void on_actionDarkTheme_triggered();

    // Update check (app/updates.cpp).
    void checkUpdates();
    void on_actionCheck_for_Updates_triggered();
    void getVersionFinished(QNetworkReply *reply);
    void downloadFinished(QNetworkReply *reply);
    void sslErrors(const QList<QSslError> &errors);

    // Databases (app/opendatabase.cpp).
    void setupDbFile();
    void setupDbMemory();
    // (Re-)attaches Contacts.db to the in-memory database after it was opened.
    void attachContacts();
    void processLine(QFile &file, QList<QString> &list);

    // Call search and navigation (checkin/search.cpp).
    void on_search_textEdited(QString arg1);
    void displayCandidates();
    void on_search_returnPressed();
    void selectSearch();
    void topContact();
    void previousContact();
    void nextContact();
    void endContact();
    void selectContact(int id);

    // Contact display and bearing (checkin/display.cpp).
    void displayContact(QString call, int type);
    void on_state_textChanged(QString state);
    void bearDist(double lat1, double lon1, double lat2, double lon2, int &bear, int &dist);

    // Net list, roles and check-in (checkin/netlist.cpp).
    void addContact(int type);
    // Draws the net list with the line of entry `marked` marked.
    void displayNet(int marked);
    // At start-up: the Resume Net question when the last run left its net
    // list behind (checkin/resume.cpp).
    void offerResume();
    // Empties the kept net list at the end of a net (exit, another data directory).
    void closeNet();
    // Moves the list's mark to entry `id` and stores it with the net.
    void markEntry(int id);
    QString stationType(QString call);
    void on_relayButton_clicked();
    void on_trafficButton_clicked();
    void on_mobileButton_clicked();
    void on_shortButton_clicked();
    void on_NCSButton_clicked();
    void on_logContactButton_clicked();
    void on_qso_returnPressed();
    void on_relayViaButton_clicked();
    void on_actionShow_Checkin_Data_triggered();

    // Entry editing and removal (checkin/editing.cpp).
    void on_call_returnPressed();
    void on_name_returnPressed();
    void on_city_returnPressed();
    void on_state_returnPressed();
    void on_call_textEdited(QString arg1);
    void on_state_textEdited(QString arg1);
    void on_relay_textEdited(QString arg1);
    void on_name_textEdited(QString arg1);
    void on_city_textEdited(QString arg1);
    void delNet();
    void delCon();
    void on_delRecBut_clicked();

    // Club roster membership (checkin/membership.cpp).
    void enableMemberStatus();
    void disableMemberStatus();
    void on_club_returnPressed();

    // Station and contact dialogs (dialogs/dialogactions.cpp).
    void on_actionStationDetails_triggered();
    void on_actionEditContact_triggered();
    void saveContact();

    // The identification clock (records/recordfiles.cpp).
    void on_actionIdReminder_toggled(bool on);
    // Ctrl+I: net control has just given its call.
    void identify();
    void updateIdReminder();

    // Offline call book (callbook/callbookhub.cpp): the import and its
    // status-bar progress, and CallBook.db opened for look-ups.
    void openCallBook();
    void on_actionLoadFccCallBook_triggered();
    void showCallBookProgress(int permille, const QString &stage);
    void cancelCallBookImport();
    void finishCallBookImport();

public:
    // Storage failures and notes (app/opendatabase.cpp); the log lines name the
    // operation and the driver's text. Status-bar notes last this long.
    static constexpr int StatusMessageMs = 15000;
    // The one answer to a change that Storage could not store: the "Database
    // Write Failed" box once, naming `operation`, and the log line with the
    // driver's text. Returns whether the change was stored.
    bool stored(const Storage::Result &result, const QString &operation);
    // A read of Contacts.db that failed: status bar and error log, so that
    // nothing is taken for "not found".
    void reportReadFailure(const QString &operation, const Storage::Result &failure);
    // The "Database Write Failed" box and its log line; an empty `reason`
    // when the cause was logged already.
    void reportWriteFailure(const QString &operation, const QString &reason);

    // The one bulk job at a time (jobs/jobhub.cpp): its status-bar bar and
    // Cancel, and the work on files and whole tables that runs behind it.
    BulkJob *bulkJob = nullptr;
    // Every worker thread of the program starts, stops and is joined here.
    JobRunner *jobRunner = nullptr;
    BackgroundWork *fileWork = nullptr;
    // While a bulk job runs, a second is refused with a box that names the
    // running one: true then.
    bool refuseBulkJob();
    bool beginBulkJob(const QString &name, const QString &message, const QString &cancelTip,
                      const std::function<void()> &cancel, int maximum = 1000);
    // Runs `body` as the bulk job `name` (on a thread when `onThread`), then
    // `done` on the window's thread once the bar is gone. False, with the
    // box, while another job runs.
    bool runFileWork(const QString &name, const QString &message, const QString &cancelTip, bool onThread,
                     const std::function<void(const std::atomic<bool> &, const std::function<void(int)> &)> &body,
                     const std::function<void()> &done);

    // The offline call book, read on the window's thread; an import writes
    // a new file on a thread of its own.
    CallBookStore callBook;
    CallBookImport *callBookImport = nullptr;
    // Shows the call book's record of `call` in the entry and the Contact
    // dialog (checkin/display.cpp); false when it holds none.
    bool showCallBookRecord(const QString &call);

    // The club server (sync/clubhub.cpp): settings group "Main", key
    // "ClubServer", a libpq connection string; empty: none. The password
    // is kept for this run only.
    QString clubServer;
    QString clubPassword;
    bool clubPasswordAsked = false;
    ClubSync *clubSync = nullptr;
    QLabel *clubStatus = nullptr;
    // "encrypted" or "not encrypted" beside it while online.
    QLabel *clubLink = nullptr;
    ClubServerDialog *clubServerDialog = nullptr;
    void createClubServer();
    // (Re)starts the link with the settings; stops it when there is none.
    void startClubServer();
    // Takes a password out of a connection string: it is kept for this run
    // and never written to the settings.
    static QString withoutPassword(const QString &conninfo, QString *password = nullptr);

public slots:
    void openClubServer();
    void testClubServer(const QString &conninfo);
    void saveClubServer(const QString &conninfo);
    void showClubTrouble(int kind, const QString &reason);
    void offerClubNet(const SyncNet &net);
    void showClubChanges();
    void showClubRosterChanges();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createWindows();
    void createRecordTools();
    void readRecordSettings(QSettings &settings);
    void writeRecordSettings(QSettings &settings);
    void createKeyBindings();
    // One arrow or page key: the net list while there is at most one
    // candidate, the candidates otherwise.
    void step(Storage::Seek seek);

    // After a menu action or a job, and the boxes they raised: the keyboard
    // goes back where the operator types next. An entry field keeps it;
    // anything else (nothing, the net list, a button) gives it to Call Search.
    void returnFocus();
    void returnFocusAfterMenus();

    // The look-ups (lookup/): QRZ, HamQTH, the station record and its
    // passwords, the roster's QRZ run.
    LookupController *lookups = nullptr;
    void createLookups();
    // The CSV files of contacts, net log and roster (files/).
    FilesController *files = nullptr;
    // The report windows (reports/).
    ReportsController *reports = nullptr;
    // The net's ADIF and ICS-309 records and its Net Details (records/).
    NetRecordsController *netRecords = nullptr;
    // The documents and the net script (viewer/).
    DocumentsController *documents = nullptr;
    void createReports();
    void createFileControllers();
    void createDocuments();

    bool startupAborted = false;
    // Set once the exit sequence has run: ending the event loop closes the
    // window, which must not save into the closed databases again.
    bool exitDone = false;
};
