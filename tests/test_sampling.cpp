// The random generator, optics, frames, disc and cone sampling, texture
// maps and the direction tables: textbook formulas, brute force and pins of
// the double-precision steps.
#include "vexlarcore/sampling.h"

#include "test_support.h"

#include <cmath>
#include <cstring>
#include <random>
#include <utility>

using namespace vexlar;
using namespace support;

namespace {

vector3d_t vb(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return vector3d_t(fromBits(x), fromBits(y), fromBits(z));
}
void expectBits(const vector3d_t& v, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    EXPECT_TRUE(bits(v.x) == x && bits(v.y) == y && bits(v.z) == z) << std::hexfloat << v;
}

// A function with two outputs as a pair.
using uv_t = std::pair<float, float>;
template <class R = float, class... P, class... A> std::pair<R, R> two(void (*f)(P...), const A&... a) {
    std::pair<R, R> r(R(9), R(9));
    f(a..., r.first, r.second);
    return r;
}
void expectBits(const uv_t& r, std::uint32_t a, std::uint32_t b) {
    EXPECT_TRUE(bits(r.first) == a && bits(r.second) == b) << std::hexfloat << r.first << " " << r.second;
}

// Deterministic unit vectors.
struct directions {
    explicit directions(unsigned seed) : gen(seed) {}
    float uniform() { return static_cast<float>(gen() % 1000000) / 1000000.0f; }
    vector3d_t next() {
        for (;;) {
            vector3d_t v(2 * uniform() - 1, 2 * uniform() - 1, 2 * uniform() - 1);
            if (v * v > 0.01f && v * v <= 1.0f) return v.normalize();
        }
    }
    std::mt19937 gen;
};

double dotD(const vector3d_t& a, const vector3d_t& b) {
    return static_cast<double>(a.x) * b.x + static_cast<double>(a.y) * b.y + static_cast<double>(a.z) * b.z;
}

} // namespace

TEST(sampling, ParkMillerSequence) {
    const int saved = myseed;
    myseed = 123212;
    EXPECT_EQ(bits(nextRandom()), 0x3F76DC89u);
    EXPECT_EQ(myseed, 2070824084);
    myseed = 1; // the published check: the 10000th state from seed 1
    for (int i = 0; i < 10000; ++i) nextRandom();
    EXPECT_EQ(myseed, 1043618065);
    myseed = 2147483646; // the largest state does not overflow
    nextRandom();
    EXPECT_EQ(myseed, 2147466840);
    myseed = 411174057; // a state this close to 2^31 gives 1.0 in float
    EXPECT_EQ(nextRandom(), 1.0f);
    myseed = saved;
}

TEST(sampling, RefractionFollowsSnellsLaw) {
    const vector3d_t n(0, 0, 1);
    EXPECT_EQ(refract(n, n, 1.5f), vector3d_t(0, 0, -1));
    directions dirs(5);
    for (int i = 0; i < 200; ++i) {
        const vector3d_t v = dirs.next();
        const float ior = 1.1f + 0.0025f * static_cast<float>(i);
        const vector3d_t t = refract(n, v, ior);
        const float sinI = std::sqrt(v.x * v.x + v.y * v.y), eta = (v.z >= 0) ? 1.0f / ior : ior;
        if (eta * sinI > 1.0f + 1e-5f) {
            EXPECT_EQ(t, vector3d_t(0, 0, 0)) << i; // total internal reflection
            continue;
        }
        if (eta * sinI > 1.0f - 1e-5f) continue;
        EXPECT_NEAR(t.length(), 1.0f, 1e-6f);
        EXPECT_NEAR(std::sqrt(t.x * t.x + t.y * t.y), eta * sinI, 2e-5f) << i;
        EXPECT_LT(t.z * v.z, 0.0f);
        EXPECT_NEAR(t.x * v.y - t.y * v.x, 0.0f, 2e-5f); // in the plane of v and n
    }
    // The square root in double (single gives y = 0x3D41D9DC).
    expectBits(refract(vb(0x3E8EFB69, 0xBF294FDC, 0x3F32358A), vb(0x3F6C84E7, 0x3E9CAA3A, 0x3E6B3E4C),
                       fromBits(0x3F9EF17D)),
               0xBF5E39AE, 0x3D41D9E4, 0xBEFD05CF);
}

