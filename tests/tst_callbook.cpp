#include "testsupport.h"

#include "app/trelvin.h"
#include "callbook/callbookimport.h"
#include "callbook/callbookloader.h"
#include "callbook/fccfile.h"
#include "data/callbookstore.h"
#include "dialogs/contact.h"
#include "jobs/bulkjob.h"
#include "ui_contact.h"
#include "ui_trelvin.h"

#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <zip.h>

using Members = QMap<QByteArray, QByteArray>;

namespace {

// Records in the FCC's layout: the fields the call book reads at their
// positions, the rest empty, as many fields as the current files have.
QByteArray fields(const QByteArray &type, int count, const QMap<int, QByteArray> &values)
{
    QByteArrayList parts(count);
    parts[0] = type;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        parts[it.key()] = it.value();
    return parts.join('|');
}

QByteArray hd(int id, const QByteArray &call, const QByteArray &status = "A", const QByteArray &granted = "03/15/2021",
              const QByteArray &expires = "03/15/2031")
{
    return fields("HD", 59,
                  {{1, QByteArray::number(id)}, {4, call}, {5, status}, {6, "HA"}, {7, granted}, {8, expires}});
}

QByteArray en(int id, const QByteArray &call, const QByteArray &first, const QByteArray &last, const QByteArray &city,
              const QByteArray &state, const QByteArray &zip = "841011234", const QByteArray &type = "L")
{
    return fields("EN", 30,
                  {{1, QByteArray::number(id)},
                   {4, call},
                   {5, type},
                   {7, first + " " + last},
                   {8, first},
                   {9, "Q"},
                   {10, last},
                   {15, "12 Main St"},
                   {16, city},
                   {17, state},
                   {18, zip}});
}

QByteArray am(int id, const QByteArray &call, const QByteArray &licenceClass, const QByteArray &previous = QByteArray(),
              const QByteArray &trustee = QByteArray())
{
    return fields("AM", 18, {{1, QByteArray::number(id)}, {4, call}, {5, licenceClass}, {8, trustee}, {15, previous}});
}

QByteArray lines(const QByteArrayList &records, const QByteArray &end = "\n")
{
    return records.join(end) + end;
}

bool writeZip(const QString &path, const QMap<QByteArray, QByteArray> &members, zip_int32_t method = ZIP_CM_DEFAULT)
{
    QFile::remove(path);
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    for (auto it = members.cbegin(); it != members.cend(); ++it) {
        // libzip reads the buffer when the archive is closed.
        char *copy = static_cast<char *>(malloc(size_t(it.value().size())));
        memcpy(copy, it.value().constData(), size_t(it.value().size()));
        zip_source_t *source = zip_source_buffer(archive, copy, zip_uint64_t(it.value().size()), 1);
        const zip_int64_t index = source ? zip_file_add(archive, it.key().constData(), source, ZIP_FL_OVERWRITE) : -1;
        if (index < 0 || zip_set_file_compression(archive, zip_uint64_t(index), method, 0) < 0) {
            if (index < 0)
                zip_source_free(source);
            zip_discard(archive);
            return false;
        }
    }
    return zip_close(archive) == 0;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The packed size of `member` as the archive's directory gives it, or -1.
qint64 packedSize(const QString &path, const char *member)
{
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, nullptr);
    if (!archive)
        return -1;
    zip_stat_t stat;
    zip_stat_init(&stat);
    const bool found = zip_stat(archive, member, 0, &stat) == 0 && (stat.valid & ZIP_STAT_COMP_SIZE);
    zip_discard(archive);
    return found ? qint64(stat.comp_size) : -1;
}

// The archive with `member`'s unpacked size in its local header and in the
// directory set to `size`, as a crafted archive would say it.
bool declareSize(const QString &path, const QByteArray &member, quint32 size)
{
    QByteArray bytes = readFile(path);
    int patched = 0;
    const auto put = [&](qsizetype at) {
        for (int k = 0; k < 4; ++k)
            bytes[at + k] = char((size >> (8 * k)) & 0xff);
        ++patched;
    };
    const auto u16 = [&](qsizetype at) { return int(uchar(bytes[at])) | int(uchar(bytes[at + 1])) << 8; };
    for (qsizetype at = bytes.indexOf("PK\x03\x04"); at >= 0; at = bytes.indexOf("PK\x03\x04", at + 4)) {
        if (bytes.mid(at + 30, u16(at + 26)) == member)
            put(at + 22);
    }
    for (qsizetype at = bytes.indexOf("PK\x01\x02"); at >= 0; at = bytes.indexOf("PK\x01\x02", at + 4)) {
        if (bytes.mid(at + 46, u16(at + 28)) == member)
            put(at + 24);
    }
    return patched == 2 && writeFile(path, bytes);
}

// A weekly file with two current licences, a cancelled one that had the
// same call as one of them, and an expired one.
QMap<QByteArray, QByteArray> weekly()
{
    return {{"HD.dat", lines({hd(50, "K1ABC", "C", "01/01/2001", "01/01/2011"), hd(100, "K1ABC"), hd(101, "W7XYZ"),
                              hd(102, "N0OLD", "E")})},
            {"EN.dat", lines({en(50, "K1ABC", "OLD", "OWNER", "GONE", "ME"),
                              en(100, "K1ABC", "ALICE", "SMITH", "SALT LAKE CITY", "UT", "84101"),
                              en(101, "W7XYZ", "BOB", "JONES", "PHOENIX", "AZ", "85001-1234"),
                              en(102, "N0OLD", "CAROL", "LATE", "DENVER", "CO")})},
            {"AM.dat", lines({am(50, "K1ABC", "T"), am(100, "K1ABC", "E", "KD7AAA"), am(101, "W7XYZ", "G")})}};
}

CallBook::ImportOutcome import(const QString &source, const QString &target, const QString &zips = QString())
{
    return CallBook::runImport({source, target, zips});
}

std::optional<CallBookRecord> lookUp(const QString &path, const QString &call)
{
    CallBookStore store;
    if (!store.open(path))
        return std::nullopt;
    return store.byCall(call);
}

} // namespace

