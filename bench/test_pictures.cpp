#include "bench/test_pictures.h"

#include <cstdint>
#include <vector>

#include "tests/support/bmp_file.h"
#include "tests/support/jpeg_file.h"

namespace bench {

namespace {

inline int Luma(const uchar* bgr)
{
    return (29 * bgr[0] + 150 * bgr[1] + 77 * bgr[2]) >> 8;
}

}  // namespace

QImage PhotoLike(int width, int height, int variant)
{
    const std::string samples = jpeg_file::Photo(width, height, 3, unsigned(variant) + 1);
    QImage rgb(reinterpret_cast<const uchar*>(samples.data()), width, height, width * 3, QImage::Format_RGB888);
    return rgb.convertToFormat(QImage::Format_BGR888);  // a deep copy: the samples go
}

pictures::Picture InFormat(const QImage& photo, int bitsPerPixel)
{
    const int w = photo.width(), h = photo.height();
    switch (bitsPerPixel) {
    case 24:
        return pictures::Picture(photo, 24);
    case 32:
        return pictures::Picture(photo.convertToFormat(QImage::Format_RGB32), 32);
    case 16:
        return pictures::Picture(photo.convertToFormat(QImage::Format_RGB555), 16);
    default: {
        QImage out(w, h, QImage::Format_Indexed8);
        QList<QRgb> table;
        if (bitsPerPixel == 1) {
            table = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
        } else if (bitsPerPixel == 4) {
            for (int i = 0; i < 16; ++i)
                table.append(qRgb(i * 17, i * 17, 255 - i * 17));
        } else {
            for (int i = 0; i < 256; ++i)  // 3-3-2 colour cube
                table.append(qRgb((i >> 5) * 255 / 7, ((i >> 2) & 7) * 255 / 7, (i & 3) * 85));
        }
        out.setColorTable(table);
        for (int y = 0; y < h; ++y) {
            const uchar* s = photo.constScanLine(y);
            uchar* d = out.scanLine(y);
            for (int x = 0; x < w; ++x, s += 3) {
                if (bitsPerPixel == 1)
                    d[x] = Luma(s) >= 128 ? 1 : 0;
                else if (bitsPerPixel == 4)
                    d[x] = uchar(Luma(s) >> 4);
                else
                    d[x] = uchar((s[2] >> 5) << 5 | (s[1] >> 5) << 2 | (s[0] >> 6));
            }
        }
        return pictures::Picture(std::move(out), bitsPerPixel);
    }
    }
}

QByteArray EncodeJpeg(const QImage& photo, bool greyscale)
{
    const int w = photo.width();
    const int components = greyscale ? 1 : 3;
    std::string samples;
    samples.reserve(std::size_t(w) * std::size_t(photo.height()) * std::size_t(components));
    for (int y = 0; y < photo.height(); ++y) {
        const uchar* line = photo.constScanLine(y);
        if (!greyscale) {
            samples.append(reinterpret_cast<const char*>(line), std::size_t(w) * 3);
            continue;
        }
        for (int x = 0; x < w; ++x)
            samples.push_back(char(Luma(line + 3 * x)));
    }
    jpeg_file::Encoding encoding;
    encoding.inSpace = greyscale ? JCS_GRAYSCALE : JCS_EXT_BGR;
    encoding.fileSpace = greyscale ? JCS_GRAYSCALE : JCS_YCbCr;
    encoding.quality = 90;
    const std::string file = jpeg_file::Compress(samples, w, photo.height(), components, encoding);
    return QByteArray(file.data(), qsizetype(file.size()));
}

QByteArray EncodeBitmap24(const QImage& photo)
{
    bmp_file::BasicBmpFile<QByteArray> file;
    file.width = photo.width();
    file.height = photo.height();
    file.bpp = 24;
    // The photo's rows already hold blue, green, red: a bitmap's byte order.
    file.pixels = bmp_file::PackRows<QByteArray>(photo.width(), photo.height(), 24, [&](int x, int y) {
        const uchar* p = photo.constScanLine(y) + 3 * x;
        return std::uint32_t(p[0] | p[1] << 8 | p[2] << 16);
    });
    return file.build();
}

}  // namespace bench
