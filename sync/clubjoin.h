#pragma once

#include <QObject>
#include <QString>

class AuthorityFetch;

// A pasted club link made ready for the link to the club server: read and
// checked, the server's certificate authority fetched and pinned (kept in
// the data directory), and the connection string that verifies the server
// with it. The password travels apart, for the keyring.
class ClubJoin : public QObject {
    Q_OBJECT

public:
    explicit ClubJoin(QObject *parent = nullptr);

    // The authority of a link, kept beside Contacts.db.
    static constexpr char AuthorityFile[] = "ClubServer-CA.pem";
    // A link without a pinned authority trusts the system's.
    static constexpr char SystemAuthorities[] = "/etc/ssl/certs/ca-certificates.crt";

    // Starts with the pasted `text`; joined() or failed() follows, at once
    // for a link that cannot be read.
    void join(const QString &text, const QString &dataDir);

signals:
    void joined(const QString &conninfo, const QString &role, const QString &password);
    void failed(const QString &reason);

private:
    AuthorityFetch *fetch = nullptr;
    QString conninfoPending;
    QString rolePending;
    QString passwordPending;
    QString authorityPath;
};
