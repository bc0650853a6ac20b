// Rendering blocks and whole images: first samples, adaptive anti-aliasing,
// render regions, and a scene of spheres, an instance and a mesh floor checked
// pixel by pixel against an independent double-precision model.
#include "scene_fixtures.h"
#include "test_support.h"

#include "vexlarcore/mesh.h"
#include "vexlarcore/reference.h"
#include "vexlarcore/sphere.h"

#include <algorithm>
#include <cmath>

using namespace vexlar;
using namespace fixtures;
using support::captured;

namespace {

struct sampleRecord_t {
    point3d_t screen;
    vector3d_t dir;
    int sampleIndex, pixelNumber;
    float contribution;
};

/// Records every lookup; its colour is a function of the screen position.
class recordingBackground_t : public background_t {
public:
    color_t lookup(const vector3d_t& dir, renderState_t& state) const override {
        records.push_back({state.screenPos, dir, state.sampleIndex, state.pixelNumber, state.contribution});
        state.contribution = 0.5f; // the driver resets it for first samples only
        return shade(state.screenPos.x, state.screenPos.y);
    }
    static color_t shade(double sx, double sy) {
        return color_t(static_cast<float>((sx + 1) / 2), static_cast<float>((sy + 1) / 2), 0.25f);
    }
    mutable std::vector<sampleRecord_t> records;
};

class block : public ::testing::Test {
protected:
    static constexpr int resx = 8, resy = 6;
    block() {
        captured([&] { scene.setCamera(&cam); });
        scene.setBackground(&bg);
        blockSpliter_t blocks(resx, resy, 64);
        blocks.getArea(area);
    }
    size_t index(int x, int y) const { return static_cast<size_t>(y - area.Y) * area.W + (x - area.X); }
    camera_t cam = frontCamera(resx, resy);
    scene_t scene;
    recordingBackground_t bg;
    renderArea_t area;
};

} // namespace

TEST_F(block, FirstSamplesAtIntegerPixelPositions) {
    scene.render(area);
    ASSERT_EQ(bg.records.size(), static_cast<size_t>(resx * resy));
    camera_t twin = cam;
    for (size_t k = 0; k < bg.records.size(); ++k) {
        const int x = static_cast<int>(k) % resx, y = static_cast<int>(k) / resx; // rows outer
        const sampleRecord_t& r = bg.records[k];
        EXPECT_TRUE(r.pixelNumber == x + y * resx && r.sampleIndex == 0 && r.contribution == 1.0f) << k;
        EXPECT_TRUE(r.screen.x == 2.0f * x / resx - 1.0f && r.screen.y == 1.0f - 2.0f * y / resy) << k;
        EXPECT_EQ(r.dir, twin.shootRay(static_cast<float>(x), static_cast<float>(y)));
        EXPECT_EQ(area.image[index(x, y)].R, recordingBackground_t::shade(r.screen.x, r.screen.y).R);
        EXPECT_TRUE(area.image[index(x, y)].A == 0.0f && area.depth[index(x, y)] == -1.0f);
    }
}

TEST_F(block, ResamplesLieOnOneHammersleySetPerPixel) {
    scene.setAntialiasing(2, 3, 1.5f, 0.0f); // threshold 0: every pixel resampled
    scene.render(area);
    ASSERT_EQ(bg.records.size(), static_cast<size_t>(resx * resy * 7));
    // The six extra samples of pixel (5, 2): x from the base-2 radical
    // inverse of n, y from (n + 0.5) / 6, spread over 1.5 pixels.
    const double rad2[6] = {0, 0.5, 0.25, 0.75, 0.125, 0.625};
    std::vector<sampleRecord_t> mine;
    for (const sampleRecord_t& r : bg.records)
        if (r.pixelNumber == 5 + 2 * resx) mine.push_back(r);
    ASSERT_EQ(mine.size(), 7u);
    for (int s = 0; s < 6; ++s) {
        const sampleRecord_t& r = mine[static_cast<size_t>(s) + 1];
        EXPECT_TRUE(r.sampleIndex == s && r.contribution == 0.5f) << s; // contribution not reset
        EXPECT_NEAR(r.screen.x, 2 * (5 + 1.5 * (rad2[s] - 0.5)) / resx - 1, 1e-6) << s;
        EXPECT_NEAR(r.screen.y, 1 - 2 * (2 + 1.5 * ((s + 0.5) / 6 - 0.5)) / resy, 1e-6) << s;
    }
    EXPECT_EQ(area.depth[index(5, 2)], -1.0f); // resampling leaves depth alone
}

