// Rendering blocks and whole images: first samples, adaptive anti-aliasing on
// the Hammersley set, render regions, and whole scenes of spheres and an
// instance checked pixel by pixel against an independent double-precision
// model.
#include "scene_fixtures.h"

#include "vexlarcore/matrix4.h"
#include "vexlarcore/reference.h"
#include "vexlarcore/renderarea.h"
#include "vexlarcore/scene.h"
#include "vexlarcore/sphere.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace vexlar;
using namespace fixtures;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// Radical inverse in base 2 by digit extraction (independent of bit tricks).
double radicalInverse(unsigned n) {
    double r = 0, f = 0.5;
    for (; n != 0; n >>= 1, f *= 0.5)
        if (n & 1) r += f;
    return r;
}

struct sampleRecord_t {
    point3d_t screen;
    vector3d_t dir;
    int sampleIndex, pixelNumber, rayLevel;
    float contribution;
};

/// Background recording every lookup; its colour is a function of the
/// screen position.
class recordingBackground_t : public background_t {
public:
    color_t lookup(const vector3d_t& dir, renderState_t& state) const override {
        records.push_back(
            {state.screenPos, dir, state.sampleIndex, state.pixelNumber, state.rayLevel, state.contribution});
        state.contribution = 0.5f; // the driver resets it for first samples only
        return shade(state.screenPos.x, state.screenPos.y);
    }
    static color_t shade(double sx, double sy) {
        return color_t(static_cast<float>((sx + 1) / 2), static_cast<float>((sy + 1) / 2), 0.25f);
    }
    mutable std::vector<sampleRecord_t> records;
};

class BlockTest : public ::testing::Test {
protected:
    static constexpr int resx = 8, resy = 6;
    BlockTest() : cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), resx, resy, 1.0f) {
        CaptureStderr();
        scene.setCamera(&cam);
        GetCapturedStderr();
        scene.setBackground(&bg);
        blockSpliter_t blocks(resx, resy, 64);
        blocks.getArea(area);
    }
    size_t index(int x, int y) const { return static_cast<size_t>(y - area.Y) * area.W + (x - area.X); }
    int lookupsOf(int x, int y) const {
        int n = 0;
        for (const sampleRecord_t& r : bg.records) n += r.pixelNumber == x + y * resx;
        return n;
    }
    camera_t cam;
    scene_t scene;
    recordingBackground_t bg;
    renderArea_t area;
};

} // namespace

TEST_F(BlockTest, FirstSamplesUseIntegerPixelPositions) {
    ASSERT_EQ(area.W, resx);
    ASSERT_EQ(area.H, resy);
    scene.render(area);
    ASSERT_EQ(bg.records.size(), static_cast<size_t>(resx * resy));
    camera_t twin = cam;
    for (size_t k = 0; k < bg.records.size(); ++k) {
        const int x = static_cast<int>(k) % resx, y = static_cast<int>(k) / resx; // rows outer, columns inner
        const sampleRecord_t& r = bg.records[k];
        EXPECT_EQ(r.pixelNumber, x + y * resx);
        EXPECT_EQ(r.sampleIndex, 0);
        EXPECT_EQ(r.rayLevel, -1); // the tracer has stepped back when it asks the background
        EXPECT_EQ(r.contribution, 1.0f);
        EXPECT_EQ(r.screen.x, 2.0f * x / resx - 1.0f);
        EXPECT_EQ(r.screen.y, 1.0f - 2.0f * y / resy);
        EXPECT_EQ(r.dir.x, twin.shootRay(static_cast<float>(x), static_cast<float>(y)).x);
        EXPECT_EQ(area.image[index(x, y)].R, recordingBackground_t::shade(r.screen.x, r.screen.y).R);
        EXPECT_EQ(area.image[index(x, y)].A, 0.0f);
        EXPECT_EQ(area.depth[index(x, y)], -1.0f);
    }
}

