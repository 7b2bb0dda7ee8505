#include "pgserver.h"
#include "testsupport.h"

#include "app/trelvin.h"
#include "callbook/callbookimport.h"
#include "callbook/callbookloader.h"
#include "data/callbookstore.h"
#include "data/serverschema.h"
#include "data/storage.h"
#include "dialogs/clubserver.h"
#include "jobs/bulkjob.h"
#include "reports/reportfill.h"
#include "reports/reportscontroller.h"
#include "reports/seelogs.h"
#include "sync/clubhub.h"
#include "sync/clublink.h"
#include "sync/clubsync.h"
#include "sync/syncworker.h"
#include "ui_trelvin.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <zip.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// A loopback TCP proxy in front of the server that can go silent: it keeps
// both ends open but forwards nothing more, as a link whose far end
// vanished without a word.
class Proxy : public QObject {
public:
    explicit Proxy(int port) : target(port)
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = server.nextPendingConnection()) {
                auto *upstream = new QTcpSocket(client);
                upstream->connectToHost(QHostAddress::LocalHost, quint16(this->target));
                const auto forward = [this](QTcpSocket *from, QTcpSocket *to) {
                    if (!silent)
                        to->write(from->readAll());
                };
                connect(client, &QTcpSocket::readyRead, upstream, [=] { forward(client, upstream); });
                connect(upstream, &QTcpSocket::connected, client, [=] { forward(client, upstream); });
                connect(upstream, &QTcpSocket::readyRead, client, [=] { forward(upstream, client); });
                sockets.append(client);
            }
        });
    }
    ~Proxy() override { close(); }
    int port() const { return server.serverPort(); }
    void goSilent() { silent = true; }
    // Ends every link: a call stuck on one returns.
    void close()
    {
        server.close();
        for (QTcpSocket *socket : std::as_const(sockets))
            delete socket;
        sockets.clear();
    }

private:
    QTcpServer server;
    int target;
    bool silent = false;
    QList<QTcpSocket *> sockets;
};

// Fails the run instead of letting it hang past `seconds`.
class Watchdog {
public:
    Watchdog(int seconds, const char *what)
        : thread([this, seconds, what] {
              std::unique_lock<std::mutex> lock(mutex);
              if (!done.wait_for(lock, std::chrono::seconds(seconds), [this] { return finished; }))
                  qFatal("%s did not end within %d s", what, seconds);
          })
    {
    }
    ~Watchdog()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            finished = true;
        }
        done.notify_all();
        thread.join();
    }

private:
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread thread;
};

// An FCC weekly file of `count` licences in its layout: HD, EN and AM lines.
bool writeLicences(const QString &path, int count)
{
    const auto line = [](const char *type, int fields, const QMap<int, QByteArray> &values) {
        QByteArrayList parts(fields);
        parts[0] = type;
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            parts[it.key()] = it.value();
        return parts.join('|') + '\n';
    };
    QByteArray hd, en, am;
    for (int i = 0; i < count; ++i) {
        const QByteArray id = QByteArray::number(1000 + i);
        const QByteArray call = "K" + QByteArray::number(i % 10) + QByteArray::number(i, 36).toUpper();
        hd += line("HD", 59, {{1, id}, {4, call}, {5, "A"}, {6, "HA"}, {7, "03/15/2021"}, {8, "03/15/2031"}});
        en += line("EN", 30,
                   {{1, id}, {4, call}, {5, "L"}, {8, "ANN"}, {10, "LEE"}, {16, "OGDEN"}, {17, "UT"}, {18, "84401"}});
        am += line("AM", 18, {{1, id}, {4, call}, {5, "E"}});
    }
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    for (const auto &[name, bytes] : {std::pair{"HD.dat", hd}, std::pair{"EN.dat", en}, std::pair{"AM.dat", am}}) {
        void *copy = malloc(size_t(bytes.size()));
        memcpy(copy, bytes.constData(), size_t(bytes.size()));
        zip_source_t *source = zip_source_buffer(archive, copy, zip_uint64_t(bytes.size()), 1);
        if (!source || zip_file_add(archive, name, source, ZIP_FL_OVERWRITE) < 0) {
            zip_discard(archive);
            return false;
        }
    }
    return zip_close(archive) == 0;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Program {
    Runtime *rt = nullptr;
    Trelvin *w = nullptr;

    QLabel *label(const char *name) const { return w->findChild<QLabel *>(QLatin1String(name)); }
    QString status() const { return label("clubStatus")->isHidden() ? QString() : label("clubStatus")->text(); }
    QStringList boxes() const
    {
        QStringList texts;
        for (const ScriptedPrompter::Call &call : rt->prompter.calls) {
            if (call.title == QLatin1String("Club Server"))
                texts.append(call.text);
        }
        return texts;
    }
};

} // namespace

