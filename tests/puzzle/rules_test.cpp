#include "puzzle/random.h"
#include "puzzle/rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace {

using puzzle::GameFields;
using puzzle::MouseButton;
using puzzle::PressEffect;

std::vector<std::int32_t> FirstEntries(const puzzle::PieceTable& t, int n)
{
    return {t.begin(), t.begin() + n};
}

GameFields StartedFields()
{
    GameFields f;
    puzzle::ApplyStartupSettings(f);
    return f;
}

TEST(Settings, StartupDefaults)
{
    const GameFields f = StartedFields();
    EXPECT_EQ(f.GridSide, 2);
    EXPECT_EQ(f.PieceCount, 4);
    EXPECT_EQ(f.TimeLimit, 60);
    EXPECT_EQ(f.Playing, 0);
    EXPECT_TRUE(std::all_of(f.PieceOrder.begin(), f.PieceOrder.end(), [](int v) { return v == 0; }));
}

TEST(Settings, ChangesStopTheGameAndWaitForTheNextNewGame)
{
    GameFields f = StartedFields();
    puzzle::RandomState = 0;
    puzzle::StartNewGame(f, 480, 360);
    f.Selecting = 1;
    puzzle::ChoosePieceCount(f, 3);
    EXPECT_EQ(f.GridSide, 3);
    EXPECT_EQ(f.Playing, 0);
    EXPECT_EQ(f.PieceCount, 4);
    EXPECT_EQ(f.PieceWidth, 240);
    EXPECT_EQ(f.Selecting, 1);

    puzzle::StartNewGame(f, 480, 360);
    puzzle::ChooseTimeLimit(f, -1);
    EXPECT_EQ(f.TimeLimit, -1);
    EXPECT_EQ(f.Playing, 0);
    EXPECT_EQ(f.TimeLeft, 60);
}

TEST(Shuffle, PublishedVectors)
{
    struct Row {
        std::uint32_t seed;
        int n;
        std::vector<std::int32_t> order;
        int draws;  // two per exchange, 6n + 1 exchanges per batch
    };
    // From state 48 the first batch lands on the solved order, so a second one follows.
    for (const Row& row : {Row{0, 4, {3, 2, 0, 1}, 50}, Row{48, 4, {0, 2, 1, 3}, 100},
                           Row{0, 9, {5, 7, 3, 6, 8, 4, 0, 1, 2}, 110}}) {
        puzzle::RandomState = row.seed;
        puzzle::PieceTable order{};
        std::iota(order.begin(), order.begin() + row.n, 0);
        puzzle::Shuffle(order, row.n);
        EXPECT_EQ(FirstEntries(order, row.n), row.order) << "seed " << row.seed << ", " << row.n << " pieces";
        std::uint32_t state = row.seed;
        for (int i = 0; i < row.draws; ++i)
            state = state * 134775813u + 1u;
        EXPECT_EQ(puzzle::RandomState, state) << "seed " << row.seed << ", " << row.n << " pieces";
    }
}

TEST(NewGame, CutsTheGridAndLeavesHigherEntriesAlone)
{
    struct Row {
        int side, width, height, pieceWidth, pieceHeight;
    };
    for (const Row& row : {Row{2, 480, 360, 240, 180}, Row{7, 480, 360, 68, 51}, Row{9, 480, 360, 53, 40},
                           Row{3, 100, 400, 33, 133}, Row{4, 2, 3, 0, 0}}) {
        GameFields f = StartedFields();
        f.PieceOrder.fill(77);
        f.PieceLeft.fill(-5);
        f.GridSide = row.side;
        f.TimeLimit = -1;
        f.SwapCount = 9;
        f.Selecting = 1;
        puzzle::RandomState = 1234;
        puzzle::StartNewGame(f, row.width, row.height);
        const int n = row.side * row.side;
        EXPECT_EQ(f.Playing, 1);
        EXPECT_EQ(f.TimeLeft, -1);
        EXPECT_EQ(f.SwapCount, 0);
        EXPECT_EQ(f.Selecting, 0);
        EXPECT_EQ(f.PieceCount, n);
        EXPECT_EQ(f.PieceWidth, row.pieceWidth);
        EXPECT_EQ(f.PieceHeight, row.pieceHeight);
        for (int k = 0; k < n; ++k) {
            EXPECT_EQ(f.PieceLeft[k], (k % row.side) * row.pieceWidth);
            EXPECT_EQ(f.PieceTop[k], (k / row.side) * row.pieceHeight);
        }
        std::vector<std::int32_t> sorted = FirstEntries(f.PieceOrder, n);
        std::sort(sorted.begin(), sorted.end());
        std::vector<std::int32_t> identity(n);
        std::iota(identity.begin(), identity.end(), 0);
        EXPECT_EQ(sorted, identity) << "a permutation";
        EXPECT_FALSE(puzzle::IsSolved(f));
        for (int k = n; k < puzzle::kTableSize; ++k) {
            EXPECT_EQ(f.PieceOrder[k], 77);
            EXPECT_EQ(f.PieceLeft[k], -5);
        }
    }
    // A grid the tables cannot hold starts nothing and writes nothing.
    for (int side : {10, 0, 65536}) {
        GameFields f = StartedFields();
        f.GridSide = side;
        EXPECT_THROW(puzzle::StartNewGame(f, 480, 360), std::out_of_range) << side;
        EXPECT_EQ(f.Playing, 0) << side;
        EXPECT_EQ(f.PieceCount, 4) << side;
    }
}

