// Searches for the bytes that matter to the scan: the next markup byte
// ('{', '[' or ']'), and inside a raw block's look-ahead the next '}' or the
// next brace of either kind; and counts of the bytes that open or close a
// tag. Where SSE2 is available plain text is skipped
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
inline bool is_opener(char c) noexcept { return c == '[' || c == '{'; }
inline bool is_closer(char c) noexcept { return c == ']' || c == '}'; }

// Index of the first byte in [from, n) of `s` that `wanted` accepts, or n.
template <bool (*wanted)(char)>
int64_t find_bytewise(const char* s, int64_t from, int64_t n) noexcept {
    while (from < n && !wanted(s[from])) ++from;
    return from;
}

// How many of the first n bytes of `s` `wanted` accepts.
template <bool (*wanted)(char)>
size_t count_bytewise(const char* s, int64_t n) noexcept {
    size_t count = 0;
    for (int64_t k = 0; k < n; ++k) count += wanted(s[k]) ? 1 : 0;
    return count;
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

// '[' and '{', and ']' and '}', differ only in bit 0x20.
inline __m128i opener_bytes(const char* p) noexcept {
    return bytes_equal(_mm_or_si128(load16(p), _mm_set1_epi8(0x20)), '{');
}
inline __m128i closer_bytes(const char* p) noexcept {
    return bytes_equal(_mm_or_si128(load16(p), _mm_set1_epi8(0x20)), '}');
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

// Counts 16 bytes at a time in byte-wide counters (a matching byte is
// 0xff, that is -1), which are summed before any of them can pass 255.
template <__m128i (*wantedBytes)(const char*), bool (*wanted)(char)>
size_t count_fast(const char* s, int64_t n) noexcept {
    size_t count = 0;
    int64_t k = 0;
    while (k + 16 <= n) {
        __m128i counters = _mm_setzero_si128();
        for (int round = 0; round < 255 && k + 16 <= n; ++round, k += 16) {
            counters = _mm_sub_epi8(counters, wantedBytes(s + k));
        }
        const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
        count += static_cast<size_t>(_mm_cvtsi128_si32(sums)) +
                 static_cast<size_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
    }
    return count + count_bytewise<wanted>(s + k, n - k);
}

inline size_t count_openers(const char* s, int64_t n) noexcept { return count_fast<opener_bytes, is_opener>(s, n); }
inline size_t count_closers(const char* s, int64_t n) noexcept { return count_fast<closer_bytes, is_closer>(s, n); }

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
inline size_t count_openers(const char* s, int64_t n) noexcept { return count_bytewise<is_opener>(s, n); }
inline size_t count_closers(const char* s, int64_t n) noexcept { return count_bytewise<is_closer>(s, n); }

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
