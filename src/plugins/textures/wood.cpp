// Texture "wood": growth rings around the z axis, disturbed by Perlin
// turbulence, between two colours. Its settings: `vexlar --list-plugins`.
//
// For the point q = p / size, the ring coordinate is
// r = sqrt(q.x^2 + q.y^2) + turbulence (t(q) - 0.5), t being the library's
// turbulence of q with `depth` octaves, so rings are `size` apart.
// floatAt(p) is 0.5 + 0.5 cos(2 pi r) with `shape` "sine", or the fraction of
// r (a ring that brightens slowly and ends abruptly) with "saw". colorAt
// blends light_color (weight floatAt) with dark_color. Rotate the trunk with
// the shader's texture-layer settings (axes "yzx" runs it along x).
#include <cmath>

#include "vexlarcore/noise.h"
#include "vexlarcore/texture.h"
#include "vexlarplugin/params.h"

namespace {

using namespace vexlar;

enum class ringShape_t { sine, saw };

struct woodSettings_t {
    color_t dark, light;
    float size;
    float turbulence;
    int depth;
    bool hard;
    ringShape_t shape;
};

const plugins::paramTable_t<woodSettings_t> woodParams{
    plugins::color("dark_color", &woodSettings_t::dark, color_t(0.35f, 0.18f, 0.07f),
                   "colour between the rings (pattern 0)"),
    plugins::color("light_color", &woodSettings_t::light, color_t(0.8f, 0.55f, 0.3f),
                   "colour of the rings (pattern 1)"),
    plugins::number("size", &woodSettings_t::size, 0.1f, plugins::range_t::above(0),
                    "distance between rings"),
    plugins::number("turbulence", &woodSettings_t::turbulence, 0.3f, plugins::range_t::atLeast(0),
                    "how far the noise moves the rings, in ring distances"),
    plugins::integer("depth", &woodSettings_t::depth, 2, plugins::range_t::between(0, 16),
                     "number of noise octaves"),
    plugins::flag("hard", &woodSettings_t::hard, false, "sum absolute noise values"),
    plugins::choice("shape", &woodSettings_t::shape, "sine",
                    {{"sine", ringShape_t::sine}, {"saw", ringShape_t::saw}}, "profile of a ring")};

class woodTexture_t : public texture_t {
public:
    explicit woodTexture_t(const woodSettings_t& s) : s(s) {}

    colorA_t colorAt(const point3d_t& p) const override {
        return colorA_t(mix(s.light, s.dark, floatAt(p)), 1.0f);
    }
    float floatAt(const point3d_t& p) const override {
        const point3d_t q(p.x / s.size, p.y / s.size, p.z / s.size);
        const double r = std::sqrt(static_cast<double>(q.x) * q.x + static_cast<double>(q.y) * q.y) +
                         s.turbulence * (perlin.turbulence(q, s.depth, s.hard) - 0.5);
        if (s.shape == ringShape_t::saw) return static_cast<float>(r - std::floor(r));
        return static_cast<float>(0.5 + 0.5 * std::cos(6.283185307179586 * r));
    }

private:
    newPerlin_t perlin; // filled by its constructor
    woodSettings_t s;
};

texture_t* makeWood(paramMap_t& params, pluginContext_t& context) {
    return new woodTexture_t(woodParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerTexture("wood", makeWood, woodParams.rows(),
                             "wood: growth rings disturbed by turbulence");
}

} // namespace

VEXLAR_PLUGIN("texture_wood", registerAll)
