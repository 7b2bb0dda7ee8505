#pragma once

#include <QDateTime>
#include <QString>

// The station identification clock: a net control station must give its
// call at least every ten minutes. The clock runs while the net has entries;
// its first count starts with the first entry. Pure: every moment is handed
// in, so the clock can be driven by a fake one.
class IdReminder {
public:
    static constexpr int DueMinutes = 10;

    // The net's entries at `now`: the count starts when the first one comes
    // and stops when the last one goes.
    void netChanged(bool hasEntries, const QDateTime &now);
    // The operator gave the call now.
    void identified(const QDateTime &now);

    bool running() const { return since.isValid(); }
    // Whole minutes since the last identification, 0 when not running.
    int minutes(const QDateTime &now) const;
    bool due(const QDateTime &now) const { return running() && minutes(now) >= DueMinutes; }
    // What the status bar says at `now`; empty when not running.
    QString text(const QDateTime &now) const;

private:
    QDateTime since;
};
