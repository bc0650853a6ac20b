#include "vexlarcore/pluginregistry.h"

#include "vexlarcore/modulecheck.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <utility>

#include "vexlarcore/messages.h"
#include "vexlarcore/sharedlibrary.h"

namespace vexlar {

namespace {

// Collects a module's registrations so that nothing reaches the manager's
// table before registerAll has returned: a module whose registration throws
// half-way leaves no trace (and no factory pointing into unloaded code).
class stagingRegistry_t : public pluginRegistry_t {
public:
    explicit stagingRegistry_t(std::vector<pluginTypeInfo_t>& out) : staged(out) {}

    void registerShader(const std::string& type, shaderFactory_t factory,
                        const std::vector<pluginParam_t>& params, const std::string& description) override {
        add(pluginKind_t::shader, type, params, description).shaderFactory = factory;
    }
    void registerLight(const std::string& type, lightFactory_t factory,
                       const std::vector<pluginParam_t>& params, const std::string& description) override {
        add(pluginKind_t::light, type, params, description).lightFactory = factory;
    }
    void registerTexture(const std::string& type, textureFactory_t factory,
                         const std::vector<pluginParam_t>& params, const std::string& description) override {
        add(pluginKind_t::texture, type, params, description).textureFactory = factory;
    }
    void registerBackground(const std::string& type, backgroundFactory_t factory,
                            const std::vector<pluginParam_t>& params,
                            const std::string& description) override {
        add(pluginKind_t::background, type, params, description).backgroundFactory = factory;
    }

private:
    pluginTypeInfo_t& add(pluginKind_t kind, const std::string& type,
                          const std::vector<pluginParam_t>& params, const std::string& description) {
        pluginTypeInfo_t info;
        info.kind = kind;
        info.type = type;
        info.params = params;
        info.description = description;
        staged.push_back(std::move(info));
        return staged.back();
    }

    std::vector<pluginTypeInfo_t>& staged;
};

bool hasFactory(const pluginTypeInfo_t& info) {
    return info.shaderFactory || info.lightFactory || info.textureFactory || info.backgroundFactory;
}

bool hasModuleSuffix(const std::string& path) {
    static const char* const suffixes[] = {
        ".so",
#if defined(__APPLE__)
        ".dylib",
        ".bundle",
#endif
    };
    for (const char* s : suffixes) {
        std::string suffix(s);
        if (path.size() > suffix.size() &&
            path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    }
    return false;
}

// The loader's text on one line.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

template <typename object_t, typename factory_t>
object_t* runFactory(factory_t factory, paramMap_t& params, pluginContext_t& context) {
    // Factories must not throw; one that does anyway must not take the host
    // down with an exception from code the host cannot see.
    try {
        return factory(params, context);
    } catch (const std::exception& e) {
        context.warn(std::string("internal error in the plug-in: ") + e.what());
    } catch (...) {
        context.warn("internal error in the plug-in: unknown exception");
    }
    return nullptr;
}

} // namespace

pluginManager_t::pluginManager_t(std::ostream& logStream) : log(&logStream) {}

pluginManager_t::pluginManager_t() : log(nullptr) {}

pluginManager_t::~pluginManager_t() {
    // The type table holds pointers into the modules: drop it first.
    types.clear();
    modules.clear();
}

void pluginManager_t::report(const std::string& message) {
    failures.push_back(message);
    if (log == nullptr) {
        emitMessage(messageLevel_t::warning, messageStream_t::standardError, message + "\n");
        return;
    }
    *log << message << '\n';
    log->flush();
}

int pluginManager_t::loadDirectory(const std::string& dir) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        report(dir + ": not a readable plug-in directory");
        return 0;
    }
    // listDir's list is shared and overwritten by the next call: copy it.
    std::vector<std::string> files;
    for (const std::string& path : listDir(dir))
        if (hasModuleSuffix(path)) files.push_back(path);
    std::sort(files.begin(), files.end());
    int loaded = 0;
    for (const std::string& path : files)
        if (loadModule(path)) ++loaded;
    return loaded;
}

