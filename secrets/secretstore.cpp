#include "secrets/secretstore.h"

#include <qt6keychain/keychain.h>

#include <QDir>
#include <QFileInfo>

namespace {

// A delete of an entry that is not there has done what was asked.
SecretStore::Outcome outcomeOf(const QKeychain::Job *job, bool removing)
{
    switch (job->error()) {
    case QKeychain::NoError:
        return SecretStore::Done;
    case QKeychain::EntryNotFound:
        return removing ? SecretStore::Done : SecretStore::NotFound;
    default:
        return SecretStore::NoKeyring;
    }
}

} // namespace

SecretStore::SecretStore(QObject *parent) : QObject(parent)
{
}

// The jobs have no parent: the keyring library calls back into a job that
// is still waiting for its answer, so a job must outlive the store that
// started it. Each deletes itself once answered.

void SecretStore::read(const QString &key)
{
    auto *job = new QKeychain::ReadPasswordJob(service);
    job->setKey(key);
    connect(job, &QKeychain::Job::finished, this, [this, job, key] {
        const Outcome outcome = outcomeOf(job, false);
        lastAnswered = outcome != NoKeyring;
        emit readFinished(key, outcome == Done ? job->textData() : QString(), outcome,
                          outcome == NoKeyring ? job->errorString() : QString());
    });
    job->start();
}

void SecretStore::write(const QString &key, const QString &secret)
{
    QKeychain::Job *job = nullptr;
    if (secret.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(service);
    } else {
        auto *writing = new QKeychain::WritePasswordJob(service);
        writing->setTextData(secret);
        job = writing;
    }
    job->setKey(key);
    connect(job, &QKeychain::Job::finished, this, [this, job, key, secret] {
        const Outcome outcome = outcomeOf(job, secret.isEmpty());
        lastAnswered = outcome != NoKeyring;
        emit writeFinished(key, secret, outcome, outcome == NoKeyring ? job->errorString() : QString());
    });
    job->start();
}

QStringList Secrets::restrictToOwner(const QString &dataDir, const QString &settingsFile)
{
    const QFile::Permissions ownerFile = QFile::ReadOwner | QFile::WriteOwner;
    const QFile::Permissions ownerDir = ownerFile | QFile::ExeOwner;
    QStringList failed;
    const auto tighten = [&failed](const QString &path, QFile::Permissions permissions) {
        if (!QFile::setPermissions(path, permissions))
            failed.append(path);
    };
    QDir dir(dataDir);
    if (!dataDir.isEmpty() && dir.exists()) {
        tighten(dir.path(), ownerDir);
        // Links are left alone: their targets are not necessarily ours.
        for (const QFileInfo &file : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks))
            tighten(file.filePath(), ownerFile);
    }
    if (!settingsFile.isEmpty() && QFileInfo::exists(settingsFile))
        tighten(settingsFile, ownerFile);
    return failed;
}
