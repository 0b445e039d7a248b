// Loading a picture file after the dialog, against the bare work any loader must do; and the
// dialog's pane showing the same file, against the game's load of it.

#include "bench/cases.h"
#include "app/form1.h"
#include "app/picture_pane.h"

#include <QFile>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace bench {

namespace {

void LoadThroughForm(benchmark::State& state, const QString& path)
{
    TForm1* form = Form();
    for (auto _ : state)
        form->TakePicture(path);
}

// The pane's picture area is about 200 pixels wide.
void PanePreview(benchmark::State& state, const QString& path)
{
    for (auto _ : state) {
        const picture_dialog::PaneLoad load = picture_dialog::LoadPaneFile(path, QSize(200, 200));
        if (load.state != picture_dialog::PictureState::Shown) {
            state.SkipWithError("not shown");
            break;
        }
        benchmark::DoNotOptimize(load.image.constBits());
    }
}

struct JumpError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

extern "C" void JumpOnError(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JumpError*>(cinfo->err)->jump, 1);
}

// libjpeg alone: the file already in memory, the game's decoder settings, every row straight
// into one buffer allocated before timing.
void BareDecode(benchmark::State& state, const QByteArray& file, bool greyscale)
{
    std::vector<JSAMPLE> pixels;
    for (auto _ : state) {
        jpeg_decompress_struct cinfo;
        JumpError error;
        cinfo.err = jpeg_std_error(&error.pub);
        error.pub.error_exit = JumpOnError;
        if (setjmp(error.jump)) {
            jpeg_destroy_decompress(&cinfo);
            state.SkipWithError("decoder error");
            break;
        }
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(file.constData()),
                     static_cast<unsigned long>(file.size()));
        jpeg_read_header(&cinfo, TRUE);
        cinfo.dct_method = JDCT_FLOAT;
        cinfo.do_block_smoothing = TRUE;
        cinfo.do_fancy_upsampling = TRUE;
        if (greyscale) {
            cinfo.out_color_space = JCS_GRAYSCALE;
            cinfo.quantize_colors = TRUE;
            cinfo.desired_number_of_colors = 236;
        } else {
            cinfo.out_color_space = JCS_EXT_BGR;
        }
        jpeg_start_decompress(&cinfo);
        const size_t stride = (size_t(cinfo.output_width) * cinfo.output_components + 3) / 4 * 4;
        if (pixels.size() < stride * cinfo.output_height) {
            state.PauseTiming();
            pixels.assign(stride * cinfo.output_height, 0);
            state.ResumeTiming();
        }
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = pixels.data() + size_t(cinfo.output_scanline) * stride;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(pixels.data());
    }
}

// The file read into memory, then its pixel bytes copied once into the picture's buffer; both
// buffers allocated before timing.
void ReadAndCopy(benchmark::State& state, const QString& path)
{
    QFile probe(path);
    const qint64 size = probe.size();
    std::vector<char> file(size_t(size), 0);
    std::vector<char> picture(size_t(size - 54), 0);
    const QByteArray name = QFile::encodeName(path);
    for (auto _ : state) {
        std::FILE* f = std::fopen(name.constData(), "rb");
        const size_t got = f ? std::fread(file.data(), 1, file.size(), f) : 0;
        if (f)
            std::fclose(f);
        if (got != file.size()) {
            state.SkipWithError("short read");
            break;
        }
        std::memcpy(picture.data(), file.data() + 54, picture.size());
        benchmark::DoNotOptimize(picture.data());
    }
}

}  // namespace

std::vector<Row> RegisterLoadCases()
{
    const Context& c = Shared();
    Configure(benchmark::RegisterBenchmark("load/jpeg_colour/project",
                                           [&c](benchmark::State& s) { LoadThroughForm(s, c.colourJpeg); }));
    Configure(benchmark::RegisterBenchmark("load/jpeg_colour/reference",
                                           [&c](benchmark::State& s) { BareDecode(s, c.colourJpegBytes, false); }));
    Configure(benchmark::RegisterBenchmark("load/jpeg_grey/project",
                                           [&c](benchmark::State& s) { LoadThroughForm(s, c.greyJpeg); }));
    Configure(benchmark::RegisterBenchmark("load/jpeg_grey/reference",
                                           [&c](benchmark::State& s) { BareDecode(s, c.greyJpegBytes, true); }));
    Configure(benchmark::RegisterBenchmark("load/pane_jpeg_colour/project",
                                           [&c](benchmark::State& s) { PanePreview(s, c.colourJpeg); }));
    Configure(benchmark::RegisterBenchmark("load/bmp24/project",
                                           [&c](benchmark::State& s) { LoadThroughForm(s, c.bitmap); }));
    Configure(benchmark::RegisterBenchmark("load/bmp24/reference",
                                           [&c](benchmark::State& s) { ReadAndCopy(s, c.bitmap); }));
    return {
        {"load 24 MP colour JPEG", "load/jpeg_colour/project", "load/jpeg_colour/reference", 1, 1.05},
        {"load 24 MP greyscale JPEG (236 greys)", "load/jpeg_grey/project", "load/jpeg_grey/reference", 1, 1.05},
        {"load 24 MP 24-bit BMP", "load/bmp24/project", "load/bmp24/reference", 1, 1.3},
        {"pane preview of the 24 MP colour JPEG (vs the game's load)", "load/pane_jpeg_colour/project",
         "load/jpeg_colour/project", 1, 0.25},
    };
}

}  // namespace bench
