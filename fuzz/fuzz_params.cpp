// libFuzzer target for the standard plug-ins' factories: the input picks a
// type and fills its parameter map with settings of any kind and value
// (names mostly from the type's own table, values raw floats, NaN and
// infinities included, strings from a small vocabulary or raw bytes). The
// factory must build the object or refuse it, never crash; textures built
// are sampled at a few points.
#include "fuzz_support.h"
#include "vexlarcore/background.h"
#include "vexlarcore/light.h"
#include "vexlarcore/params.h"
#include "vexlarcore/pluginregistry.h"
#include "vexlarcore/shader.h"
#include "vexlarcore/texture.h"

#include <cstring>
#include <memory>
#include <sstream>

namespace {

using namespace vexlar;

// Serves one texture, "tex", and resolves names in the scratch folder,
// where a small picture lies as "picture.tga".
class context_t : public pluginContext_t {
public:
    scene_t* scene() override { return nullptr; }
    texture_t* findTexture(const std::string& name) override { return name == "tex" ? texture : nullptr; }
    shader_t* findShader(const std::string&) override { return nullptr; }
    std::string resolvePath(const std::string& name) const override {
        return name.empty() || name[0] == '/' ? name : fuzz::scratchDir() + "/" + name;
    }
    void warn(const std::string&) override {}
    texture_t* texture = nullptr;
};

struct kindType_t {
    pluginKind_t kind;
    const char* type;
};
const kindType_t types[] = {{pluginKind_t::shader, "generic"},      {pluginKind_t::shader, "constant"},
                            {pluginKind_t::light, "point"},         {pluginKind_t::light, "sun"},
                            {pluginKind_t::light, "spot"},          {pluginKind_t::texture, "image"},
                            {pluginKind_t::texture, "clouds"},      {pluginKind_t::texture, "checker"},
                            {pluginKind_t::background, "constant"}, {pluginKind_t::background, "gradient"},
                            {pluginKind_t::background, "image"}};

// A 2 x 2 TGA picture, 24 bits, for the image plug-ins.
const unsigned char tinyTga[] = {0, 0,  2, 0,   0, 0, 0, 0,   0, 0, 0, 0,   2,   0,   2,
                                 0, 24, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};

struct world_t {
    std::ostringstream log;
    pluginManager_t plugins{log};
    context_t context;
    std::unique_ptr<texture_t> texture;
    world_t() {
        plugins.loadDirectory(VEXLAR_PLUGIN_BUILD_DIR);
        fuzz::writeFile(fuzz::scratchDir() + "/picture.tga", tinyTga, sizeof tinyTga);
        paramMap_t none;
        texture.reset(plugins.createTexture("checker", none, context));
        context.texture = texture.get();
    }
};

world_t& world() {
    static world_t* w = new world_t; // never destroyed: modules stay loaded
    return *w;
}

// Reads the input from the front.
struct bytes_t {
    const std::uint8_t* p;
    std::size_t n;
    std::uint8_t byte() { return n ? (--n, *p++) : 0; }
    float real() {
        std::uint8_t b[4] = {byte(), byte(), byte(), byte()};
        float f;
        std::memcpy(&f, b, 4);
        return f;
    }
    std::string text(std::size_t len) {
        std::string s;
        while (len-- && n) s += static_cast<char>(byte());
        return s;
    }
};

parameter_t valueFrom(bytes_t& in) {
    static const char* const words[] = {"on",   "off",         "global",      "orco", "uv",
                                        "tex",  "picture.tga", "missing.png", "",     "repeat",
                                        "clip", "linear",      "srgb"};
    switch (in.byte() % 4) {
    case 0:
        return parameter_t(in.real());
    case 1: {
        const std::uint8_t w = in.byte();
        if (w < 200) return parameter_t(std::string(words[w % (sizeof words / sizeof *words)]));
        return parameter_t(in.text(w % 16));
    }
    case 2: {
        const float x = in.real(), y = in.real(), z = in.real();
        return parameter_t(point3d_t(x, y, z));
    }
    default: {
        const float r = in.real(), g = in.real(), b = in.real(), a = in.real();
        return parameter_t(r, g, b, a);
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    world_t& w = world();
    bytes_t in{data, size};
    const kindType_t& t = types[in.byte() % (sizeof types / sizeof *types)];
    const pluginTypeInfo_t* info = w.plugins.find(t.kind, t.type);
    if (info == nullptr) std::abort(); // the standard plug-ins did not load
    paramMap_t params;
    for (int entries = in.byte() % 12; entries > 0 && in.n > 0; --entries) {
        const std::size_t pick = in.byte() % (info->params.size() + 1);
        const std::string name =
            pick < info->params.size() ? info->params[pick].name : in.text(in.byte() % 12);
        params[name] = valueFrom(in);
    }
    switch (t.kind) {
    case pluginKind_t::shader:
        delete w.plugins.createShader(t.type, params, w.context);
        break;
    case pluginKind_t::light:
        delete w.plugins.createLight(t.type, params, w.context);
        break;
    case pluginKind_t::background:
        delete w.plugins.createBackground(t.type, params, w.context);
        break;
    case pluginKind_t::texture: {
        std::unique_ptr<texture_t> tex(w.plugins.createTexture(t.type, params, w.context));
        if (tex) {
            static const float at[][3] = {{0, 0, 0}, {0.5f, -0.25f, 3}, {-1e30f, 1e30f, 0}, {1, 1, 1}};
            for (const auto& p : at) {
                (void)tex->colorAt(point3d_t(p[0], p[1], p[2]));
                (void)tex->floatAt(point3d_t(p[0], p[1], p[2]));
            }
        }
        break;
    }
    }
    return 0;
}
