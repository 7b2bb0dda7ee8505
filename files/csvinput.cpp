#include "files/csvinput.h"

#include "data/direct.h"

namespace {
constexpr qsizetype SliceBytes = 1 << 20;
} // namespace

CsvInput::CsvInput(QIODevice &source)
    : device(source)
{
}

bool CsvInput::fill()
{
    // The part line left over from the last slice moves to the front.
    chunk.remove(0, complete);
    complete = 0;
    for (;;) {
        const qsizetype old = chunk.size();
        chunk.resize(old + SliceBytes);
        const qint64 got = device.read(chunk.data() + old, SliceBytes);
        chunk.resize(old + qsizetype(std::max<qint64>(got, 0)));
        const bool atEnd = got <= 0 || device.atEnd();
        const qsizetype feed = chunk.lastIndexOf('\n');
        if (feed >= 0 && !atEnd) {
            complete = feed + 1;
            break;
        }
        if (atEnd) {
            complete = chunk.size();
            break;
        }
        // One line longer than a slice: read on.
    }
    if (complete == 0)
        return false;
    const QByteArrayView lines(chunk.constData(), complete);
    // Most files are plain ASCII, which is confirmed far faster than UTF-8.
    chunkValid = isAscii(lines) || lines.isValidUtf8();
    cutter = LineCutter(lines);
    return true;
}

bool CsvInput::nextLine(QByteArrayView &line)
{
    if (cutter.atEnd() && !fill())
        return false;
    line = cutter.next();
    consumed += line.size();
    return true;
}

bool CsvInput::skipLine()
{
    QByteArrayView line;
    return nextLine(line);
}

bool CsvInput::next()
{
    QByteArrayView line;
    if (!nextLine(line))
        return false;
    decoded = !chunkValid && !line.isValidUtf8();
    if (decoded)
        texts = splitCsvLine(QString::fromUtf8(line));
    else
        bytes.split(line);
    return true;
}

QString CsvInput::string(qsizetype k) const
{
    if (decoded)
        return texts.at(k);
    if (bytes.isNull(k))
        return QString();
    const QByteArrayView field = bytes.at(k);
    return field.isEmpty() ? QStringLiteral("") : QString::fromUtf8(field);
}

void CsvInput::bind(Direct::Statement &statement, int index, qsizetype k) const
{
    if (decoded)
        statement.bindString(index, texts.at(k));
    else if (bytes.isNull(k))
        statement.bindNull(index);
    else
        statement.bindUtf8Static(index, bytes.at(k));
}