TEST_F(block, MergeWeightsCountEverySampleOnce) {
    // An object hit by even sample indices only.
    lambertShader_t shader(color_t(0.0f));
    fakeObject_t half(bound_t(point3d_t(-100, -100, -100), point3d_t(100, 100, 100)), 3.0f);
    half.shader = &shader;
    half.accept = [](renderState_t& s) { return s.sampleIndex % 2 == 0; };
    scene.addObject(&half);
    treeScope_t tree(scene);
    scene.setAntialiasing(2, 3, 1.0f, 0.0f);
    scene.render(area);
    // First sample hit (1); pass 0 hits n = 0, 2 of three; pass 1 hits n = 4.
    const float afterFirst = (1.0f * 1 + 2) * (1.0f / 4);
    EXPECT_EQ(area.image[index(3, 2)].A, (afterFirst * 4 + 1) * (1.0f / 7));
    EXPECT_NEAR(area.depth[index(3, 2)], 3.0f, 1e-4); // the first sample's depth
    // No passes: one sample, the flags untouched; no samples: flags only.
    shader.fromWorldCalls = 0;
    scene.setAntialiasing(0, 5, 1.0f, 0.0f);
    area.resample.assign(area.resample.size(), true);
    scene.render(area);
    EXPECT_EQ(shader.fromWorldCalls, resx * resy);
    for (bool f : area.resample) EXPECT_TRUE(f);
    scene.setAntialiasing(2, 0, 1.0f, 0.05f);
    scene.render(area);
    for (bool f : area.resample) EXPECT_FALSE(f); // recomputed on a flat image
}

TEST_F(block, RegionBoundIsExclusiveOnlyInTheRenderPass) {
    scene.setRegion(-0.5f, 0.0f, -2.0f, 0.0f); // screen x in [-0.5, 0), y in [-2, 0)
    const colorA_t sentinel(0.5f, 0.5f, 0.5f, 0.5f);
    for (bool preliminary : {false, true}) {
        bg.records.clear();
        area.image.assign(area.image.size(), sentinel);
        area.depth.assign(area.depth.size(), 7.0f);
        preliminary ? scene.fakeRender(area) : scene.render(area);
        // Columns 2 (x = -0.5) and 3 are inside, 4 (x = 0) only when
        // inclusive; rows 4 and 5 have y < 0, row 3 has y = 0.
        for (int y = 0; y < resy; ++y)
            for (int x = 0; x < resx; ++x) {
                const bool inside =
                    preliminary ? (x >= 2 && x <= 4 && y >= 3) : ((x == 2 || x == 3) && y >= 4);
                EXPECT_EQ(area.image[index(x, y)].A, inside ? 0.0f : 0.5f) << preliminary << x << "," << y;
                EXPECT_EQ(area.depth[index(x, y)], inside && !preliminary ? -1.0f : 7.0f) << x << "," << y;
            }
        EXPECT_EQ(bg.records.size(), preliminary ? 9u : 4u);
    }
}

namespace {

/// Two spheres, an instance and a triangle-mesh floor under one point
/// light, with an independent double-precision model of every pixel.
class wholeImage : public ::testing::Test {
protected:
    static constexpr int resx = 40, resy = 30;
    struct ball_t {
        dvec_t c;
        double r;
        color_t dif;
    };
    struct expected_t {
        bool sure;
        dvec_t rgb;
        double alpha, depth;
        bool shadowed;
        int hit; // 3: the floor
    };

    wholeImage() {
        big.shader = &bigShader;
        small.shader = &smallShader;
        base.shader = &instShader;
        matrix4x4_t m(1.0f);
        m.scale(1.5f, 1.5f, 1.5f);
        m.translate(-2.0f, -1.0f, -4.5f);
        inst.reset(referenceObject_t::factory(m, &base));
        const float y = float(floorY);
        std::vector<point3d_t> p{point3d_t(-6, y, -2), point3d_t(6, y, -2), point3d_t(6, y, -12),
                                 point3d_t(-6, y, -12)};
        floor.reset(meshObject_t::factory(
            p, {}, {triangle_t(&p[0], &p[1], &p[2]), triangle_t(&p[0], &p[2], &p[3])}, {}, {}));
        floor->setShader(&floorShader);
        for (object3d_t* o :
             {(object3d_t*)&big, (object3d_t*)&small, (object3d_t*)inst.get(), (object3d_t*)floor.get()})
            scene.addObject(o);
        scene.addLight(&lamp);
        scene.setBackground(&sky);
        captured([&] { scene.setCamera(&cam); });
    }

