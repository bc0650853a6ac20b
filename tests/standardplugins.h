// The standard plug-ins of the build, loaded once per test program through
// the plug-in manager. Tests skip when the build has none (no host).
#ifndef VEXLAR_TESTS_STANDARDPLUGINS_H
#define VEXLAR_TESTS_STANDARDPLUGINS_H

#include <sstream>
#include <string>

#include "vexlarcore/pluginregistry.h"

/// The build's plug-in folder; "" when the standard plug-ins are not built.
inline const std::string& standardPluginDir() {
    static const std::string dir = VEXLAR_PLUGIN_BUILD_DIR;
    return dir;
}

/// One manager for the whole program: objects made from it must be deleted
/// before the program ends.
inline vexlar::pluginManager_t& standardPlugins() {
    static std::ostringstream log;
    static vexlar::pluginManager_t manager(log);
    static const bool loaded = (manager.loadDirectory(standardPluginDir()), true);
    (void)loaded;
    return manager;
}

#endif
