// Background "gradient": a sky that runs from a horizon colour to a zenith
// colour, with a separate colour below the horizon. Its settings:
// `vexlar --list-plugins`.
//
// Above the horizon the colour is mix(zenith, horizon, e) with e = d . up
// for the unit direction d, the sine of its elevation: linear in e, the
// horizon colour at e = 0 and the zenith colour at e = 1.
#include "vexlarcore/background.h"
#include "vexlarplugin/params.h"

namespace {

using namespace vexlar;

struct gradientSettings_t {
    color_t horizon, zenith, ground;
    vector3d_t up; // unit length
};

const plugins::paramTable_t<gradientSettings_t> gradientParams{
    plugins::color("horizon_color", &gradientSettings_t::horizon, color_t(0.7f, 0.8f, 1.0f),
                   "colour of directions along the horizon"),
    plugins::color("zenith_color", &gradientSettings_t::zenith, color_t(0.1f, 0.3f, 0.8f),
                   "colour of the direction straight up"),
    plugins::color("ground_color", &gradientSettings_t::ground,
                   plugins::sameAs("horizon_color", &gradientSettings_t::horizon),
                   "colour of every direction below the horizon"),
    plugins::direction("up", &gradientSettings_t::up, vector3d_t(0, 0, 1), "direction of the zenith")};

class gradientBackground_t : public background_t {
public:
    explicit gradientBackground_t(const gradientSettings_t& s) : s(s) {}

    color_t lookup(const vector3d_t& dir, renderState_t&) const override {
        vector3d_t d = dir;
        d.normalize();
        float e = d * s.up;
        if (e < 0.0f) return s.ground;
        return mix(s.zenith, s.horizon, e);
    }

private:
    gradientSettings_t s;
};

background_t* makeGradient(paramMap_t& params, pluginContext_t& context) {
    return new gradientBackground_t(gradientParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerBackground("gradient", makeGradient, gradientParams.rows(),
                                "sky running from the horizon colour to the zenith colour");
}

} // namespace

VEXLAR_PLUGIN("background_gradient", registerAll)
