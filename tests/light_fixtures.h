// A small scene for the light and material tests: standard plug-ins made by
// type and settings, meshes from corner lists, spheres, and colours traced
// through the scene as the render driver traces them, without clamping.
#ifndef VEXLAR_TESTS_LIGHT_FIXTURES_H
#define VEXLAR_TESTS_LIGHT_FIXTURES_H

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "plugintestcontext.h"
#include "standardplugins.h"
#include "vexlarcore/background.h"
#include "vexlarcore/geometree.h"
#include "vexlarcore/light.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/params.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/scene.h"
#include "vexlarcore/shader.h"
#include "vexlarcore/sphere.h"
#include "vexlarcore/texture.h"

namespace lightfx {

using namespace vexlar;

/// Plug-in settings in the order given: {"power", 2.0f}, {"shape", "disc"},
/// {"from", point3d_t(...)}, {"color", color_t(...)}.
struct setting_t {
    setting_t(const char* k, float v) : key(k), value(v) {}
    setting_t(const char* k, int v) : key(k), value(static_cast<float>(v)) {}
    setting_t(const char* k, const char* v) : key(k), value(std::string(v)) {}
    setting_t(const char* k, const point3d_t& v) : key(k), value(v) {}
    setting_t(const char* k, const color_t& c) : key(k), value(c.R, c.G, c.B, 1.0f) {}
    std::string key;
    parameter_t value;
};
using settings_t = std::vector<setting_t>;

/// `set` followed by `more`.
inline settings_t with(settings_t set, const settings_t& more) {
    set.insert(set.end(), more.begin(), more.end());
    return set;
}

inline paramMap_t paramsOf(const settings_t& settings) {
    paramMap_t map;
    for (const setting_t& s : settings) map[s.key] = s.value;
    return map;
}

/// A hit record at `p` with unit normal `n` on a surface of shader `sh`.
inline surfacePoint_t hit(const point3d_t& p, const vector3d_t& n, const shader_t* sh) {
    return surfacePoint_t(nullptr, p, p, n, n, 0, 0, color_t(0, 0, 0), 1.0f, sh, false, false, false);
}

/// A background computed by a function of the direction.
struct lambdaBackground_t : background_t {
    explicit lambdaBackground_t(std::function<color_t(const vector3d_t&)> f) : f(std::move(f)) {}
    color_t lookup(const vector3d_t& dir, renderState_t&) const override { return f(dir); }
    std::function<color_t(const vector3d_t&)> f;
};

/// Owns everything it adds to its scene. Tests skip without the plug-ins.
class lightScene_t {
public:
    lightScene_t() { scene.setIndirect(false, 0, 1.0f); }
    ~lightScene_t() {
        delete scene.objectTree;
        scene.objectTree = nullptr;
    }

    static bool available() { return !standardPluginDir().empty(); }

    shader_t* shader(const char* type, const settings_t& settings = {}) {
        paramMap_t params = paramsOf(settings);
        shaders.emplace_back(standardPlugins().createShader(type, params, context));
        EXPECT_TRUE(shaders.back()) << type;
        EXPECT_TRUE(context.warnings.empty()) << context.warnings.front();
        return shaders.back().get();
    }
    shader_t* diffuse(const color_t& c) { return shader("generic", {{"color", c}}); }
    /// A light, added to the scene.
    light_t* light(const char* type, const settings_t& settings = {}) {
        paramMap_t params = paramsOf(settings);
        context.scenePtr = &scene;
        lights.emplace_back(standardPlugins().createLight(type, params, context));
        context.scenePtr = nullptr;
        EXPECT_TRUE(lights.back()) << type;
        EXPECT_TRUE(context.warnings.empty()) << context.warnings.front();
        scene.addLight(lights.back().get());
        return lights.back().get();
    }
    void background(std::function<color_t(const vector3d_t&)> f) {
        bg.reset(new lambdaBackground_t(std::move(f)));
        scene.setBackground(bg.get());
    }

    /// A mesh of polygons over `corners` (each polygon a fan).
    object3d_t* mesh(std::vector<point3d_t> corners, const std::vector<std::vector<int>>& polygons,
                     const shader_t* sh) {
        std::vector<triangle_t> tris;
        for (const std::vector<int>& p : polygons)
            for (std::size_t k = 2; k < p.size(); ++k)
                tris.emplace_back(&corners[p[0]], &corners[p[k - 1]], &corners[p[k]]);
        meshObject_t* m = meshObject_t::factory(corners, std::vector<vector3d_t>(), tris,
                                                std::vector<float>(), std::vector<float>());
        m->setShader(sh);
        return add(m);
    }
    /// The square |x|, |z| <= half at height y, facing up.
    object3d_t* floor(float y, float half, const shader_t* sh) {
        return mesh({{-half, y, -half}, {-half, y, half}, {half, y, half}, {half, y, -half}}, {{0, 1, 2, 3}},
                    sh);
    }
    /// The closed box between lo and hi.
    object3d_t* box(const point3d_t& lo, const point3d_t& hi, const shader_t* sh) {
        std::vector<point3d_t> c;
        for (int k = 0; k < 8; ++k)
            c.emplace_back((k & 1) ? hi.x : lo.x, (k & 2) ? hi.y : lo.y, (k & 4) ? hi.z : lo.z);
        return mesh(c, {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}},
                    sh);
    }
    sphere_t* sphere(const point3d_t& c, float r, const shader_t* sh) {
        sphere_t* s = new sphere_t(c, r);
        s->setShader(sh);
        add(s);
        return s;
    }

    /// Builds the object tree and sets the lights up, as render does.
    void ready() {
        delete scene.objectTree;
        scene.objectTree = buildObjectTree(scene.objects);
        for (light_t* l : scene.lights) l->setup(scene);
    }

    /// The colour seen along a camera ray (level 0), unclamped.
    color_t trace(const point3d_t& from, vector3d_t dir) {
        dir.normalize();
        state.rayLevel = -1;
        return scene.raytrace(state, from, dir);
    }

    /// What `l` delivers at a point with unit normal n on a surface of
    /// shader `sh`, seen from along n, at ray level `level`.
    color_t lightAt(const light_t& l, const point3d_t& p, const vector3d_t& n, const shader_t* sh,
                    int level = 0) {
        state.rayLevel = level;
        return l.illuminate(state, scene, hit(p, n, sh), n);
    }

    scene_t scene;
    testContext_t context;
    renderState_t state;

private:
    object3d_t* add(object3d_t* o) {
        objects.emplace_back(o);
        scene.addObject(o);
        return o;
    }

    std::vector<std::unique_ptr<object3d_t>> objects;
    std::vector<std::unique_ptr<shader_t>> shaders;
    std::vector<std::unique_ptr<light_t>> lights;
    std::unique_ptr<background_t> bg;
};

/// Mean and variance of a list of values.
struct moments_t {
    double mean = 0, variance = 0;
};
inline moments_t momentsOf(const std::vector<double>& v) {
    moments_t m;
    for (double x : v) m.mean += x / static_cast<double>(v.size());
    for (double x : v) m.variance += (x - m.mean) * (x - m.mean) / static_cast<double>(v.size());
    return m;
}

inline double mean3(const color_t& c) {
    return (static_cast<double>(c.R) + c.G + c.B) / 3.0;
}

} // namespace lightfx

#define SKIP_WITHOUT_PLUGINS()                                                                               \
    if (!lightfx::lightScene_t::available()) GTEST_SKIP() << "built without the standard plug-ins"

#endif
