// The benchmark: each hot path of the game timed next to a reference measured in the same run,
// then a table of their ratios against the targets.

#include "bench/cases.h"
#include "bench/test_pictures.h"
#include "tests/support/test_file.h"
#include "app/form1.h"

#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

namespace bench {

Context& Shared()
{
    static Context context;
    return context;
}

TForm1* Form()
{
    static TForm1* form = CreateMainWindow();
    return form;
}

void PressCell(TForm1* form, int cell)
{
    const int side = form->Game.GridSide;
    const int x = (cell % side) * form->Image1->width() / side + form->Image1->width() / (2 * side);
    const int y = (cell / side) * form->Image1->height() / side + form->Image1->height() / (2 * side);
    form->Image1MouseDown(form, puzzle::MouseButton::Left, x, y);
}

void PaintBoardAndPreview(TForm1* form)
{
    static QImage board(form->Image1->size(), QImage::Format_ARGB32_Premultiplied);
    static QImage preview(form->Image4->size(), QImage::Format_ARGB32_Premultiplied);
    form->Image1->render(&board);
    form->Image4->render(&preview);
    benchmark::DoNotOptimize(board.constBits());
    benchmark::DoNotOptimize(preview.constBits());
}

benchmark::internal::Benchmark* Configure(benchmark::internal::Benchmark* b)
{
    return b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3)->ReportAggregatesOnly(true);
}

}  // namespace bench

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
