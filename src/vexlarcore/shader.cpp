#include "vexlarcore/shader.h"

namespace vexlar {

void shader_t::displace(renderState_t&, surfacePoint_t&, const vector3d_t&, float) const {}

colorA_t shader_t::stdoutColor(renderState_t&, const surfacePoint_t&, const vector3d_t&,
                               const scene_t*) const {
    return colorA_t(0, 0, 0, 0);
}

float shader_t::stdoutFloat(renderState_t&, const surfacePoint_t&, const vector3d_t&, const scene_t*) const {
    return 0.0f;
}

vector3d_t shader_t::stdoutVector(renderState_t&, const surfacePoint_t&, const vector3d_t&,
                                  const scene_t*) const {
    return vector3d_t(0, 0, 0);
}

void shader_t::getCaustics(renderState_t&, const surfacePoint_t&, const vector3d_t&, color_t& reflected,
                           color_t& transmitted, float&) const {
    reflected = color_t(0, 0, 0);
    transmitted = color_t(0, 0, 0);
}

bool shader_t::discrete() const {
    return false;
}

bool shader_t::isRGB() const {
    return true;
}

color_t shaderNode_t::fromRadiosity(renderState_t&, const surfacePoint_t&, const energy_t&,
                                    const vector3d_t&) const {
    return color_t(0, 0, 0);
}

color_t shaderNode_t::fromLight(renderState_t&, const surfacePoint_t&, const energy_t&,
                                const vector3d_t&) const {
    return color_t(0, 0, 0);
}

color_t shaderNode_t::fromWorld(renderState_t&, const surfacePoint_t&, const scene_t&,
                                const vector3d_t&) const {
    return color_t(0, 0, 0);
}

color_t shaderNode_t::getDiffuse(renderState_t&, const surfacePoint_t&, const vector3d_t&) const {
    return color_t(0, 0, 0);
}

void shaderNode_t::displace(renderState_t&, surfacePoint_t&, const vector3d_t&, float) const {}

} // namespace vexlar
