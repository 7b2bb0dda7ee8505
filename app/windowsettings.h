#pragma once

#include <QString>

class QWidget;

// The settings group of a secondary window: "Exist", "Visible", "Size",
// "Position" and, for the report and document windows, "Content".
namespace WindowSettings {

struct Stored {
    QString visible; // "Yes" or "No"; "No" when nothing is stored
    QString content; // the stored "Content", else the default asked for
};

// Writes the window's group and returns the "Visible" text written. The
// dialogs keep no "Content".
QString save(const QWidget &window, const QString &group, bool visible);
QString save(const QWidget &window, const QString &group, bool visible, const QString &content);

// Reads the window's group and, once the group has been written, gives the
// window its stored size and position. Never shows it.
Stored restore(QWidget &window, const QString &group, const QString &defaultContent = QString());

} // namespace WindowSettings
