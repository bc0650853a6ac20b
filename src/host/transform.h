// Object placements of a scene description: a matrix built from
// translate/rotate/scale steps or given whole, checked before any library
// code sees it (the library's matrix inverse ends the process on a singular
// matrix).
//
// JSON forms of "transform":
//   [ step, step, ... ]   steps applied in order, each after the previous:
//       {"translate": [x, y, z]}
//       {"rotate": [ax, ay, az]}         degrees about x, then y, then z
//       {"rotate_x": a} / {"rotate_y": a} / {"rotate_z": a}
//       {"scale": s} or {"scale": [sx, sy, sz]}
//       {"matrix": [16 numbers, row by row]}
//   {"matrix": [16 numbers]} or the same with 4 rows of 4 numbers
//   a single step object, e.g. {"translate": [0, 1, 0]}
#ifndef VEXLAR_HOST_TRANSFORM_H
#define VEXLAR_HOST_TRANSFORM_H

#include <string>

#include "host/diagnostics.h"
#include "host/jsonread.h"
#include "vexlarcore/matrix4.h"

namespace vexlar {
namespace host {

/// The object-to-world matrix described by `value` (see above). Errors name
/// the step at fault: an unknown step, a wrong value, a matrix whose last
/// row is not 0 0 0 1, or a singular (or nearly singular) result.
matrix4x4_t buildTransform(const json& value, const jsonPath_t& at, const diagnostics_t& diag);

/// "" when `m` is a usable placement: finite, affine (last row 0 0 0 1) and
/// invertible with a well-conditioned 3 x 3 part; otherwise why not.
std::string checkPlacement(const matrix4x4_t& m);

} // namespace host
} // namespace vexlar

#endif
