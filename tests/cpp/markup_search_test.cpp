#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <memory>
#include <random>
#include <string>

#include "parser/markup_search.hpp"

namespace {

using marquill::ByteClass;
namespace bytewise = marquill::bytewise;
namespace search = marquill::search;

// The widest search the target has is the one the parser uses; a build that
// fell back to the byte-by-byte search would pass every other test.
TEST(SearchPath, IsTheWidestTheTargetHas) {
    std::cout << "search path: " << marquill::search::name << '\n';
#if defined(MARQUILL_NO_SIMD)
    EXPECT_STREQ(marquill::search::name, "bytewise");
#elif defined(__x86_64__) || defined(_M_X64)
    EXPECT_STREQ(marquill::search::name, "sse2");
#elif defined(__aarch64__) || defined(_M_ARM64)
    EXPECT_STREQ(marquill::search::name, "neon");
#endif
}

template <ByteClass wanted>
void expect_agreement(const char* s, int64_t n) {
    ASSERT_EQ(search::count<wanted>(s, n), bytewise::count<wanted>(s, n)) << "n=" << n;
    for (int64_t from = 0; from <= n; ++from) {
        ASSERT_EQ(search::find<wanted>(s, from, n), bytewise::find<wanted>(s, from, n))
            << "n=" << n << " from=" << from << " class=" << static_cast<int>(wanted);
    }
    for (int64_t from = 0; from + 64 <= n; ++from) {
        ASSERT_EQ(search::bits64<wanted>(s + from), bytewise::bits64<wanted>(s + from))
            << "n=" << n << " from=" << from << " class=" << static_cast<int>(wanted);
    }
}

// The long skip may stop before the byte-by-byte one (at any 64 bytes that
// hold markup), never after it, and never lets markup go by.
void expect_skip_agreement(const char* s, int64_t n) {
    for (int64_t from = 0; from <= n; ++from) {
        const int64_t stop = search::skip_plain_text(s, from, n);
        ASSERT_LE(stop, bytewise::skip_plain_text(s, from, n)) << "n=" << n << " from=" << from;
        ASSERT_GE(bytewise::find<ByteClass::markup>(s, from, n), stop) << "n=" << n << " from=" << from;
        ASSERT_TRUE(stop + 64 > n || bytewise::bits64<ByteClass::markup>(s + stop) != 0);
    }
}

// The target's search against the byte-by-byte one, for every class, from
// every start, on buffers of every length up to a few vector widths, each in
// an exact-size heap allocation so that a read past the end is caught by the
// sanitizer.
TEST(Search, AgreesWithTheBytewiseSearch) {
    std::mt19937 random(7);
    const std::string alphabet = "ab{[]}\x7b\x5b\x5d\x20\x3b\x7d\xfb\xdb\x00\x80\xbf\xc0\x7f\xff";
    for (const int density : {0, 1, 10, 100}) {
        for (int64_t n = 0; n <= 300; ++n) {
            std::unique_ptr<char[]> buffer(new char[n + 1]);
            for (int64_t k = 0; k < n; ++k) {
                const bool markup = static_cast<int>(random() % 100) < density;
                buffer[k] = markup ? alphabet[random() % alphabet.size()] : static_cast<char>('a' + random() % 26);
            }
            buffer[n] = '\0';
            expect_agreement<ByteClass::markup>(buffer.get(), n);
            expect_agreement<ByteClass::closeBrace>(buffer.get(), n);
            expect_agreement<ByteClass::brace>(buffer.get(), n);
            expect_agreement<ByteClass::opener>(buffer.get(), n);
            expect_agreement<ByteClass::closer>(buffer.get(), n);
            expect_agreement<ByteClass::codePointStart>(buffer.get(), n);
            expect_skip_agreement(buffer.get(), n);
        }
    }
}

// Byte counters must not wrap: more than 255 hits in one column.
TEST(Count, CountsLongRunsOfHits) {
    for (const int64_t n : {4080, 4096, 4111, 70000}) {
        const std::string run(static_cast<size_t>(n), '[');
        const std::string mixed = std::string(static_cast<size_t>(n), '}') + "x]{";
        EXPECT_EQ(marquill::count_openers(run.c_str(), n), static_cast<size_t>(n));
        EXPECT_EQ(marquill::count_closers(run.c_str(), n), 0u);
        EXPECT_EQ(marquill::count_closers(mixed.c_str(), n + 3), static_cast<size_t>(n) + 1);
        EXPECT_EQ(marquill::count_openers(mixed.c_str(), n + 3), 1u);
    }
}

// Bytes that differ from a markup byte only in bit 0x20 are plain text.
TEST(Search, FoldsOnlyTheOpeningBracket) {
    for (int c = 0; c < 256; ++c) {
        std::string s(64, 'x');
        s[37] = static_cast<char>(c);
        const uint64_t expected = marquill::in_class(ByteClass::markup, static_cast<char>(c)) ? uint64_t{1} << 37 : 0;
        EXPECT_EQ(marquill::markup_bits(s.c_str()), expected) << "byte " << c;
    }
}

#if MARQUILL_SEARCH_SSE2
// Both widths of the long-run skip stop at the same block, from every start.
TEST(SkipPlainText, WidthsAgree) {
    if (!marquill::sse2::has_avx2()) GTEST_SKIP() << "no AVX2 on this processor";
    std::mt19937 random(11);
    for (int64_t n = 64; n <= 400; n += 7) {
        std::unique_ptr<char[]> buffer(new char[n + 1]);
        for (int64_t k = 0; k < n; ++k) buffer[k] = static_cast<char>('a' + random() % 26);
        buffer[n] = '\0';
        buffer[random() % n] = "[]{"[random() % 3];
        for (int64_t from = 0; from + 64 <= n; ++from) {
            ASSERT_EQ(marquill::sse2::skip_plain_text_avx2(buffer.get(), from, n),
                      marquill::sse2::skip_plain_text_sse2(buffer.get(), from, n))
                << "n=" << n << " from=" << from;
        }
    }
}
#endif

}  // namespace
