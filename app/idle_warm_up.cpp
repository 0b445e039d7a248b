#include "app/idle_warm_up.h"

#include "pictures/picture.h"

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

void IdleWarmUp::Start(QSize size, QImage::Format format, int blocks)
{
    pictures::ReserveStorage(size.width(), size.height(), format, blocks);
    idle_.start();
}
