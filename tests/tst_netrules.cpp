#include "checkin/netrules.h"

#include <QtTest>

using namespace NetRules;

class TestNetRules : public QObject {
    Q_OBJECT

private slots:
    void keysChangeTheStatus_data();
    void keysChangeTheStatus();
    void logLetters_data();
    void logLetters();
    void netLines_data();
    void netLines();
};

void TestNetRules::keysChangeTheStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("after");
    QTest::addColumn<bool>("withdraws");

    const int enter = CheckIn | FromSearch | CheckedIn;
    const int f8 = CheckToggle | FromSearch | CheckedIn;
    QTest::newRow("role on") << CheckedIn << Traffic << (CheckedIn | Traffic) << false;
    QTest::newRow("role off") << (CheckedIn | Traffic) << Traffic << CheckedIn << false;
    QTest::newRow("role from the search box") << 0 << (Traffic | FromSearch) << Traffic << false;
    QTest::newRow("second role") << Relay << Ncs << (Relay | Ncs) << false;
    QTest::newRow("Enter checks in") << Mobile << enter << (Mobile | CheckedIn) << false;
    QTest::newRow("Enter again stays checked in") << (Mobile | CheckedIn) << enter << (Mobile | CheckedIn) << false;
    QTest::newRow("F8 checks in") << Short << f8 << (Short | CheckedIn) << false;
    QTest::newRow("F8 withdraws") << (Short | CheckedIn) << f8 << Short << true;
    QTest::newRow("store only") << (Traffic | CheckedIn) << StoreOnly << (Traffic | CheckedIn) << false;
    QTest::newRow("store only keeps the key bits")
        << (Traffic | FromSearch) << StoreOnly << (Traffic | FromSearch) << false;
}

void TestNetRules::keysChangeTheStatus()
{
    QFETCH(int, status);
    QFETCH(int, key);
    QFETCH(int, after);
    QFETCH(bool, withdraws);
    const Transition transition = afterKey(status, key);
    QCOMPARE(transition.status, after);
    QCOMPARE(transition.withdraws, withdraws);
}

void TestNetRules::logLetters_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("letter");
    QTest::newRow("no role") << 0 << "-";
    QTest::newRow("checked in, from the search box") << (CheckIn | FromSearch | CheckedIn) << "-";
    QTest::newRow("NCS") << Ncs << "N";
    QTest::newRow("short before NCS") << (Short | Ncs) << "S";
    QTest::newRow("mobile before short") << (Mobile | Short) << "M";
    QTest::newRow("traffic before mobile") << (Traffic | Mobile | CheckedIn) << "T";
    QTest::newRow("relay before all") << (Roles | CheckedIn) << "R";
}

void TestNetRules::logLetters()
{
    QFETCH(int, status);
    QFETCH(QString, letter);
    QCOMPARE(logLetter(status), letter);
}

void TestNetRules::netLines_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("active");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("ink");
    QTest::addColumn<int>("paper");
    QTest::addColumn<int>("weight");

    const auto row = [](const char *name, int status, bool active, const char *code, Ink ink, Paper paper,
                        Weight weight) {
        QTest::newRow(name) << status << active << QString::fromLatin1(code) << int(ink) << int(paper) << int(weight);
    };
    row("plain", 0, false, "--", Ink::Normal, Paper::Normal, Weight::Unchanged);
    row("checked in", CheckedIn, false, "-C", Ink::Checked, Paper::Normal, Weight::Normal);
    row("short", Short, false, "S-", Ink::Normal, Paper::Normal, Weight::Unchanged);
    row("mobile over short", Mobile | Short, false, "M-", Ink::Normal, Paper::Normal, Weight::Unchanged);
    row("traffic over mobile", Traffic | Mobile, false, "T-", Ink::Normal, Paper::Normal, Weight::Unchanged);
    row("traffic from the search box", Traffic | FromSearch, false, "T-", Ink::Normal, Paper::Normal,
        Weight::Unchanged);
    row("traffic checked in", Traffic | CheckedIn, false, "TC", Ink::Checked, Paper::Normal, Weight::Normal);
    row("NCS", Ncs, false, "N-", Ink::Ncs, Paper::Ncs, Weight::Unchanged);
    row("NCS checked in", Ncs | CheckedIn, false, "NC", Ink::Ncs, Paper::Ncs, Weight::Unchanged);
    row("relay", Relay, false, "R-", Ink::Relay, Paper::Relay, Weight::Unchanged);
    row("relay over NCS", Relay | Ncs, false, "R-", Ink::Relay, Paper::Relay, Weight::Unchanged);
    row("relay checked in", Relay | CheckedIn, false, "RC", Ink::RelayChecked, Paper::Normal, Weight::Bold);
    row("active", Traffic, true, "T-", Ink::Normal, Paper::Active, Weight::Unchanged);
    row("active relay checked in", Relay | Ncs | CheckedIn, true, "RC", Ink::RelayChecked, Paper::Active, Weight::Bold);
}

void TestNetRules::netLines()
{
    QFETCH(int, status);
    QFETCH(bool, active);
    QFETCH(QString, code);
    QFETCH(int, ink);
    QFETCH(int, paper);
    QFETCH(int, weight);
    const Line line = netLine(status, active);
    QCOMPARE(line.code, code);
    QCOMPARE(int(line.ink), ink);
    QCOMPARE(int(line.paper), paper);
    QCOMPARE(int(line.weight), weight);
}

QTEST_APPLESS_MAIN(TestNetRules)
#include "tst_netrules.moc"
