#include "puzzle/random.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(RandomSource, StatesFromZeroFollowTheGenerator)
{
    puzzle::RandomState = 0;
    std::vector<std::uint32_t> states;
    for (int i = 0; i < 5; ++i) {
        puzzle::RandomBelow(2);
        states.push_back(puzzle::RandomState);
    }
    EXPECT_EQ(states, (std::vector<std::uint32_t>{1u, 134775814u, 3698175007u, 870078620u, 1172187917u}));
}

struct DrawRow {
    const char* name;
    std::int32_t n;
    std::vector<std::int32_t> draws;
};

class RandomDraws : public testing::TestWithParam<DrawRow> {};

TEST_P(RandomDraws, FirstFiveDrawsFromZero)
{
    puzzle::RandomState = 0;
    std::vector<std::int32_t> got;
    for (int i = 0; i < 5; ++i)
        got.push_back(puzzle::RandomBelow(GetParam().n));
    EXPECT_EQ(got, GetParam().draws);
}

INSTANTIATE_TEST_SUITE_P(Vectors, RandomDraws,
                         testing::Values(DrawRow{"below4", 4, {0, 0, 3, 0, 1}},
                                         DrawRow{"below16", 16, {0, 0, 13, 3, 4}},
                                         DrawRow{"below81", 81, {0, 2, 69, 16, 22}},
                                         DrawRow{"below1", 1, {0, 0, 0, 0, 0}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RandomSource, DrawsStayBelowTheCountAtTheStateExtremes)
{
    for (std::uint32_t start : {0xFFFFFFFFu, 0xFFFFFFFEu, 0x7FFFFFFFu}) {
        puzzle::RandomState = start;
        for (int i = 0; i < 1000; ++i) {
            const std::int32_t r = puzzle::RandomBelow(81);
            ASSERT_GE(r, 0);
            ASSERT_LT(r, 81);
        }
    }
}

TEST(RandomSource, SeedIsMillisecondsSinceUtcMidnight)
{
    using namespace std::chrono;
    const struct {
        sys_days day;
        milliseconds time;
        std::uint32_t seed;
    } rows[] = {{sys_days{2026y / 1 / 1}, 12h + 34min + 56s + 789ms, 45296789u},
                {sys_days{2026y / 1 / 2}, 0ms, 0u},
                {sys_days{2026y / 1 / 2}, 23h + 59min + 59s + 999ms, 86399999u},
                {sys_days{1969y / 12 / 31}, 23h + 59min + 59s + 999ms, 86399999u}};
    for (const auto& row : rows) {
        puzzle::SeedRandom(row.day + row.time + 400us);
        EXPECT_EQ(puzzle::RandomState, row.seed) << row.time.count();
    }
}

}  // namespace
