#include "records/adif.h"

#include <QChar>

namespace Adif {

namespace {

// Letters that do not decompose into an ASCII letter and a mark.
const char *spelledOut(char32_t c)
{
    switch (c) {
    case U'ß':
        return "ss";
    case U'æ':
        return "ae";
    case U'Æ':
        return "AE";
    case U'œ':
        return "oe";
    case U'Œ':
        return "OE";
    case U'ø':
        return "o";
    case U'Ø':
        return "O";
    case U'đ':
        return "d";
    case U'Đ':
        return "D";
    case U'ł':
        return "l";
    case U'Ł':
        return "L";
    case U'þ':
        return "th";
    case U'Þ':
        return "Th";
    case U'ð':
        return "d";
    case U'Ð':
        return "D";
    case U'ı':
        return "i";
    case U'‘':
    case U'’':
        return "'";
    case U'“':
    case U'”':
        return "\"";
    case U'–':
    case U'—':
        return "-";
    default:
        return nullptr;
    }
}

} // namespace

Ascii toAscii(const QString &value)
{
    Ascii out;
    out.text.reserve(value.size());
    for (const char32_t c : value.toUcs4()) {
        if (c >= 0x20 && c < 0x7f) {
            out.text.append(char(c));
            continue;
        }
        if (const char *spelled = spelledOut(c)) {
            out.text.append(spelled);
            out.transliterated = true;
            continue;
        }
        // Compatibility decomposition splits "é" into "e" and its accent and
        // a ligature or a full-width letter into plain ones.
        const QString parts = QString::fromUcs4(&c, 1).normalized(QString::NormalizationForm_KD);
        bool kept = false;
        for (const QChar part : parts) {
            const ushort u = part.unicode();
            if (u >= 0x20 && u < 0x7f) {
                out.text.append(char(u));
                kept = true;
            }
        }
        if (kept)
            out.transliterated = true;
        else
            out.dropped = true;
    }
    return out;
}

QByteArray field(const char *name, const QByteArray &value)
{
    if (value.isEmpty())
        return QByteArray();
    return '<' + QByteArray(name) + ':' + QByteArray::number(value.size()) + '>' + value + ' ';
}

Written write(const Header &header, const QList<Qso> &qsos)
{
    Written out;
    // The header starts with text, never with '<', so readers know it is one.
    QByteArray text = "Trelvin net log in ADIF " + QByteArray(Version) + '\n';
    if (!header.note.isEmpty())
        text += toAscii(header.note).text + '\n';
    text += field("ADIF_VER", Version) + '\n';
    text += field("PROGRAMID", "Trelvin") + '\n';
    text += field("PROGRAMVERSION", toAscii(header.programVersion).text) + '\n';
    text += field("CREATED_TIMESTAMP", header.created.toUTC().toString(QStringLiteral("yyyyMMdd HHmmss")).toLatin1())
            + '\n';
    text += "<EOH>\n\n";

    for (const Qso &qso : qsos) {
        const auto value = [&](const char *name, const QString &v) {
            const Ascii ascii = toAscii(v);
            if (ascii.changed())
                out.notes << QStringLiteral("%1 %2 '%3' was written as '%4'")
                                 .arg(qso.call, QLatin1String(name), v, QString::fromLatin1(ascii.text));
            return field(name, ascii.text);
        };
        const QDateTime on = qso.on.toUTC();
        QByteArray record;
        record += value("CALL", qso.call);
        record += field("QSO_DATE", on.toString(QStringLiteral("yyyyMMdd")).toLatin1());
        record += field("TIME_ON", on.toString(QStringLiteral("HHmmss")).toLatin1());
        record += value("STATION_CALLSIGN", qso.stationCall);
        record += value("BAND", qso.band);
        record += value("MODE", qso.mode);
        record += value("FREQ", qso.frequency);
        record += value("NAME", qso.name);
        record += value("QTH", qso.qth);
        record += value("STATE", qso.state);
        record += value("GRIDSQUARE", qso.grid);
        record += value("COMMENT", qso.comment);
        record += value("APP_TRELVIN_ROLE", qso.role);
        text += record + "<EOR>\n";
    }
    out.text = text;
    return out;
}

} // namespace Adif
