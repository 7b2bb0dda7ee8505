// The program's side of the club server: the setting, the dialog, the
// status-bar fields and the boxes. The work is ClubSync's and Storage's.
#include "sync/clubhub.h"

#include "app/constants.h"
#include "app/logging.h"
#include "app/prompter.h"
#include "app/themes.h"
#include "dialogs/clubserver.h"
#include "secrets/secretstore.h"
#include "sync/clubjoin.h"
#include "sync/clublink.h"
#include "sync/clubsync.h"
#include "sync/syncworker.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>

namespace {
const QString BoxTitle = QStringLiteral("Club Server");
} // namespace

ClubHub::ClubHub(const Widgets &form, Storage &store, JobRunner *runner, const ThemeState *theme, Host hooks,
                 QObject *parent)
    : QObject(parent), widgets(form), storage(store), palettes(theme), host(std::move(hooks))
{
    link = new ClubSync(storage, runner, this);
    joiner = new ClubJoin(this);
    connect(joiner, &ClubJoin::joined, this, &ClubHub::joined);
    connect(joiner, &ClubJoin::failed, this, &ClubHub::joinFailed);
    secrets = new SecretStore(this);
    connect(secrets, &SecretStore::readFinished, this, &ClubHub::passwordRead);
    connect(secrets, &SecretStore::writeFinished, this, &ClubHub::passwordWritten);
    createStatusFields();
    connectSync();
    createMenuAndDialog();
}

ClubHub::~ClubHub()
{
    // Its thread ends before the storage it reports to goes.
    storage.journalWritten = nullptr;
    delete link;
    delete serverDialog;
}

void ClubHub::createStatusFields()
{
    status = new QLabel(widgets.statusBar);
    status->setObjectName(QStringLiteral("clubStatus"));
    status->hide();
    widgets.statusBar->addPermanentWidget(status);
}

void ClubHub::connectSync()
{
    connect(link, &ClubSync::statusChanged, this, &ClubHub::showStatus);
    connect(link, &ClubSync::trouble, this, &ClubHub::showTrouble);
    connect(link, &ClubSync::netOffered, this, &ClubHub::offerNet);
    connect(link, &ClubSync::listChanged, this, &ClubHub::netChanged);
    connect(link, &ClubSync::rosterChanged, this, &ClubHub::showRosterChanges);
    connect(link, &ClubSync::applyFailed, this, [this](const Storage::Result &result) {
        emit errorLine("Database write failed (Club server changes): " + result.error);
    });
    connect(link, &ClubSync::changeSkipped, this, &ClubHub::errorLine);
    // Every transaction that journalled a change: off it goes.
    storage.journalWritten = [this] { link->pump(); };
}

void ClubHub::createMenuAndDialog()
{
    auto *action = new QAction(QStringLiteral("Club Server..."), widgets.setupMenu);
    action->setObjectName(QStringLiteral("actionClubServer"));
    action->setStatusTip(QStringLiteral("Share the net with other operators through the club's PostgreSQL server"));
    widgets.setupMenu->addAction(action);
    connect(action, &QAction::triggered, this, &ClubHub::openDialog);

    serverDialog = new ClubServerDialog();
    connect(serverDialog, &ClubServerDialog::testSig, this, &ClubHub::test);
    connect(link, &ClubSync::tested, serverDialog, &ClubServerDialog::showTestResult);
    connect(serverDialog, &ClubServerDialog::saveSig, this, &ClubHub::save);
    connect(serverDialog, &ClubServerDialog::joinSig, this, &ClubHub::join);
}

void ClubHub::showStatus(const QString &text)
{
    status->setText(text);
    status->setVisible(!text.isEmpty());
    const QString kind = link->linkText();
    status->setStatusTip(kind.isEmpty() ? QString() : "The link to the club server is " + kind + ".");
    if (link->state() == ClubSync::State::Online)
        keepPasswordOnceOnline();
}

void ClubHub::readSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Main);
    // A password put into the string by hand serves this run and leaves the
    // file at the next exit.
    clubServer = ClubLink::withoutPassword(settings.value(Trel::Key::ClubServer, QString()).toString(), &runPassword);
    passwordFrom = runPassword.isEmpty() ? From::Nowhere : From::ThisRun;
}

