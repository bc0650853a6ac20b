// TGA reader against an independent encoder (every type, depth, orientation
// and packet layout), every error text, truncation (also from a pipe) and
// reloads. Random damage is left to fuzz/fuzz_targa.cpp.
#include "vexlarcore/targa.h"

#include "test_support.h"

#include <array>
#include <random>
#include <sys/stat.h>
#include <thread>

using namespace vexlar;

namespace {

typedef std::vector<std::uint8_t> bytes_t;
typedef std::array<std::uint8_t, 4> rgba_t;
const char* const kCorrupt = "Corrupted or unexpected end of file";
const char* const kIndex = "Colormap index out of range";

struct tgaFile_t {
    std::uint8_t mapType = 0, type = 2;
    std::uint16_t mapLength = 0;
    std::uint8_t mapEntrySize = 0;
    std::uint16_t width = 0, height = 0;
    std::uint8_t depth = 24, descriptor = 0;
    bytes_t id, map, data;

    bytes_t bytes() const {
        auto lo = [](unsigned v) { return static_cast<std::uint8_t>(v & 255); };
        auto hi = [](unsigned v) { return static_cast<std::uint8_t>(v >> 8); };
        bytes_t b{lo(id.size()), mapType,      type,       0,          0,     lo(mapLength),
                  hi(mapLength), mapEntrySize, 0,          0,          0,     0,
                  lo(width),     hi(width),    lo(height), hi(height), depth, descriptor};
        for (const bytes_t* part : {&id, &map, &data}) b.insert(b.end(), part->begin(), part->end());
        return b;
    }
};

tgaFile_t file(std::uint8_t type, int w, int h, bytes_t data = {}, std::uint8_t depth = 24,
               std::uint8_t descriptor = 0) {
    return {0, type, 0, 0, std::uint16_t(w), std::uint16_t(h), depth, descriptor, {}, {}, data};
}

tgaFile_t withMap(tgaFile_t t, std::uint8_t entrySize, std::uint16_t length, const bytes_t& map) {
    t.mapType = 1;
    t.mapLength = length;
    t.mapEntrySize = entrySize;
    t.map = map;
    return t;
}

// The 5-bit expansion v * 255 / 31, as known values.
const std::uint8_t kExpand5[32] = {0,   8,   16,  24,  32,  41,  49,  57,  65,  74,  82,
                                   90,  98,  106, 115, 123, 131, 139, 148, 156, 164, 172,
                                   180, 189, 197, 205, 213, 222, 230, 238, 246, 255};

enum class enc_t { grey8, rgb15, rgb16, rgb24, rgb32 };
const unsigned kBytes[] = {1, 2, 2, 3, 4};

bytes_t encode(enc_t e, const rgba_t& c, bool topBit = false) {
    if (e == enc_t::grey8) return {c[0]};
    if (e == enc_t::rgb24) return {c[2], c[1], c[0]};
    if (e == enc_t::rgb32) return {c[2], c[1], c[0], c[3]};
    unsigned v = (unsigned(c[0] >> 3) << 10) | (unsigned(c[1] >> 3) << 5) | unsigned(c[2] >> 3);
    if (e == enc_t::rgb16 ? c[3] >= 128 : topBit) v |= 0x8000;
    return {static_cast<std::uint8_t>(v & 255), static_cast<std::uint8_t>(v >> 8)};
}

// What the reader makes of `c` stored in encoding `e`, as a pixel (alpha
// bits given or not) or as a colour-map entry.
rgba_t decoded(enc_t e, const rgba_t& c, bool alpha, bool entry = false) {
    const std::uint8_t noAlpha = entry ? 0 : 255;
    if (e == enc_t::grey8) return {c[0], c[0], c[0], alpha ? c[0] : noAlpha};
    if (e == enc_t::rgb24) return {c[0], c[1], c[2], noAlpha};
    if (e == enc_t::rgb32) return {c[0], c[1], c[2], alpha ? c[3] : noAlpha};
    return {kExpand5[c[0] >> 3], kExpand5[c[1] >> 3], kExpand5[c[2] >> 3],
            alpha && e == enc_t::rgb16 ? std::uint8_t(c[3] >= 128 ? 128 : 0) : noAlpha};
}

// Packet layouts: raw, greedy runs, raw packets of one, run packets of one,
// raw packets of up to 128 (crossing rows).
enum class rle_t { none, greedy, singleRaw, singleRuns, longRaw };

bytes_t pack(const std::vector<bytes_t>& px, rle_t how) {
    bytes_t out;
    for (std::size_t i = 0; i < px.size();) {
        std::size_t run = 1, n = 1;
        while (how == rle_t::greedy && i + run < px.size() && run < 128 && px[i + run] == px[i]) ++run;
        const bool isRun = how == rle_t::singleRuns || run >= 2;
        if (how == rle_t::none) n = px.size() - i;
        if (how == rle_t::longRaw) n = std::min<std::size_t>(128, px.size() - i);
        while (how == rle_t::greedy && !isRun && i + n < px.size() && n < 128 &&
               !(i + n + 1 < px.size() && px[i + n + 1] == px[i + n]))
            ++n;
        if (isRun) n = run;
        if (how != rle_t::none) out.push_back(static_cast<std::uint8_t>((isRun ? 0x80 : 0) | (n - 1)));
        for (std::size_t k = 0; k < (isRun ? 1 : n); ++k)
            out.insert(out.end(), px[i + k].begin(), px[i + k].end());
        i += n;
    }
    return out;
}

// The pixels of a top-left-origin picture in the order the file stores them.
template <class T> std::vector<T> fileOrder(const std::vector<T>& img, int w, int h, std::uint8_t desc) {
    std::vector<T> out;
    for (int fr = 0; fr < h; ++fr)
        for (int fc = 0; fc < w; ++fc)
            out.push_back(
                img[std::size_t((desc & 0x20) ? fr : h - 1 - fr) * w + ((desc & 0x10) ? w - 1 - fc : fc)]);
    return out;
}

// A picture with repeated colours, so that greedy packing finds runs.
std::vector<rgba_t> picture(int w, int h, std::mt19937& rng) {
    std::vector<rgba_t> palette(5), img(std::size_t(w) * h);
    for (rgba_t& c : palette)
        for (auto& v : c) v = static_cast<std::uint8_t>(rng());
    for (auto& p : img) {
        p = palette[rng() % palette.size()];
        if (rng() % 3 == 0)
            for (auto& v : p) v = static_cast<std::uint8_t>(rng());
    }
    return img;
}

class targaReader : public testing::Test {
protected:
    bool load(targaImg_t& img, const bytes_t& b) {
        return img.Load(tmp.write("t.tga", std::string(b.begin(), b.end())).c_str());
    }
    // Loads `t` into `img`: every byte against `expect` (top-left origin)
    // and the look-up's blue.
    void expectPicture(targaImg_t& img, const tgaFile_t& t, const std::vector<rgba_t>& expect,
                       const std::string& what) {
        const int w = t.width, h = t.height;
        ASSERT_TRUE(load(img, t.bytes())) << what << ": " << img.error;
        ASSERT_TRUE(img.image && img.image->resx == w && img.image->resy == h) << what;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const rgba_t& e = expect[std::size_t(y) * w + x];
                const auto* p = (*img.image)(x, y);
                ASSERT_EQ(rgba_t({p[0], p[1], p[2], p[3]}), e) << what << " at " << x << ", " << y;
                ASSERT_EQ(img(x, y).B, static_cast<float>(e[2]) * 0.003921569f) << what;
            }
    }
    support::tempDir_t tmp;
};

} // namespace

