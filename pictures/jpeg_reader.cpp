#include "pictures/jpeg_reader.h"

#include "pictures/failure.h"

#include <QImage>
#include <QVector>
#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <string>

#include <jpeglib.h>
#include <jerror.h>

// libjpeg reports errors through a callback that must not return. Ours longjmps back into
// RunDecoder, a plain function whose frame holds no object with a destructor: everything it
// works on lives in a DecodeJob owned by the caller, and the failure is thrown only after the
// decoder has been destroyed and RunDecoder has returned. No exception ever crosses libjpeg.

namespace pictures {
namespace {

JpegPixelFormat defaultFormat = JpegPixelFormat::Bits24;

// The file is handed to the decoder in blocks of this size.
constexpr std::size_t kBlockSize = 4096;

// A sane progressive file has a few dozen scans at most. Each scan costs a pass over the whole
// picture, so a small file made of thousands of tiny scans could keep the decoder busy for a
// very long time; such files are refused.
constexpr int kMaxScans = 1000;

// Numbers the program reports for the two most common decoder errors; libjpeg-turbo's own list
// numbers them one higher than the original library did.
constexpr int kEmptyFileCode = 41;
constexpr int kNotJpegCode = 52;

// Colours of an 8-bit (colour-reduced) picture.
constexpr int kReducedColours = 236;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

struct MemorySource {
    jpeg_source_mgr pub;
    const JOCTET* data;
    std::size_t size;
    std::size_t position;  // first byte not yet handed over
};

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

enum class Outcome { Decoded, DecoderError, TooLarge, NoMemory };

// Everything the decoding touches, owned by DecodeJpeg's frame.
struct DecodeJob {
    // Input.
    const QByteArray* file = nullptr;
    bool eightBit = false;

    // libjpeg's state.
    jpeg_decompress_struct cinfo;
    ErrorManager error;
    MemorySource source;
    jpeg_progress_mgr progress;

