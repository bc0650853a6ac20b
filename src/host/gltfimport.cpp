#include "host/gltfimport.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>

#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
// Pictures in files of their own are read by the image texture itself.
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>

#include "host/filecheck.h"
#include "host/pbrmapping.h"
#include "host/transform.h"

namespace vexlar {
namespace host {

namespace {

constexpr double pi = 3.14159265358979323846;
// Luminous efficacy of the photometric units (candela, lux) of the file.
constexpr double lumensPerWatt = 683.0;

// A fault of the file, with its place in glTF terms.
struct gltfFault_t {
    std::string message;
};

[[noreturn]] void fault(const std::string& at, const std::string& what) {
    throw gltfFault_t{at + ": " + what};
}

std::string item(const char* list, std::size_t i) {
    return std::string(list) + "[" + std::to_string(i) + "]";
}

// Keeps the pictures inside the file as they are (encoded): the image
// texture decodes them from the file the scene loader writes.
bool keepEncoded(tinygltf::Image* image, const int, std::string*, std::string*, int, int,
                 const unsigned char* bytes, int size, void*) {
    image->image.assign(bytes, bytes + size);
    return true;
}

// Buffers in files of their own are read only when they are regular files
// of a sane size: the reader's own file reading takes a folder's size as
// 2^63 bytes and blocks for ever on a FIFO.
bool readBufferFile(std::vector<unsigned char>* out, std::string* err, const std::string& path, void*) {
    const std::string why = inputFileFault(path, maxMeshFileBytes());
    if (!why.empty()) {
        if (err) *err += "buffer file \"" + path + "\": " + why + "\n";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0)
        bytes.insert(bytes.end(), chunk, chunk + in.gcount());
    if (!in.eof() || in.bad()) {
        if (err) *err += "buffer file \"" + path + "\": read error\n";
        return false;
    }
    out->swap(bytes);
    return true;
}

// Paths are taken as written (no expansion of "~" or variables).
std::string keepPath(const std::string& path, void*) {
    return path;
}

// Importing never writes files.
bool refuseWrite(std::string* err, const std::string&, const std::vector<unsigned char>&, void*) {
    if (err) *err += "writing files is not supported\n";
    return false;
}

// The bytes an accessor covers, checked against its view and buffer.
struct accessorView_t {
    const unsigned char* data = nullptr;
    std::size_t count = 0;
    std::size_t stride = 0;
    int componentType = 0;
    int components = 0;
    bool normalized = false;
};

class importer_t {
public:
    importer_t(const tinygltf::Model& model, const gltfImportOptions_t& options, gltfScene_t& out)
        : model(model), options(options), out(out) {}

    void run() {
        checkExtensions();
        int sceneIndex = model.defaultScene;
        if (sceneIndex < 0 && !model.scenes.empty()) sceneIndex = 0;
        if (sceneIndex >= static_cast<int>(model.scenes.size()))
            fault("scene", "there is no scene " + std::to_string(sceneIndex));
        meshOfGltf.assign(model.meshes.size(), -1);
        visited.assign(model.nodes.size(), false);
        if (sceneIndex >= 0) {
            const tinygltf::Scene& scene = model.scenes[static_cast<std::size_t>(sceneIndex)];
            for (std::size_t i = 0; i < scene.nodes.size(); ++i)
                walk(scene.nodes[i], options.placement,
                     item("scenes", static_cast<std::size_t>(sceneIndex)) + ".nodes[" + std::to_string(i) +
                         "]");
        }
        if (!model.animations.empty()) warnOnce("animations are not imported; the file's rest pose is used");
        if (!model.skins.empty()) warnOnce("skins are not imported; meshes keep their rest pose");
    }

private:
    // The node tree, depth first with an explicit stack of parents.
    void walk(int root, const matrix4x4_t& parentWorld, const std::string& at) {
        struct pending_t {
            int node;
            matrix4x4_t parent;
            std::string at;
        };
        std::vector<pending_t> stack{{root, parentWorld, at}};
        while (!stack.empty()) {
            pending_t p = stack.back();
            stack.pop_back();
            if (p.node < 0 || p.node >= static_cast<int>(model.nodes.size()))
                fault(p.at, "there is no node " + std::to_string(p.node));
            const std::size_t n = static_cast<std::size_t>(p.node);
            if (visited[n])
                fault(item("nodes", n), "the node is reached twice (a node has one parent and no cycles)");
            visited[n] = true;
            const tinygltf::Node& node = model.nodes[n];
            const matrix4x4_t world = p.parent * localMatrix(node, item("nodes", n));
            visitNode(node, n, world);
            for (std::size_t c = node.children.size(); c-- > 0;)
                stack.push_back(
                    {node.children[c], world, item("nodes", n) + ".children[" + std::to_string(c) + "]"});
        }
    }

