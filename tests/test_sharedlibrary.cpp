// Plug-in loading for real: the test module built beside this test is
// listed, opened, searched and unloaded; every failure path is checked for
// its null result and its error text.
#include "vexlarcore/sharedlibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_support.h"

using namespace vexlar;
using support::tempDir_t;

namespace {

const std::string moduleDir = VEXLAR_TEST_MODULE_DIR;
const std::string modulePath = VEXLAR_TEST_MODULE;

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// True while the dynamic loader still has the module mapped.
bool moduleLoaded() {
    void* h = dlopen(modulePath.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!h) return false;
    dlclose(h);
    return true;
}

// Points the module's unload counter at `counter`.
void watchUnload(sharedlibrary_t& lib, int& counter) {
    int** slot = static_cast<int**>(lib.getSymbol("vexlarTestUnloadCounter"));
    ASSERT_NE(slot, nullptr);
    *slot = &counter;
}

// Fetches and drops any error text left by an earlier test.
void drainErrors() {
    while (osxdlerror()) {
    }
    dlerror();
}

std::string captureOpenError(const std::string& path, bool& opened) {
    testing::internal::CaptureStderr();
    {
        sharedlibrary_t lib(path);
        opened = lib.isOpen();
        EXPECT_EQ(lib.refcount, nullptr);
    }
    return testing::internal::GetCapturedStderr();
}

// Makes `name` in `d` a symbolic link to `target`; its full path.
std::string link(const tempDir_t& d, const std::string& name, const std::string& target) {
    const std::string full = d.path + "/" + name;
    EXPECT_EQ(::symlink(target.c_str(), full.c_str()), 0);
    return full;
}

std::vector<std::string> sorted(const std::list<std::string>& l) {
    std::vector<std::string> v(l.begin(), l.end());
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

TEST(ListDirTest, ModuleDirectoryHoldsExactlyTheModule) {
    const std::list<std::string>& files = listDir(moduleDir);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.front(), moduleDir + "/" + baseName(modulePath));
}

TEST(ListDirTest, OnlyRegularFilesAsFullPathsAndSecondCallReplaces) {
    tempDir_t a, b;
    ASSERT_FALSE(a.path.empty() || b.path.empty());
    const std::string one = a.write("one.so", "x");
    const std::string two = a.write("two.txt", "x");
    ::mkdir((a.path + "/sub").c_str(), 0755);
    a.write("sub/inner.so", "x");                       // not listed: listing is not recursive
    const std::string viaLink = link(a, "linked", one); // followed: names a regular file
    link(a, "dangling", a.path + "/nowhere");           // stat fails: skipped
    link(a, "dirlink", a.path + "/sub");                // a directory: skipped

    std::list<std::string>& first = listDir(a.path);
    EXPECT_EQ(sorted(first), (std::vector<std::string>{viaLink, one, two}));

    const std::string three = b.write("three", "x");
    std::list<std::string>& second = listDir(b.path);
    EXPECT_EQ(&first, &second) << "one list, overwritten by every call";
    EXPECT_EQ(sorted(second), (std::vector<std::string>{three}));

    // The directory is joined with a slash exactly as given.
    EXPECT_EQ(sorted(listDir(b.path + "/")), (std::vector<std::string>{b.path + "//three"}));
}

TEST(ListDirTest, EmptyMissingOrNonDirectoryGivesEmptyList) {
    tempDir_t a;
    a.write("f", "x");
    ASSERT_EQ(listDir(a.path).size(), 1u);
    EXPECT_TRUE(listDir(a.path + "/does-not-exist").empty());
    ASSERT_EQ(listDir(a.path).size(), 1u);
    EXPECT_TRUE(listDir(a.path + "/f").empty()) << "a file is not a directory";
    EXPECT_TRUE(listDir("").empty());
    tempDir_t empty;
    EXPECT_TRUE(listDir(empty.path).empty());
}

TEST(SharedLibraryTest, OpensLooksUpPlainNamesAndCalls) {
    drainErrors();
    testing::internal::CaptureStderr();
    sharedlibrary_t lib(modulePath);
    ASSERT_TRUE(lib.isOpen());
    ASSERT_NE(lib.refcount, nullptr);
    EXPECT_EQ(*lib.refcount, 1);

    auto answer = reinterpret_cast<int (*)()>(lib.getSymbol("vexlarTestAnswer"));
    auto twice = reinterpret_cast<int (*)(int)>(lib.getSymbol("vexlarTestTwice"));
    int* value = static_cast<int*>(lib.getSymbol("vexlarTestValue"));
    ASSERT_NE(answer, nullptr);
    ASSERT_NE(twice, nullptr);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(twice(-21), -42);
    EXPECT_EQ(*value, 7);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(osxdlerror(), nullptr);
}

TEST(SharedLibraryTest, MissingSymbolGivesNullAndOneErrorLine) {
    sharedlibrary_t lib(modulePath);
    ASSERT_TRUE(lib.isOpen());
    drainErrors();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(lib.getSymbol("vexlarNoSuchSymbol"), nullptr);
    // The underscore-decorated name is not how symbols are named here.
    EXPECT_EQ(lib.getSymbol("_vexlarTestAnswer"), nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(err, "dlerror: " + modulePath + ": undefined symbol: vexlarNoSuchSymbol\n" +
                       "dlerror: " + modulePath + ": undefined symbol: _vexlarTestAnswer\n");
    EXPECT_EQ(out, "dyld: " + modulePath + ": undefined symbol: vexlarNoSuchSymbol\n" +
                       "dyld: " + modulePath + ": undefined symbol: _vexlarTestAnswer\n");
    EXPECT_EQ(osxdlerror(), nullptr) << "the text was fetched by the error line";
    EXPECT_TRUE(lib.isOpen());
}

TEST(SharedLibraryTest, MissingFileLeavesHandleClosedWithLoaderMessage) {
    drainErrors();
    bool opened = true;
    const std::string path = moduleDir + "/no-such-module.so";
    testing::internal::CaptureStdout();
    const std::string err = captureOpenError(path, opened);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(opened);
    const std::string message = path + ": cannot open shared object file: No such file or directory";
    EXPECT_EQ(err, "dlerror: " + message + "\n");
    EXPECT_EQ(out, "dyld: " + message + "\n") << "the loader's message is shown on standard output too";
    EXPECT_EQ(osxdlerror(), nullptr);
}

TEST(SharedLibraryTest, FileThatIsNoLibraryFailsCleanly) {
    tempDir_t d;
    const std::string path = d.write("fake.so", "this is not a shared library, just some text\n");
    drainErrors();
    bool opened = true;
    const std::string err = captureOpenError(path, opened);
    EXPECT_FALSE(opened);
    EXPECT_EQ(err.rfind("dlerror: " + path + ": ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.back(), '\n');
}

TEST(SharedLibraryTest, ClosedHandleReturnsNullSilently) {
    drainErrors();
    sharedlibrary_t lib;
    EXPECT_FALSE(lib.isOpen());
    EXPECT_EQ(lib.refcount, nullptr);
    EXPECT_EQ(lib.handle, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(lib.getSymbol("vexlarTestAnswer"), nullptr);
    lib.close();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(osxdlerror(), nullptr);

    // Copies of a closed handle are closed and share nothing.
    sharedlibrary_t copy(lib);
    EXPECT_FALSE(copy.isOpen());
    EXPECT_EQ(copy.refcount, nullptr);
}

TEST(SharedLibraryTest, CopiesShareOneCounterAndUnloadOnceAtTheLast) {
    ASSERT_FALSE(moduleLoaded());
    int unloads = 0;
    {
        sharedlibrary_t first(modulePath);
        ASSERT_TRUE(first.isOpen());
        watchUnload(first, unloads);
        {
            sharedlibrary_t second(first);
            {
                sharedlibrary_t third(second);
                EXPECT_EQ(first.refcount, second.refcount);
                EXPECT_EQ(second.refcount, third.refcount);
                EXPECT_EQ(first.handle, third.handle);
                EXPECT_EQ(*first.refcount, 3);
            }
            EXPECT_EQ(unloads, 0);
            EXPECT_EQ(*first.refcount, 2);
        }
        EXPECT_EQ(unloads, 0);
        EXPECT_EQ(*first.refcount, 1);
        EXPECT_TRUE(moduleLoaded());
    }
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(moduleLoaded());
}

TEST(SharedLibraryTest, CloseUnloadsAtOnce) {
    int unloads = 0;
    sharedlibrary_t lib(modulePath);
    ASSERT_TRUE(lib.isOpen());
    watchUnload(lib, unloads);
    lib.close();
    EXPECT_FALSE(lib.isOpen());
    EXPECT_EQ(lib.refcount, nullptr);
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(moduleLoaded());
    lib.close(); // closing again does nothing
    EXPECT_EQ(unloads, 1);
}

TEST(SharedLibraryTest, ReopeningReleasesThePreviousReference) {
    int unloads = 0;
    sharedlibrary_t lib(modulePath);
    ASSERT_TRUE(lib.isOpen());
    watchUnload(lib, unloads);
    lib.open(modulePath); // the only reference: the old load goes away first
    EXPECT_EQ(unloads, 1);
    ASSERT_TRUE(lib.isOpen());
    EXPECT_EQ(*lib.refcount, 1);

    int unloads2 = 0;
    watchUnload(lib, unloads2);
    {
        sharedlibrary_t copy(lib);
        lib.open(modulePath); // the copy still holds the old reference
        EXPECT_EQ(unloads2, 0);
        EXPECT_NE(copy.refcount, lib.refcount);
        EXPECT_EQ(*copy.refcount, 1);
        EXPECT_EQ(*lib.refcount, 1);
    }
    EXPECT_EQ(unloads2, 0) << "lib still has the module loaded";
    EXPECT_TRUE(moduleLoaded());

    // Reopening onto a missing file drops the library and stays closed.
    testing::internal::CaptureStderr();
    lib.open(moduleDir + "/missing.so");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("dlerror: ", 0), 0u);
    EXPECT_FALSE(lib.isOpen());
    EXPECT_EQ(lib.refcount, nullptr);
    EXPECT_EQ(unloads2, 1);
    EXPECT_FALSE(moduleLoaded());
}

TEST(SharedLibraryTest, AssignmentSharesAndReleases) {
    int unloads = 0;
    sharedlibrary_t a(modulePath);
    ASSERT_TRUE(a.isOpen());
    watchUnload(a, unloads);
    sharedlibrary_t b;
    b = a;
    EXPECT_EQ(*a.refcount, 2);
    b = b; // self-assignment keeps everything
    EXPECT_EQ(*a.refcount, 2);
    a = sharedlibrary_t(); // a lets go, b still holds the library
    EXPECT_FALSE(a.isOpen());
    EXPECT_EQ(unloads, 0);
    EXPECT_EQ(*b.refcount, 1);
    b = a;
    EXPECT_FALSE(b.isOpen());
    EXPECT_EQ(unloads, 1);
}

TEST(LoaderLayerTest, NullPathIsTheRunningProgram) {
    drainErrors();
    void* program = osxdlopen(nullptr, 2);
    EXPECT_EQ(program, reinterpret_cast<void*>(-1));
    EXPECT_EQ(program, dlProgramHandle());
    void* found = osxdlsym(program, "printf");
    EXPECT_NE(found, nullptr);
    EXPECT_EQ(found, dlsym(RTLD_DEFAULT, "printf"));
    EXPECT_EQ(osxdlerror(), nullptr);

    EXPECT_EQ(osxdlsym(program, "vexlarNoSuchSymbolAnywhere"), nullptr);
    const char* err = osxdlerror();
    ASSERT_NE(err, nullptr);
    EXPECT_NE(std::strstr(err, "vexlarNoSuchSymbolAnywhere"), nullptr) << err;
    EXPECT_EQ(osxdlerror(), nullptr);

    // The running program cannot be unloaded.
    EXPECT_EQ(osxdlclose(program), 0);
    err = osxdlerror();
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, "dlsimple: Can't close the running program");
}

TEST(LoaderLayerTest, OpenFailuresRecordOneShotTexts) {
    drainErrors();
    EXPECT_EQ(osxdlopen("", 2), nullptr);
    const char* err = osxdlerror();
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, "dlsimple: Can not open \"\"");
    EXPECT_EQ(osxdlerror(), nullptr);

    // A bare name is a file in the current directory, not a search of the
    // system's library path.
    EXPECT_EQ(osxdlopen("libc.so.6", 2), nullptr);
    err = osxdlerror();
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, "./libc.so.6: cannot open shared object file: No such file or directory");
    EXPECT_EQ(osxdlerror(), nullptr);
}

TEST(LoaderLayerTest, BareNameOpensFromTheCurrentDirectory) {
    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(moduleDir.c_str()), 0);
    void* h = osxdlopen(baseName(modulePath).c_str(), 2);
    ASSERT_EQ(chdir(old), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_NE(osxdlsym(h, "vexlarTestTwice"), nullptr);
    EXPECT_NE(osxdlclose(h), 0);
}

TEST(LoaderLayerTest, BadHandlesAndNamesFailWithoutCrashing) {
    drainErrors();
    EXPECT_EQ(osxdlsym(nullptr, "x"), nullptr);
    const char* err = osxdlerror();
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, "dlsimple: symname \"x\" Not found");

