#pragma once
// Reading a picture file chosen by the player, and the picture-format registry.

#include "pictures/picture.h"

#include <QByteArray>
#include <QString>
#include <string>
#include <vector>

namespace pictures {

// The whole file in memory. Throws Failure("ファイル <name> は開けません") when it cannot be
// opened for reading (missing, a folder, no permission).
QByteArray ReadWholeFile(const QString& path);

// The extension of a file name: from the last "." to the end, dot included, when the last
// "." or path separator ("/", "\", ":") found from the end is a "."; otherwise empty.
std::string ExtensionOf(const std::string& name);

// Reads the file the player chose into a new picture: names whose extension is exactly
// ".bmp" go to the bitmap reader, every other name to the JPEG decoder.
Picture LoadPictureFile(const QString& path);

// The picture-format registry of the general picture loader.
enum class PictureKind { Metafile, Icon, Bitmap, Jpeg };
struct PictureFormat {
    std::string extension;    // without the dot, lower case
    std::string description;
    PictureKind kind;
};
// The entries, in the order they were added.
const std::vector<PictureFormat>& RegisteredFormats();
// Adds "jpeg" and "jpg"; run once at start-up. UnregisterJpegFormats removes them again.
void RegisterJpegFormats();
void UnregisterJpegFormats();
// Looks an extension up (with or without its dot, any case), the most recently added first.
const PictureFormat* FindPictureFormat(const std::string& extension);

}  // namespace pictures
