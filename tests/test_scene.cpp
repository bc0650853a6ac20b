// Scene set-up and the image driver: defaults, lists, published data, light
// set-up, progress text, preliminary passes, aborts and the tree's lifetime.
#include "scene_fixtures.h"

#include "vexlarcore/scene.h"
#include "vexlarcore/sphere.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace vexlar;
using namespace fixtures;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

/// Records whether the scene's tree exists when the light is set up.
class treeWatcher_t : public light_t {
public:
    color_t illuminate(renderState_t&, const scene_t&, surfacePoint_t, const vector3d_t&) const override {
        return color_t(0.0f);
    }
    void setup(scene_t& scene) override {
        order += "s";
        treeDuringSetup = scene.objectTree != nullptr;
    }
    void postSetup(scene_t&) override { order += "p"; }
    std::string order;
    bool treeDuringSetup = false;
};

/// Scene whose driver reports through counters how it used its steps.
class derivedScene_t : public scene_t {
public:
    using scene_t::render;
    void render(colorOutput_t& output) override {
        // A driver that renders the blocks by index, in the serial order.
        renderArea_t area;
        blockSpliter_t blocks(camera->resx, camera->resy, 64);
        buildTree();
        lightSetup();
        if (preliminaryPasses(output, area)) {
            for (size_t i = 0; i < blocks.regions.size(); ++i) renderBlock(blocks, i, area, output, false);
        }
        destroyTree();
    }
};

class SceneTest : public ::testing::Test {
protected:
    SceneTest() : cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 65, 65, 1.0f) {}
    camera_t cam;
    scene_t scene;
    recordingOutput_t out;

    std::string renderCaptured() {
        CaptureStderr();
        CaptureStdout();
        scene.render(out);
        std::string text = GetCapturedStdout();
        lastErr = GetCapturedStderr();
        return text;
    }
    void useCamera(camera_t* c = nullptr, scene_t* s = nullptr) {
        CaptureStderr();
        (s ? *s : scene).setCamera(c ? c : &cam);
        GetCapturedStderr();
    }
    std::string lastErr;
};

const char* const header = "Building bounding tree ... OK\nLight setup ...\n\n";

} // namespace

TEST_F(SceneTest, DefaultsGiveEverySettingAValue) {
    std::unique_ptr<scene_t> s(scene_t::factory());
    EXPECT_EQ(s->getCamera(), nullptr);
    EXPECT_EQ(s->getRayBias(), 5e-05f);
    EXPECT_EQ(s->getWorldResolution(), 1.0f);
    EXPECT_EQ(s->getMaxRayLevel(), 3);
    EXPECT_EQ(s->objectTree, nullptr);
    EXPECT_EQ(s->getSelfShadowBias(), 0.1f);
    EXPECT_EQ(s->getBackground(), nullptr);
    EXPECT_FALSE(s->getIndirectEnabled() || s->getRepeatFirst());
    EXPECT_EQ(s->getIndirectSamples(), 0);
    EXPECT_EQ((std::vector<float>{s->getIndirectPower(), s->getIndirectStratumU(), s->getIndirectStratumPhi(),
                                  s->getGamma(), s->getExposure(), s->getFogDensity()}),
              (std::vector<float>{1, 0, 0, 1, 0, 0}));
    EXPECT_TRUE(s->getFogColor().isBlack());
    EXPECT_EQ(s->getAaPasses(), 0);
    EXPECT_EQ(s->getAaSamples(), 1);
    EXPECT_EQ(s->getAaPixelWidth(), 1.0f);
    EXPECT_EQ(s->getAaThreshold(), 0.05f);
    EXPECT_EQ(
        (std::vector<float>{s->getRegionMinX(), s->getRegionMaxX(), s->getRegionMinY(), s->getRegionMaxY()}),
        (std::vector<float>{-2, 2, -2, 2}));
    EXPECT_TRUE(s->objects.empty() && s->lights.empty() && s->filters.empty() && s->publishedData.empty());
}