class TestCallBook : public QObject {
    Q_OBJECT

private slots:
    void init();
    void importJoinsOnSystemIdentifier();
    void badInput_data();
    void badInput();
    void dailyFilesApplyInOrder();
    void unpackedFolder();
    void cancelledImportWritesNothing();
    void largeFileKeepsEveryLicence();
    void storedAndDamagedMembers();
    void longLinesSkippedAsTheyPass();
    void bombsRefusedFromTheDirectory();
    void loadFromMenuReplacesCallBook();
    void failedLoadKeepsCallBook();

private:
    std::unique_ptr<QTemporaryDir> temp;
    QDir dir;
    QString zips;
};

void TestCallBook::init()
{
    temp = std::make_unique<QTemporaryDir>();
    QVERIFY(temp->isValid());
    dir = QDir(temp->path());
    zips = dir.filePath("ZIP_Info.csv");
    QVERIFY(writeFile(zips, "zip,lat,lon\n84101,40.756,-111.9\n85001,33.45,-112.07\n"));
}

void TestCallBook::importJoinsOnSystemIdentifier()
{
    const QString source = dir.filePath("l_amat.zip");
    QVERIFY(writeZip(source, weekly()));
    const QString target = dir.filePath("CallBook.db");
    const CallBook::ImportOutcome outcome = import(source, target, zips);
    QCOMPARE(outcome.status, CallBook::ImportOutcome::Done);
    QCOMPARE(outcome.licences, 2);
    QVERIFY(outcome.report.skipped.isEmpty());
    QVERIFY(CallBookStore::replace(outcome.fresh, target).ok());

    // The current licence, not the cancelled one of 2001 with the same call.
    const std::optional<CallBookRecord> alice = lookUp(target, "K1ABC");
    QVERIFY(alice);
    QCOMPARE(QStringList({alice->first, alice->middle, alice->last, alice->street, alice->city, alice->state,
                          alice->zip, alice->licenceClass, alice->granted, alice->expires, alice->previous}),
             QStringList({"ALICE", "Q", "SMITH", "12 Main St", "SALT LAKE CITY", "UT", "84101", "E", "2021-03-15",
                          "2031-03-15", "KD7AAA"}));
    QVERIFY(alice->hasPosition);
    QCOMPARE(alice->lat, 40.756);
    // A ZIP+4 code is placed by its first five digits.
    const std::optional<CallBookRecord> bob = lookUp(target, "W7XYZ");
    QVERIFY(bob && bob->hasPosition);
    QCOMPARE(bob->lon, -112.07);
    // An expired licence is not in the call book.
    QVERIFY(!lookUp(target, "N0OLD"));
    QVERIFY(!lookUp(target, "K1AB"));
}

