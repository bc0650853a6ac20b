// glTF import: files written by Blender's glTF exporter (tests/data/gltf,
// made by scripts/make-gltf-fixtures.py) and small hand-written ones, their
// transforms, instances, materials, lights and cameras against known values,
// and corrupt or hostile files.
#include <cmath>
#include <functional>

#include "host/gltfimport.h"
#include "host/gltfobject.h"
#include "host/pbrmapping.h"
#include "importfixture.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/reference.h"

using namespace vexlar;
using namespace vexlar::host;
using namespace support;

namespace {

const std::string dataDir = std::string(VEXLAR_TEST_DATA_DIR) + "/gltf";
constexpr float pi = 3.14159265f;

// The little-endian bytes of the floats (0,0,0) (1,0,0) (0,1,0) and the
// indices 0 1 2, and the same with a NaN for the third corner's y.
const std::string triangleBytes = "AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAAAAABAAIA";
const std::string nanBytes = "AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAwH8AAAAAAAABAAIA";

// One triangle (0,0,0) (1,0,0) (0,1,0) with indices 0 1 2, in a mesh shown
// by node 0; `edit` changes the document before it is written.
std::string triangleFile(const std::function<void(json&)>& edit = nullptr) {
    json d = json::parse(R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
      "nodes": [{"mesh": 0}], "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1}]}],
      "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 36}, {"buffer": 0, "byteOffset": 36,
        "byteLength": 6}], "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
        "min": [0, 0, 0], "max": [1, 1, 0]}, {"bufferView": 1, "componentType": 5123, "count": 3,
        "type": "SCALAR"}], "buffers": [{"byteLength": 42}]})");
    d["buffers"][0]["uri"] = "data:application/octet-stream;base64," + triangleBytes;
    if (edit) edit(d);
    return d.dump();
}

// Imports `text` into `g`: "" when it succeeds, else the reason (never empty).
std::string importError(const std::string& text, gltfScene_t& g) {
    std::string error;
    if (importGltf(text, gltfImportOptions_t(), g, error)) return "";
    return error.empty() ? "failed without a reason" : error;
}

class gltfImport : public importFixture_t {};

TEST(gltfFiles, BlenderExportHasKnownPlacementsLightsAndCamera) {
    for (const char* name : {"/blender-scene.glb", "/blender-scene.gltf"}) {
        SCOPED_TRACE(name);
        gltfScene_t g;
        std::string error;
        const gltfImportOptions_t o{"m/", matrix4x4_t(), dataDir};
        ASSERT_TRUE(importGltf(slurp(dataDir + name), o, g, error)) << error;
        // Box and Twin share one mesh; Blender's z up became glTF's y up.
        ASSERT_EQ(g.meshes.size(), 3u);
        ASSERT_EQ(g.placements.size(), 4u);
        EXPECT_EQ(g.placements[0].mesh, g.placements[1].mesh);
        expectFloatEq(g.placements[0].world * point3d_t(0, 0, 0), 1, 3, -2);
        expectFloatEq(g.placements[1].world * point3d_t(2, 0, 0), -3, 0, 0);
        EXPECT_EQ(g.meshes[g.placements[0].mesh].data.faces.size(), 12u);
        EXPECT_EQ(g.meshes[g.placements[0].mesh].extras.cornerNormals.size(), 36u);
        ASSERT_EQ(g.lights.size(), 3u);
        // 1000 W point light: 1000 / (4 pi^2) after the exporter's 683 lm/W.
        EXPECT_EQ(g.lights[0].first, "m/Lamp");
        EXPECT_NEAR(g.lights[0].second["power"].get<float>(), 1000.0f / (4 * pi * pi), 0.01f);
        EXPECT_NEAR(g.lights[0].second["from"][1].get<float>(), 0.0f, 1e-5f);
        EXPECT_NEAR(g.lights[0].second["from"][2].get<float>(), -5.0f, 1e-5f);
        EXPECT_EQ(g.lights[1].second["type"], "sun");
        EXPECT_NEAR(g.lights[1].second["direction"][1].get<float>(), 1.0f, 1e-5f);
        EXPECT_NEAR(g.lights[1].second["power"].get<float>(), 3.0f / pi, 1e-3f);
        EXPECT_EQ(g.lights[2].second["type"], "spot");
        EXPECT_NEAR(g.lights[2].second["angle"].get<float>(), 45.0f, 1e-3f);
        EXPECT_NEAR(g.lights[2].second["blend"].get<float>(), 0.25f, 1e-3f);
        ASSERT_EQ(g.cameras.size(), 1u);
        EXPECT_EQ(g.cameras[0].name, "Cam");
        expectFloatEq(g.cameras[0].from, 0, 2, 10);
        expectFloatEq(g.cameras[0].to, 0, 2, 9);
        // 50 mm lens on a 36 mm wide sensor at 4:3.
        EXPECT_NEAR(std::tan(g.cameras[0].yfov / 2), 18.0f / 50.0f * 0.75f, 1e-4f);
        ASSERT_EQ(g.textures.size(), 1u);
        if (std::string(name) == "/blender-scene.glb") {
            ASSERT_EQ(g.images.size(), 1u);
            EXPECT_EQ(g.images[0].extension, ".png");
        } else {
            EXPECT_TRUE(g.images.empty());
            EXPECT_EQ(g.textures[0].second["filename"], dataDir + "/Checks.png");
        }
    }
}

