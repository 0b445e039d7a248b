// Writes the seed corpora of the fuzz targets into the folder given: bmp/, jpeg/ and load/.
// Bitmaps are written byte by byte; JPEG files are made by Debian's cjpeg from the tests' photo,
// and with libjpeg directly for what cjpeg cannot write (four components).
//
//   fuzz_seeds <folder>

#include "tests/support/bmp_file.h"
#include "tests/support/jpeg_file.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>


namespace fs = std::filesystem;
using bmp_file::BmpFile;

namespace {

void Write(const fs::path& path, const std::string& bytes)
{
    jpeg_file::WriteFile(path.string(), bytes);
}

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(char(v));
    return s;
}

std::vector<std::pair<std::string, std::string>> BitmapSeeds()
{
    std::vector<std::pair<std::string, std::string>> seeds;
    auto add = [&](const std::string& name, const BmpFile& f) { seeds.emplace_back(name, f.build()); };

    for (int bpp : {1, 4, 8, 16, 24, 32}) {
        add("plain" + std::to_string(bpp), bmp_file::Picture(13, 5, bpp));
        add("topdown" + std::to_string(bpp), bmp_file::Picture(6, 4, bpp, true));
    }
    {
        BmpFile f = bmp_file::Picture(9, 3, 4);
        f.table = bmp_file::Table(5);
        f.colourCount = 5;
        add("short_table4", f);
        f = bmp_file::Picture(10, 2, 1);
        f.table = bmp_file::Table(4);
        f.colourCount = 4;
        add("count_above_depth1", f);
    }
    for (int bpp : {1, 4, 8, 24}) {
        BmpFile f = bmp_file::Picture(7, 3, bpp);
        f.headerSize = 12;
        add("core" + std::to_string(bpp), f);
    }
    struct Masks {
        const char* name;
        int bpp;
        std::vector<std::uint32_t> masks;
        std::uint32_t header;
    };
    for (const Masks& m : {Masks{"masks555", 16, {0x7C00, 0x03E0, 0x001F}, 40},
                           Masks{"masks565", 16, {0xF800, 0x07E0, 0x001F}, 40},
                           Masks{"masks565_v4", 16, {0xF800, 0x07E0, 0x001F}, 108},
                           Masks{"masks565_v5", 16, {0xF800, 0x07E0, 0x001F, 0}, 124},
                           Masks{"masks444", 16, {0x0F00, 0x00F0, 0x000F}, 40},
                           Masks{"masks_zero_blue", 16, {0xF800, 0x07E0, 0}, 40},
                           Masks{"masks_one_bit", 16, {0x4, 0x2, 0x1}, 40},
                           Masks{"masks_standard32", 32, {0xFF0000, 0xFF00, 0xFF}, 40},
                           Masks{"masks_ten_bit32", 32, {0x3FF00000, 0x000FFC00, 0x000003FF}, 40},
                           Masks{"masks_swapped32", 32, {0x0000FF00, 0x00FF0000, 0xFF000000}, 56}}) {
        BmpFile f = bmp_file::Picture(5, 3, m.bpp);
        f.compression = 3;
        f.headerSize = m.header;
        f.masks = m.masks;
        add(m.name, f);
    }
    {
        BmpFile f = bmp_file::Picture(4, 2, 24);
        f.gap = std::string(10, 'g');
        f.offset = std::uint32_t(14 + 40 + 10);
        add("offset_gap", f);
        f = bmp_file::Picture(4, 4, 24);
        f.pixels.resize(f.pixels.size() / 2);
        add("truncated", f);
        f = bmp_file::Picture(4, 4, 8);
        f.imageSize = 8;
        add("image_size_small", f);
    }
    struct Rle {
        const char* name;
        int bpp;
        int width, height;
        std::string data;
    };
    for (const Rle& r : {Rle{"rle8_runs", 8, 8, 3, Bytes({3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 8, 9, 0, 0, 2, 5, 0, 1})},
                         Rle{"rle8_delta", 8, 6, 3, Bytes({1, 7, 0, 2, 3, 1, 2, 4, 0, 1})},
                         Rle{"rle8_overrun", 8, 4, 2, Bytes({9, 3, 0, 0, 0, 6, 1, 2, 3, 4, 5, 6, 0, 2, 9, 9, 0, 1})},
                         Rle{"rle8_early_end", 8, 5, 1, Bytes({0, 5, 7, 8})},
                         Rle{"rle8_no_end", 8, 3, 2, Bytes({2, 4})},
                         Rle{"rle4_runs", 4, 7, 2, Bytes({7, 0xF0, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 0, 1})},
                         Rle{"rle4_delta", 4, 4, 3, Bytes({0, 2, 2, 1, 6, 0x33, 0, 1})}}) {
        BmpFile f;
        f.width = r.width;
        f.height = r.height;
        f.bpp = std::uint32_t(r.bpp);
        f.compression = r.bpp == 8 ? 1 : 2;
        f.table = bmp_file::Table(1 << r.bpp);
        f.pixels = r.data;
        f.imageSize = std::uint32_t(r.data.size());
        add(r.name, f);
    }
    return seeds;
}

