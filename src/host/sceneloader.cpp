#include "host/sceneloader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host/filecheck.h"
#include "host/geometrycheck.h"
#include "host/gltfobject.h"
#include "host/imagewrite.h"
#include "host/instancechain.h"
#include "host/jsonparse.h"
#include "host/limits.h"
#include "host/loadprogress.h"
#include "host/meshcache.h"
#include "host/meshload.h"
#include "host/modules.h"
#include "host/objmaterials.h"
#include "host/transform.h"
#include "vexlarcore/forkedscene.h"
#include "vexlarcore/params.h"
#include "vexlarcore/reference.h"
#include "vexlarcore/sphere.h"

namespace vexlar {
namespace host {

loadedScene_t::~loadedScene_t() {
    // The scene only points at the rest; instances point at the objects
    // created before them; shaders may point at textures.
    scene.reset();
    for (auto it = objectList.rbegin(); it != objectList.rend(); ++it) delete it->second;
    for (auto& l : lightList) delete l.second;
    for (auto& s : shaders) delete s.second;
    for (auto& t : textures) delete t.second;
    delete background;
    for (filter_t* f : filters) delete f;
}

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string resolvePath(const std::string& baseDir, const std::string& name) {
    if (name.empty() || name[0] == '/' || baseDir.empty()) return name;
    if (baseDir.back() == '/') return baseDir + name;
    return baseDir + "/" + name;
}

bool readFile(const std::string& path, std::string& out, std::string& error) {
    error = inputFileFault(path, maxSceneFileBytes);
    if (!error.empty()) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        error = "read error";
        return false;
    }
    out = buffer.str();
    return true;
}

void applyOverrides(json& doc, const sceneOverrides_t& overrides, jsonPositions_t& positions) {
    auto place = [&doc, &positions](const std::vector<std::string>& keys, const json& value,
                                    const std::string& origin) {
        json* node = &doc;
        jsonPath_t at;
        for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
            at = at / keys[i];
            json& next = (*node)[keys[i]];
            if (next.is_null()) {
                // A section the option creates is the option's, not the file's.
                next = json::object();
                positions.markOverride(at.pointer(), origin);
            }
            if (!next.is_object())
                throw sceneError_t(origin + ": error: " + at.dotted() + " is not an object");
            node = &next;
        }
        (*node)[keys.back()] = value;
    };
    for (const auto& kv : overrides.settings) {
        const std::string origin = "--set " + kv.first + "=" + kv.second;
        std::vector<std::string> keys;
        std::stringstream in(kv.first);
        for (std::string k; std::getline(in, k, '.');) keys.push_back(k);
        bool emptyKey = keys.size() < 2 || kv.first.back() == '.';
        for (const std::string& k : keys) emptyKey = emptyKey || k.empty();
        if (emptyKey || (keys[0] != "camera" && keys[0] != "render" && keys[0] != "output"))
            throw sceneError_t(origin + ": error: expected a setting below camera, render or output, "
                                        "such as camera.focal or render.antialiasing.passes");
        // The value is JSON when it parses as JSON, a string otherwise, so
        // that --set output.file=x.png needs no quotes.
        json value = json::parse(kv.second, nullptr, false);
        if (value.is_discarded()) value = kv.second;
        place(keys, value, origin);
        jsonPath_t at;
        for (const std::string& k : keys) at = at / k;
        positions.markOverride(at.pointer(), origin);
    }
    if (overrides.width > 0 && overrides.height > 0) {
        place({"camera", "resolution"}, json::array({overrides.width, overrides.height}), "--size");
        positions.markOverride("/camera/resolution", "--size " + std::to_string(overrides.width) + "x" +
                                                         std::to_string(overrides.height));
    }
    if (overrides.hasRegion) {
        const int* r = overrides.region;
        place({"render", "region"}, json::array({r[0], r[1], r[2], r[3]}), "--region");
        positions.markOverride("/render/region", "--region " + std::to_string(r[0]) + " " +
                                                     std::to_string(r[1]) + " " + std::to_string(r[2]) + " " +
                                                     std::to_string(r[3]));
    }
}

namespace {

// What plug-in factories see while the loader builds their objects.
class hostContext_t : public pluginContext_t {
public:
    hostContext_t(loadedScene_t& loaded, const std::string& baseDir) : loaded(loaded), baseDir(baseDir) {}

    scene_t* scene() override { return loaded.scene.get(); }
    texture_t* findTexture(const std::string& name) override {
        auto it = loaded.textures.find(name);
        return it == loaded.textures.end() ? nullptr : it->second;
    }
    shader_t* findShader(const std::string& name) override {
        auto it = loaded.shaders.find(name);
        return it == loaded.shaders.end() ? nullptr : it->second;
    }
    std::string resolvePath(const std::string& name) const override {
        return host::resolvePath(baseDir, name);
    }
    void warn(const std::string& message) override { messages.push_back(message); }
    void error(const std::string& message) override { errors.push_back(message); }