TEST_F(targaReader, TrueColourAndGreyscaleInEveryLayout) {
    const struct {
        std::uint8_t type;
        enc_t enc;
        std::uint8_t depth, alphaBits;
    } formats[] = {{2, enc_t::rgb24, 24, 0}, {2, enc_t::rgb32, 32, 8}, {2, enc_t::rgb32, 32, 0},
                   {2, enc_t::rgb16, 16, 0}, {2, enc_t::rgb16, 16, 1}, {2, enc_t::rgb15, 15, 0},
                   {2, enc_t::grey8, 8, 0},  {2, enc_t::grey8, 8, 8},  {3, enc_t::grey8, 8, 0},
                   {3, enc_t::grey8, 8, 8},  {3, enc_t::rgb16, 16, 0}};
    std::mt19937 rng(20240611);
    for (const auto& f : formats)
        for (rle_t how : {rle_t::none, rle_t::greedy, rle_t::singleRaw, rle_t::singleRuns, rle_t::longRaw})
            for (std::uint8_t orient : {0x00, 0x10, 0x20, 0x30})
                for (auto wh : {std::make_pair(7, 5), std::make_pair(1, 1), std::make_pair(130, 3)}) {
                    if (orient != 0x20 && how != rle_t::none && how != rle_t::greedy) continue;
                    const int w = wh.first, h = wh.second;
                    const std::vector<rgba_t> truth = picture(w, h, rng);
                    std::vector<bytes_t> px;
                    std::vector<rgba_t> expect;
                    for (const rgba_t& c : fileOrder(truth, w, h, orient))
                        px.push_back(encode(f.enc, c, rng() & 1));
                    for (const rgba_t& c : truth) expect.push_back(decoded(f.enc, c, f.alphaBits != 0));
                    const tgaFile_t t = file(std::uint8_t(how == rle_t::none ? f.type : f.type + 8), w, h,
                                             pack(px, how), f.depth, std::uint8_t(orient | f.alphaBits));
                    const std::string what = testing::PrintToString(
                        std::vector<int>{t.type, f.depth, f.alphaBits, orient, int(how), w});
                    targaImg_t img;
                    expectPicture(img, t, expect, what);
                    EXPECT_TRUE(img.greyscale == (f.type == 3) && img.hasAlpha == (f.alphaBits != 0) &&
                                img.bytesPerPixel == kBytes[int(f.enc)])
                        << what;
                }
}

