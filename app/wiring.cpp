// The window's controllers, each built here with the widgets it drives and
// what it asks of the rest (its Host), and wired to the form's actions,
// buttons, fields and keys and to the other areas' signals; their settings
// read and written in turn.
#include "app/trelvin.h"

#include "app/clock.h"
#include "app/constants.h"
#include "app/errorlog.h"
#include "app/indexbuilder.h"
#include "app/settings.h"
#include "app/themecontroller.h"
#include "attendance/attendancecontroller.h"
#include "attendance/attendancewindow.h"
#include "callbook/callbookloader.h"
#include "checkin/callsearch.h"
#include "checkin/checkindesk.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "files/filescontroller.h"
#include "jobs/bulkjob.h"
#include "jobs/jobrunner.h"
#include "lookup/lookupcontroller.h"
#include "maps/netmapcontroller.h"
#include "pastnet/pastnetcontroller.h"
#include "records/netrecordscontroller.h"
#include "reports/reportscontroller.h"
#include "reports/seelogs.h"
#include "secrets/secretstore.h"
#include "sync/clubhub.h"
#include "ui_trelvin.h"
#include "updates/updatecheck.h"
#include "viewer/documentscontroller.h"

#include <QAction>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>

void Trelvin::createLookups()
{
    LookupController::Widgets widgets;
    widgets.search = ui->search;
    widgets.call = ui->call;
    widgets.name = ui->name;
    widgets.city = ui->city;
    widgets.state = ui->state;
    widgets.callsigns = ui->callsigns;
    widgets.rosterRun = ui->actionQRZClubData;
    widgets.statusBar = ui->statusbar;
    widgets.station = desk->stationDialog();
    widgets.contact = desk->contactDialog();
    LookupController::Host host;
    host.stored = [this](const Storage::Result &result, const QString &operation) { return stored(result, operation); };
    host.refuseBulkJob = [this] { return refuseBulkJob(); };
    host.beginBulkJob = [this](const QString &name, const QString &message, const QString &cancelTip,
                               const std::function<void()> &cancel,
                               int maximum) { return beginBulkJob(name, message, cancelTip, cancel, maximum); };
    host.recreateMembers = [this] { files->emptyRoster(); };
    host.goodPalette = [this] { return palettes->good(); };
    host.alertPalette = [this] { return palettes->alert(); };
    host.dataDir = [this] { return dataDir().path(); };
    lookups = new LookupController(widgets, storage, bulkJob, networkManager, new SecretStore(this), host, this);
    lookups->setObjectName(QStringLiteral("lookups"));
    lookups->readSettings();
    lookups->fetchHamQthPassword();

    connect(lookups, &LookupController::errorLine, errorLog, &ErrorLog::write);
    connect(lookups, &LookupController::rosterChanged, reports, &ReportsController::rosterChanged);
    connect(lookups, &LookupController::rosterChanged, attendance, &AttendanceController::logChanged);
    connect(lookups, &LookupController::contactsChanged, reports, &ReportsController::contactsChanged);
    connect(ui->lookUpButton, &QPushButton::clicked, lookups, &LookupController::lookUpEntry);
    connect(ui->actionQRZClubData, &QAction::triggered, lookups, &LookupController::runRoster);
    connect(desk->contactDialog(), &Contact::getContactSig, lookups, &LookupController::getContact);
    connect(desk->stationDialog(), &Station::connectSig, lookups, &LookupController::connectQrz);
    connect(desk->stationDialog(), &Station::getStationSig, lookups, &LookupController::getStation);
    connect(desk->stationDialog(), &Station::saveStationSig, lookups, &LookupController::saveStation);
}

void Trelvin::createCheckInDesk()
{
    CheckInDesk::Widgets widgets{ui->search, ui->call,     ui->name,   ui->city,      ui->state,
                                 ui->qso,    ui->relay,    ui->member, ui->delCon,    ui->delRec,
                                 ui->checks, ui->checkins, ui->time,   ui->statusbar, reports->dateLogWindow()};
    CheckInDesk::Host host;
    host.stored = [this](const Storage::Result &result, const QString &operation) { return stored(result, operation); };
    host.reportReadFailure = [this](const QString &operation, const Storage::Result &failure) {
        reportReadFailure(operation, failure);
    };
    host.saveClubRoster = [this] { saveClubRoster(); };
    host.clockNow = [this] { return clockNow(); };
    // The past net, built after the club hub, stamps the changes once it is there.
    host.entryTime = [this] { return pastNet ? pastNet->entryTime() : std::optional<QDateTime>(clock->now()); };
    desk = new CheckInDesk(widgets, storage, palettes, host, this);
    desk->setObjectName(QStringLiteral("checkInDesk"));
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Main);
    desk->readSettings(settings);
    {
        const QSignalBlocker blocker(ui->actionIdReminder);
        ui->actionIdReminder->setChecked(desk->idReminderOn());
    }
}

