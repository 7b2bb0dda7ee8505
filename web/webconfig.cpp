#include "web/webconfig.h"

#include <QFile>
#include <QHostAddress>

namespace WebSettings {
namespace {

bool setViewers(const QString &text, WebConfig &config)
{
    bool number = false;
    const int viewers = text.toInt(&number);
    if (!number || viewers < 1 || viewers > MostViewers)
        return false;
    config.viewers = viewers;
    return true;
}

} // namespace

bool parseListen(const QString &text, WebConfig &config)
{
    const int colon = int(text.lastIndexOf(QLatin1Char(':')));
    if (colon < 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool number = false;
    const uint port = text.mid(colon + 1).toUInt(&number);
    if (!number || port > 65535)
        return false;
    if (host.isEmpty())
        host = QStringLiteral("0.0.0.0");
    if (QHostAddress(host).isNull())
        return false;
    config.address = host;
    config.port = quint16(port);
    return true;
}

void readFile(const QByteArray &text, const QString &name, WebConfig &config)
{
    int number = 0;
    for (const QByteArray &raw : text.split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int equals = int(line.indexOf(QLatin1Char('=')));
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        bool fine = equals > 0;
        if (fine && key == QLatin1String("club"))
            config.club = value;
        else if (fine && key == QLatin1String("listen"))
            fine = parseListen(value, config);
        else if (fine && key == QLatin1String("viewers"))
            fine = setViewers(value, config);
        else
            fine = false;
        if (!fine && config.problem.isEmpty())
            config.problem = QStringLiteral("%1, line %2: not a setting trelvin-web knows (club = <connection>, "
                                            "listen = <address>:<port>, viewers = <1 to %3>)")
                                 .arg(name)
                                 .arg(number)
                                 .arg(MostViewers);
    }
}

WebConfig fromArguments(const QStringList &arguments)
{
    WebConfig config;
    QString file = QString::fromLatin1(DefaultFile);
    bool named = false;
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--config")) {
            file = arguments.at(i + 1);
            named = true;
        }
    }
    QFile settings(file);
    if (settings.exists() || named) {
        if (!settings.open(QIODevice::ReadOnly) || settings.size() > 64 * 1024) {
            config.problem = file + QStringLiteral(": cannot be read");
            return config;
        }
        readFile(settings.readAll(), file, config);
    }
    for (int i = 1; i < arguments.size() && config.problem.isEmpty(); ++i) {
        const QString option = arguments.at(i);
        if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
            config.help = true;
            return config;
        }
        if (i + 1 >= arguments.size()) {
            config.problem = option + QStringLiteral(": an option and its value, see --help");
            break;
        }
        const QString value = arguments.at(++i);
        if (option == QLatin1String("--club"))
            config.club = value;
        else if (option == QLatin1String("--listen") && !parseListen(value, config))
            config.problem = QStringLiteral("--listen takes <address>:<port>, e.g. 127.0.0.1:8080");
        else if (option == QLatin1String("--viewers") && !setViewers(value, config))
            config.problem = QStringLiteral("--viewers takes a number from 1 to %1").arg(MostViewers);
        else if (option != QLatin1String("--club") && option != QLatin1String("--listen")
                 && option != QLatin1String("--viewers") && option != QLatin1String("--config"))
            config.problem = option + QStringLiteral(": not an option of trelvin-web, see --help");
    }
    if (config.problem.isEmpty() && config.club.isEmpty())
        config.problem =
            QStringLiteral("Say which club server to read: --club \"<connection>\" or club = ... in ") + file;
    return config;
}

QString usage()
{
    return QStringLiteral(
        "Usage: trelvin-web [--club \"<libpq connection>\"] [--listen <address>:<port>] [--viewers <n>]\n"
        "                   [--config <file>]\n"
        "The club's live net page, read-only, from the club server.\n"
        "Settings come from /etc/trelvin/web.conf (or --config), the options win.\n");
}

} // namespace WebSettings
