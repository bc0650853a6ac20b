// OBJ files as modelling programs write them: .mtl materials per usemtl
// group, vertex normals, texture coordinates on some faces, and warnings
// for every statement that is left out.
#include <functional>
#include <sstream>

#include "host/objmaterials.h"
#include "importfixture.h"
#include "vexlarcore/mesh.h"

using namespace vexlar;
using namespace vexlar::host;
using namespace support;

namespace {

// Two materials, a face before any usemtl, normals on the first face only
// and texture coordinates on the first two.
const char* groupsObj = "mtllib m.mtl\no quad\nv -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
                        "vt 0 0.25\nvt 1 0\nvt 1 1\nvn 0 0 1\nvn 0 1 0\nf 1/1/1 2/2/2 3/3/1\n"
                        "usemtl red\nf 1/1 3/3 4/2\nusemtl blue\nf 2 4 3\nusemtl red\nf 4 1 2\n";
const char* groupsMtl = "newmtl red\nKa 1 1 1\nKd 0.8 0.1 0.1\nKs 0.5 0.5 0.5\nNs 100\n"
                        "newmtl blue\nKd 0.1 0.1 0.8\nKa 0 0 0\nd 0.5\nmap_Kd blue.png\n";

// The object "m" from m.obj, given the scene's shader "white" when `shader`.
std::string meshScene(bool shader = false, const std::string& render = "{}") {
    return R"({"shaders": {"white": {"type": "generic"}}, "render": )" + render +
           R"(, "objects": {"m": {"type": "mesh", "file": "m.obj")" +
           (shader ? R"(, "shader": "white")" : "") + "}}}";
}

// The mesh of the object "m"; throws (failing the test) when it is not a mesh.
const meshObject_t* meshOf(const loadedScene_t& s) {
    return &dynamic_cast<const meshObject_t&>(*s.objectList.at(0).second);
}

class objMaterials : public importFixture_t {
protected:
    void SetUp() override {
        importFixture_t::SetUp();
        dir.write("m.obj", groupsObj);
        dir.write("m.mtl", groupsMtl);
    }
    tempDir_t dir;
};

TEST(objStatements, EveryIgnoredKindIsReportedOnceWithItsLine) {
    std::istringstream in(
        "v 0 0 0 1 0 0\nv 1 0 0\nv 0 1 0\nvp 1\nvp 2\nl 1 2\nf 1 2\ncstype bezier\nf 1 2 3\n");
    objDetails_t d;
    scanObj(in, d);
    const std::vector<std::string> expected = {
        "line 1: vertex colours are ignored", "line 4: \"vp\" statements are ignored",
        "line 6: lines and points (\"l\") are not surfaces; ignored",
        "line 7: faces of fewer than 3 corners are not surfaces; ignored",
        "line 8: \"cstype\" statements are ignored"};
    EXPECT_EQ(d.warnings, expected);
    EXPECT_EQ(d.polygons.size(), 1u);
    EXPECT_FALSE(d.matters(true));
}

TEST(objStatements, MtlValuesMapOntoShaderSettings) {
    struct row_t {
        const char* what;
        std::function<void(mtlValues_t&)> edit;
        const char* key;
        json expected;
    };
    const row_t rows[] = {
        {"Kd is the colour", [](mtlValues_t& m) { m.kd[1] = 0.3f; }, "color",
         json::array({0.8f, 0.3f, 0.8f})},
        {"Ks the highlight", [](mtlValues_t& m) { m.ks[0] = 0.5f; }, "specular_color",
         json::array({0.5f, 0.0f, 0.0f})},
        {"Ns clamped to the hardness range", [](mtlValues_t& m) { m.ns = 20000; }, "hard", 10000.0f},
        {"illum 1 has no highlights", [](mtlValues_t& m) { m.illum = 1, m.ks[0] = 1; }, "specular_color",
         nullptr},
        {"illum 3 mirrors Ks", [](mtlValues_t& m) { m.illum = 3, m.ks[2] = 0.7f; }, "mirror_color",
         json::array({0.0f, 0.0f, 0.7f})},
        {"dissolve lets light through", [](mtlValues_t& m) { m.d = 0.25f; }, "transmit_color",
         json::array({0.75f, 0.75f, 0.75f})},
        {"dissolve alone does not refract", [](mtlValues_t& m) { m.d = 0.25f, m.ni = 1.33f; }, "ior", 1.0f},
        {"illum 7 refracts with Ni", [](mtlValues_t& m) { m.d = 0, m.illum = 7, m.ni = 1.33f; }, "ior",
         1.33f},
        {"illum 7 weighs by Fresnel", [](mtlValues_t& m) { m.illum = 7; }, "fresnel", true},
        {"illum 0 is colour only", [](mtlValues_t& m) { m.illum = 0; }, "type", "constant"},
        {"Ke glows", [](mtlValues_t& m) { m.ke[0] = 2; }, "emit_color", json::array({2.0f, 0.0f, 0.0f})},
        {"map_Kd multiplies the colour", [](mtlValues_t& m) { m.mapKd = "a.png"; }, "layer1_mode",
         "multiply"},
        {"map_Kd on uv coordinates", [](mtlValues_t& m) { m.mapKd = "a.png"; }, "layer1_coords", "uv"},
        {"bump layer after the colour",
         [](mtlValues_t& m) { m.mapKd = "a.png", m.mapBump = "b.png", m.bumpScale = 0.5f; }, "layer2_bump",
         0.5f},
    };
    for (const row_t& r : rows) {
        mtlValues_t m;
        r.edit(m);
        std::vector<std::pair<std::string, json>> textures;
        const json d = mtlShader(m, "o/mat", "/pics", textures);
        const json got = d.contains(r.key) ? d[r.key] : json(nullptr);
        EXPECT_EQ(got.dump(), r.expected.dump()) << r.what << ": " << d.dump();
    }
}

TEST_F(objMaterials, UsemtlGroupsNormalsAndPartialUVsReachTheTriangles) {
    // A picture that is not there leaves the material without it.
    auto p = load(meshScene(), dir.path);
    EXPECT_FALSE(p->textures.count("m/blue/color"));
    EXPECT_TRUE(contains(joined(p->warnings),
                         "material \"blue\": cannot read picture \"" + dir.path + "/blue.png\""));
    dir.write("blue.png", slurp(std::string(VEXLAR_TEST_DATA_DIR) + "/gltf/Checks.png"));
    auto s = load(meshScene(), dir.path);
    const meshObject_t* mesh = meshOf(*s);
    ASSERT_EQ(mesh->triangles.size(), 4u);
    const shader_t* red = s->shaders.at("m/red");
    const shader_t* expected[4] = {s->shaders.at("m/default"), red, s->shaders.at("m/blue"), red};
    for (int f = 0; f < 4; ++f) EXPECT_EQ(mesh->triangles[f].shader, expected[f]) << "triangle " << f;
    EXPECT_TRUE(s->textures.count("m/blue/color"));
    // Normals as written on the first face (the second corner's differs), flat elsewhere.
    const triangle_t& t0 = mesh->triangles[0];
    ASSERT_NE(t0.na, nullptr);
    expectFloatEq(*t0.na, 0, 0, 1);
    expectFloatEq(*t0.nb, 0, 1, 0);
    EXPECT_EQ(mesh->triangles[2].na, nullptr);
    // uv where given, v turned to run from the top of the picture.
    ASSERT_TRUE(t0.hasUV);
    EXPECT_FLOAT_EQ(t0.uv[1], 0.75f);
    EXPECT_TRUE(mesh->triangles[1].hasUV && !mesh->triangles[2].hasUV);
    const std::string w = joined(s->warnings);
    EXPECT_TRUE(contains(w, "texture coordinates on 2 of 4 triangles; the other 2 have none")) << w;
    EXPECT_TRUE(contains(w, "material library \"" + dir.path + "/m.mtl\" line 2: \"Ka\" is ignored")) << w;
    EXPECT_EQ(w.find("\"Ka\" is ignored"), w.rfind("\"Ka\" is ignored")) << "reported once: " << w;
    EXPECT_FALSE(contains(w, "has no \"shader\"")) << w;
}

TEST_F(objMaterials, SceneShaderOverridesEveryMaterial) {
    auto s = load(meshScene(true), dir.path);
    const meshObject_t* mesh = meshOf(*s);
    EXPECT_FALSE(s->shaders.count("m/red"));
    for (const triangle_t& t : mesh->triangles) EXPECT_EQ(t.shader, nullptr);
    EXPECT_EQ(mesh->shader, s->shaders.at("white"));
    // Normals still count; the .mtl is not read, so says nothing.
    EXPECT_NE(mesh->triangles[0].na, nullptr);
    EXPECT_FALSE(contains(joined(s->warnings), "Ka")) << joined(s->warnings);
    // Without a library at all the named materials are grey, and said so.
    dir.write("m.mtl", "");
    auto g = load(meshScene(), dir.path);
    EXPECT_TRUE(contains(joined(g->warnings), "no material library defines \"red\"; its faces are grey"));
}

TEST_F(objMaterials, PolygonCornersKeepTheirOwnNormals) {
    // A quad goes through the polygon reader, which picks its own diagonal.
    dir.write("m.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvn 1 0 1\nvn 0 1 1\nvn -1 0 1\nvn 0 -1 1\n"
                       "f 1//1 2//2 3//3 4//4\n");
    auto s = load(meshScene(true), dir.path);
    const meshObject_t* mesh = meshOf(*s);
    ASSERT_EQ(mesh->triangles.size(), 2u);
    const point3d_t* base = mesh->points.data();
    for (const triangle_t& t : mesh->triangles) {
        const point3d_t* corners[3] = {t.pa, t.pb, t.pc};
        const vector3d_t* normals[3] = {t.na, t.nb, t.nc};
        for (int c = 0; c < 3; ++c) {
            ASSERT_NE(normals[c], nullptr);
            vector3d_t want[4] = {{1, 0, 1}, {0, 1, 1}, {-1, 0, 1}, {0, -1, 1}};
            vector3d_t n = want[corners[c] - base];
            n.normalize();
            expectNear(*normals[c], n, 1e-5f);
        }
    }
}

TEST_F(objMaterials, TheCacheServesPlainMeshesWithTheWarningsOfTheirFile) {
    tempDir_t cache;
    // Faces naming a material, a smoothing group and a statement left out:
    // plain when the scene gives the shader, so cached with what the file says.
    dir.write("m.obj",
              "s 1\nusemtl red\nfoo\n" + gridObj(71, [](int i, int j) { return (i + j) % 3 * 0.1; }));
    const std::string render = R"({"mesh_cache": ")" + cache.path + "\"}";
    std::vector<std::string> said[2];
    for (auto& w : said) {
        auto s = load(meshScene(true, render), dir.path, sceneOverrides_t(), loadOptions_t());
        EXPECT_EQ(cache.files().size(), 1u);
        EXPECT_EQ(meshOf(*s)->treeWasPrebuilt(), &w == &said[1]);
        w = s->warnings;
    }
    EXPECT_EQ(said[0], said[1]);
    EXPECT_TRUE(contains(joined(said[1]), "smoothing groups (\"s\") are ignored")) << joined(said[1]);
    // Without a shader the file's materials are wanted: not served from the entry.
    auto s = load(meshScene(false, render), dir.path, sceneOverrides_t(), loadOptions_t());
    EXPECT_FALSE(meshOf(*s)->treeWasPrebuilt());
    EXPECT_TRUE(s->shaders.count("m/red"));
}

TEST_F(objMaterials, MeshesWithDetailsBypassTheCache) {
    tempDir_t cache;
    // Big enough to be cached, were it not for its normals.
    dir.write("m.obj", gridObj(
                           71, [](int, int) { return 0.0; }, "//1"));
    auto s = load(meshScene(true, R"({"mesh_cache": ")" + cache.path + "\"}"), dir.path, sceneOverrides_t(),
                  loadOptions_t());
    const meshObject_t* mesh = meshOf(*s);
    EXPECT_EQ(mesh->triangles.size(), 2u * 71 * 71);
    EXPECT_NE(mesh->triangles[0].na, nullptr);
    EXPECT_TRUE(cache.files().empty());
}

} // namespace
