// What the live net page may read on the club server, and the net lists
// the server folds from the journal for it.

#include "clubjournal.h"

#include "checkin/netrules.h"
#include "data/serverweb.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QtTest>

class TestWebViews : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void pageRoleReadsItsViewsAndNothingElse();
    void listIsTheJournalFolded();
    void placesAndBadRows();
    void netsOfTheDayOpenFirst();

private:
    QSqlDatabase web();
    // The statement as the page's role; empty when it ran, else the error.
    QString asWeb(const QString &sql);

    ClubJournal club;
};

void TestWebViews::initTestCase()
{
    QVERIFY2(club.start().isEmpty(), "the throwaway server did not start");
}

void TestWebViews::init()
{
    if (QSqlDatabase::contains(QStringLiteral("web")))
        QSqlDatabase::removeDatabase(QStringLiteral("web"));
    const QString failure = club.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

QSqlDatabase TestWebViews::web()
{
    QSqlDatabase db = QSqlDatabase::contains(QStringLiteral("web"))
                          ? QSqlDatabase::database(QStringLiteral("web"))
                          : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("web"));
    if (!db.isOpen()) {
        db.setConnectOptions(club.webConninfo());
        db.open();
    }
    return db;
}

QString TestWebViews::asWeb(const QString &sql)
{
    QSqlQuery query(web());
    return query.exec(sql) ? QString() : query.lastError().text();
}

void TestWebViews::pageRoleReadsItsViewsAndNothingElse()
{
    QVERIFY2(web().isOpen(), qPrintable(web().lastError().text()));
    for (const char *view : {"trelvin_web_net", "trelvin_web_entry", "trelvin_web_place", "trelvin_web_club"})
        QCOMPARE(asWeb(QStringLiteral("SELECT * FROM %1").arg(QLatin1String(view))), QString());
    for (const char *sql :
         {"SELECT * FROM trelvin_change", "SELECT * FROM trelvin_net", "SELECT * FROM trelvin_meta",
          "INSERT INTO trelvin_web_club (club) VALUES ('x')", "DELETE FROM trelvin_web_club",
          "SELECT trelvin_net_keep('00000000000000000000000000000000', now(), '00000000000000000000000000000000')",
          "CREATE TABLE trelvin_web_own (x int)"})
        QVERIFY2(asWeb(QLatin1String(sql)).contains(QStringLiteral("permission denied")), sql);
    // Exactly the views, only to read.
    QSqlQuery grants(web());
    QVERIFY(grants.exec(QStringLiteral("SELECT table_name || ':' || privilege_type FROM "
                                       "information_schema.role_table_grants WHERE grantee = 'trelvin_web' "
                                       "ORDER BY 1")));
    QStringList found;
    while (grants.next())
        found.append(grants.value(0).toString());
    QCOMPARE(found,
             QStringList({QStringLiteral("trelvin_web_club:SELECT"), QStringLiteral("trelvin_web_entry:SELECT"),
                          QStringLiteral("trelvin_web_net:SELECT"), QStringLiteral("trelvin_web_place:SELECT")}));
    // What the net list does not show is not there to read.
    QSqlQuery columns(web());
    QVERIFY(columns.exec(QStringLiteral("SELECT column_name FROM information_schema.columns WHERE table_name LIKE "
                                        "'trelvin\\_web\\_%' AND column_name IN ('comment', 'data', 'writer', "
                                        "'logdate', 'logtime')")));
    QVERIFY(!columns.next());
}

void TestWebViews::listIsTheJournalFolded()
{
    using namespace NetRules;
    const QString net = club.openNet(QStringLiteral("W7NCS"));
    QVERIFY(!net.isEmpty());
    QCOMPARE(club.send({club.entry(net, QStringLiteral("W7NCS"), Ncs | CheckedIn, QStringLiteral("Nora")),
                        club.entry(net, QStringLiteral("K7AAA"), CheckedIn, QStringLiteral("Ann")),
                        club.entry(net, QStringLiteral("K7BBB"), Traffic, QStringLiteral("Bob")),
                        club.entry(net, QStringLiteral("K7CCC"), CheckedIn, QStringLiteral("Cy"))}),
             QString());
    // Ann withdraws, Bob checks in, Cy leaves and comes back last, Dee leaves.
    QCOMPARE(club.send({club.entry(net, QStringLiteral("K7AAA"), 0, QStringLiteral("Ann")),
                        club.entry(net, QStringLiteral("K7BBB"), Traffic | CheckedIn, QStringLiteral("Bob"),
                                   QStringLiteral("Ogden"), QStringLiteral("UT")),
                        club.removal(net, QStringLiteral("K7CCC")),
                        club.entry(net, QStringLiteral("K7DDD"), CheckedIn, QStringLiteral("Dee")),
                        club.removal(net, QStringLiteral("K7DDD")),
                        club.entry(net, QStringLiteral("K7CCC"), Mobile, QStringLiteral("Cy"))}),
             QString());
    QList<ServerWeb::Entry> list;
    int skipped = -1;
    QString failure;
    QVERIFY2(ServerWeb::entries(web(), net, list, &skipped, &failure), qPrintable(failure));
    QCOMPARE(skipped, 0);
    QStringList lines;
    for (const ServerWeb::Entry &e : list)
        lines.append(QStringLiteral("%1 %2 %3 %4 %5%6")
                         .arg(e.call)
                         .arg(e.status)
                         .arg(e.name, e.city, e.state, e.withdrawn ? " withdrawn" : ""));
    QCOMPARE(lines, QStringList({QStringLiteral("W7NCS 48 Nora  "), QStringLiteral("K7AAA 0 Ann   withdrawn"),
                                 QStringLiteral("K7BBB 34 Bob Ogden UT"), QStringLiteral("K7CCC 4 Cy  ")}));

    std::optional<ServerWeb::Net> found;
    QVERIFY(ServerWeb::net(web(), net, found, &failure));
    QVERIFY(found);
    QCOMPARE(found->ncs, QStringLiteral("W7NCS"));
    QCOMPARE(found->stations, 4);
    QCOMPARE(found->checkins, 2);
    QVERIFY(!found->closed);
    QCOMPARE(found->seq, list.at(3).seq);
    QVERIFY(found->changed.isValid());
    QCOMPARE(club.send({club.closing(net)}), QString());
    QVERIFY(ServerWeb::net(web(), net, found, &failure));
    QVERIFY(found->closed);
    QVERIFY(ServerWeb::net(web(), QString(32, QLatin1Char('0')), found, &failure));
    QVERIFY(!found);
}

