// Light "sun": parallel light from one direction, as from a very distant
// source. Its settings: `vexlar --list-plugins`, docs/scene-format.md.
//
// Every point receives color * power from `direction`, unless (with shadows
// on) a shadow-casting object lies anywhere along that direction.
#include "vexlarcore/light.h"
#include "vexlarcore/scene.h"
#include "vexlarplugin/lighting.h"

namespace {

using namespace vexlar;

struct sunSettings_t : plugins::lightBasics_t {
    vector3d_t direction; // unit, towards the sun
};

const plugins::paramTable_t<sunSettings_t> sunParams{
    plugins::direction("direction", &sunSettings_t::direction, vector3d_t(0, 0, 1),
                       "direction towards the sun"),
    plugins::lightBasics_t::params("energy arriving everywhere")};

class sunLight_t : public light_t {
public:
    explicit sunLight_t(const sunSettings_t& s) : s(s) {}

    color_t illuminate(renderState_t& state, const scene_t& scene, surfacePoint_t sp,
                       const vector3d_t& eye) const override {
        return plugins::deliverUnlessBlocked(state, sp, s.direction, s.color * s.power, eye, s.shadows,
                                             [&] { return scene.isShadowed(state, sp, s.direction); });
    }

private:
    sunSettings_t s;
};

light_t* makeSun(paramMap_t& params, pluginContext_t& context) {
    return new sunLight_t(sunParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerLight("sun", makeSun, sunParams.rows(), "directional light from a distant source");
}

} // namespace

VEXLAR_PLUGIN("light_sun", registerAll)