// Call Search needs the look-ups behind it; the desk's buttons, fields,
// actions and keys are wired here, each once.
void Trelvin::connectCheckInDesk()
{
    CallSearch::Widgets widgets{
        ui->search,           ui->call, ui->name, ui->city,    ui->state, ui->qso,    ui->relay,        ui->member,
        ui->attend,           ui->last, ui->bear, ui->revBear, ui->dist,  ui->delCon, ui->lb_candidate, ui->callsigns,
        desk->contactDialog()};
    CallSearch::Host host;
    host.reportReadFailure = [this](const QString &operation, const Storage::Result &failure) {
        reportReadFailure(operation, failure);
    };
    host.callBookRecord = [this](const QString &call, Storage::Result *read) { return callBook().byCall(call, read); };
    host.stationUtcOffset = [this] { return lookups->stationUtcOffset(); };
    host.refineSoon = [this](const QString &call) { lookups->refineSoon(call); };
    host.cancelRefinement = [this] { lookups->cancelRefinement(); };
    host.netDate = [this] { return clock->now().date(); };
    callSearch = new CallSearch(widgets, storage, desk, palettes, host, this);
    callSearch->setObjectName(QStringLiteral("callSearch"));

    connect(desk, &CheckInDesk::errorLine, errorLog, &ErrorLog::write);
    connect(desk, &CheckInDesk::entryDone, callSearch, &CallSearch::selectSearch);
    connect(desk, &CheckInDesk::netChanged, reports, &ReportsController::netLogChanged);
    connect(desk, &CheckInDesk::logChanged, reports, &ReportsController::netLogChanged);
    connect(desk, &CheckInDesk::contactsChanged, reports, &ReportsController::contactsChanged);
    connect(desk, &CheckInDesk::rosterChanged, reports, &ReportsController::rosterChanged);
    connect(callSearch, &CallSearch::contactShown, reports, &ReportsController::entryShown);
    connect(lookups, &LookupController::entryStateShown, callSearch, &CallSearch::stateChanged);
    connect(desk->contactDialog(), &Contact::escapeSig, this, &Trelvin::backHome);
    connect(desk->stationDialog(), &Station::escapeSig, this, &Trelvin::backHome);

    connect(ui->search, &QLineEdit::textEdited, callSearch, &CallSearch::searchEdited);
    connect(ui->search, &QLineEdit::returnPressed, callSearch, &CallSearch::searchReturn);
    connect(ui->state, &QLineEdit::textChanged, callSearch, &CallSearch::stateChanged);
    // Enter in the entry's fields walks on to the next one; in the comment it checks in.
    connect(ui->call, &QLineEdit::returnPressed, ui->name, qOverload<>(&QWidget::setFocus));
    connect(ui->name, &QLineEdit::returnPressed, ui->city, qOverload<>(&QWidget::setFocus));
    connect(ui->city, &QLineEdit::returnPressed, ui->state, qOverload<>(&QWidget::setFocus));
    connect(ui->state, &QLineEdit::returnPressed, ui->qso, qOverload<>(&QWidget::setFocus));
    connect(ui->qso, &QLineEdit::returnPressed, desk, &CheckInDesk::checkIn);
    connect(ui->call, &QLineEdit::textEdited, desk, &CheckInDesk::callEdited);
    connect(ui->name, &QLineEdit::textEdited, desk, &CheckInDesk::nameEdited);
    connect(ui->city, &QLineEdit::textEdited, desk, &CheckInDesk::cityEdited);
    connect(ui->state, &QLineEdit::textEdited, desk, &CheckInDesk::stateEdited);
    connect(ui->relay, &QLineEdit::textEdited, desk, &CheckInDesk::relayEdited);
    connect(ui->club, &QLineEdit::returnPressed, this, &Trelvin::changeClub);

    connect(ui->relayButton, &QPushButton::clicked, desk, &CheckInDesk::relay);
    connect(ui->trafficButton, &QPushButton::clicked, desk, &CheckInDesk::traffic);
    connect(ui->mobileButton, &QPushButton::clicked, desk, &CheckInDesk::mobile);
    connect(ui->shortButton, &QPushButton::clicked, desk, &CheckInDesk::shortTime);
    connect(ui->NCSButton, &QPushButton::clicked, desk, &CheckInDesk::netControl);
    connect(ui->logContactButton, &QPushButton::clicked, desk, &CheckInDesk::logContact);
    connect(ui->relayViaButton, &QPushButton::clicked, desk, &CheckInDesk::relayVia);
    connect(ui->delRecBut, &QPushButton::clicked, desk, &CheckInDesk::deleteLogRecord);

    connect(ui->actionShow_Checkin_Data, &QAction::triggered, desk, &CheckInDesk::showCheckInData);
    connect(ui->actionStationDetails, &QAction::triggered, desk, &CheckInDesk::showStationDetails);
    connect(ui->actionEditContact, &QAction::triggered, desk, &CheckInDesk::editContact);
    connect(ui->actionIdReminder, &QAction::toggled, desk, &CheckInDesk::setIdReminderOn);
}

