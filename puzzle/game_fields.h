#pragma once
// The game's state: plain fields owned by the main window, zero when the window is created.

#include <array>
#include <cstdint>
#include <string>

namespace puzzle {

// Tables hold 82 entries; a 9 x 9 grid uses entries 0 to 80.
inline constexpr int kTableSize = 82;
using PieceTable = std::array<std::int32_t, kTableSize>;

struct GameFields {
    std::string PicturePath;        // last file confirmed in the open dialog
    std::int32_t Playing = 0;       // 1 while a game runs
    std::int32_t TimeLeft = 0;      // seconds left; -1 for a game without limit
    std::int32_t TimeLimit = 0;     // 30, 45, 60, 90, 120, 180 or -1
    std::int32_t GridSide = 0;      // pieces per row and column, 2 to 9
    std::int32_t PieceHeight = 0;
    std::int32_t PieceWidth = 0;
    std::int32_t Selecting = 0;     // 1 while a first piece is chosen
    std::int32_t SwapCount = 0;
    std::int32_t PictureWidth = 0;  // source picture size when the game started
    std::int32_t PictureHeight = 0;
    std::int32_t FirstCell = 0;
    std::int32_t SecondCell = 0;
    PieceTable PieceOrder{};        // cell k shows piece PieceOrder[k]
    PieceTable PieceLeft{};
    PieceTable PieceTop{};
    std::int32_t PieceCount = 0;    // cells of the last new game
};

}  // namespace puzzle
