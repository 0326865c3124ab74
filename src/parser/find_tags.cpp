// The scan loop: one forward pass that jumps from markup unit to markup unit
// and calls the rule each one may start.
#include "parser/find_tags.hpp"

#include "parser/bracket_tags.hpp"
#include "parser/markup_cursor.hpp"
#include "parser/raw_blocks.hpp"
#include "parser/scan_state.hpp"

namespace marquill {

template <class Unit>
bool find_tags(const Unit* line, int64_t n, TagSpans& tags) noexcept {
    Scan<Unit> scan{line, n, tags};
    MarkupCursor<Unit> cursor(line, n);
    for (; (scan.i = cursor.next(scan.i)) < n; ++scan.i) {
        switch (line[scan.i]) {
            case '{': raw_block(scan); break;
            case '[': bracket_tag(scan); break;
            case ']':
                if (scan.tagName != 0) close_argument_tag(scan);
                break;
        }
        if (scan.outOfMemory) return false;
    }
    return true;
}

template bool find_tags(const uint8_t*, int64_t, TagSpans&) noexcept;
template bool find_tags(const uint16_t*, int64_t, TagSpans&) noexcept;
template bool find_tags(const uint32_t*, int64_t, TagSpans&) noexcept;

}  // namespace marquill
