// The NEON kernel, for every AArch64 processor: sixteen units a vector,
// wider units narrowed to bytes with saturation.
#include "parser/kernels/targets.hpp"

#if MARQUILL_NEON_KERNEL
#include <arm_neon.h>

#include <type_traits>

#include "parser/scan_algorithm.hpp"

namespace marquill {
namespace {

struct Neon : BlockWindows<Neon, 16> {
    // Unsigned saturating narrows: a unit above 0xff becomes 0xff, which is
    // no markup byte.
    static uint8x16_t load(const uint8_t* p) noexcept { return vld1q_u8(p); }
    static uint8x16_t load(const uint16_t* p) noexcept {
        return vcombine_u8(vqmovn_u16(vld1q_u16(p)), vqmovn_u16(vld1q_u16(p + 8)));
    }
    static uint8x16_t load(const uint32_t* p) noexcept {
        const uint16x8_t low = vcombine_u16(vqmovn_u32(vld1q_u32(p)), vqmovn_u32(vld1q_u32(p + 4)));
        const uint16x8_t high = vcombine_u16(vqmovn_u32(vld1q_u32(p + 8)), vqmovn_u32(vld1q_u32(p + 12)));
        return vcombine_u8(vqmovn_u16(low), vqmovn_u16(high));
    }

    static uint8x16_t equal(uint8x16_t v, char c) noexcept { return vceqq_u8(v, vdupq_n_u8(static_cast<uint8_t>(c))); }
    // '[' and '{', like ']' and '}', differ only in bit 0x20, and no other
    // byte becomes '{' or '}' when it is set.
    static uint8x16_t markup(uint8x16_t v) noexcept {
        const uint8x16_t folded = vorrq_u8(v, vdupq_n_u8(0x20));
        return vorrq_u8(equal(folded, '{'), equal(folded, '}'));
    }

    // NEON has no byte movemask: each byte keeps one bit of its own weight,
    // and pairwise sums gather the bits into a word.
    static uint8x16_t weighted(uint8x16_t m) noexcept {
        static constexpr uint8_t weights[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
        return vandq_u8(m, vld1q_u8(weights));
    }
    static uint64_t bits16(uint8x16_t m) noexcept {
        const uint8x16_t w = weighted(m);
        return vaddv_u8(vget_low_u8(w)) | uint64_t{vaddv_u8(vget_high_u8(w))} << 8;
    }
    static uint64_t bits64(uint8x16_t m0, uint8x16_t m1, uint8x16_t m2, uint8x16_t m3) noexcept {
        const uint8x16_t sum01 = vpaddq_u8(weighted(m0), weighted(m1));
        const uint8x16_t sum23 = vpaddq_u8(weighted(m2), weighted(m3));
        const uint8x16_t sum = vpaddq_u8(sum01, sum23);
        return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(sum, sum)), 0);
    }

    template <class Unit>
    static uint64_t markup_block(const Unit* p) noexcept {
        return bits16(markup(load(p)));
    }
    // A whole window's markup gathered in one round of sums, rather than a
    // block at a time.
    using BlockWindows::markup_mask;
    template <class Unit>
    static uint64_t markup_mask(const Unit* p) noexcept {
        return bits64(markup(load(p)), markup(load(p + 16)), markup(load(p + 32)), markup(load(p + 48)));
    }

    // The vectors of 2- and 4-byte lanes, and what the surveys do in them. A
    // surrogate's bits above the lowest eleven read 0xd800.
    template <class Unit>
    using Lanes = std::conditional_t<sizeof(Unit) == 2, uint16x8_t, uint32x4_t>;
    static uint16x8_t lanes_at(const uint16_t* p) noexcept { return vld1q_u16(p); }
    static uint32x4_t lanes_at(const uint32_t* p) noexcept { return vld1q_u32(p); }
    static uint16x8_t lanes_or(uint16x8_t a, uint16x8_t b) noexcept { return vorrq_u16(a, b); }
    static uint32x4_t lanes_or(uint32x4_t a, uint32x4_t b) noexcept { return vorrq_u32(a, b); }
    static uint16x8_t surrogates(uint16x8_t units) noexcept {
        return vceqq_u16(vandq_u16(units, vdupq_n_u16(0xf800)), vdupq_n_u16(0xd800));
    }
    static uint32x4_t surrogates(uint32x4_t units) noexcept {
        return vceqq_u32(vandq_u32(units, vdupq_n_u32(0xfffff800u)), vdupq_n_u32(0xd800));
    }
    static uint64x2_t as_words(uint16x8_t v) noexcept { return vreinterpretq_u64_u16(v); }
    static uint64x2_t as_words(uint32x4_t v) noexcept { return vreinterpretq_u64_u32(v); }
    static uint32_t lanes_max(uint16x8_t v) noexcept { return vmaxvq_u16(v); }
    static uint32_t lanes_max(uint32x4_t v) noexcept { return vmaxvq_u32(v); }