void TestCallBook::badInput_data()
{
    QTest::addColumn<Members>("members");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QString>("message"); // the error, or the first skipped line
    QTest::addColumn<QString>("city");    // of K1ABC, when it loads

    QMap<QByteArray, QByteArray> members = weekly();
    members.remove("AM.dat");
    QTest::newRow("zip without AM.dat") << members << false << "l_amat.zip holds no AM.dat" << QString();

    members = weekly();
    members["EN.dat"] = lines({en(100, "K1ABC", "ALICE", "SMITH", "OGDEN", "UT"), "EN|101|||W7XYZ|L",
                               en(101, "W7XYZ", "BOB", "JONES", "PHOENIX", "AZ").left(60)});
    QTest::newRow("lines with fewer fields")
        << members << true << "l_amat.zip EN.dat line 2: 6 fields where a EN record has at least 19; skipped."
        << "OGDEN";

    members = weekly();
    members["EN.dat"] = lines({en(100, "K1ABC", "ALICE", "SMITH", "OGDEN", "UT") + "|extra|fields|from|2030",
                               en(101, "W7XYZ", "BOB", "JONES", "PHOENIX", "AZ")});
    QTest::newRow("more fields than documented") << members << true << QString() << "OGDEN";

    members = weekly();
    members["EN.dat"] = lines({en(100, "K1ABC", "JOS\xc9",
                                  "PE\xd1"
                                  "A",
                                  "ESPA\xd1OLA", "NM"),
                               en(101, "W7XYZ", "BOB", "JONES", "PHOENIX", "AZ")});
    QTest::newRow("Latin-1 bytes") << members << true << QString() << QString::fromUtf8("ESPAÑOLA");

    members = weekly();
    members["EN.dat"] = lines({en(100, "K1ABC", "JOS\xc3\x89",
                                  "PE\xc3\x91"
                                  "A",
                                  "ESPA\xc3\x91OLA", "NM"),
                               en(101, "W7XYZ", "BOB", "JONES", "PHOENIX", "AZ")});
    QTest::newRow("UTF-8 bytes") << members << true << QString() << QString::fromUtf8("ESPAÑOLA");

    members = weekly();
    for (auto it = members.begin(); it != members.end(); ++it)
        it.value().replace("\n", "\r\n");
    QTest::newRow("CR LF line ends") << members << true << QString() << "SALT LAKE CITY";

    members = weekly();
    members["EN.dat"] = lines({en(100, "K1ABC", "ALICE", "SMITH", "OGDEN", "UT")});
    QTest::newRow("licence in HD without EN")
        << members << true << "HD.dat line 3: licence 101 (W7XYZ) has no EN record; skipped."
        << "OGDEN";

    members = weekly();
    members["HD.dat"] = lines({hd(100, "K1ABC"), "HD|abc|||W7XYZ|A|HA|03/15/2021|03/15/2031"});
    QTest::newRow("identifier that is no number")
        << members << true << "l_amat.zip HD.dat line 2: the unique system identifier 'abc' is no number; skipped."
        << "SALT LAKE CITY";

    // The FCC writes its files by system identifier; a file in another
    // order joins the same.
    members = weekly();
    for (const QByteArray &name : {QByteArray("HD.dat"), QByteArray("EN.dat"), QByteArray("AM.dat")}) {
        QByteArrayList records = members[name].split('\n');
        records.removeLast();
        std::reverse(records.begin(), records.end());
        members[name] = lines(records);
    }
    QTest::newRow("records out of order") << members << true << QString() << "SALT LAKE CITY";

    members = weekly();
    members["HD.dat"] = QByteArray();
    QTest::newRow("no licence at all") << members << false << "l_amat.zip holds no active licence." << QString();
}

