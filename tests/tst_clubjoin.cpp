// Operators join the club server with the links trelvin-club makes: pasted
// into Setup > Club Server..., against a throwaway PostgreSQL with TLS.

#include "pgserver.h"
#include "testsupport.h"

#include "app/trelvin.h"
#include "dialogs/clubserver.h"
#include "secrets/secretstore.h"
#include "sync/clubhub.h"
#include "sync/clubinvite.h"
#include "sync/clubjoin.h"
#include "ui_trelvin.h"

#include <QAction>
#include <QClipboard>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSslCertificate>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QString BoxTitle = QStringLiteral("Club Server");

struct Program {
    Runtime *rt = nullptr;
    Trelvin *w = nullptr;

    ClubHub *hub() const { return w->findChild<ClubHub *>(QStringLiteral("clubHub")); }
    QString label(const char *name) const
    {
        const QLabel *field = w->findChild<QLabel *>(QLatin1String(name));
        return field->isHidden() ? QString() : field->text();
    }
    // What the status bar says of the club server, as the operator reads it.
    QString status() const { return label("clubStatus"); }
    QWidget *dialogPart(const char *name) const { return hub()->dialog()->findChild<QWidget *>(QLatin1String(name)); }
    void openDialog() const { w->findChild<QAction *>(QStringLiteral("actionClubServer"))->trigger(); }
    // Pasted as an operator pastes: Ctrl+V into the link field.
    void paste(const QString &link) const
    {
        openDialog();
        QGuiApplication::clipboard()->setText(link);
        auto *field = static_cast<QLineEdit *>(dialogPart("clubLinkPaste"));
        field->setFocus();
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    }
    // Typed and joined with the button.
    void typeAndJoin(const QString &link) const
    {
        openDialog();
        static_cast<QLineEdit *>(dialogPart("clubLinkPaste"))->clear();
        QTest::keyClicks(dialogPart("clubLinkPaste"), link);
        static_cast<QPushButton *>(dialogPart("clubJoin"))->click();
    }
    void checkIn(const QString &call, const QString &name)
    {
        fillEntry(w, call, name, QStringLiteral("Ogden"), QString());
        QTest::keyClick(FORM(w, qso), Qt::Key_Return);
    }
    QStringList net() const
    {
        QStringList calls = column(storeOf(w).contactsDb(), QStringLiteral("SELECT call FROM net"));
        calls.sort();
        return calls;
    }
    QStringList boxes() const
    {
        QStringList texts;
        for (const ScriptedPrompter::Call &call : rt->prompter.calls)
            if (call.title == BoxTitle)
                texts << call.text;
        return texts;
    }
    QString setting() const
    {
        QSettings settings(rt->settingsFile(), QSettings::IniFormat);
        return settings.value(QStringLiteral("Main/ClubServer")).toString();
    }
};

} // namespace

class TestClubJoin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void linksJoinTwoProgramsThatShareTheNet();
    void aRemovedOperatorIsToldAndGoesOnAlone();
    void aRotatedLinkIsRefused();
    void anAuthorityThatDoesNotMatchIsRefused();

private:
    Program start();
    // trelvin-club's standard output; fails the test when it fails.
    QString tool(const QStringList &arguments);
    QString digest(const char *file) const;

    PgServer server;
    QTemporaryDir certs;
    QString adminInfo;
    std::vector<std::unique_ptr<Runtime>> runtimes;
};

void TestClubJoin::initTestCase()
{
    // Never the operator's own libpq password file.
    qputenv("PGPASSFILE", certs.filePath(QStringLiteral("no-pgpass")).toLocal8Bit());
    QCOMPARE(PgServer::makeCertificates(certs.path(), QStringLiteral("ca")), QString());
    QCOMPARE(PgServer::makeCertificates(certs.path(), QStringLiteral("other-ca")), QString());
    QCOMPARE(server.setTlsFrom(certs.path()), QString());
    const QString failure = server.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    adminInfo = server.conninfo(QStringLiteral("admin"), QStringLiteral("postgres"));
    const QString made = tool({QStringLiteral("init"), QStringLiteral("--club"), QStringLiteral("ARC"),
                               QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--ca"),
                               certs.filePath(QStringLiteral("ca.crt")), QStringLiteral("--admin"), adminInfo});
    QVERIFY2(!made.isEmpty(), "trelvin-club init failed");
}

void TestClubJoin::cleanupTestCase()
{
    server.stop();
}

void TestClubJoin::cleanup()
{
    while (!runtimes.empty())
        runtimes.pop_back();
}

Program TestClubJoin::start()
{
    runtimes.push_back(std::make_unique<Runtime>());
    Program program;
    program.rt = runtimes.back().get();
    program.rt->installInfo(QStringLiteral("State_Info.csv"));
    program.rt->addEmptyRoster();
    program.w = program.rt->start();
    return program;
}

