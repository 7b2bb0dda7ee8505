#include "testsupport.h"

#include "app/themecontroller.h"
#include "app/trelvin.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "reports/reportscontroller.h"
#include "reports/seelogs.h"
#include "ui_contact.h"
#include "ui_station.h"
#include "ui_trelvin.h"
#include "viewer/documentscontroller.h"
#include "viewer/seefile.h"

#include <QSettings>
#include <QtTest>

namespace {
QColor text(QWidget *w)
{
    return w->palette().color(QPalette::Text);
}
QColor button(QWidget *w)
{
    return w->palette().color(QPalette::Button);
}
} // namespace

class TestThemes : public QObject {
    Q_OBJECT

private slots:
    void darkThemeColours();
    void lightThemeColours();
    void alertFieldReturnsAfterSwitch();
    void unknownThemeAppliesNone();
};

void TestThemes::darkThemeColours()
{
    Runtime rt;
    Trelvin *w = rt.start();
    QCOMPARE(w->findChild<ThemeController *>()->name(), QStringLiteral("dark"));

    const QPalette dark = w->findChild<ThemeController *>()->darkPalette();
    QCOMPARE(dark.color(QPalette::Window), QColor(23, 23, 23));
    QCOMPARE(dark.color(QPalette::Inactive, QPalette::Base), QColor(Qt::black));
    QCOMPARE(dark.color(QPalette::Disabled, QPalette::Highlight), QColor(42, 130, 218));
    QCOMPARE(dark.color(QPalette::ToolTipBase), QColor(42, 130, 218));
    QCOMPARE(dark.color(QPalette::BrightText), QColor(255, 0, 0));
    QCOMPARE(dark.color(QPalette::HighlightedText), QColor(Qt::black));
    QVERIFY(!(dark.resolveMask() & (quint64(1) << QPalette::Shadow)));

    // Theme palette on every window, field palettes on their fields.
    QCOMPARE(w->palette(), dark);
    QCOMPARE(FORM(w, checkinBox)->palette(), dark);
    QCOMPARE(reportsOf(w)->wholeLogWindow()->palette(), dark);
    QCOMPARE(stationOf(w)->palette(), dark);
    QCOMPARE(text(FORM(w, search)), QColor(0, 192, 0));
    QCOMPARE(text(FORM(w, callsigns)), QColor(0, 192, 0));
    QCOMPARE(text(FORM(w, relay)), QColor(255, 0, 0));
    QCOMPARE(text(FORM(w, delCon)), QColor(255, 0, 0));
    QCOMPARE(text(FORM(w, checks)), QColor(128, 192, 255));
    QCOMPARE(text(FORM(w, beginTime)), QColor(128, 192, 255));
    QCOMPARE(text(FORM(w, month)), QColor(Qt::white));
    QCOMPARE(button(FORM(w, relayButton)), QColor(80, 0, 0));
    QCOMPARE(button(FORM(w, trafficButton)), QColor(0, 64, 0));
    QCOMPARE(button(FORM(w, logContactButton)), QColor(0, 0, 128));
    QCOMPARE(button(FORM(w, NCSButton)), QColor(53, 53, 53));
    QCOMPARE(text(STATION(w, pwd)), QColor(0, 192, 0));
    QCOMPARE(text(STATION(w, expire)), QColor(128, 192, 255));
    QCOMPARE(text(CONTACT(w, tzOffset)), QColor(0, 192, 0));
    // A field palette sets one role and inherits the rest from the theme.
    QCOMPARE(FORM(w, search)->palette().color(QPalette::Base), QColor(Qt::black));

    QCOMPARE(themeOf(w)->colours().normalText, QColor(0, 192, 0));
    QCOMPARE(themeOf(w)->colours().normalBack, QColor(Qt::black));
    QCOMPARE(themeOf(w)->colours().ncsText, QColor(Qt::black));
    QCOMPARE(themeOf(w)->colours().ncsBack, QColor(Qt::white));
    QCOMPARE(themeOf(w)->colours().relayText, QColor(0, 192, 0));
    QCOMPARE(themeOf(w)->colours().relayBack, QColor(80, 0, 0));
    QCOMPARE(themeOf(w)->colours().relayCheckedText, QColor(255, 0, 0));
    QCOMPARE(themeOf(w)->colours().checkedText, QColor(128, 192, 255));
    QCOMPARE(themeOf(w)->colours().activeBack, QColor(60, 60, 60));
}

