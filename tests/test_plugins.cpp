// The standard plug-ins, loaded as modules through the plug-in manager and
// checked against values computed here for simple configurations.
#include "light_fixtures.h"
#include "test_support.h"

#include "vexlarcore/noise.h"

#include <cmath>
#include <list>
#include <memory>

using namespace vexlar;
using lightfx::hit;
using lightfx::settings_t;
using lightfx::with;
using support::expectColor;

namespace {

const double pi = 3.14159265358979323846;
const color_t black(0, 0, 0), white(1, 1, 1);
const point3d_t origin(0, 0, 0);
const vector3d_t up(0, 0, 1);

// A sphere that counts the shadow rays tested against it.
class countingSphere_t : public sphere_t {
public:
    using sphere_t::sphere_t;
    bool shoot(renderState_t& state, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
               bool shadow, float dist) const override {
        shadowRays += shadow;
        return sphere_t::shoot(state, sp, from, ray, shadow, dist);
    }
    mutable int shadowRays = 0;
};

class standardPlugins : public ::testing::Test {
protected:
    void SetUp() override { SKIP_WITHOUT_PLUGINS(); }
    // A parameter map alive until the end of the test.
    paramMap_t& params(const settings_t& s) { return kept.emplace_back(lightfx::paramsOf(s)); }
    std::unique_ptr<shader_t> shader(const char* type, const settings_t& s) {
        return std::unique_ptr<shader_t>(::standardPlugins().createShader(type, params(s), context));
    }
    std::unique_ptr<light_t> light(const char* type, const settings_t& s) {
        return std::unique_ptr<light_t>(::standardPlugins().createLight(type, params(s), context));
    }
    std::unique_ptr<texture_t> texture(const char* type, const settings_t& s) {
        return std::unique_ptr<texture_t>(::standardPlugins().createTexture(type, params(s), context));
    }
    std::unique_ptr<background_t> background(const char* type, const settings_t& s) {
        return std::unique_ptr<background_t>(::standardPlugins().createBackground(type, params(s), context));
    }
    // The unit vector `deg` degrees from +z towards +x.
    static vector3d_t at(double deg) {
        return vector3d_t(float(std::sin(deg * pi / 180)), 0, float(std::cos(deg * pi / 180)));
    }

    std::list<paramMap_t> kept;
    testContext_t context;
    renderState_t state;
    scene_t scene;
};

} // namespace

