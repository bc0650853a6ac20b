// Scene descriptions of the vexlar program: every section, the defaults,
// each error with its message and place, warnings, overrides, transforms,
// meshes and the plug-in parameter rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <unistd.h>

#include "host/demoscene.h"
#include "host/diagnostics.h"
#include "host/jsonread.h"
#include "host/meshload.h"
#include "host/sceneloader.h"
#include "host/transform.h"
#include "test_support.h"
#include "vexlarcore/filter.h"
#include "vexlarcore/forkedscene.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/reference.h"
#include "vexlarcore/sphere.h"

using namespace vexlar;
using namespace vexlar::host;
using namespace support;

namespace {

class hostScene : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        log = new std::ostringstream();
        plugins = new pluginManager_t(*log);
        if (std::string(VEXLAR_HOST_PLUGIN_DIR).empty()) return;
        plugins->loadDirectory(VEXLAR_HOST_PLUGIN_DIR);
    }
    static void TearDownTestSuite() {
        delete plugins;
        delete log;
        plugins = nullptr;
        log = nullptr;
    }
    void SetUp() override {
        if (!plugins->has(pluginKind_t::shader, "generic")) GTEST_SKIP() << "standard plug-ins not built";
    }

    static std::unique_ptr<loadedScene_t> load(const std::string& text,
                                               const sceneOverrides_t& o = sceneOverrides_t(),
                                               const std::string& baseDir = "", int workers = 1) {
        sceneSource_t s;
        s.text = text;
        s.label = "t.json";
        s.baseDir = baseDir;
        loadOptions_t opt;
        opt.workers = workers;
        return loadScene(s, o, *plugins, opt);
    }

    // The message of the sceneError_t that loading `text` throws ("" if none).
    static std::string errorOf(const std::string& text, const sceneOverrides_t& o = sceneOverrides_t(),
                               const std::string& baseDir = "") {
        try {
            load(text, o, baseDir);
        } catch (const sceneError_t& e) {
            return e.what();
        }
        return "";
    }

    static std::ostringstream* log;
    static pluginManager_t* plugins;
};

std::ostringstream* hostScene::log = nullptr;
pluginManager_t* hostScene::plugins = nullptr;

const char* const minimalShaders = R"("shaders": {"s": {"type": "constant"}})";

std::string withObjects(const std::string& objects) {
    return std::string("{") + minimalShaders + R"(, "objects": )" + objects + "}";
}

// Checks that `text` (an error message or warning) includes `part`.
void expectContains(const std::string& text, const std::string& part) {
    EXPECT_TRUE(contains(text, part)) << "\"" << part << "\" not in: " << text;
}

} // namespace

// --- positions and paths ---------------------------------------------------

TEST(hostDiagnostics, pathsPrintDottedAndAsPointers) {
    jsonPath_t p = jsonPath_t() / "objects" / "a/b~c" / "faces" / 3;
    EXPECT_EQ(p.dotted(), "objects.a/b~c.faces[3]");
    EXPECT_EQ(p.pointer(), "/objects/a~1b~0c/faces/3");
    EXPECT_EQ(jsonPath_t().dotted(), "(top level)");
    EXPECT_EQ(jsonPath_t().pointer(), "");
}

TEST(hostDiagnostics, positionsOfValuesAndTheirNearestAncestor) {
    const std::string text =
        "{\n  \"a\": {\"b\": [1, \n   {\"c\": \"x\\\"y\"}]},\n  // note\n  \"d\": /* x */ true\n}";
    jsonPositions_t pos;
    pos.index(text);
    auto at = [&](const char* pointer) {
        const textPos_t p = pos.find(pointer);
        return std::to_string(p.line) + ":" + std::to_string(p.column);
    };
    EXPECT_EQ(at(""), "1:1");
    EXPECT_EQ(at("/a/b"), "2:14");
    EXPECT_EQ(at("/a/b/1/c"), "3:10");
    EXPECT_EQ(at("/d"), "5:16");
    EXPECT_EQ(at("/a/b/1/zzz"), "3:4") << "a missing member takes its parent's place";
    EXPECT_EQ(positionOf("ab\ncd", 4).line, 2);
    EXPECT_EQ(positionOf("ab\ncd", 4).column, 2);
}

TEST(hostDiagnostics, messagesNameFileLineColumnPathOrOption) {
    const std::string text = "{\"camera\": {\"focal\": 0}}";
    jsonPositions_t pos;
    pos.index(text);
    pos.markOverride("/render", "--set render.gamma=2");
    diagnostics_t diag("s.json", &pos);
    EXPECT_EQ(diag.errorText(jsonPath_t() / "camera" / "focal", "bad"),
              "s.json:1:22: error: camera.focal: bad");
    EXPECT_EQ(diag.errorText(jsonPath_t() / "render" / "gamma", "bad"),
              "--set render.gamma=2: error: render.gamma: bad");
    diag.warn(jsonPath_t() / "camera", "hm");
    ASSERT_EQ(diag.warnings().size(), 1u);
    EXPECT_EQ(diag.warnings()[0], "s.json:1:12: warning: camera: hm");
    diagnostics_t bare("x", nullptr);
    EXPECT_THROW(bare.fail(jsonPath_t(), "m"), sceneError_t);
    try {
        bare.failFile("gone");
    } catch (const sceneError_t& e) {
        EXPECT_STREQ(e.what(), "x: error: gone");
    }
}