// Four-component files (plain CMYK, and YCCK as Adobe applications write it), which cjpeg
// cannot make.
std::string FourComponents(bool ycck)
{
    jpeg_file::Encoding encoding;
    encoding.inSpace = JCS_CMYK;
    encoding.fileSpace = ycck ? JCS_YCCK : JCS_CMYK;
    encoding.quality = 80;
    return jpeg_file::Compress(jpeg_file::Photo(24, 16, 4), 24, 16, 4, encoding);
}

std::vector<std::pair<std::string, std::string>> JpegSeeds(const fs::path& scratch)
{
    std::vector<std::pair<std::string, std::string>> seeds;
    fs::create_directories(scratch);
    const std::string photo = jpeg_file::Pnm(jpeg_file::Photo(45, 31, 3), 45, 31, 3);
    const std::string grey = jpeg_file::Pnm(jpeg_file::Photo(37, 23, 1), 37, 23, 1);
    struct Variant {
        const char* name;
        const std::string& input;
        const char* options;
    };
    for (const Variant& v : {Variant{"baseline420", photo, "-quality 85"},
                             Variant{"sample444", photo, "-sample 1x1"},
                             Variant{"sample422", photo, "-sample 2x1"},
                             Variant{"progressive", photo, "-progressive"},
                             Variant{"progressive444", photo, "-progressive -sample 1x1"},
                             Variant{"restart", photo, "-restart 1"},
                             Variant{"arithmetic", photo, "-arithmetic"},
                             Variant{"arithmetic_progressive", photo, "-arithmetic -progressive"},
                             Variant{"optimized", photo, "-optimize -quality 40"},
                             Variant{"grey", grey, ""},
                             Variant{"grey_progressive", grey, "-progressive"},
                             Variant{"grey_arithmetic", grey, "-arithmetic"}}) {
        seeds.emplace_back(v.name, jpeg_file::Cjpeg(v.input, v.options, scratch.string()));
    }
    seeds.emplace_back("cmyk", FourComponents(false));
    seeds.emplace_back("ycck", FourComponents(true));
    // Cut off in the middle: decodes to the end with the rest filled in.
    const std::string whole = seeds.front().second;
    seeds.emplace_back("cut_baseline", whole.substr(0, whole.size() / 2));
    const std::string progressive = seeds[3].second;
    seeds.emplace_back("cut_progressive", progressive.substr(0, progressive.size() / 2));
    seeds.emplace_back("empty", std::string());
    seeds.emplace_back("soi_only", Bytes({0xFF, 0xD8}));
    return seeds;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: fuzz_seeds <folder>\n";
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* sub : {"bmp", "jpeg", "load"}) {
        fs::remove_all(root / sub);
        fs::create_directories(root / sub);
    }
    const auto bitmaps = BitmapSeeds();
    const auto jpegs = JpegSeeds(root / "scratch");
    fs::remove_all(root / "scratch");

    // The load target's first byte picks the name: 0 "x.bmp", 1 "X.BMP", 3 "x.jpg", 5 "x".
    for (const auto& [name, bytes] : bitmaps) {
        Write(root / "bmp" / (name + ".bmp"), bytes);
        Write(root / "load" / (name + ".bmp"), std::string(1, '\0') + bytes);
        Write(root / "load" / (name + ".BMP"), std::string(1, '\1') + bytes);
    }
    // The JPEG target's first byte picks the pixel format: even 24-bit, odd 8-bit.
    for (const auto& [name, bytes] : jpegs) {
        Write(root / "jpeg" / (name + "-24.jpg"), std::string(1, '\0') + bytes);
        Write(root / "jpeg" / (name + "-8.jpg"), std::string(1, '\1') + bytes);
        Write(root / "load" / (name + ".jpg"), std::string(1, '\3') + bytes);
        Write(root / "load" / (name + "-noext"), std::string(1, '\5') + bytes);
    }
    std::cout << bitmaps.size() << " bitmaps, " << jpegs.size() << " JPEG files\n";
    return 0;
}