    std::vector<std::string> messages;
    std::vector<std::string> errors;

private:
    loadedScene_t& loaded;
    std::string baseDir;
};

class loader_t : public sceneTarget_t {
public:
    loader_t(const sceneSource_t& source, const pluginManager_t& plugins, diagnostics_t& diag,
             loadedScene_t& out)
        : source(source), plugins(plugins), diag(diag), out(out), context(out, source.baseDir) {}

    void load(const json& doc, const loadOptions_t& options) {
        sectionReader_t root(doc, jsonPath_t(), diag);
        meshCacheOption = options.meshCache;
        readCamera(root);
        if (options.workers > 1) {
            forkedscene_t* f = new forkedscene_t();
            f->setWorkers(options.workers);
            out.scene.reset(f);
        } else {
            out.scene.reset(new scene_t());
        }
        readRender(root);
        out.scene->setCamera(out.camera.get());
        readPlugins(root, "textures", pluginKind_t::texture);
        readPlugins(root, "shaders", pluginKind_t::shader);
        readPlugins(root, "lights", pluginKind_t::light);
        if (const json* bg = root.member("background")) readBackground(*bg, jsonPath_t() / "background");
        if (const json* objects = root.member("objects")) readObjects(*objects, jsonPath_t() / "objects");
        if (const json* filters = root.member("filters")) readFilters(*filters, jsonPath_t() / "filters");
        if (const json* output = root.member("output")) readOutput(*output, jsonPath_t() / "output");
        root.finish();
    }

private:
    void readCamera(sectionReader_t& root) {
        const json* cam = root.member("camera");
        const json empty = json::object();
        sectionReader_t r(cam ? *cam : empty, jsonPath_t() / "camera", diag);
        std::string type = r.text("type", "perspective");
        cameraType ct = perspectiveCamera;
        if (type == "orthographic" || type == "ortho")
            ct = orthoCamera;
        else if (type != "perspective")
            diag.fail(r.path() / "type",
                      "unknown camera type \"" + type + "\" (known: perspective, orthographic)");
        point3d_t from = r.point("from", point3d_t(0, 0, 5));
        point3d_t to = r.point("to", point3d_t(0, 0, 0));
        point3d_t up = r.point("up", point3d_t(from.x, from.y + 1.0f, from.z));
        if ((to - from).length() == 0.0f) diag.fail(r.path() / "to", "the camera looks at its own position");
        if (((up - from) ^ (to - from)).length() == 0.0f)
            diag.fail(r.path() / "up",
                      "the up point lies on the line of sight; it must lie above the camera");
        out.width = 640;
        out.height = 480;
        resolutionGiven = r.has("resolution");
        if (const json* res = r.member("resolution")) {
            const jsonPath_t at = r.path() / "resolution";
            if (!res->is_array() || res->size() != 2)
                diag.fail(at, "expected [width, height], found " + describeKind(*res));
            int wh[2];
            for (std::size_t i = 0; i < 2; ++i) {
                const json& v = (*res)[i];
                double d = v.is_number() ? v.get<double>() : 0;
                if (!v.is_number() || std::floor(d) != d || d < 1 || d > 65535)
                    diag.fail(at / i, "expected a whole number of pixels from 1 to 65535, found " +
                                          (v.is_number() ? v.dump() : describeKind(v)));
                wh[i] = static_cast<int>(d);
            }
            out.width = wh[0];
            out.height = wh[1];
        }
        float focal = r.positive("focal", 1.0f);
        float aperture = r.number("aperture", 0.0f, 0.0f);
        float lookDistance = (to - from).length();
        float focus = r.positive("focus_distance", lookDistance);
        bool qmc = r.flag("use_qmc", false);
        r.finish();
        out.camera.reset(new camera_t(from, to, up, out.width, out.height, focal, aperture, focus, qmc, ct));
    }

