#include "pictures/display.h"
#include "pictures/picture.h"
#include "tests/pictures/formats.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>

using pictures::Picture;
using pictures::StretchForDisplay;

namespace {


// Neighbouring pixels differ across and down, so sampling the wrong row or column shows.
Picture MakePicture(const FormatCase& f, int w, int h)
{
    QImage image(w, h, f.format);
    if (f.format == QImage::Format_Indexed8) {
        const int n = f.bits == 4 ? 16 : 256;
        QVector<QRgb> table;
        for (int i = 0; i < n; ++i)
            table.append(qRgb(i * (256 / n), 255 - i * (256 / n), (i * 40) & 0xFF));
        image.setColorTable(table);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.scanLine(y)[x] = uchar((x + 5 * y) % n);
    } else {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.setPixel(x, y, qRgb((x * 8) & 0xF8, (y * 8) & 0xF8, (x * 24 + y * 40) & 0xF8));
    }
    return Picture(image, f.bits);
}

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
Picture Lines(int bits, int w, int h, std::initializer_list<int> columns, std::initializer_list<int> rows,
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

TEST(StretchOneBit, ShrinkingKeepsTheFirstColourOfAnyMergedPixel)
{
    const Picture picture = Lines(1, 100, 100, {37}, {71});
    const QImage shown = StretchForDisplay(picture, 30, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 30; ++x) {
            const bool first = Merges(x, 30, 100, 37) || Merges(y, 40, 100, 71);
            ASSERT_EQ(shown.pixel(x, y), first ? qRgb(0, 0, 0) : qRgb(255, 255, 255)) << x << "," << y;
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

TEST(StretchOneBit, OnlyTheShrunkAxisMerges)
{
    // Narrower but taller: columns merge, rows are sampled to the nearest.
    const Picture picture = Lines(1, 100, 10, {37}, {3});
    const QImage shown = StretchForDisplay(picture, 50, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x) {
            const bool first = Merges(x, 50, 100, 37) || y * 10 / 40 == 3;
            ASSERT_EQ(shown.pixel(x, y), first ? qRgb(0, 0, 0) : qRgb(255, 255, 255)) << x << "," << y;
        }
}

TEST(StretchOneBit, EnlargingSamplesTheNearestPixel)
{
    const Picture picture = Lines(1, 10, 10, {3}, {});
    const QImage shown = StretchForDisplay(picture, 40, 40);
    for (int x = 0; x < 40; ++x)
        EXPECT_EQ(shown.pixel(x, 0), x / 4 == 3 ? qRgb(0, 0, 0) : qRgb(255, 255, 255)) << x;
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

TEST(StretchOneBit, EightBitPicturesDoNotMerge)
{
    // The same picture held in 8 bits loses the odd column: nearest sampling takes even ones.
    const Picture picture = Lines(8, 100, 10, {37}, {});
    const QImage shown = StretchForDisplay(picture, 50, 10);
    for (int x = 0; x < 50; ++x)
        EXPECT_EQ(shown.pixel(x, 0), qRgb(255, 255, 255)) << x;
}

TEST(StretchEmpty, NothingToShow)
{
    EXPECT_TRUE(StretchForDisplay(Picture(), 480, 360).isNull());
    const Picture picture = Picture::Blank(10, 10);
    EXPECT_TRUE(StretchForDisplay(picture, 0, 360).isNull());
    EXPECT_TRUE(StretchForDisplay(picture, 480, 0).isNull());
}

}  // namespace
