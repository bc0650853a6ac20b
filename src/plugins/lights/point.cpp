// Light "point": light radiating from a point in every direction.
//
// | name    | kind  | default | meaning                                             |
// |---------|-------|---------|-----------------------------------------------------|
// | from    | point | 0 0 0   | position of the light                               |
// | color   | color | 1 1 1   | colour of the light                                 |
// | power   | float | 1       | intensity: energy arriving at distance 1 (at least 0) |
// | shadows | bool  | on      | cast hard shadows                                   |
//
// The energy arriving at a point at distance d is color * power / d^2
// (inverse-square fall-off), handed with the unit direction towards the
// light to the surface's shader (fromLight). With shadows on, a point that
// sees a shadow-casting object between itself and the light gets nothing.
#include "common/lighting.h"
#include "vexlarcore/light.h"
#include "vexlarcore/scene.h"

namespace {

using namespace vexlar;

class pointLight_t : public light_t {
public:
    pointLight_t(const point3d_t& from, const plugins::lightBasics_t& basics) : from(from), basics(basics) {}

    color_t illuminate(renderState_t& state, const scene_t& scene, surfacePoint_t sp,
                       const vector3d_t& eye) const override {
        vector3d_t toLight = from - sp.point;
        float d2 = toLight.lengthSqr();
        if (d2 == 0.0f) return color_t(0, 0, 0);
        toLight.normalize();
        if (basics.shadows && scene.isShadowed(state, sp, from)) return color_t(0, 0, 0);
        return plugins::deliver(state, sp, toLight, basics.color * (basics.power / d2), eye);
    }

private:
    point3d_t from;
    plugins::lightBasics_t basics;
};

light_t* makePoint(paramMap_t& params, pluginContext_t& context) {
    plugins::paramReader_t read(params, context);
    point3d_t from = read.getPoint("from", point3d_t(0, 0, 0));
    return new pointLight_t(from, plugins::lightBasics_t::read(read, 1.0f));
}

void registerAll(pluginRegistry_t& registry) {
    std::vector<pluginParam_t> table{{"from", "point", "0 0 0", "position of the light"}};
    for (const pluginParam_t& p : plugins::lightBasics_t::params(
             "1", "energy arriving at distance 1; falls off with the squared distance"))
        table.push_back(p);
    registry.registerLight("point", makePoint, table, "point light with inverse-square fall-off");
}

} // namespace

VEXLAR_PLUGIN("light_point", registerAll)