void Trelvin::createReports()
{
    ReportsController::Widgets widgets;
    widgets.search = ui->search;
    widgets.call = ui->call;
    widgets.year = ui->year;
    widgets.month = ui->month;
    widgets.day = ui->day;
    widgets.beginTime = ui->beginTime;
    widgets.endTime = ui->endTime;
    ReportsController::Host host;
    host.club = [this] { return club(); };
    reports = new ReportsController(widgets, storage, palettes, bulkJob, jobRunner, host, this);
    reports->setObjectName(QStringLiteral("reports"));
    connect(reports, &ReportsController::escaped, this, &Trelvin::backHome);
    connect(ui->actionShow_Net_Log_Select, &QAction::triggered, reports, &ReportsController::openNetLogSelect);
    connect(ui->actionShowTrelvin, &QAction::triggered, reports, &ReportsController::openWholeLog);
    connect(ui->actionShowContacts, &QAction::triggered, reports, &ReportsController::openContacts);
    connect(ui->actionShowClubRoster, &QAction::triggered, reports, &ReportsController::openRoster);
    connect(ui->actionShow_QSO_History_Log, &QAction::triggered, reports, &ReportsController::openQsoHistory);
}

void Trelvin::createFileControllers()
{
    FilesController::Host host;
    host.stored = [this](const Storage::Result &result, const QString &operation) { return stored(result, operation); };
    host.refuseBulkJob = [this] { return refuseBulkJob(); };
    host.runFileWork =
        [this](const QString &name, const QString &message, const QString &cancelTip, bool onThread,
               const std::function<void(const std::atomic<bool> &, const std::function<void(int)> &)> &body,
               const std::function<void()> &done) {
            return runFileWork(name, message, cancelTip, onThread, body, done);
        };
    host.runBeside = [this](const QString &name, const std::function<void(const std::atomic<bool> &)> &work,
                            const std::function<void()> &ended) { jobRunner->start(name, files, work, ended); };
    host.dataDir = [this] { return dataDir().path(); };
    host.club = [this] { return club(); };
    files = new FilesController({ui->statusbar}, storage, host, this);
    files->setObjectName(QStringLiteral("files"));
    connect(files, &FilesController::errorLine, errorLog, &ErrorLog::write);
    connect(files, &FilesController::contactsChanged, reports, &ReportsController::contactsChanged);
    connect(files, &FilesController::rosterChanged, reports, &ReportsController::rosterChanged);
    connect(files, &FilesController::rosterChanged, attendance, &AttendanceController::logChanged);
    connect(ui->actionSaveContacts, &QAction::triggered, files, &FilesController::saveContacts);
    connect(ui->actionSaveTrelvin, &QAction::triggered, files, &FilesController::saveNetLog);
    connect(ui->actionLoadContacts, &QAction::triggered, files, &FilesController::loadContacts);
    connect(ui->actionLoadTrelvin, &QAction::triggered, files, &FilesController::loadNetLog);
    connect(ui->actionLoadRoster, &QAction::triggered, files, &FilesController::loadRosterFile);
    connect(ui->actionSaveRoster, &QAction::triggered, files, &FilesController::saveRosterFile);

    IndexBuilder::Host indexHost;
    indexHost.runFileWork = host.runFileWork;
    indexHost.jobRunning = [this] { return bulkJob->running(); };
    indexBuilder = new IndexBuilder({ui->statusbar}, storage, indexHost, this);
    indexBuilder->setObjectName(QStringLiteral("indexBuilder"));
    connect(indexBuilder, &IndexBuilder::errorLine, errorLog, &ErrorLog::write);

    NetRecordsController::Widgets widgets;
    widgets.year = ui->year;
    widgets.month = ui->month;
    widgets.day = ui->day;
    widgets.beginTime = ui->beginTime;
    widgets.endTime = ui->endTime;
    widgets.statusBar = ui->statusbar;
    widgets.window = this;
    NetRecordsController::Host recordHost;
    recordHost.dataDir = [this] { return dataDir().path(); };
    recordHost.club = [this] { return club(); };
    recordHost.clockNow = [this] { return clockNow(); };
    netRecords = new NetRecordsController(widgets, storage, recordHost, this);
    netRecords->setObjectName(QStringLiteral("netRecords"));
    netRecords->readSettings();
    connect(netRecords, &NetRecordsController::errorLine, errorLog, &ErrorLog::write);
    connect(ui->actionSaveNetAdif, &QAction::triggered, netRecords, &NetRecordsController::saveAdif);
    connect(ui->actionSaveIcs309, &QAction::triggered, netRecords, &NetRecordsController::saveIcs309);
    connect(ui->actionNetDetails, &QAction::triggered, netRecords, &NetRecordsController::editNetDetails);
}

