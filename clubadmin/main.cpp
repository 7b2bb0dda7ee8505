#include "clubadmin/clubtool.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trelvin-club"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return ClubTool::run(QCoreApplication::arguments().mid(1), out, err);
}
