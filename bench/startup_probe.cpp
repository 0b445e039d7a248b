// The game's start-up, step for step as in its main(), ending right after the first paint of
// its window so that a benchmark can time start-up to the first painted window.

#include "app/form1.h"
#include "app/startup.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>

namespace {

// Leaves once the first paint of any widget has been delivered: the rest of that paint pass
// runs before the queued exit.
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

    ProgramSetup setup(app);

    TForm1* form = CreateMainWindow();
    form->show();
    return app.exec();
}
