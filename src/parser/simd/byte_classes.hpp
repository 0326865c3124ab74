// The classes of code units that the scan searches for, and the unit-by-unit
// search: the reference that every vector search must agree with, and the
// path of targets without one.
//
// A line is a run of code units of one width: the bytes of UTF-8 or of a
// Latin-1 str (uint8_t), or the 2- and 4-byte units of CPython's wider strs
// (uint16_t, uint32_t). Every markup character is ASCII, so a unit is in a
// class only when its whole value is one of the class's characters.
#pragma once

#include <cstdint>

namespace marquill {

enum class ByteClass {
    markup,      // '{', '[' or ']': where a scan rule may start
    closeBrace,  // '}': where a raw block may end
    brace,       // '{' or '}': the raw-block look-ahead's stops
};

template <class Unit>
constexpr bool in_class(ByteClass wanted, Unit c) noexcept {
    switch (wanted) {
        case ByteClass::markup: return c == '{' || c == '[' || c == ']';
        case ByteClass::closeBrace: return c == '}';
        case ByteClass::brace: return c == '{' || c == '}';
    }
    return false;
}

namespace bytewise {

// Index of the first unit in [from, n) of `s` in the class, or n.
template <ByteClass wanted, class Unit>
int64_t find(const Unit* s, int64_t from, int64_t n) noexcept {
    while (from < n && !in_class(wanted, s[from])) ++from;
    return from;
}

// Bit k is set when unit k of the 64 at p is in the class.
template <ByteClass wanted, class Unit>
uint64_t bits64(const Unit* p) noexcept {
    uint64_t bits = 0;
    for (int k = 0; k < 64; ++k) bits |= uint64_t{in_class(wanted, p[k])} << k;
    return bits;
}

// Where the next 64 units from `from` hold a markup unit; the vector
// searches may stop earlier, never later.
template <class Unit>
int64_t skip_plain_text(const Unit* s, int64_t from, int64_t n) noexcept {
    for (; from + 64 <= n; from += 64) {
        if (bits64<ByteClass::markup>(s + from) != 0) break;
    }
    return from;
}

}  // namespace bytewise
}  // namespace marquill
