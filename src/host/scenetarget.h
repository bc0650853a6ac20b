// The scene loader as the model importers see it: where the shaders,
// textures, lights, objects and camera they make go.
#ifndef VEXLAR_HOST_SCENETARGET_H
#define VEXLAR_HOST_SCENETARGET_H

#include <string>

#include "host/diagnostics.h"
#include "host/jsonread.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/shader.h"

namespace vexlar {
namespace host {

struct gltfCamera_t;

/// What the scene loader offers the importers of model files (glTF objects,
/// OBJ materials) while it reads a scene.
class sceneTarget_t {
public:
    virtual ~sceneTarget_t() = default;
    /// Create plug-ins from descriptions; `at` names them in messages.
    virtual void addTexture(const std::string& name, const json& desc, const jsonPath_t& at) = 0;
    virtual void addShader(const std::string& name, const json& desc, const jsonPath_t& at) = 0;
    virtual void addLight(const std::string& name, const json& desc, const jsonPath_t& at) = 0;
    /// A shader of the scene by name, or null.
    virtual const shader_t* shader(const std::string& name) = 0;
    /// Hands an object (owned from then on by the scene) over.
    virtual void addObject(const std::string& name, object3d_t* object) = 0;
    /// Replaces the view of the scene's camera (keeping its resolution,
    /// aperture and focus distance unless the camera changes them).
    virtual void useCamera(const gltfCamera_t& camera) = 0;
    /// The scene camera's current eye and look-at point.
    virtual void currentView(point3d_t& from, point3d_t& to) const = 0;
};

} // namespace host
} // namespace vexlar

#endif
