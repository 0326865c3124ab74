// The long plain-text skip with AVX2's 32-byte registers, for each width of
// code unit. Only called where the processor has AVX2 (x86_dispatch.cpp).
#include "parser/markup_search.hpp"

#if MARQUILL_SEARCH_SSE2
#include <immintrin.h>

// GCC and Clang compile AVX2 code only in functions marked for it; MSVC
// compiles any intrinsic anywhere.
#if defined(__GNUC__) || defined(__clang__)
#define MARQUILL_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define MARQUILL_TARGET_AVX2
#endif

namespace marquill::sse2 {

namespace {

MARQUILL_TARGET_AVX2 __m256i load(const void* p) noexcept { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }

// 64 units narrowed to two vectors of bytes with saturation, as the SSE2
// loads do. The packs work within each 128-bit half, which mixes the order
// of the bytes; a skip only asks whether any of them is markup.
MARQUILL_TARGET_AVX2 void load_64(const uint8_t* p, __m256i& low, __m256i& high) noexcept {
    low = load(p);
    high = load(p + 32);
}

MARQUILL_TARGET_AVX2 void load_64(const uint16_t* p, __m256i& low, __m256i& high) noexcept {
    low = _mm256_packus_epi16(load(p), load(p + 16));
    high = _mm256_packus_epi16(load(p + 32), load(p + 48));
}

MARQUILL_TARGET_AVX2 void load_64(const uint32_t* p, __m256i& low, __m256i& high) noexcept {
    low = _mm256_packus_epi16(_mm256_packs_epi32(load(p), load(p + 8)), _mm256_packs_epi32(load(p + 16), load(p + 24)));
    high = _mm256_packus_epi16(_mm256_packs_epi32(load(p + 32), load(p + 40)),
                               _mm256_packs_epi32(load(p + 48), load(p + 56)));
}

MARQUILL_TARGET_AVX2 __m256i markup(__m256i v) noexcept {
    return _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_or_si256(v, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('{')),
                           _mm256_cmpeq_epi8(v, _mm256_set1_epi8(']')));
}

template <class Unit>
MARQUILL_TARGET_AVX2 int64_t skip_by_64(const Unit* s, int64_t from, int64_t n) noexcept {
    for (; from + 64 <= n; from += 64) {
        __m256i low, high;
        load_64(s + from, low, high);
        const __m256i hits = _mm256_or_si256(markup(low), markup(high));
        if (!_mm256_testz_si256(hits, hits)) break;
    }
    return from;
}

}  // namespace

int64_t skip_plain_text_avx2(const uint8_t* s, int64_t from, int64_t n) noexcept { return skip_by_64(s, from, n); }
int64_t skip_plain_text_avx2(const uint16_t* s, int64_t from, int64_t n) noexcept { return skip_by_64(s, from, n); }
int64_t skip_plain_text_avx2(const uint32_t* s, int64_t from, int64_t n) noexcept { return skip_by_64(s, from, n); }

}  // namespace marquill::sse2
#endif
