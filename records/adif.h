#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// The ADI form of ADIF 3.1: a text header, then one record per contact, each
// field "<NAME:length>value" with the length in bytes. ADI is ASCII, so
// every value is brought to ASCII first.
namespace Adif {

inline constexpr char Version[] = "3.1.4";

// A value in ASCII: letters with accents lose them ("Zoë" -> "Zoe"), a few
// letters are spelled out ("ß" -> "ss"), anything else outside printable
// ASCII is dropped.
struct Ascii {
    QByteArray text;
    bool transliterated = false;
    bool dropped = false;
    bool changed() const { return transliterated || dropped; }
};
Ascii toAscii(const QString &value);

// "<NAME:length>value"; nothing for an empty value.
QByteArray field(const char *name, const QByteArray &value);

struct Header {
    QString programVersion;
    QDateTime created; // written in UTC
    QString note;      // free text before the fields, e.g. the zone used
};

// One check-in as a contact. Empty fields are left out.
struct Qso {
    QString call;
    QDateTime on; // any zone; written in UTC
    QString stationCall, name, qth, state, grid, comment, role;
    QString band, mode, frequency;
};

struct Written {
    QByteArray text;
    // One line per value that was not ASCII: what was written instead.
    QStringList notes;
};
Written write(const Header &header, const QList<Qso> &qsos);

} // namespace Adif
