// New game and the redraw after an exchange, against one copy of the picture's bytes; and the
// first New game and first press after loading a camera-sized photo, against writing the
// picture's bytes once into memory the process has just been given.

#include "bench/cases.h"
#include "bench/test_pictures.h"
#include "tests/support/test_file.h"
#include "app/form1.h"

#include <QCoreApplication>
#include <QDir>
#include <cstring>
#include <malloc.h>
#include <sys/mman.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

namespace {

void UsePicture(TForm1* form, const QImage& photo, int gridSide)
{
    form->Image2->SetPicture(pictures::Picture(photo, 24));
    form->TakePicture(std::nullopt);
    switch (gridSide) {
    case 2: form->N41Click(form); break;
    default: form->N811Click(form); break;
    }
}

void NewGame(benchmark::State& state, const QImage& photo, int gridSide)
{
    TForm1* form = Form();
    UsePicture(form, photo, gridSide);
    for (auto _ : state)
        form->N2Click(form);
    form->Timer1->SetEnabled(false);
}

// Untimed: an exchange of two pieces with its two frames drawn on the board; timed: the redraw.
void Redraw(benchmark::State& state, const QImage& photo, int gridSide)
{
    TForm1* form = Form();
    UsePicture(form, photo, gridSide);
    form->N2Click(form);
    for (auto _ : state) {
        state.PauseTiming();
        if (form->Game.Playing != 1)
            form->N2Click(form);
        PressCell(form, 0);
        PressCell(form, gridSide * gridSide - 1);
        state.ResumeTiming();
        form->Timer2Timer(form);
    }
    form->Timer1->SetEnabled(false);
    form->Timer2->SetEnabled(false);
}

void Memcpy(benchmark::State& state, const QImage& photo)
{
    std::vector<char> from(size_t(photo.sizeInBytes()), 1), to(size_t(photo.sizeInBytes()), 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), to.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

// A camera-sized photo as a JPEG file, made on first use: 8000 x 6000 (48 MP) or
// 16000 x 12000 (192 MP).
const QString& CameraJpeg(int megapixels)
{
    static const QString large = [] {
        const QString file = QDir(Shared().dir).filePath(QStringLiteral("camera192.jpg"));
        test_file::Write(file, EncodeJpeg(PhotoLike(16000, 12000, 1), false));
        return file;
    }();
    static const QString path = [] {
        const QString file = QDir(Shared().dir).filePath(QStringLiteral("camera.jpg"));
        test_file::Write(file, EncodeJpeg(PhotoLike(8000, 6000, 1), false));
        return file;
    }();
    return megapixels > 48 ? large : path;
}

// What a case times after the load (untimed, with a New game before it unless it is the
// first): a New game, or a press on cell 0 with its red frame; painted as the window would.
// A later press follows an exchange and its redraw, so it works on memory already in use.
enum class Step { FirstNewGame, FirstPress, LaterNewGame, LaterPress };

// Untimed: the event loop run until the storage readied between events is all written, as
// when the player takes a moment after the photo shows.
void TakeAMoment()
{
    while (pictures::WarmStorage(0))
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// Each iteration starts from the photo just loaded into a process that holds no free memory,
// as after a player's first load. Without a moment, whatever the next step allocates the
// system must hand over and fault in.
void AfterLoad(benchmark::State& state, Step step, int megapixels, bool moment)
{
    TForm1* form = Form();
    CameraJpeg(megapixels);
    form->N811Click(form);
    for (auto _ : state) {
        state.PauseTiming();
        form->TakePicture(CameraJpeg(megapixels));
        PaintBoardAndPreview(form);  // the window shows the photo before any move
        malloc_trim(0);
        if (moment)
            TakeAMoment();
        if (step != Step::FirstNewGame) {
            form->N2Click(form);
            PaintBoardAndPreview(form);
        }
        if (step == Step::LaterPress) {
            PressCell(form, 0);
            PressCell(form, 1);
            form->Timer2Timer(form);
            PaintBoardAndPreview(form);
        }
        state.ResumeTiming();
        if (step == Step::FirstPress || step == Step::LaterPress)
            PressCell(form, 0);
        else
            form->N2Click(form);
        PaintBoardAndPreview(form);
    }
    form->Timer1->SetEnabled(false);
    TakeAMoment();
}

// The picture's bytes copied once into memory just obtained from the system, in pages of the
// ordinary size.
void FreshCopy(benchmark::State& state, bool largePages)
{
    const size_t bytes = size_t(8000) * 6000 * 3;
    const std::vector<char> from(bytes, 1);
    for (auto _ : state) {
        void* to = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (to == MAP_FAILED) {
            state.SkipWithError("no memory");
            break;
        }
        if (largePages)
            madvise(to, bytes, MADV_HUGEPAGE);
        std::memcpy(to, from.data(), bytes);
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
        state.PauseTiming();
        munmap(to, bytes);
        state.ResumeTiming();
    }
}

}  // namespace

std::vector<Row> RegisterGameCases()
{
    const Context& c = Shared();
    Configure(benchmark::RegisterBenchmark("memcpy/24MP", [&c](benchmark::State& s) { Memcpy(s, c.photo24); }));
    Configure(benchmark::RegisterBenchmark("memcpy/6MP", [&c](benchmark::State& s) { Memcpy(s, c.photo6); }));
    Configure(benchmark::RegisterBenchmark("newgame/81/24MP", [&c](benchmark::State& s) { NewGame(s, c.photo24, 9); }));
    Configure(benchmark::RegisterBenchmark("newgame/4/24MP", [&c](benchmark::State& s) { NewGame(s, c.photo24, 2); }));
    Configure(benchmark::RegisterBenchmark("newgame/81/6MP", [&c](benchmark::State& s) { NewGame(s, c.photo6, 9); }));
    Configure(benchmark::RegisterBenchmark("redraw/81/24MP", [&c](benchmark::State& s) { Redraw(s, c.photo24, 9); }));
    Configure(benchmark::RegisterBenchmark("redraw/4/24MP", [&c](benchmark::State& s) { Redraw(s, c.photo24, 2); }));
    Configure(benchmark::RegisterBenchmark("redraw/81/6MP", [&c](benchmark::State& s) { Redraw(s, c.photo6, 9); }));
    // Each iteration loads the photo again (untimed), so a few are enough. "first" moves come
    // straight after the load; "moment" ones after the storage readied between events is written.
    const std::pair<const char*, Step> steps[] = {{"newgame", Step::FirstNewGame},
                                                  {"press", Step::FirstPress},
                                                  {"later_newgame", Step::LaterNewGame},
                                                  {"later_press", Step::LaterPress}};
    for (auto [name, step] : steps) {
        Configure(benchmark::RegisterBenchmark((std::string("first/") + name + "/48MP").c_str(),
                                               [step](benchmark::State& s) { AfterLoad(s, step, 48, false); }))
            ->Iterations(4);
        for (int megapixels : {48, 192}) {
            const std::string case_ = std::string("moment/") + name + "/" + std::to_string(megapixels) + "MP";
            Configure(benchmark::RegisterBenchmark(case_.c_str(), [step, megapixels](benchmark::State& s) {
                AfterLoad(s, step, megapixels, true);
            }))->Iterations(megapixels > 48 ? 2 : 4);
        }
    }
    for (bool largePages : {false, true})
        Configure(benchmark::RegisterBenchmark(largePages ? "first/fresh_copy_large_pages/48MP" : "first/fresh_copy/48MP",
                                               [largePages](benchmark::State& s) { FreshCopy(s, largePages); }))
            ->Iterations(4);
    return {
        {"first New game after a load, 81 pieces, 48 MP (vs copy into fresh memory)", "first/newgame/48MP",
         "first/fresh_copy/48MP", 1, 1.5},
        {"first press after a New game, 48 MP (vs copy into fresh memory)", "first/press/48MP",
         "first/fresh_copy/48MP", 1, 1.5},
        {"first New game after a load, 48 MP (vs copy into fresh large pages)", "first/newgame/48MP",
         "first/fresh_copy_large_pages/48MP", 1, 1.5},
        {"first press after a New game, 48 MP (vs copy into fresh large pages)", "first/press/48MP",
         "first/fresh_copy_large_pages/48MP", 1, 1.5},
        {"first New game after a load vs a later one, 48 MP", "first/newgame/48MP", "first/later_newgame/48MP", 1,
         1.2},
        {"first press after a New game vs a later press, 48 MP", "first/press/48MP", "first/later_press/48MP", 1,
         1.2},
        {"first New game a moment after a load vs a later one, 48 MP", "moment/newgame/48MP",
         "moment/later_newgame/48MP", 1, 1.2},
        {"first press a moment after a New game vs a later press, 48 MP", "moment/press/48MP",
         "moment/later_press/48MP", 1, 1.2},
        {"first New game a moment after a load vs a later one, 192 MP", "moment/newgame/192MP",
         "moment/later_newgame/192MP", 1, 1.2},
        {"first press a moment after a New game vs a later press, 192 MP", "moment/press/192MP",
         "moment/later_press/192MP", 1, 1.2},
        {"New game, 81 pieces, 24 MP (vs memcpy)", "newgame/81/24MP", "memcpy/24MP", 1, 2.5},
        {"redraw after exchange, 81 pieces, 24 MP (vs memcpy)", "redraw/81/24MP", "memcpy/24MP", 1, 2.0},
        {"New game: 81 vs 4 pieces, 24 MP", "newgame/81/24MP", "newgame/4/24MP", 1, 1.2},
        {"New game: 24 MP vs 4 x 6 MP", "newgame/81/24MP", "newgame/81/6MP", 4, 1.2},
        {"redraw: 81 vs 4 pieces, 24 MP", "redraw/81/24MP", "redraw/4/24MP", 1, 1.2},
        {"redraw: 24 MP vs 4 x 6 MP", "redraw/81/24MP", "redraw/81/6MP", 4, 1.2},
    };
}

}  // namespace bench
