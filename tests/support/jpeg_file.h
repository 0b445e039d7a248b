#pragma once
// JPEG files for the tests, the fuzz seeds and the benchmark: a photo-like picture, libjpeg's
// own encoder (for what cjpeg cannot write: scan scripts, four components, an Adobe segment),
// and Debian's cjpeg. Plain C++ and libjpeg, like bmp_file.h, so every one of them can use it.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

#include <jpeglib.h>

namespace jpeg_file {

// Photo-like samples, rows top first, `components` bytes a pixel: gradients, a coarse pattern
// and some noise, the same on every run for the same seed.
inline std::string Photo(int width, int height, int components, unsigned seed = 1)
{
    std::string out(std::size_t(width) * std::size_t(height) * std::size_t(components), '\0');
    unsigned state = seed;
    std::size_t at = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < components; ++c) {
                state = state * 1103515245u + 12345u;
                const int noise = int((state >> 16) % 31) - 15;
                const int gradient = c == 0   ? x * 255 / std::max(1, width - 1)
                                     : c == 1 ? y * 255 / std::max(1, height - 1)
                                              : (x + y) * 255 / std::max(1, width + height - 2);
                const int pattern = ((x / 9 + y / 7) % 3) * 25;
                out[at++] = char(std::clamp(gradient / 2 + pattern + 60 + noise, 0, 255));
            }
        }
    }
    return out;
}

// The samples as a binary PNM, cjpeg's input: PGM for one component, PPM for three.
inline std::string Pnm(const std::string& samples, int width, int height, int components)
{
    return (components == 3 ? "P6\n" : "P5\n") + std::to_string(width) + ' ' + std::to_string(height) + "\n255\n" +
           samples;
}

struct Encoding {
    J_COLOR_SPACE inSpace = JCS_RGB;       // what the samples are
    J_COLOR_SPACE fileSpace = JCS_YCbCr;   // what the file stores
    bool adobeMarker = false;
    bool fullChroma = false;               // 4:4:4 instead of 4:2:0
    int quality = 95;
    std::vector<jpeg_scan_info> scans;     // empty: one sequential scan
};

// Compresses the samples with libjpeg (4:2:0 for colour, the library's default).
inline std::string Compress(const std::string& samples, int width, int height, int components,
                            const Encoding& encoding = Encoding())
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = components;
    cinfo.in_color_space = encoding.inSpace;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, encoding.fileSpace);
    cinfo.write_Adobe_marker = encoding.adobeMarker ? TRUE : FALSE;
    if (encoding.fullChroma)
        cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_set_quality(&cinfo, encoding.quality, TRUE);
    if (!encoding.scans.empty()) {
        cinfo.scan_info = encoding.scans.data();
        cinfo.num_scans = int(encoding.scans.size());
    }
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t stride = std::size_t(width) * std::size_t(components);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<char*>(samples.data())) + cinfo.next_scanline * stride;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::string file(reinterpret_cast<const char*>(out), size);
    std::free(out);
    jpeg_destroy_compress(&cinfo);
    return file;
}

// A progressive script for three components: the DC and each of the first `bands` AC bands of
// each component sent by successive approximation, one bit a scan; the remaining bands in one
// scan a component. Real encoders send a handful of scans; this sends hundreds or thousands.
inline std::vector<jpeg_scan_info> SuccessiveScript(int bands)
{
    constexpr int kTopBit = 10;
    std::vector<jpeg_scan_info> scans;
    auto add = [&](int count, int c0, int ss, int se, int ah, int al) {
        jpeg_scan_info s{};
        s.comps_in_scan = count;
        for (int i = 0; i < count; ++i)
            s.component_index[i] = c0 + i;
        s.Ss = ss;
        s.Se = se;
        s.Ah = ah;
        s.Al = al;
        scans.push_back(s);
    };
    add(3, 0, 0, 0, 0, kTopBit);
    for (int al = kTopBit - 1; al >= 0; --al)
        add(3, 0, 0, 0, al + 1, al);
    for (int c = 0; c < 3; ++c) {
        for (int k = 1; k <= bands; ++k) {
            add(1, c, k, k, 0, kTopBit);
            for (int al = kTopBit - 1; al >= 0; --al)
                add(1, c, k, k, al + 1, al);
        }
        if (bands < 63)
            add(1, c, bands + 1, 63, 0, 0);
    }
    return scans;
}

// Runs a command and gives its standard output; throws when it fails. Exit status 2 is djpeg's
// "decoded with warnings", accepted only when asked for.
inline std::string Run(const std::string& command, bool warningsAllowed = false)
{
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run " + command);
    std::string out;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    const int status = pclose(pipe);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code != 0 && !(warningsAllowed && code == 2))
        throw std::runtime_error("failed: " + command);
    return out;
}

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

// cjpeg's file for a PNM, with cjpeg's options ("-progressive", "-sample 1x1", ...); scratch is
// a folder for its input.
inline std::string Cjpeg(const std::string& pnm, const std::string& options, const std::string& scratch)
{
    const std::string input = scratch + "/cjpeg-input.pnm";
    WriteFile(input, pnm);
    return Run("cjpeg " + options + " '" + input + "'");
}

}  // namespace jpeg_file