    void* h = osxdlopen(modulePath.c_str(), 2);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(osxdlsym(h, nullptr), nullptr);
    err = osxdlerror();
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, "dlsimple: symname \"\" Not found");
    EXPECT_NE(osxdlclose(h), 0);

    EXPECT_EQ(osxdlclose(nullptr), 0);
    err = osxdlerror();
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, "dlsimple: unable to unlink module (null)");
}

TEST(LoaderLayerTest, ErrorTextIsPrefixedCutAndFetchedOnce) {
    drainErrors();
    EXPECT_EQ(osxdlerror(), nullptr);
    EXPECT_EQ(osxerror(-1, "value %d of \"%s\"", 5, "name"), nullptr);
    const char* err = osxerror(1, nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, "dlsimple: value 5 of \"name\"");
    EXPECT_EQ(osxdlerror(), nullptr);

    // A newer record replaces an unfetched one.
    osxerror(-1, "first");
    osxerror(-7, "second");
    err = osxdlerror();
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, "dlsimple: second");

    // Long messages are cut to 255 characters.
    const std::string longText(1000, 'a');
    osxerror(-1, "%s", longText.c_str());
    err = osxdlerror();
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(std::strlen(err), 255u);
    EXPECT_EQ(std::string(err), "dlsimple: " + std::string(245, 'a'));
}

