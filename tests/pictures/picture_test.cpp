#include "pictures/failure.h"
#include "pictures/picture.h"
#include "tests/pictures/formats.h"
#include "tests/support/memory.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <functional>
#include <set>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <memory>
#include <vector>

using pictures::Colour;
using pictures::Picture;

namespace {


using PixelSet = std::set<std::pair<int, int>>;

PixelSet Changed(const Picture& before, const Picture& after)
{
    PixelSet changed;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            if (before.pixel(x, y) != after.pixel(x, y))
                changed.insert({x, y});
    return changed;
}

bool SamePixels(const Picture& a, const Picture& b)
{
    return a.width() == b.width() && a.height() == b.height() && Changed(a, b).empty();
}

// Pixels whose centre lies within radius of the closed outline through the given points.
PixelSet WithinOfPath(int w, int h, const std::vector<QPoint>& path, double radius)
{
    PixelSet covered;
    for (int py = 0; py < h; ++py) {
        for (int px = 0; px < w; ++px) {
            const double cx = px + 0.5, cy = py + 0.5;
            for (size_t i = 0; i + 1 < path.size(); ++i) {
                const double ax = path[i].x(), ay = path[i].y();
                const double dx = path[i + 1].x() - ax, dy = path[i + 1].y() - ay;
                double t = ((cx - ax) * dx + (cy - ay) * dy) / (dx * dx + dy * dy);
                t = t < 0 ? 0 : (t > 1 ? 1 : t);
                const double ex = cx - (ax + t * dx), ey = cy - (ay + t * dy);
                if (ex * ex + ey * ey <= radius * radius) {
                    covered.insert({px, py});
                    break;
                }
            }
        }
    }
    return covered;
}

void DrawFrame(Picture& p, int l, int t, int r, int b)
{
    p.moveTo(l, t);
    p.lineTo(r, t);
    p.lineTo(r, b);
    p.lineTo(l, b);
    p.lineTo(l, t);
}

class PictureFormatTest : public testing::TestWithParam<FormatCase> {};


// ---- Storage ---------------------------------------------------------------------------

TEST_P(PictureFormatTest, KeepsFormatBitsAndColourTable)
{
    const Picture p = MakePicture(GetParam(), 9, 7);
    EXPECT_EQ(p.bitsPerPixel(), GetParam().bits);
    EXPECT_EQ(p.image().format(), GetParam().format);
    EXPECT_EQ(p.width(), 9);
    EXPECT_EQ(p.height(), 7);
    if (GetParam().format == QImage::Format_Indexed8) {
        const QVector<QRgb> table = TableFor(GetParam().bits);
        EXPECT_EQ(p.image().colorTable(), table);
        EXPECT_EQ(p.pixel(2, 1), pictures::FromQRgb(table[(2 + 3) % table.size()]));
    }
}

// ---- Picture copy ------------------------------------------------------------------------

TEST_P(PictureFormatTest, CopiesShareStorageUntilOneSideIsWritten)
{
    const Picture pristine = MakePicture(GetParam(), 32, 24);
    Picture source = MakePicture(GetParam(), 32, 24);
    const uchar* sourceStorage = source.storage();
    Picture target = source;
    Picture assigned;
    assigned = source;
    EXPECT_EQ(target.storage(), sourceStorage);
    EXPECT_EQ(assigned.storage(), sourceStorage);

    // Drawing on the target leaves the source alone.
    target.setPenColour(pictures::kRed);
    target.setPenWidth(6);
    DrawFrame(target, 8, 8, 16, 16);
    EXPECT_NE(target.storage(), sourceStorage);
    EXPECT_EQ(source.storage(), sourceStorage);
    EXPECT_TRUE(SamePixels(source, pristine));
    EXPECT_FALSE(SamePixels(target, pristine));

    // Writing the source (a rectangle copy, as the composition does) leaves its sharer alone.
    const Picture donor = MakePicture(GetParam(), 32, 24, 5);
    source.copyRect(QRect(0, 0, 10, 10), donor, QRect(0, 0, 10, 10));
    EXPECT_FALSE(SamePixels(source, pristine));
    EXPECT_TRUE(SamePixels(assigned, pristine));
    EXPECT_EQ(assigned.storage(), sourceStorage);
}

TEST_P(PictureFormatTest, CopyStartsWithDefaultDrawingState)
{
    Picture source = MakePicture(GetParam(), 16, 16);
    source.setPenColour(pictures::kBlue);
    source.setPenWidth(6);
    source.moveTo(7, 9);

    const Picture constructed(source);
    Picture assigned = MakePicture(GetParam(), 4, 4);
    assigned.setPenColour(pictures::kRed);
    assigned.setPenWidth(3);
    assigned.moveTo(1, 2);
    assigned = source;

    for (const Picture* p : {&constructed, static_cast<const Picture*>(&assigned)}) {
        EXPECT_EQ(p->state().penColour, pictures::kBlack);
        EXPECT_EQ(p->state().penWidth, 1);
        EXPECT_EQ(p->state().penPos, QPoint(0, 0));
    }
    EXPECT_EQ(assigned.width(), 16);
    // The source keeps its own state.
    EXPECT_EQ(source.state().penColour, pictures::kBlue);
    EXPECT_EQ(source.state().penPos, QPoint(7, 9));
}

TEST_P(PictureFormatTest, DrawingStateSurvivesThePrivateCopyOfThePixels)
{
    const Picture source = MakePicture(GetParam(), 32, 24);
    Picture board = source;
    board.setPenColour(pictures::kRed);
    board.setPenWidth(6);
    board.moveTo(4, 4);
    board.lineTo(20, 4);  // first write: the pixels become the board's own
    ASSERT_NE(board.storage(), source.storage());
    EXPECT_EQ(board.state().penColour, pictures::kRed);
    EXPECT_EQ(board.state().penWidth, 6);
    EXPECT_EQ(board.state().penPos, QPoint(20, 4));

    board.lineTo(20, 16);  // continues from the pen position with the same pen
    EXPECT_EQ(board.pixel(20, 10), pictures::kRed);
    EXPECT_EQ(board.pixel(17, 10), pictures::kRed);
    EXPECT_NE(board.pixel(16, 10), pictures::kRed);
}

TEST_P(PictureFormatTest, MovedPictureKeepsPixelsAndState)
{
    Picture source = MakePicture(GetParam(), 8, 8);
    source.setPenWidth(4);
    source.moveTo(3, 3);
    const uchar* storage = source.storage();
    Picture moved(std::move(source));
    EXPECT_EQ(moved.storage(), storage);
    EXPECT_EQ(moved.state().penWidth, 4);
    EXPECT_EQ(moved.state().penPos, QPoint(3, 3));
    EXPECT_EQ(moved.bitsPerPixel(), GetParam().bits);
}

// ---- Rectangle copy ----------------------------------------------------------------------

struct RectCase {
    const char* name;
    QRect dst;
    QRect src;
    QRect written;    // the destination pixels that change
    QPoint srcShift;  // source pixel = destination pixel + srcShift
};

const RectCase kRectCases[] = {
    {"Inside", QRect(10, 5, 8, 6), QRect(2, 3, 8, 6), QRect(10, 5, 8, 6), QPoint(-8, -2)},
    {"DestinationPastBottomRight", QRect(28, 20, 8, 8), QRect(0, 0, 8, 8), QRect(28, 20, 4, 4), QPoint(-28, -20)},
    {"DestinationPastTopLeft", QRect(-3, -2, 8, 8), QRect(4, 4, 8, 8), QRect(0, 0, 5, 6), QPoint(7, 6)},
    {"SourcePastTopLeft", QRect(0, 0, 8, 8), QRect(-3, -2, 8, 8), QRect(3, 2, 5, 6), QPoint(-3, -2)},
    {"SourcePastBottomRight", QRect(2, 2, 8, 8), QRect(28, 20, 8, 8), QRect(2, 2, 4, 4), QPoint(26, 18)},
    {"WholePicture", QRect(0, 0, 32, 24), QRect(0, 0, 32, 24), QRect(0, 0, 32, 24), QPoint(0, 0)},
    {"OnePixelWide", QRect(3, 4, 1, 5), QRect(9, 1, 1, 5), QRect(3, 4, 1, 5), QPoint(6, -3)},
    {"OnePixelHigh", QRect(3, 4, 5, 1), QRect(9, 1, 5, 1), QRect(3, 4, 5, 1), QPoint(6, -3)},
    {"EntirelyOutside", QRect(40, 0, 8, 8), QRect(0, 0, 8, 8), QRect(), QPoint(0, 0)},
};

TEST_P(PictureFormatTest, RectangleCopyIsExactAndClipped)
{
    const Picture source = MakePicture(GetParam(), 32, 24, 1);
    const Picture keeper = source;  // shares the source's pixels
    const uchar* sourceStorage = source.storage();
    for (const RectCase& c : kRectCases) {
        SCOPED_TRACE(c.name);
        const Picture before = MakePicture(GetParam(), 32, 24, 2);
        Picture target = before;
        target.copyRect(c.dst, source, c.src);
        EXPECT_EQ(target.image().format(), GetParam().format);
        EXPECT_EQ(target.bitsPerPixel(), GetParam().bits);
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 32; ++x) {
                const Colour expected = c.written.contains(x, y)
                    ? source.pixel(x + c.srcShift.x(), y + c.srcShift.y())
                    : before.pixel(x, y);
                ASSERT_EQ(target.pixel(x, y), expected) << "at " << x << "," << y;
            }
        }
        EXPECT_EQ(source.storage(), sourceStorage);
        EXPECT_EQ(keeper.storage(), sourceStorage);
        EXPECT_EQ(source.state().penPos, QPoint(0, 0));
    }
}

