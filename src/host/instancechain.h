// Instances of instances without work that grows with the chain.
//
// Shooting a ray at an instance carries it through the instance's matrix
// and then shoots the object it refers to; an instance of an instance of
// ... (a chain n long) costs n transforms per ray, and a scene of n such
// instances n^2 / 2. Instances up to maxInstanceNesting levels deep are
// kept exactly as described (each level carries the ray through its own
// matrix). A deeper one refers instead to the object its target refers to,
// under the product of the two matrices, so no instance is ever more than
// maxInstanceNesting levels deep; its picture then differs from the nested
// one only by the rounding of the composed matrix.
#ifndef VEXLAR_HOST_INSTANCECHAIN_H
#define VEXLAR_HOST_INSTANCECHAIN_H

#include "vexlarcore/matrix4.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/reference.h"

namespace vexlar {
namespace host {

/// The deepest chain of instances kept as written.
constexpr int maxInstanceNesting = 32;

/// The number of instances between `obj` and the object it finally shows
/// (0 for an object that is not an instance).
int instanceNesting(const object3d_t* obj);

/// A new instance of `target` placed by `m` (the caller owns it), composed
/// with `target`'s own placement when the chain would grow deeper than
/// maxInstanceNesting. The instance takes `target`'s settings either way.
referenceObject_t* makeInstance(const matrix4x4_t& m, object3d_t* target);

} // namespace host
} // namespace vexlar

#endif