struct CellRow {
    const char* name;
    int side, x, y, cell;
};

class CellOfPress : public testing::TestWithParam<CellRow> {};

TEST_P(CellOfPress, OnTheBoard)
{
    const CellRow& r = GetParam();
    EXPECT_EQ(puzzle::CellOfPress(r.side, 480, 360, r.x, r.y), r.cell);
}

INSTANTIATE_TEST_SUITE_P(
    Board, CellOfPress,
    testing::Values(CellRow{"quarterTopRight", 2, 240, 0, 1}, CellRow{"quarterBottomLeft", 2, 0, 180, 2},
                    CellRow{"lastPixelOfCell0", 4, 119, 89, 0}, CellRow{"firstPixelOfCell5", 4, 120, 90, 5},
                    CellRow{"lastCell", 9, 476, 359, 80},
                    // The strips beyond the grid take the nearest cell.
                    CellRow{"sevenRightStrip", 7, 477, 10, 6}, CellRow{"sevenBottomStrip", 7, 10, 358, 42},
                    CellRow{"sevenCorner", 7, 479, 359, 48}, CellRow{"nineRightStripLastRow", 9, 479, 359, 80},
                    CellRow{"nineRightStripFirstRow", 9, 478, 0, 8}),
    [](const auto& info) { return std::string(info.param.name); });

class Presses : public testing::Test {
protected:
    void SetUp() override
    {
        f = StartedFields();
        puzzle::RandomState = 0;
        puzzle::StartNewGame(f, 480, 360);  // order 3, 2, 0, 1
    }
    PressEffect Press(MouseButton b, int x, int y) { return puzzle::PressBoard(f, b, 480, 360, x, y); }
    GameFields f;
};

TEST_F(Presses, NotPlayingAnyButtonStartsANewGame)
{
    for (MouseButton b : {MouseButton::Left, MouseButton::Right, MouseButton::Middle}) {
        f.Playing = 0;
        const GameFields before = f;
        EXPECT_EQ(Press(b, 10, 10), PressEffect::NewGame);
        EXPECT_EQ(f.Selecting, before.Selecting);
        EXPECT_EQ(f.PieceOrder, before.PieceOrder);
    }
}

// Any button chooses a first piece; then the right button cancels, the others exchange.
TEST_F(Presses, RightButtonCancelsOthersExchange)
{
    const struct {
        MouseButton button;
        int x, y;
        PressEffect effect;
        int first, second, swaps;         // FirstCell and SecondCell after the press
        std::vector<std::int32_t> order;  // from the order 3, 2, 0, 1, once swapped
    } steps[] = {
        {MouseButton::Left, 0, 0, PressEffect::FirstChosen, 0, 0, 0, {3, 2, 0, 1}},
        {MouseButton::Right, 300, 0, PressEffect::Cancelled, 0, 0, 0, {3, 2, 0, 1}},
        {MouseButton::Left, 300, 0, PressEffect::FirstChosen, 1, 0, 0, {3, 2, 0, 1}},
        {MouseButton::Middle, 0, 0, PressEffect::Exchanged, 1, 0, 1, {2, 3, 0, 1}},
        {MouseButton::Right, 0, 200, PressEffect::FirstChosen, 2, 0, 1, {2, 3, 0, 1}},
        {MouseButton::Left, 300, 200, PressEffect::Exchanged, 2, 3, 2, {2, 3, 1, 0}},
        {MouseButton::Middle, 5, 5, PressEffect::FirstChosen, 0, 3, 2, {2, 3, 1, 0}},
        {MouseButton::Left, 6, 6, PressEffect::Exchanged, 0, 0, 3, {2, 3, 1, 0}},  // the same cell counts
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << "press at " << step.x << "," << step.y);
        const auto before = FirstEntries(f.PieceOrder, 4);
        EXPECT_EQ(Press(step.button, step.x, step.y), step.effect);
        EXPECT_EQ(f.Selecting, step.effect == PressEffect::FirstChosen ? 1 : 0);
        EXPECT_EQ(f.FirstCell, step.first);
        EXPECT_EQ(f.SecondCell, step.second);
        EXPECT_EQ(f.SwapCount, step.swaps);
        // The press only decides; the window swaps once both frames are drawn.
        EXPECT_EQ(FirstEntries(f.PieceOrder, 4), before);
        if (step.effect == PressEffect::Exchanged) puzzle::SwapChosenPieces(f);
        EXPECT_EQ(FirstEntries(f.PieceOrder, 4), step.order);
    }
}

