// Tracing single rays through a scene: nearest hits, shading calls, ray
// levels, fog, light flags, shadows, first hits and gathered indirect light.
#include "scene_fixtures.h"

#include "vexlarcore/geometree.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/scene.h"
#include "vexlarcore/sphere.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

using namespace vexlar;
using namespace fixtures;

namespace {

const point3d_t origin(0, 0, 0);
const vector3d_t minusZ(0, 0, -1);

void expectColor(const color_t& c, float r, float g, float b) {
    EXPECT_FLOAT_EQ(c.R, r);
    EXPECT_FLOAT_EQ(c.G, g);
    EXPECT_FLOAT_EQ(c.B, b);
}

/// Shader that traces a further ray towards the centre of the sphere it is
/// on (inward normal) while shading, recording the levels it sees.
class recursingShader_t : public shaderNode_t {
public:
    color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& scene,
                      const vector3d_t&) const override {
        levels.push_back(state.rayLevel);
        color_t c = scene.raytrace(state, sp.point, -sp.normal);
        returned.push_back(state.hitDistance);
        levelsAfter.push_back(state.rayLevel);
        return c + color_t(0.1f);
    }
    mutable std::vector<int> levels, levelsAfter;
    mutable std::vector<float> returned;
};

// Park-Miller minimal standard, in 64-bit arithmetic without Schrage's trick.
std::int32_t parkMiller(std::int32_t s, int draws) {
    std::int64_t v = s;
    for (int i = 0; i < draws; ++i) v = (v * 16807) % 2147483647;
    return static_cast<std::int32_t>(v);
}

class RaytraceTest : public ::testing::Test {
protected:
    scene_t scene;
    renderState_t state;
};

} // namespace

TEST_F(RaytraceTest, ShadesTheNearestHitAndRecordsItsDistance) {
    lambertShader_t nearShader(color_t(1.0f), color_t(0.25f, 0.5f, 0.75f));
    lambertShader_t farShader(color_t(1.0f), color_t(1.0f));
    sphere_t nearS(point3d_t(0, 0, -5), 1), farS(point3d_t(0, 0, -10), 1);
    nearS.shader = &nearShader;
    farS.shader = &farShader;
    scene.addObject(&farS);
    scene.addObject(&nearS);
    treeScope_t tree(scene);
    state.rayLevel = -1;
    state.screenPos = point3d_t(0.25f, -0.5f, 0);
    state.traveled = 1.5f;
    expectColor(scene.raytrace(state, origin, minusZ), 0.25f, 0.5f, 0.75f);
    EXPECT_NEAR(state.hitDistance, 4.0f, 1e-5);
    EXPECT_EQ(state.rayLevel, -1);
    EXPECT_EQ(farShader.fromWorldCalls, 0);
    // The shading sees the path length raised by the hit depth (measured from
    // the biased start), and the screen position in the hit's aux point.
    EXPECT_NEAR(nearShader.displaceTraveled, 1.5f + 4.0f, 1e-4);
    EXPECT_NEAR(nearShader.lastTraveled, 1.5f + 4.0f, 1e-4);
    EXPECT_EQ(state.traveled, 1.5f);
    EXPECT_EQ(nearShader.lastAux.y, -0.5f);
    EXPECT_EQ(nearShader.lastResolution, scene.worldResolution);
    // fromWorld receives the unnormalised eye vector.
    EXPECT_NEAR(nearShader.lastEye.z, 4.0f, 1e-5);
}