class TestClubLink : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void linkRules_data();
    void linkRules();
    void unencryptedLinkOffThisComputerIsRefused();
    void encryptedLinkVerifiedWithItsCertificate();
    void dialogBuildsTheString();
    void exitWithASilentLinkEndsAtOnce_data();
    void exitWithASilentLinkEndsAtOnce();
    void cancelledReportStopsReading();

private:
    // `before` prepares the runtime folder before the window starts.
    Program start(const QString &conninfo, const std::function<void(Runtime &)> &before = {});
    QString conninfo(const PgServer &at, const QString &host, const QString &more = QString()) const;

    PgServer plain;
    PgServer tls;
    QTemporaryDir certs;
    QTemporaryDir home;
    std::vector<std::unique_ptr<Runtime>> runtimes;
};

void TestClubLink::initTestCase()
{
    qRegisterMetaType<SeeLogs *>();
    QVERIFY(certs.isValid() && home.isValid());
    QCOMPARE(PgServer::makeCertificates(certs.path(), QStringLiteral("ca")), QString());
    QCOMPARE(PgServer::makeCertificates(certs.path(), QStringLiteral("other-ca")), QString());
    // The key is read by the server's user through a copy of its own.
    QFile::setPermissions(certs.path() + "/server.key", QFile::ReadOwner | QFile::WriteOwner);
    tls.setTls(certs.path() + "/server.crt", certs.path() + "/server.key");
    // scripts/test.sh installs the server: a missing one is a failure, never a skip.
    QString failure = plain.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    failure = tls.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QString passFile = home.path() + "/pgpass";
    QFile file(passFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    // Any port: the servers' and the proxy's.
    file.write("*:*:*:op1:first-secret\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    qputenv("PGPASSFILE", passFile.toLocal8Bit());
    // Which host a string without one reaches is the test's to say.
    qunsetenv("PGHOST");
    qunsetenv("PGHOSTADDR");
    qunsetenv("PGSERVICE");
    qunsetenv("PGSSLMODE");
    for (PgServer *server : {&plain, &tls}) {
        QCOMPARE(server->resetDatabase(), QString());
        QCOMPARE(server->addOperator(QStringLiteral("op1"), QStringLiteral("first-secret")), QString());
    }
}

void TestClubLink::init()
{
    if (QTest::currentTestFunction() == QByteArray("linkRules"))
        return;
    for (PgServer *server : {&plain, &tls})
        QCOMPARE(server->resetDatabase(), QString());
}

void TestClubLink::cleanup()
{
    ReportsController::inlineReportRows = 5'000;
    while (!runtimes.empty())
        runtimes.pop_back();
}

QString TestClubLink::conninfo(const PgServer &at, const QString &host, const QString &more) const
{
    return QStringLiteral("host=%1 port=%2 dbname=trelvin user=op1 %3").arg(host).arg(at.port()).arg(more).trimmed();
}

Program TestClubLink::start(const QString &info, const std::function<void(Runtime &)> &before)
{
    runtimes.push_back(std::make_unique<Runtime>());
    Program program;
    program.rt = runtimes.back().get();
    program.rt->installInfo(QStringLiteral("State_Info.csv"));
    program.rt->addEmptyRoster();
    if (before)
        before(*program.rt);
    if (!info.isEmpty())
        writeMain(QStringLiteral("ClubServer"), info);
    program.w = program.rt->start();
    return program;
}

void TestClubLink::linkRules_data()
{
    QTest::addColumn<QString>("conninfo");
    QTest::addColumn<QString>("sslmode"); // as opened
    QTest::addColumn<bool>("mustEncrypt");

    QTest::newRow("remote host") << "host=club.example.org dbname=trelvin user=n7ncs"
                                 << "require" << true;
    QTest::newRow("remote, prefer") << "host=club.example.org sslmode=prefer"
                                    << "require" << true;
    QTest::newRow("remote, allow") << "host=club.example.org sslmode=allow"
                                   << "require" << true;
    QTest::newRow("remote, off by name") << "host=club.example.org sslmode=disable"
                                         << "disable" << false;
    QTest::newRow("remote, verified") << "host=club.example.org sslmode=verify-full"
                                      << "verify-full" << true;
    QTest::newRow("remote address") << "host=192.0.2.7"
                                    << "require" << true;
    QTest::newRow("any address") << "host=0.0.0.0"
                                 << "require" << true;
    QTest::newRow("one of two remote") << "host=localhost,club.example.org"
                                       << "require" << true;
    QTest::newRow("address") << "postgresql://n7ncs@club.example.org:5433/trelvin"
                             << "require" << true;
    QTest::newRow("service file") << "service=club"
                                  << "require" << true;
    QTest::newRow("loopback") << "host=127.0.0.1 port=5432"
                              << "" << false;
    QTest::newRow("loopback v6") << "host=::1"
                                 << "" << false;
    QTest::newRow("localhost") << "host=localhost"
                               << "" << false;
    QTest::newRow("socket folder") << "host=/var/run/postgresql"
                                   << "" << false;
    QTest::newRow("no host: socket") << "dbname=trelvin"
                                     << "" << false;
    QTest::newRow("name for a loopback address") << "host=club.example.org hostaddr=127.0.0.1"
                                                 << "" << false;
    QTest::newRow("local address, remote host") << "host=localhost hostaddr=192.0.2.7"
                                                << "require" << true;
}

void TestClubLink::linkRules()
{
    QFETCH(QString, conninfo);
    QFETCH(QString, sslmode);
    QFETCH(bool, mustEncrypt);
    const ClubLink::Plan plan = ClubLink::plan(conninfo);
    QCOMPARE(plan.error, QString());
    QCOMPARE(plan.mustEncrypt, mustEncrypt);
    // What the worker opens with, read back as libpq reads it.
    const std::optional<ClubLink::Settings> opened = ClubLink::parse(SyncWorker::connectionOptions(conninfo));
    QVERIFY(opened);
    QCOMPARE(ClubLink::value(*opened, QStringLiteral("sslmode")), sslmode);
    // A dead link is noticed, and no statement runs for ever.
    QCOMPARE(ClubLink::value(*opened, QStringLiteral("keepalives")), QStringLiteral("1"));
    QVERIFY(!ClubLink::value(*opened, QStringLiteral("keepalives_idle")).isEmpty());
    QCOMPARE(ClubLink::value(*opened, QStringLiteral("options")), QStringLiteral("-c statement_timeout=30000"));
    QCOMPARE(ClubLink::value(*opened, QStringLiteral("connect_timeout")), QStringLiteral("3"));

    if (QTest::currentDataTag() == QByteArray("remote host")) {
        // The string's own options and quoted values survive.
        const std::optional<ClubLink::Settings> own = ClubLink::parse(SyncWorker::connectionOptions(
            QStringLiteral("host=h options='-c search_path=club' application_name='N7 \\'net\\''")));
        QVERIFY(own);
        QCOMPARE(ClubLink::value(*own, QStringLiteral("options")),
                 QStringLiteral("-c search_path=club -c statement_timeout=30000"));
        QCOMPARE(ClubLink::value(*own, QStringLiteral("application_name")), QStringLiteral("N7 'net'"));
        QCOMPARE(ClubLink::plan(QStringLiteral("host='h")).error,
                 QStringLiteral("The club server's connection string cannot be read: the value of \"host\" lacks "
                                "its closing quote."));
    }
}

void TestClubLink::unencryptedLinkOffThisComputerIsRefused()
{
    // 0.0.0.0 reaches this computer, yet is no loopback address: to the
    // rule it is a host elsewhere, and the plain server offers no TLS.
    Program a = start(conninfo(plain, QStringLiteral("0.0.0.0")));
    QTRY_COMPARE_WITH_TIMEOUT(a.boxes().size(), 1, 10000);
    QCOMPARE(a.boxes().first(),
             SyncWorker::unencryptedText() + "\n\nThe net goes on on this computer without the club server.");
    QTest::qWait(1200); // no second attempt, no second box
    QCOMPARE(a.boxes().size(), 1);
    QCOMPARE(a.status(), QStringLiteral("Club server: offline, 0 changes waiting"));
    // Nothing was made on the server.
    QCOMPARE(plain.admin(QStringLiteral("DO $$ BEGIN IF to_regclass('trelvin_change') IS NOT NULL THEN "
                                        "RAISE 'used'; END IF; END $$")),
             QString());
    // The dialog's test says the same.
    a.w->findChild<QAction *>("actionClubServer")->trigger();
    a.w->findChild<ClubHub *>()->dialog()->findChild<QPushButton *>("clubTest")->click();
    QTRY_COMPARE_WITH_TIMEOUT(a.w->findChild<ClubHub *>()->dialog()->findChild<QLabel *>("clubResult")->text(),
                              "Not connected: " + SyncWorker::unencryptedText(), 10000);

    // Off by name: the operator's choice on a network trusted.
    runtimes.clear();
    Program b = start(conninfo(plain, QStringLiteral("0.0.0.0"), QStringLiteral("sslmode=disable")));
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), QStringLiteral("Club server: connected as OP1 (not encrypted)"), 10000);
    // On this computer no TLS is needed.
    runtimes.clear();
    Program c = start(conninfo(plain, QStringLiteral("127.0.0.1")));
    QTRY_COMPARE_WITH_TIMEOUT(c.status(), QStringLiteral("Club server: connected as OP1 (not encrypted)"), 10000);
    QVERIFY(c.boxes().isEmpty());
}

