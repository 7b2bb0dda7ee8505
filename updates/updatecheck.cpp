#include "updates/updatecheck.h"

#include "app/constants.h"
#include "app/prompter.h"
#include "net/netreply.h"

#include <QAction>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QSettings>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QUrl>

#include <tuple>

namespace {

const char VersionFile[] = "/projects/Trelvin/Trelvin-Version.txt";
const char Maintainer[] = "trelvin-maintainer@example.org";

// Each platform has its own installer folder and kind on the server.
#if defined(Q_OS_WIN)
const char InstallerDir[] = "/projects/Trelvin/Windows";
const char InstallerSuffix[] = "-Qt6.exe";
#elif defined(Q_OS_MACOS)
const char InstallerDir[] = "/projects/Trelvin/macOS";
const char InstallerSuffix[] = "-Qt6.dmg";
#else
const char InstallerDir[] = "/projects/Trelvin/Linux";
const char InstallerSuffix[] = "-Qt6.AppImage";
#endif

struct Version {
    int major = 0;
    int minor = 0;
    int patch = 0;

    bool operator>(const Version &other) const
    {
        return std::tie(major, minor, patch) > std::tie(other.major, other.minor, other.patch);
    }
    bool operator==(const Version &other) const
    {
        return std::tie(major, minor, patch) == std::tie(other.major, other.minor, other.patch);
    }
};

// "2.7.4": numbers that are missing or no numbers count as 0.
Version parseVersion(const QString &text)
{
    const QStringList numbers = text.split(QLatin1Char('.'));
    return {numbers.value(0).toInt(), numbers.value(1).toInt(), numbers.value(2).toInt()};
}

// The version text comes from the server and becomes a local file name; it
// must not lead out of the download folder.
QString installerFileName(const QString &latest)
{
    QString name = latest + QLatin1String(InstallerSuffix);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return name;
}

} // namespace

UpdateCheck::UpdateCheck(const Widgets &form, QNetworkAccessManager *manager, QObject *parent)
    : QObject(parent), widgets(form), network(manager)
{
    connect(widgets.autoCheck, &QAction::triggered, this, &UpdateCheck::setAutoCheck);
}

void UpdateCheck::readSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Main);
    autoUpdate = settings.value(Trel::Key::AutoUpdate, true).toBool();
    {
        const QSignalBlocker blocker(widgets.autoCheck);
        widgets.autoCheck->setChecked(autoUpdate);
    }
    updateServer = settings.value(Trel::Key::UpdateServer, QString()).toString();
}

void UpdateCheck::writeSettings(QSettings &settings) const
{
    settings.setValue(Trel::Key::AutoUpdate, autoUpdate);
    settings.setValue(Trel::Key::UpdateServer, updateServer);
}

void UpdateCheck::setAutoCheck(bool on)
{
    autoUpdate = on;
}

void UpdateCheck::checkAtStart()
{
    if (autoUpdate)
        check();
}

void UpdateCheck::check()
{
    if (updateServer.isEmpty()) {
        if (manualCheck) {
            Prompter::instance()->message(Prompter::Information, QStringLiteral("Check for Updates"),
                                          QStringLiteral("No update server is configured."));
            manualCheck = false;
        }
        return;
    }

    QNetworkReply *reply =
        Net::limitedGet(network, Net::address(updateServer, QLatin1String(VersionFile)), Net::ReplyLimits);
    connect(reply, &QNetworkReply::sslErrors, this, &UpdateCheck::sslErrors);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { versionArrived(reply); });
}

void UpdateCheck::checkNow()
{
    manualCheck = true;
    check();
}

void UpdateCheck::sslErrors(const QList<QSslError> &errors)
{
    // Not ignored: the request fails and the version handler reports it.
    for (const QSslError &error : errors)
        emit errorLine("SSL error: " + error.errorString());
}

