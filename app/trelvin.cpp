#include "app/trelvin.h"

#include "app/constants.h"
#include "app/folders.h"
#include "app/themes.h"
#include "callbook/callbookimport.h"
#include "checkin/textrules.h"
#include "dialogs/clubserver.h"
#include "sync/clubsync.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "jobs/background.h"
#include "jobs/bulkjob.h"
#include "jobs/jobrunner.h"
#include "files/filescontroller.h"
#include "lookup/lookupcontroller.h"
#include "records/netrecordscontroller.h"
#include "reports/reportscontroller.h"
#include "reports/seelogs.h"
#include "secrets/secretstore.h"
#include "ui_trelvin.h"
#include "viewer/documentscontroller.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QShortcut>
#include <QStandardPaths>
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
    palettes = new ThemeState(this);
    // Before anything may start a bulk job: a report being filled gives way to it.
    createReports();
    connect(bulkJob, &BulkJob::ended, this, [this] { statusTipsFilter = statusTips; });
    setWindowTitle(QString::fromLatin1(Trel::WindowTitle));

    lightPalette = QGuiApplication::palette();
    darkPalette = makeDarkPalette();

    // Started from a sibling of the "Programs" directory, from anywhere with
    // the executable beside it, or installed system-wide (app/folders.h).
    programDir = QDir(QDir::currentPath());
    const Folders::Found folders =
        Folders::find(programDir.path(), QCoreApplication::applicationDirPath(),
                      QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    dataDir = QDir(folders.dataDir);
    infoDir = QDir(folders.infoDir);

    networkManager = new QNetworkAccessManager(this);
    readSettings();
    // A system-wide install keeps the operator's data in the home folder and
    // makes it on first start; a data directory chosen elsewhere is never made.
    Folders::preparePerUser(folders, dataDir.path());
    setDatabaseDirectory(dataDir);
    if (startupAborted)
        return;

    clockInterval = 1000;
    clockTimer = new QTimer(this);
    connect(clockTimer, &QTimer::timeout, this, &Trelvin::sysclkTimeout);

    const QIcon icon(infoDir.path() + Trel::IconFile);
    setWindowIcon(icon);

    reports->selectRestOfDay(QDateTime::currentDateTime());
    ui->club->setText(club);

    if (autoUpdate)
        checkUpdates();

    createWindows();
    createDocuments();
    QList<QWidget *> windows{stationDialog, contactDialog};
    windows << documents->windows() << reports->windows();
    for (QWidget *window : std::as_const(windows))
        window->setWindowIcon(icon);

    connect(contactDialog, &Contact::escapeSig, this, &Trelvin::backHome);
    connect(contactDialog, &Contact::saveContactSig, this, &Trelvin::saveContact);
    connect(stationDialog, &Station::escapeSig, this, &Trelvin::backHome);
    createFileControllers();
    createLookups();

    createKeyBindings();
    createRecordTools();
    createClubServer();
    returnFocusAfterMenus();

    setupDbMemory();
    initWindows();


    qApp->installEventFilter(this);

    ui->search->setFocus(Qt::OtherFocusReason);
    clockTimer->start(clockInterval);
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
    widgets.station = stationDialog;
    widgets.contact = contactDialog;
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
    host.dataDir = [this] { return dataDir.path(); };
    lookups = new LookupController(widgets, storage, bulkJob, networkManager, new SecretStore(this), host, this);
    lookups->setObjectName(QStringLiteral("lookups"));
    lookups->readSettings();
    lookups->fetchHamQthPassword();

    connect(lookups, &LookupController::errorLine, this, &Trelvin::writeError);
    connect(lookups, &LookupController::entryStateShown, this, &Trelvin::on_state_textChanged);
    connect(lookups, &LookupController::rosterChanged, reports, &ReportsController::rosterChanged);
    connect(lookups, &LookupController::contactsChanged, reports, &ReportsController::contactsChanged);
    connect(ui->lookUpButton, &QPushButton::clicked, lookups, &LookupController::lookUpEntry);
    connect(ui->actionQRZClubData, &QAction::triggered, lookups, &LookupController::runRoster);
    connect(contactDialog, &Contact::getContactSig, lookups, &LookupController::getContact);
    connect(stationDialog, &Station::connectSig, lookups, &LookupController::connectQrz);
    connect(stationDialog, &Station::getStationSig, lookups, &LookupController::getStation);
    connect(stationDialog, &Station::saveStationSig, lookups, &LookupController::saveStation);
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
    host.club = [this] { return club; };
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
    host.dataDir = [this] { return dataDir.path(); };
    host.club = [this] { return club; };
    files = new FilesController({ui->statusbar}, storage, host, this);
    files->setObjectName(QStringLiteral("files"));
    connect(files, &FilesController::errorLine, this, &Trelvin::writeError);
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
    recordHost.dataDir = [this] { return dataDir.path(); };
    recordHost.club = [this] { return club; };
    recordHost.clockNow = [this] { return clockNow(); };
    netRecords = new NetRecordsController(widgets, storage, recordHost, this);
    netRecords->setObjectName(QStringLiteral("netRecords"));
    netRecords->readSettings();
    connect(netRecords, &NetRecordsController::errorLine, this, &Trelvin::writeError);
    connect(ui->actionSaveNetAdif, &QAction::triggered, netRecords, &NetRecordsController::saveAdif);
    connect(ui->actionSaveIcs309, &QAction::triggered, netRecords, &NetRecordsController::saveIcs309);
    connect(ui->actionNetDetails, &QAction::triggered, netRecords, &NetRecordsController::editNetDetails);
}

