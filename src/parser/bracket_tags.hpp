// Bracket tags: fixed tags such as [center], and argument tags such as
// [pixel 50] whose argument runs to the next ']'. Internal to the parser.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "parser/scan_state.hpp"

namespace marquill {

namespace bracket_tags {

struct Keyword {
    std::string_view match;  // the units after '[': a fixed tag's ']' or an opener's space
    char kind;
    int8_t fixed;  // the fixed tag's id in fixedTagValues; -1 for an opener
};

// No match is a prefix of another, so the order never changes a result.
inline constexpr Keyword keywords[] = {
    // alignments
    {"center]", 'a', 0},
    {"left]", 'a', 1},
    {"right]", 'a', 2},
    // argument tags
    {"pixel ", 'a', -1},
    {"style ", 's', -1},
    {"font ", 'f', -1},
    // text-flow switches
    {"nowrap]", 't', 3},
    {"passport]", 't', 4},
    {"autowrap]", 't', 5},
    {"noautowrap]", 't', 6},
};

// For each ASCII character, the rows whose match begins with it, in table
// order, -1 after the last. At most two rows share a first character.
using Candidates = std::array<int8_t, 2>;
inline constexpr std::array<Candidates, 128> candidatesByFirstChar = [] {
    std::array<Candidates, 128> table{};
    for (Candidates& rows : table) rows = {-1, -1};
    for (int8_t row = 0; row < static_cast<int8_t>(std::size(keywords)); ++row) {
        Candidates& rows = table[static_cast<unsigned char>(keywords[row].match[0])];
        if (rows[1] >= 0) throw "more than two keywords share a first character";
        rows[rows[0] < 0 ? 0 : 1] = row;
    }
    return table;
}();

// Whether the `room` units after a '[' begin with the match of `row`, whose
// first character is known to be there. The match's length is a constant,
// so the comparison unrolls.
template <int row, class Unit>
bool matches(const Unit* afterBracket, int64_t room) noexcept {
    constexpr std::string_view match = keywords[row].match;
    if (room < static_cast<int64_t>(match.size())) return false;
    for (size_t k = 1; k < match.size(); ++k) {
        if (afterBracket[k] != static_cast<Unit>(match[k])) return false;
    }
    return true;
}

template <char first, class Unit>
const Keyword* match_rows(const Unit* afterBracket, int64_t room) noexcept {
    constexpr Candidates rows = candidatesByFirstChar[first];
    static_assert(rows[0] >= 0, "no keyword begins with this character");
    if (matches<rows[0]>(afterBracket, room)) return &keywords[rows[0]];
    if constexpr (rows[1] >= 0) {
        if (matches<rows[1]>(afterBracket, room)) return &keywords[rows[1]];
    }
    return nullptr;
}

// The first characters of the keywords, which the switch below lists.
inline constexpr std::string_view firstChars = "acflnprs";
static_assert([] {
    for (const Keyword& keyword : keywords) {
        if (firstChars.find(keyword.match[0]) == std::string_view::npos) return false;
    }
    return true;
}());

// The row whose match the `room` units after a '[' begin with, or null. The
// unit after the '[' leaves at most two rows to compare; any other unit
// there, as in a run of '[', settles the bracket at once.
template <class Unit>
const Keyword* match_keyword(const Unit* afterBracket, int64_t room) noexcept {
    if (room == 0) return nullptr;
    switch (afterBracket[0]) {
        case 'a': return match_rows<'a'>(afterBracket, room);
        case 'c': return match_rows<'c'>(afterBracket, room);
        case 'f': return match_rows<'f'>(afterBracket, room);
        case 'l': return match_rows<'l'>(afterBracket, room);
        case 'n': return match_rows<'n'>(afterBracket, room);
        case 'p': return match_rows<'p'>(afterBracket, room);
        case 'r': return match_rows<'r'>(afterBracket, room);
        case 's': return match_rows<'s'>(afterBracket, room);
        default: return nullptr;
    }
}

}  // namespace bracket_tags

// At a '[': a fixed tag is recorded and the scan moves to its ']'; an opener
// becomes the open argument tag and the scan goes on with its argument.
template <class Unit>
void bracket_tag(Scan<Unit>& scan) noexcept {
    const int64_t room = scan.n - scan.i - 1;
    const bracket_tags::Keyword* keyword = bracket_tags::match_keyword(scan.line + scan.i + 1, room);
    if (keyword == nullptr) return;  // the '[' is plain text
    const auto k = static_cast<int64_t>(keyword->match.size());
    if (keyword->fixed >= 0) {
        scan.append({scan.i, scan.i + k, scan.i + k, keyword->kind, keyword->fixed});
        scan.i += k;
        return;
    }
    // An opener replaces any argument tag already open: that one's opener
    // stays in the text as plain units.
    scan.tagName = keyword->kind;
    scan.tagL = scan.i;
    scan.tagArgsL = scan.i + 1 + k;
    scan.i = scan.tagArgsL - 1;
}

// At a ']' while an argument tag is open: its argument is every unit from
// the opener's space to this ']'.
template <class Unit>
void close_argument_tag(Scan<Unit>& scan) noexcept {
    scan.append({scan.tagL, scan.i, scan.tagArgsL, scan.tagName, -1});
}

}  // namespace marquill