TEST(sampling, FresnelMatchesTheTextbookAverage) {
    const vector3d_t z(0, 0, 1);
    for (int deg = 0; deg < 90; deg += 7)
        for (float ior : {1.33f, 1.5f, 2.4f}) {
            const double ti = deg * 3.141592653589793 / 180;
            const vector3d_t v(static_cast<float>(std::sin(ti)), 0, static_cast<float>(std::cos(ti)));
            const uv_t k = two(fresnel, v, z, ior);
            const double ci = v.z, st = std::sin(ti) / ior, ct = std::sqrt(1 - st * st);
            const double rs = (ci - ior * ct) / (ci + ior * ct), rp = (ior * ci - ct) / (ior * ci + ct);
            EXPECT_NEAR(k.first, 0.5 * (rs * rs + rp * rp), 2e-5) << deg << " " << ior;
            EXPECT_EQ(k.second, 1.0f - k.first);
        }
    EXPECT_EQ(two(fresnel, z, -z, 1.5f), two(fresnel, z, z, 1.5f));    // either side of n
    EXPECT_EQ(two(fresnel, vector3d_t(1, 0, 0), z, 0.9f), uv_t(1, 0)); // grazing, ior < 1: not 0/0
    // The first factor in double (single gives 0x3E96FE3C).
    expectBits(two(fresnel, vb(0x3F46392C, 0x3EF22814, 0xBED74100), vb(0xBE9A31F8, 0x3F2CF4C7, 0x3F2C45FD),
                   fromBits(0x3FA741EC)),
               0x3E96FE3D, 0x3F3480E2);
    auto fast = [](float cz, float r0) {
        return two(fast_fresnel, vector3d_t(0, 0, cz), vector3d_t(0, 0, 1), r0);
    };
    EXPECT_EQ(fast(1, 0.04f), uv_t(0.04f, 1.0f - 0.04f));
    EXPECT_EQ(fast(-1, 0), uv_t(32, -31)); // no sign correction
    EXPECT_EQ(bits(fast(fromBits(0x3E843CF5), fromBits(0x3E5A5C78)).first), 0x3EC79C96u); // m^2 m^2 m
}

TEST(sampling, TangentFramesAreUnitAndRightHanded) {
    using f = std::pair<vector3d_t, vector3d_t>;
    auto frame = [](const vector3d_t& n) { return two<vector3d_t>(createCS, n); };
    EXPECT_EQ(frame(vector3d_t(0, 0, -1)), f(vector3d_t(-1, 0, 0), vector3d_t(0, 1, 0)));
    EXPECT_EQ(frame(vector3d_t(1, 0, 0)), f(vector3d_t(0, -1, 0), vector3d_t(0, 0, -1)));
    // Horizontal parts whose squares underflow in single precision.
    EXPECT_EQ(frame(vector3d_t(1e-30f, 0, 1)), f(vector3d_t(0, -1, 0), vector3d_t(1, 0, -1e-30f)));
    std::vector<vector3d_t> normals{vector3d_t(1e-23f, 1e-23f, 1), vector3d_t(-2e-20f, 5e-21f, 1),
                                    vector3d_t(1e-40f, -1e-40f, 1)};
    directions dirs(13);
    for (int i = 0; i < 100; ++i) normals.push_back(dirs.next());
    for (const vector3d_t& n : normals) {
        const f uv = frame(n);
        EXPECT_NEAR(uv.first.length(), 1, 1e-6f) << n;
        EXPECT_NEAR(uv.first * n, 0, 1e-6f) << n;
        EXPECT_EQ(uv.first.z, 0.0f);
        expectNear(n ^ uv.first, uv.second, 1e-6f);
    }
    const f uv = frame(vb(0xBF244B17, 0xBE853E32, 0x3F38AD19)); // reciprocal length in double
    expectBits(uv.first, 0xBEC066A0, 0x3F6D3CB7, 0);
    expectBits(uv.second, 0xBF2B240D, 0xBE8ACBDB, 0xBF31497F);
}