// --- the plug-in parameter rule --------------------------------------------

TEST(hostParams, valuesMapToParameterKinds) {
    json obj = json::parse(R"({"type": "x", "n": 2.5, "s": "text", "on": true, "off": false,
        "color": [0.1, 0.2, 0.3], "rimColour": [1, 0, 0, 0.5], "from": [1, 2, 3]})");
    diagnostics_t diag("t", nullptr);
    paramMap_t params;
    fillParams(obj, jsonPath_t() / "lights" / "l", diag, {"type"}, params);
    EXPECT_FALSE(params.includes("type", parameter_t::STRING));
    float f = 0;
    EXPECT_TRUE(params.getParam("n", f));
    EXPECT_FLOAT_EQ(f, 2.5f);
    const std::string* s = nullptr;
    ASSERT_TRUE(params.getParam("s", s));
    EXPECT_EQ(*s, "text");
    bool b = false;
    EXPECT_TRUE(params.getParam("on", b) && b);
    EXPECT_TRUE(params.getParam("off", b) && !b);
    colorA_t c;
    ASSERT_TRUE(params.getParam("color", c));
    EXPECT_FLOAT_EQ(c.G, 0.2f);
    EXPECT_FLOAT_EQ(c.A, 1.0f);
    ASSERT_TRUE(params.getParam("rimColour", c));
    EXPECT_FLOAT_EQ(c.A, 0.5f);
    point3d_t p;
    ASSERT_TRUE(params.getParam("from", p));
    EXPECT_FLOAT_EQ(p.z, 3.0f);
}

