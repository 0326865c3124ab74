// The SSE2 kernel, for every x86-64 processor: sixteen units a vector, wider
// units narrowed to bytes with saturation.
#include "parser/kernels/targets.hpp"

#if MARQUILL_X86_KERNELS
#include <emmintrin.h>

#include "parser/scan_algorithm.hpp"

namespace marquill {
namespace {

struct Sse2 : BlockWindows<Sse2, 16> {
    // packus reads its lanes as signed: units from 0x8000 become 0, those
    // from 0x100 to 0x7fff become 0xff; neither is a markup byte.
    static __m128i load(const uint8_t* p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static __m128i load(const uint16_t* p) noexcept {
        return _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)));
    }
    static __m128i load(const uint32_t* p) noexcept {
        const auto* q = reinterpret_cast<const __m128i*>(p);
        return _mm_packus_epi16(_mm_packs_epi32(_mm_loadu_si128(q), _mm_loadu_si128(q + 1)),
                                _mm_packs_epi32(_mm_loadu_si128(q + 2), _mm_loadu_si128(q + 3)));
    }

    static __m128i equal(__m128i v, char c) noexcept { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); }
    // '[' and '{', like ']' and '}', differ only in bit 0x20, and no other
    // byte becomes '{' or '}' when it is set.
    static __m128i markup(__m128i v) noexcept {
        const __m128i folded = _mm_or_si128(v, _mm_set1_epi8(0x20));
        return _mm_or_si128(equal(folded, '{'), equal(folded, '}'));
    }
    static uint64_t bits(__m128i m) noexcept { return static_cast<unsigned>(_mm_movemask_epi8(m)); }

    template <class Unit>
    static uint64_t markup_block(const Unit* p) noexcept {
        return bits(markup(load(p)));
    }

    // What a scan of wider units gathers as it reads them: their OR, in
    // lanes of their width, and the lanes that held a surrogate.
    template <class Unit>
    struct Survey {
        __m128i any;
        __m128i found;
    };
    template <class Unit>
    static uint64_t markup_block(const Unit* p, Survey<Unit>& survey) noexcept {
        const auto* vectors = reinterpret_cast<const __m128i*>(p);
        for (int k = 0; k < static_cast<int>(sizeof(Unit)); ++k) {
            const __m128i units = _mm_loadu_si128(vectors + k);
            survey.any = _mm_or_si128(survey.any, units);
            survey.found = _mm_or_si128(survey.found, surrogates(units, Unit{}));
        }
        return markup_block(p);
    }
    template <class Unit>
    static UnitsSummary<Unit> summary_of(const Survey<Unit>& survey) noexcept {
        const __m128i any = _mm_or_si128(survey.any, _mm_unpackhi_epi64(survey.any, survey.any));
        return {or_of_lanes<Unit>(static_cast<uint64_t>(_mm_cvtsi128_si64(any))), _mm_movemask_epi8(survey.found) != 0};
    }

    template <class Unit>
    static int64_t skip_plain_text(const Unit* s, int64_t from, int64_t n) noexcept {
        for (; from + 64 <= n; from += 64) {
            const __m128i any = _mm_or_si128(_mm_or_si128(markup(load(s + from)), markup(load(s + from + 16))),
                                             _mm_or_si128(markup(load(s + from + 32)), markup(load(s + from + 48))));
            if (_mm_movemask_epi8(any) != 0) break;
        }
        return from;
    }

    template <class Unit>
    static Bytes16 narrow16(const Unit* p) noexcept {
        const __m128i v = load(p);
        return {static_cast<uint64_t>(_mm_cvtsi128_si64(v)),
                static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)))};
    }
    template <class Unit>
    static Bytes16 narrow16(const Unit* p, int64_t count) noexcept {
        return count == 16 ? narrow16(p) : narrow16_padded<Sse2>(p, count);
    }

    static uint64_t or_of_bytes(const uint8_t* p, int64_t size) noexcept {
        __m128i any = load(p + size - 16);
        for (int64_t k = 0; k + 16 <= size; k += 16) any = _mm_or_si128(any, load(p + k));
        return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_or_si128(any, _mm_unpackhi_epi64(any, any))));
    }

    // A surrogate's bits above the lowest eleven read 0xd800. Sixteen bytes
    // of units at a time, the last sixteen read again.
    static __m128i surrogates(__m128i units, uint16_t) noexcept {
        return _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xf800))),
                               _mm_set1_epi16(static_cast<short>(0xd800)));
    }
    static __m128i surrogates(__m128i units, uint32_t) noexcept {
        return _mm_cmpeq_epi32(_mm_and_si128(units, _mm_set1_epi32(static_cast<int>(0xfffff800u))),
                               _mm_set1_epi32(0xd800));
    }
    template <class Unit>
    static UnitsSummary<Unit> summarize(const Unit* s, int64_t n) noexcept {
        constexpr int64_t lanes = 16 / sizeof(Unit);
        __m128i any = _mm_setzero_si128();
        __m128i found = _mm_setzero_si128();
        auto take_in = [&](const Unit* p) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            any = _mm_or_si128(any, units);
            found = _mm_or_si128(found, surrogates(units, Unit{}));
        };
        take_in(s + n - lanes);
        for (int64_t k = 0; k + lanes <= n; k += lanes) take_in(s + k);
        const auto word = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_or_si128(any, _mm_unpackhi_epi64(any, any))));
        return {or_of_lanes<Unit>(word), _mm_movemask_epi8(found) != 0};
    }
};

}  // namespace

extern const Kernel sse2Kernel = kernel_of<Sse2>("sse2");

}  // namespace marquill
#endif
