// Light "spot": a point light limited to a cone, with a soft edge.
//
// | name    | kind  | default | meaning                                                   |
// |---------|-------|---------|-----------------------------------------------------------|
// | from    | point | 0 0 0   | position of the light                                     |
// | to      | point | 0 0 -1  | a point on the axis of the cone (not equal to from)       |
// | angle   | float | 45      | half-angle of the cone in degrees, more than 0, at most 90 |
// | blend   | float | 0.15    | part of the half-angle, from the rim inwards, over which  |
// |         |       |         | the light fades in, 0 to 1                                |
// | color   | color | 1 1 1   | colour of the light                                       |
// | power   | float | 1       | energy arriving on the axis at distance 1 (at least 0)    |
// | shadows | bool  | on      | cast hard shadows                                         |
//
// For a point seen from the light at angle a off the axis, with
// c = cos(a), outer = cos(angle) and inner = cos(angle * (1 - blend)):
// the factor is 0 when c <= outer, 1 when c >= inner, and in between the
// smooth step s = t^2 (3 - 2t) of t = (c - outer) / (inner - outer). The
// energy arriving is color * power * factor / d^2.
#include <cmath>

#include "common/lighting.h"
#include "vexlarcore/light.h"
#include "vexlarcore/scene.h"

namespace {

using namespace vexlar;

class spotLight_t : public light_t {
public:
    spotLight_t(const point3d_t& from, const vector3d_t& axis, float angleDeg, float blend,
                const plugins::lightBasics_t& basics)
        : from(from), axis(axis), basics(basics) {
        const double toRad = 3.14159265358979323846 / 180.0;
        cosOuter = static_cast<float>(std::cos(angleDeg * toRad));
        cosInner = static_cast<float>(std::cos(angleDeg * (1.0 - blend) * toRad));
    }

    color_t illuminate(renderState_t& state, const scene_t& scene, surfacePoint_t sp,
                       const vector3d_t& eye) const override {
        vector3d_t toLight = from - sp.point;
        float d2 = toLight.lengthSqr();
        if (d2 == 0.0f) return color_t(0, 0, 0);
        toLight.normalize();
        float factor = falloff(-(toLight * axis));
        if (factor <= 0.0f) return color_t(0, 0, 0);
        if (basics.shadows && scene.isShadowed(state, sp, from)) return color_t(0, 0, 0);
        return plugins::deliver(state, sp, toLight, basics.color * (basics.power * factor / d2), eye);
    }

private:
    float falloff(float c) const {
        if (c <= cosOuter) return 0.0f;
        if (c >= cosInner) return 1.0f;
        float t = (c - cosOuter) / (cosInner - cosOuter);
        return t * t * (3.0f - 2.0f * t);
    }

    point3d_t from;
    vector3d_t axis; // unit, from the light along the cone
    plugins::lightBasics_t basics;
    float cosOuter, cosInner;
};

light_t* makeSpot(paramMap_t& params, pluginContext_t& context) {
    plugins::paramReader_t read(params, context);
    point3d_t from = read.getPoint("from", point3d_t(0, 0, 0));
    point3d_t to = read.getPoint("to", point3d_t(from.x, from.y, from.z - 1));
    vector3d_t axis = to - from;
    if (axis.lengthSqr() == 0.0f || !std::isfinite(axis.lengthSqr())) {
        read.warn("setting \"to\" equals \"from\", so the spot has no direction; pointing it along -z");
        axis = vector3d_t(0, 0, -1);
    }
    axis.normalize();
    float angle = read.getFloat("angle", 45.0f, plugins::range_t{0, 90, true, false});
    float blend = read.getFloat("blend", 0.15f, plugins::range_t::between(0, 1));
    return new spotLight_t(from, axis, angle, blend, plugins::lightBasics_t::read(read, 1.0f));
}

void registerAll(pluginRegistry_t& registry) {
    std::vector<pluginParam_t> table{
        {"from", "point", "0 0 0", "position of the light"},
        {"to", "point", "from - (0 0 1)", "a point on the axis of the cone"},
        {"angle", "float", "45", "half-angle of the cone in degrees, more than 0, at most 90"},
        {"blend", "float", "0.15",
         "part of the half-angle, from the rim inwards, over which the light fades"}};
    for (const pluginParam_t& p :
         plugins::lightBasics_t::params("1", "energy arriving on the axis at distance 1"))
        table.push_back(p);
    registry.registerLight("spot", makeSpot, table, "cone of light with a soft edge");
}

} // namespace

VEXLAR_PLUGIN("light_spot", registerAll)
