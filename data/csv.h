#pragma once

#include <QStringList>

// Splits one CSV line into its fields. Quoted fields may hold commas and
// doubled quotes; fields are not trimmed; carriage returns are dropped. The
// last field counts whether or not the line ends with a line feed.
QStringList splitCsvLine(QString line);

// One CSV record as the program writes it: every value between double
// quotes, inner quotes doubled, line breaks turned into blanks (a record is
// always one line), values joined by commas, ended by a line feed.
QString csvRecord(const QStringList &values);
