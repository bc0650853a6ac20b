// Light "caustic": the light a point or spot source sends through mirrors and
// glass onto diffuse surfaces (caustics), from a photon map. Its settings:
// `vexlar --list-plugins`, docs/scene-format.md.
//
// It gives caustics only: put a point or spot light at the same place for
// the light's direct illumination (with the same colour and power, the two
// agree: the photons carry power the way a point light delivers it).
//
// Set-up shoots `photons` photons from `from`, aimed at the objects whose
// shader may mirror or refract light (scatter.h): uniformly over the cones
// that just enclose those objects' bounding spheres, weighted so that the
// result is that of a source shining in every direction. With `angle` below
// 180 only the directions within that half-angle of `to` - `from` count (a
// spot with a hard edge). Each photon follows mirrors and refractions (at
// most `depth` surfaces) and is stored in a globalPhotonMap_t, colour packed
// as RGBE and direction in the library's two-byte code, at the first surface
// with a diffuse part after at least one specular bounce. Objects without
// such a shader only absorb; without any, the map stays empty and the light
// adds nothing.
//
// Rendering: at each shaded point the `search` nearest photons within
// `radius` (0: 1/40 of the scene's size) that arrived within acos(min_cos)
// of the normal give the irradiance (cone filter, photontracer.h), which
// reaches the surface's shader through fromRadiosity.
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "vexlarcore/hashrandom.h"
#include "vexlarcore/light.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/photontracer.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/scatter.h"
#include "vexlarcore/scene.h"
#include "vexlarplugin/lighting.h"

namespace {

using namespace vexlar;

struct causticSettings_t {
    color_t color;
    float power;
    point3d_t from, to;
    float angle;
    int photons;
    int search;
    float radius;
    float minCos;
    int depth;
};

point3d_t defaultTo(const causticSettings_t& s) {
    return s.from - vector3d_t(0, 0, 1);
}

void checkAxis(plugins::paramReader_t& read, causticSettings_t& s) {
    const vector3d_t axis = s.to - s.from;
    if (axis.lengthSqr() > 0.0f && std::isfinite(axis.lengthSqr())) return;
    read.warn("setting \"to\" equals \"from\", so the light has no axis; pointing it along -z");
    s.to = defaultTo(s);
}

const plugins::paramTable_t<causticSettings_t> causticParams{
    plugins::color("color", &causticSettings_t::color, color_t(1, 1, 1), "colour of the light"),
    plugins::number("power", &causticSettings_t::power, 1.0f, plugins::range_t::atLeast(0),
                    "energy arriving at distance 1, as for a point light"),
    plugins::point("from", &causticSettings_t::from, point3d_t(0, 0, 0), "position of the light"),
    plugins::point("to", &causticSettings_t::to,
                   plugins::derivedDefault<causticSettings_t, point3d_t>("from - (0 0 1)", defaultTo),
                   "a point on the axis of the light's cone")
        .then(checkAxis),
    plugins::number("angle", &causticSettings_t::angle, 180.0f, plugins::range_t{0, 180, true, false},
                    "half-angle of the cone in degrees (180: every direction)"),
    plugins::integer("photons", &causticSettings_t::photons, 200000, plugins::range_t::atLeast(0),
                     "photons shot in set-up"),
    plugins::integer("search", &causticSettings_t::search, 60, plugins::range_t::between(1, 10000),
                     "photons per estimate"),
    plugins::number("radius", &causticSettings_t::radius, 0.0f, plugins::range_t::atLeast(0),
                    "largest search radius (0: 1/40 of the scene's size)"),
    plugins::number("min_cos", &causticSettings_t::minCos, 0.1f, plugins::range_t::between(-1, 1),
                    "photons count only when the cosine of their direction to the normal exceeds this"),
    plugins::integer("depth", &causticSettings_t::depth, 8, plugins::range_t::between(1, 100),
                     "surfaces a photon visits at most")};

// A cone of directions from the light that encloses one specular object.
struct targetCone_t {
    vector3d_t axis;
    float cosHalf;
    float solidAngle;
};

class causticLight_t : public light_t {
public:
    explicit causticLight_t(const causticSettings_t& s) : s(s) {
        axis = s.to - s.from;
        axis.normalize();
        cosSpot = s.angle >= 180.0f ? -2.0f
                                    : static_cast<float>(std::cos(s.angle * 3.14159265358979323846 / 180.0));
    }

