// The bit scan the searches need on a 64-bit mask: the standard one where
// the library has it (C++20's <bit>), the compiler's builtin for GCC and
// Clang in C++17, and a plain loop for any other compiler.
#pragma once

#include <cstdint>

#if __has_include(<bit>)
#include <bit>
#endif

namespace marquill {

// Index of the lowest set bit; `bits` must not be 0.
inline int lowest_set_bit(uint64_t bits) noexcept {
#if defined(__cpp_lib_bitops)
    return std::countr_zero(bits);
#elif defined(__GNUC__) || defined(__clang__)
    return __builtin_ctzll(bits);
#else
    int index = 0;
    for (; (bits & 1) == 0; bits >>= 1) ++index;
    return index;
#endif
}

}  // namespace marquill
