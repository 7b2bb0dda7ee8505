#include "testsupport.h"

#include "app/trelvin.h"
#include "checkin/textrules.h"
#include "dialogs/contact.h"
#include "files/filescontroller.h"
#include "jobs/background.h"
#include "lookup/lookupcontroller.h"
#include "ui_contact.h"
#include "ui_trelvin.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDate>
#include <QScrollBar>
#include <QSettings>
#include <QSqlQuery>
#include <QTextBlock>
#include <QtTest>

namespace {

// One row; the map's keys are the columns.
void insert(const QSqlDatabase &db, const QString &table, const QVariantMap &row)
{
    QSqlQuery query(db);
    query.prepare("INSERT INTO " + table + " (" + row.keys().join(", ") + ") VALUES ("
                  + QStringList(row.size(), "?").join(", ") + ")");
    for (const QVariant &value : row)
        query.addBindValue(value);
    QVERIFY2(query.exec(), qPrintable(table));
}

// The candidates the last search found, in their order.
QStringList candidates(Trelvin *w)
{
    QStringList calls;
    for (const ContactStore::Candidate &candidate : storeOf(w).contacts().candidates(0, INT_MAX))
        calls.append(candidate.call);
    return calls;
}

QStringList texts(std::initializer_list<const QLineEdit *> fields)
{
    QStringList values;
    for (const QLineEdit *field : fields)
        values.append(field->text());
    return values;
}

QStringList listLines(const QTextEdit *list)
{
    const QString text = list->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

// Invalid when the line carries no colour of its own.
QColor lineColour(const QTextEdit *list, int line)
{
    const QTextCharFormat format = list->document()->findBlockByNumber(line).begin().fragment().charFormat();
    return format.hasProperty(QTextFormat::ForegroundBrush) ? format.foreground().color() : QColor();
}

QColor textColour(const QWidget *widget)
{
    return widget->palette().color(QPalette::Text);
}

// U Up, D Down, T Page Up, B Page Down.
void press(Trelvin *w, const QString &keys)
{
    for (QChar key : keys) {
        switch (key.unicode()) {
        case 'U':
            callSearchOf(w)->previousContact();
            break;
        case 'D':
            callSearchOf(w)->nextContact();
            break;
        case 'T':
            callSearchOf(w)->topContact();
            break;
        default:
            callSearchOf(w)->endContact();
            break;
        }
    }
}

const QColor green(0, 192, 0);
const QColor blue(128, 192, 255);
const QColor red(255, 0, 0);

} // namespace

class TestSearch : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void searchMatches_data();
    void searchMatches();
    void singleMatchFillsEntryUntilTheSearchMovesOn();
    void enterAndEscapeInSearch();
    void enterAfterSingleMatchPutsStationIntoNet();
    void candidateSteps_data();
    void candidateSteps();
    void candidateListWithoutTheme();
    void candidateViewKeepsSixLinesAbove_data();
    void candidateViewKeepsSixLinesAbove();
    void longListIsCompletedAfterTheKeystroke();
    void netSteps_data();
    void netSteps();
    void pendingEditsAreStoredBeforeNetStepAndEscape();
    void contactRecordAndMembership();
    void checkInHistory_data();
    void checkInHistory();
    void netRowThenClearing();
    void distanceAndBearings_data();
    void distanceAndBearings();
    void quoteInCall();
    void searchSeesReplacedContacts();
    void searchFollowsEveryWrite();
    void keystrokeWhileTheIndexIsRead();

private:
    void search(const QString &text);
    void addContacts(const QStringList &calls);
    void addNet(int id, const QString &call, const QString &name);
    void setStation(double lat, double lon, const QString &state);

    std::unique_ptr<Runtime> rt;
    Trelvin *w = nullptr;
};

void TestSearch::init()
{
    rt = std::make_unique<Runtime>();
    QVERIFY(rt->installInfo("State_Info.csv"));
    if (QByteArray(QTest::currentTestFunction()) == "candidateListWithoutTheme")
        QSettings(QSettings::IniFormat, QSettings::UserScope, "Quenlor", "Trelvin").setValue("Main/Theme", "none");
    w = rt->start();
    QVERIFY(w->started());
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
}

void TestSearch::cleanup()
{
    rt.reset();
}

void TestSearch::search(const QString &text)
{
    FORM(w, search)->setText(text);
    callSearchOf(w)->searchEdited(text);
}

void TestSearch::addContacts(const QStringList &calls)
{
    fileDb(w).transaction();
    for (const QString &call : calls)
        insert(fileDb(w), "contact", {{"call", call}, {"name", "Name " + call}});
    fileDb(w).commit();
}

void TestSearch::addNet(int id, const QString &call, const QString &name)
{
    // Linked to the contact record, as the check-in leaves a net row.
    const QStringList conId = column(fileDb(w), "SELECT id FROM contact WHERE call = '" + call + "'");
    insert(fileDb(w), "net",
           {{"id", id}, {"call", call}, {"name", name}, {"status", 0}, {"conId", conId.value(0, "0").toInt()}});
}

void TestSearch::setStation(double lat, double lon, const QString &state)
{
    QSqlQuery(fileDb(w)).exec("DELETE FROM station");
    insert(fileDb(w), "station",
           {{"call", "W7ST"}, {"state", state}, {"lat", QString::number(lat)}, {"lon", QString::number(lon)}});
}