TEST_P(PictureFormatTest, BatchOfRectangleCopiesEqualsTheCopiesInTurn)
{
    const Picture source = MakePicture(GetParam(), 40, 30, 1);
    const uchar* sourceStorage = source.storage();
    // A 3 x 3 grid of 13 x 10 cells with a strip left over, shuffled; then overlapping,
    // clipped, empty and differently sized rectangles mixed in.
    std::vector<Picture::RectCopy> grid;
    const int order[] = {4, 8, 0, 2, 7, 1, 3, 5, 6};
    for (int k = 0; k < 9; ++k)
        grid.push_back({QRect((k % 3) * 13, (k / 3) * 10, 13, 10),
                        QRect((order[k] % 3) * 13, (order[k] / 3) * 10, 13, 10)});
    std::vector<Picture::RectCopy> odd = grid;
    odd.push_back({QRect(5, 5, 20, 10), QRect(0, 0, 20, 10)});
    odd.push_back({QRect(30, 25, 20, 10), QRect(-5, -5, 20, 10)});
    odd.push_back({QRect(8, 0, 0, 5), QRect(0, 0, 0, 5)});
    std::vector<Picture::RectCopy> scaled = grid;
    scaled.push_back({QRect(0, 0, 10, 10), QRect(0, 0, 20, 20)});
    // The batch goes to a picture that still shares its pixels, as the work picture does after
    // a load; the copies in turn go to one that owns them.
    const Picture before = MakePicture(GetParam(), 40, 30, 2);
    for (const auto* copies : {&grid, &odd, &scaled}) {
        Picture batch = before;
        Picture inTurn = MakePicture(GetParam(), 40, 30, 2);
        batch.copyRects(*copies, source);
        for (const Picture::RectCopy& c : *copies)
            inTurn.copyRect(c.dst, source, c.src);
        EXPECT_TRUE(SamePixels(batch, inTurn)) << copies->size() << " copies";
        EXPECT_EQ(batch.bitsPerPixel(), inTurn.bitsPerPixel());
    }
    EXPECT_TRUE(SamePixels(before, MakePicture(GetParam(), 40, 30, 2)));
    EXPECT_EQ(source.storage(), sourceStorage);
}

