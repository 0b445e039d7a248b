#pragma once
// The JPEG picture: decodes a JPEG file with libjpeg.

#include "pictures/picture.h"

#include <QByteArray>
#include <QIODevice>
#include <QSize>
#include <string>

namespace pictures {

enum class JpegPixelFormat { Bits24, Bits8 };

// The pixel format new JPEG pictures decode to; fixed once at start-up from the screen's depth.
JpegPixelFormat DefaultJpegPixelFormat();
void SetDefaultJpegPixelFormat(JpegPixelFormat format);
// 8-bit when the screen has 8 bits per pixel or fewer, else 24-bit.
JpegPixelFormat JpegPixelFormatForScreenDepth(int bitsPerPixelTimesPlanes);

// Decodes the file, read from its start in blocks as the decoder asks for them (file must be
// open for reading and able to seek): colour files to 24 bits per pixel (or 8 bits reduced to
// 236 colours with Bits8), greyscale files to 8 bits with 236 grey levels. Throws
// Failure(JpegErrorMessage(n)) on any decoder error, and the out-of-resources failure when the
// picture is too large to hold or its working set more than its data pays for (limits.h).
// With a cover size, decodes at the smallest of libjpeg's scales (1/8 to 1) at which the
// picture fitted into cover still fills it; the limits stay those of the full size. fullSize,
// when given, receives the picture's size from the file's header, even when decoding then
// fails.
Picture DecodeJpeg(QIODevice& file, JpegPixelFormat format = DefaultJpegPixelFormat(),
                   QSize cover = QSize(), QSize* fullSize = nullptr);
// The same for a file held in memory.
Picture DecodeJpeg(const QByteArray& file, JpegPixelFormat format = DefaultJpegPixelFormat(),
                   QSize cover = QSize(), QSize* fullSize = nullptr);

// The failure message for a decoder error code of the installed libjpeg: "JPEG エラー #n" with
// the code's number in the IJG library's release 6, or the out-of-resources message for a
// failed allocation.
std::string JpegErrorMessage(int decoderCode);

}  // namespace pictures
