// What the benchmark's cases share: the pictures made once, the main window, and the steps
// and settings every case uses.

#include "bench/cases.h"
#include "app/form1.h"

#include <QImage>

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
