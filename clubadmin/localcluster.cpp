#include "clubadmin/localcluster.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QSaveFile>
#include <QSslCertificate>
#include <QTemporaryDir>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LocalCluster {
namespace {

constexpr char HbaMarker[] = "# trelvin-club: the club's roles, over TLS with a password only";

ServerAdmin::Result failed(const QString &problem, const QStringList &done = {})
{
    ServerAdmin::Result result;
    result.problem = problem;
    result.done = done;
    return result;
}

QString sha256(const QSslCertificate &certificate)
{
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex());
}

QList<QSslCertificate> certificatesIn(const QString &file)
{
    QFile pem(file);
    if (!pem.open(QIODevice::ReadOnly))
        return {};
    return QSslCertificate::fromData(pem.read(1 << 20), QSsl::Pem);
}

bool selfSigned(const QSslCertificate &certificate)
{
    return certificate.issuerDisplayName() == certificate.subjectDisplayName()
           && certificate.issuerInfo(QSslCertificate::CommonName)
                  == certificate.subjectInfo(QSslCertificate::CommonName);
}

// Whether the certificate is good now and names `host` as libpq checks it.
bool names(const QSslCertificate &certificate, const QString &host)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (certificate.isNull() || certificate.effectiveDate() > now || certificate.expiryDate() < now)
        return false;
    const QMultiMap<QSsl::AlternativeNameEntryType, QString> alternatives = certificate.subjectAlternativeNames();
    const QHostAddress address(host);
    if (!address.isNull())
        return alternatives.values(QSsl::IpAddressEntry).contains(address.toString());
    for (const QString &name : alternatives.values(QSsl::DnsEntry)) {
        if (name.compare(host, Qt::CaseInsensitive) == 0)
            return true;
        if (name.startsWith(QLatin1String("*.")) && host.indexOf(QLatin1Char('.')) > 0
            && host.mid(host.indexOf(QLatin1Char('.'))).compare(name.mid(1), Qt::CaseInsensitive) == 0)
            return true;
    }
    return alternatives.isEmpty() && certificate.subjectInfo(QSslCertificate::CommonName).contains(host);
}

QString openssl(const QStringList &arguments, const QString &directory)
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForStarted())
        return QStringLiteral("openssl is not installed: apt-get install openssl");
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return "openssl failed: " + QString::fromLocal8Bit(process.readAll()).simplified();
    return QString();
}

// The server's files belong to the account it runs as.
bool giveToPostgres(const QString &file, mode_t mode)
{
    const passwd *postgres = getpwnam("postgres");
    if (!postgres)
        return false;
    const QByteArray path = QFile::encodeName(file);
    return chown(path.constData(), postgres->pw_uid, postgres->pw_gid) == 0 && chmod(path.constData(), mode) == 0;
}

bool writeFile(const QString &file, const QByteArray &data, QString *problem)
{
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit()) {
        *problem = file + ": " + out.errorString();
        return false;
    }
    return true;
}