    void readRender(sectionReader_t& root) {
        // A setting the file leaves out keeps the new scene's value.
        using defaults = sceneDefaults_t;
        scene_t& s = *out.scene;
        out.region = pixelRect_t{0, out.width, 0, out.height};

        const json* render = root.member("render");
        if (!render) return;
        sectionReader_t r(*render, jsonPath_t() / "render", diag);
        s.setMaxRayLevel(r.integer("ray_depth", defaults::maxRayLevel, 0, 1000));
        s.setRayBias(r.number("ray_bias", defaults::rayBias, 0.0f));
        s.setSelfShadowBias(r.number("self_shadow_bias", defaults::selfShadowBias, 0.0f));
        s.setGamma(r.positive("gamma", defaults::gamma));
        s.setExposure(r.number("exposure", defaults::exposure));
        if (const json* fog = r.member("fog")) {
            sectionReader_t f(*fog, r.path() / "fog", diag);
            float density = f.number("density", defaults::fogDensity, 0.0f);
            s.setFog(density, f.colour("color", color_t(0, 0, 0)));
            f.finish();
        }
        if (const json* aa = r.member("antialiasing")) {
            sectionReader_t a(*aa, r.path() / "antialiasing", diag);
            int passes = a.integer("passes", 1, 0, 1000);
            int samples = a.integer("samples", 4, 0, maxSamplesPerPass);
            if (passes * samples > maxSamplesPerPixel)
                diag.fail(a.path(), "passes * samples must not exceed " + std::to_string(maxSamplesPerPixel) +
                                        " samples a pixel (" + std::to_string(passes) + " * " +
                                        std::to_string(samples) + ")");
            float width = a.positive("pixel_width", defaults::aaPixelWidth);
            float threshold = a.number("threshold", defaults::aaThreshold, 0.0f);
            s.setAntialiasing(passes, samples, width, threshold);
            a.finish();
        }
        if (const json* ind = r.member("indirect")) {
            sectionReader_t i(*ind, r.path() / "indirect", diag);
            bool enabled = i.flag("enabled", true);
            int samples = i.integer("samples", 4, 0, 1000);
            float power = i.number("power", defaults::indirectPower, 0.0f);
            // The library adds the n x n gathered rays up; `power` scales
            // their average, so that a surface of albedo a under light L
            // gathers a * L whatever the sample count.
            const float rays = static_cast<float>(samples) * static_cast<float>(samples);
            s.setIndirect(enabled, samples, samples > 0 ? power / rays : power);
            if (i.has("stratum_u") || i.has("stratum_phi")) {
                float u = i.number("stratum_u", s.getIndirectStratumU(), 0.0f);
                if (samples * u > 1.0f)
                    diag.fail(i.path() / "stratum_u", "samples * stratum_u must not exceed 1 (" +
                                                          std::to_string(samples) + " * " + formatNumber(u) +
                                                          ")");
                s.setIndirectStrata(u, i.number("stratum_phi", s.getIndirectStratumPhi(), 0.0f));
            }
            i.finish();
        }
        if (const json* region = r.member("region")) readRegion(*region, r.path() / "region");
        if (r.has("accelerator")) {
            const std::string a = r.text("accelerator", "exact");
            if (a != "exact" && a != "embree")
                diag.fail(r.path() / "accelerator", "expected \"exact\" or \"embree\", found \"" + a + "\"");
            if (a == "embree" && !embreeAvailable())
                diag.fail(r.path() / "accelerator",
                          "this vexlar was built without Embree (Debian: libembree-dev)");
            useEmbree = a == "embree";
        }
        if (const json* cache = r.member("mesh_cache")) {
            const jsonPath_t at = r.path() / "mesh_cache";
            if (cache->is_boolean()) {
                sceneMeshCache = cache->get<bool>() ? std::string() : std::string("off");
            } else if (cache->is_string() && !cache->get<std::string>().empty()) {
                const std::string v = cache->get<std::string>();
                sceneMeshCache = v == "off" ? v : resolvePath(source.baseDir, v);
            } else {
                diag.fail(at,
                          "expected a folder name, \"off\", true or false, found " + describeKind(*cache));
            }
        }
        s.setRepeatFirst(r.flag("repeat_first", false));
        if (r.has("seed")) {
            out.hasSeed = true;
            out.seed = r.integer("seed", 0, 1, 2147483646);
        }
        r.finish();
    }

    void readRegion(const json& v, const jsonPath_t& at) {
        if (!v.is_array() || v.size() != 4)
            diag.fail(at, "expected [x0, x1, y0, y1] in pixels, found " + describeKind(v));
        int r[4];
        const int limit[4] = {out.width, out.width, out.height, out.height};
        for (std::size_t i = 0; i < 4; ++i) {
            const json& e = v[i];
            double d = e.is_number() ? e.get<double>() : -1;
            if (!e.is_number() || std::floor(d) != d || d < 0 || d > limit[i])
                diag.fail(at / i, "expected a whole pixel position from 0 to " + std::to_string(limit[i]) +
                                      ", found " + (e.is_number() ? e.dump() : describeKind(e)));
            r[i] = static_cast<int>(d);
        }
        if (r[0] >= r[1] || r[2] >= r[3])
            diag.fail(
                at, "the region is empty: it needs x0 < x1 and y0 < y1 (pixels x0 <= x < x1, y0 <= y < y1)");
        out.region = pixelRect_t{r[0], r[1], r[2], r[3]};
        // Sample positions are tested against screen coordinates; putting the
        // bounds half a pixel before the first and the last pixel keeps every
        // anti-aliasing sample of the rectangle's pixels (offsets below half
        // a pixel) inside and every other pixel's first sample outside.
        const float w = static_cast<float>(out.width), h = static_cast<float>(out.height);
        auto sx = [w](float x) { return 2.0f * x / w - 1.0f; };
        auto sy = [h](float y) { return 1.0f - 2.0f * y / h; };
        out.scene->setRegion(sx(static_cast<float>(r[0]) - 0.5f), sx(static_cast<float>(r[1]) - 0.5f),
                             sy(static_cast<float>(r[3]) - 0.5f), sy(static_cast<float>(r[2]) - 0.5f));
    }

