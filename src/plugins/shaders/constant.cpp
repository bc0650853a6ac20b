// Shader "constant": the same colour wherever it is seen, unaffected by
// lights (for light fittings, backdrops, debugging). Its settings:
// `vexlar --list-plugins`.
//
// It reflects no light and so takes no part in indirect lighting either.
#include "vexlarcore/shader.h"
#include "vexlarplugin/params.h"

namespace {

using namespace vexlar;

struct constantSettings_t {
    color_t color;
};

const plugins::paramTable_t<constantSettings_t> constantParams{
    plugins::color("color", &constantSettings_t::color, color_t(1, 1, 1), "colour of the surface")};

class constantShader_t : public shaderNode_t {
public:
    explicit constantShader_t(const constantSettings_t& s) : color(s.color) {}
    color_t fromWorld(renderState_t&, const surfacePoint_t&, const scene_t&,
                      const vector3d_t&) const override {
        return color;
    }

private:
    color_t color;
};

shader_t* makeConstant(paramMap_t& params, pluginContext_t& context) {
    return new constantShader_t(constantParams.read(params, context));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerShader("constant", makeConstant, constantParams.rows(),
                            "one colour, unaffected by lights");
}

} // namespace

VEXLAR_PLUGIN("shader_constant", registerAll)
