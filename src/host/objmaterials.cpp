#include "host/objmaterials.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include <tiny_obj_loader.h>
#include <unistd.h>

#include "host/objscan.h"
#include "host/sceneloader.h"

namespace vexlar {
namespace host {

namespace {

// Corner index as written (1-based, or negative from the end) against
// `count` entries so far; -1 when there is none or it is out of range.
int resolveIndex(const char* p, const char* end, std::size_t count) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* digits = p;
    // Anything past 18 digits is out of range whatever its sign.
    long long raw = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        if (raw < 1000000000000000000LL) raw = raw * 10 + (*p - '0');
    if (p == digits) return -1;
    if (negative) raw = -raw;
    const long long i = raw > 0 ? raw - 1 : (raw < 0 ? static_cast<long long>(count) + raw : -1);
    return i >= 0 && static_cast<unsigned long long>(i) < count ? static_cast<int>(i) : -1;
}

const std::set<std::string> mtlUsed = {"newmtl", "Kd",     "Ks",       "Ns",       "Ni",   "d", "Tr",
                                       "illum",  "map_Kd", "map_Bump", "map_bump", "bump", "Ke"};

std::string lineText(std::size_t line) {
    return "line " + std::to_string(line) + ": ";
}

} // namespace

namespace {

// Reads the statements of OBJ text one line at a time (see scanObj).
class objScanner_t {
public:
    objScanner_t(objDetails_t& out, bool details) : out(out), details(details) { out = objDetails_t(); }

    void line(textSpan_t text) {
        ++lineNo;
        if (!text.empty() && text.end[-1] == '\r') --text.end;
        const textSpan_t key = nextWord(text);
        if (key.empty() || *key.begin == '#') return;
        const std::size_t n = key.size();
        const char k0 = *key.begin;
        if (n == 1 && k0 == 'v') {
            vertex(text);
        } else if (n == 2 && k0 == 'v' && key.begin[1] == 't') {
            ++texcoords;
            float u = 0, v = 0;
            if (details) {
                if (extractFloat(text, &u)) extractFloat(text, &v);
                out.texcoords.push_back(u);
                out.texcoords.push_back(v);
            }
        } else if (n == 2 && k0 == 'v' && key.begin[1] == 'n') {
            ++normals;
            float c[3] = {0, 0, 0};
            if (details) {
                for (int i = 0; i < 3 && extractFloat(text, &c[i]); ++i) {
                }
                out.normals.emplace_back(c[0], c[1], c[2]);
            }
        } else if (n == 1 && k0 == 'f') {
            face(text);
        } else if (key.is("usemtl")) {
            const std::string name = restOf(text);
            auto it = materialIndex.find(name);
            if (it == materialIndex.end()) {
                it = materialIndex.emplace(name, static_cast<int>(out.materials.size())).first;
                out.materials.push_back(name);
            }
            current = it->second;
        } else if (key.is("mtllib")) {
            // Several libraries may follow; names with spaces are not split
            // when only one is given.
            const std::string name = restOf(text);
            if (!name.empty()) out.libraries.push_back(name);
        } else if (n == 1 && k0 == 's') {
            const textSpan_t v = nextWord(text);
            if (!v.is("0") && !v.is("off") && !out.smoothLine) out.smoothLine = lineNo;
        } else if (n == 1 && (k0 == 'l' || k0 == 'p')) {
            report("lines", "lines and points (\"" + key.str() + "\") are not surfaces; ignored");
        } else if (!(key.is("o") || key.is("g"))) {
            const std::string word = key.str();
            report(word, "\"" + word + "\" statements are ignored");
        }
    }

    void finish() {
        if (!anyFace) out.allUV = false;
    }

private:
    void report(const std::string& key, const std::string& message) {
        if (reported.insert(key).second) out.warnings.push_back(lineText(lineNo) + message);
    }

    // The rest of a line after its white space, as std::getline gives it.
    static std::string restOf(textSpan_t text) {
        while (!text.empty() && isObjSpace(*text.begin)) ++text.begin;
        return text.str();
    }

