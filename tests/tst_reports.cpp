#include "testsupport.h"

#include "app/settings.h"
#include "app/trelvin.h"
#include "reports/reportlines.h"
#include "reports/reportscontroller.h"
#include "reports/seelogs.h"
#include "ui_seelogs.h"
#include "ui_trelvin.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <functional>
#include <limits>

namespace {

QString blanks(int count)
{
    return QString(count, QLatin1Char(' '));
}

QStringList reportLines(SeeLogs *window)
{
    const QString text = window->logView()->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

void addLog(Trelvin *w, const QString &date, const QString &time, const QString &status, const QString &call,
            const QString &name = QString(), const QString &relay = QString(), const QString &city = QString(),
            const QString &state = QString(), const QString &comment = QString())
{
    QSqlQuery query(fileDb(w));
    query.prepare("INSERT INTO log (id, date, time, status, call, name, relay, city, state, comment) "
                  "VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (const QString &value : {date, time, status, call, name, relay, city, state, comment})
        query.addBindValue(value);
    QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
}

void addContact(Trelvin *w, const QString &call, const QString &name, const QString &city, const QString &state)
{
    QSqlQuery query(fileDb(w));
    query.prepare("INSERT INTO contact (id, call, name, city, state) VALUES (NULL, ?, ?, ?, ?)");
    for (const QString &value : {call, name, city, state})
        query.addBindValue(value);
    QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
}

void setMembers(Trelvin *w, const QStringList &calls)
{
    QSqlQuery query(memoryDb(w));
    QVERIFY(query.exec("DELETE FROM mbr"));
    for (const QString &call : calls) {
        query.prepare("INSERT INTO mbr (id, call) VALUES (NULL, ?)");
        query.addBindValue(call);
        QVERIFY(query.exec());
    }
}

void selectDay(Trelvin *w, int month, int day, int year, const QString &begin, const QString &end)
{
    FORM(w, month)->setValue(month);
    FORM(w, day)->setValue(day);
    FORM(w, year)->setValue(year);
    FORM(w, beginTime)->setText(begin);
    FORM(w, endTime)->setText(end);
}

// The check-ins of 5 January 2024 and a few look-alike dates around it.
void seedJanuaryFifth(Trelvin *w)
{
    addLog(w, "240105", "00:00:30", "M", "W1AW", "Hiram", "", "Newington", "CT", "early bird");
    addLog(w, "240105", "10:30:00", "T", "K7ABC", "Bartholomew", "W1AW", "Salt Lake City", "UT", "Good signal");
    addLog(w, "240105", "09:00:00", "-", "N0ZZ", "Zed", "", "Denver", "CO", "");
    addLog(w, "240105", "23:59:30", "-", "W9LATE", "Lou", "", "Chicago", "IL", "last minute");
    addLog(w, "240105", "09:00:01", "S", "KD7XYZ", "Ann", "", "Provo", "UT", "");
    // Same digits in other orders and neighbouring days must stay out.
    for (const char *other : {"240104", "240106", "250105", "240501", "050124", "241005"})
        addLog(w, QString::fromLatin1(other), "10:00:00", "-", "AA1X", "Decoy", "", "Nowhere", "XX", "");
}

} // namespace

class TestReports : public QObject {
    Q_OBJECT

private slots:
    void cellWidths_data();
    void cellWidths();
    void callColumn_data();
    void callColumn();
    void clockAcceptance_data();
    void clockAcceptance();
    void headers();

    void dateLogListsOneDay();
    void dateLogSpan_data();
    void dateLogSpan();
    void refusedTime_data();
    void refusedTime();
    void unpaddedTimeIsWrittenBack();

    void wholeLog();
    void contacts();
    void roster();
    void qsoHistory();
    void singleQuoteInCalls();

    void menuActions_data();
    void menuActions();
    void qsoActionWithoutCallKeepsContent();
    void openLogReportsFollowADeletedRecord();
};

void TestReports::cellWidths_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("cell");
    QTest::newRow("right-aligned") << "7" << 3 << "  7";
    QTest::newRow("left-aligned") << "Call" << -6 << "Call  ";
    QTest::newRow("exact fit") << "KD7ABC" << -6 << "KD7ABC";
    QTest::newRow("longer left value is not cut") << "Maximilian Smyth" << -15 << "Maximilian Smyth";
    QTest::newRow("longer right value is not cut") << "123456" << 5 << "123456";
    QTest::newRow("empty value fills the column") << "" << -4 << "    ";
    QTest::newRow("percent text stays literal") << "%1 %2" << -7 << "%1 %2  ";
}

void TestReports::cellWidths()
{
    QFETCH(QString, value);
    QFETCH(int, width);
    QFETCH(QString, cell);
    QCOMPARE(ReportLines::cell(value, width), cell);
}

void TestReports::callColumn_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("column");
    QTest::newRow("one-letter prefix") << "K7ABC"
                                       << " K 7 ABC";
    QTest::newRow("two-letter prefix") << "KD7ABC"
                                       << "KD 7 ABC";
    QTest::newRow("short suffix") << "N0ZZ"
                                  << " N 0 ZZ";
    QTest::newRow("digit first") << "3DA0XY"
                                 << "3D A 0XY";
    QTest::newRow("empty") << ""
                           << "  ";
}

