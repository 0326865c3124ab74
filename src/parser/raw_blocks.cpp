// Raw blocks: text in braces, handed back untouched. A block ends at the
// last '}' before the first '{' that follows its first '}'.
#include <cstdint>
#include <cstring>

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

    int64_t rawR = scan.i;
    bool inRaw = false;
    for (int64_t iTmp = scan.i; iTmp < scan.n; ++iTmp) {
        const char c = scan.input[iTmp];
        if (c == '}') {
            rawR = iTmp;
            inRaw = true;
        } else if (inRaw && c == '{') {
            break;
        }
    }
    // A '}' follows, so inRaw holds and rawR is the block's last byte.
    scan.append(Tag('r', substr(scan.input, scan.i + 1, rawR), rawR - scan.i - 1, scan.i, rawR));
    scan.i = rawR;
}

}  // namespace marquill
