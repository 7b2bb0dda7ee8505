#pragma once

#include <QString>

// First character and every character after a blank upper case, all others
// lower case: "mc donald" -> "Mc Donald", "ANN-MARIE" -> "Ann-marie".
QString titleCase(const QString &text);

// One leading blank when the second character is a decimal digit, so that
// one- and two-letter prefixes line up on the region digit in a fixed-pitch
// column. Shorter texts come back unchanged.
QString justifyDigit(const QString &call);

// Only the digits of a text: how phone numbers are stored.
QString digitsOnly(const QString &text);

// The text without any NUL character.
QString removeNuls(const QString &text);

struct BearingDistance {
    int bearing = 0;   // whole degrees 0..359, clockwise from north
    int distance = 0;  // statute miles
};

// Initial great-circle bearing from point 1 to point 2 and the distance
// between them (spherical law of cosines, earth radius 3959 miles).
BearingDistance greatCircle(double lat1, double lon1, double lat2, double lon2);