void TestCallBook::badInput()
{
    QFETCH(Members, members);
    QFETCH(bool, loads);
    QFETCH(QString, message);
    QFETCH(QString, city);

    const QString source = dir.filePath("l_amat.zip");
    QVERIFY(writeZip(source, members));
    const QString target = dir.filePath("CallBook.db");
    const CallBook::ImportOutcome outcome = import(source, target);
    QCOMPARE(outcome.status, loads ? CallBook::ImportOutcome::Done : CallBook::ImportOutcome::Failed);
    if (!loads) {
        QVERIFY2(outcome.error.startsWith(message), qPrintable(outcome.error));
        QVERIFY(outcome.fresh.isEmpty());
        QVERIFY(!QFile::exists(target + ".new"));
        return;
    }
    if (message.isEmpty())
        QCOMPARE(outcome.report.skipped, QStringList());
    else
        QCOMPARE(outcome.report.skipped.value(0), message);
    QVERIFY(CallBookStore::replace(outcome.fresh, target).ok());
    const std::optional<CallBookRecord> record = lookUp(target, "K1ABC");
    QVERIFY(record);
    QCOMPARE(record->city, city);
    // No stray CR at the end of a line's last field, nor anywhere else.
    QCOMPARE(record->expires, "2031-03-15");
    QVERIFY(!record->licenceClass.contains('\r'));
}

void TestCallBook::dailyFilesApplyInOrder()
{
    const QString source = dir.filePath("l_amat.zip");
    QVERIFY(writeZip(source, weekly()));
    const QDateTime week = QDateTime::currentDateTime().addDays(-3);
    // Monday moves Alice; Tuesday cancels Bob and moves Alice again; an old
    // daily file of the week before is not applied.
    const QString monday = dir.filePath("l_am_mon.zip");
    QVERIFY(writeZip(monday, {{"HD.dat", lines({hd(100, "K1ABC")})},
                              {"EN.dat", lines({en(100, "K1ABC", "ALICE", "SMITH", "PROVO", "UT")})},
                              {"AM.dat", lines({am(100, "K1ABC", "E")})}}));
    const QString tuesday = dir.filePath("l_am_tue.zip");
    QVERIFY(writeZip(tuesday, {{"HD.dat", lines({hd(100, "K1ABC"), hd(101, "W7XYZ", "C")})},
                               {"EN.dat", lines({en(100, "K1ABC", "ALICE", "SMITH", "OREM", "UT")})},
                               {"AM.dat", lines({am(100, "K1ABC", "E")})}}));
    const QString old = dir.filePath("l_am_sat.zip");
    QVERIFY(writeZip(old, {{"HD.dat", lines({hd(100, "K1ABC")})},
                           {"EN.dat", lines({en(100, "K1ABC", "ALICE", "SMITH", "LOGAN", "UT")})},
                           {"AM.dat", lines({am(100, "K1ABC", "E")})}}));
    const auto touch = [](const QString &path, const QDateTime &when) {
        QFile file(path);
        return file.open(QIODevice::ReadWrite) && file.setFileTime(when, QFileDevice::FileModificationTime);
    };
    QVERIFY(touch(old, week.addDays(-2)));
    QVERIFY(touch(source, week));
    QVERIFY(touch(tuesday, week.addDays(2)));
    QVERIFY(touch(monday, week.addDays(1)));

    QCOMPARE(CallBook::dailyFiles(source), QStringList({monday, tuesday}));
    const QString target = dir.filePath("CallBook.db");
    const CallBook::ImportOutcome outcome = import(source, target);
    QCOMPARE(outcome.status, CallBook::ImportOutcome::Done);
    QCOMPARE(outcome.files, QStringList({source, monday, tuesday}));
    QCOMPARE(outcome.licences, 1);
    QVERIFY(CallBookStore::replace(outcome.fresh, target).ok());
    QCOMPARE(lookUp(target, "K1ABC")->city, "OREM");
    QVERIFY(!lookUp(target, "W7XYZ"));
}

void TestCallBook::unpackedFolder()
{
    const QString folder = dir.filePath("l_amat");
    QVERIFY(QDir().mkpath(folder));
    const QMap<QByteArray, QByteArray> members = weekly();
    for (auto it = members.cbegin(); it != members.cend(); ++it)
        QVERIFY(writeFile(folder + "/" + it.key(), it.value()));
    const QString target = dir.filePath("CallBook.db");
    const CallBook::ImportOutcome outcome = import(folder, target);
    QCOMPARE(outcome.status, CallBook::ImportOutcome::Done);
    QCOMPARE(outcome.licences, 2);
}

