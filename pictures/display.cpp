#include "pictures/display.h"

#include "pictures/pixels.h"

#include <algorithm>
#include <vector>

namespace pictures {

namespace {

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

    const QImage::Format format = image.format();
    const QList<QRgb> table = image.colorTable();
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
                d[x] = TableColour(table, hi > 1 ? hi : lo);
            }
        }
        return out;
    }
    for (int y = 0; y < height; ++y) {
        const uchar* s = image.constScanLine(rows[size_t(y)]);
        QRgb* d = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < width; ++x)
            d[x] = ReadRgb(format, table, s, columns[size_t(x)]);
    }
    return out;
}

}  // namespace pictures
