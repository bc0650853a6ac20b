// The settings of every standard plug-in type, checked from the rows that
// `--list-plugins` prints: a setting given its listed default changes
// nothing an object does, another value does change it, and every error path
// a row declares (kind, range, choices, direction, colour) gives a warning
// naming the setting, while the boundaries of its range are accepted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "light_fixtures.h"
#include "vexlarcore/output.h"

using namespace vexlar;

namespace {

const std::string imagePath = "/tmp/vexlar_pluginparams_" + std::to_string(getpid()) + ".tga";

// Sends back the arriving energy weighted by its direction.
class probeShader_t : public shaderNode_t {
public:
    color_t fromLight(renderState_t&, const surfacePoint_t&, const energy_t& e,
                      const vector3d_t&) const override {
        return color_t(e.color.R * (2 + e.dir.x), e.color.G * (2 + e.dir.y), e.color.B * (2 + e.dir.z));
    }
    color_t fromRadiosity(renderState_t& state, const surfacePoint_t& sp, const energy_t& e,
                          const vector3d_t& eye) const override {
        return fromLight(state, sp, e, eye);
    }
};

// Settings this probe cannot see, each covered by its own type's tests: the
// photon lights need specular and diffuse surfaces and lights to shoot from,
// a visible emitter needs camera rays through a whole scene.
bool seenElsewhere(const char* type, const std::string& key) {
    const std::string t = type;
    return t == "caustic" || t == "photongi" || (t == "area" && key == "visible");
}

// What makes a type do everything its settings can change.
struct fixture_t {
    pluginKind_t kind;
    const char* type;
    std::vector<std::pair<std::string, parameter_t>> base;
};

const std::vector<fixture_t>& fixtures() {
    static const std::vector<fixture_t> all = [] {
        const parameter_t picture(std::string("picture")), file(imagePath);
        std::vector<fixture_t> v = {{pluginKind_t::shader,
                                     "generic",
                                     {{"specular_color", parameter_t(0.5f, 0.5f, 0.5f, 1)},
                                      {"mirror_color", parameter_t(0.3f, 0.3f, 0.3f, 1)},
                                      {"transmit_color", parameter_t(0.2f, 0.2f, 0.2f, 1)},
                                      {"layer1_texture", picture},
                                      {"layer1_colfac", parameter_t(0.5f)}}},
                                    {pluginKind_t::shader, "constant", {}},
                                    {pluginKind_t::shader,
                                     "pbr",
                                     {{"layer1_texture", picture}, {"layer1_amount", parameter_t(0.5f)}}},
                                    {pluginKind_t::light,
                                     "area",
                                     {{"corner", parameter_t(point3d_t(-0.5f, -0.5f, -0.5f))},
                                      {"edge_u", parameter_t(point3d_t(0.2f, 1, 0))},
                                      {"edge_v", parameter_t(point3d_t(1, 0.3f, 0))}}},
                                    {pluginKind_t::texture, "image", {{"filename", file}}},
                                    {pluginKind_t::background, "image", {{"filename", file}}}};
        for (const char* t : {"sky", "caustic", "photongi", "point", "spot", "sun"})
            v.push_back({pluginKind_t::light, t, {}});
        for (const char* t : {"checker", "clouds", "marble", "wood"})
            v.push_back({pluginKind_t::texture, t, {}});
        for (const char* t : {"constant", "gradient"}) v.push_back({pluginKind_t::background, t, {}});
        return v;
    }();
    return all;
}

// The declared constraint: the text in parentheses that ends the meaning.
struct constraint_t {
    std::vector<std::string> choices;
    bool ranged = false, loOpen = false, hiOpen = false;
    float lo = -INFINITY, hi = INFINITY;
};

constraint_t constraintOf(const pluginParam_t& row) {
    constraint_t c;
    std::size_t open = row.meaning.rfind(" (");
    if (open == std::string::npos || row.meaning.back() != ')') return c;
    const std::string t = row.meaning.substr(open + 2, row.meaning.size() - open - 3);
    for (std::size_t q = t.find('"'), e;
         q != std::string::npos && (e = t.find('"', q + 1)) != std::string::npos; q = t.find('"', e + 1))
        c.choices.push_back(t.substr(q + 1, e - q - 1));
    float a, b;
    char sep[2];
    if (std::sscanf(t.c_str(), "at least %f", &a) == 1)
        c = {{}, true, false, false, a, INFINITY};
    else if (std::sscanf(t.c_str(), "greater than %f, at most %f", &a, &b) == 2)
        c = {{}, true, true, false, a, b};
    else if (std::sscanf(t.c_str(), "greater than %f", &a) == 1)
        c = {{}, true, true, false, a, INFINITY};
    else if (std::sscanf(t.c_str(), "%f to %f%1s", &a, &b, sep) == 2)
        c = {{}, true, false, false, a, b};
    return c;
}

std::string keyOf(const pluginParam_t& row) {
    return row.name.rfind("layerN_", 0) == 0 ? "layer1_" + row.name.substr(7) : row.name;
}

class pluginParameters : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (standardPluginDir().empty()) return;
        // 4 x 4 texels, every one different.
        outTga_t tga(4, 4, imagePath.c_str(), false);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) tga.putPixel(x, y, color_t(x / 3.0f, y / 3.0f, (x + y) % 2), 1, 0);
        ASSERT_TRUE(tga.flush());
    }
    static void TearDownTestSuite() { unlink(imagePath.c_str()); }

    void SetUp() override {
        SKIP_WITHOUT_PLUGINS();
        paramMap_t imageParams = lightfx::paramsOf({{"filename", imagePath.c_str()}});
        picture.reset(standardPlugins().createTexture("image", imageParams, context));
        ASSERT_TRUE(picture);
        context.textures["picture"] = picture.get();
        scene.setBackground(&sky);
        scene.addObject(&occluder);
        scene.objectTree = buildObjectTree(scene.objects);
    }

    // The listed default as a parameter: a number, "on"/"off", text, three
    // numbers, or the name of an earlier setting, optionally "- (x y z)".
    static parameter_t listedDefault(const std::vector<pluginParam_t>& rows, paramMap_t& map,
                                     const pluginParam_t& r) {
        std::istringstream in(r.defaultValue);
        float x, y, z;
        if (r.kind == "float" || r.kind == "int") return parameter_t(std::stof(r.defaultValue));
        if (r.kind == "bool" || r.kind == "string") return parameter_t(r.defaultValue);
        if (in >> x >> y >> z)
            return r.kind == "color" ? parameter_t(x, y, z, 1) : parameter_t(point3d_t(x, y, z));
        std::istringstream words(r.defaultValue);
        std::string other, minus, tail;
        words >> other >> minus;
        std::getline(words, tail);
        parameter_t p = map.includes(other, parameter_t::POINT) || map.includes(other, parameter_t::COLOR)
                            ? map[other]
                            : listedDefault(rows, map, *std::find_if(rows.begin(), rows.end(), [&](auto& o) {
                                                return o.name == other;
                                            }));
        if (minus == "-" && std::sscanf(tail.c_str(), " (%f %f %f)", &x, &y, &z) == 3)
            p.point = p.point - vector3d_t(x, y, z);
        return p;
    }

    // Another valid value: nudged numbers, the other switch position, the
    // last other choice, other texture axes.
    static parameter_t otherValue(const pluginParam_t& r, const parameter_t& def) {
        constraint_t c = constraintOf(r);
        if (r.kind == "float") {
            float v = def.number == 0 ? 0.25f : def.number - 0.25f;
            bool inside = !c.ranged || (c.loOpen ? v > c.lo : v >= c.lo);
            return parameter_t(inside ? v : def.number + 0.25f);
        }
        if (r.kind == "int") return parameter_t(def.number + 1);
        if (r.kind == "bool") return parameter_t(std::string(def.text == "on" ? "off" : "on"));
        if (r.kind == "point") return parameter_t(def.point + vector3d_t(0.5f, 0.25f, 0.125f));
        if (r.kind == "color")
            return parameter_t(def.colour.R * 0.5f + 0.25f, def.colour.G * 0.5f + 0.25f,
                               def.colour.B * 0.5f + 0.25f, 1);
        for (auto it = c.choices.rbegin(); it != c.choices.rend(); ++it)
            if (*it != def.text) return parameter_t(*it);
        return parameter_t(std::string("yzx")); // texture axes
    }

    // Everything the object built from `map` does at a fixed set of places,
    // as bits; empty when no object was built. `map` is read as a factory
    // reads it.
    std::vector<std::uint32_t> probe(const fixture_t& f, paramMap_t& map) {
        state.traceCount = 0; // each probe is a camera sample of its own
        pluginManager_t& pm = standardPlugins();
        const pluginKind_t k = f.kind;
        std::unique_ptr<shader_t> sh(k == pluginKind_t::shader ? pm.createShader(f.type, map, context) : 0);
        std::unique_ptr<light_t> li(k == pluginKind_t::light ? pm.createLight(f.type, map, context) : 0);
        std::unique_ptr<texture_t> tx(k == pluginKind_t::texture ? pm.createTexture(f.type, map, context)
                                                                 : 0);
        std::unique_ptr<background_t> bg(
            k == pluginKind_t::background ? pm.createBackground(f.type, map, context) : 0);
        std::vector<float> out;
        auto put = [&](const color_t& c) { out.insert(out.end(), {c.R, c.G, c.B}); };
        if (li) li->setup(scene);
        for (float x = -2.1f; x < 2.2f; x += 0.7f)
            for (float y = -1.3f; y < 1.4f; y += 0.65f)
                for (float z : {-2.0f, -1.5f, 0.6f}) {
                    const point3d_t p(x, y, z);
                    vector3d_t n(y, z, 1.0f), eye(x, 1.0f, z + 2.0f);
                    n.normalize();
                    surfacePoint_t sp(nullptr, p, point3d_t(x * 0.6f, y * 0.6f, z), n, n, 0.5f, 0.25f,
                                      color_t(0, 0, 0), 1.0f, sh ? sh.get() : &probeLight, false, false,
                                      false);
                    if (sh) {
                        vector3d_t l(z, x, 1.0f);
                        l.normalize();
                        state.rayLevel = 0;
                        sh->displace(state, sp, eye, 0.25f);
                        out.insert(out.end(), {sp.normal.x, sp.normal.y, sp.normal.z});
                        put(sh->fromLight(state, sp, energy_t(l, color_t(1, 0.8f, 0.6f)), eye));
                        put(sh->fromWorld(state, sp, scene, eye));
                        put(sh->getDiffuse(state, sp, eye));
                    }
                    if (li) put(li->illuminate(state, scene, sp, eye));
                    if (tx) {
                        put(tx->colorAt(p));
                        out.push_back(tx->floatAt(p));
                    }
                    if (bg) put(bg->lookup(vector3d_t(x, y, z), state));
                }
        std::vector<std::uint32_t> bits(out.size());
        if (!out.empty()) std::memcpy(bits.data(), out.data(), out.size() * sizeof(float));
        return bits;
    }

    paramMap_t baseWithout(const fixture_t& f, const std::string& key) {
        paramMap_t map;
        for (const auto& e : f.base)
            if (e.first != key) map[e.first] = e.second;
        return map;
    }

    // Builds with `key` = `value` and returns the warnings; the setting must
    // count as read afterwards, so that the host does not report it twice.
    std::vector<std::string> warningsFor(const fixture_t& f, const std::string& key,
                                         const parameter_t& value) {
        context.warnings.clear();
        paramMap_t map = baseWithout(f, key);
        map[key] = value;
        probe(f, map);
        EXPECT_TRUE(map.entries().at(key).used) << f.type << " " << key;
        std::vector<std::string> w;
        w.swap(context.warnings);
        return w;
    }

    testContext_t context;
    renderState_t state;
    scene_t scene;
    // A colour for every direction, so that any change of a traced ray shows.
    lightfx::lambdaBackground_t sky{
        [](const vector3d_t& d) { return color_t(1.5f + d.x, 1.5f + d.y, 1.5f + d.z); }};
    probeShader_t probeLight;
    sphere_t occluder{point3d_t(0, 0, -1.0f), 0.3f};
    std::unique_ptr<texture_t> picture;
};

} // namespace