void TestCallBook::cancelledImportWritesNothing()
{
    const QString source = dir.filePath("l_amat.zip");
    QVERIFY(writeZip(source, weekly()));
    const QString target = dir.filePath("CallBook.db");
    std::atomic<bool> cancel{true};
    const CallBook::ImportOutcome outcome = CallBook::runImport({source, target, QString()}, &cancel);
    QCOMPARE(outcome.status, CallBook::ImportOutcome::Cancelled);
    QVERIFY(!QFile::exists(target + ".new"));
    QVERIFY(!QFile::exists(target));

    // Cancelled while writing: the partial file goes.
    QList<int> seen;
    std::atomic<bool> late{false};
    const CallBook::ImportOutcome writing =
        CallBook::runImport({source, target, QString()}, &late, [&](int permille, const QString &stage) {
            seen.append(permille);
            if (stage.startsWith("Writing"))
                late = true;
        });
    QCOMPARE(writing.status, CallBook::ImportOutcome::Cancelled);
    QVERIFY(!QFile::exists(target + ".new"));
    QVERIFY(!seen.isEmpty());
}

void TestCallBook::largeFileKeepsEveryLicence()
{
    // Enough licences for the files to be read in several chunks and the
    // rows written in several batches, with every kind of licence the join
    // and the choice among shared calls meet, spread through the file.
    struct Licence {
        int id;
        QByteArray call, status, first, city, zip, licenceClass;
        int contact; // 0: none, 1: before the licensee's record, 2: after
        bool named, amateur;
    };
    QList<Licence> licences;
    QByteArrayList hds, ens, ams;
    const QByteArrayList zipCodes = {"84101", "850011234", "99999", "1234"};
    for (int i = 0; i < 20000; ++i) {
        Licence l;
        l.id = 5000 + i;
        // Every seventh licence takes the call of the one before it.
        l.call =
            i % 7 == 6 ? licences.last().call : "K" + QByteArray::number(i % 10) + QByteArray::number(i, 36).toUpper();
        l.status = i % 11 == 3 ? "E" : "A";
        l.first = i % 3 == 0 ? QByteArray("REN\xc9") : "NAME" + QByteArray::number(i);
        l.city = "CITY" + QByteArray::number(i % 97);
        l.zip = zipCodes.at(i % zipCodes.size());
        l.licenceClass = i % 5 == 4 ? QByteArray() : QByteArray(1, "EGTA"[i % 4]);
        l.contact = i % 13 == 0 ? 1 : i % 17 == 0 ? 2 : 0;
        l.named = i % 19 != 18;
        l.amateur = i % 5 != 4;
        licences.append(l);
        hds.append(hd(l.id, l.call, l.status, "01/0" + QByteArray::number(1 + i % 9) + "/2020", "12/31/2030"));
        if (l.contact == 1)
            ens.append(en(l.id, l.call, "CONTACT", "PERSON", "ELSEWHERE", "NV", "89501", "C"));
        if (l.named)
            ens.append(en(l.id, l.call, l.first, "LAST", l.city, "UT", l.zip));
        if (l.contact == 2)
            ens.append(en(l.id, l.call, "CONTACT", "PERSON", "ELSEWHERE", "NV", "89501", "C"));
        if (l.amateur)
            ams.append(am(l.id, l.call, l.licenceClass));
    }
    const QString source = dir.filePath("l_amat.zip");
    QVERIFY(writeZip(source, {{"HD.dat", lines(hds, "\r\n")}, {"EN.dat", lines(ens)}, {"AM.dat", lines(ams)}}));

    // Of the active licences with an EN record, the newest per call; a
    // contact's record stands in for a missing licensee's.
    QMap<QByteArray, Licence> newest;
    for (const Licence &l : licences) {
        if (l.status == "A" && (l.named || l.contact))
            newest.insert(l.call, l);
    }
    QStringList expected;
    for (const Licence &l : newest) {
        const bool placed = l.named && (l.zip.startsWith("84101") || l.zip.startsWith("85001"));
        const QStringList name =
            l.named ? QStringList({Fcc::text(l.first), "Q", "LAST", "12 Main St", QString::fromLatin1(l.city), "UT",
                                   QString::fromLatin1(l.zip)})
                    : QStringList({"CONTACT", "Q", "PERSON", "12 Main St", "ELSEWHERE", "NV", "89501"});
        expected.append(
            (QStringList(QString::fromLatin1(l.call)) + name
             + QStringList({QString::fromLatin1(l.licenceClass), "2020-01-0" + QString::number(1 + (l.id - 5000) % 9),
                            "2030-12-31", placed ? "placed" : "nowhere"}))
                .join('|'));
    }

    const QString target = dir.filePath("CallBook.db");
    const CallBook::ImportOutcome outcome = import(source, target, zips);
    QCOMPARE(outcome.status, CallBook::ImportOutcome::Done);
    QCOMPARE(outcome.licences, expected.size());
    const qint64 unnamed = std::count_if(licences.cbegin(), licences.cend(),
                                         [](const Licence &l) { return l.status == "A" && !l.named && !l.contact; });
    QCOMPARE(outcome.report.skippedCount, unnamed);
    QCOMPARE(outcome.report.skipped.size(), Fcc::Report::MaxLogged);
    QCOMPARE(outcome.report.skipped.first(), "HD.dat line 19: licence 5018 (K8I) has no EN record; skipped.");
    QStringList written;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "large");
        db.setDatabaseName(outcome.fresh);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec("SELECT call, first, middle, last, street, city, state, zip, class, granted, expires, "
                           "lat IS NOT NULL FROM licence ORDER BY call"));
        while (query.next()) {
            QStringList values;
            for (int c = 0; c < 11; ++c)
                values.append(query.value(c).toString());
            values.append(query.value(11).toBool() ? "placed" : "nowhere");
            written.append(values.join('|'));
        }
    }
    QSqlDatabase::removeDatabase("large");
    QCOMPARE(written.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(written.at(i), expected.at(i));
    QFile::remove(outcome.fresh);

    // Cancelled while the files are read, and while the rows are written:
    // the threads that help stop with the import, and no file stays.
    for (const QString &when : {QStringLiteral("Reading"), QStringLiteral("Writing")}) {
        std::atomic<bool> cancel{false};
        const CallBook::ImportOutcome cancelled =
            CallBook::runImport({source, target, zips}, &cancel, [&](int, const QString &stage) {
                if (stage.startsWith(when))
                    cancel = true;
            });
        QCOMPARE(cancelled.status, CallBook::ImportOutcome::Cancelled);
        QVERIFY(!QFile::exists(target + ".new"));
    }
}