void TestClubLink::encryptedLinkVerifiedWithItsCertificate()
{
    // The server's name checked against its certificate, signed by the CA
    // the operator gave.
    const QString verified = conninfo(tls, QStringLiteral("localhost"),
                                      "hostaddr=127.0.0.1 sslmode=verify-full sslrootcert=" + certs.path() + "/ca.crt");
    Program a = start(verified);
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as OP1 (encrypted)"), 10000);
    QCOMPARE(a.label("clubStatus")->statusTip(), QStringLiteral("The link to the club server is encrypted."));
    QVERIFY(a.boxes().isEmpty());
    a.w->findChild<QAction *>("actionClubServer")->trigger();
    a.w->findChild<ClubHub *>()->dialog()->findChild<QPushButton *>("clubTest")->click();
    QTRY_COMPARE_WITH_TIMEOUT(a.w->findChild<ClubHub *>()->dialog()->findChild<QLabel *>("clubResult")->text(),
                              QStringLiteral("Connected: the club server's schema is version %1.\n"
                                             "The link is encrypted.")
                                  .arg(ServerSchema::Version),
                              10000);

    // A certificate another CA signed is refused.
    runtimes.clear();
    Program b = start(conninfo(tls, QStringLiteral("localhost"),
                               "hostaddr=127.0.0.1 sslmode=verify-full sslrootcert=" + certs.path() + "/other-ca.crt"));
    QTRY_COMPARE_WITH_TIMEOUT(b.boxes().size(), 1, 10000);
    QVERIFY2(b.boxes().first().startsWith(QLatin1String("The club server cannot be reached:\n")),
             qPrintable(b.boxes().first()));

    // A host elsewhere without a word on TLS gets it, and the link is up.
    runtimes.clear();
    Program c = start(conninfo(tls, QStringLiteral("0.0.0.0")));
    QTRY_COMPARE_WITH_TIMEOUT(c.status(), QStringLiteral("Club server: connected as OP1 (encrypted)"), 10000);
}

