#include "app/timer.h"

TTimer::TTimer(QObject* owner) : QObject(owner)
{
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        if (enabled_ && OnTimer)
            OnTimer(this);
    });
}

void TTimer::SetEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    if (enabled_)
        timer_.start(interval_);
    else
        timer_.stop();
}

void TTimer::SetInterval(int milliseconds)
{
    if (milliseconds == interval_)
        return;
    interval_ = milliseconds;
    if (enabled_)
        timer_.start(interval_);
}
