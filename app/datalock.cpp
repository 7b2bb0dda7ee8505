#include "app/datalock.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {
const QString LockFile = QStringLiteral("Trelvin.lock");
// A lock file names its owner within moments of being made; one that still
// does not after this long was cut short (e.g. by a power loss).
const qint64 UnreadableLockSecs = 10;
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
        // Without an owner to ask, such a file would block every start.
        qint64 pid = 0;
        QString host;
        QString application;
        const QFileInfo file(lockFileName(dir));
        if (!next->getLockInfo(&pid, &host, &application)
            && file.lastModified().secsTo(QDateTime::currentDateTime()) >= UnreadableLockSecs
            && next->removeStaleLockFile())
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
