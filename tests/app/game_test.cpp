#include "app/form1.h"
#include "pictures/failure.h"
#include "puzzle/random.h"
#include "tests/support/fake_clock.h"
#include "tests/support/modal.h"

#include <QFileDialog>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <numeric>

namespace {

using pictures::Picture;
using puzzle::MouseButton;

class Game : public testing::Test {
protected:
    void SetUp() override
    {
        form.reset(CreateMainWindow(clock));
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        puzzle::RandomState = 0;
    }

    puzzle::GameFields& g() { return form->Game; }

    // A press at the middle of a board cell.
    void PressCell(int cell, MouseButton button = MouseButton::Left)
    {
        const int side = g().GridSide;
        const int w = 480 / side, h = 360 / side;
        form->Image1MouseDown(form->Image1, button, (cell % side) * w + w / 2, (cell / side) * h + h / 2);
    }

    // True when the rectangle of dst at (dx, dy) equals the one of src at (sx, sy).
    static bool SameBlock(const Picture& dst, int dx, int dy, const Picture& src, int sx, int sy, int w, int h)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (dst.pixel(dx + x, dy + y) != src.pixel(sx + x, sy + y))
                    return false;
        return true;
    }

    bool BoardShowsOrder()
    {
        const Picture& board = form->Image1->Picture();
        const Picture& source = form->Image2->Picture();
        for (int k = 0; k < g().PieceCount; ++k) {
            const int p = g().PieceOrder[k];
            if (!SameBlock(board, g().PieceLeft[k], g().PieceTop[k], source, g().PieceLeft[p], g().PieceTop[p],
                           g().PieceWidth, g().PieceHeight))
                return false;
        }
        return true;
    }

    // Whether the window, as the platform holds it for the screen, shows the board's picture:
    // a change must also repaint it.
    bool ScreenShowsBoard()
    {
        const QRect board(form->Image1->mapTo(form.get(), QPoint(0, 0)), form->Image1->size());
        const QImage shown = form->screen()->grabWindow(form->winId()).toImage().copy(board);
        return shown.convertToFormat(QImage::Format_RGB32) ==
               form->Image1->Picture().image().convertToFormat(QImage::Format_RGB32);
    }

    // Plays the game to its end with the fewest exchanges, each followed by its redraw.
    int Solve()
    {
        int exchanges = 0;
        for (int cell = 0; cell < g().PieceCount; ++cell) {
            if (g().PieceOrder[cell] == cell)
                continue;
            int other = cell + 1;
            while (g().PieceOrder[other] != cell)
                ++other;
            PressCell(cell);
            PressCell(other, exchanges % 2 ? MouseButton::Middle : MouseButton::Left);
            form->Timer2Timer(form->Timer2);
            ++exchanges;
        }
        return exchanges;
    }

    FakeClock clock;
    std::unique_ptr<TForm1> form;
};

TEST_F(Game, NewGameShowsTheShuffledBoardAndThePreview)
{
    form->Label4->SetTop(184);
    form->N2Click(form->N2->Action());
    EXPECT_EQ(form->Label4->Top(), -70);
    EXPECT_EQ(g().Playing, 1);
    EXPECT_EQ(std::vector<int>(g().PieceOrder.begin(), g().PieceOrder.begin() + 4), (std::vector<int>{3, 2, 0, 1}));
    EXPECT_EQ(form->Edit3->text(), QStringLiteral("60"));
    EXPECT_EQ(form->Edit1->text(), QStringLiteral("1回目")) << "not written by a new game";
    EXPECT_EQ(form->Edit2->text(), QStringLiteral("ピース数"));
    EXPECT_TRUE(form->Timer1->Enabled());
    EXPECT_TRUE(BoardShowsOrder());
    EXPECT_TRUE(QTest::qWaitFor([&] { return ScreenShowsBoard(); }, 2000));
    EXPECT_EQ(form->Image4->Picture().storage(), form->Image2->Picture().storage());
    EXPECT_EQ(form->Image1->Picture().storage(), form->Image3->Picture().storage());

    form->N7->Action()->trigger();
    form->N2Click(nullptr);
    EXPECT_EQ(form->Edit3->text(), QStringLiteral("-1"));
    clock.Advance(1000);
    EXPECT_EQ(form->Edit3->text(), QStringLiteral("無制限"));
    EXPECT_EQ(g().TimeLeft, -1);
}

