#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QSaveFile>
#include <QString>

class StoredRow;

// Why nothing may be saved to `fileName`, or an empty text when a save may
// go there. A name that stands for anything but a regular file (a device, a
// FIFO, a socket, a directory) is never replaced: a file renamed over it
// would take its place, for root even over /dev/full.
QString unsaveableTarget(const QString &fileName);

// A file that could not be written whole: the "Can't Open File" box.
// Returns the error-log line, with the system's reason when there is one.
QString reportUnwritableFile(const QString &fileName, const QString &reason = QString());

// Writes `bytes` as the whole file, or leaves the old one as it was; false
// with the reason in `error` when any write failed.
bool writeWholeFile(const QString &fileName, QByteArrayView bytes, QString &error);

// CSV records in csvRecord's form, built in memory: a stretch of a file
// that one thread makes while another writes the stretch before it.
class CsvText {
public:
    // One value of a record, UTF-8: quoted, inner quotes doubled, line breaks
    // turned into blanks.
    void appendField(QByteArrayView value, bool first);
    void endRecord();
    // A whole record: the columns of a stored row from `first` on.
    void appendRecord(const StoredRow &row, int first);
    void appendBytes(QByteArrayView bytes);
    QByteArrayView bytes() const { return QByteArrayView(buffer.constData(), used); }
    qsizetype size() const { return used; }
    void clear() { used = 0; }

private:
    // Where `bytes` more can be written; `used` grows by what was written.
    char *room(qsizetype bytes);
    QByteArray buffer;
    qsizetype used = 0;
};

// A CSV file written record by record in csvRecord's form, through a
// temporary file that replaces the old one only when every byte was written:
// a failed write never leaves a half file behind. The text goes out in
// slices, never whole in memory.
class CsvWriter {
public:
    explicit CsvWriter(const QString &fileName);
    // Text as it stands, e.g. the header line.
    void append(const QString &text);
    // One value of a record, UTF-8: quoted, inner quotes doubled, line breaks
    // turned into blanks.
    void appendField(QByteArrayView value, bool first);
    void endRecord();
    // A whole record: the columns of a stored row from `first` on.
    void appendRecord(const StoredRow &row, int first);
    // Records made elsewhere, written out at once.
    void appendText(const CsvText &text);
    // Whether the file now holds everything appended; when not, the old file
    // is left as it was.
    bool commit();
    // The system's reason of a failed write or commit.
    QString errorString() const { return failure; }

private:
    void flush();
    void write(QByteArrayView bytes);
    void startWriteBack();

    QSaveFile file;
    CsvText pending;
    qint64 offset = 0;      // bytes in the file
    qint64 writtenBack = 0; // bytes handed to the disk early
    bool failed = false;
    QString failure;
};
