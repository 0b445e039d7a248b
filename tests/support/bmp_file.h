#pragma once
// A bitmap file writer in which every field can be set to anything, nonsense included. Plain
// C++ so the seed generator of the fuzz targets can use it as well as the tests; it writes into
// any byte container with push_back, size(), += and [] (std::string here, QByteArray in the
// tests that hand the bytes to the readers directly).

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bmp_file {

template <class Bytes>
void PutU16(Bytes& b, std::uint32_t v)
{
    b.push_back(char(v & 0xFF));
    b.push_back(char((v >> 8) & 0xFF));
}

template <class Bytes>
void PutU32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(char((v >> (8 * i)) & 0xFF));
}

template <class Bytes>
void SetU32(Bytes& b, std::size_t pos, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i)
        b[typename Bytes::size_type(pos + i)] = char((v >> (8 * i)) & 0xFF);
}

struct Rgb {
    int r, g, b;
};

template <class Bytes>
struct BasicBmpFile {
    std::uint32_t headerSize = 40;
    std::int64_t width = 1;
    std::int64_t height = 1;
    std::uint32_t planes = 1;
    std::uint32_t bpp = 24;
    std::uint32_t compression = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t colourCount = 0;
    std::vector<std::uint32_t> masks;     // inside headers of 52 bytes or more, else following
    std::vector<Rgb> table;               // 3-byte entries for the 12-byte header, else 4-byte
    Bytes gap;                            // bytes between the table and the pixels
    std::optional<std::uint32_t> offset;  // pixel-data offset; default: where the pixels are
    Bytes pixels;

    Bytes build() const
    {
        Bytes info;
        PutU32(info, headerSize);
        if (headerSize == 12) {
            PutU16(info, std::uint32_t(width));
            PutU16(info, std::uint32_t(height));
            PutU16(info, planes);
            PutU16(info, bpp);
        } else {
            PutU32(info, std::uint32_t(width));
            PutU32(info, std::uint32_t(height));
            PutU16(info, planes);
            PutU16(info, bpp);
            PutU32(info, compression);
            PutU32(info, imageSize);
            PutU32(info, 2835);
            PutU32(info, 2835);
            PutU32(info, colourCount);
            PutU32(info, 0);
            if (headerSize >= 52)
                for (std::uint32_t m : masks)
                    PutU32(info, m);
            // A nonsense size of gigabytes gets its first bytes only: enough to be read as such.
            while (std::size_t(info.size()) < headerSize && info.size() < 4096)
                info.push_back('\0');
            if (headerSize < 52)
                for (std::uint32_t m : masks)
                    PutU32(info, m);
        }
        for (const Rgb& e : table) {
            info.push_back(char(e.b));
            info.push_back(char(e.g));
            info.push_back(char(e.r));
            if (headerSize != 12)
                info.push_back(char(0x5A));  // reserved byte: must be ignored
        }
        info += gap;

        Bytes file("BM");
        const std::uint32_t start = std::uint32_t(14 + std::size_t(info.size()));
        PutU32(file, std::uint32_t(start + std::size_t(pixels.size())));
        PutU32(file, 0);
        PutU32(file, offset.value_or(start));
        file += info;
        file += pixels;
        return file;
    }
};

using BmpFile = BasicBmpFile<std::string>;

// Rows of raw pixel values packed as a bitmap stores them: bottom-up unless topDown, the
// leftmost pixel in the high bits of a byte, multi-byte pixels little-endian, each row padded
// to 4 bytes with junk that must never show.
template <class Bytes = std::string>
Bytes PackRows(int width, int height, int bpp, const std::function<std::uint32_t(int, int)>& value,
               bool topDown = false)
{
    using Index = typename Bytes::size_type;
    Bytes out;
    const int stride = ((width * bpp + 31) / 32) * 4;
    for (int r = 0; r < height; ++r) {
        const int y = topDown ? r : height - 1 - r;
        Bytes row(Index(stride), char(0xA5));
        if (bpp < 8) {
            std::fill(row.begin(), row.begin() + (width * bpp + 7) / 8, '\0');
            for (int x = 0; x < width; ++x) {
                const int bit = x * bpp;
                const int shift = 8 - bpp - bit % 8;
                row[Index(bit / 8)] = char((unsigned char)row[Index(bit / 8)] | (value(x, y) << shift));
            }
        } else {
            const int bytes = bpp / 8;
            for (int x = 0; x < width; ++x)
                for (int i = 0; i < bytes; ++i)
                    row[Index(x * bytes + i)] = char((value(x, y) >> (8 * i)) & 0xFF);
        }
        out += row;
    }
    return out;
}

inline std::vector<Rgb> Table(int n)
{
    std::vector<Rgb> t;
    for (int i = 0; i < n; ++i)
        t.push_back({(i * 37 + 11) & 0xFF, (i * 91 + 3) & 0xFF, (i * 53 + 200) & 0xFF});
    return t;
}

// A good picture of every depth: indexed ones use the whole table.
inline BmpFile Picture(int width, int height, int bpp, bool topDown = false)
{
    BmpFile f;
    f.width = width;
    f.height = topDown ? -height : height;
    f.bpp = std::uint32_t(bpp);
    if (bpp <= 8)
        f.table = Table(1 << bpp);
    const std::uint32_t top = bpp >= 32 ? 0xFFFFFFFFu : (1u << bpp) - 1;
    f.pixels = PackRows(width, height, bpp, [&](int x, int y) {
        return std::uint32_t(x * 2654435761u + y * 40503u) & top;
    }, topDown);
    return f;
}

}  // namespace bmp_file
