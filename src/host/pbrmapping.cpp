#include "host/pbrmapping.h"

#include <algorithm>
#include <cmath>

namespace vexlar {
namespace host {

namespace {

json rgb(float r, float g, float b) {
    return json::array({r, g, b});
}

} // namespace

json mapPbrMaterial(const pbrMaterial_t& m, std::vector<std::string>& dropped) {
    const float metallic = std::clamp(m.metallic, 0.0f, 1.0f);
    const float roughness = std::clamp(m.roughness, 0.0f, 1.0f);
    const float transmission = std::clamp(m.transmission, 0.0f, 1.0f) * (1.0f - metallic);
    const float opacity = m.alphaBlend ? std::clamp(m.alpha, 0.0f, 1.0f) : 1.0f;
    const float* base = m.baseColor;

    json d = json::object();
    d["type"] = "generic";
    // What is neither metal nor transmitted nor blended away scatters diffusely.
    const float diffuse = (1.0f - metallic) * (1.0f - transmission) * opacity;
    d["color"] = rgb(base[0] * diffuse, base[1] * diffuse, base[2] * diffuse);
    float f0[3];
    for (int i = 0; i < 3; ++i) f0[i] = 0.04f + (base[i] - 0.04f) * metallic;
    d["specular_color"] = rgb(f0[0] * opacity, f0[1] * opacity, f0[2] * opacity);
    d["specular_model"] = "blinn";
    // Blinn exponent of the same lobe width as a GGX lobe of this roughness.
    const float a = std::max(roughness * roughness, 0.01f);
    d["hard"] = std::clamp(2.0f / (a * a) - 2.0f, 1.0f, 10000.0f);
    const float polish = (1.0f - roughness) * (1.0f - roughness) * opacity;
    if (polish > 0.0f) d["mirror_color"] = rgb(f0[0] * polish, f0[1] * polish, f0[2] * polish);
    float t[3];
    for (int i = 0; i < 3; ++i) t[i] = transmission * base[i] * opacity + (1.0f - opacity);
    if (t[0] > 0.0f || t[1] > 0.0f || t[2] > 0.0f) {
        d["transmit_color"] = rgb(t[0], t[1], t[2]);
        // See-through only by alpha: the ray passes on undeflected.
        d["ior"] = transmission > 0.0f ? std::max(m.ior, 1.0f) : 1.0f;
        d["fresnel"] = transmission > 0.0f;
    } else {
        d["ior"] = std::max(m.ior, 1.0f);
    }
    const float s = std::max(m.emissiveStrength, 0.0f);
    if (m.emissive[0] > 0.0f || m.emissive[1] > 0.0f || m.emissive[2] > 0.0f)
        d["emit_color"] = rgb(m.emissive[0] * s, m.emissive[1] * s, m.emissive[2] * s);
    if (!m.baseTexture.empty()) {
        d["layer1_texture"] = m.baseTexture;
        d["layer1_mode"] = "multiply";
        d["layer1_coords"] = "uv";
    }
    if (!m.normalTexture.empty()) dropped.push_back("normal map");
    if (!m.metallicRoughnessTexture.empty()) dropped.push_back("metallic-roughness texture");
    if (!m.occlusionTexture.empty()) dropped.push_back("occlusion texture");
    return d;
}

} // namespace host
} // namespace vexlar
