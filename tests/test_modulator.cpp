// Texture modulators with a scripted texture: coordinate sources,
// projections, repeat, crop, size and clip as a table of known answers,
// blend modes, and bump mapping.
#include "vexlarcore/modulator.h"

#include "test_support.h"

#include <cmath>
#include <functional>

using namespace vexlar;
using support::expectNear;

namespace {

// A texture with scripted colour and scalar that records every read.
class scriptedTexture_t : public texture_t {
public:
    explicit scriptedTexture_t(bool discrete = false) : discrete(discrete) {}
    colorA_t colorAt(const point3d_t& p) const override {
        return colorCalls.push_back(p), colorA_t(0.2f, 0.4f, 0.8f, 1);
    }
    float floatAt(const point3d_t& p) const override { return floatCalls.push_back(p), scalar(p); }
    bool isDiscrete() const override { return ++discreteCalls, discrete; }
    float toTexelU(float du) const override { return du * 100; }
    float toTexelV(float dv) const override { return dv * 50; }
    bool discrete;
    std::function<float(const point3d_t&)> scalar = [](const point3d_t&) { return 0.5f; };
    mutable std::vector<point3d_t> colorCalls, floatCalls;
    mutable int discreteCalls = 0;
};

// Orco space shifted by (10, 20, 30); object space turns world z into x.
class stubObject_t : public object3d_t {
public:
    int type() const override { return 0; }
    void transform(const matrix4x4_t&) override {}
    point3d_t toObject(const point3d_t& p) const override { return p; }
    vector3d_t toObjectRot(const vector3d_t& v) const override { return vector3d_t(v.z, v.x, v.y); }
    point3d_t toObjectOrco(const point3d_t& p) const override {
        return point3d_t(p.x + 10, p.y + 20, p.z + 30);
    }
    bool shoot(renderState_t&, surfacePoint_t&, const point3d_t&, const vector3d_t&, bool,
               float) const override {
        return false;
    }
    bound_t getBound() const override { return bound_t(); }
} stubObject;

surfacePoint_t makePoint(const point3d_t& p, const vector3d_t& n = vector3d_t(0, 0, 1)) {
    surfacePoint_t sp;
    sp.point = sp.orcoPoint = p;
    sp.normal = sp.geometricNormal = n;
    sp.tangentU = vector3d_t(1, 0, 0);
    sp.tangentV = vector3d_t(0, 1, 0);
    sp.u = sp.v = 0.5f;
    sp.object = &stubObject;
    return sp;
}

// Mapping `p` (normal `n`, eye `eye`) gives `want`, clipped or not.
struct mapCase_t {
    const char* what;
    bool image;
    std::function<void(modulator_t&)> setup;
    point3d_t p, want;
    bool clipped = false;
    vector3d_t n = vector3d_t(0, 0, 1), eye = vector3d_t(0, 0, 1);
};

} // namespace

