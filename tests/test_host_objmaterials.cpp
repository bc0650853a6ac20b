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
const char* groupsObj = R"(mtllib m.mtl
o quad
v -1 -1 0
v 1 -1 0
v 1 1 0
v -1 1 0
vt 0 0.25
vt 1 0
vt 1 1
vn 0 0 1
vn 0 1 0
f 1/1/1 2/2/2 3/3/1
usemtl red
f 1/1 3/3 4/2
usemtl blue
f 2 4 3
usemtl red
f 4 1 2
)";

const char* groupsMtl = R"(newmtl red
Ka 1 1 1
Kd 0.8 0.1 0.1
Ks 0.5 0.5 0.5
Ns 100
newmtl blue
Kd 0.1 0.1 0.8
Ka 0 0 0
d 0.5
map_Kd blue.png
)";

std::string meshScene(const std::string& extra) {
    return R"({"objects": {"m": {"type": "mesh", "file": "m.obj")" + extra + "}}}";
}

class objMaterials : public importFixture_t {};

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
    mtlValues_t m;
    m.mapKd = "sub/a.png";
    std::vector<std::pair<std::string, json>> textures;
    mtlShader(m, "o/mat", "/pics", textures);
    ASSERT_EQ(textures.size(), 1u);
    EXPECT_EQ(textures[0].first, "o/mat/color");
    EXPECT_EQ(textures[0].second["filename"], "/pics/sub/a.png");
}

TEST_F(objMaterials, UsemtlGroupsNormalsAndPartialUVsReachTheTriangles) {
    tempDir_t dir;
    dir.write("m.obj", groupsObj);
    dir.write("m.mtl", groupsMtl);
    dir.write("blue.png", slurp(std::string(VEXLAR_TEST_DATA_DIR) + "/gltf/Checks.png"));
    auto s = load(meshScene(""), dir.path);
    auto* mesh = dynamic_cast<meshObject_t*>(s->objectList.at(0).second);
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->triangles.size(), 4u);
    const shader_t* red = s->shaders.at("m/red");
    const shader_t* blue = s->shaders.at("m/blue");
    const shader_t* grey = s->shaders.at("m/default");
    const shader_t* expected[4] = {grey, red, blue, red};
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
    EXPECT_TRUE(mesh->triangles[1].hasUV);
    EXPECT_FALSE(mesh->triangles[2].hasUV);
    const std::string w = joined(s->warnings);
    EXPECT_TRUE(contains(w, "texture coordinates on 2 of 4 triangles; the other 2 have none")) << w;
    EXPECT_TRUE(contains(w, "material library \"" + dir.path + "/m.mtl\" line 2: \"Ka\" is ignored")) << w;
    EXPECT_EQ(w.find("\"Ka\" is ignored"), w.rfind("\"Ka\" is ignored")) << "reported once: " << w;
    EXPECT_FALSE(contains(w, "has no \"shader\"")) << w;
}

TEST_F(objMaterials, SceneShaderOverridesEveryMaterial) {
    tempDir_t dir;
    dir.write("m.obj", groupsObj);
    dir.write("m.mtl", groupsMtl);
    auto s = load(R"({"shaders": {"white": {"type": "generic"}}, )" +
                      meshScene(R"(, "shader": "white")").substr(1),
                  dir.path);
    auto* mesh = dynamic_cast<meshObject_t*>(s->objectList.at(0).second);
    ASSERT_NE(mesh, nullptr);
    EXPECT_FALSE(s->shaders.count("m/red"));
    for (const triangle_t& t : mesh->triangles) EXPECT_EQ(t.shader, nullptr);
    EXPECT_EQ(mesh->shader, s->shaders.at("white"));
    // Normals still count; the .mtl is not read, so says nothing.
    EXPECT_NE(mesh->triangles[0].na, nullptr);
    EXPECT_FALSE(contains(joined(s->warnings), "Ka")) << joined(s->warnings);
    // Without a library at all the named materials are grey, and said so.
    dir.write("m.mtl", "");
    auto g = load(meshScene(""), dir.path);
    EXPECT_TRUE(contains(joined(g->warnings), "no material library defines \"red\"; its faces are grey"));
    // A picture that is not there leaves the material without it.
    dir.write("m.mtl", groupsMtl);
    auto p = load(meshScene(""), dir.path);
    EXPECT_FALSE(p->textures.count("m/blue/color"));
    EXPECT_TRUE(contains(joined(p->warnings),
                         "material \"blue\": cannot read picture \"" + dir.path + "/blue.png\""));
}

TEST_F(objMaterials, PolygonCornersKeepTheirOwnNormals) {
    tempDir_t dir;
    // A quad goes through the polygon reader, which picks its own diagonal.
    dir.write("m.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvn 1 0 1\nvn 0 1 1\nvn -1 0 1\nvn 0 -1 1\n"
                       "f 1//1 2//2 3//3 4//4\n");
    auto s =
        load(meshScene(R"(, "shader": "x")").replace(0, 1, R"({"shaders": {"x": {"type": "generic"}}, )"),
             dir.path);
    auto* mesh = dynamic_cast<meshObject_t*>(s->objectList.at(0).second);
    ASSERT_NE(mesh, nullptr);
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

TEST_F(objMaterials, MeshesWithDetailsBypassTheCache) {
    tempDir_t dir, cache;
    std::ostringstream obj;
    // Big enough to be cached, were it not for its normals.
    for (int i = 0; i <= 100; ++i)
        for (int j = 0; j <= 50; ++j) obj << "v " << i << " " << j << " 0\n";
    obj << "vn 0 0 1\n";
    for (int i = 0; i < 100; ++i)
        for (int j = 0; j < 50; ++j) {
            const int a = i * 51 + j + 1, b = a + 51;
            obj << "f " << a << "//1 " << b << "//1 " << a + 1 << "//1\nf " << b << "//1 " << b + 1 << "//1 "
                << a + 1 << "//1\n";
        }
    dir.write("m.obj", obj.str());
    auto s = load(R"({"shaders": {"x": {"type": "generic"}}, "render": {"mesh_cache": ")" + cache.path +
                      R"("}, "objects": {"m": {"type": "mesh", "file": "m.obj", "shader": "x"}}})",
                  dir.path);
    auto* mesh = dynamic_cast<meshObject_t*>(s->objectList.at(0).second);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->triangles.size(), 10000u);
    EXPECT_NE(mesh->triangles[0].na, nullptr);
    EXPECT_TRUE(cache.files().empty());
}

} // namespace
