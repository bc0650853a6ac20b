// The photon lights against answers computed here: the indirect light
// inside a diffuse sphere, the caustic of a glass ball (its place and its
// flux), colour bleeding in a closed box, and how the multi-bounce light
// tells the library's gathering rays from others.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "light_fixtures.h"
#include "vexlarcore/object3d.h"

using namespace vexlar;
using lightfx::lightScene_t;

const double pi = 3.141592653589793;

TEST(photonGi, IndirectLightInsideADiffuseSphereIsItsAnalyticValue) {
    SKIP_WITHOUT_PLUGINS();
    // Inside a sphere every point sees every area of it alike, so after the
    // first bounce the light is uniform: flux / area * albedo / (1 - albedo).
    const float albedo = 0.5f;
    const struct {
        const char* type;
        lightfx::settings_t settings;
        double flux;
    } sources[] = {
        {"point", {{"power", 2.0f}}, 4 * pi * 2},
        {"spot", {{"angle", 60.0f}, {"blend", 0.0f}, {"to", point3d_t(0.2f, -1, 0)}}, 2 * pi * 0.5},
        {"area",
         {{"corner", point3d_t(-0.2f, 0, -0.2f)},
          {"edge_u", point3d_t(0.4f, 0, 0)},
          {"edge_v", point3d_t(0, 0, 0.4f)}},
         pi},
    };
    for (const auto& src : sources) {
        lightScene_t s;
        const shader_t* wall = s.diffuse(color_t(albedo, albedo, albedo));
        s.sphere(point3d_t(0, 0, 0), 1, wall);
        s.light(src.type, src.settings);
        light_t* gi = s.light("photongi", {{"photons", 100000}, {"search", 400}, {"depth", 40}});
        s.ready();
        const double expected = src.flux / (4 * pi) * albedo / (1 - albedo) * albedo;
        std::vector<double> got;
        for (int k = 0; k < 24; ++k) { // a spiral of points over the sphere
            const double y = 1 - (k + 0.5) / 12, r = std::sqrt(1 - y * y), phi = 2.39996 * k;
            const vector3d_t d(static_cast<float>(r * std::cos(phi)), static_cast<float>(y),
                               static_cast<float>(r * std::sin(phi)));
            got.push_back(lightfx::mean3(s.lightAt(*gi, point3d_t(d.x, d.y, d.z), -d, wall, 1)));
        }
        EXPECT_NEAR(lightfx::momentsOf(got).mean / expected, 1.0, 0.05) << src.type;
    }
}

TEST(photonGi, AddsItsEstimateOnlyWhereTheLibrarysGatheringRaysArrive) {
    SKIP_WITHOUT_PLUGINS();
    lightScene_t s;
    const shader_t* wall = s.diffuse(color_t(0.5f, 0.5f, 0.5f));
    s.sphere(point3d_t(0, 0, 0), 1, wall);
    s.light("point");
    light_t* gi = s.light("photongi", {{"photons", 5000}});
    s.scene.setIndirect(true, 2, 0.25f);
    s.scene.setMaxRayLevel(4);
    s.ready();
    // A camera hit: the library gathers there, so nothing is added.
    const point3d_t a(0, -1, 0), b(0.6f, 0, 0.8f);
    EXPECT_TRUE(s.lightAt(*gi, a, vector3d_t(0, 1, 0), wall, 0).isBlack());
    // One level down, from elsewhere than a: a gathering ray.
    surfacePoint_t sp = lightfx::hit(b, -toVector(b), wall);
    auto fromAt = [&](const point3d_t& origin) {
        vector3d_t eye = origin - b;
        sp.depth = eye.length() - s.scene.getRayBias();
        s.state.rayLevel = 1;
        return gi->illuminate(s.state, s.scene, sp, eye.normalize());
    };
    EXPECT_FALSE(fromAt(point3d_t(0, -0.2f, 0)).isBlack());
    // From a itself, just lit: a ray its shader traced (a mirror's).
    s.lightAt(*gi, a, vector3d_t(0, 1, 0), wall, 0);
    EXPECT_TRUE(fromAt(a).isBlack());
    // At the last level no gathering ray can follow: the estimate stands in.
    EXPECT_FALSE(s.lightAt(*gi, a, vector3d_t(0, 1, 0), wall, 3).isBlack());
}

// The box has no specular surface, so its caustic light stores nothing.
TEST(photonGi, ClosedBoxFloorIsRedderNextToTheRedWallAndHasNoCaustic) {
    SKIP_WITHOUT_PLUGINS();
    lightScene_t s;
    const shader_t* white = s.diffuse(color_t(0.8f, 0.8f, 0.8f));
    const shader_t* red = s.diffuse(color_t(0.8f, 0.1f, 0.1f));
    s.box(point3d_t(-1, -1, -1), point3d_t(1, 1, 1), white);
    s.mesh({{-0.999f, -1, -1}, {-0.999f, 1, -1}, {-0.999f, 1, 1}, {-0.999f, -1, 1}}, {{0, 1, 2, 3}}, red);
    s.light("point", {{"from", point3d_t(0, 0.8f, 0)}, {"power", 0.5f}});
    s.light("photongi", {{"photons", 20000}});
    light_t* caustic = s.light("caustic", {{"from", point3d_t(0, 0.8f, 0)}, {"photons", 1000}});
    s.scene.setIndirect(true, 8, 1.0f / 64);
    s.ready();
    for (float x : {0.0f, 0.5f, -0.9f})
        EXPECT_TRUE(s.lightAt(*caustic, point3d_t(x, -1, 0), vector3d_t(0, 1, 0), white).isBlack()) << x;
    auto redness = [&](float x) {
        double r = 0, g = 0;
        for (float z = -0.3f; z <= 0.3f; z += 0.1f) {
            const color_t c = s.trace(point3d_t(x, 0, z), vector3d_t(0, -1, 0));
            r += c.R;
            g += c.G;
        }
        return r / g;
    };
    const double nearWall = redness(-0.85f), middle = redness(0.0f), farWall = redness(0.85f);
    EXPECT_GT(nearWall, 1.1 * middle);
    EXPECT_GT(middle, farWall);
}