    // What a scan of wider units gathers as it reads them: their OR, and the
    // lanes that held a surrogate, in lanes of their width.
    template <class Unit>
    struct Survey {
        Lanes<Unit> any;
        Lanes<Unit> found;
    };
    template <class Unit>
    static uint8x16_t surveyed_load(const Unit* p, Survey<Unit>& survey) noexcept {
        for (int k = 0; k < 16; k += 16 / static_cast<int>(sizeof(Unit))) {
            const Lanes<Unit> units = lanes_at(p + k);
            survey.any = lanes_or(survey.any, units);
            survey.found = lanes_or(survey.found, surrogates(units));
        }
        return load(p);
    }
    template <class Unit>
    static uint64_t markup_block(const Unit* p, Survey<Unit>& survey) noexcept {
        return bits16(markup(surveyed_load(p, survey)));
    }
    using BlockWindows::surveyed_mask;
    template <class Unit>
    static uint64_t surveyed_mask(const Unit* p, Survey<Unit>& survey) noexcept {
        return bits64(markup(surveyed_load(p, survey)), markup(surveyed_load(p + 16, survey)),
                      markup(surveyed_load(p + 32, survey)), markup(surveyed_load(p + 48, survey)));
    }
    template <class Unit>
    static UnitsSummary<Unit> summary_of(const Survey<Unit>& survey) noexcept {
        return {or_of_lanes<Unit>(halves_or(as_words(survey.any))), lanes_max(survey.found) != 0};
    }

    template <class Unit>
    static int64_t skip_plain_text(const Unit* s, int64_t from, int64_t n) noexcept {
        for (; from + 64 <= n; from += 64) {
            const uint8x16_t any = vorrq_u8(vorrq_u8(markup(load(s + from)), markup(load(s + from + 16))),
                                            vorrq_u8(markup(load(s + from + 32)), markup(load(s + from + 48))));
            if (vmaxvq_u8(any) != 0) break;
        }
        return from;
    }

    template <class Unit>
    static Bytes16 narrow16(const Unit* p) noexcept {
        const uint64x2_t words = vreinterpretq_u64_u8(load(p));
        return {vgetq_lane_u64(words, 0), vgetq_lane_u64(words, 1)};
    }
    template <class Unit>
    static Bytes16 narrow16(const Unit* p, int64_t count) noexcept {
        return count == 16 ? narrow16(p) : narrow16_padded<Neon>(p, count);
    }

    static uint64_t halves_or(uint64x2_t halves) noexcept {
        return vgetq_lane_u64(halves, 0) | vgetq_lane_u64(halves, 1);
    }
    static uint64_t or_of_bytes(const uint8_t* p, int64_t size) noexcept {
        uint8x16_t any = vld1q_u8(p + size - 16);
        for (int64_t k = 0; k + 16 <= size; k += 16) any = vorrq_u8(any, vld1q_u8(p + k));
        return halves_or(vreinterpretq_u64_u8(any));
    }

    // Sixteen bytes of units at a time, the last sixteen read again.
    template <class Unit>
    static UnitsSummary<Unit> summarize(const Unit* s, int64_t n) noexcept {
        constexpr int64_t lanes = 16 / sizeof(Unit);
        Survey<Unit> survey{};
        auto take_in = [&](const Unit* p) {
            const Lanes<Unit> units = lanes_at(p);
            survey.any = lanes_or(survey.any, units);
            survey.found = lanes_or(survey.found, surrogates(units));
        };
        take_in(s + n - lanes);
        for (int64_t k = 0; k + lanes <= n; k += lanes) take_in(s + k);
        return summary_of(survey);
    }
};

}  // namespace

extern const Kernel neonKernel = kernel_of<Neon>("neon");

}  // namespace marquill
#endif
