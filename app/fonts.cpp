#include "app/fonts.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QString>

namespace {
// The dialog font of the platform the forms were drawn on, at the size they
// were drawn with: the font of every widget that names no family.
const QString DialogFamily = QStringLiteral("MS Shell Dlg 2");
constexpr int DialogPointSize = 8;
} // namespace

void substituteFormFonts()
{
    // Metric-compatible: the same advance widths, so the same captions fit.
    QFont::insertSubstitution(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"));
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
    QFont::insertSubstitution(DialogFamily, QStringLiteral("Liberation Sans"));

    // Without the dialog font the desktop's default applies, wider or larger
    // (DejaVu Sans 9 pt on a bare Debian), and captions of the fixed-size
    // widgets are cut. Those widgets get the forms' own font instead.
    if (!QFontDatabase::hasFamily(DialogFamily)) {
        QFont font = QApplication::font();
        font.setFamily(DialogFamily);
        font.setPointSize(DialogPointSize);
        QApplication::setFont(font);
    }
}
