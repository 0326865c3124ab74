#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <memory_resource>
#include <new>
#include <string>
#include <vector>

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
INSTANTIATE_TEST_SUITE_P(BracketTags, Markup, testing::Values(
    Case{"", "", {}},
    Case{"no markup here", "no markup here", {}},
    Case{"[center]Hi", "{}Hi", {{'a', "center", 0, 7}}},
    Case{"a[left]b[right]c", "a{}b{}c", {{'a', "left", 1, 6}, {'a', "right", 8, 14}}},
    Case{"[pixel 50]x", "{}x", {{'a', "50", 0, 9}}},
    Case{"[style red]x[font big]y", "{}x{}y", {{'s', "red", 0, 10}, {'f', "big", 12, 21}}},
    Case{"[nowrap][passport][autowrap][noautowrap]", "{}{}{}{}",
         {{'t', "nowrap", 0, 7}, {'t', "passport", 8, 17}, {'t', "autowrap", 18, 27},
          {'t', "noautowrap", 28, 39}}},
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
         std::string(300, 'a') + "{}" + std::string(300, 'b') + "{}", {{'a', "center", 300, 307}, {'f', "x", 608, 615}}},
    // multi-byte UTF-8 passes through; positions count bytes
    Case{"é[font 日本]ü", "é{}ü", {{'f', "日本", 2, 14}}}
));

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
    std::pmr::monotonic_buffer_resource memory;
    EXPECT_STREQ(marquill::substr("abcdef", 1, 4, memory), "bcd");
    EXPECT_STREQ(marquill::substr("abc", 2, 2, memory), "");
}

TEST(Startswith, StopsAtTheFirstDifference) {
    EXPECT_TRUE(marquill::startswith("center]x", "center]"));
    EXPECT_TRUE(marquill::startswith("anything", ""));
    EXPECT_FALSE(marquill::startswith("cent", "center]"));  // the terminator differs
    EXPECT_FALSE(marquill::startswith("", "left]"));
    EXPECT_FALSE(marquill::startswith("Center]", "center]"));
}

// An upstream resource that counts what the parse takes from it and can be
// told to fail, as the heap does when memory runs out.
class CountingResource : public std::pmr::memory_resource {
public:
    explicit CountingResource(int failAt = -1) : failAt_(failAt) {}
    int allocations = 0;
    int live = 0;

private:
    int failAt_;
    void* do_allocate(size_t bytes, size_t align) override {
        if (allocations++ == failAt_) throw std::bad_alloc();
        ++live;
        return std::pmr::new_delete_resource()->allocate(bytes, align);
    }
    void do_deallocate(void* p, size_t bytes, size_t align) override {
        --live;
        std::pmr::new_delete_resource()->deallocate(p, bytes, align);
    }
    bool do_is_equal(const memory_resource& other) const noexcept override { return this == &other; }
};

// Up to the size that the object's own buffer serves, the heap is not
// touched; just past it, the parse takes more memory and gives the same
// results; all of it is given back.
TEST(ParsedText, ServesLinesFromItsOwnBufferAndMoreFromUpstream) {
    int64_t largestServed = 0;
    int64_t smallestAllocating = 0;
    for (int64_t size = 1; size <= 3000; ++size) {
        std::string input;
        std::string text;
        size_t tags = 0;
        while (input.size() + 40 < static_cast<size_t>(size)) {
            input += "say [center]{who} [font x]hi[nowrap] ";
            text += "say {}{} {}hi{} ";
            tags += 4;
        }
        text += std::string(static_cast<size_t>(size) - input.size(), 'z');
        input += std::string(static_cast<size_t>(size) - input.size(), 'z');
        CountingResource upstream;
        {
            const marquill::ParsedText parsed(input.c_str(), size, &upstream);
            ASSERT_EQ(std::string(parsed.text, static_cast<size_t>(parsed.textSize)), text) << size;
            ASSERT_EQ(parsed.args.size(), tags) << size;
            if (tags > 0) {
                ASSERT_STREQ(parsed.args[tags - 2].value, "x") << size;  // the last [font x]
            }
        }
        ASSERT_EQ(upstream.live, 0) << size;
        if (upstream.allocations == 0) {
            largestServed = size;
        } else if (smallestAllocating == 0) {
            smallestAllocating = size;
        }
    }
    // Every size up to the boundary is served; lines of dialogue, even this
    // dense with tags, lie well within it.
    EXPECT_EQ(smallestAllocating, largestServed + 1);
    EXPECT_GE(largestServed, 160);
}

// Whichever allocation fails, construction throws std::bad_alloc and gives
// back everything it took.
TEST(ParsedText, ReleasesEverythingWhenMemoryRunsOut) {
    std::string input;
    for (int k = 0; k < 2000; ++k) input += "a[font b]{c}[left]";
    CountingResource counting;
    { const marquill::ParsedText parsed(input.c_str(), static_cast<int64_t>(input.size()), &counting); }
    ASSERT_GT(counting.allocations, 1);
    for (int failAt = 0; failAt < counting.allocations; ++failAt) {
        CountingResource failing(failAt);
        EXPECT_THROW(marquill::ParsedText(input.c_str(), static_cast<int64_t>(input.size()), &failing),
                     std::bad_alloc);
        EXPECT_EQ(failing.live, 0) << failAt;
    }
}

}  // namespace
