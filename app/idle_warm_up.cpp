#include "app/idle_warm_up.h"

namespace {

// One large page: a few milliseconds where the system must find and clear it.
constexpr qsizetype kSlice = qsizetype(2) << 20;

}  // namespace

IdleWarmUp::IdleWarmUp(QObject* owner) : QObject(owner)
{
    idle_.setInterval(0);  // runs whenever the event loop has nothing pending
    connect(&idle_, &QTimer::timeout, this, [this] {
        if (!pictures::WarmStorage(kSlice))
            idle_.stop();
    });
}

void IdleWarmUp::Start(const pictures::Picture& picture)
{
    pictures::ReserveStorage(picture.width(), picture.height(), picture.image().format());
    idle_.start();
}
