#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "parser/unit_values.hpp"

namespace {

namespace unitwise = marquill::unitwise;

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

// The vector and word passes against the unit-by-unit loops, on runs of every
// length up to several vectors, starting at every offset of a vector, each
// in an exact-size heap allocation so that a read past either end is caught
// by the sanitizer. A run holds ASCII and at most two boundary units.
template <class Unit>
void expect_passes_agree() {
    std::mt19937 random(13);
    const std::vector<Unit> boundaries = boundary_units<Unit>();
    for (int64_t n = 0; n <= 100; ++n) {
        for (int round = 0; round < 40; ++round) {
            std::unique_ptr<Unit[]> buffer(new Unit[n]);
            for (int64_t k = 0; k < n; ++k) buffer[k] = static_cast<Unit>(' ' + random() % 95);
            for (int placed = round % 3; placed > 0 && n > 0; --placed) {
                buffer[random() % n] = boundaries[random() % boundaries.size()];
            }
            const Unit* s = buffer.get();
            ASSERT_EQ(marquill::or_of_units(s, n), unitwise::or_of_units(s, n))
                << "n=" << n << " width=" << sizeof(Unit);
            if constexpr (sizeof(Unit) >= 2) {
                ASSERT_EQ(marquill::holds_surrogate(s, n), unitwise::holds_surrogate(s, n))
                    << "n=" << n << " width=" << sizeof(Unit);
            }
        }
    }
}

TEST(UnitValues, AgreeWithTheUnitwiseLoopsOnBytes) { expect_passes_agree<uint8_t>(); }
TEST(UnitValues, AgreeWithTheUnitwiseLoopsOn2ByteUnits) { expect_passes_agree<uint16_t>(); }
TEST(UnitValues, AgreeWithTheUnitwiseLoopsOn4ByteUnits) { expect_passes_agree<uint32_t>(); }

// The reference itself, on the limits the module relies on.
TEST(UnitValues, SurrogatesAreExactlyD800ToDfff) {
    for (uint32_t unit = 0; unit < 0x20000; ++unit) {
        const bool surrogate = unit >= 0xd800 && unit <= 0xdfff;
        ASSERT_EQ(unitwise::is_surrogate(unit), surrogate) << unit;
        if (unit <= 0xffff) {
            ASSERT_EQ(unitwise::is_surrogate(static_cast<uint16_t>(unit)), surrogate) << unit;
        }
    }
}

}  // namespace
