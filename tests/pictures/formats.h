#pragma once
// The pixel formats a picture can have, for tests that run over every one of them.

#include <QImage>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

struct FormatCase {
    const char* name;
    int bits;
    QImage::Format format;
};

inline void PrintTo(const FormatCase& f, std::ostream* os) { *os << f.name; }

inline std::string FormatName(const testing::TestParamInfo<FormatCase>& info) { return info.param.name; }

// 1-bit first: tests that treat two-colour pictures apart start after it.
inline const FormatCase kFormats[] = {
    {"Bits1", 1, QImage::Format_Indexed8},
    {"Bits4", 4, QImage::Format_Indexed8},
    {"Bits8", 8, QImage::Format_Indexed8},
    {"Bits16x555", 16, QImage::Format_RGB555},
    {"Bits16x565", 16, QImage::Format_RGB16},
    {"Bits24", 24, QImage::Format_BGR888},
    {"Bits32", 32, QImage::Format_RGB32},
};
