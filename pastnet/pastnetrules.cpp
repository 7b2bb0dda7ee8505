#include "pastnet/pastnetrules.h"

#include <QRegularExpression>

namespace PastNetRules {

namespace {

QString shown(const QDateTime &at)
{
    return at.toString(at.time().second() ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
}

} // namespace

QString startProblem(const QDateTime &start, const QDateTime &now)
{
    if (!start.isValid())
        return QStringLiteral("The net's date or start time is not a time of this computer's clock.");
    if (start > now)
        return QStringLiteral("The net's start, %1 at %2, is later than now: a past net is one that was held "
                              "already.")
            .arg(start.toString(QStringLiteral("yyyy-MM-dd")), start.toString(QStringLiteral("HH:mm")));
    return QString();
}

Typed typedTime(const QString &text, const QDateTime &start, const QDateTime &last, const QDateTime &now)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,2}):?(\\d{2})(?::(\\d{2}))?$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    Typed typed;
    const int hour = match.hasMatch() ? match.captured(1).toInt() : -1;
    const int minute = match.hasMatch() ? match.captured(2).toInt() : -1;
    const int second = match.hasMatch() ? match.captured(3).toInt() : -1;
    if (hour < 0 || minute > 59 || second > 59) {
        typed.problem = "'" + text.trimmed().left(12)
                        + "' is not a time of day. Type the time of the paper log as HH:MM (24 hours).";
        return typed;
    }
    const QString date = start.toString(QStringLiteral("yyyy-MM-dd"));
    if (hour > 23) {
        typed.problem = QStringLiteral("%1 is past midnight: a past net ends with its date, %2. Enter what came "
                                       "after midnight as a past net of the next day.")
                            .arg(text.trimmed(), date);
        return typed;
    }
    QDateTime at = start;
    at.setTime(QTime(hour, minute, second));
    if (at < start) {
        typed.problem = QStringLiteral("%1 is before the net's start at %2 on %3. A past net ends with its date: "
                                       "what came after midnight is a past net of the next day.")
                            .arg(shown(at), shown(start), date);
    } else if (at < last) {
        typed.problem = QStringLiteral("%1 is before %2, the time entered last: the times of a past net go "
                                       "forward.")
                            .arg(shown(at), shown(last));
    } else if (at > now) {
        typed.problem =
            QStringLiteral("%1 on %2 is later than now: a past net has no times to come.").arg(shown(at), date);
    } else {
        typed.at = at;
    }
    return typed;
}

QString fieldText(const QDateTime &at)
{
    return shown(at);
}

} // namespace PastNetRules
