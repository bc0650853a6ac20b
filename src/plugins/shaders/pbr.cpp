// Shader "pbr": the physically based material of glTF and of modelling
// programs: base colour, metallic, roughness, specular, transmission with an
// index of refraction, emission, and texture layers for them and for the
// normal. Its settings: `vexlar --list-plugins`, docs/scene-format.md.
//
// The surface is a mix, by `metallic`, of a metal and a dielectric. With the
// unit eye direction V, the normal N turned towards it and c = N.V:
//   - the metal mirrors F_m = base + (1 - base)(1 - c)^5 (Schlick, the base
//     colour as the reflectance at normal incidence);
//   - the dielectric mirrors F_d and passes on 1 - F_d: the part
//     `transmission` of that is refracted with `ior` (tinted by the base
//     colour), the rest is diffuse, base colour * (1 - F_d). F_d is
//     Schlick's curve with F0 = ((ior - 1) / (ior + 1))^2 * specular / 0.5,
//     or, with fresnel "exact", the library's dielectric Fresnel term of the
//     index whose normal reflectance is that F0 (inside the surface the
//     inverse index, which gives total reflection where there is no
//     refracted ray). specular 0.5 is the reflectance of the ior itself.
// The weights sum to 1 for a white base colour: the surface neither makes
// nor loses light (a white furnace sees it as the background).
//
// Roughness spreads mirrored and refracted light into the lobe of scatter.h
// around the ideal direction, with exponent k = 0.5 / r^4 - 0.5 for
// roughness r (k = 0 at r = 1, a hemisphere; r = 0 is a perfect mirror). The
// shader traces `samples` rays into the lobe at camera hits (one deeper
// down, and one when r = 0), on a Hammersley set rotated by random numbers
// seeded by the point's position; rays that would enter the surface are
// mirrored back across it. Below camera hits only one of the mirrored and
// the refracted ray goes on, chosen at random in proportion to the weights'
// energies and weighted back, so that glass does not branch at every level. Lights (fromLight) give the
// diffuse part base * (1 - F_d) * E * (N.L) and a highlight mirror-weight * E * pi * lobe density towards L,
// the same light the traced rays would see from a small source there; light through fromRadiosity (sky,
// photon maps) is diffuse only, since the traced rays see the background themselves. Indirect light gathered
// by the library multiplies the diffuse weight (getDiffuse).
//
// Texture layers layerN_... act on `target`: the base colour ("color"),
// roughness or metallic (the texture's intensity), "bump" (height, the
// library's bump mapping with strength amount) or "normal" (a tangent-space
// normal map: red, green, blue 0..1 are x, y, z -1..1 along the directions
// of increasing u, of decreasing v, and the normal, the convention of glTF
// and Blender; blended with the surface normal by amount).
//
// Photon lights see the same split (scatter.h).
#include <algorithm>
#include <cmath>
#include <vector>

#include "vexlarcore/hashrandom.h"
#include "vexlarcore/modulator.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/scatter.h"
#include "vexlarcore/scene.h"
#include "vexlarcore/shader.h"
#include "vexlarcore/texture.h"
#include "vexlarplugin/params.h"
#include "vexlarplugin/texturelayers.h"