void Trelvin::createDocuments()
{
    DocumentsController::Host host;
    host.infoDir = [this] { return infoDir; };
    host.dataDir = [this] { return dataDir; };
    host.club = [this] { return club; };
    host.activateMain = [this] { activateWindow(); };
    documents = new DocumentsController({ui->search, ui->call}, host, this);
    documents->setObjectName(QStringLiteral("documents"));
    connect(documents, &DocumentsController::errorLine, this, &Trelvin::writeError);
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
        qApp->removeEventFilter(this);
    // Its thread ends before the storage it reports to goes.
    storage.journalWritten = nullptr;
    delete clubSync;
    // Every other worker ends before the storage and the windows it works
    // for go.
    jobRunner->stopAll();
    delete clubServerDialog;
    // The secondary windows have no parent; they go with the main window.
    delete documents;
    delete stationDialog;
    delete contactDialog;
    delete reports;
    delete ui;
}

void Trelvin::createWindows()
{
    stationDialog = new Station();
    stationDialog->readSettings();
    contactDialog = new Contact();
    contactDialog->readSettings();
}

void Trelvin::createKeyBindings()
{
    const auto bind = [this](const QKeySequence &key, void (Trelvin::*slot)()) {
        auto *shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, slot);
    };
    bind(QKeySequence(Qt::Key_Escape), &Trelvin::selectSearch);
    bind(QKeySequence(Qt::Key_F11), &Trelvin::delNet);
    bind(QKeySequence(Qt::Key_F12), &Trelvin::delCon);
    bind(QKeySequence(Qt::Key_PageUp), &Trelvin::topContact);
    bind(QKeySequence(Qt::Key_Up), &Trelvin::previousContact);
    bind(QKeySequence(Qt::Key_Down), &Trelvin::nextContact);
    bind(QKeySequence(Qt::Key_PageDown), &Trelvin::endContact);
    bind(QKeySequence(Qt::CTRL | Qt::Key_Plus), &Trelvin::enableMemberStatus);
    bind(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Plus), &Trelvin::enableMemberStatus);
    bind(QKeySequence(Qt::CTRL | Qt::Key_Minus), &Trelvin::disableMemberStatus);
    bind(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Minus), &Trelvin::disableMemberStatus);
}

void Trelvin::initWindows()
{
    setupDbFile();
    offerResume();
    openCallBook();

    if (theme == QLatin1String(Trel::ThemeLight))
        switchPalette(lightPalette);
    if (theme == QLatin1String(Trel::ThemeDark))
        switchPalette(darkPalette);

    displayNet(activeID);
    if (reports->dateLogWindow()->isVisible())
        reports->showSelectedNetLog();

    files->loadClubMembers();

    // Reopen what was open at the last exit.
    documents->reopenWindows();
    if (stationDialog->visibleFlag == QLatin1String(Trel::Yes))
        on_actionStationDetails_triggered();
    if (contactDialog->visibleFlag == QLatin1String(Trel::Yes))
        on_actionEditContact_triggered();
    reports->reopenWindows();

    lookups->showStationDetails();
    // After the net list of this data directory is settled (resumed or new).
    startClubServer();
}

void Trelvin::sysclkTimeout()
{
    const QDateTime now = clockNow ? clockNow() : QDateTime::currentDateTime();
    ui->time->setText(now.toString(QStringLiteral("hh:mm:ss")));
    const QString utc = now.toUTC().toString(QStringLiteral("hh:mm:ss")) + QStringLiteral(" UTC");
    ui->utcTime->setText(utc);
    ui->time->setStatusTip(QStringLiteral("Current Time; ") + utc + QStringLiteral(" (") + now.toUTC().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(')'));
    updateIdReminder();
}

void Trelvin::backHome()
{
    activateWindow();
}

bool Trelvin::eventFilter(QObject *watched, QEvent *event)
{
    return statusTipsFilter == 0 && watched && event->type() == QEvent::StatusTip;
}

void Trelvin::closeEvent(QCloseEvent *event)
{
    on_actionExit_triggered();
    event->accept();
}

void Trelvin::on_actionExit_triggered()
{
    if (exitDone)
        return;
    exitDone = true;
    lookups->stop();
    documents->writeWindowSettings();
    reports->writeWindowSettings();
    stationDialog->writeSettings();
    contactDialog->writeSettings();

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
    clubSync->stop();
    // Work still writing into the data directory stops first.
    reports->stopFills();
    fileWork->stop();
    closeNet();
    if (callBookImport)
        callBookImport->stop();
    storage.close();
    // Everything is written: the next copy may start.
    dataLock.release();
    QCoreApplication::quit();
}
