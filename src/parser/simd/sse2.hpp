// The vector operations on x86-64 with SSE2, which every x86-64 processor
// has. Included only where the compiler targets it (markup_search.hpp).
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "parser/simd/byte_classes.hpp"
#include "parser/simd/vector_search.hpp"

namespace marquill::sse2 {

// skip_by_64 for markup, with 32-byte registers where the processor has AVX2
// (chosen once, at run time; avx2.cpp). Long plain text is where the scan
// spends its time, so only this search gets the wider registers.
int64_t skip_plain_text(const char* s, int64_t from, int64_t n) noexcept;

struct Vectors {
    using Vector = __m128i;
    static constexpr int bitsPerByte = 1;

    static Vector load(const char* p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static Vector equal(Vector v, char c) noexcept { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); }
    static Vector folded_equal(Vector v, char c) noexcept {
        return _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8(c));
    }
    static Vector either(Vector a, Vector b) noexcept { return _mm_or_si128(a, b); }
    static Vector signed_greater(Vector v, char c) noexcept { return _mm_cmpgt_epi8(v, _mm_set1_epi8(c)); }

    static uint64_t bits(Vector m) noexcept { return static_cast<unsigned>(_mm_movemask_epi8(m)); }
    static uint64_t bits64(Vector m0, Vector m1, Vector m2, Vector m3) noexcept {
        return bits(m0) | bits(m1) << 16 | bits(m2) << 32 | bits(m3) << 48;
    }
    static Vector zero() noexcept { return _mm_setzero_si128(); }
    static Vector minus(Vector a, Vector b) noexcept { return _mm_sub_epi8(a, b); }
    static size_t sum_bytes(Vector v) noexcept {
        const __m128i sums = _mm_sad_epu8(v, _mm_setzero_si128());
        return static_cast<size_t>(_mm_cvtsi128_si32(sums)) +
               static_cast<size_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
    }
    static int64_t skip_plain_text(const char* s, int64_t from, int64_t n) noexcept {
        return sse2::skip_plain_text(s, from, n);
    }
};

// The two widths of the long plain-text skip, for the tests to compare.
int64_t skip_plain_text_sse2(const char* s, int64_t from, int64_t n) noexcept;
int64_t skip_plain_text_avx2(const char* s, int64_t from, int64_t n) noexcept;
bool has_avx2() noexcept;

}  // namespace marquill::sse2