void TestCallBook::storedAndDamagedMembers()
{
    // Members stored as they are, not deflated, load the same.
    const QString source = dir.filePath("l_amat.zip");
    const QString target = dir.filePath("CallBook.db");
    QVERIFY(writeZip(source, weekly(), ZIP_CM_STORE));
    const CallBook::ImportOutcome stored = import(source, target);
    QCOMPARE(stored.status, CallBook::ImportOutcome::Done);
    QCOMPARE(stored.licences, 2);
    QFile::remove(stored.fresh);

    // Deflated bytes altered in the middle of EN.dat (between the small AM
    // and HD): the import fails, says so, and leaves no file.
    QMap<QByteArray, QByteArray> members = weekly();
    QByteArrayList names;
    for (int i = 0; i < 3000; ++i)
        names.append(en(1000 + i, "K" + QByteArray::number(i, 36).toUpper(), "N" + QByteArray::number(i * 7919 % 10007),
                        "L" + QByteArray::number(i * 104729 % 99991), "C" + QByteArray::number(i % 211), "UT"));
    members["EN.dat"] = lines(names);
    QVERIFY(writeZip(source, members));
    QByteArray bytes = readFile(source);
    for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i)
        bytes[i] = char(bytes[i] ^ 0x5a);
    QVERIFY(writeFile(source, bytes));
    const CallBook::ImportOutcome damaged = import(source, target);
    QCOMPARE(damaged.status, CallBook::ImportOutcome::Failed);
    QVERIFY2(damaged.error.startsWith("EN.dat in l_amat.zip is damaged: "), qPrintable(damaged.error));
    QVERIFY(!QFile::exists(target + ".new"));
}

