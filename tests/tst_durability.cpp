#include "testsupport.h"

#include "app/datalock.h"
#include "app/trelvin.h"
#include "dialogs/contact.h"
#include "ui_trelvin.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

namespace {

// Every column of every entry, in order: what a restored list must equal.
const char WholeNet[] = "SELECT id || '|' || time || '|' || call || '|' || name || '|' || city || '|' || state || '|' "
                        "|| comment || '|' || conId || '|' || logId || '|' || status || '|' || relay || '|' || made "
                        "FROM net ORDER BY id";

// A connection of the test's own to a database file, closed with it.
class OwnConnection {
public:
    explicit OwnConnection(const QString &path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
    }
    ~OwnConnection() { QSqlDatabase::removeDatabase(name); }
    QSqlDatabase db() const { return QSqlDatabase::database(name); }

private:
    const QString name = QStringLiteral("test-own");
};

} // namespace

class TestDurability : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void killedNetIsResumedWhole();
    void declinedOrClosedNetStartsEmpty();
    void foreignNetTableIsLeftAlone_data();
    void foreignNetTableIsLeftAlone();
    void failedWriteKeepsTheListAndRecovers_data();
    void failedWriteKeepsTheListAndRecovers();
    void memberChangesReachTheRosterFileAtOnce();
    void nothingIsLostAtAnyKill();

private:
    void enter(const QString &call, const QString &name, const QString &qso = QString());
    void select(const QString &call);
    // The boxes shown, less the QRZ log-in's, which a start without a
    // station record brings.
    QStringList boxes() const
    {
        QStringList titles = rt->prompter.titles();
        titles.removeIf([](const QString &title) { return title.startsWith(QLatin1String("QRZ XML")); });
        return titles;
    }
    const ScriptedPrompter::Call &call(const QString &title) const
    {
        for (const ScriptedPrompter::Call &c : rt->prompter.calls) {
            if (c.title == title)
                return c;
        }
        return rt->prompter.calls.first();
    }
    QString contactsPath() const { return rt->dataPath() + "/Contacts.db"; }

    std::unique_ptr<Runtime> rt;
    Trelvin *w = nullptr;
};

void TestDurability::init()
{
    rt = std::make_unique<Runtime>();
    QVERIFY(rt->installInfo("State_Info.csv"));
    rt->addEmptyRoster();
    w = rt->start();
    rt->prompter.clear();
}

void TestDurability::cleanup()
{
    rt.reset();
    w = nullptr;
}

void TestDurability::enter(const QString &call, const QString &name, const QString &qso)
{
    fillEntry(w, call, name, QStringLiteral("Provo"), qso);
}

void TestDurability::select(const QString &call)
{
    const std::optional<NetEntry> entry = storeOf(w).netLog().netEntryByCall(call);
    QVERIFY2(entry, qPrintable(call));
    enter(call, entry->name, entry->comment);
    deskOf(w)->setEntry(entry->id);
    FORM(w, relay)->setText(entry->relay);
}

