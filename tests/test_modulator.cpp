// Texture modulators with a scripted test texture: every coordinate source,
// projection, repeat, crop and clip case, each blend mode, and bump mapping.
#include "vexlarcore/modulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "test_support.h"
#include "vexlarcore/sampling.h"

using namespace vexlar;
using support::expectFloatEq;
using support::expectNear;

namespace {

// A texture whose colour and scalar are given functions, recording every call.
class scriptedTexture_t : public texture_t {
public:
    explicit scriptedTexture_t(bool discrete = false) : discrete(discrete) {}
    colorA_t colorAt(const point3d_t& p) const override {
        colorCalls.push_back(p);
        return colour(p);
    }
    float floatAt(const point3d_t& p) const override {
        floatCalls.push_back(p);
        return scalar(p);
    }
    bool isDiscrete() const override {
        ++discreteCalls;
        return discrete;
    }
    float toTexelU(float du) const override { return du * texelsU; }
    float toTexelV(float dv) const override { return dv * texelsV; }

    int calls() const { return int(colorCalls.size() + floatCalls.size()) + discreteCalls; }

    bool discrete;
    float texelsU = 1, texelsV = 1;
    std::function<colorA_t(const point3d_t&)> colour = [](const point3d_t&) {
        return colorA_t(0.2f, 0.4f, 0.8f, 1);
    };
    std::function<float(const point3d_t&)> scalar = [](const point3d_t&) { return 0.5f; };
    mutable std::vector<point3d_t> colorCalls, floatCalls;
    mutable int discreteCalls = 0;
};

// An object whose orco space is shifted by (10, 20, 30) and whose object
// space is the world rotated so that world z becomes object x.
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
};

stubObject_t stubObject;

surfacePoint_t makePoint(const point3d_t& p, const vector3d_t& n = vector3d_t(0, 0, 1)) {
    surfacePoint_t sp;
    sp.point = p;
    sp.orcoPoint = p;
    sp.normal = n;
    sp.geometricNormal = n;
    sp.tangentU = vector3d_t(1, 0, 0);
    sp.tangentV = vector3d_t(0, 1, 0);
    sp.u = 0.5f;
    sp.v = 0.5f;
    sp.object = &stubObject;
    sp.hasUV = false;
    sp.dudNU = sp.dudNV = sp.dvdNU = sp.dvdNV = 0;
    return sp;
}

point3d_t mapped(const modulator_t& m, const surfacePoint_t& sp, bool& clipped,
                 const vector3d_t& eye = vector3d_t(0, 0, 1)) {
    point3d_t t(0, 0, 0);
    clipped = m.doMapping(sp, eye, t);
    return t;
}

// Image-texture mapping of a global point (flat projection unless changed).
point3d_t imageMap(modulator_t& m, const point3d_t& p, bool& clipped) {
    m.coordSource = modulator_t::GLOBAL;
    return mapped(m, makePoint(p), clipped);
}

} // namespace

TEST(ModulatorTest, ConstructorDefaults) {
    scriptedTexture_t tex;
    modulator_t m(&tex);
    for (float v : {m.amountA, m.amountB, m.amountValue, m.amountC, m.amountD, m.displaceAmount, m.offsetX,
                    m.offsetY, m.offsetZ, m.cropMinX, m.cropMinY})
        EXPECT_EQ(v, 0.0f);
    for (float v : {m.sizeX, m.sizeY, m.sizeZ, m.cropMaxX, m.cropMaxY}) EXPECT_EQ(v, 1.0f);
    EXPECT_EQ(m.texture, &tex);
    EXPECT_EQ(m.mode, 0);
    EXPECT_EQ(m.projection, 0);
    EXPECT_EQ(m.coordSource, 2);
    EXPECT_EQ(m.clipMode, 3);
    EXPECT_EQ(m.repeatX + 10 * m.repeatY, 11);
    EXPECT_EQ(m.axisX * 100 + m.axisY * 10 + m.axisZ, 123);
    EXPECT_FALSE(m.useTransform);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(m.coordTransform.matrix[i][j], i == j ? 1.0f : 0.0f);
    EXPECT_EQ(tex.calls(), 0);
}