TEST(hostParams, unusableValuesAreErrorsNamingTheMember) {
    diagnostics_t diag("t", nullptr);
    auto err = [&](const char* text) {
        paramMap_t params;
        try {
            fillParams(json::parse(text), jsonPath_t() / "shaders" / "g", diag, {}, params);
        } catch (const sceneError_t& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(err(R"({"size": [1, 2]})"), "t: error: shaders.g.size: expected a number, a string, "
                                          "true/false, or a point [x, y, z], found a list "
                                          "of 2 values");
    EXPECT_EQ(err(R"({"color": [1, 2]})"),
              "t: error: shaders.g.color: expected a number, a string, true/false, or a colour [r, g, b] or "
              "[r, g, b, a], found a list of 2 values");
    expectContains(err(R"({"x": {"a": 1}})"), "found an object");
    expectContains(err(R"({"x": null})"), "found null");
    expectContains(err(R"({"from": [1, "a", 3]})"), "shaders.g.from[1]: expected a number, found a string");
    EXPECT_EQ(err(R"({"x": 1e300})"), "t: error: shaders.g.x: number out of range");
}

// --- transforms ------------------------------------------------------------

namespace {
matrix4x4_t transformOf(const std::string& text) {
    diagnostics_t diag("t", nullptr);
    return buildTransform(json::parse(text), jsonPath_t() / "transform", diag);
}
std::string transformError(const std::string& text) {
    try {
        transformOf(text);
    } catch (const sceneError_t& e) {
        return e.what();
    }
    return "";
}
} // namespace

TEST(hostTransform, stepsApplyInOrderEachAfterThePrevious) {
    // Translate then scale: the scale also moves the translated point.
    point3d_t p = transformOf(R"([{"translate": [1, 0, 0]}, {"scale": 2}])") * point3d_t(1, 0, 0);
    EXPECT_FLOAT_EQ(p.x, 4.0f);
    // Scale then translate: the translation is not scaled.
    p = transformOf(R"([{"scale": [2, 3, 4]}, {"translate": [1, 0, 0]}])") * point3d_t(1, 1, 1);
    EXPECT_FLOAT_EQ(p.x, 3.0f);
    EXPECT_FLOAT_EQ(p.y, 3.0f);
    EXPECT_FLOAT_EQ(p.z, 4.0f);
    // rotate_z 90 takes x to y; "rotate" turns about x, then y, then z.
    p = transformOf(R"({"rotate_z": 90})") * point3d_t(1, 0, 0);
    EXPECT_NEAR(p.x, 0.0f, 1e-6);
    EXPECT_NEAR(p.y, 1.0f, 1e-6);
    p = transformOf(R"([{"rotate": [90, 0, 90]}])") * point3d_t(0, 1, 0);
    // x-rotation: (0,1,0) -> (0,0,1); z-rotation leaves z.
    EXPECT_NEAR(p.z, 1.0f, 1e-6);
    p = transformOf(R"({"matrix": [1, 0, 0, 5, 0, 1, 0, 6, 0, 0, 1, 7, 0, 0, 0, 1]})") * point3d_t(0, 0, 0);
    EXPECT_FLOAT_EQ(p.y, 6.0f);
    p = transformOf(R"({"matrix": [[2, 0, 0, 0], [0, 2, 0, 0], [0, 0, 2, 1], [0, 0, 0, 1]]})") *
        point3d_t(1, 1, 1);
    EXPECT_FLOAT_EQ(p.z, 3.0f);
}

TEST(hostTransform, singularAndMalformedTransformsAreRefused) {
    EXPECT_EQ(transformError(R"([{"scale": [1, 0, 1]}])"),
              "t: error: transform[0].scale: a scale of 0 flattens the object");
    expectContains(transformError(R"({"matrix": [1,0,0,0, 0,1,0,0, 0,0,0,0, 0,0,0,1]})"),
                   "transform: the transform is singular");
    // Rows that are multiples of each other: singular without any zero.
    expectContains(transformError(R"({"matrix": [1,2,3,0, 2,4,6,0, 1,0,1,0, 0,0,0,1]})"), "singular");
    expectContains(transformError(R"({"matrix": [1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,1,1]})"),
                   "last row of the matrix must be 0 0 0 1");
    expectContains(transformError(R"([{"shear": 1}])"), "transform[0]: unknown transform step \"shear\"");
    expectContains(transformError(R"([{"translate": [1, 2]}])"),
                   "transform[0].translate: expected [x, y, z]");
    expectContains(transformError(R"([{"translate": [0,0,0], "scale": 2}])"), "an object with 2 members");
    expectContains(transformError(R"({"matrix": [1, 2, 3]})"), "expected a matrix of 16 numbers");
    expectContains(transformError("7"), "expected a list of steps or a matrix, found a number");
    // Tiny but regular: allowed.
    EXPECT_EQ(transformError(R"({"scale": 1e-4})"), "");
}

TEST(hostTransform, checkPlacementJudgesTheMatrixItself) {
    matrix4x4_t m;
    EXPECT_EQ(checkPlacement(m), "");
    m[0][3] = NAN;
    EXPECT_EQ(checkPlacement(m), "the matrix has a value that is not finite");
    // Thin but regular: invertible without trouble.
    matrix4x4_t thin;
    thin.scale(1, 1, 1e-9f);
    EXPECT_EQ(checkPlacement(thin), "");
    // Two rows almost parallel: the unit cube collapses to nearly nothing.
    matrix4x4_t skew;
    skew[1][0] = 1.0f;
    skew[1][1] = 1e-9f;
    EXPECT_NE(checkPlacement(skew), "");
}

// --- meshes ----------------------------------------------------------------

TEST(hostMesh, objTextGivesTrianglesAndTextureCoordinates) {
    meshData_t m;
    std::string error;
    ASSERT_TRUE(parseObj(
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nf 1/1 2/2 3/3 4/4\n", m, error))
        << error;
    EXPECT_EQ(m.vertices.size(), 4u);
    ASSERT_EQ(m.faces.size(), 2u);
    EXPECT_EQ(m.faceUV.size(), 12u);
    ASSERT_TRUE(parseObj("v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\n", m, error));
    EXPECT_TRUE(m.faceUV.empty());
    EXPECT_EQ(m.faces[0][2], 2);
    EXPECT_FALSE(parseObj("v 0 0 0\nv 1 0 0\n", m, error));
    EXPECT_EQ(error, "no faces");
}

TEST(hostMesh, inlineMeshesSplitPolygonsIntoFans) {
    json obj = json::parse(R"({"vertices": [[0,0,0],[1,0,0],[1,1,0],[0,1,0],[0,2,0]],
                              "faces": [[0,1,2,3,4]], "uv": [[0,0],[1,0],[1,1],[0,1],[0,2]]})");
    diagnostics_t diag("t", nullptr);
    sectionReader_t r(obj, jsonPath_t() / "objects" / "m", diag);
    meshData_t m = readInlineMesh(r);
    ASSERT_EQ(m.faces.size(), 3u);
    EXPECT_EQ(m.faces[2][0], 0);
    EXPECT_EQ(m.faces[2][1], 3);
    EXPECT_EQ(m.faces[2][2], 4);
    ASSERT_EQ(m.faceUV.size(), 18u);
    EXPECT_FLOAT_EQ(m.faceUV[17], 2.0f);
    std::unique_ptr<meshObject_t> mesh(buildMesh(m, matrix4x4_t(), 30.0f));
    EXPECT_EQ(mesh->triangles.size(), 3u);
    EXPECT_TRUE(mesh->triangles[0].hasUV);
    EXPECT_NE(mesh->triangles[0].na, nullptr);
}

// --- whole descriptions ----------------------------------------------------

TEST_F(hostScene, syntaxErrorsGiveLineAndColumn) {
    std::string e = errorOf("{\n  \"camera\": {\"focal\": 1,,}\n}");
    EXPECT_EQ(e.rfind("t.json:2:25: error: invalid JSON: ", 0), 0u) << e;
    EXPECT_FALSE(contains(e, "[json.exception"));
    e = errorOf("");
    EXPECT_EQ(e.rfind("t.json:1:1: error: invalid JSON", 0), 0u) << e;
    EXPECT_EQ(errorOf("[1, 2]"),
              "t.json:1:1: error: (top level): a scene description is a JSON object { ... }, "
              "found a list of 2 values");
}

TEST_F(hostScene, emptyDescriptionUsesDefaults) {
    auto s = load("{}");
    EXPECT_EQ(s->width, 640);
    EXPECT_EQ(s->height, 480);
    EXPECT_EQ(s->camera->camType, perspectiveCamera);
    EXPECT_FLOAT_EQ(s->camera->focal, 1.0f);
    EXPECT_FLOAT_EQ(s->camera->aperture, 0.0f);
    EXPECT_FLOAT_EQ(s->camera->focusDistance, 5.0f); // the distance to the look-at point
    EXPECT_EQ(s->scene->getCamera(), s->camera.get());
    EXPECT_EQ(s->scene->getMaxRayLevel(), 3);
    EXPECT_FLOAT_EQ(s->scene->getRayBias(), 5e-5f);
    EXPECT_FLOAT_EQ(s->scene->getSelfShadowBias(), 0.1f);
    EXPECT_FLOAT_EQ(s->scene->getGamma(), 1.0f);
    EXPECT_FLOAT_EQ(s->scene->getExposure(), 0.0f);
    EXPECT_FLOAT_EQ(s->scene->getFogDensity(), 0.0f);
    EXPECT_EQ(s->scene->getAaPasses(), 0);
    EXPECT_FALSE(s->scene->getIndirectEnabled());
    EXPECT_FLOAT_EQ(s->scene->getRegionMinX(), -2.0f);
    EXPECT_FALSE(s->scene->getRepeatFirst());
    EXPECT_EQ(s->region.x1, 640);
    EXPECT_EQ(s->region.y1, 480);
    EXPECT_EQ(s->scene->getBackground(), nullptr);
    EXPECT_TRUE(s->outputFile.empty());
    EXPECT_FALSE(s->saveAlpha);
    EXPECT_FALSE(s->hasSeed);
    EXPECT_TRUE(s->warnings.empty());
    EXPECT_EQ(dynamic_cast<forkedscene_t*>(s->scene.get()), nullptr);
}

TEST_F(hostScene, workersSelectTheParallelDriver) {
    auto s = load("{}", sceneOverrides_t(), "", 3);
    forkedscene_t* f = dynamic_cast<forkedscene_t*>(s->scene.get());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->getWorkers(), 3);
}

TEST_F(hostScene, cameraSettings) {
    auto s = load(R"({"camera": {"type": "orthographic", "from": [1, 2, 3], "to": [1, 2, 0], "up": [1, 3, 3],
        "resolution": [32, 16], "focal": 2, "aperture": 0.5, "focus_distance": 7, "use_qmc": true}})");
    const camera_t& c = *s->camera;
    EXPECT_EQ(c.camType, orthoCamera);
    EXPECT_FLOAT_EQ(c.pos.y, 2.0f);
    EXPECT_EQ(c.resx * 100 + c.resy, 3216);
    EXPECT_FLOAT_EQ(c.focal + 10 * c.aperture + 100 * c.focusDistance, 707.0f);
    EXPECT_TRUE(c.useQmc);
    EXPECT_FLOAT_EQ(c.lookDistance, 3.0f);
    EXPECT_FLOAT_EQ(c.viewDir.z, -1.0f);
    EXPECT_EQ(load(R"({"camera": {"type": "ortho"}})")->camera->camType, orthoCamera);
}