TEST_F(SceneTest, SettersDeriveStrataAndClampAntialiasing) {
    scene.setIndirect(true, 4, 0.5f);
    EXPECT_TRUE(scene.getIndirectEnabled());
    EXPECT_EQ(scene.getIndirectSamples(), 4);
    EXPECT_EQ(scene.getIndirectPower(), 0.5f);
    EXPECT_EQ(scene.getIndirectStratumU(), 0.25f);
    EXPECT_EQ(scene.getIndirectStratumPhi(), static_cast<float>(6.283185307179586 / 4));
    scene.setIndirectStrata(0.125f, 0.5f);
    EXPECT_EQ(scene.getIndirectStratumU(), 0.125f);
    EXPECT_EQ(scene.getIndirectStratumPhi(), 0.5f);
    scene.setAntialiasing(2, 4, 1.5f, 0.1f);
    EXPECT_EQ(scene.getAaPixelWidth(), 1.5f);
    EXPECT_EQ(scene.getAaThreshold(), 0.1f);
    scene.setRegion(-0.5f, 0.5f, -0.25f, 0.75f);
    EXPECT_EQ(scene.getRegionMaxX(), 0.5f);
    EXPECT_EQ(scene.getRegionMinY(), -0.25f);
    scene.setAntialiasing(-1, -3, 1.0f, 0.05f);
    EXPECT_EQ(scene.getAaPasses(), 0);
    EXPECT_EQ(scene.getAaSamples(), 0);
}

TEST_F(SceneTest, ListsKeepInsertionOrderAndDuplicates) {
    sphere_t a(point3d_t(0, 0, 0), 1), b(point3d_t(1, 0, 0), 1);
    scene.addObject(&a);
    scene.addObject(&b);
    scene.addObject(&a);
    ASSERT_EQ(scene.objects.size(), 3u);
    EXPECT_EQ(scene.objects.front(), &a);
    EXPECT_EQ(*std::next(scene.objects.begin()), &b);
    constantLight_t l1(color_t(0.0f), true, true), l2(color_t(0.0f), true, true);
    scene.addLight(&l2);
    scene.addLight(&l1);
    EXPECT_EQ(scene.lights.front(), &l2);
    scene.addFilter(nullptr);
    EXPECT_EQ(scene.filters.size(), 1u);
}

TEST_F(SceneTest, SetCameraReportsTheWorldResolution) {
    camera_t wide(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 400, 300, 2.0f);
    CaptureStderr();
    scene.setCamera(&wide);
    EXPECT_EQ(GetCapturedStderr(), "Using a world resolution of 0.00125 per unit\n");
    EXPECT_EQ(scene.getCamera(), &wide);
    EXPECT_EQ(scene.getWorldResolution(), 1.0f / 800.0f);
    CaptureStderr();
    scene.setCamera(nullptr);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(scene.getWorldResolution(), 1.0f);
}

TEST_F(SceneTest, PublishedDataKeepsTheLastPointerPerKey) {
    int first = 1, second = 2;
    EXPECT_EQ(scene.getPublishedData("photons"), nullptr);
    scene.publishVoidData("photons", &first);
    scene.publishVoidData("photons", &second);
    scene.publishVoidData("other", nullptr);
    EXPECT_EQ(scene.getPublishedData("photons"), &second);
    EXPECT_EQ(scene.getPublishedData("other"), nullptr);
    EXPECT_EQ(scene.getPublishedData("missing"), nullptr);
    EXPECT_EQ(scene.publishedData.size(), 2u);
}

TEST_F(SceneTest, LightSetupCallsEveryLightInOrderWithItsMessages) {
    std::string order;
    struct orderLight_t : light_t {
        orderLight_t(std::string& o, char c) : log(o), name(c) {}
        color_t illuminate(renderState_t&, const scene_t&, surfacePoint_t, const vector3d_t&) const override {
            return color_t(0.0f);
        }
        void setup(scene_t&) override { log += name; }
        void postSetup(scene_t&) override { log += static_cast<char>(name - 'a' + 'A'); }
        std::string& log;
        char name;
    } a(order, 'a'), b(order, 'b');
    scene.addLight(&a);
    scene.addLight(&b);
    CaptureStderr();
    CaptureStdout();
    scene.setupLights();
    scene.postSetupLights();
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(GetCapturedStderr(), "Setting up lights ...\nFinished setting up lights\n");
    EXPECT_EQ(order, "abAB");
}

