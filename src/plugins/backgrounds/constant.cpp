// Background "constant": one colour in every direction.
//
// | name  | kind  | default | meaning                          |
// |-------|-------|---------|----------------------------------|
// | color | color | 0 0 0   | colour seen in every direction   |
#include "common/paramreader.h"
#include "vexlarcore/background.h"

namespace {

using namespace vexlar;

class constantBackground_t : public background_t {
public:
    explicit constantBackground_t(const color_t& c) : color(c) {}
    color_t lookup(const vector3d_t&, renderState_t&) const override { return color; }

private:
    color_t color;
};

background_t* makeConstant(paramMap_t& params, pluginContext_t& context) {
    plugins::paramReader_t read(params, context);
    return new constantBackground_t(read.getColor("color", color_t(0, 0, 0)));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerBackground("constant", makeConstant,
                                {{"color", "color", "0 0 0", "colour seen in every direction"}},
                                "one colour in every direction");
}

} // namespace

VEXLAR_PLUGIN("background_constant", registerAll)
