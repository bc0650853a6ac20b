// Perlin noise against an independent double-precision evaluation, its
// wrapping, hostile coordinates and the two turbulence sums.
#include "vexlarcore/noise.h"

#include "test_support.h"

#include <cmath>
#include <random>

using namespace vexlar;

namespace {

// The sixteen gradient directions by hash & 15. Entries 13 and 14 differ
// from Perlin's published choice (-y + z, y - x); random points hit them often
// enough that the comparison with this table tells the two apart.
const int grad[16][3] = {{1, 1, 0},  {-1, 1, 0},  {1, -1, 0}, {-1, -1, 0}, {1, 0, 1},  {-1, 0, 1},
                         {1, 0, -1}, {-1, 0, -1}, {0, 1, 1},  {0, -1, 1},  {0, 1, -1}, {0, -1, -1},
                         {1, 1, 0},  {-1, 1, 0},  {0, 1, -1}, {0, -1, -1}};

// Independent double-precision evaluation: floor-based cells, explicit
// modulo indexing, gradient vectors dotted with the corner offsets.
double referenceNoise(double px, double py, double pz) {
    auto perm = [](int n) { return permutation[n & 255]; }; // every index taken modulo 256
    const double fx = std::floor(px), fy = std::floor(py), fz = std::floor(pz);
    auto cell = [](double f) { return static_cast<int>(((static_cast<long long>(f) % 256) + 256) % 256); };
    const int X = cell(fx), Y = cell(fy), Z = cell(fz);
    const double x = px - fx, y = py - fy, z = pz - fz;
    double corner[2][2][2];
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
            for (int c = 0; c < 2; ++c) {
                const int h = perm(perm(perm(X + a) + Y + b) + Z + c) & 15;
                corner[a][b][c] = grad[h][0] * (x - a) + grad[h][1] * (y - b) + grad[h][2] * (z - c);
            }
    auto quintic = [](double t) { return t * t * t * (t * (t * 6 - 15) + 10); };
    const double u = quintic(x), v = quintic(y), w = quintic(z);
    auto lerp = [](double t, double a, double b) { return a + t * (b - a); };
    return lerp(
        w, lerp(v, lerp(u, corner[0][0][0], corner[1][0][0]), lerp(u, corner[0][1][0], corner[1][1][0])),
        lerp(v, lerp(u, corner[0][0][1], corner[1][0][1]), lerp(u, corner[0][1][1], corner[1][1][1])));
}

} // namespace

TEST(perlinNoise, MatchesAnIndependentEvaluationWrapsAndSumsOctaves) {
    EXPECT_EQ(std::vector<int>(permutation, permutation + 6), (std::vector<int>{151, 160, 137, 91, 90, 15}));
    newPerlin_t n;
    for (int i = 0; i < 512; ++i) ASSERT_EQ(n.p[i], permutation[i & 255]) << i; // doubled by the constructor
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<float> coord(-300.0f, 300.0f);
    double worst = 0;
    for (int i = 0; i < 5000; ++i) {
        const point3d_t p(coord(rng), coord(rng), coord(rng));
        worst = std::max(worst, std::fabs(n.noise(p) - referenceNoise(p.x, p.y, p.z)));
    }
    EXPECT_LT(worst, 2e-5);
    for (int x = -3; x <= 3; ++x) // zero on the lattice
        for (int z = -3; z <= 3; ++z) EXPECT_EQ(n.noise(point3d_t(x * 37.0f, 11.0f * x, z)), 0.0f);
    // It wraps every 256 and survives hostile coordinates.
    EXPECT_EQ(n.noise(point3d_t(-0.5f, -7.25f, -300.5f)), n.noise(point3d_t(255.5f, 248.75f, 211.5f)));
    EXPECT_NE(n.noise(point3d_t(-0.5f, 0, 0)), 0.0f);
    const point3d_t w(3.25f, 17.5f, 0.125f);
    EXPECT_EQ(n.noise(w), n.noise(point3d_t(259.25f, 17.5f, 0.125f)));
    EXPECT_EQ(n.noise(w), n.noise(point3d_t(3.25f, 17.5f, -255.875f)));
    // 3e9 is a whole multiple of 256; infinities and NaN give 0.
    EXPECT_EQ(n.noise(point3d_t(3.0e9f, 0.5f, 0.25f)), n.noise(point3d_t(0, 0.5f, 0.25f)));
    EXPECT_EQ(n.noise(point3d_t(-3.0e9f, 0.5f, 0.25f)), n.noise(point3d_t(0, 0.5f, 0.25f)));
    EXPECT_TRUE(n.noise(point3d_t(INFINITY, 0.5f, 0.5f)) == 0 && n.noise(point3d_t(0.5f, 0.5f, NAN)) == 0);
    // The two turbulence sums.
    const point3d_t p(1.3f, -2.7f, 5.45f);
    EXPECT_TRUE(n.turbulence(p, 0, false) == 0.5f && n.turbulence(p, -3, true) == 0.5f &&
                n.turbulence2(p, 0, false, 0.5f, 2.0f) == 0.5f);
    const float n0 = n.noise(p), n1 = n.noise(2.0f * p), n2 = n.noise(4.0f * p), m1 = n.noise(3.0f * p);
    ASSERT_NE(n0, 0.0f);
    EXPECT_EQ(n.turbulence(p, 1, true),
              static_cast<float>(static_cast<double>(std::fabs(n0) * (2.0f / 3.0f)) * 0.5 + 0.5));
    // Three octaves: amplitudes 1, 1/2, 1/4 at frequencies 1, 2, 4, scaled by 8/15.
    const double sum3 = n0 + 0.5 * n1 + 0.25 * n2;
    EXPECT_NEAR(n.turbulence(p, 3, false), sum3 * 8.0 / 15.0 * 0.5 + 0.5, 1e-6);
    const double hard3 = std::fabs(n0) + 0.5 * std::fabs(n1) + 0.25 * std::fabs(n2);
    EXPECT_NEAR(n.turbulence(p, 3, true), hard3 * 8.0 / 15.0 * 0.5 + 0.5, 1e-6);
    // turbulence2's normaliser starts at 1: 1 + 1 + 0.5 + 0.25 for three octaves.
    EXPECT_NEAR(n.turbulence2(p, 3, false, 0.5f, 2.0f), sum3 / 2.75 * 0.5 + 0.5, 1e-6);
    EXPECT_NEAR(n.turbulence2(p, 2, true, 0.25f, 3.0f),
                (std::fabs(n0) + 0.25 * std::fabs(m1)) / 2.25 * 0.5 + 0.5, 1e-6);
    for (int oct : {20, 31, 40, 200}) { // many octaves stay finite and in range
        const float t = n.turbulence(p, oct, false);
        EXPECT_TRUE(t >= 0.0f && t <= 1.0f) << oct << " " << t;
        EXPECT_TRUE(std::isfinite(n.turbulence2(p, oct, true, 0.5f, 2.0f))) << oct;
    }
    EXPECT_EQ(n.turbulence(p, 100, false), n.turbulence(p, 200, false));
}
