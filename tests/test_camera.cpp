#include "vexlarcore/camera.h"
#include "vexlarcore/sampling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace vexlar;

namespace {

bool finite(const vector3d_t& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

/// Component checks of a vector or point; a tolerance of 0 asks for exact
/// equality.
template <class V> void expectVec(const V& v, float x, float y, float z, float tol = 0.0f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

double length(const vector3d_t& v) {
    return std::sqrt(static_cast<double>(v.x) * v.x + static_cast<double>(v.y) * v.y +
                     static_cast<double>(v.z) * v.z);
}

/// Radical inverse of i in base b, the i-th Halton value (i >= 1).
double radicalInverse(int i, int b) {
    double f = 1.0, r = 0.0;
    while (i > 0) {
        f /= b;
        r += f * (i % b);
        i /= b;
    }
    return r;
}

/// Saves and restores the process-wide seed around a test.
class seedGuard_t {
public:
    seedGuard_t() : saved(myseed) {}
    ~seedGuard_t() { myseed = saved; }
    int saved;
};

/// Checks that a lens ray shot by `cam` for pixel (x, y) starts on the lens
/// disc and passes through the point the pinhole ray reaches at the focus
/// distance.
void checkLensRay(camera_t& cam, const camera_t& pinhole, float x, float y) {
    camera_t pin = pinhole;
    vector3d_t d0 = pin.shootRay(x, y);
    point3d_t o0 = pin.rayOrigin;
    vector3d_t d = cam.shootRay(x, y);
    ASSERT_NEAR(length(d), 1.0, 1e-6);
    // Lens offset: inside the aperture disc, across the viewing direction.
    vector3d_t li = cam.rayOrigin - o0;
    ASSERT_LE(length(li), cam.aperture * (1.0 + 1e-6));
    ASSERT_NEAR(li * cam.viewDir, 0.0f, 1e-6f * cam.aperture);
    // Both rays meet at the pinhole ray's point at focusDistance.
    const point3d_t target = o0 + cam.focusDistance * d0;
    const point3d_t reached = cam.rayOrigin + static_cast<float>(length(target - cam.rayOrigin)) * d;
    ASSERT_LE(length(reached - target), 3.5e-6 * cam.focusDistance);
}

} // namespace

TEST(Camera, PerspectiveExampleRays) {
    camera_t cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 2, 2, 1.0f);
    expectVec(cam.viewDir, 0, 0, -1);
    EXPECT_EQ(cam.lookDistance, 1.0f);
    expectVec(cam.vto, -0.5f, 0.5f, -1.0f);
    expectVec(cam.vright, 0.5f, 0.0f, 0.0f);
    expectVec(cam.vup, 0.0f, -0.5f, 0.0f);

    expectVec(cam.shootRay(1, 1), 0, 0, -1);
    expectVec(cam.rayOrigin, 0, 0, 0, 0.0f);
    // (-0.5, 0.5, -1) divided by its length taken in double precision.
    const double len = std::sqrt(1.5);
    const float a = static_cast<float>(0.5 / len), b = static_cast<float>(1.0 / len);
    expectVec(cam.shootRay(0, 0), -a, a, -b);
    expectVec(cam.shootRay(2, 2), a, -a, -b);
}

TEST(Camera, PixelsAreSquareAndTheCentreLooksAtTheTarget) {
    // 4 x 2 image, eye 10 units from the target, image plane at 2.
    camera_t cam(point3d_t(1, 2, 3), point3d_t(1, 2, -7), point3d_t(1, 5, 3), 4, 2, 2.0f);
    EXPECT_EQ(cam.lookDistance, 10.0f);
    expectVec(cam.viewDir, 0, 0, -1);
    expectVec(cam.vright, 0.25f, 0, 0, 1e-7f);
    expectVec(cam.vup, 0, -0.25f, 0, 1e-7f);
    expectVec(cam.shootRay(2, 1), 0, 0, -1, 1e-7f);
    expectVec(cam.rayOrigin, 1, 2, 3, 0.0f);
    // Top-left corner of the 1 x 0.5 plane at distance 2.
    const vector3d_t tl = cam.shootRay(0, 0);
    const double l = std::sqrt(0.25 + 0.0625 + 4.0);
    expectVec(tl, static_cast<float>(-0.5 / l), static_cast<float>(0.25 / l), static_cast<float>(-2.0 / l),
              1e-7f);
}

TEST(Camera, WithoutApertureNothingDependsOnLensSettings) {
    seedGuard_t guard;
    const point3d_t from(0.5f, -1.0f, 2.0f), to(3.0f, 1.0f, -4.0f), up(0.5f, 0.0f, 2.0f);
    camera_t plain(from, to, up, 64, 48, 1.5f, 0.0f, 1.0f, false);
    camera_t qmc(from, to, up, 64, 48, 1.5f, 0.0f, 7.0f, true);
    const int seed = myseed;
    for (float y = 0; y <= 48; y += 11.5f)
        for (float x = 0; x <= 64; x += 6.25f) {
            vector3d_t a = plain.shootRay(x, y);
            vector3d_t b = qmc.shootRay(x, y);
            EXPECT_EQ(a, b);
            EXPECT_NEAR(length(a), 1.0, 1e-6);
            expectVec(qmc.rayOrigin, from.x, from.y, from.z, 0.0f);
        }
    EXPECT_EQ(myseed, seed);
    EXPECT_EQ(qmc.halton2.value, 0.0);
    EXPECT_EQ(qmc.halton3.value, 0.0);
}

TEST(Camera, OrthographicOriginsSpanTheViewRectangle) {
    // Eye 5 units from the target, focal 2.5: 2 units wide, 1 unit high.
    const point3d_t eye(0, 0, 5);
    camera_t cam(eye, point3d_t(0, 0, 0), point3d_t(0, 1, 5), 4, 2, 2.5f, 0.0f, 1.0f, false, orthoCamera);
    EXPECT_EQ(cam.camType, orthoCamera);
    expectVec(cam.shootRay(0, 0), 0, 0, -1);
    expectVec(cam.rayOrigin, -1.0f, 0.5f, 5.0f, 1e-6f);
    expectVec(cam.shootRay(4, 2), 0, 0, -1);
    expectVec(cam.rayOrigin, 1.0f, -0.5f, 5.0f, 1e-6f);
    expectVec(cam.shootRay(2, 1), 0, 0, -1);
    expectVec(cam.rayOrigin, 0.0f, 0.0f, 5.0f, 1e-6f);
    expectVec(cam.orthoCorner, -1.0f, 0.5f, 5.0f, 1e-6f);
}

TEST(Camera, OrthographicRectangleIsCentredForAnyOrientation) {
    const point3d_t eye(2, -3, 1), target(-4, 5, 7), up(2, -3, 9);
    camera_t cam(eye, target, up, 30, 20, 0.8f, 0.0f, 1.0f, false, orthoCamera);
    const float L = cam.lookDistance;
    EXPECT_NEAR(L, std::sqrt(36.0 + 64.0 + 36.0), 1e-5);
    cam.shootRay(0, 0);
    const point3d_t c0 = cam.rayOrigin;
    vector3d_t d = cam.shootRay(30, 20);
    const point3d_t c1 = cam.rayOrigin;
    expectVec(d, cam.viewDir.x, cam.viewDir.y, cam.viewDir.z);
    // Centred on the eye.
    expectVec(point3d_t(0.5f * (c0.x + c1.x), 0.5f * (c0.y + c1.y), 0.5f * (c0.z + c1.z)), eye.x, eye.y,
              eye.z, 2e-5f);
    // Width L / focal, height aspect * L / focal, across the view.
    vector3d_t diag = c1 - c0;
    EXPECT_NEAR(diag * cam.viewDir, 0.0f, 2e-5f);
    cam.shootRay(30, 0);
    const point3d_t topRight = cam.rayOrigin;
    EXPECT_NEAR(length(topRight - c0), L / 0.8f, 2e-5 * L);
    EXPECT_NEAR(length(c1 - topRight), (20.0f / 30.0f) * L / 0.8f, 2e-5 * L);
}

TEST(Camera, HaltonSequences) {
    camera_t cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 2, 2, 1.0f);
    EXPECT_EQ(cam.halton2.base, 2);
    EXPECT_EQ(cam.halton2.invBase, 0.5);
    EXPECT_EQ(cam.halton2.value, 0.0);
    EXPECT_EQ(cam.halton3.base, 3);
    EXPECT_EQ(cam.halton3.invBase, 1.0 / 3.0);
    EXPECT_EQ(cam.halton3.value, 0.0);

