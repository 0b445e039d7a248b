#include "pictures/jpeg_reader.h"
#include "pictures/jpeg_source.h"

#include "pictures/failure.h"
#include "pictures/limits.h"
#include "pictures/picture.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <malloc.h>
#include <unistd.h>

#include <jpeglib.h>
#include <jerror.h>

#include "tests/support/jpeg_file.h"
#include "tests/support/jpeg_surgery.h"
#include "tests/support/memory.h"
#include "tests/support/named_rows.h"
#include "tests/support/test_file.h"

namespace pictures {
namespace {

using named_rows::PrintTo;
using named_rows::RowName;

// Pixels top row first: red, green, blue per pixel, or one grey byte.
struct Raster {
    int width = 0;
    int height = 0;
    int channels = 0;
    QByteArray data;

    const uchar* at(int x, int y) const
    {
        return reinterpret_cast<const uchar*>(data.constData()) + (qsizetype(y) * width + x) * channels;
    }
};

// Photo-like content from the shared generator.
Raster Photo(int width, int height, int channels, unsigned seed = 1)
{
    const std::string samples = jpeg_file::Photo(width, height, channels, seed);
    return Raster{width, height, channels, QByteArray(samples.data(), qsizetype(samples.size()))};
}

Raster ParsePnm(const QByteArray& bytes)
{
    qsizetype pos = 0;
    auto token = [&]() {
        while (pos < bytes.size() && std::isspace(uchar(bytes[pos])))
            ++pos;
        const qsizetype start = pos;
        while (pos < bytes.size() && !std::isspace(uchar(bytes[pos])))
            ++pos;
        return bytes.mid(start, pos - start);
    };
    const QByteArray magic = token();
    if (magic != "P5" && magic != "P6")
        throw std::runtime_error("not a binary PNM: " + magic.left(8).toStdString());
    Raster r;
    r.width = token().toInt();
    r.height = token().toInt();
    if (token() != "255")
        throw std::runtime_error("unexpected PNM depth");
    ++pos;  // the single white-space byte before the samples
    r.channels = magic == "P6" ? 3 : 1;
    r.data = bytes.mid(pos);
    if (r.data.size() != qsizetype(r.width) * r.height * r.channels)
        throw std::runtime_error("short PNM data");
    return r;
}

// Compares every pixel of the picture with a reference decode, by colour.
::testing::AssertionResult SamePixels(const Picture& picture, const Raster& ref)
{
    if (picture.width() != ref.width || picture.height() != ref.height) {
        return ::testing::AssertionFailure() << "size " << picture.width() << "x" << picture.height()
                                             << ", expected " << ref.width << "x" << ref.height;
    }
    const QImage& image = picture.image();
    const QVector<QRgb> table = image.colorTable();
    long long mismatches = 0;
    std::string first;
    for (int y = 0; y < ref.height; ++y) {
        const uchar* line = image.constScanLine(y);
        for (int x = 0; x < ref.width; ++x) {
            int r, g, b;
            if (image.format() == QImage::Format_BGR888) {
                b = line[3 * x];
                g = line[3 * x + 1];
                r = line[3 * x + 2];
            } else if (image.format() == QImage::Format_Indexed8) {
                if (line[x] >= table.size())
                    return ::testing::AssertionFailure() << "index " << int(line[x]) << " past the table";
                const QRgb c = table[line[x]];
                r = qRed(c);
                g = qGreen(c);
                b = qBlue(c);
            } else {
                return ::testing::AssertionFailure() << "unexpected format " << image.format();
            }
            const uchar* e = ref.at(x, y);
            const int er = e[0], eg = ref.channels == 3 ? e[1] : e[0], eb = ref.channels == 3 ? e[2] : e[0];
            if (r != er || g != eg || b != eb) {
                if (mismatches++ == 0) {
                    first = "at (" + std::to_string(x) + "," + std::to_string(y) + ") got " + std::to_string(r)
                        + "," + std::to_string(g) + "," + std::to_string(b) + " expected " + std::to_string(er)
                        + "," + std::to_string(eg) + "," + std::to_string(eb);
                }
            }
        }
    }
    if (mismatches)
        return ::testing::AssertionFailure() << mismatches << " pixels differ, first " << first;
    return ::testing::AssertionSuccess();
}

// Reads the file's first bytes, then fails, as a disk with a sector it cannot read.
class FailingDevice : public QBuffer {
public:
    FailingDevice(const QByteArray& file, qint64 readable) : readable_(readable)
    {
        setData(file);
        open(ReadOnly | Unbuffered);
    }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        return pos() < readable_ ? QBuffer::readData(data, std::min(max, readable_ - pos())) : -1;
    }

private:
    qint64 readable_;
};

std::string FailureOf(const QByteArray& file, JpegPixelFormat format = JpegPixelFormat::Bits24)
{
    try {
        DecodeJpeg(file, format);
    } catch (const Failure& failure) {
        return failure.what();
    }
    return "(decoded without a failure)";
}

std::string JpegError(int code)
{
    return "JPEG エラー #" + std::to_string(code);
}

void PatchFrameSize(QByteArray& file, int width, int height)
{
    const std::optional<jpeg_surgery::Segment> frame = jpeg_surgery::First(file, {0xC0, 0xC1, 0xC2, 0xC9, 0xCA});
    ASSERT_TRUE(frame);
    const qsizetype sof = frame->start;
    file[sof + 5] = char(height >> 8);
    file[sof + 6] = char(height & 0xFF);
    file[sof + 7] = char(width >> 8);
    file[sof + 8] = char(width & 0xFF);
}

// Comment segments after the start-of-image marker, so the file reaches the given size.
void PadWithComments(QByteArray& file, qsizetype size)
{
    QByteArray padding;
    while (file.size() + padding.size() < size) {
        const int length = 65535;
        padding += QByteArray("\xFF\xFE", 2);
        padding += char(length >> 8);
        padding += char(length & 0xFF);
        padding += QByteArray(length - 2, 'c');
    }
    file.insert(2, padding);
}

// Zero bytes at the start of the first scan's entropy-coded data, so the file reaches the given
// size with data the decoder reads (and works around).
void PadFirstScan(QByteArray& file, qsizetype size)
{
    const std::optional<jpeg_surgery::Segment> scan = jpeg_surgery::First(file, {0xDA});
    ASSERT_TRUE(scan);
    const qsizetype data = jpeg_surgery::DataStart(file, *scan);
    if (file.size() < size)
        file.insert(data, QByteArray(size - file.size(), '\0'));
}

QByteArray Q(const std::string& s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

// Compresses samples with libjpeg directly, for what cjpeg cannot write.
QByteArray Compress(const QByteArray& samples, int width, int height, int components, J_COLOR_SPACE inSpace,
                    J_COLOR_SPACE fileSpace, bool adobeMarker, const std::vector<jpeg_scan_info>& scans = {})
{
    jpeg_file::Encoding encoding;
    encoding.inSpace = inSpace;
    encoding.fileSpace = fileSpace;
    encoding.adobeMarker = adobeMarker;
    encoding.scans = scans;
    return Q(jpeg_file::Compress(samples.toStdString(), width, height, components, encoding));
}

class JpegReader : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString path(const QString& name) const { return dir_.filePath(name); }

    void write(const QString& name, const QByteArray& bytes) const { test_file::Write(path(name), bytes); }

    QByteArray cjpeg(const Raster& raster, const QStringList& options)
    {
        const std::string samples = raster.data.toStdString();
        return Q(jpeg_file::Cjpeg(jpeg_file::Pnm(samples, raster.width, raster.height, raster.channels),
                                  options.join(' ').toStdString(), dir_.path().toStdString()));
    }

    // The reference decode: djpeg with the floating-point inverse DCT and otherwise its
    // defaults, which are the library's (block smoothing and fancy upsampling on).
    Raster djpeg(const QByteArray& jpeg, const QStringList& options = {}, bool warningsAllowed = false)
    {
        write("reference.jpg", jpeg);
        return ParsePnm(Q(jpeg_file::Run("djpeg -dct float -pnm " + options.join(' ').toStdString() + " '"
                                             + path("reference.jpg").toStdString() + "'",
                                         warningsAllowed)));
    }

private:
    QTemporaryDir dir_;
};

// ---------------------------------------------------------------------------------------------
// Colour and greyscale files

struct FileKind {
    const char* name;
    int width;
    int height;
    int channels;  // 3 colour, 1 grey
    QStringList options;
};

const FileKind kFileKinds[] = {
    {"Baseline420", 173, 97, 3, {"-quality", "85"}},
    {"Sample444", 61, 45, 3, {"-sample", "1x1"}},
    {"Sample422", 75, 33, 3, {"-sample", "2x1"}},
    {"Progressive", 130, 71, 3, {"-progressive"}},
    {"Progressive444", 45, 39, 3, {"-progressive", "-sample", "1x1"}},
    {"RestartEveryRow", 99, 53, 3, {"-restart", "1"}},
    {"Arithmetic", 87, 61, 3, {"-arithmetic"}},
    {"ArithmeticProgressive", 66, 50, 3, {"-arithmetic", "-progressive"}},
    {"OptimizedTables", 101, 77, 3, {"-optimize", "-quality", "40"}},
    {"OnePixel", 1, 1, 3, {}},
    {"OneRow", 250, 1, 3, {}},
    {"GreyBaseline", 123, 85, 1, {}},
    {"GreyProgressive", 77, 59, 1, {"-progressive"}},
    {"GreyArithmetic", 50, 31, 1, {"-arithmetic"}},
};

class Files : public JpegReader, public ::testing::WithParamInterface<FileKind> {};

// Colour files decode to 24 bits, or to at most 236 colours; grey files to 236 grey levels,
// from black up to white, in either format. Pixels as the library's own decoder gives them.
TEST_P(Files, DecodeLikeTheLibraryInEitherFormat)
{
    const FileKind& c = GetParam();
    const bool grey = c.channels == 1;
    const QByteArray jpeg = cjpeg(Photo(c.width, c.height, c.channels), c.options);
    const Raster reduced = djpeg(jpeg, {"-colors", "236"});
    for (JpegPixelFormat format : {JpegPixelFormat::Bits24, JpegPixelFormat::Bits8}) {
        SCOPED_TRACE(format == JpegPixelFormat::Bits24 ? "24 bits" : "8 bits");
        const Picture picture = DecodeJpeg(jpeg, format);
        const bool wide = !grey && format == JpegPixelFormat::Bits24;
        EXPECT_EQ(picture.bitsPerPixel(), wide ? 24 : 8);
        ASSERT_EQ(picture.image().format(), wide ? QImage::Format_BGR888 : QImage::Format_Indexed8);
        EXPECT_TRUE(SamePixels(picture, wide ? djpeg(jpeg) : reduced));
        if (format == JpegPixelFormat::Bits24) {
            // At 1/8 a block is a pixel: what the scans of a block's other coefficients add,
            // where they matter, still shows.
            const QStringList eighth = {"-scale", "1/8"};
            EXPECT_TRUE(SamePixels(DecodeJpeg(jpeg, format, QSize(1, 1)),
                                   djpeg(jpeg, grey ? eighth + QStringList{"-colors", "236"} : eighth)));
        }
        if (wide)
            continue;
        const QVector<QRgb> table = picture.image().colorTable();
        ASSERT_GE(table.size(), 1);
        ASSERT_LE(table.size(), 236);
        if (!grey)
            continue;
        ASSERT_EQ(table.size(), 236);
        for (int i = 0; i < table.size(); ++i) {
            EXPECT_EQ(qRed(table[i]), qGreen(table[i])) << "entry " << i;
            EXPECT_EQ(qRed(table[i]), qBlue(table[i])) << "entry " << i;
            if (i > 0) {
                EXPECT_GT(qRed(table[i]), qRed(table[i - 1])) << "entry " << i;
            }
        }
        EXPECT_EQ(qRed(table.front()), 0);
        EXPECT_EQ(qRed(table.back()), 255);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, Files, ::testing::ValuesIn(kFileKinds), RowName);

TEST_F(JpegReader, PhotoReducedTo8BitsUsesTheFull236Colours)
{
    const QByteArray jpeg = cjpeg(Photo(160, 120, 3), {});
    EXPECT_EQ(DecodeJpeg(jpeg, JpegPixelFormat::Bits8).image().colorTable().size(), 236);
}

// ---------------------------------------------------------------------------------------------
// Damaged files

TEST_F(JpegReader, DamagedFilesLoadAsTheLibrarysOwnReaderLoadsThem)
{
    const auto cutInHalf = [](QByteArray& file) { file = file.left(file.size() / 2); };
    // Zeros inside a scan are its data: here they fill the first 2,000-odd blocks' worth of
    // coefficients, and the scan goes on after them.
    const auto zerosInScan = [](QByteArray& file) { PadFirstScan(file, file.size() + 300000); };
    struct Case {
        const char* name;
        int width, height;
        QStringList options;
        std::function<void(QByteArray&)> damage;
    };
    const Case cases[] = {
        {"cut off in the middle", 200, 150, {}, cutInHalf},
        {"progressive, cut off in the middle", 200, 150, {"-progressive"}, cutInHalf},
        {"300 KB of zeros at the start of its scan", 800, 800, {}, zerosInScan},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray file = cjpeg(Photo(c.width, c.height, 3), c.options);
        c.damage(file);
        Picture picture;
        ASSERT_NO_THROW(picture = DecodeJpeg(file, JpegPixelFormat::Bits24));
        EXPECT_EQ(picture.width(), c.width);
        EXPECT_EQ(picture.height(), c.height);
        EXPECT_EQ(picture.bitsPerPixel(), 24);
        EXPECT_TRUE(SamePixels(picture, djpeg(file, {}, true)));
    }
}

TEST_F(JpegReader, DamagedAndUnshowableFilesFailWithTheDecodersNumber)
{
    const QByteArray good = cjpeg(Photo(40, 30, 3), {});

    QByteArray badHuffman = good;
    const std::optional<jpeg_surgery::Segment> dht = jpeg_surgery::First(badHuffman, {0xC4});
    ASSERT_TRUE(dht);
    badHuffman[dht->start + 5] = char(0xFF);  // 255 codes of length 1: more than a table can hold

    const std::optional<jpeg_surgery::Segment> scan = jpeg_surgery::First(good, {0xDA});
    ASSERT_TRUE(scan);
    const qsizetype sos = scan->start;

    // The first component takes quantisation table 3, which the file does not define.
    QByteArray undefinedTable = good;
    const std::optional<jpeg_surgery::Segment> frame = jpeg_surgery::First(undefinedTable, {0xC0});
    ASSERT_TRUE(frame);
    undefinedTable[frame->start + 12] = char(3);

    const Raster twoChannels = Photo(32, 16, 2);
    const QByteArray twoComponents = Compress(twoChannels.data, 32, 16, 2, JCS_UNKNOWN, JCS_UNKNOWN, false);

    struct Case {
        const char* name;
        QByteArray file;
        std::string message;
    };
    const Case cases[] = {
        {"empty", QByteArray(), JpegError(41)},
        {"bitmap", QByteArray("BM\x46\0\0\0\0\0\0\0\x36\0\0\0", 14) + QByteArray(60, '\0'), JpegError(52)},
        {"png", QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), JpegError(52)},
        {"gif", QByteArray("GIF89a\x01\0\x01\0\0\0\0", 13), JpegError(52)},
        {"one 0xFF byte", QByteArray("\xFF", 1), JpegError(52)},
        {"one zero byte", QByteArray(1, '\0'), JpegError(52)},
        {"start-of-image only", QByteArray("\xFF\xD8", 2), JpegError(50)},
        {"cut before the first scan", good.left(sos), JpegError(58)},
        {"bogus Huffman table", badHuffman, JpegError(28)},
        {"undefined quantisation table", undefinedTable, JpegError(51)},
        {"two components, which the decoder cannot show", twoComponents, JpegError(25)},
        // Zeros far longer than any segment are passed over, up to the marker after them.
        {"a second picture after 300 KB of zeros", good.chopped(2) + QByteArray(300000, '\0') + good,
         JpegError(60)},
        {"the same, the zeros ending where a read of the file ends",
         good.chopped(2) + QByteArray(4 * qsizetype(kReadAhead) - good.size() + 2, '\0') + good, JpegError(60)},
        {"300 KB of zeros in place of the end-of-image marker", good.chopped(2) + QByteArray(300000, '\0'),
         "(decoded without a failure)"},
    };
    for (const Case& c : cases) {
        for (JpegPixelFormat format : {JpegPixelFormat::Bits24, JpegPixelFormat::Bits8})
            EXPECT_EQ(FailureOf(c.file, format), c.message) << c.name;
    }
}

TEST_F(JpegReader, LongMarkerSegmentsAreSkippedEvenPastTheEnd)
{
    const QByteArray good = cjpeg(Photo(45, 35, 3), {});
    const Picture plain = DecodeJpeg(good, JpegPixelFormat::Bits24);

    // Two long application segments spanning many read blocks, the second ending far beyond
    // what is read ahead, holding thumbnails as camera segments do: read as markers, they would
    // start a second picture.
    const QByteArray thumbnail = cjpeg(Photo(16, 8, 3), {});
    auto segment = [&](int length) {
        QByteArray bytes("\xFF\xE1", 2);
        bytes += char(length >> 8);
        bytes += char(length & 0xFF);
        while (bytes.size() < length + 2)
            bytes += thumbnail;
        return bytes.left(length + 2);
    };
    const QByteArray withSegment = good.left(2) + segment(60000) + segment(65533) + good.mid(2);
    const Picture skipped = DecodeJpeg(withSegment, JpegPixelFormat::Bits24);
    ASSERT_EQ(skipped.width(), 45);
    EXPECT_EQ(skipped.image(), plain.image());

    // The same file cut inside either segment: the skip runs past the end of the file.
    for (qsizetype cut : {qsizetype(10), qsizetype(5000), qsizetype(40000), qsizetype(100000)})
        EXPECT_EQ(FailureOf(withSegment.left(cut)), JpegError(50)) << cut;

    // A device that cannot read on, halfway through the scan: the read's error, not an end.
    FailingDevice failing(good, good.size() / 2);
    try {
        DecodeJpeg(failing, JpegPixelFormat::Bits24);
        ADD_FAILURE() << "decoded";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.what(), JpegError(35));
    }
}

