// Test modules for the plug-in manager. One source, built once per
// FIXTURE_KIND, each build a module with a different fault (or none).
#include <stdexcept>

#include "vexlarcore/background.h"
#include "vexlarcore/light.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/params.h"
#include "vexlarcore/plugin.h"
#include "vexlarcore/shader.h"
#include "vexlarcore/texture.h"

namespace {

using namespace vexlar;

enum kind_t { good = 1, duplicate, throws, badVersion, noEntry, nullInfo, noRegister, badNames };
constexpr int kind = FIXTURE_KIND;

// A shader whose colour says which module made it.
class fixtureShader_t : public shaderNode_t {
public:
    explicit fixtureShader_t(float v) : value(v) {}
    color_t getDiffuse(renderState_t&, const surfacePoint_t&, const vector3d_t&) const override {
        return color_t(value, value, value);
    }
    float value;
};

class fixtureLight_t : public light_t {
public:
    color_t illuminate(renderState_t&, const scene_t&, surfacePoint_t, const vector3d_t&) const override {
        return color_t(0.25f, 0.5f, 0.75f);
    }
};

class fixtureTexture_t : public texture_t {
public:
    colorA_t colorAt(const point3d_t& p) const override { return colorA_t(p.x, p.y, p.z, 1.0f); }
    float floatAt(const point3d_t& p) const override { return p.x; }
};

class fixtureBackground_t : public background_t {
public:
    explicit fixtureBackground_t(const color_t& c) : color(c) {}
    color_t lookup(const vector3d_t&, renderState_t&) const override { return color; }
    color_t color;
};

shader_t* makeShader(paramMap_t& params, pluginContext_t&) {
    float v = FIXTURE_KIND;
    params.getParam("value", v);
    return new fixtureShader_t(v);
}
shader_t* makeThrowingShader(paramMap_t&, pluginContext_t&) {
    throw std::runtime_error("boom");
}
shader_t* makeNullShader(paramMap_t&, pluginContext_t& context) {
    context.warn("no can do");
    return nullptr;
}
// A factory of a type without settings.
template <class base_t, class made_t> base_t* make(paramMap_t&, pluginContext_t&) {
    return new made_t();
}
background_t* makeBackground(paramMap_t& params, pluginContext_t&) {
    color_t c(0, 0, 0);
    params.getParam("color", c);
    return new fixtureBackground_t(c);
}

[[maybe_unused]] void registerAll(pluginRegistry_t& registry) {
    if constexpr (kind == good) {
        registry.registerShader("fx_shader", makeShader, {{"value", "float", "1", "grey level"}},
                                "test shader");
        registry.registerShader("fx_throws", makeThrowingShader, {}, "factory throws");
        registry.registerShader("fx_null", makeNullShader, {}, "factory fails");
        registry.registerLight("fx_light", make<light_t, fixtureLight_t>, {}, "test light");
        registry.registerTexture("fx_texture", make<texture_t, fixtureTexture_t>, {}, "test texture");
        registry.registerBackground(
            "fx_background", makeBackground,
            {{"color", "color", "0 0 0", "the colour"}, {"file", "string", "", "needed"}}, "test background");
    } else if constexpr (kind == duplicate) {
        registry.registerShader("fx_shader", makeShader, {}, "same name as in the good module");
        registry.registerTexture("fx_twice", make<texture_t, fixtureTexture_t>, {}, "first");
        registry.registerTexture("fx_twice", make<texture_t, fixtureTexture_t>, {}, "second");
        registry.registerBackground("fx_dup_ok", makeBackground, {}, "fine");
    } else if constexpr (kind == throws) {
        registry.registerShader("fx_partial", makeShader, {}, "registered before the failure");
        throw std::runtime_error("out of paint");
    } else if constexpr (kind == badVersion) {
        registry.registerShader("fx_badversion", makeShader, {}, "must never be registered");
    } else if constexpr (kind == badNames) {
        registry.registerShader("", makeShader, {}, "no name");
        registry.registerLight("fx_nofactory", nullptr, {}, "no factory");
    }
}

} // namespace

// One entry point for all but the module without one; the faulty kinds
// announce another interface version, no information or no registration.
#if FIXTURE_KIND != 5 // noEntry
extern "C" VEXLAR_PLUGIN_VISIBLE const vexlar::vexlarPluginInfo_t* vexlarPluginEntry() {
    static const vexlar::vexlarPluginInfo_t info = {vexlar::pluginInterfaceVersion +
                                                        (kind == badVersion ? 98 : 0),
                                                    "fixture", kind == noRegister ? nullptr : registerAll};
    return kind == nullInfo ? nullptr : &info;
}
#endif
