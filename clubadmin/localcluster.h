#pragma once

#include "data/serveradmin.h"

#include <QSqlDatabase>
#include <QString>

// The machine's own PostgreSQL, set up for a club by its administrator
// (root): TLS with a certificate that names the server, and pg_hba.conf
// letting the club's roles in over TLS with a password only.
namespace LocalCluster {

struct Tls {
    // The SHA-256 of the authority the links pin (lower-case hex); empty
    // when the server's certificate comes from an authority the systems
    // trust already.
    QString caSha256;
};

// Uses the server's configured certificate when it names `host` and is not
// the distribution's self-signed placeholder; else makes a club authority
// (kept in `tlsDir`, its key readable by root only) and a server
// certificate for `host` signed by it. Turns TLS on; nothing is changed
// when all is in place already.
ServerAdmin::Result setUpTls(QSqlDatabase &admin, const QString &host, const QString &club, const QString &tlsDir,
                             Tls *tls, QStringList *left);

// The lines of pg_hba.conf for the club's roles on `database`, before every
// other line, kept once; a reload after.
ServerAdmin::Result allowClubRoles(QSqlDatabase &admin, const QString &database);

// The lines allowClubRoles() writes, with their marker.
QString hbaBlock(const QString &database);

} // namespace LocalCluster
