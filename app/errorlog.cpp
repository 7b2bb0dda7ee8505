#include "app/errorlog.h"

#include "app/constants.h"
#include "app/logging.h"

bool ErrorLog::open(const QString &dataPath)
{
    file.close();
    file.setFileName(dataPath + "/" + Trel::ErrorLogFile);
    return file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text);
}

void ErrorLog::write(const QString &message)
{
    last = QDateTime::currentDateTime();
    QByteArray line = last.toString(QStringLiteral("MM/dd/yyyy hh:mm:ss ")).toUtf8();
    line += message.toUtf8();
    line += '\n';
    // Flushed at once so the line survives an abnormal end of the program.
    const bool written = file.write(line) == line.size() && file.flush();
    // The same line for a developer watching the console.
    qCInfo(lcApp).noquote() << "error log:" << message;
    emit lineWritten(line, written);
}