TEST_F(BlockTest, HammersleyPositionsAndMergeWeights) {
    const int passes = 2, samples = 3;
    const double width = 1.5;
    scene.setAntialiasing(passes, samples, static_cast<float>(width), 0.0f); // threshold 0: all flagged
    scene.render(area);
    const int N = passes * samples;
    ASSERT_EQ(bg.records.size(), static_cast<size_t>(resx * resy * (1 + N)));
    size_t k = resx * resy;
    // Red and green of every pixel, starting from its first sample (blue is constant).
    std::vector<double> expected[2];
    for (int i = 0; i < resx * resy; ++i) {
        const color_t c0 =
            recordingBackground_t::shade(2.0f * (i % resx) / resx - 1.0f, 1.0f - 2.0f * (i / resx) / resy);
        expected[0].push_back(c0.R);
        expected[1].push_back(c0.G);
    }
    camera_t twin = cam;
    for (int p = 0; p < passes; ++p) {
        std::vector<double> sum[2] = {std::vector<double>(resx * resy), std::vector<double>(resx * resy)};
        for (int y = 0; y < resy; ++y)
            for (int x = 0; x < resx; ++x)
                for (int s = 0; s < samples; ++s, ++k) {
                    const int n = p * samples + s;
                    const double px = x + width * (radicalInverse(n) - 0.5);
                    const double py = y + width * ((n + 0.5) / N - 0.5);
                    const sampleRecord_t& r = bg.records[k];
                    ASSERT_EQ(r.pixelNumber, x + y * resx);
                    ASSERT_EQ(r.sampleIndex, n);
                    EXPECT_EQ(r.contribution, 0.5f); // not reset for extra samples
                    EXPECT_NEAR(r.screen.x, 2 * px / resx - 1, 1e-6);
                    EXPECT_NEAR(r.screen.y, 1 - 2 * py / resy, 1e-6);
                    EXPECT_NEAR(r.dir.x, twin.shootRay(static_cast<float>(px), static_cast<float>(py)).x,
                                1e-6);
                    // Samples beyond the image edge give channels outside
                    // [0, 1], which the gamma step clamps.
                    const color_t c = recordingBackground_t::shade(r.screen.x, r.screen.y);
                    sum[0][x + y * resx] += std::min(1.0f, std::max(0.0f, c.R));
                    sum[1][x + y * resx] += std::min(1.0f, std::max(0.0f, c.G));
                }
        const double w = p * samples + 1;
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < resx * resy; ++i)
                expected[ch][i] = (expected[ch][i] * w + sum[ch][i]) / (w + samples);
    }
    for (int y = 0; y < resy; ++y)
        for (int x = 0; x < resx; ++x) {
            const colorA_t& c = area.image[index(x, y)];
            EXPECT_NEAR(c.R, expected[0][x + y * resx], 1e-6) << x << "," << y;
            EXPECT_NEAR(c.G, expected[1][x + y * resx], 1e-6) << x << "," << y;
            EXPECT_NEAR(c.B, 0.25, 1e-6);
            EXPECT_EQ(c.A, 0.0f);
            EXPECT_EQ(area.depth[index(x, y)], -1.0f); // resampling leaves depth alone
        }
}

TEST_F(BlockTest, AlphaIsMergedLikeColour) {
    // An object that is hit only by even sample indices.
    lambertShader_t shader(color_t(0.0f));
    fakeObject_t half(bound_t(point3d_t(-100, -100, -100), point3d_t(100, 100, 100)), 3.0f);
    half.shader = &shader;
    half.accept = [](renderState_t& s) { return s.sampleIndex % 2 == 0; };
    scene.addObject(&half);
    CaptureStdout();
    scene.objectTree = buildObjectTree(scene.objects);
    GetCapturedStdout();
    scene.setAntialiasing(2, 3, 1.0f, 0.0f);
    scene.render(area);
    delete scene.objectTree;
    scene.objectTree = nullptr;
    // First sample hit (1); pass 0 hits n = 0, 2; pass 1 hits n = 4.
    const float afterFirst = (1.0f * 1 + 2) * (1.0f / 4);
    EXPECT_EQ(area.image[index(3, 2)].A, (afterFirst * 4 + 1) * (1.0f / 7));
    EXPECT_NEAR(area.depth[index(3, 2)], 3.0f, 1e-4); // depth of the first sample
}

TEST_F(BlockTest, NoPassesMeansOneSampleAndNoResampleTest) {
    scene.setAntialiasing(0, 5, 1.0f, 0.0f);
    area.resample.assign(area.resample.size(), true);
    scene.render(area);
    EXPECT_EQ(bg.records.size(), static_cast<size_t>(resx * resy));
    for (bool f : area.resample) EXPECT_TRUE(f); // checkResample never ran
}

