#pragma once
// The pictures the benchmark works on: the tests' photo-like colour picture (gradients, a coarse
// pattern, noise), the same in every storage format, and the files written from it.

#include "pictures/picture.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace bench {

// A photo-like picture, Format_BGR888. `variant` changes the scene, so two variants of one
// size differ in their pixels.
QImage PhotoLike(int width, int height, int variant = 0);

// The photo in the storage format for 1, 4, 8, 16, 24 or 32 bits per pixel.
pictures::Picture InFormat(const QImage& photo, int bitsPerPixel);

// Files: JPEG at quality 90 with 4:2:0 sampling (colour) or one component (greyscale),
// and a bottom-up 24-bit bitmap.
QByteArray EncodeJpeg(const QImage& photo, bool greyscale);
QByteArray EncodeBitmap24(const QImage& photo);

}  // namespace bench
