#include "pictures/picture.h"

#include "pictures/failure.h"
#include "pictures/limits.h"
#include "pictures/pixels.h"

#include <QHash>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include <malloc.h>
#include <sys/mman.h>

namespace pictures {

QRgb ToQRgb(Colour c)
{
    return qRgb(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

Colour FromQRgb(QRgb c)
{
    return Colour(qRed(c)) | (Colour(qGreen(c)) << 8) | (Colour(qBlue(c)) << 16);
}

namespace {

// The stored value of an opaque colour in a direct-colour format.
quint32 EncodeDirect(QImage::Format format, QRgb c)
{
    switch (format) {
    case QImage::Format_RGB555:
        return quint32(((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3));
    case QImage::Format_RGB16:
        return quint32(((qRed(c) >> 3) << 11) | ((qGreen(c) >> 2) << 5) | (qBlue(c) >> 3));
    default:
        return c | 0xFF000000u;  // BGR888 takes the low three bytes
    }
}

inline void WriteRaw(QImage::Format format, uchar* line, int x, quint32 raw)
{
    switch (format) {
    case QImage::Format_Indexed8:
        line[x] = uchar(raw);
        break;
    case QImage::Format_RGB555:
    case QImage::Format_RGB16:
        reinterpret_cast<quint16*>(line)[x] = quint16(raw);
        break;
    case QImage::Format_BGR888: {
        uchar* p = line + 3 * x;
        p[0] = uchar(raw);
        p[1] = uchar(raw >> 8);
        p[2] = uchar(raw >> 16);
        break;
    }
    default:
        reinterpret_cast<quint32*>(line)[x] = raw;
        break;
    }
}

void FillSpan(QImage::Format format, uchar* line, int from, int to, quint32 raw)
{
    if (format == QImage::Format_Indexed8) {
        std::memset(line + from, int(raw & 0xFF), size_t(to - from + 1));
        return;
    }
    for (int x = from; x <= to; ++x)
        WriteRaw(format, line, x, raw);
}

int BytesPerPixel(QImage::Format format)
{
    switch (format) {
    case QImage::Format_Indexed8: return 1;
    case QImage::Format_RGB555:
    case QImage::Format_RGB16: return 2;
    case QImage::Format_BGR888: return 3;
    default: return 4;
    }
}

using Wide = __int128;

// Whether the centre of pixel (px, py) lies within width / 2 of the segment a-b. Works in
// doubled coordinates so that pixel centres and the radius are integers and the test is exact.
bool InCapsule(qint64 ax, qint64 ay, qint64 bx, qint64 by, qint64 width, qint64 px, qint64 py)
{
    const Wide cx = 2 * px + 1, cy = 2 * py + 1;
    const Wide a2x = 2 * ax, a2y = 2 * ay, b2x = 2 * bx, b2y = 2 * by;
    const Wide dx = b2x - a2x, dy = b2y - a2y;
    const Wide r2 = Wide(width) * width;
    const Wide t = (cx - a2x) * dx + (cy - a2y) * dy;
    const Wide len2 = dx * dx + dy * dy;
    if (t <= 0 || len2 == 0)
        return (cx - a2x) * (cx - a2x) + (cy - a2y) * (cy - a2y) <= r2;
    if (t >= len2)
        return (cx - b2x) * (cx - b2x) + (cy - b2y) * (cy - b2y) <= r2;
    const Wide cross = (cx - a2x) * dy - (cy - a2y) * dx;
    return cross * cross <= r2 * len2;
}

}  // namespace

namespace {

constexpr std::uintptr_t kLargePage = std::uintptr_t(2) << 20;
// Pictures from this size on are camera-sized: their storage is kept and readied.
constexpr qint64 kKeptFrom = qint64(4 * kLargePage);

// The storage of large pictures that have been let go, kept for the next picture of the same
// size. A copy made as an exchange is redrawn then finds pages already in use: given back, the
// next copy would have to take pages never touched, which cost far more than the copy itself.
struct Storage {
    uchar* bytes;
    qsizetype size;
    qsizetype warmed = 0;  // bytes from the start already written once
};
constexpr auto kSparesKept = std::size_t(kCopiesReserved);

// Mapped on its own rather than taken from the heap: a picture then never fills a hole that a
// decoder's buffers left, which its next buffers would have reused in pages already in use.
uchar* FreshStorage(qsizetype size)
{
    void* bytes = mmap(nullptr, std::size_t(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (bytes == MAP_FAILED)
        return nullptr;
#ifdef MADV_HUGEPAGE
    // Only advice: where the system has no large pages the picture works as before.
    madvise(bytes, std::size_t(size), MADV_HUGEPAGE);
#endif
    return static_cast<uchar*>(bytes);
}

void FreeStorage(const Storage& storage)
{
    munmap(storage.bytes, std::size_t(storage.size));
}

// Never destroyed: the blocks it keeps stay reachable until the process ends.
std::vector<Storage>& Spares()
{
    static auto* spares = new std::vector<Storage>;
    return *spares;
}

void KeepOrFree(void* info)
{
    auto* storage = static_cast<Storage*>(info);
    std::vector<Storage>& spares = Spares();
    if (spares.size() < kSparesKept)
        spares.push_back({storage->bytes, storage->size, storage->size});
    else
        FreeStorage(*storage);
    delete storage;
}

// Spares of other sizes go back to the system: pictures of one size at a time are in use.
void FreeSparesNotOfSize(qsizetype size)
{
    std::vector<Storage>& spares = Spares();
    std::erase_if(spares, [size](const Storage& spare) {
        if (spare.size == size)
            return false;
        FreeStorage(spare);
        return true;
    });
}

// The warmest spare of exactly this size, or fresh storage.
uchar* TakeStorage(qsizetype size)
{
    FreeSparesNotOfSize(size);
    std::vector<Storage>& spares = Spares();
    const auto warmest = std::max_element(spares.begin(), spares.end(),
                                          [](const Storage& a, const Storage& b) { return a.warmed < b.warmed; });
    if (warmest == spares.end())
        return FreshStorage(size);
    uchar* taken = warmest->bytes;
    spares.erase(warmest);
    return taken;
}

// Rows padded to 32 bits, as the toolkit lays them out itself; 0 when a row would not fit an int.
qint64 BytesPerLine(int width, QImage::Format format)
{
    const qint64 bytes = width > 0 ? (qint64(width) * BytesPerPixel(format) + 3) / 4 * 4 : 0;
    return bytes > std::numeric_limits<int>::max() ? 0 : bytes;
}

}  // namespace

QImage NewImage(int width, int height, QImage::Format format)
{
    const qint64 bytesPerLine = BytesPerLine(width, format);
    if (height <= 0 || bytesPerLine == 0)
        return QImage(width, height, format);
    const qint64 size = bytesPerLine * height;  // below 2^62: no overflow
    if (size < kKeptFrom)
        return QImage(width, height, format);
    uchar* bytes = TakeStorage(qsizetype(size));
    if (!bytes)
        return QImage();
    auto* storage = new Storage{bytes, qsizetype(size)};
    QImage image(bytes, width, height, qsizetype(bytesPerLine), format, KeepOrFree, storage);
    if (image.isNull()) {
        KeepOrFree(storage);
        return QImage();
    }
    return image;
}

void ReserveStorage(int width, int height, QImage::Format format, int blocks)
{
    const std::size_t wanted = std::min(std::size_t(std::max(blocks, 0)), kSparesKept);
    const qint64 size = BytesPerLine(width, format) * std::max(height, 0);
    if (size < kKeptFrom)
        return;  // small pictures take no spares: their pages come and go with the heap
    FreeSparesNotOfSize(qsizetype(size));
    std::vector<Storage>& spares = Spares();
    while (spares.size() < wanted) {
        uchar* bytes = FreshStorage(qsizetype(size));
        if (!bytes)
            return;  // no memory to spare: the copies will ask when they are made
        spares.push_back({bytes, qsizetype(size)});
    }
}

void GiveBackFreeMemory()
{
    malloc_trim(0);
}

void PrepareHeapForLargeBlock(qsizetype bytes)
{
#ifdef MADV_HUGEPAGE
    if (bytes < kKeptFrom)
        return;
    // The block is taken and handed straight back: the heap keeps it, and the buffers asked for
    // next are cut from it, now with the advice on its pages. Room is left for the smaller
    // allocations that come first.
    const std::size_t size = std::size_t(bytes) + 2 * kLargePage;
    void* block = std::malloc(size);
    if (!block)
        return;
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(kLargePage - 1);
    madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    std::free(block);
#else
    (void)bytes;
#endif
}

bool WarmStorage(qsizetype budget)
{
    std::vector<Storage>& spares = Spares();
    for (Storage& spare : spares) {
        const qsizetype slice = std::min(budget, spare.size - spare.warmed);
        if (slice <= 0)
            continue;
        std::memset(spare.bytes + spare.warmed, 0, std::size_t(slice));
        spare.warmed += slice;
        budget -= slice;
    }
    return std::any_of(spares.begin(), spares.end(), [](const Storage& s) { return s.warmed < s.size; });
}

Picture::Picture(QImage image, int bitsPerPixel)
{
    if (image.isNull())
        return;
    switch (image.format()) {
    case QImage::Format_Indexed8:
        bits_ = (bitsPerPixel == 1 || bitsPerPixel == 4) ? bitsPerPixel : 8;
        break;
    case QImage::Format_RGB555:
    case QImage::Format_RGB16:
        bits_ = 16;
        break;
    case QImage::Format_BGR888:
        bits_ = 24;
        break;
    case QImage::Format_RGB32:
        bits_ = 32;
        break;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        image = image.convertToFormat(QImage::Format_Indexed8);
        bits_ = 1;
        break;
    case QImage::Format_RGB888:
        image = image.convertToFormat(QImage::Format_BGR888);
        bits_ = 24;
        break;
    default:
        image = image.convertToFormat(QImage::Format_RGB32);
        bits_ = 32;
        break;
    }
    if (image.isNull())
        throw Failure(kOutOfResources);
    image_ = std::move(image);
}

Picture::Picture(const Picture& other) : image_(other.image_), bits_(other.bits_) {}

Picture& Picture::operator=(const Picture& other)
{
    image_ = other.image_;
    bits_ = other.bits_;
    state_ = DrawingState{};
    return *this;
}

Picture Picture::Blank(int width, int height)
{
    if (width <= 0 || height <= 0)
        return Picture();
    QImage image(width, height, QImage::Format_BGR888);
    if (image.isNull())
        throw Failure(kOutOfResources);
    image.fill(Qt::white);
    return Picture(std::move(image), 24);
}

Colour Picture::pixel(int x, int y) const
{
    if (isEmpty() || x < 0 || y < 0 || x >= width() || y >= height())
        return 0;
    return FromQRgb(ReadRgb(image_.format(), image_.colorTable(), image_.constScanLine(y), x));
}

void Picture::detachForWrite(const std::vector<Span>& overwritten)
{
    if (image_.isDetached())
        return;
    QImage own = NewImage(width(), height(), image_.format());
    if (own.isNull())
        throw Failure(kOutOfResources);
    own.setColorTable(image_.colorTable());
    // Each row takes the old bytes outside the areas about to be overwritten: a composition
    // over the whole grid writes every byte once, not twice.
    const qsizetype rowBytes = image_.bytesPerLine();
    const qsizetype bpp = BytesPerPixel(image_.format());
    std::vector<std::pair<qsizetype, qsizetype>> covered;
    for (int y = 0; y < height(); ++y) {
        covered.clear();
        for (const Span& s : overwritten) {
            if (y >= s.area.top() && y <= s.area.bottom())
                covered.push_back({s.area.left() * bpp, (s.area.right() + 1) * bpp});
        }
        std::sort(covered.begin(), covered.end());
        const uchar* from = image_.constScanLine(y);
        uchar* to = own.scanLine(y);
        qsizetype next = 0;  // the first byte not yet taken or covered
        covered.push_back({rowBytes, rowBytes});
        for (const auto& [begin, end] : covered) {
            if (begin > next)
                std::memcpy(to + next, from + next, size_t(begin - next));
            next = std::max(next, end);
        }
    }
    image_ = std::move(own);
}

void Picture::widenToRgb32()
{
    // Four bytes a pixel can take an 8-bit picture past what one picture may hold.
    if (BitmapRowBytes(width(), 32) * height() > kMaxPictureBytes)
        throw Failure(kOutOfResources);
    QImage wide = image_.convertToFormat(QImage::Format_RGB32);
    if (wide.isNull())
        throw Failure(kOutOfResources);
    image_ = std::move(wide);
    bits_ = 32;
}

int Picture::tableIndexFor(QRgb colour)
{
    QList<QRgb> table = image_.colorTable();
    for (int i = 0; i < table.size(); ++i) {
        if ((table[i] & 0x00FFFFFFu) == (colour & 0x00FFFFFFu))
            return i;
    }
    if (table.size() >= 256)
        return -1;
    table.append(colour | 0xFF000000u);
    image_.setColorTable(table);
    // A two-colour picture stays one: its display rule looks only at its own first entry, so
    // frames drawn on it keep the picture's look. Other depths grow with their table.
    if (bits_ != 1 && table.size() > (1 << bits_))
        bits_ = 8;
    return int(table.size()) - 1;
}

quint32 Picture::rawColourFor(QRgb colour)
{
    if (image_.format() == QImage::Format_Indexed8) {
        const int index = tableIndexFor(colour);
        if (index >= 0)
            return quint32(index);
        widenToRgb32();
    }
    return EncodeDirect(image_.format(), colour);
}

void Picture::lineTo(int x, int y)
{
    const QPoint from = state_.penPos;
    state_.penPos = QPoint(x, y);
    if (isEmpty())
        return;

    const qint64 x0 = from.x(), y0 = from.y(), x1 = x, y1 = y;
    const qint64 w = width(), h = height();
    const int penWidth = std::max(1, state_.penWidth);

    // A band of the pen's width around the segment with round ends: the pixels whose centre
    // lies within half the width of the segment.
    const double r = penWidth / 2.0;
    const qint64 rowFrom = std::max<qint64>(0, std::min(y0, y1) - penWidth / 2 - 1);
    const qint64 rowTo = std::min<qint64>(h - 1, std::max(y0, y1) + penWidth / 2 + 1);
    const qint64 boxLeft = std::max<qint64>(0, std::min(x0, x1) - penWidth / 2 - 1);
    const qint64 boxRight = std::min<qint64>(w - 1, std::max(x0, x1) + penWidth / 2 + 1);
    if (rowFrom > rowTo || boxLeft > boxRight)
        return;

    detachForWrite();
    const quint32 raw = rawColourFor(ToQRgb(state_.penColour));
    const QImage::Format format = image_.format();
    const double dx = double(x1 - x0), dy = double(y1 - y0);
    const double halfSpan = dy != 0 ? r * std::sqrt(dx * dx + dy * dy) / std::fabs(dy) : 0;
    for (qint64 py = rowFrom; py <= rowTo; ++py) {
        // Candidates: the infinite band's extent on this row, within the bounding box. The exact
        // test below decides each pixel, so this only has to include every covered one.
        qint64 left = boxLeft, right = boxRight;
        if (dy != 0) {
            const double centre = double(x0) + (double(py) + 0.5 - double(y0)) * dx / dy;
            left = std::max<qint64>(left, qint64(std::floor(centre - halfSpan - 1.0)));
            right = std::min<qint64>(right, qint64(std::ceil(centre + halfSpan + 1.0)));
        }
        while (left <= right && !InCapsule(x0, y0, x1, y1, penWidth, left, py))
            ++left;
        while (right >= left && !InCapsule(x0, y0, x1, y1, penWidth, right, py))
            --right;
        if (left <= right)
            FillSpan(format, image_.scanLine(int(py)), int(left), int(right), raw);
    }
}

void Picture::copyRect(const QRect& dst, const Picture& src, const QRect& srcRect)
{
    copyRects({{dst, srcRect}}, src);
}

void Picture::copyRects(const std::vector<RectCopy>& copies, const Picture& src)
{
    if (isEmpty() || src.isEmpty())
        return;

    // A copy within one picture reads from a snapshot of each source rectangle, so overlapping
    // rectangles copy as if read before any write.
    if (&src == this) {
        for (const RectCopy& c : copies) {
            const QRect visible = c.src & image_.rect();
            if (visible.isEmpty())
                continue;
            QImage part = image_.copy(visible);
            if (part.isNull())
                throw Failure(kOutOfResources);
            const Picture snapshot(std::move(part), bits_);
            copyRects({{c.dst, c.src.translated(-visible.topLeft())}}, snapshot);
        }
        return;
    }

    const QImage& from = src.image_;
    const bool sameStorage = from.format() == image_.format()
        && (image_.format() != QImage::Format_Indexed8 || from.colorTable() == image_.colorTable());
    // Equal sizes in the same storage copy exactly, row by row: consecutive ones are gathered
    // and streamed together. Anything else is converted pixel by pixel, in its turn.
    std::vector<Span> spans;
    for (const RectCopy& c : copies) {
        if (c.dst.width() <= 0 || c.dst.height() <= 0 || c.src.width() <= 0 || c.src.height() <= 0)
            continue;
        if (sameStorage && c.dst.size() == c.src.size()) {
            // Corresponding pixels keep their offset; clip both rectangles through it.
            const QPoint shift = c.dst.topLeft() - c.src.topLeft();
            const QRect area = c.dst & image_.rect() & (c.src & from.rect()).translated(shift);
            if (!area.isEmpty())
                spans.push_back({area, shift});
            continue;
        }
        copySpans(spans, from);
        spans.clear();
        copyConverting(c.dst, src, c.src);
    }
    copySpans(spans, from);
}

void Picture::copySpans(const std::vector<Span>& spans, const QImage& from)
{
    if (spans.empty())
        return;
    detachForWrite(spans);
    const size_t bpp = size_t(BytesPerPixel(image_.format()));
    // Consecutive spans over the same rows form a band (the cells of one grid row); within a
    // band every destination row is written left to right before the next, so a composition
    // streams through memory the way a single copy of the picture would.
    for (size_t first = 0; first < spans.size();) {
        size_t end = first + 1;
        while (end < spans.size() && spans[end].area.top() == spans[first].area.top()
               && spans[end].area.height() == spans[first].area.height())
            ++end;
        for (int y = spans[first].area.top(); y <= spans[first].area.bottom(); ++y) {
            uchar* line = image_.scanLine(y);
            for (size_t i = first; i < end; ++i) {
                const Span& s = spans[i];
                const uchar* source = from.constScanLine(y - s.shift.y()) + size_t(s.area.left() - s.shift.x()) * bpp;
                std::memcpy(line + size_t(s.area.left()) * bpp, source, size_t(s.area.width()) * bpp);
            }
        }
        first = end;
    }
}

void Picture::copyConverting(const QRect& dst, const Picture& src, const QRect& srcRect)
{
    const QImage& from = src.image_;
    const QRect area = dst & image_.rect();
    if (area.isEmpty())
        return;
    const qint64 dw = dst.width(), dh = dst.height(), sw = srcRect.width(), sh = srcRect.height();
    std::vector<int> columns(size_t(area.width()));
    for (int x = area.left(); x <= area.right(); ++x)
        columns[size_t(x - area.left())] = srcRect.left() + int(qint64(x - dst.left()) * sw / dw);
    std::vector<int> rows(size_t(area.height()));
    for (int y = area.top(); y <= area.bottom(); ++y)
        rows[size_t(y - area.top())] = srcRect.top() + int(qint64(y - dst.top()) * sh / dh);
    const QList<QRgb> srcTable = from.colorTable();
    const QImage::Format srcFormat = from.format();
    const qint64 srcW = from.width(), srcH = from.height();

    detachForWrite();

    // An indexed destination first gains entries for every colour it is about to receive;
    // when they do not fit in 256 entries it becomes a 32-bit picture instead.
    QHash<QRgb, quint32> indexOf;
    if (image_.format() == QImage::Format_Indexed8) {
        bool fits = true;
        for (size_t j = 0; j < rows.size() && fits; ++j) {
            if (rows[j] < 0 || rows[j] >= srcH)
                continue;
            const uchar* line = from.constScanLine(rows[j]);
            for (int sx : columns) {
                if (sx < 0 || sx >= srcW)
                    continue;
                const QRgb c = ReadRgb(srcFormat, srcTable, line, sx);
                if (indexOf.contains(c))
                    continue;
                const int index = tableIndexFor(c);
                if (index < 0) {
                    fits = false;
                    break;
                }
                indexOf.insert(c, quint32(index));
            }
        }
        if (!fits) {
            widenToRgb32();
            indexOf.clear();
        }
    }

    const QImage::Format format = image_.format();
    const bool indexed = format == QImage::Format_Indexed8;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const int sy = rows[size_t(y - area.top())];
        if (sy < 0 || sy >= srcH)
            continue;
        const uchar* line = from.constScanLine(sy);
        uchar* out = image_.scanLine(y);
        for (int x = area.left(); x <= area.right(); ++x) {
            const int sx = columns[size_t(x - area.left())];
            if (sx < 0 || sx >= srcW)
                continue;
            const QRgb c = ReadRgb(srcFormat, srcTable, line, sx);
            WriteRaw(format, out, x, indexed ? indexOf.value(c) : EncodeDirect(format, c));
        }
    }
}

}  // namespace pictures
