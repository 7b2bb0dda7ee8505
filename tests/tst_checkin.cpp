#include "testsupport.h"

#include "app/themes.h"
#include "app/trelvin.h"
#include "checkin/textrules.h"
#include "dialogs/contact.h"
#include "ui_contact.h"
#include "ui_trelvin.h"

#include <QApplication>
#include <QClipboard>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringDecoder>
#include <QTextBlock>
#include <QtTest>

namespace {

using Row = QVariantMap;

QList<Row> rows(const QSqlDatabase &db, const QString &sql)
{
    QList<Row> result;
    QSqlQuery query(db);
    if (!query.exec(sql))
        return result;
    while (query.next()) {
        Row row;
        const QSqlRecord record = query.record();
        for (int i = 0; i < record.count(); ++i)
            row.insert(record.fieldName(i), query.value(i));
        result.append(row);
    }
    return result;
}

int count(const QSqlDatabase &db, const QString &table)
{
    return rows(db, "SELECT id FROM " + table).size();
}

QTextCharFormat lineFormat(QTextEdit *edit, int line)
{
    const QTextBlock block = edit->document()->findBlockByNumber(line);
    return block.begin().fragment().charFormat();
}

} // namespace

class TestCheckin : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void newStationChecksInWithItsThreeRows();
    void roleKeysToggleCodesAndLogLetters();
    void roleKeyFromSearchBoxClearsEntry();
    void checkInToggleWithdrawsAndRestores();
    void enterInCommentRewritesTheCheckIn();
    void listColoursAndWeights();
    void callChangeRefusedWhenTaken();
    void callChangeToFreeCallRenamesNetAndLog();
    void listLinesAndCount();
    void listRedrawnInPartEqualsWhole();
    void stationTypeLetters_data();
    void stationTypeLetters();
    void typingRules();
    void enterWalksTheEntryFields();
    void removeFromNet();
    void deleteContactAndRecord();
    void quotesAreOrdinaryText();
    void saveContactInsertsThenUpdates();
    void failedWritesAreReportedAndNotShown();
    void listWithoutThemeUsesPalette();
    void pasteCutsOnWholeCharacters_data();
    void pasteCutsOnWholeCharacters();
    void checkInStoresWholeCharacters();

private:
    // A station typed into an empty entry, as after Esc.
    void enter(const QString &call, const QString &name = QString(), const QString &city = QString(),
               const QString &state = QString(), const QString &qso = QString());
    // A station of the net brought into the entry, as by the arrow keys.
    void select(const QString &call);
    Row netRow(const QString &call);
    QStringList lines() const;

    std::unique_ptr<Runtime> rt;
    Trelvin *w = nullptr;
};

void TestCheckin::init()
{
    rt = std::make_unique<Runtime>();
    QVERIFY(rt->installInfo("State_Info.csv"));
    w = rt->start();
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    rt->prompter.clear();
    // No row is marked unless a test asks for it.
    deskOf(w)->markEntry(1000);
}

void TestCheckin::cleanup()
{
    rt.reset();
    w = nullptr;
}

void TestCheckin::enter(const QString &call, const QString &name, const QString &city, const QString &state,
                        const QString &qso)
{
    deskOf(w)->setEntry(0);
    FORM(w, call)->setText(call);
    FORM(w, name)->setText(name);
    FORM(w, city)->setText(city);
    FORM(w, state)->setText(state);
    FORM(w, qso)->setText(qso);
    FORM(w, relay)->clear();
    for (QLineEdit *field : {FORM(w, call), FORM(w, name), FORM(w, city), FORM(w, state), FORM(w, qso)})
        field->setModified(true);
}

void TestCheckin::select(const QString &call)
{
    const Row row = netRow(call);
    QVERIFY2(!row.isEmpty(), qPrintable(call));
    deskOf(w)->setEntry(row["id"].toInt());
    FORM(w, call)->setText(call);
    FORM(w, name)->setText(row["name"].toString());
    FORM(w, city)->setText(row["city"].toString());
    FORM(w, state)->setText(row["state"].toString());
    FORM(w, qso)->setText(row["comment"].toString());
    FORM(w, relay)->setText(row["relay"].toString());
    (FORM(w, name)->text().isEmpty() ? FORM(w, call) : FORM(w, qso))->setFocus();
}

Row TestCheckin::netRow(const QString &call)
{
    QSqlQuery query(fileDb(w));
    query.prepare("SELECT * FROM net WHERE call = ?");
    query.addBindValue(call);
    Row row;
    if (query.exec() && query.next()) {
        for (int i = 0; i < query.record().count(); ++i)
            row.insert(query.record().fieldName(i), query.value(i));
    }
    return row;
}

