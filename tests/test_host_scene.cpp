// Scene descriptions of the vexlar program: every section, defaults, errors
// with their place, warnings, overrides, transforms, meshes and the plug-in
// parameter rule.
#include "host/demoscene.h"
#include "host/diagnostics.h"
#include "host/jsonread.h"
#include "host/meshload.h"
#include "host/sceneloader.h"
#include "host/transform.h"
#include "vexlarcore/filter.h"
#include "vexlarcore/forkedscene.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/reference.h"
#include "vexlarcore/sphere.h"

#include "importfixture.h"

#include <cmath>
#include <memory>

using namespace vexlar;
using namespace vexlar::host;
using support::contains;
using support::errorFrom;

namespace {

class hostScene : public support::importFixture_t {};

std::string withObjects(const std::string& objects) {
    return R"({"shaders": {"s": {"type": "constant"}}, "objects": )" + objects + "}";
}

matrix4x4_t transformOf(const std::string& text) {
    diagnostics_t diag("t", nullptr);
    return buildTransform(json::parse(text), jsonPath_t() / "transform", diag);
}

} // namespace

TEST(hostTransform, StepsApplyInOrderAndSingularOnesAreRefused) {
    const struct {
        const char* steps;
        point3d_t in, out;
    } cases[] = {
        {R"([{"translate": [1, 0, 0]}, {"scale": 2}])", point3d_t(1, 0, 0),
         point3d_t(4, 0, 0)}, // scaled after
        {R"([{"scale": [2, 3, 4]}, {"translate": [1, 0, 0]}])", point3d_t(1, 1, 1), point3d_t(3, 3, 4)},
        {R"({"rotate_z": 90})", point3d_t(1, 0, 0), point3d_t(0, 1, 0)},
        {R"([{"rotate": [90, 90, 0]}])", point3d_t(0, 1, 0), point3d_t(1, 0, 0)}, // x, then y, then z
        {R"({"matrix": [1, 0, 0, 5, 0, 1, 0, 6, 0, 0, 1, 7, 0, 0, 0, 1]})", point3d_t(0, 0, 0),
         point3d_t(5, 6, 7)},
        {R"({"matrix": [[2, 0, 0, 0], [0, 2, 0, 0], [0, 0, 2, 1], [0, 0, 0, 1]]})", point3d_t(1, 1, 1),
         point3d_t(2, 2, 3)},
        {R"([{"translate": [1, 0, 0]}, {"matrix": [2,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1]}])",
         point3d_t(0, 0, 0), point3d_t(2, 0, 0)},
    };
    for (const auto& c : cases) support::expectNear(transformOf(c.steps) * c.in, c.out, 1e-6f);
    const std::pair<const char*, const char*> errors[] = {
        {R"([{"scale": [1, 0, 1]}])", "t: error: transform[0].scale: a scale of 0 flattens the object"},
        {R"({"matrix": [1,0,0,0, 0,1,0,0, 0,0,0,0, 0,0,0,1]})", "transform: the transform is singular"},
        {R"({"matrix": [1,2,3,0, 2,4,6,0, 1,0,1,0, 0,0,0,1]})", "singular"},    // dependent rows
        {R"({"matrix": [1,0,0,0, 1,1e-8,0,0, 0,0,1,0, 0,0,0,1]})", "singular"}, // all but dependent
        {R"({"matrix": [1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,1,1]})", "last row of the matrix must be 0 0 0 1"},
        {R"([{"shear": 1}])", "transform[0]: unknown transform step \"shear\""},
        {R"([{"translate": [0,0,0], "scale": 2}])", "an object with 2 members"},
        {"7", "expected a list of steps or a matrix, found a number"},
    };
    for (const auto& e : errors)
        EXPECT_TRUE(contains(errorFrom([&] { transformOf(e.first); }), e.second)) << e.first;
    EXPECT_EQ(errorFrom([] { transformOf(R"({"scale": 1e-4})"); }), ""); // tiny but regular
}

