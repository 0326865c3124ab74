// The AVX-512 kernel (F, BW and VL): sixty-four units a mask, read with
// masked loads, so that a line shorter than a window needs no copy and
// nothing past its end is read. Wider units are compared in their own lanes.
// Compiled with those extensions enabled for this file only (CMakeLists.txt);
// chosen only where the processor has them (choice.cpp).
#include "parser/kernels/targets.hpp"

#if MARQUILL_X86_KERNELS
#include <immintrin.h>

#include "parser/scan_algorithm.hpp"

namespace marquill {
namespace {

// The lanes of the first `count` units of 64.
inline uint64_t first_lanes(int64_t count) noexcept {
    return count >= 64 ? ~uint64_t{0} : bits_below(static_cast<int>(count));
}

struct Avx512 {
    static constexpr bool maskedLoads = true;

    // The units of a class among the (up to) 64 units at p whose bits are set
    // in `lanes`; the others are not read. `Find` takes a vector of units and
    // gives the mask of those in the class.
    template <class Find>
    static uint64_t find(const uint8_t* p, uint64_t lanes, Find in_class) noexcept {
        return in_class(_mm512_maskz_loadu_epi8(lanes, p));
    }
    template <class Find>
    static uint64_t find(const uint16_t* p, uint64_t lanes, Find in_class) noexcept {
        const uint64_t low = in_class(_mm512_maskz_loadu_epi16(static_cast<__mmask32>(lanes), p));
        const uint64_t high = in_class(_mm512_maskz_loadu_epi16(static_cast<__mmask32>(lanes >> 32), p + 32));
        return low | high << 32;
    }
    template <class Find>
    static uint64_t find(const uint32_t* p, uint64_t lanes, Find in_class) noexcept {
        uint64_t bits = 0;
        for (int quarter = 0; quarter < 4; ++quarter) {
            const auto quarterLanes = static_cast<__mmask16>(lanes >> (16 * quarter));
            bits |= in_class(_mm512_maskz_loadu_epi32(quarterLanes, p + 16 * quarter)) << (16 * quarter);
        }
        return bits;
    }

    // The comparisons in the lanes of each width.
    static uint64_t equal(__m512i v, uint8_t c) noexcept {
        return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(static_cast<char>(c)));
    }
    static uint64_t equal(__m512i v, uint16_t c) noexcept {
        return _mm512_cmpeq_epi16_mask(v, _mm512_set1_epi16(static_cast<short>(c)));
    }
    static uint64_t equal(__m512i v, uint32_t c) noexcept {
        return _mm512_cmpeq_epi32_mask(v, _mm512_set1_epi32(static_cast<int>(c)));
    }
    // A vector of `c` in lanes of each width.
    static __m512i splat(uint8_t c) noexcept { return _mm512_set1_epi8(static_cast<char>(c)); }
    static __m512i splat(uint16_t c) noexcept { return _mm512_set1_epi16(static_cast<short>(c)); }
    static __m512i splat(uint32_t c) noexcept { return _mm512_set1_epi32(static_cast<int>(c)); }

    // '[' and '{', like ']' and '}', differ only in bit 0x20, and no other
    // unit becomes '{' or '}' when it is set.
    template <class Unit>
    static uint64_t markup_mask(const Unit* p, int64_t count = 64) noexcept {
        return find(p, first_lanes(count), [](__m512i v) {
            const __m512i folded = _mm512_or_si512(v, splat(Unit{0x20}));
            return equal(folded, Unit{'{'}) | equal(folded, Unit{'}'});
        });
    }

    // A unit is markup when (unit | 0x20) ^ '{' or (unit | 0x20) ^ '}' is 0:
    // two ternary-logic operations and a minimum per vector, and one test for
    // a zero lane per 256 bytes.
    template <class Unit>
    static __m512i markup_zeros(__m512i v) noexcept {
        constexpr int a = 0xf0, b = 0xcc, c = 0xaa;  // the operands' truth tables
        const __m512i opens = _mm512_ternarylogic_epi32(v, splat(Unit{0x20}), splat(Unit{'{'}), (a | b) ^ c);
        const __m512i closes = _mm512_ternarylogic_epi32(v, splat(Unit{0x20}), splat(Unit{'}'}), (a | b) ^ c);
        return minimum(opens, closes, Unit{});
    }
    static bool any_zero(__m512i v, uint8_t) noexcept { return _mm512_testn_epi8_mask(v, v) != 0; }
    static bool any_zero(__m512i v, uint16_t) noexcept { return _mm512_testn_epi16_mask(v, v) != 0; }
    static bool any_zero(__m512i v, uint32_t) noexcept { return _mm512_testn_epi32_mask(v, v) != 0; }
    static __m512i minimum(__m512i a, __m512i b, uint8_t) noexcept { return _mm512_min_epu8(a, b); }
    static __m512i minimum(__m512i a, __m512i b, uint16_t) noexcept { return _mm512_min_epu16(a, b); }
    static __m512i minimum(__m512i a, __m512i b, uint32_t) noexcept { return _mm512_min_epu32(a, b); }

