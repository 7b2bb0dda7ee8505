#include "lookup/hamqthclient.h"

#include "checkin/textrules.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

namespace HamQth {

namespace {

QString clean(const QString &text)
{
    return removeNuls(text.trimmed());
}

const QString Root = QStringLiteral("HamQTH");
const QString Service = QStringLiteral("HamQTH");

} // namespace

Session parseSession(const QByteArray &body)
{
    Session session;
    bool wellFormed = false;
    QString root;
    const QList<Qrz::Element> elements =
        Qrz::readElements(body, {QStringLiteral("session_id"), QStringLiteral("error")}, &wellFormed, &root);
    session.failure = Qrz::notServiceXml(body, wellFormed, root, Root, Service);
    if (!session.failure.isEmpty())
        return session;
    for (const Qrz::Element &element : elements) {
        if (element.name == QLatin1String("session_id"))
            session.id = clean(element.text);
        else if (session.error.isEmpty())
            session.error = clean(element.text);
    }
    if (session.id.isEmpty() && session.error.isEmpty())
        session.failure = QStringLiteral("The reply holds no session.");
    return session;
}

Qrz::CallRecord parseSearch(const QByteArray &body, QString *failure)
{
    static const QStringList names{"callsign", "nick",       "qth",         "country",    "adr_name", "adr_street1",
                                   "adr_city", "adr_zip",    "adr_country", "us_state",   "latitude", "longitude",
                                   "grid",     "utc_offset", "email",       "birth_year", "error"};
    Qrz::CallRecord record;
    failure->clear();
    bool wellFormed = false;
    QString root;
    const QList<Qrz::Element> elements = Qrz::readElements(body, names, &wellFormed, &root);
    *failure = Qrz::notServiceXml(body, wellFormed, root, Root, Service);
    if (!failure->isEmpty())
        return record;
    QString nick, qth, country, adrName, adrCountry;
    for (const Qrz::Element &element : elements) {
        const QString &name = element.name;
        const QString text = clean(element.text);
        if (name == QLatin1String("callsign"))
            record.call = text.toUpper();
        else if (name == QLatin1String("nick"))
            nick = text;
        else if (name == QLatin1String("qth"))
            qth = text;
        else if (name == QLatin1String("country"))
            country = text;
        else if (name == QLatin1String("adr_name"))
            adrName = text;
        else if (name == QLatin1String("adr_street1"))
            record.address = titleCase(text);
        else if (name == QLatin1String("adr_city"))
            record.city = titleCase(text);
        else if (name == QLatin1String("adr_zip"))
            record.zip = text;
        else if (name == QLatin1String("adr_country"))
            adrCountry = text;
        else if (name == QLatin1String("us_state"))
            record.state = text.toUpper();
        else if (name == QLatin1String("latitude"))
            record.lat = text;
        else if (name == QLatin1String("longitude"))
            record.lon = text;
        else if (name == QLatin1String("grid"))
            record.grid = text.left(4).toUpper() + text.mid(4).toLower();
        else if (name == QLatin1String("utc_offset"))
            record.utc = text;
        else if (name == QLatin1String("email"))
            record.email = text;
        else if (name == QLatin1String("birth_year"))
            record.born = text;
        else if (name == QLatin1String("error") && !record.hasError) {
            record.error = text;
            record.hasError = true;
        }
    }
    if (record.hasError)
        return record;
    if (record.call.isEmpty()) {
        *failure = QStringLiteral("The reply holds no call record.");
        return record;
    }
    // The postal name is the whole name; the nick is what the station goes by.
    const QStringList words = adrName.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    record.fname = titleCase(!nick.isEmpty() ? nick.split(QLatin1Char(' ')).first() : words.value(0));
    record.last = words.size() > 1 ? titleCase(words.last()) : QString();
    if (record.city.isEmpty())
        record.city = titleCase(qth);
    record.country = titleCase(!adrCountry.isEmpty() ? adrCountry : country);
    record.source = QStringLiteral("HamQTH");
    return record;
}

bool sessionExpired(const QString &error)
{
    return error.contains(QLatin1String("Session does not exist"), Qt::CaseInsensitive)
           || error.contains(QLatin1String("expired"), Qt::CaseInsensitive);
}

} // namespace HamQth

