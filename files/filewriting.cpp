#include "files/filewriting.h"

#include <QSaveFile>

namespace {
constexpr qsizetype SliceBytes = 1 << 20;
}

CsvWriter::CsvWriter(const QString &fileName)
    : file(fileName)
{
    failed = fileName.isEmpty() || !file.open(QIODevice::WriteOnly);
    pending.reserve(SliceBytes + 4096);
}

void CsvWriter::append(const QString &text)
{
    pending += text.toUtf8();
    if (pending.size() >= SliceBytes)
        flush();
}

void CsvWriter::appendField(QByteArrayView value, bool first)
{
    if (!first)
        pending += ',';
    pending += '"';
    const qsizetype size = value.size();
    const char *data = value.data();
    qsizetype plain = 0; // start of the run not yet copied
    for (qsizetype i = 0; i < size; ++i) {
        const char ch = data[i];
        if (ch != '"' && ch != '\n' && ch != '\r')
            continue;
        pending.append(data + plain, i - plain);
        if (ch == '"') {
            pending += "\"\"";
        } else {
            pending += ' ';
            // CR LF is one line break and one blank.
            if (ch == '\r' && i + 1 < size && data[i + 1] == '\n')
                ++i;
        }
        plain = i + 1;
    }
    pending.append(data + plain, size - plain);
    pending += '"';
}

void CsvWriter::endRecord()
{
    pending += '\n';
    if (pending.size() >= SliceBytes)
        flush();
}

void CsvWriter::flush()
{
    if (!failed && file.write(pending) != pending.size())
        failed = true;
    pending.resize(0);
}

bool CsvWriter::commit()
{
    flush();
    if (failed) {
        if (file.isOpen()) {
            file.cancelWriting();
            file.commit();
        }
        return false;
    }
    return file.commit();
}