TEST(ModulatorTest, EachCoordinateSource) {
    scriptedTexture_t tex;
    modulator_t m(&tex);
    surfacePoint_t sp = makePoint(point3d_t(1, 2, 3), vector3d_t(0.6f, 0, 0.8f));
    sp.u = 0.25f;
    sp.v = 0.75f;
    sp.auxPoint = point3d_t(0.3f, -0.4f, 9);
    bool clipped;

    m.coordSource = modulator_t::UV;
    expectFloatEq(mapped(m, sp, clipped), -0.5f, -0.5f, -0.98f);
    m.coordSource = modulator_t::GLOBAL;
    expectFloatEq(mapped(m, sp, clipped), 1.0f, 2.0f, 3.0f);
    m.coordSource = modulator_t::ORCO;
    expectFloatEq(mapped(m, sp, clipped), 11.0f, 22.0f, 33.0f);
    m.coordSource = modulator_t::AUX;
    expectFloatEq(mapped(m, sp, clipped), 0.3f, -0.4f, -0.98f);
    m.coordSource = modulator_t::NORMAL;
    expectFloatEq(mapped(m, sp, clipped), -0.6f, 0.8f, 0.0f);

    // Any other source keeps the point the caller passed in.
    m.coordSource = 9;
    point3d_t t(5, 6, 7);
    EXPECT_FALSE(m.doMapping(sp, vector3d_t(0, 0, 1), t));
    expectFloatEq(t, 5.0f, 6.0f, 7.0f);

    // Without an object the record's own orco point stands in.
    sp.object = nullptr;
    sp.orcoPoint = point3d_t(-1, -2, -3);
    m.coordSource = modulator_t::ORCO;
    expectFloatEq(mapped(m, sp, clipped), -1.0f, -2.0f, -3.0f);
}

TEST(ModulatorTest, ReflectionSource) {
    scriptedTexture_t tex;
    modulator_t m(&tex);
    m.coordSource = modulator_t::REFLECTION;
    const float h = std::sqrt(0.5f);
    bool clipped;

    // Mirror of the (unnormalised) eye about the normal.
    surfacePoint_t sp = makePoint(point3d_t(0, 0, 0), vector3d_t(0, 0, 1));
    expectNear(mapped(m, sp, clipped, vector3d_t(2, 0, 2)), point3d_t(-h, 0.0f, h), 1e-6f);

    // Seen from behind: the normal is flipped first, then the eye mirrored.
    sp.geometricNormal = vector3d_t(0, 0, -1);
    sp.normal = vector3d_t(0, 0.6f, -0.8f);
    // n = -normal = (0, -0.6, 0.8); e = (0, 0, 1); d = 0.8: 1.6 n - e.
    expectNear(mapped(m, sp, clipped, vector3d_t(0, 0, 5)), point3d_t(0.0f, -0.96f, 0.28f), 1e-6f);

    // Shading normal facing away from the eye: the reflection is -eye.
    sp.geometricNormal = vector3d_t(0, 0, 1);
    sp.normal = vector3d_t(0, 0, -1);
    expectNear(mapped(m, sp, clipped, vector3d_t(1, 0, 1)), point3d_t(-h, 0.0f, -h), 1e-6f);

    // A zero eye stays zero.
    sp.normal = vector3d_t(0, 0, 1);
    expectFloatEq(mapped(m, sp, clipped, vector3d_t(0, 0, 0)), 0.0f, 0.0f, 0.0f);
}

TEST(ModulatorTest, ProceduralAxesSizeAndOffsetAndNoClipping) {
    scriptedTexture_t tex;
    modulator_t m(&tex);
    m.coordSource = modulator_t::GLOBAL;
    m.axisX = 3;
    m.axisY = 0;
    m.axisZ = 1;
    m.sizeX = 2;
    m.sizeY = 3;
    m.sizeZ = 4;
    m.offsetX = 1;
    m.offsetY = 0.5f;
    m.offsetZ = -1;
    m.clipMode = modulator_t::CLIP;
    m.projection = modulator_t::SPHERE; // ignored for procedural textures
    m.repeatX = 5;
    bool clipped = true;
    const point3d_t t = mapped(m, makePoint(point3d_t(100, -200, 300)), clipped);
    EXPECT_FALSE(clipped);
    expectFloatEq(t, 2.0f * (300 + 1), 3.0f * 0.5f, 4.0f * (100 - 1));

    // An out-of-range axis value reads nothing rather than stray memory.
    m.axisX = 7;
    m.axisY = -1;
    expectFloatEq(mapped(m, makePoint(point3d_t(100, -200, 300)), clipped), 2.0f, 1.5f, 396.0f);
}

