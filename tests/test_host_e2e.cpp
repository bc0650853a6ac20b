// End-to-end tests of the vexlar program: the built binary is run on small
// scenes and its images, messages and exit statuses are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "host_png.h"
#include "test_support.h"

namespace {

using namespace support;

const std::string program = VEXLAR_HOST_PROGRAM;
const std::string dataDir = VEXLAR_TEST_DATA_DIR;

struct result_t {
    int status = -1;
    std::string out;
    std::string err;
};

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// Starts the program in `cwd` with its standard output on a pipe (returned
// in `outFd`) and its standard error in the file `errPath`.
pid_t start(const std::vector<std::string>& args, const std::string& cwd, int& outFd,
            const std::string& errPath) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(127);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fds[1], 1);
        dup2(err, 2);
        close(fds[0]);
        close(fds[1]);
        close(err);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    outFd = fds[0];
    return pid;
}

int finish(pid_t pid, int outFd, std::string& out) {
    char buffer[4096];
    ssize_t n;
    while ((n = read(outFd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
    close(outFd);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

result_t run(const std::vector<std::string>& args, const std::string& cwd) {
    result_t r;
    const std::string errPath = cwd + "/.stderr";
    int outFd = -1;
    pid_t pid = start(args, cwd, outFd, errPath);
    r.status = finish(pid, outFd, r.out);
    r.err = slurp(errPath);
    unlink(errPath.c_str());
    return r;
}

// One line of tests/data/host_refs.txt: reference file and arguments.
struct reference_t {
    std::string file;
    std::vector<std::string> args;
};

std::vector<reference_t> references() {
    std::vector<reference_t> refs;
    std::ifstream in(dataDir + "/host_refs.txt");
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        reference_t r;
        words >> r.file;
        for (std::string w; words >> w;) {
            std::size_t at = w.find("@DATA@");
            if (at != std::string::npos) w.replace(at, 6, dataDir);
            r.args.push_back(w);
        }
        refs.push_back(r);
    }
    return refs;
}

class hostProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (program.empty() || std::string(VEXLAR_HOST_PLUGIN_DIR).empty())
            GTEST_SKIP() << "the program or the plug-ins are not part of this build";
    }
    tempDir_t dir;
};

// Renders `args` into dir/name.png (quietly) and decodes it.
image_t render(const tempDir_t& dir, std::vector<std::string> args, const std::string& name = "out.png") {
    args.insert(args.begin(), {"-q", "-o", dir.path + "/" + name});
    result_t r = run(args, dir.path);
    EXPECT_EQ(r.status, 0) << r.err;
    image_t img;
    EXPECT_TRUE(readPng(dir.path + "/" + name, img)) << name;
    return img;
}

} // namespace

TEST_F(hostProgram, rendersMatchTheReferenceImages) {
    std::vector<reference_t> refs = references();
    ASSERT_FALSE(refs.empty());
    for (const reference_t& ref : refs) {
        SCOPED_TRACE(ref.file);
        image_t want;
        ASSERT_TRUE(readPng(dataDir + "/" + ref.file, want))
            << "missing reference; create it with scripts/regen-refs.sh";
        image_t got = render(dir, ref.args);
        ASSERT_EQ(got.width, want.width);
        ASSERT_EQ(got.height, want.height);
        // Allow for small changes of rounding in the renderer: every channel
        // within 8 levels except on a few pixels, and a tiny mean difference.
        long far = 0, total = 0;
        for (std::size_t i = 0; i < got.rgba.size(); ++i) {
            int d = std::abs(int(got.rgba[i]) - int(want.rgba[i]));
            total += d;
            far += d > 8;
        }
        EXPECT_LE(far, static_cast<long>(got.rgba.size() / 500))
            << far << " channel values differ by more than 8";
        EXPECT_LT(double(total) / double(got.rgba.size()), 1.0);
    }
}

