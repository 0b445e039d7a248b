#include "pictures/bmp_reader.h"

#include "pictures/failure.h"
#include "pictures/limits.h"
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

// What the file header and the information header say, checked.
struct Headers {
    qint64 pixelOffset = 0;
    qint64 headerSize = 0;
    bool core = false;  // the 12-byte header of the older form
    qint64 width = 0;
    qint64 height = 0;  // positive: the sign went into topDown
    bool topDown = false;
    int bpp = 0;
    std::uint32_t compression = kRgb;
    qint64 imageSize = 0;
    qint64 colourCount = 0;  // as declared; 0 means the full table for the depth
};

Headers ReadHeaders(const Bytes& in)
{
    Headers h;
    if (in.size() == 0)
        Fail(kBitmapInvalid);  // an empty file would give an empty picture: refused instead
    if (in.size() < kFileHeaderSize)
        Fail(kStreamReadError);
    if (in.at(0)[0] != 'B' || in.at(0)[1] != 'M')
        Fail(kBitmapInvalid);
    h.pixelOffset = in.u32(10);

    if (!in.holds(kFileHeaderSize, 4))
        Fail(kBitmapInvalid);
    h.headerSize = in.u32(kFileHeaderSize);
    if (h.headerSize != kCoreHeaderSize && h.headerSize < kInfoHeaderSize)
        Fail(kBitmapInvalid);
    if (!in.holds(kFileHeaderSize, h.headerSize))
        Fail(kBitmapInvalid);

    const qint64 info = kFileHeaderSize;
    h.core = h.headerSize == kCoreHeaderSize;
    int planes;
    if (h.core) {
        h.width = in.u16(info + 4);
        h.height = in.u16(info + 6);
        planes = in.u16(info + 8);
        h.bpp = in.u16(info + 10);
    } else {
        h.width = std::int32_t(in.u32(info + 4));
        h.height = std::int32_t(in.u32(info + 8));
        planes = in.u16(info + 12);
        h.bpp = in.u16(info + 14);
        h.compression = in.u32(info + 16);
        h.imageSize = in.u32(info + 20);
        h.colourCount = in.u32(info + 32);
    }

    if (planes != 1)
        Fail(kBitmapInvalid);
    const int bpp = h.bpp;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        Fail(kBitmapInvalid);
    const std::uint32_t c = h.compression;
    if (!(c == kRgb || (c == kRle8 && bpp == 8) || (c == kRle4 && bpp == 4) ||
          (c == kBitFields && (bpp == 16 || bpp == 32))))
        Fail(kBitmapInvalid);

    if (h.width <= 0 || h.height == 0 || h.height == INT32_MIN)
        Fail(kBitmapInvalid);
    h.topDown = h.height < 0;
    if (h.topDown && (c == kRle8 || c == kRle4))
        Fail(kBitmapInvalid);
    h.height = h.topDown ? -h.height : h.height;
    if (h.width > kMaxPictureSide || h.height > kMaxPictureSide)
        Fail(kBitmapInvalid);
    return h;
}

// How the pixels become the picture's: the storage format, and for bit fields that match none
// of the plain ones, the channels. tableStart moves past masks that follow the header.
struct PixelFormat {
    Layout layout;
    QImage::Format format;
    int depth;  // bits per pixel of the storage format
    Channel channels[3] = {Channel(0), Channel(0), Channel(0)};
    qint64 tableStart;
};

