#pragma once

#include <QDateTime>
#include <QObject>

#include <functional>

// What the clock fields, the identification clock and the net records read
// as "now". Tests hand it a fake clock.
class Clock : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    QDateTime now() const { return source ? source() : QDateTime::currentDateTime(); }
    // Empty: the system's clock.
    void setSource(std::function<QDateTime()> clock) { source = std::move(clock); }

private:
    std::function<QDateTime()> source;
};
