#pragma once
// The bitmap file reader (Windows BMP).

#include "pictures/picture.h"

#include <QByteArray>

namespace pictures {

// Reads a whole bitmap file held in memory. Throws Failure with the player's message when the
// file cannot be read; builds nothing in that case.
Picture ReadBitmap(const QByteArray& file);

}  // namespace pictures