    // Creates one plug-in object of `kind` from its description.
    template <class T>
    T* makePlugin(pluginKind_t kind, const std::string& name, const json& desc, const jsonPath_t& at) {
        const std::string kindName = pluginKindName(kind);
        if (!desc.is_object())
            diag.fail(at, "expected an object with a \"type\", found " + describeKind(desc));
        auto typeIt = desc.find("type");
        if (typeIt == desc.end()) diag.fail(at, kindName + " \"" + name + "\" has no \"type\"");
        if (!typeIt->is_string()) diag.fail(at / "type", "expected a string, found " + describeKind(*typeIt));
        const std::string type = typeIt->get<std::string>();
        if (!plugins.has(kind, type)) {
            std::string known = plugins.typeNames(kind);
            diag.fail(at / "type", "unknown " + kindName + " type \"" + type + "\" (known: " +
                                       (known.empty() ? "none; no plug-ins were loaded" : known) + ")");
        }
        paramMap_t params;
        fillParams(desc, at, diag, {"type"}, params);
        context.messages.clear();
        context.errors.clear();
        T* made = create<T>(type, params);
        const std::string who = kindName + " \"" + name + "\" (" + type + ")";
        if (!context.errors.empty()) {
            delete made;
            diag.fail(at, who + ": " + joinMessages(context.errors));
        }
        if (!made) {
            std::string why =
                context.messages.empty() ? "the plug-in could not build it" : joinMessages(context.messages);
            diag.fail(at, who + ": " + why);
        }
        for (const std::string& m : context.messages) diag.warn(at, who + ": " + m);
        for (const auto& entry : params.entries())
            if (!entry.second.used)
                diag.warn(at / entry.first,
                          "unused parameter: the " + kindName + " type \"" + type + "\" does not read it");
        return made;
    }

    static std::string joinMessages(const std::vector<std::string>& messages) {
        std::string s;
        for (const std::string& m : messages) s += (s.empty() ? "" : "; ") + m;
        return s;
    }

    template <class T> T* create(const std::string& type, paramMap_t& params);

    void readPlugins(sectionReader_t& root, const std::string& section, pluginKind_t kind) {
        const json* all = root.member(section);
        if (!all) return;
        const jsonPath_t at = jsonPath_t() / section;
        if (!all->is_object())
            diag.fail(at, "expected an object of named " + section +
                              " { \"name\": { \"type\": ... } }, found " + describeKind(*all));
        for (auto it = all->begin(); it != all->end(); ++it) {
            const std::string& name = it.key();
            const jsonPath_t here = at / name;
            switch (kind) {
            case pluginKind_t::texture:
                out.textures[name] = makePlugin<texture_t>(kind, name, it.value(), here);
                break;
            case pluginKind_t::shader:
                out.shaders[name] = makePlugin<shader_t>(kind, name, it.value(), here);
                break;
            case pluginKind_t::light: {
                light_t* l = makePlugin<light_t>(kind, name, it.value(), here);
                out.lightList.emplace_back(name, l);
                out.scene->addLight(l);
                break;
            }
            case pluginKind_t::background:
                break;
            }
        }
    }

    void readBackground(const json& desc, const jsonPath_t& at) {
        out.background = makePlugin<background_t>(pluginKind_t::background, "background", desc, at);
        out.scene->setBackground(out.background);
    }

    const shader_t* shaderFor(sectionReader_t& r, const std::string& objectName) {
        if (!r.has("shader")) {
            diag.warn(r.path(), "object \"" + objectName + "\" has no \"shader\"; it renders black");
            return nullptr;
        }
        std::string name = r.text("shader", "");
        auto it = out.shaders.find(name);
        if (it == out.shaders.end()) {
            std::vector<std::string> names;
            for (const auto& s : out.shaders) names.push_back(s.first);
            diag.fail(r.path() / "shader", "there is no shader named \"" + name + "\" (defined: " +
                                               (names.empty() ? "none" : joinNames(names)) + ")");
        }
        return it->second;
    }

    matrix4x4_t placement(sectionReader_t& r) {
        const json* t = r.member("transform");
        if (!t) return matrix4x4_t();
        return buildTransform(*t, r.path() / "transform", diag);
    }

