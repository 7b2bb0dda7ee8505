#pragma once

#include "data/csv.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <functional>

// A CSV file read line by line for the loaders, in slices of a megabyte so
// that a file of a million lines neither sits in memory whole nor costs a
// system call per line. Each line is split as splitCsvLine splits it; a
// line that is not valid UTF-8 is read as Windows-1252 first.
class CsvInput {
public:
    explicit CsvInput(QIODevice &device);

    // What the file's first slice holds; asked before the first line is read,
    // so that a file that is no text is refused before anything is stored.
    FileText content();

    // Passes over one line without splitting it, e.g. the header.
    bool skipLine();
    // Reads and splits the next line; false at the end of the file.
    bool next();
    // Bytes read so far, lines passed over included.
    qint64 position() const { return consumed; }

    // Whether the line just read was not UTF-8 and was read as Windows-1252.
    bool converted() const { return recoded; }

    qsizetype size() const { return bytes.size(); }
    // A line that holds nothing: no field, or one empty field.
    bool isBlank() const { return size() == 0 || (size() == 1 && isEmpty(0)); }
    // True for a null field and for a quoted empty one.
    bool isEmpty(qsizetype k) const { return bytes.at(k).isEmpty(); }
    // The field's bytes, UTF-8; valid until the next line is read.
    QByteArrayView utf8(qsizetype k) const { return bytes.at(k); }
    // The field as splitCsvLine gives it: null when nothing stood there.
    QString string(qsizetype k) const;
    // The line's fields for Storage, which binds them as QSqlQuery would
    // bind string(k); valid until the next line is read.
    const CsvBytes &fields() const { return bytes; }

private:
    bool nextLine(QByteArrayView &line);
    bool fill();

    QIODevice &device;
    QByteArray chunk;
    qsizetype complete = 0; // chunk bytes up to the last whole line
    LineCutter cutter{QByteArrayView()};
    bool chunkValid = true;
    qint64 consumed = 0;
    bool sniffed = false;
    FileText sniffedText = FileText::Empty;

    bool recoded = false;
    CsvBytes bytes;
};

// The error-log lines about single lines of one loaded file: at most 100 of
// each sort, then one line that counts the rest, so that a wrong file cannot
// flood the log.
class LineLog {
public:
    using Writer = std::function<void(const QString &)>;
    // `skippedSummary` counts the skipped lines not logged: %1 the number,
    // %2 the file name.
    LineLog(Writer writer, const QString &fileName, const QString &skippedSummary);
    void skipped(const QString &text);
    void converted(qint64 lineNumber);
    // Writes the counts; once, after the last line.
    void finish();

private:
    Writer write;
    QString file;
    QString summary;
    qint64 skippedLines = 0;
    qint64 convertedLines = 0;
};

// What the lines of one load came to: enough to say why none was taken.
struct LineTally {
    qint64 taken = 0;
    qint64 filled = 0;    // lines after the header that are not blank
    qint64 otherKind = 0; // of those, lines shaped like another kind of file

    // Why nothing was taken: no line after the header; `otherKindReason`
    // when most lines were of the other kind; else `noValidLine`.
    QString reason(const QString &otherKindReason, const QString &noValidLine) const;
};

// Why a file whose first slice is no readable text is refused.
QString refusalReason(FileText content);
// The text of the "Nothing Loaded" box: the file, why, and what was kept.
QString nothingLoadedText(const QString &fileName, const QString &reason, const QString &kept);