TEST_F(standardPlugins, LightsFallOffFadeAndCastHardShadows) {
    auto lambert = shader("generic", {{"color", color_t(0.5f, 0.6f, 0.7f)}});
    surfacePoint_t p = hit(origin, up, lambert.get());
    const double k = 4.0 / 2.0 * std::cos(pi / 4); // distance^2 = 2, incidence 45 degrees
    // Above, then below the surface: seen from above, from above, from below.
    const float heights[][2] = {{1, 3}, {-1, 3}, {-1, -3}}; // lamp z, eye z
    for (const auto& c : heights) {
        auto lamp = light(
            "point", {{"from", point3d_t(1, 0, c[0])}, {"power", 4}, {"color", color_t(1, 0.5f, 0.25f)}});
        const double f = c[0] * c[1] > 0 ? k : 0;
        expectColor(lamp->illuminate(state, scene, p, vector3d_t(0, 0, c[1])), 0.5 * f, 0.3 * f, 0.175 * f);
    }
    // The direction may have any length.
    auto sun =
        light("sun", {{"direction", point3d_t(0, 1, 1)}, {"power", 2}, {"color", color_t(1, 1, 0.5f)}});
    expectColor(sun->illuminate(state, scene, hit(point3d_t(5, 5, 0), up, lambert.get()), up),
                0.5 * 2 * std::cos(pi / 4), 0.6 * std::sqrt(2.0), 0.35 * std::sqrt(2.0));
    // A ball between the point and the lamp shadows both; one beyond the
    // lamp only the sun.
    auto matte = shader("generic", {{"color", white}});
    p = hit(origin, up, matte.get());
    auto above = light("point", {{"from", point3d_t(0, 0, 2)}});
    auto overhead = light("sun", {{"direction", point3d_t(0, 0, 3)}, {"power", 2}});
    for (float z : {1.0f, 3.0f}) {
        scene_t s;
        sphere_t ball(point3d_t(0, 0, z), 0.25f);
        s.addObject(&ball);
        support::captured([&] { s.objectTree = buildObjectTree(s.objects); });
        const double lit = z < 2 ? 0 : 0.25;
        expectColor(above->illuminate(state, s, p, up), lit, lit, lit);
        expectColor(overhead->illuminate(state, s, p, up), 0, 0, 0);
    }
    // The spot fades with a smooth step between cos 30 and cos 15 degrees.
    auto spot =
        light("spot", {{"from", origin}, {"to", point3d_t(0, 0, -4)}, {"angle", 30}, {"blend", 0.5f}});
    const double cosOuter = std::cos(30 * pi / 180), cosInner = std::cos(15 * pi / 180);
    for (double deg = 0; deg <= 40; deg += 1.25) {
        const double c = std::cos(deg * pi / 180), t = (c - cosOuter) / (cosInner - cosOuter);
        const double want = c <= cosOuter ? 0 : c >= cosInner ? 1 : t * t * (3 - 2 * t);
        const vector3d_t toLight(-at(deg).x, 0, at(deg).z);
        const surfacePoint_t s = hit(point3d_t(at(deg).x, 0, -at(deg).z), toLight, matte.get());
        EXPECT_NEAR(spot->illuminate(state, scene, s, toLight).R, want, 2e-5) << deg;
    }
    auto hard = light("spot", {{"angle", 20}, {"blend", 0}}); // down -z by default
    for (double deg : {19.5, 20.5}) {
        const vector3d_t n(-at(deg).x, 0, at(deg).z);
        const surfacePoint_t s = hit(point3d_t(-n.x, 0, -n.z), n, matte.get());
        EXPECT_NEAR(hard->illuminate(state, scene, s, n).R, deg < 20 ? 1 : 0, 1e-6) << deg;
    }
    const std::pair<const char*, double> fades[] = {{"none", 0}, {"linear", 1}, {"quadratic", 2}, {"", 2}};
    for (const char* type : {"point", "spot"})
        for (const auto& f : fades)
            for (float d : {0.5f, 2.0f, 3.0f}) { // head-on, on the spot's axis: power and fall-off remain
                settings_t set = {{"from", point3d_t(0, 0, d)}, {"to", origin}, {"power", 3}};
                if (*f.first) set.emplace_back("fade", f.first);
                const double want = 3.0 / std::pow(static_cast<double>(d), f.second);
                const color_t c =
                    light(type, set)->illuminate(state, scene, hit(origin, up, matte.get()), up);
                EXPECT_TRUE(std::fabs(c.R - want) <= want * 1e-6 && c.R == c.B)
                    << type << " " << f.first << d;
            }
    EXPECT_TRUE(context.warnings.empty());
}

TEST_F(standardPlugins, ShadowRaysOnlyWhereTheSurfaceSendsLightBack) {
    countingSphere_t ball(point3d_t(0, 0, 1), 0.25f);
    scene.addObject(&ball);
    scene.objectTree = buildObjectTree(scene.objects);
    auto matte = shader("generic", {{"color", white}}), dark = shader("generic", {{"color", black}});
    const vector3d_t down(0, 0, -1);
    const struct {
        const shader_t* sh;
        vector3d_t normal;
        const char* shadows;
        int rays;   // shadow rays cast
        bool black; // result
    } cases[] = {
        {matte.get(), up, "on", 1, true},   // lit side, behind the ball: shadowed
        {matte.get(), down, "on", 0, true}, // facing away from the light
        {dark.get(), up, "on", 0, true},    // a black surface sends nothing back
        {matte.get(), up, "off", 0, false}, // no shadows asked for
        {nullptr, up, "on", 0, true},       // no shader
    };
    for (const char* type : {"point", "spot", "sun"})
        for (const auto& c : cases) {
            auto lamp = light(type, {{"from", point3d_t(0, 0, 2)},
                                     {"to", origin},
                                     {"direction", point3d_t(0, 0, 1)},
                                     {"shadows", c.shadows}});
            ball.shadowRays = 0;
            const color_t got = lamp->illuminate(state, scene, hit(origin, c.normal, c.sh), c.normal);
            EXPECT_TRUE(ball.shadowRays == c.rays && got.isBlack() == c.black)
                << type << " normal z " << c.normal.z << " shadows " << c.shadows << ": " << ball.shadowRays;
        }
}