TEST_F(hostProgram, oneAndTwoWorkersGiveTheSameImage) {
    image_t one = render(dir, {"-j", "1", dataDir + "/host_small.json"}, "one.png");
    image_t two = render(dir, {"-j", "2", dataDir + "/host_small.json"}, "two.png");
    ASSERT_EQ(one.width, 150);
    ASSERT_EQ(one.height, 100);
    EXPECT_TRUE(one.rgba == two.rgba);
}

TEST_F(hostProgram, theSeedFixesTheRandomSamples) {
    // A lens aperture draws random numbers for every camera ray.
    auto with = [&](const std::string& seed) {
        return std::vector<std::string>{"--seed",
                                        seed,
                                        "-j",
                                        "1",
                                        "--set",
                                        "camera.aperture=0.1",
                                        "--set",
                                        "render.antialiasing.passes=0",
                                        dataDir + "/host_small.json"};
    };
    image_t a = render(dir, with("5"), "a.png");
    image_t b = render(dir, with("5"), "b.png");
    image_t c = render(dir, with("6"), "c.png");
    EXPECT_TRUE(a.rgba == b.rgba);
    EXPECT_FALSE(a.rgba == c.rgba);
}

TEST_F(hostProgram, flatColoursLandOnTheirPixels) {
    image_t img = render(dir, {"-j", "1", dataDir + "/host_flat.json"});
    ASSERT_EQ(img.width, 40);
    ASSERT_EQ(img.height, 30);
    // 0.75 0.25 0.5 -> the rounded sRGB bytes; the background is transparent.
    auto pixel = [&](int x, int y) { return std::vector<int>(img.at(x, y), img.at(x, y) + 4); };
    EXPECT_EQ(pixel(20, 15), (std::vector<int>{225, 137, 188, 255}));
    for (auto xy : {std::make_pair(0, 0), std::make_pair(39, 29), std::make_pair(39, 0)})
        EXPECT_EQ(pixel(xy.first, xy.second), (std::vector<int>{137, 188, 225, 0}));
}

TEST_F(hostProgram, regionRendersOnlyItsRectangleAndTheSamePixels) {
    const std::string scene = dataDir + "/host_small.json";
    image_t full =
        render(dir, {"-j", "1", "--set", "render.antialiasing.passes=0", "--alpha", scene}, "full.png");
    image_t part = render(dir,
                          {"-j", "2", "--set", "render.antialiasing.passes=0", "--alpha", "--region", "40",
                           "110", "20", "70", scene},
                          "part.png");
    ASSERT_EQ(part.width, 150);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 150; ++x) {
            bool inside = x >= 40 && x < 110 && y >= 20 && y < 70;
            for (int c = 0; c < 4; ++c) {
                int want = inside ? full.at(x, y)[c] : 0;
                ASSERT_EQ(part.at(x, y)[c], want) << x << "," << y << " channel " << c;
            }
        }
}

TEST_F(hostProgram, tgaOutputAndSizeOverride) {
    result_t r = run({"-q", "--size", "32x24", "-o", "small.tga", dataDir + "/host_flat.json"}, dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string tga = slurp(dir.path + "/small.tga");
    EXPECT_EQ(tga.size(), 18u + 32u * 24u * 4u); // the scene asks for alpha
    image_t img = render(dir, {"--set", "camera.resolution=[20, 10]", dataDir + "/host_flat.json"});
    EXPECT_EQ(img.width, 20);
    EXPECT_EQ(img.height, 10);
}

TEST_F(hostProgram, outputDefaultsToTheSceneThenRenderPng) {
    // host_flat.json names flat.png: relative to the scene file's folder.
    std::string scene = dir.write("scene.json", slurp(dataDir + "/host_flat.json"));
    result_t r = run({"-q", scene}, dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(dir.path + "/flat.png"));
    std::string noOutput = dir.write("plain.json", R"({"camera": {"resolution": [8, 8]}})");
    mkdir((dir.path + "/sub").c_str(), 0755);
    r = run({noOutput}, dir.path + "/sub");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(dir.path + "/sub/render.png"));
    EXPECT_TRUE(contains(r.out, "vexlar: wrote render.png (8 x 8)"));
}

