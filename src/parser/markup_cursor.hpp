// Finds the markup units of a line in order, 64 units at a time: one vector
// pass marks every markup unit of a window, and the scan then jumps from
// mark to mark. A rule that moves past the window starts a new one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "parser/markup_search.hpp"
#include "parser/simd/bit_ops.hpp"

namespace marquill {

template <class Unit>
class MarkupCursor {
public:
    MarkupCursor(const Unit* line, int64_t n) noexcept : line_(line), n_(n) {}

    // The index of the first markup unit at or after `from`, or n.
    int64_t next(int64_t from) noexcept {
        while (from < n_) {
            if (from >= windowStart_ + 64) {
                load_window(from);
                from = std::max(from, windowStart_);  // what the window skipped holds no markup
            }
            const uint64_t ahead = bits_ & (~uint64_t{0} << (from - windowStart_));
            if (ahead != 0) return windowStart_ + lowest_set_bit(ahead);
            from = windowStart_ + 64;
        }
        return n_;
    }

private:
    void load_window(int64_t from) noexcept {
        if (from + 64 <= n_) {
            set_window(from);
            // Once a window holds no markup, long plain text goes by with
            // the widest search the processor has.
            if (bits_ != 0 || from + 256 > n_) return;
            from = skip_plain_text(line_, from + 64, n_);
            if (from + 64 <= n_) return set_window(from);
        }
        if (n_ >= 64) return set_window(n_ - 64);  // next() ignores the units before `from`
        windowStart_ = 0;                          // a line shorter than a window
        bits_ = markup_bits_below_64(line_, n_);
    }

    void set_window(int64_t start) noexcept {
        windowStart_ = start;
        bits_ = markup_bits(line_ + start);
    }

    const Unit* line_;
    int64_t n_;
    int64_t windowStart_ = std::numeric_limits<int64_t>::min() / 2;
    uint64_t bits_ = 0;
};

}  // namespace marquill