TEST_F(standardPlugins, GenericShaderHighlightsMirrorsAndGlass) {
    const settings_t shiny = {{"color", black}, {"specular_color", white}, {"hard", 10}};
    auto phong = shader("generic", shiny),
         blinn = shader("generic", with(shiny, {{"specular_model", "blinn"}}));
    surfacePoint_t p = hit(origin, up, phong.get());
    const energy_t fromAbove(up, white);
    // Phong: the mirrored eye 20 degrees off the light; Blinn: the half vector 10 off the normal.
    EXPECT_NEAR(phong->fromLight(state, p, fromAbove, at(20) * 3).R, std::pow(std::cos(20 * pi / 180), 10),
                1e-5);
    EXPECT_NEAR(blinn->fromLight(state, p, fromAbove, at(20)).R, std::pow(std::cos(10 * pi / 180), 10), 1e-5);
    auto sky = background("constant", {{"color", color_t(0.2f, 0.4f, 0.6f)}});
    scene.setBackground(sky.get());
    auto mirror = shader("generic", {{"color", black},
                                     {"mirror_color", color_t(0.5f, 1, 1)},
                                     {"emit_color", color_t(0.01f, 0.02f, 0.03f)}});
    p = hit(origin, up, mirror.get());
    expectColor(mirror->fromWorld(state, p, scene, vector3d_t(1, 0, 1)), 0.01 + 0.1, 0.02 + 0.4, 0.03 + 0.6);
    EXPECT_TRUE(state.rayLevel == 0 && mirror->getDiffuse(state, p, up).isBlack());
    lightfx::lambdaBackground_t twoTone(
        [](const vector3d_t& d) { return d.z > 0 ? color_t(1, 0.25f, 0) : color_t(0, 0.5f, 1); });
    scene.setBackground(&twoTone);
    // At normal incidence: the Fresnel weights of up and down.
    const float n = 2.0f;
    auto glass = shader("generic", {{"color", black},
                                    {"mirror_color", white},
                                    {"transmit_color", white},
                                    {"ior", n},
                                    {"fresnel", "on"}});
    p = hit(origin, up, glass.get());
    const double kr = std::pow((n - 1.0) / (n + 1.0), 2), kt = 1 - kr;
    expectColor(glass->fromWorld(state, p, scene, vector3d_t(0, 0, 2)), kr, kr * 0.25 + kt * 0.5, kt, 1e-5);
    color_t reflected, transmitted;
    float index = 0;
    glass->getCaustics(state, p, up, reflected, transmitted, index);
    EXPECT_EQ(index, n);
    // From inside: straight out refracts upwards; at 60 degrees it reflects totally.
    auto clear =
        shader("generic", {{"color", black}, {"transmit_color", color_t(0, 1, 0.5f)}, {"ior", 1.5f}});
    p = hit(origin, up, clear.get());
    expectColor(clear->fromWorld(state, p, scene, vector3d_t(0, 0, -1)), 0, 0.25, 0);
    expectColor(clear->fromWorld(state, p, scene, vector3d_t(at(60).x, 0, -at(60).z)), 0, 0.5, 0.5);
    auto flat = shader("constant", {{"color", color_t(0.3f, 0.2f, 0.1f)}}); // ignores lights
    expectColor(flat->fromWorld(state, p, scene, up), 0.3, 0.2, 0.1);
    expectColor(flat->fromLight(state, p, energy_t(up, color_t(5, 5, 5)), up), 0, 0, 0);
}

