#pragma once

#include <QString>
#include <QStringList>

// trelvin-web's settings: /etc/trelvin/web.conf, then the command line,
// whose options win.
struct WebConfig {
    QString club;                                  // libpq conninfo of the read-only role
    QString address = QStringLiteral("127.0.0.1"); // behind a reverse proxy by default
    quint16 port = 8080;
    int viewers = 2000;
    // Why the settings cannot be used, for the administrator; empty when fine.
    QString problem;
    bool help = false;
};

namespace WebSettings {

inline constexpr char DefaultFile[] = "/etc/trelvin/web.conf";
inline constexpr int MostViewers = 20000;

// The file's "key = value" lines (club, listen, viewers; '#' starts a
// comment) over `config`; a line it does not know is a problem.
void readFile(const QByteArray &text, const QString &name, WebConfig &config);
// "host:port", "[v6]:port" or ":port".
bool parseListen(const QString &text, WebConfig &config);
// The whole: the file named by --config (or the default, when it exists),
// then the options.
WebConfig fromArguments(const QStringList &arguments);
QString usage();

} // namespace WebSettings