TEST(sampling, ConcentricDiscIsAreaPreserving) {
    const float h = std::sqrt(0.5f);
    const struct {
        float s1, s2, u, v;
    } known[] = {{0.5f, 0.5f, 0, 0}, {1, 0.5f, 1, 0}, {0.5f, 1, 0, 1}, {0, 0.5f, -1, 0},
                 {0.5f, 0, 0, -1},   {0, 0, -h, -h},  {1, 1, h, h},    {0, 0.75f, -0.9238795f, 0.3826834f}};
    for (const auto& k : known) {
        const uv_t r = two(ShirleyDisc, k.s1, k.s2);
        EXPECT_NEAR(r.first, k.u, 1e-7f) << k.s1 << "," << k.s2;
        EXPECT_NEAR(r.second, k.v, 1e-7f) << k.s1 << "," << k.s2;
    }
    const int n = 100;
    int inside = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const uv_t r = two(ShirleyDisc, (i + 0.5f) / n, (j + 0.5f) / n);
            inside += r.first * r.first + r.second * r.second < 0.25f;
        }
    EXPECT_EQ(inside, n * n / 4); // the half-size square maps to the half-radius disc
    expectBits(two(ShirleyDisc, fromBits(0x3F420EF1), fromBits(0x3DF1A59F)), 0x3EC5EDF5, 0xBF28B400);
}

TEST(sampling, ConesAroundAnAxis) {
    directions dirs(17);
    for (int i = 0; i < 100; ++i) {
        const vector3d_t d = dirs.next();
        const float cosang = dirs.uniform();
        expectNear(randomVectorCone(d, cosang, dirs.uniform(), 0.0f), d, 1e-6f);
        EXPECT_NEAR(randomVectorCone(d, cosang, dirs.uniform(), 1.0f) * d, cosang, 2e-6f);
        const vector3d_t r = randomVectorCone(d, cosang, dirs.uniform(), dirs.uniform());
        EXPECT_NEAR(r.length(), 1, 2e-6f);
        EXPECT_GE(r * d, cosang - 2e-6f);
    }
    const vector3d_t z(0, 0, 1), x(1, 0, 0), y(0, 1, 0);
    expectNear(randomVectorCone(z, x, y, 0, 0.25f, 1.0f), y, 1e-7f); // z1 sweeps from u towards v
    // cos(theta) in double (single gives 0x3F1C88BC), sin(theta) and the azimuth too.
    expectBits(randomVectorCone(vb(0x3E9B28D1, 0xBF014CAE, 0x3F4EE117), fromBits(0x3EE1B1D4), 0.3f,
                                fromBits(0x3F31DFF7)),
               0x3F353680, 0xBF345B20, 0x3D506198);
    for (int n = 0; n < 20; ++n) {
        const vector3d_t a = dirs.next();
        const float cosang = dirs.uniform();
        const int square = 1 + n % 7;
        for (int s = 0; s < square * square; ++s) { // cell j steps cos(theta) down by (1 - cosang) / square
            const vector3d_t r = discreteVectorCone(a, cosang, s, square);
            EXPECT_NEAR(r.length(), 1, 2e-6f);
            EXPECT_NEAR(r * a, 1 - (1 - cosang) * (s % square) / square, 3e-6f) << s;
        }
    }
    EXPECT_EQ(discreteVectorCone(y, 0.5f, 3, 0), y);
    // Cell i lies at azimuth 2 pi i / square from +y towards +z.
    expectNear(discreteVectorCone(x, 0.0f, 1 * 4 + 2, 4), vector3d_t(0.5f, 0, std::sqrt(0.75f)), 1e-6f);
    expectNear(discreteVectorCone(-x, 0.0f, 2, 4), vector3d_t(-0.5f, std::sqrt(0.75f), 0), 1e-6f);
    expectBits(discreteVectorCone(vb(0xBE578D63, 0xBF434219, 0xBF1C8B7F), fromBits(0x3F788ECE), 1, 6),
               0xBE568206, 0xBF32915E, 0xBF2F6C9B);
}