void TestCallBook::longLinesSkippedAsTheyPass()
{
    // A line of 3 MB runs over several of the chunks a member is read in;
    // one of 5 kB lies within one. Each is a record but for its length, so
    // that taken whole it would come through.
    const QByteArray huge(3 << 20, 'x');
    const QByteArray long5k(5000, 'y');
    QMap<QByteArray, QByteArray> members = weekly();
    members["HD.dat"] = lines({hd(100, "K1ABC"), hd(103, "K9LONG") + "|" + huge, hd(101, "W7XYZ"),
                               hd(104, "K9MID") + "|" + long5k, hd(105, "K9END")});
    members["EN.dat"] = lines(
        {en(100, "K1ABC", "ALICE", "SMITH", "OGDEN", "UT"), en(103, "K9LONG", "LONG", "LINE", "NOWHERE", "UT"),
         en(105, "K9END", "EVE", "END", "MOAB", "UT") + "|" + huge, en(101, "W7XYZ", "BOB", "JONES", "PHOENIX", "AZ"),
         en(104, "K9MID", "MID", "LINE", "NOWHERE", "UT") + "|" + long5k,
         en(105, "K9END", "EVE", "END", "PROVO", "UT")});
    members["AM.dat"] = lines({am(100, "K1ABC", "E") + "|" + huge, am(101, "W7XYZ", "G"), am(105, "K9END", "T")});
    const QString source = dir.filePath("l_amat.zip");
    QVERIFY(writeZip(source, members));
    const QString target = dir.filePath("CallBook.db");
    const CallBook::ImportOutcome outcome = import(source, target);
    QCOMPARE(outcome.status, CallBook::ImportOutcome::Done);
    QCOMPARE(outcome.report.skipped, QStringList({"l_amat.zip HD.dat line 2: longer than 4096 bytes; skipped.",
                                                  "l_amat.zip HD.dat line 4: longer than 4096 bytes; skipped.",
                                                  "l_amat.zip EN.dat line 3: longer than 4096 bytes; skipped.",
                                                  "l_amat.zip EN.dat line 5: longer than 4096 bytes; skipped.",
                                                  "l_amat.zip AM.dat line 1: longer than 4096 bytes; skipped."}));
    QCOMPARE(outcome.report.skippedCount, 5);
    QCOMPARE(outcome.licences, 3);
    QVERIFY(CallBookStore::replace(outcome.fresh, target).ok());
    QCOMPARE(lookUp(target, "K1ABC")->city, "OGDEN");
    QCOMPARE(lookUp(target, "K1ABC")->licenceClass, QString());
    QCOMPARE(lookUp(target, "W7XYZ")->licenceClass, "G");
    // The line after a long one is read from its start.
    QCOMPARE(lookUp(target, "K9END")->city, "PROVO");
    QVERIFY(!lookUp(target, "K9LONG"));
    QVERIFY(!lookUp(target, "K9MID"));
}

void TestCallBook::bombsRefusedFromTheDirectory()
{
    const QString source = dir.filePath("l_amat.zip");
    const QString target = dir.filePath("CallBook.db");
    QVERIFY(writeZip(source, weekly()));
    const CallBook::ImportOutcome first = import(source, target);
    QVERIFY(CallBookStore::replace(first.fresh, target).ok());
    const QByteArray before = readFile(target);
    const auto refused = [&](const QString &message) {
        const CallBook::ImportOutcome outcome = import(source, target);
        QCOMPARE(outcome.status, CallBook::ImportOutcome::Failed);
        QCOMPARE(outcome.error, message);
        QVERIFY(!QFile::exists(target + ".new"));
        QCOMPARE(readFile(target), before);
    };

    // 32 MiB of one byte without a line feed packs into some kilobytes.
    QMap<QByteArray, QByteArray> members = weekly();
    members["EN.dat"] += QByteArray(32 << 20, 'A');
    QVERIFY(writeZip(source, members));
    const qint64 packed = packedSize(source, "EN.dat");
    QVERIFY(packed > 0 && packed < 1 << 20);
    refused("EN.dat in l_amat.zip would unpack to " + QLocale(QLocale::English).toString(members["EN.dat"].size())
            + " bytes from " + QLocale(QLocale::English).toString(packed)
            + ", which no FCC file does (at most 2 GiB, and at most 100 times its packed size); it was not read.");

    // A directory that claims nearly 4 GB for a small member.
    QVERIFY(writeZip(source, weekly()));
    QVERIFY(declareSize(source, "HD.dat", 0xf0000000u));
    refused("HD.dat in l_amat.zip would unpack to 4,026,531,840 bytes from "
            + QLocale(QLocale::English).toString(packedSize(source, "HD.dat"))
            + ", which no FCC file does (at most 2 GiB, and at most 100 times its packed size); it was not read.");

    // One that claims less than the member holds: the unpacking stops there.
    for (const zip_int32_t method : {ZIP_CM_DEFLATE, ZIP_CM_STORE}) {
        QVERIFY(writeZip(source, weekly(), method));
        QVERIFY(declareSize(source, "AM.dat", 40));
        refused("AM.dat in l_amat.zip is damaged: it unpacks to more than the 40 bytes the archive gives.");
    }
}

