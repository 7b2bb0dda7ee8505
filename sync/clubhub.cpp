// The main window's side of the club server: the setting, the dialog, the
// status-bar field and the boxes. The work is ClubSync's and Storage's.
#include "app/logging.h"
#include "app/prompter.h"
#include "app/trelvin.h"
#include "dialogs/clubserver.h"
#include "files/filescontroller.h"
#include "reports/reportscontroller.h"
#include "sync/clubsync.h"
#include "sync/syncworker.h"
#include "ui_trelvin.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>

#include "app/constants.h"

namespace {
const QString BoxTitle = QStringLiteral("Club Server");
} // namespace

void Trelvin::createClubServer()
{
    clubSync = new ClubSync(storage, jobRunner, this);
    clubStatus = new QLabel(this);
    clubStatus->setObjectName(QStringLiteral("clubStatus"));
    clubStatus->hide();
    statusBar()->addPermanentWidget(clubStatus);
    clubLink = new QLabel(this);
    clubLink->setObjectName(QStringLiteral("clubLink"));
    clubLink->hide();
    statusBar()->addPermanentWidget(clubLink);
    connect(clubSync, &ClubSync::statusChanged, this, [this](const QString &text) {
        clubStatus->setText(text);
        clubStatus->setVisible(!text.isEmpty());
        const QString link = clubSync->linkText();
        clubLink->setText(link);
        clubLink->setStatusTip(link.isEmpty() ? QString() : "The link to the club server is " + link + ".");
        clubLink->setVisible(!link.isEmpty());
    });
    connect(clubSync, &ClubSync::trouble, this, &Trelvin::showClubTrouble);
    connect(clubSync, &ClubSync::netOffered, this, &Trelvin::offerClubNet);
    connect(clubSync, &ClubSync::listChanged, this, &Trelvin::showClubChanges);
    connect(clubSync, &ClubSync::rosterChanged, this, &Trelvin::showClubRosterChanges);
    connect(clubSync, &ClubSync::applyFailed, this, [this](const Storage::Result &result) {
        writeError("Database write failed (Club server changes): " + result.error);
    });
    connect(clubSync, &ClubSync::changeSkipped, this, [this](const QString &text) { writeError(text); });
    // Every transaction that journalled a change: off it goes.
    storage.journalWritten = [this] { clubSync->pump(); };

    auto *action = new QAction(QStringLiteral("Club Server..."), this);
    action->setObjectName(QStringLiteral("actionClubServer"));
    action->setStatusTip(QStringLiteral("Share the net with other operators through the club's PostgreSQL server"));
    ui->menuSetup->addAction(action);
    connect(action, &QAction::triggered, this, &Trelvin::openClubServer);

    clubServerDialog = new ClubServerDialog();
    connect(clubServerDialog, &ClubServerDialog::testSig, this, &Trelvin::testClubServer);
    connect(clubSync, &ClubSync::tested, clubServerDialog, [this](const QString &text) {
        clubServerDialog->showResult(text);
        clubServerDialog->testButton->setEnabled(true);
    });
    connect(clubServerDialog, &ClubServerDialog::saveSig, this, &Trelvin::saveClubServer);
}

QString Trelvin::withoutPassword(const QString &conninfo, QString *password)
{
    static const QRegularExpression pair(
        QStringLiteral("(^|\\s)password\\s*=\\s*('(?:[^'\\\\]|\\\\.)*'|\\S*)"));
    QString rest = conninfo;
    QRegularExpressionMatch match = pair.match(rest);
    if (!match.hasMatch())
        return conninfo.trimmed();
    QString value = match.captured(2);
    if (value.startsWith('\'') && value.endsWith('\'') && value.size() >= 2)
        value = value.mid(1, value.size() - 2).replace(QLatin1String("\\'"), QLatin1String("'"))
                    .replace(QLatin1String("\\\\"), QLatin1String("\\"));
    if (password)
        *password = value;
    rest.remove(match.capturedStart(0), match.capturedLength(0));
    return rest.simplified();
}

