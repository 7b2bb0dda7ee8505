#include "app/datalock.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

namespace {
const QString LockFile = QStringLiteral("Trelvin.lock");
} // namespace

QString DataLock::lockFileName(const QString &dir)
{
    return QDir(dir).filePath(LockFile);
}

DataLock::Outcome DataLock::take(const QString &dir)
{
    // Two spellings of one directory must not lock each other out.
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    if (lock && !canonical.isEmpty() && canonical == heldCanonical) {
        held = dir;
        return Held;
    }

    auto next = std::make_unique<QLockFile>(lockFileName(dir));
    // Only a live process keeps its lock: a net can run for hours, so age
    // says nothing.
    next->setStaleLockTime(0);
    bool taken = next->tryLock(0);
    if (!taken && next->error() == QLockFile::LockFailedError) {
        const QFileInfo file(lockFileName(dir));
        if (file.exists() && !file.isFile()) {
            release();
            return Blocked;
        }
        // The lock file's own check already took over a dead process's lock
        // on this host. A file that names nobody (left empty by a power loss,
        // or garbled) or another host cannot be checked and would block every
        // start. Removing it is refused while a live copy holds it: a copy
        // locks the file before it writes its name into it.
        qint64 pid = 0;
        QString host;
        QString application;
        const bool named = next->getLockInfo(&pid, &host, &application);
        const bool elsewhere = named && !host.isEmpty() && host != QSysInfo::machineHostName();
        if ((!named || elsewhere) && next->removeStaleLockFile())
            taken = next->tryLock(0);
        if (!taken && next->error() == QLockFile::LockFailedError)
            return InUse;
    }
    if (taken) {
        lock = std::move(next);
        held = dir;
        heldCanonical = canonical;
        return Held;
    }
    release();
    return Failed;
}

QString DataLock::holderOf(const QString &dir)
{
    QLockFile file(lockFileName(dir));
    qint64 pid = 0;
    QString host;
    QString application;
    if (!file.getLockInfo(&pid, &host, &application))
        return QString();
    return QStringLiteral("process %1 on '%2'").arg(pid).arg(host);
}

void DataLock::release()
{
    lock.reset();
    held.clear();
    heldCanonical.clear();
}