void TestReports::callColumn()
{
    QFETCH(QString, call);
    QFETCH(QString, column);
    QCOMPARE(ReportLines::callColumn(call), column);
}

void TestReports::clockAcceptance_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("kept");
    QTest::newRow("start of day") << "00:00" << true << "00:00";
    QTest::newRow("end of day") << "23:59" << true << "23:59";
    QTest::newRow("unpadded kept as typed") << "7:5" << true << "7:5";
    QTest::newRow("letters read as zero") << "x:30" << true << "x:30";
    QTest::newRow("hour 24") << "24:00" << false << "";
    QTest::newRow("minute 60") << "12:60" << false << "";
    QTest::newRow("negative hour") << "-1:00" << false << "";
    QTest::newRow("one part") << "12" << false << "";
    QTest::newRow("three parts") << "12:30:15" << false << "";
    QTest::newRow("empty") << "" << false << "";
}

void TestReports::clockAcceptance()
{
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    QFETCH(QString, kept);
    const std::optional<QString> result = ReportLines::acceptedClock(typed);
    QCOMPARE(result.has_value(), accepted);
    if (accepted)
        QCOMPARE(*result, kept);
}

void TestReports::headers()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    setMembers(w, {});
    selectDay(w, 1, 5, 24, "00:00", "23:59");

    reportsOf(w)->showSelectedNetLog();
    reportsOf(w)->showWholeLog();
    reportsOf(w)->showContacts();
    reportsOf(w)->showRoster();
    reportsOf(w)->showQsoHistory("K7ABC", 2);

    QCOMPARE(reportsOf(w)->dateLogWindow()->headerView()->toPlainText(),
             " No S Call   Name       Relay  Comment" + blanks(121) + " St City" + blanks(21) + " Time    ");
    QCOMPARE(reportsOf(w)->wholeLogWindow()->headerView()->toPlainText(),
             "RecNo  Date    Time   S Call   Name" + blanks(12) + "Relay  St City" + blanks(22) + "Comments from QSO"
                 + blanks(111));
    QCOMPARE(reportsOf(w)->contactsWindow()->headerView()->toPlainText(),
             "  No Pr R Suf Name       St City" + blanks(16));
    QCOMPARE(reportsOf(w)->rosterWindow()->headerView()->toPlainText(),
             "  No   Call   Name       St City" + blanks(16));
    QCOMPARE(reportsOf(w)->qsoWindow()->headerView()->toPlainText(), " Date  Comments from the QSO" + blanks(107));

    // Empty tables: the headers stand over empty reports.
    for (SeeLogs *report : {reportsOf(w)->dateLogWindow(), reportsOf(w)->wholeLogWindow(),
                            reportsOf(w)->contactsWindow(), reportsOf(w)->rosterWindow(), reportsOf(w)->qsoWindow()})
        QCOMPARE(report->logView()->toPlainText(), QString());
    QCOMPARE(reportsOf(w)->wholeLogWindow()->windowTitle(), QStringLiteral("Net Log Database with 0 logged Contacts"));
}