TEST_P(PictureFormatTest, OverlappingCopyWithinOnePictureReadsTheOriginal)
{
    const Picture original = MakePicture(GetParam(), 32, 24);
    Picture p = original;
    p.copyRect(QRect(3, 2, 20, 10), p, QRect(0, 0, 20, 10));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(p.pixel(x + 3, y + 2), original.pixel(x, y)) << x << "," << y;
}

TEST_P(PictureFormatTest, RectanglesOfDifferentSizesScaleToTheNearestPixel)
{
    const Picture source = MakePicture(GetParam(), 32, 24, 3);
    Picture grown = MakePicture(GetParam(), 32, 24);
    grown.copyRect(QRect(4, 4, 8, 12), source, QRect(10, 2, 4, 4));  // x2 across, x3 down
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(grown.pixel(4 + x, 4 + y), source.pixel(10 + x / 2, 2 + y / 3)) << x << "," << y;

    Picture shrunk = MakePicture(GetParam(), 32, 24);
    shrunk.copyRect(QRect(0, 0, 5, 4), source, QRect(0, 0, 20, 12));  // /4 across, /3 down
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(shrunk.pixel(x, y), source.pixel(4 * x, 3 * y)) << x << "," << y;
    EXPECT_EQ(shrunk.pixel(5, 0), MakePicture(GetParam(), 32, 24).pixel(5, 0));
}

