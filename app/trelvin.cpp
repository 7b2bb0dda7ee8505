#include "app/trelvin.h"

#include "app/clock.h"
#include "app/constants.h"
#include "app/errorlog.h"
#include "app/settings.h"
#include "app/themecontroller.h"
#include "app/themes.h"
#include "attendance/attendancecontroller.h"
#include "attendance/attendancewindow.h"
#include "callbook/callbookloader.h"
#include "checkin/callsearch.h"
#include "checkin/checkindesk.h"
#include "checkin/textrules.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "files/filescontroller.h"
#include "jobs/background.h"
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

Trelvin::Trelvin(QWidget *parent) : QMainWindow(parent), ui(new Ui::Trelvin)
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
    createAttendance();
    QList<QWidget *> windows{desk->stationDialog(), desk->contactDialog(), attendance->window()};
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
    createNetMap();
    // Its Setup entry comes after the club hub's.
    createPastNet();
    returnFocusAfterMenus();

    setupDbMemory();
    initWindows();

    qApp->installEventFilter(appSettings);

    ui->search->setFocus(Qt::OtherFocusReason);
    clockTimer->start();
    lookups->loginAtStart();
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
    delete netMap;
    delete attendance;
    delete ui;
}

void Trelvin::initWindows()
{
    setupDbFile();
    desk->offerResume();
    pastNet->resumeInterrupted();
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
    netMap->reopenWindow();
    attendance->reopenWindow();

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
    ui->time->setStatusTip(QStringLiteral("Current Time; ") + utc + QStringLiteral(" (")
                           + now.toUTC().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(')'));
    desk->updateIdReminder();
}

QDateTime Trelvin::clockNow() const
{
    return clock->live();
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
    attendance->writeWindowSettings();
    desk->writeWindowSettings();
    netMap->writeWindowSettings();

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
    attendance->stop();
    fileWork->stop();
    // A replaced table not dropped yet goes at the next start.
    files->close();
    jobRunner->stopOwnedBy(files);
    pastNet->end();
    desk->closeNet();
    callBooks->stop();
    storage.close();
    // Everything is written: the next copy may start.
    appSettings->releaseDataDirectory();
    QCoreApplication::quit();
}
