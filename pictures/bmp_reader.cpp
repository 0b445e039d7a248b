#include "pictures/bmp_reader.h"

#include "pictures/failure.h"
#include "pictures/picture.h"

#include <QImage>
#include <QVector>
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace pictures {
namespace {

constexpr qint64 kFileHeaderSize = 14;
constexpr qint64 kCoreHeaderSize = 12;
constexpr qint64 kInfoHeaderSize = 40;
// Bit-field masks sit right after the fields of the 40-byte header: inside the larger headers,
// following the 40-byte one.
constexpr qint64 kMasksOffset = kFileHeaderSize + kInfoHeaderSize;
constexpr qint64 kMasksSize = 12;

enum Compression : std::uint32_t {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitFields = 3,
};

[[noreturn]] void Fail(const char* message)
{
    throw Failure(message);
}

// The file's bytes with little-endian reads. Positions and counts are 64-bit, so offsets and
// sizes taken from the headers cannot wrap; callers check with holds() before reading.
class Bytes {
public:
    explicit Bytes(const QByteArray& file)
        : data_(reinterpret_cast<const uchar*>(file.constData())), size_(file.size())
    {
    }

    qint64 size() const { return size_; }
    bool holds(qint64 pos, qint64 count) const
    {
        return pos >= 0 && count >= 0 && pos <= size_ && count <= size_ - pos;
    }
    const uchar* at(qint64 pos) const { return data_ + pos; }
    std::uint16_t u16(qint64 pos) const
    {
        return std::uint16_t(data_[pos] | data_[pos + 1] << 8);
    }
    std::uint32_t u32(qint64 pos) const
    {
        return std::uint32_t(data_[pos]) | std::uint32_t(data_[pos + 1]) << 8 |
               std::uint32_t(data_[pos + 2]) << 16 | std::uint32_t(data_[pos + 3]) << 24;
    }

private:
    const uchar* data_;
    qint64 size_;
};

// One colour channel of a bit-field pixel: where its bits lie and how to widen them to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit Channel(std::uint32_t m) : mask(m)
    {
        if (m != 0) {
            shift = std::countr_zero(m);
            bits = std::popcount(m);
        }
    }

    std::uint32_t value(std::uint32_t pixel) const
    {
        if (bits == 0)
            return 0;
        const std::uint64_t v = (pixel & mask) >> shift;
        if (bits >= 8)
            return std::uint32_t(v >> (bits - 8));
        const std::uint64_t max = (std::uint64_t(1) << bits) - 1;
        return std::uint32_t((v * 255 + max / 2) / max);
    }
};

bool IsContiguous(std::uint32_t mask)
{
    if (mask == 0)
        return true;
    const std::uint32_t shifted = mask >> std::countr_zero(mask);
    return (shifted & (shifted + 1)) == 0;
}

// How the pixels of the file end up in the picture.
enum class Layout {
    Indexed,    // 1, 4, 8 bits, plain or run-length encoded -> Indexed8
    Copy,       // 24 bits, 16 bits in 5-5-5 or 5-6-5: rows copied as they are
    Rgb32,      // 32 bits blue, green, red, unused
    BitFields,  // any other masks, widened pixel by pixel into RGB32
};

qint64 ImageBytesPerLine(qint64 width, int depth)
{
    return ((width * depth + 31) / 32) * 4;
}

// Plain rows, stored bottom-up unless topDown. Rows or parts of rows the data does not hold
// are left black (index 0 for indexed pictures).
void DecodeRows(const uchar* data, qint64 length, qint64 stride, int bpp, Layout layout,
                const Channel* channels, bool topDown, QImage& image)
{
    const qint64 width = image.width();
    const qint64 height = image.height();
    const qint64 bytesPerLine = image.bytesPerLine();
    uchar* const bits = image.bits();

    for (qint64 r = 0; r < height; ++r) {
        uchar* const dst = bits + (topDown ? r : height - 1 - r) * bytesPerLine;
        const qint64 rowPos = r * stride;
        const qint64 present = rowPos < length ? std::min(stride, length - rowPos) : 0;
        const uchar* const src = data + rowPos;
        qint64 done = 0;  // bytes of dst written

        switch (layout) {
        case Layout::Copy: {
            const qint64 pixelBytes = bpp / 8;
            done = std::min(present / pixelBytes, width) * pixelBytes;
            if (done > 0)
                std::memcpy(dst, src, size_t(done));
            break;
        }
        case Layout::Rgb32: {
            // The unused byte becomes 0xFF: RGB32 images are taken as opaque everywhere, and
            // the files usually store 0 there.
            const qint64 n = std::min(present / 4, width);
            auto* const out = reinterpret_cast<std::uint32_t*>(dst);
            for (qint64 x = 0; x < n; ++x) {
                std::uint32_t v;
                std::memcpy(&v, src + 4 * x, 4);
                out[x] = v | 0xFF000000u;
            }
            std::fill(out + n, out + width, 0xFF000000u);
            done = width * 4;
            break;
        }
        case Layout::BitFields: {
            const int step = bpp / 8;
            const qint64 n = std::min(present / step, width);
            auto* const out = reinterpret_cast<std::uint32_t*>(dst);
            for (qint64 x = 0; x < n; ++x) {
                const uchar* p = src + step * x;
                const std::uint32_t v = step == 2
                    ? std::uint32_t(p[0] | p[1] << 8)
                    : std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                          std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
                out[x] = qRgb(int(channels[0].value(v)), int(channels[1].value(v)),
                              int(channels[2].value(v)));
            }
            std::fill(out + n, out + width, 0xFF000000u);
            done = width * 4;
            break;
        }
        case Layout::Indexed: {
            if (bpp == 8) {
                done = std::min(present, width);
                if (done > 0)
                    std::memcpy(dst, src, size_t(done));
            } else {
                const int perByte = 8 / bpp;
                const uchar lowMask = uchar((1 << bpp) - 1);
                done = std::min(present * perByte, width);
                for (qint64 x = 0; x < done; ++x) {
                    const int shift = 8 - bpp * int(x % perByte + 1);
                    dst[x] = uchar((src[x / perByte] >> shift) & lowMask);
                }
            }
            break;
        }
        }
        if (done < bytesPerLine)
            std::memset(dst + done, 0, size_t(bytesPerLine - done));
    }
}

// Run-length-encoded pixels (8 or 4 bits), stored bottom-up. Runs and moves that leave the row
// or the picture are clipped; pixels never written keep index 0.
void DecodeRle(const uchar* data, qint64 length, bool fourBits, QImage& image)
{
    const qint64 width = image.width();
    const qint64 height = image.height();
    const qint64 bytesPerLine = image.bytesPerLine();
    uchar* const bits = image.bits();
    std::memset(bits, 0, size_t(bytesPerLine * height));

    qint64 pos = 0;
    qint64 x = 0;
    qint64 y = 0;  // rows counted from the bottom
    auto put = [&](uchar index) {
        if (x < width)
            bits[(height - 1 - y) * bytesPerLine + x] = index;
        ++x;
    };

    while (y < height && length - pos >= 2) {
        const int count = data[pos];
        const int value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            if (x >= width) {
                x += count;
                continue;
            }
            for (int i = 0; i < count; ++i)
                put(fourBits ? uchar(i % 2 == 0 ? value >> 4 : value & 0x0F) : uchar(value));
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            return;
        case 2:  // move right and up
            if (length - pos < 2)
                return;
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
            break;
        default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
            const qint64 bytes = fourBits ? (value + 1) / 2 : value;
            for (int i = 0; i < value; ++i) {
                const qint64 at = pos + (fourBits ? i / 2 : i);
                if (at >= length)
                    return;
                const uchar b = data[at];
                put(fourBits ? uchar(i % 2 == 0 ? b >> 4 : b & 0x0F) : b);
            }
            pos += bytes + (bytes & 1);
            break;
        }
        }
    }
}