// ---------------------------------------------------------------------------------------------
// Oversized and hostile files

// Enough scan data to pay for any working set of a picture of this many pixels.
qsizetype DataPayingFor(long long pixels)
{
    return qsizetype(pixels * 10 / kWorkingSetPerDataByte + 1);
}

// Bytes between the first scan's header and the end-of-image marker: all of a single-scan
// file's entropy-coded data, restart markers included.
qsizetype ScanDataOf(const QByteArray& file)
{
    return file.size() - 2 - jpeg_surgery::DataStart(file, *jpeg_surgery::First(file, {0xDA}));
}

// Whether the file is decoded at its claimed size, at a scale small enough to be quick (the
// limits are those of the full size), or the failure's message.
std::string OutcomeOf(const QByteArray& file, int width, int height, JpegPixelFormat format = JpegPixelFormat::Bits24)
{
    try {
        QSize full;
        DecodeJpeg(file, format, QSize(64, 64), &full);
        return full == QSize(width, height) ? "decoded" : "decoded at another size";
    } catch (const Failure& failure) {
        return failure.what();
    }
}

TEST_F(JpegReader, PicturesBeyondTheSizeLimitsAreRefused)
{
    // Each file carries enough scan data for its size, so only the size limits refuse it.
    const QByteArray baseline = cjpeg(Photo(40, 30, 3), {});
    const QByteArray progressive444 = cjpeg(Photo(40, 30, 3), {"-progressive", "-sample", "1x1"});
    const QByteArray grey = cjpeg(Photo(40, 30, 3), {"-grayscale"});
    struct Case {
        const char* name;
        const QByteArray& file;
        int width;
        int height;
        JpegPixelFormat format;
        std::string message;
    };
    const Case cases[] = {
        // The decoder's own limit: its error, not a failed allocation.
        {"a side beyond the decoder's 65500", baseline, 65535, 100, JpegPixelFormat::Bits24, JpegError(40)},
        {"largest sides", baseline, 65500, 65500, JpegPixelFormat::Bits24, kOutOfResources},
        {"largest sides, 8 bits", baseline, 65500, 65500, JpegPixelFormat::Bits8, kOutOfResources},
        {"1.2 GB of 24-bit pixels", baseline, 20000, 20000, JpegPixelFormat::Bits24, kOutOfResources},
        {"24-bit pixels 32 KB over 1 GiB", baseline, 16384, 21846, JpegPixelFormat::Bits24, kOutOfResources},
        {"8-bit pixels 32 KB over 1 GiB", grey, 32768, 32769, JpegPixelFormat::Bits8, kOutOfResources},
        // 400 MB of 8-bit pixels would fit, but reducing the colours buffers the whole picture
        // at 24 bits first.
        {"8 bits reduced from 1.2 GB", baseline, 20000, 20000, JpegPixelFormat::Bits8, kOutOfResources},
        // 867 MB of 24-bit pixels fit, but the coefficients of a 4:4:4 progressive file would
        // take 1.73 GB.
        {"coefficients of 1.73 GB", progressive444, 17000, 17000, JpegPixelFormat::Bits24, kOutOfResources},
    };
    for (const Case& c : cases) {
        QByteArray file = c.file;
        PatchFrameSize(file, c.width, c.height);
        PadFirstScan(file, DataPayingFor(qint64(c.width) * c.height));
        EXPECT_EQ(FailureOf(file, c.format), c.message) << c.name;
    }
}