TEST(hostMesh, ObjTextAndPolygonFans) {
    meshData_t m;
    std::string error;
    ASSERT_TRUE(
        parseObj("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 2 0\nvt 0 0\nf 1/1 2/1 3/1 4/1 5/1\n", m, error));
    ASSERT_EQ(m.faces.size(), 3u); // a fan around the first corner
    EXPECT_TRUE(m.faces[2][0] == 0 && m.faces[2][1] == 3 && m.faces[2][2] == 4 && m.faceUV.size() == 18);
}

TEST_F(hostScene, DefaultsAndEverySetting) {
    auto d = load("{}");
    EXPECT_TRUE(d->scene->getCamera() == d->camera.get() && d->region.x1 == d->width && d->warnings.empty());
    EXPECT_EQ(dynamic_cast<forkedscene_t*>(d->scene.get()), nullptr);
    auto forked = load("{}", "", sceneOverrides_t(), loadOptions_t{3, "off"});
    EXPECT_EQ(dynamic_cast<forkedscene_t&>(*forked->scene).getWorkers(), 3); // throws unless forked
    auto s = load(R"({"camera": {"type": "orthographic", "from": [1, 2, 3], "to": [1, 2, 0], "up": [1, 3, 3],
        "resolution": [200, 100], "focal": 2, "aperture": 0.5, "focus_distance": 7, "use_qmc": true},
      "render": {"ray_depth": 7, "ray_bias": 0.001, "self_shadow_bias": 0.2, "gamma": 2.2, "exposure": -1.5,
        "fog": {"density": 0.1, "color": [0.5, 0.6, 0.7]}, "repeat_first": true, "seed": 42,
        "antialiasing": {"passes": 2, "samples": 8, "pixel_width": 1.5, "threshold": 0.1},
        "indirect": {"samples": 3, "power": 0.5}, "region": [50, 150, 10, 60]}})");
    const camera_t& cam = *s->camera;
    EXPECT_TRUE(cam.camType == orthoCamera && cam.resx == 200 && cam.resy == 100 && cam.focal == 2 &&
                cam.aperture == 0.5f);
    EXPECT_TRUE(cam.focusDistance == 7 && cam.useQmc && cam.lookDistance == 3 && cam.viewDir.z == -1);
    const scene_t& sc = *s->scene;
    EXPECT_TRUE(sc.getMaxRayLevel() == 7 && sc.getRayBias() == 0.001f && sc.getSelfShadowBias() == 0.2f &&
                sc.getGamma() == 2.2f && sc.getExposure() == -1.5f && sc.getFogDensity() == 0.1f &&
                sc.getFogColor().B == 0.7f);
    EXPECT_TRUE(sc.getAaPasses() == 2 && sc.getAaSamples() == 8 && sc.getAaPixelWidth() == 1.5f &&
                sc.getAaThreshold() == 0.1f);
    EXPECT_TRUE(sc.getIndirectEnabled() && sc.getIndirectSamples() == 3);
    EXPECT_FLOAT_EQ(sc.getIndirectPower(), 0.5f / 9); // averaged over the 3 x 3 rays
    EXPECT_FLOAT_EQ(sc.getIndirectStratumU(), 1.0f / 3.0f);
    EXPECT_TRUE(sc.getRepeatFirst() && s->hasSeed && s->seed == 42);
    // The region: pixels x0 <= x < x1, screen bounds half a pixel before x0 and x1.
    EXPECT_FLOAT_EQ(sc.getRegionMinX(), 2.0f * 49.5f / 200.0f - 1.0f);
    EXPECT_FLOAT_EQ(sc.getRegionMaxX(), 2.0f * 149.5f / 200.0f - 1.0f);
    EXPECT_FLOAT_EQ(sc.getRegionMinY(), 1.0f - 2.0f * 59.5f / 100.0f); // screen y runs upwards
    EXPECT_FLOAT_EQ(sc.getRegionMaxY(), 1.0f - 2.0f * 9.5f / 100.0f);
    auto e = load(
        R"({"camera": {"from": [0, 0, 5], "to": [0, 0, 2], "aperture": 0.1},
            "render": {"antialiasing": {}, "indirect": {"enabled": false, "stratum_u": 0.2, "stratum_phi": 0.3}},
                     "filters": [{"type": "dof", "near_blur": 2, "far_blur": 3, "focus": 10, "scale": 0.5},
                                 {"type": "antinoise", "radius": 2, "max_delta": 0.2}]})");
    EXPECT_EQ(e->camera->focusDistance, 3); // in focus at the point looked at
    EXPECT_TRUE(e->scene->getAaPasses() == 1 && e->scene->getAaSamples() == 4 &&
                !e->scene->getIndirectEnabled());
    EXPECT_TRUE(e->scene->getIndirectStratumU() == 0.2f && e->scene->getIndirectStratumPhi() == 0.3f);
    ASSERT_EQ(e->scene->filters.size(), 2u);
    const filterDOF_t* dof = dynamic_cast<filterDOF_t*>(e->filters[0]);
    const filterAntiNoise_t* an = dynamic_cast<filterAntiNoise_t*>(e->filters[1]);
    EXPECT_TRUE(dof && dof->nearBlur == 2 && dof->farBlur == 3 && dof->focus == 10 && dof->scale == 0.5f);
    EXPECT_TRUE(an && an->radius == 2 && an->maxDelta == 0.2f);
}

