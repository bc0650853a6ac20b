#include "vexlarcore/photontracer.h"

#include <algorithm>
#include <cmath>

#include "vexlarcore/light.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/scatter.h"
#include "vexlarcore/scene.h"

namespace vexlar {

namespace {

// Restores the render state's skip element on every way out.
class skipGuard_t {
public:
    explicit skipGuard_t(renderState_t& s) : state(s), saved(s.skipElement) {}
    ~skipGuard_t() { state.skipElement = saved; }
    skipGuard_t(const skipGuard_t&) = delete;
    skipGuard_t& operator=(const skipGuard_t&) = delete;

private:
    renderState_t& state;
    const void* saved;
};

float nonNegative(float v) {
    return v > 0.0f ? v : 0.0f;
}

vector3d_t unit(vector3d_t v) {
    return v.normalize();
}

} // namespace

photonTracer_t::photonTracer_t(const scene_t& scene, photonKind_t kind, int maxBounces)
    : scene(scene), kind(kind), maxBounces(maxBounces) {}

int photonTracer_t::trace(renderState_t& state, point3d_t from, vector3d_t dir, color_t power,
                          hashRandom_t& random, globalPhotonMap_t& map) const {
    skipGuard_t guard(state);
    const void* skip = nullptr;
    int stored = 0, diffuseBounces = 0, specularBounces = 0;
    for (int bounce = 0; bounce < maxBounces && !power.isBlack(); ++bounce) {
        surfacePoint_t sp;
        state.skipElement = skip;
        if (!scene.firstHit(state, sp, from, dir, false) || sp.shader == nullptr) break;
        const vector3d_t in = -dir;
        const surfaceSplit_t split = surfaceSplitOf(sp.shader, state, sp, in);
        const bool keep = kind == photonKind_t::caustic ? specularBounces > 0 : diffuseBounces > 0;
        if (keep && !split.diffuse.isBlack()) {
            map.store(storedPhoton_t(sp.point, power, in));
            ++stored;
        }

        // Which way the photon goes on: diffusely (never for caustics),
        // mirrored or refracted, or absorbed.
        float pd = kind == photonKind_t::caustic ? 0.0f : nonNegative(split.diffuse.energy());
        float pr = nonNegative(split.reflected.energy()), pt = nonNegative(split.transmitted.energy());
        const float total = pd + pr + pt;
        if (!(total > 0.0f)) break;
        if (total > 1.0f) {
            pd /= total;
            pr /= total;
            pt /= total;
        }
        const float u = random.next(), z1 = random.next(), z2 = random.next();

        const vector3d_t ng = unit(sp.geometricNormal);
        const float side = (ng * in) >= 0.0f ? 1.0f : -1.0f; // side the photon came from
        const vector3d_t n = unit(sp.normal);
        const vector3d_t nf = side * n;
        const vector3d_t ngf = side * ng;
        auto mirrored = [&]() {
            vector3d_t r = (2.0f * (nf * in)) * nf - in;
            r.normalize();
            if (split.lobeExponent >= 0.0f) r = sampleLobe(r, split.lobeExponent, z1, z2);
            return unit(keepOnSide(r, ngf, 1.0f));
        };
        if (u < pd) {
            power = power * split.diffuse / pd;
            dir = unit(keepOnSide(sampleCosine(nf, z1, z2), ngf, 1.0f));
            ++diffuseBounces;
        } else if (u < pd + pr) {
            power = power * split.reflected / pr;
            dir = mirrored();
            ++specularBounces;
        } else if (u < pd + pr + pt) {
            power = power * split.transmitted / pt;
            vector3d_t t = refract(n, in, split.ior);
            if (t.null()) {
                dir = mirrored(); // total internal reflection
            } else {
                if (split.lobeExponent >= 0.0f) t = sampleLobe(t, split.lobeExponent, z1, z2);
                dir = unit(keepOnSide(t, ngf, -1.0f));
            }
            ++specularBounces;
        } else {
            break; // absorbed
        }
        from = sp.point;
        skip = sp.origin;
    }
    return stored;
}

int shootFromLights(const scene_t& scene, const light_t* skip, int count, const photonTracer_t& tracer,
                    globalPhotonMap_t& map) {
    std::vector<const light_t*> sources;
    std::vector<float> shares;
    float sum = 0.0f;
    for (const light_t* l : scene.lights) {
        if (l == skip) continue;
        const float e = l->getPower().energy();
        if (!(e > 0.0f) || !std::isfinite(e)) continue;
        sources.push_back(l);
        shares.push_back(e);
        sum += e;
    }
    renderState_t state;
    int shot = 0;
    for (std::size_t k = 0; k < sources.size(); ++k) {
        const int n = static_cast<int>(std::lround(static_cast<double>(count) * shares[k] / sum));
        for (int i = 0; i < n; ++i) {
            point3d_t from;
            vector3d_t dir;
            color_t power;
            const float z1 = static_cast<float>(radicalInverseOf(static_cast<std::uint64_t>(i), 2));
            const float z2 = static_cast<float>(radicalInverseOf(static_cast<std::uint64_t>(i), 3));
            if (!sources[k]->emitPhoton(z1, z2, from, dir, power)) break;
            hashRandom_t random((static_cast<std::uint64_t>(k) << 40) ^ static_cast<std::uint64_t>(i));
            tracer.trace(state, from, dir, power / static_cast<float>(n), random, map);
            ++shot;
        }
    }
    return shot;
}

color_t photonIrradiance(const globalPhotonMap_t& map, const point3d_t& P, const vector3d_t& N, unsigned K,
                         float minCos, std::vector<foundPhoton_t>& found) {
    found.clear();
    float radius = map.maxRadius * 0.125f;
    map.gather(P, N, found, K, radius, minCos);
    if (found.empty()) return color_t(0.0f);
    float r = found.size() >= K ? found.front().dis : map.maxRadius;
    if (!(r > 0.0f)) r = map.maxRadius;
    if (!(r > 0.0f)) return color_t(0.0f);
    color_t sum(0.0f);
    for (const foundPhoton_t& f : found) sum += f.photon->color() * std::max(0.0f, 1.0f - f.dis / r);
    return sum * static_cast<float>(3.0 / (3.141592653589793 * static_cast<double>(r) * r));
}

namespace {
struct scratchRecord_t : context_t::destructible {
    std::vector<foundPhoton_t> found;
};
} // namespace

std::vector<foundPhoton_t>& photonScratch(renderState_t& state, const void* key) {
    context_t::destructible*& slot =
        context_t::createRecord(state.context.objectRecords, const_cast<void*>(key));
    if (slot == nullptr) slot = new scratchRecord_t();
    return static_cast<scratchRecord_t*>(slot)->found;
}

float sceneSize(const scene_t& scene) {
    bool any = false;
    point3d_t lo(0, 0, 0), hi(0, 0, 0);
    for (const object3d_t* o : scene.objects) {
        const bound_t b = o->getBound();
        if (b.null) continue;
        if (!any) {
            lo = b.a;
            hi = b.g;
            any = true;
            continue;
        }
        lo = point3d_t(std::min(lo.x, b.a.x), std::min(lo.y, b.a.y), std::min(lo.z, b.a.z));
        hi = point3d_t(std::max(hi.x, b.g.x), std::max(hi.y, b.g.y), std::max(hi.z, b.g.z));
    }
    const float d = (hi - lo).length();
    return any && std::isfinite(d) ? d : 0.0f;
}

} // namespace vexlar
