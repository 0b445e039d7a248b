#pragma once
// A JPEG file taken apart into its marker segments, for tests that edit one.

#include <QByteArray>
#include <algorithm>
#include <initializer_list>
#include <optional>
#include <vector>

namespace jpeg_surgery {

struct Segment {
    int marker;
    qsizetype start;  // at the marker's 0xFF
    qsizetype end;    // a scan's segment runs to the end of its entropy-coded data
};

// Bytes of the segment's header after its marker, its length field included.
inline int Length(const QByteArray& f, const Segment& s)
{
    return std::max(uchar(f[s.start + 2]) << 8 | uchar(f[s.start + 3]), 2);
}

// Where a scan's entropy-coded data begins.
inline qsizetype DataStart(const QByteArray& f, const Segment& s)
{
    return s.start + 2 + Length(f, s);
}

// The segments after the start-of-image marker, up to the end-of-image marker or to the first
// byte that starts none.
inline std::vector<Segment> Segments(const QByteArray& f)
{
    std::vector<Segment> out;
    qsizetype pos = 2;
    while (pos + 1 < f.size() && uchar(f[pos]) == 0xFF) {
        const int marker = uchar(f[pos + 1]);
        if (marker == 0xFF) {  // a fill byte before a marker
            ++pos;
            continue;
        }
        if (marker == 0xD9) {
            out.push_back({marker, pos, pos + 2});
            break;
        }
        // A restart marker or a stuffed zero between segments stands alone, as the decoder
        // takes it.
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            out.push_back({marker, pos, pos + 2});
            pos += 2;
            continue;
        }
        if (pos + 3 >= f.size())
            break;
        // A length below 2 skips nothing beyond itself.
        qsizetype end = pos + 2 + std::max(uchar(f[pos + 2]) << 8 | uchar(f[pos + 3]), 2);
        if (marker == 0xDA) {
            while (end + 1 < f.size()) {
                const int next = uchar(f[end + 1]);
                if (uchar(f[end]) == 0xFF && next != 0 && !(next >= 0xD0 && next <= 0xD7))
                    break;
                ++end;
            }
        }
        out.push_back({marker, pos, end});
        pos = end;
    }
    return out;
}

// The segments of one of the given markers, in file order.
inline std::vector<Segment> All(const QByteArray& f, std::initializer_list<int> markers)
{
    std::vector<Segment> out;
    for (const Segment& s : Segments(f))
        if (std::find(markers.begin(), markers.end(), s.marker) != markers.end())
            out.push_back(s);
    return out;
}

// The first segment of one of the given markers.
inline std::optional<Segment> First(const QByteArray& f, std::initializer_list<int> markers)
{
    const std::vector<Segment> found = All(f, markers);
    return found.empty() ? std::nullopt : std::optional(found.front());
}

}  // namespace jpeg_surgery