void TestSearch::searchMatches_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("fragment") << "w1a"
                              << "3 Match" << QStringList{"KW1AW", "W1AW", "W1AWX"};
    QTest::newRow("fragment inside calls") << "7AB"
                                           << "2 Match" << QStringList{"K7ABC", "KD7ABC"};
    QTest::newRow("trailing blank: that call alone") << "W1AW "
                                                     << "1 Match" << QStringList{"W1AW"};
    QTest::newRow("leading blank likewise") << " K7ABC"
                                            << "1 Match" << QStringList{"K7ABC"};
    QTest::newRow("trailing blank, no such call") << "W1A "
                                                  << "No Match" << QStringList{};
    QTest::newRow("nothing contains it") << "ZZ9"
                                         << "No Match" << QStringList{};
    QTest::newRow("empty") << ""
                           << "Candidates" << QStringList{};
    // What is typed is matched as it stands: '%' and '_' are no wildcards.
    QTest::newRow("percent") << "%"
                             << "1 Match" << QStringList{"W_1%"};
    QTest::newRow("underscore") << "_"
                                << "1 Match" << QStringList{"W_1%"};
    QTest::newRow("two underscores") << "__"
                                     << "No Match" << QStringList{};
    QTest::newRow("underscore inside") << "W_A"
                                       << "No Match" << QStringList{};
    QTest::newRow("percent inside, exact") << "K%C "
                                           << "No Match" << QStringList{};
    QTest::newRow("both, exact") << "W_1% "
                                 << "1 Match" << QStringList{"W_1%"};
    QTest::newRow("backslash") << "\\"
                               << "1 Match" << QStringList{"K\\9Z"};
}

void TestSearch::searchMatches()
{
    QFETCH(QString, typed);
    QFETCH(QString, label);
    QFETCH(QStringList, listed);
    addContacts({"W1AW", "K7ABC", "KW1AW", "N7XYZ", "W1AWX", "KD7ABC", "W_1%", "K\\9Z"});
    // Matches arrive from the contact table in its own order; without the
    // attachment of Contacts.db the rows are copied one by one, same result.
    for (bool attachable : {true, false}) {
        if (!attachable)
            QVERIFY(storeOf(w).detachContacts());
        search(typed);
        QCOMPARE(FORM(w, search)->text(), typed.toUpper());
        QCOMPARE(FORM(w, lb_candidate)->text(), label);
        const QStringList stored = candidates(w);
        QCOMPARE(listLines(FORM(w, callsigns)), stored);
        QStringList sorted = stored;
        sorted.sort();
        QCOMPARE(sorted, listed);
        QCOMPARE(callSearchOf(w)->candidateCount(), listed.size());
        QCOMPARE(callSearchOf(w)->currentCall(), listed.size() == 1 ? listed.first() : QString());
        QCOMPARE(FORM(w, name)->text(), listed.size() == 1 ? "Name " + listed.first() : QString());
    }
}

void TestSearch::singleMatchFillsEntryUntilTheSearchMovesOn()
{
    insert(fileDb(w), "contact", {{"call", "K7ABC"}, {"name", "Alice"}, {"city", "Provo"}});
    insert(fileDb(w), "contact", {{"call", "KD7ABC"}, {"name", "Dee"}});
    addNet(1, "KD7ABC", "Dee");
    addNet(4, "K7ABC", "Alice");

    // Typed in lower case in the middle of the text: upper case, cursor kept.
    FORM(w, search)->setFocus();
    QTest::keyClicks(FORM(w, search), "k7a");
    QCOMPARE(callSearchOf(w)->currentCall(), QString("K7ABC"));
    QCOMPARE(deskOf(w)->entry(), 4);
    QCOMPARE(texts({FORM(w, call), FORM(w, name), CONTACT(w, city)}), (QStringList{"K7ABC", "Alice", "Provo"}));
    FORM(w, search)->setCursorPosition(1);
    QTest::keyClick(FORM(w, search), Qt::Key_D);
    QCOMPARE(FORM(w, search)->text(), QString("KD7A"));
    QCOMPARE(FORM(w, search)->cursorPosition(), 2);
    QCOMPARE(deskOf(w)->entry(), 1);

    search("7A");
    QCOMPARE(FORM(w, lb_candidate)->text(), QString("2 Match"));
    QCOMPARE(callSearchOf(w)->currentCall(), QString());
    QCOMPARE(deskOf(w)->entry(), 0);
    QCOMPARE(texts({FORM(w, call), FORM(w, name), CONTACT(w, call), CONTACT(w, city)}),
             (QStringList{"7A", "", "7A", ""}));

    insert(fileDb(w), "contact", {{"call", "W1NEW"}});
    search("W1N");
    QCOMPARE(callSearchOf(w)->currentCall(), QString("W1NEW"));
    QCOMPARE(deskOf(w)->entry(), 0); // not in the net

    FORM(w, relay)->setText("W7RL");
    search("");
    QCOMPARE(FORM(w, lb_candidate)->text(), QString("Candidates"));
    QCOMPARE(FORM(w, callsigns)->toPlainText(), QString());
    QCOMPARE(callSearchOf(w)->currentCall(), QString());
    QCOMPARE(texts({FORM(w, call), FORM(w, relay)}), (QStringList{"", "W7RL"}));
}

