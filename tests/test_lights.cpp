// The standard lights' fall-off with distance, against values computed
// here, and their shadow rays: cast only where the surface sends light back.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "plugintestcontext.h"
#include "standardplugins.h"
#include "vexlarcore/geometree.h"
#include "vexlarcore/light.h"
#include "vexlarcore/params.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/scene.h"
#include "vexlarcore/shader.h"
#include "vexlarcore/sphere.h"

using namespace vexlar;

namespace {

// A sphere that counts the shadow rays tested against it.
class countingSphere_t : public sphere_t {
public:
    using sphere_t::sphere_t;
    bool shoot(renderState_t& state, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
               bool shadow, float dist) const override {
        if (shadow) ++shadowRays;
        return sphere_t::shoot(state, sp, from, ray, shadow, dist);
    }
    mutable int shadowRays = 0;
};

class standardLights : public ::testing::Test {
protected:
    void SetUp() override {
        if (standardPluginDir().empty()) GTEST_SKIP() << "built without the standard plug-ins";
    }

    std::unique_ptr<light_t> light(const std::string& type, paramMap_t params) {
        return std::unique_ptr<light_t>(standardPlugins().createLight(type, params, context));
    }
    std::unique_ptr<shader_t> shader(const color_t& c) {
        paramMap_t params;
        params["color"] = parameter_t(c.R, c.G, c.B, 1);
        return std::unique_ptr<shader_t>(standardPlugins().createShader("generic", params, context));
    }
    // A hit at the origin with unit normal `n`, seen from the side of `n`.
    static surfacePoint_t hit(const vector3d_t& n, const shader_t* sh) {
        return surfacePoint_t(nullptr, point3d_t(0, 0, 0), point3d_t(0, 0, 0), n, n, 0, 0, color_t(0, 0, 0),
                              1, sh, false, false, false);
    }

    testContext_t context;
    renderState_t state;
    scene_t scene;
};

} // namespace

TEST_F(standardLights, FadeDividesByNothingTheDistanceOrItsSquare) {
    auto white = shader(color_t(1, 1, 1));
    surfacePoint_t p = hit(vector3d_t(0, 0, 1), white.get());
    const struct {
        const char* fade; // "" leaves the setting out
        double exponent;
    } fades[] = {{"none", 0}, {"linear", 1}, {"quadratic", 2}, {"", 2}};
    for (const char* type : {"point", "spot"}) {
        for (const auto& f : fades) {
            for (float d : {0.5f, 2.0f, 3.0f}) {
                // Head-on, on the spot's axis: only power and fall-off remain.
                paramMap_t params;
                params["from"] = parameter_t(point3d_t(0, 0, d));
                params["to"] = parameter_t(point3d_t(0, 0, 0));
                params["power"] = parameter_t(3.0f);
                if (*f.fade) params["fade"] = parameter_t(std::string(f.fade));
                auto lamp = light(type, params);
                ASSERT_TRUE(lamp);
                const double expected = 3.0 / std::pow(static_cast<double>(d), f.exponent);
                color_t c = lamp->illuminate(state, scene, p, vector3d_t(0, 0, 1));
                EXPECT_NEAR(c.R, expected, expected * 1e-6) << type << " fade " << f.fade << " at " << d;
                EXPECT_EQ(c.R, c.B);
            }
        }
    }
    EXPECT_TRUE(context.warnings.empty());
}

TEST_F(standardLights, ShadowRaysOnlyWhereTheSurfaceSendsLightBack) {
    countingSphere_t ball(point3d_t(0, 0, 1), 0.25f);
    scene.addObject(&ball);
    scene.objectTree = buildObjectTree(scene.objects);
    auto white = shader(color_t(1, 1, 1));
    auto black = shader(color_t(0, 0, 0));
    const vector3d_t up(0, 0, 1), down(0, 0, -1);
    const struct {
        const shader_t* sh;
        vector3d_t normal;
        const char* shadows;
        int rays;   // shadow rays cast
        bool black; // result
    } cases[] = {
        {white.get(), up, "on", 1, true},   // lit side, behind the ball: shadowed
        {white.get(), down, "on", 0, true}, // facing away from the light
        {black.get(), up, "on", 0, true},   // a black surface sends nothing back
        {white.get(), up, "off", 0, false}, // no shadows asked for
        {nullptr, up, "on", 0, true},       // no shader
    };
    for (const char* type : {"point", "spot", "sun"}) {
        for (const auto& c : cases) {
            paramMap_t params;
            params["from"] = parameter_t(point3d_t(0, 0, 2));
            params["to"] = parameter_t(point3d_t(0, 0, 0));
            params["direction"] = parameter_t(point3d_t(0, 0, 1));
            params["shadows"] = parameter_t(std::string(c.shadows));
            context.warnings.clear();
            auto lamp = light(type, params);
            ASSERT_TRUE(lamp);
            ball.shadowRays = 0;
            color_t col = lamp->illuminate(state, scene, hit(c.normal, c.sh), c.normal);
            EXPECT_EQ(ball.shadowRays, c.rays)
                << type << " normal z " << c.normal.z << " shadows " << c.shadows;
            EXPECT_EQ(col.isBlack(), c.black) << type;
        }
    }
    delete scene.objectTree;
    scene.objectTree = nullptr;
}
