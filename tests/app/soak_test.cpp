// A long random run of the whole program through its handlers: presses anywhere on the board
// with every button, every menu command, both timers' ticks, and loads of good and bad files.
// After every event the game's fields must be consistent, a good file must never fail, a bad
// one must change nothing, and memory must not grow over the run.
//
// MOZARIO_SOAK_EVENTS sets the number of events (100,000 by default); the thresholds follow it.

#include "app/form1.h"
#include "pictures/failure.h"
#include "puzzle/random.h"
#include "tests/support/bmp_file.h"
#include "tests/support/jpeg_file.h"
#include "tests/support/memory.h"
#include "tests/support/test_file.h"

#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using bmp_file::BmpFile;

QByteArray Q(const std::string& s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

struct PictureFile {
    QString path;
    int width = 0;
    int height = 0;
    bool good = true;
};

class Soak : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // Small pictures of every kind, one smaller than the largest grid.
        struct Bitmap {
            const char* name;
            int width, height, bpp;
        };
        for (const Bitmap& b : {Bitmap{"one.bmp", 37, 23, 1}, Bitmap{"four.bmp", 40, 30, 4},
                                Bitmap{"eight.bmp", 64, 48, 8}, Bitmap{"sixteen.bmp", 33, 27, 16},
                                Bitmap{"truecolour.bmp", 72, 54, 24}, Bitmap{"thirtytwo.bmp", 45, 45, 32},
                                Bitmap{"tiny.bmp", 5, 4, 24}, Bitmap{"tall.bmp", 9, 80, 24},
                                Bitmap{"line.bmp", 30, 1, 24}}) {
            Add(b.name, Q(bmp_file::Picture(b.width, b.height, b.bpp, b.width % 2 == 1).build()), b.width, b.height);
        }
        const std::string ppm = jpeg_file::Pnm(jpeg_file::Photo(56, 42, 3), 56, 42, 3);
        for (const auto& [name, options] : std::vector<std::pair<QString, std::string>>{
                 {QStringLiteral("photo.jpg"), ""},
                 {QStringLiteral("progressive.jpeg"), "-progressive"},
                 {QStringLiteral("grey"), "-grayscale"},
                 {QStringLiteral("CAT.JPG"), "-arithmetic"}}) {
            Add(name, Q(jpeg_file::Cjpeg(ppm, options, dir.path().toStdString())), 56, 42);
        }
        // Bad ones: each must fail and change nothing.
        const QByteArray bitmap = Q(bmp_file::Picture(6, 6, 24).build());
        AddBad(QStringLiteral("renamed.jpg"), bitmap);
        AddBad(QStringLiteral("CAPITALS.BMP"), bitmap);
        AddBad(QStringLiteral("cut.bmp"), bitmap.left(30));
        AddBad(QStringLiteral("empty.jpg"), QByteArray());
        AddBad(QStringLiteral("huge.bmp"), Q([] {
                   BmpFile f = bmp_file::Picture(2, 2, 24);
                   f.width = 65535;
                   f.height = 65535;
                   return f.build();
               }()));
        bad.push_back({dir.filePath(QStringLiteral("missing.jpg")), 0, 0, false});

        form.reset(CreateMainWindow());
        puzzle::RandomState = 12345;
    }

    void Add(const QString& name, const QByteArray& bytes, int width, int height)
    {
        good.push_back({Write(name, bytes), width, height, true});
    }
    void AddBad(const QString& name, const QByteArray& bytes) { bad.push_back({Write(name, bytes), 0, 0, false}); }

    QString Write(const QString& name, const QByteArray& bytes) { return test_file::Write(dir.filePath(name), bytes); }

    QTemporaryDir dir;
    std::vector<PictureFile> good;
    std::vector<PictureFile> bad;
    std::unique_ptr<TForm1> form;
};

long long EventCount()
{
    const QByteArray env = qgetenv("MOZARIO_SOAK_EVENTS");
    const long long n = env.isEmpty() ? 0 : std::atoll(env.constData());
    return n > 0 ? n : 100000;
}