    void vertex(textSpan_t text) {
        ++vertices;
        // Colours follow the position: six numbers or more.
        int count = 0;
        while (count < 6 && extractFloat(text, nullptr)) ++count;
        if (count >= 6) report("vcolor", "vertex colours are ignored");
    }

    // The first '/' of a corner, or null (words are short: no library call).
    static const char* slashIn(const char* p, const char* end) {
        for (; p < end; ++p)
            if (*p == '/') return p;
        return nullptr;
    }

    void face(textSpan_t text) {
        std::size_t corners = 0;
        bool uv = true, normal = true;
        const std::size_t first = out.corners.size();
        for (textSpan_t w = nextWord(text); !w.empty(); w = nextWord(text)) {
            ++corners;
            // Once neither can hold, only the corners are counted.
            if (!details && !uv && !normal) continue;
            std::array<int, 3> c{-1, -1, -1};
            const char* s1 = slashIn(w.begin, w.end);
            // The vertex only counts in the corners kept.
            if (details) c[0] = resolveIndex(w.begin, s1 ? s1 : w.end, vertices);
            if (s1 && (details || uv || normal)) {
                const char* s2 = slashIn(s1 + 1, w.end);
                c[1] = resolveIndex(s1 + 1, s2 ? s2 : w.end, texcoords);
                if (s2) c[2] = resolveIndex(s2 + 1, w.end, normals);
            }
            uv = uv && c[1] >= 0;
            normal = normal && c[2] >= 0;
            if (details) out.corners.push_back(c);
        }
        if (corners < 3) {
            report("shortface", "faces of fewer than 3 corners are not surfaces; ignored");
            if (details) out.corners.resize(first);
            return;
        }
        anyFace = true;
        out.anyUV = out.anyUV || uv;
        out.allUV = out.allUV && uv;
        out.anyNormal = out.anyNormal || normal;
        if (details) {
            objPolygon_t p;
            p.firstCorner = first;
            p.corners = corners;
            p.material = current;
            out.polygons.push_back(p);
        }
    }