void Trelvin::createDocuments()
{
    DocumentsController::Host host;
    host.infoDir = [this] { return infoDir(); };
    host.dataDir = [this] { return dataDir(); };
    host.club = [this] { return club(); };
    host.activateMain = [this] { activateWindow(); };
    documents = new DocumentsController({ui->search, ui->call}, host, this);
    documents->setObjectName(QStringLiteral("documents"));
    connect(documents, &DocumentsController::errorLine, errorLog, &ErrorLog::write);
    connect(documents, &DocumentsController::escaped, this, &Trelvin::backHome);
    connect(ui->actionLicense, &QAction::triggered, documents, &DocumentsController::showLicense);
    connect(ui->actionGettingStartedTrelvin, &QAction::triggered, documents, &DocumentsController::showGettingStarted);
    connect(ui->actionShortcut_Keys, &QAction::triggered, documents, &DocumentsController::showShortcutKeys);
    connect(ui->actionChange_Log, &QAction::triggered, documents, &DocumentsController::showChangeLog);
    connect(ui->actionEnvironment, &QAction::triggered, documents, &DocumentsController::showEnvironment);
    connect(ui->actionShow_Error_Log, &QAction::triggered, documents, &DocumentsController::showErrorLog);
    connect(ui->actionPreamble, &QAction::triggered, documents, &DocumentsController::showPreamble);
}

void Trelvin::createAttendance()
{
    AttendanceController::Host host;
    host.today = [this] { return clockNow().date(); };
    host.dataDir = [this] { return dataDir().path(); };
    host.club = [this] { return club(); };
    attendance = new AttendanceController(storage, jobRunner, host, this);
    attendance->setObjectName(QStringLiteral("attendance"));
    connect(attendance, &AttendanceController::errorLine, errorLog, &ErrorLog::write);
    connect(attendance, &AttendanceController::escaped, this, &Trelvin::backHome);
    connect(ui->actionShowAttendance, &QAction::triggered, attendance, &AttendanceController::open);
    connect(desk, &CheckInDesk::logChanged, attendance, &AttendanceController::logChanged);
    connect(desk, &CheckInDesk::rosterChanged, attendance, &AttendanceController::logChanged);
    // A net log or roster loaded from a file ends as a bulk job.
    connect(bulkJob, &BulkJob::ended, attendance, &AttendanceController::logChanged);
    connect(appSettings, &Settings::dataDirectoryChanged, attendance, &AttendanceController::logChanged);
}

