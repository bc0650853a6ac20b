// How a physically based metallic-roughness material (glTF's model) becomes
// a shader description of this renderer. One function does it, so that the
// importers stay the same when the target shader changes.
//
// Today the target is the "generic" shader:
//   color           base colour x (1 - metallic), times alpha when blended
//   specular_color  F0 = mix(0.04, base colour, metallic), Blinn highlights
//   hard            2 / a^2 - 2 with a = roughness^2 (1 to 10000)
//   mirror_color    F0 x (1 - roughness)^2: polished surfaces reflect
//   transmit_color  transmission x base colour, plus (1 - alpha) for blended
//                   alpha (with ior 1 when only alpha makes it see-through)
//   ior, fresnel    the material's ior; Fresnel weights when it transmits
//   emit_color      emissive factor x strength
//   layer1          the base colour texture, multiplied on uv coordinates
// Normal, metallic-roughness and occlusion textures have no counterpart in
// the generic shader; mapPbrMaterial names them in `dropped` so that the
// caller can say so.
#ifndef VEXLAR_HOST_PBRMAPPING_H
#define VEXLAR_HOST_PBRMAPPING_H

#include <string>
#include <vector>

#include "host/jsonread.h"

namespace vexlar {
namespace host {

/// A metallic-roughness material, factors in glTF's ranges (colours linear).
struct pbrMaterial_t {
    float baseColor[3] = {1, 1, 1};
    /// Alpha of the base colour, used when `alphaBlend`.
    float alpha = 1;
    bool alphaBlend = false;
    /// Name of a texture of the scene for the base colour ("" = none).
    std::string baseTexture;
    float metallic = 1;
    float roughness = 1;
    /// Transmission factor (0..1) and index of refraction.
    float transmission = 0;
    float ior = 1.5f;
    float emissive[3] = {0, 0, 0};
    float emissiveStrength = 1;
    /// Textures the material uses that may have no counterpart ("" = none).
    std::string normalTexture;
    std::string metallicRoughnessTexture;
    std::string occlusionTexture;
};

/// The shader description ({"type": ..., settings}) for `m`. `dropped`
/// receives the names of features the target shader cannot show.
json mapPbrMaterial(const pbrMaterial_t& m, std::vector<std::string>& dropped);

} // namespace host
} // namespace vexlar

#endif
