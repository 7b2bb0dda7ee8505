#include "app/constants.h"
#include "app/fonts.h"
#include "app/trelvin.h"

#include <QApplication>
#include <QStyleFactory>

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
    Trelvin window;
    window.show();
    return QApplication::exec();
}
