#pragma once
// The file side of the bitmap reader: the open file read at given positions, rows straight
// into their places. Internal to the bitmap reader.

#include <QIODevice>
#include <QtGlobal>

namespace pictures {

// Only what the reader asks for is read: a file may be far larger than its picture (anything
// can follow the pixel data), and none of that is touched. Positions and counts are 64-bit, so
// offsets and sizes taken from the headers cannot wrap. A read that fails throws Failure.
class BitmapSource {
public:
    explicit BitmapSource(QIODevice& device) : device_(device), size_(device.size()) {}

    qint64 size() const { return size_; }
    bool holds(qint64 pos, qint64 count) const
    {
        return pos >= 0 && count >= 0 && pos <= size_ && count <= size_ - pos;
    }
    // Up to count bytes from pos; fewer where the file ends.
    qint64 read(qint64 pos, uchar* to, qint64 count);

    // Rows of count bytes each from pos on, row i into rows[i]; stops at the first row the file
    // does not hold whole. A plain file takes many rows a call, straight into their places,
    // where a read a row would cost a system call for each. Returns the rows read.
    qint64 readRows(qint64 pos, uchar* const* rows, qint64 n, qint64 count);

private:
    QIODevice& device_;
    qint64 size_;
};

}  // namespace pictures