bool pluginManager_t::loadModule(const std::string& path) {
    // A damaged file would crash the system loader: refuse it unopened.
    const std::string fault = moduleFileFault(path);
    if (!fault.empty()) {
        report(path + ": cannot be loaded: " + fault);
        return false;
    }
    auto library = std::make_unique<sharedlibrary_t>();
    // Quietly: the failure is reported once, as the manager's own line.
    if (!library->openQuietly(path)) {
        std::string loaderText = oneLine(library->lastError());
        // The system loader usually starts its text with the path itself.
        if (loaderText.compare(0, path.size() + 2, path + ": ") == 0) loaderText.erase(0, path.size() + 2);
        report(path + ": cannot be loaded: " + (loaderText.empty() ? "not a loadable module" : loaderText));
        return false;
    }
    void* symbol = library->getSymbolQuietly(VEXLAR_PLUGIN_ENTRY_NAME);
    if (!symbol) {
        report(path + ": not a plug-in module (no " VEXLAR_PLUGIN_ENTRY_NAME ")");
        return false;
    }
    if (!isFunctionSymbol(symbol)) {
        report(path + ": not a plug-in module (" VEXLAR_PLUGIN_ENTRY_NAME " is not a function)");
        return false;
    }
    auto entry = reinterpret_cast<pluginEntry_t>(symbol);
    const vexlarPluginInfo_t* info = entry();
    if (!info) {
        report(path + ": " VEXLAR_PLUGIN_ENTRY_NAME " returned no module information");
        return false;
    }
    // Only the version is read until it is known to match: a module built
    // for another version may lay out the rest of the record differently.
    if (info->interfaceVersion != pluginInterfaceVersion) {
        report(path + ": plug-in interface version " + std::to_string(info->interfaceVersion) +
               ", this program needs " + std::to_string(pluginInterfaceVersion));
        return false;
    }
    if (!info->registerAll) {
        report(path + ": registration failed: the module has no registration function");
        return false;
    }
    std::string moduleName = info->moduleName ? info->moduleName : "";
    if (moduleName.empty()) moduleName = std::filesystem::path(path).filename().string();

    std::vector<pluginTypeInfo_t> staged;
    try {
        stagingRegistry_t registry(staged);
        info->registerAll(registry);
    } catch (const std::exception& e) {
        report(path + ": registration failed: " + e.what());
        return false;
    } catch (...) {
        report(path + ": registration failed: unknown exception");
        return false;
    }
    for (pluginTypeInfo_t& t : staged) {
        t.moduleName = moduleName;
        t.modulePath = path;
    }
    int accepted = commit(staged, path);
    if (accepted == 0) return false; // nothing points into it: let it go
    modules.push_back(std::move(library));
    return true;
}

int pluginManager_t::commit(std::vector<pluginTypeInfo_t>& staged, const std::string& origin) {
    int accepted = 0;
    for (pluginTypeInfo_t& t : staged) {
        const char* kindName = pluginKindName(t.kind);
        if (t.type.empty() || !hasFactory(t)) {
            report(origin + ": " + kindName + " type with an empty name or no factory; ignored");
            continue;
        }
        typeKey_t key(static_cast<int>(t.kind), t.type);
        auto it = types.find(key);
        if (it != types.end()) {
            const std::string& other =
                it->second.modulePath.empty() ? it->second.moduleName : it->second.modulePath;
            report(origin + ": " + kindName + " type \"" + t.type + "\" is already registered by " + other +
                   "; ignored");
            continue;
        }
        types.emplace(std::move(key), std::move(t));
        ++accepted;
    }
    return accepted;
}

namespace {
pluginTypeInfo_t builtIn(pluginKind_t kind, const std::string& type, const std::vector<pluginParam_t>& params,
                         const std::string& description) {
    pluginTypeInfo_t info;
    info.kind = kind;
    info.type = type;
    info.params = params;
    info.description = description;
    info.moduleName = "built in";
    return info;
}
} // namespace

void pluginManager_t::registerShader(const std::string& type, shaderFactory_t factory,
                                     const std::vector<pluginParam_t>& params,
                                     const std::string& description) {
    std::vector<pluginTypeInfo_t> one{builtIn(pluginKind_t::shader, type, params, description)};
    one[0].shaderFactory = factory;
    commit(one, "built in");
}

void pluginManager_t::registerLight(const std::string& type, lightFactory_t factory,
                                    const std::vector<pluginParam_t>& params,
                                    const std::string& description) {
    std::vector<pluginTypeInfo_t> one{builtIn(pluginKind_t::light, type, params, description)};
    one[0].lightFactory = factory;
    commit(one, "built in");
}

void pluginManager_t::registerTexture(const std::string& type, textureFactory_t factory,
                                      const std::vector<pluginParam_t>& params,
                                      const std::string& description) {
    std::vector<pluginTypeInfo_t> one{builtIn(pluginKind_t::texture, type, params, description)};
    one[0].textureFactory = factory;
    commit(one, "built in");
}

