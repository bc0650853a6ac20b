// Small shaders, lights, backgrounds and outputs for the scene tests, plus
// an independent double-precision model of the test camera and of spheres.
#ifndef VEXLAR_TESTS_SCENE_FIXTURES_H
#define VEXLAR_TESTS_SCENE_FIXTURES_H

#include "vexlarcore/background.h"
#include "vexlarcore/camera.h"
#include "vexlarcore/light.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/output.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/scene.h"
#include "vexlarcore/shader.h"

#include "boxobject.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace fixtures {

using namespace vexlar;

/// Diffuse surface: getDiffuse is `diffuse`; fromWorld adds `ambient`.
class lambertShader_t : public shaderNode_t {
public:
    explicit lambertShader_t(const color_t& d, const color_t& amb = color_t(0.0f))
        : diffuse(d), ambient(amb) {}
    color_t fromWorld(renderState_t&, const surfacePoint_t&, const scene_t&,
                      const vector3d_t&) const override {
        ++fromWorldCalls;
        return ambient;
    }
    color_t getDiffuse(renderState_t&, const surfacePoint_t&, const vector3d_t&) const override {
        return diffuse;
    }
    color_t diffuse;
    color_t ambient;
    mutable int fromWorldCalls = 0;
};

/// Point light without fall-off: power * diffuse * max(0, N.L), black when
/// the scene reports the light's position shadowed.
class pointLight_t : public light_t {
public:
    pointLight_t(const point3d_t& p, const color_t& pw) : pos(p), power(pw) {}
    color_t illuminate(renderState_t& state, const scene_t& scene, surfacePoint_t sp,
                       const vector3d_t& eye) const override {
        vector3d_t N = sp.normal;
        N.normalize();
        vector3d_t L = pos - sp.point;
        L.normalize();
        const float c = N * L;
        if (c <= 0.0f) return color_t(0.0f);
        if (scene.isShadowed(state, sp, pos)) return color_t(0.0f);
        return power * sp.shader->getDiffuse(state, sp, eye) * c;
    }
    point3d_t pos;
    color_t power;
};

/// Light that adds a constant colour (no shadows); counts its calls.
class constantLight_t : public light_t {
public:
    constantLight_t(const color_t& c, bool direct, bool indirect) : light_t(direct, indirect), col(c) {}
    color_t illuminate(renderState_t&, const scene_t&, surfacePoint_t, const vector3d_t&) const override {
        ++calls;
        return col;
    }
    color_t col;
    mutable int calls = 0;
};

/// Object that reports a hit at a fixed ray parameter `t` whenever the ray
/// crosses its box and `accept(state)` agrees; `dress` may then edit the hit.
class fakeObject_t : public boxObject_t {
public:
    fakeObject_t(const bound_t& b, float t) : boxObject_t(b), depth(t) {}
    bool shoot(renderState_t& state, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
               bool shadow, float dist) const override {
        lastDist = dist;
        if (accept && !accept(state)) return false;
        if (shadow) return true;
        sp = surfacePoint_t(const_cast<fakeObject_t*>(this), from + depth * ray, from, vector3d_t(0, 0, 1),
                            vector3d_t(0, 0, 1), 0, 0, color_t(0.0f), depth, shader, false, false, false);
        if (dress) dress(sp);
        return true;
    }
    float depth;
    std::function<bool(renderState_t&)> accept;
    std::function<void(surfacePoint_t&)> dress;
    mutable float lastDist = 0;
};

/// Builds the scene's object tree for tests that call the tracers directly,
/// and destroys it at the end of the scope.
class treeScope_t {
public:
    explicit treeScope_t(scene_t& s) : scene(s) { scene.objectTree = buildObjectTree(scene.objects); }
    ~treeScope_t() {
        delete scene.objectTree;
        scene.objectTree = nullptr;
    }
    treeScope_t(const treeScope_t&) = delete;
    treeScope_t& operator=(const treeScope_t&) = delete;
    scene_t& scene;
};

