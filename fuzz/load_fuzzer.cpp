// The game's whole load path by file name: the file is written to disk under a name chosen by
// the first byte, then read as the load command reads it, extension rule included.

#include "fuzz/fuzz_check.h"
#include "pictures/loading.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

// Names for each branch: the bitmap reader (".bmp" only), and the JPEG decoder for capitals,
// other extensions, none, and dots in folder names.
const char* const kNames[] = {
    "x.bmp", "X.BMP", "x.Bmp", "x.jpg", "x.jpeg", "x", "x.tar.bmp", "dir.bmp/x", "x.bmp.jpg", "x.",
};
constexpr std::size_t kNameCount = sizeof kNames / sizeof kNames[0];

const QString& WorkDir()
{
    static const QString dir = [] {
        const QString d = QDir::tempPath() + QStringLiteral("/mozario-fuzz-load-") + QString::number(getpid());
        QDir().mkpath(d + QStringLiteral("/dir.bmp"));
        return d;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QString path = WorkDir() + u'/' + QString::fromLatin1(kNames[data[0] % kNameCount]);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        if (file.write(reinterpret_cast<const char*>(data + 1), qint64(size - 1)) != qint64(size - 1))
            std::abort();
    }
    try {
        fuzz::CheckPicture(pictures::LoadPictureFile(path));
    } catch (const pictures::Failure&) {
    }
    QFile::remove(path);
    return 0;
}
