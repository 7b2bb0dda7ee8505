#include "app/fonts.h"
#include "app/trelvin.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    substituteFormFonts();
    Trelvin window;
    window.show();
    return QApplication::exec();
}