void pluginManager_t::registerBackground(const std::string& type, backgroundFactory_t factory,
                                         const std::vector<pluginParam_t>& params,
                                         const std::string& description) {
    std::vector<pluginTypeInfo_t> one{builtIn(pluginKind_t::background, type, params, description)};
    one[0].backgroundFactory = factory;
    commit(one, "built in");
}

const pluginTypeInfo_t* pluginManager_t::lookup(pluginKind_t kind, const std::string& type) const {
    auto it = types.find(typeKey_t(static_cast<int>(kind), type));
    return it == types.end() ? nullptr : &it->second;
}

shader_t* pluginManager_t::createShader(const std::string& type, paramMap_t& params,
                                        pluginContext_t& context) const {
    const pluginTypeInfo_t* t = lookup(pluginKind_t::shader, type);
    return t ? runFactory<shader_t>(t->shaderFactory, params, context) : nullptr;
}

light_t* pluginManager_t::createLight(const std::string& type, paramMap_t& params,
                                      pluginContext_t& context) const {
    const pluginTypeInfo_t* t = lookup(pluginKind_t::light, type);
    return t ? runFactory<light_t>(t->lightFactory, params, context) : nullptr;
}

texture_t* pluginManager_t::createTexture(const std::string& type, paramMap_t& params,
                                          pluginContext_t& context) const {
    const pluginTypeInfo_t* t = lookup(pluginKind_t::texture, type);
    return t ? runFactory<texture_t>(t->textureFactory, params, context) : nullptr;
}

background_t* pluginManager_t::createBackground(const std::string& type, paramMap_t& params,
                                                pluginContext_t& context) const {
    const pluginTypeInfo_t* t = lookup(pluginKind_t::background, type);
    return t ? runFactory<background_t>(t->backgroundFactory, params, context) : nullptr;
}

bool pluginManager_t::has(pluginKind_t kind, const std::string& type) const {
    return lookup(kind, type) != nullptr;
}

const pluginTypeInfo_t* pluginManager_t::find(pluginKind_t kind, const std::string& type) const {
    return lookup(kind, type);
}

std::string pluginManager_t::typeNames(pluginKind_t kind) const {
    // The map is ordered by (kind, name), so a kind's names come sorted.
    std::string names;
    for (const auto& entry : types) {
        if (entry.first.first != static_cast<int>(kind)) continue;
        if (!names.empty()) names += ", ";
        names += entry.first.second;
    }
    return names;
}

void pluginManager_t::describe(std::ostream& out) const {
    static const pluginKind_t kinds[] = {pluginKind_t::shader, pluginKind_t::light, pluginKind_t::texture,
                                         pluginKind_t::background};
    static const char* const titles[] = {"Shaders", "Lights", "Textures", "Backgrounds"};
    for (int k = 0; k < 4; ++k) {
        out << titles[k] << ":\n";
        bool any = false;
        for (const auto& entry : types) {
            const pluginTypeInfo_t& t = entry.second;
            if (t.kind != kinds[k]) continue;
            any = true;
            out << "  " << t.type << " (" << t.moduleName << ")";
            if (!t.description.empty()) out << ": " << t.description;
            out << '\n';
            if (t.params.empty()) {
                out << "      (no parameters)\n";
                continue;
            }
            // Columns as wide as their longest entry.
            std::size_t wName = 4, wKind = 4, wDefault = 7;
            for (const pluginParam_t& p : t.params) {
                wName = std::max(wName, p.name.size());
                wKind = std::max(wKind, p.kind.size());
                wDefault = std::max(wDefault, p.defaultValue.empty() ? 10 : p.defaultValue.size());
            }
            auto row = [&](const std::string& a, const std::string& b, const std::string& c,
                           const std::string& d) {
                out << "      " << std::left << std::setw(static_cast<int>(wName)) << a << "  "
                    << std::setw(static_cast<int>(wKind)) << b << "  "
                    << std::setw(static_cast<int>(wDefault)) << c << "  " << d << std::right << '\n';
            };
            row("name", "kind", "default", "meaning");
            for (const pluginParam_t& p : t.params)
                row(p.name, p.kind, p.defaultValue.empty() ? "(required)" : p.defaultValue, p.meaning);
        }
        if (!any) out << "  (none)\n";
    }
}

} // namespace vexlar