// ---- Lines -------------------------------------------------------------------------------

TEST_P(PictureFormatTest, WideLinesCoverThePixelsWithinHalfTheWidth)
{
    const Picture before = MakePicture(GetParam(), 64, 48);
    const struct {
        QPoint from, to;
        int width;
    } lines[] = {{{10, 20}, {30, 20}, 6}, {{40, 30}, {40, 10}, 6}, {{6, 30}, {33, 9}, 5}, {{8, 12}, {50, 13}, 6},
                 {{16, 30}, {40, 26}, 16}};
    for (const auto& line : lines) {
        Picture p = before;
        p.setPenColour(pictures::kRed);
        p.setPenWidth(line.width);
        p.moveTo(line.from.x(), line.from.y());
        p.lineTo(line.to.x(), line.to.y());
        const PixelSet changed = Changed(before, p);
        EXPECT_EQ(changed, WithinOfPath(64, 48, {line.from, line.to}, line.width / 2.0)) << line.width;
        if (line.from.y() == 20) {
            // Six pixels: rows 17..22, three above the line's row and three from it down; the
            // round ends reach 3 pixels past the end points on the middle rows, 2 on the outer.
            EXPECT_TRUE(changed.count({7, 20}) && changed.count({32, 20}) && !changed.count({33, 20}));
            EXPECT_TRUE(changed.count({8, 17}) && !changed.count({7, 17}) && changed.count({31, 22}));
            EXPECT_TRUE(!changed.count({20, 16}) && !changed.count({20, 23}));
        }
    }
}

TEST_P(PictureFormatTest, FramesAreClosedWithHalfTheBandOutsideAndClippedAtThePictureEdge)
{
    // A 6-pixel band centred on the outline: round outside the corners, square inside. At the
    // picture's edges only the inner half remains.
    const struct {
        const char* name;
        Colour pen;
        QRect cell;
    } frames[] = {
        {"cell inside", pictures::kRed, QRect(QPoint(16, 12), QPoint(32, 24))},
        {"first cell", pictures::kBlue, QRect(QPoint(0, 0), QPoint(16, 12))},
        {"last cell", pictures::kBlue, QRect(QPoint(48, 36), QPoint(64, 48))},
    };
    const Picture before = MakePicture(GetParam(), 64, 48);
    for (const auto& frame : frames) {
        SCOPED_TRACE(frame.name);
        const QRect& c = frame.cell;
        Picture board = before;
        board.setPenColour(frame.pen);
        board.setPenWidth(6);
        DrawFrame(board, c.left(), c.top(), c.right(), c.bottom());
        const PixelSet changed = Changed(before, board);
        const std::vector<QPoint> outline = {c.topLeft(), c.topRight(), c.bottomRight(), c.bottomLeft(), c.topLeft()};
        EXPECT_EQ(changed, WithinOfPath(64, 48, outline, 3));
        for (const auto& [x, y] : changed)
            ASSERT_EQ(board.pixel(x, y), frame.pen) << x << "," << y;
        EXPECT_EQ(board.state().penPos, c.topLeft());
    }
}

TEST_P(PictureFormatTest, RedAndBlueAreDrawnExactly)
{
    const Picture before = MakePicture(GetParam(), 32, 24);
    Picture p = before;
    p.setPenColour(pictures::kRed);
    p.setPenWidth(6);
    DrawFrame(p, 8, 8, 16, 16);
    p.setPenColour(pictures::kBlue);
    p.setPenWidth(1);
    p.moveTo(0, 22);
    p.lineTo(32, 22);
    EXPECT_EQ(p.pixel(8, 8), pictures::kRed);
    EXPECT_EQ(p.pixel(16, 16), pictures::kRed);
    EXPECT_EQ(p.pixel(0, 22), pictures::kBlue);
    EXPECT_EQ(p.pixel(31, 22), pictures::kBlue);
    // Every other pixel keeps its colour, even where the colour table grew.
    for (const auto& [x, y] : Changed(before, p))
        ASSERT_TRUE(p.pixel(x, y) == pictures::kRed || p.pixel(x, y) == pictures::kBlue) << x << "," << y;
    EXPECT_EQ(p.pixel(0, 0), before.pixel(0, 0));
    EXPECT_EQ(p.pixel(30, 2), before.pixel(30, 2));
    const int expectedBits = GetParam().bits == 4 ? 8 : GetParam().bits;  // two colours stay two colours
    EXPECT_EQ(p.bitsPerPixel(), expectedBits);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, PictureFormatTest, testing::ValuesIn(kFormats), FormatName);

