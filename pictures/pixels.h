#pragma once
// How each storage format of a picture (picture.h) holds one pixel: the one place that reads
// them, for the drawing operations and the display alike.

#include <QImage>
#include <QList>

namespace pictures {

// A colour table entry as an opaque QRgb. Indexes past the end of the table (possible in a
// damaged file) read as black.
inline QRgb TableColour(const QList<QRgb>& table, int index)
{
    return index < table.size() ? (table[index] | 0xFF000000u) : qRgb(0, 0, 0);
}

// One pixel of a row in any of the storage formats, as an opaque QRgb.
inline QRgb ReadRgb(QImage::Format format, const QList<QRgb>& table, const uchar* line, int x)
{
    const auto expand5 = [](int v) { return (v << 3) | (v >> 2); };
    const auto expand6 = [](int v) { return (v << 2) | (v >> 4); };
    switch (format) {
    case QImage::Format_Indexed8:
        return TableColour(table, line[x]);
    case QImage::Format_RGB555: {
        const quint16 v = reinterpret_cast<const quint16*>(line)[x];
        return qRgb(expand5((v >> 10) & 31), expand5((v >> 5) & 31), expand5(v & 31));
    }
    case QImage::Format_RGB16: {
        const quint16 v = reinterpret_cast<const quint16*>(line)[x];
        return qRgb(expand5((v >> 11) & 31), expand6((v >> 5) & 63), expand5(v & 31));
    }
    case QImage::Format_BGR888: {
        const uchar* p = line + 3 * x;
        return qRgb(p[2], p[1], p[0]);
    }
    default:
        return reinterpret_cast<const QRgb*>(line)[x] | 0xFF000000u;
    }
}

}  // namespace pictures