TEST_F(hostScene, cameraErrors) {
    EXPECT_EQ(errorOf(R"({"camera": {"type": "fisheye"}})"),
              "t.json:1:21: error: camera.type: unknown camera type \"fisheye\" (known: perspective, "
              "orthographic)");
    EXPECT_EQ(errorOf(R"({"camera": {"resolution": [0, 10]}})"),
              "t.json:1:28: error: camera.resolution[0]: expected a whole number of pixels from 1 to 65535, "
              "found 0");
    expectContains(errorOf(R"({"camera": {"resolution": [10.5, 10]}})"), "found 10.5");
    expectContains(errorOf(R"({"camera": {"resolution": 10}})"), "expected [width, height], found a number");
    expectContains(errorOf(R"({"camera": {"from": [0, 0, 0], "to": [0, 0, 0]}})"),
                   "camera.to: the camera looks at its own position");
    expectContains(errorOf(R"({"camera": {"from": [0, 0, 5], "to": [0, 0, 0], "up": [0, 0, 9]}})"),
                   "camera.up: the up point lies on the line of sight");
    expectContains(errorOf(R"({"camera": {"focal": 0}})"),
                   "camera.focal: expected a number greater than 0, found 0");
    expectContains(errorOf(R"({"camera": {"aperture": -1}})"),
                   "camera.aperture: expected a number of at least 0");
    expectContains(errorOf(R"({"camera": {"use_qmc": "yes"}})"),
                   "camera.use_qmc: expected true or false, found a string");
    expectContains(errorOf(R"({"camera": []})"),
                   "camera: expected an object { ... }, found a list of 0 values");
}