void TestSearch::enterAndEscapeInSearch()
{
    // Enter: an empty call takes the trimmed search, or the one match.
    addContacts({"K7ABC", "K7AXE"});
    search(" k7a ");
    QVERIFY(callSearchOf(w)->candidateCount() != 1);
    FORM(w, call)->clear();
    QTest::keyClick(FORM(w, search), Qt::Key_Return);
    QCOMPARE(FORM(w, call)->text(), QString("K7A"));
    QCOMPARE(FORM(w, search)->text(), QString());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(FORM(w, search)));
    FORM(w, call)->clear();
    search("k7ab");
    QCOMPARE(callSearchOf(w)->candidateCount(), 1);
    QCOMPARE(callSearchOf(w)->currentCall(), QString("K7ABC"));
    FORM(w, call)->clear();
    QTest::keyClick(FORM(w, search), Qt::Key_Return);
    QCOMPARE(FORM(w, call)->text(), QString("K7ABC"));
    FORM(w, search)->setText("k7a");
    FORM(w, call)->setText("W1AW");
    QTest::keyClick(FORM(w, search), Qt::Key_Return);
    QCOMPARE(FORM(w, call)->text(), QString("W1AW"));

    // Esc with nothing edited starts over and stores nothing.
    QSqlQuery(fileDb(w)).exec("DELETE FROM net");
    addContacts({"K1AA", "K1AB", "K1AC"});
    search("K1A");
    press(w, "D");
    FORM(w, call)->setFocus();
    callSearchOf(w)->selectSearch();
    QCOMPARE(texts({FORM(w, search), FORM(w, call), FORM(w, name), CONTACT(w, call)}), QStringList(4, QString()));
    QCOMPARE(FORM(w, lb_candidate)->text(), QString("Candidates"));
    QCOMPARE(FORM(w, callsigns)->toPlainText(), QString());
    QCOMPARE(candidates(w), QStringList());
    QCOMPARE(callSearchOf(w)->candidateCount() + callSearchOf(w)->candidateCursor(), 0);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(FORM(w, search)));
    QCOMPARE(column(fileDb(w), "SELECT call FROM net"), QStringList());
}

void TestSearch::enterAfterSingleMatchPutsStationIntoNet()
{
    // Needs the check-in logic: Enter stores the station found, not the fragment.
    insert(fileDb(w), "contact", {{"call", "K7ABC"}, {"name", "Alice"}});
    search("7AB");
    QTest::keyClick(FORM(w, search), Qt::Key_Return);
    QCOMPARE(column(fileDb(w), "SELECT call || ' ' || name FROM net"), QStringList{"K7ABC Alice"});
    QCOMPARE(column(fileDb(w), "SELECT call FROM log"), QStringList());
}

void TestSearch::candidateSteps_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<bool>("moved"); // by the last key

    QTest::newRow("Down from none") << "D" << 1 << true;
    QTest::newRow("Up from none") << "U" << 0 << false;
    QTest::newRow("Down walks") << "DDD" << 3 << true;
    QTest::newRow("Up at the first") << "DU" << 1 << false;
    QTest::newRow("Page Down") << "B" << 10 << true;
    QTest::newRow("Down at the last") << "BD" << 10 << false;
    QTest::newRow("Up from the last") << "BU" << 9 << true;
    QTest::newRow("Page Up") << "BT" << 1 << true;
}

void TestSearch::candidateSteps()
{
    QFETCH(QString, keys);
    QFETCH(int, cursor);
    QFETCH(bool, moved);
    QStringList calls;
    for (char c = 'A'; c <= 'J'; ++c)
        calls.append(QString("K1A") + c);
    addContacts(calls);
    addNet(2, "W7NET", "Net");
    search("K1A");
    press(w, keys.left(keys.size() - 1));
    // An edit made before a step between candidates is not stored.
    FORM(w, name)->setText("Changed");
    FORM(w, name)->setModified(true);
    press(w, keys.right(1));

    QCOMPARE(callSearchOf(w)->candidateCursor(), cursor);
    QCOMPARE(FORM(w, lb_candidate)->text(), QString("10 Match"));
    if (cursor)
        QCOMPARE(FORM(w, call)->text(), calls.at(cursor - 1));
    QCOMPARE(FORM(w, name)->text(), moved ? "Name " + calls.at(cursor - 1) : QString("Changed"));
    QCOMPARE(listLines(FORM(w, callsigns)), calls);
    for (int line = 0; line < calls.size(); ++line)
        QCOMPARE(lineColour(FORM(w, callsigns), line), line + 1 == cursor ? green : blue);
    QCOMPARE(column(fileDb(w), "SELECT call FROM net"), QStringList{"W7NET"});
    QCOMPARE(column(fileDb(w), "SELECT call FROM contact WHERE name = 'Changed'"), QStringList());
    QCOMPARE(deskOf(w)->markedEntry(), 1);

    // A theme switch redraws the list in its colours.
    FORM(w, actionLightTheme)->trigger();
    QCOMPARE(listLines(FORM(w, callsigns)), calls);
    QCOMPARE(lineColour(FORM(w, callsigns), 0), cursor == 1 ? QColor(0, 128, 0) : QColor(0, 0, 255));
}

void TestSearch::candidateListWithoutTheme()
{
    QVERIFY(!themeOf(w)->colours().normalText.isValid());
    addContacts({"K1AA", "K1AB", "K1AC"});
    search("K1A");
    press(w, "D");
    QCOMPARE(listLines(FORM(w, callsigns)), (QStringList{"K1AA", "K1AB", "K1AC"}));
    for (int line = 0; line < 3; ++line)
        QCOMPARE(lineColour(FORM(w, callsigns), line), QColor());
}