// ---- Colour tables under drawing and copying ---------------------------------------------

Picture Indexed8(int w, int h, const QVector<QRgb>& table, int bits = 8)
{
    QImage image(w, h, QImage::Format_Indexed8);
    image.setColorTable(table);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.scanLine(y)[x] = uchar((x * 7 + y) % table.size());
    return Picture(image, bits);
}

QVector<QRgb> GreyTable(int n)
{
    QVector<QRgb> table;
    for (int i = 0; i < n; ++i) {
        const int v = n > 1 ? i * 255 / (n - 1) : 0;
        table.append(qRgb(v, v, v));
    }
    return table;
}

TEST(PictureColourTable, DrawingANewColourGrowsTheTableOrWidensThePicture)
{
    const struct {
        const char* name;
        QVector<QRgb> table;
        int bits, expectedBits;
    } rows[] = {
        {"grey with room for two more", GreyTable(236), 8, 8},
        {"room for just two more", GreyTable(254), 8, 8},
        {"full table", GreyTable(256), 8, 32},
        {"four bits with room stay four", GreyTable(14), 4, 4},
        {"four bits past sixteen colours grow to eight", GreyTable(15), 4, 8},
        {"two colours stay two-colour", {qRgb(0, 0, 0), qRgb(255, 255, 255)}, 1, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Picture before = Indexed8(40, 30, row.table, row.bits);
        Picture p = before;
        p.setPenColour(pictures::kRed);
        p.setPenWidth(6);
        DrawFrame(p, 10, 10, 30, 20);
        p.setPenColour(pictures::kBlue);
        DrawFrame(p, 0, 0, 10, 10);
        EXPECT_EQ(p.bitsPerPixel(), row.expectedBits);
        if (row.expectedBits <= 8) {
            ASSERT_EQ(p.image().colorTable().size(), row.table.size() + 2);
            EXPECT_EQ(p.image().colorTable().mid(0, row.table.size()), row.table);
        }
        EXPECT_EQ(p.pixel(20, 10), pictures::kRed);
        EXPECT_EQ(p.pixel(2, 5), pictures::kBlue);
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 40; ++x) {
                const Colour c = p.pixel(x, y);
                ASSERT_TRUE(c == pictures::kRed || c == pictures::kBlue || c == before.pixel(x, y)) << x << "," << y;
            }
        }
        // The shared original keeps its table.
        EXPECT_EQ(before.image().colorTable(), row.table);
        EXPECT_EQ(before.bitsPerPixel(), row.bits);
    }
}

TEST(PictureColourTable, AnIndexPastTheTableReadsAsBlack)
{
    QImage image(4, 1, QImage::Format_Indexed8);
    image.setColorTable({qRgb(255, 255, 255), qRgb(255, 0, 0)});
    image.fill(7);  // as a damaged file can leave it
    image.scanLine(0)[0] = 2;  // the first index past the table (setPixel refuses to write it)
    const Picture p(image, 8);
    EXPECT_EQ(p.pixel(0, 0), pictures::kBlack);
    EXPECT_EQ(p.pixel(1, 0), pictures::kBlack);
}

TEST(PictureColourTable, ExistingEntryIsReused)
{
    QVector<QRgb> table = GreyTable(16);
    table[5] = qRgb(255, 0, 0);
    Picture p = Indexed8(16, 16, table, 4);
    p.setPenColour(pictures::kRed);
    p.moveTo(0, 3);
    p.lineTo(16, 3);
    EXPECT_EQ(p.image().colorTable().size(), 16);
    EXPECT_EQ(p.bitsPerPixel(), 4);
    EXPECT_EQ(p.image().constScanLine(3)[9], 5);

    // Black is already in a two-colour table: the picture stays a two-colour one.
    Picture black = Indexed8(24, 24, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, 1);
    black.lineTo(10, 0);
    EXPECT_EQ(black.bitsPerPixel(), 1);
    EXPECT_EQ(black.image().colorTable().size(), 2);
}

