// The vexlar program's pixel sink and image files: clamping, the render
// rectangle, refusal after a stop request, PNG and TGA contents, atomic
// replacement and partial-file names.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "host/imagesink.h"
#include "host/imagewrite.h"
#include "host/stats.h"
#include "host_png.h"
#include "test_support.h"

using namespace vexlar;
using namespace vexlar::host;
using namespace support;

namespace {

const float* px(const floatImage_t& b, int x, int y) {
    return b.at(x, y);
}

std::vector<float> rgba(const imageSink_t& s, int x, int y) {
    return std::vector<float>(px(s.colour, x, y), px(s.colour, x, y) + 4);
}

} // namespace

TEST(hostSink, storesBytesClampedAndDepthWithoutMisses) {
    pixelRect_t all{0, 4, 0, 3};
    imageSink_t sink(4, 3, all, nullptr);
    // Fresh: black, transparent, far.
    EXPECT_EQ(px(sink.colour, 3, 2)[3], 0);
    EXPECT_EQ(sink.depth(3, 2), noHitDepth);
    EXPECT_TRUE(sink.putPixel(1, 1, color_t(0.5f, 2.0f, -1.0f), 1.0f, 3.5f));
    EXPECT_EQ(rgba(sink, 1, 1), (std::vector<float>{0.5f, 2.0f, 0, 1})) << "kept as floats, negatives 0";
    EXPECT_FLOAT_EQ(sink.depth(1, 1), 3.5f);
    // Not-a-number and infinities must not reach the byte conversion.
    EXPECT_TRUE(sink.putPixel(2, 1, color_t(NAN, INFINITY, -INFINITY), NAN, -1.0f));
    EXPECT_EQ(rgba(sink, 2, 1), (std::vector<float>{0, FLT_MAX, 0, 0}));
    EXPECT_EQ(sink.depth(2, 1), noHitDepth);
    // Outside the image: ignored, the render goes on.
    EXPECT_TRUE(sink.putPixel(4, 0, color_t(1, 1, 1), 1, 1));
    EXPECT_TRUE(sink.putPixel(-1, 0, color_t(1, 1, 1), 1, 1));
    EXPECT_EQ(sink.stored(), 2u);
    EXPECT_TRUE(sink.flush());
    EXPECT_FALSE(sink.aborted());
}

TEST(hostSink, keepsOnlyTheRenderRectangle) {
    imageSink_t sink(4, 4, pixelRect_t{1, 3, 2, 4}, nullptr);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) sink.putPixel(x, y, color_t(1, 1, 1), 1, 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            bool inside = x >= 1 && x < 3 && y >= 2 && y < 4;
            EXPECT_EQ(px(sink.colour, x, y)[0], inside ? 1 : 0) << x << "," << y;
            EXPECT_EQ(px(sink.colour, x, y)[3], inside ? 1 : 0) << x << "," << y;
        }
    EXPECT_EQ(sink.stored(), 4u);
}

TEST(hostSink, refusesEveryPixelOnceAStopIsRequested) {
    volatile std::sig_atomic_t stop = 0;
    imageSink_t sink(2, 2, pixelRect_t{0, 2, 0, 2}, &stop);
    EXPECT_TRUE(sink.putPixel(0, 0, color_t(1, 0, 0), 1, 1));
    stop = 1;
    EXPECT_FALSE(sink.putPixel(1, 0, color_t(1, 0, 0), 1, 1));
    EXPECT_TRUE(sink.aborted());
    EXPECT_EQ(px(sink.colour, 1, 0)[0], 0);
    EXPECT_EQ(sink.stored(), 1u);
}

TEST(hostImage, namesAndFormats) {
    EXPECT_EQ(formatOf("dir.x/A.PNG"), imageFormat_t::png);
    EXPECT_EQ(formatOf("b.Tga"), imageFormat_t::tga);
    EXPECT_EQ(formatOf("c.jpg"), imageFormat_t::unknown);
    EXPECT_EQ(formatOf("dir.png/c"), imageFormat_t::unknown);
    EXPECT_EQ(partialName("render.png"), "render.partial.png");
    EXPECT_EQ(partialName("out/a.b.tga"), "out/a.b.partial.tga");
    EXPECT_EQ(partialName("d.x/name"), "d.x/name.partial");
}

