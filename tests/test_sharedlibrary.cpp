// Plug-in libraries for real: the test module built beside this test is
// listed, opened, searched and unloaded; every failure gives null and its
// error text.
#include "vexlarcore/sharedlibrary.h"

#include "test_support.h"

#include <algorithm>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexlar;
using support::captured;
using support::tempDir_t;

namespace {

const std::string moduleDir = VEXLAR_TEST_MODULE_DIR;
const std::string modulePath = VEXLAR_TEST_MODULE;

// True while the dynamic loader still has the module mapped.
bool moduleLoaded() {
    void* h = dlopen(modulePath.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

// Points the module's unload counter at `counter`.
void watchUnload(sharedlibrary_t& lib, int& counter) {
    *static_cast<int**>(lib.getSymbol("vexlarTestUnloadCounter")) = &counter;
}

std::vector<std::string> sorted(const std::list<std::string>& l) {
    std::vector<std::string> v(l.begin(), l.end());
    return std::sort(v.begin(), v.end()), v;
}

} // namespace

TEST(listDir, RegularFilesAsFullPaths) {
    EXPECT_EQ(sorted(listDir(moduleDir)), std::vector<std::string>{modulePath});
    tempDir_t a, b;
    const std::string one = a.write("one.so", "x"), two = a.write("two.txt", "x");
    ::mkdir((a.path + "/sub").c_str(), 0755);
    a.write("sub/inner.so", "x");                                                        // not recursive
    EXPECT_EQ(::symlink(one.c_str(), (a.path + "/linked").c_str()), 0);                  // followed
    EXPECT_EQ(::symlink((a.path + "/none").c_str(), (a.path + "/dangling").c_str()), 0); // skipped
    EXPECT_EQ(::symlink((a.path + "/sub").c_str(), (a.path + "/dirlink").c_str()), 0);   // skipped
    std::list<std::string>& first = listDir(a.path);
    EXPECT_EQ(sorted(first), (std::vector<std::string>{a.path + "/linked", one, two}));
    const std::string three = b.write("three", "x");
    EXPECT_EQ(&listDir(b.path + "/"), &first); // one list, replaced by every call
    EXPECT_EQ(sorted(first), std::vector<std::string>{b.path + "//three"});
    for (const std::string& none : {a.path + "/missing", three, std::string()})
        EXPECT_TRUE(listDir(none).empty()) << none;
}

TEST(sharedLibrary, OpensLooksUpAndReportsFailures) {
    while (osxdlerror()) continue; // drop any error text left by an earlier test
    dlerror();
    std::string err;
    const std::string out = captured(
        [&] {
            sharedlibrary_t lib(modulePath);
            ASSERT_TRUE(lib.isOpen() && *lib.refcount == 1);
            EXPECT_EQ(reinterpret_cast<int (*)()>(lib.getSymbol("vexlarTestAnswer"))(), 42);
            EXPECT_EQ(reinterpret_cast<int (*)(int)>(lib.getSymbol("vexlarTestTwice"))(-21), -42);
            EXPECT_EQ(*static_cast<int*>(lib.getSymbol("vexlarTestValue")), 7);
            EXPECT_EQ(lib.getSymbol("_vexlarTestAnswer"), nullptr); // names are not decorated
        },
        &err);
    EXPECT_EQ(err, "dlerror: " + modulePath + ": undefined symbol: _vexlarTestAnswer\n"); // one line
    EXPECT_EQ(out, "dyld: " + modulePath + ": undefined symbol: _vexlarTestAnswer\n");
    EXPECT_STREQ(osxdlerror(), nullptr) << "the text was fetched for the error line";
    tempDir_t d;
    const std::string fake = d.write("fake.so", "not a shared library\n");
    for (const std::string& path : {moduleDir + "/no-such-module.so", fake}) {
        std::unique_ptr<sharedlibrary_t> lib;
        captured([&] { lib.reset(new sharedlibrary_t(path)); }, &err);
        EXPECT_TRUE(!lib->isOpen() && lib->refcount == nullptr);
        EXPECT_EQ(lib->getSymbol("vexlarTestAnswer"), nullptr); // silent, as for `closed` below
        EXPECT_EQ(err.rfind("dlerror: " + path + ": ", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    EXPECT_EQ(err.find("cannot open"), std::string::npos);
    // A bare file name means the current folder, not the loader's search path.
    std::ifstream copy(modulePath, std::ios::binary);
    d.write("bare.so", std::string(std::istreambuf_iterator<char>(copy), {}));
    char* back = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(d.path.c_str()), 0);
    EXPECT_TRUE(sharedlibrary_t("bare.so").isOpen());
    EXPECT_EQ(chdir(back), 0);
    free(back);
    sharedlibrary_t closed;
    EXPECT_EQ(captured([&] { EXPECT_EQ(closed.getSymbol("vexlarTestAnswer"), nullptr); }, &err) + err, "");
    EXPECT_FALSE(sharedlibrary_t(closed).isOpen());
}

TEST(sharedLibrary, ReferencesAreCountedAndTheLastUnloads) {
    ASSERT_FALSE(moduleLoaded());
    int unloads = 0;
    {
        sharedlibrary_t first(modulePath);
        watchUnload(first, unloads);
        {
            sharedlibrary_t second(first), third;
            third = second;
            third = third;
            EXPECT_TRUE(first.refcount == third.refcount && *first.refcount == 3);
        }
        EXPECT_TRUE(unloads == 0 && *first.refcount == 1 && moduleLoaded());
    }
    EXPECT_TRUE(unloads == 1 && !moduleLoaded());
    sharedlibrary_t lib(modulePath);
    watchUnload(lib, unloads);
    lib.open(modulePath); // the only reference: the old load goes first
    EXPECT_TRUE(unloads == 2 && lib.isOpen() && *lib.refcount == 1);
    watchUnload(lib, unloads);
    {
        sharedlibrary_t copy(lib);
        lib.open(modulePath); // the copy keeps the old reference
        EXPECT_TRUE(copy.refcount != lib.refcount && *copy.refcount == 1 && unloads == 2);
    }
    captured([&] { lib.open(moduleDir + "/missing.so"); }); // drops it and stays closed
    EXPECT_TRUE(!lib.isOpen() && lib.refcount == nullptr && unloads == 3 && !moduleLoaded());
    sharedlibrary_t a(modulePath);
    watchUnload(a, unloads);
    a.close(); // at once
    a.close();
    EXPECT_TRUE(unloads == 4 && a.refcount == nullptr && !moduleLoaded());
}