TEST_F(Game, ComposingLeavesTheSourceAndStripsAloneAndStripPressesTakeTheNearestCell)
{
    const Picture original = form->Image2->Picture();
    const QImage sourcePixels = original.image().copy();
    form->N811->Action()->trigger();
    form->N2Click(nullptr);
    const Picture afterNine = form->Image3->Picture();
    form->N491->Action()->trigger();
    form->N2Click(nullptr);
    const Picture& work = form->Image3->Picture();
    EXPECT_EQ(form->Image2->Picture().image(), sourcePixels);
    EXPECT_EQ(form->Image4->Picture().image(), sourcePixels);
    // x = 476 and the rows below the 7 x 7 grid keep the 9 x 9 composition; x = 477..479 the source.
    EXPECT_TRUE(SameBlock(work, 476, 0, afterNine, 476, 0, 1, 360));
    EXPECT_TRUE(SameBlock(work, 0, 357, afterNine, 0, 357, 477, 3));
    EXPECT_TRUE(SameBlock(work, 477, 0, original, 477, 0, 3, 360));
    EXPECT_TRUE(BoardShowsOrder());

    // Presses in the strips choose the nearest cell of the board's grid.
    form->Image1MouseDown(form->Image1, MouseButton::Left, 479, 359);
    EXPECT_EQ(g().FirstCell, 48);
    form->Image1MouseDown(form->Image1, MouseButton::Left, 478, 5);
    EXPECT_EQ(g().SecondCell, 6);
}

TEST_F(Game, FirstChoiceCancelAndExchange)
{
    form->N2Click(nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ScreenShowsBoard(); }, 2000));
    const Picture& board = form->Image1->Picture();
    PressCell(3, MouseButton::Right);  // a first press with any button chooses
    EXPECT_EQ(g().Selecting, 1);
    EXPECT_EQ(g().FirstCell, 3);
    // The red frame: 6 pixels centred on the cell's outline, half of it outside the cell.
    EXPECT_EQ(board.pixel(300, 180), pictures::kRed);
    EXPECT_EQ(board.pixel(300, 177), pictures::kRed);
    EXPECT_NE(board.pixel(300, 176), pictures::kRed);
    EXPECT_EQ(board.pixel(300, 182), pictures::kRed);
    EXPECT_NE(board.pixel(300, 183), pictures::kRed);
    EXPECT_NE(form->Image3->Picture().pixel(300, 180), pictures::kRed) << "frames stay off the work picture";
    EXPECT_EQ(board.state().penWidth, 6);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ScreenShowsBoard(); }, 2000)) << "the frame is shown";

    PressCell(0, MouseButton::Right);
    EXPECT_EQ(g().Selecting, 0);
    EXPECT_EQ(form->Image1->Picture().storage(), form->Image3->Picture().storage());
    EXPECT_EQ(form->Image1->Picture().state().penWidth, 1) << "a copied picture starts with a fresh pen";
    EXPECT_EQ(g().SwapCount, 0);

    PressCell(0);
    PressCell(1, MouseButton::Middle);
    EXPECT_EQ(g().SwapCount, 1);
    EXPECT_EQ(form->Edit1->text(), QStringLiteral("1回"));
    EXPECT_EQ(std::vector<int>(g().PieceOrder.begin(), g().PieceOrder.begin() + 4), (std::vector<int>{2, 3, 0, 1}));
    EXPECT_TRUE(form->Timer2->Enabled());
    const Picture& framed = form->Image1->Picture();
    EXPECT_EQ(framed.pixel(100, 0), pictures::kRed);
    EXPECT_EQ(framed.pixel(300, 0), pictures::kBlue);
    EXPECT_EQ(framed.pixel(240, 100), pictures::kBlue) << "the second frame is drawn over the first";

    form->Timer2Timer(form->Timer2);
    EXPECT_FALSE(form->Timer2->Enabled());
    EXPECT_TRUE(BoardShowsOrder());
    EXPECT_NE(form->Image1->Picture().pixel(300, 0), pictures::kBlue);

    // A choice made before the redraw loses its frame to it; the exchange draws both again.
    PressCell(0);
    PressCell(1);
    PressCell(3);
    form->Timer2Timer(form->Timer2);
    PressCell(2);
    EXPECT_EQ(form->Image1->Picture().pixel(300, 180), pictures::kRed);
}

