#pragma once

#include "data/rows.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <optional>

// The text of the database reports, kept apart from the widgets so that the
// columns can be checked on their own. Every line is a row of cells joined by
// single blanks; a cell pads its value to a column width but never cuts it.
// Each line is appended to a whole report (after a line break unless the
// report is still empty), so a long report is built in one buffer; values
// come as views of the database's UTF-8 text, so rows are not copied or
// decoded first.
namespace ReportLines {

// A value in abs(width) columns, right-aligned when width is positive and
// left-aligned when negative; a longer value comes back whole.
QString cell(const QString &value, int width);

// "hours:minutes" exactly as typed when the text is two parts with hours 0..23
// and minutes 0..59 (a part that is not a number counts as 0); nothing else.
std::optional<QString> acceptedClock(const QString &typed);

// " 1/ 5/24": month, day and year two columns each, as the title shows them.
QString titleDate(int month, int day, int year);

// "240105": the stored form of a log date, so the pattern picks one day.
QString datePattern(int year, int month, int day);

// Prefix, region digit and suffix in fixed columns: "K7ABC" -> " K 7 ABC",
// "KD7ABC" -> "KD 7 ABC".
QString callColumn(QStringView call);

// One log row, UTF-8; the views must outlive the append that reads them.
using LogRow = LogRowView;

// The usual length of a line of each report, for reserving room before a
// long report is built.
inline constexpr qsizetype DateLogLineChars = 200;
inline constexpr qsizetype WholeLogLineChars = 220;
inline constexpr qsizetype ContactLineChars = 68;

// The check-ins of one day, numbered down from the count.
QString dateLogHeader();
void appendDateLogLine(QString &report, qint64 number, const LogRow &row);

// The whole check-in log with the record numbers used for deleting.
QString wholeLogHeader();
void appendWholeLogLine(QString &report, const LogRow &row);

// Contacts and roster members share one line layout.
QString contactsHeader();
QString rosterHeader();
void appendContactLine(QString &report, qint64 number, QByteArrayView call, QByteArrayView name, QByteArrayView state,
                       QByteArrayView city);

// The last comments of one station.
QString qsoHeader();
void appendQsoLine(QString &report, QStringView date, QStringView comment);

} // namespace ReportLines
