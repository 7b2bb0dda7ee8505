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
#include "records/idreminder.h"
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

    // Net-log report selection.
    int logMonth = 0;
    int logDay = 0;
    int logYear = 0;
    QString logDateText;
    QString logBeginTime;
    QString logEndTime;

    // Secondary windows, created once and kept for the whole run.
    SeeFile *aboutWindow = nullptr;
    Station *stationDialog = nullptr;
    Contact *contactDialog = nullptr;
    SeeLogs *allLogWindow = nullptr;
    SeeFile *preambleWindow = nullptr;
    SeeLogs *dateLogWindow = nullptr;
    SeeLogs *rosterWindow = nullptr;
    SeeLogs *contactsWindow = nullptr;
    SeeLogs *qsoWindow = nullptr;

    // Records beyond the log (records/recordfiles.cpp): the identification
    // clock and the net's band, mode and frequency for its ADIF file.
    IdReminder idReminder;
    bool idReminderOn = true;
    QString netBand, netMode, netFrequency;
    // What the clock fields and the identification clock read; the tests put
    // a fake clock here.
    std::function<QDateTime()> clockNow;
    QLabel *idStatus = nullptr;
    NetDetails *netDetailsDialog = nullptr;
    // The net of the net-log selection, or nothing after a box saying why
    // no `what` is written (no check-ins, a bad time, a failed read).
    std::optional<NetRecord> selectedNet(const QString &what);
    // After a key on the net list: net control's F7 or check-in counts as
    // identifying.
    void noteNetKey(int type, const QString &call);

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

    // Roster files (files/rosterfiles.cpp).
    void loadMember(QString fileName);
    void loadRoster(QString fileName);
    void saveRoster(QString fileName);
    // The club's own roster file, as the exit sequence writes it.
    void saveClubRoster();
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
    void on_actionIdReminder_toggled(bool on);
    void on_actionNetDetails_triggered();
    // Ctrl+I: net control has just given its call.
    void identify();
    void updateIdReminder();

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

    // Shows the call book's record of `call` in the entry and the Contact
    // dialog (checkin/display.cpp); false when it holds none.
    bool showCallBookRecord(const QString &call);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createWindows();
    void createRecordTools();
    void readRecordSettings(QSettings &settings);
    void writeRecordSettings(QSettings &settings);
    QString proposedNetFile(const QString &suffix) const;
    void createKeyBindings();
    // One arrow or page key: the net list while there is at most one
    // candidate, the candidates otherwise.
    void step(Storage::Seek seek);
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
