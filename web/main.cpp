#include "app/logging.h"
#include "web/webconfig.h"
#include "web/webservice.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPair[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPair[0], &byte, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trelvin-web"));
    QTextStream err(stderr);
    const WebConfig config = WebSettings::fromArguments(QCoreApplication::arguments());
    if (config.help) {
        QTextStream(stdout) << WebSettings::usage();
        return 0;
    }
    if (!config.problem.isEmpty()) {
        err << "trelvin-web: " << config.problem << "\n" << WebSettings::usage();
        return 2;
    }
    // systemd stops it with SIGTERM: a clean end, the streams closed.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPair) == 0) {
        auto *notifier = new QSocketNotifier(signalPair[1], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGINT, onSignal);
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Every viewer holds a socket: as many as the system lets this process have.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    WebService service(config);
    QString problem;
    if (!service.start(&problem)) {
        err << "trelvin-web: " << problem << "\n";
        return 1;
    }
    qCInfo(lcWeb).noquote()
        << QStringLiteral("Serving the live net page on %1:%2").arg(config.address).arg(service.port());
    return app.exec();
}
