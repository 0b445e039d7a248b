#include "puzzle/random.h"

namespace puzzle {

std::uint32_t RandomState = 0;

void SeedRandom(std::chrono::system_clock::time_point now)
{
    using namespace std::chrono;
    // Flooring keeps moments before 1970 within their own day.
    RandomState = static_cast<std::uint32_t>((floor<milliseconds>(now) - floor<days>(now)).count());
}

std::int32_t RandomBelow(std::int32_t n)
{
    RandomState = RandomState * 134775813u + 1u;
    const std::uint64_t product = static_cast<std::uint64_t>(static_cast<std::uint32_t>(n)) * RandomState;
    return static_cast<std::int32_t>(product >> 32);
}

}  // namespace puzzle