TEST_F(Game, TwoQuickExchangesShareOneRedraw)
{
    form->N2Click(nullptr);
    PressCell(0);
    PressCell(1);
    clock.Advance(60);
    // A double click on one cell is two presses (the toolkit sends the second as a double
    // click), and the same cell counts as an exchange.
    QTest::mouseClick(form->Image1, Qt::LeftButton, {}, QPoint(120, 270));
    QTest::mouseDClick(form->Image1, Qt::LeftButton, {}, QPoint(120, 270));
    EXPECT_EQ(g().SwapCount, 2);
    EXPECT_EQ(form->Edit1->text(), QStringLiteral("2回"));
    clock.Advance(39);
    EXPECT_TRUE(form->Timer2->Enabled());
    clock.Advance(1);
    EXPECT_FALSE(form->Timer2->Enabled()) << "one redraw, 100 ms after the first exchange";
    EXPECT_TRUE(BoardShowsOrder());
}

TEST_F(Game, WinningShowsClearAndStopsTheClock)
{
    for (TMenuItem* count : {form->N41.get(), form->N811.get()}) {
        count->Action()->trigger();
        form->N2Click(nullptr);
        clock.Advance(400);
        const int exchanges = Solve();
        EXPECT_GT(exchanges, 0);
        EXPECT_EQ(g().Playing, 0);
        EXPECT_FALSE(form->Timer1->Enabled());
        EXPECT_EQ(form->Label4->Top(), 184);
        EXPECT_EQ(form->Label4->Color(), 0x00F0CAA6u);
        EXPECT_EQ(form->Label4->Caption(), QStringLiteral("CLEAR"));
        EXPECT_EQ(form->Edit1->text(), QString::number(exchanges) + QStringLiteral("回"));
        // The grid area is restored; strips beyond it keep what the previous game left.
        EXPECT_TRUE(SameBlock(form->Image1->Picture(), 0, 0, form->Image2->Picture(), 0, 0,
                              g().PieceWidth * g().GridSide, g().PieceHeight * g().GridSide))
            << count->Caption().toStdString();
        // The next press starts a new game, one full second before its first tick.
        PressCell(0);
        EXPECT_EQ(g().Playing, 1);
        EXPECT_EQ(form->Label4->Top(), -70);
        clock.Advance(999);
        EXPECT_EQ(g().TimeLeft, 60);
        clock.Advance(1);
        EXPECT_EQ(g().TimeLeft, 59);
    }
}

TEST_F(Game, ThirtySecondsLeftAloneEndInTimeUp)
{
    form->N301->Action()->trigger();
    form->N2Click(nullptr);
    clock.Advance(29999);
    EXPECT_EQ(form->Edit3->text(), QStringLiteral("1"));
    EXPECT_EQ(g().Playing, 1);
    EXPECT_EQ(form->Label4->Top(), -70) << "no banner while time is left";
    clock.Advance(1);
    EXPECT_EQ(form->Edit3->text(), QStringLiteral("0"));
    EXPECT_EQ(g().Playing, 0);
    EXPECT_EQ(form->Label4->Top(), 184);
    EXPECT_EQ(form->Label4->x(), 136);
    EXPECT_EQ(form->Label4->Color(), 0x000000FFu);
    EXPECT_EQ(form->Label4->Caption(), QStringLiteral("TIMEUP"));
    EXPECT_EQ(form->Label4->size(), QSize(form->Label4->fontMetrics().horizontalAdvance("TIMEUP"), 64))
        << "the banner sizes itself to its text";
    const TLabel made(nullptr, QStringLiteral("CLEAR"), form->Label4->font());
    EXPECT_EQ(made.size(), QSize(made.fontMetrics().horizontalAdvance("CLEAR"), 64)) << "from the start";
    EXPECT_TRUE(form->Timer1->Enabled()) << "only completion stops the clock";
    clock.Advance(1400);
    EXPECT_EQ(form->Edit3->text(), QStringLiteral("0"));

    // A press on the banner goes to the banner; the rest of the board starts a new game.
    QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {}, form->Label4->mapTo(form.get(), QPoint(10, 10)));
    EXPECT_EQ(g().Playing, 0);
    QTest::mouseClick(form->Image1, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(g().Playing, 1);
    clock.Advance(599);
    EXPECT_EQ(g().TimeLeft, 30);
    clock.Advance(1);
    EXPECT_EQ(g().TimeLeft, 29) << "a running clock keeps its rhythm";
}

