// The vexlar program's command line, plug-in folders, pixel sink and image
// files: options and usage errors, clamping, the render rectangle, stop
// requests, PNG (read back with libpng) and TGA bytes, atomic replacement.
#include "host/imagesink.h"
#include "host/imagewrite.h"
#include "host/options.h"
#include "host/pluginpaths.h"
#include "vexlarcore/version.h"

#include "host_png.h"
#include "test_support.h"

#include <cfloat>
#include <cmath>
#include <csignal>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

using namespace vexlar;
using namespace vexlar::host;
using namespace support;

namespace {

struct parse_t {
    int status;
    options_t options;
    std::string out, err;
};

parse_t parse(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> args{"vexlar"};
    args.insert(args.end(), std::istream_iterator<std::string>(in), std::istream_iterator<std::string>());
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    parse_t p;
    std::ostringstream out, err;
    p.status = parseOptions(static_cast<int>(argv.size()), argv.data(), p.options, out, err);
    p.out = out.str();
    p.err = err.str();
    return p;
}

std::vector<float> rgba(const imageSink_t& s, int x, int y) {
    const float* p = s.colour.at(x, y);
    return std::vector<float>(p, p + 4);
}

} // namespace

TEST(hostOptions, EveryOptionHelpVersionAndUsageErrors) {
    parse_t d = parse("");
    EXPECT_TRUE(d.status == -1 && d.options.workers == processorCount() && d.options.workers >= 1);
    parse_t p =
        parse("-o x.tga -j 3 --size 320x200 --region 1 2 3 4 --set camera.focal=2 --set output.file=a=b.png "
              "--seed 77 --alpha --plugins /p --plugins /q --strict -q --stats scene.json");
    ASSERT_EQ(p.status, -1) << p.err;
    const options_t& o = p.options;
    EXPECT_TRUE(o.sceneFile == "scene.json" && o.output == "x.tga" && o.workers == 3 && o.width == 320 &&
                o.height == 200);
    EXPECT_TRUE(o.hasRegion && o.region[0] == 1 && o.region[3] == 4 && o.hasSeed && o.seed == 77 &&
                (o.pluginDirs == std::vector<std::string>{"/p", "/q"}));
    EXPECT_TRUE(o.alpha && o.strict && o.quiet && o.stats);
    ASSERT_EQ(o.settings.size(), 2u);
    EXPECT_EQ(o.settings[1],
              std::make_pair(std::string("output.file"), std::string("a=b.png"))); // the first '='
    parse_t f = parse(
        "--region 0 1 0 1 --output=y.png --workers=1 --list-plugins s.json"); // values never swallow the file
    EXPECT_TRUE(f.status == -1 && f.options.sceneFile == "s.json" && f.options.output == "y.png" &&
                f.options.listPlugins);
    parse_t h = parse("--help");
    EXPECT_TRUE(h.status == exitOk && h.out == helpText());
    EXPECT_EQ(parse("--version").out, std::string("vexlar ") + VEXLAR_VERSION + "\n");
    const std::pair<const char*, const char*> bad[] = {
        {"--size 640", "expected WIDTHxHEIGHT"},
        {"--size 0x10", "--size"},
        {"--size 10x70000", "--size: each side must be from 1 to 65535 pixels"},
        {"-j 0", "--workers"},
        {"-j two", "--workers"},
        {"--region 1 2 3", "--region"},
        {"--set novalue", "expected KEY=VALUE"},
        {"--set =3", "expected KEY=VALUE"},
        {"--seed 0", "--seed"},
        {"--bogus", "--bogus"},
        {"a.json b.json", "b.json"}};
    for (const auto& b : bad) { // one line on the error stream, status 2
        const parse_t e = parse(b.first);
        EXPECT_TRUE(e.status == exitUsage && e.err.rfind("vexlar: error: ", 0) == 0 &&
                    contains(e.err, b.second) && e.err.find('\n') == e.err.size() - 1 && e.out.empty())
            << b.first << ": " << e.err;
    }
}

TEST(hostOptions, PluginFoldersBuildTreeFirst) {
    EXPECT_EQ(pluginDirCandidates(std::string(VEXLAR_HOST_BUILD_DIR) + "/vexlar"),
              (std::vector<std::string>{VEXLAR_PLUGIN_BUILD_DIR, VEXLAR_PLUGIN_INSTALL_DIR}));
    EXPECT_EQ(pluginDirCandidates("/opt/vx/bin/vexlar"),
              (std::vector<std::string>{std::string("/opt/vx/bin/../") + VEXLAR_PLUGIN_INSTALL_RELDIR,
                                        VEXLAR_PLUGIN_INSTALL_DIR, VEXLAR_PLUGIN_BUILD_DIR}));
    EXPECT_EQ(findPluginDir({"/no/such/dir", "/tmp", "/"}), "/tmp");
}