TEST_F(Presses, StripPressesNeverSwapAStaleEntry)
{
    // A 9 x 9 game, then a 7 x 7 game: entries 49 and up are stale.
    f.GridSide = 9;
    puzzle::StartNewGame(f, 480, 360);
    f.GridSide = 7;
    puzzle::StartNewGame(f, 480, 360);
    for (int i = 0; i < 200; ++i) {
        Press(MouseButton::Left, 479, 359);
        Press(MouseButton::Left, (i * 37) % 480, (i * 53) % 360);
        puzzle::SwapChosenPieces(f);
        std::vector<std::int32_t> sorted = FirstEntries(f.PieceOrder, 49);
        std::sort(sorted.begin(), sorted.end());
        for (int k = 0; k < 49; ++k)
            ASSERT_EQ(sorted[k], k) << "after exchange " << i;
    }
}

TEST(Clock, ThirtySecondsToTimeUp)
{
    GameFields f = StartedFields();
    f.TimeLimit = 30;
    puzzle::StartNewGame(f, 480, 360);
    for (int tick = 1; tick < 30; ++tick) {
        ASSERT_EQ(puzzle::CountDown(f), puzzle::TickEffect::TimeShown);
        ASSERT_EQ(f.TimeLeft, 30 - tick);
    }
    EXPECT_EQ(puzzle::CountDown(f), puzzle::TickEffect::TimeUp);
    EXPECT_EQ(f.Playing, 0);
    EXPECT_EQ(puzzle::CountDown(f), puzzle::TickEffect::Nothing);
    EXPECT_EQ(f.TimeLeft, 0);
}

TEST(Clock, WithoutLimitNeverEnds)
{
    GameFields f = StartedFields();
    f.TimeLimit = -1;
    puzzle::StartNewGame(f, 480, 360);
    for (int tick = 0; tick < 500; ++tick)
        ASSERT_EQ(puzzle::CountDown(f), puzzle::TickEffect::TimeShown);
    EXPECT_EQ(f.TimeLeft, -1);
    EXPECT_EQ(f.Playing, 1);
}

TEST(Completion, LooksOnlyAtTheCellsInPlay)
{
    GameFields f = StartedFields();
    puzzle::StartNewGame(f, 480, 360);
    EXPECT_FALSE(puzzle::FinishIfSolved(f));
    EXPECT_EQ(f.Playing, 1);
    std::iota(f.PieceOrder.begin(), f.PieceOrder.begin() + 4, 0);
    f.PieceOrder[4] = 60;
    EXPECT_TRUE(puzzle::FinishIfSolved(f));
    EXPECT_EQ(f.Playing, 0);
}

TEST(PictureLoad, ResetsTheOrderOfTheLastGame)
{
    GameFields f = StartedFields();
    f.GridSide = 3;
    puzzle::StartNewGame(f, 480, 360);
    f.GridSide = 2;
    f.PieceOrder[9] = 42;
    puzzle::ResetForNewPicture(f);
    EXPECT_EQ(f.Playing, 0);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(f.PieceOrder[k], k);
    EXPECT_EQ(f.PieceOrder[9], 42);
}

TEST(Composition, CopiesEachCellFromItsPiece)
{
    GameFields f = StartedFields();
    puzzle::RandomState = 0;
    puzzle::StartNewGame(f, 480, 360);
    std::vector<std::array<int, 4>> copies;
    puzzle::ForEachPieceCopy(f.PieceCount, f.PieceLeft, f.PieceTop, f.PieceOrder,
                             [&](int dx, int dy, int sx, int sy) { copies.push_back({dx, dy, sx, sy}); });
    // Order 3, 2, 0, 1: cell 0 shows piece 3 (bottom right), and so on.
    EXPECT_EQ(copies, (std::vector<std::array<int, 4>>{
                          {0, 0, 240, 180}, {240, 0, 0, 180}, {0, 180, 0, 0}, {240, 180, 240, 0}}));
    copies.clear();
    puzzle::ForEachPieceCopy(0, f.PieceLeft, f.PieceTop, f.PieceOrder,
                             [&](int dx, int dy, int sx, int sy) { copies.push_back({dx, dy, sx, sy}); });
    EXPECT_TRUE(copies.empty());
}

TEST(Composition, FramePathRunsClockwiseOnePixelPastTheCell)
{
    GameFields f = StartedFields();
    f.GridSide = 3;
    puzzle::StartNewGame(f, 480, 360);
    const auto path = puzzle::CellFramePath(f, 4);
    const std::vector<std::pair<int, int>> got{{path[0].x, path[0].y}, {path[1].x, path[1].y}, {path[2].x, path[2].y},
                                               {path[3].x, path[3].y}, {path[4].x, path[4].y}};
    EXPECT_EQ(got, (std::vector<std::pair<int, int>>{{160, 120}, {320, 120}, {320, 240}, {160, 240}, {160, 120}}));
}

}  // namespace
