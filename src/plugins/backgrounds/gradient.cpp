// Background "gradient": a sky that runs from a horizon colour to a zenith
// colour, with a separate colour below the horizon.
//
// | name          | kind  | default       | meaning                                         |
// |---------------|-------|---------------|-------------------------------------------------|
// | horizon_color | color | 0.7 0.8 1     | colour of directions along the horizon          |
// | zenith_color  | color | 0.1 0.3 0.8   | colour of the direction straight up             |
// | ground_color  | color | horizon_color | colour of every direction below the horizon     |
// | up            | point | 0 0 1         | direction of the zenith (any length but zero)   |
//
// Above the horizon the colour is mix(zenith, horizon, e) with e = d . up
// for the unit direction d, the sine of its elevation: linear in e, the
// horizon colour at e = 0 and the zenith colour at e = 1.
#include "common/paramreader.h"
#include "vexlarcore/background.h"

namespace {

using namespace vexlar;

class gradientBackground_t : public background_t {
public:
    gradientBackground_t(const color_t& horizon, const color_t& zenith, const color_t& ground,
                         const vector3d_t& up)
        : horizon(horizon), zenith(zenith), ground(ground), up(up) {}

    color_t lookup(const vector3d_t& dir, renderState_t&) const override {
        vector3d_t d = dir;
        d.normalize();
        float e = d * up;
        if (e < 0.0f) return ground;
        return mix(zenith, horizon, e);
    }

private:
    color_t horizon, zenith, ground;
    vector3d_t up; // unit length
};

background_t* makeGradient(paramMap_t& params, pluginContext_t& context) {
    plugins::paramReader_t read(params, context);
    color_t horizon = read.getColor("horizon_color", color_t(0.7f, 0.8f, 1.0f));
    color_t zenith = read.getColor("zenith_color", color_t(0.1f, 0.3f, 0.8f));
    color_t ground = read.getColor("ground_color", horizon);
    vector3d_t up = read.getDirection("up", vector3d_t(0, 0, 1));
    return new gradientBackground_t(horizon, zenith, ground, up);
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerBackground(
        "gradient", makeGradient,
        {{"horizon_color", "color", "0.7 0.8 1", "colour of directions along the horizon"},
         {"zenith_color", "color", "0.1 0.3 0.8", "colour of the direction straight up"},
         {"ground_color", "color", "horizon_color", "colour of every direction below the horizon"},
         {"up", "point", "0 0 1", "direction of the zenith"}},
        "sky running from the horizon colour to the zenith colour");
}

} // namespace

VEXLAR_PLUGIN("background_gradient", registerAll)
