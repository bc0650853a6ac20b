#include "vexlarcore/sampling.h"

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

vector3d_t vb(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return vector3d_t(fromBits(x), fromBits(y), fromBits(z));
}

void expectBits(const vector3d_t& v, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    EXPECT_EQ(bits(v.x), x);
    EXPECT_EQ(bits(v.y), y);
    EXPECT_EQ(bits(v.z), z);
}

// Deterministic unit vectors for property checks.
class directions {
public:
    explicit directions(unsigned seed) : gen(seed) {}
    float uniform() { return static_cast<float>(gen() % 1000000) / 1000000.0f; }
    vector3d_t next() {
        for (;;) {
            vector3d_t v(2 * uniform() - 1, 2 * uniform() - 1, 2 * uniform() - 1);
            float l = v * v;
            if (l > 0.01f && l <= 1.0f) return v.normalize();
        }
    }

private:
    std::mt19937 gen;
};

// Restores the process-wide seed so that tests do not depend on each other.
class Random : public ::testing::Test {
protected:
    void SetUp() override { saved = myseed; }
    void TearDown() override { myseed = saved; }
    int saved = 0;
};

} // namespace

TEST_F(Random, SequenceFromTheInitialSeed) {
    myseed = 123212;
    float r = nextRandom();
    EXPECT_EQ(myseed, 2070824084);
    EXPECT_EQ(bits(r), 0x3F76DC89u); // 0.9643026
    r = nextRandom();
    EXPECT_EQ(myseed, 72912859);
    EXPECT_EQ(bits(r), 0x3D0B11FBu); // 0.0339527
    r = nextRandom();
    EXPECT_EQ(myseed, 1380742423);
    EXPECT_EQ(bits(r), 0x3F2498EAu); // 0.6429583
}

TEST_F(Random, MinimalStandardCheckValue) {
    // The published check of the minimal standard generator: from seed 1
    // the 10000th state is 1043618065.
    myseed = 1;
    for (int i = 0; i < 10000; ++i) nextRandom();
    EXPECT_EQ(myseed, 1043618065);
}

TEST_F(Random, LargestStatesDoNotOverflow) {
    myseed = 2147483646;
    nextRandom();
    EXPECT_EQ(myseed, 2147466840);
    // A state this close to 2^31 rounds to 1.0 in single precision.
    myseed = 411174057;
    EXPECT_EQ(nextRandom(), 1.0f);
    EXPECT_EQ(myseed, 2147483600);
    // Draws stay within (0, 1].
    myseed = 99;
    for (int i = 0; i < 1000; ++i) {
        float r = nextRandom();
        EXPECT_GT(r, 0.0f);
        EXPECT_LE(r, 1.0f);
    }
}

TEST(Refract, StraightThroughAndIndexOne) {
    vector3d_t n(0, 0, 1);
    EXPECT_EQ(refract(n, n, 1.5f), vector3d_t(0, 0, -1));
    directions dirs(3);
    for (int i = 0; i < 200; ++i) {
        vector3d_t v = dirs.next();
        expectNear(refract(dirs.next(), v, 1.0f), -v, 2e-6f);
    }
}

TEST(Refract, SnellsLawOnBothSides) {
    directions dirs(5);
    const vector3d_t n(0, 0, 1);
    for (int i = 0; i < 500; ++i) {
        vector3d_t v = dirs.next();
        float ior = 1.1f + 0.001f * static_cast<float>(i);
        vector3d_t t = refract(n, v, ior);
        float sinI = std::sqrt(v.x * v.x + v.y * v.y);
        // From the front the ratio is 1/ior, from the back ior.
        float eta = (v.z >= 0) ? 1.0f / ior : ior;
        if (eta * sinI > 1.0f + 1e-5f) {
            EXPECT_EQ(t, vector3d_t(0, 0, 0)) << i;
            continue;
        }
        if (eta * sinI > 1.0f - 1e-5f) continue; // too close to call
        EXPECT_NEAR(t.length(), 1.0f, 1e-6f);
        EXPECT_NEAR(std::sqrt(t.x * t.x + t.y * t.y), eta * sinI, 2e-5f) << i;
        // Crosses the surface, and stays in the plane of v and n.
        EXPECT_LT(t.z * v.z, 0.0f);
        EXPECT_NEAR(t.x * v.y - t.y * v.x, 0.0f, 2e-5f);
        EXPECT_LE(t.x * v.x + t.y * v.y, 1e-6f);
    }
}

