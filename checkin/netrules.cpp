#include "checkin/netrules.h"

namespace NetRules {

int initialStatus(int key)
{
    return key;
}

bool checksIn(int key)
{
    return key & CheckedIn;
}

Transition afterKey(int status, int key)
{
    int changed = status;
    if (key & Roles)
        changed ^= key & Roles;
    if ((key & CheckIn) && (key & CheckedIn))
        changed |= CheckedIn;
    bool withdraws = false;
    if ((key & CheckToggle) && (key & CheckedIn)) {
        changed ^= CheckedIn;
        withdraws = status & CheckedIn;
    }
    return {(key & StoreOnly) ? status : changed, withdraws};
}

QString logLetter(int status)
{
    if (status & Relay)
        return QStringLiteral("R");
    if (status & Traffic)
        return QStringLiteral("T");
    if (status & Mobile)
        return QStringLiteral("M");
    if (status & Short)
        return QStringLiteral("S");
    if (status & Ncs)
        return QStringLiteral("N");
    return QStringLiteral("-");
}

Line netLine(int status, bool active)
{
    const bool checked = status & CheckedIn;
    Line line;
    line.code = QStringLiteral("--");
    // The later roles win the code: traffic over mobile over short.
    if (status & Short)
        line.code = QStringLiteral("S-");
    if (status & Mobile)
        line.code = QStringLiteral("M-");
    if (status & Traffic)
        line.code = QStringLiteral("T-");
    if (status & Ncs) {
        line.code = checked ? QStringLiteral("NC") : QStringLiteral("N-");
        line.ink = Ink::Ncs;
        line.paper = Paper::Ncs;
    }
    // A relay overrides the NCS colours.
    if (status & Relay) {
        line.code = checked ? QStringLiteral("RC") : QStringLiteral("R-");
        line.ink = Ink::Relay;
        line.paper = Paper::Relay;
        if (checked) {
            line.ink = Ink::RelayChecked;
            line.paper = Paper::Normal;
            line.weight = Weight::Bold;
        }
    }
    if (checked && !(status & (Ncs | Relay))) {
        line.code = line.code.left(1) + QLatin1Char('C');
        line.ink = Ink::Checked;
        line.weight = Weight::Normal;
    }
    if (active)
        line.paper = Paper::Active;
    return line;
}

} // namespace NetRules
