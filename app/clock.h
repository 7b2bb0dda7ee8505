#pragma once

#include <QDateTime>
#include <QObject>

#include <functional>

// What the clock fields, the identification clock and the net records read
// as "now", and the time every stored change is stamped with. While a net
// logged on paper is entered afterwards, the stamp is that net's time as
// the operator types it, not the clock's. Tests hand it a fake clock.
class Clock : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The time a change is stored with: in a past net the time last typed.
    QDateTime now() const { return pastAt.isValid() ? pastAt : live(); }
    // The running clock, whatever net is being entered.
    QDateTime live() const { return source ? source() : QDateTime::currentDateTime(); }
    // Empty: the system's clock.
    void setSource(std::function<QDateTime()> clock) { source = std::move(clock); }

    // A past net: its start, then each time typed; an invalid time goes
    // back to the running clock.
    bool pastNet() const { return pastAt.isValid(); }
    QDateTime pastStart() const { return pastBegan; }
    void beginPastNet(const QDateTime &start)
    {
        pastBegan = start;
        pastAt = start;
        emit pastNetChanged(start.isValid());
    }
    void setPastTime(const QDateTime &at) { pastAt = at; }
    void endPastNet() { beginPastNet(QDateTime()); }

signals:
    void pastNetChanged(bool on);

private:
    std::function<QDateTime()> source;
    QDateTime pastBegan;
    QDateTime pastAt;
};
