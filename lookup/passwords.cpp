#include "lookup/lookupcontroller.h"

#include "app/constants.h"
#include "checkin/textrules.h"
#include "dialogs/station.h"
#include "lookup/hamqthclient.h"
#include "secrets/secretstore.h"
#include "ui_station.h"

#include <QLineEdit>
#include <QSettings>

// The look-ups' side of the keyring: the QRZ password (kept by Contacts.db's
// station row before) and the HamQTH password (kept by the settings before)
// go to the keyring; where no keyring answers, they stay where they were,
// in files only their owner may read.

namespace {

const QLatin1String QrzPrefix("qrz:");
const QLatin1String HamQthPrefix("hamqth:");

QSettings mainSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
}

void setHamQthFilePassword(const QString &password)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Main);
    // Blank rather than removed, as it was for an account without one.
    settings.setValue(Trel::Key::HamQthPassword, password);
}

} // namespace

QString LookupController::qrzSecretKey(const QString &call)
{
    return QrzPrefix + call.toUpper();
}

QString LookupController::hamQthSecretKey(const QString &user)
{
    return HamQthPrefix + user.toLower();
}

void LookupController::fetchQrzPassword(const StationRecord &station)
{
    qrzPasswordKey.clear();
    qrzPasswordPending = false;
    if (station.call.isEmpty())
        return;
    qrzPasswordKey = qrzSecretKey(station.call);
    if (!station.passwd.isEmpty()) {
        // An older copy, or a run without a keyring, left it in the file:
        // the keyring takes it over and the column is blanked.
        secrets->write(qrzPasswordKey, station.passwd);
        return;
    }
    qrzPasswordPending = true;
    secrets->read(qrzPasswordKey);
}

void LookupController::fetchHamQthPassword()
{
    hamQthPasswordKey.clear();
    hamQthPasswordPending = false;
    if (hamqth->user().isEmpty())
        return;
    hamQthPasswordKey = hamQthSecretKey(hamqth->user());
    if (!hamqth->password().isEmpty()) {
        secrets->write(hamQthPasswordKey, hamqth->password());
        return;
    }
    hamQthPasswordPending = true;
    secrets->read(hamQthPasswordKey);
}

void LookupController::passwordRead(const QString &key, const QString &secret, int outcome, const QString &reason)
{
    // An answer that comes after the exit sequence finds the files closed.
    if (stopped)
        return;
    if (outcome == SecretStore::NoKeyring)
        emit errorLine("The keyring did not answer (" + reason + "); the password of "
                       + key.section(':', 0, 0).toUpper() + " is not known.");
    if (key == qrzPasswordKey && qrzPasswordPending) {
        qrzPasswordPending = false;
        QLineEdit *field = w.station->ui->pwd;
        // What the operator typed meanwhile wins.
        if (outcome == SecretStore::Done && field->text().isEmpty() && !field->isModified())
            setClipped(field, secret);
        if (qrzLoginOnPassword) {
            qrzLoginOnPassword = false;
            connectQrz();
        }
    }
    if (key == hamQthPasswordKey && hamQthPasswordPending) {
        hamQthPasswordPending = false;
        if (outcome == SecretStore::Done && hamqth->password().isEmpty()) {
            hamqth->setCredentials(hamqth->user(), secret);
            QLineEdit *field = w.station ? w.station->ui->hamqthPwd : nullptr;
            if (field && field->text().isEmpty() && !field->isModified())
                setClipped(field, secret);
        }
    }
}

void LookupController::passwordWritten(const QString &key, const QString &secret, int outcome, const QString &reason)
{
    if (stopped)
        return;
    const bool kept = outcome == SecretStore::Done;
    if (key.startsWith(QrzPrefix)) {
        const std::optional<StationRecord> station = storage.contacts().station();
        const QString inFile = station ? station->passwd : QString();
        const QString wanted = kept ? QString() : secret;
        if (station && inFile != wanted)
            host.stored(storage.contacts().setStationPassword(wanted), QStringLiteral("Saving the QRZ password"));
    } else if (key.startsWith(HamQthPrefix)) {
        hamQthPasswordInFile = !kept && !secret.isEmpty();
        setHamQthFilePassword(kept ? QString() : secret);
    }
    if (!kept && !secret.isEmpty())
        keepPasswordsInFiles(reason);
}

void LookupController::keepPasswordsInFiles(const QString &reason)
{
    const QString settingsFile = mainSettings().fileName();
    for (const QString &path : Secrets::restrictToOwner(host.dataDir(), settingsFile))
        emit errorLine("Cannot make '" + path + "' readable by its owner only.");
    if (passwordsInFilesNoted)
        return;
    passwordsInFilesNoted = true;
    emit errorLine("No keyring answered (" + reason + "): the passwords are stored unencrypted in '" + host.dataDir()
                   + "/" + Trel::ContactsDb + "' and '" + settingsFile + "', readable by their owner only.");
}
