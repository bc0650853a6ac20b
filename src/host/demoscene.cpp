#include "host/demoscene.h"

#include <cstddef>

namespace vexlar {
namespace host {

// Generated at build time from scenes/ (see embed.cmake).
extern const char demoBunnyObj[];
extern const std::size_t demoBunnyObjSize;
extern const char demoSceneJson[];
extern const std::size_t demoSceneJsonSize;

const std::string& demoSceneText() {
    static const std::string text(demoSceneJson, demoSceneJsonSize);
    return text;
}

const std::string& demoBunnyText() {
    static const std::string text(demoBunnyObj, demoBunnyObjSize);
    return text;
}

sceneSource_t demoSceneSource() {
    sceneSource_t s;
    s.text = demoSceneText();
    s.label = "built-in demo scene";
    s.memoryFiles["bunny.obj"] = &demoBunnyText();
    return s;
}

} // namespace host
} // namespace vexlar
