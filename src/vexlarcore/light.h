// The light-source interface that light plug-ins implement.
//
// The host owns lights and hands the scene plain pointers; the library never
// creates, copies or destroys one. Call order during a render: `setup` of
// every light (list order), the scene's optional preliminary pass,
// `postSetup` of every light, then `illuminate` per shaded hit.
#ifndef VEXLARCORE_LIGHT_H
#define VEXLARCORE_LIGHT_H

#include "vexlarcore/color.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {

class renderState_t;
class scene_t;
class surfacePoint_t;

/// Abstract light source.
class light_t {
public:
    /// Both flags default to true: the light takes part in direct and in
    /// indirect lighting.
    explicit light_t(bool direct = true, bool indirect = true) : useDirect(direct), useIndirect(indirect) {}
    virtual ~light_t() {}

    /// The colour this light adds at `sp` as seen along `eye`.
    ///
    /// `sp` is a copy: the light may change it freely. The scene's direct
    /// lighting calls it for each light whose flag (`useDirect`, or
    /// `useIndirect` for lighting along an indirect path) is set, with
    /// eye = ray origin - hit point, NOT normalised, and sums the results.
    /// The indirect tracer calls it for every light regardless of the flags,
    /// with a normalised eye. The library makes no shadow test and no shader
    /// call for the light: `scene_t::isShadowed` and the `fromLight` of the
    /// shader of `sp` are there for it to use. Called per pixel, with the
    /// render state of the calling thread.
    virtual color_t illuminate(renderState_t& state, const scene_t& scene, surfacePoint_t sp,
                               const vector3d_t& eye) const = 0;

    /// Total power the light emits, for photon-shooting plug-ins that share
    /// photons among lights. Never called by the library. Default: black.
    virtual color_t getPower() const { return color_t(0, 0, 0); }
    /// Emits one photon from two numbers in [0, 1): origin, unit direction
    /// and carried power. Returns false when the light cannot emit photons.
    /// Never called by the library. Default: false, outputs untouched.
    virtual bool emitPhoton(float z1, float z2, point3d_t& from, vector3d_t& dir, color_t& power) const {
        (void)z1;
        (void)z2;
        (void)from;
        (void)dir;
        (void)power;
        return false;
    }

    /// Called once per light, in list order, before rendering. The light may
    /// change the scene's public settings (such as `repeatFirst`).
    /// Default: nothing.
    virtual void setup(scene_t& scene) { (void)scene; }
    /// Called once per light, in list order, after every light was set up
    /// (and after the preliminary pass when the scene runs one).
    /// Default: nothing.
    virtual void postSetup(scene_t& scene) { (void)scene; }

    /// Takes part in direct lighting.
    bool useDirect;
    /// Takes part in lighting along indirect paths.
    bool useIndirect;
};

} // namespace vexlar

#endif
