#pragma once

#include <QString>

// A QR code of a line, drawn in a terminal with half-block characters:
// two rows of modules per line of text, dark on light with a quiet zone.
namespace TerminalQr {

// Empty when `text` does not fit a QR code.
QString render(const QString &text);

} // namespace TerminalQr