TEST_F(RaytraceTest, RayLevelLimitStopsTheThirdNestedRay) {
    recursingShader_t shader;
    sphere_t room(point3d_t(0, 0, 0), 10);
    room.shader = &shader;
    scene.addObject(&room);
    treeScope_t tree(scene);
    ASSERT_EQ(scene.getMaxRayLevel(), 3);
    state.rayLevel = -1;
    color_t c = scene.raytrace(state, origin, minusZ);
    ASSERT_EQ(shader.levels, (std::vector<int>{0, 1, 2}));
    // Innermost first: the level-3 ray was refused, the others crossed the room.
    ASSERT_EQ(shader.returned.size(), 3u);
    EXPECT_EQ(shader.returned[0], -1.0f);
    EXPECT_NEAR(shader.returned[2], 20.0f, 1e-3);
    EXPECT_EQ(shader.levelsAfter, (std::vector<int>{2, 1, 0}));
    EXPECT_NEAR(state.hitDistance, 10.0f, 1e-4);
    EXPECT_EQ(state.rayLevel, -1);
    expectColor(c, 0.3f, 0.3f, 0.3f);

    // A ray started at the limit itself is not traced at all.
    scene.setMaxRayLevel(1);
    shader.levels.clear();
    state.rayLevel = 0;
    state.hitDistance = 5;
    c = scene.raytrace(state, origin, minusZ);
    EXPECT_TRUE(c.isBlack());
    EXPECT_EQ(state.hitDistance, -1.0f);
    EXPECT_EQ(state.rayLevel, 0);
    EXPECT_TRUE(shader.levels.empty());
}

TEST_F(RaytraceTest, HitsAtOrBehindTheStartAreIgnored) {
    constantBackground_t bg(color_t(0.5f, 0.25f, 0.125f));
    scene.setBackground(&bg);
    lambertShader_t shader(color_t(1.0f), color_t(1.0f));
    bound_t box(point3d_t(-1, -1, -3), point3d_t(1, 1, -1));
    fakeObject_t atZero(box, 0.0f), behind(box, -2.0f);
    atZero.shader = &shader;
    behind.shader = &shader;
    scene.addObject(&atZero);
    scene.addObject(&behind);
    treeScope_t tree(scene);
    state.rayLevel = -1;
    expectColor(scene.raytrace(state, origin, minusZ), 0.5f, 0.25f, 0.125f);
    EXPECT_EQ(state.hitDistance, -1.0f);
    EXPECT_EQ(atZero.shoots, 1);
    EXPECT_EQ(behind.shoots, 1);
    EXPECT_EQ(shader.fromWorldCalls, 0);
}

TEST_F(RaytraceTest, RaytracePassesTheLastAcceptedDepthAsLimit) {
    lambertShader_t shader(color_t(1.0f));
    bound_t box(point3d_t(-1, -1, -3), point3d_t(1, 1, -1));
    fakeObject_t a(box, 2.0f), b(box, 2.0f);
    a.shader = b.shader = &shader;
    scene.addObject(&a);
    scene.addObject(&b);
    treeScope_t tree(scene);
    state.rayLevel = -1;
    scene.raytrace(state, origin, minusZ);
    // One of them is shot first with no limit, the other with the first depth.
    const float first = a.lastDist > b.lastDist ? a.lastDist : b.lastDist;
    const float second = a.lastDist > b.lastDist ? b.lastDist : a.lastDist;
    EXPECT_TRUE(std::isinf(first));
    EXPECT_EQ(second, 2.0f);
    surfacePoint_t sp;
    EXPECT_TRUE(scene.firstHit(state, sp, origin, minusZ, false));
    EXPECT_EQ(a.lastDist, -1.0f);
    EXPECT_EQ(b.lastDist, -1.0f);
}

TEST_F(RaytraceTest, BackgroundFallbackAndHitsWithoutShader) {
    constantBackground_t bg(color_t(0.2f, 0.4f, 0.6f));
    sphere_t bare(point3d_t(0, 0, -5), 1);
    scene.addObject(&bare);
    treeScope_t tree(scene);

    state.rayLevel = -1;
    expectColor(scene.raytrace(state, origin, minusZ), 0, 0, 0); // no background: black
    EXPECT_EQ(state.hitDistance, -1.0f);

    scene.setBackground(&bg);
    expectColor(scene.raytrace(state, origin, minusZ), 0.2f, 0.4f, 0.6f);

    // The indirect tracer returns black for a hit without shader and leaves
    // hitDistance and traveled alone; a miss still sees the background.
    state.hitDistance = 42.0f;
    state.traveled = 3.0f;
    expectColor(scene.raytrace_indir(state, origin, minusZ, false), 0, 0, 0);
    EXPECT_EQ(state.hitDistance, 42.0f);
    EXPECT_EQ(state.traveled, 3.0f);
    EXPECT_EQ(state.rayLevel, -1);
    expectColor(scene.raytrace_indir(state, origin, vector3d_t(0, 0, 1), false), 0.2f, 0.4f, 0.6f);
    EXPECT_EQ(state.hitDistance, -1.0f);
}