TEST(hostSink, ClampsKeepsTheRectangleAndStopsOnRequest) {
    volatile std::sig_atomic_t stop = 0;
    imageSink_t sink(4, 4, pixelRect_t{1, 3, 1, 4}, &stop);
    EXPECT_TRUE(rgba(sink, 3, 2) == (std::vector<float>{0, 0, 0, 0}) &&
                sink.depth(3, 2) == noHitDepth); // fresh
    EXPECT_TRUE(sink.putPixel(1, 1, color_t(0.5f, 2.0f, -1.0f), 1.0f, 3.5f));
    EXPECT_EQ(rgba(sink, 1, 1), (std::vector<float>{0.5f, 2.0f, 0, 1})); // floats, negatives 0
    EXPECT_EQ(sink.depth(1, 1), 3.5f);
    EXPECT_TRUE(sink.putPixel(2, 1, color_t(NAN, INFINITY, -INFINITY), NAN,
                              -1.0f)); // never reach the file conversion
    EXPECT_TRUE(rgba(sink, 2, 1) == (std::vector<float>{0, FLT_MAX, 0, 0}) && sink.depth(2, 1) == noHitDepth);
    EXPECT_TRUE(sink.putPixel(2, 2, color_t(1, 1, 1), 1, INFINITY) && sink.depth(2, 2) == noHitDepth);
    for (int y = -1; y <= 4; ++y) // outside the image or the rectangle: ignored, the render goes on
        for (int x = -1; x <= 4; ++x)
            EXPECT_TRUE((x >= 1 && x < 3 && y >= 1 && y < 4) || sink.putPixel(x, y, color_t(1, 1, 1), 1, 1));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_TRUE((x >= 1 && x < 3 && y >= 1) || rgba(sink, x, y)[3] == 0) << x << "," << y;
    EXPECT_EQ(sink.stored(), 3u);
    stop = 1;
    EXPECT_FALSE(sink.putPixel(1, 3, color_t(1, 0, 0), 1, 1));
    EXPECT_TRUE(sink.aborted() && rgba(sink, 1, 3)[0] == 0 && sink.stored() == 3u);
    EXPECT_EQ(sink.depths(), &sink.depth);
    // Without depths: the colours alone, the last pixel included.
    imageSink_t flat(4, 4, pixelRect_t{0, 4, 0, 4}, nullptr, false);
    EXPECT_TRUE(flat.putPixel(3, 3, color_t(1, 2, 3), 1, 7) && flat.depths() == nullptr &&
                flat.depth.resx == 1);
    EXPECT_EQ(rgba(flat, 3, 3), (std::vector<float>{1, 2, 3, 1}));
}

TEST(hostImage, PngAndTgaFilesWithAndWithoutAlpha) {
    EXPECT_TRUE(formatOf("dir.x/A.PNG") == imageFormat_t::png &&
                formatOf("dir.png/c") == imageFormat_t::unknown);
    EXPECT_EQ(partialName("out/a.b.tga"), "out/a.b.partial.tga");
    EXPECT_EQ(partialName("d.x/name"), "d.x/name.partial");
    tempDir_t dir;
    cBuffer_t img(3, 2);
    for (int i = 0; i < 24; ++i) img.data[i] = static_cast<unsigned char>(i * 10 + 1);
    std::string error;
    for (bool alpha : {false, true}) {
        const std::string path = dir.path + (alpha ? "/a.png" : "/b.png");
        ASSERT_TRUE(saveImage(path, img, alpha, error)) << error;
        image_t png;
        ASSERT_TRUE(readPng(path, png) && png.width == 3 && png.height == 2);
        for (int i = 0; i < 24; ++i)
            EXPECT_EQ(png.rgba[static_cast<std::size_t>(i)], (!alpha && i % 4 == 3) ? 255 : i * 10 + 1) << i;
        EXPECT_EQ(std::system(("pngcheck -q " + path + " > /dev/null").c_str()), 0)
            << "pngcheck refuses " << path;
    }
    cBuffer_t two(2, 1);
    const unsigned char pixels[8] = {255, 0, 0, 128, 0, 0, 255, 255};
    std::copy(pixels, pixels + 8, two.data);
    for (bool alpha : {false, true}) { // bytes straight across, B G R (A)
        ASSERT_TRUE(saveImage(dir.path + "/x.tga", two, alpha, error)) << error;
        const std::string f = slurp(dir.path + "/x.tga");
        const std::string want = alpha ? std::string("\x20\x28\0\0\xff\x80\xff\0\0\xff", 10)
                                       : std::string("\x18\x20\0\0\xff\xff\0\0", 8);
        EXPECT_EQ(f.substr(16), want) << alpha;
    }
    EXPECT_EQ(dir.files().size(), 3u); // no temporary file left behind
}

TEST(hostImage, FailuresLeaveTheTargetAlone) {
    tempDir_t dir;
    cBuffer_t img(2, 2);
    std::fill(img.data, img.data + 16, 7);
    const std::string target = dir.path + "/keep.png";
    std::ofstream(target) << "earlier image";
    std::string error;
    EXPECT_FALSE(saveImage(dir.path + "/no/such/folder/x.png", img, false, error));
    EXPECT_EQ(error.rfind("cannot write \"" + dir.path + "/no/such/folder/x.png\": No such file", 0), 0u)
        << error;
    EXPECT_FALSE(saveImage(dir.path + "/x.jpg", img, false, error));
    EXPECT_TRUE(contains(error, "unsupported image format"));
    {
        atomicFile_t file; // dropped: never reaches the target
        ASSERT_TRUE(file.open(target, error)) << error;
        EXPECT_EQ(file.tempPath().rfind(dir.path + "/.keep.png.tmp-", 0), 0u);
        ASSERT_TRUE(writeImageTo(file, img, imageFormat_t::png, false, error));
    }
    EXPECT_TRUE(slurp(target) == "earlier image" && dir.files().size() == 1u);
    atomicFile_t file; // committed: replaced whole, with ordinary permissions
    ASSERT_TRUE(file.open(target, error) && writeImageTo(file, img, imageFormat_t::png, false, error) &&
                file.commit(error))
        << error;
    image_t png;
    ASSERT_TRUE(readPng(target, png));
    EXPECT_EQ(png.rgba[0], 7);
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(dir.files().size(), 1u);
    atomicFile_t never;
    EXPECT_FALSE(never.commit(error));
    EXPECT_EQ(error, "no temporary file");
}