TEST_F(SceneTest, RenderWithoutCameraRefusesClearly) {
    CaptureStdout();
    CaptureStderr();
    scene.render(out);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_NE(GetCapturedStderr().find("no camera"), std::string::npos);
    EXPECT_TRUE(out.calls.empty());
}

TEST_F(SceneTest, FourBlockImageProgressTextIsExact) {
    useCamera();
    treeWatcher_t watcher;
    scene.addLight(&watcher);
    const std::string text = renderCaptured();
    EXPECT_EQ(text, std::string(header) + "\n\rRender pass: [#]\n");
    EXPECT_EQ(lastErr, "Setting up lights ...\nFinished setting up lights\n");
    EXPECT_EQ(out.calls.size(), 65u * 65u);
    EXPECT_EQ(out.flushes, 0);     // flushing is the host's business
    EXPECT_EQ(watcher.order, "s"); // no preliminary pass, so no postSetup
    EXPECT_EQ(scene.objectTree, nullptr);
}

TEST_F(SceneTest, EveryPixelIsDeliveredOnceWithObjectsAndTheCountLine) {
    useCamera();
    sphere_t s(point3d_t(0, 0, -5), 1);
    scene.addObject(&s);
    treeWatcher_t watcher;
    scene.addLight(&watcher);
    const std::string text = renderCaptured();
    EXPECT_EQ(text,
              "Building bounding tree ... Object count= 1\nOK\nLight setup ...\n\n\n\rRender pass: [#]\n");
    EXPECT_TRUE(watcher.treeDuringSetup);
    EXPECT_EQ(scene.objectTree, nullptr);
    std::vector<int> seen(65 * 65, 0);
    for (const pixel_t& p : out.calls) ++seen[p.y * 65 + p.x];
    for (int n : seen) EXPECT_EQ(n, 1);
}

TEST_F(SceneTest, ProgressMarksEveryTenthBlock) {
    camera_t strip(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 64 * 21, 1, 1.0f);
    useCamera(&strip);
    const std::string text = renderCaptured();
    EXPECT_EQ(text, std::string(header) + "\n\rRender pass: [###]\n"); // before blocks 11 and 21, then "#]"
}

TEST_F(SceneTest, AbortOnTheFirstPixelStopsEverything) {
    useCamera();
    treeWatcher_t watcher;
    scene.addLight(&watcher);
    out.failAt = 1;
    const std::string text = renderCaptured();
    EXPECT_EQ(text, std::string(header) + "\n\rRender pass: [Aborted\n");
    EXPECT_EQ(out.calls.size(), 1u);
    EXPECT_EQ(scene.objectTree, nullptr);
}

TEST_F(SceneTest, AbortInALaterBlockKeepsWhatWasDelivered) {
    useCamera();
    out.failAt = 65 * 64 + 3; // inside the second block, whichever it is
    const std::string text = renderCaptured();
    EXPECT_EQ(text.substr(text.size() - 8), "Aborted\n");
    EXPECT_EQ(out.calls.size(), static_cast<size_t>(out.failAt));
}

TEST_F(SceneTest, AbortDuringAPreliminaryPassSkipsPostSetup) {
    useCamera();
    pointLight_t lamp(point3d_t(0, 0, 0), color_t(1.0f));
    lamp.repeatOnSetup = true;
    scene.addLight(&lamp);
    sphere_t s(point3d_t(0, 0, -5), 1);
    scene.addObject(&s);
    out.failAt = 1;
    const std::string text = renderCaptured();
    EXPECT_EQ(text,
              "Building bounding tree ... Object count= 1\nOK\nLight setup ...\n\n\rFake   pass: [Aborted\n");
    EXPECT_EQ(out.calls.size(), 1u);
    EXPECT_EQ(lamp.postSetups, 0);
    EXPECT_EQ(scene.objectTree, nullptr);
}