TEST_F(RaytraceTest, EmptySceneSeesTheBackground) {
    constantBackground_t bg(color_t(0.75f));
    scene.setBackground(&bg);
    treeScope_t tree(scene); // no tree at all
    state.rayLevel = -1;
    expectColor(scene.raytrace(state, origin, minusZ), 0.75f, 0.75f, 0.75f);
}

TEST_F(RaytraceTest, FogBlendsByDistanceAndReplacesMisses) {
    const color_t fog(0.5f, 0.6f, 0.7f);
    color_t c(1.0f, 0.0f, 0.25f);
    scene.fog_addToCol(3.0f, c); // density 0: unchanged
    expectColor(c, 1.0f, 0.0f, 0.25f);

    scene.setFog(0.25f, fog);
    EXPECT_EQ(scene.getFogDensity(), 0.25f);
    scene.fog_addToCol(2.0f, c);
    const float f = static_cast<float>(std::exp(-0.5));
    EXPECT_FLOAT_EQ(c.R, f * 1.0f + (1 - f) * 0.5f);
    EXPECT_FLOAT_EQ(c.G, (1 - f) * 0.6f);
    EXPECT_FLOAT_EQ(c.B, f * 0.25f + (1 - f) * 0.7f);

    color_t zero(0.9f);
    scene.fog_addToCol(0.0f, zero); // distance 0: no fog at all
    expectColor(zero, 0.9f, 0.9f, 0.9f);

    // Through the tracer: a miss gives exactly the fog colour whatever the
    // background says, a hit is blended by its distance.
    constantBackground_t bg(color_t(0.1f));
    scene.setBackground(&bg);
    lambertShader_t shader(color_t(1.0f), color_t(1.0f));
    sphere_t s(point3d_t(0, 0, -5), 1);
    s.shader = &shader;
    scene.addObject(&s);
    treeScope_t tree(scene);
    state.rayLevel = -1;
    expectColor(scene.raytrace(state, origin, vector3d_t(0, 0, 1)), 0.5f, 0.6f, 0.7f);
    const float fh = static_cast<float>(std::exp(-4.0 * 0.25));
    EXPECT_NEAR(scene.raytrace(state, origin, minusZ).B, fh + (1 - fh) * 0.7f, 1e-5);
}

TEST_F(RaytraceTest, FogFactorMultipliesInSingleAndExponentiatesInDouble) {
    // Against black fog a white colour becomes the fog factor itself. For
    // these values the single- and double-precision products lead to
    // different factors.
    const float distance = 60.31f, density = 0.481f;
    scene.setFog(density, color_t(0.0f));
    color_t c(1.0f);
    scene.fog_addToCol(distance, c);
    const float product = -distance * density;
    const float expected = static_cast<float>(std::exp(static_cast<double>(product)));
    ASSERT_NE(expected, static_cast<float>(std::exp(-static_cast<double>(distance) * density)));
    EXPECT_EQ(c.R, expected);
    EXPECT_EQ(c.B, expected);
}

TEST_F(RaytraceTest, LightFlagsSelectDirectAndIndirectContributions) {
    lambertShader_t shader(color_t(0.0f), color_t(0.01f));
    sphere_t s(point3d_t(0, 0, -5), 1);
    s.shader = &shader;
    scene.addObject(&s);
    constantLight_t direct(color_t(0.1f, 0, 0), true, false);
    constantLight_t indirectOnly(color_t(0, 0.2f, 0), false, true);
    constantLight_t neither(color_t(0, 0, 0.4f), false, false);
    scene.addLight(&direct);
    scene.addLight(&indirectOnly);
    scene.addLight(&neither);
    treeScope_t tree(scene);

    state.rayLevel = -1;
    expectColor(scene.raytrace(state, origin, minusZ), 0.11f, 0.01f, 0.01f);
    EXPECT_EQ(indirectOnly.calls, 0);
    EXPECT_EQ(neither.calls, 0);

    surfacePoint_t sp;
    ASSERT_TRUE(scene.firstHit(state, sp, origin, minusZ, false));
    expectColor(scene.light(state, sp, origin, true), 0, 0.2f, 0); // no fromWorld either
    expectColor(scene.light(state, sp, origin, false), 0.11f, 0.01f, 0.01f);

    // The indirect tracer asks every light regardless of its flags.
    expectColor(scene.raytrace_indir(state, origin, minusZ, false), 0.11f, 0.21f, 0.41f);
    EXPECT_EQ(neither.calls, 1);

    sp.shader = nullptr;
    const int before = direct.calls;
    expectColor(scene.light(state, sp, origin, false), 0, 0, 0);
    EXPECT_EQ(direct.calls, before);
}

