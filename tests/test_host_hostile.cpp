// Hostile input: every failure ends with a located message and a non-zero
// status, limits hold before anything is allocated, and data posing as a
// module's entry point, odd files and deep instance chains are handled.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "host/geometrycheck.h"
#include "host/instancechain.h"
#include "host/meshload.h"
#include "host/polygon.h"
#include "test_support.h"
#include "vexlarcore/modulecheck.h"
#include "vexlarcore/sphere.h"
#include "vexlarcore/texturebudget.h"

namespace vexlar {
extern std::uint32_t leafs; // a data symbol of the library
}

namespace {

using namespace vexlar;
using namespace vexlar::host;
using support::contains;
using support::tempDir_t;

const std::string program = VEXLAR_HOST_PROGRAM;

// A scene with one light of the given power and the given objects; `extra`
// goes before the lights, `shaders` before the plain white shader "s".
std::string scene(const std::string& objects, const std::string& power = "10", const std::string& extra = "",
                  const std::string& shaders = "") {
    return "{\n \"camera\": {\"from\": [0,0,5], \"to\": [0,0,0], \"resolution\": [8,6]},\n" + extra +
           " \"lights\": {\"l\": {\"type\": \"point\", \"from\": [0,5,5], \"power\": " + power + "}},\n" +
           " \"shaders\": {" + shaders +
           "\"s\": {\"type\": \"generic\", \"color\": [1,1,1]}},\n \"objects\": {" + objects + "}\n}\n";
}

const std::string ball = "\"a\": {\"type\": \"sphere\", \"radius\": 1, \"shader\": \"s\"}";

std::string mesh(const std::string& vertices, const std::string& more = "") {
    return "\"m\": {\"type\": \"mesh\", \"shader\": \"s\", \"vertices\": " + vertices +
           ", \"faces\": [[0,1,2]]" + more + "}";
}

std::string meshFile(const std::string& file) {
    return "\"m\": {\"type\": \"mesh\", \"shader\": \"s\", \"file\": \"" + file + "\"}";
}

struct run_t {
    int status;
    std::string err;
};

// Runs the program in `dir` on `args`; standard output is dropped.
run_t runIn(const tempDir_t& dir, const std::string& args) {
    const std::string cmd = "cd '" + dir.path + "' && timeout 60 '" + program + "' -j1 --mesh-cache off " +
                            args + " >/dev/null 2>err.txt";
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, support::slurp(dir.path + "/err.txt")};
}

