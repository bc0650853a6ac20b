// The area and sky lights against answers computed here: form factors,
// the point light a one-sample area light stands for, penumbra widths, the
// sky over an open plane and inside a closed box, and importance sampling of
// a bright spot against cosine-weighted rays.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vexlarcore/colorutil.h"

#include "light_fixtures.h"
#include "test_support.h"

using namespace vexlar;
using lightfx::lightScene_t;
using lightfx::moments_t;
using lightfx::with;

namespace {

const double pi = 3.141592653589793;

// Form factor from a point to a parallel rectangle x by y whose corner lies
// straight above it at height c.
double cornerFormFactor(double x, double y, double c) {
    const double X = x / c, Y = y / c, sx = std::sqrt(1 + X * X), sy = std::sqrt(1 + Y * Y);
    return (X / sx * std::atan(Y / sx) + Y / sy * std::atan(X / sy)) / (2 * pi);
}

// A light of size a x b facing down at height h, centred over the origin.
lightfx::settings_t overhead(const char* shape, float a, float b, float h, float power) {
    return {{"shape", shape},
            {"corner", point3d_t(-a / 2, h, -b / 2)},
            {"edge_u", point3d_t(a, 0, 0)},
            {"edge_v", point3d_t(0, 0, b)},
            {"power", power}};
}

// The mean of what `l` delivers at p on a surface of `sh` facing n.
double lit(lightScene_t& s, const light_t& l, const point3d_t& p, const shader_t* sh,
           const vector3d_t& n = vector3d_t(0, 1, 0)) {
    return lightfx::mean3(s.lightAt(l, p, n, sh));
}

// The moments of what lights a and b give over a grid of points on the plane through the origin
// facing n (y or z), from -half to half in steps of `step`.
std::pair<moments_t, moments_t> gridMoments(lightScene_t& s, const light_t& a, const light_t& b, float half,
                                            float step, const vector3d_t& n, const shader_t* sh) {
    std::vector<double> va, vb;
    for (float u = -half; u < half; u += step)
        for (float v = -half; v < half; v += step) {
            const point3d_t p = n.z > 0 ? point3d_t(u, v, 0) : point3d_t(u, 0, v);
            va.push_back(lit(s, a, p, sh, n));
            vb.push_back(lit(s, b, p, sh, n));
        }
    return {lightfx::momentsOf(va), lightfx::momentsOf(vb)};
}

} // namespace

TEST(areaLight, IrradianceIsTheFormFactorAndOneSampleIsAPointLightAtTheCentre) {
    SKIP_WITHOUT_PLUGINS();
    const struct {
        const char* shape;
        float a, b, h;
        const char* visible;
        double formFactor;
    } cases[] = {
        {"rectangle", 0.6f, 0.4f, 0.5f, "on", 4 * cornerFormFactor(0.3, 0.2, 0.5)},
        {"disc", 1, 1, 1, "off", 0.25 / (0.25 + 1)},
    };
    for (const auto& c : cases) {
        lightScene_t s;
        const shader_t* white = s.diffuse(color_t(1, 1, 1));
        const lightfx::settings_t set = overhead(c.shape, c.a, c.b, c.h, 2.0f);
        light_t* l = s.light("area", with(set, {{"samples", 16}, {"visible", c.visible}}));
        light_t* one = s.light("area", with(set, {{"samples", 1}, {"jitter", "off"}}));
        light_t* point = s.light("point", {{"from", point3d_t(0, c.h, 0)}, {"power", 2.0f}});
        s.ready();
        // At 16 x 16 samples: radiance pi * power / area times the form factor, for albedo 1.
        const double area = c.a * c.b * (c.shape[0] == 'd' ? pi / 4 : 1);
        const double expected = pi * 2.0 / area * c.formFactor;
        const double got = lit(s, *l, point3d_t(0, 0, 0), white);
        EXPECT_NEAR(got / expected, 1.0, 0.02) << c.shape << " " << c.a << " x " << c.b << " at " << c.h;
        // One sample: the point light at the centre, seen at the emitter's angle.
        for (float x : {0.0f, 0.7f, -1.9f})
            for (float z : {0.0f, 1.3f}) {
                const point3d_t p(x, 0, z);
                const double cosEmitter = c.h / std::sqrt(x * x + c.h * c.h + z * z);
                const double b = lit(s, *point, p, white);
                EXPECT_NEAR(lit(s, *one, p, white), b * cosEmitter, 1e-5 * b)
                    << c.shape << " at " << x << " " << z;
            }
    }
}

