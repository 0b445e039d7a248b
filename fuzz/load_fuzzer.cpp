// The game's whole load path by file name: the file is written to disk under a name chosen by
// the first byte, then read as the load command reads it, extension rule included.

#include "fuzz/fuzz_check.h"
#include "pictures/loading.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Names for each branch: the bitmap reader (".bmp" only), and the JPEG decoder for capitals,
// other extensions, none, and dots in folder names.
const char* const kNames[] = {
    "x.bmp", "X.BMP", "x.Bmp", "x.jpg", "x.jpeg", "x", "x.tar.bmp", "dir.bmp/x", "x.bmp.jpg", "x.",
};
constexpr std::size_t kNameCount = sizeof kNames / sizeof kNames[0];

const QString& WorkDir()
{
    // Removed with what is in it when the run ends, so runs leave no folders behind.
    static const QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/mozario-fuzz-load-XXXXXX"));
    static const QString path = [] {
        if (!dir.isValid() || !QDir().mkpath(dir.path() + QStringLiteral("/dir.bmp")))
            std::abort();
        return dir.path();
    }();
    return path;
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