void TestSearch::candidateViewKeepsSixLinesAbove_data()
{
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("cursorLine");
    QTest::addColumn<int>("firstVisible"); // -1: the view ends at the last line

    QTest::newRow("none highlighted") << 0 << 0 << 0;
    QTest::newRow("seventh") << 7 << 0 << 0;
    QTest::newRow("middle") << 20 << 13 << 13;
    QTest::newRow("last") << 40 << 33 << -1;
}

void TestSearch::candidateViewKeepsSixLinesAbove()
{
    QFETCH(int, cursor);
    QFETCH(int, cursorLine);
    QFETCH(int, firstVisible);
    QStringList calls;
    for (int i = 1; i <= 40; ++i)
        calls.append(QString("K%1X").arg(i, 2, 10, QLatin1Char('0')));
    addContacts(calls);
    search("K");
    press(w, QString(cursor, QLatin1Char('D')));
    QCOMPARE(callSearchOf(w)->candidateCursor(), cursor);

    QTextEdit *list = FORM(w, callsigns);
    const int height = list->viewport()->height();
    QCOMPARE(list->textCursor().blockNumber(), cursorLine);
    if (firstVisible >= 0)
        QCOMPARE(list->cursorForPosition(QPoint(2, 2)).blockNumber(), firstVisible);
    else
        QCOMPARE(list->cursorForPosition(QPoint(2, height - 2)).blockNumber(), 39);
    if (cursor > 0) {
        const QRectF line =
            list->document()->documentLayout()->blockBoundingRect(list->document()->findBlockByNumber(cursor - 1));
        const int offset = list->verticalScrollBar()->value();
        QVERIFY(line.top() >= offset && line.bottom() <= offset + height);
    }
}

void TestSearch::longListIsCompletedAfterTheKeystroke()
{
    QStringList calls;
    for (int i = 1; i <= 3000; ++i)
        calls.append(QString("N%1").arg(i, 4, 10, QLatin1Char('0')));
    addContacts(calls);

    search("N");
    QCOMPARE(FORM(w, lb_candidate)->text(), QString("3000 Match"));
    QTRY_COMPARE(FORM(w, callsigns)->document()->blockCount(), 3000);
    QCOMPARE(listLines(FORM(w, callsigns)), calls);

    // A keystroke while a long list is being drawn replaces it for good,
    // whether the new list is short or long itself.
    search("N");
    search("N000");
    QTest::qWait(100);
    QCOMPARE(listLines(FORM(w, callsigns)), calls.mid(0, 9));
    search("N");
    search("0");
    const QStringList zeros = candidates(w);
    QVERIFY(zeros.size() > 1500);
    QTRY_VERIFY(FORM(w, callsigns)->document()->blockCount() >= zeros.size());
    QTest::qWait(100);
    QCOMPARE(listLines(FORM(w, callsigns)), zeros);

    search("N");
    press(w, "B");
    QCOMPARE(FORM(w, call)->text(), QString("N3000"));
    QCOMPARE(FORM(w, callsigns)->textCursor().blockNumber(), 2993);
    QCOMPARE(lineColour(FORM(w, callsigns), 2999), green);
}

void TestSearch::netSteps_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("active");
    QTest::addColumn<QString>("call");

    QTest::newRow("Down to the first") << ""
                                       << "D" << 2 << "K7AA";
    QTest::newRow("Down over a gap") << ""
                                     << "DD" << 5 << "K7BB";
    QTest::newRow("Down at the last shows it again") << ""
                                                     << "DDDD" << 9 << "K7CC";
    QTest::newRow("Up at the first shows it again") << ""
                                                    << "DU" << 2 << "K7AA";
    QTest::newRow("Up from the last") << ""
                                      << "BU" << 5 << "K7BB";
    QTest::newRow("Page Up") << ""
                             << "BT" << 2 << "K7AA";
    QTest::newRow("Up before any row") << ""
                                       << "U" << 1 << "";
    QTest::newRow("one candidate walks the net") << "K7C"
                                                 << "D" << 2 << "K7AA";
}

void TestSearch::netSteps()
{
    QFETCH(QString, search);
    QFETCH(QString, keys);
    QFETCH(int, active);
    QFETCH(QString, call);
    insert(fileDb(w), "contact", {{"call", "K7AA"}, {"name", "Al"}});
    insert(fileDb(w), "contact", {{"call", "K7BB"}, {"name", ""}});
    insert(fileDb(w), "contact", {{"call", "K7CC"}, {"name", "Cy"}});
    addNet(2, "K7AA", "Al");
    addNet(5, "K7BB", "");
    addNet(9, "K7CC", "Cy");
    this->search(search);
    FORM(w, search)->setFocus();
    press(w, keys);

    QCOMPARE(deskOf(w)->markedEntry(), active);
    QCOMPARE(deskOf(w)->entry(), call.isEmpty() ? 0 : active);
    QCOMPARE(texts({FORM(w, call), FORM(w, delCon)}), (QStringList{call, call}));
    QCOMPARE(callSearchOf(w)->candidateCursor(), 0);
    // Ready for a comment when the station has a name, else for its details.
    QWidget *focus = call.isEmpty() ? FORM(w, search) : call == "K7BB" ? FORM(w, call) : FORM(w, qso);
    QCOMPARE(QApplication::focusWidget(), focus);
}

