// The radical inverse shared by the anti-aliasing pattern and the forked
// driver's per-block Halton starts.
#include "vexlarcore/camera.h"
#include "vexlarcore/sampling.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace vexlar;

TEST(radicalInverse, DigitsMirroredAboutThePoint) {
    struct case_t {
        std::uint64_t i;
        int base;
        double expected;
    };
    const case_t cases[] = {
        {0, 2, 0.0},
        {1, 2, 0.5},
        {6, 2, 0.375},                        // 110 -> 0.011
        {0xffffffffu, 2, 1.0 - 0x1p-32},      // every bit of a 32-bit index
        {std::uint64_t(1) << 52, 2, 0x1p-53}, // exact up to 2^53
        {0x8000000000000000u, 2, 0x1p-64},
        {1, 3, 1.0 / 3},
        {5, 3, 2.0 / 3 + 1.0 / 9}, // 12 -> 0.21
        {7, 5, 2.0 / 5 + 1.0 / 25},
    };
    // Base 2 is exact; other bases are within rounding.
    for (const case_t& c : cases)
        if (c.base == 2)
            EXPECT_EQ(radicalInverse(c.i, c.base), c.expected) << c.i;
        else
            EXPECT_DOUBLE_EQ(radicalInverse(c.i, c.base), c.expected) << c.i << " in base " << c.base;
}

TEST(radicalInverse, MatchesTheIncrementalHaltonSequence) {
    for (int base : {2, 3, 7}) {
        halton_t h(base);
        for (std::uint64_t i = 1; i < 2000; ++i)
            ASSERT_NEAR(h.getNext(), radicalInverse(i, base), 1e-9) << "base " << base << " index " << i;
    }
}