TEST_F(standardPlugins, TextureLayersColourBumpAndComplain) {
    // A shader with one texture layer in global coordinates.
    auto layered = [&](const char* tex, const settings_t& more) {
        return shader("generic", with({{"layer1_texture", tex}, {"layer1_coords", "global"}}, more));
    };
    auto board = texture("checker", {{"even_color", color_t(1, 0, 0)}, {"odd_color", color_t(0, 0, 1)}});
    auto grey = texture("checker", {{"even_color", black}}), plain = texture("checker", {});
    context.textures = {{"board", board.get()}, {"black", grey.get()}, {"plain", plain.get()}};
    auto half = layered("board", {{"diffuse", 0.5f}});
    const point3d_t centre(0.5f, 0.5f, 0.5f);
    const surfacePoint_t even = hit(centre, up, half.get()),
                         odd = hit(point3d_t(1.5f, 0.5f, 0.5f), up, half.get());
    expectColor(half->getDiffuse(state, even, up), 0.5, 0, 0);
    expectColor(half->getDiffuse(state, odd, up), 0, 0, 0.5);
    auto multiplied =
        layered("board", {{"color", white}, {"layer1_mode", "multiply"}, {"layer1_colfac", 0.5f}});
    // mix(tex, white, 0.5)
    expectColor(multiplied->getDiffuse(state, even, up), 1, 0.5, 0.5);
    // The hardness layer: intensity 1 stands for 255, at least 1.
    auto dull = layered(
        "black", {{"color", black}, {"specular_color", white}, {"layer1_colfac", 0}, {"layer1_hardfac", 1}});
    EXPECT_NEAR(dull->fromLight(state, hit(centre, up, dull.get()), energy_t(up, white), at(20)).R,
                std::cos(20 * pi / 180), 1e-5); // hard 0 clamped to 1
    // Bump: flat inside a cube; at the face x = 1 between white and black,
    // sampled 0.01 either side: du = 0.001 / 0.01, weight 0.9.
    auto bumpy = layered("plain", {{"layer1_colfac", 0}, {"layer1_bump", 0.001f}});
    surfacePoint_t inside = hit(centre, up, bumpy.get()),
                   edge = hit(point3d_t(1.0f, 0.5f, 0.5f), up, bumpy.get());
    bumpy->displace(state, inside, up, 0.01f);
    expectColor(color_t(inside.normal.x, inside.normal.y, inside.normal.z), 0, 0, 1);
    bumpy->displace(state, edge, up, 0.01f);
    const double len = std::sqrt(0.1 * 0.1 + 0.9 * 0.9);
    expectColor(color_t(edge.normal.x, edge.normal.y, edge.normal.z), 0.1 / len, 0, 0.9 / len, 1e-5);
    EXPECT_TRUE(context.warnings.empty());
    shader("generic", {{"layer1_texture", "nope"},
                       {"layer3_colfac", 1},
                       {"layer2_texture", "plain"},
                       {"layer2_repeat_x", 3e9f},
                       {"layer2_axes", "xyw"},
                       {"layer2_coords", "screen"}});
    EXPECT_EQ(
        context.warnings,
        (std::vector<std::string>{
            "texture layer 1: there is no texture named \"nope\"; layer ignored",
            "setting \"layer2_coords\" = \"screen\" is not one of \"uv\", \"global\", \"orco\", \"window\", "
            "\"normal\", \"reflection\"; using \"orco\"",
            "setting \"layer2_axes\" = \"xyw\" should be three letters from x, y, z and n; using \"xyz\"",
            "setting \"layer2_repeat_x\" = 3e+09 is out of range (at least 1); using 1",
            "texture layer 3 has settings but no \"layer3_texture\"; layer ignored"}));
}

