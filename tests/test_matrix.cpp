#include "vexlarcore/matrix4.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
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

void expectBits(const matrix4x4_t& m, const std::uint32_t (&b)[4][4]) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(bits(m[i][j]), b[i][j]) << "element " << i << "," << j;
}

// Element-wise equality, -0 equal to 0.
void expectSame(const matrix4x4_t& a, const matrix4x4_t& b) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(a[i][j], b[i][j]) << "element " << i << "," << j;
}

// Bit-for-bit equality.
void expectSameBits(const matrix4x4_t& a, const matrix4x4_t& b) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(bits(a[i][j]), bits(b[i][j])) << "element " << i << "," << j;
}

matrix4x4_t rotated(void (matrix4x4_t::*rotate)(float), float deg) {
    matrix4x4_t m(1.0f);
    (m.*rotate)(deg);
    return m;
}

// Inverts with standard output sent to standard error, where a death test
// sees it.
void invertLoudly(matrix4x4_t m) {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    m.inverse();
}

// Escapes a literal text for the extended regular expressions of death tests.
std::string literal(const std::string& s) {
    std::string r;
    for (char c : s) {
        if (std::strchr(".[]{}()\\*+?^$|", c)) r += '\\';
        r += c;
    }
    return r;
}

} // namespace

TEST(Matrix, ConstructionCopyAndFlag) {
    matrix4x4_t d(2.5f);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(d[i][j], i == j ? 2.5f : 0.0f);
    EXPECT_EQ(d.invalid, 0);
    d.invalid = 1;
    matrix4x4_t c(d);
    EXPECT_TRUE(c.invalid == 1 && c[3][3] == 2.5f);
    matrix4x4_t e;
    e = d;
    e.identity(); // keeps the flag
    EXPECT_EQ(e.invalid, 1);
    expectSame(e, matrix4x4_t(1.0f));
    EXPECT_EQ((e * e).invalid, 0); // a product starts clean
}

TEST(Matrix, StreamFormat) {
    EXPECT_EQ(str(matrix4x4_t(1.0f)), "/ 1 0 0 0 \\\n| 0 1 0 0 |\n| 0 0 1 0 |\n\\ 0 0 0 1 /\n");
    matrix4x4_t t(1.0f);
    t.translate(0.5f, -2, 1e7f);
    EXPECT_EQ(str(t), "/ 1 0 0 0.5 \\\n| 0 1 0 -2 |\n| 0 0 1 1e+07 |\n\\ 0 0 0 1 /\n");
}