// Makes the colour table cover every index the pixels use: indexes past the file's table
// show black.
void CoverIndexes(QImage& image, QVector<QRgb>& table)
{
    const int full = 256;
    if (table.size() < full) {
        int highest = 0;
        const qint64 width = image.width();
        for (int y = 0; y < image.height() && highest < full - 1; ++y) {
            const uchar* row = image.constScanLine(y);
            for (qint64 x = 0; x < width; ++x)
                highest = std::max(highest, int(row[x]));
        }
        if (highest >= table.size())
            table.resize(highest + 1, qRgb(0, 0, 0));
    }
    image.setColorTable(table);
}

}  // namespace

Picture ReadBitmap(const QByteArray& file)
{
    const Bytes in(file);

    // File header.
    if (in.size() == 0)
        Fail(kBitmapInvalid);  // an empty file would give an empty picture: refused instead
    if (in.size() < kFileHeaderSize)
        Fail(kStreamReadError);
    if (in.at(0)[0] != 'B' || in.at(0)[1] != 'M')
        Fail(kBitmapInvalid);
    const qint64 pixelOffset = in.u32(10);

    // Information header.
    if (!in.holds(kFileHeaderSize, 4))
        Fail(kBitmapInvalid);
    const qint64 headerSize = in.u32(kFileHeaderSize);
    if (headerSize != kCoreHeaderSize && headerSize < kInfoHeaderSize)
        Fail(kBitmapInvalid);
    if (!in.holds(kFileHeaderSize, headerSize))
        Fail(kBitmapInvalid);

    const qint64 info = kFileHeaderSize;
    const bool core = headerSize == kCoreHeaderSize;
    qint64 width;
    qint64 height;
    int planes;
    int bpp;
    std::uint32_t compression = kRgb;
    qint64 imageSize = 0;
    qint64 colourCount = 0;  // as declared; 0 means the full table for the depth
    if (core) {
        width = in.u16(info + 4);
        height = in.u16(info + 6);
        planes = in.u16(info + 8);
        bpp = in.u16(info + 10);
    } else {
        width = std::int32_t(in.u32(info + 4));
        height = std::int32_t(in.u32(info + 8));
        planes = in.u16(info + 12);
        bpp = in.u16(info + 14);
        compression = in.u32(info + 16);
        imageSize = in.u32(info + 20);
        colourCount = in.u32(info + 32);
    }

    if (planes != 1)
        Fail(kBitmapInvalid);
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        Fail(kBitmapInvalid);
    const bool rle = compression == kRle8 || compression == kRle4;
    const bool bitFields = compression == kBitFields;
    if (!(compression == kRgb || (compression == kRle8 && bpp == 8) ||
          (compression == kRle4 && bpp == 4) || (bitFields && (bpp == 16 || bpp == 32))))
        Fail(kBitmapInvalid);

    if (width <= 0 || height == 0 || height == INT32_MIN)
        Fail(kBitmapInvalid);
    const bool topDown = height < 0;
    if (topDown && rle)
        Fail(kBitmapInvalid);
    height = topDown ? -height : height;
    if (width > kMaxPictureSide || height > kMaxPictureSide)
        Fail(kBitmapInvalid);

    // Masks.
    Channel channels[3] = {Channel(0), Channel(0), Channel(0)};
    qint64 tableStart = kFileHeaderSize + headerSize;
    Layout layout = bpp <= 8 ? Layout::Indexed : bpp == 32 ? Layout::Rgb32 : Layout::Copy;
    QImage::Format format = bpp <= 8    ? QImage::Format_Indexed8
                            : bpp == 16 ? QImage::Format_RGB555
                            : bpp == 24 ? QImage::Format_BGR888
                                        : QImage::Format_RGB32;
    if (bitFields) {
        if (!in.holds(kMasksOffset, kMasksSize))
            Fail(kBitmapInvalid);
        const std::uint32_t red = in.u32(kMasksOffset);
        const std::uint32_t green = in.u32(kMasksOffset + 4);
        const std::uint32_t blue = in.u32(kMasksOffset + 8);
        if ((red & green) || (red & blue) || (green & blue))
            Fail(kBitmapInvalid);
        if (!IsContiguous(red) || !IsContiguous(green) || !IsContiguous(blue))
            Fail(kBitmapInvalid);
        tableStart = std::max(tableStart, kMasksOffset + kMasksSize);

        if (bpp == 16 && red == 0x7C00 && green == 0x03E0 && blue == 0x001F) {
            format = QImage::Format_RGB555;
        } else if (bpp == 16 && red == 0xF800 && green == 0x07E0 && blue == 0x001F) {
            format = QImage::Format_RGB16;
        } else if (bpp == 32 && red == 0xFF0000 && green == 0xFF00 && blue == 0xFF) {
            format = QImage::Format_RGB32;
        } else {
            layout = Layout::BitFields;
            format = QImage::Format_RGB32;
            channels[0] = Channel(red);
            channels[1] = Channel(green);
            channels[2] = Channel(blue);
        }
    }

    // Checked before anything is allocated, so a small file claiming a huge picture fails here.
    const int depth = format == QImage::Format_Indexed8 ? 8
                      : format == QImage::Format_BGR888 ? 24
                      : format == QImage::Format_RGB32  ? 32
                                                        : 16;
    if (ImageBytesPerLine(width, depth) * height > kMaxPictureBytes)
        Fail(kBitmapInvalid);
    if (!FileCanHoldPicture(in.size(), width, height))
        Fail(kBitmapInvalid);

    // Colour table; above 8 bits a declared table is skipped.
    if (core)
        colourCount = bpp <= 8 ? (qint64(1) << bpp) : 0;
    else if (colourCount == 0 && bpp <= 8)
        colourCount = qint64(1) << bpp;
    const int entrySize = core ? 3 : 4;
    const qint64 tableEnd = tableStart + colourCount * entrySize;
    if (tableEnd > in.size())
        Fail(kStreamReadError);
    QVector<QRgb> table;
    if (bpp <= 8) {
        const qint64 used = std::min(colourCount, qint64(1) << bpp);
        table.reserve(int(used));
        for (qint64 i = 0; i < used; ++i) {
            const uchar* e = in.at(tableStart + i * entrySize);
            table.append(qRgb(e[2], e[1], e[0]));
        }
    }

    // Pixel data: at the header's offset unless that points into the headers or the table.
    if (pixelOffset > in.size())
        Fail(kBitmapInvalid);
    const qint64 dataStart = std::max(pixelOffset, tableEnd);
    const qint64 stride = ((width * bpp + 31) / 32) * 4;
    const qint64 declared = imageSize != 0 ? imageSize : stride * height;
    const qint64 length = std::min(declared, in.size() - dataStart);

    QImage image(int(width), int(height), format);
    if (image.isNull())
        Fail(kBitmapInvalid);

    if (rle)
        DecodeRle(in.at(dataStart), length, compression == kRle4, image);
    else
        DecodeRows(in.at(dataStart), length, stride, bpp, layout, channels, topDown, image);

    if (format == QImage::Format_Indexed8) {
        CoverIndexes(image, table);
        return Picture(std::move(image), bpp);
    }
    return Picture(std::move(image), depth);
}

}  // namespace pictures
