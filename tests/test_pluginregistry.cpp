// The plug-in manager over modules with deliberate faults: every loading
// failure with its message, the first registration winning, objects made by
// type name, the type listing.
#include <memory>
#include <sstream>

#include "plugintestcontext.h"
#include "test_support.h"
#include "vexlarcore/background.h"
#include "vexlarcore/light.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/params.h"
#include "vexlarcore/pluginregistry.h"
#include "vexlarcore/renderstate.h"
#include "vexlarcore/shader.h"
#include "vexlarcore/texture.h"

using namespace vexlar;
using support::tempDir_t;

namespace {

const std::string fixtureDir = VEXLAR_FIXTURE_DIR;

std::string fixture(const std::string& name) {
    return fixtureDir + "/" + name + ".so";
}

// Every fixture module loaded once, in name order.
class pluginManager : public ::testing::Test {
protected:
    void SetUp() override { loaded = manager.loadDirectory(fixtureDir); }

    std::ostringstream log;
    pluginManager_t manager{log};
    int loaded = 0;
};

} // namespace

TEST_F(pluginManager, ReportsEveryFaultyModuleAndKeepsTheFirstRegistration) {
    const std::vector<std::string> expected = {
        fixture("fx2_duplicate") + ": shader type \"fx_shader\" is already registered by " +
            fixture("fx1_good") + "; ignored",
        fixture("fx2_duplicate") + ": texture type \"fx_twice\" is already registered by " +
            fixture("fx2_duplicate") + "; ignored",
        fixture("fx3_throws") + ": registration failed: out of paint",
        fixture("fx4_badversion") + ": plug-in interface version 99, this program needs 1",
        fixture("fx5_noentry") + ": not a plug-in module (no vexlarPluginEntry)",
        fixture("fx6_nullinfo") + ": vexlarPluginEntry returned no module information",
        fixture("fx7_noregister") + ": registration failed: the module has no registration function",
        fixture("fx8_badnames") + ": shader type with an empty name or no factory; ignored",
        fixture("fx8_badnames") + ": light type with an empty name or no factory; ignored",
    };
    EXPECT_EQ(manager.errors(), expected);
    std::string joined;
    for (const std::string& line : expected) joined += line + "\n";
    EXPECT_EQ(log.str(), joined);
    EXPECT_TRUE(loaded == 2 && manager.moduleCount() == 2u); // the good one and a partly accepted one
    EXPECT_EQ(manager.typeNames(pluginKind_t::shader), "fx_null, fx_shader, fx_throws");
    EXPECT_EQ(manager.typeNames(pluginKind_t::texture), "fx_texture, fx_twice");
    EXPECT_EQ(manager.typeNames(pluginKind_t::background), "fx_background, fx_dup_ok");
    const pluginTypeInfo_t* shader = manager.find(pluginKind_t::shader, "fx_shader");
    ASSERT_NE(shader, nullptr);
    EXPECT_TRUE(shader->modulePath == fixture("fx1_good") && shader->moduleName == "fixture");
    EXPECT_EQ(manager.find(pluginKind_t::texture, "fx_twice")->description, "first");
    // Registered before the module threw, by another version, without a
    // factory, or under another kind: absent.
    EXPECT_FALSE(manager.has(pluginKind_t::shader, "fx_partial") ||
                 manager.has(pluginKind_t::shader, "fx_badversion") ||
                 manager.has(pluginKind_t::light, "fx_nofactory") ||
                 manager.has(pluginKind_t::light, "fx_shader"));
    // Direct registrations follow the same rules.
    auto none = [](paramMap_t&, pluginContext_t&) -> background_t* { return nullptr; };
    manager.registerShader("fx_shader", nullptr, {}, "");
    manager.registerBackground("builtin_bg", none, {}, "host's own");
    manager.registerBackground("builtin_bg", none, {}, "again");
    EXPECT_EQ(std::vector<std::string>(manager.errors().end() - 2, manager.errors().end()),
              (std::vector<std::string>{
                  "built in: shader type with an empty name or no factory; ignored",
                  "built in: background type \"builtin_bg\" is already registered by built in; ignored"}));
    EXPECT_EQ(manager.find(pluginKind_t::background, "builtin_bg")->description, "host's own");
}