TEST_F(BlockTest, NoSamplesComputesFlagsButCastsNothing) {
    constantBackground_t flat(color_t(0.3f));
    scene.setBackground(&flat);
    scene.setAntialiasing(2, 0, 1.0f, 0.05f);
    area.resample.assign(area.resample.size(), true);
    scene.render(area);
    EXPECT_EQ(flat.calls, resx * resy);
    for (bool f : area.resample) EXPECT_FALSE(f); // recomputed on a flat image
    for (const colorA_t& c : area.image) EXPECT_FLOAT_EQ(c.R, 0.3f);
}

TEST_F(BlockTest, HardEdgeIsResampledFlatAreaIsNot) {
    // Black left of the screen's centre line, white from it on: columns 3
    // and 4 differ from a neighbour.
    functionBackground_t edge([this](const vector3d_t&, renderState_t& s) {
        bg.records.push_back({s.screenPos, vector3d_t(), s.sampleIndex, s.pixelNumber, s.rayLevel, 0});
        return s.screenPos.x < 0 ? color_t(0.0f) : color_t(1.0f);
    });
    scene.setBackground(&edge);
    scene.setAntialiasing(1, 4, 1.0f, 0.1f);
    scene.render(area);
    for (int y = 0; y < resy; ++y)
        for (int x = 0; x < resx; ++x)
            EXPECT_EQ(lookupsOf(x, y), (x == 3 || x == 4) ? 5 : 1) << x << "," << y;
    // Samples spread over [x - 0.5, x + 0.5): column 4's reach back across
    // the edge (x' = 3.5 and 3.75 are black), column 3's stay black.
    EXPECT_FLOAT_EQ(area.image[index(4, 0)].R, (1.0f + 2.0f) / 5.0f);
    EXPECT_EQ(area.image[index(3, 0)].R, 0.0f);
    EXPECT_EQ(area.image[index(7, 0)].R, 1.0f);
}

TEST_F(BlockTest, RegionUpperBoundIsExclusiveOnlyInTheRenderPass) {
    scene.setRegion(-0.5f, 0.0f, -2.0f, 0.0f); // screen x in [-0.5, 0), y in [-2, 0)
    const colorA_t sentinel(0.5f, 0.5f, 0.5f, 0.5f);
    area.image.assign(area.image.size(), sentinel);
    area.depth.assign(area.depth.size(), 7.0f);
    scene.render(area);
    // Columns 2 (x = -0.5) and 3 (-0.25) are inside; 4 (x = 0) is not. Rows
    // 4 and 5 have y < 0; row 3 has y = 0 exactly.
    for (int y = 0; y < resy; ++y)
        for (int x = 0; x < resx; ++x) {
            const bool inside = (x == 2 || x == 3) && (y == 4 || y == 5);
            EXPECT_EQ(area.image[index(x, y)].A, inside ? 0.0f : 0.5f) << x << "," << y;
            EXPECT_EQ(area.depth[index(x, y)], inside ? -1.0f : 7.0f) << x << "," << y;
        }
    EXPECT_EQ(bg.records.size(), 4u);

    bg.records.clear();
    area.image.assign(area.image.size(), sentinel);
    area.depth.assign(area.depth.size(), 7.0f);
    scene.fakeRender(area);
    for (int y = 0; y < resy; ++y)
        for (int x = 0; x < resx; ++x) {
            const bool inside = (x >= 2 && x <= 4) && (y >= 3);
            EXPECT_EQ(area.image[index(x, y)].A, inside ? 0.0f : 0.5f) << x << "," << y;
            EXPECT_EQ(area.depth[index(x, y)], 7.0f); // never written by a preliminary pass
        }
    EXPECT_EQ(bg.records.size(), 9u);
}

TEST_F(BlockTest, HandMadeAreaGetsBuffersOfItsSize) {
    renderArea_t manual;
    manual.X = manual.realX = 2;
    manual.Y = manual.realY = 1;
    manual.W = manual.realW = 3;
    manual.H = manual.realH = 2;
    scene.setAntialiasing(1, 2, 1.0f, 0.0f);
    scene.render(manual);
    ASSERT_EQ(manual.depth.size(), 6u);
    ASSERT_EQ(manual.resample.size(), 6u);
    EXPECT_EQ(bg.records.front().pixelNumber, 2 + 1 * resx);
    EXPECT_EQ(manual.depth[5], -1.0f);
    renderArea_t empty;
    scene.fakeRender(empty); // a 0 x 0 area renders nothing
    EXPECT_TRUE(empty.image.empty());
}

