// The standard plug-ins, loaded as modules through the plug-in manager and
// checked against values computed here for simple configurations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "plugintestcontext.h"
#include "vexlarcore/background.h"
#include "vexlarcore/geometree.h"
#include "vexlarcore/light.h"
#include "vexlarcore/noise.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/params.h"
#include "vexlarcore/pluginregistry.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/scene.h"
#include "vexlarcore/shader.h"
#include "vexlarcore/sphere.h"
#include "vexlarcore/texture.h"

using namespace vexlar;

namespace {

const std::string pluginDir = VEXLAR_PLUGIN_BUILD_DIR;
const double pi = 3.14159265358979323846;

// One manager for the whole program: every object made from it is deleted
// by its test before the manager goes at exit.
pluginManager_t& plugins() {
    static std::ostringstream log;
    static pluginManager_t manager(log);
    static const bool loaded = (manager.loadDirectory(pluginDir), true);
    (void)loaded;
    return manager;
}

// Up (z > 0) and down see different colours.
class twoToneBackground_t : public background_t {
public:
    color_t lookup(const vector3d_t& dir, renderState_t&) const override {
        return dir.z > 0 ? color_t(1, 0.25f, 0) : color_t(0, 0.5f, 1);
    }
};

class pluginsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (pluginDir.empty()) GTEST_SKIP() << "built without the standard plug-ins";
    }

    std::unique_ptr<shader_t> shader(const std::string& type, paramMap_t& params) {
        return std::unique_ptr<shader_t>(plugins().createShader(type, params, context));
    }
    std::unique_ptr<light_t> light(const std::string& type, paramMap_t& params) {
        return std::unique_ptr<light_t>(plugins().createLight(type, params, context));
    }
    std::unique_ptr<texture_t> texture(const std::string& type, paramMap_t& params) {
        return std::unique_ptr<texture_t>(plugins().createTexture(type, params, context));
    }
    std::unique_ptr<background_t> background(const std::string& type, paramMap_t& params) {
        return std::unique_ptr<background_t>(plugins().createBackground(type, params, context));
    }

    // A parameter map made from `list`, alive until the end of the test.
    paramMap_t& params(std::initializer_list<std::pair<const char*, parameter_t>> list) {
        kept.emplace_back();
        for (const auto& e : list) kept.back()[e.first] = e.second;
        return kept.back();
    }

    // A hit record at `p` with unit normal `n` (shading and geometric).
    static surfacePoint_t hit(const point3d_t& p, const vector3d_t& n, const shader_t* sh) {
        return surfacePoint_t(nullptr, p, p, n, n, 0, 0, color_t(0, 0, 0), 1.0f, sh, false, false, false);
    }

    std::list<paramMap_t> kept;
    testContext_t context;
    renderState_t state;
    twoToneBackground_t twoTone;
    scene_t scene;
};

parameter_t col(float r, float g, float b) {
    return parameter_t(r, g, b, 1.0f);
}
parameter_t text(const char* s) {
    return parameter_t(std::string(s));
}
parameter_t pt(float x, float y, float z) {
    return parameter_t(point3d_t(x, y, z));
}

void expectColor(const color_t& c, double r, double g, double b, double tol = 1e-6) {
    EXPECT_NEAR(c.R, r, tol);
    EXPECT_NEAR(c.G, g, tol);
    EXPECT_NEAR(c.B, b, tol);
}

} // namespace

TEST_F(pluginsTest, everyStandardTypeLoadsWithoutErrors) {
    EXPECT_TRUE(plugins().errors().empty());
    EXPECT_EQ(plugins().typeNames(pluginKind_t::shader), "constant, generic, pbr");
    EXPECT_EQ(plugins().typeNames(pluginKind_t::light), "area, caustic, photongi, point, sky, spot, sun");
    EXPECT_EQ(plugins().typeNames(pluginKind_t::texture), "checker, clouds, image, marble, wood");
    EXPECT_EQ(plugins().typeNames(pluginKind_t::background), "constant, gradient, image");
    EXPECT_EQ(plugins().moduleCount(), 18u);
}

