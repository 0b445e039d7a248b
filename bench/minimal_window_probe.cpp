// The smallest Qt Widgets program that opens one empty window, ending right after its first
// paint: the yardstick for the game's start-up.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdlib>

namespace {

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

}  // namespace

int main(int, char** argv)
{
    int argc = 1;
    char* args[] = {argv[0], nullptr};
    QApplication app(argc, args);
    FirstPaintExit exitAfterPaint;
    app.installEventFilter(&exitAfterPaint);
    QWidget window;
    window.resize(492, 578);
    window.show();
    return app.exec();
}
