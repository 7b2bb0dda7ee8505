#include "lookup/qrzrecord.h"

#include "checkin/textrules.h"

#include <QXmlStreamReader>

namespace Qrz {

QList<Element> readElements(const QByteArray &body, const QStringList &wanted, bool *wellFormed, QString *root)
{
    QList<Element> found;
    QXmlStreamReader xml(body);
    if (root)
        root->clear();
    bool first = true;
    // atEnd() also turns true at the first error.
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const QString name = xml.name().toString();
        if (first && root)
            *root = name;
        first = false;
        if (!wanted.contains(name))
            continue;
        const QString text = xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        if (xml.hasError())
            break;
        found.append({name, text});
    }
    if (wellFormed)
        *wellFormed = !xml.hasError();
    return found;
}

QString notServiceXml(const QByteArray &body, bool wellFormed, const QString &root, const QString &expected,
                      const QString &service)
{
    if (body.trimmed().isEmpty())
        return QStringLiteral("The reply was empty.");
    // A page well-formed as XHTML is still no answer of the service.
    if (!wellFormed || root != expected)
        return "The reply is not " + service + " XML data.";
    return QString();
}

namespace {
const QString Root = QStringLiteral("QRZDatabase");
const QString Service = QStringLiteral("QRZ");
} // namespace

LoginReply parseLogin(const QByteArray &body)
{
    LoginReply reply;
    bool wellFormed = false;
    QString root;
    const QList<Element> elements = readElements(
        body, {QStringLiteral("Key"), QStringLiteral("SubExp"), QStringLiteral("Error")}, &wellFormed, &root);
    reply.failure = notServiceXml(body, wellFormed, root, Root, Service);
    if (!reply.failure.isEmpty())
        return reply;
    for (const Element &element : elements) {
        if (element.name == QLatin1String("Key")) {
            reply.key = element.text.trimmed();
        } else if (element.name == QLatin1String("SubExp")) {
            reply.subExp = element.text;
            reply.hasSubExp = true;
        } else if (!reply.hasError) {
            reply.error = element.text;
            reply.hasError = true;
        }
    }
    if (!reply.hasError && reply.key.isEmpty())
        reply.failure = QStringLiteral("The reply holds no session key.");
    return reply;
}

QString licenceClassWord(const QString &upperCaseClass)
{
    static const struct {
        const char *letter;
        const char *word;
    } words[] = {{"E", "Extra"},           {"A", "Advanced"}, {"G", "General"}, {"T", "Technician"},
                 {"P", "Technician Plus"}, {"N", "Novice"},   {"C", "Club"}};
    for (const auto &entry : words) {
        if (upperCaseClass == QLatin1String(entry.letter))
            return QString::fromLatin1(entry.word);
    }
    return upperCaseClass;
}

QString subscriptionExpiry(const QString &subExp)
{
    // "Www Mmm dd hh:mm:ss yyyy": anything shorter is shown as it came.
    if (subExp.size() < 18)
        return subExp;
    return subExp.mid(4, subExp.size() - 18) + QStringLiteral(", ") + subExp.right(4);
}

CallRecord parseCallRecord(const QByteArray &body)
{
    static const QStringList names{"call",   "fname",     "name",    "class", "expdate", "addr1", "addr2",
                                   "state",  "zip",       "country", "email", "lat",     "lon",   "grid",
                                   "geoloc", "GMTOffset", "DST",     "born",  "Key",     "Error"};
    CallRecord record;
    bool wellFormed = false;
    QString root;
    const QList<Element> elements = readElements(body, names, &wellFormed, &root);
    record.failure = notServiceXml(body, wellFormed, root, Root, Service);
    if (!record.failure.isEmpty())
        return record;
    for (const Element &element : elements) {
        const QString &name = element.name;
        const QString &text = element.text;
        if (name == QLatin1String("call"))
            record.call = text.toUpper();
        else if (name == QLatin1String("fname"))
            // A first name only: "MARY ANN" is addressed as Mary.
            record.fname = removeNuls(titleCase(text.split(QLatin1Char(' ')).first()));
        else if (name == QLatin1String("name"))
            record.last = removeNuls(titleCase(text));
        else if (name == QLatin1String("class"))
            record.licenceClass = licenceClassWord(text.toUpper());
        else if (name == QLatin1String("expdate"))
            record.expire = removeNuls(text);
        else if (name == QLatin1String("addr1"))
            record.address = removeNuls(titleCase(text));
        else if (name == QLatin1String("addr2"))
            record.city = removeNuls(titleCase(text));
        else if (name == QLatin1String("state"))
            record.state = removeNuls(text.toUpper());
        else if (name == QLatin1String("zip"))
            record.zip = removeNuls(text);
        else if (name == QLatin1String("country"))
            record.country = removeNuls(titleCase(text));
        else if (name == QLatin1String("email"))
            record.email = removeNuls(text);
        else if (name == QLatin1String("lat"))
            record.lat = removeNuls(text);
        else if (name == QLatin1String("lon"))
            record.lon = removeNuls(text);
        else if (name == QLatin1String("grid"))
            record.grid = removeNuls(text);
        else if (name == QLatin1String("geoloc"))
            record.source = removeNuls(titleCase(text));
        else if (name == QLatin1String("GMTOffset"))
            record.utc = removeNuls(text);
        else if (name == QLatin1String("DST"))
            record.dst = removeNuls(text);
        else if (name == QLatin1String("born"))
            record.born = removeNuls(text);
        else if (name == QLatin1String("Key")) {
            if (!text.trimmed().isEmpty()) {
                record.key = text.trimmed();
                record.hasKey = true;
            }
        } else if (name == QLatin1String("Error")) {
            record.error = removeNuls(text);
            record.hasError = true;
        }
    }
    return record;
}

StationRecord parseStationRecord(const QByteArray &body)
{
    // The same elements with the same clean-up as a call record.
    const CallRecord call = parseCallRecord(body);
    StationRecord record;
    record.call = call.hasError ? QStringLiteral("None") : call.call;
    record.state = call.state;
    record.lat = call.lat;
    record.lon = call.lon;
    record.grid = call.grid;
    record.utc = call.utc;
    record.dst = call.dst;
    record.key = call.key;
    record.hasKey = call.hasKey;
    record.failure = call.failure;
    return record;
}

} // namespace Qrz
