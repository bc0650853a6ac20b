// TGA reader: every image type, depth, orientation and run-length layout,
// every error text, round trips with the writer and hostile files.
#include "vexlarcore/output.h"
#include "vexlarcore/targa.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace vexlar;

namespace {

typedef std::vector<std::uint8_t> bytes_t;
typedef std::array<std::uint8_t, 4> rgba_t;

const char* const kCorrupt = "Corrupted or unexpected end of file";

// A TGA file under construction: header fields, then ID, map and pixel data.
struct tgaFile_t {
    std::uint8_t mapType = 0, type = 2;
    std::uint16_t mapFirst = 0, mapLength = 0;
    std::uint8_t mapEntrySize = 0;
    std::uint16_t width = 0, height = 0;
    std::uint8_t depth = 24, descriptor = 0;
    bytes_t id, map, data;

    bytes_t bytes() const {
        bytes_t b{static_cast<std::uint8_t>(id.size()), mapType, type};
        auto le16 = [&b](unsigned v) {
            b.push_back(static_cast<std::uint8_t>(v & 255));
            b.push_back(static_cast<std::uint8_t>(v >> 8));
        };
        le16(mapFirst);
        le16(mapLength);
        b.insert(b.end(), {mapEntrySize, 0, 0, 0, 0});
        le16(width);
        le16(height);
        b.insert(b.end(), {depth, descriptor});
        for (const bytes_t* part : {&id, &map, &data}) b.insert(b.end(), part->begin(), part->end());
        return b;
    }
};

// The reader's 5-bit expansion, written independently: v * 255 / 31.
std::uint8_t expand5(unsigned v) {
    static const std::uint8_t table[32] = {0,   8,   16,  24,  32,  41,  49,  57,  65,  74,  82,
                                           90,  98,  106, 115, 123, 131, 139, 148, 156, 164, 172,
                                           180, 189, 197, 205, 213, 222, 230, 238, 246, 255};
    return table[v];
}

// How pixels (or colour-map entries) are stored.
enum class enc_t { grey8, rgb15, rgb16, rgb24, rgb32 };

unsigned bytesOf(enc_t e) {
    static const unsigned n[] = {1, 2, 2, 3, 4};
    return n[static_cast<int>(e)];
}

// Stores `c` in encoding `e`; `extra` supplies the unused 15-bit top bit.
bytes_t encode(enc_t e, const rgba_t& c, bool extra = false) {
    switch (e) {
    case enc_t::grey8:
        return {c[0]};
    case enc_t::rgb15:
    case enc_t::rgb16: {
        unsigned v = (static_cast<unsigned>(c[0] >> 3) << 10) | (static_cast<unsigned>(c[1] >> 3) << 5) |
                     static_cast<unsigned>(c[2] >> 3);
        if (e == enc_t::rgb16 ? c[3] >= 128 : extra) v |= 0x8000;
        return {static_cast<std::uint8_t>(v & 255), static_cast<std::uint8_t>(v >> 8)};
    }
    case enc_t::rgb24:
        return {c[2], c[1], c[0]};
    default:
        return {c[2], c[1], c[0], c[3]};
    }
}

// What the reader makes of `c` stored as a pixel in encoding `e`.
rgba_t decodedPixel(enc_t e, const rgba_t& c, bool alpha) {
    switch (e) {
    case enc_t::grey8:
        return {c[0], c[0], c[0], alpha ? c[0] : std::uint8_t(255)};
    case enc_t::rgb15:
    case enc_t::rgb16:
        return {expand5(c[0] >> 3), expand5(c[1] >> 3), expand5(c[2] >> 3),
                alpha ? std::uint8_t(c[3] >= 128 ? 128 : 0) : std::uint8_t(255)};
    case enc_t::rgb24:
        return {c[0], c[1], c[2], 255};
    default:
        return {c[0], c[1], c[2], alpha ? c[3] : std::uint8_t(255)};
    }
}

// What the reader makes of `c` stored as a colour-map entry.
rgba_t decodedEntry(enc_t e, const rgba_t& c) {
    rgba_t d = decodedPixel(e, c, true);
    if (e == enc_t::rgb15 || e == enc_t::rgb24) d[3] = 0; // entries without alpha leave it 0
    return d;
}

// Run-length packet layouts.
enum class rle_t { none, greedy, singleRaw, singleRuns, longRaw };

// Encodes a stream of pixel byte groups as packets (they cross row ends).
bytes_t runLength(const std::vector<bytes_t>& px, rle_t how) {
    bytes_t out;
    std::size_t i = 0;
    while (i < px.size()) {
        std::size_t run = 1;
        while (i + run < px.size() && run < 128 && px[i + run] == px[i]) ++run;
        if (how == rle_t::singleRuns || (how == rle_t::greedy && run >= 2)) {
            if (how == rle_t::singleRuns) run = 1;
            out.push_back(static_cast<std::uint8_t>(0x80 | (run - 1)));
            out.insert(out.end(), px[i].begin(), px[i].end());
            i += run;
            continue;
        }
        std::size_t n = 1;
        if (how == rle_t::longRaw) {
            n = std::min<std::size_t>(128, px.size() - i);
        } else if (how == rle_t::greedy) {
            while (i + n < px.size() && n < 128 && !(i + n + 1 < px.size() && px[i + n + 1] == px[i + n]))
                ++n;
        }
        out.push_back(static_cast<std::uint8_t>(n - 1));
        for (std::size_t k = 0; k < n; ++k) out.insert(out.end(), px[i + k].begin(), px[i + k].end());
        i += n;
    }
    return out;
}

// Fills the pixel data from per-pixel byte groups, raw or run-length coded.
void setPixels(tgaFile_t& t, const std::vector<bytes_t>& px, rle_t how) {
    t.data.clear();
    if (how != rle_t::none)
        t.data = runLength(px, how);
    else
        for (const bytes_t& p : px) t.data.insert(t.data.end(), p.begin(), p.end());
}

// A colour-mapped file (type 1) with the given map and index depth.
tgaFile_t mappedFile(std::uint8_t entrySize, std::uint16_t length, const bytes_t& map,
                     std::uint8_t depth = 8) {
    tgaFile_t t;
    t.type = 1;
    t.mapType = 1;
    t.mapLength = length;
    t.mapEntrySize = entrySize;
    t.map = map;
    t.depth = depth;
    return t;
}

// Orders the pixels of a top-left-origin picture as the file stores them.
template <class T> std::vector<T> fileOrder(const std::vector<T>& img, int w, int h, std::uint8_t desc) {
    std::vector<T> out;
    for (int fr = 0; fr < h; ++fr) {
        int y = (desc & 0x20) ? fr : h - 1 - fr;
        for (int fc = 0; fc < w; ++fc) {
            int x = (desc & 0x10) ? w - 1 - fc : fc;
            out.push_back(img[static_cast<std::size_t>(y) * w + x]);
        }
    }
    return out;
}

// A picture with repeated colours, so that greedy run-length finds runs.
std::vector<rgba_t> picture(int w, int h, std::mt19937& rng) {
    std::vector<rgba_t> palette(5);
    for (rgba_t& c : palette)
        for (auto& v : c) v = static_cast<std::uint8_t>(rng() & 255);
    std::vector<rgba_t> img(static_cast<std::size_t>(w) * h);
    for (auto& p : img) {
        if (rng() % 3 == 0)
            for (auto& v : p) v = static_cast<std::uint8_t>(rng() & 255);
        else
            p = palette[rng() % palette.size()];
    }
    return img;
}

class Targa : public testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/vexlar_targa_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dir); }

    std::string write(const bytes_t& b, const std::string& name = "t.tga") {
        std::string path = dir + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (!b.empty()) std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
        return path;
    }
    bool load(targaImg_t& img, const bytes_t& b) { return img.Load(write(b).c_str()); }

    // Checks every byte of the loaded picture against `expect` (top-left
    // origin) and the colour look-up against the unpacked bytes.
    static void expectPicture(const targaImg_t& img, int w, int h, const std::vector<rgba_t>& expect,
                              const std::string& what) {
        ASSERT_NE(img.image, nullptr) << what;
        ASSERT_EQ(img.image->resx, w) << what;
        ASSERT_EQ(img.image->resy, h) << what;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const rgba_t& e = expect[static_cast<std::size_t>(y) * w + x];
                const unsigned char* p = (*img.image)(x, y);
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(p[c], e[c]) << what << " pixel (" << x << ", " << y << ") channel " << c;
                color_t col = img(x, y);
                ASSERT_EQ(col.R, static_cast<float>(e[0]) * 0.003921569f) << what;
                ASSERT_EQ(col.B, static_cast<float>(e[2]) * 0.003921569f) << what;
            }
    }

    static std::string dir;
};

