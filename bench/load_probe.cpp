// Loads one picture file the way the game does, in a process of its own, and prints one line:
//   <road> <outcome> <seconds> <CPU seconds> <peak resident MB>
// road "game" is the load command's reader (pictures::LoadPictureFile), "pane" the dialog's
// pane (pictures::LoadRegisteredPicture at the pane's size). outcome is WIDTHxHEIGHT, or the
// failure's message in quotes. The CPU time is the
// figure to read on a busy machine. With --ppm OUT the loaded picture is also written as a binary
// PPM, for comparison with a reference decoder.
//
//   load_probe game|pane FILE [--ppm OUT]

#include "pictures/failure.h"
#include "pictures/loading.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The high-water mark of this process's own memory (getrusage would report the parent's when
// that was larger, since it survives exec).
double PeakResidentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line; !(line = status.readLine()).isEmpty();) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

bool WritePpm(const QImage& image, const char* path)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    QFile out(QString::fromLocal8Bit(path));
    if (rgb.isNull() || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    out.write(QByteArray("P6\n") + QByteArray::number(rgb.width()) + ' ' + QByteArray::number(rgb.height())
              + "\n255\n");
    for (int y = 0; y < rgb.height(); ++y)
        out.write(reinterpret_cast<const char*>(rgb.constScanLine(y)), qint64(rgb.width()) * 3);
    return out.error() == QFileDevice::NoError;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool pane = argc >= 3 && std::strcmp(argv[1], "pane") == 0;
    if (argc < 3 || (!pane && std::strcmp(argv[1], "game") != 0)) {
        std::fprintf(stderr, "usage: %s game|pane FILE [--ppm OUT]\n", argv[0]);
        return 2;
    }
    const char* ppm = argc >= 5 && std::strcmp(argv[3], "--ppm") == 0 ? argv[4] : nullptr;
    pictures::RegisterJpegFormats();
    const QString path = QString::fromLocal8Bit(argv[2]);

    QElapsedTimer timer;
    timer.start();
    const double cpuStart = CpuSeconds();
    QByteArray outcome;
    pictures::Picture picture;
    try {
        QSize full;
        picture = pane ? pictures::LoadRegisteredPicture(path, QSize(200, 200), &full) : pictures::LoadPictureFile(path);
        if (!pane)
            full = QSize(picture.width(), picture.height());
        outcome = QByteArray::number(full.width()) + 'x' + QByteArray::number(full.height());
    } catch (const pictures::Failure& failure) {
        outcome = '"' + QByteArray(failure.what()) + '"';
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = CpuSeconds() - cpuStart;
    std::printf("%s %s %.3f %.3f %.0f\n", argv[1], outcome.constData(), seconds, cpu, PeakResidentMegabytes());
    if (ppm && !picture.isEmpty() && !WritePpm(picture.image(), ppm)) {
        std::fprintf(stderr, "cannot write %s\n", ppm);
        return 2;
    }
    return 0;
}
