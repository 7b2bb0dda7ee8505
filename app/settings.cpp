#include "app/constants.h"
#include "app/prompter.h"
#include "app/trelvin.h"
#include "checkin/checkindesk.h"
#include "lookup/lookupcontroller.h"
#include "ui_trelvin.h"

#include <QSettings>
#include <QSignalBlocker>

namespace {
const QString AlreadyRunningTitle = QStringLiteral("Trelvin Already Running");

QString inUseText(const QString &dir)
{
    const QString holder = DataLock::holderOf(dir);
    return "Another copy of Trelvin" + (holder.isEmpty() ? QString() : " (" + holder + ")")
           + "\nis using the data directory\n'" + dir + "'.\n\n";
}

// A copy on another computer sharing the directory cannot be checked from here.
QString staleHint(const QString &dir)
{
    return "\n\nIf no other copy is running, delete\n'" + DataLock::lockFileName(dir) + "'\nand try again.";
}
} // namespace

void Trelvin::readSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Main);

    dataDir.setPath(settings.value(Trel::Key::DataDirectory, dataDir.path()).toString());

    statusTips = settings.value(Trel::Key::StatusTips, 1).toInt();
    {
        const QSignalBlocker blocker(ui->actionStatusTips);
        ui->actionStatusTips->setChecked(statusTips != 0);
    }
    statusTipsFilter = statusTips;

    autoUpdate = settings.value(Trel::Key::AutoUpdate, true).toBool();
    {
        const QSignalBlocker blocker(ui->actionAuto_Update_Check);
        ui->actionAuto_Update_Check->setChecked(autoUpdate);
    }

    theme = settings.value(Trel::Key::Theme, Trel::ThemeDark).toString();
    club = settings.value(Trel::Key::Club, Trel::DefaultClub).toString();
    updateServer = settings.value(Trel::Key::UpdateServer, QString()).toString();
    readRecordSettings(settings);
    // A password put into the string by hand serves this run and leaves the
    // file at the next exit.
    clubServer = withoutPassword(settings.value(Trel::Key::ClubServer, QString()).toString(), &clubPassword);

    if (settings.value(Trel::Key::Exist).toString() == QLatin1String(Trel::Yes)) {
        resize(settings.value(Trel::Key::Size).toSize());
        move(settings.value(Trel::Key::Position).toPoint());
    }
    settings.endGroup();
}

void Trelvin::writeSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Main);
    settings.setValue(Trel::Key::Exist, Trel::Yes);
    settings.setValue(Trel::Key::Size, size());
    settings.setValue(Trel::Key::Position, pos());
    settings.setValue(Trel::Key::DataDirectory, dataDir.path());
    settings.setValue(Trel::Key::StatusTips, statusTips);
    settings.setValue(Trel::Key::AutoUpdate, autoUpdate);
    settings.setValue(Trel::Key::Theme, theme);
    settings.setValue(Trel::Key::Club, club);
    settings.setValue(Trel::Key::UpdateServer, updateServer);
    writeRecordSettings(settings);
    // The look-ups' servers and HamQTH account; none after a start that stopped early.
    if (lookups)
        lookups->writeSettings(settings);
    if (desk)
        desk->writeSettings(settings);
    // Written once there is one: without a club server the file stays as it was.
    if (!clubServer.isEmpty() || settings.contains(Trel::Key::ClubServer))
        settings.setValue(Trel::Key::ClubServer, clubServer);
    settings.endGroup();
}

bool Trelvin::setDatabaseDirectory(QDir dDir)
{
    dataDir = dDir;
    if (!dataDir.exists()) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Error: Cannot Find Data Directory"),
                                      "Directory '" + dataDir.path() + "' is missing.");
        startupAborted = true;
        Prompter::instance()->exitProgram(0);
        return false;
    }

    // Before anything is opened or written: this copy must leave the
    // directory exactly as the running one has it.
    const DataLock::Outcome lock = dataLock.take(dataDir.path());
    if (lock == DataLock::InUse) {
        Prompter::instance()->message(Prompter::Critical, AlreadyRunningTitle,
                                      inUseText(dataDir.path())
                                          + QStringLiteral("This copy closes without changing anything.")
                                          + staleHint(dataDir.path()));
        startupAborted = true;
        Prompter::instance()->exitProgram(0);
        return false;
    }

    errorLogFile.close();
    errorLogFile.setFileName(dataDir.path() + "/" + Trel::ErrorLogFile);
    const bool opened = errorLogFile.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text);
    if (!opened) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                                      "File " + errorLogFile.fileName() + "\nCould not be Opened.\n");
    }
    if (lock == DataLock::Blocked) {
        const QString path = DataLock::lockFileName(dataDir.path());
        Prompter::instance()->message(
            Prompter::Warning, QStringLiteral("Trelvin Lock File Blocked"),
            "'" + path + "'\nis not a file, so Trelvin cannot mark the data directory as in use, "
                "and a second copy of Trelvin would not be stopped.\n\nRemove '" + path
                + "' (after checking that nothing in it is needed); Trelvin makes its lock file at the next start."
                  "\n\nThis copy goes on without the lock.");
        writeError("'" + path + "' is not a file: the data directory is not locked against a second copy.");
    }
    if (lock == DataLock::Failed)
        writeError("Cannot create '" + DataLock::lockFileName(dataDir.path())
                   + "': a second copy of Trelvin on this data directory would not be stopped.");
    return opened;
}

void Trelvin::on_actionSet_Data_Directory_triggered()
{
    // A job still writing into the data directory would finish in the old one.
    if (refuseBulkJob())
        return;
    Prompter *prompter = Prompter::instance();
    QString answer;
    for (;;) {
        answer = prompter->existingDirectory(QStringLiteral("Select Trelvin Data Directory"), dataDir.path());
        if (answer.isEmpty())
            return;
        if (answer == dataDir.path()) {
            prompter->message(Prompter::Information, QStringLiteral("Same Trelvin Data Directory"),
                              QStringLiteral("You have not changed the Trelvin Data Directory."));
            break;
        }
        const auto reply = prompter->message(Prompter::Question, QStringLiteral("New Trelvin Data Directory!"),
                                             "You have selected:\n\n\"" + answer
                                                 + "\"\n\n as the new Trelvin Data Directory.\n\n"
                                                   "Is this what you really want?\n",
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (reply == QMessageBox::Yes)
            break;
    }
    // The directory in use stays locked until the new one is ours.
    if (dataLock.take(answer) == DataLock::InUse) {
        prompter->message(Prompter::Warning, AlreadyRunningTitle,
                          inUseText(answer) + "The data directory stays\n'" + dataDir.path() + "'."
                              + staleHint(answer));
        return;
    }
    dataDir.setPath(answer);
    if (!setDatabaseDirectory(dataDir))
        return;
    // The net kept in the old directory's Contacts.db ends there.
    desk->closeNet();
    initWindows();
}

void Trelvin::on_actionStatusTips_toggled()
{
    statusTips = ui->actionStatusTips->isChecked() ? 1 : 0;
    statusTipsFilter = statusTips;
}

void Trelvin::on_actionAuto_Update_Check_triggered()
{
    autoUpdate = ui->actionAuto_Update_Check->isChecked();
}
