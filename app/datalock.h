#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

// Keeps a second copy of the program off a data directory in use: both
// would rewrite the same roster, database and settings, and the copy that
// exits last would undo the other's work. Only a lock that names a live copy
// of this program on this host counts: one left by a killed copy, an empty or
// garbled file, or one naming another host is stale and taken over at once.
class DataLock {
public:
    enum Outcome {
        Held,    // this copy now holds the directory
        InUse,   // another running copy holds it; the lock held before is kept
        Failed,  // no lock could be made (e.g. a read-only directory); none is held
        Blocked, // something that is not a lock file (a directory) is in its place; none is held
    };

    // Takes the lock of `dir`, giving up the one held before unless the
    // result is InUse. Taking the directory already held is Held at once.
    Outcome take(const QString &dir);
    void release();
    // The directory held, as given to take(); empty when none.
    QString directory() const { return held; }

    static QString lockFileName(const QString &dir);
    // Who holds `dir`, as "process 4242 on 'shack-pc'"; empty when unknown.
    static QString holderOf(const QString &dir);

private:
    std::unique_ptr<QLockFile> lock;
    QString held;
    QString heldCanonical;
};
