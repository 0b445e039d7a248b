#include "puzzle/rules.h"

#include "puzzle/random.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace puzzle {

void ApplyStartupSettings(GameFields& f)
{
    f.GridSide = kStartupGridSide;
    f.TimeLimit = kStartupTimeLimit;
    f.PieceCount = f.GridSide * f.GridSide;
}

void ChoosePieceCount(GameFields& f, std::int32_t gridSide)
{
    f.GridSide = gridSide;
    f.Playing = 0;
}

void ChooseTimeLimit(GameFields& f, std::int32_t limit)
{
    f.Playing = 0;
    f.TimeLimit = limit;
}

static bool FirstInOrder(const PieceTable& order, std::int32_t n)
{
    for (std::int32_t k = 0; k < n; ++k)
        if (order[k] != k)
            return false;
    return true;
}

void Shuffle(PieceTable& order, std::int32_t n)
{
    do {
        for (std::int32_t i = 0; i < 6 * n + 1; ++i) {
            const std::int32_t a = RandomBelow(n);
            const std::int32_t b = RandomBelow(n);
            std::swap(order[a], order[b]);
        }
    } while (FirstInOrder(order, n));
}

void StartNewGame(GameFields& f, std::int32_t pictureWidth, std::int32_t pictureHeight)
{
    // The menus offer only grids that fit the tables (checked where they are listed); any
    // other grid is refused before anything is written.
    if (f.GridSide < 1 || f.GridSide * std::int64_t(f.GridSide) > kTableSize)
        throw std::out_of_range("a grid beyond the piece tables");
    f.Playing = 1;
    f.TimeLeft = f.TimeLimit;
    f.SwapCount = 0;
    f.PieceCount = f.GridSide * f.GridSide;
    f.Selecting = 0;
    f.PictureHeight = pictureHeight;
    f.PictureWidth = pictureWidth;
    f.PieceWidth = f.PictureWidth / f.GridSide;
    f.PieceHeight = f.PictureHeight / f.GridSide;
    for (std::int32_t k = 0; k < f.PieceCount; ++k)
        f.PieceOrder[k] = k;
    std::int32_t k = 0;
    for (std::int32_t r = 0; r < f.GridSide; ++r) {
        for (std::int32_t c = 0; c < f.GridSide; ++c) {
            f.PieceLeft[k] = c * f.PieceWidth;
            f.PieceTop[k] = r * f.PieceHeight;
            ++k;
        }
    }
    Shuffle(f.PieceOrder, f.PieceCount);
}

bool IsSolved(const GameFields& f)
{
    return FirstInOrder(f.PieceOrder, f.PieceCount);
}

std::int32_t CellOfPress(std::int32_t gridSide, std::int32_t boardWidth, std::int32_t boardHeight,
                         std::int32_t x, std::int32_t y)
{
    const std::int32_t cellWidth = std::max(1, boardWidth / gridSide);
    const std::int32_t cellHeight = std::max(1, boardHeight / gridSide);
    const std::int32_t column = std::clamp(x / cellWidth, 0, gridSide - 1);
    const std::int32_t row = std::clamp(y / cellHeight, 0, gridSide - 1);
    return column + gridSide * row;
}

PressEffect PressBoard(GameFields& f, MouseButton button, std::int32_t boardWidth,
                       std::int32_t boardHeight, std::int32_t x, std::int32_t y)
{
    if (f.Playing != 1)
        return PressEffect::NewGame;
    if (f.Selecting == 0) {
        f.Selecting = 1;
        f.FirstCell = CellOfPress(f.GridSide, boardWidth, boardHeight, x, y);
        return PressEffect::FirstChosen;
    }
    if (button == MouseButton::Right) {
        f.Selecting = 0;
        return PressEffect::Cancelled;
    }
    f.SwapCount += 1;
    f.Selecting = 0;
    f.SecondCell = CellOfPress(f.GridSide, boardWidth, boardHeight, x, y);
    return PressEffect::Exchanged;
}

void SwapChosenPieces(GameFields& f)
{
    std::swap(f.PieceOrder[f.FirstCell], f.PieceOrder[f.SecondCell]);
}

TickEffect CountDown(GameFields& f)
{
    if (f.Playing != 1)
        return TickEffect::Nothing;
    if (f.TimeLimit >= 0)
        f.TimeLeft -= 1;
    if (f.TimeLeft == 0) {
        f.Playing = 0;
        return TickEffect::TimeUp;
    }
    return TickEffect::TimeShown;
}

bool FinishIfSolved(GameFields& f)
{
    if (!IsSolved(f))
        return false;
    f.Playing = 0;
    return true;
}

void ResetForNewPicture(GameFields& f)
{
    f.Playing = 0;
    for (std::int32_t k = 0; k < f.PieceCount && k < kTableSize; ++k)
        f.PieceOrder[k] = k;
}

std::array<Point, 5> CellFramePath(const GameFields& f, std::int32_t cell)
{
    const std::int32_t l = f.PieceLeft[cell];
    const std::int32_t t = f.PieceTop[cell];
    const std::int32_t r = l + f.PieceWidth;
    const std::int32_t b = t + f.PieceHeight;
    return {Point{l, t}, Point{r, t}, Point{r, b}, Point{l, b}, Point{l, t}};
}

}  // namespace puzzle
