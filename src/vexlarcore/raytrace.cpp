// Ray tracing through the scene: nearest hits, shading, shadows and fog.
#include "vexlarcore/sampling.h"
#include "vexlarcore/scene.h"
#include "vexlarcore/shader.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vexlar {

namespace {

const float infinity = std::numeric_limits<float>::infinity();

// Raises state.traveled by a hit's depth while the hit is shaded and puts
// the old value back on every way out.
class traveledGuard_t {
public:
    traveledGuard_t(renderState_t& s, float depth) : state(s), saved(s.traveled) { state.traveled += depth; }
    ~traveledGuard_t() { state.traveled = saved; }
    traveledGuard_t(const traveledGuard_t&) = delete;
    traveledGuard_t& operator=(const traveledGuard_t&) = delete;

private:
    renderState_t& state;
    float saved;
};

} // namespace

bool scene_t::nearestHit(renderState_t& state, surfacePoint_t& best, const point3d_t& from,
                         const vector3d_t& ray, bool limitByLastHit, bool shadowCastersOnly) const {
    const point3d_t start = from + rayBias * ray;
    geomeIterator_t<object3d_t> it(objectTree, infinity, start, ray, false);
    surfacePoint_t sp;
    bool found = false;
    float lastDepth = infinity;
    for (; it.current != nullptr; ++it) {
        const object3d_t* obj = it.current;
        if (shadowCastersOnly && !obj->castShadows) continue;
        const float limit = limitByLastHit ? lastDepth : -1.0f;
        if (!obj->shoot(state, sp, start, ray, false, limit)) continue;
        if (!(sp.depth > 0.0f)) continue;
        lastDepth = sp.depth;
        if (sp.depth < it.dist) it.dist = sp.depth;
        // An equal depth keeps the earlier hit.
        if (!found || sp.depth < best.depth) {
            best = sp;
            found = true;
        }
    }
    return found;
}

bool scene_t::enterRay(renderState_t& state) const {
    if (state.rayLevel < 0) state.traceCount = 0;
    if (++state.rayLevel < maxRayLevel && ++state.traceCount <= maxTracesPerSample) return true;
    state.rayLevel--;
    state.hitDistance = -1.0f;
    return false;
}

color_t scene_t::leaveMiss(renderState_t& state, const vector3d_t& ray) const {
    // The background sees the level and distance of the ray's caller.
    state.rayLevel--;
    state.hitDistance = -1.0f;
    color_t col = background != nullptr ? background->lookup(ray, state) : color_t(0.0f);
    fog_addToCol(-1.0f, col);
    return col;
}

color_t scene_t::leaveHit(renderState_t& state, const point3d_t& from, const surfacePoint_t& sp,
                          color_t col) const {
    state.rayLevel--;
    // Measured after the shader calls, from the possibly displaced point.
    const float d = (from - sp.point).length();
    state.hitDistance = d;
    fog_addToCol(d, col);
    return col;
}

color_t scene_t::raytrace(renderState_t& state, const point3d_t& from, const vector3d_t& ray) const {
    if (indirectEnabled) return raytrace_indir(state, from, ray, false);

    if (!enterRay(state)) return color_t(0.0f);
    surfacePoint_t sp;
    const bool hit = nearestHit(state, sp, from, ray, true, false);
    sp.auxPoint = state.screenPos;
    if (hit && sp.shader != nullptr) {
        vector3d_t eye = from - sp.point;
        eye.normalize();
        traveledGuard_t traveled(state, sp.depth);
        sp.shader->displace(state, sp, eye, worldResolution);
        return leaveHit(state, from, sp, light(state, sp, from, false));
    }
    return leaveMiss(state, ray);
}

color_t scene_t::light(renderState_t& state, const surfacePoint_t& sp, const point3d_t& from,
                       bool indirect) const {
    color_t col(0.0f);
    if (sp.shader == nullptr) return col;
    const vector3d_t eye = from - sp.point;
    for (const light_t* l : lights) {
        if ((!indirect && l->useDirect) || (indirect && l->useIndirect))
            col += l->illuminate(state, *this, sp, eye);
    }
    if (!indirect) col += sp.shader->fromWorld(state, sp, *this, eye);
    return col;
}

