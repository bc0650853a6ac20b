// Light "spot": a point light limited to a cone, with a soft edge. Its
// settings: `vexlar --list-plugins`, docs/scene-format.md.
//
// For a point seen from the light at angle a off the axis, with
// c = cos(a), outer = cos(angle) and inner = cos(angle * (1 - blend)):
// the factor is 0 when c <= outer, 1 when c >= inner, and in between the
// smooth step s = t^2 (3 - 2t) of t = (c - outer) / (inner - outer). The
// energy arriving at distance d is color * power * factor / f(d), with the
// fall-off f of the point light (d^2 by default, see lights/point.cpp).
#include <cmath>

#include "vexlarcore/light.h"
#include "vexlarcore/scene.h"
#include "vexlarplugin/lighting.h"

namespace {

using namespace vexlar;

struct spotSettings_t : plugins::lightBasics_t {
    point3d_t from;
    point3d_t to;
    float angle;
    float blend;
    plugins::fade_t fade;
    vector3d_t axis; // unit, from the light along the cone; not a setting
};

point3d_t defaultTo(const spotSettings_t& s) {
    return s.from - vector3d_t(0, 0, 1);
}

// The cone needs a direction: "to" must differ from "from".
void checkAxis(plugins::paramReader_t& read, spotSettings_t& s) {
    s.axis = s.to - s.from;
    if (s.axis.lengthSqr() == 0.0f || !std::isfinite(s.axis.lengthSqr())) {
        read.warn("setting \"to\" equals \"from\", so the spot has no direction; pointing it along -z");
        s.axis = vector3d_t(0, 0, -1);
    }
    s.axis.normalize();
}

const plugins::paramTable_t<spotSettings_t> spotParams{
    plugins::point("from", &spotSettings_t::from, point3d_t(0, 0, 0), "position of the light"),
    plugins::point("to", &spotSettings_t::to,
                   plugins::derivedDefault<spotSettings_t, point3d_t>("from - (0 0 1)", defaultTo),
                   "a point on the axis of the cone")
        .then(checkAxis),
    plugins::number("angle", &spotSettings_t::angle, 45.0f, plugins::range_t{0, 90, true, false},
                    "half-angle of the cone in degrees"),
    plugins::number("blend", &spotSettings_t::blend, 0.15f, plugins::range_t::between(0, 1),
                    "part of the half-angle, from the rim inwards, over which the light fades"),
    plugins::lightBasics_t::params("energy arriving on the axis at distance 1"),
    plugins::fadeSetting(&spotSettings_t::fade)};

class spotLight_t : public light_t {
public:
    explicit spotLight_t(const spotSettings_t& s) : s(s) {
        const double toRad = 3.14159265358979323846 / 180.0;
        cosOuter = static_cast<float>(std::cos(s.angle * toRad));
        cosInner = static_cast<float>(std::cos(s.angle * (1.0 - s.blend) * toRad));
    }

    color_t illuminate(renderState_t& state, const scene_t& scene, surfacePoint_t sp,
                       const vector3d_t& eye) const override {
        vector3d_t toLight = s.from - sp.point;
        float d2 = toLight.lengthSqr();
        if (d2 == 0.0f) return color_t(0, 0, 0);
        toLight.normalize();
        float factor = falloff(-(toLight * s.axis));
        if (factor <= 0.0f) return color_t(0, 0, 0);
        return plugins::deliverUnlessBlocked(
            state, sp, toLight, s.color * (s.power * factor / plugins::fadeDivisor(s.fade, d2)), eye,
            s.shadows, [&] { return scene.isShadowed(state, sp, s.from); });
    }

private:
    float falloff(float c) const {
        if (c <= cosOuter) return 0.0f;
        if (c >= cosInner) return 1.0f;
        float t = (c - cosOuter) / (cosInner - cosOuter);
        return t * t * (3.0f - 2.0f * t);
    }

    spotSettings_t s;
    float cosOuter, cosInner;
};

light_t* makeSpot(paramMap_t& params, pluginContext_t& context) {
    return new spotLight_t(spotParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerLight("spot", makeSpot, spotParams.rows(), "cone of light with a soft edge");
}

} // namespace

VEXLAR_PLUGIN("light_spot", registerAll)
