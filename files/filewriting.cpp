#include "files/filewriting.h"

#include "data/direct.h"

#include <QSaveFile>

#include <algorithm>
#include <cstring>

namespace {
constexpr qsizetype SliceBytes = 1 << 20;
}

CsvWriter::CsvWriter(const QString &fileName)
    : file(fileName)
{
    failed = fileName.isEmpty() || !file.open(QIODevice::WriteOnly);
    pending.resize(SliceBytes + 4096);
}

char *CsvWriter::room(qsizetype bytes)
{
    if (used + bytes > pending.size())
        pending.resize(std::max(used + bytes, 2 * pending.size()));
    return pending.data() + used;
}

void CsvWriter::append(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::memcpy(room(bytes.size()), bytes.constData(), size_t(bytes.size()));
    used += bytes.size();
    if (used >= SliceBytes)
        flush();
}

void CsvWriter::appendField(QByteArrayView value, bool first)
{
    // At worst every byte is a quote and comes out doubled.
    const qsizetype size = value.size();
    char *const start = room(2 * size + 3);
    char *out = start;
    if (!first)
        *out++ = ',';
    *out++ = '"';
    const char *data = value.data();
    for (qsizetype i = 0; i < size; ++i) {
        const char ch = data[i];
        if (ch == '"') {
            *out++ = '"';
            *out++ = '"';
        } else if (ch == '\n' || ch == '\r') {
            *out++ = ' ';
            // CR LF is one line break and one blank.
            if (ch == '\r' && i + 1 < size && data[i + 1] == '\n')
                ++i;
        } else {
            *out++ = ch;
        }
    }
    *out++ = '"';
    used += out - start;
}

void CsvWriter::endRecord()
{
    *room(1) = '\n';
    ++used;
    if (used >= SliceBytes)
        flush();
}

void CsvWriter::appendRecord(const Direct::Statement &row, int first)
{
    const int columns = row.columnCount();
    for (int c = first; c < columns; ++c)
        appendField(row.utf8(c), c == first);
    endRecord();
}

void CsvWriter::flush()
{
    if (!failed && file.write(pending.constData(), used) != used)
        failed = true;
    used = 0;
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
