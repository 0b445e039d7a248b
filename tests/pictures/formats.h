#pragma once
// The pixel formats a picture can have, and a test picture in each, for tests that run over
// every one of them.

#include "pictures/picture.h"

#include <QImage>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

struct FormatCase {
    const char* name;
    int bits;
    QImage::Format format;
};

inline void PrintTo(const FormatCase& f, std::ostream* os) { *os << f.name; }

inline std::string FormatName(const testing::TestParamInfo<FormatCase>& info) { return info.param.name; }

// 1-bit first: tests that treat two-colour pictures apart start after it.
inline const FormatCase kFormats[] = {
    {"Bits1", 1, QImage::Format_Indexed8},
    {"Bits4", 4, QImage::Format_Indexed8},
    {"Bits8", 8, QImage::Format_Indexed8},
    {"Bits16x555", 16, QImage::Format_RGB555},
    {"Bits16x565", 16, QImage::Format_RGB16},
    {"Bits24", 24, QImage::Format_BGR888},
    {"Bits32", 32, QImage::Format_RGB32},
};

inline QVector<QRgb> TableFor(int bits)
{
    if (bits == 1)
        return {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    const int n = bits == 4 ? 16 : 200;
    QVector<QRgb> table;
    for (int i = 0; i < n; ++i)
        table.append(qRgb(i * (256 / n), (i * 3) & 0xFF, 128));
    return table;
}

// A picture whose neighbouring pixels differ, so a pixel taken from the wrong place shows.
// Pictures of one format made with different seeds share their colour table.
inline pictures::Picture MakePicture(const FormatCase& f, int w, int h, int seed = 0)
{
    QImage image(w, h, f.format);
    if (f.format == QImage::Format_Indexed8) {
        const QVector<QRgb> table = TableFor(f.bits);
        image.setColorTable(table);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.scanLine(y)[x] = uchar((x + 3 * y + seed) % table.size());
    } else {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.setPixel(x, y, qRgb((x * 8 + seed * 40) & 0xF8, (y * 8) & 0xF8, ((x + y) * 8 + 64) & 0xF8));
    }
    return pictures::Picture(image, f.bits);
}
