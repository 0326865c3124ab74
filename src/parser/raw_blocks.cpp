// Raw blocks: text in braces, handed back untouched. A block ends at the
// last '}' before the first '{' that follows its first '}'.
#include <cstdint>
#include <cstring>

#include "parser/markup_search.hpp"
#include "parser/scan.hpp"

namespace marquill {

namespace {

int64_t last_close(Scan& scan) noexcept {
    if (scan.lastClose == -2) {
        const void* found = memrchr(scan.input, '}', static_cast<size_t>(scan.n));
        scan.lastClose = found ? static_cast<const char*>(found) - scan.input : -1;
    }
    return scan.lastClose;
}

}  // namespace

void raw_block(Scan& scan) {
    // A '{' after the input's last '}' opens no block. Deciding that without
    // a look-ahead keeps a long run of such '{' linear.
    if (scan.i > last_close(scan)) return;

    // The look-ahead: from the block's first '}' (one exists, as the input's
    // last '}' lies beyond), braces are met in turn; each '}' may be the
    // block's last, and the first '{' ends the look-ahead. It stops where the
    // next block starts, so no byte is looked at by two look-aheads.
    int64_t rawR = find_close_brace(scan.input, scan.i + 1, scan.n);
    for (int64_t iTmp = rawR + 1; (iTmp = find_brace(scan.input, iTmp, scan.n)) < scan.n; ++iTmp) {
        if (scan.input[iTmp] == '{') break;
        rawR = iTmp;
    }
    scan.append(Tag('r', substr(scan.input, scan.i + 1, rawR), rawR - scan.i - 1, scan.i, rawR));
    scan.i = rawR;
}

}  // namespace marquill