void TestReports::dateLogListsOneDay()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    seedJanuaryFifth(w);
    selectDay(w, 1, 5, 24, "00:00", "10:00");

    // Left over from elsewhere: the report must put its own view settings back.
    reportsOf(w)->dateLogWindow()->logView()->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    reportsOf(w)->dateLogWindow()->logView()->setPlainText("old line\nanother old line");
    reportsOf(w)->dateLogWindow()->logView()->moveCursor(QTextCursor::End);

    FORM(w, actionShow_Net_Log_Select)->trigger();

    QCOMPARE(reportsOf(w)->selectedDateText(), QStringLiteral(" 1/ 5/24"));
    QCOMPARE(reportsOf(w)->dateLogWindow()->windowTitle(),
             QStringLiteral("Net Check-In Log for Date:  1/ 5/24 and Time: 00:00:00 through 10:00:00"));
    const QStringList lines = reportLines(reportsOf(w)->dateLogWindow());
    QCOMPARE(lines.size(), 3);
    // Latest first, numbered down from the count; the name is cut to 10.
    QCOMPARE(lines.at(0),
             "  3 S KD7XYZ Ann        " + blanks(6) + " " + blanks(128) + " UT Provo" + blanks(20) + " 09:00:01");
    QCOMPARE(lines.at(1),
             "  2 - N0ZZ   Zed        " + blanks(6) + " " + blanks(128) + " CO Denver" + blanks(19) + " 09:00:00");
    QCOMPARE(lines.at(2), "  1 M W1AW   Hiram      " + blanks(6) + " early bird" + blanks(118) + " CT Newington"
                              + blanks(16) + " 00:00:30");
    QCOMPARE(reportsOf(w)->dateLogWindow()->logView()->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(reportsOf(w)->dateLogWindow()->logView()->textCursor().position(), 0);

    // Running again replaces the lines rather than adding to them.
    FORM(w, endTime)->setText("11:00");
    reportsOf(w)->showSelectedNetLog();
    const QStringList again = reportLines(reportsOf(w)->dateLogWindow());
    QCOMPARE(again.size(), 4);
    QCOMPARE(again.at(0), "  4 T K7ABC  Bartholome W1AW   Good signal" + blanks(117) + " UT Salt Lake City" + blanks(11)
                              + " 10:30:00");
}

void TestReports::dateLogSpan_data()
{
    QTest::addColumn<QString>("begin");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("numbersAndTimes");
    QTest::newRow("whole day stops before 23:59:30")
        << "00:00"
        << "23:59" << QStringList{"  4 10:30:00", "  3 09:00:01", "  2 09:00:00", "  1 00:00:30"};
    QTest::newRow("both ends strict") << "09:00"
                                      << "10:30" << QStringList{"  1 09:00:01"};
    QTest::newRow("nothing in the last hour") << "23:00"
                                              << "23:59" << QStringList{};
}

void TestReports::dateLogSpan()
{
    QFETCH(QString, begin);
    QFETCH(QString, end);
    QFETCH(QStringList, numbersAndTimes);
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    seedJanuaryFifth(w);
    selectDay(w, 1, 5, 24, begin, end);
    reportsOf(w)->showSelectedNetLog();
    QStringList seen;
    for (const QString &line : reportLines(reportsOf(w)->dateLogWindow()))
        seen.append(line.left(3) + ' ' + line.right(8));
    QCOMPARE(seen, numbersAndTimes);
}

void TestReports::refusedTime_data()
{
    QTest::addColumn<bool>("inBegin");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("title");
    const QString date = QStringLiteral("Net Check-In Log for Date:  1/ 5/24 and Time: ");
    QTest::newRow("begin 24:00") << true << "24:00" << date + "00:00:00 through 10:00:00";
    QTest::newRow("begin with one part") << true << "12" << date + "00:00:00 through 10:00:00";
    // The begin time was accepted before the end time was refused.
    QTest::newRow("end 24:00") << false << "24:00" << date + "08:00:00 through 10:00:00";
    QTest::newRow("end with one part") << false << "12" << date + "08:00:00 through 10:00:00";
}

