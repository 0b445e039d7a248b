// The game's start-up, step for step as in its main(), ending right after the first paint of
// its window so that a benchmark can time start-up to the first painted window.

#include "app/form1.h"
#include "pictures/jpeg_reader.h"
#include "pictures/loading.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
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

    QTemporaryDir scratchSettings;
    if (scratchSettings.isValid()) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, scratchSettings.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, scratchSettings.path());
    }

    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qt_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTexts);

    const QScreen* screen = QGuiApplication::primaryScreen();
    pictures::SetDefaultJpegPixelFormat(pictures::JpegPixelFormatForScreenDepth(screen ? screen->depth() : 24));
    pictures::RegisterJpegFormats();

    TForm1* form = CreateMainWindow();
    form->show();
    return app.exec();
}
