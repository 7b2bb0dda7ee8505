#include "app/constants.h"
#include "app/trelvin.h"
#include "viewer/seefile.h"

void Trelvin::writeError(QString message)
{
    lastErrorTime = QDateTime::currentDateTime();
    QByteArray line = lastErrorTime.toString(QStringLiteral("MM/dd/yyyy hh:mm:ss ")).toUtf8();
    line += message.toUtf8();
    line += '\n';
    // Flushed at once so the line survives an abnormal end of the program.
    errorLogFile.write(line);
    errorLogFile.flush();

    if (aboutWindow && aboutWindow->isVisible() && aboutWindow->content == QLatin1String(Trel::Content::ErrorLog))
        aboutWindow->showErrorLog(dataDir);
}

void Trelvin::logError()
{
    writeError(errorMessage);
}

void Trelvin::aboutError()
{
    writeError(aboutWindow->errorText);
}

void Trelvin::preambError()
{
    writeError(preambleWindow->errorText);
}
