#pragma once

#include <QList>
#include <QString>

#include <optional>

// The club server's connection string (libpq's "key=value" form, or a
// postgresql:// address) read, changed and written back, and the rules the
// link is opened under: time limits, keepalives, and no unencrypted link to
// another computer unless the string turns encryption off by name.
namespace ClubLink {

struct Setting {
    QString key;
    QString value;
    bool operator==(const Setting &other) const { return key == other.key && value == other.value; }
};
using Settings = QList<Setting>;

// Empty when the string cannot be read; `error` says why.
std::optional<Settings> parse(const QString &conninfo, QString *error = nullptr);
// Back to "key=value" pairs, quoted where libpq needs it.
QString join(const Settings &settings);
QString value(const Settings &settings, const QString &key);
// Replaces the first `key`, or appends it; an empty value removes the key.
void set(Settings &settings, const QString &key, const QString &value);

// A Unix socket (a path or "@name"), "localhost" or a loopback address.
bool isLocalHost(const QString &host);
// Whether every host the connection may go to is this computer: hostaddr
// before host, then libpq's own PGHOSTADDR and PGHOST, then its socket.
bool staysLocal(const Settings &settings);

enum class Tls { Off, Required, Verify };

// What the dialog shows in fields of their own.
struct Fields {
    QString host;
    QString port;
    QString dbname;
    QString user;
    Tls tls = Tls::Required;
    // Whether the string names its TLS; if not, the TLS follows the host
    // (plan()) and the string stays silent about it.
    bool tlsNamed = false;
    QString caFile; // for Tls::Verify; empty: libpq's own root certificates
};
// Read from a string; one that cannot be read gives empty fields.
Fields fields(const QString &conninfo);
// The string with these fields in place; its other settings stay. Empty
// when it would name nothing but its TLS: no club server.
QString withFields(const QString &conninfo, const Fields &fields);

// The options a connection is opened with.
struct Plan {
    QString options; // for QSqlDatabase::setConnectOptions
    QString error;   // not empty: no connection is to be tried
    // The link must turn out encrypted, or it is closed unused.
    bool mustEncrypt = false;
};
Plan plan(const QString &conninfo);

// libpq's words for a server that offers no TLS while TLS was required.
bool isTlsRefusal(const QString &error);

// Takes a password out of a connection string, into `password` when given:
// the program keeps it for the run and never writes it to the settings.
QString withoutPassword(const QString &conninfo, QString *password = nullptr);

// How long one statement may run on the server.
inline constexpr int StatementTimeoutMs = 30000;

} // namespace ClubLink
