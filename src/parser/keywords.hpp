// The bracket tags' vocabulary: one table, from which the fixed tags' ids and
// values and the keyword lookup's rows are all derived at compile time.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace marquill {

struct Keyword {
    std::string_view word;  // a string literal, so its data is terminated
    char kind;
    bool opener;  // an argument tag's opener, whose word a space follows; a fixed tag's is followed by ']'
};

// No match (a word and what follows it) is a prefix of another, so at most
// one row matches at a '['.
inline constexpr Keyword keywords[] = {
    {"center", 'a', false},     {"left", 'a', false},     {"right", 'a', false},     // alignments
    {"pixel", 'a', true},       {"style", 's', true},     {"font", 'f', true},       // argument tags
    {"nowrap", 't', false},     {"passport", 't', false}, {"autowrap", 't', false},  // text-flow switches
    {"noautowrap", 't', false},
};
inline constexpr int keywordCount = static_cast<int>(std::size(keywords));

// The units a row matches after the '[': its word, then ']' or a space.
constexpr size_t match_size(const Keyword& keyword) { return keyword.word.size() + 1; }
constexpr char match_at(const Keyword& keyword, size_t k) {
    return k < keyword.word.size() ? keyword.word[k] : keyword.opener ? ' ' : ']';
}

inline constexpr int fixedTagCount = [] {
    int count = 0;
    for (const Keyword& keyword : keywords) count += keyword.opener ? 0 : 1;
    return count;
}();

// The fixed tags (their words, terminated, and kinds), numbered in table
// order: a fixed tag's span carries its index here.
inline constexpr std::array<Keyword, fixedTagCount> fixedTags = [] {
    std::array<Keyword, fixedTagCount> tags{};
    int id = 0;
    for (const Keyword& keyword : keywords) {
        if (!keyword.opener) tags[id++] = keyword;
    }
    return tags;
}();

// The keyword lookup at a '[': the sixteen units after it, narrowed to bytes
// (a unit above 0xff to a byte that is no keyword character) and read as two
// little-endian words. A multiplicative hash of the first four bytes picks
// the one row that can match, and a masked compare of the sixteen bytes
// decides it, with no branch on the letters.
namespace keyword_lookup {

constexpr int slotBits = 4;
constexpr int slotCount = 1 << slotBits;
static_assert(keywordCount <= slotCount);

constexpr uint32_t head_of(const Keyword& keyword) {
    uint32_t head = 0;
    for (size_t k = 0; k < 4; ++k) head |= uint32_t{static_cast<unsigned char>(match_at(keyword, k))} << (8 * k);
    return head;
}
constexpr int slot_of(uint32_t head, uint32_t multiplier) {
    return static_cast<int>((head * multiplier) >> (32 - slotBits));
}

// The first odd multiplier that gives every keyword a slot of its own.
inline constexpr uint32_t multiplier = [] {
    for (uint32_t candidate = 0x9e3779b1u;; candidate += 2) {
        bool taken[slotCount] = {};
        bool distinct = true;
        for (const Keyword& keyword : keywords) {
            bool& slot = taken[slot_of(head_of(keyword), candidate)];
            distinct = distinct && !slot;
            slot = true;
        }
        if (distinct) return candidate;
    }
}();

struct Row {
    uint64_t low, high;          // the match's bytes, as the narrowed units are read
    uint64_t lowMask, highMask;  // the bytes the match covers
    int8_t length;               // units in the match
    int8_t valueStart;           // from the '[' to the first unit of a copied value: after an opener's space
    int8_t fixed;                // its id in fixedTags, -1 for an opener
    char kind;
};

// Every slot holds a row. A slot no keyword hashes to holds a head that
// hashes elsewhere, so no units that land there can match it. A plain array
// in a struct: the scan indexes it with no function of the library's.
struct RowTable {
    Row rows[slotCount];
};
inline constexpr RowTable table = [] {
    RowTable table{};
    const uint32_t foreignHead = head_of(keywords[0]);
    for (Row& row : table.rows) row = {foreignHead, 0, 0xffffffffu, 0, 0, 0, -1, 0};
    int fixedId = 0;
    for (const Keyword& keyword : keywords) {
        const auto length = static_cast<int8_t>(match_size(keyword));
        Row row{0, 0, 0, 0, length, static_cast<int8_t>(keyword.opener ? length + 1 : length), -1, keyword.kind};
        for (size_t j = 0; j < match_size(keyword); ++j) {
            uint64_t& word = j < 8 ? row.low : row.high;
            uint64_t& mask = j < 8 ? row.lowMask : row.highMask;
            word |= uint64_t{static_cast<unsigned char>(match_at(keyword, j))} << (8 * (j % 8));
            mask |= uint64_t{0xff} << (8 * (j % 8));
        }
        if (!keyword.opener) row.fixed = static_cast<int8_t>(fixedId++);
        table.rows[slot_of(head_of(keyword), multiplier)] = row;
    }
    return table;
}();
// Every match is long enough for the hash and fits the sixteen bytes compared.
static_assert([] {
    for (const Keyword& keyword : keywords) {
        if (match_size(keyword) < 4 || match_size(keyword) > 16) return false;
    }
    return true;
}());

}  // namespace keyword_lookup
}  // namespace marquill