PixelFormat ChoosePixelFormat(const Bytes& in, const Headers& h)
{
    const int bpp = h.bpp;
    PixelFormat f{bpp <= 8 ? Layout::Indexed : bpp == 32 ? Layout::Rgb32 : Layout::Copy,
                  bpp <= 8    ? QImage::Format_Indexed8
                  : bpp == 16 ? QImage::Format_RGB555
                  : bpp == 24 ? QImage::Format_BGR888
                              : QImage::Format_RGB32,
                  0,
                  {Channel(0), Channel(0), Channel(0)},
                  kFileHeaderSize + h.headerSize};
    if (h.compression == kBitFields) {
        if (!in.holds(kMasksOffset, kMasksSize))
            Fail(kBitmapInvalid);
        const std::uint32_t red = in.u32(kMasksOffset);
        const std::uint32_t green = in.u32(kMasksOffset + 4);
        const std::uint32_t blue = in.u32(kMasksOffset + 8);
        if ((red & green) || (red & blue) || (green & blue))
            Fail(kBitmapInvalid);
        if (!IsContiguous(red) || !IsContiguous(green) || !IsContiguous(blue))
            Fail(kBitmapInvalid);
        f.tableStart = std::max(f.tableStart, kMasksOffset + kMasksSize);

        if (bpp == 16 && red == 0x7C00 && green == 0x03E0 && blue == 0x001F) {
            f.format = QImage::Format_RGB555;
        } else if (bpp == 16 && red == 0xF800 && green == 0x07E0 && blue == 0x001F) {
            f.format = QImage::Format_RGB16;
        } else if (bpp == 32 && red == 0xFF0000 && green == 0xFF00 && blue == 0xFF) {
            f.format = QImage::Format_RGB32;
        } else {
            f.layout = Layout::BitFields;
            f.format = QImage::Format_RGB32;
            f.channels[0] = Channel(red);
            f.channels[1] = Channel(green);
            f.channels[2] = Channel(blue);
        }
    }
    f.depth = f.format == QImage::Format_Indexed8 ? 8
              : f.format == QImage::Format_BGR888 ? 24
              : f.format == QImage::Format_RGB32  ? 32
                                                  : 16;
    return f;
}

// The colour table (above 8 bits a declared table is only skipped); tableEnd receives where it
// ends in the file.
QVector<QRgb> ReadColourTable(const Bytes& in, const Headers& h, qint64 tableStart, qint64& tableEnd)
{
    qint64 count = h.colourCount;
    if (h.core) {
        count = h.bpp <= 8 ? (qint64(1) << h.bpp) : 0;
        // The older header has no colour count: a pixel offset inside the full table ends the
        // table there, as the writers of such short tables meant.
        if (h.pixelOffset > tableStart && h.pixelOffset < tableStart + count * 3)
            count = (h.pixelOffset - tableStart) / 3;
    } else if (count == 0 && h.bpp <= 8) {
        count = qint64(1) << h.bpp;
    }
    const int entrySize = h.core ? 3 : 4;
    tableEnd = tableStart + count * entrySize;
    if (tableEnd > in.size())
        Fail(kStreamReadError);
    QVector<QRgb> table;
    if (h.bpp <= 8) {
        const qint64 used = std::min(count, qint64(1) << h.bpp);
        table.reserve(int(used));
        for (qint64 i = 0; i < used; ++i) {
            const uchar* e = in.at(tableStart + i * entrySize);
            table.append(qRgb(e[2], e[1], e[0]));
        }
    }
    return table;
}

}  // namespace

Picture ReadBitmap(const QByteArray& file)
{
    const Bytes in(file);
    const Headers h = ReadHeaders(in);
    PixelFormat f = ChoosePixelFormat(in, h);
    if (BitmapRowBytes(h.width, f.depth) * h.height > kMaxPictureBytes)
        Fail(kBitmapInvalid);
    qint64 tableEnd = 0;
    QVector<QRgb> table = ReadColourTable(in, h, f.tableStart, tableEnd);

    // Pixel data: at the header's offset unless that points into the headers or the table.
    if (h.pixelOffset > in.size())
        Fail(kBitmapInvalid);
    const qint64 dataStart = std::max(h.pixelOffset, tableEnd);
    const qint64 stride = BitmapRowBytes(h.width, h.bpp);
    const qint64 declared = h.imageSize != 0 ? h.imageSize : stride * h.height;
    const qint64 length = std::min(declared, in.size() - dataStart);
    const bool rle = h.compression == kRle8 || h.compression == kRle4;

    // Checked before the pixels are allocated, so a small file claiming a huge picture fails
    // here: run-length data by what it can pack, plain rows by being all there.
    const bool fits = rle ? DataCanHoldPicture(length, h.width, h.height)
                          : h.width * h.height <= kPixelsAnyFileMayClaim || length >= stride * h.height;
    if (!fits)
        Fail(kBitmapInvalid);

    QImage image(int(h.width), int(h.height), f.format);
    if (image.isNull())
        Fail(kBitmapInvalid);

    if (rle)
        DecodeRle(in.at(dataStart), length, h.compression == kRle4, image);
    else
        DecodeRows(in.at(dataStart), length, stride, h.bpp, f.layout, f.channels, h.topDown, image);

    if (f.format == QImage::Format_Indexed8) {
        CoverIndexes(image, table);
        return Picture(std::move(image), h.bpp);
    }
    return Picture(std::move(image), f.depth);
}

}  // namespace pictures
