#include "pictures/display.h"
#include "pictures/picture.h"
#include "tests/pictures/formats.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

using pictures::Picture;
using pictures::StretchForDisplay;

namespace {


// A 24-bit picture whose every pixel spells its own coordinates.
Picture CoordinatePicture(int w, int h)
{
    QImage image(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x & 0xFF, ((x >> 8) & 0x0F) | ((y >> 8) << 4), y & 0xFF));
    return Picture(image, 24);
}

struct StretchCase {
    const char* name;
    int pictureWidth, pictureHeight, width, height;
};

void PrintTo(const StretchCase& c, std::ostream* os) { *os << c.name; }

const StretchCase kStretches[] = {
    {"LargeToBoard", 1024, 768, 480, 360},
    {"LargeToPreview", 1024, 768, 200, 150},
    {"TallToBoard", 100, 400, 480, 360},
    {"TallToPreview", 100, 400, 200, 150},
    {"BuiltInToBoard", 480, 360, 480, 360},
    {"SmallToBoard", 7, 5, 480, 360},
};

std::string StretchName(const testing::TestParamInfo<StretchCase>& info) { return info.param.name; }

class StretchSamplingTest : public testing::TestWithParam<StretchCase> {};

TEST_P(StretchSamplingTest, EachTargetPixelTakesTheNearestPicturePixel)
{
    const StretchCase& c = GetParam();
    const Picture picture = CoordinatePicture(c.pictureWidth, c.pictureHeight);
    const QImage shown = StretchForDisplay(picture, c.width, c.height);
    ASSERT_EQ(shown.size(), QSize(c.width, c.height));
    EXPECT_EQ(shown.format(), QImage::Format_RGB32);
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const QRgb p = shown.pixel(x, y);
            const int sx = qRed(p) | ((qGreen(p) & 0x0F) << 8);
            const int sy = qBlue(p) | ((qGreen(p) >> 4) << 8);
            ASSERT_EQ(sx, x * c.pictureWidth / c.width) << "target " << x << "," << y;
            ASSERT_EQ(sy, y * c.pictureHeight / c.height) << "target " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, StretchSamplingTest, testing::ValuesIn(kStretches), StretchName);

class StretchFormatTest : public testing::TestWithParam<FormatCase> {};


TEST_P(StretchFormatTest, ShowsThePicturesOwnColoursAtTheNearestPixel)
{
    for (const QSize& size : {QSize(37, 23), QSize(480, 360), QSize(200, 150)}) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        const Picture picture = MakePicture(GetParam(), 90, 70);
        const QImage shown = StretchForDisplay(picture, size.width(), size.height());
        ASSERT_EQ(shown.size(), size);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                ASSERT_EQ(shown.pixel(x, y),
                          pictures::ToQRgb(picture.pixel(x * 90 / size.width(), y * 70 / size.height())))
                    << x << "," << y;
    }
}

TEST_P(StretchFormatTest, ReadsWithoutTakingAPrivateCopy)
{
    const Picture picture = MakePicture(GetParam(), 64, 48);
    const Picture sharer = picture;
    const qint64 key = picture.cacheKey();
    StretchForDisplay(picture, 480, 360);
    EXPECT_EQ(picture.storage(), sharer.storage());
    EXPECT_EQ(picture.cacheKey(), key);
}

// Two-colour pictures follow a rule of their own, tested apart.
INSTANTIATE_TEST_SUITE_P(AllFormats, StretchFormatTest,
                         testing::ValuesIn(std::begin(kFormats) + 1, std::end(kFormats)), FormatName);

