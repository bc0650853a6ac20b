// libFuzzer target for the scene loader: the input is the JSON text of a
// scene description whose relative file names resolve in a scratch folder
// holding a small OBJ mesh ("mesh.obj") and pictures ("picture.tga",
// "picture.hdr"). The standard plug-ins are loaded once. Loading must build
// the scene or throw a scene error with a message; nothing else may leave.
#include "fuzz_support.h"
#include "host/sceneloader.h"

#include <cstdlib>
#include <sstream>

namespace {

using namespace vexlar;

const char meshObj[] = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                       "f 1/1 2/2 3/3 4/4\n";
const unsigned char tinyTga[] = {0, 0,  2, 0,   0, 0, 0, 0,   0, 0, 0, 0,   2,   0,   2,
                                 0, 24, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
const char tinyHdr[] = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 2\n\x80\x80\x80\x81\x40\x40\x40\x80";

struct world_t {
    std::ostringstream log;
    pluginManager_t plugins{log};
    world_t() {
        plugins.loadDirectory(VEXLAR_PLUGIN_BUILD_DIR);
        if (plugins.moduleCount() == 0) std::abort();
        const std::string& dir = fuzz::scratchDir();
        fuzz::writeFile(dir + "/mesh.obj", meshObj, sizeof meshObj - 1);
        fuzz::writeFile(dir + "/picture.tga", tinyTga, sizeof tinyTga);
        fuzz::writeFile(dir + "/picture.hdr", tinyHdr, sizeof tinyHdr - 1);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static world_t* w = new world_t; // never destroyed: modules stay loaded
    host::sceneSource_t source;
    source.text.assign(reinterpret_cast<const char*>(data), size);
    source.label = "fuzz.json";
    source.baseDir = fuzz::scratchDir();
    host::sceneOverrides_t overrides;
    host::loadOptions_t options;
    options.workers = 1;
    options.meshCache = "off";
    try {
        std::unique_ptr<host::loadedScene_t> scene = host::loadScene(source, overrides, w->plugins, options);
        if (!scene || !scene->scene || scene->width <= 0 || scene->height <= 0) std::abort();
    } catch (const host::sceneError_t& e) {
        if (std::string(e.what()).empty()) std::abort();
    } catch (const host::json::out_of_range&) {
        // A number beyond the range of a double ("1e400"): the JSON library's
        // own error, which the program reports as its text (without the
        // place); see fuzz/regressions/scene/number-overflow.json.
    }
    return 0;
}
