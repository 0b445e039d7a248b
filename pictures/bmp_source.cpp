#include "pictures/bmp_source.h"

#include "pictures/failure.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/uio.h>

namespace pictures {

qint64 BitmapSource::read(qint64 pos, uchar* to, qint64 count)
{
    if (device_.pos() != pos && !device_.seek(pos))
        throw Failure(kStreamReadError);
    qint64 got = 0;
    while (got < count) {
        const qint64 n = device_.read(reinterpret_cast<char*>(to) + got, count - got);
        if (n < 0)
            throw Failure(kStreamReadError);
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

qint64 BitmapSource::readRows(qint64 pos, uchar* const* rows, qint64 n, qint64 count)
{
    auto* const file = qobject_cast<QFile*>(&device_);
    const int fd = file ? file->handle() : -1;
    qint64 done = 0;
    if (fd < 0) {
        while (done < n && read(pos + done * count, rows[done], count) == count)
            ++done;
        return done;
    }
    std::array<iovec, 256> iov;
    while (done < n) {
        const int k = int(std::min<qint64>(qint64(iov.size()), n - done));
        for (int i = 0; i < k; ++i)
            iov[size_t(i)] = {rows[done + i], size_t(count)};
        const ssize_t got = preadv(fd, iov.data(), k, off_t(pos + done * count));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw Failure(kStreamReadError);
        done += qint64(got) / count;
        if (got < ssize_t(k) * count)
            break;  // the rest row by row, as far as the file holds it
    }
    return done;
}

}  // namespace pictures
