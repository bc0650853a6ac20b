#include "vexlarcore/color.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <limits>
#include <sstream>
#include <vector>

using namespace vexlar;
using namespace support;

namespace {

unsigned char pack1(float v) {
    unsigned char b[3] = {9, 9, 9};
    b << color_t(v, 0, 0);
    return b[0];
}

void expectSame(const color_t& a, const color_t& b) {
    EXPECT_TRUE(a.R == b.R && a.G == b.G && a.B == b.B) << a << " vs " << b;
}

} // namespace

TEST(Color, PackingTruncatesAndClampsAtOne) {
    const struct {
        float in;
        int out;
    } cases[] = {{1.0f, 255},  {1.5f, 255},
                 {1e9f, 255},  {std::numeric_limits<float>::infinity(), 255},
                 {0.5f, 127}, // truncated, not rounded
                 {0.0f, 0},    {std::nextafter(1.0f, 0.0f), 254},
                 {0.0078f, 1}, // 1.989 truncates to 1
                 {-0.5f, 0}};
    for (const auto& c : cases) EXPECT_EQ(pack1(c.in), c.out) << c.in;
    unsigned char b[4] = {0, 0, 0, 0};
    b << colorA_t(0.25f, 1.0f, 0.75f, 0.5f);
    EXPECT_EQ(std::vector<int>(b, b + 4), (std::vector<int>{63, 255, 191, 127}));
    // The colour form writes exactly three bytes.
    unsigned char c[4] = {1, 2, 3, 77};
    c << color_t(0, 0, 0);
    EXPECT_EQ(c[3], 77);
}

TEST(Color, UnpackingMultipliesByTheFloatReciprocal) {
    unsigned char b[4] = {0, 1, 255, 128};
    colorA_t c;
    b >> c;
    EXPECT_EQ(bits(c.R), 0u);
    EXPECT_EQ(bits(c.G), 0x3B808081u); // 1/255 as a float
    EXPECT_EQ(bits(c.B), 0x3F800000u); // 255 * that constant rounds to 1.0
    EXPECT_EQ(c.A, 128.0f * 0.003921569f);

    // Every byte survives a round trip through the colour types.
    for (int i = 0; i < 256; ++i) {
        unsigned char in[3] = {static_cast<unsigned char>(i), static_cast<unsigned char>(255 - i), 0};
        color_t col;
        in >> col;
        unsigned char out[3];
        out << col;
        EXPECT_EQ(out[0], in[0]) << i;
        EXPECT_EQ(out[1], in[1]) << i;
    }
}

TEST(Color, FloatCopiesAreUnchanged) {
    float buf[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    buf << colorA_t(2.5f, -1.0f, 1e20f, -3.0f);
    EXPECT_EQ(std::vector<float>(buf, buf + 4), (std::vector<float>{2.5f, -1.0f, 1e20f, -3.0f}));
    colorA_t c;
    buf >> c;
    EXPECT_TRUE(c.R == 2.5f && c.G == -1.0f && c.B == 1e20f && c.A == -3.0f) << c;
    // The colour forms touch three floats only.
    float three[4] = {7, 8, 9, 10};
    color_t d;
    three >> d;
    EXPECT_EQ(d.B, 9.0f);
    three << color_t(1, 2, 3);
    EXPECT_EQ(three[3], 10.0f);
}

TEST(Color, MixWeightsAndLimits) {
    color_t a(1, 0.5f, 0), b(0, 0.25f, 1);
    // Weights beyond [0, 1] (and NaN) pick one end.
    expectSame(mix(a, b, 2.0f), a);
    expectSame(mix(a, b, 1.0f), a);
    expectSame(mix(a, b, -0.1f), b);
    expectSame(mix(a, b, 0.0f), b);
    expectSame(mix(a, b, std::numeric_limits<float>::quiet_NaN()), b);
    color_t r = mix(a, b, 0.25f);
    EXPECT_TRUE(r.R == 0.25f && r.G == 0.25f * 0.5f + 0.75f * 0.25f && r.B == 0.75f) << r;
    colorA_t ca(1, 1, 1, 1), cb(0, 0, 0, 0);
    EXPECT_EQ(mix(ca, cb, 0.25f).A, 0.25f);
    EXPECT_EQ(mix(ca, cb, 3.0f).A, 1.0f);
    EXPECT_EQ(mix(ca, cb, -3.0f).A, 0.0f);
}

TEST(Color, EnergyUsesTheTruncatedThird) {
    // 3 * 0.33333 rounded to float, not 1.
    EXPECT_EQ(bits(color_t(1, 1, 1).energy()), 0x3F7FFF58u);
    // The sum is single precision: 1e8 + 1 is lost before -1e8 is added.
    EXPECT_EQ(color_t(1e8f, 1, -1e8f).energy(), 0.0f);
}

TEST(Color, StreamFormats) {
    EXPECT_EQ(str(colorA_t(0.1f, 0.2f, 0.3f, 0.4f)), "[0.1, 0.2, 0.3, 0.4]");
    EXPECT_EQ(str(color_t(0.1f, 0.2f, 0.3f)), "[0.1 0.2 0.3]");
    std::ostringstream s;
    s << std::setprecision(3) << color_t(1.0f / 3, 2, -1);
    EXPECT_EQ(s.str(), "[0.333 2 -1]");
}

TEST(Color, ArraysAreConsecutiveFloats) {
    static_assert(sizeof(color_t) == 3 * sizeof(float), "R, G, B");
    static_assert(sizeof(colorA_t) == 4 * sizeof(float), "R, G, B, then A");
    colorA_t c[2] = {colorA_t(1, 2, 3, 4), colorA_t(5, 6, 7, 8)};
    float f[8];
    std::memcpy(f, c, sizeof f);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(f[i], static_cast<float>(i + 1));
    color_t rgb[2] = {color_t(1, 2, 3), color_t(4, 5, 6)};
    std::memcpy(f, rgb, sizeof rgb);
    EXPECT_EQ(f[3], 4.0f);
}