TEST_F(pluginsTest, parameterTablesAreCompleteAndFollowTheColourNamingRule) {
    const std::vector<std::string> kinds = {"float", "int", "bool", "string", "point", "color"};
    const pluginKind_t all[] = {pluginKind_t::shader, pluginKind_t::light, pluginKind_t::texture,
                                pluginKind_t::background};
    for (pluginKind_t k : all) {
        std::string names = plugins().typeNames(k) + ", ";
        for (std::size_t pos = 0, next; (next = names.find(", ", pos)) != std::string::npos; pos = next + 2) {
            const pluginTypeInfo_t* t = plugins().find(k, names.substr(pos, next - pos));
            ASSERT_NE(t, nullptr);
            EXPECT_FALSE(t->params.empty()) << t->type;
            EXPECT_FALSE(t->description.empty()) << t->type;
            for (const pluginParam_t& p : t->params) {
                EXPECT_NE(std::find(kinds.begin(), kinds.end(), p.kind), kinds.end())
                    << t->type << " " << p.name;
                EXPECT_EQ(p.kind == "color", isColorKey(p.name)) << t->type << " " << p.name;
                EXPECT_FALSE(p.meaning.empty()) << t->type << " " << p.name;
            }
        }
    }
}

// ---------------------------------------------------------------- lights

TEST_F(pluginsTest, lambertPointLitByAPointLight) {
    auto lambert = shader("generic", params({{"color", col(0.5f, 0.6f, 0.7f)}}));
    paramMap_t lp;
    lp["from"] = pt(1, 0, 1);
    lp["power"] = parameter_t(4.0f);
    lp["color"] = col(1, 0.5f, 0.25f);
    auto lamp = light("point", lp);
    ASSERT_TRUE(lambert && lamp);

    // Distance^2 = 2, incidence 45 degrees.
    surfacePoint_t p = hit(point3d_t(0, 0, 0), vector3d_t(0, 0, 1), lambert.get());
    color_t c = lamp->illuminate(state, scene, p, vector3d_t(0, 0, 3));
    const double k = 4.0 / 2.0 * std::cos(pi / 4);
    expectColor(c, 0.5 * 1 * k, 0.6 * 0.5 * k, 0.7 * 0.25 * k);

    // The light behind the surface gives nothing.
    paramMap_t below = lp;
    below["from"] = pt(1, 0, -1);
    auto under = light("point", below);
    expectColor(under->illuminate(state, scene, p, vector3d_t(0, 0, 3)), 0, 0, 0);
    // Seen from below, the surface is lit from below (both sides shade alike).
    expectColor(under->illuminate(state, scene, p, vector3d_t(0, 0, -3)), 0.5 * k, 0.3 * k, 0.175 * k);
    EXPECT_TRUE(context.warnings.empty());
}

TEST_F(pluginsTest, pointAndSunLightsCastHardShadows) {
    auto white = shader("generic", params({{"color", col(1, 1, 1)}}));
    surfacePoint_t p = hit(point3d_t(0, 0, 0), vector3d_t(0, 0, 1), white.get());

    paramMap_t lp;
    lp["from"] = pt(0, 0, 2);
    auto lamp = light("point", lp);
    lp["shadows"] = text("off");
    auto unshadowed = light("point", lp);
    auto sun = light("sun", params({{"direction", pt(0, 0, 3)}, {"power", parameter_t(2.0f)}}));

    // Nothing in the way yet.
    expectColor(lamp->illuminate(state, scene, p, vector3d_t(0, 0, 1)), 0.25, 0.25, 0.25);
    expectColor(sun->illuminate(state, scene, p, vector3d_t(0, 0, 1)), 2, 2, 2);

    // A ball between the point and the lamp.
    sphere_t ball(point3d_t(0, 0, 1), 0.25f);
    scene.addObject(&ball);
    scene.objectTree = buildObjectTree(scene.objects);
    expectColor(lamp->illuminate(state, scene, p, vector3d_t(0, 0, 1)), 0, 0, 0);
    expectColor(sun->illuminate(state, scene, p, vector3d_t(0, 0, 1)), 0, 0, 0);
    expectColor(unshadowed->illuminate(state, scene, p, vector3d_t(0, 0, 1)), 0.25, 0.25, 0.25);

    // A ball beyond the lamp does not shadow the point light, but the sun.
    scene_t beyond;
    sphere_t far(point3d_t(0, 0, 3), 0.25f);
    beyond.addObject(&far);
    beyond.objectTree = buildObjectTree(beyond.objects);
    expectColor(lamp->illuminate(state, beyond, p, vector3d_t(0, 0, 1)), 0.25, 0.25, 0.25);
    expectColor(sun->illuminate(state, beyond, p, vector3d_t(0, 0, 1)), 0, 0, 0);
}