TEST(areaLight, PenumbraUnderASphereWidensWithTheLightsSize) {
    SKIP_WITHOUT_PLUGINS();
    for (float size : {0.25f, 1.0f, 2.0f}) {
        lightScene_t s;
        const shader_t* white = s.diffuse(color_t(1, 1, 1));
        s.sphere(point3d_t(0, 1.5f, 0), 0.5f, white);
        const lightfx::settings_t set = with(overhead("rectangle", size, size, 4, 16.0f), {{"samples", 16}});
        light_t* shadowed = s.light("area", set);
        light_t* open = s.light("area", with(set, {{"shadows", "off"}}));
        s.ready();
        // Width of the band along x where the floor sees part of the light.
        double width = 0;
        for (float x = -3; x <= 3; x += 0.01f) {
            const point3d_t p(x, 0, 0);
            const double f = lit(s, *shadowed, p, white) / lit(s, *open, p, white);
            if (f > 0.02 && f < 0.98) width += 0.01;
        }
        // Similar triangles: the light's size times 1.5 / 2.5 on each side (the
        // tolerances leave the three sizes' bands apart, so the width grows).
        EXPECT_NEAR(width, 2 * 0.6 * size, 0.25 * 2 * 0.6 * size + 0.05) << size;
    }
}

TEST(areaLight, VisibleEmitterShowsItsRadianceToCameraRaysOnlyAndCastsNoShadow) {
    SKIP_WITHOUT_PLUGINS();
    lightScene_t s;
    const shader_t* white = s.diffuse(color_t(1, 1, 1));
    s.floor(0, 5, white);
    s.light("area", with(overhead("rectangle", 1, 2, 2, 1.5f),
                         {{"visible", "on"}, {"color", color_t(1, 0.5f, 0.25f)}}));
    s.ready();
    const double radiance = pi * 1.5 / 2;
    support::expectColor(s.trace(point3d_t(0.1f, 1, 0.2f), vector3d_t(0, 1, 0)), radiance, radiance / 2,
                         radiance / 4, 1e-5);
    EXPECT_TRUE(s.trace(point3d_t(0, 3, 0), vector3d_t(0, -1, 0)).isBlack()) << "its back is dark";
    EXPECT_GT(s.trace(point3d_t(0, 1, 0), vector3d_t(0, -1, 0)).R, 0.1f) << "the floor under it is lit";
}

TEST(skyLight, ClosedBoxReceivesNothingUnlessItsWallsLieBeyondTheDistance) {
    SKIP_WITHOUT_PLUGINS();
    lightScene_t s;
    const shader_t* clay = s.diffuse(color_t(0.5f, 0.5f, 0.5f));
    s.box(point3d_t(-1, -1, -1), point3d_t(1, 1, 1), clay);
    light_t* sky = s.light("sky", {{"source", "color"}});
    light_t* near = s.light("sky", {{"source", "color"}, {"distance", 0.9f}});
    s.ready();
    for (const point3d_t& p : {point3d_t(0, -1, 0), point3d_t(0.5f, -1, -0.3f)})
        EXPECT_TRUE(s.lightAt(*sky, p, vector3d_t(0, 1, 0), clay).isBlack());
    // From the floor's middle every wall is at least 1 away.
    EXPECT_NEAR(s.lightAt(*near, point3d_t(0, -1, 0), vector3d_t(0, 1, 0), clay).G, 0.5, 1e-5);
}

