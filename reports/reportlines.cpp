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
    explicit Line(QString &report) : text(report)
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

// Column widths, each shared by a report's header and its lines; a cell is
// left-aligned where the width is given negated.
namespace Width {
constexpr int LineNumber = 3;   // date log: numbered down from the count
constexpr int RecordNumber = 5; // whole log: the id used for deleting
constexpr int ListNumber = 4;   // contacts and roster
constexpr int Status = 1;
constexpr int Call = 6;
constexpr int CallColumn = 8; // prefix, region digit and suffix apart
constexpr int Name = 10;      // also where a short name is cut
constexpr int LogName = 15;
constexpr int Relay = 6;
constexpr int Comment = 128;
constexpr int State = 2;
constexpr int LogCity = 25;
constexpr int ListCity = 20; // also where the city is cut
constexpr int Date = 6;
constexpr int Time = 8;
} // namespace Width

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
        .add(QStringLiteral(" No"), Width::LineNumber)
        .add(QStringLiteral("S"), -Width::Status)
        .add(QStringLiteral("Call"), -Width::Call)
        .add(QStringLiteral("Name"), -Width::Name)
        .add(QStringLiteral("Relay"), -Width::Relay)
        .add(QStringLiteral("Comment"), -Width::Comment)
        .add(QStringLiteral("St"), -Width::State)
        .add(QStringLiteral("City"), -Width::LogCity)
        .add(QStringLiteral("Time"), -Width::Time);
    return text;
}

void appendDateLogLine(QString &report, qint64 number, const LogRow &row)
{
    Line(report)
        .add(number, Width::LineNumber)
        .addUtf8(row.status, -Width::Status)
        .addUtf8(row.call, -Width::Call)
        .addUtf8(row.name, -Width::Name, Width::Name)
        .addUtf8(row.relay, -Width::Relay)
        .addUtf8(row.comment, -Width::Comment)
        .addUtf8(row.state, -Width::State)
        .addUtf8(row.city, -Width::LogCity)
        .addUtf8(row.time, -Width::Time);
}

QString wholeLogHeader()
{
    QString text;
    Line(text)
        .add(QStringLiteral("RecNo"), Width::RecordNumber)
        .add(QStringLiteral(" Date"), -Width::Date)
        .add(QStringLiteral("  Time"), -Width::Time)
        .add(QStringLiteral("S"), -Width::Status)
        .add(QStringLiteral("Call"), -Width::Call)
        .add(QStringLiteral("Name"), -Width::LogName)
        .add(QStringLiteral("Relay"), -Width::Relay)
        .add(QStringLiteral("St"), -Width::State)
        .add(QStringLiteral("City"), -Width::LogCity)
        .add(QStringLiteral("Comments from QSO"), -Width::Comment);
    return text;
}

void appendWholeLogLine(QString &report, const LogRow &row)
{
    Line(report)
        .add(row.id, Width::RecordNumber)
        .addUtf8(row.date, -Width::Date)
        .addUtf8(row.time, -Width::Time)
        .addUtf8(row.status, -Width::Status)
        .addUtf8(row.call, -Width::Call)
        .addUtf8(row.name, -Width::LogName)
        .addUtf8(row.relay, -Width::Relay)
        .addUtf8(row.state, -Width::State)
        .addUtf8(row.city, -Width::LogCity)
        .addUtf8(row.comment, -Width::Comment);
}

QString contactsHeader()
{
    QString text;
    Line(text)
        .add(QStringLiteral("  No"), Width::ListNumber)
        .add(QStringLiteral("Pr R Suf"), -Width::CallColumn)
        .add(QStringLiteral("Name"), -Width::Name)
        .add(QStringLiteral("St"), -Width::State)
        .add(QStringLiteral("City"), -Width::ListCity);
    return text;
}

QString rosterHeader()
{
    QString text;
    Line(text)
        .add(QStringLiteral("  No"), Width::ListNumber)
        .add(QStringLiteral("  Call"), -Width::CallColumn)
        .add(QStringLiteral("Name"), -Width::Name)
        .add(QStringLiteral("St"), -Width::State)
        .add(QStringLiteral("City"), -Width::ListCity);
    return text;
}

void appendContactLine(QString &report, qint64 number, QByteArrayView call, QByteArrayView name, QByteArrayView state,
                       QByteArrayView city)
{
    Line(report)
        .add(number, Width::ListNumber)
        .add(callColumn(QString::fromUtf8(call)), -Width::CallColumn)
        .addUtf8(name, -Width::Name, Width::Name)
        .addUtf8(state, -Width::State)
        .addUtf8(city, -Width::ListCity, Width::ListCity);
}

QString qsoHeader()
{
    QString text;
    Line(text).add(QStringLiteral(" Date"), -Width::Date).add(QStringLiteral("Comments from the QSO"), -Width::Comment);
    return text;
}

void appendQsoLine(QString &report, QStringView date, QStringView comment)
{
    Line(report).add(date, -Width::Date).add(comment, -Width::Comment);
}

} // namespace ReportLines
