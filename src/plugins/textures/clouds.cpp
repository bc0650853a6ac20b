// Texture "clouds": Perlin turbulence between two colours.
//
// | name        | kind  | default | meaning                                         |
// |-------------|-------|---------|-------------------------------------------------|
// | dark_color  | color | 0 0 0   | colour where the turbulence is 0                |
// | light_color | color | 1 1 1   | colour where the turbulence is 1                |
// | depth       | int   | 2       | number of noise octaves, 0 to 16                |
// | hard        | bool  | off     | sum absolute noise values (sharper, billowy)    |
// | size        | float | 1       | size of the noise features (greater than 0)     |
//
// floatAt(p) is the library's turbulence of p / size with `depth` octaves,
// about 0.5 on average and mostly within 0..1; colorAt blends light_color
// (weight floatAt, clamped to 0..1) with dark_color.
#include "common/paramreader.h"
#include "vexlarcore/noise.h"
#include "vexlarcore/texture.h"

namespace {

using namespace vexlar;

class cloudsTexture_t : public texture_t {
public:
    cloudsTexture_t(const color_t& dark, const color_t& light, int depth, bool hard, float size)
        : dark(dark), light(light), depth(depth), hard(hard), size(size) {}

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
    plugins::paramReader_t read(params, context);
    color_t dark = read.getColor("dark_color", color_t(0, 0, 0));
    color_t light = read.getColor("light_color", color_t(1, 1, 1));
    int depth = read.getInt("depth", 2, plugins::range_t::between(0, 16));
    bool hard = read.getBool("hard", false);
    float size = read.getFloat("size", 1.0f, plugins::range_t::above(0));
    return new cloudsTexture_t(dark, light, depth, hard, size);
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerTexture("clouds", makeClouds,
                             {{"dark_color", "color", "0 0 0", "colour where the turbulence is 0"},
                              {"light_color", "color", "1 1 1", "colour where the turbulence is 1"},
                              {"depth", "int", "2", "number of noise octaves, 0 to 16"},
                              {"hard", "bool", "off", "sum absolute noise values (sharper clouds)"},
                              {"size", "float", "1", "size of the noise features (greater than 0)"}},
                             "Perlin turbulence between two colours");
}

} // namespace

VEXLAR_PLUGIN("texture_clouds", registerAll)