void TestDurability::killedNetIsResumedWhole()
{
    // The evening so far: an F8 check-in, a station given traffic and not
    // yet logged, a relay, a comment, a removal and the mark moved.
    enter("W1AW", "Hiram");
    FORM(w, logContactButton)->click();
    enter("K7ABC", "Alice");
    FORM(w, trafficButton)->click();
    enter("N0XYZ", "Zed", "via the repeater");
    FORM(w, relay)->setText("W7RLY");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    enter("KD7GONE", "Gus");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    FORM(w, delCon)->setText("KD7GONE");
    deskOf(w)->removeFromNet();
    callSearchOf(w)->nextContact();
    callSearchOf(w)->nextContact();
    const int mark = deskOf(w)->markedEntry();
    QVERIFY(mark > 1);
    const QStringList net = column(fileDb(w), WholeNet);
    QCOMPARE(net.size(), 3);
    const QString shown = FORM(w, checkins)->toPlainText();
    const QStringList log = column(fileDb(w), "SELECT id || call FROM log ORDER BY id");
    const QString first = column(fileDb(w), "SELECT made FROM net ORDER BY id LIMIT 1").value(0);

    // Killed: the window goes without its exit sequence.
    rt->prompter.clear();
    w = rt->start();
    QCOMPARE(boxes(), QStringList{"Resume Net"});
    const ScriptedPrompter::Call &question = call("Resume Net");
    QCOMPARE(question.kind, Prompter::Question);
    QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(question.defaultButton, QMessageBox::Yes);
    const QDateTime made = QDateTime::fromString(first, Qt::ISODate);
    QCOMPARE(question.text,
             "The last run ended without closing its net, which held 3 stations. Its first entry was made on "
                 + made.toString("yyyy-MM-dd") + " at " + made.toString("HH:mm") + ".\n\nResume that net?");
    QCOMPARE(column(fileDb(w), WholeNet), net);
    QCOMPARE(deskOf(w)->markedEntry(), mark);
    QCOMPARE(FORM(w, checkins)->toPlainText(), shown);
    QCOMPARE(FORM(w, checkins)->textCursor().blockNumber(), mark - 1);
    QCOMPARE(FORM(w, checks)->text(), QString("2"));
    QCOMPARE(column(fileDb(w), "SELECT id || call FROM log ORDER BY id"), log);

    // The net goes on: the traffic station checks in on its own entry and
    // row of the log, a newcomer takes the next number.
    select("K7ABC");
    FORM(w, logContactButton)->click();
    enter("WB7NEW", "Nell");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    QCOMPARE(boxes(), QStringList{"Resume Net"});
    QCOMPARE(column(fileDb(w), "SELECT call FROM net ORDER BY id"), (QStringList{"W1AW", "K7ABC", "N0XYZ", "WB7NEW"}));
    QCOMPARE(column(fileDb(w), "SELECT COUNT(*) FROM log"), QStringList{"4"});
    QCOMPARE(column(fileDb(w), "SELECT COUNT(*) FROM net n JOIN log l ON l.id = n.logId AND l.call = n.call"),
             QStringList{"4"});
    QCOMPARE(FORM(w, checks)->text(), QString("4"));
}

void TestDurability::declinedOrClosedNetStartsEmpty()
{
    enter("W1AW", "Hiram");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    enter("K7ABC", "Alice");
    FORM(w, trafficButton)->click();
    const QStringList log = column(fileDb(w), "SELECT id || call || status FROM log");

    // No: an empty list; the log keeps the check-in, which a new F8 takes over.
    rt->prompter.answers = {QMessageBox::No};
    w = rt->start();
    QCOMPARE(boxes(), QStringList{"Resume Net"});
    QVERIFY(call("Resume Net").text.contains("which held 2 stations."));
    QCOMPARE(column(fileDb(w), WholeNet), QStringList());
    QCOMPARE(FORM(w, checkins)->toPlainText(), QString());
    QCOMPARE(column(fileDb(w), "SELECT id || call || status FROM log"), log);

    // Nor is anything offered once the list was emptied.
    rt->prompter.clear();
    w = rt->start();
    QCOMPARE(boxes(), QStringList());

    // File > Exit ends the net: the next start begins empty, unasked.
    enter("N0XYZ", "Zed");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    FORM(w, actionExit)->trigger();
    rt->prompter.clear();
    w = rt->start();
    QCOMPARE(boxes(), QStringList());
    QCOMPARE(column(fileDb(w), WholeNet), QStringList());
    QCOMPARE(column(fileDb(w), "SELECT COUNT(*) FROM log"), QStringList{"2"});
}

void TestDurability::foreignNetTableIsLeftAlone_data()
{
    QTest::addColumn<QString>("create");
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("named");
    QTest::newRow("missing columns") << "CREATE TABLE net (id INTEGER PRIMARY KEY NOT NULL, call TEXT, status INT)"
                                     << "INSERT INTO net (call, status) VALUES ('W1OLD', 32)"
                                     << "Table 'net' lacks the columns: time, name, city, state, comment, conId, "
                                        "logId, relay, made.";
    QTest::newRow("wrong type") << "CREATE TABLE net (id INTEGER PRIMARY KEY NOT NULL, time TEXT, call TEXT, name "
                                   "TEXT, city TEXT, state TEXT, comment TEXT, conId INT, logId INT, status TEXT, "
                                   "relay TEXT, made TEXT)"
                                << "INSERT INTO net (call, status) VALUES ('W1OLD', 'checked')"
                                << "Table 'net' has other column types: status is TEXT, not INT.";
    QTest::newRow("text in numbers") << "CREATE TABLE net (id INTEGER PRIMARY KEY NOT NULL, time TEXT, call TEXT, "
                                        "name TEXT, city TEXT, state TEXT, comment TEXT, conId INT, logId INT, status "
                                        "INT, relay TEXT, made TEXT)"
                                     << "INSERT INTO net (call, status) VALUES ('W1OLD', 'checked')"
                                     << "Table 'net' holds 1 rows with text where numbers belong.";
    QTest::newRow("newer") << "CREATE TABLE netmark (id INTEGER PRIMARY KEY NOT NULL, active INT, shift INT)"
                           << "INSERT INTO netmark (id, active, shift) VALUES (1, 2, 3)"
                           << "Table 'netmark' has columns this program does not know: shift.";
}

