#include "pictures/display.h"

#include <algorithm>
#include <array>
#include <vector>

namespace pictures {

namespace {

inline QRgb Expand555(quint16 v)
{
    const int r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
    return qRgb((r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
}

inline QRgb Expand565(quint16 v)
{
    const int r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
    return qRgb((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2));
}

// The nearest source index for each target index, and the first past the source pixels that
// merge into it (at least one).
void Sample(int source, int target, std::vector<int>& nearest, std::vector<int>& mergedEnd)
{
    nearest.resize(size_t(target));
    mergedEnd.resize(size_t(target));
    for (int t = 0; t < target; ++t) {
        const int first = int(qint64(t) * source / target);
        const int end = int(qint64(t + 1) * source / target);
        nearest[size_t(t)] = first;
        mergedEnd[size_t(t)] = std::max(end, first + 1);
    }
}

}  // namespace

QImage StretchForDisplay(const Picture& picture, int width, int height)
{
    if (picture.isEmpty() || width <= 0 || height <= 0)
        return QImage();
    const QImage& image = picture.image();
    const int pw = image.width(), ph = image.height();

    // Painting cannot report a failure; a target too large to allocate simply shows nothing.
    QImage out(width, height, QImage::Format_RGB32);
    if (out.isNull())
        return QImage();

    std::vector<int> columns, columnsEnd, rows, rowsEnd;
    Sample(pw, width, columns, columnsEnd);
    Sample(ph, height, rows, rowsEnd);

    switch (image.format()) {
    case QImage::Format_Indexed8: {
        std::array<QRgb, 256> lut;
        lut.fill(qRgb(0, 0, 0));
        const QList<QRgb> table = image.colorTable();
        for (int i = 0; i < table.size() && i < 256; ++i)
            lut[size_t(i)] = table[i] | 0xFF000000u;

        const bool shrinkX = pw > width, shrinkY = ph > height;
        if (picture.bitsPerPixel() == 1 && (shrinkX || shrinkY)) {
            // Shrinking a two-colour picture keeps the first table colour wherever any of the
            // merged pixels has it, so thin dark lines on a light ground do not vanish; a colour
            // the pen added (a frame) wins over both, the latest added first. Every pixel
            // counts, so each band of merged rows is folded once into its smallest and largest
            // index per column (loops the compiler vectorises).
            std::vector<uchar> bandMin(static_cast<size_t>(pw)), bandMax(static_cast<size_t>(pw));
            for (int y = 0; y < height; ++y) {
                QRgb* d = reinterpret_cast<QRgb*>(out.scanLine(y));
                const int rowFrom = rows[size_t(y)];
                const int rowEnd = shrinkY ? rowsEnd[size_t(y)] : rowFrom + 1;
                const uchar* first = image.constScanLine(rowFrom);
                std::copy(first, first + pw, bandMin.begin());
                std::copy(first, first + pw, bandMax.begin());
                for (int sy = rowFrom + 1; sy < rowEnd; ++sy) {
                    const uchar* s = image.constScanLine(sy);
                    uchar* lo = bandMin.data();
                    uchar* hi = bandMax.data();
                    for (int sx = 0; sx < pw; ++sx) {
                        lo[sx] = std::min(lo[sx], s[sx]);
                        hi[sx] = std::max(hi[sx], s[sx]);
                    }
                }
                for (int x = 0; x < width; ++x) {
                    const int colFrom = columns[size_t(x)];
                    const int colEnd = shrinkX ? columnsEnd[size_t(x)] : colFrom + 1;
                    uchar lo = 255, hi = 0;
                    for (int sx = colFrom; sx < colEnd; ++sx) {
                        lo = std::min(lo, bandMin[size_t(sx)]);
                        hi = std::max(hi, bandMax[size_t(sx)]);
                    }
                    d[x] = lut[hi > 1 ? hi : lo];
                }
            }
            break;
        }
        for (int y = 0; y < height; ++y) {
            const uchar* s = image.constScanLine(rows[size_t(y)]);
            QRgb* d = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < width; ++x)
                d[x] = lut[s[columns[size_t(x)]]];
        }
        break;
    }
    case QImage::Format_RGB555:
    case QImage::Format_RGB16: {
        const bool is555 = image.format() == QImage::Format_RGB555;
        for (int y = 0; y < height; ++y) {
            const quint16* s = reinterpret_cast<const quint16*>(image.constScanLine(rows[size_t(y)]));
            QRgb* d = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const quint16 v = s[columns[size_t(x)]];
                d[x] = is555 ? Expand555(v) : Expand565(v);
            }
        }
        break;
    }
    case QImage::Format_BGR888:
        for (int y = 0; y < height; ++y) {
            const uchar* s = image.constScanLine(rows[size_t(y)]);
            QRgb* d = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const uchar* p = s + 3 * columns[size_t(x)];
                d[x] = qRgb(p[2], p[1], p[0]);
            }
        }
        break;
    case QImage::Format_RGB32:
        for (int y = 0; y < height; ++y) {
            const QRgb* s = reinterpret_cast<const QRgb*>(image.constScanLine(rows[size_t(y)]));
            QRgb* d = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < width; ++x)
                d[x] = s[columns[size_t(x)]] | 0xFF000000u;
        }
        break;
    default:
        for (int y = 0; y < height; ++y) {
            QRgb* d = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < width; ++x)
                d[x] = image.pixel(columns[size_t(x)], rows[size_t(y)]) | 0xFF000000u;
        }
        break;
    }
    return out;
}

}  // namespace pictures
