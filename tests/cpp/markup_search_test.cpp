#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <random>
#include <vector>

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

template <ByteClass wanted, class Unit>
void expect_agreement(const Unit* s, int64_t n) {
    for (int64_t from = 0; from <= n; ++from) {
        ASSERT_EQ(search::find<wanted>(s, from, n), bytewise::find<wanted>(s, from, n))
            << "n=" << n << " from=" << from << " class=" << static_cast<int>(wanted) << " width=" << sizeof(Unit);
    }
    for (int64_t from = 0; from + 64 <= n; ++from) {
        ASSERT_EQ(search::bits64<wanted>(s + from), bytewise::bits64<wanted>(s + from))
            << "n=" << n << " from=" << from << " class=" << static_cast<int>(wanted) << " width=" << sizeof(Unit);
    }
}

// The long skip may stop before the unit-by-unit one (at any 64 units that
// hold markup), never after it, and never lets markup go by.
template <class Unit>
void expect_skip_agreement(const Unit* s, int64_t n) {
    for (int64_t from = 0; from <= n; ++from) {
        const int64_t stop = search::skip_plain_text(s, from, n);
        ASSERT_LE(stop, bytewise::skip_plain_text(s, from, n)) << "n=" << n << " from=" << from;
        ASSERT_GE(bytewise::find<ByteClass::markup>(s, from, n), stop) << "n=" << n << " from=" << from;
        ASSERT_TRUE(stop + 64 > n || bytewise::bits64<ByteClass::markup>(s + stop) != 0);
    }
}

// A line shorter than a window is marked without reading past its end.
template <class Unit>
void expect_short_mask_agreement(const Unit* s, int64_t n) {
    uint64_t expected = 0;
    for (int64_t k = 0; k < n; ++k) expected |= uint64_t{marquill::in_class(ByteClass::markup, s[k])} << k;
    ASSERT_EQ(marquill::markup_bits_below_64(s, n), expected) << "n=" << n << " width=" << sizeof(Unit);
}

// Units that narrow to a markup byte by truncation, or that are markup once
// bit 0x20 is set, besides the markup characters themselves.
template <class Unit>
std::vector<Unit> alphabet() {
    std::vector<Unit> units = {'{', '[', ']', '}', ';', ' ', 0, 0x7f, 0x80, 0xbf, 0xdb, 0xfb, 0xfd, 0xff};
    if constexpr (sizeof(Unit) >= 2) {
        for (const Unit high : {0x100, 0x7f00, 0x8000, 0xff00}) {
            for (const Unit low : {'{', '[', ']', '}'}) units.push_back(static_cast<Unit>(high | low));
        }
    }
    if constexpr (sizeof(Unit) == 4) {
        for (const Unit high : {0x10000u, 0x10ff00u, 0x7fffff00u, 0x80000000u, 0xffffff00u}) {
            for (const Unit low : {'{', '[', ']', '}'}) units.push_back(high | low);
        }
    }
    return units;
}

// The target's search against the unit-by-unit one, for every class, from
// every start, on buffers of every length up to a few vector widths, each in
// an exact-size heap allocation so that a read past the end is caught by the
// sanitizer.
template <class Unit>
void expect_searches_agree() {
    std::mt19937 random(7);
    const std::vector<Unit> units = alphabet<Unit>();
    for (const int density : {0, 1, 10, 100}) {
        for (int64_t n = 0; n <= 300; ++n) {
            std::unique_ptr<Unit[]> buffer(new Unit[n]);
            for (int64_t k = 0; k < n; ++k) {
                const bool markup = static_cast<int>(random() % 100) < density;
                buffer[k] = markup ? units[random() % units.size()] : static_cast<Unit>('a' + random() % 26);
            }
            expect_agreement<ByteClass::markup>(buffer.get(), n);
            expect_agreement<ByteClass::closeBrace>(buffer.get(), n);
            expect_agreement<ByteClass::brace>(buffer.get(), n);
            expect_skip_agreement(buffer.get(), n);
            if (n < 64) expect_short_mask_agreement(buffer.get(), n);
        }
    }
}

TEST(Search, AgreesWithTheBytewiseSearchOnBytes) { expect_searches_agree<uint8_t>(); }
TEST(Search, AgreesWithTheBytewiseSearchOn2ByteUnits) { expect_searches_agree<uint16_t>(); }
TEST(Search, AgreesWithTheBytewiseSearchOn4ByteUnits) { expect_searches_agree<uint32_t>(); }

// Bytes that differ from a markup byte only in bit 0x20 are plain text, and
// so is every wider unit whose low byte is a markup byte.
TEST(Search, FoldsOnlyTheOpeningBracket) {
    for (uint32_t c = 0; c < 256; ++c) {
        std::vector<uint8_t> s(64, 'x');
        s[37] = static_cast<uint8_t>(c);
        const uint64_t expected = marquill::in_class(ByteClass::markup, c) ? uint64_t{1} << 37 : 0;
        EXPECT_EQ(marquill::markup_bits(s.data()), expected) << "byte " << c;
        std::vector<uint16_t> wide(64, 'x');
        wide[37] = static_cast<uint16_t>(0x100 | c);
        EXPECT_EQ(marquill::markup_bits(wide.data()), 0u) << "unit " << (0x100 | c);
    }
}

#if MARQUILL_SEARCH_SSE2
// Both widths of registers in the long-run skip stop at the same block, from
// every start, for every width of unit.
template <class Unit>
void expect_skip_widths_agree() {
    std::mt19937 random(11);
    for (int64_t n = 64; n <= 400; n += 7) {
        std::vector<Unit> buffer(static_cast<size_t>(n));
        for (Unit& unit : buffer) unit = static_cast<Unit>(random() % 3 == 0 ? 0xff00 | ('a' + random() % 26) : 'a');
        buffer[random() % n] = "[]{"[random() % 3];
        for (int64_t from = 0; from + 64 <= n; ++from) {
            ASSERT_EQ(marquill::sse2::skip_plain_text_avx2(buffer.data(), from, n),
                      marquill::sse2::skip_plain_text_sse2(buffer.data(), from, n))
                << "n=" << n << " from=" << from << " width=" << sizeof(Unit);
        }
    }
}

TEST(SkipPlainText, RegisterWidthsAgree) {
    if (!marquill::sse2::has_avx2()) GTEST_SKIP() << "no AVX2 on this processor";
    expect_skip_widths_agree<uint8_t>();
    expect_skip_widths_agree<uint16_t>();
    expect_skip_widths_agree<uint32_t>();
}
#endif

}  // namespace
