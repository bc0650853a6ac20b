// Shader "generic": diffuse and specular reflection of lights, mirror
// reflection, refraction, emission and texture layers.
//
// | name           | kind   | default     | meaning                                                  |
// |----------------|--------|-------------|----------------------------------------------------------|
// | color          | color  | 0.8 0.8 0.8 | diffuse colour                                           |
// | diffuse        | float  | 1           | diffuse reflectivity, multiplies color (at least 0)      |
// | specular_color | color  | 0 0 0       | colour of highlights (black: none)                       |
// | hard           | float  | 50          | hardness (exponent) of highlights, 1 to 10000            |
// | specular_model | string | phong       | "phong" (reflected eye) or "blinn" (half vector)         |
// | mirror_color   | color  | 0 0 0       | weight of the mirrored ray (black: no mirror)            |
// | transmit_color | color  | 0 0 0       | weight of the refracted ray (black: opaque)              |
// | ior            | float  | 1.5         | index of refraction, greater than 0                      |
// | fresnel        | bool   | off         | scale mirror and transmission by the Fresnel terms of ior |
// | emit_color     | color  | 0 0 0       | light emitted by the surface itself                      |
// | layerN_...     |        |             | texture layer N = 1..8, see below                        |
//
// Lights: for energy E arriving from the unit direction L, with the unit
// eye direction V and the normal N turned towards the viewer, the surface
// sends diffuse * color * E * (N.L) when N.L > 0 (nothing otherwise) plus
// specular_color * E * s^hard, where s = max(0, R.L) with R = 2(N.V)N - V
// (phong) or s = max(0, N.H) with H = normalise(L + V) (blinn).
//
// Its own light (fromWorld): emit_color, plus the mirrored ray traced through
// the scene times mirror_color, plus the refracted ray (the library's refract
// with ior; rays leaving the inside of a surface use 1/ior automatically)
// times transmit_color. With fresnel on, the two weights are multiplied by
// the library's fresnel Kr and Kt. When the refracted ray does not exist
// (total internal reflection) its weight goes to the mirrored ray.
//
// Texture layers, applied in the order 1, 2, ... 8; a layer exists when its
// layerN_texture is set:
//
// | name              | kind   | default | meaning                                                  |
// |-------------------|--------|---------|----------------------------------------------------------|
// | layerN_texture    | string |         | name of a texture of the scene (required for the layer)  |
// | layerN_mode       | string | mix     | "mix", "multiply", "add" or "subtract"                   |
// | layerN_colfac     | float  | 1       | effect on the diffuse colour (0 to 1 for mix)            |
// | layerN_specfac    | float  | 0       | effect on the specular colour                            |
// | layerN_hardfac    | float  | 0       | effect on the hardness (intensity 1 stands for hard 255) |
// | layerN_bump       | float  | 0       | bump-mapping strength (negative: inverted)               |
// | layerN_coords     | string | orco    | "uv", "global", "orco", "window", "normal", "reflection" |
// | layerN_projection | string | flat    | for images: "flat", "cube", "tube", "sphere"             |
// | layerN_axes       | string | xyz     | source axis of texture x, y, z: letters x, y, z or n (none) |
// | layerN_size       | point  | 1 1 1   | scale of the texture coordinates                         |
// | layerN_offset     | point  | 0 0 0   | offset of the texture coordinates                        |
// | layerN_repeat_x   | int    | 1       | image tiles across (at least 1)                          |
// | layerN_repeat_y   | int    | 1       | image tiles down (at least 1)                            |
// | layerN_clip       | string | repeat  | image edges: "clamp", "clip", "clipcube" or "repeat"     |
//
// The layers act through the library's modulator_t: colfac, specfac and
// hardfac are its amountA, amountB and amountValue, bump its displaceAmount.
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "common/paramreader.h"
#include "vexlarcore/modulator.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/scene.h"
#include "vexlarcore/shader.h"

namespace {

using namespace vexlar;

constexpr int maxLayers = 8;
// Hardness travels through a modulator as a value in 0..1 of this scale.
constexpr float hardScale = 255.0f;

enum class specularModel_t { phong, blinn };

struct genericSettings_t {
    color_t color{0.8f, 0.8f, 0.8f};
    float diffuse = 1.0f;
    color_t specular{0, 0, 0};
    float hard = 50.0f;
    specularModel_t model = specularModel_t::phong;
    color_t mirror{0, 0, 0};
    color_t transmit{0, 0, 0};
    float ior = 1.5f;
    bool fresnel = false;
    color_t emit{0, 0, 0};
};

class genericShader_t : public shader_t {
public:
    genericShader_t(const genericSettings_t& s, std::vector<modulator_t> layers)
        : s(s), layers(std::move(layers)) {}