void TestCallBook::loadFromMenuReplacesCallBook()
{
    Runtime rt;
    QVERIFY(rt.installInfo("State_Info.csv"));
    Trelvin *w = rt.start();
    QVERIFY(w->started());
    QVERIFY(!w->findChild<CallBookLoader *>()->store().isOpen());
    rt.prompter.clear();

    const QString source = dir.filePath("l_amat.zip");
    QVERIFY(writeZip(source, weekly()));
    rt.prompter.paths << source;
    FORM(w, actionLoadFccCallBook)->trigger();
    QCOMPARE(rt.prompter.pathCaptions, QStringList({"Open FCC Amateur Licence File"}));
    QVERIFY(bulkJobOf(w)->bar()->isVisibleTo(FORM(w, statusbar)));
    QVERIFY(bulkJobOf(w)->cancelButton()->isVisibleTo(FORM(w, statusbar)));
    // The menu entry again while it runs asks whether to stop; No goes on.
    rt.prompter.answers << QMessageBox::No;
    FORM(w, actionLoadFccCallBook)->trigger();
    QCOMPARE(rt.prompter.titles(), QStringList({"FCC Call Book Loading"}));
    rt.prompter.clear();
    QSignalSpy finished(w->findChild<CallBookLoader *>()->importJob(), &CallBookImport::finished);
    QVERIFY(finished.wait(10000));

    QVERIFY(!bulkJobOf(w)->bar()->isVisibleTo(FORM(w, statusbar)));
    QCOMPARE(FORM(w, statusbar)->currentMessage(), "FCC Call Book loaded: 2 licences from l_amat.zip.");
    QVERIFY(rt.prompter.calls.isEmpty());
    QVERIFY(w->findChild<CallBookLoader *>()->store().isOpen());
    QCOMPARE(w->findChild<CallBookLoader *>()->store().count(), 2);
    QCOMPARE(w->findChild<CallBookLoader *>()->store().byCall("W7XYZ")->first, "BOB");
    QVERIFY(!QFile::exists(rt.dataPath() + "/CallBook.db.new"));

    // A second load replaces the file the window reads.
    QMap<QByteArray, QByteArray> members = weekly();
    members["HD.dat"] = lines({hd(101, "W7XYZ")});
    QVERIFY(writeZip(source, members));
    rt.prompter.paths << source;
    FORM(w, actionLoadFccCallBook)->trigger();
    QVERIFY(finished.wait(10000));
    QCOMPARE(w->findChild<CallBookLoader *>()->store().count(), 1);
    QVERIFY(!w->findChild<CallBookLoader *>()->store().byCall("K1ABC"));
}

void TestCallBook::failedLoadKeepsCallBook()
{
    Runtime rt;
    QVERIFY(rt.installInfo("State_Info.csv"));
    const QString target = rt.dataPath() + "/CallBook.db";
    const QString source = dir.filePath("l_amat.zip");
    QVERIFY(writeZip(source, weekly()));
    const CallBook::ImportOutcome first = import(source, target);
    QVERIFY(CallBookStore::replace(first.fresh, target).ok());
    const QByteArray before = readFile(target);

    Trelvin *w = rt.start();
    QVERIFY(w->started());
    QVERIFY(w->findChild<CallBookLoader *>()->store().isOpen());
    rt.prompter.clear();

    // A download cut short: the archive's directory at its end is missing.
    const QByteArray whole = readFile(source);
    QVERIFY(writeFile(source, whole.left(whole.size() / 2)));
    rt.prompter.paths << source;
    FORM(w, actionLoadFccCallBook)->trigger();
    QSignalSpy finished(w->findChild<CallBookLoader *>()->importJob(), &CallBookImport::finished);
    QVERIFY(finished.wait(10000));
    QCOMPARE(rt.prompter.titles(), QStringList({"FCC Call Book Not Loaded"}));
    QVERIFY(rt.prompter.calls.first().text.startsWith("l_amat.zip is not a readable ZIP archive"));
    QVERIFY(rt.prompter.calls.first().text.endsWith("\n\nThe call book in use is kept."));
    QCOMPARE(readFile(target), before);
    QCOMPARE(w->findChild<CallBookLoader *>()->store().byCall("K1ABC")->city, "SALT LAKE CITY");
    QVERIFY(rt.readData("errorLog.txt").contains("FCC Call Book not loaded: l_amat.zip is not a readable ZIP"));
}

QTEST_MAIN(TestCallBook)
#include "tst_callbook.moc"