void TestSearch::pendingEditsAreStoredBeforeNetStepAndEscape()
{
    // Needs the check-in logic: addContact(128) stores what was edited.
    insert(fileDb(w), "contact", {{"call", "K7AA"}, {"name", "Al"}});
    insert(fileDb(w), "contact", {{"call", "K7BB"}, {"name", "Bo"}});
    addNet(1, "K7AA", "Al");
    addNet(2, "K7BB", "Bo");
    press(w, "T");
    FORM(w, qso)->setText("portable");
    FORM(w, qso)->setModified(true);
    press(w, "D");
    QCOMPARE(column(fileDb(w), "SELECT comment FROM net WHERE id = 1"), QStringList{"portable"});
    FORM(w, city)->setText("Moab");
    FORM(w, city)->setModified(true);
    callSearchOf(w)->selectSearch();
    QCOMPARE(column(fileDb(w), "SELECT city FROM net WHERE id = 2"), QStringList{"Moab"});
    QCOMPARE(FORM(w, call)->text(), QString());
}

void TestSearch::contactRecordAndMembership()
{
    insert(fileDb(w), "contact",
           {{"call", "K7ABC"},
            {"name", "Alice"},
            {"last", "Smith"},
            {"class", "E"},
            {"expire", "2031-05-01"},
            {"address", "1 Main St"},
            {"city", "Provo"},
            {"state", "UT"},
            {"zip", "84601"},
            {"country", "USA"},
            {"email", "k@example.org"},
            {"phone", "8015551234"},
            {"lat", "40.23"},
            {"lon", "-111.66"},
            {"grid", "DN40bf"},
            {"source", "user"},
            {"utc", "-7"},
            {"dst", "Y"},
            {"born", "1970"}});
    insert(fileDb(w), "contact", {{"call", "K7NOPH"}, {"phone", ""}});
    insert(memoryDb(w), "mbr", {{"call", "K7ABC"}});
    setStation(40.23, -112.66, "UT");
    // The station's offset as the Station dialog takes it from the stored row.
    QSqlQuery(fileDb(w)).exec("UPDATE station SET utc = '-5'");
    LookupController *lookups = w->findChild<LookupController *>();
    lookups->showStationDetails();
    QCOMPARE(lookups->stationUtcOffset(), -5);
    FORM(w, attend)->setText("9");
    FORM(w, last)->setText("01/01/20");
    FORM(w, qso)->setText("old");
    FORM(w, name)->setPalette(themeOf(w)->alert());

    callSearchOf(w)->showContact("K7ABC", 2);
    QCOMPARE(texts({FORM(w, call), FORM(w, name), FORM(w, city), FORM(w, state), FORM(w, attend), FORM(w, last),
                    FORM(w, qso)}),
             (QStringList{"K7ABC", "Alice", "Provo", "UT", "", "", ""}));
    QCOMPARE(
        texts({CONTACT(w, call),   CONTACT(w, fname), CONTACT(w, name),     CONTACT(w, classlic), CONTACT(w, expire),
               CONTACT(w, addr),   CONTACT(w, city),  CONTACT(w, state),    CONTACT(w, zip),      CONTACT(w, country),
               CONTACT(w, email),  CONTACT(w, phone), CONTACT(w, lat),      CONTACT(w, lon),      CONTACT(w, grid),
               CONTACT(w, geoloc), CONTACT(w, utc),   CONTACT(w, tzOffset), CONTACT(w, dst),      CONTACT(w, born)}),
        (QStringList{
            "K7ABC", "Alice",         "Smith",          "E",     "2031-05-01", "1 Main St", "Provo", "UT", "84601",
            "USA",   "k@example.org", "(801) 555-1234", "40.23", "-111.66",    "DN40bf",    "user",  "-7", "-2",
            "Y",     "1970"}));
    // The contact's own offset, as the time difference was reckoned from it.
    QCOMPARE(CONTACT(w, tzOffset)->text().toInt() + lookups->stationUtcOffset(), -7);
    QCOMPARE(textColour(FORM(w, name)), green);
    QVERIFY(!FORM(w, name)->isModified());
    // The bearing comes from the record's own coordinates: due east.
    QCOMPARE(FORM(w, bear)->text(), QString(" 90"));
    QCOMPARE(FORM(w, member)->text(), QString("YES"));
    QCOMPARE(textColour(FORM(w, member)), green);

    callSearchOf(w)->showContact("K7NOPH", 2);
    QCOMPARE(CONTACT(w, phone)->text(), QString());
    QCOMPARE(FORM(w, member)->text(), QString("NO"));
    QCOMPARE(textColour(FORM(w, member)), red);

    // A call without a record leaves the record's fields as they were.
    callSearchOf(w)->showContact("K7NONE", 2);
    QCOMPARE(texts({FORM(w, call), CONTACT(w, call)}), (QStringList{"K7NOPH", "K7NOPH"}));
}

void TestSearch::checkInHistory_data()
{
    const QString today = QDate::currentDate().toString("yyMMdd");
    QTest::addColumn<QStringList>("dates"); // one log row per date, in id order
    QTest::addColumn<QString>("attend");
    QTest::addColumn<QString>("last");

    QTest::newRow("earlier nets") << QStringList{"240105", "240312"} << "2"
                                  << "03/12/24";
    QTest::newRow("tonight counted, not last") << QStringList{"240105", "240312", today} << "3"
                                               << "03/12/24";
    QTest::newRow("tonight before an earlier row") << QStringList{today, "231130"} << "2"
                                                   << "11/30/23";
    QTest::newRow("only tonight") << QStringList{today, today} << "2"
                                  << "";
    QTest::newRow("leap day of 2000") << QStringList{"000229"} << "1"
                                      << "02/29/00";
}