void ClubHub::writeSettings(QSettings &settings) const
{
    // Written once there is one: without a club server the file stays as it was.
    if (!clubServer.isEmpty() || settings.contains(Trel::Key::ClubServer))
        settings.setValue(Trel::Key::ClubServer, clubServer);
}

void ClubHub::stop()
{
    pendingKey.clear();
    link->stop();
}

void ClubHub::forgetPassword()
{
    runPassword.clear();
    passwordAsked = false;
    passwordFrom = From::Nowhere;
    keepPassword = false;
}

QString ClubHub::secretKey(const QString &conninfo)
{
    const ClubLink::Fields fields = ClubLink::fields(conninfo);
    return QStringLiteral("club:%1@%2:%3/%4")
        .arg(fields.user.toLower(), fields.host, fields.port.isEmpty() ? QStringLiteral("5432") : fields.port,
             fields.dbname);
}

void ClubHub::start()
{
    link->stop();
    if (clubServer.trimmed().isEmpty()) {
        qCDebug(lcSync) << "no club server: the journal is off";
        storage.journal().setJournal(false);
        return;
    }
    const Storage::Result journal = storage.journal().setJournal(true);
    if (!journal.ok()) {
        host.reportWriteFailure(QStringLiteral("Starting the club server's journal"), journal.error);
        return;
    }
    // The connection string may hold a password: it is not logged.
    qCDebug(lcSync) << "starting the club server link," << storage.journal().unsentCount() << "changes unsent";
    if (runPassword.isEmpty() && !ClubLink::fields(clubServer).user.isEmpty()) {
        // The keyring may first ask the operator to open it: the link
        // starts with its answer, and the net goes on meanwhile.
        pendingKey = secretKey(clubServer);
        showStatus(QStringLiteral("Club server: connecting"));
        secrets->read(pendingKey);
        return;
    }
    link->start(clubServer, runPassword);
}

void ClubHub::passwordRead(const QString &key, const QString &secret, int outcome, const QString &reason)
{
    if (key != pendingKey)
        return;
    pendingKey.clear();
    if (outcome == SecretStore::Done && runPassword.isEmpty()) {
        runPassword = secret;
        passwordFrom = From::Keyring;
    } else if (outcome == SecretStore::NoKeyring) {
        qCInfo(lcSync).noquote() << "no keyring answered for the club server's password:" << reason;
    }
    link->start(clubServer, runPassword);
}

void ClubHub::keepPasswordOnceOnline()
{
    if (!keepPassword)
        return;
    keepPassword = false;
    secrets->write(secretKey(clubServer), runPassword);
}

void ClubHub::passwordWritten(const QString &key, const QString &, int outcome, const QString &reason)
{
    if (outcome != SecretStore::Done)
        emit errorLine("No keyring answered (" + reason + "): the club server's password for " + key.mid(5)
                       + " serves this run only. Paste the club link again at the next start.");
}

void ClubHub::openDialog()
{
    ClubServerDialog *dialog = serverDialog;
    // An older setting is one string: the fields are read out of it.
    dialog->showSetting(clubServer);
    dialog->adjustSize();
    // Over the window the operator works in, not wherever the desktop puts it.
    QRect place(QPoint(0, 0), dialog->size());
    place.moveCenter(widgets.window->frameGeometry().center());
    dialog->move(place.topLeft());
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    // Without a server yet, the operator most likely has a link to paste.
    if (clubServer.isEmpty())
        dialog->focusLink();
    else
        dialog->focusHost();
}

void ClubHub::test(const QString &conninfo)
{
    QString password = runPassword;
    const QString options = ClubLink::withoutPassword(conninfo, &password);
    if (options.isEmpty()) {
        serverDialog->showResult(QStringLiteral("No club server: the net is kept on this computer only."));
        return;
    }
    serverDialog->showTesting();
    link->test(options, password);
}

void ClubHub::save(const QString &conninfo)
{
    QString password;
    const QString setting = ClubLink::withoutPassword(conninfo, &password);
    // A password typed into the string serves this run; it is not stored.
    // A password from the keyring belongs to the setting it was kept for.
    if (password.isEmpty() && setting != clubServer && passwordFrom == From::Keyring)
        forgetPassword();
    keepPassword = false;
    use(setting, password.isEmpty() ? runPassword : password);
}

