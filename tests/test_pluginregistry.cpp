// The plug-in manager: loading modules, every loading failure with its
// message, creating objects by type name, listing the types.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

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
class fixtureDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override { loaded = manager.loadDirectory(fixtureDir); }

    std::ostringstream log;
    pluginManager_t manager{log};
    int loaded = 0;
};

} // namespace

TEST(pluginInterface, colourKeysFollowTheNamingRule) {
    for (const char* key : {"color", "colour", "specular_color", "horizonColour", "ZENITH_COLOR"})
        EXPECT_TRUE(isColorKey(key)) << key;
    for (const char* key : {"colors", "color1", "colo", "", "from"}) EXPECT_FALSE(isColorKey(key)) << key;
}

TEST(pluginInterface, kindNames) {
    EXPECT_EQ(std::string(pluginKindName(pluginKind_t::shader)) + pluginKindName(pluginKind_t::light) +
                  pluginKindName(pluginKind_t::texture) + pluginKindName(pluginKind_t::background),
              "shaderlighttexturebackground");
}

TEST_F(fixtureDirectoryTest, reportsEveryFaultyModuleOnItsOwnLineAndKeepsTheGoodOnes) {
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

    // Only the good module and the one with a partly accepted registration stay.
    EXPECT_EQ(loaded, 2);
    EXPECT_EQ(manager.moduleCount(), 2u);
}

TEST_F(fixtureDirectoryTest, keepsTheFirstRegistrationAndDropsFailedModulesEntirely) {
    EXPECT_EQ(manager.typeNames(pluginKind_t::shader), "fx_null, fx_shader, fx_throws");
    EXPECT_EQ(manager.typeNames(pluginKind_t::light), "fx_light");
    EXPECT_EQ(manager.typeNames(pluginKind_t::texture), "fx_texture, fx_twice");
    EXPECT_EQ(manager.typeNames(pluginKind_t::background), "fx_background, fx_dup_ok");

    const pluginTypeInfo_t* shader = manager.find(pluginKind_t::shader, "fx_shader");
    ASSERT_NE(shader, nullptr);
    EXPECT_EQ(shader->modulePath, fixture("fx1_good"));
    EXPECT_EQ(shader->moduleName, "fixture");
    EXPECT_EQ(shader->description, "test shader");
    const pluginTypeInfo_t* twice = manager.find(pluginKind_t::texture, "fx_twice");
    ASSERT_NE(twice, nullptr);
    EXPECT_EQ(twice->description, "first");

    // Registered before the module threw, or by a module of another version.
    EXPECT_FALSE(manager.has(pluginKind_t::shader, "fx_partial"));
    EXPECT_FALSE(manager.has(pluginKind_t::shader, "fx_badversion"));
    EXPECT_FALSE(manager.has(pluginKind_t::light, "fx_nofactory"));
    // Kinds are separate name spaces.
    EXPECT_FALSE(manager.has(pluginKind_t::light, "fx_shader"));
}

TEST_F(fixtureDirectoryTest, createsWorkingObjectsFromTheWinningModule) {
    testContext_t context;
    renderState_t state;
    surfacePoint_t sp;
    paramMap_t params;

    std::unique_ptr<shader_t> shader(manager.createShader("fx_shader", params, context));
    ASSERT_NE(shader, nullptr);
    // The good module (FIXTURE_KIND 1) registered fx_shader first.
    EXPECT_EQ(shader->getDiffuse(state, sp, vector3d_t(0, 0, 1)).R, 1.0f);

    params["value"] = parameter_t(0.5f);
    std::unique_ptr<shader_t> grey(manager.createShader("fx_shader", params, context));
    EXPECT_EQ(grey->getDiffuse(state, sp, vector3d_t(0, 0, 1)).G, 0.5f);

    std::unique_ptr<light_t> light(manager.createLight("fx_light", params, context));
    ASSERT_NE(light, nullptr);
    EXPECT_TRUE(light->useDirect);

    std::unique_ptr<texture_t> texture(manager.createTexture("fx_texture", params, context));
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->floatAt(point3d_t(0.25f, 0, 0)), 0.25f);

    paramMap_t bgParams;
    bgParams["color"] = parameter_t(0.1f, 0.2f, 0.3f, 1.0f);
    std::unique_ptr<background_t> background(manager.createBackground("fx_background", bgParams, context));
    ASSERT_NE(background, nullptr);
    EXPECT_EQ(background->lookup(vector3d_t(0, 0, 1), state).B, 0.3f);
    EXPECT_TRUE(context.warnings.empty());
}

TEST_F(fixtureDirectoryTest, unknownTypesAndFailingFactoriesGiveNull) {
    testContext_t context;
    paramMap_t params;
    EXPECT_EQ(manager.createShader("nonesuch", params, context), nullptr);
    EXPECT_EQ(manager.createLight("fx_shader", params, context), nullptr);
    EXPECT_EQ(manager.createTexture("", params, context), nullptr);
    EXPECT_EQ(manager.createBackground("fx_light", params, context), nullptr);
    EXPECT_TRUE(context.warnings.empty()); // the host reports unknown types itself

    EXPECT_EQ(manager.createShader("fx_null", params, context), nullptr);
    EXPECT_EQ(manager.createShader("fx_throws", params, context), nullptr);
    const std::vector<std::string> expected = {"no can do", "internal error in the plug-in: boom"};
    EXPECT_EQ(context.warnings, expected);
}

