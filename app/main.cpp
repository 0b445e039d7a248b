// mozario: a picture puzzle. Takes no command line and saves nothing.

#include "app/form1.h"
#include "pictures/jpeg_reader.h"
#include "pictures/loading.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>

int main(int, char** argv)
{
    // Only the program's name goes to the toolkit: the program reads no command line.
    int argc = 1;
    char* args[] = {argv[0], nullptr};
    QApplication app(argc, args);
    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.mozario.Mozario"));

    // The toolkit's file dialog keeps its history in the user's settings; the game saves
    // nothing, so that goes to a folder that is removed at exit.
    QTemporaryDir scratchSettings;
    if (scratchSettings.isValid()) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, scratchSettings.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, scratchSettings.path());
    }

    // The stock dialog and message box texts in Japanese, like the rest of the program.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qt_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTexts);

    const QScreen* screen = QGuiApplication::primaryScreen();
    pictures::SetDefaultJpegPixelFormat(pictures::JpegPixelFormatForScreenDepth(screen ? screen->depth() : 24));
    pictures::RegisterJpegFormats();

    TForm1* form = CreateMainWindow();
    form->show();
    app.exec();
    delete form;
    pictures::UnregisterJpegFormats();
    return 0;
}