TEST_F(RaytraceTest, LightsGetUnnormalisedEyeDirectlyAndUnitEyeIndirectly) {
    lambertShader_t shader(color_t(0.0f));
    sphere_t s(point3d_t(0, 0, -5), 1);
    s.shader = &shader;
    scene.addObject(&s);
    pointLight_t lamp(point3d_t(0, 0, 0), color_t(1.0f));
    scene.addLight(&lamp);
    treeScope_t tree(scene);
    state.rayLevel = -1;
    scene.raytrace(state, origin, minusZ);
    EXPECT_NEAR(lamp.lastEye.z, 4.0f, 1e-5);
    scene.raytrace_indir(state, origin, minusZ, false);
    EXPECT_NEAR(lamp.lastEye.z, 1.0f, 1e-6);
    EXPECT_NEAR(shader.lastEye.z, 4.0f, 1e-5); // fromWorld: unnormalised in both
}

TEST_F(RaytraceTest, ShadowRaysStopAtTheTarget) {
    sphere_t blocker(point3d_t(0, 0, -5), 1);
    scene.addObject(&blocker);
    treeScope_t tree(scene);
    surfacePoint_t sp;
    sp.point = origin;
    sp.object = nullptr;
    EXPECT_FALSE(scene.isShadowed(state, sp, point3d_t(0, 0, -3.5f))); // light before the blocker
    EXPECT_TRUE(scene.isShadowed(state, sp, point3d_t(0, 0, -10)));
    EXPECT_TRUE(scene.isShadowed(state, sp, vector3d_t(0, 0, -7))); // direction form: unlimited
    EXPECT_FALSE(scene.isShadowed(state, sp, vector3d_t(0, 1, 0)));
    EXPECT_FALSE(scene.isShadowed(state, sp, origin)); // zero length
    EXPECT_EQ(state.rayLevel, 0);

    blocker.castShadows = false;
    EXPECT_FALSE(scene.isShadowed(state, sp, vector3d_t(0, 0, -1)));
}

TEST_F(RaytraceTest, SelfShadowBiasAppliesOnlyToTheShadedObject) {
    sphere_t s(point3d_t(0, 0, 0), 1);
    scene.addObject(&s);
    treeScope_t tree(scene);
    surfacePoint_t sp;
    sp.point = point3d_t(0, 0, -1);
    sp.object = &s;
    // Through the sphere: the far wall is 2 away.
    EXPECT_TRUE(scene.isShadowed(state, sp, point3d_t(0, 0, 10)));
    scene.setSelfShadowBias(3.0f); // starts beyond the sphere for its own point
    EXPECT_FALSE(scene.isShadowed(state, sp, vector3d_t(0, 0, 1)));
    sp.object = nullptr; // any other object starts at the ray bias
    EXPECT_TRUE(scene.isShadowed(state, sp, point3d_t(0, 0, 10)));
}

