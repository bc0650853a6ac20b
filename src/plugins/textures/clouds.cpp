// Texture "clouds": Perlin turbulence between two colours. Its settings:
// `vexlar --list-plugins`.
//
// floatAt(p) is the library's turbulence of p / size with `depth` octaves,
// about 0.5 on average and mostly within 0..1; colorAt blends light_color
// (weight floatAt, clamped to 0..1) with dark_color.
#include "vexlarcore/noise.h"
#include "vexlarcore/texture.h"
#include "vexlarplugin/params.h"

namespace {

using namespace vexlar;

struct cloudsSettings_t {
    color_t dark, light;
    int depth;
    bool hard;
    float size;
};

const plugins::paramTable_t<cloudsSettings_t> cloudsParams{
    plugins::color("dark_color", &cloudsSettings_t::dark, color_t(0, 0, 0),
                   "colour where the turbulence is 0"),
    plugins::color("light_color", &cloudsSettings_t::light, color_t(1, 1, 1),
                   "colour where the turbulence is 1"),
    plugins::integer("depth", &cloudsSettings_t::depth, 2, plugins::range_t::between(0, 16),
                     "number of noise octaves"),
    plugins::flag("hard", &cloudsSettings_t::hard, false, "sum absolute noise values (sharper clouds)"),
    plugins::number("size", &cloudsSettings_t::size, 1.0f, plugins::range_t::above(0),
                    "size of the noise features")};

class cloudsTexture_t : public texture_t {
public:
    explicit cloudsTexture_t(const cloudsSettings_t& s)
        : dark(s.dark), light(s.light), depth(s.depth), hard(s.hard), size(s.size) {}

    colorA_t colorAt(const point3d_t& p) const override {
        return colorA_t(mix(light, dark, floatAt(p)), 1.0f);
    }
    float floatAt(const point3d_t& p) const override {
        return perlin.turbulence(point3d_t(p.x / size, p.y / size, p.z / size), depth, hard);
    }

private:
    newPerlin_t perlin; // filled by its constructor
    color_t dark, light;
    int depth;
    bool hard;
    float size;
};

texture_t* makeClouds(paramMap_t& params, pluginContext_t& context) {
    return new cloudsTexture_t(cloudsParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerTexture("clouds", makeClouds, cloudsParams.rows(),
                             "Perlin turbulence between two colours");
}

} // namespace

VEXLAR_PLUGIN("texture_clouds", registerAll)
