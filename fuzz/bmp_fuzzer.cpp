// Feeds arbitrary bytes to the bitmap reader: it must read them or refuse them with its message.

#include "fuzz/fuzz_check.h"
#include "pictures/bmp_reader.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The reader sees exactly the fuzzer's buffer, so a read past its end is caught.
    const QByteArray file = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        fuzz::CheckPicture(pictures::ReadBitmap(file));
    } catch (const pictures::Failure&) {
    }
    return 0;
}