namespace {

QString encoded(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

// The body of a finished reply, or why there is none; the reply goes.
bool take(QNetworkReply *reply, QByteArray &body, QString &failure)
{
    const bool ok = replySucceeded(reply);
    if (ok)
        body = reply->readAll();
    else
        failure = replyFailure(reply);
    reply->deleteLater();
    return ok;
}

} // namespace

HamQthClient::HamQthClient(QNetworkAccessManager *network, QObject *parent) : QObject(parent), manager(network)
{
}

QUrl HamQthClient::url(const QString &query) const
{
    QUrl url = Net::address(serverBase, QStringLiteral("/xml.php"));
    url.setQuery(query, QUrl::StrictMode);
    return url;
}

void HamQthClient::setCredentials(const QString &user, const QString &password)
{
    if (user == userName && password == userPassword)
        return;
    userName = user;
    userPassword = password;
    session.clear();
    loggingIn = false;
    ++generation;
}

void HamQthClient::lookUp(const QString &call, int tag)
{
    if (!isConfigured()) {
        emit lookUpFailed("HamQTH look-up of " + call + " failed: no HamQTH user name and password are set.", tag);
        return;
    }
    const Pending pending{call, tag, false};
    if (session.isEmpty()) {
        waiting.append(pending);
        login();
        return;
    }
    search(pending);
}

void HamQthClient::login()
{
    if (loggingIn)
        return;
    loggingIn = true;
    const int started = generation;
    QNetworkReply *reply =
        Net::limitedGet(manager, url("u=" + encoded(userName) + "&p=" + encoded(userPassword)), requestLimits);
    connect(reply, &QNetworkReply::finished, this, [this, reply, started] {
        QByteArray body;
        QString failure;
        const bool ok = take(reply, body, failure);
        if (started != generation)
            return;
        loggingIn = false;
        if (!ok) {
            failAll("HamQTH login failed: " + failure);
            return;
        }
        const HamQth::Session answer = HamQth::parseSession(body);
        if (!answer.failure.isEmpty()) {
            failAll("HamQTH login failed: " + answer.failure, true);
            return;
        }
        if (answer.id.isEmpty()) {
            failAll("HamQTH login failed: " + answer.error);
            return;
        }
        session = answer.id;
        const QList<Pending> ready = waiting;
        waiting.clear();
        for (const Pending &pending : ready)
            search(pending);
    });
}

void HamQthClient::failAll(const QString &text, bool unreadable)
{
    const QList<Pending> failed = waiting;
    waiting.clear();
    for (const Pending &pending : failed)
        emit lookUpFailed(text + " (look-up of " + pending.call + ")", pending.tag, unreadable);
}

void HamQthClient::search(const Pending &pending)
{
    const QString query = "id=" + encoded(session) + "&callsign=" + encoded(pending.call) + "&prg=Trelvin";
    QNetworkReply *reply = Net::limitedGet(manager, url(query), requestLimits);
    connect(reply, &QNetworkReply::finished, this, [this, reply, pending] {
        QByteArray body;
        QString failure;
        if (!take(reply, body, failure)) {
            emit lookUpFailed("HamQTH look-up of " + pending.call + " failed: " + failure, pending.tag);
            return;
        }
        const Qrz::CallRecord record = HamQth::parseSearch(body, &failure);
        // Not the service's answer (a portal's page, a reply without a
        // record): nothing was learnt of the call.
        if (!failure.isEmpty()) {
            emit lookUpFailed("HamQTH look-up of " + pending.call + " failed: " + failure, pending.tag, true);
            return;
        }
        // An expired session: log in once more and ask again, once.
        if (record.hasError && HamQth::sessionExpired(record.error)) {
            session.clear();
            if (pending.retried) {
                emit lookUpFailed("HamQTH look-up of " + pending.call + " failed: " + record.error, pending.tag);
                return;
            }
            Pending again = pending;
            again.retried = true;
            waiting.append(again);
            login();
            return;
        }
        emit callRecord(record, pending.tag);
    });
}