    color_t fromRadiosity(renderState_t&, const surfacePoint_t& sp, const energy_t& energy,
                          const vector3d_t& eye) const override {
        vector3d_t v = unit(eye);
        vector3d_t n = facingNormal(sp, v);
        float cosNL = n * energy.dir;
        if (cosNL <= 0.0f) return color_t(0, 0, 0);
        return surfaceAt(sp, v).diffuse * energy.color * cosNL;
    }

    color_t fromLight(renderState_t&, const surfacePoint_t& sp, const energy_t& energy,
                      const vector3d_t& eye) const override {
        vector3d_t v = unit(eye);
        vector3d_t n = facingNormal(sp, v);
        const vector3d_t& l = energy.dir;
        float cosNL = n * l;
        if (cosNL <= 0.0f) return color_t(0, 0, 0);
        surface_t surf = surfaceAt(sp, v);
        color_t col = surf.diffuse * energy.color * cosNL;
        if (!surf.specular.isBlack()) {
            float base;
            if (s.model == specularModel_t::phong) {
                vector3d_t r = (2.0f * (n * v)) * n - v;
                base = r * l;
            } else {
                vector3d_t h = l + v;
                h.normalize();
                base = n * h;
            }
            if (base > 0.0f) col += surf.specular * energy.color * std::pow(base, surf.hard);
        }
        return col;
    }

    color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& scene,
                      const vector3d_t& eye) const override {
        color_t col = s.emit;
        if (s.mirror.isBlack() && s.transmit.isBlack()) return col;
        vector3d_t v = unit(eye);
        float kr = 1.0f, kt = 1.0f;
        const vector3d_t normal = unit(sp.normal);
        if (s.fresnel) fresnel(v, normal, s.ior, kr, kt);
        color_t reflectWeight = s.mirror * kr;
        color_t transmitWeight = s.transmit * kt;
        if (!transmitWeight.isBlack()) {
            // refract picks the side from the sign of v.n: pass the normal
            // as the surface has it, not turned towards the viewer.
            vector3d_t t = refract(normal, v, s.ior);
            if (t.null())
                reflectWeight += transmitWeight;
            else
                col += transmitWeight * trace(state, scene, sp, t);
        }
        if (!reflectWeight.isBlack()) {
            vector3d_t n = facingNormal(sp, v);
            vector3d_t r = (2.0f * (n * v)) * n - v;
            r.normalize();
            col += reflectWeight * trace(state, scene, sp, r);
        }
        return col;
    }

    color_t getDiffuse(renderState_t&, const surfacePoint_t& sp, const vector3d_t& eye) const override {
        return surfaceAt(sp, unit(eye)).diffuse;
    }

    void displace(renderState_t&, surfacePoint_t& sp, const vector3d_t& eye,
                  float resolution) const override {
        for (const modulator_t& m : layers)
            if (m.displaceAmount != 0.0f) m.displace(sp, eye, resolution);
    }

    void getCaustics(renderState_t&, const surfacePoint_t&, const vector3d_t&, color_t& reflected,
                     color_t& transmitted, float& index) const override {
        reflected = s.mirror;
        transmitted = s.transmit;
        index = s.ior;
    }

private:
    struct surface_t {
        color_t diffuse;
        color_t specular;
        float hard;
    };

    static vector3d_t unit(const vector3d_t& v) {
        vector3d_t u = v;
        return u.normalize();
    }

    // The shading normal on the viewer's side of the surface.
    // Unit length even where the hit's normal is not (instances keep the
    // scale of their placement in the normals they report).
    static vector3d_t facingNormal(const surfacePoint_t& sp, const vector3d_t& v) {
        vector3d_t n = (sp.geometricNormal * v < 0.0f) ? -sp.normal : sp.normal;
        return n.normalize();
    }

