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
#include "records/netrecord.h"

class QCloseEvent;
class QLabel;
class QSettings;
class NetDetails;
class QEvent;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;
class CallBookImport;
class BackgroundWork;
class JobRunner;
class BulkJob;
class ReportFill;
class LookupController;
class CheckInDesk;
class CallSearch;
class Clock;
class QTimer;
class Station;
class Contact;
class CsvWriter;
class SeeLogs;
class SeeFile;
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

    // Net-log report selection.
    int logMonth = 0;
    int logDay = 0;
    int logYear = 0;
    QString logDateText;
    QString logBeginTime;
    QString logEndTime;

    // Update check.
    QString updateServer;  // base address; empty: no update server configured
    QString latestVersion;
    bool manualCheck = false;

    // Secondary windows, created once and kept for the whole run.
    SeeFile *aboutWindow = nullptr;
    SeeLogs *allLogWindow = nullptr;
    SeeFile *preambleWindow = nullptr;
    SeeLogs *dateLogWindow = nullptr;
    SeeLogs *rosterWindow = nullptr;
    SeeLogs *contactsWindow = nullptr;
    SeeLogs *qsoWindow = nullptr;

    // Records beyond the log (records/recordfiles.cpp): the net's band, mode
    // and frequency for its ADIF file.
    QString netBand, netMode, netFrequency;
    NetDetails *netDetailsDialog = nullptr;
    // The net of the net-log selection, or nothing after a box saying why
    // no `what` is written (no check-ins, a bad time, a failed read).
    std::optional<NetRecord> selectedNet(const QString &what);

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

    // Roster files (files/rosterfiles.cpp).
    void loadMember(QString fileName);
    void loadRoster(QString fileName);
    void saveRoster(QString fileName);
    void on_actionLoadRoster_triggered();
    void on_actionSaveRoster_triggered();

    // Contacts and net-log files (files/csvfiles.cpp).
    void on_actionSaveContacts_triggered();
    void on_actionSaveTrelvin_triggered();
    void on_actionLoadContacts_triggered();
    void on_actionLoadTrelvin_triggered();

    // Reports (reports/reports.cpp).
    void showCurrentTrelvin();
    void showTrelvin();
    void showDatabase();
    void showContacts();
    void showRoster();
    void showQsoHistory(QString call, int type);
    void on_actionShow_Net_Log_Select_triggered();
    void on_actionShowClubRoster_triggered();
    void on_actionShowContacts_triggered();
    void on_actionShowTrelvin_triggered();
    void on_actionShow_QSO_History_Log_triggered();

    // Documents (viewer/documents.cpp).
    void on_actionLicense_triggered();
    void on_actionGettingStartedTrelvin_triggered();
    void on_actionShortcut_Keys_triggered();
    void on_actionChange_Log_triggered();
    void on_actionEnvironment_triggered();
    void on_actionShow_Error_Log_triggered();
    void on_actionPreamble_triggered();

    // Net records (records/recordfiles.cpp).
    void on_actionSaveNetAdif_triggered();
    void on_actionSaveIcs309_triggered();
    void on_actionNetDetails_triggered();

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
    // Files and tables up to these sizes are handled at once: they take less
    // than a frame. Larger ones go to a thread of their own.
    static inline qint64 inlineFileBytes = 1'000'000;
    static inline qint64 inlineRows = 10'000;
    // Long reports are filled behind their first screen (reports/reportfill.h);
    // up to this many lines, a report is shown whole at once.
    ReportFill *reportFill = nullptr;
    static inline qint64 inlineReportRows = 5'000;
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
    void readRecordSettings(QSettings &settings);
    void writeRecordSettings(QSettings &settings);
    QString proposedNetFile(const QString &suffix) const;
    void createKeyBindings();
    void recreateMembers();
    // A CSV file that could not be written whole: box and log line, with the
    // system's reason when there is one.
    void reportUnwritableFile(const QString &fileName, const QString &reason = QString());
    void reportUnreadableRoster(const QString &fileName);
    // A load that took no line: the "Nothing Loaded" box and a log line.
    void reportNothingLoaded(const QString &fileName, const QString &reason, const QString &kept);
    // A roster file that could not be read when the club's roster was loaded:
    // it is not overwritten while the roster in memory is empty.
    QString unreadRoster;
    // Writes a CSV file from stored rows: the header, then what `rows` appends.
    bool saveRows(const QString &fileName, const QString &header,
                  const std::function<Storage::Result(CsvWriter &)> &rows);
    void saveTable(Storage::Table table, const QString &fileName);
    void loadTable(Storage::Table table, const QString &fileName);

    // After a menu action or a job, and the boxes they raised: the keyboard
    // goes back where the operator types next. An entry field keeps it;
    // anything else (nothing, the net list, a button) gives it to Call Search.
    void returnFocus();
    void returnFocusAfterMenus();

    // The look-ups (lookup/): QRZ, HamQTH, the station record and its
    // passwords, the roster's QRZ run.
    LookupController *lookups = nullptr;
    void createLookups();

    // The check-in desk (checkin/): the net list, the entry and its dialogs,
    // and Call Search beside it.
    CheckInDesk *desk = nullptr;
    CallSearch *callSearch = nullptr;
    void createCheckInDesk();
    void connectCheckInDesk();
    // The club's own roster file, as the exit sequence writes it.
    void saveClubRoster();
    // Enter in the club field: the roster of the club typed.
    void changeClub();

    // What the clock fields, the identification clock and the records read.
    Clock *clock = nullptr;
    QDateTime clockNow() const;

    bool startupAborted = false;
    // Set once the exit sequence has run: ending the event loop closes the
    // window, which must not save into the closed databases again.
    bool exitDone = false;
};
