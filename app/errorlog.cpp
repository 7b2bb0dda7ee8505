#include "app/constants.h"
#include "app/logging.h"
#include "app/trelvin.h"
#include "viewer/documentscontroller.h"

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

    // An open Error Log view follows the file; none before start-up made it.
    if (documents)
        documents->errorLogged(line, written, errorLogFile.fileName(), errorLogFile.isOpen());
}

