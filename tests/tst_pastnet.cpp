#include "pgserver.h"
#include "testsupport.h"

#include "app/trelvin.h"
#include "pastnet/pastnetcontroller.h"
#include "pastnet/pastnetdialog.h"
#include "pastnet/pastnetrules.h"
#include "records/netrecordscontroller.h"
#include "reports/reportscontroller.h"
#include "reports/seelogs.h"
#include "ui_trelvin.h"

#include <QDateEdit>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSqlQuery>
#include <QTimeEdit>
#include <QtTest>

#include <ctime>

namespace {

// Denver is UTC-7 in January: 19:00 there is 02:00 UTC the next day.
const char Zone[] = "America/Denver";
const QDate NetDate(2024, 1, 5);

QLineEdit *pastTime(const Trelvin *w)
{
    return w->findChild<QLineEdit *>(QStringLiteral("pastTime"));
}
QLabel *pastStatus(const Trelvin *w)
{
    return w->findChild<QLabel *>(QStringLiteral("pastNetStatus"));
}
QAction *pastAction(const Trelvin *w)
{
    return w->findChild<QAction *>(QStringLiteral("actionPastNet"));
}
PastNetDialog *pastDialog(const Trelvin *w)
{
    return w->findChild<PastNetController *>(QStringLiteral("pastNet"))->dialog();
}

// Setup > Log a Past Net..., answered with `date` and `start`.
void beginPastNet(Trelvin *w, const QDate &date, const QTime &start)
{
    pastAction(w)->trigger();
    PastNetDialog *dialog = pastDialog(w);
    QVERIFY(dialog->isVisible());
    dialog->dateEdit->setDate(date);
    dialog->timeEdit->setTime(start);
    dialog->accept();
}

// A line of the paper log typed as the operator types it: the time when
// given (else the last one stays), the call, name and city, Enter in the
// comment.
void typeTime(Trelvin *w, const QString &time)
{
    QTest::keyClick(pastTime(w), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(pastTime(w), time);
}

void typeCheckIn(Trelvin *w, const QString &time, const QString &call, const QString &name,
                 const QString &comment = QString())
{
    if (!time.isEmpty())
        typeTime(w, time);
    deskOf(w)->setEntry(0);
    for (QLineEdit *field : {FORM(w, call), FORM(w, name), FORM(w, city), FORM(w, state), FORM(w, qso)})
        field->clear();
    QTest::keyClicks(FORM(w, call), call);
    QTest::keyClicks(FORM(w, name), name);
    QTest::keyClicks(FORM(w, city), QStringLiteral("Ogden"));
    QTest::keyClicks(FORM(w, state), QStringLiteral("UT"));
    QTest::keyClicks(FORM(w, qso), comment);
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
}

QStringList logRows(const Trelvin *w)
{
    return column(fileDb(w), QStringLiteral("SELECT date || ' ' || time || ' ' || status || ' ' || call || ' ' || "
                                            "comment FROM log ORDER BY id"));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The values of every record of an ADI file, by field name; the
// lengths are ASCII counts.
QList<QMap<QByteArray, QByteArray>> adiRecords(const QByteArray &bytes)
{
    QList<QMap<QByteArray, QByteArray>> records;
    QMap<QByteArray, QByteArray> current;
    static const QRegularExpression tag(QStringLiteral("<([A-Za-z_]+)(?::(\\d+))?>"));
    QRegularExpressionMatchIterator it = tag.globalMatch(QString::fromLatin1(bytes));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QByteArray name = m.captured(1).toUpper().toLatin1();
        if (name == "EOH") {
            current.clear();
        } else if (name == "EOR") {
            records << current;
            current.clear();
        } else {
            current[name] = bytes.mid(m.capturedEnd(), m.captured(2).toInt());
        }
    }
    return records;
}

} // namespace

class TestPastNet : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void typedTimes_data();
    void typedTimes();
    void startsOnlyBeforeNowAndIntoAnEmptyList();
    void paperNetEnteredByKeys();
    void aRunKilledInAPastNetResumesIt();
    void pastNetReachesASecondProgram();
};