TEST_F(hostScene, renderSettingsReachTheScene) {
    auto s = load(R"({"camera": {"resolution": [100, 50]}, "render": {
        "ray_depth": 7, "ray_bias": 0.001, "self_shadow_bias": 0.2, "gamma": 2.2, "exposure": -1.5,
        "fog": {"density": 0.1, "color": [0.5, 0.6, 0.7]},
        "antialiasing": {"passes": 2, "samples": 8, "pixel_width": 1.5, "threshold": 0.1},
        "indirect": {"samples": 3, "power": 0.5},
        "repeat_first": true, "seed": 42}})");
    const scene_t& sc = *s->scene;
    EXPECT_EQ(sc.getMaxRayLevel(), 7);
    for (auto v : {std::make_pair(sc.getRayBias(), 0.001f), std::make_pair(sc.getSelfShadowBias(), 0.2f),
                   std::make_pair(sc.getGamma(), 2.2f), std::make_pair(sc.getExposure(), -1.5f),
                   std::make_pair(sc.getFogDensity(), 0.1f), std::make_pair(sc.getFogColor().B, 0.7f),
                   std::make_pair(sc.getAaPixelWidth(), 1.5f), std::make_pair(sc.getAaThreshold(), 0.1f)})
        EXPECT_FLOAT_EQ(v.first, v.second);
    EXPECT_EQ(sc.getAaPasses() * 10 + sc.getAaSamples(), 28);
    EXPECT_TRUE(sc.getIndirectEnabled());
    EXPECT_EQ(sc.getIndirectSamples(), 3);
    EXPECT_FLOAT_EQ(sc.getIndirectPower(), 0.5f);
    EXPECT_FLOAT_EQ(sc.getIndirectStratumU(), 1.0f / 3.0f);
    EXPECT_TRUE(sc.getRepeatFirst());
    EXPECT_TRUE(s->hasSeed);
    EXPECT_EQ(s->seed, 42);

    auto d = load(R"({"render": {"antialiasing": {}, "indirect": {"enabled": false, "stratum_u": 0.2,
        "stratum_phi": 0.3}}})");
    EXPECT_EQ(d->scene->getAaPasses(), 1);
    EXPECT_EQ(d->scene->getAaSamples(), 4);
    EXPECT_FALSE(d->scene->getIndirectEnabled());
    EXPECT_FLOAT_EQ(d->scene->getIndirectStratumU(), 0.2f);
    EXPECT_FLOAT_EQ(d->scene->getIndirectStratumPhi(), 0.3f);
}

TEST_F(hostScene, renderErrors) {
    expectContains(errorOf(R"({"render": {"ray_depth": 2.5}})"),
                   "render.ray_depth: expected a whole number from 0 to 1000, found 2.5");
    expectContains(errorOf(R"({"render": {"gamma": 0}})"), "render.gamma: expected a number greater than 0");
    expectContains(errorOf(R"({"render": {"seed": 0}})"), "render.seed: expected a whole number from 1 to");
    expectContains(errorOf(R"({"render": {"indirect": {"samples": 4, "stratum_u": 0.5}}})"),
                   "render.indirect.stratum_u: samples * stratum_u must not exceed 1 (4 * 0.5)");
    expectContains(errorOf(R"({"render": {"fog": {"color": [1, 1]}}})"),
                   "render.fog.color: expected a colour [r, g, b], found a list of 2 values");
}

TEST_F(hostScene, regionBecomesHalfPixelScreenBounds) {
    auto s = load(R"({"camera": {"resolution": [200, 100]}, "render": {"region": [50, 150, 10, 60]}})");
    EXPECT_EQ(s->region.x0 + s->region.y0, 60);
    EXPECT_EQ(s->region.x1 + s->region.y1, 210);
    const scene_t& sc = *s->scene;
    // Screen x of pixel x is 2x/200 - 1; bounds half a pixel before x0 and x1.
    EXPECT_FLOAT_EQ(sc.getRegionMinX(), 2.0f * 49.5f / 200.0f - 1.0f);
    EXPECT_FLOAT_EQ(sc.getRegionMaxX(), 2.0f * 149.5f / 200.0f - 1.0f);
    // Screen y runs upwards: rows 10..59 lie between y = 59.5 and y = 9.5.
    EXPECT_FLOAT_EQ(sc.getRegionMinY(), 1.0f - 2.0f * 59.5f / 100.0f);
    EXPECT_FLOAT_EQ(sc.getRegionMaxY(), 1.0f - 2.0f * 9.5f / 100.0f);
    expectContains(errorOf(R"({"camera": {"resolution": [20, 10]}, "render": {"region": [0, 21, 0, 5]}})"),
                   "render.region[1]: expected a whole pixel position from 0 to 20, found 21");
    expectContains(errorOf(R"({"camera": {"resolution": [20, 10]}, "render": {"region": [5, 5, 0, 5]}})"),
                   "render.region: the region is empty");
}

