#include "pictures/jpeg_reader.h"

#include "pictures/failure.h"
#include "pictures/jpeg_source.h"
#include "pictures/limits.h"

#include <QBuffer>
#include <QIODevice>
#include <QImage>
#include <QVector>
#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstring>
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

// libjpeg-turbo lists the decoder's errors as later releases of the IJG library do, which added
// codes among them; the program reports the numbers of the library's release 6. Codes that
// release did not have take the number of the error it reported in their place.
struct ReportedCode {
    int code;
    int reported;
};
constexpr ReportedCode kReleaseSixCodes[] = {
    {JERR_ARITH_NOTIMPL, 1},      {JERR_BAD_ALIGN_TYPE, 2},        {JERR_BAD_ALLOC_CHUNK, 3},
    {JERR_BAD_BUFFER_MODE, 4},    {JERR_BAD_COMPONENT_ID, 5},      {JERR_BAD_DCTSIZE, 6},
    {JERR_BAD_IN_COLORSPACE, 7},  {JERR_BAD_J_COLORSPACE, 8},      {JERR_BAD_LENGTH, 9},
    {JERR_BAD_LIB_VERSION, 10},   {JERR_BAD_MCU_SIZE, 11},         {JERR_BAD_POOL_ID, 12},
    {JERR_BAD_PRECISION, 13},     {JERR_BAD_PROGRESSION, 14},      {JERR_BAD_PROG_SCRIPT, 15},
    {JERR_BAD_SAMPLING, 16},      {JERR_BAD_SCAN_SCRIPT, 17},      {JERR_BAD_STATE, 18},
    {JERR_BAD_STRUCT_SIZE, 19},   {JERR_BAD_VIRTUAL_ACCESS, 20},   {JERR_BUFFER_SIZE, 21},
    {JERR_CANT_SUSPEND, 22},      {JERR_CCIR601_NOTIMPL, 23},      {JERR_COMPONENT_COUNT, 24},
    {JERR_CONVERSION_NOTIMPL, 25}, {JERR_DAC_INDEX, 26},           {JERR_DAC_VALUE, 27},
    {JERR_BAD_HUFF_TABLE, 28},  // called JERR_DHT_COUNTS then
    {JERR_DHT_INDEX, 29},         {JERR_DQT_INDEX, 30},            {JERR_EMPTY_IMAGE, 31},
    {JERR_EMS_READ, 32},          {JERR_EMS_WRITE, 33},            {JERR_EOI_EXPECTED, 34},
    {JERR_FILE_READ, 35},         {JERR_FILE_WRITE, 36},           {JERR_FRACT_SAMPLE_NOTIMPL, 37},
    {JERR_HUFF_CLEN_OVERFLOW, 38}, {JERR_HUFF_MISSING_CODE, 39},   {JERR_IMAGE_TOO_BIG, 40},
    {JERR_INPUT_EMPTY, 41},
    {JERR_INPUT_EOF, 42},         {JERR_MISMATCHED_QUANT_TABLE, 43}, {JERR_MISSING_DATA, 44},
    {JERR_MODE_CHANGE, 45},       {JERR_NOTIMPL, 46},              {JERR_NOT_COMPILED, 47},
    {JERR_NO_BACKING_STORE, 48},  {JERR_NO_HUFF_TABLE, 49},
    {JERR_NO_ARITH_TABLE, 49},  // arithmetic coding came later: its missing table is the same fault
    {JERR_NO_IMAGE, 50},          {JERR_NO_QUANT_TABLE, 51},       {JERR_NO_SOI, 52},
    {JERR_OUT_OF_MEMORY, 53},     {JERR_QUANT_COMPONENTS, 54},  {JERR_QUANT_FEW_COLORS, 55},     {JERR_QUANT_MANY_COLORS, 56},
    {JERR_SOF_DUPLICATE, 57},     {JERR_SOF_NO_SOS, 58},           {JERR_SOF_UNSUPPORTED, 59},
    {JERR_SOI_DUPLICATE, 60},     {JERR_SOS_NO_SOF, 61},           {JERR_TFILE_CREATE, 62},
    {JERR_TFILE_READ, 63},        {JERR_TFILE_SEEK, 64},           {JERR_TFILE_WRITE, 65},
    {JERR_TOO_LITTLE_DATA, 66},   {JERR_UNKNOWN_MARKER, 67},       {JERR_VIRTUAL_BUG, 68},
    {JERR_WIDTH_OVERFLOW, 69},    {JERR_XMS_READ, 70},          {JERR_XMS_WRITE, 71},
    // Raised only when compressing, cropping or transcoding, never by this program's decoding.
    {JERR_BAD_DCT_COEF, 46},      {JERR_BAD_CROP_SPEC, 46},        {JERR_BAD_DROP_SAMPLING, 46},
};

