#pragma once

#include "checkin/netrules.h"

#include <QColor>
#include <QPalette>

// The colours of one theme: the single role that each field palette sets,
// and the colours of the net list and the candidate list.
struct ThemeColours {
    QColor alertText;
    QColor goodText;
    QColor infoText;
    QColor warnButton;
    QColor goButton;
    QColor checkButton;
    QColor normalText;
    QColor normalBack;
    QColor ncsText;
    QColor ncsBack;
    QColor relayText;
    QColor relayBack;
    QColor relayCheckedText;
    QColor checkedText;
    QColor activeBack;
    // The net map: sea, land, state lines, calls, the marked station, bearing lines.
    QColor mapWater;
    QColor mapLand;
    QColor mapBorder;
    QColor mapText;
    QColor mapHighlight;
    QColor mapBearing;
};

QPalette makeDarkPalette();
ThemeColours darkThemeColours();
ThemeColours lightThemeColours();

// A palette that sets only `role`, so a widget wearing it inherits every
// other role from its parent.
QPalette singleRolePalette(QPalette::ColorRole role, const QColor &colour);

// What a window without a theme shows a net line in: its palette's colours.
struct NetLineFallback {
    QColor text, base, link, mid, midlight;
};
// A net line's ink and paper: the theme's colour, or where the theme sets
// none, the window's own. The net list and the Net Map's dots both wear them.
QColor netInk(const ThemeColours &theme, NetRules::Ink ink, const NetLineFallback &window);
QColor netPaper(const ThemeColours &theme, NetRules::Paper paper, const NetLineFallback &window);

#include <QObject>

// The theme in use, shared by every area that colours a field or a list:
// the colours and the single-role palettes made from them. Without a theme
// the palettes are empty and the colours invalid, so fields keep the
// system's look.
class ThemeState : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    const ThemeColours &colours() const { return c; }
    bool themed() const { return isThemed; }
    QPalette alert() const { return alertPalette; }
    QPalette good() const { return goodPalette; }
    QPalette info() const { return infoPalette; }
    QPalette warnButton() const { return warnButtonPalette; }
    QPalette goButton() const { return goButtonPalette; }
    QPalette checkButton() const { return checkButtonPalette; }

    void set(const ThemeColours &colours);

signals:
    void changed();

private:
    ThemeColours c;
    bool isThemed = false;
    QPalette alertPalette;
    QPalette goodPalette;
    QPalette infoPalette;
    QPalette warnButtonPalette;
    QPalette goButtonPalette;
    QPalette checkButtonPalette;
};
