// The camera: pinhole and orthographic rays, the lens with random and Halton
// samples, the radical inverse behind them, and degenerate view settings.
#include "vexlarcore/camera.h"
#include "vexlarcore/sampling.h"

#include "scene_fixtures.h"
#include "test_support.h"

#include <cmath>
#include <cstdint>

using namespace vexlar;
using fixtures::frontCamera;
using support::expectNear;

namespace {

double length(const vector3d_t& v) {
    return std::sqrt(static_cast<double>(v.x) * v.x + static_cast<double>(v.y) * v.y +
                     static_cast<double>(v.z) * v.z);
}

/// The i-th Halton value in base b by digit extraction.
double digitsMirrored(int i, int b) {
    double f = 1.0, r = 0.0;
    for (; i > 0; i /= b) r += (f /= b) * (i % b);
    return r;
}

} // namespace

TEST(camera, PinholeRaysThroughSquarePixels) {
    camera_t cam = frontCamera(2, 2);
    expectNear(cam.shootRay(1, 1), vector3d_t(0, 0, -1), 0);
    // (-0.5, 0.5, -1) divided by its length taken in double precision.
    const double len = std::sqrt(1.5);
    const float a = static_cast<float>(0.5 / len), b = static_cast<float>(1.0 / len);
    expectNear(cam.shootRay(0, 0), vector3d_t(-a, a, -b), 0);
    expectNear(cam.shootRay(2, 2), vector3d_t(a, -a, -b), 0);
    // 4 x 2 image, eye 10 from the target, plane at 2: pixels are 1/4 wide and high.
    camera_t wide(point3d_t(1, 2, 3), point3d_t(1, 2, -7), point3d_t(1, 5, 3), 4, 2, 2.0f);
    EXPECT_EQ(wide.lookDistance, 10.0f);
    expectNear(wide.vright, vector3d_t(0.25f, 0, 0), 1e-7f);
    expectNear(wide.vup, vector3d_t(0, -0.25f, 0), 1e-7f);
    const double l = std::sqrt(0.25 + 0.0625 + 4.0);
    expectNear(wide.shootRay(0, 0), vector3d_t(-0.5 / l, 0.25 / l, -2.0 / l), 1e-7f);
    expectNear(wide.rayOrigin, point3d_t(1, 2, 3), 0);
}

TEST(camera, OrthographicOriginsSpanTheViewRectangle) {
    // Eye 5 from the target, focal 2.5: 2 units wide, 1 unit high.
    camera_t cam(point3d_t(0, 0, 5), point3d_t(0, 0, 0), point3d_t(0, 1, 5), 4, 2, 2.5f, 0, 1, false,
                 orthoCamera);
    expectNear(cam.shootRay(0, 0), vector3d_t(0, 0, -1), 0);
    expectNear(cam.rayOrigin, point3d_t(-1.0f, 0.5f, 5.0f), 1e-6f);
    cam.shootRay(4, 2);
    expectNear(cam.rayOrigin, point3d_t(1.0f, -0.5f, 5.0f), 1e-6f);
    // Any orientation: centred on the eye, L / focal wide, aspect times that high.
    const point3d_t eye(2, -3, 1);
    camera_t tilted(eye, point3d_t(-4, 5, 7), point3d_t(2, -3, 9), 30, 20, 0.8f, 0, 1, false, orthoCamera);
    const float L = tilted.lookDistance;
    tilted.shootRay(0, 0);
    const point3d_t c0 = tilted.rayOrigin;
    tilted.shootRay(30, 20);
    const point3d_t c1 = tilted.rayOrigin;
    tilted.shootRay(30, 0);
    const point3d_t tr = tilted.rayOrigin;
    expectNear(point3d_t(0.5f * (c0.x + c1.x), 0.5f * (c0.y + c1.y), 0.5f * (c0.z + c1.z)), eye, 2e-5f);
    EXPECT_NEAR((c1 - c0) * tilted.viewDir, 0.0f, 2e-5f);
    EXPECT_NEAR(length(tr - c0), L / 0.8f, 2e-5 * L);
    EXPECT_NEAR(length(c1 - tr), (20.0f / 30.0f) * L / 0.8f, 2e-5 * L);
}