TEST(StretchColours, SixteenBitChannelsExpandToEightBits)
{
    QImage x555(3, 1, QImage::Format_RGB555);
    reinterpret_cast<quint16*>(x555.scanLine(0))[0] = 0x7C00;                            // red 31
    reinterpret_cast<quint16*>(x555.scanLine(0))[1] = (16 << 10) | (16 << 5) | 16;       // 16s
    reinterpret_cast<quint16*>(x555.scanLine(0))[2] = 0x001F;                            // blue 31
    const QImage a = StretchForDisplay(Picture(x555, 16), 3, 1);
    EXPECT_EQ(a.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(a.pixel(1, 0), qRgb(132, 132, 132));
    EXPECT_EQ(a.pixel(2, 0), qRgb(0, 0, 255));

    QImage x565(2, 1, QImage::Format_RGB16);
    reinterpret_cast<quint16*>(x565.scanLine(0))[0] = 0xFFFF;
    reinterpret_cast<quint16*>(x565.scanLine(0))[1] = (1 << 11) | (32 << 5) | 2;
    const QImage b = StretchForDisplay(Picture(x565, 16), 2, 1);
    EXPECT_EQ(b.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(b.pixel(1, 0), qRgb(8, 130, 16));
}

// ---- Two-colour pictures ------------------------------------------------------------------

// A picture of index 1 everywhere except the listed columns and rows, which hold index 0.
Picture Lines(int bits, int w, int h, const std::vector<int>& columns, const std::vector<int>& rows,
              QRgb first = qRgb(0, 0, 0), QRgb second = qRgb(255, 255, 255))
{
    QImage image(w, h, QImage::Format_Indexed8);
    image.setColorTable({first, second});
    image.fill(1);
    for (int y = 0; y < h; ++y) {
        for (int x : columns)
            image.scanLine(y)[x] = 0;
    }
    for (int y : rows)
        std::memset(image.scanLine(y), 0, size_t(w));
    return Picture(image, bits);
}

// Whether the merged range of target t holds source s: floor(t*S/T) .. floor((t+1)*S/T)-1.
bool Merges(int t, int target, int source, int s)
{
    const int from = t * source / target;
    const int end = std::max((t + 1) * source / target, from + 1);
    return s >= from && s < end;
}

TEST(StretchOneBit, ShrunkAxesKeepTheFirstColourOfAnyMergedPixel)
{
    // Index 0 (black) in one column and one row (-1: none). A two-colour picture merges the
    // pixels of a shrunk axis and keeps the first colour when any of them has it; an enlarged
    // axis, and every axis of an 8-bit picture, takes the nearest pixel.
    const struct {
        const char* name;
        int bits, w, h, column, row, width, height;
    } cases[] = {
        {"both axes shrunk", 1, 100, 100, 37, 71, 30, 40},
        {"narrower but taller", 1, 100, 10, 37, 3, 50, 40},
        {"wider but shorter", 1, 10, 100, 5, 71, 40, 40},
        {"enlarged", 1, 10, 10, 3, -1, 40, 40},
        {"eight bits: the odd column is lost", 8, 100, 10, 37, -1, 50, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<int> rows = c.row < 0 ? std::vector<int>{} : std::vector<int>{c.row};
        const QImage shown = StretchForDisplay(Lines(c.bits, c.w, c.h, {c.column}, rows), c.width, c.height);
        auto hit = [&](int t, int target, int source, int line) {
            return c.bits == 1 && target < source ? Merges(t, target, source, line) : t * source / target == line;
        };
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const bool first = hit(x, c.width, c.w, c.column) || hit(y, c.height, c.h, c.row);
                ASSERT_EQ(shown.pixel(x, y), first ? qRgb(0, 0, 0) : qRgb(255, 255, 255)) << x << "," << y;
            }
    }
}

TEST(StretchOneBit, TheRuleFollowsTheTableEntryNotTheShade)
{
    // Entry 0 is white here: white specks survive on a black ground.
    const Picture picture = Lines(1, 64, 64, {9}, {}, qRgb(255, 255, 255), qRgb(0, 0, 0));
    const QImage shown = StretchForDisplay(picture, 16, 16);
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(shown.pixel(x, 5), x == 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0)) << x;
}

TEST(StretchOneBit, AFrameKeepsTheTwoColourLook)
{
    Picture picture = Lines(1, 100, 100, {37}, {});
    picture.setPenColour(pictures::kRed);
    picture.setPenWidth(6);
    picture.moveTo(0, 10);
    picture.lineTo(100, 10);  // rows 7 to 12
    const QImage shown = StretchForDisplay(picture, 30, 40);
    EXPECT_EQ(shown.pixel(11, 30), qRgb(0, 0, 0)) << "the line away from the frame";
    EXPECT_EQ(shown.pixel(5, 4), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(11, 4), qRgb(255, 0, 0)) << "the frame over the line";
    EXPECT_EQ(shown.pixel(11, 5), qRgb(255, 0, 0)) << "the frame's edge merged with the line";
}

TEST(StretchEmpty, NothingToShow)
{
    EXPECT_TRUE(StretchForDisplay(Picture(), 480, 360).isNull());
    const Picture picture = Picture::Blank(10, 10);
    EXPECT_TRUE(StretchForDisplay(picture, 0, 360).isNull());
    EXPECT_TRUE(StretchForDisplay(picture, 480, 0).isNull());
}

}  // namespace