    void readObjects(const json& all, const jsonPath_t& at) {
        if (!all.is_object())
            diag.fail(at, "expected an object of named objects { \"name\": { \"type\": ... } }, found " +
                              describeKind(all));
        std::map<std::string, object3d_t*> byName;
        for (auto it = all.begin(); it != all.end(); ++it) {
            const std::string& name = it.key();
            sectionReader_t r(it.value(), at / name, diag);
            std::string type = r.requiredText("type");
            object3d_t* obj = nullptr;
            if (type == "gltf") {
                readGltfObject(r, name, source, *this, diag);
                r.finish();
                continue;
            }
            if (type == "sphere") {
                point3d_t c = r.point("center", point3d_t(0, 0, 0));
                float radius = r.positive("radius", 1.0f);
                const std::string fault = sphereExtentFault(c, radius);
                if (!fault.empty()) diag.fail(r.path(), fault);
                const shader_t* sh = shaderFor(r, name);
                sphere_t* s = new sphere_t(c, radius);
                s->setShader(sh);
                obj = s;
            } else if (type == "mesh") {
                obj = readMesh(r, name);
            } else if (type == "instance") {
                std::string of = r.requiredText("of");
                auto target = byName.find(of);
                if (target == byName.end())
                    diag.fail(r.path() / "of",
                              "there is no object named \"" + of +
                                  "\" before this instance (instances refer to objects listed above them)");
                obj = makeInstance(placement(r), target->second);
            } else {
                diag.fail(r.path() / "type",
                          "unknown object type \"" + type + "\" (known: sphere, mesh, instance, gltf)");
            }
            out.objectList.emplace_back(name, obj);
            if (r.has("cast_shadows")) obj->setCastShadows(r.flag("cast_shadows", true));
            r.finish();
            byName[name] = obj;
            out.scene->addObject(obj);
        }
    }

    object3d_t* readMesh(sectionReader_t& r, const std::string& name) {
        meshData_t data;
        std::string cachePath; // the mesh file, when its mesh may be cached
        cacheKey_t cacheKey;
        meshFileNotes_t fileNotes;
        if (r.has("file")) {
            std::string file = r.text("file", "");
            const jsonPath_t at = r.path() / "file";
            auto mem = source.memoryFiles.find(file);
            std::string path = resolvePath(source.baseDir, file);
            if (r.has("vertices") || r.has("faces"))
                diag.fail(r.path(), "give either \"file\" or \"vertices\" and \"faces\", not both");
            if (mem != source.memoryFiles.end()) {
                std::string error;
                if (!parseObj(*mem->second, data, error))
                    diag.fail(at, "mesh file \"" + path + "\": " + error);
            } else {
                cachePath = path;
            }
        } else {
            data = readInlineMesh(r);
        }
        float smooth = -1.0f;
        if (r.has("auto_smooth")) smooth = r.number("auto_smooth", 0.0f, 0.0f, 180.0f);
        matrix4x4_t m = placement(r);
        if (r.has("file")) {
            // Normals, materials and partial texture coordinates (objmaterials.h).
            const std::string file = r.text("file", "");
            auto mem = source.memoryFiles.find(file);
            const std::string* text = mem == source.memoryFiles.end() ? nullptr : mem->second;
            if (text == nullptr) {
                // Refused before anything reads it: a FIFO or device would block or never end.
                const std::string path = resolvePath(source.baseDir, file);
                const std::string fault = inputFileFault(path, maxMeshFileBytes());
                if (!fault.empty())
                    diag.fail(r.path() / "file", "cannot read mesh file \"" + path + "\": " + fault);
            }
            const shader_t* given = r.has("shader") ? shaderFor(r, name) : nullptr;
            // A cached mesh comes with what reading its file would report.
            if (!useEmbree && !cachePath.empty())
                if (meshObject_t* mesh =
                        cachedMesh(cachePath, r.path() / "file", m, smooth, given, cacheKey)) {
                    mesh->setShader(shaderFor(r, name));
                    return mesh;
                }
            bool materials = false;
            if (meshObject_t* mesh =
                    objMeshWithDetails(resolvePath(source.baseDir, file), text, name, m, smooth, given, *this,
                                       r.path() / "file", diag, materials, &fileNotes)) {
                if (!given && !materials) shaderFor(r, name);
                return mesh;
            }
        }
        const shader_t* sh = shaderFor(r, name);
        if (useEmbree) {
            if (!cachePath.empty()) data = readObjFile(cachePath, r.path() / "file");
            failOnCoordinates(data, m, r.path());
            std::string error;
            object3d_t* fast =
                wrapWithEmbree(buildMesh(std::move(data), m, smooth, meshBuild_t{true, nullptr}), error);
            if (fast == nullptr) diag.fail(r.path(), error);
            fast->setShader(sh);
            return fast;
        }
        if (cachePath.empty()) failOnCoordinates(data, m, r.path());
        meshObject_t* mesh = cachePath.empty()
                                 ? buildMesh(std::move(data), m, smooth, meshBuild_t())
                                 : meshFromFile(cachePath, r.path() / "file", m, smooth, cacheKey, fileNotes);
        mesh->setShader(sh);
        return mesh;
    }

