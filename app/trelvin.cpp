#include "app/trelvin.h"

#include "app/clock.h"
#include "app/constants.h"
#include "app/themes.h"
#include "app/errorlog.h"
#include "app/settings.h"
#include "app/themecontroller.h"
#include "callbook/callbookloader.h"
#include "checkin/callsearch.h"
#include "checkin/checkindesk.h"
#include "checkin/textrules.h"
#include "sync/clubhub.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "jobs/background.h"
#include "jobs/bulkjob.h"
#include "jobs/jobrunner.h"
#include "lookup/lookupcontroller.h"
#include "secrets/secretstore.h"
#include "updates/updatecheck.h"
#include "files/filescontroller.h"
#include "records/netrecordscontroller.h"
#include "reports/reportscontroller.h"
#include "reports/seelogs.h"
#include "ui_trelvin.h"
#include "viewer/documentscontroller.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTime>
#include <QTimer>

Trelvin::Trelvin(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::Trelvin)
{
    ui->setupUi(this);
    keepWholeCharacters(this);
    bulkJob = new BulkJob(ui->statusbar, this);
    jobRunner = new JobRunner(this);
    fileWork = new BackgroundWork(jobRunner, this);
    connect(fileWork, &BackgroundWork::progress, bulkJob, qOverload<int>(&BulkJob::setProgress));
    setWindowTitle(QString::fromLatin1(Trel::WindowTitle));

    palettes = new ThemeState(this);
    // Before anything may start a bulk job: a report being filled gives way to it.
    createReports();
    clock = new Clock(this);
    clock->setObjectName(QStringLiteral("clock"));
    createSettings();
    networkManager = new QNetworkAccessManager(this);
    networkManager->setObjectName(QStringLiteral("network"));
    createUpdateCheck();
    readSettings();
    if (!appSettings->start()) {
        startupAborted = true;
        return;
    }

    clockTimer = new QTimer(this);
    clockTimer->setObjectName(QStringLiteral("clockTimer"));
    clockTimer->setInterval(1000);
    connect(clockTimer, &QTimer::timeout, this, &Trelvin::tick);

    const QIcon icon(infoDir().path() + Trel::IconFile);
    setWindowIcon(icon);

    reports->selectRestOfDay(QDateTime::currentDateTime());
    ui->club->setText(club());

    updates->checkAtStart();

    createDocuments();
    createCheckInDesk();
    QList<QWidget *> windows{desk->stationDialog(), desk->contactDialog()};
    windows << documents->windows() << reports->windows();
    for (QWidget *window : std::as_const(windows))
        window->setWindowIcon(icon);

    createFileControllers();
    createLookups();
    connectCheckInDesk();
    connect(updates, &UpdateCheck::done, lookups, &LookupController::retryLogin);
    createThemes();
    createCallBookLoader();

    createKeyBindings();
    connect(ui->actionExit, &QAction::triggered, this, &Trelvin::exitProgram);
    createClubHub();
    returnFocusAfterMenus();

    setupDbMemory();
    initWindows();

    qApp->installEventFilter(appSettings);

    ui->search->setFocus(Qt::OtherFocusReason);
    clockTimer->start();
    lookups->loginAtStart();
}

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
    host.stored = [this](const Storage::Result &result, const QString &operation) {
        return stored(result, operation);
    };
    host.refuseBulkJob = [this] { return refuseBulkJob(); };
    host.beginBulkJob = [this](const QString &name, const QString &message, const QString &cancelTip,
                               const std::function<void()> &cancel, int maximum) {
        return beginBulkJob(name, message, cancelTip, cancel, maximum);
    };
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
    CheckInDesk::Widgets widgets{ui->search,  ui->call,   ui->name,   ui->city,     ui->state,     ui->qso,
                                 ui->relay,   ui->member, ui->delCon, ui->delRec,   ui->checks,    ui->checkins,
                                 ui->time,    ui->statusbar, reports->dateLogWindow()};
    CheckInDesk::Host host;
    host.stored = [this](const Storage::Result &result, const QString &operation) {
        return stored(result, operation);
    };
    host.reportReadFailure = [this](const QString &operation, const Storage::Result &failure) {
        reportReadFailure(operation, failure);
    };
    host.saveClubRoster = [this] { saveClubRoster(); };
    host.clockNow = [this] { return clockNow(); };
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
    CallSearch::Widgets widgets{ui->search, ui->call,    ui->name,  ui->city,    ui->state,
                                ui->qso,    ui->relay,   ui->member, ui->attend, ui->last,
                                ui->bear,   ui->revBear, ui->dist,  ui->delCon,  ui->lb_candidate,
                                ui->callsigns, desk->contactDialog()};
    CallSearch::Host host;
    host.reportReadFailure = [this](const QString &operation, const Storage::Result &failure) {
        reportReadFailure(operation, failure);
    };
    host.callBookRecord = [this](const QString &call, Storage::Result *read) { return callBook().byCall(call, read); };
    host.stationUtcOffset = [this] { return lookups->stationUtcOffset(); };
    host.refineSoon = [this](const QString &call) { lookups->refineSoon(call); };
    host.cancelRefinement = [this] { lookups->cancelRefinement(); };
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
    host.stored = [this](const Storage::Result &result, const QString &operation) {
        return stored(result, operation);
    };
    host.refuseBulkJob = [this] { return refuseBulkJob(); };
    host.runFileWork = [this](const QString &name, const QString &message, const QString &cancelTip, bool onThread,
                              const std::function<void(const std::atomic<bool> &, const std::function<void(int)> &)> &body,
                              const std::function<void()> &done) {
        return runFileWork(name, message, cancelTip, onThread, body, done);
    };
    host.dataDir = [this] { return dataDir().path(); };
    host.club = [this] { return club(); };
    files = new FilesController({ui->statusbar}, storage, host, this);
    files->setObjectName(QStringLiteral("files"));
    connect(files, &FilesController::errorLine, errorLog, &ErrorLog::write);
    connect(files, &FilesController::contactsChanged, reports, &ReportsController::contactsChanged);
    connect(files, &FilesController::rosterChanged, reports, &ReportsController::rosterChanged);
    connect(ui->actionSaveContacts, &QAction::triggered, files, &FilesController::saveContacts);
    connect(ui->actionSaveTrelvin, &QAction::triggered, files, &FilesController::saveNetLog);
    connect(ui->actionLoadContacts, &QAction::triggered, files, &FilesController::loadContacts);
    connect(ui->actionLoadTrelvin, &QAction::triggered, files, &FilesController::loadNetLog);
    connect(ui->actionLoadRoster, &QAction::triggered, files, &FilesController::loadRosterFile);
    connect(ui->actionSaveRoster, &QAction::triggered, files, &FilesController::saveRosterFile);

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

