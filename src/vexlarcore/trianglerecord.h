// The plain copy of a triangle that the tree builder and the vector ray test
// read: its corners and plane normal in 48 contiguous bytes, so that four
// records load as twelve four-float rows.
#ifndef VEXLARCORE_TRIANGLERECORD_H
#define VEXLARCORE_TRIANGLERECORD_H

#include "vexlarcore/triangle.h"

namespace vexlar {

/// The corners of a triangle as three consecutive points.
struct triangleCorners_t {
    float c[3][3]; // c[vertex][axis]
};

/// Corners pa, pb, pc and plane normal N of one triangle, copied out of its
/// mesh. Arrays of records start on 16-byte boundaries (malloc and the
/// library's arrays guarantee it), so every record's rows are aligned.
struct triangleRecord_t {
    triangleCorners_t corners;
    float n[3];

    /// The record of `t` (its current vertex positions and `N`).
    static triangleRecord_t of(const triangle_t& t);
};

static_assert(sizeof(triangleRecord_t) == 48, "records are read as twelve floats");

} // namespace vexlar

#endif