void TestReports::refusedTime()
{
    QFETCH(bool, inBegin);
    QFETCH(QString, typed);
    QFETCH(QString, title);
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    seedJanuaryFifth(w);
    selectDay(w, 1, 5, 24, "00:00", "10:00");
    FORM(w, actionShow_Net_Log_Select)->trigger();
    const QString before = reportsOf(w)->dateLogWindow()->logView()->toPlainText();
    QCOMPARE(reportLines(reportsOf(w)->dateLogWindow()).size(), 3);

    // Another day and a refused time: the old report and date stay.
    selectDay(w, 1, 6, 24, inBegin ? typed : "08:00", inBegin ? "10:00" : typed);
    FORM(w, actionShow_Net_Log_Select)->trigger();

    QLineEdit *refused = inBegin ? FORM(w, beginTime) : FORM(w, endTime);
    QCOMPARE(refused->text(), QStringLiteral("ERR"));
    QCOMPARE(refused->palette().color(QPalette::Text), themeOf(w)->alert().color(QPalette::Text));
    QVERIFY(themeOf(w)->alert().color(QPalette::Text) != themeOf(w)->info().color(QPalette::Text));
    if (!inBegin) {
        QCOMPARE(FORM(w, beginTime)->text(), QStringLiteral("08:00"));
        QCOMPARE(FORM(w, beginTime)->palette().color(QPalette::Text), themeOf(w)->info().color(QPalette::Text));
    }
    QCOMPARE(reportsOf(w)->dateLogWindow()->logView()->toPlainText(), before);
    QCOMPARE(reportsOf(w)->dateLogWindow()->windowTitle(), title);
}

void TestReports::unpaddedTimeIsWrittenBack()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    reportsOf(w)->dateLogWindow()->logView()->setPlainText("stale");
    selectDay(w, 12, 25, 23, "7:5", "9:0");
    FORM(w, actionShow_Net_Log_Select)->trigger();
    QCOMPARE(FORM(w, beginTime)->text(), QStringLiteral("7:5"));
    QCOMPARE(FORM(w, endTime)->text(), QStringLiteral("9:0"));
    QCOMPARE(FORM(w, endTime)->palette().color(QPalette::Text), themeOf(w)->info().color(QPalette::Text));
    QCOMPARE(reportsOf(w)->dateLogWindow()->windowTitle(),
             QStringLiteral("Net Check-In Log for Date: 12/25/23 and Time: 7:5:00 through 9:0:00"));
    // The report ran (and found nothing), replacing the old text.
    QCOMPARE(reportsOf(w)->dateLogWindow()->logView()->toPlainText(), QString());
}

void TestReports::wholeLog()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    addLog(w, "240105", "10:30:00", "T", "K7ABC", "Maximilian Smyth", "W1AW", "Salt Lake City", "UT", "Good signal");
    addLog(w, "240106", "08:00:00", "-", "KD7XYZ", "Ann", "", "Boise", "ID", "");
    addLog(w, "240105", "11:00:00", "N", "N0ZZ", "Zed", "", "Denver", "CO", "net control");
    addLog(w, "231231", "23:00:00", "R", "W1AW", "Hiram", "", "Newington", "CT", "");

    reportsOf(w)->showWholeLog();
    const QStringList lines = reportLines(reportsOf(w)->wholeLogWindow());
    QCOMPARE(lines.size(), 4);
    QCOMPARE(reportsOf(w)->wholeLogWindow()->windowTitle(), QStringLiteral("Net Log Database with 4 logged Contacts"));
    // Newest date first, and within a date the latest time.
    QStringList ids;
    for (const QString &line : lines)
        ids.append(line.left(5));
    QCOMPARE(ids, (QStringList{"    2", "    3", "    1", "    4"}));
    QCOMPARE(lines.at(0), "    2 240106 08:00:00 - KD7XYZ Ann" + blanks(20) + "ID Boise" + blanks(149));
    // Sixteen characters of name push the rest one column to the right.
    QCOMPARE(lines.at(2), "    1 240105 10:30:00 T K7ABC  Maximilian Smyth W1AW   UT Salt Lake City" + blanks(11)
                              + " Good signal" + blanks(117));
    const QString header = reportsOf(w)->wholeLogWindow()->headerView()->toPlainText();
    const int relayColumn = header.indexOf("Relay");
    const int stateColumn = header.indexOf(" St ") + 1;
    QCOMPARE(lines.at(2).mid(relayColumn + 1, 4), QStringLiteral("W1AW"));
    QCOMPARE(lines.at(2).mid(stateColumn + 1, 2), QStringLiteral("UT"));
    QCOMPARE(lines.at(1).mid(stateColumn, 2), QStringLiteral("CO"));
}

