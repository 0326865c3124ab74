// The markup parser: splits one line of UTF-8 display text into a template,
// in which every recognised element is replaced by "{}", and the list of
// those elements. It knows nothing of the Python interpreter.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace marquill {

// One recognised element. Every field is fixed at creation. A tag whose
// `dynamic` is true owns `value` (a copy of input bytes); otherwise `value`
// is one of the shared static keyword strings and is never released.
struct Tag {
    const char* value;  // terminated; may hold NUL bytes, so see `size`
    int64_t size;       // bytes in `value` before its terminator
    int64_t l;          // index in the input of the tag's first byte
    int64_t r;          // index of its last byte; the span is inclusive
    char name;          // kind letter: 'a', 's', 'f', 't' or 'r'
    bool dynamic;

    Tag(char name, const char* staticValue, int64_t size, int64_t l, int64_t r) noexcept;
    Tag(char name, std::unique_ptr<char[]> ownedValue, int64_t size, int64_t l, int64_t r) noexcept;
    Tag(Tag&& other) noexcept;
    Tag(const Tag&) = delete;
    Tag& operator=(const Tag&) = delete;
    Tag& operator=(Tag&&) = delete;
    ~Tag();
};

// The parse of one line, done by the constructor. A ParsedText has a single
// owner and is never copied. Construction throws std::bad_alloc when memory
// runs out; whatever it allocated so far is released.
class ParsedText {
public:
    // `input` holds `size` bytes of UTF-8 followed by a terminator. NUL bytes
    // before `size` are plain text. Nothing in the result refers to `input`.
    ParsedText(const char* input, int64_t size);
    ParsedText(const ParsedText&) = delete;
    ParsedText& operator=(const ParsedText&) = delete;

    std::vector<Tag> args;         // the tags, in the order of their placeholders
    std::unique_ptr<char[]> text;  // the template: `textSize` bytes and a terminator
    int64_t textSize;
};

// A new terminated buffer holding bytes [start, end) of `str`.
std::unique_ptr<char[]> substr(const char* str, int64_t start, int64_t end);

// True when `str` begins with the terminated `prefix`. Stops at the first
// difference, so it never reads past the terminator of `str`.
bool startswith(const char* str, const char* prefix) noexcept;

}  // namespace marquill
