// The indirect-light settings of scene files, through the host's loader and
// the library's renderer: a white furnace (a grey ball under a uniform sky)
// shows the ball at its albedo whatever the sample count.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/sceneloader.h"
#include "vexlarcore/output.h"
#include "vexlarcore/scene.h"

using namespace vexlar;
using namespace vexlar::host;

namespace {

// Keeps the pixels that show an object.
class hitPixels_t : public colorOutput_t {
public:
    bool putPixel(int, int, const color_t& c, float, float depth) override {
        if (depth > 0) seen.push_back(c);
        return true;
    }
    bool flush() override { return true; }
    std::vector<color_t> seen;
};

std::unique_ptr<loadedScene_t> loadText(const std::string& text, const pluginManager_t& plugins) {
    sceneSource_t s;
    s.text = text;
    s.label = "furnace.json";
    return loadScene(s, sceneOverrides_t(), plugins, loadOptions_t());
}

} // namespace

TEST(hostIndirect, FurnaceBallShowsItsAlbedoAtEverySampleCount) {
    std::ostringstream log;
    pluginManager_t plugins(log);
    if (std::string(VEXLAR_HOST_PLUGIN_DIR).empty()) GTEST_SKIP() << "standard plug-ins not built";
    plugins.loadDirectory(VEXLAR_HOST_PLUGIN_DIR);
    for (int n : {2, 5, 8}) {
        const std::string text = R"({
  "camera": {"from": [0, 0, 4], "to": [0, 0, 0], "up": [0, 1, 4], "resolution": [24, 24], "focal": 1.4},
  "render": {"antialiasing": {"passes": 0}, "indirect": {"enabled": true, "power": 1, "samples": )" +
                                 std::to_string(n) + R"(}},
  "background": {"type": "constant", "color": [1, 1, 1]},
  "shaders": {"grey": {"type": "generic", "color": [0.5, 0.5, 0.5]}},
  "objects": {"ball": {"type": "sphere", "center": [0, 0, 0], "radius": 1, "shader": "grey"}}})";
        std::unique_ptr<loadedScene_t> ls = loadText(text, plugins);
        ASSERT_TRUE(ls) << n;
        EXPECT_FLOAT_EQ(ls->scene->getIndirectStratumU(), 1.0f / static_cast<float>(n));
        EXPECT_FLOAT_EQ(ls->scene->getIndirectStratumPhi(), static_cast<float>(2 * M_PI / n));
        hitPixels_t out;
        ls->scene->render(out);
        ASSERT_GT(out.seen.size(), 100u) << n;
        double worst = 0;
        for (const color_t& c : out.seen) worst = std::max(worst, std::fabs(c.G / 0.5 - 1));
        EXPECT_LT(worst, 0.02) << n << " x " << n << " gathered rays";
    }
}
