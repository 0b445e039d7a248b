#pragma once
// The game's random source: a 32-bit linear congruential generator, seeded once at start-up.

#include <cstdint>

namespace puzzle {

// Process-wide state; tests may set it to replay any seed.
extern std::uint32_t RandomState;

// Seeds RandomState from the system clock's UTC time of day.
void SeedRandom();

// Advances the state and returns a number in 0 .. n - 1 (n >= 1).
std::int32_t RandomBelow(std::int32_t n);

}  // namespace puzzle