    objDetails_t& out;
    const bool details;
    std::size_t vertices = 0, texcoords = 0, normals = 0, lineNo = 0;
    std::set<std::string> reported;
    std::map<std::string, int> materialIndex;
    int current = -1;
    bool anyFace = false;
};

} // namespace

void scanObj(const char* text, std::size_t size, objDetails_t& out, bool details) {
    objScanner_t scan(out, details);
    forEachLine(text, size, [&](textSpan_t line) {
        scan.line(line);
        return true;
    });
    scan.finish();
}

void scanObj(std::istream& in, objDetails_t& out, bool details) {
    objScanner_t scan(out, details);
    forEachBlock(in, [&](const char* text, std::size_t size) {
        forEachLine(text, size, [&](textSpan_t line) {
            scan.line(line);
            return true;
        });
        return true;
    });
    scan.finish();
}

bool applyObjDetails(const objDetails_t& d, const std::vector<int>& shaderOf, bool flipV, meshData_t& data,
                     meshExtras_t& extras, std::string& why) {
    extras = meshExtras_t();
    const std::size_t nf = data.faces.size();
    std::size_t expected = 0;
    for (const objPolygon_t& p : d.polygons) expected += p.corners - 2;
    if (expected != nf) {
        why = "its " + std::to_string(nf) + " triangles do not match the " + std::to_string(expected) +
              " of its faces";
        return false;
    }
    std::vector<vector3d_t> normals;
    std::vector<float> uv;
    std::vector<unsigned char> hasUV;
    std::vector<int> shader;
    std::size_t f = 0;
    for (const objPolygon_t& p : d.polygons) {
        for (std::size_t k = 0; k + 2 < p.corners; ++k, ++f) {
            std::array<int, 3> tex{}, nor{};
            for (int c = 0; c < 3; ++c) {
                const int v = data.faces[f][static_cast<std::size_t>(c)];
                const std::array<int, 3>* hit = nullptr;
                for (std::size_t j = 0; j < p.corners && !hit; ++j)
                    if (d.corners[p.firstCorner + j][0] == v) hit = &d.corners[p.firstCorner + j];
                if (!hit) {
                    why = "triangle " + std::to_string(f + 1) + " does not match its face";
                    return false;
                }
                tex[static_cast<std::size_t>(c)] = (*hit)[1];
                nor[static_cast<std::size_t>(c)] = (*hit)[2];
            }
            const bool faceUV = tex[0] >= 0 && tex[1] >= 0 && tex[2] >= 0;
            const bool faceNormals = nor[0] >= 0 && nor[1] >= 0 && nor[2] >= 0;
            for (int c = 0; c < 3; ++c) {
                const std::size_t i = static_cast<std::size_t>(c);
                if (d.anyUV) {
                    const float u = faceUV ? d.texcoords[2 * static_cast<std::size_t>(tex[i])] : 0.0f;
                    const float v = faceUV ? d.texcoords[2 * static_cast<std::size_t>(tex[i]) + 1] : 0.0f;
                    uv.push_back(u);
                    uv.push_back(flipV ? 1.0f - v : v);
                }
                if (d.anyNormal) {
                    vector3d_t n =
                        faceNormals ? d.normals[static_cast<std::size_t>(nor[i])] : vector3d_t(0, 0, 0);
                    if (n.length() > 0.0f) n.normalize();
                    normals.push_back(n);
                }
            }
            if (d.anyUV) hasUV.push_back(faceUV ? 1 : 0);
            const std::size_t m =
                p.material >= 0 ? static_cast<std::size_t>(p.material) : shaderOf.size() - 1;
            shader.push_back(m < shaderOf.size() ? shaderOf[m] : -1);
        }
    }
    if (d.anyUV) {
        data.faceUV.swap(uv);
        extras.faceHasUV.swap(hasUV);
    }
    extras.cornerNormals.swap(normals);
    extras.faceShader.swap(shader);
    return true;
}

json mtlShader(const mtlValues_t& m, const std::string& textureName, const std::string& folder,
               std::vector<std::pair<std::string, json>>& textures) {
    auto rgb = [](const float* c) { return json::array({c[0], c[1], c[2]}); };
    json d = json::object();
    if (m.illum == 0) {
        // Colour only, lit by nothing.
        d["type"] = "constant";
        d["color"] = rgb(m.kd);
        return d;
    }
    d["type"] = "generic";
    d["color"] = rgb(m.kd);
    if (m.illum != 1) {
        d["specular_color"] = rgb(m.ks);
        d["hard"] = std::clamp(m.ns, 1.0f, 10000.0f);
    }
    if (m.illum == 3 || m.illum == 4 || m.illum == 5 || m.illum == 6 || m.illum == 7 || m.illum == 8 ||
        m.illum == 9)
        d["mirror_color"] = rgb(m.ks);
    const bool refracts = m.illum == 4 || m.illum == 6 || m.illum == 7 || m.illum == 9;
    const float clear = std::clamp(1.0f - m.d, 0.0f, 1.0f);
    if (clear > 0.0f) d["transmit_color"] = json::array({clear, clear, clear});
    d["ior"] = refracts || clear == 0.0f ? std::max(m.ni, 0.01f) : 1.0f;
    if (m.illum == 5 || m.illum == 7) d["fresnel"] = true;
    if (m.ke[0] > 0 || m.ke[1] > 0 || m.ke[2] > 0) d["emit_color"] = rgb(m.ke);
    int layer = 1;
    auto picture = [&](const std::string& file, const std::string& suffix) {
        json t = json::object();
        t["type"] = "image";
        t["filename"] = resolvePath(folder, file);
        t["wrap"] = "repeat";
        textures.emplace_back(textureName + suffix, t);
        const std::string l = "layer" + std::to_string(layer++) + "_";
        d[l + "texture"] = textureName + suffix;
        d[l + "coords"] = "uv";
        return l;
    };
    if (!m.mapKd.empty()) d[picture(m.mapKd, "/color") + "mode"] = "multiply";
    if (!m.mapBump.empty()) {
        const std::string l = picture(m.mapBump, "/bump");
        d[l + "colfac"] = 0.0f;
        d[l + "bump"] = m.bumpScale;
    }
    return d;
}

namespace {

// The materials of one .mtl file, and its ignored statements.
void readLibrary(const std::string& path, std::map<std::string, mtlValues_t>& found,
                 std::vector<std::string>& warnings) {
    std::string text, error;
    if (!readFile(path, text, error)) {
        warnings.push_back("cannot read material library \"" + path + "\": " + error +
                           "; its materials are grey");
        return;
    }
    std::set<std::string> reported;
    // Materials that state their illumination model (the reader's default
    // is 0, colour only; a material that says nothing is lit normally).
    std::set<std::string> withIllum;
    std::string material;
    std::istringstream lines(text);
    std::string line;
    for (std::size_t n = 1; std::getline(lines, line); ++n) {
        std::istringstream words(line);
        std::string key;
        if (!(words >> key) || key[0] == '#') continue;
        if (key == "newmtl") std::getline(words >> std::ws, material);
        if (!material.empty() && material.back() == '\r') material.pop_back();
        if (key == "illum") withIllum.insert(material);
        if (mtlUsed.count(key) || !reported.insert(key).second) continue;
        warnings.push_back("material library \"" + path + "\" " + lineText(n) + "\"" + key + "\" is ignored");
    }
    std::istringstream in(text);
    std::map<std::string, int> index;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    tinyobj::LoadMtl(&index, &materials, &in, &warn, &err);
    for (const tinyobj::material_t& t : materials) {
        if (found.count(t.name)) continue;
        mtlValues_t m;
        for (int i = 0; i < 3; ++i) {
            m.kd[i] = static_cast<float>(t.diffuse[i]);
            m.ks[i] = static_cast<float>(t.specular[i]);
            m.ke[i] = static_cast<float>(t.emission[i]);
        }
        m.ns = static_cast<float>(t.shininess);
        m.ni = static_cast<float>(t.ior);
        m.d = static_cast<float>(t.dissolve);
        m.illum = withIllum.count(t.name) ? t.illum : 2;
        // Pictures are named relative to the library; one that cannot be
        // read leaves its material without it, not the scene unloadable.
        const std::string folder = folderOf(path);
        for (auto pic :
             {std::make_pair(&m.mapKd, &t.diffuse_texname), std::make_pair(&m.mapBump, &t.bump_texname)}) {
            if (pic.second->empty()) continue;
            const std::string file = resolvePath(folder, *pic.second);
            if (::access(file.c_str(), R_OK) == 0)
                *pic.first = file;
            else
                warnings.push_back("material \"" + t.name + "\": cannot read picture \"" + file +
                                   "\": " + std::strerror(errno) + "; left out");
        }
        m.bumpScale = static_cast<float>(t.bump_texopt.bump_multiplier);
        found[t.name] = m;
    }
}

} // namespace

void reportMeshFileNotes(const std::string& path, const meshFileNotes_t& notes, float smooth,
                         const jsonPath_t& at, diagnostics_t& diag) {
    const std::string file = "mesh file \"" + path + "\": ";
    for (const std::string& w : notes.warnings) diag.warn(at, file + w);
    if (notes.smoothLine && smooth < 0.0f)
        diag.warn(
            at, file + lineText(static_cast<std::size_t>(notes.smoothLine)) +
                    "smoothing groups (\"s\") are ignored; give the mesh \"auto_smooth\" or vertex normals");
}

meshObject_t* objMeshWithDetails(const std::string& path, const std::string* memoryText,
                                 const std::string& name, const matrix4x4_t& placement, float smooth,
                                 const shader_t* shader, sceneTarget_t& target, const jsonPath_t& at,
                                 diagnostics_t& diag, bool& usedMaterials, meshFileNotes_t* notes) {
    usedMaterials = false;
    // First only what decides whether the file needs more than meshload.h
    // (a large mesh of positions and triangles keeps no corner here), then,
    // when it does, everything.
    objDetails_t d;
    auto scan = [&](bool details) {
        if (memoryText) {
            scanObj(memoryText->data(), memoryText->size(), d, details);
            return true;
        }
        std::ifstream in(path, std::ios::binary);
        // Unreadable files are reported by the mesh reader.
        if (!in) return false;
        scanObj(in, d, details);
        return true;
    };
    if (!scan(false)) return nullptr;
    const std::string file = "mesh file \"" + path + "\": ";
    meshFileNotes_t found;
    found.warnings = std::move(d.warnings);
    found.smoothLine = d.anyNormal ? 0 : d.smoothLine;
    found.namesMaterials = !d.materials.empty();
    reportMeshFileNotes(path, found, smooth, at, diag);
    const bool materials = !shader && !d.materials.empty();
    if (!d.matters(materials)) {
        if (notes) *notes = std::move(found);
        return nullptr;
    }
    if (!scan(true)) return nullptr;

    meshData_t data;
    std::string error;
    if (memoryText) {
        if (!parseObj(*memoryText, data, error)) diag.fail(at, file + error);
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in) diag.fail(at, "cannot read mesh file \"" + path + "\": " + std::strerror(errno));
        if (!parseObjStream(in, data, error))
            diag.fail(at, file + (in.bad() ? std::string("read error") : error));
    }