    void failOnCoordinates(const meshData_t& data, const matrix4x4_t& m, const jsonPath_t& at) const {
        const std::string fault = meshCoordinateFault(data.vertices, m);
        if (!fault.empty()) diag.fail(at, "mesh: " + fault);
    }

    // The triangles of an OBJ file, read line by line (the text of a big
    // mesh is never held whole), showing the progress of the read.
    meshData_t readObjFile(const std::string& path, const jsonPath_t& at) {
        const std::string fault = inputFileFault(path, maxMeshFileBytes());
        if (!fault.empty()) diag.fail(at, "cannot read mesh file \"" + path + "\": " + fault);
        meshData_t data;
        progressFile_t in(path);
        if (!in) diag.fail(at, "cannot read mesh file \"" + path + "\": " + std::strerror(errno));
        std::string error;
        if (!parseObjStream(in, data, error)) {
            if (in.bad()) error = "read error";
            diag.fail(at, "mesh file \"" + path + "\": " + error);
        }
        return data;
    }

    // The cache folder in force: --mesh-cache, render.mesh_cache, then the
    // environment and the default.
    meshCacheSettings_t cacheSettings() const {
        meshCacheSettings_t s;
        const std::string& chosen = !meshCacheOption.empty() ? meshCacheOption : sceneMeshCache;
        s.folder = chosen.empty() ? defaultMeshCacheFolder() : (chosen == "off" ? std::string() : chosen);
        return s;
    }

    // The key of a mesh file's cache entry; `keyed` is false when the cache
    // is off or the file cannot be read.
    struct cacheKey_t {
        bool keyed = false;
        std::array<std::uint64_t, 2> key{};
    };

    // The mesh of the OBJ file `path` from its cache entry, reporting what
    // its file says; null (with `key` set for storing the mesh) when the cache is
    // off or has no usable entry, or when the faces name materials and no
    // `shader` is given (the file then builds their shaders).
    meshObject_t* cachedMesh(const std::string& path, const jsonPath_t& at, const matrix4x4_t& m,
                             float smooth, const shader_t* shader, cacheKey_t& key) {
        const meshCacheSettings_t cache = cacheSettings();
        key.keyed = !cache.folder.empty() && meshCacheKey(path, m, key.key);
        meshCacheEntry_t entry;
        std::string why;
        if (!key.keyed || !readMeshCache(cache, key.key, entry, why)) {
            if (!why.empty()) diag.warn(at, "mesh cache: " + why);
            return nullptr;
        }
        if (entry.notes.namesMaterials && !shader) return nullptr;
        meshObject_t* mesh = buildMesh(std::move(entry.data), m, smooth, meshBuild_t{false, &entry.tree});
        if (mesh->treeWasPrebuilt()) {
            reportMeshFileNotes(path, entry.notes, smooth, at, diag);
            return mesh;
        }
        delete mesh;
        diag.warn(at, "mesh cache: the cached tree of \"" + path + "\" did not check out; rebuilt");
        return nullptr;
    }

    // A mesh from an OBJ file, built (and stored in the mesh cache under
    // `key` with the file's `notes`).
    meshObject_t* meshFromFile(const std::string& path, const jsonPath_t& at, const matrix4x4_t& m,
                               float smooth, const cacheKey_t& key, const meshFileNotes_t& notes) {
        const meshCacheSettings_t cache = cacheSettings();
        std::string why;
        meshData_t data = readObjFile(path, at); // refuses what is not a readable file
        failOnCoordinates(data, m, at);
        const bool store = key.keyed && data.faces.size() >= cache.minTriangles;
        std::vector<point3d_t> objectSpace;
        if (store) objectSpace = data.vertices;
        meshObject_t* mesh =
            withTreeProgress([&] { return buildMesh(std::move(data), m, smooth, meshBuild_t()); });
        if (store) {
            meshData_t kept;
            kept.vertices.swap(objectSpace);
            kept.faces.reserve(mesh->triangles.size());
            const point3d_t* base = mesh->points.data();
            for (const triangle_t& t : mesh->triangles)
                kept.faces.push_back({static_cast<int>(t.pa - base), static_cast<int>(t.pb - base),
                                      static_cast<int>(t.pc - base)});
            bool uv = !mesh->triangles.empty();
            for (const triangle_t& t : mesh->triangles) uv = uv && t.hasUV;
            if (uv) kept.faceUV = mesh->uvValues;
            if (!writeMeshCache(cache, key.key, kept, mesh->compactTree(), notes, why))
                diag.warn(at, "mesh cache: " + why);
        }
        return mesh;
    }

