// The AVX-512 kernel (F, BW and VL): sixty-four units a mask, read with
// masked loads, so that a line shorter than a window needs no copy and
// nothing past its end is read. Wider units are compared in their own lanes,
// but narrowed to bytes in the skip over plain text.
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
    static uint64_t markup(__m512i units) noexcept {
        const __m512i folded = _mm512_or_si512(units, splat(Unit{0x20}));
        return equal(folded, Unit{'{'}) | equal(folded, Unit{'}'});
    }
    template <class Unit>
    static uint64_t markup_mask(const Unit* p, int64_t count = 64) noexcept {
        return find(p, first_lanes(count), [](__m512i v) { return markup<Unit>(v); });
    }

    // What a scan of wider units gathers as it reads them: their OR, and the
    // lanes that held a surrogate. Lanes not read are 0, which changes
    // neither.
    template <class Unit>
    struct Survey {
        __m512i any;
        uint64_t found;
    };
    template <class Unit>
    static uint64_t surveyed_mask(const Unit* p, Survey<Unit>& survey) noexcept {
        return surveyed_mask(p, 64, survey);
    }
    template <class Unit>
    static uint64_t surveyed_mask(const Unit* p, int64_t count, Survey<Unit>& survey) noexcept {
        return find(p, first_lanes(count), [&](__m512i v) {
            survey.any = _mm512_or_si512(survey.any, v);
            survey.found |= surrogate_lanes(v, Unit{});
            return markup<Unit>(v);
        });
    }
    template <class Unit>
    static UnitsSummary<Unit> summary_of(const Survey<Unit>& survey) noexcept {
        return {or_of_lanes<Unit>(word_of(survey.any)), survey.found != 0};
    }

    // A skip only asks whether any unit is markup, so wider units are first
    // narrowed to bytes by packs, in whatever order those leave them. packus
    // reads its lanes as signed: units from 0x8000 become 0, those from 0x100
    // to 0x7fff become 0xff; neither is a markup byte.
    static __m512i load(const void* p) noexcept { return _mm512_loadu_si512(p); }
    static __m512i bytes_of_64(const uint8_t* p) noexcept { return load(p); }
    static __m512i bytes_of_64(const uint16_t* p) noexcept { return _mm512_packus_epi16(load(p), load(p + 32)); }
    static __m512i bytes_of_64(const uint32_t* p) noexcept {
        return _mm512_packus_epi16(_mm512_packs_epi32(load(p), load(p + 16)),
                                   _mm512_packs_epi32(load(p + 32), load(p + 48)));
    }

    // (byte | 0x20) ^ what a table of its low four bits holds, '{' for 0xb,
    // '}' for 0xd and 0 for the others, is 0 only for a markup byte (one from
    // 0x80 on looks up 0, and with bit 0x20 set no byte is 0): one lookup
    // and one ternary-logic operation a vector.
    static __m512i markup_zeros(__m512i bytes) noexcept {
        constexpr int orThenXor = (0xf0 | 0xcc) ^ 0xaa;  // (a | b) ^ c, from the operands' truth tables
        const __m512i table = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '{', 0, '}', 0, 0));
        return _mm512_ternarylogic_epi32(bytes, splat(uint8_t{0x20}), _mm512_shuffle_epi8(table, bytes), orThenXor);
    }

    // The least of the markup_zeros of `Groups` runs of 64 units at p.
    template <int Groups, class Unit>
    static __m512i least_zeros(const Unit* p) noexcept {
        if constexpr (Groups == 1) {
            return markup_zeros(bytes_of_64(p));
        } else {
            return _mm512_min_epu8(least_zeros<Groups / 2>(p), least_zeros<Groups / 2>(p + 32 * Groups));
        }
    }

    // 256 bytes of units, one test, from the cache line at or before `from`.
    // (Asking for the lines ahead, which helps the AVX2 kernel, made this
    // loop 2% slower on Zen 4.)
    template <class Unit>
    static int64_t skip_plain_text(const Unit* s, int64_t from, int64_t n) noexcept {
        constexpr int groups = 4 / sizeof(Unit);
        const Unit* p = aligned_back<64>(s + from);
        for (const Unit* end = s + n; end - p >= 64 * groups; p += 64 * groups) {
            const __m512i least = least_zeros<groups>(p);
            if (_mm512_testn_epi8_mask(least, least) != 0) break;
        }
        return skipped_to(s, from, p);
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

    // The OR of the lanes of v, folded into a word.
    static uint64_t word_of(__m512i v) noexcept {
        const __m256i half = _mm256_or_si256(_mm512_castsi512_si256(v), _mm512_extracti64x4_epi64(v, 1));
        const __m128i quarter = _mm_or_si128(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1));
        return static_cast<uint64_t>(_mm_cvtsi128_si64(quarter) | _mm_extract_epi64(quarter, 1));
    }
    static uint64_t or_of_bytes(const uint8_t* p, int64_t size) noexcept {
        __m512i any = _mm512_maskz_loadu_epi8(first_lanes(size), p);
        for (int64_t k = 64; k < size; k += 64)
            any = _mm512_or_si512(any, _mm512_maskz_loadu_epi8(first_lanes(size - k), p + k));
        return word_of(any);
    }

    // A surrogate's bits above the lowest eleven read 0xd800. Units of four
    // bytes are narrowed to two with unsigned saturation first: a surrogate
    // stays as it is, and a unit past 0xffff becomes 0xffff, which is none.
    // Lanes not read are 0, which is none either.
    static uint64_t surrogates(__m512i units16) noexcept {
        return _mm512_cmpeq_epi16_mask(_mm512_and_si512(units16, _mm512_set1_epi16(static_cast<short>(0xf800))),
                                       _mm512_set1_epi16(static_cast<short>(0xd800)));
    }
    static uint64_t surrogate_lanes(__m512i units, uint16_t) noexcept { return surrogates(units); }
    static uint64_t surrogate_lanes(__m512i units, uint32_t) noexcept {
        return _mm512_cmpeq_epi32_mask(_mm512_and_si512(units, _mm512_set1_epi32(static_cast<int>(0xfffff800u))),
                                       _mm512_set1_epi32(0xd800));
    }
    // Thirty-two units, those of `lanes`, into the OR `any` and the
    // surrogates `found`.
    static void take_in(const uint16_t* p, uint64_t lanes, __m512i& any, uint64_t& found) noexcept {
        const __m512i units = _mm512_maskz_loadu_epi16(static_cast<__mmask32>(lanes), p);
        any = _mm512_or_si512(any, units);
        found |= surrogates(units);
    }
    static void take_in(const uint32_t* p, uint64_t lanes, __m512i& any, uint64_t& found) noexcept {
        const __m512i low = _mm512_maskz_loadu_epi32(static_cast<__mmask16>(lanes), p);
        const __m512i high = _mm512_maskz_loadu_epi32(static_cast<__mmask16>(lanes >> 16), p + 16);
        any = _mm512_or_si512(any, _mm512_or_si512(low, high));
        found |= surrogates(_mm512_packus_epi32(low, high));
    }
    template <class Unit>
    static UnitsSummary<Unit> summarize(const Unit* s, int64_t n) noexcept {
        __m512i any = _mm512_setzero_si512();
        uint64_t found = 0;
        int64_t k = 0;
        for (; k + 32 <= n; k += 32) take_in(s + k, ~uint64_t{0}, any, found);
        if (k < n) take_in(s + k, first_lanes(n - k), any, found);
        return {or_of_lanes<Unit>(word_of(any)), found != 0};
    }
};

}  // namespace

extern const Kernel avx512Kernel = kernel_of<Avx512>("avx512");

}  // namespace marquill
#endif