    matrix4x4_t localMatrix(const tinygltf::Node& node, const std::string& at) {
        double m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
        if (!node.matrix.empty()) {
            if (node.matrix.size() != 16) fault(at + ".matrix", "expected 16 numbers");
            // Stored column by column.
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c) m[r][c] = node.matrix[static_cast<std::size_t>(c * 4 + r)];
        } else {
            double t[3] = {0, 0, 0}, s[3] = {1, 1, 1}, q[4] = {0, 0, 0, 1};
            if (!node.translation.empty()) {
                if (node.translation.size() != 3) fault(at + ".translation", "expected 3 numbers");
                for (int i = 0; i < 3; ++i) t[i] = node.translation[static_cast<std::size_t>(i)];
            }
            if (!node.scale.empty()) {
                if (node.scale.size() != 3) fault(at + ".scale", "expected 3 numbers");
                for (int i = 0; i < 3; ++i) s[i] = node.scale[static_cast<std::size_t>(i)];
            }
            if (!node.rotation.empty()) {
                if (node.rotation.size() != 4) fault(at + ".rotation", "expected a quaternion of 4 numbers");
                double len = 0;
                for (int i = 0; i < 4; ++i) {
                    q[i] = node.rotation[static_cast<std::size_t>(i)];
                    len += q[i] * q[i];
                }
                len = std::sqrt(len);
                if (!(len > 0) || !std::isfinite(len))
                    fault(at + ".rotation", "the quaternion has no direction (zero or not finite)");
                for (double& v : q) v /= len;
            }
            const double x = q[0], y = q[1], z = q[2], w = q[3];
            const double rot[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                                      {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                                      {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c) m[r][c] = rot[r][c] * s[c];
                m[r][3] = t[r];
            }
        }
        matrix4x4_t out;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                if (!std::isfinite(m[r][c])) fault(at, "its transform holds a number that is not finite");
                out[r][c] = static_cast<float>(m[r][c]);
            }
        return out;
    }

    void visitNode(const tinygltf::Node& node, std::size_t n, const matrix4x4_t& world) {
        const std::string at = item("nodes", n);
        const std::string label = node.name.empty() ? at : at + " \"" + node.name + "\"";
        if (node.mesh >= 0) {
            if (node.mesh >= static_cast<int>(model.meshes.size()))
                fault(at + ".mesh", "there is no mesh " + std::to_string(node.mesh));
            const std::string why = checkPlacement(world);
            if (!why.empty()) {
                out.warnings.push_back(label + ": not shown: its placement is unusable (" + why + ")");
            } else if (int m = meshFor(static_cast<std::size_t>(node.mesh)); m >= 0) {
                out.placements.push_back({static_cast<std::size_t>(m), world,
                                          node.name.empty() ? "node" + std::to_string(n) : node.name});
            }
        }
        if (node.camera >= 0) {
            if (node.camera >= static_cast<int>(model.cameras.size()))
                fault(at + ".camera", "there is no camera " + std::to_string(node.camera));
            addCamera(model.cameras[static_cast<std::size_t>(node.camera)], node, world, at);
        }
        auto ext = node.extensions.find("KHR_lights_punctual");
        if (ext != node.extensions.end() && ext->second.Has("light")) {
            const tinygltf::Value& v = ext->second.Get("light");
            const int l = v.IsNumber() ? v.GetNumberAsInt() : -1;
            if (l < 0 || l >= static_cast<int>(model.lights.size()))
                fault(at + ".extensions.KHR_lights_punctual.light",
                      "there is no light " + (v.IsNumber() ? std::to_string(l) : "of that kind"));
            addLight(model.lights[static_cast<std::size_t>(l)], static_cast<std::size_t>(l), node, world);
        }
        if (node.skin >= 0 || !node.weights.empty()) warnOnce("skins and morph targets are not imported");
    }

