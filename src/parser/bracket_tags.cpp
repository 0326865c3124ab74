// Bracket tags: fixed tags such as [center], and argument tags such as
// [pixel 50] whose argument runs to the next ']'.
#include <array>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "parser/scan.hpp"

namespace marquill {

namespace {

struct Keyword {
    std::string_view match;  // the bytes after '[': a fixed tag's ']' or an opener's space
    char kind;
    const char* value;  // a fixed tag's static value; null for an opener
};

// No match is a prefix of another, so the order never changes a result.
constexpr Keyword keywords[] = {
    // the alignments
    {"center]", 'a', "center"},
    {"left]", 'a', "left"},
    {"right]", 'a', "right"},
    // the argument tags' openers
    {"pixel ", 'a', nullptr},
    {"style ", 's', nullptr},
    {"font ", 'f', nullptr},
    // the text-flow switches
    {"nowrap]", 't', "nowrap"},
    {"passport]", 't', "passport"},
    {"autowrap]", 't', "autowrap"},
    {"noautowrap]", 't', "noautowrap"},
};

// For each byte, the rows whose match begins with it, in table order, -1
// after the last. At most two rows share a first byte, so the byte after a
// '[' leaves at most two rows to compare; any other byte there, as in a run
// of '[', settles the bracket at once.
using Candidates = std::array<int8_t, 2>;
constexpr std::array<Candidates, 256> candidatesByFirstByte = [] {
    std::array<Candidates, 256> table{};
    for (Candidates& rows : table) rows = {-1, -1};
    for (int8_t row = 0; row < static_cast<int8_t>(std::size(keywords)); ++row) {
        Candidates& rows = table[static_cast<unsigned char>(keywords[row].match[0])];
        if (rows[1] >= 0) throw "more than two keywords share a first byte";
        rows[rows[0] < 0 ? 0 : 1] = row;
    }
    return table;
}();

const Keyword* match_keyword(const char* afterBracket) noexcept {
    for (const int8_t row : candidatesByFirstByte[static_cast<unsigned char>(afterBracket[0])]) {
        if (row < 0) return nullptr;
        if (startswith(afterBracket + 1, keywords[row].match.data() + 1)) return &keywords[row];
    }
    return nullptr;
}

}  // namespace

void bracket_tag(Scan& scan) {
    const Keyword* keyword = match_keyword(scan.input + scan.i + 1);
    if (keyword == nullptr) return;  // the '[' is plain text
    const auto k = static_cast<int64_t>(keyword->match.size());
    if (keyword->value != nullptr) {
        scan.append({keyword->value, k - 1, scan.i, scan.i + k, keyword->kind, false});
        scan.i += k;
        return;
    }
    // An opener replaces any argument tag already open: that one's opener
    // stays in the text as plain bytes.
    scan.tagName = keyword->kind;
    scan.tagL = scan.i;
    scan.tagArgsL = scan.i + 1 + k;
    scan.i = scan.tagArgsL - 1;
}

void close_argument_tag(Scan& scan) {
    scan.append({substr(scan.input, scan.tagArgsL, scan.i, scan.memory), scan.i - scan.tagArgsL, scan.tagL, scan.i,
                 scan.tagName, true});
}

}  // namespace marquill
