// Tracing single rays: ray levels, equal and non-positive depths, fog,
// shadow rays and their biases, and gathered indirect light.
#include "scene_fixtures.h"
#include "test_support.h"

#include "vexlarcore/sampling.h"
#include "vexlarcore/sphere.h"

#include <cmath>

using namespace vexlar;
using namespace fixtures;
using support::expectColor;

namespace {

const point3d_t origin(0, 0, 0);
const vector3d_t minusZ(0, 0, -1);

/// Traces a further ray towards the centre of its sphere while shading.
class recursingShader_t : public shaderNode_t {
public:
    color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& scene,
                      const vector3d_t&) const override {
        levels.push_back(state.rayLevel);
        return scene.raytrace(state, sp.point, -sp.normal) + color_t(0.1f);
    }
    mutable std::vector<int> levels;
};

// Park-Miller in 64-bit arithmetic, without Schrage's trick.
std::int32_t parkMiller(std::int32_t s, int draws) {
    std::int64_t v = s;
    for (int i = 0; i < draws; ++i) v = (v * 16807) % 2147483647;
    return static_cast<std::int32_t>(v);
}

class raytrace : public ::testing::Test {
protected:
    color_t trace(const vector3d_t& dir = minusZ) {
        state.rayLevel = -1;
        return scene.raytrace(state, origin, dir);
    }
    scene_t scene;
    renderState_t state;
};

} // namespace

