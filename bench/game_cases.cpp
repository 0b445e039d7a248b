// New game and the redraw after an exchange, against one copy of the picture's bytes.

#include "bench/cases.h"
#include "app/form1.h"

#include <cstring>
#include <vector>

namespace bench {

namespace {

void UsePicture(TForm1* form, const QImage& photo, int gridSide)
{
    form->Image2->SetPicture(pictures::Picture(photo, 24));
    ShowNewPicture(form);
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

// The centre of a cell of the board, in board pixels.
void PressCell(TForm1* form, int cell)
{
    const int side = form->Game.GridSide;
    const int x = (cell % side) * form->Image1->width() / side + form->Image1->width() / (2 * side);
    const int y = (cell / side) * form->Image1->height() / side + form->Image1->height() / (2 * side);
    form->Image1MouseDown(form, puzzle::MouseButton::Left, x, y);
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
    return {
        {"New game, 81 pieces, 24 MP (vs memcpy)", "newgame/81/24MP", "memcpy/24MP", 1, 2.5},
        {"redraw after exchange, 81 pieces, 24 MP (vs memcpy)", "redraw/81/24MP", "memcpy/24MP", 1, 2.0},
        {"New game: 81 vs 4 pieces, 24 MP", "newgame/81/24MP", "newgame/4/24MP", 1, 1.2},
        {"New game: 24 MP vs 4 x 6 MP", "newgame/81/24MP", "newgame/81/6MP", 4, 1.2},
        {"redraw: 81 vs 4 pieces, 24 MP", "redraw/81/24MP", "redraw/4/24MP", 1, 1.2},
        {"redraw: 24 MP vs 4 x 6 MP", "redraw/81/24MP", "redraw/81/6MP", 4, 1.2},
    };
}

}  // namespace bench
