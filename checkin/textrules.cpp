#include "checkin/textrules.h"

#include <QDateTime>
#include <QLineEdit>
#include <QValidator>

#include <algorithm>
#include <cmath>

QString titleCase(const QString &text)
{
    // Character by character, so the length never changes under the cursor.
    QString result = text;
    for (int i = 0; i < result.size(); ++i) {
        const bool wordStart = i == 0 || text.at(i - 1) == QLatin1Char(' ');
        result[i] = wordStart ? text.at(i).toUpper() : text.at(i).toLower();
    }
    return result;
}

QString justifyDigit(const QString &call)
{
    if (call.size() >= 2 && call.at(1).isDigit())
        return QLatin1Char(' ') + call;
    return call;
}

QString digitsOnly(const QString &text)
{
    // A loop, not a pattern: a roster load runs this on every line.
    QString digits;
    digits.reserve(text.size());
    for (const QChar ch : text) {
        if (ch >= u'0' && ch <= u'9')
            digits.append(ch);
    }
    return digits;
}

QString likeLiteral(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return escaped;
}

void setClipped(QLineEdit *field, const QString &text)
{
    field->setText(clipped(text, characterLimit(field)));
}

namespace {

const char LimitProperty[] = "trelvinCharacterLimit";
// A line edit's own default: no limit of ours.
const int Unlimited = 32767;

// Runs after every change of the text with the whole text and the cursor:
// the part just typed or pasted ends at the cursor, so that is where the
// excess is cut, as the line edit itself would cut it.
class WholeCharacterLimit : public QValidator {
public:
    WholeCharacterLimit(int most, QObject *parent) : QValidator(parent), limit(most) {}

    State validate(QString &input, int &pos) const override
    {
        if (input.size() <= limit)
            return Acceptable;
        pos = std::clamp(pos, 0, int(input.size()));
        const QString tail = input.mid(pos);
        if (tail.size() >= limit) {
            input = clipped(input, limit);
            pos = std::min(pos, int(input.size()));
            return Acceptable;
        }
        const QString head = clipped(input.left(pos), limit - int(tail.size()));
        input = head + tail;
        pos = int(head.size());
        return Acceptable;
    }

private:
    const int limit;
};

} // namespace

void keepWholeCharacters(QLineEdit *field)
{
    if (field->property(LimitProperty).isValid())
        return;
    const int limit = field->maxLength();
    if (limit >= Unlimited)
        return;
    field->setProperty(LimitProperty, limit);
    field->setValidator(new WholeCharacterLimit(limit, field));
    // The validator cuts now; the line edit must no longer cut first.
    field->setMaxLength(Unlimited);
}

void keepWholeCharacters(QWidget *form)
{
    const auto fields = form->findChildren<QLineEdit *>();
    for (QLineEdit *field : fields)
        keepWholeCharacters(field);
}

int characterLimit(const QLineEdit *field)
{
    const QVariant limit = field->property(LimitProperty);
    return limit.isValid() ? limit.toInt() : field->maxLength();
}

bool loggedWithin(const QString &date, const QString &time, const QDateTime &now, int seconds)
{
    // Both parts have fixed widths, so the joined text sorts by time.
    const QString format = QStringLiteral("yyMMddHH:mm:ss");
    const QString stamp = date + time;
    return stamp.size() == format.size() && stamp >= now.addSecs(-seconds).toString(format)
           && stamp <= now.toString(format);
}

QString removeNuls(const QString &text)
{
    QString result = text;
    result.remove(QChar(0));
    return result;
}

BearingDistance greatCircle(double lat1, double lon1, double lat2, double lon2)
{
    constexpr double k = 0.0174532925;
    constexpr double pi = 3.14159265;
    const double phi1 = lat1 * k;
    const double phi2 = lat2 * k;
    const double dLambda = lon2 * k - lon1 * k;

    // Rounding can push the cosine a hair past 1 for identical points; acos
    // would then give NaN.
    const double cosine = std::cos(phi1) * std::cos(phi2) * std::cos(dLambda) + std::sin(phi1) * std::sin(phi2);
    const double angle = std::acos(std::clamp(cosine, -1.0, 1.0));

    BearingDistance result;
    result.distance = int(angle * 3959 + 0.5);
    const double theta =
        std::atan2(std::sin(dLambda) * std::cos(phi2),
                   std::cos(phi1) * std::sin(phi2) - std::sin(phi1) * std::cos(phi2) * std::cos(dLambda));
    result.bearing = int(theta / pi * 180 + 360.5) % 360;
    return result;
}
