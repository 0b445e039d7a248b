#pragma once
// Reading a stretch of an open file forward, a byte at a time, a chunk at a time from the
// file: memory stays the chunk's, whatever the file's size. Shared by the readers' file sides.

#include <QIODevice>
#include <QtGlobal>
#include <limits>

namespace pictures {

class ForwardReader {
public:
    // What a hole of a sparse file is: bytes of zeros, or no data at all, passed over unread.
    enum class Holes { Read, Pass };

    // From `start` on, at most `length` bytes.
    ForwardReader(QIODevice& file, qint64 start = 0, Holes holes = Holes::Read,
                  qint64 length = std::numeric_limits<qint64>::max());

    // The next byte, or -1 at the end of the stretch or of the file.
    int next()
    {
        if (at_ == end_ && !refill())
            return -1;
        return chunk_[at_++];
    }

    // Passes over count bytes, seeking past what was read, stopping at the end of the file.
    void skip(qint64 count);

private:
    bool refill();
    // Moves the file past a hole it stands in; how much of a chunk to read up to the next one.
    qint64 toNextHole(qint64 wanted);

    QIODevice& file_;
    int fd_;  // the plain file's descriptor for finding holes, or -1
    qint64 left_;  // bytes of the stretch not yet read from the file
    uchar chunk_[65536];
    int at_ = 0;
    int end_ = 0;
};

}  // namespace pictures
