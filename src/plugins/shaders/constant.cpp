// Shader "constant": the same colour wherever it is seen, unaffected by
// lights (for light fittings, backdrops, debugging).
//
// | name  | kind  | default | meaning                   |
// |-------|-------|---------|---------------------------|
// | color | color | 1 1 1   | colour of the surface     |
//
// It reflects no light and so takes no part in indirect lighting either.
#include "common/paramreader.h"
#include "vexlarcore/shader.h"

namespace {

using namespace vexlar;

class constantShader_t : public shaderNode_t {
public:
    explicit constantShader_t(const color_t& c) : color(c) {}
    color_t fromWorld(renderState_t&, const surfacePoint_t&, const scene_t&,
                      const vector3d_t&) const override {
        return color;
    }

private:
    color_t color;
};

shader_t* makeConstant(paramMap_t& params, pluginContext_t& context) {
    plugins::paramReader_t read(params, context);
    return new constantShader_t(read.getColor("color", color_t(1, 1, 1)));
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerShader("constant", makeConstant, {{"color", "color", "1 1 1", "colour of the surface"}},
                            "one colour, unaffected by lights");
}

} // namespace

VEXLAR_PLUGIN("shader_constant", registerAll)
