// Finding the next byte that can start or end markup ('{', '[' or ']').
// Plain text is skipped sixteen bytes at a time where SSE2 is available;
// the byte-by-byte search gives the same answer and handles the tail.
#pragma once

#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace marquill {

inline bool is_markup(char c) noexcept { return c == '{' || c == '[' || c == ']'; }

// Index of the first markup byte in [from, n) of `s`, or n.
inline int64_t find_markup_bytewise(const char* s, int64_t from, int64_t n) noexcept {
    while (from < n && !is_markup(s[from])) ++from;
    return from;
}

#ifdef __SSE2__
// Byte mask of the markup bytes in 16 bytes. '[' | 0x20 is '{', so one
// comparison finds both; ']' needs its own. Reads only the 16 bytes.
inline int markup_mask(const char* p) noexcept {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i folded = _mm_or_si128(chunk, _mm_set1_epi8(0x20));
    const __m128i opens = _mm_cmpeq_epi8(folded, _mm_set1_epi8('{'));
    const __m128i closes = _mm_cmpeq_epi8(chunk, _mm_set1_epi8(']'));
    return _mm_movemask_epi8(_mm_or_si128(opens, closes));
}

inline int64_t find_markup(const char* s, int64_t from, int64_t n) noexcept {
    // Long plain runs: test 64 bytes per step, then find the exact 16.
    for (; from + 64 <= n; from += 64) {
        const int any = markup_mask(s + from) | markup_mask(s + from + 16) |
                        markup_mask(s + from + 32) | markup_mask(s + from + 48);
        if (any != 0) break;
    }
    for (; from + 16 <= n; from += 16) {
        if (const int mask = markup_mask(s + from)) return from + __builtin_ctz(static_cast<unsigned>(mask));
    }
    return find_markup_bytewise(s, from, n);
}
#else
inline int64_t find_markup(const char* s, int64_t from, int64_t n) noexcept {
    return find_markup_bytewise(s, from, n);
}
#endif

}  // namespace marquill
