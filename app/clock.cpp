#include "app/clock.h"

#include <QTimer>

namespace {

class QtTicks : public Clock::Ticks {
public:
    explicit QtTicks(std::function<void()> tick)
    {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, std::move(tick));
    }
    void Start(int milliseconds) override { timer_.start(milliseconds); }
    void Stop() override { timer_.stop(); }

private:
    QTimer timer_;
};

class QtClock : public Clock {
public:
    std::unique_ptr<Ticks> Schedule(std::function<void()> tick) override
    {
        return std::make_unique<QtTicks>(std::move(tick));
    }
};

}  // namespace

Clock& SystemClock()
{
    static QtClock clock;
    return clock;
}