TEST_F(RaytraceTest, FirstHitWithAndWithoutShadowCastersOnly) {
    lambertShader_t shader(color_t(1.0f));
    sphere_t glass(point3d_t(0, 0, -3), 1), wall(point3d_t(0, 0, -10), 1);
    glass.castShadows = false;
    glass.shader = wall.shader = &shader;
    scene.addObject(&glass);
    scene.addObject(&wall);
    treeScope_t tree(scene);
    state.screenPos = point3d_t(0.5f, 0.5f, 0);
    state.traveled = 2.0f;
    state.hitDistance = 77.0f;
    surfacePoint_t sp;
    ASSERT_TRUE(scene.firstHit(state, sp, origin, minusZ, false));
    EXPECT_EQ(sp.object, &glass);
    EXPECT_NEAR(sp.depth, 2.0f, 1e-4);
    EXPECT_EQ(sp.auxPoint.x, 0.0f); // the screen position is not copied
    EXPECT_EQ(shader.displaceCalls, 1);
    EXPECT_NEAR(shader.displaceTraveled, 4.0f, 1e-4);
    EXPECT_EQ(state.traveled, 2.0f);
    EXPECT_EQ(state.hitDistance, 77.0f);
    EXPECT_EQ(shader.fromWorldCalls, 0);

    ASSERT_TRUE(scene.firstHit(state, sp, origin, minusZ, true));
    EXPECT_EQ(sp.object, &wall);
    EXPECT_NEAR(sp.depth, 9.0f, 1e-4);
    EXPECT_EQ(shader.displaceCalls, 1); // no displacement for shadow-caster searches

    sp.depth = 5.5f;
    EXPECT_FALSE(scene.firstHit(state, sp, origin, vector3d_t(0, 1, 0), false));
    EXPECT_EQ(sp.depth, 5.5f);
}