    // Colours and hardness at sp after the texture layers.
    surface_t surfaceAt(const surfacePoint_t& sp, const vector3d_t& v) const {
        surface_t surf{s.color, s.specular, s.hard};
        if (!layers.empty()) {
            float h = s.hard / hardScale;
            for (const modulator_t& m : layers) m.modulate(surf.diffuse, surf.specular, h, sp, v);
            surf.hard = std::max(1.0f, h * hardScale);
        }
        surf.diffuse *= s.diffuse;
        return surf;
    }

    // A secondary ray from the surface. The element just hit is skipped by
    // the nearest-hit search (meshes honour it), so that the ray cannot find
    // its own starting triangle again through rounding.
    static color_t trace(renderState_t& state, const scene_t& scene, const surfacePoint_t& sp,
                         const vector3d_t& dir) {
        const void* savedSkip = state.skipElement;
        state.skipElement = sp.origin;
        color_t c = scene.raytrace(state, sp.point, dir);
        state.skipElement = savedSkip;
        return c;
    }

    genericSettings_t s;
    std::vector<modulator_t> layers;
};

const std::vector<std::string> modeNames{"mix", "multiply", "add", "subtract"};
const std::vector<std::string> coordNames{"uv", "global", "orco", "window", "normal", "reflection"};
const std::vector<std::string> projectionNames{"flat", "cube", "tube", "sphere"};
const std::vector<std::string> clipNames{"clamp", "clip", "clipcube", "repeat"};
const char* const layerKeys[] = {"texture",    "mode", "colfac", "specfac", "hardfac",  "bump",     "coords",
                                 "projection", "axes", "size",   "offset",  "repeat_x", "repeat_y", "clip"};

// "xyz" style axis selection: 1 x, 2 y, 3 z, 0 none.
bool parseAxes(const std::string& text, signed char out[3]) {
    if (text.size() != 3) return false;
    for (int i = 0; i < 3; ++i) {
        switch (text[static_cast<std::size_t>(i)]) {
        case 'x':
            out[i] = 1;
            break;
        case 'y':
            out[i] = 2;
            break;
        case 'z':
            out[i] = 3;
            break;
        case 'n':
            out[i] = 0;
            break;
        default:
            return false;
        }
    }
    return true;
}

// Reads layer `index`; false when the layer is absent or unusable (reported).
bool readLayer(plugins::paramReader_t& read, pluginContext_t& context, int index,
               std::vector<modulator_t>& layers) {
    const std::string prefix = "layer" + std::to_string(index) + "_";
    const std::string textureKey = prefix + "texture";
    if (!read.has(textureKey)) {
        for (const char* key : layerKeys) {
            if (read.has(prefix + key)) {
                read.warn("texture layer " + std::to_string(index) + " has settings but no \"" + textureKey +
                          "\"; layer ignored");
                break;
            }
        }
        return false;
    }
    std::string name = read.getString(textureKey, "");
    const texture_t* texture = name.empty() ? nullptr : context.findTexture(name);
    if (!texture) {
        read.warn("texture layer " + std::to_string(index) + ": there is no texture named \"" + name +
                  "\"; layer ignored");
        return false;
    }
    modulator_t m(texture);
    m.mode = read.getChoice(prefix + "mode", modeNames, 0);
    m.amountA = read.getFloat(prefix + "colfac", 1.0f);
    m.amountB = read.getFloat(prefix + "specfac", 0.0f);
    m.amountValue = read.getFloat(prefix + "hardfac", 0.0f);
    m.displaceAmount = read.getFloat(prefix + "bump", 0.0f);
    m.coordSource = read.getChoice(prefix + "coords", coordNames, 2);
    m.projection = read.getChoice(prefix + "projection", projectionNames, 0);
    signed char axes[3] = {1, 2, 3};
    std::string axesText = read.getString(prefix + "axes", "xyz");
    if (!parseAxes(axesText, axes)) {
        read.warn("setting \"" + prefix + "axes\" = \"" + axesText +
                  "\" should be three letters from x, y, z and n; using \"xyz\"");
        axes[0] = 1;
        axes[1] = 2;
        axes[2] = 3;
    }
    m.axisX = axes[0];
    m.axisY = axes[1];
    m.axisZ = axes[2];
    point3d_t size = read.getPoint(prefix + "size", point3d_t(1, 1, 1));
    m.sizeX = size.x;
    m.sizeY = size.y;
    m.sizeZ = size.z;
    point3d_t offset = read.getPoint(prefix + "offset", point3d_t(0, 0, 0));
    m.offsetX = offset.x;
    m.offsetY = offset.y;
    m.offsetZ = offset.z;
    m.repeatX = read.getInt(prefix + "repeat_x", 1, plugins::range_t::atLeast(1));
    m.repeatY = read.getInt(prefix + "repeat_y", 1, plugins::range_t::atLeast(1));
    m.clipMode = read.getChoice(prefix + "clip", clipNames, 3);
    layers.push_back(m);
    return true;
}