void Trelvin::returnFocusAfterMenus()
{
    // Queued: it runs once the action's slot and any box it raised are done,
    // so a slot that puts the focus somewhere on purpose keeps it there.
    const auto menus = ui->menubar->findChildren<QMenu *>();
    for (const QMenu *menu : menus) {
        const auto actions = menu->actions();
        for (QAction *action : actions) {
            if (!action->isSeparator() && !action->menu())
                connect(action, &QAction::triggered, this, &Trelvin::returnFocus, Qt::QueuedConnection);
        }
    }
    connect(bulkJob, &BulkJob::ended, this, &Trelvin::returnFocus, Qt::QueuedConnection);
}

void Trelvin::returnFocus()
{
    if (exitDone || !isVisible())
        return;
    const QWidget *focus = focusWidget();
    const QList<const QWidget *> entry{ui->search, ui->call, ui->name, ui->city, ui->state, ui->qso, ui->relay};
    if (focus && entry.contains(focus) && focus->isEnabled() && focus->isVisible())
        return;
    // A window the action opened keeps the keyboard: this only marks where
    // it lands when the operator comes back.
    ui->search->setFocus(Qt::OtherFocusReason);
}

Trelvin::~Trelvin()
{
    if (qApp)
        qApp->removeEventFilter(appSettings);
    // Its thread ends before the storage it reports to goes.
    delete clubHub;
    // Every other worker ends before the storage and the windows it works
    // for go.
    jobRunner->stopAll();
    // The secondary windows have no parent; they go with the main window.
    delete documents;
    delete reports;
    delete ui;
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

void Trelvin::initWindows()
{
    setupDbFile();
    desk->offerResume();
    callBooks->open();
    themes->applyChosen();

    desk->showNet();
    if (reports->dateLogWindow()->isVisible())
        reports->showSelectedNetLog();

    files->loadClubMembers();

    // Reopen what was open at the last exit.
    documents->reopenWindows();
    desk->reopenDialogs();
    reports->reopenWindows();

    lookups->showStationDetails();
    // After the net list of this data directory is settled (resumed or new).
    clubHub->start();
}

void Trelvin::tick()
{
    const QDateTime now = clockNow();
    ui->time->setText(now.toString(QStringLiteral("hh:mm:ss")));
    const QString utc = now.toUTC().toString(QStringLiteral("hh:mm:ss")) + QStringLiteral(" UTC");
    ui->utcTime->setText(utc);
    ui->time->setStatusTip(QStringLiteral("Current Time; ") + utc + QStringLiteral(" (") + now.toUTC().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(')'));
    desk->updateIdReminder();
}

QDateTime Trelvin::clockNow() const
{
    return clock->now();
}

void Trelvin::saveClubRoster()
{
    // Written at once (and whole, through a new file renamed into place), so
    // that a crash does not lose a member added or removed during the net.
    files->saveClubRoster();
}

void Trelvin::changeClub()
{
    files->saveClubRoster();
    appSettings->setClub(ui->club->text().toUpper());
    ui->club->setText(club());
    files->loadClubMembers();
    documents->showPreamble();
}

void Trelvin::backHome()
{
    activateWindow();
}

void Trelvin::closeEvent(QCloseEvent *event)
{
    exitProgram();
    event->accept();
}

void Trelvin::exitProgram()
{
    if (exitDone)
        return;
    exitDone = true;
    lookups->stop();
    documents->writeWindowSettings();
    reports->writeWindowSettings();
    desk->writeWindowSettings();

    writeSettings();

    // Members added during the net must outlive the run. Without the
    // database there is nothing to write them from; the operator was told
    // at start, so this goes to the log and exit does not wait on a box.
    const QString roster = files->clubRosterFile();
    if (storage.contactsOpen())
        files->saveRoster(roster);
    else
        writeError("Roster file '" + roster
                   + "' was not written at exit: the contacts database is not open; the file was left as it was.");

    // Whatever is not sent yet stays in the journal for the next run.
    clubHub->stop();
    // Work still writing into the data directory stops first.
    reports->stopFills();
    fileWork->stop();
    desk->closeNet();
    callBooks->stop();
    storage.close();
    // Everything is written: the next copy may start.
    appSettings->releaseDataDirectory();
    QCoreApplication::quit();
}
