#include "sync/clublink.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

namespace ClubLink {

namespace {

bool isKeyChar(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char('_')
           || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || c.isDigit();
}

QString decoded(const QString &part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

// One "host[:port]" of the address, an IPv6 address in brackets.
bool splitHostPort(const QString &netloc, QString *host, QString *port, QString *error)
{
    *host = netloc;
    port->clear();
    if (host->startsWith(QLatin1Char('['))) {
        const qsizetype close = host->indexOf(QLatin1Char(']'));
        if (close < 0) {
            if (error)
                *error = QStringLiteral("an IPv6 address lacks its closing bracket");
            return false;
        }
        *port = host->mid(close + 1);
        *host = host->mid(1, close - 1);
        if (!port->isEmpty() && !port->startsWith(QLatin1Char(':'))) {
            if (error)
                *error = QStringLiteral("unexpected text after an IPv6 address");
            return false;
        }
        *port = port->mid(1);
    } else {
        const qsizetype colon = host->lastIndexOf(QLatin1Char(':'));
        if (colon >= 0) {
            *port = host->mid(colon + 1);
            host->truncate(colon);
        }
    }
    return true;
}

// postgresql://[user[:password]@][host][:port][,...][/dbname][?key=value&...]
std::optional<Settings> parseUri(const QString &uri, QString *error)
{
    QString rest = uri.mid(uri.indexOf(QLatin1String("://")) + 3);
    Settings settings;
    QString query;
    const qsizetype mark = rest.indexOf(QLatin1Char('?'));
    if (mark >= 0) {
        query = rest.mid(mark + 1);
        rest.truncate(mark);
    }
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    QString dbname;
    if (slash >= 0) {
        dbname = decoded(rest.mid(slash + 1));
        rest.truncate(slash);
    }
    const qsizetype at = rest.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString user = rest.left(at);
        const qsizetype colon = user.indexOf(QLatin1Char(':'));
        settings.append({QStringLiteral("user"), decoded(colon >= 0 ? user.left(colon) : user)});
        if (colon >= 0)
            settings.append({QStringLiteral("password"), decoded(user.mid(colon + 1))});
        rest = rest.mid(at + 1);
    }
    QStringList hosts;
    QStringList ports;
    bool anyPort = false;
    for (const QString &netloc : rest.split(QLatin1Char(','))) {
        QString host;
        QString port;
        if (!splitHostPort(netloc, &host, &port, error))
            return std::nullopt;
        hosts.append(decoded(host));
        ports.append(port);
        anyPort = anyPort || !port.isEmpty();
    }
    if (hosts.size() > 1 || !hosts.constFirst().isEmpty())
        settings.append({QStringLiteral("host"), hosts.join(QLatin1Char(','))});
    if (anyPort)
        settings.append({QStringLiteral("port"), ports.join(QLatin1Char(','))});
    if (!dbname.isEmpty())
        settings.append({QStringLiteral("dbname"), dbname});
    if (!query.isEmpty()) {
        for (const QString &pair : query.split(QLatin1Char('&'))) {
            const qsizetype equals = pair.indexOf(QLatin1Char('='));
            if (equals <= 0) {
                if (error)
                    *error = QStringLiteral("a parameter of the address lacks its value");
                return std::nullopt;
            }
            QString key = decoded(pair.left(equals));
            // libpq's alias for the one key that is spelt differently.
            if (key == QLatin1String("ssl") && pair.mid(equals + 1) == QLatin1String("true"))
                settings.append({QStringLiteral("sslmode"), QStringLiteral("require")});
            else
                settings.append({key, decoded(pair.mid(equals + 1))});
        }
    }
    return settings;
}

QStringList entries(const QString &list)
{
    return list.split(QLatin1Char(','));
}

} // namespace

std::optional<Settings> parse(const QString &conninfo, QString *error)
{
    const QString text = conninfo.trimmed();
    if (text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://")))
        return parseUri(text, error);
    Settings settings;
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto skipSpace = [&] {
        while (i < n && text.at(i).isSpace())
            ++i;
    };
    for (;;) {
        skipSpace();
        if (i >= n)
            break;
        const qsizetype keyStart = i;
        while (i < n && isKeyChar(text.at(i)))
            ++i;
        const QString key = text.mid(keyStart, i - keyStart);
        skipSpace();
        if (key.isEmpty() || i >= n || text.at(i) != QLatin1Char('=')) {
            if (error)
                *error = key.isEmpty() ? QStringLiteral("\"%1\" is not a setting").arg(text.mid(keyStart, 20))
                                       : QStringLiteral("\"%1\" lacks \"=\"").arg(key);
            return std::nullopt;
        }
        ++i;
        skipSpace();
        QString value;
        if (i < n && text.at(i) == QLatin1Char('\'')) {
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar c = text.at(i++);
                if (c == QLatin1Char('\\') && i < n) {
                    value += text.at(i++);
                } else if (c == QLatin1Char('\'')) {
                    closed = true;
                    break;
                } else {
                    value += c;
                }
            }
            if (!closed) {
                if (error)
                    *error = QStringLiteral("the value of \"%1\" lacks its closing quote").arg(key);
                return std::nullopt;
            }
        } else {
            while (i < n && !text.at(i).isSpace()) {
                const QChar c = text.at(i++);
                if (c == QLatin1Char('\\') && i < n)
                    value += text.at(i++);
                else
                    value += c;
            }
        }
        settings.append({key, value});
    }
    return settings;
}

QString join(const Settings &settings)
{
    QStringList pairs;
    for (const Setting &setting : settings) {
        QString value = setting.value;
        const bool plain = !value.isEmpty() && std::none_of(value.cbegin(), value.cend(), [](QChar c) {
            return c.isSpace() || c == QLatin1Char('\'') || c == QLatin1Char('\\');
        });
        if (!plain) {
            value.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
            value = QLatin1Char('\'') + value + QLatin1Char('\'');
        }
        pairs.append(setting.key + QLatin1Char('=') + value);
    }
    return pairs.join(QLatin1Char(' '));
}

QString value(const Settings &settings, const QString &key)
{
    // libpq takes the last of a key named twice.
    for (auto it = settings.crbegin(); it != settings.crend(); ++it) {
        if (it->key == key)
            return it->value;
    }
    return QString();
}

void set(Settings &settings, const QString &key, const QString &value)
{
    bool placed = false;
    for (qsizetype i = 0; i < settings.size();) {
        if (settings.at(i).key != key) {
            ++i;
        } else if (!placed && !value.isEmpty()) {
            settings[i].value = value;
            placed = true;
            ++i;
        } else {
            settings.remove(i);
        }
    }
    if (!placed && !value.isEmpty())
        settings.append({key, value});
}

bool isLocalHost(const QString &host)
{
    const QString name = host.trimmed();
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('@')))
        return true;
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(name) && address.isLoopback();
}

