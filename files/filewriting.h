#pragma once

#include <QString>

// Writes `text` as UTF-8 to `fileName` through a temporary file that replaces
// the old one only when everything was written: a failed write never leaves a
// half file behind. Returns whether the file now holds `text`.
bool writeTextFile(const QString &fileName, const QString &text);
