#pragma once
// Texts that read on any palette: the window keeps its layout's colours where they read, and
// where a desktop's palette (a dark one, say) would make them unreadable it takes the palette's
// own colour, made readable if need be.

#include <QColor>
#include <initializer_list>

// The contrast of two colours by their relative luminance, as the web's accessibility
// guidelines measure it: from 1 (none) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);

// What text needs against its background to read comfortably.
inline constexpr double kReadableContrast = 4.5;

// The first of the choices that reads on the background; when none does, the last one moved
// toward black or white, whichever reads better there, just as far as it takes to read.
QColor ReadableOn(const QColor& background, std::initializer_list<QColor> choices);