TEST_F(hostScene, pluginObjectsAreBuiltByTypeName) {
    auto s = load(R"({
        "background": {"type": "constant", "color": [0.1, 0.2, 0.3]},
        "lights": {"a": {"type": "point", "from": [0, 5, 0]}, "b": {"type": "sun", "direction": [0, 1, 0]}},
        "textures": {"t": {"type": "checker", "size": 2}},
        "shaders": {"s": {"type": "generic", "layer1_texture": "t"}, "c": {"type": "constant"}}})");
    EXPECT_NE(s->background, nullptr);
    EXPECT_EQ(s->scene->getBackground(), s->background);
    ASSERT_EQ(s->lightList.size(), 2u);
    EXPECT_EQ(s->lightList[0].first, "a");
    EXPECT_EQ(s->scene->lights.size(), 2u);
    EXPECT_EQ(s->textures.count("t"), 1u);
    EXPECT_EQ(s->shaders.size(), 2u);
    EXPECT_TRUE(s->warnings.empty()) << s->warnings[0];
}

TEST_F(hostScene, pluginErrorsNameTheObject) {
    EXPECT_EQ(
        errorOf("{\"shaders\": {\n  \"glass\": {\"type\": \"glas\"}}}"),
        "t.json:2:21: error: shaders.glass.type: unknown shader type \"glas\" (known: constant, generic)");
    expectContains(errorOf(R"({"lights": {"l": {"color": [1, 1, 1]}}})"),
                   "lights.l: light \"l\" has no \"type\"");
    expectContains(errorOf(R"({"lights": {"l": {"type": 3}}})"), "lights.l.type: expected a string");
    expectContains(errorOf(R"({"lights": [1]})"), "lights: expected an object of named lights");
    expectContains(errorOf(R"({"background": {"type": "sky"}})"),
                   "background.type: unknown background type \"sky\" (known: constant, gradient, image)");
    // A factory that cannot build its object says why.
    std::string e = errorOf(R"({"textures": {"wood": {"type": "image", "filename": "no-such-file.tga"}}})");
    expectContains(e, "textures.wood: texture \"wood\" (image): ");
    expectContains(e, "no-such-file.tga");
}

TEST_F(hostScene, unusedParametersAndPluginWarningsAreReported) {
    auto s = load("{\"shaders\": {\"glass\": {\"type\": \"generic\",\n \"iorr\": 1.5, \"hard\": 0}}}");
    ASSERT_EQ(s->warnings.size(), 2u);
    expectContains(s->warnings[0], "shaders.glass: shader \"glass\" (generic): ");
    EXPECT_EQ(s->warnings[1], "t.json:2:10: warning: shaders.glass.iorr: unused parameter: the shader type "
                              "\"generic\" does not read it");
}

TEST_F(hostScene, unknownSettingsAreWarnings) {
    auto s = load(R"({"render": {"antialias": 2}, "camera": {"fov": 50}, "extra": 1})");
    ASSERT_EQ(s->warnings.size(), 3u);
    expectContains(s->warnings[0], "camera.fov: unknown setting, ignored (known here: type, from, to, up,");
    expectContains(s->warnings[1], "render.antialias: unknown setting");
    expectContains(s->warnings[2], "t.json:1:62: warning: extra: unknown setting");
}

TEST_F(hostScene, objectsOfEveryKind) {
    auto s = load(withObjects(R"({
        "ball": {"type": "sphere", "center": [1, 2, 3], "radius": 0.5, "shader": "s", "cast_shadows": false},
        "tri": {"type": "mesh", "shader": "s", "vertices": [[0,0,0],[1,0,0],[0,1,0]], "faces": [[0,1,2]],
                "transform": [{"translate": [0, 0, 5]}]},
        "copy": {"type": "instance", "of": "tri", "transform": {"translate": [10, 0, 0]}}})"));
    ASSERT_EQ(s->objectList.size(), 3u);
    EXPECT_EQ(s->scene->objects.size(), 3u);
    sphere_t* ball = dynamic_cast<sphere_t*>(s->objectList[0].second);
    ASSERT_NE(ball, nullptr);
    EXPECT_FLOAT_EQ(ball->center.z, 3.0f);
    EXPECT_FLOAT_EQ(ball->radius, 0.5f);
    EXPECT_EQ(ball->getShader(), s->shaders["s"]);
    EXPECT_FALSE(ball->castsShadows());
    meshObject_t* tri = dynamic_cast<meshObject_t*>(s->objectList[1].second);
    ASSERT_NE(tri, nullptr);
    EXPECT_FLOAT_EQ(tri->getBound().g.z, 5.0f + 1e-5f);
    EXPECT_TRUE(tri->castsShadows());
    referenceObject_t* copy = dynamic_cast<referenceObject_t*>(s->objectList[2].second);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->referenced, tri);
    EXPECT_NEAR(copy->getBound().a.x, 10.0f, 1e-4);
    EXPECT_TRUE(s->warnings.empty());
}

