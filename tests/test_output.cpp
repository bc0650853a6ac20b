// The TGA writer: exact file bytes, quantisation, stray pixels and every way
// saving can fail.
#include "vexlarcore/output.h"

#include "test_support.h"

#include <algorithm>
#include <cmath>
#include <unistd.h>

using namespace vexlar;
using support::captured;

namespace {

typedef std::vector<unsigned char> bytes;

bytes fileBytes(const std::string& name) {
    const std::string s = support::slurp(name);
    return bytes(s.begin(), s.end());
}

class tgaWriter : public ::testing::Test {
protected:
    // Saves `out` to `name`; what it printed goes to `printed`.
    bool save(outTga_t& out, const std::string& name) {
        bool ok = false;
        printed = captured([&] { ok = out.savetga(name.c_str()); }, &errors);
        return ok;
    }
    std::string path(const std::string& name) const { return tmp.path + "/" + name; }
    support::tempDir_t tmp;
    std::string printed, errors;
};

} // namespace

TEST_F(tgaWriter, HeaderPixelsInFileOrderQuantisationAndStrayPixels) {
    for (bool alpha : {false, true}) {
        const std::string name = path(alpha ? "rba.tga" : "rb.tga");
        outTga_t out(2, 1, name.c_str(), alpha);
        EXPECT_TRUE(out.putPixel(0, 0, color_t(1, 0, 0), 1.0f, 3.0f));
        EXPECT_TRUE(out.putPixel(1, 0, color_t(0, 0, 1), 1.0f, -1.0f));
        ASSERT_TRUE(save(out, name));
        EXPECT_EQ(printed, "Saving Targa file as " + name + "\nOK\n");
        bytes want{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 24, 0x20, 0, 0, 255, 255, 0, 0};
        if (alpha)
            want = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 32, 0x28, 0, 0, 255, 255, 255, 0, 0, 255};
        EXPECT_EQ(fileBytes(name), want) << alpha;
    }
    // Sizes are little-endian; rows top first, B G R; untouched pixels black.
    const std::string name = path("big.tga");
    outTga_t out(300, 2, name.c_str(), false);
    out.putPixel(0, 0, color_t(0.2f, 0.4f, 0.6f), 1, 0);
    out.putPixel(299, 1, color_t(1, 0, 0), 1, 0);
    ASSERT_TRUE(save(out, name));
    const bytes got = fileBytes(name);
    ASSERT_EQ(got.size(), 18u + 300 * 2 * 3);
    EXPECT_EQ(bytes(got.begin() + 12, got.begin() + 21),
              (bytes{300 & 0xff, 1, 2, 0, 24, 0x20, 153, 102, 51}));
    EXPECT_EQ(got.back(), 255);
    EXPECT_EQ(std::count(got.begin() + 21, got.end(), 0), static_cast<long>(got.size() - 21 - 1));
    // A later flush writes the whole file again with what changed.
    out.putPixel(0, 0, color_t(0, 1, 0), 1, 0);
    captured([&] { EXPECT_TRUE(out.flush()); });
    EXPECT_EQ(fileBytes(name)[19], 255);
    // Quantisation truncates and clamps; stray pixels are ignored.
    outTga_t q(4, 1, path("q.tga").c_str(), true);
    q.putPixel(0, 0, color_t(0.5f, 1.5f, -1), -0.5f, 0);
    q.putPixel(1, 0, color_t(0), 2.0f, 0);
    q.putPixel(2, 0, color_t(0), 0.5f, 0);
    q.putPixel(3, 0, color_t(0), std::nanf(""), 0);
    EXPECT_EQ(bytes(q.data, q.data + 3), (bytes{127, 255, 0})); // truncated
    EXPECT_EQ(bytes(q.alphaBuffer, q.alphaBuffer + 4), (bytes{0, 255, 127, 0}));
    outTga_t edge(2, 2, path("edge.tga").c_str(), true);
    for (auto xy : {std::make_pair(-1, 0), std::make_pair(0, -1), std::make_pair(2, 0), std::make_pair(0, 2),
                    std::make_pair(-100000, 100000)})
        EXPECT_TRUE(edge.putPixel(xy.first, xy.second, color_t(1, 1, 1), 1, 0)); // ignored, not refused
    EXPECT_EQ(bytes(edge.data, edge.data + 12), bytes(12, 0));
    EXPECT_EQ(bytes(edge.alphaBuffer, edge.alphaBuffer + 4), bytes(4, 0));
}

TEST_F(tgaWriter, FailuresAreReportedAndWriteNothing) {
    const std::string missing = tmp.path + "/missing/dir/x.tga";
    outTga_t out(1, 1, missing.c_str(), false);
    EXPECT_FALSE(save(out, missing));
    EXPECT_EQ(printed, "Saving Targa file as " + missing + "\n");
    if (access("/dev/full", W_OK) == 0) { // past the stdio buffer, and only the close writes
        for (int w : {1, 600}) {
            outTga_t full(w, 600, "/dev/full", true);
            EXPECT_FALSE(save(full, "/dev/full")) << w;
        }
    }
    const std::string wide = path("wide.tga");
    outTga_t tooWide(65536, 1, wide.c_str(), false);
    EXPECT_FALSE(save(tooWide, wide));
    EXPECT_TRUE(access(wide.c_str(), F_OK) != 0 && support::contains(errors, "65536"));
    outTga_t negative(-5, 3, wide.c_str(), true);
    EXPECT_TRUE(negative.putPixel(0, 0, color_t(1), 1, 0));
    EXPECT_FALSE(save(negative, wide));
    const std::string edge = path("edge.tga"); // the largest size that fits
    outTga_t widest(65535, 1, edge.c_str(), false);
    ASSERT_TRUE(save(widest, edge));
    const bytes got = fileBytes(edge);
    EXPECT_TRUE(got.size() == 18u + 65535 * 3 && got[12] == 255 && got[13] == 255);
    outTga_t empty(0, 0, edge.c_str(), false);
    ASSERT_TRUE(save(empty, edge));
    EXPECT_EQ(fileBytes(edge).size(), 18u);
}
