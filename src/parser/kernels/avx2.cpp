// The AVX2 kernel: thirty-two units a vector, wider units narrowed to bytes
// with saturation. Compiled with AVX2 and BMI1/2 enabled for this file only
// (CMakeLists.txt); chosen only where the processor has them (choice.cpp).
#include "parser/kernels/targets.hpp"

#if MARQUILL_X86_KERNELS
#include <immintrin.h>

#include "parser/scan_algorithm.hpp"

namespace marquill {
namespace {

struct Avx2 : BlockWindows<Avx2, 32> {
    static __m256i load(const void* p) noexcept { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }

    // 32 units as 32 bytes, in order. The packs work within each 128-bit
    // half, and the permutes put the halves' pieces back in line order.
    // Units of four bytes are first narrowed to two with unsigned
    // saturation. packus_epi16 reads its lanes as signed: units from 0x8000
    // become 0, those from 0x100 to 0x7fff become 0xff; neither is a markup
    // byte.
    static __m256i bytes_of(__m256i low16, __m256i high16) noexcept {
        return _mm256_permute4x64_epi64(_mm256_packus_epi16(low16, high16), 0xd8);
    }
    static __m256i bytes_of_words(__m256i words01, __m256i words23) noexcept {
        return _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words01, words23),
                                           _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    }
    static __m256i load32(const uint8_t* p) noexcept { return load(p); }
    static __m256i load32(const uint16_t* p) noexcept { return bytes_of(load(p), load(p + 16)); }
    static __m256i load32(const uint32_t* p) noexcept {
        return bytes_of_words(_mm256_packus_epi32(load(p), load(p + 8)),
                              _mm256_packus_epi32(load(p + 16), load(p + 24)));
    }

    // '[' and '{', like ']' and '}', differ only in bit 0x20, and no other
    // byte becomes '{' or '}' when it is set. So a byte is markup when, with
    // that bit set, it equals what a table of its low four bits holds: '{'
    // for 0xb, '}' for 0xd, and 0, which no such byte is, for the others.
    // A byte from 0x80 on looks up 0 (vpshufb). One lookup and one compare.
    static __m256i markup(__m256i v) noexcept {
        const __m256i table = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '{', 0, '}', 0, 0,  //
                                               0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '{', 0, '}', 0, 0);
        return _mm256_cmpeq_epi8(_mm256_or_si256(v, _mm256_set1_epi8(0x20)), _mm256_shuffle_epi8(table, v));
    }
    static uint64_t bits(__m256i m) noexcept { return static_cast<uint32_t>(_mm256_movemask_epi8(m)); }

    template <class Unit>
    static uint64_t markup_block(const Unit* p) noexcept {
        return bits(markup(load32(p)));
    }

    // What a scan of wider units gathers as it reads them: their OR, in
    // lanes of their width, and the 2-byte lanes that held a surrogate.
    template <class Unit>
    struct Survey {
        __m256i any;
        __m256i found;
    };
    static uint64_t markup_block(const uint16_t* p, Survey<uint16_t>& survey) noexcept {
        const __m256i low = load(p);
        const __m256i high = load(p + 16);
        survey.any = _mm256_or_si256(survey.any, _mm256_or_si256(low, high));
        survey.found = _mm256_or_si256(survey.found, _mm256_or_si256(surrogates(low), surrogates(high)));
        return bits(markup(bytes_of(low, high)));
    }
    static uint64_t markup_block(const uint32_t* p, Survey<uint32_t>& survey) noexcept {
        const __m256i units[4] = {load(p), load(p + 8), load(p + 16), load(p + 24)};
        survey.any = _mm256_or_si256(
            survey.any, _mm256_or_si256(_mm256_or_si256(units[0], units[1]), _mm256_or_si256(units[2], units[3])));
        const __m256i words01 = _mm256_packus_epi32(units[0], units[1]);
        const __m256i words23 = _mm256_packus_epi32(units[2], units[3]);
        survey.found = _mm256_or_si256(survey.found, _mm256_or_si256(surrogates(words01), surrogates(words23)));
        return bits(markup(bytes_of_words(words01, words23)));
    }
    template <class Unit>
    static UnitsSummary<Unit> summary_of(const Survey<Unit>& survey) noexcept {
        const __m128i half = _mm_or_si128(_mm256_castsi256_si128(survey.any), _mm256_extracti128_si256(survey.any, 1));
        return {or_of_lanes<Unit>(word_of(half)), !_mm256_testz_si256(survey.found, survey.found)};
    }

    // A skip only asks whether any unit is markup, so the order the packs
    // leave is of no concern here.
    static __m256i markup_of_64(const uint8_t* p) noexcept {
        return _mm256_or_si256(markup(load(p)), markup(load(p + 32)));
    }
    static __m256i markup_of_64(const uint16_t* p) noexcept {
        return _mm256_or_si256(markup(_mm256_packus_epi16(load(p), load(p + 16))),
                               markup(_mm256_packus_epi16(load(p + 32), load(p + 48))));
    }
    static __m256i markup_of_64(const uint32_t* p) noexcept {
        auto narrow = [](const uint32_t* q) {
            return _mm256_packus_epi16(_mm256_packs_epi32(load(q), load(q + 8)),
                                       _mm256_packs_epi32(load(q + 16), load(q + 24)));
        };
        return _mm256_or_si256(markup(narrow(p)), markup(narrow(p + 32)));
    }
    // 128 units, one test (a move of the mask, one operation where vptest
    // is two), from the 32 bytes at or before `from`. Over bytes and 4-byte
    // units the lines 512 bytes ahead are asked for on the way, which the
    // processor's own prefetch does too late for this loop: on Zen 4 that
    // made the skip 5 to 7% faster on bytes (where memchr's one compare a
    // vector needs no help) and 17% on 4-byte units, but 5% slower on 2-byte
    // ones.
    template <class Unit>
    static int64_t skip_plain_text(const Unit* s, int64_t from, int64_t n) noexcept {
        constexpr int64_t linesAhead = sizeof(Unit) == 2 ? 0 : 128 * sizeof(Unit) / 64;
        const Unit* p = aligned_back<32>(s + from);
        for (const Unit* end = s + n; end - p >= 128; p += 128) {
            const char* ahead = reinterpret_cast<const char*>(p) + 512;
            for (int64_t line = 0; line < linesAhead; ++line) _mm_prefetch(ahead + 64 * line, _MM_HINT_T0);
            if (_mm256_movemask_epi8(_mm256_or_si256(markup_of_64(p), markup_of_64(p + 64))) != 0) break;
        }
        return skipped_to(s, from, p);
    }

