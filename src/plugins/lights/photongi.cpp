// Light "photongi": light that has bounced off diffuse surfaces more than
// once (colour bleeding, light around corners), from a photon map, for the
// scene's indirect light. Its settings: `vexlar --list-plugins`,
// docs/scene-format.md.
//
// Set-up shoots `photons` photons from the scene's other lights that emit
// photons (point, spot and area lights; the sun and the sky do not), shared
// in proportion to their power, and follows each through up to `depth`
// surfaces: diffusely, mirrored or refracted as the surface's scattering
// split says (scatter.h; other shaders count as diffuse). Every photon that
// arrives at a surface with a diffuse part after at least one diffuse bounce
// is stored: the map holds the indirect light only, direct light is the
// lights' own business.
//
// Rendering, with the scene's indirect light on (render.indirect): the light
// has useDirect false and useIndirect true. The library's indirect tracer
// gathers cosine-weighted rays at the first diffuse surface a camera ray (or
// a mirror or glass in its way) meets; at the surfaces those gathering rays
// hit, this light adds the photon estimate of the indirect light there (the
// `search` nearest photons within `radius`, 0: 1/10 of the scene's size,
// cone filter, photontracer.h), delivered through the shader's
// fromRadiosity. So the gather sees direct light plus every further bounce:
// final gathering. At the gathering surface itself it adds nothing, since the
// gather brings its indirect light, except where the ray-depth limit leaves
// no level for gathering rays.
//
// The indirect tracer calls every light at every surface, gathering ray or
// not, so the light tells gathering rays apart itself: the tracer lights a
// surface only after its gathering rays are done and before the rays its
// shader traces (mirrors, glass). A ray whose origin is the last surface lit
// one level up therefore comes from that surface's shader; any other ray one
// level down from a lit level is a gathering ray. The origin is recovered as
// point + eye * (depth + the scene's ray bias).
//
// With the scene's indirect light off, the light takes part in direct
// lighting instead and adds the photon estimate at every surface (a quick
// look at the map; blotchier than final gathering).
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "vexlarcore/light.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/photontracer.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/scene.h"
#include "vexlarplugin/lighting.h"

namespace {

using namespace vexlar;

struct photongiSettings_t {
    int photons;
    int search;
    float radius;
    float minCos;
    int depth;
};

const plugins::paramTable_t<photongiSettings_t> photongiParams{
    plugins::integer("photons", &photongiSettings_t::photons, 100000, plugins::range_t::atLeast(0),
                     "photons shot from the scene's lights in set-up"),
    plugins::integer("search", &photongiSettings_t::search, 100, plugins::range_t::between(1, 10000),
                     "photons per estimate"),
    plugins::number("radius", &photongiSettings_t::radius, 0.0f, plugins::range_t::atLeast(0),
                    "largest search radius (0: 1/10 of the scene's size)"),
    plugins::number("min_cos", &photongiSettings_t::minCos, 0.0f, plugins::range_t::between(-1, 1),
                    "photons count only when the cosine of their direction to the normal exceeds this"),
    plugins::integer("depth", &photongiSettings_t::depth, 8, plugins::range_t::between(1, 100),
                     "surfaces a photon visits at most")};

// The last surface this light was asked about at each ray level, per render
// state.
struct litPoints_t : context_t::destructible {
    std::vector<point3d_t> point;
    std::vector<char> valid;
};

class photongiLight_t : public light_t {
public:
    explicit photongiLight_t(const photongiSettings_t& s) : light_t(false, true), s(s) {}

    void setup(scene_t& scene) override {
        useDirect = !scene.getIndirectEnabled();
        useIndirect = true;
        rayBias = scene.getRayBias();
        maxLevel = scene.getMaxRayLevel();
        const float size = sceneSize(scene);
        map.reset(new globalPhotonMap_t(s.radius > 0.0f ? s.radius : size / 10.0f));
        if (s.photons == 0) return;
        photonTracer_t tracer(scene, photonKind_t::indirect, s.depth);
        shootFromLights(scene, this, s.photons, tracer, *map);
        if (!map->photons.empty()) map->buildTree();
    }

    color_t illuminate(renderState_t& state, const scene_t&, surfacePoint_t sp,
                       const vector3d_t& eye) const override {
        if (!map || map->photons.empty()) return color_t(0, 0, 0);
        if (!useDirect && !wanted(state, sp, eye)) return color_t(0, 0, 0);
        const vector3d_t n = plugins::facingNormal(sp, eye);
        const color_t e = photonIrradiance(*map, sp.point, n, static_cast<unsigned>(s.search), s.minCos,
                                           photonScratch(state, &map));
        return plugins::deliverDiffuse(state, sp, n, e, eye);
    }

private:
    // True at surfaces hit by gathering rays, and at surfaces whose own
    // gathering rays the ray-depth limit stops. Records the surface.
    bool wanted(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& eye) const {
        const int level = state.rayLevel;
        if (level < 0) return false;
        context_t::destructible*& slot =
            context_t::createRecord(state.context.objectRecords, const_cast<photongiLight_t*>(this));
        if (slot == nullptr) slot = new litPoints_t();
        litPoints_t& lit = *static_cast<litPoints_t*>(slot);
        const std::size_t need = static_cast<std::size_t>(level) + 1;
        if (lit.point.size() < need) {
            lit.point.resize(need);
            lit.valid.resize(need, 0);
        }
        bool gathered = false;
        if (level > 0) {
            vector3d_t e = eye;
            e.normalize();
            const float reach = sp.depth + rayBias;
            const point3d_t origin = sp.point + reach * e;
            const std::size_t up = static_cast<std::size_t>(level - 1);
            const bool fromShader =
                lit.valid[up] && (lit.point[up] - origin).length() <= 1e-4f * (1.0f + reach);
            gathered = !fromShader;
        }
        lit.point[static_cast<std::size_t>(level)] = sp.point;
        lit.valid[static_cast<std::size_t>(level)] = 1;
        return gathered || level + 1 >= maxLevel;
    }

    photongiSettings_t s;
    float rayBias = 5e-5f;
    int maxLevel = 3;
    std::unique_ptr<globalPhotonMap_t> map;
};

light_t* makePhotongi(paramMap_t& params, pluginContext_t& context) {
    return new photongiLight_t(photongiParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerLight("photongi", makePhotongi, photongiParams.rows(),
                           "multi-bounce diffuse light from a photon map, for final gathering");
}

} // namespace

VEXLAR_PLUGIN("light_photongi", registerAll)