TEST(ModulatorTest, TransformOfTheSourcePoint) {
    scriptedTexture_t tex;
    modulator_t m(&tex);
    m.useTransform = true;
    m.coordTransform.scale(2, 2, 2);
    m.coordTransform.translate(1, 2, 3);
    m.coordSource = modulator_t::GLOBAL;
    bool clipped;
    expectFloatEq(mapped(m, makePoint(point3d_t(1, 1, 1)), clipped), 3.0f, 4.0f, 5.0f);

    // A reflection direction is translated only with the flat projection.
    m.coordSource = modulator_t::REFLECTION;
    surfacePoint_t sp = makePoint(point3d_t(0, 0, 0), vector3d_t(0, 0, 1));
    expectFloatEq(mapped(m, sp, clipped, vector3d_t(0, 0, 1)), 1.0f, 2.0f, 5.0f);
    m.projection = modulator_t::TUBE;
    expectFloatEq(mapped(m, sp, clipped, vector3d_t(0, 0, 1)), 0.0f, 0.0f, 2.0f);
}

TEST(ModulatorTest, FlatAndCubeProjections) {
    scriptedTexture_t tex(true);
    modulator_t m(&tex);
    bool clipped;
    const point3d_t p(0.2f, -0.6f, 0.3f);
    expectFloatEq(imageMap(m, p, clipped), 0.6f, 0.8f, 0.3f);

    m.projection = modulator_t::CUBE;
    auto cube = [&](const vector3d_t& n) { return mapped(m, makePoint(p, n), clipped); };
    // Global source: the world normal picks the face.
    expectFloatEq(cube(vector3d_t(1, 0, 0)), 0.2f, 0.35f, 0.3f);
    expectFloatEq(cube(vector3d_t(0, -1, 0)), 0.6f, 0.35f, 0.3f);
    expectFloatEq(cube(vector3d_t(0, 0, 1)), 0.6f, 0.8f, 0.3f);
    // Ties go to x before y, and to y before z.
    expectFloatEq(cube(vector3d_t(0.6f, 0.6f, 0.6f)), 0.2f, 0.35f, 0.3f);
    expectFloatEq(cube(vector3d_t(0, 0.6f, -0.6f)), 0.6f, 0.35f, 0.3f);

    // Other sources without a transform use the normal in object space:
    // world z is object x here.
    m.coordSource = modulator_t::ORCO;
    const point3d_t t = mapped(m, makePoint(point3d_t(-9.8f, -20.6f, -29.7f), vector3d_t(0, 0, 1)), clipped);
    EXPECT_NEAR(t.x, 0.2f, 1e-6f);
    EXPECT_NEAR(t.y, 0.35f, 1e-6f);

    // With a transform the transformed world normal picks the face; the
    // point is transformed too: rotating 90 degrees about z takes
    // (0.2, -0.6, 0.3) to (0.6, 0.2, 0.3) and the normal x to y.
    m.coordSource = modulator_t::GLOBAL;
    m.useTransform = true;
    m.coordTransform.rotateZ(90);
    const point3d_t r = mapped(m, makePoint(p, vector3d_t(3, 0, 0)), clipped);
    EXPECT_NEAR(r.x, 0.8f, 1e-6f);
    EXPECT_NEAR(r.y, 0.35f, 1e-6f);
}

TEST(ModulatorTest, TubeProjection) {
    scriptedTexture_t tex(true);
    modulator_t m(&tex);
    m.projection = modulator_t::TUBE;
    bool clipped;
    expectNear(imageMap(m, point3d_t(1, 0, 0.5f), clipped), point3d_t(0.25f, 0.25f, 0.5f), 1e-7f);
    expectNear(imageMap(m, point3d_t(-1, 0, 1), clipped), point3d_t(0.75f, 0.0f, 1.0f), 1e-7f);
    expectNear(imageMap(m, point3d_t(0, -1, 0), clipped), point3d_t(0.0f, 0.5f, 0.0f), 1e-7f);
    // On the axis the azimuth is 0.
    expectFloatEq(imageMap(m, point3d_t(0, 0, 0.5f), clipped), 0.0f, 0.25f, 0.5f);

    // The height is single precision: z + 1 is rounded to float before the
    // halving, which a double evaluation would not do.
    volatile float z = -6.29835881e-07f;
    const float single = 1.0f - (z + 1.0f) * 0.5f;
    const float doubled = static_cast<float>(1.0 - (static_cast<double>(z) + 1.0) * 0.5);
    ASSERT_NE(single, doubled);
    EXPECT_EQ(imageMap(m, point3d_t(0.5f, 0.25f, z), clipped).y, single);
}

