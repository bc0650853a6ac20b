// Photon tracing for light plug-ins: shooting photons from the scene's
// lights, following them through the scene with the surfaces' scattering
// splits (scatter.h), storing them in a globalPhotonMap_t, and turning the
// stored photons back into light at a shading point.
//
// Units. Photons carry power in the units lights deliver energy in: a point
// light of power P, whose light arriving head-on at distance d is P / d^2,
// emits 4 pi P in all; a surface hit by photons of total power F spread over
// an area A receives F / A, the same kind of quantity as P / d^2, and a
// diffuse shader turns it into colour by its fromRadiosity. A light's
// `emitPhoton` returns the light's whole power as that one sample estimates
// it (the power of the light if every photon were like this one): a caller
// shooting N photons from it gives each a power of power / N.
//
// Everything here runs in a light's `setup`, on the host's start-up thread,
// after the scene's object tree is built; the estimate (`photonIrradiance`)
// is const and runs per pixel.
#ifndef VEXLARCORE_PHOTONTRACER_H
#define VEXLARCORE_PHOTONTRACER_H

#include <vector>

#include "vexlarcore/color.h"
#include "vexlarcore/hashrandom.h"
#include "vexlarcore/photon.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {

class light_t;
class renderState_t;
class scene_t;

/// Which photons a tracer stores.
enum class photonKind_t {
    /// Light that reached a diffuse surface through mirrors and refractions
    /// only: stored at the first surface with a diffuse part after at least
    /// one specular bounce. The photon follows only specular bounces.
    caustic,
    /// Light that reached a surface after at least one diffuse bounce:
    /// stored at every surface with a diffuse part from the second diffuse
    /// surface on (direct light, and caustics, are left to other lights).
    indirect
};

/// Follows single photons through a scene. Holds a reference to the scene,
/// which must outlive it and have its object tree built.
class photonTracer_t {
public:
    /// `maxBounces`: surfaces a photon visits at most (>= 1).
    photonTracer_t(const scene_t& scene, photonKind_t kind, int maxBounces);

    /// Traces one photon leaving `from` along the unit direction `dir` with
    /// `power`, storing in `map` every photon of this tracer's kind. At each
    /// surface the photon goes on diffusely, mirrored or refracted with
    /// probabilities in proportion to the energies of the split's three
    /// parts (capped at 1 together; the rest is absorbed), and its power is
    /// divided by the probability of the way it took, so that the expected
    /// power is right. Surfaces without shader absorb. Returns the number of
    /// photons stored. Leaves state.skipElement as it found it.
    int trace(renderState_t& state, point3d_t from, vector3d_t dir, color_t power, hashRandom_t& random,
              globalPhotonMap_t& map) const;

private:
    const scene_t& scene;
    photonKind_t kind;
    int maxBounces;
};

/// Shoots about `count` photons from the lights of the scene that emit
/// photons (whose getPower has energy > 0 and whose emitPhoton succeeds),
/// except `skip`, shared among them in proportion to the energy of their
/// getPower. Light k's i-th photon leaves along emitPhoton of the Halton
/// point (radical inverses of i in bases 2 and 3), with the power emitPhoton
/// gives divided by the number of photons that light shoots, and takes its
/// bounces from a hashRandom_t seeded by k and i: the same scene always
/// gives the same photons. Returns the number of photons shot.
int shootFromLights(const scene_t& scene, const light_t* skip, int count, const photonTracer_t& tracer,
                    globalPhotonMap_t& map);

/// The irradiance the photons of `map` give at P on a surface with unit
/// normal N (turned towards the side being shaded): the K photons nearest
/// to P within the map's maxRadius whose direction lies within acos(minCos)
/// of N, weighted with a cone filter, w = 1 - d / r, over the disc of radius
/// r = the distance of the farthest of them (or maxRadius when fewer than K
/// were found) and normalised so that a uniform photon density comes out
/// unchanged: sum(w * power) * 3 / (pi r^2). Black when no photon is found.
/// Each search starts at maxRadius / 8, so the answer depends on P and N
/// alone. `found` is scratch space, reused between calls to spare
/// allocations. Needs the map's tree built.
color_t photonIrradiance(const globalPhotonMap_t& map, const point3d_t& P, const vector3d_t& N, unsigned K,
                         float minCos, std::vector<foundPhoton_t>& found);

/// Scratch space for photonIrradiance, one per render state and `key` (the
/// calling light): kept in the state's context, so it costs no allocation
/// once it has grown.
std::vector<foundPhoton_t>& photonScratch(renderState_t& state, const void* key);

/// The length of the diagonal of the box around all of the scene's objects
/// (0 without objects): the scale photon lights derive their default search
/// radius from.
float sceneSize(const scene_t& scene);

} // namespace vexlar

#endif