void TestPastNet::initTestCase()
{
    qputenv("TZ", Zone);
    tzset();
}

void TestPastNet::typedTimes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("taken");
    QTest::addColumn<QString>("problem");
    const QString before = QStringLiteral("is before the net's start at 19:00 on 2024-01-05. A past net ends with "
                                          "its date: what came after midnight is a past net of the next day.");
    QTest::newRow("as typed") << "19:42"
                              << "19:42:00"
                              << "";
    QTest::newRow("without colon") << "1942"
                                   << "19:42:00"
                                   << "";
    QTest::newRow("short hour") << " 9:42 "
                                << ""
                                << "09:42 " + before;
    QTest::newRow("seconds") << "19:42:30"
                             << "19:42:30"
                             << "";
    QTest::newRow("the last again") << "19:30"
                                    << "19:30:00"
                                    << "";
    QTest::newRow("before the last")
        << "19:29"
        << ""
        << "19:29 is before 19:30, the time entered last: the times of a past net go forward.";
    QTest::newRow("before the start") << "18:59"
                                      << ""
                                      << "18:59 " + before;
    QTest::newRow("after midnight, wrapped") << "00:10"
                                             << ""
                                             << "00:10 " + before;
    QTest::newRow("after midnight, counted on")
        << "24:10"
        << ""
        << "24:10 is past midnight: a past net ends with its date, 2024-01-05. Enter what came after midnight as a "
           "past net of the next day.";
    QTest::newRow("last second of the day") << "23:59:59"
                                            << "23:59:59"
                                            << "";
    QTest::newRow("no time") << ""
                             << ""
                             << "'' is not a time of day. Type the time of the paper log as HH:MM (24 hours).";
    QTest::newRow("minutes out of range")
        << "19:75"
        << ""
        << "'19:75' is not a time of day. Type the time of the paper log as HH:MM (24 hours).";
    QTest::newRow("letters") << "7pm"
                             << ""
                             << "'7pm' is not a time of day. Type the time of the paper log as HH:MM (24 hours).";
}

void TestPastNet::typedTimes()
{
    QFETCH(QString, typed);
    QFETCH(QString, taken);
    QFETCH(QString, problem);
    const QDateTime start(NetDate, QTime(19, 0));
    const QDateTime last(NetDate, QTime(19, 30));
    const PastNetRules::Typed result = PastNetRules::typedTime(typed, start, last, QDateTime(QDate(2025, 1, 1), {}));
    QCOMPARE(result.problem, problem);
    QCOMPARE(result.at.isValid() ? result.at.toString(QStringLiteral("HH:mm:ss")) : QString(), taken);
    if (result.at.isValid())
        QCOMPARE(result.at.date(), NetDate);

    // A net of today has no times later than the clock.
    const QDateTime now(NetDate, QTime(19, 45));
    const PastNetRules::Typed later = PastNetRules::typedTime(QStringLiteral("19:46"), start, last, now);
    QVERIFY(!later.at.isValid());
    QCOMPARE(later.problem, QStringLiteral("19:46 on 2024-01-05 is later than now: a past net has no times to come."));
    QCOMPARE(PastNetRules::startProblem(now.addSecs(60), now),
             QStringLiteral("The net's start, 2024-01-05 at 19:46, is later than now: a past net is one that was "
                            "held already."));
    QCOMPARE(PastNetRules::startProblem(now, now), QString());
}

