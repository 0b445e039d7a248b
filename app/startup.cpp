#include "app/startup.h"

#include "pictures/jpeg_reader.h"
#include "pictures/loading.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QScreen>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may only write to a descriptor; the event loop reads the other end.
int stopSignalPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    (void)!write(stopSignalPipe[0], &byte, 1);
    errno = saved;
}

// A desktop session that ends, a terminal's Ctrl+C or a plain kill: the loop ends as after
// 終了, so every window and folder the program made is taken down and the status is 0.
void WatchStopSignals(QApplication& app)
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, stopSignalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(stopSignalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char bytes[16];
        while (read(stopSignalPipe[1], bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

}  // namespace

ProgramSetup::ProgramSetup(QApplication& app)
{
    // Pictures of tens of megabytes come and go with every load, new game and exchange. Keeping
    // freed memory in the process lets the next picture reuse pages that are already mapped,
    // instead of mapping fresh ones and faulting in every page of them again.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);

    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.mozario.Mozario"));

    WatchStopSignals(app);

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
