#include "vexlarcore/output.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <limits>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace vexlar;

namespace {

typedef std::vector<unsigned char> bytes;

bytes readFile(const std::string& name) {
    std::string s = support::slurp(name);
    return bytes(s.begin(), s.end());
}

bool exists(const std::string& name) {
    struct stat st;
    return stat(name.c_str(), &st) == 0;
}

// Each test writes into its own fresh directory, removed afterwards.
class TgaOutput : public ::testing::Test {
protected:
    std::string path(const std::string& name) { return tmp.path + "/" + name; }
    // Saves, with what was printed on standard output and error.
    struct saved_t {
        bool ok;
        std::string out, err;
    };
    saved_t save(outTga_t& out, const std::string& name) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        bool ok = out.savetga(name.c_str());
        std::string printed = ::testing::internal::GetCapturedStdout();
        return {ok, printed, ::testing::internal::GetCapturedStderr()};
    }
    support::tempDir_t tmp;
};

const bytes header24 = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 24, 32};

} // namespace

TEST(TgaHeader, FixedBytes) {
    const unsigned char want[12] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(TGAHDR[i], want[i]) << i;
}

TEST_F(TgaOutput, RedBlueWithoutAlpha) {
    std::string name = path("rb.tga");
    outTga_t out(2, 1, name.c_str(), false);
    EXPECT_EQ(out.sizex, 2);
    EXPECT_EQ(out.sizey, 1);
    EXPECT_EQ(out.outfile, name);
    EXPECT_EQ(out.alphaBuffer, nullptr);
    EXPECT_TRUE(out.putPixel(0, 0, color_t(1, 0, 0), 1.0f, 3.0f));
    EXPECT_TRUE(out.putPixel(1, 0, color_t(0, 0, 1), 1.0f, -1.0f));
    saved_t r = save(out, name);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, "Saving Targa file as " + name + "\nOK\n");
    bytes want = header24;
    for (unsigned char b : {0, 0, 255, 255, 0, 0}) want.push_back(b);
    EXPECT_EQ(readFile(name), want);
}

TEST_F(TgaOutput, RedBlueWithAlpha) {
    std::string name = path("rba.tga");
    outTga_t out(2, 1, name.c_str(), true);
    ASSERT_NE(out.alphaBuffer, nullptr);
    out.putPixel(0, 0, color_t(1, 0, 0), 1.0f, 0);
    out.putPixel(1, 0, color_t(0, 0, 1), 1.0f, 0);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(out.flush());
    ::testing::internal::GetCapturedStdout();
    bytes want = header24;
    want[16] = 32;
    want[17] = 40;
    for (unsigned char b : {0, 0, 255, 255, 255, 0, 0, 255}) want.push_back(b);
    EXPECT_EQ(readFile(name), want);
}

TEST_F(TgaOutput, AlphaAndColourQuantisation) {
    outTga_t out(4, 1, path("q.tga").c_str(), true);
    out.putPixel(0, 0, color_t(0.5f, 1.5f, -1), -0.5f, 0);
    out.putPixel(1, 0, color_t(0), 2.0f, 0);
    out.putPixel(2, 0, color_t(0), 0.5f, 0);
    out.putPixel(3, 0, color_t(0), std::numeric_limits<float>::quiet_NaN(), 0);
    EXPECT_EQ(bytes(out.data, out.data + 3), (bytes{127, 255, 0})); // truncated
    EXPECT_EQ(bytes(out.alphaBuffer, out.alphaBuffer + 4), (bytes{0, 255, 127, 0}));
}

TEST_F(TgaOutput, UntouchedPixelsAreBlackAndTransparent) {
    std::string name = path("black.tga");
    outTga_t out(3, 2, name.c_str(), true);
    out.putPixel(1, 1, color_t(1, 1, 1), 1, 0);
    ASSERT_TRUE(save(out, name).ok);
    bytes got = readFile(name);
    ASSERT_EQ(got.size(), 18u + 3 * 2 * 4);
    for (std::size_t i = 18; i < got.size(); ++i) {
        // Pixel (1, 1) is the fifth pixel, top row first.
        bool lit = i >= 18 + 4 * 4 && i < 18 + 5 * 4;
        EXPECT_EQ(got[i], lit ? 255 : 0) << i;
    }
}

TEST_F(TgaOutput, RowOrderAndLittleEndianSizes) {
    std::string name = path("big.tga");
    outTga_t out(300, 2, name.c_str(), false);
    out.putPixel(0, 0, color_t(0.2f, 0.4f, 0.6f), 1, 0);
    out.putPixel(299, 1, color_t(1, 0, 0), 1, 0);
    ASSERT_TRUE(save(out, name).ok);
    bytes got = readFile(name);
    ASSERT_EQ(got.size(), 18u + 300 * 2 * 3);
    EXPECT_EQ(bytes(got.begin() + 12, got.begin() + 16), (bytes{300 & 0xff, 1, 2, 0}));
    EXPECT_EQ(bytes(got.begin() + 18, got.begin() + 21), (bytes{153, 102, 51})); // BGR, top-left pixel
    EXPECT_EQ(got.back(), 255); // R of the bottom-right pixel
}