QString TestClubJoin::tool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(TRELVIN_CLUBTOOL), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning().noquote() << arguments.first() << "failed:" << process.readAllStandardError();
        return QString();
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString TestClubJoin::digest(const char *file) const
{
    return QString::fromLatin1(QSslCertificate::fromPath(certs.filePath(QLatin1String(file)))
                                   .value(0)
                                   .digest(QCryptographicHash::Sha256)
                                   .toHex());
}

void TestClubJoin::linksJoinTwoProgramsThatShareTheNet()
{
    const QString first = PgServer::clubLinkIn(
        tool({QStringLiteral("add-operator"), QStringLiteral("N7NCS"), QStringLiteral("--admin"), adminInfo}));
    const QString second = PgServer::clubLinkIn(
        tool({QStringLiteral("add-operator"), QStringLiteral("W7ABC"), QStringLiteral("--admin"), adminInfo}));
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    QVERIFY(first.contains(QStringLiteral("?ca=sha256:") + digest("ca.crt")));

    // One program after the other: the settings store follows the last runtime made.
    Program a = start();
    a.paste(first);
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as N7NCS (encrypted)"), 15000);
    Program b = start();
    b.typeAndJoin(second);
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), QStringLiteral("Club server: connected as W7ABC (encrypted)"), 15000);
    QVERIFY(a.hub()->dialog()->isHidden());
    QCOMPARE(a.boxes(), QStringList());

    // The server is verified against the authority the link pinned; the
    // password is in no file.
    const QString kept = a.rt->dataPath() + '/' + QLatin1String(ClubJoin::AuthorityFile);
    QCOMPARE(QSslCertificate::fromPath(kept).value(0).digest(QCryptographicHash::Sha256).toHex(),
             digest("ca.crt").toLatin1());
    QVERIFY2(a.setting().contains(QStringLiteral("sslmode=verify-full")), qPrintable(a.setting()));
    QVERIFY(a.setting().contains(QStringLiteral("user=n7ncs")));
    const QString password = ClubInvite::parse(first)->password;
    QFile settingsFile(a.rt->settingsFile());
    QVERIFY(settingsFile.open(QIODevice::ReadOnly));
    QVERIFY(!settingsFile.readAll().contains(password.toUtf8()));
    // The link's password does not stay on the screen either.
    QCOMPARE(static_cast<QLineEdit *>(a.dialogPart("clubLinkPaste"))->text(), QString());

    a.checkIn(QStringLiteral("W1AW"), QStringLiteral("Hiram"));
    QTRY_COMPARE_WITH_TIMEOUT(b.net(), QStringList{QStringLiteral("W1AW")}, 10000);
    b.checkIn(QStringLiteral("K7ABC"), QStringLiteral("Ann"));
    QTRY_COMPARE_WITH_TIMEOUT(a.net(), (QStringList{QStringLiteral("K7ABC"), QStringLiteral("W1AW")}), 10000);

    if (qEnvironmentVariableIsSet("TRELVIN_TEST_KEYRING")) {
        // The keyring kept the password: the next start needs no link.
        SecretStore keyring;
        QSignalSpy answer(&keyring, &SecretStore::readFinished);
        keyring.read(ClubHub::secretKey(a.setting()));
        QVERIFY(answer.wait(10000));
        QCOMPARE(answer.first().at(1).toString(), password);
        // The second program goes first: the working folder and settings
        // store are the first's again.
        runtimes.pop_back();
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, a.rt->path() + "/settings");
        Prompter::setInstance(&a.rt->prompter);
        a.w = a.rt->start();
        QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as N7NCS (encrypted)"), 15000);
        QCOMPARE(a.boxes(), QStringList());
    } else {
        // Without a keyring the operator is told the password serves this run only.
        QTRY_VERIFY_WITH_TIMEOUT(
            a.rt->readData(QStringLiteral("errorLog.txt"))
                .contains(QStringLiteral("the club server's password for n7ncs@127.0.0.1:%1/trelvin "
                                         "serves this run only")
                              .arg(server.port())),
            10000);
    }
}

