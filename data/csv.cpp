#include "data/csv.h"

#include <algorithm>
#include <cstring>

QStringList splitCsvLine(QString line)
{
    QStringList fields;
    line.remove(QLatin1Char('\r'));
    // The last line of a file may lack its line feed; its last field still counts.
    if (!line.isEmpty() && !line.endsWith(QLatin1Char('\n')))
        line += QLatin1Char('\n');

    QString field;
    int quotes = 0;
    for (const QChar ch : std::as_const(line)) {
        if (ch == QLatin1Char('\n') || ch == QLatin1Char(',')) {
            // An odd number of quotes so far means the separator is inside a quoted field.
            if (quotes % 2 != 0) {
                field += ch;
                continue;
            }
            if (field.startsWith(QLatin1Char('"')) && field.endsWith(QLatin1Char('"'))) {
                field.remove(0, 1);
                field.chop(1);
            }
            field.replace(QLatin1String("\"\""), QLatin1String("\""));
            fields.append(field);
            field.clear();
            quotes = 0;
        } else {
            if (ch == QLatin1Char('"'))
                ++quotes;
            field += ch;
        }
    }
    return fields;
}

QString csvRecord(const QStringList &values)
{
    QString record;
    for (int i = 0; i < values.size(); ++i) {
        QString value = values.at(i);
        value.replace(QLatin1String("\r\n"), QLatin1String(" "));
        value.replace(QLatin1Char('\n'), QLatin1Char(' '));
        value.replace(QLatin1Char('\r'), QLatin1Char(' '));
        value.replace(QLatin1String("\""), QLatin1String("\"\""));
        if (i > 0)
            record += QLatin1Char(',');
        record += QLatin1Char('"') + value + QLatin1Char('"');
    }
    record += QLatin1Char('\n');
    return record;
}

bool isAscii(QByteArrayView text)
{
    // A word at a time: a megabyte slice of a file is checked in one pass.
    const char *data = text.data();
    const qsizetype size = text.size();
    qsizetype i = 0;
    quint64 high = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, 8);
        high |= word;
    }
    for (; i < size; ++i)
        high |= quint8(data[i]);
    return (high & 0x8080808080808080ULL) == 0;
}

void CsvBytes::split(QByteArrayView line)
{
    // Room for the whole line at once: the bytes are then copied through a
    // plain pointer, not pushed one by one.
    buffer.resize(size_t(line.size()) + 1);
    fields.clear();
    char *const out = buffer.data();
    qsizetype end = 0;   // bytes written
    qsizetype begin = 0; // where the open field starts
    int quotes = 0;
    // Closes the field that began at `begin`, as splitCsvLine does: outer
    // quotes dropped, doubled quotes made single.
    const auto close = [&] {
        const qsizetype raw = end - begin;
        Field field{begin, raw, raw == 0};
        if (raw > 0 && out[begin] == '"' && out[end - 1] == '"') {
            field.begin = raw == 1 ? begin : begin + 1;
            field.size = raw == 1 ? 0 : raw - 2;
        }
        char *data = out + field.begin;
        if (quotes > 0) {
            qsizetype kept = 0;
            for (qsizetype in = 0; in < field.size; ++in, ++kept) {
                data[kept] = data[in];
                if (data[in] == '"' && in + 1 < field.size && data[in + 1] == '"')
                    ++in;
            }
            field.size = kept;
        }
        fields.push_back(field);
        end = field.begin + field.size;
        begin = end;
        quotes = 0;
    };

    bool any = false;
    char last = 0;
    const char *data = line.data();
    const qsizetype size = line.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char ch = data[i];
        if (ch == '\r')
            continue;
        any = true;
        last = ch;
        if ((ch == '\n' || ch == ',') && quotes % 2 == 0) {
            close();
            continue;
        }
        if (ch == '"')
            ++quotes;
        out[end++] = ch;
    }
    // The last line of a file may lack its line feed; its last field still counts.
    if (any && last != '\n' && quotes % 2 == 0)
        close();
}

QByteArrayView LineCutter::next()
{
    const qsizetype feed = rest.indexOf('\n');
    const qsizetype length = feed < 0 ? rest.size() : feed + 1;
    const QByteArrayView line = rest.first(length);
    rest = rest.sliced(length);
    return line;
}

namespace {
// Windows-1252 differs from Latin-1 only in 0x80-0x9F; the five codes it
// leaves undefined keep their Latin-1 meaning.
constexpr char16_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 0x98
};
} // namespace

QString fromWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char ch : bytes) {
        const auto byte = quint8(ch);
        *out++ = QChar(byte >= 0x80 && byte < 0xA0 ? Windows1252High[byte - 0x80] : char16_t(byte));
    }
    return text;
}

FileText sniffText(QByteArrayView head)
{
    if (head.isEmpty())
        return FileText::Empty;
    if (head.startsWith("\xff\xfe") || head.startsWith("\xfe\xff"))
        return FileText::Utf16;
    qsizetype nuls[2] = {0, 0};
    qsizetype controls = 0;
    bool feed = false;
    bool carriageReturn = false;
    for (qsizetype i = 0; i < head.size(); ++i) {
        const auto byte = quint8(head[i]);
        if (byte >= 0x20 && byte != 0x7f)
            continue;
        switch (byte) {
        case 0:
            ++nuls[i % 2];
            break;
        case '\n':
            feed = true;
            break;
        case '\r':
            carriageReturn = true;
            break;
        // Tab, form feed and the old end-of-file mark Ctrl-Z occur in text files.
        case '\t':
        case '\f':
        case 0x1a:
            break;
        default:
            ++controls;
        }
    }
    if (nuls[0] + nuls[1] > 0) {
        // UTF-16 puts the NUL half of every ASCII character, line feeds and
        // commas included, on the same side of each pair.
        const qsizetype more = std::max(nuls[0], nuls[1]);
        const qsizetype fewer = std::min(nuls[0], nuls[1]);
        return more >= 8 * fewer && more >= head.size() / 8 ? FileText::Utf16 : FileText::Binary;
    }
    if (controls > 0)
        return FileText::Binary;
    if (!feed && carriageReturn)
        return FileText::CarriageReturns;
    return FileText::Text;
}
