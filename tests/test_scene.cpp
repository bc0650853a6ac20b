// Scene set-up and the image driver: defaults, settings, published data, light set-up,
// the progress line, preliminary passes, aborts and rendering by block index.
#include "scene_fixtures.h"
#include "test_support.h"

#include "vexlarcore/sphere.h"

#include <cstdlib>

using namespace vexlar;
using namespace fixtures;
using support::captured;

namespace {

/// Records its set-up calls ("s", then "p" for postSetup); asks for a
/// preliminary pass on set-up and for `extraPasses` more after it.
class orderLight_t : public light_t {
public:
    color_t illuminate(renderState_t&, const scene_t&, surfacePoint_t, const vector3d_t&) const override {
        return color_t(0.0f);
    }
    void setup(scene_t& scene) override {
        order += "s";
        treeDuringSetup = scene.objectTree != nullptr;
        if (repeatOnSetup) scene.setRepeatFirst(true);
    }
    void postSetup(scene_t& scene) override {
        order += "p";
        if (extraPasses-- > 0) scene.setRepeatFirst(true);
    }
    std::string order;
    bool treeDuringSetup = false, repeatOnSetup = false;
    int extraPasses = 0;
};

class sceneDriver : public ::testing::Test {
protected:
    sceneDriver() {
        captured([&] { scene.setCamera(&cam); });
    }
    std::string render() {
        return captured([&] { scene.render(out); }, &err);
    }
    camera_t cam = frontCamera(65, 65);
    scene_t scene;
    recordingOutput_t out;
    std::string err;
};

const std::string header = "Building bounding tree ... OK\nLight setup ...\n\n";

} // namespace

TEST(scene, DefaultsStrataAndWorldResolution) {
    scene_t s;
    EXPECT_TRUE(s.getRayBias() == 5e-05f && s.getMaxRayLevel() == 3 && s.getSelfShadowBias() == 0.1f &&
                !s.getIndirectEnabled() && s.getIndirectSamples() == 0 && s.getIndirectPower() == 1);
    EXPECT_TRUE(s.getGamma() == 1 && s.getExposure() == 0 && s.getFogDensity() == 0 && s.getAaPasses() == 0 &&
                s.getAaSamples() == 1 && s.getAaPixelWidth() == 1 && s.getAaThreshold() == 0.05f);
    EXPECT_TRUE(s.getRegionMinX() == -2 && s.getRegionMinY() == -2 && s.getRegionMaxX() == 2 &&
                s.getRegionMaxY() == 2);
    s.setIndirect(true, 4, 0.5f);
    EXPECT_EQ(s.getIndirectStratumU(), 0.25f);
    EXPECT_EQ(s.getIndirectStratumPhi(), static_cast<float>(6.283185307179586 / 4));
    s.setIndirect(true, 0, 0.5f);
    EXPECT_TRUE(s.getIndirectStratumU() == 0 && s.getIndirectStratumPhi() == 0);
    s.setAntialiasing(-1, -3, 1.0f, 0.05f);
    EXPECT_TRUE(s.getAaPasses() == 0 && s.getAaSamples() == 0);
    camera_t wide(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 400, 300, 2.0f);
    captured([&] { s.setCamera(&wide); });
    EXPECT_EQ(s.getWorldResolution(), 1.0f / 800.0f);
    s.setCamera(nullptr);
    EXPECT_EQ(s.getWorldResolution(), 1.0f);
}

TEST_F(sceneDriver, ProgressLineAndLightMessages) {
    orderLight_t watcher;
    scene.addLight(&watcher);
    EXPECT_EQ(render(), header + "\n\rRender pass: [#]\n");
    EXPECT_EQ(watcher.order, "s"); // no preliminary pass, no postSetup
    EXPECT_EQ(out.flushes, 0);     // flushing is the host's business
    imageOf(out, 65, 65);
    // One '#' before the eleventh and the twenty-first block, then "#]".
    camera_t strip = frontCamera(64 * 21, 1);
    captured([&] { scene.setCamera(&strip); });
    EXPECT_EQ(render(), header + "\n\rRender pass: [###]\n");
    // With objects the tree exists during light set-up and is gone after.
    sphere_t s(point3d_t(0, 0, -5), 1);
    scene.addObject(&s);
    EXPECT_NE(render().find("Object count= 1\n"), std::string::npos);
    EXPECT_TRUE(watcher.treeDuringSetup);
    EXPECT_EQ(scene.objectTree, nullptr);
}

TEST_F(sceneDriver, RefusedPixelsAbortAndPreliminaryPassesRunUntilNoLightAsksForMore) {
    out.failAt = 1;
    EXPECT_EQ(render(), header + "\n\rRender pass: [Aborted\n");
    EXPECT_EQ(out.calls.size(), 1u);
    out = recordingOutput_t();
    out.failAt = 65 * 64 + 3; // inside the second block, whichever it is
    EXPECT_EQ(render().substr(header.size() + 1), "\rRender pass: [Aborted\n");
    EXPECT_EQ(out.calls.size(), static_cast<size_t>(out.failAt));
    out = recordingOutput_t();
    orderLight_t lamp;
    lamp.repeatOnSetup = true;
    lamp.extraPasses = 2;
    scene.addLight(&lamp);
    out.failAt = 1; // refused during a preliminary pass: no postSetup, no render pass
    EXPECT_EQ(render(), header + "\rFake   pass: [Aborted\n");
    EXPECT_TRUE(lamp.order == "s" && scene.objectTree == nullptr);
    out = recordingOutput_t();
    EXPECT_EQ(render(), header + "\rFake   pass: [#]\n\rFake   pass: [#]\n" +
                            "\rFake   pass: [#]\n\n\rRender pass: [#]\n");
    EXPECT_TRUE(lamp.order == "ssppp" && !scene.getRepeatFirst());
    EXPECT_EQ(out.calls.size(), 4u * 65u * 65u);
    // A preliminary pass delivers the raw colour, without exposure, clamp or alpha.
    scene_t plain;
    captured([&] { plain.setCamera(&cam); });
    constantBackground_t bg(color_t(0.5f, 2.0f, 0.25f));
    plain.setBackground(&bg);
    plain.setExposure(-1.0f);
    plain.setRepeatFirst(true);
    recordingOutput_t two;
    captured([&] { plain.render(two); });
    ASSERT_EQ(two.calls.size(), 2u * 65u * 65u);
    EXPECT_TRUE(two.calls.front().c.G == 2.0f && two.calls.front().alpha == 0.0f);
    EXPECT_FLOAT_EQ(two.calls.back().c.G, static_cast<float>(1.0 - std::exp(-2.0)));
    EXPECT_TRUE(two.calls.back().alpha == 0.0f && two.calls.back().depth == -1.0f);
}
