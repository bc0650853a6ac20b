#include "vexlarcore/vector3d.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <limits>
#include <sstream>

using namespace vexlar;
using namespace support;

namespace {

void expectBits(const vector3d_t& v, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    EXPECT_TRUE(bits(v.x) == x && bits(v.y) == y && bits(v.z) == z) << std::hexfloat << v;
}

} // namespace

TEST(Vector, ArithmeticAndProducts) {
    vector3d_t a(1, 2, 3), b(4, -5, 6);
    EXPECT_EQ(a * b, 1 * 4 - 2 * 5 + 3 * 6);
    // Right-handed cross product.
    EXPECT_EQ(vector3d_t(1, 0, 0) ^ vector3d_t(0, 1, 0), vector3d_t(0, 0, 1));
    EXPECT_EQ(vector3d_t(0, 1, 0) ^ vector3d_t(0, 0, 1), vector3d_t(1, 0, 0));
    EXPECT_EQ(a ^ b, vector3d_t(2 * 6 - 3 * -5, 3 * 4 - 1 * 6, 1 * -5 - 2 * 4));
    EXPECT_EQ(a + b, vector3d_t(5, -3, 9));
    EXPECT_EQ(a - b, vector3d_t(-3, 7, -3));
    EXPECT_EQ(-a, vector3d_t(-1, -2, -3));
    EXPECT_EQ(2.0f * a, vector3d_t(2, 4, 6));
    EXPECT_EQ(vector3d_t(3, 0, 4).length(), 5.0f);

    point3d_t p(1, 1, 1), q(4, 5, 1);
    EXPECT_EQ(q - p, vector3d_t(3, 4, 0));
    point3d_t r = p + vector3d_t(1, 2, 3);
    EXPECT_EQ(toVector(r), vector3d_t(2, 3, 4));
    EXPECT_EQ(toVector(r - vector3d_t(2, 3, 4)), vector3d_t(0, 0, 0));
}

TEST(Vector, NormalizeExactValues) {
    vector3d_t v(3, 0, 4);
    expectBits(v.normalize(), bits(0.6f), 0, bits(0.8f));
    // The zero vector stays zero, signs included: no division happens.
    vector3d_t z(-0.0f, 0.0f, -0.0f);
    expectBits(z.normalize(), bits(-0.0f), 0, bits(-0.0f));
    // A vector for which the reciprocal square root taken in double and
    // rounded once differs from the single-precision 1.0f / sqrtf(l).
    vector3d_t w(fromBits(0xC09CC17E), fromBits(0xBDBAFA95), fromBits(0xBF814D89));
    expectBits(w.normalize(), 0xBF7AAEC2u, 0xBC9581EDu, 0xBE4EC7B5u);
}

TEST(Vector, EqualityIsExactIeee) {
    EXPECT_TRUE(vector3d_t(0, 0, 0) == vector3d_t(-0.0f, 0, 0));
    EXPECT_FALSE(vector3d_t(0, 0, 0) != vector3d_t(-0.0f, 0, -0.0f));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    vector3d_t n(1, 2, nan);
    EXPECT_FALSE(n == n);
    EXPECT_TRUE(n != n);
    EXPECT_FALSE(vector3d_t(nan, 0, 0) == vector3d_t(nan, 0, 0));
    // No tolerance: one ulp apart is unequal.
    EXPECT_TRUE(vector3d_t(1, 1, 1) != vector3d_t(1, 1, std::nextafter(1.0f, 2.0f)));
}

TEST(Vector, StreamFormats) {
    EXPECT_EQ(str(vector3d_t(1, 2, 3)), "(1,2,3)");
    EXPECT_EQ(str(point3d_t(1, 2, 3)), "(1,2,3)");
    EXPECT_EQ(str(vector3d_t(0.1f, -2.5f, 1e7f)), "(0.1,-2.5,1e+07)");
    // The stream's own formatting applies; floats are widened to double.
    std::ostringstream s;
    s << std::fixed << std::setprecision(9) << vector3d_t(0.1f, 0, 0);
    EXPECT_EQ(s.str(), "(0.100000001,0.000000000,0.000000000)");
}

TEST(Vector, ArraysAreConsecutiveFloats) {
    // Mesh vertex arrays and the pixel buffers rely on this layout.
    static_assert(sizeof(vector3d_t) == 3 * sizeof(float), "three floats");
    static_assert(sizeof(point3d_t) == 3 * sizeof(float), "three floats");
    static_assert(sizeof(point2d_t) == 2 * sizeof(float), "two floats");
    point3d_t pts[2] = {point3d_t(1, 2, 3), point3d_t(4, 5, 6)};
    float f[6];
    std::memcpy(f, pts, sizeof f);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(f[i], static_cast<float>(i + 1));
}