TEST_F(pluginManager, CreatesObjectsFromTheWinningModule) {
    testContext_t context;
    renderState_t state;
    surfacePoint_t sp;
    paramMap_t params;
    const vector3d_t up(0, 0, 1);
    auto grey = [&] {
        std::unique_ptr<shader_t> shader(manager.createShader("fx_shader", params, context));
        return shader ? shader->getDiffuse(state, sp, up).G : -1.0f;
    };
    EXPECT_EQ(grey(), 1.0f); // the good module's
    params["value"] = parameter_t(0.5f);
    EXPECT_EQ(grey(), 0.5f);
    EXPECT_TRUE(std::unique_ptr<light_t>(manager.createLight("fx_light", params, context))->useDirect);
    std::unique_ptr<texture_t> texture(manager.createTexture("fx_texture", params, context));
    EXPECT_EQ(texture->floatAt(point3d_t(0.25f, 0, 0)), 0.25f);
    paramMap_t bg;
    bg["color"] = parameter_t(0.1f, 0.2f, 0.3f, 1.0f);
    std::unique_ptr<background_t> background(manager.createBackground("fx_background", bg, context));
    EXPECT_EQ(background->lookup(up, state).B, 0.3f);
    EXPECT_TRUE(manager.createShader("nonesuch", params, context) == nullptr &&
                manager.createLight("fx_shader", params, context) == nullptr &&
                manager.createBackground("fx_light", params, context) == nullptr);
    EXPECT_TRUE(context.warnings.empty()); // the host reports unknown types itself
    EXPECT_TRUE(manager.createShader("fx_null", params, context) == nullptr &&
                manager.createShader("fx_throws", params, context) == nullptr);
    EXPECT_EQ(context.warnings,
              (std::vector<std::string>{"no can do", "internal error in the plug-in: boom"}));
    std::ostringstream out;
    manager.describe(out);
    EXPECT_TRUE(support::contains(out.str(), "Backgrounds:\n"
                                             "  fx_background (fixture): test background\n"
                                             "      name   kind    default     meaning\n"
                                             "      color  color   0 0 0       the colour\n"
                                             "      file   string  (required)  needed\n"
                                             "  fx_dup_ok (fixture): fine\n      (no parameters)\n"))
        << out.str();
    EXPECT_EQ(out.str().find("Shaders:\n  fx_null (fixture)"), 0u);
}

TEST(pluginManagerFailures, MissingDirectoriesFilesAndRepeatedModules) {
    std::ostringstream log;
    pluginManager_t manager(log);
    std::ostringstream empty;
    manager.describe(empty);
    EXPECT_EQ(empty.str(),
              "Shaders:\n  (none)\nLights:\n  (none)\nTextures:\n  (none)\nBackgrounds:\n  (none)\n");
    EXPECT_EQ(manager.loadDirectory("/nonexistent/vexlar/plugins"), 0);
    EXPECT_EQ(log.str(), "/nonexistent/vexlar/plugins: not a readable plug-in directory\n");
    tempDir_t dir;
    const std::string garbage = dir.write("garbage.so", "this is not a shared library\n");
    dir.write("notes.txt", "plug-in notes\n");
    dir.write("so", "a file named like the suffix\n");
    std::string err;
    support::captured([&] { EXPECT_EQ(manager.loadDirectory(dir.path), 0); }, &err);
    EXPECT_EQ(err, "") << "the loader's line belongs in the report";
    const std::string line = manager.errors().back(), prefix = garbage + ": cannot be loaded: ";
    EXPECT_TRUE(line.rfind(prefix, 0) == 0 && line.size() > prefix.size() &&
                line.find('\n') == std::string::npos)
        << line;
    EXPECT_EQ(manager.errors().size(), 2u); // the other files are skipped
    EXPECT_TRUE(manager.loadModule(fixture("fx1_good")));
    EXPECT_FALSE(manager.loadModule(fixture("fx1_good"))); // nothing registered the second time
    EXPECT_EQ(manager.moduleCount(), 1u);
    EXPECT_EQ(manager.errors().size(), 2u + 6u); // one duplicate line per type
    for (const char* key : {"color", "colour", "specular_color", "horizonColour", "ZENITH_COLOR"})
        EXPECT_TRUE(isColorKey(key)) << key;
    for (const char* key : {"colors", "color1", "colo", "", "from"}) EXPECT_FALSE(isColorKey(key)) << key;
}
