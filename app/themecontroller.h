#pragma once

#include <QList>
#include <QObject>
#include <QPalette>
#include <QString>

class QSettings;
class QWidget;
class ThemeState;

// The light and dark themes: the theme's palette on every window, the
// shared ThemeState's colours, and each field's own colour given back after
// the theme's palette replaced it.
class ThemeController : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        // The main window and the dialogs: they and every widget in them
        // wear the theme; their fields are found by their forms' names.
        QWidget *window = nullptr;
        QWidget *station = nullptr;
        QWidget *contact = nullptr;
        // Windows that wear it themselves only (viewers and reports).
        QList<QWidget *> windows;
    };

    ThemeController(const Widgets &widgets, ThemeState *state, QObject *parent = nullptr);

    // The "Main" group's Theme; writeSettings() writes into the group the
    // caller opened.
    void readSettings();
    void writeSettings(QSettings &settings) const;

    // "light", "dark", or whatever the settings held (then no theme applies).
    QString name() const { return theme; }
    QPalette lightPalette() const { return light; }
    QPalette darkPalette() const { return dark; }

    // Applies the theme the settings chose, if it is one of ours.
    void applyChosen();

public slots:
    void useLight();
    void useDark();

signals:
    // The palettes were switched: lists painted with the theme's colours
    // are drawn again.
    void switched();

private:
    void switchPalette(const QPalette &palette);
    void wearFieldColours();

    Widgets widgets;
    ThemeState *state;
    QPalette light;
    QPalette dark;
    QString theme;
};