// A decode that finds no memory for its picture fails, and gives back what the decoder held
// (for a progressive file, every block's coefficients). The address space is capped for that
// in a process of its own.
using JpegReaderDeathTest = JpegReader;
TEST_F(JpegReaderDeathTest, ADecodeWithoutMemoryForItsPictureGivesBackTheDecoders)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than a cap leaves";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A small file claiming 2000 x 2000, which the decoder fills in: 12 MB of coefficients, then
    // 12 MB of pixels. Made small, so no free heap is left for the decoder beyond the cap.
    QByteArray claim = cjpeg(Photo(64, 48, 3), {"-progressive"});
    PatchFrameSize(claim, 2000, 2000);
    const auto decode = [&] {
        const auto held = [] {
            const struct mallinfo2 m = mallinfo2();
            return m.uordblks + m.hblkhd;
        };
        if (!test_memory::CapAddressSpace(rlim_t(18) << 20))
            std::_Exit(3);
        const std::size_t before = held();
        try {
            DecodeJpeg(claim, JpegPixelFormat::Bits24);
            std::_Exit(4);
        } catch (const Failure& failure) {
            if (std::string(failure.what()) != kOutOfResources)
                std::_Exit(5);
        }
        std::_Exit(held() < before + (1 << 20) ? 0 : 6);
    };
    EXPECT_EXIT(decode(), testing::ExitedWithCode(0), "");
}