TEST_F(hostProgram, theDemoRendersWithoutASceneFile) {
    result_t r = run({"-q", "--size", "64x48", "-o", "demo.png"}, dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
    image_t img;
    ASSERT_TRUE(readPng(dir.path + "/demo.png", img));
    EXPECT_EQ(img.width, 64);
    // Not a blank picture: many different colours.
    std::vector<bool> seen(1 << 15);
    int distinct = 0;
    for (int i = 0; i < img.width * img.height; ++i) {
        const unsigned char* p = img.rgba.data() + 4 * i;
        int key = (p[0] >> 3) << 10 | (p[1] >> 3) << 5 | (p[2] >> 3);
        if (!seen[static_cast<std::size_t>(key)]) ++distinct;
        seen[static_cast<std::size_t>(key)] = true;
    }
    EXPECT_GT(distinct, 50);
}

TEST_F(hostProgram, failuresPrintOneLineAndKeepTheEarlierImage) {
    const std::string target = dir.path + "/out.png";
    std::ofstream(target) << "earlier image";
    struct case_t {
        std::string scene;
        std::vector<std::string> extra;
        std::string message;
    };
    const std::string bad = "bad.json";
    std::vector<case_t> cases = {
        {"",
         {"missing.json"},
         "vexlar: error: cannot read scene file \"missing.json\": No such file or directory"},
        {"{\n  \"camera\": {\n    \"focal\": 1.0,\n  }\n}", {}, "bad.json:4:3: error: invalid JSON: "},
        {R"({"shaders": {"glass": {"type": "glas"}}})",
         {},
         "bad.json:1:32: error: shaders.glass.type: unknown shader type \"glas\" (known: constant, generic, pbr)"},
        {R"({"objects": {"m": {"type": "mesh", "file": "nowhere.obj"}}})",
         {},
         "error: objects.m.file: cannot read mesh file \"" + dir.path +
             "/nowhere.obj\": No such file or directory"},
        {R"({"objects": {"b": {"type": "sphere"}, "i": {"type": "instance", "of": "b",
            "transform": {"scale": [1, 1, 0]}}}})",
         {},
         "error: objects.i.transform.scale: a scale of 0 flattens the object"},
        {R"({"objects": {"b": {"type": "sphere"}, "i": {"type": "instance", "of": "b",
            "transform": {"matrix": [1,0,0,0, 0,1,0,0, 0,0,0,0, 0,0,0,1]}}}})",
         {},
         "error: objects.i.transform: the transform is singular"},
        {"{}",
         {"--plugins", dir.path + "/none"},
         "vexlar: error: --plugins \"" + dir.path + "/none\": not a folder"},
        {"{}",
         {"-o", "picture.jpg"},
         "vexlar: error: cannot write \"picture.jpg\": unsupported image format"},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> args = {"-q"};
        for (const std::string& e : c.extra) args.push_back(e);
        if (!c.scene.empty()) args.push_back(dir.write(bad, c.scene));
        bool hasOutput = false;
        for (const std::string& a : args) hasOutput = hasOutput || a == "-o";
        if (!hasOutput) args.insert(args.end() - (c.scene.empty() ? 0 : 1), {"-o", target});
        result_t r = run(args, dir.path);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        // One line (warnings about the shaderless sphere aside).
        EXPECT_EQ(
            std::count(r.err.begin(), r.err.end(), '\n') - (contains(r.err, "has no \"shader\"") ? 1 : 0), 1)
            << r.err;
        EXPECT_EQ(slurp(target), "earlier image");
    }
    // Nothing but the scene and the earlier image: no temporary files.
    EXPECT_EQ(dir.files().size(), 2u);

    result_t unwritable = run({"-o", dir.path + "/no/such/dir/x.png", dataDir + "/host_flat.json"}, dir.path);
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_TRUE(contains(unwritable.err, "vexlar: error: cannot write \"" + dir.path +
                                             "/no/such/dir/x.png\": No such file or directory"))
        << unwritable.err;
    // Found out before rendering.
    EXPECT_FALSE(contains(unwritable.out, "Render pass")) << unwritable.out;

    result_t usage = run({"--workers", "0"}, dir.path);
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(std::count(usage.err.begin(), usage.err.end(), '\n'), 1);
}