/// Background of one colour.
class constantBackground_t : public background_t {
public:
    explicit constantBackground_t(const color_t& c) : col(c) {}
    color_t lookup(const vector3d_t&, renderState_t&) const override { return col; }
    color_t col;
};

/// Background computed by a function of the direction and the state.
class functionBackground_t : public background_t {
public:
    using fn_t = std::function<color_t(const vector3d_t&, renderState_t&)>;
    explicit functionBackground_t(fn_t f) : fn(std::move(f)) {}
    color_t lookup(const vector3d_t& dir, renderState_t& state) const override { return fn(dir, state); }
    fn_t fn;
};

/// One pixel as the output received it.
struct pixel_t {
    int x, y;
    color_t c;
    float alpha, depth;
};

/// Output keeping every pixel it receives; refuses call number `failAt`
/// (counting from 1) when that is positive.
class recordingOutput_t : public colorOutput_t {
public:
    bool putPixel(int x, int y, const color_t& c, float alpha, float depth) override {
        calls.push_back({x, y, c, alpha, depth});
        return failAt <= 0 || static_cast<int>(calls.size()) != failAt;
    }
    bool flush() override {
        ++flushes;
        return true;
    }
    std::vector<pixel_t> calls;
    int failAt = 0;
    int flushes = 0;
};

/// Camera at the origin looking along -z with +y up, focal length 1.
inline camera_t frontCamera(int resx, int resy, float aperture = 0, float focus = 1, bool qmc = false) {
    return camera_t(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), resx, resy, 1.0f, aperture,
                    focus, qmc);
}

/// Double-precision vector of the reference models.
struct dvec_t {
    double x, y, z;
    friend dvec_t operator-(const dvec_t& a, const dvec_t& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    friend dvec_t operator*(double s, const dvec_t& a) { return {s * a.x, s * a.y, s * a.z}; }
};
inline double dot(const dvec_t& a, const dvec_t& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline double norm(const dvec_t& a) {
    return std::sqrt(dot(a, a));
}
inline dvec_t unit(const dvec_t& a) {
    return (1.0 / norm(a)) * a;
}

/// Pixel (x, y) of frontCamera(resx, resy) looks along
/// ((x - resx/2) / resx, (resy/2 - y) / resx, -1), normalised.
inline dvec_t pinholeDir(int resx, int resy, double x, double y) {
    return unit({(x - resx / 2.0) / resx, (resy / 2.0 - y) / resx, -1});
}

/// Nearest positive root of |o + t d - c| = r for unit d, or -1; `margin`
/// receives how far the ray passes inside the sphere's silhouette (negative
/// outside), a measure of how safe the hit/miss decision is.
inline double sphereHit(const dvec_t& o, const dvec_t& d, const dvec_t& c, double r,
                        double* margin = nullptr) {
    const dvec_t v = o - c;
    const double b = dot(v, d), disc = b * b - (dot(v, v) - r * r);
    if (margin) *margin = disc >= 0 ? std::sqrt(disc) : -std::sqrt(-disc);
    if (disc < 0) return -1;
    const double s = std::sqrt(disc);
    return -b - s > 0 ? -b - s : -b + s > 0 ? -b + s : -1;
}

/// The pixels `out` received as a resx x resy image (row-major); fails the
/// test unless every pixel arrived exactly once.
inline std::vector<pixel_t> imageOf(const recordingOutput_t& out, int resx, int resy) {
    std::vector<pixel_t> img(std::size_t(resx) * resy);
    std::vector<int> seen(img.size(), 0);
    for (const pixel_t& p : out.calls) {
        const bool inside = p.x >= 0 && p.x < resx && p.y >= 0 && p.y < resy;
        EXPECT_TRUE(inside) << p.x << "," << p.y;
        if (inside) img[std::size_t(p.y) * resx + p.x] = p, ++seen[std::size_t(p.y) * resx + p.x];
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), std::ptrdiff_t(img.size())) << "every pixel once";
    return img;
}

} // namespace fixtures

#endif