void TestDurability::foreignNetTableIsLeftAlone()
{
    QFETCH(QString, create);
    QFETCH(QString, row);
    QFETCH(QString, named);
    rt->stop();
    QVERIFY(QFile::remove(contactsPath()));
    const QString table = create.section(' ', 2, 2);
    const QString whole = "SELECT * FROM " + table;
    const auto contents = [&](const QSqlDatabase &db) {
        QStringList lines = column(db, "SELECT sql FROM sqlite_master WHERE name = '" + table + "'");
        QSqlQuery query(whole, db);
        while (query.next()) {
            QStringList values;
            for (int c = 0; c < query.record().count(); ++c)
                values.append(query.value(c).toString());
            lines.append(values.join('|'));
        }
        return lines;
    };
    QStringList before;
    {
        OwnConnection own(contactsPath());
        QVERIFY(run(own.db(), create));
        QVERIFY(run(own.db(), row));
        before = contents(own.db());
    }

    w = rt->start();
    QCOMPARE(boxes(), QStringList{"Net List Not Kept"});
    QVERIFY2(call("Net List Not Kept").text.contains(named), qPrintable(call("Net List Not Kept").text));
    QVERIFY(rt->readData("errorLog.txt").contains("cannot be used: " + named));
    QVERIFY(!storeOf(w).netKept());

    // The net runs for this run, the file's table is not touched by it.
    rt->prompter.clear();
    enter("W1AW", "Hiram");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    callSearchOf(w)->nextContact();
    QCOMPARE(boxes(), QStringList());
    QCOMPARE(FORM(w, checkins)->toPlainText().count('\n'), 0);
    QVERIFY(FORM(w, checkins)->toPlainText().contains("W1AW"));
    FORM(w, actionExit)->trigger();
    rt->prompter.clear();
    w = rt->start();
    QCOMPARE(boxes(), QStringList{"Net List Not Kept"});
    rt->stop();
    OwnConnection own(contactsPath());
    QCOMPARE(contents(own.db()), before);
    QCOMPARE(column(own.db(), "SELECT call FROM log"), QStringList{"W1AW"});
}

void TestDurability::failedWriteKeepsTheListAndRecovers_data()
{
    QTest::addColumn<bool>("full");
    QTest::addColumn<QString>("reason");
    QTest::newRow("disk full") << true << "full";
    QTest::newRow("read-only") << false << "readonly";
}