namespace {

using namespace vexlar;

constexpr int maxLayers = 8;
constexpr float pi = 3.14159265358979f;
constexpr std::uint64_t pbrSalt = 0x706272u; // "pbr"

enum class fresnelModel_t { schlick, exact };
enum class target_t { color, roughness, metallic, bump, normal };

struct pbrSettings_t {
    color_t base;
    float metallic;
    float roughness;
    float specular;
    fresnelModel_t fresnel;
    float transmission;
    float ior;
    color_t emission;
    int samples;
};

const plugins::paramTable_t<pbrSettings_t> pbrParams{
    plugins::color("base_color", &pbrSettings_t::base, color_t(0.8f, 0.8f, 0.8f),
                   "colour of the diffuse part, of metal reflections and of transmitted light"),
    plugins::number("metallic", &pbrSettings_t::metallic, 0.0f, plugins::range_t::between(0, 1),
                    "0 dielectric, 1 metal"),
    plugins::number("roughness", &pbrSettings_t::roughness, 0.5f, plugins::range_t::between(0, 1),
                    "0 a perfect mirror, 1 reflections spread over the hemisphere"),
    plugins::number("specular", &pbrSettings_t::specular, 0.5f, plugins::range_t::between(0, 1),
                    "dielectric reflectance, 0.5 being that of the ior"),
    plugins::choice("fresnel", &pbrSettings_t::fresnel, "schlick",
                    {{"schlick", fresnelModel_t::schlick}, {"exact", fresnelModel_t::exact}},
                    "dielectric Fresnel term: Schlick's curve or the exact formula"),
    plugins::number("transmission", &pbrSettings_t::transmission, 0.0f, plugins::range_t::between(0, 1),
                    "part of the dielectric's non-reflected light that is refracted (glass: 1)"),
    plugins::number("ior", &pbrSettings_t::ior, 1.5f, plugins::range_t{1, 10, false, false},
                    "index of refraction"),
    plugins::color("emission_color", &pbrSettings_t::emission, color_t(0, 0, 0), "light emitted (radiance)"),
    plugins::integer("samples", &pbrSettings_t::samples, 8, plugins::range_t::between(1, 1024),
                     "rays into rough reflections and refractions at camera hits")};

struct pbrLayer_t : plugins::layerMapping_t {
    target_t target;
    float amount;
};

const plugins::paramTable_t<pbrLayer_t> layerParams{
    plugins::choice("target", &pbrLayer_t::target, "color",
                    {{"color", target_t::color},
                     {"roughness", target_t::roughness},
                     {"metallic", target_t::metallic},
                     {"bump", target_t::bump},
                     {"normal", target_t::normal}},
                    "what the texture acts on"),
    plugins::number("amount", &pbrLayer_t::amount, 1.0f,
                    "strength of the layer (for bump, negative inverts)"),
    plugins::layerModeParams(), plugins::layerPlacementParams()};

struct layer_t {
    target_t target;
    float amount;
    modulator_t modulator;
};

// The surface at a point, after the texture layers.
struct surface_t {
    color_t base;
    float metallic, roughness;
};

// Where the light arriving or leaving along V goes.
struct lobes_t {
    color_t diffuse, mirror, transmit;
    float exponent; // < 0: the ideal directions
};

vector3d_t unit(vector3d_t v) {
    return v.normalize();
}

float clamp01(float v) {
    return std::min(1.0f, std::max(0.0f, v));
}

float lobeExponent(float roughness) {
    if (!(roughness > 0.0f)) return -1.0f;
    const float a2 = roughness * roughness * roughness * roughness;
    return std::min(1e7f, 0.5f / a2 - 0.5f);
}

class pbrShader_t : public shader_t, public scatteringShader_t {
public:
    pbrShader_t(const pbrSettings_t& s, std::vector<layer_t> layers) : s(s), layers(std::move(layers)) {
        const double r = (s.ior - 1.0) / (s.ior + 1.0);
        f0 = std::min(0.999, r * r * s.specular / 0.5);
        const double q = std::sqrt(f0);
        iorF = static_cast<float>((1.0 + q) / (1.0 - q));
    }

    color_t fromRadiosity(renderState_t&, const surfacePoint_t& sp, const energy_t& energy,
                          const vector3d_t& eye) const override {
        const vector3d_t v = unit(eye), n = facingNormal(sp, v);
        const float cosL = n * energy.dir;
        if (!(cosL > 0.0f)) return color_t(0, 0, 0);
        return lobesAt(surfaceAt(sp, v), sp, n, v).diffuse * energy.color * cosL;
    }