TEST(PictureColourTable, CopyIntoAnIndexedPictureKeepsColours)
{
    QImage image(40, 40, QImage::Format_BGR888);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            image.setPixel(x, y, qRgb(x * 6, y * 6, (x + y) * 3));
    // Black but for a red first column, which a read one past a row's end would find.
    QImage edged(40, 40, QImage::Format_Indexed8);
    edged.setColorTable({qRgb(0, 0, 0), qRgb(255, 0, 0)});
    edged.fill(0);
    for (int y = 0; y < 40; ++y)
        edged.scanLine(y)[0] = 1;
    const struct {
        const char* name;
        Picture source, target;
        QRect dst, src;
        int expectedBits;
    } rows[] = {
        // Three colours join a 16-entry table; too many for any table widen the picture.
        {"other table", Indexed8(40, 40, {qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 255, 0)}),
         Indexed8(40, 40, GreyTable(16), 4), QRect(5, 5, 10, 10), QRect(0, 0, 10, 10), 8},
        // Black and white are the grey table's first and last entries: nothing to add.
        {"colours the table has", Indexed8(40, 40, {qRgb(0, 0, 0), qRgb(255, 255, 255)}),
         Indexed8(40, 40, GreyTable(16), 4), QRect(5, 5, 10, 10), QRect(0, 0, 10, 10), 4},
        {"many colours", Picture(image, 24), Indexed8(40, 40, GreyTable(200)), QRect(0, 0, 30, 30),
         QRect(10, 10, 30, 30), 32},
        // What the source rectangle holds beyond the picture leaves the target as it was.
        {"source past the top left", Indexed8(40, 40, {qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 255, 0)}),
         Indexed8(40, 40, GreyTable(16), 4), QRect(0, 0, 40, 40), QRect(-5, -7, 40, 40), 8},
        {"source past the bottom right", Indexed8(40, 40, {qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 255, 0)}),
         Indexed8(40, 40, GreyTable(16), 4), QRect(0, 0, 40, 40), QRect(7, 5, 40, 40), 8},
        {"source past the right edge of a full table's colours", Picture(edged, 8),
         Indexed8(40, 40, GreyTable(256)), QRect(0, 0, 40, 40), QRect(1, 0, 40, 40), 8},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Picture target = row.target;
        target.copyRect(row.dst, row.source, row.src);
        EXPECT_EQ(target.bitsPerPixel(), row.expectedBits);
        const QPoint shift = row.src.topLeft() - row.dst.topLeft();
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x)
                ASSERT_EQ(target.pixel(x, y), row.dst.contains(x, y) && QRect(0, 0, 40, 40).contains(x + shift.x(), y + shift.y())
                                                  ? row.source.pixel(x + shift.x(), y + shift.y())
                                                  : row.target.pixel(x, y))
                    << x << "," << y;
    }
}

TEST(PictureColourTable, DirectColourCopyBetweenFormatsKeepsColours)
{
    QImage wide(8, 8, QImage::Format_RGB32);
    wide.fill(qRgb(255, 0, 0));
    wide.setPixel(3, 3, qRgb(0, 0, 255));
    const Picture source(wide, 32);
    Picture target = Picture::Blank(8, 8);
    target.copyRect(QRect(0, 0, 8, 8), source, QRect(0, 0, 8, 8));
    EXPECT_EQ(target.bitsPerPixel(), 24);
    EXPECT_EQ(target.pixel(0, 0), pictures::kRed);
    EXPECT_EQ(target.pixel(3, 3), pictures::kBlue);

    QImage narrow(8, 8, QImage::Format_RGB555);
    narrow.fill(Qt::white);
    Picture high(narrow, 16);
    high.copyRect(QRect(0, 0, 8, 8), source, QRect(0, 0, 8, 8));
    EXPECT_EQ(high.bitsPerPixel(), 16);
    EXPECT_EQ(high.pixel(0, 0), pictures::kRed);
    EXPECT_EQ(high.pixel(3, 3), pictures::kBlue);
}

// ---- Small pieces ------------------------------------------------------------------------

