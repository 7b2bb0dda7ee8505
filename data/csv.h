#pragma once

#include <QByteArrayView>
#include <QStringList>

#include <vector>

// Splits one CSV line into its fields. Quoted fields may hold commas and
// doubled quotes; fields are not trimmed; carriage returns are dropped. The
// last field counts whether or not the line ends with a line feed.
QStringList splitCsvLine(QString line);

// One CSV record as the program writes it: every value between double
// quotes, inner quotes doubled, line breaks turned into blanks (a record is
// always one line), values joined by commas, ended by a line feed.
QString csvRecord(const QStringList &values);

// Whether every byte is below 0x80: such text reads the same as Latin-1
// and as UTF-8.
bool isAscii(QByteArrayView text);

// Bytes that are not UTF-8 read as Windows-1252, the superset of Latin-1 that
// Windows editors and spreadsheets write ("Zoë", "São Paulo" as single bytes).
QString fromWindows1252(QByteArrayView bytes);

// What the first bytes of a file show it to be, judged before any line is
// taken from it.
enum class FileText {
    Empty,
    Text,            // UTF-8, or an 8-bit code such as Windows-1252
    Utf16,           // a byte-order mark, or NUL bytes in every other place
    Binary,          // NUL bytes or control characters no text file holds
    CarriageReturns, // no line feed at all, but carriage returns: one endless line
};
FileText sniffText(QByteArrayView head);

// The same split on the bytes of one UTF-8 line, for files of a million
// lines: the fields land back to back in one reused buffer, and a field with
// no characters at all is null, as splitCsvLine's null QString is (it binds
// NULL where a quoted empty field binds '').
class CsvBytes {
public:
    void split(QByteArrayView line);
    qsizetype size() const { return qsizetype(fields.size()); }
    QByteArrayView at(qsizetype i) const
    {
        return QByteArrayView(buffer.data() + fields[size_t(i)].begin, fields[size_t(i)].size);
    }
    bool isNull(qsizetype i) const { return fields[size_t(i)].null; }

private:
    struct Field {
        qsizetype begin;
        qsizetype size;
        bool null;
    };
    std::vector<char> buffer;
    std::vector<Field> fields;
};

// Cuts a file's bytes into lines as QIODevice::readLine does: each up to and
// including its line feed, the last one possibly without.
class LineCutter {
public:
    explicit LineCutter(QByteArrayView bytes) : rest(bytes) {}
    bool atEnd() const { return rest.isEmpty(); }
    QByteArrayView next();

private:
    QByteArrayView rest;
};