TEST(sampling, TubeAndSphereMaps) {
    const struct {
        void (*map)(const point3d_t&, float&, float&);
        point3d_t p;
        float u, v;
    } cases[] = {{tubemap, point3d_t(0, 0, 0.5f), 0, 0.25f},   {tubemap, point3d_t(0, 2, -1), 0.5f, 1},
                 {tubemap, point3d_t(3, 0, 1), 0.25f, 0},      {tubemap, point3d_t(-3, 0, 1), 0.75f, 0},
                 {spheremap, point3d_t(0, 0, 0), 0, 0},        {spheremap, point3d_t(1, 0, 0), 0, 0.5f},
                 {spheremap, point3d_t(0, 0, -2), 0, 1},       {spheremap, point3d_t(1, 1, 0), 0.375f, 0.5f},
                 {spheremap, point3d_t(0, 0, 4.2e-23f), 0, 0}, {spheremap, point3d_t(0, 0, -4.2e-23f), 0, 1}};
    for (const auto& c : cases) EXPECT_EQ(two(c.map, c.p), uv_t(c.u, c.v)) << c.p;
    expectBits(two(tubemap, point3d_t(fromBits(0xBFDE2CAF), fromBits(0xBF2264E8), fromBits(0x400814AB))),
               0x3F4E46A7, 0xBF102956);
    expectBits(two(spheremap, point3d_t(fromBits(0x3F59DC0D), fromBits(0xC01978E4), fromBits(0x403BE450))),
               0x3D5E4F68, 0x3E68C48C);
}

TEST(sampling, DirectionTablesEncodeToTheNearestEntry) {
    EXPECT_EQ(bits(dirconverter.costheta[1]), 0x3F7FFB07u);
    EXPECT_EQ(bits(dirconverter.sintheta[254]), 0x3C49D853u);
    EXPECT_EQ(bits(dirconverter.sinphi[200]), 0xBF7B14BEu);
    EXPECT_EQ(dirconverter.convert(255, 7), vector3d_t(0, 0, 0));
    EXPECT_EQ(dirconverter.convert(0, 7), vector3d_t(0, 0, 1));
    directions dirs(23);
    for (int i = 0; i < 40; ++i) { // brute force over every tabulated direction
        const vector3d_t d = dirs.next();
        unsigned char t, p;
        dirconverter.encode(d, t, p);
        double best = -2;
        for (int tt = 0; tt < 255; ++tt)
            for (int pp = 0; pp < 256; ++pp) best = std::max(best, dotD(dirconverter.convert(tt, pp), d));
        EXPECT_NEAR(dotD(dirconverter.convert(t, p), d), best, 1e-12) << i;
    }
    for (int t = 0; t < 255; t += 3)
        for (int p = 0; p < 256; p += 5) {
            unsigned char et, ep;
            dirconverter.encode(dirconverter.convert(t, p), et, ep);
            EXPECT_TRUE(et == t && ep == (t == 0 ? 0 : p)) << t << " " << p;
        }
    const float nan = std::nanf(""), inf = std::numeric_limits<float>::infinity();
    const struct {
        vector3d_t d;
        int t, p; // -1: not checked
    } special[] = {{vector3d_t(0, 0, 0), 255, 0},     {vector3d_t(nan, 0, 1), 255, -1},
                   {vector3d_t(0, 0, -1), 254, 0},    {vector3d_t(0, 1, 0), -1, 64},
                   {vector3d_t(0, 0, -inf), 254, -1}, {vector3d_t(inf, 5, 0), -1, 0}};
    for (const auto& c : special) {
        unsigned char t = 1, p = 1;
        dirconverter.encode(c.d, t, p);
        EXPECT_TRUE((c.t < 0 || t == c.t) && (c.p < 0 || p == c.p)) << c.d << " " << int(t) << " " << int(p);
    }
}