    // Output.
    QImage image;
    Outcome outcome = Outcome::Decoded;
    int messageCode = 0;
};

extern "C" {

static void ErrorExit(j_common_ptr cinfo)
{
    auto* error = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(error->jump, 1);
}

// Warnings (corrupt data the decoder works around) and trace messages are ignored.
static void EmitMessage(j_common_ptr, int) {}
static void OutputMessage(j_common_ptr) {}

static void InitSource(j_decompress_ptr) {}

static boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    auto* source = reinterpret_cast<MemorySource*>(cinfo->src);
    if (source->position < source->size) {
        const std::size_t count = std::min(kBlockSize, source->size - source->position);
        source->pub.next_input_byte = source->data + source->position;
        source->pub.bytes_in_buffer = count;
        source->position += count;
        return TRUE;
    }
    if (source->size == 0)
        ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // Past the end: an end-of-image marker each time, so a cut-off file decodes to its end
    // with the missing part filled in by the decoder.
    source->pub.next_input_byte = kEndOfImage;
    source->pub.bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
}

static void SkipInputData(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    auto* source = reinterpret_cast<MemorySource*>(cinfo->src);
    const std::size_t skip = std::size_t(count);
    if (skip <= source->pub.bytes_in_buffer) {
        source->pub.next_input_byte += skip;
        source->pub.bytes_in_buffer -= skip;
        return;
    }
    // Beyond the current block: move through the file directly, stopping at its end. The next
    // read fills the buffer again (or gives the end-of-image marker).
    const std::size_t beyond = skip - source->pub.bytes_in_buffer;
    source->pub.next_input_byte = nullptr;
    source->pub.bytes_in_buffer = 0;
    source->position += std::min(beyond, source->size - source->position);
}

static void TermSource(j_decompress_ptr) {}

// Called between units of input while the decoder gathers a multi-scan file.
static void LimitScans(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    // Reported as "invalid progressive parameters": the progression of such a file is not one
    // a real encoder makes.
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        ERREXIT(cinfo, JERR_BAD_PROGRESSION);
}

}  // extern "C"

// Bytes one row of a QImage of this width and depth takes (rows are 32-bit aligned).
long long BytesPerLine(long long width, int depth)
{
    return (width * depth + 31) / 32 * 4;
}

// Allocates the picture's pixels and, for a colour-reduced picture, its colour table from the
// decoder's colour map. Never throws: RunDecoder cannot let an exception pass.
bool PrepareImage(DecodeJob* job) noexcept
{
    try {
        jpeg_decompress_struct& cinfo = job->cinfo;
        const int width = int(cinfo.output_width);
        const int height = int(cinfo.output_height);
        if (!cinfo.quantize_colors) {
            job->image = QImage(width, height, QImage::Format_BGR888);
            return !job->image.isNull();
        }
        job->image = QImage(width, height, QImage::Format_Indexed8);
        if (job->image.isNull())
            return false;
        const int count = cinfo.actual_number_of_colors;
        QVector<QRgb> table(count);
        JSAMPARRAY map = cinfo.colormap;
        for (int i = 0; i < count; ++i) {
            switch (cinfo.out_color_components) {
            case 1:
                table[i] = qRgb(map[0][i], map[0][i], map[0][i]);
                break;
            case 3:
                table[i] = qRgb(map[0][i], map[1][i], map[2][i]);
                break;
            default: {  // CMYK map
                const bool inverted = cinfo.saw_Adobe_marker;
                auto ink = [&](int c) { return int(map[c][i]); };
                auto channel = [&](int c) {
                    const int a = inverted ? ink(c) : 255 - ink(c);
                    const int k = inverted ? ink(3) : 255 - ink(3);
                    return (a * k + 127) / 255;
                };
                table[i] = qRgb(channel(0), channel(1), channel(2));
                break;
            }
            }
        }
        job->image.setColorTable(table);
        return true;
    } catch (...) {
        job->image = QImage();
        return false;
    }
}

// One row of CMYK samples into blue, green, red. Adobe applications store the inks inverted
// (0 = full ink) and mark their files with an Adobe segment; other files store them plainly.
void CmykToBgr(const JSAMPLE* in, JSAMPLE* out, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
        int c = in[0], m = in[1], y = in[2], k = in[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[0] = JSAMPLE((y * k + 127) / 255);
        out[1] = JSAMPLE((m * k + 127) / 255);
        out[2] = JSAMPLE((c * k + 127) / 255);
    }
}

// The decoding proper. Plain data only in this frame: see the note at the top.
void RunDecoder(DecodeJob* job)
{
    jpeg_decompress_struct* cinfo = &job->cinfo;

    cinfo->err = jpeg_std_error(&job->error.pub);
    job->error.pub.error_exit = ErrorExit;
    job->error.pub.emit_message = EmitMessage;
    job->error.pub.output_message = OutputMessage;
    if (setjmp(job->error.jump)) {
        job->outcome = Outcome::DecoderError;
        job->messageCode = job->error.pub.msg_code;
        jpeg_destroy_decompress(cinfo);
        return;
    }
    jpeg_create_decompress(cinfo);

    // Whole-image buffers of the decoder (the coefficients of a progressive file, the picture
    // of a two-pass colour reduction) may take as much as the picture itself may: for a 4:2:0
    // progressive file that is the same as its 24-bit pixels. libjpeg-turbo's memory manager
    // refuses larger buffers (it has no backing store), so a small file claiming a huge picture
    // fails before the memory is taken.
    cinfo->mem->max_memory_to_use = long(kMaxPictureBytes);

    job->progress.progress_monitor = LimitScans;
    cinfo->progress = &job->progress;

    MemorySource* source = &job->source;
    source->pub.init_source = InitSource;
    source->pub.fill_input_buffer = FillInputBuffer;
    source->pub.skip_input_data = SkipInputData;
    source->pub.resync_to_restart = jpeg_resync_to_restart;
    source->pub.term_source = TermSource;
    source->pub.next_input_byte = nullptr;
    source->pub.bytes_in_buffer = 0;
    source->data = reinterpret_cast<const JOCTET*>(job->file->constData());
    source->size = std::size_t(job->file->size());
    source->position = 0;
    cinfo->src = &source->pub;

    jpeg_read_header(cinfo, TRUE);

    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    cinfo->dct_method = JDCT_FLOAT;
    cinfo->do_block_smoothing = TRUE;
    cinfo->do_fancy_upsampling = TRUE;
    cinfo->buffered_image = FALSE;

    const bool grey = cinfo->num_components == 1;
    const bool fourInks = cinfo->num_components == 4;
    const bool reduce = grey || job->eightBit;
    if (grey)
        cinfo->out_color_space = JCS_GRAYSCALE;
    else if (fourInks)
        cinfo->out_color_space = JCS_CMYK;
    else if (reduce)
        cinfo->out_color_space = JCS_RGB;  // the colour map then comes as red, green, blue
    else
        cinfo->out_color_space = JCS_EXT_BGR;  // rows arrive in the picture's byte order
    // Any other component count is left to the decoder, which refuses the conversion.
    if (reduce) {
        cinfo->quantize_colors = TRUE;
        cinfo->desired_number_of_colors = kReducedColours;
    }

    jpeg_calc_output_dimensions(cinfo);
    const long long width = cinfo->output_width;
    const long long height = cinfo->output_height;
    const int depth = reduce ? 8 : 24;
    if (width > kMaxPictureSide || height > kMaxPictureSide
        || BytesPerLine(width, depth) * height > kMaxPictureBytes
        || !FileCanHoldPicture(job->file->size(), width, height)) {
        job->outcome = Outcome::TooLarge;
        jpeg_destroy_decompress(cinfo);
        return;
    }

    jpeg_start_decompress(cinfo);

    // The rows are written straight into the picture: make sure they have the size it expects.
    const int expected = reduce ? 1 : fourInks ? 4 : 3;
    if (cinfo->output_components != expected)
        ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);

