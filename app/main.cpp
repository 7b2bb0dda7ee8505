#include "app/constants.h"
#include "app/fonts.h"
#include "app/trelvin.h"
#include "jobs/jobrunner.h"

#include <QApplication>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The per-user data folder of a system-wide install is named after these.
    QCoreApplication::setOrganizationName(QString::fromLatin1(Trel::Organisation));
    QCoreApplication::setApplicationName(QString::fromLatin1(Trel::Application));
    // Lets the desktop match the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("trelvin"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    substituteFormFonts();
    int status = 0;
    {
        Trelvin window;
        window.show();
        status = QApplication::exec();
    }
    // A club-server thread stuck on a link that went silent cannot be
    // joined; everything is written and closed by now, so the process ends
    // without the teardown that would pull its connection from under it.
    if (JobRunner::threadsLeft() > 0) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