TEST_F(JpegReader, OnlyScanDataPaysForTheWorkingSet)
{
    // Cut off or made up: decoding would fill hundreds of megabytes from a few hundred bytes.
    // A single-scan colour file's working set is its 24-bit pixels.
    const QByteArray small = cjpeg(Photo(40, 30, 3), {});
    // A restart marker every row of blocks: the scan's data is in 16 intervals.
    const QByteArray restarts = cjpeg(Photo(256, 256, 3), {"-restart", "1"});
    const long long restartData = ScanDataOf(restarts);
    // A restart marker or a stuffed zero between segments stands alone: the decoder passes over
    // it, and so must the count.
    QByteArray strayRestart = small;
    const qsizetype firstScan = jpeg_surgery::First(small, {0xDA})->start;
    strayRestart.insert(firstScan, QByteArray("\xFF\xD0", 2));
    QByteArray strayZero = small;
    strayZero.insert(firstScan, QByteArray("\xFF\x00", 2));
    // Fill bytes before a marker between segments belong to the marker.
    QByteArray filledBetween = small;
    filledBetween.insert(jpeg_surgery::First(small, {0xDB})->start, QByteArray("\xFF\xFF", 2));
    const QByteArray cutInScan = small.chopped(20);
    // A start-of-image marker ends the scan as any marker but a restart does: what follows is
    // no scan data.
    const QByteArray startInScan = small.chopped(2) + QByteArray("\xFF\xD8", 2) + QByteArray(8000, 'x') + small.right(2);
    // A segment claiming length 0, its length bytes on either side of the count's first 64 KiB
    // read: the decoder skips nothing for it, and so must the count, never going back.
    QByteArray zeroLength = small;
    const qsizetype commentAt = firstScan;
    const qsizetype commentLength = 65533 - commentAt;
    zeroLength.insert(commentAt, QByteArray("\xFF\xFE", 2) + char(commentLength >> 8) + char(commentLength & 0xFF)
                                     + QByteArray(commentLength - 2, 'c') + QByteArray("\xFF\xE1\0\0", 4));
    // A segment whose bytes look like markers (an end of image among them), running past the
    // first 64 KiB of the file: passed over by its length, not read.
    QByteArray markerLike = small;
    markerLike.insert(2, QByteArray("\xFF\xE1\xFF\xFF", 4) + QByteArray("\xFF\xD9", 2).repeated(32767).left(65533));
    // The height at which a picture 8192 wide needs the given scan data to be paid for.
    auto heightPaidBy = [](long long data) { return int((kFreeWorkingSet + data * kWorkingSetPerDataByte) / 3 / 8192); };
    struct Case {
        const char* name;
        const QByteArray& file;
        int width;
        int height;
        void (*pad)(QByteArray&, qsizetype);
        qsizetype padTo;
        bool refused;
    };
    const Case cases[] = {
        {"the free working set, which any file may claim", small, 8192, 4096, nullptr, 0, false},
        {"twice that", small, 8192, 8192, nullptr, 0, true},
        {"twice that, with comments for the rest", small, 8192, 8192, PadWithComments, 8000, true},
        {"twice that, cut off inside its scan", cutInScan, 8192, 8192, nullptr, 0, true},
        {"twice that, the rest after a start of image in its scan", startInScan, 8192, 8192, nullptr, 0, true},
        {"twice that, with scan data for the rest", small, 8192, 8192, PadFirstScan, 8000, false},
        {"the same after a stray restart marker", strayRestart, 8192, 8192, PadFirstScan, 8000, false},
        {"the same after a stray stuffed zero", strayZero, 8192, 8192, PadFirstScan, 8000, false},
        {"the same after a long segment", markerLike, 8192, 8192, PadFirstScan, 8000, false},
        {"the same after a segment of length 0", zeroLength, 8192, 8192, PadFirstScan, 8000, false},
        {"the same after fill bytes before a segment", filledBetween, 8192, 8192, PadFirstScan, 8000, false},
        {"192 megapixels", small, 16000, 12000, nullptr, 0, true},
        // Every interval between restart markers counts, and nothing after the scan does.
        {"restart intervals paying for half", restarts, 8192, heightPaidBy(restartData / 2), nullptr, 0, false},
        {"restart intervals paying for too little", restarts, 8192, heightPaidBy(restartData * 3 / 2), nullptr, 0,
         true},
    };
    for (const Case& c : cases) {
        QByteArray file = c.file;
        PatchFrameSize(file, c.width, c.height);
        if (c.pad)
            c.pad(file, c.padTo + file.size());
        EXPECT_EQ(OutcomeOf(file, c.width, c.height), c.refused ? kOutOfResources : "decoded") << c.name;
    }
    const auto countOf = [](QByteArray file) {
        QBuffer buffer(&file);
        buffer.open(QIODevice::ReadOnly);
        return EntropyCodedBytes(buffer, 1LL << 40);
    };
    // Every byte of a scan counts, the pair of a stuffed zero as two.
    const QByteArray photo = cjpeg(Photo(256, 256, 3), {});
    ASSERT_TRUE(photo.contains(QByteArray("\xFF\x00", 2)));
    EXPECT_EQ(countOf(photo), ScanDataOf(photo));
    // The scans of a progressive file pay together; its first, the DC one, holds little. Fill
    // bytes between a scan and the next marker count for nothing.
    const QByteArray progressive = cjpeg(Photo(256, 256, 3), {"-progressive"});
    EXPECT_GT(countOf(progressive), ScanDataOf(progressive) * 3 / 4);
    QByteArray filled = progressive;
    const std::vector<jpeg_surgery::Segment> scans = jpeg_surgery::All(progressive, {0xDA});
    ASSERT_GE(scans.size(), 2u);
    filled.insert(scans[0].end, QByteArray("\xFF\xFF\xFF", 3));
    EXPECT_EQ(countOf(filled), countOf(progressive));

    // At the rule: a progressive picture's working set is its pixels at 24 bits (and as many
    // bytes again to reduce them to 8) and its coefficients as the decoder keeps them, two bytes
    // each in blocks of 64, rounded up to whole units of the sampling. 8192 x 4104 at 4:2:0: 1024
    // x 514 luma blocks (513 rows rounded up to pairs) and twice 512 x 257 chroma blocks. The
    // data for it decodes; a byte less is refused.
    QByteArray claim = cjpeg(Photo(64, 48, 3), {"-progressive"});
    PatchFrameSize(claim, 8192, 4104);
    const long long coded = countOf(claim);
    for (const auto& [format, pixelBytes] : {std::pair{JpegPixelFormat::Bits24, 3}, std::pair{JpegPixelFormat::Bits8, 4}}) {
        const long long workingSet = 8192LL * 4104 * pixelBytes + (1024LL * 514 + 2 * 512 * 257) * 64 * 2;
        const long long enough = (workingSet - kFreeWorkingSet) / kWorkingSetPerDataByte + 1;
        for (const long long data : {enough, enough - 1}) {
            QByteArray file = claim;
            PadFirstScan(file, file.size() + qsizetype(data - coded));
            EXPECT_EQ(OutcomeOf(file, 8192, 4104, format), data == enough ? "decoded" : kOutOfResources)
                << pixelBytes << " bytes a pixel, " << data;
        }
    }
}

