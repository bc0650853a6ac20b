// Texture "checker": a solid (three-dimensional) checkerboard of cubes. Its
// settings: `vexlar --list-plugins`.
//
// The cube of point p has the integer indices floor(p.x / size),
// floor(p.y / size), floor(p.z / size); it is even when their sum is even.
// Points on a face belong to the cube above it (floor rounds down). The
// intensity (floatAt) is the mean of the colour's three channels, so the
// board of white and black cubes gives 1 on even and 0 on odd cubes.
#include <cmath>

#include "vexlarcore/texture.h"
#include "vexlarplugin/params.h"

namespace {

using namespace vexlar;

struct checkerSettings_t {
    color_t even, odd;
    float size;
};

const plugins::paramTable_t<checkerSettings_t> checkerParams{
    plugins::color("even_color", &checkerSettings_t::even, color_t(1, 1, 1),
                   "colour of the cubes with an even index sum"),
    plugins::color("odd_color", &checkerSettings_t::odd, color_t(0, 0, 0),
                   "colour of the cubes with an odd index sum"),
    plugins::number("size", &checkerSettings_t::size, 1.0f, plugins::range_t::above(0),
                    "edge length of a cube")};

class checkerTexture_t : public texture_t {
public:
    explicit checkerTexture_t(const checkerSettings_t& s) : even(s.even), odd(s.odd), size(s.size) {}

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
    return new checkerTexture_t(checkerParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerTexture("checker", makeChecker, checkerParams.rows(), "solid checkerboard of cubes");
}

} // namespace

VEXLAR_PLUGIN("texture_checker", registerAll)