    // ---- cameras and lights ------------------------------------------------

    void addCamera(const tinygltf::Camera& cam, const tinygltf::Node& node, const matrix4x4_t& world,
                   const std::string& at) {
        gltfCamera_t c;
        c.name = !node.name.empty() ? node.name : cam.name;
        c.from = world * point3d_t(0, 0, 0);
        vector3d_t dir = world * vector3d_t(0, 0, -1);
        vector3d_t up = world * vector3d_t(0, 1, 0);
        if (dir.length() == 0.0f || up.length() == 0.0f || (dir ^ up).length() == 0.0f) {
            out.warnings.push_back(at + ": camera left out: its node squashes the view directions");
            return;
        }
        dir.normalize();
        up.normalize();
        c.to = c.from + dir;
        c.up = c.from + up;
        if (cam.type == "orthographic") {
            c.orthographic = true;
            c.ymag = static_cast<float>(cam.orthographic.ymag);
            if (cam.orthographic.ymag > 0 && cam.orthographic.xmag > 0)
                c.aspect = static_cast<float>(cam.orthographic.xmag / cam.orthographic.ymag);
            if (!(c.ymag > 0) || !std::isfinite(c.ymag))
                fault(at + ".camera", "orthographic ymag must be above 0");
        } else {
            c.yfov = static_cast<float>(cam.perspective.yfov);
            if (!(c.yfov > 0.0f && c.yfov < static_cast<float>(pi)))
                fault(at + ".camera", "perspective yfov must lie between 0 and pi radians");
            const double a = cam.perspective.aspectRatio;
            if (a > 0 && std::isfinite(a)) c.aspect = static_cast<float>(a);
        }
        out.cameras.push_back(c);
    }

    void addLight(const tinygltf::Light& light, std::size_t index, const tinygltf::Node& node,
                  const matrix4x4_t& world) {
        const std::string at = item("extensions.KHR_lights_punctual.lights", index);
        json d = json::object();
        float color[3] = {1, 1, 1};
        if (!light.color.empty()) {
            if (light.color.size() != 3) fault(at + ".color", "expected 3 numbers");
            for (int i = 0; i < 3; ++i)
                color[i] = static_cast<float>(light.color[static_cast<std::size_t>(i)]);
        }
        d["color"] = json::array({color[0], color[1], color[2]});
        if (!(light.intensity >= 0) || !std::isfinite(light.intensity))
            fault(at + ".intensity", "expected a number of at least 0");
        d["power"] = static_cast<float>(light.intensity / (lumensPerWatt * pi));
        const point3d_t from = world * point3d_t(0, 0, 0);
        vector3d_t dir = world * vector3d_t(0, 0, -1);
        if (light.type == "point") {
            d["type"] = "point";
            d["from"] = json::array({from.x, from.y, from.z});
        } else if (light.type == "spot" || light.type == "directional") {
            if (dir.length() == 0.0f) {
                out.warnings.push_back(at + ": light left out: its node squashes its direction");
                return;
            }
            dir.normalize();
            if (light.type == "spot") {
                const double outer = light.spot.outerConeAngle, inner = light.spot.innerConeAngle;
                if (!(outer > 0 && outer <= pi / 2) || !(inner >= 0 && inner < outer))
                    fault(at + ".spot", "expected 0 <= innerConeAngle < outerConeAngle <= pi/2");
                d["type"] = "spot";
                d["from"] = json::array({from.x, from.y, from.z});
                const point3d_t to = from + dir;
                d["to"] = json::array({to.x, to.y, to.z});
                d["angle"] = static_cast<float>(outer * 180.0 / pi);
                d["blend"] = static_cast<float>((outer - inner) / outer);
            } else {
                d["type"] = "sun";
                d["direction"] = json::array({-dir.x, -dir.y, -dir.z});
            }
        } else {
            fault(at + ".type",
                  "unknown light type \"" + light.type + "\" (known: point, spot, directional)");
        }
        if (light.range > 0)
            warnOnce("light ranges are not imported; lights fade with the square of the distance");
        std::string name = options.prefix + (node.name.empty() ? "light" + std::to_string(index) : node.name);
        out.lights.emplace_back(unique(name), d);
    }

    // ---- meshes ------------------------------------------------------------

