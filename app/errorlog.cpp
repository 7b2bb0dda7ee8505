#include "app/constants.h"
#include "app/logging.h"
#include "app/trelvin.h"
#include "viewer/seefile.h"

void Trelvin::writeError(QString message)
{
    lastErrorTime = QDateTime::currentDateTime();
    QByteArray line = lastErrorTime.toString(QStringLiteral("MM/dd/yyyy hh:mm:ss ")).toUtf8();
    line += message.toUtf8();
    line += '\n';
    // Flushed at once so the line survives an abnormal end of the program.
    const bool written = errorLogFile.write(line) == line.size() && errorLogFile.flush();
    // The same line for a developer watching the console.
    qCInfo(lcApp).noquote() << "error log:" << message;

    if (!aboutWindow || !aboutWindow->isVisible() || aboutWindow->content != QLatin1String(Trel::Content::ErrorLog))
        return;
    // An open view follows the file. Reading it all again for each line froze
    // the window once a few thousand lines came in a row.
    if (written && aboutWindow->shownLog() == errorLogFile.fileName())
        aboutWindow->appendErrorLog(line);
    else if (errorLogFile.isOpen())
        aboutWindow->showErrorLog(dataDir);
}