void TestDurability::failedWriteKeepsTheListAndRecovers()
{
    QFETCH(bool, full);
    QFETCH(QString, reason);
    enter("W1AW", "Hiram");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    enter("K7ABC", "Alice");
    FORM(w, trafficButton)->click();
    if (full) {
        // The file may not grow, and the rows added last take the room left
        // on its pages, as on a disk that filled up during the net.
        QVERIFY(run(fileDb(w), "PRAGMA max_page_count = " + column(fileDb(w), "PRAGMA page_count").value(0)));
        for (const char *table : {"log", "contact", "net"}) {
            for (int size : {1000, 100, 10, 1}) {
                QSqlQuery fill(fileDb(w));
                fill.prepare(QStringLiteral("INSERT INTO %1 (call, name) VALUES ('FILL', ?)").arg(table));
                fill.addBindValue(QString(size, QLatin1Char('x')));
                while (fill.exec()) {
                }
                QVERIFY2(fill.lastError().text().contains("full"), qPrintable(fill.lastError().text()));
            }
        }
        deskOf(w)->showNet();
    } else {
        QVERIFY(run(fileDb(w), "PRAGMA query_only = ON"));
    }
    const QStringList net = column(fileDb(w), WholeNet);
    const QString shown = FORM(w, checkins)->toPlainText();
    const QStringList log = column(fileDb(w), "SELECT id || call || status || comment FROM log");
    const QString longComment(120, QLatin1Char('x'));

    // Every kind of key fails whole: a newcomer, a check-in of a listed
    // station, a role, a comment, a removal.
    const QList<std::function<void()>> keys = {
        [&] {
            enter("N0XYZ", "Zed", longComment);
            QTest::keyClick(FORM(w, qso), Qt::Key_Return);
        },
        [&] {
            select("K7ABC");
            FORM(w, qso)->setText(longComment);
            FORM(w, logContactButton)->click();
        },
        [&] {
            select("W1AW");
            FORM(w, qso)->setText(longComment);
            FORM(w, relayButton)->click();
        },
        [&] {
            select("W1AW");
            FORM(w, qso)->setText(longComment);
            QTest::keyClick(FORM(w, qso), Qt::Key_Return);
        },
    };
    for (int k = 0; k < keys.size(); ++k) {
        rt->prompter.clear();
        keys[k]();
        QVERIFY2(boxes() == QStringList{"Database Write Failed"}, qPrintable(QString::number(k)));
        QCOMPARE(column(fileDb(w), WholeNet), net);
        QCOMPARE(FORM(w, checkins)->toPlainText(), shown);
        QCOMPARE(column(fileDb(w), "SELECT id || call || status || comment FROM log"), log);
    }
    QVERIFY2(rt->readData("errorLog.txt").contains(reason), qPrintable(rt->readData("errorLog.txt")));
    if (!full) {
        rt->prompter.clear();
        FORM(w, delCon)->setText("W1AW");
        deskOf(w)->removeFromNet();
        QCOMPARE(boxes(), (QStringList{"Deleting Contact from Net Log", "Database Write Failed"}));
        QCOMPARE(column(fileDb(w), WholeNet), net);
    }

    // Space again: the same key goes through, without a restart.
    if (full) {
        for (const char *table : {"log", "contact", "net"})
            QVERIFY(run(fileDb(w), QStringLiteral("DELETE FROM %1 WHERE call = 'FILL'").arg(table)));
        QVERIFY(run(fileDb(w), "PRAGMA max_page_count = 1073741823"));
    } else {
        QVERIFY(run(fileDb(w), "PRAGMA query_only = OFF"));
    }
    rt->prompter.clear();
    keys[0]();
    QCOMPARE(boxes(), QStringList());
    QCOMPARE(column(fileDb(w), "SELECT call FROM net ORDER BY id"), (QStringList{"W1AW", "K7ABC", "N0XYZ"}));
    QCOMPARE(column(fileDb(w), "SELECT call FROM log ORDER BY id"), (QStringList{"W1AW", "N0XYZ"}));
    QCOMPARE(FORM(w, checkins)->toPlainText().count('\n'), 2);
}

void TestDurability::memberChangesReachTheRosterFileAtOnce()
{
    const QString roster = rt->dataPath() + "/Roster-ARC.csv";
    enter("W1AW", "Hiram");
    QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    FORM(w, call)->setText("W1AW");
    deskOf(w)->makeMember();
    QVERIFY2(rt->readData("Roster-ARC.csv").contains("\"W1AW\",\"Hiram\""), qPrintable(rt->readData("Roster-ARC.csv")));
    deskOf(w)->dropMember();
    QVERIFY(!rt->readData("Roster-ARC.csv").contains("W1AW"));
    QVERIFY(QFile::exists(roster));
    QCOMPARE(boxes(), QStringList());
}

namespace {

// One state the child reported: the mark, the lines shown, and the entries
// by id.
struct Reported {
    QString mark, shown;
    QMap<int, QString> entries;
    bool valid = false;

    static Reported parse(const QStringList &fields, int from)
    {
        Reported r;
        r.valid = true;
        r.mark = fields.value(from);
        r.shown = fields.value(from + 1);
        for (int k = from + 2; k < fields.size(); ++k) {
            if (!fields[k].isEmpty())
                r.entries.insert(fields[k].section('|', 0, 0).toInt(), fields[k]);
        }
        return r;
    }
};

} // namespace

