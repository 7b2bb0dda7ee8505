#pragma once

#include "data/csv.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

namespace Direct {
class Statement;
}

// A CSV file read line by line for the loaders, in slices of a megabyte so
// that a file of a million lines neither sits in memory whole nor costs a
// system call per line. Each line is split as splitCsvLine splits it; a
// line that is not valid UTF-8 goes through splitCsvLine itself, so its
// replacement characters come out the same.
class CsvInput {
public:
    explicit CsvInput(QIODevice &device);

    // Passes over one line without splitting it, e.g. the header.
    bool skipLine();
    // Reads and splits the next line; false at the end of the file.
    bool next();
    // Bytes read so far, lines passed over included.
    qint64 position() const { return consumed; }

    qsizetype size() const { return decoded ? texts.size() : bytes.size(); }
    // True for a null field and for a quoted empty one.
    bool isEmpty(qsizetype k) const { return decoded ? texts.at(k).isEmpty() : bytes.at(k).isEmpty(); }
    // The field as splitCsvLine gives it: null when nothing stood there.
    QString string(qsizetype k) const;
    // Binds field k to parameter `index` as QSqlQuery would bind string(k);
    // the statement must run before the next line is read.
    void bind(Direct::Statement &statement, int index, qsizetype k) const;

private:
    bool nextLine(QByteArrayView &line);
    bool fill();

    QIODevice &device;
    QByteArray chunk;
    qsizetype complete = 0; // chunk bytes up to the last whole line
    LineCutter cutter{QByteArrayView()};
    bool chunkValid = true;
    qint64 consumed = 0;

    bool decoded = false;
    CsvBytes bytes;
    QStringList texts;
};