TEST_F(hostScene, PluginsObjectsAndFiles) {
    auto s = load(R"({
        "background": {"type": "constant", "color": [0.1, 0.2, 0.3]},
        "lights": {"a": {"type": "point", "from": [0, 5, 0]}, "b": {"type": "sun", "direction": [0, 1, 0]}},
        "textures": {"t": {"type": "checker", "size": 2}},
        "shaders": {"s": {"type": "generic", "layer1_texture": "t"}, "c": {"type": "constant"}},
        "objects": {
          "ball": {"type": "sphere", "center": [1, 2, 3], "radius": 0.5, "shader": "s", "cast_shadows": false},
          "tri": {"type": "mesh", "shader": "s", "vertices": [[0,0,0],[1,0,0],[0,1,0]], "faces": [[0,1,2]],
                  "transform": [{"translate": [0, 0, 5]}]},
          "copy": {"type": "instance", "of": "tri", "transform": {"translate": [10, 0, 0]}}}})");
    EXPECT_TRUE(s->warnings.empty()) << s->warnings[0];
    EXPECT_TRUE(s->scene->getBackground() == s->background && s->background != nullptr);
    EXPECT_TRUE(s->lightList.size() == 2 && s->lightList[0].first == "a" && s->scene->lights.size() == 2);
    EXPECT_TRUE(s->textures.count("t") == 1 && s->shaders.size() == 2 && s->scene->objects.size() == 3);
    const sphere_t& ball = dynamic_cast<sphere_t&>(*s->objectList[0].second); // throws unless a sphere
    EXPECT_TRUE(ball.center.z == 3 && ball.radius == 0.5f && ball.getShader() == s->shaders["s"] &&
                !ball.castsShadows());
    const meshObject_t* tri = &dynamic_cast<meshObject_t&>(*s->objectList[1].second);
    EXPECT_TRUE(tri->getBound().g.z == 5.0f + 1e-5f && tri->castsShadows());
    const referenceObject_t* copy = dynamic_cast<referenceObject_t*>(s->objectList[2].second);
    ASSERT_TRUE(copy && copy->referenced == tri);
    EXPECT_NEAR(copy->getBound().a.x, 10.0f, 1e-4);
    // Relative files resolve against the scene's folder (meshes: objMaterials).
    support::tempDir_t dir;
    auto o = load(R"({"output": {"file": "out/x.png", "alpha": true}})", dir.path);
    EXPECT_TRUE(o->outputFile == dir.path + "/out/x.png" && o->saveAlpha);
    EXPECT_EQ(load(R"({"output": {"file": "/abs.png"}})", dir.path)->outputFile, "/abs.png");
    // Warnings: unused plug-in parameters, plug-in complaints, unknown settings.
    auto w =
        load("{\"shaders\": {\"glass\": {\"type\": \"generic\",\n \"iorr\": 1.5, \"hard\": 0}}, \"extra\": 1,"
             "\"camera\": {\"fov\": 50}, \"objects\": {\"o\": {\"type\": \"sphere\"}}}");
    ASSERT_EQ(w->warnings.size(), 5u);
    EXPECT_TRUE(
        contains(w->warnings[0], "camera.fov: unknown setting, ignored (known here: type, from, to, up,"));
    EXPECT_TRUE(contains(w->warnings[1], "shaders.glass: shader \"glass\" (generic): ")) << w->warnings[1];
    EXPECT_EQ(w->warnings[2], "t.json:2:10: warning: shaders.glass.iorr: unused parameter: the shader type "
                              "\"generic\" does not read it");
    EXPECT_TRUE(contains(w->warnings[3], "objects.o: object \"o\" has no \"shader\"; it renders black"))
        << w->warnings[3];
    EXPECT_TRUE(contains(w->warnings[4], "warning: extra: unknown setting")) << w->warnings[4];
}