TEST_F(TgaOutput, OutOfRangePixelsAreIgnored) {
    std::string name = path("edge.tga");
    outTga_t out(2, 2, name.c_str(), true);
    for (auto xy : {std::make_pair(-1, 0), std::make_pair(0, -1), std::make_pair(2, 0), std::make_pair(0, 2),
                    std::make_pair(2, 2), std::make_pair(-100000, 100000)})
        EXPECT_TRUE(out.putPixel(xy.first, xy.second, color_t(1, 1, 1), 1, 0));
    EXPECT_EQ(bytes(out.data, out.data + 12), bytes(12, 0));
    EXPECT_EQ(bytes(out.alphaBuffer, out.alphaBuffer + 4), bytes(4, 0));
}

TEST_F(TgaOutput, FlushRewritesTheWholeFile) {
    std::string name = path("again.tga");
    outTga_t out(1, 1, name.c_str(), false);
    out.putPixel(0, 0, color_t(1, 0, 0), 1, 0);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(out.flush());
    out.putPixel(0, 0, color_t(0, 1, 0), 1, 0); // later calls overwrite
    EXPECT_TRUE(out.flush());
    ::testing::internal::GetCapturedStdout();
    bytes got = readFile(name);
    ASSERT_EQ(got.size(), 21u);
    EXPECT_EQ(bytes(got.begin() + 18, got.end()), (bytes{0, 255, 0}));
}

TEST_F(TgaOutput, UnopenableFileFailsQuietly) {
    std::string name = tmp.path + "/missing/dir/x.tga";
    outTga_t out(1, 1, name.c_str(), false);
    saved_t r = save(out, name);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, "Saving Targa file as " + name + "\n");
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(out.flush());
    ::testing::internal::GetCapturedStdout();
}

TEST_F(TgaOutput, FullDiskIsAFailure) {
    if (!exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // Large enough that the data goes past the stdio buffer as well as the
    // buffered tail that only the close writes.
    for (int w : {1, 600}) {
        outTga_t out(w, 600, "/dev/full", true);
        saved_t r = save(out, "/dev/full");
        EXPECT_FALSE(r.ok) << w;
        EXPECT_EQ(r.out, "Saving Targa file as /dev/full\n");
    }
}

TEST_F(TgaOutput, SizesBeyondTheHeaderFieldsAreRefused) {
    std::string name = path("wide.tga");
    outTga_t out(65536, 1, name.c_str(), false);
    saved_t r = save(out, name);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(exists(name));
    EXPECT_NE(r.err.find("65536"), std::string::npos);
    std::string neg = path("neg.tga");
    outTga_t empty(-5, 3, neg.c_str(), true);
    EXPECT_TRUE(empty.putPixel(0, 0, color_t(1), 1, 0));
    EXPECT_FALSE(save(empty, neg).ok);
    EXPECT_FALSE(exists(neg));

    // The largest size that fits is written (one row tall to stay small).
    std::string edge = path("edge.tga");
    outTga_t widest(65535, 1, edge.c_str(), false);
    EXPECT_TRUE(save(widest, edge).ok);
    bytes got = readFile(edge);
    ASSERT_EQ(got.size(), 18u + 65535 * 3);
    EXPECT_EQ(bytes(got.begin() + 12, got.begin() + 14), (bytes{255, 255}));
}

TEST_F(TgaOutput, EmptyImageIsJustAHeader) {
    std::string name = path("empty.tga");
    outTga_t out(0, 0, name.c_str(), false);
    EXPECT_TRUE(save(out, name).ok);
    bytes want = header24;
    want[12] = 0;
    want[14] = 0;
    EXPECT_EQ(readFile(name), want);
}

namespace {

// A host-defined sink that stops the render after a number of pixels.
class countingSink : public colorOutput_t {
public:
    explicit countingSink(int limit) : limit(limit) {}
    bool putPixel(int, int, const color_t&, float, float) override { return ++count < limit; }
    bool flush() override { return true; }
    int limit, count = 0;
};

} // namespace

TEST(ColorOutput, DerivedSinksThroughTheInterface) {
    countingSink sink(3);
    colorOutput_t& out = sink;
    EXPECT_TRUE(out.putPixel(0, 0, color_t(0), 0, 0));
    EXPECT_TRUE(out.putPixel(0, 0, color_t(0), 0, 0));
    EXPECT_FALSE(out.putPixel(0, 0, color_t(0), 0, 0));
    EXPECT_TRUE(out.flush());
    colorOutput_t* owned = new countingSink(1);
    delete owned; // virtual destructor
}
