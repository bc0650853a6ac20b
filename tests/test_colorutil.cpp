#include "vexlarcore/colorutil.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

using namespace vexlar;
using namespace support;

namespace {

void expectBytes(const rgbe_t& e, int r, int g, int b, int x) {
    EXPECT_TRUE(e.R == r && e.G == g && e.B == b && e.E == x)
        << int(e.R) << " " << int(e.G) << " " << int(e.B) << " " << int(e.E);
}

color_t adjusted(color_t c, float e, float g) {
    c.expgam_Adjust(e, g);
    return c;
}

void expectColor(const color_t& c, float r, float g, float b) {
    EXPECT_TRUE(c.R == r && c.G == g && c.B == b) << c;
}

} // namespace

TEST(Rgbe, KnownEncodings) {
    static_assert(sizeof(rgbe_t) == 4, "four bytes");
    expectBytes(rgbe_t(color_t(1, 0.5f, 0.25f)), 128, 64, 32, 129);
    expectBytes(rgbe_t(color_t(0.75f, 0, 0)), 192, 0, 0, 128);
    expectBytes(rgbe_t(color_t(0, 0, 0)), 0, 0, 0, 0);
    // The largest channel may be any of the three.
    expectBytes(rgbe_t(color_t(0.25f, 0.5f, 3.0f)), 16, 32, 192, 130);
    // Mantissas are truncated: 0.3 * 256 = 76.8.
    expectBytes(rgbe_t(color_t(0.3f, 0.6f, 0.9f)), 76, 153, 230, 128);
}

TEST(Rgbe, BlackThresholdIsComparedInDouble) {
    // The float nearest 1e-32 lies just above it and is still encoded; the
    // next float below is black.
    float t = 1e-32f;
    expectBytes(rgbe_t(color_t(t, 0, 0)), 207, 0, 0, 22); // 1e-32 = 0.811 * 2^-106
    expectBytes(rgbe_t(color_t(std::nextafter(t, 0.0f), 0, 0)), 0, 0, 0, 0);
    expectBytes(rgbe_t(color_t(1e-33f, 1e-34f, 0)), 0, 0, 0, 0);
}

TEST(Rgbe, BadChannelsNeverWrap) {
    // A negative channel becomes mantissa 0 instead of a wrapped bright byte.
    expectBytes(rgbe_t(color_t(1, -0.5f, 0.25f)), 128, 0, 32, 129);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    expectBytes(rgbe_t(color_t(nan, nan, nan)), 0, 0, 0, 0);
    expectBytes(rgbe_t(color_t(1, nan, 0.25f)), 128, 0, 32, 129);
    expectBytes(rgbe_t(color_t(inf, 1, 1)), 0, 0, 0, 0);
    expectBytes(rgbe_t(color_t(-1, -2, -3)), 0, 0, 0, 0);
}

TEST(Rgbe, RoundTripKeepsSevenBitsOfTheLargestChannel) {
    std::mt19937 gen(42);
    for (int i = 0; i < 300; ++i) {
        float scale = std::ldexp(1.0f, static_cast<int>(gen() % 60) - 30);
        color_t c(scale * (gen() % 1000) / 1000.0f, scale * (gen() % 1000) / 1000.0f,
                  scale * (gen() % 1000 + 1) / 1000.0f);
        rgbe_t e(c);
        float v = std::fmax(c.R, std::fmax(c.G, c.B));
        EXPECT_GE(e.R | e.G | e.B, 128);
        color_t d = e.toColor();
        // Truncation: decoded channels never exceed the originals, and lose
        // less than one step of the largest channel's mantissa.
        const float step = v / 128.0f;
        for (float pair : {c.R - d.R, c.G - d.G, c.B - d.B}) {
            EXPECT_GE(pair, 0.0f);
            EXPECT_LT(pair, step);
        }
    }
    expectColor(rgbe_t(color_t(1, 0.5f, 0.25f)).toColor(), 1, 0.5f, 0.25f);
    EXPECT_EQ(rgbe_t().toColor().R, 0.0f);
}