shader_t* makeGeneric(paramMap_t& params, pluginContext_t& context) {
    plugins::paramReader_t read(params, context);
    genericSettings_t s;
    s.color = read.getColor("color", s.color);
    s.diffuse = read.getFloat("diffuse", s.diffuse, plugins::range_t::atLeast(0));
    s.specular = read.getColor("specular_color", s.specular);
    s.hard = read.getFloat("hard", s.hard, plugins::range_t::between(1, 10000));
    s.model = read.getChoice("specular_model", {"phong", "blinn"}, 0) == 0 ? specularModel_t::phong
                                                                           : specularModel_t::blinn;
    s.mirror = read.getColor("mirror_color", s.mirror);
    s.transmit = read.getColor("transmit_color", s.transmit);
    s.ior = read.getFloat("ior", s.ior, plugins::range_t::above(0));
    s.fresnel = read.getBool("fresnel", s.fresnel);
    s.emit = read.getColor("emit_color", s.emit);
    std::vector<modulator_t> layers;
    for (int i = 1; i <= maxLayers; ++i) readLayer(read, context, i, layers);
    return new genericShader_t(s, std::move(layers));
}

std::vector<pluginParam_t> genericParams() {
    std::vector<pluginParam_t> t{
        {"color", "color", "0.8 0.8 0.8", "diffuse colour"},
        {"diffuse", "float", "1", "diffuse reflectivity, multiplies color (at least 0)"},
        {"specular_color", "color", "0 0 0", "colour of highlights (black: none)"},
        {"hard", "float", "50", "hardness (exponent) of highlights, 1 to 10000"},
        {"specular_model", "string", "phong", "\"phong\" (reflected eye) or \"blinn\" (half vector)"},
        {"mirror_color", "color", "0 0 0", "weight of the mirrored ray (black: no mirror)"},
        {"transmit_color", "color", "0 0 0", "weight of the refracted ray (black: opaque)"},
        {"ior", "float", "1.5", "index of refraction, greater than 0"},
        {"fresnel", "bool", "off", "scale mirror and transmission by the Fresnel terms of ior"},
        {"emit_color", "color", "0 0 0", "light emitted by the surface itself"},
        {"layerN_texture", "string", "", "texture layer N = 1..8: name of a texture of the scene"},
        {"layerN_mode", "string", "mix", "\"mix\", \"multiply\", \"add\" or \"subtract\""},
        {"layerN_colfac", "float", "1", "effect on the diffuse colour"},
        {"layerN_specfac", "float", "0", "effect on the specular colour"},
        {"layerN_hardfac", "float", "0", "effect on the hardness (intensity 1 stands for 255)"},
        {"layerN_bump", "float", "0", "bump-mapping strength (negative: inverted)"},
        {"layerN_coords", "string", "orco",
         "\"uv\", \"global\", \"orco\", \"window\", \"normal\", \"reflection\""},
        {"layerN_projection", "string", "flat", "for images: \"flat\", \"cube\", \"tube\" or \"sphere\""},
        {"layerN_axes", "string", "xyz", "source axis of texture x, y, z: x, y, z or n (none)"},
        {"layerN_size", "point", "1 1 1", "scale of the texture coordinates"},
        {"layerN_offset", "point", "0 0 0", "offset of the texture coordinates"},
        {"layerN_repeat_x", "int", "1", "image tiles across (at least 1)"},
        {"layerN_repeat_y", "int", "1", "image tiles down (at least 1)"},
        {"layerN_clip", "string", "repeat", "image edges: \"clamp\", \"clip\", \"clipcube\" or \"repeat\""}};
    return t;
}

void registerAll(pluginRegistry_t& registry) {
    registry.registerShader("generic", makeGeneric, genericParams(),
                            "diffuse, specular, mirror, glass and emission, with texture layers");
}

} // namespace

VEXLAR_PLUGIN("shader_generic", registerAll)
