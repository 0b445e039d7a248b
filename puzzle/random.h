#pragma once
// The game's random source: a 32-bit linear congruential generator, seeded once at start-up.

#include <chrono>
#include <cstdint>

namespace puzzle {

// Process-wide state; tests may set it to replay any seed.
extern std::uint32_t RandomState;

// Seeds RandomState with the milliseconds since UTC midnight of the given moment.
void SeedRandom(std::chrono::system_clock::time_point now);

// Advances the state and returns a number in 0 .. n - 1 (n >= 1).
std::int32_t RandomBelow(std::int32_t n);

}  // namespace puzzle
