#pragma once
// A timer component: ticks every Interval milliseconds while Enabled.
// Setting Enabled to the value it already has changes nothing; in particular it never
// restarts the period of a running timer.

#include "app/clock.h"

#include <QObject>
#include <functional>
#include <memory>

class TTimer : public QObject {
public:
    TTimer(QObject* owner, Clock& clock);

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    void SetInterval(int milliseconds);

    std::function<void(TTimer*)> OnTimer;

private:
    std::unique_ptr<Clock::Ticks> ticks_;
    bool enabled_ = false;
    int interval_ = 1000;
};