TEST(ModulatorTest, SphereProjection) {
    scriptedTexture_t tex(true);
    modulator_t m(&tex);
    m.projection = modulator_t::SPHERE;
    bool clipped;
    for (const point3d_t& p : {point3d_t(1, 0, 0), point3d_t(1, 1, 0), point3d_t(-0.3f, 0.4f, 0.5f),
                               point3d_t(0, 0, -2), point3d_t(0, 0, 0)}) {
        float u, v;
        spheremap(p, u, v);
        const point3d_t t = imageMap(m, p, clipped);
        EXPECT_EQ(t.x, u);
        EXPECT_EQ(t.y, v);
        EXPECT_EQ(t.z, p.z);
    }
    expectNear(imageMap(m, point3d_t(1, 1, 0), clipped), point3d_t(0.375f, 0.5f, 0.0f), 1e-6f);
}

TEST(ModulatorTest, RepeatFoldsIntoTheImage) {
    scriptedTexture_t tex(true);
    modulator_t m(&tex);
    bool clipped;
    m.repeatX = 2;
    // Flat projection: image x = (q.x + 1) / 2.
    EXPECT_FLOAT_EQ(imageMap(m, point3d_t(0.5f, 0, 0), clipped).x, 0.5f);  // 0.75 -> 1.5 -> 0.5
    EXPECT_FLOAT_EQ(imageMap(m, point3d_t(-1.6f, 0, 0), clipped).x, 0.4f); // -0.3 -> -0.6 -> 0.4
    EXPECT_EQ(imageMap(m, point3d_t(0, 0, 0), clipped).x, 1.0f);           // 0.5 -> 1 stays 1
    EXPECT_EQ(imageMap(m, point3d_t(-1, 0, 0), clipped).x, 0.0f);
    m.repeatX = 3;
    EXPECT_FLOAT_EQ(imageMap(m, point3d_t(-2, 0, 0), clipped).x, 0.5f); // -0.5 -> -1.5 -> 0.5
    EXPECT_FLOAT_EQ(imageMap(m, point3d_t(-3, 0, 0), clipped).x, 1.0f); // -1 -> -3 -> 1
    // Very large coordinates stay defined: whole numbers fold to 0.
    EXPECT_EQ(imageMap(m, point3d_t(4e9f, 0, 0), clipped).x, 0.0f);

    // y independently: image y = (1 - q.y) / 2.
    m.repeatX = 1;
    m.repeatY = 4;
    const point3d_t t = imageMap(m, point3d_t(1.8f, 0.2f, 0), clipped); // y 0.4 -> 1.6 -> 0.6
    EXPECT_FLOAT_EQ(t.x, 1.4f) << "a count of 1 leaves x alone";
    EXPECT_FLOAT_EQ(t.y, 0.6f);
    m.repeatY = 0;
    EXPECT_FLOAT_EQ(imageMap(m, point3d_t(0, -2, 0), clipped).y, 1.5f) << "counts below 2 do nothing";
}

TEST(ModulatorTest, CropAndSizeAboutTheCentre) {
    scriptedTexture_t tex(true);
    modulator_t m(&tex);
    bool clipped;
    m.cropMinX = 0.25f;
    m.cropMaxX = 0.75f;
    m.cropMinY = 0.5f;
    m.cropMaxY = 1.0f;
    expectFloatEq(imageMap(m, point3d_t(-1, 1, 0), clipped), 0.25f, 0.5f, 0.0f);
    expectFloatEq(imageMap(m, point3d_t(1, -1, 0), clipped), 0.75f, 1.0f, 0.0f);
    expectFloatEq(imageMap(m, point3d_t(0, 0, 0), clipped), 0.5f, 0.75f, 0.0f);

    modulator_t s(&tex);
    s.sizeX = 2;
    s.sizeY = 0.5f;
    s.sizeZ = 9; // the image's z is never scaled
    s.offsetX = 0.1f;
    s.offsetY = -0.2f;
    s.offsetZ = 3;
    const point3d_t t = imageMap(s, point3d_t(0.5f, -0.5f, 0.7f), clipped); // flat: (0.75, 0.75)
    EXPECT_EQ(t.x, static_cast<float>(2.0 * 0.25 + static_cast<double>(0.1f) + 0.5));
    EXPECT_EQ(t.y, static_cast<float>(0.5 * 0.25 + static_cast<double>(-0.2f) + 0.5));
    EXPECT_EQ(t.z, 0.7f);
    EXPECT_FALSE(clipped) << "no clipping by default";
}

