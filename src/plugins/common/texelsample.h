// Looking up a picture at a continuous position, shared by the image
// texture and the image background.
//
// Positions: u runs across the picture from its left edge (0) to its right
// edge (1), v down from its top edge (0) to its bottom edge (1). Texel
// (i, j) covers [i, i + 1) / width by [j, j + 1) / height; its value sits at
// its centre. Nearest look-ups take the texel that covers the position;
// bilinear ones blend the four texels whose centres surround it. Positions
// outside [0, 1) fold back by the wrap mode of each axis:
//   repeat  the picture tiles the plane
//   clamp   the edge texels extend outwards
//   mirror  the picture tiles the plane, every other copy mirrored
// A position that is not finite gives zeros. Thread-safe (reads only).
#ifndef VEXLAR_PLUGINS_TEXELSAMPLE_H
#define VEXLAR_PLUGINS_TEXELSAMPLE_H

#include <cstddef>

namespace vexlar {
namespace plugins {

enum class wrap_t { repeat, clamp, mirror };

/// Texel index `i` (any value) folded into [0, size) by `mode`; size >= 1.
long long wrapIndex(long long i, long long size, wrap_t mode);

/// A grid of `channels` floats a texel, rows from the top.
struct texelGrid_t {
    const float* data;
    int channels;
    int width;
    int height;
};

/// The blend of the four texels around (u, v) into `out` (channels floats).
void sampleBilinear(const texelGrid_t& grid, double u, double v, wrap_t wrapU, wrap_t wrapV, float* out);
/// The texel that covers (u, v) into `out`.
void sampleNearest(const texelGrid_t& grid, double u, double v, wrap_t wrapU, wrap_t wrapV, float* out);

} // namespace plugins
} // namespace vexlar

#endif