void TestSearch::checkInHistory()
{
    QFETCH(QStringList, dates);
    QFETCH(QString, attend);
    QFETCH(QString, last);
    insert(fileDb(w), "contact", {{"call", "K7ABC"}, {"name", "Alice"}, {"city", "Provo"}, {"state", "UT"}});
    insert(fileDb(w), "log", {{"call", "K7XYZ"}, {"date", "240101"}});
    for (int i = 0; i < dates.size(); ++i)
        insert(fileDb(w), "log",
               {{"call", "K7ABC"},
                {"date", dates.at(i)},
                {"name", QString("Name%1").arg(i)},
                {"city", QString("City%1").arg(i)},
                {"state", i % 2 ? "ID" : "NV"}});
    callSearchOf(w)->showContact("K7ABC", 2);
    // The last row logged is fresher than the contact record.
    const int n = dates.size() - 1;
    QCOMPARE(
        texts({FORM(w, attend), FORM(w, last), FORM(w, name), FORM(w, city), FORM(w, state), CONTACT(w, fname)}),
        (QStringList{attend, last, QString("Name%1").arg(n), QString("City%1").arg(n), n % 2 ? "ID" : "NV", "Alice"}));
}

void TestSearch::netRowThenClearing()
{
    insert(fileDb(w), "contact",
           {{"call", "K7ABC"},
            {"name", "Alice"},
            {"city", "Provo"},
            {"state", "UT"},
            {"lat", "40.23"},
            {"lon", "-111.66"},
            {"utc", "-7"},
            {"phone", "8015551234"}});
    insert(fileDb(w), "log", {{"call", "K7ABC"}, {"date", "240105"}, {"name", "Al"}, {"city", "Orem"}});
    insert(fileDb(w), "net",
           {{"call", "K7ABC"},
            {"name", "Ally"},
            {"city", "Lehi"},
            {"state", "ID"},
            {"comment", "mobile tonight"},
            {"relay", "W7RL"},
            {"status", 0}});
    setStation(40.76, -111.89, "UT");
    callSearchOf(w)->showContact("K7ABC", 2);
    QCOMPARE(texts({FORM(w, name), FORM(w, city), FORM(w, state), FORM(w, qso), FORM(w, relay), FORM(w, attend),
                    FORM(w, last)}),
             (QStringList{"Ally", "Lehi", "ID", "mobile tonight", "W7RL", "1", "01/05/24"}));
    QVERIFY(!FORM(w, dist)->text().isEmpty());

    // Type 0 clears the entry and the dialog; the relay stays.
    FORM(w, search)->setText("k7");
    FORM(w, member)->setText("YES");
    FORM(w, city)->setPalette(themeOf(w)->alert());
    callSearchOf(w)->showContact("", 0);
    QCOMPARE(texts({CONTACT(w, call), FORM(w, call), FORM(w, relay)}), (QStringList{"K7", "K7", "W7RL"}));
    for (const QLineEdit *field :
         {CONTACT(w, fname), CONTACT(w, name),     CONTACT(w, classlic), CONTACT(w, expire),  CONTACT(w, addr),
          CONTACT(w, city),  CONTACT(w, state),    CONTACT(w, zip),      CONTACT(w, country), CONTACT(w, email),
          CONTACT(w, phone), CONTACT(w, lat),      CONTACT(w, lon),      CONTACT(w, grid),    CONTACT(w, geoloc),
          CONTACT(w, utc),   CONTACT(w, tzOffset), CONTACT(w, dst),      CONTACT(w, born),    FORM(w, name),
          FORM(w, city),     FORM(w, state),       FORM(w, member),      FORM(w, attend),     FORM(w, last),
          FORM(w, qso),      FORM(w, bear),        FORM(w, revBear),     FORM(w, dist)})
        QVERIFY2(field->text().isEmpty(), qPrintable(field->objectName()));
    QCOMPARE(textColour(FORM(w, city)), green);
}

void TestSearch::distanceAndBearings_data()
{
    QTest::addColumn<QString>("station"); // "lat,lon,state"; empty: no station record
    QTest::addColumn<QString>("contact"); // the dialog's "lat,lon,state"
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("shown"); // dist, bear, revBear

    // Centres of the shipped file: UT 39.3237,-111.6788; ID 44.3902,-114.6567; CO 38.9980,-105.5525.
    const QStringList none{"", "", ""};
    QTest::newRow("one degree north") << "40,-111,UT"
                                      << "41,-111,UT"
                                      << "UT" << QStringList{"    69", "  0", "180"};
    QTest::newRow("typed in lower case") << "40,-111,UT"
                                         << "41,-111,UT"
                                         << "ut" << QStringList{"    69", "  0", "180"};
    QTest::newRow("station north of the box") << "60,-111,UT"
                                              << "41,-111,UT"
                                              << "UT" << QStringList{"   121", " 17", "197"};
    QTest::newRow("station east of the box") << "40,-60,UT"
                                             << "41,-111,UT"
                                             << "UT" << QStringList{"   121", " 17", "197"};
    QTest::newRow("station on the box's corner") << "24.5,-67,UT"
                                                 << "41,-111,UT"
                                                 << "UT" << QStringList{"  2764", "305", "100"};
    QTest::newRow("station on its north edge") << "49,-111,UT"
                                               << "41,-111,UT"
                                               << "UT" << QStringList{"   553", "180", "  0"};
    QTest::newRow("station outside, state unknown") << "60,-111,ZZ"
                                                    << "41,-111,UT"
                                                    << "UT" << QStringList{"  1313", "180", "  0"};
    QTest::newRow("typed state differs") << "40,-111,UT"
                                         << "41,-111,UT"
                                         << "ID" << QStringList{"   356", "330", "147"};
    QTest::newRow("contact near 0") << "40,-111,UT"
                                    << "0.05,-111,CO"
                                    << "CO" << QStringList{"   299", "102", "285"};
    QTest::newRow("contact 0,0, unknown state") << "40,-111,UT"
                                                << "0,0,ZZ"
                                                << "ZZ" << none;
    QTest::newRow("no station record") << ""
                                       << "41,-111,UT"
                                       << "UT" << none;
}