    // Runs agree with the radical inverse, carries included.
    for (int b : {2, 3, 5}) {
        halton_t h(b);
        for (int i = 1; i <= 1000; ++i) {
            const double v = h.getNext();
            ASSERT_NEAR(v, radicalInverse(i, b), 1e-9) << "base " << b << " index " << i;
            ASSERT_EQ(h.value, v);
        }
    }
}

TEST(Camera, RandomLensSamplesDrawTwoNumbersInOrder) {
    seedGuard_t guard;
    camera_t cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 2, 2, 1.0f, 0.5f, 4.0f, false);
    myseed = 123212;
    vector3d_t d = cam.shootRay(1, 1);
    EXPECT_EQ(myseed, 72912859);
    // The first draw is r1, the second r2.
    myseed = 123212;
    const float r1 = nextRandom();
    const float r2 = nextRandom();
    float u, v;
    ShirleyDisc(r1, r2, u, v);
    const vector3d_t li = u * cam.dofRight + v * cam.dofUp;
    expectVec(cam.rayOrigin, li.x, li.y, li.z, 0.0f);
    // dofRight is (0.5, 0, 0) and dofUp (0, -0.5, 0).
    expectVec(cam.dofRight, 0.5f, 0, 0);
    expectVec(cam.dofUp, 0, -0.5f, 0);
    vector3d_t aim = vector3d_t(0, 0, -4.0f) - li;
    aim = aim / static_cast<float>(length(aim));
    expectVec(d, aim.x, aim.y, aim.z, 1e-7f);
}

