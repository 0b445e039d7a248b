// Feeds arbitrary bytes to the JPEG decoder in both pixel formats: it must decode them or refuse
// them with its message.

#include "fuzz/fuzz_check.h"
#include "pictures/jpeg_reader.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the pixel format; the rest is the file, seen through the fuzzer's
    // own buffer so a read past its end is caught.
    const auto format = data[0] & 1 ? pictures::JpegPixelFormat::Bits8 : pictures::JpegPixelFormat::Bits24;
    const QByteArray file = QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    try {
        fuzz::CheckPicture(pictures::DecodeJpeg(file, format));
    } catch (const pictures::Failure&) {
    }
    return 0;
}
