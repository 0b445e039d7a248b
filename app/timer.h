#pragma once
// A timer component: ticks every Interval milliseconds while Enabled.
// Setting Enabled to the value it already has changes nothing; in particular it never
// restarts the period of a running timer.

#include <QObject>
#include <QTimer>
#include <functional>

class TTimer : public QObject {
public:
    explicit TTimer(QObject* owner);

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    int Interval() const { return interval_; }
    void SetInterval(int milliseconds);

    std::function<void(TTimer*)> OnTimer;

    // Milliseconds until the next tick, or -1 while stopped.
    int RemainingTime() const { return enabled_ ? timer_.remainingTime() : -1; }

private:
    QTimer timer_;
    bool enabled_ = false;
    int interval_ = 1000;
};
