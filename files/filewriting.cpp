#include "files/filewriting.h"

#include "app/prompter.h"
#include "data/rows.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstring>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace {
constexpr qsizetype SliceBytes = 1 << 20;
}

QString unsaveableTarget(const QString &fileName)
{
    // Links are followed, as QSaveFile follows them.
    const QFileInfo target(fileName);
    if (!target.exists() || target.isFile())
        return QString();
    return QStringLiteral("it is not a regular file; it was left as it is");
}

bool writeWholeFile(const QString &fileName, QByteArrayView bytes, QString &error)
{
    error = unsaveableTarget(fileName);
    if (!error.isEmpty())
        return false;
    // Unbuffered, so that a failed write shows here and not unseen in
    // commit() (see CsvWriter).
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        error = file.errorString();
        return false;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 written = file.write(bytes.data() + done, bytes.size() - done);
        if (written <= 0) {
            error = file.errorString();
            file.cancelWriting();
            file.commit();
            return false;
        }
        done += qsizetype(written);
    }
    if (!file.commit() || file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return false;
    }
    return true;
}

CsvWriter::CsvWriter(const QString &fileName) : file(fileName)
{
    failure = unsaveableTarget(fileName);
    if (!failure.isEmpty()) {
        failed = true;
        return;
    }
    // Unbuffered: the slices below are the buffer. A write that only lands in
    // QFileDevice's own buffer fails unseen when that goes out at commit(),
    // and Qt 6.4 then still replaces the old file.
    failed = fileName.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (failed)
        failure = file.errorString();
}

char *CsvText::room(qsizetype bytes)
{
    if (used + bytes > buffer.size())
        buffer.resize(std::max({used + bytes, 2 * buffer.size(), SliceBytes + 4096}));
    return buffer.data() + used;
}

void CsvText::appendBytes(QByteArrayView bytes)
{
    std::memcpy(room(bytes.size()), bytes.data(), size_t(bytes.size()));
    used += bytes.size();
}

void CsvWriter::append(const QString &text)
{
    pending.appendBytes(text.toUtf8());
    if (pending.size() >= SliceBytes)
        flush();
}

namespace {
// The length of the leading part of `data` that holds no quote and no line
// break: such bytes are copied as they are. Eight bytes at a time, as most
// fields hold none of them.
qsizetype plainPrefix(const char *data, qsizetype size)
{
    constexpr quint64 Ones = 0x0101010101010101ULL;
    constexpr quint64 Highs = 0x8080808080808080ULL;
    const auto hasByte = [](quint64 word, char ch) {
        const quint64 x = word ^ (Ones * quint8(ch));
        return ((x - Ones) & ~x & Highs) != 0;
    };
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, 8);
        if (hasByte(word, '"') || hasByte(word, '\n') || hasByte(word, '\r'))
            break;
    }
    while (i < size && data[i] != '"' && data[i] != '\n' && data[i] != '\r')
        ++i;
    return i;
}
} // namespace

void CsvText::appendField(QByteArrayView value, bool first)
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
        const qsizetype plain = plainPrefix(data + i, size - i);
        std::memcpy(out, data + i, size_t(plain));
        out += plain;
        i += plain;
        if (i == size)
            break;
        const char ch = data[i];
        if (ch == '"') {
            *out++ = '"';
            *out++ = '"';
        } else {
            *out++ = ' ';
            // CR LF is one line break and one blank.
            if (ch == '\r' && i + 1 < size && data[i + 1] == '\n')
                ++i;
        }
    }
    *out++ = '"';
    used += out - start;
}

void CsvText::endRecord()
{
    *room(1) = '\n';
    ++used;
}

void CsvText::appendRecord(const StoredRow &row, int first)
{
    const int columns = row.columns();
    for (int c = first; c < columns; ++c)
        appendField(row.utf8(c), c == first);
    endRecord();
}

void CsvWriter::appendField(QByteArrayView value, bool first)
{
    pending.appendField(value, first);
}

void CsvWriter::endRecord()
{
    pending.endRecord();
    if (pending.size() >= SliceBytes)
        flush();
}

void CsvWriter::appendRecord(const StoredRow &row, int first)
{
    pending.appendRecord(row, first);
    if (pending.size() >= SliceBytes)
        flush();
}

void CsvWriter::appendText(const CsvText &text)
{
    flush();
    write(text.bytes());
}

void CsvWriter::flush()
{
    write(pending.bytes());
    pending.clear();
}

void CsvWriter::write(QByteArrayView bytes)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    // A short write is tried again for the rest, which then goes through or
    // fails with the system's reason (a full disk, a file size limit).
    while (!failed && left > 0) {
        const qint64 written = file.write(data, left);
        if (written <= 0) {
            failed = true;
            failure = file.errorString();
            break;
        }
        data += written;
        left -= written;
        offset += written;
    }
    startWriteBack();
}

void CsvWriter::startWriteBack()
{
#ifdef Q_OS_LINUX
    // The disk starts on what is written while the rest is produced, so
    // that commit()'s sync waits for the last stretch only, not for a
    // whole file of a few hundred megabytes.
    constexpr qint64 Stretch = 8 << 20;
    if (failed || offset - writtenBack < Stretch)
        return;
    const int fd = file.handle();
    if (fd >= 0)
        sync_file_range(fd, writtenBack, offset - writtenBack, SYNC_FILE_RANGE_WRITE);
    writtenBack = offset;
#endif
}

bool CsvWriter::commit()
{
    flush();
    if (!failed && (!file.flush() || file.error() != QFileDevice::NoError)) {
        failed = true;
        failure = file.errorString();
    }
    if (failed) {
        if (file.isOpen()) {
            file.cancelWriting();
            file.commit();
        }
        return false;
    }
    if (!file.commit() || file.error() != QFileDevice::NoError) {
        failure = file.errorString();
        return false;
    }
    return true;
}

QString reportUnwritableFile(const QString &fileName, const QString &reason)
{
    Prompter::instance()->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                                  QStringLiteral("The File to write could not be Opened."));
    return "File '" + fileName + "' Could not be Opened." + (reason.isEmpty() ? QString() : " (" + reason + ")");
}
