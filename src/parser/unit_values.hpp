// What the values of a run of code units come to, for whoever makes a string
// of them: the OR of the units, whose highest bit tells the narrowest width
// that holds them all, and whether one of them is a UTF-16 surrogate, which
// has no UTF-8.
//
// Runs of 16 bytes or more go by in vectors (simd/sse2.hpp, simd/neon.hpp),
// shorter ones, and every run on a target without vectors, in 8- and 4-byte
// words. Both read the last block again, overlapping the one before, rather
// than take units one at a time; each block starts a whole number of units
// into the run, so its lanes are units. The unit-by-unit loops are the
// reference that both must agree with.
#pragma once

#include <cstdint>
#include <cstring>

#include "parser/markup_search.hpp"

namespace marquill {

namespace unitwise {

template <class Unit>
Unit or_of_units(const Unit* s, int64_t n) noexcept {
    Unit any = 0;
    for (int64_t k = 0; k < n; ++k) any |= s[k];
    return any;
}

// U+D800 to U+DFFF: the units whose bits above the lowest eleven read 0xd800.
template <class Unit>
constexpr bool is_surrogate(Unit unit) noexcept {
    return (unit & ~Unit{0x7ff}) == 0xd800;
}

template <class Unit>
bool holds_surrogate(const Unit* s, int64_t n) noexcept {
    for (int64_t k = 0; k < n; ++k) {
        if (is_surrogate(s[k])) return true;
    }
    return false;
}

}  // namespace unitwise

namespace wordwise {

template <class Word>
Word word_at(const uint8_t* p) noexcept {
    Word word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The OR of the `size >= sizeof(Word)` bytes at p, word by word.
template <class Word>
Word or_of_words(const uint8_t* p, int64_t size) noexcept {
    constexpr auto width = static_cast<int64_t>(sizeof(Word));
    Word any = word_at<Word>(p + size - width);
    for (int64_t k = 0; k + width <= size; k += width) any |= word_at<Word>(p + k);
    return any;
}

}  // namespace wordwise

// The OR of the lanes of `word`, each one unit wide.
template <class Unit>
Unit or_of_lanes(uint64_t word) noexcept {
    if constexpr (sizeof(Unit) <= 4) word |= word >> 32;
    if constexpr (sizeof(Unit) <= 2) word |= word >> 16;
    if constexpr (sizeof(Unit) == 1) word |= word >> 8;
    return static_cast<Unit>(word);
}

template <class Unit>
Unit or_of_units(const Unit* s, int64_t n) noexcept {
    const auto* bytes = reinterpret_cast<const uint8_t*>(s);
    const int64_t size = n * static_cast<int64_t>(sizeof(Unit));
#if MARQUILL_SEARCH_SSE2 || MARQUILL_SEARCH_NEON
    if (size >= 16) return or_of_lanes<Unit>(search::or_of_bytes(bytes, size));
#endif
    if (size >= 8) return or_of_lanes<Unit>(wordwise::or_of_words<uint64_t>(bytes, size));
    if (size >= 4) return or_of_lanes<Unit>(wordwise::or_of_words<uint32_t>(bytes, size));
    return unitwise::or_of_units(s, n);
}

// Only 2- and 4-byte units can be surrogates.
template <class Unit>
bool holds_surrogate(const Unit* s, int64_t n) noexcept {
    static_assert(sizeof(Unit) >= 2, "a byte is never a surrogate");
#if MARQUILL_SEARCH_SSE2 || MARQUILL_SEARCH_NEON
    if (n * static_cast<int64_t>(sizeof(Unit)) >= 16) return search::holds_surrogate(s, n);
#endif
    return unitwise::holds_surrogate(s, n);
}

}  // namespace marquill
