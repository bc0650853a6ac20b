// Vectors and the 4 x 4 matrix: exact products, rounding pins, inversion.
#include "vexlarcore/matrix4.h"

#include "test_support.h"

#include <cmath>
#include <cstring>
#include <random>
#include <unistd.h>

using namespace vexlar;
using namespace support;

namespace {

matrix4x4_t fromRows(const float (&r)[4][4]) {
    matrix4x4_t m(0.0f);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] = r[i][j];
    return m;
}

// Element by element, bit for bit (-0 is not 0).
void expectSame(const matrix4x4_t& a, const matrix4x4_t& b) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(bits(a[i][j]), bits(b[i][j])) << i << "," << j;
}

void expectBits(const matrix4x4_t& m, const std::uint32_t (&b)[4][4]) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(bits(m[i][j]), b[i][j]) << i << "," << j;
}

matrix4x4_t rotated(void (matrix4x4_t::*rotate)(float), float deg) {
    matrix4x4_t m(1.0f);
    (m.*rotate)(deg);
    return m;
}

} // namespace

TEST(vector3d, ProductsEqualityAndPrinting) {
    vector3d_t a(1, 2, 3), b(4, -5, 6);
    EXPECT_EQ(a * b, 4 - 10 + 18);
    EXPECT_EQ(a ^ b, vector3d_t(2 * 6 - 3 * -5, 3 * 4 - 1 * 6, 1 * -5 - 2 * 4)); // right-handed
    EXPECT_EQ(point3d_t(4, 5, 1) - point3d_t(1, 1, 1), vector3d_t(3, 4, 0));
    // Exact IEEE equality: -0 equals 0, NaN equals nothing, one ulp differs.
    EXPECT_TRUE(vector3d_t(0, 0, 0) == vector3d_t(-0.0f, 0, -0.0f));
    vector3d_t n(1, 2, std::nanf(""));
    EXPECT_TRUE(n != n);
    EXPECT_TRUE(vector3d_t(1, 1, 1) != vector3d_t(1, 1, std::nextafter(1.0f, 2.0f)));
    EXPECT_EQ(str(vector3d_t(0.1f, -2.5f, 1e7f)), "(0.1,-2.5,1e+07)");
    static_assert(sizeof(point3d_t) == 3 * sizeof(float), "mesh arrays are consecutive floats");
}

TEST(vector3d, NormalizeTakesTheReciprocalRootInDouble) {
    vector3d_t v(3, 0, 4);
    v.normalize();
    EXPECT_TRUE(v.x == 0.6f && v.y == 0 && v.z == 0.8f);
    vector3d_t z(-0.0f, 0.0f, -0.0f); // stays zero, signs included
    z.normalize();
    EXPECT_EQ(bits(z.x), bits(-0.0f));
    // Here 1.0f / sqrtf(l) would differ in the last bit.
    vector3d_t w(fromBits(0xC09CC17E), fromBits(0xBDBAFA95), fromBits(0xBF814D89));
    w.normalize();
    EXPECT_TRUE(bits(w.x) == 0xBF7AAEC2u && bits(w.y) == 0xBC9581EDu && bits(w.z) == 0xBE4EC7B5u) << w;
}