void TestClubJoin::aRemovedOperatorIsToldAndGoesOnAlone()
{
    const QString staying = PgServer::clubLinkIn(
        tool({QStringLiteral("add-operator"), QStringLiteral("KD7AAA"), QStringLiteral("--admin"), adminInfo}));
    const QString leaving = PgServer::clubLinkIn(
        tool({QStringLiteral("add-operator"), QStringLiteral("KD7BBB"), QStringLiteral("--admin"), adminInfo}));
    Program a = start();
    a.paste(staying);
    Program b = start();
    b.paste(leaving);
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as KD7AAA (encrypted)"), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), QStringLiteral("Club server: connected as KD7BBB (encrypted)"), 15000);

    QVERIFY(!tool({QStringLiteral("remove-operator"), QStringLiteral("KD7BBB"), QStringLiteral("--admin"), adminInfo})
                 .isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(b.boxes(),
                              QStringList{QStringLiteral("Your club server no longer accepts KD7BBB: ask the club's "
                                                         "administrator for a new link")},
                              15000);
    // The net goes on here alone, nothing lost; the other program goes on with the server.
    b.checkIn(QStringLiteral("N7LOC"), QStringLiteral("Lou"));
    const QStringList alone = b.net();
    QVERIFY(alone.contains(QStringLiteral("N7LOC")));
    QVERIFY2(b.status().startsWith(QStringLiteral("Club server: offline, ")), qPrintable(b.status()));
    a.checkIn(QStringLiteral("W7KEY"), QStringLiteral("Kay"));
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as KD7AAA (encrypted)"), 10000);
    QCOMPARE(a.boxes(), QStringList());
    QTRY_VERIFY_WITH_TIMEOUT(!a.net().contains(QStringLiteral("N7LOC")), 100);
    QTest::qWait(1000);
    QCOMPARE(b.net(), alone);
    QVERIFY(!a.net().contains(QStringLiteral("N7LOC")));
    QCOMPARE(b.boxes().size(), 1);
}

void TestClubJoin::aRotatedLinkIsRefused()
{
    const QString old = PgServer::clubLinkIn(
        tool({QStringLiteral("add-operator"), QStringLiteral("KF7OLD"), QStringLiteral("--admin"), adminInfo}));
    Program a = start();
    a.paste(old);
    QTRY_COMPARE_WITH_TIMEOUT(a.status(), QStringLiteral("Club server: connected as KF7OLD (encrypted)"), 15000);

    const QString fresh = PgServer::clubLinkIn(
        tool({QStringLiteral("rotate"), QStringLiteral("KF7OLD"), QStringLiteral("--admin"), adminInfo}));
    QVERIFY(!fresh.isEmpty() && fresh != old);
    // The running link is ended and its password no longer opens one: told, not asked.
    QTRY_COMPARE_WITH_TIMEOUT(a.boxes().size(), 1, 15000);
    QVERIFY2(a.boxes().first().startsWith(QStringLiteral("The club server refused the log-in:\n")),
             qPrintable(a.boxes().first()));
    QVERIFY(!a.status().contains(QStringLiteral("connected")));

    Program c = start();
    c.paste(old);
    QTRY_COMPARE_WITH_TIMEOUT(c.boxes().size(), 1, 15000);
    QVERIFY(c.boxes().first().contains(QStringLiteral("password authentication failed")));
    c.paste(fresh);
    QTRY_COMPARE_WITH_TIMEOUT(c.status(), QStringLiteral("Club server: connected as KF7OLD (encrypted)"), 15000);
}

void TestClubJoin::anAuthorityThatDoesNotMatchIsRefused()
{
    std::optional<ClubInvite::Link> link = ClubInvite::parse(PgServer::clubLinkIn(
        tool({QStringLiteral("add-operator"), QStringLiteral("AB7CA"), QStringLiteral("--admin"), adminInfo})));
    QVERIFY(link);
    link->caSha256 = digest("other-ca.crt");
    Program a = start();
    a.paste(ClubInvite::make(*link));
    QTRY_COMPARE_WITH_TIMEOUT(a.boxes().size(), 1, 15000);
    const QString box = a.boxes().first();
    QVERIFY2(box.startsWith(QStringLiteral("The club link cannot be used:\nThe club server 127.0.0.1 does not show "
                                           "the certificate authority the club link names.\nThe link names:   sha256 ")
                            + digest("other-ca.crt")),
             qPrintable(box));
    QVERIFY(box.contains(digest("ca.crt")));
    // Nothing was changed: no setting, no authority kept, no link.
    QCOMPARE(a.setting(), QString());
    QVERIFY(!QFile::exists(a.rt->dataPath() + '/' + QLatin1String(ClubJoin::AuthorityFile)));
    QCOMPARE(a.status(), QString());
    QVERIFY(a.hub()->dialog()->isVisible());
    QVERIFY(static_cast<QLabel *>(a.dialogPart("clubResult"))->text().startsWith(QStringLiteral("Not joined: ")));

    // A link that cannot be read is refused at once, saying why.
    a.rt->prompter.clear();
    a.typeAndJoin(QStringLiteral("trelvin-club://nothing"));
    QCOMPARE(a.boxes().size(), 1);
    QVERIFY(a.boxes().first().startsWith(QStringLiteral("The club link cannot be used:\n")));
}

QTEST_MAIN(TestClubJoin)
#include "tst_clubjoin.moc"
