#pragma once

#include <QString>

// The rules of the net list: the status bits of an entry, what each key does
// to them, and how an entry's line is shown. Values in, values out.
namespace NetRules {

// Bits of the key word that addContact is called with; the low six are also
// the status bits of an entry.
inline constexpr int Relay = 1;
inline constexpr int Traffic = 2;
inline constexpr int Mobile = 4;
inline constexpr int Short = 8;
inline constexpr int Ncs = 16;
inline constexpr int Roles = Relay | Traffic | Mobile | Short | Ncs;
inline constexpr int CheckedIn = 32;
inline constexpr int FromSearch = 64;   // pressed in the search box: the entry is cleared after
inline constexpr int StoreOnly = 128;   // stores what was typed, the status stays
inline constexpr int CheckToggle = 256; // F8: checks in, or withdraws the check-in
inline constexpr int CheckIn = 512;     // Enter in the comment: checks in

// A check-in logged this long ago or less is taken for tonight's: after a
// restart mid-net the station is not logged a second time.
inline constexpr int SameNetSeconds = 3 * 60 * 60;

// The status of an entry that a key puts into the net: the key word itself.
int initialStatus(int key);

// Whether the key logs a check-in for an entry that has no log row tonight.
bool checksIn(int key);

// What a key does to an entry already in the net.
struct Transition {
    int status = 0;         // the status stored
    bool withdraws = false; // the entry's check-in and its log row go
};
Transition afterKey(int status, int key);

// The letter of the log's status column: relay, traffic, mobile, short,
// NCS, the first role set wins; "-" without a role.
QString logLetter(int status);

// Colour roles of a net line; the theme gives each its colour.
// GCC takes these scoped names (Ink::Ncs) for hiding the bits above.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#endif
enum class Ink { Normal, Ncs, Relay, RelayChecked, Checked };
enum class Paper { Normal, Ncs, Relay, Active };
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
// A weight once set stays for the lines that follow until another line
// sets one.
enum class Weight { Unchanged, Bold, Normal };

struct Line {
    QString code; // two letters: role and check-in, e.g. "T-", "TC", "NC", "--"
    Ink ink = Ink::Normal;
    Paper paper = Paper::Normal;
    Weight weight = Weight::Unchanged;
};
// `active`: the line of the entry the operator is on.
Line netLine(int status, bool active);

} // namespace NetRules