TEST_F(hostScene, ErrorsNameTheirPlace) {
    support::tempDir_t dir;
    dir.write("bad.obj", "v 0 0 0\n");
    const std::pair<std::string, std::string> cases[] = {
        {"{\n  \"camera\": {\"focal\": 1,,}\n}", "t.json:2:25: error: invalid JSON: "},
        {"[1, 2]", "t.json:1:1: error: (top level): a scene description is a JSON object { ... }"},
        {R"({"camera": {"type": "fisheye"}})", "t.json:1:21: error: camera.type: unknown camera type "
                                               "\"fisheye\" (known: perspective, orthographic)"},
        {R"({"camera": {"resolution": [0, 10]}})", "resolution[0]: expected a whole number of pixels from 1"},
        {R"({"camera": {"from": [0, 0, 0], "to": [0, 0, 0]}})", "camera.to: the camera looks at its own"},
        {R"({"camera": {"from": [0, 0, 5], "to": [0, 0, 0], "up": [0, 0, 9]}})", "the up point lies on the"},
        {R"({"camera": {"focal": 0}})", "camera.focal: expected a number greater than 0, found 0"},
        {R"({"render": {"ray_depth": 2.5}})", "render.ray_depth: expected a whole number from 0 to 1000"},
        {R"({"render": {"indirect": {"samples": 4, "stratum_u": 0.5}}})", "must not exceed 1 (4 * 0.5)"},
        {R"({"camera": {"resolution": [20, 10]}, "render": {"region": [5, 5, 0, 5]}})",
         "the region is empty"},
        {"{\"shaders\": {\n  \"glass\": {\"type\": \"glas\"}}}", "t.json:2:21: error: shaders.glass.type"},
        {R"({"lights": {"l": {"color": [1, 1, 1]}}})", "lights.l: light \"l\" has no \"type\""},
        {R"({"textures": {"wood": {"type": "image", "filename": "no-file.tga"}}})",
         "texture \"wood\" (image)"},
        {withObjects(R"({"o": {"type": "sphere", "shader": "x"}})"), "no shader named \"x\" (defined: s)"},
        {withObjects(R"({"i": {"type": "instance", "of": "o"}, "o": {"type": "sphere"}})"), "before this"},
        {withObjects(R"({"m": {"type": "mesh", "vertices": [[0,0,0],[1,0,0],[0,1,0]], "faces": [[0,1,3]]}})"),
         "faces[0][2]: expected a vertex index from 0 to 2"},
        {withObjects(R"({"m": {"type": "mesh", "vertices": [[0,0,0],[1,0,0],[0,1,0]], "faces": [[0,1,2]],
                             "auto_smooth": 180.5}})"),
         "auto_smooth: expected a number from 0 to 180, found 180.5"},
        {withObjects(R"({"m": {"type": "mesh", "file": "bad.obj", "shader": "s"}})"), "bad.obj\": no faces"},
        {R"({"output": {"file": "x.jpg"}})", "output.file: unsupported image format \"x.jpg\""},
        {R"({"filters": [{"type": "dof"}]})", "filters[0]: a dof filter needs \"focus\""},
        {R"({"shaders": {"g": {"type": "generic", "size": [1, 2]}}})",
         "shaders.g.size: expected a number, a string, true/false, or a point [x, y, z], found a list of 2"},
        {R"({"shaders": {"g": {"type": "generic", "from": [1, "a", 3]}}})", "g.from[1]: expected a number"},
    };
    for (const auto& c : cases) {
        const std::string e = errorOf(c.first, dir.path);
        EXPECT_TRUE(contains(e, c.second) && !contains(e, "[json.exception")) << c.first << "\n  gave: " << e;
    }
}