QStringList TestCheckin::lines() const
{
    const QString text = FORM(w, checkins)->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

void TestCheckin::newStationChecksInWithItsThreeRows()
{
    CONTACT(w, name)->setText("Maxim");
    CONTACT(w, classlic)->setText("E");
    CONTACT(w, expire)->setText("2030-01-01");
    CONTACT(w, addr)->setText("225 Main St");
    CONTACT(w, city)->setText("Newington");
    CONTACT(w, state)->setText("MA");
    CONTACT(w, zip)->setText("06111");
    CONTACT(w, country)->setText("USA");
    CONTACT(w, email)->setText("w1aw@example.org");
    CONTACT(w, phone)->setText("(860) 594-0200");
    CONTACT(w, lat)->setText("41.71");
    CONTACT(w, lon)->setText("-72.72");
    CONTACT(w, grid)->setText("FN31pr");
    CONTACT(w, geoloc)->setText("user");
    CONTACT(w, utc)->setText("-5");
    CONTACT(w, dst)->setText("Y");
    CONTACT(w, born)->setText("1866");

    enter("w1aw", "Hiram", "Hartford", "ct", "First net");
    FORM(w, relay)->setText("k1abc");
    const QDate today = QDate::currentDate();
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);

    const QList<Row> logs = rows(fileDb(w), "SELECT * FROM log");
    QCOMPARE(logs.size(), 1);
    const Row log = logs.first();
    QCOMPARE(log["date"].toString(), today.toString("yyMMdd"));
    QVERIFY(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(log["time"].toString()).hasMatch());
    QCOMPARE(log["status"].toString(), QString("-"));
    QCOMPARE(log["call"].toString(), QString("W1AW"));
    QCOMPARE(log["name"].toString(), QString("Hiram"));
    QCOMPARE(log["relay"].toString(), QString("K1ABC"));
    QCOMPARE(log["city"].toString(), QString("Hartford"));
    QCOMPARE(log["state"].toString(), QString("CT"));
    QCOMPARE(log["comment"].toString(), QString("First net"));

    // Dialog fields, but the name and state the operator typed.
    const QList<Row> contacts = rows(fileDb(w), "SELECT * FROM contact");
    QCOMPARE(contacts.size(), 1);
    const Row c = contacts.first();
    const QStringList expected{"W1AW",
                               "Hiram",
                               "Maxim",
                               "E",
                               "2030-01-01",
                               "225 Main St",
                               "Newington",
                               "CT",
                               "06111",
                               "USA",
                               "w1aw@example.org",
                               "8605940200",
                               "41.71",
                               "-72.72",
                               "FN31pr",
                               "user",
                               "-5",
                               "Y",
                               "1866"};
    const QStringList columns{"call",  "name",  "last", "class", "expire", "address", "city", "state", "zip", "country",
                              "email", "phone", "lat",  "lon",   "grid",   "source",  "utc",  "dst",   "born"};
    for (int i = 0; i < columns.size(); ++i)
        QCOMPARE(c[columns[i]].toString(), expected[i]);

    const Row net = netRow("W1AW");
    QCOMPARE(net["status"].toInt(), 608);
    QVERIFY(QRegularExpression("^\\d\\d:\\d\\d$").match(net["time"].toString()).hasMatch());
    QCOMPARE(net["time"].toString(), log["time"].toString().left(5));
    QCOMPARE(net["logId"].toInt(), log["id"].toInt());
    QCOMPARE(net["conId"].toInt(), c["id"].toInt());
    QCOMPARE(net["relay"].toString(), QString("K1ABC"));
    QCOMPARE(net["state"].toString(), QString("CT"));

    QCOMPARE(lines(), QStringList{"  1 -C W1AW   Hiram      K1ABC "});
    QCOMPARE(FORM(w, checks)->text(), QString("1"));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(FORM(w, search)));

    // A known station joining the net keeps its contact row.
    QSqlQuery known(fileDb(w));
    QVERIFY(known.exec("INSERT INTO contact (id, call, name, last) VALUES (NULL, 'N0XYZ', 'Zed', 'Known')"));
    const int knownId = known.lastInsertId().toInt();
    enter("N0XYZ", "Zed");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(count(fileDb(w), "contact"), 2);
    QCOMPARE(netRow("N0XYZ")["conId"].toInt(), knownId);
    QCOMPARE(FORM(w, checks)->text(), QString("2"));
}

void TestCheckin::roleKeysToggleCodesAndLogLetters()
{
    FORM(w, qso)->setFocus();
    enter("K1ABC", "Ann");
    FORM(w, trafficButton)->click();
    QCOMPARE(netRow("K1ABC")["status"].toInt(), 2);
    QCOMPARE(lines(), QStringList{"  1 T- K1ABC  Ann              "});
    QCOMPARE(count(fileDb(w), "log"), 0);
    QCOMPARE(count(fileDb(w), "contact"), 1);
    QCOMPARE(FORM(w, checks)->text(), QString("0"));
    // Outside the search box the entry stays for further keys.
    QCOMPARE(FORM(w, call)->text(), QString("K1ABC"));

    FORM(w, trafficButton)->click();
    QCOMPARE(lines().first().mid(4, 2), QString("--"));
    FORM(w, trafficButton)->click();
    QCOMPARE(lines().first().mid(4, 2), QString("T-"));

    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    select("K1ABC");
    QCOMPARE(lines().first().mid(4, 2), QString("TC"));
    QCOMPARE(rows(fileDb(w), "SELECT status FROM log").first()["status"].toString(), QString("T"));

    // The lowest role bit names the log letter: relay before traffic.
    FORM(w, qso)->setFocus();
    FORM(w, relayButton)->click();
    QCOMPARE(lines().first().mid(4, 2), QString("RC"));
    QCOMPARE(rows(fileDb(w), "SELECT status FROM log").first()["status"].toString(), QString("R"));
    FORM(w, relayButton)->click();
    FORM(w, mobileButton)->click();
    FORM(w, trafficButton)->click();
    QCOMPARE(lines().first().mid(4, 2), QString("MC"));
    QCOMPARE(rows(fileDb(w), "SELECT status FROM log").first()["status"].toString(), QString("M"));
    FORM(w, shortButton)->click();
    QCOMPARE(lines().first().mid(4, 2), QString("MC"));
    FORM(w, mobileButton)->click();
    QCOMPARE(lines().first().mid(4, 2), QString("SC"));
    FORM(w, NCSButton)->click();
    QCOMPARE(lines().first().mid(4, 2), QString("NC"));
    QCOMPARE(rows(fileDb(w), "SELECT status FROM log").first()["status"].toString(), QString("S"));
    QCOMPARE(count(fileDb(w), "log"), 1);
    QCOMPARE(netRow("K1ABC")["status"].toInt() & 63, 8 | 16 | 32);
}

