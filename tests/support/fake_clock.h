#pragma once
// A clock that moves only when a test advances it: every tick that falls due on the way is
// delivered in time order, as the event loop would deliver them.

#include "app/clock.h"

#include <algorithm>
#include <memory>
#include <vector>

class FakeClock : public Clock {
public:
    std::unique_ptr<Ticks> Schedule(std::function<void()> tick) override
    {
        return std::make_unique<FakeTicks>(*this, std::move(tick));
    }

    void Advance(long long milliseconds)
    {
        const long long until = now_ + milliseconds;
        for (;;) {
            FakeTicks* next = nullptr;
            for (FakeTicks* t : ticks_)
                if (t->running && t->due <= until && (!next || t->due < next->due))
                    next = t;
            if (!next)
                break;
            now_ = next->due;
            next->due += next->period;
            next->tick();
        }
        now_ = until;
    }

private:
    struct FakeTicks : Ticks {
        FakeTicks(FakeClock& clock, std::function<void()> tick) : clock(clock), tick(std::move(tick))
        {
            clock.ticks_.push_back(this);
        }
        ~FakeTicks() override { std::erase(clock.ticks_, this); }
        void Start(int milliseconds) override
        {
            period = std::max(milliseconds, 1);
            due = clock.now_ + period;
            running = true;
        }
        void Stop() override { running = false; }

        FakeClock& clock;
        std::function<void()> tick;
        bool running = false;
        long long due = 0;
        int period = 1;
    };

    long long now_ = 0;
    std::vector<FakeTicks*> ticks_;
};