void TestReports::contacts()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    addContact(w, "N0ZZ", "Zed", "Denver", "CO");
    addContact(w, "KD7ABD", "Christopher", "Salt Lake City Metropolitan", "UT");
    addContact(w, "AA6B", "Bea", "Fresno", "CA");
    addContact(w, "K7ABC", "Bob", "Provo", "UT");
    addContact(w, "W1AAA", "Al", "Newington", "CT");

    reportsOf(w)->showContacts();
    QCOMPARE(reportsOf(w)->contactsWindow()->windowTitle(), QStringLiteral("Contacts Database with 5 Contacts"));
    // Suffix order: AAA, ABC, ABD, B, ZZ; prefix, digit and suffix in columns.
    QCOMPARE(reportLines(reportsOf(w)->contactsWindow()),
             (QStringList{"   1  W 1 AAA Al" + blanks(9) + "CT Newington" + blanks(11),
                          "   2  K 7 ABC Bob" + blanks(8) + "UT Provo" + blanks(15),
                          "   3 KD 7 ABD Christophe UT Salt Lake City Metro",
                          "   4 AA 6 B   Bea" + blanks(8) + "CA Fresno" + blanks(14),
                          "   5  N 0 ZZ  Zed" + blanks(8) + "CO Denver" + blanks(14)}));
    QCOMPARE(reportsOf(w)->contactsWindow()->logView()->textCursor().position(), 0);

    // Cut and padded by characters, not bytes, where the text is not ASCII.
    addContact(w, "W2ÄÖ", "Zoë-Éléonore", "Saint-Étienne-de-Montluçon", "ÎF");
    addLog(w, "240105", "12:00:00", "-", "W2ÄÖ", "Zoë-Éléonore", "", "Montluçon", "ÎF", "très bien");
    reportsOf(w)->showContacts();
    QCOMPARE(reportLines(reportsOf(w)->contactsWindow()).last(), "   6  W 2 ÄÖ  Zoë-Éléono ÎF Saint-Étienne-de-Mon");
    reportsOf(w)->showWholeLog();
    QCOMPARE(reportLines(reportsOf(w)->wholeLogWindow()).value(0), "    1 240105 12:00:00 - W2ÄÖ   Zoë-Éléonore    "
                                                                       + blanks(6) + " ÎF Montluçon" + blanks(16)
                                                                       + " très bien" + blanks(119));
}

void TestReports::roster()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    addContact(w, "N0ZZ", "Zed", "Denver", "CO");
    addContact(w, "KD7ABD", "Christopher", "Salt Lake City Metropolitan", "UT");
    addContact(w, "K7ABC", "Bob", "Provo", "UT");
    addContact(w, "W1AAA", "Al", "Newington", "CT");
    setMembers(w, {"N0ZZ", "W9NONE", "K7ABC", "W1AAA"});
    w->findChild<Settings *>()->setClub(QStringLiteral("QRP"));

    reportsOf(w)->showRoster();
    // W9NONE has no contact record: left out, and the numbers close up.
    QCOMPARE(reportLines(reportsOf(w)->rosterWindow()),
             (QStringList{"   1  W 1 AAA Al" + blanks(9) + "CT Newington" + blanks(11),
                          "   2  K 7 ABC Bob" + blanks(8) + "UT Provo" + blanks(15),
                          "   3  N 0 ZZ  Zed" + blanks(8) + "CO Denver" + blanks(14)}));
    QCOMPARE(reportsOf(w)->rosterWindow()->windowTitle(), QStringLiteral("QRP Club Roster with 3 Members"));
}

