// Splitting polygons into triangles in linear time.
//
// A fan around the first corner is the plain split, and the one used for
// faces of up to maxFanCorners corners. A fan of many corners is all long
// thin triangles meeting at one point, which every cell of the mesh's tree
// near that point must list: building the tree then takes time that grows
// with the square of the corners. Larger faces are therefore split
// balanced: the triangle of the first, the middle and the last corner, then
// each of the two remaining chains (first to middle, middle to last) the
// same way, so triangles halve with depth.
// Both splits keep the corners' order (the winding) and cover a convex
// face exactly; on a flat face they differ only by rounding on the inner
// edges.
#ifndef VEXLAR_HOST_POLYGON_H
#define VEXLAR_HOST_POLYGON_H

#include <array>
#include <cstddef>
#include <vector>

namespace vexlar {
namespace host {

/// Faces of more corners than this are split balanced, not as a fan.
constexpr std::size_t maxFanCorners = 64;

/// Appends the n - 2 triangles of a face of `n` corners to `out`, as
/// positions 0 .. n-1 in the face's corner list. Nothing for n < 3.
void splitPolygon(std::size_t n, std::vector<std::array<std::size_t, 3>>& out);

} // namespace host
} // namespace vexlar

#endif
