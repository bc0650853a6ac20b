// Light "point": light radiating from a point in every direction. Its
// settings: `vexlar --list-plugins`, docs/scene-format.md.
//
// The energy arriving at a point at distance d is color * power / f(d),
// with f(d) = d^2 (fade "quadratic", the default), d ("linear") or 1
// ("none"); it is handed with the unit direction towards the light to the
// surface's shader (fromLight). With shadows on, a point that sees a
// shadow-casting object between itself and the light gets nothing.
#include "vexlarcore/light.h"
#include "vexlarcore/scene.h"
#include "vexlarplugin/lighting.h"

namespace {

using namespace vexlar;

struct pointSettings_t : plugins::lightBasics_t {
    point3d_t from;
    plugins::fade_t fade;
};

const plugins::paramTable_t<pointSettings_t> pointParams{
    plugins::point("from", &pointSettings_t::from, point3d_t(0, 0, 0), "position of the light"),
    plugins::lightBasics_t::params("energy arriving at distance 1"),
    plugins::fadeSetting(&pointSettings_t::fade)};

class pointLight_t : public light_t {
public:
    explicit pointLight_t(const pointSettings_t& s) : s(s) {}

    color_t illuminate(renderState_t& state, const scene_t& scene, surfacePoint_t sp,
                       const vector3d_t& eye) const override {
        vector3d_t toLight = s.from - sp.point;
        float d2 = toLight.lengthSqr();
        if (d2 == 0.0f) return color_t(0, 0, 0);
        toLight.normalize();
        return plugins::deliverUnlessBlocked(state, sp, toLight,
                                             s.color * (s.power / plugins::fadeDivisor(s.fade, d2)), eye,
                                             s.shadows, [&] { return scene.isShadowed(state, sp, s.from); });
    }

private:
    pointSettings_t s;
};

light_t* makePoint(paramMap_t& params, pluginContext_t& context) {
    return new pointLight_t(pointParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerLight("point", makePoint, pointParams.rows(),
                           "point light, by default with inverse-square fall-off");
}

} // namespace

VEXLAR_PLUGIN("light_point", registerAll)