TEST(skyLight, OpenPlaneSeesTheSkyAndImportanceSamplingOfABrightSpotCutsVariance) {
    SKIP_WITHOUT_PLUGINS();
    // A sky of radiance 1 with a spot of 8 degrees' radius, 40 degrees
    // from the zenith, about as bright in all as the rest of the sky.
    const double alpha = 8 * pi / 180, theta = 40 * pi / 180;
    const double spot = 1 / (std::sin(alpha) * std::sin(alpha) * std::cos(theta));
    const vector3d_t toSpot(static_cast<float>(std::sin(theta)), static_cast<float>(std::cos(theta)), 0);
    lightScene_t s;
    const shader_t* clay = s.diffuse(color_t(0.6f, 0.6f, 0.6f));
    s.floor(0, 50, clay);
    s.background([&](const vector3d_t& d) {
        return color_t(d * toSpot >= std::cos(alpha) ? static_cast<float>(1 + spot) : 1.0f);
    });
    light_t* uniform =
        s.light("sky", {{"source", "color"}, {"color", color_t(0.5f, 0.7f, 0.9f)}, {"power", 2.0f}});
    light_t* importance = s.light("sky", {{"samples", 64}});
    light_t* cosine = s.light("sky", {{"samples", 64}, {"importance", "off"}});
    s.ready();
    for (const point3d_t& p : {point3d_t(0, 0, 0), point3d_t(-2.7f, 0, 1.9f), point3d_t(4.1f, 0, -3.3f)})
        support::expectColor(s.lightAt(*uniform, p, vector3d_t(0, 1, 0), clay), 0.6, 0.84, 1.08, 1e-5);
    const auto [mi, mc] = gridMoments(s, *importance, *cosine, 5, 0.2f, vector3d_t(0, 1, 0), clay);
    // The cap of half-angle alpha gives spot * sin^2(alpha) * cos(theta) = 1: the sky brings 2, times albedo.
    EXPECT_NEAR(mi.mean, 0.6 * 2.0, 0.02 * 0.6 * 2.0);
    EXPECT_NEAR(mc.mean / mi.mean, 1.0, 0.03);
    EXPECT_GT(mc.variance, 4 * mi.variance);
}

TEST(skyLight, PictureSunSmallerThanATableCellStillGivesItsShadowCleanly) {
    SKIP_WITHOUT_PLUGINS();
    // A 256 x 128 latitude-longitude picture (z up): sky of radiance 1 and a
    // sun of 1.2 degrees' radius 40 degrees from the zenith that brings
    // about as much light as the sky. The default table's cells are 2.8
    // degrees wide, so look-ups at four points per cell would mostly miss it.
    const int W = 256, H = 128;
    const double alpha = 1.2 * pi / 180, theta = 40 * pi / 180;
    const double sun = 1 / (std::sin(alpha) * std::sin(alpha) * std::cos(theta));
    double expected = 0; // what a white plane facing up reflects: the sum over texels of L cos / pi
    std::string hdr =
        "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y " + std::to_string(H) + " +X " + std::to_string(W) + "\n";
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            // The centre of the picture faces x; the azimuth grows leftwards.
            const double el = pi / 2 - (y + 0.5) / H * pi, az = (0.5 - (x + 0.5) / W) * 2 * pi;
            const double c = std::cos(el) * std::cos(az) * std::sin(theta) + std::sin(el) * std::cos(theta);
            const rgbe_t e(color_t(c >= std::cos(alpha) ? static_cast<float>(1 + sun) : 1.0f));
            if (el > 0)
                expected += e.toColor().G * std::sin(el) * std::cos(el) * (2 * pi / W) * (pi / H) / pi;
            hdr += {char(e.R), char(e.G), char(e.B), char(e.E)};
        }
    support::tempDir_t dir;
    const std::string path = dir.write("sun.hdr", hdr);
    lightScene_t s;
    const shader_t* white = s.diffuse(color_t(1, 1, 1));
    s.mesh({{-50, -50, 0}, {50, -50, 0}, {50, 50, 0}, {-50, 50, 0}}, {{0, 1, 2, 3}}, white);
    paramMap_t params = lightfx::paramsOf({{"filename", path.c_str()}});
    std::unique_ptr<background_t> picture(standardPlugins().createBackground("image", params, s.context));
    ASSERT_TRUE(picture) << s.context.warnings.front();
    s.scene.setBackground(picture.get());
    light_t* importance = s.light("sky", {{"samples", 32}});
    light_t* cosine = s.light("sky", {{"samples", 32}, {"importance", "off"}});
    s.ready();
    const auto [mi, mc] = gridMoments(s, *importance, *cosine, 5, 0.25f, vector3d_t(0, 0, 1), white);
    // The texels quantise the sun's disc: its share is not exactly 1.
    EXPECT_NEAR(mi.mean / expected, 1.0, 0.03) << expected;
    EXPECT_NEAR(mc.mean / mi.mean, 1.0, 0.1); // the cosine rays' mean is itself noisy
    // Look-ups at four points per cell reach about 60 here.
    EXPECT_GT(mc.variance, 200 * mi.variance);
}