TEST_F(hostProgram, strictTurnsWarningsIntoAnError) {
    std::string scene = dir.write("w.json", R"({"camera": {"resolution": [8, 8]},
        "shaders": {"s": {"type": "constant", "colour_typo": [1, 0, 0]}}})");
    result_t lax = run({"-q", scene}, dir.path);
    EXPECT_EQ(lax.status, 0);
    EXPECT_TRUE(contains(lax.err,
                         "w.json:2:62: warning: shaders.s.colour_typo: unused parameter: the shader type "
                         "\"constant\" does not read it"))
        << lax.err;
    unlink((dir.path + "/render.png").c_str());
    result_t strict = run({"-q", "--strict", scene}, dir.path);
    EXPECT_EQ(strict.status, 1);
    EXPECT_TRUE(contains(strict.err, "vexlar: error: 1 warning with --strict")) << strict.err;
    EXPECT_FALSE(exists(dir.path + "/render.png"));
}

TEST_F(hostProgram, informationOptions) {
    result_t help = run({"--help"}, dir.path);
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(contains(help.out, "--workers"));
    result_t version = run({"--version"}, dir.path);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("vexlar ", 0), 0u);
    result_t list = run({"--list-plugins"}, dir.path);
    EXPECT_EQ(list.status, 0);
    for (const char* type :
         {"generic", "constant", "point", "sun", "spot", "image", "clouds", "checker", "gradient"})
        EXPECT_TRUE(contains(list.out, type)) << type;
    result_t stats = run({"-q", "--stats", dataDir + "/host_flat.json", "-o", "s.png"}, dir.path);
    EXPECT_EQ(stats.status, 0);
    for (const char* line :
         {"Statistics (40 x 30 pixels", "render", "write", "total", "mesh rays", "counters: rays"})
        EXPECT_TRUE(contains(stats.out, line)) << stats.out;
}

namespace {

// Starts a render far too big to finish soon, waits until its render pass
// has begun, sends SIGINT and checks what is left.
void interruptRender(const tempDir_t& dir, const std::string& workers) {
    const std::string errPath = dir.path + "/.stderr";
    int outFd = -1;
    pid_t pid = start({"-j", workers, "--size", "4000x3000", "--set", "render.antialiasing.passes=4", "--set",
                       "render.antialiasing.samples=16", "-o", "big.png", dataDir + "/host_small.json"},
                      dir.path, outFd, errPath);
    ASSERT_GT(pid, 0);
    // Off a terminal the display announces the render pass with a line.
    std::string out;
    for (int wait = 0; wait < 6000 && !contains(slurp(errPath), "Render pass: "); ++wait) usleep(10000);
    ASSERT_TRUE(contains(slurp(errPath), "Render pass: ")) << slurp(errPath);
    kill(pid, SIGINT);
    int status = finish(pid, outFd, out);
    std::string err = slurp(errPath);
    EXPECT_EQ(status, 130) << err;
    EXPECT_TRUE(
        contains(err, "vexlar: error: interrupted; the blocks finished so far are in \"big.partial.png\""))
        << err;
    EXPECT_FALSE(exists(dir.path + "/big.png"));
    image_t partial;
    ASSERT_TRUE(readPng(dir.path + "/big.partial.png", partial));
    EXPECT_EQ(partial.width, 4000);
    EXPECT_EQ(partial.height, 3000);
    unlink(errPath.c_str());
    // Only the partial image: no temporary file is left.
    EXPECT_EQ(dir.files().size(), 1u);
}

} // namespace

TEST_F(hostProgram, ctrlCSavesAPartialImageInProcess) {
    interruptRender(dir, "1");
}

TEST_F(hostProgram, ctrlCSavesAPartialImageWithWorkers) {
    interruptRender(dir, "2");
}
