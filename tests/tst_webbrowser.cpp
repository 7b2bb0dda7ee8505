// The live net page in a real browser: Debian's chromium driven by
// puppeteer-core (tests/web/browser.mjs), against a throwaway club server
// and a trelvin-web of the test's own. The script asks for each change; this
// side makes it as a program's storage would, or restarts a server.

#include "clubjournal.h"

#include "checkin/netrules.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

class TestWebBrowser : public QObject {
    Q_OBJECT

private slots:
    void pageFollowsTheNetLive();

private:
    QString startWeb();
    // puppeteer-core, as the lock file pins it, under the build folder; empty when there.
    QString installPuppeteer();
    // What the script asked for; false when it cannot be done.
    bool perform(const QString &what);

    ClubJournal club;
    QProcess web;
    quint16 port = 0;
    QString net;
};

QString TestWebBrowser::startWeb()
{
    port = port ? port : quint16(PgServer::closedPort());
    web.setProcessChannelMode(QProcess::ForwardedChannels);
    web.start(QStringLiteral(TRELVIN_WEB),
              {QStringLiteral("--config"), QStringLiteral("/dev/null"), QStringLiteral("--club"), club.webConninfo(),
               QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port)});
    if (!web.waitForStarted(5000))
        return QStringLiteral("trelvin-web did not start");
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (probe.waitForConnected(200))
            return QString();
        QTest::qWait(100);
    }
    return QStringLiteral("trelvin-web does not answer");
}

QString TestWebBrowser::installPuppeteer()
{
    const QString dir = QStringLiteral(TRELVIN_WEB_TEST_DIR);
    QDir().mkpath(dir);
    const QString source = QStringLiteral(TRELVIN_SOURCE_DIR "/tests/web/");
    for (const char *name : {"package.json", "package-lock.json", "browser.mjs"}) {
        QFile::remove(dir + '/' + QLatin1String(name));
        if (!QFile::copy(source + QLatin1String(name), dir + '/' + QLatin1String(name)))
            return QStringLiteral("cannot copy ") + QLatin1String(name);
    }
    if (QFile::exists(dir + QStringLiteral("/node_modules/puppeteer-core/package.json")))
        return QString();
    QProcess npm;
    npm.setWorkingDirectory(dir);
    npm.setProcessChannelMode(QProcess::MergedChannels);
    npm.start(QStringLiteral("npm"), {QStringLiteral("ci"), QStringLiteral("--no-audit"), QStringLiteral("--no-fund")});
    if (!npm.waitForFinished(300000) || npm.exitCode() != 0)
        return QStringLiteral("npm ci failed: ") + QString::fromLocal8Bit(npm.readAll());
    return QString();
}

bool TestWebBrowser::perform(const QString &what)
{
    using namespace NetRules;
    if (what == QLatin1String("checkin"))
        return club.send({club.entry(net, QStringLiteral("K7NEW"), CheckedIn, QStringLiteral("Ned"))}).isEmpty();
    if (what == QLatin1String("withdraw"))
        return club.send({club.entry(net, QStringLiteral("K7NEW"), 0, QStringLiteral("Ned"))}).isEmpty();
    if (what == QLatin1String("role"))
        return club
            .send({club.entry(net, QStringLiteral("K7XSS"), CheckedIn | Relay, QStringLiteral("<b>x</b>&'\""),
                              QStringLiteral("Boise"), QStringLiteral("ID"))})
            .isEmpty();
    if (what == QLatin1String("restart-web")) {
        web.terminate();
        web.waitForFinished(5000);
        // A check-in the page can only have by catching up.
        return club.send({club.entry(net, QStringLiteral("K7GAP"), CheckedIn)}).isEmpty() && startWeb().isEmpty();
    }
    if (what == QLatin1String("stop-pg")) {
        club.server().stop();
        return true;
    }
    if (what == QLatin1String("start-pg"))
        return club.server().restart().isEmpty();
    if (what == QLatin1String("checkin-after"))
        return club.send({club.entry(net, QStringLiteral("K7BACK"), CheckedIn)}).isEmpty();
    return false;
}

void TestWebBrowser::pageFollowsTheNetLive()
{
    QString failure = club.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(club.server().admin(QStringLiteral("INSERT INTO trelvin_meta VALUES ('club_club', 'ARC')")), QString());
    net = club.openNet(QStringLiteral("W7NCS"));
    using namespace NetRules;
    QCOMPARE(club.send({club.entry(net, QStringLiteral("W7NCS"), Ncs | CheckedIn, QStringLiteral("Nora"),
                                   QStringLiteral("Ogden"), QStringLiteral("UT")),
                        club.entry(net, QStringLiteral("K7XSS"), CheckedIn, QStringLiteral("<b>x</b>&'\""),
                                   QStringLiteral("Boise"), QStringLiteral("ID"))}),
             QString());
    failure = startWeb();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    failure = installPuppeteer();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    QProcess node;
    node.setWorkingDirectory(QStringLiteral(TRELVIN_WEB_TEST_DIR));
    node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    node.start(QStringLiteral("node"),
               {QStringLiteral("browser.mjs"), QStringLiteral("http://127.0.0.1:%1").arg(port), net});
    QVERIFY(node.waitForStarted(10000));
    QStringList said;
    QElapsedTimer clock;
    clock.start();
    while (node.state() == QProcess::Running && clock.elapsed() < 240000) {
        if (!node.canReadLine() && !node.waitForReadyRead(100))
            continue;
        while (node.canReadLine()) {
            const QString line = QString::fromUtf8(node.readLine()).trimmed();
            said.append(line);
            qInfo().noquote() << "browser:" << line;
            if (line.startsWith(QLatin1String("ask ")))
                node.write(perform(line.mid(4)) ? "done\n" : "failed\n");
        }
    }
    node.waitForFinished(10000);
    const QString rest = QString::fromUtf8(node.readAll()).trimmed();
    if (!rest.isEmpty())
        said.append(rest);
    web.terminate();
    web.waitForFinished(5000);
    if (node.exitCode() == 77)
        QSKIP(qPrintable(said.join(QLatin1Char('\n'))));
    QVERIFY2(node.exitStatus() == QProcess::NormalExit && node.exitCode() == 0, qPrintable(said.join('\n')));
    QVERIFY(said.contains(QStringLiteral("PASS")));
}

QTEST_GUILESS_MAIN(TestWebBrowser)
#include "tst_webbrowser.moc"