    // What a gltf object adds to the scene (gltfobject.h).
    void addTexture(const std::string& name, const json& desc, const jsonPath_t& at) override {
        out.textures[name] = makePlugin<texture_t>(pluginKind_t::texture, name, desc, at);
    }
    void addShader(const std::string& name, const json& desc, const jsonPath_t& at) override {
        out.shaders[name] = makePlugin<shader_t>(pluginKind_t::shader, name, desc, at);
    }
    void addLight(const std::string& name, const json& desc, const jsonPath_t& at) override {
        light_t* l = makePlugin<light_t>(pluginKind_t::light, name, desc, at);
        out.lightList.emplace_back(name, l);
        out.scene->addLight(l);
    }
    const shader_t* shader(const std::string& name) override {
        auto it = out.shaders.find(name);
        return it == out.shaders.end() ? nullptr : it->second;
    }
    void addObject(const std::string& name, object3d_t* obj) override {
        out.objectList.emplace_back(name, obj);
        out.scene->addObject(obj);
    }
    void currentView(point3d_t& from, point3d_t& to) const override {
        from = out.camera->pos;
        to = out.camera->pos + out.camera->lookDistance * out.camera->viewDir;
    }
    void useCamera(const gltfCamera_t& c) override {
        // The file's aspect ratio decides the height unless the scene gave
        // a resolution (or a region of one).
        if (c.aspect > 0 && !resolutionGiven && out.region.x1 == out.width && out.region.y1 == out.height &&
            out.region.x0 == 0 && out.region.y0 == 0) {
            out.height = std::max(1, std::min(65535, static_cast<int>(std::lround(out.width / c.aspect))));
            out.region = pixelRect_t{0, out.width, 0, out.height};
        }
        const float shape = static_cast<float>(out.height) / static_cast<float>(out.width);
        const float L = (c.to - c.from).length();
        const float focal =
            c.orthographic ? shape * L / (2.0f * c.ymag) : shape / (2.0f * std::tan(0.5f * c.yfov));
        const camera_t& old = *out.camera;
        out.camera.reset(new camera_t(c.from, c.to, c.up, out.width, out.height, focal, old.aperture,
                                      old.focusDistance, old.useQmc,
                                      c.orthographic ? orthoCamera : perspectiveCamera));
        out.scene->setCamera(out.camera.get());
    }

    void readFilters(const json& all, const jsonPath_t& at) {
        if (!all.is_array())
            diag.fail(at, "expected a list of filters [ { \"type\": ... } ], found " + describeKind(all));
        for (std::size_t i = 0; i < all.size(); ++i) {
            sectionReader_t r(all[i], at / i, diag);
            std::string type = r.requiredText("type");
            filter_t* f = nullptr;
            if (type == "dof") {
                float nearBlur = r.number("near_blur", 0.0f, 0.0f, 1000.0f);
                float farBlur = r.number("far_blur", 0.0f, 0.0f, 1000.0f);
                if (!r.has("focus"))
                    diag.fail(r.path(), "a dof filter needs \"focus\", the depth that stays sharp");
                float focus = r.positive("focus", 1.0f);
                float scale = r.number("scale", 1.0f, 0.0f);
                f = new filterDOF_t(nearBlur, farBlur, focus, scale);
            } else if (type == "antinoise") {
                float radius = r.number("radius", 1.0f, 0.0f, 1000.0f);
                float delta = r.positive("max_delta", 0.1f);
                f = new filterAntiNoise_t(radius, delta);
            } else {
                diag.fail(r.path() / "type", "unknown filter type \"" + type + "\" (known: dof, antinoise)");
            }
            out.filters.push_back(f);
            out.scene->addFilter(f);
            r.finish();
        }
    }

    void readOutput(const json& desc, const jsonPath_t& at) {
        sectionReader_t r(desc, at, diag);
        if (r.has("file")) {
            std::string file = r.text("file", "");
            if (file.empty()) diag.fail(at / "file", "the output file name is empty");
            const formatInfo_t* f = formatInfo(formatOf(file));
            if (!f)
                diag.fail(at / "file", "unsupported image format \"" + file + "\" (" + formatAdvice() + ")");
            if (!f->available)
                diag.fail(at / "file",
                          "cannot write \"" + file + "\": this vexlar was built without OpenEXR");
            out.outputFile = resolvePath(source.baseDir, file);
        }
        out.saveAlpha = r.flag("alpha", false);
        outputSettings_t& o = out.output;
        if (const json* c = r.member("color")) readTransfer(*c, at / "color", o.color);
        o.color.exposure = r.number("exposure", 0.0f, -64.0f, 64.0f);
        if (r.has("tonemap")) {
            const std::string op = r.text("tonemap", "clamp");
            if (op == "clamp")
                o.color.toneMap = toneMap_t::clamp;
            else if (op == "reinhard")
                o.color.toneMap = toneMap_t::reinhard;
            else if (op == "filmic")
                o.color.toneMap = toneMap_t::filmic;
            else
                diag.fail(at / "tonemap", "unknown tone map \"" + op + "\" (known: clamp, reinhard, filmic)");
        }
        o.colorSet = r.has("color") || r.has("tonemap");
        if (r.has("bits")) {
            o.bits = r.integer("bits", 8, 1, 64);
            if (o.bits != 8 && o.bits != 16 && o.bits != 32)
                diag.fail(at / "bits",
                          "expected 8, 16 or 32 bits a channel, found " + std::to_string(o.bits));
        }
        r.finish();
    }

