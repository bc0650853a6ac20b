#include "host/meshload.h"

#include "host/objcheck.h"
#include "host/objstream.h"
#include "host/polygon.h"

#include <cmath>
#include <istream>
#include <sstream>
#include <utility>

#include <tiny_obj_loader.h>

namespace vexlar {
namespace host {

namespace {

// The whole-file reader of tinyobjloader, which triangulates polygons (the
// streaming reader below hands polygons over to it).
bool parseObjWhole(const std::string& text, meshData_t& out, std::string& error) {
    tinyobj::ObjReaderConfig config;
    config.triangulate = true;
    config.vertex_color = false;
    tinyobj::ObjReader reader;
    // Materials are ignored: give the reader no material text, so that it
    // never opens a file named by "mtllib".
    if (!reader.ParseFromString(text, std::string(), config)) {
        error = reader.Error();
        while (!error.empty() && (error.back() == '\n' || error.back() == '\r')) error.pop_back();
        if (error.empty()) error = "not a readable OBJ file";
        std::size_t nl = error.find('\n');
        if (nl != std::string::npos) error = error.substr(0, nl);
        return false;
    }
    const tinyobj::attrib_t& attrib = reader.GetAttrib();
    out = meshData_t();
    std::size_t nv = attrib.vertices.size() / 3;
    out.vertices.reserve(nv);
    for (std::size_t i = 0; i < nv; ++i)
        out.vertices.emplace_back(attrib.vertices[3 * i], attrib.vertices[3 * i + 1],
                                  attrib.vertices[3 * i + 2]);
    bool allUV = !attrib.texcoords.empty();
    std::vector<float> uv;
    for (const tinyobj::shape_t& shape : reader.GetShapes()) {
        const tinyobj::mesh_t& mesh = shape.mesh;
        std::size_t offset = 0;
        for (std::size_t f = 0; f < mesh.num_face_vertices.size(); ++f) {
            std::size_t n = mesh.num_face_vertices[f];
            if (n == 3) {
                std::array<int, 3> face{};
                for (std::size_t k = 0; k < 3; ++k) {
                    const tinyobj::index_t& idx = mesh.indices[offset + k];
                    if (idx.vertex_index < 0 || static_cast<std::size_t>(idx.vertex_index) >= nv) {
                        error =
                            "face " + std::to_string(out.faces.size() + 1) + " refers to a missing vertex";
                        return false;
                    }
                    face[k] = idx.vertex_index;
                    std::size_t t = static_cast<std::size_t>(idx.texcoord_index);
                    if (idx.texcoord_index < 0 || 2 * t + 1 >= attrib.texcoords.size()) {
                        allUV = false;
                    } else {
                        uv.push_back(attrib.texcoords[2 * t]);
                        uv.push_back(attrib.texcoords[2 * t + 1]);
                    }
                }
                out.faces.push_back(face);
            }
            // Lines and points (n < 3) are not surfaces; skip them.
            offset += n;
        }
    }
    if (out.faces.empty()) {
        error = "no faces";
        return false;
    }
    if (allUV && uv.size() == 6 * out.faces.size()) out.faceUV = std::move(uv);
    return true;
}

// What the streaming reader collects. Face corners keep the indices as
// written (1-based, or negative counting back from the vertices read so far)
// until the end, when they are checked against the whole file, as the
// whole-file reader does.
struct objStream_t : objSink_t {
    meshData_t& out;
    std::vector<float> texcoords; // u, v per "vt"
    std::vector<int> uvIndex;     // per face corner: 0-based "vt" index, or -1
    bool polygons = false;        // a face with more than three corners
    bool badIndex = false;        // an index of 0
    bool splitHere = false;       // polygons split by splitPolygon
    std::vector<std::array<std::size_t, 3>> split;
    explicit objStream_t(meshData_t& m) : out(m) {}

    void vertex(float x, float y, float z) override { out.vertices.emplace_back(x, y, z); }
    void texcoord(float u, float v) override {
        texcoords.push_back(u);
        texcoords.push_back(v);
    }
    void face(const objCorner_t* idx, std::size_t count) override {
        // Lines and points (fewer than 3 corners) are not surfaces.
        if (count < 3) return;
        if (count > 3 && !splitHere) {
            polygons = true;
            return;
        }
        split.clear();
        splitPolygon(count, split);
        for (const std::array<std::size_t, 3>& t : split) addTriangle(idx, t);
    }

