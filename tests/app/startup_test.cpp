#include "app/picture_pane.h"
#include "app/startup.h"
#include "pictures/jpeg_reader.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <gtest/gtest.h>

// Start-up changes the whole process (signal handlers, the format registry, the message
// handler), so each case runs in a fresh process of its own that ends the way the program would.

namespace {

QApplication& App()
{
    return *static_cast<QApplication*>(QCoreApplication::instance());
}

// Runs in the test's own process: ends it with status 0 when cond holds, else says why.
void ExitWith(bool cond, const char* why)
{
    if (!cond)
        std::fprintf(stderr, "%s\n", why);
    std::fflush(stderr);
    std::_Exit(cond ? 0 : 1);
}

}  // namespace

TEST(StartupDeathTest, JpegFilesShowInThePaneAndStockTextsAreJapaneseWhileTheProgramIsSetUp)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto showPhoto = [] {
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.jpg");
        QImage image(64, 48, QImage::Format_RGB888);
        image.fill(Qt::green);
        image.save(photo, "JPEG");
        picture_dialog::PicturePane pane;
        const auto caption = [&] { return pane.findChild<QLabel*>()->text(); };
        pane.ShowFile(photo);
        if (caption() != QStringLiteral("画像:"))
            ExitWith(false, "a JPEG file showed before start-up");
        bool shown;
        pictures::SetDefaultJpegPixelFormat(pictures::JpegPixelFormat::Bits8);
        {
            ProgramSetup setup(App());
            // Photos decode to the screen's depth: colour reduced only for a screen of 8 bits.
            if (pictures::DefaultJpegPixelFormat() != pictures::JpegPixelFormat::Bits24)
                ExitWith(false, "start-up left the JPEG pixel format of an 8-bit screen on a 32-bit one");
            pane.ShowFile(photo);
            shown = caption() == QStringLiteral(" (64x48)");
            if (QCoreApplication::translate("QPlatformTheme", "Cancel") != QStringLiteral("キャンセル"))
                ExitWith(false, "the toolkit's own texts are not in Japanese after start-up");
        }
        ExitWith(shown, "the pane showed nothing for a JPEG file after start-up");
    };
    EXPECT_EXIT(showPhoto(), testing::ExitedWithCode(0), "");
}

TEST(StartupDeathTest, StopSignalsEndTheEventLoopWithStatusZero)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto runUntil = [](int stop) {
        ProgramSetup setup(App());
        QTimer::singleShot(0, [stop] { std::raise(stop); });
        // Only a loop that the signal failed to end gets here.
        QTimer::singleShot(20000, [] { ExitWith(false, "the event loop went on after the signal"); });
        std::_Exit(QApplication::exec());
    };
    for (int stop : {SIGTERM, SIGINT, SIGHUP})
        EXPECT_EXIT(runUntil(stop), testing::ExitedWithCode(0), "") << strsignal(stop);
}

TEST(StartupDeathTest, ADisplayThatCannotOpenGivesOneLineAndStatusOne)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Row {
        const char* wayland;  // null: unset
        const char* x11;
        const char* held;  // a message of the toolkit before its fatal one, or null
        const char* says;  // the whole of what the player reads (a regular expression)
    };
    const Row rows[] = {
        {nullptr, ":99", nullptr, "no display could be reached \\(DISPLAY=:99\\)"},
        {"wayland-7", ":99", "qt.qpa.xcb: could not connect to display :99",
         "no display could be reached \\(WAYLAND_DISPLAY=wayland-7, DISPLAY=:99\\)"},
        {nullptr, nullptr, nullptr, "no display could be reached \\(neither WAYLAND_DISPLAY nor DISPLAY is set\\)"},
        {nullptr, ":99", "Could not find the Qt platform plugin \"nosuch\" in \"\"",
         "the toolkit's \"nosuch\" platform plugin is not installed"},
    };
    const auto openFails = [](const Row& row) {
        for (const auto& [name, value] : {std::pair{"WAYLAND_DISPLAY", row.wayland}, std::pair{"DISPLAY", row.x11}}) {
            if (value)
                qputenv(name, value);
            else
                qunsetenv(name);
        }
        DisplayOpening opening;
        if (row.held)
            qWarning("%s", row.held);
        qFatal("This application failed to start because no Qt platform plugin could be initialized.");
    };
    for (const Row& row : rows) {
        EXPECT_EXIT(openFails(row), testing::ExitedWithCode(1),
                    std::string("(^|\n)mozario: cannot open the game's window: ") + row.says + "\n$")
            << row.says;
    }
}

namespace {

QStringList passedOn;

void Keep(QtMsgType, const QMessageLogContext&, const QString& text) { passedOn << text; }

}  // namespace

TEST(DisplayOpening, PassesTheToolkitsMessagesOnOnceTheDisplayIsOpen)
{
    passedOn.clear();
    const QtMessageHandler before = qInstallMessageHandler(Keep);
    {
        DisplayOpening opening;
        qWarning("while opening");
        EXPECT_TRUE(passedOn.isEmpty());
        opening.Opened();
        EXPECT_EQ(passedOn.join(u'|').toStdString(), "while opening");
        qWarning("afterwards");
        opening.Opened();  // a second time passes nothing on again
    }
    EXPECT_EQ(passedOn.join(u'|').toStdString(), "while opening|afterwards");
    qInstallMessageHandler(before);
}