    // "srgb", "linear" or {"gamma": g}.
    void readTransfer(const json& v, const jsonPath_t& at, outputColor_t& c) {
        if (v.is_string() && v.get<std::string>() == "srgb") {
            c.transfer = transfer_t::srgb;
        } else if (v.is_string() && v.get<std::string>() == "linear") {
            c.transfer = transfer_t::linear;
        } else if (v.is_object()) {
            sectionReader_t g(v, at, diag);
            if (!g.has("gamma")) diag.fail(at, "expected {\"gamma\": g}, the display gamma such as 2.2");
            c.transfer = transfer_t::gamma;
            c.displayGamma = g.number("gamma", 2.2f, 0.01f, 100.0f);
            g.finish();
        } else {
            diag.fail(at, "expected \"srgb\", \"linear\" or {\"gamma\": g}, found " +
                              (v.is_string() ? "\"" + v.get<std::string>() + "\"" : describeKind(v)));
        }
    }

    const sceneSource_t& source;
    const pluginManager_t& plugins;
    std::string meshCacheOption;
    std::string sceneMeshCache;
    // render.accelerator "embree": meshes are wrapped by the Embree module.
    bool useEmbree = false;
    bool resolutionGiven = false;
    diagnostics_t& diag;
    loadedScene_t& out;
    hostContext_t context;
};

template <> texture_t* loader_t::create<texture_t>(const std::string& type, paramMap_t& params) {
    return plugins.createTexture(type, params, context);
}
template <> shader_t* loader_t::create<shader_t>(const std::string& type, paramMap_t& params) {
    return plugins.createShader(type, params, context);
}
template <> light_t* loader_t::create<light_t>(const std::string& type, paramMap_t& params) {
    return plugins.createLight(type, params, context);
}
template <> background_t* loader_t::create<background_t>(const std::string& type, paramMap_t& params) {
    return plugins.createBackground(type, params, context);
}

// The first flaw of the text (a repeated key, a number out of range) as an error.
void failOnFlaw(const std::string& label, const jsonPositions_t& positions) {
    if (positions.flaws().empty()) return;
    const jsonFlaw_t& f = positions.flaws().front();
    throw sceneError_t(label + ":" + std::to_string(f.pos.line) + ":" + std::to_string(f.pos.column) +
                       ": error: " + f.at.dotted() + ": " + f.message);
}

// "parse error at line 3, column 5: syntax error ..." without the library's
// prefix and position, which the caller states in its own form.
std::string syntaxReason(const std::string& what) {
    std::string s = what;
    std::size_t close = s.find("] ");
    if (s.rfind("[json.exception", 0) == 0 && close != std::string::npos) s = s.substr(close + 2);
    std::size_t col = s.find("column ");
    if (s.rfind("parse error at line", 0) == 0 && col != std::string::npos) {
        std::size_t colon = s.find(": ", col);
        if (colon != std::string::npos) s = s.substr(colon + 2);
    }
    return s;
}

} // namespace

std::unique_ptr<loadedScene_t> loadScene(const sceneSource_t& source, const sceneOverrides_t& overrides,
                                         const pluginManager_t& plugins, const loadOptions_t& options) {
    json doc;
    jsonPositions_t positions;
    try {
        doc = parseSceneJson(source.text);
    } catch (const json::parse_error& e) {
        std::size_t offset = e.byte > 0 ? e.byte - 1 : 0;
        textPos_t p = positionOf(source.text, offset);
        throw sceneError_t(source.label + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) +
                           ": error: invalid JSON: " + syntaxReason(e.what()));
    } catch (const json::exception&) {
        // A number too large for a double: the reader names no place.
        positions.index(source.text);
        failOnFlaw(source.label, positions);
        throw sceneError_t(source.label + ": error: invalid JSON: a number is out of range");
    }
    positions.index(source.text);
    failOnFlaw(source.label, positions);
    diagnostics_t diag(source.label, &positions);
    if (!doc.is_object())
        diag.fail(jsonPath_t(), "a scene description is a JSON object { ... }, found " + describeKind(doc));
    applyOverrides(doc, overrides, positions);

    std::unique_ptr<loadedScene_t> out(new loadedScene_t());
    loader_t loader(source, plugins, diag, *out);
    loader.load(doc, options);
    out->warnings = diag.warnings();
    return out;
}

} // namespace host
} // namespace vexlar
