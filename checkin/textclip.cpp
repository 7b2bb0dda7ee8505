// clipped() alone: the sync checks use it in the club server's tools,
// which have no widgets.
#include "checkin/textrules.h"

#include <QTextBoundaryFinder>

#include <algorithm>

QString clipped(const QString &text, int maxLength)
{
    if (text.size() <= maxLength)
        return text;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    graphemes.setPosition(std::max(maxLength, 0));
    if (!graphemes.isAtBoundary())
        graphemes.toPreviousBoundary();
    return text.left(std::max(int(graphemes.position()), 0));
}