    // One shader per material the faces name, then the grey default.
    std::vector<const shader_t*> shaders;
    std::vector<int> shaderOf(d.materials.size() + 1, -1);
    if (materials) {
        std::map<std::string, mtlValues_t> library;
        std::vector<std::string> warnings;
        const std::string folder = folderOf(path);
        for (const std::string& lib : d.libraries) readLibrary(resolvePath(folder, lib), library, warnings);
        for (const std::string& w : warnings) diag.warn(at, file + w);
        std::set<std::string> missing;
        for (std::size_t i = 0; i <= d.materials.size(); ++i) {
            mtlValues_t m;
            std::string material = i < d.materials.size() ? d.materials[i] : std::string("default");
            if (i < d.materials.size()) {
                auto it = library.find(material);
                if (it != library.end())
                    m = it->second;
                else
                    missing.insert(material);
            }
            const std::string shaderName = name + "/" + material;
            std::vector<std::pair<std::string, json>> textures;
            const json desc = mtlShader(m, shaderName, folder, textures);
            for (const auto& t : textures) target.addTexture(t.first, t.second, at / t.first);
            target.addShader(shaderName, desc, at / shaderName);
            shaderOf[i] = static_cast<int>(shaders.size());
            shaders.push_back(target.shader(shaderName));
        }
        for (const std::string& m : missing)
            diag.warn(at, file + "no material library defines \"" + m + "\"; its faces are grey");
        usedMaterials = true;
    }
    meshExtras_t extras;
    if (!applyObjDetails(d, shaderOf, materials, data, extras, error)) {
        diag.warn(at, file + "normals, materials and texture coordinates left out: " + error);
        extras = meshExtras_t();
        usedMaterials = false;
    } else if (d.anyUV && !d.allUV) {
        std::size_t with = 0;
        for (unsigned char u : extras.faceHasUV) with += u;
        diag.warn(at, file + "texture coordinates on " + std::to_string(with) + " of " +
                          std::to_string(extras.faceHasUV.size()) + " triangles; the other " +
                          std::to_string(extras.faceHasUV.size() - with) + " have none");
    }
    meshObject_t* mesh = buildMeshWith(std::move(data), std::move(extras), placement, smooth, shaders);
    mesh->setShader(shader);
    return mesh;
}

} // namespace host
} // namespace vexlar
