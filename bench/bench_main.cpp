// The benchmark: each hot path of the game timed next to a reference measured in the same run,
// then a table of their ratios against the targets. What the cases share is in cases.cpp.

#include "bench/cases.h"
#include "bench/test_pictures.h"
#include "tests/support/test_file.h"
#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    ProgramSetup setup(app);

    if (argc == 3 && std::strcmp(argv[1], "--memory-child") == 0)
        return bench::MemoryChild(QString::fromLocal8Bit(argv[2]));

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    bench::Context& c = bench::Shared();
    c.dir = dir.path();
    std::fprintf(stderr, "Making the pictures...\n");
    c.photo24 = bench::PhotoLike(6000, 4000);
    c.photo6 = bench::PhotoLike(3000, 2000);
    c.colourJpegBytes = bench::EncodeJpeg(c.photo24, false);
    c.greyJpegBytes = bench::EncodeJpeg(c.photo24, true);
    c.colourJpeg = QDir(c.dir).filePath(QStringLiteral("colour.jpg"));
    c.greyJpeg = QDir(c.dir).filePath(QStringLiteral("grey.jpg"));
    c.bitmap = QDir(c.dir).filePath(QStringLiteral("picture.bmp"));
    test_file::Write(c.colourJpeg, c.colourJpegBytes);
    test_file::Write(c.greyJpeg, c.greyJpegBytes);
    test_file::Write(c.bitmap, bench::EncodeBitmap24(c.photo24));

    std::vector<bench::Row> rows;
    for (auto&& part : {bench::RegisterLoadCases(), bench::RegisterGameCases(),
                        bench::RegisterPaintCases(), bench::RegisterProcessCases()})
        rows.insert(rows.end(), part.begin(), part.end());

    benchmark::Initialize(&argc, argv);
    bench::CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const std::vector<bench::Row> memory = bench::MeasureMemory(argv[0]);
    rows.insert(rows.end(), memory.begin(), memory.end());
    const int missed = bench::PrintTable(rows, reporter.medians());
    std::printf("\n%d target(s) missed\n", missed);
    return 0;
}
