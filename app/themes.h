#pragma once

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
};

QPalette makeDarkPalette();
ThemeColours darkThemeColours();
ThemeColours lightThemeColours();

// A palette that sets only `role`, so a widget wearing it inherits every
// other role from its parent.
QPalette singleRolePalette(QPalette::ColorRole role, const QColor &colour);