void TestCheckin::roleKeyFromSearchBoxClearsEntry()
{
    enter("K1ABC", "Ann");
    FORM(w, search)->setFocus();
    FORM(w, trafficButton)->click();
    // Stored with the search-box bit, shown as traffic all the same.
    QCOMPARE(netRow("K1ABC")["status"].toInt(), 66);
    QCOMPARE(lines().first().mid(4, 2), QString("T-"));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(FORM(w, search)));
    QVERIFY(FORM(w, call)->text().isEmpty());
}

void TestCheckin::checkInToggleWithdrawsAndRestores()
{
    enter("W1AW", "Hiram");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QVERIFY(netRow("W1AW")["logId"].toInt() != 0);
    enter("K1ABC", "Ann");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);

    select("W1AW");
    FORM(w, logContactButton)->click();
    QCOMPARE(rows(fileDb(w), "SELECT call FROM log WHERE call = 'W1AW'").size(), 0);
    QCOMPARE(count(fileDb(w), "log"), 1);
    QCOMPARE(netRow("W1AW")["logId"].toInt(), 0);
    QCOMPARE(netRow("W1AW")["status"].toInt() & 32, 0);
    QCOMPARE(lines().first().mid(4, 2), QString("--"));
    QCOMPARE(FORM(w, checks)->text(), QString("1"));

    select("W1AW");
    FORM(w, logContactButton)->click();
    const QList<Row> logs = rows(fileDb(w), "SELECT id FROM log WHERE call = 'W1AW'");
    QCOMPARE(logs.size(), 1);
    QVERIFY(logs.first()["id"].toInt() > netRow("K1ABC")["logId"].toInt());
    QCOMPARE(netRow("W1AW")["logId"].toInt(), logs.first()["id"].toInt());
    QCOMPARE(lines().first().mid(4, 2), QString("-C"));
    QCOMPARE(FORM(w, checks)->text(), QString("2"));
}

void TestCheckin::enterInCommentRewritesTheCheckIn()
{
    enter("W1AW", "Hiram", "Hartford", "CT", "first");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    const int logId = netRow("W1AW")["logId"].toInt();

    select("W1AW");
    FORM(w, qso)->setText("second");
    FORM(w, city)->setText("Newington");
    FORM(w, relay)->setText("k1abc");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);

    const QList<Row> logs = rows(fileDb(w), "SELECT * FROM log");
    QCOMPARE(logs.size(), 1);
    QCOMPARE(logs.first()["id"].toInt(), logId);
    QCOMPARE(logs.first()["comment"].toString(), QString("second"));
    QCOMPARE(logs.first()["city"].toString(), QString("Newington"));
    QCOMPARE(logs.first()["relay"].toString(), QString("K1ABC"));
    QCOMPARE(netRow("W1AW")["comment"].toString(), QString("second"));
    QVERIFY(netRow("W1AW")["status"].toInt() & 32);
}

void TestCheckin::listColoursAndWeights()
{
    // Rows: plain, relay+NCS, NCS checked in, relay checked in, plain,
    // checked in, plain.
    for (const char *call : {"A1A", "B1B", "C1C", "D1D", "E1E", "F1F", "G1G"}) {
        enter(call);
        deskOf(w)->storeEntry(128);
    }
    select("B1B");
    FORM(w, relayButton)->click();
    FORM(w, NCSButton)->click();
    select("C1C");
    FORM(w, NCSButton)->click();
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    select("D1D");
    FORM(w, relayButton)->click();
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    select("F1F");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    deskOf(w)->markEntry(netRow("G1G")["id"].toInt());
    deskOf(w)->showNet();

    QTextEdit *list = FORM(w, checkins);
    QCOMPARE(lines().size(), 7);
    QStringList codes;
    for (const QString &line : lines())
        codes.append(line.mid(4, 2));
    QCOMPARE(codes, (QStringList{"--", "R-", "NC", "RC", "--", "-C", "--"}));
    QCOMPARE(FORM(w, checks)->text(), QString("3"));

    const auto fore = [&](int line) { return lineFormat(list, line).foreground().color(); };
    const auto back = [&](int line) { return lineFormat(list, line).background().color(); };
    const auto weight = [&](int line) {
        const QTextCharFormat f = lineFormat(list, line);
        return f.hasProperty(QTextFormat::FontWeight) ? f.fontWeight() : -1;
    };

    QCOMPARE(fore(0), themeOf(w)->colours().normalText);
    QCOMPARE(back(0), themeOf(w)->colours().normalBack);
    QCOMPARE(weight(0), -1);
    // Relay overrides the NCS colours.
    QCOMPARE(fore(1), themeOf(w)->colours().relayText);
    QCOMPARE(back(1), themeOf(w)->colours().relayBack);
    QCOMPARE(fore(2), themeOf(w)->colours().ncsText);
    QCOMPARE(back(2), themeOf(w)->colours().ncsBack);
    QCOMPARE(fore(3), themeOf(w)->colours().relayCheckedText);
    QCOMPARE(back(3), themeOf(w)->colours().normalBack);
    QCOMPARE(weight(3), int(QFont::Bold));
    // A weight stays until another row sets one.
    QCOMPARE(fore(4), themeOf(w)->colours().normalText);
    QCOMPARE(weight(4), int(QFont::Bold));
    QCOMPARE(fore(5), themeOf(w)->colours().checkedText);
    QCOMPARE(weight(5), int(QFont::Normal));
    QCOMPARE(weight(6), int(QFont::Normal));
    QCOMPARE(back(6), themeOf(w)->colours().activeBack);
    QCOMPARE(list->textCursor().blockNumber(), 6);

    // The marked line is the one numbered like the active id.
    deskOf(w)->showNet(3);
    QCOMPARE(back(2), themeOf(w)->colours().activeBack);
    QCOMPARE(list->textCursor().blockNumber(), 2);
}

