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

#include "app/constants.h"
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
class CallBookLoader;
class ClubHub;
class ErrorLog;
class Settings;
class ThemeController;
class UpdateCheck;
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

    // Both databases and every statement on them.
    Storage &store() { return storage; }

private:
    Ui::Trelvin *ui = nullptr;
    Storage storage;

public:
    // Handles to Storage's two connections.
    QSqlDatabase memoryDb = storage.memory();
    QSqlDatabase fileDb = storage.contactsDb();

    // The theme's colours, shared with every area that paints.
    ThemeState *palettes = nullptr;

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

public:
    // Storage failures and notes (app/opendatabase.cpp); the log lines name the
    // operation and the driver's text. Status-bar notes last this long.
    static constexpr int StatusMessageMs = Trel::StatusMessageMs;
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

    // The program's folders and settings, its error log, the themes, the
    // update check, the offline call book and the club server: areas of
    // their own (app/, updates/, callbook/, sync/).
    ErrorLog *errorLog = nullptr;
    Settings *appSettings = nullptr;
    ThemeController *themes = nullptr;
    UpdateCheck *updates = nullptr;
    CallBookLoader *callBooks = nullptr;
    ClubHub *clubHub = nullptr;
    void createSettings();
    void createThemes();
    void createUpdateCheck();
    void createCallBookLoader();
    void createClubHub();
    // Each area's settings in turn, the window's own (size, place, net
    // records) among them.
    void readSettings();
    void writeSettings();
    // A line for the operator's error log.
    void writeError(QString message);
    // An open view of the error log follows each line.
    void followErrorLog(const QByteArray &line, bool written);
    QDir dataDir() const;
    QDir infoDir() const;
    QString club() const;
    // The offline call book, read on the window's thread.
    const CallBookStore &callBook() const;

    bool startupAborted = false;
    // Set once the exit sequence has run: ending the event loop closes the
    // window, which must not save into the closed databases again.
    bool exitDone = false;
};