TEST(hostileInput, EveryFailureHasALocatedReasonAndSoundRunsEndWell) {
    const std::string cut = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    // Two nested refracting spheres double the rays at every level; the
    // bound on the rays of one camera sample keeps depth 1000 finite.
    const std::string glass = "\"g\": {\"type\": \"generic\", \"color\": [0,0,0], \"mirror_color\": [1,1,1], "
                              "\"transmit_color\": [1,1,1], \"ior\": 1.5, \"fresnel\": true}, ";
    const std::string nested = "\"a\": {\"type\": \"sphere\", \"radius\": 2, \"shader\": \"g\"}, "
                               "\"b\": {\"type\": \"sphere\", \"radius\": 1, \"shader\": \"g\"}";
    const struct {
        const char* name;
        std::string text; // scene.json
        const char* args;
        int status;
        const char* message;
    } cases[] = {
        {"huge number", scene(mesh("[[0,0,0],[1,0,0],[0,1e400,0]]")), "", 1,
         "scene.json:5:83: error: objects.m.vertices[2][1]: the number 1e400 is too large"},
        {"repeated key", scene("\"a\": {\"type\": \"sphere\", \"radius\": 1, \"radius\": 2}"), "", 1,
         "scene.json:5:61: error: objects.a.radius: the key \"radius\" appears twice in one object"},
        {"string power", scene(ball, "\"bright\""), "", 1,
         "scene.json:3:18: error: lights.l: light \"l\" (point): setting \"power\" should be a number, not a "
         "string"},
        {"scaled to the limit",
         scene(mesh("[[-1,-1,0],[1,-1,0],[0,1,0]]", ", \"transform\": [{\"scale\": 3e38}]")), "", 1,
         "is placed at [-3e+38, -3e+38, 0], out of range"},
        {"huge sphere", scene("\"a\": {\"type\": \"sphere\", \"radius\": 3e38}"), "", 1, "coordinate range"},
        {"OBJ vertex 1e39", scene(meshFile("v39.obj")), "", 1, "mesh: vertex 4 [inf, 0, 0] is out of range"},
        {"OBJ index overflow", scene(meshFile("idx.obj")), "", 1,
         "\"idx.obj\": line 4: the index 99999999999999999999 is out of range"},
        {"mesh from a FIFO", scene(meshFile("fifo.obj")), "", 1, "\"fifo.obj\": not a regular file (a FIFO)"},
        {"mesh is a folder", scene(meshFile("folder")), "", 1, "\"folder\": it is a folder"},
        {"scene is a device", "", "/dev/zero", 1, "\"/dev/zero\": not a regular file (a character device)"},
        {"unknown nested --set", scene(ball), "--strict --set camera.foo.bar=1", 1,
         "--set camera.foo.bar=1: warning: camera.foo: unknown setting"},
        {"image beyond memory", scene(ball), "--size 65535x65535", 1,
         "a 65535 x 65535 image needs about 176.0 GiB of memory, more than this machine has"},
        {"samples per pixel", scene(ball), "'--set=render.antialiasing={\"passes\":100,\"samples\":1000}'", 1,
         "passes * samples must not exceed 16384"},
        {"output is a folder", scene(ball), "-o out.png", 1, "cannot write \"out.png\": it is a folder"},
        {"texture claims 16000 x 16000",
         scene(ball, "10", " \"textures\": {\"t\": {\"type\": \"image\", \"filename\": \"big.tga\"}},\n"), "",
         1, "the picture is 16000 x 16000 pixels; at most 134217728 pixels are read"},
        // Runs that succeed:
        {"nested glass, depth 1000", scene(nested, "10", " \"render\": {\"ray_depth\": 1000},\n", glass), "",
         0, ""},
        {"output through a link", scene(ball), "-o link.png", 0, ""},
    };
    for (const auto& c : cases) {
        tempDir_t dir;
        dir.write("scene.json", c.text);
        dir.write("v39.obj", cut + "v 1e39 0 0\nf 1 2 4\n");
        dir.write("idx.obj", cut + "f 1 2 99999999999999999999\n");
        // An RLE true-colour TGA header claiming 16000 x 16000 and no pixels.
        dir.write("big.tga", std::string("\0\0\x0a\0\0\0\0\0\0\0\0\0\x80\x3e\x80\x3e\x18\x20", 18));
        ASSERT_EQ(mkfifo((dir.path + "/fifo.obj").c_str(), 0600), 0);
        ASSERT_EQ(mkdir((dir.path + "/folder").c_str(), 0700), 0);
        ASSERT_EQ(mkdir((dir.path + "/out.png").c_str(), 0700), 0);
        ASSERT_EQ(symlink("real.png", (dir.path + "/link.png").c_str()), 0);
        const std::string given = c.args;
        const std::string args = given + (c.text.empty() ? "" : " scene.json") +
                                 (c.text.empty() || contains(given, "-o ") ? "" : " -o x.png");
        const run_t r = runIn(dir, args);
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.message)) << c.name << ": " << r.err;
        EXPECT_FALSE(contains(r.err, "json.exception")) << c.name << ": " << r.err;
        for (const std::string& f : dir.files())
            EXPECT_NE(f.rfind(".x.png.tmp", 0), 0u) << c.name << " left " << f;
        struct stat st;
        EXPECT_TRUE(lstat((dir.path + "/link.png").c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            << c.name << ": the link was replaced by a file";
        // Only the run through the link writes an image: into the link's target.
        EXPECT_EQ(support::slurp(dir.path + "/real.png").substr(0, 4),
                  contains(given, "link") ? "\x89PNG" : "");
    }
}

// (Damaged module files: hostFaults.BrokenPluginModulesAreReportedAndTheOthersLoad.)
TEST(hostileInput, ModuleEntryPointsMustBeCode) {
    // A data symbol is not called.
    EXPECT_TRUE(isFunctionSymbol(reinterpret_cast<const void*>(&moduleFileFault)));
    EXPECT_FALSE(isFunctionSymbol(&vexlar::leafs));
    EXPECT_FALSE(isFunctionSymbol(nullptr));
}

TEST(textureBudget, ReservationsStayWithinTheBudgetUntilGivenBack) {
    setTextureMemoryBudget(1000);
    std::string error;
    textureReservation_t first = reserveTextureMemory(600, 10, 60, error);
    ASSERT_TRUE(first) << error;
    EXPECT_FALSE(reserveTextureMemory(600, 10, 60, error));
    EXPECT_TRUE(contains(error, "the picture is 10 x 60 pixels")) << error;
    EXPECT_TRUE(contains(error, "budget for textures")) << error;
    first.reset();
    EXPECT_EQ(textureMemoryInUse(), 0u);
    EXPECT_TRUE(reserveTextureMemory(1000, 10, 100, error)) << error;
    setTextureMemoryBudget(0);
}