TEST(gltfFiles, NodeTransformsComposeDownTheTree) {
    // Parent moved by (0, 0, 5); child turned 90 degrees about y, scaled 2,
    // moved by (1, 0, 0): (1, 0, 0) -> scale (2, 0, 0) -> turn (0, 0, -2)
    // -> (1, 0, -2) -> (1, 0, 3).
    const std::string file = triangleFile([](json& d) {
        d["nodes"] = json::parse(R"([{"translation": [0, 0, 5], "children": [1]},
            {"mesh": 0, "translation": [1, 0, 0], "scale": [2, 2, 2],
             "rotation": [0, 0.70710678, 0, 0.70710678]},
            {"mesh": 0, "matrix": [1,0,0,0, 0,1,0,0, 0,0,1,0, 7,8,9,1]}])");
        d["scenes"][0]["nodes"] = json::array({0, 2});
    });
    gltfScene_t g;
    ASSERT_EQ(importError(file, g), "");
    ASSERT_EQ(g.meshes.size(), 1u);
    ASSERT_EQ(g.placements.size(), 2u);
    expectNear(g.placements[0].world * point3d_t(1, 0, 0), point3d_t(1, 0, 3), 1e-5f);
    expectNear(g.placements[1].world * point3d_t(1, 0, 0), point3d_t(8, 8, 9), 1e-6f);
}

TEST(gltfFiles, MaterialsMapOntoGenericShaderSettings) {
    struct row_t {
        const char* what;
        pbrMaterial_t m;
        const char* key; // a JSON pointer
        float expected;
    };
    pbrMaterial_t red;
    red.baseColor[0] = 0.8f;
    red.metallic = 0;
    red.roughness = 0.5f;
    auto like = [&red](const std::function<void(pbrMaterial_t&)>& edit) {
        pbrMaterial_t m = red;
        edit(m);
        return m;
    };
    const pbrMaterial_t metal = like([](pbrMaterial_t& m) { m.metallic = 1, m.roughness = 0; });
    const pbrMaterial_t glass = like([](pbrMaterial_t& m) { m.transmission = 1, m.ior = 1.45f; });
    const pbrMaterial_t faded = like([](pbrMaterial_t& m) { m.alphaBlend = true, m.alpha = 0.25f; });
    const pbrMaterial_t glow = like([](pbrMaterial_t& m) { m.emissive[1] = 0.5f, m.emissiveStrength = 4; });
    const row_t rows[] = {
        {"dielectric keeps its colour", red, "/color/0", 0.8f},
        {"dielectric highlight F0", red, "/specular_color/0", 0.04f},
        {"roughness 0.5 as Blinn exponent", red, "/hard", 2.0f / 0.0625f - 2.0f},
        {"metal has no diffuse part", metal, "/color/0", 0.0f},
        {"polished metal mirrors its colour", metal, "/mirror_color/0", 0.8f},
        {"transmission through the base colour", glass, "/transmit_color/0", 0.8f},
        {"glass refracts with its ior", glass, "/ior", 1.45f},
        {"glass diffuses nothing", glass, "/color/0", 0.0f},
        {"alpha lets 1 - alpha through", faded, "/transmit_color/1", 0.75f},
        {"alpha alone does not refract", faded, "/ior", 1.0f},
        {"alpha scales the diffuse colour", faded, "/color/0", 0.2f},
        {"emission times its strength", glow, "/emit_color/1", 2.0f},
    };
    for (const row_t& r : rows) {
        std::vector<std::string> dropped;
        const json d = mapPbrMaterial(r.m, dropped);
        EXPECT_NEAR(d.value(json::json_pointer(r.key), NAN), r.expected, 1e-4f) << r.what << ": " << d.dump();
    }
    pbrMaterial_t mapped = red;
    mapped.normalTexture = "n";
    std::vector<std::string> dropped;
    mapPbrMaterial(mapped, dropped);
    EXPECT_EQ(dropped, std::vector<std::string>{"normal map"});
}

