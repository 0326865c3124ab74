// The parse of one line of UTF-8 as plain records, for C++ callers: the
// template, in which every recognised element is replaced by "{}", and the
// list of those elements with their values copied out. It is built from the
// spans of the scan over the line's bytes, and knows nothing of the Python
// interpreter.
#pragma once

#include <cstdint>
#include <vector>

#include "parser/kernel.hpp"

namespace marquill {

// One recognised element, a plain record: every field is fixed when the tag
// is appended. `value` is either a copy of input bytes that this tag owns
// (`dynamic`) or one of the shared static keyword strings.
struct Tag {
    const char* value;  // terminated; may hold NUL bytes, so see `size`
    int64_t size;       // bytes in `value` before its terminator
    int64_t l;          // index in the input of the tag's first byte
    int64_t r;          // index of its last byte; the span is inclusive
    char name;          // kind letter: 'a', 's', 'f', 't' or 'r'
    bool dynamic;
};

// The parse of one line, done by the constructor; the destructor releases
// the text and every copied value. A ParsedText has a single owner and is
// never copied: that would release the same buffers twice. Construction
// throws std::bad_alloc when memory runs out, having released whatever it
// allocated so far.
class ParsedText {
public:
    // `input` holds `size` bytes of UTF-8. NUL bytes are plain text. Nothing
    // in the result refers to `input`. Any kernel gives the same result.
    ParsedText(const char* input, int64_t size, const Kernel& kernel = best_kernel());
    ~ParsedText();
    ParsedText(const ParsedText&) = delete;
    ParsedText& operator=(const ParsedText&) = delete;

    std::vector<Tag> args;  // the tags, in the order of their placeholders
    const char* text;       // the template: `textSize` bytes and a terminator
    int64_t textSize;

private:
    void release() noexcept;
};

// A new terminated copy of bytes [start, end) of `str`, allocated with new[];
// the caller owns it.
const char* substr(const char* str, int64_t start, int64_t end);

// True when `str` begins with the terminated `prefix`. Stops at the first
// difference, so it never reads past the terminator of `str`.
inline bool startswith(const char* str, const char* prefix) noexcept {
    for (; *prefix != '\0'; ++str, ++prefix) {
        if (*str != *prefix) return false;
    }
    return true;
}

}  // namespace marquill