void TestCheckin::callChangeRefusedWhenTaken()
{
    enter("W1AW", "Hiram");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    enter("K1ABC", "Ann");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    enter("N0XYZ", "Zed");
    deskOf(w)->storeEntry(128);
    {
        // N0XYZ stays known but leaves the net.
        QSqlQuery remove(fileDb(w));
        QVERIFY(remove.exec("DELETE FROM net WHERE call = 'N0XYZ'"));
    }
    const QList<Row> netBefore = rows(fileDb(w), "SELECT * FROM net");
    const QList<Row> logBefore = rows(fileDb(w), "SELECT * FROM log");
    rt->prompter.clear();

    select("K1ABC");
    FORM(w, call)->setText("W1AW");
    FORM(w, name)->setText("Changed");
    FORM(w, qso)->setText("renamed");
    deskOf(w)->storeEntry(128);

    QCOMPARE(rt->prompter.titles(),
             (QStringList{"Error: Callsign Exists in Net Data", "Error: Callsign Exists in Contact Database"}));
    QCOMPARE(rt->prompter.calls[0].kind, Prompter::Warning);
    QCOMPARE(rt->prompter.calls[0].text, QString("Attempt to change Net Check-In Callsign to 'W1AW'.<br />W1AW' "
                                                 "already exists within the Net Check-In Data"));
    QCOMPARE(rt->prompter.calls[1].text, QString("Attempt to change Contact Callsign to 'W1AW'.<br />W1AW' already "
                                                 "exists within the Contact Database"));
    const QString errors = rt->readData("errorLog.txt");
    QVERIFY(errors.contains(" Attempt to change Net Check-In Callsign to 'W1AW'.\n"));
    QVERIFY(errors.contains(" Attempt to change Contact Callsign to 'W1AW'.\n"));
    QCOMPARE(rows(fileDb(w), "SELECT * FROM net"), netBefore);
    QCOMPARE(rows(fileDb(w), "SELECT * FROM log"), logBefore);
    // The typed name reached the contact of the typed call before the refusal.
    QCOMPARE(rows(fileDb(w), "SELECT name FROM contact WHERE call = 'W1AW'").first()["name"].toString(),
             QString("Changed"));
    QCOMPARE(rows(fileDb(w), "SELECT name FROM contact WHERE call = 'K1ABC'").first()["name"].toString(),
             QString("Ann"));

    // Known as a contact only.
    rt->prompter.clear();
    select("K1ABC");
    FORM(w, call)->setText("N0XYZ");
    deskOf(w)->storeEntry(128);
    QCOMPARE(rt->prompter.titles(), QStringList{"Error: Callsign Exists in Contact Database"});
    QCOMPARE(rows(fileDb(w), "SELECT * FROM net"), netBefore);
}

void TestCheckin::callChangeToFreeCallRenamesNetAndLog()
{
    enter("K1ABC", "Ann");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    select("K1ABC");
    FORM(w, call)->setText("K1ABD");
    deskOf(w)->storeEntry(128);
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(rows(fileDb(w), "SELECT call FROM net").first()["call"].toString(), QString("K1ABD"));
    QCOMPARE(rows(fileDb(w), "SELECT call FROM log").first()["call"].toString(), QString("K1ABD"));
    QCOMPARE(rows(fileDb(w), "SELECT call FROM contact").first()["call"].toString(), QString("K1ABC"));
}

void TestCheckin::listLinesAndCount()
{
    deskOf(w)->showNet();
    QVERIFY(lines().isEmpty());
    QCOMPARE(FORM(w, checks)->text(), QString("0"));

    enter("W1AW", "Christopher");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    enter("K1A", "Bo");
    deskOf(w)->storeEntry(128);
    enter("KA1ABC", "Ann");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(lines(), (QStringList{"  1 -C W1AW   Christophe       ", "  2 -- K1A    Bo               ",
                                   "  3 -C KA1ABC Ann              "}));
    QCOMPARE(netRow("W1AW")["name"].toString(), QString("Christopher"));
    QCOMPARE(FORM(w, checks)->text(), QString("2"));

    // The list numbers the rows afresh around a gap in the ids.
    FORM(w, delCon)->setText("k1a");
    deskOf(w)->removeFromNet();
    QCOMPARE(lines(), (QStringList{"  1 -C W1AW   Christophe       ", "  2 -C KA1ABC Ann              "}));
    QCOMPARE(netRow("KA1ABC")["id"].toInt(), 3);

    FORM(w, delCon)->setText("W1AW");
    deskOf(w)->removeFromNet();
    FORM(w, delCon)->setText("KA1ABC");
    deskOf(w)->removeFromNet();
    QVERIFY(lines().isEmpty());
    QCOMPARE(FORM(w, checks)->text(), QString("0"));
}

void TestCheckin::stationTypeLetters_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("letter");
    QTest::newRow("none") << 0 << "-";
    QTest::newRow("checked in only") << 608 << "-";
    QTest::newRow("NCS") << 16 << "N";
    QTest::newRow("short and NCS") << 24 << "S";
    QTest::newRow("mobile and short") << 12 << "M";
    QTest::newRow("traffic and mobile") << 6 << "T";
    QTest::newRow("relay and NCS") << 17 << "R";
}

