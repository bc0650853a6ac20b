// The plug-in interface: how a plug-in module offers shaders, lights,
// textures and backgrounds to a host program.
//
// A plug-in module is a shared library (built as a loadable module) that
// links libvexlarcore and exports exactly one C function, the entry point
// named by VEXLAR_PLUGIN_ENTRY_NAME ("vexlarPluginEntry"). The host loads the
// module, calls the entry point, checks the interface version in the
// returned plain record BEFORE calling anything C++, then calls the record's
// `registerAll` with a pluginRegistry_t. There the module registers one
// factory per type it provides, each with its parameter table and a short
// description. Later the host calls a factory for every object of that type
// in the scene, with the object's settings in a paramMap_t and a
// pluginContext_t that gives access to the host's other objects.
//
// A minimal module (docs/plugins.md has a complete one, with its CMake; the
// settings helpers are in vexlarplugin/params.h, installed with the library):
//
//     #include "vexlarcore/background.h"
//     #include "vexlarcore/plugin.h"
//     #include "vexlarplugin/params.h"
//     namespace {
//     struct flatSettings_t { vexlar::color_t color; };
//     const vexlar::plugins::paramTable_t<flatSettings_t> flatParams{vexlar::plugins::color(
//         "color", &flatSettings_t::color, vexlar::color_t(0, 0, 0), "colour seen in every direction")};
//     class flatBackground_t : public vexlar::background_t { ... };
//     vexlar::background_t* make(vexlar::paramMap_t& params, vexlar::pluginContext_t& context) {
//         return new flatBackground_t(flatParams.read(params, context));
//     }
//     void registerAll(vexlar::pluginRegistry_t& registry) {
//         registry.registerBackground("flat", make, flatParams.rows(), "one colour everywhere");
//     }
//     } // namespace
//     VEXLAR_PLUGIN("background_flat", registerAll)
//
// Build the module with the same C++ compiler and standard library as the
// host: registration passes std::string and std::vector across the module
// boundary. Building it with hidden symbol visibility (only the entry point
// exported, which VEXLAR_PLUGIN does) keeps modules from clashing.
//
// Settings: how a host fills a paramMap_t from a scene description
// ----------------------------------------------------------------
// paramMap_t knows four kinds: float, string, point and colour. Every host
// of this library maps scene values onto them by one rule, so that plug-ins
// can rely on it:
//   - a number becomes a float parameter. Integer settings are floats too;
//     plug-ins read them with getParam(name, int&), which truncates;
//   - a string becomes a string parameter. A boolean becomes the string
//     "on" or "off" (read with getParam(name, bool&));
//   - a list of 3 or 4 numbers whose key names a colour (isColorKey below:
//     the key is "color"/"colour" or ends with "color"/"colour", in any
//     letter case, e.g. "specular_color", "horizonColour") becomes a colour
//     parameter; 3 numbers are R, G, B with alpha 1, 4 numbers R, G, B, A;
//   - any other list of 3 numbers becomes a point parameter;
//   - anything else (other list lengths, nested objects) is an error of the
//     scene description, reported by the host.
// So a plug-in names every colour setting "...color" and no other setting
// that way. The `kind` of a pluginParam_t says which JSON value is expected.
//
// Ownership and lifetime
// ----------------------
// The object a factory returns belongs to the caller, who deletes it through
// its virtual destructor. Its code lives in the module: the host must delete
// every object a module created before it unloads that module (with
// pluginManager_t: before the manager is destroyed).
//
// Errors
// ------
// A factory never throws. When it cannot build a usable object (a missing
// required setting, an unreadable file) it says why through
// pluginContext_t::warn and returns null. A setting of the wrong kind or out
// of range is reported the same way and replaced by the documented default;
// the object is still built.
//
// Threads: registration and factories run on the host's start-up thread.
// Render calls may run in forked worker processes (docs/plugins.md).
#ifndef VEXLARCORE_PLUGIN_H
#define VEXLARCORE_PLUGIN_H

#include <cctype>
#include <string>
#include <vector>

namespace vexlar {

class background_t;
class light_t;
class paramMap_t;
class scene_t;
class shader_t;
class texture_t;

/// Version of everything declared in this file. A host loads only modules
/// built against the same version. The first member of vexlarPluginInfo_t
/// stays an int holding this number in every future version.
constexpr int pluginInterfaceVersion = 1;

/// The name of the one function every plug-in module exports.
#define VEXLAR_PLUGIN_ENTRY_NAME "vexlarPluginEntry"

/// One row of a type's parameter table, as `vexlar --list-plugins` shows it.
struct pluginParam_t {
    std::string name;         ///< key in the paramMap_t
    std::string kind;         ///< "float", "int", "bool", "string", "point" or "color"
    std::string defaultValue; ///< as the user would write it; "" when there is none (required)
    std::string meaning;      ///< one short line
};

/// What the host offers a factory while it builds an object. Implemented by
/// the host; valid only during the factory call.
class pluginContext_t {
public:
    virtual ~pluginContext_t() {}