TEST_F(SceneTest, RepeatFirstGivesExactlyTheRequestedPreliminaryPasses) {
    useCamera();
    pointLight_t lamp(point3d_t(0, 0, 0), color_t(1.0f));
    lamp.repeatOnSetup = true;
    lamp.extraPasses = 2; // postSetup asks twice more
    scene.addLight(&lamp);
    const std::string text = renderCaptured();
    EXPECT_EQ(text, std::string(header) + "\rFake   pass: [#]\n\rFake   pass: [#]\n\rFake   pass: [#]\n" +
                        "\n\rRender pass: [#]\n");
    EXPECT_EQ(count(text, "Fake   pass: ["), 3u);
    EXPECT_EQ(lamp.setups, 1);
    EXPECT_EQ(lamp.postSetups, 3);
    EXPECT_EQ(out.calls.size(), 4u * 65u * 65u);
    EXPECT_FALSE(scene.getRepeatFirst());

    // Every render builds the tree and sets the lights up again.
    lamp.extraPasses = 0;
    out.calls.clear();
    renderCaptured();
    EXPECT_EQ(lamp.setups, 2);
    EXPECT_EQ(lamp.postSetups, 4);
    EXPECT_EQ(out.calls.size(), 2u * 65u * 65u);
}

TEST_F(SceneTest, RepeatFirstSetByTheHostRunsOnePassOfRawColourWithoutAlpha) {
    useCamera();
    constantBackground_t bg(color_t(0.5f, 2.0f, 0.25f));
    scene.setBackground(&bg);
    scene.setExposure(-1.0f);
    scene.setRepeatFirst(true);
    EXPECT_EQ(count(renderCaptured(), "Fake   pass: [#]\n"), 1u);
    EXPECT_FALSE(scene.getRepeatFirst());
    ASSERT_EQ(out.calls.size(), 2u * 65u * 65u);
    const pixel_t& fake = out.calls.front();
    EXPECT_EQ(fake.c.G, 2.0f); // neither exposure nor clamping
    EXPECT_EQ(fake.alpha, 0.0f);
    const pixel_t& real = out.calls.back();
    EXPECT_FLOAT_EQ(real.c.G, static_cast<float>(1.0 - std::exp(-2.0)));
    EXPECT_EQ(real.alpha, 0.0f);
    EXPECT_EQ(real.depth, -1.0f);
}

TEST_F(SceneTest, DerivedDriverReusesTheStepsInTheSerialBlockOrder) {
    camera_t big(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 150, 130, 1.0f);
    derivedScene_t derived;
    useCamera(&big);
    useCamera(&big, &derived);
    recordingOutput_t byIndex;
    std::srand(11);
    renderCaptured();
    std::srand(11);
    CaptureStdout();
    CaptureStderr();
    static_cast<scene_t&>(derived).render(byIndex);
    GetCapturedStderr();
    EXPECT_EQ(GetCapturedStdout(), header);
    EXPECT_EQ(derived.objectTree, nullptr);
    ASSERT_EQ(out.calls.size(), 150u * 130u);
    ASSERT_EQ(byIndex.calls.size(), out.calls.size());
    for (size_t i = 0; i < out.calls.size(); ++i) {
        ASSERT_EQ(out.calls[i].x, byIndex.calls[i].x) << i;
        ASSERT_EQ(out.calls[i].y, byIndex.calls[i].y) << i;
    }
}

TEST_F(SceneTest, DestroyingTheSceneLeavesEverythingItPointsTo) {
    auto* s = scene_t::factory();
    sphere_t sp(point3d_t(0, 0, 0), 1);
    constantLight_t l(color_t(1.0f), true, true);
    s->addObject(&sp);
    s->addLight(&l);
    delete s;
    EXPECT_EQ(sp.radius, 1.0f);
    EXPECT_EQ(l.calls, 0);
}
