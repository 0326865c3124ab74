// The searches written once over sixteen-unit vectors; each instruction set
// supplies the vector operations (sse2.hpp, neon.hpp).
//
// `V` provides: `Vector`, sixteen bytes; `load(p)` of the sixteen units at p
// of any width, narrowed to bytes with saturation, so that a unit above 0xff
// becomes a byte that is no markup character; `equal(v, c)`, 0xff in every
// byte equal to c and 0 elsewhere; `folded_equal(v, c)`, the same for the
// bytes equal to c once bit 0x20 is set; `either(a, b)`; `bits(m)`, a mask
// with `bitsPerByte` bits for each byte of m, byte 0 lowest;
// `bits64(m0, m1, m2, m3)`, one bit for each byte of four such vectors; and
// `skip_plain_text(s, from, n)`, skip_by_64 for markup or something faster.
#pragma once

#include <cstdint>

#include "parser/simd/bit_ops.hpp"
#include "parser/simd/byte_classes.hpp"

namespace marquill::vector_search {

// 0xff in every byte of v in the class, 0 elsewhere.
template <class V, ByteClass wanted>
typename V::Vector matches(typename V::Vector v) noexcept {
    switch (wanted) {
        // '[' and '{' differ only in bit 0x20, and no other byte becomes '{'
        // when it is set
        case ByteClass::markup: return V::either(V::folded_equal(v, '{'), V::equal(v, ']'));
        case ByteClass::closeBrace: return V::equal(v, '}');
        case ByteClass::brace: return V::either(V::equal(v, '{'), V::equal(v, '}'));
    }
    return V::equal(v, '\0');
}

template <class V, ByteClass wanted, class Unit>
typename V::Vector load_matches(const Unit* p) noexcept {
    return matches<V, wanted>(V::load(p));
}

// Bit k is set when unit k of the 64 at p is in the class.
template <class V, ByteClass wanted, class Unit>
uint64_t bits64(const Unit* p) noexcept {
    return V::bits64(load_matches<V, wanted>(p), load_matches<V, wanted>(p + 16), load_matches<V, wanted>(p + 32),
                     load_matches<V, wanted>(p + 48));
}

template <class V, ByteClass wanted, class Unit>
uint64_t bits16(const Unit* p) noexcept {
    return V::bits(load_matches<V, wanted>(p));
}

// Bit k is set when unit k of the n at s is in the class, for 16 <= n < 64:
// whole blocks of 16, and the line's last 16 units for the rest, so that
// nothing past the line is read. Only for one bit a byte.
template <class V, ByteClass wanted, class Unit>
uint64_t bits_below_64(const Unit* s, int64_t n) noexcept {
    static_assert(V::bitsPerByte == 1);
    uint64_t bits = 0;
    int64_t k = 0;
    for (; k + 16 <= n; k += 16) bits |= bits16<V, wanted>(s + k) << k;
    if (k < n) bits |= bits16<V, wanted>(s + n - 16) >> (k - (n - 16)) << k;
    return bits;
}

// Skips 64 units at a time while none of them is wanted: returns the start
// of the first 64 that hold a wanted unit, or a point less than 64 from n.
template <class V, ByteClass wanted, class Unit>
int64_t skip_by_64(const Unit* s, int64_t from, int64_t n) noexcept {
    for (; from + 64 <= n; from += 64) {
        const auto any =
            V::either(V::either(load_matches<V, wanted>(s + from), load_matches<V, wanted>(s + from + 16)),
                      V::either(load_matches<V, wanted>(s + from + 32), load_matches<V, wanted>(s + from + 48)));
        if (V::bits(any) != 0) break;
    }
    return from;
}

template <class V>
int64_t first_unit(uint64_t bits) noexcept {
    return lowest_set_bit(bits) / V::bitsPerByte;
}

template <class V, ByteClass wanted, class Unit>
int64_t find(const Unit* s, int64_t from, int64_t n) noexcept {
    from = skip_by_64<V, wanted>(s, from, n);
    for (; from + 16 <= n; from += 16) {
        if (const uint64_t bits = bits16<V, wanted>(s + from)) return from + first_unit<V>(bits);
    }
    if (from == n || n < 16) return bytewise::find<wanted>(s, from, n);
    // The tail: the input's last 16 units, less those before `from`.
    const uint64_t bits = bits16<V, wanted>(s + n - 16) >> ((from - (n - 16)) * V::bitsPerByte);
    return bits != 0 ? from + first_unit<V>(bits) : n;
}

}  // namespace marquill::vector_search