void TestDurability::nothingIsLostAtAnyKill()
{
    rt->stop();
    const int kills = 200;
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    std::mt19937 rng(seed);
    QElapsedTimer total;
    total.start();

    Reported last;    // the last state the child reported whole
    QString inFlight; // what the step it was killed in touched: "new", "entry <id>", "mark"
    int steps = 0;
    int resumes = 0;
    for (int kill = 0; kill < kills; ++kill) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(env);
        // Each run its own seed, which also makes its new calls its own.
        const quint32 runSeed = (rng() % 1000) * 1000 + quint32(kill);
        child.start(QStringLiteral(TRELVIN_NETCHILD), {rt->path(), QString::number(runSeed)});
        QVERIFY(child.waitForStarted());
        // One kill in four at any moment of the start-up, the others at a
        // random moment of the stream of keys, however slow the machine.
        QByteArray seen;
        if (rng() % 4 != 0) {
            QElapsedTimer starting;
            starting.start();
            while (!seen.contains('\n') && starting.elapsed() < 20000 && child.state() == QProcess::Running) {
                child.waitForReadyRead(50);
                seen += child.readAllStandardOutput();
            }
        }
        const int after = std::uniform_int_distribution<int>(0, 150)(rng);
        QElapsedTimer alive;
        alive.start();
        while (alive.elapsed() < after && child.state() == QProcess::Running)
            child.waitForReadyRead(int(std::max<qint64>(1, after - alive.elapsed())));
        if (child.state() != QProcess::Running)
            QFAIL(qPrintable(QStringLiteral("the child ended by itself, exit code %1 (%2)")
                                 .arg(child.exitCode())
                                 .arg(child.exitStatus() == QProcess::CrashExit ? "crashed" : "returned")));
        child.kill();
        QVERIFY(child.waitForFinished());

        // The child is dead and reaped, so any lock it left is stale. The
        // program may still honour it: an empty one (killed before the owner
        // was written) for some seconds, and one whose process number the
        // system has already handed to another process whose name cannot be
        // read. Those waits are not what this test is about.
        const QFileInfo lock(DataLock::lockFileName(rt->dataPath()));
        if (lock.exists())
            QVERIFY(QFile::remove(lock.filePath()));

        QStringList lines = QString::fromUtf8(seen + child.readAllStandardOutput()).split('\n');
        // What follows the last line end was cut by the kill: not a report.
        lines.removeLast();
        for (const QString &line : lines) {
            const QStringList fields = line.split('\t');
            if (fields[0] == "RESUMED") {
                ++resumes;
                const Reported now = Reported::parse(fields, 2);
                if (!last.valid)
                    continue;
                // Asked whenever the list surely held entries.
                if (!last.entries.isEmpty() && inFlight.isEmpty())
                    QVERIFY2(fields[1] == "1", qPrintable(line));
                if (inFlight.isEmpty()) {
                    QCOMPARE(now.entries, last.entries);
                    QCOMPARE(now.mark, last.mark);
                    QCOMPARE(now.shown, last.shown);
                } else {
                    // The step in flight may have been stored whole or not
                    // at all; everything else is exactly as reported.
                    QMap<int, QString> a = now.entries, b = last.entries;
                    if (inFlight.startsWith("entry ")) {
                        const int id = inFlight.mid(6).toInt();
                        a.remove(id);
                        b.remove(id);
                    } else if (inFlight == "new") {
                        for (auto it = a.begin(); it != a.end();) {
                            if (!b.contains(it.key()))
                                it = a.erase(it);
                            else
                                ++it;
                        }
                    }
                    QStringList differ;
                    for (int id : a.keys() + b.keys()) {
                        if (a.value(id) != b.value(id))
                            differ.append(a.value(id) + " / " + b.value(id));
                    }
                    QVERIFY2(differ.isEmpty(), qPrintable(inFlight + ": " + differ.join("; ")));
                    if (inFlight != "mark")
                        QCOMPARE(now.mark, last.mark);
                }
                last = now;
                inFlight.clear();
            } else if (fields[0] == "DOING" && fields.size() >= 4) {
                inFlight = fields[2] == "entry" ? "entry " + fields[3] : fields[2];
            } else if (fields[0] == "DONE") {
                last = Reported::parse(fields, 2);
                inFlight.clear();
                ++steps;
            }
        }

        // The file is whole, and every check-in the list holds is logged.
        OwnConnection own(contactsPath());
        QCOMPARE(column(own.db(), "PRAGMA integrity_check"), QStringList{"ok"});
        QSqlQuery logged(own.db());
        logged.prepare("SELECT call FROM log WHERE id = ?");
        for (auto it = last.entries.cbegin(); it != last.entries.cend(); ++it) {
            if (inFlight == "entry " + QString::number(it.key()))
                continue;
            const QStringList values = it.value().split('|');
            const int logId = values.value(6).toInt();
            if (logId == 0)
                continue;
            logged.addBindValue(logId);
            QVERIFY(logged.exec());
            QVERIFY2(logged.next() && logged.value(0).toString() == values.value(1), qPrintable(it.value()));
        }
    }
    qInfo("%d kills, %d steps reported, %d starts reported, %lld ms", kills, steps, resumes, total.elapsed());
    // Most kills must have hit a running stream, not only start-ups.
    QVERIFY2(resumes > kills / 2, qPrintable(QString::number(resumes)));
}

QTEST_MAIN(TestDurability)
#include "tst_durability.moc"
