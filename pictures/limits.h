#pragma once
// How large a picture a file may make the readers build: the size policy every reader applies
// before it allocates pixels.

namespace pictures {

// Bytes one row of a bitmap takes: rows are padded to 32 bits, in files and in QImage alike.
inline long long BitmapRowBytes(long long width, int bitsPerPixel)
{
    return (width * bitsPerPixel + 31) / 32 * 4;
}

// Largest pixel storage one picture may take. A picture lives up to three times at once
// (source, work and board), so this keeps the worst case near 3 GiB while leaving room for
// photos far beyond today's cameras (a 24-bit 100-megapixel picture takes 300 MiB).
inline constexpr long long kMaxPictureBytes = 1LL << 30;
inline constexpr int kMaxPictureSide = 65535;

// What a file's data pays for. Any file may make the readers build a working set (pixels,
// colour-reduction buffers, coefficients) of kFreeWorkingSet; beyond that each byte of coded
// data (a JPEG's entropy-coded scans, a bitmap's pixel data present in the file) pays for at
// most kWorkingSetPerDataByte more. Complete files stay far below the rate (a flat picture's
// JPEG about 1,300 bytes a byte, a photo's about 24), and so do copies cut off early (about ten
// times their complete rate). A few kilobytes claiming a huge picture do not: they get little
// beyond the free working set, about 100 MB in all. What the rule bounds is memory; the time a
// file takes grows with the picture it pays for (a 141 KB progressive file at the rule decodes
// for seconds). Arithmetic coding packs a flat picture without bound; such a file cannot be told
// from a made-up one, and beyond what its data pays for it is refused like one.
inline constexpr long long kFreeWorkingSet = 96LL << 20;
inline constexpr long long kWorkingSetPerDataByte = 16384;

inline bool DataJustifiesWorkingSet(long long workingSetBytes, long long dataBytes)
{
    return workingSetBytes <= kFreeWorkingSet
        || (workingSetBytes - kFreeWorkingSet) / kWorkingSetPerDataByte < dataBytes;
}

// Largest buffer of coefficients a multi-scan JPEG may make the decoder keep, two bytes a
// coefficient: a 4:4:4 progressive picture of about 270 megapixels, whose decoding then holds
// about 2.3 GiB with its pixels.
inline constexpr long long kMaxCoefficientBytes = 3LL << 29;

// Every scan of a JPEG is a pass over the coefficients of the components it codes, however
// little data it holds, so a small file of thousands of tiny scans can keep the decoder busy for
// minutes. All scans together may pass over kScanPassesPerCoefficient times the picture's
// coefficients (standard progressions take at most 6 passes, the longest scripts of common
// encoders about 100), and at least kFreeScannedCoefficients. Once a scan codes again what an
// earlier one has coded, the file is not one an encoder made: then only kFreeScannedCoefficients
// are allowed.
inline constexpr long long kScanPassesPerCoefficient = 128;
inline constexpr long long kFreeScannedCoefficients = 1LL << 30;

}  // namespace pictures