    // The index in out.meshes of glTF mesh `m`, built on first use; -1 when
    // it holds no triangles.
    int meshFor(std::size_t m) {
        if (meshOfGltf[m] != -1) return meshOfGltf[m] >= 0 ? meshOfGltf[m] : -1;
        const tinygltf::Mesh& mesh = model.meshes[m];
        gltfMesh_t g;
        g.name = mesh.name.empty() ? item("meshes", m) : mesh.name;
        bool anyNormals = false, anyUV = false;
        for (const tinygltf::Primitive& p : mesh.primitives) {
            anyNormals = anyNormals || p.attributes.count("NORMAL");
            anyUV = anyUV || p.attributes.count("TEXCOORD_0");
        }
        for (std::size_t i = 0; i < mesh.primitives.size(); ++i)
            addPrimitive(mesh.primitives[i], item("meshes", m) + "." + item("primitives", i), anyNormals,
                         anyUV, g);
        if (g.data.faces.empty()) {
            out.warnings.push_back(item("meshes", m) + ": no triangles; not shown");
            meshOfGltf[m] = -2;
            return -1;
        }
        if (!anyUV) g.data.faceUV.clear();
        meshOfGltf[m] = static_cast<int>(out.meshes.size());
        out.meshes.push_back(std::move(g));
        return meshOfGltf[m];
    }

    void addPrimitive(const tinygltf::Primitive& p, const std::string& at, bool anyNormals, bool anyUV,
                      gltfMesh_t& g) {
        const int mode = p.mode < 0 ? TINYGLTF_MODE_TRIANGLES : p.mode;
        if (mode != TINYGLTF_MODE_TRIANGLES && mode != TINYGLTF_MODE_TRIANGLE_STRIP &&
            mode != TINYGLTF_MODE_TRIANGLE_FAN) {
            warnOnce("points and lines are not surfaces; such primitives are left out (first: " + at + ")");
            return;
        }
        if (!p.targets.empty()) warnOnce("skins and morph targets are not imported");
        auto pos = p.attributes.find("POSITION");
        if (pos == p.attributes.end()) fault(at + ".attributes", "no POSITION");
        std::vector<float> positions =
            readFloats(pos->second, TINYGLTF_TYPE_VEC3, at + ".attributes.POSITION");
        const std::size_t nv = positions.size() / 3;
        std::vector<float> normals, uv;
        if (auto it = p.attributes.find("NORMAL"); it != p.attributes.end()) {
            normals = readFloats(it->second, TINYGLTF_TYPE_VEC3, at + ".attributes.NORMAL");
            if (normals.size() != positions.size())
                fault(at + ".attributes.NORMAL", "not one normal per position");
        }
        if (auto it = p.attributes.find("TEXCOORD_0"); it != p.attributes.end()) {
            uv = readFloats(it->second, TINYGLTF_TYPE_VEC2, at + ".attributes.TEXCOORD_0");
            if (uv.size() != 2 * nv) fault(at + ".attributes.TEXCOORD_0", "not one coordinate per position");
        }
        std::vector<std::uint32_t> index;
        if (p.indices >= 0) {
            index = readIndices(p.indices, at + ".indices");
            for (std::uint32_t i : index)
                if (i >= nv)
                    fault(at + ".indices", "index " + std::to_string(i) + " is beyond the " +
                                               std::to_string(nv) + " positions");
        } else {
            index.resize(nv);
            for (std::size_t i = 0; i < nv; ++i) index[i] = static_cast<std::uint32_t>(i);
        }
        std::vector<std::array<std::uint32_t, 3>> tris = triangles(index, mode);
        if (tris.empty()) return;

        const int shader = shaderIndex(p.material, at + ".material", g);
        const std::size_t base = g.data.vertices.size();
        if (base + nv > static_cast<std::size_t>(std::numeric_limits<int>::max()))
            fault(at, "too many positions in one mesh");
        for (std::size_t v = 0; v < nv; ++v)
            g.data.vertices.emplace_back(positions[3 * v], positions[3 * v + 1], positions[3 * v + 2]);
        for (const auto& t : tris) {
            g.data.faces.push_back({static_cast<int>(base + t[0]), static_cast<int>(base + t[1]),
                                    static_cast<int>(base + t[2])});
            for (std::uint32_t c : t) {
                if (anyNormals) {
                    vector3d_t n(0, 0, 0);
                    if (!normals.empty()) {
                        n = vector3d_t(normals[3 * c], normals[3 * c + 1], normals[3 * c + 2]);
                        if (!(n.length() > 0.0f) || !std::isfinite(n.length()))
                            n = vector3d_t(0, 0, 0);
                        else
                            n.normalize();
                    }
                    g.extras.cornerNormals.push_back(n);
                }
                if (anyUV) {
                    g.data.faceUV.push_back(uv.empty() ? 0.0f : uv[2 * c]);
                    g.data.faceUV.push_back(uv.empty() ? 0.0f : uv[2 * c + 1]);
                }
            }
            if (anyUV) g.extras.faceHasUV.push_back(uv.empty() ? 0 : 1);
            g.extras.faceShader.push_back(shader);
        }
    }