TEST_F(pluginsTest, sunLightFollowsTheCosineLaw) {
    auto lambert = shader("generic", params({{"color", col(0.5f, 0.5f, 1)}}));
    paramMap_t sunp;
    sunp["direction"] = pt(0, 1, 1); // not unit on purpose
    sunp["power"] = parameter_t(2.0f);
    sunp["color"] = col(1, 1, 0.5f);
    auto sun = light("sun", sunp);
    surfacePoint_t p = hit(point3d_t(5, 5, 0), vector3d_t(0, 0, 1), lambert.get());
    const double k = 2.0 * std::cos(pi / 4);
    expectColor(sun->illuminate(state, scene, p, vector3d_t(0, 0, 1)), 0.5 * k, 0.5 * k, 0.5 * k);
}

TEST_F(pluginsTest, spotLightFadesSmoothlyOverItsEdge) {
    auto white = shader("generic", params({{"color", col(1, 1, 1)}}));
    auto spot = light("spot", params({{"from", pt(0, 0, 0)},
                                      {"to", pt(0, 0, -4)},
                                      {"angle", parameter_t(30.0f)},
                                      {"blend", parameter_t(0.5f)}}));
    ASSERT_TRUE(spot);

    // Points at distance 1, facing the light: the result is the spot factor.
    const double cosOuter = std::cos(30 * pi / 180), cosInner = std::cos(15 * pi / 180);
    auto factor = [&](double deg) {
        double c = std::cos(deg * pi / 180);
        if (c <= cosOuter) return 0.0;
        if (c >= cosInner) return 1.0;
        double t = (c - cosOuter) / (cosInner - cosOuter);
        return t * t * (3 - 2 * t);
    };
    double previous = 2;
    for (double deg = 0; deg <= 40; deg += 1.25) {
        double a = deg * pi / 180;
        vector3d_t toLight(static_cast<float>(-std::sin(a)), 0, static_cast<float>(std::cos(a)));
        surfacePoint_t p =
            hit(point3d_t(static_cast<float>(std::sin(a)), 0, static_cast<float>(-std::cos(a))), toLight,
                white.get());
        color_t c = spot->illuminate(state, scene, p, toLight);
        EXPECT_NEAR(c.R, factor(deg), 2e-5) << deg << " degrees";
        EXPECT_LE(c.R, previous + 1e-6) << "not monotonic at " << deg;
        previous = c.R;
    }
}

TEST_F(pluginsTest, spotLightWithoutBlendHasAHardEdge) {
    auto grey = shader("generic", params({})); // 0.8 grey by default
    auto spot =
        light("spot", params({{"angle", parameter_t(20.0f)},
                              {"blend", parameter_t(0.0f)}})); // from the origin down the -z axis by default
    auto at = [&](double deg) {
        double a = deg * pi / 180;
        vector3d_t n(static_cast<float>(-std::sin(a)), 0, static_cast<float>(std::cos(a)));
        surfacePoint_t p = hit(point3d_t(-n.x, 0, -n.z), n, grey.get());
        return spot->illuminate(state, scene, p, n).R;
    };
    EXPECT_NEAR(at(19.5), 0.8, 1e-6);
    EXPECT_EQ(at(20.5), 0.0f);
}

// ---------------------------------------------------------------- shaders

TEST_F(pluginsTest, phongAndBlinnHighlights) {
    paramMap_t sp;
    sp["color"] = col(0, 0, 0);
    sp["specular_color"] = col(1, 1, 1);
    sp["hard"] = parameter_t(10.0f);
    auto phong = shader("generic", sp);
    sp["specular_model"] = text("blinn");
    auto blinn = shader("generic", sp);
    ASSERT_TRUE(phong && blinn);

    surfacePoint_t p = hit(point3d_t(0, 0, 0), vector3d_t(0, 0, 1), phong.get());
    const double a = 20 * pi / 180;
    vector3d_t eye(static_cast<float>(std::sin(a)), 0, static_cast<float>(std::cos(a)));
    energy_t fromAbove(vector3d_t(0, 0, 1), color_t(1, 1, 1));
    // Phong: the mirrored eye is 20 degrees off the light; Blinn: the half
    // vector is 10 degrees off the normal.
    EXPECT_NEAR(phong->fromLight(state, p, fromAbove, eye * 3).R, std::pow(std::cos(a), 10), 1e-5);
    EXPECT_NEAR(blinn->fromLight(state, p, fromAbove, eye).R, std::pow(std::cos(a / 2), 10), 1e-5);
}