// A club authority in `dir` (made once), and a server certificate for
// `host` signed by it, with the authority after it so that a program can
// fetch it on its first connection.
QString makeCertificates(const QString &dir, const QString &host, const QString &club, QStringList *done)
{
    const QString caCert = dir + QStringLiteral("/club-ca.crt");
    const QString caKey = dir + QStringLiteral("/club-ca.key");
    QTemporaryDir work(dir + QStringLiteral("/.make-XXXXXX"));
    if (!work.isValid())
        return dir + QStringLiteral(" cannot take the certificates' work files.");
    QString failure;
    if (!QFile::exists(caCert) || !QFile::exists(caKey)) {
        // Made beside, then renamed in: a failed run leaves no half authority.
        failure =
            openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                     QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                     QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("3650"),
                     QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                     QStringLiteral("ca.crt"), QStringLiteral("-subj"), "/CN=" + club + " club authority",
                     QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                     QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")},
                    work.path());
        if (!failure.isEmpty())
            return failure;
        QFile::setPermissions(work.filePath(QStringLiteral("ca.key")), QFile::ReadOwner | QFile::WriteOwner);
        QFile::remove(caKey);
        QFile::remove(caCert);
        if (!QFile::rename(work.filePath(QStringLiteral("ca.key")), caKey)
            || !QFile::rename(work.filePath(QStringLiteral("ca.crt")), caCert))
            return QStringLiteral("The club's authority could not be put in ") + dir;
        done->append(
            QStringLiteral("made the club's certificate authority %1 (its key %2 stays with root)").arg(caCert, caKey));
    }
    const bool address = !QHostAddress(host).isNull();
    QFile ext(work.filePath(QStringLiteral("san.ext")));
    if (!ext.open(QIODevice::WriteOnly))
        return QStringLiteral("The certificates' work files cannot be written in ") + dir;
    ext.write(QStringLiteral("subjectAltName=%1:%2\nextendedKeyUsage=serverAuth\n")
                  .arg(address ? QStringLiteral("IP") : QStringLiteral("DNS"), host)
                  .toUtf8());
    ext.close();
    failure = openssl({QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                       QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                       QStringLiteral("-nodes"), QStringLiteral("-keyout"), QStringLiteral("server.key"),
                       QStringLiteral("-out"), QStringLiteral("server.csr"), QStringLiteral("-subj"), "/CN=" + host},
                      work.path());
    if (failure.isEmpty())
        failure = openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                           QStringLiteral("server.csr"), QStringLiteral("-CA"), caCert, QStringLiteral("-CAkey"), caKey,
                           QStringLiteral("-set_serial"),
                           QStringLiteral("0x") + QString::number(QDateTime::currentMSecsSinceEpoch(), 16),
                           QStringLiteral("-days"), QStringLiteral("825"), QStringLiteral("-extfile"),
                           QStringLiteral("san.ext"), QStringLiteral("-out"), QStringLiteral("server.crt")},
                          work.path());
    if (!failure.isEmpty())
        return failure;
    QFile leaf(work.filePath(QStringLiteral("server.crt")));
    QFile authority(caCert);
    if (!leaf.open(QIODevice::ReadOnly) || !authority.open(QIODevice::ReadOnly))
        return QStringLiteral("The new certificate cannot be read.");
    QString problem;
    const QString serverKey = dir + QStringLiteral("/server.key");
    const QString serverCert = dir + QStringLiteral("/server.crt");
    QFile key(work.filePath(QStringLiteral("server.key")));
    if (!key.open(QIODevice::ReadOnly))
        return QStringLiteral("The new key cannot be read.");
    if (!writeFile(serverKey, key.readAll(), &problem) || !giveToPostgres(serverKey, 0600)
        || !writeFile(serverCert, leaf.readAll() + authority.readAll(), &problem) || !giveToPostgres(serverCert, 0644))
        return problem.isEmpty() ? QStringLiteral("The server's certificate could not be given to postgres.") : problem;
    done->append(QStringLiteral("made the server's certificate for %1: %2").arg(host, serverCert));
    return QString();
}

} // namespace

