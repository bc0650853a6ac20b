// The built vexlar program run on small scenes: images against references
// (decoded by libpng), messages, exit statuses, and Ctrl-C. Known colours in
// every output format are read back by Pillow in scripts/output_formats.py.
#include "host_png.h"
#include "test_support.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using namespace support;

const std::string program = VEXLAR_HOST_PROGRAM;
const std::string dataDir = VEXLAR_TEST_DATA_DIR;

struct result_t {
    int status = -1;
    std::string out, err;
};

// Starts the program in `cwd`, its standard output and error going to the
// files .stdout and .stderr there.
pid_t start(const std::vector<std::string>& args, const std::string& cwd) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open((cwd + "/.stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((cwd + "/.stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(cwd.c_str()) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

// Waits for the program started in `cwd`: its exit status (128 + the signal
// that ended it) and what it printed; the output files are removed.
result_t finish(pid_t pid, const std::string& cwd) {
    int status = 0;
    waitpid(pid, &status, 0);
    result_t r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(cwd + "/.stdout");
    r.err = slurp(cwd + "/.stderr");
    unlink((cwd + "/.stdout").c_str());
    unlink((cwd + "/.stderr").c_str());
    return r;
}

// The words of `line`, @DATA@ standing for tests/data.
std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w; out.push_back(w))
        if (w.find("@DATA@") != std::string::npos) w.replace(w.find("@DATA@"), 6, dataDir);
    return out;
}

result_t run(const std::vector<std::string>& args, const std::string& cwd) {
    return finish(start(args, cwd), cwd);
}

class hostProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (program.empty() || std::string(VEXLAR_HOST_PLUGIN_DIR).empty())
            GTEST_SKIP() << "the program or the plug-ins are not part of this build";
    }
    // Renders with the arguments in `line` (@DATA@ is tests/data) into dir/name, silently, and decodes it.
    image_t render(const std::string& line, const std::string& name = "out.png") {
        const result_t r = run(words("-q -o " + dir.path + "/" + name + " " + line), dir.path);
        EXPECT_TRUE(r.status == 0 && r.out.empty() && r.err.empty()) << r.status << ": " << r.err;
        image_t img;
        EXPECT_TRUE(readPng(dir.path + "/" + name, img)) << name;
        return img;
    }
    tempDir_t dir;
};

std::vector<int> pixel(const image_t& img, int x, int y) {
    return std::vector<int>(img.at(x, y), img.at(x, y) + 4);
}

} // namespace

TEST_F(hostProgram, RendersMatchTheReferences) {
    // tests/data/host_refs.txt: reference file and arguments (@DATA@ is tests/data).
    std::ifstream refs(dataDir + "/host_refs.txt");
    int compared = 0;
    for (std::string line; std::getline(refs, line);) {
        if (line.empty() || line[0] == '#') continue;
        const std::string file = line.substr(0, line.find(' '));
        image_t want, got = render(line.substr(file.size()));
        ASSERT_TRUE(readPng(dataDir + "/" + file, want))
            << "missing reference; create it with scripts/regen-refs.sh";
        ASSERT_TRUE(got.width == want.width && got.height == want.height) << file;
        long far = 0, total = 0; // allow small changes of rounding
        for (std::size_t i = 0; i < got.rgba.size(); ++i) {
            const int d = std::abs(int(got.rgba[i]) - int(want.rgba[i]));
            total += d;
            far += d > 8;
        }
        EXPECT_LE(far, static_cast<long>(got.rgba.size() / 500))
            << file << ": " << far << " values differ by more than 8";
        EXPECT_LT(double(total) / double(got.rgba.size()), 1.0) << file;
        ++compared;
    }
    EXPECT_EQ(compared, 2);
}

TEST_F(hostProgram, WorkersSeedsRegionsSizesAndOutputs) {
    const std::string small = " @DATA@/host_small.json", still = " --set render.antialiasing.passes=0";
    const image_t one = render("-j 1" + small, "one.png"), two = render("-j 2" + small, "two.png");
    EXPECT_TRUE(one.width == 150 && one.height == 100 && one.rgba == two.rgba);
    // A lens aperture draws random numbers for every ray.
    const std::string lens = "-j 1 --set camera.aperture=0.1" + still + " --seed ";
    const image_t a = render(lens + "5" + small, "a.png"), b = render(lens + "5" + small, "b.png");
    const image_t c = render(lens + "6" + small, "c.png");
    EXPECT_TRUE(a.rgba == b.rgba && a.rgba != c.rgba);
    const image_t full = render("-j 1 --alpha" + still + small, "full.png");
    const image_t part = render("-j 2 --alpha --region 40 110 20 70" + still + small, "part.png");
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 150; ++x)
            ASSERT_EQ(pixel(part, x, y),
                      x >= 40 && x < 110 && y >= 20 && y < 70 ? pixel(full, x, y) : std::vector<int>(4, 0))
                << x << "," << y;
    const result_t tga = run(words("-q --size 32x24 -o small.tga @DATA@/host_flat.json"), dir.path);
    ASSERT_EQ(tga.status, 0) << tga.err;
    EXPECT_EQ(slurp(dir.path + "/small.tga").size(), 18u + 32u * 24u * 4u); // the scene asks for alpha
    // The output defaults to the scene's (relative to its folder), then render.png.
    const std::string scene = dir.write("scene.json", slurp(dataDir + "/host_flat.json"));
    EXPECT_EQ(run({"-q", scene}, "/").status, 0);
    EXPECT_NE(slurp(dir.path + "/flat.png"), ""); // written, and not empty
    const std::string plain = dir.write("plain.json", R"({"camera": {"resolution": [8, 8]}})");
    mkdir((dir.path + "/sub").c_str(), 0755);
    const result_t r = run({plain}, dir.path + "/sub");
    EXPECT_TRUE(r.status == 0 && !slurp(dir.path + "/sub/render.png").empty() &&
                contains(r.out, "vexlar: wrote render.png (8 x 8)"))
        << r.err;
}