    color_t fromLight(renderState_t&, const surfacePoint_t& sp, const energy_t& energy,
                      const vector3d_t& eye) const override {
        const vector3d_t v = unit(eye), n = facingNormal(sp, v);
        const float cosL = n * energy.dir;
        if (!(cosL > 0.0f)) return color_t(0, 0, 0);
        const lobes_t l = lobesAt(surfaceAt(sp, v), sp, n, v);
        color_t col = l.diffuse * energy.color * cosL;
        if (l.exponent >= 0.0f && !l.mirror.isBlack())
            col += l.mirror * energy.color * (pi * lobeDensity(mirrored(v, n), l.exponent, energy.dir));
        return col;
    }

    color_t fromWorld(renderState_t& state, const surfacePoint_t& sp, const scene_t& scene,
                      const vector3d_t& eye) const override {
        color_t col = s.emission;
        const vector3d_t v = unit(eye), n = facingNormal(sp, v);
        const lobes_t l = lobesAt(surfaceAt(sp, v), sp, n, v);
        color_t mirrorWeight = l.mirror, transmitWeight = l.transmit;
        const vector3d_t ng = unit(sp.geometricNormal) * ((sp.geometricNormal * v) < 0.0f ? -1.0f : 1.0f);
        const vector3d_t t =
            transmitWeight.isBlack() ? vector3d_t(0, 0, 0) : refract(unit(sp.normal), v, s.ior);
        if (t.null()) { // opaque, or total internal reflection
            mirrorWeight += transmitWeight;
            transmitWeight = color_t(0, 0, 0);
        }
        // Below the camera one ray goes on, mirrored or refracted by the
        // weights' energies, so that glass does not branch at every level.
        if (state.rayLevel > 0 && !mirrorWeight.isBlack() && !transmitWeight.isBlack()) {
            const float pm = mirrorWeight.energy() / (mirrorWeight.energy() + transmitWeight.energy());
            if (hashRandom_t::at(sp.point, pbrSalt + 1).next() < pm) {
                mirrorWeight = mirrorWeight / pm;
                transmitWeight = color_t(0, 0, 0);
            } else {
                transmitWeight = transmitWeight / (1.0f - pm);
                mirrorWeight = color_t(0, 0, 0);
            }
        }
        if (!transmitWeight.isBlack())
            col += transmitWeight * traceLobe(state, scene, sp, t, l.exponent, ng, -1.0f);
        if (!mirrorWeight.isBlack())
            col += mirrorWeight * traceLobe(state, scene, sp, mirrored(v, n), l.exponent, ng, 1.0f);
        return col;
    }

    color_t getDiffuse(renderState_t&, const surfacePoint_t& sp, const vector3d_t& eye) const override {
        const vector3d_t v = unit(eye);
        return lobesAt(surfaceAt(sp, v), sp, facingNormal(sp, v), v).diffuse;
    }

    void displace(renderState_t&, surfacePoint_t& sp, const vector3d_t& eye,
                  float resolution) const override {
        for (const layer_t& layer : layers) {
            if (layer.target == target_t::bump && layer.amount != 0.0f)
                layer.modulator.displace(sp, eye, resolution);
            else if (layer.target == target_t::normal)
                applyNormalMap(layer, sp, eye);
        }
    }

    surfaceSplit_t split(renderState_t&, const surfacePoint_t& sp, const vector3d_t& from) const override {
        const vector3d_t n = facingNormal(sp, from);
        const lobes_t l = lobesAt(surfaceAt(sp, from), sp, n, from);
        surfaceSplit_t out;
        out.diffuse = l.diffuse;
        out.reflected = l.mirror;
        out.transmitted = l.transmit;
        out.ior = s.ior;
        out.lobeExponent = l.exponent;
        return out;
    }

