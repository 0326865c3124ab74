// The bracket tags' vocabulary: one table, from which the fixed tags' ids and
// values, the kinds of tag and the keyword lookup's rows are all derived at
// compile time. A row that breaks one of the table's rules (below) fails to
// compile, with a message that names the rule and the keyword.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <utility>

namespace marquill {

struct Keyword {
    std::string_view word;  // a string literal, so its data is terminated
    char kind;              // a lowercase letter, handed to Python as bytes of one byte
    bool opener;            // an argument tag's opener, whose word a space follows; a fixed tag's is followed by ']'
};

// Adding a tag is adding its row here, to tests/reference_model.py and to
// the documents that show the tags, README.md and the stub: the tests of
// tests/python/test_keywords.py name whichever lacks it. No match (a word and what follows it) is a prefix of
// another, so at most one row matches at a '['.
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

// The kind of a raw block's span, which the scan writes; no keyword has it.
inline constexpr char rawBlockKind = 'r';

// Whether no keyword before the one at `index` has this kind.
constexpr bool kind_is_new(char kind, int index) {
    for (int k = 0; k < index; ++k) {
        if (keywords[k].kind == kind) return false;
    }
    return true;
}

// Every kind a span can carry, once: the keywords' in table order, then a
// raw block's.
inline constexpr int kindCount = [] {
    int count = 1;
    for (int k = 0; k < keywordCount; ++k) count += kind_is_new(keywords[k].kind, k) ? 1 : 0;
    return count;
}();
inline constexpr std::array<char, kindCount> kinds = [] {
    std::array<char, kindCount> letters{};
    int count = 0;
    for (int k = 0; k < keywordCount; ++k) {
        if (kind_is_new(keywords[k].kind, k)) letters[count++] = keywords[k].kind;
    }
    letters[count] = rawBlockKind;
    return letters;
}();

// The keyword lookup at a '[': the sixteen units after it, narrowed to bytes
// (a unit above 0xff to a byte that is no keyword character) and read as two
// little-endian words. A multiplicative hash of the first four bytes picks
// the one row that can match, and a masked compare of the sixteen bytes
// decides it, with no branch on the letters.
namespace keyword_lookup {

constexpr int slotBits = 4;
constexpr int slotCount = 1 << slotBits;

constexpr uint32_t head_of(const Keyword& keyword) {
    uint32_t head = 0;
    for (size_t k = 0; k < 4; ++k) head |= uint32_t{static_cast<unsigned char>(match_at(keyword, k))} << (8 * k);
    return head;
}
constexpr int slot_of(uint32_t head, uint32_t multiplier) {
    return static_cast<int>((head * multiplier) >> (32 - slotBits));
}

// Whether no other keyword's match begins with the same four bytes, which
// the hash cannot tell apart.
constexpr bool head_is_its_own(int index) {
    for (int k = 0; k < keywordCount; ++k) {
        if (k != index && head_of(keywords[k]) == head_of(keywords[index])) return false;
    }
    return true;
}

// Whether every keyword could have a slot of its own: no more keywords than
// slots, and no two of the same head.
inline constexpr bool slotsSuffice = [] {
    for (int k = 0; k < keywordCount; ++k) {
        if (!head_is_its_own(k)) return false;
    }
    return keywordCount <= slotCount;
}();

// The odd multipliers tried, from 0x9e3779b1 on: a table of a dozen
// keywords finds one among them all but surely, and a table that none of
// them fits fails to compile in a moment rather than searching on.
constexpr uint32_t multipliersTried = 4096;

// The first odd multiplier tried that gives every keyword a slot of its own;
// 0 when none does.
inline constexpr uint32_t multiplier = [] {
    if (!slotsSuffice) return uint32_t{0};
    uint32_t heads[keywordCount] = {};
    for (int k = 0; k < keywordCount; ++k) heads[k] = head_of(keywords[k]);
    for (uint32_t tried = 0; tried < multipliersTried; ++tried) {
        const uint32_t candidate = 0x9e3779b1u + 2 * tried;
        bool taken[slotCount] = {};
        bool distinct = true;
        for (const uint32_t head : heads) {
            bool& slot = taken[slot_of(head, candidate)];
            distinct = distinct && !slot;
            slot = true;
        }
        if (distinct) return candidate;
    }
    return uint32_t{0};
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
        for (size_t j = 0; j < match_size(keyword) && j < 16; ++j) {
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

}  // namespace keyword_lookup

// The table's rules, checked at compile time. A rule one keyword breaks fails
// a static_assert inside CheckedKeyword<index, letters...>, whose letters the
// compiler prints where it says what it was instantiating: they spell the
// keyword. Every message starts "keyword table:".
namespace keyword_rules {

// Printable ASCII but the space that ends an opener's word and the markup
// characters: a match holds no markup but a fixed tag's ']', and a unit
// above 0x7f would be matched by its low byte alone.
constexpr bool is_word_letter(char c) { return c > ' ' && c < 0x7f && c != '[' && c != ']' && c != '{' && c != '}'; }

constexpr bool is_word(std::string_view word) {
    for (const char c : word) {
        if (!is_word_letter(c)) return false;
    }
    return true;
}

template <int index, char... letters>
struct CheckedKeyword {
    static constexpr const Keyword& keyword = keywords[index];
    static_assert(keyword.kind >= 'a' && keyword.kind <= 'z' && keyword.kind != rawBlockKind,
                  "keyword table: a kind is a lowercase ASCII letter other than 'r', a raw block's; "
                  "the module keeps one bytes object for each, found by its letter's low five bits");
    static_assert(is_word(keyword.word),
                  "keyword table: a word is printable ASCII, with no space and none of '[', ']', '{' and '}'");
    static_assert(match_size(keyword) >= 4,
                  "keyword table: a word has at least three letters: with its ']' or space it must fill "
                  "the four bytes the lookup hashes");
    static_assert(match_size(keyword) <= 16,
                  "keyword table: a word has at most fifteen letters: with its ']' or space it must fit "
                  "the sixteen bytes the lookup compares");
    static_assert(keyword_lookup::head_is_its_own(index),
                  "keyword table: no two keywords begin with the same four bytes (counting the ']' or "
                  "space after a word): the lookup's hash reads no further");
    static constexpr bool checked = true;
};

template <int index, size_t... k>
constexpr bool check_keyword(std::index_sequence<k...>) {
    return CheckedKeyword<index, keywords[index].word[k]...>::checked;
}
template <int... index>
constexpr bool check_keywords(std::integer_sequence<int, index...>) {
    return (check_keyword<index>(std::make_index_sequence<keywords[index].word.size()>{}) && ...);
}
static_assert(check_keywords(std::make_integer_sequence<int, keywordCount>{}));

static_assert(keywordCount <= keyword_lookup::slotCount,
              "keyword table: at most sixteen keywords, one for each slot of the lookup");
static_assert(!keyword_lookup::slotsSuffice || keyword_lookup::multiplier != 0,
              "keyword table: no multiplier gives every keyword its own slot (none of the 4096 odd ones "
              "from 0x9e3779b1 tried): choose other words, or widen the lookup");

}  // namespace keyword_rules
}  // namespace marquill
