// Shader "generic": diffuse and specular reflection of lights, mirror
// reflection, refraction, emission and texture layers. Its settings:
// `vexlar --list-plugins`, docs/scene-format.md.
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
// Texture layers layerN_... (N = 1, 2, ..., maxLayers) are applied in order;
// a layer exists when its layerN_texture is set. They act through the
// library's modulator_t: colfac, specfac and hardfac are its amountA,
// amountB and amountValue, bump its displaceAmount.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "vexlarcore/modulator.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/scene.h"
#include "vexlarcore/shader.h"
#include "vexlarplugin/params.h"

namespace {

using namespace vexlar;

constexpr int maxLayers = 8;
// Hardness travels through a modulator as a value in 0..1 of this scale.
constexpr float hardScale = 255.0f;

enum class specularModel_t { phong, blinn };

struct genericSettings_t {
    color_t color;
    float diffuse;
    color_t specular;
    float hard;
    specularModel_t model;
    color_t mirror;
    color_t transmit;
    float ior;
    bool fresnel;
    color_t emit;
};

const plugins::paramTable_t<genericSettings_t> genericParams{
    plugins::color("color", &genericSettings_t::color, color_t(0.8f, 0.8f, 0.8f), "diffuse colour"),
    plugins::number("diffuse", &genericSettings_t::diffuse, 1.0f, plugins::range_t::atLeast(0),
                    "diffuse reflectivity, multiplies color"),
    plugins::color("specular_color", &genericSettings_t::specular, color_t(0, 0, 0),
                   "colour of highlights (black: none)"),
    plugins::number("hard", &genericSettings_t::hard, 50.0f, plugins::range_t::between(1, 10000),
                    "hardness (exponent) of highlights"),
    plugins::choice("specular_model", &genericSettings_t::model, "phong",
                    {{"phong", specularModel_t::phong}, {"blinn", specularModel_t::blinn}},
                    "how highlights are computed: phong reflects the eye ray, blinn uses the half vector"),
    plugins::color("mirror_color", &genericSettings_t::mirror, color_t(0, 0, 0),
                   "weight of the mirrored ray (black: no mirror)"),
    plugins::color("transmit_color", &genericSettings_t::transmit, color_t(0, 0, 0),
                   "weight of the refracted ray (black: opaque)"),
    plugins::number("ior", &genericSettings_t::ior, 1.5f, plugins::range_t::above(0), "index of refraction"),
    plugins::flag("fresnel", &genericSettings_t::fresnel, false,
                  "scale mirror and transmission by the Fresnel terms of ior"),
    plugins::color("emit_color", &genericSettings_t::emit, color_t(0, 0, 0),
                   "light emitted by the surface itself")};

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

// "xyz" style axis selection: 1 x, 2 y, 3 z, 0 none.
struct axes_t {
    signed char axis[3];
};

bool parseAxes(const std::string& text, axes_t& out) {
    if (text.size() != 3) return false;
    for (std::size_t i = 0; i < 3; ++i) {
        const char* letters = "nxyz";
        const char* at = text[i] ? std::strchr(letters, text[i]) : nullptr;
        if (!at) return false;
        out.axis[i] = static_cast<signed char>(at - letters);
    }
    return true;
}

// One texture layer, read under the prefix "layer<N>_".
struct layerSettings_t {
    std::string texture;
    int mode;
    float colfac, specfac, hardfac, bump;
    int coords, projection;
    axes_t axes;
    point3d_t size, offset;
    int repeatX, repeatY;
    int clip;
};

// The texture is read alone first: a layer without one is not read further.
const plugins::paramTable_t<layerSettings_t> layerTextureParam{
    plugins::text("texture", &layerSettings_t::texture,
                  "texture layer N = 1.." + std::to_string(maxLayers) + ": name of a texture of the scene")};

const plugins::paramTable_t<layerSettings_t> layerParams{
    plugins::choice("mode", &layerSettings_t::mode, "mix",
                    {{"mix", modulator_t::MIX},
                     {"multiply", modulator_t::MULTIPLY},
                     {"add", modulator_t::ADD},
                     {"subtract", modulator_t::SUBTRACT}},
                    "how the texture blends in"),
    plugins::number("colfac", &layerSettings_t::colfac, 1.0f, "effect on the diffuse colour"),
    plugins::number("specfac", &layerSettings_t::specfac, 0.0f, "effect on the specular colour"),
    plugins::number("hardfac", &layerSettings_t::hardfac, 0.0f,
                    "effect on the hardness (intensity 1 stands for 255)"),
    plugins::number("bump", &layerSettings_t::bump, 0.0f, "bump-mapping strength (negative: inverted)"),
    plugins::choice("coords", &layerSettings_t::coords, "orco",
                    {{"uv", modulator_t::UV},
                     {"global", modulator_t::GLOBAL},
                     {"orco", modulator_t::ORCO},
                     {"window", modulator_t::AUX},
                     {"normal", modulator_t::NORMAL},
                     {"reflection", modulator_t::REFLECTION}},
                    "texture coordinates"),
    plugins::choice("projection", &layerSettings_t::projection, "flat",
                    {{"flat", modulator_t::FLAT},
                     {"cube", modulator_t::CUBE},
                     {"tube", modulator_t::TUBE},
                     {"sphere", modulator_t::SPHERE}},
                    "projection of images"),
    plugins::parsed("axes", &layerSettings_t::axes, "xyz", parseAxes, "three letters from x, y, z and n",
                    "source axis of texture x, y and z, n for none"),
    plugins::point("size", &layerSettings_t::size, point3d_t(1, 1, 1), "scale of the texture coordinates"),
    plugins::point("offset", &layerSettings_t::offset, point3d_t(0, 0, 0),
                   "offset of the texture coordinates"),
    plugins::integer("repeat_x", &layerSettings_t::repeatX, 1, plugins::range_t::atLeast(1),
                     "image tiles across"),
    plugins::integer("repeat_y", &layerSettings_t::repeatY, 1, plugins::range_t::atLeast(1),
                     "image tiles down"),
    plugins::choice("clip", &layerSettings_t::clip, "repeat",
                    {{"clamp", modulator_t::CLAMP},
                     {"clip", modulator_t::CLIP},
                     {"clipcube", modulator_t::CLIPCUBE},
                     {"repeat", modulator_t::NOCLIP}},
                    "image edges")};

// Reads layer `index`; false when the layer is absent or unusable (reported).
bool readLayer(plugins::paramReader_t& read, int index, std::vector<modulator_t>& layers) {
    const std::string prefix = "layer" + std::to_string(index) + "_";
    if (!read.has(prefix + "texture")) {
        if (layerParams.anyPresent(read, prefix))
            read.warn("texture layer " + std::to_string(index) + " has settings but no \"" + prefix +
                      "texture\"; layer ignored");
        return false;
    }
    const std::string name = layerTextureParam.read(read, prefix).texture;
    const texture_t* texture = name.empty() ? nullptr : read.pluginContext().findTexture(name);
    if (!texture) {
        read.warn("texture layer " + std::to_string(index) + ": there is no texture named \"" + name +
                  "\"; layer ignored");
        return false;
    }
    const layerSettings_t l = layerParams.read(read, prefix);
    modulator_t m(texture);
    m.mode = l.mode;
    m.amountA = l.colfac;
    m.amountB = l.specfac;
    m.amountValue = l.hardfac;
    m.displaceAmount = l.bump;
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
    layers.push_back(m);
    return true;
}

shader_t* makeGeneric(paramMap_t& params, pluginContext_t& context) {
    plugins::paramReader_t read(params, context);
    const genericSettings_t s = genericParams.read(read);
    std::vector<modulator_t> layers;
    for (int i = 1; i <= maxLayers; ++i) readLayer(read, i, layers);
    return new genericShader_t(s, std::move(layers));
}

void registerAll(pluginRegistry_t& registry) {
    std::vector<pluginParam_t> rows = genericParams.rows();
    for (const auto& table : {layerTextureParam, layerParams})
        for (const pluginParam_t& row : table.rows("layerN_")) rows.push_back(row);
    registry.registerShader("generic", makeGeneric, rows,
                            "diffuse, specular, mirror, glass and emission, with texture layers");
}

} // namespace

VEXLAR_PLUGIN("shader_generic", registerAll)