    void setup(scene_t& scene) override {
        const float size = sceneSize(scene);
        map.reset(new globalPhotonMap_t(s.radius > 0.0f ? s.radius : size / 40.0f));
        std::vector<targetCone_t> cones = targets(scene);
        float totalAngle = 0.0f;
        for (const targetCone_t& c : cones) totalAngle += c.solidAngle;
        if (cones.empty() || s.photons == 0 || s.color.isBlack() || s.power == 0.0f) return;

        photonTracer_t tracer(scene, photonKind_t::caustic, s.depth);
        renderState_t state;
        for (int i = 0; i < s.photons; ++i) {
            const std::uint64_t k = static_cast<std::uint64_t>(i);
            // Pick a cone in proportion to its solid angle, then a direction
            // uniformly within it.
            float pick = static_cast<float>(radicalInverseOf(k, 5)) * totalAngle;
            std::size_t c = 0;
            while (c + 1 < cones.size() && pick >= cones[c].solidAngle) pick -= cones[c++].solidAngle;
            vector3d_t dir =
                randomVectorCone(cones[c].axis, cones[c].cosHalf, static_cast<float>(radicalInverseOf(k, 2)),
                                 static_cast<float>(radicalInverseOf(k, 3)));
            dir.normalize();
            if (!(dir * axis >= cosSpot)) continue;
            // The density of the direction is (number of cones holding it) /
            // totalAngle: overlapping cones are not counted twice.
            int holding = 0;
            for (const targetCone_t& t : cones) holding += (dir * t.axis >= t.cosHalf) ? 1 : 0;
            const color_t power =
                s.color * (s.power * totalAngle / (static_cast<float>(std::max(holding, 1)) * s.photons));
            hashRandom_t random(k);
            tracer.trace(state, s.from, dir, power, random, *map);
        }
        if (!map->photons.empty()) map->buildTree();
    }

    color_t illuminate(renderState_t& state, const scene_t&, surfacePoint_t sp,
                       const vector3d_t& eye) const override {
        if (!map || map->photons.empty()) return color_t(0, 0, 0);
        const vector3d_t n = plugins::facingNormal(sp, eye);
        const color_t e = photonIrradiance(*map, sp.point, n, static_cast<unsigned>(s.search), s.minCos,
                                           photonScratch(state, this));
        return plugins::deliverDiffuse(state, sp, n, e, eye);
    }

    /// The photons stored by the last set-up (for tests and statistics).
    const globalPhotonMap_t* photonMap() const { return map.get(); }

private:
    // The cones from the light that enclose the bounding spheres of the
    // objects whose shader may scatter specularly.
    std::vector<targetCone_t> targets(const scene_t& scene) const {
        std::vector<targetCone_t> cones;
        for (const object3d_t* o : scene.objects) {
            if (!scattersSpecularly(o->getShader())) continue;
            const bound_t b = o->getBound();
            if (b.null) continue;
            const point3d_t centre = 0.5f * (b.a + toVector(b.g));
            const float r = 0.5f * (b.g - b.a).length();
            vector3d_t toCentre = centre - s.from;
            const float d = toCentre.length();
            targetCone_t t;
            if (d <= r * 1.0001f) {
                t = {vector3d_t(0, 0, 1), -1.0f, 12.566370614f}; // the light is inside: everywhere
            } else {
                toCentre.normalize();
                const float sinHalf = r / d;
                const float cosHalf = std::sqrt(std::max(0.0f, 1.0f - sinHalf * sinHalf));
                t = {toCentre, cosHalf, 6.283185307f * (1.0f - cosHalf)};
            }
            if (t.solidAngle > 0.0f) cones.push_back(t);
        }
        return cones;
    }

    causticSettings_t s;
    vector3d_t axis;
    float cosSpot;
    std::unique_ptr<globalPhotonMap_t> map;
};

light_t* makeCaustic(paramMap_t& params, pluginContext_t& context) {
    return new causticLight_t(causticParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerLight("caustic", makeCaustic, causticParams.rows(),
                           "caustics of a point or spot source through mirrors and glass (photon map)");
}

} // namespace

VEXLAR_PLUGIN("light_caustic", registerAll)
