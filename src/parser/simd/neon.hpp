// The vector operations on 64-bit ARM with NEON (Advanced SIMD), which every
// AArch64 processor has. Included only where the compiler targets it
// (markup_search.hpp).
#pragma once

#include <arm_neon.h>

#include <cstdint>

#include "parser/simd/byte_classes.hpp"
#include "parser/simd/vector_search.hpp"

namespace marquill::neon {

struct Vectors {
    using Vector = uint8x16_t;
    // NEON has no byte movemask; narrowing each 16-bit lane by four bits
    // leaves four bits for each byte, which serves as well.
    static constexpr int bitsPerByte = 4;

    static Vector load(const uint8_t* p) noexcept { return vld1q_u8(p); }
    // Unsigned saturating narrows: a unit above 0xff becomes 0xff, which is
    // no markup byte.
    static Vector load(const uint16_t* p) noexcept {
        return vcombine_u8(vqmovn_u16(vld1q_u16(p)), vqmovn_u16(vld1q_u16(p + 8)));
    }
    static Vector load(const uint32_t* p) noexcept {
        const uint16x8_t low = vcombine_u16(vqmovn_u32(vld1q_u32(p)), vqmovn_u32(vld1q_u32(p + 4)));
        const uint16x8_t high = vcombine_u16(vqmovn_u32(vld1q_u32(p + 8)), vqmovn_u32(vld1q_u32(p + 12)));
        return vcombine_u8(vqmovn_u16(low), vqmovn_u16(high));
    }
    static Vector equal(Vector v, char c) noexcept { return vceqq_u8(v, vdupq_n_u8(static_cast<uint8_t>(c))); }
    static Vector folded_equal(Vector v, char c) noexcept { return equal(vorrq_u8(v, vdupq_n_u8(0x20)), c); }
    static Vector either(Vector a, Vector b) noexcept { return vorrq_u8(a, b); }

    static uint64_t bits(Vector m) noexcept {
        return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(m), 4)), 0);
    }
    // Each byte keeps one bit of its own weight; three rounds of pairwise
    // sums gather the 64 bytes' bits into one word.
    static uint64_t bits64(Vector m0, Vector m1, Vector m2, Vector m3) noexcept {
        static constexpr uint8_t weights[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
        const Vector weight = vld1q_u8(weights);
        const Vector sum01 = vpaddq_u8(vandq_u8(m0, weight), vandq_u8(m1, weight));
        const Vector sum23 = vpaddq_u8(vandq_u8(m2, weight), vandq_u8(m3, weight));
        const Vector sum = vpaddq_u8(sum01, sum23);
        return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(sum, sum)), 0);
    }
    template <class Unit>
    static int64_t skip_plain_text(const Unit* s, int64_t from, int64_t n) noexcept {
        return vector_search::skip_by_64<Vectors, ByteClass::markup>(s, from, n);
    }
};

// The OR of the `size >= 16` bytes at p, as one word: the last 16 bytes are
// read again, overlapping the blocks before (unit_values.hpp).
inline uint64_t or_of_bytes(const uint8_t* p, int64_t size) noexcept {
    uint8x16_t any = vld1q_u8(p + size - 16);
    for (int64_t k = 0; k + 16 <= size; k += 16) any = vorrq_u8(any, vld1q_u8(p + k));
    const uint64x2_t halves = vreinterpretq_u64_u8(any);
    return vgetq_lane_u64(halves, 0) | vgetq_lane_u64(halves, 1);
}

// Whether one of the n units at s, 16 bytes or more, is a surrogate: its bits
// above the lowest eleven read 0xd800.
inline bool holds_surrogate(const uint16_t* s, int64_t n) noexcept {
    auto surrogates = [](const uint16_t* p) {
        return vceqq_u16(vandq_u16(vld1q_u16(p), vdupq_n_u16(0xf800)), vdupq_n_u16(0xd800));
    };
    uint16x8_t found = surrogates(s + n - 8);
    for (int64_t k = 0; k + 8 <= n; k += 8) found = vorrq_u16(found, surrogates(s + k));
    return vmaxvq_u16(found) != 0;
}
inline bool holds_surrogate(const uint32_t* s, int64_t n) noexcept {
    auto surrogates = [](const uint32_t* p) {
        return vceqq_u32(vandq_u32(vld1q_u32(p), vdupq_n_u32(0xfffff800u)), vdupq_n_u32(0xd800));
    };
    uint32x4_t found = surrogates(s + n - 4);
    for (int64_t k = 0; k + 4 <= n; k += 4) found = vorrq_u32(found, surrogates(s + k));
    return vmaxvq_u32(found) != 0;
}

}  // namespace marquill::neon