// Passed over, a scan's data leaves the decoder the file from the marker that ends it, read in
// blocks of 4096 bytes: a marker is an 0xFF (the last of any fill bytes) followed by a code that
// is no stuffed zero and no restart.
TEST_F(JpegReader, PassingOverAScanLeavesItsEndingMarkerNext)
{
    const auto data = [](qsizetype count) { return QByteArray(count, 'x'); };
    const QByteArray tail = QByteArray("\xC4\x00\x05", 3) + data(5000) + QByteArray("\xFF\xD9", 2);
    struct Case {
        const char* name;
        QByteArray file;
        qsizetype marker;  // where the decoder goes on, or -1 for the end of the file
    };
    const Case cases[] = {
        {"past stuffed zeros and restarts", data(100) + "\xFF" + '\0' + data(9) + "\xFF\xD3" + data(9) + '\xFF' + tail, 122},
        {"the code opening the next block", data(4095) + '\xFF' + tail, 4095},
        {"a stuffed zero opening the next block", data(4095) + '\xFF' + '\0' + data(9) + '\xFF' + tail, 4106},
        {"a restart opening the next block", data(4095) + "\xFF\xD7" + data(9) + '\xFF' + tail, 4106},
        {"fill bytes across the end of a block", data(4090) + QByteArray(10, '\xFF') + tail, 4099},
        {"no marker before the end", data(9000) + '\xFF', -1},
    };
    // Passes over a scan starting at the file's start, then reads on to the end.
    const auto passAndReadOn = [](QIODevice& device, QByteArray* rest) {
        auto reader = std::make_unique<JpegFileReader>();
        StartJpegReading(reader.get(), &device);
        const unsigned char* next = nullptr;
        std::size_t left = std::size_t(NextJpegBlock(reader.get(), false, &next));
        if (!PassScanData(reader.get(), &next, &left))
            return false;
        rest->append(reinterpret_cast<const char*>(next), qsizetype(left));
        for (qint64 count; (count = NextJpegBlock(reader.get(), false, &next)) > 0;)
            rest->append(reinterpret_cast<const char*>(next), count);
        return true;
    };
    for (const Case& c : cases) {
        QByteArray file = c.file;
        QBuffer buffer(&file);
        buffer.open(QIODevice::ReadOnly);
        QByteArray rest;
        ASSERT_TRUE(passAndReadOn(buffer, &rest)) << c.name;
        EXPECT_EQ(rest, c.marker < 0 ? QByteArray() : file.mid(c.marker)) << c.name;
    }
    FailingDevice failing(data(20000), 9000);
    QByteArray rest;
    EXPECT_FALSE(passAndReadOn(failing, &rest));
}