TEST_F(fixtureDirectoryTest, directRegistrationsFollowTheSameRules) {
    manager.registerShader("fx_shader", nullptr, {}, "");
    manager.registerBackground(
        "builtin_bg", [](paramMap_t&, pluginContext_t&) -> background_t* { return nullptr; }, {},
        "host's own");
    manager.registerBackground(
        "builtin_bg", [](paramMap_t&, pluginContext_t&) -> background_t* { return nullptr; }, {}, "again");
    ASSERT_GE(manager.errors().size(), 2u);
    const std::vector<std::string> tail(manager.errors().end() - 2, manager.errors().end());
    const std::vector<std::string> expected = {
        "built in: shader type with an empty name or no factory; ignored",
        "built in: background type \"builtin_bg\" is already registered by built in; ignored"};
    EXPECT_EQ(tail, expected);
    const pluginTypeInfo_t* bg = manager.find(pluginKind_t::background, "builtin_bg");
    ASSERT_NE(bg, nullptr);
    EXPECT_EQ(bg->description, "host's own");
    EXPECT_EQ(bg->moduleName, "built in");
}

TEST_F(fixtureDirectoryTest, describeListsEveryTypeWithItsParameterTable) {
    std::ostringstream out;
    manager.describe(out);
    const std::string text = out.str();
    const std::string background = "Backgrounds:\n"
                                   "  fx_background (fixture): test background\n"
                                   "      name   kind    default     meaning\n"
                                   "      color  color   0 0 0       the colour\n"
                                   "      file   string  (required)  needed\n"
                                   "  fx_dup_ok (fixture): fine\n"
                                   "      (no parameters)\n";
    EXPECT_NE(text.find(background), std::string::npos) << text;
    // Kinds in a fixed order, each present.
    EXPECT_EQ(text.find("Shaders:\n"), 0u);
    EXPECT_LT(text.find("Shaders:\n"), text.find("Lights:\n"));
    EXPECT_LT(text.find("Lights:\n"), text.find("Textures:\n"));
    EXPECT_LT(text.find("Textures:\n"), text.find("Backgrounds:\n"));
    EXPECT_NE(text.find("  fx_shader (fixture): test shader\n"), std::string::npos);
}

TEST(pluginManager, emptyManagerDescribesNothing) {
    std::ostringstream log;
    pluginManager_t manager(log);
    std::ostringstream out;
    manager.describe(out);
    EXPECT_EQ(out.str(),
              "Shaders:\n  (none)\nLights:\n  (none)\nTextures:\n  (none)\nBackgrounds:\n  (none)\n");
    EXPECT_EQ(manager.typeNames(pluginKind_t::shader), "");
}

TEST(pluginManager, missingDirectoryIsReported) {
    std::ostringstream log;
    pluginManager_t manager(log);
    EXPECT_EQ(manager.loadDirectory("/nonexistent/vexlar/plugins"), 0);
    ASSERT_EQ(manager.errors().size(), 1u);
    EXPECT_EQ(manager.errors()[0], "/nonexistent/vexlar/plugins: not a readable plug-in directory");
    EXPECT_EQ(log.str(), manager.errors()[0] + "\n");
}

TEST(pluginManager, aFileThatIsNoLibraryIsReportedOnOneLineAndOtherFilesAreSkipped) {
    tempDir_t dir;
    ASSERT_FALSE(dir.path.empty());
    std::string garbage = dir.write("garbage.so", "this is not a shared library\n");
    dir.write("notes.txt", "plug-in notes\n");
    dir.write("so", "a file named like the suffix\n");

    std::ostringstream log;
    pluginManager_t manager(log);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(manager.loadDirectory(dir.path), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "the loader's line belongs in the report";

    ASSERT_EQ(manager.errors().size(), 1u);
    const std::string& line = manager.errors()[0];
    const std::string prefix = garbage + ": cannot be loaded: ";
    EXPECT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
    EXPECT_GT(line.size(), prefix.size()) << "the loader's reason is missing";
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(manager.moduleCount(), 0u);
}

TEST(pluginManager, loadModuleReportsAMissingFile) {
    std::ostringstream log;
    pluginManager_t manager(log);
    EXPECT_FALSE(manager.loadModule("/nonexistent/module.so"));
    ASSERT_EQ(manager.errors().size(), 1u);
    const std::string prefix = "/nonexistent/module.so: cannot be loaded: ";
    EXPECT_EQ(manager.errors()[0].compare(0, prefix.size(), prefix), 0) << manager.errors()[0];
}

TEST(pluginManager, aModuleLoadedTwiceRegistersNothingTheSecondTime) {
    std::ostringstream log;
    pluginManager_t manager(log);
    EXPECT_TRUE(manager.loadModule(fixture("fx1_good")));
    EXPECT_FALSE(manager.loadModule(fixture("fx1_good")));
    EXPECT_EQ(manager.moduleCount(), 1u);
    // One duplicate line per type of the module.
    EXPECT_EQ(manager.errors().size(), 6u);
    EXPECT_EQ(manager.errors()[0], fixture("fx1_good") +
                                       ": shader type \"fx_shader\" is already registered by " +
                                       fixture("fx1_good") + "; ignored");
}
