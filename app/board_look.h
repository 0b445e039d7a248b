#pragma once
// How the window shows the game: the result banners, the width of a chosen cell's frame, and the
// texts of the three displays. The rules decide; these say what the player sees of it.

#include "puzzle/game_fields.h"

#include <QString>
#include <cstdint>

struct Banner {
    std::int32_t top;
    std::uint32_t colour;  // 0x00BBGGRR
    const char* caption;
};
// Parked above the client area while no result is shown.
inline constexpr std::int32_t kBannerHiddenTop = -70;
inline constexpr Banner kTimeUpBanner{184, 0x000000FF, "TIMEUP"};
inline constexpr Banner kClearBanner{184, 0x00F0CAA6, "CLEAR"};

// In picture pixels: the board shows the picture stretched, the frame with it.
inline constexpr std::int32_t kFrameWidth = 6;

// The piece-count display: "9ピース".
inline QString PieceCountText(std::int32_t gridSide)
{
    return QString::number(gridSide * gridSide) + QStringLiteral("ピース");
}

// The exchange counter: "12回".
inline QString SwapCountText(std::int32_t swapCount)
{
    return QString::number(swapCount) + QStringLiteral("回");
}

// The time display after a tick: "無制限" without a limit, else the seconds left.
inline QString TimeText(const puzzle::GameFields& f)
{
    return f.TimeLimit < 0 ? QStringLiteral("無制限") : QString::number(f.TimeLeft);
}
