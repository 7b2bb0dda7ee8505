#include "pgserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>

#include <unistd.h>

namespace {

// Debian keeps the server's programs off PATH, one folder per major version.
QString serverBin()
{
    const QByteArray env = qgetenv("TRELVIN_PG_BIN");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    QDir lib(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &version : versions) {
        const QString bin = lib.filePath(version + "/bin");
        if (QFile::exists(bin + "/initdb") && QFile::exists(bin + "/pg_ctl"))
            return bin;
    }
    return QString();
}

QString runOpenssl(const QString &dir, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return "openssl " + arguments.join(' ') + ": " + QString::fromLocal8Bit(process.readAll());
    return QString();
}

} // namespace

PgServer::PgServer() = default;

QString PgServer::makeCertificates(const QString &dir, const QString &ca)
{
    const QStringList key{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                          QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    QString failure = runOpenssl(
        dir, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + key
                 + QStringList{QStringLiteral("-keyout"), ca + ".key", QStringLiteral("-out"), ca + ".crt",
                               QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                               "/CN=Trelvin test " + ca, QStringLiteral("-addext"),
                               QStringLiteral("basicConstraints=critical,CA:TRUE"), QStringLiteral("-addext"),
                               QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")});
    if (failure.isEmpty() && ca == QLatin1String("ca")) {
        QFile extensions(dir + "/server.ext");
        extensions.open(QIODevice::WriteOnly);
        extensions.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n");
        extensions.close();
        failure = runOpenssl(dir, QStringList{QStringLiteral("req")} + key
                                      + QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"),
                                                    QStringLiteral("-out"), QStringLiteral("server.csr"),
                                                    QStringLiteral("-subj"), QStringLiteral("/CN=localhost")});
        if (failure.isEmpty())
            failure =
                runOpenssl(dir, {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                                 QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.crt"),
                                 QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
                                 QStringLiteral("-out"), QStringLiteral("server.crt"), QStringLiteral("-days"),
                                 QStringLiteral("2"), QStringLiteral("-extfile"), QStringLiteral("server.ext")});
    }
    return failure;
}

void PgServer::setTls(const QString &certificate, const QString &key)
{
    tlsCertificate = certificate;
    tlsKey = key;
}

QString PgServer::setTlsFrom(const QString &certsDir)
{
    const QDir certs(certsDir);
    QFile chain(certs.filePath(QStringLiteral("chain.crt")));
    if (!chain.open(QIODevice::WriteOnly))
        return chain.errorString();
    for (const char *name : {"server.crt", "ca.crt"}) {
        QFile part(certs.filePath(QLatin1String(name)));
        if (!part.open(QIODevice::ReadOnly))
            return part.fileName() + ": " + part.errorString();
        chain.write(part.readAll());
    }
    chain.close();
    setTls(chain.fileName(), certs.filePath(QStringLiteral("server.key")));
    return QString();
}

PgServer::~PgServer()
{
    stop();
}

int PgServer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return port;
}

QString PgServer::socketDir() const
{
    return dir ? dir->path() : QString();
}

QString PgServer::conninfo(const QString &user, const QString &db) const
{
    return QStringLiteral("host=127.0.0.1 port=%1 dbname=%2 user=%3").arg(serverPort).arg(db, user);
}

QString PgServer::run(const QString &program, const QStringList &arguments, int timeoutMs) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // The server must not inherit the test's locale or libpq settings.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.remove(QStringLiteral("PGPASSFILE"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir->path());
    if (asNobody) {
        process.start(QStringLiteral("setpriv"),
                      QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                  QStringLiteral("--clear-groups"), bin + "/" + program}
                          + arguments);
    } else {
        process.start(bin + "/" + program, arguments);
    }
    if (!process.waitForStarted())
        return program + " did not start: " + process.errorString();
    if (!process.waitForFinished(timeoutMs))
        return program + " did not finish";
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + " failed: " + QString::fromLocal8Bit(process.readAll());
    return QString();
}

