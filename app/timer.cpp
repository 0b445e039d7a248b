#include "app/timer.h"

TTimer::TTimer(QObject* owner, Clock& clock) : QObject(owner)
{
    ticks_ = clock.Schedule([this] {
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
        ticks_->Start(interval_);
    else
        ticks_->Stop();
}

void TTimer::SetInterval(int milliseconds)
{
    if (milliseconds == interval_)
        return;
    interval_ = milliseconds;
    if (enabled_)
        ticks_->Start(interval_);
}
