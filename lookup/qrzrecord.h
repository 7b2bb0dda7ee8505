#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Pure readers of complete QRZ XML replies. They know nothing of the network
// or of the windows, so the same body always gives the same result.
namespace Qrz {

// One element of a reply, by local name, with its text.
struct Element {
    QString name;
    QString text;
};

// The elements named in `wanted`, in document order, wherever they stand and
// whatever their namespace. Reading stops at the first malformed spot (an
// element inside a wanted one counts as malformed); what came before stays.
// `wellFormed`, when given, tells whether the body was read to its end, and
// `root` the local name of its document element.
QList<Element> readElements(const QByteArray &body, const QStringList &wanted, bool *wellFormed = nullptr,
                            QString *root = nullptr);

// Why `body` is not a whole XML document whose root is `root` (the service's
// own), in words for the error log; empty when it is one.
QString notServiceXml(const QByteArray &body, bool wellFormed, const QString &root, const QString &expected,
                      const QString &service);

// What a login reply says. Only a whole document of the service that holds a
// key is a log-in: a portal page or a cut reply is not.
struct LoginReply {
    QString key;
    QString subExp;
    bool hasSubExp = false;
    QString error;
    bool hasError = false; // the service refused the login
    // Why the reply is no log-in when it neither holds a key nor says why.
    QString failure;
};

LoginReply parseLogin(const QByteArray &body);

// One station's call record, cleaned up for the contact table.
struct CallRecord {
    QString call;
    QString fname;
    QString last;
    QString licenceClass;
    QString expire;
    QString address;
    QString city;
    QString state;
    QString zip;
    QString country;
    QString email;
    QString phone; // never in a reply; only the stored contact fills it
    QString lat;
    QString lon;
    QString grid;
    QString source;
    QString utc;
    QString dst;
    QString born;
    QString error;
    bool hasError = false; // an Error element, even an empty one
    // Why the reply is no answer of the service (a portal's page, a cut or
    // empty reply); nothing else is set then.
    QString failure;

    // A reply may renew the session key; a key of blanks is none.
    QString key;
    bool hasKey = false;
};

CallRecord parseCallRecord(const QByteArray &body);

// The part of a call record that this station's own details use.
struct StationRecord {
    QString call;
    QString state;
    QString lat;
    QString lon;
    QString grid;
    QString utc;
    QString dst;

    QString key;
    bool hasKey = false;
    QString failure; // as a call record's
};

// A rejected call shows as the call "None".
StationRecord parseStationRecord(const QByteArray &body);

// "T" -> "Technician" and so on; any other text comes back unchanged.
QString licenceClassWord(const QString &upperCaseClass);

// "Thu Dec 31 00:00:00 2026" -> "Dec 31, 2026": weekday and time dropped.
QString subscriptionExpiry(const QString &subExp);

} // namespace Qrz
