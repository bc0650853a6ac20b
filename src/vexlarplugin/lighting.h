// Pieces for light plug-ins: the settings every light has, the fall-off of
// lights at a position, and the hand-over of arriving light to the
// surface's shader with a shadow ray only where it can matter.
//
// Header-only, like params.h; used by the standard lights.
#ifndef VEXLARPLUGIN_LIGHTING_H
#define VEXLARPLUGIN_LIGHTING_H

#include <cmath>

#include "vexlarcore/object3d.h"
#include "vexlarcore/shader.h"
#include "vexlarplugin/params.h"

namespace vexlar {
namespace plugins {

/// Colour, power and the shadow switch, declared the same way for every
/// light. A light's settings record derives from it and splices
/// lightBasics_t::params(...) into its table.
struct lightBasics_t {
    color_t color;
    float power;
    bool shadows;

    /// "color", "power" and "shadows"; `powerMeaning` says where the power is
    /// measured ("energy arriving at distance 1").
    static paramTable_t<lightBasics_t> params(const std::string& powerMeaning) {
        return {plugins::color("color", &lightBasics_t::color, color_t(1, 1, 1), "colour of the light"),
                plugins::number("power", &lightBasics_t::power, 1.0f, range_t::atLeast(0), powerMeaning),
                plugins::flag("shadows", &lightBasics_t::shadows, true, "cast hard shadows")};
    }
};

/// How the light of a light at a position falls off with the distance d.
enum class fade_t {
    none,     ///< the same at every distance
    linear,   ///< 1 / d
    quadratic ///< 1 / d^2, the physical fall-off
};

/// The "fade" setting: "none", "linear" or "quadratic" (the default).
template <typename S> paramDecl_t<S> fadeSetting(fade_t S::*field) {
    return choice("fade", field, "quadratic",
                  {{"none", fade_t::none}, {"linear", fade_t::linear}, {"quadratic", fade_t::quadratic}},
                  "fall-off with the distance d: 1, 1/d or 1/d^2");
}

/// What the energy at distance 1 is divided by at squared distance `d2`
/// (> 0): 1, d or d^2. Dividing by d2 itself keeps the quadratic fall-off
/// exactly as it was computed before the setting existed.
inline float fadeDivisor(fade_t fade, float d2) {
    switch (fade) {
    case fade_t::none:
        return 1.0f;
    case fade_t::linear:
        return std::sqrt(d2);
    case fade_t::quadratic:
        break;
    }
    return d2;
}

/// What the surface at `sp` sends towards the eye for `energy` arriving from
/// the unit direction `toLight`: its shader's fromLight, black without one.
inline color_t deliver(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& toLight,
                       const color_t& energy, const vector3d_t& eye) {
    if (!sp.shader || energy.isBlack()) return color_t(0, 0, 0);
    return sp.shader->fromLight(state, sp, energy_t(toLight, energy), eye);
}

/// deliver(), or black when `shadows` is on and `blocked()` finds the way to
/// the light blocked. The shader is asked first and the shadow ray is cast
/// only when its answer is not black: a shadowed point gets black either
/// way, so the result is the same as testing the shadow first, but points
/// that send nothing back (facing away from the light, black surfaces) cost
/// no ray. `blocked` is called at most once.
template <typename blocked_f>
color_t deliverUnlessBlocked(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& toLight,
                             const color_t& energy, const vector3d_t& eye, bool shadows, blocked_f blocked) {
    color_t c = deliver(state, sp, toLight, energy, eye);
    if (c.isBlack() || !shadows) return c;
    return blocked() ? color_t(0, 0, 0) : c;
}

} // namespace plugins
} // namespace vexlar

#endif