TEST(Camera, QmcLensSamplesComeFromBothHaltonSequences) {
    seedGuard_t guard;
    camera_t cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 2, 2, 1.0f, 0.3f, 2.0f, true);
    const int seed = myseed;
    cam.shootRay(1, 1);
    EXPECT_EQ(myseed, seed);
    EXPECT_EQ(cam.halton2.value, 0.5);
    EXPECT_NEAR(cam.halton3.value, 1.0 / 3.0, 1e-15);
    // r1 = 0.5, r2 = 1/3: the disc point (0, -1/3), i.e. 1/3 of the way down
    // the lens' down axis, which points up in the image.
    expectVec(cam.rayOrigin, 0.0f, 0.1f, 0.0f, 1e-7f);

    // Successive shots continue the sequences.
    for (int i = 2; i <= 20; ++i) {
        cam.shootRay(0.5f, 1.5f);
        EXPECT_EQ(cam.halton2.value, radicalInverse(i, 2));
        EXPECT_NEAR(cam.halton3.value, radicalInverse(i, 3), 1e-12);
    }
    EXPECT_EQ(myseed, seed);
}

TEST(Camera, LensRaysStayInTheApertureAndMeetThePinholeRayInFocus) {
    seedGuard_t guard;
    myseed = 987654;
    const point3d_t from(1, 2, 3), to(-2, 0.5f, -6), up(1, 3, 3);
    for (cameraType type : {perspectiveCamera, orthoCamera}) {
        for (bool qmc : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " qmc " << qmc);
            camera_t pinhole(from, to, up, 40, 30, 1.2f, 0.0f, 1.0f, false, type);
            camera_t lens(from, to, up, 40, 30, 1.2f, 0.25f, 6.5f, qmc, type);
            for (int i = 0; i < 120; ++i) {
                const float x = static_cast<float>(i % 41), y = static_cast<float>((i * 7) % 31);
                checkLensRay(lens, pinhole, x, y);
            }
        }
    }
}

TEST(Camera, LensSamplesCoverTheDisc) {
    // With many samples some offsets come close to the rim in every quadrant.
    camera_t cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 2, 2, 1.0f, 1.0f, 1.0f, true);
    bool quadrant[4] = {false, false, false, false};
    for (int i = 0; i < 256; ++i) {
        cam.shootRay(1, 1);
        const point3d_t o = cam.rayOrigin;
        const double r = std::sqrt(static_cast<double>(o.x) * o.x + static_cast<double>(o.y) * o.y);
        ASSERT_LE(r, 1.0 + 1e-6);
        ASSERT_EQ(o.z, 0.0f);
        if (r > 0.9) quadrant[(o.x >= 0 ? 0 : 1) + (o.y >= 0 ? 0 : 2)] = true;
    }
    for (int q = 0; q < 4; ++q) EXPECT_TRUE(quadrant[q]) << q;
}

