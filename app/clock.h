#pragma once
// Where the timers' ticks come from: Qt's timers in the program; tests bring a clock that they
// advance by hand, so that no test waits for real time to pass.

#include <functional>
#include <memory>

class Clock {
public:
    // One periodic tick, delivered on the user-interface thread.
    class Ticks {
    public:
        virtual ~Ticks() = default;
        // Starts the period afresh: the first tick comes one full period from now.
        virtual void Start(int milliseconds) = 0;
        virtual void Stop() = 0;
    };

    virtual ~Clock() = default;
    // A stopped tick that calls `tick` once started.
    virtual std::unique_ptr<Ticks> Schedule(std::function<void()> tick) = 0;
};

// Qt's precise timers.
Clock& SystemClock();