    static std::vector<std::array<std::uint32_t, 3>> triangles(const std::vector<std::uint32_t>& ix,
                                                               int mode) {
        std::vector<std::array<std::uint32_t, 3>> t;
        if (mode == TINYGLTF_MODE_TRIANGLES) {
            t.reserve(ix.size() / 3);
            for (std::size_t i = 0; i + 2 < ix.size(); i += 3) t.push_back({ix[i], ix[i + 1], ix[i + 2]});
            return t;
        }
        for (std::size_t i = 2; i < ix.size(); ++i) {
            std::array<std::uint32_t, 3> f;
            if (mode == TINYGLTF_MODE_TRIANGLE_FAN)
                f = {ix[0], ix[i - 1], ix[i]};
            else if (i % 2 == 0)
                f = {ix[i - 2], ix[i - 1], ix[i]};
            else
                f = {ix[i - 1], ix[i - 2], ix[i]};
            // Strips repeat corners to restart; such triangles have no area.
            if (f[0] != f[1] && f[1] != f[2] && f[0] != f[2]) t.push_back(f);
        }
        return t;
    }

    accessorView_t view(int index, const std::string& at) {
        if (index < 0 || index >= static_cast<int>(model.accessors.size()))
            fault(at, "there is no accessor " + std::to_string(index));
        const std::string where = item("accessors", static_cast<std::size_t>(index));
        const tinygltf::Accessor& a = model.accessors[static_cast<std::size_t>(index)];
        if (a.sparse.isSparse) fault(where, "sparse accessors are not supported");
        if (a.bufferView < 0 || a.bufferView >= static_cast<int>(model.bufferViews.size()))
            fault(where + ".bufferView", "there is no buffer view " + std::to_string(a.bufferView));
        const tinygltf::BufferView& bv = model.bufferViews[static_cast<std::size_t>(a.bufferView)];
        if (bv.buffer < 0 || bv.buffer >= static_cast<int>(model.buffers.size()))
            fault(item("bufferViews", static_cast<std::size_t>(a.bufferView)) + ".buffer",
                  "there is no buffer " + std::to_string(bv.buffer));
        const tinygltf::Buffer& buf = model.buffers[static_cast<std::size_t>(bv.buffer)];
        accessorView_t v;
        v.componentType = a.componentType;
        v.components = tinygltf::GetNumComponentsInType(static_cast<std::uint32_t>(a.type));
        const int size = tinygltf::GetComponentSizeInBytes(static_cast<std::uint32_t>(a.componentType));
        if (v.components <= 0 || size <= 0) fault(where, "unknown type or component type");
        v.count = a.count;
        v.normalized = a.normalized;
        const std::size_t element = static_cast<std::size_t>(v.components) * static_cast<std::size_t>(size);
        v.stride = bv.byteStride ? bv.byteStride : element;
        if (v.stride < element) fault(where, "its buffer view's byteStride is smaller than one element");
        if (bv.byteOffset > buf.data.size() || bv.byteLength > buf.data.size() - bv.byteOffset)
            fault(item("bufferViews", static_cast<std::size_t>(a.bufferView)),
                  "reaches past the end of buffer " + std::to_string(bv.buffer) + " (" +
                      std::to_string(buf.data.size()) + " bytes)");
        if (v.count > 0) {
            // offset + stride * (count - 1) + element <= byteLength, without overflow.
            const std::size_t room = bv.byteLength;
            if (a.byteOffset > room || element > room - a.byteOffset ||
                (v.count - 1) > (room - a.byteOffset - element) / v.stride)
                fault(where,
                      "reads past the end of its buffer view (" + std::to_string(v.count) + " elements)");
        }
        v.data = buf.data.data() + bv.byteOffset + a.byteOffset;
        return v;
    }

