// Colours: byte packing, blends, the shared-exponent encoding, exposure and
// gamma, Aitken extrapolation and the bilinear blend, with rounding pins.
#include "vexlarcore/colorutil.h"

#include "test_support.h"

#include <cmath>
#include <limits>
#include <random>

using namespace vexlar;
using namespace support;

namespace {

std::vector<int> rgbe(const color_t& c) {
    rgbe_t e(c);
    return {e.R, e.G, e.B, e.E};
}

color_t adjusted(color_t c, float e, float g) {
    c.expgam_Adjust(e, g);
    return c;
}

} // namespace

TEST(color, PackingTruncatesAndClampsAtOne) {
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float in;
        int out;
    } cases[] = {{1.0f, 255}, {1.5f, 255},  {inf, 255}, {0.5f, 127}, {std::nextafter(1.0f, 0.0f), 254},
                 {0.0f, 0},   {0.0078f, 1}, {-0.5f, 0}, {-inf, 0},   {std::nanf(""), 0}};
    for (const auto& c : cases) {
        unsigned char b[4] = {9, 9, 9, 77};
        b << color_t(c.in, 0, 0);
        EXPECT_EQ(b[0], c.out) << c.in;
        EXPECT_EQ(b[3], 77); // three bytes only
    }
    unsigned char b[4] = {0, 1, 255, 128};
    colorA_t c;
    b >> c;
    // Multiplied by the float constant 1/255 (0x3B808081), not divided.
    EXPECT_TRUE(c.R == 0 && bits(c.G) == 0x3B808081u && c.B == 1.0f && c.A == 128.0f * 0.003921569f) << c;
    for (int i = 0; i < 256; ++i) { // every byte survives a round trip
        unsigned char in[3] = {static_cast<unsigned char>(i), 0, 0}, out[3];
        color_t col;
        in >> col;
        out << col;
        EXPECT_EQ(out[0], in[0]);
    }
    unsigned char a[4];
    a << colorA_t(0.25f, 1.0f, 0.75f, 0.5f);
    EXPECT_EQ(std::vector<int>(a, a + 4), (std::vector<int>{63, 255, 191, 127}));
}

TEST(color, MixEnergyAndPrinting) {
    color_t a(1, 0.5f, 0), b(0, 0.25f, 1);
    for (float t : {2.0f, 1.0f}) expectColor(mix(a, b, t), 1, 0.5f, 0, 0);
    for (float t : {-0.1f, 0.0f, std::nanf("")}) expectColor(mix(a, b, t), 0, 0.25f, 1, 0);
    expectColor(mix(a, b, 0.25f), 0.25f, 0.25f * 0.5f + 0.75f * 0.25f, 0.75f, 0);
    EXPECT_EQ(mix(colorA_t(1, 1, 1, 1), colorA_t(0, 0, 0, 0), 0.25f).A, 0.25f);
    EXPECT_EQ(bits(color_t(1, 1, 1).energy()), 0x3F7FFF58u); // 3 * 0.33333, not 1
    EXPECT_EQ(color_t(1e8f, 1, -1e8f).energy(), 0.0f);       // the sum is single precision
    EXPECT_EQ(str(colorA_t(0.1f, 0.2f, 0.3f, 0.4f)), "[0.1, 0.2, 0.3, 0.4]");
    EXPECT_EQ(str(color_t(0.1f, 0.2f, 0.3f)), "[0.1 0.2 0.3]");
}