    /// Pixel (x, y); not `sure` too close to an edge.
    expected_t expected(int x, int y) const {
        const dvec_t d = pinholeDir(resx, resy, x, y), lp{4, 4, 1};
        int hit = -1;
        double best = 1e30, margin;
        for (int i = 0; i < 3; ++i) {
            const double t = sphereHit({0, 0, 0}, d, balls[i].c, balls[i].r, &margin);
            if (std::fabs(margin) < 1e-3) return {false, {0, 0, 0}, 0, 0, false, -1};
            if (t > 0 && t < best) best = t, hit = i;
        }
        const double tf = d.y < 0 ? floorY / d.y : -1; // the floor: x in [-6, 6], z in [-12, -2]
        const double inside = std::min({tf * d.x + 6, 6 - tf * d.x, tf * d.z + 12, -2 - tf * d.z});
        if (tf > 0 && std::fabs(inside) < 1e-3) return {false, {0, 0, 0}, 0, 0, false, -1};
        if (tf > 0 && inside > 0 && tf < best) best = tf, hit = 3;
        if (hit < 0) return {true, {0.1, 0.2, 0.3}, 0, -1, false, -1};
        const ball_t b = hit < 3 ? balls[hit] : ball_t{{0, floorY - 1, 0}, 1, floorShader.diffuse};
        const dvec_t P = best * d, L = unit(lp - P);
        const double cosine = hit < 3 ? dot((1 / b.r) * (P - b.c), L) : L.y;
        bool shadowed = false;
        for (int i = 0; cosine > 0 && i < 3; ++i) {
            const double t = i == hit ? -1 : sphereHit(P, L, balls[i].c, balls[i].r, &margin);
            if (t > 0 && std::fabs(margin) < 1e-3) return {false, {0, 0, 0}, 0, 0, false, -1};
            shadowed = shadowed || (t > 0 && t < norm(lp - P));
        }
        const double k = (cosine > 0 && !shadowed) ? cosine : 0.0;
        auto lit = [k](float c) { return std::min(1.0, c * k); };
        return {true, {lit(b.dif.R), lit(b.dif.G), lit(b.dif.B)}, 1, best, shadowed, hit};
    }

    camera_t cam = frontCamera(resx, resy);
    sphere_t big{point3d_t(0, 0, -6), 2.0f}, small{point3d_t(1.1f, 1.0f, -3.4f), 0.5f},
        base{point3d_t(0, 0, 0), 0.6f};
    lambertShader_t bigShader{color_t(0.9f, 0.5f, 0.3f)}, smallShader{color_t(0.2f, 0.8f, 0.4f)},
        instShader{color_t(0.3f, 0.3f, 0.9f)};
    std::unique_ptr<referenceObject_t> inst;
    const double floorY = -2.25;
    std::unique_ptr<meshObject_t> floor;
    lambertShader_t floorShader{color_t(0.7f, 0.7f, 0.6f)};
    pointLight_t lamp{point3d_t(4, 4, 1), color_t(1.0f)};
    constantBackground_t sky{color_t(0.1f, 0.2f, 0.3f)};
    scene_t scene;
    const ball_t balls[3] = {{{0, 0, -6}, 2.0, bigShader.diffuse},
                             {{1.1, 1.0, -3.4}, 0.5, smallShader.diffuse},
                             {{-2.0, -1.0, -4.5}, 0.9, instShader.diffuse}};
};

} // namespace

TEST_F(wholeImage, ColoursShadowsDepthAndAlphaMatchTheModel) {
    recordingOutput_t out;
    captured([&] { scene.render(out); });
    int checked = 0, lit = 0, background = 0, floorLit = 0, floorShadowed = 0;
    for (const pixel_t& p : imageOf(out, resx, resy)) {
        const expected_t e = expected(p.x, p.y);
        if (!e.sure) continue;
        ++checked;
        EXPECT_TRUE(std::fabs(p.c.R - e.rgb.x) < 1e-4 && std::fabs(p.c.G - e.rgb.y) < 1e-4 &&
                    std::fabs(p.c.B - e.rgb.z) < 1e-4 && p.alpha == float(e.alpha) &&
                    std::fabs(p.depth - e.depth) < 1e-4)
            << p.x << "," << p.y;
        lit += e.alpha == 1 && !e.shadowed && e.rgb.x > 0;
        background += e.alpha == 0;
        floorLit += e.hit == 3 && !e.shadowed;
        floorShadowed += e.hit == 3 && e.shadowed;
    }
    EXPECT_GT(checked, resx * resy * 9 / 10);
    EXPECT_TRUE(lit > 100 && background > 100 && floorLit > 50 && floorShadowed > 5)
        << lit << " " << background << " " << floorLit << " " << floorShadowed;
}