TEST(geometryRange, CoordinatesAreCheckedAsGivenAndAsPlaced) {
    matrix4x4_t identity(1.0f), big(1.0f);
    big.scale(1e30f, 1e30f, 1e30f);
    const struct {
        point3d_t v;
        const matrix4x4_t* m;
        bool ok;
    } cases[] = {
        {{1e38f, -1e38f, 0}, &identity, true},
        {{1.01e38f, 0, 0}, &identity, false},
        {{0, 0, NAN}, &identity, false},
        {{0, 0, INFINITY}, &identity, false},
        {{1e8f, 0, 0}, &big, true},
        {{1e9f, 0, 0}, &big, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(meshCoordinateFault({point3d_t(0, 0, 0), c.v}, *c.m).empty(), c.ok)
            << c.v.x << " " << c.v.z;
    EXPECT_TRUE(sphereExtentFault(point3d_t(5e37f, 0, 0), 5e37f).empty());
    EXPECT_FALSE(sphereExtentFault(point3d_t(5e37f, 0, 0), 6e37f).empty());
}

TEST(instanceChain, DeepChainsStayShallowAndInPlace) {
    sphere_t base(point3d_t(0, 0, 0), 1.0f);
    matrix4x4_t step(1.0f);
    step.translate(0.125f, 0, 0);
    std::vector<std::unique_ptr<referenceObject_t>> chain;
    object3d_t* last = &base;
    for (int i = 0; i < 100; ++i) {
        chain.emplace_back(makeInstance(step, last));
        last = chain.back().get();
        EXPECT_EQ(instanceNesting(last), std::min(i + 1, maxInstanceNesting)) << i;
    }
    // 100 steps of 1/8 (exact in binary): the box moved by 12.5.
    const bound_t b = last->getBound();
    EXPECT_FLOAT_EQ(b.a.x, base.getBound().a.x + 12.5f);
    EXPECT_FLOAT_EQ(b.g.x, base.getBound().g.x + 12.5f);
}

TEST(polygonSplit, CoversTheFaceOnceWithItsWinding) {
    for (std::size_t n : {3u, 4u, 64u, 65u, 100u, 1001u}) {
        std::vector<std::array<std::size_t, 3>> tris;
        splitPolygon(n, tris);
        ASSERT_EQ(tris.size(), n - 2) << n;
        // Every outer edge once, every inner edge twice (once each way):
        // the triangles tile the face with its winding.
        std::map<std::pair<std::size_t, std::size_t>, int> edges;
        for (const auto& t : tris) {
            EXPECT_TRUE(t[0] < t[1] && t[1] < t[2]) << n;
            for (int k = 0; k < 3; ++k) ++edges[{t[k], t[(k + 1) % 3]}];
        }
        for (std::size_t k = 0; k < n; ++k)
            EXPECT_EQ(edges[std::make_pair(k, (k + 1) % n)], 1) << n << " edge " << k;
        for (const auto& e : edges) {
            if ((e.first.first + 1) % n == e.first.second) continue; // outer edges counted above
            const auto back = std::make_pair(e.first.second, e.first.first);
            EXPECT_EQ(e.second, 1) << n;
            EXPECT_EQ(edges.count(back), 1u) << n << ": an inner edge used one way only";
        }
        if (n <= maxFanCorners) {
            for (const auto& t : tris) EXPECT_EQ(t[0], 0u) << "small faces stay fans";
        }
    }
}

TEST(polygonSplit, LargeObjFacesKeepTheirCornersAndUV) {
    std::string text;
    const int n = 200;
    for (int i = 0; i < n; ++i)
        text += "v " + std::to_string(std::cos(i * 0.0314159)) + " " +
                std::to_string(std::sin(i * 0.0314159)) + " 0\nvt 0.5 0.5\n";
    text += "f";
    for (int i = 1; i <= n; ++i) text += " " + std::to_string(i) + "/" + std::to_string(i);
    text += "\nf 1 2 3\n";
    meshData_t data;
    std::string error;
    ASSERT_TRUE(parseObj(text, data, error)) << error;
    ASSERT_EQ(data.faces.size(), static_cast<std::size_t>(n - 2 + 1));
    EXPECT_EQ(data.faces.back(), (std::array<int, 3>{0, 1, 2}));
    EXPECT_TRUE(data.faceUV.empty()) << "the last face has no texture coordinates";
}

} // namespace