std::string Targa::dir;

// ---------------------------------------------------------------------------
// Known answers

TEST_F(Targa, BottomUpTwoByTwo) {
    tgaFile_t t;
    t.width = t.height = 2;
    // File order: blue, green, red, white; the first file row is the bottom.
    t.data = bytes_t{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    targaImg_t img;
    ASSERT_TRUE(load(img, t.bytes())) << img.error;
    EXPECT_EQ(img.error, "No errors");
    EXPECT_EQ(img.file, nullptr);
    const rgba_t r{255, 0, 0, 255}, g{0, 255, 0, 255}, b{0, 0, 255, 255}, w{255, 255, 255, 255};
    expectPicture(img, 2, 2, {r, w, b, g}, "bottom-up");
    t.descriptor = 0x20;
    ASSERT_TRUE(load(img, t.bytes()));
    expectPicture(img, 2, 2, {b, g, r, w}, "top-down");
}

TEST_F(Targa, LookupsOutsideTheImageAreBlack) {
    targaImg_t empty;
    EXPECT_EQ(empty(0, 0).R, 0.0f);
    tgaFile_t t;
    t.width = 2;
    t.height = 1;
    t.data = bytes_t{255, 255, 255, 255, 255, 255};
    targaImg_t img;
    ASSERT_TRUE(load(img, t.bytes()));
    for (auto xy : {std::make_pair(-1, 0), std::make_pair(2, 0), std::make_pair(0, -1), std::make_pair(0, 1)})
        EXPECT_TRUE(img(xy.first, xy.second).isBlack());
    EXPECT_GT(img(1, 0).R, 0.0f);
}

// ---------------------------------------------------------------------------
// Every type, depth, orientation and run-length layout against a model

struct trueFormat_t {
    std::uint8_t type; // 2 or 3
    enc_t enc;
    std::uint8_t depth;
    std::uint8_t alphaBits;
};

TEST_F(Targa, TrueColourAndGreyscaleInEveryLayout) {
    const trueFormat_t formats[] = {
        {2, enc_t::rgb24, 24, 0}, {2, enc_t::rgb32, 32, 8}, {2, enc_t::rgb32, 32, 0},
        {2, enc_t::rgb16, 16, 0}, {2, enc_t::rgb16, 16, 1}, {2, enc_t::rgb15, 15, 0},
        {2, enc_t::grey8, 8, 0},  {2, enc_t::grey8, 8, 8},  {3, enc_t::grey8, 8, 0},
        {3, enc_t::grey8, 8, 8},  {3, enc_t::rgb16, 16, 0},
    };
    const rle_t layouts[] = {rle_t::none, rle_t::greedy, rle_t::singleRaw, rle_t::singleRuns, rle_t::longRaw};
    const std::pair<int, int> sizes[] = {{7, 5}, {1, 1}, {130, 3}};
    std::mt19937 rng(20240611);
    int loads = 0;
    for (const auto& f : formats)
        for (rle_t how : layouts)
            for (std::uint8_t orient : {0x00, 0x10, 0x20, 0x30})
                for (auto wh : sizes) {
                    // Orientation is independent of the packet layout: all
                    // four only with raw and greedy packets.
                    if (orient != 0x20 && how != rle_t::none && how != rle_t::greedy) continue;
                    const int w = wh.first, h = wh.second;
                    std::vector<rgba_t> truth = picture(w, h, rng);
                    std::vector<bytes_t> px;
                    std::vector<rgba_t> expect;
                    for (const rgba_t& c : fileOrder(truth, w, h, orient))
                        px.push_back(encode(f.enc, c, (rng() & 1) != 0));
                    for (const rgba_t& c : truth) expect.push_back(decodedPixel(f.enc, c, f.alphaBits != 0));
                    tgaFile_t t;
                    t.type = static_cast<std::uint8_t>(how == rle_t::none ? f.type : f.type + 8);
                    t.depth = f.depth;
                    t.descriptor = static_cast<std::uint8_t>(orient | f.alphaBits);
                    t.width = static_cast<std::uint16_t>(w);
                    t.height = static_cast<std::uint16_t>(h);
                    setPixels(t, px, how);
                    const std::string what = "type/depth/alpha/desc/layout/w/h " +
                                             testing::PrintToString(std::vector<int>{
                                                 t.type, f.depth, f.alphaBits, orient, int(how), w, h});
                    targaImg_t img;
                    ASSERT_TRUE(load(img, t.bytes())) << what << ": " << img.error;
                    EXPECT_EQ(img.greyscale, f.type == 3) << what;
                    EXPECT_EQ(img.hasAlpha, f.alphaBits != 0) << what;
                    EXPECT_EQ(img.alphaBits, f.alphaBits) << what;
                    EXPECT_EQ(img.bytesPerPixel, bytesOf(f.enc)) << what;
                    expectPicture(img, w, h, expect, what);
                    ++loads;
                }
    EXPECT_EQ(loads, 11 * (2 * 4 + 3) * 3);
}

TEST_F(Targa, ColourMappedInEveryLayout) {
    const enc_t entries[] = {enc_t::rgb15, enc_t::rgb16, enc_t::rgb24, enc_t::rgb32};
    const std::uint8_t entrySizes[] = {15, 16, 24, 32};
    const rle_t layouts[] = {rle_t::none, rle_t::greedy, rle_t::singleRaw, rle_t::singleRuns};
    std::mt19937 rng(77);
    for (int e = 0; e < 4; ++e)
        for (std::uint8_t depth : {8, 16})
            for (rle_t how : layouts)
                for (std::uint8_t orient : {0x00, 0x10, 0x20, 0x30}) {
                    const int w = 6, h = 4;
                    const unsigned mapSize = depth == 8 ? 200 : 300;
                    std::vector<rgba_t> map(mapSize);
                    bytes_t mapBytes;
                    for (rgba_t& c : map) {
                        for (auto& v : c) v = static_cast<std::uint8_t>(rng() & 255);
                        bytes_t b = encode(entries[e], c);
                        mapBytes.insert(mapBytes.end(), b.begin(), b.end());
                    }
                    std::vector<unsigned> index(static_cast<std::size_t>(w) * h);
                    for (auto& i : index) i = rng() % 3 == 0 ? 7 : rng() % mapSize;
                    std::vector<rgba_t> expect;
                    for (unsigned i : index) expect.push_back(decodedEntry(entries[e], map[i]));
                    std::vector<bytes_t> px;
                    for (unsigned i : fileOrder(index, w, h, orient)) {
                        if (depth == 8)
                            px.push_back({static_cast<std::uint8_t>(i)});
                        else
                            px.push_back(
                                {static_cast<std::uint8_t>(i & 255), static_cast<std::uint8_t>(i >> 8)});
                    }
                    tgaFile_t t =
                        mappedFile(entrySizes[e], static_cast<std::uint16_t>(mapSize), mapBytes, depth);
                    t.type = how == rle_t::none ? 1 : 9;
                    t.descriptor = orient;
                    t.width = w;
                    t.height = h;
                    t.id = bytes_t{'i', 'd'};
                    setPixels(t, px, how);
                    const std::string what =
                        "entry/depth/layout/desc " +
                        testing::PrintToString(std::vector<int>{entrySizes[e], depth, int(how), orient});
                    targaImg_t img;
                    ASSERT_TRUE(load(img, t.bytes())) << what << ": " << img.error;
                    EXPECT_TRUE(img.colorMapped);
                    expectPicture(img, w, h, expect, what);
                }
}

TEST_F(Targa, IdFieldIsSkipped) {
    tgaFile_t t;
    t.width = t.height = 1;
    t.id = bytes_t(255, 0xAB);
    t.data = bytes_t{1, 2, 3};
    targaImg_t img;
    ASSERT_TRUE(load(img, t.bytes())) << img.error;
    expectPicture(img, 1, 1, {rgba_t{3, 2, 1, 255}}, "id");
}

TEST_F(Targa, UnusedColourMapOfATrueColourFileIsSkipped) {
    struct {
        std::uint8_t type, depth;
        bytes_t data;
        std::vector<rgba_t> expect;
    } cases[] = {
        {2, 24, {1, 2, 3, 4, 5, 6}, {{3, 2, 1, 255}, {6, 5, 4, 255}}},
        {3, 8, {9, 200}, {{9, 9, 9, 255}, {200, 200, 200, 255}}},
        {10, 24, {0x81, 7, 8, 9}, {{9, 8, 7, 255}, {9, 8, 7, 255}}},
    };
    for (const auto& c : cases) {
        tgaFile_t t = mappedFile(24, 3, bytes_t(9, 0x55), c.depth);
        t.type = c.type;
        t.width = 2;
        t.height = 1;
        t.descriptor = 0x20;
        t.data = c.data;
        targaImg_t img;
        ASSERT_TRUE(load(img, t.bytes())) << img.error;
        expectPicture(img, 2, 1, c.expect, "type " + std::to_string(c.type));
    }
}

TEST_F(Targa, LoadsFromAPipe) {
    // No seeking: the ID field and an unused map are read over, and the
    // early size check is skipped in favour of the checked reads.
    tgaFile_t t;
    t.type = 10;
    t.mapType = 1;
    t.mapLength = 2;
    t.mapEntrySize = 16;
    t.map = bytes_t{1, 2, 3, 4};
    t.id = bytes_t{'p', 'i', 'p', 'e'};
    t.width = 3;
    t.height = 1;
    t.descriptor = 0x20;
    t.data = bytes_t{0x82, 1, 2, 3};
    const std::string path = dir + "/fifo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    for (bool whole : {true, false}) {
        bytes_t b = t.bytes();
        if (!whole) b.pop_back();
        std::thread writer([&path, b] {
            std::FILE* f = std::fopen(path.c_str(), "wb");
            if (f == nullptr) return;
            std::fwrite(b.data(), 1, b.size(), f);
            std::fclose(f);
        });
        targaImg_t img;
        const bool ok = img.Load(path.c_str());
        writer.join();
        if (whole) {
            ASSERT_TRUE(ok) << img.error;
            expectPicture(img, 3, 1, std::vector<rgba_t>(3, rgba_t{3, 2, 1, 255}), "pipe");
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(img.error, kCorrupt);
        }
    }
}