TEST(modulator, MappingKnownAnswers) {
    using M = modulator_t;
    using P = point3d_t;
    using V = vector3d_t;
    const float h = std::sqrt(0.5f), past = std::nextafter(1.0f, 2.0f) * 2 - 1; // image x just above 1
    const V z(0, 0, 1);
    auto src = [](int s) { return [s](M& m) { m.coordSource = s; }; };
    auto global = [](std::function<void(M&)> f) {
        return [f](M& m) {
            m.coordSource = M::GLOBAL;
            f(m);
        };
    };
    auto clip = [global](int mode) { return global([mode](M& m) { m.clipMode = mode; }); };
    const mapCase_t cases[] = {
        {"uv", false, src(M::UV), P(1, 2, 3), P(0, 0, -0.98f)},
        {"orco", false, src(M::ORCO), P(1, 2, 3), P(11, 22, 33)},
        {"normal", false, src(M::NORMAL), P(1, 2, 3), P(-0.6f, 0.8f, 0), false, V(0.6f, 0, 0.8f)},
        {"reflection", false, src(M::REFLECTION), P(0, 0, 0), P(-h, 0, h), false, z, V(2, 0, 2)},
        {"axes size offset", false, global([](M& m) {
             m.axisX = 3, m.axisY = 0, m.axisZ = 1, m.sizeX = 2, m.sizeY = 3, m.sizeZ = 4;
             m.offsetX = 1, m.offsetY = 0.5f, m.offsetZ = -1, m.clipMode = M::CLIP, m.repeatX = 5;
         }),
         P(100, -200, 300), P(602, 1.5f, 396)}, // procedural: never clipped
        {"transform", false, global([](M& m) {
             m.useTransform = true;
             m.coordTransform.scale(2, 2, 2);
             m.coordTransform.translate(1, 2, 3);
         }),
         P(1, 1, 1), P(3, 4, 5)},
        {"flat", true, global([](M&) {}), P(0.2f, -0.6f, 0.3f), P(0.6f, 0.8f, 0.3f)},
        {"cube x", true, global([](M& m) { m.projection = M::CUBE; }), P(0.2f, -0.6f, 0.3f),
         P(0.2f, 0.35f, 0.3f), false, V(1, 0, 0)},
        {"cube orco", true, [](M& m) { m.projection = M::CUBE; }, P(-9.8f, -20.6f, -29.7f),
         P(0.2f, 0.35f, 0.3f)}, // object-space normal
        {"tube", true, global([](M& m) { m.projection = M::TUBE; }), P(-1, 0, 1), P(0.75f, 0, 1)},
        {"sphere", true, global([](M& m) { m.projection = M::SPHERE; }), P(1, 1, 0), P(0.375f, 0.5f, 0)},
        {"sphere pole", true, global([](M& m) { m.projection = M::SPHERE; }), P(0, 0, -2), P(0, 1, -2)},
        {"repeat", true, global([](M& m) { m.repeatX = 2; }), P(0.5f, 0, 0), P(0.5f, 0.5f, 0)},
        {"repeat negative", true, global([](M& m) { m.repeatX = 2; }), P(-1.6f, 0, 0), P(0.4f, 0.5f, 0)},
        {"repeat huge", true, global([](M& m) { m.repeatX = 3; }), P(4e9f, 0, 0), P(0, 0.5f, 0)},
        {"crop", true, global([](M& m) { m.cropMinX = 0.25f, m.cropMaxX = 0.75f, m.cropMinY = 0.5f; }),
         P(0, 0, 0), P(0.5f, 0.75f, 0)},
        {"size", true,
         global([](M& m) { m.sizeX = 2, m.sizeY = 0.5f, m.sizeZ = 9, m.offsetX = 0.1f, m.offsetY = -0.2f; }),
         P(0.5f, -0.5f, 0.7f),
         P(2.0 * 0.25 + static_cast<double>(0.1f) + 0.5, 0.5 * 0.25 + static_cast<double>(-0.2f) + 0.5,
           0.7f)},
        {"clip edge", true, clip(M::CLIP), P(1, 0, 0), P(1, 0.5f, 0)},
        {"clip past", true, clip(M::CLIP), P(past, 0, 0), P(1, 0.5f, 0), true},
        {"clip y", true, clip(M::CLIP), P(0, -1.001f, 0), P(0.5f, 1.0005f, 0), true},
        {"clipcube z", true, clip(M::CLIPCUBE), P(0, 0, 1.01f), P(0.5f, 0.5f, 1.01f), true},
        {"clamp", true, clip(M::CLAMP), P(1.4f, 1.6f, 5), P(1, 0, 5)},
    };
    for (const mapCase_t& c : cases) {
        scriptedTexture_t tex(c.image);
        modulator_t m(&tex);
        c.setup(m);
        point3d_t t(0, 0, 0);
        SCOPED_TRACE(c.what);
        EXPECT_EQ(m.doMapping(makePoint(c.p, c.n), c.eye, t), c.clipped);
        expectNear(t, c.want, 2e-6f);
    }
}

TEST(modulator, MappingSpecialCases) {
    scriptedTexture_t tex(true), proc;
    modulator_t m(&tex), p(&proc);
    point3d_t t(5, 6, 7);
    surfacePoint_t loose = makePoint(point3d_t(1, 2, 3)); // no object: the record's orco point
    loose.object = nullptr;
    loose.orcoPoint = point3d_t(-1, -2, -3);
    p.coordSource = modulator_t::ORCO;
    p.doMapping(loose, vector3d_t(0, 0, 1), t);
    expectNear(t, point3d_t(-1, -2, -3), 0);
    m.coordSource = modulator_t::GLOBAL; // the height of the tube is single precision
    m.projection = modulator_t::TUBE;
    volatile float z = -6.29835881e-07f;
    const float single = 1.0f - (z + 1.0f) * 0.5f;
    ASSERT_NE(single, static_cast<float>(1.0 - (static_cast<double>(z) + 1.0) * 0.5));
    m.doMapping(makePoint(point3d_t(0.5f, 0.25f, z)), vector3d_t(0, 0, 1), t);
    EXPECT_EQ(t.y, single);
    modulator_t c(&tex); // size and offset in double (single gives 0x3EDD9B88)
    c.coordSource = modulator_t::GLOBAL;
    c.sizeX = support::fromBits(0x3EE663CE), c.offsetX = support::fromBits(0xBD7DC7B9);
    c.doMapping(makePoint(point3d_t(support::fromBits(0xBCBDDF00), 0, 0)), vector3d_t(0, 0, 1), t);
    EXPECT_EQ(support::bits(t.x), 0x3EDD9B87u);
}