// Colours of an 8-bit (colour-reduced) picture.
constexpr int kReducedColours = 236;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// libjpeg's data source: the file handed over a block at a time, as the decoder asks, by the
// reader of jpeg_source.h.
struct FileSource {
    jpeg_source_mgr pub;
    bool started;  // some data handed over
    JpegFileReader reader;
};

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

// Adds up the coefficients each scan passes over, as the scan begins, and notes which bits of
// which coefficients the scans have coded.
struct ScanMonitor {
    jpeg_progress_mgr pub;
    int scan;
    long long scannedCoefficients;
    long long allowed;
    // Per component and coefficient, the lowest bit coded so far; kNothingCoded before any.
    static constexpr signed char kNothingCoded = 64;
    signed char lowestBit[MAX_COMPONENTS][DCTSIZE2];
};

enum class Outcome { Decoded, DecoderError, NoMemory };

// Everything the decoding touches, owned by DecodeJpeg's frame.
struct DecodeJob {
    // Input.
    QIODevice* file = nullptr;
    bool eightBit = false;
    QSize cover;  // empty: full size

    // libjpeg's state.
    jpeg_decompress_struct cinfo;
    ErrorManager error;
    FileSource source;
    ScanMonitor monitor;

    long long coefficientBytes = 0;  // of a multi-scan file, once the header is read

    // Output.
    QSize fullSize;  // from the header, once it is read
    QImage image;
    Outcome outcome = Outcome::Decoded;
    int messageCode = 0;
};

// The smallest scale, in eighths, at which a picture of width x height still covers the
// target when fitted into it with its proportions kept.
int CoveringEighths(long long width, long long height, QSize cover)
{
    if (cover.isEmpty())
        return 8;
    for (int eighths = 1; eighths < 8; ++eighths) {
        // libjpeg rounds the scaled size up.
        const long long w = (width * eighths + 7) / 8;
        const long long h = (height * eighths + 7) / 8;
        // Fitted with its proportions kept, a picture meets the target's width or its height:
        // reaching either side is reaching the one it meets.
        if (w >= cover.width() || h >= cover.height())
            return eighths;
    }
    return 8;
}

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
    auto* source = reinterpret_cast<FileSource*>(cinfo->src);
    // Before the first scan, or once a scan's rows are all in, the decoder is looking for a
    // marker: zeros met then are no scan's data.
    const bool betweenScans = cinfo->input_scan_number == 0 || cinfo->input_iMCU_row >= cinfo->total_iMCU_rows;
    const qint64 count = NextJpegBlock(&source->reader, betweenScans, &source->pub.next_input_byte);
    if (count < 0)
        ERREXIT(cinfo, JERR_FILE_READ);
    if (count > 0) {
        source->started = true;
        source->pub.bytes_in_buffer = std::size_t(count);
        return TRUE;
    }
    if (!source->started)
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
    auto* source = reinterpret_cast<FileSource*>(cinfo->src);
    const std::size_t skip = std::size_t(count);
    if (skip <= source->pub.bytes_in_buffer) {
        source->pub.next_input_byte += skip;
        source->pub.bytes_in_buffer -= skip;
        return;
    }
    // Beyond the current block: the next read fills the block again (or gives the end-of-image
    // marker).
    const std::size_t beyond = skip - source->pub.bytes_in_buffer;
    source->pub.bytes_in_buffer = 0;
    SkipJpegBytes(&source->reader, beyond);
}

static void TermSource(j_decompress_ptr) {}

