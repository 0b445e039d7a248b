#pragma once
// What every fuzz target checks of a picture a reader accepted: the limits hold, and each
// pixel of an indexed picture names an entry of its colour table.

#include "pictures/failure.h"
#include "pictures/limits.h"
#include "pictures/picture.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

[[noreturn]] inline void Broken(const char* what)
{
    std::fprintf(stderr, "broken picture: %s\n", what);
    std::abort();
}

inline void CheckPicture(const pictures::Picture& p)
{
    if (p.isEmpty())
        Broken("a reader returned an empty picture");
    if (p.width() < 1 || p.height() < 1 || p.width() > pictures::kMaxPictureSide
        || p.height() > pictures::kMaxPictureSide)
        Broken("size out of range");
    if (p.image().sizeInBytes() > pictures::kMaxPictureBytes)
        Broken("more pixel storage than the limit");
    const int bits = p.bitsPerPixel();
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        Broken("bits per pixel");
    const QImage& image = p.image();
    if (image.format() == QImage::Format_Indexed8) {
        const int entries = int(image.colorTable().size());
        if (entries < 1 || entries > 256)
            Broken("colour table size");
        for (int y = 0; entries < 256 && y < image.height(); ++y) {
            const uchar* row = image.constScanLine(y);
            for (int x = 0; x < image.width(); ++x)
                if (row[x] >= entries)
                    Broken("pixel index past the colour table");
        }
    }
    // One pixel through the public accessor, at the far corner.
    (void)p.pixel(p.width() - 1, p.height() - 1);
}

}  // namespace fuzz
