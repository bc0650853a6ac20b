// Reading pictures for the plug-ins that use them (the image texture, the
// image background), in one place.
//
// Formats, told apart by the file's first bytes (TGA, which has no
// signature, by the name ending in .tga):
//   PNG      8 or 16 bits a channel, grey, grey + alpha, RGB, RGBA, palette (stb_image)
//   JPEG     baseline and progressive, grey or colour (stb_image)
//   TGA      everything the library's TGA reader accepts (targaImg_t)
//   HDR      Radiance RGBE, flat or run-length encoded rows, rows top-down
//            ("-Y h +X w") or bottom-up ("+Y h +X w"); each pixel decoded
//            with the library's rgbe_t; the EXPOSURE header is not applied
//   EXR      OpenEXR scan-line or tiled, any compression, RGB(A) or
//            luminance (Y) channels, the data window (when built with OpenEXR)
// Integer samples (PNG, JPEG, TGA) are encoded values: they become v / max
// and, when asked for, are decoded from the sRGB curve to linear light
// (colour pictures). HDR and EXR samples are linear light already and are
// kept as they are. Alpha is always linear; pictures without it get 1.
//
// Every failure is a message that names the file's problem (not found, a
// format that is not supported, a corrupt file and what the decoder found).
// Not thread-safe (stb_image keeps its failure text in a global); plug-ins
// read their pictures while the scene is loaded.
#ifndef VEXLAR_PLUGINS_IMAGEREAD_H
#define VEXLAR_PLUGINS_IMAGEREAD_H

#include <cstddef>
#include <string>
#include <vector>

namespace vexlar {
namespace plugins {

/// A decoded picture: four floats a pixel (R, G, B, A), rows from the top.
struct texelImage_t {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;
    /// With readOptions_t::keepIntensity: one float a pixel, the mean of the
    /// file's R, G and B before any sRGB decoding (heights, weights).
    std::vector<float> intensity;
    /// "PNG", "JPEG", "TGA", "HDR" or "EXR".
    std::string format;
    /// True for HDR and EXR (linear light, values may exceed 1).
    bool linearFile = false;

    const float* at(int x, int y) const {
        return rgba.data() + 4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                  static_cast<std::size_t>(x));
    }
};

struct readOptions_t {
    /// Decode integer samples from sRGB (colour pictures); off: v / max (data).
    bool srgb = true;
    /// Fill texelImage_t::intensity.
    bool keepIntensity = false;
};

/// Pictures larger than this many pixels are refused (their float copy
/// would take more than 2 GiB).
constexpr std::size_t maxImagePixels = std::size_t(1) << 27;

/// Reads the picture in `path`. False with the reason in `error`.
bool readImage(const std::string& path, const readOptions_t& options, texelImage_t& out, std::string& error);

/// The sRGB decoding curve (IEC 61966-2-1) of an encoded value in [0, 1]:
/// v / 12.92 up to 0.04045, ((v + 0.055) / 1.055)^2.4 above.
float srgbDecode(float v);

/// The formats readImage understands in this build, for messages:
/// "PNG, JPEG, TGA, HDR or EXR".
std::string readableFormats();

} // namespace plugins
} // namespace vexlar

#endif
