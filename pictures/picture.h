#pragma once
// A picture: a bitmap of 1, 4, 8, 16, 24 or 32 bits per pixel with its drawing state.
//
// Pictures are values. Copying one is cheap: the pixels are shared until either side is
// written (copy-on-write through QImage's implicit sharing). A copy is a new picture, so it
// starts with a fresh drawing state; the drawing state of a picture survives the private copy
// of its pixels made by its first write.
//
// Pixel storage by bits per pixel:
//   1, 4, 8 -> QImage::Format_Indexed8 with a colour table of at most 2, 16, 256 entries
//   16      -> QImage::Format_RGB555 (x1r5g5b5) or QImage::Format_RGB16 (r5g6b5)
//   24      -> QImage::Format_BGR888 (bytes blue, green, red, as in bitmap files)
//   32      -> QImage::Format_RGB32 (bytes blue, green, red, unused)
// Rows are stored top-down.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QVector>
#include <cstdint>
#include <vector>

namespace pictures {

// Colours handed to the drawing operations are 0x00BBGGRR.
using Colour = std::uint32_t;
inline constexpr Colour kRed = 0x000000FF;
inline constexpr Colour kBlue = 0x00FF0000;
inline constexpr Colour kBlack = 0x00000000;

QRgb ToQRgb(Colour c);
Colour FromQRgb(QRgb c);

// Rectangle copies always replace the destination's pixels (source copy), so the drawing state
// holds only the pen.
struct DrawingState {
    Colour penColour = kBlack;
    int penWidth = 1;
    QPoint penPos{0, 0};
};

// A new image of the given size and format, its pixels not yet written (a null image when it
// cannot be allocated). A large one asks the system for large pages: the first write of a
// camera-sized picture then faults in a few hundred pages rather than tens of thousands, which
// is most of the cost of a picture's first write. Readers make their pictures with it too.
QImage NewImage(int width, int height, QImage::Format format);

// Keeps `blocks` (at most kCopiesReserved) of storage for pictures of this size, not yet
// written: the picture a load is about to make, or the first private copies of one just taken.
// Storage kept for other sizes goes back. WarmStorage then writes it `budget` bytes at a time,
// so that the pictures' first write finds pages in use: where the system backs memory only as
// it is touched, a page's first touch costs many times the copy itself. WarmStorage returns whether any is left to write; a
// picture too small to keep storage for has none.
inline constexpr int kCopiesReserved = 2;  // the board's framed copy and the work picture
void ReserveStorage(int width, int height, QImage::Format format, int blocks);
bool WarmStorage(qsizetype budget);
// Gives the system back the memory free inside the heap, such as a finished reader's buffers,
// so that it does not stay in use beside the storage reserved next. The heap otherwise keeps
// freed memory for reuse.
void GiveBackFreeMemory();
// Readies the heap for blocks of about `bytes` in all, about to be taken (a decoder's buffers,
// which come from the heap): where they take memory the process has never touched, they get it
// in large pages. The same advice as for pictures; nothing stays allocated, nothing is written.
void PrepareHeapForLargeBlock(qsizetype bytes);

class Picture {
public:
    Picture() = default;  // empty: no bitmap
    // Takes over an image in one of the storage formats above. bitsPerPixel matters only for
    // Format_Indexed8 (1, 4 or 8); for the other formats it follows from the format.
    Picture(QImage image, int bitsPerPixel);

    // A copy shares the pixels and starts with a fresh drawing state.
    Picture(const Picture& other);
    Picture& operator=(const Picture& other);
    Picture(Picture&& other) noexcept = default;
    Picture& operator=(Picture&& other) noexcept = default;

    // A blank 24-bit picture (white), for a surface asked for its drawing surface while empty.
    static Picture Blank(int width, int height);

    bool isEmpty() const { return image_.isNull(); }
    int width() const { return image_.width(); }
    int height() const { return image_.height(); }
    int bitsPerPixel() const { return isEmpty() ? 0 : bits_; }
    const QImage& image() const { return image_; }
    // Identifies the pixel storage: equal for two pictures that share their pixels.
    const uchar* storage() const { return image_.constBits(); }
    // Changes whenever the pixels change; a display cache keys on it.
    qint64 cacheKey() const { return image_.cacheKey(); }

    // The colour of one pixel as 0x00BBGGRR (through the colour table for indexed pictures).
    Colour pixel(int x, int y) const;

    const DrawingState& state() const { return state_; }
    void setPenColour(Colour c) { state_.penColour = c & 0x00FFFFFF; }
    void setPenWidth(int w) { if (w >= 0) state_.penWidth = w; }  // a negative width is ignored
    void moveTo(int x, int y) { state_.penPos = QPoint(x, y); }
    // Draws from the pen position to (x, y) in the pen colour, then moves the pen there: a band
    // of the pen's width (at least 1) centred on the segment, with round ends, so the lines of
    // a closed outline meet without gaps. The game draws only its 6-pixel frames.
    // Everything is clipped to the picture. The pen colour is drawn exactly on every format:
    // an indexed picture gains a table entry for it (a 4-bit one widening to 8 bits when
    // needed, a two-colour one staying two-colour; 32 bits when the table is already full, a
    // Failure when 32 bits would pass the size limit).
    void lineTo(int x, int y);

    // Replaces the pixels of dst (left, top, right, bottom exclusive; in this picture) by those
    // of srcRect in src. Rectangles of equal size between pictures of the same format copy
    // exactly; parts outside either picture are clipped. Different sizes scale nearest-pixel.
    void copyRect(const QRect& dst, const Picture& src, const QRect& srcRect);

    struct RectCopy {
        QRect dst;
        QRect src;
    };
    // The same as copyRect for each entry in turn. Entries whose rectangles share their rows
    // (the cells of one grid row) are copied row by row across all of them, so a composition
    // streams through memory the way a single copy of the picture would.
    void copyRects(const std::vector<RectCopy>& copies, const Picture& src);

private:
    // An exact copy of an area of this picture from another of the same storage.
    struct Span {
        QRect area;    // in this picture
        QPoint shift;  // destination minus source
    };
    void copySpans(const std::vector<Span>& spans, const QImage& from);
    // Any other copy: each destination pixel takes the nearest source pixel, its colour
    // converted to this picture's format.
    void copyConverting(const QRect& dst, const Picture& src, const QRect& srcRect);

    // Makes the pixels this picture's own before a write (the copy-on-write step). The areas
    // of `overwritten` are about to be written whole, so they are not copied.
    void detachForWrite(const std::vector<Span>& overwritten = {});
    // Turns an indexed picture whose table is full into a 32-bit one.
    void widenToRgb32();
    // The table index of a colour in an indexed picture, appending it when missing; -1 when
    // the table is full.
    int tableIndexFor(QRgb colour);
    // The stored value that draws this colour exactly, widening the picture when needed.
    quint32 rawColourFor(QRgb colour);

    QImage image_;
    int bits_ = 0;
    DrawingState state_;
};

}  // namespace pictures
