#include "data/csv.h"

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
