// The vector operations on 64-bit ARM with NEON (Advanced SIMD), which every
// AArch64 processor has. Included only where the compiler targets it
// (markup_search.hpp).
#pragma once

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

#include "parser/simd/byte_classes.hpp"
#include "parser/simd/vector_search.hpp"

namespace marquill::neon {

struct Vectors {
    using Vector = uint8x16_t;
    // NEON has no byte movemask; narrowing each 16-bit lane by four bits
    // leaves four bits for each byte, which serves as well.
    static constexpr int bitsPerByte = 4;

    static Vector load(const char* p) noexcept { return vld1q_u8(reinterpret_cast<const uint8_t*>(p)); }
    static Vector equal(Vector v, char c) noexcept { return vceqq_u8(v, vdupq_n_u8(static_cast<uint8_t>(c))); }
    static Vector folded_equal(Vector v, char c) noexcept { return equal(vorrq_u8(v, vdupq_n_u8(0x20)), c); }
    static Vector either(Vector a, Vector b) noexcept { return vorrq_u8(a, b); }

    static Vector signed_greater(Vector v, char c) noexcept {
        return vcgtq_s8(vreinterpretq_s8_u8(v), vdupq_n_s8(static_cast<int8_t>(c)));
    }

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
    static Vector zero() noexcept { return vdupq_n_u8(0); }
    static Vector minus(Vector a, Vector b) noexcept { return vsubq_u8(a, b); }
    static size_t sum_bytes(Vector v) noexcept { return vaddlvq_u8(v); }
    static int64_t skip_plain_text(const char* s, int64_t from, int64_t n) noexcept {
        return vector_search::skip_by_64<Vectors, ByteClass::markup>(s, from, n);
    }
};

}  // namespace marquill::neon
