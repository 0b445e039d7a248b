#include "app/startup.h"

#include "pictures/jpeg_reader.h"
#include "pictures/loading.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QScreen>
#include <QSettings>
#include <malloc.h>

ProgramSetup::ProgramSetup(QApplication& app)
{
    // Pictures of tens of megabytes come and go with every load, new game and exchange. Keeping
    // freed memory in the process lets the next picture reuse pages that are already mapped,
    // instead of mapping fresh ones and faulting in every page of them again.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);

    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.mozario.Mozario"));

    // The toolkit's file dialog keeps its history in the user's settings; the game saves
    // nothing, so that goes to a folder that is removed at exit.
    if (scratchSettings_.isValid()) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, scratchSettings_.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, scratchSettings_.path());
    }

    // The stock dialog and message box texts in Japanese, like the rest of the program.
    if (qtTexts_.load(QStringLiteral("qt_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTexts_);

    const QScreen* screen = QGuiApplication::primaryScreen();
    pictures::SetDefaultJpegPixelFormat(pictures::JpegPixelFormatForScreenDepth(screen ? screen->depth() : 24));
    pictures::RegisterJpegFormats();
}

ProgramSetup::~ProgramSetup()
{
    pictures::UnregisterJpegFormats();
}
