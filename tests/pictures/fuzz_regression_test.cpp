// Files that once held the program for seconds or took hundreds of megabytes, kept in
// fuzz_regressions/ (most found by the fuzz targets): each must be read or refused with its
// message, through the reader it was found with and through the load command's path by file
// name.

#include "pictures/bmp_reader.h"
#include "pictures/failure.h"
#include "pictures/jpeg_reader.h"
#include "pictures/loading.h"

#include <QFile>
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace pictures {
namespace {

QString RegressionFile(const char* name)
{
    return QStringLiteral(MOZARIO_FUZZ_REGRESSIONS "/") + QLatin1String(name);
}

struct Regression {
    const char* file;
    std::function<Picture(const QByteArray&)> read;
    std::string message;  // empty: the file is read
    int width = 0;
    int height = 0;
};

Picture ReadJpeg8(const QByteArray& f)
{
    return DecodeJpeg(f, JpegPixelFormat::Bits8);
}

Picture ReadJpeg24(const QByteArray& f)
{
    return DecodeJpeg(f, JpegPixelFormat::Bits24);
}

TEST(FuzzRegression, EachFileIsReadOrRefused)
{
    const Regression rows[] = {
        // 376 million pixels claimed by a 372-byte bitmap: was read, filling 376 MB.
        {"huge-claim-core-1bit.bmp", ReadBitmap, kBitmapInvalid},
        // A progressive file 45 x 23839 in 431 bytes, reduced to 8 bits: slow under the
        // sanitizers but within the limits.
        {"wide-progressive-8bit.jpg", ReadJpeg8, "", 45, 23839},
        {"wide-progressive-8bit.jpg", ReadJpeg24, "", 45, 23839},
        // 63534 x 129 (8 megapixels) in 196 bytes, reduced to 8 bits in two passes: the largest
        // picture any file may claim, and the slowest kind of decoding.
        {"long-strip-8bit.jpg", ReadJpeg8, "", 63534, 129},
        {"long-strip-8bit.jpg", ReadJpeg24, "", 63534, 129},
        // 4096 x 2048 in 694 scans of 47 KB: every scan a pass over the whole picture, seconds
        // of decoding. Refused as "invalid progressive parameters".
        {"many-scans-4096x2048.jpg", ReadJpeg24, "JPEG エラー #14"},
    };
    for (const Regression& row : rows) {
        SCOPED_TRACE(row.file);
        QFile file(RegressionFile(row.file));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        std::string message;
        try {
            const Picture picture = row.read(bytes);
            EXPECT_EQ(picture.width(), row.width);
            EXPECT_EQ(picture.height(), row.height);
        } catch (const Failure& failure) {
            message = failure.what();
        }
        EXPECT_EQ(message, row.message);

        // The same through the load path, where the name picks the reader (and the pixel
        // format is the default one).
        message = "(read)";
        try {
            LoadPictureFile(RegressionFile(row.file));
            message.clear();
        } catch (const Failure& failure) {
            message = failure.what();
        }
        EXPECT_EQ(message, row.message) << "through the load path";
    }
}

}  // namespace
}  // namespace pictures
