#include "pictures/jpeg_source.h"

#include "pictures/forward_reader.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <unistd.h>
#include <utility>

#include <jpeglib.h>  // the marker codes

namespace pictures {
namespace {

// A marker segment holds at most this many bytes after its marker: zeros beyond a run this long,
// met while the decoder is between scans, are no segment's but filler before the next marker.
constexpr qint64 kLongestSegment = 65537;

bool IsRestartMarker(int marker)
{
    return marker >= JPEG_RST0 && marker <= JPEG_RST0 + 7;
}

// Whether the code after an 0xFF (and any fill bytes) in a scan's data ends the scan: a stuffed
// zero and restart markers are part of it.
bool EndsScan(int code)
{
    return code != 0x00 && !IsRestartMarker(code);
}

bool AllZero(const unsigned char* bytes, qint64 count)
{
    return std::all_of(bytes, bytes + count, [](unsigned char b) { return b == 0; });
}

// Moves the file to its next byte that is not zero, or to its end: holes of a sparse file are
// passed over without reading them, the rest is read in large chunks.
void PassZeros(QIODevice* file)
{
    auto* plain = qobject_cast<QFile*>(file);
    unsigned char chunk[65536];
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
        const unsigned char* data = std::find_if(chunk, chunk + count, [](unsigned char b) { return b != 0; });
        if (data != chunk + count) {
            file->seek(at + (data - chunk));
            return;
        }
    }
}

// The next block of the file, read ahead when needed: its size (0 at the end), or -1 when the
// file cannot be read.
qint64 NextBlock(JpegFileReader* reader, const unsigned char** block)
{
    if (reader->next == reader->end) {
        const qint64 count = reader->file->read(reinterpret_cast<char*>(reader->ahead), kReadAhead);
        if (count <= 0)
            return count;
        reader->next = 0;
        reader->end = std::size_t(count);
    }
    const std::size_t count = std::min(kBlockSize, reader->end - reader->next);
    *block = reader->ahead + reader->next;
    reader->next += count;
    return qint64(count);
}

// Passes over the zeros that follow, in what was read ahead and then in the file.
void PassZeros(JpegFileReader* reader)
{
    const unsigned char* data = std::find_if(reader->ahead + reader->next, reader->ahead + reader->end,
                                             [](unsigned char b) { return b != 0; });
    reader->next = std::size_t(data - reader->ahead);
    if (reader->next == reader->end)
        PassZeros(reader->file);
}

}  // namespace

void StartJpegReading(JpegFileReader* reader, QIODevice* file)
{
    reader->file = file;
    reader->zerosBetween = 0;
    reader->next = 0;
    reader->end = 0;
}

qint64 NextJpegBlock(JpegFileReader* reader, bool betweenScans, const unsigned char** block)
{
    qint64 count = NextBlock(reader, block);
    // The decoder looks for the next marker one byte at a time. A picture followed by a long
    // run of zeros (a scan that runs on, a tail appended to the file) would keep it busy for
    // seconds a gigabyte: the run is passed over here, as the decoder would discard it.
    reader->zerosBetween =
        betweenScans && count > 0 && AllZero(*block, count) ? reader->zerosBetween + count : 0;
    if (reader->zerosBetween > kLongestSegment) {
        PassZeros(reader);
        count = NextBlock(reader, block);
    }
    return count;
}

void SkipJpegBytes(JpegFileReader* reader, std::size_t count)
{
    const std::size_t ahead = std::min(count, reader->end - reader->next);
    reader->next += ahead;
    count -= ahead;
    if (count > 0) {
        QIODevice* file = reader->file;
        file->seek(std::min(file->pos() + qint64(count), file->size()));
    }
}

bool PassScanData(JpegFileReader* reader, const unsigned char** next, std::size_t* left)
{
    // A marker's code can open a block whose 0xFF ended the one before: the block is then handed
    // back, and this 0xFF stands for the one already passed.
    static const unsigned char kMarkerStart = 0xFF;
    const unsigned char* block = *next;
    std::size_t size = *left;
    std::size_t at = 0;
    bool afterFF = false;
    for (;;) {
        while (at < size) {
            if (!afterFF) {
                const auto* ff = static_cast<const unsigned char*>(std::memchr(block + at, 0xFF, size - at));
                if (!ff)
                    break;
                at = std::size_t(ff - block) + 1;
                afterFF = true;
                continue;
            }
            const int code = block[at];
            if (code != 0xFF && EndsScan(code)) {
                if (at > 0) {
                    *next = block + at - 1;
                    *left = size - at + 1;
                } else {
                    reader->next -= size;
                    *next = &kMarkerStart;
                    *left = 1;
                }
                return true;
            }
            afterFF = code == 0xFF;  // fill bytes before a marker
            ++at;
        }
        const qint64 count = NextBlock(reader, &block);
        if (count <= 0) {
            *left = 0;
            return count == 0;
        }
        size = std::size_t(count);
        at = 0;
    }
}

long long EntropyCodedBytes(QIODevice& file, long long enough)
{
    // Holes of a sparse file are no data a camera wrote: passed over unread, counted for nothing.
    ForwardReader in(file, 0, ForwardReader::Holes::Pass);
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
        // A length below 2 counts its own bytes short: the decoder then skips nothing, and the
        // count must not go back.
        in.skip(std::max((high << 8 | low) - 2, 0));
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
            if (EndsScan(after)) {
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

}  // namespace pictures
