// The smallest Qt Widgets program that opens one empty window, ending right after its first
// paint: the yardstick for the game's start-up.

#include "bench/first_paint_exit.h"

#include <QApplication>
#include <QWidget>

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