void TestClubLink::dialogBuildsTheString()
{
    // An older setting, one string: the fields are read out of it.
    Program a = start(QStringLiteral("host=old.example.org port=5433 dbname=club user=w7old sslmode=disable "
                                     "application_name=net"));
    a.w->resize(900, 600);
    a.w->move(100, 80);
    QAction *action = a.w->findChild<QAction *>(QStringLiteral("actionClubServer"));
    QVERIFY(action);
    action->trigger();
    ClubServerDialog *dialog = a.w->findChild<ClubHub *>()->dialog();
    QVERIFY(dialog->isVisible());
    const auto edit = [dialog](const char *name) { return dialog->findChild<QLineEdit *>(QLatin1String(name)); };
    QLineEdit *host = edit("clubHost");
    QLineEdit *port = edit("clubPort");
    QLineEdit *database = edit("clubDatabase");
    QLineEdit *user = edit("clubUser");
    QLineEdit *caFile = edit("clubCaFile");
    QLineEdit *raw = edit("clubConnection");
    auto *tlsBox = dialog->findChild<QComboBox *>(QStringLiteral("clubTls"));
    auto *browse = dialog->findChild<QPushButton *>(QStringLiteral("clubCaBrowse"));
    auto *advanced = dialog->findChild<QPushButton *>(QStringLiteral("clubAdvanced"));
    QVERIFY(host && port && database && user && caFile && raw && tlsBox && browse && advanced);
    // Each Alt key of the window reaches one field or button.
    QStringList letters;
    for (const QLabel *label : dialog->findChildren<QLabel *>()) {
        const qsizetype amp = label->text().indexOf(QLatin1Char('&'));
        if (amp < 0)
            continue;
        QVERIFY2(label->buddy(), qPrintable(label->text()));
        letters.append(label->text().mid(amp + 1, 1).toLower());
    }
    for (const QAbstractButton *button : dialog->findChildren<QAbstractButton *>()) {
        const qsizetype amp = button->text().indexOf(QLatin1Char('&'));
        if (amp >= 0)
            letters.append(button->text().mid(amp + 1, 1).toLower());
    }
    QCOMPARE(QSet<QString>(letters.begin(), letters.end()).size(), letters.size());
    QCOMPARE(host->text(), QStringLiteral("old.example.org"));
    QCOMPARE(port->text(), QStringLiteral("5433"));
    QCOMPARE(database->text(), QStringLiteral("club"));
    QCOMPARE(user->text(), QStringLiteral("w7old"));
    QCOMPARE(tlsBox->currentText(), QStringLiteral("Off"));
    QCOMPARE(tlsBox->count(), 3);
    QCOMPARE(dialog->focusWidget(), host);
    // The string under "Advanced", hidden until asked for.
    QVERIFY(!raw->isVisible());
    // Over the main window, and wide enough for its title.
    QVERIFY2((dialog->frameGeometry().center() - a.w->frameGeometry().center()).manhattanLength() <= 8,
             qPrintable(QStringLiteral("%1,%2 / %3,%4")
                            .arg(dialog->frameGeometry().center().x())
                            .arg(dialog->frameGeometry().center().y())
                            .arg(a.w->frameGeometry().center().x())
                            .arg(a.w->frameGeometry().center().y())));
    QVERIFY(dialog->width() >= dialog->fontMetrics().horizontalAdvance(dialog->windowTitle()) + 100);

    // Typed field by field: the string follows, its other settings kept.
    host->selectAll();
    QTest::keyClicks(host, QStringLiteral("club.example.org"));
    QCOMPARE(raw->text(), QStringLiteral("host=club.example.org port=5433 dbname=club user=w7old sslmode=disable "
                                         "application_name=net"));
    QTest::keyClick(tlsBox, Qt::Key_Down);
    QCOMPARE(tlsBox->currentText(), QStringLiteral("Required"));
    QVERIFY(raw->text().contains(QLatin1String(" sslmode=require ")));
    QVERIFY(!caFile->isEnabled());
    // Verifying the server: the CA file browsed for.
    a.rt->prompter.paths << certs.path() + "/ca.crt";
    QTest::keyClick(browse, Qt::Key_Space);
    QCOMPARE(a.rt->prompter.pathCaptions, QStringList{QStringLiteral("Open the Club Server's CA Certificate")});
    QCOMPARE(tlsBox->currentText(), QStringLiteral("Verify the server"));
    QCOMPARE(raw->text(), "host=club.example.org port=5433 dbname=club user=w7old sslmode=verify-full "
                          "application_name=net sslrootcert="
                              + certs.path() + "/ca.crt");

    // The string typed by hand fills the fields.
    QTest::keyClick(advanced, Qt::Key_Space);
    QVERIFY(raw->isVisible());
    raw->selectAll();
    QTest::keyClicks(raw, "host=localhost hostaddr=127.0.0.1 port=" + QString::number(tls.port())
                              + " dbname=trelvin user=op1");
    QCOMPARE(host->text(), QStringLiteral("localhost"));
    QCOMPARE(database->text(), QStringLiteral("trelvin"));
    QCOMPARE(tlsBox->currentText(), QStringLiteral("Off"));
    QCOMPARE(caFile->text(), QString());
    // Nothing chosen: the TLS follows the host.
    host->selectAll();
    QTest::keyClicks(host, QStringLiteral("club.example.org"));
    QCOMPARE(tlsBox->currentText(), QStringLiteral("Required"));
    QVERIFY(!raw->text().contains(QLatin1String("sslmode")));
    QVERIFY(!raw->text().contains(QLatin1String("hostaddr")));
    // Every field emptied: no club server.
    for (QLineEdit *field : {host, port, database, user}) {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
    }
    QCOMPARE(raw->text(), QString());

    // Enter saves what the fields say, under the key older copies read.
    QTest::keyClicks(host, QStringLiteral("localhost"));
    QTest::keyClicks(port, QString::number(tls.port()));
    QTest::keyClicks(database, QStringLiteral("trelvin"));
    QTest::keyClicks(user, QStringLiteral("op1"));
    tlsBox->setFocus();
    QTest::keyClick(tlsBox, Qt::Key_Down);
    QTest::keyClick(tlsBox, Qt::Key_Down);
    QCOMPARE(tlsBox->currentText(), QStringLiteral("Verify the server"));
    QTest::keyClicks(caFile, certs.path() + "/ca.crt");
    QTest::keyClick(caFile, Qt::Key_Return);
    QVERIFY(!dialog->isVisible());
    const QString saved = QStringLiteral("host=localhost port=%1 dbname=trelvin user=op1 sslmode=verify-full "
                                         "sslrootcert=%2/ca.crt")
                              .arg(tls.port())
                              .arg(certs.path());
    QFile ini(a.rt->settingsFile());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY2(ini.readAll().contains(saved.toUtf8()), qPrintable(saved));
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as OP1 (encrypted)"), 10000);
}

