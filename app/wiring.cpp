// The window's side of the areas of app/, updates/, callbook/ and sync/:
// each is built and wired here, its settings read and written in turn.
#include "app/trelvin.h"

#include "app/constants.h"
#include "app/errorlog.h"
#include "app/settings.h"
#include "app/themecontroller.h"
#include "dialogs/contact.h"
#include "jobs/bulkjob.h"
#include "dialogs/station.h"
#include "files/filescontroller.h"
#include "records/netrecordscontroller.h"
#include "reports/reportscontroller.h"
#include "viewer/documentscontroller.h"
#include "callbook/callbookloader.h"
#include "checkin/callsearch.h"
#include "checkin/checkindesk.h"
#include "lookup/lookupcontroller.h"
#include "sync/clubhub.h"
#include "ui_trelvin.h"
#include "updates/updatecheck.h"

#include <QSettings>

void Trelvin::createSettings()
{
    errorLog = new ErrorLog(this);
    errorLog->setObjectName(QStringLiteral("errorLog"));
    connect(errorLog, &ErrorLog::lineWritten, this, &Trelvin::followErrorLog);
    appSettings = new Settings({ui->actionStatusTips}, errorLog, {[this] { return refuseBulkJob(); }}, this);
    appSettings->setObjectName(QStringLiteral("settings"));
    connect(bulkJob, &BulkJob::ended, appSettings, &Settings::restoreStatusTips);
    connect(ui->actionSet_Data_Directory, &QAction::triggered, appSettings, &Settings::chooseDataDirectory);
    connect(appSettings, &Settings::dataDirectoryChanged, this, [this] {
        // The net kept in the old directory's Contacts.db ends there.
        desk->closeNet();
        initWindows();
    });
}

void Trelvin::createUpdateCheck()
{
    updates = new UpdateCheck({ui->actionAuto_Update_Check}, networkManager, this);
    updates->setObjectName(QStringLiteral("updateCheck"));
    updates->readSettings();
    connect(updates, &UpdateCheck::errorLine, errorLog, &ErrorLog::write);
    connect(ui->actionCheck_for_Updates, &QAction::triggered, updates, &UpdateCheck::checkNow);
}

void Trelvin::createThemes()
{
    ThemeController::Widgets widgets;
    widgets.window = this;
    widgets.station = desk->stationDialog();
    widgets.contact = desk->contactDialog();
    widgets.windows = documents->windows() + reports->windows();
    themes = new ThemeController(widgets, palettes, this);
    themes->setObjectName(QStringLiteral("themes"));
    themes->readSettings();
    connect(ui->actionLightTheme, &QAction::triggered, themes, &ThemeController::useLight);
    connect(ui->actionDarkTheme, &QAction::triggered, themes, &ThemeController::useDark);
    // The fields' palettes are set after the colours: the lists are drawn again.
    connect(themes, &ThemeController::switched, desk, qOverload<>(&CheckInDesk::showNet));
    connect(themes, &ThemeController::switched, callSearch, &CallSearch::showCandidates);
}

void Trelvin::createCallBookLoader()
{
    CallBookLoader::Host host;
    host.beginBulkJob = [this](const QString &name, const QString &message, const QString &cancelTip,
                               const std::function<void()> &cancel) {
        return beginBulkJob(name, message, cancelTip, cancel);
    };
    host.dataDir = [this] { return dataDir().path(); };
    host.infoDir = [this] { return infoDir().path(); };
    callBooks = new CallBookLoader({ui->statusbar}, bulkJob, jobRunner, host, this);
    callBooks->setObjectName(QStringLiteral("callBookLoader"));
    connect(callBooks, &CallBookLoader::errorLine, errorLog, &ErrorLog::write);
    connect(ui->actionLoadFccCallBook, &QAction::triggered, callBooks, &CallBookLoader::load);
}

void Trelvin::createClubHub()
{
    ClubHub::Widgets widgets;
    widgets.window = this;
    widgets.statusBar = ui->statusbar;
    widgets.setupMenu = ui->menuSetup;
    widgets.call = ui->call;
    widgets.member = ui->member;
    ClubHub::Host host;
    host.reportWriteFailure = [this](const QString &operation, const QString &reason) {
        reportWriteFailure(operation, reason);
    };
    clubHub = new ClubHub(widgets, storage, jobRunner, palettes, host, this);
    clubHub->setObjectName(QStringLiteral("clubHub"));
    clubHub->readSettings();
    connect(clubHub, &ClubHub::errorLine, errorLog, &ErrorLog::write);
    connect(clubHub, &ClubHub::netChanged, desk, qOverload<>(&CheckInDesk::showNet));
    connect(clubHub, &ClubHub::netChanged, reports, &ReportsController::netLogChanged);
    connect(clubHub, &ClubHub::rosterChanged, files, &FilesController::saveClubRoster);
    connect(clubHub, &ClubHub::rosterChanged, reports, &ReportsController::rosterChanged);
}

void Trelvin::readSettings()
{
    QSettings file(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    file.beginGroup(Trel::Group::Main);
    if (file.value(Trel::Key::Exist).toString() == QLatin1String(Trel::Yes)) {
        resize(file.value(Trel::Key::Size).toSize());
        move(file.value(Trel::Key::Position).toPoint());
    }
}

void Trelvin::writeSettings()
{
    QSettings file(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    file.beginGroup(Trel::Group::Main);
    file.setValue(Trel::Key::Exist, Trel::Yes);
    file.setValue(Trel::Key::Size, size());
    file.setValue(Trel::Key::Position, pos());
    appSettings->writeSettings(file);
    updates->writeSettings(file);
    themes->writeSettings(file);
    if (netRecords)
        netRecords->writeSettings(file);
    // The look-ups' servers and HamQTH account; none after a start that stopped early.
    if (lookups)
        lookups->writeSettings(file);
    if (desk)
        desk->writeSettings(file);
    clubHub->writeSettings(file);
}

void Trelvin::writeError(QString message)
{
    errorLog->write(message);
}

void Trelvin::followErrorLog(const QByteArray &line, bool written)
{
    // An open Error Log view follows the file; none before start-up made it.
    if (documents)
        documents->errorLogged(line, written, errorLog->fileName(), errorLog->isOpen());
}

QDir Trelvin::dataDir() const
{
    return appSettings->dataDir();
}

QDir Trelvin::infoDir() const
{
    return appSettings->infoDir();
}

QString Trelvin::club() const
{
    return appSettings->club();
}

const CallBookStore &Trelvin::callBook() const
{
    return callBooks->store();
}
