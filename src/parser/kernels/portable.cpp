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
    using Survey = UnitsSummary<Unit>;
    template <class Unit>
    static uint64_t surveyed_mask(const Unit* p, Survey<Unit>& survey) noexcept {
        return surveyed_mask(p, 64, survey);
    }
    template <class Unit>
    static uint64_t surveyed_mask(const Unit* p, int64_t count, Survey<Unit>& survey) noexcept {
        return mask_of(p, count, [&](Unit c) {
            survey.any |= c;
            survey.surrogate |= is_surrogate(c);
            return is_markup(c);
        });
    }
    template <class Unit>
    static UnitsSummary<Unit> summary_of(const Survey<Unit>& survey) noexcept {
        return survey;
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
    static UnitsSummary<Unit> summarize(const Unit* s, int64_t n) noexcept {
        UnitsSummary<Unit> summary{0, false};
        for (int64_t k = 0; k < n; ++k) {
            summary.any |= s[k];
            summary.surrogate |= is_surrogate(s[k]);
        }
        return summary;
    }
};

}  // namespace

extern const Kernel portableKernel = kernel_of<Portable>("portable");

}  // namespace marquill
