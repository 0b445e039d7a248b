#pragma once
// The bitmap file reader (Windows BMP).

#include "pictures/picture.h"

#include <QByteArray>
#include <QIODevice>

namespace pictures {

// Reads a bitmap file from a random-access device open for reading. Only the headers, the
// colour table and the pixel data are read, whatever follows them. Throws Failure with the
// player's message when the file cannot be read; builds nothing in that case.
Picture ReadBitmapFrom(QIODevice& file);
// The same for a file held in memory.
Picture ReadBitmap(const QByteArray& file);

}  // namespace pictures