TEST_F(pluginsTest, mirrorSeesTheBackground) {
    auto sky = background("constant", params({{"color", col(0.2f, 0.4f, 0.6f)}}));
    scene.setBackground(sky.get());

    auto mirror = shader("generic", params({{"color", col(0, 0, 0)},
                                            {"mirror_color", col(0.5f, 1, 1)},
                                            {"emit_color", col(0.01f, 0.02f, 0.03f)}}));
    surfacePoint_t p = hit(point3d_t(0, 0, 0), vector3d_t(0, 0, 1), mirror.get());
    state.rayLevel = 0;
    color_t c = mirror->fromWorld(state, p, scene, vector3d_t(1, 0, 1));
    expectColor(c, 0.01 + 0.1, 0.02 + 0.4, 0.03 + 0.6);
    EXPECT_EQ(state.rayLevel, 0);
    // No light of its own and nothing in the indirect pass beyond its colour.
    expectColor(mirror->getDiffuse(state, p, vector3d_t(0, 0, 1)), 0, 0, 0);
}

TEST_F(pluginsTest, glassWeighsReflectionAndRefractionByFresnelAtNormalIncidence) {
    scene.setBackground(&twoTone);
    const color_t up(1, 0.25f, 0), down(0, 0.5f, 1);
    for (float n : {1.5f, 2.0f}) {
        auto glass = shader("generic", params({{"color", col(0, 0, 0)},
                                               {"mirror_color", col(1, 1, 1)},
                                               {"transmit_color", col(1, 1, 1)},
                                               {"ior", parameter_t(n)},
                                               {"fresnel", text("on")}}));
        surfacePoint_t p = hit(point3d_t(0, 0, 0), vector3d_t(0, 0, 1), glass.get());
        color_t c = glass->fromWorld(state, p, scene, vector3d_t(0, 0, 2));
        // Reflected straight back up, refracted straight down.
        double kr = std::pow((n - 1.0) / (n + 1.0), 2), kt = 1 - kr;
        expectColor(c, kr * up.R + kt * down.R, kr * up.G + kt * down.G, kr * up.B + kt * down.B, 1e-5);

        color_t reflected, transmitted;
        float index = 0;
        glass->getCaustics(state, p, vector3d_t(0, 0, 1), reflected, transmitted, index);
        EXPECT_EQ(index, n);
    }
}

TEST_F(pluginsTest, refractionFromInsideTurnsIntoReflectionBeyondTheCriticalAngle) {
    scene.setBackground(&twoTone);
    auto glass = shader(
        "generic",
        params({{"color", col(0, 0, 0)}, {"transmit_color", col(0, 1, 0.5f)}, {"ior", parameter_t(1.5f)}}));
    surfacePoint_t p = hit(point3d_t(0, 0, 0), vector3d_t(0, 0, 1), glass.get());

    // From inside (below), straight out: refracted upwards.
    expectColor(glass->fromWorld(state, p, scene, vector3d_t(0, 0, -1)), 0, 0.25, 0);
    // From inside at 60 degrees: sin 60 * 1.5 > 1, totally reflected back down.
    const double a = 60 * pi / 180;
    vector3d_t eye(static_cast<float>(std::sin(a)), 0, static_cast<float>(-std::cos(a)));
    expectColor(glass->fromWorld(state, p, scene, eye), 0, 0.5, 0.5);
}

