#include "app/settings.h"

#include "app/constants.h"
#include "app/errorlog.h"
#include "app/folders.h"
#include "app/prompter.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QSettings>
#include <QSignalBlocker>
#include <QStandardPaths>

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

Settings::Settings(const Widgets &form, ErrorLog *errorLog, Host hooks, QObject *parent)
    : QObject(parent), widgets(form), log(errorLog), host(std::move(hooks))
{
    connect(widgets.statusTips, &QAction::toggled, this, &Settings::setStatusTips);
}

bool Settings::start()
{
    // Started from a sibling of the "Programs" directory, from anywhere with
    // the executable beside it, or installed system-wide (app/folders.h).
    program = QDir(QDir::currentPath());
    const Folders::Found folders = Folders::find(program.path(), QCoreApplication::applicationDirPath(),
                                                 QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    data = QDir(folders.dataDir);
    info = QDir(folders.infoDir);
    readSettings();
    // A system-wide install keeps the operator's data in the home folder and
    // makes it on first start; a data directory chosen elsewhere is never made.
    Folders::preparePerUser(folders, data.path());
    return useDataDirectory(data.path());
}

void Settings::readSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Main);
    data.setPath(settings.value(Trel::Key::DataDirectory, data.path()).toString());
    tips = settings.value(Trel::Key::StatusTips, 1).toInt() != 0;
    {
        const QSignalBlocker blocker(widgets.statusTips);
        widgets.statusTips->setChecked(tips);
    }
    tipsShown = tips;
    clubName = settings.value(Trel::Key::Club, Trel::DefaultClub).toString();
}

void Settings::writeSettings(QSettings &settings) const
{
    settings.setValue(Trel::Key::DataDirectory, data.path());
    settings.setValue(Trel::Key::StatusTips, tips ? 1 : 0);
    settings.setValue(Trel::Key::Club, clubName);
}

bool Settings::eventFilter(QObject *watched, QEvent *event)
{
    return !tipsShown && watched && event->type() == QEvent::StatusTip;
}

void Settings::setStatusTips(bool on)
{
    tips = on;
    tipsShown = tips;
}

bool Settings::useDataDirectory(const QString &path)
{
    data.setPath(path);
    Prompter *prompter = Prompter::instance();
    if (!data.exists()) {
        prompter->message(Prompter::Critical, QStringLiteral("Error: Cannot Find Data Directory"),
                          "Directory '" + data.path() + "' is missing.");
        prompter->exitProgram(0);
        return false;
    }

    // Before anything is opened or written: this copy must leave the
    // directory exactly as the running one has it.
    const DataLock::Outcome lock = dataLock.take(data.path());
    if (lock == DataLock::InUse) {
        prompter->message(Prompter::Critical, AlreadyRunningTitle,
                          inUseText(data.path()) + QStringLiteral("This copy closes without changing anything.")
                              + staleHint(data.path()));
        prompter->exitProgram(0);
        return false;
    }

    if (!log->open(data.path())) {
        prompter->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                          "File " + log->fileName() + "\nCould not be Opened.\n");
    }
    if (lock == DataLock::Blocked) {
        const QString lockFile = DataLock::lockFileName(data.path());
        prompter->message(
            Prompter::Warning, QStringLiteral("Trelvin Lock File Blocked"),
            "'" + lockFile
                + "'\nis not a file, so Trelvin cannot mark the data directory as in use, "
                  "and a second copy of Trelvin would not be stopped.\n\nRemove '"
                + lockFile
                + "' (after checking that nothing in it is needed); Trelvin makes its lock file at the next start."
                  "\n\nThis copy goes on without the lock.");
        log->write("'" + lockFile + "' is not a file: the data directory is not locked against a second copy.");
    }
    if (lock == DataLock::Failed)
        log->write("Cannot create '" + DataLock::lockFileName(data.path())
                   + "': a second copy of Trelvin on this data directory would not be stopped.");
    return true;
}

QString Settings::askDataDirectory()
{
    Prompter *prompter = Prompter::instance();
    for (;;) {
        const QString answer =
            prompter->existingDirectory(QStringLiteral("Select Trelvin Data Directory"), data.path());
        if (answer.isEmpty())
            return QString();
        if (answer == data.path()) {
            prompter->message(Prompter::Information, QStringLiteral("Same Trelvin Data Directory"),
                              QStringLiteral("You have not changed the Trelvin Data Directory."));
            return answer;
        }
        const auto reply = prompter->message(Prompter::Question, QStringLiteral("New Trelvin Data Directory!"),
                                             "You have selected:\n\n\"" + answer
                                                 + "\"\n\n as the new Trelvin Data Directory.\n\n"
                                                   "Is this what you really want?\n",
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (reply == QMessageBox::Yes)
            return answer;
    }
}

void Settings::chooseDataDirectory()
{
    // A job still writing into the data directory would finish in the old one.
    if (host.refuseBulkJob())
        return;
    const QString answer = askDataDirectory();
    if (answer.isEmpty())
        return;
    // The directory in use stays locked until the new one is ours.
    if (dataLock.take(answer) == DataLock::InUse) {
        Prompter::instance()->message(Prompter::Warning, AlreadyRunningTitle,
                                      inUseText(answer) + "The data directory stays\n'" + data.path() + "'."
                                          + staleHint(answer));
        return;
    }
    // A log that cannot be opened was named in its box; the directory,
    // its lock and its databases still go together, as at start-up.
    if (!useDataDirectory(answer))
        return;
    emit dataDirectoryChanged();
}
