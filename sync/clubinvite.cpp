#include "sync/clubinvite.h"

#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

namespace ClubInvite {
namespace {

bool fail(QString *problem, const QString &why)
{
    if (problem)
        *problem = why;
    return false;
}

// Roles and databases are plain identifiers, so that they need no quoting
// in SQL or in a connection string.
bool plainName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[a-z_][a-z0-9_]{0,62}$"));
    return pattern.match(name).hasMatch();
}

// Printable ASCII without the characters a connection string or a URI
// would need escaped; trelvin-club's passwords are letters and digits.
bool plainPassword(const QString &password)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._~-]{16,128}$"));
    return pattern.match(password).hasMatch();
}

bool plainHost(const QString &host)
{
    static const QRegularExpression name(QStringLiteral(
        "^(?=.{1,253}$)[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*$"));
    static const QRegularExpression ipv6(QStringLiteral("^[0-9A-Fa-f:.]{2,45}$"));
    return name.match(host).hasMatch() || (host.contains(QLatin1Char(':')) && ipv6.match(host).hasMatch());
}

bool fingerprint(const QString &value)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{64}$"));
    return pattern.match(value).hasMatch();
}

} // namespace

QString make(const Link &link)
{
    QUrl url;
    url.setScheme(QString::fromLatin1(Scheme));
    url.setUserName(link.role);
    url.setPassword(link.password);
    url.setHost(link.host);
    url.setPort(link.port);
    url.setPath(QLatin1Char('/') + link.database);
    if (!link.caSha256.isEmpty()) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("ca"), QStringLiteral("sha256:") + link.caSha256);
        url.setQuery(query);
    }
    return url.toString(QUrl::FullyEncoded);
}

std::optional<Link> parse(const QString &text, QString *problem)
{
    const QString line = text.trimmed();
    if (line.size() > MaxLength) {
        fail(problem, QStringLiteral("The club link is longer than a club link can be."));
        return std::nullopt;
    }
    if (!line.startsWith(QString::fromLatin1(Scheme) + QStringLiteral("://"), Qt::CaseInsensitive)) {
        fail(problem, QStringLiteral("This is not a club link: it must begin with %1://.").arg(QLatin1String(Scheme)));
        return std::nullopt;
    }
    const QUrl url(line, QUrl::StrictMode);
    // QUrl's own text would repeat the password.
    if (!url.isValid()) {
        fail(problem, url.errorString().contains(QLatin1String("hostname"), Qt::CaseInsensitive)
                          ? QStringLiteral("The club link's server name is missing or damaged.")
                          : QStringLiteral("The club link is damaged."));
        return std::nullopt;
    }
    Link link;
    link.role = url.userName(QUrl::FullyDecoded);
    link.password = url.password(QUrl::FullyDecoded);
    link.host = url.host(QUrl::FullyDecoded);
    link.port = url.port(5432);
    link.database = url.path(QUrl::FullyDecoded).mid(1);
    const QUrlQuery query(url);
    const QList<QPair<QString, QString>> items = query.queryItems(QUrl::FullyDecoded);
    bool ok = true;
    for (const auto &[key, value] : items) {
        if (key != QLatin1String("ca") || !link.caSha256.isEmpty()) {
            ok = fail(problem, QStringLiteral("The club link holds \"%1\", which a club link does not have.").arg(key));
            break;
        }
        if (!value.startsWith(QLatin1String("sha256:")) || !fingerprint(value.mid(7))) {
            ok = fail(problem, QStringLiteral("The club link's certificate fingerprint is damaged."));
            break;
        }
        link.caSha256 = value.mid(7);
    }
    if (ok && !plainName(link.role))
        ok = fail(problem, QStringLiteral("The club link's operator name is missing or damaged."));
    if (ok && !plainPassword(link.password))
        ok = fail(problem, QStringLiteral("The club link's password is missing or damaged."));
    if (ok && !plainHost(link.host))
        ok = fail(problem, QStringLiteral("The club link's server name is missing or damaged."));
    if (ok && (link.port < 1 || link.port > 65535))
        ok = fail(problem, QStringLiteral("The club link's port is not a port."));
    if (ok && !plainName(link.database))
        ok = fail(problem, QStringLiteral("The club link's database name is missing or damaged."));
    if (ok && url.hasFragment())
        ok = fail(problem, QStringLiteral("The club link is damaged: it ends in a \"#\" part."));
    if (!ok)
        return std::nullopt;
    return link;
}

QString roleForCall(const QString &call)
{
    QString role;
    for (const QChar c : call.trimmed().toLower()) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            role += c;
        else if (!role.isEmpty() && !role.endsWith(QLatin1Char('_')))
            role += QLatin1Char('_');
    }
    while (role.endsWith(QLatin1Char('_')))
        role.chop(1);
    // A role may not begin with a digit when it is to need no quotes.
    if (!role.isEmpty() && role.at(0).isDigit())
        role.prepend(QStringLiteral("op_"));
    return role.left(63);
}

QString conninfo(const Link &link, const QString &caFile)
{
    QString quotedCa = caFile;
    quotedCa.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QStringLiteral("host=%1 port=%2 dbname=%3 user=%4 sslmode=verify-full sslrootcert='%5'")
        .arg(link.host)
        .arg(link.port)
        .arg(link.database, link.role, quotedCa);
}

} // namespace ClubInvite
