#include "app/themes.h"

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
    c.mapWater = QColor(12, 20, 32);
    c.mapLand = QColor(44, 46, 50);
    c.mapBorder = QColor(110, 116, 124);
    c.mapText = QColor(230, 230, 230);
    c.mapHighlight = QColor(255, 200, 0);
    c.mapBearing = QColor(255, 255, 255, 110);
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
    c.mapWater = QColor(214, 230, 244);
    c.mapLand = QColor(246, 244, 236);
    c.mapBorder = QColor(150, 150, 150);
    c.mapText = QColor(20, 20, 20);
    c.mapHighlight = QColor(255, 128, 0);
    c.mapBearing = QColor(0, 0, 0, 100);
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
QColor orFallback(const QColor &colour, const QColor &fallback)
{
    return colour.isValid() ? colour : fallback;
}
} // namespace

QColor netInk(const ThemeColours &c, NetRules::Ink ink, const NetLineFallback &f)
{
    switch (ink) {
    case NetRules::Ink::Ncs:
        return orFallback(c.ncsText, f.base);
    case NetRules::Ink::Relay:
        return orFallback(c.relayText, f.text);
    case NetRules::Ink::RelayChecked:
        return orFallback(c.relayCheckedText, f.text);
    case NetRules::Ink::Checked:
        return orFallback(c.checkedText, f.link);
    case NetRules::Ink::Normal:
        break;
    }
    return orFallback(c.normalText, f.text);
}

QColor netPaper(const ThemeColours &c, NetRules::Paper paper, const NetLineFallback &f)
{
    switch (paper) {
    case NetRules::Paper::Ncs:
        return orFallback(c.ncsBack, f.text);
    case NetRules::Paper::Relay:
        return orFallback(c.relayBack, f.mid);
    case NetRules::Paper::Active:
        return orFallback(c.activeBack, f.midlight);
    case NetRules::Paper::Normal:
        break;
    }
    return orFallback(c.normalBack, f.base);
}