TEST(Refract, TotalInternalReflectionAndPinnedBits) {
    // From inside the dense medium (v on the back side) at a grazing angle.
    vector3d_t v(0.9f, 0, -0.43589f);
    EXPECT_EQ(refract(vector3d_t(0, 0, 1), v, 1.5f), vector3d_t(0, 0, 0));
    // The square root is double precision (single gives y = 0x3D41D9DC).
    vector3d_t t = refract(vb(0x3E8EFB69, 0xBF294FDC, 0x3F32358A), vb(0x3F6C84E7, 0x3E9CAA3A, 0x3E6B3E4C),
                           fromBits(0x3F9EF17D));
    expectBits(t, 0xBF5E39AE, 0x3D41D9E4, 0xBEFD05CF);
}

TEST(Fresnel, NormalIncidenceAndIndexOne) {
    float kr, kt;
    fresnel(vector3d_t(0, 0, 1), vector3d_t(0, 0, 1), 1.5f, kr, kt);
    EXPECT_NEAR(kr, 0.04f, 1e-7f);
    EXPECT_NEAR(kt, 0.96f, 1e-7f);
    // The sign of n does not matter.
    float kr2, kt2;
    fresnel(vector3d_t(0, 0, 1), vector3d_t(0, 0, -1), 1.5f, kr2, kt2);
    EXPECT_EQ(kr, kr2);
    EXPECT_EQ(kt, kt2);
    fresnel(vector3d_t(0, 0, 1), vector3d_t(0, 0, 1), 1.0f, kr, kt);
    EXPECT_EQ(kr, 0.0f);
    EXPECT_EQ(kt, 1.0f);
    // Elsewhere g = sqrt(1 + mu^2 - 1) differs from mu only by rounding.
    directions dirs(9);
    for (int i = 0; i < 50; ++i) {
        fresnel(dirs.next(), dirs.next(), 1.0f, kr, kt);
        EXPECT_NEAR(kr, 0.0f, 1e-6f);
        EXPECT_EQ(kt, 1.0f - kr);
    }
}

TEST(Fresnel, MatchesTheTextbookFormula) {
    // Average of the s and p reflectances from Snell's law, in double.
    const vector3d_t n(0, 0, 1);
    for (int deg = 0; deg < 90; deg += 3) {
        for (float ior : {1.33f, 1.5f, 2.4f}) {
            double ti = deg * 3.141592653589793 / 180;
            vector3d_t v(static_cast<float>(std::sin(ti)), 0, static_cast<float>(std::cos(ti)));
            float kr, kt;
            fresnel(v, n, ior, kr, kt);
            double ci = v.z, st = std::sin(ti) / ior, ct = std::sqrt(1 - st * st);
            double rs = (ci - ior * ct) / (ci + ior * ct), rp = (ior * ci - ct) / (ior * ci + ct);
            EXPECT_NEAR(kr, 0.5 * (rs * rs + rp * rp), 2e-5) << deg << " " << ior;
            EXPECT_EQ(kt, 1.0f - kr);
        }
    }
}