TEST(PictureBasics, BlankIsWhite24Bit)
{
    const Picture p = Picture::Blank(320, 240);
    EXPECT_EQ(p.bitsPerPixel(), 24);
    EXPECT_EQ(p.image().format(), QImage::Format_BGR888);
    EXPECT_EQ(p.width(), 320);
    EXPECT_EQ(p.height(), 240);
    EXPECT_EQ(p.pixel(0, 0), 0x00FFFFFFu);
    EXPECT_EQ(p.pixel(319, 239), 0x00FFFFFFu);
    EXPECT_TRUE(Picture::Blank(0, 10).isEmpty());
}

TEST(PictureBasics, OtherFormatsAreStoredAsTheirKin)
{
    for (const auto& [in, bits, stored] : {std::tuple{QImage::Format_RGB888, 24, QImage::Format_BGR888},
                                           std::tuple{QImage::Format_Mono, 1, QImage::Format_Indexed8},
                                           std::tuple{QImage::Format_ARGB32, 32, QImage::Format_RGB32}}) {
        const Picture p(QImage(2, 2, in), 8);
        EXPECT_EQ(p.bitsPerPixel(), bits) << in;
        EXPECT_EQ(p.image().format(), stored) << in;
    }
}

qsizetype PagesNotInUse(const QImage& image)
{
    return qsizetype(test_memory::PagesNotInUse(image.constBits(), std::size_t(image.sizeInBytes())));
}

TEST(PictureBasics, ALargePicturesStorageServesTheNextOfItsSize)
{
    constexpr int kWidth = 3002, kHeight = 2000;  // a size no other test keeps storage for
    {
        QImage big = pictures::NewImage(kWidth, kHeight, QImage::Format_BGR888);
        big.fill(Qt::white);
    }
    const QImage next = pictures::NewImage(kWidth, kHeight, QImage::Format_BGR888);
    EXPECT_EQ(PagesNotInUse(next), 0) << "the pages the last one wrote";
    EXPECT_EQ(next.bytesPerLine(), 9008);

    // Two are kept at most.
    auto take = [&](int count) {
        std::vector<QImage> pictures;
        for (int i = 0; i < count; ++i)
            pictures.push_back(pictures::NewImage(kWidth, kHeight, QImage::Format_BGR888));
        return pictures;
    };
    for (QImage& written : take(3))
        written.fill(Qt::white);
    std::vector<QImage> taken = take(3);
    EXPECT_EQ(PagesNotInUse(taken[0]) + PagesNotInUse(taken[1]), 0);
    EXPECT_GT(PagesNotInUse(taken[2]), 0);
    // The one written is taken before one reserved and not yet written.
    taken.clear();
    const QImage warm = pictures::NewImage(kWidth, kHeight, QImage::Format_BGR888);
    pictures::ReserveStorage(kWidth, kHeight, QImage::Format_BGR888, 2);
    EXPECT_EQ(PagesNotInUse(pictures::NewImage(kWidth, kHeight, QImage::Format_BGR888)), 0);
    while (pictures::WarmStorage(qsizetype(1) << 24)) {
    }
    // A picture of another size sends the spares, 18 MB each and written, back to the system.
    // Its rows are whole words already: no padding.
    const long long resident = test_memory::ResidentBytes();
    EXPECT_EQ(pictures::NewImage(4000, 1500, QImage::Format_BGR888).bytesPerLine(), 12000);
    EXPECT_LT(test_memory::ResidentBytes(), resident - (16 << 20));
}

TEST(PictureBasics, WarmedStorageServesThePicturesFirstTwoCopiesWithPagesInUse)
{
    constexpr int kWidth = 3001, kHeight = 2000;  // a size no other test keeps storage for
    constexpr qsizetype kBudget = qsizetype(1) << 20;
    pictures::ReserveStorage(600, 400, QImage::Format_BGR888, pictures::kCopiesReserved);
    EXPECT_FALSE(pictures::WarmStorage(kBudget)) << "too small to keep";
    // A load's picture, then the copies of the picture it made: two blocks in all.
    pictures::ReserveStorage(kWidth, kHeight, QImage::Format_BGR888, 1);
    pictures::ReserveStorage(kWidth, kHeight, QImage::Format_BGR888, pictures::kCopiesReserved);
    int steps = 1;
    while (pictures::WarmStorage(kBudget))
        ++steps;
    const qsizetype size = qsizetype(9004) * kHeight;
    EXPECT_EQ(steps, (2 * size + kBudget - 1) / kBudget) << "a budget's worth a step, for two copies";
    const QImage board = pictures::NewImage(kWidth, kHeight, QImage::Format_BGR888);
    const QImage work = pictures::NewImage(kWidth, kHeight, QImage::Format_BGR888);
    const QImage third = pictures::NewImage(kWidth, kHeight, QImage::Format_BGR888);
    EXPECT_EQ(PagesNotInUse(board), 0);
    EXPECT_EQ(PagesNotInUse(work), 0);
    EXPECT_GT(PagesNotInUse(third), 2) << "only two are readied";
}