TEST(ModulatorTest, ClipModes) {
    scriptedTexture_t tex(true);
    modulator_t m(&tex);
    bool clipped;
    // Flat: q.x = 1 gives image x = 1 exactly; q.x slightly larger goes past.
    const float past = std::nextafter(1.0f, 2.0f) * 2 - 1; // image x just above 1

    struct clipCase_t {
        int mode;
        point3d_t p;
        bool clipped;
    };
    for (const clipCase_t& c : {clipCase_t{modulator_t::CLIP, point3d_t(1, 0, 0), false}, // bounds inclusive
                                clipCase_t{modulator_t::CLIP, point3d_t(past, 0, 0), true},
                                clipCase_t{modulator_t::CLIP, point3d_t(-1, 1, 0), false},
                                clipCase_t{modulator_t::CLIP, point3d_t(-1.001f, 0, 0), true},
                                clipCase_t{modulator_t::CLIP, point3d_t(0, -1.001f, 0), true},
                                clipCase_t{modulator_t::CLIP, point3d_t(0, 0, 50), false}, // z ignored
                                clipCase_t{modulator_t::CLIPCUBE, point3d_t(0, 0, -1), false},
                                clipCase_t{modulator_t::CLIPCUBE, point3d_t(0, 0, 1.01f), true},
                                clipCase_t{modulator_t::CLIPCUBE, point3d_t(1.5f, 0, 0), true}}) {
        m.clipMode = c.mode;
        imageMap(m, c.p, clipped);
        EXPECT_EQ(clipped, c.clipped) << c.mode << " " << c.p.x << " " << c.p.y << " " << c.p.z;
    }

    m.clipMode = modulator_t::CLAMP;
    point3d_t t = imageMap(m, point3d_t(1.4f, 1.6f, 5), clipped); // (1.2, -0.3)
    EXPECT_FALSE(clipped);
    expectFloatEq(t, 1.0f, 0.0f, 5.0f);
    t = imageMap(m, point3d_t(-3, -3, 0), clipped); // (-1, 2)
    expectFloatEq(t, 0.0f, 1.0f, 0.0f);

    for (int mode : {int(modulator_t::NOCLIP), 17}) {
        m.clipMode = mode;
        t = imageMap(m, point3d_t(9, 9, 9), clipped);
        EXPECT_FALSE(clipped) << mode;
        expectFloatEq(t, 5.0f, -4.0f, 9.0f);
    }
}

TEST(ModulatorTest, ClippedPointChangesNothingAndReadsNoTexel) {
    scriptedTexture_t tex(true);
    modulator_t m(&tex);
    m.coordSource = modulator_t::GLOBAL;
    m.clipMode = modulator_t::CLIP;
    m.amountA = m.amountB = m.amountValue = m.amountC = m.amountD = 1;
    m.displaceAmount = 1;
    surfacePoint_t sp = makePoint(point3d_t(5, 0, 0), vector3d_t(0, 0.6f, 0.8f));
    color_t a(0.1f, 0.2f, 0.3f), b(0.4f, 0.5f, 0.6f);
    float value = 0.7f;
    m.modulate(a, b, value, sp, vector3d_t(0, 0, 1));
    m.modulate(a, b, sp, vector3d_t(0, 0, 1));
    m.displace(sp, vector3d_t(0, 0, 1), 0.01f);
    EXPECT_EQ(a.R, 0.1f);
    EXPECT_EQ(b.B, 0.6f);
    EXPECT_EQ(value, 0.7f);
    EXPECT_EQ(sp.normal.y, 0.6f);
    EXPECT_TRUE(tex.colorCalls.empty());
    EXPECT_TRUE(tex.floatCalls.empty());
}

