// libFuzzer target for the texture picture readers (PNG, JPEG, TGA, HDR,
// EXR): the first byte picks the file name's ending and the read options,
// the rest is the file. A picture that is read must have the size it claims
// and finite-or-not floats in every one of its pixels; a refusal must say
// why.
#include "common/imageread.h"
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Pictures whose header claims more than this many pixels are left out:
// a few bytes may legitimately claim a huge picture (run-length rows), and
// decoding one takes the time and memory the picture needs, which is the
// texture memory budget's concern, not the decoders'. The claims of TGA,
// PNG and HDR headers are read here; the other formats keep their own limits.
constexpr std::uint64_t largestClaim = std::uint64_t(1) << 22;

std::uint64_t claimedPixels(const std::uint8_t* p, std::size_t n) {
    if (n >= 24 && std::memcmp(p, "\x89PNG", 4) == 0) {
        auto be = [p](int at) {
            return std::uint64_t(p[at]) << 24 | std::uint64_t(p[at + 1]) << 16 |
                   std::uint64_t(p[at + 2]) << 8 | p[at + 3];
        };
        return be(16) * be(20);
    }
    if (n >= 2 && p[0] == '#' && p[1] == '?') {
        const std::string text(reinterpret_cast<const char*>(p), n);
        for (std::size_t at = 0; (at = text.find('Y', at)) != std::string::npos; ++at) {
            unsigned long long h = 0, w = 0;
            // As the reader's: the blanks after "Y" and "X" may be missing.
            if (std::sscanf(text.c_str() + at, "Y %llu %*cX %llu", &h, &w) == 2) return h * w;
        }
        return 0;
    }
    if (n >= 18) return std::uint64_t(p[12] | p[13] << 8) * std::uint64_t(p[14] | p[15] << 8); // TGA
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexlar;
    if (size < 1 || claimedPixels(data + 1, size - 1) > largestClaim) return 0;
    static const char* const endings[] = {".png", ".jpg", ".tga", ".hdr", ".exr", ".img"};
    const std::string path = fuzz::scratchDir() + "/picture" + endings[data[0] % 6];
    plugins::readOptions_t options;
    options.srgb = (data[0] & 0x40) == 0;
    options.keepIntensity = (data[0] & 0x80) != 0;
    if (!fuzz::writeFile(path, data + 1, size - 1)) return 0;
    plugins::texelImage_t image;
    std::string error;
    const bool ok = plugins::readImage(path, options, image, error);
    std::remove(path.c_str());
    if (!ok) {
        if (error.empty()) std::abort();
        return 0;
    }
    const std::size_t pixels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    if (image.width <= 0 || image.height <= 0 || pixels > plugins::maxImagePixels) std::abort();
    if (image.rgba.size() != 4 * pixels) std::abort();
    if (options.keepIntensity && image.intensity.size() != pixels) std::abort();
    if (image.format.empty()) std::abort();
    float sum = 0;
    for (float v : image.rgba) sum += v * 0; // reads every texel (ASan)
    (void)sum;
    return 0;
}
