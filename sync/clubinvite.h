#pragma once

#include <QString>

#include <optional>

// The club link: one line that an operator pastes into Setup > Club Server
// to join the club's server, made by trelvin-club for each operator.
//
//   trelvin-club://n7ncs:<password>@club.example.org:5432/trelvin?ca=sha256:<64 hex digits>
//
// `ca` is the SHA-256 of the club's certificate authority (DER); a link
// without it trusts the system's authorities (a server with a public
// certificate). Everything in a pasted link is checked before it is used.
namespace ClubInvite {

inline constexpr char Scheme[] = "trelvin-club";
// Longer than any link trelvin-club makes, short enough to show whole.
inline constexpr int MaxLength = 1024;

struct Link {
    QString role;
    QString password;
    QString host;
    int port = 5432;
    QString database;
    // Lower-case hex, or empty: the system's authorities.
    QString caSha256;
};

// The line for `link`, which must be valid (see parse()).
QString make(const Link &link);

// The link in `text` (spaces around it ignored), or nothing with `problem`
// saying in a sentence what is wrong with it.
std::optional<Link> parse(const QString &text, QString *problem = nullptr);

// A role name for a call sign: lower case, letters, digits and "_" only
// ("N7NCS/P" -> "n7ncs_p"); empty when nothing of it is left.
QString roleForCall(const QString &call);

// The libpq connection string for the link: TLS with the server's name
// and its certificate checked against `caFile` (a PEM file holding the
// pinned authority, or the system's bundle). Without the password, which
// the program keeps in the keyring.
QString conninfo(const Link &link, const QString &caFile);

} // namespace ClubInvite