TEST(ModulatorTest, EachBlendModeWithItsWeights) {
    // Texture colour (0.2, 0.4, 0.8) and scalar 0.5 onto a = (1, 0.5, 0.25),
    // b = (0.3, 0.6, 0.9), value 0.6; b's weight is half of a's.
    struct blendCase_t {
        int mode;
        float w, aR, aB, bR, value;
    };
    scriptedTexture_t tex;
    for (const blendCase_t& bc :
         {blendCase_t{0, 0.25f, 0.8f, 0.3875f, 0.2875f, 0.575f}, // mix
          blendCase_t{0, 1.0f, 0.2f, 0.8f, 0.25f, 0.5f},
          blendCase_t{0, 2.0f, 0.2f, 0.8f, 0.2f, 0.4f},     // colour weights above 1 give the texture
          blendCase_t{1, 0.5f, 0.6f, 0.225f, 0.24f, 0.45f}, // multiply
          blendCase_t{1, 1.0f, 0.2f, 0.2f, 0.18f, 0.3f},
          blendCase_t{2, 0.5f, 1.1f, 0.65f, 0.35f, 0.85f},      // add
          blendCase_t{3, 0.75f, 0.85f, -0.35f, 0.225f, 0.225f}, // subtract
          blendCase_t{6, 0.5f, 1.0f, 0.25f, 0.3f, 0.6f}}) {     // unknown: nothing changes
        modulator_t m(&tex);
        m.mode = bc.mode;
        m.amountA = m.amountValue = bc.w;
        m.amountB = bc.w * 0.5f;
        color_t a(1, 0.5f, 0.25f), b(0.3f, 0.6f, 0.9f);
        float value = 0.6f;
        m.modulate(a, b, value, makePoint(point3d_t(0, 0, 0)), vector3d_t(0, 0, 1));
        const std::string what = "mode " + std::to_string(bc.mode) + " weight " + std::to_string(bc.w);
        EXPECT_NEAR(a.R, bc.aR, 1e-6f) << what;
        EXPECT_NEAR(a.B, bc.aB, 1e-6f) << what;
        EXPECT_NEAR(b.R, bc.bR, 1e-6f) << what;
        EXPECT_NEAR(value, bc.value, 1e-6f) << what;
    }
}

TEST(ModulatorTest, OnlyPositiveWeightsTouchTheirOutput) {
    scriptedTexture_t tex;
    modulator_t m(&tex);
    m.mode = modulator_t::ADD;
    color_t a(1, 1, 1), b(1, 1, 1);
    float value = 1;
    m.modulate(a, b, value, makePoint(point3d_t(0, 0, 0)), vector3d_t(0, 0, 1));
    EXPECT_EQ(a.R, 1.0f);
    EXPECT_EQ(b.G, 1.0f);
    EXPECT_EQ(value, 1.0f) << "all weights 0: nothing changes";

    m.amountA = -1;
    m.amountB = 1;
    m.amountValue = 0;
    m.modulate(a, b, value, makePoint(point3d_t(0, 0, 0)), vector3d_t(0, 0, 1));
    EXPECT_EQ(a.R, 1.0f);
    EXPECT_FLOAT_EQ(b.R, 1.2f);
    EXPECT_EQ(value, 1.0f);
}

TEST(ModulatorTest, TextureIsReadAtTheMappedPoint) {
    scriptedTexture_t tex;
    modulator_t m(&tex);
    m.amountA = 1;
    color_t a, b;
    float value = 0;
    m.modulate(a, b, value, makePoint(point3d_t(1, 2, 3)), vector3d_t(0, 0, 1));
    ASSERT_EQ(tex.colorCalls.size(), 1u);
    ASSERT_EQ(tex.floatCalls.size(), 1u);
    expectFloatEq(tex.colorCalls[0], 11.0f, 22.0f, 33.0f);
    expectFloatEq(tex.floatCalls[0], 11.0f, 22.0f, 33.0f);
}

