// The state of one scan over the input, shared by the scan loop and the rules
// it calls for bracket tags and raw blocks. Internal to the parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory_resource>
#include <vector>

#include "parser/parsed_text.hpp"

namespace marquill {

// Room for the tags of an input of n bytes, reserved at its first tag.
size_t tag_capacity(const char* input, int64_t n) noexcept;

struct Scan {
    const char* input;  // `n` bytes and a terminator
    int64_t n;
    std::pmr::vector<Tag>& args;
    std::pmr::memory_resource& memory;  // where values are copied
    int64_t i = 0;         // index of the byte being examined
    int64_t length = 1;    // budget: the text needs length + n bytes
    char tagName = 0;      // kind of the open argument tag, 0 when none is open
    int64_t tagL = 0;      // index of the open argument tag's '['
    int64_t tagArgsL = 0;  // index of its first argument byte
    // a '{' at or after this index has no '}' after it
    int64_t closelessFrom = std::numeric_limits<int64_t>::max();

    // Appends a tag and takes its span out of the budget. Any open argument
    // tag is forgotten: tags never overlap, so they stand in input order.
    void append(const Tag& tag) {
        if (args.capacity() == 0) args.reserve(tag_capacity(input, n));
        args.push_back(tag);
        length += tag.l - tag.r + 1;
        tagName = 0;
    }
};

// The rules, each called with `i` on the byte that triggers it. A rule that
// consumes bytes leaves `i` on the last byte it consumed.
void bracket_tag(Scan& scan);         // at '['
void close_argument_tag(Scan& scan);  // at ']' while an argument tag is open
void raw_block(Scan& scan);           // at '{'

}  // namespace marquill
