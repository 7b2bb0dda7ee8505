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
class AttendanceController;
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
class FilesController;
class IndexBuilder;
class ReportsController;
class NetRecordsController;
class DocumentsController;
class NetMapController;
class CheckInDesk;
class CallSearch;
class Clock;
class PastNetController;
class QTimer;
class Station;
class Contact;
class CsvWriter;
class SeeLogs;
class SeeFile;

namespace Ui {
class Trelvin;
}

// The main window: it holds the form, builds one controller per area
// (check-in desk, call search, look-ups, files, reports, net records,
// documents, settings, themes, updates, call book, club server), hands each
// the widgets it drives and what it needs of the rest, and connects the
// menu actions, buttons and keys to them.
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
    // What the clock fields show, and the identification clock: every second
    // from the window's timer.
    void tick();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Lifecycle: the windows and databases of the data directory in use,
    // Escape in a secondary window, File > Exit and the window's close.
    void initWindows();
    void backHome();
    void exitProgram();

    // Databases (app/opendatabase.cpp).
    void setupDbFile();
    void setupDbMemory();
    void processLine(QFile &file, QList<QString> &list);

    // Storage failures (app/opendatabase.cpp); the log lines name the
    // operation and the driver's text.
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

    // The theme's colours, shared with every area that paints.
    ThemeState *palettes = nullptr;
    // Ticks once a second for the clock fields.
    QTimer *clockTimer = nullptr;
    QNetworkAccessManager *networkManager = nullptr;

    void createKeyBindings();
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
    // The indexes a big Contacts.db lacked at its opening, built beside the window.
    IndexBuilder *indexBuilder = nullptr;
    // The report windows (reports/).
    ReportsController *reports = nullptr;
    // The net's ADIF and ICS-309 records and its Net Details (records/).
    NetRecordsController *netRecords = nullptr;
    // The documents and the net script (viewer/).
    DocumentsController *documents = nullptr;
    void createReports();
    void createFileControllers();
    void createDocuments();

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

    // A net logged on paper, entered afterwards at its own times (pastnet/).
    PastNetController *pastNet = nullptr;
    void createPastNet();

    // What the clock fields, the identification clock and the records read;
    // and the time changes are stored with.
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
    // The Net Map window (maps/).
    NetMapController *netMap = nullptr;
    void createNetMap();
    // How the nets were attended (attendance/).
    AttendanceController *attendance = nullptr;
    void createAttendance();
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
