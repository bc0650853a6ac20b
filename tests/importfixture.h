// Shared set-up of the model import tests: the standard plug-ins, scene
// descriptions loaded from strings, the error a description raises.
#ifndef VEXLAR_TESTS_IMPORTFIXTURE_H
#define VEXLAR_TESTS_IMPORTFIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "host/sceneloader.h"
#include "test_support.h"

namespace support {

/// Component-wise float equality of anything with x, y and z.
template <class V> void expectFloatEq(const V& v, float x, float y, float z) {
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
}

class importFixture_t : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        log = new std::ostringstream();
        plugins = new vexlar::pluginManager_t(*log);
        if (!std::string(VEXLAR_HOST_PLUGIN_DIR).empty()) plugins->loadDirectory(VEXLAR_HOST_PLUGIN_DIR);
    }
    static void TearDownTestSuite() {
        delete plugins;
        delete log;
    }
    void SetUp() override {
        if (!plugins->has(vexlar::pluginKind_t::shader, "generic"))
            GTEST_SKIP() << "standard plug-ins not built";
    }
    static std::unique_ptr<vexlar::host::loadedScene_t> load(const std::string& text,
                                                             const std::string& baseDir) {
        vexlar::host::sceneSource_t s;
        s.text = text;
        s.label = "t.json";
        s.baseDir = baseDir;
        vexlar::host::loadOptions_t opt;
        opt.meshCache = "off";
        return vexlar::host::loadScene(s, vexlar::host::sceneOverrides_t(), *plugins, opt);
    }
    static std::string errorOf(const std::string& text, const std::string& baseDir) {
        try {
            load(text, baseDir);
        } catch (const vexlar::host::sceneError_t& e) {
            return e.what();
        }
        return "";
    }
    static std::string joined(const std::vector<std::string>& lines) {
        std::string all;
        for (const std::string& l : lines) all += l + "\n";
        return all;
    }
    static inline std::ostringstream* log = nullptr;
    static inline vexlar::pluginManager_t* plugins = nullptr;
};

} // namespace support

#endif
