#pragma once
// Reading a picture file chosen by the player, and the picture-format registry.

#include "pictures/picture.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <string>
#include <vector>

namespace pictures {

// The extension of a file name: from the last "." to the end, dot included, when the last
// "." or path separator ("/", "\", ":") found from the end is a "."; otherwise empty.
std::string ExtensionOf(const std::string& name);

// Reads the file the player chose into a new picture: names whose extension is exactly
// ".bmp" go to the general picture loader, every other name to the JPEG decoder.
Picture LoadPictureFile(const QString& path);

// The picture-format registry of the general picture loader.
enum class PictureKind { Metafile, Icon, Bitmap, Jpeg };
struct PictureFormat {
    std::string extension;  // without the dot, lower case
    PictureKind kind;
};
// Adds "jpeg" and "jpg"; run once at start-up. UnregisterJpegFormats removes them again.
void RegisterJpegFormats();
void UnregisterJpegFormats();
// The registry's entries, oldest first.
const std::vector<PictureFormat>& PictureFormats();
// Looks an extension up (with or without its dot, any case), the most recently added first.
const PictureFormat* FindPictureFormat(const std::string& extension);

// The general picture loader: reads the file with the reader of its extension's registry entry
// (the program's bitmap reader, its JPEG decoder, or the toolkit's icon reader). Returns an
// empty picture when the extension is not registered or its kind has no reader here
// (metafiles); throws the reader's Failure otherwise. cover and fullSize go to DecodeJpeg for
// JPEG files; for the others the picture is read whole and fullSize, when given, receives its
// size.
Picture LoadRegisteredPicture(const QString& path, QSize cover = QSize(), QSize* fullSize = nullptr);

}  // namespace pictures