    // One triangle of corners a, b, c of `idx`.
    void addTriangle(const objCorner_t* idx, const std::array<std::size_t, 3>& corners) {
        std::array<int, 3> face{};
        for (int k = 0; k < 3; ++k) {
            const objCorner_t& c = idx[corners[static_cast<std::size_t>(k)]];
            face[static_cast<std::size_t>(k)] = resolve(c.vertex, out.vertices.size());
            if (c.vertex == 0) badIndex = true;
            uvIndex.push_back(c.texcoord == 0 ? -1 : resolve(c.texcoord, texcoords.size() / 2));
        }
        out.faces.push_back(face);
    }

    // The 0-based index of a corner's raw index against `count` entries read
    // so far; -1 for none (0, which OBJ does not allow).
    static int resolve(int raw, std::size_t count) {
        if (raw > 0) return raw - 1;
        if (raw < 0) return static_cast<int>(count) + raw;
        return -1;
    }
};

} // namespace

bool parseObjStream(std::istream& in, meshData_t& out, std::string& error, const std::string* wholeText) {
    out = meshData_t();
    std::size_t maxCorners = 0;
    error = objIndexFault(in, &maxCorners);
    if (!error.empty()) return false;
    objStream_t s(out);
    // A file with a face too large for the whole-file reader's quadratic
    // split has every polygon split here instead (polygon.h).
    s.splitHere = maxCorners > maxFanCorners;
    // The reader skips "mtllib" and every other statement but v, vt and f.
    if (wholeText)
        readObjStatements(wholeText->data(), wholeText->size(), s);
    else
        readObjStatements(in, s);
    if (s.polygons) {
        // Polygons are split the way the whole-file reader splits them.
        if (wholeText) return parseObjWhole(*wholeText, out, error);
        in.clear();
        in.seekg(0);
        std::ostringstream text;
        text << in.rdbuf();
        return parseObjWhole(text.str(), out, error);
    }
    if (s.badIndex) {
        error = "a face refers to vertex 0 (OBJ indices start at 1)";
        return false;
    }
    const std::size_t nv = out.vertices.size();
    bool allUV = !s.texcoords.empty();
    for (std::size_t f = 0; f < out.faces.size(); ++f) {
        for (int k = 0; k < 3; ++k) {
            const int v = out.faces[f][static_cast<std::size_t>(k)];
            if (v < 0 || static_cast<std::size_t>(v) >= nv) {
                error = "face " + std::to_string(f + 1) + " refers to a missing vertex";
                return false;
            }
            const int t = s.uvIndex[3 * f + static_cast<std::size_t>(k)];
            if (t < 0 || 2 * static_cast<std::size_t>(t) + 1 >= s.texcoords.size()) allUV = false;
        }
    }
    if (out.faces.empty()) {
        error = "no faces";
        return false;
    }
    if (allUV) {
        out.faceUV.reserve(6 * out.faces.size());
        for (int t : s.uvIndex) {
            out.faceUV.push_back(s.texcoords[2 * static_cast<std::size_t>(t)]);
            out.faceUV.push_back(s.texcoords[2 * static_cast<std::size_t>(t) + 1]);
        }
    }
    return true;
}

bool parseObj(const std::string& text, meshData_t& out, std::string& error) {
    std::istringstream in(text);
    return parseObjStream(in, out, error, &text);
}

meshData_t readInlineMesh(sectionReader_t& reader) {
    const diagnostics_t& diag = reader.diagnostics();
    meshData_t data;
    const json* vertices = reader.member("vertices");
    const json* faces = reader.member("faces");
    if (!vertices || !faces)
        diag.fail(reader.path(), "a mesh needs \"file\" or both \"vertices\" and \"faces\"");
    const jsonPath_t vat = reader.path() / "vertices";
    if (!vertices->is_array() || vertices->empty())
        diag.fail(vat, "expected a non-empty list of [x, y, z], found " + describeKind(*vertices));
    for (std::size_t i = 0; i < vertices->size(); ++i)
        data.vertices.push_back(pointAt((*vertices)[i], vat / i, diag));

    std::vector<std::array<float, 2>> vertexUV;
    if (const json* uv = reader.member("uv")) {
        const jsonPath_t uat = reader.path() / "uv";
        if (!uv->is_array() || uv->size() != vertices->size())
            diag.fail(uat, "expected one [u, v] per vertex (" + std::to_string(vertices->size()) +
                               "), found " + describeKind(*uv));
        for (std::size_t i = 0; i < uv->size(); ++i) {
            const json& e = (*uv)[i];
            if (!e.is_array() || e.size() != 2)
                diag.fail(uat / i, "expected [u, v], found " + describeKind(e));
            vertexUV.push_back({numberAt(e[0], uat / i / 0, diag), numberAt(e[1], uat / i / 1, diag)});
        }
    }

    const jsonPath_t fat = reader.path() / "faces";
    if (!faces->is_array() || faces->empty())
        diag.fail(fat, "expected a non-empty list of [i, j, k], found " + describeKind(*faces));
    const double count = static_cast<double>(data.vertices.size());
    std::vector<std::array<std::size_t, 3>> split;
    for (std::size_t f = 0; f < faces->size(); ++f) {
        const json& face = (*faces)[f];
        if (!face.is_array() || face.size() < 3)
            diag.fail(fat / f, "expected at least 3 vertex indices, found " + describeKind(face));
        std::vector<int> idx;
        for (std::size_t k = 0; k < face.size(); ++k) {
            const json& e = face[k];
            double d = e.is_number() ? e.get<double>() : -1.0;
            // The range is checked before the whole-number test: a cast of a
            // number beyond any integer is undefined.
            if (!e.is_number() || !(d >= 0) || d >= count || d != std::floor(d))
                diag.fail(fat / f / k, "expected a vertex index from 0 to " +
                                           std::to_string(data.vertices.size() - 1) + ", found " +
                                           (e.is_number() ? e.dump() : describeKind(e)));
            idx.push_back(static_cast<int>(d));
        }
        // A polygon becomes a fan of triangles around its first corner, a
        // large one a balanced split (polygon.h).
        split.clear();
        splitPolygon(idx.size(), split);
        for (const std::array<std::size_t, 3>& t : split) {
            data.faces.push_back({idx[t[0]], idx[t[1]], idx[t[2]]});
            if (!vertexUV.empty()) {
                for (int v : {idx[t[0]], idx[t[1]], idx[t[2]]}) {
                    data.faceUV.push_back(vertexUV[static_cast<std::size_t>(v)][0]);
                    data.faceUV.push_back(vertexUV[static_cast<std::size_t>(v)][1]);
                }
            }
        }
    }
    return data;
}

meshObject_t* buildMesh(const meshData_t& data, const matrix4x4_t& placement, float smoothAngle) {
    meshData_t copy = data;
    return buildMesh(std::move(copy), placement, smoothAngle, meshBuild_t());
}

meshObject_t* buildMesh(meshData_t&& data, const matrix4x4_t& placement, float smoothAngle,
                        const meshBuild_t& how) {
    // The mesh takes these arrays over; its triangles point into them.
    meshArrays_t arrays;
    arrays.points.swap(data.vertices);
    arrays.uvValues.swap(data.faceUV);
    const bool hasUV = arrays.uvValues.size() == 6 * data.faces.size() && !data.faces.empty();
    arrays.triangles.reserve(data.faces.size());
    point3d_t* pts = arrays.points.data();
    for (std::size_t f = 0; f < data.faces.size(); ++f) {
        const std::array<int, 3>& face = data.faces[f];
        triangle_t t(pts + face[0], pts + face[1], pts + face[2]);
        if (hasUV) {
            t.uv = arrays.uvValues.data() + 6 * f;
            t.hasUV = true;
        }
        arrays.triangles.push_back(t);
    }
    std::vector<std::array<int, 3>>().swap(data.faces);
    meshOptions_t options;
    options.noTree = how.noTree;
    meshObject_t* mesh = new meshObject_t(std::move(arrays), &placement, options, how.prebuilt);
    if (smoothAngle >= 0.0f) mesh->autoSmooth(smoothAngle);
    return mesh;
}

} // namespace host
} // namespace vexlar
