#include "app/readable.h"

#include <algorithm>
#include <cmath>

namespace {

double Luminance(const QColor& colour)
{
    const auto linear = [](double s) { return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4); };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& background, std::initializer_list<QColor> choices)
{
    for (const QColor& choice : choices)
        if (ContrastRatio(choice, background) >= kReadableContrast)
            return choice;
    const QColor extreme = ContrastRatio(Qt::black, background) >= ContrastRatio(Qt::white, background)
                               ? QColor(Qt::black)
                               : QColor(Qt::white);
    if (choices.size() == 0)
        return extreme;
    // Black or white itself always reads: one of them contrasts at least 4.58:1 with anything.
    const QColor from = std::data(choices)[choices.size() - 1].toRgb();
    const auto towards = [](int a, int b, int step) { return a + (b - a) * step / 255; };
    for (int step = 1; step < 255; ++step) {
        const QColor mixed(towards(from.red(), extreme.red(), step), towards(from.green(), extreme.green(), step),
                           towards(from.blue(), extreme.blue(), step));
        if (ContrastRatio(mixed, background) >= kReadableContrast)
            return mixed;
    }
    return extreme;
}
