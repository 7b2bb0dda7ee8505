#include "data/csv.h"

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
