#include "app/themecontroller.h"

#include "app/constants.h"
#include "app/themes.h"

#include <QGuiApplication>
#include <QSettings>
#include <QWidget>

#include <initializer_list>

namespace {
void paletteEverywhere(QWidget *top, const QPalette &palette)
{
    top->setPalette(palette);
    for (QWidget *child : top->findChildren<QWidget *>())
        child->setPalette(palette);
}

// The fields of `top`'s form by their names; the forms name every field
// below, so a missing one is a renamed field.
void wear(const QPalette &palette, QWidget *top, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        QWidget *field = top->findChild<QWidget *>(QLatin1String(name));
        Q_ASSERT_X(field, "ThemeController", name);
        if (field)
            field->setPalette(palette);
    }
}
} // namespace

ThemeController::ThemeController(const Widgets &form, ThemeState *shared, QObject *parent)
    : QObject(parent), widgets(form), state(shared), light(QGuiApplication::palette()), dark(makeDarkPalette())
{
}

void ThemeController::readSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Main);
    theme = settings.value(Trel::Key::Theme, Trel::ThemeDark).toString();
}

void ThemeController::writeSettings(QSettings &settings) const
{
    settings.setValue(Trel::Key::Theme, theme);
}

void ThemeController::applyChosen()
{
    if (theme == QLatin1String(Trel::ThemeLight))
        switchPalette(light);
    if (theme == QLatin1String(Trel::ThemeDark))
        switchPalette(dark);
}

void ThemeController::useLight()
{
    theme = Trel::ThemeLight;
    switchPalette(light);
}

void ThemeController::useDark()
{
    theme = Trel::ThemeDark;
    switchPalette(dark);
}

void ThemeController::switchPalette(const QPalette &palette)
{
    paletteEverywhere(widgets.window, palette);
    paletteEverywhere(widgets.contact, palette);
    paletteEverywhere(widgets.station, palette);
    for (QWidget *window : std::as_const(widgets.windows))
        window->setPalette(palette);

    if (palette == dark)
        state->set(darkThemeColours());
    else if (palette == light)
        state->set(lightThemeColours());
    wearFieldColours();
    emit switched();
}

void ThemeController::wearFieldColours()
{
    // The theme palette just replaced every field's own colours; give them back.
    QWidget *w = widgets.window;
    QWidget *st = widgets.station;
    QWidget *ct = widgets.contact;
    const QPalette good = state->good();
    const QPalette info = state->info();
    wear(state->alert(), w, {"relay", "revBear", "delCon"});
    wear(good, w, {"callsigns", "search", "member", "call", "name", "city", "state", "qso"});
    wear(good, st, {"call", "pwd", "state", "lat", "lon", "grid", "utc", "dst"});
    wear(good, ct, {"call",  "fname", "name", "classlic", "expire", "addr",   "city", "state", "zip",      "country",
                    "email", "phone", "lat",  "lon",      "grid",   "geoloc", "utc",  "dst",   "tzOffset", "born"});
    wear(
        info, w,
        {"day", "year", "time", "utcTime", "checks", "attend", "last", "dist", "bear", "club", "beginTime", "endTime"});
    wear(info, st, {"expire"});
    wear(state->warnButton(), w, {"relayButton", "delContactBut", "delRecBut"});
    wear(state->goButton(), w, {"relayViaButton", "trafficButton", "mobileButton", "shortButton", "lookUpButton"});
    wear(state->checkButton(), w, {"logContactButton"});
}