void TestSearch::distanceAndBearings()
{
    QFETCH(QString, station);
    QFETCH(QString, contact);
    QFETCH(QString, typed);
    QFETCH(QStringList, shown);
    const QStringList s = station.split(',');
    if (!station.isEmpty())
        setStation(s.at(0).toDouble(), s.at(1).toDouble(), s.at(2));
    const QStringList c = contact.split(',');
    CONTACT(w, lat)->setText(c.at(0));
    CONTACT(w, lon)->setText(c.at(1));
    CONTACT(w, state)->setText(c.at(2));
    for (QLineEdit *field : {FORM(w, dist), FORM(w, bear), FORM(w, revBear)})
        field->setText("stale");

    callSearchOf(w)->stateChanged(typed);
    QCOMPARE(texts({FORM(w, dist), FORM(w, bear), FORM(w, revBear)}), shown);
    // Editing the field recomputes as well.
    FORM(w, state)->setText("X");
    FORM(w, dist)->clear();
    FORM(w, state)->setText(typed);
    QCOMPARE(FORM(w, dist)->text(), shown.first());
}

void TestSearch::quoteInCall()
{
    insert(fileDb(w), "contact", {{"call", "O'BR"}, {"name", "Brian"}, {"state", "UT"}});
    insert(fileDb(w), "contact", {{"call", "K7ABC"}});
    insert(fileDb(w), "log", {{"call", "O'BR"}, {"date", "240105"}, {"name", "Brian"}});
    insert(memoryDb(w), "mbr", {{"call", "O'BR"}});
    insert(fileDb(w), "net", {{"id", 3}, {"call", "O'BR"}, {"name", "Bri"}, {"comment", "it's me"}});

    search("o'b");
    QCOMPARE(callSearchOf(w)->currentCall(), QString("O'BR"));
    QCOMPARE(deskOf(w)->entry(), 3);
    QCOMPARE(texts({FORM(w, call), FORM(w, name), FORM(w, member), FORM(w, attend), FORM(w, qso)}),
             (QStringList{"O'BR", "Bri", "YES", "1", "it's me"}));
    search("O'BR ");
    QCOMPARE(callSearchOf(w)->currentCall(), QString("O'BR"));
    search("'");
    QCOMPARE(FORM(w, lb_candidate)->text(), QString("1 Match"));
    callSearchOf(w)->stateChanged("O'");
    QCOMPARE(FORM(w, dist)->text(), QString());
}

void TestSearch::searchSeesReplacedContacts()
{
    // Contacts.db stays attached between keystrokes; a contacts file loaded
    // in between replaces the table under it, and the next keystroke sees it.
    addContacts({"W1AW", "K7ABC"});
    search("W1");
    QCOMPARE(FORM(w, lb_candidate)->text(), QString("1 Match"));

    const QString path = rt->dataPath() + "/Contacts-new.csv";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("header\n\"W1XYZ\",\"Ann\"" + QByteArray(",").repeated(17) + "\n\"KW1Q\"" + QByteArray(",").repeated(18)
               + "\n");
    file.close();
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadContacts)->trigger();
    search("W1");
    QCOMPARE(FORM(w, lb_candidate)->text(), QString("2 Match"));
    QCOMPARE(candidates(w), (QStringList{"KW1Q", "W1XYZ"}));
}

