#pragma once

#include <QString>

// Where the program finds its information and data directories at start-up.
namespace Folders {

struct Found {
    QString dataDir;
    QString infoDir;
    // The data directory is the user's own per-user one of a system-wide
    // install, which the program may create itself.
    bool perUser = false;
};

// In this order: the Programs/Trelvin layout beside the working directory;
// the same layout beside the executable's folder; for an executable in a
// bin/ whose sibling share/trelvin/Info exists, that information directory
// and `userDataDir` for the data. Failing all three, the layout beside the
// working directory, so that the missing directory is named as before.
Found find(const QString &workingDir, const QString &programDir, const QString &userDataDir);

// On the first start of a system-wide install, creates the per-user data
// directory with the sample net script from the information directory.
// Does nothing when `dataDir` (the one the settings chose) is another
// directory, or when the directory exists. False if it could not be made.
bool preparePerUser(const Found &found, const QString &dataDir);

} // namespace Folders
