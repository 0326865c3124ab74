#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "failing_allocations.hpp"
#include "parse_helpers.hpp"
#include "parser/parsed_text.hpp"

using namespace std::string_literals;

namespace {

TEST_P(Markup, GivesTextAndTags) {
    const Case& c = GetParam();
    const Flat got = parse(c.input);
    EXPECT_EQ(got.text, c.text);
    EXPECT_EQ(got.tags, c.tags);
}

// Spans are inclusive: l is the '[', r the closing ']'.
INSTANTIATE_TEST_SUITE_P(
    BracketTags,
    Markup,
    testing::Values(
        Case{"", "", {}},
        Case{"no markup here", "no markup here", {}},
        Case{"[center]Hi", "{}Hi", {{'a', "center", 0, 7}}},
        Case{"a[left]b[right]c", "a{}b{}c", {{'a', "left", 1, 6}, {'a', "right", 8, 14}}},
        Case{"[pixel 50]x", "{}x", {{'a', "50", 0, 9}}},
        Case{"[style red]x[font big]y", "{}x{}y", {{'s', "red", 0, 10}, {'f', "big", 12, 21}}},
        Case{"[nowrap][passport][autowrap][noautowrap]",
             "{}{}{}{}",
             {{'t', "nowrap", 0, 7}, {'t', "passport", 8, 17}, {'t', "autowrap", 18, 27}, {'t', "noautowrap", 28, 39}}},
        Case{"[pixel ]x", "{}x", {{'a', "", 0, 7}}},
        Case{"[pixel ", "[pixel ", {}},
        Case{"[font ", "[font ", {}},
        Case{"[pixel 5", "[pixel 5", {}},
        Case{"[center", "[center", {}},
        Case{"[centre] [Center] [center ] [pixel50] a]b", "[centre] [Center] [center ] [pixel50] a]b", {}},
        Case{"[", "[", {}},
        Case{"[[center]]", "[{}]", {{'a', "center", 1, 8}}},
        Case{"[pixel a b [c]", "{}", {{'a', "a b [c", 0, 13}}},
        Case{"[pixel 1]]", "{}]", {{'a', "1", 0, 8}}},
        // a new opener replaces the open one, whose opener stays as text
        Case{"[font a[style b]c]", "[font a{}c]", {{'s', "b", 7, 15}}},
        Case{"[font [style x]]", "[font {}]", {{'s', "x", 6, 14}}},
        // a fixed tag inside an open argument tag closes nothing: it forgets it
        Case{"[font a[center]b]", "[font a{}b]", {{'a', "center", 7, 14}}},
        Case{"[pixel 5[nowrap]]z", "[pixel 5{}]z", {{'t', "nowrap", 8, 15}}},
        // NUL is plain text, also inside arguments
        Case{"a\0[center]b"s, "a\0{}b"s, {{'a', "center", 2, 9}}},
        Case{"[pixel \0]"s, "{}", {{'a', "\0"s, 0, 8}}},
        Case{"[\0center]"s, "[\0center]"s, {}},
        // long plain text before and between tags, which the scan skips
        Case{std::string(300, 'a') + "[center]" + std::string(300, 'b') + "[font x]",
             std::string(300, 'a') + "{}" + std::string(300, 'b') + "{}",
             {{'a', "center", 300, 307}, {'f', "x", 608, 615}}},
        // multi-byte UTF-8 passes through; positions count bytes
        Case{"é[font 日本]ü", "é{}ü", {{'f', "日本", 2, 14}}}));

TEST(ParsedText, TextBufferIsExactlySized) {
    const std::string input = "ab[center]cd[pixel 12]ef[nowrap";
    const marquill::ParsedText parsed(input.c_str(), static_cast<int64_t>(input.size()));
    // n bytes, less each tag's span, plus two placeholder bytes per tag
    const int64_t expected = static_cast<int64_t>(input.size()) - 8 - 10 + 2 * 2;
    EXPECT_EQ(parsed.textSize, expected);
    EXPECT_EQ(std::strlen(parsed.text), static_cast<size_t>(expected));
    EXPECT_EQ(std::string(parsed.text), "ab{}cd{}ef[nowrap");
}

TEST(ParsedText, FixedTagsShareStaticValuesArgumentsOwnCopies) {
    const std::string input = "[left][left][font x]";
    const marquill::ParsedText parsed(input.c_str(), static_cast<int64_t>(input.size()));
    ASSERT_EQ(parsed.args.size(), 3u);
    EXPECT_FALSE(parsed.args[0].dynamic);
    EXPECT_EQ(parsed.args[0].value, parsed.args[1].value);
    EXPECT_TRUE(parsed.args[2].dynamic);
    EXPECT_NE(parsed.args[2].value, input.c_str() + 18);
}

TEST(ParsedText, ReadsNothingPastTheTerminator) {
    // an exact-size heap buffer: a sanitizer sees any read past its end
    for (const char* input : {"[", "[p", "[pixel", "[pixel ", "[noautowrap", "x]", "[font a"}) {
        const size_t n = std::strlen(input);
        std::unique_ptr<char[]> exact(new char[n + 1]);
        std::memcpy(exact.get(), input, n + 1);
        const marquill::ParsedText parsed(exact.get(), static_cast<int64_t>(n));
        EXPECT_STREQ(parsed.text, input);
        EXPECT_TRUE(parsed.args.empty());
    }
}

TEST(Substr, CopiesTheRangeWithATerminator) {
    const std::unique_ptr<const char[]> middle(marquill::substr("abcdef", 1, 4));
    const std::unique_ptr<const char[]> empty(marquill::substr("abc", 2, 2));
    EXPECT_STREQ(middle.get(), "bcd");
    EXPECT_STREQ(empty.get(), "");
}

TEST(Startswith, StopsAtTheFirstDifference) {
    EXPECT_TRUE(marquill::startswith("center]x", "center]"));
    EXPECT_TRUE(marquill::startswith("anything", ""));
    EXPECT_FALSE(marquill::startswith("cent", "center]"));  // the terminator differs
    EXPECT_FALSE(marquill::startswith("", "left]"));
    EXPECT_FALSE(marquill::startswith("Center]", "center]"));
}

// The spans of a line live inside TagSpans up to a point and on the heap
// past it; lines on both sides of that point give their tags in order.
TEST(TagSpans, KeepsEveryTagAcrossTheMoveToTheHeap) {
    std::string input;
    for (size_t tags = 1; tags <= 70; ++tags) {
        input += tags % 2 == 0 ? "a{b}" : "[font x]";
        const Flat got = parse(input);
        ASSERT_EQ(got.tags.size(), tags);
        EXPECT_EQ(got.tags.back().value, tags % 2 == 0 ? "b" : "x");
        EXPECT_EQ(got.tags.back().r, static_cast<int64_t>(input.size()) - 1);
    }
}

// Whichever allocation fails, construction throws std::bad_alloc and gives
// back everything it took (failing_allocations.hpp counts them).
TEST(ParsedText, ReleasesEverythingWhenMemoryRunsOut) {
    std::string input;
    for (int k = 0; k < 200; ++k) input += "a[font b]{c}[left]";
    const auto n = static_cast<int64_t>(input.size());
    int allocations = 0;
    {
        const FailingAllocations counting(-1);
        {
            const marquill::ParsedText parsed(input.c_str(), n);
        }
        allocations = counting.made();
        EXPECT_EQ(counting.live(), 0);
    }
    ASSERT_GT(allocations, 400);
    for (int failAt = 0; failAt < allocations; failAt += failAt < 8 ? 1 : 37) {
        const FailingAllocations failing(failAt);
        EXPECT_THROW(marquill::ParsedText(input.c_str(), n), std::bad_alloc);
        EXPECT_EQ(failing.live(), 0) << failAt;
    }
}

}  // namespace
