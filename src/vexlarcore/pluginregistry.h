// A ready-made plug-in manager for host programs: loads plug-in modules,
// keeps the registered types, builds objects by type name and lists the
// types with their parameter tables.
//
// Typical use:
//
//     vexlar::pluginManager_t plugins;          // messages go to the message sink
//     plugins.loadDirectory(pluginDir);         // failures reported, loading goes on
//     shader_t* s = plugins.createShader("generic", params, context);
//     if (!s && !plugins.has(pluginKind_t::shader, "generic"))
//         ... "unknown type (known: " + plugins.typeNames(pluginKind_t::shader) + ")"
//     ...
//     delete s;                                 // before the manager goes
//
// Every failure while loading is one line on the log stream, or a warning
// through the library's message sink (messages.h) for a manager made without
// one, and is kept in errors() and lastError(), naming the module file:
//   "<file>: cannot be loaded: <loader text>"
//   "<file>: not a plug-in module (no vexlarPluginEntry)"
//   "<file>: vexlarPluginEntry returned no module information"
//   "<file>: plug-in interface version <n>, this program needs <m>"
//   "<file>: registration failed: <what>"      (the whole module is discarded)
//   "<file>: <kind> type \"<t>\" is already registered by <other>; ignored"
//   "<file>: <kind> type with an empty name or no factory; ignored"
//   "<dir>: not a readable plug-in directory"
// The loader layer's text (sharedlibrary_t::lastError) is folded into the
// manager's line; the loader itself prints nothing while the manager loads.
//
// Lifetime: the manager keeps every module that registered at least one type
// loaded until it is destroyed. Objects made by its factories run code of
// those modules, so they must be deleted before the manager.
//
// Not thread-safe; use from the host's start-up thread. The create
// functions may be called from any one thread at a time.
#ifndef VEXLARCORE_PLUGINREGISTRY_H
#define VEXLARCORE_PLUGINREGISTRY_H

#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vexlarcore/plugin.h"

namespace vexlar {

class sharedlibrary_t;

/// One registered type.
struct pluginTypeInfo_t {
    pluginKind_t kind = pluginKind_t::shader;
    std::string type;                        ///< name used by scene descriptions
    std::string description;                 ///< one line
    std::vector<pluginParam_t> params;       ///< parameter table
    std::string moduleName;                  ///< the module's own name ("built in" for direct registrations)
    std::string modulePath;                  ///< the module file ("" for direct registrations)
    shaderFactory_t shaderFactory = nullptr; ///< set for shaders
    lightFactory_t lightFactory = nullptr;   ///< set for lights
    textureFactory_t textureFactory = nullptr;       ///< set for textures
    backgroundFactory_t backgroundFactory = nullptr; ///< set for backgrounds
};

class pluginManager_t : public pluginRegistry_t {
public:
    /// `log` receives one line per loading failure; it must outlive the manager.
    explicit pluginManager_t(std::ostream& log);
    /// Reports each failure as a warning through the message sink.
    pluginManager_t();
    /// Unloads the modules (see the lifetime note above).
    ~pluginManager_t() override;

    pluginManager_t(const pluginManager_t&) = delete;
    pluginManager_t& operator=(const pluginManager_t&) = delete;

    /// Loads every module file of `dir`: the regular files whose name ends in
    /// the system's module suffix (".so"; on macOS also ".dylib" and
    /// ".bundle"), in name order, so that which of two modules registering
    /// the same type wins does not depend on the file system. Other files
    /// are skipped silently. Returns the number of modules that registered
    /// at least one type; every failure is reported and loading goes on.
    int loadDirectory(const std::string& dir);
    /// Loads one module file (any name). True when it registered at least one
    /// type. Types of a module whose registration throws are all discarded,
    /// and so is a type already registered by an earlier module (or twice
    /// by the same one).
    bool loadModule(const std::string& path);

    /// Direct registrations (types built into the host); duplicates are
    /// reported and ignored like a module's.
    void registerShader(const std::string& type, shaderFactory_t factory,
                        const std::vector<pluginParam_t>& params, const std::string& description) override;
    void registerLight(const std::string& type, lightFactory_t factory,
                       const std::vector<pluginParam_t>& params, const std::string& description) override;
    void registerTexture(const std::string& type, textureFactory_t factory,
                         const std::vector<pluginParam_t>& params, const std::string& description) override;
    void registerBackground(const std::string& type, backgroundFactory_t factory,
                            const std::vector<pluginParam_t>& params,
                            const std::string& description) override;

    /// Build an object of a registered type. Null for an unknown type
    /// (nothing reported: check has() and report with typeNames()), and
    /// null when the factory fails (it has told `context` why). A factory
    /// that throws in spite of the rules is reported through context.warn
    /// and gives null. The caller owns the result.
    shader_t* createShader(const std::string& type, paramMap_t& params, pluginContext_t& context) const;
    light_t* createLight(const std::string& type, paramMap_t& params, pluginContext_t& context) const;
    texture_t* createTexture(const std::string& type, paramMap_t& params, pluginContext_t& context) const;
    background_t* createBackground(const std::string& type, paramMap_t& params,
                                   pluginContext_t& context) const;

    /// True when a type of that kind and name is registered.
    bool has(pluginKind_t kind, const std::string& type) const;
    /// The registration of a type, or null.
    const pluginTypeInfo_t* find(pluginKind_t kind, const std::string& type) const;
    /// The registered type names of a kind, sorted, joined by ", " (for
    /// "unknown type (known: ...)" messages); "" when there is none.
    std::string typeNames(pluginKind_t kind) const;
    /// Every type, grouped by kind (shaders, lights, textures, backgrounds),
    /// sorted by name, each with its module, description and parameter table.
    void describe(std::ostream& out) const;

    /// Every failure reported so far, in order, without line breaks.
    const std::vector<std::string>& errors() const { return failures; }
    /// The latest failure reported, "" when there has been none.
    std::string lastError() const { return failures.empty() ? std::string() : failures.back(); }
    /// Number of modules currently held.
    std::size_t moduleCount() const { return modules.size(); }

private:
    using typeKey_t = std::pair<int, std::string>;

    void report(const std::string& message);
    /// Moves the staged types into the table, reporting duplicates; returns
    /// the number accepted.
    int commit(std::vector<pluginTypeInfo_t>& staged, const std::string& origin);
    const pluginTypeInfo_t* lookup(pluginKind_t kind, const std::string& type) const;

    std::ostream* log; ///< null: the message sink
    std::vector<std::string> failures;
    std::map<typeKey_t, pluginTypeInfo_t> types;
    std::vector<std::unique_ptr<sharedlibrary_t>> modules;
};

} // namespace vexlar

#endif