void TestWebViews::placesAndBadRows()
{
    const QString net = club.openNet(QStringLiteral("W7NCS"));
    // Contacts of stations in no net stay unread; a contact's data that is
    // no JSON gives no place, and fails nothing else.
    SyncChange broken = club.contact(QStringLiteral("K7BAD"), QString(), QString(), QString());
    broken.data = QStringLiteral("[not json");
    QCOMPARE(
        club.send({club.contact(QStringLiteral("K7AAA"), QStringLiteral("41.2"), QStringLiteral("-111.9"),
                                QStringLiteral("84401"),
                                {{5, QStringLiteral("1 Main St")}, {10, QStringLiteral("ann@example.org")}}),
                   club.contact(QStringLiteral("K7OUT"), QStringLiteral("1"), QStringLiteral("2"), QString()), broken,
                   club.entry(net, QStringLiteral("K7AAA"), 0), club.entry(net, QStringLiteral("K7BAD"), 0)}),
        QString());
    QHash<QString, ServerWeb::Place> places;
    QString failure;
    QVERIFY2(ServerWeb::places(web(), net, places, &failure), qPrintable(failure));
    QCOMPARE(places.size(), 2);
    QCOMPARE(places.value(QStringLiteral("K7AAA")).lat, QStringLiteral("41.2"));
    QCOMPARE(places.value(QStringLiteral("K7AAA")).zip, QStringLiteral("84401"));
    QVERIFY(places.value(QStringLiteral("K7BAD")).lat.isEmpty());
    QSqlQuery query(web());
    QVERIFY(query.exec(QStringLiteral("SELECT count(*) FROM trelvin_web_place WHERE call = 'K7OUT'")) && query.next());
    QCOMPARE(query.value(0).toInt(), 0);

    // A row an older program wrote past today's checks is left out, not shown.
    QCOMPARE(club.server().admin(QStringLiteral("ALTER TABLE trelvin_change DROP CONSTRAINT trelvin_change_values")),
             QString());
    QCOMPARE(club.send({club.entry(net, QStringLiteral("K7LONG"), 0, QString(300, QLatin1Char('x')))}), QString());
    QList<ServerWeb::Entry> list;
    int skipped = 0;
    QVERIFY(ServerWeb::entries(web(), net, list, &skipped, &failure));
    QCOMPARE(skipped, 1);
    QCOMPARE(list.size(), 2);
}

void TestWebViews::netsOfTheDayOpenFirst()
{
    const QString old = club.openNet(QStringLiteral("W7OLD"));
    const QString closed = club.openNet(QStringLiteral("W7CLO"));
    const QString open = club.openNet(QStringLiteral("W7OPN"));
    QCOMPARE(club.send({club.closing(old), club.closing(closed), club.entry(open, QStringLiteral("K7AAA"), 0)}),
             QString());
    QCOMPARE(club.server().admin(QStringLiteral("ALTER TABLE trelvin_net DISABLE TRIGGER trelvin_net_kept; "
                                                "UPDATE trelvin_net SET started = now() - interval '3 days' "
                                                "WHERE id = '%1'")
                                     .arg(old)),
             QString());
    QList<ServerWeb::Net> nets;
    QString failure;
    QVERIFY(ServerWeb::nets(web(), QDateTime::currentDateTimeUtc().addDays(-1), 10, nets, &failure));
    QCOMPARE(nets.size(), 2);
    QCOMPARE(nets.at(0).id, open);
    QCOMPARE(nets.at(1).id, closed);
    QList<ServerWeb::Net> changed;
    QVERIFY(ServerWeb::netsChangedAfter(web(), nets.at(1).seq, changed, &failure));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).id, open);
    qint64 latest = 0;
    QVERIFY(ServerWeb::latestSeq(web(), &latest, &failure));
    QCOMPARE(latest, nets.at(0).seq);
}

QTEST_GUILESS_MAIN(TestWebViews)
#include "tst_webviews.moc"
