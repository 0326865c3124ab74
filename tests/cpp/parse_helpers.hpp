// Runs the parser on a std::string and flattens its records for comparison.
// Every kernel the processor runs must give the same records, and every parse
// of a line up to 64 KiB also scans it widened to 2- and 4-byte units on
// every kernel, which must find the same spans.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "parser/kernel.hpp"
#include "parser/parsed_text.hpp"
#include "parser/tag_spans.hpp"

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

// A span as a tuple, to compare the scans of the widths and of the kernels.
using SpanFields = std::tuple<int64_t, int64_t, int64_t, char, int8_t>;

inline std::vector<SpanFields> fields_of(const marquill::TagSpans& spans) {
    std::vector<SpanFields> fields;
    spans.for_each([&](const marquill::TagSpan& s) { fields.emplace_back(s.l, s.r, s.valueL, s.kind, s.fixed); });
    EXPECT_EQ(fields.size(), spans.size());
    return fields;
}

template <class Unit>
std::vector<SpanFields> spans_of(const Unit* line, int64_t n, const marquill::Kernel& kernel) {
    marquill::TagSpans spans;
    EXPECT_TRUE(kernel.of<Unit>().find_tags(line, n, spans));
    return fields_of(spans);
}

template <class Unit>
std::vector<SpanFields> spans_of(const std::vector<Unit>& line, const marquill::Kernel& kernel) {
    return spans_of(line.data(), static_cast<int64_t>(line.size()), kernel);
}

// Each byte as a unit of its own: markup stays where it was, and bytes above
// 0x7f become units above 0xff whose low byte is the same, which the
// narrowing searches must not take for markup.
template <class Unit>
std::vector<Unit> widened(const std::string& input, Unit high) {
    std::vector<Unit> units;
    for (const char c : input) {
        const auto byte = static_cast<unsigned char>(c);
        units.push_back(byte < 0x80 ? byte : static_cast<Unit>(high | byte));
    }
    return units;
}

inline Flat parse_on(const std::string& input, const marquill::Kernel& kernel) {
    const marquill::ParsedText parsed(input.c_str(), static_cast<int64_t>(input.size()), kernel);
    Flat flat{std::string(parsed.text, static_cast<size_t>(parsed.textSize)), {}};
    for (const marquill::Tag& tag : parsed.args) {
        flat.tags.push_back({tag.name, std::string(tag.value, static_cast<size_t>(tag.size)), tag.l, tag.r});
    }
    return flat;
}

inline bool operator==(const Flat& a, const Flat& b) { return a.text == b.text && a.tags == b.tags; }

// The parse on the best kernel, checked against every other one.
inline Flat parse(const std::string& input) {
    const Flat flat = parse_on(input, marquill::best_kernel());
    for (const marquill::Kernel* kernel : marquill::runnable_kernels()) {
        EXPECT_TRUE(parse_on(input, *kernel) == flat) << "kernel " << kernel->name;
        if (input.size() > 65536) continue;  // the long-run tests, whose widening would take most of their time
        const std::vector<SpanFields> bytes = spans_of(widened<uint8_t>(input, 0), *kernel);
        EXPECT_EQ(spans_of(widened<uint16_t>(input, 0xff00), *kernel), bytes) << "kernel " << kernel->name;
        EXPECT_EQ(spans_of(widened<uint32_t>(input, 0x10f00), *kernel), bytes) << "kernel " << kernel->name;
        EXPECT_EQ(spans_of(widened<uint32_t>(input, 0xffffff00), *kernel), bytes) << "kernel " << kernel->name;
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