TEST(Fresnel, EdgesAndPinnedBits) {
    float kr, kt;
    // Grazing incidence into a less dense medium: total reflection, not 0/0.
    fresnel(vector3d_t(1, 0, 0), vector3d_t(0, 0, 1), 0.9f, kr, kt);
    EXPECT_EQ(kr, 1.0f);
    EXPECT_EQ(kt, 0.0f);
    // Beyond the critical angle (g = 0) Kr is 1, so Kt is 0.
    fresnel(vector3d_t(0.9f, 0, 0.43589f), vector3d_t(0, 0, 1), 1 / 1.5f, kr, kt);
    EXPECT_NEAR(kr, 1.0f, 1e-6f);
    EXPECT_EQ(kt, kr < 1.0f ? 1.0f - kr : 0.0f);
    // First factor in double precision (squaring g + mu in single gives
    // 0x3E96FE3C).
    fresnel(vb(0x3F46392C, 0x3EF22814, 0xBED74100), vb(0xBE9A31F8, 0x3F2CF4C7, 0x3F2C45FD),
            fromBits(0x3FA741EC), kr, kt);
    EXPECT_EQ(bits(kr), 0x3E96FE3Du);
    EXPECT_EQ(bits(kt), 0x3F3480E2u);
}

TEST(FastFresnel, Schlick) {
    float kr, kt;
    const vector3d_t n(0, 0, 1);
    fast_fresnel(n, n, 0.04f, kr, kt);
    EXPECT_EQ(kr, 0.04f);
    EXPECT_EQ(kt, 1.0f - 0.04f);
    fast_fresnel(vector3d_t(1, 0, 0), n, 0.04f, kr, kt);
    EXPECT_EQ(kr, 1.0f);
    EXPECT_EQ(kt, 0.0f);
    fast_fresnel(vector3d_t(0, 0, 0.5f), n, 0.0f, kr, kt);
    EXPECT_EQ(kr, 1.0f / 32);
    // No sign correction: from the back side m exceeds 1.
    fast_fresnel(vector3d_t(0, 0, -1), n, 0.0f, kr, kt);
    EXPECT_EQ(kr, 32.0f);
    EXPECT_EQ(kt, -31.0f);
    // (1 - r0) m^2 m^2 m, in that order (repeated products give 0x3EC79C94).
    fast_fresnel(vector3d_t(0, 0, fromBits(0x3E843CF5)), n, fromBits(0x3E5A5C78), kr, kt);
    EXPECT_EQ(bits(kr), 0x3EC79C96u);
}

TEST(CreateCS, PolesAndFrames) {
    vector3d_t u, v;
    createCS(vector3d_t(0, 0, -1), u, v);
    EXPECT_EQ(u, vector3d_t(-1, 0, 0));
    EXPECT_EQ(v, vector3d_t(0, 1, 0));
    createCS(vector3d_t(0, 0, 1), u, v);
    EXPECT_EQ(u, vector3d_t(1, 0, 0));
    EXPECT_EQ(v, vector3d_t(0, 1, 0));
    createCS(vector3d_t(1, 0, 0), u, v);
    EXPECT_EQ(u, vector3d_t(0, -1, 0));
    EXPECT_EQ(v, vector3d_t(0, 0, -1)); // v = n x u
    directions dirs(13);
    for (int i = 0; i < 300; ++i) {
        vector3d_t n = dirs.next();
        createCS(n, u, v);
        EXPECT_NEAR(u.length(), 1, 1e-6f);
        EXPECT_NEAR(v.length(), 1, 1e-6f);
        EXPECT_NEAR(u * n, 0, 1e-6f);
        EXPECT_NEAR(v * n, 0, 1e-6f);
        EXPECT_NEAR(u * v, 0, 1e-6f);
        EXPECT_EQ(u.z, 0.0f);
        expectNear(n ^ u, v, 1e-6f);
    }
    // The reciprocal length is double precision, rounded once.
    createCS(vb(0xBF244B17, 0xBE853E32, 0x3F38AD19), u, v);
    expectBits(u, 0xBEC066A0, 0x3F6D3CB7, 0);
    expectBits(v, 0xBF2B240D, 0xBE8ACBDB, 0xBF31497F);
}