    std::vector<float> readFloats(int index, int type, const std::string& at) {
        accessorView_t v = view(index, at);
        const tinygltf::Accessor& a = model.accessors[static_cast<std::size_t>(index)];
        const int want = tinygltf::GetNumComponentsInType(static_cast<std::uint32_t>(type));
        if (a.type != type)
            fault(at, std::string("expected an accessor of ") + (want == 3 ? "VEC3" : "VEC2") + " elements");
        const bool isFloat = v.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT;
        const bool isUnorm = v.normalized && (v.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE ||
                                              v.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
        if (!isFloat && !isUnorm) fault(at, "expected float (or normalized unsigned) components");
        std::vector<float> out;
        out.reserve(v.count * static_cast<std::size_t>(want));
        for (std::size_t e = 0; e < v.count; ++e) {
            const unsigned char* p = v.data + e * v.stride;
            for (int c = 0; c < want; ++c) {
                float f = 0;
                if (isFloat) {
                    std::memcpy(&f, p + 4 * c, 4);
                } else if (v.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE) {
                    f = static_cast<float>(p[c]) / 255.0f;
                } else {
                    std::uint16_t s;
                    std::memcpy(&s, p + 2 * c, 2);
                    f = static_cast<float>(s) / 65535.0f;
                }
                if (!std::isfinite(f))
                    fault(at, "element " + std::to_string(e) + " holds a number that is not finite");
                out.push_back(f);
            }
        }
        return out;
    }

    std::vector<std::uint32_t> readIndices(int index, const std::string& at) {
        accessorView_t v = view(index, at);
        if (v.components != 1) fault(at, "expected an accessor of SCALAR indices");
        std::vector<std::uint32_t> out;
        out.reserve(v.count);
        for (std::size_t e = 0; e < v.count; ++e) {
            const unsigned char* p = v.data + e * v.stride;
            switch (v.componentType) {
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
                out.push_back(p[0]);
                break;
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
                std::uint16_t s;
                std::memcpy(&s, p, 2);
                out.push_back(s);
                break;
            }
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: {
                std::uint32_t s;
                std::memcpy(&s, p, 4);
                out.push_back(s);
                break;
            }
            default:
                fault(at, "expected unsigned byte, short or int indices");
            }
        }
        return out;
    }

    // ---- materials and textures -------------------------------------------

    // The index in g.shaderNames of the shader of material `m` (made on
    // first use; -1 = the glTF default material).
    int shaderIndex(int m, const std::string& at, gltfMesh_t& g) {
        if (m >= static_cast<int>(model.materials.size()))
            fault(at, "there is no material " + std::to_string(m));
        const std::string name = shaderFor(m);
        for (std::size_t i = 0; i < g.shaderNames.size(); ++i)
            if (g.shaderNames[i] == name) return static_cast<int>(i);
        g.shaderNames.push_back(name);
        return static_cast<int>(g.shaderNames.size() - 1);
    }

    std::string shaderFor(int m) {
        auto done = shaderOfMaterial.find(m);
        if (done != shaderOfMaterial.end()) return done->second;
        pbrMaterial_t p;
        std::string name;
        if (m < 0) {
            // No material: a neutral grey, as viewers show such meshes.
            p.baseColor[0] = p.baseColor[1] = p.baseColor[2] = 0.8f;
            p.metallic = 0;
            p.roughness = 0.5f;
            name = unique(options.prefix + "default");
        } else {
            const tinygltf::Material& mat = model.materials[static_cast<std::size_t>(m)];
            const std::string at = item("materials", static_cast<std::size_t>(m));
            readMaterial(mat, at, p);
            name = unique(options.prefix + (mat.name.empty() ? "material" + std::to_string(m) : mat.name));
        }
        std::vector<std::string> dropped;
        json d = mapPbrMaterial(p, dropped);
        for (const std::string& what : dropped)
            warnOnce("the " + what + " of materials has no counterpart in the generic shader; left out");
        out.shaders.emplace_back(name, d);
        shaderOfMaterial[m] = name;
        return name;
    }

