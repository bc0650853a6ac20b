// The decoders behind readImage that are not a library call away: Radiance
// RGBE and OpenEXR. Each fills `out.width`, `out.height` and `out.rgba`
// (linear light, alpha 1 where the file has none) or gives false with the
// reason. Sizes are checked against maxImagePixels before allocating.
#ifndef VEXLAR_PLUGINS_IMAGECODECS_H
#define VEXLAR_PLUGINS_IMAGECODECS_H

#include <string>

#include "common/imageread.h"

namespace vexlar {
namespace plugins {

/// A Radiance file held in memory.
bool decodeRgbe(const std::string& bytes, texelImage_t& out, std::string& error);

/// True when this build reads OpenEXR files.
bool exrReadable();
bool decodeExr(const std::string& path, texelImage_t& out, std::string& error);

} // namespace plugins
} // namespace vexlar

#endif