TEST(Matrix, ProductIsRowByColumn) {
    const float a[4][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
    const float b[4][4] = {{1, 0, 2, 0}, {0, 1, 0, 3}, {4, 0, 1, 0}, {0, 5, 0, 1}};
    const float ab[4][4] = {{13, 22, 5, 10}, {33, 46, 17, 26}, {53, 70, 29, 42}, {73, 94, 41, 58}};
    expectSame(fromRows(a) * fromRows(b), fromRows(ab));
}

TEST(Matrix, PointAndVectorTransforms) {
    matrix4x4_t m(1.0f);
    m.translate(1, 2, 3);
    EXPECT_EQ(m * vector3d_t(1, 1, 1), vector3d_t(1, 1, 1)); // translation ignored
    // Row 3 is ignored: no homogeneous division.
    m[3][3] = 2;
    m[3][0] = 7;
    EXPECT_EQ(toVector(m * point3d_t(1, 1, 1)), vector3d_t(2, 3, 4));
}

TEST(Matrix, CompositionOrder) {
    // Translation after scaling.
    matrix4x4_t s(1.0f);
    s.scale(2, 2, 2);
    s.translate(1, 2, 3);
    EXPECT_EQ(toVector(s * point3d_t(1, 1, 1)), vector3d_t(3, 4, 5));
    // Scaling does not touch the translation column.
    matrix4x4_t t(1.0f);
    t.translate(1, 2, 3);
    t.scale(2, 3, 4);
    EXPECT_TRUE(t[0][3] == 1 && t[1][3] == 2 && t[2][3] == 3) << t;
    EXPECT_EQ(toVector(t * point3d_t(1, 1, 1)), vector3d_t(3, 5, 7));
    // Scaling multiplies columns (M S), not rows.
    matrix4x4_t r(0.0f);
    r[0][1] = 1;
    r[1][0] = 1;
    r.scale(2, 3, 4);
    EXPECT_TRUE(r[0][1] == 3 && r[1][0] == 2) << r;
    // A rotation applies after the existing transformation.
    matrix4x4_t q(1.0f);
    q.translate(1, 0, 0);
    q.rotateZ(90);
    point3d_t o = q * point3d_t(0, 0, 0);
    EXPECT_NEAR(o.x, 0, 1e-6);
    EXPECT_NEAR(o.y, 1, 1e-6);
}

TEST(Matrix, RotationEntries) {
    matrix4x4_t z = rotated(&matrix4x4_t::rotateZ, 90);
    EXPECT_EQ(z[0][1], -1.0f); // sinf of pi/2 rounded to float is exactly 1
    EXPECT_EQ(z[1][0], 1.0f);
    EXPECT_NEAR(z[0][0], 0, 1e-7);
    EXPECT_EQ(z[0][0], z[1][1]);
    point3d_t p = z * point3d_t(1, 0, 0);
    EXPECT_NEAR(p.x, 0, 1e-7);
    EXPECT_EQ(p.y, 1.0f);

    matrix4x4_t x = rotated(&matrix4x4_t::rotateX, 30), y = rotated(&matrix4x4_t::rotateY, 30);
    // The angle in radians is rounded to float once, from double.
    const float rad = static_cast<float>(30.0 * 0.017453292519943295), c = std::cos(rad), sn = std::sin(rad);
    EXPECT_TRUE(x[1][1] == c && x[1][2] == -sn && x[2][1] == sn) << x;
    EXPECT_TRUE(y[0][2] == sn && y[2][0] == -sn) << y;
    EXPECT_TRUE(x[0][0] == 1 && y[1][1] == 1 && x.invalid == 0);
}

TEST(Matrix, RotationAngleReduction) {
    const auto X = &matrix4x4_t::rotateX, Z = &matrix4x4_t::rotateZ;
    // Bit for bit: the angle is reduced to [0, 360) before conversion.
    expectSameBits(rotated(X, 370), rotated(X, 10));
    expectSameBits(rotated(X, -30), rotated(X, 330));
    expectSameBits(rotated(Z, 1e10f), rotated(Z, 280)); // 1e10 mod 360 = 280 exactly
    expectSameBits(rotated(Z, -720 - 45), rotated(Z, 315));
    expectSame(rotated(X, 360), matrix4x4_t(1.0f));
    expectSame(rotated(Z, -360), matrix4x4_t(1.0f));
}

TEST(Matrix, InverseExactCases) {
    matrix4x4_t id(1.0f);
    expectSame(matrix4x4_t(1.0f).inverse(), id);
    matrix4x4_t t(1.0f);
    t.translate(1.5f, -2, 3);
    t.inverse();
    matrix4x4_t e(1.0f);
    e.translate(-1.5f, 2, -3);
    expectSame(t, e);
    // A permutation needs row swaps and is its own inverse.
    const float perm[4][4] = {{0, 1, 0, 0}, {0, 0, 1, 0}, {1, 0, 0, 0}, {0, 0, 0, 1}};
    matrix4x4_t p = fromRows(perm);
    matrix4x4_t pi = p;
    pi.inverse();
    expectSame(pi * p, id);
    // inverse() returns the matrix itself.
    matrix4x4_t s(2.0f);
    EXPECT_EQ(&s.inverse(), &s);
    EXPECT_EQ(s[0][0], 0.5f);
}

TEST(Matrix, InversePartialPivoting) {
    // Column 0 pivots on the 3, not on the 1: the rounding shows it (without
    // pivoting the result would be exactly -2, 1, 1.5, -0.5).
    const float a[4][4] = {{1, 2, 0, 0}, {3, 4, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    matrix4x4_t m = fromRows(a);
    m.inverse();
    expectBits(m, {{0xC0000001, 0x3F800001, 0, 0},
                   {0x3FC00001, 0xBF000001, 0, 0},
                   {0, 0, 0x3F800000, 0},
                   {0, 0, 0, 0x3F800000}});
    // Equal magnitudes: the first row wins (the last would give 0x3E638E3A).
    const float tie[4][4] = {{3, 1, 0, 0}, {-3, 2, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    m = fromRows(tie);
    m.inverse();
    EXPECT_TRUE(bits(m[0][0]) == 0x3E638E39u && bits(m[0][1]) == 0xBDE38E3Au &&
                bits(m[1][0]) == 0x3EAAAAABu && bits(m[1][1]) == 0x3EAAAAABu)
        << m;
    // A general affine matrix, every element pinned.
    const float g[4][4] = {{0.1f, 0.7f, 0.3f, 1}, {0.9f, 0.2f, 0.5f, 2}, {0.4f, 0.8f, 0.6f, 3}, {0, 0, 0, 1}};
    m = fromRows(g);
    m.inverse();
    expectBits(m, {{0x40722984, 0x401BACFA, 0xC07ACF93, 0x4046EB3E},
                   {0x409306EC, 0x3F4F914D, 0xC03E4532, 0x402CF914},
                   {0xC10A60DE, 0xC02CF916, 0x4103E454, 0xC12ACF91},
                   {0, 0, 0, 0x3F800000}});
}

TEST(Matrix, InverseOfRandomTransforms) {
    std::mt19937 gen(7);
    auto u = [&](float lo, float hi) { return lo + (hi - lo) * (gen() % 100000) / 100000.0f; };
    for (int n = 0; n < 50; ++n) {
        matrix4x4_t m(1.0f);
        m.scale(u(0.5f, 2), u(0.5f, 2), u(0.5f, 2));
        m.rotateX(u(-400, 400));
        m.rotateY(u(-400, 400));
        m.rotateZ(u(-400, 400));
        m.translate(u(-10, 10), u(-10, 10), u(-10, 10));
        matrix4x4_t inv = m;
        inv.inverse();
        matrix4x4_t p = m * inv;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) EXPECT_NEAR(p[i][j], i == j ? 1 : 0, 2e-5) << n;
    }
}

TEST(MatrixDeathTest, SingularMatrixStopsWithItsMessage) {
    // Rows 0 and 1 are dependent: after column 0 is eliminated (row 1 is
    // the pivot and is swapped up), column 1 has no non-zero element left.
    const float dep[4][4] = {{1, 2, 0, 0}, {2, 4, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    const std::string expected = "Error mu grave invirtiendo matriz\n1\n"
                                 "/ 1 2 0 0 \\\n| 0 0 0 0 |\n| 0 0 1 0 |\n\\ 0 0 0 1 /\n";
    EXPECT_EXIT(invertLoudly(fromRows(dep)), ::testing::ExitedWithCode(1), "^" + literal(expected) + "$");
    matrix4x4_t z(1.0f);
    z[2][2] = 0;
    EXPECT_EXIT(invertLoudly(z), ::testing::ExitedWithCode(1),
                "^" + literal("Error mu grave invirtiendo matriz\n2\n/ 1 0 0 0 \\"));
    EXPECT_EXIT(invertLoudly(matrix4x4_t(0.0f)), ::testing::ExitedWithCode(1),
                "^" + literal("Error mu grave invirtiendo matriz\n0\n"));
}