void TestCheckin::stationTypeLetters()
{
    QFETCH(int, status);
    QFETCH(QString, letter);
    QCOMPARE(deskOf(w)->stationType("W1AW"), QString("-"));
    QSqlQuery insert(fileDb(w));
    insert.prepare("INSERT INTO net (id, call, status) VALUES (NULL, 'W1AW', ?)");
    insert.addBindValue(status);
    QVERIFY(insert.exec());
    QCOMPARE(deskOf(w)->stationType("W1AW"), letter);
}

void TestCheckin::typingRules()
{
    QTest::keyClicks(FORM(w, call), "w1aw");
    QCOMPARE(FORM(w, call)->text(), QString("W1AW"));
    QCOMPARE(FORM(w, call)->cursorPosition(), 4);
    QVERIFY(FORM(w, call)->isModified());
    FORM(w, call)->setCursorPosition(2);
    QTest::keyClicks(FORM(w, call), "x");
    QCOMPARE(FORM(w, call)->text(), QString("W1XAW"));
    QCOMPARE(FORM(w, call)->cursorPosition(), 3);

    QTest::keyClicks(FORM(w, city), "new YORK");
    QCOMPARE(FORM(w, city)->text(), QString("New York"));
    QVERIFY(FORM(w, city)->isModified());
    QTest::keyClicks(FORM(w, name), "ANN-MARIE mc d");
    QCOMPARE(FORM(w, name)->text(), QString("Ann-marie Mc D"));
    QTest::keyClicks(FORM(w, state), "ct");
    QCOMPARE(FORM(w, state)->text(), QString("CT"));
    QVERIFY(FORM(w, state)->isModified());
    QTest::keyClicks(FORM(w, relay), "k1abc");
    QCOMPARE(FORM(w, relay)->text(), QString("K1ABC"));
    QVERIFY(FORM(w, relay)->isModified());
}