TEST(rgbe, EncodingsAndRoundTrip) {
    EXPECT_EQ(rgbe(color_t(1, 0.5f, 0.25f)), (std::vector<int>{128, 64, 32, 129}));
    EXPECT_EQ(rgbe(color_t(0.25f, 0.5f, 3.0f)), (std::vector<int>{16, 32, 192, 130}));
    EXPECT_EQ(rgbe(color_t(0.3f, 0.6f, 0.9f)), (std::vector<int>{76, 153, 230, 128})); // truncated
    // The threshold 1e-32 is compared in double: its nearest float encodes.
    EXPECT_EQ(rgbe(color_t(1e-32f, 0, 0)), (std::vector<int>{207, 0, 0, 22}));
    const float nan = std::nanf(""), inf = std::numeric_limits<float>::infinity();
    for (const color_t& black : {color_t(std::nextafter(1e-32f, 0.0f), 0, 0), color_t(nan, nan, nan),
                                 color_t(inf, 1, 1), color_t(-1, -2, -3)})
        EXPECT_EQ(rgbe(black), (std::vector<int>{0, 0, 0, 0})) << black;
    for (float g : {-0.5f, nan}) // never wraps
        EXPECT_EQ(rgbe(color_t(1, g, 0.25f)), (std::vector<int>{128, 0, 32, 129})) << g;
    std::mt19937 gen(42);
    for (int i = 0; i < 300; ++i) {
        const float s = std::ldexp(1.0f, static_cast<int>(gen() % 60) - 30);
        color_t c(s * (gen() % 1000) / 1000.0f, s * (gen() % 1000) / 1000.0f,
                  s * (gen() % 1000 + 1) / 1000.0f);
        const color_t d = rgbe_t(c).toColor();
        const float step = std::fmax(c.R, std::fmax(c.G, c.B)) / 128.0f;
        for (float lost : {c.R - d.R, c.G - d.G, c.B - d.B}) {
            EXPECT_GE(lost, 0.0f);
            EXPECT_LT(lost, step);
        }
    }
    EXPECT_EQ(rgbe_t().toColor().R, 0.0f);
}

TEST(colorAdjust, ExposureThenGammaInDouble) {
    expectColor(adjusted(color_t(0.5f, 1.5f, -0.2f), 0, 1), 0.5f, 1, 0, 0);
    EXPECT_EQ(adjusted(color_t(1, 1, 1), 1, 1).R, 0.0f); // positive exposure clamps
    // exp and the subtraction in double (single gives 0x3F04207E).
    EXPECT_EQ(bits(adjusted(color_t(fromBits(0x40202F35), 0, 0), fromBits(0xBE947F4C), 1).R), 0x3F04207Du);
    // pow in double, rounded once (powf gives 0x3F6207CC).
    EXPECT_EQ(bits(adjusted(color_t(fromBits(0x3F15E715), 0, 0), 0, fromBits(0x3E6E3996)).R), 0x3F6207CBu);
}

TEST(colorAdjust, AitkenAndBilinearBlend) {
    // 1, 1/2, 1/4 converges to 0; a straight line (denominator 0) keeps p2.
    expectColor(convergenceAccell(color_t(1, 0, 2), color_t(0.5f, 1, 1.5f), color_t(0.25f, 2, 1.25f)), 0, 2,
                1, 0);
    // The denominator in double: in single 1 - 2e8 + 2e8 cancels to 0.
    EXPECT_EQ(bits(convergenceAccell(color_t(2e8f, 0, 0), color_t(1e8f, 0, 0), color_t(1, 0, 0)).R),
              0xDA0E1BCAu);
    color_t c0(1, 0, 0), c1(0, 1, 0), c2(0, 0, 1), c3(1, 1, 1);
    expectColor(BilerpWeight(2.25f, 7.5f, c0, c1, c2, c3), 0.5f, 0.25f, 0.5f, 0);
    expectColor(BilerpWeight(-0.25f, 0.0f, c0, c1, c2, c3), 0.25f, 0.75f, 0, 0); // fraction above the floor
    const colorA_t clear(0.0f);
    EXPECT_EQ(BilerpWeight(0.5f, 0.5f, colorA_t(0, 0, 0, 1), clear, clear, colorA_t(0, 0, 0, 0.5f)).A,
              0.375f);
    // c2's term is added first: c0, c1, c2, c3 in order gives 0x3E59D1A7.
    const float x = fromBits(0x3F859273), y = fromBits(0x4038BAF9);
    const color_t d0(fromBits(0x3F09042C)), d1(fromBits(0x3E40ACFF)), d2(fromBits(0x3E35DF58)),
        d3(fromBits(0x3DA20DE7));
    EXPECT_EQ(bits(BilerpWeight(x, y, d0, d1, d2, d3).R), 0x3E59D1A8u);
    EXPECT_EQ(bits(BilerpWeight(x, y, colorA_t(d0), colorA_t(d1), colorA_t(d2), colorA_t(d3)).G),
              0x3E59D1A8u);
}