TEST_F(pluginsTest, constantShaderIgnoresLights) {
    auto flat = shader("constant", params({{"color", col(0.3f, 0.2f, 0.1f)}}));
    surfacePoint_t p = hit(point3d_t(0, 0, 0), vector3d_t(0, 0, 1), flat.get());
    expectColor(flat->fromWorld(state, p, scene, vector3d_t(0, 0, 1)), 0.3, 0.2, 0.1);
    expectColor(
        flat->fromLight(state, p, energy_t(vector3d_t(0, 0, 1), color_t(5, 5, 5)), vector3d_t(0, 0, 1)), 0, 0,
        0);
    expectColor(flat->getDiffuse(state, p, vector3d_t(0, 0, 1)), 0, 0, 0);
    auto white = shader("constant", params({}));
    expectColor(white->fromWorld(state, p, scene, vector3d_t(0, 0, 1)), 1, 1, 1);
}

TEST_F(pluginsTest, textureLayerSetsTheDiffuseColour) {
    auto board = texture("checker", params({{"even_color", col(1, 0, 0)}, {"odd_color", col(0, 0, 1)}}));
    context.textures["board"] = board.get();

    paramMap_t sp;
    sp["diffuse"] = parameter_t(0.5f);
    sp["layer1_texture"] = text("board");
    sp["layer1_coords"] = text("global");
    auto layered = shader("generic", sp);
    ASSERT_TRUE(layered);
    EXPECT_TRUE(context.warnings.empty());

    surfacePoint_t even = hit(point3d_t(0.5f, 0.5f, 0.5f), vector3d_t(0, 0, 1), layered.get());
    surfacePoint_t odd = hit(point3d_t(1.5f, 0.5f, 0.5f), vector3d_t(0, 0, 1), layered.get());
    expectColor(layered->getDiffuse(state, even, vector3d_t(0, 0, 1)), 0.5, 0, 0);
    expectColor(layered->getDiffuse(state, odd, vector3d_t(0, 0, 1)), 0, 0, 0.5);
    // Half strength in multiply mode on a white base: 0.5 * (1 + red) / ...
    sp["color"] = col(1, 1, 1);
    sp["diffuse"] = parameter_t(1.0f);
    sp["layer1_mode"] = text("multiply");
    sp["layer1_colfac"] = parameter_t(0.5f);
    auto multiplied = shader("generic", sp);
    // mix(tex, white, 0.5) = (1, 0.5, 0.5) on an even cube.
    expectColor(multiplied->getDiffuse(state, even, vector3d_t(0, 0, 1)), 1, 0.5, 0.5);
}

TEST_F(pluginsTest, bumpLayerTiltsTheNormalAtAnEdgeOnly) {
    auto board = texture("checker", params({})); // white even, black odd cubes
    context.textures["board"] = board.get();
    auto bumpy = shader("generic", params({{"layer1_texture", text("board")},
                                           {"layer1_coords", text("global")},
                                           {"layer1_colfac", parameter_t(0.0f)},
                                           {"layer1_bump", parameter_t(0.001f)}}));

    // Inside a cube the texture is flat: the normal stays.
    surfacePoint_t inside = hit(point3d_t(0.5f, 0.5f, 0.5f), vector3d_t(0, 0, 1), bumpy.get());
    bumpy->displace(state, inside, vector3d_t(0, 0, 1), 0.01f);
    expectColor(color_t(inside.normal.x, inside.normal.y, inside.normal.z), 0, 0, 1);

    // On the face x = 1 between a white and a black cube, sampled 0.01 either
    // side along tangentU = (1, 0, 0): du = (1 - 0) * 0.001 / 0.01 = 0.1,
    // weight 0.9 for the old normal.
    surfacePoint_t edge = hit(point3d_t(1.0f, 0.5f, 0.5f), vector3d_t(0, 0, 1), bumpy.get());
    bumpy->displace(state, edge, vector3d_t(0, 0, 1), 0.01f);
    double len = std::sqrt(0.1 * 0.1 + 0.9 * 0.9);
    expectColor(color_t(edge.normal.x, edge.normal.y, edge.normal.z), 0.1 / len, 0, 0.9 / len, 1e-5);
}

TEST_F(pluginsTest, badTextureLayersAreReportedAndSkipped) {
    auto s = shader("generic", params({{"color", col(0.25f, 0.25f, 0.25f)},
                                       {"layer1_texture", text("nope")},
                                       {"layer3_colfac", parameter_t(1.0f)}}));
    ASSERT_TRUE(s);
    const std::vector<std::string> expected = {
        "texture layer 1: there is no texture named \"nope\"; layer ignored",
        "texture layer 3 has settings but no \"layer3_texture\"; layer ignored"};
    EXPECT_EQ(context.warnings, expected);
    surfacePoint_t p = hit(point3d_t(0, 0, 0), vector3d_t(0, 0, 1), s.get());
    expectColor(s->getDiffuse(state, p, vector3d_t(0, 0, 1)), 0.25, 0.25, 0.25);
}