// Bytes this process has read from files so far.
long long BytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = -1;
    while (io >> key >> value && key != "rchar:") {
    }
    return value;
}

TEST_F(JpegReader, HolesOfASparseFileAreNeitherReadNorCounted)
{
    // A 16000 x 16000 header with 30 KB of scan data and 3 GB of hole: were the hole read and
    // counted, it would pay for the 768 MB of pixels. Read, the hole would take seconds.
    QByteArray claimed = cjpeg(Photo(40, 30, 3), {});
    PatchFrameSize(claimed, 16000, 16000);
    // The data ends where a block of the file does, so the hole takes every byte after it.
    PadFirstScan(claimed, (claimed.size() + 30000) / 4096 * 4096 + 2);
    const qint64 hole = 3LL << 30;
    // A picture that fits, the hole in place of its end-of-image marker: the decoder passes it
    // looking for the marker.
    const QByteArray small = cjpeg(Photo(40, 30, 3), {});
    struct Case {
        const char* name;
        QByteArray before;
        QByteArray after;
        std::string outcome;
    };
    const Case cases[] = {
        {"in the scan", claimed.chopped(2), claimed.right(2), kOutOfResources},
        {"in the scan, to the end", claimed.chopped(2), {}, kOutOfResources},
        {"before the first segment", claimed.left(2), claimed.mid(2), kOutOfResources},
        {"in place of the end of image", small.chopped(2), {}, "decoded"},
    };
    // Also open as descriptor 0, as in a program started with its input closed.
    for (const bool inputClosed : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (inputClosed ? ", descriptor 0" : ""));
            QFile file(path("sparse.jpg"));
            ASSERT_TRUE(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
            ASSERT_EQ(file.write(c.before), c.before.size());
            ASSERT_TRUE(file.resize(c.before.size() + hole) && file.seek(file.size()));
            ASSERT_EQ(file.write(c.after), c.after.size());
            file.close();
            const auto check = [&] {
                ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
                const long long readBefore = BytesRead();
                if (c.outcome == kOutOfResources) {
                    EXPECT_EQ(EntropyCodedBytes(file, 1LL << 40), ScanDataOf(claimed));
                }
                std::string outcome = "decoded";
                try {
                    ASSERT_TRUE(file.seek(0));
                    DecodeJpeg(file, JpegPixelFormat::Bits24, QSize(64, 64));
                } catch (const Failure& failure) {
                    outcome = failure.what();
                }
                EXPECT_EQ(outcome, c.outcome);
                EXPECT_LT(BytesRead() - readBefore, 1 << 20);
                file.close();
            };
            if (inputClosed)
                test_file::WithInputClosed(check);
            else
                check();
        }
    }
}