ServerAdmin::Result setUpTls(QSqlDatabase &admin, const QString &host, const QString &club, const QString &tlsDir,
                             Tls *tls, QStringList *left)
{
    QString problem;
    const std::optional<QHash<QString, QString>> settings = ServerAdmin::serverSettings(
        admin,
        {QStringLiteral("ssl"), QStringLiteral("ssl_cert_file"), QStringLiteral("ssl_key_file"),
         QStringLiteral("listen_addresses"), QStringLiteral("data_directory")},
        &problem);
    if (!settings)
        return failed("The server's settings could not be read: " + problem);
    QString certFile = settings->value(QStringLiteral("ssl_cert_file"));
    if (QFileInfo(certFile).isRelative())
        certFile = settings->value(QStringLiteral("data_directory")) + QLatin1Char('/') + certFile;
    const QList<QSslCertificate> configured = certificatesIn(certFile);
    const bool placeholder = certFile.contains(QLatin1String("snakeoil"));
    const bool ours = QFileInfo(certFile).absolutePath() == QFileInfo(tlsDir).absoluteFilePath();

    QStringList done;
    QList<QPair<QString, QString>> wanted{{QStringLiteral("ssl"), QStringLiteral("on")}};
    if (!configured.isEmpty() && !placeholder && !ours && names(configured.first(), host)) {
        // The machine's own certificate: pinned when it is its own authority
        // or carries it, else trusted as the systems trust it.
        for (const QSslCertificate &certificate : configured)
            if (selfSigned(certificate))
                tls->caSha256 = sha256(certificate);
    } else {
        if (!QDir().mkpath(tlsDir))
            return failed(tlsDir + QStringLiteral(" cannot be made for the club's certificates."));
        QFile::setPermissions(tlsDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                          | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        const QString serverCert = tlsDir + QStringLiteral("/server.crt");
        const QList<QSslCertificate> current = certificatesIn(serverCert);
        const QList<QSslCertificate> authority = certificatesIn(tlsDir + QStringLiteral("/club-ca.crt"));
        const bool usable = current.size() == 2 && !authority.isEmpty() && current.at(1) == authority.first()
                            && names(current.first(), host) && QFile::exists(tlsDir + QStringLiteral("/server.key"));
        if (!usable) {
            const QString failure = makeCertificates(tlsDir, host, club, &done);
            if (!failure.isEmpty())
                return failed(failure + QStringLiteral("\nRun init again once that is mended."), done);
        }
        const QList<QSslCertificate> made = certificatesIn(tlsDir + QStringLiteral("/club-ca.crt"));
        if (made.isEmpty())
            return failed(QStringLiteral("The club's authority in %1 cannot be read.").arg(tlsDir), done);
        tls->caSha256 = sha256(made.first());
        wanted.append({QStringLiteral("ssl_cert_file"), serverCert});
        wanted.append({QStringLiteral("ssl_key_file"), tlsDir + QStringLiteral("/server.key")});
    }
    if (settings->value(QStringLiteral("listen_addresses")) != QLatin1String("*"))
        wanted.append({QStringLiteral("listen_addresses"), QStringLiteral("*")});
    QStringList restart;
    const ServerAdmin::Result altered = ServerAdmin::alterSystem(admin, wanted, &restart);
    done += altered.done;
    if (!altered.ok)
        return failed(altered.problem, done);
    // Also what an earlier run changed and the server has not taken yet.
    if (const std::optional<QStringList> pending = ServerAdmin::pendingRestart(admin, &problem))
        for (const QString &name : *pending)
            if (!restart.contains(name))
                restart.append(name);
    if (!restart.isEmpty())
        left->append(QStringLiteral("restart PostgreSQL so that %1 takes effect: systemctl restart postgresql")
                         .arg(restart.join(QStringLiteral(", "))));
    return ServerAdmin::Result{true, QString(), done};
}

QString hbaBlock(const QString &database)
{
    const QString roles = QStringLiteral("+%1,+%2,%3")
                              .arg(QLatin1String(ServerAdmin::OwnerRole), QLatin1String(ServerAdmin::MemberRole),
                                   QLatin1String(ServerAdmin::WebRole));
    return QString::fromLatin1(HbaMarker) + QLatin1Char('\n')
           + QStringLiteral("hostssl %1 %2 0.0.0.0/0 scram-sha-256\n").arg(database, roles)
           + QStringLiteral("hostssl %1 %2 ::/0 scram-sha-256\n").arg(database, roles);
}

ServerAdmin::Result allowClubRoles(QSqlDatabase &admin, const QString &database)
{
    QString problem;
    const std::optional<QHash<QString, QString>> settings =
        ServerAdmin::serverSettings(admin, {QStringLiteral("hba_file")}, &problem);
    if (!settings)
        return failed("The server's settings could not be read: " + problem);
    const QString file = settings->value(QStringLiteral("hba_file"));
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return failed(file + QStringLiteral(" cannot be read: ") + in.errorString());
    const QString text = QString::fromUtf8(in.readAll());
    in.close();
    const QString block = hbaBlock(database);
    if (text.contains(block))
        return ServerAdmin::Result{true, QString(), {}};
    // First match wins: the club's lines go before every rule.
    QStringList lines = text.split(QLatin1Char('\n'));
    int at = 0;
    while (at < lines.size()
           && (lines.at(at).trimmed().isEmpty() || lines.at(at).trimmed().startsWith(QLatin1Char('#'))))
        ++at;
    lines.insert(at, block);
    struct stat before {};
    const QByteArray path = QFile::encodeName(file);
    const bool known = stat(path.constData(), &before) == 0;
    if (!writeFile(file, lines.join(QLatin1Char('\n')).toUtf8(), &problem))
        return failed(problem);
    if (known
        && (chown(path.constData(), before.st_uid, before.st_gid) != 0
            || chmod(path.constData(), before.st_mode & 07777) != 0))
        return failed(file + QStringLiteral(" lost its owner; give it back: chown postgres:postgres ") + file);
    const ServerAdmin::Result reloaded = ServerAdmin::reload(admin);
    if (!reloaded.ok)
        return reloaded;
    return ServerAdmin::Result{
        true, QString(), {QStringLiteral("let the club's roles in over TLS with a password in %1").arg(file)}};
}

} // namespace LocalCluster