    // Opaque dielectrics mirror only a few percent away from grazing angles:
    // caustic photons are not aimed at them.
    bool mayScatterSpecularly() const override {
        bool metalLayer = false;
        for (const layer_t& layer : layers) metalLayer = metalLayer || layer.target == target_t::metallic;
        return s.metallic > 0.0f || s.transmission > 0.0f || metalLayer;
    }

private:
    static vector3d_t facingNormal(const surfacePoint_t& sp, const vector3d_t& v) {
        vector3d_t n = (sp.geometricNormal * v < 0.0f) ? -sp.normal : sp.normal;
        return n.normalize();
    }

    static vector3d_t mirrored(const vector3d_t& v, const vector3d_t& n) {
        return unit((2.0f * (n * v)) * n - v);
    }

    surface_t surfaceAt(const surfacePoint_t& sp, const vector3d_t& v) const {
        surface_t surf{s.base, s.metallic, s.roughness};
        color_t unusedA, unusedB;
        float unusedValue = 0.0f;
        for (const layer_t& layer : layers) {
            switch (layer.target) {
            case target_t::color:
                layer.modulator.modulate(surf.base, unusedA, unusedValue, sp, v);
                break;
            case target_t::roughness:
                layer.modulator.modulate(unusedA, unusedB, surf.roughness, sp, v);
                break;
            case target_t::metallic:
                layer.modulator.modulate(unusedA, unusedB, surf.metallic, sp, v);
                break;
            default:
                break;
            }
        }
        surf.metallic = clamp01(surf.metallic);
        surf.roughness = clamp01(surf.roughness);
        return surf;
    }

    float dielectricFresnel(const surfacePoint_t& sp, const vector3d_t& n, const vector3d_t& v) const {
        if (s.fresnel == fresnelModel_t::schlick) {
            const float m = 1.0f - clamp01(n * v);
            return static_cast<float>(f0 + (1.0 - f0) * m * m * m * m * m);
        }
        const vector3d_t outward = unit(sp.normal);
        float kr = 0.0f, kt = 1.0f;
        fresnel(v, outward, (v * outward) >= 0.0f ? iorF : 1.0f / iorF, kr, kt);
        return clamp01(kr);
    }

    lobes_t lobesAt(const surface_t& surf, const surfacePoint_t& sp, const vector3d_t& n,
                    const vector3d_t& v) const {
        const float m = 1.0f - clamp01(n * v), m5 = m * m * m * m * m;
        const color_t white(1, 1, 1);
        const color_t fMetal = surf.base + (white - surf.base) * m5;
        const float fd = dielectricFresnel(sp, n, v);
        const float dielectric = 1.0f - surf.metallic;
        lobes_t l;
        l.mirror = fMetal * surf.metallic + white * (dielectric * fd);
        l.transmit = surf.base * (dielectric * (1.0f - fd) * s.transmission);
        l.diffuse = surf.base * (dielectric * (1.0f - fd) * (1.0f - s.transmission));
        l.exponent = lobeExponent(surf.roughness);
        return l;
    }

    // The mean colour of rays into the lobe of exponent k around `axis`,
    // kept on side `side` of the geometric normal `ng` (towards the viewer).
    color_t traceLobe(renderState_t& state, const scene_t& scene, const surfacePoint_t& sp,
                      const vector3d_t& axis, float k, const vector3d_t& ng, float side) const {
        const int n = (k < 0.0f || state.rayLevel > 0) ? 1 : s.samples;
        const point3d_t from = offsetFrom(sp.point, ng * side);
        if (n == 1 && k < 0.0f) return trace(state, scene, sp, from, unit(keepOnSide(axis, ng, side)));
        hashRandom_t random = hashRandom_t::at(sp.point, pbrSalt);
        const float shift1 = random.next(), shift2 = random.next();
        color_t sum(0, 0, 0);
        for (int i = 0; i < n; ++i) {
            float z1 = (static_cast<float>(i) + shift1) / static_cast<float>(n);
            float z2 = static_cast<float>(radicalInverseOf(static_cast<std::uint64_t>(i), 2)) + shift2;
            if (z2 >= 1.0f) z2 -= 1.0f;
            const vector3d_t d = unit(keepOnSide(sampleLobe(axis, k, z1, z2), ng, side));
            sum += trace(state, scene, sp, from, d);
        }
        return sum / static_cast<float>(n);
    }

