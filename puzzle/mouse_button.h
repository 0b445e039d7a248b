#pragma once
// The button of a press on the board, as the rules see it. Kept apart from the rules so that
// the picture surfaces, which report presses, need nothing else of the game.

namespace puzzle {

enum class MouseButton { Left, Right, Middle };

}  // namespace puzzle