TEST_F(standardPlugins, TexturesAndBackgroundsAtKnownPoints) {
    auto board = texture("checker", {{"size", 0.5f}});
    const struct {
        float x, y, z, r;
    } cells[] = {{0.25f, 0.25f, 0.25f, 1},   {0.75f, 0.25f, 0.25f, 0}, {-0.25f, 0.25f, 0.25f, 0},
                 {-0.25f, -0.25f, 0.25f, 1}, {0.5f, 0, 0, 0},          {1.0f, 0, 0, 1},
                 {-1e-7f, 0, 0, 0}}; // a face belongs to the cube above
    for (const auto& c : cells)
        EXPECT_EQ(board->colorAt(point3d_t(c.x, c.y, c.z)).R, c.r) << c.x << " " << c.y;
    EXPECT_NEAR(texture("checker", {{"even_color", color_t(1, 0, 0)}, {"odd_color", color_t(0, 0.5f, 1)}})
                    ->floatAt(point3d_t(1.5f, 0.5f, 0.5f)),
                0.5, 1e-7);
    auto clouds =
        texture("clouds", {{"depth", 3}, {"hard", "on"}, {"size", 2}, {"dark_color", color_t(0, 0, 0.5f)}});
    newPerlin_t perlin;
    for (int i = 0; i < 8; ++i) {
        const point3d_t p(0.37f * i - 2.1f, 0.11f * i + 0.3f, -0.23f * i + 1.7f);
        const float t = perlin.turbulence(point3d_t(p.x / 2, p.y / 2, p.z / 2), 3, true);
        EXPECT_EQ(clouds->floatAt(p), t);
        const color_t want = mix(white, color_t(0, 0, 0.5f), t);
        expectColor(clouds->colorAt(p), want.R, want.G, want.B);
    }
    // A 2 x 2 picture, top row first: red, green / blue, white.
    support::tempDir_t dir;
    const unsigned char tga[30] = {0, 0,  2,    0, 0, 0,   0, 0,   0, 0,   0, 0, 2,   0,   2,
                                   0, 24, 0x20, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
    dir.write("t.tga", std::string(reinterpret_cast<const char*>(tga), sizeof tga));
    context.baseDir = dir.path;
    auto image = texture("image", {{"filename", "t.tga"}});
    auto nearest = texture("image", {{"filename", "t.tga"}, {"interpolate", "off"}});
    ASSERT_TRUE(image && nearest);
    const struct {
        const texture_t* t;
        float x, y, r, g, b;
    } texels[] = {{image.get(), 0.25f, 0.25f, 1, 0, 0},
                  {image.get(), 0.75f, 0.25f, 0, 1, 0}, // texel centres
                  {image.get(), 0.25f, 0.75f, 0, 0, 1},
                  {image.get(), 0.5f, 0.5f, 0.5f, 0.5f, 0.5f},
                  {image.get(), 0.375f, 0.25f, 0.75f, 0.25f, 0},
                  {image.get(), 0.375f, 0.625f, 0.375f, 0.25f, 0.75f},
                  {image.get(), 3, -2, 0, 1, 0}, // edges extend the outer texels
                  {nearest.get(), 0.49f, 0.49f, 1, 0, 0},
                  {nearest.get(), 0.51f, 0.49f, 0, 1, 0},
                  {nearest.get(), 0.5f, 0.5f, 1, 1, 1}}; // a tie goes to the higher texel
    for (const auto& c : texels) expectColor(c.t->colorAt(point3d_t(c.x, c.y, 0)), c.r, c.g, c.b);
    const unsigned char tall[24] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 0, 24, 0x20}; // 1 x 2
    dir.write("tall.tga", std::string(reinterpret_cast<const char*>(tall), sizeof tall));
    auto column = texture("image", {{"filename", "tall.tga"}});
    EXPECT_TRUE(image->isDiscrete() && column && column->toTexelU(0.5f) == 0.5f &&
                column->toTexelV(0.25f) == 0.5f);
    EXPECT_TRUE(context.warnings.empty());
    context.baseDir = "/nonexistent";
    EXPECT_TRUE(!texture("image", {}) && !texture("image", {{"filename", "nofile.tga"}}));
    EXPECT_EQ(
        context.warnings,
        (std::vector<std::string>{
            "setting \"filename\" is missing: an image texture needs a picture (PNG, JPEG, TGA, HDR or EXR)",
            "cannot read the image \"/nonexistent/nofile.tga\": No such file or directory"}));
    const settings_t gradient = {{"horizon_color", color_t(0.9f, 0.8f, 0.7f)},
                                 {"zenith_color", color_t(0.1f, 0.2f, 0.3f)}};
    auto sky = background("gradient", gradient);
    auto ySky =
        background("gradient",
                   with(gradient, {{"ground_color", color_t(0.3f, 0.3f, 0.3f)}, {"up", point3d_t(0, 2, 0)}}));
    expectColor(sky->lookup(vector3d_t(1, 0, 0), state), 0.9, 0.8, 0.7);
    expectColor(sky->lookup(vector3d_t(0, 0, 7), state), 0.1, 0.2, 0.3);
    // Elevation sine 0.5: half way; below: the horizon colour.
    expectColor(sky->lookup(vector3d_t(at(60).x, 0, at(60).z), state), 0.5, 0.5, 0.5);
    expectColor(sky->lookup(vector3d_t(0, 0, -1), state), 0.9, 0.8, 0.7);
    expectColor(ySky->lookup(vector3d_t(0, 1, 0), state), 0.1, 0.2, 0.3);
    expectColor(ySky->lookup(vector3d_t(0, -1, 0.5f), state), 0.3, 0.3, 0.3);
}