TEST_F(BlockTest, ExposureAndGammaApplyToEveryCameraSample) {
    constantBackground_t bright(color_t(0.25f, 1.5f, -0.5f));
    scene.setBackground(&bright);
    scene.setExposure(-2.0f);
    scene.setGamma(0.5f);
    scene.render(area);
    const colorA_t& c = area.image[0];
    EXPECT_FLOAT_EQ(c.R, static_cast<float>(std::pow(1 - std::exp(-0.5), 0.5)));
    EXPECT_FLOAT_EQ(c.G, static_cast<float>(std::pow(1 - std::exp(-3.0), 0.5)));
    EXPECT_EQ(c.B, 0.0f);
}

namespace {

/// A small scene of two spheres and an instance lit by one point light,
/// with an independent double-precision model of what each pixel shows.
class WholeImageTest : public ::testing::Test {
protected:
    static constexpr int resx = 40, resy = 30;
    struct ball_t {
        double c[3], r;
        color_t dif;
    };

    WholeImageTest()
        : cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), resx, resy, 1.0f),
          big(point3d_t(0, 0, -6), 2.0f), small(point3d_t(1.1f, 1.0f, -3.4f), 0.5f),
          base(point3d_t(0, 0, 0), 0.6f), bigShader(color_t(0.9f, 0.5f, 0.3f)),
          smallShader(color_t(0.2f, 0.8f, 0.4f)), instShader(color_t(0.3f, 0.3f, 0.9f)),
          lamp(point3d_t(4, 4, 1), color_t(1.0f, 1.0f, 1.0f)), sky(color_t(0.1f, 0.2f, 0.3f)) {
        big.shader = &bigShader;
        small.shader = &smallShader;
        base.shader = &instShader;
        matrix4x4_t m(1.0f);
        m.scale(1.5f, 1.5f, 1.5f);
        m.translate(-2.0f, -1.0f, -4.5f);
        inst = referenceObject_t::factory(m, &base);
        scene.addObject(&big);
        scene.addObject(&small);
        scene.addObject(inst);
        scene.addLight(&lamp);
        scene.setBackground(&sky);
        CaptureStderr();
        scene.setCamera(&cam);
        GetCapturedStderr();
        balls = {{{0, 0, -6}, 2.0, bigShader.diffuse},
                 {{1.1, 1.0, -3.4}, 0.5, smallShader.diffuse},
                 {{-2.0, -1.0, -4.5}, 0.9, instShader.diffuse}};
    }
    ~WholeImageTest() override { delete inst; }

    /// Expected colour, alpha and depth of pixel (x, y); false when the
    /// pixel lies too close to a silhouette or shadow edge to decide safely.
    bool expected(int x, int y, double rgb[3], double& alpha, double& depth, bool& shadowed) const {
        const double o[3] = {0, 0, 0};
        double d[3];
        pinhole_t{resx, resy, 1.0}.dir(x, y, d);
        int hit = -1;
        double best = 1e30;
        for (size_t i = 0; i < balls.size(); ++i) {
            double margin;
            const double t = sphereHit(o, d, balls[i].c, balls[i].r, &margin);
            if (std::fabs(margin) < 1e-3) return false;
            if (t > 0 && t < best) best = t, hit = static_cast<int>(i);
        }
        shadowed = false;
        if (hit < 0) {
            rgb[0] = 0.1, rgb[1] = 0.2, rgb[2] = 0.3, alpha = 0, depth = -1;
            return true;
        }
        const ball_t& b = balls[hit];
        double P[3], N[3], L[3];
        for (int i = 0; i < 3; ++i) P[i] = best * d[i], N[i] = (P[i] - b.c[i]) / b.r;
        const double lp[3] = {4, 4, 1};
        double len = 0;
        for (int i = 0; i < 3; ++i) L[i] = lp[i] - P[i], len += L[i] * L[i];
        len = std::sqrt(len);
        for (double& l : L) l /= len;
        const double cosine = N[0] * L[0] + N[1] * L[1] + N[2] * L[2];
        alpha = 1, depth = best;
        if (cosine > 0) {
            for (size_t i = 0; i < balls.size(); ++i) {
                if (static_cast<int>(i) == hit) continue;
                double margin;
                const double t = sphereHit(P, L, balls[i].c, balls[i].r, &margin);
                if (t > 0 && t < len) {
                    if (std::fabs(margin) < 1e-3) return false;
                    shadowed = true;
                } else if (std::fabs(margin) < 1e-3 && t > 0) {
                    return false;
                }
            }
        }
        const double k = (cosine > 0 && !shadowed) ? cosine : 0.0;
        rgb[0] = std::min(1.0, b.dif.R * k);
        rgb[1] = std::min(1.0, b.dif.G * k);
        rgb[2] = std::min(1.0, b.dif.B * k);
        return true;
    }

    camera_t cam;
    sphere_t big, small, base;
    lambertShader_t bigShader, smallShader, instShader;
    referenceObject_t* inst;
    pointLight_t lamp;
    constantBackground_t sky;
    scene_t scene;
    std::vector<ball_t> balls;
};

} // namespace