TEST_F(targaReader, ColourMappedInEveryLayout) {
    const std::pair<enc_t, std::uint8_t> entries[] = {
        {enc_t::rgb15, 15}, {enc_t::rgb16, 16}, {enc_t::rgb24, 24}, {enc_t::rgb32, 32}};
    std::mt19937 rng(77);
    for (auto entry : entries)
        for (std::uint8_t depth : {8, 16})
            for (rle_t how : {rle_t::none, rle_t::greedy, rle_t::singleRaw, rle_t::singleRuns})
                for (std::uint8_t orient : {0x00, 0x10, 0x20, 0x30}) {
                    const int w = 6, h = 4;
                    const unsigned mapSize = depth == 8 ? 200 : 300;
                    std::vector<rgba_t> map(mapSize);
                    bytes_t mapBytes;
                    for (rgba_t& c : map) {
                        for (auto& v : c) v = static_cast<std::uint8_t>(rng());
                        const bytes_t b = encode(entry.first, c);
                        mapBytes.insert(mapBytes.end(), b.begin(), b.end());
                    }
                    std::vector<unsigned> index(std::size_t(w) * h);
                    std::vector<rgba_t> expect;
                    std::vector<bytes_t> px;
                    for (auto& i : index) i = rng() % 3 == 0 ? 7 : rng() % mapSize;
                    for (unsigned i : index) expect.push_back(decoded(entry.first, map[i], true, true));
                    for (unsigned i : fileOrder(index, w, h, orient))
                        px.push_back(depth == 8 ? bytes_t{std::uint8_t(i)}
                                                : bytes_t{std::uint8_t(i & 255), std::uint8_t(i >> 8)});
                    tgaFile_t t =
                        withMap(file(how == rle_t::none ? 1 : 9, w, h, pack(px, how), depth, orient),
                                entry.second, std::uint16_t(mapSize), mapBytes);
                    t.id = bytes_t{'i', 'd'};
                    const std::string what =
                        testing::PrintToString(std::vector<int>{entry.second, depth, int(how), orient});
                    targaImg_t img;
                    expectPicture(img, t, expect, what);
                    EXPECT_TRUE(img.colorMapped);
                }
    targaImg_t plain; // a map a true-colour file does not use is skipped
    expectPicture(plain, withMap(file(10, 3, 1, {0x82, 1, 2, 3}, 24, 0x20), 16, 2, bytes_t{1, 2, 3, 4}),
                  std::vector<rgba_t>(3, rgba_t{3, 2, 1, 255}), "unused map");
}

