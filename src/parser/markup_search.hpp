// Searches for the bytes that matter to the scan: the next markup byte
// ('{', '[' or ']'), and inside a raw block's look-ahead the next '}' or the
// next brace of either kind. Where SSE2 is available plain text is skipped
// sixteen bytes at a time; the byte-by-byte search gives the same answers
// and handles the tail, so nothing is read at or past index n.
#pragma once

#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace marquill {

inline bool is_markup(char c) noexcept { return c == '{' || c == '[' || c == ']'; }
inline bool is_close_brace(char c) noexcept { return c == '}'; }
inline bool is_brace(char c) noexcept { return c == '{' || c == '}'; }

// Index of the first byte in [from, n) of `s` that `wanted` accepts, or n.
template <bool (*wanted)(char)>
int64_t find_bytewise(const char* s, int64_t from, int64_t n) noexcept {
    while (from < n && !wanted(s[from])) ++from;
    return from;
}

#ifdef __SSE2__
inline __m128i load16(const char* p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i bytes_equal(__m128i chunk, char c) noexcept { return _mm_cmpeq_epi8(chunk, _mm_set1_epi8(c)); }

// Byte k of the result is 0xff when byte k of the 16 at p is wanted. '[' |
// 0x20 is '{', so one comparison finds both openers.
inline __m128i markup_bytes(const char* p) noexcept {
    const __m128i chunk = load16(p);
    const __m128i opens = bytes_equal(_mm_or_si128(chunk, _mm_set1_epi8(0x20)), '{');
    return _mm_or_si128(opens, bytes_equal(chunk, ']'));
}
inline __m128i close_brace_bytes(const char* p) noexcept { return bytes_equal(load16(p), '}'); }
inline __m128i brace_bytes(const char* p) noexcept {
    const __m128i chunk = load16(p);
    return _mm_or_si128(bytes_equal(chunk, '{'), bytes_equal(chunk, '}'));
}

template <__m128i (*wantedBytes)(const char*)>
unsigned mask16(const char* p) noexcept {
    return static_cast<unsigned>(_mm_movemask_epi8(wantedBytes(p)));
}

// Skips 64 bytes at a time while none of them is wanted: returns the start
// of the first 64 that hold a wanted byte, or a point less than 64 from n.
template <__m128i (*wantedBytes)(const char*)>
inline int64_t skip_by_64(const char* s, int64_t from, int64_t n) noexcept {
    for (; from + 64 <= n; from += 64) {
        const __m128i any = _mm_or_si128(_mm_or_si128(wantedBytes(s + from), wantedBytes(s + from + 16)),
                                         _mm_or_si128(wantedBytes(s + from + 32), wantedBytes(s + from + 48)));
        if (_mm_movemask_epi8(any) != 0) break;
    }
    return from;
}

// skip_by_64 for markup bytes, with 32-byte registers where the processor
// has AVX2 (chosen once, at run time). Long plain text is where the scan
// spends its time, so only this search gets the wider registers.
int64_t skip_plain_text(const char* s, int64_t from, int64_t n) noexcept;
int64_t skip_plain_text_sse2(const char* s, int64_t from, int64_t n) noexcept;
int64_t skip_plain_text_avx2(const char* s, int64_t from, int64_t n) noexcept;
bool has_avx2() noexcept;

template <__m128i (*wantedBytes)(const char*), bool (*wanted)(char),
          int64_t (*skipLong)(const char*, int64_t, int64_t) = skip_by_64<wantedBytes>>
inline int64_t find_fast(const char* s, int64_t from, int64_t n) noexcept {
    // What is left of a line of dialogue is searched right here; only longer
    // runs are worth the call to the widest search the processor has.
    if (from + 256 <= n) from = skipLong(s, from, n);
    from = skip_by_64<wantedBytes>(s, from, n);
    for (; from + 16 <= n; from += 16) {
        if (const unsigned bits = mask16<wantedBytes>(s + from)) return from + __builtin_ctz(bits);
    }
    if (from == n || n < 16) return find_bytewise<wanted>(s, from, n);
    // The tail: the input's last 16 bytes, less those before `from`.
    const unsigned bits = mask16<wantedBytes>(s + n - 16) >> (from - (n - 16));
    return bits != 0 ? from + __builtin_ctz(bits) : n;
}

inline int64_t find_markup(const char* s, int64_t from, int64_t n) noexcept {
    return find_fast<markup_bytes, is_markup, skip_plain_text>(s, from, n);
}
inline int64_t find_close_brace(const char* s, int64_t from, int64_t n) noexcept {
    return find_fast<close_brace_bytes, is_close_brace>(s, from, n);
}
inline int64_t find_brace(const char* s, int64_t from, int64_t n) noexcept {
    return find_fast<brace_bytes, is_brace>(s, from, n);
}
#else
inline int64_t find_markup(const char* s, int64_t from, int64_t n) noexcept {
    return find_bytewise<is_markup>(s, from, n);
}
inline int64_t find_close_brace(const char* s, int64_t from, int64_t n) noexcept {
    return find_bytewise<is_close_brace>(s, from, n);
}
inline int64_t find_brace(const char* s, int64_t from, int64_t n) noexcept {
    return find_bytewise<is_brace>(s, from, n);
}
#endif

}  // namespace marquill
