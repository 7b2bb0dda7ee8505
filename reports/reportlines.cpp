#include "reports/reportlines.h"

#include "data/csv.h"

#include <QStringList>

namespace ReportLines {

namespace {

// Appends the cells of one line to a text. Values are copied in as they are,
// so a "%" or a quote in the data stays plain text.
class Line {
public:
    // Starts a new line of a report: after a line break unless it is empty.
    explicit Line(QString &report)
        : text(report)
    {
        if (!text.isEmpty())
            text.append(QLatin1Char('\n'));
    }

    Line &add(QStringView value, int width) { return pad(value, width); }

    Line &add(qint64 value, int width) { return add(QString::number(value), width); }

    // The same for UTF-8 text from the database, cut to `limit` characters
    // when one is given. Most values are ASCII and go in without being
    // decoded first.
    Line &addUtf8(QByteArrayView value, int width, qsizetype limit = -1)
    {
        if (!isAscii(value)) {
            const QString decoded = QString::fromUtf8(value);
            return add(limit < 0 ? QStringView(decoded) : QStringView(decoded).left(limit), width);
        }
        if (limit >= 0 && value.size() > limit)
            value = value.first(limit);
        return pad(QLatin1StringView(value.data(), value.size()), width);
    }

private:
    // One cell: a blank after the previous one, then the value padded to
    // abs(width) columns on the side that the sign of width says.
    template <typename Text>
    Line &pad(Text value, int width)
    {
        if (!first)
            text.append(QLatin1Char(' '));
        first = false;
        const qsizetype columns = width < 0 ? -qsizetype(width) : qsizetype(width);
        const qsizetype fill = columns > value.size() ? columns - value.size() : 0;
        if (width > 0 && fill > 0)
            text.resize(text.size() + fill, QLatin1Char(' '));
        text.append(value);
        if (width < 0 && fill > 0)
            text.resize(text.size() + fill, QLatin1Char(' '));
        return *this;
    }

    QString &text;
    bool first = true;
};

QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

} // namespace

QString cell(const QString &value, int width)
{
    QString text;
    Line(text).add(value, width);
    return text;
}

std::optional<QString> acceptedClock(const QString &typed)
{
    const QStringList parts = typed.split(QLatin1Char(':'));
    if (parts.size() != 2)
        return std::nullopt;
    const int hours = parts.at(0).toInt();
    const int minutes = parts.at(1).toInt();
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59)
        return std::nullopt;
    return parts.at(0) + QLatin1Char(':') + parts.at(1);
}

QString titleDate(int month, int day, int year)
{
    return cell(QString::number(month), 2) + QLatin1Char('/') + cell(QString::number(day), 2) + QLatin1Char('/')
        + cell(QString::number(year), 2);
}

QString datePattern(int year, int month, int day)
{
    return twoDigits(year) + twoDigits(month) + twoDigits(day);
}

QString callColumn(QStringView call)
{
    // A one-letter prefix is moved right by a blank, so the digits line up.
    QString aligned;
    aligned.reserve(call.size() + 3);
    if (call.size() >= 2 && call.at(1).isDigit())
        aligned += QLatin1Char(' ');
    aligned += call;
    const QStringView view(aligned);
    QString column;
    column.reserve(aligned.size() + 2);
    column += view.left(2);
    column += QLatin1Char(' ');
    column += view.mid(2, 1);
    column += QLatin1Char(' ');
    column += view.mid(3);
    return column;
}

QString dateLogHeader()
{
    QString text;
    Line(text)
        .add(QStringLiteral(" No"), 3)
        .add(QStringLiteral("S"), -1)
        .add(QStringLiteral("Call"), -6)
        .add(QStringLiteral("Name"), -10)
        .add(QStringLiteral("Relay"), -6)
        .add(QStringLiteral("Comment"), -128)
        .add(QStringLiteral("St"), -2)
        .add(QStringLiteral("City"), -25)
        .add(QStringLiteral("Time"), -8);
    return text;
}

void appendDateLogLine(QString &report, qint64 number, const LogRow &row)
{
    Line(report)
        .add(number, 3)
        .addUtf8(row.status, -1)
        .addUtf8(row.call, -6)
        .addUtf8(row.name, -10, 10)
        .addUtf8(row.relay, -6)
        .addUtf8(row.comment, -128)
        .addUtf8(row.state, -2)
        .addUtf8(row.city, -25)
        .addUtf8(row.time, -8);
}

QString wholeLogHeader()
{
    QString text;
    Line(text)
        .add(QStringLiteral("RecNo"), 5)
        .add(QStringLiteral(" Date"), -6)
        .add(QStringLiteral("  Time"), -8)
        .add(QStringLiteral("S"), -1)
        .add(QStringLiteral("Call"), -6)
        .add(QStringLiteral("Name"), -15)
        .add(QStringLiteral("Relay"), -6)
        .add(QStringLiteral("St"), -2)
        .add(QStringLiteral("City"), -25)
        .add(QStringLiteral("Comments from QSO"), -128);
    return text;
}

void appendWholeLogLine(QString &report, const LogRow &row)
{
    Line(report)
        .add(row.id, 5)
        .addUtf8(row.date, -6)
        .addUtf8(row.time, -8)
        .addUtf8(row.status, -1)
        .addUtf8(row.call, -6)
        .addUtf8(row.name, -15)
        .addUtf8(row.relay, -6)
        .addUtf8(row.state, -2)
        .addUtf8(row.city, -25)
        .addUtf8(row.comment, -128);
}

QString contactsHeader()
{
    QString text;
    Line(text)
        .add(QStringLiteral("  No"), 4)
        .add(QStringLiteral("Pr R Suf"), -8)
        .add(QStringLiteral("Name"), -10)
        .add(QStringLiteral("St"), -2)
        .add(QStringLiteral("City"), -20);
    return text;
}

QString rosterHeader()
{
    QString text;
    Line(text)
        .add(QStringLiteral("  No"), 4)
        .add(QStringLiteral("  Call"), -8)
        .add(QStringLiteral("Name"), -10)
        .add(QStringLiteral("St"), -2)
        .add(QStringLiteral("City"), -20);
    return text;
}

void appendContactLine(QString &report, qint64 number, QByteArrayView call, QByteArrayView name,
                       QByteArrayView state, QByteArrayView city)
{
    Line(report)
        .add(number, 4)
        .add(callColumn(QString::fromUtf8(call)), -8)
        .addUtf8(name, -10, 10)
        .addUtf8(state, -2)
        .addUtf8(city, -20, 20);
}

QString qsoHeader()
{
    QString text;
    Line(text).add(QStringLiteral(" Date"), -6).add(QStringLiteral("Comments from the QSO"), -128);
    return text;
}

void appendQsoLine(QString &report, QStringView date, QStringView comment)
{
    Line(report).add(date, -6).add(comment, -128);
}

} // namespace ReportLines
