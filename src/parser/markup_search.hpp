// The searches the scan relies on, over code units of any width (uint8_t,
// uint16_t, uint32_t): where the markup units ('{', '[' or ']') of 64 units
// are, and a skip over long plain text; inside a raw block's look-ahead the
// next '}' or the next brace of either kind. The vector files also hold the
// whole-run passes of unit_values.hpp: the OR of a run's bytes, and whether a
// run of wide units holds a surrogate.
//
// Each instruction set has a file of its own in simd/, and every one of them
// must answer exactly as the unit-by-unit search of simd/byte_classes.hpp,
// reading nothing at or past index n:
//   sse2.hpp, with avx2.cpp and x86_dispatch.cpp   x86-64
//   neon.hpp                                       AArch64
//   byte_classes.hpp                               any other target, or
//                                                  MARQUILL_NO_SIMD
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "parser/simd/byte_classes.hpp"

#if defined(MARQUILL_NO_SIMD)
#define MARQUILL_SEARCH_SSE2 0
#define MARQUILL_SEARCH_NEON 0
#elif defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define MARQUILL_SEARCH_SSE2 1  // MSVC does not define __SSE2__, though x64 always has it
#define MARQUILL_SEARCH_NEON 0
#elif (defined(__aarch64__) && defined(__ARM_NEON) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) || defined(_M_ARM64)
#define MARQUILL_SEARCH_SSE2 0
#define MARQUILL_SEARCH_NEON 1
#else
#define MARQUILL_SEARCH_SSE2 0
#define MARQUILL_SEARCH_NEON 0
#endif

#if MARQUILL_SEARCH_SSE2
#include "parser/simd/sse2.hpp"
#elif MARQUILL_SEARCH_NEON
#include "parser/simd/neon.hpp"
#endif

namespace marquill {

// The search the parser uses, and its name for the tests to report.
namespace search {
#if MARQUILL_SEARCH_SSE2 || MARQUILL_SEARCH_NEON
#if MARQUILL_SEARCH_SSE2
using Vectors = sse2::Vectors;
inline constexpr const char* name = "sse2";
#else
using Vectors = neon::Vectors;
inline constexpr const char* name = "neon";
#endif
template <ByteClass wanted, class Unit>
int64_t find(const Unit* s, int64_t from, int64_t n) noexcept {
    return vector_search::find<Vectors, wanted>(s, from, n);
}
template <ByteClass wanted, class Unit>
uint64_t bits64(const Unit* p) noexcept {
    return vector_search::bits64<Vectors, wanted>(p);
}
template <class Unit>
int64_t skip_plain_text(const Unit* s, int64_t from, int64_t n) noexcept {
    return Vectors::skip_plain_text(s, from, n);
}
#if MARQUILL_SEARCH_SSE2
using sse2::holds_surrogate;
using sse2::or_of_bytes;
#else
using neon::holds_surrogate;
using neon::or_of_bytes;
#endif
#else
using bytewise::bits64;
using bytewise::find;
using bytewise::skip_plain_text;
inline constexpr const char* name = "bytewise";
#endif
}  // namespace search

// Bit k is set when unit k of the 64 at p is a markup unit.
template <class Unit>
uint64_t markup_bits(const Unit* p) noexcept {
    return search::bits64<ByteClass::markup>(p);
}
// Bit k is set when unit k of the n < 64 at p is a markup unit.
template <class Unit>
uint64_t markup_bits_below_64(const Unit* p, int64_t n) noexcept {
#if MARQUILL_SEARCH_SSE2
    if (n >= 16) return vector_search::bits_below_64<search::Vectors, ByteClass::markup>(p, n);
#endif
    // Padded with units that are not markup, so that nothing is read past
    // the line's end.
    Unit padded[64];
    std::memcpy(padded, p, static_cast<size_t>(n) * sizeof(Unit));
    std::fill(padded + n, padded + 64, Unit{0});
    return markup_bits(padded);
}

// Skips 64 units at a time while none is a markup unit: returns the start of
// the first 64 that hold one, or a point less than 64 from n.
template <class Unit>
int64_t skip_plain_text(const Unit* s, int64_t from, int64_t n) noexcept {
    return search::skip_plain_text(s, from, n);
}
template <class Unit>
int64_t find_close_brace(const Unit* s, int64_t from, int64_t n) noexcept {
    return search::find<ByteClass::closeBrace>(s, from, n);
}
template <class Unit>
int64_t find_brace(const Unit* s, int64_t from, int64_t n) noexcept {
    return search::find<ByteClass::brace>(s, from, n);
}

}  // namespace marquill