TEST_F(raytrace, RayLevelLimitStopsTheThirdNestedRay) {
    recursingShader_t shader;
    sphere_t room(point3d_t(0, 0, 0), 10);
    room.shader = &shader;
    scene.addObject(&room);
    treeScope_t tree(scene);
    expectColor(trace(), 0.3f, 0.3f, 0.3f);
    EXPECT_EQ(shader.levels, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(state.rayLevel == -1 && std::fabs(state.hitDistance - 10) < 1e-4f);
}

TEST_F(raytrace, HitsBehindTheStartAndEqualDepths) {
    constantBackground_t bg(color_t(0.5f, 0.25f, 0.125f));
    scene.setBackground(&bg);
    lambertShader_t shader(color_t(1.0f), color_t(1.0f)), other(color_t(1.0f), color_t(0.5f));
    bound_t box(point3d_t(-1, -1, -3), point3d_t(1, 1, -1));
    fakeObject_t atZero(box, 0.0f), behind(box, -2.0f), a(box, 2.0f), b(box, 2.0f);
    for (fakeObject_t* o : {&atZero, &behind, &a, &b}) {
        o->shader = o == &b ? &other : &shader;
        scene.addObject(o);
    }
    {
        treeScope_t tree(scene);
        const color_t c = trace();
        EXPECT_NEAR(state.hitDistance, 2.0f, 1e-4);
        // Each candidate is shot with the last accepted depth as its limit;
        // of two equally near hits the first one shot is shaded.
        EXPECT_TRUE(std::isinf(a.lastDist) != std::isinf(b.lastDist) &&
                    std::fmin(a.lastDist, b.lastDist) == 2.0f);
        EXPECT_EQ(c.R, std::isinf(a.lastDist) ? 1.0f : 0.5f);
    }
    scene.objects.resize(2);
    treeScope_t tree(scene);
    expectColor(trace(), 0.5f, 0.25f, 0.125f); // depths 0 and -2 are no hits
    EXPECT_EQ(state.hitDistance, -1.0f);
}

TEST_F(raytrace, FogBlendsByDistanceAndReplacesMisses) {
    scene.setFog(0.481f, color_t(0.0f)); // the product in single precision, the exponential in double
    color_t white(1.0f);
    scene.fog_addToCol(60.31f, white);
    EXPECT_EQ(white.R, static_cast<float>(std::exp(static_cast<double>(-60.31f * 0.481f))));
    ASSERT_NE(white.R, static_cast<float>(std::exp(-60.31 * 0.481f)));
    scene.setFog(0.25f, color_t(0.5f, 0.6f, 0.7f));
    lambertShader_t shader(color_t(1.0f), color_t(1.0f));
    sphere_t s(point3d_t(0, 0, -5), 1);
    s.shader = &shader;
    scene.addObject(&s);
    treeScope_t tree(scene);
    expectColor(trace(vector3d_t(0, 0, 1)), 0.5f, 0.6f, 0.7f); // a miss is the fog colour
    const float f = static_cast<float>(std::exp(-4.0 * 0.25)); // the white sphere 4 away
    expectColor(trace(), f + (1 - f) * 0.5f, f + (1 - f) * 0.6f, f + (1 - f) * 0.7f, 1e-5);
}

TEST_F(raytrace, ShadowRaysStopAtTheTargetAndSkipSelfByTheBias) {
    sphere_t blocker(point3d_t(0, 0, -5), 1);
    scene.addObject(&blocker);
    {
        treeScope_t tree(scene);
        surfacePoint_t sp;
        sp.point = origin;
        EXPECT_FALSE(scene.isShadowed(state, sp, point3d_t(0, 0, -3.5f))); // light before the blocker
        EXPECT_TRUE(scene.isShadowed(state, sp, point3d_t(0, 0, -10)));
        EXPECT_TRUE(scene.isShadowed(state, sp, vector3d_t(0, 0, -7))); // direction form: unlimited
        EXPECT_FALSE(scene.isShadowed(state, sp, origin));              // zero length
        blocker.castShadows = false;
        EXPECT_FALSE(scene.isShadowed(state, sp, vector3d_t(0, 0, -1)));
    }
    scene_t one;
    sphere_t s(point3d_t(0, 0, 0), 1);
    one.addObject(&s);
    treeScope_t tree(one);
    surfacePoint_t sp;
    sp.point = point3d_t(0, 0, -1);
    sp.object = &s;
    EXPECT_TRUE(one.isShadowed(state, sp, point3d_t(0, 0, 10))); // through the sphere: far wall 2 away
    one.setSelfShadowBias(3.0f);
    EXPECT_FALSE(one.isShadowed(state, sp, vector3d_t(0, 0, 1))); // its own point starts beyond it
    sp.object = nullptr;
    EXPECT_TRUE(one.isShadowed(state, sp, point3d_t(0, 0, 10))); // others start at the ray bias
}

TEST_F(raytrace, GatheringInAClosedRoomAddsTheUndividedSum) {
    // Every gathering ray hits a wall, where light and ambient give `seen`;
    // seen from inside, the wall gathers around its flipped normal.
    const color_t dif(1.0f, 0.5f, 0.25f), amb(0.01f, 0.02f, 0.03f), lightCol(0.1f, 0.1f, 0.1f);
    lambertShader_t white(dif, amb);
    sphere_t room(point3d_t(0, 0, 0), 5);
    room.shader = &white;
    scene.addObject(&room);
    constantLight_t lamp(lightCol, true, true);
    scene.addLight(&lamp);
    scene.setIndirect(true, 3, 0.5f);
    treeScope_t tree(scene);
    myseed = 4242;
    const color_t c = trace(), seen = lightCol + amb;
    EXPECT_TRUE(myseed == parkMiller(4242, 2 * 3 * 3) && lamp.calls == 1 + 9);
    expectColor(c, seen.R + 0.5f * dif.R * 9 * seen.R, seen.G + 0.5f * dif.G * 9 * seen.G,
                seen.B + 0.5f * dif.B * 9 * seen.B);
    // A gathering ray, or too dark a surface: nothing is drawn.
    myseed = 777;
    expectColor(scene.raytrace_indir(state, origin, minusZ, true), 0.11f, 0.12f, 0.13f);
    white.diffuse = color_t(0.05f); // (0.05 * 3) * 0.33333 is just below 0.05
    trace();
    EXPECT_EQ(myseed, 777);
    white.diffuse = color_t(0.0501f);
    trace();
    EXPECT_EQ(myseed, parkMiller(777, 18));
}

TEST_F(raytrace, GatheringDirectionsFollowTheStrataAndTheTangentFrame) {
    lambertShader_t shader(color_t(1.0f));
    // A surface facing +z with the tangent frame (+y, -x).
    fakeObject_t surface(bound_t(point3d_t(-100, -100, -100), point3d_t(100, 100, 100)), 5.0f);
    surface.dress = [](surfacePoint_t& sp) {
        sp.tangentU = vector3d_t(0, 1, 0);
        sp.tangentV = vector3d_t(-1, 0, 0);
    };
    surface.shader = &shader;
    surface.accept = [](renderState_t& s) { return s.rayLevel == 0; }; // only the camera ray hits
    scene.addObject(&surface);
    std::vector<vector3d_t> dirs;
    functionBackground_t bg([&dirs](const vector3d_t& d, renderState_t&) {
        dirs.push_back(d);
        return color_t(0.0f);
    });
    scene.setBackground(&bg);
    const double U = 0.4, Phi = 1.3;
    scene.setIndirect(true, 2, 1.0f);
    scene.setIndirectStrata(static_cast<float>(U), static_cast<float>(Phi));
    treeScope_t tree(scene);
    myseed = 90210;
    trace();
    ASSERT_EQ(dirs.size(), 4u);
    for (int i = 0, draws = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) {
            const double xi1 = parkMiller(90210, ++draws) * std::ldexp(1.0, -31);
            const double xi2 = parkMiller(90210, ++draws) * std::ldexp(1.0, -31);
            const double t = (xi1 + i) * U, phi = (xi2 + j) * Phi, s = std::sqrt(1 - t);
            const vector3d_t& d = dirs[static_cast<size_t>(i * 2 + j)];
            EXPECT_TRUE(std::fabs(d.x + s * std::sin(phi)) < 2e-6 &&
                        std::fabs(d.y - s * std::cos(phi)) < 2e-6 && std::fabs(d.z - std::sqrt(t)) < 2e-6)
                << i << j; // tangentU +y, tangentV -x, normal +z: the side the ray came from
        }
}
