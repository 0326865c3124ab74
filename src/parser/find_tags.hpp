// The markup parser's scan: finds where the tags of one line of display text
// lie, copying nothing. It knows nothing of the Python interpreter.
//
// A line is `n` code units of one width: the bytes of UTF-8 or of a Latin-1
// str (uint8_t), or the units of a wider str (uint16_t, uint32_t). Positions
// count units, so over a str's own data they are already character indices.
// Nothing past the n units is read.
#pragma once

#include <cstdint>

#include "parser/tag_spans.hpp"

namespace marquill {

// Appends the spans of the line's tags, in line order, to `tags` (which
// should be empty). False when memory for them runs out.
template <class Unit>
bool find_tags(const Unit* line, int64_t n, TagSpans& tags) noexcept;

extern template bool find_tags(const uint8_t*, int64_t, TagSpans&) noexcept;
extern template bool find_tags(const uint16_t*, int64_t, TagSpans&) noexcept;
extern template bool find_tags(const uint32_t*, int64_t, TagSpans&) noexcept;

}  // namespace marquill
