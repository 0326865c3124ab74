// Runs the parser on a std::string and flattens its records for comparison.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "parser/parsed_text.hpp"

struct FlatTag {
    char name;
    std::string value;
    int64_t l;
    int64_t r;
    bool operator==(const FlatTag& o) const {
        return std::tie(name, value, l, r) == std::tie(o.name, o.value, o.l, o.r);
    }
};

inline std::ostream& operator<<(std::ostream& os, const FlatTag& t) {
    return os << "{'" << t.name << "', \"" << t.value << "\", " << t.l << ", " << t.r << "}";
}

struct Flat {
    std::string text;
    std::vector<FlatTag> tags;
};

inline Flat parse(const std::string& input) {
    const marquill::ParsedText parsed(input.c_str(), static_cast<int64_t>(input.size()));
    Flat flat{std::string(parsed.text, static_cast<size_t>(parsed.textSize)), {}};
    for (const marquill::Tag& tag : parsed.args) {
        flat.tags.push_back({tag.name, std::string(tag.value, static_cast<size_t>(tag.size)), tag.l, tag.r});
    }
    return flat;
}

// A table row: an input and the text and tags it must give.
struct Case {
    std::string input;
    std::string text;
    std::vector<FlatTag> tags;
};

inline void PrintTo(const Case& c, std::ostream* os) { *os << '"' << c.input << '"'; }

// Tables of cases are instantiated against this suite.
class Markup : public testing::TestWithParam<Case> {};