void ClubHub::use(const QString &setting, const QString &password)
{
    clubServer = setting;
    if (password != runPassword)
        passwordFrom = From::ThisRun;
    runPassword = password;
    passwordAsked = false;
    {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
        settings.beginGroup(Trel::Group::Main);
        settings.setValue(Trel::Key::ClubServer, clubServer);
    }
    serverDialog->hide();
    start();
}

// A refused log-in without a password of this run asks once; true when the
// link starts again with the answer.
bool ClubHub::askPassword(int kind)
{
    if (kind != SyncWorker::Password || passwordFrom == From::ThisRun || passwordAsked)
        return false;
    passwordAsked = true;
    const QString password =
        Prompter::instance()->password(QStringLiteral("Club Server Password"),
                                       "The club server asks for a password.\nPassword for\n" + clubServer + ":");
    if (password.isEmpty())
        return false;
    runPassword = password;
    passwordFrom = From::ThisRun;
    keepPassword = true;
    link->start(clubServer, runPassword);
    return true;
}

void ClubHub::join(const QString &text)
{
    serverDialog->showJoining();
    joiner->join(text, host.dataDir());
}

void ClubHub::joined(const QString &conninfo, const QString &role, const QString &password)
{
    qCInfo(lcSync) << "joined the club server as" << role;
    serverDialog->showSetting(conninfo);
    // The link's password is the operator's now: kept in the keyring once
    // the server has taken it.
    keepPassword = true;
    use(conninfo, password);
    passwordFrom = From::ThisRun;
}

void ClubHub::joinFailed(const QString &reason)
{
    serverDialog->showResult("Not joined: " + reason);
    Prompter::instance()->message(Prompter::Warning, BoxTitle, "The club link cannot be used:\n" + reason);
}

void ClubHub::showTrouble(int kind, const QString &reason)
{
    emit errorLine("Club server: " + reason);
    if (askPassword(kind))
        return;
    // One box while the link has not come up; later drops show in the
    // status bar only. A refusal ends the attempts: it is always told.
    if (link->troubleShown || (link->everOnline() && kind == SyncWorker::Unreachable))
        return;
    link->troubleShown = true;
    QString text;
    switch (kind) {
    case SyncWorker::LoginClosed:
        text = "Your club server no longer accepts " + link->login() + ": ask the club's administrator for a new link";
        break;
    case SyncWorker::Unreachable:
        text = "The club server cannot be reached:\n" + reason
               + "\n\nThe net goes on on this computer; its changes are sent when the server answers.";
        break;
    case SyncWorker::Password:
        text = "The club server refused the log-in:\n" + reason
               + "\n\nThe net goes on on this computer without the club server. Check the user and password "
                 "(Setup > Club Server...).";
        break;
    default:
        text = reason + "\n\nThe net goes on on this computer without the club server.";
        break;
    }
    Prompter::instance()->message(Prompter::Warning, BoxTitle, text);
}

void ClubHub::offerNet(const SyncNet &net)
{
    // Its changes carry the paper log's times: they belong to no live net.
    if (host.pastNet && host.pastNet())
        return;
    const QDateTime started = QDateTime::fromString(net.started, Qt::ISODateWithMs).toUTC();
    const QString ncs = net.ncs.isEmpty() ? QStringLiteral("Another operator") : net.ncs;
    const QString text = QStringLiteral("%1 is net control of a net on the club server, started %2 UTC, with %3 %4.\n\n"
                                        "Join that net?")
                             .arg(ncs, started.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                             .arg(net.stations)
                             .arg(net.stations == 1 ? QStringLiteral("station") : QStringLiteral("stations"));
    const QMessageBox::StandardButton answer =
        Prompter::instance()->message(Prompter::Question, QStringLiteral("Join Club Net"), text,
                                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    // The list may have been started here while the box was open.
    if (answer == QMessageBox::Yes && !storage.journal().sharedNet() && storage.netLog().listedEntries().isEmpty()
        && !(host.pastNet && host.pastNet()))
        link->join(net);
}

void ClubHub::showRosterChanges()
{
    // Kept in the roster file at once, as the operator's own changes are.
    emit rosterChanged();
    const QString call = widgets.call->text().toUpper();
    if (!call.isEmpty()) {
        const bool member = storage.roster().isMember(call);
        widgets.member->setPalette(member ? palettes->good() : palettes->alert());
        widgets.member->setText(member ? QStringLiteral("YES") : QStringLiteral("NO"));
    }
}
