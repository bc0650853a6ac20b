// Texture "marble": bands along x bent by Perlin turbulence, between two
// colours. Its settings: `vexlar --list-plugins`.
//
// For the point q = p / size, floatAt(p) = w^sharpness with
// w = 0.5 + 0.5 sin(2 pi (q.x + turbulence (t(q) - 0.5))), where t is the
// library's turbulence of q with `depth` octaves (about 0.5 on average), so
// the bands repeat every `size` along x and turbulence bends them; a larger
// sharpness makes the light bands thinner. colorAt blends light_color
// (weight floatAt) with dark_color. Rotate or scale the pattern with the
// shader's texture-layer settings.
#include <cmath>

#include "vexlarcore/noise.h"
#include "vexlarcore/texture.h"
#include "vexlarplugin/params.h"

namespace {

using namespace vexlar;

struct marbleSettings_t {
    color_t dark, light;
    float size;
    float turbulence;
    int depth;
    bool hard;
    float sharpness;
};

const plugins::paramTable_t<marbleSettings_t> marbleParams{
    plugins::color("dark_color", &marbleSettings_t::dark, color_t(0.25f, 0.22f, 0.2f),
                   "colour of the veins (pattern 0)"),
    plugins::color("light_color", &marbleSettings_t::light, color_t(0.95f, 0.93f, 0.9f),
                   "colour of the stone (pattern 1)"),
    plugins::number("size", &marbleSettings_t::size, 1.0f, plugins::range_t::above(0),
                    "distance between bands along x"),
    plugins::number("turbulence", &marbleSettings_t::turbulence, 2.0f, plugins::range_t::atLeast(0),
                    "how far the noise bends the bands, in band widths"),
    plugins::integer("depth", &marbleSettings_t::depth, 4, plugins::range_t::between(0, 16),
                     "number of noise octaves"),
    plugins::flag("hard", &marbleSettings_t::hard, false, "sum absolute noise values (sharper veins)"),
    plugins::number("sharpness", &marbleSettings_t::sharpness, 1.0f, plugins::range_t{0, 64, true, false},
                    "exponent of the pattern: larger values make thinner light bands")};

class marbleTexture_t : public texture_t {
public:
    explicit marbleTexture_t(const marbleSettings_t& s) : s(s) {}

    colorA_t colorAt(const point3d_t& p) const override {
        return colorA_t(mix(s.light, s.dark, floatAt(p)), 1.0f);
    }
    float floatAt(const point3d_t& p) const override {
        const point3d_t q(p.x / s.size, p.y / s.size, p.z / s.size);
        const float t = perlin.turbulence(q, s.depth, s.hard) - 0.5f;
        const double w = 0.5 + 0.5 * std::sin(6.283185307179586 * (q.x + s.turbulence * t));
        return static_cast<float>(std::pow(w, static_cast<double>(s.sharpness)));
    }

private:
    newPerlin_t perlin; // filled by its constructor
    marbleSettings_t s;
};

texture_t* makeMarble(paramMap_t& params, pluginContext_t& context) {
    return new marbleTexture_t(marbleParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerTexture("marble", makeMarble, marbleParams.rows(),
                             "marble: bands bent by Perlin turbulence");
}

} // namespace

VEXLAR_PLUGIN("texture_marble", registerAll)
