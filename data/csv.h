#pragma once

#include <QStringList>

// Splits one CSV line into its fields. Quoted fields may hold commas and
// doubled quotes; fields are not trimmed; carriage returns are dropped. The
// last field counts whether or not the line ends with a line feed.
QStringList splitCsvLine(QString line);
