// Texture layers of shaders: a texture of the scene applied to a surface
// through the library's modulator_t, read from settings "layerN_..." (N = 1,
// 2, ...). The parts every shader's layers share live here: the texture,
// the blend mode and where the texture lies on the surface (coordinates,
// projection, axes, size, offset, tiling, edges). Each shader adds what its
// layers act on (the generic shader's colfac, specfac, hardfac and bump; the
// pbr shader's target and amount) and splices these tables into its own.
//
// Header-only, like params.h.
#ifndef VEXLARPLUGIN_TEXTURELAYERS_H
#define VEXLARPLUGIN_TEXTURELAYERS_H

#include <cstring>
#include <string>

#include "vexlarcore/modulator.h"
#include "vexlarplugin/params.h"

namespace vexlar {
namespace plugins {

/// "xyz" style axis selection: 1 x, 2 y, 3 z, 0 none.
struct layerAxes_t {
    signed char axis[3];
};

inline bool parseLayerAxes(const std::string& text, layerAxes_t& out) {
    if (text.size() != 3) return false;
    for (std::size_t i = 0; i < 3; ++i) {
        const char* letters = "nxyz";
        const char* at = text[i] ? std::strchr(letters, text[i]) : nullptr;
        if (!at) return false;
        out.axis[i] = static_cast<signed char>(at - letters);
    }
    return true;
}

/// The settings of one layer that every shader's layers have. A shader's
/// layer record derives from it.
struct layerMapping_t {
    std::string texture;
    int mode;
    int coords, projection;
    layerAxes_t axes;
    point3d_t size, offset;
    int repeatX, repeatY;
    int clip;
};

/// "texture": the name of a texture of the scene; read alone first, since a
/// layer without one is not read further.
inline paramTable_t<layerMapping_t> layerTextureParams(int maxLayers) {
    return {text("texture", &layerMapping_t::texture,
                 "texture layer N = 1.." + std::to_string(maxLayers) + ": name of a texture of the scene")};
}

/// "mode": how the texture blends in.
inline paramTable_t<layerMapping_t> layerModeParams() {
    return {choice("mode", &layerMapping_t::mode, "mix",
                   {{"mix", modulator_t::MIX},
                    {"multiply", modulator_t::MULTIPLY},
                    {"add", modulator_t::ADD},
                    {"subtract", modulator_t::SUBTRACT}},
                   "how the texture blends in")};
}

/// Where the texture lies: "coords", "projection", "axes", "size",
/// "offset", "repeat_x", "repeat_y", "clip".
inline paramTable_t<layerMapping_t> layerPlacementParams() {
    return {choice("coords", &layerMapping_t::coords, "orco",
                   {{"uv", modulator_t::UV},
                    {"global", modulator_t::GLOBAL},
                    {"orco", modulator_t::ORCO},
                    {"window", modulator_t::AUX},
                    {"normal", modulator_t::NORMAL},
                    {"reflection", modulator_t::REFLECTION}},
                   "texture coordinates"),
            choice("projection", &layerMapping_t::projection, "flat",
                   {{"flat", modulator_t::FLAT},
                    {"cube", modulator_t::CUBE},
                    {"tube", modulator_t::TUBE},
                    {"sphere", modulator_t::SPHERE}},
                   "projection of images"),
            parsed("axes", &layerMapping_t::axes, "xyz", parseLayerAxes, "three letters from x, y, z and n",
                   "source axis of texture x, y and z, n for none"),
            point("size", &layerMapping_t::size, point3d_t(1, 1, 1), "scale of the texture coordinates"),
            point("offset", &layerMapping_t::offset, point3d_t(0, 0, 0), "offset of the texture coordinates"),
            integer("repeat_x", &layerMapping_t::repeatX, 1, range_t::atLeast(1), "image tiles across"),
            integer("repeat_y", &layerMapping_t::repeatY, 1, range_t::atLeast(1), "image tiles down"),
            choice("clip", &layerMapping_t::clip, "repeat",
                   {{"clamp", modulator_t::CLAMP},
                    {"clip", modulator_t::CLIP},
                    {"clipcube", modulator_t::CLIPCUBE},
                    {"repeat", modulator_t::NOCLIP}},
                   "image edges")};
}

/// A modulator of `texture` with the layer's mode and placement; all amounts
/// 0 (the shader sets the ones its layer acts on).
inline modulator_t layerModulator(const texture_t* texture, const layerMapping_t& l) {
    modulator_t m(texture);
    m.mode = l.mode;
    m.coordSource = l.coords;
    m.projection = l.projection;
    m.axisX = l.axes.axis[0];
    m.axisY = l.axes.axis[1];
    m.axisZ = l.axes.axis[2];
    m.sizeX = l.size.x;
    m.sizeY = l.size.y;
    m.sizeZ = l.size.z;
    m.offsetX = l.offset.x;
    m.offsetY = l.offset.y;
    m.offsetZ = l.offset.z;
    m.repeatX = l.repeatX;
    m.repeatY = l.repeatY;
    m.clipMode = l.clip;
    return m;
}

/// Reads layer `index` ("layer<index>_..."): false when the layer is absent
/// or its texture unknown (reported, unless the layer is simply absent).
/// On success `layer` holds the layer's settings (read with `params`, which
/// must not contain "texture") and `texture` the texture it names.
template <typename L>
bool readTextureLayer(paramReader_t& read, int index, const paramTable_t<L>& params,
                      const texture_t*& texture, L& layer) {
    const std::string prefix = "layer" + std::to_string(index) + "_";
    if (!read.has(prefix + "texture")) {
        if (params.anyPresent(read, prefix))
            read.warn("texture layer " + std::to_string(index) + " has settings but no \"" + prefix +
                      "texture\"; layer ignored");
        return false;
    }
    static const paramTable_t<layerMapping_t> textureParam = layerTextureParams(0);
    const std::string name = textureParam.read(read, prefix).texture;
    texture = name.empty() ? nullptr : read.pluginContext().findTexture(name);
    if (!texture) {
        read.warn("texture layer " + std::to_string(index) + ": there is no texture named \"" + name +
                  "\"; layer ignored");
        return false;
    }
    layer = params.read(read, prefix);
    layer.texture = name;
    return true;
}

} // namespace plugins
} // namespace vexlar

#endif