    /// The scene being built, or null when the host has none yet. Lights
    /// need no scene here: they receive it in setup() and illuminate().
    virtual scene_t* scene() = 0;
    /// The texture the scene description names `name` (created earlier by the
    /// host), or null when there is none. Owned by the host, which keeps it
    /// alive as long as the objects built from this context.
    virtual texture_t* findTexture(const std::string& name) = 0;
    /// The shader named `name`, or null; owned by the host like textures.
    virtual shader_t* findShader(const std::string& name) = 0;
    /// A file name from the settings, made usable: relative names are taken
    /// relative to the folder of the scene description; absolute names are
    /// returned unchanged.
    virtual std::string resolvePath(const std::string& name) const = 0;
    /// Reports a problem with the object being built. The host prints it as
    /// one line on standard error, prefixed with the object's place and name,
    /// so `message` needs neither of these nor a line break.
    virtual void warn(const std::string& message) = 0;
};

/// Factories: build one object from its settings; null (after warn) when
/// impossible. Never throw. The caller owns the result.
using shaderFactory_t = shader_t* (*)(paramMap_t& params, pluginContext_t& context);
using lightFactory_t = light_t* (*)(paramMap_t& params, pluginContext_t& context);
using textureFactory_t = texture_t* (*)(paramMap_t& params, pluginContext_t& context);
using backgroundFactory_t = background_t* (*)(paramMap_t& params, pluginContext_t& context);

/// The four kinds of objects plug-ins provide.
enum class pluginKind_t { shader, light, texture, background };

/// "shader", "light", "texture" or "background".
inline const char* pluginKindName(pluginKind_t kind) {
    switch (kind) {
    case pluginKind_t::shader:
        return "shader";
    case pluginKind_t::light:
        return "light";
    case pluginKind_t::texture:
        return "texture";
    case pluginKind_t::background:
        return "background";
    }
    return "?";
}

/// Where a module registers its types. `type` is the name scene descriptions
/// use ("generic", "point", ...), unique per kind across all loaded modules;
/// `params` the table of settings the factory reads; `description` one line.
/// The registry copies everything it keeps. Registration may throw (for
/// instance std::bad_alloc); a host then discards the whole module.
class pluginRegistry_t {
public:
    virtual ~pluginRegistry_t() {}

    virtual void registerShader(const std::string& type, shaderFactory_t factory,
                                const std::vector<pluginParam_t>& params, const std::string& description) = 0;
    virtual void registerLight(const std::string& type, lightFactory_t factory,
                               const std::vector<pluginParam_t>& params, const std::string& description) = 0;
    virtual void registerTexture(const std::string& type, textureFactory_t factory,
                                 const std::vector<pluginParam_t>& params,
                                 const std::string& description) = 0;
    virtual void registerBackground(const std::string& type, backgroundFactory_t factory,
                                    const std::vector<pluginParam_t>& params,
                                    const std::string& description) = 0;
};

/// The plain record the entry point returns; it must stay valid as long as
/// the module is loaded (return the address of a static). A host reads
/// `interfaceVersion` first and touches nothing else when it differs from
/// its own pluginInterfaceVersion.
struct vexlarPluginInfo_t {
    int interfaceVersion;                            ///< pluginInterfaceVersion of the module's build
    const char* moduleName;                          ///< short name for messages, e.g. "shader_generic"
    void (*registerAll)(pluginRegistry_t& registry); ///< registers the module's types
};

/// Type of the entry point.
using pluginEntry_t = const vexlarPluginInfo_t* (*)();

/// True when a scene key names a colour: "color" or "colour", or a key ending
/// with one of them, compared without regard to letter case.
inline bool isColorKey(const std::string& key) {
    auto endsWith = [&key](const char* suffix) {
        std::string s(suffix);
        if (key.size() < s.size()) return false;
        for (std::size_t i = 0; i < s.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(key[key.size() - s.size() + i]);
            if (std::tolower(c) != s[i]) return false;
        }
        return true;
    };
    return endsWith("color") || endsWith("colour");
}

} // namespace vexlar

#if defined(__GNUC__)
#define VEXLAR_PLUGIN_VISIBLE __attribute__((visibility("default")))
#else
#define VEXLAR_PLUGIN_VISIBLE
#endif

/// Defines the module's entry point. Use once per module, at file scope
/// outside any namespace: VEXLAR_PLUGIN("module_name", registerFunction)
#define VEXLAR_PLUGIN(moduleNameText, registerFunction)                                                      \
    extern "C" VEXLAR_PLUGIN_VISIBLE const ::vexlar::vexlarPluginInfo_t* vexlarPluginEntry() {               \
        static const ::vexlar::vexlarPluginInfo_t info = {::vexlar::pluginInterfaceVersion, moduleNameText,  \
                                                          registerFunction};                                 \
        return &info;                                                                                        \
    }

#endif