    template <class Unit>
    static int64_t skip_plain_text(const Unit* s, int64_t from, int64_t n) noexcept {
        constexpr int64_t lanes = 64 / sizeof(Unit);
        constexpr int64_t step = 4 * lanes;
        auto zeros = [](const Unit* p) { return markup_zeros<Unit>(_mm512_loadu_si512(p)); };
        for (; from + step <= n; from += step) {
            const Unit* p = s + from;
            const __m512i least = minimum(minimum(zeros(p), zeros(p + lanes), Unit{}),
                                          minimum(zeros(p + 2 * lanes), zeros(p + 3 * lanes), Unit{}), Unit{});
            if (any_zero(least, Unit{})) return from;
        }
        return from;
    }

    // Unsigned saturation: a unit above 0xff becomes 0xff.
    static __m128i narrowed(const uint8_t* p, int64_t count) noexcept {
        return _mm_maskz_loadu_epi8(static_cast<__mmask16>(first_lanes(count)), p);
    }
    static __m128i narrowed(const uint16_t* p, int64_t count) noexcept {
        return _mm256_cvtusepi16_epi8(_mm256_maskz_loadu_epi16(static_cast<__mmask16>(first_lanes(count)), p));
    }
    static __m128i narrowed(const uint32_t* p, int64_t count) noexcept {
        return _mm512_cvtusepi32_epi8(_mm512_maskz_loadu_epi32(static_cast<__mmask16>(first_lanes(count)), p));
    }
    template <class Unit>
    static Bytes16 narrow16(const Unit* p, int64_t count = 16) noexcept {
        const __m128i v = narrowed(p, count);
        return {static_cast<uint64_t>(_mm_cvtsi128_si64(v)), static_cast<uint64_t>(_mm_extract_epi64(v, 1))};
    }

    static uint64_t or_of_bytes(const uint8_t* p, int64_t size) noexcept {
        __m512i any = _mm512_maskz_loadu_epi8(first_lanes(size), p);
        for (int64_t k = 64; k < size; k += 64)
            any = _mm512_or_si512(any, _mm512_maskz_loadu_epi8(first_lanes(size - k), p + k));
        const __m256i half = _mm256_or_si256(_mm512_castsi512_si256(any), _mm512_extracti64x4_epi64(any, 1));
        const __m128i quarter = _mm_or_si128(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1));
        return static_cast<uint64_t>(_mm_cvtsi128_si64(quarter) | _mm_extract_epi64(quarter, 1));
    }

    // A surrogate's bits above the lowest eleven read 0xd800. Units of four
    // bytes are narrowed to two with unsigned saturation first: a surrogate
    // stays as it is, and a unit past 0xffff becomes 0xffff, which is none.
    // Lanes not read are 0, which is none either.
    static uint64_t surrogates(__m512i units) noexcept {
        return _mm512_cmpeq_epi16_mask(_mm512_and_si512(units, _mm512_set1_epi16(static_cast<short>(0xf800))),
                                       _mm512_set1_epi16(static_cast<short>(0xd800)));
    }
    static __m512i thirty_two_units(const uint16_t* p) noexcept { return _mm512_loadu_si512(p); }
    static __m512i thirty_two_units(const uint32_t* p) noexcept {
        return _mm512_packus_epi32(_mm512_loadu_si512(p), _mm512_loadu_si512(p + 16));
    }
    static __m512i thirty_two_units(const uint16_t* p, uint64_t lanes) noexcept {
        return _mm512_maskz_loadu_epi16(static_cast<__mmask32>(lanes), p);
    }
    static __m512i thirty_two_units(const uint32_t* p, uint64_t lanes) noexcept {
        return _mm512_packus_epi32(_mm512_maskz_loadu_epi32(static_cast<__mmask16>(lanes), p),
                                   _mm512_maskz_loadu_epi32(static_cast<__mmask16>(lanes >> 16), p + 16));
    }
    template <class Unit>
    static bool holds_surrogate(const Unit* s, int64_t n) noexcept {
        uint64_t found = 0;
        int64_t k = 0;
        for (; k + 32 <= n; k += 32) found |= surrogates(thirty_two_units(s + k));
        if (k < n) found |= surrogates(thirty_two_units(s + k, first_lanes(n - k)));
        return found != 0;
    }
};

}  // namespace

extern const Kernel avx512Kernel = kernel_of<Avx512>("avx512");

}  // namespace marquill
#endif
