// The state of one scan over a line, shared by the scan loop (find_tags.cpp)
// and the rules it calls for bracket tags and raw blocks. Internal to the
// parser.
#pragma once

#include <cstdint>
#include <limits>

#include "parser/tag_spans.hpp"

namespace marquill {

template <class Unit>
struct Scan {
    const Unit* line;  // `n` units
    int64_t n;
    TagSpans& tags;
    int64_t i = 0;         // index of the unit being examined
    char tagName = 0;      // kind of the open argument tag, 0 when none is open
    int64_t tagL = 0;      // index of the open argument tag's '['
    int64_t tagArgsL = 0;  // index of its first argument unit
    // a '{' at or after this index has no '}' after it
    int64_t closelessFrom = std::numeric_limits<int64_t>::max();
    bool outOfMemory = false;

    // Records a tag. Any open argument tag is forgotten: tags never overlap,
    // so they stand in line order.
    void append(const TagSpan& span) noexcept {
        outOfMemory = !tags.push(span);
        tagName = 0;
    }
};

}  // namespace marquill
