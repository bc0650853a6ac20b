// The indirect-light settings of scene files, through the host's loader and
// the library's renderer: a white furnace (a grey ball under a uniform sky)
// shows the ball at its albedo whatever the sample count.
#include <algorithm>
#include <cmath>

#include "importfixture.h"
#include "scene_fixtures.h"

class hostIndirect : public support::importFixture_t {};

TEST_F(hostIndirect, FurnaceBallShowsItsAlbedoAtEverySampleCount) {
    for (int n : {2, 5, 8}) {
        const std::string text = R"({
  "camera": {"from": [0, 0, 4], "to": [0, 0, 0], "up": [0, 1, 4], "resolution": [24, 24], "focal": 1.4},
  "render": {"antialiasing": {"passes": 0}, "indirect": {"enabled": true, "power": 1, "samples": )" +
                                 std::to_string(n) + R"(}},
  "background": {"type": "constant", "color": [1, 1, 1]},
  "shaders": {"grey": {"type": "generic", "color": [0.5, 0.5, 0.5]}},
  "objects": {"ball": {"type": "sphere", "center": [0, 0, 0], "radius": 1, "shader": "grey"}}})";
        const auto ls = load(text);
        ASSERT_TRUE(ls) << n;
        EXPECT_FLOAT_EQ(ls->scene->getIndirectStratumPhi(), static_cast<float>(2 * M_PI / n));
        fixtures::recordingOutput_t out;
        ls->scene->render(out);
        std::size_t hits = 0;
        double worst = 0;
        for (const auto& p : out.calls) {
            if (p.depth <= 0) continue; // the sky
            ++hits;
            worst = std::max(worst, std::fabs(p.c.G / 0.5 - 1));
        }
        ASSERT_GT(hits, 100u) << n;
        EXPECT_LT(worst, 0.02) << n << " x " << n << " gathered rays";
    }
}
