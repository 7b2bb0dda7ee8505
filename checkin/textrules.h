#pragma once

#include <QString>

class QDateTime;
class QLineEdit;
class QWidget;

// First character and every character after a blank upper case, all others
// lower case: "mc donald" -> "Mc Donald", "ANN-MARIE" -> "Ann-marie".
QString titleCase(const QString &text);

// One leading blank when the second character is a decimal digit, so that
// one- and two-letter prefixes line up on the region digit in a fixed-pitch
// column. Shorter texts come back unchanged.
QString justifyDigit(const QString &call);

// Only the digits of a text: how phone numbers are stored.
QString digitsOnly(const QString &text);

// The text as a LIKE pattern that matches it literally, for `LIKE ? ESCAPE '\'`:
// a typed '%' or '_' is a character of a call, not a wildcard.
QString likeLiteral(const QString &text);

// At most `maxLength` UTF-16 units of the text, cut before the last
// character that would not fit whole: never half of a surrogate pair or of
// a character built from several code points.
QString clipped(const QString &text, int maxLength);

// Stored or looked-up text into a field with a maximum length, which would
// otherwise cut it in the middle of a character.
void setClipped(QLineEdit *field, const QString &text);

// A line edit cuts typed, pasted or dropped text at its maximum length in
// UTF-16 units, which can leave half an emoji that is then stored as bytes
// that are not UTF-8. After this the field keeps the same limit but cuts on
// whole characters, whichever way the text enters (setText included).
void keepWholeCharacters(QLineEdit *field);
// The same for every line edit with a maximum length below `form`.
void keepWholeCharacters(QWidget *form);
// The most UTF-16 units the field takes: its maximum length, or the limit
// that keepWholeCharacters() took over from it.
int characterLimit(const QLineEdit *field);

// Whether a log row stored with the local date "yyMMdd" and time "HH:mm:ss"
// was logged at most `seconds` before `now`, and not after it.
bool loggedWithin(const QString &date, const QString &time, const QDateTime &now, int seconds);

// The text without any NUL character.
QString removeNuls(const QString &text);

struct BearingDistance {
    int bearing = 0;  // whole degrees 0..359, clockwise from north
    int distance = 0; // statute miles
};

// Initial great-circle bearing from point 1 to point 2 and the distance
// between them (spherical law of cosines, earth radius 3959 miles).
BearingDistance greatCircle(double lat1, double lon1, double lat2, double lon2);