TEST_F(targaReader, EveryErrorText) {
    const bytes_t d(8, 1), map9(12, 9);
    const std::pair<const char*, tgaFile_t> cases[] = {
        {"Targa type not supported", file(4, 2, 1, d)},
        {"Colormap image without colormap??", file(9, 2, 1, d)},
        {"Unsupported colormap bitformat", withMap(file(1, 2, 1, d, 8), 8, 1, {})},
        {"24/32 bit colormap index???", withMap(file(1, 2, 1, d), 24, 1, {})},
        {"Unsupported grayscale image format", file(3, 2, 1, d)},
        {"Unsupported alpha format", file(2, 2, 1, d, 24, 8)},
        {"Unsupported alpha format", file(2, 2, 1, d, 32, 1)},
        {"Unsupported alpha format", file(2, 2, 1, d, 16, 8)},
        {"Unsupported pixel depth", file(2, 2, 1, d, 12)},
        {"Image too large", file(2, 32768, 16384, d)}, // exactly 2^31 bytes
        // Indices at or past the map's end, raw, in packets and 16 bits wide.
        {kIndex, withMap(file(1, 2, 1, {0, 3}, 8), 32, 3, map9)},
        {kIndex, withMap(file(9, 2, 1, {0x81, 200}, 8), 32, 3, map9)},
        {kIndex, withMap(file(9, 2, 1, {1, 1, 255}, 8), 32, 3, map9)},
        {kIndex, withMap(file(1, 2, 1, {2, 0, 2, 1}, 16), 32, 3, map9)},
        {kIndex, withMap(file(1, 2, 1, {0, 0, 0, 0}, 16), 32, 0, {})},
        // Packets past the last pixel, the last one ending inside its pixel.
        {kCorrupt, file(10, 2, 1, {0x82, 1, 2, 3})},
        {kCorrupt, file(10, 2, 1, {0x00, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9})},
        {kCorrupt, file(10, 2, 1, {0x81, 1})},
    };
    for (const auto& c : cases) {
        targaImg_t img;
        EXPECT_FALSE(load(img, c.second.bytes())) << c.first;
        EXPECT_TRUE(img.error == c.first && img.file == nullptr && img.image == nullptr) << img.error;
    }
    targaImg_t img; // an empty image loads; look-ups outside a picture are black
    ASSERT_TRUE(load(img, file(2, 0, 0).bytes()) && img.image != nullptr && img(0, 0).isBlack());
    EXPECT_FALSE(img.Load((tmp.path + "/does-not-exist.tga").c_str()));
    EXPECT_EQ(img.error, "Cannot open file");
    EXPECT_FALSE(img.Load(tmp.path.c_str())); // a directory opens but does not read
    EXPECT_EQ(img.error, kCorrupt);
    for (std::uint8_t type : {2, 10}) { // huge headers over little data allocate nothing
        EXPECT_FALSE(load(img, file(type, 16384, 8192, bytes_t(300, 0x80)).bytes()));
        EXPECT_TRUE(img.error == kCorrupt && img.image == nullptr);
    }
}

TEST_F(targaReader, TruncationAtEveryOffsetFails) {
    std::mt19937 rng(5);
    const std::vector<rgba_t> truth = picture(5, 3, rng);
    std::vector<bytes_t> files, index;
    for (int i = 0; i < 15; ++i) index.push_back({static_cast<std::uint8_t>(i % 4)});
    for (rle_t how : {rle_t::none, rle_t::greedy}) {
        const std::uint8_t rle = how == rle_t::none ? 0 : 8;
        for (enc_t e : {enc_t::rgb24, enc_t::rgb16, enc_t::grey8}) {
            std::vector<bytes_t> px;
            for (const rgba_t& c : truth) px.push_back(encode(e, c));
            tgaFile_t t = file(std::uint8_t(2 + rle), 5, 3, pack(px, how), std::uint8_t(8 * kBytes[int(e)]));
            t.id = bytes_t{'x'};
            files.push_back(t.bytes());
        }
        files.push_back(
            withMap(file(std::uint8_t(1 + rle), 5, 3, pack(index, how), 8), 24, 4, bytes_t(12, 40)).bytes());
    }
    // From a pipe the size is unknown: the checked reads alone decide.
    const std::string fifo = tmp.path + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (std::size_t cut : {0, 1, 7}) {
        const std::string b(files[3].begin(), files[3].end() - std::ptrdiff_t(cut));
        std::thread writer([&fifo, b] { std::ofstream(fifo, std::ios::binary) << b; });
        targaImg_t img;
        EXPECT_EQ(img.Load(fifo.c_str()), cut == 0) << cut << ": " << img.error;
        writer.join();
    }
    for (std::size_t f = 0; f < files.size(); ++f) {
        targaImg_t img;
        ASSERT_TRUE(load(img, files[f])) << f << ": " << img.error;
        for (std::size_t n = 0; n < files[f].size(); ++n) {
            EXPECT_FALSE(load(img, bytes_t(files[f].begin(), files[f].begin() + std::ptrdiff_t(n))));
            EXPECT_TRUE(img.error == kCorrupt && img.file == nullptr && img.image == nullptr)
                << f << " cut at " << n;
        }
    }
}