TEST_F(hostScene, CommandLineOverrides) {
    const sceneOverrides_t o{
        {{"camera.focal", "2.5"}, {"render.antialiasing.passes", "3"}, {"output.file", "x.tga"}},
        64,
        32,
        true,
        {0, 32, 0, 16}};
    auto s = load(R"({"camera": {"focal": 1, "resolution": [10, 10]}})", "", o);
    EXPECT_TRUE(s->camera->focal == 2.5f && s->scene->getAaPasses() == 3 && s->outputFile == "x.tga");
    EXPECT_TRUE(s->width == 64 && s->region.x1 == 32 && s->region.y1 == 16);
    EXPECT_TRUE(contains(errorOf("{}", "", sceneOverrides_t{{{"objects.ball.radius", "2"}}}),
                         "--set objects.ball.radius=2: error: expected a setting below"));
    EXPECT_EQ(errorOf("{}", "", sceneOverrides_t{{{"camera.focal", "abc"}}}),
              "--set camera.focal=abc: error: camera.focal: expected a number, found a string");
    EXPECT_EQ(errorOf("{}", "", sceneOverrides_t{{}, 0, 0, true, {0, 700, 0, 1}}),
              "--region 0 700 0 1: error: render.region[1]: expected a whole pixel "
              "position from 0 to 640, found 700");
}

TEST_F(hostScene, TheDemoAndTheDocumentedExampleLoadCleanly) {
    auto s = loadScene(demoSceneSource(), sceneOverrides_t(), *plugins, loadOptions_t());
    EXPECT_TRUE(s->warnings.empty()) << s->warnings[0];
    int kinds[3] = {0, 0, 0}; // meshes, spheres, instances
    for (const auto& o : s->objectList)
        if (o.second->type() >= 0 && o.second->type() < 3) ++kinds[o.second->type()];
    EXPECT_TRUE(kinds[0] >= 2 && kinds[1] >= 2 && kinds[2] >= 1 && s->scene->getAaPasses() > 0 &&
                !s->lightList.empty());
    const std::string root = VEXLAR_SOURCE_DIR;
    EXPECT_TRUE(support::slurp(root + "/scenes/demo.json") == demoSceneText())
        << "the program embeds an old copy of scenes/demo.json";
    EXPECT_FALSE(demoBunnyText().empty());
    const std::string doc = support::slurp(root + "/docs/scene-format.md");
    const std::size_t begin = doc.find("```json\n"), end = doc.find("```", begin + 8);
    ASSERT_TRUE(begin != std::string::npos && end != std::string::npos);
    const std::string example = doc.substr(begin + 8, end - begin - 8);
    EXPECT_TRUE(example == support::slurp(root + "/scenes/example.json"))
        << "scenes/example.json differs from docs/scene-format.md";
    auto e = load(example, root + "/scenes");
    EXPECT_TRUE(e->warnings.empty()) << e->warnings[0];
    EXPECT_TRUE(e->objectList.size() == 5 && e->filters.size() == 2 && e->lightList.size() == 3);
}
