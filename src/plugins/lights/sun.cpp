// Light "sun": parallel light from one direction, as from a very distant
// source.
//
// | name      | kind  | default | meaning                                          |
// |-----------|-------|---------|--------------------------------------------------|
// | direction | point | 0 0 1   | direction towards the sun (any length but zero)  |
// | color     | color | 1 1 1   | colour of the light                              |
// | power     | float | 1       | energy arriving everywhere (at least 0)          |
// | shadows   | bool  | on      | cast hard shadows                                |
//
// Every point receives color * power from `direction`, unless (with shadows
// on) a shadow-casting object lies anywhere along that direction.
#include "common/lighting.h"
#include "vexlarcore/light.h"
#include "vexlarcore/scene.h"

namespace {

using namespace vexlar;

class sunLight_t : public light_t {
public:
    sunLight_t(const vector3d_t& dir, const plugins::lightBasics_t& basics) : dir(dir), basics(basics) {}

    color_t illuminate(renderState_t& state, const scene_t& scene, surfacePoint_t sp,
                       const vector3d_t& eye) const override {
        if (basics.shadows && scene.isShadowed(state, sp, dir)) return color_t(0, 0, 0);
        return plugins::deliver(state, sp, dir, basics.color * basics.power, eye);
    }

private:
    vector3d_t dir; // unit, towards the sun
    plugins::lightBasics_t basics;
};

light_t* makeSun(paramMap_t& params, pluginContext_t& context) {
    plugins::paramReader_t read(params, context);
    vector3d_t dir = read.getDirection("direction", vector3d_t(0, 0, 1));
    return new sunLight_t(dir, plugins::lightBasics_t::read(read, 1.0f));
}

void registerAll(pluginRegistry_t& registry) {
    std::vector<pluginParam_t> table{{"direction", "point", "0 0 1", "direction towards the sun"}};
    for (const pluginParam_t& p : plugins::lightBasics_t::params("1", "energy arriving everywhere"))
        table.push_back(p);
    registry.registerLight("sun", makeSun, table, "directional light from a distant source");
}

} // namespace

VEXLAR_PLUGIN("light_sun", registerAll)
