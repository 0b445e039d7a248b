#include "pictures/jpeg_reader.h"

#include "pictures/failure.h"
#include "pictures/limits.h"

#include <QBuffer>
#include <QFile>
#include <QIODevice>
#include <QImage>
#include <QVector>
#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cerrno>
#include <cstring>
#include <iterator>
#include <string>
#include <unistd.h>

#include <jpeglib.h>
#include <jerror.h>

// libjpeg reports errors through a callback that must not return. Ours longjmps back into
// RunDecoder, a plain function whose frame holds no object with a destructor: everything it
// works on lives in a DecodeJob owned by the caller, and the failure is thrown only after the
// decoder has been destroyed and RunDecoder has returned. No exception ever crosses libjpeg.

namespace pictures {
namespace {

JpegPixelFormat defaultFormat = JpegPixelFormat::Bits24;

// The file is handed to the decoder in blocks of this size, as the decoder asks. It is read a
// few blocks ahead: one read a block costs more than the decoding of it on some systems.
constexpr std::size_t kBlockSize = 4096;
constexpr std::size_t kReadAhead = 16 * kBlockSize;

// Every scan is a pass over the coefficients of the components it codes, however little data
// it holds, so a small file of thousands of tiny scans can keep the decoder busy for minutes.
// All scans together may pass over kScanPassesPerCoefficient times the picture's coefficients
// (standard progressions take at most 6 passes, the longest scripts of common encoders about
// 100), and at least kFreeScannedCoefficients. Once a scan codes again what an earlier one has
// coded, the file is not one an encoder made: then only kFreeScannedCoefficients are allowed.
constexpr long long kScanPassesPerCoefficient = 128;
constexpr long long kFreeScannedCoefficients = 1LL << 30;

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

// Hands the file over a block at a time, as the decoder asks: nothing beyond what the decoder
// has asked for is read.
struct FileSource {
    jpeg_source_mgr pub;
    QIODevice* file;
    bool started;          // some data handed over
    qint64 zerosBetween;   // zero bytes handed over in a row while no scan was being decoded
    std::size_t next;      // first byte of `ahead` not yet handed over
    std::size_t end;       // bytes read into `ahead`
    JOCTET ahead[kReadAhead];
};

// A marker segment holds at most this many bytes after its marker: zeros beyond a run this long,
// met while the decoder is between scans, are no segment's but filler before the next marker.
constexpr qint64 kLongestSegment = 65537;

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

    // Output.
    QSize fullSize;  // from the header, once it is read
    QImage image;
    Outcome outcome = Outcome::Decoded;
    int messageCode = 0;
};

// Reads a file forward a chunk at a time: memory stays the chunk's, whatever the file's size.
class ForwardReader {
public:
    explicit ForwardReader(QIODevice& file) : file_(file) {}

    // The next byte, or -1 at the end of the file.
    int next()
    {
        if (at_ == end_) {
            const qint64 count = file_.read(reinterpret_cast<char*>(chunk_), sizeof chunk_);
            if (count <= 0)
                return -1;
            at_ = 0;
            end_ = int(count);
        }
        return chunk_[at_++];
    }