TEST_F(standardPlugins, BadSettingsAreReportedAndReplacedByTheirDefaults) {
    auto board = texture("checker", {{"size", -1}});
    EXPECT_TRUE(board->colorAt(point3d_t(0.5f, 0.5f, 0.5f)).R == 1 &&
                board->colorAt(point3d_t(1.5f, 0.5f, 0.5f)).R == 0); // size 1
    expectColor(background("constant", {{"color", 0.5f}})->lookup(vector3d_t(0, 0, 1), state), 0, 0, 0);
    EXPECT_TRUE(light("point", {{"shadows", "yes"}, {"color", color_t(-1, 0, 0)}, {"from", "up there"}}));
    EXPECT_TRUE(texture("clouds", {{"depth", 2.5f}}) && texture("clouds", {{"depth", 40}}));
    EXPECT_TRUE(shader("generic", {{"specular_model", "cook"}}));
    EXPECT_TRUE(background("gradient", {{"up", point3d_t(0, 0, 0)}}));
    EXPECT_TRUE(light("spot", {{"from", point3d_t(1, 2, 3)}, {"to", point3d_t(1, 2, 3)}}));
    EXPECT_TRUE(light("spot", {{"angle", 0}}) && light("spot", {{"angle", 90}})); // (0, 90]
    const std::vector<std::string> expected = {
        "setting \"size\" = -1 is out of range (greater than 0); using 1",
        "setting \"color\" should be a colour, not a number",
        "setting \"from\" should be a point (three numbers), not a string",
        "setting \"color\" = -1 0 0 has a negative or non-finite channel; using 1 1 1",
        "setting \"shadows\" = \"yes\" should be \"on\" or \"off\"; using on",
        "setting \"depth\" = 2.5 is not a whole number; using 2",
        "setting \"depth\" = 40 is out of range (0 to 16); using 2",
        "setting \"specular_model\" = \"cook\" is not one of \"phong\", \"blinn\"; using \"phong\"",
        "setting \"up\" = 0 0 0 is not a usable direction; using 0 0 1",
        "setting \"to\" equals \"from\", so the spot has no direction; pointing it along -z",
        "setting \"angle\" = 0 is out of range (greater than 0, at most 90); using 45",
    };
    EXPECT_EQ(context.warnings, expected);
}
