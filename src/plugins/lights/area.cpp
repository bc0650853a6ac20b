// Light "area": light from a rectangle or a disc, which casts soft shadows.
// Its settings: `vexlar --list-plugins`, docs/scene-format.md.
//
// The shape is the parallelogram at `corner` spanned by `edge_u` and
// `edge_v`, or the ellipse inscribed in it ("disc": a circle when the edges
// are perpendicular and equally long). It shines from one side only, the side
// edge_u x edge_v points to, as a Lambertian emitter.
//
// `power` means what it means for a point light: the energy arriving at
// distance 1 straight in front of the light, so that resizing a light softens
// its shadows without changing how bright it is. The emitter's radiance is
// pi * color * power / area. Each sample point q of the shape, seen from the
// shaded point at distance d and at angle a to the light's normal, delivers
// color * power * cos(a) / (d^2 * n^2) from the direction of q to the
// surface's shader (fromLight), unless a shadow-casting object lies between.
//
// Samples: an n x n grid of strata over the shape (n = `samples`; for the
// disc the strata are carried over by Shirley's concentric mapping, which
// keeps their areas equal). Without `jitter` each sample is the centre of its
// stratum, so that 1 x 1 samples are a light at the shape's centre; with it,
// a point drawn uniformly in its stratum from random numbers seeded by the
// shaded point's position (the same point always gets the same pattern).
// Rays below the camera's (reflections, indirect light) take max(1, n / 4)
// samples per axis: their results are averaged again further up.
//
// With `visible` on, the shape itself is added to the scene as an object
// that camera rays see with the emitter's radiance from the lit side. Other
// rays see it black (they receive the light through this light already) and
// shadow rays pass through it.
//
// Photons (for the photongi light): from a point of the shape and a
// cosine-weighted direction; the whole power is pi * color * power.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "vexlarcore/hashrandom.h"
#include "vexlarcore/light.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/scatter.h"
#include "vexlarcore/scene.h"
#include "vexlarplugin/lighting.h"

namespace {

using namespace vexlar;

enum class shape_t { rectangle, disc };

struct areaSettings_t {
    color_t color;
    float power;
    bool shadows;
    shape_t shape;
    point3d_t corner, edgeU, edgeV; // the edges are vectors
    int samples;
    bool jitter;
    bool visible;
};

// The edges must span a shape: not zero, not parallel.
void checkEdges(plugins::paramReader_t& read, areaSettings_t& s) {
    const vector3d_t n = toVector(s.edgeU) ^ toVector(s.edgeV);
    if (n.lengthSqr() > 0.0f && std::isfinite(n.lengthSqr())) return;
    read.warn("settings \"edge_u\" and \"edge_v\" are parallel or zero, so they span no shape; using 1 0 0 "
              "and 0 1 0");
    s.edgeU = point3d_t(1, 0, 0);
    s.edgeV = point3d_t(0, 1, 0);
}

const plugins::paramTable_t<areaSettings_t> areaParams{
    plugins::color("color", &areaSettings_t::color, color_t(1, 1, 1), "colour of the light"),
    plugins::number("power", &areaSettings_t::power, 1.0f, plugins::range_t::atLeast(0),
                    "energy arriving at distance 1 straight in front of the light, as for a point light"),
    plugins::flag("shadows", &areaSettings_t::shadows, true, "cast (soft) shadows"),
    plugins::choice("shape", &areaSettings_t::shape, "rectangle",
                    {{"rectangle", shape_t::rectangle}, {"disc", shape_t::disc}},
                    "the parallelogram of the edges, or the ellipse inscribed in it"),
    plugins::point("corner", &areaSettings_t::corner, point3d_t(-0.5f, -0.5f, 0), "a corner of the shape"),
    plugins::point("edge_u", &areaSettings_t::edgeU, point3d_t(1, 0, 0), "first edge from the corner"),
    plugins::point("edge_v", &areaSettings_t::edgeV, point3d_t(0, 1, 0),
                   "second edge from the corner; the light shines towards edge_u x edge_v")
        .then(checkEdges),
    plugins::integer("samples", &areaSettings_t::samples, 4, plugins::range_t::between(1, 64),
                     "samples per axis: n x n per shaded point"),
    plugins::flag("jitter", &areaSettings_t::jitter, true,
                  "random sample positions within their strata (off: stratum centres)"),
    plugins::flag("visible", &areaSettings_t::visible, false,
                  "show the shape to camera rays with the emitter's radiance")};

constexpr std::uint64_t areaSalt = 0x61726561u; // "area"

// What camera rays see on the shape: the emitter's radiance from the lit side.
class emitterShader_t : public shaderNode_t {
public:
    emitterShader_t(const color_t& radiance, const vector3d_t& normal) : radiance(radiance), normal(normal) {}
    color_t fromWorld(renderState_t& state, const surfacePoint_t&, const scene_t&,
                      const vector3d_t& eye) const override {
        if (state.rayLevel != 0 || !(eye * normal > 0.0f)) return color_t(0, 0, 0);
        return radiance;
    }

private:
    color_t radiance;
    vector3d_t normal;
};

class areaLight_t : public light_t {
public:
    explicit areaLight_t(const areaSettings_t& s)
        : s(s), corner(s.corner), edgeU(toVector(s.edgeU)), edgeV(toVector(s.edgeV)) {
        normal = edgeU ^ edgeV;
        area = normal.length();
        normal.normalize();
        if (s.shape == shape_t::disc) area *= 0.785398163f; // pi / 4 of the parallelogram
        centre = corner + 0.5f * edgeU + 0.5f * edgeV;
    }