TEST(hostImage, pngRoundTripWithAndWithoutAlpha) {
    tempDir_t dir;
    cBuffer_t img(3, 2);
    for (int i = 0; i < 24; ++i) img.data[i] = static_cast<unsigned char>(i * 10 + 1);
    for (bool alpha : {false, true}) {
        std::string path = dir.path + (alpha ? "/a.png" : "/b.png");
        std::string error;
        ASSERT_TRUE(saveImage(path, img, alpha, error)) << error;
        image_t png;
        ASSERT_TRUE(readPng(path, png));
        EXPECT_EQ(png.width, 3);
        EXPECT_EQ(png.height, 2);
        for (int i = 0; i < 24; ++i) {
            unsigned char want = (!alpha && i % 4 == 3) ? 255 : static_cast<unsigned char>(i * 10 + 1);
            EXPECT_EQ(png.rgba[static_cast<std::size_t>(i)], want) << i;
        }
    }
    // Only the two images: no temporary file left behind.
    EXPECT_EQ(dir.files().size(), 2u);
}

TEST(hostImage, tgaFileBytes) {
    tempDir_t dir;
    cBuffer_t img(2, 1);
    const unsigned char pixels[8] = {255, 0, 0, 128, 0, 0, 255, 255};
    std::copy(pixels, pixels + 8, img.data);
    std::string error;
    ASSERT_TRUE(saveImage(dir.path + "/x.tga", img, false, error)) << error;
    const std::string plain = slurp(dir.path + "/x.tga");
    const unsigned char want[] = {0, 0, 2, 0, 0,  0,  0, 0, 0,   0,   0, 0,
                                  2, 0, 1, 0, 24, 32, 0, 0, 255, 255, 0, 0};
    ASSERT_EQ(plain.size(), sizeof want);
    for (std::size_t i = 0; i < sizeof want; ++i)
        EXPECT_EQ(static_cast<unsigned char>(plain[i]), want[i]) << i;
    ASSERT_TRUE(saveImage(dir.path + "/y.tga", img, true, error)) << error;
    const std::string withAlpha = slurp(dir.path + "/y.tga");
    ASSERT_EQ(withAlpha.size(), 26u);
    EXPECT_EQ(static_cast<unsigned char>(withAlpha[16]), 32);
    EXPECT_EQ(static_cast<unsigned char>(withAlpha[17]), 0x28);
    EXPECT_EQ(static_cast<unsigned char>(withAlpha[21]), 128);
    EXPECT_EQ(static_cast<unsigned char>(withAlpha[25]), 255);
}

TEST(hostImage, failuresLeaveTheTargetAlone) {
    tempDir_t dir;
    cBuffer_t img(2, 2);
    for (int i = 0; i < 16; ++i) img.data[i] = 7;
    const std::string target = dir.path + "/keep.png";
    std::ofstream(target) << "earlier image";
    std::string error;
    EXPECT_FALSE(saveImage(dir.path + "/no/such/folder/x.png", img, false, error));
    EXPECT_EQ(
        error.rfind("cannot write \"" + dir.path + "/no/such/folder/x.png\": No such file or directory", 0),
        0u)
        << error;
    EXPECT_FALSE(saveImage(dir.path + "/x.jpg", img, false, error));
    EXPECT_TRUE(error.find("unsupported image format") != std::string::npos);
    // A temporary file that is dropped never reaches the target.
    {
        atomicFile_t file;
        ASSERT_TRUE(file.open(target, error)) << error;
        EXPECT_EQ(file.tempPath().rfind(dir.path + "/.keep.png.tmp-", 0), 0u);
        ASSERT_TRUE(writeImageTo(file, img, imageFormat_t::png, false, error));
    }
    EXPECT_EQ(slurp(target), "earlier image");
    EXPECT_EQ(dir.files().size(), 1u);
    // Committed: replaced whole, with ordinary permissions.
    atomicFile_t file;
    ASSERT_TRUE(file.open(target, error));
    ASSERT_TRUE(writeImageTo(file, img, imageFormat_t::png, false, error));
    ASSERT_TRUE(file.commit(error)) << error;
    image_t png;
    ASSERT_TRUE(readPng(target, png));
    EXPECT_EQ(png.rgba[0], 7);
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(dir.files().size(), 1u);
}

TEST(hostImage, commitWithoutOpenFails) {
    atomicFile_t file;
    std::string error;
    EXPECT_FALSE(file.commit(error));
    EXPECT_EQ(error, "no temporary file");
}

TEST(hostStats, countersDifferenceWrapsLikeTheCounters) {
    counters_t a, b;
    a.rays = 4294967290u;
    b.rays = 5;
    b.hitted = 10;
    counters_t d = b.since(a);
    EXPECT_EQ(d.rays, 11u);
    EXPECT_EQ(d.hitted, 10u);
    phaseClock_t clock;
    EXPECT_EQ(clock.seconds("render"), 0.0);
}
