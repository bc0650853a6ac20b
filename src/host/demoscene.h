// The built-in demo scene: scenes/demo.json and the mesh it names
// (scenes/bunny.obj, the Stanford bunny), compiled into the program.
#ifndef VEXLAR_HOST_DEMOSCENE_H
#define VEXLAR_HOST_DEMOSCENE_H

#include "host/sceneloader.h"

namespace vexlar {
namespace host {

/// The demo description with its mesh served from memory. Relative names
/// (none besides the mesh) resolve against the current folder.
sceneSource_t demoSceneSource();

/// The embedded texts.
const std::string& demoSceneText();
const std::string& demoBunnyText();

} // namespace host
} // namespace vexlar

#endif