TEST(CreateCS, TinyHorizontalComponentsStillGiveAUnitFrame) {
    // Normals a hair off the z axis (as left by chains of rotations): the
    // squares of x and y underflow in single precision, to 0 or to a denormal.
    vector3d_t u, v;
    createCS(vector3d_t(1e-30f, 0, 1), u, v);
    EXPECT_EQ(u, vector3d_t(0, -1, 0));
    EXPECT_EQ(v, vector3d_t(1, 0, -1e-30f));
    createCS(vector3d_t(0, -3e-25f, -1), u, v);
    EXPECT_EQ(u, vector3d_t(-1, 0, 0));
    EXPECT_EQ(v, vector3d_t(0, 1, -3e-25f));
    for (vector3d_t n : {vector3d_t(1e-23f, 1e-23f, 1), vector3d_t(8.3e-23f, 0, -1),
                         vector3d_t(-2e-20f, 5e-21f, 1), vector3d_t(1e-40f, -1e-40f, 1)}) {
        createCS(n, u, v);
        EXPECT_NEAR(u.length(), 1, 1e-6f) << n;
        EXPECT_NEAR(v.length(), 1, 1e-6f) << n;
        EXPECT_NEAR(u * n, 0, 1e-6f) << n;
        EXPECT_NEAR(u * v, 0, 1e-6f) << n;
        EXPECT_EQ(u.z, 0.0f) << n;
    }
}

TEST(ShirleyDisc, KnownPoints) {
    float u, v;
    ShirleyDisc(0.5f, 0.5f, u, v);
    EXPECT_EQ(u, 0.0f);
    EXPECT_EQ(v, 0.0f);
    ShirleyDisc(1, 0.5f, u, v);
    EXPECT_EQ(u, 1.0f);
    EXPECT_EQ(v, 0.0f);
    ShirleyDisc(0.5f, 1, u, v);
    EXPECT_NEAR(u, 0.0f, 1e-7f);
    EXPECT_EQ(v, 1.0f);
    ShirleyDisc(0, 0.5f, u, v);
    EXPECT_EQ(u, -1.0f);
    EXPECT_NEAR(v, 0.0f, 1e-7f);
    ShirleyDisc(0.5f, 0, u, v);
    EXPECT_NEAR(u, 0.0f, 1e-7f);
    EXPECT_EQ(v, -1.0f);
    ShirleyDisc(0, 0, u, v); // corner: radius 1 at 225 degrees
    EXPECT_NEAR(u, -std::sqrt(0.5f), 1e-7f);
    EXPECT_NEAR(v, -std::sqrt(0.5f), 1e-7f);
    ShirleyDisc(1, 1, u, v);
    EXPECT_NEAR(u, std::sqrt(0.5f), 1e-7f);
    EXPECT_NEAR(v, std::sqrt(0.5f), 1e-7f);
    // Double cosine and sine (cosf, sinf give different last bits here).
    ShirleyDisc(fromBits(0x3F420EF1), fromBits(0x3DF1A59F), u, v);
    EXPECT_EQ(bits(u), 0x3EC5EDF5u);
    EXPECT_EQ(bits(v), 0xBF28B400u);
}

TEST(ShirleyDisc, AreaPreserving) {
    // The concentric map sends the square of half the size to the disc of
    // half the radius: a quarter of a uniform grid lands inside radius 0.5.
    const int n = 200;
    int inside = 0;
    double su = 0, sv = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            float u, v;
            ShirleyDisc((i + 0.5f) / n, (j + 0.5f) / n, u, v);
            float r2 = u * u + v * v;
            EXPECT_LE(r2, 1.0f + 1e-6f);
            if (r2 < 0.25f) ++inside;
            su += u;
            sv += v;
        }
    EXPECT_EQ(inside, n * n / 4);
    EXPECT_NEAR(su / (n * n), 0, 1e-6);
    EXPECT_NEAR(sv / (n * n), 0, 1e-6);
}

