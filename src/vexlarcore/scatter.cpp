#include "vexlarcore/scatter.h"

#include <algorithm>
#include <cmath>

#include "vexlarcore/object3d.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/shader.h"

namespace vexlar {

namespace {
const double twoPi = 6.283185307179586;
} // namespace

scatteringShader_t::~scatteringShader_t() {}

bool scatteringShader_t::mayScatterSpecularly() const {
    return true;
}

surfaceSplit_t surfaceSplitOf(const shader_t* shader, renderState_t& state, const surfacePoint_t& sp,
                              const vector3d_t& from) {
    surfaceSplit_t s;
    if (shader == nullptr) return s;
    if (const auto* scattering = dynamic_cast<const scatteringShader_t*>(shader))
        return scattering->split(state, sp, from);
    s.diffuse = shader->getDiffuse(state, sp, from);
    return s;
}

bool scattersSpecularly(const shader_t* shader) {
    const auto* scattering = dynamic_cast<const scatteringShader_t*>(shader);
    return scattering != nullptr && scattering->mayScatterSpecularly();
}

vector3d_t sampleLobe(const vector3d_t& axis, float k, float z1, float z2) {
    vector3d_t u, v;
    createCS(axis, u, v);
    const double cosTheta = std::pow(static_cast<double>(z2), 1.0 / (static_cast<double>(k) + 1.0));
    const double sinTheta = std::sqrt(std::max(0.0, 1.0 - cosTheta * cosTheta));
    const double phi = twoPi * z1;
    vector3d_t d = static_cast<float>(cosTheta) * axis + static_cast<float>(sinTheta * std::cos(phi)) * u +
                   static_cast<float>(sinTheta * std::sin(phi)) * v;
    return d.normalize();
}

float lobeDensity(const vector3d_t& axis, float k, const vector3d_t& d) {
    const float c = axis * d;
    if (!(c > 0.0f)) return 0.0f;
    return static_cast<float>((k + 1.0) / twoPi * std::pow(static_cast<double>(c), static_cast<double>(k)));
}

vector3d_t keepOnSide(const vector3d_t& d, const vector3d_t& n, float side) {
    const float c = d * n;
    if (c * side >= 0.0f) return d;
    return d - (2.0f * c) * n;
}

vector3d_t sampleCosine(const vector3d_t& n, float z1, float z2) {
    vector3d_t u, v;
    createCS(n, u, v);
    // Uniform on the disc, lifted onto the hemisphere.
    const double r = std::sqrt(static_cast<double>(z2));
    const double phi = twoPi * z1;
    const double h = std::sqrt(std::max(0.0, 1.0 - static_cast<double>(z2)));
    vector3d_t d = static_cast<float>(r * std::cos(phi)) * u + static_cast<float>(r * std::sin(phi)) * v +
                   static_cast<float>(h) * n;
    return d.normalize();
}

} // namespace vexlar