    template <class Unit>
    static Bytes16 narrow16(const Unit* p) noexcept {
        __m128i v;
        if constexpr (sizeof(Unit) == 1) {
            v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        } else if constexpr (sizeof(Unit) == 2) {
            const __m256i units = load(p);
            v = _mm_packus_epi16(_mm256_castsi256_si128(units), _mm256_extracti128_si256(units, 1));
        } else {
            // packs leaves units 0-3 8-11 | 4-7 12-15; the permute orders them
            const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(load(p), load(p + 8)), 0xd8);
            v = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
        }
        return {static_cast<uint64_t>(_mm_cvtsi128_si64(v)), static_cast<uint64_t>(_mm_extract_epi64(v, 1))};
    }
    template <class Unit>
    static Bytes16 narrow16(const Unit* p, int64_t count) noexcept {
        return count == 16 ? narrow16(p) : narrow16_padded<Avx2>(p, count);
    }

    // The OR of the two halves of v.
    static uint64_t word_of(__m128i v) noexcept {
        return static_cast<uint64_t>(_mm_cvtsi128_si64(v) | _mm_extract_epi64(v, 1));
    }
    static uint64_t or_of_bytes(const uint8_t* p, int64_t size) noexcept {
        if (size < 32) {
            const __m128i any = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + size - 16)));
            return word_of(any);
        }
        __m256i any = load(p + size - 32);
        for (int64_t k = 0; k + 32 <= size; k += 32) any = _mm256_or_si256(any, load(p + k));
        const __m128i half = _mm_or_si128(_mm256_castsi256_si128(any), _mm256_extracti128_si256(any, 1));
        return word_of(half);
    }

    // A surrogate's bits above the lowest eleven read 0xd800. Units of four
    // bytes are narrowed to two with unsigned saturation first: a surrogate
    // stays as it is, and a unit past 0xffff becomes 0xffff, which is none.
    static __m256i surrogates(__m256i units16) noexcept {
        return _mm256_cmpeq_epi16(_mm256_and_si256(units16, _mm256_set1_epi16(static_cast<short>(0xf800))),
                                  _mm256_set1_epi16(static_cast<short>(0xd800)));
    }
    static __m128i surrogates(__m128i units, uint16_t) noexcept {
        return _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xf800))),
                               _mm_set1_epi16(static_cast<short>(0xd800)));
    }
    static __m128i surrogates(__m128i units, uint32_t) noexcept {
        return _mm_cmpeq_epi32(_mm_and_si128(units, _mm_set1_epi32(static_cast<int>(0xfffff800u))),
                               _mm_set1_epi32(0xd800));
    }
    // Sixteen units into the OR `any` and the surrogates `found`.
    static void take_in(const uint16_t* p, __m256i& any, __m256i& found) noexcept {
        const __m256i units = load(p);
        any = _mm256_or_si256(any, units);
        found = _mm256_or_si256(found, surrogates(units));
    }
    static void take_in(const uint32_t* p, __m256i& any, __m256i& found) noexcept {
        const __m256i low = load(p);
        const __m256i high = load(p + 8);
        any = _mm256_or_si256(any, _mm256_or_si256(low, high));
        found = _mm256_or_si256(found, surrogates(_mm256_packus_epi32(low, high)));
    }
    // Sixteen units at a time, the last sixteen read again; fewer, sixteen
    // bytes at a time.
    template <class Unit>
    static UnitsSummary<Unit> summarize(const Unit* s, int64_t n) noexcept {
        if (n < 16) {
            constexpr int64_t lanes = 16 / sizeof(Unit);
            __m128i any = _mm_setzero_si128();
            __m128i found = _mm_setzero_si128();
            auto take_in_16_bytes = [&](const Unit* p) {
                const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                any = _mm_or_si128(any, units);
                found = _mm_or_si128(found, surrogates(units, Unit{}));
            };
            take_in_16_bytes(s + n - lanes);
            for (int64_t k = 0; k + lanes <= n; k += lanes) take_in_16_bytes(s + k);
            return {or_of_lanes<Unit>(word_of(any)), _mm_movemask_epi8(found) != 0};
        }
        __m256i any = _mm256_setzero_si256();
        __m256i found = _mm256_setzero_si256();
        take_in(s + n - 16, any, found);
        int64_t k = 0;
        for (; k + 32 <= n; k += 32) {  // two at a time: the loop's own instructions were a quarter of it
            take_in(s + k, any, found);
            take_in(s + k + 16, any, found);
        }
        if (k + 16 <= n) take_in(s + k, any, found);
        const __m128i half = _mm_or_si128(_mm256_castsi256_si128(any), _mm256_extracti128_si256(any, 1));
        return {or_of_lanes<Unit>(word_of(half)), !_mm256_testz_si256(found, found)};
    }
};

}  // namespace

extern const Kernel avx2Kernel = kernel_of<Avx2>("avx2");

}  // namespace marquill
#endif