void TestCheckin::enterWalksTheEntryFields()
{
    FORM(w, call)->setFocus();
    QStringList visited;
    for (QLineEdit *field : {FORM(w, call), FORM(w, name), FORM(w, city), FORM(w, state)}) {
        QTest::keyClick(field, Qt::Key_Return);
        visited.append(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(visited, (QStringList{"name", "city", "state", "qso"}));
    QCOMPARE(count(fileDb(w), "net"), 0);

    // F4 readies the relay field for a new call that the next store keeps.
    FORM(w, relay)->setText("OLD");
    FORM(w, relayViaButton)->click();
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(FORM(w, relay)));
    QVERIFY(FORM(w, relay)->text().isEmpty());
    QVERIFY(FORM(w, relay)->isModified());
}

void TestCheckin::listRedrawnInPartEqualsWhole()
{
    // The list as a key leaves it, line by line with its formats, against
    // the same list drawn whole.
    const auto same = [this](const char *step) {
        const QString part = FORM(w, checkins)->document()->toHtml();
        // An emptied view is drawn again whole.
        FORM(w, checkins)->clear();
        deskOf(w)->showNet();
        QVERIFY2(FORM(w, checkins)->document()->toHtml() == part, step);
    };
    const QStringList calls{"W1AW", "K1ABC", "N7NCS", "KD7RLY", "WB6ZZZ", "K7Q"};
    for (const QString &call : calls) {
        enter(call, "Op " + call);
        QTest::keyClick(FORM(w, qso), Qt::Key_Return);
        same("new entry");
    }
    select("N7NCS");
    FORM(w, NCSButton)->click();
    same("net control");
    select("KD7RLY");
    FORM(w, relay)->setText("K1ABC");
    FORM(w, relayButton)->click();
    same("relay");
    select("K1ABC");
    FORM(w, trafficButton)->click();
    same("traffic");
    callSearchOf(w)->nextContact();
    callSearchOf(w)->nextContact();
    same("mark moved");
    FORM(w, delCon)->setText("K1ABC");
    rt->prompter.answers = {QMessageBox::Yes};
    deskOf(w)->removeFromNet();
    same("middle entry removed");
    FORM(w, delCon)->setText("K7Q");
    rt->prompter.answers = {QMessageBox::Yes};
    deskOf(w)->removeFromNet();
    same("last entry removed");
    ThemeColours colours = themeOf(w)->colours();
    colours.checkedText = QColor(Qt::darkGreen);
    themeOf(w)->set(colours);
    deskOf(w)->showNet();
    same("colour changed");
    QCOMPARE(lines().size(), 4);
}

void TestCheckin::removeFromNet()
{
    enter("W1AW", "Hiram");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    enter("K1ABC", "Ann");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    rt->prompter.clear();

    // Not in the net.
    FORM(w, delCon)->setText("n0xyz");
    deskOf(w)->removeFromNet();
    QCOMPARE(rt->prompter.calls.size(), 1);
    QCOMPARE(rt->prompter.calls[0].kind, Prompter::Warning);
    QCOMPARE(rt->prompter.calls[0].title, QString("Contact not in Net List"));
    QCOMPARE(rt->prompter.calls[0].text,
             QString("Contact N0XYZ was not found in Net List.\nPlease check your data entry."));
    QVERIFY(rt->readData("errorLog.txt").contains(" Contact N0XYZ was not found in Net List.\n"));

    // Answered No.
    rt->prompter.clear();
    rt->prompter.answers = {QMessageBox::No};
    FORM(w, delCon)->setText("W1AW");
    deskOf(w)->removeFromNet();
    QCOMPARE(rt->prompter.calls.size(), 1);
    QCOMPARE(rt->prompter.calls[0].title, QString("Deleting Contact from Net Log"));
    QCOMPARE(rt->prompter.calls[0].text, QString("Are you sure you want to delete 'W1AW' from the Net Log?"));
    QCOMPARE(rt->prompter.calls[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(rt->prompter.calls[0].defaultButton, QMessageBox::Yes);
    QCOMPARE(count(fileDb(w), "net"), 2);
    QCOMPARE(count(fileDb(w), "log"), 2);

    // Yes: tonight's check-in goes with it; the entry showing it is cleared.
    select("W1AW");
    FORM(w, delCon)->setText("w1aw");
    deskOf(w)->removeFromNet();
    QCOMPARE(count(fileDb(w), "net"), 1);
    QCOMPARE(rows(fileDb(w), "SELECT call FROM log").first()["call"].toString(), QString("K1ABC"));
    QCOMPARE(lines(), QStringList{"  1 -C K1ABC  Ann              "});
    QCOMPARE(FORM(w, checks)->text(), QString("1"));
    QVERIFY(FORM(w, call)->text().isEmpty());
    QVERIFY(FORM(w, name)->text().isEmpty());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(FORM(w, search)));
    QCOMPARE(count(fileDb(w), "contact"), 2);

    // The entry no longer points at the removed row: storing it again adds
    // the station anew.
    QCOMPARE(deskOf(w)->entry(), 0);
    FORM(w, call)->setText("W1AW");
    FORM(w, name)->setText("Hiram");
    deskOf(w)->storeEntry(128);
    QCOMPARE(count(fileDb(w), "net"), 2);
}

void TestCheckin::deleteContactAndRecord()
{
    enter("W1AW", "Hiram");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    const int logId = netRow("W1AW")["logId"].toInt();
    rt->prompter.clear();

    rt->prompter.answers = {QMessageBox::No};
    FORM(w, delCon)->setText("w1aw");
    deskOf(w)->deleteContact();
    QCOMPARE(rt->prompter.calls[0].title, QString("Deleting Contact from Contacts Database"));
    QCOMPARE(rt->prompter.calls[0].text, QString("Are you sure you want to delete 'W1AW' from the Contacts Database?"));
    QCOMPARE(rt->prompter.calls[0].kind, Prompter::Warning);
    QCOMPARE(count(fileDb(w), "contact"), 1);

    deskOf(w)->deleteContact();
    QCOMPARE(count(fileDb(w), "contact"), 0);
    QCOMPARE(count(fileDb(w), "log"), 1);
    QCOMPARE(count(fileDb(w), "net"), 1);
    // Nothing left to delete: asked, but silent.
    rt->prompter.clear();
    deskOf(w)->deleteContact();
    QCOMPARE(rt->prompter.calls.size(), 1);

    rt->prompter.clear();
    FORM(w, delRec)->setText("x7");
    FORM(w, delRecBut)->click();
    QCOMPARE(rt->prompter.calls.size(), 1);
    QCOMPARE(rt->prompter.calls[0].title, QString("Deleting Record from Log"));
    QCOMPARE(rt->prompter.calls[0].text,
             QString("Are you sure you want to permanently delete Record 'x7' from the Log?"));
    QCOMPARE(count(fileDb(w), "log"), 1);

    rt->prompter.answers = {QMessageBox::No};
    FORM(w, delRec)->setText(QString::number(logId));
    FORM(w, delRecBut)->click();
    QCOMPARE(count(fileDb(w), "log"), 1);
    FORM(w, delRecBut)->click();
    QCOMPARE(count(fileDb(w), "log"), 0);
}

void TestCheckin::quotesAreOrdinaryText()
{
    enter("K1'Q", "O'Brien", "Coeur d'Alene", "ID", "it's me");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QVERIFY(rt->prompter.calls.isEmpty());
    QCOMPARE(rows(fileDb(w), "SELECT name FROM contact WHERE call = 'K1''Q'").first()["name"].toString(),
             QString("O'Brien"));
    QCOMPARE(rows(fileDb(w), "SELECT comment FROM log").first()["comment"].toString(), QString("it's me"));

    // Found again by its call: a role, a new name, no duplicate row.
    select("K1'Q");
    FORM(w, name)->setText("O'Neil");
    FORM(w, trafficButton)->click();
    QCOMPARE(deskOf(w)->stationType("K1'Q"), QString("T"));
    QCOMPARE(count(fileDb(w), "net"), 1);
    QCOMPARE(rows(fileDb(w), "SELECT name FROM contact").first()["name"].toString(), QString("O'Neil"));
    QCOMPARE(rows(fileDb(w), "SELECT status FROM log").first()["status"].toString(), QString("T"));

    CONTACT(w, call)->setText("K1'Q");
    CONTACT(w, fname)->setText("O'Hara");
    deskOf(w)->saveContact();
    QCOMPARE(count(fileDb(w), "contact"), 1);
    QCOMPARE(rows(fileDb(w), "SELECT name FROM contact").first()["name"].toString(), QString("O'Hara"));

    FORM(w, delCon)->setText("K1'Q");
    deskOf(w)->removeFromNet();
    QCOMPARE(count(fileDb(w), "net"), 0);
    QCOMPARE(count(fileDb(w), "log"), 0);
    deskOf(w)->deleteContact();
    QCOMPARE(count(fileDb(w), "contact"), 0);
}

void TestCheckin::saveContactInsertsThenUpdates()
{
    CONTACT(w, call)->setText("w1aw");
    CONTACT(w, fname)->setText("Hiram");
    CONTACT(w, name)->setText("Maxim");
    CONTACT(w, state)->setText("ct");
    CONTACT(w, phone)->setText("(860) 594-0200");
    CONTACT(w, born)->setText("1866");
    deskOf(w)->saveContact();
    QList<Row> contacts = rows(fileDb(w), "SELECT * FROM contact");
    QCOMPARE(contacts.size(), 1);
    QCOMPARE(contacts[0]["call"].toString(), QString("W1AW"));
    QCOMPARE(contacts[0]["name"].toString(), QString("Hiram"));
    QCOMPARE(contacts[0]["last"].toString(), QString("Maxim"));
    QCOMPARE(contacts[0]["state"].toString(), QString("ct"));
    QCOMPARE(contacts[0]["phone"].toString(), QString("8605940200"));
    QCOMPARE(contacts[0]["born"].toString(), QString("1866"));
    const int id = contacts[0]["id"].toInt();

    CONTACT(w, fname)->setText("Hiram Percy");
    CONTACT(w, phone)->setText("n/a");
    deskOf(w)->saveContact();
    contacts = rows(fileDb(w), "SELECT * FROM contact");
    QCOMPARE(contacts.size(), 1);
    QCOMPARE(contacts[0]["id"].toInt(), id);
    QCOMPARE(contacts[0]["name"].toString(), QString("Hiram Percy"));
    QCOMPARE(contacts[0]["phone"].toString(), QString(""));

    CONTACT(w, call)->setText("K1ABC");
    deskOf(w)->saveContact();
    QCOMPARE(count(fileDb(w), "contact"), 2);
    QVERIFY(rt->prompter.calls.isEmpty());
}

void TestCheckin::failedWritesAreReportedAndNotShown()
{
    enter("K1ABC", "Ann");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QSqlQuery pragma(fileDb(w));
    QVERIFY(pragma.exec("PRAGMA query_only = ON"));
    rt->prompter.clear();

    // A new station: nothing stored, nothing shown as checked in.
    enter("W1AW", "Hiram");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(rt->prompter.calls.size(), 1);
    QCOMPARE(rt->prompter.calls[0].kind, Prompter::Critical);
    QCOMPARE(rt->prompter.calls[0].title, QString("Database Write Failed"));
    QVERIFY(rt->prompter.calls[0].text.contains("Check-in of W1AW"));
    QVERIFY2(rt->readData("errorLog.txt").contains("readonly"), qPrintable(rt->readData("errorLog.txt")));
    QVERIFY(netRow("W1AW").isEmpty());
    QCOMPARE(lines().size(), 1);
    QCOMPARE(FORM(w, checks)->text(), QString("1"));
    // Kept for another try.
    QCOMPARE(FORM(w, call)->text(), QString("W1AW"));

    // Withdrawing a check-in that cannot be deleted keeps it.
    rt->prompter.clear();
    select("K1ABC");
    FORM(w, logContactButton)->click();
    QCOMPARE(rt->prompter.titles(), QStringList{"Database Write Failed"});
    QVERIFY(netRow("K1ABC")["status"].toInt() & 32);
    QVERIFY(netRow("K1ABC")["logId"].toInt() != 0);
    QCOMPARE(lines().first().mid(4, 2), QString("-C"));

    // A role the log cannot take is not shown either.
    rt->prompter.clear();
    select("K1ABC");
    FORM(w, trafficButton)->click();
    QCOMPARE(rt->prompter.calls.size(), 1);
    QCOMPARE(lines().first().mid(4, 2), QString("-C"));

    // Nor is a removal that left the log row behind.
    rt->prompter.clear();
    FORM(w, delCon)->setText("K1ABC");
    deskOf(w)->removeFromNet();
    QCOMPARE(rt->prompter.titles(), (QStringList{"Deleting Contact from Net Log", "Database Write Failed"}));
    QCOMPARE(lines().size(), 1);

    // A station already in the net but not checked in stays unchecked.
    QVERIFY(pragma.exec("PRAGMA query_only = OFF"));
    enter("N0XYZ", "Zed");
    deskOf(w)->storeEntry(128);
    QVERIFY(pragma.exec("PRAGMA query_only = ON"));
    rt->prompter.clear();
    select("N0XYZ");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(rt->prompter.titles(), QStringList{"Database Write Failed"});
    QCOMPARE(netRow("N0XYZ")["status"].toInt() & 32, 0);
    QCOMPARE(netRow("N0XYZ")["logId"].toInt(), 0);
    QCOMPARE(FORM(w, checks)->text(), QString("1"));

    rt->prompter.clear();
    CONTACT(w, call)->setText("N0NEW");
    deskOf(w)->saveContact();
    QCOMPARE(rt->prompter.titles(), QStringList{"Database Write Failed"});
    QVERIFY(rt->prompter.calls[0].text.contains("N0NEW"));

    // The log takes the check-in but the new contact fails: the check-in is
    // taken back rather than left without its net row.
    QVERIFY(pragma.exec("PRAGMA query_only = OFF"));
    QVERIFY(pragma.exec("CREATE TRIGGER full BEFORE INSERT ON contact BEGIN SELECT RAISE(ABORT, 'disk is full'); END"));
    const int logsBefore = count(fileDb(w), "log");
    rt->prompter.clear();
    enter("W2XX", "Wes");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(rt->prompter.titles(), QStringList{"Database Write Failed"});
    QVERIFY(rt->prompter.calls[0].text.contains("W2XX"));
    QVERIFY(rt->readData("errorLog.txt").contains("disk is full"));
    QCOMPARE(count(fileDb(w), "log"), logsBefore);
    QVERIFY(netRow("W2XX").isEmpty());
}

void TestCheckin::listWithoutThemeUsesPalette()
{
    themeOf(w)->set(ThemeColours());
    enter("W1AW");
    deskOf(w)->storeEntry(128);
    const QTextCharFormat format = lineFormat(FORM(w, checkins), 0);
    QCOMPARE(format.foreground().color(), FORM(w, checkins)->palette().color(QPalette::Text));
    QCOMPARE(format.background().color(), FORM(w, checkins)->palette().color(QPalette::Base));
}

namespace {

// Every line edit of the main window and its dialogs that has a limit.
QList<QLineEdit *> limitedFields(QWidget *window)
{
    QList<QWidget *> forms{window};
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QLatin1String("Contact") || top->objectName() == QLatin1String("Station"))
            forms.append(top);
    }
    QList<QLineEdit *> fields;
    for (QWidget *form : forms) {
        for (QLineEdit *field : form->findChildren<QLineEdit *>()) {
            if (characterLimit(field) < 32767)
                fields.append(field);
        }
    }
    return fields;
}

// Whether the bytes are UTF-8 throughout: a lone surrogate stored as
// "ED A0 BD" is not.
bool isUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    return !decoder.hasError() && text.toUtf8() == bytes;
}

} // namespace

