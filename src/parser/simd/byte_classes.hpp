// The classes of bytes that the scan searches for, and the byte-by-byte
// search: the reference that every vector search must agree with, and the
// path of targets without one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace marquill {

enum class ByteClass {
    markup,      // '{', '[' or ']': where a scan rule may start
    closeBrace,  // '}': where a raw block may end
    brace,       // '{' or '}': the raw-block look-ahead's stops
    opener,      // '[' or '{': where a tag may begin
    closer,      // ']' or '}': where a tag may end
    codePointStart,  // any byte but a UTF-8 continuation byte (0x80 to 0xbf)
};

constexpr bool in_class(ByteClass wanted, char c) noexcept {
    switch (wanted) {
        case ByteClass::markup: return c == '{' || c == '[' || c == ']';
        case ByteClass::closeBrace: return c == '}';
        case ByteClass::brace: return c == '{' || c == '}';
        case ByteClass::opener: return c == '[' || c == '{';
        case ByteClass::closer: return c == ']' || c == '}';
        case ByteClass::codePointStart: return static_cast<signed char>(c) > -65;
    }
    return false;
}

namespace bytewise {

// Index of the first byte in [from, n) of `s` in the class, or n.
template <ByteClass wanted>
int64_t find(const char* s, int64_t from, int64_t n) noexcept {
    while (from < n && !in_class(wanted, s[from])) ++from;
    return from;
}

// How many of the first n bytes of `s` are in the class.
template <ByteClass wanted>
size_t count(const char* s, int64_t n) noexcept {
    size_t total = 0;
    for (int64_t k = 0; k < n; ++k) total += in_class(wanted, s[k]) ? 1 : 0;
    return total;
}

// Bit k is set when byte k of the 64 at p is in the class.
template <ByteClass wanted>
uint64_t bits64(const char* p) noexcept {
    uint64_t bits = 0;
    for (int k = 0; k < 64; ++k) bits |= uint64_t{in_class(wanted, p[k])} << k;
    return bits;
}

// Where the next 64 bytes from `from` hold a markup byte; the vector
// searches may stop earlier, never later.
inline int64_t skip_plain_text(const char* s, int64_t from, int64_t n) noexcept {
    for (; from + 64 <= n; from += 64) {
        if (bits64<ByteClass::markup>(s + from) != 0) break;
    }
    return from;
}

}  // namespace bytewise
}  // namespace marquill
