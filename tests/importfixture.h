// Shared set-up of the scene loading tests: the standard plug-ins, scene
// descriptions loaded from strings, the error a description raises, and a
// grid mesh in OBJ text.
#ifndef VEXLAR_TESTS_IMPORTFIXTURE_H
#define VEXLAR_TESTS_IMPORTFIXTURE_H

#include <gtest/gtest.h>

#include <functional>
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

/// The lines, each ended by a newline.
inline std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    return all;
}

/// An OBJ grid of n x n squares over [0, n]^2, two triangles each, at the
/// height z(i, j); `corner` follows every face index (e.g. "//1").
inline std::string gridObj(int n, const std::function<double(int, int)>& z, const std::string& corner = "") {
    std::ostringstream obj;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j) obj << "v " << i << " " << j << " " << z(i, j) << "\n";
    if (!corner.empty()) obj << "vn 0 0 1\n";
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const int a = i * (n + 1) + j + 1, b = a + n + 1;
            obj << "f " << a << corner << " " << b << corner << " " << b + 1 << corner << "\nf " << a
                << corner << " " << b + 1 << corner << " " << a + 1 << corner << "\n";
        }
    return obj.str();
}

/// The message of the scene error `f` throws ("" if none).
template <class F> std::string errorFrom(F f) {
    try {
        f();
    } catch (const vexlar::host::sceneError_t& e) {
        return e.what();
    }
    return "";
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
    /// Loads `text` as the file t.json in `baseDir`; the mesh cache is off
    /// unless `options` say otherwise.
    static std::unique_ptr<vexlar::host::loadedScene_t>
    load(const std::string& text, const std::string& baseDir = "",
         const vexlar::host::sceneOverrides_t& overrides = vexlar::host::sceneOverrides_t(),
         const vexlar::host::loadOptions_t& options = vexlar::host::loadOptions_t{1, "off"}) {
        vexlar::host::sceneSource_t s;
        s.text = text;
        s.label = "t.json";
        s.baseDir = baseDir;
        return vexlar::host::loadScene(s, overrides, *plugins, options);
    }
    static std::string errorOf(const std::string& text, const std::string& baseDir = "",
                               const vexlar::host::sceneOverrides_t& o = vexlar::host::sceneOverrides_t()) {
        return errorFrom([&] { load(text, baseDir, o); });
    }
    static inline std::ostringstream* log = nullptr;
    static inline vexlar::pluginManager_t* plugins = nullptr;
};

} // namespace support

#endif