TEST_F(hostProgram, FailuresPrintOneLineAndKeepTheEarlierImage) {
    const std::string target = dir.path + "/out.png";
    std::ofstream(target) << "earlier image";
    const struct {
        std::string scene;
        std::string extra, message;
    } cases[] = {
        {"", "missing.json",
         "vexlar: error: cannot read scene file \"missing.json\": No such file or directory"},
        {R"({"objects": {"m": {"type": "mesh", "file": "nowhere.obj"}}})", "",
         "error: objects.m.file: cannot read mesh file \"" + dir.path +
             "/nowhere.obj\": No such file or directory"},
        {"{}", "--plugins " + dir.path + "/none",
         "vexlar: error: --plugins \"" + dir.path + "/none\": not a folder"},
        {"{}", "-o picture.jpg", "vexlar: error: cannot write \"picture.jpg\": unsupported image format"},
        {"{}", "-o " + dir.path + "/no/dir/x.png",
         "vexlar: error: cannot write \"" + dir.path + "/no/dir/x.png\": No such file or directory"},
        {R"({"camera": {"resolution": [8, 8]}, "shaders": {"s": {"type": "constant", "colour_typo": [1, 0, 0]}}})",
         "--strict", "vexlar: error: 1 warning with --strict"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = words("-q " + c.extra);
        if (std::find(args.begin(), args.end(), "-o") == args.end()) args.insert(args.end(), {"-o", target});
        if (!c.scene.empty()) args.push_back(dir.write("bad.json", c.scene));
        const result_t r = run(args, dir.path);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        EXPECT_FALSE(contains(r.out, "Render pass")) << "found out before rendering: " << c.message;
        const long warnings =
            contains(r.err, "has no \"shader\"") + contains(r.err, "warning: shaders.s.colour_typo");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n') - warnings, 1) << r.err;
        EXPECT_EQ(slurp(target), "earlier image");
    }
    EXPECT_EQ(dir.files().size(), 2u); // the scene and the earlier image: no temporary files
    const result_t lax = run({"-q", dir.path + "/bad.json"}, dir.path); // without --strict: a warning
    EXPECT_TRUE(lax.status == 0 &&
                contains(lax.err, "bad.json:1:89: warning: shaders.s.colour_typo: unused parameter: "
                                  "the shader type \"constant\" does not read it"))
        << lax.err;
    const result_t stats = run(words("-q --stats @DATA@/host_flat.json -o s.png"), dir.path);
    EXPECT_TRUE(stats.status == 0 && contains(stats.out, "Statistics (40 x 30 pixels")) << stats.out;
}

// Starts a render far too big to finish soon, sends SIGINT once its render
// pass has begun and checks what is left (with workers: hostFaults).
TEST_F(hostProgram, CtrlCSavesAPartialImage) {
    const pid_t pid = start(words("-j 1 --size 2000x1500 --set render.antialiasing.passes=4 --set "
                                  "render.antialiasing.samples=16 -o big.png @DATA@/host_small.json"),
                            dir.path);
    ASSERT_GT(pid, 0);
    // Off a terminal the display announces the render pass with a line.
    const std::string errPath = dir.path + "/.stderr";
    for (int wait = 0; wait < 6000 && !contains(slurp(errPath), "Render pass: "); ++wait) usleep(10000);
    ASSERT_TRUE(contains(slurp(errPath), "Render pass: ")) << slurp(errPath);
    kill(pid, SIGINT);
    const result_t r = finish(pid, dir.path);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_TRUE(contains(r.err, "vexlar: error: interrupted; the blocks finished so far are in "
                                "\"big.partial.png\""))
        << r.err;
    image_t partial;
    ASSERT_TRUE(readPng(dir.path + "/big.partial.png", partial));
    EXPECT_TRUE(partial.width == 2000 && partial.height == 1500);
    EXPECT_EQ(dir.files(), std::vector<std::string>{"big.partial.png"}); // no big.png, no temporary file
}