    static double number(const tinygltf::Value& v, const char* key, double fallback) {
        if (!v.IsObject() || !v.Has(key)) return fallback;
        const tinygltf::Value& x = v.Get(key);
        return x.IsNumber() ? x.GetNumberAsDouble() : fallback;
    }

    void readMaterial(const tinygltf::Material& mat, const std::string& at, pbrMaterial_t& p) {
        const tinygltf::PbrMetallicRoughness& pbr = mat.pbrMetallicRoughness;
        if (pbr.baseColorFactor.size() == 4) {
            for (int i = 0; i < 3; ++i)
                p.baseColor[i] = factor(pbr.baseColorFactor[static_cast<std::size_t>(i)]);
            p.alpha = factor(pbr.baseColorFactor[3]);
        }
        p.metallic = factor(pbr.metallicFactor);
        p.roughness = factor(pbr.roughnessFactor);
        if (mat.emissiveFactor.size() == 3)
            for (int i = 0; i < 3; ++i)
                p.emissive[i] = factor(mat.emissiveFactor[static_cast<std::size_t>(i)]);
        if (mat.alphaMode == "BLEND") {
            p.alphaBlend = true;
        } else if (mat.alphaMode == "MASK") {
            // Without per-texel alpha, the factor decides the whole surface.
            p.alphaBlend = true;
            p.alpha = p.alpha < static_cast<float>(mat.alphaCutoff) ? 0.0f : 1.0f;
        }
        if (p.alphaBlend && pbr.baseColorTexture.index >= 0)
            warnOnce("the alpha of base colour textures is not imported; the alpha factor is used");
        for (const auto& e : mat.extensions) {
            if (e.first == "KHR_materials_transmission") {
                p.transmission = static_cast<float>(number(e.second, "transmissionFactor", 0));
                if (e.second.Has("transmissionTexture")) warnOnce("transmission textures are not imported");
            } else if (e.first == "KHR_materials_ior") {
                p.ior = static_cast<float>(number(e.second, "ior", 1.5));
            } else if (e.first == "KHR_materials_emissive_strength") {
                p.emissiveStrength = static_cast<float>(number(e.second, "emissiveStrength", 1));
            } else {
                warnOnce("material extension " + e.first + " is not imported (first: " + at + ")");
            }
        }
        if (!std::isfinite(p.ior) || !std::isfinite(p.transmission) || !std::isfinite(p.emissiveStrength))
            fault(at + ".extensions", "a number that is not finite");
        if (pbr.baseColorTexture.index >= 0)
            p.baseTexture =
                textureFor(pbr.baseColorTexture.index, at + ".pbrMetallicRoughness.baseColorTexture",
                           pbr.baseColorTexture.texCoord);
        if (mat.normalTexture.index >= 0) p.normalTexture = "normal";
        if (pbr.metallicRoughnessTexture.index >= 0) p.metallicRoughnessTexture = "metallicRoughness";
        if (mat.occlusionTexture.index >= 0) p.occlusionTexture = "occlusion";
        if (mat.emissiveTexture.index >= 0)
            warnOnce("emissive textures are not imported; the factor is used");
    }

    static float factor(double v) { return std::isfinite(v) ? static_cast<float>(v) : 0.0f; }

    // The name of the image texture for glTF texture `t` ("" when it has no
    // picture).
    std::string textureFor(int t, const std::string& at, int texCoord) {
        if (t < 0 || t >= static_cast<int>(model.textures.size()))
            fault(at, "there is no texture " + std::to_string(t));
        if (texCoord != 0) warnOnce("only the first texture coordinates (TEXCOORD_0) are imported");
        auto done = textureOfGltf.find(t);
        if (done != textureOfGltf.end()) return done->second;
        const tinygltf::Texture& tex = model.textures[static_cast<std::size_t>(t)];
        const std::string tat = item("textures", static_cast<std::size_t>(t));
        if (tex.source < 0 || tex.source >= static_cast<int>(model.images.size()))
            fault(tat + ".source", "there is no image " + std::to_string(tex.source));
        const tinygltf::Image& img = model.images[static_cast<std::size_t>(tex.source)];
        json d = json::object();
        d["type"] = "image";
        d["wrap"] = "repeat";
        if (tex.sampler >= 0 && tex.sampler < static_cast<int>(model.samplers.size())) {
            const int w = model.samplers[static_cast<std::size_t>(tex.sampler)].wrapS;
            if (w == TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE) d["wrap"] = "clamp";
            if (w == TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT) d["wrap"] = "mirror";
        }
        const std::string name =
            unique(options.prefix + (img.name.empty() ? "texture" + std::to_string(t) : img.name));
        const bool external = !img.uri.empty() && img.uri.rfind("data:", 0) != 0;
        if (external) {
            d["filename"] = resolveUri(img.uri);
        } else if (!img.image.empty()) {
            const std::vector<unsigned char>& b = img.image;
            std::string ext;
            if (b.size() >= 4 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') ext = ".png";
            if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) ext = ".jpg";
            if (ext.empty())
                fault(item("images", static_cast<std::size_t>(tex.source)), "neither PNG nor JPEG data");
            out.images.push_back({name, ext, b});
        } else {
            fault(item("images", static_cast<std::size_t>(tex.source)), "holds no picture");
        }
        out.textures.emplace_back(name, d);
        textureOfGltf[t] = name;
        return name;
    }

