#include "testsupport.h"

#include "checkin/netrules.h"
#include "data/rows.h"
#include "sync/syncrecords.h"

#include <QtTest>

// The checks every change from or to the club server passes.
class TestSyncChecks : public QObject {
    Q_OBJECT

private slots:
    void changesAreCheckedAsFileLines_data();
    void changesAreCheckedAsFileLines();
};

namespace {

const QString AnId = QString(32, QLatin1Char('a'));

SyncChange goodEntry()
{
    SyncChange change;
    change.id = AnId;
    change.net = QString(32, QLatin1Char('b'));
    change.origin = QString(32, QLatin1Char('c'));
    change.kind = QStringLiteral("entry");
    change.call = QStringLiteral("W7AAA");
    change.status = NetRules::CheckedIn;
    change.name = QStringLiteral("Ann");
    change.city = QStringLiteral("Ogden");
    change.state = QStringLiteral("UT");
    change.time = QStringLiteral("19:01");
    change.logged = true;
    change.logDate = QStringLiteral("261209");
    change.logTime = QStringLiteral("19:01:05");
    change.logStatus = QStringLiteral("-");
    change.made = QStringLiteral("2026-12-09T02:01:05.000Z");
    change.oseq = 3;
    change.seq = 5;
    return change;
}

// The change's field by its column name on the server.
QString *textField(SyncChange &change, const QString &field)
{
    const QHash<QString, QString *> texts = {
        {QStringLiteral("id"), &change.id},           {QStringLiteral("kind"), &change.kind},
        {QStringLiteral("call"), &change.call},       {QStringLiteral("name"), &change.name},
        {QStringLiteral("city"), &change.city},       {QStringLiteral("comment"), &change.comment},
        {QStringLiteral("relay"), &change.relay},     {QStringLiteral("logdate"), &change.logDate},
        {QStringLiteral("logtime"), &change.logTime}, {QStringLiteral("made"), &change.made},
        {QStringLiteral("data"), &change.data}};
    return texts.value(field);
}

} // namespace

void TestSyncChecks::changesAreCheckedAsFileLines_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("problem"); // empty: the change is used
    QTest::addColumn<QString>("used");    // the field as used

    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString thumb = QString::fromUtf8("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD");
    QTest::newRow("as made") << "name" << QVariant(QStringLiteral("Ann")) << ""
                             << "Ann";
    QTest::newRow("far future") << "made" << QVariant(QStringLiteral("9999-12-31T23:59:59.000Z")) << ""
                                << "9999-12-31T23:59:59.000Z";
    QTest::newRow("call of 300") << "call" << QVariant(QString(300, QLatin1Char('W'))) << "its call is not a call sign"
                                 << "";
    QTest::newRow("call with line feed") << "call" << QVariant(QStringLiteral("W7\nAAA"))
                                         << "its call is not a call sign"
                                         << "";
    QTest::newRow("empty call") << "call" << QVariant(QString()) << "its call is not a call sign"
                                << "";
    QTest::newRow("relay with blank") << "relay" << QVariant(QStringLiteral("W7 B")) << "its relay is not a call sign"
                                      << "";
    QTest::newRow("status 2^31-1") << "status" << QVariant(2147483647) << "its status is out of range"
                                   << "";
    QTest::newRow("status below 0") << "status" << QVariant(-1) << "its status is out of range"
                                    << "";
    QTest::newRow("log date not a date") << "logdate" << QVariant(QStringLiteral("not-a-date"))
                                         << "its log date is not a date"
                                         << "";
    QTest::newRow("log date 31 February")
        << "logdate" << QVariant(QStringLiteral("260231")) << "its log date is not a date"
        << "";
    QTest::newRow("log time 25 h") << "logtime" << QVariant(QStringLiteral("25:00:00")) << "its log time is not a time"
                                   << "";
    QTest::newRow("made not a time") << "made" << QVariant(QStringLiteral("infinity"))
                                     << "its time of making is not a time"
                                     << "";
    QTest::newRow("unknown kind") << "kind" << QVariant(QStringLiteral("drop")) << "its kind is unknown"
                                  << "";
    QTest::newRow("id not a program's") << "id" << QVariant(QStringLiteral("1; DROP"))
                                        << "its id is not one a program makes"
                                        << "";
    QTest::newRow("name of 1 MB") << "name" << QVariant(QString(1024 * 1024, QLatin1Char('x')))
                                  << "its name is no single line of at most 256 characters"
                                  << "";
    QTest::newRow("name with line feed") << "name" << QVariant(QStringLiteral("Ann\nW7EVIL"))
                                         << "its name is no single line of at most 256 characters"
                                         << "";
    // Longer than the field: cut on a whole character.
    QTest::newRow("name cut before emoji") << "name" << QVariant(QStringLiteral("Abcdefghijklmn") + smile) << ""
                                           << "Abcdefghijklmn";
    QTest::newRow("city cut before skin tone")
        << "city" << QVariant(QString(19, QLatin1Char('c')) + thumb) << "" << QString(19, QLatin1Char('c'));
    QTest::newRow("comment cut") << "comment" << QVariant(QString(127, QLatin1Char('q')) + smile) << ""
                                 << QString(127, QLatin1Char('q'));
    QTest::newRow("contact of 1 MB") << "data"
                                     << QVariant(contactData(QStringLiteral("W7AAA"),
                                                             QString(1024 * 1024, QLatin1Char('z'))))
                                     << "its data is larger than 8192 bytes"
                                     << "";
    QTest::newRow("contact of another call")
        << "data" << QVariant(contactData(QStringLiteral("K7X"), "Moab")) << "its data is not the contact's fields"
        << "";
    QTest::newRow("contact city cut") << "data" << QVariant(contactData(QStringLiteral("W7AAA"), QString(35, 'm')))
                                      << "" << contactData(QStringLiteral("W7AAA"), QString(30, 'm'));
}

void TestSyncChecks::changesAreCheckedAsFileLines()
{
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    QFETCH(QString, problem);
    QFETCH(QString, used);
    SyncChange change = goodEntry();
    if (field == QLatin1String("data")) {
        change.kind = QStringLiteral("contact");
        change.net.clear();
    }
    if (field == QLatin1String("status"))
        change.status = value.toInt();
    else
        *textField(change, field) = value.toString();
    QCOMPARE(syncCheck(change), problem);
    if (problem.isEmpty())
        QCOMPARE(*textField(change, field), used);
}

QTEST_APPLESS_MAIN(TestSyncChecks)
#include "tst_syncchecks.moc"
