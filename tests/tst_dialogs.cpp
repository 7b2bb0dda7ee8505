#include "dialogs/contact.h"
#include "dialogs/station.h"

#include <QApplication>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

std::unique_ptr<QDialog> makeDialog(const QString &kind)
{
    if (kind == QLatin1String("Station"))
        return std::make_unique<Station>();
    return std::make_unique<Contact>();
}

bool openAtExitOf(QDialog *dialog)
{
    if (auto *station = qobject_cast<Station *>(dialog))
        return station->openAtExit;
    return qobject_cast<Contact *>(dialog)->openAtExit;
}

QLineEdit *field(QDialog *dialog, const QString &name)
{
    return dialog->findChild<QLineEdit *>(name);
}

QSettings store()
{
    return {QSettings::IniFormat, QSettings::UserScope, "Quenlor", "Trelvin"};
}

bool showActive(QWidget *window)
{
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

// Spies on every signal the dialog declares, so a test sees exactly which
// requests left the dialog: "connectSig", or "" for none.
class SignalLog {
public:
    explicit SignalLog(QObject *object)
    {
        const QMetaObject *meta = object->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                spies.push_back(std::make_unique<QSignalSpy>(object, meta->method(i)));
        }
    }
    QString summary() const
    {
        QStringList fired;
        for (const auto &spy : spies) {
            for (int i = 0; i < spy->count(); ++i)
                fired.append(QString::fromLatin1(spy->signal()).section('(', 0, 0));
        }
        return fired.join(',');
    }

private:
    std::vector<std::unique_ptr<QSignalSpy>> spies;
};

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(settingsDir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    }

    void init() { store().clear(); }

    void gridLocator_data()
    {
        QTest::addColumn<double>("lat");
        QTest::addColumn<double>("lon");
        QTest::addColumn<QString>("grid");

        QTest::newRow("salt lake city") << 40.7608 << -111.8910 << "DN40bs";
        QTest::newRow("greenwich") << 51.4778 << -0.0015 << "IO91xl";
        QTest::newRow("sydney") << -33.8688 << 151.2093 << "QF56od";
        QTest::newRow("origin") << 0.0 << 0.0 << "JJ00aa";
        QTest::newRow("just south-west of origin") << -0.0001 << -0.0001 << "II99xx";
        QTest::newRow("south-west corner") << -90.0 << -180.0 << "AA00aa";
        QTest::newRow("just inside north-east corner") << 89.99999 << 179.99999 << "RR99xx";
        // The pole and the date line are not clamped: one past 'R'.
        QTest::newRow("north pole") << 90.0 << 0.0 << "JS00aa";
        QTest::newRow("north-east corner") << 90.0 << 180.0 << "SS00aa";
        // Off the globe the offsets truncate toward zero, not down.
        QTest::newRow("west of the globe") << 0.0 << -405.0 << "6J.0Ua";
    }

    void gridLocator()
    {
        QFETCH(double, lat);
        QFETCH(double, lon);
        QFETCH(QString, grid);
        QCOMPARE(maidenheadGrid(lat, lon), grid);
    }

    void gridFollowsTyping_data()
    {
        QTest::addColumn<QString>("lat");
        QTest::addColumn<QString>("lon");
        QTest::addColumn<QString>("grid");

        QTest::newRow("both typed") << "40.7608"
                                    << "-111.891"
                                    << "DN40bs";
        QTest::newRow("latitude not a number") << "abc"
                                               << "0"
                                               << "JJ00aa";
        QTest::newRow("longitude still empty") << "40.7608"
                                               << ""
                                               << "before";
        QTest::newRow("latitude still empty") << ""
                                              << "-111.891"
                                              << "before";
    }

    void gridFollowsTyping()
    {
        QFETCH(QString, lat);
        QFETCH(QString, lon);
        QFETCH(QString, grid);

        Station station;
        field(&station, "grid")->setText("before");
        QTest::keyClicks(field(&station, "lat"), lat);
        QTest::keyClicks(field(&station, "lon"), lon);
        QCOMPARE(field(&station, "grid")->text(), grid);
    }

    void gridIgnoresProgramText()
    {
        // The stored station record fills the coordinates; its own grid must survive.
        Station station;
        field(&station, "grid")->setText("CN87");
        field(&station, "lat")->setText("40.7608");
        field(&station, "lon")->setText("-111.891");
        QCOMPARE(field(&station, "grid")->text(), QStringLiteral("CN87"));
    }

    void typingUpperCase_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("cursorAfter");

        QTest::newRow("station call") << "Station"
                                      << "call"
                                      << "" << 0 << "k7abc"
                                      << "K7ABC" << 5;
        QTest::newRow("station call, in the middle") << "Station"
                                                     << "call"
                                                     << "K7BC" << 2 << "a"
                                                     << "K7ABC" << 3;
        QTest::newRow("station state") << "Station"
                                       << "state"
                                       << "" << 0 << "ut"
                                       << "UT" << 2;
        QTest::newRow("contact call") << "Contact"
                                      << "call"
                                      << "" << 0 << "w1aw"
                                      << "W1AW" << 4;
        QTest::newRow("contact call, at the front") << "Contact"
                                                    << "call"
                                                    << "1AW" << 0 << "w"
                                                    << "W1AW" << 1;
        QTest::newRow("contact name left alone") << "Contact"
                                                 << "name"
                                                 << "" << 0 << "smith"
                                                 << "smith" << 5;
        QTest::newRow("contact state left alone") << "Contact"
                                                  << "state"
                                                  << "" << 0 << "ut"
                                                  << "ut" << 2;
    }

    void typingUpperCase()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, field);
        QFETCH(QString, before);
        QFETCH(int, cursor);
        QFETCH(QString, typed);
        QFETCH(QString, after);
        QFETCH(int, cursorAfter);

        auto window = makeDialog(dialog);
        QLineEdit *edit = ::field(window.get(), field);
        edit->setText(before);
        edit->setCursorPosition(cursor);
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->text(), after);
        QCOMPARE(edit->cursorPosition(), cursorAfter);
    }

    void settingsRoundTrip_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QSize>("formSize");
        QTest::newRow("station") << "Station" << QSize(215, 296);
        QTest::newRow("contact") << "Contact" << QSize(320, 251);
    }

    void settingsRoundTrip()
    {
        QFETCH(QString, dialog);
        QFETCH(QSize, formSize);
        const auto call = [](QDialog *d, const char *slot) { QMetaObject::invokeMethod(d, slot); };

        // First start: nothing stored, the form's own size stays.
        auto first = makeDialog(dialog);
        call(first.get(), "readSettings");
        QVERIFY(!openAtExitOf(first.get()));
        QCOMPARE(first->size(), formSize);

        // Above the layout's minimum with any font, so showing keeps it.
        const QSize stored = first->minimumSizeHint() + QSize(120, 90);
        first->resize(stored);
        first->move(60, 70);
        first->show();
        call(first.get(), "writeSettings");
        QVERIFY(openAtExitOf(first.get()));
        QSettings settings = store();
        settings.beginGroup(dialog);
        QCOMPARE(settings.value("Exist").toString(), QStringLiteral("Yes"));
        QCOMPARE(settings.value("Visible").toString(), QStringLiteral("Yes"));
        QVERIFY(!settings.contains("Content"));

        auto second = makeDialog(dialog);
        call(second.get(), "readSettings");
        QVERIFY(openAtExitOf(second.get()));
        QCOMPARE(second->size(), stored);
        QCOMPARE(second->pos(), first->pos());
        QVERIFY(!second->isVisible());

        first->hide();
        call(first.get(), "writeSettings");
        call(second.get(), "readSettings");
        QVERIFY(!openAtExitOf(second.get()));

        // Closing by the title bar saves the group too.
        store().clear();
        first->show();
        QVERIFY(first->close());
        QCOMPARE(store().value(dialog + "/Exist").toString(), QStringLiteral("Yes"));
    }

    void requests_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("how"); // a key sequence, "click:<button>" or "<key>:<field>"
        QTest::addColumn<QString>("emitted");

        QTest::newRow("station Alt+C") << "Station"
                                       << "Alt+C"
                                       << "connectSig";
        QTest::newRow("station Alt+S") << "Station"
                                       << "Alt+S"
                                       << "saveStationSig";
        QTest::newRow("station Alt+G") << "Station"
                                       << "Alt+G"
                                       << "getStationSig";
        QTest::newRow("station Connect QRZ") << "Station"
                                             << "click:connectQRZ"
                                             << "connectSig";
        QTest::newRow("station Save Station") << "Station"
                                              << "click:saveStation"
                                              << "saveStationSig";
        QTest::newRow("station Get Station") << "Station"
                                             << "click:getStation"
                                             << "getStationSig";
        QTest::newRow("station Escape") << "Station"
                                        << "escape:lat"
                                        << "escapeSig";
        // No button is the default, so Enter in a field asks for nothing.
        QTest::newRow("station Enter in call") << "Station"
                                               << "enter:call"
                                               << "";
        QTest::newRow("station Enter in lat") << "Station"
                                              << "enter:lat"
                                              << "";

        QTest::newRow("contact Alt+G") << "Contact"
                                       << "Alt+G"
                                       << "getContactSig";
        QTest::newRow("contact Alt+S") << "Contact"
                                       << "Alt+S"
                                       << "saveContactSig";
        QTest::newRow("contact Get Contact") << "Contact"
                                             << "click:getContact"
                                             << "getContactSig";
        QTest::newRow("contact Save Contact") << "Contact"
                                              << "click:saveContact"
                                              << "saveContactSig";
        QTest::newRow("contact Escape") << "Contact"
                                        << "escape:call"
                                        << "escapeSig";
        QTest::newRow("contact Enter in call looks up") << "Contact"
                                                        << "enter:call"
                                                        << "getContactSig";
        QTest::newRow("contact Enter in name") << "Contact"
                                               << "enter:name"
                                               << "";
    }

    void requests()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, how);
        QFETCH(QString, emitted);

        auto window = makeDialog(dialog);
        QVERIFY(showActive(window.get()));
        SignalLog log(window.get());

        const QString target = how.section(':', 1);
        if (how.startsWith("click:")) {
            auto *button = window->findChild<QPushButton *>(target);
            QVERIFY(button);
            QTest::mouseClick(button, Qt::LeftButton);
        } else if (how.contains(':')) {
            QLineEdit *edit = field(window.get(), target);
            edit->setFocus();
            QTest::keyClick(edit, how.startsWith("enter") ? Qt::Key_Return : Qt::Key_Escape);
        } else {
            QTest::keySequence(window.get(), QKeySequence(how));
        }
        QCOMPARE(log.summary(), emitted);
        QVERIFY(window->isVisible()); // Escape brings the main window forward; the dialog stays
    }

    void tabOrder_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QStringList>("order");

        QTest::newRow("station") << "Station" << QStringList{"call", "pwd", "state", "lat",        "lon",
                                                             "grid", "utc", "dst",   "hamqthUser", "hamqthPwd"};
        QTest::newRow("contact") << "Contact"
                                 << QStringList{"call", "classlic", "fname", "name",  "city",   "expire", "state",
                                                "zip",  "lat",      "utc",   "lon",   "dst",    "grid",   "tzOffset",
                                                "addr", "country",  "email", "phone", "geoloc", "born"};
    }

    void tabOrder()
    {
        QFETCH(QString, dialog);
        QFETCH(QStringList, order);

        auto window = makeDialog(dialog);
        QVERIFY(showActive(window.get()));
        field(window.get(), order.first())->setFocus();

        // One full round: buttons and read-only fields are never reached by Tab.
        QStringList visited{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.append(QApplication::focusWidget()->objectName());
        }
        QCOMPARE(visited, order + QStringList{order.first()});
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
