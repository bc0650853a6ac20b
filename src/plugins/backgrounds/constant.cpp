// Background "constant": one colour in every direction. Its settings:
// `vexlar --list-plugins`.
#include "vexlarcore/background.h"
#include "vexlarplugin/params.h"

namespace {

using namespace vexlar;

struct constantSettings_t {
    color_t color;
};

const plugins::paramTable_t<constantSettings_t> constantParams{
    plugins::color("color", &constantSettings_t::color, color_t(0, 0, 0), "colour seen in every direction")};

class constantBackground_t : public background_t {
public:
    explicit constantBackground_t(const constantSettings_t& s) : color(s.color) {}
    color_t lookup(const vector3d_t&, renderState_t&) const override { return color; }

private:
    color_t color;
};

background_t* makeConstant(paramMap_t& params, pluginContext_t& context) {
    return new constantBackground_t(constantParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerBackground("constant", makeConstant, constantParams.rows(),
                                "one colour in every direction");
}

} // namespace

VEXLAR_PLUGIN("background_constant", registerAll)
