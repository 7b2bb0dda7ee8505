#include "files/csvinput.h"

#include "app/logging.h"

namespace {
constexpr qsizetype SliceBytes = 1 << 20;
constexpr qint64 LoggedLines = 100;
} // namespace

CsvInput::CsvInput(QIODevice &source) : device(source)
{
}

FileText CsvInput::content()
{
    if (!sniffed) {
        sniffed = true;
        // Read ahead; fill() goes on after these bytes. Only a slice is
        // looked at: a file of one endless binary line is not read whole.
        chunk.resize(SliceBytes);
        const qint64 got = device.read(chunk.data(), SliceBytes);
        chunk.resize(qsizetype(std::max<qint64>(got, 0)));
        sniffedText = sniffText(chunk);
    }
    return sniffedText;
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
    if (complete == 0) {
        // At the end the slice's memory goes back at once: the loaders build
        // their indexes after the last line.
        chunk = QByteArray();
        return false;
    }
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
    recoded = !chunkValid && !line.isValidUtf8();
    if (recoded)
        bytes.split(fromWindows1252(line).toUtf8());
    else
        bytes.split(line);
    return true;
}

QString CsvInput::string(qsizetype k) const
{
    if (bytes.isNull(k))
        return QString();
    const QByteArrayView field = bytes.at(k);
    return field.isEmpty() ? QStringLiteral("") : QString::fromUtf8(field);
}

LineLog::LineLog(Writer writer, const QString &fileName, const QString &skippedSummary)
    : write(std::move(writer)), file(fileName), summary(skippedSummary)
{
}

void LineLog::skipped(const QString &text)
{
    if (++skippedLines <= LoggedLines)
        write(text);
}

void LineLog::converted(qint64 lineNumber)
{
    if (++convertedLines <= LoggedLines)
        write(QStringLiteral("File '%1' line %2 is not UTF-8; it was read as Windows-1252 (Latin-1).")
                  .arg(file)
                  .arg(lineNumber));
}

void LineLog::finish()
{
    qCDebug(lcFiles).noquote().nospace() << file << ": " << skippedLines << " lines skipped, " << convertedLines
                                         << " read as Windows-1252";
    if (skippedLines > LoggedLines)
        write(summary.arg(skippedLines - LoggedLines).arg(file));
    if (convertedLines > LoggedLines)
        write(QStringLiteral("... and %1 more lines of '%2' were read as Windows-1252")
                  .arg(convertedLines - LoggedLines)
                  .arg(file));
}

QString LineTally::reason(const QString &otherKindReason, const QString &noValidLine) const
{
    if (filled == 0)
        return QStringLiteral("The file holds no line after its header.");
    return 2 * otherKind > filled ? otherKindReason : noValidLine;
}

QString refusalReason(FileText content)
{
    switch (content) {
    case FileText::Empty:
        return QStringLiteral("The file is empty.");
    case FileText::Utf16:
        return QStringLiteral("The file is UTF-16 text; save it as UTF-8 and load it again.");
    case FileText::Binary:
        return QStringLiteral("The file is not text.");
    case FileText::CarriageReturns:
        return QStringLiteral("Its lines end in carriage returns alone; save it with line feeds and load it again.");
    case FileText::Text:
        break;
    }
    return QString();
}

QString nothingLoadedText(const QString &fileName, const QString &reason, const QString &kept)
{
    return "Nothing was loaded from\n" + fileName + "\n\n" + reason + "\n\n" + kept;
}