TEST_F(pluginsTest, layerSettingsAreCheckedLikeAnyOther) {
    auto board = texture("checker", params({}));
    context.textures["board"] = board.get();
    EXPECT_TRUE(shader("generic", params({{"layer2_texture", text("board")},
                                          {"layer2_repeat_x", parameter_t(3e9f)},
                                          {"layer2_axes", text("xyw")},
                                          {"layer2_coords", text("screen")}})));
    const std::vector<std::string> expected = {
        "setting \"layer2_coords\" = \"screen\" is not one of \"uv\", \"global\", \"orco\", \"window\", "
        "\"normal\", \"reflection\"; using \"orco\"",
        "setting \"layer2_axes\" = \"xyw\" should be three letters from x, y, z and n; using \"xyz\"",
        "setting \"layer2_repeat_x\" = 3e+09 is out of range (at least 1); using 1"};
    EXPECT_EQ(context.warnings, expected);
}

// ---------------------------------------------------------------- textures

TEST_F(pluginsTest, checkerColoursAtKnownPoints) {
    auto board = texture("checker", params({{"size", parameter_t(0.5f)}}));
    ASSERT_TRUE(board);
    auto at = [&](float x, float y, float z) { return board->colorAt(point3d_t(x, y, z)).R; };
    EXPECT_EQ(at(0.25f, 0.25f, 0.25f), 1.0f);   // cube (0, 0, 0): even
    EXPECT_EQ(at(0.75f, 0.25f, 0.25f), 0.0f);   // (1, 0, 0)
    EXPECT_EQ(at(-0.25f, 0.25f, 0.25f), 0.0f);  // (-1, 0, 0)
    EXPECT_EQ(at(-0.25f, -0.25f, 0.25f), 1.0f); // (-1, -1, 0)
    EXPECT_EQ(at(0.5f, 0, 0), 0.0f);            // on a face: the cube above
    EXPECT_EQ(at(1.0f, 0, 0), 1.0f);            // (2, 0, 0)
    EXPECT_EQ(at(-1e-7f, 0, 0), 0.0f);          // just below zero is cube -1

    auto rb = texture("checker", params({{"even_color", col(1, 0, 0)}, {"odd_color", col(0, 0.5f, 1)}}));
    expectColor(rb->colorAt(point3d_t(0.5f, 0.5f, 0.5f)), 1, 0, 0);
    expectColor(rb->colorAt(point3d_t(1.5f, 0.5f, 0.5f)), 0, 0.5, 1);
    EXPECT_NEAR(rb->floatAt(point3d_t(0.5f, 0.5f, 0.5f)), 1.0 / 3, 1e-7);
    EXPECT_NEAR(rb->floatAt(point3d_t(1.5f, 0.5f, 0.5f)), 0.5, 1e-7);
    EXPECT_FALSE(rb->isDiscrete());
}

TEST_F(pluginsTest, cloudsAreTurbulenceOfTheScaledPoint) {
    auto clouds = texture("clouds", params({{"depth", parameter_t(3.0f)},
                                            {"hard", text("on")},
                                            {"size", parameter_t(2.0f)},
                                            {"dark_color", col(0, 0, 0.5f)},
                                            {"light_color", col(1, 1, 1)}}));
    ASSERT_TRUE(clouds);
    newPerlin_t perlin;
    for (int i = 0; i < 8; ++i) {
        point3d_t p(0.37f * i - 2.1f, 0.11f * i + 0.3f, -0.23f * i + 1.7f);
        float t = perlin.turbulence(point3d_t(p.x / 2, p.y / 2, p.z / 2), 3, true);
        EXPECT_EQ(clouds->floatAt(p), t);
        EXPECT_GE(t, 0.5f); // hard turbulence never falls below the middle
        color_t expected = mix(color_t(1, 1, 1), color_t(0, 0, 0.5f), t);
        expectColor(clouds->colorAt(p), expected.R, expected.G, expected.B);
    }
}