TEST_F(RaytraceTest, GatheringInAClosedRoomAddsTheUndividedSum) {
    // Inside a closed sphere every gathering ray hits a wall, where the
    // constant light and the ambient term give exactly `seen`.
    const color_t dif(1.0f, 0.5f, 0.25f), amb(0.01f, 0.02f, 0.03f), lightCol(0.1f, 0.1f, 0.1f);
    lambertShader_t white(dif, amb);
    sphere_t room(point3d_t(0, 0, 0), 5);
    room.shader = &white;
    scene.addObject(&room);
    constantLight_t lamp(lightCol, true, true);
    scene.addLight(&lamp);
    scene.setIndirect(true, 3, 0.5f);
    EXPECT_FLOAT_EQ(scene.getIndirectStratumU(), 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(scene.getIndirectStratumPhi(), static_cast<float>(2 * M_PI / 3));
    treeScope_t tree(scene);

    myseed = 4242;
    state.rayLevel = -1;
    const color_t c = scene.raytrace(state, origin, minusZ);
    EXPECT_EQ(myseed, parkMiller(4242, 2 * 3 * 3));
    EXPECT_EQ(lamp.calls, 1 + 9);
    EXPECT_NEAR(state.hitDistance, 5.0f, 1e-5);
    EXPECT_EQ(state.rayLevel, -1);
    const color_t seen = lightCol + amb; // also the direct part
    color_t sum(0.0f);
    for (int k = 0; k < 9; ++k) sum += seen;
    expectColor(c, seen.R + 0.5f * dif.R * sum.R, seen.G + 0.5f * dif.G * sum.G,
                seen.B + 0.5f * dif.B * sum.B);
}

TEST_F(RaytraceTest, GatheringOffOrWithoutSamplesAddsBlackAndDrawsNothing) {
    const color_t amb(0.01f, 0.02f, 0.03f);
    lambertShader_t white(color_t(1.0f), amb);
    sphere_t room(point3d_t(0, 0, 0), 5);
    room.shader = &white;
    scene.addObject(&room);
    constantLight_t lamp(color_t(0.1f), true, true);
    scene.addLight(&lamp);
    treeScope_t tree(scene);

    scene.setIndirect(true, 0, 1.0f);
    EXPECT_EQ(scene.getIndirectStratumU(), 0.0f);
    EXPECT_EQ(scene.getIndirectStratumPhi(), 0.0f);
    myseed = 777;
    state.rayLevel = -1;
    color_t c = scene.raytrace(state, origin, minusZ);
    EXPECT_EQ(myseed, 777);
    expectColor(c, 0.11f, 0.12f, 0.13f);

    // A gathering ray does not gather again.
    scene.setIndirect(true, 2, 1.0f);
    c = scene.raytrace_indir(state, origin, minusZ, true);
    EXPECT_EQ(myseed, 777);
    expectColor(c, 0.11f, 0.12f, 0.13f);

    // Diffuse average (0.05 + 0.05 + 0.05) * 0.33333 is just below 0.05.
    white.diffuse = color_t(0.05f);
    c = scene.raytrace(state, origin, minusZ);
    EXPECT_EQ(myseed, 777);
    white.diffuse = color_t(0.0501f);
    scene.raytrace(state, origin, minusZ);
    EXPECT_EQ(myseed, parkMiller(777, 8));

    // Indirect off: raytrace_indir itself adds lights but gathers nothing.
    scene.setIndirect(false, 2, 1.0f);
    myseed = 777;
    c = scene.raytrace_indir(state, origin, minusZ, false);
    EXPECT_EQ(myseed, 777);
    expectColor(c, 0.11f, 0.12f, 0.13f);
}

TEST_F(RaytraceTest, GatheringLeavesTheSurfaceOnTheSideOfTheViewer) {
    // A floor facing +y seen from above: gathering rays must leave on the
    // viewer's side, where the dome is; below the floor they would see black.
    lambertShader_t floorShader(color_t(1.0f));
    lambertShader_t lampShader(color_t(0.0f), color_t(1.0f));
    sphere_t floorS(point3d_t(0, -100, -5), 100);
    floorS.shader = &floorShader;
    sphere_t dome(point3d_t(0, 0, -5), 30);
    dome.shader = &lampShader;
    scene.addObject(&floorS);
    scene.addObject(&dome);
    scene.setIndirect(true, 2, 1.0f);
    treeScope_t tree(scene);
    state.rayLevel = -1;
    color_t above = scene.raytrace(state, point3d_t(0, 1, -5), vector3d_t(0, -1, 0));
    EXPECT_FLOAT_EQ(above.R, 4.0f); // four gathering rays, each sees the dome's 1.0
}

namespace {

/// Surface facing +z with the tangent frame set by the test.
class framedObject_t : public fakeObject_t {
public:
    framedObject_t(const vector3d_t& u, const vector3d_t& v)
        : fakeObject_t(bound_t(point3d_t(-100, -100, -100), point3d_t(100, 100, 100)), 5.0f), tu(u), tv(v) {}
    bool shoot(renderState_t& state, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
               bool shadow, float dist) const override {
        if (!fakeObject_t::shoot(state, sp, from, ray, shadow, dist)) return false;
        sp.tangentU = tu;
        sp.tangentV = tv;
        return true;
    }
    vector3d_t tu, tv;
};

} // namespace

TEST_F(RaytraceTest, GatheringDirectionsFollowTheStrataAndTheTangentFrame) {
    // Only the camera ray (level 0) hits; every gathering ray reaches the
    // background, which records its direction.
    lambertShader_t shader(color_t(1.0f));
    framedObject_t surface(vector3d_t(0, 1, 0), vector3d_t(-1, 0, 0));
    surface.shader = &shader;
    surface.accept = [](renderState_t& s) { return s.rayLevel == 0; };
    scene.addObject(&surface);
    std::vector<vector3d_t> dirs;
    functionBackground_t bg([&dirs](const vector3d_t& d, renderState_t&) {
        dirs.push_back(d);
        return color_t(0.0f);
    });
    scene.setBackground(&bg);
    const int n = 2;
    const double U = 0.4, Phi = 1.3;
    scene.setIndirect(true, n, 1.0f);
    scene.setIndirectStrata(static_cast<float>(U), static_cast<float>(Phi));
    treeScope_t tree(scene);

    const std::int32_t seed = 90210;
    myseed = seed;
    state.rayLevel = -1;
    scene.raytrace(state, origin, minusZ);
    ASSERT_EQ(dirs.size(), static_cast<size_t>(n * n));
    int draws = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const double xi1 = parkMiller(seed, ++draws) * std::ldexp(1.0, -31);
            const double xi2 = parkMiller(seed, ++draws) * std::ldexp(1.0, -31);
            const double t = (xi1 + i) * U, phi = (xi2 + j) * Phi;
            // tangentU is +y, tangentV is -x, the normal +z.
            const double s = std::sqrt(1 - t);
            const vector3d_t& d = dirs[static_cast<size_t>(i * n + j)];
            SCOPED_TRACE(::testing::Message() << "stratum " << i << ", " << j);
            EXPECT_NEAR(d.x, -s * std::sin(phi), 2e-6);
            EXPECT_NEAR(d.y, s * std::cos(phi), 2e-6);
            EXPECT_NEAR(d.z, std::sqrt(t), 2e-6);
        }
    EXPECT_EQ(myseed, parkMiller(seed, 2 * n * n));
}