TEST(modulator, BlendModesAndWeights) {
    // Texture (0.2, 0.4, 0.8) and scalar 0.5 onto a = (1, 0.5, 0.25),
    // b = (0.3, 0.6, 0.9), value 0.6; b's weight is half of a's.
    const struct {
        int mode;
        float w, aR, aB, bR, value;
    } cases[] = {
        {0, 0.25f, 0.8f, 0.3875f, 0.2875f, 0.575f}, {0, 2.0f, 0.2f, 0.8f, 0.2f, 0.4f}, // above 1: the texture
        {1, 0.5f, 0.6f, 0.225f, 0.24f, 0.45f},      {2, 0.5f, 1.1f, 0.65f, 0.35f, 0.85f},
        {3, 0.75f, 0.85f, -0.35f, 0.225f, 0.225f},  {6, 0.5f, 1.0f, 0.25f, 0.3f, 0.6f}, // unknown: none
        {2, -1.0f, 1.0f, 0.25f, 0.3f, 0.6f}}; // only positive weights touch their output
    for (const auto& c : cases) {
        scriptedTexture_t tex;
        modulator_t m(&tex);
        m.mode = c.mode;
        m.amountA = m.amountValue = c.w;
        m.amountB = c.w * 0.5f;
        color_t a(1, 0.5f, 0.25f), b(0.3f, 0.6f, 0.9f);
        float value = 0.6f;
        m.modulate(a, b, value, makePoint(point3d_t(1, 2, 3)), vector3d_t(0, 0, 1));
        EXPECT_TRUE(std::fabs(a.R - c.aR) < 1e-6f && std::fabs(a.B - c.aB) < 1e-6f &&
                    std::fabs(b.R - c.bR) < 1e-6f && std::fabs(value - c.value) < 1e-6f)
            << c.mode << " " << c.w << ": " << a << b << value;
        expectNear(tex.colorCalls.at(0), point3d_t(11, 22, 33), 0); // read at the mapped point
    }
    // A clipped point changes nothing and reads no texel.
    scriptedTexture_t image(true);
    modulator_t clip(&image);
    clip.coordSource = modulator_t::GLOBAL;
    clip.clipMode = modulator_t::CLIP;
    clip.amountA = clip.amountB = clip.amountValue = clip.amountC = clip.displaceAmount = 1;
    color_t a(1, 1, 1), b(1, 1, 1);
    float value = 1;
    surfacePoint_t sp = makePoint(point3d_t(5, 0, 0), vector3d_t(0, 0.6f, 0.8f));
    clip.modulate(a, b, value, sp, vector3d_t(0, 0, 1));
    clip.modulate(a, b, sp, vector3d_t(0, 0, 1));
    clip.displace(sp, vector3d_t(0, 0, 1), 0.01f);
    EXPECT_TRUE(a.R == 1 && value == 1 && sp.normal.y == 0.6f && image.colorCalls.empty() &&
                image.floatCalls.empty());
}

TEST(modulator, BumpMappingTiltsTheNormalAwayFromTheRise) {
    scriptedTexture_t tex;
    modulator_t m(&tex);
    m.coordSource = modulator_t::GLOBAL;
    m.displaceAmount = 1;
    tex.scalar = [](const point3d_t& p) { return 0.2f * p.x; };
    surfacePoint_t sp = makePoint(point3d_t(1, 2, 3));
    m.displace(sp, vector3d_t(0, 0, 1), 0.125f);
    ASSERT_EQ(tex.floatCalls.size(), 4u); // minus and plus the first tangent, then the second
    expectNear(tex.floatCalls[0], point3d_t(0.875f, 2, 3), 0);
    expectNear(tex.floatCalls[3], point3d_t(1, 2.125f, 3), 0);
    const float len = std::sqrt(0.4f * 0.4f + 0.6f * 0.6f); // du = -0.4, dv = 0, w = 0.6
    expectNear(sp.normal, vector3d_t(-0.4f / len, 0, 0.6f / len), 1e-6f);
    tex.scalar = [](const point3d_t& p) { return 5.0f * p.x; }; // steep: w clamps at 0
    sp = makePoint(point3d_t(1, 2, 3));
    m.displace(sp, vector3d_t(0, 0, 1), 0.125f);
    expectNear(sp.normal, vector3d_t(-1, 0, 0), 1e-6f);
    // Images mapped by uv step one texel along each tangent.
    scriptedTexture_t image(true);
    image.scalar = [](const point3d_t& p) { return 10.0f * p.x + 20.0f * p.y; };
    modulator_t u(&image);
    u.coordSource = modulator_t::UV;
    u.displaceAmount = 0.5f;
    sp = makePoint(point3d_t(0, 0, 0));
    sp.hasUV = true;
    sp.dudNU = 2;
    sp.dvdNV = 3;
    u.displace(sp, vector3d_t(0, 0, 1), 1000.0f); // 200 and 150 texels: steps 0.01 and 0.02
    ASSERT_EQ(image.floatCalls.size(), 4u);
    expectNear(image.floatCalls[0], point3d_t(0.49f, 0.5f, 0), 1e-7f);
    expectNear(image.floatCalls[3], point3d_t(0.5f, 0.52f, 0), 1e-7f);
    EXPECT_EQ(image.discreteCalls, 2);
    const float l = std::sqrt(0.1f * 0.1f + 0.4f * 0.4f + 0.6f * 0.6f); // du = -0.1, dv = -0.4
    expectNear(sp.normal, vector3d_t(-0.1f / l, -0.4f / l, 0.6f / l), 1e-5f);
}
