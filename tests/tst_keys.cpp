#include "testsupport.h"

#include "app/trelvin.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "ui_trelvin.h"

#include <QLineEdit>
#include <QShortcut>
#include <QSignalSpy>
#include <QtTest>

class TestKeys : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowShortcuts_data();
    void windowShortcuts();
    void functionKeysClickTheirButtons_data();
    void functionKeysClickTheirButtons();
    void menuKeysOpenDialogs();
    void lineEditLimits_data();
    void lineEditLimits();
    void readOnlyAndUnfocusableFields();
    void tabOrder();

private:
    std::unique_ptr<Runtime> rt;
    Trelvin *w = nullptr;
};

void TestKeys::init()
{
    rt = std::make_unique<Runtime>();
    w = rt->start();
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
}

void TestKeys::cleanup()
{
    rt.reset();
    w = nullptr;
}

void TestKeys::windowShortcuts_data()
{
    QTest::addColumn<QKeySequence>("key");
    QTest::newRow("Esc") << QKeySequence(Qt::Key_Escape);
    QTest::newRow("F11") << QKeySequence(Qt::Key_F11);
    QTest::newRow("F12") << QKeySequence(Qt::Key_F12);
    QTest::newRow("Page Up") << QKeySequence(Qt::Key_PageUp);
    QTest::newRow("Up") << QKeySequence(Qt::Key_Up);
    QTest::newRow("Down") << QKeySequence(Qt::Key_Down);
    QTest::newRow("Page Down") << QKeySequence(Qt::Key_PageDown);
    QTest::newRow("Ctrl+Plus") << QKeySequence(Qt::CTRL | Qt::Key_Plus);
    QTest::newRow("Ctrl+Shift+Plus") << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Plus);
    QTest::newRow("Ctrl+Minus") << QKeySequence(Qt::CTRL | Qt::Key_Minus);
    QTest::newRow("Ctrl+Shift+Minus") << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Minus);
}

void TestKeys::windowShortcuts()
{
    QFETCH(QKeySequence, key);
    QShortcut *found = nullptr;
    for (QShortcut *shortcut : w->findChildren<QShortcut *>()) {
        if (shortcut->key() == key) {
            QVERIFY2(!found, "key bound twice");
            found = shortcut;
        }
    }
    QVERIFY(found);
    QCOMPARE(found->context(), Qt::WindowShortcut);
    QSignalSpy spy(found, &QShortcut::activated);
    FORM(w, search)->setFocus();
    QTest::keySequence(FORM(w, search), key);
    QCOMPARE(spy.count(), 1);
}

void TestKeys::functionKeysClickTheirButtons_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<int>("key");
    QTest::newRow("F1") << "trafficButton" << int(Qt::Key_F1);
    QTest::newRow("F2") << "mobileButton" << int(Qt::Key_F2);
    QTest::newRow("F3") << "shortButton" << int(Qt::Key_F3);
    QTest::newRow("F4") << "relayViaButton" << int(Qt::Key_F4);
    QTest::newRow("F5") << "lookUpButton" << int(Qt::Key_F5);
    QTest::newRow("F6") << "relayButton" << int(Qt::Key_F6);
    QTest::newRow("F7") << "NCSButton" << int(Qt::Key_F7);
    QTest::newRow("F8") << "logContactButton" << int(Qt::Key_F8);
}

void TestKeys::functionKeysClickTheirButtons()
{
    QFETCH(QString, buttonName);
    QFETCH(int, key);
    auto *button = w->findChild<QPushButton *>(buttonName);
    QVERIFY(button);
    QSignalSpy spy(button, &QPushButton::clicked);
    QTest::keyClick(FORM(w, search), Qt::Key(key));
    // A button's own shortcut clicks it with a short animation.
    QTRY_COMPARE(spy.count(), 1);
    // The F9 named in two tips is not bound.
    QTest::keyClick(FORM(w, search), Qt::Key_F9);
    QTest::qWait(150);
    QCOMPARE(spy.count(), 1);
}

void TestKeys::menuKeysOpenDialogs()
{
    QTest::keyClick(FORM(w, search), Qt::Key_S, Qt::AltModifier);
    QVERIFY(stationOf(w)->isVisible());
    QCOMPARE(stationOf(w)->windowTitle(), QStringLiteral("Alt+S: Station Details"));

    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::keyClick(FORM(w, search), Qt::Key_C, Qt::AltModifier);
    QVERIFY(contactOf(w)->isVisible());
    QCOMPARE(contactOf(w)->windowTitle(), QStringLiteral("Alt+C: Contact Details"));

    // Escape in a dialog brings the main window back without closing the dialog.
    QVERIFY(QTest::qWaitForWindowActive(contactOf(w)));
    QTest::keyClick(contactOf(w), Qt::Key_Escape);
    QVERIFY(QTest::qWaitForWindowActive(w));
    QVERIFY(contactOf(w)->isVisible());
}

void TestKeys::lineEditLimits_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("limit");
    QTest::newRow("search") << "search" << 6;
    QTest::newRow("call") << "call" << 6;
    QTest::newRow("name") << "name" << 15;
    QTest::newRow("city") << "city" << 20;
    QTest::newRow("state") << "state" << 2;
    QTest::newRow("club") << "club" << 8;
    QTest::newRow("qso") << "qso" << 128;
    QTest::newRow("delCon") << "delCon" << 6;
    QTest::newRow("delRec") << "delRec" << 6;
}

void TestKeys::lineEditLimits()
{
    QFETCH(QString, field);
    QFETCH(int, limit);
    auto *edit = w->findChild<QLineEdit *>(field);
    QVERIFY(edit);
    edit->clear();
    edit->setFocus();
    QTest::keyClicks(edit, QString(limit + 5, QLatin1Char('x')));
    QCOMPARE(edit->text().size(), limit);
}

void TestKeys::readOnlyAndUnfocusableFields()
{
    for (QLineEdit *edit : {FORM(w, attend), FORM(w, last), FORM(w, dist), FORM(w, bear), FORM(w, revBear)})
        QVERIFY2(edit->isReadOnly(), qPrintable(edit->objectName()));
    for (QWidget *field : {static_cast<QWidget *>(FORM(w, relay)), static_cast<QWidget *>(FORM(w, member)),
                           static_cast<QWidget *>(FORM(w, callsigns)), static_cast<QWidget *>(FORM(w, checkins))})
        QCOMPARE(field->focusPolicy(), Qt::NoFocus);
}

void TestKeys::tabOrder()
{
    FORM(w, call)->setFocus();
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(visited, (QStringList{"call", "name", "city", "state", "qso"}));
}

QTEST_MAIN(TestKeys)
#include "tst_keys.moc"