TEST(ExpGam, ExposureCurveAndClamp) {
    // Without exposure only the clamp to [0, 1] applies.
    expectColor(adjusted(color_t(0.5f, 1.5f, -0.2f), 0, 1), 0.5f, 1, 0);
    color_t c = adjusted(color_t(1, 0, 2), -1, 1);
    EXPECT_EQ(bits(c.R), 0x3F21D2A7u); // 1 - e^-1 = 0.6321206
    EXPECT_EQ(c.G, 0.0f);
    EXPECT_NEAR(c.B, 1 - std::exp(-2.0), 1e-7);
    // exp and the subtraction are double precision: single precision would
    // give 0x3F04207E here.
    EXPECT_EQ(bits(adjusted(color_t(fromBits(0x40202F35), 0, 0), fromBits(0xBE947F4C), 1).R), 0x3F04207Du);
    // A positive exposure drives channels negative; they clamp to 0.
    EXPECT_EQ(adjusted(color_t(1, 1, 1), 1, 1).R, 0.0f);
}

TEST(ExpGam, GammaIsTheExponentItself) {
    expectColor(adjusted(color_t(0.25f, 0.25f, 1.0f), 0, 0.5f), 0.5f, 0.5f, 1);
    EXPECT_EQ(adjusted(color_t(0.25f, 0, 0), 0, 2.0f).R, 0.0625f);
    // pow in double, rounded once (powf gives 0x3F6207CC).
    EXPECT_EQ(bits(adjusted(color_t(fromBits(0x3F15E715), 0, 0), 0, fromBits(0x3E6E3996)).R), 0x3F6207CBu);
}

TEST(ConvergenceAccell, AitkenExtrapolation) {
    color_t same(0.3f, 0.6f, 0.9f);
    expectColor(convergenceAccell(same, same, same), 0.3f, 0.6f, 0.9f);
    // Geometric 1, 1/2, 1/4 converges to 0; constants (denominator 0) stay.
    expectColor(convergenceAccell(color_t(1, 1, 2), color_t(0.5f, 1, 1.5f), color_t(0.25f, 1, 1.25f)), 0, 1,
                1);
    // The denominator is formed in double: in single precision 1 - 2e8 + 2e8
    // cancels to 0 and the result would be p2.
    EXPECT_EQ(bits(convergenceAccell(color_t(2e8f, 0, 0), color_t(1e8f, 0, 0), color_t(1, 0, 0)).R),
              0xDA0E1BCAu);
}

TEST(BilerpWeight, CornerWeights) {
    color_t c0(1, 0, 0), c1(0, 1, 0), c2(0, 0, 1), c3(1, 1, 1);
    expectColor(BilerpWeight(2.25f, 7.5f, c0, c1, c2, c3), 0.375f + 0.125f, 0.125f + 0.125f, 0.375f + 0.125f);
    // The fraction above the floor, also for negative coordinates.
    expectColor(BilerpWeight(-0.25f, 0.0f, c0, c1, c2, c3), 0.25f, 0.75f, 0);
    expectColor(BilerpWeight(5.0f, 3.0f, c0, c1, c2, c3), 1, 0, 0);
    colorA_t a0(0, 0, 0, 1), a1(0, 0, 0, 0), a2(0, 0, 0, 0), a3(0, 0, 0, 0.5f);
    EXPECT_EQ(BilerpWeight(0.5f, 0.5f, a0, a1, a2, a3).A, 0.25f + 0.125f);
}

TEST(BilerpWeight, AccumulationOrder) {
    // c2's term comes first: summing c0, c1, c2, c3 gives 0x3E59D1A7.
    float x = fromBits(0x3F859273), y = fromBits(0x4038BAF9);
    color_t c0(fromBits(0x3F09042C)), c1(fromBits(0x3E40ACFF)), c2(fromBits(0x3E35DF58)),
        c3(fromBits(0x3DA20DE7));
    color_t r = BilerpWeight(x, y, c0, c1, c2, c3);
    EXPECT_EQ(bits(r.R), 0x3E59D1A8u);
    colorA_t a = BilerpWeight(x, y, colorA_t(c0, 0), colorA_t(c1, 0), colorA_t(c2, 0), colorA_t(c3, 0));
    EXPECT_EQ(bits(a.G), 0x3E59D1A8u);
}