TEST_F(pluginParameters, ListedDefaultsAreWhatFactoriesUseEverySettingMattersAndBadValuesWarn) {
    EXPECT_TRUE(standardPlugins().errors().empty());
    EXPECT_EQ(standardPlugins().moduleCount(), fixtures().size()) << "a standard type without a fixture";
    const std::vector<std::string> kinds = {"float", "int", "bool", "string", "point", "color"};
    for (const fixture_t& f : fixtures()) {
        const pluginTypeInfo_t* info = standardPlugins().find(f.kind, f.type);
        ASSERT_TRUE(info && !info->params.empty() && !info->description.empty()) << f.type;
        for (const pluginParam_t& r : info->params) {
            EXPECT_TRUE(std::count(kinds.begin(), kinds.end(), r.kind) == 1 &&
                        (r.kind == "color") == isColorKey(r.name) && !r.meaning.empty())
                << f.type << " " << r.name;
            // Every declared error path warns; the ends of a range are accepted.
            const std::string key = keyOf(r), prefix = "setting \"" + key + "\"";
            const bool number = r.kind == "float" || r.kind == "int";
            std::vector<std::string> w =
                warningsFor(f, key, number ? parameter_t(std::string("x")) : parameter_t(1.0f));
            ASSERT_FALSE(w.empty()) << f.type << " " << key << " of the wrong kind";
            EXPECT_EQ(w[0].rfind(prefix + " should be ", 0), 0u) << w[0];

            constraint_t c = constraintOf(r);
            std::vector<parameter_t> bad, good;
            if (number) bad.push_back(parameter_t(NAN));
            if (r.kind == "int") bad.push_back(parameter_t(2.5f));
            if (c.ranged) {
                (c.loOpen ? bad : good).push_back(parameter_t(c.lo));
                bad.push_back(parameter_t(c.lo - 1));
                if (std::isfinite(c.hi)) (c.hiOpen ? bad : good).push_back(parameter_t(c.hi));
                if (std::isfinite(c.hi)) bad.push_back(parameter_t(c.hi + 1));
            }
            if (r.kind == "bool") bad.push_back(parameter_t(std::string("yes")));
            if (r.kind == "string" && r.defaultValue != "")
                bad.push_back(parameter_t(std::string("nonsense")));
            if (r.kind == "point") bad.push_back(parameter_t(point3d_t(INFINITY, 0, 0)));
            if (r.meaning.find("any length but zero") != std::string::npos)
                bad.push_back(parameter_t(point3d_t(0, 0, 0)));
            if (r.kind == "color") bad.push_back(parameter_t(-1, 0, 0, 1));
            for (const parameter_t& v : bad) {
                w = warningsFor(f, key, v);
                ASSERT_EQ(w.size(), 1u) << f.type << " " << key << " kind " << v.kind << " " << v.number;
                EXPECT_EQ(w[0].rfind(prefix + " = ", 0), 0u) << w[0];
            }
            for (const parameter_t& v : good)
                EXPECT_TRUE(warningsFor(f, key, v).empty()) << f.type << " " << key << " = " << v.number;

            // The listed default changes nothing; another value changes something.
            if (r.defaultValue.empty()) continue; // required: no default to compare
            paramMap_t without = baseWithout(f, key), with = without;
            with[key] = listedDefault(info->params, without, r);
            paramMap_t other = without;
            other[key] = otherValue(r, with[key]);
            const auto absent = probe(f, without);
            ASSERT_FALSE(absent.empty()) << f.type << " " << key;
            EXPECT_EQ(absent, probe(f, with))
                << f.type << " " << key << ": listed default " << r.defaultValue;
            if (!seenElsewhere(f.type, key)) {
                EXPECT_NE(absent, probe(f, other)) << f.type << " " << key << " changes nothing";
            }
            EXPECT_TRUE(context.warnings.empty()) << f.type << " " << key << ": " << context.warnings.front();
        }
    }
}