TEST_F(Targa, TrailingBytesAreIgnored) {
    tgaFile_t t;
    t.width = t.height = 1;
    t.data = bytes_t{1, 2, 3};
    bytes_t b = t.bytes();
    // A TGA 2.0 footer.
    const char footer[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
    b.insert(b.end(), footer, footer + sizeof(footer));
    targaImg_t img;
    ASSERT_TRUE(load(img, b)) << img.error;
}

TEST_F(Targa, EmptyImageLoads) {
    tgaFile_t t;
    t.width = 0;
    t.height = 0;
    targaImg_t img;
    ASSERT_TRUE(load(img, t.bytes())) << img.error;
    ASSERT_NE(img.image, nullptr);
    EXPECT_EQ(img(0, 0).R, 0.0f);
}

// ---------------------------------------------------------------------------
// Errors

TEST_F(Targa, EveryErrorText) {
    typedef void (*edit_t)(tgaFile_t&);
    const std::pair<const char*, edit_t> cases[] = {
        {"Targa type not supported", [](tgaFile_t& c) { c.type = 0; }},
        {"Targa type not supported", [](tgaFile_t& c) { c.type = 4; }},
        {"Targa type not supported", [](tgaFile_t& c) { c.type = 32; }},
        {"Colormap image without colormap??", [](tgaFile_t& c) { c.type = 1; }},
        {"Colormap image without colormap??", [](tgaFile_t& c) { c.type = 9; }},
        {"Unsupported colormap bitformat", [](tgaFile_t& c) { c = mappedFile(8, 1, {}); }},
        {"24/32 bit colormap index???", [](tgaFile_t& c) { c = mappedFile(24, 1, {}, 24); }},
        {"24/32 bit colormap index???", [](tgaFile_t& c) { c = mappedFile(24, 1, {}, 32); }},
        {"Unsupported grayscale image format", [](tgaFile_t& c) { c.type = 3; }},
        {"Unsupported grayscale image format", [](tgaFile_t& c) { c.type = 11, c.depth = 32; }},
        {"Unsupported alpha format", [](tgaFile_t& c) { c.descriptor = 8; }},
        {"Unsupported alpha format", [](tgaFile_t& c) { c.depth = 32, c.descriptor = 1; }},
        {"Unsupported alpha format", [](tgaFile_t& c) { c.depth = 16, c.descriptor = 8; }},
        {"Unsupported pixel depth", [](tgaFile_t& c) { c.depth = 0; }},
        {"Unsupported pixel depth", [](tgaFile_t& c) { c.depth = 4; }},
        {"Unsupported pixel depth", [](tgaFile_t& c) { c.depth = 40; }},
        {"Unsupported pixel depth", [](tgaFile_t& c) { c.depth = 12; }},
        {"Unsupported pixel depth", [](tgaFile_t& c) { c = mappedFile(24, 1, {}, 0); }},
        {"Image too large", [](tgaFile_t& c) { c.width = c.height = 65535; }},
        // exactly 2^31 bytes
        {"Image too large", [](tgaFile_t& c) { c.width = 32768, c.height = 16384; }},
    };
    for (const auto& bc : cases) {
        tgaFile_t t;
        bc.second(t);
        if (t.width == 0) t.width = t.height = 1;
        t.data = bytes_t(8, 1);
        targaImg_t img;
        EXPECT_FALSE(load(img, t.bytes())) << bc.first;
        EXPECT_EQ(img.error, bc.first);
        EXPECT_EQ(img.file, nullptr);
        EXPECT_EQ(img.image, nullptr);
    }

    targaImg_t img;
    EXPECT_FALSE(img.Load((dir + "/does-not-exist.tga").c_str()));
    EXPECT_EQ(img.error, "Cannot open file");
    EXPECT_FALSE(img.Load(dir.c_str())); // a directory opens but does not read
    EXPECT_EQ(img.error, kCorrupt);
}

TEST_F(Targa, BadColourMapIndices) {
    struct {
        std::uint8_t type, depth;
        std::uint16_t mapLength;
        bytes_t data;
    } cases[] = {
        {1, 8, 3, {0, 3}},         {9, 8, 3, {0x81, 200}},
        {9, 8, 3, {0x01, 1, 255}}, {1, 16, 3, {2, 0, 2, 1}}, // 2, then 258
        {1, 16, 0, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        tgaFile_t t = mappedFile(32, c.mapLength, bytes_t(4u * c.mapLength, 9), c.depth);
        t.type = c.type;
        t.width = 2;
        t.height = 1;
        t.data = c.data;
        targaImg_t img;
        EXPECT_FALSE(load(img, t.bytes()));
        EXPECT_EQ(img.error, "Colormap index out of range");
        EXPECT_EQ(img.image, nullptr);
    }
}

TEST_F(Targa, PacketPastTheLastPixelFails) {
    // The last case ends inside the run's pixel: a reader filling in the
    // missing bytes would report success.
    for (const bytes_t& data :
         {bytes_t{0x82, 1, 2, 3}, bytes_t{0x00, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9}, bytes_t{0x81, 1}}) {
        tgaFile_t t;
        t.type = 10;
        t.width = 2;
        t.height = 1;
        t.data = data;
        targaImg_t img;
        EXPECT_FALSE(load(img, t.bytes()));
        EXPECT_EQ(img.error, kCorrupt);
        EXPECT_EQ(img.image, nullptr);
    }
}

TEST_F(Targa, TruncationAtEveryOffsetFails) {
    std::mt19937 rng(5);
    const std::vector<rgba_t> truth = picture(5, 3, rng);
    std::vector<bytes_t> files;
    for (rle_t how : {rle_t::none, rle_t::greedy}) {
        const std::uint8_t rle = how == rle_t::none ? 0 : 8;
        for (enc_t e : {enc_t::rgb24, enc_t::rgb16, enc_t::grey8}) {
            std::vector<bytes_t> px;
            for (const rgba_t& c : truth) px.push_back(encode(e, c));
            tgaFile_t t;
            t.type = static_cast<std::uint8_t>(2 + rle);
            t.depth = static_cast<std::uint8_t>(8 * bytesOf(e));
            t.width = 5;
            t.height = 3;
            t.id = bytes_t{'x'};
            setPixels(t, px, how);
            files.push_back(t.bytes());
        }
        tgaFile_t m = mappedFile(24, 4, bytes_t(12, 40));
        m.type = static_cast<std::uint8_t>(1 + rle);
        m.width = 5;
        m.height = 3;
        std::vector<bytes_t> px;
        for (int i = 0; i < 15; ++i) px.push_back({static_cast<std::uint8_t>(i % 4)});
        setPixels(m, px, how);
        files.push_back(m.bytes());
    }
    for (std::size_t f = 0; f < files.size(); ++f) {
        const bytes_t& full = files[f];
        targaImg_t img;
        ASSERT_TRUE(load(img, full)) << "file " << f << ": " << img.error;
        for (std::size_t n = 0; n < full.size(); ++n) {
            targaImg_t cut;
            EXPECT_FALSE(load(cut, bytes_t(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n))))
                << "file " << f << " cut at " << n;
            EXPECT_EQ(cut.error, kCorrupt) << "file " << f << " cut at " << n;
            EXPECT_EQ(cut.file, nullptr);
        }
    }
}

TEST_F(Targa, HugeHeadersWithLittleDataAllocateNothing) {
    for (std::uint8_t type : {2, 10, 3, 11}) {
        tgaFile_t t;
        t.type = type;
        t.depth = (type & 3) == 3 ? 8 : 24;
        t.width = 16384;
        t.height = 8192;
        t.data = bytes_t(300, 0x80);
        targaImg_t img;
        EXPECT_FALSE(load(img, t.bytes())) << int(type);
        EXPECT_EQ(img.error, kCorrupt);
        EXPECT_EQ(img.image, nullptr);
    }
}

TEST_F(Targa, ReloadKeepsOrDropsThePreviousImage) {
    tgaFile_t good;
    good.width = 2;
    good.height = 2;
    good.data = bytes_t(12, 100);
    targaImg_t img;
    ASSERT_TRUE(load(img, good.bytes()));
    cBuffer_t* first = img.image;

    // Rejected by the checks: the old picture stays and look-ups within the
    // new header's larger size still stay inside it.
    tgaFile_t bad = good;
    bad.width = bad.height = 500;
    bad.descriptor = 8;
    EXPECT_FALSE(load(img, bad.bytes()));
    EXPECT_EQ(img.error, "Unsupported alpha format");
    EXPECT_EQ(img.image, first);
    EXPECT_GT(img(1, 1).R, 0.0f);
    EXPECT_EQ(img(300, 300).R, 0.0f);

    // A read error drops the picture wherever the file ends (pixel rows,
    // colour map, header); so does a bad index found while decoding.
    tgaFile_t cut = good;
    cut.data.resize(9);
    tgaFile_t mapped = mappedFile(24, 1, bytes_t{1, 2, 3});
    mapped.width = mapped.height = 1;
    mapped.data = bytes_t{1};
    const bytes_t drops[] = {cut.bytes(), bytes_t{0, 0, 2}, mappedFile(24, 4, bytes_t{1, 2, 3, 4}).bytes(),
                             mapped.bytes()};
    for (const bytes_t& b : drops) {
        ASSERT_TRUE(load(img, good.bytes()));
        EXPECT_FALSE(load(img, b));
        EXPECT_EQ(img.error, &b == &drops[3] ? "Colormap index out of range" : kCorrupt);
        EXPECT_EQ(img.image, nullptr);
        EXPECT_EQ(img(0, 0).R, 0.0f);
    }

    mapped.data = bytes_t{0};
    ASSERT_TRUE(load(img, mapped.bytes())) << img.error;
    expectPicture(img, 1, 1, {rgba_t{3, 2, 1, 0}}, "reloaded");
    ASSERT_TRUE(load(img, good.bytes()));
    EXPECT_EQ(img.width, 2);
}

TEST_F(Targa, ReadErrorResetsTheReader) {
    tgaFile_t good;
    good.width = good.height = 1;
    good.data = bytes_t{1, 2, 3};
    targaImg_t img;
    ASSERT_TRUE(load(img, good.bytes()));
    EXPECT_FALSE(img.readError());
    EXPECT_EQ(img.error, kCorrupt);
    EXPECT_EQ(img.image, nullptr);
    EXPECT_EQ(img.file, nullptr);
}

TEST_F(Targa, GetColorFromMemory) {
    targaImg_t img;
    img.bytesPerPixel = 3;
    img.pixel[3] = 255;
    unsigned char px[3] = {10, 20, 30};
    ASSERT_TRUE(img.getColor(px));
    EXPECT_EQ(img.pixel[0], 30);
    EXPECT_EQ(img.pixel[2], 10);
    EXPECT_EQ(img.pixel[3], 255);
    EXPECT_FALSE(img.getColor(nullptr)); // no file open
}

TEST_F(Targa, RandomlyDamagedFilesNeverMisbehave) {
    std::mt19937 rng(99);
    std::vector<bytes_t> seeds;
    {
        tgaFile_t t;
        t.type = 10;
        t.depth = 32;
        t.descriptor = 8;
        t.width = 6;
        t.height = 4;
        std::vector<bytes_t> px;
        for (const rgba_t& c : picture(6, 4, rng)) px.push_back(encode(enc_t::rgb32, c));
        t.data = runLength(px, rle_t::greedy);
        seeds.push_back(t.bytes());
        t.type = 9;
        t.mapType = 1;
        t.mapLength = 4;
        t.mapEntrySize = 16;
        t.map = bytes_t(8, 0x3C);
        t.depth = 8;
        t.descriptor = 0x30;
        t.data = bytes_t{0x83, 1, 0x02, 2, 3, 0, 0x8F, 3};
        seeds.push_back(t.bytes());
    }
    int successes = 0;
    for (int round = 0; round < 300; ++round) {
        bytes_t b = seeds[round % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            std::size_t at = rng() % b.size();
            switch (rng() % 3) {
            case 0:
                b[at] = static_cast<std::uint8_t>(rng());
                break;
            case 1:
                b.resize(at);
                break;
            default:
                b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rng()));
            }
            if (b.empty()) b.push_back(0);
        }
        targaImg_t img;
        if (load(img, b)) {
            ++successes;
            ASSERT_NE(img.image, nullptr);
            EXPECT_EQ(img.image->resx, img.width);
            EXPECT_EQ(img.image->resy, img.height);
            for (int y = 0; y < img.height; y += 7)
                for (int x = 0; x < img.width; x += 7) (void)img(x, y);
        } else {
            EXPECT_NE(img.error, "No errors");
        }
        EXPECT_EQ(img.file, nullptr);
    }
    EXPECT_GT(successes, 0);
}