TEST_F(Game, RestoredJustBeforeTimeUpStillClears)
{
    form->N301->Action()->trigger();
    form->N2Click(nullptr);
    // One exchange from the solved order, made 50 ms before time runs out.
    clock.Advance(29950);
    std::iota(g().PieceOrder.begin(), g().PieceOrder.begin() + 4, 0);
    std::swap(g().PieceOrder[0], g().PieceOrder[1]);
    PressCell(0);
    PressCell(1);
    clock.Advance(50);
    EXPECT_EQ(form->Label4->Caption(), QStringLiteral("TIMEUP"));
    clock.Advance(50);
    EXPECT_EQ(form->Label4->Caption(), QStringLiteral("CLEAR"));
    EXPECT_EQ(form->Label4->Color(), 0x00F0CAA6u);
    EXPECT_FALSE(form->Timer1->Enabled());
}

TEST_F(Game, SettingsStopTheGameButLeaveTheBoard)
{
    form->N2Click(nullptr);
    PressCell(0);
    const Picture board = form->Image1->Picture();
    form->N91->Action()->trigger();
    EXPECT_EQ(g().Playing, 0);
    EXPECT_EQ(g().Selecting, 1);
    EXPECT_EQ(form->Image1->Picture().storage(), board.storage());
    EXPECT_TRUE(form->Timer1->Enabled());
    // The next press starts a 9-piece game instead of choosing.
    PressCell(0);
    EXPECT_EQ(g().PieceCount, 9);
    EXPECT_EQ(g().Selecting, 0);
}

TEST_F(Game, ThePictureDialogCancelledEndsTheGameAndShowsThePictureWhole)
{
    form->N2Click(nullptr);
    PressCell(0);
    modal::WhenOpen<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    form->N4->Action()->trigger();
    EXPECT_EQ(g().Playing, 0);
    EXPECT_EQ(form->Image1->Picture().storage(), form->Image2->Picture().storage());
}

// 268 megapixels of 8 bits, never written, with a full table: `first`, then greys (or none, when
// `greys` is false). Drawing a colour it lacks fails: at 32 bits it would pass the size limit.
Picture TooLargeToWiden(QRgb first, bool greys)
{
    QImage image(65535, 4097, QImage::Format_Indexed8);
    QList<QRgb> table{first};
    for (int i = 1; i < 256; ++i)
        table << (greys ? qRgb(i, i, i) : qRgb(i, 255 - i, 1));
    image.setColorTable(table);
    return Picture(std::move(image), 8);
}

TEST_F(Game, APictureTakenHasItsFirstCopiesStorageReadiedBetweenEvents)
{
    form->Image2->SetPicture(Picture(pictures::NewImage(3002, 2000, QImage::Format_BGR888), 24));
    form->TakePicture(std::nullopt);
    EXPECT_TRUE(pictures::WarmStorage(0)) << "the load itself writes none of it";
    for (int i = 0; i < 1000 && pictures::WarmStorage(0); ++i)
        QCoreApplication::processEvents();
    EXPECT_FALSE(pictures::WarmStorage(0));
}

TEST_F(Game, AFailedFrameOrCompositionLeavesTheOrderAsTheBoardShowsIt)
{
    // The board alone holds its picture, which has red but no blue.
    form->Image1->SetPicture(TooLargeToWiden(qRgb(255, 0, 0), true));
    puzzle::StartNewGame(g(), 65535, 4097);
    const puzzle::PieceTable order = g().PieceOrder;
    PressCell(0);
    EXPECT_EQ(form->Image1->Picture().pixel(100, 0), pictures::kRed);
    EXPECT_THROW(PressCell(1), pictures::Failure);
    EXPECT_EQ(g().PieceOrder, order) << "no exchange without both frames";
    EXPECT_FALSE(form->Timer2->Enabled());

    // The work picture cannot take the source's colours; the board gets it back as it was.
    form->Image2->SetPicture(TooLargeToWiden(qRgb(0, 0, 0), true));
    form->Image3->SetPicture(TooLargeToWiden(qRgb(0, 0, 255), false));
    form->Image1->SetPicture(form->Image3->Picture());
    EXPECT_THROW(form->Timer2Timer(form->Timer2), pictures::Failure);
    EXPECT_EQ(form->Image1->Picture().storage(), form->Image3->Picture().storage());
    // A new game that cannot be composed shows no preview of its picture.
    EXPECT_THROW(form->N2Click(nullptr), pictures::Failure);
    EXPECT_TRUE(form->Image4->Picture().isEmpty());
}

}  // namespace