color_t scene_t::raytrace_indir(renderState_t& state, const point3d_t& from, const vector3d_t& ray,
                                bool gathering) const {
    if (!enterRay(state)) return color_t(0.0f);
    surfacePoint_t sp;
    if (!nearestHit(state, sp, from, ray, false, false)) return leaveMiss(state, ray);
    sp.auxPoint = state.screenPos;
    if (sp.shader == nullptr) {
        state.rayLevel--;
        return color_t(0.0f);
    }

    vector3d_t eye = from - sp.point;
    eye.normalize();
    traveledGuard_t traveled(state, sp.depth);
    sp.shader->displace(state, sp, eye, worldResolution);

    color_t col(0.0f);
    const color_t dif = sp.shader->getDiffuse(state, sp, eye);
    const bool diffuseEnough = static_cast<double>(dif.R + dif.G + dif.B) * 0.33333 > 0.05;
    if (!gathering && indirectEnabled && diffuseEnough) {
        // Gather around the normal on the side the ray came from.
        const vector3d_t N = (sp.geometricNormal * eye >= 0.0f) ? sp.normal : -sp.normal;
        const int n = indirectSamples;
        color_t sum(0.0f);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                const float xi1 = nextRandom();
                const float xi2 = nextRandom();
                // Clamped so that rounding at the last stratum (or strata
                // wider than 1/n) cannot take the square roots negative.
                const float t =
                    std::min(1.0f, std::max(0.0f, (xi1 + static_cast<float>(i)) * indirectStratumU));
                const float phi = (xi2 + static_cast<float>(j)) * indirectStratumPhi;
                const vector3d_t dir =
                    std::sqrt(1.0f - t) * (std::cos(phi) * sp.tangentU + std::sin(phi) * sp.tangentV) +
                    std::sqrt(t) * N;
                sum += raytrace_indir(state, sp.point, dir, true);
            }
        }
        col += indirectPower * (dif * sum);
    }
    for (const light_t* l : lights) col += l->illuminate(state, *this, sp, eye);
    col += sp.shader->fromWorld(state, sp, *this, from - sp.point);
    return leaveHit(state, from, sp, col);
}

bool scene_t::shadowRay(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& dir, float limit,
                        float shootDist) const {
    const point3d_t& P = sp.point;
    const point3d_t startOther = P + rayBias * dir;
    const point3d_t startSelf = P + selfShadowBias * dir;
    surfacePoint_t scratch;
    for (geomeIterator_t<object3d_t> it(objectTree, limit, startOther, dir, false); it.current != nullptr;
         ++it) {
        const object3d_t* obj = it.current;
        if (!obj->castShadows) continue;
        const point3d_t& start = (obj == sp.object) ? startSelf : startOther;
        if (obj->shoot(state, scratch, start, dir, true, shootDist)) return true;
    }
    return false;
}

bool scene_t::isShadowed(renderState_t& state, const surfacePoint_t& sp, const point3d_t& target) const {
    vector3d_t dir = target - sp.point;
    const float len = dir.length();
    if (len != 0.0f) dir = dir / len;
    return shadowRay(state, sp, dir, len, len);
}

bool scene_t::isShadowed(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& direction) const {
    vector3d_t dir = direction;
    dir.normalize();
    return shadowRay(state, sp, dir, infinity, -1.0f);
}

bool scene_t::firstHit(renderState_t& state, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
                       bool shadowCastersOnly) const {
    if (!nearestHit(state, sp, from, ray, false, shadowCastersOnly)) return false;
    if (!shadowCastersOnly && sp.shader != nullptr) {
        vector3d_t eye = from - sp.point;
        eye.normalize();
        traveledGuard_t traveled(state, sp.depth);
        sp.shader->displace(state, sp, eye, worldResolution);
    }
    return true;
}

void scene_t::fog_addToCol(float distance, color_t& colour) const {
    if (fogDensity == 0.0f) return;
    if (distance == -1.0f) {
        colour = fogColor;
        return;
    }
    const float f = static_cast<float>(std::exp(static_cast<double>(-distance * fogDensity)));
    colour = f * colour + (1.0f - f) * fogColor;
}

} // namespace vexlar
