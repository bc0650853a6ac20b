// The image plug-ins' picture reader against independent decoders (Pillow;
// m * 2^(e - 136) for RGBE, computed in Python), OpenEXR files the program
// writes (scan lines, and tiles made by exrmaketiled), sRGB decoding, the
// messages for bad files, and the wrap modes of the texel look-ups.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "common/envmap.h"
#include "common/imageread.h"
#include "common/texelsample.h"
#include "host/imagewrite.h"
#include "test_support.h"

using namespace vexlar;
using namespace vexlar::plugins;
using support::contains;
using support::slurp;
using support::tempDir_t;

namespace {

// The pictures of tests/scripts/make_pictures.py, made once.
const tempDir_t& pictures() {
    static tempDir_t dir;
    static bool made = false;
    if (!made) {
        made = true;
        const std::string python = VEXLAR_TEST_PYTHON;
        EXPECT_FALSE(python.empty()) << "no Python with Pillow and numpy; run scripts/install-deps.sh";
        std::string cmd = python + " " VEXLAR_SOURCE_DIR "/tests/scripts/make_pictures.py " + dir.path;
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    return dir;
}

std::vector<float> floats(const std::string& path) {
    std::string bytes = slurp(path);
    std::vector<float> v(bytes.size() / 4);
    std::memcpy(v.data(), bytes.data(), v.size() * 4);
    return v;
}

texelImage_t read(const std::string& path, bool srgb = false) {
    texelImage_t img;
    std::string error;
    EXPECT_TRUE(readImage(path, readOptions_t{srgb, true}, img, error)) << path << ": " << error;
    return img;
}

void expectTexels(const texelImage_t& got, const std::vector<float>& want, float tolerance,
                  const std::string& what) {
    ASSERT_EQ(got.rgba.size(), want.size()) << what;
    for (std::size_t i = 0; i < want.size(); ++i)
        ASSERT_NEAR(got.rgba[i], want[i], tolerance)
            << what << " texel " << i / 4 % got.width << "," << i / 4 / got.width << " channel " << i % 4;
}

} // namespace

TEST(imageReader, EveryFormatGivesTheIndependentDecodersTexels) {
    const struct {
        const char* file;
        int width;
        float tolerance;
        bool srgb = false; // sRGB decoding, which linear files never get (integer files: imagePlugins)
    } cases[] = {{"rgba.png", 7, 0},     {"grey.png", 7, 0},        {"palette.png", 7, 0},
                 {"grey16.png", 7, 0},   {"rgb.tga", 7, 0},         {"rle.tga", 7, 0},
                 {"flat.hdr", 9, 0},     {"rle.hdr", 9, 0},         {"flat.hdr", 9, 0, true},
                 {"bottomup.hdr", 9, 0}, {"rgb.jpg", 7, 2.5f / 255}}; // JPEG decoders may round differently
    for (const auto& c : cases) {
        const std::string path = pictures().path + "/" + c.file;
        texelImage_t img = read(path, c.srgb);
        EXPECT_EQ(img.width, c.width) << c.file;
        expectTexels(img, floats(path + ".f32"), c.tolerance, c.file);
        EXPECT_FLOAT_EQ(img.intensity[3], (img.rgba[12] + img.rgba[13] + img.rgba[14]) / 3) << c.file;
    }
}

TEST(imageReader, SrgbDecodingAtKnownPoints) {
    const struct {
        float encoded, linear;
    } points[] = {{0, 0}, {0.04045f, 0.0031308f}, {0.5f, 0.2140411f}, {1, 1}, {10.0f / 255, 0.0030353f}};
    for (const auto& p : points) EXPECT_NEAR(srgbDecode(p.encoded), p.linear, 2e-7f) << p.encoded;
}

TEST(imageReader, OpenExrFilesInScanLinesAndTiles) {
    if (!host::formatInfo(host::imageFormat_t::exr)->available) GTEST_SKIP() << "built without OpenEXR";
    tempDir_t dir;
    host::floatImage_t picture(3, 2);
    const float values[] = {0.5f, 0.25f, 2.0f, 1.0f, 1e-3f, 100.0f, 3.5f, 0.5f};
    for (std::size_t i = 0; i < picture.rgba.size(); ++i) picture.rgba[i] = values[i % 8] * float(1 + i / 8);
    const host::outputSettings_t settings{host::outputColor_t(), 32};
    std::string error;
    ASSERT_TRUE(host::saveImage(dir.path + "/a.exr", picture, nullptr, settings, error)) << error;
    std::vector<float> want = picture.rgba;
    for (std::size_t i = 3; i < want.size(); i += 4) want[i] = 1; // no alpha channel written
    expectTexels(read(dir.path + "/a.exr"), want, 0, "scan lines");
    const std::string tile =
        "exrmaketiled -t 2 2 '" + dir.path + "/a.exr' '" + dir.path + "/t.exr' >/dev/null";
    ASSERT_EQ(std::system(tile.c_str()), 0) << "exrmaketiled (Debian openexr) is needed";
    expectTexels(read(dir.path + "/t.exr"), want, 0, "tiles");
}

TEST(imageReader, BadFilesNameTheirProblem) {
    tempDir_t dir;
    const std::string hdr = slurp(pictures().path + "/flat.hdr");
    const struct {
        const char* name;
        std::string content;
        const char* message;
    } cases[] = {
        {"empty.png", "", "the file is empty"},
        {"text.png", "hello, world", "unknown image format: the file starts like none of PNG"},
        {"cut.jpg", "\xff\xd8\xff\xe0 nothing", "corrupt or unsupported JPEG file ("},
        {"zero.tga", std::string(18, '\0'), "TGA file: Targa type not supported"},
        {"xyz.hdr", "#?RADIANCE\nFORMAT=32-bit_rle_xyze\n\n-Y 1 +X 1\nabcd",
         "pixel format \"32-bit_rle_xyze\""},
        {"turned.hdr", "#?RADIANCE\n\n+X 2 -Y 1\nabcdabcd", "unsupported resolution line \"+X 2 -Y 1\""},
        {"cut.hdr", hdr.substr(0, hdr.size() - 10), "the file ends inside the pixels (row 2)"},
        {"cut.exr", "\x76\x2f\x31\x01\x02", "OpenEXR file"},
        {"none/missing.png", "", "No such file or directory"}, // no folder none/: nothing is written
    };
    for (const auto& c : cases) {
        texelImage_t img;
        std::string error;
        EXPECT_FALSE(readImage(dir.write(c.name, c.content), readOptions_t(), img, error)) << c.name;
        EXPECT_TRUE(contains(error, c.message)) << c.name << ": " << error;
    }
}

TEST(texelSampling, WrapModesFoldIndicesAndBordersBlendAcrossThem) {
    const struct {
        long long i;
        wrap_t mode;
        long long want;
    } indices[] = {{-1, wrap_t::repeat, 2}, {3, wrap_t::repeat, 0}, {7, wrap_t::repeat, 1},
                   {-5, wrap_t::clamp, 0},  {9, wrap_t::clamp, 2},  {-1, wrap_t::mirror, 0},
                   {3, wrap_t::mirror, 2},  {4, wrap_t::mirror, 1}, {6, wrap_t::mirror, 0},
                   {-4, wrap_t::mirror, 2}};
    for (const auto& c : indices) EXPECT_EQ(wrapIndex(c.i, 3, c.mode), c.want) << c.i;

    // Two texels, 0 and 1; centres at u = 0.25 and 0.75.
    const float row[2] = {0, 1};
    const texelGrid_t grid{row, 1, 2, 1};
    const struct {
        double u;
        float repeat, clamp, mirror;
    } points[] = {{0.0, 0.5f, 0, 0}, {1.0, 0.5f, 1, 1}, {0.25, 0, 0, 0},       {0.5, 0.5f, 0.5f, 0.5f},
                  {-0.25, 1, 0, 0},  {1.25, 0, 1, 1},   {1e9 + 0.75, 1, 1, 1}, {NAN, 0, 0, 0}};
    for (const auto& p : points) {
        const float want[3] = {p.repeat, p.clamp, p.mirror};
        const wrap_t modes[3] = {wrap_t::repeat, wrap_t::clamp, wrap_t::mirror};
        for (int m = 0; m < 3; ++m) {
            float got = -1;
            sampleBilinear(grid, p.u, 0.5, modes[m], wrap_t::clamp, &got);
            EXPECT_FLOAT_EQ(got, want[m]) << "u " << p.u << " mode " << m;
        }
    }
    float got = -1;
    sampleNearest(grid, -0.1, 0.5, wrap_t::repeat, wrap_t::clamp, &got);
    EXPECT_EQ(got, 1);
    sampleNearest(grid, -0.1, 0.5, wrap_t::mirror, wrap_t::clamp, &got);
    EXPECT_EQ(got, 0);
}

TEST(environmentMap, KnownDirectionsLandOnKnownPositionsAndBack) {
    // Zenith +y (as in the demo scene), turned 90 degrees from x: front -z,
    // side = up x front = -x.
    const envFrame_t f = makeEnvFrame(vector3d_t(0, 2, 0), 90);
    EXPECT_NEAR(f.front.z, -1, 1e-6);
    EXPECT_NEAR(f.side.x, -1, 1e-6);
    const vector3d_t front = f.front, side = f.side, up = f.up, back = -f.front, left = -f.side, down = -f.up;
    const double ballTop = 0.5 - 0.5 * std::sqrt(0.5), ballSide = 0.5 + 0.5 * std::sqrt(0.5);
    const envMapping_t ll = envMapping_t::latlong, an = envMapping_t::angular, mb = envMapping_t::mirrorball;
    const struct {
        envMapping_t m;
        vector3d_t d;
        double u, v;
    } cases[] = {{ll, front, 0.5, 0.5}, {ll, side, 0.25, 0.5},  {ll, left, 0.75, 0.5},
                 {ll, up, 0.5, 0},      {ll, down, 0.5, 1},     {an, front, 0.5, 0.5},
                 {an, up, 0.5, 0.25},   {an, left, 0.75, 0.5},  {an, back, 1, 0.5},
                 {mb, front, 0.5, 0.5}, {mb, up, 0.5, ballTop}, {mb, side, ballSide, 0.5}};
    for (const auto& c : cases) {
        double u = -1, v = -1;
        ASSERT_TRUE(directionToPosition(c.m, f, c.d, u, v));
        EXPECT_NEAR(u, c.u, 1e-6) << int(c.m) << " " << c.d.x << "," << c.d.y << "," << c.d.z;
        EXPECT_NEAR(v, c.v, 1e-6) << int(c.m) << " " << c.d.x << "," << c.d.y << "," << c.d.z;
    }
    // Positions to directions and back, all over each picture.
    for (envMapping_t m : {ll, an, mb})
        for (double u = 0.05; u < 1; u += 0.1)
            for (double v = 0.05; v < 1; v += 0.1) {
                vector3d_t d;
                if (!positionToDirection(m, f, u, v, d)) {
                    EXPECT_NE(m, envMapping_t::latlong);
                    EXPECT_GT(std::hypot(u - 0.5, v - 0.5), 0.5);
                    continue;
                }
                double u2, v2;
                ASSERT_TRUE(directionToPosition(m, f, d, u2, v2));
                EXPECT_NEAR(u2, u, 2e-6) << int(m);
                EXPECT_NEAR(v2, v, 2e-6) << int(m);
            }
    double u, v;
    EXPECT_FALSE(directionToPosition(envMapping_t::latlong, f, vector3d_t(0, 0, 0), u, v));
}
