#pragma once
// The JPEG picture: decodes a JPEG file held in memory with libjpeg.

#include "pictures/picture.h"

#include <QByteArray>

namespace pictures {

enum class JpegPixelFormat { Bits24, Bits8 };

// The pixel format new JPEG pictures decode to; fixed once at start-up from the screen's depth.
JpegPixelFormat DefaultJpegPixelFormat();
void SetDefaultJpegPixelFormat(JpegPixelFormat format);
// 8-bit when the screen has 8 bits per pixel or fewer, else 24-bit.
JpegPixelFormat JpegPixelFormatForScreenDepth(int bitsPerPixelTimesPlanes);

// Decodes the file: colour files to 24 bits per pixel (or 8 bits reduced to 236 colours with
// Bits8), greyscale files to 8 bits with 236 grey levels. Throws Failure("JPEG エラー #n") on
// any decoder error, and the out-of-resources failure when the picture is too large to hold.
Picture DecodeJpeg(const QByteArray& file, JpegPixelFormat format = DefaultJpegPixelFormat());

}  // namespace pictures