TEST(matrix, ProductsAndCompositionOrder) {
    const float a[4][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
    const float b[4][4] = {{1, 0, 2, 0}, {0, 1, 0, 3}, {4, 0, 1, 0}, {0, 5, 0, 1}};
    const float ab[4][4] = {{13, 22, 5, 10}, {33, 46, 17, 26}, {53, 70, 29, 42}, {73, 94, 41, 58}};
    expectSame(fromRows(a) * fromRows(b), fromRows(ab));
    matrix4x4_t m(1.0f);
    m.translate(1, 2, 3);
    EXPECT_EQ(m * vector3d_t(1, 1, 1), vector3d_t(1, 1, 1)); // directions ignore translation
    m[3][0] = 7;                                             // row 3 is ignored: no homogeneous division
    EXPECT_EQ(toVector(m * point3d_t(1, 1, 1)), vector3d_t(2, 3, 4));
    // Scaling multiplies columns (M S) and leaves the translation column.
    m.scale(2, 3, 4);
    EXPECT_EQ(toVector(m * point3d_t(1, 1, 1)), vector3d_t(3, 5, 7));
    matrix4x4_t r(0.0f);
    r[0][1] = r[1][0] = 1;
    r.scale(2, 3, 4);
    EXPECT_TRUE(r[0][1] == 3 && r[1][0] == 2) << r;
    // Translations and rotations apply after what is there.
    matrix4x4_t q(1.0f);
    q.translate(1, 0, 0);
    q.rotateZ(90);
    point3d_t o = q * point3d_t(0, 0, 0);
    EXPECT_TRUE(std::fabs(o.x) < 1e-6f && o.y == 1.0f) << o;
    EXPECT_EQ(str(matrix4x4_t(1.0f)), "/ 1 0 0 0 \\\n| 0 1 0 0 |\n| 0 0 1 0 |\n\\ 0 0 0 1 /\n");
}

TEST(matrix, RotationsAreRightHandedAndReducedFirst) {
    matrix4x4_t z = rotated(&matrix4x4_t::rotateZ, 90);
    EXPECT_TRUE(z[0][1] == -1.0f && z[1][0] == 1.0f && z[0][0] == z[1][1]) << z;
    // The angle in radians is rounded to float once, from double (for 27
    // degrees a single-precision product is one ulp off).
    const float rad = static_cast<float>(27.0 * 0.017453292519943295), c = std::cos(rad), s = std::sin(rad);
    matrix4x4_t x = rotated(&matrix4x4_t::rotateX, 27), y = rotated(&matrix4x4_t::rotateY, 27);
    EXPECT_TRUE(x[1][1] == c && x[1][2] == -s && x[2][1] == s && x[0][0] == 1) << x;
    EXPECT_TRUE(y[0][2] == s && y[2][0] == -s && y[1][1] == 1) << y;
    // Bit for bit: angles a full turn apart give the same matrix.
    const struct { float a, b; } same[] = {{370, 10}, {-30, 330}, {1e10f, 280}, {-765, 315}, {360, 0}};
    for (const auto& p : same)
        expectSame(rotated(&matrix4x4_t::rotateZ, p.a), rotated(&matrix4x4_t::rotateZ, p.b));
}

TEST(matrix, InverseWithPartialPivoting) {
    const float perm[4][4] = {{0, 1, 0, 0}, {0, 0, 1, 0}, {1, 0, 0, 0}, {0, 0, 0, 1}};
    matrix4x4_t p = fromRows(perm), pi = p;
    expectSame(pi.inverse() * p, matrix4x4_t(1.0f));
    // Column 0 pivots on the 3, not the 1 (without pivoting: exactly -2, 1,
    // 1.5, -0.5).
    const float a[4][4] = {{1, 2, 0, 0}, {3, 4, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    matrix4x4_t m = fromRows(a);
    expectBits(m.inverse(), {{0xC0000001, 0x3F800001, 0, 0},
                             {0x3FC00001, 0xBF000001, 0, 0},
                             {0, 0, 0x3F800000, 0},
                             {0, 0, 0, 0x3F800000}});
    // Equal magnitudes: the first row wins (the last gives 0x3E638E3A).
    const float tie[4][4] = {{3, 1, 0, 0}, {-3, 2, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    m = fromRows(tie);
    m.inverse();
    EXPECT_TRUE(bits(m[0][0]) == 0x3E638E39u && bits(m[0][1]) == 0xBDE38E3Au) << m;
    const float g[4][4] = {{0.1f, 0.7f, 0.3f, 1}, {0.9f, 0.2f, 0.5f, 2}, {0.4f, 0.8f, 0.6f, 3}, {0, 0, 0, 1}};
    m = fromRows(g);
    expectBits(m.inverse(), {{0x40722984, 0x401BACFA, 0xC07ACF93, 0x4046EB3E},
                             {0x409306EC, 0x3F4F914D, 0xC03E4532, 0x402CF914},
                             {0xC10A60DE, 0xC02CF916, 0x4103E454, 0xC12ACF91},
                             {0, 0, 0, 0x3F800000}});
    std::mt19937 gen(7);
    auto u = [&](float lo, float hi) { return lo + (hi - lo) * (gen() % 100000) / 100000.0f; };
    for (int n = 0; n < 30; ++n) {
        matrix4x4_t r(1.0f);
        r.scale(u(0.5f, 2), u(0.5f, 2), u(0.5f, 2));
        r.rotateX(u(-400, 400));
        r.rotateY(u(-400, 400));
        r.translate(u(-10, 10), u(-10, 10), u(-10, 10));
        matrix4x4_t inv = r;
        matrix4x4_t prod = r * inv.inverse();
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) EXPECT_NEAR(prod[i][j], i == j ? 1 : 0, 2e-5) << n;
    }
}

TEST(matrixDeathTest, SingularMatrixStopsWithItsMessage) {
    auto invertLoudly = [](matrix4x4_t m) {
        dup2(STDERR_FILENO, STDOUT_FILENO); // where the death test sees it
        m.inverse();
    };
    const float dep[4][4] = {{1, 2, 0, 0}, {2, 4, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    EXPECT_EXIT(invertLoudly(fromRows(dep)), ::testing::ExitedWithCode(1),
                "^Error mu grave invirtiendo matriz\n1\n/ 1 2 0 0 \\\\\n\\| 0 0 0 0 \\|\n");
    EXPECT_EXIT(invertLoudly(matrix4x4_t(0.0f)), ::testing::ExitedWithCode(1),
                "^Error mu grave invirtiendo matriz\n0\n");
}
