// Every kernel the processor runs against the portable one, which the tables
// of cases pin down: the spans of random lines of every width, and the
// passes over runs of units that the module makes its strings with. Each
// input lies in a heap allocation of exactly its size, so that a read past
// either end is caught by the sanitizer.
#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "parse_helpers.hpp"
#include "parser/kernel.hpp"
#include "parser/keywords.hpp"

namespace {

using marquill::Kernel;

const Kernel& portable() { return *marquill::runnable_kernel("portable"); }

// The kernel chosen is the fastest the target and the processor have; a
// build that lost its vector kernels would pass every other test.
TEST(Kernels, TheBestIsTheFastestTheProcessorRuns) {
    std::string names;
    for (const Kernel* kernel : marquill::runnable_kernels()) names += std::string(kernel->name) + " ";
    std::cout << "kernels: " << names << "(best: " << marquill::best_kernel().name << ")\n";
    EXPECT_EQ(&marquill::best_kernel(), marquill::runnable_kernels().items[0]);
    EXPECT_NE(marquill::runnable_kernel("portable"), nullptr);
    EXPECT_EQ(marquill::runnable_kernel("mmx"), nullptr);
#if defined(MARQUILL_NO_SIMD)
    EXPECT_STREQ(marquill::best_kernel().name, "portable");
#elif defined(__x86_64__) || defined(_M_X64)
    EXPECT_NE(marquill::runnable_kernel("sse2"), nullptr);
#elif defined(__aarch64__) || defined(_M_ARM64)
    EXPECT_STREQ(marquill::best_kernel().name, "neon");
#endif
}

// Units that narrow to a markup or keyword byte by truncation, or that are
// markup once bit 0x20 is set, besides the markup characters themselves.
template <class Unit>
std::vector<Unit> alphabet() {
    std::vector<Unit> units = {'{', '[', ']', '}', ';', ' ', 0, 0x7f, 0x80, 0xbf, 0xdb, 0xfb, 0xfd, 0xff};
    if constexpr (sizeof(Unit) >= 2) {
        for (const Unit high : {0x100, 0x7f00, 0x8000, 0xff00}) {
            for (const Unit low : {'{', '[', ']', '}', 'c', ' '}) units.push_back(static_cast<Unit>(high | low));
        }
    }
    if constexpr (sizeof(Unit) == 4) {
        for (const Unit high : {0x10000u, 0x10ff00u, 0x7fffff00u, 0x80000000u, 0xffffff00u}) {
            for (const Unit low : {'{', '[', ']', '}', 'c', ' '}) units.push_back(high | low);
        }
    }
    return units;
}

// Pieces of markup: every keyword's tag or opener, whole and cut short, and
// the markup characters, so that tags start and end at every offset of a
// window.
const std::vector<std::string> pieces = [] {
    std::vector<std::string> all = {"]", "{", "}", "{a}", "[", "{{", "}}", "x", "  "};
    for (const marquill::Keyword& keyword : marquill::keywords) {
        std::string tag = "[";
        tag.append(keyword.word).push_back(keyword.opener ? ' ' : ']');
        all.push_back(tag);                            // whole
        all.push_back(tag.substr(0, tag.size() - 1));  // without its ']' or space
        all.push_back(tag.substr(0, tag.size() - 2));  // and its last letter
    }
    return all;
}();

// The spans of find_tags_and_summarize, which scans as find_tags does; its
// summary is checked by expect_passes_agree.
template <class Unit>
std::vector<SpanFields> summarized_spans_of(const Unit* line, int64_t n, const Kernel& kernel) {
    marquill::TagSpans spans;
    marquill::UnitsSummary<Unit> summary{};
    EXPECT_TRUE(kernel.of<Unit>().find_tags_and_summarize(line, n, spans, summary));
    return fields_of(spans);
}

template <class Unit>
void expect_scans_agree(std::mt19937& random, int64_t n, int density) {
    const std::vector<Unit> units = alphabet<Unit>();
    std::unique_ptr<Unit[]> line(new Unit[static_cast<size_t>(n)]);
    for (int64_t k = 0; k < n;) {
        const int roll = static_cast<int>(random() % 100);
        if (roll < density / 2) {
            for (const char c : pieces[random() % pieces.size()]) {
                if (k < n) line[k++] = static_cast<unsigned char>(c);
            }
        } else if (roll < density) {
            line[k++] = units[random() % units.size()];
        } else {
            line[k++] = static_cast<Unit>('a' + random() % 26);
        }
    }
    const auto expected = spans_of(line.get(), n, portable());
    for (const Kernel* kernel : marquill::runnable_kernels()) {
        ASSERT_EQ(spans_of(line.get(), n, *kernel), expected)
            << "kernel " << kernel->name << " n=" << n << " width=" << sizeof(Unit) << " density=" << density;
        if constexpr (sizeof(Unit) >= 2) {
            ASSERT_EQ(summarized_spans_of(line.get(), n, *kernel), expected)
                << "kernel " << kernel->name << " n=" << n << " width=" << sizeof(Unit) << " density=" << density;
        }
    }
}

template <class Unit>
void expect_scans_agree() {
    std::mt19937 random(7);
    for (const int density : {0, 2, 10, 40, 100}) {
        for (int64_t n = 0; n <= 300; ++n) {
            for (int round = 0; round < 4; ++round) expect_scans_agree<Unit>(random, n, density);
        }
        for (int64_t n = 301; n < 3000; n += 97) expect_scans_agree<Unit>(random, n, density);
    }
}

TEST(Kernels, ScanBytesAsThePortableKernelDoes) { expect_scans_agree<uint8_t>(); }
TEST(Kernels, Scan2ByteUnitsAsThePortableKernelDoes) { expect_scans_agree<uint16_t>(); }
TEST(Kernels, Scan4ByteUnitsAsThePortableKernelDoes) { expect_scans_agree<uint32_t>(); }

// Units on both sides of each limit that the OR and the surrogate check
// draw, and wide units whose low bits alone would look like a surrogate.
template <class Unit>
std::vector<Unit> boundary_units() {
    std::vector<Unit> units = {0x7f, 0x80, 0xff};
    if constexpr (sizeof(Unit) >= 2) {
        for (const Unit unit : {0x100, 0xd7ff, 0xd800, 0xdbff, 0xdc00, 0xdfff, 0xe000, 0xffff}) units.push_back(unit);
    }
    if constexpr (sizeof(Unit) == 4) {
        for (const Unit unit : {0x10000u, 0x1d800u, 0x10dfffu, 0x10ffffu, 0xffffd800u}) units.push_back(unit);
    }
    return units;
}

template <class Unit>
bool unitwise_holds_surrogate(const Unit* s, int64_t n) {
    for (int64_t k = 0; k < n; ++k) {
        if (s[k] >= 0xd800 && s[k] <= 0xdfff) return true;
    }
    return false;
}

// The passes against unit-by-unit loops on runs of every length up to
// several vectors, as short lines whose windows the summary is taken from
// and as longer ones; a run holds ASCII and at most two boundary units.
template <class Unit>
void expect_passes_agree() {
    std::mt19937 random(13);
    const std::vector<Unit> boundaries = boundary_units<Unit>();
    for (int64_t n = 0; n <= 150; ++n) {
        for (int round = 0; round < 40; ++round) {
            std::unique_ptr<Unit[]> buffer(new Unit[static_cast<size_t>(n)]);
            for (int64_t k = 0; k < n; ++k) buffer[k] = static_cast<Unit>(' ' + random() % 95);
            for (int placed = round % 3; placed > 0 && n > 0; --placed) {
                buffer[random() % n] = boundaries[random() % boundaries.size()];
            }
            const Unit* s = buffer.get();
            Unit any = 0;
            for (int64_t k = 0; k < n; ++k) any |= s[k];
            for (const Kernel* kernel : marquill::runnable_kernels()) {
                ASSERT_EQ(kernel->of<Unit>().or_of_units(s, n), any)
                    << "kernel " << kernel->name << " n=" << n << " width=" << sizeof(Unit);
                if constexpr (sizeof(Unit) >= 2) {
                    marquill::TagSpans spans;
                    marquill::UnitsSummary<Unit> summary{};
                    ASSERT_TRUE(kernel->of<Unit>().find_tags_and_summarize(s, n, spans, summary));
                    ASSERT_EQ(summary.any, any) << "kernel " << kernel->name << " n=" << n << " width=" << sizeof(Unit);
                    ASSERT_EQ(summary.surrogate, unitwise_holds_surrogate(s, n))
                        << "kernel " << kernel->name << " n=" << n << " width=" << sizeof(Unit);
                }
            }
        }
    }
}

TEST(Kernels, UnitPassesAgreeWithUnitLoopsOnBytes) { expect_passes_agree<uint8_t>(); }
TEST(Kernels, UnitPassesAgreeWithUnitLoopsOn2ByteUnits) { expect_passes_agree<uint16_t>(); }
TEST(Kernels, UnitPassesAgreeWithUnitLoopsOn4ByteUnits) { expect_passes_agree<uint32_t>(); }

}  // namespace
