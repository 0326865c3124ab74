// Bracket tags: fixed tags such as [center], and argument tags such as
// [pixel 50] whose argument runs to the next ']'.
#include <array>
#include <cstdint>
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
    {"center]", 'a', "center"},
    {"left]", 'a', "left"},
    {"right]", 'a', "right"},
    {"pixel ", 'a', nullptr},
    {"style ", 's', nullptr},
    {"font ", 'f', nullptr},
    {"nowrap]", 't', "nowrap"},
    {"passport]", 't', "passport"},
    {"autowrap]", 't', "autowrap"},
    {"noautowrap]", 't', "noautowrap"},
};

// The bytes that can follow a tag's '['. Any other byte there, as in a run
// of '[', settles the bracket at once.
constexpr std::array<bool, 256> keywordStarts = [] {
    std::array<bool, 256> starts{};
    for (const Keyword& keyword : keywords) starts[static_cast<unsigned char>(keyword.match[0])] = true;
    return starts;
}();

const Keyword* match_keyword(const char* afterBracket) noexcept {
    if (!keywordStarts[static_cast<unsigned char>(afterBracket[0])]) return nullptr;
    // Most rows differ in their first byte, which settles them without a call.
    for (const Keyword& keyword : keywords) {
        if (keyword.match[0] == afterBracket[0] && startswith(afterBracket + 1, keyword.match.data() + 1)) {
            return &keyword;
        }
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