TEST(RandomVectorCone, AxisRimAndSpread) {
    directions dirs(17);
    for (int i = 0; i < 200; ++i) {
        vector3d_t d = dirs.next();
        float cosang = dirs.uniform();
        expectNear(randomVectorCone(d, cosang, dirs.uniform(), 0.0f), d, 1e-6f);
        vector3d_t rim = randomVectorCone(d, cosang, dirs.uniform(), 1.0f);
        EXPECT_NEAR(rim * d, cosang, 2e-6f);
        vector3d_t r = randomVectorCone(d, cosang, dirs.uniform(), dirs.uniform());
        EXPECT_NEAR(r.length(), 1, 2e-6f);
        EXPECT_GE(r * d, cosang - 2e-6f);
    }
    // z1 sweeps the azimuth from u towards v.
    vector3d_t d(0, 0, 1), u(1, 0, 0), v(0, 1, 0);
    expectNear(randomVectorCone(d, u, v, 0, 0.0f, 1.0f), u, 1e-7f);
    expectNear(randomVectorCone(d, u, v, 0, 0.25f, 1.0f), v, 1e-7f);
    expectNear(randomVectorCone(d, u, v, 0, 0.5f, 1.0f), -u, 1e-7f);
}

TEST(RandomVectorCone, UsesCreateCSAndPinnedBits) {
    vector3d_t d = vb(0xBE09FDBC, 0xBF4AF609, 0x3F1828FE), u, v;
    createCS(d, u, v);
    vector3d_t a =
        randomVectorCone(d, u, v, fromBits(0x3E061C3C), fromBits(0x3F24CA84), fromBits(0x3DEE9BBD));
    vector3d_t b = randomVectorCone(d, fromBits(0x3E061C3C), fromBits(0x3F24CA84), fromBits(0x3DEE9BBD));
    EXPECT_EQ(a, b);
    // cos(theta), sin(theta) and the azimuth's cosine and sine in double.
    expectBits(a, 0x3E393366, 0xBF0E6A64, 0x3F4FA134);
}

TEST(DiscreteVectorCone, GridOverTheCone) {
    directions dirs(19);
    for (int n = 0; n < 50; ++n) {
        vector3d_t d = dirs.next();
        float cosang = dirs.uniform();
        const int square = 1 + n % 7;
        EXPECT_EQ(discreteVectorCone(d, cosang, 0, square), d);
        for (int s = 0; s < square * square; ++s) {
            vector3d_t r = discreteVectorCone(d, cosang, s, square);
            int j = s % square;
            EXPECT_NEAR(r.length(), 1, 2e-6f);
            // Cell j steps cos(theta) down from 1 by (1 - cosang) / square.
            EXPECT_NEAR(r * d, 1 - (1 - cosang) * j / square, 3e-6f) << s;
        }
    }
    EXPECT_EQ(discreteVectorCone(vector3d_t(0, 1, 0), 0.5f, 3, 0), vector3d_t(0, 1, 0));
    // The azimuth: cell i of the x-axis cone lies at angle 2 pi i / square
    // from +y towards +z.
    vector3d_t r = discreteVectorCone(vector3d_t(1, 0, 0), 0.0f, 1 * 4 + 2, 4);
    expectNear(r, vector3d_t(0.5f, 0, std::sqrt(0.75f)), 1e-6f);
    r = discreteVectorCone(vector3d_t(-1, 0, 0), 0.0f, 2, 4);
    expectNear(r, vector3d_t(-0.5f, std::sqrt(0.75f), 0), 1e-6f);
    // A generic axis: pinned bits (double acos and cos(phi)).
    r = discreteVectorCone(vb(0xBE578D63, 0xBF434219, 0xBF1C8B7F), fromBits(0x3F788ECE), 1, 6);
    expectBits(r, 0xBE568206, 0xBF32915E, 0xBF2F6C9B);
}

TEST(TextureMaps, Tube) {
    float u, v;
    tubemap(point3d_t(0, 0, 0.5f), u, v);
    EXPECT_EQ(u, 0.0f);
    EXPECT_EQ(v, 0.25f);
    tubemap(point3d_t(0, 2, -1), u, v); // atan2(x, y): +y is the seam's middle
    EXPECT_EQ(u, 0.5f);
    EXPECT_EQ(v, 1.0f);
    tubemap(point3d_t(3, 0, 1), u, v);
    EXPECT_EQ(u, 0.25f);
    EXPECT_EQ(v, 0.0f);
    tubemap(point3d_t(-3, 0, 1), u, v);
    EXPECT_EQ(u, 0.75f);
    tubemap(point3d_t(fromBits(0xBFDE2CAF), fromBits(0xBF2264E8), fromBits(0x400814AB)), u, v);
    EXPECT_EQ(bits(u), 0x3F4E46A7u);
    EXPECT_EQ(bits(v), 0xBF102956u);
}