    std::string resolveUri(const std::string& uri) const {
        std::string path;
        // %xx escapes, as URIs write spaces and other characters.
        for (std::size_t i = 0; i < uri.size(); ++i) {
            if (uri[i] == '%' && i + 2 < uri.size() &&
                std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
                std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
                path += static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                path += uri[i];
            }
        }
        if (path.empty() || path[0] == '/' || options.baseDir.empty()) return path;
        return options.baseDir + (options.baseDir.back() == '/' ? "" : "/") + path;
    }

    // ---- bookkeeping -------------------------------------------------------

    void checkExtensions() {
        static const std::set<std::string> known = {"KHR_lights_punctual", "KHR_materials_transmission",
                                                    "KHR_materials_ior", "KHR_materials_emissive_strength"};
        for (const std::string& e : model.extensionsRequired)
            if (!known.count(e))
                fault("extensionsRequired", "extension " + e + " is required but not supported");
        for (const std::string& e : model.extensionsUsed)
            if (!known.count(e)) warnOnce("extension " + e + " is not imported");
    }

    void warnOnce(const std::string& message) {
        if (warned.insert(message).second) out.warnings.push_back(message);
    }

    std::string unique(const std::string& name) {
        std::string n = name;
        for (int i = 2; !names.insert(n).second; ++i) n = name + "." + std::to_string(i);
        return n;
    }

    const tinygltf::Model& model;
    const gltfImportOptions_t& options;
    gltfScene_t& out;
    std::vector<int> meshOfGltf; // -1 not yet built, -2 empty, else index
    std::vector<bool> visited;
    std::map<int, std::string> shaderOfMaterial;
    std::map<int, std::string> textureOfGltf;
    std::set<std::string> warned;
    std::set<std::string> names;
};

std::string firstLine(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    const std::size_t nl = s.find('\n');
    return nl == std::string::npos ? s : s.substr(0, nl);
}

} // namespace

bool importGltf(const std::string& bytes, const gltfImportOptions_t& options, gltfScene_t& out,
                std::string& error) {
    out = gltfScene_t();
    if (bytes.size() > std::numeric_limits<unsigned int>::max()) {
        error = "the file is larger than 4 GiB";
        return false;
    }
    tinygltf::TinyGLTF reader;
    reader.SetImageLoader(keepEncoded, nullptr);
    reader.SetFsCallbacks(
        tinygltf::FsCallbacks{tinygltf::FileExists, keepPath, readBufferFile, refuseWrite, nullptr});
    tinygltf::Model model;
    std::string err, warn;
    const bool binary = bytes.size() >= 4 && bytes.compare(0, 4, "glTF") == 0;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned int size = static_cast<unsigned int>(bytes.size());
    bool ok = false;
    try {
        ok = binary ? reader.LoadBinaryFromMemory(&model, &err, &warn, data, size, options.baseDir)
                    : reader.LoadASCIIFromString(&model, &err, &warn, bytes.data(), size, options.baseDir);
    } catch (const std::exception& e) {
        err = e.what();
        ok = false;
    }
    if (!ok) {
        error = firstLine(err.empty() ? std::string("not a readable glTF file") : err);
        return false;
    }
    try {
        importer_t(model, options, out).run();
    } catch (const gltfFault_t& f) {
        error = f.message;
        return false;
    }
    return true;
}

} // namespace host
} // namespace vexlar