void Trelvin::startClubServer()
{
    clubSync->stop();
    if (clubServer.trimmed().isEmpty()) {
        qCDebug(lcSync) << "no club server: the journal is off";
        storage.journal().setJournal(false);
        return;
    }
    const Storage::Result journal = storage.journal().setJournal(true);
    if (!journal.ok()) {
        reportWriteFailure(QStringLiteral("Starting the club server's journal"), journal.error);
        return;
    }
    // The connection string may hold a password: it is not logged.
    qCDebug(lcSync) << "starting the club server link," << storage.journal().unsentCount() << "changes unsent";
    clubSync->start(clubServer, clubPassword);
}

void Trelvin::openClubServer()
{
    ClubServerDialog *dialog = clubServerDialog;
    // An older setting is one string: the fields are read out of it.
    dialog->connection->setText(clubServer);
    dialog->showResult(QString());
    dialog->adjustSize();
    // Over the window the operator works in, not wherever the desktop puts it.
    QRect place(QPoint(0, 0), dialog->size());
    place.moveCenter(frameGeometry().center());
    dialog->move(place.topLeft());
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    dialog->host->setFocus(Qt::OtherFocusReason);
}

void Trelvin::testClubServer(const QString &conninfo)
{
    QString password = clubPassword;
    const QString options = withoutPassword(conninfo, &password);
    if (options.isEmpty()) {
        clubServerDialog->showResult(QStringLiteral("No club server: the net is kept on this computer only."));
        return;
    }
    clubServerDialog->showResult(QStringLiteral("Testing..."));
    clubServerDialog->testButton->setEnabled(false);
    clubSync->test(options, password);
}

void Trelvin::saveClubServer(const QString &conninfo)
{
    QString password;
    clubServer = withoutPassword(conninfo, &password);
    // A password typed into the string serves this run; it is not stored.
    if (!password.isEmpty())
        clubPassword = password;
    clubPasswordAsked = false;
    {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
        settings.beginGroup(Trel::Group::Main);
        settings.setValue(Trel::Key::ClubServer, clubServer);
    }
    clubServerDialog->hide();
    startClubServer();
}

void Trelvin::showClubTrouble(int kind, const QString &reason)
{
    writeError("Club server: " + reason);
    if (kind == SyncWorker::Password && clubPassword.isEmpty() && !clubPasswordAsked) {
        clubPasswordAsked = true;
        const QString password = Prompter::instance()->password(
            QStringLiteral("Club Server Password"),
            "The club server asks for a password.\nPassword for\n" + clubServer + ":");
        if (!password.isEmpty()) {
            clubPassword = password;
            clubSync->start(clubServer, clubPassword);
            return;
        }
    }
    // One box while the link has not come up; later drops show in the status bar only.
    if (clubSync->everOnline() || clubSync->troubleShown)
        return;
    clubSync->troubleShown = true;
    QString text;
    switch (kind) {
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

void Trelvin::offerClubNet(const SyncNet &net)
{
    const QDateTime started = QDateTime::fromString(net.started, Qt::ISODateWithMs).toUTC();
    const QString ncs = net.ncs.isEmpty() ? QStringLiteral("Another operator") : net.ncs;
    const QString text = QStringLiteral("%1 is net control of a net on the club server, started %2 UTC, with %3 %4.\n\n"
                                        "Join that net?")
                             .arg(ncs, started.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                             .arg(net.stations)
                             .arg(net.stations == 1 ? QStringLiteral("station") : QStringLiteral("stations"));
    const QMessageBox::StandardButton answer = Prompter::instance()->message(
        Prompter::Question, QStringLiteral("Join Club Net"), text, QMessageBox::Yes | QMessageBox::No,
        QMessageBox::Yes);
    // The list may have been started here while the box was open.
    if (answer == QMessageBox::Yes && !storage.journal().sharedNet() && storage.netLog().listedEntries().isEmpty())
        clubSync->join(net);
}

void Trelvin::showClubChanges()
{
    displayNet(activeID);
    reports->netLogChanged();
}

void Trelvin::showClubRosterChanges()
{
    // Kept in the roster file at once, as the operator's own changes are.
    files->saveClubRoster();
    const QString call = ui->call->text().toUpper();
    if (!call.isEmpty()) {
        const bool member = storage.roster().isMember(call);
        ui->member->setPalette(member ? palettes->good() : palettes->alert());
        ui->member->setText(member ? QStringLiteral("YES") : QStringLiteral("NO"));
    }
    reports->rosterChanged();
}
