// Writers of the image formats that store linear floating-point values.
// Each takes the picture as the program's colour pipeline left it (linear,
// exposure applied; see outputcolor.h) and writes the whole file, returning
// false with a reason on any failure.
#ifndef VEXLAR_HOST_FLOATWRITE_H
#define VEXLAR_HOST_FLOATWRITE_H

#include <cstdio>
#include <string>

#include "host/floatimage.h"
#include "vexlarcore/buffer.h"

namespace vexlar {
namespace host {

/// Radiance RGBE (.hdr): the "#?RADIANCE" header with FORMAT=32-bit_rle_rgbe,
/// the resolution line "-Y height +X width" (rows from the top), then flat
/// (not run-length encoded) pixels of four bytes, each the library's rgbe_t
/// encoding of the colour. Alpha is not stored.
bool writeRgbe(std::FILE* out, const floatImage_t& image, std::string& error);

/// Portable float map (.pfm): "PF", the width and height, the scale -1
/// (little-endian samples), then RGB as 32-bit floats, rows from the bottom
/// as the format lays them out. Alpha is not stored.
bool writePfm(std::FILE* out, const floatImage_t& image, std::string& error);

/// True when this build writes OpenEXR files.
bool exrAvailable();

/// OpenEXR (.exr), one scan-line part, ZIP compression: channels R, G, B
/// (and A with `alpha`) as half floats, or as 32-bit floats with `fullFloat`,
/// and, when `depth` is not null, Z as 32-bit floats (the distance along
/// the camera ray; 1e30 where nothing was hit). The colour is expected
/// premultiplied by alpha, as OpenEXR files store it.
bool writeExr(const std::string& path, const floatImage_t& image, const fBuffer_t* depth, bool alpha,
              bool fullFloat, std::string& error);

} // namespace host
} // namespace vexlar

#endif