TEST(TextureMaps, Sphere) {
    float u = 9, v = 9;
    spheremap(point3d_t(0, 0, 0), u, v);
    EXPECT_EQ(u, 0.0f);
    EXPECT_EQ(v, 0.0f);
    spheremap(point3d_t(1, 0, 0), u, v);
    EXPECT_EQ(u, 0.0f); // no azimuth unless x and y are both non-zero
    EXPECT_EQ(v, 0.5f);
    spheremap(point3d_t(0, 0, 2), u, v);
    EXPECT_EQ(v, 0.0f);
    spheremap(point3d_t(0, 0, -2), u, v);
    EXPECT_EQ(v, 1.0f);
    spheremap(point3d_t(1, 1, 0), u, v);
    EXPECT_EQ(u, 0.375f);
    EXPECT_EQ(v, 0.5f);
    spheremap(point3d_t(fromBits(0x3F59DC0D), fromBits(0xC01978E4), fromBits(0x403BE450)), u, v);
    EXPECT_EQ(bits(u), 0x3D5E4F68u);
    EXPECT_EQ(bits(v), 0x3E68C48Cu);
    // A tiny point whose squared length rounds below z^2 stays on the axis
    // instead of producing NaN.
    spheremap(point3d_t(0, 0, 4.2e-23f), u, v);
    EXPECT_EQ(v, 0.0f);
    spheremap(point3d_t(0, 0, -4.2e-23f), u, v);
    EXPECT_EQ(v, 1.0f);
}

TEST(DirConverter, Tables) {
    EXPECT_EQ(dirconverter.costheta[0], 1.0f);
    EXPECT_EQ(dirconverter.sintheta[0], 0.0f);
    EXPECT_EQ(dirconverter.cosphi[0], 1.0f);
    EXPECT_EQ(dirconverter.sinphi[0], 0.0f);
    EXPECT_EQ(dirconverter.sinphi[64], 1.0f);
    EXPECT_EQ(bits(dirconverter.costheta[1]), 0x3F7FFB07u);
    EXPECT_EQ(bits(dirconverter.sintheta[100]), 0x3F717292u);
    EXPECT_EQ(bits(dirconverter.costheta[254]), 0xBF7FFB07u);
    EXPECT_EQ(bits(dirconverter.sintheta[254]), 0x3C49D853u);
    EXPECT_EQ(bits(dirconverter.cosphi[37]), 0x3F1D7FD1u);
    EXPECT_EQ(bits(dirconverter.sinphi[200]), 0xBF7B14BEu);
    static_assert(sizeof(dirConverter_t) == (256 + 256 + 255 + 255) * sizeof(float), "four arrays");
    // A freshly built converter equals the one filled at load time.
    dirConverter_t fresh;
    EXPECT_EQ(std::memcmp(&fresh, &dirconverter, sizeof fresh), 0);
}

TEST(DirConverter, Decode) {
    for (int p = 0; p < 256; ++p) {
        EXPECT_EQ(dirconverter.convert(255, static_cast<unsigned char>(p)), vector3d_t(0, 0, 0));
        EXPECT_EQ(dirconverter.convert(0, static_cast<unsigned char>(p)), vector3d_t(0, 0, 1));
    }
    vector3d_t d = dirconverter.convert(100, 37);
    EXPECT_EQ(d.x, dirconverter.sintheta[100] * dirconverter.cosphi[37]);
    EXPECT_EQ(d.y, dirconverter.sintheta[100] * dirconverter.sinphi[37]);
    EXPECT_EQ(d.z, dirconverter.costheta[100]);
}

