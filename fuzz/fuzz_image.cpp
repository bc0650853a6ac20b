// libFuzzer target for the texture picture readers (PNG, JPEG, TGA, HDR,
// EXR): the first byte picks the file name's ending and the read options,
// the rest is the file. A picture that is read must have the size it claims
// and finite-or-not floats in every one of its pixels; a refusal must say
// why.
#include "common/imageread.h"
#include "fuzz_support.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexlar;
    if (size < 1) return 0;
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