bool staysLocal(const Settings &settings)
{
    const auto allLocal = [](const QString &list) {
        const QStringList hosts = entries(list);
        return std::all_of(hosts.cbegin(), hosts.cend(), isLocalHost);
    };
    const QString hostaddr = value(settings, QStringLiteral("hostaddr"));
    if (!hostaddr.trimmed().isEmpty())
        return allLocal(hostaddr);
    const QString host = value(settings, QStringLiteral("host"));
    if (!host.trimmed().isEmpty())
        return allLocal(host);
    // A service file may name any host.
    if (!value(settings, QStringLiteral("service")).isEmpty() || qEnvironmentVariableIsSet("PGSERVICE"))
        return false;
    const QString envAddr = qEnvironmentVariable("PGHOSTADDR");
    if (!envAddr.trimmed().isEmpty())
        return allLocal(envAddr);
    return allLocal(qEnvironmentVariable("PGHOST"));
}

Fields fields(const QString &conninfo)
{
    Fields found;
    const std::optional<Settings> settings = parse(conninfo);
    if (!settings) {
        found.tls = Tls::Required;
        return found;
    }
    found.host = value(*settings, QStringLiteral("host"));
    if (found.host.isEmpty())
        found.host = value(*settings, QStringLiteral("hostaddr"));
    found.port = value(*settings, QStringLiteral("port"));
    found.dbname = value(*settings, QStringLiteral("dbname"));
    found.user = value(*settings, QStringLiteral("user"));
    found.caFile = value(*settings, QStringLiteral("sslrootcert"));
    const QString mode = value(*settings, QStringLiteral("sslmode"));
    found.tlsNamed = !mode.isEmpty();
    if (mode == QLatin1String("disable"))
        found.tls = Tls::Off;
    else if (mode == QLatin1String("verify-ca") || mode == QLatin1String("verify-full"))
        found.tls = Tls::Verify;
    else if (mode == QLatin1String("require"))
        found.tls = Tls::Required;
    else
        // What the link is opened with: plan() requires TLS off this computer.
        found.tls = staysLocal(*settings) ? Tls::Off : Tls::Required;
    return found;
}