TEST(DirConverter, EncodeFindsTheNearestTabulatedDirection) {
    directions dirs(23);
    const double maxErr = std::cos(0.0139); // half the diagonal of one cell
    for (int i = 0; i < 300; ++i) {
        vector3d_t d = dirs.next();
        unsigned char t, p;
        dirconverter.encode(d, t, p);
        ASSERT_LT(t, 255);
        // Brute force over every tabulated direction.
        double best = -2;
        int bt = -1, bp = -1;
        for (int tt = 0; tt < 255; ++tt)
            for (int pp = 0; pp < 256; ++pp) {
                vector3d_t c =
                    dirconverter.convert(static_cast<unsigned char>(tt), static_cast<unsigned char>(pp));
                double dot = static_cast<double>(c.x) * d.x + static_cast<double>(c.y) * d.y +
                             static_cast<double>(c.z) * d.z;
                if (dot > best) {
                    best = dot;
                    bt = tt;
                    bp = pp;
                }
            }
        vector3d_t got = dirconverter.convert(t, p), want = dirconverter.convert(bt, bp);
        double gotDot = static_cast<double>(got.x) * d.x + static_cast<double>(got.y) * d.y +
                        static_cast<double>(got.z) * d.z;
        EXPECT_NEAR(gotDot, best, 1e-12) << i;
        if (bt != 0) { // at the pole every phi is the same direction
            EXPECT_EQ(t, bt) << i;
            EXPECT_EQ(p, bp) << i;
        }
        EXPECT_GE(gotDot, maxErr);
        (void)want;
    }
}

TEST(DirConverter, EncodeRoundTripsTabulatedDirections) {
    for (int t = 0; t < 255; t += 3)
        for (int p = 0; p < 256; p += 5) {
            vector3d_t d = dirconverter.convert(static_cast<unsigned char>(t), static_cast<unsigned char>(p));
            unsigned char et, ep;
            dirconverter.encode(d, et, ep);
            EXPECT_EQ(et, t);
            EXPECT_EQ(ep, t == 0 ? 0 : p) << t;
        }
}

TEST(DirConverter, EncodeSpecialVectors) {
    unsigned char t = 1, p = 1;
    dirconverter.encode(vector3d_t(0, 0, 0), t, p);
    EXPECT_EQ(t, 255);
    EXPECT_EQ(p, 0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    dirconverter.encode(vector3d_t(nan, 0, 1), t, p);
    EXPECT_EQ(t, 255);
    dirconverter.encode(vector3d_t(0, 0, 1), t, p);
    EXPECT_EQ(t, 0);
    EXPECT_EQ(p, 0);
    dirconverter.encode(vector3d_t(0, 0, -1), t, p);
    EXPECT_EQ(t, 254);
    EXPECT_EQ(p, 0);
    dirconverter.encode(vector3d_t(0, 1, 0), t, p);
    EXPECT_EQ(p, 64);
    dirconverter.encode(vector3d_t(-1, -1e-9f, 0), t, p);
    EXPECT_EQ(p, 128);
    // Only the direction counts, not the length.
    directions dirs(29);
    for (int i = 0; i < 100; ++i) {
        vector3d_t d = dirs.next();
        unsigned char t0, p0, t1, p1, t2, p2;
        dirconverter.encode(d, t0, p0);
        dirconverter.encode(d * 1e30f, t1, p1);
        dirconverter.encode(d * 1e-30f, t2, p2);
        EXPECT_EQ(t0, t1);
        EXPECT_EQ(p0, p1);
        EXPECT_EQ(t0, t2);
        EXPECT_EQ(p0, p2);
    }
    dirconverter.encode(vector3d_t(0, 0, -inf), t, p);
    EXPECT_EQ(t, 254);
    dirconverter.encode(vector3d_t(inf, 5, 0), t, p);
    EXPECT_EQ(p, 0);
    EXPECT_EQ(dirconverter.convert(t, p).z, dirconverter.costheta[t]);
}