    color_t illuminate(renderState_t& state, const scene_t& scene, surfacePoint_t sp,
                       const vector3d_t& eye) const override {
        if (!((sp.point - centre) * normal > 0.0f)) return color_t(0, 0, 0); // behind the light
        const int n = state.rayLevel > 0 ? std::max(1, s.samples / 4) : s.samples;
        hashRandom_t random = hashRandom_t::at(sp.point, areaSalt);
        const color_t perSample = s.color * (s.power / static_cast<float>(n * n));
        color_t sum(0, 0, 0);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                const float a = (static_cast<float>(i) + (s.jitter ? random.next() : 0.5f)) / n;
                const float b = (static_cast<float>(j) + (s.jitter ? random.next() : 0.5f)) / n;
                const point3d_t q = pointAt(a, b);
                vector3d_t toLight = q - sp.point;
                const float d2 = toLight.lengthSqr();
                if (!(d2 > 0.0f)) continue;
                toLight.normalize();
                const float cosLight = -(toLight * normal);
                if (!(cosLight > 0.0f)) continue;
                sum +=
                    plugins::deliverUnlessBlocked(state, sp, toLight, perSample * (cosLight / d2), eye,
                                                  s.shadows, [&] { return scene.isShadowed(state, sp, q); });
            }
        }
        return sum;
    }

    color_t getPower() const override { return s.color * (3.14159265f * s.power); }

    bool emitPhoton(float z1, float z2, point3d_t& from, vector3d_t& dir, color_t& power) const override {
        // The two numbers choose the direction; the position comes from
        // their hash, independent of it.
        std::uint32_t b1, b2;
        std::memcpy(&b1, &z1, sizeof b1);
        std::memcpy(&b2, &z2, sizeof b2);
        hashRandom_t random((static_cast<std::uint64_t>(b1) << 32) | b2);
        const float a = random.next();
        from = pointAt(a, random.next());
        dir = sampleCosine(normal, z1, z2);
        power = getPower();
        return true;
    }

    /// Adds the visible shape to `scene`; the light keeps it.
    void addEmitter(scene_t& scene) {
        shader.reset(new emitterShader_t(s.color * (3.14159265f * s.power / area), normal));
        std::vector<point3d_t> ver;
        std::vector<int> corners;
        if (s.shape == shape_t::rectangle) {
            ver = {pointAt(0, 0), pointAt(1, 0), pointAt(1, 1), pointAt(0, 1)};
            corners = {0, 1, 2, 0, 2, 3};
        } else {
            const int steps = 48;
            ver.push_back(centre);
            for (int k = 0; k < steps; ++k) {
                const double t = 6.283185307179586 * k / steps;
                ver.push_back(centre + static_cast<float>(0.5 * std::cos(t)) * edgeU +
                              static_cast<float>(0.5 * std::sin(t)) * edgeV);
                corners.insert(corners.end(), {0, 1 + k, 1 + (k + 1) % steps});
            }
        }
        std::vector<triangle_t> tris;
        for (std::size_t k = 0; k < corners.size(); k += 3)
            tris.emplace_back(&ver[static_cast<std::size_t>(corners[k])],
                              &ver[static_cast<std::size_t>(corners[k + 1])],
                              &ver[static_cast<std::size_t>(corners[k + 2])]);
        mesh.reset(meshObject_t::factory(ver, std::vector<vector3d_t>(), tris, std::vector<float>(),
                                         std::vector<float>()));
        mesh->setShader(shader.get());
        mesh->setCastShadows(false);
        scene.addObject(mesh.get());
    }

private:
    // The point of the shape at (a, b) in [0, 1]^2.
    point3d_t pointAt(float a, float b) const {
        if (s.shape == shape_t::rectangle) return corner + a * edgeU + b * edgeV;
        float x, y;
        ShirleyDisc(a, b, x, y);
        return centre + (0.5f * x) * edgeU + (0.5f * y) * edgeV;
    }

    areaSettings_t s;
    point3d_t corner, centre;
    vector3d_t edgeU, edgeV, normal;
    float area;
    std::unique_ptr<emitterShader_t> shader;
    std::unique_ptr<meshObject_t> mesh;
};

light_t* makeArea(paramMap_t& params, pluginContext_t& context) {
    const areaSettings_t s = areaParams.read(params, context);
    auto* light = new areaLight_t(s);
    if (s.visible && context.scene() != nullptr) light->addEmitter(*context.scene());
    return light;
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerLight("area", makeArea, areaParams.rows(),
                           "rectangle or disc of light with soft shadows");
}

} // namespace

VEXLAR_PLUGIN("light_area", registerAll)