void TestReports::qsoHistory()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    for (int day : {7, 1, 12, 3, 9, 2, 11, 5, 4, 10, 6, 8})
        addLog(w, QString("2401%1").arg(day, 2, 10, QLatin1Char('0')), "10:00:00", "-", "K7ABC", "Bob", "", "Provo",
               "UT", QString("comment %1").arg(day));
    // Another station, even a newer check-in, does not count.
    addLog(w, "240120", "10:00:00", "-", "AK7ABC", "Art", "", "Ogden", "UT", "not this one");

    reportsOf(w)->showQsoHistory("K7ABC", 2);
    QCOMPARE(reportsOf(w)->qsoWindow()->windowTitle(), QStringLiteral("QSO History for K7ABC"));
    QStringList expected;
    for (int day = 12; day >= 3; --day) {
        const QString comment = QString("comment %1").arg(day);
        expected.append(QString("2401%1 ").arg(day, 2, 10, QLatin1Char('0')) + comment + blanks(128 - comment.size()));
    }
    QCOMPARE(reportLines(reportsOf(w)->qsoWindow()), expected);

    reportsOf(w)->showQsoHistory("K7ABC", 0);
    QCOMPARE(reportsOf(w)->qsoWindow()->windowTitle(), QStringLiteral("QSO History"));
    QCOMPARE(reportsOf(w)->qsoWindow()->logView()->toPlainText(), QString());
    QCOMPARE(reportsOf(w)->qsoWindow()->headerView()->toPlainText(), " Date  Comments from the QSO" + blanks(107));
}

void TestReports::singleQuoteInCalls()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    addLog(w, "240105", "12:00:00", "-", "K7'AB", "O'Neil", "W7'X", "Coeur d'Alene", "ID", "it's fine");
    addLog(w, "240105", "12:30:00", "-", "K7ABC", "Bob", "", "Provo", "UT", "");
    addContact(w, "K7'AB", "O'Neil", "Coeur d'Alene", "ID");
    setMembers(w, {"K7'AB"});
    selectDay(w, 1, 5, 24, "00:00", "23:59");

    reportsOf(w)->showSelectedNetLog();
    reportsOf(w)->showWholeLog();
    reportsOf(w)->showContacts();
    reportsOf(w)->showRoster();
    reportsOf(w)->showQsoHistory("K7'AB", 2);

    QCOMPARE(reportLines(reportsOf(w)->dateLogWindow()).size(), 2);
    QVERIFY(reportLines(reportsOf(w)->dateLogWindow()).at(1).startsWith("  1 - K7'AB  O'Neil     W7'X   it's fine"));
    QCOMPARE(reportLines(reportsOf(w)->wholeLogWindow()).size(), 2);
    QCOMPARE(reportLines(reportsOf(w)->contactsWindow()),
             QStringList{"   1  K 7 'AB O'Neil     ID Coeur d'Alene" + blanks(7)});
    QCOMPARE(reportLines(reportsOf(w)->rosterWindow()),
             QStringList{"   1  K 7 'AB O'Neil     ID Coeur d'Alene" + blanks(7)});
    QCOMPARE(reportLines(reportsOf(w)->qsoWindow()), QStringList{"240105 it's fine" + blanks(119)});
    QCOMPARE(reportsOf(w)->qsoWindow()->windowTitle(), QStringLiteral("QSO History for K7'AB"));
}

void TestReports::menuActions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("title");
    QTest::newRow("net log select") << "select"
                                    << "Net Check-In Log for Date:  1/ 5/24 and Time: 00:00:00 through 23:59:00";
    QTest::newRow("net log database") << "database"
                                      << "Net Log Database with 1 logged Contacts";
    QTest::newRow("contacts") << "contacts"
                              << "Contacts Database with 1 Contacts";
    QTest::newRow("club roster") << "roster"
                                 << "ARC Club Roster with 1 Members";
    QTest::newRow("QSO history") << "qso"
                                 << "QSO History for K7ABC";
}

