#include "app/folders.h"

#include "app/constants.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// The layout that scripts/run.sh stages: <dir>/../Programs/Trelvin/{Data,Info}.
// The paths are spelled as they always were, so the messages that name them
// stay the same.
Folders::Found besideOf(const QString &dir)
{
    QDir parentDir(dir);
    parentDir.cdUp();
    return {parentDir.path() + Trel::DataSubdir, parentDir.path() + Trel::InfoSubdir, false};
}

bool hasLayout(const Folders::Found &found)
{
    return QFileInfo(found.dataDir).isDir();
}
} // namespace

Folders::Found Folders::find(const QString &workingDir, const QString &programDir, const QString &userDataDir)
{
    const Found atWork = besideOf(workingDir);
    if (hasLayout(atWork))
        return atWork;

    if (!programDir.isEmpty()) {
        const Found atProgram = besideOf(programDir);
        if (hasLayout(atProgram))
            return atProgram;

        // /usr/bin/Trelvin beside /usr/share/trelvin/Info.
        const QDir bin(programDir);
        const QString sharedInfo = QDir::cleanPath(bin.absolutePath() + "/../share/trelvin/Info");
        if (bin.dirName() == QLatin1String("bin") && !userDataDir.isEmpty() && QFileInfo(sharedInfo).isDir())
            return {QDir::cleanPath(userDataDir), sharedInfo, true};
    }
    return atWork;
}

bool Folders::preparePerUser(const Found &found, const QString &dataDir)
{
    if (!found.perUser || dataDir != found.dataDir || QFileInfo(dataDir).isDir())
        return true;
    if (!QDir().mkpath(dataDir))
        return false;
    // A missing sample is no reason to refuse the directory.
    const QString sample = QStringLiteral("PREAMBLE-") + Trel::DefaultClub + ".txt";
    QFile::copy(found.infoDir + "/" + sample, dataDir + "/" + sample);
    return true;
}
