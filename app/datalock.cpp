#include "app/datalock.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QString LockFile = QStringLiteral("Trelvin.lock");
}

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
    if (next->tryLock(0)) {
        lock = std::move(next);
        held = dir;
        heldCanonical = canonical;
        return Held;
    }
    if (next->error() == QLockFile::LockFailedError)
        return InUse;
    release();
    return Failed;
}

void DataLock::release()
{
    lock.reset();
    held.clear();
    heldCanonical.clear();
}
