// Painting the board and the preview: a 24 MP picture against a 480 x 360 one of the same
// format. The first paint after a picture change rebuilds what the screen shows; a repeat
// paint reuses it.

#include "bench/cases.h"
#include "bench/test_pictures.h"
#include "app/form1.h"

#include <QPainter>
#include <string>

namespace bench {

namespace {

void Paint(benchmark::State& state, int bits, bool large, bool afterChange)
{
    const Context& c = Shared();
    const QImage photoA = large ? c.photo24 : c.photo24.scaled(480, 360);
    const QImage photoB = large ? c.photo24.mirrored(true, false) : photoA.mirrored(true, false);
    const pictures::Picture a = InFormat(photoA, bits), b = InFormat(photoB, bits);
    TForm1* form = Form();
    form->Image1->SetPicture(a);
    form->Image4->SetPicture(a);
    PaintBoardAndPreview(form);
    bool useB = true;
    for (auto _ : state) {
        if (afterChange) {
            const pictures::Picture& next = useB ? b : a;
            useB = !useB;
            form->Image1->SetPicture(next);
            form->Image4->SetPicture(next);
        }
        PaintBoardAndPreview(form);
    }
}

}  // namespace

std::vector<Row> RegisterPaintCases()
{
    std::vector<Row> rows;
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        for (bool afterChange : {true, false}) {
            const std::string kind = afterChange ? "first" : "repeat";
            const std::string base = "paint/" + std::to_string(bits) + "bit/" + kind;
            for (bool large : {true, false}) {
                Configure(benchmark::RegisterBenchmark((base + (large ? "/24MP" : "/480x360")).c_str(),
                                                       [=](benchmark::State& s) { Paint(s, bits, large, afterChange); }));
            }
            rows.push_back({"paint board+preview, " + std::to_string(bits) + "-bit, " + kind
                                + (afterChange ? " after change" : "") + ", 24 MP vs 480x360",
                            base + "/24MP", base + "/480x360", 1, 2.0});
        }
    }
    return rows;
}

}  // namespace bench
