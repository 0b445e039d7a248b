#include "pictures/loading.h"

#include "pictures/bmp_reader.h"
#include "pictures/failure.h"
#include "pictures/limits.h"
#include "pictures/jpeg_reader.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictures {
namespace {

[[noreturn]] void CannotOpen(const QString& path)
{
    throw Failure("ファイル " + path.toStdString() + " は開けません");
}

// The name is opened first and what was opened is checked: a name checked and then opened
// could be switched in between. The open does not wait (a pipe's would, for a writer), and only
// a regular file is read: a folder opens on some systems, and devices and pipes never end.
void OpenForReading(QFile& file, const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        CannotOpen(path);
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)
        || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0
        || !file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        CannotOpen(path);
    }
}

// The JPEG decoder reads the open file as it goes, so a file of any size costs only what its
// picture costs.
Picture DecodeJpegFile(const QString& path, QSize cover = QSize(), QSize* fullSize = nullptr)
{
    QFile file;
    OpenForReading(file, path);
    return DecodeJpeg(file, DefaultJpegPixelFormat(), cover, fullSize);
}

std::vector<PictureFormat>& Registry()
{
    static std::vector<PictureFormat> formats = {
        {"wmf", PictureKind::Metafile},
        {"emf", PictureKind::Metafile},
        {"ico", PictureKind::Icon},
        {"bmp", PictureKind::Bitmap},
    };
    return formats;
}

}  // namespace

std::string ExtensionOf(const std::string& name)
{
    // Names are UTF-8: every byte of a multi-byte character is 0x80 or above, so none can be
    // taken for a dot or a separator.
    const std::string::size_type at = name.find_last_of("./\\:");
    if (at == std::string::npos || name[at] != '.')
        return std::string();
    return name.substr(at);
}

Picture LoadPictureFile(const QString& path)
{
    // Only the exact lower-case ".bmp" goes to the general loader, and so to the bitmap reader;
    // everything else, capitals included, is taken for a JPEG file.
    if (ExtensionOf(path.toStdString()) == ".bmp")
        return LoadRegisteredPicture(path);
    return DecodeJpegFile(path);
}

Picture LoadRegisteredPicture(const QString& path, QSize cover, QSize* fullSize)
{
    const PictureFormat* format = FindPictureFormat(ExtensionOf(path.toStdString()));
    Picture picture;
    if (!format)
        return picture;
    switch (format->kind) {
    case PictureKind::Jpeg:
        return DecodeJpegFile(path, cover, fullSize);
    case PictureKind::Bitmap: {
        // The reader reads its own blocks: none of the device's buffering.
        QFile file;
        OpenForReading(file, path);
        picture = ReadBitmapFrom(file);
        break;
    }
    case PictureKind::Icon: {
        QFile file;
        OpenForReading(file, path);
        QImageReader reader(&file, "ico");
        reader.setAutoDetectImageFormat(false);
        QImage icon;
        if (!reader.read(&icon))
            throw Failure(kBitmapInvalid);
        // The picture kinds here have no transparency: transparent parts show white.
        QImage opaque(icon.size(), QImage::Format_RGB32);
        opaque.fill(Qt::white);
        QPainter(&opaque).drawImage(0, 0, icon);
        picture = Picture(std::move(opaque), 32);
        break;
    }
    case PictureKind::Metafile:
        break;  // no maintained metafile renderer on the platform
    }
    if (fullSize)
        *fullSize = QSize(picture.width(), picture.height());
    return picture;
}

void RegisterJpegFormats()
{
    std::vector<PictureFormat>& formats = Registry();
    const bool present = std::any_of(formats.begin(), formats.end(), [](const PictureFormat& f) {
        return f.kind == PictureKind::Jpeg;
    });
    if (present)
        return;
    formats.push_back({"jpeg", PictureKind::Jpeg});
    formats.push_back({"jpg", PictureKind::Jpeg});
}

void UnregisterJpegFormats()
{
    std::vector<PictureFormat>& formats = Registry();
    std::erase_if(formats, [](const PictureFormat& f) { return f.kind == PictureKind::Jpeg; });
}

const std::vector<PictureFormat>& PictureFormats()
{
    return Registry();
}

const PictureFormat* FindPictureFormat(const std::string& extension)
{
    std::string key = extension;
    if (!key.empty() && key.front() == '.')
        key.erase(0, 1);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) {
        return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c);
    });
    const std::vector<PictureFormat>& formats = PictureFormats();
    for (auto it = formats.rbegin(); it != formats.rend(); ++it) {
        if (it->extension == key)
            return &*it;
    }
    return nullptr;
}

}  // namespace pictures
