// The vexlar program's command line and where it looks for plug-ins.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "host/options.h"
#include "host/pluginpaths.h"
#include "test_support.h"
#include "vexlarcore/version.h"

using namespace vexlar::host;
using support::contains;

namespace {

struct parse_t {
    int status;
    options_t options;
    std::string out;
    std::string err;
};

parse_t parse(std::vector<std::string> args) {
    args.insert(args.begin(), "vexlar");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    parse_t p;
    std::ostringstream out, err;
    p.status = parseOptions(static_cast<int>(argv.size()), argv.data(), p.options, out, err);
    p.out = out.str();
    p.err = err.str();
    return p;
}

// A usage error is one line on the error stream and status 2.
void expectUsageError(const std::vector<std::string>& args, const std::string& part) {
    parse_t p = parse(args);
    EXPECT_EQ(p.status, exitUsage) << p.err;
    EXPECT_EQ(p.err.rfind("vexlar: error: ", 0), 0u) << p.err;
    EXPECT_TRUE(contains(p.err, part)) << p.err;
    EXPECT_EQ(p.err.find('\n'), p.err.size() - 1) << p.err;
    EXPECT_TRUE(p.out.empty());
}

} // namespace

TEST(hostOptions, defaults) {
    parse_t p = parse({});
    EXPECT_EQ(p.status, -1);
    const options_t& o = p.options;
    EXPECT_EQ(o.sceneFile, "");
    EXPECT_EQ(o.output, "");
    EXPECT_EQ(o.workers, processorCount());
    EXPECT_GE(o.workers, 1);
    EXPECT_EQ(o.width, 0);
    EXPECT_FALSE(o.hasRegion);
    EXPECT_TRUE(o.settings.empty());
    EXPECT_FALSE(o.hasSeed);
    EXPECT_FALSE(o.alpha || o.listPlugins || o.strict || o.quiet || o.stats);
    EXPECT_TRUE(o.pluginDirs.empty() && !o.noStandardPlugins);
}

TEST(hostOptions, everyOptionIsRead) {
    std::istringstream line("-o x.tga -j 3 --size 320x200 --region 1 2 3 4 --set camera.focal=2 "
                            "--set output.file=a=b.png --seed 77 --alpha --plugins /p --plugins /q --strict "
                            "-q --stats scene.json");
    parse_t p = parse({std::istream_iterator<std::string>(line), std::istream_iterator<std::string>()});
    ASSERT_EQ(p.status, -1) << p.err;
    const options_t& o = p.options;
    EXPECT_EQ(o.sceneFile, "scene.json");
    EXPECT_EQ(o.output, "x.tga");
    EXPECT_EQ(o.workers, 3);
    EXPECT_EQ(o.width * 1000 + o.height, 320200);
    EXPECT_TRUE(o.hasRegion);
    EXPECT_EQ(o.region[0], 1);
    EXPECT_EQ(o.region[3], 4);
    ASSERT_EQ(o.settings.size(), 2u);
    EXPECT_EQ(o.settings[0], std::make_pair(std::string("camera.focal"), std::string("2")));
    EXPECT_EQ(o.settings[1], std::make_pair(std::string("output.file"), std::string("a=b.png")))
        << "split at the first '=' only";
    EXPECT_TRUE(o.hasSeed && o.seed == 77);
    EXPECT_TRUE(o.alpha && o.strict && o.quiet && o.stats);
    EXPECT_EQ(o.pluginDirs, (std::vector<std::string>{"/p", "/q"}));

    // Options with values never swallow the scene file.
    parse_t f = parse({"--set", "camera.resolution=[20, 10]", "--region", "0", "1", "0", "1", "s.json"});
    ASSERT_EQ(f.status, -1) << f.err;
    EXPECT_EQ(f.options.sceneFile, "s.json");
    EXPECT_EQ(f.options.settings[0].second, "[20, 10]");
    parse_t l = parse({"--output=y.png", "--workers=1", "--quiet", "--list-plugins"});
    ASSERT_EQ(l.status, -1);
    EXPECT_EQ(l.options.output, "y.png");
    EXPECT_EQ(l.options.workers, 1);
    EXPECT_TRUE(l.options.quiet && l.options.listPlugins);
}

TEST(hostOptions, helpAndVersion) {
    parse_t h = parse({"--help"});
    EXPECT_EQ(h.status, exitOk);
    for (const char* opt : {"-o,--output", "-j,--workers", "--size", "--region", "--set", "--seed", "--alpha",
                            "--plugins", "--list-plugins", "--strict", "-q,--quiet", "--stats", "--version",
                            "scene-file", "docs/scene-format.md"})
        EXPECT_TRUE(contains(h.out, opt)) << opt;
    EXPECT_EQ(h.out, helpText());
    parse_t v = parse({"--version"});
    EXPECT_EQ(v.status, exitOk);
    EXPECT_EQ(v.out, std::string("vexlar ") + VEXLAR_VERSION + "\n");
}

TEST(hostOptions, badUsage) {
    expectUsageError({"--size", "640"}, "expected WIDTHxHEIGHT");
    expectUsageError({"--size", "0x10"}, "--size");
    expectUsageError({"--size", "70000x10"}, "--size: each side must be from 1 to 65535 pixels");
    expectUsageError({"-j", "0"}, "--workers");
    expectUsageError({"-j", "two"}, "--workers");
    expectUsageError({"--region", "1", "2", "3"}, "--region");
    expectUsageError({"--set", "novalue"}, "expected KEY=VALUE");
    expectUsageError({"--set", "=3"}, "expected KEY=VALUE");
    expectUsageError({"--seed", "0"}, "--seed");
    expectUsageError({"--bogus"}, "--bogus");
    expectUsageError({"a.json", "b.json"}, "b.json");
}

TEST(hostPluginPaths, buildTreeFirstWhenRunFromTheBuild) {
    std::vector<std::string> fromBuild = pluginDirCandidates(std::string(VEXLAR_HOST_BUILD_DIR) + "/vexlar");
    ASSERT_EQ(fromBuild.size(), 2u);
    EXPECT_EQ(fromBuild[0], VEXLAR_PLUGIN_BUILD_DIR);
    EXPECT_EQ(fromBuild[1], VEXLAR_PLUGIN_INSTALL_DIR);
    std::vector<std::string> installed = pluginDirCandidates("/opt/vx/bin/vexlar");
    ASSERT_EQ(installed.size(), 3u);
    EXPECT_EQ(installed[0], std::string("/opt/vx/bin/../") + VEXLAR_PLUGIN_INSTALL_RELDIR);
    EXPECT_EQ(installed[1], VEXLAR_PLUGIN_INSTALL_DIR);
    EXPECT_EQ(installed[2], VEXLAR_PLUGIN_BUILD_DIR);
    EXPECT_EQ(findPluginDir({"/no/such/dir", "/tmp", "/"}), "/tmp");
    EXPECT_EQ(findPluginDir({"/no/such/dir"}), "");
    EXPECT_FALSE(executablePath().empty());
}