TEST_F(JpegReader, ScanPassesAreBoundedByThePicturesCoefficients)
{
    // A long progression of a small 4:4:4 picture, claimed at 2048 x 2048: each of its 278
    // scans passes over the whole picture (its data runs short, the decoder fills in the rest),
    // 1.26 billion coefficients in all, 100 times the picture's and more than 2^30.
    jpeg_file::Encoding encoding;
    encoding.fullChroma = true;
    encoding.scans = jpeg_file::SuccessiveScript(8);
    ASSERT_EQ(encoding.scans.size(), 278u);
    QByteArray progression = Q(jpeg_file::Compress(jpeg_file::Photo(16, 16, 3), 16, 16, 3, encoding));
    PatchFrameSize(progression, 2048, 2048);

    // The same with its first or second scan sent twice: a file that codes again what it has
    // coded.
    const std::vector<jpeg_surgery::Segment> scans = jpeg_surgery::All(progression, {0xDA});
    ASSERT_GE(scans.size(), 3u);
    auto twice = [&](int scan) {
        QByteArray file = progression;
        return file.insert(scans[scan + 1].start, progression.mid(scans[scan].start, scans[scan].end - scans[scan].start));
    };
    const QByteArray repeated = twice(1), repeatedFirst = twice(0);

    struct Case {
        const char* name;
        const QByteArray& file;
        std::string outcome;
    };
    const Case cases[] = {
        {"a long progression", progression, "decoded"},
        {"a scan repeated", repeated, JpegError(14)},
        {"the first scan repeated", repeatedFirst, JpegError(14)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OutcomeOf(c.file, 2048, 2048), c.outcome) << c.name;
}

TEST_F(JpegReader, HundredsOfScansOfASmallPictureDecodeLikeTheLibrary)
{
    // Scans times area is what is limited (see the regression files for a large picture), not
    // the count of scans.
    const Raster photo = Photo(24, 16, 3);
    const std::vector<jpeg_scan_info> script = jpeg_file::SuccessiveScript(63);
    ASSERT_GT(script.size(), 2000u);
    const QByteArray file = Compress(photo.data, photo.width, photo.height, 3, JCS_RGB, JCS_YCbCr, false, script);
    EXPECT_TRUE(SamePixels(DecodeJpeg(file, JpegPixelFormat::Bits24), djpeg(file)));
}

// ---------------------------------------------------------------------------------------------
// Message numbers

// The decoder's errors as the IJG library's release 6 listed them, in its order: a code's number
// is its place in this list.
const char* const kReleaseSixErrors[] = {
    "JMSG_NOMESSAGE", "JERR_ARITH_NOTIMPL", "JERR_BAD_ALIGN_TYPE", "JERR_BAD_ALLOC_CHUNK",
    "JERR_BAD_BUFFER_MODE", "JERR_BAD_COMPONENT_ID", "JERR_BAD_DCTSIZE", "JERR_BAD_IN_COLORSPACE",
    "JERR_BAD_J_COLORSPACE", "JERR_BAD_LENGTH", "JERR_BAD_LIB_VERSION", "JERR_BAD_MCU_SIZE",
    "JERR_BAD_POOL_ID", "JERR_BAD_PRECISION", "JERR_BAD_PROGRESSION", "JERR_BAD_PROG_SCRIPT",
    "JERR_BAD_SAMPLING", "JERR_BAD_SCAN_SCRIPT", "JERR_BAD_STATE", "JERR_BAD_STRUCT_SIZE",
    "JERR_BAD_VIRTUAL_ACCESS", "JERR_BUFFER_SIZE", "JERR_CANT_SUSPEND", "JERR_CCIR601_NOTIMPL",
    "JERR_COMPONENT_COUNT", "JERR_CONVERSION_NOTIMPL", "JERR_DAC_INDEX", "JERR_DAC_VALUE",
    "JERR_DHT_COUNTS", "JERR_DHT_INDEX", "JERR_DQT_INDEX", "JERR_EMPTY_IMAGE", "JERR_EMS_READ",
    "JERR_EMS_WRITE", "JERR_EOI_EXPECTED", "JERR_FILE_READ", "JERR_FILE_WRITE",
    "JERR_FRACT_SAMPLE_NOTIMPL", "JERR_HUFF_CLEN_OVERFLOW", "JERR_HUFF_MISSING_CODE",
    "JERR_IMAGE_TOO_BIG", "JERR_INPUT_EMPTY", "JERR_INPUT_EOF", "JERR_MISMATCHED_QUANT_TABLE",
    "JERR_MISSING_DATA", "JERR_MODE_CHANGE", "JERR_NOTIMPL", "JERR_NOT_COMPILED",
    "JERR_NO_BACKING_STORE", "JERR_NO_HUFF_TABLE", "JERR_NO_IMAGE", "JERR_NO_QUANT_TABLE",
    "JERR_NO_SOI", "JERR_OUT_OF_MEMORY", "JERR_QUANT_COMPONENTS", "JERR_QUANT_FEW_COLORS",
    "JERR_QUANT_MANY_COLORS", "JERR_SOF_DUPLICATE", "JERR_SOF_NO_SOS", "JERR_SOF_UNSUPPORTED",
    "JERR_SOI_DUPLICATE", "JERR_SOS_NO_SOF", "JERR_TFILE_CREATE", "JERR_TFILE_READ",
    "JERR_TFILE_SEEK", "JERR_TFILE_WRITE", "JERR_TOO_LITTLE_DATA", "JERR_UNKNOWN_MARKER",
    "JERR_VIRTUAL_BUG", "JERR_WIDTH_OVERFLOW", "JERR_XMS_READ", "JERR_XMS_WRITE",
};

// Every message of the installed library by its name, from its own list.
struct InstalledMessage {
    int code;
    const char* name;
};
#define JMESSAGE(code, string) {code, #code},
const InstalledMessage kInstalledMessages[] = {
#include <jerror.h>
};

TEST(JpegErrorNumbers, EveryErrorIsReportedWithItsReleaseSixNumber)
{
    // Later codes, reported as the error release 6 gave in their place.
    const std::map<std::string, int> later = {
        {"JERR_BAD_HUFF_TABLE", 28}, {"JERR_NO_ARITH_TABLE", 49}, {"JERR_BAD_DCT_COEF", 46},
        {"JERR_BAD_CROP_SPEC", 46},  {"JERR_BAD_DROP_SAMPLING", 46},
    };
    int errors = 0;
    for (const InstalledMessage& m : kInstalledMessages) {
        const std::string name = m.name;
        if (name.rfind("JERR_", 0) != 0)
            continue;  // warnings and traces never end a decode
        ++errors;
        const auto* place = std::find_if(std::begin(kReleaseSixErrors), std::end(kReleaseSixErrors),
                                         [&](const char* n) { return name == n; });
        std::string expected;
        if (name == "JERR_OUT_OF_MEMORY")
            expected = kOutOfResources;  // a failed allocation, not a fault of the file
        else if (place != std::end(kReleaseSixErrors))
            expected = JpegError(int(place - std::begin(kReleaseSixErrors)));
        else if (later.count(name))
            expected = JpegError(later.at(name));
        else
            expected = "(a code this test does not know)";
        EXPECT_EQ(JpegErrorMessage(m.code), expected) << name;
    }
    EXPECT_GE(errors, 70);
    EXPECT_EQ(JpegErrorMessage(JERR_INPUT_EMPTY), JpegError(41));
    EXPECT_EQ(JpegErrorMessage(JERR_NO_SOI), JpegError(52));
    EXPECT_EQ(JpegErrorMessage(JERR_IMAGE_TOO_BIG), JpegError(40));
    EXPECT_EQ(JpegErrorMessage(JERR_WIDTH_OVERFLOW), JpegError(69));
}

// ---------------------------------------------------------------------------------------------
// Four components

struct InkPatch {
    int c, m, y, k;  // ink amounts, 255 = full ink
    int r, g, b;     // the colour they make
};
const InkPatch kPatches[] = {
    {0, 255, 255, 0, 255, 0, 0},
    {255, 0, 255, 0, 0, 255, 0},
    {255, 255, 0, 0, 0, 0, 255},
    {170, 0, 0, 128, 42, 127, 127},  // cyan over black: both take part in red
};

// Four flat 16 x 16 patches side by side, stored as inks (inverted, as Adobe applications
// store them, when asked).
QByteArray InkSamples(bool inverted)
{
    QByteArray samples(64 * 16 * 4, '\0');
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 64; ++x) {
            const InkPatch& p = kPatches[x / 16];
            const int inks[4] = {p.c, p.m, p.y, p.k};
            for (int i = 0; i < 4; ++i)
                samples[(y * 64 + x) * 4 + i] = char(inverted ? 255 - inks[i] : inks[i]);
        }
    }
    return samples;
}

