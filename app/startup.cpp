#include "app/startup.h"

#include "pictures/jpeg_reader.h"
#include "pictures/loading.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QScreen>
#include <QSocketNotifier>
#include <QStringList>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

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

// The line the player reads when no display can be opened.
QString NoDisplayMessage()
{
    // Names the displays tried, which is what the player can put right.
    QStringList tried;
    for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"})
        if (qEnvironmentVariableIsSet(name))
            tried << QStringLiteral("%1=%2").arg(QLatin1String(name), qEnvironmentVariable(name));
    return QStringLiteral("mozario: cannot open the game's window: no display could be reached (%1)")
        .arg(tried.isEmpty() ? QStringLiteral("neither WAYLAND_DISPLAY nor DISPLAY is set") : tried.join(u", "));
}

// A message of the toolkit held while the display opens. Its file, function and category names
// are string literals of the toolkit, so the pointers stay good.
struct HeldMessage {
    QtMsgType type;
    const char* file;
    int line;
    const char* function;
    const char* category;
    QString text;
};

std::vector<HeldMessage> heldMessages;

// The line for a platform plugin the toolkit could not find (QT_QPA_PLATFORM naming one that
// is not installed, say), which no display would put right; empty when none was missing.
QString MissingPluginMessage()
{
    static const QRegularExpression notFound(QStringLiteral("^Could not find the Qt platform plugin \"([^\"]*)\""));
    for (const HeldMessage& m : heldMessages) {
        const QRegularExpressionMatch match = notFound.match(m.text);
        if (match.hasMatch())
            return QStringLiteral("mozario: cannot open the game's window: the toolkit's \"%1\" platform plugin is not installed")
                .arg(match.captured(1));
    }
    return {};
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        const QString missing = MissingPluginMessage();
        std::fprintf(stderr, "%s\n", qPrintable(missing.isEmpty() ? NoDisplayMessage() : missing));
        std::_Exit(1);
    }
    heldMessages.push_back({type, context.file, context.line, context.function, context.category, text});
}

}  // namespace

DisplayOpening::DisplayOpening() : previous_(qInstallMessageHandler(HoldMessage)) {}

void DisplayOpening::Opened()
{
    if (!holding_)
        return;
    holding_ = false;
    qInstallMessageHandler(previous_);
    for (const HeldMessage& m : heldMessages) {
        const QMessageLogContext context(m.file, m.line, m.function, m.category);
        qt_message_output(m.type, context, m.text);
    }
    heldMessages.clear();
}

ProgramSetup::ProgramSetup(QApplication& app)
{
    // Pictures of tens of megabytes come and go with every load, new game and exchange. Keeping
    // freed memory in the process lets the next picture reuse pages that are already mapped,
    // instead of mapping fresh ones and faulting in every page of them again.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);

    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.mozario.mozario"));

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