TEST_F(hostScene, objectErrors) {
    expectContains(errorOf(withObjects(R"({"o": {"type": "cube"}})")),
                   "objects.o.type: unknown object type \"cube\" (known: sphere, mesh, instance, gltf)");
    expectContains(errorOf(withObjects(R"({"o": {"radius": 1}})")), "objects.o: missing \"type\"");
    expectContains(errorOf(withObjects(R"({"o": {"type": "sphere", "shader": "x"}})")),
                   "objects.o.shader: there is no shader named \"x\" (defined: s)");
    expectContains(errorOf(withObjects(R"({"o": {"type": "sphere", "radius": -1, "shader": "s"}})")),
                   "objects.o.radius: expected a number greater than 0");
    expectContains(errorOf(withObjects(R"({"i": {"type": "instance", "of": "o"},
                                                 "o": {"type": "sphere", "shader": "s"}})")),
                   "objects.i.of: there is no object named \"o\" before this instance");
    expectContains(errorOf(withObjects(R"({"m": {"type": "mesh", "shader": "s"}})")),
                   "objects.m: a mesh needs \"file\" or both \"vertices\" and \"faces\"");
    // One triangle mesh "m" with the given faces and further members.
    auto mesh = [](const std::string& rest) {
        return errorOf(
            withObjects(R"({"m": {"type": "mesh", "shader": "s", "vertices": [[0,0,0],[1,0,0],[0,1,0]], )" +
                        rest + "}}"));
    };
    expectContains(mesh(R"("faces": [[0,1,3]])"),
                   "objects.m.faces[0][2]: expected a vertex index from 0 to 2, found 3");
    expectContains(mesh(R"("faces": [[0,1]])"), "objects.m.faces[0]: expected at least 3 vertex indices");
    expectContains(mesh(R"("faces": [[0,1,2]], "uv": [[0,0]])"),
                   "objects.m.uv: expected one [u, v] per vertex (3)");
    expectContains(mesh(R"("faces": [[0,1,2]], "transform": {"scale": [0, 1, 1]})"),
                   "objects.m.transform.scale: a scale of 0 flattens the object");
    expectContains(mesh(R"("faces": [[0,1,2]], "auto_smooth": 200)"),
                   "objects.m.auto_smooth: expected a number from 0 to 180");
    expectContains(
        errorOf(withObjects(R"({"m": {"type": "mesh", "file": "nothing-here.obj", "shader": "s"}})"),
                sceneOverrides_t(), "/nonexistent-folder"),
        "objects.m.file: cannot read mesh file \"/nonexistent-folder/nothing-here.obj\": No such "
        "file or directory");
    auto s = load(withObjects(R"({"o": {"type": "sphere"}})"));
    ASSERT_EQ(s->warnings.size(), 1u);
    expectContains(s->warnings[0], "objects.o: object \"o\" has no \"shader\"; it renders black");
}

TEST_F(hostScene, relativeFilesResolveAgainstTheSceneFolder) {
    tempDir_t dir;
    dir.write("tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    auto s = load(withObjects(R"({"m": {"type": "mesh", "file": "tri.obj", "shader": "s"}})"),
                  sceneOverrides_t(), dir.path);
    ASSERT_EQ(s->objectList.size(), 1u);
    EXPECT_EQ(dynamic_cast<meshObject_t*>(s->objectList[0].second)->triangles.size(), 1u);
    dir.write("bad.obj", "v 0 0 0\n");
    expectContains(errorOf(withObjects(R"({"m": {"type": "mesh", "file": "bad.obj", "shader": "s"}})"),
                           sceneOverrides_t(), dir.path),
                   "bad.obj\": no faces");
    auto o = load(R"({"output": {"file": "out/x.png", "alpha": true}})", sceneOverrides_t(), dir.path);
    EXPECT_EQ(o->outputFile, dir.path + "/out/x.png");
    EXPECT_TRUE(o->saveAlpha);
    EXPECT_EQ(load(R"({"output": {"file": "/abs.png"}})", sceneOverrides_t(), dir.path)->outputFile,
              "/abs.png");
    EXPECT_EQ(errorOf(R"({"output": {"file": "x.jpg"}})"),
              "t.json:1:21: error: output.file: unsupported image format \"x.jpg\" (use a .png, .tga, .exr, "
              ".hdr or .pfm file name)");
    expectContains(errorOf(R"({"output": {"file": ""}})"), "output.file: the output file name is empty");
    EXPECT_EQ(resolvePath("", "a.obj"), "a.obj");
    EXPECT_EQ(resolvePath("d/", "a.obj"), "d/a.obj");
    EXPECT_EQ(folderOf("a/b/c.json"), "a/b");
    EXPECT_EQ(folderOf("c.json"), "");
    EXPECT_EQ(folderOf("/c.json"), "/");
}

