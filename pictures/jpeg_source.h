#pragma once
// The file side of the JPEG reader: hands the open file over in blocks as the decoder asks,
// passes over runs of zeros and over scans the decoder need not decode, and counts the
// entropy-coded bytes of its scans. Internal to the JPEG reader.

#include <QIODevice>
#include <cstddef>

namespace pictures {

// The file is handed to the decoder in blocks of this size, as the decoder asks. It is read a
// few blocks ahead: one read a block costs more than the decoding of it on some systems.
constexpr std::size_t kBlockSize = 4096;
constexpr std::size_t kReadAhead = 16 * kBlockSize;

// The file as the decoder reads it. Plain data, set up by StartJpegReading: it lives in the
// decoding's job, whose frame a decoder error leaves by longjmp.
struct JpegFileReader {
    QIODevice* file;
    qint64 zerosBetween;   // zero bytes handed over in a row while no scan was being decoded
    std::size_t next;      // first byte of `ahead` not yet handed over
    std::size_t end;       // bytes read into `ahead`
    unsigned char ahead[kReadAhead];
};

void StartJpegReading(JpegFileReader* reader, QIODevice* file);

// The next block for the decoder, pointed at by *block: its size (0 at the end), or -1 when the
// file cannot be read. betweenScans: the decoder is not inside a scan's data.
qint64 NextJpegBlock(JpegFileReader* reader, bool betweenScans, const unsigned char** block);

// Passes over count bytes beyond the block last handed over: through what was read ahead, then
// forward in the file, stopping at its end.
void SkipJpegBytes(JpegFileReader* reader, std::size_t count);

// Passes over the rest of a scan's entropy-coded data without decoding it. *next and *left are
// what the decoder has not yet taken of the block last handed over; they are moved to the marker
// that ends the scan, or to nothing left when the file ends first. Returns false when the file
// cannot be read.
bool PassScanData(JpegFileReader* reader, const unsigned char** next, std::size_t* left);

// Bytes of entropy-coded data in the file from its start, counted up to `enough`: what follows
// each start-of-scan header up to the next marker that is not a restart marker (restart markers
// and stuffed zeros are part of the scan). Other segments are skipped by their length; a file
// cut off inside a segment ends there. The holes of a sparse file are passed over and not
// counted.
long long EntropyCodedBytes(QIODevice& file, long long enough);

}  // namespace pictures