void Trelvin::createKeyBindings()
{
    const auto bind = [this](const QKeySequence &key, auto *receiver, auto slot) {
        auto *shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, receiver, slot);
    };
    bind(QKeySequence(Qt::Key_Escape), callSearch, &CallSearch::selectSearch);
    bind(QKeySequence(Qt::Key_F11), desk, &CheckInDesk::removeFromNet);
    bind(QKeySequence(Qt::Key_F12), desk, &CheckInDesk::deleteContact);
    bind(QKeySequence(Qt::Key_PageUp), callSearch, &CallSearch::topContact);
    bind(QKeySequence(Qt::Key_Up), callSearch, &CallSearch::previousContact);
    bind(QKeySequence(Qt::Key_Down), callSearch, &CallSearch::nextContact);
    bind(QKeySequence(Qt::Key_PageDown), callSearch, &CallSearch::endContact);
    bind(QKeySequence(Qt::CTRL | Qt::Key_Plus), desk, &CheckInDesk::makeMember);
    bind(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Plus), desk, &CheckInDesk::makeMember);
    bind(QKeySequence(Qt::CTRL | Qt::Key_Minus), desk, &CheckInDesk::dropMember);
    bind(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Minus), desk, &CheckInDesk::dropMember);
    bind(QKeySequence(Qt::CTRL | Qt::Key_I), desk, &CheckInDesk::identify);
}

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
        if (pastNet)
            pastNet->end();
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
    widgets.windows << attendance->window();
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
    host.dataDir = [this] { return dataDir().path(); };
    host.pastNet = [this] { return clock->pastNet(); };
    clubHub = new ClubHub(widgets, storage, jobRunner, palettes, host, this);
    clubHub->setObjectName(QStringLiteral("clubHub"));
    clubHub->readSettings();
    connect(clubHub, &ClubHub::errorLine, errorLog, &ErrorLog::write);
    connect(clubHub, &ClubHub::netChanged, desk, qOverload<>(&CheckInDesk::showNet));
    connect(clubHub, &ClubHub::netChanged, reports, &ReportsController::netLogChanged);
    connect(clubHub, &ClubHub::rosterChanged, files, &FilesController::saveClubRoster);
    connect(clubHub, &ClubHub::rosterChanged, reports, &ReportsController::rosterChanged);
    connect(clubHub, &ClubHub::netChanged, attendance, &AttendanceController::logChanged);
    connect(clubHub, &ClubHub::rosterChanged, attendance, &AttendanceController::logChanged);
}

void Trelvin::createNetMap()
{
    NetMapController::Host host;
    host.infoDir = [this] { return infoDir(); };
    host.dataDir = [this] { return dataDir().path(); };
    host.selectCall = [this](const QString &call) {
        // Typed with a blank after it: that call alone, not every longer one.
        const QString typed = call + QLatin1Char(' ');
        ui->search->setText(typed);
        callSearch->searchEdited(typed);
    };
    host.activateMain = [this] { activateWindow(); };
    netMap = new NetMapController({ui->statusbar}, storage, palettes, host, this);
    netMap->setObjectName(QStringLiteral("netMap"));
    netMap->window()->setWindowIcon(windowIcon());
    connect(netMap, &NetMapController::errorLine, errorLog, &ErrorLog::write);
    connect(netMap, &NetMapController::escaped, this, &Trelvin::backHome);
    connect(desk, &CheckInDesk::netChanged, netMap, &NetMapController::refresh);
    connect(desk, &CheckInDesk::contactsChanged, netMap, &NetMapController::refresh);
    connect(clubHub, &ClubHub::netChanged, netMap, &NetMapController::refresh);
    connect(files, &FilesController::contactsChanged, netMap, &NetMapController::refresh);
    connect(lookups, &LookupController::contactsChanged, netMap, &NetMapController::refresh);
    // After the look-ups have stored the station: this station moves.
    connect(desk->stationDialog(), &Station::saveStationSig, netMap, &NetMapController::refresh);
    connect(callSearch, &CallSearch::contactShown, netMap, &NetMapController::contactShown);
    connect(ui->actionShowNetMap, &QAction::triggered, netMap, &NetMapController::showMap);
    connect(ui->actionSaveNetMap, &QAction::triggered, netMap, &NetMapController::saveMap);
}

void Trelvin::createPastNet()
{
    PastNetController::Widgets widgets;
    widgets.setupMenu = ui->menuSetup;
    widgets.window = this;
    widgets.qso = ui->qso;
    widgets.search = ui->search;
    widgets.statusBar = ui->statusbar;
    PastNetController::Host host;
    host.netRunning = [this] { return storage.netLog().netId(Storage::Seek::First).has_value(); };
    host.closeNet = [this] {
        desk->closeNet();
        desk->showNet();
        reports->netLogChanged();
    };
    host.pauseIdReminder = [this](bool paused) { desk->pauseIdReminder(paused); };
    // The selection takes the times after its beginning: a minute early, so
    // that the check-ins at the start are in it (but not the day before).
    host.selectNet = [this](const QDateTime &start) {
        const QDateTime before = start.addSecs(-60);
        reports->selectRestOfDay(before.date() == start.date() ? before : start);
    };
    host.reportFailure = [this](const Storage::Result &result, const QString &operation) { stored(result, operation); };
    pastNet = new PastNetController(widgets, storage, clock, palettes, host, this);
    pastNet->setObjectName(QStringLiteral("pastNet"));
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
