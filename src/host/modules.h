// Optional parts of the program built as modules of their own and loaded
// the first time a scene uses them, so that the big libraries they link
// cost a render that does not use them nothing (the Embree accelerator's
// libraries alone take about 3 MiB of memory once loaded).
//
// Modules live in the folder "modules" beside the plug-in folder: in the
// build tree <build>/modules, installed <prefix>/lib/vexlar/modules. A
// loaded module stays loaded until the process ends (objects it made may
// live that long). Not thread-safe: modules are loaded while a scene loads.
#ifndef VEXLAR_HOST_MODULES_H
#define VEXLAR_HOST_MODULES_H

#include <string>
#include <vector>

#include "vexlarcore/mesh.h"

namespace vexlar {
namespace host {

/// The folders to look for modules in, in the order of
/// pluginDirCandidates(exePath), each the sibling "modules" of a plug-in
/// folder.
std::vector<std::string> moduleDirCandidates(const std::string& exePath);

/// The address of `symbol` in the module `name` (the file name.so in the
/// first folder of moduleDirCandidates that has it), loading the module on
/// first use. Null, with `error` saying why, when it cannot.
void* moduleSymbol(const std::string& name, const char* symbol, std::string& error);

/// Whether this build has the Embree accelerator (VEXLAR_EMBREE).
bool embreeAvailable();

/// `mesh` (built without its own tree, meshBuild_t::noTree) wrapped so that
/// Embree finds the hits of its rays (embreemesh.h); takes `mesh` over.
/// Null, with `error` set, when the module cannot be loaded or Embree
/// refuses the mesh.
object3d_t* wrapWithEmbree(meshObject_t* mesh, std::string& error);

} // namespace host
} // namespace vexlar

#endif
