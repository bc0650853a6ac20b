// The material interface that shader plug-ins implement, its ready-made
// base `shaderNode_t`, and `energy_t`, the light packet lights hand shaders.
//
// The library never creates, copies or destroys shaders: the host owns them
// and objects and surface points hold plain const pointers. Every operation
// except the destructor is const; the ones called while pixels are computed
// get the per-ray render state of the calling thread as scratch space.
//
// The eye vector always points from the surface point towards the viewer
// (the origin of the ray that found the point). Some callers pass it
// normalised, some as the plain difference (see each operation), so an
// implementation that needs unit length normalises it itself.
#ifndef VEXLARCORE_SHADER_H
#define VEXLARCORE_SHADER_H

#include "vexlarcore/color.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {

class renderState_t;
class scene_t;
class surfacePoint_t;

/// Light arriving at a surface point, exchanged between lights and shaders
/// through `shader_t::fromLight` and `fromRadiosity`; the library neither
/// builds nor reads one.
class energy_t {
public:
    energy_t() : dir(0, 0, 0), color(0, 0, 0) {}
    energy_t(const vector3d_t& d, const color_t& c) : dir(d), color(c) {}

    /// Direction from the surface point towards where the light comes from,
    /// unit length by convention.
    vector3d_t dir;
    /// Arriving energy per channel.
    color_t color;
};

/// Abstract material.
class shader_t {
public:
    virtual ~shader_t() {}

    /// Reaction to energy arriving along a radiosity path. Never called by
    /// the library; light and radiosity plug-ins call it.
    virtual color_t fromRadiosity(renderState_t& state, const surfacePoint_t& sp, const energy_t& energy,
                                  const vector3d_t& eye) const = 0;
    /// Reaction to the energy one light delivers at `sp`. Never called by the
    /// library; lights call it from their `illuminate`.
    virtual color_t fromLight(renderState_t& state, const surfacePoint_t& sp, const energy_t& energy,
                              const vector3d_t& eye) const = 0;
    /// The shader's own contribution (reflections, refractions, emission...).
    /// Called by the scene's direct lighting after all lights, and by the
    /// indirect tracer, both with eye = ray origin - hit point, NOT
    /// normalised. The result is added to the sum of the lights.
    virtual color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& scene,
                              const vector3d_t& eye) const = 0;
    /// Diffuse reflectance at `sp`. Called by the indirect tracer with a
    /// normalised eye; indirect light is gathered only when the channel
    /// average of the result exceeds 0.05, and is multiplied channel by
    /// channel with it.
    virtual color_t getDiffuse(renderState_t& state, const surfacePoint_t& sp,
                               const vector3d_t& eye) const = 0;
    /// May perturb `sp` (typically its normal, for bump mapping). Called by
    /// the tracers right after a hit and before any lighting, with a
    /// normalised eye and the scene's world resolution; later lighting calls
    /// see the modified point. The default does nothing.
    virtual void displace(renderState_t& state, surfacePoint_t& sp, const vector3d_t& eye,
                          float resolution) const;
    /// Colour for an auxiliary output channel. Never called by the library.
    /// Default: (0, 0, 0, 0).
    virtual colorA_t stdoutColor(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& eye,
                                 const scene_t* scene) const;
    /// Scalar for an auxiliary output channel. Never called by the library.
    /// Default: 0.
    virtual float stdoutFloat(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& eye,
                              const scene_t* scene) const;
    /// Vector for an auxiliary output channel. Never called by the library.
    /// Default: (0, 0, 0).
    virtual vector3d_t stdoutVector(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& eye,
                                    const scene_t* scene) const;
    /// Caustic behaviour for photon-shooting plug-ins: reflected and
    /// transmitted colour and the index of refraction. Never called by the
    /// library. Default: both colours black, `index` left untouched.
    virtual void getCaustics(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& eye,
                             color_t& reflected, color_t& transmitted, float& index) const;
    /// True for shaders that must not be sampled continuously. Never called
    /// by the library. Default: false.
    virtual bool discrete() const;
    /// True when the shader works in RGB. Never called by the library.
    /// Default: true.
    virtual bool isRGB() const;
};

/// A shader with every colour black and no displacement; concrete shaders
/// may derive from it and override only what they need.
class shaderNode_t : public shader_t {
public:
    ~shaderNode_t() override {}

    /// Black.
    color_t fromRadiosity(renderState_t& state, const surfacePoint_t& sp, const energy_t& energy,
                          const vector3d_t& eye) const override;
    /// Black.
    color_t fromLight(renderState_t& state, const surfacePoint_t& sp, const energy_t& energy,
                      const vector3d_t& eye) const override;
    /// Black.
    color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& scene,
                      const vector3d_t& eye) const override;
    /// Black.
    color_t getDiffuse(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& eye) const override;
    /// Does nothing.
    void displace(renderState_t& state, surfacePoint_t& sp, const vector3d_t& eye,
                  float resolution) const override;
};

} // namespace vexlar

#endif
