// The game's start-up, step for step as in its main(), ending right after the first paint of
// its window so that a benchmark can time start-up to the first painted window.

#include "app/form1.h"
#include "app/startup.h"
#include "bench/first_paint_exit.h"

#include <QApplication>

int main(int, char** argv)
{
    int argc = 1;
    char* args[] = {argv[0], nullptr};
    QApplication app(argc, args);
    FirstPaintExit exitAfterPaint;
    app.installEventFilter(&exitAfterPaint);

    ProgramSetup setup(app);

    TForm1* form = CreateMainWindow();
    form->show();
    return app.exec();
}
