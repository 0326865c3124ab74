// Raw blocks: text in braces, handed back untouched. A block ends at the
// last '}' before the first '{' that follows its first '}'. Internal to the
// parser.
#pragma once

#include <cstdint>

#include "parser/markup_search.hpp"
#include "parser/scan_state.hpp"

namespace marquill {

// At a '{': a block is recorded and the scan moves to its last '}', or the
// '{' is plain text.
template <class Unit>
void raw_block(Scan<Unit>& scan) noexcept {
    // Once a '{' has found no '}' after it, no later '{' can. Deciding that
    // without a look-ahead keeps a long run of such '{' linear.
    if (scan.i >= scan.closelessFrom) return;
    int64_t rawR = find_close_brace(scan.line, scan.i + 1, scan.n);
    if (rawR == scan.n) {
        scan.closelessFrom = scan.i;
        return;
    }

    // The look-ahead: from the block's first '}', braces are met in turn;
    // each '}' may be the block's last, and the first '{' ends the
    // look-ahead. It stops where the next block starts, so no unit is looked
    // at by two look-aheads.
    for (int64_t iTmp = rawR + 1; (iTmp = find_brace(scan.line, iTmp, scan.n)) < scan.n; ++iTmp) {
        if (scan.line[iTmp] == '{') break;
        rawR = iTmp;
    }
    scan.append({scan.i, rawR, scan.i + 1, 'r', -1});
    scan.i = rawR;
}

}  // namespace marquill