    // The start of secondary rays: a little off the surface on the side they
    // leave to, so that a ray close to the tangent plane cannot hit a curved
    // surface (a sphere) again at the rounding error of its own hit point.
    static point3d_t offsetFrom(const point3d_t& p, const vector3d_t& away) {
        const float scale = std::max({1.0f, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
        return p + (1e-5f * scale) * away;
    }

    // A secondary ray from the surface that cannot find its own starting
    // triangle again through rounding.
    static color_t trace(renderState_t& state, const scene_t& scene, const surfacePoint_t& sp,
                         const point3d_t& from, const vector3d_t& dir) {
        const void* savedSkip = state.skipElement;
        state.skipElement = sp.origin;
        color_t c = scene.raytrace(state, from, dir);
        state.skipElement = savedSkip;
        return c;
    }

    // Tangent-space normal map: the frame follows the texture coordinates
    // where the surface has them, else the point's tangents.
    static void applyNormalMap(const layer_t& layer, surfacePoint_t& sp, const vector3d_t& eye) {
        point3d_t texpt(0, 0, 0);
        if (layer.modulator.doMapping(sp, eye, texpt)) return;
        const colorA_t c = layer.modulator.texture->colorAt(texpt);
        vector3d_t t = sp.tangentU, b = sp.tangentV;
        if (sp.hasUV) {
            vector3d_t du = sp.dudNU * sp.tangentU + sp.dudNV * sp.tangentV;
            vector3d_t dv = sp.dvdNU * sp.tangentU + sp.dvdNV * sp.tangentV;
            if (du.lengthSqr() > 0.0f && dv.lengthSqr() > 0.0f) {
                t = unit(du);
                b = -unit(dv);
            }
        }
        const vector3d_t n = unit(sp.normal);
        const vector3d_t mapped = (2.0f * c.R - 1.0f) * t + (2.0f * c.G - 1.0f) * b + (2.0f * c.B - 1.0f) * n;
        const vector3d_t blended = layer.amount * mapped + (1.0f - layer.amount) * n;
        if (blended.lengthSqr() > 0.0f) sp.normal = unit(blended);
    }

    pbrSettings_t s;
    std::vector<layer_t> layers;
    double f0;
    float iorF;
};

shader_t* makePbr(paramMap_t& params, pluginContext_t& context) {
    plugins::paramReader_t read(params, context);
    const pbrSettings_t s = pbrParams.read(read);
    std::vector<layer_t> layers;
    for (int i = 1; i <= maxLayers; ++i) {
        const texture_t* texture = nullptr;
        pbrLayer_t l;
        if (!plugins::readTextureLayer(read, i, layerParams, texture, l)) continue;
        modulator_t m = plugins::layerModulator(texture, l);
        if (l.target == target_t::color) m.amountA = l.amount;
        if (l.target == target_t::roughness || l.target == target_t::metallic) m.amountValue = l.amount;
        if (l.target == target_t::bump) m.displaceAmount = l.amount;
        layers.push_back({l.target, l.amount, m});
    }
    return new pbrShader_t(s, std::move(layers));
}

void registerAll(pluginRegistry_t& registry) {
    std::vector<pluginParam_t> rows = pbrParams.rows();
    for (const pluginParam_t& row : plugins::layerTextureParams(maxLayers).rows("layerN_"))
        rows.push_back(row);
    for (const pluginParam_t& row : layerParams.rows("layerN_")) rows.push_back(row);
    registry.registerShader("pbr", makePbr, rows,
                            "physically based: base colour, metallic, roughness, transmission, emission");
}

} // namespace

VEXLAR_PLUGIN("shader_pbr", registerAll)
