// The parser core alone on a file of lines, for bench/callgrind.py to count
// the instructions of parse_line: the scan of one line, at the width of the
// str that CPython would make of it, as parse_str runs it (inside the module
// the scan is inlined into parse_str, so it cannot be counted there alone).
//
//   core_lines FILE   prints the number of lines and of tags
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "parser/find_tags.hpp"
#include "parser/tag_spans.hpp"

#if defined(__GNUC__)
#define MARQUILL_NOINLINE __attribute__((noinline))
#else
#define MARQUILL_NOINLINE
#endif

namespace {

// A line's characters at the width of its widest one, as in a str.
struct Line {
    int width = 1;
    std::vector<uint8_t> latin1;
    std::vector<uint16_t> ucs2;
    std::vector<uint32_t> ucs4;
};

std::vector<uint32_t> code_points(const std::string& utf8) {
    std::vector<uint32_t> points;
    for (size_t k = 0; k < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[k]);
        const int extra = lead < 0x80 ? 0 : lead < 0xe0 ? 1 : lead < 0xf0 ? 2 : 3;
        uint32_t point = extra == 0 ? lead : lead & (0x3f >> extra);
        for (int j = 1; j <= extra; ++j) point = point << 6 | (static_cast<unsigned char>(utf8[k + j]) & 0x3f);
        points.push_back(point);
        k += 1 + extra;
    }
    return points;
}

Line line_of(const std::string& utf8) {
    Line line;
    const std::vector<uint32_t> points = code_points(utf8);
    uint32_t widest = 0;
    for (const uint32_t point : points) widest = widest > point ? widest : point;
    line.width = widest < 0x100 ? 1 : widest < 0x10000 ? 2 : 4;
    for (const uint32_t point : points) {
        if (line.width == 1) line.latin1.push_back(static_cast<uint8_t>(point));
        if (line.width == 2) line.ucs2.push_back(static_cast<uint16_t>(point));
        if (line.width == 4) line.ucs4.push_back(point);
    }
    return line;
}

template <class Unit>
size_t scan(const std::vector<Unit>& units) {
    marquill::TagSpans spans;
    if (!marquill::find_tags(units.data(), static_cast<int64_t>(units.size()), spans)) return 0;
    return spans.size();
}

}  // namespace

MARQUILL_NOINLINE size_t parse_line(const Line& line) {
    switch (line.width) {
        case 1: return scan(line.latin1);
        case 2: return scan(line.ucs2);
        default: return scan(line.ucs4);
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: core_lines FILE\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::vector<Line> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line_of(line));
    size_t tags = 0;
    for (const Line& line : lines) tags += parse_line(line);
    std::printf("%zu lines, %zu tags\n", lines.size(), tags);
    return 0;
}
