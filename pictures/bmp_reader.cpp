#include "pictures/bmp_reader.h"

#include "pictures/bmp_source.h"
#include "pictures/forward_reader.h"
#include "pictures/failure.h"
#include "pictures/limits.h"
#include "pictures/picture.h"

#include <QBuffer>
#include <QIODevice>
#include <QImage>
#include <QVector>
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

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

std::uint16_t U16(const uchar* p)
{
    return std::uint16_t(p[0] | p[1] << 8);
}

std::uint32_t U32(const uchar* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

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

// Plain rows, stored bottom-up unless topDown, read from the file one at a time: rows stored
// as the picture stores them go straight into it, the others through one row of the file. Rows
// or parts of rows the file does not hold are left black (index 0 for indexed pictures).
void DecodeRows(BitmapSource& in, qint64 start, qint64 length, qint64 stride, int bpp, Layout layout,
                const Channel* channels, bool topDown, QImage& image)
{
    const qint64 width = image.width();
    const qint64 height = image.height();
    const qint64 bytesPerLine = image.bytesPerLine();
    uchar* const bits = image.bits();
    const bool direct =
        stride == bytesPerLine && (layout == Layout::Copy || (layout == Layout::Indexed && bpp == 8));
    std::vector<uchar> row(direct ? 0 : size_t(stride));

    qint64 r = 0;
    if (direct) {
        const qint64 whole = std::min(height, length / stride);
        std::vector<uchar*> rows(static_cast<size_t>(whole));
        for (qint64 i = 0; i < whole; ++i)
            rows[size_t(i)] = bits + (topDown ? i : height - 1 - i) * bytesPerLine;
        r = in.readRows(start, rows.data(), whole, stride);
        const qint64 pixelBytes = layout == Layout::Copy ? width * (bpp / 8) : width;
        if (pixelBytes < bytesPerLine)
            for (qint64 i = 0; i < r; ++i)
                std::memset(rows[size_t(i)] + pixelBytes, 0, size_t(bytesPerLine - pixelBytes));
    }
    for (; r < height; ++r) {
        uchar* const dst = bits + (topDown ? r : height - 1 - r) * bytesPerLine;
        const qint64 rowPos = r * stride;
        const qint64 wanted = rowPos < length ? std::min(stride, length - rowPos) : 0;
        uchar* const src = direct ? dst : row.data();
        const qint64 present = wanted > 0 ? in.read(start + rowPos, src, wanted) : 0;
        qint64 done = 0;  // bytes of dst written

        switch (layout) {
        case Layout::Copy: {
            const qint64 pixelBytes = bpp / 8;
            done = std::min(present / pixelBytes, width) * pixelBytes;
            if (!direct && done > 0)
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
                if (!direct && done > 0)
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
void DecodeRle(ForwardReader& data, bool fourBits, QImage& image)
{
    auto next = [&data](uchar& byte) {
        const int c = data.next();
        byte = uchar(c);
        return c >= 0;
    };
    const qint64 width = image.width();
    const qint64 height = image.height();
    const qint64 bytesPerLine = image.bytesPerLine();
    uchar* const bits = image.bits();
    std::memset(bits, 0, size_t(bytesPerLine * height));

    qint64 x = 0;
    qint64 y = 0;  // rows counted from the bottom
    auto put = [&](uchar index) {
        if (x < width)
            bits[(height - 1 - y) * bytesPerLine + x] = index;
        ++x;
    };

    uchar count = 0;
    uchar value = 0;
    while (y < height && next(count) && next(value)) {
        if (count > 0) {
            if (x >= width) {
                x += count;
                continue;
            }
            for (int i = 0; i < count; ++i)
                put(fourBits ? uchar(i % 2 == 0 ? value >> 4 : value & 0x0F) : value);
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            return;
        case 2: {  // move right and up
            uchar right = 0;
            uchar up = 0;
            if (!next(right) || !next(up))
                return;
            x += right;
            y += up;
            break;
        }
        default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
            uchar b = 0;
            for (int i = 0; i < value; ++i) {
                if ((!fourBits || i % 2 == 0) && !next(b))
                    return;
                put(fourBits ? uchar(i % 2 == 0 ? b >> 4 : b & 0x0F) : b);
            }
            const int bytes = fourBits ? (value + 1) / 2 : value;
            if (bytes % 2 != 0)
                next(b);
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

Headers ReadHeaders(const BitmapSource& in, const uchar* head)
{
    Headers h;
    if (in.size() == 0)
        Fail(kBitmapInvalid);  // an empty file would give an empty picture: refused instead
    if (in.size() < kFileHeaderSize)
        Fail(kStreamReadError);
    if (head[0] != 'B' || head[1] != 'M')
        Fail(kBitmapInvalid);
    h.pixelOffset = U32(head + 10);

    if (!in.holds(kFileHeaderSize, 4))
        Fail(kBitmapInvalid);
    h.headerSize = U32(head + kFileHeaderSize);
    if (h.headerSize != kCoreHeaderSize && h.headerSize < kInfoHeaderSize)
        Fail(kBitmapInvalid);
    if (!in.holds(kFileHeaderSize, h.headerSize))
        Fail(kBitmapInvalid);

    const uchar* const info = head + kFileHeaderSize;
    h.core = h.headerSize == kCoreHeaderSize;
    int planes;
    if (h.core) {
        h.width = U16(info + 4);
        h.height = U16(info + 6);
        planes = U16(info + 8);
        h.bpp = U16(info + 10);
    } else {
        h.width = std::int32_t(U32(info + 4));
        h.height = std::int32_t(U32(info + 8));
        planes = U16(info + 12);
        h.bpp = U16(info + 14);
        h.compression = U32(info + 16);
        h.imageSize = U32(info + 20);
        h.colourCount = U32(info + 32);
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

PixelFormat ChoosePixelFormat(const BitmapSource& in, const uchar* head, const Headers& h)
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
        const std::uint32_t red = U32(head + kMasksOffset);
        const std::uint32_t green = U32(head + kMasksOffset + 4);
        const std::uint32_t blue = U32(head + kMasksOffset + 8);
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
QVector<QRgb> ReadColourTable(BitmapSource& in, const Headers& h, qint64 tableStart, qint64& tableEnd)
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
        std::vector<uchar> entries(size_t(used * entrySize));
        if (in.read(tableStart, entries.data(), qint64(entries.size())) != qint64(entries.size()))
            Fail(kStreamReadError);
        table.reserve(int(used));
        for (qint64 i = 0; i < used; ++i) {
            const uchar* e = entries.data() + i * entrySize;
            table.append(qRgb(e[2], e[1], e[0]));
        }
    }
    return table;
}

}  // namespace

Picture ReadBitmapFrom(QIODevice& file)
{
    BitmapSource in(file);
    // Every header field lies in the first bytes; a shorter file reads zeros past its end,
    // which the size checks below refuse before any of them is used.
    uchar head[kMasksOffset + kMasksSize] = {};
    in.read(0, head, sizeof head);
    const Headers h = ReadHeaders(in, head);
    PixelFormat f = ChoosePixelFormat(in, head, h);
    const qint64 pictureBytes = BitmapRowBytes(h.width, f.depth) * h.height;
    if (pictureBytes > kMaxPictureBytes)
        Fail(kBitmapInvalid);
    qint64 tableEnd = 0;
    QVector<QRgb> table = ReadColourTable(in, h, f.tableStart, tableEnd);

    // Pixel data: at the header's offset unless that points into the headers or the table.
    if (h.pixelOffset > in.size())
        Fail(kBitmapInvalid);
    const qint64 dataStart = std::max(h.pixelOffset, tableEnd);
    const qint64 stride = BitmapRowBytes(h.width, h.bpp);
    const bool rle = h.compression == kRle8 || h.compression == kRle4;
    // Run-length data ends where the header's image size says. Plain rows are read as far as
    // the file holds them whatever that size says: writers that leave the row padding out of it
    // are common, and the rows' place and length follow from the width and height alone.
    const qint64 wanted = rle && h.imageSize != 0 ? h.imageSize : stride * h.height;
    const qint64 length = std::min(wanted, in.size() - dataStart);

    // Checked before the pixels are allocated, so a small file claiming a huge picture fails
    // here rather than after filling hundreds of megabytes.
    if (!DataJustifiesWorkingSet(pictureBytes, length))
        Fail(kBitmapInvalid);

    QImage image = NewImage(int(h.width), int(h.height), f.format);
    if (image.isNull())
        Fail(kBitmapInvalid);

    if (rle) {
        ForwardReader data(file, dataStart, ForwardReader::Holes::Read, length);
        DecodeRle(data, h.compression == kRle4, image);
    } else {
        DecodeRows(in, dataStart, length, stride, h.bpp, f.layout, f.channels, h.topDown, image);
    }

    if (f.format == QImage::Format_Indexed8) {
        CoverIndexes(image, table);
        return Picture(std::move(image), h.bpp);
    }
    return Picture(std::move(image), f.depth);
}

Picture ReadBitmap(const QByteArray& file)
{
    QBuffer buffer;
    buffer.setData(file);
    buffer.open(QIODevice::ReadOnly);
    return ReadBitmapFrom(buffer);
}

}  // namespace pictures
