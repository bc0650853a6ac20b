#include "vexlarcore/shader.h"

#include "vexlarcore/background.h"
#include "vexlarcore/light.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/scene.h"
#include "vexlarcore/texture.h"

#include <gtest/gtest.h>

using namespace vexlar;

namespace {

void expectColor(const color_t& c, float r, float g, float b) {
    EXPECT_TRUE(c.R == r && c.G == g && c.B == b) << c;
}

surfacePoint_t samplePoint() {
    surfacePoint_t sp(nullptr, point3d_t(1, 2, 3), point3d_t(4, 5, 6), vector3d_t(0, 0, 1),
                      vector3d_t(0, 1, 0), 0.25f, 0.75f, color_t(0.5f, 0.5f, 0.5f), 7.0f, nullptr, true, true,
                      true);
    sp.dudNU = 1;
    sp.dvdNV = 2;
    return sp;
}

void expectSamePoint(const surfacePoint_t& a, const surfacePoint_t& b) {
    EXPECT_TRUE(a.normal == b.normal && a.tangentU == b.tangentU && a.tangentV == b.tangentV &&
                a.geometricNormal == b.geometricNormal);
    EXPECT_TRUE(a.u == b.u && a.v == b.v && a.point.x == b.point.x && a.depth == b.depth &&
                a.dudNU == b.dudNU && a.dvdNV == b.dvdNV);
}

} // namespace

TEST(ShaderTest, NodeIsBlackEverywhereWithTheBaseDefaults) {
    shaderNode_t node;
    const shader_t& s = node;
    renderState_t state;
    scene_t scene;
    surfacePoint_t sp = samplePoint();
    surfacePoint_t before = sp;
    vector3d_t eye(3, -4, 12);
    energy_t energy(vector3d_t(0, 0, 1), color_t(5, 5, 5));
    expectColor(s.fromRadiosity(state, sp, energy, eye), 0, 0, 0);
    expectColor(s.fromLight(state, sp, energy, eye), 0, 0, 0);
    expectColor(s.fromWorld(state, sp, scene, eye), 0, 0, 0);
    expectColor(s.getDiffuse(state, sp, eye), 0, 0, 0);
    // The optional operations keep the base class's defaults.
    colorA_t c = s.stdoutColor(state, sp, eye, nullptr);
    expectColor(c, 0, 0, 0);
    EXPECT_EQ(c.A, 0.0f);
    EXPECT_EQ(s.stdoutFloat(state, sp, eye, &scene), 0.0f);
    EXPECT_EQ(s.stdoutVector(state, sp, eye, nullptr), vector3d_t(0, 0, 0));
    EXPECT_FALSE(s.discrete());
    EXPECT_TRUE(s.isRGB());
    s.displace(state, sp, eye, 0.5f);
    expectSamePoint(sp, before);
    // Caustics are black and keep the index.
    color_t reflected(1, 2, 3), transmitted(4, 5, 6);
    float index = 1.33f;
    s.getCaustics(state, sp, eye, reflected, transmitted, index);
    expectColor(reflected, 0, 0, 0);
    expectColor(transmitted, 0, 0, 0);
    EXPECT_EQ(index, 1.33f);
}

TEST(ShaderTest, EnergyCarriesDirectionAndColour) {
    energy_t none, e(vector3d_t(0, 1, 0), color_t(0.5f, 1, 2));
    EXPECT_EQ(none.dir, vector3d_t(0, 0, 0));
    expectColor(none.color, 0, 0, 0);
    EXPECT_EQ(e.dir, vector3d_t(0, 1, 0));
    expectColor(e.color, 0.5f, 1, 2);
}

namespace {

class constLight_t : public light_t {
public:
    color_t illuminate(renderState_t&, const scene_t&, surfacePoint_t sp, const vector3d_t&) const override {
        // The point is a copy: changing it must not reach the caller.
        sp.normal = vector3d_t(9, 9, 9);
        return color_t(0.25f, 0.5f, 1);
    }
};

class flatTexture_t : public texture_t {
public:
    colorA_t colorAt(const point3d_t& p) const override { return colorA_t(p.x, p.y, p.z, 1); }
    float floatAt(const point3d_t& p) const override { return p.x; }
};

class skyBackground_t : public background_t {
public:
    color_t lookup(const vector3d_t& dir, renderState_t&) const override { return color_t(0, 0, dir.z); }
};

} // namespace

TEST(PluginInterfaceTest, LightDefaults) {
    constLight_t light;
    EXPECT_TRUE(light.useDirect);
    EXPECT_TRUE(light.useIndirect);
    renderState_t state;
    scene_t scene;
    surfacePoint_t sp = samplePoint();
    light.setup(scene);
    light.postSetup(scene);
    expectColor(light.illuminate(state, scene, sp, vector3d_t(0, 0, 1)), 0.25f, 0.5f, 1);
    EXPECT_EQ(sp.normal, vector3d_t(0, 0, 1));
    expectColor(light.getPower(), 0, 0, 0);
    point3d_t from(1, 2, 3);
    vector3d_t dir(4, 5, 6);
    color_t power(7, 8, 9);
    EXPECT_FALSE(light.emitPhoton(0.5f, 0.5f, from, dir, power));
    EXPECT_EQ(from.x, 1.0f);
    EXPECT_EQ(dir, vector3d_t(4, 5, 6));
    expectColor(power, 7, 8, 9);
}

TEST(PluginInterfaceTest, TextureAndBackgroundDefaults) {
    flatTexture_t tex;
    const texture_t& t = tex;
    EXPECT_FALSE(t.isDiscrete());
    EXPECT_FALSE(t.hasAlpha());
    EXPECT_EQ(t.toTexelU(0.125f), 0.125f);
    EXPECT_EQ(t.toTexelV(-2.0f), -2.0f);
    skyBackground_t sky;
    renderState_t state;
    const background_t& b = sky;
    expectColor(b.lookup(vector3d_t(0, 0, 1), state), 0, 0, 1);
}
