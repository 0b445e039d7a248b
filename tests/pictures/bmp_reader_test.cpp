#include "pictures/bmp_reader.h"
#include "pictures/failure.h"
#include "pictures/picture.h"
#include "tests/support/bmp_file.h"
#include "tests/support/memory.h"
#include "tests/support/named_rows.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pictures {
namespace {

// ---------------------------------------------------------------------------------------------
// Bitmaps written byte by byte, straight into the readers' own container.

using BmpFile = bmp_file::BasicBmpFile<QByteArray>;
using bmp_file::Rgb;
using bmp_file::SetU32;
using bmp_file::Table;
using named_rows::PrintTo;
using named_rows::RowName;

QByteArray PackRows(int width, int height, int bpp,
                    const std::function<std::uint32_t(int, int)>& value, bool topDown = false)
{
    return bmp_file::PackRows<QByteArray>(width, height, bpp, value, topDown);
}

// 0x00BBGGRR, as Picture::pixel reports colours.
Colour C(int r, int g, int b)
{
    return Colour(r) | Colour(g) << 8 | Colour(b) << 16;
}
Colour C(Rgb c)
{
    return C(c.r, c.g, c.b);
}

// Checks every pixel of an indexed picture against the index it was written from.
void ExpectIndexed(const Picture& p, int width, int height, const std::vector<Rgb>& table,
                   const std::function<std::uint32_t(int, int)>& index)
{
    ASSERT_EQ(p.width(), width);
    ASSERT_EQ(p.height(), height);
    ASSERT_EQ(p.image().format(), QImage::Format_Indexed8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t i = index(x, y);
            ASSERT_EQ(p.image().constScanLine(y)[x], i) << "at " << x << "," << y;
            const Colour want = i < table.size() ? C(table[i]) : kBlack;
            ASSERT_EQ(p.pixel(x, y), want) << "at " << x << "," << y;
        }
}

std::string MessageOf(const QByteArray& file)
{
    try {
        ReadBitmap(file);
    } catch (const Failure& f) {
        return f.what();
    }
    return "(no failure)";
}

// ---------------------------------------------------------------------------------------------
// Indexed pictures.

struct IndexedCase {
    const char* name;
    int bpp;
    int width;
    int height;
    int tableSize;        // entries written to the file
    std::uint32_t count;  // colour count in the header
    int expectedTable;    // entries in the picture's colour table
    std::uint32_t headerSize = 40;  // 12: the older header, 3-byte entries and no count
    std::optional<std::uint32_t> offset = {};  // the header's pixel offset, if not the pixels' own
};

class IndexedRead : public testing::TestWithParam<IndexedCase> {};

TEST_P(IndexedRead, DecodesEveryPixelThroughTheTable)
{
    const IndexedCase& c = GetParam();
    const int levels = 1 << c.bpp;
    const int used = std::min(c.expectedTable, levels);
    auto index = [&](int x, int y) { return std::uint32_t((x * 7 + y * 3) % used); };

    BmpFile f;
    f.headerSize = c.headerSize;
    f.bpp = std::uint32_t(c.bpp);
    f.width = c.width;
    f.height = c.height;
    f.colourCount = c.count;
    f.table = Table(c.tableSize);
    f.pixels = PackRows(c.width, c.height, c.bpp, index);
    f.offset = c.offset;

    const Picture p = ReadBitmap(f.build());
    EXPECT_EQ(p.bitsPerPixel(), c.bpp);
    ASSERT_EQ(p.image().colorTable().size(), c.expectedTable);
    for (int i = 0; i < c.expectedTable; ++i)
        EXPECT_EQ(FromQRgb(p.image().colorTable()[i]), C(f.table[size_t(i)])) << "entry " << i;
    ExpectIndexed(p, c.width, c.height, f.table, index);
}

INSTANTIATE_TEST_SUITE_P(
    Bitmap, IndexedRead,
    testing::Values(
        IndexedCase{"OneBitFullTable", 1, 13, 3, 2, 0, 2},
        IndexedCase{"OneBitWideRow", 1, 33, 2, 2, 0, 2},
        IndexedCase{"FourBitFullTable", 4, 7, 5, 16, 0, 16},
        IndexedCase{"FourBitShortTable", 4, 9, 3, 5, 5, 5},
        IndexedCase{"EightBitFullTable", 8, 5, 4, 256, 0, 256},
        IndexedCase{"EightBitShortTable", 8, 6, 3, 3, 3, 3},
        // More entries declared (and stored) than the depth can use: only the usable ones.
        IndexedCase{"OneBitCountAboveDepth", 1, 10, 2, 4, 4, 2},
        IndexedCase{"FourBitCountAboveDepth", 4, 3, 3, 20, 20, 16},
        IndexedCase{"CoreHeaderEightBitFullTable", 8, 7, 3, 256, 0, 256, 12},
        IndexedCase{"CoreHeaderFourBitFullTable", 4, 7, 3, 16, 0, 16, 12},
        // The pixel offset right after ten entries ends the table there.
        IndexedCase{"CoreHeaderEightBitShortTable", 8, 7, 3, 10, 0, 10, 12},
        IndexedCase{"CoreHeaderEightBitTableShortByAQuarter", 8, 7, 3, 200, 0, 200, 12},
        // An offset into the headers, or at the table's start: the pixels follow the full table.
        IndexedCase{"CoreHeaderOffsetIntoTheHeaders", 4, 7, 3, 16, 0, 16, 12, 14},
        IndexedCase{"CoreHeaderOffsetAtTheTable", 4, 7, 3, 16, 0, 16, 12, 26}),
    RowName);

TEST(BitmapReader, IndexBeyondShortTableShowsBlack)
{
    // Far past the table, and the first index past it, of a table of 3 and of 255 entries;
    // the highest in the first column.
    for (const auto& [entries, highest] : {std::pair{3u, 200u}, std::pair{3u, 3u}, std::pair{255u, 255u}}) {
        BmpFile f;
        f.bpp = 8;
        f.width = 4;
        f.height = 2;
        f.colourCount = entries;
        f.table = Table(int(entries));
        const std::uint32_t rows[2][4] = {{highest, 1, 2, 0}, {2, 3, 1, 0}};
        auto index = [&](int x, int y) { return rows[y][x]; };
        f.pixels = PackRows(4, 2, 8, index);

        const Picture p = ReadBitmap(f.build());
        EXPECT_EQ(p.bitsPerPixel(), 8);
        ExpectIndexed(p, 4, 2, f.table, index);
        // The image's own table covers every index used, so any drawing of it sees black too.
        const QVector<QRgb> table = p.image().colorTable();
        ASSERT_GT(table.size(), qsizetype(highest)) << highest;
        EXPECT_EQ(table[int(entries)], qRgb(0, 0, 0));
        EXPECT_EQ(table[int(highest)], qRgb(0, 0, 0));
        EXPECT_EQ(p.image().pixel(0, 0), qRgb(0, 0, 0));
    }
}

// ---------------------------------------------------------------------------------------------
// Direct colour.

std::uint32_t Rgb24(int x, int y)
{
    return std::uint32_t(((x * 41 + y * 7) % 256) << 16 | ((x * 13 + y * 97) % 256) << 8 |
                         ((x * 3 + y * 29 + 5) % 256));
}

Colour FromRgb24(std::uint32_t v)
{
    return C(int(v >> 16) & 0xFF, int(v >> 8) & 0xFF, int(v) & 0xFF);
}

struct DirectCase {
    const char* name;
    int width;
    int height;
    bool topDown;
};

class TrueColourRead : public testing::TestWithParam<DirectCase> {};

TEST_P(TrueColourRead, TwentyFourAndThirtyTwoBitRows)
{
    const DirectCase& c = GetParam();
    for (int bpp : {24, 32}) {
        SCOPED_TRACE(bpp);
        BmpFile f;
        f.bpp = std::uint32_t(bpp);
        f.width = c.width;
        f.height = c.topDown ? -c.height : c.height;
        // The unused byte of 32 bits holds junk that must not leak into the picture.
        auto value = [](int x, int y) { return Rgb24(x, y) | std::uint32_t((x * 77) % 256) << 24; };
        f.pixels = PackRows(c.width, c.height, bpp, value, c.topDown);

        const Picture p = ReadBitmap(f.build());
        EXPECT_EQ(p.bitsPerPixel(), bpp);
        ASSERT_EQ(p.image().format(), bpp == 24 ? QImage::Format_BGR888 : QImage::Format_RGB32);
        ASSERT_EQ(p.width(), c.width);
        ASSERT_EQ(p.height(), c.height);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                ASSERT_EQ(p.pixel(x, y), FromRgb24(Rgb24(x, y))) << x << "," << y;
                ASSERT_EQ(p.image().pixel(x, y), 0xFF000000u | Rgb24(x, y));
                // RGB32 images are taken as opaque: the stored unused byte must be 0xFF.
                if (bpp == 32) {
                    ASSERT_EQ(reinterpret_cast<const QRgb*>(p.image().constScanLine(y))[x] >> 24, 0xFFu);
                }
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Bitmap, TrueColourRead,
                         testing::Values(DirectCase{"BottomUp", 6, 4, false},
                                         DirectCase{"TopDown", 6, 4, true},
                                         DirectCase{"OddWidthBottomUp", 5, 3, false},
                                         DirectCase{"OddWidthTopDown", 7, 2, true},
                                         DirectCase{"OnePixel", 1, 1, false}),
                         RowName);

// Raw 16-bit values, with the unused top bit set in some of them for 5-5-5.
std::uint32_t Raw16(int x, int y)
{
    return std::uint32_t((x * 2654435761u + y * 40503u) >> 7) & 0xFFFF;
}

struct SixteenCase {
    const char* name;
    std::uint32_t compression;
    std::vector<std::uint32_t> masks;
    std::uint32_t headerSize;
    QImage::Format format;
    std::optional<std::uint32_t> offset = {};  // pixel-data offset; default: where the pixels are
};

class SixteenBitRead : public testing::TestWithParam<SixteenCase> {};

TEST_P(SixteenBitRead, KeepsTheStoredValues)
{
    const SixteenCase& c = GetParam();
    const int w = 5, h = 3;
    BmpFile f;
    f.headerSize = c.headerSize;
    f.bpp = 16;
    f.width = w;
    f.height = h;
    f.compression = c.compression;
    f.masks = c.masks;
    f.offset = c.offset;
    f.pixels = PackRows(w, h, 16, Raw16);

    const Picture p = ReadBitmap(f.build());
    EXPECT_EQ(p.bitsPerPixel(), 16);
    ASSERT_EQ(p.image().format(), c.format);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const quint16 stored = reinterpret_cast<const quint16*>(p.image().constScanLine(y))[x];
            ASSERT_EQ(stored, Raw16(x, y)) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Bitmap, SixteenBitRead,
    testing::Values(
        SixteenCase{"PlainIs555", 0, {}, 40, QImage::Format_RGB555},
        SixteenCase{"Masks555", 3, {0x7C00, 0x03E0, 0x001F}, 40, QImage::Format_RGB555},
        SixteenCase{"Masks565", 3, {0xF800, 0x07E0, 0x001F}, 40, QImage::Format_RGB16},
        SixteenCase{"Masks565InV4Header", 3, {0xF800, 0x07E0, 0x001F}, 108, QImage::Format_RGB16},
        SixteenCase{"Masks565InV5Header", 3, {0xF800, 0x07E0, 0x001F, 0}, 124,
                    QImage::Format_RGB16},
        // An offset into the headers: the pixels start after the masks that follow the header.
        SixteenCase{"Masks565OffsetZero", 3, {0xF800, 0x07E0, 0x001F}, 40, QImage::Format_RGB16, 0}),
    RowName);

// Colours through the channel masks: the standard ones, which keep the stored format, and any
// other, which widens to 32 bits. No masks: plain 5-5-5.
struct MaskCase {
    const char* name;
    int bpp;
    std::uint32_t headerSize;
    std::vector<std::uint32_t> masks;
    std::vector<std::uint32_t> values;  // raw pixels of one row
    std::vector<Colour> expected;
    QImage::Format format = QImage::Format_RGB32;
    int bits = 32;
};

class ChannelMasks : public testing::TestWithParam<MaskCase> {};

TEST_P(ChannelMasks, WidenEachChannelToEightBits)
{
    const MaskCase& c = GetParam();
    const int w = int(c.values.size());
    BmpFile f;
    f.headerSize = c.headerSize;
    f.bpp = std::uint32_t(c.bpp);
    f.width = w;
    f.height = 2;
    f.compression = c.masks.empty() ? 0 : 3;
    f.masks = c.masks;
    // Row 0 as given, row 1 reversed, to catch row mix-ups.
    f.pixels = PackRows(w, 2, c.bpp,
                        [&](int x, int y) { return c.values[size_t(y == 0 ? x : w - 1 - x)]; });

    const Picture p = ReadBitmap(f.build());
    ASSERT_EQ(p.image().format(), c.format);
    EXPECT_EQ(p.bitsPerPixel(), c.bits);
    for (int x = 0; x < w; ++x) {
        EXPECT_EQ(p.pixel(x, 0), c.expected[size_t(x)]) << "pixel " << x;
        EXPECT_EQ(p.pixel(w - 1 - x, 1), c.expected[size_t(x)]) << "pixel " << x;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bitmap, ChannelMasks,
    testing::Values(
        // The extreme values of 5-5-5 (with the unused top bit set) and 5-6-5 give exact colours.
        MaskCase{"Sixteen555Plain", 16, 40, {}, {0xFC00, 0x83E0, 0x001F, 0xFFFF},
                 {C(255, 0, 0), C(0, 255, 0), C(0, 0, 255), C(255, 255, 255)}, QImage::Format_RGB555, 16},
        MaskCase{"Sixteen565", 16, 40, {0xF800, 0x07E0, 0x001F}, {0xF800, 0x07E0, 0x001F, 0x0000},
                 {C(255, 0, 0), C(0, 255, 0), C(0, 0, 255), C(0, 0, 0)}, QImage::Format_RGB16, 16},
        MaskCase{"ThirtyTwoStandard", 32, 40, {0xFF0000, 0xFF00, 0xFF}, {0xFF0000, 0xFF00, 0xFF, 0x123456},
                 {C(255, 0, 0), C(0, 255, 0), C(0, 0, 255), C(0x12, 0x34, 0x56)}},
        MaskCase{"Sixteen444", 16, 40, {0x0F00, 0x00F0, 0x000F}, {0x0F00, 0x00F0, 0x000F, 0x0FFF, 0x0123, 0xF000},
                 {C(255, 0, 0), C(0, 255, 0), C(0, 0, 255), C(255, 255, 255), C(17, 34, 51), C(0, 0, 0)}},
        MaskCase{"SixteenZeroBlueMask", 16, 40, {0xF800, 0x07E0, 0}, {0xFFFF, 0x0000, 0x001F},
                 {C(255, 255, 0), C(0, 0, 0), C(0, 0, 0)}},
        MaskCase{"SixteenOneBitChannels", 16, 40, {0x0004, 0x0002, 0x0001}, {0x0004, 0x0003, 0x0007, 0xFFF8},
                 {C(255, 0, 0), C(0, 255, 255), C(255, 255, 255), C(0, 0, 0)}},
        MaskCase{"ThirtyTwoTenBitChannels", 32, 40, {0x3FF00000, 0x000FFC00, 0x000003FF},
                 {0x3FF00000, 0x000FFC00, 0x000003FF, 0x80000000, (0x80u << 20) | (0x40u << 10) | 0x3FCu},
                 {C(255, 0, 0), C(0, 255, 0), C(0, 0, 255), C(0, 0, 0), C(0x20, 0x10, 0xFF)}},
        MaskCase{"ThirtyTwoFiveBitChannels", 32, 40, {0x7C00, 0x03E0, 0x001F}, {0x7C00, 0x03E0, 0x001F, 0xFFFF8000},
                 {C(255, 0, 0), C(0, 255, 0), C(0, 0, 255), C(0, 0, 0)}},
        MaskCase{"ThirtyTwoSwappedBytes", 32, 108, {0x000000FF, 0x0000FF00, 0x00FF0000}, {0x000000FF, 0x00123456},
                 {C(255, 0, 0), C(0x56, 0x34, 0x12)}},
        // Standard red and green, blue elsewhere or narrower: not the plain layout.
        MaskCase{"ThirtyTwoBlueOnTop", 32, 40, {0x00FF0000, 0x0000FF00, 0xFF000000}, {0xFF000000, 0x12345678},
                 {C(0, 0, 255), C(0x34, 0x56, 0x12)}},
        MaskCase{"ThirtyTwoSevenBitBlue", 32, 40, {0x00FF0000, 0x0000FF00, 0x000000FE}, {0x000000FE, 0x00000003},
                 {C(0, 0, 255), C(0, 0, 2)}}),
    RowName);

// ---------------------------------------------------------------------------------------------
// Where the pixels are, and how much of them there is.

TEST(BitmapReader, PixelOffsetLeavesAGapOrFallsBackToAfterTheTable)
{
    // A gap after the table is skipped; an offset into the headers or the table is taken as
    // right after the table.
    struct Case {
        int bpp;
        int gap;
        std::optional<std::uint32_t> offset;
    };
    const Case cases[] = {{4, 37, {}}, {8, 0, 0u}, {8, 0, 20u}, {8, 0, 54u}, {8, 0, 54u + 15u * 4u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bpp << " bits, gap " << c.gap << ", offset " << c.offset.value_or(0));
        BmpFile f;
        f.bpp = std::uint32_t(c.bpp);
        f.width = 3;
        f.height = 2;
        f.colourCount = 16;
        f.table = Table(16);
        f.gap = QByteArray(c.gap, char(0x77));
        f.offset = c.offset;
        auto index = [](int x, int y) { return std::uint32_t(x + 3 * y + 1); };
        f.pixels = PackRows(3, 2, c.bpp, index);
        ExpectIndexed(ReadBitmap(f.build()), 3, 2, f.table, index);
    }
}

TEST(BitmapReader, TruncatedPixelDataLeavesTheTopBlack)
{
    const int w = 5, h = 4;
    struct Case {
        int bpp;
        int kept;  // bytes of pixel data left in the file
        std::vector<std::uint32_t> masks = {};
    };
    // No pixels at all (the offset is the end of the file); two whole rows (the bottom ones),
    // the first two pixels and a bit of the third of the next. The rows read before the cut
    // one differ from it, so a pixel taken from what they left behind shows.
    const Case cases[] = {{24, 0},
                          {24, 16 * 2 + 7},
                          {32, 0},
                          {32, 20 * 2 + 9},
                          {16, 12 * 2 + 5, {0x0F00, 0x00F0, 0x000F}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bpp << " bits, " << c.kept << " bytes kept");
        const int stride = (w * c.bpp + 31) / 32 * 4;
        BmpFile f;
        f.bpp = std::uint32_t(c.bpp);
        f.width = w;
        f.height = h;
        f.compression = c.masks.empty() ? 0 : 3;
        f.masks = c.masks;
        f.pixels = PackRows(w, h, c.bpp, [](int x, int y) { return Rgb24(x, y) | 0x010101; });
        const Picture whole = ReadBitmap(f.build());
        f.pixels.truncate(c.kept);
        const Picture p = ReadBitmap(f.build());
        ASSERT_EQ(p.height(), h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool present = (h - 1 - y) * stride + c.bpp / 8 * (x + 1) <= c.kept;
                ASSERT_EQ(p.pixel(x, y), present ? whole.pixel(x, y) : kBlack)
                    << "at " << x << "," << y;
                if (c.bpp == 24) {
                    ASSERT_EQ(whole.pixel(x, y), FromRgb24(Rgb24(x, y) | 0x010101));
                }
                if (c.bpp == 32) {  // opaque, as the rows read
                    ASSERT_EQ(reinterpret_cast<const QRgb*>(p.image().constScanLine(y))[x] >> 24, 0xFFu);
                }
            }
    }
}

TEST(BitmapReader, ImageSizeBelowTheRowsCutsOffNothingTheFileHolds)
{
    // Writers often leave the row padding out of the image size; the rows follow from the width
    // and height, and every byte of them in the file is read.
    struct Case {
        const char* name;
        std::uint32_t imageSize;
        int cut;  // bytes missing at the end of the file
    };
    const int w = 5, h = 3;  // rows of 15 bytes and one byte of padding
    const Case cases[] = {
        {"padding left out", 15 * 3, 0},
        {"padding left out, the last padding byte missing", 15 * 3, 1},
        {"one row", 16, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BmpFile f;
        f.width = w;
        f.height = h;
        f.imageSize = c.imageSize;
        f.pixels = PackRows(w, h, 24, Rgb24);
        f.pixels.chop(c.cut);
        const Picture p = ReadBitmap(f.build());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(p.pixel(x, y), FromRgb24(Rgb24(x, y))) << x << "," << y;
    }
}

TEST(BitmapReader, AFileWhoseBytesCannotBeReadFails)
{
    QFile unreadable("/proc/self/mem");  // opens, but reading at its start fails
    ASSERT_TRUE(unreadable.open(QIODevice::ReadOnly));
    try {
        ReadBitmapFrom(unreadable);
        ADD_FAILURE() << "read without a failure";
    } catch (const Failure& f) {
        EXPECT_STREQ(f.what(), kStreamReadError);
    }
}

TEST(BitmapReader, TruncatedIndexedRowsAreIndexZero)
{
    // The bottom row and the first 8 pixels of the top one, or the bottom row alone.
    for (int topBytes : {1, 0}) {
        BmpFile f;
        f.bpp = 1;
        f.width = 20;  // 3 bytes of pixels, 4 per row
        f.height = 2;
        f.table = Table(2);
        auto index = [](int x, int y) { return std::uint32_t((x + y) % 3 != 0); };
        f.pixels = PackRows(20, 2, 1, index);
        f.pixels.truncate(4 + topBytes);
        const Picture p = ReadBitmap(f.build());
        SCOPED_TRACE(topBytes);
        ExpectIndexed(p, 20, 2, f.table,
                      [&](int x, int y) { return y == 1 || x < 8 * topBytes ? index(x, y) : 0u; });
    }
}

// ---------------------------------------------------------------------------------------------
// Run-length encoding.

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// Expected pictures are written top row first; '.' is index 0, digits and letters are indexes.
std::uint32_t IndexOf(char c)
{
    if (c == '.')
        return 0;
    if (c >= '0' && c <= '9')
        return std::uint32_t(c - '0');
    return std::uint32_t(c - 'a' + 10);
}

struct RleCase {
    const char* name;
    int bpp;
    int width;
    QByteArray data;
    std::vector<std::string> expected;  // top row first
};

class RleRead : public testing::TestWithParam<RleCase> {};

TEST_P(RleRead, UnpacksIntoIndexes)
{
    const RleCase& c = GetParam();
    const int height = int(c.expected.size());
    BmpFile f;
    f.bpp = std::uint32_t(c.bpp);
    f.compression = c.bpp == 8 ? 1 : 2;
    f.width = c.width;
    f.height = height;
    f.table = Table(1 << c.bpp);
    f.imageSize = std::uint32_t(c.data.size());
    f.pixels = c.data;
    // Bytes past the declared data that would draw if they were read.
    f.pixels.append(Bytes({0, 0, 9, 9, 9, 9, 9, 9}));

    const Picture p = ReadBitmap(f.build());
    EXPECT_EQ(p.bitsPerPixel(), c.bpp);
    ExpectIndexed(p, c.width, height, f.table,
                  [&](int x, int y) { return IndexOf(c.expected[size_t(y)][size_t(x)]); });
    // Without an image size the data is read as far as unpacked rows would reach.
    const qsizetype unpacked = (c.width * c.bpp + 31) / 32 * 4 * height;
    if (c.data.endsWith(Bytes({0, 1})) && c.data.size() <= unpacked) {
        f.imageSize = 0;
        ExpectIndexed(ReadBitmap(f.build()), c.width, height, f.table,
                      [&](int x, int y) { return IndexOf(c.expected[size_t(y)][size_t(x)]); });
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bitmap, RleRead,
    testing::Values(
        RleCase{"Rle8RunsAbsoluteAndLineEnds", 8, 8,
                Bytes({3, 1, 0, 3, 2, 3, 4, 0, /* padded */ 0, 0,  //
                       2, 5, 0, 0,                                  //
                       0, 4, 6, 7, 8, 6, 1, 9, 0, 1}),
                {"........",  //
                 "67869...",  //
                 "55......",  //
                 "111234.."}},
        RleCase{"Rle8Delta", 8, 6,
                Bytes({2, 5, 0, 2, 1, 2, 2, 6, 0, 0, 1, 7, 0, 1}),
                {"7.....",  //
                 "...66.",  //
                 "......",  //
                 "55...."}},
        RleCase{"Rle8OverrunsAreClipped", 8, 4,
                Bytes({20, 3,           // run past the row's end
                       2, 4,            // more past the end: dropped
                       0, 5, 1, 2, 3, 4, 5, 0,  // absolute past the end
                       0, 0, 0, 2, 2, 0, 3, 8,  // delta then a run clipped at the end
                       0, 2, 0, 50,  // delta past the top
                       1, 9}),
                {"....",  //
                 "..88",  //
                 "3333"}},
        RleCase{"Rle8EarlyEndInAbsoluteRun", 8, 5,
                Bytes({1, 2, 0, 0, 0, 5, 7, 8}),
                {"78...",  //
                 "2...."}},
        RleCase{"Rle8EndsWithoutEndOfBitmap", 8, 3,
                Bytes({3, 4, 0, 0, 1}),
                {"...",  //
                 "444"}},
        RleCase{"Rle4RunsAlternate", 4, 7,
                Bytes({5, 0x13, 0, 0,                 // run of five: 1,3,1,3,1
                       0, 3, 0x34, 0x50,              // absolute three, already even
                       0, 5, 0xAB, 0xCD, 0xE0, 0xFF,  // absolute five, one pad byte
                       0, 0, 7, 0xF0, 0, 1}),
                {"f.f.f.f",  //
                 "345abcd",  //
                 "13131.."}},
        RleCase{"Rle4AbsoluteRunsOfEvenLength", 4, 6,
                Bytes({0, 4, 0x12, 0x34, 0, 0,          // absolute four: two bytes, no pad
                       0, 6, 0x56, 0x78, 0x9A, 0xFF,  // absolute six: three bytes and a pad
                       0, 1}),
                {"56789a",  //
                 "1234.."}},
        RleCase{"Rle4DeltaAndClipping", 4, 4,
                Bytes({0, 2, 2, 1, 9, 0x12, 0, 0, 0, 2, 1, 5, 0, 1}),
                {"....",  //
                 "..12",  //
                 "...."}}),
    RowName);

// ---------------------------------------------------------------------------------------------
// Files that are refused.

struct BadCase {
    const char* name;
    std::function<QByteArray()> file;
    const char* message;
};

BmpFile Plain24()
{
    BmpFile f;
    f.width = 2;
    f.height = 2;
    f.pixels = PackRows(2, 2, 24, Rgb24);
    return f;
}

BmpFile Masked16()
{
    BmpFile f;
    f.bpp = 16;
    f.width = 2;
    f.height = 2;
    f.compression = 3;
    f.masks = {0xF800, 0x07E0, 0x001F};
    f.pixels = PackRows(2, 2, 16, Raw16);
    return f;
}

// 12 megapixels at 1 bit, 1.5 MB of rows.
BmpFile TwelveMegapixels()
{
    BmpFile f;
    f.bpp = 1;
    f.width = 4000;
    f.height = 3000;
    f.table = Table(2);
    f.pixels = QByteArray(500 * 3000, char(0x5A));
    return f;
}

// A picture stored one byte a pixel, 16384 bytes beyond what any file may make the reader
// build: it takes more than one byte of pixel data.
BmpFile OneByteMoreThanFree(int bpp, std::uint32_t compression, QByteArray pixels)
{
    BmpFile f;
    f.bpp = std::uint32_t(bpp);
    f.compression = compression;
    f.width = 16384;
    f.height = 6145;  // 16384 x 6145 = 96 MiB + 16384
    f.table = Table(1 << bpp);
    f.pixels = std::move(pixels);
    return f;
}

BmpFile SixteenBitsBeyondFree(int dataBytes)
{
    BmpFile f;
    f.bpp = 16;
    f.width = 16384;
    f.height = 3073;
    f.pixels = QByteArray(dataBytes, char(0x11));
    return f;
}

// The file of a base with one change.
template <typename Change>
std::function<QByteArray()> With(BmpFile (*base)(), Change change)
{
    return [base, change] {
        BmpFile f = base();
        change(f);
        return f.build();
    };
}

// The message of a row that reads: damaged or made up, but within what its data pays for.
const char* const kReads = "(no failure)";

class BadFile : public testing::TestWithParam<BadCase> {};

TEST_P(BadFile, IsRefusedWithItsMessage)
{
    EXPECT_EQ(MessageOf(GetParam().file()), GetParam().message);
}

const QByteArray kGood = Plain24().build();

INSTANTIATE_TEST_SUITE_P(
    Bitmap, BadFile,
    testing::Values(
        BadCase{"Empty", [] { return QByteArray(); }, kBitmapInvalid},
        BadCase{"OneByte", [] { return QByteArray("B"); }, kStreamReadError},
        BadCase{"ThirteenBytes", [] { return kGood.left(13); }, kStreamReadError},
        BadCase{"WrongMagic", [] { QByteArray b = kGood; b[1] = 'A'; return b; }, kBitmapInvalid},
        BadCase{"LowerCaseMagic", [] { QByteArray b = kGood; b[0] = 'b'; b[1] = 'm'; return b; },
                kBitmapInvalid},
        BadCase{"FileHeaderOnly", [] { return kGood.left(14); }, kBitmapInvalid},
        BadCase{"HeaderSizeCut", [] { return kGood.left(16); }, kBitmapInvalid},
        BadCase{"InfoHeaderCut", [] { return kGood.left(40); }, kBitmapInvalid},
        BadCase{"CoreHeaderCut",
                [] { BmpFile f = Plain24(); f.headerSize = 12; return f.build().left(20); },
                kBitmapInvalid},
        BadCase{"HeaderSizeZero", With(Plain24, [](BmpFile& f) { f.headerSize = 0; }),
                kBitmapInvalid},
        BadCase{"HeaderSizeSixteen", With(Plain24, [](BmpFile& f) { f.headerSize = 16; }),
                kBitmapInvalid},
        BadCase{"HeaderSizeTwoGigabytes",
                [] { QByteArray b = kGood; SetU32(b, 14, 0x80000000u); return b; }, kBitmapInvalid},
        BadCase{"HeaderSizeFourGigabytes",
                [] { QByteArray b = kGood; SetU32(b, 14, 0xFFFFFFFFu); return b; }, kBitmapInvalid},
        BadCase{"HeaderPastTheEnd", [] { QByteArray b = kGood; SetU32(b, 14, 124); return b; },
                kBitmapInvalid},
        BadCase{"PlanesTwo", With(Plain24, [](BmpFile& f) { f.planes = 2; }), kBitmapInvalid},
        BadCase{"PlanesZero", With(Plain24, [](BmpFile& f) { f.planes = 0; }), kBitmapInvalid},
        BadCase{"CorePlanesTwo",
                With(Plain24, [](BmpFile& f) { f.headerSize = 12; f.planes = 2; }), kBitmapInvalid},
        BadCase{"BitsZero", With(Plain24, [](BmpFile& f) { f.bpp = 0; }), kBitmapInvalid},
        BadCase{"BitsTwo", With(Plain24, [](BmpFile& f) { f.bpp = 2; }), kBitmapInvalid},
        BadCase{"BitsSeven", With(Plain24, [](BmpFile& f) { f.bpp = 7; }), kBitmapInvalid},
        BadCase{"BitsSixtyFour", With(Plain24, [](BmpFile& f) { f.bpp = 64; }), kBitmapInvalid},
        BadCase{"JpegInside", With(Plain24, [](BmpFile& f) { f.compression = 4; }), kBitmapInvalid},
        BadCase{"PngInside", With(Plain24, [](BmpFile& f) { f.compression = 5; }), kBitmapInvalid},
        BadCase{"AlphaBitFields", With(Plain24, [](BmpFile& f) { f.bpp = 32; f.compression = 6; }),
                kBitmapInvalid},
        BadCase{"Rle8AtFourBits",
                With(Plain24, [](BmpFile& f) {
                    f.bpp = 4; f.compression = 1; f.table = Table(16);
                }),
                kBitmapInvalid},
        BadCase{"Rle4AtEightBits",
                With(Plain24, [](BmpFile& f) {
                    f.bpp = 8; f.compression = 2; f.table = Table(256);
                }),
                kBitmapInvalid},
        BadCase{"BitFieldsAtTwentyFourBits",
                With(Plain24, [](BmpFile& f) {
                    f.compression = 3; f.masks = {0xFF0000, 0xFF00, 0xFF};
                }),
                kBitmapInvalid},
        // Refused for their size before the colour table they lack is looked for.
        BadCase{"WidthZero", With(Plain24, [](BmpFile& f) { f.width = 0; f.bpp = 8; }), kBitmapInvalid},
        BadCase{"HeightZero", With(Plain24, [](BmpFile& f) { f.height = 0; f.bpp = 8; }), kBitmapInvalid},
        BadCase{"CoreWidthZero", With(Plain24, [](BmpFile& f) { f.headerSize = 12; f.width = 0; }),
                kBitmapInvalid},
        BadCase{"NegativeWidth", With(Plain24, [](BmpFile& f) { f.width = -2; }), kBitmapInvalid},
        BadCase{"MostNegativeWidth", With(Plain24, [](BmpFile& f) { f.width = INT32_MIN; }),
                kBitmapInvalid},
        BadCase{"MostNegativeHeight", With(Plain24, [](BmpFile& f) { f.height = INT32_MIN; }),
                kBitmapInvalid},
        BadCase{"TopDownRle8",
                With(Plain24, [](BmpFile& f) {
                    f.bpp = 8; f.compression = 1; f.height = -2; f.table = Table(256);
                    f.pixels = Bytes({2, 1, 0, 0, 2, 1, 0, 1});
                }),
                kBitmapInvalid},
        BadCase{"TopDownRle4",
                With(Plain24, [](BmpFile& f) {
                    f.bpp = 4; f.compression = 2; f.height = -2; f.table = Table(16);
                    f.pixels = Bytes({2, 0x11, 0, 1});
                }),
                kBitmapInvalid},
        BadCase{"HugeClaimInATinyFile",
                With(Plain24, [](BmpFile& f) { f.width = 65535; f.height = 65535; }), kBitmapInvalid},
        BadCase{"HugeClaimTopDown",
                With(Plain24, [](BmpFile& f) { f.width = 65535; f.height = -65535; }),
                kBitmapInvalid},
        BadCase{"HugeIndexedClaim",
                With(Plain24, [](BmpFile& f) {
                    f.bpp = 1; f.width = 65535; f.height = 65535; f.table = Table(2);
                }),
                kBitmapInvalid},
        // A picture's storage, beyond what any file gets, is paid for by its pixel data.
        BadCase{"TwelveMegapixelsCutOff", [] { return TwelveMegapixels().build().left(200000); },
                kReads},
        BadCase{"OneBitRowsShortOfTheirWorkingSet",
                [] { return OneByteMoreThanFree(1, 0, Bytes({0xFF})).build(); }, kBitmapInvalid},
        BadCase{"RunLengthShortOfItsWorkingSet",
                [] { return OneByteMoreThanFree(8, 1, Bytes({0})).build(); }, kBitmapInvalid},
        // Two bytes a pixel: 16384 x 3073 is 96 MiB and 32768 bytes, which 3 bytes of data pay for.
        BadCase{"SixteenBitRowsPaidForByTheLeastData", [] { return SixteenBitsBeyondFree(3).build(); }, kReads},
        BadCase{"SixteenBitRowsOneByteShort", [] { return SixteenBitsBeyondFree(2).build(); }, kBitmapInvalid},
        // 32 KB over the 1 GiB cap, with the run-length data to pay for it: the cap refuses it.
        BadCase{"RunLengthOverTheCapPaidFor",
                [] {
                    BmpFile f = OneByteMoreThanFree(8, 1, QByteArray(61000, '\0'));
                    f.width = 32768;
                    f.height = 32769;
                    return f.build();
                },
                kBitmapInvalid},
        BadCase{"SparseRunLengthTwelveMegapixels",
                [] {
                    BmpFile f = TwelveMegapixels();
                    f.bpp = 8;
                    f.compression = 1;
                    f.table = Table(256);
                    f.pixels = Bytes({9, 7, 0, 2, 255, 200, 0, 2, 255, 255, 4, 3, 0, 1});
                    return f.build();
                },
                kReads},
        BadCase{"AsWideAsAnySide", With(Plain24, [](BmpFile& f) { f.width = 65535; f.height = 1; }), kReads},
        BadCase{"AsHighAsAnySide", With(Plain24, [](BmpFile& f) { f.width = 1; f.height = 65535; }), kReads},
        BadCase{"WiderThanAnySide",
                With(Plain24, [](BmpFile& f) { f.width = 65536; f.height = 1; }), kBitmapInvalid},
        BadCase{"HigherThanAnySide",
                With(Plain24, [](BmpFile& f) { f.width = 1; f.height = 70000; }), kBitmapInvalid},
        BadCase{"ColourTableCut",
                [] {
                    BmpFile f = Plain24();
                    f.bpp = 8;
                    f.table = Table(256);
                    f.pixels.clear();
                    return f.build().left(54 + 4 * 100);
                },
                kStreamReadError},
        BadCase{"CoreColourTableCut",
                [] {
                    BmpFile f = Plain24();
                    f.headerSize = 12;
                    f.bpp = 4;
                    f.table = Table(16);
                    f.pixels.clear();
                    return f.build().left(26 + 3 * 16 - 1);
                },
                kStreamReadError},
        // Its whole table there, and its pixels said to start past the file's end, inside where
        // a table of four-byte entries would end: the offset is what is wrong.
        BadCase{"CorePixelsPastTheEnd",
                With(Plain24, [](BmpFile& f) {
                    f.headerSize = 12; f.bpp = 4; f.table = Table(16); f.pixels.clear(); f.offset = 26 + 3 * 20;
                }),
                kBitmapInvalid},
        BadCase{"ColourCountTwoGiga",
                With(Plain24, [](BmpFile& f) {
                    f.bpp = 8; f.colourCount = 0x80000000u; f.table = Table(256);
                }),
                kStreamReadError},
        BadCase{"ColourCountMaxAtTwentyFourBits",
                With(Plain24, [](BmpFile& f) { f.colourCount = 0xFFFFFFFFu; }), kStreamReadError},
        BadCase{"MasksOverlap",
                With(Masked16, [](BmpFile& f) { f.masks = {0xF800, 0x0FE0, 0x001F}; }),
                kBitmapInvalid},
        BadCase{"MasksEqual",
                With(Masked16, [](BmpFile& f) { f.masks = {0x001F, 0x07E0, 0x001F}; }),
                kBitmapInvalid},
        BadCase{"MaskNotContiguous",
                With(Masked16, [](BmpFile& f) { f.masks = {0xF800, 0x05E0, 0x001F}; }),
                kBitmapInvalid},
        BadCase{"MasksPastTheEnd",
                [] { BmpFile f = Masked16(); f.pixels.clear(); return f.build().left(54 + 8); },
                kBitmapInvalid},
        BadCase{"PixelOffsetPastTheEnd",
                [] { QByteArray b = kGood; SetU32(b, 10, std::uint32_t(b.size() + 1)); return b; },
                kBitmapInvalid},
        BadCase{"PixelOffsetFourGigabytes",
                [] { QByteArray b = kGood; SetU32(b, 10, 0xFFFFFFFFu); return b; },
                kBitmapInvalid}),
    RowName);

// A picture the system has no memory for is refused, not written through a null image.
TEST(BitmapReaderDeathTest, APictureWithoutMemoryIsRefused)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than a cap leaves";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // 75 MB of pixels, within the free working set: the header alone may claim them.
    const QByteArray claim = With(Plain24, [](BmpFile& f) {
        f.width = 5000;
        f.height = 5000;
        f.pixels.clear();
    })();
    const auto read = [&] {
        if (!test_memory::CapAddressSpace(rlim_t(18) << 20))
            std::_Exit(3);
        std::_Exit(MessageOf(claim) == kBitmapInvalid ? 0 : 4);
    };
    EXPECT_EXIT(read(), testing::ExitedWithCode(0), "");
}

TEST(BitmapReader, GoodBaseFileOfTheBadTableReads)
{
    // The refusals above are single changes to files that read fine as they are.
    EXPECT_NO_THROW(ReadBitmap(kGood));
    EXPECT_NO_THROW(ReadBitmap(Masked16().build()));
    EXPECT_NO_THROW(ReadBitmap(TwelveMegapixels().build()));
}

}  // namespace
}  // namespace pictures