TEST(photonGi, RoomWallMeansAreThoseOfAnIndependentPathTracer) {
    SKIP_WITHOUT_PLUGINS();
    // The room of scripts/cycles-room-reference.py; the figures it wrote
    // (Cycles, area-weighted mean radiance of each wall) are committed.
    std::ifstream in(VEXLAR_SOURCE_DIR "/tests/reference/cycles-room.json");
    ASSERT_TRUE(in) << "tests/reference/cycles-room.json is missing";
    const nlohmann::json reference = nlohmann::json::parse(in)["mean_radiance"];
    lightScene_t s;
    const color_t white(0.75f, 0.75f, 0.75f), red(0.75f, 0.12f, 0.1f), green(0.15f, 0.6f, 0.15f);
    const struct {
        const char* name;
        point3d_t corner;
        vector3d_t u, v;
        color_t colour;
    } walls[] = {{"floor", {-1, 0, -1}, {2, 0, 0}, {0, 0, 2}, white},
                 {"ceiling", {-1, 2, -1}, {2, 0, 0}, {0, 0, 2}, white},
                 {"back", {-1, 0, -1}, {2, 0, 0}, {0, 2, 0}, white},
                 {"front", {-1, 0, 1}, {2, 0, 0}, {0, 2, 0}, white},
                 {"left", {-1, 0, -1}, {0, 0, 2}, {0, 2, 0}, red},
                 {"right", {1, 0, -1}, {0, 0, 2}, {0, 2, 0}, green}};
    for (const auto& w : walls)
        s.mesh({w.corner, w.corner + w.u, w.corner + w.u + w.v, w.corner + w.v}, {{0, 1, 2, 3}},
               s.diffuse(w.colour));
    s.light("area", {{"corner", point3d_t(-0.25f, 1.999f, -0.25f)},
                     {"edge_u", point3d_t(0.5f, 0, 0)},
                     {"edge_v", point3d_t(0, 0, 0.5f)},
                     {"samples", 6}});
    s.light("photongi", {{"photons", 100000}});
    s.scene.setIndirect(true, 6, 1.0f / 36);
    s.ready();
    for (const auto& w : walls) {
        // Seen straight on from inside the room at 5 x 5 places.
        vector3d_t n = w.u ^ w.v;
        n.normalize();
        if (n * (point3d_t(0, 1, 0) - w.corner) < 0) n = -n;
        color_t sum(0, 0, 0);
        for (float a = 0.1f; a < 1; a += 0.2f)
            for (float b = 0.1f; b < 1; b += 0.2f)
                sum += s.trace(w.corner + a * w.u + b * w.v + 0.5f * n, -n) / 25.0f;
        double expected = 0;
        for (int k = 0; k < 3; ++k) expected += reference[w.name][k].get<double>() / 3;
        EXPECT_NEAR(lightfx::mean3(sum) / expected, 1.0, 0.1) << w.name;
    }
}

TEST(causticLight, BrightestSpotLiesUnderTheGlassBallAndCarriesTheLightThroughIt) {
    SKIP_WITHOUT_PLUGINS();
    lightScene_t s;
    const shader_t* white = s.diffuse(color_t(1, 1, 1));
    const shader_t* glass =
        s.shader("generic", {{"color", color_t(0, 0, 0)}, {"transmit_color", color_t(1, 1, 1)}});
    // A ball lens of radius 1 focuses light from 10 above its centre about
    // 1.76 below it; the floor, 3 below, catches the widening beam.
    s.floor(0, 20, white);
    s.sphere(point3d_t(0, 3, 0), 1, glass);
    light_t* caustic =
        s.light("caustic", {{"from", point3d_t(0, 13, 0)}, {"power", 100.0f}, {"photons", 100000}});
    s.ready();
    auto at = [&](float x, float z) {
        return lightfx::mean3(s.lightAt(*caustic, point3d_t(x, 0, z), vector3d_t(0, 1, 0), white));
    };
    double best = 0, bestX = 9, bestZ = 9;
    for (float x = -0.5f; x <= 0.5f; x += 0.02f)
        for (float z = -0.5f; z <= 0.5f; z += 0.02f)
            if (at(x, z) > best) best = at(x, z), bestX = x, bestZ = z;
    EXPECT_LT(std::hypot(bestX, bestZ), 0.05) << bestX << " " << bestZ;
    // All the light into the ball's cone comes out below it: the flux over
    // rings around the axis.
    double flux = 0;
    const float dr = 0.02f;
    for (float r = dr / 2; r < 6; r += dr)
        flux += 2 * pi * r * dr * (at(r, 0) + at(-r, 0) + at(0, r) + at(0, -r)) / 4;
    const double cone = 2 * pi * (1 - std::sqrt(1 - 1 / 100.0));
    EXPECT_NEAR(flux / (100 * cone), 1.0, 0.05);
}
