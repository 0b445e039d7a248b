#include "bench/test_pictures.h"

#include <QFile>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>

namespace bench {

namespace {

inline std::uint32_t Mix(std::uint32_t& s)
{
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

inline uchar Clamp(int v)
{
    return uchar(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline int Luma(const uchar* bgr)
{
    return (29 * bgr[0] + 150 * bgr[1] + 77 * bgr[2]) >> 8;
}

}  // namespace

QImage PhotoLike(int width, int height, int variant)
{
    QImage image(width, height, QImage::Format_BGR888);
    std::uint32_t seed = 0x9E3779B9u ^ std::uint32_t(variant * 7919 + 1);
    // A few discs and a horizon give hard edges; gradients and noise the rest.
    struct Disc { double x, y, r; int b, g, rr; };
    std::vector<Disc> discs;
    for (int i = 0; i < 12; ++i) {
        discs.push_back({double(Mix(seed) % std::uint32_t(width)), double(Mix(seed) % std::uint32_t(height)),
                         double(height / 20 + Mix(seed) % std::uint32_t(height / 6)), int(Mix(seed) % 256),
                         int(Mix(seed) % 256), int(Mix(seed) % 256)});
    }
    const int horizon = height * (55 + variant % 10) / 100;
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        const int sky = 255 * y / height;
        for (int x = 0; x < width; ++x) {
            int b, g, r;
            if (y < horizon) {
                b = 230 - sky / 4;
                g = 150 + sky / 3 - (x * 40) / width;
                r = 90 + sky / 2;
            } else {
                b = 40 + (x * 60) / width;
                g = 110 - (y - horizon) * 60 / height + ((x / 37 + y / 23) % 7) * 4;
                r = 60 + ((x * 3 + y) % 97) / 3;
            }
            for (const Disc& d : discs) {
                const double dx = x - d.x, dy = y - d.y;
                if (dx * dx + dy * dy < d.r * d.r) {
                    b = (b + d.b) / 2;
                    g = (g + d.g) / 2;
                    r = (r + d.rr) / 2;
                }
            }
            const int noise = int(Mix(seed) & 15) - 8;
            row[3 * x] = Clamp(b + noise);
            row[3 * x + 1] = Clamp(g + noise);
            row[3 * x + 2] = Clamp(r + noise);
        }
    }
    return image;
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
    jpeg_compress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(photo.width());
    cinfo.image_height = JDIMENSION(photo.height());
    cinfo.input_components = greyscale ? 1 : 3;
    cinfo.in_color_space = greyscale ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    if (!greyscale) {
        cinfo.comp_info[0].h_samp_factor = 2;  // 4:2:0
        cinfo.comp_info[0].v_samp_factor = 2;
        cinfo.comp_info[1].h_samp_factor = cinfo.comp_info[1].v_samp_factor = 1;
        cinfo.comp_info[2].h_samp_factor = cinfo.comp_info[2].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uchar> grey(greyscale ? size_t(photo.width()) : 0);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uchar* line = photo.constScanLine(int(cinfo.next_scanline));
        JSAMPROW row;
        if (greyscale) {
            for (int x = 0; x < photo.width(); ++x)
                grey[size_t(x)] = uchar(Luma(line + 3 * x));
            row = grey.data();
        } else {
            row = const_cast<JSAMPROW>(line);
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

QByteArray EncodeBitmap24(const QImage& photo)
{
    const int w = photo.width(), h = photo.height();
    const qint64 stride = (qint64(w) * 3 + 3) / 4 * 4;
    const qint64 pixelBytes = stride * h;
    QByteArray file(54 + pixelBytes, '\0');
    auto put16 = [&](int at, quint32 v) { file[at] = char(v); file[at + 1] = char(v >> 8); };
    auto put32 = [&](int at, quint32 v) { put16(at, v & 0xFFFF); put16(at + 2, v >> 16); };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, quint32(file.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, quint32(w));
    put32(22, quint32(h));
    put16(26, 1);
    put16(28, 24);
    put32(34, quint32(pixelBytes));
    for (int y = 0; y < h; ++y)
        std::memcpy(file.data() + 54 + (h - 1 - y) * stride, photo.constScanLine(y), size_t(w) * 3);
    return file;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

}  // namespace bench
