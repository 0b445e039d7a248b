#pragma once
// Stretched display: a picture scaled over a target area, each axis on its own.

#include "pictures/picture.h"

#include <QImage>

namespace pictures {

// The picture scaled to width x height pixels (Format_RGB32): each target pixel takes the
// nearest picture pixel (column floor(x * pictureWidth / width), likewise for rows), with no
// blending and nothing centred. A 1-bit picture that is shrunk keeps the first colour of its
// table wherever any of the merged pixels has it, and a colour the pen added to its table
// wherever any merged pixel has that. An empty picture gives a null image.
// The cost follows the target's size, except when shrinking a 1-bit picture, which reads
// every picture pixel once.
QImage StretchForDisplay(const Picture& picture, int width, int height);

}  // namespace pictures