void TestClubLink::exitWithASilentLinkEndsAtOnce_data()
{
    QTest::addColumn<bool>("import");
    QTest::newRow("report filling") << false;
    QTest::newRow("call book import running") << true;
}

void TestClubLink::exitWithASilentLinkEndsAtOnce()
{
    QFETCH(bool, import);
    Proxy proxy(plain.port());
    // A call book in use, and a far bigger file to import over it.
    QTemporaryDir files;
    const QString small = files.filePath(QStringLiteral("small/l_amat.zip"));
    const QString big = files.filePath(QStringLiteral("l_amat.zip"));
    QVERIFY(QDir(files.path()).mkdir(QStringLiteral("small")));
    QVERIFY(writeLicences(small, 50));
    if (import)
        QVERIFY(writeLicences(big, 400000));
    QString callBook;
    QByteArray inUse;
    Program a =
        start(QStringLiteral("host=127.0.0.1 port=%1 dbname=trelvin user=op1").arg(proxy.port()), [&](Runtime &rt) {
            callBook = rt.dataPath() + "/" + QLatin1String(CallBook::FileName);
            const CallBook::ImportOutcome made = CallBook::runImport({small, callBook, QString()});
            if (made.status == CallBook::ImportOutcome::Done)
                CallBookStore::replace(made.fresh, callBook);
            inUse = fileBytes(callBook);
        });
    QVERIFY(!inUse.isEmpty());
    QVERIFY(QFile::exists(callBook));
    QTRY_VERIFY2_WITH_TIMEOUT(a.status() == QStringLiteral("Club server: connected as OP1 (not encrypted)"),
                              qPrintable(a.rt->readData(QStringLiteral("errorLog.txt"))), 10000);
    fillEntry(a.w, QStringLiteral("W7AAA"), QStringLiteral("Ann"), QStringLiteral("Ogden"), QString());
    QTest::keyClick(FORM(a.w, qso), Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(storeOf(a.w).journal().unsentCount(), 0, 5000);

    // A long log, filled into its report behind the first screen.
    QVERIFY(run(fileDb(a.w), QStringLiteral("BEGIN")));
    QVERIFY(run(fileDb(a.w),
                QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300000) "
                               "INSERT INTO log (id, date, time, status, call, name, city, state, comment) SELECT "
                               "NULL, '2401' || printf('%02d', 1 + i % 28), printf('%02d:%02d:%02d', i % 24, i % 60, "
                               "i % 59), '-', 'K' || i, 'Name ' || i, 'Ogden', 'UT', 'comment ' || i FROM n")));
    QVERIFY(run(fileDb(a.w), QStringLiteral("COMMIT")));

    // The far end goes silent; the worker is caught in a call on it.
    proxy.goSilent();
    QTest::qWait(1500);
    fillEntry(a.w, QStringLiteral("K7LATE"), QStringLiteral("Lee"), QStringLiteral("Provo"), QString());
    QTest::keyClick(FORM(a.w, qso), Qt::Key_Return);
    QVERIFY(storeOf(a.w).journal().unsentCount() > 0);

    ReportsController::inlineReportRows = 0;
    QSignalSpy first(reportFillOf(a.w), &ReportFill::firstScreen);
    FORM(a.w, actionShowTrelvin)->trigger();
    QVERIFY(first.wait(10000));
    QVERIFY(reportFillOf(a.w)->filling());
    if (import) {
        // It takes the status bar's job; the report waits for it.
        a.rt->prompter.paths << big;
        FORM(a.w, actionLoadFccCallBook)->trigger();
        // A quiet machine imports a small file in a blink: exit comes at once.
        QVERIFY(a.w->findChild<CallBookLoader *>()->importJob()
                && a.w->findChild<CallBookLoader *>()->importJob()->running());
    }

    QElapsedTimer clock;
    clock.start();
    {
        const Watchdog watchdog(20, "File > Exit");
        FORM(a.w, actionExit)->trigger();
        a.rt->stop();
    }
    const qint64 took = clock.elapsed();
    ReportsController::inlineReportRows = 5'000;
    QVERIFY2(took < 3000, qPrintable(QStringLiteral("exit took %1 ms").arg(took)));

    // The check-in the server never got waits in the journal for the next run.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("after-exit"));
        db.setDatabaseName(a.rt->dataPath() + "/Contacts.db");
        QVERIFY(db.open());
        QCOMPARE(column(db, QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
        QVERIFY(!column(db, QStringLiteral("SELECT count(*) FROM journal WHERE sent = 0 AND call = 'K7LATE'"))
                     .contains(QStringLiteral("0")));
        QCOMPARE(column(db, QStringLiteral("SELECT count(*) FROM log")), QStringList{QStringLiteral("300002")});
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("after-exit"));
    // The call book in use is whole, and no half-made one is left.
    QCOMPARE(fileBytes(callBook), inUse);
    QVERIFY(!QFile::exists(callBook + ".new"));
    // The stuck call returns once the link really ends.
    proxy.close();
    QTest::qWait(200);
}