    void skip(qint64 count)
    {
        const qint64 inChunk = std::min<qint64>(count, end_ - at_);
        at_ += int(inChunk);
        if (count > inChunk)
            file_.seek(std::min(file_.pos() + (count - inChunk), file_.size()));
    }

private:
    QIODevice& file_;
    uchar chunk_[65536];
    int at_ = 0;
    int end_ = 0;
};

bool IsRestartMarker(int marker)
{
    return marker >= JPEG_RST0 && marker <= JPEG_RST0 + 7;
}

// Bytes of entropy-coded data in the file from its start, counted up to `enough`: what follows
// each start-of-scan header up to the next marker that is not a restart marker (restart markers
// and stuffed zeros are part of the scan). Other segments are skipped by their length; a file
// cut off inside a segment ends there.
long long EntropyCodedBytes(QIODevice& file, long long enough)
{
    file.seek(0);
    ForwardReader in(file);
    in.skip(2);  // the start-of-image marker
    long long total = 0;
    int marker = -1;  // a marker already read, that ended a scan
    while (total < enough) {
        if (marker < 0) {
            int c;
            while ((c = in.next()) >= 0 && c != 0xFF) {
            }
            do {
                marker = in.next();
            } while (marker == 0xFF);  // fill bytes before a marker
            if (marker < 0)
                break;
        }
        const int type = std::exchange(marker, -1);
        if (type == 0x00 || type == 0x01 || type == 0xD8 || IsRestartMarker(type))
            continue;  // no segment follows
        if (type == JPEG_EOI)
            break;
        const int high = in.next();
        const int low = in.next();
        if (low < 0)
            break;
        in.skip((high << 8 | low) - 2);
        if (type != 0xDA)
            continue;
        // The scan's data, up to the marker that ends it.
        for (int c; total < enough && (c = in.next()) >= 0;) {
            if (c != 0xFF) {
                ++total;
                continue;
            }
            int after;
            do {
                after = in.next();
            } while (after == 0xFF);
            if (after < 0)
                return total;
            if (after != 0x00 && !IsRestartMarker(after)) {
                marker = after;
                break;
            }
            total += 2;
        }
        if (marker < 0 && total < enough)
            break;  // the file ends inside the scan
    }
    return total;
}

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

bool AllZero(const JOCTET* bytes, qint64 count)
{
    return std::all_of(bytes, bytes + count, [](JOCTET b) { return b == 0; });
}

// Moves the file to its next byte that is not zero, or to its end: holes of a sparse file are
// passed over without reading them, the rest is read in large chunks.
void PassZeros(QIODevice* file)
{
    auto* plain = qobject_cast<QFile*>(file);
    JOCTET chunk[65536];
    for (;;) {
        if (plain && plain->handle() >= 0) {
            const off_t data = lseek(plain->handle(), off_t(file->pos()), SEEK_DATA);
            if (data >= 0)
                file->seek(qint64(data));
            else if (errno == ENXIO)  // nothing but a hole up to the end
                file->seek(file->size());
        }
        const qint64 at = file->pos();
        const qint64 count = file->read(reinterpret_cast<char*>(chunk), sizeof chunk);
        if (count <= 0)
            return;
        const JOCTET* data = std::find_if(chunk, chunk + count, [](JOCTET b) { return b != 0; });
        if (data != chunk + count) {
            file->seek(at + (data - chunk));
            return;
        }
    }
}

// The next block of the file, read ahead when needed: its size (0 at the end), or -1 when the
// file cannot be read.
qint64 NextBlock(FileSource* source)
{
    if (source->next == source->end) {
        const qint64 count = source->file->read(reinterpret_cast<char*>(source->ahead), kReadAhead);
        if (count <= 0)
            return count;
        source->next = 0;
        source->end = std::size_t(count);
    }
    const std::size_t count = std::min(kBlockSize, source->end - source->next);
    source->pub.next_input_byte = source->ahead + source->next;
    source->next += count;
    return qint64(count);
}

// Passes over the zeros that follow, in what was read ahead and then in the file.
void PassZeros(FileSource* source)
{
    const JOCTET* data = std::find_if(source->ahead + source->next, source->ahead + source->end,
                                      [](JOCTET b) { return b != 0; });
    source->next = std::size_t(data - source->ahead);
    if (source->next == source->end)
        PassZeros(source->file);
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
    qint64 count = NextBlock(source);
    // The decoder looks for the next marker one byte at a time. A picture followed by a long
    // run of zeros (a scan that runs on, a tail appended to the file) would keep it busy for
    // seconds a gigabyte: the run is passed over here, as the decoder would discard it.
    const bool betweenScans = cinfo->input_scan_number == 0 || cinfo->input_iMCU_row >= cinfo->total_iMCU_rows;
    source->zerosBetween =
        betweenScans && count > 0 && AllZero(source->pub.next_input_byte, count) ? source->zerosBetween + count : 0;
    if (source->zerosBetween > kLongestSegment) {
        PassZeros(source);
        count = NextBlock(source);
    }
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
    // Beyond the current block: through what was read ahead, then forward in the file,
    // stopping at its end. The next read fills the block again (or gives the end-of-image
    // marker).
    std::size_t beyond = skip - source->pub.bytes_in_buffer;
    source->pub.bytes_in_buffer = 0;
    const std::size_t ahead = std::min(beyond, source->end - source->next);
    source->next += ahead;
    beyond -= ahead;
    if (beyond > 0) {
        QIODevice* file = source->file;
        file->seek(std::min(file->pos() + qint64(beyond), file->size()));
    }
}

static void TermSource(j_decompress_ptr) {}

// Called between units of input while the decoder gathers a multi-scan file, so each new scan
// is counted before its data is decoded.
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
}

}  // extern "C"

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
    source->file = job->file;
    source->started = false;
    source->zerosBetween = 0;
    source->next = 0;
    source->end = 0;
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