TEST(LoaderLayerTest, KindZeroPrefersTheLoadersOwnMessage) {
    drainErrors();
    // No loader message pending: our text stays, the loader's empty one is shown.
    testing::internal::CaptureStdout();
    osxerror(0, "Can not open \"%s\"", "/x");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "dyld: \n");
    const char* err = osxdlerror();
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, "dlsimple: Can not open \"/x\"");

    // A pending loader message is shown and replaces our text whole.
    const std::string loaderText =
        "/nonexistent-dir/lib.so: cannot open shared object file: No such file or directory";
    ASSERT_EQ(dlopen("/nonexistent-dir/lib.so", RTLD_NOW), nullptr);
    testing::internal::CaptureStdout();
    osxerror(0, "Can not open \"%s\"", "/x");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "dyld: " + loaderText + "\n");
    err = osxdlerror();
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(std::string(err), loaderText);

    // Kind below zero ignores the loader and prints nothing.
    ASSERT_EQ(dlopen("/nonexistent-dir/lib.so", RTLD_NOW), nullptr);
    testing::internal::CaptureStdout();
    osxerror(-1, "mine");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    err = osxdlerror();
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, "dlsimple: mine");
    dlerror();
}

TEST(LoaderLayerTest, PrivateAndPublicModes) {
    // A symbol found through the program's global scope pins its library for
    // the rest of the process, so this test loads a copy of the module under
    // another name and leaves the real one unloadable for the other tests.
    // The pinned copy stays in the global scope, so this runs once a process.
    static bool ranBefore = false;
    if (ranBefore) GTEST_SKIP() << "the global scope already holds a pinned copy";
    ranBefore = true;
    tempDir_t d;
    const std::string copyPath = d.write("public_copy.so", support::slurp(modulePath));

    drainErrors();
    void* program = osxdlopen(nullptr, 2);
    void* priv = osxdlopen(copyPath.c_str(), 2);
    ASSERT_NE(priv, nullptr);
    EXPECT_NE(osxdlsym(priv, "vexlarTestAnswer"), nullptr);
    EXPECT_EQ(osxdlsym(program, "vexlarTestAnswer"), nullptr)
        << "private symbols stay out of the program's scope";
    osxdlerror();
    EXPECT_NE(osxdlclose(priv), 0);

    void* pub = osxdlopen(copyPath.c_str(), 1 | 4); // lazy, public
    ASSERT_NE(pub, nullptr);
    void* direct = osxdlsym(pub, "vexlarTestAnswer");
    EXPECT_NE(direct, nullptr);
    EXPECT_EQ(osxdlsym(program, "vexlarTestAnswer"), direct);
    EXPECT_NE(osxdlclose(pub), 0);
    EXPECT_EQ(osxdlerror(), nullptr);
    EXPECT_FALSE(moduleLoaded());
}