void TestPastNet::startsOnlyBeforeNowAndIntoAnEmptyList()
{
    Runtime rt;
    rt.installInfo(QStringLiteral("State_Info.csv"));
    Trelvin *w = rt.start();
    QDateTime now(QDate(2025, 3, 1), QTime(10, 0));
    clockOf(w)->setSource([&now] { return now; });

    // The new entry is the last of Setup; the others keep their places.
    const QList<QAction *> setup = FORM(w, menuSetup)->actions();
    QCOMPARE(setup.last(), pastAction(w));
    QCOMPARE(setup.at(setup.size() - 2)->objectName(), QStringLiteral("actionClubServer"));
    QCOMPARE(setup.at(1), FORM(w, actionStationDetails));
    QCOMPARE(pastAction(w)->text(), QStringLiteral("Log a Past Net..."));

    // A date to come is refused, and the dialog comes back to be corrected.
    rt.prompter.clear();
    beginPastNet(w, QDate(2025, 3, 2), QTime(9, 0));
    QCOMPARE(rt.prompter.titles(), QStringList({"Log a Past Net"}));
    QCOMPARE(rt.prompter.calls[0].text,
             QStringLiteral("The net's start, 2025-03-02 at 09:00, is later than now: a past net is one that was "
                            "held already.\nNo past net was started."));
    QVERIFY(!clockOf(w)->pastNet());
    QVERIFY(pastDialog(w)->isVisible());
    pastDialog(w)->reject();

    // The dialog shows the UTC of the start it holds.
    pastAction(w)->trigger();
    pastDialog(w)->dateEdit->setDate(NetDate);
    pastDialog(w)->timeEdit->setTime(QTime(19, 0));
    QCOMPARE(pastDialog(w)->utcLabel->text(), QStringLiteral("= 2024-01-06 02:00 UTC"));
    pastDialog(w)->reject();
    QVERIFY(!clockOf(w)->pastNet());

    // A net that is running stays as it is.
    fillEntry(w, QStringLiteral("K7LIV"), QStringLiteral("Liv"), QStringLiteral("Ogden"), QString());
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(logRows(w), QStringList({"250301 10:00:00 - K7LIV "}));
    rt.prompter.clear();
    pastAction(w)->trigger();
    QCOMPARE(rt.prompter.titles(), QStringList({"Log a Past Net"}));
    QCOMPARE(rt.prompter.calls[0].text,
             QStringLiteral("Finish the running net first: its stations are in the net list, and a past net is "
                            "entered into an empty one.\nNothing was changed."));
    QVERIFY(!pastDialog(w)->isVisible());
    QVERIFY(!clockOf(w)->pastNet());
    QVERIFY(pastTime(w)->isHidden());
    QCOMPARE(storeOf(w).netLog().listedEntries().size(), 1);

    // Exit ends the running net, and the past net too: the next start is
    // on the clock with an empty list and nothing to resume.
    FORM(w, actionExit)->trigger();
    w = rt.start();
    clockOf(w)->setSource([&now] { return now; });
    beginPastNet(w, NetDate, QTime(19, 0));
    QVERIFY(clockOf(w)->pastNet());
    typeCheckIn(w, QStringLiteral("19:10"), QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    FORM(w, actionExit)->trigger();
    rt.prompter.clear();
    w = rt.start();
    clockOf(w)->setSource([&now] { return now; });
    QVERIFY2(!rt.prompter.titles().contains(QStringLiteral("Resume Net")), qPrintable(rt.prompter.titles().join(", ")));
    QVERIFY(!clockOf(w)->pastNet());
    QVERIFY(pastTime(w)->isHidden());
    QVERIFY(storeOf(w).netLog().listedEntries().isEmpty());
    typeCheckIn(w, QString(), QStringLiteral("K7BBB"), QStringLiteral("Bob"));
    QCOMPARE(logRows(w),
             QStringList({"250301 10:00:00 - K7LIV ", "240105 19:10:00 - W7AAA ", "250301 10:00:00 - K7BBB "}));
}

void TestPastNet::paperNetEnteredByKeys()
{
    Runtime rt;
    rt.installInfo(QStringLiteral("State_Info.csv"));
    Trelvin *w = rt.start();
    QDateTime now(QDate(2025, 3, 1), QTime(10, 0));
    clockOf(w)->setSource([&now] { return now; });
    QVERIFY(run(fileDb(w), QStringLiteral("INSERT INTO station (call) VALUES ('W0NCS')")));
    // A station heard before, a month before the paper net.
    QVERIFY(run(fileDb(w), QStringLiteral("INSERT INTO log (id, date, time, status, call, name, relay, city, state, "
                                          "comment) VALUES (NULL, '231201', '19:30:00', '-', 'W7AAA', 'Ann', '', "
                                          "'Ogden', 'UT', '')")));
    const int qsoWidth = FORM(w, qso)->width();

    rt.prompter.clear();
    beginPastNet(w, NetDate, QTime(19, 0));
    QVERIFY(rt.prompter.calls.isEmpty());
    QVERIFY(clockOf(w)->pastNet());
    QCOMPARE(pastStatus(w)->text(), QStringLiteral("Past net: 2024-01-05"));
    QVERIFY(!pastStatus(w)->isHidden());
    QCOMPARE(pastStatus(w)->palette().color(QPalette::WindowText), themeOf(w)->alert().color(QPalette::Text));
    QVERIFY(!pastTime(w)->isHidden());
    QCOMPARE(pastTime(w)->text(), QStringLiteral("19:00"));
    QVERIFY(FORM(w, qso)->width() < qsoWidth);
    QCOMPARE(pastAction(w)->text(), QStringLiteral("End Past Net"));
    // The net's reports and records point at it.
    QCOMPARE(FORM(w, day)->value(), 5);
    QCOMPARE(FORM(w, beginTime)->text(), QStringLiteral("18:59"));

    // Net control first, marked with its key and checked in, at the start.
    fillEntry(w, QStringLiteral("W0NCS"), QStringLiteral("Ned"), QStringLiteral("Denver"), QString());
    FORM(w, NCSButton)->click();
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    // Twelve more from the paper, two of them at the time typed before.
    const QStringList calls{"W7AAA", "K7BBB", "N7CCC", "AC7DD", "W7EEE", "K7FFF",
                            "N7GGG", "AC7HH", "W7III", "K7JJJ", "N7KKK", "AC7LL"};
    for (int i = 0; i < calls.size(); ++i) {
        const QString time = (i == 4 || i == 9) ? QString() : QTime(19, 2).addSecs(i * 120).toString("HH:mm");
        typeCheckIn(w, time, calls.at(i), QStringLiteral("Op"), i == 0 ? QStringLiteral("mobile") : QString());
    }
    QCOMPARE(rt.prompter.calls.size(), 0);
    // The ID reminder has nothing to say about a net held before.
    w->tick();
    QVERIFY(w->findChild<QLabel *>(QStringLiteral("idStatus"))->isHidden());

    // Out of order, before the start, past midnight: a box, nothing stored,
    // the entry kept as typed.
    const QStringList before = logRows(w);
    const QString last = pastTime(w)->text();
    QCOMPARE(last, QStringLiteral("19:24"));
    for (const char *wrong : {"19:10", "00:05", "24:05"}) {
        rt.prompter.clear();
        typeCheckIn(w, QString::fromLatin1(wrong), QStringLiteral("KE7LT"), QStringLiteral("Late"));
        QCOMPARE(rt.prompter.titles(), QStringList({"Log a Past Net"}));
        QVERIFY(rt.prompter.calls[0].text.endsWith(QLatin1String("\nNothing was stored.")));
        QCOMPARE(FORM(w, call)->text(), QStringLiteral("KE7LT"));
    }
    QCOMPARE(logRows(w), before);
    QVERIFY(!storeOf(w).netLog().netEntryByCall(QStringLiteral("KE7LT")));

    // A comment at a later time, and a station taken out again.
    typeCheckIn(w, QStringLiteral("19:30"), QStringLiteral("K7BBB"), QStringLiteral("Op"),
                QStringLiteral("traffic for Provo"));
    typeCheckIn(w, QStringLiteral("19:32"), QStringLiteral("KE7XT"), QStringLiteral("Extra"));
    FORM(w, delCon)->setText(QStringLiteral("KE7XT"));
    deskOf(w)->removeFromNet();

    // The paper net's own check-in is not the station's last one.
    callSearchOf(w)->showContact(QStringLiteral("W7AAA"), 1);
    QCOMPARE(FORM(w, last)->text(), QStringLiteral("12/01/23"));

    QStringList expected{"231201 19:30:00 - W7AAA ", "240105 19:00:00 N W0NCS "};
    for (int i = 0; i < calls.size(); ++i) {
        const int typedAt = (i == 4 || i == 9) ? i - 1 : i;
        expected << "240105 " + QTime(19, 2).addSecs(typedAt * 120).toString("HH:mm:ss") + " - " + calls.at(i) + ' '
                        + (i == 0   ? "mobile"
                           : i == 1 ? "traffic for Provo"
                                    : "");
    }
    QCOMPARE(logRows(w), expected);
    // The kept net list is of that evening too.
    const QStringList made = column(fileDb(w), QStringLiteral("SELECT made FROM net"));
    QCOMPARE(made.size(), 13);
    for (const QString &stamp : made)
        QVERIFY2(stamp.startsWith(QLatin1String("2024-01-05T19:")), qPrintable(stamp));

    // The net-log report of that date.
    reportsOf(w)->showSelectedNetLog();
    const QStringList report = reportsOf(w)->dateLogWindow()->logView()->toPlainText().split('\n');
    QCOMPARE(report.size(), 13);
    QVERIFY(report.first().startsWith(QLatin1String(" 13 - AC7LL ")));
    QVERIFY(report.first().endsWith(QLatin1String(" 19:24:00")));
    QVERIFY(report.last().endsWith(QLatin1String(" 19:00:00")));

    // The ADIF of that date, in UTC; and the ICS-309 rows beside its PDF.
    rt.prompter.clear();
    rt.prompter.paths << rt.dataPath() + "/past.adi" << rt.dataPath() + "/past.pdf";
    FORM(w, actionSaveNetAdif)->trigger();
    FORM(w, actionSaveIcs309)->trigger();
    QVERIFY2(rt.prompter.calls.isEmpty(), qPrintable(rt.prompter.titles().join(", ")));
    const QList<QMap<QByteArray, QByteArray>> adif = adiRecords(readFile(rt.dataPath() + "/past.adi"));
    QCOMPARE(adif.size(), 13);
    QCOMPARE(adif.first().value("CALL"), QByteArray("W0NCS"));
    QCOMPARE(adif.first().value("QSO_DATE"), QByteArray("20240106"));
    QCOMPARE(adif.first().value("TIME_ON"), QByteArray("020000"));
    QCOMPARE(adif.last().value("CALL"), QByteArray("AC7LL"));
    QCOMPARE(adif.last().value("TIME_ON"), QByteArray("022400"));
    const QList<QByteArray> ics = readFile(rt.dataPath() + "/past.csv").split('\n');
    QCOMPARE(ics.size(), 15); // header, 13 rows, the final line break
    QCOMPARE(ics[1], QByteArray("\"02:00\",\"W0NCS\",\"W0NCS\",\"Net control\""));

    // End Past Net: back to the clock; the list goes, the log stays.
    pastAction(w)->trigger();
    QVERIFY(!clockOf(w)->pastNet());
    QCOMPARE(pastAction(w)->text(), QStringLiteral("Log a Past Net..."));
    QVERIFY(pastStatus(w)->isHidden());
    QVERIFY(pastTime(w)->isHidden());
    QCOMPARE(FORM(w, qso)->width(), qsoWidth);
    QVERIFY(storeOf(w).netLog().listedEntries().isEmpty());
    QCOMPARE(logRows(w), expected);

    fillEntry(w, QStringLiteral("K7LIV"), QStringLiteral("Liv"), QStringLiteral("Ogden"), QString());
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(logRows(w).last(), QStringLiteral("250301 10:00:00 - K7LIV "));
    QVERIFY(rt.prompter.calls.isEmpty());
}

void TestPastNet::aRunKilledInAPastNetResumesIt()
{
    Runtime rt;
    rt.installInfo(QStringLiteral("State_Info.csv"));
    Trelvin *w = rt.start();
    QDateTime now(QDate(2025, 3, 1), QTime(10, 0));
    clockOf(w)->setSource([&now] { return now; });
    beginPastNet(w, NetDate, QTime(19, 0));
    typeCheckIn(w, QStringLiteral("19:10"), QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    typeCheckIn(w, QStringLiteral("19:20"), QStringLiteral("K7BBB"), QStringLiteral("Bob"));

    // Killed: the window goes without its exit sequence; the net is resumed.
    rt.prompter.clear();
    w = rt.start();
    clockOf(w)->setSource([&now] { return now; });
    QVERIFY(rt.prompter.titles().contains(QStringLiteral("Resume Net")));
    QVERIFY(clockOf(w)->pastNet());
    QCOMPARE(pastStatus(w)->text(), QStringLiteral("Past net: 2024-01-05"));
    QCOMPARE(pastTime(w)->text(), QStringLiteral("19:20"));
    rt.prompter.clear();
    typeCheckIn(w, QStringLiteral("19:15"), QStringLiteral("N7CCC"), QStringLiteral("Cy"));
    QCOMPARE(rt.prompter.titles(), QStringList({"Log a Past Net"}));
    typeCheckIn(w, QStringLiteral("19:25"), QStringLiteral("N7CCC"), QStringLiteral("Cy"));
    QCOMPARE(logRows(w),
             QStringList({"240105 19:10:00 - W7AAA ", "240105 19:20:00 - K7BBB ", "240105 19:25:00 - N7CCC "}));

    // Not resumed: the past net ended with the run that stopped.
    rt.prompter.answers << QMessageBox::No;
    w = rt.start();
    QVERIFY(!clockOf(w)->pastNet());
    QVERIFY(pastTime(w)->isHidden());
    w = rt.start();
    QVERIFY(!clockOf(w)->pastNet());
}

void TestPastNet::pastNetReachesASecondProgram()
{
    PgServer server;
    const QString failure = server.start();
    // scripts/test.sh installs the server: a missing one is a failure, never a skip.
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QTemporaryDir home;
    const QString passFile = home.path() + "/pgpass";
    QFile file(passFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("127.0.0.1:%1:*:op1:first-secret\n127.0.0.1:%1:*:op2:second-secret\n")
                   .arg(server.port())
                   .toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    qputenv("PGPASSFILE", passFile.toLocal8Bit());
    QCOMPARE(server.resetDatabase(), QString());
    QCOMPARE(server.addOperator(QStringLiteral("op1"), QStringLiteral("first-secret")), QString());
    QCOMPARE(server.addOperator(QStringLiteral("op2"), QStringLiteral("second-secret")), QString());

    // The first program keeps the paper log; the second joins its net.
    Runtime first;
    first.installInfo(QStringLiteral("State_Info.csv"));
    first.addEmptyRoster();
    writeMain(QStringLiteral("ClubServer"), server.conninfo(QStringLiteral("op1")));
    Trelvin *a = first.start();
    StationRecord station;
    station.call = QStringLiteral("N7NCS");
    storeOf(a).contacts().saveStation(station);
    const QLabel *online = a->findChild<QLabel *>(QStringLiteral("clubStatus"));
    QTRY_COMPARE_WITH_TIMEOUT(online->text(), QStringLiteral("Club server: connected as OP1 (not encrypted)"), 10000);

    beginPastNet(a, NetDate, QTime(19, 0));
    typeCheckIn(a, QString(), QStringLiteral("N7NCS"), QStringLiteral("Ned"));
    typeCheckIn(a, QStringLiteral("19:05"), QStringLiteral("W7AAA"), QStringLiteral("Ann"));
    typeCheckIn(a, QStringLiteral("19:07"), QStringLiteral("K7BBB"), QStringLiteral("Bob"), QStringLiteral("mobile"));
    typeCheckIn(a, QStringLiteral("19:09"), QStringLiteral("KE7XT"), QStringLiteral("Extra"));
    typeTime(a, QStringLiteral("19:12"));
    FORM(a, delCon)->setText(QStringLiteral("KE7XT"));
    deskOf(a)->removeFromNet();
    QTRY_COMPARE_WITH_TIMEOUT(storeOf(a).journal().unsentCount(), 0, 5000);

    // On the server: the net began at its start, each change at its time,
    // and the net says it was entered afterwards.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("pastnet"));
    db.setConnectOptions(server.conninfo(QStringLiteral("op1")));
    QVERIFY(db.open());
    const auto serverRows = [&db](const QString &sql) {
        QStringList rows;
        QSqlQuery query(db);
        if (query.exec(sql)) {
            while (query.next())
                rows << query.value(0).toString();
        }
        return rows;
    };
    QCOMPARE(serverRows(QStringLiteral("SELECT to_char(started AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI') || ' ' || "
                                       "ncs FROM trelvin_net")),
             QStringList({"2024-01-06 02:00 N7NCS"}));
    QCOMPARE(serverRows(
                 QStringLiteral("SELECT kind || ' ' || call || ' ' || to_char(made AT TIME ZONE 'UTC', "
                                "'HH24:MI') || ' ' || comment FROM trelvin_change WHERE net IS NOT NULL ORDER BY seq")),
             QStringList({"net N7NCS 02:00 entered afterwards", "entry N7NCS 02:00 ", "entry W7AAA 02:05 ",
                          "entry K7BBB 02:07 mobile", "entry KE7XT 02:09 ", "remove KE7XT 02:12 "}));

    Runtime second;
    second.installInfo(QStringLiteral("State_Info.csv"));
    second.addEmptyRoster();
    writeMain(QStringLiteral("ClubServer"), server.conninfo(QStringLiteral("op2")));
    Trelvin *b = second.start();
    QTRY_VERIFY_WITH_TIMEOUT(second.prompter.titles().contains(QStringLiteral("Join Club Net")), 10000);
    const QStringList paper{"240105 19:00:00 - N7NCS ", "240105 19:05:00 - W7AAA ", "240105 19:07:00 - K7BBB mobile"};
    QTRY_COMPARE_WITH_TIMEOUT(logRows(b), paper, 5000);
    QCOMPARE(logRows(a), paper);

    // Back on the clock, the first program's next net is tonight's.
    pastAction(a)->trigger();
    fillEntry(a, QStringLiteral("K7LIV"), QStringLiteral("Liv"), QStringLiteral("Ogden"), QString());
    QTest::keyClick(FORM(a, qso), Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(storeOf(a).journal().unsentCount(), 0, 5000);
    const QStringList live = serverRows(QStringLiteral(
        "SELECT kind || ' ' || (made > now() - interval '1 hour') || ' ' || comment FROM trelvin_change "
        "WHERE net <> (SELECT net FROM trelvin_change WHERE call = 'W7AAA' AND kind = 'entry') ORDER BY seq"));
    QCOMPARE(live, QStringList({"net true ", "entry true "}));

    // A program that enters a paper net is not offered the live one.
    second.stop();
    Runtime third;
    third.installInfo(QStringLiteral("State_Info.csv"));
    third.addEmptyRoster();
    writeMain(QStringLiteral("ClubServer"), server.conninfo(QStringLiteral("op2")));
    Trelvin *c = third.start();
    beginPastNet(c, NetDate, QTime(20, 0));
    QTRY_COMPARE_WITH_TIMEOUT(c->findChild<QLabel *>(QStringLiteral("clubStatus"))->text(),
                              QStringLiteral("Club server: connected as OP2 (not encrypted)"), 10000);
    QTest::qWait(1000);
    QVERIFY2(!third.prompter.titles().contains(QStringLiteral("Join Club Net")),
             qPrintable(third.prompter.titles().join(", ")));
    QCOMPARE(logRows(c), QStringList());
    third.stop();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("pastnet"));
    second.stop();
    first.stop();
    server.stop();
}

QTEST_MAIN(TestPastNet)
#include "tst_pastnet.moc"