TEST_F(hostScene, filters) {
    auto s = load(R"({"filters": [{"type": "dof", "near_blur": 2, "far_blur": 3, "focus": 10, "scale": 0.5},
                                  {"type": "antinoise", "radius": 2, "max_delta": 0.2}]})");
    ASSERT_EQ(s->filters.size(), 2u);
    EXPECT_EQ(s->scene->filters.size(), 2u);
    filterDOF_t* dof = dynamic_cast<filterDOF_t*>(s->filters[0]);
    ASSERT_NE(dof, nullptr);
    EXPECT_FLOAT_EQ(dof->nearBlur + 10 * dof->farBlur + 100 * dof->focus + 1000 * dof->scale, 1532.0f);
    filterAntiNoise_t* an = dynamic_cast<filterAntiNoise_t*>(s->filters[1]);
    ASSERT_NE(an, nullptr);
    EXPECT_FLOAT_EQ(an->radius, 2.0f);
    EXPECT_FLOAT_EQ(an->maxDelta, 0.2f);
    expectContains(errorOf(R"({"filters": [{"type": "blur"}]})"),
                   "filters[0].type: unknown filter type \"blur\" (known: dof, antinoise)");
    expectContains(errorOf(R"({"filters": [{"type": "dof"}]})"), "filters[0]: a dof filter needs \"focus\"");
    expectContains(errorOf(R"({"filters": {"type": "dof"}})"), "filters: expected a list of filters");
}

TEST_F(hostScene, commandLineOverrides) {
    sceneOverrides_t o;
    o.settings = {{"camera.focal", "2.5"}, {"render.antialiasing.passes", "3"}, {"output.file", "x.tga"}};
    o.width = 64;
    o.height = 32;
    o.hasRegion = true;
    o.region[1] = 32;
    o.region[3] = 16;
    auto s = load(R"({"camera": {"focal": 1, "resolution": [10, 10]}})", o);
    EXPECT_FLOAT_EQ(s->camera->focal, 2.5f);
    EXPECT_EQ(s->scene->getAaPasses(), 3);
    EXPECT_EQ(s->outputFile, "x.tga");
    EXPECT_EQ(s->width, 64);
    EXPECT_EQ(s->region.x1, 32);

    sceneOverrides_t bad;
    bad.settings = {{"objects.ball.radius", "2"}};
    expectContains(errorOf("{}", bad), "--set objects.ball.radius=2: error: expected a setting below camera");
    bad.settings = {{"camera", "2"}};
    expectContains(errorOf("{}", bad), "--set camera=2: error: expected a setting below");
    bad.settings = {{"camera.from.x", "2"}};
    EXPECT_EQ(errorOf(R"({"camera": {"from": [0, 0, 1]}})", bad),
              "--set camera.from.x=2: error: camera.from is not an object");
    bad.settings = {{"camera.focal", "abc"}};
    EXPECT_EQ(errorOf("{}", bad),
              "--set camera.focal=abc: error: camera.focal: expected a number, found a string");
    sceneOverrides_t region;
    region.hasRegion = true;
    region.region[1] = 700;
    region.region[3] = 1;
    EXPECT_EQ(errorOf("{}", region), "--region 0 700 0 1: error: render.region[1]: expected a whole pixel "
                                     "position from 0 to 640, found 700");
    sceneOverrides_t size;
    size.width = 20;
    size.height = 10;
    size.hasRegion = true;
    size.region[1] = 20;
    size.region[3] = 10;
    EXPECT_EQ(load("{}", size)->region.y1, 10);
}

TEST_F(hostScene, theDemoSceneLoadsCleanly) {
    sceneSource_t src = demoSceneSource();
    EXPECT_FALSE(demoBunnyText().empty());
    auto s = loadScene(src, sceneOverrides_t(), *plugins, loadOptions_t());
    EXPECT_TRUE(s->warnings.empty()) << s->warnings[0];
    int kinds[3] = {0, 0, 0}; // meshes, spheres, instances
    for (const auto& o : s->objectList)
        if (o.second->type() >= 0 && o.second->type() < 3) ++kinds[o.second->type()];
    EXPECT_TRUE(kinds[0] >= 2 && kinds[1] >= 2 && kinds[2] >= 1);
    EXPECT_GT(s->scene->getAaPasses(), 0);
    EXPECT_FALSE(s->lightList.empty());
    // The embedded copy is the file in scenes/.
    std::ifstream in(std::string(VEXLAR_SOURCE_DIR) + "/scenes/demo.json");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_TRUE(text.str() == demoSceneText()) << "the program embeds an old copy of scenes/demo.json";
}

TEST_F(hostScene, theDocumentedExampleIsTheSampleSceneAndLoadsCleanly) {
    auto read = [](const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    const std::string doc = read(std::string(VEXLAR_SOURCE_DIR) + "/docs/scene-format.md");
    const std::size_t begin = doc.find("```json\n");
    ASSERT_NE(begin, std::string::npos);
    const std::size_t end = doc.find("```", begin + 8);
    ASSERT_NE(end, std::string::npos);
    const std::string example = doc.substr(begin + 8, end - begin - 8);
    EXPECT_TRUE(example == read(std::string(VEXLAR_SOURCE_DIR) + "/scenes/example.json"))
        << "scenes/example.json differs from the example in docs/scene-format.md";
    auto s = load(example, sceneOverrides_t(), std::string(VEXLAR_SOURCE_DIR) + "/scenes");
    EXPECT_TRUE(s->warnings.empty()) << s->warnings[0];
    EXPECT_EQ(s->objectList.size(), 5u);
    EXPECT_EQ(s->filters.size(), 2u);
    EXPECT_EQ(s->lightList.size(), 3u);
}
