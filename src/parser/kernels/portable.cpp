// The portable kernel: the primitives unit by unit, in plain C++. It runs on
// every target, and it is the reference every vector kernel must agree with.
#include "parser/scan_algorithm.hpp"

namespace marquill {
namespace {

struct Portable {
    static constexpr bool maskedLoads = false;

    template <class Unit, class InClass>
    static uint64_t mask_of(const Unit* p, int64_t count, InClass in_class) noexcept {
        uint64_t bits = 0;
        for (int64_t k = 0; k < count; ++k) bits |= uint64_t{in_class(p[k])} << k;
        return bits;
    }

    template <class Unit>
    static uint64_t markup_mask(const Unit* p, int64_t count = 64) noexcept {
        return mask_of(p, count, [](Unit c) { return is_markup(c); });
    }

    template <class Unit>
    static int64_t skip_plain_text(const Unit* s, int64_t from, int64_t n) noexcept {
        while (from < n && !is_markup(s[from])) ++from;
        return from;
    }

    // Built by shifts rather than loaded, so that it reads the same on a
    // big-endian target.
    template <class Unit>
    static Bytes16 narrow16(const Unit* p, int64_t count = 16) noexcept {
        Bytes16 bytes{0, 0};
        for (int64_t k = 0; k < count; ++k) {
            const uint64_t byte = p[k] > 0xff ? 0xff : p[k];
            (k < 8 ? bytes.low : bytes.high) |= byte << (8 * (k % 8));
        }
        return bytes;
    }

    static uint64_t or_of_bytes(const uint8_t* p, int64_t size) noexcept { return or_of_words<uint64_t>(p, size); }

    template <class Unit>
    static bool holds_surrogate(const Unit* s, int64_t n) noexcept {
        for (int64_t k = 0; k < n; ++k) {
            if (is_surrogate(s[k])) return true;
        }
        return false;
    }
};

}  // namespace

extern const Kernel portableKernel = kernel_of<Portable>("portable");

}  // namespace marquill
