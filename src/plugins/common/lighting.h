// Shared pieces of the standard lights: the settings every light has and
// the hand-over of arriving light to the surface's shader.
#ifndef VEXLAR_PLUGINS_LIGHTING_H
#define VEXLAR_PLUGINS_LIGHTING_H

#include "common/paramreader.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/shader.h"

namespace vexlar {
namespace plugins {

/// Colour, power and the shadow switch, read the same way by every light.
struct lightBasics_t {
    color_t color;
    float power;
    bool shadows;

    /// Reads "color" (default white), "power" (default `defaultPower`, at
    /// least 0) and "shadows" (default on).
    static lightBasics_t read(paramReader_t& reader, float defaultPower) {
        lightBasics_t b;
        b.color = reader.getColor("color", color_t(1, 1, 1));
        b.power = reader.getFloat("power", defaultPower, range_t::atLeast(0));
        b.shadows = reader.getBool("shadows", true);
        return b;
    }

    /// Table rows for the three settings, for registration.
    static std::vector<pluginParam_t> params(const std::string& powerDefault,
                                             const std::string& powerMeaning) {
        return {{"color", "color", "1 1 1", "colour of the light"},
                {"power", "float", powerDefault, powerMeaning},
                {"shadows", "bool", "on", "cast hard shadows"}};
    }
};

/// What the surface at `sp` sends towards the eye for `energy` arriving from
/// the unit direction `toLight`: its shader's fromLight, black without one.
inline color_t deliver(renderState_t& state, const surfacePoint_t& sp, const vector3d_t& toLight,
                       const color_t& energy, const vector3d_t& eye) {
    if (!sp.shader || energy.isBlack()) return color_t(0, 0, 0);
    return sp.shader->fromLight(state, sp, energy_t(toLight, energy), eye);
}

} // namespace plugins
} // namespace vexlar

#endif
