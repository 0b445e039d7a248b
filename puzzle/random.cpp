#include "puzzle/random.h"

#include <chrono>

namespace puzzle {

std::uint32_t RandomState = 0;

void SeedRandom()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    constexpr long long kDay = 24LL * 60 * 60 * 1000;
    RandomState = static_cast<std::uint32_t>(((ms % kDay) + kDay) % kDay);
}

std::int32_t RandomBelow(std::int32_t n)
{
    RandomState = RandomState * 134775813u + 1u;
    const std::uint64_t product = static_cast<std::uint64_t>(static_cast<std::uint32_t>(n)) * RandomState;
    return static_cast<std::int32_t>(product >> 32);
}

}  // namespace puzzle