TEST(Camera, UnknownTypeValuesArePerspective) {
    camera_t cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 2, 2, 1.0f, 0.0f, 1.0f, false,
                 static_cast<cameraType>(7));
    const vector3d_t d = cam.shootRay(0, 0);
    EXPECT_LT(d.x, 0.0f);
    EXPECT_GT(d.y, 0.0f);
}

TEST(Camera, LookAtPointOnTheEyeStillGivesUnitRays) {
    const point3d_t eye(1, 1, 1);
    for (cameraType type : {perspectiveCamera, orthoCamera}) {
        camera_t cam(eye, eye, point3d_t(1, 2, 1), 8, 6, 1.0f, 0.1f, 2.0f, false, type);
        EXPECT_EQ(cam.lookDistance, 0.0f);
        expectVec(cam.viewDir, 0, 0, -1);
        EXPECT_TRUE(finite(cam.orthoCorner.toVector()));
        for (const vector3d_t* v :
             {&cam.vto, &cam.vup, &cam.vright, &cam.dofUp, &cam.dofRight, &cam.orthoRight, &cam.orthoUp})
            EXPECT_TRUE(finite(*v));
        for (float x = 0; x <= 8; x += 4) {
            ASSERT_NEAR(length(cam.shootRay(x, x * 0.75f)), 1.0, 1e-6);
            ASSERT_TRUE(finite(cam.rayOrigin.toVector()));
        }
    }
    // Up given as +y keeps its meaning: the top of the image is +y.
    camera_t cam(eye, eye, point3d_t(1, 2, 1), 8, 6, 1.0f);
    EXPECT_GT(cam.shootRay(4, 0).y, 0.0f);
    EXPECT_LT(cam.shootRay(4, 6).y, 0.0f);
    EXPECT_GT(cam.shootRay(8, 3).x, 0.0f);
}

TEST(Camera, UpPointOnTheViewingLineStillGivesAnImage) {
    struct frame_t {
        point3d_t from, to, up;
    };
    const frame_t frames[] = {
        {point3d_t(0, 0, 0), point3d_t(0, 0, -5), point3d_t(0, 0, 3)},  // up along the view
        {point3d_t(0, 0, 0), point3d_t(0, 0, -5), point3d_t(0, 0, 0)},  // up point on the eye
        {point3d_t(0, 0, 0), point3d_t(0, -5, 0), point3d_t(0, 1, 0)},  // looking down, up +y
        {point3d_t(2, 2, 2), point3d_t(2, 9, 2), point3d_t(2, 2, 2)},   // looking up, up on the eye
        {point3d_t(1, 2, 3), point3d_t(4, 6, 3), point3d_t(-2, -2, 3)}, // up behind the eye
    };
    for (const frame_t& f : frames) {
        for (cameraType type : {perspectiveCamera, orthoCamera}) {
            camera_t cam(f.from, f.to, f.up, 10, 10, 1.0f, 0.2f, 3.0f, true, type);
            SCOPED_TRACE(::testing::Message() << "to " << cam.viewDir << " type " << type);
            EXPECT_NEAR(length(cam.viewDir), 1.0, 1e-6);
            // Two image axes across the view, a pixel apart.
            EXPECT_NEAR(length(cam.vright), 0.1, 1e-6);
            EXPECT_NEAR(length(cam.vup), 0.1, 1e-6);
            EXPECT_NEAR(cam.vright * cam.viewDir, 0.0f, 1e-7f);
            EXPECT_NEAR(cam.vup * cam.viewDir, 0.0f, 1e-7f);
            EXPECT_NEAR(cam.vup * cam.vright, 0.0f, 1e-7f);
            vector3d_t a = cam.shootRay(0, 0), b = cam.shootRay(10, 10);
            EXPECT_NEAR(length(a), 1.0, 1e-6); // NaN fails too
            EXPECT_NEAR(length(b), 1.0, 1e-6);
            if (type == perspectiveCamera) {
                EXPECT_GT(length(a - b), 0.5);
            }
        }
    }
}