void TestThemes::lightThemeColours()
{
    Runtime rt;
    Trelvin *w = rt.start();
    stationOf(w)->show();
    FORM(w, actionLightTheme)->trigger();
    QCOMPARE(w->findChild<ThemeController *>()->name(), QStringLiteral("light"));

    QCOMPARE(w->palette(), w->findChild<ThemeController *>()->lightPalette());
    QCOMPARE(stationOf(w)->palette(), w->findChild<ThemeController *>()->lightPalette());
    QCOMPARE(reportsOf(w)->qsoWindow()->palette(), w->findChild<ThemeController *>()->lightPalette());
    QCOMPARE(documentsOf(w)->documentWindow()->palette(), w->findChild<ThemeController *>()->lightPalette());
    QCOMPARE(text(FORM(w, name)), QColor(0, 128, 0));
    QCOMPARE(text(FORM(w, revBear)), QColor(255, 0, 0));
    QCOMPARE(text(FORM(w, attend)), QColor(0, 0, 255));
    QCOMPARE(button(FORM(w, delRecBut)), QColor(255, 128, 128));
    QCOMPARE(button(FORM(w, lookUpButton)), QColor(0, 255, 0));
    QCOMPARE(button(FORM(w, logContactButton)), QColor(128, 192, 255));
    QCOMPARE(text(STATION(w, call)), QColor(0, 128, 0));
    QCOMPARE(text(CONTACT(w, email)), QColor(0, 128, 0));

    QCOMPARE(themeOf(w)->colours().normalText, QColor(0, 128, 0));
    QCOMPARE(themeOf(w)->colours().normalBack, QColor(Qt::white));
    QCOMPARE(themeOf(w)->colours().ncsText, QColor(Qt::white));
    QCOMPARE(themeOf(w)->colours().ncsBack, QColor(Qt::black));
    QCOMPARE(themeOf(w)->colours().relayBack, QColor(255, 128, 128));
    QCOMPARE(themeOf(w)->colours().checkedText, QColor(0, 0, 255));
    QCOMPARE(themeOf(w)->colours().activeBack, QColor(192, 192, 192));

    // And back to dark.
    FORM(w, actionDarkTheme)->trigger();
    QCOMPARE(w->findChild<ThemeController *>()->name(), QStringLiteral("dark"));
    QCOMPARE(stationOf(w)->palette(), w->findChild<ThemeController *>()->darkPalette());
    QCOMPARE(text(FORM(w, name)), QColor(0, 192, 0));
}

void TestThemes::alertFieldReturnsAfterSwitch()
{
    Runtime rt;
    Trelvin *w = rt.start();
    FORM(w, member)->setPalette(themeOf(w)->alert());
    FORM(w, beginTime)->setPalette(themeOf(w)->alert());
    QCOMPARE(text(FORM(w, member)), QColor(255, 0, 0));
    FORM(w, actionLightTheme)->trigger();
    QCOMPARE(text(FORM(w, member)), QColor(0, 128, 0));
    QCOMPARE(text(FORM(w, beginTime)), QColor(0, 0, 255));
}

void TestThemes::unknownThemeAppliesNone()
{
    Runtime rt;
    {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Quenlor", "Trelvin");
        settings.setValue("Main/Theme", "Dark");
    }
    Trelvin *w = rt.start();
    QCOMPARE(w->findChild<ThemeController *>()->name(), QStringLiteral("Dark"));
    QCOMPARE(w->palette(), QGuiApplication::palette());
    QVERIFY(!themeOf(w)->colours().normalText.isValid());
    QVERIFY(!themeOf(w)->colours().checkedText.isValid());
    QCOMPARE(FORM(w, search)->palette().resolveMask(), QPalette().resolveMask());
    // The theme stays as it was read, so it is written back unchanged.
    FORM(w, actionExit)->trigger();
    QSettings settings(rt.settingsFile(), QSettings::IniFormat);
    QCOMPARE(settings.value("Main/Theme").toString(), QStringLiteral("Dark"));
}

QTEST_MAIN(TestThemes)
#include "tst_themes.moc"
