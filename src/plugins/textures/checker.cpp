// Texture "checker": a solid (three-dimensional) checkerboard of cubes.
//
// | name       | kind  | default | meaning                                    |
// |------------|-------|---------|--------------------------------------------|
// | even_color | color | 1 1 1   | colour of the cubes with an even index sum |
// | odd_color  | color | 0 0 0   | colour of the cubes with an odd index sum  |
// | size       | float | 1       | edge length of a cube (greater than 0)     |
//
// The cube of point p has the integer indices floor(p.x / size),
// floor(p.y / size), floor(p.z / size); it is even when their sum is even.
// Points on a face belong to the cube above it (floor rounds down). The
// intensity (floatAt) is the mean of the colour's three channels, so the
// default board gives 1 on even and 0 on odd cubes.
#include <cmath>

#include "common/paramreader.h"
#include "vexlarcore/texture.h"

namespace {

using namespace vexlar;

class checkerTexture_t : public texture_t {
public:
    checkerTexture_t(const color_t& even, const color_t& odd, float size)
        : even(even), odd(odd), size(size) {}

    colorA_t colorAt(const point3d_t& p) const override { return colorA_t(cellColor(p), 1.0f); }
    float floatAt(const point3d_t& p) const override {
        color_t c = cellColor(p);
        return (c.R + c.G + c.B) / 3.0f;
    }

private:
    const color_t& cellColor(const point3d_t& p) const {
        // In double precision, so that large coordinates keep their parity
        // and the index sum cannot overflow an integer.
        double s = std::floor(p.x / static_cast<double>(size)) + std::floor(p.y / static_cast<double>(size)) +
                   std::floor(p.z / static_cast<double>(size));
        if (!std::isfinite(s)) return even;
        return std::fmod(std::fabs(s), 2.0) == 1.0 ? odd : even;
    }

    color_t even, odd;
    float size;
};

texture_t* makeChecker(paramMap_t& params, pluginContext_t& context) {
    plugins::paramReader_t read(params, context);
    color_t even = read.getColor("even_color", color_t(1, 1, 1));
    color_t odd = read.getColor("odd_color", color_t(0, 0, 0));
    float size = read.getFloat("size", 1.0f, plugins::range_t::above(0));
    return new checkerTexture_t(even, odd, size);
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerTexture("checker", makeChecker,
                             {{"even_color", "color", "1 1 1", "colour of the cubes with an even index sum"},
                              {"odd_color", "color", "0 0 0", "colour of the cubes with an odd index sum"},
                              {"size", "float", "1", "edge length of a cube (greater than 0)"}},
                             "solid checkerboard of cubes");
}

} // namespace

VEXLAR_PLUGIN("texture_checker", registerAll)
