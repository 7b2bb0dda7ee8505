#include "app/themes.h"

#include "app/constants.h"
#include "app/trelvin.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "reports/reportscontroller.h"
#include "ui_contact.h"
#include "ui_station.h"
#include "ui_trelvin.h"
#include "viewer/documentscontroller.h"

#include <initializer_list>

QPalette makeDarkPalette()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(23, 23, 23));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, Qt::black);
    dark.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    dark.setColor(QPalette::ToolTipBase, QColor(42, 130, 218));
    dark.setColor(QPalette::ToolTipText, Qt::white);
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Button, QColor(53, 53, 53));
    dark.setColor(QPalette::ButtonText, Qt::white);
    dark.setColor(QPalette::BrightText, QColor(255, 0, 0));
    dark.setColor(QPalette::Link, QColor(42, 130, 218));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    return dark;
}

ThemeColours darkThemeColours()
{
    ThemeColours c;
    c.alertText = QColor(255, 0, 0);
    c.goodText = QColor(0, 192, 0);
    c.infoText = QColor(128, 192, 255);
    c.warnButton = QColor(80, 0, 0);
    c.goButton = QColor(0, 64, 0);
    c.checkButton = QColor(0, 0, 128);
    c.normalText = QColor(0, 192, 0);
    c.normalBack = QColor(0, 0, 0);
    c.ncsText = QColor(0, 0, 0);
    c.ncsBack = QColor(255, 255, 255);
    c.relayText = QColor(0, 192, 0);
    c.relayBack = QColor(80, 0, 0);
    c.relayCheckedText = QColor(255, 0, 0);
    c.checkedText = QColor(128, 192, 255);
    c.activeBack = QColor(60, 60, 60);
    return c;
}

ThemeColours lightThemeColours()
{
    ThemeColours c;
    c.alertText = QColor(255, 0, 0);
    c.goodText = QColor(0, 128, 0);
    c.infoText = QColor(0, 0, 255);
    c.warnButton = QColor(255, 128, 128);
    c.goButton = QColor(0, 255, 0);
    c.checkButton = QColor(128, 192, 255);
    c.normalText = QColor(0, 128, 0);
    c.normalBack = QColor(255, 255, 255);
    c.ncsText = QColor(255, 255, 255);
    c.ncsBack = QColor(0, 0, 0);
    c.relayText = QColor(0, 128, 0);
    c.relayBack = QColor(255, 128, 128);
    c.relayCheckedText = QColor(255, 0, 0);
    c.checkedText = QColor(0, 0, 255);
    c.activeBack = QColor(192, 192, 192);
    return c;
}

void ThemeState::set(const ThemeColours &colours)
{
    c = colours;
    isThemed = true;
    alertPalette = singleRolePalette(QPalette::Text, c.alertText);
    goodPalette = singleRolePalette(QPalette::Text, c.goodText);
    infoPalette = singleRolePalette(QPalette::Text, c.infoText);
    warnButtonPalette = singleRolePalette(QPalette::Button, c.warnButton);
    goButtonPalette = singleRolePalette(QPalette::Button, c.goButton);
    checkButtonPalette = singleRolePalette(QPalette::Button, c.checkButton);
    emit changed();
}

QPalette singleRolePalette(QPalette::ColorRole role, const QColor &colour)
{
    QPalette palette;
    palette.setColor(role, colour);
    return palette;
}

namespace {
void paletteEverywhere(QWidget *top, const QPalette &palette)
{
    top->setPalette(palette);
    for (QWidget *child : top->findChildren<QWidget *>())
        child->setPalette(palette);
}

void wear(const QPalette &palette, std::initializer_list<QWidget *> widgets)
{
    for (QWidget *widget : widgets)
        widget->setPalette(palette);
}
} // namespace

void Trelvin::switchPalette(QPalette palette)
{
    paletteEverywhere(this, palette);
    paletteEverywhere(contactDialog, palette);
    paletteEverywhere(stationDialog, palette);
    documents->setPalette(palette);
    reports->setPalette(palette);

    bool themed = false;
    ThemeColours c;
    if (palette == darkPalette) {
        c = darkThemeColours();
        themed = true;
    } else if (palette == lightPalette) {
        c = lightThemeColours();
        themed = true;
    }
    if (themed)
        palettes->set(c);
    const QPalette alertPalette = palettes->alert();
    const QPalette goodPalette = palettes->good();
    const QPalette infoPalette = palettes->info();
    const QPalette warnButtonPalette = palettes->warnButton();
    const QPalette goButtonPalette = palettes->goButton();
    const QPalette checkButtonPalette = palettes->checkButton();

    // The theme palette just replaced every field's own colours; give them back.
    wear(alertPalette, {ui->relay, ui->revBear, ui->delCon});
    wear(goodPalette, {ui->callsigns, ui->search, ui->member, ui->call, ui->name, ui->city, ui->state, ui->qso});
    const Ui::Station *st = stationDialog->ui;
    wear(goodPalette, {st->call, st->pwd, st->state, st->lat, st->lon, st->grid, st->utc, st->dst});
    const Ui::Contact *ct = contactDialog->ui;
    wear(goodPalette, {ct->call, ct->fname, ct->name, ct->classlic, ct->expire, ct->addr, ct->city, ct->state,
                       ct->zip, ct->country, ct->email, ct->phone, ct->lat, ct->lon, ct->grid, ct->geoloc, ct->utc,
                       ct->dst, ct->tzOffset, ct->born});
    wear(infoPalette, {ui->day, ui->year, ui->time, ui->utcTime, ui->checks, ui->attend, ui->last, ui->dist, ui->bear, ui->club,
                       ui->beginTime, ui->endTime, st->expire});
    wear(warnButtonPalette, {ui->relayButton, ui->delContactBut, ui->delRecBut});
    wear(goButtonPalette,
         {ui->relayViaButton, ui->trafficButton, ui->mobileButton, ui->shortButton, ui->lookUpButton});
    wear(checkButtonPalette, {ui->logContactButton});

    displayNet(activeID);
    displayCandidates();
}

void Trelvin::on_actionLightTheme_triggered()
{
    theme = Trel::ThemeLight;
    switchPalette(lightPalette);
}

void Trelvin::on_actionDarkTheme_triggered()
{
    theme = Trel::ThemeDark;
    switchPalette(darkPalette);
}