// ---------------------------------------------------------------------------
// Round trips with the library's writer

TEST_F(Targa, RoundTripWithTheWriter) {
    std::mt19937 rng(11);
    for (bool alpha : {false, true}) {
        const int w = 9, h = 4;
        const std::string path = dir + (alpha ? "/rt_alpha.tga" : "/rt.tga");
        std::vector<rgba_t> expect;
        {
            outTga_t out(w, h, path.c_str(), alpha);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    color_t c(static_cast<float>(rng() % 1000) / 999.0f,
                              static_cast<float>(rng() % 1000) / 999.0f,
                              static_cast<float>(rng() % 1000) / 999.0f);
                    float a = static_cast<float>(rng() % 1000) / 999.0f;
                    out.putPixel(x, y, c, a, 1.0f);
                    unsigned char packed[3];
                    packed << c;
                    expect.push_back({packed[0], packed[1], packed[2],
                                      alpha ? static_cast<std::uint8_t>(static_cast<int>(a * 255.0f))
                                            : std::uint8_t(255)});
                }
            testing::internal::CaptureStdout();
            ASSERT_TRUE(out.flush());
            testing::internal::GetCapturedStdout();
        }
        targaImg_t img;
        ASSERT_TRUE(img.Load(path.c_str())) << img.error;
        EXPECT_EQ(img.hasAlpha, alpha);
        expectPicture(img, w, h, expect, alpha ? "alpha round trip" : "round trip");
    }
}

} // namespace
