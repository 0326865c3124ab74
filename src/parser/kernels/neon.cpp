// The NEON kernel, for every AArch64 processor: sixteen units a vector,
// wider units narrowed to bytes with saturation.
#include "parser/kernels/targets.hpp"

#if MARQUILL_NEON_KERNEL
#include <arm_neon.h>

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

    static uint64_t or_of_bytes(const uint8_t* p, int64_t size) noexcept {
        uint8x16_t any = vld1q_u8(p + size - 16);
        for (int64_t k = 0; k + 16 <= size; k += 16) any = vorrq_u8(any, vld1q_u8(p + k));
        const uint64x2_t halves = vreinterpretq_u64_u8(any);
        return vgetq_lane_u64(halves, 0) | vgetq_lane_u64(halves, 1);
    }

    // A surrogate's bits above the lowest eleven read 0xd800.
    static bool holds_surrogate(const uint16_t* s, int64_t n) noexcept {
        auto surrogates = [](const uint16_t* p) {
            return vceqq_u16(vandq_u16(vld1q_u16(p), vdupq_n_u16(0xf800)), vdupq_n_u16(0xd800));
        };
        uint16x8_t found = surrogates(s + n - 8);
        for (int64_t k = 0; k + 8 <= n; k += 8) found = vorrq_u16(found, surrogates(s + k));
        return vmaxvq_u16(found) != 0;
    }
    static bool holds_surrogate(const uint32_t* s, int64_t n) noexcept {
        auto surrogates = [](const uint32_t* p) {
            return vceqq_u32(vandq_u32(vld1q_u32(p), vdupq_n_u32(0xfffff800u)), vdupq_n_u32(0xd800));
        };
        uint32x4_t found = surrogates(s + n - 4);
        for (int64_t k = 0; k + 4 <= n; k += 4) found = vorrq_u32(found, surrogates(s + k));
        return vmaxvq_u32(found) != 0;
    }
};

}  // namespace

extern const Kernel neonKernel = kernel_of<Neon>("neon");

}  // namespace marquill
#endif