void TestReports::menuActions()
{
    QFETCH(QString, action);
    QFETCH(QString, title);
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    addLog(w, "240105", "12:00:00", "-", "K7ABC", "Bob", "", "Provo", "UT", "hello");
    addContact(w, "K7ABC", "Bob", "Provo", "UT");
    setMembers(w, {"K7ABC"});
    w->findChild<Settings *>()->setClub(QStringLiteral("ARC"));
    selectDay(w, 1, 5, 24, "00:00", "23:59");
    FORM(w, call)->setText("K7ABC");

    const QMap<QString, std::pair<SeeLogs *, std::function<void()>>> actions{
        {"select", {reportsOf(w)->dateLogWindow(), [w] { FORM(w, actionShow_Net_Log_Select)->trigger(); }}},
        {"database", {reportsOf(w)->wholeLogWindow(), [w] { FORM(w, actionShowTrelvin)->trigger(); }}},
        {"contacts", {reportsOf(w)->contactsWindow(), [w] { FORM(w, actionShowContacts)->trigger(); }}},
        {"roster", {reportsOf(w)->rosterWindow(), [w] { FORM(w, actionShowClubRoster)->trigger(); }}},
        {"qso", {reportsOf(w)->qsoWindow(), [w] { FORM(w, actionShow_QSO_History_Log)->trigger(); }}},
    };
    SeeLogs *report = actions.value(action).first;
    QVERIFY(!report->isVisible());
    w->show();
    FORM(w, call)->setFocus(Qt::OtherFocusReason);

    actions.value(action).second();

    QVERIFY(report->isVisible());
    QVERIFY(report->isWindow());
    QCOMPARE(report->windowTitle(), title);
    // A plain window with title and close button, no longer a dialog.
    QCOMPARE(report->windowType(), Qt::Window);
    const Qt::WindowFlags flags = report->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
    QCOMPARE(reportLines(report).size(), 1);
    QCOMPARE(w->focusWidget(), FORM(w, search));
}

void TestReports::qsoActionWithoutCallKeepsContent()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    addLog(w, "240105", "12:00:00", "-", "K7ABC", "Bob", "", "Provo", "UT", "hello");
    reportsOf(w)->showQsoHistory("K7ABC", 2);
    const QString lines = reportsOf(w)->qsoWindow()->logView()->toPlainText();
    QVERIFY(!lines.isEmpty());

    FORM(w, call)->clear();
    FORM(w, actionShow_QSO_History_Log)->trigger();
    QVERIFY(reportsOf(w)->qsoWindow()->isVisible());
    QCOMPARE(reportsOf(w)->qsoWindow()->windowTitle(), QStringLiteral("QSO History for K7ABC"));
    QCOMPARE(reportsOf(w)->qsoWindow()->logView()->toPlainText(), lines);
    QCOMPARE(w->focusWidget(), FORM(w, search));
}

void TestReports::openLogReportsFollowADeletedRecord()
{
    Runtime rt;
    rt.installInfo("State_Info.csv");
    Trelvin *w = rt.start();
    addLog(w, "240105", "12:00:00", "-", "K7ABC", "Bob", "", "Provo", "UT", "hello");
    addLog(w, "240105", "12:30:00", "-", "N0ZZ", "Zed", "", "Denver", "CO", "");
    selectDay(w, 1, 5, 24, "00:00", "23:59");
    w->show();
    FORM(w, actionShow_Net_Log_Select)->trigger();
    FORM(w, actionShowTrelvin)->trigger();
    SeeLogs *dateLog = reportsOf(w)->dateLogWindow();
    SeeLogs *wholeLog = reportsOf(w)->wholeLogWindow();
    QCOMPARE(reportLines(dateLog).size(), 2);
    QCOMPARE(reportLines(wholeLog).size(), 2);

    // Neither open report may go on showing a record that is gone.
    rt.prompter.clear();
    FORM(w, delRec)->setText("1");
    FORM(w, delRecBut)->click();
    QCOMPARE(rt.prompter.titles(), QStringList{"Deleting Record from Log"});
    QCOMPARE(reportLines(wholeLog).size(), 1);
    QCOMPARE(wholeLog->windowTitle(), QStringLiteral("Net Log Database with 1 logged Contacts"));
    QCOMPARE(reportLines(dateLog).size(), 1);
    QVERIFY(reportLines(dateLog).at(0).contains("N0ZZ"));
}

QTEST_MAIN(TestReports)
#include "tst_reports.moc"
