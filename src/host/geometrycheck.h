// Checks of the size of the geometry a scene description places, made
// before anything is built from it.
//
// The renderer works in single precision: bounds are differences and halves
// of coordinates, and a box wider than the largest float (about 3.4e38)
// becomes infinite, after which the object's matrices cannot be inverted.
// Every placed coordinate (mesh vertices after their transform, sphere
// extents) must therefore lie within +-coordinateLimit, so that any
// difference of two of them stays finite.
#ifndef VEXLAR_HOST_GEOMETRYCHECK_H
#define VEXLAR_HOST_GEOMETRYCHECK_H

#include <string>
#include <vector>

#include "vexlarcore/matrix4.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {
namespace host {

/// The largest magnitude of a coordinate of placed geometry.
constexpr float coordinateLimit = 1e38f;

/// "" when every vertex, as given and as placed by `placement`, is finite
/// and within +-coordinateLimit; otherwise the reason, naming the first
/// vertex (from 1) that is not.
std::string meshCoordinateFault(const std::vector<point3d_t>& vertices, const matrix4x4_t& placement);

/// "" when the sphere's extent (centre +- radius) lies within
/// +-coordinateLimit; otherwise the reason.
std::string sphereExtentFault(const point3d_t& center, float radius);

} // namespace host
} // namespace vexlar

#endif