TEST(gltfFiles, CorruptAndHostileFilesGiveLocatedErrors) {
    struct row_t {
        const char* what;
        std::function<void(json&)> edit;
        const char* message;
    };
    const row_t rows[] = {
        {"index beyond the positions",
         [](json& d) { d["accessors"][0]["count"] = 2, d["bufferViews"][0]["byteLength"] = 24; },
         "meshes[0].primitives[0].indices: index 2 is beyond the 2 positions"},
        {"accessor past its view", [](json& d) { d["accessors"][0]["byteOffset"] = 4; },
         "accessors[0]: reads past the end of its buffer view"},
        {"view past its buffer", [](json& d) { d["bufferViews"][1]["byteLength"] = 600; }, "bufferViews[1]"},
        {"node cycle", [](json& d) { d["nodes"][0]["children"] = json::array({0}); },
         "nodes[0]: the node is reached twice"},
        {"missing mesh", [](json& d) { d["nodes"][0]["mesh"] = 5; }, "nodes[0].mesh: there is no mesh 5"},
        {"positions that are not floats", [](json& d) { d["accessors"][0]["componentType"] = 5123; },
         "POSITION: expected float"},
        {"sparse accessor",
         [](json& d) {
             d["accessors"][0]["sparse"] = json::parse(
                 R"({"count": 1, "indices": {"bufferView": 1, "componentType": 5123}, "values": {"bufferView": 0}})");
         },
         "sparse accessors are not supported"},
        {"unsupported required extension",
         [](json& d) {
             d["extensionsUsed"] = d["extensionsRequired"] = json::array({"KHR_draco_mesh_compression"});
         },
         "extensionsRequired: extension KHR_draco_mesh_compression is required"},
        {"camera of no field of view",
         [](json& d) {
             d["cameras"] =
                 json::parse(R"([{"type": "perspective", "perspective": {"yfov": 0, "znear": 0.1}}])");
             d["nodes"][0]["camera"] = 0;
         },
         "nodes[0].camera: perspective yfov"},
        {"quaternion of zero length",
         [](json& d) {
             d["nodes"][0]["rotation"] = json::array({0, 0, 0, 0});
         },
         "nodes[0].rotation: the quaternion has no direction"},
        {"non-finite position",
         [](json& d) { d["buffers"][0]["uri"] = "data:application/octet-stream;base64," + nanBytes; },
         "POSITION: element 2 holds a number that is not finite"},
    };
    for (const row_t& r : rows) {
        gltfScene_t g;
        const std::string error = importError(triangleFile(r.edit), g);
        EXPECT_TRUE(contains(error, r.message)) << r.what << ": " << error;
    }
    gltfScene_t g;
    for (const std::string& junk : {std::string(), std::string("{"), std::string("glTF\2\0\0\0garbage", 16)})
        EXPECT_NE(importError(junk, g), "");
    // A node squashed to nothing is left out with a warning, not shown.
    g = gltfScene_t();
    const auto squash = [](json& d) { d["nodes"][0]["scale"] = json::array({0, 1, 1}); };
    ASSERT_EQ(importError(triangleFile(squash), g), "");
    EXPECT_TRUE(g.placements.empty());
    EXPECT_TRUE(contains(joined(g.warnings), "nodes[0]: not shown: its placement is unusable"))
        << joined(g.warnings);
}

