#include "sync/syncrecords.h"

#include "checkin/textrules.h"
#include "data/schema.h"

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QTime>
#include <QVariant>

SyncChange syncChangeFrom(const QSqlQuery &row, int first)
{
    SyncChange change;
    int column = first;
    const auto next = [&] { return row.value(column++); };
    change.id = next().toString();
    change.net = next().toString();
    change.origin = next().toString();
    change.kind = next().toString();
    change.call = next().toString();
    change.status = next().toInt();
    change.name = next().toString();
    change.city = next().toString();
    change.state = next().toString();
    change.comment = next().toString();
    change.relay = next().toString();
    change.time = next().toString();
    change.logged = next().toBool();
    change.logDate = next().toString();
    change.logTime = next().toString();
    change.logStatus = next().toString();
    change.made = next().toString();
    change.data = next().toString();
    return change;
}

QString syncRosterData(const QString &club)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{club}).toJson(QJsonDocument::Compact));
}

bool syncDataFields(const QString &data, int count, QStringList &fields)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != count)
        return false;
    fields.clear();
    for (const QJsonValue &value : document.array()) {
        if (!value.isString() && !value.isNull())
            return false;
        fields.append(value.toString());
    }
    return true;
}

namespace {

bool isHexId(const QString &text)
{
    if (text.size() != 32)
        return false;
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

// ASCII letters, digits and '/', as the server's CHECK has it (its regular
// expressions know no other letters in every locale).
bool isCallSign(const QString &text)
{
    if (text.isEmpty() || text.size() > SyncLimits::Call)
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '/'))
            return false;
    }
    return true;
}

bool hasControl(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// A single-line text of at most `limit` characters, cut when longer; false
// for one that no program writes.
bool fitText(QString &text, int limit)
{
    if (hasControl(text) || text.size() > 2 * SyncLimits::Text || text.toUcs4().size() > SyncLimits::Text)
        return false;
    text = clipped(text, limit);
    return true;
}

bool isTime(const QString &text, const QString &format)
{
    return text.isEmpty() || (text.size() == format.size() && QTime::fromString(text, format).isValid());
}

// The contact's stored fields as the Contact dialog bounds them, call first.
const int ContactLimits[Schema::ContactFields] = {
    SyncLimits::Call, 20, 20, 10, 10, 30, 30, 2, 12, 30, 30, 15, 9, 9, 6, 8, 6, 3, 4};

} // namespace

QString syncCheck(SyncChange &change)
{
    if (!isHexId(change.id))
        return QStringLiteral("its id is not one a program makes");
    if (!isHexId(change.origin))
        return QStringLiteral("its origin is not a program's id");
    if (change.oseq < 0 || change.seq < 0)
        return QStringLiteral("its place is out of range");
    static const QStringList inNet = {QStringLiteral("net"), QStringLiteral("entry"), QStringLiteral("remove"),
                                      QStringLiteral("close")};
    static const QStringList outside = {QStringLiteral("contact"), QStringLiteral("uncontact"),
                                        QStringLiteral("member"), QStringLiteral("nonmember")};
    const bool netKind = inNet.contains(change.kind);
    if (!netKind && !outside.contains(change.kind))
        return QStringLiteral("its kind is unknown");
    if (netKind ? !isHexId(change.net) : !change.net.isEmpty())
        return QStringLiteral("its net is not a net's id");
    // A net's call is its net control station's, unknown when this station has no call.
    const bool callOptional = change.kind == QLatin1String("net") || change.kind == QLatin1String("close");
    if (!(callOptional && change.call.isEmpty()) && !isCallSign(change.call))
        return QStringLiteral("its call is not a call sign");
    if (change.status < 0 || change.status > SyncLimits::Status)
        return QStringLiteral("its status is out of range");
    if (!change.relay.isEmpty() && !isCallSign(change.relay))
        return QStringLiteral("its relay is not a call sign");
    for (const auto &[text, limit, what] :
         {std::tuple{&change.name, SyncLimits::Name, "name"}, std::tuple{&change.city, SyncLimits::City, "city"},
          std::tuple{&change.state, SyncLimits::State, "state"},
          std::tuple{&change.comment, SyncLimits::Comment, "comment"}}) {
        if (!fitText(*text, limit))
            return QStringLiteral("its %1 is no single line of at most %2 characters")
                .arg(QLatin1String(what))
                .arg(SyncLimits::Text);
    }
    if (!isTime(change.time, QStringLiteral("HH:mm")))
        return QStringLiteral("its time is not a time");
    if (!change.logDate.isEmpty()
        && (change.logDate.size() != 6 || !QDate::fromString(change.logDate, QStringLiteral("yyMMdd")).isValid()))
        return QStringLiteral("its log date is not a date");
    if (!isTime(change.logTime, QStringLiteral("HH:mm:ss")))
        return QStringLiteral("its log time is not a time");
    if (change.logged && (change.logDate.isEmpty() || change.logTime.isEmpty()))
        return QStringLiteral("it is logged without a date and time");
    if (change.logStatus.size() > 1 || !QStringLiteral("RTMSN-").contains(change.logStatus))
        return QStringLiteral("its log status is unknown");
    const QDateTime made = QDateTime::fromString(change.made, Qt::ISODateWithMs);
    if (!made.isValid())
        return QStringLiteral("its time of making is not a time");

    if (change.data.toUtf8().size() > SyncLimits::Data)
        return QStringLiteral("its data is larger than %1 bytes").arg(SyncLimits::Data);
    QStringList fields;
    if (change.kind == QLatin1String("contact")) {
        if (!syncDataFields(change.data, Schema::ContactFields, fields) || fields.first() != change.call)
            return QStringLiteral("its data is not the contact's fields");
        QJsonArray cut;
        bool changed = false;
        for (int k = 0; k < fields.size(); ++k) {
            const int before = int(fields.at(k).size());
            if (!fitText(fields[k], ContactLimits[k]))
                return QStringLiteral("a field of its contact is no single line of at most %1 characters")
                    .arg(SyncLimits::Text);
            changed = changed || fields.at(k).size() != before;
            cut.append(fields.at(k));
        }
        // Untouched data keeps its bytes.
        if (changed)
            change.data = QString::fromUtf8(QJsonDocument(cut).toJson(QJsonDocument::Compact));
    } else if (change.kind == QLatin1String("member") || change.kind == QLatin1String("nonmember")) {
        if (!syncDataFields(change.data, 1, fields) || fields.first().size() > SyncLimits::Club
            || hasControl(fields.first()))
            return QStringLiteral("its data is not a club");
    } else if (!change.data.isEmpty()) {
        return QStringLiteral("it carries data its kind has none of");
    }
    return QString();
}

bool syncNetUsable(const SyncNet &net)
{
    return isHexId(net.id) && isHexId(net.origin) && (net.ncs.isEmpty() || isCallSign(net.ncs))
           && QDateTime::fromString(net.started, Qt::ISODateWithMs).isValid() && net.stations >= 0;
}