TEST(PictureBasics, BlankTooLargeToAllocateFails)
{
    EXPECT_THROW(Picture::Blank(1 << 30, 4), pictures::Failure);
}

// A write to pixels shared with another picture copies them first. When that copy cannot be
// allocated the write fails, as a load that runs out of memory does, instead of writing
// through a null image. The address space is capped for that in a process of its own.
TEST(PictureDeathTest, AWriteThatCannotCopyTheSharedPixelsFails)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than a cap leaves";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Row {
        const char* name;
        std::function<void(Picture&)> write;
    };
    QImage other(40, 30, QImage::Format_BGR888);
    other.fill(Qt::red);
    const Picture small(other, 24);
    const Row rows[] = {
        {"a line", [](Picture& p) { p.setPenWidth(6); p.lineTo(100, 100); }},
        {"a copy of the same format", [](Picture& p) { p.copyRect(QRect(0, 0, 10, 10), Picture(p), QRect(5, 5, 10, 10)); }},
        {"a copy from another format", [&](Picture& p) { p.copyRect(QRect(0, 0, 80, 60), small, QRect(0, 0, 40, 30)); }},
    };
    const auto writeShared = [](const Row& row) {
        const Picture original(pictures::NewImage(8000, 8000, QImage::Format_RGB32), 32);
        Picture shared = original;
        if (original.isEmpty() || !test_memory::CapAddressSpace(rlim_t(64) << 20))
            std::_Exit(3);
        try {
            row.write(shared);
        } catch (const pictures::Failure& failure) {
            std::_Exit(std::string(failure.what()) == pictures::kOutOfResources ? 0 : 4);
        }
        std::_Exit(5);
    };
    for (const Row& row : rows)
        EXPECT_EXIT(writeShared(row), testing::ExitedWithCode(0), "") << row.name;
}

TEST(PictureBasics, ColourConversions)
{
    EXPECT_EQ(pictures::ToQRgb(pictures::kRed), qRgb(255, 0, 0));
    EXPECT_EQ(pictures::ToQRgb(pictures::kBlue), qRgb(0, 0, 255));
    EXPECT_EQ(pictures::ToQRgb(0x00123456), qRgb(0x56, 0x34, 0x12));
    EXPECT_EQ(pictures::FromQRgb(qRgb(255, 0, 0)), pictures::kRed);
    EXPECT_EQ(pictures::FromQRgb(qRgba(0x56, 0x34, 0x12, 0)), 0x00123456u);
}

TEST(PictureBasics, PenSettings)
{
    Picture p = Picture::Blank(4, 4);
    p.setPenWidth(6);
    p.setPenWidth(-2);
    EXPECT_EQ(p.state().penWidth, 6);
    p.setPenColour(0xFF0000FF);
    EXPECT_EQ(p.state().penColour, pictures::kRed);
}

TEST(PictureBasics, EmptyPictureIgnoresDrawing)
{
    Picture empty;
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.bitsPerPixel(), 0);
    empty.moveTo(1, 1);
    empty.lineTo(5, 5);
    EXPECT_EQ(empty.state().penPos, QPoint(5, 5));
    empty.copyRect(QRect(0, 0, 4, 4), Picture::Blank(4, 4), QRect(0, 0, 4, 4));
    EXPECT_TRUE(empty.isEmpty());

    Picture target = Picture::Blank(4, 4);
    for (const QPoint outside : {QPoint(4, 0), QPoint(0, 4), QPoint(-1, 2), QPoint(2, -1)})
        EXPECT_EQ(target.pixel(outside.x(), outside.y()), 0u) << outside.x() << "," << outside.y();
    const Picture sharing = target;
    target.copyRect(QRect(0, 0, 4, 4), empty, QRect(0, 0, 4, 4));
    EXPECT_EQ(target.pixel(1, 1), 0x00FFFFFFu);
    EXPECT_EQ(target.storage(), sharing.storage()) << "a copy of nothing made a private copy";
}

}  // namespace