TEST(ModulatorTest, TwoOutputFormUsesItsOwnWeightsAndOnlyTheColour) {
    scriptedTexture_t tex;
    modulator_t m(&tex);
    m.amountA = m.amountB = 1; // weights of the other form
    m.amountC = 0.5f;
    m.mode = modulator_t::SUBTRACT;
    color_t c(1, 1, 1), d(1, 1, 1);
    m.modulate(c, d, makePoint(point3d_t(0, 0, 0)), vector3d_t(0, 0, 1));
    EXPECT_FLOAT_EQ(c.R, 0.9f);
    EXPECT_FLOAT_EQ(c.G, 0.8f);
    EXPECT_FLOAT_EQ(c.B, 0.6f);
    EXPECT_EQ(d.R, 1.0f);
    EXPECT_EQ(tex.colorCalls.size(), 1u);
    EXPECT_TRUE(tex.floatCalls.empty());

    m.amountD = 2;
    m.mode = modulator_t::MIX;
    m.modulate(c, d, makePoint(point3d_t(0, 0, 0)), vector3d_t(0, 0, 1));
    EXPECT_EQ(d.R, 0.2f) << "a weight above 1 gives the texture colour";
    EXPECT_EQ(d.B, 0.8f);
}

TEST(ModulatorTest, ConstantTextureKeepsTheNormal) {
    scriptedTexture_t tex;
    modulator_t m(&tex);
    surfacePoint_t zero = makePoint(point3d_t(1, 2, 3), vector3d_t(0, 0, 2));
    m.displace(zero, vector3d_t(0, 0, 1), 0.01f);
    EXPECT_EQ(tex.calls(), 0) << "a zero amount never reads the texture";
    EXPECT_EQ(zero.normal.z, 2.0f);

    m.displaceAmount = 3;
    surfacePoint_t sp = makePoint(point3d_t(1, 2, 3), vector3d_t(0, 0.6f, 0.8f));
    m.displace(sp, vector3d_t(0, 0, 1), 0.01f);
    EXPECT_EQ(sp.normal.x, 0.0f);
    EXPECT_FLOAT_EQ(sp.normal.y, 0.6f);
    EXPECT_FLOAT_EQ(sp.normal.z, 0.8f);
    EXPECT_EQ(tex.floatCalls.size(), 4u);

    // A normal of another length comes back renormalised.
    sp.normal = vector3d_t(0, 0, 2);
    m.displace(sp, vector3d_t(0, 0, 1), 0.01f);
    EXPECT_EQ(sp.normal.z, 1.0f);
}

TEST(ModulatorTest, RampTiltsTheNormalAwayFromTheRise) {
    scriptedTexture_t tex;
    tex.scalar = [](const point3d_t& p) { return 0.2f * p.x; };
    modulator_t m(&tex);
    m.coordSource = modulator_t::GLOBAL;
    m.displaceAmount = 1;
    const float res = 0.125f;
    surfacePoint_t sp = makePoint(point3d_t(1, 2, 3), vector3d_t(0, 0, 1));
    m.displace(sp, vector3d_t(0, 0, 1), res);

    // Four samples: minus and plus the first tangent, then the second.
    ASSERT_EQ(tex.floatCalls.size(), 4u);
    expectFloatEq(tex.floatCalls[0], 1 - res, 2.0f, 3.0f);
    expectFloatEq(tex.floatCalls[1], 1 + res, 2.0f, 3.0f);
    expectFloatEq(tex.floatCalls[2], 1.0f, 2 - res, 3.0f);
    expectFloatEq(tex.floatCalls[3], 1.0f, 2 + res, 3.0f);

    // du = -0.2 * 2 = -0.4, dv = 0, w = 0.6: n ~ (-0.4, 0, 0.6).
    const float len = std::sqrt(0.4f * 0.4f + 0.6f * 0.6f);
    EXPECT_NEAR(sp.normal.x, -0.4f / len, 1e-6f);
    EXPECT_EQ(sp.normal.y, 0.0f);
    EXPECT_NEAR(sp.normal.z, 0.6f / len, 1e-6f);

    // A steep slope leaves none of the original normal (w clamps at 0).
    tex.scalar = [](const point3d_t& p) { return 5.0f * p.x; };
    m.displaceAmount = 1;
    sp = makePoint(point3d_t(1, 2, 3), vector3d_t(0, 0, 1));
    m.displace(sp, vector3d_t(0, 0, 1), res);
    EXPECT_FLOAT_EQ(sp.normal.x, -1.0f);
    EXPECT_EQ(sp.normal.z, 0.0f);
}