QString PgServer::start()
{
    bin = serverBin();
    if (bin.isEmpty())
        return QStringLiteral("No PostgreSQL server found in /usr/lib/postgresql (package postgresql-15)");
    // A short path: a Unix socket's name is limited to about 100 bytes.
    dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/trelvin-pg-XXXXXX"));
    if (!dir->isValid())
        return QStringLiteral("No temporary directory");
    asNobody = geteuid() == 0;
    if (asNobody) {
        QProcess chown;
        chown.start(QStringLiteral("chown"), {QStringLiteral("nobody:nogroup"), dir->path()});
        if (!chown.waitForFinished() || chown.exitCode() != 0)
            return QStringLiteral("chown of the server's directory failed");
    }
    const QString data = dir->path() + "/data";
    QString failure =
        run(QStringLiteral("initdb"),
            {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("admin"),
             QStringLiteral("--auth-local=trust"), QStringLiteral("--auth-host=trust"), QStringLiteral("--no-sync"),
             QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C")});
    if (!failure.isEmpty())
        return failure;
    // The administrator without a password, every other role with one.
    QFile hba(data + "/pg_hba.conf");
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("pg_hba.conf cannot be written");
    hba.write("local all admin trust\n"
              "host all admin 127.0.0.1/32 trust\n"
              "local all all scram-sha-256\n"
              "host all all 127.0.0.1/32 scram-sha-256\n");
    hba.close();
    if (!tlsCertificate.isEmpty()) {
        // The server insists on a key file only its own user can read.
        for (const auto &[from, to] : {std::pair{tlsCertificate, QStringLiteral("server.crt")},
                                       std::pair{tlsKey, QStringLiteral("server.key")}}) {
            const QString target = data + "/" + to;
            QFile::remove(target);
            if (!QFile::copy(from, target))
                return "The TLS file " + from + " cannot be copied";
            QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
            if (asNobody) {
                QProcess chown;
                chown.start(QStringLiteral("chown"), {QStringLiteral("nobody:nogroup"), target});
                if (!chown.waitForFinished() || chown.exitCode() != 0)
                    return QStringLiteral("chown of the server's TLS files failed");
            }
        }
        QFile conf(data + "/postgresql.conf");
        if (!conf.open(QIODevice::Append))
            return QStringLiteral("postgresql.conf cannot be written");
        conf.write("ssl = on\nssl_cert_file = 'server.crt'\nssl_key_file = 'server.key'\n");
    }
    serverPort = closedPort();
    return restart();
}

QString PgServer::restart()
{
    if (!dir)
        return QStringLiteral("Not started");
    // No sync to disk (only a crash of the machine could lose data), but a
    // commit is in the log before it is answered: a stop in the middle of a
    // test, as a crash of the server, loses nothing that was acknowledged.
    const QString options = QStringLiteral("-c listen_addresses=127.0.0.1 -c port=%1 -c unix_socket_directories=%2 "
                                           "-c fsync=off -c full_page_writes=off")
                                .arg(serverPort)
                                .arg(dir->path());
    const QString failure =
        run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dir->path() + "/data", QStringLiteral("-l"),
                                       dir->path() + "/server.log", QStringLiteral("-o"), options, QStringLiteral("-w"),
                                       QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("start")});
    up = failure.isEmpty();
    return failure;
}

void PgServer::stop()
{
    if (!up || !dir)
        return;
    run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dir->path() + "/data", QStringLiteral("-m"),
                                   QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
    up = false;
}

QString PgServer::admin(const QString &sql, const QString &db) const
{
    static int count = 0;
    const QString name = QStringLiteral("pg-admin-%1").arg(++count);
    QString failure;
    {
        QSqlDatabase conn = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        conn.setConnectOptions(conninfo(QStringLiteral("admin"), db));
        if (!conn.open()) {
            failure = conn.lastError().text();
        } else {
            QSqlQuery query(conn);
            if (!query.exec(sql))
                failure = query.lastError().text();
            conn.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return failure;
}

QString PgServer::resetDatabase(const QString &db)
{
    QString failure = admin("DROP DATABASE IF EXISTS " + db + " WITH (FORCE)", QStringLiteral("postgres"));
    if (failure.isEmpty())
        failure = admin(QStringLiteral("DO $$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'club') "
                                       "THEN CREATE ROLE club NOLOGIN; END IF; IF NOT EXISTS (SELECT 1 FROM "
                                       "pg_roles WHERE rolname = 'trelvin_member') THEN CREATE ROLE trelvin_member "
                                       "NOLOGIN; END IF; END $$"),
                        QStringLiteral("postgres"));
    if (failure.isEmpty())
        failure = admin("CREATE DATABASE " + db + " OWNER club", QStringLiteral("postgres"));
    return failure;
}

QString PgServer::addOperator(const QString &user, const QString &password)
{
    return admin(QStringLiteral("DO $$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '%1') THEN "
                                "CREATE ROLE %1 LOGIN PASSWORD '%2' IN ROLE club; END IF; END $$")
                     .arg(user, password),
                 QStringLiteral("postgres"));
}

QString PgServer::addMember(const QString &user, const QString &password)
{
    return admin(
        QStringLiteral("DO $$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'trelvin_member') "
                       "THEN CREATE ROLE trelvin_member NOLOGIN; END IF; IF NOT EXISTS (SELECT 1 FROM pg_roles "
                       "WHERE rolname = '%1') THEN CREATE ROLE %1 LOGIN PASSWORD '%2' IN ROLE trelvin_member; "
                       "END IF; END $$")
            .arg(user, password),
        QStringLiteral("postgres"));
}

QString PgServer::clubLinkIn(const QString &out)
{
    static const QRegularExpression line(QStringLiteral("^trelvin-club://\\S+$"), QRegularExpression::MultilineOption);
    return line.match(out).captured(0);
}
