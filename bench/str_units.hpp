// A line of UTF-8 as CPython holds it in a str: its characters at the width
// of its widest one (1, 2 or 4 bytes), which is what the module scans.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "parser/kernel.hpp"
#include "parser/tag_spans.hpp"

struct StrUnits {
    int width = 1;
    std::vector<uint8_t> latin1;
    std::vector<uint16_t> ucs2;
    std::vector<uint32_t> ucs4;

    explicit StrUnits(const std::string& utf8) {
        const std::vector<uint32_t> points = code_points(utf8);
        uint32_t widest = 0;
        for (const uint32_t point : points) widest = widest > point ? widest : point;
        width = widest < 0x100 ? 1 : widest < 0x10000 ? 2 : 4;
        for (const uint32_t point : points) {
            if (width == 1) latin1.push_back(static_cast<uint8_t>(point));
            if (width == 2) ucs2.push_back(static_cast<uint16_t>(point));
            if (width == 4) ucs4.push_back(point);
        }
    }

    // The scan of the line on `kernel`, as parse_str runs it: a str of wider
    // units is checked for surrogates and has the OR of its units taken on
    // the way. The number of tags, or 0 when memory ran out or the line
    // holds a surrogate.
    size_t scan(const marquill::Kernel& kernel) const {
        switch (width) {
            case 1: return scan(kernel, latin1);
            case 2: return scan(kernel, ucs2);
            default: return scan(kernel, ucs4);
        }
    }

private:
    static size_t scan(const marquill::Kernel& kernel, const std::vector<uint8_t>& units) {
        marquill::TagSpans spans;
        if (!kernel.bytes.find_tags(units.data(), static_cast<int64_t>(units.size()), spans)) return 0;
        return spans.size();
    }
    template <class Unit>
    static size_t scan(const marquill::Kernel& kernel, const std::vector<Unit>& units) {
        marquill::TagSpans spans;
        marquill::UnitsSummary<Unit> summary{};
        const auto n = static_cast<int64_t>(units.size());
        if (!kernel.of<Unit>().find_tags_and_summarize(units.data(), n, spans, summary) || summary.surrogate) return 0;
        return spans.size();
    }

    static std::vector<uint32_t> code_points(const std::string& utf8) {
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
};