// Called between units of input while the decoder gathers a multi-scan file, so each new scan
// is counted, and passed over where it would draw nothing, before its data is decoded.
static void LimitScans(j_common_ptr common)
{
    if (!common->is_decompressor)
        return;
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    auto* monitor = reinterpret_cast<ScanMonitor*>(cinfo->progress);
    if (cinfo->input_scan_number == monitor->scan)
        return;
    monitor->scan = cinfo->input_scan_number;
    bool repeats = false;
    for (int i = 0; i < cinfo->comps_in_scan; ++i) {
        const jpeg_component_info* component = cinfo->cur_comp_info[i];
        monitor->scannedCoefficients +=
            (long long)component->width_in_blocks * component->height_in_blocks * DCTSIZE2;
        signed char* lowest = monitor->lowestBit[component->component_index];
        for (int k = std::max(cinfo->Ss, 0); k <= std::min(cinfo->Se, DCTSIZE2 - 1); ++k) {
            // A first scan of a coefficient already coded, or a refinement of a bit already
            // coded.
            if (lowest[k] != ScanMonitor::kNothingCoded && (cinfo->Ah == 0 || cinfo->Al >= lowest[k]))
                repeats = true;
            lowest[k] = static_cast<signed char>(std::min<int>(lowest[k], cinfo->Al));
        }
    }
    if (repeats)
        monitor->allowed = kFreeScannedCoefficients;
    // Reported as "invalid progressive parameters": the progression of such a file is not one
    // a real encoder makes.
    if (monitor->scannedCoefficients > monitor->allowed)
        ERREXIT(cinfo, JERR_BAD_PROGRESSION);

    // A component decoded to one pixel a block shows nothing of its blocks but the DC
    // coefficient: a progressive scan of its other coefficients is passed over undecoded, and
    // the decoder, meeting the scan's end at once, leaves them as they are.
    bool undrawn = cinfo->progressive_mode && cinfo->Ss > 0;
    for (int i = 0; i < cinfo->comps_in_scan; ++i)
        undrawn = undrawn && cinfo->cur_comp_info[i]->DCT_scaled_size == 1;
    if (undrawn) {
        auto* source = reinterpret_cast<FileSource*>(cinfo->src);
        if (!PassScanData(&source->reader, &source->pub.next_input_byte, &source->pub.bytes_in_buffer))
            ERREXIT(cinfo, JERR_FILE_READ);
    }
}

}  // extern "C"

// The level of one colour from its ink and the black ink. Adobe applications store the inks
// inverted (0 = full ink) and mark their files with an Adobe segment; other files store them
// plainly.
int InkLevel(int ink, int black, bool inverted)
{
    if (!inverted) {
        ink = 255 - ink;
        black = 255 - black;
    }
    return (ink * black + 127) / 255;
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
            job->image = NewImage(width, height, QImage::Format_BGR888);
            return !job->image.isNull();
        }
        job->image = NewImage(width, height, QImage::Format_Indexed8);
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
                auto channel = [&](int c) { return InkLevel(map[c][i], map[3][i], inverted); };
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

// One row of CMYK samples into blue, green, red.
void CmykToBgr(const JSAMPLE* in, JSAMPLE* out, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
        out[0] = JSAMPLE(InkLevel(in[2], in[3], inverted));
        out[1] = JSAMPLE(InkLevel(in[1], in[3], inverted));
        out[2] = JSAMPLE(InkLevel(in[0], in[3], inverted));
    }
}

