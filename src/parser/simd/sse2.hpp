// The vector operations on x86-64 with SSE2, which every x86-64 processor
// has. Included only where the compiler targets it (markup_search.hpp).
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "parser/simd/byte_classes.hpp"
#include "parser/simd/vector_search.hpp"

namespace marquill::sse2 {

// skip_by_64 for markup, with 32-byte registers where the processor has AVX2
// (chosen once, at run time; x86_dispatch.cpp). Long plain text is where the
// scan spends its time, so only this search gets the wider registers.
int64_t skip_plain_text(const uint8_t* s, int64_t from, int64_t n) noexcept;
int64_t skip_plain_text(const uint16_t* s, int64_t from, int64_t n) noexcept;
int64_t skip_plain_text(const uint32_t* s, int64_t from, int64_t n) noexcept;

struct Vectors {
    using Vector = __m128i;
    static constexpr int bitsPerByte = 1;

    static Vector load(const uint8_t* p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    // packus reads its lanes as signed: units from 0x8000 become 0, those
    // from 0x100 to 0x7fff become 0xff; neither is a markup byte.
    static Vector load(const uint16_t* p) noexcept {
        return _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)));
    }
    static Vector load(const uint32_t* p) noexcept {
        const auto* q = reinterpret_cast<const __m128i*>(p);
        return _mm_packus_epi16(_mm_packs_epi32(_mm_loadu_si128(q), _mm_loadu_si128(q + 1)),
                                _mm_packs_epi32(_mm_loadu_si128(q + 2), _mm_loadu_si128(q + 3)));
    }
    static Vector equal(Vector v, char c) noexcept { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); }
    static Vector folded_equal(Vector v, char c) noexcept {
        return _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8(c));
    }
    static Vector either(Vector a, Vector b) noexcept { return _mm_or_si128(a, b); }

    static uint64_t bits(Vector m) noexcept { return static_cast<unsigned>(_mm_movemask_epi8(m)); }
    static uint64_t bits64(Vector m0, Vector m1, Vector m2, Vector m3) noexcept {
        return bits(m0) | bits(m1) << 16 | bits(m2) << 32 | bits(m3) << 48;
    }
    template <class Unit>
    static int64_t skip_plain_text(const Unit* s, int64_t from, int64_t n) noexcept {
        return sse2::skip_plain_text(s, from, n);
    }
};

// The OR of the `size >= 16` bytes at p, as one word: the last 16 bytes are
// read again, overlapping the blocks before (unit_values.hpp).
inline uint64_t or_of_bytes(const uint8_t* p, int64_t size) noexcept {
    __m128i any = Vectors::load(p + size - 16);
    for (int64_t k = 0; k + 16 <= size; k += 16) any = _mm_or_si128(any, Vectors::load(p + k));
    alignas(16) uint64_t halves[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(halves), any);
    return halves[0] | halves[1];
}

// Whether one of the n units at s, 16 bytes or more, is a surrogate: its bits
// above the lowest eleven read 0xd800. Four vectors a round, as a line of
// wide units is long in bytes.
template <class Unit, class Surrogates>
bool holds_surrogate(const Unit* s, int64_t n, Surrogates surrogates) noexcept {
    constexpr int64_t lanes = 16 / sizeof(Unit);
    __m128i found = surrogates(s + n - lanes);
    int64_t k = 0;
    for (; k + 4 * lanes <= n; k += 4 * lanes) {
        found = _mm_or_si128(found,
                             _mm_or_si128(_mm_or_si128(surrogates(s + k), surrogates(s + k + lanes)),
                                          _mm_or_si128(surrogates(s + k + 2 * lanes), surrogates(s + k + 3 * lanes))));
    }
    for (; k + lanes <= n; k += lanes) found = _mm_or_si128(found, surrogates(s + k));
    return _mm_movemask_epi8(found) != 0;
}
inline bool holds_surrogate(const uint16_t* s, int64_t n) noexcept {
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xf800));
    const __m128i first = _mm_set1_epi16(static_cast<short>(0xd800));
    return holds_surrogate(s, n, [&](const uint16_t* p) {
        return _mm_cmpeq_epi16(_mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), high), first);
    });
}
inline bool holds_surrogate(const uint32_t* s, int64_t n) noexcept {
    const __m128i high = _mm_set1_epi32(static_cast<int>(0xfffff800u));
    const __m128i first = _mm_set1_epi32(0xd800);
    return holds_surrogate(s, n, [&](const uint32_t* p) {
        return _mm_cmpeq_epi32(_mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), high), first);
    });
}

// The two widths of the long plain-text skip, for the tests to compare.
template <class Unit>
int64_t skip_plain_text_sse2(const Unit* s, int64_t from, int64_t n) noexcept {
    return vector_search::skip_by_64<Vectors, ByteClass::markup>(s, from, n);
}
int64_t skip_plain_text_avx2(const uint8_t* s, int64_t from, int64_t n) noexcept;
int64_t skip_plain_text_avx2(const uint16_t* s, int64_t from, int64_t n) noexcept;
int64_t skip_plain_text_avx2(const uint32_t* s, int64_t from, int64_t n) noexcept;
bool has_avx2() noexcept;

}  // namespace marquill::sse2
