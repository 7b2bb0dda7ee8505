#include "testsupport.h"

#include "app/trelvin.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTextEdit>
#include <QtTest>

// After every box a menu action raises, the operator types the next call
// without reaching for the mouse.
class TestFocus : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void afterEveryBox_data();
    void afterEveryBox();
    void windowOpenedByActionKeepsKeyboard();
    void entryFieldKeepsKeyboard();

private:
    QString writeFile(const QString &name, const QByteArray &bytes);
    std::unique_ptr<Runtime> rt;
    Trelvin *w = nullptr;
    QTemporaryDir files;
};

void TestFocus::init()
{
    rt = std::make_unique<Runtime>();
    QVERIFY(rt->installInfo("State_Info.csv"));
    rt->addEmptyRoster();
    w = rt->start();
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    rt->prompter.clear();
}

void TestFocus::cleanup()
{
    rt.reset();
    w = nullptr;
}

QString TestFocus::writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(files.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(bytes);
    return file.fileName();
}

void TestFocus::afterEveryBox_data()
{
    QTest::addColumn<QString>("action");
    // What the file chooser answers: a file of these bytes, "<missing>" for
    // a path in a folder that does not exist, "<data>" for the data folder.
    QTest::addColumn<QByteArray>("chosen");
    QTest::addColumn<QString>("title");

    QTest::newRow("load roster, empty file") << "actionLoadRoster" << QByteArray("") << "Nothing Loaded";
    QTest::newRow("load contacts, empty file") << "actionLoadContacts" << QByteArray("") << "Nothing Loaded";
    QTest::newRow("load net log, empty file") << "actionLoadTrelvin" << QByteArray("") << "Nothing Loaded";
    QTest::newRow("load call book, not a zip")
        << "actionLoadFccCallBook" << QByteArray("not a zip archive\n") << "FCC Call Book Not Loaded";
    QTest::newRow("save roster, no folder") << "actionSaveRoster" << QByteArray("<missing>") << "Can't Open File";
    QTest::newRow("save contacts, no folder") << "actionSaveContacts" << QByteArray("<missing>") << "Can't Open File";
    QTest::newRow("save net log, no folder") << "actionSaveTrelvin" << QByteArray("<missing>") << "Can't Open File";
    QTest::newRow("ADIF of an empty net") << "actionSaveNetAdif" << QByteArray("<missing>") << "Empty Net";
    QTest::newRow("ICS-309 of an empty net") << "actionSaveIcs309" << QByteArray("<missing>") << "Empty Net";
    QTest::newRow("same data folder") << "actionSet_Data_Directory" << QByteArray("<data>")
                                      << "Same Trelvin Data Directory";
    QTest::newRow("update check without server") << "actionCheck_for_Updates" << QByteArray() << "Check for Updates";
    QTest::newRow("club data without QRZ") << "actionQRZClubData" << QByteArray() << "Not Connected to QRZ Database";
}

void TestFocus::afterEveryBox()
{
    QFETCH(QString, action);
    QFETCH(QByteArray, chosen);
    QFETCH(QString, title);

    if (chosen == "<missing>")
        rt->prompter.paths << files.filePath("no such folder/file.csv");
    else if (chosen == "<data>")
        rt->prompter.paths << rt->dataPath();
    else if (!chosen.isNull())
        rt->prompter.paths << writeFile("chosen.csv", chosen);
    // Whatever had the keyboard before (here: nothing) does not matter.
    if (QWidget *focus = QApplication::focusWidget())
        focus->clearFocus();

    QAction *menuAction = w->findChild<QAction *>(action);
    QVERIFY(menuAction);
    menuAction->trigger();
    QTRY_VERIFY2_WITH_TIMEOUT(rt->prompter.titles().contains(title), qPrintable(rt->prompter.titles().join(", ")),
                              20000);
    QTRY_VERIFY(QApplication::focusWidget());
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("search"));
    // The operator types on.
    QTest::keyClicks(QApplication::focusWidget(), "w1aw");
    QCOMPARE(w->findChild<QLineEdit *>("search")->text(), QStringLiteral("W1AW"));
}

void TestFocus::windowOpenedByActionKeepsKeyboard()
{
    // Station Details is where the operator types next.
    QAction *station = w->findChild<QAction *>("actionStationDetails");
    QVERIFY(station);
    station->trigger();
    QTRY_VERIFY(QApplication::activeWindow() && QApplication::activeWindow() != w);
    QTest::qWait(50);
    QCOMPARE(QApplication::activeWindow()->objectName(), QStringLiteral("Station"));
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("call"));
}

void TestFocus::entryFieldKeepsKeyboard()
{
    // An operator half-way through an entry comes back to the same field.
    QLineEdit *city = w->findChild<QLineEdit *>("city");
    city->setFocus();
    w->findChild<QAction *>("actionLightTheme")->trigger();
    QTest::qWait(50);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(city));

    // The net list is no place to type a call.
    w->findChild<QTextEdit *>("checkins")->setFocus();
    w->findChild<QAction *>("actionDarkTheme")->trigger();
    QTRY_COMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("search"));
}

QTEST_MAIN(TestFocus)
#include "tst_focus.moc"