TEST(ModulatorTest, DisplaceStepsOneTexelWithUvImages) {
    scriptedTexture_t tex(true);
    tex.texelsU = 100;
    tex.texelsV = 50;
    tex.scalar = [](const point3d_t& p) { return 10.0f * p.x + 20.0f * p.y; };
    modulator_t m(&tex);
    m.coordSource = modulator_t::UV;
    m.displaceAmount = 0.5f;
    surfacePoint_t sp = makePoint(point3d_t(0, 0, 0), vector3d_t(0, 0, 1));
    sp.hasUV = true;
    sp.dudNU = 2;
    sp.dvdNU = 0;
    sp.dudNV = 0;
    sp.dvdNV = 3;
    m.displace(sp, vector3d_t(0, 0, 1), 1000.0f); // res plays no part here

    // l1 = 200 texels, l2 = 150 texels: steps of (0.01, 0) and (0, 0.02) in uv.
    ASSERT_EQ(tex.floatCalls.size(), 4u);
    expectFloatEq(tex.floatCalls[0], 0.5f - 2.0f / 200, 0.5f, 0.0f);
    expectFloatEq(tex.floatCalls[1], 0.5f + 2.0f / 200, 0.5f, 0.0f);
    expectFloatEq(tex.floatCalls[2], 0.5f, 0.5f - 3.0f / 150, 0.0f);
    expectFloatEq(tex.floatCalls[3], 0.5f, 0.5f + 3.0f / 150, 0.0f);
    EXPECT_EQ(tex.discreteCalls, 2) << "once for the mapping, once for the choice of step";

    // du = -10 * 0.02 * 0.5 = -0.1, dv = -20 * 0.04 * 0.5 = -0.4, w = 0.6.
    const float len = std::sqrt(0.1f * 0.1f + 0.4f * 0.4f + 0.6f * 0.6f);
    EXPECT_NEAR(sp.normal.x, -0.1f / len, 1e-5f);
    EXPECT_NEAR(sp.normal.y, -0.4f / len, 1e-5f);
    EXPECT_NEAR(sp.normal.z, 0.6f / len, 1e-5f);

    // Zero derivatives: the length is taken as 1, the step is 0, nothing tilts.
    tex.floatCalls.clear();
    sp = makePoint(point3d_t(0, 0, 0), vector3d_t(0, 0, 1));
    sp.hasUV = true;
    m.displace(sp, vector3d_t(0, 0, 1), 1.0f);
    ASSERT_EQ(tex.floatCalls.size(), 4u);
    expectFloatEq(tex.floatCalls[0], 0.5f, 0.5f, 0.0f);
    EXPECT_EQ(sp.normal.z, 1.0f);
}

TEST(ModulatorTest, DisplaceStepsInSpaceOtherwise) {
    // An image texture on a surface without uv data, and one mapped by
    // another source: both sample along the tangents.
    scriptedTexture_t tex(true);
    modulator_t m(&tex);
    m.displaceAmount = 1;
    m.coordSource = modulator_t::UV;
    surfacePoint_t sp = makePoint(point3d_t(0, 0, 0), vector3d_t(0, 0, 1));
    sp.hasUV = false;
    m.displace(sp, vector3d_t(0, 0, 1), 0.25f);
    ASSERT_EQ(tex.floatCalls.size(), 4u);
    expectFloatEq(tex.floatCalls[0], 0.25f, 0.5f, -0.98f);
    expectFloatEq(tex.floatCalls[3], 0.5f, 0.75f, -0.98f);

    tex.floatCalls.clear();
    tex.discreteCalls = 0;
    m.coordSource = modulator_t::GLOBAL;
    sp.hasUV = true;
    m.displace(sp, vector3d_t(0, 0, 1), 0.25f);
    EXPECT_EQ(tex.floatCalls.size(), 4u);
    EXPECT_EQ(tex.discreteCalls, 1) << "the step choice does not ask again for other sources";
}

TEST(ModulatorTest, DisplaceWithZeroStepLeavesTheNormal) {
    scriptedTexture_t tex;
    tex.scalar = [](const point3d_t& p) { return p.x; };
    modulator_t m(&tex);
    m.displaceAmount = 1;
    surfacePoint_t sp = makePoint(point3d_t(0, 0, 0), vector3d_t(0, 0.6f, 0.8f));
    m.displace(sp, vector3d_t(0, 0, 1), 0.0f);
    EXPECT_EQ(sp.normal.y, 0.6f);
    EXPECT_EQ(sp.normal.z, 0.8f);
    EXPECT_TRUE(std::isfinite(sp.normal.x));
}