namespace {
// A 2 x 2 uncompressed true-colour TGA, first row at the top:
// red, green / blue, white.
void writeTestImage(const std::string& path) {
    const unsigned char header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20};
    const unsigned char pixels[12] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255}; // B, G, R each
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    f.write(reinterpret_cast<const char*>(pixels), sizeof pixels);
}
} // namespace

TEST_F(pluginsTest, imageTextureInterpolatesBetweenTexelCentres) {
    std::string dir = ::testing::TempDir();
    if (!dir.empty() && dir.back() == '/') dir.pop_back();
    std::string name = "vexlar_plugins_test_" + std::to_string(getpid()) + ".tga";
    writeTestImage(dir + "/" + name);
    context.baseDir = dir;

    paramMap_t tp;
    tp["filename"] = parameter_t(name);
    auto image = texture("image", tp);
    tp["interpolate"] = text("off");
    auto nearest = texture("image", tp);
    std::remove((dir + "/" + name).c_str());
    ASSERT_TRUE(image && nearest) << (context.warnings.empty() ? "" : context.warnings[0]);

    auto c = [&](const texture_t& t, float x, float y) { return t.colorAt(point3d_t(x, y, 0)); };
    expectColor(c(*image, 0.25f, 0.25f), 1, 0, 0); // texel centres
    expectColor(c(*image, 0.75f, 0.25f), 0, 1, 0);
    expectColor(c(*image, 0.25f, 0.75f), 0, 0, 1);
    expectColor(c(*image, 0.5f, 0.5f), 0.5, 0.5, 0.5); // all four
    expectColor(c(*image, 0.375f, 0.25f), 0.75, 0.25, 0);
    expectColor(c(*image, 0, 0), 1, 0, 0); // edges extend the outer texels
    expectColor(c(*image, 1, 1), 1, 1, 1);
    expectColor(c(*image, 3, -2), 0, 1, 0);
    EXPECT_NEAR(image->floatAt(point3d_t(0.5f, 0.5f, 0)), 0.5, 1e-6);

    expectColor(c(*nearest, 0.49f, 0.49f), 1, 0, 0);
    expectColor(c(*nearest, 0.51f, 0.49f), 0, 1, 0);
    expectColor(c(*nearest, 0.5f, 0.5f), 1, 1, 1); // a tie goes to the higher texel
    expectColor(c(*nearest, 1.0f, 0.0f), 0, 1, 0);

    EXPECT_TRUE(image->isDiscrete());
    EXPECT_EQ(image->toTexelU(0.5f), 1.0f);
    EXPECT_EQ(image->toTexelV(0.25f), 0.5f);
    EXPECT_TRUE(context.warnings.empty());
}

TEST_F(pluginsTest, imageTextureWithoutAUsableFileIsNotBuilt) {
    EXPECT_EQ(texture("image", params({})), nullptr);
    context.baseDir = "/nonexistent";
    paramMap_t missing;
    missing["filename"] = text("nofile.tga");
    EXPECT_EQ(texture("image", missing), nullptr);
    const std::vector<std::string> expected = {
        "setting \"filename\" is missing: an image texture needs a picture (PNG, JPEG, TGA, HDR or EXR)",
        "cannot read the image \"/nonexistent/nofile.tga\": No such file or directory"};
    EXPECT_EQ(context.warnings, expected);
}

// ---------------------------------------------------------------- backgrounds

TEST_F(pluginsTest, gradientRunsFromHorizonToZenith) {
    paramMap_t bp;
    bp["horizon_color"] = col(0.9f, 0.8f, 0.7f);
    bp["zenith_color"] = col(0.1f, 0.2f, 0.3f);
    auto sky = background("gradient", bp);
    ASSERT_TRUE(sky);
    expectColor(sky->lookup(vector3d_t(1, 0, 0), state), 0.9, 0.8, 0.7);
    expectColor(sky->lookup(vector3d_t(0, 0, 1), state), 0.1, 0.2, 0.3);
    expectColor(sky->lookup(vector3d_t(0, 0, 7), state), 0.1, 0.2, 0.3);
    // 30 degrees up: sine 0.5, half way.
    const double a = 30 * pi / 180;
    expectColor(
        sky->lookup(vector3d_t(static_cast<float>(std::cos(a)), 0, static_cast<float>(std::sin(a))), state),
        0.5, 0.5, 0.5, 1e-6);
    // Below the horizon: the horizon colour unless a ground colour is given.
    expectColor(sky->lookup(vector3d_t(0, 0, -1), state), 0.9, 0.8, 0.7);
    bp["ground_color"] = col(0.3f, 0.3f, 0.3f);
    bp["up"] = pt(0, 2, 0);
    auto ySky = background("gradient", bp);
    expectColor(ySky->lookup(vector3d_t(0, 1, 0), state), 0.1, 0.2, 0.3);
    expectColor(ySky->lookup(vector3d_t(0, 0, 1), state), 0.9, 0.8, 0.7);
    expectColor(ySky->lookup(vector3d_t(0, -1, 0.5f), state), 0.3, 0.3, 0.3);
}