void TestSearch::searchFollowsEveryWrite()
{
    // Whatever writes to the contact table, the next search lists what a
    // LIKE over the table lists, in the order of its index on the call.
    const auto same = [this](const char *step) {
        // The index where SQLite gives this library's handle, the LIKE
        // otherwise; after a load, once its work beside the window is done.
        QTRY_VERIFY(!filesOf(w)->finishingLoad());
        if (!qEnvironmentVariableIsSet("TRELVIN_TEST_QT_SQL_ONLY"))
            QVERIFY(waitForCallIndex(storeOf(w)));
        for (const char *typed : {"", "K", "W1", "1A", "AB", "w1aw", "%", "_", "K7ABC", "Ä", "ZZ"}) {
            const QString fragment = QString::fromUtf8(typed);
            for (bool whole : {false, true}) {
                storeOf(w).contacts().findCandidates(fragment.toUpper(), whole);
                QSqlQuery like(fileDb(w));
                like.prepare("SELECT call FROM contact WHERE call LIKE ? ESCAPE '\\' ORDER BY call, id");
                const QString literal = likeLiteral(fragment.toUpper());
                like.addBindValue(whole ? literal : "%" + literal + "%");
                QVERIFY(like.exec());
                QStringList listed;
                while (like.next())
                    listed.append(like.value(0).toString());
                QVERIFY2(candidates(w) == listed, qPrintable(QString("%1: '%2'%3: %4 instead of %5")
                                                                 .arg(step, fragment, whole ? " alone" : "",
                                                                      candidates(w).join(','), listed.join(','))));
            }
        }
    };
    // Lower case, the same call twice, wildcard characters, no call at all.
    addContacts({"W1AW", "k7abc", "KD7ABC", "W1AW", "N_1%", "Wä1", "K7ABC"});
    insert(fileDb(w), "contact", {{"name", "no call"}});
    same("first search");

    insert(fileDb(w), "contact", {{"call", "AB1C"}});
    QSqlQuery(fileDb(w)).exec("UPDATE contact SET call = 'ZZ9Z' WHERE call = 'KD7ABC'");
    QSqlQuery(fileDb(w)).exec("DELETE FROM contact WHERE call = 'W1AW' AND id = 1");
    same("rows written on the file's connection");

    ContactRecord record;
    record.call = "W1AWX";
    QVERIFY(storeOf(w).contacts().saveContact(record).ok());
    QVERIFY(storeOf(w).contacts().deleteContact("k7abc").ok());
    same("saved and removed");

    QVERIFY(QSqlQuery(memoryDb(w)).exec("INSERT INTO contacts.contact (call) VALUES ('KA1B')"));
    same("written where the file is attached");

    // Rows seen inside a transaction that is then rolled back are gone again.
    QVERIFY(fileDb(w).transaction());
    insert(fileDb(w), "contact", {{"call", "KX1ROLL"}});
    same("inside a transaction");
    QVERIFY(fileDb(w).rollback());
    same("rolled back");

    // A table emptied at once, then filled in one statement.
    QVERIFY(QSqlQuery(fileDb(w)).exec("DELETE FROM contact"));
    same("emptied");
    QVERIFY(QSqlQuery(fileDb(w)).exec("INSERT INTO contact (call) VALUES ('W2AB'), ('w2ab'), ('AA2Z')"));
    same("filled again");

    // Another program's write passes this program's connections by.
    QVERIFY(runAsAnotherProgram(fileDb(w).databaseName(), "INSERT INTO contact (call) VALUES ('W2ABX')"));
    same("written by another program");

    // Written on workers' own connections, with another worker open
    // meanwhile: only their own count of their changes to the contacts has
    // the index read again, not the end of all the program's work.
    Storage reader(workerConnectionName());
    QVERIFY(reader.openWorker(fileDb(w).databaseName(), false).ok());

    // A roster merged: a stored station's data changed, a new one added.
    {
        const QString roster = rt->dataPath() + "/Roster-new.csv";
        QFile members(roster);
        QVERIFY(members.open(QIODevice::WriteOnly));
        members.write("header\n\"W2AB\",\"Ann\"" + QByteArray(",").repeated(17) + "\n\"KW9NEW\",\"Bo\""
                      + QByteArray(",").repeated(17) + "\n");
        members.close();
        filesOf(w)->loadRoster(roster);
        QVERIFY(waitForJobs(w));
        same("merged from a roster");
    }

    // A contacts file loaded: a new table takes the old one's name.
    const QString path = rt->dataPath() + "/Contacts-new.csv";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("header\n\"W1XYZ\"" + QByteArray(",").repeated(18) + "\n\"kw1q\"" + QByteArray(",").repeated(18) + "\n");
    file.close();
    rt->prompter.paths = QStringList{path};
    FORM(w, actionLoadContacts)->trigger();
    same("loaded from a file");
}

void TestSearch::keystrokeWhileTheIndexIsRead()
{
    if (qEnvironmentVariableIsSet("TRELVIN_TEST_QT_SQL_ONLY"))
        QSKIP("the index of calls needs SQLite's own handle");
    // Enough rows in one statement that the index is read again whole, and
    // that the table's scan stops at its first look at the clock.
    QVERIFY(
        QSqlQuery(fileDb(w)).exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40000) "
                                  "INSERT INTO contact (call, name) SELECT 'K' || (10000 + i), 'Name ' || i FROM n"));
    const int scanMs = CallSearch::partialScanMs;
    CallSearch::partialScanMs = 0;
    const auto restore = qScopeGuard([scanMs] { CallSearch::partialScanMs = scanMs; });

    // The first candidates at once, no station taken for the only one.
    search("K");
    QVERIFY(storeOf(w).contacts().callIndexReading());
    const QString label = FORM(w, lb_candidate)->text();
    QVERIFY2(label == "Searching..." || label.endsWith(" Match so far"), qPrintable(label));
    // The first ones of the whole answer, in its order.
    QStringList all;
    for (int i = 1; i <= 40000; ++i)
        all.append("K" + QString::number(10000 + i));
    QVERIFY(candidates(w).size() < 40000);
    QCOMPARE(candidates(w), all.mid(0, candidates(w).size()));
    // The whole answer once the index is in.
    QTRY_COMPARE(FORM(w, lb_candidate)->text(), QString("40000 Match"));
    QCOMPARE(candidates(w).size(), 40000);
    QCOMPARE(candidates(w).first(), QString("K10001"));

    // A call typed whole while the index is read: not "No Match", nothing
    // looked up elsewhere; then the station itself.
    QVERIFY(QSqlQuery(fileDb(w)).exec("UPDATE contact SET name = 'Renamed' WHERE id > 20000"));
    search("K49999");
    QVERIFY(FORM(w, lb_candidate)->text() != QString("No Match"));
    QCOMPARE(FORM(w, name)->text(), QString());
    QTRY_COMPARE(FORM(w, lb_candidate)->text(), QString("1 Match"));
    QCOMPARE(FORM(w, call)->text(), QString("K49999"));
    QCOMPARE(FORM(w, name)->text(), QString("Renamed"));
}

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