TEST_F(Soak, RandomPlayKeepsTheGameConsistent)
{
    const long long events = EventCount();
    std::mt19937 rng(20240607u);
    auto below = [&](int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(rng)); };

    TMenuItem* const settings[] = {form->N41.get(),  form->N91.get(),  form->N161.get(), form->N251.get(),
                                   form->N361.get(), form->N491.get(), form->N641.get(), form->N811.get(),
                                   form->N301.get(), form->N451.get(), form->N601.get(), form->N901.get(),
                                   form->N1201.get(), form->N1801.get(), form->N7.get()};
    const puzzle::MouseButton buttons[] = {puzzle::MouseButton::Left, puzzle::MouseButton::Right,
                                           puzzle::MouseButton::Middle};
    const puzzle::GameFields& g = form->Game;
    const int boardWidth = form->Image1->width();
    const int boardHeight = form->Image1->height();

    bool calm = false;
    bool started = false;
    int side = 0;  // grid side of the last new game
    int pictureWidth = 0, pictureHeight = 0;
    long long loads = 0, failures = 0, games = 0, exchanges = 0, timeUps = 0, clears = 0;
    long long warmMemory = 0;
    // The memory after the warm-up is taken at the latest after the first event.
    const long long warmUp = std::clamp<long long>(events / 10, 1, 10000);

    for (long long e = 0; e < events; ++e) {
        const puzzle::GameFields before = form->Game;
        const qint64 swapsBefore = g.SwapCount;
        bool newGame = false;
        std::string what;
        // Calm stretches of presses and ticks only let games run to their end (a clock of 30
        // seconds or more needs that many ticks); busy ones mix in every command.
        if (below(150) == 0)
            calm = !calm;
        const int kind = calm ? below(80) : below(100);
        if (kind < 55) {
            // A press anywhere on the board, the strips and the last pixel included.
            const int x = below(8) == 0 ? (below(2) ? 0 : boardWidth - 1) : below(boardWidth);
            const int y = below(8) == 0 ? (below(2) ? 0 : boardHeight - 1) : below(boardHeight);
            const puzzle::MouseButton button = buttons[below(3)];
            what = "press at " + std::to_string(x) + "," + std::to_string(y);
            newGame = before.Playing != 1;
            form->Image1MouseDown(form->Image1, button, x, y);
        } else if (kind < 70) {
            // Timers tick only while they are on.
            if (!form->Timer2->Enabled()) {
                --e;
                continue;
            }
            what = "redraw tick";
            const bool wasPlaying = g.Playing == 1;
            form->Timer2Timer(form->Timer2);
            clears += wasPlaying && g.Playing == 0 ? 1 : 0;
        } else if (kind < 80) {
            if (!form->Timer1->Enabled()) {
                --e;
                continue;
            }
            what = "clock tick";
            const bool wasPlaying = g.Playing == 1;
            form->Timer1Timer(form->Timer1);
            timeUps += wasPlaying && g.Playing == 0 ? 1 : 0;
        } else if (kind < 84) {
            what = "new game";
            newGame = true;
            form->N2->Action()->trigger();
        } else if (kind < 95) {
            TMenuItem* item = settings[below(int(std::size(settings)))];
            what = "menu " + item->Action()->text().toStdString();
            item->Action()->trigger();
        } else {
            // The load command: a good file, a bad one, or the dialog cancelled.
            const int pick = below(10);
            const PictureFile* chosen = pick < 6 ? &good[size_t(below(int(good.size())))]
                     : pick < 9 ? &bad[size_t(below(int(bad.size())))]
                                : nullptr;
            what = "load " + (chosen ? chosen->path.toStdString() : std::string("(cancelled)"));
            const pictures::Picture source = form->Image2->Picture();
            ++loads;
            try {
                // The step after the dialog; a null choice is a cancelled dialog.
                form->TakePicture(chosen ? std::optional<QString>(chosen->path) : std::nullopt);
                ASSERT_TRUE(chosen == nullptr || chosen->good) << "a bad file loaded: " << what;
                if (chosen) {
                    ASSERT_EQ(form->Image2->Picture().width(), chosen->width) << what;
                    ASSERT_EQ(form->Image2->Picture().height(), chosen->height) << what;
                    ASSERT_EQ(form->Image2->size(), QSize(chosen->width, chosen->height)) << what;
                }
                ASSERT_EQ(g.Playing, 0) << what;
            } catch (const pictures::Failure& failure) {
                ++failures;
                ASSERT_TRUE(chosen && !chosen->good) << "a good file failed: " << what << ": " << failure.what();
                ASSERT_EQ(form->Image2->Picture().storage(), source.storage()) << what;
                ASSERT_EQ(g.Playing, before.Playing) << what;
                ASSERT_EQ(g.PieceOrder, before.PieceOrder) << what;
                ASSERT_EQ(g.Selecting, before.Selecting) << what;
            }
        }

        if (newGame) {
            ASSERT_EQ(g.Playing, 1) << "event " << e << ": " << what;
            started = true;
            side = g.GridSide;
            // A new game measures the source surface, which takes the size of its picture.
            pictureWidth = form->Image2->width();
            pictureHeight = form->Image2->height();
            ++games;
        }
        exchanges += g.SwapCount > swapsBefore ? 1 : 0;

        // The fields after every event.
        SCOPED_TRACE("event " + std::to_string(e) + ": " + what);
        ASSERT_TRUE(g.Playing == 0 || g.Playing == 1) << g.Playing;
        ASSERT_TRUE(g.Selecting == 0 || g.Selecting == 1) << g.Selecting;
        ASSERT_GE(g.GridSide, 2);
        ASSERT_LE(g.GridSide, 9);
        if (started) {
            ASSERT_EQ(g.PieceCount, side * side);
            ASSERT_EQ(g.PictureWidth, pictureWidth);
            ASSERT_EQ(g.PictureHeight, pictureHeight);
            ASSERT_EQ(g.PieceWidth, pictureWidth / side);
            ASSERT_EQ(g.PieceHeight, pictureHeight / side);
            std::vector<bool> seen(size_t(g.PieceCount), false);
            for (int k = 0; k < g.PieceCount; ++k) {
                const int p = g.PieceOrder[size_t(k)];
                ASSERT_TRUE(p >= 0 && p < g.PieceCount && !seen[size_t(p)]) << "cell " << k << " shows " << p;
                seen[size_t(p)] = true;
                ASSERT_EQ(g.PieceLeft[size_t(k)], (k % side) * g.PieceWidth) << k;
                ASSERT_EQ(g.PieceTop[size_t(k)], (k / side) * g.PieceHeight) << k;
            }
            if (g.Playing == 1 && g.Selecting == 1) {
                ASSERT_GE(g.FirstCell, 0);
                ASSERT_LT(g.FirstCell, g.PieceCount);
            }
        } else {
            ASSERT_EQ(g.PieceCount, 4);
        }
        if (g.Playing == 1) {
            // A limit chosen during a game stops it, so the running game's limit is the current one.
            if (g.TimeLimit < 0) {
                ASSERT_EQ(g.TimeLeft, -1);
            } else {
                ASSERT_GE(g.TimeLeft, 1);
                ASSERT_LE(g.TimeLeft, g.TimeLimit);
            }
        }

        if (e + 1 == warmUp)
            warmMemory = test_memory::InUseBytes();
    }

    const long long endMemory = test_memory::InUseBytes();
    // The run's figures, in the test's XML report (--gtest_output=xml).
    RecordProperty("events", std::to_string(events));
    RecordProperty("games", std::to_string(games));
    RecordProperty("exchanges", std::to_string(exchanges));
    RecordProperty("cleared", std::to_string(clears));
    RecordProperty("timedOut", std::to_string(timeUps));
    RecordProperty("loads", std::to_string(loads));
    RecordProperty("refused", std::to_string(failures));
    RecordProperty("memoryAfterWarmUpKb", std::to_string(warmMemory / 1024));
    RecordProperty("memoryAtEndKb", std::to_string(endMemory / 1024));
    // In proportion to the run (100,000 events: 100 games, 1,000 exchanges, 10 clears ...),
    // each share once the run is long enough to expect one.
    const auto expectShare = [&](long long count, long long per, const char* what) {
        if (events >= per) {
            EXPECT_GT(count, events / per) << what;
        }
    };
    expectShare(games, 1000, "games");
    expectShare(exchanges, 100, "exchanges");
    expectShare(loads, 100, "loads");
    expectShare(failures, 1000, "refused loads");
    EXPECT_GE(clears, events / 10000);
    EXPECT_GE(timeUps, events / 10000);
    // The pictures in play at the end may differ in size from those after the warm-up; the
    // largest takes well under a megabyte with all its copies.
    EXPECT_LT(endMemory - warmMemory, 4LL << 20) << "bytes gained after the warm-up";
}

}  // namespace