void ExpectPatchColours(const Picture& picture, int tolerance)
{
    ASSERT_EQ(picture.width(), 64);
    ASSERT_EQ(picture.height(), 16);
    for (int i = 0; i < 4; ++i) {
        const Colour c = picture.pixel(i * 16 + 8, 8);
        const int r = int(c & 0xFF), g = int(c >> 8 & 0xFF), b = int(c >> 16 & 0xFF);
        EXPECT_NEAR(r, kPatches[i].r, tolerance) << "patch " << i;
        EXPECT_NEAR(g, kPatches[i].g, tolerance) << "patch " << i;
        EXPECT_NEAR(b, kPatches[i].b, tolerance) << "patch " << i;
    }
}

TEST_F(JpegReader, FourComponentFilesShowTheirColours)
{
    struct Case {
        const char* name;
        J_COLOR_SPACE fileSpace;
        bool adobe;
        int tolerance;  // at 24 bits: flat blocks of inks come back exact, through YCC not quite
    };
    const Case cases[] = {
        {"plain CMYK", JCS_CMYK, false, 0},
        {"Adobe CMYK", JCS_CMYK, true, 0},
        {"Adobe YCCK", JCS_YCCK, true, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray file = Compress(InkSamples(c.adobe), 64, 16, 4, JCS_CMYK, c.fileSpace, c.adobe);
        const Picture wide = DecodeJpeg(file, JpegPixelFormat::Bits24);
        EXPECT_EQ(wide.bitsPerPixel(), 24);
        ExpectPatchColours(wide, c.tolerance);
        const Picture reduced = DecodeJpeg(file, JpegPixelFormat::Bits8);
        EXPECT_EQ(reduced.bitsPerPixel(), 8);
        ExpectPatchColours(reduced, 12);
    }
}

TEST_F(JpegReader, AdobeCmykPhotoMatchesTheLibrarysConversion)
{
    // djpeg turns the inks of a CMYK file into colours as Adobe files store them.
    const Raster inks = Photo(83, 47, 3);
    QByteArray samples(83 * 47 * 4, '\0');
    for (int i = 0; i < 83 * 47; ++i) {
        for (int c = 0; c < 3; ++c)
            samples[i * 4 + c] = inks.data[i * 3 + c];
        samples[i * 4 + 3] = char(255 - (i % 83) * 2);
    }
    const QByteArray file = Compress(samples, 83, 47, 4, JCS_CMYK, JCS_CMYK, true);
    const Picture picture = DecodeJpeg(file, JpegPixelFormat::Bits24);
    EXPECT_TRUE(SamePixels(picture, djpeg(file)));
}

// ---------------------------------------------------------------------------------------------
// Pixel format

TEST(JpegPixelFormatChoice, EightBitScreensGetEightBitPictures)
{
    const std::pair<int, JpegPixelFormat> cases[] = {
        {1, JpegPixelFormat::Bits8},   {4, JpegPixelFormat::Bits8},   {8, JpegPixelFormat::Bits8},
        {15, JpegPixelFormat::Bits24}, {16, JpegPixelFormat::Bits24}, {24, JpegPixelFormat::Bits24},
        {32, JpegPixelFormat::Bits24},
    };
    for (auto [depth, format] : cases)
        EXPECT_EQ(JpegPixelFormatForScreenDepth(depth), format) << depth;
}

TEST_F(JpegReader, DecodingFollowsTheDefaultPixelFormat)
{
    EXPECT_EQ(DefaultJpegPixelFormat(), JpegPixelFormat::Bits24);
    const QByteArray jpeg = cjpeg(Photo(30, 20, 3), {});
    EXPECT_EQ(DecodeJpeg(jpeg).bitsPerPixel(), 24);
    SetDefaultJpegPixelFormat(JpegPixelFormat::Bits8);
    EXPECT_EQ(DefaultJpegPixelFormat(), JpegPixelFormat::Bits8);
    const int bits = DecodeJpeg(jpeg).bitsPerPixel();
    SetDefaultJpegPixelFormat(JpegPixelFormat::Bits24);
    EXPECT_EQ(bits, 8);
}

}  // namespace
}  // namespace pictures
