#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>

// The operator's error log, errorLog.txt in the data directory: one line per
// problem, stamped with the local time, flushed at once so that a line
// survives an abnormal end of the program.
class ErrorLog : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Closes the file in use and opens the log of `dataPath` for appending.
    bool open(const QString &dataPath);
    void close() { file.close(); }
    bool isOpen() const { return file.isOpen(); }
    QString fileName() const { return file.fileName(); }
    // When the last line was written.
    QDateTime lastTime() const { return last; }

public slots:
    void write(const QString &message);

signals:
    // After each line: `written` is false when the file did not take it,
    // so that an open view of the log reads the file again.
    void lineWritten(const QByteArray &line, bool written);

private:
    QFile file;
    QDateTime last;
};