void TestCheckin::pasteCutsOnWholeCharacters_data()
{
    QTest::addColumn<QString>("tail");
    QTest::addColumn<int>("letters");
    QTest::addColumn<bool>("fits");
    const QString grin = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString thumbsUpMedium = QString::fromUtf8("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD");
    // One letter short of the limit: the character after it cannot fit whole.
    QTest::newRow("emoji over the limit") << grin << 1 << false;
    QTest::newRow("skin-toned emoji over the limit") << thumbsUpMedium << 1 << false;
    QTest::newRow("skin-toned emoji half over") << thumbsUpMedium << 3 << false;
    QTest::newRow("letter and combining accent") << QStringLiteral("e\u0301") << 1 << false;
    QTest::newRow("emoji that fits exactly") << grin << 2 << true;
}

void TestCheckin::pasteCutsOnWholeCharacters()
{
    QFETCH(QString, tail);
    QFETCH(int, letters);
    QFETCH(bool, fits);
    const QList<QLineEdit *> fields = limitedFields(w);
    QVERIFY(fields.size() > 40);
    for (QLineEdit *field : fields) {
        const int limit = characterLimit(field);
        const QString name = field->window()->objectName() + "/" + field->objectName();
        if (limit < letters + 1)
            continue;
        const QString pasted = QString(limit - letters, QLatin1Char('7')) + tail;
        field->clear();
        if (field->isReadOnly() || !field->isEnabled()) {
            field->setText(pasted);
        } else {
            QApplication::clipboard()->setText(pasted);
            field->setFocus();
            QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        }
        const QString kept = field->text();
        QVERIFY2(kept.size() <= limit, qPrintable(name));
        QVERIFY2(isUtf8(kept.toUtf8()) && QString::fromUtf8(kept.toUtf8()) == kept, qPrintable(name));
        if (field->echoMode() != QLineEdit::Normal)
            continue;
        const QString whole = QString(limit - letters, QLatin1Char('7'));
        QVERIFY2(kept == (fits ? whole + tail : whole), qPrintable(name + ": " + kept));
    }

    // Typed into the middle of a full field, the excess of the paste goes, not the end.
    QLineEdit *name = w->findChild<QLineEdit *>("name");
    name->setText(QStringLiteral("Abcdefghijklmn"));
    name->setCursorPosition(3);
    QApplication::clipboard()->setText(QStringLiteral("XY") + tail);
    name->setFocus();
    QTest::keyClick(name, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(name->text(), QStringLiteral("Abcxdefghijklmn"));
}

void TestCheckin::checkInStoresWholeCharacters()
{
    const QString grin = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString thumbsUpMedium = QString::fromUtf8("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD");
    QLineEdit *call = w->findChild<QLineEdit *>("call");
    QLineEdit *name = w->findChild<QLineEdit *>("name");
    QLineEdit *city = w->findChild<QLineEdit *>("city");
    QLineEdit *qso = w->findChild<QLineEdit *>("qso");
    call->setFocus();
    QTest::keyClicks(call, "w1aw");
    const auto paste = [](QLineEdit *field, const QString &text) {
        field->clear();
        QApplication::clipboard()->setText(text);
        field->setFocus();
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    };
    paste(name, QString(characterLimit(name) - 1, QLatin1Char('a')) + grin);
    paste(city, QString(characterLimit(city) - 1, QLatin1Char('b')) + thumbsUpMedium);
    paste(qso, QString(characterLimit(qso) - 1, QLatin1Char('c')) + grin);
    QTest::keyClick(qso, Qt::Key_F8);
    // The key clicks the button with a short animation.
    QTRY_COMPARE(count(fileDb(w), "net"), 1);

    for (const QString &table : {QStringLiteral("log"), QStringLiteral("net")}) {
        const QList<Row> stored =
            rows(fileDb(w), "SELECT hex(name) AS n, hex(city) AS c, hex(comment) AS q FROM " + table);
        QCOMPARE(stored.size(), 1);
        for (const QString &column : {QStringLiteral("n"), QStringLiteral("c"), QStringLiteral("q")}) {
            const QByteArray bytes = QByteArray::fromHex(stored.first()[column].toByteArray());
            QVERIFY2(isUtf8(bytes), qPrintable(table + "." + column + ": " + bytes.toHex(' ')));
            QVERIFY2(!bytes.isEmpty() && !bytes.contains("\xF0"), qPrintable(table + "." + column));
        }
    }
}

QTEST_MAIN(TestCheckin)
#include "tst_checkin.moc"
