// Building a renderable scene from a JSON scene description: camera, render
// settings, background, lights, textures, shaders (plug-ins created by type
// name), objects (spheres, meshes, instances), post filters and output.
// The format is documented in docs/scene-format.md.
#ifndef VEXLAR_HOST_SCENELOADER_H
#define VEXLAR_HOST_SCENELOADER_H

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/diagnostics.h"
#include "host/imagewrite.h"
#include "host/jsonread.h"
#include "vexlarcore/background.h"
#include "vexlarcore/camera.h"
#include "vexlarcore/filter.h"
#include "vexlarcore/light.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/pluginregistry.h"
#include "vexlarcore/scene.h"
#include "vexlarcore/shader.h"
#include "vexlarcore/texture.h"

namespace vexlar {
namespace host {

/// A scene description and how to read it.
struct sceneSource_t {
    /// The JSON text.
    std::string text;
    /// Names the description in messages: the file name as the user gave it.
    std::string label;
    /// Folder against which relative file names resolve ("" = current folder).
    std::string baseDir;
    /// Files served from memory instead of the disk, by the name written in
    /// the description (the built-in demo's mesh).
    std::map<std::string, const std::string*> memoryFiles;
};

/// Changes the command line makes to the description before it is read.
struct sceneOverrides_t {
    /// --set KEY=VALUE, in order: dotted path below camera, render or output
    /// and the value's text (JSON; anything that is not JSON is a string).
    std::vector<std::pair<std::string, std::string>> settings;
    /// --size (0 = keep).
    int width = 0;
    int height = 0;
    /// --region X0 X1 Y0 Y1 (pixels), when hasRegion.
    bool hasRegion = false;
    int region[4] = {0, 0, 0, 0};
};

/// A half-open pixel rectangle, x0 <= x < x1 and y0 <= y < y1, rows from the top.
struct pixelRect_t {
    int x0 = 0;
    int x1 = 0;
    int y0 = 0;
    int y1 = 0;
};

/// Everything a loaded scene consists of. Owns every object; destroys them
/// (scene first, then instances before what they refer to, shaders before
/// textures) before the plug-in manager, which must outlive it.
class loadedScene_t {
public:
    loadedScene_t() = default;
    ~loadedScene_t();
    loadedScene_t(const loadedScene_t&) = delete;
    loadedScene_t& operator=(const loadedScene_t&) = delete;

    std::unique_ptr<scene_t> scene;
    std::unique_ptr<camera_t> camera;
    int width = 0;
    int height = 0;
    /// The pixels the render fills (the whole image without a region).
    pixelRect_t region;
    /// output.file resolved against the scene folder; "" when not given.
    std::string outputFile;
    bool saveAlpha = false;
    /// output.color, exposure, tonemap and bits (its `alpha` is left false:
    /// the program combines saveAlpha with --alpha).
    outputSettings_t output;
    /// render.seed, when given.
    bool hasSeed = false;
    int seed = 0;
    /// Objects by name, in file order (also handed to the scene).
    std::vector<std::pair<std::string, object3d_t*>> objectList;
    std::map<std::string, texture_t*> textures;
    std::map<std::string, shader_t*> shaders;
    std::vector<std::pair<std::string, light_t*>> lightList;
    background_t* background = nullptr;
    std::vector<filter_t*> filters;
    /// Warnings met while loading (also unused plug-in parameters).
    std::vector<std::string> warnings;
};

/// How to build the scene object itself.
struct loadOptions_t {
    /// 1: scene_t renders in this process; more: forkedscene_t with that
    /// many worker processes.
    int workers = 1;
    /// --mesh-cache: the mesh cache folder, "off", or "" for the scene's
    /// render.mesh_cache, else the default (meshcache.h).
    std::string meshCache;
};

/// Parses, applies the overrides and builds the scene. Throws sceneError_t
/// with a one-line message naming the place on any fault.
std::unique_ptr<loadedScene_t> loadScene(const sceneSource_t& source, const sceneOverrides_t& overrides,
                                         const pluginManager_t& plugins, const loadOptions_t& options);

/// Applies --set/--size/--region to the parsed description, recording in
/// `positions` which values came from the command line. Throws sceneError_t
/// for a key outside camera, render and output or an empty key.
void applyOverrides(json& doc, const sceneOverrides_t& overrides, jsonPositions_t& positions);

/// `name` made absolute against `baseDir` unless already absolute.
std::string resolvePath(const std::string& baseDir, const std::string& name);

/// The folder part of a file name ("" for a bare name).
std::string folderOf(const std::string& path);

/// Reads a whole file; false (with the system's reason) when it cannot.
bool readFile(const std::string& path, std::string& out, std::string& error);

} // namespace host
} // namespace vexlar

#endif
