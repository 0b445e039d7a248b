#pragma once
// Ends the process once the first paint of any widget has been delivered: the rest of that
// paint pass runs before the queued exit. Lets a start-up be timed to its first painted window.

#include <QEvent>
#include <QObject>
#include <QTimer>
#include <cstdlib>

class FirstPaintExit : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !armed_) {
            armed_ = true;
            QTimer::singleShot(0, [] { std::_Exit(0); });
        }
        return false;
    }

private:
    bool armed_ = false;
};