TEST(camera, LensSamplesFromTheGeneratorOrHaltonAndRaysMeetInFocus) {
    const int saved = myseed;
    camera_t cam = frontCamera(2, 2, 0.5f, 4.0f);
    myseed = 123212;
    const vector3d_t d = cam.shootRay(1, 1);
    EXPECT_EQ(myseed, 72912859); // two draws, the first one is r1
    myseed = 123212;
    const float r1 = nextRandom(), r2 = nextRandom();
    float u, v;
    ShirleyDisc(r1, r2, u, v);
    const vector3d_t li = u * cam.dofRight + v * cam.dofUp;
    expectNear(cam.rayOrigin, point3d_t(li.x, li.y, li.z), 0);
    vector3d_t aim = vector3d_t(0, 0, -4.0f) - li; // through the pinhole ray's point at the focus
    expectNear(d, aim / static_cast<float>(length(aim)), 1e-7f);

    camera_t q = frontCamera(2, 2, 0.3f, 2.0f, true);
    const int seed = myseed;
    q.shootRay(1, 1);
    // r1 = 0.5, r2 = 1/3: the disc point (0, -1/3), along dofUp, which points down the image.
    expectNear(q.rayOrigin, point3d_t(0.0f, 0.1f, 0.0f), 1e-7f);
    for (int i = 2; i <= 20; ++i) {
        q.shootRay(0.5f, 1.5f);
        EXPECT_EQ(q.halton2.value, digitsMirrored(i, 2));
        EXPECT_NEAR(q.halton3.value, digitsMirrored(i, 3), 1e-12);
    }
    EXPECT_EQ(myseed, seed);
    halton_t h(5); // a long run, carries included
    for (int i = 1; i <= 1000; ++i) ASSERT_NEAR(h.getNext(), digitsMirrored(i, 5), 1e-9) << i;
    // Every lens ray meets its pinhole ray on the sharp surface.
    myseed = 987654;
    const point3d_t from(1, 2, 3), to(-2, 0.5f, -6), up(1, 3, 3);
    for (cameraType type : {perspectiveCamera, orthoCamera})
        for (bool qmc : {false, true}) {
            camera_t pinhole(from, to, up, 40, 30, 1.2f, 0.0f, 1.0f, false, type);
            camera_t lens(from, to, up, 40, 30, 1.2f, 0.25f, 6.5f, qmc, type);
            bool quadrant[4] = {false, false, false, false};
            for (int i = 0; i < 200; ++i) {
                const float x = static_cast<float>(i % 41), y = static_cast<float>((i * 7) % 31);
                const vector3d_t d0 = pinhole.shootRay(x, y), d = lens.shootRay(x, y);
                const vector3d_t li = lens.rayOrigin - pinhole.rayOrigin;
                ASSERT_NEAR(length(d), 1.0, 1e-6);
                ASSERT_LE(length(li), 0.25 * (1.0 + 1e-6));
                ASSERT_NEAR(li * lens.viewDir, 0.0f, 1e-6f);
                const point3d_t target = pinhole.rayOrigin + lens.focusDistance * d0;
                const point3d_t reached =
                    lens.rayOrigin + static_cast<float>(length(target - lens.rayOrigin)) * d;
                ASSERT_LE(length(reached - target), 3.5e-6 * lens.focusDistance) << type << qmc << i;
                if (length(li) > 0.2)
                    quadrant[(li * lens.dofRight > 0 ? 0 : 1) + (li * lens.dofUp > 0 ? 0 : 2)] = true;
            }
            for (bool q : quadrant) EXPECT_TRUE(q) << "the samples reach the rim everywhere";
        }
    myseed = saved;
}

TEST(camera, DegenerateViewsStillGiveUnitRays) {
    const point3d_t frames[][3] = {
        {point3d_t(0, 0, 0), point3d_t(0, 0, -5), point3d_t(0, 0, 3)},  // up along the view
        {point3d_t(0, 0, 0), point3d_t(0, 0, -5), point3d_t(0, 0, 0)},  // up on the eye
        {point3d_t(0, 0, 0), point3d_t(0, -5, 0), point3d_t(0, 1, 0)},  // looking down, up +y
        {point3d_t(2, 2, 2), point3d_t(2, 9, 2), point3d_t(2, 2, 2)},   // looking up, up on the eye
        {point3d_t(1, 1, 1), point3d_t(1, 1, 1), point3d_t(1, 2, 1)},   // target on the eye
        {point3d_t(1, 2, 3), point3d_t(4, 6, 3), point3d_t(-2, -2, 3)}, // up behind the eye
    };
    for (const auto& f : frames) // from, to, up
        for (cameraType type : {perspectiveCamera, orthoCamera}) {
            camera_t cam(f[0], f[1], f[2], 10, 10, 1.0f, 0.2f, 3.0f, true, type);
            SCOPED_TRACE(::testing::Message() << "to " << cam.viewDir << " type " << type);
            // Two axes across the view a pixel apart, unit rays (NaN fails too).
            const vector3d_t a = cam.shootRay(0, 0), b = cam.shootRay(10, 10);
            EXPECT_TRUE(std::fabs(length(cam.vright) - 0.1) < 1e-6 &&
                        std::fabs(length(cam.vup) - 0.1) < 1e-6 && std::fabs(cam.vup * cam.vright) < 1e-7f &&
                        std::fabs(length(a) - 1) < 1e-6 && std::fabs(length(b) - 1) < 1e-6 &&
                        (type == orthoCamera || length(a - b) > 0.5));
        }
    camera_t onEye(point3d_t(1, 1, 1), point3d_t(1, 1, 1), point3d_t(1, 2, 1), 8, 6, 1.0f);
    EXPECT_EQ(onEye.lookDistance, 0.0f); // looks along -z, up keeps its meaning
    EXPECT_TRUE(onEye.shootRay(4, 0).y > 0 && onEye.shootRay(8, 3).x > 0);
}

TEST(radicalInverse, DigitsMirroredAboutThePointAsTheDigitModelDoes) {
    const struct {
        std::uint64_t i;
        int base;
        double expected;
    } cases[] = {{0, 2, 0.0},
                 {6, 2, 0.375},
                 {0xffffffffu, 2, 1.0 - 0x1p-32},
                 {std::uint64_t(1) << 52, 2, 0x1p-53},
                 {0x8000000000000000u, 2, 0x1p-64},
                 {5, 3, 2.0 / 3 + 1.0 / 9},
                 {7, 5, 2.0 / 5 + 1.0 / 25}};
    // 6 is 110 -> 0.011; every bit of a 32-bit index counts, and the result is
    // exact up to 2^53; 5 in base 3 is 12 -> 0.21. Base 2 is exact; other bases
    // are within rounding.
    for (const auto& c : cases)
        EXPECT_NEAR(radicalInverse(c.i, c.base), c.expected, c.base == 2 ? 0.0 : 1e-15)
            << c.i << " in " << c.base;
    for (int base : {2, 3, 7})
        for (int i = 1; i < 2000; ++i)
            ASSERT_NEAR(radicalInverse(i, base), digitsMirrored(i, base), 1e-12) << i;
}
