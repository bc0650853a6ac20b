#include "host/gltfobject.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

#include <unistd.h>

#include "host/meshextras.h"
#include "host/transform.h"
#include "vexlarcore/reference.h"

namespace vexlar {
namespace host {

namespace {

enum class cameraUse_t { scene, first, named, automatic };

// Writes an embedded picture to a temporary file that lives as long as this
// object (the image texture reads its file when it is made).
class tempPicture_t {
public:
    tempPicture_t(const gltfEmbeddedImage_t& image, std::string& error) {
        std::error_code ec;
        std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
        if (ec) dir = "/tmp";
        std::string pattern = (dir / ("vexlar-gltf-XXXXXX" + image.extension)).string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkstemps(name.data(), static_cast<int>(image.extension.size()));
        if (fd < 0) {
            error = "cannot write a temporary file for an embedded picture";
            return;
        }
        path = name.data();
        std::size_t done = 0;
        while (done < image.bytes.size()) {
            const ssize_t n = ::write(fd, image.bytes.data() + done, image.bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
        if (done != image.bytes.size()) error = "cannot write a temporary file for an embedded picture";
    }
    ~tempPicture_t() {
        if (!path.empty()) std::remove(path.c_str());
    }
    tempPicture_t(const tempPicture_t&) = delete;
    tempPicture_t& operator=(const tempPicture_t&) = delete;
    std::string path;
};

// A camera on the +z side of the box, a little above and to the right,
// that sees all of it.
gltfCamera_t framingCamera(const bound_t& box) {
    gltfCamera_t c;
    c.name = "framing";
    const point3d_t centre((box.a.x + box.g.x) * 0.5f, (box.a.y + box.g.y) * 0.5f,
                           (box.a.z + box.g.z) * 0.5f);
    const float radius = std::max(0.5f * (box.g - box.a).length(), 1e-3f);
    vector3d_t dir(0.4f, 0.35f, 1.0f);
    dir.normalize();
    c.yfov = 0.75f;
    const float distance = 1.1f * radius / std::sin(0.5f * c.yfov * 0.75f);
    c.from = centre + distance * dir;
    vector3d_t look = centre - c.from;
    look.normalize();
    c.to = c.from + look;
    c.up = c.from + vector3d_t(0, 1, 0);
    return c;
}

} // namespace

bool isGltfFile(const std::string& path) {
    auto ends = [&path](const std::string& e) {
        if (path.size() < e.size()) return false;
        for (std::size_t i = 0; i < e.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(path[path.size() - e.size() + i])) != e[i])
                return false;
        return true;
    };
    return ends(".gltf") || ends(".glb");
}

std::string gltfStandaloneScene(const std::string& fileName) {
    json model = json::object();
    model["type"] = "gltf";
    model["file"] = fileName;
    model["camera"] = "auto";
    model["lights"] = "auto";
    std::string stem =
        fileName.substr(fileName.rfind('/') == std::string::npos ? 0 : fileName.rfind('/') + 1);
    stem = stem.substr(0, stem.rfind('.'));
    if (stem.empty()) stem = "model";
    json doc = json::object();
    doc["objects"] = json::object();
    doc["objects"][stem] = model;
    return doc.dump(2) + "\n";
}

void readGltfObject(sectionReader_t& r, const std::string& name, const sceneSource_t& source,
                    sceneTarget_t& target, diagnostics_t& diag) {
    const std::string file = r.requiredText("file");
    const jsonPath_t fileAt = r.path() / "file";
    const std::string path = resolvePath(source.baseDir, file);

    cameraUse_t cameraUse = cameraUse_t::scene;
    std::string cameraName;
    if (const json* c = r.member("camera")) {
        if (c->is_boolean()) {
            cameraUse = c->get<bool>() ? cameraUse_t::first : cameraUse_t::scene;
        } else if (c->is_string() && !c->get<std::string>().empty()) {
            cameraName = c->get<std::string>();
            cameraUse = cameraName == "auto" ? cameraUse_t::automatic : cameraUse_t::named;
        } else {
            diag.fail(r.path() / "camera",
                      "expected true, false, \"auto\" or the name of a camera of the file, found " +
                          describeKind(*c));
        }
    }
    bool lights = true, lightsAuto = false;
    if (const json* l = r.member("lights")) {
        if (l->is_boolean())
            lights = l->get<bool>();
        else if (l->is_string() && l->get<std::string>() == "auto")
            lightsAuto = true;
        else
            diag.fail(r.path() / "lights", "expected true, false or \"auto\", found " + describeKind(*l));
    }
    const shader_t* override = nullptr;
    if (r.has("shader")) {
        const std::string s = r.text("shader", "");
        override = target.shader(s);
        if (!override) diag.fail(r.path() / "shader", "there is no shader named \"" + s + "\"");
    }
    float smooth = -1.0f;
    if (r.has("auto_smooth")) smooth = r.number("auto_smooth", 0.0f, 0.0f, 180.0f);
    gltfImportOptions_t options;
    options.prefix = name + "/";
    options.baseDir = folderOf(path);
    if (const json* t = r.member("transform"))
        options.placement = buildTransform(*t, r.path() / "transform", diag);
    const bool castShadows = r.flag("cast_shadows", true);

    std::string bytes, error;
    if (!readFile(path, bytes, error)) diag.fail(fileAt, "cannot read glTF file \"" + path + "\": " + error);
    gltfScene_t g;
    if (!importGltf(bytes, options, g, error)) diag.fail(fileAt, "glTF file \"" + path + "\": " + error);
    for (const std::string& w : g.warnings) diag.warn(fileAt, "glTF file \"" + path + "\": " + w);

    const jsonPath_t at = r.path();
    for (const auto& t : g.textures) {
        json desc = t.second;
        std::unique_ptr<tempPicture_t> temp;
        for (const gltfEmbeddedImage_t& img : g.images) {
            if (img.texture != t.first) continue;
            temp.reset(new tempPicture_t(img, error));
            if (!error.empty()) diag.fail(fileAt, error);
            desc["filename"] = temp->path;
        }
        target.addTexture(t.first, desc, at / "textures" / t.first);
    }
    if (!override)
        for (const auto& s : g.shaders) target.addShader(s.first, s.second, at / "shaders" / s.first);

    // A mesh shown by several nodes is built once, at its first node, and
    // shown again by instances placed relative to that one.
    std::vector<object3d_t*> built(g.meshes.size(), nullptr);
    std::vector<matrix4x4_t> builtAt(g.meshes.size());
    std::vector<std::size_t> uses(g.meshes.size(), 0);
    for (const gltfPlacement_t& p : g.placements) ++uses[p.mesh];
    bound_t box;
    bool anyBox = false;
    for (const gltfPlacement_t& p : g.placements) {
        gltfMesh_t& m = g.meshes[p.mesh];
        object3d_t* obj = nullptr;
        if (built[p.mesh]) {
            matrix4x4_t back = builtAt[p.mesh];
            back.inverse();
            const matrix4x4_t relative = p.world * back;
            if (checkPlacement(relative).empty()) obj = referenceObject_t::factory(relative, built[p.mesh]);
        }
        if (!obj) {
            std::vector<const shader_t*> shaders;
            for (const std::string& s : m.shaderNames)
                shaders.push_back(override ? override : target.shader(s));
            meshData_t data = --uses[p.mesh] > 0 ? m.data : std::move(m.data);
            meshExtras_t extras = uses[p.mesh] > 0 ? m.extras : std::move(m.extras);
            if (override) extras.faceShader.clear();
            meshObject_t* mesh = buildMeshWith(std::move(data), std::move(extras), p.world, smooth, shaders);
            mesh->setShader(override);
            if (!built[p.mesh]) {
                built[p.mesh] = mesh;
                builtAt[p.mesh] = p.world;
            }
            obj = mesh;
        } else {
            --uses[p.mesh];
        }
        obj->setCastShadows(castShadows);
        const bound_t b = obj->getBound();
        if (!anyBox) {
            box = b;
            anyBox = true;
        } else {
            box = bound_t(box, b);
        }
        target.addObject(name + "/" + p.node, obj);
    }

    bool cameraSet = false;
    if (cameraUse == cameraUse_t::first || cameraUse == cameraUse_t::automatic) {
        if (!g.cameras.empty()) {
            target.useCamera(g.cameras.front());
            cameraSet = true;
        } else if (cameraUse == cameraUse_t::first) {
            diag.fail(r.path() / "camera", "glTF file \"" + path + "\" has no camera");
        } else if (anyBox) {
            target.useCamera(framingCamera(box));
            cameraSet = true;
        }
    } else if (cameraUse == cameraUse_t::named) {
        std::string known;
        for (const gltfCamera_t& c : g.cameras) {
            if (c.name == cameraName) {
                target.useCamera(c);
                cameraSet = true;
                break;
            }
            known += (known.empty() ? "\"" : ", \"") + c.name + "\"";
        }
        if (!cameraSet)
            diag.fail(r.path() / "camera", "glTF file \"" + path + "\" has no camera named \"" + cameraName +
                                               "\" (it has: " + (known.empty() ? "none" : known) + ")");
    }
    (void)cameraSet;
    if (lights || lightsAuto)
        for (const auto& l : g.lights) target.addLight(l.first, l.second, at / "lights" / l.first);
    if (lightsAuto && g.lights.empty()) {
        // One light at the eye, strong enough to light what it looks at.
        point3d_t from, to;
        target.currentView(from, to);
        float d = anyBox ? 0.5f * (box.g - box.a).length() +
                               (from - point3d_t((box.a.x + box.g.x) * 0.5f, (box.a.y + box.g.y) * 0.5f,
                                                 (box.a.z + box.g.z) * 0.5f))
                                   .length()
                         : (to - from).length();
        json desc = json::object();
        desc["type"] = "point";
        desc["from"] = json::array({from.x, from.y, from.z});
        desc["power"] = std::max(d * d, 1e-6f);
        target.addLight(name + "/headlight", desc, at / "lights" / "headlight");
    }
}

} // namespace host
} // namespace vexlar