// Whether the file may make the decoder build the picture it claims: the picture and the
// decoder's whole-image buffers within their caps, and the working set paid for by the file's
// entropy-coded data. Called after the header is read, with the decoder's settings made.
// twoPass: colours reduced from a three-colour picture, which is buffered whole at 24 bits.
bool WorkingSetAllowed(DecodeJob* job, bool twoPass)
{
    jpeg_decompress_struct& cinfo = job->cinfo;
    const long long width = cinfo.image_width;
    const long long height = cinfo.image_height;
    const long long pixels = width * height;
    const bool eightBit = cinfo.quantize_colors;
    if (BitmapRowBytes(width, eightBit ? 8 : 24) * height > kMaxPictureBytes
        || (twoPass && BitmapRowBytes(width, 24) * height > kMaxPictureBytes))
        return false;
    long long workingSet = pixels * (twoPass ? 4 : 3);
    if (jpeg_has_multiple_scans(&cinfo)) {
        // The coefficients of every block, two bytes each, padded to whole units as the decoder
        // keeps them.
        long long coefficientBytes = 0;
        for (int i = 0; i < cinfo.num_components; ++i) {
            const jpeg_component_info& c = cinfo.comp_info[i];
            const long long across = (c.width_in_blocks + c.h_samp_factor - 1) / c.h_samp_factor * c.h_samp_factor;
            const long long down = (c.height_in_blocks + c.v_samp_factor - 1) / c.v_samp_factor * c.v_samp_factor;
            coefficientBytes += across * down * DCTSIZE2 * long(sizeof(JCOEF));
        }
        if (coefficientBytes > kMaxCoefficientBytes)
            return false;
        workingSet += coefficientBytes;
        job->coefficientBytes = coefficientBytes;
    }
    // Counting stops once the data pays for the working set; none is needed below the free one.
    if (workingSet <= kFreeWorkingSet)
        return true;
    const qint64 resume = job->file->pos();
    const long long enough = (workingSet - kFreeWorkingSet) / kWorkingSetPerDataByte + 1;
    const bool paid = DataJustifiesWorkingSet(workingSet, EntropyCodedBytes(*job->file, enough));
    job->file->seek(resume);
    return paid;
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

    // A safety net under the checks below, which refuse first: the decoder's whole-image
    // buffers (coefficients, the 24-bit picture of a two-pass colour reduction) never take more.
    cinfo->mem->max_memory_to_use = long(kMaxCoefficientBytes + kMaxPictureBytes + (64LL << 20));

    job->monitor.pub.progress_monitor = LimitScans;
    job->monitor.scan = 0;
    job->monitor.scannedCoefficients = 0;
    std::memset(job->monitor.lowestBit, ScanMonitor::kNothingCoded, sizeof job->monitor.lowestBit);
    cinfo->progress = &job->monitor.pub;

    FileSource* source = &job->source;
    source->pub.init_source = InitSource;
    source->pub.fill_input_buffer = FillInputBuffer;
    source->pub.skip_input_data = SkipInputData;
    source->pub.resync_to_restart = jpeg_resync_to_restart;
    source->pub.term_source = TermSource;
    source->pub.next_input_byte = nullptr;
    source->pub.bytes_in_buffer = 0;
    source->started = false;
    StartJpegReading(&source->reader, job->file);
    cinfo->src = &source->pub;

    jpeg_read_header(cinfo, TRUE);
    const long long fullWidth = cinfo->image_width;
    const long long fullHeight = cinfo->image_height;
    job->fullSize = QSize(int(fullWidth), int(fullHeight));  // at most 65500 each: the header says so

    cinfo->scale_num = JDIMENSION(CoveringEighths(fullWidth, fullHeight, job->cover));
    cinfo->scale_denom = 8;
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

    // Limits apply to the picture at full size, whatever the scale: a reduced decode refuses
    // exactly what the full one refuses.
    if (!WorkingSetAllowed(job, reduce && !grey && !fourInks)) {
        job->outcome = Outcome::NoMemory;
        jpeg_destroy_decompress(cinfo);
        return;
    }
    long long coefficients = 0;
    for (int i = 0; i < cinfo->num_components; ++i)
        coefficients += (long long)cinfo->comp_info[i].width_in_blocks * cinfo->comp_info[i].height_in_blocks * DCTSIZE2;
    job->monitor.allowed = std::max(kFreeScannedCoefficients, kScanPassesPerCoefficient * coefficients);
    jpeg_calc_output_dimensions(cinfo);

    // The decoder takes its buffer of every block's coefficients from the heap as it starts.
    PrepareHeapForLargeBlock(job->coefficientBytes);
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

std::string JpegErrorMessage(int decoderCode)
{
    // A failed allocation is the system's lack of resources, not a fault of the file.
    if (decoderCode == JERR_OUT_OF_MEMORY)
        return kOutOfResources;
    // Warnings and traces never end a decode; were one to, it would read as a bogus message.
    int reported = 0;
    for (const ReportedCode& c : kReleaseSixCodes) {
        if (c.code == decoderCode)
            reported = c.reported;
    }
    return "JPEG エラー #" + std::to_string(reported);
}

Picture DecodeJpeg(QIODevice& file, JpegPixelFormat format, QSize cover, QSize* fullSize)
{
    DecodeJob job;
    job.file = &file;
    job.eightBit = format == JpegPixelFormat::Bits8;
    job.cover = cover;
    file.seek(0);
    RunDecoder(&job);
    if (fullSize)
        *fullSize = job.fullSize;

    switch (job.outcome) {
    case Outcome::Decoded:
        break;
    case Outcome::NoMemory:
        throw Failure(kOutOfResources);
    case Outcome::DecoderError:
        throw Failure(JpegErrorMessage(job.messageCode));
    }
    const int bits = job.image.format() == QImage::Format_Indexed8 ? 8 : 24;
    return Picture(std::move(job.image), bits);
}

Picture DecodeJpeg(const QByteArray& file, JpegPixelFormat format, QSize cover, QSize* fullSize)
{
    QBuffer buffer;
    buffer.setData(file);  // shares the bytes, copies nothing
    buffer.open(QIODevice::ReadOnly);
    return DecodeJpeg(buffer, format, cover, fullSize);
}

}  // namespace pictures