    if (!PrepareImage(job)) {
        job->outcome = Outcome::NoMemory;
        jpeg_destroy_decompress(cinfo);
        return;
    }
    JSAMPLE* const pixels = job->image.bits();
    const std::size_t stride = std::size_t(job->image.bytesPerLine());

    // Four inks need a row of their own before they become three colours; the decoder's pool
    // owns it and frees it with the decoder.
    JSAMPARRAY inkRow = nullptr;
    if (fourInks && !reduce) {
        inkRow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                             cinfo->output_width * 4, 1);
    }
    const bool inverted = cinfo->saw_Adobe_marker;

    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = pixels + std::size_t(cinfo->output_scanline) * stride;
        if (inkRow) {
            if (jpeg_read_scanlines(cinfo, inkRow, 1) == 1)
                CmykToBgr(inkRow[0], row, cinfo->output_width, inverted);
        } else {
            jpeg_read_scanlines(cinfo, &row, 1);
        }
    }

    jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    job->outcome = Outcome::Decoded;
}

}  // namespace

JpegPixelFormat DefaultJpegPixelFormat()
{
    return defaultFormat;
}

void SetDefaultJpegPixelFormat(JpegPixelFormat format)
{
    defaultFormat = format;
}

JpegPixelFormat JpegPixelFormatForScreenDepth(int bitsPerPixelTimesPlanes)
{
    return bitsPerPixelTimesPlanes <= 8 ? JpegPixelFormat::Bits8 : JpegPixelFormat::Bits24;
}

Picture DecodeJpeg(const QByteArray& file, JpegPixelFormat format)
{
    DecodeJob job;
    job.file = &file;
    job.eightBit = format == JpegPixelFormat::Bits8;
    RunDecoder(&job);

    switch (job.outcome) {
    case Outcome::Decoded:
        break;
    case Outcome::TooLarge:
    case Outcome::NoMemory:
        throw Failure(kOutOfResources);
    case Outcome::DecoderError: {
        int code = job.messageCode;
        if (code == JERR_INPUT_EMPTY)
            code = kEmptyFileCode;
        else if (code == JERR_NO_SOI)
            code = kNotJpegCode;
        throw Failure("JPEG エラー #" + std::to_string(code));
    }
    }
    const int bits = job.image.format() == QImage::Format_Indexed8 ? 8 : 24;
    return Picture(std::move(job.image), bits);
}

}  // namespace pictures