void UpdateCheck::versionArrived(QNetworkReply *reply)
{
    Prompter *prompter = Prompter::instance();
    if (!replySucceeded(reply)) {
        const QString failure = replyFailure(reply);
        reply->deleteLater();
        prompter->message(Prompter::Critical, QStringLiteral("Download Failed"),
                          "Download of Trelvin current version number failed.\n" + failure);
        emit errorLine("Download Version Failed: " + failure);
        emit done();
        return;
    }

    latest = QString::fromUtf8(reply->readLine(32)).trimmed();
    reply->deleteLater();

    const QStringList pieces = latest.split(QLatin1Char('-'));
    // Some other product's file: not ours to judge.
    if (pieces.first() != QLatin1String("Trelvin"))
        return;

    const Version published = parseVersion(pieces.value(1));
    const Version running = parseVersion(QString::fromLatin1(Trel::Version));
    if (!(published > running)) {
        if (manualCheck) {
            if (published == running)
                prompter->message(Prompter::Information, QStringLiteral("Trelvin is Up to Date"),
                                  "You are using the latest version:  " + latest
                                      + "\nThank you for keeping up to date!");
            else
                prompter->message(Prompter::Information, QStringLiteral("Trelvin is Prerelease"),
                                  "You are using a prerelease version: Trelvin V" + QLatin1String(Trel::Version)
                                      + "\nPlease report any problems or comments to " + QLatin1String(Maintainer));
            manualCheck = false;
        }
        emit done();
        return;
    }

    const auto answer = prompter->message(
        Prompter::Question, QStringLiteral("New Trelvin Version Available!"),
        "A new program version is available for download and installation.\nYou can manually install the program "
        "after it is downloaded.\n\nDo you want to download this new version?\n"
            + latest,
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes) {
        emit done();
        return;
    }

    // The download handler logs in again when it is done.
    const QString installer = QString::fromLatin1(InstallerDir) + "/" + latest + QLatin1String(InstallerSuffix);
    QNetworkReply *download = Net::limitedGet(network, Net::address(updateServer, installer), Net::DownloadLimits);
    connect(download, &QNetworkReply::finished, this, [this, download] { downloadArrived(download); });
}

void UpdateCheck::downloadArrived(QNetworkReply *reply)
{
    Prompter *prompter = Prompter::instance();
    if (!replySucceeded(reply)) {
        const QString failure = replyFailure(reply);
        prompter->message(Prompter::Critical, QStringLiteral("Download Failed"),
                          "Download of current version Trelvin failed.\n" + failure);
        emit errorLine("Download Trelvin Failed: " + failure);
    } else {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        QDir().mkpath(folder);
        const QString path = folder + "/" + installerFileName(latest);
        // Written aside and renamed at the end: a failed write leaves no
        // half installer under the final name.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            prompter->message(Prompter::Critical, QStringLiteral("Can't Open File for Writing"),
                              "File " + path + "\nCould not be Opened for writing.\n");
        } else {
            const QByteArray package = reply->readAll();
            // commit() alone may report success when only the last buffered
            // write failed: flush and check before and after it.
            bool written =
                file.write(package) == package.size() && file.flush() && file.error() == QFileDevice::NoError;
            QString why = file.errorString();
            if (written) {
                written = file.commit() && file.error() == QFileDevice::NoError;
                why = file.errorString();
            }
            if (!written) {
                prompter->message(Prompter::Critical, QStringLiteral("Can't Write File"),
                                  "File " + latest + "\nCould not be wrtten to download folder.\n");
                emit errorLine("Download Trelvin Failed: " + path + " could not be written: " + why);
            } else {
                prompter->message(Prompter::Information, QStringLiteral("Trelvin Program Downloaded"),
                                  "The latest program version: " + latest
                                      + "\n has been downloaded to your download folder.\nPlease install the "
                                        "program from your download folder.");
            }
        }
    }
    reply->deleteLater();
    emit done();
}
