// How surfaces pass light on, for plug-ins that trace light from its
// sources (photon maps), and the glossy lobe that such tracers and shaders
// share.
//
// A photon tracer follows light the other way round from the camera: from a
// light to a surface, then on. At every surface it needs to know how much of
// the arriving light is scattered diffusely, mirrored and transmitted. That
// is what `scatteringShader_t::split` answers. It is an optional interface: a
// shader implements it besides `shader_t` (multiple inheritance), and
// tracers find it with `dynamic_cast`, through `surfaceSplitOf`. A shader
// that does not implement it counts as diffuse and opaque: its `getDiffuse`
// is the diffuse part, nothing is mirrored or transmitted.
//
// The library's own tracers never call any of this; the photon lights do,
// from their `setup`, on the host's start-up thread.
#ifndef VEXLARCORE_SCATTER_H
#define VEXLARCORE_SCATTER_H

#include "vexlarcore/color.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {

class renderState_t;
class shader_t;
class surfacePoint_t;

/// What a surface does with light arriving from one direction: the part of
/// each channel scattered diffusely, mirrored and refracted. The three
/// colours need not sum to 1 or less; a tracer treats a sum above 1 as 1.
struct surfaceSplit_t {
    surfaceSplit_t() : diffuse(0.0f), reflected(0.0f), transmitted(0.0f), ior(1.0f), lobeExponent(-1.0f) {}

    /// Scattered diffusely (Lambertian) to the side the light came from.
    color_t diffuse;
    /// Mirrored about the shading normal.
    color_t reflected;
    /// Refracted through the surface, with `ior` as the library's refract
    /// takes it (the side is chosen from the direction of arrival). Where
    /// the refracted direction does not exist (total internal reflection)
    /// tracers mirror this part too.
    color_t transmitted;
    /// Index of refraction of the inside relative to the outside.
    float ior;
    /// Spread of the mirrored and refracted light: below 0 exactly the
    /// ideal direction; k >= 0 spreads it as the lobe below with exponent k
    /// around the ideal direction (0: a whole hemisphere).
    float lobeExponent;
};

/// Optional interface of shaders for tracers of light from its sources.
/// Implementations are const and keep no state between calls.
class scatteringShader_t {
public:
    virtual ~scatteringShader_t();

    /// The split at `sp` of light arriving from the unit direction `from`
    /// (pointing away from the surface, towards where the light comes from;
    /// either side of the surface). `sp` is the hit as `scene_t::firstHit`
    /// gives it, after the shader's `displace`.
    virtual surfaceSplit_t split(renderState_t& state, const surfacePoint_t& sp,
                                 const vector3d_t& from) const = 0;

    /// False when the shader never mirrors or transmits anything, wherever
    /// and however light arrives; caustic tracers then do not aim at its
    /// objects. Default: true.
    virtual bool mayScatterSpecularly() const;
};

/// The split of `shader` at `sp`: its scatteringShader_t's answer when it
/// implements that interface, otherwise only a diffuse part, getDiffuse(sp)
/// with `from` as the eye. All black for a null shader.
surfaceSplit_t surfaceSplitOf(const shader_t* shader, renderState_t& state, const surfacePoint_t& sp,
                              const vector3d_t& from);

/// True when `shader` implements scatteringShader_t and may scatter
/// specularly.
bool scattersSpecularly(const shader_t* shader);

/// The glossy lobe around a unit direction `axis`: directions d with the
/// density (k + 1) / (2 pi) * cos^k(angle between d and axis) over the
/// hemisphere around the axis, k >= 0. Drawn from two numbers in [0, 1): z1
/// picks the azimuth, z2 the angle (z2 = 0 gives the hemisphere's rim,
/// values near 1 the axis). Unit length.
vector3d_t sampleLobe(const vector3d_t& axis, float k, float z1, float z2);
/// The lobe's density at the unit direction d; 0 outside the hemisphere.
float lobeDensity(const vector3d_t& axis, float k, const vector3d_t& d);

/// `d` moved to the side of the plane with unit normal `n` that `side`
/// (+1 or -1) names: mirrored across the plane when d * n has the wrong
/// sign, unchanged otherwise. Keeps glossy samples from entering the
/// surface they leave.
vector3d_t keepOnSide(const vector3d_t& d, const vector3d_t& n, float side);

/// A cosine-weighted direction around the unit normal n (density
/// cos / pi), from two numbers in [0, 1).
vector3d_t sampleCosine(const vector3d_t& n, float z1, float z2);

} // namespace vexlar

#endif
