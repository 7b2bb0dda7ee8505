#include "clubadmin/terminalqr.h"

#include <qrencode.h>

#include <memory>

namespace TerminalQr {

QString render(const QString &text)
{
    const QByteArray data = text.toUtf8();
    const std::unique_ptr<QRcode, void (*)(QRcode *)> code(QRcode_encodeString8bit(data.constData(), 0, QR_ECLEVEL_L),
                                                           QRcode_free);
    if (!code)
        return QString();
    const int width = code->width;
    // The quiet zone the readers need, in modules.
    const int margin = 2;
    const int size = width + 2 * margin;
    const auto dark = [&](int x, int y) {
        x -= margin;
        y -= margin;
        if (x < 0 || y < 0 || x >= width || y >= width)
            return false;
        return (code->data[y * width + x] & 1) != 0;
    };
    // Light modules are drawn as blocks, so that the code reads on a dark
    // terminal as on a light one: a dark module is a space.
    QString out;
    for (int y = 0; y < size; y += 2) {
        for (int x = 0; x < size; ++x) {
            const bool top = !dark(x, y);
            const bool bottom = y + 1 < size && !dark(x, y + 1);
            if (top && bottom)
                out += QChar(0x2588); // full block
            else if (top)
                out += QChar(0x2580); // upper half
            else if (bottom)
                out += QChar(0x2584); // lower half
            else
                out += QLatin1Char(' ');
        }
        out += QLatin1Char('\n');
    }
    return out;
}

} // namespace TerminalQr
