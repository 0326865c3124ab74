// The searches and counts written once over sixteen-byte vectors; each
// instruction set supplies the vector operations (sse2.hpp, neon.hpp).
//
// `V` provides: `Vector`; `load(p)` of 16 bytes at p; `equal(v, c)`, 0xff in
// every byte equal to c and 0 elsewhere; `folded_equal(v, c)`, the same for
// the bytes equal to c once bit 0x20 is set; `signed_greater(v, c)`, for the
// bytes greater than c as signed numbers; `either(a, b)`; `bits(m)`, a
// mask with `bitsPerByte` bits for each byte of m, byte 0 lowest;
// `bits64(m0, m1, m2, m3)`, one bit for each byte of four such vectors;
// `zero()`, `minus(a, b)` bytewise; `sum_bytes(v)`; and
// `skip_plain_text(s, from, n)`, skip_by_64 for markup or something faster.
#pragma once

#include <cstddef>
#include <cstdint>

#include "parser/simd/bit_ops.hpp"
#include "parser/simd/byte_classes.hpp"

namespace marquill::vector_search {

// 0xff in every byte of v in the class, 0 elsewhere.
template <class V, ByteClass wanted>
typename V::Vector matches(typename V::Vector v) noexcept {
    switch (wanted) {
        // '[' and '{', and ']' and '}', differ only in bit 0x20
        case ByteClass::markup: return V::either(V::folded_equal(v, '{'), V::equal(v, ']'));
        case ByteClass::closeBrace: return V::equal(v, '}');
        case ByteClass::brace: return V::either(V::equal(v, '{'), V::equal(v, '}'));
        case ByteClass::opener: return V::folded_equal(v, '{');
        case ByteClass::closer: return V::folded_equal(v, '}');
        // continuation bytes are the signed bytes from -128 to -65
        case ByteClass::codePointStart: return V::signed_greater(v, -65);
    }
    return V::zero();
}

// Bit k is set when byte k of the 64 at p is in the class.
template <class V, ByteClass wanted>
uint64_t bits64(const char* p) noexcept {
    return V::bits64(matches<V, wanted>(V::load(p)), matches<V, wanted>(V::load(p + 16)),
                     matches<V, wanted>(V::load(p + 32)), matches<V, wanted>(V::load(p + 48)));
}

template <class V, ByteClass wanted>
uint64_t bits16(const char* p) noexcept {
    return V::bits(matches<V, wanted>(V::load(p)));
}

// Skips 64 bytes at a time while none of them is wanted: returns the start
// of the first 64 that hold a wanted byte, or a point less than 64 from n.
template <class V, ByteClass wanted>
int64_t skip_by_64(const char* s, int64_t from, int64_t n) noexcept {
    for (; from + 64 <= n; from += 64) {
        const auto any = V::either(
            V::either(matches<V, wanted>(V::load(s + from)), matches<V, wanted>(V::load(s + from + 16))),
            V::either(matches<V, wanted>(V::load(s + from + 32)),
                      matches<V, wanted>(V::load(s + from + 48))));
        if (V::bits(any) != 0) break;
    }
    return from;
}

template <class V>
int64_t first_byte(uint64_t bits) noexcept {
    return lowest_set_bit(bits) / V::bitsPerByte;
}

template <class V, ByteClass wanted>
int64_t find(const char* s, int64_t from, int64_t n) noexcept {
    from = skip_by_64<V, wanted>(s, from, n);
    for (; from + 16 <= n; from += 16) {
        if (const uint64_t bits = bits16<V, wanted>(s + from)) return from + first_byte<V>(bits);
    }
    if (from == n || n < 16) return bytewise::find<wanted>(s, from, n);
    // The tail: the input's last 16 bytes, less those before `from`.
    const uint64_t bits = bits16<V, wanted>(s + n - 16) >> ((from - (n - 16)) * V::bitsPerByte);
    return bits != 0 ? from + first_byte<V>(bits) : n;
}

// Counts 16 bytes at a time in byte-wide counters (a matching byte is 0xff,
// that is -1), which are summed before any of them can pass 255.
template <class V, ByteClass wanted>
size_t count(const char* s, int64_t n) noexcept {
    size_t total = 0;
    int64_t k = 0;
    while (k + 16 <= n) {
        auto counters = V::zero();
        for (int round = 0; round < 255 && k + 16 <= n; ++round, k += 16) {
            counters = V::minus(counters, matches<V, wanted>(V::load(s + k)));
        }
        total += V::sum_bytes(counters);
    }
    if (k == n || n < 16) return total + bytewise::count<wanted>(s + k, n - k);
    // The tail: the input's last 16 bytes, less those already counted.
    const uint64_t bits = bits16<V, wanted>(s + n - 16) >> ((k - (n - 16)) * V::bitsPerByte);
    return total + static_cast<size_t>(set_bit_count(bits) / V::bitsPerByte);
}

}  // namespace marquill::vector_search