TEST_F(WholeImageTest, LambertColoursShadowsDepthAndAlphaMatchTheModelAlsoInATgaFile) {
    recordingOutput_t out;
    CaptureStdout();
    CaptureStderr();
    scene.render(out);
    GetCapturedStdout();
    GetCapturedStderr();
    ASSERT_EQ(out.calls.size(), static_cast<size_t>(resx * resy));
    int checked = 0, shadowedPixels = 0, lit = 0, background = 0;
    for (const pixel_t& p : out.calls) {
        double rgb[3], alpha, depth;
        bool shadowed;
        if (!expected(p.x, p.y, rgb, alpha, depth, shadowed)) continue;
        ++checked;
        EXPECT_NEAR(p.c.R, rgb[0], 1e-4) << p.x << "," << p.y;
        EXPECT_NEAR(p.c.G, rgb[1], 1e-4) << p.x << "," << p.y;
        EXPECT_NEAR(p.c.B, rgb[2], 1e-4) << p.x << "," << p.y;
        EXPECT_EQ(p.alpha, static_cast<float>(alpha)) << p.x << "," << p.y;
        EXPECT_NEAR(p.depth, depth, 1e-4) << p.x << "," << p.y;
        if (shadowed) {
            ++shadowedPixels;
            EXPECT_TRUE(p.c.isBlack()) << p.x << "," << p.y;
        }
        lit += alpha == 1 && !shadowed && rgb[0] > 0;
        background += alpha == 0;
    }
    EXPECT_GT(checked, resx * resy * 9 / 10);
    EXPECT_GT(shadowedPixels, 3);
    EXPECT_GT(lit, 100);
    EXPECT_GT(background, 100);

    // The same image written as a TGA file, byte by byte.
    const std::string path = ::testing::TempDir() + "vexlar_scene_whole.tga";
    outTga_t tga(resx, resy, path.c_str(), true);
    CaptureStdout();
    CaptureStderr();
    scene.render(tga);
    const bool saved = tga.flush();
    GetCapturedStdout();
    GetCapturedStderr();
    ASSERT_TRUE(saved);
    const std::string bytes = support::slurp(path);
    std::remove(path.c_str());
    const std::vector<unsigned char> file(bytes.begin(), bytes.end());
    ASSERT_EQ(file.size(), 18u + resx * resy * 4u);
    auto toByte = [](double v) { return v >= 1.0 ? 255 : static_cast<int>(v * 255.0); };
    checked = 0;
    for (int y = 0; y < resy; ++y)
        for (int x = 0; x < resx; ++x) {
            const int p = y * resx + x;
            const unsigned char* px = &file[18 + 4 * p];
            EXPECT_EQ(px[3], tga.alphaBuffer[p]); // the file holds B, G, R, A
            double rgb[3], alpha, depth;
            bool shadowed;
            if (!expected(x, y, rgb, alpha, depth, shadowed)) continue;
            ++checked;
            EXPECT_NEAR(px[2], toByte(rgb[0]), 1) << x << "," << y;
            EXPECT_NEAR(px[1], toByte(rgb[1]), 1) << x << "," << y;
            EXPECT_NEAR(px[0], toByte(rgb[2]), 1) << x << "," << y;
            EXPECT_EQ(px[3], alpha == 1 ? 255 : 0) << x << "," << y;
        }
    EXPECT_GT(checked, resx * resy * 9 / 10);
}
