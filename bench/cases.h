#pragma once
// The benchmark cases, each registered with its reference, and what they share.

#include "bench/results.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <vector>

class TForm1;

namespace bench {

struct Context {
    QString dir;
    QString colourJpeg, greyJpeg, bitmap;
    QByteArray colourJpegBytes, greyJpegBytes;
    QImage photo24;  // 6000 x 4000
    QImage photo6;   // 3000 x 2000
};
Context& Shared();

// The one main window, made on first use.
TForm1* Form();
// A press on the centre of a cell of the board.
void PressCell(TForm1* form, int cell);
// Paints the board and the preview offscreen, as the window does after a handler.
void PaintBoardAndPreview(TForm1* form);

// Each returns the table rows for the cases it registered.
std::vector<Row> RegisterLoadCases();
std::vector<Row> RegisterGameCases();
std::vector<Row> RegisterPaintCases();
std::vector<Row> RegisterProcessCases();

// Measures peak memory in a child process running this program; records the figures.
std::vector<Row> MeasureMemory(const char* self);
// The child's part: prints "base peak pictureBytes" in bytes.
int MemoryChild(const QString& jpegPath);

// Every timed case: milliseconds, real time, the median of a few repetitions.
benchmark::internal::Benchmark* Configure(benchmark::internal::Benchmark* b);

}  // namespace bench