TEST_F(gltfImport, SceneObjectBuildsMeshesInstancesAndTheChosenCamera) {
    auto s = load(R"({"camera": {"resolution": [320, 240]},
                      "objects": {"m": {"type": "gltf", "file": "blender-scene.glb", "camera": "Cam"}}})",
                  dataDir);
    ASSERT_EQ(s->objectList.size(), 4u);
    EXPECT_EQ(s->objectList[0].first, "m/Box");
    auto* box = &dynamic_cast<meshObject_t&>(*s->objectList[0].second); // throws unless a mesh
    expectNear(box->bound.a, point3d_t(0, 2, -3), 1e-4f);
    expectNear(box->bound.g, point3d_t(2, 4, -1), 1e-4f);
    auto* twin = dynamic_cast<referenceObject_t*>(s->objectList[1].second);
    ASSERT_NE(twin, nullptr) << "a mesh used twice is placed again as an instance";
    const bound_t tb = twin->getBound();
    expectNear(point3d_t((tb.a.x + tb.g.x) / 2, (tb.a.y + tb.g.y) / 2, (tb.a.z + tb.g.z) / 2),
               point3d_t(-4, 0, 0), 1e-3f);
    EXPECT_NEAR(tb.g.x - tb.a.x, 1.0f, 1e-3f);
    EXPECT_EQ(s->lightList.size(), 3u);
    ASSERT_TRUE(s->shaders.count("m/Red"));
    EXPECT_TRUE(s->textures.count("m/Checks")) << "embedded picture read through a temporary file";
    EXPECT_EQ(box->triangles[0].shader, s->shaders["m/Red"]);
    expectFloatEq(s->camera->pos, 0, 2, 10);
    expectFloatEq(s->camera->viewDir, 0, 0, -1);
    EXPECT_NEAR(s->camera->focal, 50.0f / 36.0f, 1e-4f);
    EXPECT_EQ(s->height, 240);
}

TEST_F(gltfImport, ModelOnItsOwnGetsAFramingCameraAndALight) {
    tempDir_t dir;
    dir.write("tri.gltf", triangleFile());
    auto s = load(gltfStandaloneScene("tri.gltf"), dir.path);
    ASSERT_EQ(s->objectList.size(), 1u);
    ASSERT_EQ(s->lightList.size(), 1u);
    EXPECT_EQ(s->lightList[0].first, "tri/headlight");
    // The camera looks at the middle of the triangle's box.
    vector3d_t toCentre = point3d_t(0.5f, 0.5f, 0.0f) - s->camera->pos;
    toCentre.normalize();
    EXPECT_NEAR(toCentre * s->camera->viewDir, 1.0f, 1e-5f);
    // The file's own camera and aspect ratio win when it has one.
    auto b = load(gltfStandaloneScene("blender-scene.glb"), dataDir);
    expectFloatEq(b->camera->pos, 0, 2, 10);
    EXPECT_EQ(b->width, 640);
    EXPECT_EQ(b->height, 480);
    EXPECT_TRUE(isGltfFile("a/B.GLB") && isGltfFile("x.gltf") && !isGltfFile("x.obj"));
}

TEST_F(gltfImport, SceneErrorsNameTheObjectAndTheFile) {
    struct row_t {
        const char* object;
        std::string message;
    };
    const row_t rows[] = {
        {R"({"type": "gltf", "file": "none.glb"})", "objects.m.file: cannot read glTF file"},
        {R"({"type": "gltf", "file": "blender-scene.glb", "camera": "Other"})",
         "objects.m.camera: glTF file \"" + dataDir +
             "/blender-scene.glb\" has no camera named \"Other\" (it has: \"Cam\")"},
        {R"({"type": "gltf", "file": "blender-scene.glb", "camera": 3})",
         "objects.m.camera: expected true, false"},
        {R"({"type": "gltf", "file": "blender-scene.glb", "shader": "nope"})",
         "objects.m.shader: there is no shader named \"nope\""},
    };
    for (const row_t& r : rows) {
        const std::string e = errorOf(std::string(R"({"objects": {"m": )") + r.object + "}}", dataDir);
        EXPECT_TRUE(contains(e, r.message) && contains(e, "t.json:1:")) << r.object << " -> " << e;
    }
}

} // namespace
