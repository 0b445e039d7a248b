#pragma once
// The game's rules as plain functions on the fields. The window calls one of these per event
// and shows what they decided (app/board_look.h); nothing here knows the window or the pictures.

#include "puzzle/game_fields.h"
#include "puzzle/mouse_button.h"

#include <array>
#include <cstdint>

namespace puzzle {

// Start-up settings: 4 pieces, 60 seconds. The menus start with their items checked.
inline constexpr std::int32_t kStartupGridSide = 2;
inline constexpr std::int32_t kStartupTimeLimit = 60;
void ApplyStartupSettings(GameFields& f);

// A piece-count item: the new grid side, and the running game stops.
void ChoosePieceCount(GameFields& f, std::int32_t gridSide);
// A time-limit item (-1 for no limit): the running game stops, and the new limit.
void ChooseTimeLimit(GameFields& f, std::int32_t limit);

// Starts a game on a picture of the given size: counters and clock, the grid's tables, and a
// shuffle that never leaves the solved order.
void StartNewGame(GameFields& f, std::int32_t pictureWidth, std::int32_t pictureHeight);
// Exchanges 6n + 1 random pairs, in batches, until the first n entries are not in order.
void Shuffle(PieceTable& order, std::int32_t n);
bool IsSolved(const GameFields& f);

// The cell under a press on a board of boardWidth x boardHeight. Presses in the strips that
// the grid does not reach (7 and 9 pieces a side) take the nearest cell of the grid.
std::int32_t CellOfPress(std::int32_t gridSide, std::int32_t boardWidth, std::int32_t boardHeight,
                         std::int32_t x, std::int32_t y);

enum class PressEffect {
    NewGame,      // no game ran: the caller starts one
    FirstChosen,  // frame FirstCell in red
    Cancelled,    // show the work picture again
    Exchanged,    // count shown, FirstCell red, SecondCell blue, then SwapChosenPieces, redraw armed
};
PressEffect PressBoard(GameFields& f, MouseButton button, std::int32_t boardWidth,
                       std::int32_t boardHeight, std::int32_t x, std::int32_t y);
// The exchange itself, once both frames are on the board: a frame that fails to draw leaves
// the order as the board shows it.
void SwapChosenPieces(GameFields& f);

enum class TickEffect { Nothing, TimeShown, TimeUp };
// One second of the clock.
TickEffect CountDown(GameFields& f);
// The completion test after a redraw; ends the game when every piece is home.
bool FinishIfSolved(GameFields& f);

// A picture load, confirmed or cancelled: the game stops and the order resets.
void ResetForNewPicture(GameFields& f);

struct Point {
    std::int32_t x;
    std::int32_t y;
};
// A cell's outline: start, then four corners clockwise; the right and bottom sides lie one
// pixel past the cell.
std::array<Point, 5> CellFramePath(const GameFields& f, std::int32_t cell);

// Calls copy(dstLeft, dstTop, srcLeft, srcTop) for each of the first count cells: cell i
// receives the piece order[i]. Only reads the tables.
template <class Copy>
void ForEachPieceCopy(std::int32_t count, const PieceTable& lefts, const PieceTable& tops,
                      const PieceTable& order, Copy&& copy)
{
    for (std::int32_t i = 0; i < count && i < kTableSize; ++i) {
        const std::int32_t p = order[i];
        if (p < 0 || p >= kTableSize)
            continue;
        copy(lefts[i], tops[i], lefts[p], tops[p]);
    }
}

}  // namespace puzzle
