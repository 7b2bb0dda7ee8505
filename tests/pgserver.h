#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A throwaway PostgreSQL server for the tests: initdb into a temporary
// directory, listening on a free port of 127.0.0.1 only and a Unix socket in
// that directory, stopped and removed with the object. As root, initdb and
// pg_ctl run as the unprivileged user "nobody", since they refuse root.
//
// The administrator role "admin" logs in without a password; roles made by
// addOperator() log in with scram-sha-256 passwords, as a club's would.
class PgServer {
public:
    PgServer();
    ~PgServer();
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    // Before start(): the server offers TLS with this certificate and key
    // (PEM files, copied into its directory).
    void setTls(const QString &certificate, const QString &key);
    // The same with what makeCertificates(`certsDir`, "ca") made: the server's
    // certificate with its authority after it (chain.crt, written there),
    // as a club's server shows them. Empty when set, else why not.
    QString setTlsFrom(const QString &certsDir);
    // Empty when the server runs; else why not (missing binaries included).
    QString start();
    void stop();
    // Starts the same data directory again, on the same port.
    QString restart();
    bool running() const { return up; }

    int port() const { return serverPort; }
    QString socketDir() const;
    // A libpq connection string for `user` on `db`, without a password.
    QString conninfo(const QString &user, const QString &db = QStringLiteral("trelvin")) const;

    // Runs SQL as the administrator on `db` ("postgres" for the cluster's
    // own); empty on success, else the server's text.
    QString admin(const QString &sql, const QString &db = QStringLiteral("trelvin")) const;
    // A login role with a password, member of the club's group role, and the
    // club's database owned by that group, made on first use.
    QString addOperator(const QString &user, const QString &password);
    // A login role with a password in the club members' group role
    // (trelvin_member): the rights the server's schema grants, no more.
    QString addMember(const QString &user, const QString &password);
    // Drops and re-creates the club's database, empty; the members' group
    // role is made as the administrator makes it before the first start.
    QString resetDatabase(const QString &db = QStringLiteral("trelvin"));

    // A certificate authority of its own in `dir` (`ca`.crt and .key); for
    // `ca` "ca" also a server certificate it signed for "localhost" and
    // 127.0.0.1 (server.crt, server.key). Empty when made, else why not.
    static QString makeCertificates(const QString &dir, const QString &ca);

    // A free port of 127.0.0.1 where nothing listens.
    static int closedPort();

    // The club link that trelvin-club add-operator or rotate printed in
    // `out`; empty when there is none.
    static QString clubLinkIn(const QString &out);

private:
    QString run(const QString &program, const QStringList &arguments, int timeoutMs = 60000) const;

    std::unique_ptr<QTemporaryDir> dir;
    QString bin;
    int serverPort = 0;
    bool up = false;
    bool asNobody = false;
    QString tlsCertificate;
    QString tlsKey;
};