QString withFields(const QString &conninfo, const Fields &fields)
{
    Settings settings = parse(conninfo).value_or(Settings());
    // A host typed into the field replaces an address given beside the old one.
    if (fields.host.trimmed() != value(settings, QStringLiteral("host")))
        set(settings, QStringLiteral("hostaddr"), QString());
    set(settings, QStringLiteral("host"), fields.host.trimmed());
    set(settings, QStringLiteral("port"), fields.port.trimmed());
    set(settings, QStringLiteral("dbname"), fields.dbname.trimmed());
    set(settings, QStringLiteral("user"), fields.user.trimmed());
    switch (fields.tlsNamed ? fields.tls : Tls(-1)) {
    case Tls::Off:
        set(settings, QStringLiteral("sslmode"), QStringLiteral("disable"));
        set(settings, QStringLiteral("sslrootcert"), QString());
        break;
    case Tls::Required:
        set(settings, QStringLiteral("sslmode"), QStringLiteral("require"));
        set(settings, QStringLiteral("sslrootcert"), QString());
        break;
    case Tls::Verify:
        set(settings, QStringLiteral("sslmode"), QStringLiteral("verify-full"));
        set(settings, QStringLiteral("sslrootcert"), fields.caFile.trimmed());
        break;
    default:
        break;
    }
    const bool empty = std::all_of(settings.cbegin(), settings.cend(), [](const Setting &setting) {
        return setting.key == QLatin1String("sslmode") || setting.key == QLatin1String("sslrootcert");
    });
    return empty ? QString() : join(settings);
}

Plan plan(const QString &conninfo)
{
    Plan plan;
    QString why;
    std::optional<Settings> settings = parse(conninfo, &why);
    if (!settings) {
        plan.error = "The club server's connection string cannot be read: " + why + ".";
        return plan;
    }
    const auto fallback = [&](const char *key, const QString &value) {
        if (ClubLink::value(*settings, QLatin1String(key)).isEmpty())
            set(*settings, QLatin1String(key), value);
    };
    // A host that does not answer must not hold the worker for minutes, nor
    // a link whose other end vanished without a word.
    fallback("connect_timeout", QStringLiteral("3"));
    fallback("application_name", QStringLiteral("Trelvin"));
    fallback("keepalives", QStringLiteral("1"));
    fallback("keepalives_idle", QStringLiteral("10"));
    fallback("keepalives_interval", QStringLiteral("5"));
    fallback("keepalives_count", QStringLiteral("3"));
    fallback("tcp_user_timeout", QStringLiteral("30000"));
    QString options = value(*settings, QStringLiteral("options"));
    if (!options.contains(QLatin1String("statement_timeout"))) {
        options = (options + QStringLiteral(" -c statement_timeout=%1").arg(StatementTimeoutMs)).trimmed();
        set(*settings, QStringLiteral("options"), options);
    }

    const QString mode = value(*settings, QStringLiteral("sslmode"));
    plan.mustEncrypt = mode != QLatin1String("disable") && !staysLocal(*settings);
    // "prefer" and "allow" would fall back to plain text without a word.
    if (plan.mustEncrypt && (mode.isEmpty() || mode == QLatin1String("prefer") || mode == QLatin1String("allow")))
        set(*settings, QStringLiteral("sslmode"), QStringLiteral("require"));
    plan.options = join(*settings);
    return plan;
}

bool isTlsRefusal(const QString &error)
{
    return error.contains(QLatin1String("server does not support SSL"));
}

} // namespace ClubLink
QString ClubLink::withoutPassword(const QString &conninfo, QString *password)
{
    static const QRegularExpression pair(QStringLiteral("(^|\\s)password\\s*=\\s*('(?:[^'\\\\]|\\\\.)*'|\\S*)"));
    QString rest = conninfo;
    QRegularExpressionMatch match = pair.match(rest);
    if (!match.hasMatch())
        return conninfo.trimmed();
    QString value = match.captured(2);
    if (value.startsWith('\'') && value.endsWith('\'') && value.size() >= 2)
        value = value.mid(1, value.size() - 2)
                    .replace(QLatin1String("\\'"), QLatin1String("'"))
                    .replace(QLatin1String("\\\\"), QLatin1String("\\"));
    if (password)
        *password = value;
    rest.remove(match.capturedStart(0), match.capturedLength(0));
    return rest.simplified();
}
