// The markup parser: splits one line of UTF-8 display text into a template,
// in which every recognised element is replaced by "{}", and the list of
// those elements. It knows nothing of the Python interpreter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <vector>

namespace marquill {

// One recognised element, a plain record: every field is fixed when the tag
// is appended. `value` is either a copy of input bytes in the parse's memory
// (`dynamic`) or one of the shared static keyword strings.
struct Tag {
    const char* value;  // terminated; may hold NUL bytes, so see `size`
    int64_t size;       // bytes in `value` before its terminator
    int64_t l;          // index in the input of the tag's first byte
    int64_t r;          // index of its last byte; the span is inclusive
    char name;          // kind letter: 'a', 's', 'f', 't' or 'r'
    bool dynamic;
};

// The parse of one line, done by the constructor. Everything it holds lives
// in its own memory: a buffer inside the object, which serves a line of
// dialogue without touching the heap, and beyond that blocks taken from
// `upstream` in a few growing steps, all released by the destructor. A
// ParsedText has a single owner and is never copied or moved: its records
// point into it. Construction throws std::bad_alloc when `upstream` does;
// whatever it allocated so far is released.
class ParsedText {
    static constexpr size_t inlineBytes = 2048;
    alignas(std::max_align_t) std::byte inlineBuffer_[inlineBytes];
    std::pmr::monotonic_buffer_resource memory_;

public:
    // `input` holds `size` bytes of UTF-8 followed by a terminator. NUL bytes
    // before `size` are plain text. Nothing in the result refers to `input`.
    ParsedText(const char* input, int64_t size,
               std::pmr::memory_resource* upstream = std::pmr::get_default_resource());
    ParsedText(const ParsedText&) = delete;
    ParsedText& operator=(const ParsedText&) = delete;

    std::pmr::vector<Tag> args;  // the tags, in the order of their placeholders
    const char* text;            // the template: `textSize` bytes and a terminator
    int64_t textSize;
};

// A new terminated copy of bytes [start, end) of `str`, in `memory`.
const char* substr(const char* str, int64_t start, int64_t end, std::pmr::memory_resource& memory);

// True when `str` begins with the terminated `prefix`. Stops at the first
// difference, so it never reads past the terminator of `str`.
inline bool startswith(const char* str, const char* prefix) noexcept {
    for (; *prefix != '\0'; ++str, ++prefix) {
        if (*str != *prefix) return false;
    }
    return true;
}

}  // namespace marquill