// ---------------------------------------------------------------- bad settings

TEST_F(pluginsTest, badSettingsAreReportedAndReplacedByTheirDefaults) {
    paramMap_t checker;
    checker["size"] = parameter_t(-1.0f);
    auto board = texture("checker", checker);
    ASSERT_TRUE(board);
    EXPECT_EQ(board->colorAt(point3d_t(0.5f, 0.5f, 0.5f)).R, 1.0f); // size 1: cube 0
    EXPECT_EQ(board->colorAt(point3d_t(1.5f, 0.5f, 0.5f)).R, 0.0f);

    paramMap_t bg;
    bg["color"] = parameter_t(0.5f);
    auto sky = background("constant", bg);
    expectColor(sky->lookup(vector3d_t(0, 0, 1), state), 0, 0, 0);

    paramMap_t lamp;
    lamp["shadows"] = text("yes");
    lamp["power"] = parameter_t(-3.0f);
    lamp["color"] = col(-1, 0, 0);
    lamp["from"] = text("up there");
    EXPECT_TRUE(light("point", lamp));

    paramMap_t clouds;
    clouds["depth"] = parameter_t(2.5f);
    clouds["size"] = col(1, 1, 1);
    EXPECT_TRUE(texture("clouds", clouds));
    EXPECT_TRUE(texture("clouds", params({{"depth", parameter_t(40.0f)}})));

    paramMap_t gen;
    gen["specular_model"] = text("cook");
    gen["hard"] = parameter_t(0.5f);
    gen["ior"] = parameter_t(0.0f);
    EXPECT_TRUE(shader("generic", gen));

    paramMap_t grad;
    grad["up"] = pt(0, 0, 0);
    EXPECT_TRUE(background("gradient", grad));

    paramMap_t spot;
    spot["from"] = pt(1, 2, 3);
    spot["to"] = pt(1, 2, 3);
    spot["angle"] = parameter_t(90.5f);
    EXPECT_TRUE(light("spot", spot));

    const std::vector<std::string> expected = {
        "setting \"size\" = -1 is out of range (greater than 0); using 1",
        "setting \"color\" should be a colour, not a number",
        "setting \"from\" should be a point (three numbers), not a string",
        "setting \"color\" = -1 0 0 has a negative or non-finite channel; using 1 1 1",
        "setting \"power\" = -3 is out of range (at least 0); using 1",
        "setting \"shadows\" = \"yes\" should be \"on\" or \"off\"; using on",
        "setting \"depth\" = 2.5 is not a whole number; using 2",
        "setting \"size\" should be a number, not a colour",
        "setting \"depth\" = 40 is out of range (0 to 16); using 2",
        "setting \"hard\" = 0.5 is out of range (1 to 10000); using 50",
        "setting \"specular_model\" = \"cook\" is not one of \"phong\", \"blinn\"; using \"phong\"",
        "setting \"ior\" = 0 is out of range (greater than 0); using 1.5",
        "setting \"up\" = 0 0 0 is not a usable direction; using 0 0 1",
        "setting \"to\" equals \"from\", so the spot has no direction; pointing it along -z",
        "setting \"angle\" = 90.5 is out of range (greater than 0, at most 90); using 45",
    };
    EXPECT_EQ(context.warnings, expected);

    // Everything complained about counts as read: the host does not report
    // it a second time as unused.
    for (const paramMap_t* m : {&checker, &bg, &lamp, &clouds, &gen, &grad, &spot})
        for (const auto& entry : m->entries()) EXPECT_TRUE(entry.second.used) << entry.first;
}
