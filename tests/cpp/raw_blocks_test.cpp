#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "parse_helpers.hpp"

using namespace std::string_literals;

namespace {

INSTANTIATE_TEST_SUITE_P(
    RawBlocks,
    Markup,
    testing::Values(Case{"{a}b", "{}b", {{'r', "a", 0, 2}}},
                    Case{"x{a}b", "x{}b", {{'r', "a", 1, 3}}},
                    Case{"{}", "{}", {{'r', "", 0, 1}}},
                    Case{"x{a}}{b}", "x{}{}", {{'r', "a}", 1, 4}, {'r', "b", 5, 7}}},
                    Case{"x{a{b}c}", "x{}", {{'r', "a{b}c", 1, 7}}},
                    Case{"x{{}}", "x{}", {{'r', "{}", 1, 4}}},
                    Case{"x{a", "x{a", {}},
                    Case{"{{{", "{{{", {}},
                    Case{"x}{a}", "x}{}", {{'r', "a", 2, 4}}},
                    Case{"}}}", "}}}", {}},
                    Case{"x{a[center]b}y", "x{}y", {{'r', "a[center]b", 1, 12}}},
                    Case{"{a}[center]{b}", "{}{}{}", {{'r', "a", 0, 2}, {'a', "center", 3, 10}, {'r', "b", 11, 13}}},
                    Case{"{a}x}y{b", "{}y{b", {{'r', "a}x", 0, 4}}},
                    Case{"{a} {", "{} {", {{'r', "a", 0, 2}}},
                    // a block inside an open argument tag forgets the tag, like a fixed tag
                    Case{"[font x{a}]", "[font x{}]", {{'r', "a", 7, 9}}},
                    Case{"[style {c}][font f]", "[style {}]{}", {{'r', "c", 7, 9}, {'f', "f", 11, 18}}},
                    // the block is tried first, so a ']' inside it closes nothing
                    Case{"[font x{a]b}", "[font x{}", {{'r', "a]b", 7, 11}}},
                    Case{"[pixel {", "[pixel {", {}},
                    Case{"{x\0y}"s, "{}", {{'r', "x\0y"s, 0, 4}}},
                    Case{"\0{\0}\0"s, "\0{}\0"s, {{'r', "\0"s, 1, 3}}},
                    Case{"é{日本}ü{", "é{}ü{", {{'r', "日本", 2, 9}}}));

// Positions and the budget over a long input with blocks and tags in turn.
TEST(RawBlocks, TextMatchesBudgetOnLongInput) {
    std::string input;
    std::string expected;
    for (int k = 0; k < 10000; ++k) {
        input += "ab{c}[left]";
        expected += "ab{}{}";
    }
    const Flat got = parse(input);
    EXPECT_EQ(got.text, expected);
    ASSERT_EQ(got.tags.size(), 20000u);
    EXPECT_EQ(got.tags.back(), (FlatTag{'a', "left", 109994, 109999}));
}

// The tags read inside a block are taken back at its '}', however many
// chunks of spans they filled, and the tags after its last '}' stand.
TEST(RawBlocks, TagsInsideABlockAreTakenBackAcrossChunks) {
    auto repeated = [](const std::string& piece, int count) {
        std::string s;
        for (int k = 0; k < count; ++k) s += piece;
        return s;
    };
    for (const int before : {0, 15, 16, 17}) {
        for (const int inside : {1, 16, 17, 40, 300}) {
            const std::string block = '{' + repeated("[center]", inside) + '}';
            const std::string input = repeated("[left]", before) + block + repeated("[right]", 20);
            const Flat got = parse(input);
            EXPECT_EQ(got.text, repeated("{}", before + 1 + 20)) << before << " " << inside;
            ASSERT_EQ(got.tags.size(), static_cast<size_t>(before + 1 + 20));
            EXPECT_EQ(got.tags[before].value, block.substr(1, block.size() - 2));
            // a last '}' takes the tags after the first one back too
            const Flat longer = parse(input + "}");
            ASSERT_EQ(longer.tags.size(), static_cast<size_t>(before + 1)) << before << " " << inside;
            EXPECT_EQ(longer.tags.back().r, static_cast<int64_t>(input.size()));
        }
    }
}

// Linear time: a quadratic look-ahead would take hours on these inputs,
// a linear scan takes milliseconds, so the bound cannot flake.
TEST(RawBlocks, LongRunsOfOpenersAreLinear) {
    const size_t n = 4u << 20;
    const std::vector<std::string> inputs = {
        std::string(n, '{'),
        std::string(n, '{') + "text after",
        "{a}" + std::string(n, '{'),
        std::string(n / 2, '{') + "}" + std::string(n / 2, '{'),
        std::string(n, '['),
        [&] {
            std::string s;
            while (s.size() < n) s += "[pixel ";
            return s;
        }(),
    };
    for (const std::string& input : inputs) {
        const auto start = std::chrono::steady_clock::now();
        const Flat got = parse(input);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took.count(), 60.0) << "input of " << input.size() << " bytes";
        EXPECT_LE(got.tags.size(), 1u);
    }
}

}  // namespace