void TestClubLink::cancelledReportStopsReading()
{
    Program a = start(QString());
    QVERIFY(run(fileDb(a.w),
                QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
                               "INSERT INTO log (id, date, time, call) SELECT NULL, '240101', "
                               "printf('%02d:%02d:%02d', i % 24, i % 60, i % 59), 'K' || i FROM n")));
    // Each row takes a little time, so that the whole read lasts seconds.
    auto visited = std::make_shared<std::atomic<qint64>>(0);
    ReportFill::Request request;
    request.window = reportsOf(a.w)->wholeLogWindow();
    request.name = QStringLiteral("the net log report");
    request.contactsPath = storeOf(a.w).contactsDb().databaseName();
    request.expectedLines = 200000;
    request.body = [visited](const Storage &from, QString &text, const std::function<void()> &added) {
        qint64 count = 0;
        from.netLog().eachLogRow([&](const LogRowView &row) {
            text += QString::fromUtf8(row.call.toByteArray()) + QLatin1Char('\n');
            if (++*visited % 100 == 0)
                QThread::usleep(500);
            ++count;
            added();
        });
        return count;
    };
    QSignalSpy first(reportFillOf(a.w), &ReportFill::firstScreen);
    reportFillOf(a.w)->request(request);
    QVERIFY(first.wait(10000));
    QElapsedTimer clock;
    clock.start();
    reportFillOf(a.w)->stopAll();
    const qint64 at = *visited;
    QVERIFY2(at < 100000, qPrintable(QString::number(at)));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!bulkJobOf(a.w)->running());
}

QTEST_MAIN(TestClubLink)
#include "tst_clublink.moc"
