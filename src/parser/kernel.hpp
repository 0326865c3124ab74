// The scan's kernels: one per instruction set, each the whole scan and the
// passes over a run of units compiled for it (kernels/*.cpp, from the one
// algorithm in scan_algorithm.hpp). The fastest kernel the processor runs is
// chosen once, at the first call of best_kernel().
#pragma once

#include <cstdint>
#include <string_view>

#include "parser/tag_spans.hpp"

namespace marquill {

// What one pass over a run of wider units finds: the OR of the units, whose
// highest bit gives the width of the widest, and whether one is a UTF-16
// surrogate, which has no UTF-8.
template <class Unit>
struct UnitsSummary {
    Unit any;
    bool surrogate;
};

// A kernel's functions for code units of one width: the bytes of UTF-8 or of
// a Latin-1 str (uint8_t), or the units of a wider str (uint16_t, uint32_t).
// Positions count units, so over a str's own data they are character
// indices. Nothing outside the n units is read.
template <class Unit>
struct UnitKernel {
    // Appends the spans of the line's tags, in line order, to `spans` (which
    // must be empty). False when memory for them runs out.
    bool (*find_tags)(const Unit* line, int64_t n, TagSpans& spans) noexcept;
    // The OR of the n units.
    Unit (*or_of_units)(const Unit* s, int64_t n) noexcept;
    // For wider units (null for bytes): find_tags, and into `summary` the OR
    // of the n units and whether one is a surrogate, taken in on the way.
    bool (*find_tags_and_summarize)(const Unit* line, int64_t n, TagSpans& spans, UnitsSummary<Unit>& summary) noexcept;
};

struct Kernel {
    const char* name;  // "avx512", "avx2", "sse2", "neon" or "portable"
    UnitKernel<uint8_t> bytes;
    UnitKernel<uint16_t> ucs2;
    UnitKernel<uint32_t> ucs4;

    template <class Unit>
    const UnitKernel<Unit>& of() const noexcept {
        if constexpr (sizeof(Unit) == 1) {
            return bytes;
        } else if constexpr (sizeof(Unit) == 2) {
            return ucs2;
        } else {
            return ucs4;
        }
    }
};

// The kernels this build holds that the processor runs, fastest first; the
// portable kernel is always last.
struct KernelList {
    static constexpr int capacity = 5;
    const Kernel* items[capacity];
    int count;
    const Kernel* const* begin() const noexcept { return items; }
    const Kernel* const* end() const noexcept { return items + count; }
};
KernelList runnable_kernels() noexcept;

const Kernel& best_kernel() noexcept;

// The runnable kernel of that name, or null.
const Kernel* runnable_kernel(std::string_view name) noexcept;

}  // namespace marquill
