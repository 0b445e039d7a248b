#include "pictures/forward_reader.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace pictures {

ForwardReader::ForwardReader(QIODevice& file, qint64 start, Holes holes, qint64 length)
    : file_(file), left_(length)
{
    auto* plain = holes == Holes::Pass ? qobject_cast<QFile*>(&file) : nullptr;
    fd_ = plain ? plain->handle() : -1;
    file_.seek(start);
}

bool ForwardReader::refill()
{
    const qint64 wanted = toNextHole(std::min<qint64>(qint64(sizeof chunk_), left_));
    const qint64 count = wanted > 0 ? file_.read(reinterpret_cast<char*>(chunk_), wanted) : 0;
    if (count <= 0)
        return false;
    left_ -= count;
    at_ = 0;
    end_ = int(count);
    return true;
}

qint64 ForwardReader::toNextHole(qint64 wanted)
{
    if (fd_ < 0 || wanted <= 0)
        return wanted;
    const off_t pos = off_t(file_.pos());
    off_t data = lseek(fd_, pos, SEEK_DATA);
    if (data < 0)
        data = errno == ENXIO ? off_t(file_.size()) : pos;  // ENXIO: nothing but a hole to the end
    const off_t hole = lseek(fd_, data, SEEK_HOLE);
    file_.seek(qint64(data));
    left_ -= qint64(data - pos);
    wanted = std::min(wanted, left_);
    return hole > data ? std::min<qint64>(wanted, qint64(hole - data)) : wanted;
}

void ForwardReader::skip(qint64 count)
{
    const qint64 inChunk = std::min<qint64>(count, end_ - at_);
    at_ += int(inChunk);
    if (count > inChunk) {
        const qint64 pos = file_.pos();
        const qint64 step = std::min({count - inChunk, left_, std::max<qint64>(file_.size() - pos, 0)});
        left_ -= step;
        file_.seek(pos + step);
    }
}

}  // namespace pictures
